// The command line and the data directory.
#include "app/CommandLine.h"
#include "app/DataDirectory.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace {

struct ParseCase {
    std::vector<std::string> arguments;
    kestrane::CameraKind camera;
    std::string device;
    bool accepted;
};

class CommandLineParsing : public ::testing::TestWithParam<ParseCase> {};

TEST_P(CommandLineParsing, TakesTheCameraAndDeviceOrSaysWhatIsWrong) {
    const ParseCase& c = GetParam();
    const CommandLine line = parseCommandLine(c.arguments);
    EXPECT_EQ(line.error.empty(), c.accepted) << line.error;
    if (c.accepted) {
        EXPECT_EQ(line.camera.kind, c.camera);
        EXPECT_EQ(line.camera.device, c.device);
    } else {
        EXPECT_NE(line.error.find("usage: kestrane"), std::string::npos);
        EXPECT_EQ(line.error.find('\n'), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineParsing,
    ::testing::Values(
        ParseCase{{}, kestrane::CameraKind::V4l2, "/dev/video0", true},
        ParseCase{{"--camera=none"}, kestrane::CameraKind::None, "/dev/video0", true},
        ParseCase{{"--camera=auto", "--device=/dev/video2"}, kestrane::CameraKind::Auto, "/dev/video2", true},
        ParseCase{{"--device=/dev/video1", "--camera=simulated"},
                  kestrane::CameraKind::Simulated,
                  "/dev/video1",
                  true},
        ParseCase{{"--camera=v4l2"}, kestrane::CameraKind::V4l2, "/dev/video0", true},
        ParseCase{{"--camera=webcam"}, kestrane::CameraKind::V4l2, "", false},
        ParseCase{{"--camera"}, kestrane::CameraKind::V4l2, "", false},
        ParseCase{{"--device="}, kestrane::CameraKind::V4l2, "", false},
        ParseCase{{"-platform", "offscreen"}, kestrane::CameraKind::V4l2, "", false},
        ParseCase{{"movie.avi"}, kestrane::CameraKind::V4l2, "", false}));

TEST(CommandLine, SaysInOneLineWhenThereIsNoDisplay) {
    const struct {
        const char* platform;
        const char* display;
        const char* wayland;
        const char* missing; // null: the window can open
    } cases[] = {
        {nullptr, nullptr, nullptr, "neither DISPLAY nor WAYLAND_DISPLAY"},
        {"", "", "", "neither DISPLAY nor WAYLAND_DISPLAY"},
        {nullptr, ":0", nullptr, nullptr},
        {nullptr, nullptr, "wayland-0", nullptr},
        {"xcb", nullptr, "wayland-0", "DISPLAY"},
        {"xcb", ":1", nullptr, nullptr},
        {"wayland", ":0", nullptr, "WAYLAND_DISPLAY"},
        {"wayland;xcb", ":0", nullptr, nullptr},
        {"offscreen", nullptr, nullptr, nullptr},
        {"vnc:size=800x600", nullptr, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        const std::string said = missingDisplay(c.platform, c.display, c.wayland);
        const std::string label = c.platform != nullptr ? c.platform : "(unset)";
        if (c.missing == nullptr) {
            EXPECT_EQ(said, "") << label;
            continue;
        }
        EXPECT_TRUE(said.starts_with("kestrane: no display (")) << said;
        EXPECT_NE(said.find(c.missing), std::string::npos) << said;
        EXPECT_NE(said.find("kestrane-analyse"), std::string::npos) << said;
        EXPECT_EQ(said.find('\n'), std::string::npos) << said;
    }
}

TEST(DataDirectory, FollowsTheEnvironmentAndEndsInASlash) {
    const std::filesystem::path base = std::filesystem::temp_directory_path() / "kestrane-data-dir-test";
    std::filesystem::remove_all(base);
    setenv("KESTRANE_DATA_DIR", (base / "a" / "b").c_str(), 1);
    EXPECT_EQ(kestrane::DataDirectory(), (base / "a" / "b").string() + "/");
    EXPECT_FALSE(std::filesystem::exists(base));
    EXPECT_TRUE(kestrane::createDataDirectory());
    EXPECT_TRUE(std::filesystem::is_directory(base / "a" / "b"));

    unsetenv("KESTRANE_DATA_DIR");
    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    setenv("HOME", base.c_str(), 1);
    EXPECT_EQ(kestrane::DataDirectory(), base.string() + "/kestrane/");
    setenv("HOME", home.c_str(), 1);
    std::filesystem::remove_all(base);
}

} // namespace
