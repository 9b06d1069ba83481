// Pictures between the core's bottom-up DIB rasters and Qt's images, pixel for pixel.
#include "ui/ImageConversion.h"

#include <cstring>

QImage toQImage(const kestrane::Bitmap& bitmap) {
    if (bitmap.empty()) {
        return QImage();
    }
    const bool is32 = bitmap.bitsPerPixel() == 32;
    QImage image(bitmap.width(), bitmap.height(), is32 ? QImage::Format_RGB32 : QImage::Format_BGR888);
    const auto rowBytes = static_cast<std::size_t>(bitmap.width()) * (is32 ? 4 : 3);
    for (int y = 0; y < bitmap.height(); ++y) {
        uchar* line = image.scanLine(bitmap.height() - 1 - y);
        std::memcpy(line, bitmap.row(y), rowBytes);
        if (is32) {
            // RGB32 wants an opaque alpha byte; the DIB's reserved byte carries nothing.
            for (int x = 0; x < bitmap.width(); ++x) {
                line[4 * x + 3] = 0xff;
            }
        }
    }
    return image;
}

void copyToImage(const kestrane::Bitmap& bitmap, QImage& image) {
    if (bitmap.empty()) {
        image = QImage();
        return;
    }
    if (image.width() != bitmap.width() || image.height() != bitmap.height() ||
        image.format() != QImage::Format_RGB32) {
        image = QImage(bitmap.width(), bitmap.height(), QImage::Format_RGB32);
    }
    for (int y = 0; y < bitmap.height(); ++y) {
        kestrane::widenRow(bitmap.row(y), bitmap.bitsPerPixel(), image.scanLine(bitmap.height() - 1 - y),
                           bitmap.width(), 0xff);
    }
}

void copyToImage(const kestrane::FrameView& frame, QImage& image) {
    if (frame.pixels == nullptr || frame.width <= 0 || frame.height <= 0) {
        image = QImage();
        return;
    }
    if (image.width() != frame.width || image.height() != frame.height ||
        image.format() != QImage::Format_RGB32) {
        image = QImage(frame.width, frame.height, QImage::Format_RGB32);
    }
    for (int y = 0; y < frame.height; ++y) {
        kestrane::widenRow(frame.pixel(0, y), 32, image.scanLine(frame.height - 1 - y), frame.width, 0xff);
    }
}

void copyToBitmap(const QImage& image, kestrane::Bitmap& out) {
    if (image.isNull()) {
        out = kestrane::Bitmap();
        return;
    }
    if (out.width() != image.width() || out.height() != image.height() || out.bitsPerPixel() != 32) {
        out = kestrane::Bitmap(image.width(), image.height(), 32);
    }
    const QImage::Format format = image.format();
    const bool threeBytes = format == QImage::Format_BGR888 || format == QImage::Format_RGB888;
    // The camera's own formats are copied row by row; anything else goes through one conversion.
    const QImage source =
        format == QImage::Format_RGB32 || threeBytes ? image : image.convertToFormat(QImage::Format_RGB32);
    const int redAt = format == QImage::Format_RGB888 ? 0 : 2;
    for (int y = 0; y < out.height(); ++y) {
        const uchar* line = source.constScanLine(out.height() - 1 - y);
        std::uint8_t* row = out.row(y);
        if (!threeBytes) {
            std::memcpy(row, line, static_cast<std::size_t>(out.width()) * 4);
            continue;
        }
        for (int x = 0; x < out.width(); ++x) {
            row[4 * x + 0] = line[3 * x + 2 - redAt];
            row[4 * x + 1] = line[3 * x + 1];
            row[4 * x + 2] = line[3 * x + redAt];
            row[4 * x + 3] = 0;
        }
    }
}

kestrane::Bitmap toBitmap(const QImage& image) {
    kestrane::Bitmap bitmap;
    copyToBitmap(image, bitmap);
    return bitmap;
}

kestrane::FrameView frameViewOf(QImage& image) {
    if (image.isNull()) {
        return kestrane::FrameView{};
    }
    if (image.format() != QImage::Format_RGB32) {
        image = image.convertToFormat(QImage::Format_RGB32);
    }
    return kestrane::FrameView{image.scanLine(image.height() - 1), image.width(), image.height(),
                               -static_cast<std::ptrdiff_t>(image.bytesPerLine())};
}
