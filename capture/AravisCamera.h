// A GenICam camera (GigE Vision, USB3 Vision) through Aravis: 640 × 480 by binning and a centred region,
// a pixel format Kestrane converts, a pool of stream buffers with the newest complete frame for every grab,
// exposure time and gain for the source dialog, and the camera's loss noticed as an unplug.
#pragma once

#include "capture/CaptureDriver.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct _ArvCamera;

namespace kestrane {

class AravisCamera : public CaptureDriver {
  public:
    // Runs on the opened camera before it streams (tests give Aravis's Fake camera a picture here).
    using Prepare = std::function<void(_ArvCamera* camera)>;

    // The camera of Aravis device id `deviceId`; an empty id takes the first camera found.
    explicit AravisCamera(std::string deviceId, Prepare prepare = {});
    ~AravisCamera() override;

    // False when the program was built without GenICam support.
    static bool supported();
    // The device id of the first camera found on the enabled interfaces, empty when there is none. GigE
    // Vision discovery broadcasts on every network interface of the machine.
    static std::string firstDeviceId();

    int open() override;
    std::string openFailure() const override;
    std::string description() const override;
    std::vector<std::uint8_t> videoFormat() const override;
    int setVideoFormat(const std::uint8_t* header, std::size_t size) override;
    std::vector<FormatOption> formatOptions() const override;
    std::vector<SourceControl> sourceControls() override;
    int setSourceControl(std::uint32_t id, std::int32_t value) override;
    int readFrame(FrameConsumer& consumer) override;
    int framePeriodUs() const override;
    bool lost() const override;

    // Source control ids: exposure time in µs, gain in hundredths of the camera's unit.
    static constexpr std::uint32_t kExposureTime = 1;
    static constexpr std::uint32_t kGain = 2;
    // The camera's pixel format now, as its GenICam number (0 before open).
    std::uint32_t pixelFormat() const;
    // The binning in force on each axis (1 without).
    int binning() const;

  private:
    struct Device;
    std::unique_ptr<Device> device_;
};

} // namespace kestrane
