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

#if defined(__x86_64__)
// The byte shuffle that spreads four 3-byte pixels into four 4-byte ones, the fourth bytes 0.
__attribute__((target("ssse3"))) inline __m128i spreadToFour() {
    return _mm_setr_epi8(0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11, -128);
}

// Widens the pixels below `x` of a 24-bit row from the last backwards, four at a time, where the row's 32-bit
// place starts no earlier than its 24-bit one: each block is read before it is written, and its four new
// pixels end below the next block's unread bytes. A block's 16-byte read may take bytes of pixels already
// widened, which it does not use; it never passes `end`.
__attribute__((target("ssse3"))) void widenBlocksBackwards(const std::uint8_t* src, std::uint8_t* dst, int& x,
                                                           const std::uint8_t* end) {
    const __m128i spread = spreadToFour();
    for (; x >= 4 && src + 3 * (x - 4) + 16 <= end; x -= 4) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * (x - 4)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * (x - 4)), _mm_shuffle_epi8(in, spread));
    }
}

// Widens the pixels of a 24-bit row into another row four at a time while a 16-byte read stays inside the
// row, giving each the fourth byte `fourth`; returns how many pixels it did.
__attribute__((target("ssse3"))) int widenRowShuffled(const std::uint8_t* src, std::uint8_t* dst, int width,
                                                      std::uint8_t fourth) {
    const __m128i spread = spreadToFour();
    const __m128i fourthBytes = _mm_set1_epi32(static_cast<int>(std::uint32_t{fourth} << 24));
    int x = 0;
    for (; x + 6 <= width; x += 4) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * x),
                         _mm_or_si128(_mm_shuffle_epi8(in, spread), fourthBytes));
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
void widenBlocksBackwards(const std::uint8_t*, std::uint8_t*, int&, const std::uint8_t*) {}

int widenRowShuffled(const std::uint8_t*, std::uint8_t*, int, std::uint8_t) {
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
        if (hasShuffle()) {
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
    int x = hasShuffle() ? widenRowShuffled(src, dst, width, fourth) : 0;
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
