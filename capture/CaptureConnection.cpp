// The main window's side of the capture connection: its start-up, the commands it sends to the capture
// window, the frame callback and the consumer protocol for one live frame.
#include "capture/CaptureConnection.h"

namespace kestrane {

namespace {

constexpr std::int32_t kRequestedWidth = 640;
constexpr std::int32_t kRequestedHeight = 480;
constexpr std::uint16_t kRequestedBits = 24;
constexpr std::uint32_t kPreviewRateMs = 1;
constexpr std::uint32_t kSequenceMicroSecPerFrame = 35000;
constexpr std::uint32_t kEscapeKey = 27;

} // namespace

CaptureConnection::CaptureConnection(MeasurementState& state) : state_(state) {}

CaptureConnection::~CaptureConnection() {
    // The window may outlive this object by a moment; it must not call back into it.
    if (CaptureWindowMessages* w = window()) {
        w->setCallbackFrame(nullptr);
        w->setUserData(nullptr);
    }
}

void CaptureConnection::FormCreate(const WindowFactory& createCaptureWindow) {
    resetBuffers();
    ConnectFailure.clear();

    attachWindow(createCaptureWindow ? createCaptureWindow() : nullptr);
    if (CaptureWindow == nullptr) {
        return;
    }
    if (!CaptureWindow->driverConnect(0)) {
        ConnectFailure = CaptureWindow->connectFailure();
        CaptureWindow->destroyWindow();
        attachWindow(nullptr);
        return;
    }
    ReadDriverCaps();

    // The reply does not matter: the format actually in force is read back below.
    BuildFrameHeader(FrameHeader.data(), kRequestedWidth, kRequestedHeight, kRequestedBits);
    CaptureWindow->setVideoFormat(static_cast<std::uint16_t>(FrameHeaderSize & 0xFFFF), FrameHeader.data());

    StartPreview();
    if (CaptureWindow->setUserData(this)) {
        CaptureWindow->setCallbackFrame(&CaptureConnection::FrameCallback);
    }
    FrameBitmap = Bitmap(kRequestedWidth, kRequestedHeight, kRequestedBits);
    RefreshStatus();
    ReadVideoFormat();
    state_.CaptureReady = 1;
}

void CaptureConnection::RefreshStatus() {
    if (CaptureWindowMessages* w = window()) {
        w->getStatus(CaptureStatus);
    }
}

void CaptureConnection::ReadDriverCaps() {
    if (CaptureWindowMessages* w = window()) {
        w->driverGetCaps(DriverCaps);
    }
}

void CaptureConnection::StartPreview() {
    if (CaptureWindowMessages* w = window()) {
        w->setPreviewRate(kPreviewRateMs);
        w->setPreview(true);
        RefreshStatus();
    }
}

void CaptureConnection::BtnGrabFrameNoStopClick() {
    CaptureWindowMessages* w = window();
    if (w == nullptr) {
        return;
    }
    w->grabFrameNoStop();
    RefreshStatus();
    if (CaptureStatus.driverLost != 0) {
        state_.CaptureReady = 0;
    }
}

void CaptureConnection::StartSequence() {
    CaptureWindowMessages* w = window();
    if (w == nullptr) {
        return;
    }
    CaptureParms parms;
    w->getSequenceSetup(parms);
    parms.requestMicroSecPerFrame = kSequenceMicroSecPerFrame;
    parms.yield = kCaptureTrue;
    parms.keyAbort = kEscapeKey;
    parms.abortLeftMouse = kCaptureTrue;
    parms.abortRightMouse = kCaptureTrue;
    parms.limitEnabled = kCaptureTrue;
    parms.timeLimit = static_cast<std::uint32_t>(state_.RecordTimeLimit);
    w->setSequenceSetup(parms);
    w->sequence();
    RefreshStatus();
}

void CaptureConnection::AbortSequence() {
    if (CaptureWindowMessages* w = window()) {
        w->abortSequence();
        RefreshStatus();
    }
}

void CaptureConnection::SetCaptureFile(const std::string& fileName) {
    if (CaptureWindowMessages* w = window()) {
        w->fileSetCaptureFile(fileName);
        RefreshStatus();
    }
}

void CaptureConnection::FormatClick() {
    if (CaptureWindowMessages* w = window()) {
        w->dlgVideoFormat();
        ReadVideoFormat();
        RefreshStatus();
    }
}

void CaptureConnection::FeaturesClick() {
    if (CaptureWindowMessages* w = window()) {
        w->dlgVideoSource();
        RefreshStatus();
    }
}

void CaptureConnection::WindowMoved() {
    if (CaptureWindowMessages* w = window()) {
        w->showWindow(false);
        w->showWindow(true);
    }
}

bool CaptureConnection::grabFrame(Bitmap& consumer, std::string& error) {
    BtnGrabFrameNoStopClick();
    if (!loadFrameBitmap(error)) {
        return false;
    }
    consumer = FrameBitmap;
    return true;
}

int CaptureConnection::FrameCallback(CaptureWindowMessages* window, const VideoHeader* header) {
    try {
        if (window != nullptr && header != nullptr) {
            if (auto* connection = static_cast<CaptureConnection*>(window->getUserData())) {
                connection->DeliverFrame(window, *header);
            }
        }
    } catch (...) {
        // A frame that cannot be delivered is dropped; the driver never sees an exception.
    }
    return 1;
}

} // namespace kestrane
