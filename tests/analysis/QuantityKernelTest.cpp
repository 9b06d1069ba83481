// The vectorised quantities against the plain loop they must match: frames with the edge cases of each
// quantity, random frames with and without flat field, and frames the vectorised sweep leaves to the loop.
#include "analysis/FrameAnalysis.h"
#include "analysis/Quantities.h"

#include "QuadrantFrames.h"
#include "TestTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <string>

namespace kestrane {
namespace {

AnalysisKernel preparedKernel(InstructionSet set) {
    AnalysisKernel kernel;
    kernel.useInstructionSet(set);
    kernel.prepare(test::builtTables());
    return kernel;
}

Bitmap randomFrame(int width, int height, std::mt19937& random) {
    Bitmap frame(width, height, 32);
    for (std::size_t i = 0; i < frame.sizeBytes(); ++i) {
        frame.bits()[i] = static_cast<std::uint8_t>(random());
    }
    return frame;
}

// A frame whose red bytes stay in 0..`top`, as under a dim lamp.
Bitmap dimFrame(int top) {
    std::mt19937 random(static_cast<unsigned>(top));
    Bitmap frame = randomFrame(kFrameWidth, kFrameHeight, random);
    FrameView v = frame.view();
    for (int y = 0; y < kFrameHeight; ++y) {
        for (int x = 0; x < kFrameWidth; ++x) {
            v.pixel(x, y)[2] = static_cast<std::uint8_t>(v.pixel(x, y)[2] % (top + 1));
        }
    }
    return frame;
}

// The largest difference between the two computations of one quantity; NaN must meet NaN.
struct Difference {
    double largest = 0.0;
    std::size_t nanMismatches = 0;
};

Difference compare(const std::vector<float>& fast, const std::vector<float>& plain, bool relative) {
    Difference d;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        if (std::isnan(plain[i]) || std::isnan(fast[i])) {
            d.nanMismatches += std::isnan(plain[i]) != std::isnan(fast[i]) ? 1 : 0;
            continue;
        }
        const double difference = std::abs(static_cast<double>(fast[i]) - plain[i]);
        d.largest = std::max(d.largest, relative && plain[i] != 0.0f ? difference / plain[i] : difference);
    }
    return d;
}

// The rule for every frame: the vectorised sweep gives |sin δ|, orientation and transmission bit for bit as
// the plain loop does (NaN where it has NaN), and the retardance, whose arcsine is a polynomial, to within
// 1e-6 of itself. Adds each quantity's largest difference into `largest`.
void expectSameQuantities(const QuantityMaps& fast, const QuantityMaps& plain, const std::string& what,
                          double (&largest)[4]) {
    const Difference d[4] = {compare(fast.retardanceNm, plain.retardanceNm, true),
                             compare(fast.orientationDeg, plain.orientationDeg, false),
                             compare(fast.sinD, plain.sinD, false),
                             compare(fast.transmissionPct, plain.transmissionPct, false)};
    const char* names[4] = {"retardance (relative)", "orientation", "|sin d|", "transmission"};
    for (int q = 0; q < 4; ++q) {
        EXPECT_LE(d[q].largest, q == 0 ? 1e-6 : 0.0) << what << ": " << names[q];
        EXPECT_EQ(d[q].nanMismatches, 0u) << what << ": NaN apart in " << names[q];
        largest[q] = std::max(largest[q], d[q].largest);
    }
}

struct KernelCase {
    const char* name;
    std::function<Bitmap()> frame;
    bool flatField;
};

TEST(QuantityKernel, VectorisedSweepMatchesThePlainLoop) {
    if (!AnalysisKernel::supports(InstructionSet::kAvx2)) {
        GTEST_SKIP() << "this processor has no AVX2";
    }
    const AnalysisKernel fast = preparedKernel(InstructionSet::kAvx2);
    const AnalysisKernel plain = preparedKernel(InstructionSet::kScalar);
    FlatFieldGains gains;
    std::mt19937 gainRandom(11);
    for (int x = 0; x <= kFrameWidth; ++x) {
        for (int y = 0; y <= kFrameHeight; ++y) {
            gains.at(x, y) = static_cast<float>(128.0 / (1 + gainRandom() % 255));
        }
    }
    std::mt19937 random(5);
    const KernelCase cases[] = {
        {"all dark: X = Y = 0, s = 0", [] { return test::frameWithQuadrants(0, 0, 0, 0); }, false},
        {"X = Y = 0 in a lit frame", [] { return test::frameWithQuadrants(100, 94, 123, 100); }, false},
        {"v capped at 1", [] { return test::frameWithQuadrants(255, 0, 0, 255); }, false},
        {"v capped at 1 through the flat field", [] { return test::frameWithQuadrants(255, 0, 0, 255); },
         true},
        {"brightest s", [] { return test::frameWithQuadrants(255, 255, 255, 255); }, true},
        {"dark pixels, bytes 0..3", [] { return dimFrame(3); }, false},
        {"dark pixels through the flat field", [] { return dimFrame(6); }, true},
        {"random, no flat field", [&] { return randomFrame(kFrameWidth, kFrameHeight, random); }, false},
        {"random, flat field", [&] { return randomFrame(kFrameWidth, kFrameHeight, random); }, true},
    };
    double largest[4] = {};
    for (const KernelCase& c : cases) {
        // The random cases run several frames, so that v meets the whole of 0..1.
        const int repeats = std::string(c.name).starts_with("random") ? 12 : 1;
        for (int n = 0; n < repeats; ++n) {
            Bitmap frame = c.frame();
            const FlatFieldGains* g = c.flatField ? &gains : nullptr;
            QuantityMaps vectorised;
            QuantityMaps reference;
            computeQuantities(fast, frame.view(), g, 546.0, vectorised);
            computeQuantities(plain, frame.view(), g, 546.0, reference);
            expectSameQuantities(vectorised, reference, c.name, largest);
        }
    }
    std::printf("vectorised against plain, largest difference: retardance %.3g of itself, orientation %.3g "
                "deg, |sin d| %.3g, transmission %.3g %%\n",
                largest[0], largest[1], largest[2], largest[3]);
}

TEST(QuantityKernel, RetardanceDifferenceInNanometresAtTheLongestWavelength) {
    if (!AnalysisKernel::supports(InstructionSet::kAvx2)) {
        GTEST_SKIP() << "this processor has no AVX2";
    }
    std::mt19937 random(9);
    Bitmap frame = randomFrame(kFrameWidth, kFrameHeight, random);
    QuantityMaps vectorised;
    QuantityMaps reference;
    computeQuantities(preparedKernel(InstructionSet::kAvx2), frame.view(), nullptr, 1000.0, vectorised);
    computeQuantities(preparedKernel(InstructionSet::kScalar), frame.view(), nullptr, 1000.0, reference);
    const double nm = compare(vectorised.retardanceNm, reference.retardanceNm, false).largest;
    std::printf("retardance at 1000 nm: largest difference %.3g nm\n", nm);
    // A quarter wave is 250 nm, and a float carries 2^-24 of it: 1.5e-5 nm.
    EXPECT_LT(nm, 1e-4);
}

// Frames of another size or stored top-down go through their own reading of the samples: the answer must
// not depend on which loop the kernel picks.
TEST(QuantityKernel, FramesOfEveryLayoutGiveTheSameQuantitiesOnEveryKernel) {
    struct Layout {
        int width, height;
        bool topDown;
    };
    std::mt19937 random(21);
    for (const Layout layout : {Layout{640, 480, true}, Layout{320, 240, false}, Layout{700, 500, false}}) {
        Bitmap frame = randomFrame(layout.width, layout.height, random);
        FrameView view = frame.view();
        if (layout.topDown) {
            view.pixels += (view.height - 1) * view.stride;
            view.stride = -view.stride;
        }
        QuantityMaps reference;
        computeQuantities(preparedKernel(InstructionSet::kScalar), view, nullptr, 546.0, reference);
        double largest[4] = {};
        for (InstructionSet set : {InstructionSet::kAvx2, InstructionSet::kAvx512}) {
            if (AnalysisKernel::supports(set)) {
                QuantityMaps q;
                computeQuantities(preparedKernel(set), view, nullptr, 546.0, q);
                expectSameQuantities(q, reference,
                                     std::to_string(layout.width) + " x " + std::to_string(layout.height) +
                                         (layout.topDown ? " top-down" : ""),
                                     largest);
            }
        }
    }
}

} // namespace
} // namespace kestrane
