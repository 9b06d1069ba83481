// Result clips for the review tests: 32-bit frames whose red byte at each picture pixel is chosen by the
// test, written with the AVI writer the recorders use.
#pragma once

#include "recording/AviTestSupport.h"

#include <functional>
#include <sstream>

namespace reviewtest {

// red(n, x, top) is the red byte of frame n at picture pixel (x, top), top counted from the top row.
using RedOf = std::function<int(int n, int x, int top)>;

inline bool writeRedClip(const std::string& path, int frames, const RedOf& red,
                         avitest::ClipSpec clip = avitest::ClipSpec{370, 240, 32, 10}) {
    using namespace kestrane;
    AviFile* file = nullptr;
    if (AVIFileOpen(&file, path, kOfWrite | kOfCreate) != kAviOk) {
        return false;
    }
    AviStream* stream = nullptr;
    bool ok = AVIFileCreateStream(file, &stream, avitest::recorderStreamInfo(clip)) == kAviOk;
    const std::vector<std::uint8_t> format = avitest::dibFormat(clip);
    ok = ok &&
         AVIStreamSetFormat(stream, 0, format.data(), static_cast<std::int32_t>(format.size())) == kAviOk;
    std::vector<std::uint8_t> pixels(avitest::imageBytes(clip));
    for (int n = 0; ok && n < frames; ++n) {
        for (int top = 0; top < clip.height; ++top) {
            std::uint8_t* row =
                pixels.data() + static_cast<std::size_t>(clip.height - 1 - top) * clip.width * 4;
            for (int x = 0; x < clip.width; ++x) {
                row[4 * x + 0] = 40; // blue and green carry nothing the trace reads
                row[4 * x + 1] = 80;
                row[4 * x + 2] = static_cast<std::uint8_t>(red(n, x, top));
                row[4 * x + 3] = 0;
            }
        }
        ok = AVIStreamWrite(stream, n, 1, pixels.data(), static_cast<std::int32_t>(pixels.size()),
                            kAviIfKeyframe) == kAviOk;
    }
    AVIStreamRelease(stream);
    AVIFileRelease(file);
    return ok;
}

// Frame n: red 10 + n in the block x 100..109, top 50..59, with one black pixel in it; 200 elsewhere.
inline int grainRed(int n, int x, int top) {
    if (x == 105 && top == 55) {
        return 0;
    }
    return x >= 100 && x < 110 && top >= 50 && top < 60 ? 10 + n : 200;
}

inline std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace reviewtest
