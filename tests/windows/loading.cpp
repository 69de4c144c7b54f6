// Loading photographs in the analysis window: leaving the selection window
// without taking an accepted file changes nothing, refused files say why once,
// "Новый набор" and "Открыть пример" replace the whole set, a second file in a
// slot is subtracted.
#include <fstream>
#include <new>
#include <stdexcept>

#include "imageio/bmp.h"
#include "window_test_support.h"

using namespace ps;
using namespace ps::ui;

namespace {

std::vector<uint8_t> SampleBytes(const char* name) {
  std::ifstream in(std::string(PS_SAMPLE_DIR) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Everything of the set a user could lose, in one list: the slots' bytes, the
// flags and header, the palette, the result map, the circle and the map on screen.
std::vector<double> Take(const ExportForm& form, const AppState& s) {
  std::vector<double> t = {double(s.SetStarted), double(s.SetWidth), double(s.SetHeight), double(s.SetBitsPerPixel),
                           double(s.ZoomFactor), double(s.Header.BitsPerPixel), double(s.Header.ImageWidth),
                           double(s.Header.ImageHeight), double(s.Header.RowPadding), s.Circle.CircleCentreX,
                           s.Circle.CircleCentreY, s.Circle.CircleRadius};
  auto add = [&t](const auto* from, size_t n) { t.insert(t.end(), from, from + n); };
  for (int slot = 1; slot <= 4 && !s.ImageStore.empty(); ++slot)
    for (int y = 1; y <= s.ImageStore.height(); ++y) add(s.ImageStore.row(y, slot), 3 * size_t(s.ImageStore.width()));
  for (int k = 0; k < 4; ++k) t.insert(t.end(), {double(s.SlotLoaded[k]), double(s.SubtractNext[k]), double(s.ColouredPixelCount[k])});
  const std::string path = s.Header.FilePath + "|" + s.Header.FileSignature;
  add(path.data(), path.size());
  for (const auto& e : s.PaletteTable) add(e.data(), e.size());
  for (int layer = 1; layer <= 21; ++layer)
    if (s.ResultMap.hasStorage(layer)) add(s.ResultMap.layer(layer), size_t(s.ResultMap.width()) * s.ResultMap.height());
  add(form.mapSurface().data(), size_t(form.mapSurface().stride()) * form.mapSurface().height());
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

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    const std::vector<uint8_t> zero = SampleBytes("0.bmp");
    wt::WriteFile(dir_.filePath("good.bmp"), SampleBytes("45.bmp"));
    std::vector<uint8_t> cut = zero;
    cut.resize(cut.size() - 1000);
    wt::WriteFile(dir_.filePath("cut.bmp"), cut);
    std::vector<uint8_t> packed = zero;
    wt::Put32(packed, 30, 1);  // a 24-bit file flagged as compressed: no decoder reads it either
    wt::WriteFile(dir_.filePath("packed.bmp"), packed);
    wt::WriteFile(dir_.filePath("text.bmp"), "just some text, not a picture\n");
    wt::WriteFile(dir_.filePath("small.bmp"), wt::Bmp24(10, 10, 50, 60, 70));
    wt::WriteFile(dir_.filePath("eight.bmp"), wt::Bmp8(320, 240));
    wt::WriteFile(dir_.filePath("four.bmp"), wt::Bmp4(320, 240));
  }

  // On the loaded sample set, for each way of leaving the selection window
  // without taking a file: the set is byte for byte as before, the open
  // button is disabled after every refusal and pressing it takes nothing,
  // and a refused file gives exactly its one message. Rows: slot, files
  // checked in turn, leaving by "cancel", "escape" or "close" (the title bar),
  // whether the last file was accepted, the start of the message ("": none).
  void leavingTheWindowChangesNothing() {
    for (const auto& [slot, file, leave, accepted, message] : {
             std::tuple<int, QString, QString, bool, QString>{2, "", "close", false, ""},
             {2, "good.bmp", "escape", true, ""},
             {2, "text.bmp", "close", false, "Файл text.bmp не является изображением,\r\nа содержит что-то другое"},
             {1, "good.bmp,cut.bmp", "close", false, "Ошибка №62 "},
             {3, "small.bmp", "close", false, "Это изображение другого формата:  10 x 10\r\nА нужно  320 x 240"},
             {3, "eight.bmp", "close", false,
              "Это изображение другой глубины цвета:  8 бит на пиксель\r\nА нужно  24 бит на пиксель"},
             {2, "packed.bmp", "cancel", false, "Изображение с типом сжатия 1\r\n            не поддерживается"},
             {2, "four.bmp", "escape", false, ""}}) {  // 4 bits: the label only
      wt::Messages messages;
      AppState state;
      ExportForm form(state);
      wt::LoadSample(form);
      // The contour layers are part of the result map a mis-click must not lose.
      wt::Click(form, form.Command1);
      const auto before = Take(form, state);

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
      QVERIFY2(Take(form, state) == before, qPrintable(file));
    }
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
    QVERIFY(state.SetStarted == 0 && state.SetWidth == 0 && !state.anySlotLoaded() && !form.mapShown());
    for (QWidget* port : form.ViewPorts) QVERIFY(port->isHidden());

    const wt::Choice c = wt::ChooseFile(form, 3, dir_.path(), "small.bmp");
    QVERIFY2(c.openEnabled, qPrintable(c.summary));
    QVERIFY(state.SetStarted == 3 && state.SetWidth == 10 && state.SlotLoaded[2] && !form.ViewPorts[2]->isHidden());
    QVERIFY(messages.seen.empty());
  }

  // "Новый набор" asks first while a set is loaded; "Нет" keeps everything,
  // after "Да" a set of another size opens; "Открыть пример" replaces any set.
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
    wt::LoadSample(form);
    state.Circle = SphereCircle{160, 120, 50};
    wt::Click(form, form.CommandSample);  // a second sample load forgets the circle
    QVERIFY(!state.Circle.exists() && form.Image19->isHidden());

    const auto before = Take(form, state);
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

    const wt::Choice c = wt::ChooseFile(form, 1, dir_.path(), "small.bmp");
    QVERIFY2(c.openEnabled, qPrintable(c.summary));
    QCOMPARE(QSize(state.SetWidth, state.ZoomFactor), QSize(10, 9));
    wt::LoadSample(form);
    QCOMPARE(state.SetWidth, 320);
    QCOMPARE(state.SetStarted, 1);
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
    wt::LoadSample(form);
    const auto before = Take(form, state);
    const auto sample = wt::SampleFiles();
    const std::string missing = dir_.filePath("missing.bmp").toStdString();
    for (const auto& [paths, says] : {std::pair{std::vector{sample[0], sample[1], missing, sample[3]}, "Снимок 90°: " + missing},
                                      {std::vector{sample[0], sample[1]}, std::string("Указано файлов: 2")}}) {
      form.LoadFiles(paths);
      QVERIFY(form.waitIdle());
      const QString said = messages.TakeOne();
      QVERIFY2(said.contains(QString::fromStdString(says)), qPrintable(said));
      QVERIFY(Take(form, state) == before);
    }
  }

  // A second file chosen for a loaded 24-bit slot is subtracted from it:
  // first - second where that is at least 1, else 0; the view shows the result.
  void secondFileInASlotIsSubtracted() {
    wt::Messages messages;
    QTemporaryDir dir;
    wt::WriteFile(dir.filePath("first.bmp"), wt::Bmp24(20, 10, 100, 50, 20));
    wt::WriteFile(dir.filePath("second.bmp"), wt::Bmp24(20, 10, 30, 60, 5));
    AppState state;
    ExportForm form(state);
    wt::ChooseFile(form, 2, dir.path(), "first.bmp");
    QCOMPARE(state.SetStarted, 2);
    QCOMPARE(state.ZoomFactor, 9);
    QVERIFY(state.SubtractNext[1]);
    wt::ChooseFile(form, 2, dir.path(), "second.bmp");
    QVERIFY(!state.SubtractNext[1]);
    QCOMPARE(form.ViewPictures[1]->image().pixelColor(2 * 9 + 1, 3 * 9 + 1), QColor(70, 0, 15));
    QVERIFY(!form.mapShown());
    QVERIFY(messages.seen.empty());
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
