// polarsphere-cli export: the three spreadsheet exports of the statistics window
// written as .xlsx workbooks: the learning coefficients (from the weights file),
// the cells of the sphere in eight columns, and the recognised heights.
#include <iomanip>
#include <iostream>
#include <optional>

#include "cli/cli.h"
#include "export/exports.h"
#include "export/xlsx_writer.h"
#include "learning/files.h"
#include "polarization/polarization.h"
#include "sphere/contour.h"
#include "sphere/press.h"

namespace ps::cli {
namespace {

const char* const kUsage =
    "usage: polarsphere-cli export coefficients --xlsx FILE [--data DIR] [--sep S] [--json]\n"
    "       polarsphere-cli export cells F0 F45 F90 F135 (--circle CX CY R | --start X Y)\n"
    "                              --xlsx FILE [--mode max|mean|luma] [--direction full|half] [--json]\n"
    "       polarsphere-cli export heights F0 F45 F90 F135 (--circle CX CY R | --start X Y)\n"
    "                              --xlsx FILE\n"
    "                              [--data DIR] [--sep S] [--mode max|mean|luma] [--json]\n"
    "\n"
    "Fills the sheet of one export and writes it as an .xlsx workbook of one sheet\n"
    "(values, number formats and fitted column widths). The file is replaced only\n"
    "when the whole workbook was written.\n"
    "\n"
    "  coefficients  the network parameters of the weights file: the four 7 x 7\n"
    "                templates, three of them times the aperture mask, the mask and\n"
    "                the four scalars (A1:W36)\n"
    "  cells         one row per cell inside the sphere circle, x ascending then y:\n"
    "                intensity, axis ratio, azimuth, neighbour intensity, smoothed\n"
    "                axis ratio and azimuth, inclination, direction; a comment row\n"
    "                with the image size follows after one empty row\n"
    "  heights       the network's output over the circle's bounding box, x along\n"
    "                the columns and y down the rows; cell A1 is (Int(CX-R-2),\n"
    "                Int(CY-R-2)), the last cell (Int(CX+R+1), Int(CY+R+1))\n"
    "\n"
    "  --xlsx       the workbook to write\n"
    "  --circle     the sphere circle: centre column, row and radius in cells\n"
    "               (1-based); R = 0 means no circle\n"
    "  --start X Y  find the circle instead: contour response, trace of the outline\n"
    "               from cell (X, Y) as a press on the map does, and the circle fit\n"
    "  --data       folder of the weights file (default: $POLARSPHERE_DATA_DIR,\n"
    "               else ~/polarsphere)\n"
    "  --sep        decimal separator of the weights file (default \",\")\n"
    "  --mode       intensity definition of the values (default mean, as the\n"
    "               analysis window starts)\n"
    "  --direction  direction column from 0 to 2pi (full, default) or from -pi/2\n"
    "               to pi/2 (half)\n"
    "  --json       print the outcome as one JSON object";

int Fail(const Message& message) {
  PrintMessages({message});
  return 1;
}

// The circle a press on the map in automatic mode finds from cell (x, y): the
// contour response, the trace of the outline and the fit.
bool FindCircle(AppState& state, long long x, long long y) {
  if (!ContourResponse(state, false)) {
    std::cerr << "no result map to compute the contour on\n";
    return false;
  }
  PressInput press;
  press.mode = PressMode::Automatic;
  press.x = static_cast<float>((x - 1) * state.ZoomFactor);
  press.y = static_cast<float>((y - 1) * state.ZoomFactor);
  SphereSession session;
  const PressResult result = HandleMapPress(state, session, press);
  PrintMessages(result.messages);
  if (!result.traced || !state.Circle.exists()) {
    std::cerr << "no circle found from the start cell " << x << " " << y << "\n";
    return false;
  }
  std::cerr << std::setprecision(17) << "circle " << state.Circle.CircleCentreX << " " << state.Circle.CircleCentreY << " "
            << state.Circle.CircleRadius << "\n";
  return true;
}

int Run(const std::vector<std::string>& argv) {
  Args args(argv, {{"--xlsx", 1},
                   {"--circle", 3},
                   {"--start", 2},
                   {"--data", 1},
                   {"--sep", 1},
                   {"--mode", 1},
                   {"--direction", 1},
                   {"--json", 0}});
  if (!args.ok()) {
    std::cerr << args.error() << "\n" << kUsage << "\n";
    return 2;
  }
  const auto& pos = args.positional();
  const std::string what = pos.empty() ? "" : pos.front();
  if (what != "coefficients" && what != "cells" && what != "heights") {
    std::cerr << "export needs one of: coefficients, cells, heights\n" << kUsage << "\n";
    return 2;
  }
  if (!args.has("--xlsx")) {
    std::cerr << "export needs --xlsx FILE\n";
    return 2;
  }
  const std::string out = args.value("--xlsx");
  const std::string sep = args.value("--sep", ",");
  if (args.has("--data") && args.value("--data").empty()) {
    std::cerr << "--data: the folder path is empty\n";
    return 2;
  }
  const std::string weights = LearningFiles(args.value("--data", DataFolder())).weights;

  Definition definition = Definition::Mean;
  if (args.has("--mode") && !ParseDefinition(args.value("--mode"), &definition)) {
    std::cerr << "--mode must be max, mean or luma\n";
    return 2;
  }
  DirectionConvention convention = DirectionConvention::FullTurn;
  if (args.has("--direction")) {
    const std::string d = args.value("--direction");
    if (d == "half") convention = DirectionConvention::HalfTurn;
    else if (d != "full") {
      std::cerr << "--direction must be full or half\n";
      return 2;
    }
  }

  ExportResult result;
  if (what == "coefficients") {
    if (pos.size() != 1) {
      std::cerr << "export coefficients takes no image files\n";
      return 2;
    }
    NetworkParameters parameters;
    result = ExportLearningCoefficients(parameters, weights, sep);
  } else {
    if (pos.size() != 5) {
      std::cerr << "export " << what << " needs four files: F0 F45 F90 F135\n";
      return 2;
    }
    if (args.has("--circle") == args.has("--start")) {
      std::cerr << "export " << what << " needs the sphere circle: --circle CX CY R or --start X Y\n";
      return 2;
    }
    std::optional<double> cx, cy, r;
    std::optional<long long> sx, sy;
    if (args.has("--circle")) {
      const auto v = args.values("--circle");
      cx = ToDouble(v[0]), cy = ToDouble(v[1]), r = ToDouble(v[2]);
      if (!cx || !cy || !r || *r < 0) {
        std::cerr << "--circle needs CX CY R in map cells, R not below 0\n";
        return 2;
      }
    } else {
      const auto v = args.values("--start");
      sx = ToInt(v[0]), sy = ToInt(v[1]);
      if (!sx || !sy || *sx < 1 || *sy < 1 || *sx > 1000000 || *sy > 1000000) {
        std::cerr << "--start needs a cell X Y (1-based)\n";
        return 2;
      }
    }
    AppState state;
    if (!LoadProcessedSet({pos.begin() + 1, pos.end()}, state, DefinitionBit(definition), false)) return 1;
    state.IntensityMode = ModeForDefinition(definition);
    if (cx) state.Circle = {*cx, *cy, *r};
    else if (!FindCircle(state, *sx, *sy)) return 1;
    if (what == "cells") {
      result = ExportSphereCells(state, convention);
    } else {
      NetworkParameters parameters;
      result = ExportRecognisedHeights(state, parameters, weights, sep, convention);
    }
  }
  if (!result.ok) return Fail(result.message.value_or(Message{"export failed"}));

  std::string error;
  if (!WriteXlsx(result.sheet, out, &error)) return Fail(Message{error, "", MessageIcon::Critical});

  const SheetRange used = result.sheet.UsedRange();
  const std::string range = used.empty() ? "" : RangeAddress(used);
  if (args.has("--json")) {
    std::cout << Json()
                     .add("export", what)
                     .add("file", out)
                     .add("used_range", range)
                     .add("rows", used.empty() ? 0 : used.lastRow)
                     .add("columns", used.empty() ? 0 : used.lastColumn)
                     .add("cells", result.sheet.CellCount())
                     .str()
              << "\n";
  } else {
    std::cout << "wrote " << out << ": " << what << ", " << result.sheet.CellCount() << " cells in "
              << (range.empty() ? "an empty sheet" : range) << "\n";
  }
  return 0;
}

}  // namespace

PS_REGISTER_COMMAND(Command{"export", "write the coefficient, sphere-cell or height sheet as an .xlsx workbook",
                            kUsage, Run});

}  // namespace ps::cli
