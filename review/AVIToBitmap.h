// The AVI frame reader: HeadAVI opens one movie, IterateAVI hands its frames out one at a time into
// ReaderBitmap and the reader window Form3, CloseAVI closes it.
#pragma once

#include "recording/AviFile.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>

// The reader window's picture: a 320 × 240 surface onto which every frame is drawn 1:1 at its top-left
// corner.
class ReaderImage : public QWidget {
    Q_OBJECT
  public:
    explicit ReaderImage(QWidget* parent);
    const QImage& picture() const { return picture_; }
    void drawFrame(const QImage& frame);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage picture_;
};

// The reader window. Its three operations work on the process-wide reader state below; there is one movie
// open at a time. Failures of HeadAVI throw std::runtime_error carrying the reader's message.
class TForm3 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm3(QWidget* parent = nullptr);
    ~TForm3() override;

    // Opens the movie (a movie still open is closed first) and fetches frame 0. On a failed file open the
    // name of the result code is shown in a message box before the error; a failed open releases everything.
    void HeadAVI(const char* FileName);
    // Shows the frame fetched last in ReaderBitmap and the window, processes pending window messages once,
    // advances OfflineFrameIndex and fetches that frame. Does nothing while no movie is open.
    void IterateAVI();
    // Closes the movie; OfflineFrameIndex and OfflineFrameCount keep their values. Does nothing when closed.
    void CloseAVI();

    ReaderImage* Image1;

  protected:
    void showEvent(QShowEvent* event) override;
};

// Reader state. ReaderBitmap is a QImage in Format_RGB32 (top row first, the fourth byte of every pixel
// 0xFF), so a consumer copies it straight into its picture; it is null while no movie is open and until the
// first IterateAVI after HeadAVI. A frame the file cannot deliver is handed out black, in the stream's size.
extern TForm3* Form3;
extern kestrane::AviFile* MovieFile;
extern kestrane::AviStream* MovieStream;
extern kestrane::AviGetFrame* FrameDecoder;
extern const std::uint8_t* CurrentFrame;       // packed DIB of the frame fetched last, owned by FrameDecoder
extern const std::uint8_t* CurrentFramePixels; // its first pixel byte, set by IterateAVI
extern std::int32_t OfflineFrameIndex;
extern std::int32_t OfflineFrameCount;
extern std::int32_t StreamFrameDuration; // microseconds
extern std::int32_t StreamFirstFrame;
extern std::int32_t StreamEndFrame;
extern QImage ReaderBitmap;
extern std::int32_t OpenResult;

// Creates the reader window (hidden) and sets Form3; the program calls it once, after creating Form1.
TForm3* createForm3();

// The text the reader shows for a result code of the file open.
QString AviErrorName(std::int32_t code);
