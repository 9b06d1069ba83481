// Flat-field gains from a background frame: every pixel scaled so that its background reads 128.
#pragma once

#include "analysis/MeasurementState.h"
#include "imaging/Bitmap.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrane {

// The file that keeps the background of an objective ("4x", "10x", "40x" give 4, 10, 40).
const char* backgroundFileName(int objective);

// Computes the gains from a background picture, pointing FramePixels, FrameWidth and FrameHeight at it.
// Pixels whose red sample is 0 keep their previous gain. A picture that is not 640 × 480 is refused
// (false, gains untouched): its pixels would not line up with the camera's.
bool computeFlatFieldGains(Bitmap& background, MeasurementState& state);

// Reads a background frame file and switches the flat field on with its gains (FramePixels is left null);
// false with the reason when the file cannot be read or is not 640 × 480.
bool useFlatFieldFile(const std::string& path, MeasurementState& state, std::string& why);

// How many camera frames a background is the mean of: the noise of one frame falls by a factor of four.
constexpr int kBackgroundFrames = 16;

// The rounded mean of consecutive frames of one size and pixel format, byte by byte.
class FrameAverager {
  public:
    // Adds a frame. The first one sets the size and pixel format; a frame that differs from it is refused
    // (false, nothing added).
    bool add(const Bitmap& frame);
    // The frames added so far.
    int count() const { return count_; }
    // The mean of the frames added, in their size and pixel format; every byte (padding included) is the
    // rounded mean of that byte over the frames. Empty when nothing was added.
    Bitmap mean() const;

  private:
    // 32-bit sums: 16 frames would fit in 16 bits, but a longer mean must not wrap.
    std::vector<std::uint32_t> sums_;
    int width_ = 0;
    int height_ = 0;
    int bitsPerPixel_ = 0;
    int count_ = 0;
};

} // namespace kestrane
