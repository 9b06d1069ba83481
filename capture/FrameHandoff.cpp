// The frame hand-off: the newest camera frame kept as a complete BMP file image in memory, written by the
// frame callback without allocating and read by consumers as an ordinary bitmap.
#include "capture/FrameHandoff.h"

#include "capture/CaptureWindowMessages.h"
#include "capture/YUVConverts.h"
#include "imaging/Bmp.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kestrane {

namespace {

// Larger pictures are no camera frames; refusing them keeps every size below 32 bits.
constexpr std::int64_t kMaxPixels = 16LL * 1024 * 1024;

} // namespace

std::int32_t DibRowBytes(std::int32_t bits) {
    return ((bits + 31) / 32) * 4;
}

void BuildFrameHeader(std::uint8_t* header, std::int32_t width, std::int32_t height, std::uint16_t bitCount) {
    std::memset(header, 0, kInfoHeaderSize);
    writeLe32(header, kInfoHeaderSize);
    writeLe32(header + 4, static_cast<std::uint32_t>(width));
    writeLe32(header + 8, static_cast<std::uint32_t>(height));
    writeLe16(header + 12, 1);
    writeLe16(header + 14, bitCount);
    writeLe32(header + 16, kBiRgb);
    writeLe32(header + 20, static_cast<std::uint32_t>(DibRowBytes(width * bitCount) * height * 1));
}

bool readDibHeader(const std::uint8_t* bytes, std::size_t size, DibHeader& out) {
    if (bytes == nullptr || size < kInfoHeaderSize) {
        return false;
    }
    out.size = readLe32(bytes);
    out.width = static_cast<std::int32_t>(readLe32(bytes + 4));
    out.height = static_cast<std::int32_t>(readLe32(bytes + 8));
    out.planes = readLe16(bytes + 12);
    out.bitCount = readLe16(bytes + 14);
    out.compression = readLe32(bytes + 16);
    out.sizeImage = readLe32(bytes + 20);
    return true;
}

std::uint32_t dibImageBytes(std::int32_t width, std::int32_t height, std::uint16_t bitCount) {
    const std::int64_t rows = std::llabs(std::int64_t{height});
    if (width <= 0 || rows == 0 || bitCount == 0 || std::int64_t{width} * rows > kMaxPixels) {
        return 0;
    }
    const std::int64_t rowBytes = (std::int64_t{width} * bitCount + 31) / 32 * 4;
    return static_cast<std::uint32_t>(rowBytes * rows);
}

std::vector<std::uint8_t> formatRequest(const FormatOption& option) {
    std::vector<std::uint8_t> header(kInfoHeaderSize, 0);
    BuildFrameHeader(header.data(), option.width, option.height, option.bitCount);
    writeLe32(header.data() + 16, option.compression);
    const std::uint8_t code = FormatCodeOf(option.compression);
    const std::size_t bytes = code == kFormatRgb ? dibImageBytes(option.width, option.height, option.bitCount)
                                                 : yuvFrameBytes(code, option.width, option.height);
    writeLe32(header.data() + 20, static_cast<std::uint32_t>(bytes));
    return header;
}

int currentFormatIndex(const std::vector<FormatOption>& options, const std::vector<std::uint8_t>& format) {
    DibHeader header;
    if (!readDibHeader(format.data(), format.size(), header)) {
        return -1;
    }
    const FormatOption current{
        header.compression, header.bitCount, header.width, std::abs(header.height), {}};
    const auto found = std::find(options.begin(), options.end(), current);
    return found == options.end() ? -1 : static_cast<int>(found - options.begin());
}

bool describeDelivery(const std::vector<std::uint8_t>& driverFormat, DeliveredFormat& out) {
    out = DeliveredFormat{};
    DibHeader driver;
    if (!readDibHeader(driverFormat.data(), driverFormat.size(), driver)) {
        return false;
    }
    out.code = FormatCodeOf(driver.compression);
    out.width = driver.width;
    out.height = driver.height;
    if (out.code == kFormatUnknown) {
        return false;
    }
    if (out.code == kFormatRgb) {
        // An uncompressed header may leave biSizeImage 0; the frame still has its pixels.
        const std::uint32_t computed = dibImageBytes(driver.width, driver.height, driver.bitCount);
        if (computed == 0) {
            return false;
        }
        out.imageBytes = driver.sizeImage != 0 ? driver.sizeImage : computed;
        out.sourceBytes = out.imageBytes;
        out.header = driverFormat;
        writeLe32(out.header.data() + 20, out.imageBytes);
        return true;
    }
    if (driver.height <= 0 || dibImageBytes(driver.width, driver.height, 32) == 0) {
        return false;
    }
    out.header.assign(kInfoHeaderSize, 0);
    BuildFrameHeader(out.header.data(), driver.width, driver.height, 32);
    out.imageBytes = readLe32(out.header.data() + 20);
    out.sourceBytes = static_cast<std::uint32_t>(yuvFrameBytes(out.code, driver.width, driver.height));
    return true;
}

bool deliverPixels(const DeliveredFormat& format, const VideoHeader& header, std::uint8_t* pixels) {
    if (header.data == nullptr || pixels == nullptr || header.bytesUsed < format.sourceBytes) {
        return false;
    }
    if (format.code == kFormatRgb) {
        std::memcpy(pixels, header.data, format.imageBytes);
        return true;
    }
    return ConvertFrame(format.code, header.data, pixels, format.width, format.height);
}

void FrameStream::setSize(std::size_t size) {
    bytes_.resize(size);
    position_ = std::min(position_, size);
}

void FrameStream::write(const std::uint8_t* data, std::size_t count) {
    if (position_ + count > bytes_.size()) {
        bytes_.resize(position_ + count);
    }
    std::copy_n(data, count, bytes_.data() + position_);
    position_ += count;
}

FrameHandoff::FrameHandoff() {
    resetBuffers();
}

bool FrameHandoff::IsWindow() const {
    return CaptureWindow != nullptr && !windowLifetime_.expired();
}

void FrameHandoff::attachWindow(CaptureWindowMessages* window) {
    CaptureWindow = window;
    windowLifetime_ = window != nullptr ? window->lifetime() : std::weak_ptr<void>{};
}

void FrameHandoff::resetBuffers() {
    FrameStream.setSize(0);
    DriverFormatSize = 0;
    DriverFormat.clear();
    FrameHeaderSize = kInfoHeaderSize;
    FrameHeader.assign(kInfoHeaderSize, 0);
    StreamPixels = nullptr;
    FrameFormat = kFormatUnknown;
    delivery_ = DeliveredFormat{};
}

void FrameHandoff::ReadVideoFormat() {
    if (!IsWindow()) {
        return;
    }
    DriverFormatSize = CaptureWindow->getVideoFormat(0, nullptr);
    DriverFormat.assign(DriverFormatSize, 0);
    CaptureWindow->getVideoFormat(static_cast<std::uint16_t>(DriverFormatSize & 0xFFFF), DriverFormat.data());

    // A format whose frames cannot be delivered is treated like an unrecognised one: no frame is written.
    const bool deliverable = describeDelivery(DriverFormat, delivery_);
    FrameFormat = deliverable ? delivery_.code : static_cast<std::uint8_t>(kFormatUnknown);

    if (FrameFormat == kFormatRgb) {
        if (DriverFormatSize != FrameHeaderSize) {
            FrameHeaderSize = DriverFormatSize;
            FrameHeader.resize(FrameHeaderSize);
        }
        std::copy_n(delivery_.header.data(), FrameHeaderSize, FrameHeader.data());
    } else if (FrameFormat != kFormatUnknown) {
        BuildFrameHeader(FrameHeader.data(), delivery_.width, delivery_.height, 32);
    }

    const std::uint32_t imageBytes = readLe32(FrameHeader.data() + 20);
    const std::uint32_t pixelOffset = kFileHeaderSize + FrameHeaderSize;
    FrameStream.setSize(std::size_t{pixelOffset} + imageBytes);

    std::uint8_t fileHeader[kFileHeaderSize] = {};
    fileHeader[0] = 'B';
    fileHeader[1] = 'M';
    writeLe32(fileHeader + 2, static_cast<std::uint32_t>(FrameStream.size()));
    writeLe32(fileHeader + 10, pixelOffset);
    FrameStream.setPosition(0);
    FrameStream.write(fileHeader, kFileHeaderSize);
    FrameStream.write(FrameHeader.data(), FrameHeaderSize);

    // The stream's memory may have moved with the new size.
    StreamPixels = FrameStream.memory() + pixelOffset;
}

void FrameHandoff::DeliverFrame(CaptureWindowMessages* window, const VideoHeader& header) {
    if (window != CaptureWindow || StreamPixels == nullptr) {
        RefreshStatus();
        return;
    }
    if (FrameFormat == kFormatUnknown) {
        return;
    }
    deliverPixels(delivery_, header, StreamPixels);
}

bool FrameHandoff::loadFrameBitmap(std::string& error) {
    FrameStream.setPosition(0);
    const std::size_t at = FrameStream.position();
    return decodeBmp(FrameStream.memory() + at, FrameStream.size() - at, FrameBitmap, error);
}

} // namespace kestrane
