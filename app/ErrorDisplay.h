// The general error display: an error that no handler catches is shown in a message box and the program
// goes on with the next event.
#pragma once

#include <QApplication>
#include <exception>

class KestraneApplication : public QApplication {
  public:
    KestraneApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the error's text through the dialogs seam.
void showError(const std::exception& error);
