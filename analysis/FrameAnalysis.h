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

// The integer combinations of the four channels at one map pixel: the difference vector (X, Y) and s, the
// floor of the mean of the gained channels (0..266, before the transmission byte limits it).
struct ChannelCombination {
    std::int16_t x = 0;
    std::int16_t y = 0;
    std::int16_t sum = 0;
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

// The tables and outputs of a sweep that computes the quantities of analysis/Quantities.h: each output holds
// a 320 × 240 map with the top row of the picture first.
struct QuantitySweep {
    const float* orientationTable;  // degrees per vector, at index (X << 8) + Y from vector (0, 0)
    const float* transmissionTable; // % for each s, 0..266
    float nmPerRadian;              // λ / 2π
    float* retardanceNm;
    float* orientationDeg;
    float* sinD;
    float* transmissionPct;
};

// Instruction sets the analysis of a whole frame can use (kAvx2 with FMA, kAvx512 with F, BW, DQ, VL and the
// byte permutes of VBMI); the kernel takes the widest the processor runs.
enum class InstructionSet { kScalar, kAvx2, kAvx512 };

// The analysis with everything that depends only on the tables worked out in advance: the channel gains per
// byte, and per difference vector (X, Y) its extinction byte and the product of its length and |sin δ|
// correction. What is left per pixel is done in double arithmetic whose bytes equal those of the
// extended-precision formula; the tests prove it over the whole input domain for every instruction set.
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

    // pixelFromCombination for `count` combinations at once, with the instruction set in use.
    void pixelsFromCombinations(Extended maxSin, const std::int32_t* x, const std::int32_t* y,
                                const std::int32_t* sum, MapPixel* out, int count) const;

    // flatFieldSample for the red bytes of `count` consecutive 32-bit pixels, with the instruction set in
    // use.
    void flatFieldSamples(const std::uint8_t* pixels, const float* gains, std::uint8_t* out, int count) const;

    // The three maps of a Frame; `gains` (or null) is the flat field, applied to the samples as they are
    // read. The frame is not changed. Frames other than 640 × 480 read as if padded or cut to that size.
    void computeMaps(const FrameView& frame, const FlatFieldGains* gains, Extended maxSin,
                     const ResultMaps& maps) const;

    // The channel combinations of every map pixel of a Frame at index y × 320 + x (y counted upwards, as in
    // the maps), read with the flat field, registration and gains of computeMaps; for the numbers handed out,
    // which are computed on demand rather than in every pass.
    void computeCombinations(const FrameView& frame, const FlatFieldGains* gains,
                             std::vector<ChannelCombination>& out) const;

    // The quantities of a 640 × 480 frame in one vectorised sweep with the registration, flat field and gains
    // of computeMaps: |sin δ| as sinD gives it, orientation and transmission from the tables, the retardance
    // from a polynomial arcsine within 2.5e-7 of the library's. False, with nothing written, when the
    // instruction set in use or the frame's size leaves the work to the caller's plain loop.
    bool sweepQuantities(const FrameView& frame, const FlatFieldGains* gains, const QuantitySweep& q) const;

    // |sin δ| of a combination before the display scale: the length times its correction over the
    // transmission byte, at most 1.
    double sinD(int x, int y, int sum) const;

    // Whether this processor runs the instruction set.
    static bool supports(InstructionSet set);
    // Chooses the instruction set (tests and benchmarks compare them); false, and no change, when the
    // processor lacks it.
    bool useInstructionSet(InstructionSet set);
    InstructionSet instructionSet() const { return set_; }

    static constexpr int kMinX = -127;
    static constexpr int kMaxX = 157;
    static constexpr int kMinY = -120;
    static constexpr int kMaxY = 127;
    // Vector-table entries per X: Y - kMinY fits in a byte, so an index is (X << 8) + Y from the origin.
    static constexpr int kRowEntries = 256;
    static constexpr int kVectors = (kMaxX - kMinX + 1) * kRowEntries;

  private:
    // The entry of vector (0, 0).
    const std::uint64_t* vectorOrigin() const { return vectors_.data() - kMinX * kRowEntries - kMinY; }
    std::uint64_t* vectorOrigin() { return vectors_.data() - kMinX * kRowEntries - kMinY; }

    std::uint64_t generation_ = ~std::uint64_t{0};
    InstructionSet set_ = InstructionSet::kScalar;
    std::array<std::uint16_t, 256> gainA_{};
    std::array<std::uint16_t, 256> gainD_{};
    // Per (X, Y): the bits of the double length × correction, with the extinction byte in the low byte.
    std::vector<std::uint64_t> vectors_;
};

// The process-wide kernel of the analysis pass.
AnalysisKernel& analysisKernel();

// One map pixel, as the analysis computes it.
MapPixel analysePixel(const Tables& tables, Extended maxSin, int a, int b, int c, int d);

// The three maps of a Frame without flat field.
void computeMaps(const FrameView& frame, const Tables& tables, Extended maxSin, const ResultMaps& maps);

// The flat field (when FlatFieldOn) and the three maps into the measurement state; the frame is not changed.
void analyseFrame(const FrameView& frame, MeasurementState& state);

// analyseFrame into maps of the caller's, the state only read. Once a call has prepared the process-wide
// kernel for the state's tables, several threads may analyse frames at once, each into its own maps.
void analyseFrame(const FrameView& frame, const MeasurementState& state, const ResultMaps& maps);

} // namespace kestrane
