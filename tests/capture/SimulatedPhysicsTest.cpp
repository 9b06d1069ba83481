// The simulated camera against the analysis: a sample of known |sin δ| and slow axis, grabbed through the
// capture connection and analysed, comes back within what eight-bit quantisation allows.
#include "CaptureTestSupport.h"

#include "analysis/FrameAnalysis.h"
#include "analysis/Tables.h"
#include "capture/SimulatedCamera.h"
#include "capture/YUVConverts.h"

#include "TestTables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace kestrane {
namespace {

constexpr double kDegree = std::numbers::pi / 180.0;

const Tables& tables() {
    return test::builtTables();
}

struct Maps {
    std::unique_ptr<ResultMap> sinD = std::make_unique<ResultMap>();
    std::unique_ptr<ResultMap> extinction = std::make_unique<ResultMap>();
    std::unique_ptr<ResultMap> transmission = std::make_unique<ResultMap>();
};

// Grabs one frame of a simulated sample in a driver layout and analyses it as the live pass does.
Maps analyseSample(SampleField sample, std::uint32_t compression, std::uint16_t bitCount) {
    test::ConnectionRig rig([sample](int index) -> std::unique_ptr<CaptureDriver> {
        return index == 0 ? std::make_unique<SimulatedCamera>(sample) : nullptr;
    });
    rig.start();
    const std::vector<std::uint8_t> request = formatRequest({compression, bitCount, 640, 480, {}});
    rig.window->setVideoFormat(static_cast<std::uint16_t>(request.size()), request.data());
    rig.connection->ReadVideoFormat();
    Bitmap frame;
    std::string error;
    EXPECT_TRUE(rig.connection->grabFrame(frame, error)) << error;
    frame.convertTo32();
    Maps maps;
    computeMaps(frame.view(), tables(), 1.0L,
                ResultMaps{maps.sinD.get(), maps.extinction.get(), maps.transmission.get()});
    return maps;
}

// The bound on the |sin δ| byte: each quadrant byte is off by up to one (plus the channel gain's rounding),
// the half-differences and the mean truncate, and the correction factor may be taken one extinction byte
// away.
double sinDTolerance(double sinD, double transmission) {
    const double mean = transmission / 2.0;
    const double length = mean * sinD / 1.1; // the smallest the vector gets: the factor is at least 1.09
    const double relative = 1.8 / length + 2.0 / mean + 0.01;
    return 255.0 * sinD * relative + 0.5;
}

// The azimuth overlay draws a segment at θ = extinction × π / 255; it must lie along the slow axis.
double overlayError(int extinction, double slowAxis) {
    const double theta = extinction * std::numbers::pi / 255.0;
    double d = std::fmod(std::abs(theta - slowAxis), std::numbers::pi);
    return std::min(d, std::numbers::pi - d);
}

// The analysis confines the angle of its difference vector to arccos(0.99)..arccos(−0.99), about 8° short
// of 0 and π, so slow axes within 4° of 0° or 90° come out at the end of that range.
bool unresolvedAxis(double slowAxis) {
    const double fromAxes = std::fmod(slowAxis, std::numbers::pi / 2.0);
    return std::min(fromAxes, std::numbers::pi / 2.0 - fromAxes) < 5.0 * kDegree;
}

struct Physics {
    double sinD;
    double axisDegrees;
    std::uint32_t compression;
    std::uint16_t bitCount;
};

class RecoveredOptics : public ::testing::TestWithParam<Physics> {};

TEST_P(RecoveredOptics, UniformSampleComesBackEverywhere) {
    const Physics& p = GetParam();
    constexpr double kTransmission = 200.0;
    const Maps maps =
        analyseSample(SimulatedCamera::uniformSample({p.sinD, p.axisDegrees * kDegree, kTransmission}),
                      p.compression, p.bitCount);
    const double tolerance = sinDTolerance(p.sinD, kTransmission);
    double worstSinD = 0.0;
    double worstAxis = 0.0;
    for (int y = 0; y < kMapHeight; ++y) {
        for (int x = 0; x < kMapWidth; ++x) {
            worstSinD = std::max(worstSinD, std::abs(maps.sinD->at(x, y) - 255.0 * p.sinD));
            worstAxis = std::max(worstAxis, overlayError(maps.extinction->at(x, y), p.axisDegrees * kDegree));
            ASSERT_NEAR(maps.transmission->at(x, y), kTransmission / 2.0, 2.0) << x << "," << y;
        }
    }
    EXPECT_LE(worstSinD, tolerance);
    EXPECT_LE(worstAxis, 2.0 * kDegree) << "worst azimuth error " << worstAxis / kDegree << " degrees";
}

INSTANTIATE_TEST_SUITE_P(Samples, RecoveredOptics,
                         ::testing::Values(Physics{0.2, 30, kBiRgb, 24}, Physics{0.5, 60, kBiRgb, 24},
                                           Physics{0.8, 120, kBiRgb, 32}, Physics{0.35, 150, kBiRgb, 24},
                                           Physics{0.6, 100, kFourCcYuy2, 16}, Physics{0.4, 45, kFourCcY8, 8},
                                           Physics{0.7, 75, kFourCcI420, 12}));

// Four fields of different optics: every map pixel away from the field edges reads its own field, which
// holds only when the camera has laid out the sheared quadrants where the registration looks for them.
TEST(RecoveredOptics, FieldsStayInPlaceAcrossTheMap) {
    const auto field = [](int x, int y) {
        return SampleOptics{y < 120 ? 0.3 : 0.7, (x < 160 ? 35.0 : 125.0) * kDegree, 190.0};
    };
    const Maps maps = analyseSample([field](int x, int y, double) { return field(x, y); }, kBiRgb, 24);
    int checked = 0;
    for (int y = 0; y < kMapHeight; ++y) {
        for (int x = 0; x < kMapWidth; ++x) {
            if (std::abs(x - 160) < 10 || std::abs(y - 120) < 10 || registeredRow(x, y) == kMapHeight - 1 ||
                registeredColumn(x, y) == 0) {
                continue;
            }
            const SampleOptics o = field(x, y);
            ASSERT_NEAR(maps.sinD->at(x, y), 255.0 * o.sinD, sinDTolerance(o.sinD, o.transmission))
                << x << "," << y;
            ASSERT_LE(overlayError(maps.extinction->at(x, y), o.slowAxis), 2.0 * kDegree) << x << "," << y;
            ++checked;
        }
    }
    EXPECT_GT(checked, 60000);
}

// The default sample: grains whose optics the analysis finds again wherever it can resolve them.
TEST(RecoveredOptics, GrainSampleIsMostlyRecovered) {
    const SampleField grains = SimulatedCamera::grainSample();
    const Maps maps = analyseSample(grains, kBiRgb, 24);
    int good = 0;
    int total = 0;
    for (int y = 0; y < kMapHeight; y += 3) {
        for (int x = 0; x < kMapWidth; x += 3) {
            const SampleOptics o = grains(x, y, 0.0);
            if (o.sinD < 0.05 || unresolvedAxis(o.slowAxis)) {
                continue;
            }
            ++total;
            good += std::abs(maps.sinD->at(x, y) - 255.0 * o.sinD) <= sinDTolerance(o.sinD, o.transmission) &&
                    overlayError(maps.extinction->at(x, y), o.slowAxis) <= 2.0 * kDegree;
        }
    }
    EXPECT_GT(good, total * 98 / 100) << good << " of " << total;
}

// Every layout carries the same picture the right way up: the |sin δ| map of the grain sample is that of
// RGB 24 but for the few levels YUV quantisation moves. Y211 shares one luma byte between two pixels, which
// blurs the thin grain boundaries; a picture upside down or misplaced differs almost everywhere.
class LayoutMaps : public ::testing::TestWithParam<std::size_t> {};

TEST_P(LayoutMaps, SinDMapIsThatOfRgb24) {
    const DriverLayout& layout = kDriverLayouts[GetParam()];
    const int allowedPercent = layout.compression == kFourCcY211 ? 10 : 1;
    const SampleField grains = SimulatedCamera::grainSample();
    const Maps rgb = analyseSample(grains, kBiRgb, 24);
    const Maps maps = analyseSample(grains, layout.compression, layout.bitCount);
    int far = 0;
    for (int y = 0; y < kMapHeight; ++y) {
        for (int x = 0; x < kMapWidth; ++x) {
            far += std::abs(maps.sinD->at(x, y) - rgb.sinD->at(x, y)) > 10;
        }
    }
    EXPECT_LT(far, kMapWidth * kMapHeight * allowedPercent / 100)
        << layout.label << ": " << far << " pixels off";
}

INSTANTIATE_TEST_SUITE_P(EveryLayout, LayoutMaps, ::testing::Range<std::size_t>(1, kDriverLayouts.size()),
                         [](const auto& info) {
                             std::string name = kDriverLayouts[info.param].label;
                             std::erase(name, ' ');
                             return name;
                         });

} // namespace
} // namespace kestrane
