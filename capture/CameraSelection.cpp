// Which camera stands behind capture driver 0, chosen from the command line: a V4L2 device, the simulated
// camera or none.
#include "capture/CameraSelection.h"

#include "capture/SimulatedCamera.h"
#include "capture/V4l2Camera.h"

#include <cerrno>
#include <string_view>

namespace kestrane {

bool parseCameraOptions(const std::vector<std::string>& arguments, CameraOptions& options,
                        std::string& error) {
    constexpr std::string_view kCamera = "--camera=";
    constexpr std::string_view kDevice = "--device=";
    CameraOptions parsed;
    for (const std::string& argument : arguments) {
        const std::string_view word = argument;
        if (word.starts_with(kCamera)) {
            const std::string_view value = word.substr(kCamera.size());
            if (value == "v4l2") {
                parsed.kind = CameraKind::V4l2;
            } else if (value == "simulated") {
                parsed.kind = CameraKind::Simulated;
            } else if (value == "auto") {
                parsed.kind = CameraKind::Auto;
            } else if (value == "none") {
                parsed.kind = CameraKind::None;
            } else {
                error = "unknown camera \"" + std::string(value) + "\" (v4l2, simulated, auto or none)";
                return false;
            }
        } else if (word.starts_with(kDevice)) {
            const std::string_view value = word.substr(kDevice.size());
            if (value.empty()) {
                error = "--device needs a device path";
                return false;
            }
            parsed.device = std::string(value);
        }
    }
    options = parsed;
    return true;
}

CameraSelection selectCamera(const CameraOptions& options) {
    CameraSelection selection{options.kind, options.device};
    if (options.kind == CameraKind::Auto) {
        const std::unique_ptr<V4l2Io> io = systemV4l2Io();
        selection.kind = V4l2Camera::probe(options.device, *io) ? CameraKind::V4l2 : CameraKind::Simulated;
    }
    return selection;
}

DriverFactory driverFactory(const CameraSelection& selection) {
    return [selection](int driverIndex) -> std::unique_ptr<CaptureDriver> {
        if (driverIndex != 0) {
            return nullptr;
        }
        switch (selection.kind) {
        case CameraKind::V4l2:
            return std::make_unique<V4l2Camera>(selection.device);
        case CameraKind::Simulated:
            return std::make_unique<SimulatedCamera>();
        default:
            return std::make_unique<NoCamera>();
        }
    };
}

int NoCamera::open() {
    return -ENODEV;
}

int NoCamera::setVideoFormat(const std::uint8_t*, std::size_t) {
    return -ENODEV;
}

int NoCamera::setSourceControl(std::uint32_t, std::int32_t) {
    return -ENODEV;
}

int NoCamera::readFrame(FrameConsumer&) {
    return -ENODEV;
}

} // namespace kestrane
