// Which camera stands behind capture driver 0, chosen from the command line: a V4L2 device, a GenICam
// camera, the simulated camera or none.
#pragma once

#include "capture/CaptureDriver.h"

#include <functional>
#include <string>
#include <vector>

namespace kestrane {

enum class CameraKind { V4l2, Simulated, Auto, None, Genicam };

struct CameraOptions {
    CameraKind kind = CameraKind::V4l2;
    std::string device = "/dev/video0";
    // The Aravis device id of --camera=genicam:ID; empty for the first GenICam camera found.
    std::string genicamId{};
};

// Reads --camera=v4l2|genicam[:ID]|simulated|auto|none and --device=PATH among the program's arguments,
// leaving every other word alone. False with the reason for a value it does not know; `options` then keeps
// its defaults.
bool parseCameraOptions(const std::vector<std::string>& arguments, CameraOptions& options,
                        std::string& error);

struct CameraSelection {
    CameraKind kind = CameraKind::None; // V4l2, Genicam, Simulated or None: auto is settled
    std::string device;
    std::string genicamId{};
    // The window caption must say so: its pictures are no sample.
    bool simulated() const { return kind == CameraKind::Simulated; }
};

// How auto looks for cameras; tests replace both so that they never reach a device or the network.
struct CameraProbes {
    // Whether the path is a V4L2 capture device that can stream.
    std::function<bool(const std::string& devicePath)> v4l2;
    // The device id of the first GenICam camera, empty when there is none. GigE Vision discovery
    // broadcasts on every network interface.
    std::function<std::string()> genicam;
};

// The machine's own devices and network.
CameraProbes systemCameraProbes();

// Settles auto: the V4L2 device when it is a streaming capture device, else the first GenICam camera, else
// the simulated camera.
CameraSelection selectCamera(const CameraOptions& options, const CameraProbes& probes = systemCameraProbes());

// The backend of driver 0 for the selection; driver 0 of "none" never connects.
DriverFactory driverFactory(const CameraSelection& selection);

// A driver that never opens: the program without a camera.
class NoCamera : public CaptureDriver {
  public:
    int open() override;
    std::string description() const override { return "No camera"; }
    std::vector<std::uint8_t> videoFormat() const override { return {}; }
    int setVideoFormat(const std::uint8_t*, std::size_t) override;
    std::vector<FormatOption> formatOptions() const override { return {}; }
    std::vector<SourceControl> sourceControls() override { return {}; }
    int setSourceControl(std::uint32_t, std::int32_t) override;
    int readFrame(FrameConsumer&) override;
    int framePeriodUs() const override { return 0; }
};

} // namespace kestrane
