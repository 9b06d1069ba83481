// The capture file of a streaming capture as an AVI file: one uncompressed video stream of the delivered
// frames, complete and readable however the capture ends.
#include "capture/AviSequenceSink.h"

#include "capture/FrameHandoff.h"
#include "recording/AviFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestrane {

namespace {

constexpr std::uint32_t kMicroSecondsPerSecond = 1'000'000;

class AviSequenceSink : public SequenceSink {
  public:
    AviSequenceSink(std::string fileName, std::optional<RecordingSettings> settings)
        : fileName_(std::move(fileName)) {
        if (settings) {
            settings_.emplace(fileName_, std::move(*settings));
        }
    }
    ~AviSequenceSink() override { release(); }

    int begin(const std::vector<std::uint8_t>& dibHeader, std::uint32_t microSecPerFrame) override {
        DibHeader header;
        if (!readDibHeader(dibHeader.data(), dibHeader.size(), header)) {
            return kAviErrBadFormat;
        }
        AVIFileInit();
        initialised_ = true;
        // Never in place of a file that is there: a capture removes no file it did not create.
        AviWriterOptions options;
        options.replaceExisting = false;
        errno = 0;
        const AviResult opened = AVIFileOpen(&file_, fileName_, kOfWrite | kOfCreate, options);
        if (opened != kAviOk) {
            file_ = nullptr;
            return codeOf(opened);
        }
        const int begun = beginStream(dibHeader, header, microSecPerFrame);
        if (begun != kAviOk) {
            // A file without a stream is no movie; it was ours, so it goes.
            release();
            std::remove(fileName_.c_str());
        } else if (settings_) {
            settings_->start(microSecPerFrame / static_cast<double>(kMicroSecondsPerSecond));
        }
        return begun;
    }

    int addFrame(const std::uint8_t* pixels, std::size_t bytes) override {
        if (stream_ == nullptr) {
            return kAviErrBadHandle;
        }
        errno = 0;
        const AviResult result =
            AVIStreamWrite(stream_, frames_, 1, pixels, static_cast<std::int32_t>(bytes), kAviIfKeyframe);
        if (result == kAviOk) {
            ++frames_;
            if (settings_) {
                settings_->frameWritten();
            }
        }
        return codeOf(result);
    }

    // A file that cannot be completed would read back without its frames: that is a failed write too.
    int finish() override {
        errno = 0;
        const bool open = file_ != nullptr;
        const int completed = open ? codeOf(aviFileComplete(file_)) : 0;
        release();
        if (settings_ && open) {
            settings_->finish(completed == 0
                                  ? std::string(kCaptureEnded)
                                  : "failed: the file could not be completed (" +
                                        std::string(completed < 0
                                                        ? std::strerror(-completed)
                                                        : aviResultText(static_cast<AviResult>(completed))) +
                                        ")");
        }
        return completed;
    }

  private:
    // The system's reason (-errno) where the file library met one, so that the operator reads it in words.
    static int codeOf(AviResult result) {
        if (result == kAviOk) {
            return 0;
        }
        return errno > 0 ? -errno : result;
    }

    int beginStream(const std::vector<std::uint8_t>& dibHeader, const DibHeader& header,
                    std::uint32_t microSecPerFrame) {
        AviStreamInfo info;
        info.fccType = kStreamTypeVideo;
        info.dwScale = microSecPerFrame;
        info.dwRate = kMicroSecondsPerSecond;
        info.dwSuggestedBufferSize = header.sizeImage;
        info.rcFrame = AviRect{0, 0, header.width, std::abs(header.height)};
        const AviResult result = AVIFileCreateStream(file_, &stream_, info);
        if (result != kAviOk) {
            stream_ = nullptr;
            return result;
        }
        return AVIStreamSetFormat(stream_, 0, dibHeader.data(), static_cast<std::int32_t>(dibHeader.size()));
    }

    // Releasing the last reference completes the file on disk.
    void release() {
        if (stream_ != nullptr) {
            AVIStreamRelease(stream_);
            stream_ = nullptr;
        }
        if (file_ != nullptr) {
            AVIFileRelease(file_);
            file_ = nullptr;
        }
        if (initialised_) {
            AVIFileExit();
            initialised_ = false;
        }
    }

    std::string fileName_;
    AviFile* file_ = nullptr;
    AviStream* stream_ = nullptr;
    bool initialised_ = false;
    std::int32_t frames_ = 0;
    std::optional<RecordingSettingsFile> settings_;
};

} // namespace

std::unique_ptr<SequenceSink> makeAviSequenceSink(const std::string& fileName,
                                                  std::optional<RecordingSettings> settings) {
    return std::make_unique<AviSequenceSink>(fileName, std::move(settings));
}

SequenceSinkFactory aviSequenceSinks(CaptureSettingsSource settings) {
    return [settings = std::move(settings)](const std::string& fileName) {
        return makeAviSequenceSink(fileName, settings ? settings() : std::nullopt);
    };
}

} // namespace kestrane
