// The main window's layout: its pages and controls, where they sit and how they start.
#include "app/TForm1.h"

#include "analysis/Legends.h"
#include "analysis/MeasurementState.h"
#include "plot/MathImge.h"
#include "recording/ClipRecorder.h"
#include "recording/OfflineRecorder.h"
#include "review/AviPlayer.h"
#include "ui/DecimalSeparator.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>

using kestrane::MapKind;
using kestrane::measurementState;
using kestrane::MeasurementState;

namespace {

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

} // namespace

void TForm1::buildControls() {
    PageControl1 = named(new QTabWidget(this), "PageControl1");
    setCentralWidget(PageControl1);
    buildHowToPage();
    buildMainPage();
    buildPreviewPage();
    buildAnalysePage();
    buildMeasurePage();
    PageControl1->setCurrentWidget(TabSheet1);

    Timer1 = makeTimer(this, "Timer1", 1);
    Timer2 = makeTimer(this, "Timer2", 1);
    Timer3 = makeTimer(this, "Timer3", 1);
    OpenDialog1 = FileDialogSetup{"AVI Movie (*.AVI *.avi);;All Files (*)", "AVI"};
    SaveDialog1 = FileDialogSetup{"Windows Bitmap (*.bmp);;PNG Image (*.png);;All Files (*)", "bmp"};
}

void TForm1::buildHowToPage() {
    TabSheet3 = named(new QWidget, "TabSheet3");
    PageControl1->addTab(TabSheet3, "HowTo");
    Panel4 = named(new QFrame(TabSheet3), "Panel4");
    Panel4->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel4->setGeometry(8, 8, 185, 49);
    Format = makeButton(Panel4, "Format", "Format", 8, 12, 75, 25);
    Features = makeButton(Panel4, "Features", "Features", 100, 12, 75, 25);
    buildHowToGuide();
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
        MapKind kind;
        int left;
        int top;
    };
    const MapBox boxes[] = {
        {GroupBox1, Image2, legend1, "GroupBox1", "|sin(delta)|", "Image2", "legend1", MapKind::SinD, 0, 0},
        {GroupBox2, Image3, legend2, "GroupBox2", "Extinction", "Image3", "legend2", MapKind::Extinction, 0,
         256},
        {GroupBox3, Image4, legend3, "GroupBox3", "Live Image", "Image4", "legend3", MapKind::Transmission,
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
    PlotNote = makeLabel(GroupBox11, "PlotNote", QString(), 40, 18);
    PlotNote->setAutoFillBackground(true);
    PlotNote->setPalette(white);
    PlotNote->hide();

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
