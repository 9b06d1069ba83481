// The YUV conversion eight pixels at a time with AVX2; the build compiles this file for AVX2 on x86-64 only.
#include "capture/PackedPairsKernels.h"

#include "capture/YUVConverts.h"

#include <immintrin.h>

#include <cstring>

namespace kestrane {

namespace {

// Every coefficient of the pixel formula is a whole number of 1/256000: 1.1643828125 = 298082/256000,
// 2.01723046875 = 516411/256000, 0.39176171875 = 100291/256000, 0.81296875 = 208120/256000 and
// 1.59602734375 = 408583/256000. So each channel is an exact integer N over 256000 (|N| < 2^28), and its
// byte is N div 256000 clamped, except when N is a whole multiple of 256000: there the extended formula may
// land just below the whole number, and such pixels are left to the exact scalar form.
constexpr int kLuma = 298082;
constexpr int kBlueU = 516411;
constexpr int kGreenU = -100291;
constexpr int kGreenV = -208120;
constexpr int kRedV = 408583;

inline void storePixel(std::uint8_t* out, std::uint32_t pixel) {
    std::memcpy(out, &pixel, 4);
}

// N div 256000 for the lanes that matter (N >= 0; negative lanes give at most 0, which clamps the same):
// floor(N / 2048) is exact, and (M + 0.5) / 125 in single precision stays clear of every whole number.
// `suspect` gains the lanes whose N is a multiple of 2048, a superset of the multiples of 256000.
inline __m256i channel8(__m256i n, __m256i& suspect) {
    suspect = _mm256_or_si256(
        suspect, _mm256_cmpeq_epi32(_mm256_and_si256(n, _mm256_set1_epi32(2047)), _mm256_setzero_si256()));
    const __m256 m = _mm256_cvtepi32_ps(_mm256_srai_epi32(n, 11));
    const __m256 q = _mm256_mul_ps(_mm256_add_ps(m, _mm256_set1_ps(0.5f)), _mm256_set1_ps(1.0f / 125.0f));
    const __m256i whole = _mm256_cvttps_epi32(q);
    return _mm256_min_epi32(_mm256_max_epi32(whole, _mm256_setzero_si256()), _mm256_set1_epi32(255));
}

// Eight pixels from their Y, U and V bytes (one of each per pixel, in 32-bit lanes). `suspect` gains the
// lanes a channel of which may sit exactly on a whole number; those pixels must take the exact form.
inline __m256i pixels8(__m256i yBytes, __m256i uBytes, __m256i vBytes, __m256i& suspect) {
    const __m256i y = _mm256_sub_epi32(yBytes, _mm256_set1_epi32(16));
    const __m256i u = _mm256_sub_epi32(uBytes, _mm256_set1_epi32(128));
    const __m256i v = _mm256_sub_epi32(vBytes, _mm256_set1_epi32(128));
    const __m256i luma = _mm256_mullo_epi32(y, _mm256_set1_epi32(kLuma));
    const __m256i blue =
        channel8(_mm256_add_epi32(luma, _mm256_mullo_epi32(u, _mm256_set1_epi32(kBlueU))), suspect);
    const __m256i green =
        channel8(_mm256_add_epi32(_mm256_add_epi32(luma, _mm256_mullo_epi32(u, _mm256_set1_epi32(kGreenU))),
                                  _mm256_mullo_epi32(v, _mm256_set1_epi32(kGreenV))),
                 suspect);
    const __m256i red =
        channel8(_mm256_add_epi32(luma, _mm256_mullo_epi32(v, _mm256_set1_epi32(kRedV))), suspect);
    return _mm256_or_si256(blue, _mm256_or_si256(_mm256_slli_epi32(green, 8), _mm256_slli_epi32(red, 16)));
}

template <int kY0, int kU, int kY1, int kV>
void convertRows(const std::uint8_t* source, std::uint8_t* output, std::int32_t w, std::int32_t h) {
    // From 16 source bytes (four pairs): the eight Y bytes, and U and V once for each pixel of their pair.
    const __m128i pickY = _mm_setr_epi8(kY0, kY1, kY0 + 4, kY1 + 4, kY0 + 8, kY1 + 8, kY0 + 12, kY1 + 12, -1,
                                        -1, -1, -1, -1, -1, -1, -1);
    const __m128i pickU = _mm_setr_epi8(kU, kU, kU + 4, kU + 4, kU + 8, kU + 8, kU + 12, kU + 12, -1, -1, -1,
                                        -1, -1, -1, -1, -1);
    const __m128i pickV = _mm_setr_epi8(kV, kV, kV + 4, kV + 4, kV + 8, kV + 8, kV + 12, kV + 12, -1, -1, -1,
                                        -1, -1, -1, -1, -1);
    const std::int32_t pairs = w / 2;
    const std::int32_t vectorPairs = pairs - pairs % 4;
    const std::ptrdiff_t stride = std::ptrdiff_t{w} * 2;
    for (std::int32_t line = 0; line < h; ++line) {
        const std::uint8_t* src = source + stride * line;
        std::uint8_t* dst = output + static_cast<std::ptrdiff_t>(h - 1 - line) * w * 4;
        std::int32_t pair = 0;
        for (; pair < vectorPairs; pair += 4, src += 16, dst += 32) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
            __m256i suspect = _mm256_setzero_si256();
            const __m256i pixels = pixels8(_mm256_cvtepu8_epi32(_mm_shuffle_epi8(bytes, pickY)),
                                           _mm256_cvtepu8_epi32(_mm_shuffle_epi8(bytes, pickU)),
                                           _mm256_cvtepu8_epi32(_mm_shuffle_epi8(bytes, pickV)), suspect);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), pixels);
            if (!_mm256_testz_si256(suspect, suspect)) {
                for (int i = 0; i < 4; ++i) {
                    const std::uint8_t* p = src + 4 * i;
                    storePixel(dst + 8 * i, yuvToBgrFast(p[kY0], p[kU], p[kV]));
                    storePixel(dst + 8 * i + 4, yuvToBgrFast(p[kY1], p[kU], p[kV]));
                }
            }
        }
        for (; pair < pairs; ++pair, src += 4, dst += 8) {
            storePixel(dst, yuvToBgrFast(src[kY0], src[kU], src[kV]));
            storePixel(dst + 4, yuvToBgrFast(src[kY1], src[kU], src[kV]));
        }
    }
}

inline __m256i bytes8(const std::uint8_t* p) {
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}

} // namespace

std::int32_t convertPixelsAvx2(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                               std::uint8_t* output, std::int32_t count) {
    std::int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m256i suspect = _mm256_setzero_si256();
        const __m256i pixels = pixels8(bytes8(y + i), bytes8(u + i), bytes8(v + i), suspect);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(output + 4 * i), pixels);
        if (!_mm256_testz_si256(suspect, suspect)) {
            for (std::int32_t k = i; k < i + 8; ++k) {
                storePixel(output + 4 * k, yuvToBgrFast(y[k], u[k], v[k]));
            }
        }
    }
    return i;
}

void convertPackedPairsAvx2(const std::uint8_t* source, std::uint8_t* output, std::int32_t width,
                            std::int32_t height, bool uyvy) {
    if (uyvy) {
        convertRows<1, 0, 3, 2>(source, output, width, height);
    } else {
        convertRows<0, 1, 2, 3>(source, output, width, height);
    }
}

} // namespace kestrane
