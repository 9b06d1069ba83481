// A small AVI player: shows the frames of one file in a loop at the file's own frame rate.
#include "review/AviPlayer.h"

#include "recording/AviFile.h"
#include "ui/ImageConversion.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

AviPlayer::AviPlayer(QWidget* parent) : QWidget(parent) {
    connect(&timer_, &QTimer::timeout, this, &AviPlayer::advance);
}

bool AviPlayer::open(const QString& fileName, QString* error) {
    close();
    const kestrane::AviResult result = reader_.open(fileName.toLocal8Bit().toStdString());
    if (result != kestrane::kAviOk || reader_.frameCount() <= 0) {
        if (error != nullptr) {
            *error = result != kestrane::kAviOk ? QString::fromStdString(kestrane::aviResultText(result))
                                                : QStringLiteral("the movie has no frames");
        }
        reader_.close();
        return false;
    }
    fileName_ = fileName;
    const kestrane::AviStreamInfo& info = reader_.streamInfo();
    // A stream without a usable rate plays at 10 frames per second, the rate of a live clip.
    double periodMs = 100.0;
    if (info.dwRate != 0 && info.dwScale != 0) {
        periodMs = 1000.0 * static_cast<double>(info.dwScale) / static_cast<double>(info.dwRate);
    }
    timer_.setInterval(std::clamp(static_cast<int>(std::lround(periodMs)), 1, 60000));
    showFrame(0);
    return true;
}

void AviPlayer::play() {
    if (isOpen()) {
        timer_.start();
    }
}

void AviPlayer::stop() {
    timer_.stop();
}

void AviPlayer::close() {
    timer_.stop();
    reader_.close();
    fileName_.clear();
    current_ = -1;
    picture_ = QImage();
    update();
}

void AviPlayer::advance() {
    showFrame(current_ + 1 < reader_.frameCount() ? current_ + 1 : 0);
}

void AviPlayer::showFrame(int n) {
    // A frame the file cannot deliver shows black, and playing goes on.
    reader_.frame(n, frame_);
    copyToImage(frame_, picture_);
    current_ = n;
    update();
}

void AviPlayer::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (!picture_.isNull()) {
        painter.drawImage(0, 0, picture_);
    }
}
