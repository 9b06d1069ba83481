// The four-quadrant analysis: flat-field correction of a Frame and the three result maps computed from it.
#include "analysis/FrameAnalysis.h"

#include <algorithm>
#include <cmath>

namespace kestrane {

int registeredRow(int x, int y) {
    const auto shift = static_cast<int>(roundToInt(static_cast<Extended>(x) / 40.0L));
    return std::clamp(y + shift, 0, kMapHeight - 1);
}

int registeredColumn(int x, int y) {
    const auto shift = static_cast<int>(roundToInt(static_cast<Extended>(y) / 30.0L));
    return std::clamp(x - shift, 0, kMapWidth - 1);
}

float differenceLength(const Tables& tables, int squaredLength) {
    if (squaredLength < static_cast<int>(tables.root.size())) {
        return tables.root[static_cast<std::size_t>(squaredLength)];
    }
    return static_cast<float>(x87Sqrt(static_cast<Extended>(squaredLength)));
}

MapPixel analysePixel(const Tables& tables, Extended maxSin, int a, int b, int c, int d) {
    const auto aGain = static_cast<int>(roundToInt(static_cast<Extended>(a) * kGainA));
    const auto dGain = static_cast<int>(roundToInt(static_cast<Extended>(d) * kGainD));
    const int sum = (b + aGain + dGain + c) / 4;
    const int x = (aGain - c) / 2;
    const int y = (b - dGain) / 2;

    Extended r = differenceLength(tables, x * x + y * y);
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

    MapPixel out;
    out.extinction = static_cast<std::uint8_t>(e);
    out.transmission = static_cast<std::uint8_t>(t);
    out.sinD = static_cast<std::uint8_t>(std::min(sinD, 255LL));
    return out;
}

void applyFlatField(const FrameView& frame, const FlatFieldGains& gains) {
    const int width = std::min(frame.width, kFrameWidth);
    const int height = std::min(frame.height, kFrameHeight);
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            std::uint8_t& red = frame.pixel(x, y)[2];
            const long long corrected = roundToInt(static_cast<Extended>(red) * gains.at(x, y));
            red = static_cast<std::uint8_t>(std::clamp(corrected, 0LL, 255LL));
        }
    }
}

void computeMaps(const FrameView& frame, const Tables& tables, Extended maxSin, const ResultMaps& maps) {
    for (int y = 0; y < kMapHeight; ++y) {
        for (int x = 0; x < kMapWidth; ++x) {
            const int row = registeredRow(x, y) + kMapHeight;
            const int column = registeredColumn(x, y);
            const MapPixel p =
                analysePixel(tables, maxSin, redAt(frame, x, y), redAt(frame, x + kMapWidth, y),
                             redAt(frame, column, row), redAt(frame, column + kMapWidth, row));
            maps.extinction->at(x, y) = p.extinction;
            maps.transmission->at(x, y) = p.transmission;
            maps.sinD->at(x, y) = p.sinD;
        }
    }
}

void analyseFrame(const FrameView& frame, MeasurementState& state) {
    if (state.FlatFieldOn == 1) {
        applyFlatField(frame, state.FlatFieldGain);
    }
    computeMaps(frame, state.tables, state.MaxSin,
                ResultMaps{&state.SinDMap, &state.ExtinctionMap, &state.TransmissionMap});
}

} // namespace kestrane
