#include "windows/picture_button.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>

namespace ps::ui {

PictureButton::PictureButton(QWidget* parent) : QLabel(parent) {
  setAlignment(Qt::AlignCenter);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
}

void PictureButton::setPictures(const QPixmap& normal, const QPixmap& pressed) {
  normal_ = normal;
  pressedPicture_ = pressed;
  setPixmap(pressed_ ? pressedPicture_ : normal_);
}

void PictureButton::showNormal() {
  pressed_ = false;
  setPixmap(normal_);
}

void PictureButton::showPressed() {
  pressed_ = true;
  setPixmap(pressedPicture_);
}

void PictureButton::mousePressEvent(QMouseEvent* event) {
  if (!isEnabled()) return;
  if (onMouseDown) onMouseDown(event->button());
  else showPressed();
}

void PictureButton::mouseReleaseEvent(QMouseEvent* event) {
  if (!isEnabled()) return;
  // The handlers may open modal windows or delete this button's window.
  QPointer<PictureButton> self(this);
  const bool inside = rect().contains(event->position().toPoint());
  if (onMouseUp) onMouseUp(event->button());
  else showNormal();
  if (self && inside && onClick) onClick();
}

void PictureButton::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    trigger();
    return;
  }
  QLabel::keyPressEvent(event);
}

void PictureButton::trigger(Qt::MouseButton button) {
  if (!isEnabled()) return;
  QPointer<PictureButton> self(this);
  if (onMouseDown) onMouseDown(button);
  else showPressed();
  if (!self) return;
  if (onMouseUp) onMouseUp(button);
  else showNormal();
  if (self && onClick) onClick();
}

}  // namespace ps::ui
