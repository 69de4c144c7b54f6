// The analysis window's commands and the windows they open: the settings
// window bound to the detection settings, the help window, the intensity
// options, the sample set in one step, the manual three-point circle,
// subtraction of a second file in a slot, the progress bar and the marker pulse.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

#include "polarization/polarization.h"
#include "sphere/contour.h"
#include "state/app_state.h"
#include "windows/export_form.h"
#include "windows/help_forms.h"
#include "windows/open_form.h"
#include "windows/picture_button.h"
#include "windows/settings_form.h"
#include "windows/zoom_picture.h"
#include "window_test_support.h"

using namespace ps;
using namespace ps::ui;

class CommandsTest : public QObject {
  Q_OBJECT

 private slots:
  void settingsWindowBindsTheDetectionSettings() {
    wt::Messages messages;
    AppState state;
    ExportForm form(state);
    state.Detection.WeightKernel[0][0] = 50;  // an earlier edit: shown, not reset
    bool pressedWhileOpen = false;
    wt::WhenModal<ФормаНастроек>([&](ФормаНастроек* s) {
      pressedWhileOpen = form.Image1->showingPressed();
      QCOMPARE(s->windowTitle(), QString::fromUtf8("Настройки"));
      // The session started with "Гауссовское распределение без центра".
      QCOMPARE(s->Weight[0]->text(), QString("50"));
      QCOMPARE(state.Detection.WeightKernel[1][1], 5.7546f);
      QCOMPARE(state.Detection.SubtractKernel[2][2], 100.0f);
      QCOMPARE(s->Text28->text(), QString("60"));
      // "Квадрат": every weight 4, both totals 100 %.
      s->Command4->click();
      const QString sep = QString::fromStdString(DecimalSeparator());
      QCOMPARE(s->Label2->text(), QString::fromUtf8("Всего 100") + sep + QString::fromUtf8("000000 %  из 100 %"));
      QCOMPARE(s->Label8->text(), s->Label2->text());
      QCOMPARE(s->Weight[7]->text(), QString("4"));
      QCOMPARE(state.Detection.WeightKernel[1][2], 4.0f);
      // Typing into a weight box changes its element and the total at once.
      s->Weight[0]->selectAll();
      QTest::keyClicks(s->Weight[0], "14");
      QCOMPARE(state.Detection.WeightKernel[0][0], 14.0f);
      QCOMPARE(s->Label2->text(), QString::fromUtf8("Всего 110") + sep + QString::fromUtf8("000000 %  из 100 %"));
      // Clearing a box leaves its element.
      s->Weight[0]->selectAll();
      QTest::keyClick(s->Weight[0], Qt::Key_Delete);
      QCOMPARE(state.Detection.WeightKernel[0][0], 14.0f);
      // Limits and sensitivities.
      s->Text28->selectAll();
      QTest::keyClicks(s->Text28, "90");
      QVERIFY(std::abs(state.Detection.RotationLimit - 1.570795) < 1e-9);
      s->Text26->selectAll();
      QTest::keyClicks(s->Text26, "50");
      QCOMPARE(state.Detection.EllipticitySensitivity, 0.5);
      // The options act on mouse-down.
      QTest::mousePress(s->Option2, Qt::LeftButton, {}, QPoint(5, 8));
      QCOMPARE(state.Detection.ShowMode, 1);
      QVERIFY(s->Option2->isChecked());
      QTest::mouseRelease(s->Option2, Qt::LeftButton, {}, QPoint(5, 8));
      s->accept();
    });
    form.Image1->trigger();
    QVERIFY(pressedWhileOpen);
    QVERIFY(!form.Image1->showingPressed());
    QCOMPARE(state.Detection.ShowMode, 1);  // kept after the window closed

    // Opening it again keeps the user's weights and shows the stored limit in degrees.
    wt::WhenModal<ФормаНастроек>([&](ФормаНастроек* s) {
      QCOMPARE(state.Detection.WeightKernel[2][2], 4.0f);
      QCOMPARE(s->Text28->text(), QString("90"));
      QVERIFY(s->Option2->isChecked());
      s->accept();
    });
    form.Image1->trigger();
    QVERIFY(messages.seen.empty());
  }

  void helpAndOptions() {
    AppState state;
    ExportForm form(state);
    bool opened = false;
    wt::WhenModal<HelpExportForm>([&](HelpExportForm* h) {
      opened = h->windowTitle() == QString::fromUtf8("Справка");
      h->Image1->trigger();
    });
    form.Image3->trigger();
    QVERIFY(opened);

    form.Label16->hide();
    form.Option5->setChecked(true);
    QCOMPARE(state.IntensityMode, static_cast<int32_t>(kModeMax));
    QVERIFY(!form.Label16->isHidden());
    for (auto [option, mode] : {std::pair{form.Option6, kModeLuma}, {form.Option4, kModeMean}}) {
      option->setChecked(true);
      QCOMPARE(state.IntensityMode, static_cast<int32_t>(mode));
      QVERIFY(!form.Option5->isChecked());
    }

    // The progress bar moves out of the way and back.
    const int top = form.Picture1->y();
    form.Picture1->onClick();
    QCOMPARE(form.Picture1->y(), top + form.Picture1->height());
    form.Picture1->onClick();
    QCOMPARE(form.Picture1->y(), top);
  }

  void sampleInOneStepAndManualCircle() {
    wt::Messages messages;
    AppState state;
    ExportForm form(state);
    form.show();
    if (ExportForm::SampleFolder().isEmpty()) QSKIP("no sample set");
    form.CommandSample->click();
    // The work runs beside the window: the busy pointer is on and further
    // commands are ignored until it is done.
    QVERIFY(form.busy());
    QVERIFY(QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor);
    form.AzimuthMouseUp(1);  // would open the selection window if it were not ignored
    QVERIFY(form.waitIdle());
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(messages.seen.empty());
    QVERIFY(state.setComplete());
    QVERIFY(form.mapShown());
    for (int k = 0; k < 4; ++k) QVERIFY(!form.ViewPorts[static_cast<size_t>(k)]->isHidden());
    // Processing and the contour ran on the worker: the results are those of
    // the plain one-thread reference.
    {
      AppState reference = state;
      ЗаполнениеМассиваReference(reference);
      const size_t n = size_t(state.SetWidth) * state.SetHeight;
      for (int layer : {1, 2, 3, 4, 5, 7, 9, 10, 13, 17})
        QVERIFY(std::equal(state.ResultMap.layer(layer), state.ResultMap.layer(layer) + n,
                           reference.ResultMap.layer(layer)));
      form.Command1->click();
      QVERIFY(form.waitIdle());
      std::vector<double> l19(n), l20(n), l21(n);
      ContourResponseReference(state.ResultMap.layer(7), state.SetWidth, state.SetHeight, false, l19.data(),
                               l20.data(), l21.data());
      QVERIFY(std::equal(l19.begin(), l19.end(), state.ResultMap.layer(19)));
      QVERIFY(std::equal(l21.begin(), l21.end(), state.ResultMap.layer(21)));
    }
    // The selected definition survives loading.
    form.Option5->setChecked(true);
    QVERIFY(form.waitIdle());
    form.CommandSample->click();
    QVERIFY(form.waitIdle());
    QCOMPARE(state.IntensityMode, static_cast<int32_t>(kModeMax));

    // Three presses on the rim in manual mode give the circle through them.
    wt::TypeZoom(form, 6);
    form.CheckRefine->setChecked(false);  // the three-point circle exactly as made
    form.Check3->setChecked(true);
    const int Z = state.ZoomFactor;
    const int pts[3][2] = {{60, 40}, {40, 60}, {20, 40}};
    for (int i = 0; i < 3; ++i) {
      form.MapMouseDown(1, (pts[i][0] - 1) * Z + 1, (pts[i][1] - 1) * Z + 1);
      QVERIFY(form.waitIdle());
      if (i < 2) {
        QVERIFY(!state.Circle.exists());
        QCOMPARE(StripFlag(form.mapSurface().pixel((pts[i][0] - 1) * Z, (pts[i][1] - 1) * Z)), Rgb(192, 192, 0));
        QVERIFY(form.Image19->isHidden());
      }
    }
    QCOMPARE(state.Circle.CircleCentreX, 40.0);
    QCOMPARE(state.Circle.CircleCentreY, 40.0);
    QCOMPARE(state.Circle.CircleRadius, 20.0);
    QVERIFY(!form.Image19->isHidden());
    QVERIFY(messages.seen.empty());
    // The circle stays on the map across a redraw.
    form.Check2->click();
    QVERIFY(form.waitIdle());
    QVERIFY(wt::GreenOnCircle(form.mapSurface(), (40 - 0.5) * Z - 1, (40 - 0.5) * Z - 1, 20 * Z) >= 30);

    // The selection marker pulses once the map is drawn.
    const int before = form.display().MarkerPulse;
    QTest::qWait(650);
    QVERIFY(form.display().MarkerPulse != before);

    // The sphere button hands over to the statistics window.
    bool handed = false;
    ExportForm::StatisticsOpener() = [&](QWidget* owner, AppState& s) { handed = owner == &form && &s == &state; };
    form.Image19->trigger();
    QVERIFY(handed);
    ExportForm::StatisticsOpener() = {};
  }

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
    QCOMPARE(int(state.ImageStore.at(3, 4, 0, 2)), 100);
    wt::ChooseFile(form, 2, dir.path(), "second.bmp");
    QVERIFY(!state.SubtractNext[1]);
    // first - second where that is at least 1, else 0.
    QCOMPARE(int(state.ImageStore.at(3, 4, 0, 2)), 70);
    QCOMPARE(int(state.ImageStore.at(3, 4, 1, 2)), 0);
    QCOMPARE(int(state.ImageStore.at(3, 4, 2, 2)), 15);
    // The view shows the slot's new content: cell (3, 4) at zoom 9.
    const QImage view = form.ViewPictures[1]->image();
    QCOMPARE(view.pixelColor(2 * 9 + 1, 3 * 9 + 1), QColor(70, 0, 15));
    QVERIFY(!form.mapShown());
    QVERIFY(messages.seen.empty());
  }
};

QTEST_MAIN(CommandsTest)
#include "commands.moc"
