// The main window's recording handlers: result clips, raw recording and the start of offline processing.
#include "app/TForm1.h"

#include "analysis/Calibration.h"
#include "analysis/FlatField.h"
#include "analysis/MeasurementState.h"
#include "app/DataDirectory.h"
#include "recording/ClipRecorder.h"
#include "recording/OfflineRecorder.h"
#include "review/AviPlayer.h"
#include "ui/DecimalSeparator.h"
#include "ui/Dialogs.h"
#include "ui/ImageConversion.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <thread>

using kestrane::measurementState;
using kestrane::MeasurementState;

namespace {

// While a recording runs inside a handler: the window still paints and Escape ends the recording, while other
// input and closing the window are dropped and no timer fires, so nothing else runs in between.
class RecordingSession : public QObject {
  public:
    using Clock = std::chrono::steady_clock;

    RecordingSession() { qApp->installEventFilter(this); }
    RecordingSession(const RecordingSession&) = delete;
    RecordingSession& operator=(const RecordingSession&) = delete;
    ~RecordingSession() override { qApp->removeEventFilter(this); }

    bool stopRequested() const { return stopRequested_; }

    // A camera that stops delivering in the middle of a live recording ends it; the operator is told why.
    bool cameraLost() {
        if (cameraWasReady_ && measurementState().CaptureReady == 0) {
            lostCamera_ = true;
        }
        return lostCamera_;
    }
    bool lostCamera() const { return lostCamera_; }

    // Paints what has changed and takes in the keys pressed, without a timer tick.
    void processEvents() { QCoreApplication::processEvents(QEventLoop::X11ExcludeTimers); }

    // Waits `ms` milliseconds, looking at the keyboard meanwhile; false when Escape ended the wait.
    bool pause(std::int64_t ms) {
        return pauseUntil(Clock::now() + std::chrono::milliseconds(std::max<std::int64_t>(ms, 0)));
    }

    // Waits until `end`, looking at the keyboard meanwhile; false when Escape ended the wait.
    bool pauseUntil(Clock::time_point end) {
        for (;;) {
            processEvents();
            if (stopRequested_) {
                return false;
            }
            const Clock::duration left = end - Clock::now();
            if (left <= Clock::duration::zero()) {
                return true;
            }
            std::this_thread::sleep_for(std::min<Clock::duration>(left, std::chrono::milliseconds(10)));
        }
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
                stopRequested_ = true;
            }
            return true;
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::Close:
            return true;
        default:
            return false;
        }
    }

  private:
    bool stopRequested_ = false;
    bool cameraWasReady_ = measurementState().CaptureReady != 0;
    bool lostCamera_ = false;
};

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

void setLabel(QLabel* label, const std::string& caption) {
    label->setText(text(caption));
    label->adjustSize();
}

// How a recording the session ended early is told in its settings file.
std::string stoppedTextOf(const RecordingSession& session) {
    return session.lostCamera() ? "stopped: the camera was disconnected" : "stopped by the operator (Escape)";
}

} // namespace

kestrane::RecordingSettings recordingSettings(const TForm1& form, const char* kind,
                                              std::optional<kestrane::MapKind> map, std::string source) {
    const MeasurementState& state = measurementState();
    kestrane::RecordingSettings settings;
    settings.kind = kind;
    settings.map = map;
    settings.camera = std::move(source);
    settings.objective = form.selectedObjective();
    settings.pixelSizeUm = form.pixelSizeUm(settings.objective);
    settings.wavelengthNm = form.wavelengthNm();
    settings.maxSin = static_cast<double>(state.MaxSin);
    settings.sindLimit = state.SinDLimit;
    if (state.FlatFieldOn != 0) {
        std::error_code error;
        const std::filesystem::path background =
            std::filesystem::absolute(kestrane::backgroundFileName(settings.objective), error);
        settings.flatField = kestrane::flatFieldFileOf(background.string());
    }
    return settings;
}

namespace {

// A settings file that could not be written costs no recording, but the operator must know it is missing.
void reportSettingsFile(const kestrane::RecordingSettingsFile& settings) {
    if (!settings.error().empty()) {
        dialogs().message(QStringLiteral("Could not write the settings file %1: %2")
                              .arg(text(settings.fileName()), text(settings.error())));
    }
}

struct ClipKindView {
    TImage* map;
    TImage* legend;
    int top;
    int left;
    const char* caption;
};

// The analysis pass and the clip picture of one map, once per frame, live or from the offline file.
class ClipFrames : public kestrane::RecordingFrames {
  public:
    // `pauseMs` is the wait before each live frame; `kind` the stored ClipKind of the map recorded.
    ClipFrames(RecordingHost& host, kestrane::FrameSource& offline, RecordingSession& session,
               std::int32_t kind, std::int64_t pauseMs, bool fromFile)
        : host_(host), offline_(offline), session_(session), kind_(kind), pauseMs_(pauseMs),
          fromFile_(fromFile) {}

    void formatPicture(kestrane::Bitmap& picture) override {
        if (!fromFile_) {
            host_.runPass();
        }
        compose(picture);
    }

    bool makeFrame(std::int64_t, kestrane::Bitmap& picture) override {
        if (session_.stopRequested()) {
            return false;
        }
        if (fromFile_) {
            offline_.step();
            host_.showOfflineFrame(offline_.frame(), offline_.frameIndex());
        } else if (!session_.pause(pauseMs_)) {
            return false;
        }
        host_.runPass();
        if (!fromFile_ && session_.cameraLost()) {
            return false;
        }
        compose(picture);
        // Every recorded frame is shown as it is written, and Escape is seen between frames.
        host_.repaintNow();
        session_.processEvents();
        return true;
    }

    std::int32_t readerIndex() const override { return offline_.frameIndex(); }
    std::string stoppedText() const override { return stoppedTextOf(session_); }

  private:
    void compose(kestrane::Bitmap& picture) {
        copyToBitmap(host_.mapPicture(kind_), map_);
        copyToBitmap(host_.legendPicture(kind_), legend_);
        kestrane::composeClipFrame(map_, legend_, picture);
    }

    RecordingHost& host_;
    kestrane::FrameSource& offline_;
    RecordingSession& session_;
    std::int32_t kind_;
    std::int64_t pauseMs_;
    bool fromFile_;
    kestrane::Bitmap map_;
    kestrane::Bitmap legend_;
};

// Whole camera frames, one per frame delay, each at its own time from the start, so that the time a frame
// takes does not add up over the recording.
class RawFrames : public kestrane::RecordingFrames {
  public:
    // `gong` beeps at every frame; the box that asks for it cannot change while the session drops all input.
    RawFrames(CaptureSeam& capture, RecordingSession& session, bool gong, kestrane::Bitmap first,
              std::int32_t frameDelayUs)
        : capture_(capture), session_(session), gong_(gong), raw_(std::move(first)),
          schedule_(RecordingSession::Clock::now(), std::chrono::microseconds(frameDelayUs)) {}

    void formatPicture(kestrane::Bitmap& picture) override {
        grab();
        picture = raw_;
    }

    bool makeFrame(std::int64_t i, kestrane::Bitmap& picture) override {
        if (session_.stopRequested() || !session_.pauseUntil(schedule_.due(i))) {
            return false;
        }
        schedule_.taken(i, RecordingSession::Clock::now());
        grab();
        if (session_.cameraLost()) {
            return false;
        }
        if (gong_) {
            QApplication::beep();
        }
        picture = raw_;
        return true;
    }

    // The raw recorder reads no movie: where the movie viewer or the offline run stand is none of its
    // business, so that test never ends it.
    std::int32_t readerIndex() const override { return 0; }
    std::string stoppedText() const override { return stoppedTextOf(session_); }

    std::int64_t lateFrames() const { return schedule_.late(); }

  private:
    // A grab that brings no picture leaves the previous frame, as the capture driver does.
    void grab() {
        if (capture_.grabRaw(grabbed_)) {
            std::swap(raw_, grabbed_);
        }
    }

    CaptureSeam& capture_;
    RecordingSession& session_;
    bool gong_;
    kestrane::Bitmap raw_;
    kestrane::Bitmap grabbed_;
    kestrane::FrameSchedule schedule_;
};

// Runs a recording; an error thrown by a pass inside it ends it like a frame that could not be written.
kestrane::RecordingResult runRecording(const kestrane::RecordingPlan& plan, kestrane::RecordingFrames& frames,
                                       const kestrane::AviFileOpener& open,
                                       kestrane::RecordingSettingsFile& settings) {
    try {
        return kestrane::recordAvi(plan, frames, open, &settings);
    } catch (const std::exception& e) {
        kestrane::RecordingResult failed;
        failed.end = kestrane::RecordingEnd::FrameNotWritten;
        failed.reason = e.what();
        dialogs().message(QString::fromLocal8Bit(e.what()));
        return failed;
    }
}

QString notCreatedMessage(const std::string& fileName, const std::string& reason) {
    return QStringLiteral("Could not create %1: %2").arg(text(fileName), text(reason));
}

// How a recording that could not go on ended: the failed frame's fixed text first, then what happened and
// what the file keeps.
QString endedMessage(const std::string& fileName, const kestrane::RecordingResult& result, bool cameraLost) {
    const QString kept = text(kestrane::framesKeptText(fileName, result.frames));
    if (cameraLost) {
        return QStringLiteral("The camera was disconnected during the recording: ") + kept;
    }
    return QStringLiteral("Could not add frame\n%1: %2").arg(text(result.reason), kept);
}

// Tells the operator how a recording that could not go on ended; false when its file was never created.
bool reportRecordingEnd(const std::string& fileName, const kestrane::RecordingResult& result,
                        bool cameraLost) {
    if (result.end == kestrane::RecordingEnd::NotCreated) {
        dialogs().message(notCreatedMessage(fileName, result.reason));
        return false;
    }
    if ((result.end == kestrane::RecordingEnd::FrameNotWritten && result.code != kestrane::kAviOk) ||
        cameraLost) {
        dialogs().message(endedMessage(fileName, result, cameraLost));
    }
    return true;
}

// Makes the data directory for a recording of `fileName`; says so and is false when it cannot be made.
bool dataDirectoryFor(const std::string& fileName) {
    if (kestrane::createDataDirectory()) {
        return true;
    }
    dialogs().message(
        notCreatedMessage(fileName, "the directory " + kestrane::DataDirectory() + " cannot be created"));
    return false;
}

constexpr const char* kNoCamera = "There is no camera: no offline video was recorded.";

// What the operator hears after a raw recording by the program itself; empty when it went as asked. A
// recording without a frame has left the earlier file in place, and says so.
QString ownRecordingMessage(const std::string& fileName, const kestrane::RecordingResult& result,
                            bool cameraLost, const std::string& late) {
    if (result.end == kestrane::RecordingEnd::NotCreated) {
        return notCreatedMessage(fileName, result.reason);
    }
    const bool failed =
        result.end == kestrane::RecordingEnd::FrameNotWritten && result.code != kestrane::kAviOk;
    if (result.frames == 0) {
        const QString nothing = text(kestrane::nothingRecordedText(fileName));
        if (cameraLost) {
            return QStringLiteral("The camera was disconnected during the recording: ") + nothing;
        }
        if (failed) {
            return QStringLiteral("Could not add frame\n%1: %2").arg(text(result.reason), nothing);
        }
        return QStringLiteral("The recording was stopped before its first frame: ") + nothing;
    }
    QString said = failed || cameraLost ? endedMessage(fileName, result, cameraLost) : QString();
    if (!late.empty()) {
        said += (said.isEmpty() ? QString() : QStringLiteral("\n")) + text(late);
    }
    return said;
}

// What the operator hears after a streamed recording; empty when it ran to its time limit.
QString streamedRecordingMessage(const std::string& fileName, const SequenceEnd& end,
                                 std::int32_t recordTimeLimitS) {
    QString how;
    if (!end.error.empty()) {
        how = QStringLiteral("The offline video ended early\n%1").arg(text(end.error));
    } else if (!end.stoppedBy.empty()) {
        how = QStringLiteral("The offline video was stopped by %1 after %2 s")
                  .arg(text(end.stoppedBy), QString::number(end.seconds, 'f', 1));
    } else if (end.frames == 0) {
        how = recordTimeLimitS == 0 ? QStringLiteral("The time limit is 0 s")
                                    : QStringLiteral("The offline video ended before its first frame");
    } else {
        return {};
    }
    return how + QStringLiteral(": ") +
           text(end.frames == 0 ? kestrane::nothingRecordedText(fileName)
                                : kestrane::framesKeptText(fileName, end.frames));
}

// How a streamed recording ended, in the words of its settings file.
std::string streamedEndedText(const SequenceEnd& end) {
    if (!end.error.empty()) {
        return "failed: " + end.error;
    }
    if (!end.stoppedBy.empty()) {
        return "stopped by the operator (" + end.stoppedBy + ")";
    }
    return "completed";
}

} // namespace

void TForm1::connectRecordingHandlers() {
    connect(SaveSineD, &QPushButton::clicked, this, &TForm1::SaveSineDClick);
    connect(SaveExtinction, &QPushButton::clicked, this, &TForm1::SaveExtinctionClick);
    connect(SaveTransmission, &QPushButton::clicked, this, &TForm1::SaveTransmissionClick);
    connect(TrackBar1, &QSlider::valueChanged, this, &TForm1::TrackBar1Change);
    connect(TrackBar5, &QSlider::valueChanged, this, &TForm1::TrackBar5Change);
    connect(GroupBox4, &TGroupBox::clicked, this, &TForm1::GroupBox4Click);
    // A click on the playing clip is a click on its box, and the box hides the map box it lies over.
    Animate1->setAttribute(Qt::WA_TransparentForMouseEvents);
    GroupBox4->setAutoFillBackground(true);
    // The processed-frame count grows to several digits while the loop writes it.
    Label7->resize(std::max(Label7->width(), 100), Label7->height());
    connect(SaveVideo, &QPushButton::clicked, this, &TForm1::SaveVideoClick);
    connect(TrackBar3, &QSlider::valueChanged, this, &TForm1::TrackBar3Change);
    connect(TrackBar6, &QSlider::valueChanged, this, &TForm1::TrackBar6Change);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(Offline, &QCheckBox::toggled, this, &TForm1::OfflineClick);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(VideoFilename, &QPushButton::clicked, this, &TForm1::VideoFilenameClick);
}

void TForm1::SaveSineDClick() {
    clipButton(1);
}

void TForm1::SaveExtinctionClick() {
    clipButton(2);
}

void TForm1::SaveTransmissionClick() {
    clipButton(3);
}

namespace {

ClipKindView clipKindView(TForm1Controls& form, std::int32_t clipKind) {
    switch (kestrane::mapKindOfClip(clipKind)) {
    case kestrane::MapKind::Extinction:
        return {form.Image3, form.legend2, 257, 0, "Recording of Extinction"};
    case kestrane::MapKind::Transmission:
        return {form.Image4, form.legend3, 0, 384, "Recording of Transmittance"};
    case kestrane::MapKind::SinD:
        break;
    }
    return {form.Image2, form.legend1, 0, 0, "Recording of |sin(d)|"};
}

} // namespace

void TForm1::clipButton(int kind) {
    sindVisible->setChecked(kind == 1);
    extinctionVisible->setChecked(kind == 2);
    absorptionVisible->setChecked(kind == 3);
    measurementState().ClipKind = kind;
    const ClipKindView view = clipKindView(*this, kind);
    GroupBox4->setGeometry(view.left, view.top, 377, 257);
    GroupBox4->setTitle(QString::fromUtf8(view.caption));
    legend();
    offline_->setFrameIndex(0);
    Save();
}

void TForm1::Save() {
    MeasurementState& state = measurementState();
    const bool fromFile = Offline->isChecked();
    if (fromFile && !offline_->isOpen()) {
        dialogs().message("Work Offline has no movie open: no clip was recorded.");
        return;
    }
    // The clip being recorded is shown in its map box, not under the last clip's playback.
    Animate1->close();
    GroupBox4->hide();

    const std::string directory = kestrane::DataDirectory();
    state.ClipNumber = kestrane::nextClipNumber(state.ClipNumber, directory);
    const std::string fileName =
        kestrane::clipFileName(directory, kestrane::mapKindOfClip(state.ClipKind), state.ClipNumber);
    if (!dataDirectoryFor(fileName)) {
        return;
    }
    const std::int64_t frameBound =
        kestrane::clipFrameBound(state.ClipFrameCount, fromFile, offline_->frameCount());

    // No tick may run a pass of its own inside the recording.
    const bool loopWasArmed = Timer2->isActive();
    setTimer2Enabled(false);
    state.RecordingActive = 1;
    kestrane::RecordingResult result;
    bool cameraLost = false;
    kestrane::RecordingSettingsFile settings(
        fileName, recordingSettings(*this, "clip", kestrane::mapKindOfClip(state.ClipKind),
                                    fromFile ? "offline movie " + kestrane::offlineFileName(directory)
                                             : capture_->cameraText()));
    {
        RecordingSession session;
        ClipFrames frames(*this, *offline_, session, state.ClipKind, std::int64_t{TrackBar5->value()} * 200,
                          fromFile);
        result = runRecording(kestrane::clipPlan(fileName, fromFile, frameBound), frames, recordingFiles,
                              settings);
        cameraLost = session.lostCamera();
    }
    state.RecordingActive = 0;
    reportSettingsFile(settings);

    if (!reportRecordingEnd(fileName, result, cameraLost)) {
        setTimer2Enabled(loopWasArmed);
        return;
    }
    offline_->setFrameIndex(1);
    if (fromFile) {
        offline_->close();
        try {
            Offline->setChecked(false);
        } catch (const std::exception& e) {
            // The clip is complete; the offline file not opening again must not hide it.
            dialogs().message(QString::fromLocal8Bit(e.what()));
        }
        offline_->setFrameIndex(1);
        offline_->hideWindow();
    }
    state.LivePaused = 1;
    if (!playClip(text(fileName))) {
        // Nothing to show: the loop runs on as a click on the playback box would let it.
        state.LivePaused = 0;
        setTimer2Enabled(true);
    }
}

void TForm1::runPass() {
    TarvolundClick();
}

const QImage& TForm1::mapPicture(std::int32_t kind) {
    return clipKindView(*this, kind).map->picture();
}

const QImage& TForm1::legendPicture(std::int32_t kind) {
    return clipKindView(*this, kind).legend->picture();
}

void TForm1::showOfflineFrame(const kestrane::FrameView& frame, std::int32_t index) {
    if (frame.pixels != nullptr) {
        copyToImage(frame, Image1->picture());
        Image1->update();
    }
    Label7->setText(QString::number(index));
}

void TForm1::repaintNow() {
    repaint();
}

bool TForm1::playClip(const QString& fileName) {
    if (!Animate1->open(fileName)) {
        return false;
    }
    GroupBox4->show();
    GroupBox4->raise();
    Animate1->show();
    Animate1->play();
    return true;
}

void TForm1::TrackBar1Change() {
    measurementState().ClipFrameCount = TrackBar1->value();
    setLabel(Label15, kestrane::clipFramesLabel(TrackBar1->value()));
}

void TForm1::TrackBar5Change() {
    Timer2->setInterval(kestrane::pausePeriodMs(TrackBar5->value()));
    setLabel(Label14, kestrane::pauseLabel(TrackBar5->value(), kestrane::localeDecimalSeparator()));
}

void TForm1::GroupBox4Click() {
    GroupBox4->hide();
    measurementState().LivePaused = 0;
    setTimer2Enabled(true);
    Animate1->stop();
}

void TForm1::SaveVideoClick() {
    MeasurementState& state = measurementState();
    if (Offlinegong->isChecked()) {
        QApplication::beep();
    }
    if (state.CaptureReady == 0) {
        dialogs().message(kNoCamera);
        return;
    }
    setTimer2Enabled(false);
    if (kestrane::useOwnRecorder(state.FrameDelay)) {
        SaveOffline();
        return;
    }
    const std::string directory = kestrane::DataDirectory();
    const std::string fileName = kestrane::offlineFileName(directory);
    std::string error;
    if (!dataDirectoryFor(fileName)) {
        return;
    }
    auto hold = std::make_unique<kestrane::OfflineRecordingFile>();
    if (!hold->claim(directory, error)) {
        dialogs().message(text(error));
        return;
    }
    if (!capture_->startSequence(
            fileName, recordingSettings(*this, "raw", std::nullopt, capture_->cameraText()), error)) {
        // Nothing of ours is there: a capture that could not start removes what it had made.
        hold->finish(0, false);
        dialogs().message(notCreatedMessage(fileName, error));
        return;
    }
    streamedFile_ = std::move(hold);
    // The preview comes back when the capture has really ended, whatever ended it.
    Panel2->hide();
    Timer1->setInterval(kSequencePollMs);
    Timer1->start();
}

void TForm1::SaveOffline() {
    MeasurementState& state = measurementState();
    kestrane::Bitmap first;
    if (state.CaptureReady == 0 || !capture_->grabRaw(first)) {
        dialogs().message(kNoCamera);
        return;
    }
    const std::string directory = kestrane::DataDirectory();
    const std::string fileName = kestrane::offlineFileName(directory);
    if (!dataDirectoryFor(fileName)) {
        return;
    }
    kestrane::OfflineRecordingFile hold;
    std::string refusal;
    if (!hold.claim(directory, refusal)) {
        dialogs().message(text(refusal));
        return;
    }
    state.RecordingActive = 1;
    kestrane::RecordingResult result;
    bool cameraLost = false;
    std::int64_t late = 0;
    kestrane::RecordingSettingsFile settings(
        fileName, recordingSettings(*this, "raw", std::nullopt, capture_->cameraText()));
    {
        RecordingSession session;
        RawFrames frames(*capture_, session, Offlinegong->isChecked(), std::move(first), state.FrameDelay);
        result = runRecording(kestrane::ownRecorderPlan(fileName, state.RecordTimeLimit, state.FrameDelay),
                              frames, recordingFiles, settings);
        cameraLost = session.lostCamera();
        late = frames.lateFrames();
    }
    state.RecordingActive = 0;
    reportSettingsFile(settings);
    state.LivePaused = 1;
    // A file that could not be made is not there any more; one with frames stays.
    hold.finish(result.frames, result.end != kestrane::RecordingEnd::NotCreated);
    const QString said =
        ownRecordingMessage(fileName, result, cameraLost, kestrane::lateFramesText(late, state.FrameDelay));
    if (!said.isEmpty()) {
        dialogs().message(said);
    }
}

void TForm1::TrackBar3Change() {
    MeasurementState& state = measurementState();
    state.RecordTimeLimit = kestrane::recordTimeLimitOf(TrackBar3->value(), TrackBar6->value());
    setLabel(Label9, kestrane::timeLimitScaleLabel(kestrane::maximumTimeLimitS(TrackBar6->value())));
    setLabel(Label18, kestrane::stopLabel(state.RecordTimeLimit));
}

void TForm1::TrackBar6Change() {
    MeasurementState& state = measurementState();
    state.FrameDelay = kestrane::frameDelayOf(TrackBar6->value());
    setLabel(Label16, kestrane::delayLabel(state.FrameDelay, kestrane::localeDecimalSeparator()));
    TrackBar3Change();
}

void TForm1::Timer1Timer() {
    SequenceEnd end;
    if (capture_->sequenceRunning(end)) {
        return;
    }
    Timer1->stop();
    Panel2->show();
    if (Offlinegong->isChecked()) {
        QApplication::beep();
    }
    const std::string fileName =
        streamedFile_ ? streamedFile_->fileName() : kestrane::offlineFileName(kestrane::DataDirectory());
    // The capture thread has completed the settings file; the window alone knows what ended the capture.
    if (end.frames > 0) {
        std::string ignored;
        kestrane::setRecordingEnded(kestrane::settingsFileName(fileName), streamedEndedText(end), ignored);
    }
    if (streamedFile_) {
        streamedFile_->finish(end.frames, true);
        streamedFile_.reset();
    }
    const QString said = streamedRecordingMessage(fileName, end, measurementState().RecordTimeLimit);
    if (!said.isEmpty()) {
        dialogs().message(said);
    }
}

void TForm1::OfflineClick() {
    TrackBar5->setValue(0);
    TrackBar5Change();
    setTimer2Enabled(false);
    offline_->showWindow();
    offline_->setFrameIndex(0);
    offline_->open(kestrane::offlineFileName(kestrane::DataDirectory()));
}

void TForm1::Button1Click() {
    setTimer2Enabled(true);
}

void TForm1::VideoFilenameClick() {
    capture_->setCaptureFile(kestrane::offlineFileName(kestrane::DataDirectory()));
}
