// The loop every recorder shares: open the AVI file, take the stream format from the first picture, then make
// and append one frame per step until the frame bound, the operator or a failure ends it.
#include "recording/AviRecording.h"

#include "imaging/Bmp.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

namespace kestrane {

namespace {

// What the operator is told about a failed AVI call; `error` is errno as the call left it (0 for none).
std::string reasonFor(AviResult code, int error) {
    if (error == ENOENT && code == kAviErrFileWrite) {
        return "the file or its folder was removed during the recording";
    }
    if (error != 0) {
        return std::strerror(error);
    }
    switch (code) {
    case kAviErrFileOpen:
        return "the file cannot be created";
    case kAviErrFileWrite:
        return "the file cannot be written (is the disk full?)";
    case kAviErrBadFormat:
        return "the picture format is not accepted";
    case kAviErrUnsupported:
        return "the stream is not accepted";
    default:
        return "AVI error " + std::to_string(static_cast<std::uint32_t>(code));
    }
}

// Holds the stream and the file of one recording; releasing the file completes it on disk.
class OpenRecording {
  public:
    OpenRecording() = default;
    OpenRecording(const OpenRecording&) = delete;
    OpenRecording& operator=(const OpenRecording&) = delete;
    ~OpenRecording() {
        AVIStreamRelease(stream);
        AVIFileRelease(file);
        AVIFileExit();
    }
    AviFile* file = nullptr;
    AviStream* stream = nullptr;
};

} // namespace

AviFileOpener aviFileCreator() {
    return [](const std::string& fileName, AviFile** file) {
        return AVIFileOpen(file, fileName, kOfWrite | kOfCreate);
    };
}

AviFileOpener aviNewFileCreator() {
    return [](const std::string& fileName, AviFile** file) {
        AviWriterOptions options;
        options.replaceExisting = false;
        return AVIFileOpen(file, fileName, kOfWrite | kOfCreate, options);
    };
}

std::vector<std::uint8_t> dibHeaderOf(const Bitmap& picture) {
    std::vector<std::uint8_t> header(40, 0);
    writeLe32(header.data(), 40);
    writeLe32(header.data() + 4, static_cast<std::uint32_t>(picture.width()));
    writeLe32(header.data() + 8, static_cast<std::uint32_t>(picture.height()));
    writeLe16(header.data() + 12, 1);
    writeLe16(header.data() + 14, static_cast<std::uint16_t>(picture.bitsPerPixel()));
    writeLe32(header.data() + 20, static_cast<std::uint32_t>(picture.sizeBytes()));
    return header;
}

namespace {

RecordingResult runRecording(const RecordingPlan& plan, RecordingFrames& frames, const AviFileOpener& open,
                             RecordingSettingsFile* settings, bool& fileCreated) {
    RecordingResult result;
    const auto fail = [&result](RecordingEnd end, AviResult code, int error) {
        result.end = end;
        result.code = code;
        result.reason = reasonFor(code, error);
        return result;
    };

    AVIFileInit();
    OpenRecording recording;
    errno = 0;
    if (const AviResult opened = open(plan.fileName, &recording.file); opened != kAviOk) {
        recording.file = nullptr;
        return fail(RecordingEnd::NotCreated, opened, errno);
    }
    fileCreated = true;

    Bitmap picture;
    frames.formatPicture(picture);
    const std::vector<std::uint8_t> format = dibHeaderOf(picture);
    // The geometry every frame must keep, so that its pixels are the frames the stream format describes.
    const auto geometryOf = [](const Bitmap& b) {
        return std::array<int, 3>{b.width(), b.height(), b.bitsPerPixel()};
    };
    const std::array<int, 3> geometry = geometryOf(picture);
    AviStreamInfo info;
    info.fccType = kStreamTypeVideo;
    info.fccHandler = 0;
    info.dwScale = plan.scale;
    info.dwRate = plan.rate;
    info.dwSuggestedBufferSize = static_cast<std::uint32_t>(picture.sizeBytes());
    info.rcFrame = AviRect{0, 0, picture.width(), picture.height()};
    errno = 0;
    if (const AviResult created = AVIFileCreateStream(recording.file, &recording.stream, info);
        created != kAviOk) {
        return fail(RecordingEnd::NotCreated, created, errno);
    }
    errno = 0;
    if (const AviResult formatted =
            AVIStreamSetFormat(recording.stream, 0, format.data(), static_cast<std::int32_t>(format.size()));
        formatted != kAviOk) {
        return fail(RecordingEnd::NotCreated, formatted, errno);
    }
    // A settings file that cannot be written does not cost the recording: the movie is what was asked for.
    if (settings != nullptr) {
        settings->start(static_cast<double>(plan.scale) /
                        static_cast<double>(std::max<std::uint32_t>(plan.rate, 1)));
    }

    for (std::int64_t i = 0;;) {
        if (!frames.makeFrame(i, picture)) {
            result.end = RecordingEnd::Stopped;
            return result;
        }
        if (geometryOf(picture) != geometry) {
            result.end = RecordingEnd::FrameNotWritten;
            result.code = kAviErrBadFormat;
            result.reason = "the picture changed its size or depth";
            return result;
        }
        errno = 0;
        const AviResult written =
            AVIStreamWrite(recording.stream, static_cast<std::int32_t>(i), 1, picture.bits(),
                           static_cast<std::int32_t>(picture.sizeBytes()), kAviIfKeyframe);
        if (written != kAviOk) {
            return fail(RecordingEnd::FrameNotWritten, written, errno);
        }
        if (settings != nullptr) {
            settings->frameWritten();
        }
        ++i;
        result.frames = i;
        if (recordingLoopEnds(i, plan.frameBound, frames.readerIndex())) {
            return result;
        }
    }
}

} // namespace

std::string recordingEndedText(const RecordingResult& result, const std::string& stopped) {
    switch (result.end) {
    case RecordingEnd::Finished:
        return "completed";
    case RecordingEnd::Stopped:
        return stopped;
    case RecordingEnd::NotCreated:
        return "the movie could not be created: " + result.reason;
    case RecordingEnd::FrameNotWritten:
        break;
    }
    return "failed: a frame could not be written (" + result.reason + ")";
}

RecordingResult recordAvi(const RecordingPlan& plan, RecordingFrames& frames, const AviFileOpener& open,
                          RecordingSettingsFile* settings) {
    bool fileCreated = false;
    RecordingResult result;
    try {
        result = runRecording(plan, frames, open, settings, fileCreated);
    } catch (const std::exception& e) {
        // The movie holds the frames so far; its settings file says so before the error goes on up.
        if (settings != nullptr) {
            settings->finish(std::string("failed: ") + e.what());
        }
        throw;
    }
    if (result.end == RecordingEnd::NotCreated) {
        if (fileCreated) {
            // A file without a stream is no movie; nothing may take it for one.
            std::remove(plan.fileName.c_str());
        }
        if (settings != nullptr) {
            settings->discard();
        }
    } else if (settings != nullptr) {
        settings->finish(recordingEndedText(result, frames.stoppedText()));
    }
    return result;
}

} // namespace kestrane
