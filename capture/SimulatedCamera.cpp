// The built-in camera: a deterministic birefringent sample seen through the four-analyser optics, offered in
// every driver format so that each conversion path runs end to end without hardware.
#include "capture/SimulatedCamera.h"

#include "analysis/FrameAnalysis.h"
#include "capture/FrameHandoff.h"
#include "capture/YUVConverts.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <numbers>

namespace kestrane {

namespace {

constexpr std::int32_t kMaxSide = 4096;

enum ControlId : std::uint32_t { kBrightness = 1, kContrast = 2, kExposure = 3, kGain = 4 };

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

} // namespace

SimulatedCamera::SimulatedCamera(SampleField sample)
    : sample_(std::move(sample)), views_(4 * kQuadPixels),
      reference_(static_cast<std::size_t>(kWidth) * kHeight) {
    buildTables(tables_);
    controls_ = {
        {kBrightness, "Brightness", -64, 64, 1, 0, 0},
        {kContrast, "Contrast", 50, 200, 1, 100, 100},
        {kExposure, "Exposure", 10, 400, 1, 100, 100},
        {kGain, "Gain", 100, 400, 1, 100, 100},
    };
}

SampleField SimulatedCamera::grainSample() {
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
    // Each pixel belongs to its nearest grain; pixels almost as near to a second grain are the grain
    // boundary.
    auto owner = std::make_shared<std::vector<std::int16_t>>(kQuadPixels);
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
            (*owner)[static_cast<std::size_t>(y * kQuadWidth + x)] =
                static_cast<std::int16_t>(second - nearest < 1.5 ? -1 : index);
        }
    }
    return [grains, owner](int x, int y, double seconds) {
        x = std::clamp(x, 0, kQuadWidth - 1);
        y = std::clamp(y, 0, kQuadHeight - 1);
        const double dx = (x - kQuadWidth / 2.0) / (kQuadWidth / 2.0);
        const double dy = (y - kQuadHeight / 2.0) / (kQuadHeight / 2.0);
        const double light = 1.0 - 0.09 * (dx * dx + dy * dy);
        const int index = (*owner)[static_cast<std::size_t>(y * kQuadWidth + x)];
        if (index < 0) {
            return SampleOptics{0.02, 0.0, 110.0 * light};
        }
        const Grain& g = (*grains)[static_cast<std::size_t>(index)];
        const double axis = std::fmod(g.axis + seconds * kTurnPerSecond, std::numbers::pi);
        return SampleOptics{g.sinD, axis, g.light * light};
    };
}

SampleField SimulatedCamera::uniformSample(SampleOptics optics) {
    return [optics](int, int, double) { return optics; };
}

int SimulatedCamera::open() {
    encodeFrame();
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
    encodeFrame();
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
    encodeFrame();
    VideoHeader header;
    header.data = frame_.data();
    header.bufferLength = static_cast<std::uint32_t>(frame_.size());
    header.bytesUsed = header.bufferLength;
    header.timeCapturedMs = static_cast<std::uint32_t>(nextFrame_ * kFramePeriodUs / 1000);
    ++nextFrame_;
    consumer.consume(header);
    return 0;
}

std::uint8_t SimulatedCamera::applyControls(double value) const {
    const double exposure = controls_[2].value / 100.0;
    const double gain = controls_[3].value / 100.0;
    const double contrast = controls_[1].value / 100.0;
    const double out = (value * exposure * gain - 128.0) * contrast + 128.0 + controls_[0].value;
    return static_cast<std::uint8_t>(std::clamp(std::lround(out), 0L, 255L));
}

const std::vector<std::uint8_t>& SimulatedCamera::renderReference(std::uint64_t frameIndex) {
    const double seconds = static_cast<double>(frameIndex) * kFramePeriodUs / 1e6;
    const auto gainA = static_cast<double>(kGainA);
    const auto gainD = static_cast<double>(kGainD);
    std::uint8_t* views = views_.data();
    for (int y = 0; y < kQuadHeight; ++y) {
        for (int x = 0; x < kQuadWidth; ++x) {
            const SampleOptics o = sample_(x, y, seconds);
            const double half = o.transmission / 2.0;
            const double cos2 = std::cos(2.0 * o.slowAxis);
            const double sin2 = std::sin(2.0 * o.slowAxis);
            // The analysis multiplies the vector length by a factor that depends on the extinction it finds;
            // the modulation is divided by the same factor so that |sin δ| comes back out.
            const float correction =
                tables_.sinDGain[static_cast<std::size_t>(expectedExtinction(tables_, cos2, sin2))];
            const double m = std::min(o.sinD / correction, 1.0);
            // Analysers at 135°, 90°, 45° and 0°: I = I0/2 · (1 + m · sin 2(α − φ)).
            const std::size_t at = static_cast<std::size_t>(y * kQuadWidth + x);
            views[kViewA * kQuadPixels + at] = applyControls(half * (1.0 - m * cos2) / gainA);
            views[kViewB * kQuadPixels + at] = applyControls(half * (1.0 + m * sin2));
            views[kViewC * kQuadPixels + at] = applyControls(half * (1.0 + m * cos2));
            views[kViewD * kQuadPixels + at] = applyControls(half * (1.0 - m * sin2) / gainD);
        }
    }

    // Frame pixel (fx, fy), fy counted upwards, sits on top-down line kHeight − 1 − fy.
    const auto put = [this](int fx, int fy, std::uint8_t value) {
        reference_[static_cast<std::size_t>((kHeight - 1 - fy) * kWidth + fx)] = value;
    };
    const auto view = [views](View v, int x, int y) {
        return views[v * kQuadPixels + std::size_t(y * kQuadWidth + x)];
    };
    for (int y = 0; y < kQuadHeight; ++y) {
        for (int x = 0; x < kQuadWidth; ++x) {
            put(x, y, view(kViewA, x, y));
            put(x + kQuadWidth, y, view(kViewB, x, y));
        }
    }
    // Quadrants C and D are sheared so that the registration of the analysis reads each sample point back:
    // first every pixel gets the point the shear approximately brings there, then every point is put exactly
    // where the registration will look for it.
    for (int row = 0; row < kQuadHeight; ++row) {
        for (int column = 0; column < kQuadWidth; ++column) {
            const double sx = (column + row / 30.0) / (1.0 + 1.0 / 1200.0);
            const int x = std::clamp(static_cast<int>(std::lround(sx)), 0, kQuadWidth - 1);
            const int y = std::clamp(static_cast<int>(std::lround(row - x / 40.0)), 0, kQuadHeight - 1);
            put(column, row + kQuadHeight, view(kViewC, x, y));
            put(column + kQuadWidth, row + kQuadHeight, view(kViewD, x, y));
        }
    }
    for (int y = 0; y < kQuadHeight; ++y) {
        for (int x = 0; x < kQuadWidth; ++x) {
            const int row = registeredRow(x, y) + kQuadHeight;
            const int column = registeredColumn(x, y);
            put(column, row, view(kViewC, x, y));
            put(column + kQuadWidth, row, view(kViewD, x, y));
        }
    }
    return reference_;
}

void SimulatedCamera::encodeFrame() {
    renderReference(nextFrame_);
    const std::int32_t w = width_;
    const std::int32_t h = height_;
    const DriverLayout& layout = kDriverLayouts[layout_];
    const std::uint8_t code = FormatCodeOf(layout.compression);
    const std::size_t bytes =
        code == kFormatRgb ? dibImageBytes(w, h, layout.bitCount) : yuvFrameBytes(code, w, h);
    frame_.assign(bytes, code == kFormatRgb ? 0 : 128);

    // Grey of output pixel (x, line), line counted from the top, sampled from the 640 × 480 picture.
    const auto grey = [&](std::int32_t x, std::int32_t line) {
        const std::int64_t sx = std::int64_t{std::min(x, w - 1)} * kWidth / w;
        const std::int64_t sy = std::int64_t{line} * kHeight / h;
        return reference_[static_cast<std::size_t>(sy * kWidth + sx)];
    };
    const auto& luma = lumaForGrey();
    const auto y = [&](std::int32_t x, std::int32_t line) { return luma[grey(x, line)]; };
    std::uint8_t* out = frame_.data();

    switch (code) {
    case kFormatRgb: {
        const int bytesPerPixel = layout.bitCount / 8;
        const std::ptrdiff_t stride = DibRowBytes(w * layout.bitCount);
        for (std::int32_t line = 0; line < h; ++line) {
            std::uint8_t* row = out + stride * (h - 1 - line);
            for (std::int32_t x = 0; x < w; ++x) {
                std::fill_n(row + std::ptrdiff_t{x} * bytesPerPixel, 3, grey(x, line));
            }
        }
        break;
    }
    case kFormatYuy2:
    case kFormatUyvy: {
        const int lumaAt = code == kFormatYuy2 ? 0 : 1;
        for (std::int32_t line = 0; line < h; ++line) {
            std::uint8_t* row = out + std::ptrdiff_t{line} * 2 * w;
            for (std::int32_t x = 0; x < w; ++x) {
                row[2 * x + lumaAt] = y(x, line);
            }
        }
        break;
    }
    case kFormatY41p: {
        static constexpr std::array<int, 8> kYAt = {1, 3, 5, 7, 8, 9, 10, 11};
        const std::ptrdiff_t stride = std::ptrdiff_t{(w + 7) / 8} * 12;
        for (std::int32_t line = 0; line < h; ++line) {
            for (std::int32_t x = 0; x < w; ++x) {
                out[stride * line + (x / 8) * 12 + kYAt[static_cast<std::size_t>(x % 8)]] = y(x, line);
            }
        }
        break;
    }
    case kFormatYvu9:
    case kFormatI420:
    case kFormatY8: {
        for (std::int32_t line = 0; line < h; ++line) {
            for (std::int32_t x = 0; x < w; ++x) {
                out[std::ptrdiff_t{line} * w + x] = code == kFormatY8 ? grey(x, line) : y(x, line);
            }
        }
        break;
    }
    default: { // Y211: one Y for every two pixels
        const std::ptrdiff_t stride = std::ptrdiff_t{(w + 3) / 4} * 4;
        for (std::int32_t line = 0; line < h; ++line) {
            for (std::int32_t x = 0; x + 1 < w; x += 2) {
                const int mean = (grey(x, line) + grey(x + 1, line) + 1) / 2;
                out[stride * line + x] = luma[static_cast<std::size_t>(mean)];
            }
        }
        break;
    }
    }
}

} // namespace kestrane
