// The GenICam pixel formats Kestrane takes and their conversion into the 24-bit frame the analysis reads, and
// the numbering of a GenICam camera's frames for the grab counters; no camera library is needed here.
#include "capture/GenicamPixels.h"

#include <algorithm>

namespace kestrane {

const GenicamPixelFormat* genicamPixelFormat(std::uint32_t code) {
    const auto found = std::find_if(kGenicamPixelFormats.begin(), kGenicamPixelFormats.end(),
                                    [code](const GenicamPixelFormat& f) { return f.code == code; });
    return found == kGenicamPixelFormats.end() ? nullptr : &*found;
}

bool genicamToDib24(std::uint32_t code, const std::uint8_t* source, std::size_t size, std::int32_t width,
                    std::int32_t height, std::size_t stride, std::uint8_t* dib) {
    const GenicamPixelFormat* format = genicamPixelFormat(code);
    if (format == nullptr || width <= 0 || height <= 0 || source == nullptr) {
        return false;
    }
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    const std::size_t lineBytes = w * format->bitCount / 8;
    if (stride < lineBytes || size < stride * (h - 1) + lineBytes) {
        return false;
    }
    const std::size_t dibLine = (w * 3 + 3) / 4 * 4;
    for (std::size_t y = 0; y < h; ++y) {
        const std::uint8_t* src = source + stride * y;
        std::uint8_t* dst = dib + dibLine * (h - 1 - y);
        if (format->colour) {
            const std::size_t red = format->redFirst ? 0 : 2;
            for (std::size_t x = 0; x < w; ++x, src += 3, dst += 3) {
                dst[0] = src[2 - red];
                dst[1] = src[1];
                dst[2] = src[red];
            }
        } else if (format->bitCount == 8) {
            for (std::size_t x = 0; x < w; ++x, dst += 3) {
                dst[0] = dst[1] = dst[2] = src[x];
            }
        } else {
            // Little-endian 16-bit containers; stray bits above the format's depth saturate at white.
            const unsigned shift = format->shift;
            for (std::size_t x = 0; x < w; ++x, dst += 3) {
                const unsigned value = (src[2 * x] | (unsigned{src[2 * x + 1]} << 8)) >> shift;
                dst[0] = dst[1] = dst[2] = static_cast<std::uint8_t>(std::min(value, 255u));
            }
        }
    }
    return true;
}

std::uint32_t GenicamFrameNumbering::timeMs(std::uint64_t frameId, int periodUs) {
    if (!started_) {
        index_ = 0;
    } else if (frameId > lastId_) {
        index_ += frameId - lastId_;
    } else {
        index_ += 1 + incomplete_;
    }
    started_ = true;
    lastId_ = frameId;
    incomplete_ = 0;
    return static_cast<std::uint32_t>(index_ * static_cast<std::uint64_t>(periodUs > 0 ? periodUs : 0) /
                                      1000);
}

} // namespace kestrane
