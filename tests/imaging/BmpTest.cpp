// BMP decoding and encoding: orientation, depths, and refusal of malformed files.
#include "imaging/Bmp.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kestrane {
namespace {

Bitmap gradient(int width, int height, int bits) {
    Bitmap b(width, height, bits);
    const int bytes = bits / 8;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = b.row(y) + x * bytes;
            p[0] = static_cast<std::uint8_t>(x);
            p[1] = static_cast<std::uint8_t>(y);
            p[2] = static_cast<std::uint8_t>(x + y);
        }
    }
    return b;
}

class BmpRoundTrip : public ::testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(BmpRoundTrip, DecodesWhatItEncodes) {
    const auto [w, h, bits] = GetParam();
    const Bitmap original = gradient(w, h, bits);
    const std::vector<std::uint8_t> file = encodeBmp(original);
    EXPECT_EQ(file.size(), 54 + static_cast<std::size_t>(Bitmap::rowBytes(w, bits)) * h);
    Bitmap decoded;
    std::string error;
    ASSERT_TRUE(decodeBmp(file.data(), file.size(), decoded, error)) << error;
    EXPECT_EQ(decoded, original);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BmpRoundTrip,
                         ::testing::Values(std::make_tuple(640, 480, 24), std::make_tuple(640, 480, 32),
                                           std::make_tuple(7, 3, 24), std::make_tuple(1, 1, 32),
                                           std::make_tuple(321, 5, 24)));

// A hand-made top-down 8-bit palette picture of 3 × 2 pixels.
std::vector<std::uint8_t> paletteTopDown() {
    std::vector<std::uint8_t> f(14 + 40 + 4 * 4 + 2 * 4, 0);
    f[0] = 'B';
    f[1] = 'M';
    writeLe32(&f[2], static_cast<std::uint32_t>(f.size()));
    writeLe32(&f[10], 14 + 40 + 16);
    writeLe32(&f[14], 40);
    writeLe32(&f[18], 3);
    writeLe32(&f[22], static_cast<std::uint32_t>(-2));
    writeLe16(&f[26], 1);
    writeLe16(&f[28], 8);
    writeLe32(&f[46], 4); // colours used
    const std::uint8_t palette[] = {0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0};
    std::copy(std::begin(palette), std::end(palette), f.begin() + 54);
    const std::uint8_t rows[] = {1, 2, 3, 0, 3, 3, 0, 0}; // top row first
    std::copy(std::begin(rows), std::end(rows), f.begin() + 70);
    return f;
}

TEST(BmpDecode, PaletteTopDownBecomesBottomUp24Bit) {
    const auto file = paletteTopDown();
    Bitmap b;
    std::string error;
    ASSERT_TRUE(decodeBmp(file.data(), file.size(), b, error)) << error;
    EXPECT_EQ(b.bitsPerPixel(), 24);
    ASSERT_EQ(b.height(), 2);
    // Row y = 1 is the top row: blue, green, red pixels.
    EXPECT_EQ(b.row(1)[0], 255);
    EXPECT_EQ(b.row(1)[4], 255);
    EXPECT_EQ(b.row(1)[8], 255);
    EXPECT_EQ(b.row(0)[2], 255);
    EXPECT_EQ(b.row(0)[8], 0);
    EXPECT_EQ(b.row(0)[5], 255);
}

TEST(BmpDecode, RefusesMalformedFiles) {
    const std::vector<std::uint8_t> good = encodeBmp(gradient(4, 4, 24));
    struct Mutation {
        const char* name;
        std::function<void(std::vector<std::uint8_t>&)> apply;
    } mutations[] = {
        {"empty", [](auto& f) { f.clear(); }},
        {"truncated pixels", [](auto& f) { f.resize(f.size() - 1); }},
        {"no signature", [](auto& f) { f[0] = 'X'; }},
        {"zero width", [](auto& f) { writeLe32(&f[18], 0); }},
        {"negative width", [](auto& f) { writeLe32(&f[18], static_cast<std::uint32_t>(-4)); }},
        {"huge size", [](auto& f) { writeLe32(&f[18], 0x7fffffff); }},
        {"most negative height", [](auto& f) { writeLe32(&f[22], 0x80000000u); }},
        {"16 bits", [](auto& f) { writeLe16(&f[28], 16); }},
        {"compressed", [](auto& f) { writeLe32(&f[30], 1); }},
        {"pixel offset past the end", [](auto& f) { writeLe32(&f[10], 0xfffffff0u); }},
        {"header size past the end", [](auto& f) { writeLe32(&f[14], 0x10000u); }},
        {"two planes", [](auto& f) { writeLe16(&f[26], 2); }},
    };
    for (const auto& m : mutations) {
        std::vector<std::uint8_t> f = good;
        m.apply(f);
        Bitmap b;
        std::string error;
        EXPECT_FALSE(decodeBmp(f.data(), f.size(), b, error)) << m.name;
        EXPECT_FALSE(error.empty()) << m.name;
    }
}

TEST(BmpFile, WriteThenReadAndMissingFile) {
    const auto dir = std::filesystem::temp_directory_path() / "kestrane-bmp-test";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "frame.bmp").string();
    const Bitmap original = gradient(640, 480, 32);
    std::string error;
    ASSERT_TRUE(writeBmpFile(path, original, error)) << error;
    EXPECT_FALSE(std::filesystem::exists(path + ".part"));
    Bitmap read;
    ASSERT_TRUE(readBmpFile(path, read, error)) << error;
    EXPECT_EQ(read, original);
    EXPECT_FALSE(readBmpFile((dir / "missing.bmp").string(), read, error));
    // A failed write says which file and why.
    const std::string lost = (dir / "no-such-dir" / "x.bmp").string();
    EXPECT_FALSE(writeBmpFile(lost, original, error));
    EXPECT_EQ(error, "cannot write " + lost + ": " + std::strerror(ENOENT));
    std::filesystem::create_directories(dir / "taken.bmp");
    EXPECT_FALSE(writeBmpFile((dir / "taken.bmp").string(), original, error));
    EXPECT_EQ(error, "cannot write " + (dir / "taken.bmp").string() + ": " + std::strerror(EISDIR));
    EXPECT_FALSE(std::filesystem::exists(dir / "taken.bmp.part"));
    std::filesystem::remove_all(dir);
}

// The headers are read first and decide how much more is read: a frame header in front of a huge file is
// refused at once, without loading the file.
TEST(BmpFile, IsJudgedByItsHeadersBeforeItIsRead) {
    const auto dir = std::filesystem::temp_directory_path() / "kestrane-bmp-head-test";
    std::filesystem::create_directories(dir);
    const Bitmap frame = gradient(640, 480, 24);
    const std::vector<std::uint8_t> file = encodeBmp(frame);
    struct Case {
        const char* name;
        std::uint64_t size; // the file is cut or extended (with a hole) to this size
        const char* error;  // null: the frame reads back
    } cases[] = {
        {"exact", file.size(), nullptr},
        {"a little trailing data", file.size() + 4096, nullptr},
        {"a gigabyte behind a frame header", file.size() + (1ULL << 30), "far larger"},
        {"cut inside the pixels", file.size() - 1, "truncated"},
        {"headers only", 54, "truncated"},
    };
    for (const Case& c : cases) {
        const std::string path = (dir / "frame.bmp").string();
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(file.data()),
                      static_cast<std::streamsize>(std::min<std::uint64_t>(c.size, file.size())));
        }
        std::filesystem::resize_file(path, c.size);
        Bitmap read;
        std::string error;
        const bool ok = readBmpFile(path, read, error);
        if (c.error == nullptr) {
            EXPECT_TRUE(ok) << c.name << ": " << error;
            EXPECT_EQ(read, frame) << c.name;
        } else {
            EXPECT_FALSE(ok) << c.name;
            EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
        }
    }
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace kestrane
