// The YUV conversion with AVX2 (capture/PackedPairsAvx2.cpp), behind the entries of capture/PackedPairs.h,
// which first ask cpuFeatures() for AVX2.
#pragma once

#include <cstdint>

namespace kestrane {

// convertPackedPairsVector on a processor with AVX2.
void convertPackedPairsAvx2(const std::uint8_t* source, std::uint8_t* output, std::int32_t width,
                            std::int32_t height, bool uyvy);

// convertPixelsVector on a processor with AVX2.
std::int32_t convertPixelsAvx2(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                               std::uint8_t* output, std::int32_t count);

} // namespace kestrane
