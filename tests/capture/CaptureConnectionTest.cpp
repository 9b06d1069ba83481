// The capture connection end to end: start-up with and without a camera, the consumer protocol with the
// simulated camera in every format, the driver dialogs, a vanishing camera and streaming capture.
#include "CaptureTestSupport.h"

#include "capture/CameraSelection.h"
#include "capture/SimulatedCamera.h"
#include "capture/YUVConverts.h"
#include "imaging/Bmp.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace kestrane {
namespace {

using test::bitmapInfo;
using test::ConnectionRig;
using test::DriverScript;
using test::scriptedDrivers;

DriverFactory simulatedDrivers() {
    return driverFactory(CameraSelection{CameraKind::Simulated, {}});
}

void waitUntilIdle(ConnectionRig& rig) {
    rig.window->waitForSequence();
    rig.connection->RefreshStatus();
}

TEST(CaptureStartUp, WithTheSimulatedCameraIsReadyFor640x480Rgb) {
    ConnectionRig rig(simulatedDrivers());
    rig.start();
    const CaptureConnection& c = *rig.connection;
    EXPECT_EQ(rig.state->CaptureReady, 1);
    ASSERT_NE(c.CaptureWindow, nullptr);
    EXPECT_EQ(c.FrameFormat, kFormatRgb);
    EXPECT_EQ(c.FrameStream.size(), 921654u);
    EXPECT_EQ(c.FrameBitmap.width(), 640);
    EXPECT_EQ(c.CaptureStatus.liveWindow, 1u);
    EXPECT_EQ(c.CaptureStatus.imageWidth, 640u);
    EXPECT_EQ(c.DriverCaps.captureInitialized, 1u);
    EXPECT_EQ(c.DriverCaps.hasDlgVideoFormat, 1u);
}

TEST(CaptureStartUp, WithoutACameraTheProgramRunsWithoutLiveVideo) {
    for (const CameraKind kind : {CameraKind::None, CameraKind::V4l2}) {
        const DriverFactory drivers =
            kind == CameraKind::None
                ? driverFactory(CameraSelection{CameraKind::None, {}})
                : driverFactory(CameraSelection{CameraKind::V4l2, "/nonexistent/video9"});
        ConnectionRig rig(drivers);
        rig.dialogs.formatAnswer = 0;
        rig.start();
        CaptureConnection& c = *rig.connection;
        EXPECT_EQ(rig.state->CaptureReady, 0);
        EXPECT_EQ(c.CaptureWindow, nullptr);
        EXPECT_FALSE(c.IsWindow());
        EXPECT_EQ(c.FrameStream.size(), 0u);
        c.FormatClick();
        c.FeaturesClick();
        c.StartSequence();
        c.WindowMoved();
        EXPECT_EQ(rig.dialogs.currentShown, -2) << "no dialog without a driver";
        EXPECT_TRUE(rig.window->shows.empty());
        Bitmap frame;
        std::string error;
        EXPECT_FALSE(c.grabFrame(frame, error));
        EXPECT_FALSE(error.empty());
    }

    auto state = std::make_unique<MeasurementState>();
    CaptureConnection noWindow(*state);
    noWindow.FormCreate([] { return nullptr; });
    EXPECT_EQ(state->CaptureReady, 0);
}

// The stream then holds a picture, but never one of the camera's frames.
TEST(CaptureStartUp, DriverRefusingTheUserDataNeverDeliversAFrame) {
    auto script = std::make_shared<DriverScript>();
    script->format = bitmapInfo(640, 480, 24, kBiRgb);
    script->frame.assign(921600, 200);
    script->refuseUserData = true;
    ConnectionRig rig(scriptedDrivers(script));
    rig.start();
    EXPECT_EQ(rig.state->CaptureReady, 1);
    EXPECT_EQ(rig.connection->CaptureStatus.liveWindow, 1u);
    for (int i = 0; i < 3; ++i) {
        rig.connection->BtnGrabFrameNoStopClick();
    }
    EXPECT_EQ(script->reads, 3);
    EXPECT_EQ(rig.streamPixels(), std::vector<std::uint8_t>(921600, 0));
}

TEST(CaptureStartUp, AsksFor640x480At24BitsAndFollowsWhatTheDriverKeeps) {
    auto script = std::make_shared<DriverScript>();
    script->format = bitmapInfo(320, 240, 16, kFourCcYuy2);
    script->refuseFormats = true;
    ConnectionRig rig(scriptedDrivers(script));
    rig.start();
    ASSERT_EQ(script->requests.size(), 1u);
    DibHeader asked;
    ASSERT_TRUE(readDibHeader(script->requests[0].data(), script->requests[0].size(), asked));
    EXPECT_EQ(asked.width, 640);
    EXPECT_EQ(asked.height, 480);
    EXPECT_EQ(asked.bitCount, 24);
    EXPECT_EQ(rig.connection->FrameFormat, kFormatYuy2);
    EXPECT_EQ(rig.connection->FrameStream.size(), 54u + 320 * 240 * 4);
}

// Grey the consumer should see at bottom-up pixel (x, y) for a picture of the simulated camera.
int expectedGrey(std::uint8_t code, const std::vector<std::uint8_t>& reference, int x, int y) {
    const int line = 479 - y;
    const auto at = [&](int column) { return reference[static_cast<std::size_t>(line * 640 + column)]; };
    if (code == kFormatY211) {
        const int pair = x - x % 2;
        return (at(pair) + at(pair + 1) + 1) / 2;
    }
    return at(x);
}

class EveryFormat : public ::testing::TestWithParam<std::size_t> {};

TEST_P(EveryFormat, ConsumerGetsTheCameraPicture) {
    ConnectionRig rig(test::steppedSimulatedDrivers());
    rig.start();
    SimulatedCamera reference;
    const std::vector<FormatOption> options = reference.formatOptions();
    const std::size_t chosen = GetParam();
    ASSERT_EQ(options[chosen].width, 640);
    rig.dialogs.formatAnswer = static_cast<int>(chosen);
    rig.connection->FormatClick();
    const std::uint8_t code = FormatCodeOf(options[chosen].compression);
    ASSERT_EQ(rig.connection->FrameFormat, code);

    Bitmap frame;
    std::string error;
    for (int grab = 0; grab < 2; ++grab) {
        ASSERT_TRUE(rig.connection->grabFrame(frame, error)) << error;
    }
    EXPECT_EQ(frame.width(), 640);
    EXPECT_EQ(frame.height(), 480);
    EXPECT_EQ(frame.bitsPerPixel(), options[chosen].bitCount == 24 ? 24 : 32);

    // The camera numbers its frames from 0; the second grab delivered frame 1.
    const std::vector<std::uint8_t> grey = reference.renderReference(1);
    // Grey levels that a YUV byte cannot hit exactly come out one off.
    const int tolerance = code == kFormatRgb || code == kFormatY8 ? 0 : 1;
    int worst = 0;
    const int bytes = frame.bitsPerPixel() / 8;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            const std::uint8_t* p = frame.row(y) + x * bytes;
            const int want = expectedGrey(code, grey, x, y);
            for (int channel = 0; channel < 3; ++channel) {
                worst = std::max(worst, std::abs(p[channel] - want));
            }
        }
    }
    EXPECT_LE(worst, tolerance) << options[chosen].label;
}

INSTANTIATE_TEST_SUITE_P(SimulatedCamera, EveryFormat, ::testing::Range<std::size_t>(0, 9));

TEST(CaptureDialogs, FormatDialogShowsTheCurrentFormatAndRebuildsTheBuffers) {
    ConnectionRig rig(simulatedDrivers());
    rig.start();
    SimulatedCamera camera;
    const std::vector<FormatOption> options = camera.formatOptions();
    rig.dialogs.formatAnswer = -1;
    rig.connection->FormatClick();
    EXPECT_EQ(rig.dialogs.formatsShown.size(), options.size());
    EXPECT_EQ(rig.dialogs.currentShown, 0); // RGB 24 at 640 × 480
    EXPECT_EQ(rig.connection->FrameStream.size(), 921654u);
    // One entry per layout, all at the only size the analysis takes.
    ASSERT_EQ(options.size(), kDriverLayouts.size());
    for (const FormatOption& option : options) {
        EXPECT_EQ(std::pair(option.width, option.height), std::pair(640, 480)) << option.label;
    }

    rig.dialogs.formatAnswer = 2; // YUY2
    ASSERT_EQ(options[2].compression, kFourCcYuy2);
    rig.connection->FormatClick();
    EXPECT_EQ(rig.connection->FrameStream.size(), 54u + 640 * 480 * 4);
    EXPECT_EQ(rig.connection->CaptureStatus.imageWidth, 640u);
    Bitmap frame;
    std::string error;
    ASSERT_TRUE(rig.connection->grabFrame(frame, error)) << error;
    EXPECT_EQ(frame.bitsPerPixel(), 32);
}

TEST(CaptureDialogs, SourceDialogChangesReachTheCamera) {
    ConnectionRig rig(simulatedDrivers());
    rig.start();
    Bitmap before;
    Bitmap after;
    std::string error;
    ASSERT_TRUE(rig.connection->grabFrame(before, error));
    rig.connection->FeaturesClick();
    std::vector<std::string> names;
    for (const SourceControl& control : rig.dialogs.controlsShown) {
        names.push_back(control.name);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"Brightness", "Contrast", "Exposure", "Gain", "Sample in the beam"}));

    rig.dialogs.sourceChanges = {{rig.dialogs.controlsShown[0].id, 40}};
    rig.connection->FeaturesClick();
    ASSERT_TRUE(rig.connection->grabFrame(after, error));
    long long difference = 0;
    for (int y = 0; y < 480; y += 7) {
        for (int x = 0; x < 640; x += 7) {
            difference += after.row(y)[3 * x + 2] - before.row(y)[3 * x + 2];
        }
    }
    EXPECT_GT(difference, 0);
}

TEST(CaptureConnection, WindowMoveHidesAndShowsTheCaptureWindowOnce) {
    ConnectionRig rig(simulatedDrivers());
    rig.start();
    rig.connection->WindowMoved();
    EXPECT_EQ(rig.window->shows, (std::vector<bool>{false, true}));
}

TEST(CaptureConnection, UnpluggedCameraStopsLiveVideoAndKeepsTheLastFrame) {
    auto script = std::make_shared<DriverScript>();
    script->format = bitmapInfo(640, 480, 24, kBiRgb);
    script->frame.assign(921600, 120);
    ConnectionRig rig(scriptedDrivers(script));
    rig.start();
    rig.connection->BtnGrabFrameNoStopClick();
    script->lost = true;
    script->frame.assign(921600, 1);
    Bitmap frame;
    std::string error;
    EXPECT_TRUE(rig.connection->grabFrame(frame, error));
    EXPECT_EQ(rig.state->CaptureReady, 0);
    EXPECT_EQ(rig.connection->CaptureStatus.driverLost, 1u);
    EXPECT_EQ(frame.row(0)[0], 120);
}

TEST(CaptureConnection, FrameCallbackSwallowsEverything) {
    ConnectionRig rig(simulatedDrivers());
    EXPECT_EQ(CaptureConnection::FrameCallback(nullptr, nullptr), 1);
    EXPECT_EQ(CaptureConnection::FrameCallback(rig.window.get(), nullptr), 1);
    const VideoHeader header{};
    EXPECT_EQ(CaptureConnection::FrameCallback(rig.window.get(), &header), 1); // no user data yet
    rig.start();
    EXPECT_EQ(CaptureConnection::FrameCallback(rig.window.get(), &header), 1); // no frame data
}

class StreamingCapture : public ::testing::Test {
  protected:
    ConnectionRig rig{simulatedDrivers()};
    void SetUp() override {
        rig.start();
        rig.connection->SetCaptureFile("offline.avi");
    }
};

TEST_F(StreamingCapture, RecordsOneFrameEvery35MsForTheTimeLimit) {
    rig.state->RecordTimeLimit = 1;
    rig.connection->StartSequence();
    CaptureParms parms;
    rig.window->getSequenceSetup(parms);
    EXPECT_EQ(parms.requestMicroSecPerFrame, 35000u);
    EXPECT_EQ(parms.yield, kCaptureTrue);
    EXPECT_EQ(parms.keyAbort, 27u);
    EXPECT_EQ(parms.abortLeftMouse, kCaptureTrue);
    EXPECT_EQ(parms.abortRightMouse, kCaptureTrue);
    EXPECT_EQ(parms.limitEnabled, kCaptureTrue);
    EXPECT_EQ(parms.timeLimit, 1u);
    EXPECT_EQ(parms.indexSize, CaptureParms{}.indexSize) << "fields not set keep what was read";
    EXPECT_EQ(rig.connection->CaptureStatus.capturingNow, 1u) << "the call returns while the capture runs";

    waitUntilIdle(rig);
    EXPECT_EQ(rig.sink->fileName, "offline.avi");
    EXPECT_EQ(rig.sink->microSecPerFrame, 35000u);
    ASSERT_EQ(rig.sink->frameCount(), 29); // 0, 35, ..., 980 ms
    EXPECT_EQ(rig.sink->finishes, 1);
    EXPECT_EQ(rig.sink->header, rig.connection->FrameHeader);
    EXPECT_EQ(rig.sink->frames.front().size(), 921600u);
    EXPECT_EQ(rig.connection->CaptureStatus.capturingNow, 0u);
    EXPECT_EQ(rig.connection->CaptureStatus.currentVideoFrame, 29u);
}

TEST_F(StreamingCapture, AbortEndsItWithAValidFile) {
    rig.state->RecordTimeLimit = 10;
    rig.connection->StartSequence();
    ASSERT_TRUE(rig.waitForCapturedFrames(3));
    rig.connection->AbortSequence();
    waitUntilIdle(rig);
    EXPECT_EQ(rig.sink->finishes, 1);
    EXPECT_GE(rig.sink->frameCount(), 1);
    EXPECT_LT(rig.sink->frameCount(), 286);
    EXPECT_EQ(rig.connection->CaptureStatus.currentVideoFrame,
              static_cast<std::uint32_t>(rig.sink->frameCount()));
}

TEST_F(StreamingCapture, ZeroTimeLimitRecordsNothingButCompletesTheFile) {
    rig.state->RecordTimeLimit = 0;
    rig.connection->StartSequence();
    waitUntilIdle(rig);
    EXPECT_EQ(rig.sink->frameCount(), 0);
    EXPECT_EQ(rig.sink->finishes, 1);
}

TEST_F(StreamingCapture, FailingFileEndsTheCaptureAndStillCompletesIt) {
    rig.sink->failAtFrame = 3;
    rig.state->RecordTimeLimit = 2;
    rig.connection->StartSequence();
    waitUntilIdle(rig);
    EXPECT_EQ(rig.sink->frameCount(), 3);
    EXPECT_EQ(rig.sink->finishes, 1);
    EXPECT_LT(rig.connection->CaptureStatus.lastError, 0);
}

TEST_F(StreamingCapture, FormatStaysWhileTheCaptureRuns) {
    rig.state->RecordTimeLimit = 1;
    rig.connection->StartSequence();
    const std::vector<std::uint8_t> yuy2 = formatRequest({kFourCcYuy2, 16, 320, 240, {}});
    EXPECT_FALSE(rig.window->setVideoFormat(static_cast<std::uint16_t>(yuy2.size()), yuy2.data()));
    rig.connection->AbortSequence();
    waitUntilIdle(rig);
    for (const auto& frame : rig.sink->frames) {
        EXPECT_EQ(frame.size(), 921600u);
    }
}

TEST(StreamingCaptureEnd, CameraVanishingMidCaptureCompletesTheFile) {
    auto script = std::make_shared<DriverScript>();
    script->format = bitmapInfo(64, 48, 16, kFourCcYuy2);
    script->frame.assign(64 * 48 * 2, 128);
    script->refuseFormats = true;
    ConnectionRig rig(scriptedDrivers(script));
    rig.start();
    rig.state->RecordTimeLimit = 5;
    rig.connection->StartSequence();
    ASSERT_TRUE(rig.waitForCapturedFrames(3));
    script->lost = true; // the reading thread sees it at its next frame
    waitUntilIdle(rig);
    EXPECT_EQ(rig.sink->finishes, 1);
    ASSERT_GE(rig.sink->frameCount(), 1);
    EXPECT_EQ(rig.sink->frames.front().size(), 64u * 48 * 4) << "YUV frames are written converted";
    EXPECT_EQ(rig.connection->CaptureStatus.lastError, -ENODEV);
}

} // namespace
} // namespace kestrane
