// Decoding of stored frames that are no plain DIB: the grey and YUV layouts, and the choice of decoder.
#include "recording/FrameDecoder.h"

#include "capture/YUVConverts.h"
#include "imaging/Bmp.h"
#include "recording/AviFile.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace kestrane {

namespace {

// The live path's layout code of a compression code, with the other names writers give the same bytes.
std::uint8_t rawLayoutOf(std::uint32_t compression) {
    switch (compression) {
    case fourCc('Y', '8', '0', '0'):
    case fourCc('G', 'R', 'E', 'Y'):
        return kFormatY8;
    case fourCc('I', 'Y', 'U', 'V'):
        return kFormatI420;
    default:
        break;
    }
    const std::uint8_t code = FormatCodeOf(compression);
    return code == kFormatRgb ? std::uint8_t{kFormatUnknown} : code;
}

// Grey and the YUV layouts: each chunk one whole frame, top line first.
class RawDecoder final : public FrameDecoder {
  public:
    RawDecoder(const CodedFormat& format, StoredFrames& frames) : format_(format), frames_(frames) {}

    bool decode(std::int64_t n, const FrameView& out) override {
        if (!frames_.read(n, bytes_) || bytes_.size() < format_.frameBytes || out.width != format_.width ||
            out.height != format_.height) {
            return false;
        }
        if (out.stride == std::ptrdiff_t{out.width} * 4) {
            return ConvertFrame(format_.layoutCode, bytes_.data(), out.pixels, out.width, out.height);
        }
        scratch_.resize(std::size_t{4} * static_cast<std::size_t>(out.width) *
                        static_cast<std::size_t>(out.height));
        if (!ConvertFrame(format_.layoutCode, bytes_.data(), scratch_.data(), out.width, out.height)) {
            return false;
        }
        for (int y = 0; y < out.height; ++y) {
            const std::uint8_t* row =
                scratch_.data() + std::size_t{4} * out.width * static_cast<std::size_t>(y);
            std::copy_n(row, std::size_t{4} * out.width, out.pixel(0, y));
        }
        return true;
    }

  private:
    CodedFormat format_;
    StoredFrames& frames_;
    std::vector<std::uint8_t> bytes_;
    std::vector<std::uint8_t> scratch_;
};

} // namespace

CodedFormat codedFormatOf(const std::uint8_t* format, std::size_t formatSize) {
    CodedFormat f;
    if (format == nullptr || formatSize < 40 || readLe32(format) < 40 || readLe32(format) > formatSize) {
        return f;
    }
    const auto width = static_cast<std::int32_t>(readLe32(format + 4));
    const auto height = static_cast<std::int32_t>(readLe32(format + 8));
    f.compression = readLe32(format + 16);
    if (f.compression == kBiRgbCompression || f.compression == kBiBitfieldsCompression || width <= 0 ||
        height == 0 || height == std::numeric_limits<std::int32_t>::min()) {
        return f;
    }
    f.width = width;
    // A YUV or compressed frame is top line first whatever the sign says.
    f.height = height < 0 ? -height : height;
    f.layoutCode = rawLayoutOf(f.compression);
    f.kind = f.layoutCode != kFormatUnknown ? CodedFormat::kRaw : CodedFormat::kCodec;
    if (f.kind == CodedFormat::kRaw &&
        std::uint64_t(f.width) * std::uint64_t(f.height) <= kAviMaxFramePixels) {
        f.frameBytes = yuvFrameBytes(f.layoutCode, f.width, f.height);
    }
    return f;
}

std::string compressionText(std::uint32_t compression) {
    std::string text = "'";
    for (int shift = 0; shift < 32; shift += 8) {
        const auto c = static_cast<char>((compression >> shift) & 0xFF);
        if (c < 0x20 || c > 0x7E) {
            return "0x" + [&] {
                char hex[9];
                std::snprintf(hex, sizeof hex, "%08X", compression);
                return std::string(hex);
            }();
        }
        text += c;
    }
    return text + "'";
}

std::unique_ptr<FrameDecoder> makeFrameDecoder(const CodedFormat& format, const std::uint8_t* formatBytes,
                                               std::size_t formatSize, StoredFrames& frames,
                                               std::string& why) {
    if (format.kind == CodedFormat::kNone) {
        why = "its frames cannot be decoded";
        return nullptr;
    }
    // Every frame becomes a 32-bit picture: its size bounds the memory any file can ask for.
    const std::uint64_t pixels = std::uint64_t(format.width) * std::uint64_t(format.height);
    if (pixels > kAviMaxFramePixels || pixels * 4 > kAviMaxFrameBytes) {
        why = "its frames are too large";
        return nullptr;
    }
    if (format.kind == CodedFormat::kRaw) {
        return std::make_unique<RawDecoder>(format, frames);
    }
    return makeCodecDecoder(format, formatBytes, formatSize, frames, why);
}

} // namespace kestrane
