// Processors other than x86-64: no feature is reported, so the plain code runs and these kernels never do.
#include "imaging/BitmapKernels.h"
#include "imaging/CpuFeatures.h"

namespace kestrane {

const CpuFeatures& cpuFeatures() {
    static const CpuFeatures none;
    return none;
}

void widenBlocksBackwards(const std::uint8_t*, std::uint8_t*, int&, const std::uint8_t*) {}

int widenRowShuffled(const std::uint8_t*, std::uint8_t*, int, std::uint8_t) {
    return 0;
}

} // namespace kestrane
