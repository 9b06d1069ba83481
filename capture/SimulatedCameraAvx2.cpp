// The simulated camera's controls eight pixels at a time with AVX2; the build compiles this file for AVX2
// on x86-64 only, without FMA, so that every product is rounded as in the plain loop.
#include "capture/SimulatedCameraKernels.h"

#include <immintrin.h>

namespace kestrane {

namespace {

// Four camera bytes as 32-bit lanes.
template <bool kDivide>
inline __m128i cameraBytes4(__m256d values, __m256d columnSquares, double lineSquare, double vignetting,
                            double divisor, const CameraControls& c) {
    if (kDivide) {
        values = _mm256_div_pd(values, _mm256_set1_pd(divisor));
    }
    const __m256d light =
        _mm256_sub_pd(_mm256_set1_pd(1.0),
                      _mm256_div_pd(_mm256_mul_pd(_mm256_set1_pd(vignetting),
                                                  _mm256_add_pd(columnSquares, _mm256_set1_pd(lineSquare))),
                                    _mm256_set1_pd(2.0)));
    const __m256d scaled = _mm256_mul_pd(
        _mm256_mul_pd(_mm256_mul_pd(values, light), _mm256_set1_pd(c.exposure)), _mm256_set1_pd(c.gain));
    const __m256d value = _mm256_add_pd(
        _mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(scaled, _mm256_set1_pd(128.0)), _mm256_set1_pd(c.contrast)),
                      _mm256_set1_pd(128.0)),
        _mm256_set1_pd(c.brightness));
    // Truncated, then one step away from zero where the rest reaches a half; the whole numbers are exact
    // in double, so the steps and the clamp give the plain loop's integers.
    const __m256d whole = _mm256_cvtepi32_pd(_mm256_cvttpd_epi32(value));
    const __m256d rest = _mm256_sub_pd(value, whole);
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d rounded = _mm256_sub_pd(
        _mm256_add_pd(whole, _mm256_and_pd(_mm256_cmp_pd(rest, _mm256_set1_pd(0.5), _CMP_GE_OQ), one)),
        _mm256_and_pd(_mm256_cmp_pd(rest, _mm256_set1_pd(-0.5), _CMP_LE_OQ), one));
    return _mm256_cvttpd_epi32(
        _mm256_min_pd(_mm256_max_pd(rounded, _mm256_setzero_pd()), _mm256_set1_pd(255.0)));
}

} // namespace

namespace {

template <bool kDivide>
int cameraLine(const double* values, const double* columnSquares, double lineSquare, double vignetting,
               double divisor, const CameraControls& controls, std::uint8_t* out, int count) {
    int c = 0;
    for (; c + 8 <= count; c += 8) {
        const __m128i low =
            cameraBytes4<kDivide>(_mm256_loadu_pd(values + c), _mm256_loadu_pd(columnSquares + c), lineSquare,
                                  vignetting, divisor, controls);
        const __m128i high =
            cameraBytes4<kDivide>(_mm256_loadu_pd(values + c + 4), _mm256_loadu_pd(columnSquares + c + 4),
                                  lineSquare, vignetting, divisor, controls);
        const __m128i words = _mm_packus_epi32(low, high);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + c), _mm_packus_epi16(words, words));
    }
    return c;
}

} // namespace

int cameraLineAvx2(const double* values, const double* columnSquares, double lineSquare, double vignetting,
                   double divisor, const CameraControls& controls, std::uint8_t* out, int count) {
    // Dividing by 1 changes nothing, and is left out.
    return divisor == 1.0 ? cameraLine<false>(values, columnSquares, lineSquare, vignetting, divisor,
                                              controls, out, count)
                          : cameraLine<true>(values, columnSquares, lineSquare, vignetting, divisor, controls,
                                             out, count);
}

} // namespace kestrane
