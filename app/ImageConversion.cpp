// Pictures between the core's bottom-up DIB rasters and Qt's images, pixel for pixel.
#include "app/ImageConversion.h"

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

kestrane::Bitmap toBitmap(const QImage& image) {
    if (image.isNull()) {
        return kestrane::Bitmap();
    }
    const QImage rgb32 =
        image.format() == QImage::Format_RGB32 ? image : image.convertToFormat(QImage::Format_RGB32);
    kestrane::Bitmap bitmap(rgb32.width(), rgb32.height(), 32);
    for (int y = 0; y < bitmap.height(); ++y) {
        std::memcpy(bitmap.row(y), rgb32.constScanLine(bitmap.height() - 1 - y),
                    static_cast<std::size_t>(bitmap.width()) * 4);
    }
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
