// Processors other than x86-64: cpuFeatures() reports no AVX2, so the measure code never chooses these and
// the plain loops run.
#include "measure/MeasureKernels.h"

namespace kestrane {

void addRegionAvx2(const RegionPixels&, const AxisTable&, RegionSums&) {}

void countBinsAvx2(const float*, int, double, int, int*) {}

int orientationRowAvx2(const float*, const float*, int, float, double, const float*, std::uint32_t*) {
    return 0;
}

} // namespace kestrane
