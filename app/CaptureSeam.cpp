// What the main window asks of the camera: start-up, one grabbed frame, the driver's dialogs.
#include "app/CaptureSeam.h"

#include "analysis/MeasurementState.h"
#include "capture/CaptureConnection.h"
#include "capture/CaptureWindow.h"
#include "recording/AviFile.h"
#include "ui/ImageConversion.h"

#include <cstring>
#include <memory>
#include <optional>

namespace {

struct FrameShape {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
};

// ", 24-bit RGB, 640 x 480"; nothing before the first frame.
std::string frameText(const FrameShape& shape) {
    if (shape.width == 0) {
        return {};
    }
    return ", " + std::to_string(shape.bitsPerPixel) + "-bit RGB, " + std::to_string(shape.width) + " x " +
           std::to_string(shape.height);
}

// The capture connection of the main window: the capture window in Panel2 and the backend behind driver 0.
class LiveCapture : public CaptureSeam {
  public:
    explicit LiveCapture(kestrane::CameraSelection selection)
        : selection_(std::move(selection)), connection_(kestrane::measurementState()) {}

    bool startUp(QWidget& previewPanel) override {
        // The capture window makes the sink when a capture starts: it takes the settings handed in just then.
        connection_.FormCreate(kestrane::captureWindowFactory(
            &previewPanel, kestrane::driverFactory(selection_),
            kestrane::aviSequenceSinks([pending = sequenceSettings_] { return *pending; })));
        return kestrane::measurementState().CaptureReady == 1;
    }

    void grabFrame(QImage& frame) override {
        // A grab that brings no picture leaves the previous frame, as the capture driver would.
        if (grabRaw(grabbed_)) {
            copyToImage(grabbed_, frame);
        }
    }

    bool grabRaw(kestrane::Bitmap& frame) override {
        std::string error;
        const bool grabbed = connection_.grabFrame(frame, error);
        if (grabbed) {
            lastFrame_ = {frame.width(), frame.height(), frame.bitsPerPixel()};
        }
        return grabbed;
    }

    std::string cameraText() const override {
        std::string backend = "V4L2 camera " + selection_.device;
        if (selection_.simulated()) {
            backend = "simulated camera";
        } else if (selection_.kind == kestrane::CameraKind::Genicam) {
            backend = cameraName();
        }
        return backend + frameText(lastFrame_);
    }

    std::string cameraName() const override {
        if (selection_.kind != kestrane::CameraKind::Genicam) {
            return {};
        }
        const kestrane::CaptureWindowMessages* window = connection_.CaptureWindow;
        return "GenICam camera " + (window != nullptr ? window->driverDescription() : selection_.genicamId);
    }

    bool startSequence(const std::string& fileName, const kestrane::RecordingSettings& settings,
                       std::string& error) override {
        connection_.SetCaptureFile(fileName);
        *sequenceSettings_ = settings;
        connection_.StartSequence();
        sequenceSettings_->reset();
        const kestrane::CaptureStatus& status = connection_.CaptureStatus;
        if (status.capturingNow == 0 && status.lastError != 0) {
            error = reasonOf(status.lastError);
            return false;
        }
        return true;
    }

    bool sequenceRunning(SequenceEnd& end) override {
        connection_.RefreshStatus();
        const kestrane::CaptureStatus& status = connection_.CaptureStatus;
        end = SequenceEnd{};
        end.frames = status.currentVideoFrame;
        end.seconds = status.currentTimeElapsedMs / 1000.0;
        if (status.capturingNow != 0) {
            return true;
        }
        if (status.lastError != 0) {
            end.error = reasonOf(status.lastError);
        } else if (status.aborted == kestrane::SequenceAbort::Key) {
            end.stoppedBy = "Escape";
        } else if (status.aborted == kestrane::SequenceAbort::Mouse) {
            end.stoppedBy = "a mouse click";
        }
        return false;
    }

    void setCaptureFile(const std::string& fileName) override { connection_.SetCaptureFile(fileName); }

    void formatDialog() override { connection_.FormatClick(); }
    void sourceDialog() override { connection_.FeaturesClick(); }
    void windowMoved() override { connection_.WindowMoved(); }
    bool isSimulated() const override { return selection_.simulated(); }
    std::string failureReason() const override { return connection_.ConnectFailure; }

  private:
    // The capture reports -errno, or a code of the file library.
    static std::string reasonOf(std::int32_t code) {
        if (code < 0 && code > -4096) {
            return std::strerror(-code);
        }
        return kestrane::aviResultText(code);
    }

    kestrane::CameraSelection selection_;
    std::shared_ptr<std::optional<kestrane::RecordingSettings>> sequenceSettings_ =
        std::make_shared<std::optional<kestrane::RecordingSettings>>();
    kestrane::CaptureConnection connection_;
    kestrane::Bitmap grabbed_;
    FrameShape lastFrame_;
};

} // namespace

std::string CaptureSeam::cameraText() const {
    return isSimulated() ? "simulated camera" : "camera";
}

bool CaptureSeam::startSequence(const std::string&, const kestrane::RecordingSettings&, std::string& error) {
    error = "this camera cannot stream to a file";
    return false;
}

bool CaptureSeam::sequenceRunning(SequenceEnd& end) {
    end = SequenceEnd{};
    return false;
}

void CaptureSeam::setCaptureFile(const std::string&) {}

std::string StillFrameCapture::cameraText() const {
    return "still picture" + (source_.empty() ? std::string() : " " + source_) +
           frameText({frame_.width(), frame_.height(), frame_.depth() == 32 ? 32 : 24});
}

bool StillFrameCapture::grabRaw(kestrane::Bitmap& frame) {
    if (frame_.isNull()) {
        return false;
    }
    copyToBitmap(frame_, frame);
    return true;
}

std::unique_ptr<CaptureSeam> createCapture(const kestrane::CameraOptions& options) {
    const kestrane::CameraSelection selection = kestrane::selectCamera(options);
    if (selection.kind == kestrane::CameraKind::None) {
        return std::make_unique<NoCapture>();
    }
    return std::make_unique<LiveCapture>(selection);
}
