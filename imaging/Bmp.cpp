// BMP files and in-memory BMP file images: the reader takes ordinary DIBs, the writer writes what the reader
// takes.
#include "imaging/Bmp.h"

#include "imaging/FileIo.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrane {

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
// Larger pictures than this are not camera frames or backgrounds; refusing them bounds the allocation.
constexpr std::int64_t kMaxPixels = 64LL * 1024 * 1024;

// Version 5 headers are 124 bytes; a larger one is no bitmap header.
constexpr std::uint32_t kMaxInfoSize = 4096;
// Bytes a file may hold after its picture (an embedded colour profile, padding). A file much larger than its
// headers declare is no picture file but something else with a bitmap header in front.
constexpr std::uint64_t kMaxTrailingBytes = 1 << 20;

bool fail(std::string& error, const char* reason) {
    error = reason;
    return false;
}

// What the two headers say about the picture, and how many bytes of the file it takes.
struct BmpLayout {
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool topDown = false;
    std::uint16_t bits = 0;
    std::uint32_t pixelOffset = 0;
    std::uint32_t infoSize = 0;
    std::uint32_t colours = 0; // palette entries read (8 bits and less)
    std::ptrdiff_t stride = 0;
    bool masksFollow = false;    // 32-bit BI_BITFIELDS: three masks after the 40-byte header
    std::uint64_t fileBytes = 0; // the headers, palette or masks and pixel rows together
};

// Checks the file and info headers (the first 54 bytes) alone, so that a file can be judged before any more
// of it is read.
bool readBmpLayout(const std::uint8_t* head, BmpLayout& l, std::string& error) {
    if (head[0] != 'B' || head[1] != 'M') {
        return fail(error, "not a BMP file: no BM signature");
    }
    l.pixelOffset = readLe32(head + 10);
    const std::uint8_t* info = head + kBmpFileHeaderSize;
    l.infoSize = readLe32(info);
    if (l.infoSize < kBmpInfoHeaderSize || l.infoSize > kMaxInfoSize) {
        return fail(error, "BMP header size is invalid");
    }
    l.width = static_cast<std::int32_t>(readLe32(info + 4));
    const auto rawHeight = static_cast<std::int32_t>(readLe32(info + 8));
    const std::uint16_t planes = readLe16(info + 12);
    l.bits = readLe16(info + 14);
    const std::uint32_t compression = readLe32(info + 16);
    if (planes != 1) {
        return fail(error, "BMP plane count is not 1");
    }
    if (l.width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN) {
        return fail(error, "BMP dimensions are invalid");
    }
    l.topDown = rawHeight < 0;
    l.height = l.topDown ? -rawHeight : rawHeight;
    if (std::int64_t{l.width} * l.height > kMaxPixels) {
        return fail(error, "BMP picture is too large");
    }
    l.masksFollow = compression == kBiBitfields && l.bits == 32;
    if (compression != kBiRgb && !l.masksFollow) {
        return fail(error, "compressed BMP files are not supported");
    }
    if (l.bits != 1 && l.bits != 4 && l.bits != 8 && l.bits != 24 && l.bits != 32) {
        return fail(error, "BMP bit depth is not supported");
    }
    std::uint64_t tableEnd = kBmpFileHeaderSize + l.infoSize;
    if (l.masksFollow) {
        tableEnd = std::max<std::uint64_t>(tableEnd, kBmpFileHeaderSize + kBmpInfoHeaderSize + 12);
    }
    if (l.bits <= 8) {
        const std::uint32_t maxColours = 1u << l.bits;
        const std::uint32_t used = readLe32(info + 32);
        l.colours = used == 0 || used > maxColours ? maxColours : used;
        tableEnd += std::uint64_t{l.colours} * 4;
    }
    if (l.pixelOffset < kBmpFileHeaderSize + kBmpInfoHeaderSize) {
        return fail(error, "BMP pixel data is truncated");
    }
    l.stride = Bitmap::rowBytes(l.width, l.bits);
    l.fileBytes =
        std::max(tableEnd, std::uint64_t{l.pixelOffset} + std::uint64_t(l.stride) * std::uint64_t(l.height));
    return true;
}

// Decodes the picture of a file image that holds at least l.fileBytes bytes.
void decodePixels(const std::uint8_t* data, const BmpLayout& l, Bitmap& out) {
    std::array<std::uint8_t, 256 * 4> palette{}; // BGRA quads; entries past the table stay black
    const std::size_t paletteAt = kBmpFileHeaderSize + l.infoSize;
    std::copy_n(data + paletteAt, std::size_t{l.colours} * 4, palette.begin());

    // Decoding into the caller's bitmap when it already has this geometry lets a camera loop run without
    // allocating.
    const int outBits = l.bits == 32 ? 32 : 24;
    if (out.width() != l.width || out.height() != l.height || out.bitsPerPixel() != outBits) {
        out = Bitmap(l.width, l.height, outBits);
    }
    for (std::int32_t y = 0; y < l.height; ++y) {
        const std::int32_t srcRow = l.topDown ? l.height - 1 - y : y;
        const std::uint8_t* src = data + l.pixelOffset + l.stride * srcRow;
        std::uint8_t* dst = out.row(y);
        if (l.bits >= 24) {
            std::copy(src, src + std::ptrdiff_t{l.width} * (l.bits / 8), dst);
            continue;
        }
        for (std::int32_t x = 0; x < l.width; ++x) {
            const int bitPos = x * l.bits;
            const int shift = 8 - l.bits - (bitPos % 8);
            const unsigned index = (src[bitPos / 8] >> shift) & ((1u << l.bits) - 1u);
            dst[3 * x + 0] = palette[4 * index + 0];
            dst[3 * x + 1] = palette[4 * index + 1];
            dst[3 * x + 2] = palette[4 * index + 2];
        }
    }
}

// Whether a file image of `size` bytes holds all that the headers declare.
bool checkFits(const BmpLayout& l, std::uint64_t size, std::string& error) {
    const std::uint64_t infoEnd = kBmpFileHeaderSize + std::uint64_t{l.infoSize};
    if (infoEnd > size) {
        return fail(error, "BMP header size is invalid");
    }
    if (l.masksFollow && kBmpFileHeaderSize + kBmpInfoHeaderSize + 12 > size) {
        return fail(error, "BMP colour masks are not supported");
    }
    if (infoEnd + std::uint64_t{l.colours} * 4 > size) {
        return fail(error, "BMP colour table is truncated");
    }
    if (l.fileBytes > size) {
        return fail(error, "BMP pixel data is truncated");
    }
    if (size - l.fileBytes > kMaxTrailingBytes) {
        return fail(error, "BMP file is far larger than the picture its headers declare");
    }
    return true;
}

// Only the ordinary layout of 32-bit masks (red, green, blue in the usual bytes) is taken.
bool checkMasks(const std::uint8_t* data, const BmpLayout& l, std::string& error) {
    const std::uint8_t* masks = data + kBmpFileHeaderSize + kBmpInfoHeaderSize;
    if (l.masksFollow && (readLe32(masks) != 0x00FF0000u || readLe32(masks + 4) != 0x0000FF00u ||
                          readLe32(masks + 8) != 0x000000FFu)) {
        return fail(error, "BMP colour masks are not supported");
    }
    return true;
}

constexpr std::size_t kHeadBytes = kBmpFileHeaderSize + kBmpInfoHeaderSize;

struct FileDescriptor {
    int fd;
    ~FileDescriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

} // namespace

bool decodeBmp(const std::uint8_t* data, std::size_t size, Bitmap& out, std::string& error) {
    if (data == nullptr || size < kHeadBytes) {
        return fail(error, "not a BMP file: too short");
    }
    BmpLayout l;
    if (!readBmpLayout(data, l, error) || !checkFits(l, size, error) || !checkMasks(data, l, error)) {
        return false;
    }
    decodePixels(data, l, out);
    return true;
}

bool readBmpFile(const std::string& path, Bitmap& out, std::string& error) {
    const FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat st {};
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "cannot open " + path;
        return false;
    }
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    if (fileSize < kHeadBytes) {
        return fail(error, "not a BMP file: too short");
    }
    // The headers first: the file is judged by what they declare, and no more of it is read than that,
    // however large the file is.
    std::vector<std::uint8_t> bytes(kHeadBytes);
    BmpLayout l;
    const auto pread = [&file](std::uint8_t* p, std::size_t n, off_t at) {
        return ::pread(file.fd, p, n, at);
    };
    if (!moveAll(bytes.data(), kHeadBytes, 0, pread)) {
        error = "cannot read " + path;
        return false;
    }
    if (!readBmpLayout(bytes.data(), l, error) || !checkFits(l, fileSize, error)) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(l.fileBytes));
    if (!moveAll(bytes.data() + kHeadBytes, bytes.size() - kHeadBytes, kHeadBytes, pread)) {
        error = "cannot read " + path;
        return false;
    }
    if (!checkMasks(bytes.data(), l, error)) {
        return false;
    }
    decodePixels(bytes.data(), l, out);
    return true;
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

bool writeFileReplacing(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error) {
    const std::string temp = path + ".part";
    const auto failed = [&](int code) {
        ::unlink(temp.c_str());
        error = "cannot write " + path + ": " + std::strerror(code);
        return false;
    };
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    errno = 0;
    if (!moveAll(bytes.data(), bytes.size(), 0,
                 [fd](const std::uint8_t* p, std::size_t n, off_t at) { return ::pwrite(fd, p, n, at); })) {
        // A write that moves nothing without an error has run out of room.
        const int code = errno != 0 ? errno : ENOSPC;
        ::close(fd);
        return failed(code);
    }
    // Errors of delayed writes (a full disk on some file systems) show only at the close.
    if (::close(fd) != 0) {
        return failed(errno);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        return failed(errno);
    }
    return true;
}

bool writeBmpFile(const std::string& path, const Bitmap& bitmap, std::string& error) {
    return writeFileReplacing(path, encodeBmp(bitmap), error);
}

} // namespace kestrane
