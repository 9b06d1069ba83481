// Appending one 370 × 240 clip frame to an AVI file, with the headers brought up to date after every frame,
// at the writer's usual pace, and never: what keeping a recording readable after a crash costs per frame.
#include "recording/AviFile.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 370;
constexpr int kHeight = 240;
// A file is started anew after this many frames, so that the benchmark does not fill the disk.
constexpr int kFramesPerFile = 1000;

std::vector<std::uint8_t> clipFormat() {
    std::vector<std::uint8_t> header(40, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            header[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        }
    };
    put32(0, 40);
    put32(4, kWidth);
    put32(8, kHeight);
    header[12] = 1;
    header[14] = 32;
    put32(20, 4 * kWidth * kHeight);
    return header;
}

struct OpenClip {
    kestrane::AviFile* file = nullptr;
    kestrane::AviStream* stream = nullptr;
    void close() {
        kestrane::AVIStreamRelease(stream);
        kestrane::AVIFileRelease(file);
        stream = nullptr;
        file = nullptr;
    }
};

OpenClip openClip(const std::string& path, std::uint32_t refreshMs) {
    kestrane::AviWriterOptions options;
    options.headerRefreshMs = refreshMs;
    OpenClip clip;
    kestrane::AVIFileOpen(&clip.file, path, kestrane::kOfWrite | kestrane::kOfCreate, options);
    kestrane::AviStreamInfo info;
    info.fccType = kestrane::kStreamTypeVideo;
    info.dwScale = 1;
    info.dwRate = 10;
    info.dwSuggestedBufferSize = 4 * kWidth * kHeight;
    info.rcFrame = {0, 0, kWidth, kHeight};
    kestrane::AVIFileCreateStream(clip.file, &clip.stream, info);
    const std::vector<std::uint8_t> format = clipFormat();
    kestrane::AVIStreamSetFormat(clip.stream, 0, format.data(), static_cast<std::int32_t>(format.size()));
    return clip;
}

void AppendClipFrame(benchmark::State& state) {
    const auto refreshMs = static_cast<std::uint32_t>(state.range(0));
    const std::string path = (std::filesystem::temp_directory_path() / "kestrane-bench-write.avi").string();
    const std::vector<std::uint8_t> pixels(4 * kWidth * kHeight, 0x5a);
    OpenClip clip = openClip(path, refreshMs);
    int n = 0;
    for (auto _ : state) {
        if (n == kFramesPerFile) {
            state.PauseTiming();
            clip.close();
            clip = openClip(path, refreshMs);
            n = 0;
            state.ResumeTiming();
        }
        if (kestrane::AVIStreamWrite(clip.stream, n, 1, pixels.data(),
                                     static_cast<std::int32_t>(pixels.size()),
                                     kestrane::kAviIfKeyframe) != kestrane::kAviOk) {
            state.SkipWithError("the frame could not be written");
            break;
        }
        ++n;
    }
    clip.close();
    std::filesystem::remove(path);
}

} // namespace

// 0: after every frame; 500: the writer's default; the largest value: never (the file is only completed at
// the end).
BENCHMARK(AppendClipFrame)
    ->Arg(0)
    ->Arg(500)
    ->Arg(std::numeric_limits<std::uint32_t>::max())
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
