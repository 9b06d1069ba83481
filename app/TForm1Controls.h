// The main window's controls, named as in its layout (and as their object names).
#pragma once

#include "app/Controls.h"

#include <QString>

class AviPlayer;
class MeasurePage;
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

// The window owns them through Qt's parent chain; TForm1 inherits them privately, so its handlers name them
// directly while nothing outside the window (tests aside, through TForm1Probe) can reach them.
struct TForm1Controls {
    QTabWidget* PageControl1;
    QWidget* TabSheet3;
    QWidget* TabSheet1;
    QWidget* TabSheet2;
    QWidget* AnalyseData;

    // "HowTo"
    QFrame* Panel4;
    QPushButton* Format;
    QPushButton* Features;
    QLabel* HowToGuide; // a session in a few paragraphs

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
    QLabel* PlotNote; // what the trace took from the movie's settings file
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

    // Under the pages: the status line and its once-a-second timer.
    QLabel* StatusLine;
    QTimer* StatusTimer;
    // "Measure"
    MeasurePage* Measure;

    // Components without a window.
    QTimer* Timer1;
    QTimer* Timer2;
    QTimer* Timer3;
    FileDialogSetup OpenDialog1;
    FileDialogSetup SaveDialog1;
};
