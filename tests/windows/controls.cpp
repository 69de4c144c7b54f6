// The analysis window's controls stay in step with the state: an option or
// box clicked while a set loads is taken when the loading ends, options
// redraw the map at once, commands wait while work runs and until a map
// exists, the grid box follows the zoom; the progress bar.
#include "sphere/contour.h"
#include "window_test_support.h"

using namespace ps;
using namespace ps::ui;

namespace {

std::vector<uint8_t> Screen(const ExportForm& form) {
  const RasterSurface& m = form.mapSurface();
  return {m.data(), m.data() + size_t(m.stride()) * m.height()};
}

// Grey of the map cell of pixel (x, y) against the A0 of a result layer.
bool CellShowsLayer(const ExportForm& form, int x, int y, int layer) {
  const AppState& s = const_cast<ExportForm&>(form).state();
  const int z = s.ZoomFactor;
  const Colour c = StripFlag(form.mapSurface().pixel((x - 1) * z, (y - 1) * z));
  return RedOf(c) == GreenOf(c) && std::abs(RedOf(c) - s.ResultMap.at(x, y, layer)) <= 0.5 + 1e-9;
}

// A pixel whose three intensity definitions give clearly different greys.
std::pair<int, int> DistinctCell(const AppState& s) {
  for (int y = 1; y <= s.SetHeight; ++y)
    for (int x = 1; x <= s.SetWidth; ++x) {
      const double mean = s.ResultMap.at(x, y, 7), max = s.ResultMap.at(x, y, 1), luma = s.ResultMap.at(x, y, 13);
      if (std::abs(max - mean) > 2 && std::abs(luma - mean) > 2 && std::abs(max - luma) > 2) return {x, y};
    }
  return {0, 0};
}

}  // namespace

class ControlsTest : public QObject {
  Q_OBJECT

  // The sample's map as it is drawn with no option changed: grey mean intensity.
  std::vector<uint8_t> plain_;

  void loadSample(ExportForm& form) {
    form.resize(1400, 1500);  // room for the sample's map at zoom 3, where the grid can be drawn
    wt::LoadSample(form);
  }

 private slots:
  void initTestCase() {
    AppState state;
    ExportForm form(state);
    loadSample(form);
    plain_ = Screen(form);
    QVERIFY(!plain_.empty());
  }

  // Each control clicked while the sample is loaded again (during) or after
  // it: the control, the state and the map on screen agree once work ends.
  void controlsAndMapAgree() {
    for (bool during : {true, false})
      for (QString control : {"maximum", "luma", "ellipses on", "ellipses on and off", "grid"}) {
        wt::Messages messages;
        AppState state;
        ExportForm form(state);
        loadSample(form);
        form.CommandSample->click();
        if (during) QVERIFY(form.busy());
        else QVERIFY(form.waitIdle());

        if (control == "maximum") form.Option5->click();
        if (control == "luma") form.Option6->click();
        if (control.startsWith("ellipses")) form.Check2->click();
        if (control == "grid") form.Check1->click();
        QVERIFY(form.waitIdle());
        if (control == "ellipses on and off") wt::Click(form, form.Check2);

        QVERIFY(messages.seen.empty());
        const int W = state.SetWidth, z = state.ZoomFactor;
        QCOMPARE(form.display().Ellipses, form.Check2->isChecked());
        QCOMPARE(form.display().Grid, form.Check1->isChecked());
        const int32_t mode = form.Option5->isChecked() ? kModeMax : form.Option6->isChecked() ? kModeLuma : kModeMean;
        QCOMPARE(state.IntensityMode, mode);
        const auto [cx, cy] = DistinctCell(state);
        QVERIFY(cx > 0);
        if (control == "maximum") QVERIFY(CellShowsLayer(form, cx, cy, 1) && mode == kModeMax);
        if (control == "luma") QVERIFY(CellShowsLayer(form, cx, cy, 13) && mode == kModeLuma);
        if (control == "ellipses on") QVERIFY(form.Check2->isChecked() && Screen(form) != plain_);
        if (control == "ellipses on and off") QVERIFY(!form.Check2->isChecked() && Screen(form) == plain_);
        if (control == "grid") QVERIFY(form.Check1->isChecked() && form.mapSurface().width() == z * W - 1);
      }
  }

  // "Изменение поляризации" chosen in the settings window shows on the map as
  // soon as the window closes; the intensity again brings the plain map back.
  void settingsTakeEffectWhenTheWindowCloses() {
    AppState state;
    ExportForm form(state);
    loadSample(form);
    for (int mode : {1, 0}) {
      wt::WhenModal<ФормаНастроек>([&](ФормаНастроек* s) {
        state.Detection.ShowMode = mode;
        s->accept();
      });
      form.Image1->trigger();
      QVERIFY(form.waitIdle());
      QCOMPARE(Screen(form) == plain_, mode == 0);
    }
  }

  // Commands wait while a set loads and until a map exists; the grid box is
  // enabled exactly while the zoom allows a grid, typed or clicked.
  void commandsFollowWorkAndMap() {
    AppState state;
    ExportForm form(state);
    QVERIFY(!form.Image2->isEnabled() && !form.Command1->isEnabled());

    form.Option5->setChecked(true);  // the chosen definition outlasts loading
    form.show();
    form.CommandSample->click();
    QVERIFY(form.busy());
    QVERIFY(QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor);
    form.AzimuthMouseUp(1);  // ignored while busy, else the selection window would open
    using Widgets = std::initializer_list<QWidget*>;
    for (QWidget* w : Widgets{form.Image4, form.Image13, form.CommandSample, form.CommandNew, form.Image1, form.Text1,
                              form.HScroll5, form.VScrolls[2]})
      QVERIFY(!w->isEnabled());
    QVERIFY(form.waitIdle());
    for (QWidget* w : Widgets{form.Image4, form.Image2, form.Command1, form.CommandNew, form.HScroll5})
      QVERIFY(w->isEnabled());
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(state.IntensityMode, int32_t(kModeMax));
    // "Контур" on the worker gives the one-thread reference's layers of the
    // chosen definition (the maximum, layer 1).
    wt::Click(form, form.Command1);
    const size_t n = size_t(state.SetWidth) * state.SetHeight;
    std::vector<double> l19(n), l20(n), l21(n);
    ContourResponseReference(state.ResultMap.layer(1), state.SetWidth, state.SetHeight, false, l19.data(), l20.data(),
                             l21.data());
    QVERIFY(std::equal(l19.begin(), l19.end(), state.ResultMap.layer(19)));
    QVERIFY(std::equal(l21.begin(), l21.end(), state.ResultMap.layer(21)));

    // Typed scales (rounded to a whole zoom, nonsense ignored) and clicks on a
    // view: the zoom, the box and the grid box follow.
    struct Step {
      const char* typed;  // "-" / "+": a right / left click on a view (zoom out / in)
      int zoom;
      bool grid;
    };
    for (const Step& step : {Step{"200", 2, false}, Step{"400", 4, true}, Step{"100", 1, false}, Step{"350", 4, true},
                             Step{"abc", 4, true}, Step{"300", 3, true}, Step{"-", 2, false}, Step{"+", 3, true}}) {
      if (*step.typed == '-' || *step.typed == '+') {
        form.ViewMouseDown(1, *step.typed == '-' ? 2 : 1, 3, 3);
        QVERIFY(form.waitIdle());
      } else {
        wt::TypeScale(form, step.typed);
      }
      QCOMPARE(state.ZoomFactor, step.zoom);
      QCOMPARE(form.Text1->text(), QString::number(step.zoom * 100));
      QCOMPARE(form.Check1->isEnabled(), step.grid);
      QCOMPARE(form.mapSurface().width(), step.zoom * state.SetWidth);
    }
  }

  // The progress bar moves out of the way on a click and back on the next.
  void progressBarMovesAside() {
    AppState state;
    ExportForm form(state);
    const int top = form.Picture1->y();
    form.Picture1->onClick();
    QCOMPARE(form.Picture1->y(), top + form.Picture1->height());
    form.Picture1->onClick();
    QCOMPARE(form.Picture1->y(), top);
  }
};

QTEST_MAIN(ControlsTest)
#include "controls.moc"
