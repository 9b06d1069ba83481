// Writes the seed corpus of the AVI reader's fuzz target: small files of every kind the writer makes.
#include "recording/AviFile.h"

#include "imaging/Bmp.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace kestrane;

namespace {

class VectorSink : public AviByteSink {
  public:
    explicit VectorSink(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    bool writeAt(std::uint64_t offset, const void* data, std::size_t count) override {
        if (bytes_.size() < offset + count) {
            bytes_.resize(offset + count);
        }
        const auto* p = static_cast<const std::uint8_t*>(data);
        std::copy(p, p + count, bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
        return true;
    }
    bool reserve(std::uint64_t) override { return true; }
    bool truncate(std::uint64_t size) override {
        bytes_.resize(size);
        return true;
    }

  private:
    std::vector<std::uint8_t>& bytes_;
};

struct Seed {
    const char* name;
    int width, height, bits, frames;
    bool topDown, bitfields;
    std::uint64_t riffLimit;
};

void saveSeed(const std::string& folder, const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(folder + "/" + name + ".avi", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> seedBytes(const Seed& s) {
    std::vector<std::uint8_t> bytes;
    AviWriterOptions options;
    options.riffLimit = s.riffLimit;
    options.superIndexEntries = 64;
    AviFile* file = nullptr;
    AVIFileOpenWriter(&file, std::make_unique<VectorSink>(bytes), options);
    const std::uint32_t stride = static_cast<std::uint32_t>((s.width * s.bits + 31) / 32 * 4);
    AviStreamInfo info;
    info.fccType = kStreamTypeVideo;
    info.dwScale = 1;
    info.dwRate = 10;
    info.dwSuggestedBufferSize = stride * static_cast<std::uint32_t>(s.height);
    info.rcFrame = {0, 0, s.width, s.height};
    AviStream* stream = nullptr;
    AVIFileCreateStream(file, &stream, info);
    std::vector<std::uint8_t> format(40 + (s.bits == 8 ? 16 * 4 : 0) + (s.bitfields ? 12 : 0), 0);
    writeLe32(format.data(), 40);
    writeLe32(format.data() + 4, static_cast<std::uint32_t>(s.width));
    writeLe32(format.data() + 8, static_cast<std::uint32_t>(s.topDown ? -s.height : s.height));
    writeLe16(format.data() + 12, 1);
    writeLe16(format.data() + 14, static_cast<std::uint16_t>(s.bits));
    writeLe32(format.data() + 16, s.bitfields ? kBiBitfieldsCompression : kBiRgbCompression);
    writeLe32(format.data() + 32, s.bits == 8 ? 16 : 0);
    for (std::size_t i = 40; i < format.size(); ++i) {
        format[i] = static_cast<std::uint8_t>(i * 11);
    }
    if (s.bitfields) {
        writeLe32(format.data() + 40, 0xF800);
        writeLe32(format.data() + 44, 0x07E0);
        writeLe32(format.data() + 48, 0x001F);
    }
    AVIStreamSetFormat(stream, 0, format.data(), static_cast<std::int32_t>(format.size()));
    std::vector<std::uint8_t> pixels(info.dwSuggestedBufferSize);
    for (int n = 0; n < s.frames; ++n) {
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            pixels[i] = static_cast<std::uint8_t>(i * 3 + n);
        }
        AVIStreamWrite(stream, n, 1, pixels.data(), static_cast<std::int32_t>(pixels.size()), kAviIfKeyframe);
    }
    AVIStreamRelease(stream);
    AVIFileRelease(file);
    return bytes;
}

// Where the first chunk (or list) with this id starts; the seeds are small enough to search.
std::size_t findChunk(const std::vector<std::uint8_t>& bytes, std::uint32_t id, std::size_t from = 0) {
    for (std::size_t at = from; at + 8 <= bytes.size(); at += 2) {
        if (readLe32(bytes.data() + at) == id) {
            return at;
        }
    }
    return bytes.size();
}

// A recording killed before it was finished: the sizes in its headers cover only its first frame, its
// index was never written.
std::vector<std::uint8_t> unfinishedSeed() {
    std::vector<std::uint8_t> bytes = seedBytes({"", 7, 5, 24, 4, false, false, kAviRiffLimit});
    const std::size_t movi = findChunk(bytes, makeFourcc('L', 'I', 'S', 'T'),
                                       findChunk(bytes, makeFourcc('J', 'U', 'N', 'K')) + 8);
    const std::size_t frame = movi + 12;
    const std::size_t firstEnd = frame + 8 + readLe32(bytes.data() + frame + 4);
    bytes.resize(findChunk(bytes, makeFourcc('i', 'd', 'x', '1'), frame));
    writeLe32(bytes.data() + movi + 4, static_cast<std::uint32_t>(firstEnd - movi - 8));
    writeLe32(bytes.data() + 4, static_cast<std::uint32_t>(firstEnd - 8));
    return bytes;
}

// An OpenDML file whose super index names one standard index of `entries` entries `times` times: reading
// each naming anew costs times × entries.
std::vector<std::uint8_t> repeatedIndexSeed(std::uint32_t times, std::uint32_t entries) {
    std::vector<std::uint8_t> bytes = seedBytes({"", 8, 8, 24, 14, false, false, 1500});
    const std::size_t indx = findChunk(bytes, makeFourcc('i', 'n', 'd', 'x'));
    const std::size_t capacity = readLe32(bytes.data() + indx + 4) / 16 - 1;
    const std::size_t ix = bytes.size();
    bytes.resize(ix + 32 + 8 * std::size_t{entries});
    writeLe32(bytes.data() + ix, makeFourcc('i', 'x', '0', '0'));
    writeLe32(bytes.data() + ix + 4, 24 + 8 * entries);
    writeLe16(bytes.data() + ix + 8, 2);
    bytes[ix + 11] = 1;
    writeLe32(bytes.data() + ix + 12, entries);
    writeLe32(bytes.data() + ix + 16, makeFourcc('0', '0', 'd', 'b'));
    for (std::uint32_t i = 0; i < entries; ++i) {
        writeLe32(bytes.data() + ix + 32 + 8 * i, 0x7FFFFFF0u - i); // entries that lead to no frame
        writeLe32(bytes.data() + ix + 36 + 8 * i, 192);
    }
    times = static_cast<std::uint32_t>(std::min<std::size_t>(times, capacity));
    writeLe32(bytes.data() + indx + 12, times);
    for (std::uint32_t i = 0; i < times; ++i) {
        std::uint8_t* e = bytes.data() + indx + 32 + 16 * i;
        writeLe32(e, static_cast<std::uint32_t>(ix));
        writeLe32(e + 4, 0);
        writeLe32(e + 8, 32 + 8 * entries);
        writeLe32(e + 12, entries);
    }
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-seeds FOLDER\n");
        return 2;
    }
    const Seed seeds[] = {
        {"rgb24", 7, 5, 24, 3, false, false, kAviRiffLimit},
        {"rgb32", 6, 4, 32, 2, false, false, kAviRiffLimit},
        {"pal8", 9, 3, 8, 2, false, false, kAviRiffLimit},
        {"rgb555", 5, 4, 16, 2, false, false, kAviRiffLimit},
        {"rgb565", 5, 4, 16, 2, false, true, kAviRiffLimit},
        {"topdown", 7, 5, 24, 2, true, false, kAviRiffLimit},
        {"empty", 4, 4, 24, 0, false, false, kAviRiffLimit},
        {"opendml", 8, 8, 24, 14, false, false, 1500},
    };
    for (const Seed& s : seeds) {
        saveSeed(argv[1], s.name, seedBytes(s));
    }
    saveSeed(argv[1], "unfinished", unfinishedSeed());
    saveSeed(argv[1], "index-repeats", repeatedIndexSeed(64, 64));
    return 0;
}
