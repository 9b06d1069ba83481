// The "Measure" page: layout, the live update of each pass, and "Copy", "Log" and "Save log…".
#include "ui/MeasurePage.h"

#include "analysis/Calibration.h"
#include "measure/OrientationColour.h"
#include "recording/RecordingSettings.h"
#include "ui/Dialogs.h"
#include "ui/MeasureViews.h"

#include <QApplication>
#include <QClipboard>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <cmath>
#include <ctime>

using kestrane::MapRegion;
using kestrane::RegionStatistics;

namespace {

constexpr int kObjectives[3] = {4, 10, 40};
constexpr int kHistogramBins = 40;

// Where the page keeps its calibration between runs.
QSettings pageSettings() {
    return QSettings(QStringLiteral("Kestrane"), QStringLiteral("Kestrane"));
}

QString pixelSizeKey(int objective) {
    return QStringLiteral("measure/pixelSizeUm%1").arg(objective);
}

QDoubleSpinBox* makeSpinBox(QWidget* parent, const char* name, QRect geometry, double low, double high,
                            int decimals, const QString& unit) {
    auto* box = new QDoubleSpinBox(parent);
    box->setObjectName(name);
    box->setGeometry(geometry);
    box->setRange(low, high);
    box->setDecimals(decimals);
    box->setSuffix(QStringLiteral(" ") + unit);
    box->setKeyboardTracking(false);
    return box;
}

QLabel* makeLabel(QWidget* parent, const QString& text, QRect geometry) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(geometry);
    return label;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, QRect geometry) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    return button;
}

QGroupBox* makeBox(QWidget* parent, const char* name, const QString& caption, QRect geometry) {
    auto* box = new QGroupBox(caption, parent);
    box->setObjectName(name);
    box->setGeometry(geometry);
    return box;
}

// A value for the labels: fixed decimals with a point; a dash for a value there is none of.
QString shown(double value, int decimals, const QString& unit) {
    if (std::isnan(value)) {
        return QStringLiteral("none");
    }
    if (std::isinf(value)) {
        return QStringLiteral("no mean axis");
    }
    return QString::number(value, 'f', decimals) + unit;
}

// The operator's local time of a log row.
std::string nowText() {
    return kestrane::isoLocalTime(std::time(nullptr));
}

} // namespace

MeasurePage::MeasurePage(QWidget* parent) : QWidget(parent) {
    buildMapAndLegend();
    buildCalibration();
    buildStatistics();
    loadSettings();
    for (QDoubleSpinBox* box : {MaxRetardance, Wavelength, PixelSize[0], PixelSize[1], PixelSize[2]}) {
        connect(box, &QDoubleSpinBox::valueChanged, this, &MeasurePage::calibrationChanged);
    }
    connect(OrientationMap, &OrientationMapView::regionChosen, this, &MeasurePage::regionChosen);
    connect(Copy, &QPushButton::clicked, this, &MeasurePage::CopyClick);
    connect(Log, &QPushButton::clicked, this, &MeasurePage::LogClick);
    connect(SaveLog, &QPushButton::clicked, this, &MeasurePage::SaveLogClick);
    connect(ExportMaps, &QPushButton::clicked, this, &MeasurePage::exportRequested);
    calibrationChanged();
}

void MeasurePage::buildMapAndLegend() {
    MapBox = makeBox(this, "MapBox", "Orientation map (drag a region, click a point)", QRect(0, 0, 326, 257));
    OrientationMap = new OrientationMapView(MapBox);
    OrientationMap->setObjectName("OrientationMap");
    OrientationMap->move(3, 15);

    LegendBox = makeBox(this, "LegendBox", "Colour wheel", QRect(330, 0, 196, 257));
    ColourWheel = new ColourWheelLegend(LegendBox);
    ColourWheel->setObjectName("ColourWheel");
    ColourWheel->setGeometry(2, 14, 192, 180);
    makeLabel(LegendBox, "max retardance", QRect(8, 194, 90, 22));
    MaxRetardance = makeSpinBox(LegendBox, "MaxRetardance", QRect(98, 194, 90, 22), 1.0, 1000.0, 1, "nm");
    QuarterWaveNote = makeLabel(LegendBox, QString(), QRect(8, 218, 184, 34));
    QuarterWaveNote->setWordWrap(true);
}

void MeasurePage::buildCalibration() {
    CalibrationBox = makeBox(this, "CalibrationBox", "Calibration", QRect(530, 0, 235, 257));
    makeLabel(CalibrationBox, "wavelength", QRect(8, 22, 110, 22));
    Wavelength = makeSpinBox(CalibrationBox, "Wavelength", QRect(120, 22, 105, 22),
                             kestrane::kMinimumWavelengthNm, kestrane::kMaximumWavelengthNm, 1, "nm");
    makeLabel(CalibrationBox, "pixel size per objective:", QRect(8, 54, 215, 20));
    const char* names[3] = {"PixelSize4", "PixelSize10", "PixelSize40"};
    for (int i = 0; i < 3; ++i) {
        const int top = 76 + 26 * i;
        makeLabel(CalibrationBox, QStringLiteral("%1x").arg(kObjectives[i]), QRect(24, top, 60, 22));
        PixelSize[i] = makeSpinBox(CalibrationBox, names[i], QRect(120, top, 105, 22), 0.0001, 1000.0, 6,
                                   QStringLiteral("\u00B5m"));
    }
    makeLabel(CalibrationBox, "a stage micrometer gives the true size", QRect(8, 154, 220, 20));
    ExportMaps = makeButton(CalibrationBox, "ExportMaps", "Export maps (TIFF)\u2026", QRect(8, 220, 150, 25));
}

void MeasurePage::buildStatistics() {
    StatisticsBox = makeBox(this, "StatisticsBox", "Region statistics", QRect(0, 260, 377, 250));
    RegionLabel = makeLabel(StatisticsBox, QString(), QRect(8, 16, 361, 18));
    RegionLabel->setObjectName("RegionLabel");
    RegionLabel->setAutoFillBackground(true);
    const char* names[7] = {"pixels",           "retardance mean",    "retardance SD",    "mean |sin(d)|",
                            "orientation mean", "orientation spread", "transmission mean"};
    for (int i = 0; i < 7; ++i) {
        const int top = 34 + 16 * i;
        makeLabel(StatisticsBox, names[i], QRect(8, top, 130, 16));
        StatisticValues[i] = makeLabel(StatisticsBox, QStringLiteral("none"), QRect(140, top, 229, 16));
        // Opaque: a new value repaints the label alone, not the group box behind it.
        StatisticValues[i]->setAutoFillBackground(true);
        StatisticValues[i]->setObjectName(QString::fromStdString(kestrane::statisticsColumns()[i]));
    }
    Copy = makeButton(StatisticsBox, "Copy", "Copy", QRect(8, 150, 75, 23));
    Log = makeButton(StatisticsBox, "Log", "Log", QRect(90, 150, 75, 23));
    SaveLog = makeButton(StatisticsBox, "SaveLog", "Save log\u2026", QRect(172, 150, 75, 23));

    LogTable = new QTableWidget(0, 9, StatisticsBox);
    LogTable->setObjectName("LogTable");
    LogTable->setGeometry(8, 178, 361, 66);
    LogTable->setHorizontalHeaderLabels(
        {"time", "region", "pixels", "nm", "SD nm", "|sin(d)|", "deg", "spread", "%"});
    LogTable->verticalHeader()->hide();
    LogTable->verticalHeader()->setDefaultSectionSize(18);
    LogTable->horizontalHeader()->setDefaultSectionSize(52);
    LogTable->setColumnWidth(1, 84);
    LogTable->setEditTriggers(QAbstractItemView::NoEditTriggers);

    HistogramBox = makeBox(this, "HistogramBox", "Retardance in the region", QRect(384, 260, 381, 288));
    Histogram = new RetardanceHistogramView(HistogramBox);
    Histogram->setObjectName("Histogram");
    Histogram->setGeometry(4, 18, 373, 266);
}

void MeasurePage::loadSettings() {
    const QSettings settings = pageSettings();
    Wavelength->setValue(settings.value("measure/wavelengthNm", kestrane::kDefaultWavelengthNm).toDouble());
    // Full brightness at the quarter wave, where retardance ends.
    MaxRetardance->setValue(
        settings.value("measure/maxRetardanceNm", kestrane::kDefaultWavelengthNm / 4.0).toDouble());
    for (int i = 0; i < 3; ++i) {
        PixelSize[i]->setValue(
            settings.value(pixelSizeKey(kObjectives[i]), kestrane::scaleBarPixelSizeUm(kObjectives[i]))
                .toDouble());
    }
}

void MeasurePage::saveSettings() const {
    QSettings settings = pageSettings();
    settings.setValue("measure/wavelengthNm", Wavelength->value());
    settings.setValue("measure/maxRetardanceNm", MaxRetardance->value());
    for (int i = 0; i < 3; ++i) {
        settings.setValue(pixelSizeKey(kObjectives[i]), PixelSize[i]->value());
    }
}

double MeasurePage::wavelengthNm() const {
    return Wavelength->value();
}

double MeasurePage::pixelSizeUm(int objective) const {
    return PixelSize[objective == 10 ? 1 : objective == 40 ? 2 : 0]->value();
}

void MeasurePage::calibrationChanged() {
    saveSettings();
    ColourWheel->setMaximumNm(MaxRetardance->value());
    QuarterWaveNote->setText(QStringLiteral("Retardance beyond a quarter wave (%1 nm) is ambiguous.")
                                 .arg(wavelengthNm() / 4.0, 0, 'f', 1));
    if (!maps_.retardanceNm.empty()) {
        // Quantities in nm change with the wavelength only at the next pass; the scale is redrawn now.
        showQuantities(objective_);
    }
}

void MeasurePage::regionChosen() {
    if (!maps_.retardanceNm.empty()) {
        showStatistics();
    }
}

void MeasurePage::showQuantities(int objective) {
    objective_ = objective;
    QImage& picture = OrientationMap->picture();
    kestrane::renderOrientationMap(maps_, MaxRetardance->value(),
                                   reinterpret_cast<std::uint32_t*>(picture.bits()),
                                   static_cast<int>(picture.bytesPerLine() / 4));
    OrientationMap->update();
    showStatistics();
}

void MeasurePage::showStatistics() {
    const MapRegion& region = OrientationMap->region();
    statistics_ = kestrane::regionStatistics(maps_, region);
    const double size = pixelSizeUm(objective_);
    RegionLabel->setText(
        QStringLiteral("region %1,%2 \u2013 %3,%4: %5 \u00D7 %6 px = %7 \u00D7 %8 \u00B5m at %9x")
            .arg(region.left)
            .arg(region.top)
            .arg(region.right)
            .arg(region.bottom)
            .arg(region.width())
            .arg(region.height())
            .arg(region.width() * size, 0, 'f', 1)
            .arg(region.height() * size, 0, 'f', 1)
            .arg(objective_));
    const RegionStatistics& s = statistics_;
    const QString degrees = QStringLiteral("\u00B0");
    const QString texts[7] = {QString::number(s.pixels) +
                                  QStringLiteral(" (%1 with an orientation)").arg(s.orientedPixels),
                              shown(s.retardanceMeanNm, 1, " nm"),
                              shown(s.retardanceSdNm, 1, " nm"),
                              shown(s.sinDMean, 3, QString()),
                              shown(s.orientationMeanDeg, 1, degrees),
                              shown(s.orientationSpreadDeg, 1, degrees),
                              shown(s.transmissionMeanPct, 1, " %")};
    for (int i = 0; i < 7; ++i) {
        StatisticValues[i]->setText(texts[i]);
    }
    Histogram->setCounts(kestrane::retardanceHistogram(maps_, region, kHistogramBins, wavelengthNm() / 4.0),
                         wavelengthNm() / 4.0);
}

void MeasurePage::CopyClick() {
    QApplication::clipboard()->setText(
        QString::fromStdString(kestrane::statisticsClipboardText(OrientationMap->region(), statistics_)));
}

void MeasurePage::LogClick() {
    log_.push_back({nowText(), OrientationMap->region(), statistics_});
    const kestrane::StatisticsLogEntry& entry = log_.back();
    const std::vector<std::string> values = kestrane::statisticsValues(entry.stats);
    const int row = LogTable->rowCount();
    LogTable->insertRow(row);
    // The table shows the time of day; the saved log keeps the whole date and time.
    LogTable->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(entry.time.substr(11, 8))));
    LogTable->setItem(row, 1,
                      new QTableWidgetItem(QString::fromStdString(kestrane::regionText(entry.region))));
    for (int i = 0; i < 7; ++i) {
        const QString value = QString::fromStdString(values[static_cast<std::size_t>(i)]);
        // Three decimals fit the narrow columns; the saved log keeps every digit.
        const bool plain = i == 0 || value.isEmpty() || value == "inf";
        LogTable->setItem(row, i + 2,
                          new QTableWidgetItem(plain ? value : QString::number(value.toDouble(), 'f', 3)));
    }
    LogTable->scrollToBottom();
}

void MeasurePage::SaveLogClick() {
    const QString fileName = dialogs().saveFileName("CSV File (*.csv);;All Files (*)", "csv");
    if (fileName.isEmpty()) {
        return;
    }
    std::string error;
    if (!kestrane::writeFileAtomically(fileName.toStdString(), kestrane::statisticsLogCsv(log_), error)) {
        dialogs().message(
            QStringLiteral("Could not save the log %1: %2").arg(fileName, QString::fromStdString(error)));
    }
}
