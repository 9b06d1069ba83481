// Stands in for the codec library where the build found none: grey and YUV movies are still read.
#include "recording/FrameDecoder.h"

namespace kestrane {

std::unique_ptr<FrameDecoder> makeCodecDecoder(const CodedFormat& format, const std::uint8_t*, std::size_t,
                                               StoredFrames&, std::string& why) {
    why = "frames compressed as " + compressionText(format.compression) + ", which this build cannot decode";
    return nullptr;
}

std::string codecDecoderLine() {
    return "Frame decoder: left out of this build (built without FFmpeg's libraries); it reads uncompressed "
           "RGB, grey and YUV movies only";
}

} // namespace kestrane
