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
#include "windows/start_options.h"
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

  const ps::ui::StartOptions options = ps::ui::ParseStartOptions(QApplication::arguments().mid(1));
  QTimer::singleShot(0, &form, [&form, options] { ps::ui::ApplyStartOptions(form, options); });
  return app.exec();
}
