// The main window of Kestrane: start-up, activation, the handlers of its pages and the acquisition loop.
#include "app/TForm1.h"

#include "analysis/FlatField.h"
#include "analysis/FrameAnalysis.h"
#include "analysis/Legends.h"
#include "analysis/MapRendering.h"
#include "analysis/MeasurementState.h"
#include "imaging/Bmp.h"
#include "ui/Dialogs.h"
#include "ui/ImageConversion.h"
#include "ui/MeasurePage.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <stdexcept>

using kestrane::MapKind;
using kestrane::measurementState;
using kestrane::MeasurementState;

TForm1* Form1 = nullptr;

namespace {

constexpr int kWindowWidth = 777;
constexpr int kWindowHeight = 577;

bool isModalWindow(const QWidget* window) {
    const auto* dialog = qobject_cast<const QDialog*>(window);
    return window->windowModality() != Qt::NonModal || (dialog != nullptr && dialog->isModal());
}

// Re-arms the loop when the guarded part of a pass ends, also when it ends with an error.
class RearmAfterPass {
  public:
    explicit RearmAfterPass(TForm1& form) : form_(form) {}
    RearmAfterPass(const RearmAfterPass&) = delete;
    RearmAfterPass& operator=(const RearmAfterPass&) = delete;
    ~RearmAfterPass() {
        if (measurementState().RecordingActive == 0) {
            form_.setTimer2Enabled(true);
        }
    }

  private:
    TForm1& form_;
};

// No movie to step: "Work Offline" finds nothing open, so a run ends at its first tick and a clip is refused.
class NoFrameSource : public kestrane::FrameSource {
  public:
    void open(const std::string&) override {}
    bool isOpen() const override { return false; }
    void close() override {}
    std::int32_t frameCount() const override { return 0; }
    std::int32_t frameIndex() const override { return index_; }
    void setFrameIndex(std::int32_t index) override { index_ = index; }
    bool step() override { return false; }
    kestrane::FrameView frame() const override { return kestrane::FrameView{}; }

  private:
    // Kept, because the live clip's end test reads the reader's index.
    std::int32_t index_ = 0;
};

} // namespace

TForm1::TForm1(std::unique_ptr<CaptureSeam> capture, QWidget* parent)
    : QMainWindow(parent), capture_(capture ? std::move(capture) : std::make_unique<NoCapture>()),
      offline_(std::make_unique<NoFrameSource>()) {
    setObjectName("Form1");
    setWindowTitle("Kestrane - quantitative polarisation microscopy");
    QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
    QFont font("MS Sans Serif");
    font.setPixelSize(11); // 8 points on the 96-dpi screen the layout was made for
    setFont(font);

    buildControls();
    connectHandlers();
    buildStatusLine();
    placeFixedGeometry();
    resize(kWindowWidth, kWindowHeight);
    // Page shows and window activations are seen for every window of the program.
    qApp->installEventFilter(this);
    if (Form1 == nullptr) {
        Form1 = this;
    }
    Timer2->start();
    FormCreate();
}

TForm1::~TForm1() {
    qApp->removeEventFilter(this);
    if (Form1 == this) {
        Form1 = nullptr;
    }
}

void TForm1::setOfflineSource(std::unique_ptr<kestrane::FrameSource> source) {
    offline_ = source ? std::move(source) : std::make_unique<NoFrameSource>();
}

void TForm1::connectHandlers() {
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
    connect(GroupBox1, &TGroupBox::clicked, this, &TForm1::GroupBox1Click);
    connect(Image2, &TImage::clicked, this, &TForm1::GroupBox1Click);
    connect(GroupBox5, &TGroupBox::clicked, this, &TForm1::legend);
    for (QCheckBox* box : {sindVisible, extinctionVisible, absorptionVisible}) {
        connect(box, &QCheckBox::toggled, this, &TForm1::legend);
    }
    connect(TrackBar2, &QSlider::valueChanged, this, &TForm1::TrackBar2Change);
    connect(sindthreshhold1, &QSlider::valueChanged, this, &TForm1::sindthreshhold1Change);
    connect(ob4, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            ob4Click();
        }
    });
    connect(Ob10, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            Ob10Click();
        }
    });
    connect(Ob40, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            Ob40Click();
        }
    });
    connect(Format, &QPushButton::clicked, this, &TForm1::FormatClick);
    connect(Intensitycorrection, &QPushButton::clicked, this, &TForm1::IntensitycorrectionClick);
    connect(Features, &QPushButton::clicked, this, &TForm1::FeaturesClick);
    connectRecordingHandlers();
    connectReviewHandlers();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && !event->spontaneous() && watched->isWidgetType() &&
        watched->parent() != nullptr && watched->parent()->parent() == PageControl1) {
        pageShown(static_cast<QWidget*>(watched));
    } else if (event->type() == QEvent::WindowActivate && watched->isWidgetType() &&
               static_cast<QWidget*>(watched)->isWindow()) {
        windowActivated(static_cast<QWidget*>(watched));
    }
    return false;
}

void TForm1::pageShown(QWidget* page) {
    if (page == TabSheet1) {
        TarvolundClick();
    } else if (page == TabSheet2) {
        TabSheet2Enter();
    } else if (page == TabSheet3) {
        TabSheet3Show();
    } else if (page == AnalyseData) {
        AnalyseDataShow();
    } else if (page == Measure) {
        MeasureShow();
    }
}

void TForm1::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    capture_->windowMoved();
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!event->spontaneous() && lastActive_ == LastActive::Nothing) {
        // The pages have had their show events by now. Not every window system hands the focus to a new
        // window, so the first activation does not wait for it.
        activateWindow();
        QMetaObject::invokeMethod(this, &TForm1::firstActivation, Qt::QueuedConnection);
    }
}

void TForm1::firstActivation() {
    if (lastActive_ == LastActive::Nothing) {
        lastActive_ = LastActive::MainWindow;
        FormActivate();
    }
}

void TForm1::windowActivated(QWidget* window) {
    if (window != this) {
        lastActive_ = isModalWindow(window) ? LastActive::ModalDialog : LastActive::OtherWindow;
        return;
    }
    // Only the first showing and the focus coming back from another of the program's own non-modal windows
    // count; a closed message box or a return from another program does not.
    const bool counts = lastActive_ == LastActive::Nothing || lastActive_ == LastActive::OtherWindow;
    lastActive_ = LastActive::MainWindow;
    if (counts) {
        FormActivate();
    }
}

void TForm1::FormCreate() {
    if (capture_->isSimulated()) {
        // Nobody may take the simulated sample's pictures for a real one.
        setWindowTitle(windowTitle() + " - simulated camera");
    }
    if (capture_->startUp(*Panel2)) {
        measurementState().CaptureReady = 1;
        if (const std::string name = capture_->cameraName(); !name.empty()) {
            setWindowTitle(windowTitle() + " - " + QString::fromStdString(name));
        }
    } else {
        // Empty maps with no word of why would send the operator hunting for a fault in the sample.
        const std::string reason = capture_->failureReason();
        setWindowTitle(windowTitle() + " - no camera" +
                       QString::fromStdString(reason.empty() ? "" : ": " + reason));
    }
}

void TForm1::FormActivate() {
    resize(kWindowWidth, kWindowHeight);
    placeFixedGeometry();
    kestrane::buildTables(measurementState().tables);
    LoadIntensitycorrection();
    legend();
}

void TForm1::setTimer2Enabled(bool enabled) {
    if (!enabled) {
        Timer2->stop();
    } else if (!Timer2->isActive()) {
        Timer2->start();
    }
}

void TForm1::Timer2Timer() {
    setTimer2Enabled(false);
    if (Offline->isChecked()) {
        if (!offline_->isOpen()) {
            offlineLost();
            return;
        }
        offline_->step();
        const kestrane::FrameView frame = offline_->frame();
        if (frame.pixels == nullptr) {
            offlineLost();
            return;
        }
        copyToImage(frame, Image1->picture());
        Image1->update();
        Label7->setText(QString::number(offline_->frameIndex()));
        if (offline_->frameIndex() < offline_->frameCount() - 2) {
            TarvolundClick();
        } else {
            offline_->close();
            Offline->setChecked(false);
            offline_->setFrameIndex(1);
            offline_->hideWindow();
        }
    } else if (measurementState().LivePaused == 0) {
        liveTick_ = true;
        TarvolundClick();
    }
}

void TForm1::offlineLost() {
    // The box must not claim a run that cannot go on; ticking it again reopens the offline file.
    const QSignalBlocker quiet(Offline);
    Offline->setChecked(false);
}

void TForm1::TabSheet3Show() {
    measurementState().LivePaused = 1;
    Panel2->hide();
}

void TForm1::TabSheet2Enter() {
    measurementState().LivePaused = 1;
    Panel2->show();
}

void TForm1::AnalyseDataShow() {
    measurementState().LivePaused = 1;
    Panel2->hide();
}

void TForm1::TarvolundClick() {
    MeasurementState& state = measurementState();
    state.LivePaused = 0;
    const bool offline = Offline->isChecked();
    if (state.CaptureReady == 0 && !offline) {
        return;
    }
    if (!offline) {
        grabLiveFrame();
    }
    if (gong->isChecked()) {
        QApplication::beep();
    }
    const RearmAfterPass rearm(*this);
    ++framesAnalysed_;
    analyseAndRender();
}

namespace {

// The picture of a map control as a 320 × 240 view to render into. It is drawn in place, so the live loop
// allocates nothing; a picture of another size or shared with a copy handed out earlier is replaced first.
kestrane::FrameView mapPictureOf(TImage* image) {
    QImage& picture = image->picture();
    if (picture.width() != kestrane::kMapWidth || picture.height() != kestrane::kMapHeight ||
        picture.format() != QImage::Format_RGB32) {
        picture = QImage(kestrane::kMapWidth, kestrane::kMapHeight, QImage::Format_RGB32);
        picture.fill(Qt::black);
    }
    return frameViewOf(picture);
}

} // namespace

void TForm1::analyseAndRender() {
    MeasurementState& state = measurementState();
    copyToBitmap(Image1->picture(), work_);
    state.FramePixels = kestrane::BmpToArray(work_);
    if (PageControl1->currentWidget() == Measure) {
        measurePass();
        // The page needs the quantities only; the maps and pictures of the "Kestrane" page are hidden, and
        // showing that page runs a pass that makes them. A recording composes its frames from those
        // pictures, so while one runs they are made as always.
        if (state.RecordingActive == 0) {
            state.FramePixels = nullptr;
            return;
        }
    }
    kestrane::analyseFrame(work_.view(), state);

    if (sindVisible->isChecked()) {
        kestrane::renderSinD(state, mapPictureOf(Image2));
        Image2->update();
        if (showazimuthinSind->isChecked()) {
            ShowAzimuth2Click();
        }
    }
    if (extinctionVisible->isChecked()) {
        kestrane::renderExtinction(state, mapPictureOf(Image3));
        Image3->update();
        if (showAzimuthInExtinction->isChecked()) {
            azimuth1();
        }
    }
    if (absorptionVisible->isChecked()) {
        kestrane::renderTransmission(state, mapPictureOf(Image4));
        Image4->update();
    }
    // The pass's frame stays with its bitmap; nothing may point into it afterwards.
    state.FramePixels = nullptr;
}

void TForm1::ShowAzimuth2Click() {
    kestrane::drawAzimuth(measurementState().ExtinctionMap, frameViewOf(Image2->picture()),
                          kestrane::kOverlayBlack);
    Image2->update();
}

void TForm1::azimuth1() {
    kestrane::drawAzimuth(measurementState().ExtinctionMap, frameViewOf(Image3->picture()),
                          kestrane::kOverlayWhite);
    Image3->update();
}

void TForm1::GroupBox1Click() {
    measurementState().RecordingActive = 0;
}

int TForm1::selectedObjective() const {
    int objective = 4;
    if (Ob10->isChecked()) {
        objective = 10;
    }
    if (Ob40->isChecked()) {
        objective = 40;
    }
    return objective;
}

void TForm1::objectiveChosen() {
    LoadIntensitycorrection();
    legend();
}

void TForm1::ob4Click() {
    objectiveChosen();
}

void TForm1::Ob10Click() {
    objectiveChosen();
}

void TForm1::Ob40Click() {
    objectiveChosen();
}

void TForm1::FormatClick() {
    capture_->formatDialog();
}

void TForm1::FeaturesClick() {
    capture_->sourceDialog();
}

void TForm1::LoadIntensitycorrection() {
    MeasurementState& state = measurementState();
    kestrane::Bitmap background;
    std::string error;
    const char* fileName = kestrane::backgroundFileName(selectedObjective());
    bool loaded = kestrane::readBmpFile(fileName, background, error) &&
                  background.width() == kestrane::kFrameWidth &&
                  background.height() == kestrane::kFrameHeight;
    if (loaded) {
        Image4->setPicture(toQImage(background));
        loaded = kestrane::computeFlatFieldGains(background, state);
        state.FramePixels = nullptr;
    }
    if (!loaded) {
        // The file is looked for in the directory the program was started from: say which one that was.
        dialogs().message(QStringLiteral("backgroundintensity nor found\n") +
                          QFileInfo(QDir::current(), QString::fromLocal8Bit(fileName)).absoluteFilePath());
        // Without any background the gains are all zero and would blacken every frame: keep them off.
        return;
    }
    state.FlatFieldOn = 1;
}

namespace {

// While the background frames are grabbed: a wait cursor, the button off and the caption counting the frames.
// Only paint events are let through between grabs; no click can start anything and no timer can take a frame
// from the camera in between, so the frames are consecutive.
class BackgroundGrabProgress {
  public:
    BackgroundGrabProgress(QWidget& window, QWidget& button)
        : window_(window), button_(button), caption_(window.windowTitle()) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        button_.setEnabled(false);
    }
    BackgroundGrabProgress(const BackgroundGrabProgress&) = delete;
    BackgroundGrabProgress& operator=(const BackgroundGrabProgress&) = delete;
    ~BackgroundGrabProgress() {
        window_.setWindowTitle(caption_);
        button_.setEnabled(true);
        QApplication::restoreOverrideCursor();
    }

    void show(int grabbed) {
        window_.setWindowTitle(caption_ + QStringLiteral(" - recording the background: frame %1 of %2")
                                              .arg(grabbed + 1)
                                              .arg(kestrane::kBackgroundFrames));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::X11ExcludeTimers);
    }

  private:
    QWidget& window_;
    QWidget& button_;
    QString caption_;
};

// The mean of consecutive camera frames; throws, saying how far it came, when the camera fails on the way.
kestrane::Bitmap grabBackground(CaptureSeam& camera, QWidget& window, QWidget& button) {
    // One frame's noise would stay in every gain for the rest of the session; the mean of 16 has a quarter.
    kestrane::FrameAverager averager;
    kestrane::Bitmap frame;
    BackgroundGrabProgress progress(window, button);
    for (int grabbed = 0; grabbed < kestrane::kBackgroundFrames; ++grabbed) {
        progress.show(grabbed);
        if (!camera.grabRaw(frame)) {
            const std::string said =
                grabbed == 0 ? "No picture from the camera"
                             : "The camera stopped delivering after " + std::to_string(grabbed) + " of " +
                                   std::to_string(kestrane::kBackgroundFrames) + " frames";
            throw std::runtime_error(said + ": no background was recorded; the previous one stays in force.");
        }
        if (!averager.add(frame)) {
            throw std::runtime_error(
                "The camera changed its picture format while the background was "
                "recorded: no background was recorded; the previous one stays in force.");
        }
    }
    return averager.mean();
}

} // namespace

void TForm1::IntensitycorrectionClick() {
    dialogs().message("romove all optical components and sample");
    MeasurementState& state = measurementState();
    state.LivePaused = 0;
    kestrane::Bitmap background = grabBackground(*capture_, *this, *Intensitycorrection);
    Image4->setPicture(toQImage(background));
    if (background.width() != kestrane::kFrameWidth || background.height() != kestrane::kFrameHeight) {
        // A background of another size could never be loaded again; keep the old file and gains instead.
        throw std::runtime_error("The camera picture is not 640 x 480: no background was recorded.");
    }
    // Written under a temporary name and renamed: a failed write leaves the previous background as it was.
    std::string error;
    if (!kestrane::writeBmpFile(kestrane::backgroundFileName(selectedObjective()), background, error)) {
        throw std::runtime_error(error);
    }
    kestrane::computeFlatFieldGains(background, state);
    state.FramePixels = nullptr;
    state.FlatFieldOn = 1;
}

void TForm1::legend() {
    const MeasurementState& state = measurementState();
    const LegendSettings settings{&state.tables, state.MaxSin, selectedObjective()};
    paintLegend(legend1->picture(), MapKind::SinD, settings);
    paintLegend(legend2->picture(), MapKind::Extinction, settings);
    paintLegend(legend3->picture(), MapKind::Transmission, settings);
    for (TImage* image : {legend1, legend2, legend3}) {
        image->update();
    }
    GroupBox1->setVisible(sindVisible->isChecked());
    GroupBox2->setVisible(extinctionVisible->isChecked());
    GroupBox3->setVisible(absorptionVisible->isChecked());
}

void TForm1::TrackBar2Change() {
    maxSinChosen(TrackBar2->value());
}

void TForm1::maxSinChosen(int position) {
    measurementState().MaxSin = static_cast<kestrane::Extended>(position) / 5.0L;
    // Both sliders set the one full scale, which the live map is drawn at: they and the legend follow it.
    for (QSlider* slider : {TrackBar2, TrackBar4}) {
        const QSignalBlocker quiet(slider);
        slider->setValue(position);
    }
    legend();
}

void TForm1::sindthreshhold1Change() {
    measurementState().SinDLimit = sindthreshhold1->value();
}
