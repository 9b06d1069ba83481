// The command-line words that choose the camera, and what each choice connects to.
#include "capture/CameraSelection.h"

#include "capture/AravisCamera.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace kestrane {
namespace {

TEST(CameraOptions, ReadsTheCameraWordsAndLeavesTheRest) {
    struct Case {
        std::vector<std::string> arguments;
        CameraKind kind;
        std::string device;
        std::string genicamId{};
    };
    const Case cases[] = {
        {{}, CameraKind::V4l2, "/dev/video0"},
        {{"kestrane", "--camera=simulated"}, CameraKind::Simulated, "/dev/video0"},
        {{"--camera=auto", "--device=/dev/video2", "-platform", "offscreen"},
         CameraKind::Auto,
         "/dev/video2"},
        {{"--camera=none"}, CameraKind::None, "/dev/video0"},
        {{"--camera=simulated", "--camera=v4l2"}, CameraKind::V4l2, "/dev/video0"},
        {{"--camera=genicam"}, CameraKind::Genicam, "/dev/video0", ""},
        // Aravis ids hold colons and dashes of their own.
        {{"--camera=genicam:Maker-M640:00123"}, CameraKind::Genicam, "/dev/video0", "Maker-M640:00123"},
    };
    for (const Case& c : cases) {
        CameraOptions options;
        std::string error;
        ASSERT_TRUE(parseCameraOptions(c.arguments, options, error)) << error;
        EXPECT_EQ(options.kind, c.kind);
        EXPECT_EQ(options.device, c.device);
        EXPECT_EQ(options.genicamId, c.genicamId);
    }
}

TEST(CameraOptions, UnknownValuesAreRefusedWithTheirReason) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--camera=webcam"}, std::vector<std::string>{"--device="},
          std::vector<std::string>{"--camera=genicam:"}}) {
        CameraOptions options;
        options.device = "untouched";
        std::string error;
        EXPECT_FALSE(parseCameraOptions(arguments, options, error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(options.device, "untouched");
    }
}

// Auto asks the probes in order; the tests' probes never reach a device or the network.
TEST(CameraSelection, AutoTakesV4l2ThenGenicamThenTheSimulatedCamera) {
    struct Case {
        bool v4l2;
        std::string genicam;
        CameraKind kind;
        std::string genicamId;
    };
    const Case cases[] = {
        {true, "Fake_1", CameraKind::V4l2, ""},
        {false, "Fake_1", CameraKind::Genicam, "Fake_1"},
        {false, "", CameraKind::Simulated, ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> asked;
        const CameraProbes probes{[&](const std::string& path) {
                                      asked.push_back(path);
                                      return c.v4l2;
                                  },
                                  [&] {
                                      asked.push_back("genicam");
                                      return c.genicam;
                                  }};
        const CameraSelection selection = selectCamera({CameraKind::Auto, "/dev/video3", {}}, probes);
        EXPECT_EQ(selection.kind, c.kind);
        EXPECT_EQ(selection.genicamId, c.genicamId);
        EXPECT_EQ(selection.simulated(), c.kind == CameraKind::Simulated);
        EXPECT_EQ(asked.front(), "/dev/video3");
        EXPECT_EQ(asked.size(), c.v4l2 ? 1u : 2u); // no discovery once a V4L2 device is there
    }
    // Only auto asks at all.
    const CameraProbes refuse{[](const std::string&) -> bool { throw std::logic_error("probed"); },
                              []() -> std::string { throw std::logic_error("discovered"); }};
    EXPECT_EQ(selectCamera({CameraKind::Genicam, {}, "Fake_2"}, refuse).genicamId, "Fake_2");
    EXPECT_FALSE(selectCamera({CameraKind::V4l2, "/nonexistent/video7", {}}, refuse).simulated());
    EXPECT_FALSE(selectCamera({CameraKind::None, {}, {}}, refuse).simulated());
}

// The system's V4L2 probe: a missing path or a file that is no capture device does not count.
TEST(CameraSelection, TheV4l2ProbeTakesOnlyCaptureDevices) {
    const CameraProbes probes = systemCameraProbes();
    EXPECT_FALSE(probes.v4l2("/nonexistent/video7"));
    EXPECT_FALSE(probes.v4l2("/dev/null"));
}

TEST(CameraSelection, OnlyDriverZeroExistsAndNoneNeverOpens) {
    const DriverFactory simulated = driverFactory({CameraKind::Simulated, {}});
    EXPECT_EQ(simulated(1), nullptr);
    ASSERT_NE(simulated(0), nullptr);
    EXPECT_EQ(simulated(0)->open(), 0);
    const DriverFactory none = driverFactory({CameraKind::None, {}});
    ASSERT_NE(none(0), nullptr);
    EXPECT_LT(none(0)->open(), 0);
}

// A build without Aravis still takes --camera=genicam and says why there is no camera.
TEST(CameraSelection, GenicamWithoutSupportSaysSo) {
    if (AravisCamera::supported()) {
        GTEST_SKIP() << "this build has GenICam support (tests/capture/GenicamFakeCameraTest.cpp)";
    }
    const std::unique_ptr<CaptureDriver> camera = driverFactory({CameraKind::Genicam, {}, "Fake_1"})(0);
    EXPECT_EQ(camera->open(), -ENODEV);
    EXPECT_EQ(camera->openFailure(), "this build has no GenICam support");
    EXPECT_EQ(AravisCamera::firstDeviceId(), "");
}

} // namespace
} // namespace kestrane
