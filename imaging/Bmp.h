// BMP files and in-memory BMP file images: the reader takes ordinary DIBs, the writer writes what the reader
// takes.
#pragma once

#include "imaging/Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrane {

constexpr std::size_t kBmpFileHeaderSize = 14;
constexpr std::size_t kBmpInfoHeaderSize = 40;

// Decodes a BMP file image (uncompressed 1/4/8-bit palette, 24 or 32 bits, bottom-up or top-down).
// Palette pictures become 24-bit. Returns false with a reason in `error` for anything malformed, leaving
// `out` as it was; `out`'s memory is reused when its size and depth already match.
bool decodeBmp(const std::uint8_t* data, std::size_t size, Bitmap& out, std::string& error);

// Reads and decodes a BMP file.
bool readBmpFile(const std::string& path, Bitmap& out, std::string& error);

// The complete BMP file image of a bitmap, bottom-up, in the bitmap's own pixel format.
std::vector<std::uint8_t> encodeBmp(const Bitmap& bitmap);

// Writes a BMP file through a temporary file and a rename, so a failed write never leaves a damaged file.
// On failure `error` says which file and why ("cannot write NAME: REASON").
bool writeBmpFile(const std::string& path, const Bitmap& bitmap, std::string& error);

// Writes any file the same way: the old file stays until the new one is complete.
bool writeFileReplacing(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error);

// Little-endian integer helpers for file formats.
inline std::uint16_t readLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t readLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void writeLe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void writeLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

} // namespace kestrane
