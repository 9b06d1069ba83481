// The vectorised conversion of the packed-pair YUV layouts (YUY2, UYVY), the path every frame of the usual
// camera format takes.
#pragma once

#include <cstdint>

namespace kestrane {

// Converts a frame of packed pairs (bytes Y0 U Y1 V for YUY2, U Y0 V Y1 for UYVY) into bottom-up 32-bit
// pixels exactly as the pixel formula does. False, writing nothing, when the processor lacks the
// instructions; the caller then converts pixel by pixel.
bool convertPackedPairsVector(const std::uint8_t* source, std::uint8_t* output, std::int32_t width,
                              std::int32_t height, bool uyvy);

} // namespace kestrane
