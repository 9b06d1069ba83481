// The frame reader as the acquisition loop sees it while "Work Offline" processes a recorded file.
#include "app/OfflineFrames.h"

#include "review/AVIToBitmap.h"

void ReaderOfflineFrames::step() {
    if (Form3 != nullptr) {
        Form3->IterateAVI();
    }
}

QImage ReaderOfflineFrames::frame() const {
    return ReaderBitmap;
}

int ReaderOfflineFrames::frameIndex() const {
    return OfflineFrameIndex;
}

void ReaderOfflineFrames::setFrameIndex(int index) {
    OfflineFrameIndex = index;
}

int ReaderOfflineFrames::frameCount() const {
    return OfflineFrameCount;
}

void ReaderOfflineFrames::close() {
    if (Form3 != nullptr) {
        Form3->CloseAVI();
    }
}

void ReaderOfflineFrames::hideWindow() {
    if (Form3 != nullptr) {
        Form3->hide();
    }
}

void ReaderOfflineFrames::open(const std::string& fileName) {
    if (Form3 != nullptr) {
        Form3->HeadAVI(fileName.c_str());
    }
}

bool ReaderOfflineFrames::isOpen() const {
    return Form3 != nullptr && MovieFile != nullptr && FrameDecoder != nullptr;
}

void ReaderOfflineFrames::showWindow() {
    if (Form3 != nullptr) {
        Form3->show();
    }
}
