// The main window: its controls, start-up order, activation, the acquisition loop and what a pass draws.
#include "WindowFixture.h"

#include "analysis/Legends.h"
#include "analysis/Tables.h"
#include "capture/SimulatedCamera.h"
#include "imaging/Bmp.h"

#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTabWidget>
#include <QTextDocument>
#include <QTimer>

#include <new>

namespace {

using kestrane::MapKind;

// Counts the passes that get past the gate.
class CountingForm : public TForm1 {
  public:
    using TForm1::TForm1;
    int passes = 0;

  protected:
    void analyseAndRender() override {
        ++passes;
        TForm1::analyseAndRender();
    }
};

// A pass that fails in its analysis, or in its rendering after the maps were computed, as a bitmap that
// cannot be made would make it fail.
class FailingForm : public TForm1 {
  public:
    using TForm1::TForm1;
    enum { kNever, kInAnalysis, kInRendering } fail = kNever;

  protected:
    void analyseAndRender() override {
        if (fail != kInAnalysis) {
            TForm1::analyseAndRender();
        }
        if (fail != kNever) {
            throw std::bad_alloc();
        }
    }
};

QRgb paletteColour(int v) {
    const auto& p = kestrane::measurementState().tables.palette;
    return qRgb(v, p[kestrane::kPaletteGreen][v], p[kestrane::kPaletteBlue][v]) & 0xffffff;
}

QRgb rgbAt(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xffffff;
}

void writeBackground(const QString& name, int width, int height, int red) {
    kestrane::Bitmap background(width, height, 24);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            background.row(y)[3 * x + 2] = static_cast<std::uint8_t>(red);
        }
    }
    std::string error;
    ASSERT_TRUE(kestrane::writeBmpFile(name.toStdString(), background, error)) << error;
}

struct ControlCase {
    const char* name;
    const char* caption;
    bool checked;
};

TEST_F(WindowTest, ControlsCarryTheirNamesCaptionsAndInitialStates) {
    makeForm(QImage());
    const ControlCase cases[] = {
        {"sindVisible", "|sin(d)| visible", true},
        {"extinctionVisible", "Extinction visible", true},
        {"absorptionVisible", "Absorption visible", true},
        {"showazimuthinSind", "Show Azimuth in |sin(d)|", false},
        {"showAzimuthInExtinction", "Show Azimuth in extinction", false},
        {"gong", "gong", false},
        {"ob4", "4x", true},
        {"Ob10", "10x", false},
        {"Ob40", "40x", false},
        {"Offline", "Work Offline", false},
        {"Offlinegong", "offline gong", false},
        {"SingleFrames", "Single Frames", false},
        {"TypeOfflineMovie", "Offline Movie", true},
        {"RadioButton1", "|sin(d)|", true},
        {"RadioButton3", "trnasmission", false},
    };
    for (const ControlCase& c : cases) {
        auto* button = form->findChild<QAbstractButton*>(c.name);
        ASSERT_NE(button, nullptr) << c.name;
        EXPECT_EQ(button->text(), c.caption);
        EXPECT_EQ(button->isChecked(), c.checked) << c.name;
    }
    const std::pair<const char*, const char*> texts[] = {
        {"SaveSineD", "|sine(d)| clip"},
        {"LoadAVI", "Load *.AVI Movie"},
        {"Button1", "Start Action"},
        {"Label7", " 0"},
        {"Label10", "No Movie Loaded"},
        {"Label14", "0seconds"},
        {"Label6", "0.2     maxsin(d)     1.0"},
        {"Label18", "stop in10 s"},
        {"Intensitycorrection", "Intensitycorrection"},
        {"Label11", "Label11"},
    };
    for (const auto& [name, text] : texts) {
        QWidget* widget = form->findChild<QWidget*>(name);
        ASSERT_NE(widget, nullptr) << name;
        const auto* label = qobject_cast<QLabel*>(widget);
        const auto* button = qobject_cast<QAbstractButton*>(widget);
        EXPECT_EQ(label != nullptr ? label->text() : button->text(), text);
    }
    struct SliderCase {
        const char* name;
        int minimum;
        int maximum;
        int position;
    };
    const SliderCase sliders[] = {{"TrackBar2", 1, 5, 5},      {"sindthreshhold1", 0, 40, 15},
                                  {"TrackBar1", 1, 1000, 20},  {"TrackBar5", 0, 500, 0},
                                  {"TrackBar3", 1, 1000, 250}, {"TrackBar6", 4, 10000, 4},
                                  {"TrackBar4", 1, 5, 5}};
    for (const SliderCase& s : sliders) {
        auto* slider = form->findChild<QSlider*>(s.name);
        ASSERT_NE(slider, nullptr) << s.name;
        EXPECT_EQ(slider->minimum(), s.minimum);
        EXPECT_EQ(slider->maximum(), s.maximum);
        EXPECT_EQ(slider->value(), s.position);
    }
    const QStringList pages = {"HowTo", "Kestrane", "Preview", "Analyse Data", "Measure"};
    ASSERT_EQ(ui().PageControl1->count(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(ui().PageControl1->tabText(i), pages[i]);
    }
    EXPECT_EQ(ui().PageControl1->currentWidget(), ui().TabSheet1);
    EXPECT_TRUE(ui().Image1->isHidden());
    EXPECT_TRUE(ui().GroupBox4->isHidden());
    EXPECT_TRUE(ui().VideoFilename->isHidden());
    EXPECT_TRUE(ui().Timer2->isActive());
    EXPECT_FALSE(ui().Timer1->isActive());
    EXPECT_FALSE(ui().Timer3->isActive());
    EXPECT_EQ(ui().GroupBox9->geometry(), QRect(616, 392, 145, 121));
    EXPECT_EQ(ui().legend2->geometry(), QRect(325, 15, 50, 240));
}

TEST_F(WindowTest, FirstPassRunsBeforeTheActivationBuildsTheTables) {
    makeForm(workedExampleFrame());
    EXPECT_EQ(measurementState().CaptureReady, 1);
    form->show();
    // The page "Kestrane" was shown first: a pass with zero tables.
    EXPECT_EQ(measurementState().tables.generation, 0u);
    EXPECT_EQ(measurementState().LivePaused, 0);
    for (auto [x, y] : {std::pair{0, 0}, {160, 120}, {319, 239}}) {
        EXPECT_EQ(measurementState().ExtinctionMap.at(x, y), 128);
        EXPECT_EQ(measurementState().SinDMap.at(x, y), 0);
        EXPECT_EQ(measurementState().TransmissionMap.at(x, y), 115);
    }
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    QCoreApplication::processEvents();
    EXPECT_NE(measurementState().tables.generation, 0u);
    EXPECT_EQ(form->size(), QSize(777, 577));
    // No background file in the working directory: reported, and the all-zero gains stay off.
    // The message says where the background was looked for.
    EXPECT_EQ(dialogs.messages,
              QStringList{"backgroundintensity nor found\n" + path("kestrane-backgroundintensity4.bmp")});
    EXPECT_EQ(measurementState().FlatFieldOn, 0);

    form->Timer2Timer();
    EXPECT_EQ(measurementState().SinDMap.at(100, 100), 76);
    EXPECT_EQ(measurementState().ExtinctionMap.at(100, 100), 143);
}

TEST_F(WindowTest, APassDrawsTheThreeMapsAndTheirOverlays) {
    makeForm(workedExampleFrame());
    showAndActivate();
    ui().showazimuthinSind->setChecked(true);
    ui().showAzimuthInExtinction->setChecked(true);
    form->TarvolundClick();
    const QImage& sinD = ui().Image2->picture();
    const QImage& extinction = ui().Image3->picture();
    ASSERT_EQ(sinD.size(), QSize(320, 240));
    EXPECT_EQ(rgbAt(sinD, 5, 5), paletteColour(76));
    EXPECT_EQ(rgbAt(extinction, 5, 5), paletteColour(143));
    EXPECT_EQ(rgbAt(ui().Image4->picture(), 5, 5), 0xe6e6e6u);
    // Extinction 143 points up and a little to the left: (20, 20) towards (16, 0), end point left alone.
    EXPECT_EQ(rgbAt(sinD, 20, 20), 0u);
    EXPECT_EQ(rgbAt(extinction, 20, 20), 0xffffffu);
    EXPECT_EQ(rgbAt(sinD, 16, 1), 0u);
    EXPECT_EQ(rgbAt(sinD, 16, 0), paletteColour(76));

    // A map whose box is cleared keeps its last picture, overlay included.
    ui().extinctionVisible->setChecked(false);
    ui().showAzimuthInExtinction->setChecked(false);
    form->TarvolundClick();
    EXPECT_EQ(rgbAt(ui().Image3->picture(), 20, 20), 0xffffffu);
    ui().extinctionVisible->setChecked(true);
    form->TarvolundClick();
    EXPECT_EQ(rgbAt(ui().Image3->picture(), 20, 20), paletteColour(143));

    // The sin(d) limit blanks the extinction where |sin δ| does not exceed it.
    ui().sindthreshhold1->setValue(40);
    EXPECT_EQ(measurementState().SinDLimit, 40);
    form->TarvolundClick();
    EXPECT_EQ(rgbAt(ui().Image3->picture(), 5, 5), paletteColour(143));
    kestrane::measurementState().SinDLimit = 76;
    form->TarvolundClick();
    EXPECT_EQ(rgbAt(ui().Image3->picture(), 5, 5), 0u);
}

TEST_F(WindowTest, OtherPagesStopTheLoopAndTheMainPageRestartsIt) {
    makeForm(workedExampleFrame());
    showAndActivate();
    const std::pair<QWidget*, bool> pages[] = {
        {ui().TabSheet2, true}, {ui().TabSheet3, false}, {ui().AnalyseData, false}};
    for (const auto& [page, previewShown] : pages) {
        ui().PageControl1->setCurrentWidget(page);
        EXPECT_EQ(measurementState().LivePaused, 1);
        EXPECT_EQ(ui().Panel2->isHidden(), !previewShown);
        form->Timer2Timer();
        EXPECT_FALSE(ui().Timer2->isActive());

        ui().PageControl1->setCurrentWidget(ui().TabSheet1);
        EXPECT_EQ(measurementState().LivePaused, 0);
        EXPECT_TRUE(ui().Timer2->isActive());
    }
}

TEST_F(WindowTest, ARecorderKeepsTheLoopStoppedUntilTheSinDBoxIsClicked) {
    auto& counting = makeForm<CountingForm>(workedExampleFrame());
    showAndActivate();
    form->setTimer2Enabled(false);
    measurementState().RecordingActive = 1;
    const int before = counting.passes;
    form->TarvolundClick();
    EXPECT_EQ(counting.passes, before + 1);
    EXPECT_FALSE(ui().Timer2->isActive());

    QTest::mouseClick(ui().Image2, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(measurementState().RecordingActive, 0);
    measurementState().RecordingActive = 1;
    QTest::mouseClick(ui().GroupBox1, Qt::LeftButton, {}, QPoint(376, 5));
    EXPECT_EQ(measurementState().RecordingActive, 0);
    form->TarvolundClick();
    EXPECT_TRUE(ui().Timer2->isActive());
}

TEST_F(WindowTest, APassThatFailsStillRearmsTheLoopUnlessARecorderHoldsIt) {
    auto& failing = makeForm<FailingForm>(workedExampleFrame());
    showAndActivate();
    for (const auto where : {FailingForm::kInAnalysis, FailingForm::kInRendering}) {
        failing.fail = where;
        // The tick switches the loop off; the failed pass must switch it on again and pass its error on.
        EXPECT_THROW(form->Timer2Timer(), std::bad_alloc) << where;
        EXPECT_TRUE(ui().Timer2->isActive()) << where;
    }
    measurementState().RecordingActive = 1;
    form->setTimer2Enabled(false);
    EXPECT_THROW(form->TarvolundClick(), std::bad_alloc);
    EXPECT_FALSE(ui().Timer2->isActive());
    measurementState().RecordingActive = 0;
}

TEST_F(WindowTest, WithoutCameraThePassStopsInItsGate) {
    auto& counting = makeForm<CountingForm>(QImage());
    showAndActivate();
    EXPECT_EQ(measurementState().CaptureReady, 0);
    form->setTimer2Enabled(false);
    form->TarvolundClick();
    EXPECT_EQ(counting.passes, 0);
    EXPECT_EQ(measurementState().LivePaused, 0);
    EXPECT_FALSE(ui().Timer2->isActive());
    EXPECT_TRUE(ui().Image2->picture().isNull());
}

TEST_F(WindowTest, AnOfflineRunAnalysesUntilTwoFramesBeforeTheEnd) {
    auto& counting = makeForm<CountingForm>(QImage());
    showAndActivate();
    auto frames = std::make_unique<StillFrameSource>(6, workedExampleFrame());
    StillFrameSource& reader = *frames;
    form->setOfflineSource(std::move(frames));
    ui().Offline->setChecked(true);
    form->setTimer2Enabled(false);

    int ticks = 0;
    do {
        form->Timer2Timer();
        ++ticks;
    } while (ui().Timer2->isActive() && ticks < 20);
    // Indices 1, 2 and 3 are analysed; the tick that reads index 4 (= 6 − 2) ends the run.
    EXPECT_EQ(ticks, 4);
    EXPECT_EQ(counting.passes, 3);
    EXPECT_EQ(ui().Label7->text(), "4");
    EXPECT_EQ(measurementState().SinDMap.at(10, 10), 76);
    EXPECT_FALSE(ui().Offline->isChecked());
    EXPECT_EQ(reader.closes, 1);
    EXPECT_EQ(reader.hides, 1);
    EXPECT_EQ(reader.index, 1);
}

TEST_F(WindowTest, AClosedMessageBoxIsNoActivationButAnotherWindowIs) {
    makeForm(QImage());
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QCoreApplication::processEvents();
    ASSERT_EQ(dialogs.messages.size(), 1);

    {
        QDialog box(form.get());
        box.setModal(true);
        box.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
        box.close();
    }
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs.messages.size(), 1);

    QWidget readerWindow;
    readerWindow.show();
    readerWindow.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&readerWindow));
    const auto generation = measurementState().tables.generation;
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    EXPECT_EQ(dialogs.messages.size(), 2);
    EXPECT_GT(measurementState().tables.generation, generation);
}

TEST_F(WindowTest, ObjectiveButtonsReloadTheFlatFieldAndTheLegends) {
    writeBackground(path("kestrane-backgroundintensity4.bmp"), 640, 480, 64);
    writeBackground(path("kestrane-backgroundintensity40.bmp"), 320, 240, 128);
    makeForm(QImage());
    showAndActivate();
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_EQ(measurementState().FlatFieldOn, 1);
    EXPECT_EQ(measurementState().FlatFieldGain.at(5, 7), 2.0f);
    EXPECT_EQ(ui().Image4->picture().size(), QSize(640, 480));

    const std::pair<QRadioButton*, QString> objectives[] = {
        {ui().Ob10, path("kestrane-backgroundintensity10.bmp")},
        {ui().Ob40, path("kestrane-backgroundintensity40.bmp")}};
    for (const auto& [button, file] : objectives) {
        button->setChecked(true);
        EXPECT_EQ(dialogs.messages.takeLast(), "backgroundintensity nor found\n" + file);
        EXPECT_EQ(measurementState().FlatFieldGain.at(5, 7), 2.0f);
        EXPECT_EQ(measurementState().FlatFieldOn, 1);
    }
    EXPECT_EQ(form->selectedObjective(), 40);
    QImage expected = legendArtwork(MapKind::SinD);
    paintLegend(expected, MapKind::SinD, {&measurementState().tables, 1.0L, 40});
    EXPECT_EQ(ui().legend1->picture(), expected);
}

TEST_F(WindowTest, SettingsSteerTheScaleAndTheVisibleMaps) {
    makeForm(QImage());
    showAndActivate();
    ui().TrackBar2->setValue(1);
    EXPECT_EQ(measurementState().MaxSin, 1.0L / 5.0L);
    QImage expected = legendArtwork(MapKind::SinD);
    paintLegend(expected, MapKind::SinD, {&measurementState().tables, 1.0L, 4});
    paintLegend(expected, MapKind::SinD, {&measurementState().tables, 0.2L, 4});
    EXPECT_EQ(ui().legend1->picture(), expected);

    ui().sindVisible->setChecked(false);
    ui().extinctionVisible->setChecked(false);
    ui().absorptionVisible->setChecked(false);
    EXPECT_TRUE(ui().GroupBox1->isHidden());
    EXPECT_TRUE(ui().GroupBox2->isHidden());
    EXPECT_TRUE(ui().GroupBox3->isHidden());
    // The legends are still repainted while their boxes are hidden.
    ui().TrackBar2->setValue(3);
    paintLegend(expected, MapKind::SinD, {&measurementState().tables, 0.6L, 4});
    EXPECT_EQ(ui().legend1->picture(), expected);
    ui().absorptionVisible->setChecked(true);
    EXPECT_FALSE(ui().GroupBox3->isHidden());

    // Either slider sets the one full scale: the other one and the legend follow.
    EXPECT_EQ(ui().TrackBar4->value(), 3);
    ui().TrackBar4->setValue(2);
    EXPECT_EQ(measurementState().MaxSin, 2.0L / 5.0L);
    EXPECT_EQ(ui().TrackBar2->value(), 2);
    paintLegend(expected, MapKind::SinD, {&measurementState().tables, 0.4L, 4});
    EXPECT_EQ(ui().legend1->picture(), expected);
}

TEST_F(WindowTest, SlidersStartAtTheValuesInForceAndTheirLabelsSayThem) {
    makeForm(QImage());
    // What a slider's handler would write at the start position is what the label already says, and the
    // value it would set is the one in force.
    const struct {
        QSlider* slider;
        QLabel* label;
        void (TForm1::*handler)();
        std::int32_t kestrane::MeasurementState::*value;
        std::int32_t inForce;
    } cases[] = {
        {ui().TrackBar1, ui().Label15, &TForm1::TrackBar1Change, &kestrane::MeasurementState::ClipFrameCount,
         20},
        {ui().TrackBar3, ui().Label18, &TForm1::TrackBar3Change, &kestrane::MeasurementState::RecordTimeLimit,
         10},
        {ui().TrackBar6, ui().Label9, &TForm1::TrackBar6Change, &kestrane::MeasurementState::RecordTimeLimit,
         10},
    };
    for (const auto& c : cases) {
        const QString shown = c.label->text();
        (form.get()->*c.handler)();
        EXPECT_EQ(c.label->text(), shown) << c.slider->objectName().toStdString();
        EXPECT_EQ(measurementState().*c.value, c.inForce) << c.slider->objectName().toStdString();
    }
    EXPECT_EQ(ui().Label15->text(), "20frames");
    EXPECT_EQ(ui().Label16->text(), "delay (s) = 0.035");
    // No pause between live frames at start.
    EXPECT_EQ(ui().TrackBar5->value(), 0);
    EXPECT_EQ(ui().Timer2->interval(), 1);
    EXPECT_EQ(ui().Label14->text(), "0seconds");
}

} // namespace

namespace {

// The status line: figures of the running loop, the source and the data folder, on every page, covering
// no control of any page.
TEST_F(WindowTest, StatusLineShowsTheLoopOnEveryPageWithoutCoveringAControl) {
    makeForm(workedExampleFrame());
    showAndActivate();
    EXPECT_EQ(ui().StatusTimer->interval(), 1000);
    EXPECT_TRUE(ui().StatusTimer->isActive());
    for (int i = 0; i < 10; ++i) {
        form->Timer2Timer();
    }
    QTest::qWait(20);
    form->StatusTimerTimer();
    EXPECT_GT(form->liveStatus().framesPerSecond(), 0.0);
    const QStringList lines = ui().StatusLine->text().split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith("frames/s analysed \u00b7 0 camera frames dropped since start"))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith("still picture")) << lines[1].toStdString();
    EXPECT_TRUE(ui().StatusLine->toolTip().endsWith("data folder " + path("data") + "/"))
        << ui().StatusLine->toolTip().toStdString();

    ui().Offline->setChecked(true);
    form->StatusTimerTimer();
    EXPECT_TRUE(ui().StatusLine->toolTip().startsWith("offline file offline.avi"));
    ui().Offline->setChecked(false);

    const QRect line(ui().StatusLine->mapTo(form.get(), QPoint(0, 0)), ui().StatusLine->size());
    EXPECT_TRUE(form->rect().contains(line));
    for (int page = 0; page < ui().PageControl1->count(); ++page) {
        ui().PageControl1->setCurrentIndex(page);
        EXPECT_TRUE(ui().StatusLine->isVisible()) << page;
        for (const QWidget* control : ui().PageControl1->widget(page)->findChildren<QWidget*>()) {
            if (control->isVisible() && control->parentWidget() == ui().PageControl1->widget(page)) {
                const QRect at(control->mapTo(form.get(), QPoint(0, 0)), control->size());
                EXPECT_FALSE(at.intersects(line))
                    << control->objectName().toStdString() << " on page " << page;
            }
        }
    }
}

// The guide on "HowTo" fits beside its buttons without scrolling, and every caption it quotes is one the
// operator finds: on a control, a group, a page, or in the simulated camera's "Features" dialog.
TEST_F(WindowTest, HowToGuideFitsItsPageAndQuotesRealCaptions) {
    makeForm(QImage());
    showAndActivate();
    ui().PageControl1->setCurrentWidget(ui().TabSheet3);
    const QLabel* guide = ui().HowToGuide;
    ASSERT_TRUE(guide->isVisible());
    EXPECT_TRUE(ui().TabSheet3->rect().contains(guide->geometry()));
    EXPECT_FALSE(guide->geometry().intersects(ui().Panel4->geometry()));
    EXPECT_LE(guide->heightForWidth(guide->width()), guide->height()) << "the guide is cut off at the bottom";

    QSet<QString> captions;
    for (const QAbstractButton* button : form->findChildren<QAbstractButton*>()) {
        captions.insert(button->text());
    }
    for (const QGroupBox* group : form->findChildren<QGroupBox*>()) {
        captions.insert(group->title());
    }
    for (int page = 0; page < ui().PageControl1->count(); ++page) {
        captions.insert(ui().PageControl1->tabText(page));
    }
    kestrane::SimulatedCamera camera;
    for (const kestrane::SourceControl& control : camera.sourceControls()) {
        captions.insert(QString::fromStdString(control.name));
        for (const auto& choice : control.choices) {
            captions.insert(QString::fromStdString(choice.second));
        }
    }
    // The page of the live measurement comes with its own work.
    captions.insert("Measure");

    QTextDocument text;
    text.setHtml(guide->text());
    static const QRegularExpression quoted(QStringLiteral("\"([^\"]+)\""));
    int quotes = 0;
    for (const QRegularExpressionMatch& match : quoted.globalMatch(text.toPlainText())) {
        EXPECT_TRUE(captions.contains(match.captured(1))) << match.captured(1).toStdString();
        ++quotes;
    }
    EXPECT_GT(quotes, 30);
}

} // namespace
