// Which camera stands behind capture driver 0, chosen from the command line: a V4L2 device, the simulated
// camera or none.
#pragma once

#include "capture/CaptureDriver.h"

#include <string>
#include <vector>

namespace kestrane {

enum class CameraKind { V4l2, Simulated, Auto, None };

struct CameraOptions {
    CameraKind kind = CameraKind::V4l2;
    std::string device = "/dev/video0";
};

// Reads --camera=v4l2|simulated|auto|none and --device=PATH among the program's arguments, leaving every
// other word alone. False with the reason for a value it does not know; `options` then keeps its defaults.
bool parseCameraOptions(const std::vector<std::string>& arguments, CameraOptions& options,
                        std::string& error);

struct CameraSelection {
    CameraKind kind = CameraKind::None; // V4l2, Simulated or None: auto is settled
    std::string device;
    // The window caption must say so: its pictures are no sample.
    bool simulated() const { return kind == CameraKind::Simulated; }
};

// Settles auto: the V4L2 device when it is a streaming capture device, the simulated camera otherwise.
CameraSelection selectCamera(const CameraOptions& options);

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
