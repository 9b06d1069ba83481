// Decoding of stored frames that are no plain DIB: grey and YUV layouts through the live path's converters,
// and every codec the build's codec library knows.
#pragma once

#include "imaging/Bitmap.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrane {

// The frames of one stream as the container holds them: chunk n's bytes and whether it needs no earlier one.
class StoredFrames {
  public:
    virtual ~StoredFrames() = default;
    virtual std::int64_t count() const = 0;
    // The bytes of frame n, at most its declared size; false when the file cannot deliver them.
    virtual bool read(std::int64_t n, std::vector<std::uint8_t>& bytes) = 0;
    virtual bool isKey(std::int64_t n) const = 0;
};

// What a stream format (BITMAPINFOHEADER and what follows it) says about frames that are no DIB.
struct CodedFormat {
    enum Kind : std::uint8_t {
        kNone,  // a DIB, or a format too damaged to tell
        kRaw,   // grey or one of the live path's YUV layouts, a frame of fixed size
        kCodec, // compressed: frames of any size, handed to the codec library
    };
    Kind kind = kNone;
    std::uint32_t compression = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;      // always positive
    std::uint8_t layoutCode = 0;  // kRaw: the converter's layout code
    std::uint64_t frameBytes = 0; // kRaw: the bytes one frame holds
};
CodedFormat codedFormatOf(const std::uint8_t* format, std::size_t formatSize);

// A compression code in words: its four characters in quotes, or its number when they are not printable.
std::string compressionText(std::uint32_t compression);

// Turns the stored frames of one stream into 32-bit bottom-up pictures of the stream's size (fourth byte 0).
class FrameDecoder {
  public:
    virtual ~FrameDecoder() = default;
    // Frame n into `out`; false when it cannot be decoded (`out` is then left as it was, never half
    // written with a guess). Frames that depend on earlier ones are decoded from the nearest key frame.
    virtual bool decode(std::int64_t n, const FrameView& out) = 0;
};

// The decoder for a format codedFormatOf calls kRaw or kCodec; null, with the reason in `why`, when this
// build cannot decode its frames. `frames` must outlive the decoder.
std::unique_ptr<FrameDecoder> makeFrameDecoder(const CodedFormat& format, const std::uint8_t* formatBytes,
                                               std::size_t formatSize, StoredFrames& frames,
                                               std::string& why);

// The codec library's part, in a file of its own so that a build without the library leaves it out.
std::unique_ptr<FrameDecoder> makeCodecDecoder(const CodedFormat& format, const std::uint8_t* formatBytes,
                                               std::size_t formatSize, StoredFrames& frames,
                                               std::string& why);
// One line for --version: which codec library decodes compressed movies, or that the build left it out.
std::string codecDecoderLine();

} // namespace kestrane
