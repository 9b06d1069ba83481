// The three result maps as colour pictures, and the azimuth overlay drawn over them (no Qt: the headless tool
// writes the same pictures).
#include "analysis/MapRendering.h"

#include "analysis/FrameAnalysis.h"
#include "analysis/Tables.h"
#include "imaging/Numeric.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <numbers>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kestrane {

namespace {

constexpr int kGridStep = 20;
constexpr int kGridRows = 11;
constexpr int kGridColumns = 15;
constexpr int kSegmentLength = 20;

// The byte of a 32-bit pixel that rendering leaves as the picture has it.
constexpr std::uint32_t kFourthByte = 0xFF000000u;

void setPixel(std::uint8_t* p, Rgb colour) {
    p[0] = colour.blue;
    p[1] = colour.green;
    p[2] = colour.red;
}

// A colour as the first three bytes of a 32-bit pixel: blue, green, red.
constexpr std::uint32_t packed(Rgb colour) {
    return colour.blue | (std::uint32_t{colour.green} << 8) | (std::uint32_t{colour.red} << 16);
}

// Fills 320 × 240 pixels of a view, map row y landing on view row y so that the picture shows the map
// upright. Each pixel's fourth byte is the picture's own and stays.
bool holdsMap(const FrameView& out) {
    return out.width >= kMapWidth && out.height >= kMapHeight;
}

template <typename ColourOf> void renderMap(const FrameView& out, ColourOf colourOf) {
    for (int y = 0; y < kMapHeight; ++y) {
        std::uint8_t* row = out.pixel(0, y);
        for (int x = 0; x < kMapWidth; ++x) {
            std::uint32_t pixel;
            std::memcpy(&pixel, row + 4 * x, 4);
            pixel = (pixel & kFourthByte) | colourOf(x, y);
            std::memcpy(row + 4 * x, &pixel, 4);
        }
    }
}

InstructionSet& renderingSet() {
    static InstructionSet set =
        AnalysisKernel::supports(InstructionSet::kAvx512) ? InstructionSet::kAvx512 : InstructionSet::kScalar;
    return set;
}

enum class MapKind { kPalette, kBlanked, kGrey };

#if defined(__x86_64__)
// GCC 12's AVX-512 headers start some intrinsics from a deliberately undefined register and warn about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#define KESTRANE_RENDER_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi")))

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

KESTRANE_RENDER_AVX512 inline __m512i loadIndex(const ByteIndex& index) {
    return _mm512_loadu_si512(index.data());
}

KESTRANE_RENDER_AVX512 inline __m128i load16(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Four neighbouring map columns from `column` on, 16 bytes each.
KESTRANE_RENDER_AVX512 inline __m512i fourColumns(const std::uint8_t* column) {
    constexpr int kNext = ResultMap::kRows;
    __m512i z = _mm512_castsi128_si512(load16(column));
    z = _mm512_inserti32x4(z, load16(column + kNext), 1);
    z = _mm512_inserti32x4(z, load16(column + 2 * kNext), 2);
    return _mm512_inserti32x4(z, load16(column + 3 * kNext), 3);
}

// The 16 × 16 tile of a map at (x0, y0) as four registers of four rows each (see kTurnIndex).
KESTRANE_RENDER_AVX512 inline void tileRows(const ResultMap& map, int x0, int y0, const __m512i (&turn)[4],
                                            __m512i (&rows)[4]) {
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
KESTRANE_RENDER_AVX512 inline __m512i lookUp(const __m512i (&table)[4], __m512i v) {
    const __m512i low = _mm512_permutex2var_epi8(table[0], v, table[1]);
    const __m512i high = _mm512_permutex2var_epi8(table[2], v, table[3]);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
}

KESTRANE_RENDER_AVX512 inline void loadTable(const std::array<std::uint8_t, 256>& bytes,
                                             __m512i (&table)[4]) {
    for (int q = 0; q < 4; ++q) {
        table[q] = _mm512_loadu_si512(bytes.data() + 64 * q);
    }
}

// The same pictures as the plain loop, a 16 × 16 tile at a time.
template <MapKind kKind>
KESTRANE_RENDER_AVX512 void renderAvx512(const Tables& tables, const ResultMap& values, const ResultMap& sinD,
                                         int firstShown, const FrameView& out) {
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
            if constexpr (kKind == MapKind::kBlanked) {
                tileRows(sinD, x0, y0, turn, s);
            }
            for (int r = 0; r < 4; ++r) {
                __m512i value = v[r];
                __m512i blueBytes = value;
                __m512i greenBytes = value;
                if constexpr (kKind == MapKind::kGrey) {
                    value = _mm512_add_epi8(value, value);
                } else {
                    __mmask64 keep = ~__mmask64{0};
                    if constexpr (kKind == MapKind::kBlanked) {
                        keep = noneShown ? 0 : _mm512_cmpge_epu8_mask(s[r], shown);
                    }
                    blueBytes = _mm512_maskz_mov_epi8(keep, lookUp(blue, value));
                    greenBytes = _mm512_maskz_mov_epi8(keep, lookUp(green, value));
                    value = _mm512_maskz_mov_epi8(keep, value);
                }
                for (int dy = 0; dy < 4; ++dy) {
                    __m512i pixels;
                    if constexpr (kKind == MapKind::kGrey) {
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

bool renderFast(MapKind kind, const Tables& tables, const ResultMap& values, const ResultMap& sinD,
                int firstShown, const FrameView& out) {
    if (renderingSet() != InstructionSet::kAvx512) {
        return false;
    }
    switch (kind) {
    case MapKind::kPalette:
        renderAvx512<MapKind::kPalette>(tables, values, sinD, firstShown, out);
        break;
    case MapKind::kBlanked:
        renderAvx512<MapKind::kBlanked>(tables, values, sinD, firstShown, out);
        break;
    case MapKind::kGrey:
        renderAvx512<MapKind::kGrey>(tables, values, sinD, firstShown, out);
        break;
    }
    return true;
}
#pragma GCC diagnostic pop
#else
bool renderFast(MapKind, const Tables&, const ResultMap&, const ResultMap&, int, const FrameView&) {
    return false;
}
#endif

FrameView mapPicture(Bitmap& out) {
    if (out.width() != kMapWidth || out.height() != kMapHeight || out.bitsPerPixel() != 32) {
        out = Bitmap(kMapWidth, kMapHeight, 32);
    }
    return out.view();
}

Rgb paletteColour(const Tables& tables, std::uint8_t v) {
    return Rgb{v, tables.palette[kPaletteGreen][v], tables.palette[kPaletteBlue][v]};
}

// The palette's colour of every byte, packed, worked out once per picture.
std::array<std::uint32_t, 256> packedPalette(const Tables& tables) {
    std::array<std::uint32_t, 256> colours{};
    for (int v = 0; v < 256; ++v) {
        colours[static_cast<std::size_t>(v)] = packed(paletteColour(tables, static_cast<std::uint8_t>(v)));
    }
    return colours;
}

// The end of a segment depends only on its grid position and the extinction byte under its start; the ends
// for all 256 bytes are worked out once with the same extended arithmetic, trigonometry and rounding.
struct SegmentReach {
    std::array<std::array<std::int16_t, kGridColumns + 1>, 256> endX{};
    std::array<std::array<std::int16_t, kGridRows + 1>, 256> endY{};
    SegmentReach() {
        for (int v = 0; v < 256; ++v) {
            const Extended theta = static_cast<Extended>(v) * std::numbers::pi_v<Extended> / 255.0L;
            const auto at = static_cast<std::size_t>(v);
            for (int j = 1; j <= kGridColumns; ++j) {
                endX[at][static_cast<std::size_t>(j)] =
                    static_cast<std::int16_t>(roundToInt(kGridStep * j + kSegmentLength * x87Cos(theta)));
            }
            for (int i = 1; i <= kGridRows; ++i) {
                endY[at][static_cast<std::size_t>(i)] =
                    static_cast<std::int16_t>(roundToInt(kGridStep * i - kSegmentLength * x87Sin(theta)));
            }
        }
    }
};

const SegmentReach& segmentReach() {
    static const SegmentReach reach;
    return reach;
}

} // namespace

void renderSinD(const MeasurementState& state, Bitmap& out) {
    renderSinD(state, mapPicture(out));
}

void renderExtinction(const MeasurementState& state, Bitmap& out) {
    renderExtinction(state, mapPicture(out));
}

void renderTransmission(const MeasurementState& state, Bitmap& out) {
    renderTransmission(state, mapPicture(out));
}

bool useRenderingInstructionSet(InstructionSet set) {
    if (!AnalysisKernel::supports(set)) {
        return false;
    }
    renderingSet() = set;
    return true;
}

void renderSinD(const MeasurementState& state, const FrameView& out) {
    if (!holdsMap(out) || renderFast(MapKind::kPalette, state.tables, state.SinDMap, state.SinDMap, 0, out)) {
        return;
    }
    const std::array<std::uint32_t, 256> colours = packedPalette(state.tables);
    renderMap(out, [&](int x, int y) { return colours[state.SinDMap.at(x, y)]; });
}

void renderExtinction(const MeasurementState& state, const FrameView& out) {
    // The limit is divided by the display scale because the |sin δ| byte was scaled by it. The smallest byte
    // above it is found once, so the per-pixel test is an exact integer comparison.
    const Extended limit = static_cast<Extended>(state.SinDLimit) / state.MaxSin;
    int firstShown = 0;
    while (firstShown < 256 && !(static_cast<Extended>(firstShown) > limit)) {
        ++firstShown;
    }
    if (!holdsMap(out) ||
        renderFast(MapKind::kBlanked, state.tables, state.ExtinctionMap, state.SinDMap, firstShown, out)) {
        return;
    }
    const std::array<std::uint32_t, 256> colours = packedPalette(state.tables);
    renderMap(out, [&](int x, int y) {
        return state.SinDMap.at(x, y) >= firstShown ? colours[state.ExtinctionMap.at(x, y)] : 0u;
    });
}

void renderTransmission(const MeasurementState& state, const FrameView& out) {
    if (!holdsMap(out) ||
        renderFast(MapKind::kGrey, state.tables, state.TransmissionMap, state.TransmissionMap, 0, out)) {
        return;
    }
    renderMap(out, [&](int x, int y) {
        const auto grey = static_cast<std::uint8_t>(2 * state.TransmissionMap.at(x, y));
        return packed(Rgb{grey, grey, grey});
    });
}

Segment azimuthSegment(const ResultMap& extinction, int i, int j) {
    const int x = kGridStep * j;
    const int y = kGridStep * i;
    // The map pixel under the segment's start: picture row y shows map row 239 − y.
    const std::uint8_t v = extinction.at(x, kMapHeight - 1 - y);
    const SegmentReach& reach = segmentReach();
    const int endX = reach.endX[v][static_cast<std::size_t>(j)];
    const int endY = reach.endY[v][static_cast<std::size_t>(i)];
    return Segment{x, y, endX, endY};
}

std::vector<Segment> azimuthSegments(const ResultMap& extinction) {
    std::vector<Segment> segments;
    segments.reserve(kGridRows * kGridColumns);
    for (int i = 1; i <= kGridRows; ++i) {
        for (int j = 1; j <= kGridColumns; ++j) {
            segments.push_back(azimuthSegment(extinction, i, j));
        }
    }
    return segments;
}

void drawSegment(const FrameView& picture, const Segment& segment, Rgb colour) {
    const int dx = std::abs(segment.x1 - segment.x0);
    const int dy = std::abs(segment.y1 - segment.y0);
    const int stepX = segment.x1 >= segment.x0 ? 1 : -1;
    const int stepY = segment.y1 >= segment.y0 ? 1 : -1;
    const int steps = std::max(dx, dy);
    // Pixel k lies at the exact rational position (2k·|d| + steps) / (2·steps) along each axis, rounded half
    // away from the start; the quotients and remainders are carried from pixel to pixel instead of divided
    // anew, since neither quotient grows by more than one per pixel.
    int x = segment.x0;
    int y = segment.y0;
    int restX = steps;
    int restY = steps;
    for (int k = 0; k < steps; ++k) {
        const int row = picture.height - 1 - y;
        if (picture.contains(x, row)) {
            setPixel(picture.pixel(x, row), colour);
        }
        restX += 2 * dx;
        if (restX >= 2 * steps) {
            restX -= 2 * steps;
            x += stepX;
        }
        restY += 2 * dy;
        if (restY >= 2 * steps) {
            restY -= 2 * steps;
            y += stepY;
        }
    }
}

void drawAzimuth(const ResultMap& extinction, const FrameView& picture, Rgb colour) {
    // Segment by segment rather than through azimuthSegments, so that a pass allocates nothing.
    for (int i = 1; i <= kGridRows; ++i) {
        for (int j = 1; j <= kGridColumns; ++j) {
            drawSegment(picture, azimuthSegment(extinction, i, j), colour);
        }
    }
}

} // namespace kestrane
