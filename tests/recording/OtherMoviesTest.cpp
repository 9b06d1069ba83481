// Movies other programs wrote (made here by the ffmpeg tools from frames the test knows): grey, YUV and
// compressed frames are analysed by kestrane-analyse into the same maps as the frames themselves, exactly for
// lossless ones; jumps, damaged frames and unknown codecs. Skipped where ffmpeg is not installed.
#include "imaging/Bmp.h"
#include "recording/AviFrames.h"
#include "recording/AviTestSupport.h"
#include "recording/FrameDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

using namespace avitest;

namespace {

constexpr int kFrames = 3;

bool haveFfmpeg() {
    return std::system("command -v ffmpeg >/dev/null 2>&1") == 0;
}

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Smooth patterns that differ from frame to frame, as a microscope sees them; grey frames have R = G = B.
Bitmap knownFrame(int n, bool grey) {
    Bitmap frame(640, 480, 24);
    for (int y = 0; y < frame.height(); ++y) {
        std::uint8_t* row = frame.row(y);
        for (int x = 0; x < frame.width(); ++x) {
            for (int c = 0; c < 3; ++c) {
                const int channel = grey ? 0 : c;
                const double v =
                    128 + 90 * std::sin(x / (23.0 + 7 * channel) + n) * std::cos(y / (31.0 + channel)) +
                    30 * std::sin((x + y) / 57.0 - n);
                row[3 * x + c] = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
            }
        }
    }
    return frame;
}

// How close the maps of a movie come to those of its frames and to those of ffmpeg's own decode of it.
enum class Match {
    kExact,      // identical to both: the movie holds the very frames
    kLikeFfmpeg, // identical to ffmpeg's decode of it (lossless, but the frames were converted to grey or
                 // YUV)
    kClose,      // within a median of 2 levels of both
};

struct Movie {
    const char* name;
    const char* encode; // ffmpeg's output options
    bool grey;          // made from grey frames
    Match match;
};

const Movie kMovies[] = {
    {"grey", "-pix_fmt gray -c:v rawvideo", true, Match::kExact},
    {"grey_of_colour", "-pix_fmt gray -c:v rawvideo", false, Match::kLikeFfmpeg},
    {"yuy2", "-pix_fmt yuyv422 -c:v rawvideo", false, Match::kClose},
    {"uyvy", "-pix_fmt uyvy422 -c:v rawvideo", false, Match::kClose},
    {"i420", "-pix_fmt yuv420p -c:v rawvideo", false, Match::kClose},
    {"mjpeg", "-c:v mjpeg -q:v 3", false, Match::kClose},
    {"ffv1", "-c:v ffv1", false, Match::kExact},
    {"h264_lossless", "-c:v libx264rgb -qp 0", false, Match::kExact},
    {"h264_lossless_yuv", "-c:v libx264 -qp 0 -pix_fmt yuv444p", false, Match::kLikeFfmpeg},
    {"h264", "-c:v libx264 -crf 12 -g 2", false, Match::kClose},
};

// The pixels of a binary PGM map ("P5", width, height, 255, then the pixels), never empty.
std::vector<std::uint8_t> pgmPixels(const std::string& path) {
    const std::vector<std::uint8_t> bytes = readFileBytes(path);
    std::istringstream head(
        std::string(bytes.begin(), bytes.begin() + std::min<std::ptrdiff_t>(32, bytes.size())));
    std::string magic;
    std::size_t width = 0, height = 0, top = 0;
    head >> magic >> width >> height >> top;
    const std::size_t pixels = width * height;
    if (magic != "P5" || pixels == 0 || bytes.size() < pixels) {
        ADD_FAILURE() << "no map in " << path;
        return {0};
    }
    return std::vector<std::uint8_t>(bytes.end() - static_cast<std::ptrdiff_t>(pixels), bytes.end());
}

// Median of the absolute differences between two maps.
int medianDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size()) {
        return 256;
    }
    std::vector<int> d(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        d[i] = std::abs(int{a[i]} - int{b[i]});
    }
    std::nth_element(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(d.size() / 2), d.end());
    return d.empty() ? 0 : d[d.size() / 2];
}

class OtherMovies : public ::testing::TestWithParam<Movie> {
  protected:
    static void SetUpTestSuite() {
        if (!haveFfmpeg()) {
            return;
        }
        dir_ = new Folder;
        for (bool grey : {false, true}) {
            for (int n = 0; n < kFrames; ++n) {
                const std::string base =
                    dir_->file(std::string(grey ? "grey" : "colour") + std::to_string(n));
                std::string error;
                ASSERT_TRUE(writeBmpFile(base + ".bmp", knownFrame(n, grey), error)) << error;
                ASSERT_TRUE(run(std::string(KESTRANE_ANALYSE_PATH) + " '" + base + ".bmp' '" + base + "'"));
            }
        }
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    // Its own folder: the other tests' scratch folders come and go meanwhile.
    struct Folder {
        std::filesystem::path path =
            std::filesystem::current_path() / ("other-movies-" + std::to_string(::getpid()));
        Folder() { std::filesystem::create_directories(path); }
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
        std::string file(const std::string& name) const { return (path / name).string(); }
    };
    static Folder* dir_;
};

OtherMovies::Folder* OtherMovies::dir_ = nullptr;

TEST_P(OtherMovies, GiveTheMapsOfTheirFrames) {
    if (dir_ == nullptr) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const Movie m = GetParam();
    const std::string frames = dir_->file(std::string(m.grey ? "grey" : "colour") + "%d.bmp");
    const std::string movie = dir_->file(std::string(m.name) + ".avi");
    ASSERT_TRUE(run("ffmpeg -y -framerate 10 -i '" + frames + "' " + m.encode + " '" + movie + "'"))
        << m.encode;
    // The independent computation: ffmpeg's own decode, analysed from uncompressed RGB.
    const std::string decoded = dir_->file(std::string(m.name) + "-ffmpeg.avi");
    ASSERT_TRUE(run("ffmpeg -y -i '" + movie + "' -c:v rawvideo -pix_fmt bgr24 '" + decoded + "'"));
    const std::string ours = dir_->file(std::string(m.name) + "-maps");
    const std::string theirs = dir_->file(std::string(m.name) + "-ffmpeg-maps");
    ASSERT_TRUE(run(std::string(KESTRANE_ANALYSE_PATH) + " '" + movie + "' '" + ours + "'"));
    ASSERT_TRUE(run(std::string(KESTRANE_ANALYSE_PATH) + " '" + decoded + "' '" + theirs + "'"));
    for (int n = 0; n < kFrames; ++n) {
        for (const char* map : {"sind", "extinction", "transmission"}) {
            char numbered[64];
            std::snprintf(numbered, sizeof numbered, "/%s-%05d.pgm", map, n);
            const auto got = pgmPixels(ours + numbered);
            const auto fromFfmpeg = pgmPixels(theirs + numbered);
            const auto fromFrame = pgmPixels(
                dir_->file(std::string(m.grey ? "grey" : "colour") + std::to_string(n) + "/" + map + ".pgm"));
            SCOPED_TRACE(std::string(map) + " of frame " + std::to_string(n));
            if (m.match == Match::kExact) {
                EXPECT_TRUE(got == fromFrame);
            } else if (m.match == Match::kClose) {
                EXPECT_LE(medianDifference(got, fromFrame), 2);
            }
            if (m.match == Match::kClose) {
                EXPECT_LE(medianDifference(got, fromFfmpeg), 2);
            } else {
                EXPECT_TRUE(got == fromFfmpeg);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, OtherMovies, ::testing::ValuesIn(kMovies),
                         [](const ::testing::TestParamInfo<Movie>& info) {
                             return std::string(info.param.name);
                         });

// A small compressed movie written by ffmpeg, read into memory.
std::vector<std::uint8_t> ffmpegMovie(const ScratchDir& dir, const std::string& encode, int frames) {
    const std::string path = dir.file("small.avi");
    if (!run("ffmpeg -y -f lavfi -i testsrc=size=96x64:rate=10 -frames:v " + std::to_string(frames) + " " +
             encode + " '" + path + "'")) {
        ADD_FAILURE() << "ffmpeg could not write " << encode;
    }
    return readFileBytes(path);
}

std::vector<Bitmap> readInOrder(const std::vector<std::uint8_t>& bytes) {
    AviFrameReader reader;
    EXPECT_EQ(reader.open(makeAviMemorySource(bytes)), kAviOk) << reader.refusal();
    std::vector<Bitmap> frames(static_cast<std::size_t>(reader.frameCount()));
    for (std::int32_t n = 0; n < reader.frameCount(); ++n) {
        EXPECT_TRUE(reader.frame(n, frames[static_cast<std::size_t>(n)])) << "frame " << n;
    }
    return frames;
}

// Stepping back and forth, as the viewer's stepper does, decodes each frame from the key frame before it: the
// same pictures as reading in order, for inter-coded frames with reordering (B-frames) too.
TEST(OtherMovieJumps, GiveTheFramesReadInOrder) {
    if (!haveFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    ScratchDir dir;
    const std::vector<std::uint8_t> bytes = ffmpegMovie(dir, "-c:v libx264 -g 7 -bf 2 -pix_fmt yuv420p", 20);
    const std::vector<Bitmap> inOrder = readInOrder(bytes);
    ASSERT_EQ(inOrder.size(), 20u);
    EXPECT_FALSE(inOrder[3] == inOrder[4]); // the pattern moves: a wrong frame would show
    AviFrameReader reader;
    ASSERT_EQ(reader.open(makeAviMemorySource(bytes)), kAviOk);
    Bitmap frame;
    for (std::int32_t n : {15, 3, 4, 4, 19, 0, 8, 7, 13, 14, 2}) {
        ASSERT_TRUE(reader.frame(n, frame)) << "frame " << n;
        EXPECT_TRUE(frame == inOrder[static_cast<std::size_t>(n)]) << "frame " << n;
    }
}

// Where the chunk of frame `n` starts in the file (its data), found through the reader's own index walk.
std::size_t chunkData(const std::vector<std::uint8_t>& bytes, int n) {
    int seen = 0;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id(reinterpret_cast<const char*>(bytes.data() + at), 4);
        const std::uint32_t size = readLe32(bytes.data() + at + 4);
        if (id == "LIST") {
            at += 12;
            continue;
        }
        if (id == "00dc" && seen++ == n) {
            return at + 8;
        }
        at += 8 + size + (size & 1);
    }
    return 0;
}

// A frame whose bytes are no picture is not handed out; the frames around it still are, unharmed.
TEST(OtherMovieDamage, ADamagedFrameIsRefusedAndItsNeighboursRead) {
    if (!haveFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    ScratchDir dir;
    std::vector<std::uint8_t> bytes = ffmpegMovie(dir, "-c:v mjpeg", 5);
    const std::vector<Bitmap> intact = readInOrder(bytes);
    const std::size_t second = chunkData(bytes, 2);
    ASSERT_GT(second, 0u);
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(second), readLe32(bytes.data() + second - 4),
                std::uint8_t{0xA5});
    AviFrameReader reader;
    ASSERT_EQ(reader.open(makeAviMemorySource(bytes)), kAviOk);
    Bitmap frame;
    for (std::int32_t n : {0, 1, 2, 3, 4}) {
        EXPECT_EQ(reader.frame(n, frame), n != 2) << "frame " << n;
        if (n != 2) {
            EXPECT_TRUE(frame == intact[static_cast<std::size_t>(n)]) << "frame " << n;
        }
    }
}

struct Layout {
    const char* name;
    const char* pixelFormat;
    int width;
};

class RawLayout : public ::testing::TestWithParam<Layout> {};

// Each pixel of a grey or YUV frame, odd widths included (whose last pair a writer stores whole), comes out
// as ffmpeg's own decode shows it, give or take the rounding of the conversion.
TEST_P(RawLayout, MatchesFfmpegsDecodePixelByPixel) {
    if (!haveFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const Layout l = GetParam();
    ScratchDir dir;
    const std::string encode = std::string("-pix_fmt ") + l.pixelFormat + " -c:v rawvideo";
    const std::string size = std::to_string(l.width) + "x24";
    const std::string movie = dir.file("raw.avi");
    const std::string decoded = dir.file("decoded.avi");
    // Smooth colours: a sharp edge would measure how ffmpeg interpolates chroma, not where pixels land.
    ASSERT_TRUE(run("ffmpeg -y -f lavfi -i gradients=size=" + size +
                    ":rate=10:speed=0.1:seed=7 -frames:v 2 " + encode + " '" + movie + "'"));
    ASSERT_TRUE(run("ffmpeg -y -i '" + movie + "' -c:v rawvideo -pix_fmt bgr24 '" + decoded + "'"));
    std::vector<Bitmap> ours = readInOrder(readFileBytes(movie));
    std::vector<Bitmap> theirs = readInOrder(readFileBytes(decoded));
    ASSERT_EQ(ours.size(), 2u);
    ASSERT_EQ(theirs.size(), 2u);
    // Chroma shared by two pixels is interpolated by ffmpeg and repeated by the live path's converters, so
    // pixels are compared by the median difference: of the whole frame, and of its last column, which an odd
    // width leaves to the stored pair's extra pixel (ffmpeg interpolates most there; a column left black or
    // taken from the next row would be off by a hundred levels).
    std::vector<std::uint8_t> a, b, lastA, lastB;
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < l.width; ++x) {
            for (int c = 0; c < 3; ++c) {
                a.push_back(ours[1].view().pixel(x, y)[c]);
                b.push_back(theirs[1].view().pixel(x, y)[c]);
                if (x == l.width - 1) {
                    lastA.push_back(a.back());
                    lastB.push_back(b.back());
                }
            }
        }
    }
    EXPECT_LE(medianDifference(a, b), 2);
    EXPECT_LE(medianDifference(lastA, lastB), 16);
}

INSTANTIATE_TEST_SUITE_P(Layouts, RawLayout,
                         ::testing::Values(Layout{"grey_odd", "gray", 37}, Layout{"yuy2_odd", "yuyv422", 37},
                                           Layout{"uyvy_odd", "uyvy422", 37},
                                           Layout{"i420_odd", "yuv420p", 37},
                                           Layout{"yuy2_even", "yuyv422", 38}),
                         [](const ::testing::TestParamInfo<Layout>& info) {
                             return std::string(info.param.name);
                         });

struct Refusal {
    const char* name;
    const char* fourcc;
    const char* why;
};

class UnknownCodec : public ::testing::TestWithParam<Refusal> {};

// A codec nobody knows is refused with its code in words, at open, not frame by frame.
TEST_P(UnknownCodec, IsRefusedWithItsFourcc) {
    if (!haveFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const Refusal r = GetParam();
    ScratchDir dir;
    std::vector<std::uint8_t> bytes = ffmpegMovie(dir, "-c:v mjpeg", 2);
    // The code stands in the stream header's handler and in the format's compression.
    for (const char* field : {"strh", "strf"}) {
        const auto at = std::search(bytes.begin(), bytes.end(), field, field + 4) - bytes.begin();
        ASSERT_LT(static_cast<std::size_t>(at), bytes.size());
        std::copy_n(r.fourcc, 4, bytes.begin() + at + (std::string(field) == "strh" ? 12 : 24));
    }
    AviFrameReader reader;
    EXPECT_EQ(reader.open(makeAviMemorySource(bytes)), kAviErrNoCompressor);
    EXPECT_EQ(reader.refusal(), r.why);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, UnknownCodec,
    ::testing::Values(Refusal{"letters", "QQZ9",
                              "frames compressed as 'QQZ9', which this build cannot decode"},
                      Refusal{"unprintable", "\x01\x02\x03\x04",
                              "frames compressed as 0x04030201, which this build cannot decode"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

} // namespace
