// Widening 24-bit bitmaps to 32 bits: every width, so that the vector loop, the word loop and the last
// pixels of a row all meet the padding of 24-bit rows.
#include "imaging/Bitmap.h"

#include <gtest/gtest.h>

#include <random>

namespace kestrane {
namespace {

class Widening : public ::testing::TestWithParam<int> {};

TEST_P(Widening, KeepsEveryPixelAndZeroesTheFourthByte) {
    const int width = GetParam();
    constexpr int kHeight = 3;
    Bitmap bitmap(width, kHeight, 24);
    std::mt19937 random(static_cast<unsigned>(width));
    for (std::size_t i = 0; i < bitmap.sizeBytes(); ++i) {
        bitmap.bits()[i] = static_cast<std::uint8_t>(random());
    }
    const Bitmap original = bitmap;
    bitmap.convertTo32();
    ASSERT_EQ(bitmap.bitsPerPixel(), 32);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* before = original.row(y) + 3 * x;
            const std::uint8_t* after = bitmap.row(y) + 4 * x;
            ASSERT_EQ(after[0], before[0]) << x << "," << y;
            ASSERT_EQ(after[1], before[1]) << x << "," << y;
            ASSERT_EQ(after[2], before[2]) << x << "," << y;
            ASSERT_EQ(after[3], 0) << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, Widening, ::testing::Values(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 17, 640));

} // namespace
} // namespace kestrane
