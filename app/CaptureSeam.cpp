// What the main window asks of the camera: start-up, one grabbed frame, the driver's dialogs. The capture
// code supplies the real implementation through createCapture.
#include "app/CaptureSeam.h"

std::unique_ptr<CaptureSeam> createCapture(const kestrane::CameraOptions&) {
    // Until the capture backends are connected here, every choice runs without a camera.
    return std::make_unique<NoCapture>();
}
