// Files the operator saves from the review page, written through a temporary file and a rename.
#include "review/SaveFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrane {

namespace {

bool fail(const std::string& path, int code, std::string& error) {
    error = "Cannot write " + path + ": " + std::strerror(code);
    return false;
}

} // namespace

bool saveFile(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error) {
    const std::string temp = path + ".part";
    std::FILE* out = std::fopen(temp.c_str(), "wb");
    if (out == nullptr) {
        return fail(path, errno, error);
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    int code = errno;
    const bool closed = std::fclose(out) == 0;
    if (written && !closed) {
        code = errno;
    }
    if (!written || !closed) {
        std::remove(temp.c_str());
        return fail(path, code, error);
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        code = errno;
        std::remove(temp.c_str());
        return fail(path, code, error);
    }
    return true;
}

bool saveFile(const std::string& path, const std::string& text, std::string& error) {
    return saveFile(path, std::vector<std::uint8_t>(text.begin(), text.end()), error);
}

} // namespace kestrane
