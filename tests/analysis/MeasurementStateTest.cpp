// The shared state's start values, the map layout and the array conversions of bitmaps.
#include "analysis/MeasurementState.h"
#include "analysis/FlatField.h"
#include "analysis/MapKind.h"

#include <gtest/gtest.h>

namespace kestrane {
namespace {

// The stored clip kinds 1, 2, 3 name the three maps; any other value records the |sin δ| clip.
TEST(MeasurementState, ClipKindNamesItsMap) {
    const std::pair<std::int32_t, MapKind> cases[] = {{1, MapKind::SinD},         {2, MapKind::Extinction},
                                                      {3, MapKind::Transmission}, {0, MapKind::SinD},
                                                      {4, MapKind::SinD},         {-2, MapKind::SinD}};
    for (const auto& [stored, map] : cases) {
        EXPECT_EQ(mapKindOfClip(stored), map) << stored;
    }
}

TEST(MeasurementState, StartValues) {
    resetMeasurementState();
    const MeasurementState& s = measurementState();
    EXPECT_EQ(s.ClipFrameCount, 20);
    EXPECT_EQ(s.ClipKind, 1);
    EXPECT_EQ(s.RecordTimeLimit, 10);
    EXPECT_EQ(s.SinDLimit, 15);
    EXPECT_EQ(s.FrameDelay, 35000);
    EXPECT_EQ(s.LivePaused, 1);
    EXPECT_EQ(s.FlatFieldOn, 0);
    EXPECT_EQ(s.RecordingActive, 0);
    EXPECT_EQ(s.CaptureReady, 0);
    EXPECT_EQ(s.MaxSin, 1.0L);
    EXPECT_EQ(s.OfflineFrameSeconds, 0.035L);
    EXPECT_EQ(s.ClipFrameSeconds, 0.1L);
    EXPECT_EQ(s.tables.root[33000], 0.0f);
    EXPECT_EQ(s.ArrayDibHeader.size, 40u);
    EXPECT_EQ(s.ArrayDibHeader.bitCount, 32);
}

TEST(ResultMap, ColumnMajorLayout) {
    ResultMap map;
    map.at(1, 0) = 7;
    map.at(0, 240) = 9;
    EXPECT_EQ(map.data()[241], 7);
    EXPECT_EQ(map.data()[240], 9);
    EXPECT_EQ(sizeof(ResultMap), 77361u);
}

Bitmap numberedRows(int width, int height, int bits) {
    Bitmap b(width, height, bits);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            b.row(y)[x * (bits / 8) + 2] = static_cast<std::uint8_t>(y);
            b.row(y)[x * (bits / 8) + 0] = static_cast<std::uint8_t>(x);
        }
    }
    return b;
}

TEST(BmpToArray, BottomRowFirstAndConvertsTo32Bits) {
    resetMeasurementState();
    Bitmap b = numberedRows(640, 480, 24);
    b.row(479)[0] = 0xAB; // top-left pixel of the picture as shown
    std::uint8_t* pixels = BmpToArray(b);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(b.bitsPerPixel(), 32);
    EXPECT_EQ(measurementState().FrameWidth, 640);
    EXPECT_EQ(measurementState().FrameHeight, 480);
    EXPECT_EQ(pixels[(479 * 640) * 4], 0xAB);
    EXPECT_EQ(pixels[(5 * 640 + 3) * 4 + 2], 5);
    pixels[2] = 200; // writes go to the bitmap
    EXPECT_EQ(b.row(0)[2], 200);
}

TEST(BmpFromArray, OwnPixelsComeBackUpsideDown) {
    resetMeasurementState();
    Bitmap b = numberedRows(640, 480, 32);
    std::uint8_t* pixels = BmpToArray(b);
    EXPECT_EQ(BmpFromArray(b, pixels, 480, 640), 480);
    for (int y : {0, 1, 239, 240, 479}) {
        EXPECT_EQ(b.row(y)[2], static_cast<std::uint8_t>(479 - y));
        EXPECT_EQ(b.row(y)[4 * 17], 17);
    }
    EXPECT_EQ(measurementState().ArrayDibHeader.width, 640);
    EXPECT_EQ(measurementState().ArrayDibHeader.height, -480);
}

TEST(FlatFieldGains, FromABackgroundPicture) {
    resetMeasurementState();
    MeasurementState& s = measurementState();
    s.FlatFieldGain.at(2, 0) = 3.5f; // a previous gain that a black background pixel keeps
    Bitmap background(640, 480, 24);
    background.row(0)[0 * 3 + 2] = 128;
    background.row(0)[1 * 3 + 2] = 1;
    background.row(0)[2 * 3 + 2] = 0;
    background.row(479)[639 * 3 + 2] = 255;
    background.row(0)[3 * 3 + 2] = 64;
    ASSERT_TRUE(computeFlatFieldGains(background, s));
    EXPECT_EQ(s.FlatFieldGain.at(0, 0), 1.0f);
    EXPECT_EQ(s.FlatFieldGain.at(1, 0), 128.0f);
    EXPECT_EQ(s.FlatFieldGain.at(2, 0), 3.5f);
    EXPECT_EQ(s.FlatFieldGain.at(3, 0), 2.0f);
    EXPECT_EQ(s.FlatFieldGain.at(639, 479), static_cast<float>(128.0L / 255.0L));
    EXPECT_EQ(s.FrameWidth, 640);
    EXPECT_EQ(s.FramePixels, background.bits());
}

TEST(FlatFieldGains, RefusesAPictureOfAnotherSize) {
    resetMeasurementState();
    MeasurementState& s = measurementState();
    for (auto [w, h] : {std::pair{320, 240}, std::pair{640, 479}, std::pair{641, 480}}) {
        Bitmap background(w, h, 24);
        background.row(0)[2] = 64;
        EXPECT_FALSE(computeFlatFieldGains(background, s));
        EXPECT_EQ(s.FlatFieldGain.at(0, 0), 0.0f);
    }
}

TEST(FlatFieldGains, FileNamesPerObjective) {
    EXPECT_STREQ(backgroundFileName(4), "kestrane-backgroundintensity4.bmp");
    EXPECT_STREQ(backgroundFileName(10), "kestrane-backgroundintensity10.bmp");
    EXPECT_STREQ(backgroundFileName(40), "kestrane-backgroundintensity40.bmp");
}

} // namespace
} // namespace kestrane
