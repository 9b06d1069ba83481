// The capture window's message protocol: one method per capture message, each carried out on the backend of
// the connected driver. The ui's CaptureWindow adds the preview picture and the driver's dialogs.
#pragma once

#include "capture/CaptureDriver.h"
#include "capture/SequenceCapture.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kestrane {

class CaptureWindowMessages {
  public:
    // The frame callback: called with the window and the header of each grabbed frame.
    using FrameCallbackProc = int (*)(CaptureWindowMessages* window, const VideoHeader* header);

    explicit CaptureWindowMessages(DriverFactory drivers);
    virtual ~CaptureWindowMessages();
    CaptureWindowMessages(const CaptureWindowMessages&) = delete;
    CaptureWindowMessages& operator=(const CaptureWindowMessages&) = delete;

    // WM_CAP_SET_CALLBACK_FRAME
    void setCallbackFrame(FrameCallbackProc callback);
    // WM_CAP_GET_USER_DATA
    void* getUserData() const;
    // WM_CAP_SET_USER_DATA: false when the driver refuses to keep it.
    bool setUserData(void* data);
    // WM_CAP_DRIVER_CONNECT
    bool driverConnect(int driverIndex);
    // Why the last driverConnect failed, naming the device; empty after a successful one.
    const std::string& connectFailure() const { return connectFailure_; }
    // What the connected driver calls itself; empty without one.
    std::string driverDescription() const;
    // WM_CAP_DRIVER_GET_CAPS
    void driverGetCaps(DriverCaps& caps);
    // WM_CAP_FILE_SET_CAPTURE_FILEA
    void fileSetCaptureFile(const std::string& fileName);
    // WM_CAP_DLG_VIDEOFORMAT: the format dialog; the chosen format is asked of the driver.
    void dlgVideoFormat();
    // WM_CAP_DLG_VIDEOSOURCE: the source dialog, changes reaching the driver as they are made.
    void dlgVideoSource();
    // WM_CAP_GET_VIDEOFORMAT: the byte size of the current format; copies up to `size` bytes of it into
    // `format` when that is not null.
    std::uint32_t getVideoFormat(std::uint16_t size, std::uint8_t* format);
    // WM_CAP_SET_VIDEOFORMAT
    bool setVideoFormat(std::uint16_t size, const std::uint8_t* header);
    // WM_CAP_SET_PREVIEW
    void setPreview(bool on);
    // WM_CAP_SET_PREVIEWRATE
    void setPreviewRate(std::uint32_t milliseconds);
    // WM_CAP_GET_STATUS
    void getStatus(CaptureStatus& status);
    // WM_CAP_GRAB_FRAME_NOSTOP: the frame has passed through the frame callback when this returns.
    bool grabFrameNoStop();
    // WM_CAP_SEQUENCE: starts the streaming capture to the capture file; with yield set it returns at once.
    bool sequence();
    // WM_CAP_SET_SEQUENCE_SETUP
    void setSequenceSetup(const CaptureParms& parms);
    // WM_CAP_GET_SEQUENCE_SETUP
    void getSequenceSetup(CaptureParms& parms);
    // WM_CAP_ABORT: ends a streaming capture; the file keeps what was captured. `how` is the cause the status
    // reports.
    void abortSequence(SequenceAbort how = SequenceAbort::Program);

    // The window itself.
    virtual void showWindow(bool visible) { visible_ = visible; }
    bool windowVisible() const { return visible_; }
    // Disconnects the driver; the window no longer counts as a window.
    virtual void destroyWindow();
    // Expires when the window is destroyed.
    std::weak_ptr<void> lifetime() const { return lifetime_; }

    bool connected() const { return driver_ != nullptr; }
    bool sequenceRunning() const { return sequence_.running(); }
    // Waits until a streaming capture has ended and its file is complete.
    void waitForSequence() { sequence_.wait(); }

    // Where streaming captures write; without a factory a capture cannot start.
    void setSequenceSinkFactory(SequenceSinkFactory factory) { sinks_ = std::move(factory); }
    // The driver's dialogs; without them the dialog messages do nothing.
    void setDialogs(CaptureDialogs* dialogs) { dialogs_ = dialogs; }

    // A grabbed frame, while the driver still holds it: a window shows it, as a grab does on screen. Called
    // with the driver locked, so it must not talk to the driver.
    virtual void frameGrabbed(const VideoHeader&) {}

  protected:
    // Reads the newest frame for the preview; -EAGAIN while the preview is off or a capture streams.
    int readPreviewFrame(FrameConsumer& consumer);
    bool previewOn() const { return previewOn_; }
    std::uint32_t previewRateMs() const { return previewRateMs_; }
    int framePeriodUs() const;
    // Counts the driver's format changes, so the preview knows when to read the format again.
    std::uint64_t formatGeneration() const { return formatGeneration_; }

    virtual void previewChanged() {}
    virtual void sequenceStarted(const CaptureParms&) {}

  private:
    void noteResult(int result);
    // Keeps what the status reports about the format and the file, so that a status refresh after every
    // grab allocates nothing.
    void noteFormat();
    void noteCaptureFile();

    DriverFactory drivers_;
    mutable std::recursive_mutex driverLock_;
    std::unique_ptr<CaptureDriver> driver_;
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
    FrameCallbackProc callback_ = nullptr;
    void* userData_ = nullptr;
    CaptureDialogs* dialogs_ = nullptr;
    SequenceSinkFactory sinks_;
    std::string captureFile_ = "capture.avi";
    CaptureParms parms_;
    bool previewOn_ = false;
    std::uint32_t previewRateMs_ = 15;
    bool visible_ = true;
    std::int32_t lastError_ = 0;
    std::string connectFailure_;
    std::uint64_t formatGeneration_ = 0;
    std::uint32_t imageWidth_ = 0;
    std::uint32_t imageHeight_ = 0;
    bool captureFileExists_ = false;
    bool sequenceStarted_ = false;
    bool grabbedBefore_ = false;
    std::uint32_t lastGrabMs_ = 0;
    // Last: it is stopped before the driver it reads from goes away.
    SequenceCapture sequence_;
};

} // namespace kestrane
