// The process-wide measurement state shared by every handler of the main window, and the raster rules it
// uses.
#pragma once

#include "analysis/Tables.h"
#include "imaging/Bitmap.h"
#include "imaging/Numeric.h"

#include <array>
#include <cstdint>

namespace kestrane {

constexpr int kFrameWidth = 640;
constexpr int kFrameHeight = 480;
constexpr int kMapWidth = 320;
constexpr int kMapHeight = 240;

// A result map: bytes [0..320][0..240], element [x][y] at offset x × 241 + y (a column is contiguous).
// Column 320 and row 240 exist but are never written.
class ResultMap {
  public:
    static constexpr int kColumns = kMapWidth + 1;
    static constexpr int kRows = kMapHeight + 1;

    std::uint8_t& at(int x, int y) { return bytes_[static_cast<std::size_t>(x * kRows + y)]; }
    std::uint8_t at(int x, int y) const { return bytes_[static_cast<std::size_t>(x * kRows + y)]; }
    std::uint8_t* data() { return bytes_.data(); }
    const std::uint8_t* data() const { return bytes_.data(); }
    void clear() { bytes_.fill(0); }

  private:
    std::array<std::uint8_t, static_cast<std::size_t>(kColumns) * kRows> bytes_{};
};

// Flat-field gains for Frame pixel (x, y) at [x][y] (y bottom-up), x = 0..640, y = 0..480.
// Kept row by row in memory, like the frame itself, so that the analysis reads both in one sweep.
class FlatFieldGains {
  public:
    static constexpr int kColumns = kFrameWidth + 1;
    static constexpr int kRows = kFrameHeight + 1;

    float& at(int x, int y) { return gains_[static_cast<std::size_t>(y * kColumns + x)]; }
    float at(int x, int y) const { return gains_[static_cast<std::size_t>(y * kColumns + x)]; }
    const float* row(int y) const { return gains_.data() + static_cast<std::size_t>(y) * kColumns; }
    void clear() { gains_.fill(0.0f); }

  private:
    std::array<float, static_cast<std::size_t>(kColumns) * kRows> gains_{};
};

struct PickRectangle {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
    bool operator==(const PickRectangle&) const = default;
};

// The 40-byte bitmap information header that BmpFromArray hands to the copy operation.
struct ArrayDibHeaderFields {
    std::uint32_t size = 40;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t planes = 1;
    std::uint16_t bitCount = 32;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::uint32_t clrUsed = 0;
    std::uint32_t clrImportant = 0;
};

struct MeasurementState {
    std::uint8_t* FramePixels = nullptr;
    std::int32_t FrameWidth = 0;
    std::int32_t FrameHeight = 0;
    std::int32_t ClipFrameCount = 20;
    std::int32_t ClipKind = 1;
    std::int32_t ClipNumber = 0;
    std::int32_t RecordTimeLimit = 10;
    std::int32_t SinDLimit = 15;
    std::int32_t FrameDelay = 35000;
    std::uint8_t LivePaused = 1;
    std::uint8_t FlatFieldOn = 0;
    std::uint8_t RecordingActive = 0;
    std::uint8_t CaptureReady = 0;
    ResultMap TransmissionMap;
    ResultMap SinDMap;
    ResultMap ExtinctionMap;
    FlatFieldGains FlatFieldGain;
    Extended MaxSin = 1.0L;
    Extended OfflineFrameSeconds = 0.035L;
    Extended ClipFrameSeconds = 0.1L;
    Tables tables; // AngleTable, Palette, SinDGainTable, RootTable: zero until the first activation
    std::uint8_t PickActive = 0;
    PickRectangle PickRect;
    PickRectangle PickRectDrawn;
    ArrayDibHeaderFields ArrayDibHeader;
};

// The one process-wide instance.
MeasurementState& measurementState();

// Gives the instance its start values again (zero-filled, then the initial values); tests start from here.
void resetMeasurementState();

// Exposes a bitmap's pixels as a bottom-up 32-bit array: sets FrameWidth and FrameHeight, converts the
// bitmap to 32 bits per pixel and returns the address of its bottom row. Null for an empty bitmap.
std::uint8_t* BmpToArray(Bitmap& bitmap);

// Writes `lines` rows of `width` 32-bit pixels into the bitmap, the array's first row becoming the TOP row.
// The source is copied first, so the array may be the bitmap's own pixel memory. Returns the rows copied.
int BmpFromArray(Bitmap& bitmap, const std::uint8_t* pixels, int lines, int width);

} // namespace kestrane
