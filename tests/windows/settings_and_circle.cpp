// The normal session's settings and circle: the kernels a session starts with
// and keeps, the settings window's keyboard and refused entries, a fit that
// finds no circle (message, circle cleared, sphere button hidden, the old
// circle gone from the map) and the full-size window within the screen.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QtTest>

#include "sphere/detection_settings.h"
#include "state/app_state.h"
#include "windows/big_picture.h"
#include "windows/export_form.h"
#include "windows/settings_form.h"
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

}  // namespace

class SettingsAndCircleTest : public QObject {
  Q_OBJECT

 private slots:
  // The analysis window starts with the kernels loading the settings window
  // gives; the user's edits outlast closing and reopening it.
  void sessionStartsWithTheNoCentrePresetAndKeepsEdits() {
    wt::Messages messages;
    AppState state;
    for (auto& row : state.Detection.WeightKernel) row.fill(0);  // whatever came before
    ExportForm form(state);
    const PresetKernels preset = PresetValues(KernelPreset::GaussWithoutCentre);
    QVERIFY(state.Detection.WeightKernel == preset.weight);
    QVERIFY(state.Detection.SubtractKernel == preset.subtract);
    for (int round = 0; round < 2; ++round) {
      ФормаНастроек s(state, &form);
      s.show();
      if (round == 0) {
        QCOMPARE(s.Weight[12]->text(), QString::fromStdString(PresetValueText(10.3802f, DecimalSeparator())));
        s.Weight[0]->setFocus();
        s.Weight[0]->selectAll();
        QTest::keyClicks(s.Weight[0], "12");
        QTest::keyClick(s.Weight[0], Qt::Key_Return);
      } else {
        QCOMPARE(s.Weight[0]->text(), QString("12"));  // shown as left, not reset
      }
      s.close();
    }
    QCOMPARE(state.Detection.WeightKernel[0][0], 12.0f);
    QCOMPARE(state.Detection.WeightKernel[1][1], preset.weight[1][1]);
    QVERIFY(messages.seen.empty());
  }

  // Typing into a field and confirming it with Enter or Tab.
  void enteringAField_data() {
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("confirmKey");
    QTest::addColumn<double>("stored");
    QTest::addColumn<QString>("says");  // part of the refusal; empty: none
    const int enter = Qt::Key_Return, tab = Qt::Key_Tab;
    QTest::newRow("weight 50, Enter") << 7 << "50" << enter << 50.0 << "";
    QTest::newRow("weight 50, keypad Enter") << 13 << "50" << int(Qt::Key_Enter) << 50.0 << "";
    QTest::newRow("weight abc") << 7 << "abc" << enter << 5.7546 << QString::fromUtf8("«abc» — не число.");
    QTest::newRow("weight -50, Tab") << 7 << "-50" << tab << 5.7546 << QString::fromUtf8("Число -50 вне этих пределов.");
    QTest::newRow("subtracted 150, typed through 1 and 15") << -5 << "150" << enter << 100.0
                                    << QString::fromUtf8("вычитаемой области задаётся числом от 0 до 100 %");
    QTest::newRow("ellipticity 50") << 26 << "50" << enter << 50.0 << "";
    QTest::newRow("ellipticity -50") << 26 << "-50" << enter << 100.0
                                     << QString::fromUtf8("Чувствительность к изменению эллиптичности");
    QTest::newRow("azimuth abc, Tab") << 27 << "abc" << tab << 100.0 << QString::fromUtf8("не число");
  }
  void enteringAField() {
    QFETCH(int, field);
    QFETCH(QString, typed);
    QFETCH(int, confirmKey);
    QFETCH(double, stored);
    QFETCH(QString, says);
    wt::Messages messages;
    AppState state;
    ФормаНастроек s(state, nullptr);
    s.show();
    QVERIFY(QTest::qWaitForWindowActive(&s));
    const DetectionSettings before = state.Detection;
    QLineEdit* e = Field(s, field);
    const QString shownBefore = e->text();
    e->setFocus();
    e->selectAll();
    QTest::keyClicks(e, typed);
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
      QCOMPARE(ToQt(messages.seen[0].title), QString::fromUtf8("Настройки"));
      QCOMPARE(e->text(), shownBefore);  // the kept value again
    }
  }

  // The options answer Space and the arrow keys as they answer the mouse.
  void optionsFollowTheKeyboard() {
    AppState state;
    ФормаНастроек s(state, nullptr);
    s.show();
    QVERIFY(QTest::qWaitForWindowActive(&s));
    s.Option2->setFocus();
    QTest::keyClick(s.Option2, Qt::Key_Space);
    QCOMPARE(state.Detection.ShowMode, 1);
    QVERIFY(s.Option2->isChecked() && !s.Option1->isChecked());
    QTest::keyClick(s.Option2, Qt::Key_Up);
    QVERIFY(s.Option1->isChecked());
    QCOMPARE(state.Detection.ShowMode, 0);
    QTest::mousePress(s.Option2, Qt::LeftButton, {}, QPoint(5, 8));
    QCOMPARE(state.Detection.ShowMode, 1);
    QTest::mouseRelease(s.Option2, Qt::LeftButton, {}, QPoint(5, 8));
    QCOMPARE(state.Detection.ShowMode, 1);
  }

  // A fit that gives no circle after one that did: the user is told why, the
  // circle is cleared, the sphere button hidden and the old circle painted over.
  void refusedFitClearsTheCircle_data() {
    QTest::addColumn<bool>("manual");
    QTest::addColumn<QList<QPoint>>("presses");
    QTest::addColumn<QString>("says");
    QTest::newRow("three clicks on one line") << true << QList<QPoint>{{30, 40}, {40, 40}, {50, 40}}
                                              << QString::fromUtf8("лежат на одной прямой");
    QTest::newRow("a click repeated") << true << QList<QPoint>{{30, 40}, {50, 30}, {30, 40}}
                                      << QString::fromUtf8("или совпадают");
    QTest::newRow("trace near the corner") << false << QList<QPoint>{{8, 8}}
                                           << QString::fromUtf8("не помещается в изображение 320 x 240");
  }
  void refusedFitClearsTheCircle() {
    QFETCH(bool, manual);
    QFETCH(QList<QPoint>, presses);
    QFETCH(QString, says);
    wt::Messages messages;
    AppState state;
    ExportForm form(state);
    form.CheckRefine->setChecked(false);  // the fits exactly as they are made
    form.show();
    if (ExportForm::SampleFolder().isEmpty()) QSKIP("no sample set");
    form.CommandSample->click();
    QVERIFY(form.waitIdle());
    wt::TypeZoom(form, 6);
    form.Command1->click();  // "Контур"
    QVERIFY(form.waitIdle());
    const int Z = state.ZoomFactor;
    auto press = [&](QPoint cell) {
      form.MapMouseDown(1, (cell.x() - 1) * Z + 1, (cell.y() - 1) * Z + 1);
      QVERIFY(form.waitIdle());
    };
    form.Check3->setChecked(true);
    for (QPoint p : {QPoint(60, 40), QPoint(40, 60), QPoint(20, 40)}) press(p);
    QCOMPARE(state.Circle.CircleRadius, 20.0);
    QVERIFY(!form.Image19->isHidden());
    const double c = (40 - 0.5) * Z - 1;
    QVERIFY(wt::GreenOnCircle(form.mapSurface(), c, c, 20 * Z) >= 30);
    QVERIFY(messages.seen.empty());

    form.Check3->setChecked(manual);
    for (QPoint p : presses) press(p);
    QCOMPARE(state.Circle.CircleRadius, 0.0);
    QVERIFY(form.Image19->isHidden());
    QVERIFY(!messages.seen.empty());
    const Message& m = messages.seen.back();
    QCOMPARE(ToQt(m.title), QString::fromUtf8("Окружность шара не найдена"));
    QVERIFY2(ToQt(m.text).contains(says), m.text.c_str());
    // Told once that the earlier circle is gone (a refit between may have cleared it).
    int told = 0;
    for (const Message& seen : messages.seen) told += ToQt(seen.text).contains(QString::fromUtf8("Прежняя окружность шара снята."));
    QCOMPARE(told, 1);
    QVERIFY(wt::GreenOnCircle(form.mapSurface(), c, c, 20 * Z) <= 3);
    // A redraw does not bring it back either.
    form.Check2->click();
    QVERIFY(form.waitIdle());
    QVERIFY(wt::GreenOnCircle(form.mapSurface(), c, c, 20 * Z) <= 3);
  }

  // The full-size window stays within the screen's available area and
  // scrolls over a map larger than that.
  void fullSizeWindowFitsTheScreen() {
    const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
    for (QSize mapSize : {QSize(120, 80), QSize(avail.width() + 300, avail.height() + 200)}) {
      RasterSurface map(mapSize.width(), mapSize.height(), Rgb(10, 20, 30));
      map.fillRect(mapSize.width() - 5, mapSize.height() - 5, mapSize.width() - 1, mapSize.height() - 1,
                   Rgb(200, 0, 0));
      БольшаяКартинка big(map, nullptr);
      const bool large = mapSize.width() > avail.width();
      QVERIFY(big.width() + 18 <= avail.width() && big.height() + 40 <= avail.height());
      QCOMPARE(big.Scroll->horizontalScrollBarPolicy(), large ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
      QCOMPARE(big.Scroll->verticalScrollBarPolicy(), large ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
      if (!large) QCOMPARE(big.size(), mapSize);
      // The whole map is there to scroll to, pixel for pixel.
      QCOMPARE(big.Picture1->size(), mapSize);
      QCOMPARE(big.copy().pixel(mapSize.width() - 1, mapSize.height() - 1), map.pixel(mapSize.width() - 1, mapSize.height() - 1));
    }
  }
};

QTEST_MAIN(SettingsAndCircleTest)
#include "settings_and_circle.moc"
