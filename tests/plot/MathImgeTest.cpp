// Window tests of TMathImage: mapping, lines, axes, repaint, metafile and stored settings, offscreen.
#include "plot/MathImge.h"

#include <QEvent>
#include <QPainter>
#include <QPicture>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <string>

namespace kestrane {
namespace {

constexpr int kPlotWidth = 373;
constexpr int kPlotHeight = 240;

bool isInk(const QImage& image, int x, int y) {
    return qGray(image.pixel(x, y)) < 160;
}

int inkCount(const QImage& image, const QRect& area) {
    int count = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            count += isInk(image, x, y) ? 1 : 0;
        }
    }
    return count;
}

// Bounding box of the pixels in which two images of equal size differ.
QRect differences(const QImage& a, const QImage& b) {
    QRect box;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                box = box.united(QRect(x, y, 1, 1));
            }
        }
    }
    return box;
}

std::string errorText(const std::function<void()>& action) {
    try {
        action();
    } catch (const EMathImageError& e) {
        return e.what();
    }
    return "(no error)";
}

// The system's plot: 373 x 240 with the start bounds.
struct SystemPlot : ::testing::Test {
    TMathImage plot;
    void SetUp() override {
        plot.SetBounds(2, 15, kPlotWidth, kPlotHeight);
        plot.D2SetWorld(-1, -1, 1, 1);
    }
    QImage axesPicture(Extended x1, Extended y1, Extended x2, Extended y2, const QString& xLabel,
                       bool zeroLines, const QColor& zeroColour = Qt::black) {
        plot.D2SetWorld(x1, y1, x2, y2);
        plot.Clear();
        plot.D2DrawAxes(xLabel, QStringLiteral("y"), zeroLines, Qt::black, zeroColour);
        return plot.Bitmap().copy();
    }
};

TEST(MathImageCreation, StartValuesAndFirstSizeChange) {
    TMathImage plot;
    EXPECT_EQ(plot.Version(), QStringLiteral("5.0 August 99 "));
    plot.setVersion(QStringLiteral("6.0"));
    EXPECT_EQ(plot.Version(), QStringLiteral("5.0 August 99 "));
    EXPECT_EQ(plot.size(), QSize(30, 30));
    EXPECT_FALSE(plot.RecordMetafile());
    EXPECT_FALSE(plot.AxesMode());
    EXPECT_EQ(plot.Pen().color(), QColor(Qt::black));
    EXPECT_EQ(plot.Brush().color(), QColor(Qt::white));
    EXPECT_EQ(plot.Font().size, 8);
    // No mapping until the first size change or D2SetWorld.
    EXPECT_EQ(plot.Mapping().screenX.scale, 0);
    EXPECT_EQ(plot.Bitmap().size(), QSize(30, 30));
    EXPECT_EQ(plot.Mapping().screenX.scale, 14.5L);
}

TEST_F(SystemPlot, StartMapping) {
    EXPECT_EQ(plot.Bitmap().size(), QSize(kPlotWidth, kPlotHeight));
    EXPECT_EQ(plot.geometry(), QRect(2, 15, kPlotWidth, kPlotHeight));
    EXPECT_EQ(plot.Mapping().screenX.scale, 186);
    EXPECT_EQ(plot.Mapping().screenY.offset, 119.5L);
    EXPECT_EQ(QPoint(plot.D2ScreenX(0), plot.D2ScreenY(0)), QPoint(186, 120));
    EXPECT_EQ(QPoint(plot.D2ScreenX(-1), plot.D2ScreenY(1)), QPoint(0, 0));
    EXPECT_EQ(QPoint(plot.D2ScreenX(1), plot.D2ScreenY(-1)), QPoint(372, 239));
}

TEST(MathImagePlacement, HiddenControlCatchesUpBeforeDrawing) {
    QWidget group;
    auto* plot = new TMathImage(&group);
    plot->setGeometry(2, 15, kPlotWidth, kPlotHeight);
    plot->D2SetWorld(-1, -1, 1, 1);
    plot->D2Line(-1, 1, 1, -1);
    EXPECT_EQ(plot->Bitmap().size(), QSize(kPlotWidth, kPlotHeight));
    EXPECT_TRUE(isInk(plot->Bitmap(), 372, 239));
}

TEST_F(SystemPlot, WorldWritersValidateAndKeepTheWorld) {
    struct Case {
        std::function<void()> write;
        const char* text;
    };
    const Case cases[] = {
        {[&] { plot.setD2WorldXW(0); }, "x-worldwidth must be positive"},
        {[&] { plot.setD2WorldXW(-2); }, "x-worldwidth must be positive"},
        {[&] { plot.setD2WorldYW(0); }, "y-worldwidth must be positive"},
        {[&] { plot.D2SetWorld(1, -1, 1, 1); }, "Invalid D2-world bounds"},
        {[&] { plot.D2SetWorld(-1, 2, 1, 2); }, "Invalid D2-world bounds"},
    };
    for (const bool axes : {false, true}) {
        plot.SetAxesMode(axes);
        const WorldMapping before = plot.Mapping();
        const LabelSizes labels = plot.Labels();
        for (const Case& c : cases) {
            EXPECT_EQ(errorText(c.write), c.text);
            EXPECT_EQ(plot.D2WorldX1(), -1);
            EXPECT_EQ(plot.D2WorldXW(), 2);
            EXPECT_EQ(plot.D2WorldYW(), 2);
            EXPECT_EQ(plot.Mapping().screenX.scale, before.screenX.scale);
            EXPECT_EQ(plot.Mapping().metaY.offset, before.metaY.offset);
            EXPECT_EQ(plot.Labels().xLabelWidth, labels.xLabelWidth);
            EXPECT_EQ(plot.Font().size, 8);
        }
    }
}

TEST_F(SystemPlot, LeftEdgeMovesTheRightEdgeWithIt) {
    plot.setD2WorldX1(0.5L);
    EXPECT_EQ(plot.D2WorldXW(), 2);
    EXPECT_EQ(plot.D2ScreenX(0.5L), 0);
    EXPECT_EQ(plot.D2ScreenX(2.5L), 372);
    // A reversed range mirrors the picture instead of failing.
    plot.D2SetWorld(1, -1, -1, 1);
    EXPECT_EQ(plot.D2ScreenX(1), 0);
    EXPECT_EQ(plot.D2ScreenX(-1), 372);
}

TEST_F(SystemPlot, LineSetsBothEndsLineToLeavesTheEnd) {
    plot.D2Line(0, 0, 1, 1);
    EXPECT_TRUE(isInk(plot.Bitmap(), 186, 120));
    EXPECT_TRUE(isInk(plot.Bitmap(), 372, 0));

    plot.Clear();
    EXPECT_EQ(inkCount(plot.Bitmap(), plot.Bitmap().rect()), 0);
    plot.D2MoveTo(0, 0);
    plot.D2LineTo(1, 1);
    EXPECT_TRUE(isInk(plot.Bitmap(), 186, 120));
    EXPECT_FALSE(isInk(plot.Bitmap(), 372, 0));
    // Going left: the start pixel is set, the end pixel is not.
    plot.D2LineTo(-1, 1);
    EXPECT_TRUE(isInk(plot.Bitmap(), 372, 0));
    EXPECT_TRUE(isInk(plot.Bitmap(), 1, 0));
    EXPECT_FALSE(isInk(plot.Bitmap(), 0, 0));
}

TEST_F(SystemPlot, FarPointsStillDrawTowardsThem) {
    plot.D2MoveTo(0, 0);
    plot.D2LineTo(1e9L, 0);
    EXPECT_EQ(inkCount(plot.Bitmap(), QRect(186, 120, kPlotWidth - 186, 1)), kPlotWidth - 186);
    EXPECT_EQ(plot.D2ScreenX(1e9L), 16000);
}

TEST_F(SystemPlot, SizeChangeFollowsOnlyRealChanges) {
    QSignalSpy resized(&plot, &TMathImage::OnResize);
    plot.D2Line(-1, 1, 1, 1);
    plot.SetBounds(2, 15, kPlotWidth, kPlotHeight);
    EXPECT_EQ(resized.count(), 0);

    plot.SetAxesMode(true);
    plot.SetBounds(0, 0, 200, 100);
    EXPECT_EQ(resized.count(), 1);
    EXPECT_EQ(plot.Bitmap().size(), QSize(200, 100));
    EXPECT_TRUE(isInk(plot.Bitmap(), 0, 0)); // the old picture stays in the corner
    EXPECT_EQ(plot.ClipRect().right(), plot.D2ScreenX(1));
    EXPECT_EQ(plot.D3State().screenCentreX, 100);
}

// Counts the paints of a widget.
class PaintCounter : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

TEST_F(SystemPlot, RepaintsAreCoalescedAndShowTheBitmap) {
    plot.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&plot));
    QCoreApplication::processEvents();
    PaintCounter counter;
    plot.installEventFilter(&counter);
    plot.D2MoveTo(-1, 0);
    for (int i = 0; i <= 500; ++i) {
        const Extended x = -1 + i / 250.0L;
        plot.D2LineTo(x, std::sin(x * 5));
    }
    plot.D2DrawAxes(QStringLiteral("x"), QStringLiteral("y"), true, Qt::black, Qt::black);
    QTest::qWait(50);
    EXPECT_GE(counter.paints, 1);
    EXPECT_LE(counter.paints, 2);
    EXPECT_EQ(plot.grab().toImage().convertToFormat(QImage::Format_RGB32), plot.Bitmap());
}

struct AxisCase {
    Extended range;
    std::vector<int> labelled;   // ticks with a number
    std::vector<int> unlabelled; // ticks without
    int notTicked;               // a whole value with no tick
};

class AxesTicks : public SystemPlot, public ::testing::WithParamInterface<AxisCase> {};

TEST_P(AxesTicks, TickMarksAndLabelsOnBothAxes) {
    const AxisCase& c = GetParam();
    const QImage image = axesPicture(0, 0, c.range, c.range, QStringLiteral("x"), false);
    const int textHeight = plot.Labels().textHeight;
    const int axisRow = plot.D2ScreenY(0);
    const int axisColumn = plot.D2ScreenX(0);
    auto xTickLength = [&](int v) {
        int n = 0;
        while (n < 8 && isInk(image, plot.D2ScreenX(v), axisRow + 1 + n)) {
            ++n;
        }
        return n;
    };
    auto yTickLength = [&](int v) {
        int n = 0;
        while (n < 8 && isInk(image, axisColumn - 1 - n, plot.D2ScreenY(v))) {
            ++n;
        }
        return n;
    };
    for (const int v : c.labelled) {
        const int px = plot.D2ScreenX(v);
        EXPECT_EQ(xTickLength(v), 5) << v; // long tick, then a gap above the label
        EXPECT_GT(inkCount(image, QRect(px - 3, axisRow + 7, 7, textHeight)), 0) << v;
        EXPECT_EQ(yTickLength(v), 5) << v;
    }
    for (const int v : c.unlabelled) {
        const int px = plot.D2ScreenX(v);
        EXPECT_EQ(xTickLength(v), 3) << v;
        EXPECT_EQ(inkCount(image, QRect(px - 1, axisRow + 7, 3, textHeight)), 0) << v;
        EXPECT_EQ(yTickLength(v), 3) << v;
    }
    EXPECT_EQ(xTickLength(c.notTicked), 0);
    EXPECT_EQ(yTickLength(c.notTicked), 0);
}

INSTANTIATE_TEST_SUITE_P(Ranges, AxesTicks,
                         ::testing::Values(AxisCase{8, {0, 2, 4, 6}, {1, 3, 5, 7}, 8},
                                           AxisCase{35, {0, 8, 16, 24, 32}, {1, 7, 9, 33, 34}, 35},
                                           AxisCase{255, {0, 60, 120, 180, 240}, {10, 50, 230}, 250}));

TEST_F(SystemPlot, ZeroLinesStayInsideThePlotArea) {
    // x from 1 to 5 holds no 0: only the line y = 0 shows, and only inside the plot area.
    const QImage without = axesPicture(1, -1, 5, 1, QStringLiteral("x"), false);
    const QImage with = axesPicture(1, -1, 5, 1, QStringLiteral("x"), true, Qt::red);
    const QRect area = plot.ClipRect();
    EXPECT_EQ(differences(without, with), QRect(area.left(), plot.D2ScreenY(0), area.width(), 1));

    const QImage bothWithout = axesPicture(-1, -1, 1, 1, QStringLiteral("x"), false);
    const QImage bothWith = axesPicture(-1, -1, 1, 1, QStringLiteral("x"), true, Qt::red);
    EXPECT_EQ(differences(bothWithout, bothWith), plot.ClipRect());
}

TEST_F(SystemPlot, CurvesAreClippedToThePlotArea) {
    const QImage axes = axesPicture(0, 0, 3.5L, 1, QStringLiteral("time (seconds)"), true);
    plot.D2MoveTo(-10, -10);
    plot.D2LineTo(10, 10);
    plot.D2LineTo(20, -30);
    plot.D2Line(-5, 0.5L, 5, 0.5L);
    const QRect changed = differences(axes, plot.Bitmap());
    EXPECT_FALSE(changed.isEmpty());
    EXPECT_TRUE(plot.ClipRect().contains(changed)) << changed.x() << "," << changed.y();
}

TEST_F(SystemPlot, CaptionsStayInsideTheBitmap) {
    const QImage bare = axesPicture(0, 0, 3.5L, 1, QString(), false);
    const QImage captioned =
        axesPicture(0, 0, 3.5L, 1, QStringLiteral("a very long time axis caption"), false);
    const QRect caption = differences(bare, captioned);
    EXPECT_GE(caption.right(), kPlotWidth - 4);
    EXPECT_LE(caption.bottom(), plot.D2ScreenY(0) - 6);
    EXPECT_GE(caption.top(), 0);
    // The value caption starts right of the arrow at the top.
    EXPECT_GT(inkCount(captioned, QRect(plot.D2ScreenX(0) + 6, 0, 40, plot.Labels().textHeight)), 0);
}

TEST_F(SystemPlot, FailingAxesRestorePenBrushAndFont) {
    QPen pen(Qt::blue, 3, Qt::DashLine);
    plot.setPen(pen);
    plot.D2SetWorld(1, 1, -1, -1); // reversed: the tick rule has no logarithm for it
    EXPECT_THROW(plot.D2DrawAxes(QStringLiteral("x"), QStringLiteral("y"), true, Qt::black, Qt::black),
                 FloatingPointError);
    EXPECT_EQ(plot.Pen(), pen);
    EXPECT_EQ(plot.Brush(), QBrush(Qt::white));
    EXPECT_EQ(plot.Font().size, 8);
    EXPECT_TRUE(plot.AxesMode());
}

TEST_F(SystemPlot, ThreeDBoxValidation) {
    EXPECT_EQ(errorText([&] { plot.setD3WorldXW(0); }), "x-worldwidth must be positive");
    EXPECT_EQ(errorText([&] { plot.setD3WorldYW(-1); }), "y-worldwidth must be positive");
    EXPECT_EQ(errorText([&] { plot.setD3WorldZW(0); }), "z-worldwidth must be positive");
    EXPECT_NEAR(static_cast<double>(plot.D3State().screenFactor), 357.7713, 1e-3);

    plot.setD3AspectRatio(false);
    EXPECT_EQ(errorText([&] { plot.D3SetWorld(0, 0, 0, 1, 0, 1); }), "Invalid D3-world bounds");
    EXPECT_EQ(plot.D3WorldYW(), 2);
    EXPECT_EQ(plot.D3State().yFactor, 1);

    plot.setD3WorldX1(0);
    EXPECT_EQ(plot.D3WorldXW(), 2);
    EXPECT_EQ(plot.D3State().nearX, 2);
    plot.setD3ViewAngle(200);
    EXPECT_EQ(plot.D3ViewAngle(), 179);
    plot.setD3ViewDist(0);
    EXPECT_EQ(plot.D3ViewDist(), 0.0001L);
}

// ---- metafile ----

// For each ink pixel of `a`, is there ink in `b` (scaled down by `bScale`) within one pixel?
double inkCoverage(const QImage& a, const QImage& b, int bScale) {
    int ink = 0;
    int matched = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (!isInk(a, x, y)) {
                continue;
            }
            ++ink;
            const QRect near((x - 1) * bScale, (y - 1) * bScale, 3 * bScale, 3 * bScale);
            matched += inkCount(b, near) > 0 ? 1 : 0;
        }
    }
    return ink == 0 ? 0 : static_cast<double>(matched) / ink;
}

QImage replay(const QPicture& picture, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.drawPicture(0, 0, picture);
    return image;
}

void drawTrace(TMathImage& plot) {
    plot.D2MoveTo(0, 0);
    for (int i = 1; i <= 100; ++i) {
        const Extended t = 3.5L * i / 100;
        plot.D2LineTo(t, std::fabs(std::sin(t * 2)));
    }
}

TEST_F(SystemPlot, MetafileRepeatsTheDrawingAtTwiceTheSize) {
    plot.setRecordMetafile(true);
    plot.D2SetWorld(0, 0, 3.5L, 1);
    plot.Clear();
    plot.D2DrawAxes(QStringLiteral("time (seconds)"), QStringLiteral("|sin(d)|"), true, Qt::black, Qt::black);
    drawTrace(plot);
    const QPicture picture = plot.Metafile();
    EXPECT_EQ(picture.boundingRect(), QRect(0, 0, 2 * kPlotWidth, 2 * kPlotHeight));
    const QImage big = replay(picture, QSize(2 * kPlotWidth, 2 * kPlotHeight));
    const QImage small = big.scaled(kPlotWidth, kPlotHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_GT(inkCoverage(plot.Bitmap(), big, 2), 0.95);
    EXPECT_GT(inkCoverage(small, plot.Bitmap(), 1), 0.9);
    EXPECT_EQ(plot.MetafileCanvas()->clip(), plot.MetaClipRect());
    EXPECT_EQ(plot.MetafileCanvas()->font().size, 16);

    // Taking the picture does not end the recording.
    plot.D2Line(0, 1, 3.5L, 0);
    const QImage later = replay(plot.Metafile(), big.size());
    const QRect middle(plot.D2MetaX(1.75L) - 1, plot.D2MetaY(0.5L) - 1, 3, 3);
    EXPECT_GT(inkCount(later, middle), 0);
    EXPECT_EQ(inkCount(big, middle), 0);
}

TEST_F(SystemPlot, ClearStartsANewMetafile) {
    plot.setRecordMetafile(true);
    plot.D2Line(-1, -1, 1, 1);
    plot.Clear();
    const QImage cleared = replay(plot.Metafile(), QSize(2 * kPlotWidth, 2 * kPlotHeight));
    EXPECT_EQ(inkCount(cleared, cleared.rect()), 0);
    EXPECT_EQ(plot.MetafileCanvas()->font().size, 2 * plot.Font().size);
    plot.setFont(plot.Font().withSize(10));
    EXPECT_EQ(plot.MetafileCanvas()->font().size, 20);
}

TEST_F(SystemPlot, SizeChangeWhileRecordingKeepsThePicture) {
    plot.setRecordMetafile(true);
    plot.D2Line(-1, 1, 1, 1); // along the top row
    plot.SetBounds(0, 0, 500, 300);
    plot.D2Line(-1, -1, 1, -1); // along the new bottom row
    const QImage image = replay(plot.Metafile(), QSize(1000, 600));
    EXPECT_GT(inkCount(image, QRect(0, 0, 2 * kPlotWidth, 2)), kPlotWidth);
    EXPECT_GT(inkCount(image, QRect(0, 597, 1000, 3)), 500);

    plot.setRecordMetafile(false);
    EXPECT_TRUE(plot.Metafile().isNull());
    EXPECT_EQ(plot.MetafileCanvas(), nullptr);
}

// ---- stored settings ----

QStringList settingNames(const QString& text) {
    QStringList names;
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts)) {
        names << line.section(u'=', 0, 0);
    }
    return names;
}

TEST_F(SystemPlot, SettingsOfTheSystemPlot) {
    const QString text = plot.WriteSettings();
    EXPECT_EQ(
        settingNames(text),
        QStringList({"Version",   "Font.Name", "Font.Size", "Font.Color", "Font.Style",  "RecordMetafile",
                     "D3Xscale",  "D3Yscale",  "D3Zscale",  "D3ViewDist", "D3ViewAngle", "D3AspectRatio",
                     "D2WorldX1", "D2WorldXW", "D2WorldY1", "D2WorldYW",  "D3WorldX1",   "D3WorldY1",
                     "D3WorldZ1", "D3WorldXW", "D3WorldYW", "D3WorldZW",  "D3Zrotation", "D3Yrotation"}));
    for (const char* line :
         {"Version=\"5.0 August 99 \"", "RecordMetafile=false", "D3ViewDist=6.4", "D3ViewAngle=6",
          "D3AspectRatio=true", "D2WorldX1=-1", "D2WorldXW=2", "D3Zrotation=45"}) {
        EXPECT_TRUE(text.contains(QLatin1String(line) + u'\n')) << line;
    }
}

TEST_F(SystemPlot, SettingsRoundTripExactly) {
    plot.D2SetWorld(0.1L, -3, 0.7L, 1e-7L);
    plot.D3SetWorld(-0.3L, 1, 2, 1.0L / 3, 5, 2.5L);
    plot.setD3Zrotation(12.345L);
    plot.setD3ViewDist(1.0L / 7);
    plot.setD3AspectRatio(false);
    plot.setPen(QPen(Qt::red, 3, Qt::DashLine));
    plot.setBrush(QBrush(Qt::blue, Qt::NoBrush));
    PlotFont font;
    font.name = QStringLiteral("Times");
    font.size = 11;
    font.bold = true;
    plot.setFont(font);
    plot.setHint(QStringLiteral("a \"quoted\"\nhint \\ here"));
    plot.setShowHint(true);
    const QString text = plot.WriteSettings();

    TMathImage copy;
    QString error;
    ASSERT_TRUE(copy.ReadSettings(text, &error)) << error.toStdString();
    EXPECT_EQ(copy.WriteSettings(), text);
    EXPECT_EQ(copy.D2WorldXW(), plot.D2WorldXW());
    EXPECT_EQ(copy.D3WorldXW(), plot.D3WorldXW());
    EXPECT_EQ(copy.D3ViewDist(), 1.0L / 7);
    EXPECT_EQ(copy.Hint(), plot.Hint());
    EXPECT_EQ(copy.Pen(), plot.Pen());
    EXPECT_EQ(copy.Font(), font);
}

TEST(MathImageSettings, ZeroWidthLoadsAndFailsAtTheNextSizeChange) {
    TMathImage source;
    QString text = source.WriteSettings();
    text.replace(QStringLiteral("D2WorldXW=2\n"), QStringLiteral("D2WorldXW=0\n"));
    text.replace(QStringLiteral("Version=\"5.0 August 99 \""), QStringLiteral("Version=\"9.9\""));

    TMathImage plot;
    ASSERT_TRUE(plot.ReadSettings(text));
    EXPECT_EQ(plot.D2WorldXW(), 0);
    EXPECT_EQ(plot.Version(), QStringLiteral("5.0 August 99 "));
    EXPECT_TRUE(plot.WriteSettings().contains(QStringLiteral("\nD2WorldXW=0\n")));
    EXPECT_EQ(errorText([&] { plot.SetBounds(2, 15, kPlotWidth, kPlotHeight); }), "Invalid D2-world bounds");
}

TEST(MathImageSettings, UnreadableLinesAreReported) {
    TMathImage plot;
    QString error;
    EXPECT_FALSE(plot.ReadSettings(QStringLiteral("# comment\nD3Xscale=2\nD3Wobble=1\n"), &error));
    EXPECT_EQ(error, QStringLiteral("line 3: unknown name or unreadable value"));
    EXPECT_EQ(plot.D3Xscale(), 2);
    EXPECT_FALSE(plot.ReadSettings(QStringLiteral("D2WorldX1=1,5"), &error));
    EXPECT_FALSE(plot.ReadSettings(QStringLiteral("Hint=unquoted"), &error));
}

// ---- the picture a person sees ----

TEST(MathImageScreenshot, TimeTraceOfSinD) {
    TMathImage plot;
    plot.SetBounds(0, 0, kPlotWidth, kPlotHeight);
    plot.D2SetWorld(0, 0, 3.5L, 1);
    plot.Clear();
    plot.D2DrawAxes(QStringLiteral("time (seconds)"), QStringLiteral("|sin(d)|"), true, Qt::black, Qt::black);
    drawTrace(plot);
    const QImage shot = plot.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), QSize(kPlotWidth, kPlotHeight));
    EXPECT_TRUE(shot.save(QStringLiteral("plot-screenshot.png")));
    // What the window shows is the plot's picture.
    EXPECT_EQ(shot, plot.Bitmap().convertToFormat(QImage::Format_RGB32));
    const auto inkNear = [&](Extended t, Extended value) {
        const QPoint p(plot.D2ScreenX(t), plot.D2ScreenY(value));
        return inkCount(shot, QRect(p - QPoint(1, 1), QSize(3, 3))) > 0;
    };
    // The curve runs through its points, and nowhere else in the plot area.
    for (int i = 1; i < 100; ++i) {
        const Extended t = 3.5L * i / 100;
        EXPECT_TRUE(inkNear(t, std::fabs(std::sin(t * 2)))) << "t = " << static_cast<double>(t);
    }
    for (const Extended t : {std::numbers::pi_v<Extended> / 4, std::numbers::pi_v<Extended> / 2}) {
        EXPECT_FALSE(inkNear(t, 0.5L)) << "t = " << static_cast<double>(t);
    }
    // The axes leave room for their labels left of and below the plot area, and write them there.
    const QPoint origin(plot.D2ScreenX(0), plot.D2ScreenY(0));
    EXPECT_GT(origin.x(), 10);
    EXPECT_LT(origin.y(), kPlotHeight - 10);
    EXPECT_GT(inkCount(shot, QRect(0, 0, origin.x() - 1, kPlotHeight)), 20) << "y labels";
    EXPECT_GT(inkCount(shot, QRect(origin.x(), origin.y() + 2, kPlotWidth, kPlotHeight)), 20) << "x labels";
}

} // namespace
} // namespace kestrane
