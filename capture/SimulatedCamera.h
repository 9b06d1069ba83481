// The built-in camera: a deterministic birefringent sample seen through the four-analyser optics, offered in
// every driver format so that each conversion path runs end to end without hardware.
#pragma once

#include "analysis/Tables.h"
#include "capture/CaptureDriver.h"

#include <atomic>
#include <chrono>
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

// A sample made of regions of uniform optics under a fixed light pattern, so that a frame works out the
// optics once per region rather than once per pixel.
struct RegionSample {
    std::vector<std::int32_t> region; // per Quadrant A pixel, index y × 320 + x, y counted upwards
    std::vector<double> light;        // per Quadrant A pixel: the factor on the region's transmission
    std::int32_t regions = 0;
    std::function<SampleOptics(std::int32_t region, double seconds)> optics;
};

// Where the camera's time comes from: the steady clock, or a stepped one in tests.
class FrameClock {
  public:
    virtual ~FrameClock() = default;
    virtual std::chrono::microseconds now() = 0;
    virtual void sleepUntil(std::chrono::microseconds time) = 0;
};

std::shared_ptr<FrameClock> steadyFrameClock();

class SimulatedCamera : public CaptureDriver {
  public:
    static constexpr int kFramePeriodUs = 35000;
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 480;
    // The light falls off towards the corners of the camera frame by this fraction.
    static constexpr double kVignetting = 0.2;
    // The bare illumination at the centre of the frame, on the camera's 0..255 scale.
    static constexpr double kBareLight = 128.0;
    // The source control that says what is in the beam: the bare light with the optics out (value 0), the
    // sample (1) or a blank slide with the optics in (2).
    static constexpr std::uint32_t kSampleInBeam = 5;
    static constexpr std::int32_t kBareLightInBeam = 0;
    static constexpr std::int32_t kSampleInBeamValue = 1;
    static constexpr std::int32_t kBlankSlideInBeam = 2;
    // Each analyser view of the optics passes this fraction of the bare light where nothing absorbs.
    static constexpr double kOpticsThroughput = 0.9;

    // The program's camera: the grain sample under vignetted light, in real time.
    SimulatedCamera();
    // Any sample; `vignetting` 0 is an even light. A null clock is the steady clock.
    explicit SimulatedCamera(SampleField sample, double vignetting = 0.0,
                             std::shared_ptr<FrameClock> clock = nullptr);
    SimulatedCamera(RegionSample sample, double vignetting, std::shared_ptr<FrameClock> clock);

    // Birefringent grains of known retardance, slow axis and transmission under slightly uneven light; the
    // slow axes turn once a minute.
    static RegionSample grainRegions();
    static SampleField grainSample();
    // The same optics everywhere, standing still.
    static SampleField uniformSample(SampleOptics optics);
    // The optics in without a sample: no grains, full transmission, and the faint strain retardance that
    // polariser optics keep.
    static SampleOptics blankSlideOptics();

    int open() override;
    std::string description() const override;
    std::vector<std::uint8_t> videoFormat() const override;
    int setVideoFormat(const std::uint8_t* header, std::size_t size) override;
    std::vector<FormatOption> formatOptions() const override;
    std::vector<SourceControl> sourceControls() override;
    int setSourceControl(std::uint32_t id, std::int32_t value) override;
    // Delivers the newest frame; when none has arrived since the last read, waits for the next one.
    int readFrame(FrameConsumer& consumer) override;
    int framePeriodUs() const override { return kFramePeriodUs; }
    // Pulls the camera's cable, for tests: every later read fails as a device that has gone away does.
    void unplug() { unplugged_ = true; }
    bool lost() const override { return unplugged_; }

    // The camera picture of a frame before any format encodes it: 640 × 480 grey bytes, top line first.
    const std::vector<std::uint8_t>& renderReference(std::uint64_t frameIndex);
    // The number of the frame the last read delivered (frames are numbered from 0 at open), -1 before.
    std::int64_t lastFrame() const { return lastFrame_; }

  private:
    void placeViews();
    void computeFactors(const RegionSample& sample, double seconds);
    void encodeFrame();
    void prepareFrameBuffer();

    // A region's transmission and the factors of the four analyser views on its half.
    struct RegionFactors {
        double transmission, a, b, c, d;
    };

    RegionSample sample_;
    RegionSample blank_; // the blank slide: one region under the sample's light
    std::shared_ptr<FrameClock> clock_;
    Tables tables_;
    std::size_t layout_ = 0; // index of the pixel layout in force
    std::int32_t width_ = kWidth;
    std::int32_t height_ = kHeight;
    std::chrono::microseconds start_{0}; // when frame 0 arrived
    std::int64_t lastFrame_ = -1;
    std::atomic<bool> unplugged_{false};
    std::vector<SourceControl> controls_;
    std::vector<RegionFactors> factors_;
    // Per pixel of the top half of the picture (Quadrants C and D, columns c and c + 320 alike): the sample
    // point it shows.
    std::vector<std::uint32_t> shearedPoint_;
    // The light relative to the centre at (column, line) is 1 − vignetting · (dx² + dy²) / 2, from these.
    double vignetting_ = 0.0;
    std::vector<double> columnSquares_;      // dx² per column
    std::vector<double> lineSquares_;        // dy² per line
    std::vector<std::uint8_t> reference_;    // the composed camera picture
    std::vector<std::uint8_t> frame_;        // the picture in the current format
    std::vector<std::int32_t> sourceColumn_; // per output column of the format: the reference column
    std::vector<std::int32_t> sourceLine_;   // per output line: the reference line
};

} // namespace kestrane
