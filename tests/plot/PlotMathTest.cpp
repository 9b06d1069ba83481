// Tests of the plot's arithmetic: world mapping, tick rule, number labels, 3D view, exact real text.
#include "plot/PlotMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kestrane {
namespace {

TEST(WorldMapping, SystemPlotAtStart) {
    const WorldSetting s = computeWorld(-1, -1, 1, 1, 373, 240, std::nullopt);
    EXPECT_EQ(s.mapping.screenX.scale, 186);
    EXPECT_EQ(s.mapping.screenX.offset, 186);
    EXPECT_EQ(s.mapping.screenY.scale, -119.5L);
    EXPECT_EQ(s.mapping.screenY.offset, 119.5L);
    EXPECT_EQ(s.mapping.metaX.scale, 745.0L / 2);
    EXPECT_EQ(s.mapping.metaY.scale, -479.0L / 2);

    struct Case {
        Extended x, y;
        int px, py;
    };
    // 119.5 rounds to the even 120.
    for (const Case c : {Case{0, 0, 186, 120}, Case{-1, 1, 0, 0}, Case{1, -1, 372, 239}}) {
        EXPECT_EQ(toPixel(c.x, s.mapping.screenX), c.px) << c.x;
        EXPECT_EQ(toPixel(c.y, s.mapping.screenY), c.py) << c.y;
    }
    EXPECT_EQ(s.world.x1, -1);
    EXPECT_EQ(s.world.xw, 2);
    EXPECT_EQ(s.world.y1, -1);
    EXPECT_EQ(s.world.yw, 2);
}

TEST(WorldMapping, FarPointsAreHeldAt16000) {
    const AxisMapping m{100, 0};
    EXPECT_EQ(toPixel(200, m), 16000);     // 20000
    EXPECT_EQ(toPixel(-1e7L, m), -16000);  // -1e9
    EXPECT_EQ(toPixel(159.99L, m), 15999); // just inside
    EXPECT_THROW(toPixel(std::numeric_limits<Extended>::quiet_NaN(), m), FloatingPointError);
}

TEST(WorldMapping, DegenerateBoundsFailMirroredOnesDoNot) {
    const Extended inf = std::numeric_limits<Extended>::infinity();
    const Extended nan = std::numeric_limits<Extended>::quiet_NaN();
    const LabelSizes labels{12, 20, 20};
    for (const bool axes : {false, true}) {
        const std::optional<LabelSizes> l = axes ? std::optional(labels) : std::nullopt;
        EXPECT_THROW(computeWorld(1, 0, 1, 1, 373, 240, l), FloatingPointError);
        EXPECT_THROW(computeWorld(0, 2, 1, 2, 373, 240, l), FloatingPointError);
        EXPECT_THROW(computeWorld(0, 0, inf, 1, 373, 240, l), FloatingPointError);
        EXPECT_THROW(computeWorld(nan, 0, 1, 1, 373, 240, l), FloatingPointError);
        EXPECT_THROW(computeWorld(-1e4932L, 0, 1e4932L, 1, 373, 240, l), FloatingPointError);

        const WorldSetting mirrored = computeWorld(1, 0, -1, 1, 373, 240, l);
        EXPECT_LT(mirrored.mapping.screenX.scale, 0);
        EXPECT_EQ(mirrored.world.xw, -2);
    }
}

TEST(WorldMapping, AxesModeLeavesMarginsForLabels) {
    const int w = 373;
    const int h = 240;
    for (const LabelSizes l : {LabelSizes{12, 20, 14}, LabelSizes{11, 7, 31}}) {
        const WorldSetting s = computeWorld(0, 0, 3.5L, 1, w, h, l);
        EXPECT_EQ(toPixel(0, s.mapping.screenX), l.yLabelWidth + 8);
        EXPECT_EQ(toPixel(3.5L, s.mapping.screenX), w - 1 - l.xLabelWidth / 2);
        EXPECT_EQ(toPixel(1, s.mapping.screenY), l.textHeight);
        EXPECT_EQ(toPixel(0, s.mapping.screenY), h - 7 - l.textHeight);
        EXPECT_EQ(toPixel(0, s.mapping.metaX), 2 * l.yLabelWidth + 16);
        EXPECT_EQ(toPixel(3.5L, s.mapping.metaX), 2 * w - 1 - l.xLabelWidth);
        EXPECT_EQ(toPixel(1, s.mapping.metaY), 2 * l.textHeight);
        EXPECT_EQ(toPixel(0, s.mapping.metaY), 2 * h - 13 - 2 * l.textHeight);
    }
}

TEST(Ticks, StepIsAPowerOfTenGivingEightToEightyTicks) {
    struct Case {
        Extended range, step;
    };
    for (const Case c :
         {Case{8, 1}, Case{35, 1}, Case{255, 10}, Case{3.5L, 0.1L}, Case{1, 0.1L}, Case{80, 10},
          Case{0.8L, 0.01L}, Case{100, 10}, Case{2e-4L, 1e-5L}, Case{1e6L, 1e5L}}) {
        EXPECT_NEAR(static_cast<double>(tickStep(c.range) / c.step), 1.0, 1e-15)
            << static_cast<double>(c.range);
    }
    for (Extended r = 1e-6L; r < 1e9L; r *= 1.37L) {
        const Extended count = r / tickStep(r);
        EXPECT_GE(count, 8 - 1e-9L) << static_cast<double>(r);
        EXPECT_LE(count, 80 + 1e-9L) << static_cast<double>(r);
    }
    EXPECT_THROW(tickStep(0), FloatingPointError);
    EXPECT_THROW(tickStep(-1), FloatingPointError);
}

struct AxisCase {
    Extended lo, width;
    int firstTick, lastTick, tickSpacing; // in whole units
    std::vector<std::string> labels;
};

class AxisTicks : public ::testing::TestWithParam<AxisCase> {};

TEST_P(AxisTicks, TicksAndLabelsOfTheRange) {
    const AxisCase& c = GetParam();
    const std::vector<Tick> ticks = axisTicks(c.lo, c.width);
    ASSERT_FALSE(ticks.empty());
    EXPECT_NEAR(static_cast<double>(ticks.front().value), c.firstTick, 1e-12);
    EXPECT_NEAR(static_cast<double>(ticks.back().value), c.lastTick, 1e-12);
    EXPECT_EQ(ticks.size(), static_cast<std::size_t>((c.lastTick - c.firstTick) / c.tickSpacing + 1));
    std::vector<std::string> labels;
    for (const Tick& t : ticks) {
        if (t.labelled) {
            labels.push_back(numberLabel(t.value));
        }
    }
    EXPECT_EQ(labels, c.labels);
}

INSTANTIATE_TEST_SUITE_P(Ranges, AxisTicks,
                         ::testing::Values(AxisCase{0, 8, 0, 7, 1, {"0", "2", "4", "6"}},
                                           AxisCase{0, 35, 0, 34, 1, {"0", "8", "16", "24", "32"}},
                                           AxisCase{0, 255, 0, 240, 10, {"0", "60", "120", "180", "240"}},
                                           // the first tick is the first multiple at or above the start
                                           AxisCase{-1.55L, 30, -1, 27, 1, {"-1", "6", "13", "20", "27"}}));

TEST(Ticks, SecondsAxisOfTheTimeTrace) {
    const std::vector<Tick> ticks = axisTicks(0, 3.5L);
    std::vector<std::string> labels;
    for (const Tick& t : ticks) {
        if (t.labelled) {
            labels.push_back(numberLabel(t.value));
        }
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"0", "0.8", "1.6", "2.4", "3.2"}));
    std::vector<std::string> candidates;
    for (const Extended v : labelCandidates(0, 3.5L)) {
        candidates.push_back(numberLabel(v));
    }
    EXPECT_EQ(candidates, (std::vector<std::string>{"0", "0.8", "1.6", "2.4", "3.2"}));
}

TEST(Ticks, TooManyTicksDrawsNone) {
    // A range just below a power of ten past 8 steps still has at most 80; only a start far from
    // the origin relative to the range pushes the first-tick index out of the integers.
    EXPECT_THROW(axisTicks(1e30L, 1), FloatingPointError);
    EXPECT_LE(axisTicks(0, 79.9L).size(), 80u);
}

TEST(NumberLabel, ThreeSignificantDigits) {
    struct Case {
        Extended v;
        const char* text;
    };
    for (const Case c :
         {Case{1500, "1.5E3"}, Case{0.00002L, "2E-5"}, Case{12.34L, "12.3"}, Case{-0.5L, "-0.5"},
          Case{0, "0"}, Case{100, "100"}, Case{0.0001L, "0.0001"}, Case{0.25L, "0.25"}, Case{999.4L, "999"},
          Case{999.5L, "1E3"}, Case{-12345, "-1.23E4"}, Case{1.125L, "1.13"}, Case{-1.125L, "-1.13"},
          Case{0.03125L, "0.0313"}, Case{1e20L, "1E20"}, Case{0.3L, "0.3"}, Case{240, "240"},
          Case{0.000099996L, "0.0001"}}) {
        EXPECT_EQ(numberLabel(c.v), c.text) << static_cast<double>(c.v);
    }
    EXPECT_EQ(numberLabel(-1.5L, ','), "-1,5");
    EXPECT_EQ(numberLabel(1500, ','), "1,5E3");
}

TEST(D3View, DefaultsOfTheSystemPlot) {
    D3View v;
    v.update(373, 240);
    EXPECT_NEAR(static_cast<double>(v.distance(-1, -1, -1)), 8.10711, 1e-5);
    EXPECT_NEAR(static_cast<double>(v.distance(1, 1, 1)), 4.69289, 1e-5);
    EXPECT_EQ(v.farCorner(), (Corner3{-1, -1, -1}));
    EXPECT_EQ(v.farX, -1);
    EXPECT_EQ(v.farY, -1);
    EXPECT_EQ(v.farZ, -1);
    EXPECT_EQ(v.nearX, 1);
    EXPECT_EQ(v.nearY, 1);
    EXPECT_EQ(v.nearZ, 1);
    EXPECT_NEAR(static_cast<double>(v.screenFactor), 357.7713, 1e-3);
    EXPECT_EQ(v.screenCentreX, 186.5L);
    EXPECT_EQ(v.screenCentreY, 120);
    EXPECT_EQ(v.xFactor, 1);
    EXPECT_EQ(v.xOffset, 0);
}

TEST(D3View, ClampsDistanceAndAngle) {
    struct Case {
        Extended angle, dist, wantAngle, wantDist;
    };
    for (const Case c : {Case{200, 0, 179, 0.0001L}, Case{0, -5, 0.01L, 0.0001L},
                         Case{179, 0.0001L, 179, 0.0001L}, Case{90, 3, 90, 3}}) {
        D3View v;
        v.viewAngle = c.angle;
        v.viewDist = c.dist;
        v.update(100, 100);
        EXPECT_EQ(v.viewAngle, c.wantAngle);
        EXPECT_EQ(v.viewDist, c.wantDist);
    }
}

TEST(D3View, FactorsWithAndWithoutAspectRatio) {
    D3View v;
    v.worldXW = 2;
    v.worldYW = 4;
    v.worldZW = 1;
    v.update(100, 100);
    EXPECT_EQ(v.xFactor, 0.5L);
    EXPECT_EQ(v.yFactor, 0.5L);
    EXPECT_EQ(v.zFactor, 0.5L);
    v.aspectRatio = false;
    v.update(100, 100);
    EXPECT_EQ(v.xFactor, 1);
    EXPECT_EQ(v.yFactor, 0.5L);
    EXPECT_EQ(v.zFactor, 2);
    // the box centre goes to the origin
    EXPECT_EQ(-1 * v.xFactor + v.xOffset + (1 * v.xFactor + v.xOffset), 0);

    v.worldYW = 0;
    EXPECT_THROW(v.update(100, 100), FloatingPointError);
}

TEST(D3View, ReducedRotationsAndTies) {
    D3View v;
    v.zRotation = 100;
    v.yRotation = 270; // 1.5 rounds to the even 2
    v.update(100, 100);
    EXPECT_EQ(v.reducedZRotation, 10);
    EXPECT_EQ(v.reducedYRotation, -90);

    // Looking straight down the z axis all four lower corners are equally far: the last one wins.
    v.zRotation = 0;
    v.yRotation = 0;
    v.update(100, 100);
    EXPECT_EQ(v.farCorner(), (Corner3{1, 1, -1}));
    EXPECT_EQ(v.farZ, -1);
    EXPECT_EQ(v.nearZ, 1);

    v.zRotation = 1e30L;
    EXPECT_THROW(v.update(100, 100), FloatingPointError);
}

TEST(ExactText, RealsReadBackIdentically) {
    const Extended values[] = {-1,
                               2,
                               0,
                               -0.0L,
                               6.4L,
                               0.1L,
                               1.0L / 3,
                               std::nextafter(1.0L, 2.0L),
                               std::numeric_limits<Extended>::denorm_min(),
                               std::numeric_limits<Extended>::max(),
                               -std::numeric_limits<Extended>::infinity()};
    for (const Extended v : values) {
        const std::string text = formatExact(v);
        const std::optional<Extended> back = parseExact(text);
        ASSERT_TRUE(back.has_value()) << text;
        EXPECT_EQ(*back, v) << text;
        EXPECT_EQ(std::signbit(*back), std::signbit(v)) << text;
    }
    EXPECT_EQ(formatExact(6.4L), "6.4");
    EXPECT_EQ(formatExact(-1), "-1");
    EXPECT_TRUE(std::isnan(*parseExact("nan")));
    EXPECT_FALSE(parseExact("1.5x").has_value());
    EXPECT_FALSE(parseExact("").has_value());
}

} // namespace
} // namespace kestrane
