// The built-in camera: a deterministic birefringent sample seen through the four-analyser optics, offered in
// every driver format so that each conversion path runs end to end without hardware.
#pragma once

#include "analysis/Tables.h"
#include "capture/CaptureDriver.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace kestrane {

// The optics of the sample at one point.
struct SampleOptics {
    double sinD = 0.0;         // |sin δ|, 0..1
    double slowAxis = 0.0;     // φ in radians, counter-clockwise from the picture's right
    double transmission = 0.0; // I0 on the 0..255 scale of the camera
};

// The sample at Quadrant A pixel (x, y), x = 0..319, y = 0..239 counted upwards, at a time in seconds.
using SampleField = std::function<SampleOptics(int x, int y, double seconds)>;

class SimulatedCamera : public CaptureDriver {
  public:
    static constexpr int kFramePeriodUs = 35000;
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 480;

    explicit SimulatedCamera(SampleField sample = grainSample());

    // Birefringent grains of known retardance, slow axis and transmission under slightly uneven light; the
    // slow axes turn once a minute.
    static SampleField grainSample();
    // The same optics everywhere, standing still.
    static SampleField uniformSample(SampleOptics optics);

    int open() override;
    std::string description() const override;
    std::vector<std::uint8_t> videoFormat() const override;
    int setVideoFormat(const std::uint8_t* header, std::size_t size) override;
    std::vector<FormatOption> formatOptions() const override;
    std::vector<SourceControl> sourceControls() override;
    int setSourceControl(std::uint32_t id, std::int32_t value) override;
    int readFrame(FrameConsumer& consumer) override;
    int framePeriodUs() const override { return kFramePeriodUs; }

    // The camera picture of a frame before any format encodes it: 640 × 480 grey bytes, top line first.
    const std::vector<std::uint8_t>& renderReference(std::uint64_t frameIndex);
    // The index of the next frame a read delivers; each read moves it on by one.
    std::uint64_t nextFrame() const { return nextFrame_; }
    void setNextFrame(std::uint64_t index) { nextFrame_ = index; }

  private:
    void encodeFrame();
    std::uint8_t applyControls(double value) const;

    SampleField sample_;
    Tables tables_;
    std::size_t layout_ = 0; // index of the pixel layout in force
    std::int32_t width_ = kWidth;
    std::int32_t height_ = kHeight;
    std::uint64_t nextFrame_ = 0;
    std::vector<SourceControl> controls_;
    std::vector<std::uint8_t> views_;     // the four analyser views of Quadrant A's geometry
    std::vector<std::uint8_t> reference_; // the composed camera picture
    std::vector<std::uint8_t> frame_;     // the picture in the current format
};

} // namespace kestrane
