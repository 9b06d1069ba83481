// Every message box, confirmation and file dialog of the program goes through this seam, so tests never
// block.
#pragma once

#include <QString>

class QWidget;

class Dialogs {
  public:
    virtual ~Dialogs() = default;
    // A modal message box with one OK button.
    virtual void message(const QString& text) = 0;
    // A modal question with OK and Cancel; true for OK.
    virtual bool confirm(const QString& text) = 0;
    // File dialogs; an empty string when the operator cancels.
    virtual QString openFileName(const QString& filter, const QString& defaultSuffix) = 0;
    virtual QString saveFileName(const QString& filter, const QString& defaultSuffix) = 0;
};

// The dialogs of the program: the real ones unless a test installed others.
Dialogs& dialogs();
// Installs another implementation (tests); nullptr restores the real dialogs. The caller keeps ownership.
void setDialogs(Dialogs* replacement);

// The real dialogs, modal over the program's active window.
class QtDialogs : public Dialogs {
  public:
    void message(const QString& text) override;
    bool confirm(const QString& text) override;
    QString openFileName(const QString& filter, const QString& defaultSuffix) override;
    QString saveFileName(const QString& filter, const QString& defaultSuffix) override;
};
