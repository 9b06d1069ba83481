// The program's command line: which camera to use and on which device.
#include "app/CommandLine.h"

namespace {

std::optional<CameraChoice> cameraNamed(const std::string& name) {
    if (name == "v4l2") {
        return CameraChoice::V4l2;
    }
    if (name == "simulated") {
        return CameraChoice::Simulated;
    }
    if (name == "auto") {
        return CameraChoice::Auto;
    }
    if (name == "none") {
        return CameraChoice::None;
    }
    return std::nullopt;
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    const std::string cameraOption = "--camera=";
    const std::string deviceOption = "--device=";
    CommandLine result;
    for (const std::string& argument : arguments) {
        if (argument.starts_with(cameraOption)) {
            const std::string name = argument.substr(cameraOption.size());
            const std::optional<CameraChoice> camera = cameraNamed(name);
            if (!camera) {
                result.error = "unknown camera '" + name + "'; " + kUsage;
                return result;
            }
            result.capture.camera = *camera;
        } else if (argument.starts_with(deviceOption) && argument.size() > deviceOption.size()) {
            result.capture.device = argument.substr(deviceOption.size());
        } else {
            result.error = "unknown option '" + argument + "'; " + kUsage;
            return result;
        }
    }
    return result;
}
