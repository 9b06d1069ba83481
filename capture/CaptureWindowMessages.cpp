// The capture window's message protocol: one method per capture message, each carried out on the backend of
// the connected driver. The ui's CaptureWindow adds the preview picture and the driver's dialogs.
#include "capture/CaptureWindowMessages.h"

#include "capture/FrameHandoff.h"
#include "capture/GrabCounters.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace kestrane {

namespace {

// Hands each grabbed frame to the installed frame callback.
class CallbackConsumer : public FrameConsumer {
  public:
    CallbackConsumer(CaptureWindowMessages* window, CaptureWindowMessages::FrameCallbackProc callback)
        : window_(window), callback_(callback) {}
    void consume(const VideoHeader& header) override {
        delivered = true;
        timeMs = header.timeCapturedMs;
        try {
            if (callback_ != nullptr) {
                callback_(window_, &header);
            }
            window_->frameGrabbed(header);
        } catch (...) {
            // The frame is lost; an exception must not cross the driver.
        }
    }

    bool delivered = false;
    std::uint32_t timeMs = 0;

  private:
    CaptureWindowMessages* window_;
    CaptureWindowMessages::FrameCallbackProc callback_;
};

} // namespace

CaptureWindowMessages::CaptureWindowMessages(DriverFactory drivers) : drivers_(std::move(drivers)) {}

CaptureWindowMessages::~CaptureWindowMessages() {
    lifetime_.reset();
    sequence_.abort();
    sequence_.wait();
}

void CaptureWindowMessages::noteResult(int result) {
    lastError_ = result < 0 ? result : 0;
}

void CaptureWindowMessages::noteFormat() {
    ++formatGeneration_;
    DibHeader header;
    const std::vector<std::uint8_t> format =
        driver_ != nullptr ? driver_->videoFormat() : std::vector<std::uint8_t>{};
    const bool known = readDibHeader(format.data(), format.size(), header);
    imageWidth_ = known ? static_cast<std::uint32_t>(header.width) : 0;
    imageHeight_ = known ? static_cast<std::uint32_t>(std::abs(header.height)) : 0;
}

void CaptureWindowMessages::noteCaptureFile() {
    std::error_code ignored;
    captureFileExists_ = std::filesystem::exists(captureFile_, ignored);
}

void CaptureWindowMessages::setCallbackFrame(FrameCallbackProc callback) {
    callback_ = callback;
}

void* CaptureWindowMessages::getUserData() const {
    return userData_;
}

bool CaptureWindowMessages::setUserData(void* data) {
    if (driver_ != nullptr && !driver_->acceptsUserData()) {
        return false;
    }
    userData_ = data;
    return true;
}

bool CaptureWindowMessages::driverConnect(int driverIndex) {
    std::lock_guard lock(driverLock_);
    if (sequence_.running()) {
        return false;
    }
    sequence_.wait();
    driver_.reset();
    std::unique_ptr<CaptureDriver> driver = drivers_ ? drivers_(driverIndex) : nullptr;
    if (!driver) {
        noteResult(-ENODEV);
        connectFailure_ = "no capture driver " + std::to_string(driverIndex);
        return false;
    }
    const int opened = driver->open();
    noteResult(opened);
    if (opened < 0) {
        connectFailure_ = driver->openFailure();
        if (connectFailure_.empty()) {
            connectFailure_ = driver->description() + ": " + std::strerror(-opened);
        }
        return false;
    }
    connectFailure_.clear();
    driver_ = std::move(driver);
    noteFormat();
    return true;
}

void CaptureWindowMessages::driverGetCaps(DriverCaps& caps) {
    std::lock_guard lock(driverLock_);
    caps = DriverCaps{};
    if (driver_ == nullptr) {
        return;
    }
    caps.hasDlgVideoSource = driver_->sourceControls().empty() ? 0 : 1;
    caps.hasDlgVideoFormat = driver_->formatOptions().empty() ? 0 : 1;
    caps.captureInitialized = 1;
}

void CaptureWindowMessages::fileSetCaptureFile(const std::string& fileName) {
    captureFile_ = fileName;
    noteCaptureFile();
}

void CaptureWindowMessages::dlgVideoFormat() {
    if (driver_ == nullptr || dialogs_ == nullptr || sequence_.running()) {
        return;
    }
    std::vector<FormatOption> options;
    int current = -1;
    {
        std::lock_guard lock(driverLock_);
        options = driver_->formatOptions();
        current = currentFormatIndex(options, driver_->videoFormat());
    }
    const int chosen = dialogs_->chooseFormat(options, current);
    if (chosen < 0 || chosen >= static_cast<int>(options.size())) {
        return;
    }
    const std::vector<std::uint8_t> request = formatRequest(options[static_cast<std::size_t>(chosen)]);
    setVideoFormat(static_cast<std::uint16_t>(request.size()), request.data());
}

void CaptureWindowMessages::dlgVideoSource() {
    if (driver_ == nullptr || dialogs_ == nullptr) {
        return;
    }
    std::vector<SourceControl> controls;
    {
        std::lock_guard lock(driverLock_);
        controls = driver_->sourceControls();
    }
    dialogs_->adjustSource(controls, [this](std::uint32_t id, std::int32_t value) {
        std::lock_guard lock(driverLock_);
        if (driver_ != nullptr) {
            noteResult(driver_->setSourceControl(id, value));
        }
    });
}

std::uint32_t CaptureWindowMessages::getVideoFormat(std::uint16_t size, std::uint8_t* format) {
    std::lock_guard lock(driverLock_);
    if (driver_ == nullptr) {
        return 0;
    }
    const std::vector<std::uint8_t> current = driver_->videoFormat();
    if (format != nullptr) {
        std::copy_n(current.begin(), std::min<std::size_t>(size, current.size()), format);
    }
    return static_cast<std::uint32_t>(current.size());
}

bool CaptureWindowMessages::setVideoFormat(std::uint16_t size, const std::uint8_t* header) {
    std::lock_guard lock(driverLock_);
    // A capture in progress keeps its format: its file already says what every frame looks like.
    if (driver_ == nullptr || header == nullptr || sequence_.running()) {
        return false;
    }
    const int result = driver_->setVideoFormat(header, size);
    noteResult(result);
    noteFormat();
    return result == 0;
}

void CaptureWindowMessages::setPreview(bool on) {
    previewOn_ = on;
    previewChanged();
}

void CaptureWindowMessages::setPreviewRate(std::uint32_t milliseconds) {
    previewRateMs_ = milliseconds;
    previewChanged();
}

void CaptureWindowMessages::getStatus(CaptureStatus& status) {
    std::lock_guard lock(driverLock_);
    status = CaptureStatus{};
    if (driver_ != nullptr) {
        status.imageWidth = imageWidth_;
        status.imageHeight = imageHeight_;
        status.driverLost = driver_->lost() ? 1 : 0;
    }
    status.liveWindow = previewOn_ ? 1 : 0;
    const SequenceCapture::Progress progress = sequence_.progress();
    if (sequenceStarted_ && !progress.running) {
        // A capture has ended since the last look; its file is complete now.
        sequenceStarted_ = false;
        noteCaptureFile();
    }
    status.capFileExists = captureFileExists_ ? 1 : 0;
    status.currentVideoFrame = progress.frames;
    status.currentVideoFramesDropped = progress.dropped;
    status.currentTimeElapsedMs = progress.elapsedMs;
    status.capturingNow = progress.running ? 1 : 0;
    status.lastError = lastError_ != 0 ? lastError_ : progress.error;
    status.aborted = progress.aborted;
}

bool CaptureWindowMessages::grabFrameNoStop() {
    std::lock_guard lock(driverLock_);
    if (driver_ == nullptr) {
        return false;
    }
    CallbackConsumer consumer(this, callback_);
    const int result = driver_->readFrame(consumer);
    if (consumer.delivered) {
        noteGrabbedFrame(grabbedBefore_, lastGrabMs_, consumer.timeMs, driver_->framePeriodUs());
        grabbedBefore_ = true;
        lastGrabMs_ = consumer.timeMs;
    }
    noteResult(result);
    return result == 0;
}

bool CaptureWindowMessages::sequence() {
    if (driver_ == nullptr || sequence_.running()) {
        return false;
    }
    std::unique_ptr<SequenceSink> sink;
    try {
        sink = sinks_ ? sinks_(captureFile_) : nullptr;
    } catch (...) {
        sink = nullptr;
    }
    int started = 0;
    {
        std::lock_guard lock(driverLock_);
        started = sequence_.start(*driver_, driverLock_, driver_->videoFormat(), parms_, std::move(sink));
    }
    noteResult(started);
    noteCaptureFile();
    if (started < 0) {
        return false;
    }
    sequenceStarted_ = true;
    sequenceStarted(parms_);
    if (parms_.yield == 0) {
        sequence_.wait();
    }
    return true;
}

void CaptureWindowMessages::setSequenceSetup(const CaptureParms& parms) {
    parms_ = parms;
}

void CaptureWindowMessages::getSequenceSetup(CaptureParms& parms) {
    parms = parms_;
}

void CaptureWindowMessages::abortSequence(SequenceAbort how) {
    sequence_.abort(how);
}

void CaptureWindowMessages::destroyWindow() {
    lifetime_.reset();
    sequence_.abort();
    sequence_.wait();
    std::lock_guard lock(driverLock_);
    driver_.reset();
    previewOn_ = false;
}

int CaptureWindowMessages::readPreviewFrame(FrameConsumer& consumer) {
    std::lock_guard lock(driverLock_);
    if (driver_ == nullptr || !previewOn_ || sequence_.running()) {
        return -EAGAIN;
    }
    return driver_->readFrame(consumer);
}

int CaptureWindowMessages::framePeriodUs() const {
    std::lock_guard lock(driverLock_);
    return driver_ != nullptr ? driver_->framePeriodUs() : 0;
}

std::string CaptureWindowMessages::driverDescription() const {
    std::lock_guard lock(driverLock_);
    return driver_ != nullptr ? driver_->description() : std::string();
}

} // namespace kestrane
