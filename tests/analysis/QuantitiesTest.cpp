// The quantities with units: hand-made frames of known X, Y, s and |sin δ|, agreement with the display's own
// extinction reading, and the simulated camera's known grains read back.
#include "analysis/Quantities.h"
#include "analysis/FrameAnalysis.h"
#include "analysis/PlainAnalysis.h"
#include "capture/SimulatedCamera.h"

#include "QuadrantFrames.h"
#include "TestTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <numbers>
#include <optional>

namespace kestrane {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

MeasurementState& freshState() {
    static MeasurementState state;
    state = MeasurementState{};
    state.tables = test::builtTables();
    return state;
}

double formulaSinD(int x, int y, int sum) {
    return plain::sinDValue(test::builtTables(), x, y, sum);
}

void expectNear(double actual, double expected, double tolerance, const char* what, const char* name) {
    if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(actual)) << name << ": " << what << " " << actual;
    } else {
        EXPECT_NEAR(actual, expected, tolerance) << name << ": " << what;
    }
}

struct FrameCase {
    const char* name;
    int a, b, c, d;
    int x, y, sum;       // what the channels combine to
    double sinD;         // negative: as the pixel formula gives it
    double orientation;  // degrees
    double transmission; // %
    double wavelength;   // nm
    double retardance;   // nm; negative: arcsin(|sin δ|) × λ / 2π
};

// One table for the rule: every map pixel of a uniform frame carries the quantities of its X, Y, s and v.
TEST(Quantities, UniformFramesGiveTheQuantitiesOfTheirCombination) {
    const FrameCase cases[] = {
        {"worked example", 120, 100, 90, 130, 29, -11, 115, 0.29669440, 100.3861, 45.0980, 546, 26.1764},
        {"worked example in the near infrared", 120, 100, 90, 130, 29, -11, 115, 0.29669440, 100.3861,
         45.0980, 1000, 47.9421},
        {"v capped at 1: a quarter wave; transmission past the byte's 127", 255, 0, 0, 255, 157, -120, 138,
         1.0, 108.6959, 54.1176, 400, 100.0},
        {"zero vector has no orientation", 0, 0, 0, 0, 0, 0, 0, -1, kNaN, 0.0, 546, -1},
        {"Y = 0 with negative X folds 180 to 0", 0, 25, 200, 25, -100, 0, 62, -1, 0.0, 24.3137, 546, -1},
        {"just below 180", 0, 0, 200, 3, -100, -1, 50, -1, 179.7135, 19.6078, 546, -1},
        {"just above 0", 0, 3, 200, 0, -100, 1, 50, -1, 0.2865, 19.6078, 546, -1},
        {"bright field beyond 100 %", 255, 255, 255, 255, 29, 7, 266, -1, 83.2148, 104.3137, 546, -1},
    };
    for (const FrameCase& c : cases) {
        MeasurementState& state = freshState();
        Bitmap frame = test::frameWithQuadrants(c.a, c.b, c.c, c.d);
        QuantityMaps q;
        computeQuantities(frame.view(), state, c.wavelength, q);
        ASSERT_EQ(q.sinD.size(), static_cast<std::size_t>(kMapWidth * kMapHeight));
        const double sinD = c.sinD >= 0 ? c.sinD : formulaSinD(c.x, c.y, c.sum);
        for (std::size_t at : {std::size_t{0}, std::size_t{kMapWidth * kMapHeight - 1}, std::size_t{12345}}) {
            expectNear(q.sinD[at], sinD, 1e-6, "|sin delta|", c.name);
            expectNear(q.orientationDeg[at], c.orientation, 1e-4, "orientation", c.name);
            expectNear(q.transmissionPct[at], c.transmission, 1e-4, "transmission", c.name);
            const double nm =
                c.retardance >= 0 ? c.retardance : std::asin(sinD) * c.wavelength / (2.0 * std::numbers::pi);
            expectNear(q.retardanceNm[at], nm, 1e-4, "retardance", c.name);
        }
    }
}

TEST(Quantities, TopRowFirstWithTheRegistrationAndFlatFieldOfThePass) {
    // The map pixel (300, 0) reads C and D at frame row 8 + 240, through a flat field that halves every
    // sample. Map row 0 is the bottom of the picture, so it is the last row out.
    MeasurementState& state = freshState();
    for (int x = 0; x < kFrameWidth; ++x) {
        for (int y = 0; y < kFrameHeight; ++y) {
            state.FlatFieldGain.at(x, y) = 0.5f;
        }
    }
    state.FlatFieldOn = 1;
    Bitmap frame(kFrameWidth, kFrameHeight, 32);
    FrameView v = frame.view();
    v.pixel(300, 0)[2] = 240;
    v.pixel(620, 0)[2] = 200;
    v.pixel(300, 248)[2] = 180;
    v.pixel(620, 248)[2] = 255; // 127.5 goes to the even 128, which gains to 120
    const Bitmap original = frame;
    const MeasurementState before = state;
    QuantityMaps q;
    computeQuantities(frame.view(), state, 546.0, q);
    const std::size_t bottom = static_cast<std::size_t>((kMapHeight - 1) * kMapWidth + 300);
    EXPECT_NEAR(q.transmissionPct[bottom], 100.0 * ((100 + 148 + 120 + 90) / 4) / 255.0, 1e-4);
    EXPECT_NEAR(q.orientationDeg[bottom], orientationDegrees(29, -10), 1e-4);
    EXPECT_TRUE(std::isnan(q.orientationDeg[300])) << "the top row is dark";
    EXPECT_EQ(frame, original);
    EXPECT_EQ(std::memcmp(&before.SinDMap, &state.SinDMap, sizeof(ResultMap)), 0);
}

// A frame of the simulated camera's grain sample under even light, and the sample itself.
struct GrainFrame {
    Bitmap frame{kFrameWidth, kFrameHeight, 32};
    RegionSample sample = SimulatedCamera::grainRegions();
    double seconds;

    explicit GrainFrame(std::uint64_t index) : seconds(index * SimulatedCamera::kFramePeriodUs / 1e6) {
        SimulatedCamera camera(SimulatedCamera::grainRegions(), 0.0, nullptr);
        const std::vector<std::uint8_t>& grey = camera.renderReference(index);
        FrameView v = frame.view();
        for (int y = 0; y < kFrameHeight; ++y) {
            for (int x = 0; x < kFrameWidth; ++x) {
                v.pixel(x, y)[2] = grey[static_cast<std::size_t>((kFrameHeight - 1 - y) * kFrameWidth + x)];
            }
        }
    }
    // The optics at output index `at` (top row first), or none on a grain boundary.
    std::optional<SampleOptics> optics(std::size_t at) const {
        const std::size_t x = at % kMapWidth;
        const std::size_t y = kMapHeight - 1 - at / kMapWidth;
        const std::int32_t region = sample.region[y * kMapWidth + x];
        if (region == sample.regions - 1) {
            return std::nullopt;
        }
        return sample.optics(region, seconds);
    }
};

double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

double axialDifference(double a, double b) {
    const double d = std::fmod(std::abs(a - b), 180.0);
    return std::min(d, 180.0 - d);
}

TEST(Quantities, OrientationAgreesWithTheExtinctionByteOutsideItsDeadZones) {
    GrainFrame grains(0);
    MeasurementState& state = freshState();
    analyseFrame(grains.frame.view(), state);
    QuantityMaps q;
    computeQuantities(grains.frame.view(), state, 546.0, q);
    std::vector<double> differences;
    for (int r = 0; r < kMapHeight; ++r) {
        for (int x = 0; x < kMapWidth; ++x) {
            const auto at = static_cast<std::size_t>(r * kMapWidth + x);
            const double orientation = q.orientationDeg[at];
            // The byte stands still within about 4° of the axes, where the cosine is held at ±0.99.
            if (!(q.sinD[at] >= 0.1) || axialDifference(orientation, 0.0) < 6.0 ||
                axialDifference(orientation, 90.0) < 6.0) {
                continue;
            }
            const double reading = state.ExtinctionMap.at(x, kMapHeight - 1 - r) * 180.0 / 255.0;
            differences.push_back(axialDifference(orientation, reading));
        }
    }
    ASSERT_GT(differences.size(), 20000u);
    const double largest = *std::max_element(differences.begin(), differences.end());
    std::printf("orientation against the extinction byte: %zu pixels, median %.3f°, largest %.3f°\n",
                differences.size(), median(differences), largest);
    // The byte's 41 steps per radian are 1 % steeper than its reading of 180/255 degrees a step, and it
    // starts at 128 rather than 127.5: the reading is off by up to 1.2° at the ends of its range, on top of
    // its rounding.
    EXPECT_LT(median(differences), 0.6);
    EXPECT_LT(largest, 2.0);
}

TEST(Quantities, SimulatedGrainsComeBackWithTheirSlowAxisAndSinD) {
    std::vector<double> orientationErrors;
    std::vector<double> sinDErrors;
    for (std::uint64_t index : {0u, 400u, 1100u}) { // the axes turn 6° a second
        GrainFrame grains(index);
        MeasurementState& state = freshState();
        QuantityMaps q;
        computeQuantities(grains.frame.view(), state, 546.0, q);
        for (std::size_t at = 0; at < q.sinD.size(); ++at) {
            const std::optional<SampleOptics> truth = grains.optics(at);
            if (!truth || truth->sinD < 0.1) {
                continue;
            }
            orientationErrors.push_back(
                axialDifference(q.orientationDeg[at], truth->slowAxis * 180.0 / std::numbers::pi));
            sinDErrors.push_back(std::abs(q.sinD[at] - truth->sinD));
        }
    }
    ASSERT_GT(orientationErrors.size(), 100000u);
    const double orientationMedian = median(orientationErrors);
    const double sinDMedian = median(sinDErrors);
    std::printf("simulated grains, %zu pixels: median orientation error %.3f°, median |sin d| error %.4f\n",
                orientationErrors.size(), orientationMedian, sinDMedian);
    EXPECT_LT(orientationMedian, 1.0);
    EXPECT_LT(sinDMedian, 0.02);
}

} // namespace
} // namespace kestrane
