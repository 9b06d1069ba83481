// The simulated camera as a camera: frames in real time with grabs that wait for the next one, pictures
// worked out per region equal to those worked out per pixel, and a flat field taken with the sample out of
// the beam that removes the vignetting from the maps.
#include "CaptureTestSupport.h"

#include "analysis/FlatField.h"
#include "analysis/FrameAnalysis.h"
#include "analysis/Quantities.h"
#include "capture/FrameHandoff.h"
#include "capture/GrabCounters.h"
#include "capture/SimulatedCameraKernels.h"
#include "imaging/CpuFeatures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <numeric>

namespace kestrane {
namespace {

using std::chrono::microseconds;
using test::ConnectionRig;
using test::SteppedClock;

struct NotedFrame : FrameConsumer {
    std::uint32_t timeMs = 0;
    int frames = 0;
    void consume(const VideoHeader& header) override {
        timeMs = header.timeCapturedMs;
        ++frames;
    }
};

struct Step {
    int pauseUs;      // how long the caller is busy before the read
    int frame;        // the frame the read delivers
    int clockAfterUs; // when the read returns
};

TEST(SimulatedCameraPace, ReadsTakeTheNewestFrameOrWaitForTheNext) {
    const Step steps[] = {
        {0, 0, 0},           // frame 0 is there at once
        {0, 1, 35000},       // nothing new: the read waits a whole period
        {10000, 2, 70000},   // part of a period
        {100000, 4, 170000}, // the caller was slow: frame 3 is never seen
        {0, 5, 175000},      // and the next read waits only for the rest of the period
        {35000, 6, 210000},  // exactly on time
    };
    auto clock = std::make_shared<SteppedClock>();
    SimulatedCamera camera(SimulatedCamera::grainRegions(), 0.0, clock);
    ASSERT_EQ(camera.open(), 0);
    for (const Step& step : steps) {
        clock->advance(microseconds(step.pauseUs));
        NotedFrame noted;
        ASSERT_EQ(camera.readFrame(noted), 0);
        EXPECT_EQ(noted.frames, 1);
        EXPECT_EQ(camera.lastFrame(), step.frame);
        EXPECT_EQ(noted.timeMs, static_cast<std::uint32_t>(step.frame * 35));
        EXPECT_EQ(clock->now().count(), step.clockAfterUs) << "frame " << step.frame;
    }
}

TEST(SimulatedCameraPace, RealClockDeliversAboutOneFramePerPeriod) {
    SimulatedCamera camera;
    ASSERT_EQ(camera.open(), 0);
    NotedFrame noted;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(camera.readFrame(noted), 0);
    }
    // Three waits of a period each; how much longer a loaded machine takes is not the camera's doing.
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              microseconds(3 * SimulatedCamera::kFramePeriodUs - 1000));
    EXPECT_GE(camera.lastFrame(), 3);
}

// The counters behind KESTRANE_LIVE_STATS: every grab counts, and so does every camera frame that came and
// went between two grabs.
TEST(SimulatedCameraPace, GrabCountersSeeTheFramesNobodyTook) {
    struct GrabStep {
        int pauseUs;
        std::uint64_t skipped;
    };
    const GrabStep steps[] = {{0, 0}, {0, 0}, {100000, 1}, {35000, 0}, {200000, 5}};
    auto clock = std::make_shared<SteppedClock>();
    ConnectionRig rig(test::steppedSimulatedDrivers(0.0, clock));
    rig.start();
    for (const GrabStep& step : steps) {
        clock->advance(microseconds(step.pauseUs));
        const std::uint64_t frames = grabCounters().frames.load();
        const std::uint64_t skipped = grabCounters().skipped.load();
        rig.connection->BtnGrabFrameNoStopClick();
        EXPECT_EQ(grabCounters().frames.load() - frames, 1u);
        EXPECT_EQ(grabCounters().skipped.load() - skipped, step.skipped)
            << "after a pause of " << step.pauseUs;
    }
}

// The camera's pictures come from per-region optics; a sample given pixel by pixel must look the same.
TEST(SimulatedCameraPictures, RegionsGiveThePicturesOfThePixelByPixelSample) {
    for (const double vignetting : {0.0, SimulatedCamera::kVignetting}) {
        SimulatedCamera regions(SimulatedCamera::grainRegions(), vignetting,
                                std::make_shared<SteppedClock>());
        SimulatedCamera pixels(SimulatedCamera::grainSample(), vignetting, std::make_shared<SteppedClock>());
        for (const std::uint64_t frame : {0u, 57u, 1713u}) {
            ASSERT_EQ(regions.renderReference(frame), pixels.renderReference(frame))
                << "frame " << frame << ", vignetting " << vignetting;
        }
    }
}

// The camera's controls eight pixels at a time give the bytes of the formula rounded half away from zero
// and clamped, at the halves, below 0 and past 255 too, for a view divided by its gain or not.
TEST(SimulatedCameraPictures, TheAvx2ControlsRoundAndClampAsTheFormula) {
    if (!cpuFeatures().avx2) {
        GTEST_SKIP() << "the processor lacks AVX2";
    }
    const double values[16] = {0,        0.49999999999999994,
                               0.5,      1.5,
                               2.5,      12.5,
                               127.5,    254.4,
                               254.5,    255.5,
                               300,      -0.5,
                               -3,       1e-300,
                               99.99999, 64};
    double columnSquares[16];
    for (int c = 0; c < 16; ++c) {
        columnSquares[c] = c % 3 == 0 ? 0.0 : 0.0625 * c;
    }
    const CameraControls settings[] = {{1, 1, 1, 0}, {1.5, 1.3, 1.2, 10}, {0.1, 4, 2, -64}, {4, 4, 0.5, 64}};
    for (const CameraControls& k : settings) {
        for (const double vignetting : {0.0, 0.2}) {
            for (const double divisor : {1.0, 1.23}) {
                std::uint8_t out[16];
                ASSERT_EQ(cameraLineAvx2(values, columnSquares, 0.3, vignetting, divisor, k, out, 16), 16);
                for (int c = 0; c < 16; ++c) {
                    const double light =
                        values[c] / divisor * (1.0 - vignetting * (columnSquares[c] + 0.3) / 2.0);
                    const long expected =
                        std::clamp(std::lround((light * k.exposure * k.gain - 128.0) * k.contrast + 128.0 +
                                               k.brightness),
                                   0L, 255L);
                    EXPECT_EQ(out[c], expected) << "value " << values[c] << " with exposure " << k.exposure
                                                << ", vignetting " << vignetting << ", divisor " << divisor;
                }
            }
        }
    }
}

// Grabs one frame through the capture connection as the live pass does, converted to 32 bits.
Bitmap grab(ConnectionRig& rig) {
    Bitmap frame;
    std::string error;
    EXPECT_TRUE(rig.connection->grabFrame(frame, error)) << error;
    frame.convertTo32();
    return frame;
}

// What "Features" puts in the beam: the bare light, the sample or a blank slide.
void putInBeam(ConnectionRig& rig, std::int32_t what) {
    rig.dialogs.sourceChanges = {{SimulatedCamera::kSampleInBeam, what}};
    rig.connection->FeaturesClick();
}

void putSampleInBeam(ConnectionRig& rig, bool in) {
    putInBeam(rig, in ? SimulatedCamera::kSampleInBeamValue : SimulatedCamera::kBareLightInBeam);
}

TEST(SimulatedCameraPictures, WithoutTheSampleTheCameraSeesTheVignettedLight) {
    ConnectionRig rig(test::steppedSimulatedDrivers());
    rig.start();
    putSampleInBeam(rig, false);
    const Bitmap bare = grab(rig);
    // Rows bottom-up: the centre at the mean light, the corners darker by the vignetting, no quadrants.
    const auto red = [&](int x, int y) { return bare.row(y)[4 * x + 2]; };
    EXPECT_NEAR(red(320, 240), SimulatedCamera::kBareLight, 1.0);
    const double corner = SimulatedCamera::kBareLight * (1.0 - SimulatedCamera::kVignetting);
    for (const auto& [x, y] : {std::pair{0, 0}, {639, 0}, {0, 479}, {639, 479}}) {
        EXPECT_NEAR(red(x, y), corner, 1.5) << x << "," << y;
    }
    EXPECT_EQ(red(319, 240), red(320, 240)) << "the light has no seam between the quadrants";
    EXPECT_EQ(red(320, 239), red(320, 240));

    putSampleInBeam(rig, true);
    const Bitmap sample = grab(rig);
    EXPECT_NE(std::memcmp(sample.bits(), bare.bits(), sample.sizeBytes()), 0);
}

struct MapsAgree {
    // Share of map pixels near the reference maps: |sin δ| within ±6, what re-quantising the quadrants
    // allows for a bright grain, the others within ±2.
    double transmission, sinD, extinction;
};

MapsAgree agreement(const MeasurementState& maps, const MeasurementState& reference) {
    int transmission = 0;
    int sinD = 0;
    int extinction = 0;
    for (int y = 0; y < kMapHeight; ++y) {
        for (int x = 0; x < kMapWidth; ++x) {
            transmission += std::abs(maps.TransmissionMap.at(x, y) - reference.TransmissionMap.at(x, y)) <= 2;
            sinD += std::abs(maps.SinDMap.at(x, y) - reference.SinDMap.at(x, y)) <= 6;
            extinction += std::abs(maps.ExtinctionMap.at(x, y) - reference.ExtinctionMap.at(x, y)) <= 2;
        }
    }
    const double pixels = kMapWidth * kMapHeight;
    return {transmission / pixels, sinD / pixels, extinction / pixels};
}

// The flat field recorded with the sample out of the beam takes the vignetting out of the maps: they come
// close to those of the same sample under even light, where the uncorrected maps do not.
TEST(SimulatedCameraPictures, FlatFieldFromTheBareLightRemovesTheVignetting) {
    ConnectionRig vignetted(test::steppedSimulatedDrivers());
    vignetted.start();
    buildTables(vignetted.state->tables);
    putSampleInBeam(vignetted, false);
    Bitmap background = grab(vignetted); // frame 0
    ASSERT_TRUE(computeFlatFieldGains(background, *vignetted.state));
    vignetted.state->FlatFieldOn = 1;
    putSampleInBeam(vignetted, true);
    Bitmap frame = grab(vignetted); // frame 1
    analyseFrame(frame.view(), *vignetted.state);

    ConnectionRig even(test::steppedSimulatedDrivers(0.0));
    even.start();
    buildTables(even.state->tables);
    grab(even);
    analyseFrame(grab(even).view(), *even.state);

    const MapsAgree corrected = agreement(*vignetted.state, *even.state);
    EXPECT_GT(corrected.transmission, 0.99);
    EXPECT_GT(corrected.sinD, 0.95);
    EXPECT_GT(corrected.extinction, 0.93);

    vignetted.state->FlatFieldOn = 0;
    analyseFrame(frame.view(), *vignetted.state);
    const MapsAgree uncorrected = agreement(*vignetted.state, *even.state);
    // Each quadrant lies under another part of the vignetting, so uncorrected even the ratios go wrong.
    EXPECT_LT(uncorrected.transmission, 0.5);
    EXPECT_LT(uncorrected.sinD, 0.6);
    EXPECT_LT(uncorrected.extinction, 0.6);
}

// The zero an operator checks: a background recorded on the bare light as "Intensitycorrection" does (the
// mean of 16 frames), then a blank slide with the optics in. Vignetting, the uneven light of the optics and
// the channel gains cancel, so |sin δ| reads near nothing while the transmission keeps the optics' light.
TEST(SimulatedCameraPictures, BlankSlideReadsNearZeroOnTheBareLightBackground) {
    ConnectionRig rig(test::steppedSimulatedDrivers());
    rig.start();
    MeasurementState& state = *rig.state;
    buildTables(state.tables);
    putInBeam(rig, SimulatedCamera::kBareLightInBeam);
    FrameAverager averager;
    for (int i = 0; i < kBackgroundFrames; ++i) {
        ASSERT_TRUE(averager.add(grab(rig)));
    }
    Bitmap background = averager.mean();
    ASSERT_TRUE(computeFlatFieldGains(background, state));
    state.FramePixels = nullptr;
    state.FlatFieldOn = 1;

    putInBeam(rig, SimulatedCamera::kBlankSlideInBeam);
    Bitmap blank = grab(rig);
    QuantityMaps maps;
    computeQuantities(blank.view(), state, 546.0, maps);
    const double meanSinD = std::accumulate(maps.sinD.begin(), maps.sinD.end(), 0.0) / maps.sinD.size();
    std::cout << "blank slide on the bare-light background: mean |sin d| " << meanSinD << "\n";
    EXPECT_LT(meanSinD, 0.02);
    const auto [dimmest, brightest] =
        std::minmax_element(maps.transmissionPct.begin(), maps.transmissionPct.end());
    EXPECT_GT(*dimmest, 35.0) << "the optics' light reaches every pixel";
    EXPECT_LT(*brightest, 50.0) << "the optics pass less than the bare light";

    // The grains of the sample stand far above that zero.
    putInBeam(rig, SimulatedCamera::kSampleInBeamValue);
    Bitmap sample = grab(rig);
    computeQuantities(sample.view(), state, 546.0, maps);
    EXPECT_GT(std::accumulate(maps.sinD.begin(), maps.sinD.end(), 0.0) / maps.sinD.size(), 0.2);
}

} // namespace
} // namespace kestrane
