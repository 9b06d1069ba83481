// What the analysis shares with its AVX2 and AVX-512 kernels (analysis/FrameAnalysisAvx2.cpp,
// analysis/FrameAnalysisAvx512.cpp), which the build compiles for their instruction sets on x86-64 only.
#pragma once

#include "analysis/FrameAnalysis.h"

#include <array>
#include <cstdint>

namespace kestrane {

// The vectorised analysis of a 640 × 480 frame. A map row is worked in groups of 16 (AVX-512) or 8 (AVX2)
// columns, one pixel per 32-bit lane: the samples of A and B are contiguous, and so are those of C and D
// except where the registration's row shift steps inside a group, where the lanes past the step are loaded
// from the next row. The channel arithmetic of a row gives the vector indices and transmissions of its
// pixels; the table look-ups and |sin δ| follow in a second pass over the row (AVX2) or beside the arithmetic
// of the next row (AVX-512), so that many look-ups are in flight at once. The bytes go row by row into a
// scratch block, which is then transposed into the column-major maps.
//
// The helpers below are plain code defined out of line in analysis/FrameAnalysis.cpp: a kernel file defines
// no function that the plain code could also use, so the linker never keeps a copy built for an instruction
// set the processor may lack (the kernel_symbols test checks the objects).

struct Registration {
    std::array<std::uint8_t, kMapWidth> rowShift{};     // round(x / 40)
    std::array<std::uint8_t, kMapHeight> columnShift{}; // round(y / 30)
    Registration();
};

const Registration& registration();

// A vector entry is the double length × correction with its low byte replaced by the extinction byte. That
// changes the product by less than 2^-44 of itself, which the whole-domain tests show changes no byte (a
// trial with 24 low bits dropped changed none either).
constexpr std::uint64_t kExtinctionBits = 0xFF;

// Where |sin δ| × 255 / MaxSin stops: at 255 / MaxSin (|sin δ| limited to 1) or at the largest byte.
double sinDLimit(double scale);

constexpr int kMaxRowShift = 8;
constexpr int kMaxTransmission = 127;
// Channel a and d samples carry 1 << 16 above their byte, so that one 16-bit multiply-add gives
// gain × byte + offset; channel c is wanted in the high 16 bits.
enum class Form { kPlain, kTagged, kHigh };
constexpr std::uint32_t kTag = 1u << 16;
constexpr std::uint32_t kTwoPow39Bits = 0x53000000; // bits of the float 2^39

struct SweepInput {
    const FrameView& frame;
    const FlatFieldGains* gains;
    const std::uint64_t* origin; // vector entry of (0, 0)
    double scale;                // 255 / MaxSin
    std::uint8_t* maps[3];       // extinction, transmission, sinD
};

// The frame rows one map row reads: A and B from row y, C and D from row y + shift + 240 for each row
// shift, limited to the last row.
struct FrameRows {
    const std::uint32_t* a;
    const std::uint32_t* c[kMaxRowShift + 1];
    const float* gainA;
    const float* gainC[kMaxRowShift + 1];
    int columnShift;
};

FrameRows frameRows(const SweepInput& in, int y);

// A group of map columns: C and D come from row shift `low`, except for the lanes in `highLanes`, which
// read row shift `high`. The shift steps at most once in a group, its steps being 20 or more columns apart.
struct LaneGroup {
    int low;
    int high;
    std::uint32_t highLanes;
};

// The kMapWidth / kLanes groups of a map row, for 8 and 16 lanes.
template <int kLanes> const LaneGroup* laneGroups();

// 255 / MaxSin / T for every transmission T (as sinDByte computes it), so that |sin δ| needs no division.
void fillSinDScales(double* scales, double scale);

// The kernels: the maps of a 640 × 480 frame, the flat field of `count` red samples, and the map pixels of
// `count` channel combinations. The last two return how many they did; the caller does the rest.
void sweepAvx2(const SweepInput& in);
int flatFieldAvx2(const std::uint8_t* pixels, const float* gains, std::uint8_t* out, int count);
int combinationsAvx2(const std::uint64_t* origin, double scale, const std::int32_t* x, const std::int32_t* y,
                     const std::int32_t* sum, MapPixel* out, int count);

// The quantities of a 640 × 480 frame (AnalysisKernel::sweepQuantities); machines with AVX-512 run it too.
void quantitiesAvx2(const SweepInput& in, const QuantitySweep& q);

void sweepAvx512(const SweepInput& in);
int flatFieldAvx512(const std::uint8_t* pixels, const float* gains, std::uint8_t* out, int count);
int combinationsAvx512(const std::uint64_t* origin, double scale, const std::int32_t* x,
                       const std::int32_t* y, const std::int32_t* sum, MapPixel* out, int count);

} // namespace kestrane
