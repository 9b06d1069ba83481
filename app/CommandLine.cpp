// The program's command line: which camera to use and on which device, or a request for help or the version.
#include "app/CommandLine.h"

#include "Version.h"
#include "recording/FrameDecoder.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr const char* kHelp =
    "Quantitative polarisation microscopy with a video camera: the |sin(delta)|, extinction and "
    "transmission\n"
    "maps of the four analyser views in every frame, live.\n"
    "\n"
    "  --camera=KIND    v4l2 (the default): the V4L2 device; simulated: the built-in sample;\n"
    "                   genicam: the first GenICam camera (GigE Vision, USB3 Vision); genicam:ID: the\n"
    "                   camera of that Aravis device id;\n"
    "                   auto: the V4L2 device when there is one, else the first GenICam camera, else\n"
    "                   the simulated sample;\n"
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

bool isSet(const char* variable) {
    return variable != nullptr && *variable != 0;
}

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
        result.answer = std::string("kestrane ") + kestrane::kVersion + "\n" + kestrane::kLicenceLine + "\n" +
                        kestrane::codecDecoderLine() + "\n";
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

std::string missingDisplay(const char* platform, const char* display, const char* waylandDisplay) {
    constexpr const char* kHeadless = "; kestrane-analyse works without one";
    if (!isSet(platform)) {
        // The toolkit picks the X11 or the Wayland platform then, and either needs its display.
        if (isSet(display) || isSet(waylandDisplay)) {
            return "";
        }
        return std::string("kestrane: no display (neither DISPLAY nor WAYLAND_DISPLAY is set)") + kHeadless;
    }
    // A list such as "wayland;xcb" is tried in order: one usable entry is enough.
    std::string missing;
    std::string_view rest(platform);
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find(';'), rest.size());
        const std::string_view entry = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        const std::string_view name = entry.substr(0, entry.find(':')); // options follow a colon
        if (name == "xcb") {
            if (isSet(display)) {
                return "";
            }
            missing = "DISPLAY";
        } else if (name.starts_with("wayland")) {
            if (isSet(waylandDisplay)) {
                return "";
            }
            missing = "WAYLAND_DISPLAY";
        } else if (!name.empty()) {
            return ""; // offscreen, minimal, a frame buffer ...: no display server needed
        }
    }
    if (missing.empty()) {
        return "";
    }
    return "kestrane: no display (" + missing + " is not set)" + kHeadless;
}
