// The pictures of the "Measure" page, painted with Qt.
#include "ui/MeasureViews.h"

#include "analysis/MeasurementState.h"
#include "measure/OrientationColour.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <numbers>

using kestrane::MapRegion;

OrientationMapView::OrientationMapView(QWidget* parent)
    : QWidget(parent), picture_(kestrane::kMapWidth, kestrane::kMapHeight, QImage::Format_RGB32),
      region_{0, 0, kestrane::kMapWidth - 1, kestrane::kMapHeight - 1} {
    picture_.fill(Qt::black);
    setFixedSize(kestrane::kMapWidth, kestrane::kMapHeight);
    // The picture covers the whole widget: nothing behind it needs painting.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::CrossCursor);
}

void OrientationMapView::setRegion(const MapRegion& region) {
    region_ = region;
    update();
}

void OrientationMapView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, picture_);
    // Dark and light dashes: the outline stays visible on every colour of the map.
    const QRect box(region_.left, region_.top, region_.width(), region_.height());
    painter.setPen(QPen(Qt::white, 1, Qt::SolidLine));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
}

void OrientationMapView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    anchor_ = event->position().toPoint();
    dragTo(*anchor_);
}

void OrientationMapView::mouseMoveEvent(QMouseEvent* event) {
    if (anchor_ && (event->buttons() & Qt::LeftButton)) {
        dragTo(event->position().toPoint());
    }
}

void OrientationMapView::mouseReleaseEvent(QMouseEvent* event) {
    if (anchor_ && event->button() == Qt::LeftButton) {
        dragTo(event->position().toPoint());
        anchor_.reset();
        emit regionChosen(region_);
    }
}

void OrientationMapView::dragTo(QPoint at) {
    // The anchor lies on the map; a drag past its edge stops at the edge.
    if (const auto region = kestrane::clippedRegion(anchor_->x(), anchor_->y(), at.x(), at.y(),
                                                    kestrane::kMapWidth, kestrane::kMapHeight)) {
        setRegion(*region);
    }
}

namespace {

constexpr int kWheelRadius = 62;

} // namespace

ColourWheelLegend::ColourWheelLegend(QWidget* parent)
    : QWidget(parent), wheel_(2 * kWheelRadius + 1, 2 * kWheelRadius + 1, QImage::Format_ARGB32) {
    wheel_.fill(Qt::transparent);
    for (int y = -kWheelRadius; y <= kWheelRadius; ++y) {
        auto* row = reinterpret_cast<QRgb*>(wheel_.scanLine(y + kWheelRadius));
        for (int x = -kWheelRadius; x <= kWheelRadius; ++x) {
            const double radius = std::hypot(x, y);
            if (radius > kWheelRadius) {
                continue;
            }
            // Screen rows grow downwards, angles counter-clockwise: the axis through this point.
            double axis = std::atan2(-y, x) * 180.0 / std::numbers::pi;
            axis = std::fmod(axis + 360.0, 180.0);
            row[x + kWheelRadius] = kestrane::orientationColour(axis, radius / kWheelRadius);
        }
    }
}

void ColourWheelLegend::setMaximumNm(double maximumNm) {
    maximumNm_ = maximumNm;
    update();
}

void ColourWheelLegend::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPoint centre(width() / 2, kWheelRadius + 18);
    painter.drawImage(centre - QPoint(kWheelRadius, kWheelRadius), wheel_);
    painter.setPen(palette().windowText().color());
    const QFontMetrics metrics(font());
    // The angle marks round the rim, counter-clockwise from the right.
    for (int degrees = 0; degrees < 180; degrees += 45) {
        const double a = degrees * std::numbers::pi / 180.0;
        const QString mark = QString::number(degrees) + QChar(0x00B0);
        const QPointF at(centre.x() + (kWheelRadius + 14) * std::cos(a),
                         centre.y() - (kWheelRadius + 9) * std::sin(a));
        const QRectF box(at.x() - 20, at.y() - 8, 40, 16);
        painter.drawText(box, Qt::AlignCenter, mark);
    }
    // An arrow along the lower rim: the direction the angles count in.
    const QRectF arc(centre.x() - kWheelRadius - 6, centre.y() - kWheelRadius - 6, 2 * kWheelRadius + 12,
                     2 * kWheelRadius + 12);
    painter.drawArc(arc, -60 * 16, 40 * 16);
    const double tip = -20.0 * std::numbers::pi / 180.0;
    const QPointF head(centre.x() + (kWheelRadius + 6) * std::cos(tip),
                       centre.y() - (kWheelRadius + 6) * std::sin(tip));
    painter.drawLine(head, head + QPointF(-6, 1));
    painter.drawLine(head, head + QPointF(1, 6));
    const int textTop = centre.y() + kWheelRadius + 10;
    painter.drawText(QRect(0, textTop, width(), metrics.height()), Qt::AlignHCenter,
                     QStringLiteral("axis: colour, counter-clockwise"));
    painter.drawText(QRect(0, textTop + metrics.height(), width(), metrics.height()), Qt::AlignHCenter,
                     QStringLiteral("centre 0 nm, rim %1 nm").arg(maximumNm_, 0, 'f', 1));
}

RetardanceHistogramView::RetardanceHistogramView(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
}

void RetardanceHistogramView::setCounts(std::vector<int> counts, double fullScaleNm) {
    counts_ = std::move(counts);
    fullScaleNm_ = fullScaleNm;
    update();
}

namespace {

// A step of 1, 2 or 5 times a power of ten that puts about `marks` marks on `span`.
double niceStep(double span, int marks) {
    const double raw = span / marks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0}) {
        if (m * power >= raw) {
            return m * power;
        }
    }
    return 10.0 * power;
}

} // namespace

void RetardanceHistogramView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int left = 44;
    const int right = width() - 12;
    const int top = 10;
    const int bottom = height() - 2 * metrics.height() - 8;
    painter.setPen(Qt::black);
    painter.drawLine(left, bottom, right, bottom);
    painter.drawLine(left, top, left, bottom);
    if (counts_.empty() || !(fullScaleNm_ > 0.0)) {
        return;
    }
    const int most = std::max(1, *std::max_element(counts_.begin(), counts_.end()));
    const double binWidth = static_cast<double>(right - left) / static_cast<double>(counts_.size());
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(40, 90, 170));
    for (std::size_t i = 0; i < counts_.size(); ++i) {
        const int h = static_cast<int>(std::lround(static_cast<double>(counts_[i]) * (bottom - top) / most));
        const int x0 = left + static_cast<int>(std::lround(static_cast<double>(i) * binWidth));
        const int x1 = left + static_cast<int>(std::lround(static_cast<double>(i + 1) * binWidth));
        painter.drawRect(x0, bottom - h, std::max(1, x1 - x0 - 1), h);
    }
    painter.setPen(Qt::black);
    const double step = niceStep(fullScaleNm_, 8);
    for (double nm = 0; nm <= fullScaleNm_ + 1e-9; nm += step) {
        const int x = left + static_cast<int>(std::lround(nm / fullScaleNm_ * (right - left)));
        painter.drawLine(x, bottom, x, bottom + 4);
        painter.drawText(QRect(x - 25, bottom + 5, 50, metrics.height()), Qt::AlignHCenter,
                         QString::number(nm));
    }
    painter.drawText(
        QRect(left, bottom + 5 + metrics.height(), right - left, metrics.height()), Qt::AlignHCenter,
        QStringLiteral("retardance (nm), up to the quarter wave %1 nm").arg(fullScaleNm_, 0, 'f', 1));
    painter.drawText(QRect(0, top - 4, left - 4, metrics.height()), Qt::AlignRight, QString::number(most));
    painter.drawText(QRect(0, bottom - metrics.height(), left - 4, metrics.height()), Qt::AlignRight, "0");
    painter.save();
    painter.translate(10, (top + bottom) / 2);
    painter.rotate(-90);
    painter.drawText(QRect(-40, -8, 80, 16), Qt::AlignCenter, QStringLiteral("pixels"));
    painter.restore();
}
