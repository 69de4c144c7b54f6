#include "windows/zoom_picture.h"

#include <QWheelEvent>

#include <QMouseEvent>
#include <QPainter>

namespace ps::ui {

QImage ToImage(const RasterSurface& surface) {
  if (surface.width() <= 0 || surface.height() <= 0) return {};
  return QImage(surface.data(), surface.width(), surface.height(), surface.stride(), QImage::Format_RGB888).copy();
}

ZoomPicture::ZoomPicture(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void ZoomPicture::setImage(const QImage& image) {
  image_ = image;
  update();
}

void ZoomPicture::paintEvent(QPaintEvent* event) {
  QPainter g(this);
  g.fillRect(event->rect(), QColor(96, 96, 96));
  if (!image_.isNull()) g.drawImage(event->rect().topLeft(), image_, event->rect());
}

void ZoomPicture::mousePressEvent(QMouseEvent* event) {
  int button = 0;
  switch (event->button()) {
    case Qt::LeftButton: button = 1; break;
    case Qt::RightButton: button = 2; break;
    case Qt::MiddleButton: button = 4; break;
    default: break;
  }
  if (onMouseDown) onMouseDown(button, event->position().x(), event->position().y());
}

void ZoomPicture::mouseMoveEvent(QMouseEvent* event) {
  if (onMouseMove) onMouseMove(event->position().x(), event->position().y());
}

void ZoomPicture::wheelEvent(QWheelEvent* event) {
  const int delta = event->angleDelta().y();
  if (!(event->modifiers() & Qt::ControlModifier) || !onCtrlWheel || delta == 0) {
    event->ignore();
    return;
  }
  onCtrlWheel(delta > 0 ? 1 : -1, event->position().x(), event->position().y());
  event->accept();
}

SelectionMarker::SelectionMarker(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
}

void SelectionMarker::setColour(const QColor& c) {
  colour_ = c;
  update();
}

void SelectionMarker::paintEvent(QPaintEvent*) {
  QPainter g(this);
  g.setPen(QPen(colour_, 2));
  g.setBrush(Qt::NoBrush);
  g.drawRect(QRectF(1, 1, width() - 2, height() - 2));
}

ProgressBar::ProgressBar(QWidget* parent) : QWidget(parent) {}

void ProgressBar::paintEvent(QPaintEvent*) {
  QPainter g(this);
  g.fillRect(rect(), QColor(40, 120, 200));
}

void ProgressBar::mousePressEvent(QMouseEvent*) {
  if (onClick) onClick();
}

}  // namespace ps::ui
