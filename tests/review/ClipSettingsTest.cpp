// What the review takes from a clip's settings file: its MaxSin and frame times when they are usable, the
// note on the plot, and where the points and the time axis go with and without frame times.
#include "review/ClipSettings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace kestrane {
namespace {

struct ClipCase {
    const char* name;
    const char* json; // nullptr: no settings file
    std::int32_t frames;
    bool readable;
    const char* note;
    double sinDFullScale; // the |sin δ| axis height with the slider at 1.0
    std::size_t times;
};

TEST(ClipSettings, TheClipsMaxSinAndFrameTimesWhenTheyAreUsable) {
    const ClipCase cases[] = {
        {"none", nullptr, 3, true, "", 1.0, 0},
        {"both", R"({"maxsin": 0.6, "frame_times_s": [0, 0.05, 0.11]})", 3, true,
         "MaxSin 0.6 and frame times from sind1.json", 0.6, 3},
        {"more times than frames", R"({"maxsin": 0.4, "frame_times_s": [0, 0.1, 0.2, 0.3]})", 3, true,
         "MaxSin 0.4 and frame times from sind1.json", 0.4, 3},
        {"times for some frames only", R"({"maxsin": 0.2, "frame_times_s": [0, 0.1]})", 3, true,
         "MaxSin 0.2 from sind1.json", 0.2, 0},
        {"MaxSin out of range", R"({"maxsin": 1.5, "frame_times_s": [0, 0.1, 0.2]})", 3, true,
         "frame times from sind1.json", 1.0, 3},
        {"neither", R"({"objective": 10})", 3, true, "", 1.0, 0},
        {"not a settings file", "[1, 2]", 3, false, "", 1.0, 0},
        {"times that are not seconds", R"({"maxsin": 0.6, "frame_times_s": ["a"]})", 3, false, "", 1.0, 0},
    };
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kestrane-clip-settings-test";
    std::filesystem::create_directories(dir);
    const std::string movie = (dir / "sind1.avi").string();
    for (const ClipCase& c : cases) {
        std::filesystem::remove(dir / "sind1.json");
        if (c.json != nullptr) {
            std::ofstream(dir / "sind1.json") << c.json;
        }
        std::optional<ClipSettings> clip;
        std::string error;
        EXPECT_EQ(readClipSettings(movie, c.frames, clip, error), c.readable) << c.name << ": " << error;
        EXPECT_EQ(clip.has_value(), *c.note != 0) << c.name;
        const ClipSettings* known = clip ? &*clip : nullptr;
        EXPECT_EQ(clipSettingsNote(known), c.note) << c.name;
        const TraceSettings settings = clipTraceSettings(0.035L, MapKind::SinD, 1.0L, known);
        EXPECT_NEAR(static_cast<double>(settings.scale * 255.0L), c.sinDFullScale, 1e-15) << c.name;
        EXPECT_EQ(settings.timeStep, 0.035L) << c.name;
        EXPECT_EQ(clipTraceSettings(0.035L, MapKind::Extinction, 1.0L, known).scale.factor, 180.0L / 255.0L);
        EXPECT_EQ(known != nullptr ? known->frameTimesS.size() : 0u, c.times) << c.name;
    }
    std::filesystem::remove_all(dir);
}

TEST(ClipSettings, PointsAndTheTimeAxisFollowTheFrameTimes) {
    const TraceSettings step{0.1L, traceScale(MapKind::SinD, 1.0L)};
    const std::vector<double> times = {0.0, 0.04, 0.09, 0.12};
    const std::vector<double> still = {0.0, 0.0};
    // Without times frame k after the reader's step k + 1 lies at (k + 1) × step.
    EXPECT_EQ(traceTime(step, {}, 3, 2), 0.3L);
    EXPECT_EQ(traceTime(step, times, 3, 2), static_cast<Extended>(0.09));
    EXPECT_EQ(traceTime(step, times, 1, 0), 0.0L);
    EXPECT_EQ(traceTime(step, times, 6, 5), 0.6L) << "a frame past the times counts its step";
    EXPECT_EQ(traceSpan(step, {}, 100), 10.0L);
    EXPECT_NEAR(static_cast<double>(traceSpan(step, times, 4)), 0.16, 1e-15)
        << "one mean period past the last";
    EXPECT_EQ(traceSpan(step, still, 2), 0.2L) << "times that do not advance say nothing";

    PixelTrace trace;
    trace.setFrameTimes(times);
    Bitmap frame(4, 4, 32);
    frame.view().pixel(0, 3)[2] = 51;
    const TracePoint& point = trace.step(frame.view(), PickRectangle{}, 3, 2, step);
    EXPECT_EQ(point.time, static_cast<Extended>(0.09));
    EXPECT_EQ(point.frame, 2);
}

} // namespace
} // namespace kestrane
