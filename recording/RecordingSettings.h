// The settings and frame times beside every recording: NAME.json next to NAME.avi, replaced whole (temporary
// file and rename) when the recording starts and when it ends, so that a reader never sees half a file.
#pragma once

#include "analysis/Calibration.h"
#include "analysis/MapKind.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace kestrane {

// The background the flat field was computed from: its path and its modification time (ISO 8601).
struct FlatFieldFile {
    std::string path;
    std::string modified;
};

// What the operator had set when a recording started.
struct RecordingSettings {
    std::string kind = "clip";  // "clip" or "raw"
    std::optional<MapKind> map; // clips only
    std::string camera;         // backend, pixel format and frame size, in words
    int objective = 4;
    double pixelSizeUm = scaleBarPixelSizeUm(4);
    double wavelengthNm = kDefaultWavelengthNm;
    double maxSin = 1.0;
    int sindLimit = 15;
    std::optional<FlatFieldFile> flatField;
};

// NAME.json for NAME.avi (any other name gets ".json" added).
std::string settingsFileName(const std::string& movieName);
// A local time in ISO 8601 with its offset from UTC: 2026-12-08T17:20:05+01:00.
std::string isoLocalTime(std::time_t time);
// The flat-field file `path` with its modification time; none when it cannot be looked at.
std::optional<FlatFieldFile> flatFieldFileOf(const std::string& path);
// Writes `text` to a temporary file beside `fileName`, flushes it to disk and renames it into place; false
// with the system's reason, and the earlier file untouched, when that fails.
bool writeFileAtomically(const std::string& fileName, const std::string& text, std::string& error);

// The settings file of one recording as it goes: written when the recording starts, one time per frame
// collected in memory, and written again complete when it ends.
class RecordingSettingsFile {
  public:
    using Clock = std::chrono::steady_clock;

    RecordingSettingsFile(const std::string& movieName, RecordingSettings settings);

    // Writes the start version ("ended" says the recording was still running). False with `error()`.
    bool start(double framePeriodS);
    // Notes a frame written to the movie at `at`; the first frame is time 0.
    void frameWritten(Clock::time_point at = Clock::now()) {
        if (times_.empty()) {
            first_ = at;
        }
        times_.push_back(std::chrono::duration<double>(at - first_).count());
    }
    // Writes the complete version with the words of how the recording ended. False with `error()`.
    bool finish(const std::string& ended);
    // Removes the file: its recording left no movie.
    void discard();

    const std::string& fileName() const { return fileName_; }
    const std::string& error() const { return error_; }
    std::int64_t frames() const { return static_cast<std::int64_t>(times_.size()); }

  private:
    bool write(const std::string& ended);

    std::string fileName_;
    RecordingSettings settings_;
    std::string started_;
    double framePeriodS_ = 0;
    Clock::time_point first_;
    std::vector<double> times_;
    std::string error_;
};

// What "ended" says in a start version: the recording was running when it was written.
inline constexpr const char* kStillRecording =
    "not yet: the recording was still running when this was written";

// Replaces the "ended" words of a settings file written earlier; false with the reason.
bool setRecordingEnded(const std::string& fileName, const std::string& ended, std::string& error);

// What an analysis takes from a movie's settings file.
struct RecordedSettings {
    std::optional<int> objective;
    std::optional<double> pixelSizeUm;
    std::optional<double> wavelengthNm;
    std::optional<double> maxSin; // the |sin δ| full scale of a clip, 0 < maxSin ≤ 1
    std::vector<double> frameTimesS;
};

// Reads the settings file beside `movieName`. Nothing (and no error) when there is none; false with the
// reason when it is there but not a settings file.
bool readRecordedSettings(const std::string& movieName, std::optional<RecordedSettings>& settings,
                          std::string& error);

} // namespace kestrane
