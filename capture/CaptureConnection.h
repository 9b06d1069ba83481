// The main window's side of the capture connection: its start-up, the commands it sends to the capture
// window, the frame callback and the consumer protocol for one live frame.
#pragma once

#include "analysis/MeasurementState.h"
#include "capture/CaptureWindowMessages.h"
#include "capture/FrameHandoff.h"

#include <functional>
#include <string>

namespace kestrane {

class CaptureConnection : public FrameHandoff {
  public:
    explicit CaptureConnection(MeasurementState& state);
    ~CaptureConnection() override;

    kestrane::DriverCaps DriverCaps;
    kestrane::CaptureStatus CaptureStatus;
    // Why the start-up found no camera, naming the device; empty after a successful start-up.
    std::string ConnectFailure;

    // Creates the capture window inside the preview panel; null when no window results.
    using WindowFactory = std::function<CaptureWindowMessages*()>;

    // The capture start-up of the main window's creation: buffers, capture window, driver 0, a 640 × 480
    // 24-bit format request, preview, frame callback, FrameBitmap, the format read back and CaptureReady.
    // Ends early and silently, CaptureReady staying 0, when there is no window or no driver.
    void FormCreate(const WindowFactory& createCaptureWindow);

    void RefreshStatus() override;
    void ReadDriverCaps();
    void StartPreview();
    // Grabs one frame into FrameStream without stopping the preview. A driver that has gone away clears
    // CaptureReady, so the program carries on without live video.
    void BtnGrabFrameNoStopClick();
    // Streams to the capture file at 35 ms per frame for RecordTimeLimit seconds; returns at once.
    void StartSequence();
    // Ends a streaming capture early (what Escape or a mouse button does); the file keeps what was captured.
    void AbortSequence();
    // Sets the file streaming captures write to, then refreshes the status.
    void SetCaptureFile(const std::string& fileName);
    // The driver's format dialog; the frame buffers follow the format chosen there.
    void FormatClick();
    // The driver's source dialog (brightness, contrast, exposure, gain, ...).
    void FeaturesClick();
    // After the main window has moved: the capture window is hidden and shown again.
    void WindowMoved();

    // The consumer protocol: grab, rewind FrameStream, load FrameBitmap from it and copy it into `consumer`.
    // False with the reason when the stream holds no picture (no camera); `consumer` is then unchanged.
    bool grabFrame(Bitmap& consumer, std::string& error);

    // Installed as the capture window's frame callback: delivers the frame to the connection kept as the
    // window's user data. Always 1; nothing escapes it.
    static int FrameCallback(CaptureWindowMessages* window, const VideoHeader* header);

  private:
    CaptureWindowMessages* window() const { return IsWindow() ? CaptureWindow : nullptr; }

    MeasurementState& state_;
};

} // namespace kestrane
