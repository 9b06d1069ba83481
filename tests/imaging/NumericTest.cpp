// Rounding and the general number text used by labels.
#include "imaging/Numeric.h"

#include <gtest/gtest.h>

namespace kestrane {
namespace {

TEST(RoundHalfEven, TiesGoToTheEvenNeighbour) {
    const std::pair<Extended, long long> cases[] = {{0.5L, 0},   {1.5L, 2},    {2.5L, 2},       {-0.5L, 0},
                                                    {-1.5L, -2}, {7.5L, 8},    {1275.0L, 1275}, {2.4999L, 2},
                                                    {62.5L, 62}, {184.5L, 184}};
    for (auto [v, expected] : cases) {
        EXPECT_EQ(roundToInt(v), expected) << static_cast<double>(v);
    }
}

TEST(GeneralFormat, MatchesTheLabelTexts) {
    const std::pair<Extended, const char*> cases[] = {
        {0.2L, "0.2"},
        {1.0L, "1"},
        {0.0L, "0"},
        {0.5L, "0.5"},
        {-0.5L, "-0.5"},
        {100.0L, "100"},
        {0.035L, "0.035"},
        {0.001L, "0.001"},
        {0.00001L, "0.00001"},
        {0.000001L, "1E-6"},
        {123456789012345.0L, "123456789012345"},
        {1234567890123456.0L, "1.23456789012346E+15"},
        {1.0L / 3.0L, "0.333333333333333"},
        {2.0L / 3.0L, "0.666666666666667"},
        {99.9999999999999999L, "100"},
        {12.3L, "12.3"},
    };
    for (auto [v, text] : cases) {
        EXPECT_EQ(generalFormat(v), text) << static_cast<double>(v);
    }
}

TEST(GeneralFormat, UsesTheGivenDecimalSeparator) {
    EXPECT_EQ(generalFormat(0.25L, ','), "0,25");
}

} // namespace
} // namespace kestrane
