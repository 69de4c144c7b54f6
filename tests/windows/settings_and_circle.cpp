// The settings window (presets, typed and refused entries) as the analysis
// window opens it, the circle fits on the sample and what the window shows
// after them.
#include "sphere/detection_settings.h"
#include "window_test_support.h"

using namespace ps;
using namespace ps::ui;

namespace {

// The field a case types into: a weight box (1..25), a subtracted box (-1..-9),
// or 26 / 27 for the sensitivities.
QLineEdit* Field(ФормаНастроек& s, int field) {
  if (field >= 1 && field <= 25) return s.Weight[static_cast<size_t>(field - 1)];
  if (field <= -1 && field >= -9) return s.Subtract[static_cast<size_t>(-field - 1)];
  return field == 26 ? s.Text26 : s.Text27;
}

double Stored(const DetectionSettings& d, int field) {
  if (field >= 1 && field <= 25) return d.WeightKernel[(field - 1) / 5][(field - 1) % 5];
  if (field <= -1 && field >= -9) return d.SubtractKernel[(-field - 1) / 3 + 1][(-field - 1) % 3 + 1];
  return (field == 26 ? d.EllipticitySensitivity : d.AzimuthSensitivity) * 100;
}

void Type(QLineEdit* e, const QString& text) {
  e->setFocus();
  e->selectAll();
  QTest::keyClicks(e, text);
}

}  // namespace

class SettingsAndCircleTest : public QObject {
  Q_OBJECT

 private slots:
  // Opened from the analysis window: the session starts with the preset
  // "Гауссовское распределение без центра"; edits, the limit and the option
  // outlast closing and reopening the window.
  void settingsOutlastTheWindow() {
    wt::Messages messages;
    AppState state;
    for (auto& row : state.Detection.WeightKernel) row.fill(0);  // whatever came before
    ExportForm form(state);
    const PresetKernels preset = PresetValues(KernelPreset::GaussWithoutCentre);
    QVERIFY(state.Detection.WeightKernel == preset.weight && state.Detection.SubtractKernel == preset.subtract);
    wt::WhenModal<ФормаНастроек>([&](ФормаНастроек* s) {
      QCOMPARE(s->Weight[12]->text(), QString::fromStdString(PresetValueText(10.3802f, DecimalSeparator())));
      QCOMPARE(s->Text28->text(), QString("60"));
      Type(s->Weight[0], "12");
      QTest::keyClick(s->Weight[0], Qt::Key_Return);
      Type(s->Text28, "90");
      QVERIFY(std::abs(state.Detection.RotationLimit - 1.570795) < 1e-9);
      QTest::mousePress(s->Option2, Qt::LeftButton, {}, QPoint(5, 8));  // options act on mouse-down
      QCOMPARE(state.Detection.ShowMode, 1);
      QTest::mouseRelease(s->Option2, Qt::LeftButton, {}, QPoint(5, 8));
      s->accept();
    });
    form.Image1->trigger();
    wt::WhenModal<ФормаНастроек>([&](ФормаНастроек* s) {
      QCOMPARE(s->Weight[0]->text(), QString("12"));
      QCOMPARE(s->Text28->text(), QString("90"));
      QVERIFY(s->Option2->isChecked());
      s->accept();
    });
    form.Image1->trigger();
    QCOMPARE(state.Detection.WeightKernel[0][0], 12.0f);
    QCOMPARE(state.Detection.WeightKernel[1][1], preset.weight[1][1]);
    QCOMPARE(state.Detection.ShowMode, 1);
    QVERIFY(messages.seen.empty());
  }

  // Each preset button sets both kernels, the fields and the totals; typing
  // into a weight changes its element and the total at once, clearing it
  // leaves the element.
  void presetButtonsAndTotals() {
    AppState state;
    ФормаНастроек s(state, nullptr);
    const std::string sep = DecimalSeparator();
    const std::pair<QPushButton*, KernelPreset> presets[] = {
        {s.Command4, KernelPreset::Square}, {s.Command3, KernelPreset::Gauss},
        {s.Command2, KernelPreset::GaussWithoutCentre}, {s.Command3, KernelPreset::Gauss}};
    for (auto [button, preset] : presets) {
      button->click();
      const PresetKernels want = PresetValues(preset);
      for (int k = 0; k < 25; ++k) {
        QVERIFY(std::abs(state.Detection.WeightKernel[k / 5][k % 5] - want.weight[k / 5][k % 5]) < 1e-4);
        QCOMPARE(s.Weight[size_t(k)]->text(), QString::fromStdString(PresetValueText(want.weight[k / 5][k % 5], sep)));
      }
      for (int k = 0; k < 9; ++k)
        QVERIFY(std::abs(state.Detection.SubtractKernel[k / 3 + 1][k % 3 + 1] - want.subtract[k / 3 + 1][k % 3 + 1]) < 1e-4);
      QCOMPARE(s.Label2->text(), QString::fromStdString(KernelTotalText(want.weight, sep)));
      QCOMPARE(s.Label8->text(), QString::fromStdString(KernelTotalText(want.subtract, sep)));
    }
    auto total = [&](const char* whole) { return QString("Всего ") + whole + sep.c_str() + "000000 %  из 100 %"; };
    s.Command4->click();  // "Квадрат": every weight 4, 100 % in all
    QCOMPARE(s.Label2->text(), total("100"));
    Type(s.Weight[0], "14");
    QCOMPARE(state.Detection.WeightKernel[0][0], 14.0f);
    QCOMPARE(s.Label2->text(), total("110"));
    s.Weight[0]->selectAll();
    QTest::keyClick(s.Weight[0], Qt::Key_Delete);
    QCOMPARE(state.Detection.WeightKernel[0][0], 14.0f);
  }

  // Typing into a field (weight 1..25, subtracted -1..-9, sensitivities 26
  // and 27) and confirming it with a key: the value stored, and the part of
  // the refusal ("": none).
  void enteringAField() {
    const int enter = Qt::Key_Return, tab = Qt::Key_Tab;
    for (const auto& [field, typed, confirmKey, stored, says] :
         {std::tuple<int, QString, int, double, QString>{7, "50", enter, 50.0, ""},
          {13, "50", int(Qt::Key_Enter), 50.0, ""},  // the keypad's Enter
          {7, "abc", enter, 5.7546, "«abc» — не число."},
          {7, "-50", tab, 5.7546, "Число -50 вне этих пределов."},
          {-5, "150", enter, 100.0, "вычитаемой области задаётся числом от 0 до 100 %"},  // typed through 1 and 15
          {26, "50", enter, 50.0, ""},
          {26, "-50", enter, 100.0, "Чувствительность к изменению эллиптичности"},
          {27, "abc", tab, 100.0, "не число"}}) {
      wt::Messages messages;
      AppState state;
      ФормаНастроек s(state, nullptr);
      s.show();
      QVERIFY(QTest::qWaitForWindowActive(&s));
      const DetectionSettings before = state.Detection;
      QLineEdit* e = Field(s, field);
      const QString shownBefore = e->text();
      Type(e, typed);
      QTest::keyClick(e, static_cast<Qt::Key>(confirmKey));
      // Enter presses no preset: every other weight is as it was.
      for (int k = 1; k <= 25; ++k)
        if (k != field) QCOMPARE(state.Detection.WeightKernel[(k - 1) / 5][(k - 1) % 5], before.WeightKernel[(k - 1) / 5][(k - 1) % 5]);
      QVERIFY(s.isVisible());
      QVERIFY(std::abs(Stored(state.Detection, field) - stored) < 1e-4);
      if (says.isEmpty()) {
        QVERIFY(messages.seen.empty());
        QCOMPARE(e->text(), typed);
      } else {
        QCOMPARE(messages.seen.size(), size_t(1));
        QVERIFY2(ToQt(messages.seen[0].text).contains(says), messages.seen[0].text.c_str());
        QCOMPARE(ToQt(messages.seen[0].title), QString("Настройки"));
        QCOMPARE(e->text(), shownBefore);  // the kept value again
      }
    }
  }

  // Three clicks give the circle through them (marked in yellow until the
  // third). A later fit (the sphere is at (166, 118), radius 79) is named in the
  // status line, refined with "Уточнять окружность"; one that gives no circle
  // says why, clears the circle, hides the sphere button and paints it over.
  void fitsOnTheSample_data() {
    QTest::addColumn<bool>("manual");
    QTest::addColumn<bool>("refine");
    QTest::addColumn<QList<QPoint>>("presses");  // none: one on the crest beside the rim
    QTest::addColumn<QString>("says");           // part of the refusal; empty: a circle is found
    const QList<QPoint> rim{{166 + 79, 118}, {166, 118 + 79}, {166 - 79, 118}};
    QTest::newRow("trace, as fitted") << false << false << QList<QPoint>{} << "";
    QTest::newRow("trace, refined") << false << true << QList<QPoint>{} << "";
    QTest::newRow("three clicks, as fitted") << true << false << rim << "";
    QTest::newRow("three clicks, refined") << true << true << rim << "";
    QTest::newRow("three clicks on one line") << true << false << QList<QPoint>{{30, 40}, {40, 40}, {50, 40}}
                                              << "лежат на одной прямой";
    QTest::newRow("a click repeated") << true << false << QList<QPoint>{{30, 40}, {50, 30}, {30, 40}} << "или совпадают";
    QTest::newRow("trace near the corner") << false << false << QList<QPoint>{{8, 8}}
                                           << "не помещается в изображение 320 x 240";
  }
  void fitsOnTheSample() {
    QFETCH(bool, manual);
    QFETCH(bool, refine);
    QFETCH(QList<QPoint>, presses);
    QFETCH(QString, says);
    wt::Messages messages;
    AppState state;
    ExportForm form(state);
    form.CheckRefine->setChecked(false);  // the three-point circle exactly as made
    form.show();
    wt::LoadSample(form);
    wt::TypeScale(form, "600");
    wt::Click(form, form.Command1);  // "Контур"
    const int Z = state.ZoomFactor;
    form.Check3->setChecked(true);
    for (QPoint p : {QPoint(60, 40), QPoint(40, 60), QPoint(20, 40)}) {
      QVERIFY(!state.Circle.exists() && form.Image19->isHidden());
      wt::PressCell(form, p.x(), p.y());
      if (p.x() != 20) QCOMPARE(StripFlag(form.mapSurface().pixel((p.x() - 1) * Z, (p.y() - 1) * Z)), Rgb(192, 192, 0));
    }
    const SphereCircle& c = state.Circle;
    QVERIFY(c.CircleCentreX == 40 && c.CircleCentreY == 40 && c.CircleRadius == 20 && !form.Image19->isHidden());
    const double old = (40 - 0.5) * Z - 1;
    QVERIFY(wt::GreenOnCircle(form.mapSurface(), old, old, 20 * Z) >= 30);
    QVERIFY(messages.seen.empty());

    form.CheckRefine->setChecked(refine);
    form.Check3->setChecked(manual);
    if (presses.isEmpty()) {
      int bx = 166 + 79;
      for (int x = 166 + 76; x <= 166 + 82; ++x)
        if (state.ResultMap.at(x, 118, 19) < state.ResultMap.at(bx, 118, 19)) bx = x;
      presses = {{bx, 118}};
    }
    for (QPoint p : presses) wt::PressCell(form, p.x(), p.y());
    if (says.isEmpty()) {
      const QString line = form.StatusCircle->text();
      QVERIFY(c.exists() && !form.Image19->isHidden());
      QVERIFY2(line.startsWith(manual ? "Окружность по трём точкам: центр (" : "Окружность: центр ("), qPrintable(line));
      QVERIFY2(line.contains(manual ? "; точек: 3" : "; точек границы: "), qPrintable(line));
      if (!manual) QVERIFY(line.contains("замкнулась") || line.contains("дошла до края"));
      const QString figures = wt::Figures(form, c);
      if (refine) {
        QVERIFY2(line.contains("Уточнена: " + figures), qPrintable(line));
        QVERIFY(std::abs(c.CircleCentreX - 166) <= 0.3 && std::abs(c.CircleCentreY - 118) <= 0.3);
        QVERIFY(std::abs(c.CircleRadius - 79) <= 0.3);
      } else {
        QVERIFY2(line.contains(figures) && !line.contains("точнен"), qPrintable(line));
        if (manual) QVERIFY(c.CircleCentreX == 166 && c.CircleCentreY == 118 && std::abs(c.CircleRadius - 79) < 0.05);
      }
      QVERIFY(wt::GreenOnCircle(form.mapSurface(), (c.CircleCentreX - 0.5) * Z - 1, (c.CircleCentreY - 0.5) * Z - 1,
                                c.CircleRadius * Z) >= 30);
      return;
    }
    QVERIFY(!c.exists() && form.Image19->isHidden());
    QCOMPARE(ToQt(messages.seen.back().title), QString("Окружность шара не найдена"));
    QVERIFY2(ToQt(messages.seen.back().text).contains(says), messages.seen.back().text.c_str());
    // Told once that the earlier circle is gone (a refit between may have cleared it).
    int told = 0;
    for (const Message& seen : messages.seen) told += ToQt(seen.text).contains("Прежняя окружность шара снята.");
    QCOMPARE(told, 1);
    QVERIFY(wt::GreenOnCircle(form.mapSurface(), old, old, 20 * Z) <= 3);
    wt::Click(form, form.Check2);  // a redraw does not bring it back
    QVERIFY(wt::GreenOnCircle(form.mapSurface(), old, old, 20 * Z) <= 3);
  }
};

QTEST_MAIN(SettingsAndCircleTest)
#include "settings_and_circle.moc"
