// GenICam cameras in a build without Aravis: the camera never opens and says why.
#include "capture/AravisCamera.h"

#include <cerrno>

namespace kestrane {

struct AravisCamera::Device {};

AravisCamera::AravisCamera(std::string, Prepare) {}
AravisCamera::~AravisCamera() = default;
bool AravisCamera::supported() {
    return false;
}
std::string AravisCamera::firstDeviceId() {
    return {};
}
int AravisCamera::open() {
    return -ENODEV;
}
std::string AravisCamera::openFailure() const {
    return "this build has no GenICam support";
}
std::string AravisCamera::description() const {
    return "GenICam camera";
}
std::vector<std::uint8_t> AravisCamera::videoFormat() const {
    return {};
}
int AravisCamera::setVideoFormat(const std::uint8_t*, std::size_t) {
    return -ENODEV;
}
std::vector<FormatOption> AravisCamera::formatOptions() const {
    return {};
}
std::vector<SourceControl> AravisCamera::sourceControls() {
    return {};
}
int AravisCamera::setSourceControl(std::uint32_t, std::int32_t) {
    return -ENODEV;
}
int AravisCamera::readFrame(FrameConsumer&) {
    return -ENODEV;
}
int AravisCamera::framePeriodUs() const {
    return 0;
}
bool AravisCamera::lost() const {
    return true;
}
std::uint32_t AravisCamera::pixelFormat() const {
    return 0;
}
int AravisCamera::binning() const {
    return 1;
}

} // namespace kestrane
