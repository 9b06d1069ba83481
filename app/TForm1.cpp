// The main window of Kestrane: its pages, controls and the acquisition loop.
#include "app/TForm1.h"

#include "analysis/FlatField.h"
#include "analysis/FrameAnalysis.h"
#include "analysis/Legends.h"
#include "analysis/MapRendering.h"
#include "analysis/MeasurementState.h"
#include "app/Dialogs.h"
#include "app/ImageConversion.h"
#include "imaging/Bmp.h"
#include "imaging/DecimalSeparator.h"
#include "plot/MathImge.h"
#include "recording/ClipRecorder.h"
#include "recording/OfflineRecorder.h"
#include "review/AviPlayer.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QEvent>
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
#include <algorithm>
#include <stdexcept>

using kestrane::measurementState;
using kestrane::MeasurementState;

TForm1* Form1 = nullptr;

namespace {

constexpr int kWindowWidth = 777;
constexpr int kWindowHeight = 577;

template <typename Widget> Widget* named(Widget* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top) {
    auto* label = named(new QLabel(caption, parent), name);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, int left, int top,
                        int width, int height) {
    auto* button = named(new QPushButton(caption, parent), name);
    button->setGeometry(left, top, width, height);
    return button;
}

// A check box or radio button, one line high.
template <typename Toggle>
Toggle* makeToggle(QWidget* parent, const char* name, const QString& caption, int left, int top, int width,
                   bool checked) {
    auto* toggle = named(new Toggle(caption, parent), name);
    toggle->setGeometry(left, top, width, 17);
    toggle->setChecked(checked);
    return toggle;
}

QCheckBox* makeCheckBox(QWidget* parent, const char* name, const QString& caption, int left, int top,
                        int width, bool checked) {
    return makeToggle<QCheckBox>(parent, name, caption, left, top, width, checked);
}

QRadioButton* makeRadioButton(QWidget* parent, const char* name, const QString& caption, int left, int top,
                              int width, bool checked) {
    return makeToggle<QRadioButton>(parent, name, caption, left, top, width, checked);
}

struct SliderSetup {
    int minimum;
    int maximum;
    int position;
    int tickInterval;
};

QSlider* makeTrackBar(QWidget* parent, const char* name, QRect geometry, SliderSetup setup) {
    auto* slider = named(new QSlider(Qt::Horizontal, parent), name);
    slider->setGeometry(geometry);
    slider->setRange(setup.minimum, setup.maximum);
    slider->setValue(setup.position);
    slider->setTickInterval(setup.tickInterval);
    slider->setTickPosition(QSlider::TicksBelow);
    return slider;
}

QTimer* makeTimer(QObject* parent, const char* name, int intervalMs) {
    auto* timer = named(new QTimer(parent), name);
    timer->setInterval(intervalMs);
    return timer;
}

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

    PageControl1 = named(new QTabWidget(this), "PageControl1");
    setCentralWidget(PageControl1);
    buildHowToPage();
    buildMainPage();
    buildPreviewPage();
    buildAnalysePage();
    PageControl1->setCurrentWidget(TabSheet1);

    Timer1 = makeTimer(this, "Timer1", 1);
    Timer2 = makeTimer(this, "Timer2", 1);
    Timer3 = makeTimer(this, "Timer3", 1);
    OpenDialog1 = FileDialogSetup{"AVI Movie (*.AVI *.avi);;All Files (*)", "AVI"};
    SaveDialog1 = FileDialogSetup{"Windows Bitmap (*.bmp);;PNG Image (*.png);;All Files (*)", "bmp"};

    connectHandlers();
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

void TForm1::buildHowToPage() {
    TabSheet3 = named(new QWidget, "TabSheet3");
    PageControl1->addTab(TabSheet3, "HowTo");
    Panel4 = named(new QFrame(TabSheet3), "Panel4");
    Panel4->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel4->setGeometry(8, 8, 185, 49);
    Format = makeButton(Panel4, "Format", "Format", 8, 12, 75, 25);
    Features = makeButton(Panel4, "Features", "Features", 100, 12, 75, 25);
}

void TForm1::buildMainPage() {
    TabSheet1 = named(new QWidget, "TabSheet1");
    PageControl1->addTab(TabSheet1, "Kestrane");

    Image1 = new TImage(TabSheet1, "Image1", 0, 0, 640, 480);
    Image1->hide();
    // A grey sample frame: every pass replaces it before use.
    QImage sample(640, 480, QImage::Format_RGB32);
    sample.fill(qRgb(128, 128, 128));
    Image1->setPicture(sample);

    struct MapBox {
        TGroupBox*& box;
        TImage*& image;
        TImage*& legendImage;
        const char* boxName;
        const char* caption;
        const char* imageName;
        const char* legendName;
        LegendKind kind;
        int left;
        int top;
    };
    const MapBox boxes[] = {
        {GroupBox1, Image2, legend1, "GroupBox1", "|sin(delta)|", "Image2", "legend1", LegendKind::SinD, 0,
         0},
        {GroupBox2, Image3, legend2, "GroupBox2", "Extinction", "Image3", "legend2", LegendKind::Extinction,
         0, 256},
        {GroupBox3, Image4, legend3, "GroupBox3", "Live Image", "Image4", "legend3", LegendKind::Transmission,
         384, 0},
    };
    for (const MapBox& b : boxes) {
        b.box = new TGroupBox(TabSheet1, b.boxName, b.caption, b.left, b.top, 377, 257);
        b.image = new TImage(b.box, b.imageName, 2, 15, 320, 240);
        b.legendImage = new TImage(b.box, b.legendName, 325, 15, kLegendWidth, kLegendHeight);
        b.legendImage->setPicture(legendArtwork(b.kind));
    }

    buildSettings();
    buildClipAndOfflineBoxes();

    GroupBox4 = new TGroupBox(TabSheet1, "GroupBox4", "recording of |sin(d)|", 0, 0, 377, 257);
    Animate1 = named(new AviPlayer(GroupBox4), "Animate1");
    Animate1->setGeometry(2, 15, 373, 240);
    GroupBox4->hide();

    GroupBox9 = new TGroupBox(TabSheet1, "GroupBox9", "AVI-Viewer", 616, 392, 145, 121);
    LoadAVI = makeButton(GroupBox9, "LoadAVI", "Load *.AVI Movie", 8, 24, 121, 25);
    StopMovie = makeButton(GroupBox9, "StopMovie", "Stop Movie", 8, 64, 121, 25);
    Label10 = named(new QLabel(GroupBox9), "Label10");
    showMovieName("No Movie Loaded", QString());

    // Hidden labels of the layout that nothing writes.
    QLabel** hidden[] = {&Label1, &Label2, &Label3, &Label4};
    const char* hiddenNames[] = {"Label1", "Label2", "Label3", "Label4"};
    for (int i = 0; i < 4; ++i) {
        *hidden[i] = makeLabel(TabSheet1, hiddenNames[i], hiddenNames[i], 0, 0);
        (*hidden[i])->hide();
    }
}

void TForm1::buildSettings() {
    GroupBox5 = new TGroupBox(TabSheet1, "GroupBox5", "Settings", 384, 257, 229, 186);
    sindVisible = makeCheckBox(GroupBox5, "sindVisible", "|sin(d)| visible", 8, 16, 118, true);
    extinctionVisible = makeCheckBox(GroupBox5, "extinctionVisible", "Extinction visible", 8, 32, 118, true);
    absorptionVisible = makeCheckBox(GroupBox5, "absorptionVisible", "Absorption visible", 8, 48, 118, true);
    gong = makeCheckBox(GroupBox5, "gong", "gong", 8, 64, 118, false);
    ob4 = makeRadioButton(GroupBox5, "ob4", "4x", 150, 16, 60, true);
    Ob10 = makeRadioButton(GroupBox5, "Ob10", "10x", 150, 32, 60, false);
    Ob40 = makeRadioButton(GroupBox5, "Ob40", "40x", 150, 48, 60, false);
    showazimuthinSind =
        makeCheckBox(GroupBox5, "showazimuthinSind", "Show Azimuth in |sin(d)|", 8, 80, 216, false);
    showAzimuthInExtinction =
        makeCheckBox(GroupBox5, "showAzimuthInExtinction", "Show Azimuth in extinction", 8, 96, 216, false);
    Label6 = makeLabel(GroupBox5, "Label6", "0.2     maxsin(d)     1.0", 10, 115);
    TrackBar2 = makeTrackBar(GroupBox5, "TrackBar2", QRect(4, 127, 150, 22), {1, 5, 5, 1});
    sindthreshholdcaption =
        makeLabel(GroupBox5, "sindthreshholdcaption", "0.0     sin(d)  limit   0.2", 10, 149);
    sindthreshhold1 = makeTrackBar(GroupBox5, "sindthreshhold1", QRect(4, 161, 150, 22), {0, 40, 15, 5});
}

void TForm1::buildClipAndOfflineBoxes() {
    GroupBox7 = new TGroupBox(TabSheet1, "GroupBox7", "Save *.AVI Movie", 384, 445, 229, 103);
    SaveSineD = makeButton(GroupBox7, "SaveSineD", "|sine(d)| clip", 5, 15, 70, 22);
    SaveExtinction = makeButton(GroupBox7, "SaveExtinction", "Extinction clip", 77, 15, 74, 22);
    SaveTransmission = makeButton(GroupBox7, "SaveTransmission", "Transmission", 153, 15, 70, 22);
    // The sliders start where the values in force are, and their labels say those values.
    const MeasurementState& state = measurementState();
    Label5 = makeLabel(GroupBox7, "Label5", "0            movie frames        1000", 8, 39);
    TrackBar1 =
        makeTrackBar(GroupBox7, "TrackBar1", QRect(4, 51, 150, 20), {1, 1000, state.ClipFrameCount, 100});
    Label15 = makeLabel(GroupBox7, "Label15",
                        QString::fromStdString(kestrane::clipFramesLabel(state.ClipFrameCount)), 160, 54);
    Label13 = makeLabel(GroupBox7, "Label13", "0.1    delay time (seconds)   100", 8, 69);
    TrackBar5 = makeTrackBar(GroupBox7, "TrackBar5", QRect(4, 81, 150, 20), {0, 500, 0, 50});
    // At position 0 live frames follow each other without a pause.
    Label14 = makeLabel(GroupBox7, "Label14", "0seconds", 160, 84);

    GroupBox8 = new TGroupBox(TabSheet1, "GroupBox8", "Offline Options", 618, 257, 143, 133);
    Offline = makeCheckBox(GroupBox8, "Offline", "Work Offline", 8, 20, 120, false);
    Button1 = makeButton(GroupBox8, "Button1", "Start Action", 8, 46, 89, 25);
    Label7 = makeLabel(GroupBox8, "Label7", " 0", 8, 84);
    Label8 = makeLabel(GroupBox8, "Label8", "processed frames", 8, 100);
}

void TForm1::buildPreviewPage() {
    TabSheet2 = named(new QWidget, "TabSheet2");
    PageControl1->addTab(TabSheet2, "Preview");
    Panel2 = named(new QFrame(TabSheet2), "Panel2");
    Panel2->setGeometry(0, 0, 640, 480);
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    GroupBox6 = new TGroupBox(TabSheet2, "GroupBox6", "Whole Image Options", 644, 0, 125, 281);
    SaveVideo = makeButton(GroupBox6, "SaveVideo", "Save Offline Video", 8, 18, 109, 25);
    // The frame delay in force (35 ms) lies below the slider's first step, 40 ms, which records the same way
    // (the driver streams at 35 ms up to 50 ms); the time limit in force is reached from there.
    const MeasurementState& state = measurementState();
    const int delayPosition = std::max(4, state.FrameDelay / 10000);
    const int limitPosition =
        std::clamp(state.RecordTimeLimit * 1000 / kestrane::maximumTimeLimitS(delayPosition), 1, 1000);
    Label9 = makeLabel(
        GroupBox6, "Label9",
        QString::fromStdString(kestrane::timeLimitScaleLabel(kestrane::maximumTimeLimitS(delayPosition))), 6,
        52);
    TrackBar3 = makeTrackBar(GroupBox6, "TrackBar3", QRect(2, 64, 120, 22), {1, 1000, limitPosition, 100});
    Label18 = makeLabel(GroupBox6, "Label18",
                        QString::fromStdString(kestrane::stopLabel(state.RecordTimeLimit)), 6, 88);
    Label17 = makeLabel(GroupBox6, "Label17", "0.035    delay (s)   100", 6, 112);
    TrackBar6 = makeTrackBar(GroupBox6, "TrackBar6", QRect(2, 124, 120, 22), {4, 10000, delayPosition, 1000});
    Label16 = makeLabel(
        GroupBox6, "Label16",
        QString::fromStdString(kestrane::delayLabel(state.FrameDelay, kestrane::localeDecimalSeparator())), 6,
        148);
    Offlinegong = makeCheckBox(GroupBox6, "Offlinegong", "offline gong", 6, 170, 110, false);
    Intensitycorrection =
        makeButton(GroupBox6, "Intensitycorrection", "Intensitycorrection", 8, 200, 109, 25);
    VideoFilename = makeButton(GroupBox6, "VideoFilename", "VideoFilename", 8, 240, 109, 25);
    VideoFilename->hide();
}

void TForm1::buildAnalysePage() {
    AnalyseData = named(new QWidget, "AnalyseData");
    PageControl1->addTab(AnalyseData, "Analyse Data");

    GroupBox10 = new TGroupBox(AnalyseData, "GroupBox10", "Movie", 0, 0, 377, 257);
    Image5 = new TImage(GroupBox10, "Image5", 2, 15, 373, 240);

    SelectMovie = new TGroupBox(AnalyseData, "SelectMovie", "Select Movie", 384, 0, 185, 257);
    ShowMovie = makeButton(SelectMovie, "ShowMovie", "Show Movie", 16, 24, 81, 25);
    SingleFrames = makeCheckBox(SelectMovie, "SingleFrames", "Single Frames", 16, 64, 97, false);
    UpDown1 = new TUpDown(SelectMovie, "UpDown1", 16, 88, 81, 16);
    UpDown1->setRange(0, 100);
    UpDown1->setPosition(0);
    UpDown1->hide();
    saveimage = makeButton(SelectMovie, "saveimage", "save image", 16, 112, 81, 25);

    GroupBox11 = new TGroupBox(AnalyseData, "GroupBox11", "X - T plot", 0, 256, 377, 257);
    MathImage1 = named(new kestrane::TMathImage(GroupBox11), "MathImage1");
    MathImage1->SetBounds(2, 15, 373, 240);
    MathImage1->D2SetWorld(-1, -1, 1, 1);
    Label11 = makeLabel(GroupBox11, "Label11", "Label11", 323, 15);
    Label11->setAutoFillBackground(true);
    QPalette white = Label11->palette();
    white.setColor(QPalette::Window, Qt::white);
    Label11->setPalette(white);

    GroupBox12 = new TGroupBox(AnalyseData, "GroupBox12", "Plot Properties", 384, 256, 185, 257);
    ClearGraph = makeButton(GroupBox12, "ClearGraph", "Clear Graph", 6, 24, 75, 25);
    SaveXtplot = makeButton(GroupBox12, "SaveXtplot", "Save x/t plot", 96, 24, 75, 25);
    TypeOfflineMovie = makeCheckBox(GroupBox12, "TypeOfflineMovie", "Offline Movie", 9, 64, 97, true);
    RadioButton1 = makeRadioButton(GroupBox12, "RadioButton1", "|sin(d)|", 8, 104, 65, true);
    RadioButton2 = makeRadioButton(GroupBox12, "RadioButton2", "extinction", 8, 144, 80, false);
    RadioButton3 = makeRadioButton(GroupBox12, "RadioButton3", "trnasmission", 8, 184, 90, false);
    TrackBar4 = makeTrackBar(GroupBox12, "TrackBar4", QRect(75, 101, 102, 16), {1, 5, 5, 1});
    Label12 = makeLabel(GroupBox12, "Label12", "0.2     maxsin(d)     1.0", 73, 116);

    Image6 = new TImage(AnalyseData, "Image6", 632, 496, 25, 25);
    Image6->hide();
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

void TForm1::placeFixedGeometry() {
    GroupBox1->setGeometry(0, 0, 377, 257);
    GroupBox2->setGeometry(0, 256, 377, 257);
    GroupBox3->setGeometry(384, 0, 377, 257);
    GroupBox4->setGeometry(0, 0, 377, 257);
    for (TImage* image : {Image2, Image3, Image4}) {
        image->resize(320, 240);
    }
    for (TImage* image : {legend1, legend2, legend3}) {
        image->resize(kLegendWidth, kLegendHeight);
    }
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
    if (capture_->startUp(*this)) {
        measurementState().CaptureReady = 1;
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
        capture_->grabFrame(Image1->picture());
    }
    if (gong->isChecked()) {
        QApplication::beep();
    }
    const RearmAfterPass rearm(*this);
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

void TForm1::IntensitycorrectionClick() {
    dialogs().message("romove all optical components and sample");
    MeasurementState& state = measurementState();
    state.LivePaused = 0;
    kestrane::Bitmap background;
    if (!capture_->grabRaw(background)) {
        throw std::runtime_error("No picture from the camera: no background was recorded.");
    }
    Image4->setPicture(toQImage(background));
    if (background.width() != kestrane::kFrameWidth || background.height() != kestrane::kFrameHeight) {
        // A background of another size could never be loaded again; keep the old file and gains instead.
        throw std::runtime_error("The camera picture is not 640 x 480: no background was recorded.");
    }
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
    paintLegend(legend1->picture(), LegendKind::SinD, settings);
    paintLegend(legend2->picture(), LegendKind::Extinction, settings);
    paintLegend(legend3->picture(), LegendKind::Transmission, settings);
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
