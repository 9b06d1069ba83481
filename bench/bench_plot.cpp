// Benchmarks of the plot's arithmetic: world mapping, tick plan with labels, and the 3D view update.
#include "plot/PlotMath.h"

#include <benchmark/benchmark.h>

namespace {

using kestrane::Extended;

// D2SetWorld in axes mode: the mapping with label margins, as every size change and world change does.
void BM_AxesMapping(benchmark::State& state) {
    const kestrane::LabelSizes labels{12, 20, 22};
    Extended width = 3.5L;
    for (auto _ : state) {
        benchmark::DoNotOptimize(kestrane::computeWorld(0, 0, width, 1, 373, 240, labels));
        width = width < 1000 ? width * 1.1L : 3.5L;
    }
}
BENCHMARK(BM_AxesMapping);

// The arithmetic half of "Clear Graph": both tick plans and their label texts.
void BM_AxisTicksAndLabels(benchmark::State& state) {
    Extended width = 3.5L;
    for (auto _ : state) {
        for (const Extended w : {width, Extended{1}}) {
            for (const kestrane::Tick& tick : kestrane::axisTicks(0, w)) {
                if (tick.labelled) {
                    benchmark::DoNotOptimize(kestrane::numberLabel(tick.value));
                }
            }
        }
        width = width < 1000 ? width * 1.1L : 3.5L;
    }
}
BENCHMARK(BM_AxisTicksAndLabels);

void BM_NumberLabel(benchmark::State& state) {
    Extended v = 0.00123L;
    for (auto _ : state) {
        benchmark::DoNotOptimize(kestrane::numberLabel(v));
        v = v < 1e12L ? v * 1.7L : 0.00123L;
    }
}
BENCHMARK(BM_NumberLabel);

void BM_D3Update(benchmark::State& state) {
    kestrane::D3View view;
    for (auto _ : state) {
        view.zRotation = view.zRotation < 360 ? view.zRotation + 1 : 0;
        view.update(373, 240);
        benchmark::DoNotOptimize(view.farX);
    }
}
BENCHMARK(BM_D3Update);

} // namespace
