// Flat-field gains from a background frame: every pixel scaled so that its background reads 128.
#include "analysis/FlatField.h"

#include "imaging/Bmp.h"
#include "imaging/Numeric.h"

namespace kestrane {

const char* backgroundFileName(int objective) {
    switch (objective) {
    case 10:
        return "kestrane-backgroundintensity10.bmp";
    case 40:
        return "kestrane-backgroundintensity40.bmp";
    default:
        return "kestrane-backgroundintensity4.bmp";
    }
}

bool computeFlatFieldGains(Bitmap& background, MeasurementState& state) {
    if (background.width() != kFrameWidth || background.height() != kFrameHeight) {
        return false;
    }
    state.FramePixels = BmpToArray(background);
    const FrameView frame = background.view();
    for (int x = 0; x < kFrameWidth; ++x) {
        for (int y = 0; y < kFrameHeight; ++y) {
            const int b = frame.pixel(x, y)[2];
            if (b > 0) {
                state.FlatFieldGain.at(x, y) = static_cast<float>(128.0L / static_cast<Extended>(b));
            }
        }
    }
    return true;
}

bool useFlatFieldFile(const std::string& path, MeasurementState& state, std::string& why) {
    Bitmap background;
    std::string error;
    if (!readBmpFile(path, background, error)) {
        why = "cannot read flat field '" + path + "': " + error;
        return false;
    }
    const bool used = computeFlatFieldGains(background, state);
    state.FramePixels = nullptr;
    if (!used) {
        why = "flat field '" + path + "' is not a 640 x 480 picture";
        return false;
    }
    state.FlatFieldOn = 1;
    return true;
}

bool FrameAverager::add(const Bitmap& frame) {
    if (count_ == 0) {
        width_ = frame.width();
        height_ = frame.height();
        bitsPerPixel_ = frame.bitsPerPixel();
        sums_.assign(frame.sizeBytes(), 0);
    } else if (frame.width() != width_ || frame.height() != height_ ||
               frame.bitsPerPixel() != bitsPerPixel_) {
        return false;
    }
    const std::uint8_t* bytes = frame.bits();
    for (std::size_t i = 0; i < sums_.size(); ++i) {
        sums_[i] += bytes[i];
    }
    ++count_;
    return true;
}

Bitmap FrameAverager::mean() const {
    if (count_ == 0) {
        return {};
    }
    Bitmap out(width_, height_, bitsPerPixel_);
    std::uint8_t* bytes = out.bits();
    const auto n = static_cast<std::uint32_t>(count_);
    for (std::size_t i = 0; i < sums_.size(); ++i) {
        // Half to even, as the gains are applied: with 16 frames one sum in 16 lies halfway, and rounding all
        // of those up would brighten the whole background by 1/32 of a level and so bias every gain
        // downwards.
        std::uint32_t q = sums_[i] / n;
        const std::uint32_t twiceRest = 2 * (sums_[i] % n);
        if (twiceRest > n || (twiceRest == n && (q & 1U) != 0)) {
            ++q;
        }
        bytes[i] = static_cast<std::uint8_t>(q);
    }
    return out;
}

} // namespace kestrane
