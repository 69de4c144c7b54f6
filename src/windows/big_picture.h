// The full-size window: a pixel-for-pixel copy of the polarization map, as
// large as the map but never larger than the screen's available area; a map
// that does not fit is shown with scroll bars.
#pragma once

#include <QDialog>

#include "display/surface.h"

class QLabel;
class QScrollArea;

namespace ps::ui {

class БольшаяКартинка : public QDialog {
 public:
  БольшаяКартинка(const Surface& map, QWidget* owner);
  QLabel* Picture1;
  QScrollArea* Scroll;
  const RasterSurface& copy() const { return copy_; }

 private:
  RasterSurface copy_;
};

}  // namespace ps::ui
