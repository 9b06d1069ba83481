// The quantity TIFF's layout as ImageJ needs it (every plane's pixels in one block after the directories),
// BigTIFF where classic offsets end, and no half file left by a failure.
#include "recording/QuantityTiff.h"

#include <gtest/gtest.h>

#include <tiffio.h>

#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace kestrane {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kPlaneBytes = 320 * 240 * 4;

class QuantityTiff : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("kestrane-tiff-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Maps whose every value tells its frame, channel and pixel apart.
    static QuantityMaps maps(int frame) {
        QuantityMaps m;
        std::vector<float>* channels[] = {&m.retardanceNm, &m.orientationDeg, &m.sinD, &m.transmissionPct};
        for (int c = 0; c < 4; ++c) {
            channels[c]->resize(320 * 240);
            for (std::size_t i = 0; i < channels[c]->size(); ++i) {
                (*channels[c])[i] = static_cast<float>(frame * 1e6 + c * 1e5 + static_cast<double>(i));
            }
        }
        return m;
    }

    fs::path dir;
};

// Both kinds of file: the planes in order, their pixels back to back after the last directory, with the
// calibration in every directory.
TEST_F(QuantityTiff, PlanesFollowEachOtherInOneBlock) {
    for (const bool big : {false, true}) {
        const std::string file = (dir / "maps.tif").string();
        QuantityTiffSettings settings;
        settings.pixelSizeUm = 0.5;
        settings.bigTiff = big;
        QuantityTiffWriter writer;
        ASSERT_TRUE(writer.open(file, settings, 2, 0.1)) << writer.error();
        ASSERT_TRUE(writer.append(maps(0)) && writer.append(maps(1))) << writer.error();
        ASSERT_TRUE(writer.finish()) << writer.error();

        // "c": one strip per plane as written, not cut into pieces for reading.
        TIFFSetWarningHandler(nullptr);
        TIFF* tif = TIFFOpen(file.c_str(), "rc");
        ASSERT_NE(tif, nullptr);
        EXPECT_EQ(TIFFIsBigTIFF(tif) != 0, big);
        std::vector<float> plane(320 * 240);
        std::uint64_t first = 0;
        int planes = 0;
        do {
            std::uint64_t* offsets = nullptr;
            float resolution = 0;
            ASSERT_EQ(TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets), 1);
            ASSERT_EQ(TIFFGetField(tif, TIFFTAG_XRESOLUTION, &resolution), 1);
            EXPECT_FLOAT_EQ(resolution, 2.0F);
            first = planes == 0 ? offsets[0] : first;
            EXPECT_EQ(offsets[0], first + planes * kPlaneBytes) << "plane " << planes;
            EXPECT_GT(first, TIFFCurrentDirOffset(tif)) << "plane " << planes;
            ASSERT_EQ(TIFFReadEncodedStrip(tif, 0, plane.data(), kPlaneBytes),
                      static_cast<tmsize_t>(kPlaneBytes));
            const QuantityMaps want = maps(planes / 4);
            const std::vector<float>* channels[] = {&want.retardanceNm, &want.orientationDeg, &want.sinD,
                                                    &want.transmissionPct};
            EXPECT_EQ(plane, *channels[planes % 4]) << "plane " << planes;
            ++planes;
        } while (TIFFReadDirectory(tif) == 1);
        EXPECT_EQ(planes, 8);
        TIFFClose(tif);
    }
}

// Classic TIFF's 32-bit offsets hold about 3 490 frames; beyond them the file must be BigTIFF.
TEST_F(QuantityTiff, BigTiffWhereClassicOffsetsEnd) {
    const struct {
        std::int64_t frames;
        bool big;
    } cases[] = {{1, false}, {1000, false}, {3450, false}, {3500, true}, {100000, true}};
    for (const auto& c : cases) {
        EXPECT_EQ(quantityTiffNeedsBigTiff(c.frames, 200'000), c.big) << c.frames;
    }
}

// A movie that ends early, a map of the wrong size and a folder that is not there fail in words; the
// one-shot writer then leaves neither the file nor its temporary behind.
TEST_F(QuantityTiff, FailuresSayWhyAndLeaveNoFile) {
    QuantityTiffWriter writer;
    ASSERT_TRUE(writer.open((dir / "short.tif").string(), {}, 2, 0.1));
    ASSERT_TRUE(writer.append(maps(0)));
    EXPECT_FALSE(writer.finish());
    EXPECT_NE(writer.error().find("1 of 2 frames written"), std::string::npos) << writer.error();

    ASSERT_TRUE(writer.open((dir / "small.tif").string(), {}, 1, 0));
    QuantityMaps small = maps(0);
    small.sinD.pop_back();
    EXPECT_FALSE(writer.append(small));
    EXPECT_NE(writer.error().find("not 320 x 240"), std::string::npos) << writer.error();

    std::string error;
    EXPECT_FALSE(writeQuantityTiff((dir / "missing" / "maps.tif").string(), maps(0), {}, error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_TRUE(writeQuantityTiff((dir / "one.tif").string(), maps(0), {}, error)) << error;
    EXPECT_TRUE(fs::exists(dir / "one.tif"));
    for (const auto& entry : fs::directory_iterator(dir)) {
        EXPECT_EQ(entry.path().string().find(".tmp-"), std::string::npos) << entry.path();
    }
}

} // namespace
} // namespace kestrane
