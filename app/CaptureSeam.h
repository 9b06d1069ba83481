// What the main window asks of the camera: start-up, one grabbed frame, the driver's dialogs.
#pragma once

#include "app/CommandLine.h"
#include "imaging/Bitmap.h"
#include "recording/RecordingSettings.h"

#include <QImage>
#include <cstdint>
#include <memory>
#include <string>

class QWidget;

// How a streaming capture into a file has ended.
struct SequenceEnd {
    // Why it ended early, in words; empty after the time limit or an abort.
    std::string error;
    // What ended it early when the operator did: "Escape" or "a mouse click"; empty otherwise.
    std::string stoppedBy;
    // The frames the file holds and the seconds they took.
    std::int64_t frames = 0;
    double seconds = 0;
};

class CaptureSeam {
  public:
    virtual ~CaptureSeam() = default;
    // The capture start-up of the window's creation (preview inside `previewPanel`, the window's Panel2;
    // driver; frame buffers). True when frames can be grabbed from now on; a failure is silent and the
    // program runs without a camera.
    virtual bool startUp(QWidget& previewPanel) = 0;
    // Grabs one frame and makes `frame` (the picture of Image1) a copy of it.
    virtual void grabFrame(QImage& frame) = 0;
    // Grabs one frame in the pixel format in which the camera delivered it; false when none arrived.
    virtual bool grabRaw(kestrane::Bitmap& frame) = 0;
    // The camera in words for a recording's settings: backend, pixel format and frame size of the last frame.
    virtual std::string cameraText() const;
    // The camera for the window caption once it runs, where the caption should name it; empty otherwise.
    virtual std::string cameraName() const { return {}; }
    // True when the pictures come from the built-in simulated sample rather than a camera.
    virtual bool isSimulated() const { return false; }
    // Why the start-up found no camera, naming the device; empty when nobody asked for one.
    virtual std::string failureReason() const { return {}; }
    // The driver's own format and source dialogs.
    virtual void formatDialog() = 0;
    virtual void sourceDialog() = 0;
    // The main window has moved (a preview drawn by the driver may have to follow).
    virtual void windowMoved() {}
    // The driver's streaming capture into `fileName`: 35 ms per frame for RecordTimeLimit seconds, Escape or
    // a mouse button ending it early; `settings` go into the settings file beside it. Returns at once; false
    // with the reason when nothing was started.
    virtual bool startSequence(const std::string& fileName, const kestrane::RecordingSettings& settings,
                               std::string& error);
    // True while a streaming capture runs. Once it has ended, `end` says how.
    virtual bool sequenceRunning(SequenceEnd& end);
    // Sets the file streaming captures write to.
    virtual void setCaptureFile(const std::string& fileName);
};

// No camera: the start-up fails silently and nothing is ever grabbed.
class NoCapture : public CaptureSeam {
  public:
    bool startUp(QWidget&) override { return false; }
    void grabFrame(QImage&) override {}
    bool grabRaw(kestrane::Bitmap&) override { return false; }
    void formatDialog() override {}
    void sourceDialog() override {}
};

// Always the same frame, as a camera looking at a still sample would deliver it.
class StillFrameCapture : public CaptureSeam {
  public:
    // `source` names where the frame came from, for the caption when it could not be read.
    explicit StillFrameCapture(QImage frame, std::string source = {})
        : frame_(std::move(frame)), source_(std::move(source)) {}
    bool startUp(QWidget&) override { return !frame_.isNull(); }
    std::string failureReason() const override {
        return frame_.isNull() && !source_.empty() ? source_ + ": not a picture that can be read" : "";
    }
    void grabFrame(QImage& frame) override { frame = frame_; }
    bool grabRaw(kestrane::Bitmap& frame) override;
    std::string cameraText() const override;
    void formatDialog() override {}
    void sourceDialog() override {}

  private:
    QImage frame_;
    std::string source_;
};

// The camera the command line asks for: a V4L2 device, a GenICam camera, the simulated camera or none,
// behind the capture window inside the "Preview" page.
std::unique_ptr<CaptureSeam> createCapture(const kestrane::CameraOptions& options);
