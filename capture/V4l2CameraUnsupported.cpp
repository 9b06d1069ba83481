// V4L2 cameras on systems without V4L2: the device never opens, so the program runs without live video.
#include "capture/V4l2Camera.h"

#include <cerrno>

namespace kestrane {

namespace {

class NoDeviceIo : public V4l2Io {
  public:
    int open(const std::string&) override { return -ENODEV; }
    int close(int) override { return 0; }
    int ioctl(int, unsigned long, void*) override { return -ENOTTY; }
    void* mmap(int, std::size_t, std::int64_t) override { return nullptr; }
    int munmap(void*, std::size_t) override { return 0; }
    int poll(int, int) override { return -ENODEV; }
};

} // namespace

std::unique_ptr<V4l2Io> systemV4l2Io() {
    return std::make_unique<NoDeviceIo>();
}

struct V4l2Camera::Device {};

V4l2Camera::V4l2Camera(std::string, std::unique_ptr<V4l2Io>) {}
V4l2Camera::~V4l2Camera() = default;
bool V4l2Camera::probe(const std::string&, V4l2Io&) {
    return false;
}
int V4l2Camera::open() {
    return -ENODEV;
}
std::string V4l2Camera::openFailure() const {
    return "V4L2 cameras are not supported on this system";
}
std::string V4l2Camera::description() const {
    return "V4L2 camera";
}
std::vector<std::uint8_t> V4l2Camera::videoFormat() const {
    return {};
}
int V4l2Camera::setVideoFormat(const std::uint8_t*, std::size_t) {
    return -ENODEV;
}
std::vector<FormatOption> V4l2Camera::formatOptions() const {
    return {};
}
std::vector<SourceControl> V4l2Camera::sourceControls() {
    return {};
}
int V4l2Camera::setSourceControl(std::uint32_t, std::int32_t) {
    return -ENODEV;
}
int V4l2Camera::readFrame(FrameConsumer&) {
    return -ENODEV;
}
int V4l2Camera::framePeriodUs() const {
    return 0;
}
bool V4l2Camera::lost() const {
    return true;
}

} // namespace kestrane
