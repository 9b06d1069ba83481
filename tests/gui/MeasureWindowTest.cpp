// The "Measure" page in the window: live statistics of a dragged region, Copy, Log and Save log, the
// calibration kept between runs, and the export button.
#include "WindowFixture.h"

#include "ui/MeasurePage.h"
#include "ui/MeasureViews.h"

#include <QClipboard>
#include <QDoubleSpinBox>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <numeric>

namespace {

class MeasureWindowTest : public WindowTest {
  protected:
    MeasurePage& page() { return *ui().Measure; }

    void mouse(QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QWidget* map = page().OrientationMap;
        QMouseEvent event(type, QPointF(at), map->mapToGlobal(QPointF(at)), Qt::LeftButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(map, &event);
    }

    QString value(const char* column) { return page().findChild<QLabel*>(column)->text(); }
};

TEST_F(MeasureWindowTest, ADraggedRegionIsMeasuredCopiedLoggedAndSaved) {
    makeForm(workedExampleFrame());
    showAndActivate();
    ui().PageControl1->setCurrentWidget(ui().Measure);
    QCoreApplication::processEvents();
    EXPECT_EQ(measurementState().LivePaused, 0) << "the page keeps the live loop going";
    EXPECT_TRUE(value("pixels").startsWith("76800 ")) << "at first the whole map is the region";

    // A drag from (40, 50) up to (10, 20), past nothing; the region stays for the passes that follow.
    mouse(QEvent::MouseButtonPress, QPoint(40, 50), Qt::LeftButton);
    mouse(QEvent::MouseMove, QPoint(25, 30), Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, QPoint(10, 20), Qt::NoButton);
    QTest::qWait(30);
    EXPECT_EQ(page().OrientationMap->region(), (kestrane::MapRegion{10, 20, 40, 50}));
    // The worked example everywhere: 31 × 31 pixels of one axis.
    EXPECT_EQ(value("pixels"), "961 (961 with an orientation)");
    EXPECT_EQ(value("retardance_mean_nm"), "26.2 nm");
    EXPECT_EQ(value("retardance_sd_nm"), "0.0 nm");
    EXPECT_EQ(value("sind_mean"), "0.297");
    EXPECT_EQ(value("orientation_mean_deg"), QString::fromUtf8("100.4°"));
    EXPECT_EQ(value("orientation_spread_deg"), QString::fromUtf8("0.0°"));
    EXPECT_EQ(value("transmission_mean_pct"), "45.1 %");
    const auto& counts = page().Histogram->counts();
    EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), 0), 961);

    page().Copy->click();
    const QStringList copied = QGuiApplication::clipboard()->text().split('\n');
    ASSERT_GE(copied.size(), 2);
    EXPECT_TRUE(copied[0].startsWith("left\ttop\tright\tbottom\tpixels\tretardance_mean_nm\t"))
        << copied[0].toStdString();
    EXPECT_TRUE(copied[1].startsWith("10\t20\t40\t50\t961\t26.17")) << copied[1].toStdString();

    page().Log->click();
    page().Log->click();
    EXPECT_EQ(page().LogTable->rowCount(), 2);
    EXPECT_EQ(page().LogTable->item(0, 1)->text(), "10,20,40,50");
    dialogs.fileAnswers.push_back(path("log.csv"));
    page().SaveLog->click();
    QFile saved(path("log.csv"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(saved.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith("time,left,top,right,bottom,pixels,")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].contains(",10,20,40,50,961,26.17")) << lines[1].toStdString();
    EXPECT_TRUE(dialogs.messages.filter("backgroundintensity").size() == dialogs.messages.size());

    // The export writes the frame's four float planes as TIFF; a folder that is not there is said in words.
    dialogs.messages.clear();
    dialogs.fileAnswers.push_back(path("maps.tif"));
    page().ExportMaps->click();
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
    QFile tiff(path("maps.tif"));
    ASSERT_TRUE(tiff.open(QIODevice::ReadOnly));
    EXPECT_TRUE(tiff.read(4) == QByteArray("II*\0", 4));
    EXPECT_GT(tiff.size(), 4 * 320 * 240 * 4);
    dialogs.fileAnswers.push_back(path("missing/maps.tif"));
    page().ExportMaps->click();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_FALSE(QFile::exists(path("missing/maps.tif")));

    // Another page stops the loop; the calibration is there again at the next start.
    page().Wavelength->setValue(633);
    page().PixelSize[1]->setValue(0.61);
    ui().Ob10->setChecked(true);
    const kestrane::RecordingSettings recorded = recordingSettings(*form, "clip", std::nullopt, "");
    EXPECT_DOUBLE_EQ(recorded.wavelengthNm, 633) << "recordings carry the page's calibration";
    EXPECT_DOUBLE_EQ(recorded.pixelSizeUm, 0.61);
    ui().PageControl1->setCurrentWidget(ui().AnalyseData);
    EXPECT_EQ(measurementState().LivePaused, 1);
    makeForm(workedExampleFrame());
    EXPECT_DOUBLE_EQ(page().Wavelength->value(), 633);
    EXPECT_DOUBLE_EQ(page().PixelSize[1]->value(), 0.61);
    EXPECT_NEAR(page().PixelSize[0]->value(), 50.0 / 34, 1e-6) << "the scale bar's size until set";
}

} // namespace
