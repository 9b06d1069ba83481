// The capture backend interface (the device behind capture driver 0) and the records the capture window
// exchanges with the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kestrane {

// A boolean field written as "true" in the capture records: all bits set.
constexpr std::uint32_t kCaptureTrue = 0xFFFFFFFFu;

// The header of one delivered frame: the address of its data comes first, as the frame callback expects.
struct VideoHeader {
    const std::uint8_t* data = nullptr;
    std::uint32_t bufferLength = 0;
    std::uint32_t bytesUsed = 0;
    std::uint32_t timeCapturedMs = 0;
    std::uint32_t user = 0;
    std::uint32_t flags = 0;
};

// What the driver can do; filled once after connecting.
struct DriverCaps {
    std::uint32_t deviceIndex = 0;
    std::uint32_t hasOverlay = 0;
    std::uint32_t hasDlgVideoSource = 0;
    std::uint32_t hasDlgVideoFormat = 0;
    std::uint32_t hasDlgVideoDisplay = 0;
    std::uint32_t captureInitialized = 0;
    std::uint32_t driverSuppliesPalettes = 0;
};

// The state of the capture window, refreshed after every command.
// What ended a streaming capture before its time limit by an abort.
enum class SequenceAbort : std::uint32_t { None = 0, Key = 1, Mouse = 2, Program = 3 };

struct CaptureStatus {
    std::uint32_t imageWidth = 0;
    std::uint32_t imageHeight = 0;
    std::uint32_t liveWindow = 0;
    std::uint32_t capFileExists = 0;
    std::uint32_t currentVideoFrame = 0;
    std::uint32_t currentVideoFramesDropped = 0;
    std::uint32_t currentTimeElapsedMs = 0;
    std::uint32_t capturingNow = 0;
    // The last error of the driver as -errno (0 when the last command succeeded).
    std::int32_t lastError = 0;
    // The device has gone away (unplugged); no frame will come any more.
    std::uint32_t driverLost = 0;
    // The abort that ended the last streaming capture before its time limit, if one did.
    SequenceAbort aborted = SequenceAbort::None;
};

// The parameters of a streaming capture to the capture file, in the order of the platform's record.
struct CaptureParms {
    std::uint32_t requestMicroSecPerFrame = 66667;
    std::uint32_t makeUserHitOkToCapture = 0;
    std::uint32_t percentDropForError = 10;
    std::uint32_t yield = 0;
    std::uint32_t indexSize = 34952;
    std::uint32_t chunkGranularity = 0;
    std::uint32_t usingDosMemory = 0;
    std::uint32_t numVideoRequested = 10;
    std::uint32_t captureAudio = 0;
    std::uint32_t numAudioRequested = 0;
    std::uint32_t keyAbort = 27;
    std::uint32_t abortLeftMouse = kCaptureTrue;
    std::uint32_t abortRightMouse = kCaptureTrue;
    std::uint32_t limitEnabled = 0;
    std::uint32_t timeLimit = 0;
    std::uint32_t mciControl = 0;
    std::uint32_t stepMciDevice = 0;
    std::uint32_t mciStartTime = 0;
    std::uint32_t mciStopTime = 0;
    std::uint32_t stepCaptureAt2x = 0;
    std::uint32_t stepCaptureAverageFrames = 0;
    std::uint32_t audioBufferSize = 0;
    std::uint32_t disableWriteCache = 0;
    std::uint32_t avStreamMaster = 0;
};

// One entry of the format dialog: a pixel layout and a frame size the backend can deliver.
struct FormatOption {
    std::uint32_t compression = 0; // biCompression: 0 for RGB, otherwise a four-character code
    std::uint16_t bitCount = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::string label; // the layout's name as the dialog shows it
    bool operator==(const FormatOption& o) const {
        return compression == o.compression && bitCount == o.bitCount && width == o.width &&
               height == o.height;
    }
};

// One control of the source dialog (brightness, contrast, exposure, gain, ...).
struct SourceControl {
    std::uint32_t id = 0;
    std::string name;
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    std::int32_t step = 1;
    std::int32_t defaultValue = 0;
    std::int32_t value = 0;
    // Named states, in the order offered (value, name); empty for a control that takes any number.
    std::vector<std::pair<std::int32_t, std::string>> choices;
};

// Receives a frame inside a backend's read; the data is valid only during the call.
class FrameConsumer {
  public:
    virtual void consume(const VideoHeader& header) = 0;

  protected:
    ~FrameConsumer() = default;
};

// A capture backend. Device calls return 0 or -errno; the capture window adds the context. The capture window
// serialises all calls, so a backend needs no locking of its own.
class CaptureDriver {
  public:
    virtual ~CaptureDriver() = default;

    // Opens the device and settles on a format the program takes.
    virtual int open() = 0;
    // Why the last open() failed, naming the device, for the operator; empty when the backend cannot tell.
    virtual std::string openFailure() const { return {}; }
    // What the driver calls itself.
    virtual std::string description() const = 0;

    // The format in force as a BITMAPINFO: the 40-byte header followed by any colour data.
    virtual std::vector<std::uint8_t> videoFormat() const = 0;
    // Asks for the format of a BITMAPINFOHEADER; -EINVAL (format unchanged) when the device refuses it.
    virtual int setVideoFormat(const std::uint8_t* header, std::size_t size) = 0;
    virtual std::vector<FormatOption> formatOptions() const = 0;

    virtual std::vector<SourceControl> sourceControls() = 0;
    virtual int setSourceControl(std::uint32_t id, std::int32_t value) = 0;

    // Hands the newest frame to `consumer` before returning: 0, or -errno when no frame came.
    virtual int readFrame(FrameConsumer& consumer) = 0;
    // The time between two frames of the device.
    virtual int framePeriodUs() const = 0;
    // True once the device has gone away (unplugged); every read fails from then on.
    virtual bool lost() const { return false; }
    // Whether the capture window may keep the program's object with it; a backend may refuse.
    virtual bool acceptsUserData() const { return true; }
};

// Makes the backend of a driver index; null for an index without a driver.
using DriverFactory = std::function<std::unique_ptr<CaptureDriver>(int driverIndex)>;

// Where a streaming capture puts its frames: the capture file. Every call returns 0 or a negative code.
class SequenceSink {
  public:
    virtual ~SequenceSink() = default;
    // Starts the file: the DIB header (BITMAPINFO bytes) every frame follows, and the time per frame.
    virtual int begin(const std::vector<std::uint8_t>& dibHeader, std::uint32_t microSecPerFrame) = 0;
    virtual int addFrame(const std::uint8_t* pixels, std::size_t bytes) = 0;
    // Completes the file so that it is valid and holds the frames added so far; called exactly once.
    virtual int finish() = 0;
};

// Opens the sink of a capture file name; null when the file cannot be created.
using SequenceSinkFactory = std::function<std::unique_ptr<SequenceSink>(const std::string& fileName)>;

// The driver's own format and source dialogs.
class CaptureDialogs {
  public:
    virtual ~CaptureDialogs() = default;
    // The format dialog: the index of the chosen option, or -1 when the operator cancels.
    virtual int chooseFormat(const std::vector<FormatOption>& options, int currentIndex) = 0;
    // The source dialog: `apply` takes each change as the operator makes it.
    virtual void adjustSource(const std::vector<SourceControl>& controls,
                              const std::function<void(std::uint32_t id, std::int32_t value)>& apply) = 0;
};

} // namespace kestrane
