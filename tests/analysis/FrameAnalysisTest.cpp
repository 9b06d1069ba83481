// The pixel formula, the registration of the quadrants and the flat field, against worked values.
#include "analysis/FrameAnalysis.h"
#include "analysis/PlainAnalysis.h"

#include "QuadrantFrames.h"
#include "TestTables.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kestrane {
namespace {

const Tables& tables() {
    return test::builtTables();
}

struct PixelCase {
    const char* name;
    int a, b, c, d;
    Extended maxSin;
    MapPixel expected;
};

class PixelFormula : public ::testing::TestWithParam<PixelCase> {};

TEST_P(PixelFormula, GivesThePublishedBytes) {
    const PixelCase& p = GetParam();
    EXPECT_EQ(analysePixel(tables(), p.maxSin, p.a, p.b, p.c, p.d), p.expected) << p.name;
    EXPECT_EQ(plain::pixel(tables(), p.maxSin, p.a, p.b, p.c, p.d), p.expected) << p.name << " (plain)";
}

// Expected bytes are {extinction, transmission, sinD}.
INSTANTIATE_TEST_SUITE_P(
    Worked, PixelFormula,
    ::testing::Values(PixelCase{"worked example", 120, 100, 90, 130, 1.0L, {143, 115, 76}},
                      PixelCase{"zero Y with clamped cosine", 50, 25, 50, 25, 1.0L, {128, 40, 45}},
                      PixelCase{"all dark", 0, 0, 0, 0, 1.0L, {128, 1, 0}},
                      PixelCase{"worked example at MaxSin 0.4", 120, 100, 90, 130, 0.4L, {143, 115, 189}},
                      // X = 29, Y = 7, R = sqrt(890): k = 197, extinction round(117.93), v = 0.29612.
                      PixelCase{"bright uniform field", 255, 255, 255, 255, 1.0L, {118, 127, 76}},
                      // X = 157, Y = 127: the squared length 40778 lies past the root table; R = 201.94 gives
                      // k = 178 and extinction round(100.28) (a length cut to the table's last entry would
                      // give 106), and v clamps to 1.
                      PixelCase{"longest vector", 255, 255, 0, 0, 1.0L, {100, 127, 255}}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (char& ch : n) {
            if (!std::isalnum(static_cast<unsigned char>(ch))) {
                ch = '_';
            }
        }
        return n;
    });

TEST(PixelFormula, SinDAboveFullScaleSaturates) {
    // a = 255, d = 255 against dark b and c gives v above 1, clamped to 1.0.
    for (Extended maxSin : {1.0L, 0.8L, 0.6L, 0.4L, 0.2L}) {
        // At MaxSin 0.2 the product is 1275, which is shown as full scale rather than wrapped to 251.
        EXPECT_EQ(analysePixel(tables(), maxSin, 255, 0, 0, 255).sinD, 255) << static_cast<double>(maxSin);
    }
}

TEST(PixelFormula, ExtinctionAtTheEndsOfTheAngleRange) {
    const Tables& t = tables();
    struct Case {
        int a, b, c, d;
        int expected;
    } cases[] = {
        {0, 20, 200, 0, 5},  // X very negative, Y > 0: k = 1
        {0, 0, 200, 2, 251}, // X very negative, Y < 0
        {0, 100, 0, 0, 64},  // X = 0, Y > 0: k = 100
        {0, 0, 0, 100, 192}, // X = 0, Y < 0
        {200, 2, 0, 0, 122}, // X large positive, small Y > 0: k = 199
        {200, 0, 0, 3, 134}, // X large positive, small Y < 0
        {0, 0, 200, 0, 128}, // Y = 0 with negative X counts as angle 0
    };
    for (const Case& c : cases) {
        EXPECT_EQ(analysePixel(t, 1.0L, c.a, c.b, c.c, c.d).extinction, c.expected)
            << c.a << "," << c.b << "," << c.c << "," << c.d;
    }
}

TEST(PixelFormula, GainRoundingTiesGoToEven) {
    // The transmission byte exposes a' and d' through the floor of the mean.
    const Tables& t = tables();
    const std::pair<int, int> aTies[] = {{50, 62}, {150, 184}, {250, 308}};
    for (auto [a, aGain] : aTies) {
        EXPECT_EQ(analysePixel(t, 1.0L, a, 0, 0, 0).transmission, std::min(aGain / 4, 127)) << a;
    }
    const std::pair<int, int> dTies[] = {{25, 24}, {75, 70}, {125, 118}, {175, 164}, {225, 212}};
    for (auto [d, dGain] : dTies) {
        EXPECT_EQ(analysePixel(t, 1.0L, 0, 0, 0, d).transmission, std::max(1, dGain / 4)) << d;
    }
}

TEST(PixelFormula, ZeroTablesGiveNeutralMaps) {
    const Tables zero{};
    for (int v : {0, 17, 128, 255}) {
        const MapPixel p = analysePixel(zero, 1.0L, v, 255 - v, v / 2, 3);
        EXPECT_EQ(p.extinction, 128);
        EXPECT_EQ(p.sinD, 0);
    }
}

TEST(Registration, ShiftsAndLimits) {
    struct Case {
        int x, y, row, column;
    } cases[] = {
        {300, 0, 8, 300}, {0, 239, 239, 0}, {20, 0, 0, 20},   {21, 0, 1, 21},       {60, 0, 2, 60},
        {100, 0, 2, 100}, {101, 0, 3, 101}, {319, 0, 8, 319}, {319, 239, 239, 311}, {10, 15, 15, 10},
        {10, 16, 16, 9},  {10, 45, 45, 8},  {10, 75, 75, 8},  {10, 76, 76, 7},      {319, 235, 239, 311},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(registeredRow(c.x, c.y), c.row) << c.x << "," << c.y;
        EXPECT_EQ(registeredColumn(c.x, c.y), c.column) << c.x << "," << c.y;
    }
}

using test::frameWithQuadrants;

TEST(ComputeMaps, UniformQuadrantsFillTheMapAndLeaveTheMarginsZero) {
    Bitmap frame = frameWithQuadrants(120, 100, 90, 130);
    ResultMap sinD, extinction, transmission;
    computeMaps(frame.view(), tables(), 1.0L, ResultMaps{&sinD, &extinction, &transmission});
    for (int x = 0; x < kMapWidth; ++x) {
        for (int y = 0; y < kMapHeight; ++y) {
            ASSERT_EQ(extinction.at(x, y), 143);
            ASSERT_EQ(transmission.at(x, y), 115);
            ASSERT_EQ(sinD.at(x, y), 76);
        }
    }
    for (int y = 0; y <= kMapHeight; ++y) {
        EXPECT_EQ(sinD.at(kMapWidth, y), 0);
    }
    for (int x = 0; x <= kMapWidth; ++x) {
        EXPECT_EQ(extinction.at(x, kMapHeight), 0);
    }
}

TEST(ComputeMaps, ReadsTheRegisteredPixelsOfQuadrantsCAndD) {
    Bitmap frame(kFrameWidth, kFrameHeight, 32);
    FrameView v = frame.view();
    // Mark the C and D pixels that map pixel (300, 0) reads: row 8 + 240, columns 300 and 620.
    v.pixel(300, 248)[2] = 90;
    v.pixel(620, 248)[2] = 130;
    v.pixel(300, 0)[2] = 120;
    v.pixel(620, 0)[2] = 100;
    ResultMap sinD, extinction, transmission;
    computeMaps(frame.view(), tables(), 1.0L, ResultMaps{&sinD, &extinction, &transmission});
    EXPECT_EQ(extinction.at(300, 0), 143);
    EXPECT_EQ(transmission.at(300, 0), 115);
    EXPECT_EQ(sinD.at(300, 0), 76);
}

TEST(ComputeMaps, SmallerFramesReadZeroOutsideTheirPixels) {
    // Only Quadrant A exists: B, C and D read as 0, and nothing is read past the 320 × 240 buffer.
    Bitmap small(kMapWidth, kMapHeight, 32);
    FrameView v = small.view();
    for (int y = 0; y < kMapHeight; ++y) {
        for (int x = 0; x < kMapWidth; ++x) {
            v.pixel(x, y)[2] = 120;
        }
    }
    ResultMap sinD, extinction, transmission;
    computeMaps(small.view(), tables(), 1.0L, ResultMaps{&sinD, &extinction, &transmission});
    EXPECT_EQ(analysePixel(tables(), 1.0L, 120, 0, 0, 0),
              (MapPixel{extinction.at(5, 5), transmission.at(5, 5), sinD.at(5, 5)}));
}

TEST(FlatField, RoundsHalfToEvenAndSaturates) {
    struct Case {
        int red;
        float gain;
        int expected;
    } cases[] = {
        {200, 2.0f, 255},                  // 400 is stored as 255, not as its low byte 144
        {100, 0.5f, 50},  {10, 1.25f, 12}, // 12.5 is a tie that goes to 12
        {10, 1.35f, 14},                   // 1.35 as a single is just above, so 13.5000005 rounds up
        {1, 128.0f, 128}, {255, 128.0f / 255.0f, 128},
        {77, 0.0f, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(flatFieldSample(c.red, c.gain), c.expected) << c.red << " x " << c.gain;
        EXPECT_EQ(plain::flatField(c.red, c.gain), c.expected) << c.red << " x " << c.gain << " (plain)";
    }
}

TEST(AnalyseFrame, AppliesTheFlatFieldOnlyWhenOnAndLeavesTheFrameAlone) {
    static MeasurementState state;
    state = MeasurementState{};
    state.tables = tables();
    for (int x = 0; x < kFrameWidth; ++x) {
        for (int y = 0; y < kFrameHeight; ++y) {
            const bool quadrantD = x >= kMapWidth && y >= kMapHeight;
            state.FlatFieldGain.at(x, y) = quadrantD ? 1.0f : 0.5f;
        }
    }
    Bitmap frame = frameWithQuadrants(240, 200, 180, 130);
    const Bitmap original = frame;
    analyseFrame(frame.view(), state);
    EXPECT_NE(state.ExtinctionMap.at(10, 10), 143);
    state.FlatFieldOn = 1;
    analyseFrame(frame.view(), state);
    EXPECT_EQ(state.ExtinctionMap.at(10, 10), 143); // the halved frame is the worked example
    EXPECT_EQ(state.SinDMap.at(319, 239), 76);
    EXPECT_EQ(frame, original);
}

} // namespace
} // namespace kestrane
