// What the review of a movie takes from the settings file beside it: the clip's MaxSin for the |sin δ|
// scale and the time each frame was taken for the time axis, and the note that says so on the plot.
#pragma once

#include "review/PixelTrace.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrane {

struct ClipSettings {
    std::string fileName; // the settings file's name without its folder
    std::optional<Extended> maxSin;
    std::vector<double> frameTimesS; // one per frame of the movie, or none
};

// The settings beside `movieName`, a movie of `frameCount` frames. Nothing when there is no settings file
// or it gives neither a MaxSin nor a time for every frame (times for only some frames are left out, as a
// time axis half from the file and half counted would mislead). False with the reason when the file is
// there but cannot be read as a settings file.
bool readClipSettings(const std::string& movieName, std::int32_t frameCount,
                      std::optional<ClipSettings>& clip, std::string& error);

// The trace settings of a review: the time step and the scale at the slider's MaxSin, unless the clip brings
// its own MaxSin.
TraceSettings clipTraceSettings(Extended timeStep, MapKind quantity, Extended sliderMaxSin,
                                const ClipSettings* clip);

// The note on the plot: "MaxSin 0.6 and frame times from sind1.json"; empty without clip settings.
std::string clipSettingsNote(const ClipSettings* clip);

} // namespace kestrane
