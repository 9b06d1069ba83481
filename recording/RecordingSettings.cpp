// The settings and frame times beside every recording: NAME.json next to NAME.avi, replaced whole (temporary
// file and rename) when the recording starts and when it ends, so that a reader never sees half a file.
#include "recording/RecordingSettings.h"

#include "Version.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrane {

std::string settingsFileName(const std::string& movieName) {
    const std::size_t slash = movieName.rfind('/');
    const std::size_t dot = movieName.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) {
        return movieName.substr(0, dot) + ".json";
    }
    return movieName + ".json";
}

std::string isoLocalTime(std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    char text[40] = {};
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    // %z gives +0100; ISO 8601's extended form, which every reader takes, wants +01:00.
    std::string iso = text;
    if (iso.size() >= 5) {
        iso.insert(iso.size() - 2, ":");
    }
    return iso;
}

std::optional<FlatFieldFile> flatFieldFileOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return FlatFieldFile{path, isoLocalTime(st.st_mtime)};
}

bool writeFileAtomically(const std::string& fileName, const std::string& text, std::string& error) {
    const std::string temporary = fileName + ".tmp-" + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    int failure = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            failure = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    // On disk before the rename: after a crash the name holds the old or the new text, never an empty file.
    if (failure == 0 && ::fsync(fd) != 0) {
        failure = errno;
    }
    if (::close(fd) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure == 0 && std::rename(temporary.c_str(), fileName.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        std::remove(temporary.c_str());
        error = std::strerror(failure);
        return false;
    }
    return true;
}

namespace {

// Microseconds are what the clock can tell apart here; more digits would only be noise.
double toMicroseconds(double seconds) {
    return std::round(seconds * 1e6) / 1e6;
}

} // namespace

RecordingSettingsFile::RecordingSettingsFile(const std::string& movieName, RecordingSettings settings)
    : fileName_(settingsFileName(movieName)), settings_(std::move(settings)) {}

bool RecordingSettingsFile::start(double framePeriodS) {
    started_ = isoLocalTime(std::time(nullptr));
    framePeriodS_ = framePeriodS;
    times_.clear();
    return write(kStillRecording);
}

bool RecordingSettingsFile::finish(const std::string& ended) {
    return write(ended);
}

void RecordingSettingsFile::discard() {
    std::remove(fileName_.c_str());
}

bool RecordingSettingsFile::write(const std::string& ended) {
    nlohmann::ordered_json doc;
    doc["program"] = std::string("kestrane ") + kVersion;
    doc["kind"] = settings_.kind;
    if (settings_.map) {
        doc["map"] = mapName(*settings_.map);
    }
    doc["started"] = started_;
    doc["camera"] = settings_.camera;
    doc["objective"] = settings_.objective;
    doc["pixel_size_um"] = settings_.pixelSizeUm;
    doc["wavelength_nm"] = settings_.wavelengthNm;
    doc["maxsin"] = settings_.maxSin;
    doc["sind_limit"] = settings_.sindLimit;
    if (settings_.flatField) {
        doc["flat_field"] = {{"path", settings_.flatField->path},
                             {"modified", settings_.flatField->modified}};
    } else {
        doc["flat_field"] = nullptr;
    }
    doc["frame_period_s"] = framePeriodS_;
    doc["frames"] = times_.size();
    nlohmann::ordered_json times = nlohmann::ordered_json::array();
    for (const double t : times_) {
        times.push_back(toMicroseconds(t));
    }
    doc["frame_times_s"] = std::move(times);
    doc["ended"] = ended;
    return writeFileAtomically(fileName_, doc.dump(2) + "\n", error_);
}

namespace {

bool readJson(const std::string& fileName, nlohmann::ordered_json& doc, std::string& error) {
    std::ifstream in(fileName);
    if (!in) {
        error = std::strerror(errno);
        return false;
    }
    doc = nlohmann::ordered_json::parse(in, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        error = "not a settings file (no JSON object)";
        return false;
    }
    return true;
}

} // namespace

bool setRecordingEnded(const std::string& fileName, const std::string& ended, std::string& error) {
    nlohmann::ordered_json doc;
    if (!readJson(fileName, doc, error)) {
        return false;
    }
    doc["ended"] = ended;
    return writeFileAtomically(fileName, doc.dump(2) + "\n", error);
}

bool readRecordedSettings(const std::string& movieName, std::optional<RecordedSettings>& settings,
                          std::string& error) {
    settings.reset();
    const std::string fileName = settingsFileName(movieName);
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0) {
        return true;
    }
    nlohmann::ordered_json doc;
    if (!readJson(fileName, doc, error)) {
        error = fileName + ": " + error;
        return false;
    }
    RecordedSettings read;
    const auto number = [&doc](const char* key) -> std::optional<double> {
        const auto it = doc.find(key);
        if (it == doc.end() || !it->is_number() || !std::isfinite(it->get<double>())) {
            return std::nullopt;
        }
        return it->get<double>();
    };
    if (const auto objective = number("objective");
        objective && (*objective == 4 || *objective == 10 || *objective == 40)) {
        read.objective = static_cast<int>(*objective);
    }
    if (const auto size = number("pixel_size_um"); size && *size > 0) {
        read.pixelSizeUm = size;
    }
    if (const auto wavelength = number("wavelength_nm");
        wavelength && *wavelength >= kMinimumWavelengthNm && *wavelength <= kMaximumWavelengthNm) {
        read.wavelengthNm = wavelength;
    }
    if (const auto maxSin = number("maxsin"); maxSin && *maxSin > 0 && *maxSin <= 1) {
        read.maxSin = maxSin;
    }
    if (const auto it = doc.find("frame_times_s"); it != doc.end() && it->is_array()) {
        for (const auto& t : *it) {
            if (!t.is_number() || !std::isfinite(t.get<double>())) {
                error = fileName + ": frame_times_s holds something other than seconds";
                return false;
            }
            read.frameTimesS.push_back(t.get<double>());
        }
    }
    settings = std::move(read);
    return true;
}

} // namespace kestrane
