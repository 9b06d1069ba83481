// The four-quadrant analysis: the three result maps of a Frame, with the flat field applied on the way.
#include "analysis/FrameAnalysis.h"

#include <algorithm>
#include <cmath>

namespace kestrane {

namespace {

// Round half to even of a double below 2^51 in magnitude: adding 1.5 × 2^52 leaves no fraction bits, so
// the addition itself rounds in the processor's (nearest-even) mode.
inline int roundEven(double v) {
    constexpr double kShift = 6755399441055744.0;
    return static_cast<int>((v + kShift) - kShift);
}

struct Registration {
    std::array<std::uint8_t, kMapWidth> rowShift{};     // round(x / 40)
    std::array<std::uint8_t, kMapHeight> columnShift{}; // round(y / 30)
    Registration() {
        for (int x = 0; x < kMapWidth; ++x) {
            rowShift[x] = static_cast<std::uint8_t>(roundToInt(static_cast<Extended>(x) / 40.0L));
        }
        for (int y = 0; y < kMapHeight; ++y) {
            columnShift[y] = static_cast<std::uint8_t>(roundToInt(static_cast<Extended>(y) / 30.0L));
        }
    }
};

const Registration& registration() {
    static const Registration r;
    return r;
}

} // namespace

int flatFieldSample(int red, float gain) {
    // red × gain has at most 32 significant bits, so the double product is exact and rounds as the extended
    // one.
    return std::min(roundEven(static_cast<double>(red) * static_cast<double>(gain)), 255);
}

int registeredRow(int x, int y) {
    return std::min(y + registration().rowShift[x], kMapHeight - 1);
}

int registeredColumn(int x, int y) {
    return std::max(x - registration().columnShift[y], 0);
}

float differenceLength(const Tables& tables, int squaredLength) {
    if (squaredLength < static_cast<int>(tables.root.size())) {
        return tables.root[static_cast<std::size_t>(squaredLength)];
    }
    return static_cast<float>(x87Sqrt(static_cast<Extended>(squaredLength)));
}

AnalysisKernel::AnalysisKernel() : extinction_(kVectors), length_(kVectors), correction_(kVectors) {
    for (int v = 0; v < 256; ++v) {
        gainA_[v] = static_cast<std::uint16_t>(roundToInt(static_cast<Extended>(v) * kGainA));
        gainD_[v] = static_cast<std::uint16_t>(roundToInt(static_cast<Extended>(v) * kGainD));
    }
}

void AnalysisKernel::prepare(const Tables& tables) {
    if (generation_ == tables.generation) {
        return;
    }
    for (int x = kMinX; x <= kMaxX; ++x) {
        for (int y = kMinY; y <= kMaxY; ++y) {
            const auto i = static_cast<std::size_t>((x - kMinX) * kSpanY + (y - kMinY));
            const float length = differenceLength(tables, x * x + y * y);
            const Extended r = length == 0.0f ? 0.001L : static_cast<Extended>(length);
            const Extended q = std::clamp(static_cast<Extended>(x) / r, -0.99L, 0.99L);
            const auto k = static_cast<std::size_t>(roundToInt((q + 1.0L) * 100.0L));
            const int sigma = (y > 0) - (y < 0);
            const auto e =
                static_cast<std::size_t>(roundToInt(128.0L - static_cast<Extended>(sigma) * tables.angle[k]));
            extinction_[i] = static_cast<std::uint8_t>(e);
            length_[i] = length;
            correction_[i] = tables.sinDGain[e];
        }
    }
    generation_ = tables.generation;
}

namespace {

struct Combination {
    std::size_t vector;
    int transmission;
};

inline Combination combine(const std::array<std::uint16_t, 256>& gainA,
                           const std::array<std::uint16_t, 256>& gainD, int a, int b, int c, int d) {
    const int aGain = gainA[static_cast<std::size_t>(a)];
    const int dGain = gainD[static_cast<std::size_t>(d)];
    const int x = (aGain - c) / 2;
    const int y = (b - dGain) / 2;
    const int sum = (b + aGain + dGain + c) / 4;
    return Combination{static_cast<std::size_t>((x - AnalysisKernel::kMinX) * AnalysisKernel::kSpanY +
                                                (y - AnalysisKernel::kMinY)),
                       std::clamp(sum, 1, 127)};
}

inline std::uint8_t sinDByte(float length, float correction, int transmission, double maxSin) {
    // The zero vector counts with length 0.001.
    const double r = length == 0.0f ? 0.001 : static_cast<double>(length);
    double v = (r / transmission) * static_cast<double>(correction);
    if (v > 1.0) {
        v = 1.0;
    }
    return static_cast<std::uint8_t>(std::min(roundEven(v * 255.0 / maxSin), 255));
}

} // namespace

MapPixel AnalysisKernel::pixel(Extended maxSin, int a, int b, int c, int d) const {
    const Combination k = combine(gainA_, gainD_, a, b, c, d);
    return MapPixel{
        extinction_[k.vector], static_cast<std::uint8_t>(k.transmission),
        sinDByte(length_[k.vector], correction_[k.vector], k.transmission, static_cast<double>(maxSin))};
}

MapPixel AnalysisKernel::pixelFromCombination(Extended maxSin, int x, int y, int sum) const {
    const auto i = static_cast<std::size_t>((x - kMinX) * kSpanY + (y - kMinY));
    const int t = std::clamp(sum, 1, 127);
    return MapPixel{extinction_[i], static_cast<std::uint8_t>(t),
                    sinDByte(length_[i], correction_[i], t, static_cast<double>(maxSin))};
}

template <bool kFlat, bool kPacked>
void AnalysisKernel::sweep(const FrameView& frame, const FlatFieldGains* gains, double maxSin,
                           const ResultMaps& maps) const {
    const Registration& reg = registration();
    // Reads one red sample, with the flat field when on; only unpacked frames need the bounds check.
    auto sample = [&](int x, int y) -> int {
        int red;
        if constexpr (kPacked) {
            red = frame.pixels[y * frame.stride + x * 4 + 2];
        } else {
            red = redAt(frame, x, y);
        }
        if constexpr (kFlat) {
            if (kPacked || (x < frame.width && y < frame.height)) {
                red = flatFieldSample(red, gains->row(y)[x]);
            }
        }
        return red;
    };
    std::uint8_t* sinD = maps.sinD->data();
    std::uint8_t* extinction = maps.extinction->data();
    std::uint8_t* transmission = maps.transmission->data();
    for (int y = 0; y < kMapHeight; ++y) {
        const int columnShift = reg.columnShift[static_cast<std::size_t>(y)];
        for (int x = 0; x < kMapWidth; ++x) {
            const int row =
                std::min(y + reg.rowShift[static_cast<std::size_t>(x)], kMapHeight - 1) + kMapHeight;
            const int column = std::max(x - columnShift, 0);
            const Combination k = combine(gainA_, gainD_, sample(x, y), sample(x + kMapWidth, y),
                                          sample(column, row), sample(column + kMapWidth, row));
            const std::size_t at = static_cast<std::size_t>(x * ResultMap::kRows + y);
            extinction[at] = extinction_[k.vector];
            transmission[at] = static_cast<std::uint8_t>(k.transmission);
            sinD[at] = sinDByte(length_[k.vector], correction_[k.vector], k.transmission, maxSin);
        }
    }
}

void AnalysisKernel::computeMaps(const FrameView& frame, const FlatFieldGains* gains, Extended maxSin,
                                 const ResultMaps& maps) const {
    const auto m = static_cast<double>(maxSin);
    const bool packed =
        frame.width == kFrameWidth && frame.height == kFrameHeight && frame.stride == kFrameWidth * 4;
    if (gains != nullptr) {
        packed ? sweep<true, true>(frame, gains, m, maps) : sweep<true, false>(frame, gains, m, maps);
    } else {
        packed ? sweep<false, true>(frame, gains, m, maps) : sweep<false, false>(frame, gains, m, maps);
    }
}

AnalysisKernel& analysisKernel() {
    static AnalysisKernel kernel;
    return kernel;
}

MapPixel analysePixel(const Tables& tables, Extended maxSin, int a, int b, int c, int d) {
    AnalysisKernel& kernel = analysisKernel();
    kernel.prepare(tables);
    return kernel.pixel(maxSin, a, b, c, d);
}

void computeMaps(const FrameView& frame, const Tables& tables, Extended maxSin, const ResultMaps& maps) {
    AnalysisKernel& kernel = analysisKernel();
    kernel.prepare(tables);
    kernel.computeMaps(frame, nullptr, maxSin, maps);
}

void analyseFrame(const FrameView& frame, MeasurementState& state) {
    AnalysisKernel& kernel = analysisKernel();
    kernel.prepare(state.tables);
    kernel.computeMaps(frame, state.FlatFieldOn == 1 ? &state.FlatFieldGain : nullptr, state.MaxSin,
                       ResultMaps{&state.SinDMap, &state.ExtinctionMap, &state.TransmissionMap});
}

} // namespace kestrane
