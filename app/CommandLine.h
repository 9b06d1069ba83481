// The program's command line: which camera to use and on which device, and nothing else.
#pragma once

#include "capture/CameraSelection.h"

#include <string>
#include <vector>

struct CommandLine {
    kestrane::CameraOptions camera;
    // Empty when the arguments were understood; otherwise one line saying what is wrong.
    std::string error;
};

constexpr const char* kUsage = "usage: kestrane [--camera=v4l2|simulated|auto|none] [--device=/dev/videoN]";

// Parses the arguments after the program name.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);
