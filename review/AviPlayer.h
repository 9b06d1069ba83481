// A small AVI player: shows the frames of one file in a loop at the file's own frame rate, 1:1 from the
// top-left corner of its area, as the animation view of the main window.
#pragma once

#include "imaging/Bitmap.h"
#include "recording/AviFrames.h"

#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>

class AviPlayer : public QWidget {
    Q_OBJECT
  public:
    explicit AviPlayer(QWidget* parent = nullptr);

    // Opens a movie for playing (a movie already open is closed first); false with a reason in `error` when
    // the file cannot be played (missing, not an AVI, no video frames the reader decodes). Nothing plays yet.
    bool open(const QString& fileName, QString* error = nullptr);
    // Plays from the first to the last frame and starts again, without end, at the file's own frame rate.
    void play();
    // Stops at the frame shown; the file stays open until the next open or close.
    void stop();
    void close();

    bool isOpen() const { return reader_.frameCount() > 0; }
    bool isPlaying() const { return timer_.isActive(); }
    QString fileName() const { return fileName_; }
    int frameCount() const { return reader_.frameCount(); }
    // The frame shown, counted from 0, and its picture.
    int currentFrame() const { return current_; }
    const QImage& picture() const { return picture_; }
    // Milliseconds between frames, from the stream's rate and scale.
    int periodMs() const { return timer_.interval(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void showFrame(int n);
    void advance();

    kestrane::AviFrameReader reader_;
    kestrane::Bitmap frame_;
    QImage picture_;
    QString fileName_;
    QTimer timer_;
    int current_ = -1;
};
