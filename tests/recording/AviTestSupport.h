// Helpers of the AVI tests: synthetic clips written the way the recorders write them, byte sinks that fail on
// cue, a plain RIFF walker that checks the file layout independently of the library's reader.
#pragma once

#include "imaging/Bmp.h"
#include "recording/AviFile.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace avitest {

using namespace kestrane;

struct ClipSpec {
    int width = 370;
    int height = 240;
    int bits = 24; // 8 (grey-ish palette), 16 (5-5-5), 24 or 32
    std::uint32_t rate = 10;
    bool topDown = false;
};

inline std::uint32_t rowBytes(const ClipSpec& c) {
    return static_cast<std::uint32_t>((c.width * c.bits + 31) / 32 * 4);
}
inline std::uint32_t imageBytes(const ClipSpec& c) {
    return rowBytes(c) * static_cast<std::uint32_t>(c.height);
}

// The palette of 8-bit clips: every entry distinct in each colour.
inline void paletteEntry(int i, std::uint8_t* bgra) {
    bgra[0] = static_cast<std::uint8_t>(i);
    bgra[1] = static_cast<std::uint8_t>(255 - i);
    bgra[2] = static_cast<std::uint8_t>(i * 3);
    bgra[3] = 0;
}

// BITMAPINFOHEADER of a clip's frames, with the colour table for 8 bits.
inline std::vector<std::uint8_t> dibFormat(const ClipSpec& c) {
    std::vector<std::uint8_t> f(40 + (c.bits == 8 ? 1024 : 0), 0);
    writeLe32(f.data(), 40);
    writeLe32(f.data() + 4, static_cast<std::uint32_t>(c.width));
    writeLe32(f.data() + 8, static_cast<std::uint32_t>(c.topDown ? -c.height : c.height));
    writeLe16(f.data() + 12, 1);
    writeLe16(f.data() + 14, static_cast<std::uint16_t>(c.bits));
    writeLe32(f.data() + 20, imageBytes(c));
    if (c.bits == 8) {
        writeLe32(f.data() + 32, 256);
        for (int i = 0; i < 256; ++i) {
            paletteEntry(i, f.data() + 40 + 4 * i);
        }
    }
    return f;
}

// Stored pixels of frame n: a pattern that differs per frame, row, column and byte; padding stays 0.
inline std::vector<std::uint8_t> framePixels(const ClipSpec& c, int n) {
    std::vector<std::uint8_t> p(imageBytes(c), 0);
    const int bytesPerPixel = (c.bits + 7) / 8;
    for (int row = 0; row < c.height; ++row) {
        for (int i = 0; i < c.width * bytesPerPixel; ++i) {
            p[static_cast<std::size_t>(row) * rowBytes(c) + i] =
                static_cast<std::uint8_t>(i * 7 + row * 13 + n * 29 + (i % bytesPerPixel) * 61);
        }
    }
    return p;
}

// Blue, green, red of picture pixel (x, y), y counted from the bottom, as the clip's frame n holds it.
inline std::array<std::uint8_t, 3> expectedBgr(const ClipSpec& c, const std::vector<std::uint8_t>& stored,
                                               int x, int y) {
    const int row = c.topDown ? c.height - 1 - y : y;
    const std::uint8_t* p =
        stored.data() + static_cast<std::size_t>(row) * rowBytes(c) + x * ((c.bits + 7) / 8);
    if (c.bits == 8) {
        std::uint8_t e[4];
        paletteEntry(*p, e);
        return {e[0], e[1], e[2]};
    }
    if (c.bits == 16) {
        const unsigned v = readLe16(p);
        auto widen = [](unsigned five) { return static_cast<std::uint8_t>((five << 3) | (five >> 2)); };
        return {widen(v & 31), widen((v >> 5) & 31), widen((v >> 10) & 31)};
    }
    return {p[0], p[1], p[2]};
}

// The stream header values the recorders set.
inline AviStreamInfo recorderStreamInfo(const ClipSpec& c) {
    AviStreamInfo info;
    info.fccType = kStreamTypeVideo;
    info.fccHandler = 0;
    info.dwScale = 1;
    info.dwRate = c.rate;
    info.dwSuggestedBufferSize = imageBytes(c);
    info.rcFrame = {0, 0, c.width, c.height};
    return info;
}

// Writes frames 0..count-1 into an open file as a recorder does; returns how many were written before the
// first failure, and that failure (or 0) in `result`.
inline int writeClip(AviFile* file, const ClipSpec& c, int count, AviResult* result = nullptr) {
    AviStream* stream = nullptr;
    AviResult r = AVIFileCreateStream(file, &stream, recorderStreamInfo(c));
    const std::vector<std::uint8_t> format = dibFormat(c);
    if (r == kAviOk) {
        r = AVIStreamSetFormat(stream, 0, format.data(), static_cast<std::int32_t>(format.size()));
    }
    int written = 0;
    for (; r == kAviOk && written < count; ++written) {
        const std::vector<std::uint8_t> pixels = framePixels(c, written);
        r = AVIStreamWrite(stream, written, 1, pixels.data(), static_cast<std::int32_t>(pixels.size()),
                           kAviIfKeyframe);
        if (r != kAviOk) {
            break;
        }
    }
    AVIStreamRelease(stream);
    if (result != nullptr) {
        *result = r;
    }
    return written;
}

inline int writeClipFile(const std::string& path, const ClipSpec& c, int count) {
    AviFile* file = nullptr;
    if (AVIFileOpen(&file, path, kOfWrite | kOfCreate) != kAviOk) {
        return -1;
    }
    const int written = writeClip(file, c, count);
    AVIFileRelease(file);
    return written;
}

inline std::vector<std::uint8_t> readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A folder of its own under the test's working directory, removed afterwards.
struct ScratchDir {
    std::filesystem::path path;
    ScratchDir() {
        path = std::filesystem::current_path() / ("avi-scratch-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

// A disk in memory: `limit` plays the disk's size, `failingWrite` one write that fails as an I/O error would.
class MemorySink : public AviByteSink {
  public:
    explicit MemorySink(std::shared_ptr<std::vector<std::uint8_t>> bytes) : bytes_(std::move(bytes)) {}
    std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
    int failingWrite = -1;

    bool writeAt(std::uint64_t offset, const void* data, std::size_t count) override {
        if (++writes_ == failingWrite) {
            return false;
        }
        const std::uint64_t fits = offset >= limit ? 0 : std::min<std::uint64_t>(count, limit - offset);
        if (bytes_->size() < offset + fits) {
            bytes_->resize(offset + fits);
        }
        std::copy_n(static_cast<const std::uint8_t*>(data), fits, bytes_->data() + offset);
        return fits == count;
    }
    bool reserve(std::uint64_t size) override {
        if (size > limit) {
            return false;
        }
        if (bytes_->size() < size) {
            bytes_->resize(size);
        }
        return true;
    }
    bool truncate(std::uint64_t size) override {
        bytes_->resize(size);
        return true;
    }

  private:
    std::shared_ptr<std::vector<std::uint8_t>> bytes_;
    int writes_ = 0;
};

// A RIFF chunk found by walking a file's bytes: id, list type (LIST and RIFF), where its data is.
struct FoundChunk {
    std::string id;
    std::string type;
    std::size_t dataAt = 0;
    std::uint32_t size = 0;
    int depth = 0;
};

inline std::string fourccText(const std::uint8_t* p) {
    return std::string(reinterpret_cast<const char*>(p), 4);
}

// Every chunk of the file in file order, descending into RIFF and LIST; stops at anything inconsistent.
inline void walkRiff(const std::vector<std::uint8_t>& b, std::size_t begin, std::size_t end, int depth,
                     std::vector<FoundChunk>& out) {
    std::size_t at = begin;
    while (at + 8 <= end) {
        FoundChunk c{fourccText(&b[at]), "", at + 8, readLe32(&b[at + 4]), depth};
        if (c.dataAt + c.size > end) {
            out.push_back({"<overrun>", "", at, 0, depth});
            return;
        }
        const bool container = c.id == "RIFF" || c.id == "LIST";
        if (container) {
            c.type = fourccText(&b[c.dataAt]);
        }
        out.push_back(c);
        if (container) {
            walkRiff(b, c.dataAt + 4, c.dataAt + c.size, depth + 1, out);
        }
        at = c.dataAt + c.size + (c.size & 1);
    }
}

inline std::vector<FoundChunk> riffLayout(const std::vector<std::uint8_t>& bytes) {
    std::vector<FoundChunk> out;
    walkRiff(bytes, 0, bytes.size(), 0, out);
    return out;
}

// The offset of the data of the first chunk with this id.
inline std::size_t dataOf(const std::vector<std::uint8_t>& bytes, const std::string& id) {
    for (const FoundChunk& k : riffLayout(bytes)) {
        if (k.id == id) {
            return k.dataAt;
        }
    }
    throw std::runtime_error("no " + id + " chunk");
}

} // namespace avitest
