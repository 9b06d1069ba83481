// The AVI file library: a RIFF AVI writer and reader for one uncompressed video stream, with OpenDML past 1
// GiB.
#include "recording/AviFile.h"

#include "imaging/Bmp.h"
#include "recording/AviFileIo.h"
#include "recording/FrameDecoder.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <unordered_set>

namespace kestrane {

namespace {

constexpr std::uint32_t kRiff = makeFourcc('R', 'I', 'F', 'F');
constexpr std::uint32_t kList = makeFourcc('L', 'I', 'S', 'T');
constexpr std::uint32_t kAviType = makeFourcc('A', 'V', 'I', ' ');
constexpr std::uint32_t kAvixType = makeFourcc('A', 'V', 'I', 'X');
constexpr std::uint32_t kHdrl = makeFourcc('h', 'd', 'r', 'l');
constexpr std::uint32_t kAvih = makeFourcc('a', 'v', 'i', 'h');
constexpr std::uint32_t kStrl = makeFourcc('s', 't', 'r', 'l');
constexpr std::uint32_t kStrh = makeFourcc('s', 't', 'r', 'h');
constexpr std::uint32_t kStrf = makeFourcc('s', 't', 'r', 'f');
constexpr std::uint32_t kStrn = makeFourcc('s', 't', 'r', 'n');
constexpr std::uint32_t kIndx = makeFourcc('i', 'n', 'd', 'x');
constexpr std::uint32_t kOdml = makeFourcc('o', 'd', 'm', 'l');
constexpr std::uint32_t kDmlh = makeFourcc('d', 'm', 'l', 'h');
constexpr std::uint32_t kMovi = makeFourcc('m', 'o', 'v', 'i');
constexpr std::uint32_t kRec = makeFourcc('r', 'e', 'c', ' ');
constexpr std::uint32_t kIdx1 = makeFourcc('i', 'd', 'x', '1');
constexpr std::uint32_t kJunk = makeFourcc('J', 'U', 'N', 'K');
constexpr std::uint32_t kIx00 = makeFourcc('i', 'x', '0', '0');
constexpr std::uint32_t kFrameChunk = makeFourcc('0', '0', 'd', 'b');

constexpr std::uint32_t kAvifHasIndex = 0x10;
constexpr std::uint8_t kIndexOfIndexes = 0;
constexpr std::uint8_t kIndexOfChunks = 1;
constexpr std::uint32_t kNotKeyframeBit = 0x80000000u;

constexpr std::size_t kMainHeaderBytes = 56;
constexpr std::size_t kStreamHeaderBytes = 56;
constexpr std::size_t kOldStreamHeaderBytes = 48; // without rcFrame
constexpr std::size_t kIndexHeaderBytes = 24;     // of a super index and of a standard index
constexpr std::size_t kSuperEntryBytes = 16;
constexpr std::size_t kStdEntryBytes = 8;
constexpr std::size_t kIdx1EntryBytes = 16;
constexpr std::size_t kDmlhBytes = 248;
// Header lists are a few kilobytes; anything much larger is a damaged file, not a reason to allocate.
constexpr std::uint64_t kMaxHeaderListBytes = 16ULL << 20;
constexpr std::uint64_t kMaxIndexChunkBytes = 512ULL << 20;

std::uint64_t readLe64(const std::uint8_t* p) {
    return std::uint64_t{readLe32(p)} | (std::uint64_t{readLe32(p + 4)} << 32);
}

std::uint32_t clampToU32(std::uint64_t v) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, std::numeric_limits<std::uint32_t>::max()));
}

std::int16_t clampToI16(std::int32_t v) {
    return static_cast<std::int16_t>(std::clamp<std::int32_t>(v, INT16_MIN, INT16_MAX));
}

// Appends little-endian fields and RIFF chunks to a byte vector.
class ChunkBuilder {
  public:
    void u8(std::uint8_t v) { bytes_.push_back(v); }
    void u16(std::uint16_t v) {
        u8(static_cast<std::uint8_t>(v));
        u8(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v) {
        u16(static_cast<std::uint16_t>(v));
        u16(static_cast<std::uint16_t>(v >> 16));
    }
    void u64(std::uint64_t v) {
        u32(static_cast<std::uint32_t>(v));
        u32(static_cast<std::uint32_t>(v >> 32));
    }
    void raw(const void* data, std::size_t count) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes_.insert(bytes_.end(), p, p + count);
    }
    void zeros(std::size_t count) { bytes_.insert(bytes_.end(), count, 0); }

    // Starts a chunk and returns where its size goes, for closeChunk.
    std::size_t openChunk(std::uint32_t id) {
        u32(id);
        const std::size_t sizeAt = bytes_.size();
        u32(0);
        return sizeAt;
    }
    std::size_t openList(std::uint32_t id, std::uint32_t type) {
        const std::size_t sizeAt = openChunk(id);
        u32(type);
        return sizeAt;
    }
    // Writes the chunk's size and pads it to an even length, as RIFF requires.
    void closeChunk(std::size_t sizeAt) {
        const std::size_t size = bytes_.size() - sizeAt - 4;
        writeLe32(bytes_.data() + sizeAt, static_cast<std::uint32_t>(size));
        if ((size & 1) != 0) {
            u8(0);
        }
    }

    std::vector<std::uint8_t>& bytes() { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
};

// ---------------------------------------------------------------------------------------------------------
// Byte sources and sinks

class MemorySource final : public AviByteSource {
  public:
    explicit MemorySource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    std::uint64_t size() const override { return bytes_.size(); }
    bool read(std::uint64_t offset, void* into, std::size_t count) override {
        if (offset > bytes_.size() || count > bytes_.size() - offset) {
            return false;
        }
        std::memcpy(into, bytes_.data() + offset, count);
        return true;
    }

  private:
    std::vector<std::uint8_t> bytes_;
};

// ---------------------------------------------------------------------------------------------------------
// Chunk walking

struct Chunk {
    std::uint32_t id = 0;
    std::uint32_t size = 0;      // as declared
    std::uint64_t dataBegin = 0; // first data byte
    std::uint64_t dataEnd = 0;   // end of the data, cut at the end of the enclosing range
};

// Visits the chunks in [begin, end); a chunk that reaches past the end is cut there. `visit` returns false to
// stop. Every step advances by at least 8 bytes, so damaged sizes cannot make it loop.
template <typename Visit>
void walkChunks(AviByteSource& source, std::uint64_t begin, std::uint64_t end, Visit&& visit) {
    std::uint64_t at = begin;
    while (at + 8 <= end) {
        std::uint8_t header[8];
        if (!source.read(at, header, sizeof header)) {
            return;
        }
        Chunk chunk;
        chunk.id = readLe32(header);
        chunk.size = readLe32(header + 4);
        chunk.dataBegin = at + 8;
        const std::uint64_t declaredEnd = chunk.dataBegin + chunk.size;
        chunk.dataEnd = std::min(declaredEnd, end);
        if (!visit(chunk)) {
            return;
        }
        at = declaredEnd + (chunk.size & 1);
    }
}

// The list type of a LIST chunk, or 0.
std::uint32_t listType(AviByteSource& source, const Chunk& chunk) {
    std::uint8_t type[4];
    if (chunk.id != kList || chunk.dataEnd < chunk.dataBegin + 4 || !source.read(chunk.dataBegin, type, 4)) {
        return 0;
    }
    return readLe32(type);
}

bool readRange(AviByteSource& source, std::uint64_t begin, std::uint64_t end,
               std::vector<std::uint8_t>& out) {
    out.resize(static_cast<std::size_t>(end - begin));
    return out.empty() || source.read(begin, out.data(), out.size());
}

// True when a chunk id names video data of stream `number`: two decimal digits, then "db" or "dc".
bool isFrameChunkOf(std::uint32_t id, std::uint32_t number) {
    const auto c0 = static_cast<char>(id & 0xFF);
    const auto c1 = static_cast<char>((id >> 8) & 0xFF);
    const auto c2 = static_cast<char>((id >> 16) & 0xFF);
    const auto c3 = static_cast<char>((id >> 24) & 0xFF);
    if (c0 < '0' || c0 > '9' || c1 < '0' || c1 > '9') {
        return false;
    }
    const auto n = static_cast<std::uint32_t>((c0 - '0') * 10 + (c1 - '0'));
    return n == number && c2 == 'd' && (c3 == 'b' || c3 == 'c');
}

// True when all four characters of a chunk id are printable, as in every chunk id a writer makes.
bool isFourcc(std::uint32_t id) {
    for (int shift = 0; shift < 32; shift += 8) {
        const auto c = static_cast<std::uint8_t>(id >> shift);
        if (c < 0x20 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------------------
// Reading

struct FrameEntry {
    std::uint64_t offset = 0; // of the frame's first data byte
    std::uint32_t size = 0;
    bool key = true; // needs no earlier frame; a walk without an index cannot tell and says no
};

struct SuperIndexEntry {
    std::uint64_t offset = 0; // of the standard index chunk
    std::uint32_t size = 0;
    std::uint32_t duration = 0;
};

struct StreamRecord {
    AviStreamInfo info;
    std::vector<std::uint8_t> format;
    std::vector<SuperIndexEntry> superIndex;
    std::uint32_t number = 0; // the '##' of the stream's chunk ids
    bool indexed = false;
    std::vector<FrameEntry> frames;
    std::uint32_t skippedChunks = 0; // chunks passed over because they hold no whole frame
    std::uint32_t framesPastEnd = 0; // frames found after the end the headers declare
    std::string refusal;             // why the stream's frames cannot be trusted; empty when they can
};

// The bytes of a frame chunk of `size` that hold the picture: the padded rows when the chunk has them, else
// the rows without their padding (as some writers store them); 0 when it is too short for either.
std::uint64_t pictureBytes(const DibLayout& l, std::uint64_t size) {
    if (size >= l.imageBytes) {
        return l.imageBytes;
    }
    const std::uint64_t unpadded = (std::uint64_t(l.width) * l.bitCount + 7) / 8 * std::uint64_t(l.height);
    return size >= unpadded ? unpadded : 0;
}

// Decides, chunk by chunk, whether a frame chunk holds a whole picture of its stream, and counts those that
// do not: chunks too short for one (which would otherwise each become a black frame) and chunks cut off by
// the end of the file. Every way of finding the frames (indexes or a walk through 'movi') passes its chunks
// through one filter. A compressed frame has no size to check, only that it is there, whole and not empty
// (an empty chunk repeats the frame before it, which a frame-by-frame analysis does not want twice).
// Streams whose frames are no pictures this reader knows keep every chunk.
class WholeFrames {
  public:
    WholeFrames(const StreamRecord& stream, std::uint64_t fileSize)
        : known_(readDibLayout(stream.format.data(), stream.format.size(), layout_)),
          coded_(codedFormatOf(stream.format.data(), stream.format.size())), fileSize_(fileSize) {}

    // `offset` is the chunk's first data byte, `size` its declared size.
    bool keep(std::uint64_t offset, std::uint32_t size) {
        std::uint64_t bytes = 0;
        if (known_) {
            bytes = pictureBytes(layout_, size);
        } else if (coded_.kind == CodedFormat::kRaw) {
            bytes = coded_.frameBytes > 0 && size >= coded_.frameBytes ? coded_.frameBytes : 0;
        } else if (coded_.kind == CodedFormat::kCodec) {
            bytes = size <= kAviMaxFrameBytes ? size : 0;
        } else {
            return true;
        }
        if (bytes == 0 || offset > fileSize_ || bytes > fileSize_ - offset) {
            ++skipped_;
            return false;
        }
        return true;
    }
    std::uint32_t skipped() const { return skipped_; }

  private:
    DibLayout layout_;
    bool known_;
    CodedFormat coded_;
    std::uint64_t fileSize_;
    std::uint32_t skipped_ = 0;
};

struct MoviList {
    std::uint64_t fourccAt = 0; // idx1 offsets count from here
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
};

void parseStreamHeader(const std::vector<std::uint8_t>& d, AviStreamInfo& info) {
    const std::uint8_t* p = d.data();
    info.fccType = readLe32(p);
    info.fccHandler = readLe32(p + 4);
    info.dwFlags = readLe32(p + 8);
    info.wPriority = readLe16(p + 12);
    info.wLanguage = readLe16(p + 14);
    info.dwInitialFrames = readLe32(p + 16);
    info.dwScale = readLe32(p + 20);
    info.dwRate = readLe32(p + 24);
    info.dwStart = readLe32(p + 28);
    info.dwLength = readLe32(p + 32);
    info.dwSuggestedBufferSize = readLe32(p + 36);
    info.dwQuality = readLe32(p + 40);
    info.dwSampleSize = readLe32(p + 44);
    if (d.size() >= kStreamHeaderBytes) {
        info.rcFrame.left = static_cast<std::int16_t>(readLe16(p + 48));
        info.rcFrame.top = static_cast<std::int16_t>(readLe16(p + 50));
        info.rcFrame.right = static_cast<std::int16_t>(readLe16(p + 52));
        info.rcFrame.bottom = static_cast<std::int16_t>(readLe16(p + 54));
    }
}

void parseSuperIndex(const std::vector<std::uint8_t>& d, std::vector<SuperIndexEntry>& out) {
    if (d.size() < kIndexHeaderBytes || readLe16(d.data()) != 4 || d[3] != kIndexOfIndexes) {
        return;
    }
    const std::size_t count =
        std::min<std::size_t>(readLe32(d.data() + 4), (d.size() - kIndexHeaderBytes) / kSuperEntryBytes);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* e = d.data() + kIndexHeaderBytes + i * kSuperEntryBytes;
        out.push_back({readLe64(e), readLe32(e + 8), readLe32(e + 12)});
    }
}

class Movie {
  public:
    explicit Movie(std::unique_ptr<AviByteSource> source) : source_(std::move(source)) {}

    AviResult parse() {
        const std::uint64_t size = source_->size();
        std::uint8_t head[12];
        if (size < 12 || !source_->read(0, head, 12) || readLe32(head) != kRiff ||
            readLe32(head + 8) != kAviType) {
            return kAviErrBadFormat;
        }
        indexEntriesLeft_ = size / kStdEntryBytes;
        bool sawHeader = false;
        bool first = true;
        std::uint64_t at = 0;
        while (at + 12 <= size) {
            if (!source_->read(at, head, 12)) {
                return kAviErrFileRead;
            }
            const std::uint32_t riffSize = readLe32(head + 4);
            if (readLe32(head) != kRiff || readLe32(head + 8) != (first ? kAviType : kAvixType)) {
                break; // trailing bytes that are no further RIFF are not ours to read
            }
            const std::uint64_t riffEnd = std::min<std::uint64_t>(at + 8 + riffSize, size);
            walkChunks(*source_, at + 12, riffEnd, [&](const Chunk& chunk) {
                const std::uint32_t type = listType(*source_, chunk);
                if (type == kHdrl && first && !sawHeader) {
                    sawHeader = parseHeaderList(chunk.dataBegin + 4, chunk.dataEnd);
                } else if (type == kMovi) {
                    movis_.push_back({chunk.dataBegin, chunk.dataBegin + 4, chunk.dataEnd});
                } else if (chunk.id == kIdx1 && first) {
                    idx1Begin_ = chunk.dataBegin;
                    idx1End_ = chunk.dataEnd;
                }
                return true;
            });
            first = false;
            at += 8 + std::uint64_t{riffSize} + (riffSize & 1);
        }
        return sawHeader ? kAviOk : kAviErrBadFormat;
    }

    std::vector<StreamRecord>& streams() { return streams_; }
    AviByteSource& source() { return *source_; }

    // Finds the whole frames of a stream once: from the OpenDML indexes, else idx1, else by walking 'movi';
    // then those that a recording which was not finished left after the end its headers declare. Leaves no
    // frames and the reason in `refusal` when the indexes cannot be trusted.
    void index(StreamRecord& stream) {
        if (stream.indexed) {
            return;
        }
        stream.indexed = true;
        // Every frame chunk takes at least 8 bytes of the file: more entries than that are repeats.
        const std::uint64_t maxEntries = source_->size() / 8 + 1;
        WholeFrames indexedFilter(stream, source_->size());
        if (!readStandardIndexes(stream, maxEntries, indexedFilter)) {
            stream.frames.clear();
            return;
        }
        if (stream.frames.empty()) {
            indexedFilter = WholeFrames(stream, source_->size());
            readIdx1(stream, maxEntries, indexedFilter);
        }
        stream.skippedChunks = indexedFilter.skipped();
        // A file cut short loses its index first; the frames themselves may still be there.
        if (stream.frames.empty() || stream.frames.size() < stream.info.dwLength) {
            std::vector<FrameEntry> indexed = std::move(stream.frames);
            stream.frames.clear();
            WholeFrames walkFilter(stream, source_->size());
            for (const MoviList& movi : movis_) {
                scanMovi(stream, movi.begin, movi.end, maxEntries, true, walkFilter);
            }
            // An index may list only some of the chunks; a walk that finds the same frames sees them all.
            if (stream.frames.size() > indexed.size() ||
                (stream.frames.size() == indexed.size() && walkFilter.skipped() > stream.skippedChunks)) {
                stream.skippedChunks = walkFilter.skipped();
            }
            if (stream.frames.size() <= indexed.size()) {
                stream.frames = std::move(indexed);
            }
        }
        WholeFrames tailFilter(stream, source_->size());
        walkPastDeclaredEnd(stream, maxEntries, tailFilter);
        stream.skippedChunks += tailFilter.skipped();
    }

  private:
    bool parseHeaderList(std::uint64_t begin, std::uint64_t end) {
        std::vector<std::uint8_t> bytes;
        if (end - begin > kMaxHeaderListBytes || !readRange(*source_, begin, end, bytes)) {
            return false;
        }
        MemorySource header(std::move(bytes));
        std::uint32_t number = 0;
        walkChunks(header, 0, header.size(), [&](const Chunk& chunk) {
            if (listType(header, chunk) == kStrl) {
                parseStreamList(header, chunk.dataBegin + 4, chunk.dataEnd, number++);
            }
            return true;
        });
        return true;
    }

    void parseStreamList(AviByteSource& header, std::uint64_t begin, std::uint64_t end,
                         std::uint32_t number) {
        StreamRecord stream;
        stream.number = number;
        bool haveHeader = false;
        walkChunks(header, begin, end, [&](const Chunk& chunk) {
            std::vector<std::uint8_t> data;
            if (!readRange(header, chunk.dataBegin, chunk.dataEnd, data)) {
                return false;
            }
            if (chunk.id == kStrh && data.size() >= kOldStreamHeaderBytes) {
                parseStreamHeader(data, stream.info);
                haveHeader = true;
            } else if (chunk.id == kStrf) {
                stream.format = std::move(data);
            } else if (chunk.id == kIndx) {
                parseSuperIndex(data, stream.superIndex);
            } else if (chunk.id == kStrn) {
                const std::size_t n = std::min(data.size(), stream.info.szName.size() - 1);
                std::copy_n(data.begin(), n, stream.info.szName.begin());
            }
            return true;
        });
        if (haveHeader) {
            streams_.push_back(std::move(stream));
        }
    }

    // Reads each standard index the super index names once, however often it is named. All of them
    // together cannot list more entries than the file has room for: indexes that do overlap one another, and
    // reading them would take time out of all proportion to the file. False then, with the reason.
    bool readStandardIndexes(StreamRecord& stream, std::uint64_t maxEntries, WholeFrames& filter) {
        const std::uint64_t fileSize = source_->size();
        std::unordered_set<std::uint64_t> read;
        for (const SuperIndexEntry& entry : stream.superIndex) {
            std::uint8_t head[8 + kIndexHeaderBytes];
            if (!read.insert(entry.offset).second || entry.offset > fileSize ||
                !source_->read(entry.offset, head, sizeof head)) {
                continue;
            }
            const std::uint8_t* h = head + 8;
            const std::uint64_t begin = entry.offset + sizeof head;
            const std::uint64_t end =
                std::min<std::uint64_t>(entry.offset + 8 + readLe32(head + 4), fileSize);
            if (end < begin || end - begin > kMaxIndexChunkBytes || readLe16(h) != 2 ||
                h[3] != kIndexOfChunks || !isFrameChunkOf(readLe32(h + 8), stream.number)) {
                continue;
            }
            const std::uint64_t count =
                std::min<std::uint64_t>(readLe32(h + 4), (end - begin) / kStdEntryBytes);
            if (count > indexEntriesLeft_) {
                stream.refusal = "its indexes list more frames than the file can hold";
                return false;
            }
            indexEntriesLeft_ -= count;
            std::vector<std::uint8_t> d;
            if (!readRange(*source_, begin, begin + count * kStdEntryBytes, d)) {
                continue;
            }
            const std::uint64_t base = readLe64(h + 12);
            for (std::size_t i = 0; i < count; ++i) {
                if (stream.frames.size() >= maxEntries) {
                    return true;
                }
                const std::uint8_t* e = d.data() + i * kStdEntryBytes;
                const std::uint32_t size = readLe32(e + 4);
                const FrameEntry frame{base + readLe32(e), size & ~kNotKeyframeBit,
                                       (size & kNotKeyframeBit) == 0};
                if (filter.keep(frame.offset, frame.size)) {
                    stream.frames.push_back(frame);
                }
            }
        }
        return true;
    }

    void readIdx1(StreamRecord& stream, std::uint64_t maxEntries, WholeFrames& filter) {
        std::vector<std::uint8_t> d;
        if (idx1End_ <= idx1Begin_ || idx1End_ - idx1Begin_ > kMaxIndexChunkBytes ||
            !readRange(*source_, idx1Begin_, idx1End_, d)) {
            return;
        }
        // Offsets count from the 'movi' fourcc by the book, but some writers store absolute positions: the
        // first entry tells which.
        const std::uint64_t moviAt = movis_.empty() ? 0 : movis_.front().fourccAt;
        stream.frames.clear();
        std::uint64_t base = moviAt;
        bool baseKnown = false;
        for (std::size_t i = 0; i + kIdx1EntryBytes <= d.size(); i += kIdx1EntryBytes) {
            const std::uint8_t* e = d.data() + i;
            const std::uint32_t id = readLe32(e);
            if (!isFrameChunkOf(id, stream.number)) {
                continue;
            }
            const std::uint32_t offset = readLe32(e + 8);
            if (!baseKnown) {
                baseKnown = true;
                if (!chunkIdAt(moviAt + offset, id)) {
                    if (!chunkIdAt(offset, id)) {
                        return; // an index that points at no frame is no index
                    }
                    base = 0;
                }
            }
            if (stream.frames.size() >= maxEntries) {
                return;
            }
            const FrameEntry frame{base + offset + 8, readLe32(e + 12),
                                   (readLe32(e + 4) & kAviIfKeyframe) != 0};
            if (filter.keep(frame.offset, frame.size)) {
                stream.frames.push_back(frame);
            }
        }
    }

    bool chunkIdAt(std::uint64_t at, std::uint32_t id) {
        std::uint8_t bytes[4];
        return source_->read(at, bytes, 4) && readLe32(bytes) == id;
    }

    void scanMovi(StreamRecord& stream, std::uint64_t begin, std::uint64_t end, std::uint64_t maxEntries,
                  bool descend, WholeFrames& filter) {
        walkChunks(*source_, begin, end, [&](const Chunk& chunk) {
            if (descend && listType(*source_, chunk) == kRec) {
                scanMovi(stream, chunk.dataBegin + 4, chunk.dataEnd, maxEntries, false, filter);
            } else if (isFrameChunkOf(chunk.id, stream.number) && filter.keep(chunk.dataBegin, chunk.size)) {
                stream.frames.push_back({chunk.dataBegin, chunk.size, false});
            }
            return stream.frames.size() < maxEntries;
        });
    }

    // A recording that was killed leaves headers whose sizes were last brought up to date some frames
    // earlier, so its last frames lie past the end of the last 'movi' list as declared. Walks on from there
    // and takes every whole frame chunk of the stream, stepping into the further RIFFs and 'movi' lists
    // whose headers were written but not their sizes; stops at the first bytes that are no chunk (the room
    // a writer keeps ahead of its frames is zeros).
    void walkPastDeclaredEnd(StreamRecord& stream, std::uint64_t maxEntries, WholeFrames& filter) {
        if (movis_.empty()) {
            return;
        }
        std::uint64_t known = 0; // frames an index may list out there are not taken twice
        for (const FrameEntry& frame : stream.frames) {
            known = std::max(known, frame.offset);
        }
        const std::uint64_t size = source_->size();
        std::uint64_t at = movis_.back().end + (movis_.back().end & 1);
        while (at + 8 <= size && stream.frames.size() < maxEntries) {
            std::uint8_t head[12];
            if (!source_->read(at, head, 8) || !isFourcc(readLe32(head))) {
                return;
            }
            const std::uint32_t id = readLe32(head);
            const std::uint32_t chunkSize = readLe32(head + 4);
            if (id == kRiff || id == kList) {
                if (!source_->read(at + 8, head + 8, 4)) {
                    return;
                }
                const std::uint32_t type = readLe32(head + 8);
                if (type == kAvixType || type == kMovi || type == kRec) {
                    at += 12;
                    continue;
                }
                if (id == kRiff) {
                    return; // another file appended to this one
                }
            }
            const std::uint64_t data = at + 8;
            if (isFrameChunkOf(id, stream.number) && data > known && filter.keep(data, chunkSize)) {
                stream.frames.push_back({data, chunkSize, false});
                ++stream.framesPastEnd;
            }
            at = data + chunkSize + (chunkSize & 1);
        }
    }

    std::unique_ptr<AviByteSource> source_;
    std::vector<StreamRecord> streams_;
    std::vector<MoviList> movis_;
    std::uint64_t idx1Begin_ = 0;
    std::uint64_t idx1End_ = 0;
    std::uint64_t indexEntriesLeft_ = 0; // standard index entries the file has room for
};

// ---------------------------------------------------------------------------------------------------------
// Writing

struct WrittenFrame {
    std::uint64_t offset = 0; // of the first data byte
    std::uint32_t size = 0;
    std::uint32_t flags = 0;
};

std::uint64_t standardIndexBytes(std::uint64_t frames) {
    return 8 + kIndexHeaderBytes + kStdEntryBytes * frames;
}
std::uint64_t idx1Bytes(std::uint64_t frames) {
    return 8 + kIdx1EntryBytes * frames;
}

class Writer {
  public:
    Writer(std::unique_ptr<AviByteSink> sink, const AviWriterOptions& options)
        : sink_(std::move(sink)), options_(options) {}

    bool hasStream() const { return hasStream_; }
    std::uint32_t frameCount() const { return totalFrames_; }
    const AviStreamInfo& info() const { return info_; }
    const std::vector<std::uint8_t>& format() const { return format_; }

    AviResult createStream(const AviStreamInfo& info) {
        if (hasStream_) {
            return kAviErrUnsupported; // one video stream per file
        }
        if (info.fccType != kStreamTypeVideo) {
            return kAviErrUnsupported;
        }
        info_ = info;
        hasStream_ = true;
        return kAviOk;
    }

    AviResult setFormat(const std::uint8_t* format, std::size_t size) {
        DibLayout layout;
        if (!readDibLayout(format, size, layout)) {
            return kAviErrBadFormat;
        }
        if (totalFrames_ > 0) {
            // The frames already written are described by the format in place.
            return std::equal(format, format + size, format_.begin(), format_.end()) ? kAviOk
                                                                                     : kAviErrUnsupported;
        }
        format_.assign(format, format + size);
        complete_ = false;
        layout_ = layout;
        headerBytes_ = buildHeader({}).size();
        riffStart_ = 0;
        moviAt_ = headerBytes_;
        dataEnd_ = moviAt_ + 12;
        if (!ensureReserved(dataEnd_ + closingBytes(0)) || !writeHeaderAndMovi()) {
            return kAviErrFileWrite;
        }
        return kAviOk;
    }

    AviResult write(const std::uint8_t* data, std::uint32_t size, std::uint32_t flags) {
        if (format_.empty()) {
            return kAviErrBadFormat;
        }
        if (broken_ || totalFrames_ == std::numeric_limits<std::int32_t>::max()) {
            return kAviErrFileWrite;
        }
        const std::uint64_t chunkBytes = 8 + std::uint64_t{size} + (size & 1);
        const auto n = riffFrames_.size();
        const bool newRiff =
            n > 0 && dataEnd_ + chunkBytes + closingBytes(n + 1) - riffStart_ > options_.riffLimit;
        std::uint64_t required = dataEnd_ + chunkBytes + closingBytes(n + 1);
        if (newRiff) {
            if (superIndex_.size() + 2 > options_.superIndexEntries) {
                return failWrite(); // the super index reserved in the header is full
            }
            required = dataEnd_ + closingBytes(n) + 24 + chunkBytes + standardIndexBytes(1);
        }
        if (!ensureReserved(required)) {
            return failWrite();
        }
        if (newRiff && !startNextRiff()) {
            broken_ = true;
            return failWrite();
        }
        std::uint8_t head[8];
        writeLe32(head, kFrameChunk);
        writeLe32(head + 4, size);
        const std::uint8_t pad = 0;
        if (!sink_->writeAt(dataEnd_, head, 8) || (size > 0 && !sink_->writeAt(dataEnd_ + 8, data, size)) ||
            ((size & 1) != 0 && !sink_->writeAt(dataEnd_ + 8 + size, &pad, 1))) {
            return failWrite();
        }
        riffFrames_.push_back({dataEnd_ + 8, size, flags});
        complete_ = false;
        dataEnd_ += chunkBytes;
        ++totalFrames_;
        maxChunk_ = std::max(maxChunk_, size);
        if (!refreshIfDue()) {
            // The frame is not counted as written: the file is completed without it.
            riffFrames_.pop_back();
            dataEnd_ -= chunkBytes;
            --totalFrames_;
            return failWrite();
        }
        return kAviOk;
    }

    // Writes the indexes and the final header and cuts the file to its length. May be called again: a later
    // frame overwrites the index, and the next finish writes it anew.
    bool finish() {
        if (format_.empty() || complete_) {
            return true;
        }
        std::optional<SuperIndexEntry> last;
        std::uint64_t end = 0;
        if (!writeRiffClosing(false, end, last)) {
            return false;
        }
        std::vector<SuperIndexEntry> entries = superIndex_;
        if (last) {
            entries.push_back(*last);
        }
        const std::uint64_t firstRiffEnd = superIndex_.empty() ? end : firstRiffEnd_;
        std::vector<std::uint8_t> header = buildHeader(entries);
        writeLe32(header.data() + 4, static_cast<std::uint32_t>(firstRiffEnd - 8));
        if (!sink_->writeAt(0, header.data(), header.size()) || !sink_->truncate(end)) {
            return false;
        }
        reservedEnd_ = end;
        complete_ = true;
        return true;
    }

  private:
    // Frames written in quick succession refresh the headers every headerRefreshMs; a frame after a longer
    // pause refreshes them at once, so no frame waits for a later one to become readable.
    bool refreshIfDue() {
        const auto now = std::chrono::steady_clock::now();
        const auto interval = std::chrono::milliseconds(options_.headerRefreshMs);
        const bool due = now - lastRefresh_ >= interval || now - lastWrite_ >= interval;
        lastWrite_ = now;
        if (!due) {
            return true;
        }
        lastRefresh_ = now;
        return refreshHeaders();
    }

    // Brings the RIFF and 'movi' sizes and the frame counts up to date without writing an index: a reader
    // then finds the frames by walking 'movi', which a file cut off by a crash needs.
    bool refreshHeaders() {
        std::vector<std::uint8_t> header = buildHeader(superIndex_);
        const std::uint64_t firstRiffEnd = superIndex_.empty() ? dataEnd_ : firstRiffEnd_;
        writeLe32(header.data() + 4, static_cast<std::uint32_t>(firstRiffEnd - 8));
        return sink_->writeAt(0, header.data(), header.size()) &&
               writeListHeader(moviAt_, kList, dataEnd_ - (moviAt_ + 8), kMovi) &&
               (riffStart_ == 0 || writeListHeader(riffStart_, kRiff, dataEnd_ - riffStart_ - 8, kAvixType));
    }

    // Bytes that completing the current RIFF with n frames adds: its standard index, and idx1 in the first.
    std::uint64_t closingBytes(std::uint64_t n) const {
        return standardIndexBytes(n) + (riffStart_ == 0 ? idx1Bytes(n) : 0);
    }

    bool ensureReserved(std::uint64_t end) {
        if (end <= reservedEnd_) {
            return true;
        }
        if (!sink_->reserve(end)) {
            return false;
        }
        reservedEnd_ = end;
        return true;
    }

    // A failed frame leaves the file complete at once, so that nothing depends on the caller releasing it.
    AviResult failWrite() {
        finish();
        return kAviErrFileWrite;
    }

    bool writeHeaderAndMovi() {
        std::vector<std::uint8_t> header = buildHeader({});
        writeLe32(header.data() + 4, static_cast<std::uint32_t>(dataEnd_ - 8));
        return sink_->writeAt(0, header.data(), header.size()) && writeListHeader(moviAt_, kList, 4, kMovi);
    }

    // Writes what closes the current RIFF after its last frame: the standard index when the file is OpenDML
    // (it already has, or is about to get, a further RIFF), idx1 in the first RIFF, and the list headers.
    // Changes no state, so that a failure half-way leaves the RIFF open to be closed again.
    bool writeRiffClosing(bool nextRiffFollows, std::uint64_t& end, std::optional<SuperIndexEntry>& entry) {
        std::uint64_t at = dataEnd_;
        if (!superIndex_.empty() || nextRiffFollows) {
            const std::vector<std::uint8_t> ix = buildStandardIndex();
            if (!sink_->writeAt(at, ix.data(), ix.size())) {
                return false;
            }
            entry = SuperIndexEntry{at, static_cast<std::uint32_t>(ix.size()),
                                    static_cast<std::uint32_t>(riffFrames_.size())};
            at += ix.size();
        }
        if (!writeListHeader(moviAt_, kList, at - (moviAt_ + 8), kMovi)) {
            return false;
        }
        if (riffStart_ == 0) {
            const std::vector<std::uint8_t> idx1 = buildIdx1();
            if (!sink_->writeAt(at, idx1.data(), idx1.size())) {
                return false;
            }
            at += idx1.size();
        }
        if (riffStart_ != 0 && !writeListHeader(riffStart_, kRiff, at - riffStart_ - 8, kAvixType)) {
            return false;
        }
        end = at;
        return true;
    }

    bool writeListHeader(std::uint64_t at, std::uint32_t id, std::uint64_t size, std::uint32_t type) {
        std::uint8_t head[12];
        writeLe32(head, id);
        writeLe32(head + 4, static_cast<std::uint32_t>(size));
        writeLe32(head + 8, type);
        return sink_->writeAt(at, head, sizeof head);
    }

    bool startNextRiff() {
        std::optional<SuperIndexEntry> entry;
        std::uint64_t end = 0;
        if (!writeRiffClosing(true, end, entry) || !writeListHeader(end, kRiff, 16, kAvixType) ||
            !writeListHeader(end + 12, kList, 4, kMovi)) {
            return false;
        }
        superIndex_.push_back(*entry);
        if (riffStart_ == 0) {
            firstRiffEnd_ = end;
            firstRiffFrames_ = static_cast<std::uint32_t>(riffFrames_.size());
        }
        riffStart_ = end;
        moviAt_ = end + 12;
        dataEnd_ = end + 24;
        riffFrames_.clear();
        return true;
    }

    std::vector<std::uint8_t> buildStandardIndex() const {
        ChunkBuilder b;
        const std::size_t at = b.openChunk(kIx00);
        b.u16(2);
        b.u8(0);
        b.u8(kIndexOfChunks);
        b.u32(static_cast<std::uint32_t>(riffFrames_.size()));
        b.u32(kFrameChunk);
        b.u64(riffStart_);
        b.u32(0);
        for (const WrittenFrame& f : riffFrames_) {
            b.u32(static_cast<std::uint32_t>(f.offset - riffStart_));
            b.u32(f.size | ((f.flags & kAviIfKeyframe) != 0 ? 0 : kNotKeyframeBit));
        }
        b.closeChunk(at);
        return std::move(b.bytes());
    }

    std::vector<std::uint8_t> buildIdx1() const {
        ChunkBuilder b;
        const std::size_t at = b.openChunk(kIdx1);
        for (const WrittenFrame& f : riffFrames_) {
            b.u32(kFrameChunk);
            b.u32(f.flags & kAviIfKeyframe);
            b.u32(static_cast<std::uint32_t>(f.offset - 8 - (moviAt_ + 8)));
            b.u32(f.size);
        }
        b.closeChunk(at);
        return std::move(b.bytes());
    }

    // The header up to the first 'movi' list; its size depends only on the format, so it is rewritten in
    // place.
    std::vector<std::uint8_t> buildHeader(const std::vector<SuperIndexEntry>& superIndex) const {
        const bool odml = !superIndex.empty();
        const std::uint32_t firstRiffFrames = odml ? firstRiffFrames_ : totalFrames_;
        ChunkBuilder b;
        b.u32(kRiff);
        b.u32(0); // set by the caller
        b.u32(kAviType);
        const std::size_t hdrl = b.openList(kList, kHdrl);

        const std::size_t avih = b.openChunk(kAvih);
        const double framesPerSecond = info_.dwScale != 0 ? double(info_.dwRate) / info_.dwScale : 0.0;
        b.u32(framesPerSecond > 0 ? clampToU32(std::llround(1e6 / framesPerSecond)) : 0);
        b.u32(clampToU32(static_cast<std::uint64_t>(std::ceil(maxChunk_ * framesPerSecond))));
        b.u32(0);
        b.u32(kAvifHasIndex);
        b.u32(firstRiffFrames);
        b.u32(0);
        b.u32(1);
        b.u32(std::max(info_.dwSuggestedBufferSize, maxChunk_));
        b.u32(static_cast<std::uint32_t>(layout_.width));
        b.u32(static_cast<std::uint32_t>(layout_.height));
        b.zeros(16);
        b.closeChunk(avih);

        const std::size_t strl = b.openList(kList, kStrl);
        const std::size_t strh = b.openChunk(kStrh);
        b.u32(info_.fccType);
        b.u32(info_.fccHandler);
        b.u32(info_.dwFlags);
        b.u16(info_.wPriority);
        b.u16(info_.wLanguage);
        b.u32(info_.dwInitialFrames);
        b.u32(info_.dwScale);
        b.u32(info_.dwRate);
        b.u32(info_.dwStart);
        b.u32(totalFrames_);
        b.u32(info_.dwSuggestedBufferSize);
        b.u32(info_.dwQuality);
        b.u32(info_.dwSampleSize);
        b.u16(static_cast<std::uint16_t>(clampToI16(info_.rcFrame.left)));
        b.u16(static_cast<std::uint16_t>(clampToI16(info_.rcFrame.top)));
        b.u16(static_cast<std::uint16_t>(clampToI16(info_.rcFrame.right)));
        b.u16(static_cast<std::uint16_t>(clampToI16(info_.rcFrame.bottom)));
        b.closeChunk(strh);
        const std::size_t strf = b.openChunk(kStrf);
        b.raw(format_.data(), format_.size());
        b.closeChunk(strf);
        // The super index and the OpenDML header stand as JUNK of the same size until a second RIFF exists.
        const std::size_t indx = b.openChunk(odml ? kIndx : kJunk);
        if (odml) {
            b.u16(4);
            b.u8(0);
            b.u8(kIndexOfIndexes);
            b.u32(static_cast<std::uint32_t>(superIndex.size()));
            b.u32(kFrameChunk);
            b.zeros(12);
            for (const SuperIndexEntry& e : superIndex) {
                b.u64(e.offset);
                b.u32(e.size);
                b.u32(e.duration);
            }
            b.zeros(kSuperEntryBytes * (options_.superIndexEntries - superIndex.size()));
        } else {
            b.zeros(kIndexHeaderBytes + kSuperEntryBytes * options_.superIndexEntries);
        }
        b.closeChunk(indx);
        b.closeChunk(strl);

        if (odml) {
            const std::size_t list = b.openList(kList, kOdml);
            const std::size_t dmlh = b.openChunk(kDmlh);
            b.u32(totalFrames_);
            b.zeros(kDmlhBytes - 4);
            b.closeChunk(dmlh);
            b.closeChunk(list);
        } else {
            const std::size_t junk = b.openChunk(kJunk);
            b.zeros(4 + 8 + kDmlhBytes);
            b.closeChunk(junk);
        }
        b.closeChunk(hdrl);
        return std::move(b.bytes());
    }

    std::unique_ptr<AviByteSink> sink_;
    AviWriterOptions options_;
    bool hasStream_ = false;
    AviStreamInfo info_;
    std::vector<std::uint8_t> format_;
    DibLayout layout_;
    std::uint64_t headerBytes_ = 0;
    std::uint64_t riffStart_ = 0;
    std::uint64_t moviAt_ = 0;  // the 'LIST' of the current RIFF's movi list
    std::uint64_t dataEnd_ = 0; // end of the last frame written
    std::uint64_t reservedEnd_ = 0;
    std::vector<WrittenFrame> riffFrames_;
    std::vector<SuperIndexEntry> superIndex_; // the closed RIFFs
    std::uint64_t firstRiffEnd_ = 0;
    std::uint32_t firstRiffFrames_ = 0;
    std::uint32_t totalFrames_ = 0;
    std::uint32_t maxChunk_ = 0;
    bool broken_ = false;
    bool complete_ = false; // the file on disk is complete with every frame written
    std::chrono::steady_clock::time_point lastRefresh_{};
    std::chrono::steady_clock::time_point lastWrite_{};
};

// The packed DIB header the reader hands out: 40 bytes, then the colour table or the masks.
std::vector<std::uint8_t> packedHeader(const std::vector<std::uint8_t>& format, const DibLayout& layout) {
    std::vector<std::uint8_t> h(format.begin(), format.begin() + 40);
    h.resize(layout.packedHeaderBytes, 0);
    writeLe32(h.data(), 40);
    writeLe32(h.data() + 20, static_cast<std::uint32_t>(layout.imageBytes));
    writeLe32(h.data() + 32, layout.colours);
    writeLe32(h.data() + 36, 0);
    if (layout.bitCount == 8) {
        const std::size_t tableAt = readLe32(format.data());
        const std::size_t available =
            std::min<std::size_t>(format.size() - tableAt, std::size_t{layout.colours} * 4);
        std::copy_n(format.begin() + static_cast<std::ptrdiff_t>(tableAt), available, h.begin() + 40);
    } else if (layout.compression == kBiBitfieldsCompression) {
        for (int i = 0; i < 3; ++i) {
            writeLe32(h.data() + 40 + 4 * i, layout.masks[static_cast<std::size_t>(i)]);
        }
    }
    return h;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------
// Handles

struct AviFile {
    std::uint32_t refs = 1;
    std::unique_ptr<Writer> writer;
    std::unique_ptr<Movie> movie;
    std::string refusal; // why the last stream asked for was refused
};

struct AviStream {
    std::uint32_t refs = 1;
    AviFile* file = nullptr;
    StreamRecord* record = nullptr; // reading
};

// The frames of a stream as a decoder takes them: the chunk of each, checked as the DIB path checks it.
class ChunkFrames final : public StoredFrames {
  public:
    explicit ChunkFrames(AviStream& stream) : stream_(stream) {}
    std::int64_t count() const override;
    bool read(std::int64_t n, std::vector<std::uint8_t>& bytes) override;
    bool isKey(std::int64_t n) const override;

  private:
    AviStream& stream_;
};

struct AviGetFrame {
    AviStream* stream = nullptr;
    DibLayout layout; // of the packed DIB handed out
    std::vector<std::uint8_t> header;
    std::vector<std::uint8_t> frame; // header and pixels of the frame handed out last
    // Frames that are no DIB: decoded into 32-bit pictures.
    std::unique_ptr<ChunkFrames> chunks;
    std::unique_ptr<FrameDecoder> decoder;
    std::int64_t decoded = -1; // the frame in `frame`, or -1
};

std::int64_t ChunkFrames::count() const {
    return static_cast<std::int64_t>(stream_.record->frames.size());
}

bool ChunkFrames::isKey(std::int64_t n) const {
    return n >= 0 && n < count() && stream_.record->frames[static_cast<std::size_t>(n)].key;
}

bool ChunkFrames::read(std::int64_t n, std::vector<std::uint8_t>& bytes) {
    if (n < 0 || n >= count()) {
        return false;
    }
    const StreamRecord& record = *stream_.record;
    const FrameEntry& entry = record.frames[static_cast<std::size_t>(n)];
    AviByteSource& source = stream_.file->movie->source();
    // Only a chunk of this stream that the file holds whole is handed on, and never more than its declared
    // size: a damaged index hands out nothing rather than the wrong bytes.
    std::uint8_t chunkHeader[8];
    if (entry.size == 0 || entry.size > kAviMaxFrameBytes || entry.offset < 8 ||
        entry.offset > source.size() || entry.size > source.size() - entry.offset ||
        !source.read(entry.offset - 8, chunkHeader, 8) ||
        !isFrameChunkOf(readLe32(chunkHeader), record.number)) {
        return false;
    }
    bytes.resize(entry.size);
    return source.read(entry.offset, bytes.data(), bytes.size());
}

namespace {

// The layout of a BITMAPINFOHEADER and what follows it; `tableFollows` says whether an 8-bit header must be
// followed by its colour table within `formatSize` (a stream format must; the packed DIB handed out has it).
const char* parseDibLayout(const std::uint8_t* format, std::size_t formatSize, bool tableFollows,
                           DibLayout& layout) {
    if (format == nullptr || formatSize < 40) {
        return "the stream format is shorter than a bitmap header";
    }
    const std::uint32_t headerSize = readLe32(format);
    if (headerSize < 40 || headerSize > formatSize) {
        return "the stream format's header size is invalid";
    }
    DibLayout l;
    l.width = static_cast<std::int32_t>(readLe32(format + 4));
    const auto rawHeight = static_cast<std::int32_t>(readLe32(format + 8));
    l.bitCount = readLe16(format + 14);
    l.compression = readLe32(format + 16);
    if (l.width <= 0 || rawHeight == 0 || rawHeight == std::numeric_limits<std::int32_t>::min()) {
        return "the frame size is invalid";
    }
    l.topDown = rawHeight < 0;
    l.height = l.topDown ? -rawHeight : rawHeight;
    if (l.compression == kBiRgbCompression) {
        if (l.bitCount == 8) {
            const std::uint32_t used = readLe32(format + 32);
            l.colours = used == 0 || used > 256 ? 256 : used;
            // Without its colour table every frame would come out black.
            if (tableFollows && std::uint64_t{headerSize} + std::uint64_t{l.colours} * 4 > formatSize) {
                return "its 8-bit frames come without their colour table";
            }
        } else if (l.bitCount == 16) {
            l.masks = {0x7C00, 0x03E0, 0x001F};
        } else if (l.bitCount == 24 || l.bitCount == 32) {
            l.masks = {0xFF0000, 0x00FF00, 0x0000FF};
        } else {
            return "its bit depth is not 8, 16, 24 or 32";
        }
    } else if (l.compression == kBiBitfieldsCompression && (l.bitCount == 16 || l.bitCount == 32)) {
        // Version 4 and 5 headers hold the masks; a 40-byte header is followed by them.
        const std::size_t masksAt = headerSize >= 52 ? 40 : headerSize;
        if (masksAt + 12 > formatSize) {
            return "its colour masks are missing";
        }
        for (int i = 0; i < 3; ++i) {
            l.masks[static_cast<std::size_t>(i)] = readLe32(format + masksAt + 4 * i);
        }
    } else {
        return "its frames are compressed";
    }
    if (std::uint64_t(l.width) * std::uint64_t(l.height) > kAviMaxFramePixels) {
        return "its frames are too large";
    }
    l.stride = ((std::uint64_t(l.width) * l.bitCount + 31) / 32) * 4;
    l.imageBytes = l.stride * std::uint64_t(l.height);
    if (l.imageBytes > kAviMaxFrameBytes) {
        return "its frames are too large";
    }
    l.packedHeaderBytes =
        40 + std::size_t{l.colours} * 4 + (l.compression == kBiBitfieldsCompression ? 12 : 0);
    layout = l;
    return nullptr;
}

} // namespace

bool readDibLayout(const std::uint8_t* format, std::size_t formatSize, DibLayout& layout, std::string* why) {
    const char* problem = parseDibLayout(format, formatSize, true, layout);
    if (problem != nullptr && why != nullptr) {
        *why = problem;
    }
    return problem == nullptr;
}

bool readPackedDibLayout(const std::uint8_t* packedDib, DibLayout& layout) {
    // A packed DIB from the reader has a 40-byte header, and its masks (if any) follow it; nothing beyond
    // them is read here.
    return packedDib != nullptr && readLe32(packedDib) == 40 &&
           parseDibLayout(packedDib, 52, false, layout) == nullptr;
}

std::unique_ptr<AviByteSource> makeAviMemorySource(std::vector<std::uint8_t> bytes) {
    return std::make_unique<MemorySource>(std::move(bytes));
}

void AVIFileInit() {}
void AVIFileExit() {}

AviResult AVIFileOpen(AviFile** file, const std::string& fileName, std::uint32_t mode,
                      const AviWriterOptions& options) {
    if (file == nullptr) {
        return kAviErrBadParam;
    }
    *file = nullptr;
    if ((mode & (kOfWrite | kOfCreate)) != 0) {
        if ((mode & kOfCreate) == 0 || (mode & kOfWrite) == 0) {
            return kAviErrUnsupported; // existing files are not edited
        }
        std::unique_ptr<AviByteSink> sink = createAviFileSink(fileName, options.replaceExisting);
        if (sink == nullptr) {
            return kAviErrFileOpen;
        }
        return AVIFileOpenWriter(file, std::move(sink), options);
    }
    std::unique_ptr<AviByteSource> source = openAviFileSource(fileName);
    if (source == nullptr) {
        return kAviErrFileOpen;
    }
    return AVIFileOpenReader(file, std::move(source));
}

AviResult AVIFileOpenReader(AviFile** file, std::unique_ptr<AviByteSource> source) {
    if (file == nullptr || source == nullptr) {
        return kAviErrBadParam;
    }
    *file = nullptr;
    auto movie = std::make_unique<Movie>(std::move(source));
    const AviResult result = movie->parse();
    if (result != kAviOk) {
        return result;
    }
    auto* opened = new AviFile;
    opened->movie = std::move(movie);
    *file = opened;
    return kAviOk;
}

AviResult AVIFileOpenWriter(AviFile** file, std::unique_ptr<AviByteSink> sink,
                            const AviWriterOptions& options) {
    if (file == nullptr || sink == nullptr) {
        return kAviErrBadParam;
    }
    auto* opened = new AviFile;
    opened->writer = std::make_unique<Writer>(std::move(sink), options);
    *file = opened;
    return kAviOk;
}

AviResult aviFileComplete(AviFile* file) {
    if (file == nullptr) {
        return kAviErrBadHandle;
    }
    if (!file->writer) {
        return kAviOk;
    }
    return file->writer->finish() ? kAviOk : kAviErrFileWrite;
}

std::uint32_t AVIFileRelease(AviFile* file) {
    if (file == nullptr) {
        return 0;
    }
    if (--file->refs > 0) {
        return file->refs;
    }
    if (file->writer) {
        file->writer->finish();
    }
    delete file;
    return 0;
}

AviResult AVIFileCreateStream(AviFile* file, AviStream** stream, const AviStreamInfo& info) {
    if (file == nullptr || stream == nullptr) {
        return kAviErrBadHandle;
    }
    *stream = nullptr;
    if (!file->writer) {
        return kAviErrReadOnly;
    }
    const AviResult result = file->writer->createStream(info);
    if (result != kAviOk) {
        return result;
    }
    ++file->refs;
    *stream = new AviStream{1, file, nullptr};
    return kAviOk;
}

AviResult AVIStreamSetFormat(AviStream* stream, std::int32_t position, const void* format,
                             std::int32_t formatSize) {
    if (stream == nullptr) {
        return kAviErrBadHandle;
    }
    if (!stream->file->writer) {
        return kAviErrReadOnly;
    }
    if (format == nullptr || formatSize <= 0) {
        return kAviErrBadParam;
    }
    if (position != 0 && stream->file->writer->frameCount() == 0) {
        return kAviErrBadParam;
    }
    return stream->file->writer->setFormat(static_cast<const std::uint8_t*>(format),
                                           static_cast<std::size_t>(formatSize));
}

AviResult AVIStreamWrite(AviStream* stream, std::int32_t start, std::int32_t samples, const void* buffer,
                         std::int32_t bufferSize, std::uint32_t flags, std::int32_t* samplesWritten,
                         std::int32_t* bytesWritten) {
    if (samplesWritten != nullptr) {
        *samplesWritten = 0;
    }
    if (bytesWritten != nullptr) {
        *bytesWritten = 0;
    }
    if (stream == nullptr) {
        return kAviErrBadHandle;
    }
    Writer* writer = stream->file->writer.get();
    if (writer == nullptr) {
        return kAviErrReadOnly;
    }
    const auto length = static_cast<std::int32_t>(writer->frameCount());
    if (samples != 1 || bufferSize < 0 || (buffer == nullptr && bufferSize > 0) ||
        (start != -1 && start != length)) {
        return kAviErrBadParam;
    }
    const AviResult result = writer->write(static_cast<const std::uint8_t*>(buffer),
                                           static_cast<std::uint32_t>(bufferSize), flags);
    if (result == kAviOk) {
        if (samplesWritten != nullptr) {
            *samplesWritten = 1;
        }
        if (bytesWritten != nullptr) {
            *bytesWritten = bufferSize;
        }
    }
    return result;
}

AviResult AVIFileGetStream(AviFile* file, AviStream** stream, std::uint32_t fccType, std::int32_t index) {
    if (file == nullptr || stream == nullptr) {
        return kAviErrBadHandle;
    }
    *stream = nullptr;
    if (!file->movie || index < 0) {
        return kAviErrNoData;
    }
    std::int32_t seen = 0;
    for (StreamRecord& record : file->movie->streams()) {
        if (fccType != 0 && record.info.fccType != fccType) {
            continue;
        }
        if (seen++ == index) {
            file->movie->index(record);
            if (!record.refusal.empty()) {
                file->refusal = record.refusal;
                return kAviErrBadFormat;
            }
            ++file->refs;
            *stream = new AviStream{1, file, &record};
            return kAviOk;
        }
    }
    return kAviErrNoData;
}

AviResult AVIStreamInfo(AviStream* stream, AviStreamInfo* info, std::int32_t infoSize) {
    if (stream == nullptr) {
        return kAviErrBadHandle;
    }
    if (info == nullptr || infoSize < 0) {
        return kAviErrBadParam;
    }
    AviStreamInfo result;
    if (stream->record != nullptr) {
        result = stream->record->info;
        result.dwLength = static_cast<std::uint32_t>(AVIStreamLength(stream));
    } else {
        result = stream->file->writer->info();
        result.dwLength = stream->file->writer->frameCount();
    }
    std::memcpy(info, &result, std::min<std::size_t>(sizeof result, static_cast<std::size_t>(infoSize)));
    return kAviOk;
}

AviResult AVIStreamReadFormat(AviStream* stream, std::int32_t, void* format, std::int32_t* formatSize) {
    if (stream == nullptr) {
        return kAviErrBadHandle;
    }
    if (formatSize == nullptr) {
        return kAviErrBadParam;
    }
    const std::vector<std::uint8_t>& bytes =
        stream->record != nullptr ? stream->record->format : stream->file->writer->format();
    const auto size = static_cast<std::int32_t>(std::min<std::size_t>(bytes.size(), INT32_MAX));
    if (format != nullptr) {
        if (*formatSize < size) {
            *formatSize = size;
            return kAviErrBufferTooSmall;
        }
        std::copy_n(bytes.begin(), size, static_cast<std::uint8_t*>(format));
    }
    *formatSize = size;
    return kAviOk;
}

std::int32_t AVIStreamStart(AviStream* stream) {
    if (stream == nullptr || stream->record == nullptr) {
        return 0;
    }
    return static_cast<std::int32_t>(stream->record->info.dwStart);
}

std::uint32_t aviStreamSkippedChunks(AviStream* stream) {
    return stream == nullptr || stream->record == nullptr ? 0 : stream->record->skippedChunks;
}

std::uint32_t aviStreamFramesPastEnd(AviStream* stream) {
    return stream == nullptr || stream->record == nullptr ? 0 : stream->record->framesPastEnd;
}

std::string aviFileRefusal(AviFile* file) {
    return file == nullptr ? std::string() : file->refusal;
}

std::int32_t AVIStreamLength(AviStream* stream) {
    if (stream == nullptr) {
        return 0;
    }
    if (stream->record == nullptr) {
        return static_cast<std::int32_t>(stream->file->writer->frameCount());
    }
    return static_cast<std::int32_t>(std::min<std::size_t>(stream->record->frames.size(), INT32_MAX));
}

AviResult AVIStreamBeginStreaming(AviStream* stream, std::int32_t start, std::int32_t end, std::int32_t) {
    if (stream == nullptr) {
        return kAviErrBadHandle;
    }
    const std::int64_t first = AVIStreamStart(stream);
    const std::int64_t last = first + AVIStreamLength(stream);
    return start <= end && start >= first && end <= last ? kAviOk : kAviErrBadParam;
}

AviResult AVIStreamEndStreaming(AviStream* stream) {
    return stream == nullptr ? kAviErrBadHandle : kAviOk;
}

namespace {

// A decoder for frames that are no DIB; they are handed out as 32-bit bottom-up DIBs of the stream's size.
AviGetFrame* openDecodedFrames(AviStream* stream, const CodedFormat& coded, std::string* why) {
    const std::vector<std::uint8_t>& format = stream->record->format;
    auto opened = std::make_unique<AviGetFrame>();
    opened->chunks = std::make_unique<ChunkFrames>(*stream);
    std::string problem;
    opened->decoder = makeFrameDecoder(coded, format.data(), format.size(), *opened->chunks, problem);
    if (!opened->decoder) {
        if (why != nullptr) {
            *why = problem;
        }
        return nullptr;
    }
    std::vector<std::uint8_t> header(40, 0);
    writeLe32(header.data(), 40);
    writeLe32(header.data() + 4, static_cast<std::uint32_t>(coded.width));
    writeLe32(header.data() + 8, static_cast<std::uint32_t>(coded.height));
    header[12] = 1;
    header[14] = 32;
    writeLe32(header.data() + 20, static_cast<std::uint32_t>(std::uint64_t{4} * coded.width * coded.height));
    if (!readPackedDibLayout(header.data(), opened->layout)) {
        return nullptr;
    }
    opened->header = std::move(header);
    ++stream->refs;
    opened->stream = stream;
    return opened.release();
}

const std::uint8_t* decodedFrameAt(AviGetFrame& d, std::int64_t index) {
    if (index < 0 || index >= d.chunks->count()) {
        return nullptr;
    }
    if (index == d.decoded) {
        return d.frame.data();
    }
    const DibLayout& l = d.layout;
    if (d.frame.empty()) {
        d.frame.resize(d.header.size() + static_cast<std::size_t>(l.imageBytes));
        std::copy(d.header.begin(), d.header.end(), d.frame.begin());
    }
    const FrameView view{d.frame.data() + d.header.size(), l.width, l.height,
                         static_cast<std::ptrdiff_t>(l.stride)};
    d.decoded = -1;
    if (!d.decoder->decode(index, view)) {
        return nullptr;
    }
    d.decoded = index;
    return d.frame.data();
}

} // namespace

AviGetFrame* AVIStreamGetFrameOpen(AviStream* stream, const void* wantedFormat) {
    return aviStreamGetFrameOpen(stream, wantedFormat, nullptr);
}

AviGetFrame* aviStreamGetFrameOpen(AviStream* stream, const void* wantedFormat, std::string* why) {
    if (stream == nullptr || stream->record == nullptr) {
        return nullptr;
    }
    const std::vector<std::uint8_t>& format = stream->record->format;
    DibLayout layout;
    std::string problem;
    if (!readDibLayout(format.data(), format.size(), layout, &problem)) {
        const CodedFormat coded = codedFormatOf(format.data(), format.size());
        if (coded.kind == CodedFormat::kNone || wantedFormat != nullptr) {
            if (why != nullptr) {
                *why = problem;
            }
            return nullptr;
        }
        return openDecodedFrames(stream, coded, why);
    }
    if (wantedFormat != nullptr) {
        const auto* wanted = static_cast<const std::uint8_t*>(wantedFormat);
        if (readLe16(wanted + 14) != layout.bitCount || readLe32(wanted + 16) != layout.compression) {
            return nullptr; // no conversions: frames are handed out as stored
        }
    }
    ++stream->refs;
    auto* decoder = new AviGetFrame;
    decoder->stream = stream;
    decoder->layout = layout;
    decoder->header = packedHeader(format, layout);
    return decoder;
}

bool aviGetFrameLayout(AviGetFrame* decoder, DibLayout& layout) {
    if (decoder == nullptr) {
        return false;
    }
    layout = decoder->layout;
    return true;
}

const std::uint8_t* AVIStreamGetFrame(AviGetFrame* decoder, std::int32_t position) {
    if (decoder == nullptr) {
        return nullptr;
    }
    return aviStreamGetFrameAt(decoder, std::int64_t{position} - AVIStreamStart(decoder->stream));
}

const std::uint8_t* aviStreamGetFrameAt(AviGetFrame* decoder, std::int64_t index) {
    if (decoder == nullptr) {
        return nullptr;
    }
    if (decoder->decoder) {
        return decodedFrameAt(*decoder, index);
    }
    const StreamRecord& record = *decoder->stream->record;
    if (index < 0 || static_cast<std::uint64_t>(index) >= record.frames.size()) {
        return nullptr;
    }
    const FrameEntry& entry = record.frames[static_cast<std::size_t>(index)];
    const DibLayout& l = decoder->layout;
    AviByteSource& source = decoder->stream->file->movie->source();
    // Rows stored without the DIB padding (as some writers store them) are taken too.
    const std::uint64_t rowBytes = (std::uint64_t(l.width) * l.bitCount + 7) / 8;
    const std::uint64_t needed = pictureBytes(l, entry.size);
    const bool padded = needed == l.imageBytes;
    // The entry must lead to a frame chunk of this stream that the file holds whole: a damaged index hands
    // out nothing rather than the wrong bytes, and no buffer is made for data that is not there.
    std::uint8_t chunkHeader[8];
    if (needed == 0 || entry.offset < 8 || entry.offset > source.size() ||
        needed > source.size() - entry.offset || !source.read(entry.offset - 8, chunkHeader, 8) ||
        !isFrameChunkOf(readLe32(chunkHeader), record.number)) {
        return nullptr;
    }
    const std::size_t headerBytes = decoder->header.size();
    if (decoder->frame.empty()) {
        decoder->frame.resize(headerBytes + static_cast<std::size_t>(l.imageBytes));
        std::copy(decoder->header.begin(), decoder->header.end(), decoder->frame.begin());
    }
    std::uint8_t* pixels = decoder->frame.data() + headerBytes;
    if (!source.read(entry.offset, pixels, static_cast<std::size_t>(needed))) {
        return nullptr;
    }
    if (!padded) {
        // Spread the rows out from the last one up, so that none is overwritten before it has moved.
        for (std::int64_t row = l.height - 1; row >= 0; --row) {
            std::uint8_t* to = pixels + static_cast<std::size_t>(std::uint64_t(row) * l.stride);
            std::memmove(to, pixels + static_cast<std::size_t>(std::uint64_t(row) * rowBytes),
                         static_cast<std::size_t>(rowBytes));
            std::fill(to + rowBytes, to + l.stride, 0);
        }
    }
    return decoder->frame.data();
}

AviResult AVIStreamGetFrameClose(AviGetFrame* decoder) {
    if (decoder == nullptr) {
        return kAviErrBadHandle;
    }
    AviStream* stream = decoder->stream;
    delete decoder; // the decoder reads the stream's chunks to its end
    AVIStreamRelease(stream);
    return kAviOk;
}

std::uint32_t AVIStreamRelease(AviStream* stream) {
    if (stream == nullptr) {
        return 0;
    }
    if (--stream->refs > 0) {
        return stream->refs;
    }
    AVIFileRelease(stream->file);
    delete stream;
    return 0;
}

std::string aviResultText(AviResult code) {
    switch (code) {
    case kAviOk:
        return "no error";
    case kAviErrClassNotRegistered:
        return "the file is not an AVI file";
    case kAviErrUnsupported:
        return "the file uses a feature that is not supported";
    case kAviErrBadFormat:
        return "the picture format is not accepted";
    case kAviErrMemory:
        return "there is not enough memory";
    case kAviErrBadFlags:
    case kAviErrBadParam:
    case kAviErrBadHandle:
    case kAviErrInternal:
        return "the file library was called wrongly";
    case kAviErrBadSize:
        return "a size in the file is wrong";
    case kAviErrFileRead:
        return "the file cannot be read";
    case kAviErrFileWrite:
        return "the file cannot be written (is the disk full?)";
    case kAviErrFileOpen:
        return "the file cannot be opened";
    case kAviErrCompressor:
    case kAviErrNoCompressor:
    case kAviErrCantCompress:
        return "its frames are compressed";
    case kAviErrReadOnly:
        return "the file is read-only";
    case kAviErrNoData:
        return "the file is truncated or holds no data";
    case kAviErrBufferTooSmall:
        return "a buffer is too small";
    case kAviErrUserAbort:
        return "stopped by the operator";
    default:
        return "the file cannot be used";
    }
}

} // namespace kestrane
