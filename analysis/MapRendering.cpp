// The three result maps as colour pictures, and the azimuth overlay drawn over them (no Qt: the headless tool
// writes the same pictures).
#include "analysis/MapRendering.h"

#include "analysis/FrameAnalysis.h"
#include "analysis/MapRenderingKernels.h"
#include "analysis/Tables.h"
#include "imaging/Numeric.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <numbers>

namespace kestrane {

namespace {

constexpr int kGridStep = 20;
constexpr int kGridRows = 11;
constexpr int kGridColumns = 15;
constexpr int kSegmentLength = 20;

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

bool renderFast(PictureStyle style, const Tables& tables, const ResultMap& values, const ResultMap& sinD,
                int firstShown, const FrameView& out) {
    if (renderingSet() != InstructionSet::kAvx512) {
        return false;
    }
    renderAvx512(style, tables, values, sinD, firstShown, out);
    return true;
}

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
    if (!holdsMap(out) ||
        renderFast(PictureStyle::kPalette, state.tables, state.SinDMap, state.SinDMap, 0, out)) {
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
    if (!holdsMap(out) || renderFast(PictureStyle::kBlanked, state.tables, state.ExtinctionMap, state.SinDMap,
                                     firstShown, out)) {
        return;
    }
    const std::array<std::uint32_t, 256> colours = packedPalette(state.tables);
    renderMap(out, [&](int x, int y) {
        return state.SinDMap.at(x, y) >= firstShown ? colours[state.ExtinctionMap.at(x, y)] : 0u;
    });
}

void renderTransmission(const MeasurementState& state, const FrameView& out) {
    if (!holdsMap(out) ||
        renderFast(PictureStyle::kGrey, state.tables, state.TransmissionMap, state.TransmissionMap, 0, out)) {
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
