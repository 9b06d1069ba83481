// The lookup tables of the analysis and the colour ramp, built in 80-bit extended arithmetic.
#include "analysis/Tables.h"

#include "imaging/Numeric.h"

#include <atomic>

namespace kestrane {

namespace {

// π rounded to a 64-bit mantissa, the value the x87 loads with fldpi.
constexpr Extended kPi = 3.14159265358979323846264338327950288L;
constexpr Extended kDeg20 = 0.3490658503988659154L;
constexpr Extended kDeg100 = 1.7453292519943295769L;
constexpr Extended kDeg45 = 0.78539816339744830963L;

std::uint8_t roundedByte(Extended v) {
    return static_cast<std::uint8_t>(roundToInt(v));
}

} // namespace

void buildTables(Tables& tables) {
    for (int i = 0; i <= 200; ++i) {
        const Extended x = static_cast<Extended>(i - 100) / 100.0L;
        const Extended arccos = x87Atan2(x87Sqrt(1.0L - x * x), x);
        tables.angle[i] = static_cast<float>(arccos * 41.0L);
    }
    for (int v = 0; v <= 255; ++v) {
        const Extended s = x87Sin(static_cast<Extended>(v) * kPi / 255.0L);
        const Extended c = x87Cos(static_cast<Extended>(3 * v) * kPi / 510.0L);
        tables.palette[kPaletteGreen][v] = roundedByte(s * s * 255.0L);
        tables.palette[kPaletteBlue][v] = roundedByte(c * c * 255.0L);
        tables.palette[kPaletteRed][v] = static_cast<std::uint8_t>(v);
    }
    for (int j = 0; j <= 255; ++j) {
        const Extended a = static_cast<Extended>(4 * j) * kPi / 255.0L;
        const Extended b = static_cast<Extended>(2 * j) * kPi / 255.0L;
        Extended t = 1.3L - x87Sin(a + kDeg20) * 0.2L;
        t = t + x87Sin(b + kDeg100) * 0.1L;
        t = t - x87Sin(b + kDeg45) * 0.07L;
        tables.sinDGain[j] = static_cast<float>(t);
    }
    for (int m = 0; m <= 33000; ++m) {
        tables.root[m] = static_cast<float>(x87Sqrt(static_cast<Extended>(m)));
    }
    static std::atomic<std::uint64_t> builds{0};
    tables.generation = ++builds;
}

} // namespace kestrane
