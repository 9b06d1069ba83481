// The main window of Kestrane: its pages, controls and the acquisition loop.
#pragma once

#include <QMainWindow>

class TForm1 : public QMainWindow {
    Q_OBJECT
  public:
    explicit TForm1(QWidget* parent = nullptr);
};
