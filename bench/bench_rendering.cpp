// Rendering of the three map pictures of one pass, as the live loop draws them into the shown pictures.
#include "analysis/FrameAnalysis.h"
#include "analysis/MapRendering.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

using namespace kestrane;

void BM_RenderThreeMaps(benchmark::State& run, InstructionSet set) {
    if (!useRenderingInstructionSet(set)) {
        run.SkipWithError("the processor lacks this instruction set");
        return;
    }
    static MeasurementState state;
    buildTables(state.tables);
    Bitmap frame(kFrameWidth, kFrameHeight, 32);
    std::mt19937 random(3);
    for (std::size_t i = 0; i < frame.sizeBytes(); ++i) {
        frame.bits()[i] = static_cast<std::uint8_t>(random());
    }
    analyseFrame(frame.view(), state);
    Bitmap pictures[3] = {Bitmap(kMapWidth, kMapHeight, 32), Bitmap(kMapWidth, kMapHeight, 32),
                          Bitmap(kMapWidth, kMapHeight, 32)};
    for (auto _ : run) {
        renderSinD(state, pictures[0].view());
        renderExtinction(state, pictures[1].view());
        renderTransmission(state, pictures[2].view());
        benchmark::DoNotOptimize(pictures[0].bits());
    }
    run.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(run.iterations()), benchmark::Counter::kIsRate);
    useRenderingInstructionSet(InstructionSet::kAvx512);
}
BENCHMARK_CAPTURE(BM_RenderThreeMaps, avx512, InstructionSet::kAvx512)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RenderThreeMaps, plain, InstructionSet::kScalar)->Unit(benchmark::kMicrosecond);

void BM_AzimuthOverlay(benchmark::State& run) {
    static MeasurementState state;
    // Pointing in every direction, so that segments of every length and slope are drawn.
    for (int x = 0; x <= kMapWidth; ++x) {
        for (int y = 0; y <= kMapHeight; ++y) {
            state.ExtinctionMap.at(x, y) = static_cast<std::uint8_t>(x * 7 + y * 13);
        }
    }
    Bitmap picture(kMapWidth, kMapHeight, 32);
    for (auto _ : run) {
        drawAzimuth(state.ExtinctionMap, picture.view(), kOverlayWhite);
        benchmark::DoNotOptimize(picture.bits());
    }
}
BENCHMARK(BM_AzimuthOverlay)->Unit(benchmark::kMicrosecond);

} // namespace
