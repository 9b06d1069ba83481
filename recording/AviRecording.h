// The loop every recorder shares: open the AVI file, take the stream format from the first picture, then make
// and append one frame per step until the frame bound, the operator or a failure ends it.
#pragma once

#include "imaging/Bitmap.h"
#include "recording/AviFile.h"
#include "recording/RecordingSettings.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrane {

// Creates the AVI file a recording writes; tests hand in a writer over a byte sink that fails on cue.
using AviFileOpener = std::function<AviResult(const std::string& fileName, AviFile** file)>;
// The real file system: the file is created, or replaced when it exists.
AviFileOpener aviFileCreator();
// The real file system, creating the file only when no file of its name exists: a recorder never removes a
// file it did not write.
AviFileOpener aviNewFileCreator();

// The pictures of one recording, one per step: the window's analysis pass and clip picture, or a camera
// frame.
class RecordingFrames {
  public:
    virtual ~RecordingFrames() = default;
    // The picture whose DIB header becomes the stream format (24 or 32 bits, bottom-up).
    virtual void formatPicture(Bitmap& picture) = 0;
    // Steps the source and makes frame i into `picture`; false when the operator ended the recording first.
    virtual bool makeFrame(std::int64_t i, Bitmap& picture) = 0;
    // The frame reader's index (OfflineFrameIndex), which the loop's second end test reads.
    virtual std::int32_t readerIndex() const = 0;
    // How an early end by the source (makeFrame false) is told in the settings file.
    virtual std::string stoppedText() const { return "stopped by the operator"; }
};

struct RecordingPlan {
    std::string fileName;
    std::uint32_t rate = 10;
    std::uint32_t scale = 1;
    // N: the loop ends once more than N frames are written, or when the reader's index passes N − 3.
    std::int64_t frameBound = 0;
};

enum class RecordingEnd {
    Finished,       // the frame bound or the reader's end was reached
    Stopped,        // the operator ended it early; the frames so far are in the file
    NotCreated,     // the file, the stream or its format could not be made
    FrameNotWritten // a frame could not be appended; the frames before it are in the file
};

struct RecordingResult {
    RecordingEnd end = RecordingEnd::Finished;
    std::int64_t frames = 0;
    AviResult code = kAviOk;
    // Why the file could not be created or written, for the operator.
    std::string reason;
};

// The test after frame i − 1 was written (i counts the frames written so far).
inline bool recordingLoopEnds(std::int64_t i, std::int64_t frameBound, std::int32_t readerIndex) {
    return i > frameBound || std::int64_t{readerIndex} > frameBound - 3;
}

// The 40-byte BITMAPINFOHEADER of a 24- or 32-bit bottom-up picture.
std::vector<std::uint8_t> dibHeaderOf(const Bitmap& picture);

// How a recording ended, in the words of its settings file; `stopped` tells an early end by the source.
std::string recordingEndedText(const RecordingResult& result, const std::string& stopped);

// Runs one recording from start to end. Every way out (done, stopped, failed) releases stream and file, so
// whatever was written is a complete AVI file. With `settings`, the settings file is written once the stream
// is made, gets the time of every frame written and is completed however the recording ends (an error thrown
// by the source included); a recording whose file could not be made leaves none.
RecordingResult recordAvi(const RecordingPlan& plan, RecordingFrames& frames, const AviFileOpener& open,
                          RecordingSettingsFile* settings = nullptr);

} // namespace kestrane
