// The orientation colour map: hue from the slow axis, brightness from the retardance, as one picture.
#pragma once

#include "analysis/Quantities.h"

#include <cstdint>

namespace kestrane {

// The colour 0xffRRGGBB of an axis at `orientationDeg` (0..180 goes once round the colour circle, so both
// ends of an axis share a colour: 0° red, 30° yellow, 60° green, 90° cyan, 120° blue, 150° magenta) at
// `brightness` 0..1 (clamped); black when the orientation is NaN.
std::uint32_t orientationColour(double orientationDeg, double brightness);

// The brightness of a retardance on a scale whose full brightness is `maxRetardanceNm` (clamped to 0..1; a
// maximum that is not positive shows every non-zero retardance at full brightness).
double retardanceBrightness(double retardanceNm, double maxRetardanceNm);

// The colour map of `maps` (the hue of each axis to the nearest 0.05°) into a picture of maps.width ×
// maps.height pixels 0xffRRGGBB, top row first, row r starting at pixels + r × stridePixels (the layout of a
// 32-bit RGB image in memory).
void renderOrientationMap(const QuantityMaps& maps, double maxRetardanceNm, std::uint32_t* pixels,
                          int stridePixels);

} // namespace kestrane
