// The four-quadrant analysis: the three result maps of a Frame, with the flat field applied on the way.
#pragma once

#include "analysis/MeasurementState.h"
#include "analysis/Tables.h"
#include "imaging/Bitmap.h"
#include "imaging/Numeric.h"

#include <array>
#include <cstdint>
#include <vector>

namespace kestrane {

// The three bytes of one map pixel.
struct MapPixel {
    std::uint8_t extinction = 0;
    std::uint8_t transmission = 0;
    std::uint8_t sinD = 0;
    bool operator==(const MapPixel&) const = default;
};

struct ResultMaps {
    ResultMap* sinD;
    ResultMap* extinction;
    ResultMap* transmission;
};

// Channel gains that balance Quadrants A and D against B and C.
constexpr Extended kGainA = 1.23L;
constexpr Extended kGainD = 0.94L;

// Registration of Quadrants C and D onto A: the row (0..239) and column (0..319) read for map pixel (x, y).
int registeredRow(int x, int y);
int registeredColumn(int x, int y);

// Length of the quadrant-difference vector for a squared length 0..40778, as a 32-bit float; squared lengths
// past the end of the root table are computed directly so that nothing reads beyond it.
float differenceLength(const Tables& tables, int squaredLength);

// A red sample times its flat-field gain, rounded half to even; above 255 it is stored as 255.
int flatFieldSample(int red, float gain);

// The red byte of Frame pixel (x, y); pixels outside the frame count as 0.
inline int redAt(const FrameView& frame, int x, int y) {
    return frame.contains(x, y) ? frame.pixel(x, y)[2] : 0;
}

// The analysis with everything that depends only on the tables worked out in advance: the channel gains per
// byte, and per difference vector (X, Y) its extinction byte, length and |sin δ| correction. What is left per
// pixel is exact in double arithmetic, so the bytes equal those of the extended-precision formula; the tests
// prove it over the whole input domain.
class AnalysisKernel {
  public:
    AnalysisKernel();

    // Works the tables out again when they are not the build this kernel last saw.
    void prepare(const Tables& tables);

    // One map pixel from the red bytes of the four quadrants (after the flat field).
    MapPixel pixel(Extended maxSin, int a, int b, int c, int d) const;

    // One map pixel from the integer combinations of the channels: the difference vector (X, Y) and the
    // floor of the mean.
    MapPixel pixelFromCombination(Extended maxSin, int x, int y, int sum) const;

    // The three maps of a Frame; `gains` (or null) is the flat field, applied to the samples as they are
    // read. The frame is not changed. Frames other than 640 × 480 read as if padded or cut to that size.
    void computeMaps(const FrameView& frame, const FlatFieldGains* gains, Extended maxSin,
                     const ResultMaps& maps) const;

    static constexpr int kMinX = -127;
    static constexpr int kMaxX = 157;
    static constexpr int kMinY = -120;
    static constexpr int kMaxY = 127;
    static constexpr int kSpanY = kMaxY - kMinY + 1;
    static constexpr int kVectors = (kMaxX - kMinX + 1) * kSpanY;

  private:
    template <bool kFlat, bool kPacked>
    void sweep(const FrameView& frame, const FlatFieldGains* gains, double maxSin,
               const ResultMaps& maps) const;

    std::uint64_t generation_ = ~std::uint64_t{0};
    std::array<std::uint16_t, 256> gainA_{};
    std::array<std::uint16_t, 256> gainD_{};
    std::vector<std::uint8_t> extinction_; // per (X, Y)
    std::vector<float> length_;            // per (X, Y); 0 stands for the zero vector
    std::vector<float> correction_;        // per (X, Y): SinDGainTable at the extinction byte
};

// The process-wide kernel of the analysis pass.
AnalysisKernel& analysisKernel();

// One map pixel, as the analysis computes it.
MapPixel analysePixel(const Tables& tables, Extended maxSin, int a, int b, int c, int d);

// The three maps of a Frame without flat field.
void computeMaps(const FrameView& frame, const Tables& tables, Extended maxSin, const ResultMaps& maps);

// The flat field (when FlatFieldOn) and the three maps into the measurement state; the frame is not changed.
void analyseFrame(const FrameView& frame, MeasurementState& state);

} // namespace kestrane
