// The statistics window on the bundled sample set: rotation and toning,
// training runs on the worker thread (to the end, refused, cancelled, stopped
// by closing), the sheets it shows and saves, and the desktop opener.
#include <fstream>
#include <sstream>

#include "export/exports.h"
#include "export/xlsx_writer.h"
#include "imageio/bmp.h"
#include "learning/evaluation.h"
#include "learning/files.h"
#include "learning/training.h"
#include "polarization/polarization.h"
#include "sphere/detection_settings.h"
#include "state/number_format.h"
#include "window_test_support.h"
#include "windows/energy_plot.h"
#include "windows/sheet_view.h"
#include "windows/statistics_window.h"

using ps::ui::Статистика;

namespace {

QString Q(const char* s) { return QString::fromUtf8(s); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A clock standing at 12:03:20 (no ten-minute mark, no seven-minute rule): a run depends on the seed alone.
ps::ClockReading StillClock() { return ps::ClockReading{6, 12, 3, 20}; }

// Pixels (of every third row and column) that are not grey.
int Coloured(const ps::RasterSurface& p) {
  int n = 0;
  for (int x = 0; x < p.width(); x += 3)
    for (int y = 0; y < p.height(); y += 3) {
      const ps::Colour c = p.pixel(x, y);
      n += ps::RedOf(c) != ps::GreenOf(c) || ps::GreenOf(c) != ps::BlueOf(c);
    }
  return n;
}

}  // namespace

class StatisticsWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dataDir_;
  QTemporaryDir openerDir_;  // the stand-in openers and what they were given
  ps::AppState state_;
  wt::Messages messages;
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
    if (!QFile::exists(path))
      wt::WriteFile(path, QString("#!/bin/sh\necho \"$1\" >> '%1'\nexit %2\n").arg(openerDir_.filePath("opened.txt")).arg(status).toStdString());
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
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
    // Workbooks handed to the spreadsheet application go to the temporary folder.
    QVERIFY(QDir(dataDir_.path()).mkpath(QStringLiteral("tmp")));
    qputenv("TMPDIR", (dataDir_.path() + QStringLiteral("/tmp")).toUtf8());
    Статистика::Asker() = [this](QWidget*, const QString&) { return ++questions_, answer_; };
    Статистика::SavePathAsker() = [this](QWidget*, const QString&, const QString&, const QString&) { return savePath_; };
    QVERIFY(ps::LoadSet(state_, wt::SampleFiles()).ok);
    QVERIFY(ps::ЗаполнениеМассива(state_));
    state_.Detection.WeightKernel = ps::PresetValues(ps::KernelPreset::Gauss).weight;
    state_.Circle = ps::SphereCircle{166, 118, 79};
  }

  void init() {
    messages.Take();
    answer_ = true;
    questions_ = 0;
    QFile::remove(openerDir_.filePath(Q("opened.txt")));
    Статистика::OpenerProgram() = Opener(0);
  }

  // The sphere button opens the window modally; the training session lives
  // from one opening to the next; the toning follows the ellipse check box.
  void sphereButtonOpensTheWindowModally() {
    ps::AppState state;
    ps::ui::ExportForm form(state);
    wt::LoadSample(form);
    state.Circle = ps::SphereCircle{166, 118, 79};
    ps::ui::ExportForm::StatisticsOpener() = ps::ui::OpenStatisticsWindow;
    form.Check2->setChecked(true);
    std::vector<ps::TrainingSession*> sessions;
    std::vector<int> coloured;
    for (int opening = 0; opening < 2; ++opening) {
      wt::WhenModal<Статистика>([&](Статистика* w) {
        sessions.push_back(&w->session());
        w->Command1_Click();
        coloured.push_back(Coloured(w->picture1Surface()) > 500);
        coloured.push_back(Coloured(w->picture2Surface()) > 500);
        w->reject();
      });
      form.Image19->trigger();
      form.Check2->setChecked(false);
    }
    ps::ui::ExportForm::StatisticsOpener() = {};
    QCOMPARE(sessions.size(), size_t(2));
    QCOMPARE(sessions[0], sessions[1]);
    QCOMPARE(coloured, (std::vector<int>{1, 1, 0, 0}));
  }

  // The window starts at 45° about x and shows the circle and the data folder,
  // which opens in the file manager. The rotation boxes set the view (a text
  // that is no number leaves it); Enter tones without training; the sweep
  // refuses a box that is no number and leaves the pictures.
  void startUpAndRotationBoxes() {
    auto w = NewWindow();
    QCOMPARE(w->view().RotationX, 45 * 3.14159 / 180);
    QCOMPARE(w->CircleLabel->text(), Q("Окружность шара: центр (166,00; 118,00), радиус 79,00 точек изображения"));
    QVERIFY(w->DataFolderLabel->text().contains(dataDir_.path()));
    w->OpenDataFolder->click();
    QTRY_COMPARE(Opened(), QStringList{dataDir_.path()});

    w->Text2->setText(Q("30"));
    w->Text3->setText(Q("-12,5"));
    w->Text2->setText(Q("3x"));
    QCOMPARE(w->view().RotationY, 30 * 3.14159 / 180);
    QCOMPARE(w->view().RotationZ, -12.5 * 3.14159 / 180);
    QVERIFY(messages.Take().empty());
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->Text2->setText(Q("30"));
    w->Text1->setFocus();
    QTest::keyClick(w->Text1, Qt::Key_Return);
    QVERIFY(!w->training());
    const ps::Colour toned = w->picture1Surface().pixel(148, 80);
    QVERIFY(toned != ps::Rgb(225, 225, 225));
    w->Text1->setText(Q("-60"));
    w->Text2->setText(Q("3x"));
    w->Command1_Click();
    QVERIFY(messages.TakeOne().contains(Q("Оy")));
    QCOMPARE(w->picture1Surface().pixel(148, 80), toned);
  }

  // The sweep turns the sphere by the three boxes: both pictures are the
  // display sweep's for those angles (the display tests pin its geometry).
  void toningFollowsTheThreeBoxes() {
    auto w = NewWindow();
    w->Text1->setText("30");
    w->Text2->setText("20");
    w->Text3->setText("15");
    w->Command1->click();
    QVERIFY(messages.Take().empty());
    ps::ToningView view;
    view.RotationX = 30 * ps::kPi / 180, view.RotationY = 20 * ps::kPi / 180, view.RotationZ = 15 * ps::kPi / 180;
    ps::RasterSurface left(w->picture1Surface().width(), w->picture1Surface().height()), right = left;
    QVERIFY(ps::ToningSweep(state_, view, left, right));
    for (auto [got, want] : {std::pair{&w->picture1Surface(), &left}, {&w->picture2Surface(), &right}})
      QVERIFY(std::equal(want->data(), want->data() + want->stride() * want->height(), got->data()));
  }

  // Training asks for the starter steps file, runs on the worker to the
  // limit, plots each accepted iteration, judges the weights it left and
  // writes the same files as the same run on one thread without the window.
  void trainingOffersStarterStepsFileAndRunsToTheEnd() {
    auto w = NewWindowInEmptyFolder(false);
    QVERIFY(w->CreateStepsFile->isEnabled());
    answer_ = false;  // declining the starter file starts nothing
    w->Command3->click();
    QCOMPARE(questions_, 1);
    QVERIFY(!w->training() && !QFile::exists(QString::fromStdString(Files().steps)));

    answer_ = true;
    w->setAcceptedLimit(4);
    w->Command3->click();
    QVERIFY(w->training());  // the run goes on after the handler returned
    QVERIFY(!w->Command3->isEnabled() && w->CancelTraining->isEnabled() && !w->Command5->isEnabled());
    QVERIFY(w->waitTrainingDone());
    QVERIFY(QFile::exists(QString::fromStdString(Files().steps)) && w->lastTraining().has_value());
    const ps::TrainingResult& r = *w->lastTraining();
    QVERIFY(r.started && !r.cancelled);
    QCOMPARE(r.accepted, 4LL);
    QCOMPARE(w->TrainingBar->value(), 4);
    QVERIFY(w->TrainingStatus->text().contains(Q("Принято итераций: 4 из 4")));
    QVERIFY(w->Command3->isEnabled() && !w->CancelTraining->isEnabled());
    // One point per accepted iteration, the last one the state the run ended with.
    const std::vector<ps::EnergyPoint> points = w->TrainingPlot->points();
    QCOMPARE(points.size(), size_t(4));
    for (size_t i = 0; i < points.size(); ++i) QCOMPARE(points[i].iteration, static_cast<long long>(i) + 1);
    QCOMPARE(points.back().energyA, r.energyAOld);
    QCOMPARE(points.back().energyB, r.energyBOld);
    // The figures of the learned height, learned on this circle (so no note follows).
    const ps::HeightEvaluation judged = ps::EvaluateWeightsFile(state_, Files().weights, ",");
    QVERIFY(judged.ok);
    QCOMPARE(w->EvaluationText->text(), QString::fromStdString(ps::SummaryText(judged.summary, ",")));
    QVERIFY(!w->ErrorMapPicture->pixmap().isNull() && w->SaveErrorMap->isEnabled());
    // A window opened later draws the run from the progress log (three decimals).
    const std::vector<ps::EnergyPoint> logged = NewWindow()->TrainingPlot->points();
    QCOMPARE(logged.size(), points.size());
    for (size_t i = 0; i < logged.size(); ++i)
      QVERIFY(logged[i].iteration == points[i].iteration && std::fabs(logged[i].energyA - points[i].energyA) <= 0.0005 &&
              std::fabs(logged[i].energyB - points[i].energyB) <= 0.0005);
    QCOMPARE(messages.TakeOne().toStdString(), ps::ClosingMessageText(r.energyAOld, r.energyBOld, r.energyA, r.energyB,
                                                                      w->session().Settings.Temperature, ","));

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

  // Judging weights on demand says when there are none or they belong to
  // another circle; the error sheet and the error map.
  void evaluationOnDemandSaysWhenTheWeightsBelongElsewhere() {
    auto w = NewWindowInEmptyFolder(false);
    QVERIFY(!w->EvaluateTraining_Click());
    QCOMPARE(messages.Take().size(), size_t(1));
    QVERIFY(w->EvaluationText->text().startsWith(Q("Оценки нет")));
    QVERIFY(!w->SaveErrorMap->isEnabled());
    ps::NetworkParameters p;
    p.Смещение = 0.4;
    QVERIFY(ps::WriteWeightsFile(Files().weights, p, ps::RunFigures{}, ","));
    w->EvaluateTraining->click();
    QVERIFY(w->EvaluationText->text().contains(Q("Неизвестно, для какой окружности")));
    ps::WeightsOrigin other = ps::OriginOf(state_);
    other.circle.CircleRadius = 70;
    QVERIFY(ps::WriteWeightsOrigin(ps::WeightsOriginPath(Files().folder), other));
    w->EvaluateTraining->click();
    QVERIFY2(w->EvaluationText->text().contains(Q("записан для другой окружности")), qPrintable(w->EvaluationText->text()));
    QVERIFY(messages.Take().empty());

    w->HeightErrors->click();
    QCOMPARE(w->sheetName(), Q("Ошибки распознавания высот"));
    const std::vector<ps::HeightCell>& cells = w->lastEvaluation()->cells;
    QCOMPARE(w->sheet()->Value(2, 5).number, cells[0].output - cells[0].target);
    QTemporaryDir pictures;
    savePath_ = pictures.filePath(Q("карта"));
    w->SaveErrorMap->click();
    QCOMPARE(QImage(pictures.filePath(Q("карта.png"))).convertToFormat(QImage::Format_RGB888),
             ps::ui::ToImage(w->errorMap()).convertToFormat(QImage::Format_RGB888));
  }

  // Pictures are saved as shown, a cancel does nothing, and a file that
  // cannot be written is named in the message.
  void picturesAreSavedOrTheFailureNamed() {
    auto w = NewWindowInEmptyFolder(false);
    w->Command1_Click();
    QTemporaryDir pictures;
    savePath_ = pictures.filePath(Q("левая"));
    w->SavePicture1->click();
    savePath_ = pictures.filePath(Q("правая.png"));
    w->SavePicture2->click();
    QVERIFY(messages.Take().empty());
    QCOMPARE(QImage(pictures.filePath(Q("левая.png"))).convertToFormat(QImage::Format_RGB888),
             ps::ui::ToImage(w->picture1Surface()).convertToFormat(QImage::Format_RGB888));
    QCOMPARE(QImage(pictures.filePath(Q("правая.png"))).convertToFormat(QImage::Format_RGB888),
             ps::ui::ToImage(w->picture2Surface()).convertToFormat(QImage::Format_RGB888));
    savePath_.clear();
    w->SavePicture1->click();
    QVERIFY(messages.Take().empty());
    QVERIFY(!w->SavePicture(w->picture1Surface(), Q("/nonexistent-folder/x.png")));
    QVERIFY(messages.TakeOne().contains(Q("/nonexistent-folder/x.png")));
  }

  // An opener that says no application took the data folder, and no opener at all: each reported.
  void desktopOpenerFailureIsReported() {
    auto w = NewWindowInEmptyFolder(false);
    Статистика::OpenerProgram() = Opener(4);
    w->OpenDataFolder->click();
    QTRY_COMPARE(messages.seen.size(), size_t(1));
    QVERIFY(messages.TakeOne().contains(Q("Папка данных: ") + dataDir_.path()));
    QCOMPARE(Opened(), QStringList{dataDir_.path()});
    Статистика::OpenerProgram() = openerDir_.filePath(Q("no-such-opener"));
    w->OpenDataFolder->click();
    QTRY_COMPARE(messages.seen.size(), size_t(1));
  }

  // A steps file without a temperature refuses the run and writes nothing.
  void trainingRefusalIsShown() {
    auto w = NewWindowInEmptyFolder(true);
    std::ofstream(Files().steps, std::ios::binary) << "ШагИн(1) = 0,01\r\n";
    w->Command3->click();
    QVERIFY(w->waitTrainingDone());
    QVERIFY(!w->lastTraining()->started);
    QCOMPARE(messages.Take().size(), size_t(1));
    QVERIFY(!QFile::exists(QString::fromStdString(Files().weights)));
  }

  // Cancel stops a run the window shows progress of; the weights file reads
  // back and the progress log has a line per accepted iteration.
  void cancelStopsARunAndLeavesAReadableWeightsFile() {
    auto w = NewWindowInEmptyFolder(true);
    QVERIFY(!w->CreateStepsFile->isEnabled());
    w->Command3->click();
    QCOMPARE(questions_, 0);  // the steps file exists: no question
    QVERIFY(w->training());
    QTRY_VERIFY_WITH_TIMEOUT(w->TrainingBar->value() >= 2, 60000);
    QCOMPARE(w->TrainingBar->maximum(), 19999);
    w->CancelTraining->click();
    QVERIFY(w->waitTrainingDone());
    const ps::TrainingResult& r = *w->lastTraining();
    QVERIFY(r.cancelled && r.accepted >= 2 && r.accepted < 19999);
    const QString said = messages.TakeOne();
    QVERIFY2(said.startsWith(Q("Обучение остановлено после")) && said.contains(Q("ЭнергияСтараяА+Б=")), qPrintable(said));
    ps::NetworkParameters read;
    QVERIFY(ps::ReadWeightsFile(Files().weights, read, ",").ok);
    const std::string log = ReadFile(Files().progressLog);
    long long lines = 0;
    for (size_t at = 0; (at = log.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
    QCOMPARE(lines, r.accepted);
  }

  // Closing during a run asks; "no" keeps the window and the run, "yes"
  // stops both quietly and leaves a readable weights file.
  void closingDuringARunAsksAndStopsIt() {
    auto w = NewWindowInEmptyFolder(true);
    w->show();
    w->Command3->click();
    QTRY_VERIFY_WITH_TIMEOUT(w->TrainingBar->value() >= 1, 60000);
    answer_ = false;
    w->close();
    QCOMPARE(questions_, 1);
    QVERIFY(w->isVisible() && w->training());
    answer_ = true;
    w->close();
    QVERIFY(!w->isVisible() && !w->training());
    QTest::qWait(50);  // the queued end of the run is ignored
    QVERIFY(messages.Take().empty());
    ps::NetworkParameters read;
    QVERIFY(ps::ReadWeightsFile(Files().weights, read, ",").ok);
  }

  // The coefficients sheet: refused without a weights file, else shown with
  // its formats and widths; saved where the save dialog says or the failure
  // named; handed to the spreadsheet application, which may refuse it.
  void coefficientSheetIsShownSavedAndHandedOver() {
    auto w = NewWindowInEmptyFolder(false);
    w->Command5->click();
    QCOMPARE(messages.Take().size(), size_t(1));
    QVERIFY(w->sheet() == nullptr);
    ps::NetworkParameters p;
    p.ВесИнтен[0][6] = 0.25;
    QVERIFY(ps::WriteWeightsFile(Files().weights, p, ps::RunFigures{}, ","));
    w->Command5->click();
    QVERIFY(messages.Take().empty());
    QVERIFY(w->sheet() != nullptr && w->SaveSheet->isEnabled() == ps::XlsxWriterAvailable());
    QCOMPARE(w->OLE1->shownText(5, 20), Q("1,000"));  // T5: centre of the transfer function
    QCOMPARE(w->OLE1->shownText(2, 7), Q("0,250"));
    QCOMPARE(w->OLE1->columnWidth(6), w->OLE1->pixelsForWidth(w->sheet()->ColumnWidth(7)));

    if (!ps::XlsxWriterAvailable()) QSKIP("built without the workbook writer");
    QTemporaryDir out;
    savePath_ = out.filePath(Q("книга"));
    w->SaveSheet->click();
    QCOMPARE(messages.TakeOne(), Q("Книга сохранена:\r\n") + out.filePath(Q("книга.xlsx")));
    QVERIFY(QFileInfo(out.filePath(Q("книга.xlsx"))).size() > 0);
    savePath_ = Q("/nonexistent-folder/книга.xlsx");
    w->SaveSheet->click();
    QVERIFY(messages.TakeOne().startsWith(Q("Не удалось сохранить книгу /nonexistent-folder/книга.xlsx")));
    QVERIFY(w->OpenSheet_Click());
    QTRY_COMPARE(Opened().size(), 1);
    QVERIFY(Opened()[0].startsWith(dataDir_.path()) && Opened()[0].endsWith(Q("Коэффициенты обучения.xlsx")));
    QVERIFY(QFileInfo(Opened()[0]).size() > 0);
    QVERIFY(messages.Take().empty());
    Статистика::OpenerProgram() = Opener(3);
    QVERIFY(w->OpenSheet_Click());
    QTRY_COMPARE(messages.seen.size(), size_t(1));
    QVERIFY(messages.TakeOne().contains(Q("Книга сохранена в ") + Opened().last()));
  }

  // The sphere cells sheet shows its comment row running over the empty
  // cells; the half-turn option changes the directions.
  void sphereCellsExportShowsTheCommentRow() {
    auto w = NewWindow();
    w->ЭкспортВExcel1->click();
    QVERIFY(messages.Take().empty() && w->sheet() != nullptr);
    const ps::SampleTable full = ps::BuildSampleTable(state_, ps::DirectionConvention::FullTurn, false);
    const ps::SampleTable half = ps::BuildSampleTable(state_, ps::DirectionConvention::HalfTurn, false);
    const int n = static_cast<int>(full.size());
    QCOMPARE(w->OLE1->shownText(n + 2, 1), QString::fromStdString(ps::SphereCellsComment(320, 240)));
    QVERIFY(w->OLE1->columnSpan(n + 1, 0) > 1);
    int i = 0;  // the first cell whose direction the two conventions give differently
    while (i < n && half[i][7] == full[i][7]) ++i;
    QVERIFY(i < n);
    QCOMPARE(w->sheet()->Value(i + 1, 8).number, static_cast<double>(full[i][7]));
    w->Option2->click();
    w->ЭкспортВExcel1->click();
    QCOMPARE(w->sheet()->Value(i + 1, 8).number, static_cast<double>(half[i][7]));
  }

  // The heights sheet holds the network's output for the weights file's
  // parameters (the export tests pin the table's layout).
  void heightExportShowsTheNetworkOutput() {
    auto w = NewWindowInEmptyFolder(false);
    QVERIFY(ps::WriteWeightsFile(Files().weights, ps::NetworkParameters{}, ps::RunFigures{}, ","));
    w->Command4->click();
    QVERIFY(messages.Take().empty() && w->sheet() != nullptr);
    const ps::HeightBox box = ps::HeightTableBox(state_.Circle);
    ps::NetworkParameters p;
    QVERIFY(ps::ReadWeightsFile(Files().weights, p, ",").ok);
    p.Крутизна = 0.13;
    ps::CellNetwork net = ps::PrepareCells(state_, ps::DirectionConvention::FullTurn);
    ps::EvaluateNetwork(net, p);
    QCOMPARE(w->sheet()->Value(118 - box.y0 + 1, 166 - box.x0 + 1).number,
             static_cast<double>(static_cast<float>(net.output(166, 118))));
  }
};

QTEST_MAIN(StatisticsWindowTest)
#include "statistics_window_test.moc"
