// Tests of the AVI file library: clips written as the recorders write them read back frame for frame with
// their header values; OpenDML RIFFs; a failed write leaves a complete file; damaged files give errors, not
// crashes.
#include "recording/AviFrames.h"
#include "recording/AviTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>

using namespace avitest;

namespace {

// A file (or memory image) opened as the frame reader opens it; everything is released at the end.
struct OpenClip {
    AviFile* file = nullptr;
    AviStream* stream = nullptr;
    AviGetFrame* decoder = nullptr;
    AviResult result = kAviOk;

    explicit OpenClip(const std::string& path) { finish(AVIFileOpen(&file, path, kOfRead)); }
    explicit OpenClip(std::vector<std::uint8_t> bytes) {
        finish(AVIFileOpenReader(&file, makeAviMemorySource(std::move(bytes))));
    }
    ~OpenClip() {
        AVIStreamGetFrameClose(decoder);
        AVIStreamRelease(stream);
        AVIFileRelease(file);
    }
    void finish(AviResult opened) {
        result = opened;
        if (result == kAviOk) {
            result = AVIFileGetStream(file, &stream, kStreamTypeVideo, 0);
        }
        if (result == kAviOk) {
            decoder = AVIStreamGetFrameOpen(stream, nullptr);
        }
    }
    // The stored pixel rows of frame n as handed out; empty when there is no frame.
    std::vector<std::uint8_t> pixels(int n) {
        const std::uint8_t* dib = AVIStreamGetFrame(decoder, n);
        DibLayout l;
        if (dib == nullptr || !readPackedDibLayout(dib, l)) {
            return {};
        }
        return {dib + l.packedHeaderBytes, dib + l.packedHeaderBytes + l.imageBytes};
    }
};

class RoundTrip : public ::testing::TestWithParam<ClipSpec> {};

TEST_P(RoundTrip, FramesAndHeaderValuesReadBackAsWritten) {
    const ClipSpec c = GetParam();
    ScratchDir dir;
    const std::string path = dir.file("clip.avi");
    ASSERT_EQ(writeClipFile(path, c, 4), 4);

    OpenClip clip(path);
    ASSERT_EQ(clip.result, kAviOk);
    ASSERT_NE(clip.decoder, nullptr);
    AviStreamInfo info;
    ASSERT_EQ(AVIStreamInfo(clip.stream, &info, sizeof info), kAviOk);
    EXPECT_EQ(info.fccType, kStreamTypeVideo);
    EXPECT_EQ(info.fccHandler, 0u);
    EXPECT_EQ(info.dwScale, 1u);
    EXPECT_EQ(info.dwRate, c.rate);
    EXPECT_EQ(info.dwLength, 4u);
    EXPECT_EQ(info.dwSuggestedBufferSize, imageBytes(c));
    EXPECT_EQ(info.rcFrame.right, c.width);
    EXPECT_EQ(info.rcFrame.bottom, c.height);
    EXPECT_EQ(AVIStreamStart(clip.stream), 0);
    EXPECT_EQ(AVIStreamLength(clip.stream), 4);

    std::vector<std::uint8_t> format(2000);
    std::int32_t formatSize = 2000;
    ASSERT_EQ(AVIStreamReadFormat(clip.stream, 0, format.data(), &formatSize), kAviOk);
    format.resize(static_cast<std::size_t>(formatSize));
    EXPECT_EQ(format, dibFormat(c));

    for (int n = 0; n < 4; ++n) {
        EXPECT_EQ(clip.pixels(n), framePixels(c, n)) << "frame " << n;
    }
    EXPECT_EQ(AVIStreamGetFrame(clip.decoder, 4), nullptr);
    EXPECT_EQ(AVIStreamGetFrame(clip.decoder, -1), nullptr);

    // The same frames as 32-bit bottom-up rasters.
    AviFrameReader reader;
    ASSERT_EQ(reader.open(path), kAviOk);
    EXPECT_EQ(reader.frameCount(), 4);
    Bitmap frame;
    ASSERT_TRUE(reader.frame(3, frame));
    ASSERT_EQ(frame.width(), c.width);
    ASSERT_EQ(frame.height(), c.height);
    const std::vector<std::uint8_t> stored = framePixels(c, 3);
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            const std::uint8_t* got = frame.row(y) + 4 * x;
            ASSERT_EQ((std::array<std::uint8_t, 3>{got[0], got[1], got[2]}), expectedBgr(c, stored, x, y))
                << x << "," << y;
        }
    }
    EXPECT_FALSE(reader.frame(4, frame));
    EXPECT_EQ(frame.width(), c.width) << "a frame that is not there comes as a blank of the stream's size";
}

INSTANTIATE_TEST_SUITE_P(Clips, RoundTrip,
                         ::testing::Values(ClipSpec{370, 240, 24, 10}, ClipSpec{370, 240, 32, 10},
                                           ClipSpec{640, 480, 24, 30}, ClipSpec{640, 480, 32, 30},
                                           ClipSpec{370, 240, 8, 10}, ClipSpec{66, 48, 16, 30},
                                           ClipSpec{37, 24, 24, 10, true}));

TEST(AviLayout, PlainFileIsRiffAviWithKeyframeIndexRelativeToMovi) {
    const ClipSpec c{370, 240, 24, 30};
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    AviFile* file = nullptr;
    ASSERT_EQ(AVIFileOpenWriter(&file, std::make_unique<MemorySink>(bytes)), kAviOk);
    ASSERT_EQ(writeClip(file, c, 3), 3);
    AVIFileRelease(file);

    const std::vector<FoundChunk> chunks = riffLayout(*bytes);
    std::vector<std::string> ids;
    for (const FoundChunk& k : chunks) {
        ids.push_back(k.id + (k.type.empty() ? "" : ":" + k.type));
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"RIFF:AVI ", "LIST:hdrl", "avih", "LIST:strl", "strh", "strf",
                                             "JUNK", "JUNK", "LIST:movi", "00db", "00db", "00db", "idx1"}));
    EXPECT_EQ(chunks[0].size + 8, bytes->size()) << "nothing after the RIFF, no reserve left behind";

    const std::uint8_t* avih = bytes->data() + chunks[2].dataAt;
    EXPECT_EQ(readLe32(avih), 33333u) << "microseconds per frame at 30 per second";
    EXPECT_EQ(readLe32(avih + 16), 3u);
    EXPECT_EQ(readLe32(avih + 32), 370u);
    EXPECT_EQ(readLe32(avih + 36), 240u);

    const std::size_t moviFourcc = chunks[8].dataAt;
    const std::uint8_t* idx1 = bytes->data() + chunks[12].dataAt;
    ASSERT_EQ(chunks[12].size, 3u * 16);
    for (int i = 0; i < 3; ++i) {
        const std::uint8_t* e = idx1 + 16 * i;
        EXPECT_EQ(fourccText(e), "00db");
        EXPECT_EQ(readLe32(e + 4), kAviIfKeyframe);
        EXPECT_EQ(moviFourcc + readLe32(e + 8), chunks[9 + i].dataAt - 8);
        EXPECT_EQ(readLe32(e + 12), imageBytes(c));
    }
}

TEST(AviLayout, RecordingPastTheRiffLimitGoesOnAsOpenDml) {
    const ClipSpec c{64, 48, 24, 10}; // 9216-byte frames, four to a 40000-byte RIFF (three in the first)
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    AviWriterOptions options;
    options.riffLimit = 40000;
    AviFile* file = nullptr;
    ASSERT_EQ(AVIFileOpenWriter(&file, std::make_unique<MemorySink>(bytes), options), kAviOk);
    ASSERT_EQ(writeClip(file, c, 13), 13);
    AVIFileRelease(file);

    const std::vector<FoundChunk> chunks = riffLayout(*bytes);
    std::vector<const FoundChunk*> riffs;
    std::size_t idx1Entries = 0;
    std::uint32_t avihTotal = 0, strhLength = 0, dmlhTotal = 0;
    const FoundChunk* indx = nullptr;
    std::size_t framesInFirstRiff = 0;
    for (const FoundChunk& k : chunks) {
        ASSERT_NE(k.id, "<overrun>");
        framesInFirstRiff += k.id == "00db" && riffs.size() == 1 ? 1 : 0;
        if (k.id == "RIFF") {
            riffs.push_back(&k);
            EXPECT_LE(k.size + 8, options.riffLimit);
        }
        const std::uint8_t* d = bytes->data() + k.dataAt;
        if (k.id == "idx1") {
            idx1Entries = k.size / 16;
        } else if (k.id == "avih") {
            avihTotal = readLe32(d + 16);
        } else if (k.id == "strh") {
            strhLength = readLe32(d + 32);
        } else if (k.id == "dmlh") {
            dmlhTotal = readLe32(d);
        } else if (k.id == "indx") {
            indx = &k;
        }
    }
    ASSERT_EQ(riffs.size(), 4u);
    EXPECT_EQ(riffs[0]->type, "AVI ");
    EXPECT_EQ(riffs[3]->type, "AVIX");
    EXPECT_EQ(framesInFirstRiff, 3u);
    EXPECT_EQ(idx1Entries, framesInFirstRiff) << "idx1 covers the first RIFF";
    EXPECT_EQ(avihTotal, framesInFirstRiff);
    EXPECT_EQ(strhLength, 13u);
    EXPECT_EQ(dmlhTotal, 13u);

    // The super index points at one standard index per RIFF, and they cover all 13 frames in order.
    ASSERT_NE(indx, nullptr);
    const std::uint8_t* s = bytes->data() + indx->dataAt;
    ASSERT_EQ(readLe32(s + 4), 4u);
    std::uint32_t covered = 0;
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t* e = s + 24 + 16 * i;
        const std::size_t ix = static_cast<std::size_t>(readLe32(e) | (std::uint64_t{readLe32(e + 4)} << 32));
        EXPECT_EQ(fourccText(bytes->data() + ix), "ix00");
        EXPECT_EQ(readLe32(e + 8), readLe32(bytes->data() + ix + 4) + 8);
        covered += readLe32(e + 12);
    }
    EXPECT_EQ(covered, 13u);

    OpenClip clip(*bytes);
    ASSERT_EQ(clip.result, kAviOk);
    ASSERT_EQ(AVIStreamLength(clip.stream), 13);
    for (int n = 0; n < 13; ++n) {
        EXPECT_EQ(clip.pixels(n), framePixels(c, n)) << "frame " << n;
    }
}

// A clip written into memory as a recorder writes it: the stream made and its format set, then frames of any
// size.
struct MemoryClip {
    std::shared_ptr<std::vector<std::uint8_t>> bytes = std::make_shared<std::vector<std::uint8_t>>();
    AviFile* file = nullptr;
    AviStream* stream = nullptr;
    AviResult formatResult = kAviOk;

    MemoryClip(const ClipSpec& c, const std::vector<std::uint8_t>& format) {
        AVIFileOpenWriter(&file, std::make_unique<MemorySink>(bytes));
        AVIFileCreateStream(file, &stream, recorderStreamInfo(c));
        formatResult = AVIStreamSetFormat(stream, 0, format.data(), static_cast<std::int32_t>(format.size()));
    }
    explicit MemoryClip(const ClipSpec& c) : MemoryClip(c, dibFormat(c)) {}
    AviResult write(const std::vector<std::uint8_t>& pixels, std::size_t size) {
        return AVIStreamWrite(stream, -1, 1, pixels.data(), static_cast<std::int32_t>(size), kAviIfKeyframe);
    }
    // Completes the file and hands out its bytes.
    std::vector<std::uint8_t> close() {
        AVIStreamRelease(stream);
        AVIFileRelease(file);
        return *bytes;
    }
};

// Rows stored without the DIB padding (as some writers do) are spread out to DIB rows.
TEST(AviReader, TakesFramesWithUnpaddedRows) {
    const ClipSpec c{3, 4, 24, 10};
    MemoryClip written(c);
    std::vector<std::uint8_t> tight(36);
    for (std::size_t i = 0; i < tight.size(); ++i) {
        tight[i] = static_cast<std::uint8_t>(i + 1);
    }
    ASSERT_EQ(written.write(tight, tight.size()), kAviOk);

    OpenClip clip(written.close());
    const std::vector<std::uint8_t> rows = clip.pixels(0);
    ASSERT_EQ(rows.size(), 48u);
    for (int r = 0; r < 4; ++r) {
        EXPECT_TRUE(std::equal(tight.begin() + 9 * r, tight.begin() + 9 * r + 9, rows.begin() + 12 * r));
        EXPECT_EQ(rows[12 * r + 9], 0);
    }
}

// ---------------------------------------------------------------------------------------------------------
// Failed writes

// Reads back a file and checks that it holds exactly frames 0..count-1 of the clip.
void expectCompleteClip(const std::vector<std::uint8_t>& bytes, const ClipSpec& c, int count) {
    const std::vector<FoundChunk> chunks = riffLayout(bytes);
    for (const FoundChunk& k : chunks) {
        ASSERT_NE(k.id, "<overrun>") << "every chunk lies inside the file";
    }
    OpenClip clip(bytes);
    ASSERT_EQ(clip.result, kAviOk);
    AviStreamInfo info;
    AVIStreamInfo(clip.stream, &info, sizeof info);
    ASSERT_EQ(AVIStreamLength(clip.stream), count);
    for (int n = 0; n < count; ++n) {
        ASSERT_EQ(clip.pixels(n), framePixels(c, n)) << "frame " << n;
    }
}

struct FailureCase {
    std::uint64_t diskBytes;
    int failingWrite;
    std::uint64_t riffLimit;
};

class FailedWrite : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailedWrite, LeavesAValidFileWithEveryFrameWrittenBefore) {
    const ClipSpec c{64, 48, 24, 10};
    const FailureCase f = GetParam();
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    auto sink = std::make_unique<MemorySink>(bytes);
    sink->limit = f.diskBytes;
    sink->failingWrite = f.failingWrite;
    AviWriterOptions options;
    options.riffLimit = f.riffLimit;
    AviFile* file = nullptr;
    ASSERT_EQ(AVIFileOpenWriter(&file, std::move(sink), options), kAviOk);
    AviResult result = kAviOk;
    const int written = writeClip(file, c, 12, &result);
    ASSERT_LT(written, 12) << "the failure must happen during the recording";
    EXPECT_EQ(result, kAviErrFileWrite);
    // The file is complete before the caller releases it, and stays so afterwards.
    if (written > 0) {
        expectCompleteClip(*bytes, c, written);
    }
    AVIFileRelease(file);
    if (written > 0 || f.failingWrite > 2) {
        expectCompleteClip(*bytes, c, written);
    }
}

INSTANTIATE_TEST_SUITE_P(DiskFull, FailedWrite,
                         ::testing::Values(FailureCase{20000, -1, kAviRiffLimit},
                                           FailureCase{25000, -1, kAviRiffLimit},
                                           FailureCase{33000, -1, kAviRiffLimit},
                                           FailureCase{60000, -1, kAviRiffLimit},
                                           FailureCase{61000, -1, 30000}, FailureCase{75000, -1, 30000},
                                           FailureCase{90000, -1, 30000}));
INSTANTIATE_TEST_SUITE_P(WriteError, FailedWrite,
                         ::testing::Values(FailureCase{~0ULL, 3, kAviRiffLimit},
                                           FailureCase{~0ULL, 5, kAviRiffLimit},
                                           FailureCase{~0ULL, 6, kAviRiffLimit},
                                           FailureCase{~0ULL, 10, kAviRiffLimit},
                                           FailureCase{~0ULL, 14, 30000}, FailureCase{~0ULL, 15, 30000},
                                           FailureCase{~0ULL, 17, 30000}, FailureCase{~0ULL, 7, 30000},
                                           FailureCase{~0ULL, 9, 30000}, FailureCase{~0ULL, 11, 30000}));

// The real file sink under a file size limit: the recording stops with FILEWRITE instead of the process being
// killed, and the file holds every frame written.
TEST(AviWriter, FileSizeLimitEndsTheRecordingWithACompleteFile) {
    const ClipSpec c{370, 240, 24, 10};
    ScratchDir dir;
    const std::string path = dir.file("limited.avi");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{1 << 20, 1 << 20};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        AviFile* file = nullptr;
        AviResult result = kAviOk;
        int written = -1;
        if (AVIFileOpen(&file, path, kOfWrite | kOfCreate) == kAviOk) {
            written = writeClip(file, c, 10, &result);
            AVIFileRelease(file);
        }
        ::_exit(result == kAviErrFileWrite ? written : 99);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "the writer must not be killed by the size limit";
    const int written = WEXITSTATUS(status);
    EXPECT_EQ(written, 3) << "1 MiB holds three 266 kB frames with header and index";
    expectCompleteClip(readFileBytes(path), c, written);
}

TEST(AviWriter, WriteToARemovedFileFails) {
    const ClipSpec c{64, 48, 24, 10};
    ScratchDir dir;
    const std::string path = dir.file("removed.avi");
    AviFile* file = nullptr;
    ASSERT_EQ(AVIFileOpen(&file, path, kOfWrite | kOfCreate), kAviOk);
    AviStream* stream = nullptr;
    ASSERT_EQ(AVIFileCreateStream(file, &stream, recorderStreamInfo(c)), kAviOk);
    const std::vector<std::uint8_t> format = dibFormat(c);
    ASSERT_EQ(AVIStreamSetFormat(stream, 0, format.data(), static_cast<std::int32_t>(format.size())), kAviOk);
    const std::vector<std::uint8_t> pixels = framePixels(c, 0);
    ASSERT_EQ(
        AVIStreamWrite(stream, 0, 1, pixels.data(), static_cast<std::int32_t>(pixels.size()), kAviIfKeyframe),
        kAviOk);
    std::filesystem::remove(path);
    EXPECT_EQ(
        AVIStreamWrite(stream, 1, 1, pixels.data(), static_cast<std::int32_t>(pixels.size()), kAviIfKeyframe),
        kAviErrFileWrite);
    AVIStreamRelease(stream);
    AVIFileRelease(file);
}

TEST(AviWriter, RejectsCallsOutOfOrder) {
    const ClipSpec c{64, 48, 24, 10};
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    AviFile* file = nullptr;
    AVIFileOpenWriter(&file, std::make_unique<MemorySink>(bytes));
    AviStream* stream = nullptr;
    AviStreamInfo audio = recorderStreamInfo(c);
    audio.fccType = makeFourcc('a', 'u', 'd', 's');
    EXPECT_EQ(AVIFileCreateStream(file, &stream, audio), kAviErrUnsupported);
    ASSERT_EQ(AVIFileCreateStream(file, &stream, recorderStreamInfo(c)), kAviOk);
    const std::vector<std::uint8_t> pixels = framePixels(c, 0);
    const auto size = static_cast<std::int32_t>(pixels.size());
    EXPECT_EQ(AVIStreamWrite(stream, 0, 1, pixels.data(), size, kAviIfKeyframe), kAviErrBadFormat);
    std::vector<std::uint8_t> format = dibFormat(c);
    std::vector<std::uint8_t> compressed = format;
    writeLe32(compressed.data() + 16, makeFourcc('M', 'J', 'P', 'G'));
    EXPECT_EQ(AVIStreamSetFormat(stream, 0, compressed.data(), 40), kAviErrBadFormat);
    ASSERT_EQ(AVIStreamSetFormat(stream, 0, format.data(), 40), kAviOk);
    EXPECT_EQ(AVIStreamWrite(stream, 1, 1, pixels.data(), size, kAviIfKeyframe), kAviErrBadParam);
    EXPECT_EQ(AVIStreamWrite(stream, 0, 1, pixels.data(), size, kAviIfKeyframe), kAviOk);
    writeLe32(format.data() + 4, 65);
    EXPECT_EQ(AVIStreamSetFormat(stream, 0, format.data(), 40), kAviErrUnsupported);
    AVIStreamRelease(stream);
    AVIFileRelease(file);
    expectCompleteClip(*bytes, c, 1);
}

// A disk that fails every write while `broken` is set.
class BreakingSink : public MemorySink {
  public:
    BreakingSink(std::shared_ptr<std::vector<std::uint8_t>> bytes, std::shared_ptr<bool> broken)
        : MemorySink(std::move(bytes)), broken_(std::move(broken)) {}
    bool writeAt(std::uint64_t offset, const void* data, std::size_t count) override {
        return !*broken_ && MemorySink::writeAt(offset, data, count);
    }

  private:
    std::shared_ptr<bool> broken_;
};

// Completing the file (index, final header) can fail too; the recorder must hear of it, and a later release
// tries again.
TEST(AviWriter, AFailureWhileCompletingTheFileIsReported) {
    const ClipSpec c{64, 48, 24, 10};
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    auto broken = std::make_shared<bool>(false);
    AviFile* file = nullptr;
    ASSERT_EQ(AVIFileOpenWriter(&file, std::make_unique<BreakingSink>(bytes, broken)), kAviOk);
    ASSERT_EQ(writeClip(file, c, 2), 2);
    *broken = true;
    EXPECT_EQ(aviFileComplete(file), kAviErrFileWrite);
    *broken = false;
    AVIFileRelease(file);
    expectCompleteClip(*bytes, c, 2);

    bytes->clear();
    ASSERT_EQ(AVIFileOpenWriter(&file, std::make_unique<MemorySink>(bytes)), kAviOk);
    ASSERT_EQ(writeClip(file, c, 2), 2);
    EXPECT_EQ(aviFileComplete(file), kAviOk);
    const std::vector<std::uint8_t> completed = *bytes;
    AVIFileRelease(file);
    EXPECT_EQ(*bytes, completed) << "a completed file is left as it is";
}

// ---------------------------------------------------------------------------------------------------------
// Reading what is not a good AVI

struct OpenErrorCase {
    const char* name;
    std::vector<std::uint8_t> bytes; // empty name of a file that does not exist when `missing`
    AviResult expected;
};

TEST(AviReader, OpenErrorsAreTheLibraryCodes) {
    ScratchDir dir;
    AviFile* file = nullptr;
    EXPECT_EQ(AVIFileOpen(&file, dir.file("missing.avi"), kOfRead), kAviErrFileOpen);
    EXPECT_EQ(AVIFileOpen(&file, dir.path.string(), kOfRead), kAviErrFileOpen) << "a folder";
    const std::vector<std::pair<std::string, std::vector<std::uint8_t>>> notAvi = {
        {"empty", {}},
        {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '\n'}},
        {"wave", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}},
        {"no header list",
         {'R', 'I', 'F', 'F', 12, 0, 0, 0, 'A', 'V', 'I', ' ', 'J', 'U', 'N', 'K', 0, 0, 0, 0}},
    };
    for (const auto& [name, bytes] : notAvi) {
        writeFileBytes(dir.file("bad.avi"), bytes);
        EXPECT_EQ(AVIFileOpen(&file, dir.file("bad.avi"), kOfRead), kAviErrBadFormat) << name;
        EXPECT_EQ(file, nullptr);
    }
}

std::vector<std::uint8_t> smallClipBytes(const ClipSpec& c, int frames) {
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    AviFile* file = nullptr;
    AVIFileOpenWriter(&file, std::make_unique<MemorySink>(bytes));
    writeClip(file, c, frames);
    AVIFileRelease(file);
    return *bytes;
}

TEST(AviReader, NoVideoStreamIsNoDataAndCompressedVideoHasNoDecoder) {
    const ClipSpec c{37, 24, 24, 10};
    std::vector<std::uint8_t> audio = smallClipBytes(c, 2);
    writeLe32(audio.data() + dataOf(audio, "strh"), makeFourcc('a', 'u', 'd', 's'));
    OpenClip noVideo(audio);
    EXPECT_EQ(noVideo.result, kAviErrNoData);

    std::vector<std::uint8_t> compressed = smallClipBytes(c, 2);
    writeLe32(compressed.data() + dataOf(compressed, "strf") + 16, makeFourcc('Q', 'Q', 'Z', '9'));
    OpenClip clip(compressed);
    EXPECT_EQ(clip.result, kAviOk);
    EXPECT_EQ(clip.decoder, nullptr);
    AviFrameReader reader;
    EXPECT_EQ(reader.open(makeAviMemorySource(compressed)), kAviErrNoCompressor);

    // A known codec whose chunks hold something else: no frame is handed out, and none as garbage.
    writeLe32(compressed.data() + dataOf(compressed, "strf") + 16, makeFourcc('M', 'J', 'P', 'G'));
    Bitmap frame;
    if (reader.open(makeAviMemorySource(compressed)) == kAviOk) {
        EXPECT_FALSE(reader.frame(0, frame));
        EXPECT_FALSE(reader.frame(1, frame));
    }
}

// Opens damaged bytes every way the program does and reads every frame; whatever is handed out must be a
// frame of the original clip. Returns the frames handed out.
std::vector<int> framesHandedOut(const std::vector<std::uint8_t>& bytes, const ClipSpec& c, int frames) {
    std::vector<int> delivered;
    OpenClip clip(bytes);
    if (clip.decoder != nullptr) {
        const std::int32_t length = AVIStreamLength(clip.stream);
        EXPECT_LE(length, frames + 1);
        for (int n = -1; n <= length + 1; ++n) {
            const std::uint8_t* dib = AVIStreamGetFrame(clip.decoder, n);
            DibLayout l;
            if (dib == nullptr) {
                continue;
            }
            EXPECT_TRUE(readPackedDibLayout(dib, l));
            if (l.width == c.width && l.height == c.height && l.bitCount == c.bits) {
                const std::vector<std::uint8_t> pixels(dib + l.packedHeaderBytes,
                                                       dib + l.packedHeaderBytes + l.imageBytes);
                EXPECT_EQ(pixels, framePixels(c, n)) << "frame " << n;
            }
            delivered.push_back(n);
        }
    }
    AviFrameReader reader;
    if (reader.open(makeAviMemorySource(bytes)) == kAviOk) {
        Bitmap frame;
        for (int n = 0; n < reader.frameCount() + 1; ++n) {
            reader.frame(n, frame);
        }
    }
    return delivered;
}

// A clip whose frame chunks have the given sizes: a chunk of a whole frame's size holds the next frame of the
// clip, a shorter one the start of it.
std::vector<std::uint8_t> clipOfChunks(const ClipSpec& c, const std::vector<std::uint32_t>& sizes) {
    MemoryClip written(c);
    int whole = 0;
    for (const std::uint32_t size : sizes) {
        EXPECT_EQ(written.write(framePixels(c, whole), size), kAviOk);
        whole += size == imageBytes(c) ? 1 : 0;
    }
    return written.close();
}

// A chunk that cannot hold a whole picture is no frame: it is skipped and counted, whether the frames are
// found through the index or by walking the file, and every whole frame is still there.
TEST(AviReader, ChunksWithoutAWholeFrameAreSkippedAndCounted) {
    const ClipSpec c{37, 24, 24, 10};
    const std::uint32_t whole = imageBytes(c);
    const std::uint32_t unpadded = 37 * 3 * 24;
    std::vector<std::uint8_t> cut = smallClipBytes(c, 3);
    std::size_t lastFrameAt = 0;
    for (const FoundChunk& k : riffLayout(cut)) {
        lastFrameAt = k.id == "00db" ? k.dataAt : lastFrameAt;
    }
    cut.resize(lastFrameAt + whole / 2);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        int frames;
        std::uint32_t skipped;
    } cases[] = {
        {"empty chunks only", clipOfChunks(c, std::vector<std::uint32_t>(200, 0)), 0, 200},
        {"short chunks between frames", clipOfChunks(c, {whole, 0, whole, whole / 2, whole, 8}), 3, 3},
        {"a byte short of rows without padding", clipOfChunks(c, {whole, unpadded - 1}), 1, 1},
        {"a recording cut inside its last frame", cut, 2, 1},
    };
    for (const Case& k : cases) {
        OpenClip clip(k.bytes);
        ASSERT_EQ(clip.result, kAviOk) << k.name;
        EXPECT_EQ(AVIStreamLength(clip.stream), k.frames) << k.name;
        EXPECT_EQ(aviStreamSkippedChunks(clip.stream), k.skipped) << k.name;
        for (int n = 0; n < k.frames; ++n) {
            EXPECT_EQ(clip.pixels(n), framePixels(c, n)) << k.name << ", frame " << n;
        }
        EXPECT_TRUE(clip.pixels(k.frames).empty()) << k.name;
        AviFrameReader reader;
        ASSERT_EQ(reader.open(makeAviMemorySource(k.bytes)), kAviOk) << k.name;
        EXPECT_EQ(reader.frameCount(), k.frames) << k.name;
        EXPECT_EQ(reader.skippedChunks(), k.skipped) << k.name;
    }
}

// Without its colour table an 8-bit frame has no colours: such a stream is refused, with the reason, rather
// than read as black frames, and the writer does not make one.
TEST(AviReader, EightBitFramesWithoutTheirColourTableAreRefused) {
    const ClipSpec c{37, 24, 8, 10};
    std::vector<std::uint8_t> bytes = smallClipBytes(c, 2);
    // The format keeps its 40-byte header; the table behind it becomes a JUNK chunk.
    const std::size_t strf = dataOf(bytes, "strf");
    writeLe32(bytes.data() + strf - 4, 40);
    writeLe32(bytes.data() + strf + 40, makeFourcc('J', 'U', 'N', 'K'));
    writeLe32(bytes.data() + strf + 44, 1024 - 8);
    OpenClip clip(bytes);
    ASSERT_EQ(clip.result, kAviOk);
    EXPECT_EQ(clip.decoder, nullptr);
    AviFrameReader reader;
    EXPECT_EQ(reader.open(makeAviMemorySource(bytes)), kAviErrNoCompressor);
    EXPECT_NE(reader.refusal().find("colour table"), std::string::npos) << reader.refusal();

    std::vector<std::uint8_t> header = dibFormat(c);
    header.resize(40);
    MemoryClip written(c, header);
    EXPECT_EQ(written.formatResult, kAviErrBadFormat);
    written.close();
}

TEST(AviReader, TruncatedFilesGiveTheFramesTheyStillHold) {
    const ClipSpec c{37, 24, 24, 10};
    const std::vector<std::uint8_t> whole = smallClipBytes(c, 3);
    std::vector<std::size_t> frameEnds;
    std::size_t moviAt = 0;
    for (const FoundChunk& k : riffLayout(whole)) {
        if (k.id == "00db") {
            frameEnds.push_back(k.dataAt + k.size);
        }
        moviAt = k.type == "movi" ? k.dataAt : moviAt;
    }
    for (std::size_t cut = 0; cut < whole.size(); cut += 7) {
        const std::vector<std::uint8_t> bytes(whole.begin(),
                                              whole.begin() + static_cast<std::ptrdiff_t>(cut));
        const std::vector<int> delivered = framesHandedOut(bytes, c, 3);
        if (cut > moviAt) {
            const auto complete =
                std::count_if(frameEnds.begin(), frameEnds.end(), [&](std::size_t e) { return e <= cut; });
            EXPECT_EQ(static_cast<long>(delivered.size()), complete) << "cut at " << cut;
        }
    }
}

TEST(AviReader, WrongChunkSizesNeverHandOutWrongFrames) {
    const ClipSpec c{37, 24, 8, 10};
    const std::vector<std::uint8_t> whole = smallClipBytes(c, 3);
    for (const FoundChunk& k : riffLayout(whole)) {
        for (std::uint32_t size : {0u, 1u, 3u, k.size - 1, k.size + 1, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
            std::vector<std::uint8_t> bytes = whole;
            writeLe32(bytes.data() + k.dataAt - 4, size);
            SCOPED_TRACE(k.id + " size " + std::to_string(size));
            framesHandedOut(bytes, c, 3);
        }
    }
}

struct FieldCase {
    const char* name;
    const char* chunk;
    std::size_t offset;
    std::uint32_t value;
    int framesExpected; // -1: the stream cannot be decoded
};

class AbsurdField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(AbsurdField, GivesAnErrorOrTheTrueFrames) {
    const ClipSpec c{37, 24, 24, 10};
    const FieldCase f = GetParam();
    std::vector<std::uint8_t> bytes = smallClipBytes(c, 3);
    writeLe32(bytes.data() + dataOf(bytes, f.chunk) + f.offset, f.value);
    const std::vector<int> delivered = framesHandedOut(bytes, c, 3);
    OpenClip clip(bytes);
    if (f.framesExpected < 0) {
        EXPECT_EQ(clip.decoder, nullptr);
    } else {
        EXPECT_EQ(static_cast<int>(delivered.size()), f.framesExpected);
    }
}

INSTANTIATE_TEST_SUITE_P(Headers, AbsurdField,
                         ::testing::Values(FieldCase{"width", "strf", 4, 0x7FFFFFFF, -1},
                                           FieldCase{"negative width", "strf", 4, 0xFFFFFFF0u, -1},
                                           FieldCase{"height", "strf", 8, 0x80000000u, -1},
                                           FieldCase{"zero height", "strf", 8, 0, -1},
                                           FieldCase{"huge area", "strf", 4, 4000000, -1},
                                           FieldCase{"bit count", "strf", 14, 7, -1},
                                           FieldCase{"header size", "strf", 0, 1000, -1},
                                           FieldCase{"image size lie", "strf", 20, 1, 3},
                                           FieldCase{"image size huge", "strf", 20, 0xFFFFFFFFu, 3},
                                           FieldCase{"length", "strh", 32, 0xFFFFFFFFu, 3},
                                           FieldCase{"rate", "strh", 24, 0, 3},
                                           FieldCase{"index outside", "idx1", 16 + 8, 0xFFFFFF00u, 3},
                                           FieldCase{"index size short", "idx1", 16 + 12, 10, 3},
                                           FieldCase{"index size huge", "idx1", 12, 0xFFFFFFFFu, 3}),
                         [](const ::testing::TestParamInfo<FieldCase>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name;
                         });

TEST(AviReader, BeginStreamingChecksTheRange) {
    OpenClip clip(smallClipBytes({37, 24, 24, 10}, 3));
    EXPECT_EQ(AVIStreamBeginStreaming(clip.stream, 0, 3, 1000), kAviOk);
    EXPECT_EQ(AVIStreamBeginStreaming(clip.stream, 2, 1, 1000), kAviErrBadParam);
    EXPECT_EQ(AVIStreamBeginStreaming(clip.stream, 0, 4, 1000), kAviErrBadParam);
    EXPECT_EQ(AVIStreamBeginStreaming(nullptr, 0, 3, 1000), kAviErrBadHandle);
}

} // namespace

namespace {

// A few bytes that declare a picture of 4096 × 4096 but hold no frame must not make the reader allocate one.
TEST(AviReader, AStreamWithoutAFrameHandsOutNoPictureOfItsDeclaredSize) {
    const std::vector<std::uint8_t> bytes = smallClipBytes(ClipSpec{4096, 4096, 32, 10}, 0);
    ASSERT_LT(bytes.size(), 16384u);
    AviFrameReader reader;
    ASSERT_EQ(reader.open(makeAviMemorySource(bytes)), kAviOk);
    EXPECT_EQ(reader.frameCount(), 0);
    Bitmap frame(8, 8, 32);
    EXPECT_FALSE(reader.frame(0, frame));
    EXPECT_TRUE(frame.empty());
}

} // namespace

namespace {

// ---------------------------------------------------------------------------------------------------------
// Recordings that were not finished, indexes that repeat themselves, streams that start late

// A disk whose writer is as good as dead once `frozen` is set: frames and whatever is appended after them
// still reach it, but the sizes and counts in the headers behind them are no longer brought up to date, as
// in a recording killed between two refreshes of its headers.
class FreezingSink : public MemorySink {
  public:
    FreezingSink(std::shared_ptr<std::vector<std::uint8_t>> bytes, std::shared_ptr<bool> frozen)
        : MemorySink(std::move(bytes)), frozen_(std::move(frozen)) {}
    bool writeAt(std::uint64_t offset, const void* data, std::size_t count) override {
        if (*frozen_ && offset < written_) {
            return true;
        }
        written_ = std::max<std::uint64_t>(written_, offset + count);
        return MemorySink::writeAt(offset, data, count);
    }

  private:
    std::shared_ptr<bool> frozen_;
    std::uint64_t written_ = 0;
};

struct KilledCase {
    const char* name;
    int frozenAfter; // frames written while the headers were kept up to date, of 13
    std::uint64_t riffLimit;
    bool cutInLastFrame;
    int expectedFrames;
    std::uint32_t expectedPastEnd;
};

class KilledRecording : public ::testing::TestWithParam<KilledCase> {};

// The reader walks on past the sizes the headers declare and takes every whole frame the file holds, in
// order, and says that the file was not finished.
TEST_P(KilledRecording, GivesEveryWholeFrameTheFileHolds) {
    const ClipSpec c{64, 48, 24, 10}; // 9216-byte frames: three in a first RIFF of 40000 bytes, four after
    const KilledCase k = GetParam();
    auto written = std::make_shared<std::vector<std::uint8_t>>();
    auto frozen = std::make_shared<bool>(false);
    AviWriterOptions options;
    options.riffLimit = k.riffLimit;
    options.headerRefreshMs = 0;
    AviFile* file = nullptr;
    AVIFileOpenWriter(&file, std::make_unique<FreezingSink>(written, frozen), options);
    AviStream* stream = nullptr;
    AVIFileCreateStream(file, &stream, recorderStreamInfo(c));
    const std::vector<std::uint8_t> format = dibFormat(c);
    AVIStreamSetFormat(stream, 0, format.data(), static_cast<std::int32_t>(format.size()));
    for (int n = 0; n < 13; ++n) {
        *frozen = n >= k.frozenAfter;
        const std::vector<std::uint8_t> pixels = framePixels(c, n);
        AVIStreamWrite(stream, n, 1, pixels.data(), static_cast<std::int32_t>(pixels.size()), kAviIfKeyframe);
    }
    std::vector<std::uint8_t> left = *written; // what the kill leaves
    left.resize(left.size() - (k.cutInLastFrame ? imageBytes(c) / 2 : 0));
    AVIStreamRelease(stream);
    AVIFileRelease(file);

    ScratchDir dir;
    writeFileBytes(dir.file("killed.avi"), left);
    AviFrameReader reader;
    std::string why, note;
    ASSERT_TRUE(openMovieToAnalyse(reader, dir.file("killed.avi"), why, note)) << why;
    EXPECT_EQ(reader.frameCount(), k.expectedFrames);
    EXPECT_EQ(reader.framesPastEnd(), k.expectedPastEnd);
    EXPECT_EQ(reader.skippedChunks(), k.cutInLastFrame ? 1u : 0u);
    const std::string said = std::to_string(k.expectedPastEnd) + " frames past its recorded end";
    EXPECT_EQ(note.find(said) != std::string::npos, reader.unfinished()) << note;
    OpenClip opened(left);
    for (int n = 0; n < k.expectedFrames; ++n) {
        EXPECT_EQ(opened.pixels(n), framePixels(c, n)) << "frame " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kills, KilledRecording,
    ::testing::Values(KilledCase{"finished", 13, kAviRiffLimit, false, 13, 0},
                      KilledCase{"plain", 3, kAviRiffLimit, false, 13, 10},
                      KilledCase{"plain_inside_a_frame", 3, kAviRiffLimit, true, 12, 9},
                      KilledCase{"before_the_first_RIFF_closed", 2, 40000, false, 13, 11},
                      KilledCase{"in_a_later_RIFF", 6, 40000, false, 13, 7},
                      KilledCase{"in_a_later_RIFF_inside_a_frame", 6, 40000, true, 12, 6}),
    [](const ::testing::TestParamInfo<KilledCase>& info) { return info.param.name; });

// An OpenDML clip of 13 frames (three in the first RIFF, four in each after) whose super index is made
// anew: `entries` entries, each written by `entry(i, e, at)` into its 16 bytes `e`, with `extraBytes` added
// to the file at `at`.
template <typename Entry>
std::vector<std::uint8_t> withSuperIndex(std::uint32_t entries, std::size_t extraBytes, Entry entry) {
    std::vector<std::uint8_t> bytes;
    {
        auto written = std::make_shared<std::vector<std::uint8_t>>();
        AviWriterOptions options;
        options.riffLimit = 40000;
        AviFile* file = nullptr;
        AVIFileOpenWriter(&file, std::make_unique<MemorySink>(written), options);
        writeClip(file, ClipSpec{64, 48, 24, 10}, 13);
        AVIFileRelease(file);
        bytes = *written;
    }
    const std::size_t indx = dataOf(bytes, "indx");
    const std::size_t at = bytes.size();
    bytes.resize(at + extraBytes);
    writeLe32(bytes.data() + indx + 4, entries);
    for (std::uint32_t i = 0; i < entries; ++i) {
        entry(i, bytes.data() + indx + 24 + 16 * i, bytes.data() + at, at);
    }
    return bytes;
}

// A super index that names one standard index over and over reads it once: the clip keeps its 13 frames in
// their order instead of the first RIFF's three, repeated.
TEST(AviReader, AStandardIndexNamedManyTimesIsReadOnce) {
    OpenClip clip(withSuperIndex(256, 0, [](std::uint32_t i, std::uint8_t* e, std::uint8_t*, std::size_t) {
        std::copy_n(e - 16 * i, 16, e);
    }));
    ASSERT_EQ(AVIStreamLength(clip.stream), 13);
    for (int n = 0; n < 13; ++n) {
        EXPECT_EQ(clip.pixels(n), framePixels(ClipSpec{64, 48, 24, 10}, n)) << "frame " << n;
    }
}

// Standard indexes that overlap, each one's entries being the headers of the ones after it, list far more
// entries than the file has room for: the stream is refused with the reason before they are read.
TEST(AviReader, IndexesListingMoreFramesThanTheFileHoldsAreRefused) {
    constexpr std::uint32_t kIndexes = 256;
    const std::vector<std::uint8_t> bytes = withSuperIndex(
        kIndexes, 32 * kIndexes, [](std::uint32_t j, std::uint8_t* e, std::uint8_t* extra, std::size_t at) {
            std::uint8_t* h = extra + 32 * j;
            writeLe32(h, makeFourcc('i', 'x', '0', '0'));
            writeLe32(h + 4, 32 * (kIndexes - j) - 8);
            writeLe16(h + 8, 2);
            h[11] = 1;
            writeLe32(h + 12, 0xFFFFFFFFu);
            writeLe32(h + 16, makeFourcc('0', '0', 'd', 'b'));
            writeLe32(e, static_cast<std::uint32_t>(at + 32 * j));
            writeLe32(e + 8, 32 * (kIndexes - j));
        });
    OpenClip opened(bytes);
    EXPECT_EQ(opened.result, kAviErrBadFormat);
    AviFrameReader reader;
    EXPECT_EQ(reader.open(makeAviMemorySource(bytes)), kAviErrBadFormat);
    EXPECT_EQ(reader.refusal(), "its indexes list more frames than the file can hold");
}

// A stream whose first position is near or past 2^31 is read from its first frame to its last, every frame
// with its pixels (the frames of the same clip starting at 0).
TEST(AviReader, AStreamStartingNearTwoToThe31IsReadWhole) {
    const std::vector<std::uint8_t> atZero = smallClipBytes({37, 24, 24, 10}, 20);
    AviFrameReader expected;
    ASSERT_EQ(expected.open(makeAviMemorySource(atZero)), kAviOk);
    for (const std::uint32_t start : {0x7FFFFFF0u, 0x80000000u, 0xFFFFFFF8u}) {
        std::vector<std::uint8_t> bytes = atZero;
        writeLe32(bytes.data() + dataOf(bytes, "strh") + 28, start);
        AviFrameReader reader;
        ASSERT_EQ(reader.open(makeAviMemorySource(bytes)), kAviOk);
        ASSERT_EQ(reader.frameCount(), 20);
        Bitmap got, want;
        for (int n = 0; n < 20; ++n) {
            ASSERT_TRUE(reader.frame(n, got) && expected.frame(n, want))
                << "start " << start << ", frame " << n;
            EXPECT_TRUE(std::equal(got.bits(), got.bits() + got.sizeBytes(), want.bits()));
        }
    }
}

} // namespace
