#include "windows/statistics_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <climits>
#include <exception>

#include "display/error_map.h"
#include "export/exports.h"
#include "export/xlsx_writer.h"
#include "learning/files.h"
#include "learning/text_encoding.h"
#include "state/number_format.h"
#include "windows/energy_plot.h"
#include "windows/export_form.h"
#include "windows/icons.h"
#include "windows/messages.h"
#include "windows/sheet_view.h"
#include "windows/zoom_picture.h"

namespace ps::ui {

namespace {

// Design size of the two toning pictures, in pixels.
constexpr int kPictureWidth = 297;
constexpr int kPictureHeight = 244;

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

// Elapsed time as h:mm:ss.
QString ElapsedText(qint64 ms) {
  const qint64 s = ms / 1000;
  return QString::asprintf("%lld:%02lld:%02lld", s / 3600, (s / 60) % 60, s % 60);
}

// A small picture of a spreadsheet grid, shown beside the export buttons.
QPixmap GridPicture() {
  QPixmap p(44, 44);
  p.fill(Qt::white);
  QPainter g(&p);
  g.setPen(QColor(30, 110, 60));
  g.fillRect(2, 2, 40, 9, QColor(30, 110, 60));
  for (int x = 2; x <= 42; x += 10) g.drawLine(x, 2, x, 42);
  for (int y = 2; y <= 42; y += 8) g.drawLine(2, y, 42, y);
  return p;
}

bool MakeFolder(const QString& folder, QWidget* parent) {
  if (QDir().mkpath(folder)) return true;
  ShowMessage(parent, Message{"Не удаётся создать папку данных " + ToStd(folder) + ".", "", MessageIcon::Exclamation});
  return false;
}

}  // namespace

QString& Статистика::OpenerProgram() {
  static QString program = QStringLiteral("xdg-open");
  return program;
}

std::function<QString(QWidget*, const QString&, const QString&, const QString&)>& Статистика::SavePathAsker() {
  static std::function<QString(QWidget*, const QString&, const QString&, const QString&)> ask =
      [](QWidget* parent, const QString& caption, const QString& suggested, const QString& filter) {
        return QFileDialog::getSaveFileName(parent, caption, suggested, filter);
      };
  return ask;
}

std::function<bool(QWidget*, const QString&)>& Статистика::Asker() {
  static std::function<bool(QWidget*, const QString&)> ask = [](QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, AppTitle(), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
           QMessageBox::Yes;
  };
  return ask;
}

Статистика::Статистика(AppState& state, std::shared_ptr<TrainingSession> session, QWidget* owner,
                       std::function<bool()> ellipses)
    : QDialog(owner),
      state_(state),
      session_(session ? std::move(session) : std::make_shared<TrainingSession>()),
      ellipses_(std::move(ellipses)),
      separator_(DecimalSeparator()) {
  setWindowTitle(Q("Экспорт в Excel"));
  setModal(true);
  buildControls();
  Form_Load();
}

Статистика::~Статистика() {
  if (worker_.joinable()) {
    cancel_ = true;
    worker_.join();
  }
}

void Статистика::buildControls() {
  auto* root = new QHBoxLayout(this);
  root->setSizeConstraint(QLayout::SetMinimumSize);
  auto* left = new QVBoxLayout;
  root->addLayout(left);

  // Toning: the two pictures and the rotation of the observation.
  auto* pictures = new QGridLayout;
  Picture1 = new QLabel(this);
  Picture2 = new QLabel(this);
  SavePicture1 = new QPushButton(Q("Сохранить левую картинку…"), this);
  SavePicture2 = new QPushButton(Q("Сохранить правую картинку…"), this);
  int column = 0;
  for (QLabel* p : {Picture1, Picture2}) {
    p->setFixedSize(kPictureWidth, kPictureHeight);
    p->setFrameShape(QFrame::NoFrame);
    pictures->addWidget(p, 0, column++);
  }
  pictures->addWidget(SavePicture1, 1, 0, Qt::AlignLeft);
  pictures->addWidget(SavePicture2, 1, 1, Qt::AlignLeft);
  left->addLayout(pictures);

  Shape1 = new QFrame(this);
  Shape1->setFrameShape(QFrame::Box);
  auto* toning = new QGridLayout(Shape1);
  Image1 = new QLabel(Shape1);
  Image1->setPixmap(icons::Button(icons::Kind::Sphere, false));
  toning->addWidget(Image1, 0, 0, 3, 1, Qt::AlignTop);
  Label1 = new QLabel(Q("Поворот наблюдения по Ox"), Shape1);
  Label2[0] = new QLabel(Q("           по Оy"), Shape1);
  Label2[1] = new QLabel(Q("          по Оz"), Shape1);
  Label2[2] = new QLabel(QString(), Shape1);
  Text1 = new QLineEdit(Shape1);
  Text2 = new QLineEdit(Shape1);
  Text3 = new QLineEdit(Shape1);
  toning->addWidget(Label1, 0, 1);
  toning->addWidget(Text1, 0, 2);
  toning->addWidget(Label2[0], 1, 1);
  toning->addWidget(Text2, 1, 2);
  toning->addWidget(Label2[1], 2, 1);
  toning->addWidget(Text3, 2, 2);
  toning->addWidget(Label2[2], 3, 1);
  for (QLineEdit* t : {Text1, Text2, Text3}) t->setMaximumWidth(70);
  Option1 = new QRadioButton(Q("Направление от 0 до 2п"), Shape1);
  Option2 = new QRadioButton(Q("Направление от -п/2 до п/2"), Shape1);
  Check1 = new QCheckBox(Q("Половину шара"), Shape1);
  Command1 = new QPushButton(Q("Тонировать"), Shape1);
  toning->addWidget(Option1, 0, 3);
  toning->addWidget(Option2, 1, 3);
  toning->addWidget(Check1, 2, 3);
  toning->addWidget(Command1, 0, 4, 3, 1);
  Command1->setMinimumHeight(60);
  left->addWidget(Shape1);

  // Training: the command, its progress and the data folder.
  auto* learning = new QGroupBox(Q("Обучение"), this);
  auto* lg = new QGridLayout(learning);
  Image2 = new QLabel(learning);
  Image2->setPixmap(icons::AppIcon().scaled(44, 44, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  lg->addWidget(Image2, 0, 0, 2, 1, Qt::AlignTop);
  CircleLabel = new QLabel(learning);
  CircleLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lg->addWidget(CircleLabel, 4, 1, 1, 3);
  TrainingPlot = new EnergyPlot(learning);
  lg->addWidget(TrainingPlot, 5, 0, 1, 4);
  Command3 = new QPushButton(Q("Обучение нейросети"), learning);
  CancelTraining = new QPushButton(Q("Остановить обучение"), learning);
  CancelTraining->setEnabled(false);
  TrainingBar = new QProgressBar(learning);
  TrainingBar->setRange(0, 1);
  TrainingBar->setValue(0);
  TrainingBar->setFormat(QStringLiteral("%v / %m"));
  TrainingStatus = new QLabel(learning);
  TrainingStatus->setWordWrap(true);
  TrainingStatus->setMinimumHeight(3 * fontMetrics().height());
  TrainingStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lg->addWidget(Command3, 0, 1);
  lg->addWidget(TrainingBar, 0, 2);
  lg->addWidget(CancelTraining, 0, 3);
  lg->addWidget(TrainingStatus, 1, 1, 1, 3);
  DataFolderLabel = new QLabel(learning);
  DataFolderLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  DataFolderLabel->setWordWrap(true);
  OpenDataFolder = new QPushButton(Q("Открыть папку"), learning);
  CreateStepsFile = new QPushButton(Q("Создать файл шагов"), learning);
  CreateStepsFile->setToolTip(Q("Записать в папку данных файл шагов «Шаги.txt» с начальными значениями"));
  lg->addWidget(DataFolderLabel, 2, 1, 1, 3);
  lg->addWidget(OpenDataFolder, 3, 2, Qt::AlignRight);
  lg->addWidget(CreateStepsFile, 3, 3);
  lg->setColumnStretch(2, 1);
  left->addWidget(learning);

  // Exports.
  auto* exports = new QGroupBox(Q("Экспорт в Excel"), this);
  auto* eg = new QGridLayout(exports);
  Image3 = new QLabel(exports);
  Image3->setPixmap(GridPicture());
  eg->addWidget(Image3, 0, 0, 2, 1, Qt::AlignTop);
  Command5 = new QPushButton(Q("Коэффициенты обучения в Excel"), exports);
  ЭкспортВExcel1 = new QPushButton(Q("Экспорт в Excel в 5 столбцов"), exports);
  Command4 = new QPushButton(Q("Результат распознавания высот в Excel"), exports);
  Command2 = new QPushButton(Q("Экспорт в Excel в таблицу градусов"), exports);
  eg->addWidget(Command5, 0, 1);
  eg->addWidget(ЭкспортВExcel1, 0, 2);
  eg->addWidget(Command4, 1, 1);
  eg->addWidget(Command2, 1, 2);
  HeightErrors = new QPushButton(Q("Ошибки распознавания высот"), exports);
  HeightErrors->setToolTip(Q("Лист: x, y, высота шара h, выход сети y и ошибка y − h каждой точки внутри шара"));
  eg->addWidget(HeightErrors, 2, 1);
  left->addWidget(exports);
  left->addStretch(1);

  // The embedded sheet with its own commands.
  auto* right = new QVBoxLayout;
  root->addLayout(right, 1);

  // Judging the learned height: figures beside the error map.
  auto* judging = new QGroupBox(Q("Оценка обучения"), this);
  auto* jg = new QGridLayout(judging);
  EvaluateTraining = new QPushButton(Q("Оценить обучение"), judging);
  EvaluateTraining->setToolTip(Q("Сравнить высоту, распознанную по файлу весов, с высотой шара и с двумя простыми оценками"));
  EvaluationText = new QLabel(Q("Оценки пока нет."), judging);
  EvaluationText->setTextInteractionFlags(Qt::TextSelectableByMouse);
  EvaluationText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  EvaluationText->setWordWrap(true);
  ErrorMapPicture = new QLabel(judging);
  ErrorMapPicture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  SaveErrorMap = new QPushButton(Q("Сохранить карту ошибок…"), judging);
  SaveErrorMap->setEnabled(false);
  jg->addWidget(EvaluateTraining, 0, 0, Qt::AlignLeft);
  jg->addWidget(SaveErrorMap, 0, 1, Qt::AlignRight);
  jg->addWidget(EvaluationText, 1, 0, 1, 2);
  jg->addWidget(ErrorMapPicture, 2, 0, 1, 2);
  jg->setColumnStretch(0, 1);
  right->addWidget(judging);

  SheetCaption = new QLabel(Q("Лист Microsoft Excel"), this);
  OLE1 = new SheetView(this);
  OLE1->setMinimumSize(520, 300);
  auto* sheetButtons = new QHBoxLayout;
  SaveSheet = new QPushButton(Q("Сохранить как .xlsx"), this);
  OpenSheet = new QPushButton(Q("Открыть в табличном редакторе"), this);
  SaveSheet->setEnabled(false);
  OpenSheet->setEnabled(false);
  sheetButtons->addWidget(SheetCaption, 1);
  sheetButtons->addWidget(SaveSheet);
  sheetButtons->addWidget(OpenSheet);
  right->addLayout(sheetButtons);
  right->addWidget(OLE1, 1);

  connect(Text1, &QLineEdit::textChanged, this, [this] { Text1_Change(); });
  connect(Text2, &QLineEdit::textChanged, this, [this] { Text2_Change(); });
  connect(Text3, &QLineEdit::textChanged, this, [this] { Text3_Change(); });
  connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
  connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
  connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
  connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
  connect(ЭкспортВExcel1, &QPushButton::clicked, this, [this] { ЭкспортВExcel1_Click(); });
  // Command2 has no handler: pressing it does nothing.
  connect(CancelTraining, &QPushButton::clicked, this, [this] { CancelTraining_Click(); });
  connect(OpenDataFolder, &QPushButton::clicked, this, [this] { OpenDataFolder_Click(); });
  connect(CreateStepsFile, &QPushButton::clicked, this, [this] { CreateStepsFile_Click(); });
  connect(SaveSheet, &QPushButton::clicked, this, [this] { SaveSheet_Click(); });
  connect(OpenSheet, &QPushButton::clicked, this, [this] { OpenSheet_Click(); });
  connect(SavePicture1, &QPushButton::clicked, this, [this] { SavePicture1_Click(); });
  connect(SavePicture2, &QPushButton::clicked, this, [this] { SavePicture2_Click(); });
  connect(EvaluateTraining, &QPushButton::clicked, this, [this] { EvaluateTraining_Click(); });
  connect(SaveErrorMap, &QPushButton::clicked, this, [this] { SaveErrorMap_Click(); });
  connect(HeightErrors, &QPushButton::clicked, this, [this] { HeightErrors_Click(); });
  connect(&Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
  connect(&poll_, &QTimer::timeout, this, [this] { pollTraining(); });
  // Enter in a rotation box tones; no other button is pressed by Enter, least of
  // all the training.
  for (QPushButton* b : findChildren<QPushButton*>()) b->setAutoDefault(false);
  Command1->setDefault(true);
}

void Статистика::Form_Load() {
  view_.ToningScale = 0.009;
  BackColourR = BackColourG = BackColourB = 225;
  const Colour back = Rgb(BackColourR, BackColourG, BackColourB);
  left_ = RasterSurface(kPictureWidth, kPictureHeight, back);
  right_ = RasterSurface(kPictureWidth, kPictureHeight, back);
  left_.clear();
  right_.clear();
  showPictures();
  view_.RotationX = view_.RotationY = view_.RotationZ = 0;
  Text1->setText(QStringLiteral("45"));
  Option1->setChecked(true);
  Timer1.start(100);
  refreshDataFolder();
  TrainingStatus->setText(Q("Обучение не запускалось."));
  showCircle();
  // The latest run of the progress log, as it was left.
  TrainingPlot->setPoints(ReadLatestRunEnergies(LearningFiles(ToStd(dataFolder())).progressLog, separator_));
}

void Статистика::showCircle() {
  const SphereCircle& c = state_.Circle;
  if (!c.exists()) {
    CircleLabel->setText(Q("Окружность шара не найдена."));
    return;
  }
  CircleLabel->setText(ToQt("Окружность шара: центр (" + FormatNumber(c.CircleCentreX, "0.00", separator_) + "; " +
                            FormatNumber(c.CircleCentreY, "0.00", separator_) + "), радиус " +
                            FormatNumber(c.CircleRadius, "0.00", separator_) + " точек изображения"));
}

void Статистика::rotationChanged(QLineEdit* box, double ToningView::*member) {
  // A box that does not hold a number leaves the angle as it was.
  if (auto v = ParseNumber(ToStd(box->text()), separator_)) view_.*member = *v * kPi / 180;
}

void Статистика::Text1_Change() { rotationChanged(Text1, &ToningView::RotationX); }
void Статистика::Text2_Change() { rotationChanged(Text2, &ToningView::RotationY); }
void Статистика::Text3_Change() { rotationChanged(Text3, &ToningView::RotationZ); }

void Статистика::Timer1_Timer() { Timer1.stop(); }

void Статистика::showPictures() {
  Picture1->setPixmap(QPixmap::fromImage(ToImage(left_)));
  Picture2->setPixmap(QPixmap::fromImage(ToImage(right_)));
}

void Статистика::Command1_Click() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // The sweep needs all three angles; an empty box counts as 0, anything else
  // that is not a number stops the sweep with a message.
  const std::array<QLineEdit*, 3> boxes{Text1, Text2, Text3};
  std::array<double, 3> angles{};
  for (int i = 0; i < 3; ++i) {
    const QString text = boxes[i]->text().trimmed();
    if (text.isEmpty()) continue;
    const auto v = ParseNumber(ToStd(text), separator_);
    if (!v) {
      QApplication::restoreOverrideCursor();
      static const char* const kAxes[3] = {"Ox", "Оy", "Оz"};
      ShowMessage(this, Message{std::string("Поворот наблюдения по ") + kAxes[i] + " должен быть числом градусов.",
                                "", MessageIcon::Exclamation});
      boxes[i]->setFocus();
      return;
    }
    angles[i] = *v;
  }
  view_.RotationX = angles[0] * kPi / 180;
  view_.RotationY = angles[1] * kPi / 180;
  view_.RotationZ = angles[2] * kPi / 180;
  view_.Ellipses = ellipses_ ? ellipses_() : false;

  Picture1->hide();
  Picture2->hide();
  ToningSweep(state_, view_, left_, right_);
  showPictures();
  Picture1->show();
  Picture2->show();
  QApplication::restoreOverrideCursor();
}

// ---- Data folder -------------------------------------------------------------

QString Статистика::dataFolder() const { return QString::fromStdString(DataFolder()); }

void Статистика::refreshDataFolder() {
  const QString folder = dataFolder();
  const LearningPaths paths = LearningFiles(ToStd(folder));
  const bool steps = QFileInfo::exists(QString::fromStdString(paths.steps));
  const bool weights = QFileInfo::exists(QString::fromStdString(paths.weights));
  QString text = Q("Папка данных: ") + folder;
  text += steps ? Q("\nФайл шагов есть") : Q("\nФайла шагов нет");
  text += weights ? Q(", файл весов есть.") : Q(", файла весов нет (обучение начнёт с начальных значений).");
  DataFolderLabel->setText(text);
  CreateStepsFile->setEnabled(!steps && !running_);
}

void Статистика::OpenDataFolder_Click() {
  const QString folder = dataFolder();
  if (!MakeFolder(folder, this)) return;
  openExternally(folder, "Не удалось открыть папку данных в файловом менеджере." + std::string(kCrLf) +
                             "Папка данных: " + ToStd(folder));
}

// xdg-open hands the file to the desktop's application and tells by its exit
// status whether one took it. Some openers run the application in the
// foreground, so the window does not wait: the status is checked when the
// opener ends, and the process outlives the window if need be.
void Статистика::openExternally(const QString& path, const std::string& failure) {
  auto* process = new QProcess;
  process->setStandardOutputFile(QProcess::nullDevice());
  process->setStandardErrorFile(QProcess::nullDevice());
  QPointer<Статистика> self(this);
  auto fail = [self, failure] {
    if (self) ShowMessage(self, Message{failure, "", MessageIcon::Exclamation});
  };
  QObject::connect(process, &QProcess::finished, process, [process, fail](int code, QProcess::ExitStatus status) {
    process->deleteLater();
    if (status != QProcess::NormalExit || code != 0) fail();
  });
  QObject::connect(process, &QProcess::errorOccurred, process, [process, fail](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;  // a crash also ends in finished()
    process->deleteLater();
    fail();
  });
  process->start(OpenerProgram(), {path});
}

bool Статистика::CreateStepsFile_Click() {
  const QString folder = dataFolder();
  if (!MakeFolder(folder, this)) return false;
  const LearningPaths paths = LearningFiles(ToStd(folder));
  bool ok = true;
  if (!QFileInfo::exists(QString::fromStdString(paths.steps))) {
    std::string error;
    ok = WriteFileAtomically(paths.steps, Utf8ToCp1251(StarterStepsText(separator_)), &error);
    if (!ok) ShowMessage(this, Message{error, "", MessageIcon::Exclamation});
  }
  refreshDataFolder();
  return ok;
}

// ---- Training ------------------------------------------------------------------

DirectionConvention Статистика::convention() const {
  return Option2->isChecked() ? DirectionConvention::HalfTurn : DirectionConvention::FullTurn;
}

void Статистика::setTrainingControls(bool running) {
  Command3->setEnabled(!running);
  CancelTraining->setEnabled(running);
  // These two read the weights file into the parameters the run is changing.
  Command4->setEnabled(!running);
  Command5->setEnabled(!running);
  EvaluateTraining->setEnabled(!running);
  HeightErrors->setEnabled(!running);
  CreateStepsFile->setEnabled(false);
  if (running) setCursor(Qt::BusyCursor);
  else unsetCursor();
}

void Статистика::Command3_Click() {
  if (running_) return;
  const QString folder = dataFolder();
  if (!MakeFolder(folder, this)) return;
  const LearningPaths paths = LearningFiles(ToStd(folder));
  if (!QFileInfo::exists(QString::fromStdString(paths.steps))) {
    const QString question = Q("В папке данных\n") + folder +
                             Q("\nнет файла шагов «Шаги.txt», без которого обучение не начинается.\n"
                               "Создать его с начальными значениями и начать обучение?");
    if (!Asker()(this, question)) return;
    if (!CreateStepsFile_Click()) return;
  }

  TrainingOptions opt;
  opt.files = paths;
  opt.decimalSeparator = separator_;
  opt.convention = convention();
  opt.acceptedLimit = acceptedLimit_;
  opt.clock = clock_;
  opt.cancel = &cancel_;
  opt.onProgress = [this](const TrainingSnapshot& s) {
    std::lock_guard<std::mutex> lock(progressMutex_);
    // One point per accepted iteration: the snapshot follows every iteration.
    if (s.accepted > latest_.accepted) pendingPoints_.push_back(EnergyPoint{s.accepted, s.energyA, s.energyB});
    latest_ = s;
  };
  opt.onWarning = [this](const Message& m) {
    std::lock_guard<std::mutex> lock(progressMutex_);
    latestWarning_ = m.text;
  };

  cancel_ = false;
  {
    std::lock_guard<std::mutex> lock(progressMutex_);
    latest_ = TrainingSnapshot{};
    latest_.acceptedLimit = acceptedLimit_;
    latestWarning_.clear();
    pendingPoints_.clear();
  }
  TrainingPlot->setPoints({});
  running_ = true;
  const int id = ++runId_;
  setTrainingControls(true);
  TrainingBar->setRange(0, static_cast<int>(std::min<long long>(acceptedLimit_, INT_MAX)));
  TrainingBar->setValue(0);
  elapsed_.start();
  pollTraining();
  poll_.start(100);

  worker_ = std::thread([this, opt, id] {
    TrainingResult result;
    try {
      result = RunTraining(state_, *session_, opt);
    } catch (const std::exception& e) {
      result = TrainingResult{};
      result.started = true;
      result.message = Message{std::string("Обучение прервано из-за ошибки: ") + e.what() + kCrLf +
                                   "В файле весов последнее принятое состояние.",
                               "", MessageIcon::Critical};
    }
    QMetaObject::invokeMethod(this, [this, result, id] { finishTraining(result, id); }, Qt::QueuedConnection);
  });
}

void Статистика::pollTraining() {
  TrainingSnapshot s;
  std::string warning;
  std::vector<EnergyPoint> points;
  {
    std::lock_guard<std::mutex> lock(progressMutex_);
    s = latest_;
    warning = latestWarning_;
    points.swap(pendingPoints_);
  }
  TrainingPlot->addPoints(points);
  TrainingBar->setValue(static_cast<int>(std::min<long long>(s.accepted, TrainingBar->maximum())));
  QString text = Q("Принято итераций: %1 из %2, вычислений сети: %3\n")
                     .arg(s.accepted)
                     .arg(acceptedLimit_)
                     .arg(s.evaluations);
  text += Q("Энергия А: %1   Энергия Б: %2\n")
              .arg(QString::fromStdString(FormatNumber(s.energyA, "0.0000", separator_)),
                   QString::fromStdString(FormatNumber(s.energyB, "0.0000", separator_)));
  text += Q("Время: ") + ElapsedText(elapsed_.isValid() ? elapsed_.elapsed() : 0);
  if (!warning.empty()) text += Q("\nПредупреждение: ") + ToQt(warning);
  TrainingStatus->setText(text);
}

void Статистика::finishTraining(const TrainingResult& result, int runId) {
  if (runId != runId_ || !running_) return;  // the run was already wound up on closing
  if (worker_.joinable()) worker_.join();
  running_ = false;
  poll_.stop();
  {
    std::lock_guard<std::mutex> lock(progressMutex_);
    latest_.accepted = result.accepted;
    latest_.evaluations = result.evaluations;
    latest_.energyA = result.energyAOld;
    latest_.energyB = result.energyBOld;
  }
  pollTraining();
  setTrainingControls(false);
  refreshDataFolder();
  lastResult_ = result;
  if (result.accepted > 0) {
    // The weights file holds the last accepted state: record what it was
    // learned on and show how well it does, before the closing message.
    recordWeightsOrigin();
    EvaluateTraining_Click(/*quiet=*/true);
  }
  if (!result.started) {
    TrainingStatus->setText(Q("Обучение не началось."));
    ShowMessage(this, result.message);
    return;
  }
  if (result.cancelled) {
    Message m = result.message;
    m.text = "Обучение остановлено после " + std::to_string(result.accepted) + " принятых итераций из " +
             std::to_string(acceptedLimit_) + "." + kCrLf + "В файле весов последнее принятое состояние." + kCrLf +
             kCrLf + result.message.text;
    ShowMessage(this, m);
    return;
  }
  ShowMessage(this, result.message);
}

void Статистика::CancelTraining_Click() {
  if (!running_) return;
  cancel_ = true;
  CancelTraining->setEnabled(false);
}

bool Статистика::waitTrainingDone(int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (running_ && t.elapsed() < timeoutMs) QApplication::processEvents(QEventLoop::AllEvents, 20);
  return !running_;
}

void Статистика::stopTraining() {
  if (!running_) return;
  cancel_ = true;
  if (worker_.joinable()) worker_.join();
  ++runId_;  // the queued end of the run is ignored
  running_ = false;
  poll_.stop();
  setTrainingControls(false);
  refreshDataFolder();
  recordWeightsOrigin();
}

void Статистика::recordWeightsOrigin() {
  const std::string folder = ToStd(dataFolder());
  if (!QFileInfo::exists(QString::fromStdString(LearningFiles(folder).weights))) return;
  std::string error;
  if (!WriteWeightsOrigin(WeightsOriginPath(folder), OriginOf(state_), &error))
    ShowMessage(this, Message{error, "", MessageIcon::Exclamation});
}

// ---- Judging the learned height ------------------------------------------------

bool Статистика::EvaluateTraining_Click(bool quiet) {
  if (running_) return false;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const std::string folder = ToStd(dataFolder());
  HeightEvaluation e = EvaluateWeightsFile(state_, LearningFiles(folder).weights, separator_);
  QApplication::restoreOverrideCursor();
  if (!e.ok) {
    const Message m = e.message.value_or(Message{"Оценка не удалась.", "", MessageIcon::Exclamation});
    EvaluationText->setText(Q("Оценки нет: ") + ToQt(m.text).replace(Q("\r\n"), Q(" ")));
    ErrorMapPicture->clear();
    SaveErrorMap->setEnabled(false);
    evaluation_.reset();
    if (!quiet) ShowMessage(this, m);
    return false;
  }
  QString text = ToQt(SummaryText(e.summary, separator_));
  const std::string note = OriginNote(ReadWeightsOrigin(WeightsOriginPath(folder)), OriginOf(state_), separator_);
  if (!note.empty()) text += Q("\n\n") + ToQt(note);
  EvaluationText->setText(text);
  errorMap_ = DrawErrorMap(state_.Circle, e.cells, 150);
  ErrorMapPicture->setPixmap(QPixmap::fromImage(ToImage(errorMap_)));
  SaveErrorMap->setEnabled(true);
  evaluation_ = std::move(e);
  return true;
}

void Статистика::HeightErrors_Click() {
  if (!evaluation_ && !EvaluateTraining_Click()) return;
  ExportResult r = ExportHeightErrors(evaluation_->cells);
  if (r.ok) showSheet(std::make_shared<Sheet>(std::move(r.sheet)), Q("Ошибки распознавания высот"));
  if (r.message) ShowMessage(this, *r.message);
}

// ---- Saving pictures ---------------------------------------------------------------

bool Статистика::SavePicture(const RasterSurface& picture, const QString& path) {
  // QSaveFile writes a temporary file beside the target and renames it over
  // the target only on commit, so a failed write leaves the old file.
  QSaveFile file(path);
  QImageWriter writer(&file, "png");
  QString reason;
  if (!file.open(QIODevice::WriteOnly)) reason = file.errorString();
  else if (!writer.write(ToImage(picture))) reason = writer.errorString();
  else if (!file.commit()) reason = file.errorString();
  if (reason.isEmpty()) return true;
  file.cancelWriting();
  ShowMessage(this, Message{"Не удалось сохранить картинку " + ToStd(path) + ":" + kCrLf + ToStd(reason), "",
                            MessageIcon::Exclamation});
  return false;
}

QString Статистика::askSavePath(const QString& caption, const QString& name, const QString& filter) {
  const QString suggested =
      QDir(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation)).filePath(name);
  return SavePathAsker()(this, caption, suggested, filter);
}

void Статистика::SavePicture1_Click() {
  QString path = askSavePath(Q("Сохранить левую картинку"), Q("тонирование.png"), Q("Картинка PNG (*.png)"));
  if (path.isEmpty()) return;
  if (!path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) path += QStringLiteral(".png");
  SavePicture(left_, path);
}

void Статистика::SavePicture2_Click() {
  QString path = askSavePath(Q("Сохранить правую картинку"), Q("тонирование, окрестность.png"),
                             Q("Картинка PNG (*.png)"));
  if (path.isEmpty()) return;
  if (!path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) path += QStringLiteral(".png");
  SavePicture(right_, path);
}

void Статистика::SaveErrorMap_Click() {
  if (!evaluation_) return;
  QString path = askSavePath(Q("Сохранить карту ошибок"), Q("карта ошибок.png"), Q("Картинка PNG (*.png)"));
  if (path.isEmpty()) return;
  if (!path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) path += QStringLiteral(".png");
  SavePicture(errorMap_, path);
}

// Closing the window (its close box or Esc) while a run goes on asks first and
// then stops the run.
void Статистика::reject() {
  if (running_) {
    if (!Asker()(this, Q("Идёт обучение. Остановить его и закрыть окно?\n"
                         "В файле весов останется последнее принятое состояние.")))
      return;
    stopTraining();
  }
  QDialog::reject();
}

// ---- Exports -------------------------------------------------------------------

void Статистика::showSheet(std::shared_ptr<Sheet> sheet, const QString& name) {
  sheet_ = std::move(sheet);
  sheetName_ = name;
  OLE1->setSheet(sheet_, separator_);
  SheetCaption->setText(Q("Лист Microsoft Excel: ") + name);
  SaveSheet->setEnabled(XlsxWriterAvailable());
  OpenSheet->setEnabled(XlsxWriterAvailable());
}

void Статистика::Command5_Click() {
  if (running_) return;
  const LearningPaths paths = LearningFiles(ToStd(dataFolder()));
  ExportResult r = ExportLearningCoefficients(session_->Parameters, paths.weights, separator_);
  if (r.ok) showSheet(std::make_shared<Sheet>(std::move(r.sheet)), Q("Коэффициенты обучения"));
  if (r.message) ShowMessage(this, *r.message);
}

void Статистика::ЭкспортВExcel1_Click() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  ExportResult r = ExportSphereCells(state_, convention());
  if (r.ok) showSheet(std::make_shared<Sheet>(std::move(r.sheet)), Q("Точки шара в 8 столбцах"));
  QApplication::restoreOverrideCursor();
  if (r.message) ShowMessage(this, *r.message);
}

void Статистика::Command4_Click() {
  if (running_) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const LearningPaths paths = LearningFiles(ToStd(dataFolder()));
  ExportResult r = ExportRecognisedHeights(state_, session_->Parameters, paths.weights, separator_, convention());
  if (r.ok) showSheet(std::make_shared<Sheet>(std::move(r.sheet)), Q("Распознанные высоты"));
  QApplication::restoreOverrideCursor();
  if (r.message) ShowMessage(this, *r.message);
}

bool Статистика::SaveSheetAs(const QString& path) {
  if (!sheet_) {
    ShowMessage(this, Message{"Лист пуст: сначала выберите одну из выгрузок в Excel.", "", MessageIcon::Exclamation});
    return false;
  }
  std::string error;
  if (!WriteXlsx(*sheet_, ToStd(path), &error)) {
    ShowMessage(this, Message{"Не удалось сохранить книгу " + ToStd(path) + ":" + kCrLf + error, "",
                              MessageIcon::Exclamation});
    return false;
  }
  return true;
}

void Статистика::SaveSheet_Click() {
  if (!sheet_) return;
  const QString suggested = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                                .filePath(sheetName_ + QStringLiteral(".xlsx"));
  QString path = SavePathAsker()(this, Q("Сохранить лист"), suggested, Q("Книга Excel (*.xlsx)"));
  if (path.isEmpty()) return;
  if (!path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive)) path += QStringLiteral(".xlsx");
  if (SaveSheetAs(path))
    ShowMessage(this, Message{"Книга сохранена:" + std::string(kCrLf) + ToStd(path), "", MessageIcon::Information});
}

bool Статистика::OpenSheet_Click() {
  if (!sheet_) return false;
  // The workbook goes to a folder of its own among the temporary files; the
  // spreadsheet application may keep it open after this window is gone.
  const QString folder = QDir(QDir::tempPath()).filePath(QStringLiteral("polarsphere-sheets"));
  if (!QDir().mkpath(folder)) {
    ShowMessage(this, Message{"Не удаётся создать папку " + ToStd(folder) + ".", "", MessageIcon::Exclamation});
    return false;
  }
  const QString path = QDir(folder).filePath(sheetName_ + QStringLiteral(".xlsx"));
  if (!SaveSheetAs(path)) return false;
  openExternally(path, "Не найдено приложение, открывающее книги .xlsx." + std::string(kCrLf) +
                           "Книга сохранена в " + ToStd(path) + ".");
  return true;
}

// ---- Opening from the analysis window ---------------------------------------------

void OpenStatisticsWindow(QWidget* owner, AppState& state) {
  // Parameters, settings, change memory and the random generator outlive one
  // opening of the window, for the whole run of the program.
  static const std::shared_ptr<TrainingSession> session = std::make_shared<TrainingSession>();
  std::function<bool()> ellipses;
  if (auto* form = dynamic_cast<ExportForm*>(owner)) ellipses = [form] { return form->Check2->isChecked(); };
  Статистика window(state, session, owner, ellipses);
  window.exec();
}

}  // namespace ps::ui
