// Opens a written workbook with an independent reader (openpyxl, through
// read_xlsx.py) and gives its cells, formats and column widths to the tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "export/xlsx_writer.h"
#include "support/test_support.h"

namespace ps::test {

struct ReadCell {
  bool number = false;
  double value = 0;
  std::string text, format;
};

struct ReadWorkbook {
  std::string sheetTitle, dimensions;     // dimensions: "A1:W36"
  std::map<std::string, ReadCell> cells;  // by address
  std::map<std::string, double> widths;   // by column letters
  const ReadCell* cell(const std::string& a) const { return cells.count(a) ? &cells.at(a) : nullptr; }
  // "value format": numbers with 17 significant digits, texts in quotes, "none" for an absent cell.
  std::string show(const std::string& a) const {
    char number[32];
    if (const ReadCell* c = cell(a)) {
      std::snprintf(number, sizeof number, "%.17g", c->value);
      return (c->number ? std::string(number) : "'" + c->text + "'") + " " + c->format;
    }
    return "none";
  }
};

inline bool CanWriteAndRead() {
  return XlsxWriterAvailable() && std::system("/usr/bin/python3 -c 'import openpyxl' >/dev/null 2>&1") == 0;
}
#define PS_SKIP_WITHOUT_WRITER_AND_READER() \
  if (!::ps::test::CanWriteAndRead()) GTEST_SKIP() << "needs libxlsxwriter and python3 with openpyxl"


// Reads `path`; a reader's refusal is a test failure (and an empty book).
inline ReadWorkbook ReadBack(const std::string& path) {
  const std::string out = TempDir("openpyxl") + "/cells.tsv", script = PS_TESTS_DIR "/export/read_xlsx.py";
  const int status = std::system(("/usr/bin/python3 '" + script + "' '" + path + "' > '" + out + "' 2>&1").c_str());
  std::istringstream all(ReadAll(out));
  ReadWorkbook book;
  if (status != 0) ADD_FAILURE() << "read_xlsx.py failed (" << status << ") on " << path << ": " << all.str();
  for (std::string line; status == 0 && std::getline(all, line);) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string part; std::getline(fields, part, '\t');) f.push_back(part);
    f.resize(std::max<size_t>(f.size(), 5));
    if (f[0] == "SHEET") book.sheetTitle = f[1], book.dimensions = f[2];
    if (f[0] == "WIDTH") book.widths[f[1]] = std::strtod(f[2].c_str(), nullptr);
    if (f[0] == "CELL") {
      const bool number = f[2] == "n";
      book.cells[f[1]] = {number, number ? std::strtod(f[3].c_str(), nullptr) : 0, number ? "" : f[3], f[4]};
    }
  }
  return book;
}

inline ReadWorkbook WriteAndReadBack(const Sheet& sheet, const std::string& path) {
  std::string error;
  EXPECT_TRUE(WriteXlsx(sheet, path, &error)) << error;
  return ReadBack(path);
}

}  // namespace ps::test
