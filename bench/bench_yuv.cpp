// Converting one 640 × 480 YUY2 camera frame into 32-bit pixels, as every grab does: frames per second
// (the median of the repetitions is the figure to quote).
#include "capture/YUVConverts.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

std::vector<std::uint8_t> cameraFrame() {
    std::vector<std::uint8_t> frame(2 * kWidth * kHeight);
    std::mt19937 random(7);
    for (std::uint8_t& byte : frame) {
        byte = static_cast<std::uint8_t>(random());
    }
    return frame;
}

void reportFramesPerSecond(benchmark::State& state) {
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void Yuy2Frame(benchmark::State& state) {
    const std::vector<std::uint8_t> source = cameraFrame();
    std::vector<std::uint8_t> output(4 * kWidth * kHeight);
    for (auto _ : state) {
        kestrane::ConvertFrame(kestrane::kFormatYuy2, source.data(), output.data(), kWidth, kHeight);
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    reportFramesPerSecond(state);
}

// The same frame through the extended-precision formula pixel by pixel: what the integer form saves.
void Yuy2FrameExtendedFormula(benchmark::State& state) {
    const std::vector<std::uint8_t> source = cameraFrame();
    std::vector<std::uint8_t> output(4 * kWidth * kHeight);
    for (auto _ : state) {
        for (int line = 0; line < kHeight; ++line) {
            const std::uint8_t* src = source.data() + 2 * kWidth * line;
            std::uint8_t* dst = output.data() + 4 * kWidth * (kHeight - 1 - line);
            for (int pair = 0; pair < kWidth / 2; ++pair, src += 4, dst += 8) {
                const std::uint32_t first = kestrane::YuvToBgr(src[0], src[1], src[3]);
                const std::uint32_t second = kestrane::YuvToBgr(src[2], src[1], src[3]);
                std::memcpy(dst, &first, 4);
                std::memcpy(dst + 4, &second, 4);
            }
        }
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    reportFramesPerSecond(state);
}

} // namespace

BENCHMARK(Yuy2Frame)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(Yuy2FrameExtendedFormula)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
