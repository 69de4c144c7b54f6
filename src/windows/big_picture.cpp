#include "windows/big_picture.h"

#include <QLabel>

#include "windows/zoom_picture.h"

namespace ps::ui {

БольшаяКартинка::БольшаяКартинка(const Surface& map, QWidget* owner) : QDialog(owner) {
  setWindowTitle(QString::fromUtf8("Полное окно"));
  setModal(true);
  const int w = std::max(1, map.width());
  const int h = std::max(1, map.height());
  copy_ = RasterSurface(w, h);
  if (map.width() > 0 && map.height() > 0) CopyPicture(map, copy_);
  Picture1 = new QLabel(this);
  Picture1->setGeometry(0, 0, w, h);
  Picture1->setPixmap(QPixmap::fromImage(ToImage(copy_)));
  setFixedSize(w, h);
}

}  // namespace ps::ui
