// One live frame end to end, per driver layout: from the driver's bytes through the conversion or copy into
// the frame stream, the bitmap load, the flat field and the analysis to the three rendered maps with both
// azimuth overlays (the window's painting is not included). The frames are the simulated camera's; the
// GenICam path takes them as a camera's Mono8 pictures through the GenICam backend's conversion.
#include "analysis/FlatField.h"
#include "analysis/FrameAnalysis.h"
#include "analysis/MapRendering.h"
#include "capture/CaptureConnection.h"
#include "capture/CaptureWindowMessages.h"
#include "capture/FrameHandoff.h"
#include "capture/GenicamPixels.h"
#include "capture/SimulatedCamera.h"
#include "capture/YUVConverts.h"

#include "InstantClock.h"

#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace kestrane;

// Replays one recorded driver frame of a format on every read.
class ReplayDriver : public CaptureDriver {
  public:
    ReplayDriver(std::vector<std::uint8_t> format, std::vector<std::uint8_t> frame)
        : format_(std::move(format)), frame_(std::move(frame)) {}
    int open() override { return 0; }
    std::string description() const override { return "replay"; }
    std::vector<std::uint8_t> videoFormat() const override { return format_; }
    int setVideoFormat(const std::uint8_t*, std::size_t) override { return 0; }
    std::vector<FormatOption> formatOptions() const override { return {}; }
    std::vector<SourceControl> sourceControls() override { return {}; }
    int setSourceControl(std::uint32_t, std::int32_t) override { return 0; }
    int readFrame(FrameConsumer& consumer) override {
        VideoHeader header;
        header.data = frame_.data();
        header.bufferLength = static_cast<std::uint32_t>(frame_.size());
        header.bytesUsed = header.bufferLength;
        consumer.consume(header);
        return 0;
    }
    int framePeriodUs() const override { return SimulatedCamera::kFramePeriodUs; }

  protected:
    std::vector<std::uint8_t> format_;
    std::vector<std::uint8_t> frame_;
};

// A GenICam camera replaying one Mono8 picture: every read converts it as the GenICam backend does.
class GenicamReplayDriver : public ReplayDriver {
  public:
    explicit GenicamReplayDriver(std::vector<std::uint8_t> mono8)
        : ReplayDriver(formatRequest({kBiRgb, 24, 640, 480, {}}),
                       std::vector<std::uint8_t>(dibImageBytes(640, 480, 24))),
          mono8_(std::move(mono8)) {}
    int readFrame(FrameConsumer& consumer) override {
        genicamToDib24(kGenicamPixelFormats[0].code, mono8_.data(), mono8_.size(), 640, 480, 640,
                       frame_.data());
        return ReplayDriver::readFrame(consumer);
    }

  private:
    std::vector<std::uint8_t> mono8_;
};

struct Recorder : FrameConsumer {
    std::vector<std::uint8_t> bytes;
    void consume(const VideoHeader& header) override {
        bytes.assign(header.data, header.data + header.bytesUsed);
    }
};

// The simulated camera's picture as a Mono8 GenICam camera sends it (640 × 480, top line first).
std::vector<std::uint8_t> mono8Picture(bool sampleIn) {
    SimulatedCamera camera(SimulatedCamera::grainRegions(), SimulatedCamera::kVignetting,
                           std::make_shared<InstantClock>());
    camera.open();
    camera.setSourceControl(SimulatedCamera::kSampleInBeam, sampleIn ? 1 : 0);
    return camera.renderReference(0);
}

// A frame of the simulated camera in a layout: with the sample out of the beam (the background) or in it.
std::vector<std::uint8_t> cameraFrame(const DriverLayout& layout, bool sampleIn) {
    SimulatedCamera camera(SimulatedCamera::grainRegions(), SimulatedCamera::kVignetting,
                           std::make_shared<InstantClock>());
    camera.open();
    const std::vector<std::uint8_t> request =
        formatRequest({layout.compression, layout.bitCount, 640, 480, {}});
    camera.setVideoFormat(request.data(), request.size());
    camera.setSourceControl(SimulatedCamera::kSampleInBeam, sampleIn ? 1 : 0);
    Recorder recorder;
    camera.readFrame(recorder);
    return recorder.bytes;
}

// The program's capture connection over a driver that replays `frame`.
struct Connection {
    std::unique_ptr<MeasurementState> state = std::make_unique<MeasurementState>();
    std::unique_ptr<CaptureWindowMessages> window;
    std::unique_ptr<CaptureConnection> connection = std::make_unique<CaptureConnection>(*state);

    Connection(const DriverLayout& layout, std::vector<std::uint8_t> frame)
        : Connection([format = formatRequest({layout.compression, layout.bitCount, 640, 480, {}}),
                      bytes = std::move(frame)] { return std::make_unique<ReplayDriver>(format, bytes); }) {}
    explicit Connection(std::vector<std::uint8_t> mono8)
        : Connection(
              [picture = std::move(mono8)] { return std::make_unique<GenicamReplayDriver>(picture); }) {}
    explicit Connection(std::function<std::unique_ptr<CaptureDriver>()> driver) {
        window = std::make_unique<CaptureWindowMessages>(
            [driver = std::move(driver)](int index) -> std::unique_ptr<CaptureDriver> {
                return index == 0 ? driver() : nullptr;
            });
        connection->FormCreate([this] { return window.get(); });
    }
    ~Connection() { connection.reset(); }
};

struct LiveRig {
    Connection live;
    MeasurementState& state = *live.state;
    Bitmap frame;
    Bitmap sinD{kMapWidth, kMapHeight, 32};
    Bitmap extinction{kMapWidth, kMapHeight, 32};
    Bitmap transmission{kMapWidth, kMapHeight, 32};

    explicit LiveRig(const DriverLayout& layout) : live(layout, cameraFrame(layout, true)) {
        recordFlatField(Connection(layout, cameraFrame(layout, false)));
    }
    // A Mono8 GenICam camera.
    LiveRig() : live(mono8Picture(true)) { recordFlatField(Connection(mono8Picture(false))); }

    // The flat field from the bare light, as "Intensitycorrection" records it.
    void recordFlatField(Connection&& bare) {
        buildTables(state.tables);
        Bitmap background;
        std::string error;
        bare.connection->grabFrame(background, error);
        computeFlatFieldGains(background, state);
        state.FlatFieldOn = 1;
    }

    void pass() {
        std::string error;
        live.connection->grabFrame(frame, error);
        state.FramePixels = BmpToArray(frame);
        analyseFrame(frame.view(), state);
        renderSinD(state, sinD.view());
        drawAzimuth(state.ExtinctionMap, sinD.view(), kOverlayBlack);
        renderExtinction(state, extinction.view());
        drawAzimuth(state.ExtinctionMap, extinction.view(), kOverlayWhite);
        renderTransmission(state, transmission.view());
        state.FramePixels = nullptr;
    }
};

void livePass(benchmark::State& run, const DriverLayout* layout) {
    const std::unique_ptr<LiveRig> rig =
        layout != nullptr ? std::make_unique<LiveRig>(*layout) : std::make_unique<LiveRig>();
    for (auto _ : run) {
        rig->pass();
        benchmark::DoNotOptimize(rig->transmission.bits());
    }
    run.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(run.iterations()), benchmark::Counter::kIsRate);
}

// What the simulated camera itself costs per frame (it runs in the program's process).
void simulatedCameraFrame(benchmark::State& run, const DriverLayout* layout) {
    SimulatedCamera camera(SimulatedCamera::grainRegions(), SimulatedCamera::kVignetting,
                           std::make_shared<InstantClock>());
    camera.open();
    const std::vector<std::uint8_t> request =
        formatRequest({layout->compression, layout->bitCount, 640, 480, {}});
    camera.setVideoFormat(request.data(), request.size());
    struct Discard : FrameConsumer {
        void consume(const VideoHeader& header) override { benchmark::DoNotOptimize(header.data); }
    } discard;
    for (auto _ : run) {
        camera.readFrame(discard);
    }
}
BENCHMARK_CAPTURE(simulatedCameraFrame, RGB 24, &kDriverLayouts[0])->Unit(benchmark::kMillisecond);

const bool registered = [] {
    for (const DriverLayout& layout : kDriverLayouts) {
        benchmark::RegisterBenchmark((std::string("LiveFrame/") + layout.label).c_str(), livePass, &layout)
            ->Unit(benchmark::kMillisecond);
    }
    // A GenICam camera's Mono8 picture in, the three maps out.
    benchmark::RegisterBenchmark("LiveFrame/GenICam Mono8", livePass, nullptr)->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace
