// Driver formats by compression code, and the conversion of whole YUV frames into bottom-up 32-bit DIB
// pixels.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrane {

// A compression code as a four-character code: the little-endian number of its four bytes.
constexpr std::uint32_t fourCc(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(a)) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(b)) << 8) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(c)) << 16) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(d)) << 24);
}

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kFourCcYuy2 = fourCc('Y', 'U', 'Y', '2');
constexpr std::uint32_t kFourCcUyvy = fourCc('U', 'Y', 'V', 'Y');
constexpr std::uint32_t kFourCcY41p = fourCc('Y', '4', '1', 'P');
constexpr std::uint32_t kFourCcYvu9 = fourCc('Y', 'V', 'U', '9');
constexpr std::uint32_t kFourCcI420 = fourCc('I', '4', '2', '0');
constexpr std::uint32_t kFourCcY8 = fourCc('Y', '8', ' ', ' ');
constexpr std::uint32_t kFourCcY211 = fourCc('Y', '2', '1', '1');

// Format codes: how a delivered frame reaches the stream.
enum FormatCode : std::uint8_t {
    kFormatUnknown = 0, // not handled
    kFormatRgb = 1,     // copied unchanged
    kFormatYuy2 = 2,
    kFormatUyvy = 3,
    kFormatY41p = 4,
    kFormatYvu9 = 5,
    kFormatI420 = 6,
    kFormatY8 = 7,
    kFormatY211 = 8,
};

// The format code of a BITMAPINFOHEADER's biCompression; four-character codes match exactly (case counts).
std::uint8_t FormatCodeOf(std::uint32_t compression);

// One pixel from Y, U, V: blue | green << 8 | red << 16, each channel truncated toward zero and clamped to
// 0..255, computed in 80-bit extended arithmetic.
std::uint32_t YuvToBgr(std::uint8_t y, std::uint8_t u, std::uint8_t v);

// The integer form of YuvToBgr used by the converters; it gives the same pixel for every input.
std::uint32_t yuvToBgrFast(std::uint8_t y, std::uint8_t u, std::uint8_t v);

// Converts one frame of the layout selected by the low 7 bits of `code` (2..8) from `source` (top line first)
// into width × height 32-bit pixels at `output`. Returns false and writes nothing for any other code.
bool ConvertFrame(std::uint8_t code, const std::uint8_t* source, std::uint8_t* output, std::int32_t width,
                  std::int32_t height);

// The bytes a source frame of the layout must hold for ConvertFrame to read (0 for codes it does not convert
// or for sizes without a single block).
std::size_t yuvFrameBytes(std::uint8_t code, std::int32_t width, std::int32_t height);

// A layout as a driver states it: compression code, bits per pixel, and its name in the format dialog.
struct DriverLayout {
    std::uint32_t compression;
    std::uint16_t bitCount;
    const char* label;
};

// Every layout the program takes: RGB at 24 and 32 bits and the seven YUV layouts.
inline constexpr std::array<DriverLayout, 9> kDriverLayouts = {{
    {kBiRgb, 24, "RGB 24"},
    {kBiRgb, 32, "RGB 32"},
    {kFourCcYuy2, 16, "YUY2"},
    {kFourCcUyvy, 16, "UYVY"},
    {kFourCcY41p, 12, "Y41P"},
    {kFourCcYvu9, 9, "YVU9"},
    {kFourCcI420, 12, "I420"},
    {kFourCcY8, 8, "Y8"},
    {kFourCcY211, 8, "Y211"},
}};

} // namespace kestrane
