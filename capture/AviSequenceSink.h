// The capture file of a streaming capture as an AVI file: one uncompressed video stream of the delivered
// frames, complete and readable however the capture ends.
#pragma once

#include "capture/CaptureDriver.h"
#include "recording/RecordingSettings.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kestrane {

// What a capture ended by its time limit or a stop says in its settings file until the window, which knows
// which of them it was, puts its own words there.
inline constexpr const char* kCaptureEnded = "the capture ended";

// Creates the AVI file `fileName` for a streaming capture. With `settings`, its settings file is written
// when the stream starts, gets the time of every frame as the capture thread writes it and is completed
// when the capture ends.
std::unique_ptr<SequenceSink> makeAviSequenceSink(const std::string& fileName,
                                                  std::optional<RecordingSettings> settings = std::nullopt);

// The settings of the capture about to start; none for a capture without a settings file.
using CaptureSettingsSource = std::function<std::optional<RecordingSettings>()>;

// Sinks for every capture file name: what the capture window uses unless told otherwise.
SequenceSinkFactory aviSequenceSinks(CaptureSettingsSource settings = {});

} // namespace kestrane
