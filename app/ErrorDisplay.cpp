// The general error display: an error that no handler catches is shown in a message box and the program
// goes on with the next event.
#include "app/ErrorDisplay.h"

#include "ui/Dialogs.h"

KestraneApplication::KestraneApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool KestraneApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        showError(error);
        return false;
    }
}

void showError(const std::exception& error) {
    dialogs().message(QString::fromUtf8(error.what()));
}
