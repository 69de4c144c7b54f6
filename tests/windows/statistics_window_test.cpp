// The statistics window on the bundled sample set: start-up values, the
// rotation boxes, the toning sweep and its saved pictures, training runs on the
// worker thread (to the end with the energy plot and the figures of the learned
// height, refused, cancelled, stopped by closing), the exports shown in the
// embedded sheet and saved as workbooks read back by openpyxl, and the desktop
// opener whose failure the window reports.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "export/exports.h"
#include "export/xlsx_writer.h"
#include "imageio/bmp.h"
#include "learning/files.h"
#include "learning/training.h"
#include "polarization/polarization.h"
#include "sphere/detection_settings.h"
#include "state/number_format.h"
#include "learning/evaluation.h"
#include "windows/energy_plot.h"
#include "windows/export_form.h"
#include "windows/picture_button.h"
#include "windows/sheet_view.h"
#include "windows/statistics_window.h"
#include "windows/window_test_support.h"
#include "windows/zoom_picture.h"

using ps::ui::Статистика;

namespace {

QString Q(const char* s) { return QString::fromUtf8(s); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A clock that stands still at 12:03:20 on the 6th: no ten-minute mark and no
// seven-minute rule, so a run depends on the seed alone.
ps::ClockReading StillClock() { return ps::ClockReading{6, 12, 3, 20}; }

// Cells of a workbook as openpyxl reads them: address -> {kind, value, format}.
// `skipped` when openpyxl is not installed (the reader exits with 3).
struct ReadBook {
  bool ok = false, skipped = false;
  QString dimensions;
  std::map<QString, QStringList> cells;
  QString value(const QString& a) const { return cells.count(a) ? cells.at(a).value(1) : QString(); }
  QString format(const QString& a) const { return cells.count(a) ? cells.at(a).value(2) : QString(); }
};

ReadBook ReadWithOpenpyxl(const QString& path) {
  ReadBook book;
  QProcess p;
  p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(PS_TESTS_DIR "/export/read_xlsx.py"), path});
  if (!p.waitForFinished(60000) || (book.skipped = p.exitCode() == 3) || p.exitCode() != 0) return book;
  for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n')) {
    const QStringList f = line.split('\t');
    if (f.value(0) == QStringLiteral("SHEET")) book.dimensions = f.value(2);
    if (f.value(0) == QStringLiteral("CELL") && f.size() >= 5) book.cells[f[1]] = f.mid(2, 3);
  }
  book.ok = true;
  return book;
}

// Saves the window's sheet as `name` and reads it back into `book`; skips the
// test without the workbook writer or openpyxl.
#define SAVE_AND_READ_BACK(w, name, book)                                      \
  if (!ps::XlsxWriterAvailable()) QSKIP("built without the workbook writer"); \
  QTemporaryDir out;                                                           \
  QVERIFY(w->SaveSheetAs(out.filePath(Q(name))));                              \
  const ReadBook book = ReadWithOpenpyxl(out.filePath(Q(name)));               \
  if (book.skipped) QSKIP("openpyxl is not installed");                        \
  QVERIFY(book.ok)

// Independent ray of the toning: where the ray of screen point (x, z) meets the
// unit sphere first, written from the geometry (rotation about x, y, z of both
// ray ends, line parametrised by y). Empty when it misses or the point is on
// the unseen half.
std::optional<std::array<double, 3>> ExpectedHit(double rx, double ry, double rz, double x, double z) {
  const double k = 0.009;
  std::array<double, 3> P{x * k, 10 * k, z * k}, Q{x * k, -10 * k, z * k};
  // Turns the (i, j) plane by t: about x is (y, z), about y (z, x), about z (x, y).
  auto turn = [](std::array<double, 3>& p, int i, int j, double t) {
    const double a = p[i] * std::cos(t) - p[j] * std::sin(t), b = p[i] * std::sin(t) + p[j] * std::cos(t);
    p[i] = a;
    p[j] = b;
  };
  for (auto* p : {&P, &Q}) {
    turn(*p, 1, 2, rx);
    turn(*p, 2, 0, ry);
    turn(*p, 0, 1, rz);
  }
  const double dx = Q[0] - P[0], dy = Q[1] - P[1], dz = Q[2] - P[2];
  const double a = dx / dy, b = dz / dy, p = P[0] - P[1] * a, q = P[2] - P[1] * b;
  const double A = a * a + b * b + 1, B = 2 * (q * b + p * a), C = p * p + q * q - 1;
  const double D = B * B - 4 * A * C;
  if (D < 0) return std::nullopt;
  const double y1 = (-B + std::sqrt(D)) / 2 / A;
  const double x1 = P[0] + (y1 - P[1]) * a, z1 = P[2] + (y1 - P[1]) * b;
  if (z1 < 0) return std::nullopt;
  return std::array<double, 3>{x1, y1, z1};
}

}  // namespace

class StatisticsWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dataDir_;
  QTemporaryDir openerDir_;  // the stand-in openers and what they were given
  ps::AppState state_;
  wt::Messages* messages_ = nullptr;
  bool answer_ = true;
  int questions_ = 0;
  QString savePath_;  // what the save dialog answers

  // Paths the stand-in opener was given, in order.
  QStringList Opened() const {
    QFile f(openerDir_.filePath(Q("opened.txt")));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
  }
  // An opener that records its argument and exits with `status`.
  QString Opener(int status) {
    const QString path = openerDir_.filePath(QString("opener-%1.sh").arg(status));
    QFile f(path);
    if (!f.exists()) {
      f.open(QIODevice::WriteOnly);
      f.write(QString("#!/bin/sh\necho \"$1\" >> '%1'\nexit %2\n").arg(openerDir_.filePath(Q("opened.txt"))).arg(status).toUtf8());
      f.close();
      f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    return path;
  }

  std::unique_ptr<Статистика> NewWindow() {
    auto w = std::make_unique<Статистика>(state_, std::make_shared<ps::TrainingSession>());
    w->setDecimalSeparator(",");
    w->setClock(StillClock);
    return w;
  }
  // A fresh window over an empty data folder, with the starter steps file when `steps`.
  std::unique_ptr<Статистика> NewWindowInEmptyFolder(bool steps) {
    ClearDataFolder();
    auto w = NewWindow();
    if (steps) [&] { QVERIFY(w->CreateStepsFile_Click()); }();
    return w;
  }
  ps::LearningPaths Files() const { return ps::LearningFiles(ps::DataFolder()); }
  void ClearDataFolder() {
    QDir d(dataDir_.path());
    for (const QString& f : d.entryList(QDir::Files | QDir::Hidden)) d.remove(f);
  }

 private slots:
  void initTestCase() {
    QVERIFY(dataDir_.isValid());
    qputenv("POLARSPHERE_DATA_DIR", dataDir_.path().toUtf8());
    // Workbooks opened in the spreadsheet application go to the temporary
    // folder: keep them inside the test's own folder.
    QVERIFY(QDir(dataDir_.path()).mkpath(QStringLiteral("tmp")));
    qputenv("TMPDIR", (dataDir_.path() + QStringLiteral("/tmp")).toUtf8());
    messages_ = new wt::Messages;
    Статистика::Asker() = [this](QWidget*, const QString&) {
      ++questions_;
      return answer_;
    };
    Статистика::SavePathAsker() = [this](QWidget*, const QString&, const QString&, const QString&) {
      return savePath_;
    };

    const std::string dir = PS_SAMPLE_DIR;
    const auto loaded = ps::LoadSet(state_, {dir + "/0.bmp", dir + "/45.bmp", dir + "/90.bmp", dir + "/135.bmp"});
    QVERIFY(loaded.ok);
    QVERIFY(ps::ЗаполнениеМассива(state_));
    const ps::PresetKernels gauss = ps::PresetValues(ps::KernelPreset::Gauss);
    state_.Detection.WeightKernel = gauss.weight;
    state_.Circle = ps::SphereCircle{166, 118, 79};
  }

  void cleanupTestCase() { delete messages_; }

  void init() {
    messages_->Take();
    answer_ = true;
    questions_ = 0;
    QFile::remove(openerDir_.filePath(Q("opened.txt")));
    Статистика::OpenerProgram() = Opener(0);
  }

  void sphereButtonOpensTheWindowModally() {
    ps::AppState state;
    ps::ui::ExportForm form(state);
    form.OpenSample();
    QVERIFY(form.waitIdle());
    state.Circle = ps::SphereCircle{166, 118, 79};
    ps::ui::ExportForm::StatisticsOpener() = ps::ui::OpenStatisticsWindow;
    form.Check2->setChecked(true);

    // What the window keeps lives from one opening to the next; the toning
    // follows the analysis window's ellipse check box.
    std::vector<ps::TrainingSession*> sessions;
    std::vector<bool> coloured;
    for (int opening = 0; opening < 2; ++opening) {
      wt::WhenModal<Статистика>([&](Статистика* w) {
        sessions.push_back(&w->session());
        w->Command1_Click();
        const ps::Colour c = w->picture1Surface().pixel(148, 60);
        coloured.push_back(ps::RedOf(c) != ps::GreenOf(c) || ps::GreenOf(c) != ps::BlueOf(c));
        w->reject();
      });
      form.Image19->trigger();
      form.Check2->setChecked(false);
    }
    ps::ui::ExportForm::StatisticsOpener() = {};
    QCOMPARE(sessions.size(), size_t(2));
    QCOMPARE(sessions[0], sessions[1]);
    QCOMPARE(coloured, (std::vector<bool>{true, false}));
  }

  void startUpValuesAndControls() {
    auto w = NewWindow();
    QCOMPARE(w->view().RotationX, 45 * 3.14159 / 180);
    QVERIFY(w->Option1->isChecked() && !w->Option2->isChecked());
    const std::pair<QString, const char*> captions[] = {
        {w->windowTitle(), "Экспорт в Excel"}, {w->Text1->text(), "45"}, {w->Command3->text(), "Обучение нейросети"},
        {w->Command1->text(), "Тонировать"}, {w->Command4->text(), "Результат распознавания высот в Excel"},
        {w->Command5->text(), "Коэффициенты обучения в Excel"}, {w->ЭкспортВExcel1->text(), "Экспорт в Excel в 5 столбцов"},
        {w->Command2->text(), "Экспорт в Excel в таблицу градусов"}, {w->Option1->text(), "Направление от 0 до 2п"},
        {w->Option2->text(), "Направление от -п/2 до п/2"}, {w->Check1->text(), "Половину шара"},
        {w->Label1->text(), "Поворот наблюдения по Ox"}, {w->Label2[0]->text(), "           по Оy"},
        {w->Label2[1]->text(), "          по Оz"}, {w->Label2[2]->text(), ""},
        {w->SaveSheet->text(), "Сохранить как .xlsx"}, {w->OpenSheet->text(), "Открыть в табличном редакторе"}};
    for (const auto& [got, want] : captions) QCOMPARE(got, Q(want));
    QVERIFY(!w->SaveSheet->isEnabled());
    // Both pictures start as their background.
    QCOMPARE(QSize(w->picture1Surface().width(), w->picture1Surface().height()), QSize(297, 244));
    QCOMPARE(w->picture2Surface().pixel(150, 120), ps::Rgb(225, 225, 225));
    // The data folder in use is shown and opens in the file manager.
    QVERIFY(w->DataFolderLabel->text().contains(dataDir_.path()));
    w->OpenDataFolder->click();
    QTRY_COMPARE(Opened(), QStringList{dataDir_.path()});
    QVERIFY(messages_->Take().empty());
    // The circle it works on, two decimals.
    QCOMPARE(w->CircleLabel->text(), Q("Окружность шара: центр (166,00; 118,00), радиус 79,00 точек изображения"));
    // Timer1 stops on its first tick.
    QVERIFY(w->Timer1.isActive());
    QTRY_VERIFY(!w->Timer1.isActive());
  }

  void rotationBoxes() {
    auto w = NewWindow();
    w->Text2->setText(Q("30"));
    QCOMPARE(w->view().RotationY, 30 * 3.14159 / 180);
    w->Text3->setText(Q("-12,5"));
    QCOMPARE(w->view().RotationZ, -12.5 * 3.14159 / 180);
    // Not a number: the angle stays, no message.
    w->Text2->setText(Q("3x"));
    QCOMPARE(w->view().RotationY, 30 * 3.14159 / 180);
    QVERIFY(messages_->Take().empty());
    // Enter in a rotation box tones and never starts a training run.
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->Text2->setText(Q("30"));
    w->Text1->setFocus();
    QTest::keyClick(w->Text1, Qt::Key_Return);
    QVERIFY(!w->training());
    const ps::Colour toned = w->picture1Surface().pixel(148, 80);
    QVERIFY(toned != ps::Rgb(225, 225, 225));
    // The toning sweep refuses a box that is not a number and leaves the pictures.
    w->Text1->setText(Q("-60"));
    w->Text2->setText(Q("3x"));
    w->Command1_Click();
    const auto seen = messages_->Take();
    QCOMPARE(seen.size(), size_t(1));
    QVERIFY(QString::fromStdString(seen[0].text).contains(Q("Оy")));
    QCOMPARE(w->picture1Surface().pixel(148, 80), toned);
  }

  void toningPaintsTheVisibleHalf_data() {
    QTest::addColumn<QString>("x");
    QTest::addColumn<QString>("y");
    QTest::addColumn<QString>("z");
    QTest::newRow("straight") << "0" << "0" << "0";
    QTest::newRow("start view") << "45" << "" << "";
    QTest::newRow("turned") << "30" << "20" << "15";
  }

  void toningPaintsTheVisibleHalf() {
    QFETCH(QString, x);
    QFETCH(QString, y);
    QFETCH(QString, z);
    auto w = NewWindow();
    w->Text1->setText(x);
    w->Text2->setText(y);
    w->Text3->setText(z);
    w->Command1->click();
    QVERIFY(messages_->Take().empty());

    const auto& left = w->picture1Surface();
    const int W = left.width(), H = left.height();
    const double rx = x.toDouble() * 3.14159 / 180, ry = y.toDouble() * 3.14159 / 180,
                 rz = z.toDouble() * 3.14159 / 180;
    int expected = 0, mismatched = 0, belowMiddle = 0;
    for (int cx = 0; cx < W; ++cx)
      for (int cy = 1; cy <= H; ++cy) {
        const int sy = H - cy;
        const auto hit = ExpectedHit(rx, ry, rz, cx - W / 2.0, cy - H / 2.0);
        const bool got = left.pixel(cx, sy) != ps::Rgb(225, 225, 225);
        expected += hit.has_value();
        if (got && cy - H / 2.0 < 0) ++belowMiddle;  // painted below the picture's middle
        if (hit.has_value() != got) ++mismatched;
        if (hit && got && !(std::fabs((*hit)[0]) <= 0.001 && std::fabs((*hit)[1]) <= 0.001)) {
          // The grey of the sphere point's own pixel (ellipses are off).
          state_.Current = ps::PixelValues{};
          ps::ОпределениеИнтенсивностей(state_, static_cast<int>(std::floor(79 * (*hit)[0] + 166)),
                                        static_cast<int>(std::floor(79 * (*hit)[1] + 118)));
          const int g = static_cast<int>(std::floor(state_.Current.A0));
          QCOMPARE(left.pixel(cx, sy), ps::Rgb(g, g, g));
        }
      }
    QVERIFY2(expected > 15000, qPrintable(QString::number(expected)));
    // Exactly the pixels whose ray meets the seen half are painted (no sphere
    // point of the sample set has the background's grey 225).
    QVERIFY2(mismatched == 0, qPrintable(QString("%1 of %2").arg(mismatched).arg(expected)));
    if (x == "0" && y == "0" && z == "0") QCOMPARE(belowMiddle, 0);
    else QVERIFY(belowMiddle > 1000);
  }

  void toningWithEllipsesPaintsColours() {
    Статистика w(state_, std::make_shared<ps::TrainingSession>(), nullptr, [] { return true; });
    w.Command1_Click();
    int coloured = 0;
    const auto& right = w.picture2Surface();
    for (int x = 0; x < right.width(); x += 3)
      for (int y = 0; y < right.height(); y += 3) {
        const ps::Colour c = right.pixel(x, y);
        if (ps::RedOf(c) != ps::GreenOf(c) || ps::GreenOf(c) != ps::BlueOf(c)) ++coloured;
      }
    QVERIFY(coloured > 500);
  }

  void trainingOffersStarterStepsFileAndRunsToTheEnd() {
    auto w = NewWindowInEmptyFolder(false);
    QVERIFY(w->CreateStepsFile->isEnabled());
    // Declining the starter file starts nothing.
    answer_ = false;
    w->Command3->click();
    QCOMPARE(questions_, 1);
    QVERIFY(!w->training());
    QVERIFY(!QFile::exists(QString::fromStdString(Files().steps)));

    answer_ = true;
    w->setAcceptedLimit(4);
    w->Command3->click();
    QVERIFY(w->training());  // the run goes on after the handler returned
    QVERIFY(!w->Command3->isEnabled());
    QVERIFY(w->CancelTraining->isEnabled());
    QVERIFY(!w->Command5->isEnabled());
    QVERIFY(w->waitTrainingDone());
    QVERIFY(QFile::exists(QString::fromStdString(Files().steps)));
    QVERIFY(w->lastTraining().has_value());
    const ps::TrainingResult& r = *w->lastTraining();
    QVERIFY(r.started && !r.cancelled);
    QCOMPARE(r.accepted, 4LL);
    QCOMPARE(w->TrainingBar->value(), 4);
    QVERIFY(w->TrainingStatus->text().contains(Q("Принято итераций: 4 из 4")));
    QVERIFY(w->Command3->isEnabled() && !w->CancelTraining->isEnabled());

    // The plot holds one point per accepted iteration, the last one the state
    // the run ended with.
    const std::vector<ps::EnergyPoint> points = w->TrainingPlot->points();
    QCOMPARE(points.size(), size_t(4));
    for (size_t i = 0; i < points.size(); ++i) QCOMPARE(points[i].iteration, static_cast<long long>(i) + 1);
    QCOMPARE(points.back().energyA, r.energyAOld);
    QCOMPARE(points.back().energyB, r.energyBOld);
    // The figures of the learned height for the weights file the run left,
    // learned on this circle and set (so no note follows them).
    const ps::HeightEvaluation judged = ps::EvaluateWeightsFile(state_, Files().weights, ",");
    QVERIFY(judged.ok);
    QCOMPARE(w->EvaluationText->text(), QString::fromStdString(ps::SummaryText(judged.summary, ",")));
    QVERIFY(w->EvaluationText->text().startsWith(Q("Точек внутри шара: %1\n").arg(judged.summary.cells)));
    QVERIFY(!w->ErrorMapPicture->pixmap().isNull() && w->SaveErrorMap->isEnabled());
    // A window opened later draws the same run from the progress log (energies
    // written with three decimals).
    auto again = NewWindow();
    const std::vector<ps::EnergyPoint> logged = again->TrainingPlot->points();
    QCOMPARE(logged.size(), points.size());
    for (size_t i = 0; i < logged.size(); ++i) {
      QCOMPARE(logged[i].iteration, points[i].iteration);
      QVERIFY(std::fabs(logged[i].energyA - points[i].energyA) <= 0.0005);
      QVERIFY(std::fabs(logged[i].energyB - points[i].energyB) <= 0.0005);
    }

    // The closing message.
    const auto seen = messages_->Take();
    QCOMPARE(seen.size(), size_t(1));
    QVERIFY(QString::fromStdString(seen[0].text).startsWith(Q("ЭнергияСтараяА+Б=")));
    QCOMPARE(seen[0].text, ps::ClosingMessageText(r.energyAOld, r.energyBOld, r.energyA, r.energyB,
                                                  w->session().Settings.Temperature, ","));

    // The weights file holds the last accepted state and reads back.
    ps::NetworkParameters read;
    QVERIFY(ps::ReadWeightsFile(Files().weights, read, ",").ok);

    // The same run on one thread without the window writes the same files.
    QTemporaryDir other;
    const ps::LearningPaths alone = ps::LearningFiles(other.path().toStdString());
    QVERIFY(QFile::copy(QString::fromStdString(Files().steps), QString::fromStdString(alone.steps)));
    ps::TrainingSession session;
    ps::TrainingOptions opt;
    opt.files = alone;
    opt.decimalSeparator = ",";
    opt.acceptedLimit = 4;
    opt.clock = StillClock;
    opt.threads = 1;
    const ps::TrainingResult direct = ps::RunTraining(state_, session, opt);
    QCOMPARE(direct.accepted, 4LL);
    QCOMPARE(direct.evaluations, r.evaluations);
    QVERIFY(ReadFile(alone.weights) == ReadFile(Files().weights));
    QVERIFY(ReadFile(alone.progressLog) == ReadFile(Files().progressLog));
    QVERIFY(session.Parameters == w->session().Parameters);
  }

  void evaluationOnDemandSaysWhenTheWeightsBelongElsewhere() {
    auto w = NewWindowInEmptyFolder(false);
    // No weights file: the reason, in a box and in the figures' place.
    QVERIFY(!w->EvaluateTraining_Click());
    QCOMPARE(messages_->Take().size(), size_t(1));
    QVERIFY(w->EvaluationText->text().startsWith(Q("Оценки нет")));
    QVERIFY(!w->SaveErrorMap->isEnabled());

    ps::NetworkParameters p;
    p.Смещение = 0.4;
    QVERIFY(ps::WriteWeightsFile(Files().weights, p, ps::RunFigures{}, ","));
    // Weights with no record of their circle, then recorded for another one.
    w->EvaluateTraining->click();
    QVERIFY(w->EvaluationText->text().contains(Q("Неизвестно, для какой окружности")));
    ps::WeightsOrigin other = ps::OriginOf(state_);
    other.circle.CircleRadius = 70;
    QVERIFY(ps::WriteWeightsOrigin(ps::WeightsOriginPath(Files().folder), other));
    w->EvaluateTraining->click();
    QVERIFY2(w->EvaluationText->text().contains(Q("записан для другой окружности")), qPrintable(w->EvaluationText->text()));
    QVERIFY(messages_->Take().empty());

    // The fourth sheet: one row per inside cell under the titles.
    w->HeightErrors->click();
    QCOMPARE(w->sheetName(), Q("Ошибки распознавания высот"));
    const std::vector<ps::HeightCell>& cells = w->lastEvaluation()->cells;
    QCOMPARE(w->sheet()->UsedRange().lastRow, static_cast<int>(cells.size()) + 1);
    QCOMPARE(w->sheet()->Value(2, 5).number, cells[0].output - cells[0].target);
    QCOMPARE(w->OLE1->shownText(1, 5), Q("y − h"));

    // The error map is saved as shown.
    QTemporaryDir pictures;
    savePath_ = pictures.filePath(Q("карта"));
    w->SaveErrorMap->click();
    QCOMPARE(QImage(pictures.filePath(Q("карта.png"))).convertToFormat(QImage::Format_RGB888),
             ps::ui::ToImage(w->errorMap()).convertToFormat(QImage::Format_RGB888));
    SAVE_AND_READ_BACK(w, "ошибки.xlsx", book);
    QCOMPARE(book.dimensions, QString("A1:E%1").arg(cells.size() + 1));
  }

  void picturesAndWorkbooksAreSavedOrTheFailureNamed() {
    auto w = NewWindowInEmptyFolder(false);
    w->Command1_Click();
    QTemporaryDir pictures;
    savePath_ = pictures.filePath(Q("левая"));
    w->SavePicture1->click();
    savePath_ = pictures.filePath(Q("правая.png"));
    w->SavePicture2->click();
    QVERIFY(messages_->Take().empty());
    QCOMPARE(QImage(pictures.filePath(Q("левая.png"))).convertToFormat(QImage::Format_RGB888),
             ps::ui::ToImage(w->picture1Surface()).convertToFormat(QImage::Format_RGB888));
    QCOMPARE(QImage(pictures.filePath(Q("правая.png"))).convertToFormat(QImage::Format_RGB888),
             ps::ui::ToImage(w->picture2Surface()).convertToFormat(QImage::Format_RGB888));
    // Cancelled: nothing happens. Unwritable: the message names the file.
    savePath_.clear();
    w->SavePicture1->click();
    QVERIFY(messages_->Take().empty());
    QVERIFY(!w->SavePicture(w->picture1Surface(), Q("/nonexistent-folder/x.png")));
    auto seen = messages_->Take();
    QCOMPARE(seen.size(), size_t(1));
    QVERIFY(QString::fromStdString(seen[0].text).contains(Q("/nonexistent-folder/x.png")));

    // A saved workbook is confirmed with its path; a failed one named.
    QVERIFY(ps::WriteWeightsFile(Files().weights, ps::NetworkParameters{}, ps::RunFigures{}, ","));
    w->Command5->click();
    QVERIFY(messages_->Take().empty());
    if (!ps::XlsxWriterAvailable()) QSKIP("built without the workbook writer");
    savePath_ = pictures.filePath(Q("книга"));
    w->SaveSheet->click();
    seen = messages_->Take();
    QCOMPARE(seen.size(), size_t(1));
    QCOMPARE(QString::fromStdString(seen[0].text), Q("Книга сохранена:\r\n") + pictures.filePath(Q("книга.xlsx")));
    QVERIFY(QFile::exists(pictures.filePath(Q("книга.xlsx"))));
    savePath_ = Q("/nonexistent-folder/книга.xlsx");
    w->SaveSheet->click();
    seen = messages_->Take();
    QCOMPARE(seen.size(), size_t(1));
    QVERIFY(QString::fromStdString(seen[0].text).startsWith(Q("Не удалось сохранить книгу /nonexistent-folder/книга.xlsx")));
  }

  void desktopOpenerFailureIsReported() {
    auto w = NewWindowInEmptyFolder(false);
    // The opener ran and said no application took the folder.
    Статистика::OpenerProgram() = Opener(4);
    w->OpenDataFolder->click();
    QTRY_COMPARE(messages_->seen.size(), size_t(1));
    auto seen = messages_->Take();
    QVERIFY(QString::fromStdString(seen[0].text).contains(Q("Папка данных: ") + dataDir_.path()));
    QCOMPARE(Opened(), QStringList{dataDir_.path()});
    // No opener installed at all.
    Статистика::OpenerProgram() = openerDir_.filePath(Q("no-such-opener"));
    w->OpenDataFolder->click();
    QTRY_COMPARE(messages_->seen.size(), size_t(1));
    messages_->Take();
    // A workbook no application takes: the message says where it was saved.
    QVERIFY(ps::WriteWeightsFile(Files().weights, ps::NetworkParameters{}, ps::RunFigures{}, ","));
    w->Command5->click();
    if (!ps::XlsxWriterAvailable()) QSKIP("built without the workbook writer");
    Статистика::OpenerProgram() = Opener(3);
    QVERIFY(w->OpenSheet_Click());
    QTRY_COMPARE(messages_->seen.size(), size_t(1));
    seen = messages_->Take();
    QVERIFY(QString::fromStdString(seen[0].text).contains(Q("Книга сохранена в ") + Opened().last()));
  }

  void trainingRefusalIsShown() {
    ClearDataFolder();
    QVERIFY(NewWindow()->CreateStepsFile_Click());
    // A steps file without a temperature refuses the run.
    std::ofstream(Files().steps, std::ios::binary) << "ШагИн(1) = 0,01\r\n";
    auto w = NewWindow();
    w->Command3->click();
    QVERIFY(w->waitTrainingDone());
    QVERIFY(!w->lastTraining()->started);
    const auto seen = messages_->Take();
    QCOMPARE(seen.size(), size_t(1));
    QVERIFY(!QFile::exists(QString::fromStdString(Files().weights)));
  }

  void cancelStopsARunAndLeavesAReadableWeightsFile() {
    auto w = NewWindowInEmptyFolder(true);
    QVERIFY(!w->CreateStepsFile->isEnabled());
    w->Command3->click();
    QCOMPARE(questions_, 0);  // the steps file exists: no question
    QVERIFY(w->training());
    // The window answers while the run goes on: the progress shows accepted iterations.
    QTRY_VERIFY_WITH_TIMEOUT(w->TrainingBar->value() >= 2, 60000);
    QCOMPARE(w->TrainingBar->maximum(), 19999);
    w->CancelTraining->click();
    QVERIFY(w->waitTrainingDone());
    const ps::TrainingResult& r = *w->lastTraining();
    QVERIFY(r.cancelled);
    QVERIFY(r.accepted >= 2 && r.accepted < 19999);
    const auto seen = messages_->Take();
    QCOMPARE(seen.size(), size_t(1));
    QVERIFY(QString::fromStdString(seen[0].text).startsWith(Q("Обучение остановлено после")));
    QVERIFY(QString::fromStdString(seen[0].text).contains(Q("ЭнергияСтараяА+Б=")));
    ps::NetworkParameters read;
    QVERIFY(ps::ReadWeightsFile(Files().weights, read, ",").ok);
    // The progress log has one line per accepted iteration.
    const std::string log = ReadFile(Files().progressLog);
    long long lines = 0;
    for (size_t at = 0; (at = log.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
    QCOMPARE(lines, r.accepted);
  }

  void closingDuringARunAsksAndStopsIt() {
    auto w = NewWindowInEmptyFolder(true);
    w->show();
    w->Command3->click();
    QTRY_VERIFY_WITH_TIMEOUT(w->TrainingBar->value() >= 1, 60000);
    answer_ = false;
    w->close();
    QCOMPARE(questions_, 1);
    QVERIFY(w->isVisible());
    QVERIFY(w->training());
    answer_ = true;
    w->close();
    QVERIFY(!w->isVisible() && !w->training());
    QTest::qWait(50);  // the queued end of the run is ignored
    QVERIFY(messages_->Take().empty());
    ps::NetworkParameters read;
    QVERIFY(ps::ReadWeightsFile(Files().weights, read, ",").ok);
  }

  void coefficientExportShowsAndSavesTheSheet() {
    auto w = NewWindowInEmptyFolder(false);
    // No weights file yet: the reader's message and no sheet.
    w->Command5->click();
    QCOMPARE(messages_->Take().size(), size_t(1));
    QVERIFY(w->sheet() == nullptr);

    ps::NetworkParameters p;
    p.ВесИнтен[0][6] = 0.25;
    QVERIFY(ps::WriteWeightsFile(Files().weights, p, ps::RunFigures{}, ","));
    w->Command5->click();
    QVERIFY(messages_->Take().empty());
    QVERIFY(w->sheet() != nullptr && w->SaveSheet->isEnabled() == ps::XlsxWriterAvailable());
    // T5 holds the centre of the transfer function, G2 the element (1, 7).
    QCOMPARE(w->sheet()->Value(5, 20).number, 1.0);
    QCOMPARE(w->OLE1->shownText(5, 20), Q("1,000"));
    QCOMPARE(w->OLE1->shownText(2, 7), Q("0,250"));
    QCOMPARE(w->OLE1->shownText(1, 1), Q("Веса Интенсивности"));
    QCOMPARE(w->OLE1->shownText(36, 2), Q(" = Крутизна"));
    // Fitted columns show as wide as the model says.
    for (int c : {1, 7, 20})
      QCOMPARE(w->OLE1->columnWidth(c - 1), w->OLE1->pixelsForWidth(w->sheet()->ColumnWidth(c)));
    QVERIFY(w->OLE1->model()->columnCount() >= 23);

    SAVE_AND_READ_BACK(w, "коэффициенты.xlsx", book);
    QCOMPARE(book.value("T5"), Q("1.0"));
    QCOMPARE(book.format("T5"), Q("0.000"));
    QCOMPARE(book.value("G2"), Q("0.25"));
    QCOMPARE(book.value("A1"), Q("Веса Интенсивности"));

    // Opening in the spreadsheet application writes a workbook and hands it over.
    QVERIFY(w->OpenSheet_Click());
    QTRY_COMPARE(Opened().size(), 1);
    const QString handed = Opened()[0];
    QVERIFY(handed.startsWith(dataDir_.path()) && handed.endsWith(Q("Коэффициенты обучения.xlsx")));
    QCOMPARE(ReadWithOpenpyxl(handed).value("T5"), Q("1.0"));
    // A save that cannot be written says why and reports failure.
    QVERIFY(!w->SaveSheetAs(Q("/nonexistent-folder/x.xlsx")));
    QCOMPARE(messages_->Take().size(), size_t(1));
  }

  void sphereCellsExportShowsTheCommentRow() {
    auto w = NewWindow();
    w->ЭкспортВExcel1->click();
    QVERIFY(messages_->Take().empty());
    QVERIFY(w->sheet() != nullptr);
    const ps::SampleTable samples = ps::BuildSampleTable(state_, ps::DirectionConvention::FullTurn, false);
    const int n = static_cast<int>(samples.size());
    QVERIFY(n > 15000);
    const QString comment = QString::fromStdString(ps::SphereCellsComment(320, 240));
    QVERIFY(comment.endsWith(Q("320x240   ; ")));
    QCOMPARE(w->OLE1->shownText(n + 2, 1), comment);
    QCOMPARE(w->sheet()->UsedRange().lastRow, n + 2);
    QCOMPARE(w->sheet()->UsedRange().lastColumn, 8);
    // Intensities as they are, two decimals.
    QCOMPARE(w->sheet()->Value(1, 1).number, static_cast<double>(samples[0][0]));
    QCOMPARE(w->OLE1->shownText(1, 1),
             QString::fromStdString(ps::FormatNumber(samples[0][0], "0.00", ",")));
    // The comment runs on over the empty cells to its right.
    QVERIFY(w->OLE1->columnSpan(n + 1, 0) > 1);

    // The half-turn option changes the direction column only.
    w->Option2->click();
    w->ЭкспортВExcel1->click();
    const ps::SampleTable half = ps::BuildSampleTable(state_, ps::DirectionConvention::HalfTurn, false);
    QCOMPARE(w->sheet()->Value(1, 8).number, static_cast<double>(half[0][7]));
    QCOMPARE(w->sheet()->Value(1, 7).number, static_cast<double>(samples[0][6]));

    SAVE_AND_READ_BACK(w, "шар.xlsx", book);
    QCOMPARE(book.value(QString("A%1").arg(n + 2)), comment);
    QCOMPARE(book.format("H1"), Q("0.00"));
    QCOMPARE(book.dimensions, QString("A1:H%1").arg(n + 2));
  }

  void heightExportCoversTheBoundingBox() {
    auto w = NewWindowInEmptyFolder(false);
    QVERIFY(ps::WriteWeightsFile(Files().weights, ps::NetworkParameters{}, ps::RunFigures{}, ","));
    w->Command4->click();
    QVERIFY(messages_->Take().empty());
    QVERIFY(w->sheet() != nullptr);
    const ps::HeightBox box = ps::HeightTableBox(state_.Circle);
    const ps::SheetRange used = w->sheet()->UsedRange();
    QCOMPARE(used.lastColumn, box.columns());
    QCOMPARE(used.lastRow, box.rows());
    QCOMPARE(w->sheet()->NumberFormat(1, 1), std::string("0.000"));
    // The recognised heights of the network for the file's parameters.
    ps::NetworkParameters p;
    QVERIFY(ps::ReadWeightsFile(Files().weights, p, ",").ok);
    p.Крутизна = 0.13;
    ps::CellNetwork net = ps::PrepareCells(state_, ps::DirectionConvention::FullTurn);
    ps::EvaluateNetwork(net, p);
    const int cx = 166 - box.x0 + 1, cy = 118 - box.y0 + 1;
    QCOMPARE(w->sheet()->Value(cy, cx).number, static_cast<double>(static_cast<float>(net.output(166, 118))));
    QCOMPARE(w->OLE1->shownText(cy, cx),
             QString::fromStdString(ps::FormatNumber(w->sheet()->Value(cy, cx).number, "0.000", ",")));

    SAVE_AND_READ_BACK(w, "высоты.xlsx", book);
    QCOMPARE(book.dimensions,
             Q("A1:") + QString::fromStdString(ps::ColumnName(box.columns())) + QString::number(box.rows()));
  }
};

QTEST_MAIN(StatisticsWindowTest)
#include "statistics_window_test.moc"
