// kestrane-analyse end to end: maps written upright from a frame file, and clean refusals of bad input.
#include "app/AnalyseCommand.h"
#include "analysis/MeasurementState.h"
#include "imaging/Bmp.h"
#include "recording/AviFile.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestrane {
namespace {

namespace fs = std::filesystem;

class AnalyseCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        resetMeasurementState();
        dir = fs::temp_directory_path() / ("kestrane-cli-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string path(const char* name) const { return (dir / name).string(); }

    // Worked-example quadrants; the top-left picture pixel of Quadrant A (map [0][239]) is made dark.
    std::string writeFrame(const char* name, int bits = 24) const {
        Bitmap frame(640, 480, bits);
        const int bytes = bits / 8;
        for (int y = 0; y < 480; ++y) {
            for (int x = 0; x < 640; ++x) {
                const int v = y >= 240 ? (x >= 320 ? 130 : 90) : (x >= 320 ? 100 : 120);
                frame.row(y)[x * bytes + 2] = static_cast<std::uint8_t>(v);
            }
        }
        frame.row(239)[2] = 0;
        std::string error;
        EXPECT_TRUE(writeBmpFile(path(name), frame, error)) << error;
        return path(name);
    }

    static std::vector<std::uint8_t> readAll(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void writeAll(const fs::path& p, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    int run(std::vector<std::string> args) {
        err.str("");
        return runAnalyseCommand(args, err);
    }

    fs::path dir;
    std::ostringstream err;
};

TEST_F(AnalyseCommand, WritesTheThreeMapsUpright) {
    for (int bits : {24, 32}) {
        const std::string frame = writeFrame("frame.bmp", bits);
        ASSERT_EQ(run({frame, path("out")}), 0) << err.str();
        const std::string header = "P5\n320 240\n255\n";
        const std::pair<const char*, int> maps[] = {
            {"sind.pgm", 76}, {"extinction.pgm", 143}, {"transmission.pgm", 115}};
        for (auto [name, value] : maps) {
            const auto bytes = readAll(dir / "out" / name);
            ASSERT_EQ(bytes.size(), header.size() + 320 * 240) << name;
            EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + header.size()), header);
            // The dark pixel sits at the top-left of the picture: the first pixel of the upright image.
            EXPECT_NE(bytes[header.size()], value) << name;
            EXPECT_EQ(bytes[header.size() + 1], value) << name;
            EXPECT_EQ(bytes.back(), value) << name;
        }
        // The rendered pictures: |sin d| byte 76 in the palette, transmission 115 as grey 230.
        const std::pair<const char*, std::array<int, 3>> pictures[] = {
            {"sind.bmp", {76, 0, 0}}, {"extinction.bmp", {143, 0, 0}}, {"transmission.bmp", {230, 230, 230}}};
        for (const auto& [name, rgb] : pictures) {
            Bitmap picture;
            std::string error;
            ASSERT_TRUE(readBmpFile((dir / "out" / name).string(), picture, error)) << name << ": " << error;
            ASSERT_EQ(picture.width(), 320);
            ASSERT_EQ(picture.height(), 240);
            const std::uint8_t* bottomRight = picture.row(0) + 319 * picture.bitsPerPixel() / 8;
            EXPECT_EQ(bottomRight[2], rgb[0]) << name;
            if (rgb[1] != 0) {
                EXPECT_EQ(bottomRight[1], rgb[1]) << name;
                EXPECT_EQ(bottomRight[0], rgb[2]) << name;
            }
        }
    }
}

TEST_F(AnalyseCommand, MaxSinAndFlatFieldChangeTheResult) {
    const std::string frame = writeFrame("frame.bmp");
    ASSERT_EQ(run({"--maxsin=0.4", "--sindlimit=0", frame, path("out")}), 0) << err.str();
    EXPECT_EQ(readAll(dir / "out" / "sind.pgm").back(), 189);

    Bitmap background(640, 480, 24);
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            background.row(y)[x * 3 + 2] = 255; // gain 128/255 halves every sample, almost
        }
    }
    std::string error;
    ASSERT_TRUE(writeBmpFile(path("bg.bmp"), background, error));
    ASSERT_EQ(run({"--flatfield=" + path("bg.bmp"), frame, path("flat")}), 0) << err.str();
    EXPECT_NE(readAll(dir / "flat" / "transmission.pgm").back(), 115);
}

TEST_F(AnalyseCommand, RefusesBadInputWithOneLineAndWritesNothing) {
    const std::string frame = writeFrame("frame.bmp");
    std::ofstream(path("garbage.bmp")) << "not a bitmap";
    Bitmap small(320, 240, 24);
    std::string error;
    ASSERT_TRUE(writeBmpFile(path("small.bmp"), small, error));
    const std::vector<std::vector<std::string>> cases = {
        {path("missing.bmp"), path("out")},
        {path("garbage.bmp"), path("out")},
        {"--maxsin=0.3", frame, path("out")},
        {"--maxsin=", frame, path("out")},
        {"--sindlimit=41", frame, path("out")},
        {"--sindlimit=x", frame, path("out")},
        {"--colour", frame, path("out")},
        {frame},
        {"--flatfield=" + path("missing.bmp"), frame, path("out")},
        {"--flatfield=" + path("small.bmp"), frame, path("out")},
    };
    for (const auto& args : cases) {
        EXPECT_EQ(run(args), 2) << args.front();
        const std::string text = err.str();
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
        EXPECT_FALSE(fs::exists(dir / "out")) << args.front();
    }
}

// The data offset of the `nth` chunk with this id, found by its bytes.
std::size_t findChunk(const std::vector<std::uint8_t>& bytes, const char* id, int nth = 0) {
    for (std::size_t at = 0; at + 8 <= bytes.size(); ++at) {
        if (std::equal(id, id + 4, bytes.begin() + static_cast<std::ptrdiff_t>(at)) && nth-- == 0) {
            return at + 8;
        }
    }
    ADD_FAILURE() << "no chunk " << id;
    return 0;
}

// An uncompressed movie whose frame n has uniform quadrants a + n, b, c, d; chunks of `chunkBytes` bytes
// when that is not negative. 8-bit movies carry a grey colour table.
void writeMovie(const std::string& path, int width, int height, int frames, int chunkBytes = -1,
                int bits = 32) {
    AviFile* file = nullptr;
    ASSERT_EQ(AVIFileOpen(&file, path, kOfWrite | kOfCreate), kAviOk);
    AviStreamInfo info;
    info.fccType = kStreamTypeVideo;
    info.dwScale = 1;
    info.dwRate = 10;
    info.rcFrame = {0, 0, width, height};
    AviStream* stream = nullptr;
    ASSERT_EQ(AVIFileCreateStream(file, &stream, info), kAviOk);
    Bitmap frame(width, height, 32);
    std::vector<std::uint8_t> format(bits == 8 ? 40 + 1024 : 40, 0);
    writeLe32(format.data(), 40);
    writeLe32(format.data() + 4, static_cast<std::uint32_t>(width));
    writeLe32(format.data() + 8, static_cast<std::uint32_t>(height));
    writeLe16(format.data() + 12, 1);
    writeLe16(format.data() + 14, static_cast<std::uint16_t>(bits));
    for (int i = 0; bits == 8 && i < 256; ++i) {
        std::fill_n(format.begin() + 40 + 4 * i, 3, static_cast<std::uint8_t>(i));
    }
    ASSERT_EQ(AVIStreamSetFormat(stream, 0, format.data(), static_cast<std::int32_t>(format.size())), kAviOk);
    const auto size = static_cast<std::int32_t>(frame.sizeBytes() * static_cast<std::size_t>(bits) / 32);
    for (int n = 0; n < frames; ++n) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const int v = y >= 240 ? (x >= 320 ? 130 : 90) : (x >= 320 ? 100 : 120 + n);
                frame.row(y)[4 * x + 2] = static_cast<std::uint8_t>(v);
            }
        }
        ASSERT_EQ(
            AVIStreamWrite(stream, n, 1, frame.bits(), chunkBytes < 0 ? size : chunkBytes, kAviIfKeyframe),
            kAviOk);
    }
    AVIStreamRelease(stream);
    AVIFileRelease(file);
}

TEST_F(AnalyseCommand, AnalysesEveryFrameOfAMovie) {
    writeMovie(path("movie.avi"), 640, 480, 3);
    ASSERT_EQ(run({path("movie.avi"), path("out")}), 0) << err.str();
    const std::size_t header = std::string("P5\n320 240\n255\n").size();
    for (const char* frame : {"00000", "00001", "00002"}) {
        for (const char* map : {"sind", "extinction", "transmission"}) {
            EXPECT_EQ(readAll(dir / "out" / (std::string(map) + "-" + frame + ".pgm")).size(),
                      header + 320 * 240)
                << map << frame;
        }
    }
    EXPECT_FALSE(fs::exists(dir / "out" / "sind-00003.pgm"));
    EXPECT_EQ(readAll(dir / "out" / "sind-00000.pgm").back(), 76); // the worked example
    EXPECT_NE(readAll(dir / "out" / "sind-00002.pgm").back(), 76);
    EXPECT_NE(err.str().find("3 of 3 frames"), std::string::npos);
}

TEST_F(AnalyseCommand, MovieFramesOfAnotherSizeReadZeroOutsideTheirPixels) {
    // A 370 × 240 clip holds Quadrant A and 50 columns of B; everything else reads as 0.
    writeMovie(path("clip.avi"), 370, 240, 1);
    ASSERT_EQ(run({path("clip.avi"), path("out")}), 0) << err.str();
    const auto bytes = readAll(dir / "out" / "transmission-00000.pgm");
    const std::size_t bottomRow = bytes.size() - 320;
    EXPECT_EQ(bytes[bottomRow], (100 + 148) / 4); // a' = 148 from a = 120
    EXPECT_EQ(bytes[bottomRow + 49], (100 + 148) / 4);
    EXPECT_EQ(bytes[bottomRow + 50], 148 / 4);
    EXPECT_EQ(bytes.back(), 148 / 4);
}

TEST_F(AnalyseCommand, ADamagedMovieIsRefusedBeforeAnythingIsWritten) {
    writeMovie(path("movie.avi"), 640, 480, 2);
    auto bytes = readAll(dir / "movie.avi");
    bytes.resize(100);
    std::ofstream(path("cut.avi"), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), 100);
    EXPECT_EQ(run({path("cut.avi"), path("out")}), 2);
    EXPECT_NE(err.str().find("cut.avi"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "out"));
}

// Movies the command cannot take: one line saying why, exit 2, nothing written.
TEST_F(AnalyseCommand, RefusesMoviesWithoutAWholeFrameOrWithoutColours) {
    // 200 empty chunks (eight bytes each) would otherwise become 600 black maps.
    writeMovie(path("empty.avi"), 640, 480, 200, 0);
    // An 8-bit stream whose colour table was dropped: its frames would all read black.
    writeMovie(path("palette.avi"), 64, 48, 1, -1, 8);
    auto bytes = readAll(dir / "palette.avi");
    const std::size_t strf = findChunk(bytes, "strf");
    writeLe32(bytes.data() + strf - 4, 40);
    writeLe32(bytes.data() + strf + 40, makeFourcc('J', 'U', 'N', 'K'));
    writeLe32(bytes.data() + strf + 44, 1024 - 8);
    writeAll(path("palette.avi"), bytes);
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{path("empty.avi"), path("out")}, "no complete frame (200 chunks without a whole frame)"},
        {{"--clip=sind", path("empty.avi"), path("out")}, "no complete frame"},
        {{path("palette.avi"), path("out")}, "without their colour table"},
    };
    for (const auto& [args, reason] : cases) {
        EXPECT_EQ(run(args), 2) << args.front();
        const std::string text = err.str();
        EXPECT_NE(text.find(reason), std::string::npos) << text;
        EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
        EXPECT_FALSE(fs::exists(dir / "out")) << args.front();
    }
}

TEST_F(AnalyseCommand, ARecordingCutInsideItsLastFrameGivesItsWholeFrames) {
    writeMovie(path("movie.avi"), 640, 480, 3);
    auto bytes = readAll(dir / "movie.avi");
    const std::size_t third = findChunk(bytes, "00db", 2);
    bytes.resize(third + 1000);
    writeAll(path("cut.avi"), bytes);
    ASSERT_EQ(run({path("cut.avi"), path("out")}), 0) << err.str();
    EXPECT_EQ(readAll(dir / "out" / "sind-00000.pgm").back(), 76);
    EXPECT_TRUE(fs::exists(dir / "out" / "sind-00001.pgm"));
    EXPECT_FALSE(fs::exists(dir / "out" / "sind-00002.pgm"));
    EXPECT_NE(err.str().find("skipped 1 chunk without a whole frame"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("2 of 2 frames"), std::string::npos) << err.str();
}

TEST_F(AnalyseCommand, TheProgramItselfExitsWithTwoOnAMissingFile) {
    const std::string command = std::string(KESTRANE_ANALYSE_PATH) + " " + path("missing.bmp") + " " +
                                path("out") + " 2>" + path("stderr.txt");
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    const auto text = readAll(dir / "stderr.txt");
    EXPECT_NE(std::string(text.begin(), text.end()).find("missing.bmp"), std::string::npos);
}

} // namespace
} // namespace kestrane
