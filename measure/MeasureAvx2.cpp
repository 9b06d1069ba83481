// Region sums, histogram counts and the orientation map with AVX2; the build compiles this file for AVX2 on
// x86-64 only, without FMA, so that every product is rounded as in the plain loops.
#include "measure/MeasureKernels.h"

#include <immintrin.h>

namespace kestrane {

namespace {

// The lanes below `count` (0..4) of a group of four.
inline __m128i firstLanes(int count) {
    return _mm_cmpgt_epi32(_mm_set1_epi32(count), _mm_setr_epi32(0, 1, 2, 3));
}

struct SumLanes {
    __m256d retardance = _mm256_setzero_pd();
    __m256d squares = _mm256_setzero_pd();
    __m256d sinD = _mm256_setzero_pd();
    __m256d transmission = _mm256_setzero_pd();
    __m256d cos = _mm256_setzero_pd();
    __m256d sin = _mm256_setzero_pd();
    __m256d length = _mm256_setzero_pd();
    int oriented = 0;
    int outside = 0; // whether an orientation lay outside 0 ≤ θ < 180
};

// Four values from `p`, of which only the lanes in `valid` when kTail (the others are 0).
template <bool kTail> inline __m128 load4(const float* p, __m128i valid) {
    return kTail ? _mm_maskload_ps(p, valid) : _mm_loadu_ps(p);
}

// Adds the four pixels at `at`; when kTail only the lanes in `valid` belong to the region (the others are
// loaded as 0 and add +0, which leaves a lane's sum as it is).
template <bool kTail>
inline void addGroup(const RegionPixels& region, const AxisTable& axes, std::size_t at, __m128i valid,
                     SumLanes& s) {
    // Lanes past the region's edge (kTail only) are masked out of every sum.
    const auto within = [valid](__m256d v) {
        return kTail ? _mm256_and_pd(v, _mm256_castsi256_pd(_mm256_cvtepi32_epi64(valid))) : v;
    };
    const __m256d retardance = _mm256_cvtps_pd(load4<kTail>(region.retardanceNm + at, valid));
    const __m256d d = within(_mm256_sub_pd(retardance, _mm256_set1_pd(region.shift)));
    s.retardance = _mm256_add_pd(s.retardance, d);
    s.squares = _mm256_add_pd(s.squares, _mm256_mul_pd(d, d));
    s.sinD = _mm256_add_pd(s.sinD, _mm256_cvtps_pd(load4<kTail>(region.sinD + at, valid)));
    s.transmission =
        _mm256_add_pd(s.transmission, _mm256_cvtps_pd(load4<kTail>(region.transmissionPct + at, valid)));

    const __m128 theta = load4<kTail>(region.orientationDeg + at, valid);
    const __m256d step = _mm256_mul_pd(_mm256_cvtps_pd(theta), _mm256_set1_pd(AxisTable::kStepsPerDegree));
    const __m256d oriented = within(_mm256_cmp_pd(step, step, _CMP_ORD_Q));
    const __m256d inside =
        within(_mm256_and_pd(_mm256_cmp_pd(step, _mm256_setzero_pd(), _CMP_GE_OQ),
                             _mm256_cmp_pd(step, _mm256_set1_pd(AxisTable::kEntries), _CMP_LT_OQ)));
    const int orientedLanes = _mm256_movemask_pd(oriented);
    s.oriented += __builtin_popcount(static_cast<unsigned>(orientedLanes));
    s.outside |= orientedLanes & ~_mm256_movemask_pd(inside);
    // Lanes without a table entry look up entry 0 and add nothing.
    const __m256d safe = _mm256_and_pd(step, inside);
    const __m128i i = _mm256_cvttpd_epi32(safe);
    const __m256d f = _mm256_sub_pd(safe, _mm256_cvtepi32_pd(i));
    // Each lane's two neighbouring entries (cos, sin, next cos, next sin) in one load, turned into four
    // vectors.
    alignas(16) int entry[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(entry), _mm_add_epi32(i, i));
    const __m256d e0 = _mm256_loadu_pd(axes.entries + entry[0]);
    const __m256d e1 = _mm256_loadu_pd(axes.entries + entry[1]);
    const __m256d e2 = _mm256_loadu_pd(axes.entries + entry[2]);
    const __m256d e3 = _mm256_loadu_pd(axes.entries + entry[3]);
    const __m256d cosLow = _mm256_unpacklo_pd(e0, e1);
    const __m256d sinLow = _mm256_unpackhi_pd(e0, e1);
    const __m256d cosHigh = _mm256_unpacklo_pd(e2, e3);
    const __m256d sinHigh = _mm256_unpackhi_pd(e2, e3);
    const __m256d cos0 = _mm256_permute2f128_pd(cosLow, cosHigh, 0x20);
    const __m256d cos1 = _mm256_permute2f128_pd(cosLow, cosHigh, 0x31);
    const __m256d sin0 = _mm256_permute2f128_pd(sinLow, sinHigh, 0x20);
    const __m256d sin1 = _mm256_permute2f128_pd(sinLow, sinHigh, 0x31);
    const __m256d cos = _mm256_add_pd(cos0, _mm256_mul_pd(f, _mm256_sub_pd(cos1, cos0)));
    const __m256d sin = _mm256_add_pd(sin0, _mm256_mul_pd(f, _mm256_sub_pd(sin1, sin0)));
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d a =
        _mm256_mul_pd(_mm256_mul_pd(f, _mm256_sub_pd(one, f)), _mm256_set1_pd(axes.oneLessCosStep));
    const __m256d length =
        _mm256_sub_pd(_mm256_sub_pd(one, a), _mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(0.5), a), a));
    s.cos = _mm256_add_pd(s.cos, _mm256_and_pd(cos, inside));
    s.sin = _mm256_add_pd(s.sin, _mm256_and_pd(sin, inside));
    s.length = _mm256_add_pd(s.length, _mm256_and_pd(length, inside));
}

} // namespace

void addRegionAvx2(const RegionPixels& region, const AxisTable& axes, RegionSums& sums) {
    SumLanes s;
    const __m128i all = _mm_set1_epi32(-1);
    const __m128i tail = firstLanes(region.width % 4);
    for (int r = 0; r < region.height; ++r) {
        const auto row = static_cast<std::size_t>(r) * static_cast<std::size_t>(region.stride);
        int k = 0;
        for (; k + 4 <= region.width; k += 4) {
            addGroup<false>(region, axes, row + static_cast<std::size_t>(k), all, s);
        }
        if (k < region.width) {
            addGroup<true>(region, axes, row + static_cast<std::size_t>(k), tail, s);
        }
    }
    _mm256_storeu_pd(sums.retardance, s.retardance);
    _mm256_storeu_pd(sums.squares, s.squares);
    _mm256_storeu_pd(sums.sinD, s.sinD);
    _mm256_storeu_pd(sums.transmission, s.transmission);
    _mm256_storeu_pd(sums.cos, s.cos);
    _mm256_storeu_pd(sums.sin, s.sin);
    _mm256_storeu_pd(sums.length, s.length);
    sums.oriented += s.oriented;
    // Orientations outside the table's range (never in the maps) in a second pass, keeping the calls out of
    // the loop above.
    for (int r = 0; s.outside != 0 && r < region.height; ++r) {
        const float* theta =
            region.orientationDeg + static_cast<std::size_t>(r) * static_cast<std::size_t>(region.stride);
        for (int k = 0; k < region.width; ++k) {
            const double step = static_cast<double>(theta[k]) * AxisTable::kStepsPerDegree;
            if (step == step && !(step >= 0.0 && step < AxisTable::kEntries)) {
                addOutsideAxis(theta[k], sums);
            }
        }
    }
}

void countBinsAvx2(const float* retardanceNm, int count, double perBin, int bins, int* counts) {
    const __m256d scale = _mm256_set1_pd(perBin);
    const __m256d last = _mm256_set1_pd(static_cast<double>(bins - 1));
    // Histogram k mod 4 of each lane.
    const __m128i offsets = _mm_mullo_epi32(_mm_setr_epi32(0, 1, 2, 3), _mm_set1_epi32(bins));
    for (int k = 0; k < count; k += 4) {
        const int lanes = count - k < 4 ? count - k : 4;
        const __m256d scaled =
            _mm256_mul_pd(_mm256_cvtps_pd(_mm_maskload_ps(retardanceNm + k, firstLanes(lanes))), scale);
        // max takes 0 for NaN, as the plain loop's comparison does.
        const __m256d clamped = _mm256_min_pd(_mm256_max_pd(scaled, _mm256_setzero_pd()), last);
        alignas(16) int at[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(at), _mm_add_epi32(_mm256_cvttpd_epi32(clamped), offsets));
        for (int lane = 0; lane < lanes; ++lane) {
            ++counts[at[lane]];
        }
    }
}

int orientationRowAvx2(const float* orientationDeg, const float* retardanceNm, int count, float perNm,
                       double maxRetardanceNm, const float* hues, std::uint32_t* out) {
    const __m256 zero = _mm256_setzero_ps();
    int outside = 0;
    int c = 0;
    for (; c + 8 <= count; c += 8) {
        const __m256 theta = _mm256_loadu_ps(orientationDeg + c);
        const __m256 inside = _mm256_and_ps(_mm256_cmp_ps(theta, zero, _CMP_GE_OQ),
                                            _mm256_cmp_ps(theta, _mm256_set1_ps(180.0f), _CMP_LT_OQ));
        // The nearest twentieth of a degree; lanes outside look up entry 0 and are replaced below.
        const __m256 step = _mm256_add_ps(_mm256_mul_ps(theta, _mm256_set1_ps(20.0f)), _mm256_set1_ps(0.5f));
        alignas(32) int h[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(h), _mm256_cvttps_epi32(_mm256_and_ps(step, inside)));
        // max before min: a NaN retardance gives 0, as in the plain loop.
        const __m256 scale = _mm256_mul_ps(
            _mm256_min_ps(
                _mm256_max_ps(_mm256_mul_ps(_mm256_loadu_ps(retardanceNm + c), _mm256_set1_ps(perNm)), zero),
                _mm256_set1_ps(1.0f)),
            _mm256_set1_ps(255.0f));
        // Pixels p and p + 4 side by side, each its entry's blue, green, red and 0 times its scale, which
        // the packs below turn into the bytes of pixels 0..7 in order.
        const auto pair = [&](int p) {
            const __m256 e = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(hues + 4 * h[p])),
                                                  _mm_loadu_ps(hues + 4 * h[p + 4]), 1);
            const __m256 s =
                _mm256_permutevar8x32_ps(scale, _mm256_setr_epi32(p, p, p, p, p + 4, p + 4, p + 4, p + 4));
            return _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(e, s), _mm256_set1_ps(0.5f)));
        };
        __m256i colour = _mm256_or_si256(
            _mm256_packus_epi16(_mm256_packus_epi32(pair(0), pair(1)), _mm256_packus_epi32(pair(2), pair(3))),
            _mm256_set1_epi32(static_cast<int>(0xff000000u)));
        // No orientation is black.
        colour = _mm256_blendv_epi8(colour, _mm256_set1_epi32(static_cast<int>(0xff000000u)),
                                    _mm256_castps_si256(_mm256_cmp_ps(theta, theta, _CMP_UNORD_Q)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + c), colour);
        outside |= _mm256_movemask_ps(_mm256_andnot_ps(inside, _mm256_cmp_ps(theta, theta, _CMP_ORD_Q)));
    }
    // Orientations outside the maps' range (never there) take the exact colour, in a second pass that keeps
    // the calls out of the loop above.
    for (int k = 0; outside != 0 && k < c; ++k) {
        const float theta = orientationDeg[k];
        if (theta == theta && !(theta >= 0.0f && theta < 180.0f)) {
            out[k] = liveMapColour(theta, retardanceNm[k], perNm, maxRetardanceNm);
        }
    }
    return c;
}

} // namespace kestrane
