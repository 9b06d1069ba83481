// Fuzz target of the AVI reader: any bytes, opened and read every way the program reads a movie.
#include "recording/AviFrames.h"

#include <algorithm>
#include <cstdint>
#include <vector>

using namespace kestrane;

namespace {

std::int32_t clampedPosition(std::int64_t position) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(position, INT32_MIN, INT32_MAX));
}

// Reads a stream as the frame reader does: information, format, streaming range, frames at the edges.
void readStream(AviStream* stream) {
    AviStreamInfo info;
    AVIStreamInfo(stream, &info, sizeof info);
    std::int32_t formatSize = 0;
    AVIStreamReadFormat(stream, 0, nullptr, &formatSize);
    std::vector<std::uint8_t> format(static_cast<std::size_t>(formatSize));
    AVIStreamReadFormat(stream, 0, format.data(), &formatSize);
    const std::int64_t start = AVIStreamStart(stream);
    const std::int64_t end = start + AVIStreamLength(stream);
    AVIStreamBeginStreaming(stream, clampedPosition(start), clampedPosition(end), 1000);
    if (AviGetFrame* decoder = AVIStreamGetFrameOpen(stream, nullptr)) {
        for (std::int64_t position : {start - 1, start, start + 1, end - 1, end, std::int64_t{0}}) {
            const std::uint8_t* dib = AVIStreamGetFrame(decoder, clampedPosition(position));
            DibLayout layout;
            if (dib != nullptr && readPackedDibLayout(dib, layout)) {
                Bitmap frame(layout.width, layout.height, 32);
                convertDibToFrame(dib, frame.view(), 0);
            }
        }
        for (std::int64_t n : {std::int64_t{-1}, std::int64_t{0}, end - start - 1, end - start}) {
            aviStreamGetFrameAt(decoder, n);
        }
        AVIStreamGetFrameClose(decoder);
    }
    AVIStreamEndStreaming(stream);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    AviFile* file = nullptr;
    if (AVIFileOpenReader(&file, makeAviMemorySource(bytes)) == kAviOk) {
        for (std::int32_t index = 0; index < 4; ++index) {
            AviStream* stream = nullptr;
            if (AVIFileGetStream(file, &stream, 0, index) != kAviOk) {
                break;
            }
            readStream(stream);
            AVIStreamRelease(stream);
        }
        AVIFileRelease(file);
    }
    AviFrameReader reader;
    if (reader.open(makeAviMemorySource(bytes)) == kAviOk) {
        Bitmap frame;
        reader.frame(0, frame);
        reader.frame(reader.frameCount() - 1, frame);
    }
    return 0;
}
