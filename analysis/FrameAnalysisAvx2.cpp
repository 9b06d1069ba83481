// The analysis eight pixels at a time with AVX2 and FMA; the build compiles this file for them on x86-64
// only.
#include "analysis/FrameAnalysisKernels.h"

#include <immintrin.h>

#include <algorithm>

namespace kestrane {

// GCC 12's gather intrinsics start from a deliberately undefined register and warn about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace {

// 8 pixels per group, blocks of 16 rows.
constexpr int kAvx2Lanes = 8;
constexpr int kAvx2BlockRows = 16;

inline __m256i load8(const void* p) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

// 8 values of C or D (pixels or gains) for the columns from `column`, per the group's row shifts; in the
// first group the columns left of 0 repeat column 0.
template <class T>
inline __m256i registered8(const T* const* rows, const LaneGroup& g, __m256i highLanes, int column,
                           bool clampFirst, __m256i firstColumns) {
    __m256i v = load8(rows[g.low] + column);
    if (g.highLanes != 0) {
        v = _mm256_blendv_epi8(v, load8(rows[g.high] + column), highLanes);
    }
    return clampFirst ? _mm256_permutevar8x32_epi32(v, firstColumns) : v;
}

// The red bytes of 8 pixels in the given form, after the flat field when on (see red16 for why it is exact).
template <bool kFlat, Form kForm> inline __m256i red8(__m256i pixels, __m256i gains) {
    if constexpr (kFlat) {
        const __m256 red = _mm256_cvtepi32_ps(_mm256_and_si256(pixels, _mm256_set1_epi32(0xFF0000)));
        const __m256 sum = _mm256_fmadd_ps(red, _mm256_castsi256_ps(gains), _mm256_set1_ps(0x1p39f));
        const __m256i bits = _mm256_castps_si256(_mm256_max_ps(sum, _mm256_set1_ps(0x1p39f)));
        if constexpr (kForm == Form::kHigh) {
            return _mm256_slli_epi32(_mm256_min_epu32(bits, _mm256_set1_epi32(kTwoPow39Bits + 255)), 16);
        } else {
            const std::uint32_t tag = kForm == Form::kTagged ? kTag : 0;
            const __m256i n =
                _mm256_sub_epi32(bits, _mm256_set1_epi32(static_cast<int>(kTwoPow39Bits - tag)));
            return _mm256_min_epu32(n, _mm256_set1_epi32(static_cast<int>(255 + tag)));
        }
    } else if constexpr (kForm == Form::kHigh) {
        return _mm256_and_si256(pixels, _mm256_set1_epi32(0xFF0000));
    } else {
        const __m256i red = _mm256_and_si256(_mm256_srli_epi32(pixels, 16), _mm256_set1_epi32(0xFF));
        return kForm == Form::kTagged ? _mm256_or_si256(red, _mm256_set1_epi32(kTag)) : red;
    }
}

inline __m256i equals8(__m256i tagged, std::uint32_t byte) {
    return _mm256_cmpeq_epi32(tagged, _mm256_set1_epi32(static_cast<int>(kTag | byte)));
}

// Vector index (X << 8) + Y and s, the floor of the mean, of 8 pixels (see combine16).
inline void combine8(__m256i a, __m256i b, __m256i cHigh, __m256i d, __m256i& index, __m256i& sum) {
    const __m256i aGain = _mm256_madd_epi16(a, _mm256_set1_epi32(2519 | 1034 << 16));
    __m256i p = _mm256_or_si256(_mm256_and_si256(_mm256_slli_epi32(aGain, 5), _mm256_set1_epi32(-65536)), b);
    // A comparison gives -1, which shifted left by 16 takes one off the high half.
    p = _mm256_add_epi32(p, _mm256_slli_epi32(equals8(a, 150), 16));
    const __m256i dGain = _mm256_madd_epi16(d, _mm256_set1_epi32(1925 | 1051 << 16));
    __m256i q = _mm256_or_si256(_mm256_srli_epi32(dGain, 11), cHigh);
    q = _mm256_add_epi32(q, _mm256_or_si256(equals8(d, 75), equals8(d, 175)));
    const __m256i difference = _mm256_sub_epi16(p, q);
    const __m256i half =
        _mm256_srai_epi16(_mm256_add_epi16(difference, _mm256_srli_epi16(difference, 15)), 1);
    index = _mm256_madd_epi16(half, _mm256_set1_epi32(1 | 256 << 16));
    sum = _mm256_srli_epi32(_mm256_madd_epi16(_mm256_add_epi16(p, q), _mm256_set1_epi32(1 | 1 << 16)), 2);
}

// The transmission byte T of 8 values of s.
inline __m256i transmission8(__m256i sum) {
    return _mm256_min_epi32(_mm256_max_epi32(sum, _mm256_set1_epi32(1)), _mm256_set1_epi32(kMaxTransmission));
}

// 8 values of 0..255 (larger ones as unsigned give 255) as bytes.
inline void storeBytes8(std::uint8_t* out, __m256i v) {
    v = _mm256_min_epu32(v, _mm256_set1_epi32(255));
    const __m128i words = _mm_packus_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(words, words));
}

// sinDByte of 4 pixels, as doubles whose low 32 bits are the byte: adding 1.5 × 2^52 to a value below 2^51
// rounds it half to even to an integer, which then fills the low bits.
inline __m256i sinD4(__m256i entries, __m128i transmission, const double* sinDScales, __m256d limit) {
    const __m256d scaled =
        _mm256_mul_pd(_mm256_castsi256_pd(entries), _mm256_i32gather_pd(sinDScales, transmission, 8));
    return _mm256_castpd_si256(_mm256_add_pd(_mm256_min_pd(scaled, limit), _mm256_set1_pd(0x1.8p52)));
}

// The low 32 bits of the 4 + 4 64-bit lanes.
inline __m256i lowHalves(__m256i low, __m256i high) {
    const __m256i evenDwords = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
    return _mm256_blend_epi32(_mm256_permutevar8x32_epi32(low, evenDwords),
                              _mm256_permutevar8x32_epi32(high, evenDwords), 0xF0);
}

// The three bytes of 8 pixels from their vector indices and transmissions.
inline void finish8(const std::uint64_t* origin, const double* sinDScales, __m256i index,
                    __m256i transmission, __m256d limit, std::uint8_t* extinction,
                    std::uint8_t* transmissionOut, std::uint8_t* sinD) {
    const auto* base = reinterpret_cast<const long long*>(origin);
    const __m256i low = _mm256_i32gather_epi64(base, _mm256_castsi256_si128(index), 8);
    const __m256i high = _mm256_i32gather_epi64(base, _mm256_extracti128_si256(index, 1), 8);
    storeBytes8(extinction, _mm256_and_si256(lowHalves(low, high), _mm256_set1_epi32(kExtinctionBits)));
    storeBytes8(transmissionOut, transmission);
    storeBytes8(sinD, lowHalves(sinD4(low, _mm256_castsi256_si128(transmission), sinDScales, limit),
                                sinD4(high, _mm256_extracti128_si256(transmission, 1), sinDScales, limit)));
}

// Byte interleaving rows i and i + 8 rotates the 8-bit (row, column) address of each byte of a 16 × 16 block
// left by one, so four rounds transpose it.
void transposeBlock16(const std::uint8_t (*rows)[kMapWidth], std::uint8_t* map, int y0) {
    for (int x0 = 0; x0 < kMapWidth; x0 += 16) {
        __m128i r[16];
#pragma GCC unroll 16
        for (int i = 0; i < 16; ++i) {
            r[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(rows[i] + x0));
        }
        // The loops unroll fully, so that the registers stay registers.
#pragma GCC unroll 4
        for (int round = 0; round < 4; ++round) {
            __m128i next[16];
#pragma GCC unroll 8
            for (int i = 0; i < 8; ++i) {
                next[2 * i] = _mm_unpacklo_epi8(r[i], r[i + 8]);
                next[2 * i + 1] = _mm_unpackhi_epi8(r[i], r[i + 8]);
            }
#pragma GCC unroll 16
            for (int i = 0; i < 16; ++i) {
                r[i] = next[i];
            }
        }
#pragma GCC unroll 16
        for (int j = 0; j < 16; ++j) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(map + (x0 + j) * ResultMap::kRows + y0), r[j]);
        }
    }
}

// The vector indices and values of s of map row y, from the frame rows it reads.
template <bool kFlat>
void combineRow(const SweepInput& in, int y, std::int32_t* indices, std::int32_t* sums) {
    const auto& groups = laneGroups<kAvx2Lanes>();
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i laneBits = _mm256_sllv_epi32(_mm256_set1_epi32(1), lanes);
    const __m256i zero = _mm256_setzero_si256();
    const FrameRows rows = frameRows(in, y);
    const __m256i firstColumns =
        _mm256_max_epi32(_mm256_sub_epi32(lanes, _mm256_set1_epi32(rows.columnShift)), zero);
    for (int x0 = 0; x0 < kMapWidth; x0 += kAvx2Lanes) {
        const LaneGroup& g = groups[static_cast<std::size_t>(x0 / kAvx2Lanes)];
        const int column = std::max(x0 - rows.columnShift, 0);
        const bool clampFirst = x0 < rows.columnShift;
        const __m256i highLanes = _mm256_cmpeq_epi32(
            _mm256_and_si256(_mm256_set1_epi32(static_cast<int>(g.highLanes)), laneBits), laneBits);
        __m256i ga = zero, gb = zero, gc = zero, gd = zero;
        if constexpr (kFlat) {
            ga = load8(rows.gainA + x0);
            gb = load8(rows.gainA + x0 + kMapWidth);
            gc = registered8(rows.gainC, g, highLanes, column, clampFirst, firstColumns);
            gd = registered8(rows.gainC, g, highLanes, column + kMapWidth, clampFirst, firstColumns);
        }
        __m256i index, sum;
        combine8(
            red8<kFlat, Form::kTagged>(load8(rows.a + x0), ga),
            red8<kFlat, Form::kPlain>(load8(rows.a + x0 + kMapWidth), gb),
            red8<kFlat, Form::kHigh>(registered8(rows.c, g, highLanes, column, clampFirst, firstColumns), gc),
            red8<kFlat, Form::kTagged>(
                registered8(rows.c, g, highLanes, column + kMapWidth, clampFirst, firstColumns), gd),
            index, sum);
        _mm256_store_si256(reinterpret_cast<__m256i*>(indices + x0), index);
        _mm256_store_si256(reinterpret_cast<__m256i*>(sums + x0), sum);
    }
}

template <bool kFlat> void sweepFrame(const SweepInput& in) {
    alignas(64) std::uint8_t scratch[3][kAvx2BlockRows][kMapWidth];
    alignas(32) std::int32_t indices[kMapWidth];
    alignas(32) std::int32_t sums[kMapWidth];
    alignas(32) double sinDScales[kMaxTransmission + 1];
    fillSinDScales(sinDScales, in.scale);
    const __m256d limit = _mm256_set1_pd(sinDLimit(in.scale));
    for (int y = 0; y < kMapHeight; ++y) {
        combineRow<kFlat>(in, y, indices, sums);
        const int block = y % kAvx2BlockRows;
        for (int x0 = 0; x0 < kMapWidth; x0 += kAvx2Lanes) {
            finish8(in.origin, sinDScales, load8(indices + x0), transmission8(load8(sums + x0)), limit,
                    scratch[0][block] + x0, scratch[1][block] + x0, scratch[2][block] + x0);
        }
        if (block == kAvx2BlockRows - 1) {
            for (int m = 0; m < 3; ++m) {
                transposeBlock16(scratch[m], in.maps[m], y - block);
            }
        }
    }
}

// arcsin of 8 values of 0..1 to within 2.5e-7 of themselves: an odd polynomial up to 0.5 and, above it, the
// identity arcsin(a) = π/2 − 2 arcsin(√((1 − a) / 2)), which keeps the polynomial's argument small where
// the slope of arcsin grows without bound.
inline __m256 arcsin8(__m256 a) {
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256 upper = _mm256_cmp_ps(a, half, _CMP_GT_OQ);
    const __m256 zUpper = _mm256_mul_ps(half, _mm256_sub_ps(_mm256_set1_ps(1.0f), a));
    const __m256 z = _mm256_blendv_ps(_mm256_mul_ps(a, a), zUpper, upper);
    const __m256 t = _mm256_blendv_ps(a, _mm256_sqrt_ps(zUpper), upper);
    __m256 p = _mm256_set1_ps(4.2163199048e-2f);
    p = _mm256_fmadd_ps(p, z, _mm256_set1_ps(2.4181311049e-2f));
    p = _mm256_fmadd_ps(p, z, _mm256_set1_ps(4.5470025998e-2f));
    p = _mm256_fmadd_ps(p, z, _mm256_set1_ps(7.4953002686e-2f));
    p = _mm256_fmadd_ps(p, z, _mm256_set1_ps(1.6666752422e-1f));
    const __m256 s = _mm256_fmadd_ps(_mm256_mul_ps(p, z), t, t);
    const __m256 folded = _mm256_fnmadd_ps(_mm256_set1_ps(2.0f), s, _mm256_set1_ps(1.57079632679f));
    return _mm256_blendv_ps(s, folded, upper);
}

// |sin δ| of 4 pixels as AnalysisKernel::sinD computes it: the entry's product over T in double, at most 1.
inline __m128 sinDValues4(__m256i entries, __m128i transmission) {
    const __m256d v = _mm256_div_pd(_mm256_castsi256_pd(entries), _mm256_cvtepi32_pd(transmission));
    return _mm256_cvtpd_ps(_mm256_min_pd(v, _mm256_set1_pd(1.0)));
}

template <bool kFlat> void sweepQuantities(const SweepInput& in, const QuantitySweep& q) {
    alignas(32) std::int32_t indices[kMapWidth];
    alignas(32) std::int32_t sums[kMapWidth];
    const auto* base = reinterpret_cast<const long long*>(in.origin);
    const __m256 nmPerRadian = _mm256_set1_ps(q.nmPerRadian);
    for (int y = 0; y < kMapHeight; ++y) {
        combineRow<kFlat>(in, y, indices, sums);
        const std::size_t row = static_cast<std::size_t>(kMapHeight - 1 - y) * kMapWidth;
        for (int x0 = 0; x0 < kMapWidth; x0 += kAvx2Lanes) {
            const __m256i index = load8(indices + x0);
            const __m256i sum = load8(sums + x0);
            const __m256i transmission = transmission8(sum);
            const __m256i low = _mm256_i32gather_epi64(base, _mm256_castsi256_si128(index), 8);
            const __m256i high = _mm256_i32gather_epi64(base, _mm256_extracti128_si256(index, 1), 8);
            const __m256 sinD = _mm256_set_m128(sinDValues4(high, _mm256_extracti128_si256(transmission, 1)),
                                                sinDValues4(low, _mm256_castsi256_si128(transmission)));
            const std::size_t at = row + static_cast<std::size_t>(x0);
            _mm256_storeu_ps(q.sinD + at, sinD);
            _mm256_storeu_ps(q.retardanceNm + at, _mm256_mul_ps(arcsin8(sinD), nmPerRadian));
            _mm256_storeu_ps(q.orientationDeg + at, _mm256_i32gather_ps(q.orientationTable, index, 4));
            _mm256_storeu_ps(q.transmissionPct + at, _mm256_i32gather_ps(q.transmissionTable, sum, 4));
        }
    }
}

} // namespace

int flatFieldAvx2(const std::uint8_t* pixels, const float* gains, std::uint8_t* out, int count) {
    int i = 0;
    for (; i + kAvx2Lanes <= count; i += kAvx2Lanes) {
        storeBytes8(out + i, red8<true, Form::kPlain>(load8(pixels + 4 * i), load8(gains + i)));
    }
    return i;
}

int combinationsAvx2(const std::uint64_t* origin, double scale, const std::int32_t* x, const std::int32_t* y,
                     const std::int32_t* sum, MapPixel* out, int count) {
    alignas(32) double sinDScales[kMaxTransmission + 1];
    fillSinDScales(sinDScales, scale);
    const __m256d limit = _mm256_set1_pd(sinDLimit(scale));
    int i = 0;
    for (; i + kAvx2Lanes <= count; i += kAvx2Lanes) {
        const __m256i index = _mm256_add_epi32(_mm256_slli_epi32(load8(x + i), 8), load8(y + i));
        const __m256i transmission = _mm256_min_epi32(_mm256_max_epi32(load8(sum + i), _mm256_set1_epi32(1)),
                                                      _mm256_set1_epi32(kMaxTransmission));
        std::uint8_t bytes[3][kAvx2Lanes];
        finish8(origin, sinDScales, index, transmission, limit, bytes[0], bytes[1], bytes[2]);
        for (int k = 0; k < kAvx2Lanes; ++k) {
            out[i + k] = MapPixel{bytes[0][k], bytes[1][k], bytes[2][k]};
        }
    }
    return i;
}

void sweepAvx2(const SweepInput& in) {
    in.gains != nullptr ? sweepFrame<true>(in) : sweepFrame<false>(in);
}

void quantitiesAvx2(const SweepInput& in, const QuantitySweep& q) {
    in.gains != nullptr ? sweepQuantities<true>(in, q) : sweepQuantities<false>(in, q);
}

#pragma GCC diagnostic pop

} // namespace kestrane
