// The numbers handed out with units: retardance, orientation, |sin δ| and transmission per map pixel, from
// the analysis's unquantised values rather than from the display bytes.
#include "analysis/Quantities.h"

#include "analysis/Calibration.h"
#include "analysis/FrameAnalysis.h"

#include <cmath>
#include <limits>
#include <numbers>

namespace kestrane {

double orientationDegrees(int x, int y) {
    if (x == 0 && y == 0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const double degrees =
        90.0 - 0.5 * std::atan2(static_cast<double>(y), static_cast<double>(x)) * (180.0 / std::numbers::pi);
    // atan2 gives (−180°, 180°], so only its upper end lands on 180°, which is the same axis as 0°.
    return degrees >= 180.0 ? degrees - 180.0 : degrees;
}

double transmissionPercent(int sum) {
    return 100.0 * sum / 255.0;
}

bool wavelengthInRange(double wavelengthNm) {
    return wavelengthNm >= kMinimumWavelengthNm && wavelengthNm <= kMaximumWavelengthNm;
}

namespace {

// The largest s: the four channels at 255 after the gains of A and D.
constexpr int kMaxSum = 266;

// The state's tables stay zero until the program's first activation, and zero tables would make every
// |sin δ| zero: before then the quantities use tables of their own.
const Tables& builtTables(const Tables& tables) {
    if (tables.generation != 0) {
        return tables;
    }
    static const Tables own = [] {
        Tables t;
        buildTables(t);
        return t;
    }();
    return own;
}

// The orientation of every difference vector the channels can form, at the kernel's vector index from the
// origin: worked out once, as atan2 per pixel would cost more than the rest of the computation.
const float* orientationOrigin() {
    static const std::vector<float> table = [] {
        std::vector<float> t(AnalysisKernel::kVectors);
        for (int x = AnalysisKernel::kMinX; x <= AnalysisKernel::kMaxX; ++x) {
            for (int y = AnalysisKernel::kMinY; y <= AnalysisKernel::kMaxY; ++y) {
                t[static_cast<std::size_t>((x - AnalysisKernel::kMinX) * AnalysisKernel::kRowEntries + y -
                                           AnalysisKernel::kMinY)] =
                    static_cast<float>(orientationDegrees(x, y));
            }
        }
        return t;
    }();
    return table.data() - AnalysisKernel::kMinX * AnalysisKernel::kRowEntries - AnalysisKernel::kMinY;
}

// Transmission in % for every s the channels can give, so that the fast and the plain loop share the values.
const float* transmissionTable() {
    static const std::vector<float> table = [] {
        std::vector<float> t(kMaxSum + 1);
        for (int sum = 0; sum <= kMaxSum; ++sum) {
            t[static_cast<std::size_t>(sum)] = static_cast<float>(transmissionPercent(sum));
        }
        return t;
    }();
    return table.data();
}

} // namespace

void computeQuantities(const AnalysisKernel& kernel, const FrameView& frame, const FlatFieldGains* gains,
                       double wavelengthNm, QuantityMaps& out) {
    out.width = kMapWidth;
    out.height = kMapHeight;
    const auto pixels = static_cast<std::size_t>(kMapWidth) * kMapHeight;
    for (std::vector<float>* map :
         {&out.retardanceNm, &out.orientationDeg, &out.sinD, &out.transmissionPct}) {
        map->resize(pixels);
    }
    // Retardance arcsin(v) × λ / 2π in single precision, which the maps are stored in.
    const auto nmPerRadian = static_cast<float>(wavelengthNm / (2.0 * std::numbers::pi));
    const float* orientation = orientationOrigin();
    const float* transmission = transmissionTable();
    if (kernel.sweepQuantities(frame, gains,
                               QuantitySweep{orientation, transmission, nmPerRadian, out.retardanceNm.data(),
                                             out.orientationDeg.data(), out.sinD.data(),
                                             out.transmissionPct.data()})) {
        return;
    }
    std::vector<ChannelCombination> combinations;
    kernel.computeCombinations(frame, gains, combinations);
    for (int r = 0; r < kMapHeight; ++r) {
        const int y = kMapHeight - 1 - r;
        for (int x = 0; x < kMapWidth; ++x) {
            const ChannelCombination& k = combinations[static_cast<std::size_t>(y * kMapWidth + x)];
            const auto v = static_cast<float>(kernel.sinD(k.x, k.y, k.sum));
            const auto at = static_cast<std::size_t>(r * kMapWidth + x);
            out.sinD[at] = v;
            out.retardanceNm[at] = std::asin(v) * nmPerRadian;
            out.orientationDeg[at] = orientation[k.x * AnalysisKernel::kRowEntries + k.y];
            out.transmissionPct[at] = transmission[k.sum];
        }
    }
}

void computeQuantities(const FrameView& frame, const MeasurementState& state, double wavelengthNm,
                       QuantityMaps& out) {
    AnalysisKernel& kernel = analysisKernel();
    kernel.prepare(builtTables(state.tables));
    computeQuantities(kernel, frame, state.FlatFieldOn == 1 ? &state.FlatFieldGain : nullptr, wavelengthNm,
                      out);
}

} // namespace kestrane
