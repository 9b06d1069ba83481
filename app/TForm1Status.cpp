// The main window's status line under the pages: frames analysed per second, camera frames dropped since
// start, where the frames come from and the data folder, refreshed once a second.
#include "app/DataDirectory.h"
#include "app/TForm1.h"

#include "analysis/MeasurementState.h"
#include "capture/GrabCounters.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <utility>

namespace {

constexpr int kStatusWidth = 380;
constexpr int kStatusHeight = 30;

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

void TForm1::buildStatusLine() {
    // It sits over the bottom of every page, under the left column, the one strip no page uses: the window
    // keeps its 777 x 577 and a bar across the whole width would cover "Save *.AVI Movie".
    StatusLine = new QLabel(PageControl1);
    StatusLine->setObjectName("StatusLine");
    StatusLine->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StatusLine->setTextFormat(Qt::PlainText);
    StatusLine->setContentsMargins(4, 0, 4, 0);
    placeStatusLine();
    StatusTimer = new QTimer(this);
    StatusTimer->setObjectName("StatusTimer");
    StatusTimer->setInterval(1000);
    connect(StatusTimer, &QTimer::timeout, this, &TForm1::StatusTimerTimer);
    StatusTimer->start();
    StatusTimerTimer();
}

void TForm1::placeStatusLine() {
    StatusLine->setGeometry(2, PageControl1->height() - kStatusHeight - 2, kStatusWidth, kStatusHeight);
    StatusLine->raise();
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    placeStatusLine();
}

void TForm1::StatusTimerTimer() {
    status_.sample(steadySeconds(), framesAnalysed_, framesDropped_);
    kestrane::FrameOrigin origin = kestrane::FrameOrigin::Camera;
    std::string detail;
    if (Offline->isChecked()) {
        origin = kestrane::FrameOrigin::OfflineFile;
        detail = "offline.avi";
    } else if (kestrane::measurementState().CaptureReady == 0) {
        origin = kestrane::FrameOrigin::NoCamera;
    } else {
        detail = capture_->cameraText();
    }
    const std::string source = kestrane::frameSourceText(origin, detail);
    const std::string folder = kestrane::DataDirectory();
    // A long folder is shortened in its middle, the source kept whole; the tooltip has everything.
    const QFontMetrics metrics(StatusLine->font());
    const QString before = QString::fromStdString(kestrane::LiveStatus::whereLine(source, ""));
    const int room = StatusLine->contentsRect().width() - metrics.horizontalAdvance(before) - 4;
    StatusLine->setText(
        QString::fromStdString(status_.figuresLine()) + '\n' + before +
        metrics.elidedText(QString::fromStdString(folder), Qt::ElideMiddle, std::max(room, 0)));
    StatusLine->setToolTip(QString::fromStdString(kestrane::LiveStatus::whereLine(source, folder)));
}

void TForm1::grabLiveFrame() {
    const double now = steadySeconds();
    const bool counted =
        kestrane::dropsCount(std::exchange(liveTick_, false), Timer2->interval(), now - lastLiveGrabS_);
    const std::uint64_t before = kestrane::grabCounters().skipped.load(std::memory_order_relaxed);
    capture_->grabFrame(Image1->picture());
    if (counted) {
        framesDropped_ += kestrane::grabCounters().skipped.load(std::memory_order_relaxed) - before;
    }
    lastLiveGrabS_ = now;
}
