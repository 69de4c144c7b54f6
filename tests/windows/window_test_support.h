// Helpers of the window tests: modal windows, message boxes, the analysis
// window's commands, test BMP files and the circle drawn on the map.
#pragma once

#include <QtTest>
#include <QtWidgets>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "display/surface.h"
#include "imageio/bmp_writer.h"
#include "state/app_state.h"
#include "state/message.h"
#include "state/number_format.h"
#include "windows/big_picture.h"
#include "windows/export_form.h"
#include "windows/messages.h"
#include "windows/open_form.h"
#include "windows/picture_button.h"
#include "windows/settings_form.h"
#include "windows/zoom_picture.h"

namespace wt {

// Runs `f` on the first modal window of type T that opens; a window `f` leaves
// open (after a failed check) is closed, so a failure never leaves the test waiting.
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

// Chooses `name` in `folder` for `slot` through the selection window, with
// the name pattern of that index (2: photographs as well).
struct Choice {
  QString title, summary, info;
  bool openEnabled = false;
};
inline Choice ChooseFile(ps::ui::ExportForm& form, int slot, const QString& folder, const QString& name,
                         int pattern = 0) {
  Choice c;
  WhenModal<ps::ui::OpenForm>([&](ps::ui::OpenForm* f) {
    c.title = f->windowTitle();
    f->ComboPattern->setCurrentIndex(pattern);
    f->setFolder(folder);
    if (f->selectFile(name)) f->Image1_Click();
    c.summary = f->Label1->text();
    c.info = f->Text7->toPlainText();
    c.openEnabled = f->openEnabled();
    if (c.openEnabled) f->Picture3->trigger();
    else f->reject();
  });
  form.AzimuthButtons[static_cast<size_t>(slot - 1)]->trigger();
  form.waitIdle();
  return c;
}

// Opens the bundled sample set and waits for its map.
inline void LoadSample(ps::ui::ExportForm& form) {
  form.CommandSample->click();
  QVERIFY(form.waitIdle());
  QVERIFY(form.state().setComplete());
}

inline std::vector<std::string> SampleFiles() {
  const std::string d = PS_SAMPLE_DIR;
  return {d + "/0.bmp", d + "/45.bmp", d + "/90.bmp", d + "/135.bmp"};
}

// A left press on map cell (x, y), 1-based, at the cell's middle.
inline void PressCell(ps::ui::ExportForm& form, int x, int y) {
  const double z = form.state().ZoomFactor;
  form.MapMouseDown(1, (x - 1) * z + z / 2, (y - 1) * z + z / 2);
  QVERIFY(form.waitIdle());
}

// Types into the scale box (a set opens at the zoom that shows its whole map).
inline void TypeScale(ps::ui::ExportForm& form, const QString& percent) {
  form.Text1->setText(percent);
  form.Text1_Change();
  QVERIFY(form.waitIdle());
}

// Clicks a button of the analysis window and waits for the work it starts.
inline void Click(ps::ui::ExportForm& form, QAbstractButton* button) {
  button->click();
  QVERIFY(form.waitIdle());
}

// Centre and radius as the status line under the map gives them.
inline QString Figures(ps::ui::ExportForm& form, const ps::SphereCircle& c) {
  const std::string sep = form.display().DecimalSeparator;
  return QString::fromStdString("центр (" + ps::FormatNumber(c.CircleCentreX, "0.00", sep) + "; " +
                                ps::FormatNumber(c.CircleCentreY, "0.00", sep) + "), радиус " +
                                ps::FormatNumber(c.CircleRadius, "0.00", sep) + " кл.");
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
  // The text of the one message shown since the last Take(), else how many there were.
  QString TakeOne() {
    const auto m = Take();
    return m.size() == 1 ? QString::fromStdString(m[0].text) : QString("<%1 messages>").arg(m.size());
  }
};

// Writes bytes to a file; fails the calling test when it cannot be written.
inline void WriteFile(const QString& path, const std::vector<uint8_t>& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}
inline void WriteFile(const QString& path, const std::string& text) {
  WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
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
  const uint32_t offset = 14 + 40 + 16 * 4, size = offset + uint32_t((w * 4 + 31) / 32 * 4 * h);
  std::vector<uint8_t> b(size, 0);
  for (auto [at, v] : {std::pair<size_t, uint32_t>{0, 0x4D42}, {2, size}, {10, offset}, {14, 40}, {18, uint32_t(w)}, {22, uint32_t(h)},
                       {26, 0x40001}})  // "BM", sizes, 1 plane of 4 bits
    Put32(b, at, v);
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
