// The orientation colour map: hue once round the circle in 180°, brightness from the retardance, black for
// no orientation, and the live map's picture against the exact colours.
#include "measure/OrientationColour.h"
#include "measure/MeasureKernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

namespace kestrane {
namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

TEST(OrientationColour, HueGoesOnceRoundTheCircleIn180Degrees) {
    const struct {
        double degrees;
        double brightness;
        std::uint32_t colour;
    } cases[] = {
        {0, 1, 0xffff0000u},     {30, 1, 0xffffff00u},   {60, 1, 0xff00ff00u},  {90, 1, 0xff00ffffu},
        {120, 1, 0xff0000ffu},   {150, 1, 0xffff00ffu},  {180, 1, 0xffff0000u}, {-30, 1, 0xffff00ffu},
        {15, 1, 0xffff8000u},    {60, 0.5, 0xff008000u}, {60, 2, 0xff00ff00u},  {60, -1, 0xff000000u},
        {kNone, 1, 0xff000000u},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(orientationColour(c.degrees, c.brightness), c.colour)
            << c.degrees << " at " << c.brightness;
    }
    const struct {
        double nm, maximum, brightness;
    } scales[] = {{50, 100, 0.5}, {150, 100, 1}, {0, 100, 0}, {10, 0, 1}, {0, 0, 0}};
    for (const auto& s : scales) {
        EXPECT_DOUBLE_EQ(retardanceBrightness(s.nm, s.maximum), s.brightness) << s.nm << " of " << s.maximum;
    }
}

TEST(OrientationColour, TheLiveMapMatchesTheExactColoursInsideItsRowStride) {
    QuantityMaps m;
    m.width = 7;
    m.height = 2;
    m.orientationDeg = {0, 44.99f, 90, 179.99f, NAN, 200, -10, 12.3f, 77.7f, 100, 135, 0.02f, 160, 33};
    m.retardanceNm = {50, 100, 150, 0, 80, 80, 80, 25, 60, 90, 99, 100, 10, 70};
    const double maximum = 100;
    const int stride = 9;
    std::vector<std::uint32_t> picture(static_cast<std::size_t>(stride * m.height), 0x12345678u);
    renderOrientationMap(m, maximum, picture.data(), stride);
    for (int r = 0; r < m.height; ++r) {
        for (int c = 0; c < stride; ++c) {
            const std::uint32_t got = picture[static_cast<std::size_t>(r * stride + c)];
            if (c >= m.width) {
                EXPECT_EQ(got, 0x12345678u) << "past the row's end";
                continue;
            }
            const auto i = static_cast<std::size_t>(r * m.width + c);
            const std::uint32_t exact =
                orientationColour(m.orientationDeg[i], retardanceBrightness(m.retardanceNm[i], maximum));
            for (const int shift : {24, 16, 8, 0}) {
                // The hue is looked up to the nearest 0.05°: a channel may differ by a step or two.
                EXPECT_LE(std::abs(static_cast<int>((got >> shift) & 0xff) -
                                   static_cast<int>((exact >> shift) & 0xff)),
                          2)
                    << "pixel " << i << " channel " << shift;
            }
        }
    }
}

TEST(OrientationColour, TheAvx2MapHasThePlainLoopsBytes) {
    if (!useMeasureInstructionSet(InstructionSet::kAvx2)) {
        GTEST_SKIP() << "the processor lacks AVX2";
    }
    // Every kind of pixel, in rows of 21 (two groups of eight and a tail): no orientation, outside the
    // maps' range, 0, just below 180, and retardance 0, negative, at and beyond the maximum, NaN.
    const float theta[] = {NAN,       -10,      0,       179.99998f, 180,    200,      1e9f,
                           -INFINITY, INFINITY, 90.025f, 12.3f,      0.024f, 59.975f,  135,
                           45,        30,       150,     120,        77.7f,  179.975f, 0.025f};
    const float retardance[] = {80,    80, 100, 150, 0,    -5,  99.99f, 1e6f, 50, 25, 33.3f,
                                66.6f, 10, 1,   100, 0.5f, 101, 75,     NAN,  99, 42};
    QuantityMaps m;
    m.width = 21;
    m.height = 21;
    for (int r = 0; r < m.height; ++r) {
        for (int c = 0; c < m.width; ++c) {
            // Each row pairs the orientations with other retardances.
            m.orientationDeg.push_back(theta[c]);
            m.retardanceNm.push_back(retardance[(c + r) % 21]);
        }
    }
    const int stride = 23;
    for (const double maximum : {100.0, 37.5}) {
        std::vector<std::uint32_t> plain(static_cast<std::size_t>(stride * m.height), 0x12345678u);
        std::vector<std::uint32_t> fast = plain;
        useMeasureInstructionSet(InstructionSet::kScalar);
        renderOrientationMap(m, maximum, plain.data(), stride);
        useMeasureInstructionSet(InstructionSet::kAvx2);
        renderOrientationMap(m, maximum, fast.data(), stride);
        for (std::size_t i = 0; i < plain.size(); ++i) {
            EXPECT_EQ(fast[i], plain[i]) << "pixel " << i % stride << "," << i / stride << " at " << maximum;
        }
    }
}

} // namespace
} // namespace kestrane
