// Frames of an AVI file as 32-bit rasters: the conversion of a packed DIB, and a reader of frame n.
#pragma once

#include "imaging/Bitmap.h"
#include "recording/AviFile.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kestrane {

// Copies the pixels of a packed DIB as AVIStreamGetFrame hands it out (8-bit palette, 16, 24 or 32 bits,
// bottom-up or top-down) into `target`, which must have the DIB's width and height; the picture keeps its
// orientation. The fourth byte of every pixel becomes `reserved`. False when the DIB is not one of those.
bool convertDibToFrame(const std::uint8_t* packedDib, const FrameView& target, std::uint8_t reserved);

// The first video stream of an AVI file, frame by frame, as 32-bit bottom-up bitmaps.
class AviFrameReader {
  public:
    AviFrameReader() = default;
    AviFrameReader(const AviFrameReader&) = delete;
    AviFrameReader& operator=(const AviFrameReader&) = delete;
    ~AviFrameReader() { close(); }

    // Opens the file's first video stream; NODATA without one, BADFORMAT when its indexes cannot be trusted
    // and NOCOMPRESSOR when its frames cannot be decoded (refusal() then says why).
    AviResult open(const std::string& fileName);
    AviResult open(std::unique_ptr<AviByteSource> source);
    void close();

    std::int32_t frameCount() const { return frameCount_; }
    // Chunks of the stream that hold no whole frame and are not among its frames.
    std::uint32_t skippedChunks() const { return skippedChunks_; }
    // Frames found by walking on past the end the file's headers declare: its recording was interrupted
    // before the file was finished.
    std::uint32_t framesPastEnd() const { return framesPastEnd_; }
    bool unfinished() const { return framesPastEnd_ > 0; }
    // Why the last open found the frames undecodable; empty otherwise.
    const std::string& refusal() const { return refusal_; }
    std::int32_t width() const { return layout_.width; }
    std::int32_t height() const { return layout_.height; }
    const AviStreamInfo& streamInfo() const { return info_; }

    // Frame n, counted from 0, into `out` (32 bits, bottom-up, reserved bytes 0). False when n is outside the
    // stream or the file cannot deliver that frame; `out` is then a black frame of the stream's size, or
    // empty when the stream holds no whole frame. `out`'s memory is reused when it already has the frame's
    // size.
    bool frame(std::int32_t n, Bitmap& out);

  private:
    AviResult finishOpen(AviResult opened);

    AviFile* file_ = nullptr;
    AviStream* stream_ = nullptr;
    AviGetFrame* decoder_ = nullptr;
    AviStreamInfo info_;
    DibLayout layout_;
    std::int32_t frameCount_ = 0;
    std::uint32_t skippedChunks_ = 0;
    std::uint32_t framesPastEnd_ = 0;
    std::string refusal_;
};

// Opens a movie whose frames are to be analysed one by one. False, with the one line that says why in `why`,
// when the file cannot be read or holds not a single whole frame: chunks too short for a frame would each
// become a black frame, so that a few bytes of input turned into hundreds of kilobytes of maps. `note` says
// how many chunks were skipped and whether the file was not finished (otherwise it is empty).
bool openMovieToAnalyse(AviFrameReader& reader, const std::string& fileName, std::string& why,
                        std::string& note);

} // namespace kestrane
