// The recorders' rules and their shared loop: frame counts, names, stream headers as a reader and ffprobe see
// them, the own recorder's bound and rate, slider labels, and every way a recording can end.
#include "AviTestSupport.h"
#include "recording/AviFrames.h"
#include "recording/ClipRecorder.h"
#include "recording/OfflineRecorder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

using namespace avitest;

namespace {

// Frames of a fixed picture; the reader's index stays put (live) or advances one per frame (offline).
class CountedFrames : public RecordingFrames {
  public:
    CountedFrames(int width, int height, int bits, bool readerAdvances, std::int32_t readerIndex = 0)
        : picture_(width, height, bits), advances_(readerAdvances), index_(readerIndex) {}
    void formatPicture(Bitmap& picture) override { picture = picture_; }
    bool makeFrame(std::int64_t, Bitmap& picture) override {
        index_ += advances_ ? 1 : 0;
        picture = picture_;
        return true;
    }
    std::int32_t readerIndex() const override { return index_; }

  private:
    Bitmap picture_;
    bool advances_;
    std::int32_t index_;
};

// A writer into memory.
AviFileOpener memoryFile(std::shared_ptr<std::vector<std::uint8_t>> bytes) {
    return [bytes](const std::string&, AviFile** file) {
        return AVIFileOpenWriter(file, std::make_unique<MemorySink>(bytes));
    };
}

std::int32_t framesIn(const std::vector<std::uint8_t>& bytes) {
    AviFrameReader reader;
    return reader.open(makeAviMemorySource(bytes)) == kAviOk ? reader.frameCount() : -1;
}

struct CountCase {
    std::int64_t bound;
    bool offline;
    std::int32_t readerStart;
    std::int64_t frames;
};

class FrameCounts : public ::testing::TestWithParam<CountCase> {};

TEST_P(FrameCounts, FollowTheBoundAndTheReadersIndex) {
    const CountCase c = GetParam();
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    CountedFrames frames(8, 4, 32, c.offline, c.readerStart);
    const RecordingResult result =
        recordAvi(RecordingPlan{"clip.avi", 10, 1, c.bound}, frames, memoryFile(bytes));
    EXPECT_EQ(result.end, RecordingEnd::Finished);
    EXPECT_EQ(result.frames, c.frames);
    EXPECT_EQ(framesIn(*bytes), c.frames);
}

INSTANTIATE_TEST_SUITE_P(
    LiveOfflineAndRaw, FrameCounts,
    ::testing::Values(CountCase{20, false, 0, 21}, CountCase{1, false, 0, 1}, CountCase{2, false, 0, 1},
                      CountCase{3, false, 0, 4}, CountCase{1000, false, 0, 1001},
                      // offline: the reader's index passes N − 3 after N − 2 frames
                      CountCase{10, true, 0, 8}, CountCase{3, true, 0, 1}, CountCase{0, true, 0, 1},
                      // the own raw recorder reads the index as the reader left it
                      CountCase{101, false, 1, 102}, CountCase{3, false, 1, 1}, CountCase{2, false, 0, 1}));

TEST(ClipNames, NumbersContinueAfterTheClipsAlreadyThere) {
    ScratchDir dir;
    const std::string d = dir.path.string() + "/";
    EXPECT_EQ(nextClipNumber(0, d), 1);
    EXPECT_EQ(clipFileName(d, MapKind::SinD, 1), d + "sind1.avi");
    for (const char* name : {"sind7.avi", "phi12.avi", "abs3.avi", "sind.avi", "sindx2.avi", "abs99.bmp",
                             "offline.avi", "phi999999999999.avi.part"}) {
        std::ofstream(dir.file(name)) << "x";
    }
    EXPECT_EQ(highestClipNumber(d), 12);
    EXPECT_EQ(nextClipNumber(0, d), 13);
    EXPECT_EQ(nextClipNumber(40, d), 41);
    EXPECT_EQ(clipFileName(d, MapKind::Extinction, 13), d + "phi13.avi");
    EXPECT_EQ(clipFileName(d, MapKind::Transmission, 14), d + "abs14.avi");
    EXPECT_EQ(nextClipNumber(0, d + "missing/"), 1);
}

struct HeaderCase {
    RecordingPlan plan;
    int width;
    int height;
    int bits;
    std::int32_t microsPerFrame;
    std::string ffprobeRate;
    std::int32_t frames;
};

void PrintTo(const HeaderCase& c, std::ostream* os) {
    *os << c.width << "x" << c.height << " at " << c.ffprobeRate;
}

class StreamHeaders : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(StreamHeaders, ReadBackThroughOurReaderAndFfprobe) {
    const HeaderCase c = GetParam();
    ScratchDir dir;
    RecordingPlan plan = c.plan;
    plan.fileName = dir.file("movie.avi");
    CountedFrames frames(c.width, c.height, c.bits, false);
    ASSERT_EQ(recordAvi(plan, frames, aviFileCreator()).frames, c.frames);

    AviFrameReader reader;
    ASSERT_EQ(reader.open(plan.fileName), kAviOk);
    const AviStreamInfo& info = reader.streamInfo();
    EXPECT_EQ(info.fccType, kStreamTypeVideo);
    EXPECT_EQ(info.fccHandler, 0u);
    EXPECT_EQ(info.dwRate, plan.rate);
    EXPECT_EQ(info.dwScale, plan.scale);
    const auto imageBytes = static_cast<std::uint32_t>(Bitmap::rowBytes(c.width, c.bits) * c.height);
    EXPECT_EQ(info.dwSuggestedBufferSize, imageBytes);
    EXPECT_EQ(info.rcFrame.right, c.width);
    EXPECT_EQ(info.rcFrame.bottom, c.height);
    EXPECT_EQ(reader.frameCount(), c.frames);
    // What the frame reader derives from rate and scale: Trunc(1 000 000 / (rate / scale)).
    const long double fps = static_cast<long double>(info.dwRate) / info.dwScale;
    EXPECT_EQ(static_cast<std::int32_t>(1000000.0L / fps), c.microsPerFrame);

    if (std::system("command -v ffprobe >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "ffprobe is not installed";
    }
    const std::string command =
        "ffprobe -v error -select_streams v:0 -show_entries stream=width,height,r_frame_rate "
        "-of default=noprint_wrappers=1 '" +
        plan.fileName + "'";
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        for (std::size_t n = 0; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            out.append(buffer, n);
        }
        ::pclose(pipe);
    }
    EXPECT_EQ(out, "width=" + std::to_string(c.width) + "\nheight=" + std::to_string(c.height) +
                       "\nr_frame_rate=" + c.ffprobeRate + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    ClipsAndRaw, StreamHeaders,
    ::testing::Values(HeaderCase{clipPlan("", false, 3), 370, 240, 32, 100000, "10/1", 4},
                      HeaderCase{clipPlan("", true, 3), 370, 240, 32, 33333, "30/1", 4},
                      HeaderCase{ownRecorderPlan("", 0, 60000), 640, 480, 24, 60000, "50/3", 1},
                      HeaderCase{ownRecorderPlan("", 0, 100000), 640, 480, 24, 100000, "10/1", 1},
                      HeaderCase{ownRecorderPlan("", 0, 100000000), 640, 480, 24, 100000000, "1/100", 1}));

TEST(OwnRecorder, FrameBoundHoldsPastTheThirtyTwoBitProduct) {
    struct Case {
        std::int32_t limitS;
        std::int32_t delayUs;
        std::int64_t bound;
    };
    for (const Case& c : {Case{10, 100000, 101}, Case{0, 60000, 1}, Case{1, 60000, 18},
                          Case{2147, 60000, 35784}, Case{2148, 60000, 35801}, Case{3000, 60000, 50001},
                          Case{100000, 100000000, 1001}, Case{100000, 60000, 1666668}}) {
        EXPECT_EQ(ownRecorderFrameBound(c.limitS, c.delayUs), c.bound) << c.limitS << " s at " << c.delayUs;
    }
    EXPECT_EQ(ownRecorderPauseMs(60000), 60);
    EXPECT_EQ(ownRecorderPauseMs(100000000), 100000);
    EXPECT_FALSE(useOwnRecorder(50000));
    EXPECT_TRUE(useOwnRecorder(60000));
    EXPECT_EQ(offlineFileName("/data/"), "/data/offline.avi");
}

TEST(SliderLabels, ReadAsTheWindowShowsThem) {
    EXPECT_EQ(clipFramesLabel(1), "1frame");
    EXPECT_EQ(clipFramesLabel(2), "2frames");
    EXPECT_EQ(clipFramesLabel(1000), "1000frames");
    EXPECT_EQ(pauseLabel(0), "0seconds");
    EXPECT_EQ(pauseLabel(1), "0.2seconds");
    EXPECT_EQ(pauseLabel(3), "0.6seconds");
    EXPECT_EQ(pauseLabel(7, ','), "1,4seconds");
    EXPECT_EQ(pauseLabel(500), "100seconds");
    EXPECT_EQ(pausePeriodMs(0), 1);
    EXPECT_EQ(pausePeriodMs(3), 600);
    EXPECT_EQ(delayLabel(frameDelayOf(4)), "delay (s) = 0.035");
    EXPECT_EQ(delayLabel(frameDelayOf(5)), "delay (s) = 0.05");
    EXPECT_EQ(delayLabel(frameDelayOf(10000)), "delay (s) = 100");
    EXPECT_EQ(recordTimeLimitOf(24, 4), 0);
    EXPECT_EQ(recordTimeLimitOf(100, 10), 10);
    EXPECT_EQ(recordTimeLimitOf(1000, 10000), 100000);
    EXPECT_EQ(timeLimitScaleLabel(maximumTimeLimitS(10)), "0   timelimit (s) 100");
    EXPECT_EQ(stopLabel(10), "stop in10 s");
}

TEST(RecordingEnds, AFileThatCannotBeCreatedIsReportedWithItsCause) {
    ScratchDir dir;
    CountedFrames frames(370, 240, 32, false);
    const RecordingResult r =
        recordAvi(RecordingPlan{dir.file("no/such/clip.avi"), 10, 1, 3}, frames, aviFileCreator());
    EXPECT_EQ(r.end, RecordingEnd::NotCreated);
    EXPECT_EQ(r.code, kAviErrFileOpen);
    EXPECT_EQ(r.reason, "No such file or directory");
}

// A new recording never takes the place of a file that is there.
TEST(RecordingEnds, TheWindowsRecordersReplaceNoFile) {
    ScratchDir dir;
    const std::string name = dir.file("sind1.avi");
    writeFileBytes(name, {1, 2, 3});
    CountedFrames frames(8, 4, 32, false);
    const RecordingResult r = recordAvi(RecordingPlan{name, 10, 1, 3}, frames, aviNewFileCreator());
    EXPECT_EQ(r.end, RecordingEnd::NotCreated);
    EXPECT_EQ(r.reason, "File exists");
    EXPECT_EQ(readFileBytes(name), (std::vector<std::uint8_t>{1, 2, 3}));
}

std::string stampOf(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

struct KeepCase {
    const char* name;
    bool earlier;        // an offline.avi is there before the recording
    bool stampTaken;     // and its kept name is taken already
    std::int64_t frames; // frames the new recording got
    const char* offline; // what offline.avi holds afterwards ("" for no file)
    const char* kept;    // what the kept name holds afterwards ("" for no file)
};

class OfflineKeeping : public ::testing::TestWithParam<KeepCase> {};

// The earlier recording goes aside under its own time; a recording without a frame puts it back.
TEST_P(OfflineKeeping, KeepsTheEarlierRecordingUnderItsTime) {
    const KeepCase c = GetParam();
    ScratchDir dir;
    const std::string folder = dir.path.string() + "/";
    const std::time_t modified = 1700000000;
    const std::string stamped = folder + "offline-" + stampOf(modified) + ".avi";
    const std::string kept = c.stampTaken ? folder + "offline-" + stampOf(modified) + "-2.avi" : stamped;
    if (c.earlier) {
        writeFileBytes(folder + "offline.avi", {'o', 'l', 'd'});
        writeFileBytes(folder + "offline.json", {'O'});
        const utimbuf times{modified, modified};
        ::utime((folder + "offline.avi").c_str(), &times);
    }
    if (c.stampTaken) {
        writeFileBytes(stamped, {'x'});
    }
    OfflineRecordingFile hold;
    std::string refusal;
    ASSERT_TRUE(hold.claim(folder, refusal)) << refusal;
    EXPECT_EQ(hold.keptName(), c.earlier ? kept : "");
    EXPECT_FALSE(std::filesystem::exists(folder + "offline.avi"));
    EXPECT_FALSE(std::filesystem::exists(folder + "offline.json"));
    writeFileBytes(hold.fileName(), {'n', 'e', 'w'});
    writeFileBytes(folder + "offline.json", {'N'});
    hold.finish(c.frames, true);

    const auto holds = [](const std::string& file) {
        const std::vector<std::uint8_t> bytes = readFileBytes(file);
        return std::filesystem::exists(file) ? std::string(bytes.begin(), bytes.end()) : std::string();
    };
    EXPECT_EQ(holds(folder + "offline.avi"), c.offline);
    EXPECT_EQ(holds(kept), c.kept);
    // The settings file goes and comes back with its movie.
    const auto settingsOf = [](const std::string& movie) {
        return movie == "old" ? "O" : movie == "new" ? "N" : "";
    };
    EXPECT_EQ(holds(folder + "offline.json"), settingsOf(c.offline));
    EXPECT_EQ(holds(kept.substr(0, kept.size() - 4) + ".json"), settingsOf(c.kept));
    if (c.stampTaken) {
        EXPECT_EQ(holds(stamped), "x");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, OfflineKeeping,
    ::testing::Values(KeepCase{"FramesKeepTheEarlierBeside", true, false, 3, "new", "old"},
                      KeepCase{"ATakenStampGetsANumber", true, true, 3, "new", "old"},
                      KeepCase{"NoFrameLeavesTheEarlierAsItWas", true, false, 0, "old", ""},
                      KeepCase{"NoFrameAndNoEarlierLeavesNoFile", false, false, 0, "", ""},
                      KeepCase{"FirstRecording", false, false, 2, "new", ""}),
    [](const ::testing::TestParamInfo<KeepCase>& info) { return std::string(info.param.name); });

// One program records into a folder at a time; the lock of a program that has died is taken over.
TEST(DataFolder, IsRecordedIntoByOneProgramAtATime) {
    ScratchDir dir;
    const std::string folder = dir.path.string() + "/";
    writeFileBytes(folder + "offline.avi", {'o', 'l', 'd'});
    {
        OfflineRecordingFile first;
        std::string refusal;
        ASSERT_TRUE(first.claim(folder, refusal)) << refusal;
        writeFileBytes(first.fileName(), {'n', 'e', 'w'});

        // A lock is per open file, so a second holder in this process stands for a second program.
        OfflineRecordingFile second;
        EXPECT_FALSE(second.claim(folder, refusal));
        EXPECT_EQ(refusal, "The data folder " + folder +
                               " is being recorded into by another Kestrane (process " +
                               std::to_string(::getpid()) + "); nothing was recorded.");
        const std::vector<std::uint8_t> bytes = readFileBytes(folder + "offline.avi");
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "new");
        first.finish(1, true);
    }
    // A lock file naming a process that no longer holds it.
    writeFileBytes(folder + ".kestrane-lock", {'9', '9', '9', '9', '9', '9', '9', '\n'});
    OfflineRecordingFile later;
    std::string refusal;
    EXPECT_TRUE(later.claim(folder, refusal)) << refusal;
    const std::vector<std::uint8_t> named = readFileBytes(folder + ".kestrane-lock");
    EXPECT_EQ(std::string(named.begin(), named.end()), std::to_string(::getpid()) + "\n");
}

// Each frame has its own time from the start: one taken late does not delay the ones after it.
TEST(OwnRecorder, FramesFollowTheStartNotEachOther) {
    using namespace std::chrono;
    const FrameSchedule::Clock::time_point start{};
    FrameSchedule schedule(start, microseconds(360000));
    EXPECT_EQ(schedule.due(0) - start, milliseconds(360));
    EXPECT_EQ(schedule.due(9) - start, milliseconds(3600));
    // Frame 2 is taken 50 ms late, frame 3 30 ms late; the others within a tenth of the delay.
    const int takenLateMs[] = {0, 36, 50, 30, 0};
    for (int i = 0; i < 5; ++i) {
        schedule.taken(i, schedule.due(i) + milliseconds(takenLateMs[i]));
    }
    EXPECT_EQ(schedule.late(), 1);
    EXPECT_EQ(schedule.due(4) - start, milliseconds(1800));
    EXPECT_EQ(lateFramesText(schedule.late(), 360000),
              "1 frame was taken late: the camera or the disk could not keep up with 0.36 s per frame.");
    EXPECT_EQ(lateFramesText(0, 360000), "");
}

} // namespace
