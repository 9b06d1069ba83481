// A real camera through V4L2: 640 × 480 in a layout the program takes, memory-mapped streaming, the newest
// frame for every grab, and the device's controls for the source dialog.
#pragma once

#include "capture/CaptureDriver.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrane {

// Every call the camera makes to the device goes through here, so tests can stand in for the device.
class V4l2Io {
  public:
    virtual ~V4l2Io() = default;
    // A descriptor opened read-write and non-blocking, or -errno.
    virtual int open(const std::string& path) = 0;
    virtual int close(int fd) = 0;
    // 0, or -errno; an interrupted call is repeated.
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    // The mapping of a buffer, or null.
    virtual void* mmap(int fd, std::size_t length, std::int64_t offset) = 0;
    virtual int munmap(void* address, std::size_t length) = 0;
    // 1 when a frame is ready, 0 on time-out, -errno on failure (-EINTR when interrupted).
    virtual int poll(int fd, int timeoutMs) = 0;
};

// The operating system's device calls.
std::unique_ptr<V4l2Io> systemV4l2Io();

class V4l2Camera : public CaptureDriver {
  public:
    explicit V4l2Camera(std::string devicePath, std::unique_ptr<V4l2Io> io = systemV4l2Io());
    ~V4l2Camera() override;

    // Whether the path is a video capture device that can stream.
    static bool probe(const std::string& devicePath, V4l2Io& io);

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

  private:
    struct Device;
    std::unique_ptr<Device> device_;
};

} // namespace kestrane
