// Map pictures: orientation, palette colouring, extinction blanking, grey scale and the azimuth overlay.
#include "analysis/MapRendering.h"

#include "analysis/MeasurementState.h"
#include "analysis/Tables.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <tuple>

using namespace kestrane;

namespace {

struct Colour {
    int red;
    int green;
    int blue;
    bool operator==(const Colour&) const = default;
};

// Picture pixel (x, r) counted from the top-left corner of a bottom-up bitmap.
Colour pictureAt(const Bitmap& picture, int x, int r) {
    const std::uint8_t* p = picture.row(picture.height() - 1 - r) + 4 * x;
    return Colour{p[2], p[1], p[0]};
}

class MapRenderingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        state = std::make_unique<MeasurementState>();
        buildTables(state->tables);
    }
    Colour palette(int v) const {
        return Colour{v, state->tables.palette[kPaletteGreen][v], state->tables.palette[kPaletteBlue][v]};
    }
    std::unique_ptr<MeasurementState> state;
    Bitmap picture;
};

TEST_F(MapRenderingTest, SinDIsUprightInPaletteColours) {
    state->SinDMap.at(0, 0) = 200;    // bottom-left of the quadrant
    state->SinDMap.at(319, 239) = 17; // top-right
    state->SinDMap.at(320, 240) = 99; // outside the drawn area
    renderSinD(*state, picture);
    ASSERT_EQ(picture.width(), 320);
    ASSERT_EQ(picture.height(), 240);
    ASSERT_EQ(picture.bitsPerPixel(), 32);
    EXPECT_EQ(pictureAt(picture, 0, 239), palette(200));
    EXPECT_EQ(pictureAt(picture, 319, 0), palette(17));
    EXPECT_EQ(pictureAt(picture, 5, 5), palette(0));
    EXPECT_EQ(picture.row(0)[3], 0);
}

struct BlankingCase {
    int sinDLimit;
    Extended maxSin;
    int sinD;
    bool coloured;
};

class ExtinctionBlanking : public MapRenderingTest, public ::testing::WithParamInterface<BlankingCase> {};

TEST_P(ExtinctionBlanking, ColouredOnlyAboveTheLimitOverTheScale) {
    const BlankingCase c = GetParam();
    state->SinDLimit = c.sinDLimit;
    state->MaxSin = c.maxSin;
    state->SinDMap.at(10, 20) = static_cast<std::uint8_t>(c.sinD);
    state->ExtinctionMap.at(10, 20) = 150;
    renderExtinction(*state, picture);
    EXPECT_EQ(pictureAt(picture, 10, 239 - 20), (c.coloured ? palette(150) : Colour{0, 0, 0}));
}

INSTANTIATE_TEST_SUITE_P(Limits, ExtinctionBlanking,
                         ::testing::Values(BlankingCase{15, 1.0L, 15, false},
                                           BlankingCase{15, 1.0L, 16, true}, BlankingCase{0, 1.0L, 0, false},
                                           BlankingCase{0, 1.0L, 1, true}, BlankingCase{15, 0.2L, 75, false},
                                           BlankingCase{15, 0.2L, 76, true},
                                           BlankingCase{40, 0.4L, 100, false},
                                           BlankingCase{40, 0.4L, 101, true}));

TEST_F(MapRenderingTest, TransmissionIsAGreyScaleOfTwiceTheByte) {
    state->TransmissionMap.at(1, 1) = 127;
    state->TransmissionMap.at(2, 1) = 1;
    renderTransmission(*state, picture);
    EXPECT_EQ(pictureAt(picture, 1, 238), (Colour{254, 254, 254}));
    EXPECT_EQ(pictureAt(picture, 2, 238), (Colour{2, 2, 2}));
}

TEST_F(MapRenderingTest, RenderingReplacesAPictureOfAnotherShape) {
    picture = Bitmap(640, 480, 24);
    renderTransmission(*state, picture);
    EXPECT_EQ(picture.width(), 320);
    EXPECT_EQ(picture.bitsPerPixel(), 32);
}

struct AzimuthCase {
    int extinction;
    int dx;
    int dy;
};

class AzimuthDirection : public ::testing::TestWithParam<AzimuthCase> {};

TEST_P(AzimuthDirection, SegmentsPointAlongTheExtinctionByte) {
    auto map = std::make_unique<ResultMap>();
    for (int x = 0; x <= 320; ++x) {
        for (int y = 0; y <= 240; ++y) {
            map->at(x, y) = static_cast<std::uint8_t>(GetParam().extinction);
        }
    }
    const std::vector<Segment> segments = azimuthSegments(*map);
    ASSERT_EQ(segments.size(), 165u);
    EXPECT_EQ(segments.front(), (Segment{20, 20, 20 + GetParam().dx, 20 + GetParam().dy}));
    EXPECT_EQ(segments.back(), (Segment{300, 220, 300 + GetParam().dx, 220 + GetParam().dy}));
}

// 128 lies just past vertical: 20 cos θ = −0.12 rounds to 0.
INSTANTIATE_TEST_SUITE_P(Bytes, AzimuthDirection,
                         ::testing::Values(AzimuthCase{0, 20, 0}, AzimuthCase{128, 0, -20},
                                           AzimuthCase{255, -20, 0}, AzimuthCase{64, 14, -14}));

TEST(Azimuth, EachSegmentTakesTheDirectionOfThePixelUnderItsStart) {
    auto map = std::make_unique<ResultMap>();
    for (int x = 0; x <= 320; ++x) {
        for (int y = 0; y <= 240; ++y) {
            map->at(x, y) = 128;
        }
    }
    // Picture row 20 shows map row 219.
    map->at(20, 219) = 0;
    const std::vector<Segment> segments = azimuthSegments(*map);
    EXPECT_EQ(segments[0], (Segment{20, 20, 40, 20}));
    EXPECT_EQ(segments[1], (Segment{40, 20, 40, 0}));
}

struct SegmentCase {
    Segment segment;
    std::vector<std::pair<int, int>> painted;
    std::pair<int, int> endPoint;
};

class SegmentDrawing : public ::testing::TestWithParam<SegmentCase> {};

TEST_P(SegmentDrawing, PaintsFromTheStartAndLeavesTheEndPoint) {
    Bitmap picture(320, 240, 32);
    drawSegment(picture.view(), GetParam().segment, Rgb{255, 255, 255});
    for (auto [x, y] : GetParam().painted) {
        EXPECT_EQ(pictureAt(picture, x, y), (Colour{255, 255, 255})) << x << "," << y;
    }
    const auto [ex, ey] = GetParam().endPoint;
    if (ex < 320 && ey >= 0) {
        EXPECT_EQ(pictureAt(picture, ex, ey), (Colour{0, 0, 0}));
    }
    int count = 0;
    for (int y = 0; y < 240; ++y) {
        for (int x = 0; x < 320; ++x) {
            count += pictureAt(picture, x, y).red != 0;
        }
    }
    const Segment& s = GetParam().segment;
    EXPECT_EQ(count, std::max(std::abs(s.x1 - s.x0), std::abs(s.y1 - s.y0)));
}

INSTANTIATE_TEST_SUITE_P(Segments, SegmentDrawing,
                         ::testing::Values(SegmentCase{{20, 20, 40, 20}, {{20, 20}, {39, 20}}, {40, 20}},
                                           SegmentCase{{20, 20, 20, 0}, {{20, 20}, {20, 1}}, {20, 0}},
                                           SegmentCase{
                                               {300, 220, 320, 220}, {{300, 220}, {319, 220}}, {320, 220}},
                                           SegmentCase{{40, 40, 54, 26}, {{40, 40}, {53, 27}}, {54, 26}},
                                           SegmentCase{{60, 40, 40, 40}, {{60, 40}, {41, 40}}, {40, 40}}));

// Every instruction set draws the same pictures, whatever the maps hold, into a picture wider than the map
// and viewed top-down (as the window's pictures are), leaving every fourth byte and everything right of the
// map.
struct DrawingCase {
    const char* name;
    int sinDLimit;
    Extended maxSin;
};

class DrawingKernels : public ::testing::TestWithParam<std::tuple<InstructionSet, DrawingCase>> {
  protected:
    void TearDown() override { useRenderingInstructionSet(InstructionSet::kAvx512); }
};

TEST_P(DrawingKernels, DrawTheMapsByteForByteAsDefined) {
    const auto [set, drawing] = GetParam();
    if (!useRenderingInstructionSet(set)) {
        GTEST_SKIP() << "the processor lacks this instruction set";
    }
    auto state = std::make_unique<MeasurementState>();
    buildTables(state->tables);
    state->SinDLimit = drawing.sinDLimit;
    state->MaxSin = drawing.maxSin;
    std::mt19937 random(7);
    for (ResultMap* map : {&state->SinDMap, &state->ExtinctionMap, &state->TransmissionMap}) {
        for (int x = 0; x <= 320; ++x) {
            for (int y = 0; y <= 240; ++y) {
                map->at(x, y) = static_cast<std::uint8_t>(random());
            }
        }
    }
    const Extended limit = static_cast<Extended>(state->SinDLimit) / state->MaxSin;
    const auto expected = [&](int which, int x, int y) {
        if (which == 2) {
            const int grey = (2 * state->TransmissionMap.at(x, y)) % 256;
            return Colour{grey, grey, grey};
        }
        const ResultMap& values = which == 0 ? state->SinDMap : state->ExtinctionMap;
        if (which == 1 && !(static_cast<Extended>(state->SinDMap.at(x, y)) > limit)) {
            return Colour{0, 0, 0};
        }
        const int v = values.at(x, y);
        return Colour{v, state->tables.palette[kPaletteGreen][v], state->tables.palette[kPaletteBlue][v]};
    };

    for (int which = 0; which < 3; ++which) {
        Bitmap canvas(370, 241, 32);
        for (std::size_t i = 0; i < canvas.sizeBytes(); ++i) {
            canvas.bits()[i] = static_cast<std::uint8_t>(random());
        }
        const Bitmap before = canvas;
        // Top-down: view row y is canvas row 240 − y, as the window's pictures are addressed.
        const FrameView view{canvas.row(240), 370, 241, -canvas.stride()};
        if (which == 0) {
            renderSinD(*state, view);
        } else if (which == 1) {
            renderExtinction(*state, view);
        } else {
            renderTransmission(*state, view);
        }
        int wrong = 0;
        for (int y = 0; y < 241; ++y) {
            for (int x = 0; x < 370; ++x) {
                const std::uint8_t* now = view.pixel(x, y);
                const std::uint8_t* was = before.row(240 - y) + 4 * x;
                const bool drawn = x < 320 && y < 240;
                const Colour want = drawn ? expected(which, x, y) : Colour{was[2], was[1], was[0]};
                wrong += Colour{now[2], now[1], now[0]} != want || now[3] != was[3];
            }
        }
        EXPECT_EQ(wrong, 0) << "map " << which;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sets, DrawingKernels,
    ::testing::Combine(::testing::Values(InstructionSet::kScalar, InstructionSet::kAvx512),
                       ::testing::Values(DrawingCase{"Limit15", 15, 1.0L}, DrawingCase{"Scaled", 40, 0.4L},
                                         DrawingCase{"NoneShown", 300, 1.0L},
                                         DrawingCase{"AllShown", -1, 1.0L})),
    [](const auto& info) {
        return std::string(std::get<0>(info.param) == InstructionSet::kScalar ? "Plain" : "Avx512") +
               std::get<1>(info.param).name;
    });

// Every segment the grid can draw (ends up to 20 pixels away in any direction) paints exactly the pixels at
// the rational positions along it, rounded half away from the start.
TEST(SegmentPixels, LieAtTheRoundedRationalPositions) {
    Bitmap picture(64, 64, 32);
    const FrameView view = picture.view();
    for (int dx = -20; dx <= 20; ++dx) {
        for (int dy = -20; dy <= 20; ++dy) {
            std::fill(picture.bits(), picture.bits() + picture.sizeBytes(), std::uint8_t{0});
            drawSegment(view, Segment{30, 30, 30 + dx, 30 + dy}, Rgb{255, 255, 255});
            Bitmap expected(64, 64, 32);
            const int steps = std::max(std::abs(dx), std::abs(dy));
            for (int k = 0; k < steps; ++k) {
                const int x = 30 + (dx >= 0 ? 1 : -1) * ((2 * k * std::abs(dx) + steps) / (2 * steps));
                const int y = 30 + (dy >= 0 ? 1 : -1) * ((2 * k * std::abs(dy) + steps) / (2 * steps));
                std::uint8_t* p = expected.view().pixel(x, 63 - y);
                p[0] = p[1] = p[2] = 255;
            }
            ASSERT_EQ(picture, expected) << dx << "," << dy;
        }
    }
}

} // namespace
