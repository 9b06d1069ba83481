// The map pictures sixteen by sixteen pixels with AVX-512 (F, BW, VL and VBMI); the build compiles this file
// for them on x86-64 only.
#include "analysis/MapRenderingKernels.h"

#include <immintrin.h>

#include <algorithm>
#include <array>

namespace kestrane {

// GCC 12's AVX-512 headers start some intrinsics from a deliberately undefined register and warn about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace {

using ByteIndex = std::array<std::uint8_t, 64>;

// Four byte-permute indexes, byte p of index i being byteAt(i, p).
template <typename ByteAt> constexpr std::array<ByteIndex, 4> fourIndexes(ByteAt byteAt) {
    std::array<ByteIndex, 4> index{};
    for (int i = 0; i < 4; ++i) {
        for (int p = 0; p < 64; ++p) {
            index[static_cast<std::size_t>(i)][static_cast<std::size_t>(p)] =
                static_cast<std::uint8_t>(byteAt(i, p));
        }
    }
    return index;
}

// The maps are kept column by column, the pictures row by row, so the maps are read in tiles of 16 × 16
// bytes and turned over in registers. Four tile columns sit in each of four registers, 16 bytes apiece
// (column x in lane x % 4 of register x / 4). Result register r holds tile rows 4r..4r+3, 16 bytes each: its
// byte 16·dy + x is column x, row 4r + dy. Columns 0..7 come from registers 0 and 1, columns 8..15 from 2 and
// 3, with the same index.
constexpr std::array<ByteIndex, 4> kTurnIndex = fourIndexes([](int r, int p) {
    const int dy = p / 16;
    const int x = p % 16;
    return (x % 8) / 4 * 64 + 16 * (x % 4) + 4 * r + dy;
});
constexpr __mmask64 kUpperColumns = 0xFF00FF00FF00FF00ull;

// For tile row dy of a register: every byte of pixel i repeats byte 16·dy + i (the red byte, or the grey).
constexpr std::array<ByteIndex, 4> kSpreadIndex = fourIndexes([](int dy, int p) { return 16 * dy + p / 4; });
// Blue from the first register and green from the second (64 on), for tile row dy.
constexpr std::array<ByteIndex, 4> kBlueGreenIndex =
    fourIndexes([](int dy, int p) { return (p % 4 == 1 ? 64 : 0) + 16 * dy + p / 4; });
constexpr __mmask64 kRedBytes = 0x4444444444444444ull;

inline __m512i loadIndex(const ByteIndex& index) {
    return _mm512_loadu_si512(index.data());
}

inline __m128i load16(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Four neighbouring map columns from `column` on, 16 bytes each.
inline __m512i fourColumns(const std::uint8_t* column) {
    constexpr int kNext = ResultMap::kRows;
    __m512i z = _mm512_castsi128_si512(load16(column));
    z = _mm512_inserti32x4(z, load16(column + kNext), 1);
    z = _mm512_inserti32x4(z, load16(column + 2 * kNext), 2);
    return _mm512_inserti32x4(z, load16(column + 3 * kNext), 3);
}

// The 16 × 16 tile of a map at (x0, y0) as four registers of four rows each (see kTurnIndex).
inline void tileRows(const ResultMap& map, int x0, int y0, const __m512i (&turn)[4], __m512i (&rows)[4]) {
    const std::uint8_t* first = map.data() + x0 * ResultMap::kRows + y0;
    const __m512i z0 = fourColumns(first);
    const __m512i z1 = fourColumns(first + 4 * ResultMap::kRows);
    const __m512i z2 = fourColumns(first + 8 * ResultMap::kRows);
    const __m512i z3 = fourColumns(first + 12 * ResultMap::kRows);
    for (int r = 0; r < 4; ++r) {
        rows[r] = _mm512_mask_blend_epi8(kUpperColumns, _mm512_permutex2var_epi8(z0, turn[r], z1),
                                         _mm512_permutex2var_epi8(z2, turn[r], z3));
    }
}

// A 256-byte table in four registers, looked up byte by byte.
inline __m512i lookUp(const __m512i (&table)[4], __m512i v) {
    const __m512i low = _mm512_permutex2var_epi8(table[0], v, table[1]);
    const __m512i high = _mm512_permutex2var_epi8(table[2], v, table[3]);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
}

inline void loadTable(const std::array<std::uint8_t, 256>& bytes, __m512i (&table)[4]) {
    for (int q = 0; q < 4; ++q) {
        table[q] = _mm512_loadu_si512(bytes.data() + 64 * q);
    }
}

// The same pictures as the plain loop, a 16 × 16 tile at a time.
template <PictureStyle kKind>
void renderTiles(const Tables& tables, const ResultMap& values, const ResultMap& sinD, int firstShown,
                 const FrameView& out) {
    __m512i blue[4];
    __m512i green[4];
    loadTable(tables.palette[kPaletteBlue], blue);
    loadTable(tables.palette[kPaletteGreen], green);
    __m512i turn[4];
    __m512i spread[4];
    __m512i blueGreen[4];
    for (int i = 0; i < 4; ++i) {
        turn[i] = loadIndex(kTurnIndex[i]);
        spread[i] = loadIndex(kSpreadIndex[i]);
        blueGreen[i] = loadIndex(kBlueGreenIndex[i]);
    }
    const __m512i fourth = _mm512_set1_epi32(static_cast<int>(kFourthByte));
    const __m512i shown = _mm512_set1_epi8(static_cast<char>(std::min(firstShown, 255)));
    const bool noneShown = firstShown > 255;

    for (int y0 = 0; y0 < kMapHeight; y0 += 16) {
        for (int x0 = 0; x0 < kMapWidth; x0 += 16) {
            __m512i v[4];
            tileRows(values, x0, y0, turn, v);
            __m512i s[4];
            if constexpr (kKind == PictureStyle::kBlanked) {
                tileRows(sinD, x0, y0, turn, s);
            }
            for (int r = 0; r < 4; ++r) {
                __m512i value = v[r];
                __m512i blueBytes = value;
                __m512i greenBytes = value;
                if constexpr (kKind == PictureStyle::kGrey) {
                    value = _mm512_add_epi8(value, value);
                } else {
                    __mmask64 keep = ~__mmask64{0};
                    if constexpr (kKind == PictureStyle::kBlanked) {
                        keep = noneShown ? 0 : _mm512_cmpge_epu8_mask(s[r], shown);
                    }
                    blueBytes = _mm512_maskz_mov_epi8(keep, lookUp(blue, value));
                    greenBytes = _mm512_maskz_mov_epi8(keep, lookUp(green, value));
                    value = _mm512_maskz_mov_epi8(keep, value);
                }
                for (int dy = 0; dy < 4; ++dy) {
                    __m512i pixels;
                    if constexpr (kKind == PictureStyle::kGrey) {
                        pixels = _mm512_permutexvar_epi8(spread[dy], value);
                    } else {
                        pixels = _mm512_mask_permutexvar_epi8(
                            _mm512_permutex2var_epi8(blueBytes, blueGreen[dy], greenBytes), kRedBytes,
                            spread[dy], value);
                    }
                    std::uint8_t* at = out.pixel(x0, y0 + 4 * r + dy);
                    const __m512i old = _mm512_loadu_si512(at);
                    // Bytes under the fourth-byte mask keep the picture's own, the rest take the colour.
                    _mm512_storeu_si512(at, _mm512_ternarylogic_epi32(fourth, old, pixels, 0xCA));
                }
            }
        }
    }
}

} // namespace

void renderAvx512(PictureStyle style, const Tables& tables, const ResultMap& values, const ResultMap& sinD,
                  int firstShown, const FrameView& out) {
    switch (style) {
    case PictureStyle::kPalette:
        renderTiles<PictureStyle::kPalette>(tables, values, sinD, firstShown, out);
        break;
    case PictureStyle::kBlanked:
        renderTiles<PictureStyle::kBlanked>(tables, values, sinD, firstShown, out);
        break;
    case PictureStyle::kGrey:
        renderTiles<PictureStyle::kGrey>(tables, values, sinD, firstShown, out);
        break;
    }
}

#pragma GCC diagnostic pop

} // namespace kestrane
