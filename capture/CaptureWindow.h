// The capture window: a child of the preview panel that shows the driver's preview while it is visible, runs
// the driver's dialogs and lets Escape or a mouse button end a streaming capture.
#pragma once

#include "capture/AviSequenceSink.h"
#include "capture/CaptureConnection.h"
#include "capture/CaptureWindowMessages.h"
#include "capture/FrameHandoff.h"
#include "capture/QtCaptureDialogs.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

namespace kestrane {

class CaptureWindow : public QWidget, public CaptureWindowMessages {
    Q_OBJECT
  public:
    // A visible child of `parent` at `geometry`; driver index n connects to drivers(n).
    CaptureWindow(const QString& title, QWidget* parent, const QRect& geometry, DriverFactory drivers);
    ~CaptureWindow() override;

    void showWindow(bool visible) override;
    void destroyWindow() override;

    // The preview picture last drawn; null before the first.
    const QImage& previewImage() const { return preview_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void previewChanged() override;
    void sequenceStarted(const CaptureParms& parms) override;
    void frameGrabbed(const VideoHeader& header) override;

  private:
    void previewTick();
    void showPreviewFrame();
    void updatePreviewTimer();
    void stopWatchingAbort();

    QTimer previewTimer_;
    QtCaptureDialogs qtDialogs_;
    // The preview converts frames exactly as the hand-off does, into buffers of its own.
    FrameHandoff previewBuffers_;
    std::uint64_t previewFormat_ = ~std::uint64_t{0};
    QImage preview_;
    CaptureParms abortParms_;
    bool watchingAbort_ = false;
};

// Makes the capture window of the main window's creation: "Capture Window", 640 × 480 at (0, 0) inside
// `panel`, with driver 0 from `drivers` and streaming captures written through `sinks` (AVI files unless
// told otherwise). Null without a panel.
CaptureConnection::WindowFactory captureWindowFactory(QWidget* panel, DriverFactory drivers,
                                                      SequenceSinkFactory sinks = aviSequenceSinks());

// The picture of a 24- or 32-bit bitmap, upright.
QImage imageOf(const Bitmap& bitmap);

} // namespace kestrane
