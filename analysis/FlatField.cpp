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

} // namespace kestrane
