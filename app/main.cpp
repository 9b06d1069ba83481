// Program entry of the Kestrane window: command line, main window, reader window, message loop.
#include "app/CaptureSeam.h"
#include "app/CommandLine.h"
#include "app/ErrorDisplay.h"
#include "app/TForm1.h"
#include "capture/GrabCounters.h"
#include "review/AVIToBitmap.h"
#include "review/ReaderFrameSource.h"

#include <QIcon>
#include <QImage>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

// KESTRANE_TEST_FRAME names a BMP that stands in for the camera: every pass analyses that frame.
std::unique_ptr<CaptureSeam> captureFor(const kestrane::CameraOptions& options) {
    if (const char* path = std::getenv("KESTRANE_TEST_FRAME"); path != nullptr && *path != 0) {
        return std::make_unique<StillFrameCapture>(QImage(QString::fromLocal8Bit(path)), path);
    }
    return createCapture(options);
}

// While the application object starts, the toolkit's own messages are held back: when it cannot reach the
// display it ends the program with several lines of its own; one line of ours is said instead.
std::vector<std::pair<QtMsgType, QString>> gStartUpMessages;

void holdStartUpMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtFatalMsg) {
        gStartUpMessages.emplace_back(type, text);
        return;
    }
    const char* display = std::getenv("DISPLAY");
    std::fprintf(stderr,
                 "kestrane: cannot open a window on the display %s; kestrane-analyse works without one\n",
                 display != nullptr && *display != 0 ? display : "(none set)");
    std::_Exit(2);
}

} // namespace

int main(int argc, char** argv) {
    const CommandLine commandLine = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!commandLine.error.empty()) {
        std::fprintf(stderr, "kestrane: %s\n", commandLine.error.c_str());
        return 2;
    }
    if (!commandLine.answer.empty()) {
        std::fputs(commandLine.answer.c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

    if (const std::string missing = missingDisplay(std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"),
                                                   std::getenv("WAYLAND_DISPLAY"));
        !missing.empty()) {
        std::fprintf(stderr, "%s\n", missing.c_str());
        return 2;
    }

    int qtArgc = 1;
    const QtMessageHandler previousHandler = qInstallMessageHandler(holdStartUpMessage);
    KestraneApplication app(qtArgc, argv);
    qInstallMessageHandler(previousHandler);
    for (const auto& [type, text] : gStartUpMessages) {
        previousHandler(type, QMessageLogContext(), text);
    }
    app.setApplicationName("Kestrane");
    // Desktops match the window to its menu entry and icon by this name.
    app.setDesktopFileName("org.kestrane.Kestrane");
    app.setWindowIcon(QIcon::fromTheme("org.kestrane.Kestrane"));

    TForm1 form(captureFor(commandLine.camera));
    createForm3();
    form.setOfflineSource(std::make_unique<ReaderFrameSource>());

    if (const QScreen* screen = app.primaryScreen(); screen != nullptr) {
        QRect frame = form.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        form.move(frame.topLeft());
    }
    form.show();
    if (const char* page = std::getenv("KESTRANE_START_PAGE"); page != nullptr && *page != 0) {
        // For scripts/measure-live: the page whose live loop is measured, by its caption.
        if (auto* pages = form.findChild<QTabWidget*>("PageControl1")) {
            for (int i = 0; i < pages->count(); ++i) {
                if (pages->tabText(i) == QString::fromLocal8Bit(page)) {
                    pages->setCurrentIndex(i);
                }
            }
        }
    }
    QTimer liveStats;
    if (std::getenv("KESTRANE_LIVE_STATS") != nullptr) {
        // Once a second the totals so far, for scripts/measure-live.
        QObject::connect(&liveStats, &QTimer::timeout, [] {
            const kestrane::GrabCounters& counters = kestrane::grabCounters();
            std::fprintf(stderr, "kestrane-live frames=%llu dropped=%llu incomplete=%llu\n",
                         static_cast<unsigned long long>(counters.frames.load()),
                         static_cast<unsigned long long>(counters.skipped.load()),
                         static_cast<unsigned long long>(counters.incomplete.load()));
            std::fflush(stderr);
        });
        liveStats.start(1000);
    }
    const int result = app.exec();
    delete Form3;
    return result;
}
