// The window's recorders end to end: clips live and from the offline file, raw recordings by the program and
// by the driver, the offline run to the end of its file, every failure the operator must hear about, and
// kestrane-analyse --clip writing the window's clip.
#include "WindowFixture.h"

#include "app/DataDirectory.h"
#include "cli/AnalyseCommand.h"
#include "recording/AviFrames.h"
#include "recording/ClipRecorder.h"
#include "review/AVIToBitmap.h"
#include "review/AviPlayer.h"
#include "review/ReaderFrameSource.h"
#include "ui/ImageConversion.h"
#include "ui/MeasurePage.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <unistd.h>

namespace {

using kestrane::Bitmap;

// A camera that always shows `frame`, can post an Escape at its n-th grab and streams only in pretence.
class ScriptedCapture : public StillFrameCapture {
  public:
    explicit ScriptedCapture(QImage frame) : StillFrameCapture(std::move(frame)) {}
    void grabFrame(QImage& frame) override {
        StillFrameCapture::grabFrame(frame);
        if (!nextFrame.isNull()) {
            frame = nextFrame;
        }
        grabbed();
    }
    bool grabRaw(Bitmap& frame) override {
        const bool ok = !unplugged && StillFrameCapture::grabRaw(frame);
        grabbed();
        return ok;
    }
    // What a driver that has gone away does to the next grabs.
    void unplug() {
        unplugged = true;
        kestrane::measurementState().CaptureReady = 0;
    }
    bool startSequence(const std::string& fileName, const kestrane::RecordingSettings& settings,
                       std::string& error) override {
        sequenceFile = fileName;
        sequenceSettings = settings;
        error = startError;
        running = error.empty();
        return running;
    }
    bool sequenceRunning(SequenceEnd& end) override {
        end = running ? SequenceEnd{} : ended;
        return running;
    }

    int grabs = 0;
    int escapeAtGrab = -1;
    std::string sequenceFile;
    kestrane::RecordingSettings sequenceSettings;
    std::string startError;
    SequenceEnd ended;
    bool running = false;
    bool unplugged = false;
    std::function<void(int grab)> onGrab;
    QImage nextFrame; // once set, the sample the camera shows from the next grab on

  private:
    void grabbed() {
        if (onGrab) {
            onGrab(grabs + 1);
        }
        if (++grabs == escapeAtGrab && Form1 != nullptr) {
            QCoreApplication::postEvent(Form1,
                                        new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        }
    }
};

// A disk of `limit` bytes under a real file, so that the window can play what was written before it filled.
class SmallDisk : public kestrane::AviByteSink {
  public:
    SmallDisk(int fd, std::uint64_t limit) : fd_(fd), limit_(limit) {}
    ~SmallDisk() override { ::close(fd_); }
    bool writeAt(std::uint64_t offset, const void* data, std::size_t count) override {
        return offset + count <= limit_ &&
               ::pwrite(fd_, data, count, static_cast<off_t>(offset)) == static_cast<ssize_t>(count);
    }
    bool reserve(std::uint64_t size) override { return size <= limit_; }
    bool truncate(std::uint64_t size) override { return ::ftruncate(fd_, static_cast<off_t>(size)) == 0; }

  private:
    int fd_;
    std::uint64_t limit_;
};

struct Clip {
    kestrane::AviStreamInfo info;
    std::vector<Bitmap> frames;
};

Clip readClip(const QString& path) {
    Clip clip;
    kestrane::AviFrameReader reader;
    if (reader.open(path.toStdString()) != kestrane::kAviOk) {
        return clip;
    }
    clip.info = reader.streamInfo();
    for (int n = 0; n < reader.frameCount(); ++n) {
        clip.frames.emplace_back();
        reader.frame(n, clip.frames.back());
    }
    return clip;
}

// Pixels of a clip frame that differ from `picture` placed at column `left`, compared in colour.
int differences(const Bitmap& frame, const QImage& picture, int left) {
    const QImage upright = toQImage(frame);
    int differing = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            differing += (upright.pixel(left + x, y) & 0xffffff) != (picture.pixel(x, y) & 0xffffff) ? 1 : 0;
        }
    }
    return differing;
}

class RecordingWindow : public WindowTest {
  protected:
    ScriptedCapture& makeCameraForm(const QImage& frame = workedExampleFrame()) {
        auto capture = std::make_unique<ScriptedCapture>(frame);
        ScriptedCapture& made = *capture;
        form = std::make_unique<TForm1>(std::move(capture));
        return made;
    }
    QString data(const QString& name) const { return path("data/" + name); }

    // A raw recording of `count` distinct frames written where "Work Offline" reads it.
    void writeOfflineMovie(int count) {
        QDir().mkpath(path("data"));
        struct Frames : kestrane::RecordingFrames {
            void formatPicture(Bitmap& p) override { p = toBitmap(workedExampleFrame()); }
            bool makeFrame(std::int64_t i, Bitmap& p) override {
                const int v = static_cast<int>(i) * 9;
                p = toBitmap(quadrantFrame(120 - v, 100 + v, 90, 130 - v));
                return true;
            }
            std::int32_t readerIndex() const override { return 0; }
        } frames;
        kestrane::recordAvi({data("offline.avi").toStdString(), 30, 1, count - 1}, frames,
                            kestrane::aviFileCreator());
    }
};

TEST_F(RecordingWindow, LiveClipsAreNamedCountedAndShowTheirMapAndLegend) {
    makeCameraForm();
    showAndActivate();
    form->SaveSineDClick();

    const Clip first = readClip(data("sind1.avi"));
    ASSERT_EQ(first.frames.size(), 21u); // bound 20 right after start-up
    EXPECT_EQ(first.info.dwRate, 10u);
    EXPECT_EQ(first.info.dwScale, 1u);
    EXPECT_EQ(first.info.dwSuggestedBufferSize, 370u * 240u * 4u);
    EXPECT_EQ(first.frames[20].width(), 370);
    EXPECT_EQ(first.frames[20].height(), 240);
    EXPECT_EQ(differences(first.frames[20], ui().Image2->picture(), 0), 0);
    EXPECT_EQ(differences(first.frames[20], ui().legend1->picture(), 320), 0);
    EXPECT_EQ(measurementState().SinDMap.at(10, 10), 76);

    // Its settings beside it, with the time of every frame from the clock.
    std::ifstream in(data("sind1.json").toStdString());
    const nlohmann::json settings = nlohmann::json::parse(in, nullptr, false);
    ASSERT_TRUE(settings.is_object());
    for (const char* key :
         {"program", "kind", "map", "started", "camera", "objective", "pixel_size_um", "wavelength_nm",
          "maxsin", "sind_limit", "flat_field", "frame_period_s", "frames", "frame_times_s", "ended"}) {
        EXPECT_TRUE(settings.contains(key)) << key;
    }
    EXPECT_EQ(settings["kind"], "clip");
    EXPECT_EQ(settings["map"], "sind");
    EXPECT_EQ(settings["objective"], form->selectedObjective());
    EXPECT_EQ(settings["frame_period_s"], 0.1);
    EXPECT_EQ(settings["frames"], 21);
    EXPECT_EQ(settings["ended"], "completed");
    const auto times = settings["frame_times_s"].get<std::vector<double>>();
    ASSERT_EQ(times.size(), 21u);
    EXPECT_EQ(times.front(), 0.0);
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    EXPECT_GT(times.back(), 0.0);

    EXPECT_TRUE(ui().GroupBox4->isVisible());
    EXPECT_EQ(ui().GroupBox4->title(), "Recording of |sin(d)|");
    EXPECT_EQ(ui().GroupBox4->geometry(), QRect(0, 0, 377, 257));
    EXPECT_TRUE(ui().Animate1->isPlaying());
    EXPECT_EQ(ui().Animate1->frameCount(), 21);
    EXPECT_EQ(ui().Animate1->periodMs(), 100);
    EXPECT_TRUE(ui().sindVisible->isChecked());
    EXPECT_FALSE(ui().extinctionVisible->isChecked());
    EXPECT_EQ(measurementState().LivePaused, 1);
    EXPECT_EQ(measurementState().RecordingActive, 0);

    QTest::mouseClick(ui().Animate1, Qt::LeftButton);
    EXPECT_FALSE(ui().GroupBox4->isVisible());
    EXPECT_FALSE(ui().Animate1->isPlaying());
    EXPECT_EQ(measurementState().LivePaused, 0);
    EXPECT_TRUE(ui().Timer2->isActive());

    // A bound of 2 gives one frame; the number continues after a clip left by an earlier run.
    ui().TrackBar1->setValue(2);
    EXPECT_EQ(ui().Label15->text(), "2frames");
    QFile(data("phi6.avi")).open(QIODevice::WriteOnly);
    form->SaveExtinctionClick();
    EXPECT_EQ(readClip(data("phi7.avi")).frames.size(), 1u);
    EXPECT_EQ(ui().GroupBox4->geometry(), QRect(0, 257, 377, 257));
    EXPECT_EQ(ui().GroupBox4->title(), "Recording of Extinction");
    EXPECT_EQ(differences(readClip(data("phi7.avi")).frames[0], ui().legend2->picture(), 320), 0);
}

// The "Measure" page skips the hidden maps, but not while a clip is composed from them.
TEST_F(RecordingWindow, AClipGoesOnRecordingTheLiveMapWhileTheMeasurePageIsShown) {
    ScriptedCapture& camera = makeCameraForm();
    showAndActivate();
    const int start = camera.grabs;
    camera.onGrab = [&](int grab) {
        if (grab == start + 8) {
            ui().PageControl1->setCurrentWidget(ui().Measure);
            camera.nextFrame = quadrantFrame(90, 130, 100, 120);
        }
    };
    form->SaveSineDClick();
    const Clip clip = readClip(data("sind1.avi"));
    ASSERT_EQ(clip.frames.size(), 21u);

    camera.onGrab = nullptr;
    ui().PageControl1->setCurrentWidget(ui().TabSheet1);
    form->TarvolundClick();
    EXPECT_GT(differences(clip.frames[0], ui().Image2->picture(), 0), 0);
    EXPECT_EQ(differences(clip.frames[20], ui().Image2->picture(), 0), 0)
        << "the last frame shows the new sample";
}

TEST_F(RecordingWindow, EscapeEndsALiveClipWhileTheWindowPaintsAndNoTimerTicks) {
    ScriptedCapture& camera = makeCameraForm();
    showAndActivate();
    ui().TrackBar1->setValue(1000);
    camera.escapeAtGrab = camera.grabs + 6;

    int ticks = 0;
    QTimer other;
    QObject::connect(&other, &QTimer::timeout, [&ticks] { ++ticks; });
    other.start(0);
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            paints += e->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } counter;
    ui().Image2->installEventFilter(&counter);
    form->SaveSineDClick();

    const Clip clip = readClip(data("sind1.avi"));
    EXPECT_GE(clip.frames.size(), 4u);
    EXPECT_LE(clip.frames.size(), 6u);
    EXPECT_GE(counter.paints, static_cast<int>(clip.frames.size()));
    EXPECT_EQ(ticks, 0);
    EXPECT_TRUE(ui().Animate1->isPlaying());
    EXPECT_EQ(measurementState().RecordingActive, 0);
}

TEST_F(RecordingWindow, AnOfflineClipTakesTheFileAtThirtyFramesAndUnchecksTheBox) {
    makeForm(QImage());
    showAndActivate();
    auto owned = std::make_unique<StillFrameSource>(10, workedExampleFrame());
    StillFrameSource& reader = *owned;
    form->setOfflineSource(std::move(owned));
    ui().TrackBar5->setValue(4);
    ui().Offline->setChecked(true);
    EXPECT_EQ(ui().TrackBar5->value(), 0);
    EXPECT_EQ(ui().Label14->text(), "0seconds");
    EXPECT_EQ(reader.opens, 1);

    form->SaveTransmissionClick();
    const Clip clip = readClip(data("abs1.avi"));
    EXPECT_EQ(clip.frames.size(), 8u);
    EXPECT_EQ(clip.info.dwRate, 30u);
    EXPECT_EQ(measurementState().TransmissionMap.at(10, 10), 115);
    EXPECT_FALSE(ui().Offline->isChecked());
    EXPECT_EQ(reader.closes, 1);
    EXPECT_EQ(reader.hides, 1);
    EXPECT_EQ(reader.opens, 2);
    EXPECT_EQ(reader.index, 1);
    EXPECT_EQ(ui().Label7->text(), "8");
    EXPECT_EQ(ui().GroupBox4->geometry(), QRect(384, 0, 377, 257));
    EXPECT_TRUE(ui().Animate1->isPlaying());
}

TEST_F(RecordingWindow, ARecordingThatCannotBeCreatedSaysWhyAndTheLoopGoesOn) {
    makeCameraForm();
    showAndActivate();
    ASSERT_TRUE(ui().Timer2->isActive());
    {
        // A clip whose stream the disk has no room for.
        form->recordingFiles = [](const std::string&, kestrane::AviFile** file) {
            return kestrane::AVIFileOpenWriter(
                file, std::make_unique<SmallDisk>(::open("/dev/null", O_WRONLY), 100));
        };
        form->SaveSineDClick();
        ASSERT_FALSE(dialogs.messages.isEmpty());
        EXPECT_TRUE(dialogs.messages.last().startsWith("Could not create " + data("sind1.avi") + ": "))
            << dialogs.messages.last().toStdString();
        EXPECT_FALSE(ui().GroupBox4->isVisible());
        EXPECT_TRUE(ui().Timer2->isActive());
        EXPECT_EQ(measurementState().RecordingActive, 0);
        EXPECT_FALSE(QFile::exists(data("sind1.avi")));
    }
    form->recordingFiles = kestrane::aviFileCreator();
    QFile(path("plain-file")).open(QIODevice::WriteOnly);
    qputenv("KESTRANE_DATA_DIR", (path("plain-file") + "/data").toLocal8Bit());
    form->SaveExtinctionClick();
    EXPECT_TRUE(
        dialogs.messages.last().startsWith("Could not create " + path("plain-file") + "/data/phi2.avi: "))
        << dialogs.messages.last().toStdString();
    EXPECT_FALSE(ui().GroupBox4->isVisible());
    EXPECT_TRUE(ui().Timer2->isActive());

    ui().TrackBar6->setValue(6);
    form->SaveVideoClick();
    EXPECT_TRUE(
        dialogs.messages.last().startsWith("Could not create " + path("plain-file") + "/data/offline.avi"));
    EXPECT_EQ(measurementState().RecordingActive, 0);
}

TEST_F(RecordingWindow, AFullDiskEndsTheClipWithTheFramesSoFarInAPlayableFile) {
    makeCameraForm();
    showAndActivate();
    const QString file = data("sind1.avi");
    form->recordingFiles = [](const std::string& name, kestrane::AviFile** out) {
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        return kestrane::AVIFileOpenWriter(out, std::make_unique<SmallDisk>(fd, 6 * 370 * 240 * 4));
    };
    form->SaveSineDClick();

    const Clip clip = readClip(file);
    EXPECT_EQ(dialogs.messages.last(),
              QStringLiteral("Could not add frame\nthe file cannot be written (is the "
                             "disk full?): %1 keeps the %2 frames recorded before.")
                  .arg(file)
                  .arg(clip.frames.size()));
    EXPECT_EQ(measurementState().RecordingActive, 0);
    EXPECT_GE(clip.frames.size(), 4u);
    EXPECT_LE(clip.frames.size(), 5u);
    EXPECT_TRUE(ui().Animate1->isPlaying());
    EXPECT_EQ(ui().Animate1->frameCount(), static_cast<int>(clip.frames.size()));
    form->GroupBox4Click();
    EXPECT_TRUE(ui().Timer2->isActive());
    form->Timer2Timer();
    EXPECT_TRUE(ui().Timer2->isActive()); // the loop lives on
}

TEST_F(RecordingWindow, RawRecordingByTheProgramAndByTheDriver) {
    ScriptedCapture& camera = makeCameraForm();
    showAndActivate();
    ui().TrackBar6->setValue(6);
    ui().TrackBar3->setValue(17);
    EXPECT_EQ(ui().Label16->text(), "delay (s) = 0.06");
    EXPECT_EQ(ui().Label9->text(), "0   timelimit (s) 60");
    EXPECT_EQ(ui().Label18->text(), "stop in1 s");
    EXPECT_EQ(measurementState().FrameDelay, 60000);
    // Where the movie viewer stands is not the recorder's business.
    OfflineFrameIndex = 40;
    form->SaveVideoClick();
    EXPECT_EQ(OfflineFrameIndex, 40);
    const Clip own = readClip(data("offline.avi"));
    EXPECT_EQ(own.frames.size(), 19u); // N = round(1 / 0.06 + 1) = 18
    EXPECT_EQ(own.info.dwRate * 60000u, own.info.dwScale * 1000000u);
    ASSERT_FALSE(own.frames.empty());
    EXPECT_EQ(own.frames[0].width(), 640);
    EXPECT_EQ(measurementState().LivePaused, 1);
    EXPECT_FALSE(ui().Timer2->isActive());
    EXPECT_TRUE(camera.sequenceFile.empty());

    // Delays up to 0.05 s: the driver streams into the same file; the preview returns when it has ended.
    ui().TrackBar6->setValue(5);
    EXPECT_EQ(ui().Label16->text(), "delay (s) = 0.05");
    form->SaveVideoClick();
    EXPECT_EQ(camera.sequenceFile, data("offline.avi").toStdString());
    EXPECT_EQ(camera.sequenceSettings.kind, "raw");
    EXPECT_FALSE(camera.sequenceSettings.map.has_value());
    EXPECT_FALSE(ui().Panel2->isVisibleTo(ui().TabSheet2));
    EXPECT_TRUE(ui().Timer1->isActive());
    form->Timer1Timer();
    EXPECT_TRUE(ui().Timer1->isActive());
    camera.running = false;
    camera.ended = SequenceEnd{"No space left on device", "", 3, 0.1};
    form->Timer1Timer();
    EXPECT_FALSE(ui().Timer1->isActive());
    EXPECT_TRUE(ui().Panel2->isVisibleTo(ui().TabSheet2));
    EXPECT_EQ(dialogs.messages.last(), "The offline video ended early\nNo space left on device: " +
                                           data("offline.avi") + " keeps the 3 frames recorded before.");
    // The abort on a mouse click stays, and is told like any other early end.
    camera.ended = SequenceEnd{"", "a mouse click", 60, 2.1};
    form->SaveVideoClick();
    camera.running = false;
    form->Timer1Timer();
    EXPECT_EQ(dialogs.messages.last(), "The offline video was stopped by a mouse click after 2.1 s: " +
                                           data("offline.avi") + " keeps the 60 frames recorded before.");

    camera.startError = "Permission denied";
    form->SaveVideoClick();
    EXPECT_EQ(dialogs.messages.last(), "Could not create " + data("offline.avi") + ": Permission denied");
    EXPECT_TRUE(ui().Panel2->isVisibleTo(ui().TabSheet2));
    EXPECT_FALSE(ui().Timer1->isActive());
}

// Each raw recording keeps the one before it beside it; one that gets no frame leaves offline.avi as it was.
TEST_F(RecordingWindow, ARawRecordingKeepsTheEarlierOneAndWithoutAFrameLeavesItAsItWas) {
    ScriptedCapture& camera = makeCameraForm();
    showAndActivate();
    writeOfflineMovie(5);
    const QString offline = data("offline.avi");
    const auto keptFiles = [this] { return QDir(path("data")).entryList({"offline-*.avi"}, QDir::Files); };
    ui().TrackBar6->setValue(6);
    ui().TrackBar3->setValue(17);
    std::ofstream(data("offline.json").toStdString()) << R"({"frames": 5})";
    const auto framesIn = [](const QString& json) {
        std::ifstream in(json.toStdString());
        return nlohmann::json::parse(in, nullptr, false).value("frames", -1);
    };
    form->SaveVideoClick();
    EXPECT_EQ(readClip(offline).frames.size(), 19u);
    ASSERT_EQ(keptFiles().size(), 1);
    EXPECT_EQ(readClip(data(keptFiles().front())).frames.size(), 5u);
    // Each movie keeps its own settings.
    EXPECT_EQ(framesIn(data("offline.json")), 19);
    EXPECT_EQ(framesIn(data(keptFiles().front().replace(".avi", ".json"))), 5);

    // Escape while the own recorder waits for its first frame.
    camera.escapeAtGrab = camera.grabs + 2;
    form->SaveVideoClick();
    const QString asItWas = ": nothing was recorded and " + offline + " is as it was.";
    EXPECT_EQ(dialogs.messages.last(), "The recording was stopped before its first frame" + asItWas);
    EXPECT_EQ(readClip(offline).frames.size(), 19u);
    EXPECT_EQ(framesIn(data("offline.json")), 19);

    // The driver's stream with a time limit of 0 s.
    ui().TrackBar6->setValue(4);
    ui().TrackBar3->setValue(1);
    form->SaveVideoClick();
    camera.running = false;
    camera.ended = SequenceEnd{};
    form->Timer1Timer();
    EXPECT_EQ(dialogs.messages.last(), "The time limit is 0 s" + asItWas);
    EXPECT_EQ(readClip(offline).frames.size(), 19u);
    EXPECT_EQ(keptFiles().size(), 1);
}

// Another program recording into the same folder: this one records nothing and touches no file.
TEST_F(RecordingWindow, AFolderBeingRecordedIntoByAnotherProgramIsLeftAlone) {
    ScriptedCapture& camera = makeCameraForm();
    showAndActivate();
    writeOfflineMovie(5);
    kestrane::OfflineRecordingFile other;
    std::string refusal;
    ASSERT_TRUE(other.claim(kestrane::DataDirectory(), refusal));
    const std::vector<std::uint8_t> theirs(100, 7);
    QFile file(data("offline.avi"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(theirs.data()), 100);
    file.close();
    for (int delay : {6, 4}) {
        ui().TrackBar6->setValue(delay);
        form->SaveVideoClick();
        EXPECT_EQ(dialogs.messages.last(), "The data folder " + path("data/") +
                                               " is being recorded into by another Kestrane (process " +
                                               QString::number(::getpid()) + "); nothing was recorded.");
        EXPECT_EQ(QFileInfo(data("offline.avi")).size(), 100);
    }
    EXPECT_TRUE(camera.sequenceFile.empty());
    EXPECT_EQ(QDir(path("data")).entryList({"offline-*.avi"}, QDir::Files).size(), 1);
}

TEST_F(RecordingWindow, WithoutACameraNoOfflineVideoIsRecorded) {
    makeForm(QImage());
    showAndActivate();
    for (int delay : {4, 6}) {
        ui().TrackBar6->setValue(delay);
        form->SaveVideoClick();
        EXPECT_EQ(dialogs.messages.last(), "There is no camera: no offline video was recorded.");
        EXPECT_FALSE(QFile::exists(data("offline.avi")));
    }
}

TEST_F(RecordingWindow, TheOfflineRunEndsAtTheEndOfTheFileAndOpensItAgain) {
    makeForm(QImage());
    showAndActivate();
    writeOfflineMovie(5);
    createForm3();
    form->setOfflineSource(std::make_unique<ReaderFrameSource>());
    ui().Offline->setChecked(true);
    EXPECT_TRUE(Form3->isVisible());
    EXPECT_EQ(OfflineFrameCount, 5);
    ui().Button1->click();
    EXPECT_TRUE(ui().Timer2->isActive());
    for (int ticks = 0; ui().Timer2->isActive() && ticks < 20; ++ticks) {
        form->Timer2Timer();
    }
    EXPECT_FALSE(ui().Offline->isChecked());
    EXPECT_EQ(ui().Label7->text(), "3");
    EXPECT_EQ(OfflineFrameIndex, 1);
    EXPECT_NE(MovieFile, nullptr); // opened again by the unchecked box
    EXPECT_FALSE(Form3->isVisible());
    EXPECT_FALSE(ui().Timer2->isActive());
    delete Form3;
}

TEST_F(RecordingWindow, AClipStartedInsideAStepOfTheOfflineRunLeavesTheLoopStopped) {
    makeForm(QImage());
    showAndActivate();
    writeOfflineMovie(6);
    createForm3();
    form->setOfflineSource(std::make_unique<ReaderFrameSource>());
    ui().Offline->setChecked(true);
    form->Button1Click();
    // The operator's click waits in the queue and runs while the reader's step lets messages through.
    QMetaObject::invokeMethod(form.get(), &TForm1::SaveSineDClick, Qt::QueuedConnection);
    form->Timer2Timer();
    EXPECT_EQ(readClip(data("sind1.avi")).frames.size(), 4u);
    EXPECT_FALSE(ui().Offline->isChecked());
    EXPECT_FALSE(ui().Timer2->isActive());
    EXPECT_TRUE(ui().Animate1->isPlaying());
    delete Form3;
}

TEST_F(RecordingWindow, TheClipCommandWritesTheWindowsOfflineClip) {
    makeForm(QImage());
    showAndActivate();
    writeOfflineMovie(7);
    createForm3();
    form->setOfflineSource(std::make_unique<ReaderFrameSource>());
    ui().Offline->setChecked(true);
    form->SaveSineDClick();
    const Clip window = readClip(data("sind1.avi"));
    ASSERT_EQ(window.frames.size(), 5u);
    delete Form3;

    std::ostringstream err;
    const QString movie = data("offline.avi");
    EXPECT_EQ(
        kestrane::runAnalyseCommand({"--clip=sind", movie.toStdString(), path("cli.avi").toStdString()}, err),
        0)
        << err.str();
    const Clip headless = readClip(path("cli.avi"));
    EXPECT_EQ(headless.info.dwRate, 30u);
    ASSERT_EQ(headless.frames.size(), window.frames.size());
    for (std::size_t n = 0; n < window.frames.size(); ++n) {
        EXPECT_TRUE(headless.frames[n] == window.frames[n]) << "frame " << n;
    }

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--clip=phase", movie.toStdString(), path("bad.avi").toStdString()},
          std::vector<std::string>{"--clip=sind", "--objective=20", movie.toStdString(),
                                   path("bad.avi").toStdString()},
          std::vector<std::string>{"--clip=sind", path("missing.avi").toStdString(),
                                   path("bad.avi").toStdString()}}) {
        std::ostringstream lines;
        EXPECT_EQ(kestrane::runAnalyseCommand(bad, lines), 2);
        const std::string said = lines.str();
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_FALSE(QFile::exists(path("bad.avi")));
    }
}

} // namespace

namespace {

struct MidRecordingFault {
    const char* name;
    bool rawRecording;        // the program's own raw recorder, else a live |sin(d)| clip
    bool removeDataDirectory; // else the camera is unplugged
    const char* message;
    const char* settingsEnded; // how the settings file says it ended
};

class RecordingFault : public RecordingWindow, public ::testing::WithParamInterface<MidRecordingFault> {};

// The fault strikes at the sixth grab of the recording; what was recorded before stays in a playable file and
// the operator is told what happened and what the file keeps.
TEST_P(RecordingFault, EndsTheRecordingWithAMessageAndAPlayableFile) {
    const MidRecordingFault f = GetParam();
    ScriptedCapture& camera = makeCameraForm();
    showAndActivate();
    const int firstGrab = camera.grabs;
    camera.onGrab = [&](int grab) {
        if (grab == firstGrab + 6) {
            if (f.removeDataDirectory) {
                QDir(path("data")).removeRecursively();
            } else {
                camera.unplug();
            }
        }
    };
    if (f.rawRecording) {
        ui().TrackBar6->setValue(6); // 0.06 s a frame: the program's own recorder
        form->SaveVideoClick();
    } else {
        form->SaveSineDClick();
    }
    const QString file = data(f.rawRecording ? "offline.avi" : "sind1.avi");
    const Clip clip = readClip(file);
    EXPECT_GE(clip.frames.size(), 3u);
    EXPECT_LE(clip.frames.size(), 6u);
    ASSERT_FALSE(dialogs.messages.isEmpty());
    const QString ended = QStringLiteral("%1%2 keeps the %3 frames recorded before.")
                              .arg(QString::fromUtf8(f.message), file)
                              .arg(clip.frames.size());
    // A loaded machine may take some frames of the own recorder late; that is said on a line of its own.
    const QString said = dialogs.messages.last();
    EXPECT_TRUE(said == ended || (said.startsWith(ended + "\n") && said.contains("taken late")))
        << said.toStdString();
    EXPECT_EQ(measurementState().RecordingActive, 0);
    std::ifstream in(kestrane::settingsFileName(file.toStdString()));
    const nlohmann::json settings = nlohmann::json::parse(in, nullptr, false);
    ASSERT_TRUE(settings.is_object());
    EXPECT_EQ(settings["ended"], f.settingsEnded);
    EXPECT_EQ(settings["frames"], clip.frames.size());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RecordingFault,
    ::testing::Values(
        MidRecordingFault{
            "UnpluggedDuringAClip", false, false,
            "The camera was disconnected during the recording: ", "stopped: the camera was disconnected"},
        MidRecordingFault{
            "UnpluggedDuringARawRecording", true, false,
            "The camera was disconnected during the recording: ", "stopped: the camera was disconnected"},
        MidRecordingFault{
            "DataDirectoryRemovedDuringAClip", false, true,
            "Could not add frame\nthe file or its folder was removed during the recording: ",
            "failed: a frame could not be written (the file or its folder was removed during the "
            "recording)"},
        MidRecordingFault{
            "DataDirectoryRemovedDuringARawRecording", true, true,
            "Could not add frame\nthe file or its folder was removed during the recording: ",
            "failed: a frame could not be written (the file or its folder was removed during the "
            "recording)"}),
    [](const ::testing::TestParamInfo<MidRecordingFault>& info) { return std::string(info.param.name); });

} // namespace
