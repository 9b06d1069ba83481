// The AVI file library: a RIFF AVI writer and reader for one uncompressed video stream, with OpenDML past 1
// GiB.
//
// Layout of the files the writer produces (the reader takes any AVI 1.0 or OpenDML file of this shape):
//
//   RIFF 'AVI '                    first RIFF, at most 1 GiB
//   |-- LIST 'hdrl'
//   |   |-- avih                   main header: microseconds per frame, frames of this RIFF, width, height
//   |   |-- LIST 'strl'            the video stream
//   |   |   |-- strh               'vids', handler, scale, rate, start, length, buffer size, rcFrame
//   |   |   |-- strf               BITMAPINFOHEADER, then the colour table or the three bit masks
//   |   |   `-- indx | JUNK        OpenDML super index: one entry per RIFF (JUNK while the file is AVI 1.0)
//   |   `-- LIST 'odml' | JUNK
//   |       `-- dmlh               frames of the whole file
//   |-- LIST 'movi'
//   |   |-- 00db                   one frame: the DIB pixel rows, padded to an even size
//   |   |-- ...
//   |   `-- ix00                   OpenDML standard index of this RIFF (only when AVIX RIFFs follow)
//   `-- idx1                       AVI 1.0 index of this RIFF: '00db', AVIIF_KEYFRAME, offset from 'movi',
//   size RIFF 'AVIX'                    each further RIFF, at most 1 GiB
//   `-- LIST 'movi'
//       |-- 00db ...
//       `-- ix00
//
// All integers are little-endian and built from bytes explicitly. The operations below carry the names of the
// platform library the recorders and the frame reader were written against, and return its published result
// codes. Handles are reference counted: a stream keeps its file alive, a frame decoder keeps its stream
// alive.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrane {

using AviResult = std::int32_t;

inline constexpr AviResult kAviOk = 0;
inline constexpr AviResult kAviErrClassNotRegistered = static_cast<AviResult>(0x80040154u);
inline constexpr AviResult kAviErrUnsupported = static_cast<AviResult>(0x80044065u);
inline constexpr AviResult kAviErrBadFormat = static_cast<AviResult>(0x80044066u);
inline constexpr AviResult kAviErrMemory = static_cast<AviResult>(0x80044067u);
inline constexpr AviResult kAviErrInternal = static_cast<AviResult>(0x80044068u);
inline constexpr AviResult kAviErrBadFlags = static_cast<AviResult>(0x80044069u);
inline constexpr AviResult kAviErrBadParam = static_cast<AviResult>(0x8004406Au);
inline constexpr AviResult kAviErrBadSize = static_cast<AviResult>(0x8004406Bu);
inline constexpr AviResult kAviErrBadHandle = static_cast<AviResult>(0x8004406Cu);
inline constexpr AviResult kAviErrFileRead = static_cast<AviResult>(0x8004406Du);
inline constexpr AviResult kAviErrFileWrite = static_cast<AviResult>(0x8004406Eu);
inline constexpr AviResult kAviErrFileOpen = static_cast<AviResult>(0x8004406Fu);
inline constexpr AviResult kAviErrCompressor = static_cast<AviResult>(0x80044070u);
inline constexpr AviResult kAviErrNoCompressor = static_cast<AviResult>(0x80044071u);
inline constexpr AviResult kAviErrReadOnly = static_cast<AviResult>(0x80044072u);
inline constexpr AviResult kAviErrNoData = static_cast<AviResult>(0x80044073u);
inline constexpr AviResult kAviErrBufferTooSmall = static_cast<AviResult>(0x80044074u);
inline constexpr AviResult kAviErrCantCompress = static_cast<AviResult>(0x80044075u);
inline constexpr AviResult kAviErrUserAbort = static_cast<AviResult>(0x800440C6u);
inline constexpr AviResult kAviErrError = static_cast<AviResult>(0x800440C7u);

// The reason behind a result code in words, for messages a person reads (the code may follow in brackets).
std::string aviResultText(AviResult code);

// Open modes (the values of the platform's OF_ flags).
inline constexpr std::uint32_t kOfRead = 0x0000;
inline constexpr std::uint32_t kOfWrite = 0x0001;
inline constexpr std::uint32_t kOfCreate = 0x1000;

// Index flag of a sample that needs no other sample to be decoded.
inline constexpr std::uint32_t kAviIfKeyframe = 0x10;

constexpr std::uint32_t makeFourcc(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(a)) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(b)) << 8) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(c)) << 16) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(d)) << 24);
}
inline constexpr std::uint32_t kStreamTypeVideo = makeFourcc('v', 'i', 'd', 's');

// DIB compression values the reader decodes.
inline constexpr std::uint32_t kBiRgbCompression = 0;
inline constexpr std::uint32_t kBiBitfieldsCompression = 3;

// A first RIFF or an AVIX RIFF is closed before it grows past this.
inline constexpr std::uint64_t kAviRiffLimit = 1ULL << 30;
// A frame larger than this (4096 × 4096 at 32 bits) is no picture the program handles; refusing it bounds
// every allocation a file can ask for, a 32-bit raster of its frame size included.
inline constexpr std::uint64_t kAviMaxFrameBytes = 64ULL << 20;
inline constexpr std::uint64_t kAviMaxFramePixels = 16ULL << 20;

struct AviRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// The 140-byte stream information record the platform library hands out (dwScale at offset 20, dwRate at 24).
struct AviStreamInfo {
    std::uint32_t fccType = 0;
    std::uint32_t fccHandler = 0;
    std::uint32_t dwFlags = 0;
    std::uint32_t dwCaps = 0;
    std::uint16_t wPriority = 0;
    std::uint16_t wLanguage = 0;
    std::uint32_t dwScale = 0;
    std::uint32_t dwRate = 0;
    std::uint32_t dwStart = 0;
    std::uint32_t dwLength = 0;
    std::uint32_t dwInitialFrames = 0;
    std::uint32_t dwSuggestedBufferSize = 0;
    std::uint32_t dwQuality = 0;
    std::uint32_t dwSampleSize = 0;
    AviRect rcFrame;
    std::uint32_t dwEditCount = 0;
    std::uint32_t dwFormatChangeCount = 0;
    std::array<char, 64> szName{};
};
static_assert(sizeof(AviStreamInfo) == 140, "the stream information record has the platform's size");

// What a BITMAPINFOHEADER (and the colour table or masks after it) says about the pixels of one frame.
struct DibLayout {
    std::int32_t width = 0;
    std::int32_t height = 0; // always positive; see topDown
    bool topDown = false;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t colours = 0;            // colour table entries (8 bits per pixel only)
    std::array<std::uint32_t, 3> masks{}; // red, green, blue (16 and 32 bits per pixel)
    std::size_t packedHeaderBytes = 0;    // header, table or masks of the packed DIB the reader hands out
    std::uint64_t stride = 0;             // bytes per row, padded to 4
    std::uint64_t imageBytes = 0;         // stride × height
};

// Checks a stream format (BITMAPINFOHEADER of at least 40 bytes and what follows it) for a frame the reader
// decodes: 8 bits with its colour table, 16, 24 or 32 bits, BI_RGB or BI_BITFIELDS, a sane size. False
// otherwise, with the reason in `why` when given.
bool readDibLayout(const std::uint8_t* format, std::size_t formatSize, DibLayout& layout,
                   std::string* why = nullptr);
// The same for a packed DIB as AVIStreamGetFrame hands it out (40-byte header, table or masks, pixels).
bool readPackedDibLayout(const std::uint8_t* packedDib, DibLayout& layout);

// Where the reader takes its bytes from: a file, or memory (tests, fuzzing).
class AviByteSource {
  public:
    virtual ~AviByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Reads exactly `count` bytes at `offset`; false when they are not all there.
    virtual bool read(std::uint64_t offset, void* into, std::size_t count) = 0;
};
std::unique_ptr<AviByteSource> makeAviMemorySource(std::vector<std::uint8_t> bytes);

// Where the writer puts its bytes. The writer keeps room for the file's closing index reserved ahead of every
// frame, so that a file can still be completed when the disk fills up or a size limit is reached.
class AviByteSink {
  public:
    virtual ~AviByteSink() = default;
    virtual bool writeAt(std::uint64_t offset, const void* data, std::size_t count) = 0;
    // Makes sure that the first `size` bytes can be written without needing more space.
    virtual bool reserve(std::uint64_t size) = 0;
    // Sets the final size of the file.
    virtual bool truncate(std::uint64_t size) = 0;
};

struct AviWriterOptions {
    std::uint64_t riffLimit = kAviRiffLimit;
    std::uint32_t superIndexEntries = 256; // RIFFs a file may have: 256 GiB at 1 GiB each
    // How often the RIFF and list sizes and the frame counts in the headers are brought up to date while
    // frames are written, so that a file whose writer is killed keeps every frame written more than a second
    // earlier. A frame that comes this long after the previous one brings them up to date at once. 0: after
    // every frame.
    std::uint32_t headerRefreshMs = 500;
    // Whether AVIFileOpen may replace an existing file of the name; without, it creates the file only when
    // there is none, so that a recorder never removes what it did not write.
    bool replaceExisting = true;
};

struct AviFile;
struct AviStream;
struct AviGetFrame;

// The library needs no set-up; these keep the recorders' calls in their familiar order.
void AVIFileInit();
void AVIFileExit();

// Opens a file for reading (mode kOfRead) or creates it for writing (kOfWrite | kOfCreate), replacing an
// existing file unless the options forbid it (FILEOPEN with errno EEXIST then). Errors: FILEOPEN (cannot open
// or create), BADFORMAT (not AVI), FILEREAD.
// The file itself is read and written through recording/AviFileIo.h.
AviResult AVIFileOpen(AviFile** file, const std::string& fileName, std::uint32_t mode,
                      const AviWriterOptions& options = AviWriterOptions());
// The same over another byte source or sink.
AviResult AVIFileOpenReader(AviFile** file, std::unique_ptr<AviByteSource> source);
AviResult AVIFileOpenWriter(AviFile** file, std::unique_ptr<AviByteSink> sink,
                            const AviWriterOptions& options = AviWriterOptions());
// Drops one reference; the last one completes a written file on disk. Returns the references left.
std::uint32_t AVIFileRelease(AviFile* file);
// Completes a written file on disk now (indexes, final header, length) and says whether that worked:
// FILEWRITE when it did not, so that a recorder can report it. Releasing the file afterwards writes nothing
// more.
AviResult aviFileComplete(AviFile* file);

// Writing: one video stream of uncompressed frames.
AviResult AVIFileCreateStream(AviFile* file, AviStream** stream, const AviStreamInfo& info);
AviResult AVIStreamSetFormat(AviStream* stream, std::int32_t position, const void* format,
                             std::int32_t formatSize);
// Appends one sample at `start` (the stream's length, or -1). A failed write returns FILEWRITE and leaves the
// file complete and valid with every frame written before.
AviResult AVIStreamWrite(AviStream* stream, std::int32_t start, std::int32_t samples, const void* buffer,
                         std::int32_t bufferSize, std::uint32_t flags, std::int32_t* samplesWritten = nullptr,
                         std::int32_t* bytesWritten = nullptr);

// Reading. A stream type of 0 takes any stream; NODATA when there is no such stream, BADFORMAT when its
// indexes cannot be trusted (aviFileRefusal then says why).
AviResult AVIFileGetStream(AviFile* file, AviStream** stream, std::uint32_t fccType, std::int32_t index);
// Why AVIFileGetStream last refused a stream of this file, in words; empty when it did not.
std::string aviFileRefusal(AviFile* file);
AviResult AVIStreamInfo(AviStream* stream, AviStreamInfo* info, std::int32_t infoSize);
// Copies the stream format into `format` (when not null) and sets `formatSize` to its size.
AviResult AVIStreamReadFormat(AviStream* stream, std::int32_t position, void* format,
                              std::int32_t* formatSize);
std::int32_t AVIStreamStart(AviStream* stream);
// The frames of the stream: the chunks that hold a whole picture of its format.
std::int32_t AVIStreamLength(AviStream* stream);
// The chunks of the stream passed over because they hold no whole picture: shorter than a frame, or cut off
// by the end of the file. They are not among the stream's frames.
std::uint32_t aviStreamSkippedChunks(AviStream* stream);
// The frames of the stream that lie after the end its headers declare: a recording that was not finished
// (its writer killed) brings those up to date only now and then, and its last frames are found by walking
// on through the file. 0 for a finished file.
std::uint32_t aviStreamFramesPastEnd(AviStream* stream);
AviResult AVIStreamBeginStreaming(AviStream* stream, std::int32_t start, std::int32_t end, std::int32_t rate);
AviResult AVIStreamEndStreaming(AviStream* stream);
// A frame decoder, or null when the stream's frames cannot be decoded. DIB frames are handed out as stored
// (`wantedFormat` must be null or ask for the stream's own format); grey, YUV and compressed frames are
// decoded (recording/FrameDecoder.h) and handed out as 32-bit DIBs of the stream's size.
AviGetFrame* AVIStreamGetFrameOpen(AviStream* stream, const void* wantedFormat);
// The same, with the reason in `why` (when given) when the frames cannot be decoded.
AviGetFrame* aviStreamGetFrameOpen(AviStream* stream, const void* wantedFormat, std::string* why);
// The layout of the packed DIBs the decoder hands out.
bool aviGetFrameLayout(AviGetFrame* decoder, DibLayout& layout);
// The packed DIB of the frame at `position` (header, colour table or masks, pixel rows), valid until the next
// call or the decoder's close; null when the position is outside the stream or the file cannot deliver it.
const std::uint8_t* AVIStreamGetFrame(AviGetFrame* decoder, std::int32_t position);
// The same for frame n counted from the stream's first frame, whatever position the stream starts at (a
// start near 2^31 leaves no 32-bit position for its later frames).
const std::uint8_t* aviStreamGetFrameAt(AviGetFrame* decoder, std::int64_t n);
AviResult AVIStreamGetFrameClose(AviGetFrame* decoder);
std::uint32_t AVIStreamRelease(AviStream* stream);

} // namespace kestrane
