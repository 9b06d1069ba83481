// Processors other than x86-64: cpuFeatures() reports no AVX2, so these are never called and the plain
// conversion runs.
#include "capture/PackedPairsKernels.h"

namespace kestrane {

void convertPackedPairsAvx2(const std::uint8_t*, std::uint8_t*, std::int32_t, std::int32_t, bool) {}

std::int32_t convertPixelsAvx2(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, std::uint8_t*,
                               std::int32_t) {
    return 0;
}

} // namespace kestrane
