// The AVI frame reader: HeadAVI opens one movie, IterateAVI hands its frames out one at a time into
// ReaderBitmap and the reader window Form3, CloseAVI closes it.
#include "review/AVIToBitmap.h"

#include "imaging/Numeric.h"
#include "recording/AviFrames.h"
#include "ui/Dialogs.h"

#include <QCoreApplication>
#include <QPainter>
#include <QShowEvent>

#include <cmath>
#include <limits>
#include <stdexcept>

using namespace kestrane;

TForm3* Form3 = nullptr;
AviFile* MovieFile = nullptr;
AviStream* MovieStream = nullptr;
AviGetFrame* FrameDecoder = nullptr;
const std::uint8_t* CurrentFrame = nullptr;
const std::uint8_t* CurrentFramePixels = nullptr;
std::int32_t OfflineFrameIndex = 0;
std::int32_t OfflineFrameCount = 0;
std::int32_t StreamFrameDuration = 0;
std::int32_t StreamFirstFrame = 0;
std::int32_t StreamEndFrame = 0;
QImage ReaderBitmap;
std::int32_t OpenResult = 0;

namespace {

const QSize kReaderPicture(320, 240);
const QSize kReaderWindow(330, 268);

bool gMovieOpen = false;
// Changes at every open and close, so that a step can tell that a command run inside it changed the movie.
std::uint64_t gMovieGeneration = 0;
// The stream's frame size, for a frame the file cannot deliver.
QSize gStreamFrameSize;

void releaseReader() {
    if (MovieStream != nullptr) {
        AVIStreamEndStreaming(MovieStream);
    }
    AVIStreamGetFrameClose(FrameDecoder);
    AVIStreamRelease(MovieStream);
    AVIFileRelease(MovieFile);
    FrameDecoder = nullptr;
    MovieStream = nullptr;
    MovieFile = nullptr;
    CurrentFrame = nullptr;
    CurrentFramePixels = nullptr;
    ReaderBitmap = QImage();
    gMovieOpen = false;
    ++gMovieGeneration;
}

[[noreturn]] void failOpen(const char* message) {
    releaseReader();
    throw std::runtime_error(message);
}

// Microseconds per frame, Trunc(1 000 000 / (rate / scale)) in extended precision; false where that is no
// 32-bit number (a rate or scale of 0 above all).
bool frameDuration(std::uint32_t scale, std::uint32_t rate, std::int32_t& micros) {
    if (scale == 0 || rate == 0) {
        return false;
    }
    const Extended framesPerSecond = static_cast<Extended>(rate) / static_cast<Extended>(scale);
    const Extended duration = std::trunc(1000000.0L / framesPerSecond);
    if (duration > static_cast<Extended>(std::numeric_limits<std::int32_t>::max())) {
        return false;
    }
    micros = static_cast<std::int32_t>(duration);
    return true;
}

// The size of the frames the decoder hands out (grey, YUV and compressed frames come out as 32-bit DIBs).
QSize streamFrameSize(AviGetFrame* decoder) {
    DibLayout layout;
    return aviGetFrameLayout(decoder, layout) ? QSize(layout.width, layout.height) : QSize();
}

// Frame OfflineFrameIndex of the stream, counted from its first frame as the file's other readers count, so
// that a stream starting at a later position is read from its beginning to its end.
// Counted from the first frame, so that a stream starting near 2^31 still delivers all its frames.
const std::uint8_t* fetchFrame() {
    return aviStreamGetFrameAt(FrameDecoder, OfflineFrameIndex);
}

// ReaderBitmap in the size of the frame it is to hold; kept when the size stays.
void sizeReaderBitmap(const QSize& size) {
    if (ReaderBitmap.size() != size || ReaderBitmap.format() != QImage::Format_RGB32) {
        ReaderBitmap = QImage(size, QImage::Format_RGB32);
    }
}

} // namespace

ReaderImage::ReaderImage(QWidget* parent) : QWidget(parent) {
    setGeometry(QRect(QPoint(0, 0), kReaderPicture));
}

void ReaderImage::drawFrame(const QImage& frame) {
    if (picture_.isNull()) {
        picture_ = QImage(kReaderPicture, QImage::Format_RGB32);
        picture_.fill(Qt::white);
    }
    QPainter painter(&picture_);
    painter.drawImage(0, 0, frame);
    painter.end();
    update();
}

void ReaderImage::paintEvent(QPaintEvent*) {
    if (!picture_.isNull()) {
        QPainter painter(this);
        painter.drawImage(rect(), picture_);
    }
}

TForm3::TForm3(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle("Form3");
    move(570, 147);
    resize(kReaderWindow);
    Image1 = new ReaderImage(this);
}

TForm3::~TForm3() {
    if (Form3 == this) {
        CloseAVI();
        Form3 = nullptr;
    }
}

void TForm3::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The layout gives the outer size; the window frame is known only once the window is shown.
    const QSize frame = frameGeometry().size() - size();
    if (frame.width() > 0 && frame.height() > 0 && frameGeometry().size() != kReaderWindow) {
        resize(kReaderWindow - frame);
    }
}

void TForm3::HeadAVI(const char* FileName) {
    if (gMovieOpen) {
        CloseAVI();
    }
    OpenResult = AVIFileOpen(&MovieFile, FileName != nullptr ? FileName : "", kOfRead);
    if (OpenResult != kAviOk) {
        dialogs().message(AviErrorName(OpenResult));
        failOpen("No se pudo abrir el archivo");
    }
    ReaderBitmap = QImage();
    const AviResult found = AVIFileGetStream(MovieFile, &MovieStream, kStreamTypeVideo, 0);
    if (found == kAviErrNoData) {
        failOpen("Error no hay pista de audio");
    }
    if (found != kAviOk) {
        failOpen("Error en Frameopen"); // without a stream there is nothing to decode
    }
    StreamFirstFrame = AVIStreamStart(MovieStream);
    OfflineFrameCount = AVIStreamLength(MovieStream);
    // Summed in 64 bits and held at the largest position: a start near 2^31 must not wrap the range below.
    StreamEndFrame = static_cast<std::int32_t>(std::min<std::int64_t>(
        std::int64_t{StreamFirstFrame} + OfflineFrameCount, std::numeric_limits<std::int32_t>::max()));
    FrameDecoder = AVIStreamGetFrameOpen(MovieStream, nullptr);
    if (FrameDecoder == nullptr) {
        failOpen("Error en Frameopen");
    }
    AviStreamInfo header;
    AVIStreamInfo(MovieStream, &header, sizeof header);
    if (!frameDuration(header.dwScale, header.dwRate, StreamFrameDuration)) {
        failOpen("Error en Frameopen");
    }
    OfflineFrameIndex = 0;
    if (AVIStreamBeginStreaming(MovieStream, StreamFirstFrame, StreamEndFrame, 1000) != kAviOk) {
        failOpen("Error n AVIBegin");
    }
    gStreamFrameSize = streamFrameSize(FrameDecoder);
    gMovieOpen = true;
    ++gMovieGeneration;
    CurrentFrame = fetchFrame();
}

void TForm3::IterateAVI() {
    if (!gMovieOpen) {
        return;
    }
    DibLayout layout;
    if (CurrentFrame != nullptr && readPackedDibLayout(CurrentFrame, layout)) {
        CurrentFramePixels = CurrentFrame + layout.packedHeaderBytes;
        sizeReaderBitmap(QSize(layout.width, layout.height));
        const int h = ReaderBitmap.height();
        // Viewed bottom-up, the upright image takes the DIB's rows as they come.
        const FrameView upright{ReaderBitmap.scanLine(h - 1), ReaderBitmap.width(), h,
                                -ReaderBitmap.bytesPerLine()};
        convertDibToFrame(CurrentFrame, upright, 0xFF);
    } else {
        CurrentFramePixels = nullptr;
        sizeReaderBitmap(gStreamFrameSize);
        ReaderBitmap.fill(Qt::black);
    }
    Image1->drawFrame(ReaderBitmap);

    const std::uint64_t generation = gMovieGeneration;
    QCoreApplication::processEvents();
    if (generation != gMovieGeneration) {
        return; // a command closed or replaced the movie meanwhile: its counting is no longer ours to advance
    }
    if (OfflineFrameIndex < std::numeric_limits<std::int32_t>::max()) {
        ++OfflineFrameIndex;
    }
    CurrentFrame = fetchFrame();
}

void TForm3::CloseAVI() {
    if (gMovieOpen) {
        releaseReader();
    }
}

TForm3* createForm3() {
    if (Form3 == nullptr) {
        Form3 = new TForm3();
        // Closing the main window ends the program even while the reader window is shown.
        Form3->setAttribute(Qt::WA_QuitOnClose, false);
    }
    return Form3;
}

QString AviErrorName(std::int32_t code) {
    struct Name {
        AviResult code;
        const char* text;
    };
    static const Name kNames[] = {
        {kAviErrClassNotRegistered, "CLASSNOTREG"},
        {kAviErrUnsupported, "UNSUPPORTED"},
        {kAviErrBadFormat, "BADFORMAT"},
        {kAviErrMemory, "MEMORY"},
        {kAviErrInternal, "INTERNAL"},
        {kAviErrBadFlags, "BADFLAGS"},
        {kAviErrBadParam, "BADPARM"},
        {kAviErrBadSize, "BADSIZE"},
        {kAviErrBadHandle, "BADHANDLE"},
        {kAviErrFileRead, "FILEREAD"},
        {kAviErrFileWrite, "FILEWRITE"},
        {kAviErrFileOpen, "FILEOPEN"},
        {kAviErrCompressor, "COMPRESSOR"},
        {kAviErrNoCompressor, "NOCOMPRESSOR"},
        {kAviErrReadOnly, "READONLY"},
        {kAviErrNoData, "NODATA"},
        {kAviErrBufferTooSmall, "BUFFERTOOSMALL"},
        {kAviErrCantCompress, "CANTCOMPRESS"},
        {kAviErrUserAbort, "USERABORT"},
        {kAviErrError, "ERROR"},
    };
    for (const Name& name : kNames) {
        if (name.code == code) {
            return QString::fromLatin1(name.text);
        }
    }
    return QStringLiteral("Unknown Error");
}
