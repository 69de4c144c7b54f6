// Opens a written workbook with an independent reader (openpyxl, through
// read_xlsx.py) and gives its cells, formats and column widths to the tests.
#pragma once

#include <gtest/gtest.h>

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
  const ReadCell* cell(const std::string& a) const {
    auto it = cells.find(a);
    return it == cells.end() ? nullptr : &it->second;
  }
  // A cell as "value format": numbers with 17 significant digits, texts in
  // quotes, "none" for an absent cell. One comparison checks kind, value and format.
  std::string show(const std::string& a) const {
    const ReadCell* c = cell(a);
    if (!c) return "none";
    char number[32];
    std::snprintf(number, sizeof number, "%.17g", c->value);
    return (c->number ? std::string(number) : "'" + c->text + "'") + " " + c->format;
  }
};

// Skips the test unless workbooks can be both written and read back here.
#define PS_SKIP_WITHOUT_WRITER_AND_READER()                                                         \
  do {                                                                                              \
    if (!::ps::XlsxWriterAvailable()) GTEST_SKIP() << "built without libxlsxwriter";                \
    if (std::system("/usr/bin/python3 -c 'import openpyxl' >/dev/null 2>&1") != 0)                  \
      GTEST_SKIP() << "python3 with openpyxl is not installed";                                     \
  } while (0)

// Reads `path`; adds a test failure (and returns an empty book) when the reader refuses it.
inline ReadWorkbook ReadBack(const std::string& path) {
  const std::string out = TempDir("openpyxl") + "/cells.tsv";
  const int status =
      std::system(("/usr/bin/python3 '" PS_TESTS_DIR "/export/read_xlsx.py' '" + path + "' > '" + out + "' 2>&1").c_str());
  std::istringstream all(ReadAll(out));
  ReadWorkbook book;
  if (status != 0) {
    ADD_FAILURE() << "read_xlsx.py failed (" << status << ") on " << path << ": " << all.str();
    return book;
  }
  for (std::string line; std::getline(all, line);) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string part; std::getline(fields, part, '\t');) f.push_back(part);
    if (f.size() >= 3 && f[0] == "SHEET") {
      book.sheetTitle = f[1];
      book.dimensions = f[2];
    } else if (f.size() >= 4 && f[0] == "CELL") {
      ReadCell& c = book.cells[f[1]];
      c.number = f[2] == "n";
      if (c.number) c.value = std::strtod(f[3].c_str(), nullptr);
      else c.text = f[3];
      c.format = f.size() >= 5 ? f[4] : "";
    } else if (f.size() >= 3 && f[0] == "WIDTH") {
      book.widths[f[1]] = std::strtod(f[2].c_str(), nullptr);
    }
  }
  return book;
}

// Writes `sheet` to `path` and reads it back.
inline ReadWorkbook WriteAndReadBack(const Sheet& sheet, const std::string& path) {
  std::string error;
  EXPECT_TRUE(WriteXlsx(sheet, path, &error)) << error;
  return ReadBack(path);
}

}  // namespace ps::test
