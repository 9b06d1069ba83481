// Streaming capture into a real AVI file: the file reads back with every captured frame at 35 ms per frame,
// also when the capture is aborted.
#include "CaptureTestSupport.h"

#include "capture/AviSequenceSink.h"
#include "capture/CameraSelection.h"
#include "capture/SimulatedCamera.h"
#include "capture/YUVConverts.h"
#include "recording/AviFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

namespace kestrane {
namespace {

struct ReadBack {
    std::int32_t frames = -1;
    AviStreamInfo info;
    std::vector<std::uint8_t> format;
    bool lastFrameDecodes = false;
};

ReadBack readBack(const std::string& fileName) {
    ReadBack r;
    AviFile* file = nullptr;
    if (AVIFileOpen(&file, fileName, kOfRead) != kAviOk) {
        return r;
    }
    AviStream* stream = nullptr;
    if (AVIFileGetStream(file, &stream, kStreamTypeVideo, 0) == kAviOk) {
        AVIStreamInfo(stream, &r.info, sizeof r.info);
        r.frames = AVIStreamLength(stream);
        std::int32_t size = 0;
        AVIStreamReadFormat(stream, 0, nullptr, &size);
        r.format.resize(static_cast<std::size_t>(size));
        AVIStreamReadFormat(stream, 0, r.format.data(), &size);
        if (AviGetFrame* frames = AVIStreamGetFrameOpen(stream, nullptr)) {
            r.lastFrameDecodes = r.frames > 0 && AVIStreamGetFrame(frames, r.frames - 1) != nullptr;
            AVIStreamGetFrameClose(frames);
        }
        AVIStreamRelease(stream);
    }
    AVIFileRelease(file);
    return r;
}

class AviCaptureFile : public ::testing::Test {
  protected:
    std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("kestrane-capture-" + std::to_string(::getpid()) + ".avi");
    test::ConnectionRig rig{driverFactory({CameraKind::Simulated, {}})};

    void SetUp() override {
        rig.window->setSequenceSinkFactory(aviSequenceSinks());
        rig.start();
        rig.connection->SetCaptureFile(file.string());
    }
    void TearDown() override { std::filesystem::remove(file); }
};

TEST_F(AviCaptureFile, HoldsEveryFrameOfTheTimeLimit) {
    rig.state->RecordTimeLimit = 1;
    rig.connection->StartSequence();
    rig.window->waitForSequence();
    const ReadBack r = readBack(file.string());
    EXPECT_EQ(r.frames, 29);
    EXPECT_EQ(r.info.dwScale, 35000u);
    EXPECT_EQ(r.info.dwRate, 1000000u);
    EXPECT_EQ(r.format, rig.connection->FrameHeader);
    EXPECT_TRUE(r.lastFrameDecodes);
}

TEST_F(AviCaptureFile, AbortedCaptureLeavesAReadableFile) {
    rig.state->RecordTimeLimit = 30;
    rig.connection->StartSequence();
    ASSERT_TRUE(rig.waitForCapturedFrames(3));
    rig.connection->AbortSequence();
    rig.window->waitForSequence();
    rig.connection->RefreshStatus();
    const ReadBack r = readBack(file.string());
    EXPECT_GE(r.frames, 1);
    EXPECT_EQ(static_cast<std::uint32_t>(r.frames), rig.connection->CaptureStatus.currentVideoFrame);
    EXPECT_TRUE(r.lastFrameDecodes);
    EXPECT_EQ(rig.connection->CaptureStatus.capFileExists, 1u);
}

TEST_F(AviCaptureFile, UncreatableFileStartsNoCapture) {
    rig.connection->SetCaptureFile("/nonexistent-directory/offline.avi");
    rig.connection->StartSequence();
    EXPECT_EQ(rig.connection->CaptureStatus.capturingNow, 0u);
    EXPECT_NE(rig.connection->CaptureStatus.lastError, 0);
}

TEST(AviCaptureFileUnplugged, ACameraUnpluggedMidCaptureLeavesAFileWithEveryFrameSoFar) {
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("kestrane-unplugged-" + std::to_string(::getpid()) + ".avi");
    SimulatedCamera* camera = nullptr;
    test::ConnectionRig rig{[&camera](int) -> std::unique_ptr<CaptureDriver> {
        auto made = std::make_unique<SimulatedCamera>();
        camera = made.get();
        return made;
    }};
    rig.window->setSequenceSinkFactory(aviSequenceSinks());
    rig.start();
    rig.connection->SetCaptureFile(file.string());
    rig.state->RecordTimeLimit = 30;
    rig.connection->StartSequence();
    ASSERT_TRUE(rig.waitForCapturedFrames(3));
    camera->unplug();
    rig.window->waitForSequence();
    rig.connection->RefreshStatus();
    const ReadBack r = readBack(file.string());
    EXPECT_GE(r.frames, 3);
    EXPECT_EQ(static_cast<std::uint32_t>(r.frames), rig.connection->CaptureStatus.currentVideoFrame);
    EXPECT_TRUE(r.lastFrameDecodes);
    EXPECT_EQ(rig.connection->CaptureStatus.lastError, -ENODEV);
    std::filesystem::remove(file);
}

// A capture file removed before it was completed is a failed write, reported by its system reason; its frames
// are written out again under its name. A file already there is never replaced.
TEST(AviSequenceSink, AFileRemovedBeforeItIsCompletedIsAFailedWriteThatKeepsItsFrames) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("kestrane-sink-" + std::to_string(::getpid()) + ".avi");
    const std::vector<std::uint8_t> header = test::bitmapInfo(64, 48, 24, kBiRgb);
    const std::vector<std::uint8_t> pixels(64 * 48 * 3, 77);
    for (const bool removed : {false, true}) {
        std::unique_ptr<SequenceSink> sink = makeAviSequenceSink(file.string());
        ASSERT_EQ(sink->begin(header, 35000), 0);
        ASSERT_EQ(sink->addFrame(pixels.data(), pixels.size()), 0);
        ASSERT_EQ(sink->addFrame(pixels.data(), pixels.size()), 0);
        if (removed) {
            std::filesystem::remove(file);
        }
        EXPECT_EQ(sink->finish(), removed ? -ENOENT : 0);
        EXPECT_EQ(readBack(file.string()).frames, 2);

        std::unique_ptr<SequenceSink> second = makeAviSequenceSink(file.string());
        EXPECT_EQ(second->begin(header, 35000), -EEXIST);
        EXPECT_EQ(readBack(file.string()).frames, 2);
        std::filesystem::remove(file);
    }
}

} // namespace
} // namespace kestrane
