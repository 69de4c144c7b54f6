// The three tables the statistics window hands to the user as a spreadsheet:
// the learning coefficients, the cells of the sphere in eight columns, and the
// heights the network recognises over the sphere's bounding box. Each fills a
// fresh sheet through the spreadsheet operations; the window shows the sheet,
// the command-line tool writes it as a workbook.
#pragma once

#include <optional>
#include <string>

#include "export/sheet.h"
#include "learning/evaluation.h"
#include "learning/network.h"
#include "state/app_state.h"
#include "state/message.h"

namespace ps {

// The three lines shown when the learning-coefficient export fails.
std::string CoefficientExportFailureText();

struct ExportResult {
  bool ok = false;                 // the sheet was filled completely
  Sheet sheet;                     // the filled sheet (empty when not ok)
  std::optional<Message> message;  // to show to the user, when set
};

// ---- Sheet filling (the operations an export performs, in order) ------------

// Eight 7 x 7 blocks (the four templates, three of them times the aperture mask,
// and the mask), their titles, the four scalars, format "0.000" and fitting of
// columns A to W. Values go in single precision.
void FillLearningCoefficients(SpreadsheetOperations& sheet, const NetworkParameters& parameters);

// The first eight columns of `samples` in A1:H<n>, format "0.00" and fitting of
// columns A to H, and the comment in row n + 2 naming the image size.
void FillSphereCells(SpreadsheetOperations& sheet, const SampleTable& samples, int imageWidth, int imageHeight);
// The comment row of the eight-column sheet.
std::string SphereCellsComment(int imageWidth, int imageHeight);

// Bounding box of the recognised-height table: cells x0..x1, y0..y1 with
// x0 = Int(CX - R - 2), x1 = Int(CX + R + 1) and likewise in y (Int = floor).
struct HeightBox {
  int x0 = 0, x1 = 0, y0 = 0, y1 = 0;
  int columns() const { return x1 - x0 + 1; }
  int rows() const { return y1 - y0 + 1; }
};
HeightBox HeightTableBox(const SphereCircle& circle);

// The recognised heights, x along the columns and y down the rows, the whole box
// from A1: column 1 is x0, row 1 is y0. `heightAt(x, y)` gives the network's
// output of a cell (0 outside the circle). Format "0.000" and fitting of the
// columns.
template <typename HeightAt>
void FillRecognisedHeights(SpreadsheetOperations& sheet, const HeightBox& box, HeightAt&& heightAt);

// ---- The exports -----------------------------------------------------------

// Learning coefficients: reads the weights file at `weightsPath` into
// `parameters` (keys absent from the file keep their values), then fills a new
// sheet. A weights file that is missing or malformed gives the reader's message
// and no sheet; a failure of a sheet operation gives the three-line message of
// CoefficientExportFailureText.
ExportResult ExportLearningCoefficients(NetworkParameters& parameters, const std::string& weightsPath,
                                        const std::string& decimalSeparator);
// The same with parameters already at hand, into the given operations.
ExportResult ExportLearningCoefficients(const NetworkParameters& parameters, SpreadsheetOperations* target = nullptr);

// Cells of the sphere in eight columns: the sample table rebuilt for the cells
// inside the circle (intensities not divided by 255) and the comment with the
// image size of the last opened file. Without a circle the sheet holds the
// comment row only (in row 2). Needs the result map when a circle exists.
ExportResult ExportSphereCells(const AppState& state, DirectionConvention convention);

// Recognised heights: Крутизна is reset to 0.13 and the weights file read into
// `parameters`; the network is evaluated once (first pass and four feedback
// iterations) over the cells of the circle and its outputs fill the bounding
// box. Without a circle the box is a few cells around the centre, all 0. A circle
// whose neighbourhood leaves the image is refused with a message.
ExportResult ExportRecognisedHeights(const AppState& state, NetworkParameters& parameters,
                                     const std::string& weightsPath, const std::string& decimalSeparator,
                                     DirectionConvention convention = DirectionConvention::FullTurn);

// Errors of the recognised heights ("Ошибки распознавания высот"): a title row,
// then one row per inside cell in the order given: x, y, the target h, the
// output y and y - h. Columns A:B "0", C:E "0.000", all fitted.
void FillHeightErrors(SpreadsheetOperations& sheet, const std::vector<HeightCell>& cells);
ExportResult ExportHeightErrors(const std::vector<HeightCell>& cells);

// ---- template definition ---------------------------------------------------

template <typename HeightAt>
void FillRecognisedHeights(SpreadsheetOperations& sheet, const HeightBox& box, HeightAt&& heightAt) {
  const std::string last = ColumnName(box.columns());
  sheet.SetScreenUpdating(false);
  CellBlock block(box.rows(), box.columns());
  for (int j = 1; j <= box.rows(); ++j)
    for (int i = 1; i <= box.columns(); ++i)
      block.set(j, i, static_cast<double>(static_cast<float>(heightAt(box.x0 + i - 1, box.y0 + j - 1))));
  sheet.SetRange("A1:" + last + std::to_string(box.rows()), block);
  sheet.SetColumnsNumberFormat("A:" + last, "0.000");
  sheet.AutoFitColumns("A:" + last);
  sheet.SetScreenUpdating(true);
  sheet.SetVisible(true);
}

}  // namespace ps
