// The orientation colour map: hue 2θ round the colour circle, value the scaled retardance.
#include "measure/OrientationColour.h"

#include "measure/MeasureKernels.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kestrane {

namespace {

// A component 0..1 as a byte, rounded half up (the value is never negative).
std::uint32_t byteOf(double component) {
    return static_cast<std::uint32_t>(component * 255.0 + 0.5);
}

// The colour of an axis whose hue in sixths of the circle is 0 ≤ sixths < 6, at value 0..1: the usual
// hue-to-RGB ramps, written without branches because the live page colours every pixel of every pass.
inline std::uint32_t hueColour(double sixths, double value) {
    const auto component = [sixths, value](double n) {
        double k = n + sixths;
        k = k >= 6.0 ? k - 6.0 : k;
        return value * (1.0 - std::clamp(std::min(k, 4.0 - k), 0.0, 1.0));
    };
    return 0xff000000u | byteOf(component(5.0)) << 16 | byteOf(component(3.0)) << 8 | byteOf(component(1.0));
}

// The hue of an axis in sixths of the circle: an axis turns the circle once in 180°, twice as fast as a
// direction. The maps hold 0 ≤ θ < 180 already; anything else is folded.
inline double sixthsOf(double orientationDeg) {
    double sixths = orientationDeg / 30.0;
    if (!(sixths >= 0.0 && sixths < 6.0)) {
        sixths = std::fmod(sixths, 6.0);
        sixths = sixths < 0.0 ? sixths + 6.0 : sixths;
    }
    return sixths;
}

} // namespace

std::uint32_t orientationColour(double orientationDeg, double brightness) {
    if (std::isnan(orientationDeg)) {
        return 0xff000000u;
    }
    return hueColour(sixthsOf(orientationDeg), std::clamp(brightness, 0.0, 1.0));
}

double retardanceBrightness(double retardanceNm, double maxRetardanceNm) {
    if (!(maxRetardanceNm > 0.0)) {
        return retardanceNm > 0.0 ? 1.0 : 0.0;
    }
    // A NaN retardance (never in the maps) is dark rather than undefined.
    return std::min(std::max(0.0, retardanceNm / maxRetardanceNm), 1.0);
}

namespace {

// The full-value colour of every twentieth of a degree, for the live map: 76 800 pixels a pass look their
// hue up rather than work it out (a step of 0.05° is far below what the eye tells apart).
constexpr int kHueStepsPerDegree = 20;

// Four floats an entry, blue, green, red and 0, so that the AVX2 kernel reads a pixel's entry in one load.
struct HueTable {
    std::vector<float> entries;
    HueTable() {
        for (int i = 0; i <= 180 * kHueStepsPerDegree; ++i) {
            const std::uint32_t c = orientationColour(static_cast<double>(i) / kHueStepsPerDegree, 1.0);
            for (const int shift : {0, 8, 16}) {
                entries.push_back(static_cast<float>((c >> shift) & 0xff) / 255.0f);
            }
            entries.push_back(0.0f);
        }
    }
};

const HueTable& hueTable() {
    static const HueTable hues;
    return hues;
}

inline std::uint32_t mapColour(const HueTable& hues, float theta, float retardanceNm, float perNm,
                               double maxRetardanceNm) {
    if (!(theta >= 0.0f && theta < 180.0f)) {
        // No orientation (black), or one outside the maps' range, which the exact colour folds.
        return orientationColour(theta, retardanceBrightness(retardanceNm, maxRetardanceNm));
    }
    const auto h = static_cast<std::size_t>(theta * kHueStepsPerDegree + 0.5f);
    // Clamped with a NaN retardance (never in the maps) at 0, so that the conversions below stay defined.
    const float scale = std::min(std::max(0.0f, retardanceNm * perNm), 1.0f) * 255.0f;
    const float* entry = hues.entries.data() + 4 * h;
    return 0xff000000u | static_cast<std::uint32_t>(entry[2] * scale + 0.5f) << 16 |
           static_cast<std::uint32_t>(entry[1] * scale + 0.5f) << 8 |
           static_cast<std::uint32_t>(entry[0] * scale + 0.5f);
}

} // namespace

std::uint32_t liveMapColour(float orientationDeg, float retardanceNm, float perNm, double maxRetardanceNm) {
    return mapColour(hueTable(), orientationDeg, retardanceNm, perNm, maxRetardanceNm);
}

void renderOrientationMap(const QuantityMaps& maps, double maxRetardanceNm, std::uint32_t* pixels,
                          int stridePixels) {
    if (!(maxRetardanceNm > 0.0)) {
        // Every non-zero retardance at full brightness: the exact colours, as rarely as this is asked.
        for (int r = 0; r < maps.height; ++r) {
            for (int c = 0; c < maps.width; ++c) {
                const auto i = static_cast<std::size_t>(r * maps.width + c);
                pixels[static_cast<std::ptrdiff_t>(r) * stridePixels + c] = orientationColour(
                    maps.orientationDeg[i], retardanceBrightness(maps.retardanceNm[i], maxRetardanceNm));
            }
        }
        return;
    }
    const auto perNm = static_cast<float>(1.0 / maxRetardanceNm);
    const HueTable& hues = hueTable();
    const bool avx2 = measureWithAvx2();
    for (int r = 0; r < maps.height; ++r) {
        std::uint32_t* row = pixels + static_cast<std::ptrdiff_t>(r) * stridePixels;
        const auto first = static_cast<std::size_t>(r) * static_cast<std::size_t>(maps.width);
        const float* theta = maps.orientationDeg.data() + first;
        const float* retardance = maps.retardanceNm.data() + first;
        int c = avx2 ? orientationRowAvx2(theta, retardance, maps.width, perNm, maxRetardanceNm,
                                          hues.entries.data(), row)
                     : 0;
        for (; c < maps.width; ++c) {
            row[c] = mapColour(hues, theta[c], retardance[c], perNm, maxRetardanceNm);
        }
    }
}

} // namespace kestrane
