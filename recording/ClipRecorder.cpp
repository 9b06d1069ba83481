// The result clip recorder's rules: file names and numbers, frame bound, stream rate, the 370 × 240 clip
// picture of a map and its legend, and the labels of its two sliders.
#include "recording/ClipRecorder.h"

#include "imaging/Numeric.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>

namespace kestrane {

const char* clipPrefix(MapKind kind) {
    switch (kind) {
    case MapKind::Extinction:
        return "phi";
    case MapKind::Transmission:
        return "abs";
    case MapKind::SinD:
        break;
    }
    return "sind";
}

namespace {

// The number in "<prefix><digits>.avi", or -1 for any other name.
std::int64_t clipNumberOf(const std::string& name) {
    for (const char* prefix : {"sind", "phi", "abs"}) {
        const std::size_t length = std::strlen(prefix);
        if (name.size() <= length + 4 || name.compare(0, length, prefix) != 0 ||
            name.compare(name.size() - 4, 4, ".avi") != 0) {
            continue;
        }
        const std::string digits = name.substr(length, name.size() - length - 4);
        if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        std::int64_t n = 0;
        for (char c : digits) {
            n = std::min<std::int64_t>(n * 10 + (c - '0'), std::numeric_limits<std::int32_t>::max());
        }
        return n;
    }
    return -1;
}

} // namespace

std::int64_t highestClipNumber(const std::string& directory) {
    std::int64_t highest = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
        highest = std::max(highest, clipNumberOf(it->path().filename().string()));
    }
    return highest;
}

std::int32_t nextClipNumber(std::int32_t clipNumber, const std::string& directory) {
    const std::int64_t last = std::max<std::int64_t>(clipNumber, highestClipNumber(directory));
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(last + 1, std::numeric_limits<std::int32_t>::max()));
}

std::string clipFileName(const std::string& directory, MapKind kind, std::int32_t number) {
    return directory + clipPrefix(kind) + std::to_string(number) + ".avi";
}

std::int64_t clipFrameBound(std::int32_t clipFrameCount, bool offline, std::int32_t offlineFrameCount) {
    return offline ? offlineFrameCount : clipFrameCount;
}

std::uint32_t clipRate(bool offline) {
    return offline ? 30 : 10;
}

RecordingPlan clipPlan(const std::string& fileName, bool offline, std::int64_t frameBound) {
    return RecordingPlan{fileName, clipRate(offline), 1, frameBound};
}

void composeClipFrame(const Bitmap& map, const Bitmap& legend, Bitmap& clip) {
    if (clip.width() != kClipWidth || clip.height() != kClipHeight || clip.bitsPerPixel() != 32) {
        clip = Bitmap(kClipWidth, kClipHeight, 32);
    }
    // Both pictures are placed by their top rows, as the window shows them.
    const auto copy = [&clip](const Bitmap& from, int left, int width) {
        for (int r = 0; r < kClipHeight; ++r) {
            std::uint8_t* out = clip.row(kClipHeight - 1 - r) + std::ptrdiff_t{left} * 4;
            const int have = r < from.height() ? std::min(width, from.width()) : 0;
            if (have > 0) {
                widenRow(from.row(from.height() - 1 - r), from.bitsPerPixel(), out, have, 0);
            }
            std::fill(out + std::ptrdiff_t{have} * 4, out + std::ptrdiff_t{width} * 4, std::uint8_t{0});
        }
    };
    copy(map, 0, kClipMapWidth);
    copy(legend, kClipMapWidth, kClipWidth - kClipMapWidth);
}

std::string clipFramesLabel(std::int32_t frames) {
    return std::to_string(frames) + (frames == 1 ? "frame" : "frames");
}

std::int32_t pausePeriodMs(std::int32_t position) {
    return position == 0 ? 1 : position * 200;
}

std::string pauseLabel(std::int32_t position, char decimalSeparator) {
    // At 0 the timer ticks every millisecond: no pause, so the label says none.
    return generalFormat(static_cast<Extended>(position) * 200 / 1000.0L, decimalSeparator) + "seconds";
}

} // namespace kestrane
