#include "windows/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

namespace ps::ui::icons {

namespace {

const QColor kFace(232, 236, 242);
const QColor kFacePressed(196, 204, 216);
const QColor kInk(36, 56, 92);
const QColor kAccent(40, 120, 200);

QPixmap Blank(int w, int h) {
  QPixmap p(w, h);
  p.fill(Qt::transparent);
  return p;
}

// Rounded face of a button, raised or sunken.
void Face(QPainter& g, int size, bool pressed) {
  g.setRenderHint(QPainter::Antialiasing);
  QRectF r(1.5, 1.5, size - 3, size - 3);
  g.setPen(QPen(pressed ? QColor(120, 130, 150) : QColor(160, 170, 190), 1));
  g.setBrush(pressed ? kFacePressed : kFace);
  g.drawRoundedRect(r, 7, 7);
  if (!pressed) {
    g.setPen(QPen(QColor(255, 255, 255, 200), 1));
    g.drawLine(QPointF(7, 3), QPointF(size - 7, 3));
  }
  if (pressed) g.translate(1, 1);
}

void DrawSettings(QPainter& g, int s) {
  g.setPen(QPen(kInk, 2.5, Qt::SolidLine, Qt::RoundCap));
  const double xs[3] = {s * 0.3, s * 0.5, s * 0.7};
  const double knobs[3] = {s * 0.62, s * 0.36, s * 0.55};
  for (int i = 0; i < 3; ++i) g.drawLine(QPointF(xs[i], s * 0.22), QPointF(xs[i], s * 0.78));
  g.setBrush(kAccent);
  g.setPen(QPen(kInk, 1.5));
  for (int i = 0; i < 3; ++i) g.drawRoundedRect(QRectF(xs[i] - 5, knobs[i] - 3.5, 10, 7), 2, 2);
}

void DrawFullSize(QPainter& g, int s) {
  g.setPen(QPen(kInk, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  g.setBrush(Qt::NoBrush);
  const double a = s * 0.22, b = s * 0.78, c = s * 0.16;
  g.drawRect(QRectF(s * 0.34, s * 0.34, s * 0.32, s * 0.32));
  auto corner = [&](double x, double y, double dx, double dy) {
    g.drawLine(QPointF(x, y), QPointF(x + dx * c, y));
    g.drawLine(QPointF(x, y), QPointF(x, y + dy * c));
  };
  corner(a, a, 1, 1);
  corner(b, a, -1, 1);
  corner(a, b, 1, -1);
  corner(b, b, -1, -1);
}

void DrawHelp(QPainter& g, int s) {
  g.setPen(Qt::NoPen);
  g.setBrush(kAccent);
  g.drawEllipse(QPointF(s / 2.0, s / 2.0), s * 0.32, s * 0.32);
  QFont f = g.font();
  f.setBold(true);
  f.setPixelSize(static_cast<int>(s * 0.46));
  g.setFont(f);
  g.setPen(Qt::white);
  g.drawText(QRectF(0, 0, s, s), Qt::AlignCenter, "?");
}

void DrawSphere(QPainter& g, int s) {
  QRadialGradient grad(QPointF(s * 0.4, s * 0.38), s * 0.4);
  grad.setColorAt(0, QColor(250, 250, 255));
  grad.setColorAt(1, QColor(70, 110, 170));
  g.setPen(QPen(kInk, 1.2));
  g.setBrush(grad);
  g.drawEllipse(QPointF(s / 2.0, s / 2.0), s * 0.32, s * 0.32);
  g.setPen(QPen(QColor(0, 160, 0), 1.6));
  g.setBrush(Qt::NoBrush);
  g.drawEllipse(QPointF(s / 2.0, s / 2.0), s * 0.36, s * 0.36);
}

void DrawCheckFile(QPainter& g, int s) {
  g.setPen(QPen(kInk, 1.6));
  g.setBrush(Qt::white);
  QPainterPath page;
  page.moveTo(s * 0.22, s * 0.16);
  page.lineTo(s * 0.56, s * 0.16);
  page.lineTo(s * 0.68, s * 0.28);
  page.lineTo(s * 0.68, s * 0.80);
  page.lineTo(s * 0.22, s * 0.80);
  page.closeSubpath();
  g.drawPath(page);
  g.setPen(QPen(QColor(150, 160, 180), 1.2));
  for (int i = 0; i < 4; ++i) g.drawLine(QPointF(s * 0.3, s * (0.34 + 0.1 * i)), QPointF(s * 0.6, s * (0.34 + 0.1 * i)));
  g.setPen(QPen(kAccent, 3, Qt::SolidLine, Qt::RoundCap));
  g.setBrush(QColor(255, 255, 255, 160));
  g.drawEllipse(QPointF(s * 0.6, s * 0.58), s * 0.13, s * 0.13);
  g.drawLine(QPointF(s * 0.69, s * 0.67), QPointF(s * 0.82, s * 0.80));
}

void DrawClose(QPainter& g, int s) {
  g.setPen(QPen(kInk, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  g.setBrush(Qt::NoBrush);
  g.drawLine(QPointF(s * 0.3, s * 0.3), QPointF(s * 0.7, s * 0.7));
  g.drawLine(QPointF(s * 0.7, s * 0.3), QPointF(s * 0.3, s * 0.7));
}

void DrawPageSwitch(QPainter& g, int s) {
  g.setPen(QPen(kInk, 1.6));
  g.setBrush(QColor(255, 255, 255));
  g.drawRect(QRectF(s * 0.38, s * 0.2, s * 0.36, s * 0.46));
  g.setBrush(QColor(215, 230, 250));
  g.drawRect(QRectF(s * 0.24, s * 0.34, s * 0.36, s * 0.46));
  g.setPen(QPen(kAccent, 2.2, Qt::SolidLine, Qt::RoundCap));
  g.drawLine(QPointF(s * 0.3, s * 0.5), QPointF(s * 0.54, s * 0.5));
  g.drawLine(QPointF(s * 0.3, s * 0.62), QPointF(s * 0.5, s * 0.62));
}

// A magnifier pointer with a plus, a minus or nothing inside.
QCursor Magnifier(int sign) {
  QPixmap p = Blank(32, 32);
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  g.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap));
  g.drawLine(QPointF(19, 19), QPointF(29, 29));
  g.setPen(QPen(Qt::black, 3, Qt::SolidLine, Qt::RoundCap));
  g.drawLine(QPointF(19, 19), QPointF(29, 29));
  g.setPen(QPen(Qt::white, 4));
  g.setBrush(QColor(255, 255, 255, 180));
  g.drawEllipse(QPointF(12, 12), 9, 9);
  g.setPen(QPen(Qt::black, 2));
  g.drawEllipse(QPointF(12, 12), 9, 9);
  g.setPen(QPen(sign < 0 ? QColor(190, 30, 30) : QColor(20, 110, 20), 2.4));
  if (sign != 0) g.drawLine(QPointF(7.5, 12), QPointF(16.5, 12));
  if (sign > 0) g.drawLine(QPointF(12, 7.5), QPointF(12, 16.5));
  g.end();
  return QCursor(p, 12, 12);
}

}  // namespace

QPixmap Button(Kind kind, bool pressed) {
  const int s = kButtonSize;
  QPixmap p = Blank(s, s);
  QPainter g(&p);
  Face(g, s, pressed);
  switch (kind) {
    case Kind::Settings: DrawSettings(g, s); break;
    case Kind::FullSize: DrawFullSize(g, s); break;
    case Kind::Help: DrawHelp(g, s); break;
    case Kind::Sphere: DrawSphere(g, s); break;
    case Kind::CheckFile: DrawCheckFile(g, s); break;
    case Kind::Close: DrawClose(g, s); break;
    case Kind::PageSwitch: DrawPageSwitch(g, s); break;
  }
  return p;
}

QPixmap Azimuth(int degrees, bool pressed, bool subtract) {
  const int s = kButtonSize + 8;
  QPixmap p = Blank(s, s);
  QPainter g(&p);
  Face(g, s, pressed);
  const QPointF c(s / 2.0, s * 0.42);
  const double r = s * 0.28;
  g.setPen(QPen(kInk, 1.6));
  g.setBrush(subtract ? QColor(255, 226, 200) : QColor(214, 232, 252));
  g.drawEllipse(c, r, r);
  const double a = degrees * 3.14159 / 180.0;
  const QPointF d(std::cos(a) * r * 0.85, -std::sin(a) * r * 0.85);
  g.setPen(QPen(kAccent, 3, Qt::SolidLine, Qt::RoundCap));
  g.drawLine(c - d, c + d);
  QFont f = g.font();
  f.setPixelSize(11);
  f.setBold(true);
  g.setFont(f);
  g.setPen(kInk);
  g.drawText(QRectF(0, s * 0.72, s, s * 0.26), Qt::AlignCenter, QString::number(degrees) + QChar(0x00B0));
  if (subtract) {
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(200, 60, 30));
    g.drawEllipse(QPointF(s * 0.82, s * 0.18), 6.5, 6.5);
    g.setPen(QPen(Qt::white, 2));
    g.drawLine(QPointF(s * 0.82 - 3.5, s * 0.18), QPointF(s * 0.82 + 3.5, s * 0.18));
  }
  return p;
}

QPixmap OpenStripFrame(int stripPosition, bool enabled) {
  const int w = 110, h = 30;
  QPixmap p = Blank(w, h);
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  const bool pressedLook = stripPosition <= -286;
  // Animation phase 0..1 from the strip position 0..-260.
  const double phase = pressedLook ? 1.0 : std::clamp(-stripPosition / 260.0, 0.0, 1.0);
  QColor face = enabled ? QColor::fromRgbF(0.86 - 0.5 * phase, 0.9 - 0.3 * phase, 0.95) : QColor(220, 220, 220);
  if (pressedLook) face = QColor(40, 90, 160);
  g.setPen(QPen(enabled ? kInk : QColor(160, 160, 160), 1.2));
  g.setBrush(face);
  g.drawRoundedRect(QRectF(1, 1, w - 2, h - 2), 6, 6);
  // A folder that opens as the animation runs.
  const double ox = pressedLook ? 9 : 8;
  const double oy = pressedLook ? 8 : 7;
  g.setBrush(enabled ? QColor(240, 200, 90) : QColor(200, 200, 200));
  g.drawRect(QRectF(ox, oy + 2, 22, 14));
  g.setBrush(enabled ? QColor(250, 220, 120) : QColor(210, 210, 210));
  QPolygonF lid;
  lid << QPointF(ox, oy + 16) << QPointF(ox + 22, oy + 16) << QPointF(ox + 26 - 4 * (1 - phase), oy + 6 + 4 * (1 - phase))
      << QPointF(ox + 4 - 4 * (1 - phase), oy + 6 + 4 * (1 - phase));
  g.drawPolygon(lid);
  QFont f = g.font();
  f.setPixelSize(13);
  f.setBold(phase >= 1.0);
  g.setFont(f);
  g.setPen(!enabled ? QColor(150, 150, 150) : (phase > 0.5 ? Qt::white : kInk));
  g.drawText(QRectF(38, 0, w - 40, h), Qt::AlignVCenter | Qt::AlignLeft, QString::fromUtf8("Открыть"));
  return p;
}

QCursor ViewPointer() { return Magnifier(0); }
QCursor ZoomInPointer() { return Magnifier(1); }
QCursor ZoomOutPointer() { return Magnifier(-1); }

QPixmap ReadingPicture() {
  QPixmap p = Blank(32, 32);
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  g.setPen(QPen(kInk, 2));
  g.setBrush(QColor(240, 220, 150));
  QPolygonF glass;
  glass << QPointF(8, 4) << QPointF(24, 4) << QPointF(16, 16) << QPointF(24, 28) << QPointF(8, 28) << QPointF(16, 16);
  g.drawPolygon(glass);
  return p;
}

QPixmap AppIcon() {
  QPixmap p = Blank(64, 64);
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  DrawSphere(g, 64);
  return p;
}

}  // namespace ps::ui::icons
