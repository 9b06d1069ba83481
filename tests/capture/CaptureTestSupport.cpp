// Stand-ins for the tests of the capture subsystem: a driver that delivers scripted frames, a sink that
// records what a streaming capture writes, scripted driver dialogs, and a connection rig around them.
#include "CaptureTestSupport.h"

#include "capture/FrameHandoff.h"
#include "imaging/Bmp.h"

#include <cerrno>
#include <chrono>
#include <thread>

namespace kestrane::test {

std::vector<std::uint8_t> bitmapInfo(std::int32_t width, std::int32_t height, std::uint16_t bits,
                                     std::uint32_t compression, std::uint32_t colours) {
    std::vector<std::uint8_t> info(kInfoHeaderSize + 4 * std::size_t{colours}, 0);
    BuildFrameHeader(info.data(), width, height, bits);
    writeLe32(info.data() + 16, compression);
    writeLe32(info.data() + 32, colours);
    return info;
}

int ScriptedDriver::setVideoFormat(const std::uint8_t* header, std::size_t size) {
    script_->requests.emplace_back(header, header + size);
    if (script_->refuseFormats) {
        return -EINVAL;
    }
    script_->format.assign(header, header + size);
    return 0;
}

int ScriptedDriver::readFrame(FrameConsumer& consumer) {
    if (script_->lost) {
        return -ENODEV;
    }
    ++script_->reads;
    VideoHeader header;
    header.data = script_->frame.data();
    header.bufferLength = static_cast<std::uint32_t>(script_->frame.size());
    header.bytesUsed = header.bufferLength;
    consumer.consume(header);
    return 0;
}

DriverFactory scriptedDrivers(std::shared_ptr<DriverScript> script) {
    return [script](int index) -> std::unique_ptr<CaptureDriver> {
        return index == 0 ? std::make_unique<ScriptedDriver>(script) : nullptr;
    };
}

namespace {

class RecordingSink : public SequenceSink {
  public:
    RecordingSink(std::shared_ptr<SinkLog> log) : log_(std::move(log)) {}
    int begin(const std::vector<std::uint8_t>& dibHeader, std::uint32_t microSecPerFrame) override {
        std::lock_guard lock(log_->mutex);
        log_->header = dibHeader;
        log_->microSecPerFrame = microSecPerFrame;
        return 0;
    }
    int addFrame(const std::uint8_t* pixels, std::size_t bytes) override {
        std::lock_guard lock(log_->mutex);
        if (log_->failAtFrame >= 0 && static_cast<int>(log_->frames.size()) >= log_->failAtFrame) {
            return -ENOSPC;
        }
        log_->frames.emplace_back(pixels, pixels + bytes);
        return 0;
    }
    int finish() override {
        std::lock_guard lock(log_->mutex);
        ++log_->finishes;
        return 0;
    }

  private:
    std::shared_ptr<SinkLog> log_;
};

} // namespace

SequenceSinkFactory recordingSinks(std::shared_ptr<SinkLog> log) {
    return [log](const std::string& fileName) -> std::unique_ptr<SequenceSink> {
        {
            std::lock_guard lock(log->mutex);
            log->fileName = fileName;
        }
        return std::make_unique<RecordingSink>(log);
    };
}

std::vector<std::uint8_t> ConnectionRig::streamPixels() const {
    const CaptureConnection& c = *connection;
    if (c.StreamPixels == nullptr) {
        return {};
    }
    const std::uint8_t* begin = c.StreamPixels;
    return {begin, c.FrameStream.memory() + c.FrameStream.size()};
}

} // namespace kestrane::test

namespace kestrane::test {

bool ConnectionRig::waitForCapturedFrames(std::uint32_t frames) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    CaptureStatus status;
    do {
        window->getStatus(status);
        if (status.currentVideoFrame >= frames) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < giveUp);
    return false;
}

DriverFactory steppedSimulatedDrivers(double vignetting, std::shared_ptr<SteppedClock> clock) {
    return [vignetting, clock](int index) -> std::unique_ptr<CaptureDriver> {
        if (index != 0) {
            return nullptr;
        }
        return std::make_unique<SimulatedCamera>(SimulatedCamera::grainRegions(), vignetting,
                                                 clock != nullptr ? clock : std::make_shared<SteppedClock>());
    };
}

} // namespace kestrane::test
