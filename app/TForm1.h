// The main window of Kestrane: its pages, controls and the acquisition loop.
#pragma once

#include "app/CaptureSeam.h"
#include "app/Controls.h"
#include "app/LiveStatus.h"
#include "app/RecordingHost.h"
#include "app/TForm1Controls.h"
#include "imaging/Bitmap.h"
#include "recording/AviRecording.h"
#include "recording/OfflineRecorder.h"
#include "recording/RecordingSettings.h"
#include "review/ClipSettings.h"
#include "review/FrameSource.h"
#include "review/MovieViewer.h"
#include "review/PixelTrace.h"

#include <QMainWindow>
#include <cstdint>
#include <memory>
#include <optional>

// The controls are private: handlers and layout name them directly, tests reach them through TForm1Probe,
// and the recorders see the window only as their RecordingHost.
class TForm1 : public QMainWindow, private TForm1Controls, private RecordingHost {
    Q_OBJECT
    friend class TForm1Probe;

  public:
    // `capture` is the camera (none when null); FormCreate runs here, at the end of construction.
    explicit TForm1(std::unique_ptr<CaptureSeam> capture = nullptr, QWidget* parent = nullptr);
    ~TForm1() override;

    // The camera, for the handlers that grab or record.
    CaptureSeam& capture() { return *capture_; }
    // The movie the loop steps while "Work Offline" is checked (none when null).
    void setOfflineSource(std::unique_ptr<kestrane::FrameSource> source);

    // Handlers, named after control and event.
    void FormCreate();
    void FormActivate();
    void Timer2Timer();
    void TabSheet3Show();
    void TabSheet2Enter();
    void AnalyseDataShow();
    void MeasureShow();
    void TarvolundClick();
    void GroupBox1Click();
    void ob4Click();
    void Ob10Click();
    void Ob40Click();
    void FormatClick();
    void FeaturesClick();
    void legend();
    void TrackBar2Change();
    void sindthreshhold1Change();
    void LoadIntensitycorrection();
    void IntensitycorrectionClick();
    void ShowAzimuth2Click();
    void azimuth1();

    // The selected objective, read from the buttons: 4, 10 or 40.
    int selectedObjective() const;
    // The calibration set on the "Measure" page: wavelength and a map pixel's size for an objective.
    double wavelengthNm() const;
    double pixelSizeUm(int objective) const;
    // Enabling an enabled timer leaves its running interval alone.
    void setTimer2Enabled(bool enabled);

  protected:
    // Steps 6 to 12 of the analysis pass: the frame of Image1 analysed and the maps drawn.
    virtual void analyseAndRender();

    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

  private:
    // The pages, controls and timers of the window layout, and the geometry its activation restores
    // (TForm1Layout.cpp).
    void buildControls();
    void buildHowToPage();
    void buildHowToGuide();
    void buildMainPage();
    void buildSettings();
    void buildClipAndOfflineBoxes();
    void buildPreviewPage();
    void buildAnalysePage();
    void buildMeasurePage();
    void placeFixedGeometry();
    void connectHandlers();
    void pageShown(QWidget* page);
    void windowActivated(QWidget* window);
    void firstActivation();
    void objectiveChosen();
    // MaxSin from a position of TrackBar2 or TrackBar4 (1..5); both sliders and the legend follow.
    void maxSinChosen(int position);
    // "Work Offline" has no movie to step (the review took the reader, or the file did not open).
    void offlineLost();

    std::unique_ptr<CaptureSeam> capture_;
    std::unique_ptr<kestrane::FrameSource> offline_;
    // The pass's scratch copy of the frame (WorkBitmap), kept between passes so that a pass allocates
    // nothing.
    kestrane::Bitmap work_;

    // Which of the program's windows was activated last, to tell a real activation of the main window from
    // the focus coming back after a modal dialog or from another program.
    enum class LastActive { Nothing, MainWindow, ModalDialog, OtherWindow };
    LastActive lastActive_ = LastActive::Nothing;

    // Recording: result clips, raw recording and offline processing (bodies in TForm1Recording.cpp).
  public:
    void SaveSineDClick();
    void SaveExtinctionClick();
    void SaveTransmissionClick();
    // Records one clip of the map of ClipKind, then plays it in GroupBox4.
    void Save();
    void TrackBar1Change();
    void TrackBar5Change();
    void GroupBox4Click();
    void SaveVideoClick();
    // The program's own raw recorder, for frame delays the capture driver does not stream at.
    void SaveOffline();
    void TrackBar3Change();
    void TrackBar6Change();
    void Timer1Timer();
    void OfflineClick();
    void Button1Click();
    void VideoFilenameClick();
    // Creates the files the recorders write (never in place of one that is there); tests hand in a disk that
    // fails.
    kestrane::AviFileOpener recordingFiles = kestrane::aviNewFileCreator();
    // How often Timer1 looks whether a streamed recording has ended.
    static constexpr int kSequencePollMs = 100;

  private:
    void connectRecordingHandlers();
    void runPass() override;
    const QImage& mapPicture(std::int32_t kind) override;
    const QImage& legendPicture(std::int32_t kind) override;
    void showOfflineFrame(const kestrane::FrameView& frame, std::int32_t index) override;
    void repaintNow() override;
    void clipButton(int kind);
    // Shows the clip in GroupBox4; false (and no box) when it cannot be played.
    bool playClip(const QString& fileName);
    // The hold of a streamed recording on the data folder and offline.avi, from its start until its end.
    std::unique_ptr<kestrane::OfflineRecordingFile> streamedFile_;

    // ---- Movie review: the "AVI-Viewer" box, the "Analyse Data" page and the pixel time trace
    // (TForm1Review.cpp).
  public:
    void LoadAVIClick();
    void StopMovieClick();
    void ShowMovieClick();
    void SingleFramesClick();
    void Timer3Timer();
    void UpDown1Click();
    void Image5MouseDown(Qt::MouseButton button, Qt::MouseButtons buttons, QPoint at);
    void Image5MouseMove(Qt::MouseButtons buttons, QPoint at);
    void Image5DblClick();
    void ClearGraphClick();
    void TrackBar4Change();
    void SaveXtplotClick();
    void saveimageClick();
    // The points on the X - T plot since the last "Clear Graph", in plotting order.
    const kestrane::PixelTrace& pixelTrace() const { return trace_; }

  private:
    void connectReviewHandlers();
    // Label10 with `text`, fitted into the "AVI-Viewer" box, and the full path (if any) as its tooltip.
    void showMovieName(const QString& text, const QString& fullPath);
    // "Show Movie"'s plot set-up: world bounds from the movie's frame count and the quantity, then a clear.
    void plotSetUp();
    kestrane::MapKind selectedQuantity() const;
    kestrane::TraceSettings traceSettings() const;
    void showReviewFrame();
    void traceStep(const kestrane::TraceSettings& settings, std::int32_t shownFrame);

    // Reads the settings beside the movie just opened and says on the plot what the trace takes from them.
    void takeClipSettings(const QString& file);

    std::unique_ptr<kestrane::FrameSource> reviewSource_;
    // What the movie under review brought in its settings file (none without one).
    std::optional<kestrane::ClipSettings> clip_;
    std::unique_ptr<kestrane::MovieViewer> viewer_;
    kestrane::PixelTrace trace_;
    kestrane::RegionPicker picker_;

    // ---- The status line under the pages (TForm1Status.cpp).
  public:
    // Refreshes the status line; StatusTimer runs it once a second.
    void StatusTimerTimer();
    const kestrane::LiveStatus& liveStatus() const { return status_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void buildStatusLine();
    void placeStatusLine();
    // The pass's live grab, noting the camera frames the running loop dropped before it.
    void grabLiveFrame();

    kestrane::LiveStatus status_;
    std::uint64_t framesAnalysed_ = 0;
    std::uint64_t framesDropped_ = 0;
    // The pass running now was started by a tick of the live loop.
    bool liveTick_ = false;
    double lastLiveGrabS_ = -1e9;

    // ---- The "Measure" page: live quantities of the pass and their export (TForm1Measure.cpp).
  public:
    void ExportMapsClick();

  private:
    // The pass's quantities onto the page, while it is shown.
    void measurePass();
};

// What the operator had set for a recording of `kind` ("clip" or "raw"), from the window's state; `source`
// names where the pictures come from (TForm1Recording.cpp).
kestrane::RecordingSettings recordingSettings(const TForm1& form, const char* kind,
                                              std::optional<kestrane::MapKind> map, std::string source);

// The main window of the run.
extern TForm1* Form1;
