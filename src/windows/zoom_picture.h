// Widgets of the analysis window's views: a picture that shows a raster
// surface and reports mouse presses and moves in picture pixels, the selection
// marker drawn over the map, and the clickable progress bar.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

#include "display/surface.h"

namespace ps::ui {

// A copy of a raster surface as a Qt image.
QImage ToImage(const RasterSurface& surface);

class ZoomPicture : public QWidget {
 public:
  explicit ZoomPicture(QWidget* parent = nullptr);
  void setImage(const QImage& image);
  const QImage& image() const { return image_; }

  // Button in the legacy numbering (1 left, 2 right, 4 middle) and the position.
  std::function<void(int button, double x, double y)> onMouseDown;
  std::function<void(double x, double y)> onMouseMove;
  // Ctrl + wheel: +1 a notch away from the user (zoom in), -1 towards.
  std::function<void(int steps, double x, double y)> onCtrlWheel;

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  QImage image_;
};

class SelectionMarker : public QWidget {
 public:
  explicit SelectionMarker(QWidget* parent);
  void setColour(const QColor& c);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QColor colour_{0, 0, 255};
};

class ProgressBar : public QWidget {
 public:
  explicit ProgressBar(QWidget* parent);
  std::function<void()> onClick;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
};

}  // namespace ps::ui
