// The fast analysis gives the bytes of the extended-precision formula for every input it can meet, with
// every instruction set the processor runs.
#include "analysis/FrameAnalysis.h"
#include "analysis/PlainAnalysis.h"

#include "TestTables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace kestrane {
namespace {

const Tables& tables() {
    return test::builtTables();
}

constexpr Extended kMaxSins[] = {0.2L, 0.4L, 0.6L, 0.8L, 1.0L};

const char* setName(InstructionSet set) {
    switch (set) {
    case InstructionSet::kScalar:
        return "scalar";
    case InstructionSet::kAvx2:
        return "AVX2";
    case InstructionSet::kAvx512:
        return "AVX-512";
    }
    return "?";
}

// A prepared kernel for each instruction set this processor runs.
std::vector<AnalysisKernel> kernels(const Tables& t) {
    std::vector<AnalysisKernel> list;
    for (InstructionSet set : {InstructionSet::kScalar, InstructionSet::kAvx2, InstructionSet::kAvx512}) {
        if (AnalysisKernel::supports(set)) {
            list.emplace_back();
            list.back().useInstructionSet(set);
            list.back().prepare(t);
        }
    }
    return list;
}

std::string bytes(const MapPixel& p) {
    return std::to_string(p.extinction) + "/" + std::to_string(p.transmission) + "/" + std::to_string(p.sinD);
}

// Every difference vector the channels can form, every transmission 1..127 (and both sides of its clamps)
// and every display scale: the pixel formula depends on the four bytes only through X, Y and the floor of the
// mean, so this covers every pixel.
void expectWholeDomainEqual(const Tables& t) {
    const std::vector<AnalysisKernel> list = kernels(t);
    std::vector<long long> mismatches(list.size());
    std::vector<std::int32_t> xs, ys, sums;
    std::vector<MapPixel> oracle, fast;
    for (Extended maxSin : kMaxSins) {
        for (int x = AnalysisKernel::kMinX; x <= AnalysisKernel::kMaxX; ++x) {
            xs.clear();
            ys.clear();
            sums.clear();
            oracle.clear();
            for (int y = AnalysisKernel::kMinY; y <= AnalysisKernel::kMaxY; ++y) {
                for (int sum = 0; sum <= 128; ++sum) {
                    xs.push_back(x);
                    ys.push_back(y);
                    sums.push_back(sum);
                    oracle.push_back(plain::pixelFromCombination(t, maxSin, x, y, sum));
                }
            }
            fast.resize(oracle.size());
            for (std::size_t k = 0; k < list.size(); ++k) {
                list[k].pixelsFromCombinations(maxSin, xs.data(), ys.data(), sums.data(), fast.data(),
                                               static_cast<int>(fast.size()));
                for (std::size_t i = 0; i < fast.size(); ++i) {
                    if (!(fast[i] == oracle[i]) && ++mismatches[k] <= 5) {
                        ADD_FAILURE()
                            << setName(list[k].instructionSet()) << ": X " << xs[i] << " Y " << ys[i] << " s "
                            << sums[i] << " MaxSin " << static_cast<double>(maxSin) << ": fast "
                            << bytes(fast[i]) << ", oracle " << bytes(oracle[i]);
                    }
                }
            }
        }
    }
    for (std::size_t k = 0; k < list.size(); ++k) {
        EXPECT_EQ(mismatches[k], 0) << setName(list[k].instructionSet());
    }
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

// The extended flat field, and where its conversion has no integer to give (NaN, infinities) the dark or
// bright sample the gain means.
int expectedFlatField(int red, float gain) {
    if (std::isnan(gain) || std::isinf(gain)) {
        return gain > 0 && red > 0 ? 255 : 0;
    }
    return plain::flatField(red, gain);
}

// Runs the flat field of every kernel over the red bytes and gains, against the extended one; the other
// bytes of each pixel are noise that must not leak in.
void expectFlatFieldEqual(const std::vector<int>& reds, const std::vector<float>& gains) {
    std::mt19937 random(5);
    std::vector<std::uint8_t> pixels(reds.size() * 4);
    for (std::size_t i = 0; i < reds.size(); ++i) {
        const std::uint32_t noise = random();
        std::memcpy(&pixels[4 * i], &noise, 4);
        pixels[4 * i + 2] = static_cast<std::uint8_t>(reds[i]);
    }
    std::vector<std::uint8_t> out(reds.size());
    for (const AnalysisKernel& kernel : kernels(tables())) {
        kernel.flatFieldSamples(pixels.data(), gains.data(), out.data(), static_cast<int>(out.size()));
        for (std::size_t i = 0; i < reds.size(); ++i) {
            const int expected = expectedFlatField(reds[i], gains[i]);
            ASSERT_EQ(out[i], expected)
                << setName(kernel.instructionSet()) << ": " << reds[i] << " x " << gains[i];
            if (kernel.instructionSet() == InstructionSet::kScalar) {
                ASSERT_EQ(flatFieldSample(reds[i], gains[i]), expected);
            }
        }
    }
}

TEST(Equivalence, FlatFieldForEveryByteAndEveryGainABackgroundGives) {
    std::vector<int> reds;
    std::vector<float> gains;
    for (int background = 0; background <= 255; ++background) {
        // A background byte of 0 leaves the gain at its start value 0.0.
        const float gain = background == 0 ? 0.0f : static_cast<float>(128.0L / background);
        for (int red = 0; red < 256; ++red) {
            reds.push_back(red);
            gains.push_back(gain);
        }
    }
    expectFlatFieldEqual(reds, gains);
}

TEST(Equivalence, FlatFieldForArbitrarySingleGains) {
    // Any single whose product with a byte the extended rounding can hold (negative, tiny and subnormal
    // gains included), and NaN, which makes a dark sample.
    std::mt19937 random(99);
    std::vector<int> reds;
    std::vector<float> gains;
    for (int i = 0; i < 1'000'000; ++i) {
        std::uint32_t bits = random();
        float gain;
        std::memcpy(&gain, &bits, sizeof gain);
        if (!std::isnan(gain) && !(std::fabs(gain) < 1e15f)) {
            continue;
        }
        reds.push_back(static_cast<int>(random() & 0xff));
        gains.push_back(gain);
    }
    for (float gain : {std::numeric_limits<float>::denorm_min(), -0.0f, 255.5f, 256.0f, 256.5f, 0.5f, 1.5f,
                       std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                       -std::numeric_limits<float>::infinity()}) {
        for (int red = 0; red < 256; ++red) {
            reds.push_back(red);
            gains.push_back(gain);
        }
    }
    expectFlatFieldEqual(reds, gains);
}

TEST(Equivalence, GainsTooLargeForTheExtendedRoundingGiveFullScale) {
    // The extended conversion overflows for these; a bright sample is what the gain means.
    for (const AnalysisKernel& kernel : kernels(tables())) {
        for (float gain : {1e20f, 1e30f, std::numeric_limits<float>::max()}) {
            const std::uint8_t pixels[16 * 4] = {0, 0, 1, 0, 0, 0, 0, 0};
            const std::vector<float> gainRow(16, gain);
            std::uint8_t out[16];
            kernel.flatFieldSamples(pixels, gainRow.data(), out, 16);
            EXPECT_EQ(out[0], 255) << setName(kernel.instructionSet()) << " x " << gain;
            EXPECT_EQ(out[1], 0) << setName(kernel.instructionSet()) << " x " << gain;
        }
    }
}

Bitmap randomFrame(int width, int height, std::mt19937& random) {
    Bitmap frame(width, height, 32);
    for (std::size_t i = 0; i < frame.sizeBytes(); ++i) {
        frame.bits()[i] = static_cast<std::uint8_t>(random());
    }
    return frame;
}

// The maps of every kernel against the oracle's for one frame (the oracle applies the flat field in place,
// so it gets a copy).
void expectMapsEqual(const Bitmap& frame, bool topDown, const FlatFieldGains* gains, Extended maxSin,
                     const std::string& what) {
    auto viewOf = [topDown](Bitmap& b) {
        FrameView v = b.view();
        if (topDown) {
            v.pixels += (v.height - 1) * v.stride;
            v.stride = -v.stride;
        }
        return v;
    };
    // Both sides start from the same non-zero bytes, so that a write to column 320 or row 240, which the
    // analysis leaves alone, shows.
    auto fill = [](ResultMap(&maps)[3]) {
        for (ResultMap& map : maps) {
            std::memset(map.data(), 0xA5, sizeof(ResultMap));
        }
    };
    Bitmap oracleFrame = frame;
    ResultMap oracle[3];
    fill(oracle);
    plain::analyse(viewOf(oracleFrame), gains, tables(), maxSin,
                   ResultMaps{&oracle[0], &oracle[1], &oracle[2]});
    for (const AnalysisKernel& kernel : kernels(tables())) {
        Bitmap input = frame;
        ResultMap fast[3];
        fill(fast);
        kernel.computeMaps(viewOf(input), gains, maxSin, ResultMaps{&fast[0], &fast[1], &fast[2]});
        EXPECT_TRUE(input == frame) << setName(kernel.instructionSet()) << " changed the frame";
        for (int m = 0; m < 3; ++m) {
            ASSERT_EQ(std::memcmp(fast[m].data(), oracle[m].data(), sizeof(ResultMap)), 0)
                << setName(kernel.instructionSet()) << ", " << what << ", map " << m << " (sinD, extinction, "
                << "transmission), MaxSin " << static_cast<double>(maxSin);
        }
    }
}

struct FrameCase {
    int width;
    int height;
    bool flat;
    bool topDown;
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
        const Bitmap frame = randomFrame(fc.width, fc.height, random);
        expectMapsEqual(frame, fc.topDown, fc.flat ? &gains : nullptr, maxSin, "random frame");
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, FrameEquivalence,
                         ::testing::Values(FrameCase{640, 480, false, false},
                                           FrameCase{640, 480, true, false}, FrameCase{640, 480, true, true},
                                           FrameCase{320, 240, true, false}, FrameCase{700, 500, true, false},
                                           FrameCase{641, 480, false, false}, FrameCase{1, 1, true, false}));

// A frame in which the map pixels see every pair of bytes (a, c), or every pair (b, d), through the
// registration, so that each kernel meets each channel byte in combination with every partner. Pairs go
// only to map pixels whose C and D samples no other map pixel reads.
Bitmap channelPairFrame(bool aAndC) {
    std::mt19937 random(aAndC ? 3 : 4);
    Bitmap frame = randomFrame(kFrameWidth, kFrameHeight, random);
    std::vector<int> readers(kFrameWidth * kFrameHeight);
    for (int y = 0; y < kMapHeight; ++y) {
        for (int x = 0; x < kMapWidth; ++x) {
            ++readers[(registeredRow(x, y) + kMapHeight) * kFrameWidth + registeredColumn(x, y)];
        }
    }
    const int offset = aAndC ? 0 : kMapWidth;
    int pair = 0;
    for (int y = 0; y < kMapHeight && pair < 65536; ++y) {
        for (int x = 0; x < kMapWidth && pair < 65536; ++x) {
            const int row = registeredRow(x, y) + kMapHeight;
            const int column = registeredColumn(x, y);
            if (readers[row * kFrameWidth + column] == 1) {
                frame.view().pixel(x + offset, y)[2] = static_cast<std::uint8_t>(pair & 0xff);
                frame.view().pixel(column + offset, row)[2] = static_cast<std::uint8_t>(pair >> 8);
                ++pair;
            }
        }
    }
    EXPECT_EQ(pair, 65536);
    return frame;
}

TEST(Equivalence, EveryPairOfChannelBytesThroughEachKernel) {
    for (bool aAndC : {true, false}) {
        const Bitmap frame = channelPairFrame(aAndC);
        for (Extended maxSin : {1.0L, 0.2L}) {
            expectMapsEqual(frame, false, nullptr, maxSin, aAndC ? "pairs (a, c)" : "pairs (b, d)");
        }
    }
}

} // namespace
} // namespace kestrane
