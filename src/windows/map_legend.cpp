#include "windows/map_legend.h"

#include <QPainter>

#include "display/map_view.h"
#include "state/app_state.h"

namespace ps::ui {

namespace {

QRgb ToRgb(Colour c) { return qRgb(RedOf(c), GreenOf(c), BlueOf(c)); }

}  // namespace

MapLegend::MapLegend(QWidget* parent) : QWidget(parent) {
  setFixedSize(kSwatchWidth + 8, kSwatchHeight + 46);
  setToolTip(QString::fromUtf8("Цвета карты: с эллипсами — тон по азимуту, насыщенность и яркость по отношению осей; "
                               "карта изменения — красный по изменению отношения осей, зелёный по изменению азимута"));
  QWidget::hide();
}

void MapLegend::show(Kind kind, double ellipticitySensitivity, double azimuthSensitivity) {
  kind_ = kind;
  if (kind == Kind::None) {
    QWidget::hide();
    return;
  }
  swatch_ = QImage(kSwatchWidth, kSwatchHeight, QImage::Format_RGB32);
  EllipseColourMemory memory;
  for (int y = 0; y < kSwatchHeight; ++y)
    for (int x = 0; x < kSwatchWidth; ++x) {
      const double fx = (x + 0.5) / kSwatchWidth, fy = (y + 0.5) / kSwatchHeight;
      Colour c;
      if (kind == Kind::Ellipses)
        c = ЦветДляЭллипса(fy, (fx - 0.5) * kPi, memory);  // azimuth -90°..90°, axis ratio 0..1
      else  // change of the azimuth up to 90°, of the axis ratio up to 45°, at the sensitivities in force
        c = ChangeMapColour(fy * kPi / 4, fx * kPi / 2, ellipticitySensitivity, azimuthSensitivity, false);
      swatch_.setPixel(x, y, ToRgb(c));
    }
  QWidget::show();
  update();
}

void MapLegend::paintEvent(QPaintEvent*) {
  if (kind_ == Kind::None) return;
  QPainter p(this);
  QFont f = font();
  f.setPixelSize(9);
  p.setFont(f);
  const int top = 12;
  p.drawText(QRect(0, 0, width(), top), Qt::AlignLeft | Qt::AlignTop,
             kind_ == Kind::Ellipses ? QString::fromUtf8("Эллипсы") : QString::fromUtf8("Изменение"));
  p.drawImage(4, top, swatch_);
  p.setPen(Qt::black);
  p.drawRect(3, top - 1, kSwatchWidth + 1, kSwatchHeight + 1);
  const int below = top + kSwatchHeight + 1;
  if (kind_ == Kind::Ellipses) {
    p.drawText(QRect(0, below, width(), 11), Qt::AlignHCenter, QString::fromUtf8("→ азимут ±90°"));
    p.drawText(QRect(0, below + 11, width(), 11), Qt::AlignHCenter, QString::fromUtf8("↓ отн. осей 0…1"));
  } else {
    p.drawText(QRect(0, below, width(), 11), Qt::AlignHCenter, QString::fromUtf8("→ азимут: зел."));
    p.drawText(QRect(0, below + 11, width(), 11), Qt::AlignHCenter, QString::fromUtf8("↓ осей: красн."));
    p.fillRect(4, below + 23, 8, 8, QColor(ToRgb(ChangeMapColour(0, 0, 1, 1, true))));
    p.drawText(QRect(14, below + 21, width() - 14, 11), Qt::AlignLeft, QString::fromUtf8("не определена"));
  }
}

}  // namespace ps::ui
