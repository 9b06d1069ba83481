// The tables and the colour ramp against their published check values.
#include "analysis/Tables.h"

#include "TestTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrane {
namespace {

using test::builtTables;

struct FloatCheck {
    const char* table;
    std::size_t index;
    float expected;
};

class TableCheckValues : public ::testing::TestWithParam<FloatCheck> {};

// The published values are the stored singles themselves, printed to eight digits, which name one single
// each: nothing but equality will do.
TEST_P(TableCheckValues, AreStoredExactly) {
    const FloatCheck c = GetParam();
    const Tables& t = builtTables();
    float actual = 0;
    if (std::string(c.table) == "angle") {
        actual = t.angle[c.index];
    } else if (std::string(c.table) == "sinDGain") {
        actual = t.sinDGain[c.index];
    } else {
        actual = t.root[c.index];
    }
    EXPECT_EQ(actual, c.expected) << c.table << "[" << c.index << "]";
}

INSTANTIATE_TEST_SUITE_P(
    Published, TableCheckValues,
    ::testing::Values(FloatCheck{"angle", 0, 128.80530f}, FloatCheck{"angle", 1, 123.00218f},
                      FloatCheck{"angle", 50, 85.870201f}, FloatCheck{"angle", 100, 64.402649f},
                      FloatCheck{"angle", 150, 42.935101f}, FloatCheck{"angle", 199, 5.8031182f},
                      FloatCheck{"angle", 200, 0.0f}, FloatCheck{"sinDGain", 0, 1.2805793f},
                      FloatCheck{"sinDGain", 128, 1.1788305f}, FloatCheck{"sinDGain", 148, 1.0939456f},
                      FloatCheck{"sinDGain", 216, 1.5828638f}, FloatCheck{"sinDGain", 143, 1.1000683f},
                      FloatCheck{"angle", 193, 15.431723f}, FloatCheck{"root", 33000, 181.65902f},
                      FloatCheck{"root", 0, 0.0f}));

TEST(Tables, ExactValuesThatAreDefinedExactly) {
    const Tables& t = builtTables();
    EXPECT_EQ(t.angle[100], static_cast<float>(41.0L * 3.14159265358979323846264338327950288L / 2.0L));
    EXPECT_EQ(t.angle[200], 0.0f);
    EXPECT_EQ(t.sinDGain[0], t.sinDGain[255]);
}

TEST(Tables, SinDGainExtremes) {
    const Tables& t = builtTables();
    const auto [lo, hi] = std::minmax_element(t.sinDGain.begin(), t.sinDGain.end());
    EXPECT_EQ(lo - t.sinDGain.begin(), 148);
    EXPECT_EQ(hi - t.sinDGain.begin(), 216);
}

TEST(Palette, RampEndsAndCheckValues) {
    const auto& p = builtTables().palette;
    for (int v = 0; v <= 255; ++v) {
        ASSERT_EQ(p[kPaletteRed][v], v);
    }
    const std::pair<int, int> green[] = {{0, 0}, {64, 128}, {128, 255}, {255, 0}};
    for (auto [v, g] : green) {
        EXPECT_EQ(p[kPaletteGreen][v], g) << "green at " << v;
    }
    const std::pair<int, int> blue[] = {{0, 255}, {85, 0}, {128, 130}, {170, 255}, {255, 0}};
    for (auto [v, b] : blue) {
        EXPECT_EQ(p[kPaletteBlue][v], b) << "blue at " << v;
    }
    for (int v = 124; v <= 131; ++v) {
        EXPECT_EQ(p[kPaletteGreen][v], 255) << v;
    }
    for (int v : {83, 84, 85, 86, 87, 253, 254, 255}) {
        EXPECT_EQ(p[kPaletteBlue][v], 0) << v;
    }
    for (int v = 168; v <= 172; ++v) {
        EXPECT_EQ(p[kPaletteBlue][v], 255) << v;
    }
}

// Every activation rebuilds the tables over their old contents: every entry must be written again, and the
// new build must say so to the caches that depend on it.
TEST(Tables, ARebuildOverwritesEveryEntry) {
    Tables poisoned;
    poisoned.angle.fill(std::numeric_limits<float>::quiet_NaN());
    poisoned.sinDGain.fill(std::numeric_limits<float>::quiet_NaN());
    poisoned.root.fill(std::numeric_limits<float>::quiet_NaN());
    for (auto& row : poisoned.palette) {
        row.fill(0x5A);
    }
    poisoned.generation = builtTables().generation;
    buildTables(poisoned);
    EXPECT_EQ(poisoned.angle, builtTables().angle);
    EXPECT_EQ(poisoned.sinDGain, builtTables().sinDGain);
    EXPECT_EQ(poisoned.palette, builtTables().palette);
    EXPECT_EQ(poisoned.root, builtTables().root);
    EXPECT_GT(poisoned.generation, builtTables().generation);
    // The square root is correctly rounded everywhere, so the whole root table has an exact expectation.
    for (std::size_t m = 0; m < poisoned.root.size(); ++m) {
        ASSERT_EQ(poisoned.root[m], static_cast<float>(std::sqrt(static_cast<long double>(m)))) << m;
    }
}

} // namespace
} // namespace kestrane
