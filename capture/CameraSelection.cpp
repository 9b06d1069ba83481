// Which camera stands behind capture driver 0, chosen from the command line: a V4L2 device, a GenICam
// camera, the simulated camera or none.
#include "capture/CameraSelection.h"

#include "capture/AravisCamera.h"
#include "capture/SimulatedCamera.h"
#include "capture/V4l2Camera.h"

#include <cerrno>
#include <string_view>

namespace kestrane {

bool parseCameraOptions(const std::vector<std::string>& arguments, CameraOptions& options,
                        std::string& error) {
    constexpr std::string_view kCamera = "--camera=";
    constexpr std::string_view kDevice = "--device=";
    constexpr std::string_view kGenicam = "genicam";
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
            } else if (value == kGenicam || value.starts_with("genicam:")) {
                parsed.kind = CameraKind::Genicam;
                parsed.genicamId = value == kGenicam ? "" : std::string(value.substr(kGenicam.size() + 1));
                if (value != kGenicam && parsed.genicamId.empty()) {
                    error = "--camera=genicam: needs a device id";
                    return false;
                }
            } else {
                error = "unknown camera \"" + std::string(value) +
                        "\" (v4l2, genicam, genicam:ID, simulated, auto or none)";
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

CameraProbes systemCameraProbes() {
    return CameraProbes{[](const std::string& devicePath) {
                            const std::unique_ptr<V4l2Io> io = systemV4l2Io();
                            return V4l2Camera::probe(devicePath, *io);
                        },
                        [] { return AravisCamera::firstDeviceId(); }};
}

CameraSelection selectCamera(const CameraOptions& options, const CameraProbes& probes) {
    CameraSelection selection{options.kind, options.device, options.genicamId};
    if (options.kind != CameraKind::Auto) {
        return selection;
    }
    if (probes.v4l2 && probes.v4l2(options.device)) {
        selection.kind = CameraKind::V4l2;
    } else if (std::string id = probes.genicam ? probes.genicam() : std::string(); !id.empty()) {
        selection.kind = CameraKind::Genicam;
        selection.genicamId = std::move(id);
    } else {
        selection.kind = CameraKind::Simulated;
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
        case CameraKind::Genicam:
            return std::make_unique<AravisCamera>(selection.genicamId);
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
