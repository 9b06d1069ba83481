// The program's command line: which camera to use and on which device, and nothing else.
#include "app/CommandLine.h"

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine result;
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
