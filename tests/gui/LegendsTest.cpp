// Legend pictures: ramp rows, value texts, the scale label and how texts overlap.
#include "analysis/Legends.h"
#include "analysis/Tables.h"

#include <QPainter>
#include <gtest/gtest.h>
#include <memory>

namespace {

using kestrane::MapKind;

struct RampRow {
    int y;
    int index;
};

class LegendRamp : public ::testing::TestWithParam<RampRow> {};

TEST_P(LegendRamp, RowsRunFromTopEntryDownToEntryThree) {
    EXPECT_EQ(legendRampIndex(GetParam().y), GetParam().index);
}

INSTANTIATE_TEST_SUITE_P(TellingRows, LegendRamp,
                         ::testing::Values(RampRow{47, 2}, RampRow{48, 255}, RampRow{51, 246},
                                           RampRow{57, 230}, RampRow{92, 130}, RampRow{93, 128},
                                           RampRow{136, 6}, RampRow{137, 3}));

struct ScaleTexts {
    kestrane::Extended maxSin;
    const char* full;
    const char* half;
};

class LegendScaleTexts : public ::testing::TestWithParam<ScaleTexts> {};

TEST_P(LegendScaleTexts, FullAndHalfScale) {
    EXPECT_EQ(fullScaleText(GetParam().maxSin), GetParam().full);
    EXPECT_EQ(halfScaleText(GetParam().maxSin), GetParam().half);
}

INSTANTIATE_TEST_SUITE_P(SliderPositions, LegendScaleTexts,
                         ::testing::Values(ScaleTexts{1.0L / 5, "0.2", "0.1"},
                                           ScaleTexts{2.0L / 5, "0.4", "0.2"},
                                           ScaleTexts{3.0L / 5, "0.6", "0.3"},
                                           ScaleTexts{4.0L / 5, "0.8", "0.4"},
                                           ScaleTexts{5.0L / 5, "1", "0.5"}));

class LegendPicture : public ::testing::Test {
  protected:
    void SetUp() override {
        tables = std::make_unique<kestrane::Tables>();
        kestrane::buildTables(*tables);
    }
    QImage painted(MapKind kind, kestrane::Extended maxSin, int objective) const {
        QImage image = legendArtwork(kind);
        paintLegend(image, kind, {tables.get(), maxSin, objective});
        return image;
    }
    std::unique_ptr<kestrane::Tables> tables;
};

TEST_F(LegendPicture, RampsArePaletteColouredOrGrey) {
    const QImage sinD = painted(MapKind::SinD, 1.0L, 4);
    const QImage transmission = painted(MapKind::Transmission, 1.0L, 4);
    ASSERT_EQ(sinD.size(), QSize(50, 240));
    const auto& p = tables->palette;
    for (int y = 47; y <= 137; ++y) {
        const int i = legendRampIndex(y);
        for (int x : {12, 22}) {
            EXPECT_EQ(sinD.pixel(x, y), qRgb(i, p[kestrane::kPaletteGreen][i], p[kestrane::kPaletteBlue][i]));
            EXPECT_EQ(transmission.pixel(x, y), qRgb(i, i, i));
        }
        EXPECT_EQ(sinD.pixel(23, y), legendArtwork(MapKind::SinD).pixel(23, y)) << "right edge kept";
    }
}

TEST_F(LegendPicture, ArtworkHasFrameBarOutlineAndScaleBar) {
    const QImage art = legendArtwork(MapKind::Extinction);
    EXPECT_EQ(art.format(), QImage::Format_BGR888);
    EXPECT_EQ(qGray(art.pixel(0, 100)), 128);
    EXPECT_EQ(qGray(art.pixel(1, 100)), 197);
    EXPECT_EQ(art.pixel(17, 100), qRgb(255, 255, 255));
    EXPECT_EQ(art.pixel(29, 44), art.pixel(10, 44)) << "top edge runs on to the end tick";
    EXPECT_EQ(art.pixel(24, 92), qRgb(0, 0, 0));
    for (auto [x, y] : {std::pair{7, 162}, {40, 163}, {8, 156}, {39, 168}}) {
        EXPECT_EQ(art.pixel(x, y), qRgb(0, 0, 0));
    }
    EXPECT_EQ(art.pixel(20, 214), qRgb(0, 0, 0)) << "base line of the angle drawing";
    EXPECT_NE(legendArtwork(MapKind::SinD).pixel(20, 214), qRgb(0, 0, 0));
}

// The bare "1" over "0.0" reads "1.0": the same cell as the transmission legend's "1.0".
TEST_F(LegendPicture, FullScaleOneKeepsTheRestOfTheZeroBeneath) {
    const QImage sinD = painted(MapKind::SinD, 1.0L, 4);
    const QImage transmission = painted(MapKind::Transmission, 1.0L, 4);
    EXPECT_EQ(sinD.copy(30, 44, 18, 14), transmission.copy(30, 44, 18, 14));
    EXPECT_NE(sinD.copy(30, 44, 18, 14), painted(MapKind::SinD, 0.8L, 4).copy(30, 44, 18, 14));
}

TEST_F(LegendPicture, AShorterScaleLabelLeavesNothingOfALongerOne) {
    QImage switched = painted(MapKind::Transmission, 1.0L, 40);
    paintLegend(switched, MapKind::Transmission, {tables.get(), 1.0L, 4});
    EXPECT_EQ(switched, painted(MapKind::Transmission, 1.0L, 4));
    EXPECT_NE(switched, painted(MapKind::Transmission, 1.0L, 10));
    EXPECT_EQ(scaleLabel(4), "0.05mm");
    EXPECT_EQ(scaleLabel(10), "0.02mm");
    EXPECT_EQ(scaleLabel(40), "0.005mm");
}

TEST_F(LegendPicture, RepaintingIsStable) {
    QImage twice = painted(MapKind::Extinction, 1.0L, 10);
    paintLegend(twice, MapKind::Extinction, {tables.get(), 1.0L, 10});
    EXPECT_EQ(twice, painted(MapKind::Extinction, 1.0L, 10));
}

} // namespace
