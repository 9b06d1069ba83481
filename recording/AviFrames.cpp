// Frames of an AVI file as 32-bit rasters: the conversion of a packed DIB, and a reader of frame n.
#include "recording/AviFrames.h"

#include "imaging/Bmp.h"

#include <algorithm>
#include <bit>
#include <cstdio>

namespace kestrane {

namespace {

// One colour of a 16- or 32-bit pixel: where its bits are, and how many.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
};

Channel channelOf(std::uint32_t mask) {
    if (mask == 0) {
        return {};
    }
    const int shift = std::countr_zero(mask);
    return {mask, shift, std::countr_one(mask >> shift)};
}

// Widens a colour to 8 bits by repeating its bits, so that full scale stays full scale (31 becomes 255).
std::uint8_t expand(std::uint32_t pixel, const Channel& c) {
    if (c.bits == 0) {
        return 0;
    }
    const std::uint32_t v = (pixel & c.mask) >> c.shift;
    if (c.bits >= 8) {
        return static_cast<std::uint8_t>(v >> (c.bits - 8));
    }
    const std::uint32_t field = v & ((1u << c.bits) - 1u);
    std::uint32_t out = 0;
    int filled = 0;
    while (filled < 8) {
        out = (out << c.bits) | field;
        filled += c.bits;
    }
    return static_cast<std::uint8_t>(out >> (filled - 8));
}

} // namespace

bool convertDibToFrame(const std::uint8_t* packedDib, const FrameView& target, std::uint8_t reserved) {
    DibLayout l;
    if (!readPackedDibLayout(packedDib, l) || target.pixels == nullptr || target.width != l.width ||
        target.height != l.height) {
        return false;
    }
    const std::uint8_t* palette = packedDib + 40;
    const std::uint8_t* bits = packedDib + l.packedHeaderBytes;
    const Channel red = channelOf(l.masks[0]);
    const Channel green = channelOf(l.masks[1]);
    const Channel blue = channelOf(l.masks[2]);
    const bool plainBgr = l.bitCount == 24 || (l.bitCount == 32 && l.masks[0] == 0xFF0000u &&
                                               l.masks[1] == 0x00FF00u && l.masks[2] == 0x0000FFu);
    const int bytesPerPixel = l.bitCount / 8;
    for (int y = 0; y < l.height; ++y) {
        const int stored = l.topDown ? l.height - 1 - y : y;
        const std::uint8_t* src = bits + static_cast<std::size_t>(stored) * l.stride;
        std::uint8_t* dst = target.pixel(0, y);
        if (plainBgr) {
            // The common case, a whole row at a time: decoding a movie frame costs a quarter of doing it by
            // pixel.
            widenRow(src, l.bitCount, dst, l.width, reserved);
            continue;
        }
        for (int x = 0; x < l.width; ++x, src += bytesPerPixel, dst += 4) {
            if (l.bitCount == 8) {
                const std::uint8_t* entry = palette + 4 * std::size_t{*src};
                const bool inTable = *src < l.colours;
                dst[0] = inTable ? entry[0] : 0;
                dst[1] = inTable ? entry[1] : 0;
                dst[2] = inTable ? entry[2] : 0;
            } else {
                const std::uint32_t pixel = l.bitCount == 16 ? readLe16(src) : readLe32(src);
                dst[0] = expand(pixel, blue);
                dst[1] = expand(pixel, green);
                dst[2] = expand(pixel, red);
            }
            dst[3] = reserved;
        }
    }
    return true;
}

AviResult AviFrameReader::open(const std::string& fileName) {
    close();
    return finishOpen(AVIFileOpen(&file_, fileName, kOfRead));
}

AviResult AviFrameReader::open(std::unique_ptr<AviByteSource> source) {
    close();
    return finishOpen(AVIFileOpenReader(&file_, std::move(source)));
}

AviResult AviFrameReader::finishOpen(AviResult opened) {
    if (opened != kAviOk) {
        return opened;
    }
    const AviResult found = AVIFileGetStream(file_, &stream_, kStreamTypeVideo, 0);
    if (found != kAviOk) {
        std::string why = aviFileRefusal(file_);
        close();
        refusal_ = std::move(why);
        return found;
    }
    AVIStreamInfo(stream_, &info_, sizeof info_);
    frameCount_ = AVIStreamLength(stream_);
    skippedChunks_ = aviStreamSkippedChunks(stream_);
    framesPastEnd_ = aviStreamFramesPastEnd(stream_);
    std::string why;
    decoder_ = aviStreamGetFrameOpen(stream_, nullptr, &why);
    if (decoder_ == nullptr || !aviGetFrameLayout(decoder_, layout_)) {
        close();
        refusal_ = why.empty() ? "its frames cannot be decoded" : why;
        return kAviErrNoCompressor;
    }
    return kAviOk;
}

void AviFrameReader::close() {
    if (decoder_ != nullptr) {
        AVIStreamGetFrameClose(decoder_);
    }
    if (stream_ != nullptr) {
        AVIStreamRelease(stream_);
    }
    if (file_ != nullptr) {
        AVIFileRelease(file_);
    }
    decoder_ = nullptr;
    stream_ = nullptr;
    file_ = nullptr;
    info_ = AviStreamInfo();
    layout_ = DibLayout();
    frameCount_ = 0;
    skippedChunks_ = 0;
    framesPastEnd_ = 0;
    refusal_.clear();
}

bool openMovieToAnalyse(AviFrameReader& reader, const std::string& fileName, std::string& why,
                        std::string& note) {
    note.clear();
    if (const AviResult opened = reader.open(fileName); opened != kAviOk) {
        char code[16];
        std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(opened));
        why = "cannot read movie '" + fileName +
              "': " + (reader.refusal().empty() ? aviResultText(opened) : reader.refusal()) + " (AVI error " +
              code + ")";
        return false;
    }
    const std::uint32_t skipped = reader.skippedChunks();
    const std::string chunks =
        std::to_string(skipped) + (skipped == 1 ? " chunk" : " chunks") + " without a whole frame";
    if (reader.frameCount() == 0) {
        why = "movie '" + fileName + "' holds no complete frame" + (skipped > 0 ? " (" + chunks + ")" : "");
        reader.close();
        return false;
    }
    if (skipped > 0) {
        note = "skipped " + chunks + " in '" + fileName + "'";
    }
    if (reader.unfinished()) {
        const std::uint32_t past = reader.framesPastEnd();
        note += (note.empty() ? "'" + fileName + "': " : "; ") +
                "the file was not finished (its recording was interrupted); " + std::to_string(past) +
                (past == 1 ? " frame past its recorded end was" : " frames past its recorded end were") +
                " found by walking it";
    }
    return true;
}

bool AviFrameReader::frame(std::int32_t n, Bitmap& out) {
    // A stream without a whole frame justifies no picture of its declared size, which may be huge.
    if (frameCount_ <= 0) {
        out = Bitmap();
        return false;
    }
    // A movie is read frame after frame into the same bitmap: its memory is reused.
    const int width = std::max(0, layout_.width);
    const int height = std::max(0, layout_.height);
    if (out.width() != width || out.height() != height || out.bitsPerPixel() != 32) {
        out = Bitmap(width, height, 32);
    }
    bool delivered = false;
    if (decoder_ != nullptr && n >= 0 && n < frameCount_) {
        const std::uint8_t* dib = aviStreamGetFrameAt(decoder_, n);
        delivered = dib != nullptr && convertDibToFrame(dib, out.view(), 0);
    }
    if (!delivered) {
        std::fill_n(out.bits(), out.sizeBytes(), std::uint8_t{0});
    }
    return delivered;
}

} // namespace kestrane
