// The vectorised YUV conversion: packed pairs (YUY2, UYVY, the usual camera formats) straight from the frame,
// the other layouts from lines of Y, U and V bytes, one of each per pixel.
#include "capture/PackedPairs.h"

#include "capture/PackedPairsKernels.h"
#include "imaging/CpuFeatures.h"

namespace kestrane {

std::int32_t convertPixelsVector(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                                 std::uint8_t* output, std::int32_t count) {
    return cpuFeatures().avx2 ? convertPixelsAvx2(y, u, v, output, count) : 0;
}

bool convertPackedPairsVector(const std::uint8_t* source, std::uint8_t* output, std::int32_t width,
                              std::int32_t height, bool uyvy) {
    if (!cpuFeatures().avx2) {
        return false;
    }
    convertPackedPairsAvx2(source, output, width, height, uyvy);
    return true;
}

} // namespace kestrane
