// Tests of the frame reader: frames handed out upright one behind the index, jumps, the reader window, every
// message of a failed open, and the reader kept sound when a command inside a step closes or reopens it.
#include "review/AVIToBitmap.h"

#include "gui/FakeDialogs.h"
#include "recording/AviFrames.h"
#include "recording/AviTestSupport.h"
#include "ui/ImageConversion.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <stdexcept>

using namespace avitest;

namespace {

class FrameReader : public ::testing::Test {
  protected:
    void SetUp() override { createForm3(); }
    void TearDown() override {
        Form3->CloseAVI();
        delete Form3;
    }

    // Writes a clip of `frames` frames into the scratch folder; returns its name.
    std::string clip(const ClipSpec& c, int frames, const std::string& name = "clip.avi") {
        const std::string path = dir.file(name);
        EXPECT_EQ(writeClipFile(path, c, frames), frames);
        return path;
    }

    // The same clip with four bytes of one chunk changed.
    std::string damagedClip(const ClipSpec& c, int frames, const char* chunk, std::size_t offset,
                            std::uint32_t value) {
        const std::string path = clip(c, frames, "damaged.avi");
        std::vector<std::uint8_t> bytes = readFileBytes(path);
        writeLe32(bytes.data() + dataOf(bytes, chunk) + offset, value);
        writeFileBytes(path, bytes);
        return path;
    }

    ScratchDir dir;
    FakeDialogs dialogs;
};

// True when the picture is frame n of the clip, upright (top row first).
bool shows(const QImage& image, const ClipSpec& c, int n) {
    if (image.size() != QSize(c.width, c.height) || image.format() != QImage::Format_RGB32) {
        return false;
    }
    const std::vector<std::uint8_t> stored = framePixels(c, n);
    for (int top = 0; top < c.height; ++top) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(top));
        for (int x = 0; x < c.width; ++x) {
            const auto bgr = expectedBgr(c, stored, x, c.height - 1 - top);
            if (line[x] != qRgb(bgr[2], bgr[1], bgr[0])) {
                return false;
            }
        }
    }
    return true;
}

// A stream starting near 2^31 plays every frame: its positions must not wrap into black frames.
TEST_F(FrameReader, AStreamStartingNearTwoToThe31ShowsItsFrames) {
    const ClipSpec c{370, 240, 24, 10};
    Form3->HeadAVI(damagedClip(c, 5, "strh", 28, 0x7FFFFFFFu).c_str());
    EXPECT_EQ(OfflineFrameCount, 5);
    for (int n = 0; n < 5; ++n) {
        Form3->IterateAVI();
        EXPECT_TRUE(shows(ReaderBitmap, c, n)) << "frame " << n;
    }
}

TEST_F(FrameReader, ResultClipFramesComeOutOneBehindTheIndex) {
    const ClipSpec c{370, 240, 24, 10};
    const std::string path = clip(c, 5);
    OfflineFrameIndex = 0;
    Form3->HeadAVI(path.c_str());
    EXPECT_EQ(OfflineFrameCount, 5);
    EXPECT_EQ(OfflineFrameIndex, 0);
    EXPECT_EQ(StreamFrameDuration, 100000);
    EXPECT_EQ(StreamFirstFrame, 0);
    EXPECT_EQ(StreamEndFrame, 5);
    EXPECT_TRUE(ReaderBitmap.isNull()) << "empty until the first step";
    EXPECT_NE(CurrentFrame, nullptr);

    Form3->IterateAVI();
    EXPECT_TRUE(shows(ReaderBitmap, c, 0));
    EXPECT_EQ(OfflineFrameIndex, 1);
    EXPECT_EQ(CurrentFramePixels, CurrentFrame + 40)
        << "header, no colour table, in the decoder's one buffer";
    Form3->IterateAVI();
    EXPECT_TRUE(shows(ReaderBitmap, c, 1));

    // A jump: the next step still shows the frame fetched before it, then fetches the one after the jump.
    OfflineFrameIndex = 3;
    Form3->IterateAVI();
    EXPECT_TRUE(shows(ReaderBitmap, c, 2));
    EXPECT_EQ(OfflineFrameIndex, 4);
    Form3->IterateAVI();
    EXPECT_TRUE(shows(ReaderBitmap, c, 4));
    EXPECT_EQ(OfflineFrameIndex, 5);

    // Past the last frame nothing can be delivered: a black frame of the stream's size.
    EXPECT_EQ(CurrentFrame, nullptr);
    Form3->IterateAVI();
    EXPECT_EQ(ReaderBitmap.size(), QSize(370, 240));
    EXPECT_EQ(ReaderBitmap.pixel(10, 10), qRgb(0, 0, 0));

    Form3->CloseAVI();
    EXPECT_TRUE(ReaderBitmap.isNull());
    EXPECT_EQ(MovieFile, nullptr);
    EXPECT_EQ(OfflineFrameIndex, 6) << "closing leaves the index to the consumers";
    EXPECT_EQ(OfflineFrameCount, 5);
    Form3->IterateAVI();
    Form3->CloseAVI();
    EXPECT_EQ(OfflineFrameIndex, 6) << "a closed reader is not stepped";
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

class UprightFrames : public FrameReader, public ::testing::WithParamInterface<ClipSpec> {};

TEST_P(UprightFrames, EveryPixelFormatIsShownUpright) {
    const ClipSpec c = GetParam();
    Form3->HeadAVI(clip(c, 2).c_str());
    Form3->IterateAVI();
    Form3->IterateAVI();
    EXPECT_TRUE(shows(ReaderBitmap, c, 1));
}

INSTANTIATE_TEST_SUITE_P(Formats, UprightFrames,
                         ::testing::Values(ClipSpec{37, 24, 24, 10}, ClipSpec{37, 24, 32, 10},
                                           ClipSpec{37, 24, 8, 10}, ClipSpec{37, 24, 16, 10},
                                           ClipSpec{37, 24, 24, 10, true}));

TEST_F(FrameReader, RawRecordingShowsItsTopLeftQuarterInTheWindow) {
    const ClipSpec c{640, 480, 32, 30};
    Form3->HeadAVI(clip(c, 3).c_str());
    EXPECT_EQ(StreamFrameDuration, 33333) << "truncated, not rounded";
    Form3->IterateAVI();
    ASSERT_TRUE(shows(ReaderBitmap, c, 0));
    const QImage& window = Form3->Image1->picture();
    ASSERT_EQ(window.size(), QSize(320, 240));
    EXPECT_EQ(window, ReaderBitmap.copy(0, 0, 320, 240));
    EXPECT_FALSE(Form3->isVisible()) << "the reader window stays hidden unless a consumer shows it";
}

TEST_F(FrameReader, WindowHasItsCaptionPlaceAndPicture) {
    EXPECT_EQ(Form3->windowTitle(), "Form3");
    EXPECT_EQ(Form3->pos(), QPoint(570, 147));
    EXPECT_EQ(Form3->Image1->geometry(), QRect(0, 0, 320, 240));
}

TEST_F(FrameReader, FrameDurationComesFromRateAndScale) {
    const struct {
        std::uint32_t rate, scale;
        std::int32_t micros;
    } cases[] = {
        {10, 1, 100000}, {30, 1, 33333}, {30000, 1001, 33366}, {25, 1, 40000}, {1, 2000, 2000000000}};
    for (const auto& k : cases) {
        std::string path = damagedClip({37, 24, 24, 10}, 2, "strh", 24, k.rate);
        std::vector<std::uint8_t> bytes = readFileBytes(path);
        writeLe32(bytes.data() + dataOf(bytes, "strh") + 20, k.scale);
        writeFileBytes(path, bytes);
        Form3->HeadAVI(path.c_str());
        EXPECT_EQ(StreamFrameDuration, k.micros) << k.rate << "/" << k.scale;
    }
}

struct OpenFailure {
    const char* name;
    const char* chunk; // null: the file is not an AVI at all
    std::size_t offset;
    std::uint32_t value;
    const char* error;
    const char* firstBox; // null: no box before the error
};

class FailedOpen : public FrameReader, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(FailedOpen, ShowsTheReaderMessagesAndReleasesEverything) {
    const OpenFailure f = GetParam();
    const ClipSpec c{37, 24, 24, 10};
    std::string path;
    if (std::string(f.name) == "missing") {
        path = dir.file("missing.avi");
    } else if (f.chunk == nullptr) {
        path = dir.file("notes.avi");
        writeFileBytes(path,
                       {'n', 'o', 't', 'e', 's', ' ', 'o', 'n', ' ', 'a', ' ', 's', 'a', 'm', 'p', 'l', 'e'});
    } else {
        path = damagedClip(c, 3, f.chunk, f.offset, f.value);
    }
    // A movie already open is closed by the new open, whatever becomes of that.
    Form3->HeadAVI(clip(c, 3).c_str());
    OfflineFrameIndex = 0;
    try {
        Form3->HeadAVI(path.c_str());
        FAIL() << "the open must fail";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), f.error);
    }
    EXPECT_EQ(dialogs.messages, f.firstBox != nullptr ? QStringList{f.firstBox} : QStringList{});
    EXPECT_EQ(MovieFile, nullptr);
    EXPECT_EQ(MovieStream, nullptr);
    EXPECT_EQ(FrameDecoder, nullptr);
    EXPECT_TRUE(ReaderBitmap.isNull());
    Form3->IterateAVI();
    EXPECT_EQ(OfflineFrameIndex, 0) << "a reader whose open failed is not stepped";
}

INSTANTIATE_TEST_SUITE_P(
    Messages, FailedOpen,
    ::testing::Values(OpenFailure{"missing", nullptr, 0, 0, "No se pudo abrir el archivo", "FILEOPEN"},
                      OpenFailure{"not_avi", nullptr, 0, 0, "No se pudo abrir el archivo", "BADFORMAT"},
                      OpenFailure{"audio_only", "strh", 0, makeFourcc('a', 'u', 'd', 's'),
                                  "Error no hay pista de audio", nullptr},
                      // MJPEG and the other codecs FFmpeg knows are decoded; an unknown one is not.
                      OpenFailure{"unknown_codec", "strf", 16, makeFourcc('Q', 'Q', 'Z', '9'),
                                  "Error en Frameopen", nullptr},
                      OpenFailure{"rate_0", "strh", 24, 0, "Error en Frameopen", nullptr},
                      OpenFailure{"scale_0", "strh", 20, 0, "Error en Frameopen", nullptr},
                      OpenFailure{"duration_too_long", "strh", 20, 100000, "Error en Frameopen", nullptr}),
    [](const ::testing::TestParamInfo<OpenFailure>& info) { return std::string(info.param.name); });

TEST(AviErrorName, NamesEveryCodeOfTheTable) {
    const std::pair<std::uint32_t, const char*> table[] = {
        {0x80040154, "CLASSNOTREG"}, {0x80044065, "UNSUPPORTED"},    {0x80044066, "BADFORMAT"},
        {0x80044067, "MEMORY"},      {0x80044068, "INTERNAL"},       {0x80044069, "BADFLAGS"},
        {0x8004406A, "BADPARM"},     {0x8004406B, "BADSIZE"},        {0x8004406C, "BADHANDLE"},
        {0x8004406D, "FILEREAD"},    {0x8004406E, "FILEWRITE"},      {0x8004406F, "FILEOPEN"},
        {0x80044070, "COMPRESSOR"},  {0x80044071, "NOCOMPRESSOR"},   {0x80044072, "READONLY"},
        {0x80044073, "NODATA"},      {0x80044074, "BUFFERTOOSMALL"}, {0x80044075, "CANTCOMPRESS"},
        {0x800440C6, "USERABORT"},   {0x800440C7, "ERROR"},          {0x80044076, "Unknown Error"},
        {1, "Unknown Error"},        {0xFFFFFFFF, "Unknown Error"},
    };
    for (const auto& [code, text] : table) {
        EXPECT_EQ(AviErrorName(static_cast<std::int32_t>(code)), text) << std::hex << code;
    }
}

TEST_F(FrameReader, DamagedFrameIsHandedOutBlackAndTheRestGoOn) {
    const ClipSpec c{37, 24, 24, 10};
    // The index still points at the second frame, but its chunk is no frame any more.
    const std::string path = clip(c, 3, "damaged.avi");
    std::vector<std::uint8_t> bytes = readFileBytes(path);
    int frames = 0;
    for (const FoundChunk& k : riffLayout(bytes)) {
        if (k.id == "00db" && frames++ == 1) {
            writeLe32(bytes.data() + k.dataAt - 8, makeFourcc('J', 'U', 'N', 'K'));
        }
    }
    writeFileBytes(path, bytes);
    Form3->HeadAVI(path.c_str());
    Form3->IterateAVI();
    EXPECT_TRUE(shows(ReaderBitmap, c, 0));
    Form3->IterateAVI();
    EXPECT_EQ(ReaderBitmap.size(), QSize(37, 24));
    EXPECT_EQ(ReaderBitmap.pixel(5, 5), qRgb(0, 0, 0));
    Form3->IterateAVI();
    EXPECT_TRUE(shows(ReaderBitmap, c, 2));
}

// A stream may start at a later position than 0: the reader goes from its first frame to its last, as the
// file's other readers (kestrane-analyse, the movie player) do.
TEST_F(FrameReader, AStreamStartingLaterIsReadFromItsFirstFrame) {
    const ClipSpec c{37, 24, 24, 10};
    const std::string path = damagedClip(c, 3, "strh", 28, 5);
    Form3->HeadAVI(path.c_str());
    EXPECT_EQ(StreamFirstFrame, 5);
    EXPECT_EQ(OfflineFrameCount, 3);
    kestrane::AviFrameReader other;
    ASSERT_EQ(other.open(path), kAviOk);
    kestrane::Bitmap frame;
    for (int n = 0; n < 3; ++n) {
        Form3->IterateAVI();
        EXPECT_TRUE(shows(ReaderBitmap, c, n)) << "frame " << n;
        ASSERT_TRUE(other.frame(n, frame)) << "frame " << n;
        EXPECT_EQ(toQImage(frame), ReaderBitmap) << "frame " << n;
    }
}

TEST_F(FrameReader, OpeningAgainReplacesTheMovie) {
    Form3->HeadAVI(clip({37, 24, 24, 10}, 3, "a.avi").c_str());
    Form3->IterateAVI();
    const ClipSpec b{50, 30, 32, 30};
    Form3->HeadAVI(clip(b, 4, "b.avi").c_str());
    EXPECT_EQ(OfflineFrameCount, 4);
    EXPECT_EQ(OfflineFrameIndex, 0);
    Form3->IterateAVI();
    EXPECT_TRUE(shows(ReaderBitmap, b, 0)) << "a movie of another size is followed";
}

// A command handled inside a step (the step processes window messages) may close or reopen the reader; the
// step then neither advances the index that command left nor touches a closed reader.
TEST_F(FrameReader, StepSurvivesACommandThatClosesTheReader) {
    const ClipSpec c{37, 24, 24, 10};
    Form3->HeadAVI(clip(c, 5).c_str());
    QTimer::singleShot(0, [] {
        Form3->CloseAVI();
        OfflineFrameIndex = 1;
    });
    Form3->IterateAVI();
    EXPECT_EQ(OfflineFrameIndex, 1);
    EXPECT_EQ(CurrentFrame, nullptr);
    EXPECT_EQ(MovieFile, nullptr);
}

TEST_F(FrameReader, StepSurvivesACommandThatOpensAnotherMovie) {
    const ClipSpec a{37, 24, 24, 10};
    const ClipSpec b{50, 30, 32, 30};
    Form3->HeadAVI(clip(a, 5, "a.avi").c_str());
    const std::string other = clip(b, 4, "b.avi");
    QTimer::singleShot(0, [&] {
        OfflineFrameIndex = 0;
        Form3->HeadAVI(other.c_str());
    });
    Form3->IterateAVI();
    EXPECT_TRUE(ReaderBitmap.isNull()) << "the new movie's bitmap, empty until its first step";
    EXPECT_EQ(OfflineFrameIndex, 0) << "the new movie starts at its own frame 0";
    Form3->IterateAVI();
    EXPECT_TRUE(shows(ReaderBitmap, b, 0));
    EXPECT_EQ(OfflineFrameIndex, 1);
}

} // namespace
