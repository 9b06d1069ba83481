// The background's frame averager: every byte the mean of its frames, rounded half to even.
#include "analysis/FlatField.h"

#include <functional>
#include <gtest/gtest.h>

namespace kestrane {
namespace {

// Frame i of a series has byte j = value(i, j); the mean's byte j must be expected(j).
struct AveragingCase {
    const char* name;
    std::function<int(int frame, int byte)> value;
    std::function<int(int byte)> expected;
};

const AveragingCase kCases[] = {
    {"constant frames", [](int, int) { return 201; }, [](int) { return 201; }},
    {"white frames do not overflow", [](int, int) { return 255; }, [](int) { return 255; }},
    {"a ramp over the frames", [](int i, int) { return 10 * i; }, [](int) { return 75; }},
    {"a ramp over the picture under alternating noise",
     [](int i, int j) { return j % 250 + 3 + (i % 2 == 0 ? 3 : -3); }, [](int j) { return j % 250 + 3; }},
    {"4.5 goes down to 4", [](int i, int) { return i < 8 ? 4 : 5; }, [](int) { return 4; }},
    {"5.5 goes up to 6", [](int i, int) { return i < 8 ? 5 : 6; }, [](int) { return 6; }},
    {"127.5 goes up to 128", [](int i, int) { return i < 8 ? 0 : 255; }, [](int) { return 128; }},
    {"4.5625 goes up", [](int i, int) { return i < 9 ? 5 : 4; }, [](int) { return 5; }},
    {"4.4375 goes down", [](int i, int) { return i < 7 ? 5 : 4; }, [](int) { return 4; }},
};

TEST(FrameAverager, EveryByteIsTheRoundedMeanOfSixteenFrames) {
    for (const int bits : {24, 32}) {
        for (const AveragingCase& c : kCases) {
            FrameAverager averager;
            // An odd width: 24-bit rows are padded, and the padding is averaged like the rest.
            Bitmap frame(7, 3, bits);
            for (int i = 0; i < kBackgroundFrames; ++i) {
                for (std::size_t j = 0; j < frame.sizeBytes(); ++j) {
                    frame.bits()[j] = static_cast<std::uint8_t>(c.value(i, static_cast<int>(j)));
                }
                ASSERT_TRUE(averager.add(frame));
            }
            EXPECT_EQ(averager.count(), kBackgroundFrames);
            const Bitmap mean = averager.mean();
            ASSERT_EQ(mean.width(), 7);
            ASSERT_EQ(mean.height(), 3);
            ASSERT_EQ(mean.bitsPerPixel(), bits);
            ASSERT_EQ(mean.sizeBytes(), frame.sizeBytes());
            for (std::size_t j = 0; j < mean.sizeBytes(); ++j) {
                ASSERT_EQ(mean.bits()[j], c.expected(static_cast<int>(j)))
                    << c.name << ", " << bits << " bits, byte " << j;
            }
        }
    }
}

TEST(FrameAverager, RefusesAFrameOfAnotherSizeOrFormat) {
    FrameAverager averager;
    EXPECT_TRUE(averager.mean().empty());
    Bitmap first(8, 4, 32);
    first.bits()[0] = 10;
    ASSERT_TRUE(averager.add(first));
    for (const Bitmap& other : {Bitmap(8, 4, 24), Bitmap(9, 4, 32), Bitmap(8, 5, 32)}) {
        EXPECT_FALSE(averager.add(other))
            << other.width() << " x " << other.height() << ", " << other.bitsPerPixel();
    }
    EXPECT_EQ(averager.count(), 1);
    EXPECT_EQ(averager.mean(), first);
}

} // namespace
} // namespace kestrane
