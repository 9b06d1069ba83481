// Stand-ins for the tests of the capture subsystem: a driver that delivers scripted frames, a sink that
// records what a streaming capture writes, scripted driver dialogs, and a connection rig around them.
#pragma once

#include "analysis/MeasurementState.h"
#include "capture/CaptureConnection.h"
#include "capture/CaptureDriver.h"
#include "capture/CaptureWindowMessages.h"
#include "capture/SimulatedCamera.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kestrane::test {

// A BITMAPINFO: header for the picture, followed by `colours` zero palette entries.
std::vector<std::uint8_t> bitmapInfo(std::int32_t width, std::int32_t height, std::uint16_t bits,
                                     std::uint32_t compression, std::uint32_t colours = 0);

// What a scripted driver does; shared so that a test can steer the driver after the window owns it.
struct DriverScript {
    std::vector<std::uint8_t> format;
    std::vector<std::uint8_t> frame;
    int openResult = 0;
    bool refuseUserData = false;
    bool refuseFormats = false;
    std::atomic<bool> lost{false};
    std::atomic<int> reads{0};
    std::vector<std::vector<std::uint8_t>> requests; // headers asked for, in order
};

class ScriptedDriver : public CaptureDriver {
  public:
    explicit ScriptedDriver(std::shared_ptr<DriverScript> script) : script_(std::move(script)) {}
    int open() override { return script_->openResult; }
    std::string description() const override { return "Scripted driver"; }
    std::vector<std::uint8_t> videoFormat() const override { return script_->format; }
    int setVideoFormat(const std::uint8_t* header, std::size_t size) override;
    std::vector<FormatOption> formatOptions() const override { return {}; }
    std::vector<SourceControl> sourceControls() override { return {}; }
    int setSourceControl(std::uint32_t, std::int32_t) override { return 0; }
    int readFrame(FrameConsumer& consumer) override;
    int framePeriodUs() const override { return 35000; }
    bool lost() const override { return script_->lost; }
    bool acceptsUserData() const override { return !script_->refuseUserData; }

  private:
    std::shared_ptr<DriverScript> script_;
};

DriverFactory scriptedDrivers(std::shared_ptr<DriverScript> script);

// What a streaming capture wrote.
struct SinkLog {
    std::mutex mutex;
    std::string fileName;
    std::vector<std::uint8_t> header;
    std::uint32_t microSecPerFrame = 0;
    std::vector<std::vector<std::uint8_t>> frames;
    int finishes = 0;
    int failAtFrame = -1; // addFrame fails from this frame on

    int frameCount() {
        std::lock_guard lock(mutex);
        return static_cast<int>(frames.size());
    }
};

SequenceSinkFactory recordingSinks(std::shared_ptr<SinkLog> log);

// Driver dialogs that answer as scripted: the format chosen and the source changes made.
class ScriptedDialogs : public CaptureDialogs {
  public:
    int formatAnswer = -1;
    std::vector<std::pair<std::uint32_t, std::int32_t>> sourceChanges;
    std::vector<FormatOption> formatsShown;
    int currentShown = -2;
    std::vector<SourceControl> controlsShown;

    int chooseFormat(const std::vector<FormatOption>& options, int currentIndex) override {
        formatsShown = options;
        currentShown = currentIndex;
        return formatAnswer;
    }
    void adjustSource(const std::vector<SourceControl>& controls,
                      const std::function<void(std::uint32_t, std::int32_t)>& apply) override {
        controlsShown = controls;
        for (const auto& [id, value] : sourceChanges) {
            apply(id, value);
        }
    }
};

// A capture window that notes how it is shown and hidden.
class NotingWindow : public CaptureWindowMessages {
  public:
    using CaptureWindowMessages::CaptureWindowMessages;
    void showWindow(bool visible) override {
        CaptureWindowMessages::showWindow(visible);
        shows.push_back(visible);
    }
    std::vector<bool> shows;
};

// A main window's capture connection over a capture window of the core, as the start-up builds it.
struct ConnectionRig {
    std::unique_ptr<MeasurementState> state = std::make_unique<MeasurementState>();
    std::unique_ptr<NotingWindow> window;
    std::unique_ptr<CaptureConnection> connection = std::make_unique<CaptureConnection>(*state);
    ScriptedDialogs dialogs;
    std::shared_ptr<SinkLog> sink = std::make_shared<SinkLog>();

    explicit ConnectionRig(DriverFactory drivers) {
        window = std::make_unique<NotingWindow>(std::move(drivers));
        window->setDialogs(&dialogs);
        window->setSequenceSinkFactory(recordingSinks(sink));
    }
    ~ConnectionRig() { connection.reset(); }
    void start() {
        connection->FormCreate([this] { return window.get(); });
    }
    // The pixel area of the stream.
    std::vector<std::uint8_t> streamPixels() const;
    // Waits (up to ten seconds) until a running streaming capture has taken `frames` frames.
    bool waitForCapturedFrames(std::uint32_t frames);
};

// A camera clock that stands still until a camera waits on it or a test moves it on.
class SteppedClock : public FrameClock {
  public:
    std::chrono::microseconds now() override { return now_; }
    void sleepUntil(std::chrono::microseconds time) override { now_ = std::max(now_, time); }
    void advance(std::chrono::microseconds by) { now_ += by; }

  private:
    std::chrono::microseconds now_{0};
};

// The program's simulated camera on a clock of its own, so that its frames do not depend on how fast a
// test runs.
DriverFactory steppedSimulatedDrivers(double vignetting = SimulatedCamera::kVignetting,
                                      std::shared_ptr<SteppedClock> clock = nullptr);

} // namespace kestrane::test
