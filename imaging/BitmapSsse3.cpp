// The 24-to-32-bit widening of rows with SSSE3's byte shuffle; the build compiles this file for SSSE3.
#include "imaging/BitmapKernels.h"

#include <immintrin.h>

namespace kestrane {

namespace {

// The byte shuffle that spreads four 3-byte pixels into four 4-byte ones, the fourth bytes 0.
inline __m128i spreadToFour() {
    return _mm_setr_epi8(0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11, -128);
}

} // namespace

void widenBlocksBackwards(const std::uint8_t* src, std::uint8_t* dst, int& x, const std::uint8_t* end) {
    const __m128i spread = spreadToFour();
    for (; x >= 4 && src + 3 * (x - 4) + 16 <= end; x -= 4) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * (x - 4)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * (x - 4)), _mm_shuffle_epi8(in, spread));
    }
}

int widenRowShuffled(const std::uint8_t* src, std::uint8_t* dst, int width, std::uint8_t fourth) {
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

} // namespace kestrane
