// The frame reader as the acquisition loop sees it while "Work Offline" processes a recorded file; the
// reader window's code supplies the real one.
#include "app/OfflineFrames.h"

QWidget* createReaderWindowPlaceholder() {
    auto* window = new QWidget(nullptr, Qt::Window);
    window->setObjectName("Form3");
    window->setWindowTitle("Form3");
    window->setGeometry(570, 147, 330, 268);
    // Closing the main window ends the program even while this window is shown.
    window->setAttribute(Qt::WA_QuitOnClose, false);
    return window;
}
