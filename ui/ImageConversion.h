// Pictures between the core's bottom-up DIB rasters and Qt's images, pixel for pixel.
#pragma once

#include "imaging/Bitmap.h"

#include <QImage>

// A 32-bit bitmap becomes an RGB32 image (alpha byte set), a 24-bit one a BGR888 image; rows are turned
// top-down.
QImage toQImage(const kestrane::Bitmap& bitmap);

// The same into an existing image, whose memory is reused when it is an unshared RGB32 image of that size.
void copyToImage(const kestrane::Bitmap& bitmap, QImage& image);

// A view's 32-bit pixels into an RGB32 image (alpha byte set), whose memory is reused when it is an unshared
// RGB32 image of that size; an empty view gives a null image.
void copyToImage(const kestrane::FrameView& frame, QImage& image);

// Any image as a 32-bit bottom-up bitmap with the same picture; a null image gives an empty bitmap.
kestrane::Bitmap toBitmap(const QImage& image);
// The same into an existing bitmap, whose memory is reused when the size already fits.
void copyToBitmap(const QImage& image, kestrane::Bitmap& out);

// A bottom-up view of an RGB32 image's own pixels (writes change the image); other formats are converted
// to RGB32 first.
kestrane::FrameView frameViewOf(QImage& image);
