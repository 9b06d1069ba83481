// The pictures of the "Measure" page: the orientation colour map with its region, the colour-wheel legend and
// the retardance histogram.
#pragma once

#include "measure/RegionStatistics.h"

#include <QImage>
#include <QWidget>
#include <optional>
#include <vector>

// The orientation colour map, 1:1, with the region drawn on it; a drag marks a rectangle, a click a point.
class OrientationMapView : public QWidget {
    Q_OBJECT
  public:
    explicit OrientationMapView(QWidget* parent);

    // The picture the page renders into (320 × 240, RGB32).
    QImage& picture() { return picture_; }
    const kestrane::MapRegion& region() const { return region_; }
    void setRegion(const kestrane::MapRegion& region);

  signals:
    // The operator marked a region (already clipped to the map).
    void regionChosen(const kestrane::MapRegion& region);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void dragTo(QPoint at);

    QImage picture_;
    kestrane::MapRegion region_;
    std::optional<QPoint> anchor_;
};

// The legend of the colour map: a wheel whose direction is the axis (0° to the right, counter-clockwise, both
// ends of an axis in one colour) and whose radius is the retardance, black at the centre, full at the rim.
class ColourWheelLegend : public QWidget {
    Q_OBJECT
  public:
    explicit ColourWheelLegend(QWidget* parent);
    // The retardance of full brightness, written at the rim.
    void setMaximumNm(double maximumNm);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage wheel_;
    double maximumNm_ = 0;
};

// Bars of the retardance histogram over 0..the quarter wave, with its axis in nm.
class RetardanceHistogramView : public QWidget {
    Q_OBJECT
  public:
    explicit RetardanceHistogramView(QWidget* parent);
    void setCounts(std::vector<int> counts, double fullScaleNm);
    const std::vector<int>& counts() const { return counts_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::vector<int> counts_;
    double fullScaleNm_ = 0;
};
