// The window's own small controls: a picture control that shows its bitmap 1:1, a group box that can be
// clicked, and a horizontal stepper with two arrow buttons.
#include "app/Controls.h"

#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <algorithm>
#include <cstdint>

TImage::TImage(QWidget* parent, const QString& name, int left, int top, int width, int height)
    : QWidget(parent) {
    setObjectName(name);
    setGeometry(left, top, width, height);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TImage::setPicture(const QImage& picture) {
    picture_ = picture;
    update();
}

void TImage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (!picture_.isNull()) {
        painter.drawImage(0, 0, picture_);
    }
}

void TImage::mousePressEvent(QMouseEvent* event) {
    emit mouseDown(event->button(), event->buttons(), event->position().toPoint());
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
    if (rect().contains(event->position().toPoint())) {
        emit clicked();
    }
}

void TImage::mouseMoveEvent(QMouseEvent* event) {
    emit mouseMove(event->buttons(), event->position().toPoint());
}

void TImage::mouseDoubleClickEvent(QMouseEvent* event) {
    emit doubleClicked();
    emit mouseDown(event->button(), event->buttons(), event->position().toPoint());
}

TGroupBox::TGroupBox(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                     int width, int height)
    : QGroupBox(caption, parent) {
    setObjectName(name);
    setGeometry(left, top, width, height);
}

void TGroupBox::mouseReleaseEvent(QMouseEvent* event) {
    QGroupBox::mouseReleaseEvent(event);
    if (rect().contains(event->position().toPoint())) {
        emit clicked();
    }
}

TUpDown::TUpDown(QWidget* parent, const QString& name, int left, int top, int width, int height)
    : QWidget(parent), down_(new QToolButton(this)), up_(new QToolButton(this)) {
    setObjectName(name);
    setGeometry(left, top, width, height);
    down_->setArrowType(Qt::LeftArrow);
    up_->setArrowType(Qt::RightArrow);
    down_->setGeometry(0, 0, width / 2, height);
    up_->setGeometry(width / 2, 0, width - width / 2, height);
    connect(down_, &QToolButton::clicked, this, [this] { step(-1); });
    connect(up_, &QToolButton::clicked, this, [this] { step(+1); });
}

void TUpDown::setPosition(int position) {
    position_ = static_cast<std::int16_t>(std::clamp(position, minimum_, maximum_));
}

void TUpDown::setRange(int minimum, int maximum) {
    minimum_ = static_cast<std::int16_t>(minimum);
    maximum_ = static_cast<std::int16_t>(maximum);
    position_ = std::clamp(position_, minimum_, std::max(minimum_, maximum_));
}

void TUpDown::step(int delta) {
    setPosition(position_ + delta);
    emit clicked(delta > 0);
}
