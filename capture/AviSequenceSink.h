// The capture file of a streaming capture as an AVI file: one uncompressed video stream of the delivered
// frames, complete and readable however the capture ends.
#pragma once

#include "capture/CaptureDriver.h"

#include <memory>
#include <string>

namespace kestrane {

// Creates (or replaces) the AVI file `fileName` for a streaming capture.
std::unique_ptr<SequenceSink> makeAviSequenceSink(const std::string& fileName);

// Sinks for every capture file name: what the capture window uses unless told otherwise.
SequenceSinkFactory aviSequenceSinks();

} // namespace kestrane
