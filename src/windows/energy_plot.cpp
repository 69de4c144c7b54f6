#include "windows/energy_plot.h"

#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace ps::ui {

namespace {

const QColor kColourA(30, 90, 200);
const QColor kColourB(200, 50, 40);

// A number for an axis label, with the locale's decimal separator.
QString Label(double v) {
  const double a = std::fabs(v);
  const int decimals = a >= 1000 ? 0 : (a >= 10 ? 1 : (a >= 0.1 ? 3 : 5));
  return QLocale().toString(v, 'f', decimals);
}

}  // namespace

EnergyPlot::EnergyPlot(QWidget* parent) : QWidget(parent) {
  setMinimumSize(300, 140);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void EnergyPlot::setPoints(std::vector<EnergyPoint> points) {
  points_ = std::move(points);
  update();
}

void EnergyPlot::addPoints(const std::vector<EnergyPoint>& points) {
  if (points.empty()) return;
  points_.insert(points_.end(), points.begin(), points.end());
  update();
}

void EnergyPlot::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  const QFontMetrics fm = fontMetrics();
  const int left = fm.horizontalAdvance(QStringLiteral("0000000,0")) + 6;
  const int right = left;
  const int top = fm.height() + 6, bottom = fm.height() + 6;
  const QRect area(left, top, std::max(10, width() - left - right), std::max(10, height() - top - bottom));
  p.setPen(Qt::gray);
  p.drawRect(area.adjusted(0, 0, -1, -1));

  p.setPen(kColourA);
  p.drawText(QRect(0, 0, width() / 2, top), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("  Энергия А"));
  p.setPen(kColourB);
  p.drawText(QRect(width() / 2, 0, width() / 2, top), Qt::AlignRight | Qt::AlignVCenter,
             QStringLiteral("Энергия Б  "));
  p.setPen(Qt::black);
  if (points_.empty()) {
    p.drawText(area, Qt::AlignCenter, QStringLiteral("Принятых итераций пока нет"));
    return;
  }

  const double x0 = static_cast<double>(points_.front().iteration);
  const double x1 = std::max(x0 + 1, static_cast<double>(points_.back().iteration));
  p.drawText(QRect(area.left(), area.bottom() + 2, area.width(), bottom), Qt::AlignLeft | Qt::AlignTop,
             QString::number(points_.front().iteration));
  p.drawText(QRect(area.left(), area.bottom() + 2, area.width(), bottom), Qt::AlignHCenter | Qt::AlignTop,
             QStringLiteral("принятые итерации"));
  p.drawText(QRect(area.left(), area.bottom() + 2, area.width(), bottom), Qt::AlignRight | Qt::AlignTop,
             QString::number(points_.back().iteration));

  // Each energy on its own scale from its smallest to its largest value.
  auto draw = [&](double EnergyPoint::*member, const QColor& colour, bool onLeft) {
    double lo = points_.front().*member, hi = lo;
    for (const EnergyPoint& e : points_) {
      lo = std::min(lo, e.*member);
      hi = std::max(hi, e.*member);
    }
    const double span = hi > lo ? hi - lo : 1;
    QPainterPath path;
    for (size_t i = 0; i < points_.size(); ++i) {
      const QPointF at(area.left() + (points_[i].iteration - x0) / (x1 - x0) * (area.width() - 1),
                       area.bottom() - (points_[i].*member - lo) / span * (area.height() - 1));
      if (i == 0) path.moveTo(at);
      else path.lineTo(at);
    }
    p.setPen(QPen(colour, 1.5));
    p.drawPath(path);
    if (points_.size() == 1) p.drawEllipse(path.currentPosition(), 2, 2);
    const Qt::Alignment side = onLeft ? Qt::AlignRight : Qt::AlignLeft;
    const QRect labels = onLeft ? QRect(0, area.top() - fm.height() / 2, left - 4, area.height() + fm.height())
                                : QRect(area.right() + 4, area.top() - fm.height() / 2, right - 4,
                                        area.height() + fm.height());
    p.drawText(labels, side | Qt::AlignTop, Label(hi));
    p.drawText(labels, side | Qt::AlignBottom, Label(lo));
  };
  draw(&EnergyPoint::energyA, kColourA, true);
  draw(&EnergyPoint::energyB, kColourB, false);
}

}  // namespace ps::ui
