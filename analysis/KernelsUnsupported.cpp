// Processors other than x86-64: cpuFeatures() reports no AVX2 or AVX-512, so the analysis and the pictures
// never choose these and the plain loops run.
#include "analysis/FrameAnalysisKernels.h"
#include "analysis/MapRenderingKernels.h"

namespace kestrane {

void sweepAvx2(const SweepInput&) {}

int flatFieldAvx2(const std::uint8_t*, const float*, std::uint8_t*, int) {
    return 0;
}

int combinationsAvx2(const std::uint64_t*, double, const std::int32_t*, const std::int32_t*,
                     const std::int32_t*, MapPixel*, int) {
    return 0;
}

void quantitiesAvx2(const SweepInput&, const QuantitySweep&) {}

void sweepAvx512(const SweepInput&) {}

int flatFieldAvx512(const std::uint8_t*, const float*, std::uint8_t*, int) {
    return 0;
}

int combinationsAvx512(const std::uint64_t*, double, const std::int32_t*, const std::int32_t*,
                       const std::int32_t*, MapPixel*, int) {
    return 0;
}

void renderAvx512(PictureStyle, const Tables&, const ResultMap&, const ResultMap&, int, const FrameView&) {}

} // namespace kestrane
