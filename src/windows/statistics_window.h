// The statistics window: training of the network on the sphere (on a worker
// thread, so the window keeps answering, shows the progress and plots energy A
// and B of every accepted iteration, and can stop the run), the judgement of
// the learned height after each run or on demand (figures, error map, a sheet of
// per-cell errors), toning of the virtual sphere from the typed rotation angles
// (pictures saved as PNG), and the spreadsheet exports shown in the window's own
// sheet, which can be saved as a workbook or opened in the user's spreadsheet
// application.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
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
#include "learning/evaluation.h"
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

class EnergyPlot;
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
  EnergyPlot* TrainingPlot;      // energy A and B of every accepted iteration
  QLabel* CircleLabel;           // the sphere circle the window works on
  // Saving the toning pictures.
  QPushButton* SavePicture1;     // "Сохранить левую картинку…"
  QPushButton* SavePicture2;     // "Сохранить правую картинку…"
  // Judging the learned height.
  QPushButton* EvaluateTraining;  // "Оценить обучение"
  QLabel* EvaluationText;
  QLabel* ErrorMapPicture;
  QPushButton* SaveErrorMap;      // "Сохранить карту ошибок…"
  QPushButton* HeightErrors;      // "Ошибки распознавания высот": the fourth sheet
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
  // Evaluates the weights file over the circle and shows the figures and the
  // error map; false (with the reason in the figures' place) when it cannot.
  // `quiet` leaves out the message box of a refusal (the run after a training).
  bool EvaluateTraining_Click(bool quiet = false);
  void HeightErrors_Click();
  // Writes a picture as PNG, whole or not at all; says why on failure.
  bool SavePicture(const RasterSurface& picture, const QString& path);
  void SavePicture1_Click();
  void SavePicture2_Click();
  void SaveErrorMap_Click();

  // --- State ---
  const ToningView& view() const { return view_; }
  const RasterSurface& picture1Surface() const { return left_; }
  const RasterSurface& picture2Surface() const { return right_; }
  bool training() const { return running_; }
  // Runs the event loop until the training run ends; false on timeout.
  bool waitTrainingDone(int timeoutMs = 120000);
  const std::optional<TrainingResult>& lastTraining() const { return lastResult_; }
  const std::optional<HeightEvaluation>& lastEvaluation() const { return evaluation_; }
  const RasterSurface& errorMap() const { return errorMap_; }
  const Sheet* sheet() const { return sheet_.get(); }
  QString sheetName() const { return sheetName_; }
  QString dataFolder() const;
  TrainingSession& session() { return *session_; }

  // Settings a test pins: the bound of accepted iterations, the clock and the
  // decimal separator.
  void setAcceptedLimit(long long limit) { acceptedLimit_ = limit; }
  void setClock(Clock clock) { clock_ = std::move(clock); }
  void setDecimalSeparator(const std::string& sep) {
    separator_ = sep;
    showCircle();
  }

  // The program that hands a file or folder to the desktop's application
  // ("xdg-open"); its exit status says whether one took it. Tests replace it.
  static QString& OpenerProgram();
  // The save dialog (parent, caption, suggested path, filter) -> path, "" when
  // cancelled; tests replace it.
  static std::function<QString(QWidget*, const QString&, const QString&, const QString&)>& SavePathAsker();
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
  void showCircle();
  void recordWeightsOrigin();
  // Runs the opener on `path`; when it cannot start or reports failure, shows
  // `failure` (which says where the file is).
  void openExternally(const QString& path, const std::string& failure);
  QString askSavePath(const QString& caption, const QString& name, const QString& filter);
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
  std::vector<EnergyPoint> pendingPoints_;  // accepted since the last poll, under progressMutex_
  std::optional<HeightEvaluation> evaluation_;
  RasterSurface errorMap_;
};

// Opens the statistics window modally over `owner`; what the window keeps
// between openings (the training session) lives as long as the program.
void OpenStatisticsWindow(QWidget* owner, AppState& state);

}  // namespace ps::ui
