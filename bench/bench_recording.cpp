// kestrane-analyse over a 1000-frame raw recording of the simulated camera, against only reading the file
// that holds it: frames per second of each (the recording is written once, to a temporary directory).
#include "capture/AviSequenceSink.h"
#include "capture/FrameHandoff.h"
#include "capture/SimulatedCamera.h"
#include "cli/AnalyseCommand.h"

#include "InstantClock.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace kestrane;
namespace fs = std::filesystem;

constexpr int kFrames = 1000;

struct Recording {
    fs::path directory;
    fs::path file;

    Recording() {
        std::string pattern = (fs::temp_directory_path() / "kestrane-bench-XXXXXX").string();
        directory = mkdtemp(pattern.data());
        file = directory / "offline.avi";
        SimulatedCamera camera(SimulatedCamera::grainRegions(), SimulatedCamera::kVignetting,
                               std::make_shared<InstantClock>());
        camera.open();
        const std::vector<std::uint8_t> format = camera.videoFormat(); // 640 × 480 RGB 24
        std::unique_ptr<SequenceSink> sink = makeAviSequenceSink(file.string());
        sink->begin(format, SimulatedCamera::kFramePeriodUs);
        struct Append : FrameConsumer {
            SequenceSink& sink;
            explicit Append(SequenceSink& s) : sink(s) {}
            void consume(const VideoHeader& header) override { sink.addFrame(header.data, header.bytesUsed); }
        } append(*sink);
        for (int i = 0; i < kFrames; ++i) {
            camera.readFrame(append);
        }
        sink->finish();
    }
    ~Recording() {
        std::error_code ignored;
        fs::remove_all(directory, ignored);
    }
};

Recording& recording() {
    static Recording r;
    return r;
}

void framesPerSecond(benchmark::State& run) {
    run.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(run.iterations()) * kFrames, benchmark::Counter::kIsRate);
}

void BM_ReadRecordingFile(benchmark::State& run) {
    const Recording& r = recording();
    std::vector<char> buffer(1 << 20);
    for (auto _ : run) {
        std::ifstream in(r.file, std::ios::binary);
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
            benchmark::DoNotOptimize(buffer.data());
        }
    }
    framesPerSecond(run);
}
BENCHMARK(BM_ReadRecordingFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AnalyseRecording(benchmark::State& run) {
    const Recording& r = recording();
    const fs::path out = r.directory / "maps";
    fs::create_directories(out);
    std::ostringstream messages;
    for (auto _ : run) {
        if (runAnalyseCommand({r.file.string(), out.string()}, messages) != 0) {
            run.SkipWithError(messages.str().c_str());
            return;
        }
        messages.str({});
    }
    if (!fs::exists(out / "sind-00999.pgm")) {
        run.SkipWithError("not every frame was analysed");
    }
    framesPerSecond(run);
}
BENCHMARK(BM_AnalyseRecording)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
