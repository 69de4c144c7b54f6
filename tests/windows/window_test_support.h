// Helpers of the window tests: driving a modal window once it is open,
// catching the message boxes, making test BMP files and finding the circle
// drawn on the map.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "display/surface.h"
#include "imageio/bmp_writer.h"
#include "state/message.h"
#include "windows/export_form.h"

#include "windows/messages.h"
#include "windows/open_form.h"
#include "windows/picture_button.h"

namespace wt {

// Runs `f` on the first modal window of type T that opens (polled every 10 ms).
// A window that `f` leaves open (for instance after a failed check) is closed,
// so a failure never leaves the test waiting.
template <class T>
void WhenModal(std::function<void(T*)> f) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, f] {
    if (auto* w = dynamic_cast<T*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      QPointer<QWidget> guard(w);
      f(w);
      if (guard && guard->isVisible())
        if (auto* d = dynamic_cast<QDialog*>(guard.data())) d->reject();
    }
  });
  timer->start();
}

// Chooses `name` in `folder` for `slot` through the selection window.
struct Choice {
  QString title, summary;
  bool openEnabled = false;
};
inline Choice ChooseFile(ps::ui::ExportForm& form, int slot, const QString& folder, const QString& name) {
  Choice c;
  WhenModal<ps::ui::OpenForm>([&](ps::ui::OpenForm* f) {
    c.title = f->windowTitle();
    f->setFolder(folder);
    if (f->selectFile(name)) f->Image1_Click();
    c.summary = f->Label1->text();
    c.openEnabled = f->openEnabled();
    if (c.openEnabled) f->Picture3->trigger();
    else f->reject();
  });
  form.AzimuthButtons[static_cast<size_t>(slot - 1)]->trigger();
  form.waitIdle();
  return c;
}

// Types a zoom into the scale box (a set opens at the zoom that shows its
// whole map; tests of marks on the map want the cells large).
inline void TypeZoom(ps::ui::ExportForm& form, int zoom) {
  form.Text1->setText(QString::number(zoom * 100));
  form.Text1_Change();
  form.waitIdle();
}

// Message boxes shown since the last Take().
struct Messages {
  std::vector<ps::Message> seen;
  Messages() {
    ps::ui::SetMessageInterceptor([this](const ps::Message& m) { seen.push_back(m); });
  }
  ~Messages() { ps::ui::SetMessageInterceptor({}); }
  std::vector<ps::Message> Take() {
    auto out = seen;
    seen.clear();
    return out;
  }
};

// Writes bytes to a file; fails the calling test when it cannot be written.
inline void WriteFile(const QString& path, const std::vector<uint8_t>& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

inline std::vector<uint8_t> Bmp24(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  ps::RgbImage img{w, h, {}};
  for (int i = 0; i < w * h; ++i) img.rgb.insert(img.rgb.end(), {r, g, b});
  return ps::EncodeBmp24(img);
}

inline std::vector<uint8_t> Bmp8(int w, int h) {
  std::vector<std::array<uint8_t, 3>> palette(256);
  for (int i = 0; i < 256; ++i)
    palette[static_cast<size_t>(i)] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), 7};
  std::vector<uint8_t> idx(static_cast<size_t>(w) * h);
  for (size_t i = 0; i < idx.size(); ++i) idx[i] = static_cast<uint8_t>(i % 256);
  return ps::EncodeBmp8(w, h, idx, palette);
}

inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// A 4-bit Windows bitmap with a 16-entry palette.
inline std::vector<uint8_t> Bmp4(int w, int h) {
  const int rowBytes = ((w * 4 + 31) / 32) * 4;
  const uint32_t offset = 14 + 40 + 16 * 4;
  std::vector<uint8_t> b(offset + static_cast<size_t>(rowBytes) * h, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, static_cast<uint32_t>(b.size()));
  Put32(b, 10, offset);
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<uint32_t>(w));
  Put32(b, 22, static_cast<uint32_t>(h));
  b[26] = 1;
  b[28] = 4;
  for (int i = 0; i < 16; ++i) b[54 + static_cast<size_t>(i) * 4] = static_cast<uint8_t>(i * 16);
  return b;
}

// How many of 36 points around the circle (centre cx, cy, radius r, in map
// pixels) have the circle's green within one pixel.
template <class Surface>
int GreenOnCircle(const Surface& map, double cx, double cy, double r) {
  int green = 0;
  for (int a = 0; a < 36; ++a) {
    const int px = static_cast<int>(std::lround(cx + r * std::cos(a * 3.14159 / 18)));
    const int py = static_cast<int>(std::lround(cy + r * std::sin(a * 3.14159 / 18)));
    bool hit = false;
    for (int d = 0; d < 9; ++d) hit |= ps::StripFlag(map.pixel(px + d % 3 - 1, py + d / 3 - 1)) == ps::Rgb(0, 200, 0);
    green += hit;
  }
  return green;
}

}  // namespace wt
