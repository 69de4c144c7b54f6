// polarsphere: the desktop application. Opens the analysis window on an empty
// set; with --sample it loads the bundled sample set at start, and four BMP
// paths on the command line are loaded into the slots 0°, 45°, 90°, 135°;
// --scale PERCENT then sets the scale as if typed into the scale box. One path
// is a polarization-camera frame, split with --pattern P (azimuths of the 2 x 2
// block, as in the "Открыть кадр камеры…" command; default the last pattern
// used). Once the map is drawn, --ellipses ticks the ellipses, --contour runs
// "Контур", --manual ticks the manual sphere selection and each --press X Y
// presses the map at cell (X, Y) as a click would.
// Paths that cannot be loaded and unknown options are reported in a message.
#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <string>
#include <vector>

#include <QCheckBox>
#include <memory>

#include "learning/training.h"
#include "state/app_state.h"
#include "windows/export_form.h"
#include "windows/messages.h"
#include "windows/statistics_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("polarsphere"));
  QApplication::setOrganizationName(QStringLiteral("polarsphere"));
  ps::ui::InstallRussianTranslations(app);
  ps::AppState state;
  ps::ui::ExportForm form(state);
  // The network and its training settings outlive each opening of the
  // statistics window; they live as long as the application.
  auto training = std::make_shared<ps::TrainingSession>();
  ps::ui::ExportForm::StatisticsOpener() = [training, &form](QWidget* owner, ps::AppState& s) {
    ps::ui::Статистика window(s, training, owner, [&form] { return form.Check2->isChecked(); });
    window.exec();
  };
  form.show();

  bool sample = false;
  QString scale;
  QString patternText;
  bool ellipses = false, contour = false, manual = false;
  QList<double> press;
  std::vector<std::string> files;
  QStringList unknown;
  const QStringList args = QApplication::arguments().mid(1);
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == QStringLiteral("--sample")) sample = true;
    else if (a == QStringLiteral("--scale") && i + 1 < args.size()) scale = args[++i];
    else if (a == QStringLiteral("--pattern") && i + 1 < args.size()) patternText = args[++i];
    else if (a == QStringLiteral("--ellipses")) ellipses = true;
    else if (a == QStringLiteral("--contour")) contour = true;
    else if (a == QStringLiteral("--manual")) manual = true;
    else if (a == QStringLiteral("--press") && i + 2 < args.size()) press << args[i + 1].toDouble() << args[i + 2].toDouble(), i += 2;
    else if (!a.startsWith(QStringLiteral("-")) || a == QStringLiteral("-")) files.push_back(a.toUtf8().toStdString());
    else unknown << a;
  }
  ps::MosaicPattern pattern = ps::ui::ExportForm::RememberedPattern();
  std::string patternError;
  const bool badPattern =
      !patternText.isEmpty() && !ps::ParseMosaicPattern(ps::ui::ToStd(patternText), &pattern, &patternError);
  const bool frame = !sample && files.size() == 1;
  const bool strayPattern = !patternText.isEmpty() && !frame;
  if (!unknown.isEmpty() || (sample && !files.empty()) || badPattern || strayPattern) {
    QTimer::singleShot(0, &form, [&form, unknown, sample, badPattern, strayPattern] {
      std::string text;
      if (!unknown.isEmpty())
        text = "Неизвестные параметры командной строки: " + ps::ui::ToStd(unknown.join(QStringLiteral(" ")));
      if (sample) text += std::string(text.empty() ? "" : ps::kCrLf) + "С --sample пути к снимкам не учитываются.";
      if (badPattern)
        text += std::string(text.empty() ? "" : ps::kCrLf) +
                "--pattern: нужны четыре азимута 0, 45, 90 и 135 через запятую, каждый по одному разу.";
      if (strayPattern)
        text += std::string(text.empty() ? "" : ps::kCrLf) + "--pattern относится только к одному кадру камеры.";
      ps::ui::ShowMessage(&form, ps::Message{text, "", ps::MessageIcon::Exclamation});
    });
  }
  // Any paths are handed to the loader, which refuses a wrong count or a file
  // it cannot use with a message naming it.
  if ((sample || !files.empty()) && !badPattern) {
    QTimer::singleShot(0, &form, [&form, sample, files, scale, frame, pattern, ellipses, contour, manual, press] {
      if (sample) form.OpenSample();
      else if (frame) form.LoadFrame(QString::fromStdString(files[0]), pattern);
      else form.LoadFiles(files);
      if (!form.waitIdle() || !form.mapShown()) return;
      if (!scale.isEmpty()) {
        form.Text1->setText(scale);
        form.Text1_Change();
      }
      // What a user would click next, for demonstrations and screenshots:
      // the ellipses, "Контур", then a press on the map at cell (X, Y).
      if (ellipses && form.waitIdle()) form.Check2->click();
      if (contour && form.waitIdle()) form.Command1_Click();
      if (manual) form.Check3->setChecked(true);
      for (qsizetype k = 0; k + 1 < press.size() && form.waitIdle(); k += 2) {
        const double z = form.state().ZoomFactor;
        form.MapMouseDown(1, (press[k] - 1) * z + z / 2, (press[k + 1] - 1) * z + z / 2);
      }
    });
  }
  return app.exec();
}
