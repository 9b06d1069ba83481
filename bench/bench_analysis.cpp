// Throughput of the analysis of one 640 × 480 frame: flat field and the three maps.
#include "analysis/FrameAnalysis.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

using namespace kestrane;

Bitmap randomFrame() {
    Bitmap frame(kFrameWidth, kFrameHeight, 32);
    std::mt19937 random(7);
    for (std::size_t i = 0; i < frame.sizeBytes(); ++i) {
        frame.bits()[i] = static_cast<std::uint8_t>(random());
    }
    return frame;
}

void setUp(MeasurementState& state) {
    buildTables(state.tables);
    for (int x = 0; x < kFrameWidth; ++x) {
        for (int y = 0; y < kFrameHeight; ++y) {
            state.FlatFieldGain.at(x, y) = 128.0f / static_cast<float>(100 + (x + y) % 100);
        }
    }
    state.FlatFieldOn = 1;
}

void BM_AnalyseFrame(benchmark::State& run) {
    static MeasurementState state;
    setUp(state);
    const Bitmap source = randomFrame();
    Bitmap frame = source;
    for (auto _ : run) {
        std::copy(source.bits(), source.bits() + source.sizeBytes(), frame.bits());
        analyseFrame(frame.view(), state);
        benchmark::DoNotOptimize(state.SinDMap.data());
    }
    run.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(run.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AnalyseFrame)->Unit(benchmark::kMillisecond);

void BM_BuildTables(benchmark::State& run) {
    static Tables tables;
    for (auto _ : run) {
        buildTables(tables);
        benchmark::DoNotOptimize(tables.root.data());
    }
}
BENCHMARK(BM_BuildTables)->Unit(benchmark::kMillisecond);

} // namespace
