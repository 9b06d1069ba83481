// kestrane-analyse end to end: maps written upright from a frame file, and clean refusals of bad input.
#include "cli/AnalyseCommand.h"
#include "analysis/MeasurementState.h"
#include "cli/Options.h"
#include "imaging/Bmp.h"
#include "recording/AviFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

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

    // Runs a command that must be refused: exit 2 and one line on stderr that holds `reason`.
    void expectRefusal(const std::vector<std::string>& args, const std::string& reason) {
        EXPECT_EQ(run(args), 2) << args.back();
        const std::string text = err.str();
        EXPECT_NE(text.find(reason), std::string::npos) << text;
        EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
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
    ASSERT_EQ(::mkfifo(path("pipe.bmp").c_str(), 0600), 0);
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
        // A pipe would hang the reader, a folder holds no frame.
        {path("pipe.bmp"), path("out")},
        {dir.string(), path("out")},
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

// The analysis takes camera frames: a 1 × 1 movie would turn every few bytes into three 76 KB maps.
TEST_F(AnalyseCommand, RefusesInputsOfAnotherSizeUnlessAskedTo) {
    writeMovie(path("tiny.avi"), 1, 1, 3);
    std::string error;
    ASSERT_TRUE(writeBmpFile(path("small.bmp"), Bitmap(320, 240, 24), error)) << error;
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{path("tiny.avi"), path("out")}, "movie '" + path("tiny.avi") + "' is 1 x 1 pixels"},
        {{path("small.bmp"), path("out")}, "frame '" + path("small.bmp") + "' is 320 x 240 pixels"},
        {{"--clip=sind", path("tiny.avi"), path("out")}, "is 1 x 1 pixels, but the analysis takes 640 x 480"},
    };
    for (const auto& [args, reason] : cases) {
        expectRefusal(args, reason);
        EXPECT_FALSE(fs::exists(dir / "out")) << args.front();
    }
    ASSERT_EQ(run({"--any-size", path("tiny.avi"), path("out")}), 0) << err.str();
    EXPECT_TRUE(fs::exists(dir / "out" / "transmission-00002.pgm"));
    ASSERT_EQ(run({"--any-size", path("small.bmp"), path("frame")}), 0) << err.str();
    EXPECT_TRUE(fs::exists(dir / "frame" / "transmission.bmp"));
}

TEST_F(AnalyseCommand, MovieFramesOfAnotherSizeReadZeroOutsideTheirPixels) {
    // A 370 × 240 clip holds Quadrant A and 50 columns of B; everything else reads as 0.
    writeMovie(path("clip.avi"), 370, 240, 1);
    ASSERT_EQ(run({"--any-size", path("clip.avi"), path("out")}), 0) << err.str();
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
        expectRefusal(args, reason);
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

// Temporary files of outputs left anywhere under `root`.
std::vector<std::string> temporaryFiles(const fs::path& root) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().filename().string().find(".tmp-") != std::string::npos) {
            found.push_back(entry.path().string());
        }
    }
    return found;
}

// Numbers are digits with a minus only where a negative means something, no option takes an empty value,
// and "--" lets a file name start with "-".
TEST_F(AnalyseCommand, ReadsOptionsStrictly) {
    writeFrame("-x.bmp");
    writeMovie(path("-m.avi"), 640, 480, 3);
    const struct {
        std::vector<std::string> args;
        int status;
        const char* said;
    } cases[] = {
        {{"--flatfield=", "--", "-x.bmp", "out"}, 2, "--flatfield needs a value"},
        {{"--flatfield", "--", "-x.bmp", "out"}, 2, "--flatfield needs a value"},
        {{"--clip=sind", "--flatfield=", "--", "-m.avi", "c.avi"}, 2, "--flatfield needs a value"},
        {{"--maxsin=", "--", "-x.bmp", "out"}, 2, "--maxsin needs a value"},
        {{"--trace=1,2,3,4", "--quantity=", "--", "-m.avi", "t.csv"}, 2, "--quantity needs a value"},
        {{"--sindlimit=+5", "--", "-x.bmp", "out"}, 2, "--sindlimit must be a whole number from 0 to 40"},
        {{"--sindlimit= 5", "--", "-x.bmp", "out"}, 2, "--sindlimit must be"},
        {{"--sindlimit=5 ", "--", "-x.bmp", "out"}, 2, "--sindlimit must be"},
        {{"--sindlimit=-0", "--", "-x.bmp", "out"}, 2, "--sindlimit must be"},
        {{"--clip=sind", "--sindlimit=+5", "--", "-m.avi", "c.avi"}, 2, "--sindlimit must be"},
        {{"--trace=+1,2,3,4", "--", "-m.avi", "t.csv"}, 2, "--trace needs four whole numbers"},
        {{"--trace=1, 2,3,4", "--", "-m.avi", "t.csv"}, 2, "--trace needs four whole numbers"},
        {{"--trace=1,2,3,--4", "--", "-m.avi", "t.csv"}, 2, "--trace needs four whole numbers"},
        {{"-x.bmp", "out"}, 2, "unknown option '-x.bmp'"},
        {{"--", "-x.bmp"}, 2, "an input file and an output folder expected, 1 given"},
        {{"--any-size", "--trace=0,0,1,1", "--", "-m.avi", "t.csv"}, 2, "unknown option '--any-size'"},
        {{"--sindlimit=05", "--", "-x.bmp", "out"}, 0, ""},
        {{"--trace=-3,-0,3,4", "--", "-m.avi", "t.csv"}, 0, ""},
        {{"--clip=sind", "--", "-m.avi", "-c.avi"}, 0, "1 clip frame written to '-c.avi'"},
        // A file named like an option after "--" is a file, whatever command it names.
        {{"--", "-m.avi", "--trace=1,2,3,4"}, 0, "3 of 3 frames"},
    };
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    for (const auto& c : cases) {
        if (c.status == 2) {
            expectRefusal(c.args, c.said);
        } else {
            EXPECT_EQ(run(c.args), 0) << c.args.front() << ": " << err.str();
            EXPECT_NE(err.str().find(c.said), std::string::npos) << err.str();
        }
    }
    fs::current_path(before);
    EXPECT_TRUE(fs::exists(dir / "-c.avi"));
    EXPECT_TRUE(fs::exists(dir / "--trace=1,2,3,4" / "sind-00002.pgm"));
    std::ostringstream help;
    EXPECT_FALSE(answerHelpOrVersion({"--", "--help"}, help));
}

// The clip's scale bar follows the objective in the movie's settings file unless --objective names one.
TEST_F(AnalyseCommand, TheClipTakesTheRecordedObjective) {
    writeMovie(path("movie.avi"), 640, 480, 3);
    ASSERT_EQ(run({"--clip=sind", "--objective=40", path("movie.avi"), path("by-option.avi")}), 0)
        << err.str();
    std::ofstream(path("movie.json")) << R"({"objective": 40, "frame_times_s": [0, 0.04, 0.08]})";
    ASSERT_EQ(run({"--clip=sind", path("movie.avi"), path("by-file.avi")}), 0) << err.str();
    EXPECT_NE(err.str().find("from '" + path("movie.json") + "': objective 40\n"), std::string::npos)
        << err.str();
    EXPECT_EQ(readAll(path("by-file.avi")), readAll(path("by-option.avi")));
    ASSERT_EQ(run({"--clip=sind", "--objective=4", path("movie.avi"), path("four.avi")}), 0) << err.str();
    EXPECT_EQ(err.str().find("objective"), std::string::npos) << err.str();
    EXPECT_NE(readAll(path("four.avi")), readAll(path("by-option.avi")));
}

// The one parser refuses the same mistake in the same words whichever command it is made in; only the usage
// line that follows names the command.
TEST_F(AnalyseCommand, RefusesTheSameMistakeInTheSameWordsInEveryCommand) {
    const std::vector<std::string> commands[] = {{}, {"--clip=sind"}, {"--trace=0,0,1,1"}};
    const struct {
        std::vector<std::string> mistake;
        const char* said;
    } cases[] = {
        {{"--colour"}, "kestrane-analyse: unknown option '--colour'; usage: kestrane-analyse "},
        {{"--maxsin=0.3"}, "kestrane-analyse: --maxsin must be 0.2, 0.4, 0.6, 0.8 or 1.0, not '0.3'\n"},
        {{"--maxsin"}, "kestrane-analyse: --maxsin needs a value (--maxsin=...)\n"},
        {{"--maxsin=1", "--maxsin="}, "kestrane-analyse: --maxsin needs a value (--maxsin=...)\n"},
        {{"--help=x", "--colour"}, "kestrane-analyse: unknown option '--help=x'; usage: kestrane-analyse "},
    };
    for (const auto& c : cases) {
        for (const auto& command : commands) {
            std::vector<std::string> args = command;
            args.insert(args.end(), c.mistake.begin(), c.mistake.end());
            args.insert(args.end(), {path("movie.avi"), path("out")});
            EXPECT_EQ(run(args), 2);
            EXPECT_TRUE(err.str().starts_with(c.said)) << err.str();
        }
    }
    // A flag given a value is refused as such where the flag exists.
    for (const auto& command : {std::vector<std::string>{}, std::vector<std::string>{"--clip=sind"}}) {
        std::vector<std::string> args = command;
        args.insert(args.end(), {"--any-size=yes", path("movie.avi"), path("out")});
        EXPECT_EQ(run(args), 2);
        EXPECT_TRUE(
            err.str().starts_with("kestrane-analyse: --any-size takes no value, not '--any-size=yes'; "))
            << err.str();
    }
    EXPECT_FALSE(fs::exists(dir / "out"));
    std::ostringstream help;
    EXPECT_FALSE(answerHelpOrVersion({"--help=x", path("movie.avi"), path("out")}, help));
}

// An output that is one of the inputs, by any name, is refused before anything is written.
TEST_F(AnalyseCommand, RefusesToWriteOverItsInput) {
    writeMovie(path("movie.avi"), 640, 480, 2);
    const std::string frame = writeFrame("frame.bmp");
    fs::create_directories(dir / "sub");
    fs::create_directories(dir / "out");
    fs::create_hard_link(dir / "movie.avi", dir / "hard.csv");
    fs::create_symlink(dir / "movie.avi", dir / "soft.avi");
    fs::copy_file(frame, dir / "out" / "sind.bmp");
    fs::copy_file(frame, dir / "out" / "extinction.bmp");
    fs::create_hard_link(dir / "movie.avi", dir / "out" / "transmission-00001.pgm");
    const std::string around = (dir / "sub" / ".." / "movie.avi").string();
    const std::vector<std::string> cases[] = {
        {"--trace=0,0,10,10", path("movie.avi"), path("movie.avi")},
        {"--trace=0,0,10,10", path("movie.avi"), path("hard.csv")},
        {"--trace=0,0,10,10", path("movie.avi"), path("soft.avi")},
        {"--clip=sind", path("movie.avi"), around},
        {"--clip=sind", "--flatfield=" + path("out/sind.bmp"), path("movie.avi"), path("out/sind.bmp")},
        {(dir / "out" / "sind.bmp").string(), path("out")},
        {"--flatfield=" + path("out/extinction.bmp"), frame, path("out")},
        {path("movie.avi"), path("out")},
    };
    const auto snapshot = [&] {
        std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files;
        for (const auto& entry : fs::recursive_directory_iterator(dir)) {
            files.emplace_back(entry.path().string(),
                               entry.is_regular_file() ? readAll(entry.path()) : std::vector<std::uint8_t>{});
        }
        std::sort(files.begin(), files.end());
        return files;
    };
    const auto original = snapshot();
    for (const auto& args : cases) {
        expectRefusal(args, "; refusing to write over it");
        EXPECT_TRUE(snapshot() == original) << args.back();
    }
}

// A run that fails while writing leaves the old output as it was and no temporary file.
TEST_F(AnalyseCommand, AFailedWriteKeepsTheOldOutput) {
    writeMovie(path("movie.avi"), 640, 480, 3);
    const std::string frame = writeFrame("frame.bmp");
    fs::create_directories(dir / "out");
    const std::vector<std::uint8_t> old = {'o', 'l', 'd'};
    for (const char* name : {"clip.avi", "out/sind.pgm", "out/sind-00000.pgm", "out/maps.tif"}) {
        writeAll(dir / name, old);
    }
    const std::vector<std::string> cases[] = {
        {"--clip=sind", path("movie.avi"), path("clip.avi")},
        {frame, path("out")},
        {path("movie.avi"), path("out")},
        {"--format=tiff", path("movie.avi"), path("out")},
    };
    // Files may grow to 64 KiB: a clip frame (355 KB) and a map (76 KB) both exceed it.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    for (const auto& args : cases) {
        rlimit small = saved;
        small.rlim_cur = 64 * 1024;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const int status = run(args);
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
        EXPECT_EQ(status, 2) << args.back();
        const std::string text = err.str();
        EXPECT_NE(text.find("File too large"), std::string::npos) << text;
        EXPECT_EQ(readAll(dir / "clip.avi"), old);
        EXPECT_EQ(readAll(dir / "out" / "sind.pgm"), old);
        EXPECT_EQ(readAll(dir / "out" / "sind-00000.pgm"), old);
        EXPECT_EQ(readAll(dir / "out" / "maps.tif"), old);
        EXPECT_TRUE(temporaryFiles(dir).empty()) << temporaryFiles(dir).front();
    }
    std::signal(SIGXFSZ, previous);
}

// A run stopped by a signal removes the temporary file it was writing.
TEST_F(AnalyseCommand, AStoppedRunLeavesNoTemporaryFile) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        removePendingOutputOnSignal();
        PendingOutput out(path("out.csv"));
        out.write({'1', '\n'});
        std::raise(SIGTERM);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_TRUE(temporaryFiles(dir).empty());
    EXPECT_FALSE(fs::exists(dir / "out.csv"));
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
