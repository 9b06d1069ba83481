// The built-in camera: a deterministic birefringent sample seen through the four-analyser optics, offered in
// every driver format so that each conversion path runs end to end without hardware.
#include "capture/SimulatedCamera.h"

#include "analysis/FrameAnalysis.h"
#include "capture/FrameHandoff.h"
#include "capture/SimulatedCameraKernels.h"
#include "capture/YUVConverts.h"
#include "imaging/CpuFeatures.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <numbers>
#include <thread>

namespace kestrane {

namespace {

constexpr std::int32_t kMaxSide = 4096;

enum ControlId : std::uint32_t { kBrightness = 1, kContrast = 2, kExposure = 3, kGain = 4 };
static_assert(SimulatedCamera::kSampleInBeam == kGain + 1);

constexpr int kQuadWidth = kMapWidth;
constexpr int kQuadHeight = kMapHeight;
constexpr std::size_t kQuadPixels = static_cast<std::size_t>(kQuadWidth) * kQuadHeight;

// The analyser views, in the order of the quadrants they fill.
enum View { kViewA = 0, kViewB = 1, kViewC = 2, kViewD = 3 };

// Deterministic numbers for the sample: the same grains on every run.
class SplitMix {
  public:
    explicit SplitMix(std::uint64_t seed) : state_(seed) {}
    double next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) * 0x1.0p-53;
    }
    double between(double low, double high) { return low + (high - low) * next(); }

  private:
    std::uint64_t state_;
};

// The Y byte whose grey pixel comes closest to each grey level, so that YUV frames carry the picture as
// faithfully as eight bits allow.
const std::array<std::uint8_t, 256>& lumaForGrey() {
    static const std::array<std::uint8_t, 256> table = [] {
        std::array<std::uint8_t, 256> t{};
        for (int grey = 0; grey < 256; ++grey) {
            int best = 0;
            int bestError = 1 << 30;
            for (int y = 0; y < 256; ++y) {
                const int red =
                    static_cast<int>((YuvToBgr(static_cast<std::uint8_t>(y), 128, 128) >> 16) & 0xFF);
                if (std::abs(red - grey) < bestError) {
                    bestError = std::abs(red - grey);
                    best = y;
                }
            }
            t[static_cast<std::size_t>(grey)] = static_cast<std::uint8_t>(best);
        }
        return t;
    }();
    return table;
}

// The extinction byte the analysis finds for a difference vector along (−cos 2φ, sin 2φ), which selects the
// correction factor it will apply.
int expectedExtinction(const Tables& tables, double cos2, double sin2) {
    const double q = std::clamp(-cos2, -0.99, 0.99);
    const auto k = static_cast<std::size_t>(std::lround((q + 1.0) * 100.0));
    const int sigma = (sin2 > 0.0) - (sin2 < 0.0);
    return std::clamp(static_cast<int>(std::lround(128.0 - sigma * tables.angle[k])), 0, 255);
}

class SteadyFrameClock : public FrameClock {
  public:
    std::chrono::microseconds now() override {
        return std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }
    void sleepUntil(std::chrono::microseconds time) override {
        std::this_thread::sleep_until(std::chrono::steady_clock::time_point(time));
    }
};

// The camera's byte for a light value: std::lround's rounding, inline, and clamped to 0..255.
inline std::uint8_t cameraByte(double value) {
    // The controls keep every value well inside the 32-bit range.
    auto whole = static_cast<std::int32_t>(value);
    const double rest = value - static_cast<double>(whole);
    whole += static_cast<std::int32_t>(rest >= 0.5) - static_cast<std::int32_t>(rest <= -0.5);
    return static_cast<std::uint8_t>(whole < 0 ? 0 : (whole > 255 ? 255 : whole));
}

// A per-pixel sample as regions of one pixel each under even light.
RegionSample regionsOf(SampleField field) {
    RegionSample sample;
    sample.regions = static_cast<std::int32_t>(kQuadPixels);
    sample.region.resize(kQuadPixels);
    for (std::size_t at = 0; at < kQuadPixels; ++at) {
        sample.region[at] = static_cast<std::int32_t>(at);
    }
    sample.light.assign(kQuadPixels, 1.0);
    sample.optics = [field = std::move(field)](std::int32_t region, double seconds) {
        return field(region % kQuadWidth, region / kQuadWidth, seconds);
    };
    return sample;
}

} // namespace

std::shared_ptr<FrameClock> steadyFrameClock() {
    return std::make_shared<SteadyFrameClock>();
}

SimulatedCamera::SimulatedCamera() : SimulatedCamera(grainRegions(), kVignetting, nullptr) {}

SimulatedCamera::SimulatedCamera(SampleField sample, double vignetting, std::shared_ptr<FrameClock> clock)
    : SimulatedCamera(regionsOf(std::move(sample)), vignetting, std::move(clock)) {}

SimulatedCamera::SimulatedCamera(RegionSample sample, double vignetting, std::shared_ptr<FrameClock> clock)
    : sample_(std::move(sample)), clock_(clock != nullptr ? std::move(clock) : steadyFrameClock()),
      factors_(static_cast<std::size_t>(sample_.regions)), shearedPoint_(kQuadPixels),
      vignetting_(vignetting), columnSquares_(kWidth), lineSquares_(kHeight),
      reference_(static_cast<std::size_t>(kWidth) * kHeight) {
    buildTables(tables_);
    controls_ = {
        {kBrightness, "Brightness", -64, 64, 1, 0, 0, {}},
        {kContrast, "Contrast", 50, 200, 1, 100, 100, {}},
        {kExposure, "Exposure", 10, 400, 1, 100, 100, {}},
        {kGain, "Gain", 100, 400, 1, 100, 100, {}},
        // With the optics out (0) the camera sees the bare light, as a background for the flat field wants;
        // a blank slide (2) keeps the optics in and is the zero of the measurement.
        {kSampleInBeam,
         "Sample in the beam",
         kBareLightInBeam,
         kBlankSlideInBeam,
         1,
         kSampleInBeamValue,
         kSampleInBeamValue,
         {{kSampleInBeamValue, "sample"},
          {kBlankSlideInBeam, "blank slide (optics in, no sample)"},
          {kBareLightInBeam, "bare light (optics out)"}}},
    };
    blank_.regions = 1;
    blank_.region.assign(kQuadPixels, 0);
    blank_.light = sample_.light;
    blank_.optics = [](std::int32_t, double) { return blankSlideOptics(); };
    // Lens and illumination darken the camera frame towards its corners; an even light (vignetting 0) is
    // exactly 1. Worked out per pixel from these rather than read from a picture-sized table, which would
    // move more bytes than the arithmetic costs.
    for (int column = 0; column < kWidth; ++column) {
        const double dx = (column + 0.5 - kWidth / 2.0) / (kWidth / 2.0);
        columnSquares_[static_cast<std::size_t>(column)] = dx * dx;
    }
    for (int line = 0; line < kHeight; ++line) {
        const double dy = (line + 0.5 - kHeight / 2.0) / (kHeight / 2.0);
        lineSquares_[static_cast<std::size_t>(line)] = dy * dy;
    }
    placeViews();
    prepareFrameBuffer();
}

RegionSample SimulatedCamera::grainRegions() {
    struct Grain {
        double x, y, sinD, axis, light;
    };
    constexpr int kGrains = 40;
    constexpr double kTurnPerSecond = 2.0 * std::numbers::pi / 60.0;
    SplitMix random(0x4B657374ull);
    auto grains = std::make_shared<std::vector<Grain>>();
    for (int i = 0; i < kGrains; ++i) {
        grains->push_back({random.between(0, kQuadWidth), random.between(0, kQuadHeight),
                           random.between(0.1, 0.9), random.between(0, std::numbers::pi),
                           random.between(150, 220)});
    }
    RegionSample sample;
    sample.regions = kGrains + 1; // the last region is the grain boundary
    sample.region.resize(kQuadPixels);
    sample.light.resize(kQuadPixels);
    // Each pixel belongs to its nearest grain; pixels almost as near to a second grain are the grain
    // boundary.
    for (int y = 0; y < kQuadHeight; ++y) {
        for (int x = 0; x < kQuadWidth; ++x) {
            double nearest = 1e300;
            double second = 1e300;
            int index = 0;
            for (int g = 0; g < kGrains; ++g) {
                const double dx = x - (*grains)[static_cast<std::size_t>(g)].x;
                const double dy = y - (*grains)[static_cast<std::size_t>(g)].y;
                const double d = std::sqrt(dx * dx + dy * dy);
                if (d < nearest) {
                    second = nearest;
                    nearest = d;
                    index = g;
                } else if (d < second) {
                    second = d;
                }
            }
            const auto at = static_cast<std::size_t>(y * kQuadWidth + x);
            sample.region[at] = second - nearest < 1.5 ? kGrains : index;
            const double dx = (x - kQuadWidth / 2.0) / (kQuadWidth / 2.0);
            const double dy = (y - kQuadHeight / 2.0) / (kQuadHeight / 2.0);
            sample.light[at] = 1.0 - 0.09 * (dx * dx + dy * dy);
        }
    }
    sample.optics = [grains](std::int32_t region, double seconds) {
        if (region >= kGrains) {
            return SampleOptics{0.02, 0.0, 110.0};
        }
        const Grain& g = (*grains)[static_cast<std::size_t>(region)];
        const double axis = std::fmod(g.axis + seconds * kTurnPerSecond, std::numbers::pi);
        return SampleOptics{g.sinD, axis, g.light};
    };
    return sample;
}

SampleField SimulatedCamera::grainSample() {
    auto sample = std::make_shared<RegionSample>(grainRegions());
    return [sample](int x, int y, double seconds) {
        x = std::clamp(x, 0, kQuadWidth - 1);
        y = std::clamp(y, 0, kQuadHeight - 1);
        const auto at = static_cast<std::size_t>(y * kQuadWidth + x);
        SampleOptics o = sample->optics(sample->region[at], seconds);
        o.transmission = o.transmission * sample->light[at];
        return o;
    };
}

SampleOptics SimulatedCamera::blankSlideOptics() {
    // Transmission is twice a view's light (I = I0/2 for every analyser when nothing retards).
    return SampleOptics{0.004, 17.0 * std::numbers::pi / 180.0, 2.0 * kOpticsThroughput * kBareLight};
}

SampleField SimulatedCamera::uniformSample(SampleOptics optics) {
    return [optics](int, int, double) { return optics; };
}

int SimulatedCamera::open() {
    start_ = clock_->now();
    lastFrame_ = -1;
    return 0;
}

std::string SimulatedCamera::description() const {
    return "Simulated camera";
}

std::vector<std::uint8_t> SimulatedCamera::videoFormat() const {
    const DriverLayout& layout = kDriverLayouts[layout_];
    return formatRequest(FormatOption{layout.compression, layout.bitCount, width_, height_, {}});
}

int SimulatedCamera::setVideoFormat(const std::uint8_t* header, std::size_t size) {
    DibHeader request;
    if (!readDibHeader(header, size, request) || request.width <= 0 || request.height <= 0 ||
        request.width > kMaxSide || request.height > kMaxSide) {
        return -EINVAL;
    }
    const auto layout =
        std::find_if(kDriverLayouts.begin(), kDriverLayouts.end(), [&](const DriverLayout& l) {
            return l.compression == request.compression &&
                   (l.bitCount == request.bitCount || (l.compression != kBiRgb && request.bitCount == 0));
        });
    if (layout == kDriverLayouts.end()) {
        return -EINVAL;
    }
    layout_ = static_cast<std::size_t>(layout - kDriverLayouts.begin());
    width_ = request.width;
    height_ = request.height;
    prepareFrameBuffer();
    return 0;
}

std::vector<FormatOption> SimulatedCamera::formatOptions() const {
    // The analysis takes 640 × 480 frames only; any other size would give maps without meaning.
    std::vector<FormatOption> options;
    for (const DriverLayout& layout : kDriverLayouts) {
        options.push_back({layout.compression, layout.bitCount, kWidth, kHeight, layout.label});
    }
    return options;
}

std::vector<SourceControl> SimulatedCamera::sourceControls() {
    return controls_;
}

int SimulatedCamera::setSourceControl(std::uint32_t id, std::int32_t value) {
    for (SourceControl& control : controls_) {
        if (control.id == id) {
            control.value = std::clamp(value, control.minimum, control.maximum);
            return 0;
        }
    }
    return -EINVAL;
}

int SimulatedCamera::readFrame(FrameConsumer& consumer) {
    if (unplugged_) {
        return -ENODEV;
    }
    const std::chrono::microseconds period(kFramePeriodUs);
    std::int64_t newest = std::max<std::int64_t>((clock_->now() - start_) / period, 0);
    if (newest <= lastFrame_) {
        // Nothing new since the last read: the frame after it is what a camera hands out next.
        newest = lastFrame_ + 1;
        clock_->sleepUntil(start_ + newest * period);
    }
    lastFrame_ = newest;
    renderReference(static_cast<std::uint64_t>(newest));
    encodeFrame();
    VideoHeader header;
    header.data = frame_.data();
    header.bufferLength = static_cast<std::uint32_t>(frame_.size());
    header.bytesUsed = header.bufferLength;
    header.timeCapturedMs = static_cast<std::uint32_t>(newest * kFramePeriodUs / 1000);
    consumer.consume(header);
    return 0;
}

void SimulatedCamera::placeViews() {
    // Quadrants A and B (the bottom half of the picture) show sample point (x, y) at frame pixels (x, y) and
    // (x + 320, y), y counted upwards. Quadrants C and D (the top half) are sheared so that the registration
    // of the analysis reads each sample point back: first every pixel gets the point the shear approximately
    // brings there, then every point is put exactly where the registration will look for it. A pixel of C
    // and the pixel 320 to its right in D always show the same point.
    const auto put = [this](int column, int row, int x, int y) {
        shearedPoint_[static_cast<std::size_t>((kQuadHeight - 1 - row) * kQuadWidth + column)] =
            static_cast<std::uint32_t>(y * kQuadWidth + x);
    };
    for (int row = 0; row < kQuadHeight; ++row) {
        for (int column = 0; column < kQuadWidth; ++column) {
            const double sx = (column + row / 30.0) / (1.0 + 1.0 / 1200.0);
            const int x = std::clamp(static_cast<int>(std::lround(sx)), 0, kQuadWidth - 1);
            const int y = std::clamp(static_cast<int>(std::lround(row - x / 40.0)), 0, kQuadHeight - 1);
            put(column, row, x, y);
        }
    }
    for (int y = 0; y < kQuadHeight; ++y) {
        for (int x = 0; x < kQuadWidth; ++x) {
            put(registeredColumn(x, y), registeredRow(x, y), x, y);
        }
    }
}

void SimulatedCamera::computeFactors(const RegionSample& sample, double seconds) {
    std::vector<RegionFactors>& factors = factors_;
    SampleOptics previous{-1.0, 0.0, 0.0};
    double cos2 = 0.0;
    double sin2 = 0.0;
    double m = 0.0;
    for (std::int32_t r = 0; r < sample.regions; ++r) {
        const SampleOptics o = sample.optics(r, seconds);
        if (o.sinD != previous.sinD || o.slowAxis != previous.slowAxis) {
            cos2 = std::cos(2.0 * o.slowAxis);
            sin2 = std::sin(2.0 * o.slowAxis);
            // The analysis multiplies the vector length by a factor that depends on the extinction it finds;
            // the modulation is divided by the same factor so that |sin δ| comes back out.
            const float correction =
                tables_.sinDGain[static_cast<std::size_t>(expectedExtinction(tables_, cos2, sin2))];
            m = std::min(o.sinD / correction, 1.0);
            previous = o;
        }
        // Analysers at 135°, 90°, 45° and 0°: I = I0/2 · (1 + m · sin 2(α − φ)).
        factors[static_cast<std::size_t>(r)] =
            RegionFactors{o.transmission, 1.0 - m * cos2, 1.0 + m * sin2, 1.0 + m * cos2, 1.0 - m * sin2};
    }
}

const std::vector<std::uint8_t>& SimulatedCamera::renderReference(std::uint64_t frameIndex) {
    const CameraControls controls{controls_[2].value / 100.0, controls_[3].value / 100.0,
                                  controls_[1].value / 100.0, static_cast<double>(controls_[0].value)};
    const double vignetting = vignetting_;
    const bool avx2 = cpuFeatures().avx2;
    // A line's light values go to `values` first; the vignetting and the camera's controls then make its
    // bytes, eight at a time where the processor allows, each half line divided by its view's gain.
    double values[kWidth];
    const auto finishHalf = [&](int line, int first, double divisor) {
        std::uint8_t* out = reference_.data() + std::ptrdiff_t{line} * kWidth + first;
        const double* columnSquare = columnSquares_.data() + first;
        const double lineSquare = lineSquares_[static_cast<std::size_t>(line)];
        int c = avx2 ? cameraLineAvx2(values + first, columnSquare, lineSquare, vignetting, divisor, controls,
                                      out, kQuadWidth)
                     : 0;
        for (; c < kQuadWidth; ++c) {
            // Dividing by 1 changes nothing, and is left out.
            const double value = divisor == 1.0 ? values[first + c] : values[first + c] / divisor;
            const double light = value * (1.0 - vignetting * (columnSquare[c] + lineSquare) / 2.0);
            out[c] = cameraByte((light * controls.exposure * controls.gain - 128.0) * controls.contrast +
                                128.0 + controls.brightness);
        }
    };
    const std::int32_t inBeam = controls_[4].value;
    if (inBeam == kBareLightInBeam) {
        // With the optics out the camera sees the bare light, not split into analyser views.
        std::fill(std::begin(values), std::end(values), kBareLight);
        for (int line = 0; line < kHeight; ++line) {
            finishHalf(line, 0, 1.0);
            finishHalf(line, kQuadWidth, 1.0);
        }
        return reference_;
    }
    const RegionSample& sample = inBeam == kBlankSlideInBeam ? blank_ : sample_;
    computeFactors(sample, static_cast<double>(frameIndex) * kFramePeriodUs / 1e6);
    // Plain pointers: the stores would otherwise make the compiler reload every vector each pixel.
    const RegionFactors* factors = factors_.data();
    const std::int32_t* region = sample.region.data();
    const double* light = sample.light.data();
    const std::uint32_t* sheared = shearedPoint_.data();
    const auto gainA = static_cast<double>(kGainA);
    const auto gainD = static_cast<double>(kGainD);
    // Each sample point's half light is worked out once for the two pixels that show it side by side, each
    // view's value with the same operations in the same order as ever (A's and D's division by their gain
    // comes with the controls).
    const auto viewLine = [&](int line) {
        const bool analysersCD = line < kQuadHeight;
        // Quadrants A and B: top-down line 479 − y shows sample row y.
        const std::size_t row = static_cast<std::size_t>(kHeight - 1 - line) * kQuadWidth;
        for (int x = 0; x < kQuadWidth; ++x) {
            const std::size_t at = analysersCD ? sheared[static_cast<std::size_t>(line * kQuadWidth + x)]
                                               : row + static_cast<std::size_t>(x);
            const RegionFactors& f = factors[region[at]];
            const double half = f.transmission * light[at] / 2.0;
            values[x] = half * (analysersCD ? f.c : f.a);
            values[x + kQuadWidth] = half * (analysersCD ? f.d : f.b);
        }
        finishHalf(line, 0, analysersCD ? 1.0 : gainA);
        finishHalf(line, kQuadWidth, analysersCD ? gainD : 1.0);
    };
    // Sample row y by sample row y: A and B show it on line 479 − y, and the sheared line 239 − y of C and D
    // shows rows y − 8..y, so that the sample's light is read from memory once a frame.
    for (int y = 0; y < kQuadHeight; ++y) {
        viewLine(kHeight - 1 - y);
        viewLine(kQuadHeight - 1 - y);
    }
    return reference_;
}

void SimulatedCamera::prepareFrameBuffer() {
    const std::int32_t w = width_;
    const std::int32_t h = height_;
    const DriverLayout& layout = kDriverLayouts[layout_];
    const std::uint8_t code = FormatCodeOf(layout.compression);
    const std::size_t bytes =
        code == kFormatRgb ? dibImageBytes(w, h, layout.bitCount) : yuvFrameBytes(code, w, h);
    // Padding, the fourth byte of 32-bit pixels and the chroma of the grey YUV picture are never written
    // again.
    frame_.assign(bytes, code == kFormatRgb ? 0 : 128);
    sourceColumn_.resize(static_cast<std::size_t>(w));
    for (std::int32_t x = 0; x < w; ++x) {
        sourceColumn_[static_cast<std::size_t>(x)] = static_cast<std::int32_t>(std::int64_t{x} * kWidth / w);
    }
    sourceLine_.resize(static_cast<std::size_t>(h));
    for (std::int32_t line = 0; line < h; ++line) {
        sourceLine_[static_cast<std::size_t>(line)] =
            static_cast<std::int32_t>(std::int64_t{line} * kHeight / h);
    }
}

void SimulatedCamera::encodeFrame() {
    const std::int32_t w = width_;
    const std::int32_t h = height_;
    const DriverLayout& layout = kDriverLayouts[layout_];
    const std::uint8_t code = FormatCodeOf(layout.compression);
    const std::int32_t* columns = sourceColumn_.data();
    // The reference line that output line `line`, counted from the top, samples.
    const auto sourceRow = [&](std::int32_t line) {
        return reference_.data() + std::ptrdiff_t{sourceLine_[static_cast<std::size_t>(line)]} * kWidth;
    };
    const auto& luma = lumaForGrey();
    std::uint8_t* out = frame_.data();

    switch (code) {
    case kFormatRgb: {
        const int bytesPerPixel = layout.bitCount / 8;
        const std::ptrdiff_t stride = DibRowBytes(w * layout.bitCount);
        for (std::int32_t line = 0; line < h; ++line) {
            const std::uint8_t* grey = sourceRow(line);
            std::uint8_t* pixel = out + stride * (h - 1 - line);
            for (std::int32_t x = 0; x < w; ++x, pixel += bytesPerPixel) {
                const std::uint8_t value = grey[columns[x]];
                pixel[0] = value;
                pixel[1] = value;
                pixel[2] = value;
            }
        }
        break;
    }
    case kFormatYuy2:
    case kFormatUyvy: {
        const int lumaAt = code == kFormatYuy2 ? 0 : 1;
        for (std::int32_t line = 0; line < h; ++line) {
            const std::uint8_t* grey = sourceRow(line);
            std::uint8_t* row = out + std::ptrdiff_t{line} * 2 * w;
            for (std::int32_t x = 0; x < w; ++x) {
                row[2 * x + lumaAt] = luma[grey[columns[x]]];
            }
        }
        break;
    }
    case kFormatY41p: {
        static constexpr std::array<int, 8> kYAt = {1, 3, 5, 7, 8, 9, 10, 11};
        const std::ptrdiff_t stride = std::ptrdiff_t{(w + 7) / 8} * 12;
        for (std::int32_t line = 0; line < h; ++line) {
            const std::uint8_t* grey = sourceRow(line);
            for (std::int32_t x = 0; x < w; ++x) {
                out[stride * line + (x / 8) * 12 + kYAt[static_cast<std::size_t>(x % 8)]] =
                    luma[grey[columns[x]]];
            }
        }
        break;
    }
    case kFormatYvu9:
    case kFormatI420:
    case kFormatY8: {
        for (std::int32_t line = 0; line < h; ++line) {
            const std::uint8_t* grey = sourceRow(line);
            std::uint8_t* row = out + std::ptrdiff_t{line} * w;
            for (std::int32_t x = 0; x < w; ++x) {
                row[x] = code == kFormatY8 ? grey[columns[x]] : luma[grey[columns[x]]];
            }
        }
        break;
    }
    default: { // Y211: one Y for every two pixels
        const std::ptrdiff_t stride = std::ptrdiff_t{(w + 3) / 4} * 4;
        for (std::int32_t line = 0; line < h; ++line) {
            const std::uint8_t* grey = sourceRow(line);
            for (std::int32_t x = 0; x + 1 < w; x += 2) {
                const int mean = (grey[columns[x]] + grey[columns[x + 1]] + 1) / 2;
                out[stride * line + x] = luma[static_cast<std::size_t>(mean)];
            }
        }
        break;
    }
    }
}

} // namespace kestrane
