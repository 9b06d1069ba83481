// The analysis as plainly written in 80-bit extended arithmetic, kept as the oracle of the fast path.
#include "analysis/PlainAnalysis.h"

#include <algorithm>
#include <cmath>

namespace kestrane::plain {

MapPixel pixelFromCombination(const Tables& tables, Extended maxSin, int x, int y, int sum) {
    const int squared = x * x + y * y;
    Extended r = squared <= 33000 ? tables.root[static_cast<std::size_t>(squared)]
                                  : static_cast<float>(x87Sqrt(static_cast<Extended>(squared)));
    if (r == 0.0L) {
        r = 0.001L;
    }
    Extended q = static_cast<Extended>(x) / r;
    if (q > 0.99L) {
        q = 0.99L;
    }
    if (q < -0.99L) {
        q = -0.99L;
    }
    const auto k = static_cast<std::size_t>(roundToInt((q + 1.0L) * 100.0L));
    const int sigma = (y > 0) - (y < 0);
    const auto e = static_cast<int>(roundToInt(128.0L - static_cast<Extended>(sigma) * tables.angle[k]));
    const int t = std::clamp(sum, 1, 127);
    Extended v = (r / static_cast<Extended>(t)) * tables.sinDGain[static_cast<std::size_t>(e)];
    if (v > 1.0L) {
        v = 1.0L;
    }
    const long long sinD = roundToInt(v * 255.0L / maxSin);
    return MapPixel{static_cast<std::uint8_t>(e), static_cast<std::uint8_t>(t),
                    static_cast<std::uint8_t>(std::min(sinD, 255LL))};
}

MapPixel pixel(const Tables& tables, Extended maxSin, int a, int b, int c, int d) {
    const auto aGain = static_cast<int>(roundToInt(static_cast<Extended>(a) * 1.23L));
    const auto dGain = static_cast<int>(roundToInt(static_cast<Extended>(d) * 0.94L));
    return pixelFromCombination(tables, maxSin, (aGain - c) / 2, (b - dGain) / 2,
                                (b + aGain + dGain + c) / 4);
}

int flatField(int red, float gain) {
    return static_cast<int>(std::clamp(roundToInt(static_cast<Extended>(red) * gain), 0LL, 255LL));
}

void analyse(const FrameView& frame, const FlatFieldGains* gains, const Tables& tables, Extended maxSin,
             const ResultMaps& maps) {
    if (gains != nullptr) {
        for (int x = 0; x < std::min(frame.width, kFrameWidth); ++x) {
            for (int y = 0; y < std::min(frame.height, kFrameHeight); ++y) {
                std::uint8_t& red = frame.pixel(x, y)[2];
                red = static_cast<std::uint8_t>(flatField(red, gains->at(x, y)));
            }
        }
    }
    for (int y = 0; y < kMapHeight; ++y) {
        for (int x = 0; x < kMapWidth; ++x) {
            const int row = registeredRow(x, y) + kMapHeight;
            const int column = registeredColumn(x, y);
            const MapPixel p = pixel(tables, maxSin, redAt(frame, x, y), redAt(frame, x + kMapWidth, y),
                                     redAt(frame, column, row), redAt(frame, column + kMapWidth, row));
            maps.extinction->at(x, y) = p.extinction;
            maps.transmission->at(x, y) = p.transmission;
            maps.sinD->at(x, y) = p.sinD;
        }
    }
}

double sinDValue(const Tables& t, int x, int y, int sum) {
    const int squared = x * x + y * y;
    Extended r = squared <= 33000 ? t.root[static_cast<std::size_t>(squared)]
                                  : static_cast<float>(std::sqrt(static_cast<double>(squared)));
    if (r == 0.0L) {
        r = 0.001L;
    }
    const int e = pixelFromCombination(t, 1.0L, x, y, sum).extinction;
    const Extended v = r / std::clamp(sum, 1, 127) * t.sinDGain[static_cast<std::size_t>(e)];
    return static_cast<double>(std::min(v, 1.0L));
}

} // namespace kestrane::plain
