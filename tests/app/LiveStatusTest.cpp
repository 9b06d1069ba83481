// The status line's figures: the rate from totals sampled once a second, which grabs may count drops, and
// the words of the two lines.
#include "app/LiveStatus.h"

#include <gtest/gtest.h>

namespace {

using kestrane::LiveStatus;

struct Sample {
    double seconds;
    std::uint64_t analysed;
    double rate; // expected after this sample
};

TEST(LiveStatus, RateIsTheFramesOfTheLastIntervalOverItsLength) {
    const Sample samples[] = {
        {100.0, 500, 0.0},  // the first sample has nothing to compare with
        {101.0, 528, 28.0}, // one second, 28 frames
        {102.5, 570, 28.0}, // a late tick: 42 frames in 1.5 s
        {102.5, 575, 28.0}, // no time passed: the last rate stands and the interval goes on
        {103.5, 603, 33.0}, // 33 frames since 102.5 (not 28 since the repeated sample)
        {104.5, 603, 0.0},  // the loop stopped (another page): nothing analysed
        {105.5, 10, 0.0},   // totals that went back start over without a rate from them
        {106.5, 40, 30.0},
    };
    LiveStatus status;
    for (const Sample& s : samples) {
        status.sample(s.seconds, s.analysed, 0);
        EXPECT_DOUBLE_EQ(status.framesPerSecond(), s.rate) << "at " << s.seconds;
    }
}

struct DropCase {
    bool loopTick;
    int intervalMs;
    double sinceGrab;
    bool counts;
};

TEST(LiveStatus, OnlyTheRunningLoopCanDropFrames) {
    const DropCase cases[] = {
        {true, 1, 0.035, true},   // the loop keeps up
        {true, 1, 0.2, true},     // the loop fell behind for a while: real drops
        {false, 1, 0.035, false}, // a pass after a page was shown or a recording's own pass
        {true, 200, 0.2, false},  // "delay time" slows the loop on purpose
        {true, 1, 5.0, false},    // the loop was stopped (a movie, a dialog) and started again
        {true, 1, -1.0, false},   // a clock that went back says nothing
    };
    for (const DropCase& c : cases) {
        EXPECT_EQ(kestrane::dropsCount(c.loopTick, c.intervalMs, c.sinceGrab), c.counts)
            << c.loopTick << " " << c.intervalMs << " " << c.sinceGrab;
    }
}

TEST(LiveStatus, LinesSayTheFiguresTheSourceAndTheFolder) {
    LiveStatus status;
    status.sample(0.0, 0, 0);
    status.sample(2.0, 57, 1);
    EXPECT_EQ(status.figuresLine(), "28.5 frames/s analysed \u00b7 1 camera frame dropped since start");
    status.sample(3.0, 57, 12);
    EXPECT_EQ(status.figuresLine(), "0.0 frames/s analysed \u00b7 12 camera frames dropped since start");

    using kestrane::FrameOrigin;
    EXPECT_EQ(kestrane::frameSourceText(FrameOrigin::NoCamera, ""), "no camera");
    EXPECT_EQ(kestrane::frameSourceText(FrameOrigin::Camera, "V4L2 /dev/video0, YUYV 640 x 480"),
              "V4L2 /dev/video0, YUYV 640 x 480");
    EXPECT_EQ(kestrane::frameSourceText(FrameOrigin::OfflineFile, "offline.avi"), "offline file offline.avi");
    EXPECT_EQ(LiveStatus::whereLine("simulated camera", "/data/"),
              "simulated camera \u00b7 data folder /data/");
}

} // namespace
