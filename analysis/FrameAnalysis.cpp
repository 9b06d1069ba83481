// The four-quadrant analysis: the three result maps of a Frame, with the flat field applied on the way.
#include "analysis/FrameAnalysis.h"

#include <algorithm>
#include <bit>
#include <cmath>

#if defined(__x86_64__)
#include <immintrin.h>
#define KESTRANE_X86_SIMD 1
#define KESTRANE_TARGET_AVX2 __attribute__((target("avx2,fma")))
#define KESTRANE_TARGET_AVX512                                                                               \
    __attribute__((target("avx2,fma,avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi")))
#endif

namespace kestrane {

namespace {

// Round half to even of a double below 2^51 in magnitude: adding 1.5 × 2^52 leaves no fraction bits, so
// the addition itself rounds in the processor's (nearest-even) mode.
inline int roundEven(double v) {
    constexpr double kShift = 6755399441055744.0;
    return static_cast<int>((v + kShift) - kShift);
}

struct Registration {
    std::array<std::uint8_t, kMapWidth> rowShift{};     // round(x / 40)
    std::array<std::uint8_t, kMapHeight> columnShift{}; // round(y / 30)
    Registration() {
        for (int x = 0; x < kMapWidth; ++x) {
            rowShift[x] = static_cast<std::uint8_t>(roundToInt(static_cast<Extended>(x) / 40.0L));
        }
        for (int y = 0; y < kMapHeight; ++y) {
            columnShift[y] = static_cast<std::uint8_t>(roundToInt(static_cast<Extended>(y) / 30.0L));
        }
    }
};

const Registration& registration() {
    static const Registration r;
    return r;
}

// A vector entry is the double length × correction with its low byte replaced by the extinction byte. That
// changes the product by less than 2^-44 of itself, which the whole-domain tests show changes no byte (a
// trial with 24 low bits dropped changed none either).
constexpr std::uint64_t kExtinctionBits = 0xFF;

inline std::uint8_t entryExtinction(std::uint64_t entry) {
    return static_cast<std::uint8_t>(entry & kExtinctionBits);
}

inline double entryProduct(std::uint64_t entry) {
    return std::bit_cast<double>(entry);
}

inline double sinDScale(Extended maxSin) {
    return 255.0 / static_cast<double>(maxSin);
}

// Where |sin δ| × 255 / MaxSin stops: at 255 / MaxSin (|sin δ| limited to 1) or at the largest byte.
inline double sinDLimit(double scale) {
    return std::min(scale, 255.0);
}

// The |sin δ| byte: length × correction × (255 / MaxSin / T), limited by sinDLimit, rounded half to even.
// The formula divides the length by T, multiplies by the correction, limits to 1, multiplies by 255, divides
// by MaxSin and saturates the rounded value at 255; the limits are the same, and the changed order moves the
// last bits only: the whole-domain tests show that no byte changes.
inline std::uint8_t sinDByte(double product, int transmission, double scale) {
    return static_cast<std::uint8_t>(roundEven(std::min(product * (scale / transmission), sinDLimit(scale))));
}

} // namespace

int flatFieldSample(int red, float gain) {
    // red × gain has at most 32 significant bits, so the double product is exact and rounds as the extended
    // one; NaN and negative products give 0 as the clamped extended rounding does.
    const double product = static_cast<double>(red) * static_cast<double>(gain);
    if (!(product > 0.0)) {
        return 0;
    }
    return product >= 255.0 ? 255 : roundEven(product);
}

int registeredRow(int x, int y) {
    return std::min(y + registration().rowShift[x], kMapHeight - 1);
}

int registeredColumn(int x, int y) {
    return std::max(x - registration().columnShift[y], 0);
}

float differenceLength(const Tables& tables, int squaredLength) {
    if (squaredLength < static_cast<int>(tables.root.size())) {
        return tables.root[static_cast<std::size_t>(squaredLength)];
    }
    return static_cast<float>(x87Sqrt(static_cast<Extended>(squaredLength)));
}

AnalysisKernel::AnalysisKernel() : vectors_(kVectors) {
    for (int v = 0; v < 256; ++v) {
        gainA_[v] = static_cast<std::uint16_t>(roundToInt(static_cast<Extended>(v) * kGainA));
        gainD_[v] = static_cast<std::uint16_t>(roundToInt(static_cast<Extended>(v) * kGainD));
    }
    for (InstructionSet widest : {InstructionSet::kAvx512, InstructionSet::kAvx2}) {
        if (useInstructionSet(widest)) {
            break;
        }
    }
}

void AnalysisKernel::prepare(const Tables& tables) {
    if (generation_ == tables.generation) {
        return;
    }
    for (int x = kMinX; x <= kMaxX; ++x) {
        for (int y = kMinY; y <= kMaxY; ++y) {
            const float length = differenceLength(tables, x * x + y * y);
            const Extended r = length == 0.0f ? 0.001L : static_cast<Extended>(length);
            const Extended q = std::clamp(static_cast<Extended>(x) / r, -0.99L, 0.99L);
            const auto k = static_cast<std::size_t>(roundToInt((q + 1.0L) * 100.0L));
            const int sigma = (y > 0) - (y < 0);
            const auto e =
                static_cast<std::size_t>(roundToInt(128.0L - static_cast<Extended>(sigma) * tables.angle[k]));
            // The zero vector counts with length 0.001.
            const double product = (length == 0.0f ? 0.001 : static_cast<double>(length)) *
                                   static_cast<double>(tables.sinDGain[e]);
            vectorOrigin()[x * kRowEntries + y] =
                (std::bit_cast<std::uint64_t>(product) & ~kExtinctionBits) | e;
        }
    }
    generation_ = tables.generation;
}

namespace {

struct Combination {
    int vector; // (X << 8) + Y
    int transmission;
};

inline Combination combine(const std::array<std::uint16_t, 256>& gainA,
                           const std::array<std::uint16_t, 256>& gainD, int a, int b, int c, int d) {
    const int aGain = gainA[static_cast<std::size_t>(a)];
    const int dGain = gainD[static_cast<std::size_t>(d)];
    const int x = (aGain - c) / 2;
    const int y = (b - dGain) / 2;
    const int sum = (b + aGain + dGain + c) / 4;
    return Combination{x * AnalysisKernel::kRowEntries + y, std::clamp(sum, 1, 127)};
}

inline MapPixel mapPixel(std::uint64_t entry, int transmission, double scale) {
    return MapPixel{entryExtinction(entry), static_cast<std::uint8_t>(transmission),
                    sinDByte(entryProduct(entry), transmission, scale)};
}

} // namespace

MapPixel AnalysisKernel::pixel(Extended maxSin, int a, int b, int c, int d) const {
    const Combination k = combine(gainA_, gainD_, a, b, c, d);
    return mapPixel(vectorOrigin()[k.vector], k.transmission, sinDScale(maxSin));
}

MapPixel AnalysisKernel::pixelFromCombination(Extended maxSin, int x, int y, int sum) const {
    return mapPixel(vectorOrigin()[x * kRowEntries + y], std::clamp(sum, 1, 127), sinDScale(maxSin));
}

template <bool kFlat, bool kPacked>
void AnalysisKernel::sweep(const FrameView& frame, const FlatFieldGains* gains, double scale,
                           const ResultMaps& maps) const {
    const Registration& reg = registration();
    // Reads one red sample, with the flat field when on; only frames of another size need the bounds check.
    auto sample = [&](int x, int y) -> int {
        int red;
        if constexpr (kPacked) {
            red = frame.pixel(x, y)[2];
        } else {
            red = redAt(frame, x, y);
        }
        if constexpr (kFlat) {
            if (kPacked || (x < frame.width && y < frame.height)) {
                red = flatFieldSample(red, gains->row(y)[x]);
            }
        }
        return red;
    };
    const std::uint64_t* origin = vectorOrigin();
    std::uint8_t* sinD = maps.sinD->data();
    std::uint8_t* extinction = maps.extinction->data();
    std::uint8_t* transmission = maps.transmission->data();
    for (int y = 0; y < kMapHeight; ++y) {
        const int columnShift = reg.columnShift[static_cast<std::size_t>(y)];
        for (int x = 0; x < kMapWidth; ++x) {
            const int row =
                std::min(y + reg.rowShift[static_cast<std::size_t>(x)], kMapHeight - 1) + kMapHeight;
            const int column = std::max(x - columnShift, 0);
            const Combination k = combine(gainA_, gainD_, sample(x, y), sample(x + kMapWidth, y),
                                          sample(column, row), sample(column + kMapWidth, row));
            const MapPixel p = mapPixel(origin[k.vector], k.transmission, scale);
            const std::size_t at = static_cast<std::size_t>(x * ResultMap::kRows + y);
            extinction[at] = p.extinction;
            transmission[at] = p.transmission;
            sinD[at] = p.sinD;
        }
    }
}

#if KESTRANE_X86_SIMD

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

// The vectorised analysis of a 640 × 480 frame. A map row is worked in groups of 16 (AVX-512) or 8 (AVX2)
// columns, one pixel per 32-bit lane: the samples of A and B are contiguous, and so are those of C and D
// except where the registration's row shift steps inside a group, where the lanes past the step are loaded
// from the next row. The channel arithmetic of a row gives the vector indices and transmissions of its
// pixels; the table look-ups and |sin δ| follow in a second pass over the row (AVX2) or beside the arithmetic
// of the next row (AVX-512), so that many look-ups are in flight at once. The bytes go row by row into a
// scratch block, which is then transposed into the column-major maps.

constexpr int kMaxRowShift = 8;
constexpr int kMaxTransmission = 127;
// Channel a and d samples carry 1 << 16 above their byte, so that one 16-bit multiply-add gives
// gain × byte + offset; channel c is wanted in the high 16 bits.
enum class Form { kPlain, kTagged, kHigh };
constexpr std::uint32_t kTag = 1u << 16;
constexpr std::uint32_t kTwoPow39Bits = 0x53000000; // bits of the float 2^39

struct SweepInput {
    const FrameView& frame;
    const FlatFieldGains* gains;
    const std::uint64_t* origin; // vector entry of (0, 0)
    double scale;                // 255 / MaxSin
    std::uint8_t* maps[3];       // extinction, transmission, sinD
};

// The frame rows one map row reads: A and B from row y, C and D from row y + shift + 240 for each row
// shift, limited to the last row.
struct FrameRows {
    const std::uint32_t* a;
    const std::uint32_t* c[kMaxRowShift + 1];
    const float* gainA;
    const float* gainC[kMaxRowShift + 1];
    int columnShift;
};

FrameRows frameRows(const SweepInput& in, int y) {
    auto row = [&](int r) {
        return reinterpret_cast<const std::uint32_t*>(in.frame.pixels + r * in.frame.stride);
    };
    FrameRows rows{};
    rows.a = row(y);
    rows.gainA = in.gains != nullptr ? in.gains->row(y) : nullptr;
    for (int s = 0; s <= kMaxRowShift; ++s) {
        const int r = std::min(y + s, kMapHeight - 1) + kMapHeight;
        rows.c[s] = row(r);
        rows.gainC[s] = in.gains != nullptr ? in.gains->row(r) : nullptr;
    }
    rows.columnShift = registration().columnShift[static_cast<std::size_t>(y)];
    return rows;
}

// A group of map columns: C and D come from row shift `low`, except for the lanes in `highLanes`, which
// read row shift `high`. The shift steps at most once in a group, its steps being 20 or more columns apart.
struct LaneGroup {
    int low;
    int high;
    std::uint32_t highLanes;
};

template <int kLanes> const std::array<LaneGroup, kMapWidth / kLanes>& laneGroups() {
    static const auto groups = [] {
        const Registration& reg = registration();
        std::array<LaneGroup, kMapWidth / kLanes> g{};
        for (int j = 0; j < kMapWidth / kLanes; ++j) {
            const int x0 = j * kLanes;
            g[j].low = reg.rowShift[x0];
            g[j].high = reg.rowShift[x0 + kLanes - 1];
            for (int lane = 0; lane < kLanes; ++lane) {
                if (reg.rowShift[x0 + lane] != g[j].low) {
                    g[j].highLanes |= 1u << lane;
                }
            }
        }
        return g;
    }();
    return groups;
}

// 255 / MaxSin / T for every transmission T (as sinDByte computes it), so that |sin δ| needs no division.
void fillSinDScales(double* scales, double scale) {
    scales[0] = 0.0;
    for (int t = 1; t <= kMaxTransmission; ++t) {
        scales[t] = scale / t;
    }
}

// ---- AVX2: 8 pixels per group, blocks of 16 rows ----

constexpr int kAvx2Lanes = 8;
constexpr int kAvx2BlockRows = 16;

KESTRANE_TARGET_AVX2 inline __m256i load8(const void* p) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

// 8 values of C or D (pixels or gains) for the columns from `column`, per the group's row shifts; in the
// first group the columns left of 0 repeat column 0.
template <class T>
KESTRANE_TARGET_AVX2 inline __m256i registered8(const T* const* rows, const LaneGroup& g, __m256i highLanes,
                                                int column, bool clampFirst, __m256i firstColumns) {
    __m256i v = load8(rows[g.low] + column);
    if (g.highLanes != 0) {
        v = _mm256_blendv_epi8(v, load8(rows[g.high] + column), highLanes);
    }
    return clampFirst ? _mm256_permutevar8x32_epi32(v, firstColumns) : v;
}

// The red bytes of 8 pixels in the given form, after the flat field when on (see red16 for why it is exact).
template <bool kFlat, Form kForm> KESTRANE_TARGET_AVX2 inline __m256i red8(__m256i pixels, __m256i gains) {
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

KESTRANE_TARGET_AVX2 inline __m256i equals8(__m256i tagged, std::uint32_t byte) {
    return _mm256_cmpeq_epi32(tagged, _mm256_set1_epi32(static_cast<int>(kTag | byte)));
}

// Vector index (X << 8) + Y and transmission T of 8 pixels (see combine16).
KESTRANE_TARGET_AVX2 inline void combine8(__m256i a, __m256i b, __m256i cHigh, __m256i d, __m256i& index,
                                          __m256i& transmission) {
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
    const __m256i sum =
        _mm256_srli_epi32(_mm256_madd_epi16(_mm256_add_epi16(p, q), _mm256_set1_epi32(1 | 1 << 16)), 2);
    transmission =
        _mm256_min_epi32(_mm256_max_epi32(sum, _mm256_set1_epi32(1)), _mm256_set1_epi32(kMaxTransmission));
}

// 8 values of 0..255 (larger ones as unsigned give 255) as bytes.
KESTRANE_TARGET_AVX2 inline void storeBytes8(std::uint8_t* out, __m256i v) {
    v = _mm256_min_epu32(v, _mm256_set1_epi32(255));
    const __m128i words = _mm_packus_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(words, words));
}

// sinDByte of 4 pixels, as doubles whose low 32 bits are the byte: adding 1.5 × 2^52 to a value below 2^51
// rounds it half to even to an integer, which then fills the low bits.
KESTRANE_TARGET_AVX2 inline __m256i sinD4(__m256i entries, __m128i transmission, const double* sinDScales,
                                          __m256d limit) {
    const __m256d scaled =
        _mm256_mul_pd(_mm256_castsi256_pd(entries), _mm256_i32gather_pd(sinDScales, transmission, 8));
    return _mm256_castpd_si256(_mm256_add_pd(_mm256_min_pd(scaled, limit), _mm256_set1_pd(0x1.8p52)));
}

// The low 32 bits of the 4 + 4 64-bit lanes.
KESTRANE_TARGET_AVX2 inline __m256i lowHalves(__m256i low, __m256i high) {
    const __m256i evenDwords = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
    return _mm256_blend_epi32(_mm256_permutevar8x32_epi32(low, evenDwords),
                              _mm256_permutevar8x32_epi32(high, evenDwords), 0xF0);
}

// The three bytes of 8 pixels from their vector indices and transmissions.
KESTRANE_TARGET_AVX2 inline void finish8(const std::uint64_t* origin, const double* sinDScales, __m256i index,
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
KESTRANE_TARGET_AVX2 void transposeBlock16(const std::uint8_t (*rows)[kMapWidth], std::uint8_t* map, int y0) {
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

template <bool kFlat> KESTRANE_TARGET_AVX2 void sweepAvx2(const SweepInput& in) {
    alignas(64) std::uint8_t scratch[3][kAvx2BlockRows][kMapWidth];
    alignas(32) std::int32_t indices[kMapWidth];
    alignas(32) std::int32_t transmissions[kMapWidth];
    alignas(32) double sinDScales[kMaxTransmission + 1];
    fillSinDScales(sinDScales, in.scale);
    const auto& groups = laneGroups<kAvx2Lanes>();
    const __m256d limit = _mm256_set1_pd(sinDLimit(in.scale));
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i laneBits = _mm256_sllv_epi32(_mm256_set1_epi32(1), lanes);
    const __m256i zero = _mm256_setzero_si256();
    for (int y = 0; y < kMapHeight; ++y) {
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
            __m256i index, transmission;
            combine8(red8<kFlat, Form::kTagged>(load8(rows.a + x0), ga),
                     red8<kFlat, Form::kPlain>(load8(rows.a + x0 + kMapWidth), gb),
                     red8<kFlat, Form::kHigh>(
                         registered8(rows.c, g, highLanes, column, clampFirst, firstColumns), gc),
                     red8<kFlat, Form::kTagged>(
                         registered8(rows.c, g, highLanes, column + kMapWidth, clampFirst, firstColumns), gd),
                     index, transmission);
            _mm256_store_si256(reinterpret_cast<__m256i*>(indices + x0), index);
            _mm256_store_si256(reinterpret_cast<__m256i*>(transmissions + x0), transmission);
        }
        const int block = y % kAvx2BlockRows;
        for (int x0 = 0; x0 < kMapWidth; x0 += kAvx2Lanes) {
            finish8(in.origin, sinDScales, load8(indices + x0), load8(transmissions + x0), limit,
                    scratch[0][block] + x0, scratch[1][block] + x0, scratch[2][block] + x0);
        }
        if (block == kAvx2BlockRows - 1) {
            for (int m = 0; m < 3; ++m) {
                transposeBlock16(scratch[m], in.maps[m], y - block);
            }
        }
    }
}

KESTRANE_TARGET_AVX2 int flatFieldAvx2(const std::uint8_t* pixels, const float* gains, std::uint8_t* out,
                                       int count) {
    int i = 0;
    for (; i + kAvx2Lanes <= count; i += kAvx2Lanes) {
        storeBytes8(out + i, red8<true, Form::kPlain>(load8(pixels + 4 * i), load8(gains + i)));
    }
    return i;
}

KESTRANE_TARGET_AVX2 int combinationsAvx2(const std::uint64_t* origin, double scale, const std::int32_t* x,
                                          const std::int32_t* y, const std::int32_t* sum, MapPixel* out,
                                          int count) {
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

// ---- AVX-512: 16 pixels per group, blocks of 64 rows ----

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
template <std::uint32_t kValue> KESTRANE_TARGET_AVX512 inline __m512i splat() {
    return _mm512_set1_epi32(static_cast<int>(detail::splatValue<kValue>));
}

template <float kValue> KESTRANE_TARGET_AVX512 inline __m512 splatFloat() {
    return _mm512_castsi512_ps(splat<std::bit_cast<std::uint32_t>(kValue)>());
}

KESTRANE_TARGET_AVX512 inline __m512i load16(const void* p) {
    return _mm512_loadu_si512(p);
}

template <class T>
KESTRANE_TARGET_AVX512 inline __m512i registered16(const T* const* rows, const LaneGroup& g, int column,
                                                   bool clampFirst, __m512i firstColumns) {
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
template <bool kFlat, Form kForm> KESTRANE_TARGET_AVX512 inline __m512i red16(__m512i pixels, __m512i gains) {
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

template <std::uint32_t kByte> KESTRANE_TARGET_AVX512 inline __mmask16 equals16(__m512i tagged) {
    return _mm512_cmpeq_epi32_mask(tagged, splat<kTag | kByte>());
}

// Vector index (X << 8) + Y and transmission T of 16 pixels from tagged a and d, plain b and c in the high
// half. The gains: one multiply-add of a tagged byte gives 2519 a + 1034, whose bits from 11 up are
// round(1.23 a) with every tie rounded up, and likewise 1925 d + 1051 gives round(0.94 d) (the tests meet
// every byte); the ties that half-to-even rounds down (a = 150; d = 75, 175) are taken one down. Each lane
// then holds a' above b and c above d', so that 16-bit operations give both differences, and both halvings
// toward zero, at once; one multiply-add joins the halves into the index, another adds the four channels.
KESTRANE_TARGET_AVX512 inline void combine16(__m512i a, __m512i b, __m512i cHigh, __m512i d, __m512i& index,
                                             __m512i& transmission) {
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
KESTRANE_TARGET_AVX512 inline __m512i sinD8(__m512i entries, __m256i transmission, const double* sinDScales,
                                            __m512d limit) {
    const __m512d scaled =
        _mm512_mul_pd(_mm512_castsi512_pd(entries), _mm512_i32gather_pd(transmission, sinDScales, 8));
    return _mm512_castpd_si512(_mm512_add_pd(_mm512_min_pd(scaled, limit), _mm512_set1_pd(0x1.8p52)));
}

// The three bytes of 16 pixels from their vector indices and transmissions.
KESTRANE_TARGET_AVX512 inline void finish16(const std::uint64_t* origin, const double* sinDScales,
                                            __m512i index, __m512i transmission, __m512d limit,
                                            std::uint8_t* extinction, std::uint8_t* transmissionOut,
                                            std::uint8_t* sinD) {
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
KESTRANE_TARGET_AVX512 void transposeTall(const TallBlock& block, std::uint8_t* map, int y0, int rows) {
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
KESTRANE_TARGET_AVX512 inline void front16(const FrameRows& rows, const LaneGroup& g, int x0,
                                           __m512i firstColumns, std::int32_t* index,
                                           std::int32_t* transmission) {
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

template <bool kFlat> KESTRANE_TARGET_AVX512 void sweepAvx512(const SweepInput& in) {
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

KESTRANE_TARGET_AVX512 int flatFieldAvx512(const std::uint8_t* pixels, const float* gains, std::uint8_t* out,
                                           int count) {
    int i = 0;
    for (; i + kAvx512Lanes <= count; i += kAvx512Lanes) {
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out + i),
            _mm512_cvtepi32_epi8(red16<true, Form::kPlain>(load16(pixels + 4 * i), load16(gains + i))));
    }
    return i;
}

KESTRANE_TARGET_AVX512 int combinationsAvx512(const std::uint64_t* origin, double scale,
                                              const std::int32_t* x, const std::int32_t* y,
                                              const std::int32_t* sum, MapPixel* out, int count) {
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

} // namespace

#pragma GCC diagnostic pop

#endif

bool AnalysisKernel::supports(InstructionSet set) {
#if KESTRANE_X86_SIMD
    __builtin_cpu_init();
    switch (set) {
    case InstructionSet::kScalar:
        return true;
    case InstructionSet::kAvx2:
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case InstructionSet::kAvx512:
        return supports(InstructionSet::kAvx2) && __builtin_cpu_supports("avx512f") &&
               __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq") &&
               __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
    }
#endif
    return set == InstructionSet::kScalar;
}

bool AnalysisKernel::useInstructionSet(InstructionSet set) {
    if (!supports(set)) {
        return false;
    }
    set_ = set;
    return true;
}

void AnalysisKernel::pixelsFromCombinations(Extended maxSin, const std::int32_t* x, const std::int32_t* y,
                                            const std::int32_t* sum, MapPixel* out, int count) const {
    int done = 0;
#if KESTRANE_X86_SIMD
    if (set_ == InstructionSet::kAvx512) {
        done = combinationsAvx512(vectorOrigin(), sinDScale(maxSin), x, y, sum, out, count);
    } else if (set_ == InstructionSet::kAvx2) {
        done = combinationsAvx2(vectorOrigin(), sinDScale(maxSin), x, y, sum, out, count);
    }
#endif
    for (int i = done; i < count; ++i) {
        out[i] = pixelFromCombination(maxSin, x[i], y[i], sum[i]);
    }
}

void AnalysisKernel::flatFieldSamples(const std::uint8_t* pixels, const float* gains, std::uint8_t* out,
                                      int count) const {
    int done = 0;
#if KESTRANE_X86_SIMD
    if (set_ == InstructionSet::kAvx512) {
        done = flatFieldAvx512(pixels, gains, out, count);
    } else if (set_ == InstructionSet::kAvx2) {
        done = flatFieldAvx2(pixels, gains, out, count);
    }
#endif
    for (int i = done; i < count; ++i) {
        out[i] = static_cast<std::uint8_t>(flatFieldSample(pixels[4 * i + 2], gains[i]));
    }
}

void AnalysisKernel::computeMaps(const FrameView& frame, const FlatFieldGains* gains, Extended maxSin,
                                 const ResultMaps& maps) const {
    const double scale = sinDScale(maxSin);
    const bool fullFrame = frame.width == kFrameWidth && frame.height == kFrameHeight;
#if KESTRANE_X86_SIMD
    if (fullFrame && set_ != InstructionSet::kScalar) {
        const SweepInput in{frame,
                            gains,
                            vectorOrigin(),
                            scale,
                            {maps.extinction->data(), maps.transmission->data(), maps.sinD->data()}};
        if (set_ == InstructionSet::kAvx512) {
            gains != nullptr ? sweepAvx512<true>(in) : sweepAvx512<false>(in);
        } else {
            gains != nullptr ? sweepAvx2<true>(in) : sweepAvx2<false>(in);
        }
        return;
    }
#endif
    if (gains != nullptr) {
        fullFrame ? sweep<true, true>(frame, gains, scale, maps)
                  : sweep<true, false>(frame, gains, scale, maps);
    } else {
        fullFrame ? sweep<false, true>(frame, gains, scale, maps)
                  : sweep<false, false>(frame, gains, scale, maps);
    }
}

AnalysisKernel& analysisKernel() {
    static AnalysisKernel kernel;
    return kernel;
}

MapPixel analysePixel(const Tables& tables, Extended maxSin, int a, int b, int c, int d) {
    AnalysisKernel& kernel = analysisKernel();
    kernel.prepare(tables);
    return kernel.pixel(maxSin, a, b, c, d);
}

void computeMaps(const FrameView& frame, const Tables& tables, Extended maxSin, const ResultMaps& maps) {
    AnalysisKernel& kernel = analysisKernel();
    kernel.prepare(tables);
    kernel.computeMaps(frame, nullptr, maxSin, maps);
}

void analyseFrame(const FrameView& frame, MeasurementState& state) {
    AnalysisKernel& kernel = analysisKernel();
    kernel.prepare(state.tables);
    kernel.computeMaps(frame, state.FlatFieldOn == 1 ? &state.FlatFieldGain : nullptr, state.MaxSin,
                       ResultMaps{&state.SinDMap, &state.ExtinctionMap, &state.TransmissionMap});
}

} // namespace kestrane
