// The analysis window: room and zoom from its size, camera frames and PNG/TIFF
// photographs, a refined circle on a real frame, the map saved as drawn with
// its legend, wheel and key zoom, and definitions added in the background.
#include "display/view_state.h"
#include "imageio/bmp.h"
#include "polarization/polarization.h"
#include "window_test_support.h"
#include "windows/map_legend.h"
#include "windows/start_options.h"

using namespace ps;
using namespace ps::ui;

namespace {

// The RGB bytes of every pixel of a slot, rows from the top.
std::vector<uint8_t> SlotBytes(const AppState& s, int slot) {
  std::vector<uint8_t> out;
  for (int y = 1; y <= s.SetHeight; ++y) {
    const uint8_t* row = s.ImageStore.row(y, slot);
    out.insert(out.end(), row, row + size_t(s.SetWidth) * 3);
  }
  return out;
}

QString FruitFrame() { return QStringLiteral(PS_REALDATA_DIR "/fruits_IMX250MZR.png"); }

}  // namespace

class AnalysisWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QStandardPaths::setTestModeEnabled(true);  // remembered choices go to a test folder
    QVERIFY(dir_.isValid());
  }

  // The sample opens at the largest zoom that shows its whole map (1 when none
  // does); the map's viewport and the views grow with the window, also after loading.
  void windowSizeSetsRoomAndZoom() {
    // The smallest window, a wide and low one, room for zoom 2, for zoom 3.
    for (auto [w, h, zoom] : {std::tuple{790, 500, 1}, {1600, 600, 1}, {1100, 1100, 2}, {1400, 1500, 3}}) {
      AppState state;
      ExportForm form(state);
      QCOMPARE(form.minimumSize(), QSize(790, 500));
      form.resize(w, h);
      wt::LoadSample(form);
      QCOMPARE(state.ZoomFactor, zoom);
      const ViewArea& area = form.display().Area;
      QCOMPARE(area.MapWidth, 425.0 + (w - 790));
      QVERIFY(area.MapHeight >= 169 && area.SourceHeight >= 169);
      QCOMPARE(area.MapHeight + area.SourceHeight, 169.0 + 169.0 + (h - 500));
      // Whole along a side that fits, else the viewport fills the area with a scroll bar.
      const bool widthFits = zoom * 320 <= area.MapWidth, heightFits = zoom * 240 <= area.MapHeight;
      const bool fits = widthFits && heightFits;
      QCOMPARE(form.HScroll5->isHidden(), widthFits);
      QCOMPARE(form.VScroll5->isHidden(), heightFits);
      QCOMPARE(form.Picture10->width(), widthFits ? zoom * 320 : int(area.MapWidth));
      QCOMPARE(form.Picture10->height(), heightFits ? zoom * 240 : int(area.MapHeight));

      const QSize mapBefore = form.Picture10->size();
      const int viewBefore = form.ViewPorts[0]->width() + form.ViewPorts[0]->height();
      form.resize(w + 300, h + 300);
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));
      QVERIFY(form.waitIdle());
      QCOMPARE(state.ZoomFactor, zoom);
      QVERIFY(form.Picture10->width() >= mapBefore.width() && form.Picture10->height() >= mapBefore.height());
      QVERIFY(form.Picture10->size() != mapBefore || fits);
      QVERIFY(form.ViewPorts[0]->width() + form.ViewPorts[0]->height() >= viewBefore);
      QVERIFY(form.ViewPorts[3]->geometry().right() < form.width());
    }
  }

  // A real camera frame opened as `polarsphere FRAME --pattern P`: the slots
  // hold exactly what `polarsphere-cli demosaic` writes; the pattern is remembered.
  void cameraFrameFillsTheSlotsAsDemosaicDoes_data() {
    QTest::addColumn<QString>("pattern");
    QTest::newRow("sensor layout") << "90,45,135,0";
    QTest::newRow("scene labels") << "0,45,135,90";
  }
  void cameraFrameFillsTheSlotsAsDemosaicDoes() {
    if (!QFileInfo::exists(FruitFrame())) QSKIP("real frames absent");
    QFETCH(QString, pattern);
    const QString out = dir_.path() + "/demosaic-" + QString(pattern).replace(',', '_');
    QProcess cli;
    cli.start(QStringLiteral(PS_CLI_PATH), {"demosaic", FruitFrame(), "--out", out, "--pattern", pattern});
    QVERIFY(cli.waitForFinished(60000) && cli.exitCode() == 0);
    AppState reference;
    std::vector<std::string> files;
    for (const char* n : {"0", "45", "90", "135"}) files.push_back((out + "/" + n + ".bmp").toStdString());
    QVERIFY(LoadSet(reference, files).ok);

    wt::Messages messages;
    AppState state;
    ExportForm form(state);
    MosaicPattern p;
    std::string error;
    QVERIFY(ParseMosaicPattern(pattern.toStdString(), &p, &error));
    const StartOptions options = ParseStartOptions({FruitFrame(), "--pattern", pattern});
    QVERIFY(options.frame && options.problems.empty());
    QVERIFY(ApplyStartOptions(form, options));
    QVERIFY(messages.seen.empty() && state.setComplete() && form.mapShown());
    QCOMPARE(QSize(state.SetWidth, state.SetHeight), QSize(1224, 1024));
    for (int slot = 1; slot <= 4; ++slot) QVERIFY(SlotBytes(state, slot) == SlotBytes(reference, slot));
    QCOMPARE(ExportForm::RememberedPattern(), p);
  }

  // Command lines that cannot be followed: the problem named; a bad pattern opens nothing.
  void commandLineProblems() {
    for (const auto& [args, says, load] :
         {std::tuple{QStringList{"f.png", "--pattern", "0,0,45,90"}, "--pattern: нужны", false},
          {QStringList{"a", "b", "c", "d", "--pattern", "0,45,90,135"}, "только к одному кадру", true},
          {QStringList{"--sample", "--fast"}, "Неизвестные параметры командной строки: --fast", true},
          {QStringList{"--sample", "a"}, "С --sample пути", true}}) {
      const StartOptions o = ParseStartOptions(args);
      QVERIFY2(QString::fromStdString(o.problems).contains(says) && o.load == load, o.problems.c_str());
    }
  }

  // PNG and TIFF photographs are taken as 8-bit grey or 24-bit colour (16 bits
  // scaled to 8) and the information text says what was read.
  void photographsAreConverted() {
    for (const auto& [name, format, said] :
         {std::tuple<QString, QImage::Format, QString>{"g8.png", QImage::Format_Grayscale8, "PNG: 40 x 30, 8 бит"},
          {"g16.png", QImage::Format_Grayscale16, "16 бит на канал (приведено к 8 битам)"},
          {"c8.png", QImage::Format_RGB888, "цветное"},
          {"c16.png", QImage::Format_RGBX64, "приведено к 8 битам"},
          {"c8.tif", QImage::Format_RGB888, "TIFF"}}) {
      const bool colour = format == QImage::Format_RGB888 || format == QImage::Format_RGBX64;
      const bool deep = format == QImage::Format_Grayscale16 || format == QImage::Format_RGBX64;
      QImage image(40, 30, format);
      // Pixel (x, y): red 6x+1, green 8y+2, blue x+y (grey: red); 16-bit files hold
      // 256 v + 200, which scales to a value that dropping the low byte would not give.
      auto value8 = [](int x, int y, int c) { return c == 0 ? 6 * x + 1 : c == 1 ? 8 * y + 2 : x + y; };
      auto wide = [](int v) { return uint16_t(v * 256 + 200); };
      auto value = [&](int x, int y, int c) {
        return deep ? (wide(value8(x, y, c)) * 255 + 32767) / 65535 : value8(x, y, c);
      };
      for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
          const int r = value8(x, y, 0), g = value8(x, y, 1), b = value8(x, y, 2);
          if (!colour) {
            if (deep) reinterpret_cast<uint16_t*>(image.scanLine(y))[x] = wide(r);
            else image.scanLine(y)[x] = uchar(r);
          } else if (deep) {
            reinterpret_cast<QRgba64*>(image.scanLine(y))[x] = QRgba64::fromRgba64(wide(r), wide(g), wide(b), 65535);
          } else {
            image.setPixel(x, y, qRgb(r, g, b));
          }
        }
      if (name.endsWith(".tif") && !QImageWriter::supportedImageFormats().contains("tiff")) QSKIP("no TIFF plugin");
      QVERIFY(image.save(dir_.path() + "/" + name));

      wt::Messages messages;
      AppState state;
      ExportForm form(state);
      const wt::Choice c = wt::ChooseFile(form, 1, dir_.path(), name, 2);
      QVERIFY2(c.openEnabled && c.info.startsWith("Прочитан файл ") && c.info.contains(said), qPrintable(c.info));
      QVERIFY(state.SlotLoaded[0] && state.SetWidth == 40);
      QCOMPARE(state.SetBitsPerPixel, colour ? 24 : 8);
      for (int y = 0; y < 30; y += 7)
        for (int x = 0; x < 40; x += 3)
          for (int c = 0; c < (colour ? 3 : 1); ++c)  // 8 bits: the grey palette's index in channel 0
            QCOMPARE(int(state.ImageStore.at(x + 1, y + 1, c, 1)), value(x, y, c));
    }
  }

  // "Сохранить карту…" writes the same pixels as `polarsphere-cli render --png`
  // with the same zoom and options; the legend names the colours shown.
  void savedMapEqualsRenderAndLegendFollows() {
    // Zoom 1: intensity, ellipses; zoom 3: grid and ellipses, grid and the change map.
    for (auto [w, h, grid, ellipses, change] : {std::tuple{790, 500, false, false, false}, {790, 500, false, true, false},
                                                {1400, 1500, true, true, false}, {1400, 1500, true, false, true}}) {
      wt::Messages messages;
      AppState state;
      ExportForm form(state);
      form.resize(w, h);
      wt::LoadSample(form);
      QCOMPARE(form.Legend->kind(), MapLegend::Kind::None);
      if (grid) form.Check1->click();
      if (ellipses) form.Check2->click();
      if (change) {
        state.Detection.ShowMode = 1;  // as the settings window sets it
        form.Check2->click();
        form.Check2->click();  // a redraw with the same options
      }
      QVERIFY(form.waitIdle());
      QCOMPARE(form.Legend->kind(), change     ? MapLegend::Kind::Change
                                    : ellipses ? MapLegend::Kind::Ellipses
                                               : MapLegend::Kind::None);
      if (form.Legend->kind() != MapLegend::Kind::None) {
        // Hue follows the azimuth along the swatch; the axis ratio (or change) down it.
        const QImage& sw = form.Legend->swatch();
        QVERIFY(sw.pixel(2, 2) != sw.pixel(sw.width() - 3, 2));
        QVERIFY(sw.pixel(sw.width() / 2, 2) != sw.pixel(sw.width() / 2, sw.height() - 3));
      }

      const QString saved = dir_.path() + "/map.png", rendered = dir_.path() + "/render.png";
      QVERIFY(form.SaveMap(saved));
      QStringList args = {"render"};
      for (const char* n : {"0", "45", "90", "135"}) args << ExportForm::SampleFolder() + "/" + n + ".bmp";
      args << "--png" << rendered << "--zoom" << QString::number(state.ZoomFactor);
      if (grid) args << "--grid";
      if (ellipses) args << "--ellipses";
      if (change) args << "--change";
      QProcess cli;
      cli.start(QStringLiteral(PS_CLI_PATH), args);
      QVERIFY(cli.waitForFinished(60000) && cli.exitCode() == 0);
      const QImage a(saved), b(rendered);
      QVERIFY(!a.isNull() && !b.isNull());
      QCOMPARE(a.size(), QSize(form.mapSurface().width(), form.mapSurface().height()));
      QVERIFY(a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32));
      QVERIFY(messages.seen.empty());

      QVERIFY(!form.SaveMap(dir_.path() + "/no/such/folder/map.png"));
      QCOMPARE(messages.Take().size(), size_t{1});
    }
  }

  // Qt's own dialogs speak Russian once its translations are loaded.
  void standardDialogsAreRussian() {
    QVERIFY2(InstallRussianTranslations(*QCoreApplication::instance()), "qt6-translations-l10n not installed");
    QDialogButtonBox box(QDialogButtonBox::Cancel);
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text().remove('&'), QString("Отмена"));
  }

  // Ctrl + wheel on the map or a view zooms one step about the pointer (the
  // cell under it stays there), without Ctrl nothing zooms; the keys + and -
  // over the clicked map zoom as well, and the arrows scroll it by a cell.
  void wheelAndKeysZoom_data() {
    QTest::addColumn<int>("slot");  // 0: the map, -1: the keys
    QTest::addColumn<bool>("ctrl");
    QTest::newRow("map") << 0 << true;
    QTest::newRow("45° view") << 2 << true;
    QTest::newRow("map, no Ctrl") << 0 << false;
    QTest::newRow("keys") << -1 << false;
  }
  void wheelAndKeysZoom() {
    QFETCH(int, slot);
    QFETCH(bool, ctrl);
    AppState state;
    ExportForm form(state);
    form.resize(form.minimumSize());
    wt::LoadSample(form);
    QCOMPARE(state.ZoomFactor, 1);
    if (slot < 0) {
      form.show();
      QVERIFY(QTest::qWaitForWindowActive(&form));
      form.Picture11->setFocus(Qt::MouseFocusReason);
      QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(form.Picture11));
      QTest::keyClick(form.Picture11, Qt::Key_Plus);
      QVERIFY(form.waitIdle());
      QCOMPARE(state.ZoomFactor, 2);
      const int h = form.HScroll5->value(), v = form.VScroll5->value();
      QTest::keyClick(form.Picture11, Qt::Key_Right);
      QTest::keyClick(form.Picture11, Qt::Key_Down);
      QCOMPARE(QPoint(form.HScroll5->value(), form.VScroll5->value()), QPoint(h + 2, v + 2));
      QCOMPARE(form.display().Map.Left, -double(h + 2));
      QTest::keyClick(form.Picture11, Qt::Key_Minus);
      QVERIFY(form.waitIdle());
      QCOMPARE(state.ZoomFactor, 1);
      return;
    }
    QWidget* picture = slot == 0 ? static_cast<QWidget*>(form.Picture11) : form.ViewPictures[size_t(slot - 1)];
    auto left = [&] { return slot == 0 ? form.display().Map.Left : form.display().Views[size_t(slot - 1)].Picture.Left; };
    auto top = [&] { return slot == 0 ? form.display().Map.Top : form.display().Views[size_t(slot - 1)].Picture.Top; };
    const QPointF at(slot == 0 ? 200 : 100, slot == 0 ? 150 : 120);  // picture pixels = cells at zoom 1
    const double vx = at.x() + left(), vy = at.y() + top();
    auto wheel = [&](int delta, QPointF pos) {
      QWheelEvent e(pos, picture->mapToGlobal(pos), {}, QPoint(0, delta), Qt::NoButton,
                    ctrl ? Qt::ControlModifier : Qt::NoModifier, Qt::NoScrollPhase, false);
      QApplication::sendEvent(picture, &e);
      QVERIFY(form.waitIdle());
    };
    wheel(120, at);
    QCOMPARE(state.ZoomFactor, ctrl ? 2 : 1);
    if (!ctrl) return;
    QCOMPARE(form.Text1->text(), QString("200"));
    QVERIFY(std::abs((vx - left()) / 2 - at.x()) <= 0.5 && std::abs((vy - top()) / 2 - at.y()) <= 0.5);
    QCOMPARE(picture->x(), int(std::lround(left())));
    wheel(-120, QPointF(vx - left(), vy - top()));
    QCOMPARE(state.ZoomFactor, 1);
  }

  // The chosen definition is drawn first, the other two follow in the
  // background; then every layer is the one-thread reference's.
  void otherDefinitionsFollowInTheBackground_data() {
    QTest::addColumn<int>("mode");
    QTest::newRow("mean") << int(kModeMean);
    QTest::newRow("maximum") << int(kModeMax);
    QTest::newRow("luma") << int(kModeLuma);
  }
  void otherDefinitionsFollowInTheBackground() {
    QFETCH(int, mode);
    AppState state;
    ExportForm form(state);
    state.IntensityMode = mode;
    wt::Click(form, form.CommandSample);
    QVERIFY(!form.processingInBackground());
    QCOMPARE(ProcessedDefinitions(state.ResultMap), unsigned(kAllDefinitions));
    AppState reference = state;
    ЗаполнениеМассиваReference(reference);
    const size_t n = size_t(state.SetWidth) * state.SetHeight;
    for (int layer : {1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 13, 14, 15, 16, 17})
      QVERIFY2(std::equal(state.ResultMap.layer(layer), state.ResultMap.layer(layer) + n,
                          reference.ResultMap.layer(layer)),
               qPrintable(QString("layer %1").arg(layer)));
  }

  // On the real fruit frame a press low on the orange traces only 6 cells: the
  // fit is refused, yet with "Уточнять окружность" the refined circle is used
  // (within 2 cells of the outline measured by hand); without it there is none.
  void refusedFitRefinedOnTheRealFrame_data() {
    QTest::addColumn<bool>("refine");
    QTest::newRow("refined") << true;
    QTest::newRow("box unticked") << false;
  }
  void refusedFitRefinedOnTheRealFrame() {
    if (!QFileInfo::exists(FruitFrame())) QSKIP("real frames absent");
    QFETCH(bool, refine);
    wt::Messages messages;
    AppState state;
    ExportForm form(state);
    MosaicPattern p;
    std::string error;
    QVERIFY(ParseMosaicPattern("0,45,135,90", &p, &error));
    form.LoadFrame(FruitFrame(), p);
    QVERIFY(form.waitIdle());
    wt::Click(form, form.Command1);
    form.CheckRefine->setChecked(refine);
    messages.Take();
    wt::PressCell(form, 903, 469);
    bool refused = false;
    for (const Message& m : messages.Take()) refused = refused || m.title == "Окружность шара не найдена";
    QVERIFY(refused);
    const QString line = form.StatusCircle->text();
    QVERIFY2(line.startsWith("Окружность не подобрана: мало точек границы; точек границы: 6"), qPrintable(line));
    QVERIFY(state.Circle.exists() == refine && form.Image19->isHidden() != refine);
    if (!refine) return;
    const SphereCircle& c = state.Circle;
    QVERIFY2(line.contains(". Окружность уточнена: " + wt::Figures(form, c)), qPrintable(line));
    QVERIFY(std::hypot(c.CircleCentreX - 903.3, c.CircleCentreY - 267.7) <= 2.0);
    QVERIFY(std::abs(c.CircleRadius - 202.3) <= 1.5);
  }

 private:
  QTemporaryDir dir_;
};

QTEST_MAIN(AnalysisWindowTest)
#include "analysis_window.moc"
