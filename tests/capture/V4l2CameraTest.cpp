// The V4L2 backend against a faked device: format negotiation, streaming with the newest frame, row
// repacking, controls, format changes, and a device that is unplugged or stalls.
#include "CaptureTestSupport.h"

#include "capture/FrameHandoff.h"
#include "capture/V4l2Camera.h"
#include "capture/YUVConverts.h"

#include <linux/videodev2.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <map>

namespace kestrane {
namespace {

constexpr int kFakeFd = 42;
constexpr std::uint32_t kOffsetStep = 0x100000;

// A V4L2 capture device in memory: it produces a frame whenever the camera waits for one.
class FakeDevice : public V4l2Io {
  public:
    struct Offer {
        std::uint32_t pixelFormat;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes;
    };
    std::vector<Offer> offers;
    std::uint32_t capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    std::uint32_t padding = 0; // bytes added to every line
    bool unplugged = false;
    bool stalled = false;
    int interruptions = 0;
    std::map<std::uint32_t, v4l2_queryctrl> controlInfo;
    std::map<std::uint32_t, std::int32_t> controls;
    std::vector<std::pair<std::uint32_t, std::int32_t>> controlWrites;

    bool opened = false;
    bool streaming = false;
    v4l2_pix_format format{};
    std::vector<std::vector<std::uint8_t>> buffers;
    std::deque<std::uint32_t> queued;
    std::deque<std::uint32_t> done;
    std::uint32_t sequence = 0;
    std::map<std::uint32_t, std::uint32_t> sequenceOf;
    int ioctlCalls = 0;

    // Frame content: line `line` of frame `seq` at byte `x`.
    static std::uint8_t pattern(std::uint32_t seq, std::uint32_t line, std::uint32_t x) {
        return static_cast<std::uint8_t>(seq * 31 + line * 7 + x);
    }

    void produce() {
        if (queued.empty()) {
            return;
        }
        const std::uint32_t index = queued.front();
        queued.pop_front();
        ++sequence;
        std::vector<std::uint8_t>& b = buffers[index];
        for (std::size_t at = 0; at < b.size(); ++at) {
            b[at] = pattern(sequence, static_cast<std::uint32_t>(at / format.bytesperline),
                            static_cast<std::uint32_t>(at % format.bytesperline));
        }
        sequenceOf[index] = sequence;
        done.push_back(index);
    }

    int open(const std::string& path) override {
        if (path != "/dev/fake0") {
            return -ENOENT;
        }
        opened = true;
        return kFakeFd;
    }
    int close(int) override {
        opened = false;
        return 0;
    }
    void* mmap(int, std::size_t length, std::int64_t offset) override {
        const auto index = static_cast<std::size_t>(offset / kOffsetStep);
        return index < buffers.size() && buffers[index].size() == length ? buffers[index].data() : nullptr;
    }
    int munmap(void*, std::size_t) override { return 0; }
    int poll(int, int) override {
        if (unplugged) {
            return -EIO;
        }
        if (interruptions > 0) {
            --interruptions;
            return -EINTR;
        }
        if (done.empty() && !stalled) {
            produce();
        }
        return done.empty() ? 0 : 1;
    }

    int ioctl(int fd, unsigned long request, void* argument) override {
        ++ioctlCalls;
        if (fd != kFakeFd || !opened) {
            return -EBADF;
        }
        if (unplugged) {
            return -ENODEV;
        }
        switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* cap = static_cast<v4l2_capability*>(argument);
            std::strcpy(reinterpret_cast<char*>(cap->card), "Fake camera");
            cap->capabilities = capabilities;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* d = static_cast<v4l2_fmtdesc*>(argument);
            if (d->index >= offers.size()) {
                return -EINVAL;
            }
            d->pixelformat = offers[d->index].pixelFormat;
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* s = static_cast<v4l2_frmsizeenum*>(argument);
            const Offer* offer = find(s->pixel_format);
            if (offer == nullptr || s->index >= offer->sizes.size()) {
                return -EINVAL;
            }
            s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            s->discrete.width = offer->sizes[s->index].first;
            s->discrete.height = offer->sizes[s->index].second;
            return 0;
        }
        case VIDIOC_S_FMT:
            return setFormat(static_cast<v4l2_format*>(argument)->fmt.pix);
        case VIDIOC_G_PARM: {
            auto* parm = static_cast<v4l2_streamparm*>(argument);
            parm->parm.capture.timeperframe = {1, 30};
            return 0;
        }
        case VIDIOC_REQBUFS: {
            auto* r = static_cast<v4l2_requestbuffers*>(argument);
            if (streaming) {
                return -EBUSY;
            }
            buffers.assign(r->count, std::vector<std::uint8_t>(format.sizeimage, 0));
            queued.clear();
            done.clear();
            return 0;
        }
        case VIDIOC_QUERYBUF: {
            auto* b = static_cast<v4l2_buffer*>(argument);
            if (b->index >= buffers.size()) {
                return -EINVAL;
            }
            b->length = static_cast<std::uint32_t>(buffers[b->index].size());
            b->m.offset = b->index * kOffsetStep;
            return 0;
        }
        case VIDIOC_QBUF:
            queued.push_back(static_cast<v4l2_buffer*>(argument)->index);
            return 0;
        case VIDIOC_DQBUF: {
            if (done.empty()) {
                return -EAGAIN;
            }
            auto* b = static_cast<v4l2_buffer*>(argument);
            b->index = done.front();
            b->bytesused = format.sizeimage;
            b->length = format.sizeimage;
            b->sequence = sequenceOf[b->index];
            done.pop_front();
            return 0;
        }
        case VIDIOC_STREAMON:
            streaming = true;
            return 0;
        case VIDIOC_STREAMOFF:
            streaming = false;
            queued.clear();
            done.clear();
            return 0;
        case VIDIOC_QUERYCTRL: {
            auto* q = static_cast<v4l2_queryctrl*>(argument);
            const auto found = controlInfo.find(q->id);
            if (found == controlInfo.end()) {
                return -EINVAL;
            }
            *q = found->second;
            return 0;
        }
        case VIDIOC_G_CTRL: {
            auto* c = static_cast<v4l2_control*>(argument);
            c->value = controls[c->id];
            return 0;
        }
        case VIDIOC_S_CTRL: {
            auto* c = static_cast<v4l2_control*>(argument);
            if (controlInfo.count(c->id) == 0) {
                return -EINVAL;
            }
            controls[c->id] = c->value;
            controlWrites.emplace_back(c->id, c->value);
            return 0;
        }
        default:
            return -ENOTTY;
        }
    }

    void addControl(std::uint32_t id, const char* name, std::int32_t low, std::int32_t high,
                    std::int32_t value, std::uint32_t type = V4L2_CTRL_TYPE_INTEGER) {
        v4l2_queryctrl q{};
        q.id = id;
        q.type = type;
        std::strcpy(reinterpret_cast<char*>(q.name), name);
        q.minimum = low;
        q.maximum = high;
        q.step = 1;
        q.default_value = value;
        controlInfo[id] = q;
        controls[id] = value;
    }

  private:
    const Offer* find(std::uint32_t pixelFormat) const {
        for (const Offer& offer : offers) {
            if (offer.pixelFormat == pixelFormat) {
                return &offer;
            }
        }
        return nullptr;
    }

    int setFormat(v4l2_pix_format& pix) {
        if (streaming) {
            return -EBUSY;
        }
        const Offer* offer = find(pix.pixelformat);
        if (offer == nullptr) {
            offer = &offers.front(); // drivers substitute a format of their own
        }
        auto best = offer->sizes.front();
        for (const auto& size : offer->sizes) {
            const auto distance = [&](const std::pair<std::uint32_t, std::uint32_t>& s) {
                return std::abs(static_cast<int>(s.first) - static_cast<int>(pix.width)) +
                       std::abs(static_cast<int>(s.second) - static_cast<int>(pix.height));
            };
            if (distance(size) < distance(best)) {
                best = size;
            }
        }
        pix.pixelformat = offer->pixelFormat;
        pix.width = best.first;
        pix.height = best.second;
        std::uint32_t tight = pix.width;
        std::uint32_t planes = pix.height; // lines of the first plane, then the chroma lines
        switch (pix.pixelformat) {
        case V4L2_PIX_FMT_BGR24:
        case V4L2_PIX_FMT_RGB24:
            tight = 3 * pix.width;
            break;
        case V4L2_PIX_FMT_YUYV:
        case V4L2_PIX_FMT_UYVY:
            tight = 2 * pix.width;
            break;
        case V4L2_PIX_FMT_YUV420:
            planes = pix.height + (pix.height + 1) / 2; // two half-width planes of half height
            break;
        default:
            break;
        }
        pix.bytesperline = tight + padding;
        pix.sizeimage = pix.bytesperline * planes;
        format = pix;
        return 0;
    }
};

// Receives frames for inspection.
class CopyingConsumer : public FrameConsumer {
  public:
    void consume(const VideoHeader& header) override {
        frame.assign(header.data, header.data + header.bytesUsed);
        ++frames;
    }
    std::vector<std::uint8_t> frame;
    int frames = 0;
};

constexpr std::pair<std::uint32_t, std::uint32_t> kVga{640, 480};

struct Camera {
    FakeDevice* device;
    std::unique_ptr<V4l2Camera> camera;
};

Camera fakeCamera(const std::vector<FakeDevice::Offer>& offers, std::uint32_t padding = 0) {
    auto device = std::make_unique<FakeDevice>();
    device->offers = offers;
    device->padding = padding;
    FakeDevice* raw = device.get();
    return {raw, std::make_unique<V4l2Camera>("/dev/fake0", std::move(device))};
}

DibHeader formatOf(const V4l2Camera& camera) {
    DibHeader header;
    const std::vector<std::uint8_t> format = camera.videoFormat();
    EXPECT_TRUE(readDibHeader(format.data(), format.size(), header));
    return header;
}

struct NegotiationCase {
    const char* name;
    std::vector<FakeDevice::Offer> offers;
    std::uint32_t compression;
    std::uint16_t bitCount;
    std::int32_t width, height;
};

class Negotiation : public ::testing::TestWithParam<NegotiationCase> {};

TEST_P(Negotiation, SettlesOnALayoutTheProgramTakes) {
    const NegotiationCase& c = GetParam();
    Camera cam = fakeCamera(c.offers);
    ASSERT_EQ(cam.camera->open(), 0);
    const DibHeader header = formatOf(*cam.camera);
    EXPECT_EQ(header.compression, c.compression);
    EXPECT_EQ(header.bitCount, c.bitCount);
    EXPECT_EQ(header.width, c.width);
    EXPECT_EQ(header.height, c.height) << "positive: the frames arrive bottom-up";
    EXPECT_TRUE(cam.device->streaming);
    EXPECT_EQ(cam.device->queued.size(), 4u);
    EXPECT_EQ(cam.camera->framePeriodUs(), 33333);
}

INSTANTIATE_TEST_SUITE_P(
    Offers, Negotiation,
    ::testing::Values(NegotiationCase{"rgb_before_yuv",
                                      {{V4L2_PIX_FMT_MJPEG, {kVga}},
                                       {V4L2_PIX_FMT_YUYV, {kVga}},
                                       {V4L2_PIX_FMT_BGR24, {kVga}}},
                                      kBiRgb,
                                      24,
                                      640,
                                      480},
                      NegotiationCase{"yuyv_beside_jpeg",
                                      {{V4L2_PIX_FMT_MJPEG, {kVga}}, {V4L2_PIX_FMT_YUYV, {kVga, {320, 240}}}},
                                      kFourCcYuy2,
                                      16,
                                      640,
                                      480},
                      NegotiationCase{"exact_size_beats_preferred_layout",
                                      {{V4L2_PIX_FMT_BGR24, {{1280, 720}}}, {V4L2_PIX_FMT_UYVY, {kVga}}},
                                      kFourCcUyvy,
                                      16,
                                      640,
                                      480},
                      NegotiationCase{"other_size_when_nothing_does_vga",
                                      {{V4L2_PIX_FMT_YUV420, {{352, 288}}}},
                                      kFourCcI420,
                                      12,
                                      352,
                                      288},
                      NegotiationCase{"grey", {{V4L2_PIX_FMT_GREY, {kVga}}}, kFourCcY8, 8, 640, 480}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(V4l2Camera, DeviceWithoutATakenLayoutIsRefused) {
    Camera cam = fakeCamera({{V4L2_PIX_FMT_MJPEG, {kVga}}, {V4L2_PIX_FMT_H264, {kVga}}});
    EXPECT_EQ(cam.camera->open(), -EINVAL);
    EXPECT_FALSE(cam.device->opened);
    EXPECT_FALSE(cam.device->streaming);
    CopyingConsumer consumer;
    EXPECT_LT(cam.camera->readFrame(consumer), 0);
    EXPECT_EQ(consumer.frames, 0);
}

TEST(V4l2Camera, OnlyStreamingCaptureDevicesAreTaken) {
    FakeDevice device;
    device.offers = {{V4L2_PIX_FMT_YUYV, {kVga}}};
    EXPECT_TRUE(V4l2Camera::probe("/dev/fake0", device));
    EXPECT_FALSE(V4l2Camera::probe("/dev/fake1", device));
    device.capabilities = V4L2_CAP_VIDEO_CAPTURE; // no streaming
    EXPECT_FALSE(V4l2Camera::probe("/dev/fake0", device));

    Camera cam = fakeCamera({{V4L2_PIX_FMT_YUYV, {kVga}}});
    cam.device->capabilities = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_STREAMING;
    EXPECT_EQ(cam.camera->open(), -ENODEV);
    EXPECT_FALSE(cam.device->opened);
}

// RGB lines come top-down in the device's byte order; the program takes bottom-up BGR rows.
TEST(V4l2Camera, RgbFramesBecomeBottomUpBgrRows) {
    for (const std::uint32_t pixelFormat : {V4L2_PIX_FMT_BGR24, V4L2_PIX_FMT_RGB24}) {
        Camera cam = fakeCamera({{pixelFormat, {{8, 4}}}}, 4);
        ASSERT_EQ(cam.camera->open(), 0);
        CopyingConsumer consumer;
        ASSERT_EQ(cam.camera->readFrame(consumer), 0);
        const std::uint32_t seq = cam.device->sequence;
        ASSERT_EQ(consumer.frame.size(), 4u * DibRowBytes(8 * 24));
        for (std::uint32_t line = 0; line < 4; ++line) {
            const std::uint8_t* row = consumer.frame.data() + (3 - line) * DibRowBytes(8 * 24);
            for (std::uint32_t x = 0; x < 8; ++x) {
                const bool swap = pixelFormat == V4L2_PIX_FMT_RGB24;
                EXPECT_EQ(row[3 * x + 0], FakeDevice::pattern(seq, line, 3 * x + (swap ? 2 : 0)));
                EXPECT_EQ(row[3 * x + 1], FakeDevice::pattern(seq, line, 3 * x + 1));
                EXPECT_EQ(row[3 * x + 2], FakeDevice::pattern(seq, line, 3 * x + (swap ? 0 : 2)));
            }
        }
    }
}

TEST(V4l2Camera, PaddedYuvLinesAreClosedUp) {
    Camera cam = fakeCamera({{V4L2_PIX_FMT_YUYV, {{6, 3}}}}, 20);
    ASSERT_EQ(cam.camera->open(), 0);
    CopyingConsumer consumer;
    ASSERT_EQ(cam.camera->readFrame(consumer), 0);
    ASSERT_EQ(consumer.frame.size(), yuvFrameBytes(kFormatYuy2, 6, 3));
    for (std::uint32_t line = 0; line < 3; ++line) {
        for (std::uint32_t x = 0; x < 12; ++x) {
            EXPECT_EQ(consumer.frame[line * 12 + x], FakeDevice::pattern(cam.device->sequence, line, x));
        }
    }
}

TEST(V4l2Camera, GrabHandsOverTheNewestFrameAndRequeuesTheRest) {
    Camera cam = fakeCamera({{V4L2_PIX_FMT_GREY, {{4, 2}}}});
    ASSERT_EQ(cam.camera->open(), 0);
    for (int i = 0; i < 3; ++i) {
        cam.device->produce();
    }
    CopyingConsumer consumer;
    ASSERT_EQ(cam.camera->readFrame(consumer), 0);
    EXPECT_EQ(consumer.frames, 1);
    EXPECT_EQ(consumer.frame[0], FakeDevice::pattern(3, 0, 0));
    EXPECT_EQ(cam.device->queued.size(), 4u);
    EXPECT_TRUE(cam.device->done.empty());
}

TEST(V4l2Camera, InterruptedWaitGoesOnAndAStalledCameraTimesOut) {
    Camera cam = fakeCamera({{V4L2_PIX_FMT_YUYV, {kVga}}});
    ASSERT_EQ(cam.camera->open(), 0);
    cam.device->interruptions = 2;
    CopyingConsumer consumer;
    EXPECT_EQ(cam.camera->readFrame(consumer), 0);
    cam.device->stalled = true;
    EXPECT_EQ(cam.camera->readFrame(consumer), -EAGAIN);
    EXPECT_EQ(consumer.frames, 1);
    EXPECT_FALSE(cam.camera->lost());
}

TEST(V4l2Camera, UnpluggedDeviceIsLostForGood) {
    Camera cam = fakeCamera({{V4L2_PIX_FMT_YUYV, {kVga}}});
    ASSERT_EQ(cam.camera->open(), 0);
    cam.device->unplugged = true;
    CopyingConsumer consumer;
    EXPECT_EQ(cam.camera->readFrame(consumer), -ENODEV);
    EXPECT_TRUE(cam.camera->lost());
    const int calls = cam.device->ioctlCalls;
    EXPECT_EQ(cam.camera->readFrame(consumer), -ENODEV);
    EXPECT_EQ(cam.device->ioctlCalls, calls);
    EXPECT_EQ(consumer.frames, 0);
}

TEST(V4l2Camera, SourceControlsAndManualExposure) {
    Camera cam = fakeCamera({{V4L2_PIX_FMT_YUYV, {kVga}}});
    cam.device->addControl(V4L2_CID_BRIGHTNESS, "Brightness", 0, 255, 128);
    cam.device->addControl(V4L2_CID_EXPOSURE_ABSOLUTE, "Exposure (Absolute)", 3, 2047, 250);
    cam.device->addControl(V4L2_CID_EXPOSURE_AUTO, "Auto Exposure", 0, 3, V4L2_EXPOSURE_APERTURE_PRIORITY,
                           V4L2_CTRL_TYPE_MENU);
    ASSERT_EQ(cam.camera->open(), 0);
    const std::vector<SourceControl> controls = cam.camera->sourceControls();
    ASSERT_EQ(controls.size(), 2u) << "menus are not offered";
    EXPECT_EQ(controls[0].name, "Brightness");
    EXPECT_EQ(controls[0].value, 128);
    EXPECT_EQ(controls[1].name, "Exposure (Absolute)");
    EXPECT_EQ(controls[1].maximum, 2047);

    ASSERT_EQ(cam.camera->setSourceControl(V4L2_CID_EXPOSURE_ABSOLUTE, 100), 0);
    const std::vector<std::pair<std::uint32_t, std::int32_t>> expected = {
        {V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL}, {V4L2_CID_EXPOSURE_ABSOLUTE, 100}};
    EXPECT_EQ(cam.device->controlWrites, expected);
}

TEST(V4l2Camera, FormatChangesAreNegotiatedOrRefused) {
    Camera cam = fakeCamera({{V4L2_PIX_FMT_YUYV, {kVga, {320, 240}}}, {V4L2_PIX_FMT_UYVY, {kVga}}});
    ASSERT_EQ(cam.camera->open(), 0);
    // Only 640 × 480 is offered: the device's 320 × 240 would give maps without meaning.
    const std::vector<FormatOption> options = cam.camera->formatOptions();
    ASSERT_EQ(options.size(), 2u);
    EXPECT_EQ(options[0].label, "YUY2");
    EXPECT_EQ(options[1].compression, kFourCcUyvy);
    for (const FormatOption& option : options) {
        EXPECT_EQ(std::pair(option.width, option.height), std::pair(640, 480)) << option.label;
    }

    const std::vector<std::uint8_t> uyvy = formatRequest(options[1]);
    ASSERT_EQ(cam.camera->setVideoFormat(uyvy.data(), uyvy.size()), 0);
    EXPECT_EQ(formatOf(*cam.camera).compression, kFourCcUyvy);

    const std::vector<std::uint8_t> tooBig = formatRequest({kFourCcUyvy, 16, 1920, 1080, {}});
    EXPECT_EQ(cam.camera->setVideoFormat(tooBig.data(), tooBig.size()), -EINVAL);
    const std::vector<std::uint8_t> rgb = formatRequest({kBiRgb, 24, 640, 480, {}});
    EXPECT_EQ(cam.camera->setVideoFormat(rgb.data(), rgb.size()), -EINVAL);
    const DibHeader kept = formatOf(*cam.camera);
    EXPECT_EQ(kept.compression, kFourCcUyvy);
    EXPECT_EQ(kept.width, 640);
    EXPECT_TRUE(cam.device->streaming);
    CopyingConsumer consumer;
    EXPECT_EQ(cam.camera->readFrame(consumer), 0);
    EXPECT_EQ(consumer.frame.size(), 640u * 480 * 2);
}

// The whole road of a V4L2 frame: start-up through the capture connection, grab, and the bitmap a consumer
// loads, here from a planar layout.
TEST(V4l2Camera, FramesReachTheConsumerThroughTheConnection) {
    test::ConnectionRig rig([](int index) -> std::unique_ptr<CaptureDriver> {
        if (index != 0) {
            return nullptr;
        }
        auto device = std::make_unique<FakeDevice>();
        device->offers = {{V4L2_PIX_FMT_YUV420, {kVga}}};
        return std::make_unique<V4l2Camera>("/dev/fake0", std::move(device));
    });
    rig.start();
    EXPECT_EQ(rig.state->CaptureReady, 1);
    EXPECT_EQ(rig.connection->FrameFormat, kFormatI420);
    Bitmap frame;
    std::string error;
    ASSERT_TRUE(rig.connection->grabFrame(frame, error)) << error;
    EXPECT_EQ(frame.bitsPerPixel(), 32);
    EXPECT_EQ(frame.width(), 640);
}

} // namespace
} // namespace kestrane
