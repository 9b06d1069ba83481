// What the main window asks of the camera: start-up, one grabbed frame, the driver's dialogs.
#include "app/CaptureSeam.h"

#include "analysis/MeasurementState.h"
#include "app/ImageConversion.h"
#include "app/TForm1.h"
#include "capture/CaptureConnection.h"
#include "capture/CaptureWindow.h"

#include <cstring>

namespace {

// The capture connection of the main window: the capture window in Panel2 and the backend behind driver 0.
class LiveCapture : public CaptureSeam {
  public:
    explicit LiveCapture(kestrane::CameraSelection selection)
        : selection_(std::move(selection)), connection_(kestrane::measurementState()) {}

    bool startUp(TForm1& form) override {
        connection_.FormCreate(
            kestrane::captureWindowFactory(form.Panel2, kestrane::driverFactory(selection_)));
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
        return connection_.grabFrame(frame, error);
    }

    bool startSequence(const std::string& fileName, std::string& error) override {
        connection_.SetCaptureFile(fileName);
        connection_.StartSequence();
        const kestrane::CaptureStatus& status = connection_.CaptureStatus;
        if (status.capturingNow == 0 && status.lastError != 0) {
            error = reasonOf(status.lastError);
            return false;
        }
        return true;
    }

    bool sequenceRunning(std::string& error) override {
        connection_.RefreshStatus();
        const kestrane::CaptureStatus& status = connection_.CaptureStatus;
        error =
            status.capturingNow == 0 && status.lastError != 0 ? reasonOf(status.lastError) : std::string();
        return status.capturingNow != 0;
    }

    void setCaptureFile(const std::string& fileName) override { connection_.SetCaptureFile(fileName); }

    void formatDialog() override { connection_.FormatClick(); }
    void sourceDialog() override { connection_.FeaturesClick(); }
    void windowMoved() override { connection_.WindowMoved(); }
    bool isSimulated() const override { return selection_.simulated(); }

  private:
    // The capture reports -errno, or a code of the file library.
    static std::string reasonOf(std::int32_t code) {
        if (code < 0 && code > -4096) {
            return std::strerror(-code);
        }
        return "capture error " + std::to_string(code);
    }

    kestrane::CameraSelection selection_;
    kestrane::CaptureConnection connection_;
    kestrane::Bitmap grabbed_;
};

} // namespace

bool CaptureSeam::startSequence(const std::string&, std::string& error) {
    error = "this camera cannot stream to a file";
    return false;
}

bool CaptureSeam::sequenceRunning(std::string& error) {
    error.clear();
    return false;
}

void CaptureSeam::setCaptureFile(const std::string&) {}

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
