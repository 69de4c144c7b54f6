// polarsphere: the desktop application. Opens the analysis window on an empty
// set; with --sample it loads the bundled sample set at start, and four BMP
// paths on the command line are loaded into the slots 0°, 45°, 90°, 135°.
#include <QApplication>
#include <QTimer>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "windows/export_form.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("polarsphere"));
  ps::AppState state;
  ps::ui::ExportForm form(state);
  form.show();

  bool sample = false;
  std::vector<std::string> files;
  for (const QString& a : QApplication::arguments().mid(1)) {
    if (a == QStringLiteral("--sample")) sample = true;
    else if (!a.startsWith(QStringLiteral("-"))) files.push_back(a.toUtf8().toStdString());
  }
  if (sample) QTimer::singleShot(0, &form, [&form] { form.OpenSample(); });
  else if (files.size() == 4) QTimer::singleShot(0, &form, [&form, files] { form.LoadFiles(files); });
  return app.exec();
}
