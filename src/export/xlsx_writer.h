// Writes a worksheet model as an .xlsx workbook of one sheet: values, the number
// formats of cells and columns, and the fitted column widths.
#pragma once

#include <string>

#include "export/sheet.h"

namespace ps {

// Name of the one sheet of a written workbook.
inline constexpr const char* kWorkbookSheetName = "Лист1";

// True when the program was built with the workbook writer.
bool XlsxWriterAvailable();

// Writes `sheet` to `path`. The workbook is written to a temporary file beside
// the target and renamed over it only when complete, so a failed write leaves
// neither a half-written workbook nor a temporary file behind, and an existing
// file at `path` stays as it was. On failure returns false and puts a message
// for the user (naming the path and the reason) into `error`.
bool WriteXlsx(const Sheet& sheet, const std::string& path, std::string* error);

}  // namespace ps
