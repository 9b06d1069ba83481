// Scripted dialogs for window tests: answers queued in advance, every message recorded.
#pragma once

#include "ui/Dialogs.h"

#include <QString>
#include <QStringList>
#include <deque>

class FakeDialogs : public Dialogs {
  public:
    FakeDialogs() { setDialogs(this); }
    ~FakeDialogs() override { setDialogs(nullptr); }

    void message(const QString& text) override { messages << text; }
    bool confirm(const QString& text) override {
        messages << text;
        return pop(confirmAnswers, true);
    }
    QString openFileName(const QString&, const QString&) override { return pop(fileAnswers, QString()); }
    QString saveFileName(const QString&, const QString&) override { return pop(fileAnswers, QString()); }

    QStringList messages;
    std::deque<bool> confirmAnswers;
    std::deque<QString> fileAnswers;

  private:
    template <typename T> static T pop(std::deque<T>& queue, T fallback) {
        if (queue.empty()) {
            return fallback;
        }
        T value = queue.front();
        queue.pop_front();
        return value;
    }
};
