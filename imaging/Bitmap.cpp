// Rasters of the core: an owning bitmap with DIB row layout, and a view that addresses 32-bit pixels
// bottom-up.
#include "imaging/Bitmap.h"

#include "imaging/BitmapKernels.h"
#include "imaging/CpuFeatures.h"

#include <cstring>
#include <stdexcept>

namespace kestrane {

namespace {

// Widens one 24-bit pixel into 32 bits, the fourth byte 0; the source is read before anything is written, so
// the two may overlap.
inline void widenPixel(const std::uint8_t* src, std::uint8_t* dst) {
    const std::uint8_t blue = src[0];
    const std::uint8_t green = src[1];
    const std::uint8_t red = src[2];
    dst[0] = blue;
    dst[1] = green;
    dst[2] = red;
    dst[3] = 0;
}

} // namespace

std::ptrdiff_t Bitmap::rowBytes(int width, int bitsPerPixel) {
    return ((std::ptrdiff_t{width} * bitsPerPixel + 31) / 32) * 4;
}

Bitmap::Bitmap(int width, int height, int bitsPerPixel)
    : width_(width), height_(height), bitsPerPixel_(bitsPerPixel) {
    if (width < 0 || height < 0 || (bitsPerPixel != 24 && bitsPerPixel != 32)) {
        throw std::invalid_argument("unsupported bitmap geometry");
    }
    stride_ = rowBytes(width, bitsPerPixel);
    data_.assign(static_cast<std::size_t>(stride_) * static_cast<std::size_t>(height), 0);
}

void Bitmap::convertTo32() {
    if (bitsPerPixel_ == 32) {
        return;
    }
    // Widened in place, last row and last pixel first, so a camera loop reuses the storage of its previous
    // 32-bit frame instead of allocating and clearing a new one.
    const std::ptrdiff_t stride32 = rowBytes(width_, 32);
    data_.resize(static_cast<std::size_t>(stride32) * static_cast<std::size_t>(height_));
    const std::uint8_t* end = data_.data() + data_.size();
    for (int y = height_ - 1; y >= 0; --y) {
        const std::uint8_t* src = data_.data() + y * stride_;
        std::uint8_t* dst = data_.data() + y * stride32;
        int x = width_;
        // The last pixels one by one while a block's 16-byte read would pass the end of the storage.
        for (; x > 0 && (x < 4 || src + 3 * (x - 4) + 16 > end); --x) {
            widenPixel(src + 3 * (x - 1), dst + 4 * (x - 1));
        }
        if (cpuFeatures().ssse3) {
            widenBlocksBackwards(src, dst, x, end);
        }
        for (; x > 0; --x) {
            widenPixel(src + 3 * (x - 1), dst + 4 * (x - 1));
        }
    }
    stride_ = stride32;
    bitsPerPixel_ = 32;
}

void widenRow(const std::uint8_t* src, int bitsPerPixel, std::uint8_t* dst, int width, std::uint8_t fourth) {
    const std::uint32_t high = std::uint32_t{fourth} << 24;
    if (bitsPerPixel == 32) {
        for (int x = 0; x < width; ++x) {
            std::uint32_t pixel;
            std::memcpy(&pixel, src + 4 * x, 4);
            pixel = (pixel & 0xFFFFFFu) | high;
            std::memcpy(dst + 4 * x, &pixel, 4);
        }
        return;
    }
    int x = cpuFeatures().ssse3 ? widenRowShuffled(src, dst, width, fourth) : 0;
    for (; x < width; ++x) {
        const std::uint32_t pixel =
            src[3 * x] | (std::uint32_t{src[3 * x + 1]} << 8) | (std::uint32_t{src[3 * x + 2]} << 16) | high;
        std::memcpy(dst + 4 * x, &pixel, 4);
    }
}

FrameView Bitmap::view() {
    if (bitsPerPixel_ != 32) {
        throw std::logic_error("a frame view needs a 32-bit bitmap");
    }
    return FrameView{data_.data(), width_, height_, stride_};
}

} // namespace kestrane
