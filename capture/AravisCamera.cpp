// A GenICam camera (GigE Vision, USB3 Vision) through Aravis: 640 × 480 by binning and a centred region,
// a pixel format Kestrane converts, a pool of stream buffers with the newest complete frame for every grab,
// exposure time and gain for the source dialog, and the camera's loss noticed as an unplug.
#include "capture/AravisCamera.h"

#include "capture/FrameHandoff.h"
#include "capture/GenicamPixels.h"
#include "capture/GrabCounters.h"
#include "capture/YUVConverts.h"

#include <arv.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <vector>

namespace kestrane {

namespace {

constexpr std::int32_t kWidth = 640;
constexpr std::int32_t kHeight = 480;
constexpr int kBufferCount = 8;
constexpr int kDefaultPeriodUs = 40000;
// Without any buffer for this long (plus three frame periods) the camera is asked whether it is still there:
// one read of a register, which a camera that is there answers at once.
constexpr std::chrono::seconds kStallCheck{1};

// Collects the error of one Aravis call and frees it.
class ArvError {
  public:
    ArvError() = default;
    ArvError(const ArvError&) = delete;
    ArvError& operator=(const ArvError&) = delete;
    ~ArvError() { g_clear_error(&error_); }
    GError** out() {
        g_clear_error(&error_);
        return &error_;
    }
    bool failed() const { return error_ != nullptr; }
    std::string text() const { return error_ != nullptr ? error_->message : "unknown error"; }

  private:
    GError* error_ = nullptr;
};

void onControlLost(ArvDevice*, gpointer flag) {
    static_cast<std::atomic<bool>*>(flag)->store(true);
}

std::int32_t clampToInt(double value) {
    return static_cast<std::int32_t>(std::clamp(std::lround(value), long{INT_MIN}, long{INT_MAX}));
}

} // namespace

struct AravisCamera::Device {
    std::string requestedId;
    Prepare prepare;
    std::string id;
    std::string model;
    std::string failure;
    ArvCamera* camera = nullptr;
    ArvStream* stream = nullptr;
    gulong lostHandler = 0;
    std::atomic<bool> lost{false};
    std::vector<std::uint32_t> offered; // the formats Kestrane takes, in the camera's own order
    std::uint32_t format = 0;
    int binning = 1;
    int periodUs = kDefaultPeriodUs;
    std::size_t payload = 0; // bytes of each pool buffer
    std::vector<std::uint8_t> dib = std::vector<std::uint8_t>(dibImageBytes(kWidth, kHeight, 24));
    GenicamFrameNumbering numbering;
    std::chrono::steady_clock::time_point lastBuffer{};

    int fail(int result, const std::string& why) {
        closeCamera();
        failure = (id.empty() ? std::string("GenICam") : id) + ": " + why;
        return result;
    }

    void closeCamera() {
        stopStreaming();
        if (camera != nullptr) {
            if (lostHandler != 0) {
                g_signal_handler_disconnect(arv_camera_get_device(camera), lostHandler);
                lostHandler = 0;
            }
            g_object_unref(camera);
            camera = nullptr;
        }
    }

    // Binning 2 × 2 where the sensor offers it and keeps 640 × 480, then the centred region.
    int placeRegion() {
        ArvError error;
        gint sensorWidth = 0;
        gint sensorHeight = 0;
        arv_camera_get_sensor_size(camera, &sensorWidth, &sensorHeight, error.out());
        if (error.failed()) {
            return fail(-EIO, "cannot read the sensor size (" + error.text() + ")");
        }
        binning = 1;
        if (sensorWidth >= 2 * kWidth && sensorHeight >= 2 * kHeight &&
            arv_camera_is_binning_available(camera, nullptr)) {
            arv_camera_set_binning(camera, 2, 2, error.out());
            gint dx = 1;
            gint dy = 1;
            arv_camera_get_binning(camera, &dx, &dy, nullptr);
            binning = !error.failed() && dx == 2 && dy == 2 ? 2 : 1;
            if (binning == 1) {
                arv_camera_set_binning(camera, 1, 1, nullptr);
            }
        }
        const gint areaWidth = sensorWidth / binning;
        const gint areaHeight = sensorHeight / binning;
        if (areaWidth < kWidth || areaHeight < kHeight) {
            return fail(-EINVAL, "the sensor (" + std::to_string(sensorWidth) + " x " +
                                     std::to_string(sensorHeight) + ") is smaller than 640 x 480");
        }
        const auto centred = [](gint area, gint size, gint increment) {
            const gint offset = (area - size) / 2;
            return increment > 1 ? offset / increment * increment : offset;
        };
        const gint x = centred(areaWidth, kWidth, arv_camera_get_x_offset_increment(camera, nullptr));
        const gint y = centred(areaHeight, kHeight, arv_camera_get_y_offset_increment(camera, nullptr));
        arv_camera_set_region(camera, x, y, kWidth, kHeight, error.out());
        gint rx = 0;
        gint ry = 0;
        gint rw = 0;
        gint rh = 0;
        arv_camera_get_region(camera, &rx, &ry, &rw, &rh, nullptr);
        if (rw != kWidth || rh != kHeight) {
            return fail(
                -EINVAL,
                "cannot set a region of 640 x 480 (" +
                    (error.failed() ? error.text() : std::to_string(rw) + " x " + std::to_string(rh)) + ")");
        }
        return 0;
    }

    void readOffered() {
        offered.clear();
        guint count = 0;
        gint64* formats = arv_camera_dup_available_pixel_formats(camera, &count, nullptr);
        for (guint i = 0; i < count; ++i) {
            const auto code = static_cast<std::uint32_t>(formats[i]);
            if (genicamPixelFormat(code) != nullptr &&
                std::find(offered.begin(), offered.end(), code) == offered.end()) {
                offered.push_back(code);
            }
        }
        g_free(formats);
    }

    int applyFormat(std::uint32_t code) {
        ArvError error;
        arv_camera_set_pixel_format(camera, static_cast<ArvPixelFormat>(code), error.out());
        if (error.failed() || arv_camera_get_pixel_format(camera, nullptr) != code) {
            return -EINVAL;
        }
        format = code;
        return 0;
    }

    void readPeriod() {
        periodUs = kDefaultPeriodUs;
        if (arv_camera_is_frame_rate_available(camera, nullptr)) {
            ArvError error;
            const double rate = arv_camera_get_frame_rate(camera, error.out());
            if (!error.failed() && rate > 0.1) {
                periodUs = static_cast<int>(std::lround(1e6 / rate));
            }
        }
    }

    int startStreaming() {
        ArvError error;
        payload = arv_camera_get_payload(camera, error.out());
        if (error.failed() || payload == 0) {
            return -EIO;
        }
        stream = arv_camera_create_stream(camera, nullptr, nullptr, error.out());
        if (stream == nullptr) {
            return -EIO;
        }
        for (int i = 0; i < kBufferCount; ++i) {
            arv_stream_push_buffer(stream, arv_buffer_new_allocate(payload));
        }
        arv_camera_set_acquisition_mode(camera, ARV_ACQUISITION_MODE_CONTINUOUS, nullptr);
        arv_camera_start_acquisition(camera, error.out());
        if (error.failed()) {
            stopStreaming();
            return -EIO;
        }
        lastBuffer = std::chrono::steady_clock::now();
        return 0;
    }

    void stopStreaming() {
        if (stream == nullptr) {
            return;
        }
        if (!lost) {
            arv_camera_stop_acquisition(camera, nullptr);
        }
        g_object_unref(stream); // frees the buffers of its pool
        stream = nullptr;
    }

    // A camera that has sent nothing for a while is asked for a value; no answer means it is gone.
    void checkStalled() {
        if (std::chrono::steady_clock::now() - lastBuffer <
            kStallCheck + std::chrono::microseconds(3 * periodUs)) {
            return;
        }
        ArvError error;
        arv_camera_get_integer(camera, "Width", error.out());
        if (error.failed()) {
            lost = true;
        }
        lastBuffer = std::chrono::steady_clock::now();
    }

    // A buffer that holds a whole 640 × 480 picture in a format Kestrane takes.
    static bool complete(ArvBuffer* buffer) {
        const ArvBufferPayloadType type = arv_buffer_get_payload_type(buffer);
        return arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS &&
               (type == ARV_BUFFER_PAYLOAD_TYPE_IMAGE ||
                type == ARV_BUFFER_PAYLOAD_TYPE_EXTENDED_CHUNK_DATA) &&
               arv_buffer_get_image_width(buffer) == kWidth &&
               arv_buffer_get_image_height(buffer) == kHeight &&
               genicamPixelFormat(arv_buffer_get_image_pixel_format(buffer)) != nullptr;
    }

    void noteIncomplete() {
        numbering.noteIncomplete();
        grabCounters().incomplete.fetch_add(1, std::memory_order_relaxed);
    }
};

AravisCamera::AravisCamera(std::string deviceId, Prepare prepare) : device_(std::make_unique<Device>()) {
    device_->requestedId = std::move(deviceId);
    device_->prepare = std::move(prepare);
}

AravisCamera::~AravisCamera() {
    device_->closeCamera();
}

bool AravisCamera::supported() {
    return true;
}

std::string AravisCamera::firstDeviceId() {
    arv_update_device_list();
    if (arv_get_n_devices() == 0) {
        return {};
    }
    const char* id = arv_get_device_id(0);
    return id != nullptr ? id : "";
}

int AravisCamera::open() {
    Device& d = *device_;
    if (d.camera != nullptr) {
        return 0;
    }
    d.failure.clear();
    d.lost = false;
    d.numbering.reset();
    d.id = d.requestedId.empty() ? firstDeviceId() : d.requestedId;
    if (d.id.empty()) {
        d.failure = "no GenICam camera found";
        return -ENODEV;
    }
    ArvError error;
    d.camera = arv_camera_new(d.id.c_str(), error.out());
    if (d.camera == nullptr) {
        return d.fail(-ENODEV, error.text());
    }
    const char* model = arv_camera_get_model_name(d.camera, nullptr);
    d.model = model != nullptr ? model : "";
    d.lostHandler =
        g_signal_connect(arv_camera_get_device(d.camera), "control-lost", G_CALLBACK(onControlLost), &d.lost);
    if (const int placed = d.placeRegion(); placed < 0) {
        return placed;
    }
    d.readOffered();
    // Mono8 first where offered: the analysis reads eight bits, and it is the least to carry.
    bool settled = false;
    for (const GenicamPixelFormat& f : kGenicamPixelFormats) {
        if (!settled && std::find(d.offered.begin(), d.offered.end(), f.code) != d.offered.end()) {
            settled = d.applyFormat(f.code) == 0;
        }
    }
    if (!settled) {
        return d.fail(-EINVAL, "offers no pixel format Kestrane can take (Mono8, Mono10, Mono12, Mono16, "
                               "RGB8 or BGR8)");
    }
    if (d.prepare) {
        d.prepare(d.camera);
    }
    d.readPeriod();
    if (const int result = d.startStreaming(); result < 0) {
        return d.fail(result, "cannot stream");
    }
    return 0;
}

std::string AravisCamera::openFailure() const {
    return device_->failure;
}

std::string AravisCamera::description() const {
    const Device& d = *device_;
    if (d.model.empty()) {
        return d.id.empty() ? "GenICam camera" : d.id;
    }
    return d.model + " (" + d.id + ")";
}

std::vector<std::uint8_t> AravisCamera::videoFormat() const {
    if (device_->camera == nullptr) {
        return {};
    }
    return formatRequest(FormatOption{kBiRgb, 24, kWidth, kHeight, {}});
}

int AravisCamera::setVideoFormat(const std::uint8_t* header, std::size_t size) {
    Device& d = *device_;
    DibHeader request;
    if (d.camera == nullptr || d.lost || !readDibHeader(header, size, request) || request.width != kWidth ||
        std::abs(request.height) != kHeight) {
        return d.lost ? -ENODEV : -EINVAL;
    }
    // The frame Kestrane is handed is always 24-bit RGB; the camera's format is asked for by its number.
    if ((request.compression == kBiRgb && request.bitCount == 24) || request.compression == d.format) {
        return 0;
    }
    if (std::find(d.offered.begin(), d.offered.end(), request.compression) == d.offered.end()) {
        return -EINVAL;
    }
    const std::uint32_t previous = d.format;
    d.stopStreaming();
    int result = d.applyFormat(request.compression);
    if (result < 0) {
        d.applyFormat(previous);
    }
    const int streaming = d.startStreaming();
    return result < 0 ? result : streaming;
}

std::vector<FormatOption> AravisCamera::formatOptions() const {
    std::vector<FormatOption> options;
    for (const std::uint32_t code : device_->offered) {
        const GenicamPixelFormat* f = genicamPixelFormat(code);
        options.push_back({code, f->bitCount, kWidth, kHeight, f->name});
    }
    return options;
}

std::vector<SourceControl> AravisCamera::sourceControls() {
    Device& d = *device_;
    std::vector<SourceControl> controls;
    if (d.camera == nullptr || d.lost) {
        return controls;
    }
    // A feature with its bounds and value, on a scale of `unit` steps to one of the camera's.
    using Bounds = void (*)(ArvCamera*, double*, double*, GError**);
    using Value = double (*)(ArvCamera*, GError**);
    const auto add = [&](std::uint32_t id, const char* name, Bounds bounds, Value value, double unit) {
        ArvError error;
        double low = 0;
        double high = 0;
        bounds(d.camera, &low, &high, error.out());
        const std::int32_t now = clampToInt(value(d.camera, nullptr) * unit);
        if (!error.failed() && high > low) {
            controls.push_back({id, name, clampToInt(low * unit), clampToInt(high * unit), 1, now, now, {}});
        }
    };
    if (arv_camera_is_exposure_time_available(d.camera, nullptr)) {
        add(kExposureTime, "Exposure time (us)", arv_camera_get_exposure_time_bounds,
            arv_camera_get_exposure_time, 1);
    }
    if (arv_camera_is_gain_available(d.camera, nullptr)) {
        add(kGain, "Gain (x 0.01)", arv_camera_get_gain_bounds, arv_camera_get_gain, 100);
    }
    return controls;
}

int AravisCamera::setSourceControl(std::uint32_t id, std::int32_t value) {
    Device& d = *device_;
    if (d.camera == nullptr || d.lost) {
        return -ENODEV;
    }
    ArvError error;
    if (id == kExposureTime) {
        // A set exposure only holds once the camera stops choosing its own.
        if (arv_camera_is_exposure_auto_available(d.camera, nullptr)) {
            arv_camera_set_exposure_time_auto(d.camera, ARV_AUTO_OFF, nullptr);
        }
        arv_camera_set_exposure_time(d.camera, value, error.out());
        // A longer exposure may slow the camera down.
        d.readPeriod();
    } else if (id == kGain) {
        if (arv_camera_is_gain_auto_available(d.camera, nullptr)) {
            arv_camera_set_gain_auto(d.camera, ARV_AUTO_OFF, nullptr);
        }
        arv_camera_set_gain(d.camera, value / 100.0, error.out());
    } else {
        return -EINVAL;
    }
    return error.failed() ? -EINVAL : 0;
}

int AravisCamera::readFrame(FrameConsumer& consumer) {
    Device& d = *device_;
    if (d.lost) {
        return -ENODEV;
    }
    if (d.stream == nullptr) {
        return -EIO;
    }
    const auto timeout = std::chrono::microseconds(std::clamp(3 * d.periodUs, 100'000, 2'000'000));
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    ArvBuffer* newest = nullptr;
    // Take every buffer that is ready and keep the newest complete one; wait when none has come.
    for (;;) {
        ArvBuffer* buffer = arv_stream_try_pop_buffer(d.stream);
        if (buffer == nullptr && newest == nullptr) {
            const auto left = deadline - std::chrono::steady_clock::now();
            if (left > std::chrono::steady_clock::duration::zero()) {
                buffer = arv_stream_timeout_pop_buffer(
                    d.stream, static_cast<guint64>(
                                  std::chrono::duration_cast<std::chrono::microseconds>(left).count()));
            }
        }
        if (buffer == nullptr) {
            break;
        }
        d.lastBuffer = std::chrono::steady_clock::now();
        if (!Device::complete(buffer)) {
            d.noteIncomplete();
            arv_stream_push_buffer(d.stream, buffer);
            continue;
        }
        if (newest != nullptr) {
            arv_stream_push_buffer(d.stream, newest);
        }
        newest = buffer;
    }
    if (newest == nullptr) {
        d.checkStalled();
        return d.lost ? -ENODEV : -EAGAIN;
    }
    std::size_t size = 0;
    const auto* data = static_cast<const std::uint8_t*>(arv_buffer_get_image_data(newest, &size));
    if (size == 0) {
        // A picture the Fake camera's fill pattern drew carries no size: the whole pool buffer is its.
        size = d.payload;
    }
    const std::uint32_t code = arv_buffer_get_image_pixel_format(newest);
    gint padX = 0;
    gint padY = 0;
    arv_buffer_get_image_padding(newest, &padX, &padY);
    const std::size_t stride = static_cast<std::size_t>(kWidth) * genicamPixelFormat(code)->bitCount / 8 +
                               static_cast<std::size_t>(padX);
    const bool converted = genicamToDib24(code, data, size, kWidth, kHeight, stride, d.dib.data());
    const std::uint64_t frameId = arv_buffer_get_frame_id(newest);
    arv_stream_push_buffer(d.stream, newest);
    if (!converted) {
        d.noteIncomplete();
        return -EIO;
    }
    VideoHeader header;
    header.data = d.dib.data();
    header.bufferLength = static_cast<std::uint32_t>(d.dib.size());
    header.bytesUsed = header.bufferLength;
    header.timeCapturedMs = d.numbering.timeMs(frameId, d.periodUs);
    consumer.consume(header);
    return 0;
}

int AravisCamera::framePeriodUs() const {
    return device_->periodUs;
}

bool AravisCamera::lost() const {
    return device_->lost;
}

std::uint32_t AravisCamera::pixelFormat() const {
    return device_->format;
}

int AravisCamera::binning() const {
    return device_->binning;
}

} // namespace kestrane
