// TMathImage: a drawing surface with world coordinates, labelled axes, a 3D view and metafile mirroring.
#include "plot/MathImge.h"
#include "ui/DecimalSeparator.h"

#include <QLocale>
#include <QPaintEvent>
#include <QPainter>
#include <QPicture>
#include <QResizeEvent>
#include <QScopeGuard>

#include <algorithm>
#include <utility>

namespace kestrane {

namespace {

const QString kMetricsSample = QStringLiteral("-1.234567");

QString label(Extended v) {
    return QString::fromStdString(numberLabel(v, kestrane::localeDecimalSeparator()));
}

// Number labels are one point smaller than the captions; the font is set back on leaving the scope.
class SmallerFont {
  public:
    explicit SmallerFont(PlotCanvas& canvas) : canvas_(canvas) {
        canvas_.setFont(canvas_.font().withSize(canvas_.font().size - 1));
    }
    ~SmallerFont() { canvas_.setFont(canvas_.font().withSize(canvas_.font().size + 1)); }
    SmallerFont(const SmallerFont&) = delete;
    SmallerFont& operator=(const SmallerFont&) = delete;

  private:
    PlotCanvas& canvas_;
};

// A rectangle given by its edges, right and bottom exclusive, in either order.
QRect rectFromEdges(int left, int top, int right, int bottom) {
    if (right < left) {
        std::swap(left, right);
    }
    if (bottom < top) {
        std::swap(top, bottom);
    }
    return QRect(left, top, right - left, bottom - top);
}

} // namespace

// ---- creation, size, paint ------------------------------------------------------------------------------

TMathImage::TMathImage(QWidget* parent) : QWidget(parent), canvas_(&bitmap_) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    canvas_.onChange = [this] { bitmapChanged(); };
    savedFontHandler_ = canvas_.onFontChange;
    savedPenHandler_ = canvas_.onPenChange;
    savedBrushHandler_ = canvas_.onBrushChange;
    resize(30, 30);
}

TMathImage::~TMathImage() {
    // The recording painter must end before its picture goes.
    metaCanvas_.reset();
    metaPainter_.reset();
    metafile_.reset();
}

void TMathImage::SetBounds(int left, int top, int width, int height) {
    setGeometry(left, top, width, height);
    syncSize();
}

void TMathImage::resizeEvent(QResizeEvent*) {
    syncSize();
}

// Qt delivers the resize of a hidden widget only when it is shown, so every drawing operation
// checks first that the bitmap has caught up with the control's size.
void TMathImage::syncSize() {
    const QSize target = size();
    if (bitmapSize_ == target) {
        return;
    }
    QImage resized(target, QImage::Format_RGB32);
    if (!resized.isNull()) {
        resized.fill(Qt::white);
        if (!bitmap_.isNull()) {
            QPainter painter(&resized);
            painter.drawImage(0, 0, bitmap_);
        }
    }
    bitmap_ = resized;
    bitmapSize_ = target;
    bitmapChanged();
    if (recording_) {
        continueMetafile(QSize(2 * width(), 2 * height()));
    }
    SetAxesMode(axesMode_);
    D3Update();
    if (recording_) {
        copySettingsToMetafile();
    }
    emit OnResize(this);
}

void TMathImage::bitmapChanged() {
    if (!lock_ && !painting_) {
        update();
    }
}

void TMathImage::paintEvent(QPaintEvent*) {
    const bool wasPainting = std::exchange(painting_, true);
    const auto restore = qScopeGuard([&] { painting_ = wasPainting; });
    QPainter painter(this);
    if (bitmap_.size() != size()) {
        painter.fillRect(rect(), Qt::white);
    }
    painter.drawImage(0, 0, bitmap_);
}

const QImage& TMathImage::Bitmap() {
    syncSize();
    return bitmap_;
}

void TMathImage::setHint(const QString& hint) {
    hint_ = hint;
    setToolTip(showHint_ ? hint_ : QString());
}

void TMathImage::setShowHint(bool show) {
    showHint_ = show;
    setToolTip(showHint_ ? hint_ : QString());
}

// ---- 2D world -----------------------------------------------------------------------------------------

void TMathImage::D2SetWorld(Extended x1, Extended y1, Extended x2, Extended y2) {
    try {
        std::optional<LabelSizes> labels;
        if (axesMode_) {
            LabelSizes l;
            l.xLabelWidth = D2LabelWidth(x1, x2);
            l.yLabelWidth = D2LabelWidth(y1, y2);
            l.textHeight = canvas_.textHeight(kMetricsSample);
            labels = l;
        }
        const WorldSetting s = computeWorld(x1, y1, x2, y2, width(), height(), labels);
        world_ = s.world;
        mapping_ = s.mapping;
        if (labels) {
            labels_ = *labels;
        }
    } catch (const FloatingPointError&) {
        throw EMathImageError("Invalid D2-world bounds");
    }
}

void TMathImage::setD2WorldX1(Extended v) {
    D2SetWorld(v, world_.y1, v + world_.xw, world_.y1 + world_.yw);
}

void TMathImage::setD2WorldXW(Extended v) {
    if (!(v > 0)) {
        throw EMathImageError("x-worldwidth must be positive");
    }
    D2SetWorld(world_.x1, world_.y1, world_.x1 + v, world_.y1 + world_.yw);
}

void TMathImage::setD2WorldY1(Extended v) {
    D2SetWorld(world_.x1, v, world_.x1 + world_.xw, v + world_.yw);
}

void TMathImage::setD2WorldYW(Extended v) {
    if (!(v > 0)) {
        throw EMathImageError("y-worldwidth must be positive");
    }
    D2SetWorld(world_.x1, world_.y1, world_.x1 + world_.xw, world_.y1 + v);
}

void TMathImage::selectBitmapRegion() {
    canvas_.setClip(clipRegion_);
}

void TMathImage::selectMetaRegion() {
    if (metaCanvas_) {
        metaCanvas_->setClip(metaClipRegion_);
    }
}

void TMathImage::releaseClipRegions() {
    clipRegion_.reset();
    metaClipRegion_.reset();
    selectBitmapRegion();
    selectMetaRegion();
}

void TMathImage::selectClipRegions() {
    clipRegion_ = clipRect_;
    selectBitmapRegion();
    if (recording_) {
        metaClipRegion_ = metaClipRect_;
        selectMetaRegion();
    }
}

void TMathImage::D2MoveTo(Extended x, Extended y) {
    syncSize();
    const QPoint p(D2ScreenX(x), D2ScreenY(y));
    selectBitmapRegion();
    canvas_.moveTo(p);
    if (recording_) {
        selectMetaRegion();
        metaCanvas_->moveTo({D2MetaX(x), D2MetaY(y)});
    }
}

void TMathImage::D2LineTo(Extended x, Extended y) {
    syncSize();
    const QPoint p(D2ScreenX(x), D2ScreenY(y));
    selectBitmapRegion();
    canvas_.lineTo(p);
    if (recording_) {
        selectMetaRegion();
        metaCanvas_->lineTo({D2MetaX(x), D2MetaY(y)});
    }
}

void TMathImage::D2Line(Extended x1, Extended y1, Extended x2, Extended y2) {
    syncSize();
    const QPoint p1(D2ScreenX(x1), D2ScreenY(y1));
    const QPoint p2(D2ScreenX(x2), D2ScreenY(y2));
    selectBitmapRegion();
    // There and back, so that both end pixels are set.
    canvas_.polyline({p1, p2, p1});
    if (recording_) {
        const QPoint m1(D2MetaX(x1), D2MetaY(y1));
        const QPoint m2(D2MetaX(x2), D2MetaY(y2));
        selectMetaRegion();
        metaCanvas_->polyline({m1, m2, m1});
    }
}

void TMathImage::Clear() {
    syncSize();
    if (recording_) {
        replaceMetafile(QSize(2 * width(), 2 * height()));
        copySettingsToMetafile();
    }
    const QRect whole(0, 0, width(), height());
    const QRect metaWhole(0, 0, 2 * width(), 2 * height());
    if (clipRegion_) {
        releaseClipRegions();
        canvas_.fillRect(whole);
        if (recording_) {
            metaCanvas_->fillRect(metaWhole);
        }
        selectClipRegions();
    } else {
        canvas_.fillRect(whole);
    }
    if (recording_) {
        metaCanvas_->fillRect(metaWhole);
    }
}

// ---- axes ------------------------------------------------------------------------------------------

void TMathImage::computeClipRects() {
    if (axesMode_) {
        const WorldRect& w = world_;
        clipRect_ = rectFromEdges(D2ScreenX(w.x1) + 1, D2ScreenY(w.y1 + w.yw), D2ScreenX(w.x1 + w.xw) + 1,
                                  D2ScreenY(w.y1));
        metaClipRect_ =
            rectFromEdges(D2MetaX(w.x1) + 1, D2MetaY(w.y1 + w.yw), D2MetaX(w.x1 + w.xw) + 1, D2MetaY(w.y1));
    } else {
        clipRect_ = QRect(0, 0, width(), height());
        metaClipRect_ = QRect(0, 0, 2 * width(), 2 * height());
    }
}

void TMathImage::SetAxesMode(bool on) {
    axesMode_ = on;
    D2SetWorld(world_.x1, world_.y1, world_.x1 + world_.xw, world_.y1 + world_.yw);
    releaseClipRegions();
    // The metafile's plot area is kept even while not recording, so that a recording started
    // later clips like the bitmap.
    computeClipRects();
    if (on) {
        selectClipRegions();
    }
}

int TMathImage::D2LabelWidth(Extended lo, Extended hi) {
    const std::array<Extended, 5> values = labelCandidates(lo, hi);
    const SmallerFont smaller(canvas_);
    int widest = 0;
    for (const Extended v : values) {
        widest = std::max(widest, canvas_.textWidth(label(v)));
    }
    return widest;
}

void TMathImage::D2DrawAxes(const QString& xLabel, const QString& yLabel, bool zeroLines,
                            const QColor& axesColor, const QColor& zeroLinesColor) {
    syncSize();
    // One repaint at the end instead of one per line and label.
    const bool wasLocked = std::exchange(lock_, true);
    std::function<void()> listener = std::exchange(canvas_.onChange, nullptr);
    const QPen savedPen = canvas_.pen();
    const QBrush savedBrush = canvas_.brush();
    const auto restore = qScopeGuard([&] {
        canvas_.setPen(savedPen);
        canvas_.setBrush(savedBrush);
        canvas_.onChange = listener;
        lock_ = wasLocked;
        if (!lock_) {
            bitmapChanged();
        }
    });

    SetAxesMode(true);
    releaseClipRegions();
    canvas_.setBrush(QBrush(savedBrush.color(), Qt::NoBrush));
    QPen axisPen = savedPen;
    axisPen.setStyle(Qt::SolidLine);
    axisPen.setWidth(1);
    axisPen.setColor(axesColor);
    canvas_.setPen(axisPen);

    const WorldRect w = world_;
    const int surfaceWidth = width();
    PlotCanvas* meta = recording_ ? metaCanvas_.get() : nullptr;

    D2Line(w.x1, w.y1, w.x1 + w.xw, w.y1);
    const std::vector<Tick> xTicks = axisTicks(w.x1, w.xw);
    const std::vector<Tick> yTicks = axisTicks(w.y1, w.yw);

    {
        const SmallerFont smaller(canvas_);
        const int py = D2ScreenY(w.y1);
        const int my = D2MetaY(w.y1);
        for (const Tick& tick : xTicks) {
            const int px = D2ScreenX(tick.value);
            const int mx = D2MetaX(tick.value);
            canvas_.moveTo({px, py});
            canvas_.lineTo({px, py + 4});
            if (meta) {
                meta->moveTo({mx, my});
                meta->lineTo({mx, my + 8});
            }
            if (tick.labelled) {
                const QString text = label(tick.value);
                canvas_.textOut({px - canvas_.textWidth(text) / 2, py + 6}, text);
                canvas_.moveTo({px, py});
                canvas_.lineTo({px, py + 6});
                if (meta) {
                    meta->textOut({mx - meta->textWidth(text) / 2, my + 12}, text);
                    meta->moveTo({mx, my});
                    meta->lineTo({mx, my + 12});
                }
            }
        }
    }

    {
        const int px = D2ScreenX(w.x1 + w.xw);
        const int py = D2ScreenY(w.y1);
        canvas_.moveTo({px - 6, py - 6});
        canvas_.lineTo({px, py});
        canvas_.moveTo({px - 6, py + 6});
        canvas_.lineTo({px, py});
        const int textWidth = canvas_.textWidth(xLabel);
        const int textHeight = canvas_.textHeight(xLabel);
        // The caption ends at the right edge rather than running past it.
        canvas_.textOut({std::min(px + 1, surfaceWidth - textWidth), py - textHeight - 6}, xLabel);
        if (meta) {
            const int mx = D2MetaX(w.x1 + w.xw);
            const int my = D2MetaY(w.y1);
            meta->moveTo({mx - 12, my - 12});
            meta->lineTo({mx, my});
            meta->moveTo({mx - 12, my + 12});
            meta->lineTo({mx, my});
            meta->textOut({std::min(mx + 1, 2 * surfaceWidth - 2 * textWidth), my - 2 * textHeight - 12},
                          xLabel);
        }
    }

    D2Line(w.x1, w.y1, w.x1, w.y1 + w.yw);

    {
        const SmallerFont smaller(canvas_);
        const int px = D2ScreenX(w.x1);
        const int mx = D2MetaX(w.x1);
        for (const Tick& tick : yTicks) {
            const int py = D2ScreenY(tick.value);
            const int my = D2MetaY(tick.value);
            canvas_.moveTo({px, py});
            canvas_.lineTo({px - 4, py});
            if (meta) {
                meta->moveTo({mx, my});
                meta->lineTo({mx - 8, my});
            }
            if (tick.labelled) {
                const QString text = label(tick.value);
                canvas_.textOut({px - canvas_.textWidth(text) - 6, py - canvas_.textHeight(text) / 2}, text);
                canvas_.moveTo({px, py});
                canvas_.lineTo({px - 6, py});
                if (meta) {
                    meta->textOut({mx - meta->textWidth(text) - 12, my - meta->textHeight(text) / 2}, text);
                    meta->moveTo({mx, my});
                    meta->lineTo({mx - 12, my});
                }
            }
        }
    }

    {
        const int px = D2ScreenX(w.x1);
        const int py = D2ScreenY(w.y1 + w.yw);
        canvas_.moveTo({px + 6, py + 6});
        canvas_.lineTo({px, py});
        canvas_.moveTo({px - 6, py + 6});
        canvas_.lineTo({px, py});
        canvas_.textOut({px + 6, 0}, yLabel);
        if (meta) {
            const int mx = D2MetaX(w.x1);
            const int my = D2MetaY(w.y1 + w.yw);
            meta->moveTo({mx + 12, my + 12});
            meta->lineTo({mx, my});
            meta->moveTo({mx - 12, my + 12});
            meta->lineTo({mx, my});
            meta->textOut({mx + 12, 0}, yLabel);
        }
    }

    selectClipRegions();

    if (zeroLines) {
        QPen zeroPen = canvas_.pen();
        zeroPen.setColor(zeroLinesColor);
        canvas_.setPen(zeroPen);
        D2Line(0, w.y1, 0, w.y1 + w.yw);
        D2Line(w.x1, 0, w.x1 + w.xw, 0);
    }
}

// ---- 3D view -------------------------------------------------------------------------------------------

void TMathImage::D3Update() {
    d3_.update(width(), height());
}

void TMathImage::D3ComputeView() {
    d3_.computeView(width(), height());
}

void TMathImage::D3SetWorld(Extended x1, Extended y1, Extended z1, Extended x2, Extended y2, Extended z2) {
    const D3View previous = d3_;
    d3_.worldX1 = x1;
    d3_.worldXW = x2 - x1;
    d3_.worldY1 = y1;
    d3_.worldYW = y2 - y1;
    d3_.worldZ1 = z1;
    d3_.worldZW = z2 - z1;
    try {
        D3Update();
    } catch (const FloatingPointError&) {
        d3_ = previous;
        try {
            D3Update();
        } catch (const FloatingPointError&) {
            // The previous box was already without a view; the failure below says enough.
        }
        throw EMathImageError("Invalid D3-world bounds");
    }
}

// One edge of the box changes, the other two stay.
void TMathImage::setD3Edge(int axis, Extended start, Extended length) {
    Extended lo[3] = {d3_.worldX1, d3_.worldY1, d3_.worldZ1};
    Extended size[3] = {d3_.worldXW, d3_.worldYW, d3_.worldZW};
    lo[axis] = start;
    size[axis] = length;
    D3SetWorld(lo[0], lo[1], lo[2], lo[0] + size[0], lo[1] + size[1], lo[2] + size[2]);
}

void TMathImage::setD3WorldX1(Extended v) {
    setD3Edge(0, v, d3_.worldXW);
}
void TMathImage::setD3WorldY1(Extended v) {
    setD3Edge(1, v, d3_.worldYW);
}
void TMathImage::setD3WorldZ1(Extended v) {
    setD3Edge(2, v, d3_.worldZW);
}

void TMathImage::setD3WorldXW(Extended v) {
    if (!(v > 0)) {
        throw EMathImageError("x-worldwidth must be positive");
    }
    setD3Edge(0, d3_.worldX1, v);
}

void TMathImage::setD3WorldYW(Extended v) {
    if (!(v > 0)) {
        throw EMathImageError("y-worldwidth must be positive");
    }
    setD3Edge(1, d3_.worldY1, v);
}

void TMathImage::setD3WorldZW(Extended v) {
    if (!(v > 0)) {
        throw EMathImageError("z-worldwidth must be positive");
    }
    setD3Edge(2, d3_.worldZ1, v);
}

// ---- metafile ------------------------------------------------------------------------------------------

void TMathImage::setRecordMetafile(bool record) {
    if (record == recording_) {
        return;
    }
    recording_ = record;
    if (record) {
        metaSize_ = QSize(2 * width(), 2 * height());
        metafile_ = std::make_unique<QPicture>();
        metaPainter_ = std::make_unique<QPainter>(metafile_.get());
        metaCanvas_ = std::make_unique<PlotCanvas>(metaPainter_.get());
        installRecordingHandlers();
        canvas_.onFontChange();
        canvas_.onPenChange();
        canvas_.onBrushChange();
        if (axesMode_) {
            selectClipRegions();
        }
    } else {
        metaCanvas_.reset();
        metaPainter_.reset();
        metafile_.reset();
        metaClipRegion_.reset();
        restoreCanvasHandlers();
    }
}

void TMathImage::installRecordingHandlers() {
    canvas_.onFontChange = [this] {
        if (savedFontHandler_) {
            savedFontHandler_();
        }
        if (recording_ && metaCanvas_) {
            metaCanvas_->setFont(canvas_.font().withSize(2 * canvas_.font().size));
        }
    };
    canvas_.onPenChange = [this] {
        if (savedPenHandler_) {
            savedPenHandler_();
        }
        if (recording_ && metaCanvas_) {
            metaCanvas_->setPen(canvas_.pen());
        }
    };
    canvas_.onBrushChange = [this] {
        if (savedBrushHandler_) {
            savedBrushHandler_();
        }
        if (recording_ && metaCanvas_) {
            metaCanvas_->setBrush(canvas_.brush());
        }
    };
}

void TMathImage::restoreCanvasHandlers() {
    canvas_.onFontChange = savedFontHandler_;
    canvas_.onPenChange = savedPenHandler_;
    canvas_.onBrushChange = savedBrushHandler_;
}

// The metafile is at twice the resolution, so its text is at twice the size too, also after Clear
// and a size change.
void TMathImage::copySettingsToMetafile() {
    metaCanvas_->setBrush(canvas_.brush());
    metaCanvas_->setPen(canvas_.pen());
    metaCanvas_->setFont(canvas_.font().withSize(2 * canvas_.font().size));
}

// Completes the picture recorded so far, hands it back and starts an empty one of the given size on
// the same canvas, so pen, brush, font, clip and pen position carry over.
QPicture TMathImage::replaceMetafile(QSize newSize) {
    metaPainter_->end();
    metafile_->setBoundingRect(QRect(QPoint(0, 0), metaSize_));
    QPicture completed = *metafile_;
    metaSize_ = newSize;
    metafile_ = std::make_unique<QPicture>();
    metaPainter_->begin(metafile_.get());
    return completed;
}

// Continues the recording on top of what was drawn so far.
QPicture TMathImage::continueMetafile(QSize newSize) {
    QPicture previous = replaceMetafile(newSize);
    metaCanvas_->drawPicture({0, 0}, previous);
    return previous;
}

QPicture TMathImage::Metafile() {
    return recording_ ? continueMetafile(metaSize_) : QPicture();
}

} // namespace kestrane
