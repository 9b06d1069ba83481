// Rasters of the core: an owning bitmap with DIB row layout, and a view that addresses 32-bit pixels
// bottom-up.
#include "imaging/Bitmap.h"

#include <cstring>
#include <stdexcept>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kestrane {

namespace {

// Widens the pixels of a 24-bit row to 32 bits four at a time while a 16-byte read stays inside the row;
// returns how many pixels it did.
#if defined(__x86_64__)
__attribute__((target("ssse3"))) int widenRowShuffled(const std::uint8_t* src, std::uint8_t* dst, int width) {
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11, -128);
    int x = 0;
    for (; x + 6 <= width; x += 4) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * x), _mm_shuffle_epi8(in, spread));
    }
    return x;
}

bool hasShuffle() {
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return supported;
}
#else
int widenRowShuffled(const std::uint8_t*, std::uint8_t*, int) {
    return 0;
}

bool hasShuffle() {
    return false;
}
#endif

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
    Bitmap converted(width_, height_, 32);
    for (int y = 0; y < height_; ++y) {
        const std::uint8_t* src = row(y);
        std::uint8_t* dst = converted.row(y);
        int x = hasShuffle() ? widenRowShuffled(src, dst, width_) : 0;
        // Four pixels from three words at a time; the rest pixel by pixel.
        for (; x + 4 <= width_; x += 4) {
            std::uint32_t in[3];
            std::memcpy(in, src + 3 * x, 12);
            const std::uint32_t out[4] = {in[0] & 0xFFFFFFu, ((in[0] >> 24) | (in[1] << 8)) & 0xFFFFFFu,
                                          ((in[1] >> 16) | (in[2] << 16)) & 0xFFFFFFu, in[2] >> 8};
            std::memcpy(dst + 4 * x, out, 16);
        }
        for (; x < width_; ++x) {
            dst[4 * x + 0] = src[3 * x + 0];
            dst[4 * x + 1] = src[3 * x + 1];
            dst[4 * x + 2] = src[3 * x + 2];
            dst[4 * x + 3] = 0;
        }
    }
    *this = std::move(converted);
}

FrameView Bitmap::view() {
    if (bitsPerPixel_ != 32) {
        throw std::logic_error("a frame view needs a 32-bit bitmap");
    }
    return FrameView{data_.data(), width_, height_, stride_};
}

} // namespace kestrane
