// Helpers of the window tests: driving a modal window once it is open,
// catching the message boxes, and making test BMP files.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QtTest>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "imageio/bmp_writer.h"
#include "state/message.h"
#include "windows/messages.h"

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

// With PS_WINDOW_SHOTS set to a folder, a picture of `w` is saved there under
// `name`, for a person to look at.
// Writes bytes to a file; fails the calling test when it cannot be written.
inline void WriteFile(const QString& path, const std::vector<uint8_t>& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

inline void Shot(QWidget& w, const char* name) {
  const QByteArray dir = qgetenv("PS_WINDOW_SHOTS");
  if (!dir.isEmpty()) w.grab().save(QString::fromLocal8Bit(dir) + "/" + name + ".png");
}

inline std::vector<uint8_t> Bmp24(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  ps::RgbImage img{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h * 3)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = img.pixel(x, y);
      p[0] = r;
      p[1] = g;
      p[2] = b;
    }
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

}  // namespace wt
