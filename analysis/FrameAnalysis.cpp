// The four-quadrant analysis: the three result maps of a Frame, with the flat field applied on the way.
#include "analysis/FrameAnalysis.h"

#include "analysis/FrameAnalysisKernels.h"
#include "imaging/CpuFeatures.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace kestrane {

Registration::Registration() {
    for (int x = 0; x < kMapWidth; ++x) {
        rowShift[x] = static_cast<std::uint8_t>(roundToInt(static_cast<Extended>(x) / 40.0L));
    }
    for (int y = 0; y < kMapHeight; ++y) {
        columnShift[y] = static_cast<std::uint8_t>(roundToInt(static_cast<Extended>(y) / 30.0L));
    }
}

const Registration& registration() {
    static const Registration r;
    return r;
}

double sinDLimit(double scale) {
    return std::min(scale, 255.0);
}

namespace {

// Round half to even of a double below 2^51 in magnitude: adding 1.5 × 2^52 leaves no fraction bits, so
// the addition itself rounds in the processor's (nearest-even) mode.
inline int roundEven(double v) {
    constexpr double kShift = 6755399441055744.0;
    return static_cast<int>((v + kShift) - kShift);
}

inline std::uint8_t entryExtinction(std::uint64_t entry) {
    return static_cast<std::uint8_t>(entry & kExtinctionBits);
}

inline double entryProduct(std::uint64_t entry) {
    return std::bit_cast<double>(entry);
}

inline double sinDScale(Extended maxSin) {
    return 255.0 / static_cast<double>(maxSin);
}

// The |sin δ| byte: length × correction × (255 / MaxSin / T), limited by sinDLimit, rounded half to even.
// The formula divides the length by T, multiplies by the correction, limits to 1, multiplies by 255, divides
// by MaxSin and saturates the rounded value at 255; the limits are the same, and the changed order moves the
// last bits only: the whole-domain tests show that no byte changes.
inline std::uint8_t sinDByte(double product, int transmission, double scale) {
    return static_cast<std::uint8_t>(roundEven(std::min(product * (scale / transmission), sinDLimit(scale))));
}

} // namespace

int flatFieldSample(int red, float gain) {
    // red × gain has at most 32 significant bits, so the double product is exact and rounds as the extended
    // one; NaN and negative products give 0 as the clamped extended rounding does.
    const double product = static_cast<double>(red) * static_cast<double>(gain);
    if (!(product > 0.0)) {
        return 0;
    }
    return product >= 255.0 ? 255 : roundEven(product);
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

AnalysisKernel::AnalysisKernel() : vectors_(kVectors) {
    for (int v = 0; v < 256; ++v) {
        gainA_[v] = static_cast<std::uint16_t>(roundToInt(static_cast<Extended>(v) * kGainA));
        gainD_[v] = static_cast<std::uint16_t>(roundToInt(static_cast<Extended>(v) * kGainD));
    }
    for (InstructionSet widest : {InstructionSet::kAvx512, InstructionSet::kAvx2}) {
        if (useInstructionSet(widest)) {
            break;
        }
    }
}

void AnalysisKernel::prepare(const Tables& tables) {
    if (generation_ == tables.generation) {
        return;
    }
    for (int x = kMinX; x <= kMaxX; ++x) {
        for (int y = kMinY; y <= kMaxY; ++y) {
            const float length = differenceLength(tables, x * x + y * y);
            const Extended r = length == 0.0f ? 0.001L : static_cast<Extended>(length);
            const Extended q = std::clamp(static_cast<Extended>(x) / r, -0.99L, 0.99L);
            const auto k = static_cast<std::size_t>(roundToInt((q + 1.0L) * 100.0L));
            const int sigma = (y > 0) - (y < 0);
            const auto e =
                static_cast<std::size_t>(roundToInt(128.0L - static_cast<Extended>(sigma) * tables.angle[k]));
            // The zero vector counts with length 0.001.
            const double product = (length == 0.0f ? 0.001 : static_cast<double>(length)) *
                                   static_cast<double>(tables.sinDGain[e]);
            vectorOrigin()[x * kRowEntries + y] =
                (std::bit_cast<std::uint64_t>(product) & ~kExtinctionBits) | e;
        }
    }
    generation_ = tables.generation;
}

namespace {

// The integer combinations of the channels in full-width integers, which the map sweep keeps in registers.
struct Combined {
    int x, y, sum;
};

// The combinations from the four red samples, the gains taken from their tables.
inline Combined combine(const std::array<std::uint16_t, 256>& gainA,
                        const std::array<std::uint16_t, 256>& gainD, int a, int b, int c, int d) {
    const int aGain = gainA[static_cast<std::size_t>(a)];
    const int dGain = gainD[static_cast<std::size_t>(d)];
    return Combined{(aGain - c) / 2, (b - dGain) / 2, (b + aGain + dGain + c) / 4};
}

inline int vectorIndex(const Combined& k) {
    return k.x * AnalysisKernel::kRowEntries + k.y;
}

inline int transmissionByte(int sum) {
    return std::clamp(sum, 1, kMaxTransmission);
}

inline MapPixel mapPixel(std::uint64_t entry, int transmission, double scale) {
    return MapPixel{entryExtinction(entry), static_cast<std::uint8_t>(transmission),
                    sinDByte(entryProduct(entry), transmission, scale)};
}

// Calls fn(x, y, a, b, c, d) for every map pixel with the red samples of the four quadrants there: C and D
// registered onto A, the flat field applied when on. Only frames of another size need the bounds check.
template <bool kFlat, bool kPacked, class Fn>
inline void forEachPixel(const FrameView& frame, const FlatFieldGains* gains, Fn&& fn) {
    const Registration& reg = registration();
    auto sample = [&](int x, int y) -> int {
        int red;
        if constexpr (kPacked) {
            red = frame.pixel(x, y)[2];
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
    for (int y = 0; y < kMapHeight; ++y) {
        const int columnShift = reg.columnShift[static_cast<std::size_t>(y)];
        for (int x = 0; x < kMapWidth; ++x) {
            const int row =
                std::min(y + reg.rowShift[static_cast<std::size_t>(x)], kMapHeight - 1) + kMapHeight;
            const int column = std::max(x - columnShift, 0);
            fn(x, y, sample(x, y), sample(x + kMapWidth, y), sample(column, row),
               sample(column + kMapWidth, row));
        }
    }
}

// forEachPixel with the variant for this frame and flat field.
template <class Fn> void forEachPixelOf(const FrameView& frame, const FlatFieldGains* gains, Fn&& fn) {
    const bool fullFrame = frame.width == kFrameWidth && frame.height == kFrameHeight;
    if (gains != nullptr) {
        fullFrame ? forEachPixel<true, true>(frame, gains, fn) : forEachPixel<true, false>(frame, gains, fn);
    } else {
        fullFrame ? forEachPixel<false, true>(frame, gains, fn)
                  : forEachPixel<false, false>(frame, gains, fn);
    }
}

} // namespace

MapPixel AnalysisKernel::pixel(Extended maxSin, int a, int b, int c, int d) const {
    const Combined k = combine(gainA_, gainD_, a, b, c, d);
    return mapPixel(vectorOrigin()[vectorIndex(k)], transmissionByte(k.sum), sinDScale(maxSin));
}

MapPixel AnalysisKernel::pixelFromCombination(Extended maxSin, int x, int y, int sum) const {
    return mapPixel(vectorOrigin()[x * kRowEntries + y], transmissionByte(sum), sinDScale(maxSin));
}

double AnalysisKernel::sinD(int x, int y, int sum) const {
    return std::min(entryProduct(vectorOrigin()[x * kRowEntries + y]) / transmissionByte(sum), 1.0);
}

void AnalysisKernel::computeCombinations(const FrameView& frame, const FlatFieldGains* gains,
                                         std::vector<ChannelCombination>& out) const {
    out.resize(static_cast<std::size_t>(kMapWidth) * kMapHeight);
    forEachPixelOf(frame, gains, [&](int x, int y, int a, int b, int c, int d) {
        const Combined k = combine(gainA_, gainD_, a, b, c, d);
        out[static_cast<std::size_t>(y * kMapWidth + x)] = ChannelCombination{
            static_cast<std::int16_t>(k.x), static_cast<std::int16_t>(k.y), static_cast<std::int16_t>(k.sum)};
    });
}

FrameRows frameRows(const SweepInput& in, int y) {
    auto row = [&](int r) {
        return reinterpret_cast<const std::uint32_t*>(in.frame.pixels + r * in.frame.stride);
    };
    FrameRows rows{};
    rows.a = row(y);
    rows.gainA = in.gains != nullptr ? in.gains->row(y) : nullptr;
    for (int s = 0; s <= kMaxRowShift; ++s) {
        const int r = std::min(y + s, kMapHeight - 1) + kMapHeight;
        rows.c[s] = row(r);
        rows.gainC[s] = in.gains != nullptr ? in.gains->row(r) : nullptr;
    }
    rows.columnShift = registration().columnShift[static_cast<std::size_t>(y)];
    return rows;
}

template <int kLanes> const LaneGroup* laneGroups() {
    static const auto groups = [] {
        const Registration& reg = registration();
        std::array<LaneGroup, kMapWidth / kLanes> g{};
        for (int j = 0; j < kMapWidth / kLanes; ++j) {
            const int x0 = j * kLanes;
            g[j].low = reg.rowShift[x0];
            g[j].high = reg.rowShift[x0 + kLanes - 1];
            for (int lane = 0; lane < kLanes; ++lane) {
                if (reg.rowShift[x0 + lane] != g[j].low) {
                    g[j].highLanes |= 1u << lane;
                }
            }
        }
        return g;
    }();
    return groups.data();
}

void fillSinDScales(double* scales, double scale) {
    scales[0] = 0.0;
    for (int t = 1; t <= kMaxTransmission; ++t) {
        scales[t] = scale / t;
    }
}

template const LaneGroup* laneGroups<8>();
template const LaneGroup* laneGroups<16>();

bool AnalysisKernel::supports(InstructionSet set) {
    const CpuFeatures& cpu = cpuFeatures();
    switch (set) {
    case InstructionSet::kScalar:
        return true;
    case InstructionSet::kAvx2:
        return cpu.avx2 && cpu.fma;
    case InstructionSet::kAvx512:
        return cpu.avx2 && cpu.fma && cpu.avx512;
    }
    return false;
}

bool AnalysisKernel::useInstructionSet(InstructionSet set) {
    if (!supports(set)) {
        return false;
    }
    set_ = set;
    return true;
}

void AnalysisKernel::pixelsFromCombinations(Extended maxSin, const std::int32_t* x, const std::int32_t* y,
                                            const std::int32_t* sum, MapPixel* out, int count) const {
    int done = 0;
    if (set_ == InstructionSet::kAvx512) {
        done = combinationsAvx512(vectorOrigin(), sinDScale(maxSin), x, y, sum, out, count);
    } else if (set_ == InstructionSet::kAvx2) {
        done = combinationsAvx2(vectorOrigin(), sinDScale(maxSin), x, y, sum, out, count);
    }
    for (int i = done; i < count; ++i) {
        out[i] = pixelFromCombination(maxSin, x[i], y[i], sum[i]);
    }
}

void AnalysisKernel::flatFieldSamples(const std::uint8_t* pixels, const float* gains, std::uint8_t* out,
                                      int count) const {
    int done = 0;
    if (set_ == InstructionSet::kAvx512) {
        done = flatFieldAvx512(pixels, gains, out, count);
    } else if (set_ == InstructionSet::kAvx2) {
        done = flatFieldAvx2(pixels, gains, out, count);
    }
    for (int i = done; i < count; ++i) {
        out[i] = static_cast<std::uint8_t>(flatFieldSample(pixels[4 * i + 2], gains[i]));
    }
}

void AnalysisKernel::computeMaps(const FrameView& frame, const FlatFieldGains* gains, Extended maxSin,
                                 const ResultMaps& maps) const {
    const double scale = sinDScale(maxSin);
    const bool fullFrame = frame.width == kFrameWidth && frame.height == kFrameHeight;
    if (fullFrame && set_ != InstructionSet::kScalar) {
        const SweepInput in{frame,
                            gains,
                            vectorOrigin(),
                            scale,
                            {maps.extinction->data(), maps.transmission->data(), maps.sinD->data()}};
        set_ == InstructionSet::kAvx512 ? sweepAvx512(in) : sweepAvx2(in);
        return;
    }
    const std::uint64_t* origin = vectorOrigin();
    std::uint8_t* sinD = maps.sinD->data();
    std::uint8_t* extinction = maps.extinction->data();
    std::uint8_t* transmission = maps.transmission->data();
    forEachPixelOf(frame, gains, [&](int x, int y, int a, int b, int c, int d) {
        const Combined k = combine(gainA_, gainD_, a, b, c, d);
        const MapPixel p = mapPixel(origin[vectorIndex(k)], transmissionByte(k.sum), scale);
        const std::size_t at = static_cast<std::size_t>(x * ResultMap::kRows + y);
        extinction[at] = p.extinction;
        transmission[at] = p.transmission;
        sinD[at] = p.sinD;
    });
}

bool AnalysisKernel::sweepQuantities(const FrameView& frame, const FlatFieldGains* gains,
                                     const QuantitySweep& q) const {
    if (set_ == InstructionSet::kScalar || frame.width != kFrameWidth || frame.height != kFrameHeight) {
        return false;
    }
    // The quantities do not depend on the display scale.
    quantitiesAvx2(SweepInput{frame, gains, vectorOrigin(), 1.0, {}}, q);
    return true;
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
    analyseFrame(frame, state, ResultMaps{&state.SinDMap, &state.ExtinctionMap, &state.TransmissionMap});
}

void analyseFrame(const FrameView& frame, const MeasurementState& state, const ResultMaps& maps) {
    AnalysisKernel& kernel = analysisKernel();
    kernel.prepare(state.tables);
    kernel.computeMaps(frame, state.FlatFieldOn == 1 ? &state.FlatFieldGain : nullptr, state.MaxSin, maps);
}

} // namespace kestrane
