// The capture window: a child of the preview panel that shows the driver's preview while it is visible, runs
// the driver's dialogs and lets Escape or a mouse button end a streaming capture.
#include "capture/CaptureWindow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace kestrane {

namespace {

// The platform's key number of a Qt key, for the abort key of a streaming capture.
std::uint32_t virtualKeyOf(int key) {
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) {
        return static_cast<std::uint32_t>(key);
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12) {
        return 0x70 + static_cast<std::uint32_t>(key - Qt::Key_F1);
    }
    switch (key) {
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Space:
        return 32;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    default:
        return 0;
    }
}

// Hands each preview frame to the preview's own buffers.
class PreviewConsumer : public FrameConsumer {
  public:
    PreviewConsumer(FrameHandoff& buffers, CaptureWindowMessages* window)
        : buffers_(buffers), window_(window) {}
    void consume(const VideoHeader& header) override { buffers_.DeliverFrame(window_, header); }

  private:
    FrameHandoff& buffers_;
    CaptureWindowMessages* window_;
};

} // namespace

QImage imageOf(const Bitmap& bitmap) {
    if (bitmap.empty()) {
        return {};
    }
    const QImage::Format format = bitmap.bitsPerPixel() == 32 ? QImage::Format_RGB32 : QImage::Format_BGR888;
    const QImage bottomUp(bitmap.bits(), bitmap.width(), bitmap.height(),
                          static_cast<qsizetype>(bitmap.stride()), format);
    return bottomUp.mirrored();
}

CaptureWindow::CaptureWindow(const QString& title, QWidget* parent, const QRect& geometry,
                             DriverFactory drivers)
    : QWidget(parent), CaptureWindowMessages(std::move(drivers)), qtDialogs_(this) {
    setObjectName(QStringLiteral("CaptureWindow"));
    setWindowTitle(title);
    setGeometry(geometry);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setDialogs(&qtDialogs_);
    previewBuffers_.attachWindow(this);
    connect(&previewTimer_, &QTimer::timeout, this, &CaptureWindow::previewTick);
    show();
}

CaptureWindow::~CaptureWindow() {
    stopWatchingAbort();
    abortSequence();
    waitForSequence();
}

void CaptureWindow::showWindow(bool visible) {
    CaptureWindowMessages::showWindow(visible);
    setVisible(visible);
}

void CaptureWindow::destroyWindow() {
    CaptureWindowMessages::destroyWindow();
    previewTimer_.stop();
    stopWatchingAbort();
    hide();
    deleteLater();
}

void CaptureWindow::previewChanged() {
    updatePreviewTimer();
}

void CaptureWindow::updatePreviewTimer() {
    if (!previewOn() || !connected() || !isVisible()) {
        previewTimer_.stop();
        return;
    }
    // A preview faster than the device delivers frames would show the same frame again and again.
    const int interval = std::max<int>({static_cast<int>(previewRateMs()), framePeriodUs() / 1000, 1});
    if (!previewTimer_.isActive() || previewTimer_.interval() != interval) {
        previewTimer_.start(interval);
    }
}

void CaptureWindow::previewTick() {
    if (!isVisible()) {
        previewTimer_.stop();
        return;
    }
    if (previewFormat_ != formatGeneration()) {
        previewFormat_ = formatGeneration();
        previewBuffers_.ReadVideoFormat();
    }
    PreviewConsumer consumer(previewBuffers_, this);
    if (readPreviewFrame(consumer) < 0) {
        return;
    }
    showPreviewFrame();
}

void CaptureWindow::showPreviewFrame() {
    std::string ignored;
    if (previewBuffers_.loadFrameBitmap(ignored)) {
        preview_ = imageOf(previewBuffers_.FrameBitmap);
        update();
    }
}

void CaptureWindow::frameGrabbed(const VideoHeader& header) {
    // Only a shown window whose buffers know the current format: reading the format would need the driver.
    // A grab therefore costs the live loop nothing while the preview page is hidden, and the program's own
    // raw recorder, which grabs with the preview page shown and no preview tick running, is seen recording.
    if (!isVisible() || previewFormat_ != formatGeneration()) {
        return;
    }
    previewBuffers_.DeliverFrame(this, header);
    showPreviewFrame();
}

void CaptureWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!preview_.isNull()) {
        painter.drawImage(0, 0, preview_);
    }
}

void CaptureWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updatePreviewTimer();
}

void CaptureWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    previewTimer_.stop();
}

void CaptureWindow::sequenceStarted(const CaptureParms& parms) {
    abortParms_ = parms;
    if (!watchingAbort_ && (parms.keyAbort != 0 || parms.abortLeftMouse != 0 || parms.abortRightMouse != 0)) {
        qApp->installEventFilter(this);
        watchingAbort_ = true;
    }
}

void CaptureWindow::stopWatchingAbort() {
    if (watchingAbort_) {
        qApp->removeEventFilter(this);
        watchingAbort_ = false;
    }
}

bool CaptureWindow::eventFilter(QObject* watched, QEvent* event) {
    if (!sequenceRunning()) {
        stopWatchingAbort();
        return QWidget::eventFilter(watched, event);
    }
    SequenceAbort abort = SequenceAbort::None;
    if (event->type() == QEvent::KeyPress) {
        const std::uint32_t key = virtualKeyOf(static_cast<QKeyEvent*>(event)->key());
        abort = key != 0 && key == (abortParms_.keyAbort & 0xFF) ? SequenceAbort::Key : SequenceAbort::None;
    } else if (event->type() == QEvent::MouseButtonPress) {
        const Qt::MouseButton button = static_cast<QMouseEvent*>(event)->button();
        abort = (button == Qt::LeftButton && abortParms_.abortLeftMouse != 0) ||
                        (button == Qt::RightButton && abortParms_.abortRightMouse != 0)
                    ? SequenceAbort::Mouse
                    : SequenceAbort::None;
    }
    if (abort != SequenceAbort::None) {
        abortSequence(abort);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

CaptureConnection::WindowFactory captureWindowFactory(QWidget* panel, DriverFactory drivers,
                                                      SequenceSinkFactory sinks) {
    return [panel, drivers = std::move(drivers), sinks = std::move(sinks)]() -> CaptureWindowMessages* {
        if (panel == nullptr) {
            return nullptr;
        }
        auto* window =
            new CaptureWindow(QStringLiteral("Capture Window"), panel, QRect(0, 0, 640, 480), drivers);
        window->setSequenceSinkFactory(sinks);
        return window;
    };
}

} // namespace kestrane
