// Where the program writes its clips and raw recordings, and reads "offline.avi" back.
#include "app/DataDirectory.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace kestrane {

std::string DataDirectory() {
    std::string directory;
    if (const char* configured = std::getenv("KESTRANE_DATA_DIR");
        configured != nullptr && *configured != 0) {
        directory = configured;
    } else {
        const char* home = std::getenv("HOME");
        directory = std::string(home != nullptr ? home : ".") + "/kestrane/";
    }
    if (directory.back() != '/') {
        directory += '/';
    }
    return directory;
}

bool createDataDirectory() {
    std::error_code error;
    std::filesystem::create_directories(DataDirectory(), error);
    return !error && std::filesystem::is_directory(DataDirectory(), error);
}

} // namespace kestrane
