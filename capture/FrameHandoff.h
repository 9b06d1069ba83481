// The frame hand-off: the newest camera frame kept as a complete BMP file image in memory, written by the
// frame callback without allocating and read by consumers as an ordinary bitmap.
#pragma once

#include "capture/CaptureDriver.h"
#include "imaging/Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrane {

class CaptureWindowMessages;

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;

// Byte length of a DIB row of `bits` bits, padded to a multiple of 4 bytes.
std::int32_t DibRowBytes(std::int32_t bits);

// Writes a 40-byte BI_RGB BITMAPINFOHEADER for a bottom-up picture into `header`.
void BuildFrameHeader(std::uint8_t* header, std::int32_t width, std::int32_t height, std::uint16_t bitCount);

// The fields of a BITMAPINFOHEADER that the hand-off reads.
struct DibHeader {
    std::uint32_t size = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
};

// Reads the header at the start of a BITMAPINFO; false when fewer than 40 bytes are there.
bool readDibHeader(const std::uint8_t* bytes, std::size_t size, DibHeader& out);

// Pixel bytes of an uncompressed picture; 0 when the size is not a sensible picture.
std::uint32_t dibImageBytes(std::int32_t width, std::int32_t height, std::uint16_t bitCount);

// The 40-byte header that asks a driver for the format of a dialog entry.
std::vector<std::uint8_t> formatRequest(const FormatOption& option);

// The index of the entry that describes the format in force, or -1.
int currentFormatIndex(const std::vector<FormatOption>& options, const std::vector<std::uint8_t>& format);

// What frames of a driver format become when delivered: the header the stream carries, and the sizes on
// either side of the copy or conversion.
struct DeliveredFormat {
    std::uint8_t code = 0;            // format code of the driver format
    std::vector<std::uint8_t> header; // BITMAPINFO of the delivered pixels
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t imageBytes = 0;  // delivered pixel bytes
    std::uint32_t sourceBytes = 0; // bytes a driver frame must hold
};

// False when frames of the format cannot be delivered (unrecognised layout or impossible size).
bool describeDelivery(const std::vector<std::uint8_t>& driverFormat, DeliveredFormat& out);

// Copies or converts one driver frame into `pixels` (imageBytes long). A frame shorter than the format
// needs is dropped: false, and `pixels` keeps what it held.
bool deliverPixels(const DeliveredFormat& format, const VideoHeader& header, std::uint8_t* pixels);

// A memory stream: a byte block with a position, grown or cut by setSize.
class FrameStream {
  public:
    std::size_t size() const { return bytes_.size(); }
    std::size_t position() const { return position_; }
    void setPosition(std::size_t position) {
        position_ = position < bytes_.size() ? position : bytes_.size();
    }
    // Keeps the content up to the new size; the memory may move.
    void setSize(std::size_t size);
    // Writes at the position, growing the stream when needed, and moves the position past the bytes.
    void write(const std::uint8_t* data, std::size_t count);
    std::uint8_t* memory() { return bytes_.data(); }
    const std::uint8_t* memory() const { return bytes_.data(); }

  private:
    std::vector<std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

// The frame buffers of the main window and the delivery into them.
class FrameHandoff {
  public:
    FrameHandoff();
    virtual ~FrameHandoff() = default;
    FrameHandoff(const FrameHandoff&) = delete;
    FrameHandoff& operator=(const FrameHandoff&) = delete;

    // The capture window these buffers serve; null when there is no connection.
    CaptureWindowMessages* CaptureWindow = nullptr;

    std::vector<std::uint8_t> DriverFormat;
    std::uint32_t DriverFormatSize = 0;
    std::uint8_t FrameFormat = 0;
    std::vector<std::uint8_t> FrameHeader;
    std::uint32_t FrameHeaderSize = kInfoHeaderSize;
    kestrane::FrameStream FrameStream;
    std::uint8_t* StreamPixels = nullptr;
    Bitmap FrameBitmap;

    // Whether the capture window still exists; every message needs it.
    bool IsWindow() const;
    // Attaches the buffers to a capture window (or none).
    void attachWindow(CaptureWindowMessages* window);

    // Empty stream, no driver format, a 40-byte frame header.
    void resetBuffers();

    // Brings the header, the stream and StreamPixels in line with the driver's current format.
    void ReadVideoFormat();

    // Writes one delivered frame of `window` into the stream.
    void DeliverFrame(CaptureWindowMessages* window, const VideoHeader& header);

    // Rewinds the stream and loads FrameBitmap from it as a BMP file; false with the reason when the stream
    // holds no readable picture.
    bool loadFrameBitmap(std::string& error);

    virtual void RefreshStatus() {}

  private:
    std::weak_ptr<void> windowLifetime_;
    DeliveredFormat delivery_;
};

} // namespace kestrane
