// A raw recording of the simulated camera's grain sample under its vignetted lamp, written at full speed,
// for the tests and benchmarks of the headless tool.
#pragma once

#include "bench/InstantClock.h"
#include "capture/AviSequenceSink.h"
#include "capture/FrameHandoff.h"
#include "capture/SimulatedCamera.h"

#include <memory>
#include <string>
#include <vector>

namespace kestrane::test {

// `frames` frames of 640 × 480 RGB 24 into an AVI file at `path`, as the raw recorder writes them.
inline void writeSimulatedRecording(const std::string& path, int frames) {
    SimulatedCamera camera(SimulatedCamera::grainRegions(), SimulatedCamera::kVignetting,
                           std::make_shared<InstantClock>());
    camera.open();
    std::unique_ptr<SequenceSink> sink = makeAviSequenceSink(path);
    sink->begin(camera.videoFormat(), SimulatedCamera::kFramePeriodUs);
    struct Append : FrameConsumer {
        SequenceSink& sink;
        explicit Append(SequenceSink& s) : sink(s) {}
        void consume(const VideoHeader& header) override { sink.addFrame(header.data, header.bytesUsed); }
    } append(*sink);
    for (int i = 0; i < frames; ++i) {
        camera.readFrame(append);
    }
    sink->finish();
}

} // namespace kestrane::test
