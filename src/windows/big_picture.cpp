#include "windows/big_picture.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>

#include "display/toning.h"
#include "windows/zoom_picture.h"

namespace ps::ui {

БольшаяКартинка::БольшаяКартинка(const Surface& map, QWidget* owner) : QDialog(owner) {
  setWindowTitle(QString::fromUtf8("Полное окно"));
  setModal(true);
  const int w = std::max(1, map.width());
  const int h = std::max(1, map.height());
  copy_ = RasterSurface(w, h);
  if (map.width() > 0 && map.height() > 0) CopyPicture(map, copy_);

  Scroll = new QScrollArea(this);
  Scroll->setFrameShape(QFrame::NoFrame);
  Scroll->setWidgetResizable(false);
  Picture1 = new QLabel;
  Picture1->setFixedSize(w, h);
  Picture1->setPixmap(QPixmap::fromImage(ToImage(copy_)));
  Scroll->setWidget(Picture1);

  // The screen the analysis window is on; its available area leaves out the
  // task bar and panels.
  QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
  const QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, w + 18, h + 40);
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  const FullSizeLayout l = FitFullSizeWindow(w, h, avail.width(), avail.height(), bar);
  Scroll->setHorizontalScrollBarPolicy(l.HScroll ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  Scroll->setVerticalScrollBarPolicy(l.VScroll ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  Scroll->setGeometry(0, 0, l.Width, l.Height);
  setFixedSize(l.Width, l.Height);
  // Centred in the available area, so no part of it lies off the screen.
  const WindowSize outer = FullSizeWindow(l.Width, l.Height);
  move(avail.left() + std::max(0, (avail.width() - outer.Width) / 2),
       avail.top() + std::max(0, (avail.height() - outer.Height) / 2));
}

}  // namespace ps::ui
