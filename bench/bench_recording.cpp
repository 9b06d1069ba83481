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
#include <map>
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

// The same recording compressed by ffmpeg as MJPEG and as FFV1, analysed frame by frame through the codec
// library, against BM_AnalyseRecording's uncompressed file. Skipped where ffmpeg is not installed.
namespace {

const fs::path& compressedRecording(const char* name, const char* encode) {
    static std::map<std::string, fs::path> made;
    auto found = made.find(name);
    if (found == made.end()) {
        const Recording& r = recording();
        const fs::path file = r.directory / (std::string(name) + ".avi");
        const std::string command = "ffmpeg -v error -y -i '" + r.file.string() + "' " + encode + " '" +
                                    file.string() + "' >/dev/null 2>&1";
        found = made.emplace(name, std::system(command.c_str()) == 0 ? file : fs::path()).first;
    }
    return found->second;
}

void analyseCompressed(benchmark::State& run, const char* name, const char* encode) {
    const fs::path& file = compressedRecording(name, encode);
    if (file.empty()) {
        run.SkipWithError("ffmpeg could not write the compressed recording");
        return;
    }
    const fs::path out = file.parent_path() / (std::string(name) + "-maps");
    fs::create_directories(out);
    std::ostringstream messages;
    for (auto _ : run) {
        if (runAnalyseCommand({file.string(), out.string()}, messages) != 0) {
            run.SkipWithError(messages.str().c_str());
            return;
        }
        messages.str({});
    }
    framesPerSecond(run);
}

void BM_AnalyseMjpegRecording(benchmark::State& run) {
    analyseCompressed(run, "mjpeg", "-c:v mjpeg -q:v 3");
}
BENCHMARK(BM_AnalyseMjpegRecording)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AnalyseFfv1Recording(benchmark::State& run) {
    analyseCompressed(run, "ffv1", "-c:v ffv1");
}
BENCHMARK(BM_AnalyseFfv1Recording)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
