// The lookup tables of the analysis and the colour ramp, built in 80-bit extended arithmetic.
#pragma once

#include <array>
#include <cstdint>

namespace kestrane {

struct Tables {
    // 41 × arccos((i − 100) / 100): an angle in units of 1/41 radian.
    std::array<float, 201> angle{};
    // Colour ramp indexed by a map byte: rows red, green, blue.
    std::array<std::array<std::uint8_t, 256>, 3> palette{};
    // |sin δ| correction factor indexed by the extinction byte.
    std::array<float, 256> sinDGain{};
    // Square root of the index, for the squared length of the quadrant-difference vector.
    std::array<float, 33001> root{};
    // Which build these values came from (0: never built); caches derived from the tables compare it.
    std::uint64_t generation = 0;
};

enum PaletteRow { kPaletteRed = 0, kPaletteGreen = 1, kPaletteBlue = 2 };

// Fills all four tables, which depend on nothing but their index, and gives them a new generation.
void buildTables(Tables& tables);

// The processor's extended sine, cosine, arctangent and square root, in which the tables are defined.
long double x87Sin(long double v);
long double x87Cos(long double v);
long double x87Atan2(long double y, long double x);
long double x87Sqrt(long double v);

} // namespace kestrane
