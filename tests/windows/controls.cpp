// The analysis window's controls stay in step with the state: an option or
// box clicked while a set loads is taken when the loading ends, options
// redraw the map at once, commands wait while work runs and until a map
// exists, and the grid box follows the zoom however it was set.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QtTest>

#include "state/app_state.h"
#include "windows/big_picture.h"
#include "windows/export_form.h"
#include "windows/picture_button.h"
#include "windows/settings_form.h"
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
    // Room for the sample's map at zoom 3, where the grid can be drawn.
    form.resize(1400, 1500);
    form.CommandSample->click();
    QVERIFY(form.waitIdle());
  }

 private slots:
  void initTestCase() {
    if (ExportForm::SampleFolder().isEmpty()) QSKIP("no sample set");
    AppState state;
    ExportForm form(state);
    loadSample(form);
    plain_ = Screen(form);
    QVERIFY(!plain_.empty());
  }

  // Each control clicked while the sample is loaded again (during) or after
  // it: the control, the state and the map on screen agree once work ends.
  void controlsAndMapAgree_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<bool>("during");
    for (bool during : {true, false}) {
      const char* when = during ? " during loading" : " after loading";
      for (const char* control : {"maximum", "luma", "ellipses on", "ellipses on and off", "grid"})
        QTest::newRow((std::string(control) + when).c_str()) << QString(control) << during;
    }
  }
  void controlsAndMapAgree() {
    QFETCH(QString, control);
    QFETCH(bool, during);
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
    if (control == "ellipses on and off") {
      form.Check2->click();
      QVERIFY(form.waitIdle());
    }

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

  // "Изменение поляризации" chosen in the settings window shows on the map as
  // soon as the window closes, and choosing the intensity again brings the
  // plain map back.
  void settingsTakeEffectWhenTheWindowCloses() {
    AppState state;
    ExportForm form(state);
    loadSample(form);
    wt::WhenModal<ФормаНастроек>([&](ФормаНастроек* s) {
      state.Detection.ShowMode = 1;
      s->accept();
    });
    form.Image1->trigger();
    QVERIFY(form.waitIdle());
    const std::vector<uint8_t> change = Screen(form);
    QVERIFY(change != plain_);
    wt::WhenModal<ФормаНастроек>([&](ФормаНастроек* s) {
      state.Detection.ShowMode = 0;
      s->accept();
    });
    form.Image1->trigger();
    QVERIFY(form.waitIdle());
    QVERIFY(Screen(form) == plain_);
  }

  // Commands wait while a set loads and until a map exists; the grid box is
  // enabled exactly while the zoom allows a grid, typed or clicked.
  void commandsFollowWorkAndMap() {
    AppState state;
    ExportForm form(state);
    QVERIFY(!form.Image2->isEnabled());
    QVERIFY(!form.Command1->isEnabled());
    bool bigOpened = false;
    wt::WhenModal<БольшаяКартинка>([&](БольшаяКартинка* b) {
      bigOpened = true;
      b->reject();
    });
    form.Image2->trigger();
    QTest::qWait(50);
    QVERIFY(!bigOpened);
    form.Command1->click();
    QVERIFY(!form.busy());

    form.CommandSample->click();
    QVERIFY(form.busy());
    for (QWidget* w : {static_cast<QWidget*>(form.Image4), static_cast<QWidget*>(form.Image13),
                       static_cast<QWidget*>(form.CommandSample), static_cast<QWidget*>(form.CommandNew),
                       static_cast<QWidget*>(form.Image1), static_cast<QWidget*>(form.Text1),
                       static_cast<QWidget*>(form.HScroll5), static_cast<QWidget*>(form.VScrolls[2])})
      QVERIFY(!w->isEnabled());
    QVERIFY(form.waitIdle());
    for (QWidget* w : {static_cast<QWidget*>(form.Image4), static_cast<QWidget*>(form.Image2),
                       static_cast<QWidget*>(form.Command1), static_cast<QWidget*>(form.CommandNew),
                       static_cast<QWidget*>(form.HScroll5)})
      QVERIFY(w->isEnabled());

    struct Step {
      const char* typed;  // "" for a right click on a view (zoom out)
      int zoom;
      bool grid;
    };
    for (const Step& step : {Step{"200", 2, false}, Step{"400", 4, true}, Step{"100", 1, false}, Step{"300", 3, true},
                             Step{"", 2, false}}) {
      if (*step.typed) {
        form.Text1->setText(step.typed);
        form.Text1_Change();
      } else {
        form.ViewMouseDown(1, 2, 3, 3);
      }
      QVERIFY(form.waitIdle());
      QCOMPARE(state.ZoomFactor, step.zoom);
      QCOMPARE(form.Check1->isEnabled(), step.grid);
    }
  }
};

QTEST_MAIN(ControlsTest)
#include "controls.moc"
