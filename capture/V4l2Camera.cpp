// A real camera through V4L2: 640 × 480 in a layout the program takes, memory-mapped streaming, the newest
// frame for every grab, and the device's controls for the source dialog.
#include "capture/V4l2Camera.h"

#include "capture/FrameHandoff.h"
#include "capture/YUVConverts.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace kestrane {

namespace {

constexpr std::int32_t kWantedWidth = 640;
constexpr std::int32_t kWantedHeight = 480;
constexpr std::uint32_t kBufferCount = 4;
constexpr int kDefaultPeriodUs = 33333;

// The device layouts the program takes, in the order it prefers them.
struct PixelLayout {
    std::uint32_t pixelFormat;
    DriverLayout driver; // what the program calls the same layout
};

constexpr std::array<PixelLayout, 8> kLayouts = {{
    {V4L2_PIX_FMT_BGR24, kDriverLayouts[0]},
    {V4L2_PIX_FMT_RGB24, kDriverLayouts[0]},
    {V4L2_PIX_FMT_YUYV, kDriverLayouts[2]},
    {V4L2_PIX_FMT_UYVY, kDriverLayouts[3]},
    {V4L2_PIX_FMT_YUV420, kDriverLayouts[6]},
    {V4L2_PIX_FMT_GREY, kDriverLayouts[7]},
    {V4L2_PIX_FMT_Y41P, kDriverLayouts[4]},
    {V4L2_PIX_FMT_YVU410, kDriverLayouts[5]},
}};

const PixelLayout* layoutOf(std::uint32_t pixelFormat) {
    const auto found = std::find_if(kLayouts.begin(), kLayouts.end(),
                                    [&](const PixelLayout& l) { return l.pixelFormat == pixelFormat; });
    return found == kLayouts.end() ? nullptr : &*found;
}

constexpr std::array<std::uint32_t, 9> kControlIds = {
    V4L2_CID_BRIGHTNESS, V4L2_CID_CONTRAST,          V4L2_CID_SATURATION, V4L2_CID_HUE,       V4L2_CID_GAMMA,
    V4L2_CID_GAIN,       V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE,   V4L2_CID_SHARPNESS,
};

class SystemIo : public V4l2Io {
  public:
    int open(const std::string& path) override {
        const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        return fd < 0 ? -errno : fd;
    }
    int close(int fd) override { return ::close(fd) < 0 ? -errno : 0; }
    int ioctl(int fd, unsigned long request, void* argument) override {
        int result = 0;
        do {
            result = ::ioctl(fd, request, argument);
        } while (result < 0 && errno == EINTR);
        return result < 0 ? -errno : 0;
    }
    void* mmap(int fd, std::size_t length, std::int64_t offset) override {
        void* address = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
        return address == MAP_FAILED ? nullptr : address;
    }
    int munmap(void* address, std::size_t length) override {
        return ::munmap(address, length) < 0 ? -errno : 0;
    }
    int poll(int fd, int timeoutMs) override {
        pollfd entry{fd, POLLIN, 0};
        const int result = ::poll(&entry, 1, timeoutMs);
        if (result < 0) {
            return -errno;
        }
        if (result == 0) {
            return 0;
        }
        return (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ? -EIO : 1;
    }
};

std::uint32_t captureCaps(const v4l2_capability& cap) {
    return (cap.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? cap.device_caps : cap.capabilities;
}

bool canStream(const v4l2_capability& cap) {
    const std::uint32_t caps = captureCaps(cap);
    return (caps & V4L2_CAP_VIDEO_CAPTURE) != 0 && (caps & V4L2_CAP_STREAMING) != 0;
}

} // namespace

std::unique_ptr<V4l2Io> systemV4l2Io() {
    return std::make_unique<SystemIo>();
}

struct V4l2Camera::Device {
    struct Buffer {
        void* address = nullptr;
        std::size_t length = 0;
    };

    std::string path;
    std::unique_ptr<V4l2Io> io;
    int fd = -1;
    bool lost = false;
    bool streaming = false;
    std::string card;
    // Why the last open failed, naming the device; empty after a successful one.
    std::string failure;
    std::vector<const PixelLayout*> offered;
    const PixelLayout* layout = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t bytesPerLine = 0;
    int periodUs = kDefaultPeriodUs;
    std::vector<Buffer> buffers;
    bool repack = false;
    std::vector<std::uint8_t>
        repacked; // the frame in the layout the program reads, when the device's differs

    int xioctl(unsigned long request, void* argument) {
        const int result = io->ioctl(fd, request, argument);
        if (result == -ENODEV) {
            lost = true;
        }
        return result;
    }

    // Closes the device after a failed open and keeps the reason for the operator.
    int fail(int result, const std::string& why) {
        closeDevice();
        failure = path + ": " + why;
        return result;
    }

    void closeDevice() {
        stopStreaming();
        if (fd >= 0) {
            io->close(fd);
        }
        fd = -1;
    }

    std::uint8_t code() const { return FormatCodeOf(layout->driver.compression); }

    // Bytes of a frame in the layout the program reads.
    std::size_t frameBytes() const {
        return code() == kFormatRgb ? dibImageBytes(width, height, 24) : yuvFrameBytes(code(), width, height);
    }

    // Row length of the first plane when nothing pads it.
    std::uint32_t tightLineBytes() const {
        switch (code()) {
        case kFormatRgb:
            return static_cast<std::uint32_t>(width) * 3;
        case kFormatYuy2:
        case kFormatUyvy:
            return static_cast<std::uint32_t>(width) * 2;
        case kFormatY41p:
            return static_cast<std::uint32_t>((width + 7) / 8 * 12);
        default:
            return static_cast<std::uint32_t>(width);
        }
    }

    int applyFormat(const PixelLayout& wanted, std::int32_t w, std::int32_t h) {
        v4l2_format format{};
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        format.fmt.pix.width = static_cast<std::uint32_t>(w);
        format.fmt.pix.height = static_cast<std::uint32_t>(h);
        format.fmt.pix.pixelformat = wanted.pixelFormat;
        format.fmt.pix.field = V4L2_FIELD_NONE;
        const int result = xioctl(VIDIOC_S_FMT, &format);
        if (result < 0) {
            return result;
        }
        if (format.fmt.pix.pixelformat != wanted.pixelFormat || format.fmt.pix.width == 0 ||
            format.fmt.pix.height == 0 ||
            dibImageBytes(static_cast<std::int32_t>(format.fmt.pix.width),
                          static_cast<std::int32_t>(format.fmt.pix.height), 32) == 0) {
            return -EINVAL;
        }
        layout = &wanted;
        width = static_cast<std::int32_t>(format.fmt.pix.width);
        height = static_cast<std::int32_t>(format.fmt.pix.height);
        bytesPerLine = format.fmt.pix.bytesperline != 0 ? format.fmt.pix.bytesperline : tightLineBytes();
        // RGB rows are turned into bottom-up BGR DIB rows; YUV frames only lose any row padding.
        repack = code() == kFormatRgb || bytesPerLine != tightLineBytes();
        repacked.assign(repack ? frameBytes() : 0, 0);
        return 0;
    }

    // The device's frame rate, when it tells it.
    void readPeriod() {
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        periodUs = kDefaultPeriodUs;
        if (xioctl(VIDIOC_G_PARM, &parm) == 0 && parm.parm.capture.timeperframe.denominator != 0 &&
            parm.parm.capture.timeperframe.numerator != 0) {
            periodUs = static_cast<int>(std::uint64_t{parm.parm.capture.timeperframe.numerator} * 1'000'000 /
                                        parm.parm.capture.timeperframe.denominator);
        }
    }

    int startStreaming() {
        v4l2_requestbuffers request{};
        request.count = kBufferCount;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        int result = xioctl(VIDIOC_REQBUFS, &request);
        if (result < 0) {
            return result;
        }
        if (request.count < 2) {
            return -ENOMEM;
        }
        streaming = true; // from here on stopStreaming releases what was set up
        for (std::uint32_t i = 0; i < request.count; ++i) {
            v4l2_buffer buffer{};
            buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer.memory = V4L2_MEMORY_MMAP;
            buffer.index = i;
            if ((result = xioctl(VIDIOC_QUERYBUF, &buffer)) < 0) {
                stopStreaming();
                return result;
            }
            void* address = io->mmap(fd, buffer.length, buffer.m.offset);
            if (address == nullptr) {
                stopStreaming();
                return -ENOMEM;
            }
            buffers.push_back({address, buffer.length});
        }
        for (std::uint32_t i = 0; i < buffers.size(); ++i) {
            if ((result = queue(i)) < 0) {
                stopStreaming();
                return result;
            }
        }
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if ((result = xioctl(VIDIOC_STREAMON, &type)) < 0) {
            stopStreaming();
            return result;
        }
        return 0;
    }

    void stopStreaming() {
        if (!streaming) {
            return;
        }
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        xioctl(VIDIOC_STREAMOFF, &type);
        for (const Buffer& buffer : buffers) {
            io->munmap(buffer.address, buffer.length);
        }
        buffers.clear();
        v4l2_requestbuffers release{};
        release.count = 0;
        release.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        release.memory = V4L2_MEMORY_MMAP;
        xioctl(VIDIOC_REQBUFS, &release);
        streaming = false;
    }

    int queue(std::uint32_t index) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = index;
        return xioctl(VIDIOC_QBUF, &buffer);
    }

    // Copies a device frame into the layout the program reads; false when the frame is too short for it.
    bool repackFrame(const std::uint8_t* data, std::size_t used) {
        const std::size_t line = bytesPerLine;
        const std::uint8_t c = code();
        const std::size_t w = static_cast<std::size_t>(width);
        const std::size_t h = static_cast<std::size_t>(height);
        std::uint8_t* out = repacked.data();
        if (c == kFormatRgb) {
            if (used < line * (h - 1) + 3 * w) {
                return false;
            }
            const std::size_t dibLine = static_cast<std::size_t>(DibRowBytes(width * 24));
            const bool swap = layout->pixelFormat == V4L2_PIX_FMT_RGB24;
            for (std::size_t y = 0; y < h; ++y) {
                const std::uint8_t* src = data + line * y;
                std::uint8_t* dst = out + dibLine * (h - 1 - y);
                for (std::size_t x = 0; x < w; ++x) {
                    dst[3 * x + 0] = src[3 * x + (swap ? 2 : 0)];
                    dst[3 * x + 1] = src[3 * x + 1];
                    dst[3 * x + 2] = src[3 * x + (swap ? 0 : 2)];
                }
            }
            return true;
        }
        // Planes: the first with `line` bytes a row, chroma planes with the same share of it as of the width.
        const std::size_t tight = tightLineBytes();
        const int block = c == kFormatI420 ? 2 : (c == kFormatYvu9 ? 4 : 0);
        const std::size_t chromaTight = block != 0 ? (w + block - 1) / block : 0;
        const std::size_t chromaLine = block != 0 ? line / static_cast<std::size_t>(block) : 0;
        const std::size_t chromaRows = block != 0 ? (h + block - 1) / block : 0;
        if (used < line * h + 2 * chromaLine * chromaRows || (block != 0 && chromaLine < chromaTight)) {
            return false;
        }
        for (std::size_t y = 0; y < h; ++y) {
            std::memcpy(out + tight * y, data + line * y, tight);
        }
        for (int plane = 0; plane < (block != 0 ? 2 : 0); ++plane) {
            const std::uint8_t* src =
                data + line * h + chromaLine * chromaRows * static_cast<std::size_t>(plane);
            std::uint8_t* dst = out + tight * h + chromaTight * chromaRows * static_cast<std::size_t>(plane);
            for (std::size_t y = 0; y < chromaRows; ++y) {
                std::memcpy(dst + chromaTight * y, src + chromaLine * y, chromaTight);
            }
        }
        return true;
    }

    bool offers(const PixelLayout& l) const {
        return std::find(offered.begin(), offered.end(), &l) != offered.end();
    }
};

V4l2Camera::V4l2Camera(std::string devicePath, std::unique_ptr<V4l2Io> io)
    : device_(std::make_unique<Device>()) {
    device_->path = std::move(devicePath);
    device_->io = std::move(io);
}

V4l2Camera::~V4l2Camera() {
    device_->closeDevice();
}

bool V4l2Camera::probe(const std::string& devicePath, V4l2Io& io) {
    const int fd = io.open(devicePath);
    if (fd < 0) {
        return false;
    }
    v4l2_capability cap{};
    const bool capture = io.ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0 && canStream(cap);
    io.close(fd);
    return capture;
}

int V4l2Camera::open() {
    Device& d = *device_;
    if (d.fd >= 0) {
        return 0;
    }
    d.failure.clear();
    d.fd = d.io->open(d.path);
    if (d.fd < 0) {
        const int failure = d.fd;
        d.fd = -1;
        return d.fail(failure, std::strerror(-failure));
    }
    v4l2_capability cap{};
    if (const int result = d.xioctl(VIDIOC_QUERYCAP, &cap); result < 0) {
        return d.fail(result, "not a video device (" + std::string(std::strerror(-result)) + ")");
    }
    if (!canStream(cap)) {
        return d.fail(-ENODEV, "not a video capture device that can stream");
    }
    d.card.assign(reinterpret_cast<const char*>(cap.card),
                  strnlen(reinterpret_cast<const char*>(cap.card), sizeof cap.card));

    d.offered.clear();
    for (std::uint32_t index = 0;; ++index) {
        v4l2_fmtdesc description{};
        description.index = index;
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (d.xioctl(VIDIOC_ENUM_FMT, &description) < 0) {
            break;
        }
        if (const PixelLayout* layout = layoutOf(description.pixelformat)) {
            d.offered.push_back(layout);
        }
    }

    // Any layout at exactly 640 × 480 beats a preferred layout at another size.
    bool settled = false;
    for (const bool exact : {true, false}) {
        for (const PixelLayout& layout : kLayouts) {
            if (settled || !d.offers(layout) || d.applyFormat(layout, kWantedWidth, kWantedHeight) < 0) {
                continue;
            }
            settled = !exact || (d.width == kWantedWidth && d.height == kWantedHeight);
        }
    }
    if (!settled) {
        return d.lost ? d.fail(-ENODEV, std::strerror(ENODEV))
                      : d.fail(-EINVAL, "offers no video format Kestrane can take (RGB, YUV or grey)");
    }
    d.readPeriod();
    if (const int result = d.startStreaming(); result < 0) {
        return d.fail(result, "cannot stream (" + std::string(std::strerror(-result)) + ")");
    }
    return 0;
}

std::string V4l2Camera::openFailure() const {
    return device_->failure;
}

std::string V4l2Camera::description() const {
    return device_->card.empty() ? device_->path : device_->card;
}

std::vector<std::uint8_t> V4l2Camera::videoFormat() const {
    const Device& d = *device_;
    if (d.layout == nullptr) {
        return {};
    }
    return formatRequest(
        FormatOption{d.layout->driver.compression, d.layout->driver.bitCount, d.width, d.height, {}});
}

int V4l2Camera::setVideoFormat(const std::uint8_t* header, std::size_t size) {
    Device& d = *device_;
    DibHeader request;
    if (d.fd < 0 || d.lost || !readDibHeader(header, size, request) || request.width <= 0 ||
        request.height == 0) {
        return d.lost ? -ENODEV : -EINVAL;
    }
    const std::int32_t height = request.height < 0 ? -request.height : request.height;
    const PixelLayout* wanted = nullptr;
    for (const PixelLayout* layout : d.offered) {
        if (layout->driver.compression == request.compression &&
            (layout->driver.bitCount == request.bitCount ||
             (layout->driver.compression != kBiRgb && request.bitCount == 0))) {
            wanted = layout;
            break;
        }
    }
    if (wanted == nullptr) {
        return -EINVAL;
    }
    if (wanted->driver.compression == d.layout->driver.compression && request.width == d.width &&
        height == d.height) {
        return 0;
    }
    const PixelLayout* previous = d.layout;
    const std::int32_t previousWidth = d.width;
    const std::int32_t previousHeight = d.height;
    d.stopStreaming();
    int result = d.applyFormat(*wanted, request.width, height);
    if (result == 0 && (d.width != request.width || d.height != height)) {
        result = -EINVAL;
    }
    if (result < 0) {
        d.applyFormat(*previous, previousWidth, previousHeight);
    }
    const int streaming = d.startStreaming();
    return result < 0 ? result : streaming;
}

std::vector<FormatOption> V4l2Camera::formatOptions() const {
    Device& d = *device_;
    std::vector<FormatOption> options;
    // The analysis takes 640 × 480 frames only; any other size would give maps without meaning.
    const auto add = [&](const PixelLayout& layout, std::uint32_t w, std::uint32_t h) {
        if (w != static_cast<std::uint32_t>(kWantedWidth) || h != static_cast<std::uint32_t>(kWantedHeight)) {
            return;
        }
        const FormatOption option{layout.driver.compression, layout.driver.bitCount,
                                  static_cast<std::int32_t>(w), static_cast<std::int32_t>(h),
                                  layout.driver.label};
        if (std::find(options.begin(), options.end(), option) == options.end()) {
            options.push_back(option);
        }
    };
    for (const PixelLayout* layout : d.offered) {
        for (std::uint32_t index = 0;; ++index) {
            v4l2_frmsizeenum size{};
            size.index = index;
            size.pixel_format = layout->pixelFormat;
            if (d.xioctl(VIDIOC_ENUM_FRAMESIZES, &size) < 0) {
                break;
            }
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                add(*layout, size.discrete.width, size.discrete.height);
                continue;
            }
            const v4l2_frmsize_stepwise& range = size.stepwise;
            if (range.min_width <= kWantedWidth && kWantedWidth <= range.max_width &&
                range.min_height <= kWantedHeight && kWantedHeight <= range.max_height) {
                add(*layout, kWantedWidth, kWantedHeight);
            }
            break;
        }
    }
    if (options.empty() && d.layout != nullptr) {
        add(*d.layout, static_cast<std::uint32_t>(d.width), static_cast<std::uint32_t>(d.height));
    }
    return options;
}

std::vector<SourceControl> V4l2Camera::sourceControls() {
    Device& d = *device_;
    std::vector<SourceControl> controls;
    if (d.fd < 0) {
        return controls;
    }
    for (const std::uint32_t id : kControlIds) {
        v4l2_queryctrl query{};
        query.id = id;
        if (d.xioctl(VIDIOC_QUERYCTRL, &query) < 0 || (query.flags & V4L2_CTRL_FLAG_DISABLED) != 0 ||
            (query.type != V4L2_CTRL_TYPE_INTEGER && query.type != V4L2_CTRL_TYPE_BOOLEAN)) {
            continue;
        }
        v4l2_control control{};
        control.id = id;
        const std::int32_t value =
            d.xioctl(VIDIOC_G_CTRL, &control) == 0 ? control.value : query.default_value;
        const auto* name = reinterpret_cast<const char*>(query.name);
        controls.push_back({id,
                            std::string(name, strnlen(name, sizeof query.name)),
                            query.minimum,
                            query.maximum,
                            query.step != 0 ? query.step : 1,
                            query.default_value,
                            value,
                            {}});
    }
    return controls;
}

int V4l2Camera::setSourceControl(std::uint32_t id, std::int32_t value) {
    Device& d = *device_;
    if (d.fd < 0) {
        return -ENODEV;
    }
    if (id == V4L2_CID_EXPOSURE_ABSOLUTE) {
        // A set exposure only takes effect once the camera stops choosing its own.
        v4l2_control manual{};
        manual.id = V4L2_CID_EXPOSURE_AUTO;
        manual.value = V4L2_EXPOSURE_MANUAL;
        d.xioctl(VIDIOC_S_CTRL, &manual);
    }
    v4l2_control control{};
    control.id = id;
    control.value = value;
    return d.xioctl(VIDIOC_S_CTRL, &control);
}

int V4l2Camera::readFrame(FrameConsumer& consumer) {
    Device& d = *device_;
    if (d.lost) {
        return -ENODEV;
    }
    if (!d.streaming) {
        return -EIO;
    }
    const int timeoutMs = std::clamp(3 * d.periodUs / 1000, 100, 2000);
    int newest = -1;
    std::uint32_t used = 0;
    std::uint32_t timeMs = 0;
    int pollFailures = 0;
    // Take every frame that is ready and keep the newest; wait a few frame periods when none is.
    for (;;) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        const int result = d.xioctl(VIDIOC_DQBUF, &buffer);
        if (result == 0) {
            if (buffer.index >= d.buffers.size()) {
                continue;
            }
            if ((buffer.flags & V4L2_BUF_FLAG_ERROR) != 0) {
                d.queue(buffer.index);
                continue;
            }
            if (newest >= 0) {
                d.queue(static_cast<std::uint32_t>(newest));
            }
            newest = static_cast<int>(buffer.index);
            used = buffer.bytesused != 0 ? buffer.bytesused : buffer.length;
            timeMs =
                static_cast<std::uint32_t>(buffer.timestamp.tv_sec * 1000 + buffer.timestamp.tv_usec / 1000);
            continue;
        }
        if (result != -EAGAIN) {
            if (newest >= 0) {
                d.queue(static_cast<std::uint32_t>(newest));
            }
            return result;
        }
        if (newest >= 0) {
            break;
        }
        const int ready = d.io->poll(d.fd, timeoutMs);
        if (ready == 0) {
            return -EAGAIN;
        }
        if (ready < 0 && ready != -EINTR && ++pollFailures > 1) {
            return ready;
        }
    }

    const Device::Buffer& buffer = d.buffers[static_cast<std::size_t>(newest)];
    const auto* data = static_cast<const std::uint8_t*>(buffer.address);
    std::size_t bytes = std::min<std::size_t>(used, buffer.length);
    bool complete = true;
    if (d.repack) {
        complete = d.repackFrame(data, bytes);
        data = d.repacked.data();
        bytes = d.repacked.size();
    }
    if (complete) {
        VideoHeader header;
        header.data = data;
        header.bufferLength = static_cast<std::uint32_t>(bytes);
        header.bytesUsed = static_cast<std::uint32_t>(bytes);
        header.timeCapturedMs = timeMs;
        consumer.consume(header);
    }
    // A failed requeue (the device going away) shows on the next read; this frame was delivered.
    d.queue(static_cast<std::uint32_t>(newest));
    return complete ? 0 : -EIO;
}

int V4l2Camera::framePeriodUs() const {
    return device_->periodUs;
}

bool V4l2Camera::lost() const {
    return device_->lost;
}

} // namespace kestrane
