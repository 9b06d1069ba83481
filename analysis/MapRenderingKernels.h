// The map pictures with AVX-512 (analysis/MapRenderingAvx512.cpp), which the build compiles for it on x86-64
// only; the plain loops of analysis/MapRendering.cpp draw the same pictures.
#pragma once

#include "analysis/MeasurementState.h"
#include "analysis/Tables.h"
#include "imaging/Bitmap.h"

namespace kestrane {

// How a map becomes a picture: through the palette, through the palette with the pixels whose |sin δ| byte
// is below `firstShown` black, or as grey twice the byte.
enum class PictureStyle { kPalette, kBlanked, kGrey };

// The byte of a 32-bit pixel that rendering leaves as the picture has it.
constexpr std::uint32_t kFourthByte = 0xFF000000u;

// The first 320 × 240 pixels of `out` (each keeping its fourth byte) from `values`, and `sinD` for kBlanked.
void renderAvx512(PictureStyle style, const Tables& tables, const ResultMap& values, const ResultMap& sinD,
                  int firstShown, const FrameView& out);

} // namespace kestrane
