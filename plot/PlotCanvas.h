// A drawing canvas with its own pen, brush, font, pen position and clip, over an image or a recorded picture.
#pragma once

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QPen>
#include <QPoint>
#include <QRect>
#include <QString>

#include <functional>
#include <initializer_list>
#include <optional>

class QImage;
class QPainter;
class QPaintDevice;
class QPicture;

namespace kestrane {

// A font as the plot keeps and stores it: face, size in points, colour and style.
struct PlotFont {
    QString name = QStringLiteral("MS Sans Serif");
    int size = 8;
    QColor color = Qt::black;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;

    bool operator==(const PlotFont&) const = default;

    // The face at the pixel height the layout's 96 dots per inch give its size, so that text metrics
    // do not depend on the screen; a metric stand-in is used when the face is not installed.
    QFont toQFont() const;
    PlotFont withSize(int newSize) const;
};

// Drawing in pixel coordinates. On an image, thin solid lines are rasterised here so that a line
// leaves its end pixel unset and polylines join exactly; on a picture every call is recorded.
class PlotCanvas {
  public:
    explicit PlotCanvas(QImage* image);
    explicit PlotCanvas(QPainter* recorder);

    const QPen& pen() const { return pen_; }
    void setPen(const QPen& pen);
    const QBrush& brush() const { return brush_; }
    void setBrush(const QBrush& brush);
    const PlotFont& font() const { return font_; }
    void setFont(const PlotFont& font);

    QPoint penPos() const { return penPos_; }
    // The clip rectangle (right and bottom exclusive); none draws anywhere on the surface.
    const std::optional<QRect>& clip() const { return clip_; }
    void setClip(const std::optional<QRect>& clip) { clip_ = clip; }

    void moveTo(QPoint p) { penPos_ = p; }
    // Line from the pen position to p with the pen; p itself is not set. The pen moves to p.
    void lineTo(QPoint p);
    // Open polyline through the points; the pen position is not changed.
    void polyline(std::initializer_list<QPoint> points);
    void fillRect(const QRect& rect);
    // Text with its cell's top-left corner at topLeft, on the brush unless the brush is clear.
    void textOut(QPoint topLeft, const QString& text);
    int textWidth(const QString& text) const;
    int textHeight(const QString& text) const;
    void drawPicture(QPoint at, const QPicture& picture);

    // Called after the pen, brush or font was set; the component chains these to mirror settings.
    std::function<void()> onPenChange;
    std::function<void()> onBrushChange;
    std::function<void()> onFontChange;
    // Called after anything was drawn.
    std::function<void()> onChange;

  private:
    QPaintDevice* device() const;
    void prepare(QPainter& painter) const;
    void drawSegment(QPoint from, QPoint to);
    void changed() const;
    static void call(const std::function<void()>& handler);

    QImage* image_ = nullptr;
    QPainter* recorder_ = nullptr;
    QPen pen_;
    QBrush brush_;
    PlotFont font_;
    QPoint penPos_;
    std::optional<QRect> clip_;
};

} // namespace kestrane
