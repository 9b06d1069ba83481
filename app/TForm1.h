// The main window of Kestrane: its pages, controls and the acquisition loop.
#pragma once

#include "app/CaptureSeam.h"
#include "app/Controls.h"
#include "imaging/Bitmap.h"
#include "recording/AviRecording.h"
#include "recording/OfflineRecorder.h"
#include "review/FrameSource.h"
#include "review/MovieViewer.h"
#include "review/PixelTrace.h"

#include <QMainWindow>
#include <memory>

class AviPlayer;
class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabWidget;
class QTimer;

namespace kestrane {
class TMathImage;
} // namespace kestrane

// Filter and default extension of a file dialog the window opens through the dialogs seam.
struct FileDialogSetup {
    QString filter;
    QString defaultExtension;
};

class TForm1 : public QMainWindow {
    Q_OBJECT
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
    // Enabling an enabled timer leaves its running interval alone.
    void setTimer2Enabled(bool enabled);

    // Controls, with the names of the window layout (also their object names).
    QTabWidget* PageControl1;
    QWidget* TabSheet3;
    QWidget* TabSheet1;
    QWidget* TabSheet2;
    QWidget* AnalyseData;

    // "HowTo"
    QFrame* Panel4;
    QPushButton* Format;
    QPushButton* Features;

    // "Kestrane"
    TImage* Image1;
    TGroupBox* GroupBox1;
    TImage* Image2;
    TImage* legend1;
    TGroupBox* GroupBox2;
    TImage* Image3;
    TImage* legend2;
    TGroupBox* GroupBox3;
    TImage* Image4;
    TImage* legend3;
    TGroupBox* GroupBox5;
    QCheckBox* sindVisible;
    QCheckBox* extinctionVisible;
    QCheckBox* absorptionVisible;
    QCheckBox* showazimuthinSind;
    QCheckBox* showAzimuthInExtinction;
    QCheckBox* gong;
    QLabel* Label6;
    QSlider* TrackBar2;
    QLabel* sindthreshholdcaption;
    QSlider* sindthreshhold1;
    QRadioButton* ob4;
    QRadioButton* Ob10;
    QRadioButton* Ob40;
    TGroupBox* GroupBox7;
    QPushButton* SaveSineD;
    QPushButton* SaveExtinction;
    QPushButton* SaveTransmission;
    QLabel* Label5;
    QSlider* TrackBar1;
    QLabel* Label15;
    QLabel* Label13;
    QSlider* TrackBar5;
    QLabel* Label14;
    TGroupBox* GroupBox8;
    QCheckBox* Offline;
    QPushButton* Button1;
    QLabel* Label7;
    QLabel* Label8;
    TGroupBox* GroupBox4;
    AviPlayer* Animate1;
    TGroupBox* GroupBox9;
    QPushButton* LoadAVI;
    QPushButton* StopMovie;
    QLabel* Label10;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;

    // "Preview"
    QFrame* Panel2;
    TGroupBox* GroupBox6;
    QPushButton* SaveVideo;
    QLabel* Label9;
    QSlider* TrackBar3;
    QLabel* Label18;
    QLabel* Label17;
    QSlider* TrackBar6;
    QLabel* Label16;
    QCheckBox* Offlinegong;
    QPushButton* Intensitycorrection;
    QPushButton* VideoFilename;

    // "Analyse Data"
    TGroupBox* GroupBox10;
    TImage* Image5;
    TGroupBox* SelectMovie;
    QPushButton* ShowMovie;
    QCheckBox* SingleFrames;
    TUpDown* UpDown1;
    QPushButton* saveimage;
    TGroupBox* GroupBox11;
    kestrane::TMathImage* MathImage1;
    QLabel* Label11;
    TGroupBox* GroupBox12;
    QPushButton* ClearGraph;
    QPushButton* SaveXtplot;
    QCheckBox* TypeOfflineMovie;
    QRadioButton* RadioButton1;
    QRadioButton* RadioButton2;
    QRadioButton* RadioButton3;
    QSlider* TrackBar4;
    QLabel* Label12;
    TImage* Image6;

    // Components without a window.
    QTimer* Timer1;
    QTimer* Timer2;
    QTimer* Timer3;
    FileDialogSetup OpenDialog1;
    FileDialogSetup SaveDialog1;

  protected:
    // Steps 6 to 12 of the analysis pass: the frame of Image1 analysed and the maps drawn.
    virtual void analyseAndRender();

    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

  private:
    void buildHowToPage();
    void buildMainPage();
    void buildSettings();
    void buildClipAndOfflineBoxes();
    void buildPreviewPage();
    void buildAnalysePage();
    void connectHandlers();
    void placeFixedGeometry();
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
    kestrane::TraceQuantity selectedQuantity() const;
    kestrane::TraceSettings traceSettings() const;
    void showReviewFrame();
    void traceStep(const kestrane::TraceSettings& settings, std::int32_t shownFrame);

    std::unique_ptr<kestrane::FrameSource> reviewSource_;
    std::unique_ptr<kestrane::MovieViewer> viewer_;
    kestrane::PixelTrace trace_;
    kestrane::RegionPicker picker_;
};

// The main window of the run.
extern TForm1* Form1;
