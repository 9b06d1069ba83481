// kestrane-analyse over a 1000-frame raw recording of the simulated camera, against only reading the file
// that holds it: frames per second of each (the recording is written once, to a temporary directory).
#include "analysis/Quantities.h"
#include "cli/AnalyseCommand.h"
#include "cli/Commands.h"
#include "cli/FramePipeline.h"

#include "MedianReporter.h"
#include "SimulatedRecording.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using namespace kestrane;
namespace fs = std::filesystem;

constexpr int kFrames = 1000;
// A frame of the TIFF stack: four 320 x 240 planes of floats.
constexpr std::uintmax_t kStackFrameBytes = 4 * 320 * 240 * 4;

struct Recording {
    fs::path directory;
    fs::path file;

    Recording() {
        std::string pattern = (fs::temp_directory_path() / "kestrane-bench-XXXXXX").string();
        directory = mkdtemp(pattern.data());
        file = directory / "offline.avi";
        test::writeSimulatedRecording(file.string(), kFrames);
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

// Opens the recording for reading frame by frame; false, with the benchmark skipped, when it cannot.
bool openRecording(benchmark::State& run, AviFrameReader& reader) {
    std::string why;
    std::string note;
    if (!openMovieToAnalyse(reader, recording().file.string(), why, note)) {
        run.SkipWithError(why.c_str());
        return false;
    }
    return true;
}

// The frames decoded into the 32-bit rasters the analysis reads, one after the other: the share of every
// output's work that the workers take in turns.
void BM_DecodeRecordingFrames(benchmark::State& run) {
    Bitmap frame;
    for (auto _ : run) {
        AviFrameReader reader;
        if (!openRecording(run, reader)) {
            return;
        }
        for (std::int32_t n = 0; n < reader.frameCount(); ++n) {
            reader.frame(n, frame);
            benchmark::DoNotOptimize(frame.bits());
        }
    }
    framesPerSecond(run);
}
BENCHMARK(BM_DecodeRecordingFrames)->Unit(benchmark::kMillisecond)->UseRealTime();

// The maps command as the operator runs it: every frame into three PGM files, on `workers` workers (the
// default count, or 0: all on the calling thread).
void BM_AnalyseRecordingToPgm(benchmark::State& run, int workers) {
    const Recording& r = recording();
    const fs::path out = r.directory / "maps";
    fs::create_directories(out);
    std::ostringstream messages;
    setPipelineWorkers(workers);
    for (auto _ : run) {
        if (runAnalyseCommand({r.file.string(), out.string()}, messages) != 0) {
            run.SkipWithError(messages.str().c_str());
            return;
        }
        messages.str({});
    }
    setPipelineWorkers(kDefaultPipelineWorkers);
    if (!fs::exists(out / "sind-00999.pgm")) {
        run.SkipWithError("not every frame was analysed");
    }
    framesPerSecond(run);
}
BENCHMARK_CAPTURE(BM_AnalyseRecordingToPgm, all_cores, kDefaultPipelineWorkers)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_AnalyseRecordingToPgm, one_thread, 0)->Unit(benchmark::kMillisecond)->UseRealTime();

// The four quantities of every frame through the pipeline the TIFF stack is written by, with nothing
// written: what the stack costs before its writer.
void BM_QuantitiesOfRecording(benchmark::State& run, int workers) {
    const Recording& r = recording();
    applyAnalysisOptions(AnalysisOptions{});
    const MeasurementState& state = measurementState();
    std::ostringstream messages;
    setPipelineWorkers(workers);
    double checksum = 0.0;
    for (auto _ : run) {
        AviFrameReader reader;
        if (!openRecording(run, reader)) {
            return;
        }
        analyseMovieFrames<QuantityMaps>(
            reader, r.file.string(), messages,
            [&](const FrameView& frame, QuantityMaps& q) { computeQuantities(frame, state, 546.0, q); },
            [&](std::int32_t, const QuantityMaps& q) { checksum += q.transmissionPct[12345]; });
        messages.str({});
    }
    setPipelineWorkers(kDefaultPipelineWorkers);
    benchmark::DoNotOptimize(checksum);
    framesPerSecond(run);
}
BENCHMARK_CAPTURE(BM_QuantitiesOfRecording, all_cores, kDefaultPipelineWorkers)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_QuantitiesOfRecording, one_thread, 0)->Unit(benchmark::kMillisecond)->UseRealTime();

// Where the TIFF stack goes: memory (/dev/shm) where there is some, so that the figure is the program's and
// not the disk's; on a disk the stack is written no faster than the disk takes 1.2 MB per frame.
fs::path stackDirectory() {
    std::error_code ec;
    const fs::path memory = "/dev/shm";
    const fs::path out = (fs::is_directory(memory, ec) ? memory : recording().directory) /
                         ("kestrane-bench-tiff-" + std::to_string(::getpid()));
    fs::create_directories(out);
    return out;
}

// Whether `file` holds the 1000 frames' 1.2 GB, which it then loses: a run writes a new file, not over the
// last run's, and freeing the memory is not the writer's work.
bool removeWholeStack(benchmark::State& run, const fs::path& file) {
    run.PauseTiming();
    std::error_code ec;
    const bool whole = fs::file_size(file, ec) >= kFrames * kStackFrameBytes;
    fs::remove(file, ec);
    run.ResumeTiming();
    if (!whole) {
        run.SkipWithError("not every frame was written");
    }
    return whole;
}

// Only the writing of the stack's bytes, one frame's 1.2 MB at a time into a new file where the stack goes:
// the speed the stack can never pass, whatever its computation costs.
void BM_WriteStackBytes(benchmark::State& run) {
    const fs::path out = stackDirectory();
    const std::vector<char> frame(kStackFrameBytes, 1);
    for (auto _ : run) {
        const fs::path file = out / "bytes.raw";
        std::FILE* f = std::fopen(file.c_str(), "wb");
        bool written = f != nullptr && std::setvbuf(f, nullptr, _IONBF, 0) == 0;
        for (int n = 0; written && n < kFrames; ++n) {
            written = std::fwrite(frame.data(), 1, frame.size(), f) == frame.size();
        }
        written = f != nullptr && std::fclose(f) == 0 && written;
        if (!written || !removeWholeStack(run, file)) {
            run.SkipWithError("the bytes cannot be written");
            break;
        }
    }
    std::error_code ec;
    fs::remove_all(out, ec);
    framesPerSecond(run);
}
BENCHMARK(BM_WriteStackBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

// The calibrated float TIFF stack as the operator writes it (kestrane-analyse --format=tiff), 1.2 GB for the
// 1000 frames, where BM_WriteStackBytes writes.
void BM_AnalyseRecordingToTiff(benchmark::State& run, int workers) {
    const Recording& r = recording();
    const fs::path out = stackDirectory();
    std::ostringstream messages;
    setPipelineWorkers(workers);
    for (auto _ : run) {
        if (runAnalyseCommand({"--format=tiff", r.file.string(), out.string()}, messages) != 0) {
            run.SkipWithError(messages.str().c_str());
            break;
        }
        messages.str({});
        if (!removeWholeStack(run, out / "maps.tif")) {
            break;
        }
    }
    setPipelineWorkers(kDefaultPipelineWorkers);
    std::error_code ec;
    fs::remove_all(out, ec);
    framesPerSecond(run);
}
BENCHMARK_CAPTURE(BM_AnalyseRecordingToTiff, all_cores, kDefaultPipelineWorkers)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_AnalyseRecordingToTiff, one_thread, 0)->Unit(benchmark::kMillisecond)->UseRealTime();

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

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // Each output against reading the file, the goal being an eighth of its speed at least.
    const auto reading = reporter.medians.find("BM_ReadRecordingFile");
    for (const auto& [name, seconds] : reporter.medians) {
        if (reading != reporter.medians.end() && name != reading->first) {
            std::cout << name << ": " << reading->second / seconds << " of the reading speed\n";
        }
    }
    benchmark::Shutdown();
    return 0;
}
