// The program's command line: which camera to use and on which device, or a request for help or the version.
#pragma once

#include "capture/CameraSelection.h"

#include <string>
#include <vector>

struct CommandLine {
    kestrane::CameraOptions camera;
    // Empty when the arguments were understood; otherwise one line saying what is wrong.
    std::string error;
    // Set when the arguments ask for this text rather than the window: print it on stdout and exit 0.
    std::string answer;
};

constexpr const char* kUsage = "usage: kestrane [--camera=v4l2|genicam[:ID]|simulated|auto|none] "
                               "[--device=/dev/videoN] [--help] [--version]";

// Parses the arguments after the program name. --help or --version anywhere wins over every other word.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// Why the window cannot open, from the values of QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY (null when
// unset): one line for stderr, or empty when a display (or a platform that needs none) is there. The window
// toolkit would otherwise abort with several lines of its own.
std::string missingDisplay(const char* platform, const char* display, const char* waylandDisplay);
