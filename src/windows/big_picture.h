// The full-size window: a pixel-for-pixel copy of the polarization map, as
// large as the map, without scroll bars.
#pragma once

#include <QDialog>

#include "display/surface.h"

class QLabel;

namespace ps::ui {

class БольшаяКартинка : public QDialog {
 public:
  БольшаяКартинка(const Surface& map, QWidget* owner);
  QLabel* Picture1;
  const RasterSurface& copy() const { return copy_; }

 private:
  RasterSurface copy_;
};

}  // namespace ps::ui
