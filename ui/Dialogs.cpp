// Every message box, confirmation and file dialog of the program goes through this seam, so tests never
// block.
#include "ui/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

namespace {
Dialogs* gReplacement = nullptr;

QWidget* owner() {
    return QApplication::activeWindow();
}

QString runFileDialog(QFileDialog::AcceptMode mode, const QString& filter, const QString& defaultSuffix) {
    QFileDialog dialog(owner(), QString(), QString(), filter);
    dialog.setAcceptMode(mode);
    dialog.setDefaultSuffix(defaultSuffix);
    // A bare name gets the extension of the file type chosen in the dialog ("All Files" keeps the default).
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog, defaultSuffix](const QString& chosen) {
                         static const QRegularExpression pattern(QStringLiteral(R"(\(\*\.(\w+)[ )])"));
                         const QRegularExpressionMatch match = pattern.match(chosen);
                         dialog.setDefaultSuffix(match.hasMatch() ? match.captured(1) : defaultSuffix);
                     });
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return QString();
    }
    return dialog.selectedFiles().first();
}
} // namespace

Dialogs& dialogs() {
    static QtDialogs real;
    return gReplacement != nullptr ? *gReplacement : real;
}

void setDialogs(Dialogs* replacement) {
    gReplacement = replacement;
}

void QtDialogs::message(const QString& text) {
    QMessageBox::information(owner(), QApplication::applicationName(), text);
}

bool QtDialogs::confirm(const QString& text) {
    return QMessageBox::question(owner(), QApplication::applicationName(), text,
                                 QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

QString QtDialogs::openFileName(const QString& filter, const QString& defaultSuffix) {
    return runFileDialog(QFileDialog::AcceptOpen, filter, defaultSuffix);
}

QString QtDialogs::saveFileName(const QString& filter, const QString& defaultSuffix) {
    return runFileDialog(QFileDialog::AcceptSave, filter, defaultSuffix);
}
