// The frame reader's window TForm3, with the reader's process-wide state, as a frame source.
#include "review/ReaderFrameSource.h"

#include "review/AVIToBitmap.h"

void ReaderFrameSource::open(const std::string& fileName) {
    createForm3()->HeadAVI(fileName.c_str());
}

bool ReaderFrameSource::isOpen() const {
    return Form3 != nullptr && MovieFile != nullptr && FrameDecoder != nullptr;
}

void ReaderFrameSource::close() {
    if (Form3 != nullptr) {
        Form3->CloseAVI();
    }
}

std::int32_t ReaderFrameSource::frameCount() const {
    return OfflineFrameCount;
}

std::int32_t ReaderFrameSource::frameIndex() const {
    return OfflineFrameIndex;
}

void ReaderFrameSource::setFrameIndex(std::int32_t index) {
    OfflineFrameIndex = index;
}

bool ReaderFrameSource::step() {
    if (!isOpen()) {
        return false;
    }
    Form3->IterateAVI();
    // The pixels of the frame handed out; none when it came out black, or when a command closed the movie.
    return CurrentFramePixels != nullptr;
}

kestrane::FrameView ReaderFrameSource::frame() const {
    if (ReaderBitmap.isNull()) {
        return kestrane::FrameView{};
    }
    // Read through the constant scan line, so that the bitmap is not detached from the pictures sharing it.
    const int h = ReaderBitmap.height();
    return kestrane::FrameView{const_cast<std::uint8_t*>(ReaderBitmap.constScanLine(h - 1)),
                               ReaderBitmap.width(), h,
                               -static_cast<std::ptrdiff_t>(ReaderBitmap.bytesPerLine())};
}

void ReaderFrameSource::showWindow() {
    if (Form3 != nullptr) {
        Form3->show();
    }
}

void ReaderFrameSource::hideWindow() {
    if (Form3 != nullptr) {
        Form3->hide();
    }
}
