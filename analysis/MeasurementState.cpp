// The process-wide measurement state shared by every handler of the main window, and the raster rules it
// uses.
#include "analysis/MeasurementState.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace kestrane {

namespace {
// Static storage, as the state lives for the whole run; allocated once because the tables are large.
std::unique_ptr<MeasurementState> gState = std::make_unique<MeasurementState>();
} // namespace

MeasurementState& measurementState() {
    return *gState;
}

void resetMeasurementState() {
    *gState = MeasurementState{};
}

std::uint8_t* BmpToArray(Bitmap& bitmap) {
    MeasurementState& s = measurementState();
    s.FrameWidth = bitmap.width();
    s.FrameHeight = bitmap.height();
    bitmap.convertTo32();
    if (bitmap.empty()) {
        return nullptr;
    }
    return bitmap.bits();
}

int BmpFromArray(Bitmap& bitmap, const std::uint8_t* pixels, int lines, int width) {
    ArrayDibHeaderFields& header = measurementState().ArrayDibHeader;
    header.width = width;
    header.height = -lines;
    if (pixels == nullptr || lines <= 0 || width <= 0 || bitmap.empty()) {
        return 0;
    }
    // The copy operation reads the whole source before it writes, so the source may be the target itself.
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
    const std::vector<std::uint8_t> source(pixels, pixels + rowBytes * static_cast<std::size_t>(lines));
    const int rows = std::min(lines, bitmap.height());
    const int columns = std::min(width, bitmap.width());
    const int bytesPerPixel = bitmap.bitsPerPixel() / 8;
    for (int i = 0; i < rows; ++i) {
        const std::uint8_t* src = source.data() + rowBytes * static_cast<std::size_t>(i);
        std::uint8_t* dst = bitmap.row(bitmap.height() - 1 - i);
        for (int x = 0; x < columns; ++x) {
            std::memcpy(dst + x * bytesPerPixel, src + x * 4, static_cast<std::size_t>(bytesPerPixel));
        }
    }
    return rows;
}

} // namespace kestrane
