// Window tests of the movie review: the "AVI-Viewer" box, continuous and single-frame review on "Analyse
// Data", the trace on the X - T plot, what "Save x/t plot" and "save image" write, and the window's CSV
// against kestrane-analyse --trace on a clip made by kestrane-analyse --clip.
#include "WindowFixture.h"
#include "cli/AnalyseCommand.h"
#include "imaging/Bmp.h"
#include "plot/MathImge.h"
#include "review/AVIToBitmap.h"
#include "review/AviPlayer.h"
#include "review/ReaderFrameSource.h"
#include "review/ReviewClips.h"
#include "ui/ImageConversion.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

#include <fstream>

namespace {

using reviewtest::grainRed;

class ReviewWindow : public WindowTest {
  protected:
    void TearDown() override {
        WindowTest::TearDown();
        delete Form3;
    }

    QString clip(const char* name, int frames) {
        EXPECT_TRUE(reviewtest::writeRedClip(path(name).toStdString(), frames, grainRed));
        return path(name);
    }

    // "Show Movie" on the file, then every tick until playback ends; returns the number of ticks.
    int playThrough(const QString& file) {
        dialogs.fileAnswers.push_back(file);
        form->ShowMovieClick();
        int ticks = 0;
        while (ui().Timer3->isActive() && ticks < 1000) {
            form->Timer3Timer();
            ++ticks;
        }
        return ticks;
    }

    static int redAt(const QImage& image, int x, int top) { return qRed(image.pixel(x, top)); }
};

TEST_F(ReviewWindow, AviViewerBoxPlaysTheChosenFileInALoopAndStops) {
    makeForm(QImage());
    form->LoadAVIClick();
    EXPECT_EQ(ui().Label10->text(), "No Movie Loaded") << "cancelled";
    EXPECT_TRUE(ui().GroupBox4->isHidden());
    EXPECT_FALSE(ui().Timer2->isActive()) << "the loop stays off until started again";

    const QString movie = clip("a-movie-with-a-rather-long-name.avi", 4);
    dialogs.fileAnswers = {movie, "short.avi"};
    form->LoadAVIClick();
    EXPECT_FALSE(ui().GroupBox4->isHidden());
    EXPECT_EQ(ui().GroupBox4->geometry(), QRect(384, 0, 377, 257));
    EXPECT_EQ(ui().GroupBox4->title(), "AVI-Movie");
    EXPECT_TRUE(ui().Animate1->isPlaying());
    EXPECT_EQ(ui().Animate1->periodMs(), 100);
    EXPECT_EQ(ui().Label10->text(), "..." + movie.right(25));
    // The text fits inside the box; the whole path is the tooltip.
    EXPECT_LE(QFontMetrics(ui().Label10->font()).horizontalAdvance(ui().Label10->text()),
              ui().Label10->width());
    EXPECT_TRUE(ui().GroupBox9->contentsRect().contains(ui().Label10->geometry()));
    EXPECT_EQ(ui().Label10->toolTip(), movie);
    EXPECT_FALSE(ui().Timer2->isActive());

    clip("short.avi", 2);
    form->LoadAVIClick();
    EXPECT_EQ(ui().Label10->text(), "short.avi");

    form->StopMovieClick();
    EXPECT_TRUE(ui().GroupBox4->isHidden());
    EXPECT_EQ(measurementState().LivePaused, 0);
    EXPECT_TRUE(ui().Timer2->isActive());
    EXPECT_FALSE(ui().Animate1->isPlaying());
    EXPECT_EQ(ui().Label10->text(), "No Movie Loaded");
    EXPECT_EQ(ui().Label10->toolTip(), "");

    // A file the player cannot play: its message, and nothing left over the live image.
    std::ofstream(path("notes.avi").toStdString()) << "not a movie";
    dialogs.fileAnswers = {path("notes.avi")};
    try {
        form->LoadAVIClick();
        FAIL() << "a file the player cannot play";
    } catch (const std::runtime_error& e) {
        // The reason in words, not a bare code name.
        EXPECT_EQ(QString(e.what()),
                  "Cannot open AVI\n" + path("notes.avi") + ": " +
                      QString::fromStdString(kestrane::aviResultText(kestrane::kAviErrBadFormat)));
    }
    EXPECT_TRUE(ui().GroupBox4->isHidden());
    EXPECT_TRUE(ui().Timer2->isActive());
    EXPECT_EQ(ui().Label10->text(), "No Movie Loaded");
}

TEST_F(ReviewWindow, ShowMovieTakesTheOfflineReaderAndWorkOfflineSaysSo) {
    makeForm(QImage());
    createForm3();
    form->setOfflineSource(std::make_unique<ReaderFrameSource>());
    QDir().mkpath(path("data"));
    ASSERT_TRUE(
        reviewtest::writeRedClip(path("data/offline.avi").toStdString(), 10, grainRed, {640, 480, 32, 30}));
    ui().Offline->setChecked(true);
    ASSERT_EQ(OfflineFrameCount, 10);

    dialogs.fileAnswers = {clip("clip.avi", 5)};
    ui().SingleFrames->setChecked(true); // the review waits for steps and keeps the reader
    form->ShowMovieClick();
    EXPECT_EQ(OfflineFrameCount, 5);
    EXPECT_FALSE(ui().Offline->isChecked()) << "the offline file is no longer open";

    // Ticking the box again reopens the offline file, which the review then leaves alone, and "Start
    // Action" processes it.
    ui().Offline->setChecked(true);
    EXPECT_EQ(OfflineFrameCount, 10);
    EXPECT_FALSE(ui().UpDown1->isEnabled());
    form->Button1Click();
    form->Timer2Timer();
    EXPECT_EQ(ui().Label7->text(), "1");

    // The file gone from the reader while the box is ticked: the tick unticks it instead of doing nothing.
    Form3->CloseAVI();
    form->Timer2Timer();
    EXPECT_FALSE(ui().Offline->isChecked());
    EXPECT_FALSE(ui().Timer2->isActive());
}

TEST_F(ReviewWindow, ContinuousReviewTracesTheRegionOfEveryFrameShown) {
    makeForm(QImage());
    form->Image5MouseDown(Qt::LeftButton, Qt::LeftButton, {100, 50}); // before any frame: nothing to sample
    form->Image5MouseMove(Qt::LeftButton, {109, 59});
    EXPECT_EQ(ui().Label11->text(), "0");

    EXPECT_EQ(playThrough(clip("two.avi", 2)), 1) << "frame 0 is shown and the reader closed";
    EXPECT_TRUE(form->pixelTrace().points().empty());
    const QString movie = clip("clip.avi", 100);
    EXPECT_EQ(playThrough(movie), 98) << "frames 0 to 97 are shown";
    EXPECT_EQ(OfflineFrameIndex, 1);
    EXPECT_TRUE(ReaderBitmap.isNull()) << "the reader is closed";
    EXPECT_EQ(ui().MathImage1->D2WorldX1(), 0);
    EXPECT_EQ(ui().MathImage1->D2WorldXW(), 100 * 0.035L);
    EXPECT_EQ(ui().MathImage1->D2WorldYW(), 1.0L);

    const std::vector<kestrane::TracePoint>& points = form->pixelTrace().points();
    ASSERT_EQ(points.size(), 97u);
    EXPECT_TRUE(points.front().startsCurve());
    EXPECT_EQ(points.front().time, 0.035L);
    EXPECT_EQ(points.back().frame, 96);
    EXPECT_EQ(points.back().mean, 106) << "the black pixel is left out of the mean";
    EXPECT_EQ(ui().Label11->text(), "0.416");

    // The last frame shown: the rectangle on the picture, the clean copy without it.
    EXPECT_EQ(redAt(ui().Image6->picture(), 105, 55), 0);
    EXPECT_EQ(redAt(ui().Image5->picture(), 105, 55), 255);
    EXPECT_EQ(redAt(ui().Image5->picture(), 100, 50), 107) << "the outline keeps its pixels";

    dialogs.fileAnswers = {path("window.csv")};
    form->SaveXtplotClick();
    const std::string csv = reviewtest::fileText(path("window.csv").toStdString());
    EXPECT_EQ(csv.substr(0, 50), "frame,time_s,value\n0,0.035,0.0392156862745098\n1,0.");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 98);

    // The bitmaps hold the pixels as shown.
    dialogs.fileAnswers = {path("plot.bmp"), path("movie.bmp")};
    form->SaveXtplotClick();
    form->saveimageClick();
    const std::pair<QString, QImage> saved[] = {{"plot.bmp", ui().MathImage1->Bitmap()},
                                                {"movie.bmp", ui().Image5->picture()}};
    for (const auto& [name, shown] : saved) {
        kestrane::Bitmap bitmap;
        std::string error;
        ASSERT_TRUE(kestrane::readBmpFile(path(name).toStdString(), bitmap, error)) << error;
        bitmap.convertTo32();
        EXPECT_EQ(toQImage(bitmap).convertToFormat(QImage::Format_RGB32),
                  shown.convertToFormat(QImage::Format_RGB32))
            << name.toStdString();
    }
}

// A result clip as the recorder writes it, from a raw recording whose upper right quadrant brightens.
TEST_F(ReviewWindow, CsvOfTheWindowAndTheHeadlessTraceAgreeOnARecordedClip) {
    const auto raw = [](int n, int x, int top) {
        const bool right = x >= 320;
        return top < 240 ? (right ? 130 + 4 * n : 90) : (right ? 100 : 100 + (x + top) % 41);
    };
    ASSERT_TRUE(reviewtest::writeRedClip(path("raw.avi").toStdString(), 12, raw, {640, 480, 32, 30}));
    std::ostringstream err;
    const std::string clip = path("phi1.avi").toStdString();
    ASSERT_EQ(kestrane::runAnalyseCommand({"--clip=extinction", path("raw.avi").toStdString(), clip}, err), 0)
        << err.str();

    makeForm(QImage());
    ui().RadioButton2->setChecked(true);
    form->Image5MouseDown(Qt::LeftButton, Qt::LeftButton, {372, 60}); // map, legend and outside columns
    form->Image5MouseMove(Qt::LeftButton, {300, 10});
    EXPECT_EQ(playThrough(QString::fromStdString(clip)), 8);
    dialogs.fileAnswers = {path("window.csv")};
    form->SaveXtplotClick();
    ASSERT_EQ(
        kestrane::runAnalyseCommand(
            {"--trace=300,10,372,60", "--quantity=extinction", clip, path("cli.csv").toStdString()}, err),
        0)
        << err.str();
    const std::string csv = reviewtest::fileText(path("window.csv").toStdString());
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 8);
    EXPECT_EQ(csv, reviewtest::fileText(path("cli.csv").toStdString()));
}

TEST_F(ReviewWindow, SaveDialogsCancelledWriteNothingAndUnwritablePathsSayWhy) {
    makeForm(QImage());
    const QStringList before = QDir(path("")).entryList(QDir::Files);
    form->SaveXtplotClick();
    form->saveimageClick();
    EXPECT_EQ(QDir(path("")).entryList(QDir::Files), before);

    const std::pair<const char*, void (TForm1::*)()> saves[] = {
        {"missing/plot.bmp", &TForm1::SaveXtplotClick},
        {"missing/plot.csv", &TForm1::SaveXtplotClick},
        {"missing/movie.bmp", &TForm1::saveimageClick}};
    for (const auto& [name, save] : saves) {
        dialogs.fileAnswers = {path(name)};
        try {
            (form.get()->*save)();
            ADD_FAILURE() << name;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(e.what(), "cannot write " + path(name).toStdString() + ": No such file or directory");
        }
    }
    EXPECT_EQ(QDir(path("")).entryList(QDir::Files), before);
}

TEST_F(ReviewWindow, SavedFilesAreWhatTheirNamesSay) {
    makeForm(QImage());
    playThrough(clip("clip.avi", 10));
    const struct {
        const char* name;
        void (TForm1::*save)();
        const char* written; // null: refused
        QByteArray start;
    } cases[] = {
        {"plot.png", &TForm1::SaveXtplotClick, "plot.png", "\x89PNG"},
        {"movie.PNG", &TForm1::saveimageClick, "movie.PNG", "\x89PNG"},
        {"plot", &TForm1::SaveXtplotClick, "plot.bmp", "BM"},
        {"movie.", &TForm1::saveimageClick, "movie.bmp", "BM"},
        {"plot.csv", &TForm1::SaveXtplotClick, "plot.csv", "frame,time_s,value"},
        {"movie.csv", &TForm1::saveimageClick, nullptr, {}},
        {"plot.jpg", &TForm1::SaveXtplotClick, nullptr, {}},
    };
    for (const auto& c : cases) {
        const QStringList before = QDir(path("")).entryList(QDir::Files);
        dialogs.messages.clear();
        dialogs.fileAnswers = {path(c.name)};
        (form.get()->*c.save)();
        if (c.written == nullptr) {
            EXPECT_EQ(QDir(path("")).entryList(QDir::Files), before) << c.name;
            ASSERT_EQ(dialogs.messages.size(), 1) << c.name;
            EXPECT_TRUE(
                dialogs.messages[0].startsWith(QString(c.name) + " was not saved: the name must end in"));
            continue;
        }
        EXPECT_TRUE(dialogs.messages.isEmpty()) << c.name;
        QFile file(path(c.written));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << c.written;
        EXPECT_TRUE(file.readAll().startsWith(c.start)) << c.written;
    }
    // A PNG holds the pixels as shown.
    EXPECT_EQ(QImage(path("plot.png")).convertToFormat(QImage::Format_RGB32),
              ui().MathImage1->Bitmap().convertToFormat(QImage::Format_RGB32));
}

TEST_F(ReviewWindow, PlotSpansFollowTheMovieTheTimeStepAndTheQuantity) {
    makeForm(QImage());
    ui().TypeOfflineMovie->setChecked(false);
    ui().TrackBar4->setValue(1);
    EXPECT_EQ(measurementState().MaxSin, 0.2L);
    const QString movie = clip("clip.avi", 100);
    playThrough(movie);
    EXPECT_EQ(ui().MathImage1->D2WorldXW(), 100 * 0.1L);
    EXPECT_NEAR(static_cast<double>(ui().MathImage1->D2WorldYW()), 0.2, 1e-15);
    EXPECT_EQ(form->pixelTrace().points().front().time, 0.1L);

    ui().RadioButton3->setChecked(true);
    playThrough(movie);
    EXPECT_NEAR(static_cast<double>(ui().MathImage1->D2WorldYW()), 100, 1e-12);

    const QString empty = path("empty.avi");
    ASSERT_TRUE(reviewtest::writeRedClip(empty.toStdString(), 0, grainRed));
    dialogs.fileAnswers = {empty};
    EXPECT_THROW(
        {
            try {
                form->ShowMovieClick();
            } catch (const kestrane::EMathImageError& e) {
                EXPECT_STREQ(e.what(), "x-worldwidth must be positive");
                throw;
            }
        },
        kestrane::EMathImageError);
    EXPECT_FALSE(ui().Timer3->isActive());
}

// A clip with its settings file: the trace takes the clip's MaxSin and frame times, not the slider's, and the
// plot says so; the next movie without one is back on the slider and the counted time step.
TEST_F(ReviewWindow, AClipsSettingsFileGivesTheTraceItsMaxSinAndFrameTimes) {
    makeForm(QImage());
    ASSERT_EQ(measurementState().MaxSin, 1.0L);
    const QString movie = clip("sind1.avi", 10);
    std::vector<double> times;
    std::string list;
    for (int k = 0; k < 10; ++k) {
        times.push_back(k * 0.2 + (k % 2) * 0.01); // a camera slower than 35 ms and a little uneven
        list += (k == 0 ? "" : ", ") + std::to_string(times.back());
    }
    std::ofstream(path("sind1.json").toStdString())
        << R"({"maxsin": 0.6, "frame_times_s": [)" << list << "]}";
    form->Image5MouseDown(Qt::LeftButton, Qt::LeftButton, {100, 50});

    EXPECT_EQ(playThrough(movie), 8);
    EXPECT_TRUE(ui().PlotNote->isVisibleTo(ui().GroupBox11));
    EXPECT_EQ(ui().PlotNote->text(), "MaxSin 0.6 and frame times from sind1.json");
    EXPECT_NEAR(static_cast<double>(ui().MathImage1->D2WorldYW()), 0.6, 1e-15);
    EXPECT_NEAR(static_cast<double>(ui().MathImage1->D2WorldXW()), 1.81 + 1.81 / 9, 1e-6);
    const std::vector<kestrane::TracePoint>& points = form->pixelTrace().points();
    ASSERT_EQ(points.size(), 7u);
    for (const kestrane::TracePoint& p : points) {
        EXPECT_NEAR(static_cast<double>(p.time), times[static_cast<std::size_t>(p.frame)], 1e-6) << p.frame;
        EXPECT_NEAR(static_cast<double>(p.quantity), static_cast<double>(p.mean) * 0.6 / 255, 1e-12);
    }
    EXPECT_EQ(measurementState().MaxSin, 1.0L) << "the slider's MaxSin stays as it was";

    playThrough(clip("plain.avi", 10));
    EXPECT_FALSE(ui().PlotNote->isVisibleTo(ui().GroupBox11));
    EXPECT_EQ(ui().MathImage1->D2WorldYW(), 1.0L);
    EXPECT_EQ(ui().MathImage1->D2WorldXW(), 10 * 0.035L);
    EXPECT_EQ(form->pixelTrace().points().front().time, 0.035L);

    std::ofstream(path("broken.json").toStdString()) << "not json";
    playThrough(clip("broken.avi", 10));
    EXPECT_TRUE(ui().PlotNote->text().startsWith("settings not read: "))
        << ui().PlotNote->text().toStdString();
    EXPECT_EQ(ui().MathImage1->D2WorldYW(), 1.0L);
}

TEST_F(ReviewWindow, SingleFramesStepWithTheStepper) {
    makeForm(QImage());
    ui().SingleFrames->setChecked(true);
    EXPECT_FALSE(ui().UpDown1->isHidden());
    EXPECT_FALSE(ui().UpDown1->isEnabled()) << "nothing to step before a movie is open";
    EXPECT_EQ(ui().UpDown1->position(), 1);

    dialogs.fileAnswers = {path("missing.avi")};
    EXPECT_THROW(form->ShowMovieClick(), std::runtime_error);
    EXPECT_FALSE(ui().UpDown1->isEnabled());

    dialogs.fileAnswers = {clip("clip.avi", 100)};
    form->ShowMovieClick();
    EXPECT_FALSE(ui().Timer3->isActive());
    ASSERT_TRUE(ui().UpDown1->isEnabled());
    const QList<QToolButton*> arrows = ui().UpDown1->findChildren<QToolButton*>();
    ASSERT_EQ(arrows.size(), 2);
    QToolButton* right = arrows[1]->arrowType() == Qt::RightArrow ? arrows[1] : arrows[0];
    const QImage axesOnly = ui().MathImage1->Bitmap();
    right->click();
    // The first step starts the curve at its point: no line from where the axes left the pen.
    ASSERT_EQ(form->pixelTrace().points().size(), 1u);
    EXPECT_TRUE(form->pixelTrace().points().front().startsCurve());
    EXPECT_EQ(ui().MathImage1->Bitmap(), axesOnly);
    EXPECT_EQ(ui().UpDown1->position(), 2);
    EXPECT_EQ(ui().UpDown1->minimum(), 1);
    EXPECT_EQ(ui().UpDown1->maximum(), 98);
    EXPECT_EQ(OfflineFrameIndex, 3);
    EXPECT_EQ(redAt(ui().Image6->picture(), 100, 50), 10) << "frame 0";
    ui().UpDown1->setPosition(97);
    right->click();
    EXPECT_TRUE(ui().UpDown1->isHidden()) << "the end of the movie";
    EXPECT_EQ(OfflineFrameIndex, 1);
    EXPECT_TRUE(ReaderBitmap.isNull());
}

} // namespace
