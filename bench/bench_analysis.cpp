// Analysis of one 640 × 480 frame (flat field and the three maps): the fast path against the plain
// extended-precision formula and against a memcpy of the frame, with the ratios printed at the end; and the
// fast path with each instruction set the processor runs.
#include "analysis/FrameAnalysis.h"
#include "analysis/PlainAnalysis.h"
#include "analysis/Quantities.h"
#include "measure/MeasureKernels.h"
#include "measure/OrientationColour.h"
#include "measure/RegionStatistics.h"

#include "MedianReporter.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <iostream>
#include <map>
#include <random>
#include <string>

namespace {

using namespace kestrane;

struct Fixture {
    MeasurementState state;
    Bitmap source{kFrameWidth, kFrameHeight, 32};
    Bitmap frame{kFrameWidth, kFrameHeight, 32};

    Fixture() {
        buildTables(state.tables);
        std::mt19937 random(7);
        for (std::size_t i = 0; i < source.sizeBytes(); ++i) {
            source.bits()[i] = static_cast<std::uint8_t>(random());
        }
        frame = source;
        for (int x = 0; x < kFrameWidth; ++x) {
            for (int y = 0; y < kFrameHeight; ++y) {
                state.FlatFieldGain.at(x, y) = static_cast<float>(128.0L / (100 + (x * 7 + y * 13) % 156));
            }
        }
        state.FlatFieldOn = 1;
    }
};

Fixture& fixture() {
    static Fixture* f = new Fixture;
    return *f;
}

void framesPerSecond(benchmark::State& run) {
    run.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(run.iterations()), benchmark::Counter::kIsRate);
}

void BM_AnalysePlain(benchmark::State& run) {
    Fixture& f = fixture();
    for (auto _ : run) {
        std::memcpy(f.frame.bits(), f.source.bits(), f.source.sizeBytes());
        plain::analyse(f.frame.view(), &f.state.FlatFieldGain, f.state.tables, f.state.MaxSin,
                       ResultMaps{&f.state.SinDMap, &f.state.ExtinctionMap, &f.state.TransmissionMap});
        benchmark::DoNotOptimize(f.state.SinDMap.data());
    }
    framesPerSecond(run);
}
BENCHMARK(BM_AnalysePlain)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void BM_AnalyseFast(benchmark::State& run) {
    Fixture& f = fixture();
    for (auto _ : run) {
        analyseFrame(f.source.view(), f.state);
        benchmark::DoNotOptimize(f.state.SinDMap.data());
    }
    framesPerSecond(run);
}
BENCHMARK(BM_AnalyseFast)->Unit(benchmark::kMicrosecond);

// A kernel with the instruction set, prepared for the fixture's tables; false, with the benchmark skipped,
// when the processor lacks it.
bool prepareKernel(benchmark::State& run, AnalysisKernel& kernel, InstructionSet set) {
    if (!kernel.useInstructionSet(set)) {
        run.SkipWithError("not run by this processor");
        return false;
    }
    kernel.prepare(fixture().state.tables);
    return true;
}

void BM_AnalyseWith(benchmark::State& run, InstructionSet set, bool flat = true) {
    Fixture& f = fixture();
    AnalysisKernel kernel;
    if (!prepareKernel(run, kernel, set)) {
        return;
    }
    const ResultMaps maps{&f.state.SinDMap, &f.state.ExtinctionMap, &f.state.TransmissionMap};
    for (auto _ : run) {
        kernel.computeMaps(f.source.view(), flat ? &f.state.FlatFieldGain : nullptr, f.state.MaxSin, maps);
        benchmark::DoNotOptimize(f.state.SinDMap.data());
    }
    framesPerSecond(run);
}
BENCHMARK_CAPTURE(BM_AnalyseWith, scalar, InstructionSet::kScalar)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_AnalyseWith, avx2, InstructionSet::kAvx2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_AnalyseWith, avx512, InstructionSet::kAvx512)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_AnalyseWith, avx512_no_flat_field, InstructionSet::kAvx512, false)
    ->Unit(benchmark::kMicrosecond);

// The four quantities of a frame, through the process-wide kernel as kestrane-analyse computes them.
void BM_Quantities(benchmark::State& run) {
    Fixture& f = fixture();
    QuantityMaps q;
    for (auto _ : run) {
        computeQuantities(f.source.view(), f.state, 546.0, q);
        benchmark::DoNotOptimize(q.retardanceNm.data());
    }
    framesPerSecond(run);
}
BENCHMARK(BM_Quantities)->Unit(benchmark::kMicrosecond);

// The quantities with each instruction set: the plain loop is the reference and what other processors run.
void BM_QuantitiesWith(benchmark::State& run, InstructionSet set) {
    Fixture& f = fixture();
    AnalysisKernel kernel;
    if (!prepareKernel(run, kernel, set)) {
        return;
    }
    QuantityMaps q;
    for (auto _ : run) {
        computeQuantities(kernel, f.source.view(), &f.state.FlatFieldGain, 546.0, q);
        benchmark::DoNotOptimize(q.retardanceNm.data());
    }
    framesPerSecond(run);
}
BENCHMARK_CAPTURE(BM_QuantitiesWith, scalar, InstructionSet::kScalar)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_QuantitiesWith, avx2, InstructionSet::kAvx2)->Unit(benchmark::kMicrosecond);

// What the "Measure" page adds to a pass, over the whole 320 × 240 map: the region statistics with the
// histogram, and the orientation colour map.
const QuantityMaps& measuredMaps() {
    static const QuantityMaps* maps = [] {
        auto* q = new QuantityMaps;
        computeQuantities(fixture().source.view(), fixture().state, 546.0, *q);
        return q;
    }();
    return *maps;
}

bool chooseMeasureSet(benchmark::State& run, InstructionSet set) {
    if (!useMeasureInstructionSet(set)) {
        run.SkipWithError("the processor lacks this instruction set");
        return false;
    }
    return true;
}

void BM_RegionStatisticsWith(benchmark::State& run, InstructionSet set) {
    const QuantityMaps& q = measuredMaps();
    if (!chooseMeasureSet(run, set)) {
        return;
    }
    for (auto _ : run) {
        benchmark::DoNotOptimize(regionStatistics(q, wholeMap(q)));
        benchmark::DoNotOptimize(retardanceHistogram(q, wholeMap(q), 40, 546.0 / 4.0));
    }
    framesPerSecond(run);
    useMeasureInstructionSet(InstructionSet::kAvx2);
}
BENCHMARK_CAPTURE(BM_RegionStatisticsWith, scalar, InstructionSet::kScalar)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RegionStatisticsWith, avx2, InstructionSet::kAvx2)->Unit(benchmark::kMicrosecond);

void BM_OrientationMapWith(benchmark::State& run, InstructionSet set) {
    const QuantityMaps& q = measuredMaps();
    if (!chooseMeasureSet(run, set)) {
        return;
    }
    std::vector<std::uint32_t> picture(static_cast<std::size_t>(q.width * q.height));
    for (auto _ : run) {
        renderOrientationMap(q, 546.0 / 4.0, picture.data(), q.width);
        benchmark::DoNotOptimize(picture.data());
    }
    framesPerSecond(run);
    useMeasureInstructionSet(InstructionSet::kAvx2);
}
BENCHMARK_CAPTURE(BM_OrientationMapWith, scalar, InstructionSet::kScalar)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_OrientationMapWith, avx2, InstructionSet::kAvx2)->Unit(benchmark::kMicrosecond);

void BM_MemcpyFrame(benchmark::State& run) {
    Fixture& f = fixture();
    for (auto _ : run) {
        std::memcpy(f.frame.bits(), f.source.bits(), f.source.sizeBytes());
        benchmark::ClobberMemory();
    }
    framesPerSecond(run);
}
BENCHMARK(BM_MemcpyFrame)->Unit(benchmark::kMicrosecond);

void BM_BuildTables(benchmark::State& run) {
    static Tables tables;
    for (auto _ : run) {
        buildTables(tables);
        benchmark::DoNotOptimize(tables.root.data());
    }
}
BENCHMARK(BM_BuildTables)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& m = reporter.medians;
    const auto& cpu = reporter.cpuMedians;
    if (m.count("BM_AnalysePlain") && m.count("BM_AnalyseFast") && m.count("BM_MemcpyFrame")) {
        std::cout << "\nanalysis speed-up, plain / fast (median times): "
                  << m.at("BM_AnalysePlain") / m.at("BM_AnalyseFast")
                  << "\nanalysis against memcpy of the frame, fast / memcpy: "
                  << m.at("BM_AnalyseFast") / m.at("BM_MemcpyFrame")
                  << " (in CPU time: " << cpu.at("BM_AnalyseFast") / cpu.at("BM_MemcpyFrame") << ")\n";
    }
    if (m.count("BM_QuantitiesWith/scalar") && m.count("BM_QuantitiesWith/avx2")) {
        std::cout << "quantities speed-up, plain loop / AVX2 (median times): "
                  << m.at("BM_QuantitiesWith/scalar") / m.at("BM_QuantitiesWith/avx2") << "\n";
    }
    for (const char* name : {"BM_RegionStatisticsWith", "BM_OrientationMapWith"}) {
        const std::string plain = std::string(name) + "/scalar";
        const std::string fast = std::string(name) + "/avx2";
        if (m.count(plain) && m.count(fast)) {
            std::cout << name << " speed-up, plain loop / AVX2 (median times): " << m.at(plain) / m.at(fast)
                      << "\n";
        }
    }
    benchmark::Shutdown();
    return 0;
}
