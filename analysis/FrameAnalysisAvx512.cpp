// The analysis sixteen pixels at a time with AVX-512 (F, BW, DQ, VL and VBMI); the build compiles this file
// for them on x86-64 only.
#include "analysis/FrameAnalysisKernels.h"

#include <immintrin.h>

#include <algorithm>
#include <bit>

namespace kestrane {

namespace detail {
// The values behind splat(). Being variables that other files could change, the compiler reads them from
// memory instead of building them from immediates.
template <std::uint32_t kValue> std::uint32_t splatValue = kValue;
} // namespace detail

// GCC 12's AVX-512 headers start some intrinsics from a deliberately undefined register and warn about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace {

// 16 pixels per group, blocks of 64 rows.
constexpr int kAvx512Lanes = 16;
constexpr int kTallRows = 64;
// The scratch of one map: per 16 map columns, 64 rows of 16 bytes.
using TallBlock = std::uint8_t[kMapWidth / kAvx512Lanes][kTallRows][kAvx512Lanes];

// The byte permutations that transpose 64 rows × 16 columns. The block starts as 16 registers of 4 rows
// each (row-major); each round merges pairs of registers with adjacent row ranges into registers of twice
// the rows and half the columns (column-major), so that after four rounds register c holds column c.
struct TransposeSteps {
    std::array<std::array<std::array<std::uint8_t, 64>, 2>, 4> index{};
    TransposeSteps() {
        for (int round = 1; round <= 4; ++round) {
            const int rowsIn = 4 << (round - 1);
            const int rows = 4 << round;
            const int columns = 16 >> round;
            for (int half = 0; half < 2; ++half) {
                for (int c = 0; c < columns; ++c) {
                    for (int r = 0; r < rows; ++r) {
                        const int column = half * columns + c;
                        const int row = r % rowsIn;
                        const int source = round == 1 ? row * 16 + column : column * rowsIn + row;
                        index[round - 1][half][c * rows + r] =
                            static_cast<std::uint8_t>(source + (r < rowsIn ? 0 : 64));
                    }
                }
            }
        }
    }
};

const TransposeSteps& transposeSteps() {
    static const TransposeSteps steps;
    return steps;
}

// A 32-bit constant in every lane, read from memory so that an instruction can take it as a broadcast
// operand for the price of a load: the channel arithmetic needs more constants than there are registers,
// and given as immediates GCC rebuilds them on the vector ports each time round the loop.
template <std::uint32_t kValue> inline __m512i splat() {
    return _mm512_set1_epi32(static_cast<int>(detail::splatValue<kValue>));
}

template <float kValue> inline __m512 splatFloat() {
    return _mm512_castsi512_ps(splat<std::bit_cast<std::uint32_t>(kValue)>());
}

inline __m512i load16(const void* p) {
    return _mm512_loadu_si512(p);
}

template <class T>
inline __m512i registered16(const T* const* rows, const LaneGroup& g, int column, bool clampFirst,
                            __m512i firstColumns) {
    __m512i v = load16(rows[g.low] + column);
    if (g.highLanes != 0) {
        v = _mm512_mask_loadu_epi32(v, static_cast<__mmask16>(g.highLanes), rows[g.high] + column);
    }
    return clampFirst ? _mm512_permutexvar_epi32(firstColumns, v) : v;
}

// The red bytes (bits 16..23) of 16 pixels in the given form, after the flat field when on. Exact: red ×
// 65536 converts to float exactly, and adding 2^39 in the same fused operation rounds once: for a product
// below 2^39 to a multiple of 65536, which is the product rounded half to even to an integer n, and n is then
// the low bits of the float. A larger product gives a larger float, whose bits clamp to 255 as they should;
// a negative product or NaN is raised to 2^39 itself, which gives 0.
template <bool kFlat, Form kForm> inline __m512i red16(__m512i pixels, __m512i gains) {
    if constexpr (kFlat) {
        const __m512 red = _mm512_cvtepi32_ps(_mm512_and_si512(pixels, splat<0xFF0000>()));
        const __m512 sum = _mm512_fmadd_ps(red, _mm512_castsi512_ps(gains), splatFloat<0x1p39f>());
        // The maximum takes its second operand when the first is NaN.
        const __m512i bits = _mm512_castps_si512(_mm512_max_ps(sum, splatFloat<0x1p39f>()));
        if constexpr (kForm == Form::kHigh) {
            // The exponent bits shift out.
            return _mm512_slli_epi32(_mm512_min_epu32(bits, splat<kTwoPow39Bits + 255>()), 16);
        } else {
            const std::uint32_t tag = kForm == Form::kTagged ? kTag : 0;
            const __m512i n = _mm512_sub_epi32(bits, splat<kTwoPow39Bits - tag>());
            return _mm512_min_epu32(n, splat<255 + tag>());
        }
    } else if constexpr (kForm == Form::kHigh) {
        return _mm512_and_si512(pixels, splat<0xFF0000>());
    } else {
        // (red & 0xFF) | tag
        const std::uint32_t tag = kForm == Form::kTagged ? kTag : 0;
        return _mm512_ternarylogic_epi32(_mm512_srli_epi32(pixels, 16), splat<0xFF>(), splat<tag>(), 0xEA);
    }
}

template <std::uint32_t kByte> inline __mmask16 equals16(__m512i tagged) {
    return _mm512_cmpeq_epi32_mask(tagged, splat<kTag | kByte>());
}

// Vector index (X << 8) + Y and transmission T of 16 pixels from tagged a and d, plain b and c in the high
// half. The gains: one multiply-add of a tagged byte gives 2519 a + 1034, whose bits from 11 up are
// round(1.23 a) with every tie rounded up, and likewise 1925 d + 1051 gives round(0.94 d) (the tests meet
// every byte); the ties that half-to-even rounds down (a = 150; d = 75, 175) are taken one down. Each lane
// then holds a' above b and c above d', so that 16-bit operations give both differences, and both halvings
// toward zero, at once; one multiply-add joins the halves into the index, another adds the four channels.
inline void combine16(__m512i a, __m512i b, __m512i cHigh, __m512i d, __m512i& index, __m512i& transmission) {
    const __m512i aGain = _mm512_madd_epi16(a, splat<2519 | 1034 << 16>());
    // ((aGain << 5) & 0xFFFF0000) | b
    __m512i p = _mm512_ternarylogic_epi32(_mm512_slli_epi32(aGain, 5), splat<0xFFFF0000>(), b, 0xEA);
    p = _mm512_mask_sub_epi32(p, equals16<150>(a), p, splat<1 << 16>());
    const __m512i dGain = _mm512_madd_epi16(d, splat<1925 | 1051 << 16>());
    __m512i q = _mm512_or_si512(_mm512_srli_epi32(dGain, 11), cHigh);
    q = _mm512_mask_sub_epi32(q, _kor_mask16(equals16<75>(d), equals16<175>(d)), q, splat<1>());
    const __m512i difference = _mm512_sub_epi16(p, q);
    const __m512i half =
        _mm512_srai_epi16(_mm512_add_epi16(difference, _mm512_srli_epi16(difference, 15)), 1);
    index = _mm512_madd_epi16(half, splat<1 | 256 << 16>());
    const __m512i sum = _mm512_srli_epi32(_mm512_madd_epi16(_mm512_add_epi16(p, q), splat<1 | 1 << 16>()), 2);
    transmission = _mm512_min_epi32(_mm512_max_epi32(sum, splat<1>()), splat<kMaxTransmission>());
}

// sinDByte of 8 pixels, as doubles whose low byte is the byte (see sinD4).
inline __m512i sinD8(__m512i entries, __m256i transmission, const double* sinDScales, __m512d limit) {
    const __m512d scaled =
        _mm512_mul_pd(_mm512_castsi512_pd(entries), _mm512_i32gather_pd(transmission, sinDScales, 8));
    return _mm512_castpd_si512(_mm512_add_pd(_mm512_min_pd(scaled, limit), _mm512_set1_pd(0x1.8p52)));
}

// The three bytes of 16 pixels from their vector indices and transmissions.
inline void finish16(const std::uint64_t* origin, const double* sinDScales, __m512i index,
                     __m512i transmission, __m512d limit, std::uint8_t* extinction,
                     std::uint8_t* transmissionOut, std::uint8_t* sinD) {
    const __m512i low = _mm512_i32gather_epi64(_mm512_castsi512_si256(index), origin, 8);
    const __m512i high = _mm512_i32gather_epi64(_mm512_extracti64x4_epi64(index, 1), origin, 8);
    // The low bytes of 8 + 8 64-bit lanes, and of 16 32-bit lanes.
    const __m512i qwordBytes = _mm512_setr_epi64(0x3830282018100800, 0x7870686058504840, 0, 0, 0, 0, 0, 0);
    const __m512i dwordBytes = _mm512_setr_epi64(0x1C1814100C080400, 0x3C3834302C282420, 0, 0, 0, 0, 0, 0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(extinction),
                     _mm512_castsi512_si128(_mm512_permutex2var_epi8(low, qwordBytes, high)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(transmissionOut),
                     _mm512_castsi512_si128(_mm512_permutexvar_epi8(dwordBytes, transmission)));
    const __m512i sinDLow = sinD8(low, _mm512_castsi512_si256(transmission), sinDScales, limit);
    const __m512i sinDHigh = sinD8(high, _mm512_extracti64x4_epi64(transmission, 1), sinDScales, limit);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sinD),
                     _mm512_castsi512_si128(_mm512_permutex2var_epi8(sinDLow, qwordBytes, sinDHigh)));
}

// Rows y0 .. y0 + rows - 1 of the map from its scratch block.
void transposeTall(const TallBlock& block, std::uint8_t* map, int y0, int rows) {
    const TransposeSteps& steps = transposeSteps();
    __m512i index[4][2];
    for (int round = 0; round < 4; ++round) {
        for (int half = 0; half < 2; ++half) {
            index[round][half] = load16(steps.index[round][half].data());
        }
    }
    const __mmask64 written = rows == kTallRows ? ~__mmask64{0} : (__mmask64{1} << rows) - 1;
    for (int j = 0; j < kMapWidth / kAvx512Lanes; ++j) {
        __m512i r[16];
#pragma GCC unroll 16
        for (int k = 0; k < 16; ++k) {
            r[k] = _mm512_load_si512(block[j][4 * k]);
        }
        // Registers are numbered row range × column ranges + column range; as in transposeBlock16, the
        // loops unroll fully.
#pragma GCC unroll 4
        for (int round = 0; round < 4; ++round) {
            const int columnRanges = 1 << round;
            __m512i next[16];
#pragma GCC unroll 8
            for (int pair = 0; pair < 8; ++pair) {
                const int rowRange = pair / columnRanges;
                const int columnRange = pair % columnRanges;
                const __m512i upper = r[2 * rowRange * columnRanges + columnRange];
                const __m512i lower = r[(2 * rowRange + 1) * columnRanges + columnRange];
                next[rowRange * 2 * columnRanges + 2 * columnRange] =
                    _mm512_permutex2var_epi8(upper, index[round][0], lower);
                next[rowRange * 2 * columnRanges + 2 * columnRange + 1] =
                    _mm512_permutex2var_epi8(upper, index[round][1], lower);
            }
#pragma GCC unroll 16
            for (int k = 0; k < 16; ++k) {
                r[k] = next[k];
            }
        }
#pragma GCC unroll 16
        for (int c = 0; c < 16; ++c) {
            std::uint8_t* column = map + (j * kAvx512Lanes + c) * ResultMap::kRows + y0;
            if (rows == kTallRows) {
                _mm512_storeu_si512(column, r[c]);
            } else {
                _mm512_mask_storeu_epi8(column, written, r[c]);
            }
        }
    }
}

// The vector index and transmission of the 16 pixels from column x0 of a map row.
template <bool kFlat>
inline void front16(const FrameRows& rows, const LaneGroup& g, int x0, __m512i firstColumns,
                    std::int32_t* index, std::int32_t* transmission) {
    const int column = std::max(x0 - rows.columnShift, 0);
    const bool clampFirst = x0 < rows.columnShift;
    const __m512i zero = _mm512_setzero_si512();
    __m512i ga = zero, gb = zero, gc = zero, gd = zero;
    if constexpr (kFlat) {
        ga = load16(rows.gainA + x0);
        gb = load16(rows.gainA + x0 + kMapWidth);
        gc = registered16(rows.gainC, g, column, clampFirst, firstColumns);
        gd = registered16(rows.gainC, g, column + kMapWidth, clampFirst, firstColumns);
    }
    __m512i i, t;
    combine16(red16<kFlat, Form::kTagged>(load16(rows.a + x0), ga),
              red16<kFlat, Form::kPlain>(load16(rows.a + x0 + kMapWidth), gb),
              red16<kFlat, Form::kHigh>(registered16(rows.c, g, column, clampFirst, firstColumns), gc),
              red16<kFlat, Form::kTagged>(
                  registered16(rows.c, g, column + kMapWidth, clampFirst, firstColumns), gd),
              i, t);
    _mm512_store_si512(index, i);
    _mm512_store_si512(transmission, t);
}

template <bool kFlat> void sweepFrame(const SweepInput& in) {
    alignas(64) TallBlock scratch[3];
    // The vector indices and transmissions of two rows: the look-ups of one row run beside the channel
    // arithmetic of the next, which keeps both the load ports and the vector units busy.
    alignas(64) std::int32_t indices[2][kMapWidth];
    alignas(64) std::int32_t transmissions[2][kMapWidth];
    alignas(64) double sinDScales[kMaxTransmission + 1];
    fillSinDScales(sinDScales, in.scale);
    const auto& groups = laneGroups<kAvx512Lanes>();
    const __m512d limit = _mm512_set1_pd(sinDLimit(in.scale));
    const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    for (int y = 0; y <= kMapHeight; ++y) {
        const bool front = y < kMapHeight;
        const int done = y - 1; // the row whose look-ups run now
        const int row = done % kTallRows;
        FrameRows rows{};
        __m512i firstColumns = lanes;
        if (front) {
            rows = frameRows(in, y);
            firstColumns = _mm512_max_epi32(_mm512_sub_epi32(lanes, _mm512_set1_epi32(rows.columnShift)),
                                            _mm512_setzero_si512());
        }
        for (int j = 0; j < kMapWidth / kAvx512Lanes; ++j) {
            const int x0 = j * kAvx512Lanes;
            if (front) {
                front16<kFlat>(rows, groups[static_cast<std::size_t>(j)], x0, firstColumns,
                               indices[y % 2] + x0, transmissions[y % 2] + x0);
            }
            if (done >= 0) {
                finish16(in.origin, sinDScales, load16(indices[done % 2] + x0),
                         load16(transmissions[done % 2] + x0), limit, scratch[0][j][row], scratch[1][j][row],
                         scratch[2][j][row]);
            }
        }
        if (done >= 0 && (row == kTallRows - 1 || done == kMapHeight - 1)) {
            for (int m = 0; m < 3; ++m) {
                transposeTall(scratch[m], in.maps[m], done - row, row + 1);
            }
        }
    }
}

} // namespace

int flatFieldAvx512(const std::uint8_t* pixels, const float* gains, std::uint8_t* out, int count) {
    int i = 0;
    for (; i + kAvx512Lanes <= count; i += kAvx512Lanes) {
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out + i),
            _mm512_cvtepi32_epi8(red16<true, Form::kPlain>(load16(pixels + 4 * i), load16(gains + i))));
    }
    return i;
}

int combinationsAvx512(const std::uint64_t* origin, double scale, const std::int32_t* x,
                       const std::int32_t* y, const std::int32_t* sum, MapPixel* out, int count) {
    alignas(64) double sinDScales[kMaxTransmission + 1];
    fillSinDScales(sinDScales, scale);
    const __m512d limit = _mm512_set1_pd(sinDLimit(scale));
    int i = 0;
    for (; i + kAvx512Lanes <= count; i += kAvx512Lanes) {
        const __m512i index = _mm512_add_epi32(_mm512_slli_epi32(load16(x + i), 8), load16(y + i));
        const __m512i transmission = _mm512_min_epi32(_mm512_max_epi32(load16(sum + i), _mm512_set1_epi32(1)),
                                                      _mm512_set1_epi32(kMaxTransmission));
        std::uint8_t bytes[3][kAvx512Lanes];
        finish16(origin, sinDScales, index, transmission, limit, bytes[0], bytes[1], bytes[2]);
        for (int k = 0; k < kAvx512Lanes; ++k) {
            out[i + k] = MapPixel{bytes[0][k], bytes[1][k], bytes[2][k]};
        }
    }
    return i;
}

void sweepAvx512(const SweepInput& in) {
    in.gains != nullptr ? sweepFrame<true>(in) : sweepFrame<false>(in);
}

#pragma GCC diagnostic pop

} // namespace kestrane
