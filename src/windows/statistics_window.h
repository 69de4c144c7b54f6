// The statistics window: training of the network on the sphere (on a worker
// thread, so the window keeps answering, shows the progress and can stop the
// run), toning of the virtual sphere from the typed rotation angles, and the
// three spreadsheet exports shown in the window's own sheet, which can be saved
// as a workbook or opened in the user's spreadsheet application.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "display/surface.h"
#include "display/toning.h"
#include "export/sheet.h"
#include "learning/training.h"
#include "state/app_state.h"
#include "state/message.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace ps::ui {

class SheetView;

class Статистика : public QDialog {
 public:
  // `session` holds what outlives one opening of the window: parameters,
  // settings, the change memory and the random generator. `ellipses` tells
  // whether the analysis window shows polarization ellipses (the toning then
  // paints polarization colours instead of grey).
  Статистика(AppState& state, std::shared_ptr<TrainingSession> session, QWidget* owner = nullptr,
             std::function<bool()> ellipses = {});
  ~Статистика() override;

  // --- Controls ---
  QPushButton* Command3;        // "Обучение нейросети"
  QPushButton* Command1;        // "Тонировать"
  QPushButton* Command4;        // heights export
  QPushButton* Command5;        // coefficients export
  QPushButton* ЭкспортВExcel1;  // eight-column export
  QPushButton* Command2;        // no handler
  QRadioButton* Option1;        // direction 0..2pi
  QRadioButton* Option2;        // direction -pi/2..pi/2
  QCheckBox* Check1;            // "Половину шара", no behaviour
  QLabel* Label1;
  std::array<QLabel*, 3> Label2{};
  QLineEdit* Text1;
  QLineEdit* Text2;
  QLineEdit* Text3;
  QLabel* Picture1;
  QLabel* Picture2;
  QLabel* Image1;
  QLabel* Image2;
  QLabel* Image3;
  QFrame* Shape1;
  QTimer Timer1;
  SheetView* OLE1;  // the embedded sheet

  // Training progress and the data folder.
  QProgressBar* TrainingBar;
  QLabel* TrainingStatus;
  QPushButton* CancelTraining;  // "Остановить обучение"
  QLabel* DataFolderLabel;
  QPushButton* OpenDataFolder;   // "Открыть папку"
  QPushButton* CreateStepsFile;  // "Создать файл шагов"
  // The sheet's own commands.
  QLabel* SheetCaption;
  QPushButton* SaveSheet;  // "Сохранить как .xlsx"
  QPushButton* OpenSheet;  // "Открыть в табличном редакторе"

  // --- Handlers, callable directly ---
  void Form_Load();
  void Text1_Change();
  void Text2_Change();
  void Text3_Change();
  void Command1_Click();  // toning sweep
  void Command3_Click();  // starts a training run on the worker thread
  void Command4_Click();
  void Command5_Click();
  void ЭкспортВExcel1_Click();
  void Timer1_Timer();
  void CancelTraining_Click();
  void OpenDataFolder_Click();
  // Writes the starter steps file when none exists; false when it could not.
  bool CreateStepsFile_Click();
  // Writes the shown sheet to `path`; shows the reason and returns false on failure.
  bool SaveSheetAs(const QString& path);
  void SaveSheet_Click();  // asks for the path
  // Closing (close box, Esc): during a training run asks first, then stops it.
  void reject() override;
  bool OpenSheet_Click();  // writes a workbook beside the temporary files and opens it

  // --- State ---
  const ToningView& view() const { return view_; }
  const RasterSurface& picture1Surface() const { return left_; }
  const RasterSurface& picture2Surface() const { return right_; }
  bool training() const { return running_; }
  // Runs the event loop until the training run ends; false on timeout.
  bool waitTrainingDone(int timeoutMs = 120000);
  const std::optional<TrainingResult>& lastTraining() const { return lastResult_; }
  const Sheet* sheet() const { return sheet_.get(); }
  QString sheetName() const { return sheetName_; }
  QString dataFolder() const;
  TrainingSession& session() { return *session_; }

  // Settings a test pins: the bound of accepted iterations, the clock and the
  // decimal separator.
  void setAcceptedLimit(long long limit) { acceptedLimit_ = limit; }
  void setClock(Clock clock) { clock_ = std::move(clock); }
  void setDecimalSeparator(const std::string& sep) { separator_ = sep; }

  // How URLs are opened (the file manager, the spreadsheet application); tests
  // replace it. Returns false when nothing could open the URL.
  static std::function<bool(const QUrl&)>& UrlOpener();
  // Yes/no questions; tests replace it.
  static std::function<bool(QWidget*, const QString&)>& Asker();

 private:
  void buildControls();
  void rotationChanged(QLineEdit* box, double ToningView::*member);
  void refreshDataFolder();
  void setTrainingControls(bool running);
  void pollTraining();
  void finishTraining(const TrainingResult& result, int runId);
  void stopTraining();  // cancels a running run and waits for it
  void showSheet(std::shared_ptr<Sheet> sheet, const QString& name);
  void showPictures();
  DirectionConvention convention() const;

  AppState& state_;
  std::shared_ptr<TrainingSession> session_;
  std::function<bool()> ellipses_;
  ToningView view_;
  int BackColourR = 225, BackColourG = 225, BackColourB = 225;
  RasterSurface left_, right_;
  std::shared_ptr<Sheet> sheet_;
  QString sheetName_;

  std::string separator_;
  long long acceptedLimit_ = 19999;
  Clock clock_;

  // Training on the worker thread.
  bool running_ = false;
  int runId_ = 0;
  std::thread worker_;
  std::atomic<bool> cancel_{false};
  std::mutex progressMutex_;
  TrainingSnapshot latest_;
  std::string latestWarning_;
  QTimer poll_;
  QElapsedTimer elapsed_;
  std::optional<TrainingResult> lastResult_;
};

// Opens the statistics window modally over `owner`; what the window keeps
// between openings (the training session) lives as long as the program.
void OpenStatisticsWindow(QWidget* owner, AppState& state);

}  // namespace ps::ui
