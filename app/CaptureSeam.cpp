// What the main window asks of the camera: start-up, one grabbed frame, the driver's dialogs.
#include "app/CaptureSeam.h"

#include "analysis/MeasurementState.h"
#include "app/ImageConversion.h"
#include "app/TForm1.h"
#include "capture/CaptureConnection.h"
#include "capture/CaptureWindow.h"

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

    void formatDialog() override { connection_.FormatClick(); }
    void sourceDialog() override { connection_.FeaturesClick(); }
    void windowMoved() override { connection_.WindowMoved(); }
    bool isSimulated() const override { return selection_.simulated(); }
    std::string failureReason() const override { return connection_.ConnectFailure; }

  private:
    kestrane::CameraSelection selection_;
    kestrane::CaptureConnection connection_;
    kestrane::Bitmap grabbed_;
};

} // namespace

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
