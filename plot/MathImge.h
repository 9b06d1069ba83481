// TMathImage: a drawing surface with world coordinates, labelled axes, a 3D view and metafile mirroring.
//
// Placing it in a window takes one line after construction:
//     auto* plot = new TMathImage(groupBox);
//     plot->SetBounds(2, 15, 373, 240);   // the bitmap and the mapping follow the size at once
//     plot->D2SetWorld(-1, -1, 1, 1);
// Drawing goes to the off-screen `Bitmap()` in world coordinates; the widget repaints from it.
//
// Stored settings (WriteSettings / ReadSettings) are plain text, one "Name=Value" per line, in this order:
//   Hint, ShowHint                    only when they differ from a new component
//   Version                           always (a new component ignores it when read)
//   Font.Name, Font.Size, Font.Color, Font.Style          always
//   Pen.Color, Pen.Width, Pen.Style, Brush.Color, Brush.Style   each only when not at its start value
//   RecordMetafile, D3Xscale, D3Yscale, D3Zscale, D3ViewDist, D3ViewAngle, D3AspectRatio   always
//   D2WorldX1, D2WorldXW, D2WorldY1, D2WorldYW, D3WorldX1, D3WorldY1, D3WorldZ1,
//   D3WorldXW, D3WorldYW, D3WorldZW, D3Zrotation, D3Yrotation                         always
// Texts are in double quotes with \" \\ \n escapes; colours are #rrggbb; booleans true/false; reals the
// shortest decimal that reads back to the identical extended value ("inf" and "nan" included); styles
// are names (solid, dash, dot, dashdot, dashdotdot, clear for pens; solid, clear for brushes; bold,
// italic, underline, strikeout joined by "," for fonts). Empty lines and lines starting with '#' are
// skipped. Reading applies the ordinary properties through their setters and places the last twelve
// straight into their fields; the mapping follows at the next size change.
#pragma once

#include "plot/PlotCanvas.h"
#include "plot/PlotMath.h"

#include <QImage>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QPicture;
class QPainter;

namespace kestrane {

class TMathImage : public QWidget {
    Q_OBJECT
  public:
    static constexpr const char* kVersion = "5.0 August 99 ";

    explicit TMathImage(QWidget* parent = nullptr);
    ~TMathImage() override;

    // Moves and resizes the control and brings the bitmap, the mapping and the 3D view to the new
    // size at once (setGeometry alone does that at the next drawing or resize event).
    void SetBounds(int left, int top, int width, int height);

    // ---- properties --------------------------------------------------------------------------------------
    QString Version() const { return QString::fromLatin1(kVersion); }
    void setVersion(const QString&) {} // the version text never changes
    QString Hint() const { return hint_; }
    void setHint(const QString& hint);
    bool ShowHint() const { return showHint_; }
    void setShowHint(bool show);

    // Pen, brush and font of the drawing canvas.
    const QPen& Pen() const { return canvas_.pen(); }
    void setPen(const QPen& pen) { canvas_.setPen(pen); }
    const QBrush& Brush() const { return canvas_.brush(); }
    void setBrush(const QBrush& brush) { canvas_.setBrush(brush); }
    const PlotFont& Font() const { return canvas_.font(); }
    void setFont(const PlotFont& font) { canvas_.setFont(font); }

    bool RecordMetafile() const { return recording_; }
    void setRecordMetafile(bool record);

    // ---- 2D world --------------------------------------------------------------------------------------
    Extended D2WorldX1() const { return world_.x1; }
    Extended D2WorldXW() const { return world_.xw; }
    Extended D2WorldY1() const { return world_.y1; }
    Extended D2WorldYW() const { return world_.yw; }
    void setD2WorldX1(Extended v);
    void setD2WorldXW(Extended v); // "x-worldwidth must be positive" unless v > 0
    void setD2WorldY1(Extended v);
    void setD2WorldYW(Extended v); // "y-worldwidth must be positive" unless v > 0

    // x runs from x1 (left) to x2 (right), y from y1 (bottom) to y2 (top). On bounds without a
    // finite mapping the world and mapping stay as they were: "Invalid D2-world bounds".
    void D2SetWorld(Extended x1, Extended y1, Extended x2, Extended y2);
    std::int32_t D2ScreenX(Extended x) const { return toPixel(x, mapping_.screenX); }
    std::int32_t D2ScreenY(Extended y) const { return toPixel(y, mapping_.screenY); }
    std::int32_t D2MetaX(Extended x) const { return toPixel(x, mapping_.metaX); }
    std::int32_t D2MetaY(Extended y) const { return toPixel(y, mapping_.metaY); }
    const WorldMapping& Mapping() const { return mapping_; }

    void D2MoveTo(Extended x, Extended y);
    void D2LineTo(Extended x, Extended y); // the end pixel is left for the next segment
    void D2Line(Extended x1, Extended y1, Extended x2, Extended y2); // both end pixels set
    // Fills the surface with the brush; world, mapping and axes mode stay.
    void Clear();

    // The drawing surface, always the control's size; its canvas is Canvas().
    const QImage& Bitmap();
    PlotCanvas& Canvas() { return canvas_; }

    // ---- axes ------------------------------------------------------------------------------------------
    bool AxesMode() const { return axesMode_; }
    void SetAxesMode(bool on);
    const LabelSizes& Labels() const { return labels_; }
    // The plot area in bitmap pixels (right and bottom exclusive); the whole bitmap without axes.
    QRect ClipRect() const { return clipRect_; }
    QRect MetaClipRect() const { return metaClipRect_; }
    int D2LabelWidth(Extended lo, Extended hi);
    void D2DrawAxes(const QString& xLabel, const QString& yLabel, bool zeroLines, const QColor& axesColor,
                    const QColor& zeroLinesColor);

    // ---- 3D view
    // -------------------------------------------------------------------------------------------
    Extended D3WorldX1() const { return d3_.worldX1; }
    Extended D3WorldXW() const { return d3_.worldXW; }
    Extended D3WorldY1() const { return d3_.worldY1; }
    Extended D3WorldYW() const { return d3_.worldYW; }
    Extended D3WorldZ1() const { return d3_.worldZ1; }
    Extended D3WorldZW() const { return d3_.worldZW; }
    Extended D3ViewDist() const { return d3_.viewDist; }
    Extended D3ViewAngle() const { return d3_.viewAngle; }
    Extended D3Zrotation() const { return d3_.zRotation; }
    Extended D3Yrotation() const { return d3_.yRotation; }
    Extended D3Xscale() const { return d3_.xScale; }
    Extended D3Yscale() const { return d3_.yScale; }
    Extended D3Zscale() const { return d3_.zScale; }
    bool D3AspectRatio() const { return d3_.aspectRatio; }
    void setD3WorldX1(Extended v);
    void setD3WorldXW(Extended v);
    void setD3WorldY1(Extended v);
    void setD3WorldYW(Extended v);
    void setD3WorldZ1(Extended v);
    void setD3WorldZW(Extended v);
    void setD3ViewDist(Extended v) { storeAndUpdate(d3_.viewDist, v); }
    void setD3ViewAngle(Extended v) { storeAndUpdate(d3_.viewAngle, v); }
    void setD3Zrotation(Extended v) { storeAndUpdate(d3_.zRotation, v); }
    void setD3Yrotation(Extended v) { storeAndUpdate(d3_.yRotation, v); }
    void setD3Xscale(Extended v) { storeAndUpdate(d3_.xScale, v); }
    void setD3Yscale(Extended v) { storeAndUpdate(d3_.yScale, v); }
    void setD3Zscale(Extended v) { storeAndUpdate(d3_.zScale, v); }
    void setD3AspectRatio(bool v) { storeAndUpdate(d3_.aspectRatio, v); }

    // A box without a finite view keeps the previous box: "Invalid D3-world bounds".
    void D3SetWorld(Extended x1, Extended y1, Extended z1, Extended x2, Extended y2, Extended z2);
    void D3Update();
    void D3ComputeView();
    Extended D3Depth(Extended u, Extended v, Extended w) const { return d3_.depth(u, v, w); }
    Extended D3Distance(Extended u, Extended v, Extended w) const { return d3_.distance(u, v, w); }
    Corner3 D3FarCorner() const { return d3_.farCorner(); }
    // Everything the view derives (radians, factors, screen factor, corners).
    const D3View& D3State() const { return d3_; }

    // ---- metafile and stored settings
    // ---------------------------------------------------------------------- The picture recorded so far
    // (twice the control's size); empty when not recording.
    QPicture Metafile();
    // The canvas that records into the metafile; none when not recording.
    const PlotCanvas* MetafileCanvas() const { return metaCanvas_.get(); }
    QString WriteSettings() const;
    // Applies stored settings; false with a reason for a line it cannot read (lines before it apply).
    bool ReadSettings(const QString& text, QString* error = nullptr);

  signals:
    void OnResize(kestrane::TMathImage* sender);
    // Kept for 3D navigation built on top of the view; nothing here raises them.
    void OnRotating(kestrane::TMathImage* sender);
    void OnRotateStop(kestrane::TMathImage* sender);
    void OnMoving(kestrane::TMathImage* sender);
    void OnMoveStop(kestrane::TMathImage* sender);
    void OnZooming(kestrane::TMathImage* sender);
    void OnZoomStop(kestrane::TMathImage* sender);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void syncSize();
    void bitmapChanged();
    void releaseClipRegions();
    void selectClipRegions();
    void selectBitmapRegion();
    void selectMetaRegion();
    void computeClipRects();

    QPicture replaceMetafile(QSize newSize);
    QPicture continueMetafile(QSize newSize);
    void copySettingsToMetafile();
    void installRecordingHandlers();
    void restoreCanvasHandlers();

    bool applySetting(const QString& name, const QString& value);
    void setD3Edge(int axis, Extended start, Extended length);
    // View settings take effect at once.
    template <class T> void storeAndUpdate(T& field, T value) {
        field = value;
        D3Update();
    }

    QImage bitmap_;
    QSize bitmapSize_; // the size the bitmap, mapping and view were last brought to
    PlotCanvas canvas_;

    WorldRect world_;
    WorldMapping mapping_;
    bool axesMode_ = false;
    LabelSizes labels_;
    QRect clipRect_;
    QRect metaClipRect_;
    std::optional<QRect> clipRegion_;
    std::optional<QRect> metaClipRegion_;

    D3View d3_;

    QString hint_;
    bool showHint_ = false;

    bool painting_ = false;
    bool lock_ = false;

    bool recording_ = false;
    QSize metaSize_;
    std::unique_ptr<QPicture> metafile_;
    std::unique_ptr<QPainter> metaPainter_;
    std::unique_ptr<PlotCanvas> metaCanvas_;
    std::function<void()> savedFontHandler_;
    std::function<void()> savedPenHandler_;
    std::function<void()> savedBrushHandler_;
};

} // namespace kestrane
