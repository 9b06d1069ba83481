// The main window with a camera: the simulated sample live, and recording and loading flat-field backgrounds.
#include "WindowFixture.h"

#include "capture/CameraSelection.h"
#include "imaging/Bmp.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <cerrno>
#include <cstring>
#include <set>
#include <stdexcept>

namespace {

kestrane::CameraOptions simulatedCamera() {
    kestrane::CameraOptions options;
    options.kind = kestrane::CameraKind::Simulated;
    return options;
}

// A camera whose grab k (from 1) shows red 64 + 4·(−1)^k in even columns, 128 + 4·(−1)^k in odd ones and
// green 10·k: sixteen grabs average to red 64 and 128 and green 85. From grab `lostAtGrab` on it delivers
// nothing, as an unplugged camera. It notes what the window showed while it was grabbing.
class SeriesCapture : public CaptureSeam {
  public:
    bool startUp(QWidget&) override { return true; }
    void grabFrame(QImage& frame) override { frame = frameOf(grabs + 1); }
    bool grabRaw(kestrane::Bitmap& frame) override {
        ++grabs;
        captions << Form1->windowTitle();
        buttonEnabled = buttonEnabled || controls(*Form1).Intensitycorrection->isEnabled();
        waitCursor = waitCursor && QApplication::overrideCursor() != nullptr &&
                     QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        if (lostAtGrab > 0 && grabs >= lostAtGrab) {
            kestrane::measurementState().CaptureReady = 0;
            return false;
        }
        copyToBitmap(frameOf(grabs), frame);
        return true;
    }
    void formatDialog() override {}
    void sourceDialog() override {}

    static QImage frameOf(int k) {
        const int wobble = k % 2 == 0 ? 4 : -4;
        QImage frame(640, 480, QImage::Format_RGB32);
        for (int r = 0; r < 480; ++r) {
            auto* line = reinterpret_cast<QRgb*>(frame.scanLine(r));
            for (int x = 0; x < 640; ++x) {
                line[x] = qRgb((x % 2 == 0 ? 64 : 128) + wobble, 10 * k, 0);
            }
        }
        return frame;
    }

    int grabs = 0;
    int lostAtGrab = 0;
    QStringList captions;
    bool buttonEnabled = false;
    bool waitCursor = true;
};

class CameraWindowTest : public WindowTest {
  protected:
    SeriesCapture& makeSeriesForm() {
        auto camera = std::make_unique<SeriesCapture>();
        SeriesCapture& made = *camera;
        form = std::make_unique<TForm1>(std::move(camera));
        return made;
    }

    TForm1& makeSimulatedForm() {
        form = std::make_unique<TForm1>(createCapture(simulatedCamera()));
        return *form;
    }
};

TEST_F(CameraWindowTest, TheSimulatedSampleRunsLiveAndSaysSo) {
    TForm1& f = makeSimulatedForm();
    EXPECT_TRUE(f.windowTitle().contains("simulated camera"));
    EXPECT_EQ(measurementState().CaptureReady, 1);
    showAndActivate();
    f.TarvolundClick();
    // A structured sample: many different |sin d| and extinction values, transmission neither black nor flat.
    std::set<int> sinD, extinction, transmission;
    for (int x = 0; x < 320; x += 7) {
        for (int y = 0; y < 240; y += 7) {
            sinD.insert(measurementState().SinDMap.at(x, y));
            extinction.insert(measurementState().ExtinctionMap.at(x, y));
            transmission.insert(measurementState().TransmissionMap.at(x, y));
        }
    }
    EXPECT_GT(sinD.size(), 20u);
    EXPECT_GT(extinction.size(), 20u);
    EXPECT_GT(transmission.size(), 10u);
    EXPECT_FALSE(controls(f).Panel2->findChildren<QWidget*>().isEmpty()); // the capture window lives in the
                                                                          // preview panel

    // The "Preview" page pauses the live analysis; the main page starts it again.
    controls(f).PageControl1->setCurrentWidget(controls(f).TabSheet2);
    EXPECT_EQ(measurementState().LivePaused, 1);
    EXPECT_TRUE(controls(f).Panel2->isVisible());
    controls(f).PageControl1->setCurrentWidget(controls(f).TabSheet1);
    EXPECT_EQ(measurementState().LivePaused, 0);
    EXPECT_FALSE(controls(f).Panel2->isVisible());
}

// Without live video the caption says so, and why when a device was asked for and failed.
TEST_F(CameraWindowTest, TheCaptionSaysWhichCameraIsBehindTheMaps) {
    const QString title = "Kestrane - quantitative polarisation microscopy";
    const struct {
        kestrane::CameraKind kind;
        std::string device;
        QString caption;
        int ready;
    } cases[] = {
        {kestrane::CameraKind::V4l2, "/nonexistent/video9",
         title + " - no camera: /nonexistent/video9: " + QString::fromLocal8Bit(std::strerror(ENOENT)), 0},
        {kestrane::CameraKind::V4l2, "/dev/null", title + " - no camera: /dev/null: not a video device", 0},
        {kestrane::CameraKind::None, "/dev/video0", title + " - no camera", 0},
        {kestrane::CameraKind::Simulated, "/nonexistent/video9", title + " - simulated camera", 1},
    };
    for (const auto& c : cases) {
        kestrane::resetMeasurementState();
        form = std::make_unique<TForm1>(createCapture({c.kind, c.device}));
        EXPECT_TRUE(form->windowTitle().startsWith(c.caption)) << form->windowTitle().toStdString();
        EXPECT_EQ(measurementState().CaptureReady, c.ready) << c.device;
    }
    form = std::make_unique<TForm1>(std::make_unique<StillFrameCapture>(QImage(), "/nonexistent/frame.bmp"));
    EXPECT_EQ(form->windowTitle(),
              title + " - no camera: /nonexistent/frame.bmp: not a picture that can be read");
}

TEST_F(CameraWindowTest, AFirstRunWithoutBackgroundLeavesFramesUncorrected) {
    TForm1& f = makeForm(workedExampleFrame());
    showAndActivate();
    EXPECT_EQ(dialogs.messages,
              QStringList{"backgroundintensity nor found\n" + path("kestrane-backgroundintensity4.bmp")});
    EXPECT_EQ(measurementState().FlatFieldOn, 0);
    f.TarvolundClick();
    EXPECT_EQ(measurementState().SinDMap.at(100, 100), 76); // not every red sample turned to 0
    EXPECT_EQ(measurementState().TransmissionMap.at(100, 100), 115);
}

TEST_F(CameraWindowTest, RecordingABackgroundWritesOnlyTheSelectedObjectivesFile) {
    TForm1& f = makeForm(quadrantFrame(64, 128, 255, 1));
    showAndActivate();
    dialogs.messages.clear();
    controls(f).Ob40->setChecked(true);
    dialogs.messages.clear();
    measurementState().LivePaused = 1;
    f.IntensitycorrectionClick();

    EXPECT_EQ(dialogs.messages, QStringList{"romove all optical components and sample"});
    EXPECT_EQ(measurementState().LivePaused, 0);
    EXPECT_TRUE(QFile::exists(path("kestrane-backgroundintensity40.bmp")));
    EXPECT_FALSE(QFile::exists(path("kestrane-backgroundintensity4.bmp")));
    EXPECT_FALSE(QFile::exists(path("kestrane-backgroundintensity10.bmp")));
    EXPECT_EQ(measurementState().FlatFieldOn, 1);
    EXPECT_EQ(measurementState().FlatFieldGain.at(0, 0), 2.0f);       // A: 128 / 64
    EXPECT_EQ(measurementState().FlatFieldGain.at(400, 0), 1.0f);     // B: 128 / 128
    EXPECT_EQ(measurementState().FlatFieldGain.at(400, 300), 128.0f); // D: 128 / 1
    EXPECT_EQ(controls(f).Image4->picture().size(), QSize(640, 480));

    // The file is the frame as it arrived, and loads back as the same gains.
    kestrane::Bitmap saved;
    std::string error;
    ASSERT_TRUE(
        kestrane::readBmpFile(path("kestrane-backgroundintensity40.bmp").toStdString(), saved, error));
    EXPECT_EQ(saved.width(), 640);
    measurementState().FlatFieldGain.clear();
    f.LoadIntensitycorrection();
    EXPECT_EQ(measurementState().FlatFieldGain.at(0, 0), 2.0f);

    // With the background in force, a frame like it reads 128 in every channel.
    f.TarvolundClick();
    EXPECT_EQ(measurementState().TransmissionMap.at(10, 10), 127);
}

TEST_F(CameraWindowTest, RecordingWithoutACameraReportsAndWritesNothing) {
    TForm1& f = makeForm(QImage());
    showAndActivate();
    EXPECT_THROW(f.IntensitycorrectionClick(), std::runtime_error);
    EXPECT_FALSE(QFile::exists(path("kestrane-backgroundintensity4.bmp")));
    EXPECT_EQ(measurementState().FlatFieldOn, 0);
}

TEST_F(CameraWindowTest, ABackgroundThatCannotBeWrittenIsReportedWithTheReason) {
    TForm1& f = makeForm(quadrantFrame(64, 128, 255, 1));
    showAndActivate();
    // A folder in the file's place: the picture cannot be stored under that name.
    ASSERT_TRUE(QDir().mkpath(path("kestrane-backgroundintensity4.bmp")));
    try {
        f.IntensitycorrectionClick();
        FAIL() << "the write must fail";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  std::string("cannot write kestrane-backgroundintensity4.bmp: ") + std::strerror(EISDIR));
    }
    EXPECT_EQ(measurementState().FlatFieldOn, 0) << "the gains change only once the file is written";
}

TEST_F(CameraWindowTest, ACameraPictureOfAnotherSizeIsNotRecorded) {
    QImage small(320, 240, QImage::Format_RGB32);
    small.fill(qRgb(100, 0, 0));
    TForm1& f = makeForm(small);
    showAndActivate();
    EXPECT_THROW(f.IntensitycorrectionClick(), std::runtime_error);
    EXPECT_FALSE(QFile::exists(path("kestrane-backgroundintensity4.bmp")));
}

TEST_F(CameraWindowTest, TheBackgroundIsTheMeanOfSixteenGrabbedFrames) {
    SeriesCapture& camera = makeSeriesForm();
    showAndActivate();
    const QString caption = form->windowTitle();
    form->IntensitycorrectionClick();

    ASSERT_EQ(camera.grabs, 16);
    EXPECT_EQ(camera.captions.first(), caption + " - recording the background: frame 1 of 16");
    EXPECT_EQ(camera.captions.last(), caption + " - recording the background: frame 16 of 16");
    EXPECT_TRUE(camera.waitCursor);
    EXPECT_FALSE(camera.buttonEnabled) << "a second click must not start a second recording inside the first";
    EXPECT_EQ(form->windowTitle(), caption);
    EXPECT_TRUE(ui().Intensitycorrection->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    kestrane::Bitmap saved;
    std::string error;
    ASSERT_TRUE(kestrane::readBmpFile(path("kestrane-backgroundintensity4.bmp").toStdString(), saved, error));
    ASSERT_EQ(saved.bitsPerPixel(), 32) << "saved in the format the camera delivered";
    for (const auto& [x, y, red] : {std::tuple{0, 0, 64}, {1, 0, 128}, {638, 479, 64}, {639, 479, 128}}) {
        EXPECT_EQ(saved.view().pixel(x, y)[2], red) << x << ", " << y;
        EXPECT_EQ(saved.view().pixel(x, y)[1], 85) << x << ", " << y;
    }
    EXPECT_EQ(measurementState().FlatFieldGain.at(0, 0), 2.0f);
    EXPECT_EQ(measurementState().FlatFieldGain.at(1, 0), 1.0f);
    EXPECT_EQ(measurementState().FlatFieldOn, 1);
}

TEST_F(CameraWindowTest, ACameraLostWhileTheBackgroundIsGrabbedLeavesThePreviousOne) {
    SeriesCapture& camera = makeSeriesForm();
    showAndActivate();
    form->IntensitycorrectionClick();
    QFile file(path("kestrane-backgroundintensity4.bmp"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    const float gain = measurementState().FlatFieldGain.at(0, 0);
    const QString caption = form->windowTitle();

    camera.grabs = 0;
    camera.lostAtGrab = 9;
    try {
        form->IntensitycorrectionClick();
        FAIL() << "a lost camera must be reported";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "The camera stopped delivering after 8 of 16 frames: no background was "
                  "recorded; the previous one stays in force.");
    }
    EXPECT_EQ(camera.grabs, 9);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    EXPECT_EQ(QDir(path(".")).entryList(QDir::Files),
              QStringList{"kestrane-backgroundintensity4.bmp"}); // no half-written file beside it
    EXPECT_EQ(measurementState().FlatFieldGain.at(0, 0), gain);
    EXPECT_EQ(form->windowTitle(), caption);
    EXPECT_TRUE(ui().Intensitycorrection->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

} // namespace
