// kestrane-analyse --trace: the points of a region over continuous playback, and clean refusals of bad input.
#include "cli/AnalyseCommand.h"
#include "review/ReviewClips.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

class TraceCommand : public ::testing::Test {
  protected:
    int run(std::vector<std::string> args) {
        err.str("");
        return kestrane::runAnalyseCommand(args, err);
    }
    avitest::ScratchDir dir;
    std::ostringstream err;
};

// Frame n: red 51 × (n + 1) in x 10..19, top 5..9, except one black pixel; black elsewhere.
int steppedRed(int n, int x, int top) {
    const bool block = x >= 10 && x < 20 && top >= 5 && top < 10 && !(x == 12 && top == 7);
    return block ? 51 * (n + 1) : 0;
}

TEST_F(TraceCommand, WritesThePointsContinuousPlaybackPlots) {
    const std::string movie = dir.file("clip.avi");
    ASSERT_TRUE(reviewtest::writeRedClip(movie, 5, steppedRed));
    const struct {
        std::vector<std::string> options;
        const char* csv;
    } cases[] = {
        {{"--trace=10,5,19,9"}, "frame,time_s,value\n0,0.035,0.2\n1,0.07,0.4\n"},
        {{"--trace=19,9,10,5", "--quantity=transmission", "--timestep=0.1"},
         "frame,time_s,value\n0,0.1,20\n1,0.2,40\n"},
        {{"--quantity=extinction", "--trace=0,0,372,239"}, "frame,time_s,value\n0,0.035,36\n1,0.07,72\n"},
        {{"--trace=12,7,12,7", "--maxsin=0.2"}, "frame,time_s,value\n0,0.035,0\n1,0.07,0\n"},
        {{"--trace=10,5,10,5", "--maxsin=0.4"}, "frame,time_s,value\n0,0.035,0.08\n1,0.07,0.16\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.options;
        args.push_back(movie);
        args.push_back(dir.file("out.csv"));
        ASSERT_EQ(run(args), 0) << err.str();
        EXPECT_EQ(reviewtest::fileText(dir.file("out.csv")), c.csv) << c.options.front();
    }
}

// The recording's own frame times put each point at its time; --timestep, or times that do not cover every
// frame, keep the fixed step.
TEST_F(TraceCommand, TakesThePointTimesFromTheMoviesSettingsFile) {
    const std::string movie = dir.file("clip.avi");
    ASSERT_TRUE(reviewtest::writeRedClip(movie, 5, steppedRed));
    const struct {
        const char* json;
        std::vector<std::string> options;
        const char* csv;
        const char* said;
    } cases[] = {
        {R"({"objective": 10, "frame_times_s": [0, 0.041, 0.0825, 0.12, 0.161]})",
         {},
         "frame,time_s,value\n0,0,0.2\n1,0.041,0.4\n",
         "kestrane-analyse: from '%s/clip.json': frame times (5)\n"},
        {R"({"frame_times_s": [0, 0.041, 0.0825, 0.12, 0.161]})",
         {"--timestep=0.1"},
         "frame,time_s,value\n0,0.1,0.2\n1,0.2,0.4\n",
         ""},
        {R"({"frame_times_s": [0, 0.041]})", {}, "frame,time_s,value\n0,0.035,0.2\n1,0.07,0.4\n", ""},
    };
    for (const auto& c : cases) {
        std::ofstream(dir.file("clip.json")) << c.json;
        std::vector<std::string> args = c.options;
        args.insert(args.begin(), "--trace=10,5,19,9");
        args.push_back(movie);
        args.push_back(dir.file("out.csv"));
        ASSERT_EQ(run(args), 0) << err.str();
        EXPECT_EQ(reviewtest::fileText(dir.file("out.csv")), c.csv) << c.json;
        char said[512] = {};
        std::snprintf(said, sizeof said, c.said, dir.path.string().c_str());
        EXPECT_EQ(err.str(), said) << c.json;
    }
}

TEST_F(TraceCommand, BadInputExitsWithOneLineAndWritesNothing) {
    const std::string movie = dir.file("clip.avi");
    ASSERT_TRUE(reviewtest::writeRedClip(movie, 5, steppedRed));
    const std::string empty = dir.file("empty.avi");
    ASSERT_TRUE(reviewtest::writeRedClip(empty, 0, steppedRed));
    std::ofstream(dir.file("notes.avi")) << "not a movie";
    const std::string out = dir.file("out.csv");
    const std::vector<std::vector<std::string>> cases = {
        {"--trace=1,2,3", movie, out},
        {"--trace=1,2,3,4,5", movie, out},
        {"--trace=1,2,x,4", movie, out},
        {"--trace=1,2,3,99999999999", movie, out},
        {"--trace=", movie, out},
        {"--trace=1,2,3,4", "--quantity=phase", movie, out},
        {"--trace=1,2,3,4", "--maxsin=0.3", movie, out},
        {"--trace=1,2,3,4", "--timestep=0.05", movie, out},
        {"--trace=1,2,3,4", "--flatfield=bg.bmp", movie, out},
        {"--trace=1,2,3,4", movie},
        {"--trace=1,2,3,4", dir.file("missing.avi"), out},
        {"--trace=1,2,3,4", dir.file("notes.avi"), out},
        {"--trace=1,2,3,4", empty, out},
        {"--trace=1,2,3,4", movie, dir.file("missing/out.csv")},
    };
    for (const auto& args : cases) {
        EXPECT_EQ(run(args), 2) << args[0] << " " << args[1];
        const std::string message = err.str();
        EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
        EXPECT_FALSE(std::filesystem::exists(out)) << message;
    }
}

} // namespace
