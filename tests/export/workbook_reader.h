// Opens a written workbook with an independent reader (openpyxl, through
// read_xlsx.py) and gives its cells, formats and column widths to the tests.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace ps::test {

struct ReadCell {
  bool number = false;
  double value = 0;
  std::string text;
  std::string format;
};

struct ReadWorkbook {
  std::string sheetTitle;
  std::string dimensions;            // "A1:W36"
  std::map<std::string, ReadCell> cells;  // by address
  std::map<std::string, double> widths;   // by column letters
  const ReadCell* cell(const std::string& address) const;
};

// Why a workbook cannot be read in this environment: empty when python3 with
// openpyxl is there.
std::string WorkbookReaderMissing();

// Reads `path`; empty with `error` set when the reader refuses the file.
std::optional<ReadWorkbook> ReadWithOpenpyxl(const std::string& path, std::string* error);

}  // namespace ps::test
