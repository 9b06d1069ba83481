// The vectorised YUV conversion: packed pairs (YUY2, UYVY, the usual camera formats) straight from the frame,
// the other layouts from lines of Y, U and V bytes, one of each per pixel.
#pragma once

#include <cstdint>

namespace kestrane {

// Converts a frame of packed pairs (bytes Y0 U Y1 V for YUY2, U Y0 V Y1 for UYVY) into bottom-up 32-bit
// pixels exactly as the pixel formula does. False, writing nothing, when the processor lacks the
// instructions; the caller then converts pixel by pixel.
bool convertPackedPairsVector(const std::uint8_t* source, std::uint8_t* output, std::int32_t width,
                              std::int32_t height, bool uyvy);

// Converts the first pixels of a line whose Y, U and V bytes stand in three arrays, one of each per pixel,
// into 32-bit pixels exactly as the pixel formula does, eight at a time; returns how many it did (0 when the
// processor lacks the instructions). The caller converts the rest one by one.
std::int32_t convertPixelsVector(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                                 std::uint8_t* output, std::int32_t count);

} // namespace kestrane
