// Region statistics over hand-made quantity maps: the clipping of regions, the plain and the axial means,
// the histogram's bins, and the text the page copies and logs.
#include "measure/RegionStatistics.h"
#include "measure/MeasureKernels.h"
#include "measure/StatisticsText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <numbers>
#include <random>

namespace kestrane {
namespace {

constexpr float kNone = std::numeric_limits<float>::quiet_NaN();

// A width × 1 map whose pixels carry the given retardances and orientations; |sin δ| and transmission are
// derived from the pixel's place so that their means are known.
QuantityMaps rowMap(std::initializer_list<float> retardance, std::initializer_list<float> orientation) {
    QuantityMaps m;
    m.width = static_cast<int>(retardance.size());
    m.height = 1;
    m.retardanceNm = retardance;
    m.orientationDeg = orientation;
    for (int i = 0; i < m.width; ++i) {
        m.sinD.push_back(0.1f * static_cast<float>(i));
        m.transmissionPct.push_back(10.0f * static_cast<float>(i));
    }
    return m;
}

TEST(RegionStatistics, RegionsAreClippedToTheMapAndTakeTheirCornersInAnyOrder) {
    const struct {
        int x0, y0, x1, y1;
        std::optional<MapRegion> expected;
    } cases[] = {
        {10, 20, 30, 40, MapRegion{10, 20, 30, 40}},
        {30, 40, 10, 20, MapRegion{10, 20, 30, 40}},
        {30, 20, 10, 40, MapRegion{10, 20, 30, 40}},
        {5, 5, 5, 5, MapRegion{5, 5, 5, 5}},
        {-10, -3, 400, 300, MapRegion{0, 0, 319, 239}},
        {319, 239, 319, 239, MapRegion{319, 239, 319, 239}},
        {320, 0, 400, 10, std::nullopt},
        {0, 240, 10, 250, std::nullopt},
        {-5, -5, -1, 10, std::nullopt},
        {10, -9, 20, -1, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(clippedRegion(c.x0, c.y0, c.x1, c.y1, 320, 240), c.expected)
            << c.x0 << "," << c.y0 << "," << c.x1 << "," << c.y1;
    }
}

TEST(RegionStatistics, MeansAndSpreadFollowTheirDefinitions) {
    const double d = 180.0 / std::numbers::pi;
    const struct {
        const char* name;
        QuantityMaps maps;
        int oriented;
        double mean;   // NaN: none
        double spread; // degrees
    } cases[] = {
        {"one axis", rowMap({1, 2, 3, 4}, {30, 30, 30, 30}), 4, 30, 0},
        {"5 and 175 meet at 0, not at 90", rowMap({1, 2, 3, 4}, {5, 175, 5, 175}), 4, 0,
         0.5 * std::sqrt(-2 * std::log(std::cos(10 / d))) * d},
        {"179 and 179.5 stay below 180", rowMap({1, 2, 3, 4}, {179, 179.5, 179, 179.5}), 4, 179.25,
         0.5 * std::sqrt(-2 * std::log(std::cos(0.5 / d))) * d},
        {"pixels without an orientation are left out", rowMap({1, 2, 3, 4}, {kNone, 60, kNone, 60}), 2, 60,
         0},
        {"none has an orientation", rowMap({1, 2, 3, 4}, {kNone, kNone, kNone, kNone}), 0, NAN, NAN},
        {"crossed axes cancel: no mean", rowMap({1, 2, 3, 4}, {0, 90, 0, 90}), 4, NAN, INFINITY},
    };
    for (const auto& c : cases) {
        const RegionStatistics s = regionStatistics(c.maps, wholeMap(c.maps));
        EXPECT_EQ(s.pixels, 4) << c.name;
        EXPECT_DOUBLE_EQ(s.retardanceMeanNm, 2.5) << c.name;
        EXPECT_NEAR(s.retardanceSdNm, std::sqrt(1.25), 1e-12) << c.name << ": SD divides by N";
        EXPECT_NEAR(s.sinDMean, 0.15, 1e-6) << c.name;
        EXPECT_NEAR(s.transmissionMeanPct, 15.0, 1e-5) << c.name;
        EXPECT_EQ(s.orientedPixels, c.oriented) << c.name;
        if (std::isnan(c.mean)) {
            EXPECT_TRUE(std::isnan(s.orientationMeanDeg)) << c.name;
        } else {
            EXPECT_NEAR(s.orientationMeanDeg, c.mean, 1e-4) << c.name;
        }
        if (std::isnan(c.spread) || std::isinf(c.spread)) {
            EXPECT_EQ(std::isnan(s.orientationSpreadDeg), std::isnan(c.spread)) << c.name;
            EXPECT_EQ(std::isinf(s.orientationSpreadDeg), std::isinf(c.spread)) << c.name;
        } else {
            EXPECT_NEAR(s.orientationSpreadDeg, c.spread, 1e-3) << c.name;
        }
    }
}

TEST(RegionStatistics, OnlyTheRegionsPixelsCount) {
    QuantityMaps m = rowMap({100, 1, 2, 3, 100}, {10, 20, 20, 20, 170});
    const RegionStatistics s = regionStatistics(m, MapRegion{1, 0, 3, 0});
    EXPECT_EQ(s.pixels, 3);
    EXPECT_DOUBLE_EQ(s.retardanceMeanNm, 2.0);
    EXPECT_NEAR(s.orientationMeanDeg, 20.0, 1e-4);
    // A nearly uniform region keeps its small SD (a one-pass Σx² − n·mean² would lose it).
    m = rowMap({1000.001f, 1000.003f, 1000.001f, 1000.003f}, {0, 0, 0, 0});
    EXPECT_NEAR(regionStatistics(m, wholeMap(m)).retardanceSdNm, 0.001, 2e-4);
}

TEST(RegionStatistics, HistogramBinsSpanZeroToTheQuarterWave) {
    // Quarter wave 100 nm in 4 bins of 25 nm: a value on a bin's lower edge belongs to it, the quarter wave
    // itself (and anything past it) to the last bin.
    const QuantityMaps m = rowMap({0, 24.9f, 25, 99.9f, 100, 140}, {0, 0, 0, 0, 0, 0});
    EXPECT_EQ(retardanceHistogram(m, wholeMap(m), 4, 100.0), (std::vector<int>{2, 1, 0, 3}));
    EXPECT_EQ(retardanceHistogram(m, MapRegion{1, 0, 2, 0}, 4, 100.0), (std::vector<int>{1, 1, 0, 0}));
}

// The same value, NaN being the same as NaN.
bool same(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

class MeasureKernels : public ::testing::Test {
  protected:
    void TearDown() override { useMeasureInstructionSet(InstructionSet::kAvx2); }
};

TEST_F(MeasureKernels, Avx2SumsEqualThePlainLoopsBitForBit) {
    if (!useMeasureInstructionSet(InstructionSet::kAvx2)) {
        GTEST_SKIP() << "the processor lacks AVX2";
    }
    // A map of uneven size whose orientations are often missing and now and then outside 0..180 (which the
    // maps never hold, but the statistics fold), with every quantity varied.
    QuantityMaps m;
    m.width = 37;
    m.height = 9;
    std::mt19937 random(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int i = 0; i < m.width * m.height; ++i) {
        const float u = unit(random);
        m.orientationDeg.push_back(u < 0.3f    ? kNone
                                   : u < 0.33f ? 400.0f * u - 150.0f
                                               : 180.0f * unit(random));
        m.retardanceNm.push_back(140.0f * unit(random));
        m.sinD.push_back(unit(random));
        m.transmissionPct.push_back(120.0f * unit(random));
    }
    m.orientationDeg[5] = 179.99998f;
    m.orientationDeg[6] = 0.0f;
    const MapRegion regions[] = {
        wholeMap(m),  {3, 1, 3, 1},  {36, 8, 36, 8}, {2, 0, 2, 8},  {0, 0, 3, 8},
        {1, 2, 5, 6}, {4, 0, 10, 4}, {5, 3, 35, 7},  {0, 7, 36, 8}, {33, 0, 36, 8},
    };
    for (const MapRegion& region : regions) {
        useMeasureInstructionSet(InstructionSet::kScalar);
        const RegionStatistics plain = regionStatistics(m, region);
        const std::vector<int> plainCounts = retardanceHistogram(m, region, 13, 137.0);
        useMeasureInstructionSet(InstructionSet::kAvx2);
        const RegionStatistics fast = regionStatistics(m, region);
        const std::string name = "region " + std::to_string(region.left) + "," + std::to_string(region.top) +
                                 " " + std::to_string(region.width()) + "x" + std::to_string(region.height());
        EXPECT_EQ(fast.pixels, plain.pixels) << name;
        EXPECT_EQ(fast.orientedPixels, plain.orientedPixels) << name;
        const double values[][2] = {{fast.retardanceMeanNm, plain.retardanceMeanNm},
                                    {fast.retardanceSdNm, plain.retardanceSdNm},
                                    {fast.sinDMean, plain.sinDMean},
                                    {fast.orientationMeanDeg, plain.orientationMeanDeg},
                                    {fast.orientationSpreadDeg, plain.orientationSpreadDeg},
                                    {fast.transmissionMeanPct, plain.transmissionMeanPct}};
        for (const auto& v : values) {
            EXPECT_TRUE(same(v[0], v[1])) << name << ": " << v[0] << " against " << v[1];
        }
        EXPECT_EQ(retardanceHistogram(m, region, 13, 137.0), plainCounts) << name;
    }
}

TEST(StatisticsText, ClipboardLinesAndLogCsvCarryHeaderAndValues) {
    const QuantityMaps m = rowMap({1, 2, 3, 4}, {kNone, 60, kNone, 60});
    const MapRegion region{0, 0, 3, 0};
    const RegionStatistics s = regionStatistics(m, region);
    EXPECT_EQ(statisticsClipboardText(region, s),
              "left\ttop\tright\tbottom\tpixels\tretardance_mean_nm\tretardance_sd_nm\tsind_mean\t"
              "orientation_mean_deg\torientation_spread_deg\ttransmission_mean_pct\n"
              "0\t0\t3\t0\t4\t2.5\t1.118033989\t0.1500000041\t60\t0\t15\n");
    const RegionStatistics none = regionStatistics(rowMap({1}, {kNone}), MapRegion{0, 0, 0, 0});
    EXPECT_EQ(statisticsLogCsv({{"2026-12-08T19:00:00+00:00", region, s},
                                {"2026-12-08T19:00:01+00:00", MapRegion{0, 0, 0, 0}, none}}),
              "time,left,top,right,bottom,pixels,retardance_mean_nm,retardance_sd_nm,sind_mean,"
              "orientation_mean_deg,orientation_spread_deg,transmission_mean_pct\n"
              "2026-12-08T19:00:00+00:00,0,0,3,0,4,2.5,1.118033989,0.1500000041,60,0,15\n"
              "2026-12-08T19:00:01+00:00,0,0,0,0,1,1,0,0,,,0\n");
}

} // namespace
} // namespace kestrane
