// The window's own small controls: a picture control that shows its bitmap 1:1, a group box that can be
// clicked, and a horizontal stepper with two arrow buttons.
#pragma once

#include <QGroupBox>
#include <QImage>
#include <QWidget>

class QToolButton;

// Shows its picture from the top-left corner, unscaled; the picture is the bitmap the handlers draw on.
class TImage : public QWidget {
    Q_OBJECT
  public:
    TImage(QWidget* parent, const QString& name, int left, int top, int width, int height);

    QImage& picture() { return picture_; }
    const QImage& picture() const { return picture_; }
    void setPicture(const QImage& picture);

  signals:
    void clicked();
    void mouseDown(Qt::MouseButton button, Qt::MouseButtons buttons, QPoint position);
    void mouseMove(Qt::MouseButtons buttons, QPoint position);
    void doubleClicked();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    QImage picture_;
};

// A group box whose frame reacts to a click, as the playback and settings boxes do.
class TGroupBox : public QGroupBox {
    Q_OBJECT
  public:
    TGroupBox(QWidget* parent, const QString& name, const QString& caption, int left, int top, int width,
              int height);

  signals:
    void clicked();

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A horizontal up-down stepper: two arrows that move a signed 16-bit position within its range.
class TUpDown : public QWidget {
    Q_OBJECT
  public:
    TUpDown(QWidget* parent, const QString& name, int left, int top, int width, int height);

    int position() const { return position_; }
    void setPosition(int position);
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    void setRange(int minimum, int maximum);

  signals:
    // After an arrow has moved the position (no wrap-around at the ends).
    void clicked(bool up);

  private:
    void step(int delta);

    QToolButton* down_;
    QToolButton* up_;
    int minimum_ = 0;
    int maximum_ = 100;
    int position_ = 0;
};
