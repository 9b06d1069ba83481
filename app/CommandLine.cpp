// The program's command line: which camera to use and on which device, or a request for help or the version.
#include "app/CommandLine.h"

#include "app/Version.h"

#include <algorithm>

namespace {

constexpr const char* kHelp =
    "Quantitative polarisation microscopy with a video camera: the |sin(delta)|, extinction and "
    "transmission\n"
    "maps of the four analyser views in every frame, live.\n"
    "\n"
    "  --camera=KIND    v4l2 (the default): the V4L2 device; simulated: the built-in sample;\n"
    "                   auto: the V4L2 device when there is one, the simulated sample otherwise;\n"
    "                   none: no live video (offline work and movie review only)\n"
    "  --device=PATH    the V4L2 device (default /dev/video0)\n"
    "  --help           show this help and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "Environment:\n"
    "  KESTRANE_DATA_DIR    where result clips and the raw recording go (default ~/kestrane/)\n"
    "  KESTRANE_TEST_FRAME  a 640 x 480 BMP frame that stands in for the camera\n"
    "\n"
    "Flat-field backgrounds (kestrane-backgroundintensity4.bmp, ...10.bmp, ...40.bmp) are kept in the\n"
    "current directory. Without a camera the window caption says why.\n";

bool has(const std::vector<std::string>& arguments, const char* word) {
    return std::find(arguments.begin(), arguments.end(), word) != arguments.end();
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine result;
    if (has(arguments, "--help") || has(arguments, "-h")) {
        result.answer = std::string(kUsage) + "\n" + kHelp;
        return result;
    }
    if (has(arguments, "--version")) {
        result.answer = std::string("kestrane ") + kestrane::kVersion + "\n" + kestrane::kLicenceLine + "\n";
        return result;
    }
    for (const std::string& argument : arguments) {
        if (!argument.starts_with("--camera=") && !argument.starts_with("--device=")) {
            result.error = "unknown option '" + argument + "'; " + kUsage;
            return result;
        }
    }
    if (!kestrane::parseCameraOptions(arguments, result.camera, result.error)) {
        result.error += std::string("; ") + kUsage;
    }
    return result;
}
