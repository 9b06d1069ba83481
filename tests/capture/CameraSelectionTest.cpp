// The command-line words that choose the camera, and what each choice connects to.
#include "capture/CameraSelection.h"

#include <gtest/gtest.h>

namespace kestrane {
namespace {

TEST(CameraOptions, ReadsTheCameraWordsAndLeavesTheRest) {
    struct Case {
        std::vector<std::string> arguments;
        CameraKind kind;
        std::string device;
    };
    const Case cases[] = {
        {{}, CameraKind::V4l2, "/dev/video0"},
        {{"kestrane", "--camera=simulated"}, CameraKind::Simulated, "/dev/video0"},
        {{"--camera=auto", "--device=/dev/video2", "-platform", "offscreen"},
         CameraKind::Auto,
         "/dev/video2"},
        {{"--camera=none"}, CameraKind::None, "/dev/video0"},
        {{"--camera=simulated", "--camera=v4l2"}, CameraKind::V4l2, "/dev/video0"},
    };
    for (const Case& c : cases) {
        CameraOptions options;
        std::string error;
        ASSERT_TRUE(parseCameraOptions(c.arguments, options, error)) << error;
        EXPECT_EQ(options.kind, c.kind);
        EXPECT_EQ(options.device, c.device);
    }
}

TEST(CameraOptions, UnknownValuesAreRefusedWithTheirReason) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--camera=webcam"}, std::vector<std::string>{"--device="}}) {
        CameraOptions options;
        options.device = "untouched";
        std::string error;
        EXPECT_FALSE(parseCameraOptions(arguments, options, error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(options.device, "untouched");
    }
}

TEST(CameraSelection, AutoFallsBackToTheSimulatedCameraAndSaysSo) {
    const CameraSelection missing = selectCamera({CameraKind::Auto, "/nonexistent/video7"});
    EXPECT_EQ(missing.kind, CameraKind::Simulated);
    EXPECT_TRUE(missing.simulated());
    // A file that is no capture device does not count either.
    EXPECT_EQ(selectCamera({CameraKind::Auto, "/dev/null"}).kind, CameraKind::Simulated);
    EXPECT_FALSE(selectCamera({CameraKind::V4l2, "/nonexistent/video7"}).simulated());
    EXPECT_FALSE(selectCamera({CameraKind::None, {}}).simulated());
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

} // namespace
} // namespace kestrane
