// The main window of Kestrane: its pages, controls and the acquisition loop.
#include "app/TForm1.h"

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle("Kestrane");
    resize(777, 577);
}
