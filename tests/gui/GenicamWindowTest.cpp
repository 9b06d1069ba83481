// The window with a GenICam camera served over the real protocol by Aravis's GigE Vision simulator: the
// caption names it, frames are analysed, a clip recorded through it is read by ffprobe, and the simulator
// stopped in the middle of a recording ends it as an unplugged camera does. Run by genicam-gv.sh, which
// starts the simulator inside a network namespace of its own and passes its process id.
#include "WindowFixture.h"
#include "recording/RecordingSettings.h"

#include <QSlider>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

namespace {

// The packets ffprobe counts in a clip's video stream; -1 when it cannot read the file.
int ffprobeFrames(const QString& file) {
    const std::string command = "ffprobe -v error -select_streams v:0 -count_packets -show_entries "
                                "stream=nb_read_packets -of default=noprint_wrappers=1:nokey=1 '" +
                                file.toStdString() + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    int frames = -1;
    if (std::fscanf(pipe, "%d", &frames) != 1) {
        frames = -1;
    }
    return pclose(pipe) == 0 ? frames : -1;
}

class GenicamWindow : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        const QByteArray pid = qgetenv("KESTRANE_GV_SIMULATOR_PID");
        if (pid.isEmpty()) {
            GTEST_SKIP() << "no GigE Vision simulator (genicam-gv.sh starts one)";
        }
        simulator_ = pid.toInt();
    }

    QString data(const QString& name) const { return path("data/" + name); }

    pid_t simulator_ = 0;
};

TEST_F(GenicamWindow, AnalysesRecordsAndEndsARecordingWhenTheCameraGoesAway) {
    kestrane::CameraOptions options;
    options.kind = kestrane::CameraKind::Genicam;
    form = std::make_unique<TForm1>(createCapture(options));
    EXPECT_TRUE(form->windowTitle().contains(" - GenICam camera ")) << form->windowTitle().toStdString();
    ASSERT_EQ(measurementState().CaptureReady, 1);
    showAndActivate();
    form->TarvolundClick();
    std::set<int> transmission;
    for (int x = 0; x < 320; x += 9) {
        for (int y = 0; y < 240; y += 9) {
            transmission.insert(measurementState().TransmissionMap.at(x, y));
        }
    }
    EXPECT_GT(transmission.size(), 5u); // the simulator's ramp, not an empty frame

    // A |sin(d)| clip of 21 frames through the camera.
    form->SaveSineDClick();
    EXPECT_EQ(ffprobeFrames(data("sind1.avi")), 21);

    // A long clip, and the simulator killed two seconds into it.
    ui().TrackBar1->setValue(400);
    dialogs.messages.clear();
    std::thread kill([pid = simulator_] {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        ::kill(pid, SIGKILL);
    });
    const auto started = std::chrono::steady_clock::now();
    form->SaveSineDClick();
    kill.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(measurementState().CaptureReady, 0);
    EXPECT_EQ(measurementState().RecordingActive, 0);
    ASSERT_FALSE(dialogs.messages.isEmpty());
    EXPECT_TRUE(dialogs.messages.last().startsWith("The camera was disconnected during the recording: " +
                                                   data("sind2.avi")))
        << dialogs.messages.last().toStdString() << " after " << seconds << " s";
    const int frames = ffprobeFrames(data("sind2.avi"));
    EXPECT_GE(frames, 10);
    EXPECT_LT(frames, 401);
    std::ifstream in(kestrane::settingsFileName(data("sind2.avi").toStdString()));
    const nlohmann::json settings = nlohmann::json::parse(in, nullptr, false);
    ASSERT_TRUE(settings.is_object());
    EXPECT_EQ(settings["ended"], "stopped: the camera was disconnected");
    EXPECT_EQ(settings["frames"], frames);
    EXPECT_TRUE(settings["camera"].get<std::string>().starts_with("GenICam camera ")) << settings["camera"];
    std::printf("genicam-gv: clip of %d frames through the camera; the camera lost %.1f s into the second "
                "recording, which kept %d frames\n",
                21, seconds, frames);
}

} // namespace
