// The GenICam pixel formats Kestrane takes and their conversion into the 24-bit frame the analysis reads, and
// the numbering of a GenICam camera's frames for the grab counters; no camera library is needed here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrane {

// A camera pixel format by its GenICam number, and how one of its pixels becomes eight bits.
struct GenicamPixelFormat {
    std::uint32_t code;
    const char* name;
    std::uint16_t bitCount; // bits a pixel takes in the camera's buffer
    std::uint8_t shift;     // right shift that keeps the top eight bits of a mono value
    bool colour;            // three bytes a pixel
    bool redFirst;          // RGB order (else BGR); colour formats only
};

// In the order the camera backend prefers them: the least data first, colour last.
inline constexpr std::array<GenicamPixelFormat, 6> kGenicamPixelFormats = {{
    {0x01080001u, "Mono8", 8, 0, false, false},
    {0x01100003u, "Mono10", 16, 2, false, false},
    {0x01100005u, "Mono12", 16, 4, false, false},
    {0x01100007u, "Mono16", 16, 8, false, false},
    {0x02180014u, "RGB8", 24, 0, true, true},
    {0x02180015u, "BGR8", 24, 0, true, false},
}};

// The entry of a GenICam pixel format number, or null for one Kestrane does not take.
const GenicamPixelFormat* genicamPixelFormat(std::uint32_t code);

// Converts a camera picture (top line first, rows `stride` bytes apart, `size` bytes in all) into a bottom-up
// 24-bit DIB of the same size at `dib`: blue, green, red per pixel, rows padded to four bytes. A mono value
// keeps its top eight bits and goes into all three bytes. False, with `dib` untouched, for a format it does
// not take or a buffer too short for the picture.
bool genicamToDib24(std::uint32_t code, const std::uint8_t* source, std::size_t size, std::int32_t width,
                    std::int32_t height, std::size_t stride, std::uint8_t* dib);

// Turns the frame ids of the frames a GenICam camera delivers into capture times on the frame period's scale,
// so that the grab counters count every camera frame between two grabs, incomplete ones included.
class GenicamFrameNumbering {
  public:
    // A frame that arrived incomplete or failed, since the last delivered one.
    void noteIncomplete() { ++incomplete_; }
    // The capture time in ms of a delivered frame of id `frameId` (0 for the first). Ids that do not grow
    // (none given, or wrapped) count one frame plus the incomplete ones since the last.
    std::uint32_t timeMs(std::uint64_t frameId, int periodUs);
    // Starts again: the next frame is the first.
    void reset() { *this = GenicamFrameNumbering(); }

  private:
    bool started_ = false;
    std::uint64_t lastId_ = 0;
    std::uint64_t index_ = 0;
    std::uint64_t incomplete_ = 0;
};

} // namespace kestrane
