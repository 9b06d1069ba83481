// The fast analysis gives the bytes of the extended-precision formula for every input it can meet.
#include "analysis/FrameAnalysis.h"
#include "analysis/PlainAnalysis.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace kestrane {
namespace {

const Tables& tables() {
    static const Tables t = [] {
        Tables built;
        buildTables(built);
        return built;
    }();
    return t;
}

constexpr Extended kMaxSins[] = {0.2L, 0.4L, 0.6L, 0.8L, 1.0L};

// Every difference vector the channels can form, every transmission 1..127 and every display scale: the pixel
// formula depends on the four bytes only through X, Y and the clamped mean, so this covers every pixel.
void expectWholeDomainEqual(const Tables& t) {
    AnalysisKernel kernel;
    kernel.prepare(t);
    long long mismatches = 0;
    for (Extended maxSin : kMaxSins) {
        for (int x = AnalysisKernel::kMinX; x <= AnalysisKernel::kMaxX; ++x) {
            for (int y = AnalysisKernel::kMinY; y <= AnalysisKernel::kMaxY; ++y) {
                for (int sum = 0; sum <= 128; ++sum) {
                    const MapPixel fast = kernel.pixelFromCombination(maxSin, x, y, sum);
                    const MapPixel oracle = plain::pixelFromCombination(t, maxSin, x, y, sum);
                    if (!(fast == oracle) && ++mismatches <= 5) {
                        ADD_FAILURE() << "X " << x << " Y " << y << " s " << sum << " MaxSin "
                                      << static_cast<double>(maxSin) << ": fast " << int(fast.extinction)
                                      << "/" << int(fast.transmission) << "/" << int(fast.sinD) << ", oracle "
                                      << int(oracle.extinction) << "/" << int(oracle.transmission) << "/"
                                      << int(oracle.sinD);
                    }
                }
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(Equivalence, EveryDifferenceVectorTransmissionAndScale) {
    expectWholeDomainEqual(tables());
}

TEST(Equivalence, EveryCombinationWithTheZeroTablesOfTheFirstPass) {
    expectWholeDomainEqual(Tables{});
}

TEST(Equivalence, TheCombinationCoversEveryChannelByte) {
    // The reachable vectors stay inside the kernel's domain, and the channel gains agree for every byte.
    AnalysisKernel kernel;
    kernel.prepare(tables());
    for (int a = 0; a < 256; ++a) {
        for (int c = 0; c < 256; c += 255) {
            for (int b = 0; b < 256; b += 255) {
                for (int d = 0; d < 256; ++d) {
                    ASSERT_EQ(kernel.pixel(1.0L, a, b, c, d), plain::pixel(tables(), 1.0L, a, b, c, d))
                        << a << "," << b << "," << c << "," << d;
                }
            }
        }
    }
}

TEST(Equivalence, RandomPixelsEndToEnd) {
    AnalysisKernel kernel;
    kernel.prepare(tables());
    std::mt19937 random(2024);
    for (int i = 0; i < 2'000'000; ++i) {
        const std::uint32_t bits = random();
        const int a = bits & 0xff, b = (bits >> 8) & 0xff, c = (bits >> 16) & 0xff, d = bits >> 24;
        const Extended maxSin = kMaxSins[i % 5];
        ASSERT_EQ(kernel.pixel(maxSin, a, b, c, d), plain::pixel(tables(), maxSin, a, b, c, d))
            << a << "," << b << "," << c << "," << d;
    }
}

TEST(Equivalence, FlatFieldForEveryByteAndEveryGainABackgroundGives) {
    std::vector<float> gains = {0.0f};
    for (int background = 1; background <= 255; ++background) {
        gains.push_back(static_cast<float>(128.0L / background));
    }
    for (float gain : gains) {
        for (int red = 0; red < 256; ++red) {
            ASSERT_EQ(flatFieldSample(red, gain), plain::flatField(red, gain)) << red << " x " << gain;
        }
    }
}

TEST(Equivalence, FlatFieldForArbitrarySingleGains) {
    // The double product of a byte and a single is exact, so any finite gain rounds as in extended.
    std::mt19937 random(99);
    for (int i = 0; i < 1'000'000; ++i) {
        std::uint32_t bits = random();
        float gain;
        std::memcpy(&gain, &bits, sizeof gain);
        if (!std::isfinite(gain) || gain < 0 || gain > 1e6f) {
            continue;
        }
        const int red = static_cast<int>(random() & 0xff);
        ASSERT_EQ(flatFieldSample(red, gain), plain::flatField(red, gain)) << red << " x " << gain;
    }
}

Bitmap randomFrame(int width, int height, std::mt19937& random) {
    Bitmap frame(width, height, 32);
    for (std::size_t i = 0; i < frame.sizeBytes(); ++i) {
        frame.bits()[i] = static_cast<std::uint8_t>(random());
    }
    return frame;
}

struct FrameCase {
    int width;
    int height;
    bool flat;
};

class FrameEquivalence : public ::testing::TestWithParam<FrameCase> {};

TEST_P(FrameEquivalence, WholeFramesGiveTheSameMaps) {
    const FrameCase fc = GetParam();
    std::mt19937 random(static_cast<unsigned>(fc.width * 7 + fc.height + fc.flat));
    FlatFieldGains gains;
    for (int x = 0; x <= kFrameWidth; ++x) {
        for (int y = 0; y <= kFrameHeight; ++y) {
            gains.at(x, y) = static_cast<float>(128.0L / (1 + random() % 255));
        }
    }
    for (Extended maxSin : kMaxSins) {
        Bitmap frame = randomFrame(fc.width, fc.height, random);
        Bitmap oracleFrame = frame;
        ResultMap fast[3], oracle[3];
        AnalysisKernel kernel;
        kernel.prepare(tables());
        kernel.computeMaps(frame.view(), fc.flat ? &gains : nullptr, maxSin,
                           ResultMaps{&fast[0], &fast[1], &fast[2]});
        plain::analyse(oracleFrame.view(), fc.flat ? &gains : nullptr, tables(), maxSin,
                       ResultMaps{&oracle[0], &oracle[1], &oracle[2]});
        for (int m = 0; m < 3; ++m) {
            ASSERT_EQ(std::memcmp(fast[m].data(), oracle[m].data(), sizeof(ResultMap)), 0) << "map " << m;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, FrameEquivalence,
                         ::testing::Values(FrameCase{640, 480, false}, FrameCase{640, 480, true},
                                           FrameCase{320, 240, true}, FrameCase{700, 500, true},
                                           FrameCase{641, 480, false}, FrameCase{1, 1, true}));

} // namespace
} // namespace kestrane
