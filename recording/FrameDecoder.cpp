// Decoding of stored frames that are no plain DIB: the grey and YUV layouts, and the choice of decoder.
#include "recording/FrameDecoder.h"

#include "capture/YUVConverts.h"
#include "imaging/Bmp.h"
#include "recording/AviFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
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
        // The converters take whole pairs of pixels. Writers store the last pair of an odd-width YUY2 or UYVY
        // row whole, and the chroma of an odd-width I420 row covers a pixel more than its luma: converted at
        // the even width (the luma rows of I420 lengthened by their last pixel), the row's last pixel is
        // right.
        const bool pairs = format_.layoutCode == kFormatYuy2 || format_.layoutCode == kFormatUyvy;
        const int width = out.width;
        int stored = width;
        if (width % 2 != 0 && pairs &&
            bytes_.size() >= yuvFrameBytes(format_.layoutCode, width + 1, out.height)) {
            stored = width + 1;
        } else if (width % 2 != 0 && format_.layoutCode == kFormatI420) {
            widenLumaRows(width, out.height);
            stored = width + 1;
        }
        if (stored == width && out.stride == std::ptrdiff_t{width} * 4) {
            return ConvertFrame(format_.layoutCode, bytes_.data(), out.pixels, width, out.height);
        }
        const std::size_t row = std::size_t{4} * static_cast<std::size_t>(stored);
        scratch_.resize(row * static_cast<std::size_t>(out.height));
        if (!ConvertFrame(format_.layoutCode, bytes_.data(), scratch_.data(), stored, out.height)) {
            return false;
        }
        for (int y = 0; y < out.height; ++y) {
            std::copy_n(scratch_.data() + row * static_cast<std::size_t>(y), std::size_t{4} * width,
                        out.pixel(0, y));
        }
        return true;
    }

  private:
    // Lengthens each luma row of an I420 frame by a copy of its last pixel; the chroma planes stay.
    void widenLumaRows(int width, int height) {
        const auto w = static_cast<std::size_t>(width);
        const auto h = static_cast<std::size_t>(height);
        widened_.resize(bytes_.size() + h);
        for (std::size_t r = 0; r < h; ++r) {
            std::uint8_t* to = widened_.data() + r * (w + 1);
            std::copy_n(bytes_.data() + r * w, w, to);
            to[w] = to[w - 1];
        }
        std::copy(bytes_.begin() + static_cast<std::ptrdiff_t>(w * h), bytes_.end(),
                  widened_.begin() + static_cast<std::ptrdiff_t>((w + 1) * h));
        bytes_.swap(widened_);
    }

    CodedFormat format_;
    StoredFrames& frames_;
    std::vector<std::uint8_t> bytes_;
    std::vector<std::uint8_t> scratch_;
    std::vector<std::uint8_t> widened_;
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
