// The YUV check values, the integer converter against the extended formula over every input, and the
// geometry of each layout (odd sizes, Y41P's groups of eight, the planar chroma walk).
#include "capture/YUVConverts.h"
#include "capture/PackedPairs.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

namespace kestrane {
namespace {

struct Bgr {
    int blue, green, red;
    bool operator==(const Bgr&) const = default;
};

Bgr split(std::uint32_t pixel) {
    return {static_cast<int>(pixel & 0xFF), static_cast<int>((pixel >> 8) & 0xFF),
            static_cast<int>((pixel >> 16) & 0xFF)};
}

Bgr pixelAt(const std::vector<std::uint8_t>& output, std::size_t index) {
    return {output[4 * index], output[4 * index + 1], output[4 * index + 2]};
}

TEST(YuvToBgr, GivesTheCheckValues) {
    struct Case {
        std::uint8_t y, u, v;
        Bgr expected;
    };
    const Case cases[] = {
        {16, 128, 128, {0, 0, 0}},        {235, 128, 128, {254, 254, 254}}, {255, 128, 128, {255, 255, 255}},
        {128, 128, 128, {130, 130, 130}}, {81, 90, 240, {0, 0, 254}},       {145, 54, 34, {0, 255, 0}},
        {41, 240, 110, {255, 0, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(split(YuvToBgr(c.y, c.u, c.v)), c.expected)
            << int(c.y) << " " << int(c.u) << " " << int(c.v);
        EXPECT_EQ(YuvToBgr(c.y, c.u, c.v) >> 24, 0u);
    }
}

// The converters use the integer form, packed pairs a vectorised one and the other layouts a vectorised one
// over lines of Y, U and V; all must agree with the extended formula for all 2^24 inputs. Each line of a YUY2
// frame holds all Y values for one (U, V); a frame holds all V for one U.
TEST(YuvToBgr, IntegerAndVectorFormsEqualExtendedFormulaEverywhere) {
    constexpr int kWidth = 256;
    std::vector<std::uint8_t> source(2 * kWidth * 256);
    std::vector<std::uint8_t> output(4 * kWidth * 256);
    long long differences = 0;
    long long frameDifferences = 0;
    long long lineDifferences = 0;
    std::array<std::uint8_t, 256> ys{};
    for (int y = 0; y < 256; ++y) {
        ys[static_cast<std::size_t>(y)] = static_cast<std::uint8_t>(y);
    }
    std::array<std::uint8_t, 256> us{};
    std::array<std::uint8_t, 256> vs{};
    std::array<std::uint8_t, 4 * 256> line{};
    for (int u = 0; u < 256; ++u) {
        for (int v = 0; v < 256; ++v) {
            std::uint8_t* line = source.data() + 2 * kWidth * v;
            for (int y = 0; y < 256; y += 2) {
                line[2 * y] = static_cast<std::uint8_t>(y);
                line[2 * y + 1] = static_cast<std::uint8_t>(u);
                line[2 * y + 2] = static_cast<std::uint8_t>(y + 1);
                line[2 * y + 3] = static_cast<std::uint8_t>(v);
            }
        }
        ASSERT_TRUE(ConvertFrame(kFormatYuy2, source.data(), output.data(), kWidth, 256));
        us.fill(static_cast<std::uint8_t>(u));
        for (int v = 0; v < 256; ++v) {
            vs.fill(static_cast<std::uint8_t>(v));
            const int vectorised = convertPixelsVector(ys.data(), us.data(), vs.data(), line.data(), 256);
            // Bottom-up: source line v is stored row 255 − v.
            const std::uint8_t* row = output.data() + 4 * kWidth * (255 - v);
            for (int y = 0; y < 256; ++y) {
                const auto Y = static_cast<std::uint8_t>(y);
                const auto U = static_cast<std::uint8_t>(u);
                const auto V = static_cast<std::uint8_t>(v);
                const std::uint32_t expected = YuvToBgr(Y, U, V);
                std::uint32_t converted = 0;
                std::memcpy(&converted, row + 4 * y, 4);
                differences += yuvToBgrFast(Y, U, V) != expected;
                frameDifferences += converted != expected;
                if (y < vectorised) {
                    std::memcpy(&converted, line.data() + 4 * y, 4);
                    lineDifferences += converted != expected;
                }
            }
        }
    }
    EXPECT_EQ(differences, 0);
    EXPECT_EQ(frameDifferences, 0);
    EXPECT_EQ(lineDifferences, 0);
}

TEST(FormatCodeOf, ClassifiesCompressionCodesExactly) {
    const std::pair<std::uint32_t, std::uint8_t> cases[] = {
        {0, 1},
        {3, 1},
        {fourCc('Y', 'U', 'Y', '2'), 2},
        {fourCc('U', 'Y', 'V', 'Y'), 3},
        {fourCc('Y', '4', '1', 'P'), 4},
        {fourCc('Y', 'V', 'U', '9'), 5},
        {fourCc('I', '4', '2', '0'), 6},
        {fourCc('Y', '8', ' ', ' '), 7},
        {fourCc('Y', '2', '1', '1'), 8},
        {fourCc('y', 'u', 'y', '2'), 0},
        {fourCc('M', 'J', 'P', 'G'), 0},
        {1, 0},
        {fourCc('Y', '8', '0', '0'), 0},
    };
    for (const auto& [compression, code] : cases) {
        EXPECT_EQ(FormatCodeOf(compression), code) << std::hex << compression;
    }
}

TEST(ConvertFrame, RefusesCodesItDoesNotConvertAndLeavesTheOutput) {
    const std::vector<std::uint8_t> source(64, 77);
    for (const std::uint8_t code : {0, 1, 9, 0x7F, 0x81}) {
        std::vector<std::uint8_t> output(4 * 16, 0xAB);
        EXPECT_FALSE(ConvertFrame(code, source.data(), output.data(), 4, 4)) << int(code);
        EXPECT_EQ(output, std::vector<std::uint8_t>(4 * 16, 0xAB));
    }
    // Only the low 7 bits choose the converter.
    std::vector<std::uint8_t> output(4 * 16, 0xAB);
    EXPECT_TRUE(ConvertFrame(0x87, source.data(), output.data(), 4, 4));
    EXPECT_EQ(pixelAt(output, 0), (Bgr{77, 77, 77}));
}

TEST(ConvertFrame, PackedPairsPutTheFirstSourceLineInTheLastStoredRow) {
    constexpr int kWidth = 640;
    constexpr int kHeight = 2;
    for (const auto& [code, first4] :
         {std::pair<std::uint8_t, std::array<std::uint8_t, 4>>{kFormatYuy2, {235, 128, 16, 128}},
          {kFormatUyvy, {128, 235, 128, 16}}}) {
        std::vector<std::uint8_t> source(2 * kWidth * kHeight, 0);
        std::copy(first4.begin(), first4.end(), source.begin());
        std::vector<std::uint8_t> output(4 * kWidth * kHeight, 0xAB);
        ASSERT_TRUE(ConvertFrame(code, source.data(), output.data(), kWidth, kHeight));
        const std::size_t lastRow = std::size_t{kWidth} * (kHeight - 1);
        EXPECT_EQ(pixelAt(output, lastRow), (Bgr{254, 254, 254})) << int(code);
        EXPECT_EQ(pixelAt(output, lastRow + 1), (Bgr{0, 0, 0})) << int(code);
        EXPECT_EQ(output[4 * lastRow + 3], 0);
    }
}

TEST(ConvertFrame, Y8CopiesTheGreyWithoutScaling) {
    const std::vector<std::uint8_t> source = {200, 16, 235, 0};
    std::vector<std::uint8_t> output(16, 0xAB);
    ASSERT_TRUE(ConvertFrame(kFormatY8, source.data(), output.data(), 2, 2));
    // Bottom-up: the second source line is stored first.
    EXPECT_EQ(std::vector<std::uint8_t>(output.begin(), output.begin() + 8),
              (std::vector<std::uint8_t>{235, 235, 235, 0, 0, 0, 0, 0}));
    EXPECT_EQ(std::vector<std::uint8_t>(output.begin() + 8, output.end()),
              (std::vector<std::uint8_t>{200, 200, 200, 0, 16, 16, 16, 0}));
}

// Where the Y, U and V bytes of output pixel (x, line) sit in the source, and which stored row it goes to.
struct Taps {
    bool written = false;
    std::size_t y = 0, u = 0, v = 0;
    int row = 0;
};

Taps tapsOf(std::uint8_t code, int w, int h, int x, int line) {
    Taps t;
    const std::size_t W = static_cast<std::size_t>(w);
    const std::size_t H = static_cast<std::size_t>(h);
    t.row = h - 1 - line;
    switch (code) {
    case kFormatYuy2:
    case kFormatUyvy: {
        t.written = x < (w / 2) * 2;
        const std::size_t base = 2 * W * static_cast<std::size_t>(line) + 4 * static_cast<std::size_t>(x / 2);
        const bool yuy2 = code == kFormatYuy2;
        t.y = base + (yuy2 ? 0 : 1) + 2 * static_cast<std::size_t>(x % 2);
        t.u = base + (yuy2 ? 1 : 0);
        t.v = base + (yuy2 ? 3 : 2);
        break;
    }
    case kFormatY41p: {
        static constexpr int kYAt[8] = {1, 3, 5, 7, 8, 9, 10, 11};
        t.written = true;
        const std::size_t base =
            (W + 7) / 8 * 12 * static_cast<std::size_t>(line) + 12 * static_cast<std::size_t>(x / 8);
        const std::size_t half = x % 8 < 4 ? 0 : 4;
        t.y = base + static_cast<std::size_t>(kYAt[x % 8]);
        t.u = base + half;
        t.v = base + half + 2;
        break;
    }
    case kFormatYvu9:
    case kFormatI420: {
        const int block = code == kFormatYvu9 ? 4 : 2;
        t.written = x < (w / block) * block && line < (h / block) * block;
        const std::size_t cw = (W + block - 1) / block;
        const std::size_t ch = (H + block - 1) / block;
        const std::size_t chroma =
            (static_cast<std::size_t>(line) / block) * cw + static_cast<std::size_t>(x / block);
        t.y = W * static_cast<std::size_t>(line) + static_cast<std::size_t>(x);
        const std::size_t first = W * H + chroma;
        const std::size_t second = first + cw * ch;
        t.u = code == kFormatYvu9 ? second : first;
        t.v = code == kFormatYvu9 ? first : second;
        break;
    }
    case kFormatY211: {
        t.written = x < (w / 4) * 4;
        const std::size_t base =
            (W + 3) / 4 * 4 * static_cast<std::size_t>(line) + 4 * static_cast<std::size_t>(x / 4);
        t.y = base + (x % 4 < 2 ? 0 : 2);
        t.u = base + 1;
        t.v = base + 3;
        break;
    }
    default:
        break;
    }
    return t;
}

struct GeometryCase {
    std::uint8_t code;
    int width, height;
};

class LayoutGeometry : public ::testing::TestWithParam<GeometryCase> {};

// Random source bytes make any misplaced read show; pixels the layout leaves out keep the marker.
TEST_P(LayoutGeometry, EveryPixelComesFromItsOwnSourceBytes) {
    const GeometryCase& g = GetParam();
    std::mt19937 random(1234u + g.code);
    std::vector<std::uint8_t> source(yuvFrameBytes(g.code, g.width, g.height));
    for (std::uint8_t& byte : source) {
        byte = static_cast<std::uint8_t>(random());
    }
    std::vector<std::uint8_t> output(4 * std::size_t(g.width) * std::size_t(g.height), 0xAB);
    ASSERT_TRUE(ConvertFrame(g.code, source.data(), output.data(), g.width, g.height));
    int mismatches = 0;
    for (int line = 0; line < g.height; ++line) {
        for (int x = 0; x < g.width; ++x) {
            const Taps t = tapsOf(g.code, g.width, g.height, x, line);
            const std::size_t at = std::size_t(t.row) * std::size_t(g.width) + std::size_t(x);
            const Bgr expected =
                t.written ? split(YuvToBgr(source[t.y], source[t.u], source[t.v])) : Bgr{0xAB, 0xAB, 0xAB};
            if (pixelAt(output, at) != expected || output[4 * at + 3] != (t.written ? 0 : 0xAB)) {
                ++mismatches;
                ADD_FAILURE() << "pixel " << x << "," << line << " of layout " << int(g.code);
                if (mismatches > 5) {
                    return;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LayoutGeometry,
    ::testing::Values(GeometryCase{kFormatYuy2, 8, 4}, GeometryCase{kFormatYuy2, 7, 3},
                      GeometryCase{kFormatUyvy, 9, 5}, GeometryCase{kFormatY41p, 16, 3},
                      GeometryCase{kFormatY41p, 13, 5}, GeometryCase{kFormatY41p, 5, 2},
                      GeometryCase{kFormatYvu9, 16, 8}, GeometryCase{kFormatYvu9, 13, 10},
                      GeometryCase{kFormatI420, 8, 6}, GeometryCase{kFormatI420, 7, 5},
                      GeometryCase{kFormatY211, 12, 3}, GeometryCase{kFormatY211, 10, 4},
                      GeometryCase{kFormatYuy2, 640, 480}, GeometryCase{kFormatI420, 640, 480},
                      GeometryCase{kFormatY41p, 640, 480}, GeometryCase{kFormatYvu9, 640, 480},
                      GeometryCase{kFormatY211, 640, 480}),
    [](const auto& info) {
        return "code" + std::to_string(info.param.code) + "_" + std::to_string(info.param.width) + "x" +
               std::to_string(info.param.height);
    });

TEST(ConvertFrame, SizesTooSmallForOneUnitGiveNoOutput) {
    const std::vector<std::uint8_t> source(64, 100);
    for (const auto& [code, w, h] :
         {std::tuple{kFormatYuy2, 1, 3}, std::tuple{kFormatYvu9, 3, 8}, std::tuple{kFormatYvu9, 8, 3},
          std::tuple{kFormatI420, 4, 1}, std::tuple{kFormatY211, 3, 2}, std::tuple{kFormatYuy2, -4, 2},
          std::tuple{kFormatY8, 4, -2}}) {
        std::vector<std::uint8_t> output(256, 0xAB);
        EXPECT_TRUE(ConvertFrame(code, source.data(), output.data(), w, h));
        EXPECT_EQ(output, std::vector<std::uint8_t>(256, 0xAB)) << int(code) << " " << w << "x" << h;
    }
}

} // namespace
} // namespace kestrane
