#include "export/exports.h"

#include <cmath>
#include <exception>

#include "learning/files.h"

namespace ps {

namespace {

// Values go to the sheet in single precision.
double Single(double v) { return static_cast<double>(static_cast<float>(v)); }

// Writes a 7 x 7 table with its top left cell at (row0 + 1, col0): element (i, j)
// goes to row row0 + i and column col0 + j - 1.
template <typename Element>
void WriteBlock(SpreadsheetOperations& sheet, int row0, int col0, Element&& element) {
  CellBlock block(7, 7);
  for (int i = 1; i <= 7; ++i)
    for (int j = 1; j <= 7; ++j) block.set(i, j, Single(element(i, j)));
  const SheetRange range{row0 + 1, col0, row0 + 7, col0 + 6};
  sheet.SetRange(RangeAddress(range), block);
}

Message ErrorMessage(const std::string& text) { return Message{text, "", MessageIcon::Exclamation}; }

// A weights file that could not be read: the reader's message, or one naming the file.
Message WeightsFileMessage(const ReadOutcome& outcome, const std::string& path) {
  if (!outcome.message.text.empty()) return outcome.message;
  if (outcome.missing) return ErrorMessage("Файл \"" + path + "\" не найден.");
  return ErrorMessage("Не удалось прочитать файл \"" + path + "\".");
}

// Failure of one of the two exports that do not trap their own failures: the
// sheet is dropped and the reason shown.
Message ExportFailure(const std::exception& e) {
  return ErrorMessage(std::string("Не удалось заполнить лист Excel.") + kCrLf + e.what());
}

// A circle without a processed set: the cells have no values to export.
std::optional<Message> MissingMap(const AppState& state) {
  if (!state.Circle.exists() || !state.ResultMap.empty()) return std::nullopt;
  return Message{std::string("Набор изображений не обработан.") + kCrLf +
                     "Откройте все четыре изображения, а потом повторите экспорт.",
                 "Экспорт невозможен", MessageIcon::Exclamation};
}

}  // namespace

std::string CoefficientExportFailureText() {
  return std::string("Сбой при закрытии прошлых листов Excel.") + kCrLf +
         "Рекомендуется закрыть существующие документы Excel," + kCrLf +
         "а если ошибка повторяется, то перезагрузить ОС";
}

// ---------------------------------------------------------------- filling

void FillLearningCoefficients(SpreadsheetOperations& sheet, const NetworkParameters& p) {
  const Mask7& mask = ApertureMask();
  auto masked = [&](const Template7& t) {
    return [&mask, &t](int i, int j) { return static_cast<double>(mask[i - 1][j - 1]) * t[i - 1][j - 1]; };
  };
  auto plain = [](const Template7& t) { return [&t](int i, int j) { return t[i - 1][j - 1]; }; };

  sheet.SetScreenUpdating(false);
  const int A = 1, I = 9, Q = 17;
  WriteBlock(sheet, 1, A, plain(p.ВесИнтен));
  sheet.SetCell(1, A, "Веса Интенсивности");
  WriteBlock(sheet, 9, A, plain(p.ВесЭллип));
  sheet.SetCell(9, A, "Веса угла Эллиптичности");
  WriteBlock(sheet, 17, A, plain(p.ВесАзим));
  sheet.SetCell(17, A, Single(p.ВесАзимутаОбщий));
  sheet.SetCell(17, A + 1, " * Веса Азимута");
  WriteBlock(sheet, 25, A, plain(p.ВесОС));
  sheet.SetCell(25, A, " = Веса Обратной связи");

  WriteBlock(sheet, 1, I, masked(p.ВесИнтен));
  sheet.SetCell(1, I, "Веса Интенсивности * Передаточную функцию");
  WriteBlock(sheet, 9, I, masked(p.ВесЭллип));
  sheet.SetCell(9, I, "Веса Эллиптичности умноженные на Передаточную функцию");
  WriteBlock(sheet, 17, I, masked(p.ВесАзим));
  sheet.SetCell(17, I, "Веса Азимута умноженные на Передаточную функцию");
  WriteBlock(sheet, 1, Q, [&mask](int i, int j) { return static_cast<double>(mask[i - 1][j - 1]); });
  sheet.SetCell(1, Q, "Веса Передаточной функции");

  sheet.SetCell(34, A, Single(p.Смещение));
  sheet.SetCell(34, A + 1, " = Постоянное Смещение");
  sheet.SetCell(35, A, Single(p.НачальнаяСуммаСинапсов));
  sheet.SetCell(35, A + 1, " = Начальная сумма синапсов - состояние ячейки");
  sheet.SetCell(36, A, Single(p.Крутизна));
  sheet.SetCell(36, A + 1, " = Крутизна");

  const std::string columns = "A:" + ColumnName(23);  // A to W
  sheet.SetColumnsNumberFormat(columns, "0.000");
  sheet.AutoFitColumns(columns);
  sheet.SetScreenUpdating(true);
  sheet.SetVisible(true);
}

std::string SphereCellsComment(int imageWidth, int imageHeight) {
  return "Столбцы слева направо Интенсивность Эллиптичность Азимут    тоже сглаженное Угол наклона "
         "поверхности Угол направления от центра ;    Точек " +
         std::to_string(imageWidth) + "x" + std::to_string(imageHeight) + "   ; ";
}

void FillSphereCells(SpreadsheetOperations& sheet, const SampleTable& samples, int imageWidth, int imageHeight) {
  const long long n = static_cast<long long>(samples.size());
  if (n + 2 > kSheetMaxRows)
    throw SheetError("в листе помещается не более " + std::to_string(kSheetMaxRows - 2) + " строк, точек " +
                     std::to_string(n));
  sheet.SetScreenUpdating(false);
  // An empty table has no range to go to ("A1:H0" is not an address): only the
  // comment is written then.
  if (n > 0) {
    CellBlock block(static_cast<int>(n), 8);
    for (int k = 1; k <= n; ++k)
      for (int c = 1; c <= 8; ++c) block.set(k, c, static_cast<double>(samples[k - 1][c - 1]));
    sheet.SetRange("A1:H" + std::to_string(n), block);
  }
  sheet.SetColumnsNumberFormat("A:H", "0.00");
  sheet.AutoFitColumns("A:H");
  sheet.SetCell(static_cast<int>(n) + 2, 1, SphereCellsComment(imageWidth, imageHeight));
  sheet.SetScreenUpdating(true);
  sheet.SetVisible(true);
}

HeightBox HeightTableBox(const SphereCircle& c) {
  HeightBox box;
  box.x0 = static_cast<int>(std::floor(c.CircleCentreX - c.CircleRadius - 2));
  box.x1 = static_cast<int>(std::floor(c.CircleCentreX + c.CircleRadius + 1));
  box.y0 = static_cast<int>(std::floor(c.CircleCentreY - c.CircleRadius - 2));
  box.y1 = static_cast<int>(std::floor(c.CircleCentreY + c.CircleRadius + 1));
  return box;
}

void FillHeightErrors(SpreadsheetOperations& sheet, const std::vector<HeightCell>& cells) {
  const long long n = static_cast<long long>(cells.size());
  if (n + 1 > kSheetMaxRows)
    throw SheetError("в листе помещается не более " + std::to_string(kSheetMaxRows - 1) + " строк, точек " +
                     std::to_string(n));
  sheet.SetScreenUpdating(false);
  CellBlock block(static_cast<int>(n) + 1, 5);
  const char* titles[5] = {"x", "y", "h (высота шара)", "y (выход сети)", "y − h"};
  for (int c = 1; c <= 5; ++c) block.set(1, c, CellValue(titles[c - 1]));
  for (int k = 0; k < n; ++k) {
    const HeightCell& cell = cells[static_cast<size_t>(k)];
    block.set(k + 2, 1, cell.x);
    block.set(k + 2, 2, cell.y);
    block.set(k + 2, 3, cell.target);
    block.set(k + 2, 4, cell.output);
    block.set(k + 2, 5, cell.error());
  }
  sheet.SetRange("A1:E" + std::to_string(n + 1), block);
  sheet.SetColumnsNumberFormat("A:B", "0");
  sheet.SetColumnsNumberFormat("C:E", "0.000");
  sheet.AutoFitColumns("A:E");
  sheet.SetScreenUpdating(true);
  sheet.SetVisible(true);
}

// ---------------------------------------------------------------- exports

ExportResult ExportHeightErrors(const std::vector<HeightCell>& cells) {
  ExportResult result;
  try {
    FillHeightErrors(result.sheet, cells);
    result.ok = true;
  } catch (const std::exception& e) {
    result.sheet = Sheet();
    result.message = ExportFailure(e);
  }
  return result;
}

ExportResult ExportLearningCoefficients(const NetworkParameters& parameters, SpreadsheetOperations* target) {
  ExportResult result;
  try {
    FillLearningCoefficients(target ? *target : result.sheet, parameters);
    result.ok = true;
  } catch (const std::exception&) {
    result.sheet = Sheet();
    result.message = Message{CoefficientExportFailureText(), "", MessageIcon::None};
  }
  return result;
}

ExportResult ExportLearningCoefficients(NetworkParameters& parameters, const std::string& weightsPath,
                                        const std::string& decimalSeparator) {
  const ReadOutcome read = ReadWeightsFile(weightsPath, parameters, decimalSeparator);
  if (!read.ok || read.missing) {
    ExportResult result;
    result.message = WeightsFileMessage(read, weightsPath);
    return result;
  }
  return ExportLearningCoefficients(parameters);
}

ExportResult ExportSphereCells(const AppState& state, DirectionConvention convention) {
  ExportResult result;
  if ((result.message = MissingMap(state))) return result;
  try {
    const SampleTable samples =
        state.Circle.exists() ? BuildSampleTable(state, convention, /*divideIntensity=*/false) : SampleTable{};
    FillSphereCells(result.sheet, samples, state.Header.ImageWidth, state.Header.ImageHeight);
    result.ok = true;
  } catch (const std::exception& e) {
    result.sheet = Sheet();
    result.message = ExportFailure(e);
  }
  return result;
}

ExportResult ExportRecognisedHeights(const AppState& state, NetworkParameters& parameters,
                                     const std::string& weightsPath, const std::string& decimalSeparator,
                                     DirectionConvention convention) {
  ExportResult result;
  if ((result.message = MissingMap(state))) return result;
  parameters.Крутизна = 0.13;
  const ReadOutcome read = ReadWeightsFile(weightsPath, parameters, decimalSeparator);
  if (!read.ok || read.missing) {
    result.message = WeightsFileMessage(read, weightsPath);
    return result;
  }
  const HeightBox box = HeightTableBox(state.Circle);
  try {
    if (!state.Circle.exists()) {
      // No circle: no cell is inside, every height of the small box is 0.
      FillRecognisedHeights(result.sheet, box, [](int, int) { return 0.0; });
    } else {
      // The evaluation reads the 7 x 7 neighbourhood of every inside cell.
      if (auto refusal = CheckTrainingCircle(state.Circle, state.SetWidth, state.SetHeight)) {
        result.message = *refusal;
        result.message->title = "Экспорт невозможен";
        return result;
      }
      CellNetwork network = PrepareCells(state, convention);
      EvaluateNetwork(network, parameters);
      const int w = network.width(), h = network.height();
      FillRecognisedHeights(result.sheet, box, [&](int x, int y) {
        return x >= 1 && x <= w && y >= 1 && y <= h ? network.output(x, y) : 0.0;
      });
    }
    result.ok = true;
  } catch (const std::exception& e) {
    result.sheet = Sheet();
    result.message = ExportFailure(e);
  }
  return result;
}

}  // namespace ps
