// A drawing canvas with its own pen, brush, font, pen position and clip, over an image or a recorded picture.
#include "plot/PlotCanvas.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPicture>

#include <algorithm>
#include <cstdlib>

namespace kestrane {

namespace {

constexpr int kLayoutDpi = 96;

// Rounds a * b / c to the nearest integer, halves away from zero.
int mulDiv(int a, int b, int c) {
    const long long p = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(p >= 0 ? (p + half) / c : (p - half) / c);
}

bool isThinSolid(const QPen& pen) {
    return pen.style() == Qt::SolidLine && pen.width() <= 1;
}

// Sets the pixels of the line from a towards b, without b, that fall inside bounds.
void rasterLine(QImage& image, QPoint a, QPoint b, QRgb colour, const QRect& bounds) {
    const long long dx = b.x() - a.x();
    const long long dy = b.y() - a.y();
    const long long adx = std::llabs(dx);
    const long long ady = std::llabs(dy);
    const int sx = dx < 0 ? -1 : 1;
    const int sy = dy < 0 ? -1 : 1;
    const long long major = std::max(adx, ady);
    const long long minor = std::min(adx, ady);
    const QRgb pixel = 0xff000000u | colour;
    for (long long i = 0; i < major; ++i) {
        const long long offset = (2 * i * minor + major) / (2 * major);
        const long long x = a.x() + sx * (adx >= ady ? i : offset);
        const long long y = a.y() + sy * (adx >= ady ? offset : i);
        if (x >= bounds.left() && x <= bounds.right() && y >= bounds.top() && y <= bounds.bottom()) {
            reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)))[x] = pixel;
        }
    }
}

} // namespace

QFont PlotFont::toQFont() const {
    QFont f;
    f.setFamilies({name, QStringLiteral("Liberation Sans")});
    f.setPixelSize(std::max(1, mulDiv(size, kLayoutDpi, 72)));
    f.setBold(bold);
    f.setItalic(italic);
    f.setUnderline(underline);
    f.setStrikeOut(strikeOut);
    return f;
}

PlotFont PlotFont::withSize(int newSize) const {
    PlotFont f = *this;
    f.size = newSize;
    return f;
}

PlotCanvas::PlotCanvas(QImage* image) : image_(image), pen_(Qt::black, 1), brush_(Qt::white) {}

PlotCanvas::PlotCanvas(QPainter* recorder) : recorder_(recorder), pen_(Qt::black, 1), brush_(Qt::white) {}

void PlotCanvas::call(const std::function<void()>& handler) {
    if (handler) {
        handler();
    }
}

void PlotCanvas::changed() const {
    call(onChange);
}

void PlotCanvas::setPen(const QPen& pen) {
    pen_ = pen;
    call(onPenChange);
}

void PlotCanvas::setBrush(const QBrush& brush) {
    brush_ = brush;
    call(onBrushChange);
}

void PlotCanvas::setFont(const PlotFont& font) {
    font_ = font;
    call(onFontChange);
}

QPaintDevice* PlotCanvas::device() const {
    if (recorder_ != nullptr) {
        return recorder_->device();
    }
    return image_;
}

void PlotCanvas::prepare(QPainter& painter) const {
    if (clip_) {
        painter.setClipRect(*clip_);
    } else {
        painter.setClipping(false);
    }
    QPen pen = pen_;
    if (pen.width() <= 1) {
        // A one-pixel pen stays one pixel wide at any scale and, like the canvas's own lines,
        // leaves the end point out.
        pen.setWidth(1);
        pen.setCosmetic(true);
        pen.setCapStyle(Qt::FlatCap);
    } else {
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
    }
    painter.setPen(pen);
    painter.setBrush(brush_);
    painter.setFont(font_.toQFont());
}

void PlotCanvas::drawSegment(QPoint from, QPoint to) {
    if (recorder_ != nullptr) {
        prepare(*recorder_);
        recorder_->drawLine(from, to);
        return;
    }
    if (image_ == nullptr || image_->isNull()) {
        return;
    }
    if (isThinSolid(pen_)) {
        const QRect bounds = clip_ ? clip_->intersected(image_->rect()) : image_->rect();
        rasterLine(*image_, from, to, pen_.color().rgb(), bounds);
        return;
    }
    QPainter painter(image_);
    prepare(painter);
    painter.drawLine(from, to);
}

void PlotCanvas::lineTo(QPoint p) {
    drawSegment(penPos_, p);
    penPos_ = p;
    changed();
}

void PlotCanvas::polyline(std::initializer_list<QPoint> points) {
    const QPoint* previous = nullptr;
    for (const QPoint& p : points) {
        if (previous != nullptr) {
            drawSegment(*previous, p);
        }
        previous = &p;
    }
    changed();
}

void PlotCanvas::fillRect(const QRect& rect) {
    if (recorder_ != nullptr) {
        prepare(*recorder_);
        recorder_->fillRect(rect, brush_);
    } else if (image_ != nullptr && !image_->isNull()) {
        QPainter painter(image_);
        prepare(painter);
        painter.fillRect(rect, brush_);
    }
    changed();
}

void PlotCanvas::textOut(QPoint topLeft, const QString& text) {
    auto draw = [&](QPainter& painter) {
        prepare(painter);
        const QFontMetrics metrics(painter.font(), device());
        if (brush_.style() != Qt::NoBrush) {
            painter.fillRect(QRect(topLeft, QSize(metrics.horizontalAdvance(text), metrics.height())),
                             brush_.color());
        }
        painter.setPen(font_.color);
        painter.drawText(QPoint(topLeft.x(), topLeft.y() + metrics.ascent()), text);
    };
    if (recorder_ != nullptr) {
        draw(*recorder_);
    } else if (image_ != nullptr && !image_->isNull()) {
        QPainter painter(image_);
        draw(painter);
    }
    changed();
}

int PlotCanvas::textWidth(const QString& text) const {
    return QFontMetrics(font_.toQFont(), device()).horizontalAdvance(text);
}

int PlotCanvas::textHeight(const QString&) const {
    return QFontMetrics(font_.toQFont(), device()).height();
}

void PlotCanvas::drawPicture(QPoint at, const QPicture& picture) {
    if (recorder_ != nullptr) {
        recorder_->setClipping(false);
        recorder_->drawPicture(at, picture);
    } else if (image_ != nullptr && !image_->isNull()) {
        QPainter painter(image_);
        painter.drawPicture(at, picture);
    }
    changed();
}

} // namespace kestrane
