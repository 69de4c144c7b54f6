#include "export/workbook_reader.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "support/test_support.h"

namespace ps::test {

namespace {

// The first interpreter that has openpyxl: the system's (where the Debian
// package installs it) before whatever python3 the PATH finds.
const std::string& Interpreter() {
  static const std::string found = [] {
    for (const char* candidate : {"/usr/bin/python3", "python3"}) {
      const std::string probe = std::string(candidate) + " -c 'import openpyxl' >/dev/null 2>&1";
      if (std::system(probe.c_str()) == 0) return std::string(candidate);
    }
    return std::string();
  }();
  return found;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(line);
  while (std::getline(in, part, '\t')) parts.push_back(part);
  return parts;
}

}  // namespace

const ReadCell* ReadWorkbook::cell(const std::string& address) const {
  auto it = cells.find(address);
  return it == cells.end() ? nullptr : &it->second;
}

std::string WorkbookReaderMissing() {
  return Interpreter().empty() ? "python3 with openpyxl is not installed" : "";
}

std::optional<ReadWorkbook> ReadWithOpenpyxl(const std::string& path, std::string* error) {
  const std::string out = TempDir("openpyxl") + "/cells.tsv";
  const std::string command = Interpreter() + " '" PS_TESTS_DIR "/export/read_xlsx.py' '" + path + "' > '" + out +
                              "' 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream in(out);
  std::stringstream all;
  all << in.rdbuf();
  if (status != 0) {
    *error = "read_xlsx.py failed (" + std::to_string(status) + "): " + all.str();
    return std::nullopt;
  }
  ReadWorkbook book;
  std::string line;
  while (std::getline(all, line)) {
    const auto f = SplitTabs(line);
    if (f.size() >= 3 && f[0] == "SHEET") {
      book.sheetTitle = f[1];
      book.dimensions = f[2];
    } else if (f.size() >= 4 && f[0] == "CELL") {
      ReadCell c;
      c.number = f[2] == "n";
      if (c.number) c.value = std::strtod(f[3].c_str(), nullptr);
      else c.text = f[3];
      c.format = f.size() >= 5 ? f[4] : "";
      book.cells[f[1]] = c;
    } else if (f.size() >= 3 && f[0] == "WIDTH") {
      book.widths[f[1]] = std::strtod(f[2].c_str(), nullptr);
    }
  }
  return book;
}

}  // namespace ps::test
