// Loading photographs in the analysis window: nothing the user does in the
// selection window short of taking an accepted file with the open button
// changes the set, its flags or the result map; refused files say why once;
// a first choice that is cancelled leaves no set; "Новый набор" and
// "Открыть пример" replace the whole set; top-down bitmaps are read.
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <new>
#include <stdexcept>

#include "imageio/bmp.h"
#include "state/app_state.h"
#include "windows/export_form.h"
#include "windows/open_form.h"
#include "windows/picture_button.h"
#include "window_test_support.h"

using namespace ps;
using namespace ps::ui;

namespace {

std::vector<uint8_t> SampleBytes(const char* name) {
  std::ifstream in(std::string(PS_SAMPLE_DIR) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

// The same picture stored top row first, with a negative height.
std::vector<uint8_t> TopDownCopy(std::vector<uint8_t> b) {
  const uint32_t offset = Get32(b, 10), w = Get32(b, 18), h = Get32(b, 22), bits = b[28];
  const size_t row = ((w * bits + 31) / 32) * 4;
  for (size_t top = 0, bottom = h - 1; top < bottom; ++top, --bottom)
    std::swap_ranges(b.begin() + offset + top * row, b.begin() + offset + (top + 1) * row,
                     b.begin() + offset + bottom * row);
  wt::Put32(b, 22, static_cast<uint32_t>(-static_cast<int32_t>(h)));
  return b;
}

// Everything of the set a user could lose: the four slots' bytes, the flags,
// the header values, the palette, the result map, the circle and the map on screen.
struct Snapshot {
  std::vector<uint8_t> images;
  std::vector<int> flags;
  std::string path;
  std::vector<float> palette;
  std::vector<double> map;
  std::vector<uint8_t> screen;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const ExportForm& form, const AppState& s) {
  Snapshot t;
  for (int slot = 1; slot <= 4 && !s.ImageStore.empty(); ++slot)
    for (int y = 1; y <= s.ImageStore.height(); ++y)
      t.images.insert(t.images.end(), s.ImageStore.row(y, slot), s.ImageStore.row(y, slot) + 3 * s.ImageStore.width());
  t.flags = {s.SetStarted, s.SetWidth, s.SetHeight, s.SetBitsPerPixel, s.ZoomFactor, s.Header.BitsPerPixel,
             s.Header.ImageWidth, s.Header.ImageHeight, s.Header.RowPadding};
  for (int k = 0; k < 4; ++k)
    t.flags.insert(t.flags.end(), {int(s.SlotLoaded[k]), int(s.SubtractNext[k]), s.ColouredPixelCount[k]});
  t.path = s.Header.FilePath + "|" + s.Header.FileSignature;
  for (const auto& e : s.PaletteTable) t.palette.insert(t.palette.end(), e.begin(), e.end());
  const size_t n = size_t(s.ResultMap.width()) * s.ResultMap.height();
  for (int layer = 1; layer <= 21; ++layer)
    if (const double* l = s.ResultMap.hasStorage(layer) ? s.ResultMap.layer(layer) : nullptr)
      t.map.insert(t.map.end(), l, l + n);
  t.map.insert(t.map.end(), {s.Circle.CircleCentreX, s.Circle.CircleCentreY, s.Circle.CircleRadius});
  const RasterSurface& m = form.mapSurface();
  t.screen.assign(m.data(), m.data() + size_t(m.stride()) * m.height());
  return t;
}

std::string Texts(const std::vector<Message>& ms) {
  std::string out;
  for (const Message& m : ms) out += "[" + m.text + "]";
  return out;
}

}  // namespace

class LoadingTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;

  void loadSample(ExportForm& form) {
    form.CommandSample->click();
    QVERIFY(form.waitIdle());
    QVERIFY(form.state().setComplete());
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    if (ExportForm::SampleFolder().isEmpty()) QSKIP("no sample set");
    const std::vector<uint8_t> zero = SampleBytes("0.bmp");
    wt::WriteFile(dir_.filePath("good.bmp"), SampleBytes("45.bmp"));
    wt::WriteFile(dir_.filePath("top.bmp"), TopDownCopy(zero));
    std::vector<uint8_t> cut = TopDownCopy(zero);
    cut.resize(cut.size() - 1000);
    wt::WriteFile(dir_.filePath("cut.bmp"), cut);
    std::vector<uint8_t> packed = zero;
    wt::Put32(packed, 30, 1);  // a 24-bit file flagged as compressed: no decoder reads it either
    wt::WriteFile(dir_.filePath("packed.bmp"), packed);
    const std::string text = "just some text, not a picture\n";
    wt::WriteFile(dir_.filePath("text.bmp"), std::vector<uint8_t>(text.begin(), text.end()));
    wt::WriteFile(dir_.filePath("small.bmp"), wt::Bmp24(10, 10, 50, 60, 70));
    wt::WriteFile(dir_.filePath("eight.bmp"), wt::Bmp8(320, 240));
    wt::WriteFile(dir_.filePath("four.bmp"), wt::Bmp4(320, 240));
  }

  // On the loaded sample set, for each way of leaving the selection window
  // without taking a file: the set is byte for byte as before, the open
  // button is disabled after every refusal and pressing it takes nothing,
  // and a refused file gives exactly its one message.
  void leavingTheWindowChangesNothing_data() {
    QTest::addColumn<int>("slot");
    QTest::addColumn<QString>("file");  // files checked in turn, separated by ","
    QTest::addColumn<QString>("leave");  // "cancel", "escape" or "close" (title bar)
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("message");  // start of the one message, "" for none
    QTest::newRow("nothing chosen, title bar") << 2 << "" << "close" << false << "";
    QTest::newRow("accepted file, Esc") << 2 << "good.bmp" << "escape" << true << "";
    QTest::newRow("text named .bmp") << 2 << "text.bmp" << "close" << false
                                     << "Файл text.bmp не является изображением,\r\nа содержит что-то другое";
    QTest::newRow("accepted, then cut short") << 1 << "good.bmp,cut.bmp" << "close" << false << "Ошибка №62 ";
    QTest::newRow("other size") << 3 << "small.bmp" << "close" << false
                                << "Это изображение другого формата:  10 x 10\r\nА нужно  320 x 240";
    QTest::newRow("8 bits in a 24-bit set") << 3 << "eight.bmp" << "close" << false
                                            << "Это изображение другой глубины цвета:  8 бит на пиксель\r\n"
                                               "А нужно  24 бит на пиксель";
    QTest::newRow("24 bits flagged compressed") << 2 << "packed.bmp" << "cancel" << false
                                                << "Изображение с типом сжатия 1\r\n            не поддерживается";
    QTest::newRow("4 bits: the label only") << 2 << "four.bmp" << "escape" << false << "";
  }
  void leavingTheWindowChangesNothing() {
    QFETCH(int, slot);
    QFETCH(QString, file);
    QFETCH(QString, leave);
    QFETCH(bool, accepted);
    QFETCH(QString, message);
    wt::Messages messages;
    AppState state;
    ExportForm form(state);
    loadSample(form);
    // The contour layers are part of the result map a mis-click must not lose.
    form.Command1->click();
    QVERIFY(form.waitIdle());
    const Snapshot before = Take(form, state);

    bool openEnabled = false;
    bool stillOpen = false;
    std::vector<Message> seen;
    wt::WhenModal<OpenForm>([&](OpenForm* f) {
      f->setFolder(dir_.path());
      openEnabled = f->openEnabled();
      if (!file.isEmpty()) {
        for (const QString& name : file.split(',')) {
          QVERIFY(f->selectFile(name));
          f->Image1_Click();
        }
        seen = messages.Take();
        openEnabled = f->openEnabled();
        if (!accepted) {
          f->Picture3->trigger();  // the open button of a refused file takes nothing
          stillOpen = f->isVisible() && !f->choice();
        }
      }
      if (leave == "escape") QTest::keyClick(f, Qt::Key_Escape);
      else if (leave == "close") f->close();
      else f->reject();
    });
    form.AzimuthButtons[size_t(slot - 1)]->trigger();
    QVERIFY(form.waitIdle());

    QCOMPARE(openEnabled, accepted);
    if (!file.isEmpty() && !accepted) QVERIFY(stillOpen);
    if (message.isEmpty()) {
      QVERIFY2(seen.empty(), Texts(seen).c_str());
    } else {
      QVERIFY2(seen.size() == 1 && seen[0].text.rfind(message.toStdString(), 0) == 0, Texts(seen).c_str());
    }
    QVERIFY2(messages.Take().empty(), "closing the window shows nothing");
    QVERIFY(Take(form, state) == before);
  }

  // On an empty start: cancelling, also after a refused file, leaves no set
  // and no message; all four cancelled leave the window as it started; then
  // a file of any size starts the set.
  void cancelledFirstChoicesLeaveNoSet() {
    wt::Messages messages;
    AppState state;
    ExportForm form(state);
    for (int slot = 1; slot <= 4; ++slot) {
      wt::WhenModal<OpenForm>([&](OpenForm* f) {
        f->setFolder(dir_.path());
        if (slot == 2) {  // a refused first file
          f->selectFile("text.bmp");
          f->Image1_Click();
        }
        f->reject();
      });
      form.AzimuthButtons[size_t(slot - 1)]->trigger();
      QVERIFY(form.waitIdle());
      if (slot == 2) QCOMPARE(messages.Take().size(), size_t{1});
    }
    QVERIFY2(messages.seen.empty(), Texts(messages.seen).c_str());
    QCOMPARE(state.SetStarted, 0);
    QCOMPARE(state.SetWidth, 0);
    QVERIFY(!state.anySlotLoaded());
    QVERIFY(!form.mapShown());
    for (QWidget* port : form.ViewPorts) QVERIFY(port->isHidden());

    const wt::Choice c = wt::ChooseFile(form, 3, dir_.path(), "small.bmp");
    QVERIFY2(c.openEnabled, qPrintable(c.summary));
    QCOMPARE(state.SetStarted, 3);
    QCOMPARE(state.SetWidth, 10);
    QVERIFY(state.SlotLoaded[2]);
    QVERIFY(!form.ViewPorts[2]->isHidden());
    QVERIFY(messages.seen.empty());
  }

  // "Новый набор" asks first while a set is loaded; "Нет" keeps everything.
  // After "Да" a set of another size can be opened, and "Открыть пример"
  // replaces any set whole.
  void newSetAndSampleReplaceTheWholeSet() {
    wt::Messages messages;
    std::vector<Message> questions;
    bool answer = false;
    SetQuestionInterceptor([&](const Message& q) {
      questions.push_back(q);
      return answer;
    });
    AppState state;
    ExportForm form(state);
    form.CommandNew->click();  // nothing loaded: no question
    QVERIFY(questions.empty());
    loadSample(form);
    state.Circle = SphereCircle{160, 120, 50};
    form.CommandSample->click();  // a second sample load forgets the circle
    QVERIFY(form.waitIdle());
    QVERIFY(!state.Circle.exists());
    QVERIFY(form.Image19->isHidden());

    const Snapshot before = Take(form, state);
    form.CommandNew->click();
    QCOMPARE(questions.size(), size_t{1});
    QCOMPARE(questions[0].title, std::string("Новый набор"));
    QVERIFY(Take(form, state) == before);

    answer = true;
    form.CommandNew->click();
    QCOMPARE(questions.size(), size_t{2});
    QCOMPARE(state.SetStarted, 0);
    QVERIFY(!state.anySlotLoaded() && state.ImageStore.empty() && state.ResultMap.empty());
    QVERIFY(!form.mapShown() && form.Picture10->isHidden());
    for (QWidget* port : form.ViewPorts) QVERIFY(port->isHidden());
    for (int k = 0; k < 4; ++k) QVERIFY(!state.SubtractNext[size_t(k)]);

    const wt::Choice c = wt::ChooseFile(form, 1, dir_.path(), "small.bmp");
    QVERIFY2(c.openEnabled, qPrintable(c.summary));
    QCOMPARE(state.SetWidth, 10);
    QCOMPARE(state.ZoomFactor, 9);

    // The sample opens at the zoom that shows its whole map: at the smallest
    // window size not even 320 x 240 fits, so 1 instead of the set's 6.
    form.resize(form.minimumSize());
    loadSample(form);
    QCOMPARE(state.SetWidth, 320);
    QCOMPARE(state.SetStarted, 1);
    QCOMPARE(state.ZoomFactor, 1);
    for (int k = 0; k < 4; ++k) QVERIFY(state.SubtractNext[size_t(k)]);
    QVERIFY(form.mapShown());
    QVERIFY2(messages.seen.empty(), Texts(messages.seen).c_str());
    SetQuestionInterceptor({});
  }

  // Paths handed over in one step (command line) that are refused are
  // reported by name, and the set on screen stays.
  void refusedPathsAreReportedAndTheSetStays() {
    wt::Messages messages;
    AppState state;
    ExportForm form(state);
    loadSample(form);
    const Snapshot before = Take(form, state);
    const std::string sample = PS_SAMPLE_DIR;
    const std::string missing = dir_.filePath("missing.bmp").toStdString();
    const std::vector<std::vector<std::string>> loads = {
        {sample + "/0.bmp", sample + "/45.bmp", missing, sample + "/135.bmp"},
        {sample + "/0.bmp", sample + "/45.bmp"},
    };
    for (const auto& paths : loads) {
      form.LoadFiles(paths);
      QVERIFY(form.waitIdle());
      const auto seen = messages.Take();
      QCOMPARE(seen.size(), size_t{1});
      QVERIFY(Take(form, state) == before);
      if (paths.size() == 4) QVERIFY2(seen[0].text.find("Снимок 90°: " + missing) != std::string::npos, seen[0].text.c_str());
      else QVERIFY2(seen[0].text.find("Указано файлов: 2") != std::string::npos, seen[0].text.c_str());
    }
  }

  // A top-down file is shown and read like its bottom-up original.
  void topDownFileIsReadAsStored() {
    wt::Messages messages;
    AppState reference;
    QVERIFY(LoadSet(reference, {std::string(PS_SAMPLE_DIR) + "/0.bmp", std::string(PS_SAMPLE_DIR) + "/45.bmp",
                                std::string(PS_SAMPLE_DIR) + "/90.bmp", std::string(PS_SAMPLE_DIR) + "/135.bmp"})
                .ok);
    AppState state;
    ExportForm form(state);
    QString info;
    wt::WhenModal<OpenForm>([&](OpenForm* f) {
      f->setFolder(dir_.path());
      f->selectFile("top.bmp");
      f->Image1_Click();
      info = f->Text7->toPlainText();
      f->Picture3->trigger();
    });
    form.Image4->trigger();
    QVERIFY(form.waitIdle());
    QVERIFY2(messages.seen.empty(), Texts(messages.seen).c_str());
    QVERIFY(info.contains(QString::fromUtf8("Ширина 320\nВысота 240")));
    QVERIFY(state.SlotLoaded[0]);
    for (int y = 1; y <= 240; ++y)
      QVERIFY(std::equal(state.ImageStore.row(y, 1), state.ImageStore.row(y, 1) + 3 * 320,
                         reference.ImageStore.row(y, 1)));
  }

  // A computation that fails with an exception is reported in Russian, never
  // with the exception's own text.
  void failuresAreReportedInRussian() {
    const std::bad_alloc noMemory;
    const std::length_error internal("result map dimensions out of range");
    for (auto [e, start] : {std::pair<const std::exception*, std::string>{&noMemory, "Не хватает памяти"},
                            {&internal, "Действие не выполнено"}}) {
      const Message m = FailureMessage(*e);
      QVERIFY(m.text.find(e->what()) == std::string::npos);
      QVERIFY2(m.text.rfind(start, 0) == 0, m.text.c_str());
      QCOMPARE(m.icon, MessageIcon::Critical);
    }
  }
};

QTEST_MAIN(LoadingTest)
#include "loading.moc"
