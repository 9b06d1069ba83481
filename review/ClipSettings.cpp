// What the review of a movie takes from the settings file beside it: the clip's MaxSin for the |sin δ|
// scale and the time each frame was taken for the time axis, and the note that says so on the plot.
#include "review/ClipSettings.h"

#include "recording/RecordingSettings.h"

#include <cstdio>

namespace kestrane {

bool readClipSettings(const std::string& movieName, std::int32_t frameCount,
                      std::optional<ClipSettings>& clip, std::string& error) {
    clip.reset();
    std::optional<RecordedSettings> recorded;
    if (!readRecordedSettings(movieName, recorded, error)) {
        return false;
    }
    if (!recorded) {
        return true;
    }
    ClipSettings read;
    const std::string fileName = settingsFileName(movieName);
    const std::size_t slash = fileName.find_last_of('/');
    read.fileName = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    if (recorded->maxSin) {
        read.maxSin = static_cast<Extended>(*recorded->maxSin);
    }
    if (frameCount > 0 && recorded->frameTimesS.size() >= static_cast<std::size_t>(frameCount)) {
        read.frameTimesS.assign(recorded->frameTimesS.begin(), recorded->frameTimesS.begin() + frameCount);
    }
    if (read.maxSin || !read.frameTimesS.empty()) {
        clip = std::move(read);
    }
    return true;
}

TraceSettings clipTraceSettings(Extended timeStep, MapKind quantity, Extended sliderMaxSin,
                                const ClipSettings* clip) {
    const bool own = clip != nullptr && clip->maxSin.has_value();
    return TraceSettings{timeStep, traceScale(quantity, own ? *clip->maxSin : sliderMaxSin)};
}

std::string clipSettingsNote(const ClipSettings* clip) {
    if (clip == nullptr) {
        return {};
    }
    std::string taken;
    if (clip->maxSin) {
        char number[32];
        std::snprintf(number, sizeof number, "%g", static_cast<double>(*clip->maxSin));
        taken = std::string("MaxSin ") + number;
    }
    if (!clip->frameTimesS.empty()) {
        taken += taken.empty() ? "frame times" : " and frame times";
    }
    return taken + " from " + clip->fileName;
}

} // namespace kestrane
