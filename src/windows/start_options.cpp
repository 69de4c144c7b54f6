#include "windows/start_options.h"

#include <QCheckBox>
#include <QLineEdit>

#include "windows/export_form.h"
#include "windows/messages.h"

namespace ps::ui {

StartOptions ParseStartOptions(const QStringList& args) {
  StartOptions o;
  QString patternText;
  QStringList unknown;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == QStringLiteral("--sample")) o.sample = true;
    else if (a == QStringLiteral("--scale") && i + 1 < args.size()) o.scale = args[++i];
    else if (a == QStringLiteral("--pattern") && i + 1 < args.size()) patternText = args[++i];
    else if (a == QStringLiteral("--ellipses")) o.ellipses = true;
    else if (a == QStringLiteral("--contour")) o.contour = true;
    else if (a == QStringLiteral("--manual")) o.manual = true;
    else if (a == QStringLiteral("--press") && i + 2 < args.size()) {
      o.presses << args[i + 1].toDouble() << args[i + 2].toDouble();
      i += 2;
    } else if (!a.startsWith(QStringLiteral("-")) || a == QStringLiteral("-")) {
      o.files.push_back(a.toUtf8().toStdString());
    } else {
      unknown << a;
    }
  }
  auto problem = [&o](const std::string& line) { o.problems += (o.problems.empty() ? "" : kCrLf) + line; };
  if (!unknown.isEmpty()) problem("Неизвестные параметры командной строки: " + ToStd(unknown.join(QStringLiteral(" "))));
  if (o.sample && !o.files.empty()) problem("С --sample пути к снимкам не учитываются.");
  o.frame = !o.sample && o.files.size() == 1;
  o.pattern = ExportForm::RememberedPattern();
  std::string error;
  bool badPattern = false;
  if (!patternText.isEmpty()) {
    if (!ParseMosaicPattern(ToStd(patternText), &o.pattern, &error)) {
      badPattern = true;
      problem("--pattern: нужны четыре азимута 0, 45, 90 и 135 через запятую, каждый по одному разу.");
    } else if (!o.frame) {
      problem("--pattern относится только к одному кадру камеры.");
    }
  }
  // Any paths are handed to the loader, which refuses a wrong count or a file
  // it cannot use with a message naming it.
  o.load = (o.sample || !o.files.empty()) && !badPattern;
  return o;
}

bool ApplyStartOptions(ExportForm& form, const StartOptions& o) {
  if (!o.problems.empty()) ShowMessage(&form, Message{o.problems, "", MessageIcon::Exclamation});
  if (!o.load) return false;
  if (o.sample) form.OpenSample();
  else if (o.frame) form.LoadFrame(QString::fromStdString(o.files[0]), o.pattern);
  else form.LoadFiles(o.files);
  if (!form.waitIdle() || !form.mapShown()) return false;
  if (!o.scale.isEmpty()) {
    form.Text1->setText(o.scale);
    form.Text1_Change();
  }
  // What a user would click next, for demonstrations and screenshots: the
  // ellipses, "Контур", then presses on the map at cells (X, Y).
  if (o.ellipses && form.waitIdle()) form.Check2->click();
  if (o.contour && form.waitIdle()) form.Command1_Click();
  if (o.manual) form.Check3->setChecked(true);
  for (qsizetype k = 0; k + 1 < o.presses.size() && form.waitIdle(); k += 2) {
    const double z = form.state().ZoomFactor;
    form.MapMouseDown(1, (o.presses[k] - 1) * z + z / 2, (o.presses[k + 1] - 1) * z + z / 2);
  }
  return form.waitIdle();
}

}  // namespace ps::ui
