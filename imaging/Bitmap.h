// Rasters of the core: an owning bitmap with DIB row layout, and a view that addresses 32-bit pixels
// bottom-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrane {

// A non-owning view of 32-bit pixels (blue, green, red, reserved); row y = 0 is the bottom row.
// The stride is signed so that top-down memory can be viewed bottom-up too.
struct FrameView {
    std::uint8_t* pixels = nullptr; // address of row y = 0
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0; // bytes from row y to row y + 1

    std::uint8_t* pixel(int x, int y) const { return pixels + y * stride + std::ptrdiff_t{x} * 4; }
    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
};

// An owning raster of 24 or 32 bits per pixel, rows bottom-up and padded to 4 bytes as in a DIB.
class Bitmap {
  public:
    Bitmap() = default;
    Bitmap(int width, int height, int bitsPerPixel = 32);

    int width() const { return width_; }
    int height() const { return height_; }
    int bitsPerPixel() const { return bitsPerPixel_; }
    bool empty() const { return width_ <= 0 || height_ <= 0; }

    // Bytes per row, padded to a multiple of 4.
    std::ptrdiff_t stride() const { return stride_; }
    static std::ptrdiff_t rowBytes(int width, int bitsPerPixel);

    // Pixel memory, bottom row first.
    std::uint8_t* bits() { return data_.data(); }
    const std::uint8_t* bits() const { return data_.data(); }
    std::size_t sizeBytes() const { return data_.size(); }
    std::uint8_t* row(int y) { return data_.data() + y * stride_; }
    const std::uint8_t* row(int y) const { return data_.data() + y * stride_; }

    // Change the pixel format to 32 bits per pixel; the picture stays the same.
    void convertTo32();
    // A 32-bit view of the pixels; the bitmap must be 32 bits per pixel.
    FrameView view();

    bool operator==(const Bitmap&) const = default;

  private:
    int width_ = 0;
    int height_ = 0;
    int bitsPerPixel_ = 32;
    std::ptrdiff_t stride_ = 0;
    std::vector<std::uint8_t> data_;
};

// Copies a row of `width` 24- or 32-bit pixels into a row of 32-bit pixels whose fourth byte is `fourth`.
void widenRow(const std::uint8_t* src, int bitsPerPixel, std::uint8_t* dst, int width, std::uint8_t fourth);

} // namespace kestrane
