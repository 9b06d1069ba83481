// The program's command line: which camera to use and on which device.
#pragma once

#include <optional>
#include <string>
#include <vector>

enum class CameraChoice { V4l2, Simulated, Auto, None };

struct CaptureOptions {
    CameraChoice camera = CameraChoice::V4l2;
    std::string device = "/dev/video0";
};

struct CommandLine {
    CaptureOptions capture;
    // Empty when the arguments were understood; otherwise one line saying what is wrong.
    std::string error;
};

constexpr const char* kUsage = "usage: kestrane [--camera=v4l2|simulated|auto|none] [--device=/dev/videoN]";

// Parses the arguments after the program name.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);
