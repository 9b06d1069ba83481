// Interoperation with an independent AVI implementation (the ffmpeg tools): it reads our files with the right
// size, frame count, rate and pixels, and we read its uncompressed AVI files. Skipped where it is not
// installed.
#include "recording/AviFrames.h"
#include "recording/AviTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

using namespace avitest;

namespace {

bool haveFfmpeg() {
    return std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") == 0;
}

std::string capture(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            out.append(buffer, n);
        }
        ::pclose(pipe);
    }
    return out;
}

// "key=value" lines of ffprobe about the first video stream, counting the packets through the index.
std::string probe(const std::string& path) {
    return capture(
        "ffprobe -v error -select_streams v:0 -count_packets -show_entries "
        "stream=codec_name,width,height,r_frame_rate,nb_read_packets -of default=noprint_wrappers=1 '" +
        path + "'");
}

std::string expectedProbe(int width, int height, std::uint32_t rate, int frames) {
    std::ostringstream s;
    s << "codec_name=rawvideo\nwidth=" << width << "\nheight=" << height << "\nr_frame_rate=" << rate
      << "/1\nnb_read_packets=" << frames << "\n";
    return s.str();
}

struct PeerCase {
    ClipSpec clip;
    int frames;
    std::uint64_t riffLimit;
};

class PeerReadsOurFiles : public ::testing::TestWithParam<PeerCase> {};

TEST_P(PeerReadsOurFiles, WithSizeCountRateAndEveryPixel) {
    if (!haveFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const PeerCase p = GetParam();
    const ClipSpec& c = p.clip;
    ScratchDir dir;
    const std::string path = dir.file("ours.avi");
    AviFile* file = nullptr;
    AviWriterOptions options;
    options.riffLimit = p.riffLimit;
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    ASSERT_EQ(AVIFileOpenWriter(&file, std::make_unique<MemorySink>(bytes), options), kAviOk);
    ASSERT_EQ(writeClip(file, c, p.frames), p.frames);
    AVIFileRelease(file);
    writeFileBytes(path, *bytes);

    EXPECT_EQ(probe(path), expectedProbe(c.width, c.height, c.rate, p.frames));

    const std::string decoded = dir.file("decoded.raw");
    ASSERT_EQ(
        std::system(
            ("ffmpeg -v error -y -i '" + path + "' -f rawvideo -pix_fmt bgr24 '" + decoded + "'").c_str()),
        0);
    const std::vector<std::uint8_t> raw = readFileBytes(decoded);
    const std::size_t frameBytes = std::size_t{3} * c.width * c.height;
    ASSERT_EQ(raw.size(), frameBytes * p.frames);
    for (int n = 0; n < p.frames; ++n) {
        const std::vector<std::uint8_t> stored = framePixels(c, n);
        for (int top = 0; top < c.height; ++top) {
            for (int x = 0; x < c.width; ++x) {
                const std::uint8_t* got =
                    raw.data() + n * frameBytes + (std::size_t{3} * (top * c.width + x));
                ASSERT_EQ((std::array<std::uint8_t, 3>{got[0], got[1], got[2]}),
                          expectedBgr(c, stored, x, c.height - 1 - top))
                    << "frame " << n << " at " << x << "," << top << " from the top";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Clips, PeerReadsOurFiles,
                         ::testing::Values(PeerCase{{370, 240, 24, 10}, 3, kAviRiffLimit},
                                           PeerCase{{370, 240, 32, 10}, 3, kAviRiffLimit},
                                           PeerCase{{640, 480, 24, 30}, 3, kAviRiffLimit},
                                           PeerCase{{640, 480, 32, 30}, 2, kAviRiffLimit},
                                           PeerCase{{370, 240, 8, 10}, 2, kAviRiffLimit},
                                           PeerCase{{37, 24, 24, 10, true}, 2, kAviRiffLimit},
                                           // OpenDML: four RIFFs, super index, standard indexes
                                           PeerCase{{64, 48, 24, 10}, 13, 40000}));

class WeReadPeerFiles : public ::testing::TestWithParam<const char*> {};

TEST_P(WeReadPeerFiles, UncompressedFramesMatchTheirSource) {
    if (!haveFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const std::string pixelFormat = GetParam();
    const int bytesPerPixel = pixelFormat == "bgra" ? 4 : 3;
    const int width = 370, height = 240, frames = 3;
    ScratchDir dir;
    // Source frames top-down, rows without padding, as the peer takes raw video.
    std::vector<std::uint8_t> source(static_cast<std::size_t>(bytesPerPixel) * width * height * frames);
    for (std::size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<std::uint8_t>(i * 7 + i / 1111);
    }
    writeFileBytes(dir.file("source.raw"), source);
    const std::string path = dir.file("peer.avi");
    ASSERT_EQ(
        std::system(("ffmpeg -v error -y -f rawvideo -pix_fmt " + pixelFormat + " -s 370x240 -r 10 -i '" +
                     dir.file("source.raw") + "' -c:v rawvideo '" + path + "'")
                        .c_str()),
        0);

    AviFrameReader reader;
    ASSERT_EQ(reader.open(path), kAviOk);
    ASSERT_EQ(reader.frameCount(), frames);
    EXPECT_EQ(reader.width(), width);
    EXPECT_EQ(reader.height(), height);
    const AviStreamInfo& info = reader.streamInfo();
    ASSERT_NE(info.dwScale, 0u);
    EXPECT_EQ(info.dwRate / info.dwScale, 10u);
    for (int n = 0; n < frames; ++n) {
        Bitmap frame;
        ASSERT_TRUE(reader.frame(n, frame));
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* want = source.data() + static_cast<std::size_t>(bytesPerPixel) *
                                                           ((n * height + (height - 1 - y)) * width);
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* got = frame.row(y) + 4 * x;
                const std::uint8_t* w = want + bytesPerPixel * x;
                ASSERT_TRUE(got[0] == w[0] && got[1] == w[1] && got[2] == w[2])
                    << "frame " << n << " at " << x << "," << y;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PixelFormats, WeReadPeerFiles, ::testing::Values("bgr24", "bgra"));

} // namespace

namespace {

struct KillCase {
    ClipSpec clip;
    int frames;
    std::uint64_t riffLimit;
};

class KilledWriter : public ::testing::TestWithParam<KillCase> {};

// The bytes of a recording whose process died after `frames` frames: the writer is never released, so no
// index and no final header are ever written.
TEST_P(KilledWriter, LeavesEveryFrameReadableByUsAndThePeer) {
    const KillCase k = GetParam();
    const ClipSpec& c = k.clip;
    AviWriterOptions options;
    options.riffLimit = k.riffLimit;
    options.headerRefreshMs = 0;
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    AviFile* file = nullptr;
    ASSERT_EQ(AVIFileOpenWriter(&file, std::make_unique<MemorySink>(bytes), options), kAviOk);
    AviStream* stream = nullptr;
    ASSERT_EQ(AVIFileCreateStream(file, &stream, recorderStreamInfo(c)), kAviOk);
    const std::vector<std::uint8_t> format = dibFormat(c);
    ASSERT_EQ(AVIStreamSetFormat(stream, 0, format.data(), static_cast<std::int32_t>(format.size())), kAviOk);
    for (int n = 0; n < k.frames; ++n) {
        const std::vector<std::uint8_t> pixels = framePixels(c, n);
        ASSERT_EQ(AVIStreamWrite(stream, n, 1, pixels.data(), static_cast<std::int32_t>(pixels.size()),
                                 kAviIfKeyframe),
                  kAviOk);
    }
    const std::vector<std::uint8_t> killed = *bytes;
    AVIStreamRelease(stream);
    AVIFileRelease(file);

    ScratchDir dir;
    const std::string path = dir.file("killed.avi");
    writeFileBytes(path, killed);
    AviFrameReader reader;
    ASSERT_EQ(reader.open(path), kAviOk);
    ASSERT_EQ(reader.frameCount(), k.frames);
    for (int n = 0; n < k.frames; ++n) {
        Bitmap frame;
        ASSERT_TRUE(reader.frame(n, frame)) << "frame " << n;
        const std::vector<std::uint8_t> stored = framePixels(c, n);
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                const std::uint8_t* got = frame.row(y) + 4 * x;
                ASSERT_EQ((std::array<std::uint8_t, 3>{got[0], got[1], got[2]}), expectedBgr(c, stored, x, y))
                    << "frame " << n << " at " << x << "," << y;
            }
        }
    }
    if (!haveFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    EXPECT_EQ(probe(path), expectedProbe(c.width, c.height, c.rate, k.frames));
}

INSTANTIATE_TEST_SUITE_P(Recordings, KilledWriter,
                         ::testing::Values(KillCase{{370, 240, 32, 10}, 5, kAviRiffLimit},
                                           KillCase{{640, 480, 24, 30}, 3, kAviRiffLimit},
                                           // killed inside the third RIFF of an OpenDML file
                                           KillCase{{64, 48, 24, 10}, 11, 40000}));

} // namespace
