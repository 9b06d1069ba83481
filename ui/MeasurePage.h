// The "Measure" page: the live orientation colour map, statistics of a region on it, their log and the
// retardance histogram, with the calibration the numbers are given in (kept between runs).
#pragma once

#include "analysis/Quantities.h"
#include "measure/StatisticsText.h"

#include <QWidget>
#include <array>
#include <vector>

class ColourWheelLegend;
class OrientationMapView;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTableWidget;
class RetardanceHistogramView;

class MeasurePage : public QWidget {
    Q_OBJECT
  public:
    explicit MeasurePage(QWidget* parent = nullptr);

    // Where a pass puts its quantities (kept by the page, so that a pass copies nothing).
    kestrane::QuantityMaps& quantities() { return maps_; }
    // After a pass has filled quantities(): the colour map, the region's statistics and the histogram are
    // redrawn. `objective` (4, 10 or 40) picks the pixel size the region's size is given in.
    void showQuantities(int objective);

    double wavelengthNm() const;
    double pixelSizeUm(int objective) const;
    const kestrane::RegionStatistics& statistics() const { return statistics_; }
    const std::vector<kestrane::StatisticsLogEntry>& log() const { return log_; }

    // Handlers of the page's buttons.
    void CopyClick();
    void LogClick();
    void SaveLogClick();

    // The controls, named as their object names.
    QGroupBox* MapBox;
    OrientationMapView* OrientationMap;
    QGroupBox* LegendBox;
    ColourWheelLegend* ColourWheel;
    QDoubleSpinBox* MaxRetardance;
    QLabel* QuarterWaveNote;
    QGroupBox* CalibrationBox;
    QDoubleSpinBox* Wavelength;
    std::array<QDoubleSpinBox*, 3> PixelSize; // 4x, 10x, 40x
    QPushButton* ExportMaps;
    QGroupBox* StatisticsBox;
    QLabel* RegionLabel;
    std::array<QLabel*, 7> StatisticValues; // in the order of kestrane::statisticsColumns()
    QPushButton* Copy;
    QPushButton* Log;
    QPushButton* SaveLog;
    QTableWidget* LogTable;
    QGroupBox* HistogramBox;
    RetardanceHistogramView* Histogram;

  signals:
    // "Export maps (TIFF)…": the window gathers the frame and the settings.
    void exportRequested();

  private:
    void buildMapAndLegend();
    void buildCalibration();
    void buildStatistics();
    void loadSettings();
    void saveSettings() const;
    void calibrationChanged();
    void regionChosen();
    void showStatistics();

    kestrane::QuantityMaps maps_;
    kestrane::RegionStatistics statistics_;
    std::vector<kestrane::StatisticsLogEntry> log_;
    int objective_ = 4;
};
