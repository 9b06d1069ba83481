// The GenICam pixel formats into the analysis frame: one table of formats, each with a two-line picture
// whose pixels test byte order, the top bits of deep mono values, the flip to bottom-up and row padding.
#include "capture/GenicamPixels.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrane {
namespace {

// A 2 × 2 picture in the 24-bit DIB: bottom row first, each row 6 bytes of pixels and 2 of padding.
std::vector<std::uint8_t> dibOf(const std::uint8_t (&top)[6], const std::uint8_t (&bottom)[6]) {
    std::vector<std::uint8_t> dib(16, 0xEE);
    std::copy(bottom, bottom + 6, dib.begin());
    std::copy(top, top + 6, dib.begin() + 8);
    return dib;
}

TEST(GenicamPixels, EveryFormatLandsAsTheAnalysisReadsIt) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> source; // two rows of two pixels, top first, rows `stride` bytes apart
        std::size_t stride;
        std::vector<std::uint8_t> dib;
    };
    const Case cases[] = {
        // Mono: the grey value in blue, green and red; rows padded by the camera by one byte.
        {"Mono8", {10, 20, 0xFF, 30, 40, 0xFF}, 3, dibOf({10, 10, 10, 20, 20, 20}, {30, 30, 30, 40, 40, 40})},
        // Deep mono: little-endian, the top eight of its bits; values beyond its depth saturate.
        {"Mono10",
         {0xFF, 0x03, 0x00, 0x02, 0x04, 0x00, 0xFF, 0xFF},
         4,
         dibOf({255, 255, 255, 128, 128, 128}, {1, 1, 1, 255, 255, 255})},
        {"Mono12",
         {0xF0, 0x0F, 0x0F, 0x00, 0x10, 0x08, 0x00, 0x00},
         4,
         dibOf({255, 255, 255, 0, 0, 0}, {129, 129, 129, 0, 0, 0})},
        {"Mono16",
         {0xFF, 0x12, 0x00, 0xAB, 0x99, 0x00, 0x01, 0xFF},
         4,
         dibOf({0x12, 0x12, 0x12, 0xAB, 0xAB, 0xAB}, {0, 0, 0, 0xFF, 0xFF, 0xFF})},
        // Colour: the DIB holds blue, green, red.
        {"RGB8",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
         6,
         dibOf({3, 2, 1, 6, 5, 4}, {9, 8, 7, 12, 11, 10})},
        {"BGR8",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
         6,
         dibOf({1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12})},
    };
    ASSERT_EQ(std::size(cases), kGenicamPixelFormats.size());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const GenicamPixelFormat& format = kGenicamPixelFormats[i];
        ASSERT_STREQ(format.name, c.name);
        EXPECT_EQ(genicamPixelFormat(format.code), &format);
        std::vector<std::uint8_t> dib(16, 0xEE);
        ASSERT_TRUE(genicamToDib24(format.code, c.source.data(), c.source.size(), 2, 2, c.stride, dib.data()))
            << c.name;
        EXPECT_EQ(dib, c.dib) << c.name;
    }
}

TEST(GenicamPixels, UnknownFormatsAndShortBuffersLeaveTheFrameAlone) {
    const std::vector<std::uint8_t> source(12, 7);
    std::vector<std::uint8_t> dib(16, 0xEE);
    const std::uint32_t mono8 = kGenicamPixelFormats[0].code;
    const std::uint32_t rgb8 = kGenicamPixelFormats[4].code;
    EXPECT_EQ(genicamPixelFormat(0x0108000Bu), nullptr); // Bayer BG8: not taken
    EXPECT_FALSE(genicamToDib24(0x0108000Bu, source.data(), source.size(), 2, 2, 2, dib.data()));
    EXPECT_FALSE(genicamToDib24(rgb8, source.data(), 11, 2, 2, 6, dib.data()));             // a byte short
    EXPECT_FALSE(genicamToDib24(mono8, source.data(), source.size(), 2, 2, 1, dib.data())); // stride < row
    EXPECT_FALSE(genicamToDib24(mono8, source.data(), source.size(), 0, 2, 2, dib.data()));
    EXPECT_EQ(dib, std::vector<std::uint8_t>(16, 0xEE));
    // The last row needs no padding after it.
    EXPECT_TRUE(genicamToDib24(rgb8, source.data(), 12, 2, 2, 6, dib.data()));
}

// The capture times the grab counters judge drops by: a gap in the frame ids is frames the program never
// took; without usable ids, the incomplete frames in between still count.
TEST(GenicamFrameNumbering, GapsInFrameIdsAndIncompleteFramesShowAsSkippedPeriods) {
    struct Step {
        std::uint64_t id;
        int incompleteBefore;
        std::uint32_t timeMs;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"consecutive ids", {{7, 0, 0}, {8, 0, 40}, {9, 0, 80}}},
        {"two frames skipped", {{7, 0, 0}, {10, 0, 120}}},
        {"incomplete ones inside a gap count once", {{7, 0, 0}, {10, 2, 120}}},
        {"ids wrapped", {{65535, 0, 0}, {1, 0, 40}, {2, 0, 80}}},
        {"no ids: each incomplete frame one period", {{0, 0, 0}, {0, 0, 40}, {0, 3, 200}}},
    };
    for (const auto& c : cases) {
        GenicamFrameNumbering numbering;
        for (const Step& step : c.steps) {
            for (int i = 0; i < step.incompleteBefore; ++i) {
                numbering.noteIncomplete();
            }
            EXPECT_EQ(numbering.timeMs(step.id, 40000), step.timeMs) << c.name << ", id " << step.id;
        }
    }
}

} // namespace
} // namespace kestrane
