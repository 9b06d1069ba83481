// BMP files and in-memory BMP file images: the reader takes ordinary DIBs, the writer writes what the reader
// takes.
#include "imaging/Bmp.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace kestrane {

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
// Larger pictures than this are not camera frames or backgrounds; refusing them bounds the allocation.
constexpr std::int64_t kMaxPixels = 64LL * 1024 * 1024;

bool fail(std::string& error, const char* reason) {
    error = reason;
    return false;
}

} // namespace

bool decodeBmp(const std::uint8_t* data, std::size_t size, Bitmap& out, std::string& error) {
    if (data == nullptr || size < kBmpFileHeaderSize + kBmpInfoHeaderSize) {
        return fail(error, "not a BMP file: too short");
    }
    if (data[0] != 'B' || data[1] != 'M') {
        return fail(error, "not a BMP file: no BM signature");
    }
    const std::uint32_t pixelOffset = readLe32(data + 10);
    const std::uint8_t* info = data + kBmpFileHeaderSize;
    const std::uint32_t infoSize = readLe32(info);
    if (infoSize < kBmpInfoHeaderSize || infoSize > size - kBmpFileHeaderSize) {
        return fail(error, "BMP header size is invalid");
    }
    const auto width = static_cast<std::int32_t>(readLe32(info + 4));
    const auto rawHeight = static_cast<std::int32_t>(readLe32(info + 8));
    const std::uint16_t planes = readLe16(info + 12);
    const std::uint16_t bits = readLe16(info + 14);
    const std::uint32_t compression = readLe32(info + 16);
    std::uint32_t coloursUsed = readLe32(info + 32);

    if (planes != 1) {
        return fail(error, "BMP plane count is not 1");
    }
    if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN) {
        return fail(error, "BMP dimensions are invalid");
    }
    const bool topDown = rawHeight < 0;
    const std::int32_t height = topDown ? -rawHeight : rawHeight;
    if (std::int64_t{width} * height > kMaxPixels) {
        return fail(error, "BMP picture is too large");
    }
    const bool bitfields32 = compression == kBiBitfields && bits == 32;
    if (compression != kBiRgb && !bitfields32) {
        return fail(error, "compressed BMP files are not supported");
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) {
        return fail(error, "BMP bit depth is not supported");
    }
    if (bitfields32) {
        // Only the ordinary layout (red, green, blue masks in the usual bytes) is taken.
        const std::size_t masksAt = kBmpFileHeaderSize + kBmpInfoHeaderSize;
        if (size < masksAt + 12 || readLe32(data + masksAt) != 0x00FF0000u ||
            readLe32(data + masksAt + 4) != 0x0000FF00u || readLe32(data + masksAt + 8) != 0x000000FFu) {
            return fail(error, "BMP colour masks are not supported");
        }
    }

    std::vector<std::uint8_t> palette; // BGRA quads
    if (bits <= 8) {
        const std::uint32_t maxColours = 1u << bits;
        if (coloursUsed == 0 || coloursUsed > maxColours) {
            coloursUsed = maxColours;
        }
        const std::size_t paletteAt = kBmpFileHeaderSize + infoSize;
        if (paletteAt + std::size_t{coloursUsed} * 4 > size) {
            return fail(error, "BMP colour table is truncated");
        }
        palette.assign(data + paletteAt, data + paletteAt + std::size_t{coloursUsed} * 4);
        palette.resize(std::size_t{maxColours} * 4, 0);
    }

    const std::ptrdiff_t srcStride = Bitmap::rowBytes(width, bits);
    const std::uint64_t needed =
        std::uint64_t{pixelOffset} + std::uint64_t(srcStride) * std::uint64_t(height);
    if (pixelOffset < kBmpFileHeaderSize + kBmpInfoHeaderSize || needed > size) {
        return fail(error, "BMP pixel data is truncated");
    }

    // Decoding into the caller's bitmap when it already has this geometry lets a camera loop run without
    // allocating.
    const int outBits = bits == 32 ? 32 : 24;
    if (out.width() != width || out.height() != height || out.bitsPerPixel() != outBits) {
        out = Bitmap(width, height, outBits);
    }
    Bitmap& result = out;
    for (std::int32_t y = 0; y < height; ++y) {
        const std::int32_t srcRow = topDown ? height - 1 - y : y;
        const std::uint8_t* src = data + pixelOffset + srcStride * srcRow;
        std::uint8_t* dst = result.row(y);
        if (bits >= 24) {
            std::copy(src, src + std::ptrdiff_t{width} * (bits / 8), dst);
            continue;
        }
        for (std::int32_t x = 0; x < width; ++x) {
            const int bitPos = x * bits;
            const int shift = 8 - bits - (bitPos % 8);
            const unsigned index = (src[bitPos / 8] >> shift) & ((1u << bits) - 1u);
            dst[3 * x + 0] = palette[4 * index + 0];
            dst[3 * x + 1] = palette[4 * index + 1];
            dst[3 * x + 2] = palette[4 * index + 2];
        }
    }
    return true;
}

bool readBmpFile(const std::string& path, Bitmap& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    return decodeBmp(bytes.data(), bytes.size(), out, error);
}

std::vector<std::uint8_t> encodeBmp(const Bitmap& bitmap) {
    const std::size_t headers = kBmpFileHeaderSize + kBmpInfoHeaderSize;
    const std::size_t imageSize = bitmap.sizeBytes();
    std::vector<std::uint8_t> file(headers + imageSize, 0);
    std::uint8_t* p = file.data();
    p[0] = 'B';
    p[1] = 'M';
    writeLe32(p + 2, static_cast<std::uint32_t>(file.size()));
    writeLe32(p + 10, static_cast<std::uint32_t>(headers));
    std::uint8_t* info = p + kBmpFileHeaderSize;
    writeLe32(info, kBmpInfoHeaderSize);
    writeLe32(info + 4, static_cast<std::uint32_t>(bitmap.width()));
    writeLe32(info + 8, static_cast<std::uint32_t>(bitmap.height()));
    writeLe16(info + 12, 1);
    writeLe16(info + 14, static_cast<std::uint16_t>(bitmap.bitsPerPixel()));
    writeLe32(info + 20, static_cast<std::uint32_t>(imageSize));
    std::copy(bitmap.bits(), bitmap.bits() + imageSize, p + headers);
    return file;
}

bool writeBmpFile(const std::string& path, const Bitmap& bitmap, std::string& error) {
    const std::vector<std::uint8_t> file = encodeBmp(bitmap);
    const std::string temp = path + ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
        out.flush();
        if (!out) {
            std::remove(temp.c_str());
            error = "cannot write " + path;
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace kestrane
