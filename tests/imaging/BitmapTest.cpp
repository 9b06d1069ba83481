// Widening 24-bit bitmaps to 32 bits: every width, so that the vector loop, the word loop and the last
// pixels of a row all meet the padding of 24-bit rows.
#include "imaging/Bitmap.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace kestrane {
namespace {

class Widening : public ::testing::TestWithParam<int> {};

TEST_P(Widening, KeepsEveryPixelAndZeroesTheFourthByte) {
    const int width = GetParam();
    constexpr int kHeight = 3;
    Bitmap original(width, kHeight, 24);
    std::mt19937 random(static_cast<unsigned>(width));
    for (std::size_t i = 0; i < original.sizeBytes(); ++i) {
        original.bits()[i] = static_cast<std::uint8_t>(random());
    }
    // Copied into the storage of a 32-bit picture, so the widening works in place as in a camera loop.
    Bitmap bitmap(width, kHeight, 32);
    bitmap = original;
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

TEST_P(Widening, RowsCopyEveryPixelWithTheGivenFourthByte) {
    const int width = GetParam();
    std::mt19937 random(static_cast<unsigned>(width) + 99);
    for (const int bits : {24, 32}) {
        std::vector<std::uint8_t> src(static_cast<std::size_t>(width) * bits / 8);
        for (std::uint8_t& byte : src) {
            byte = static_cast<std::uint8_t>(random());
        }
        std::vector<std::uint8_t> dst(static_cast<std::size_t>(width) * 4 + 4, 0x5A);
        widenRow(src.data(), bits, dst.data(), width, 0xAB);
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* before = src.data() + bits / 8 * x;
            const std::uint8_t* after = dst.data() + 4 * x;
            ASSERT_EQ((std::vector<int>{after[0], after[1], after[2], after[3]}),
                      (std::vector<int>{before[0], before[1], before[2], 0xAB}))
                << bits << " bits, pixel " << x;
        }
        EXPECT_EQ(dst[4 * static_cast<std::size_t>(width)], 0x5A) << "wrote past the row";
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, Widening,
                         ::testing::Values(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 17, 21, 640));

} // namespace
} // namespace kestrane
