// --help and --version of both programs as a shell runs them: text on stdout, exit 0, nothing else done.
#include "Version.h"
#include "recording/FrameDecoder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct Case {
    const char* name;
    const char* program;
    std::string arguments;
    std::string stdoutStart; // empty: stdout goes to a full disk and the program must say it failed
};

class HelpAndVersion : public ::testing::TestWithParam<Case> {};

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_P(HelpAndVersion, AnswerOnStdoutWithoutADisplayAndDoNothingElse) {
    const Case& c = GetParam();
    const fs::path dir = fs::temp_directory_path() / ("kestrane-help-" + std::to_string(::getpid()) + c.name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    // With no display and the X11 platform forced, a window program that started Qt here would abort.
    const std::string out = c.stdoutStart.empty() ? "/dev/full" : (dir / "stdout.txt").string();
    const std::string command = "cd " + dir.string() +
                                " && env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb " + c.program +
                                " " + c.arguments + " >" + out + " 2>" + (dir / "stderr.txt").string();
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    if (c.stdoutStart.empty()) {
        EXPECT_NE(WEXITSTATUS(status), 0);
    } else {
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_TRUE(readAll(dir / "stdout.txt").starts_with(c.stdoutStart)) << readAll(dir / "stdout.txt");
        EXPECT_EQ(readAll(dir / "stderr.txt"), "");
    }
    EXPECT_FALSE(fs::exists(dir / "out")); // an analysis that was asked for help wrote nothing
    fs::remove_all(dir);
}

// The last line says whether this build decodes compressed movies.
const std::string kVersionText = std::string(" ") + kestrane::kVersion + "\n" + kestrane::kLicenceLine +
                                 "\n" + kestrane::codecDecoderLine() + "\n";

INSTANTIATE_TEST_SUITE_P(
    Programs, HelpAndVersion,
    ::testing::Values(
        Case{"window_help", KESTRANE_PATH, "--help", "usage: kestrane [--camera="},
        Case{"window_help_wins", KESTRANE_PATH, "--camera=webcam -h", "usage: kestrane [--camera="},
        Case{"window_version", KESTRANE_PATH, "--camera=none --version", "kestrane" + kVersionText},
        Case{"window_full_disk", KESTRANE_PATH, "--help", ""},
        Case{"analyse_help", KESTRANE_ANALYSE_PATH, "--help", "usage: kestrane-analyse ["},
        Case{"analyse_help_wins", KESTRANE_ANALYSE_PATH, "missing.bmp out --help",
             "usage: kestrane-analyse ["},
        Case{"analyse_version", KESTRANE_ANALYSE_PATH, "missing.bmp out --version",
             "kestrane-analyse" + kVersionText},
        Case{"analyse_full_disk", KESTRANE_ANALYSE_PATH, "--version", ""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
