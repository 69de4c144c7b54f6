#include "export/xlsx_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#ifdef PS_HAVE_XLSXWRITER
#include <xlsxwriter.h>
#endif

namespace ps {

namespace {

std::string Failure(const std::string& path, const std::string& reason) {
  return "Не удалось сохранить книгу \"" + path + "\": " + reason;
}

// The process's file-creation mask, read without changing it (umask() would
// have to set it to find it, racing with other threads).
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  return 022;
}

// A temporary file in the target's folder (so that the final rename stays on one
// file system), with the permissions a newly created file would get.
bool MakeTemporary(const std::string& path, std::string* tempPath, std::string* error) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  if (target.filename().empty()) {
    *error = Failure(path, "не указано имя файла");
    return false;
  }
  std::error_code ec;
  if (fs::is_directory(target, ec)) {
    *error = Failure(path, "это папка");
    return false;
  }
  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::string hidden = ".";
  hidden += target.filename().string();
  hidden += ".XXXXXX";
  const std::string pattern = (folder / hidden).string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  const int fd = ::mkstemp(buf.data());
  if (fd < 0) {
    *error = Failure(path, std::strerror(errno));
    return false;
  }
  ::fchmod(fd, 0666 & ~CurrentUmask());
  ::close(fd);
  *tempPath = buf.data();
  return true;
}

// Flushes the finished temporary file to disk before it replaces the target.
bool SyncFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

#ifdef PS_HAVE_XLSXWRITER

class WorkbookWriter {
 public:
  explicit WorkbookWriter(const std::string& file) {
    lxw_workbook_options options{};
    // Rows go to the file as they are written: a sheet of a million cells does
    // not need a second copy in memory.
    options.constant_memory = LXW_TRUE;
    book_ = workbook_new_opt(file.c_str(), &options);
    if (book_) sheet_ = workbook_add_worksheet(book_, kWorkbookSheetName);
  }
  ~WorkbookWriter() {
    // A workbook that was not closed normally is closed here to free its memory;
    // the file it writes is the temporary one, removed by the caller.
    if (book_) workbook_close(book_);
  }

  bool ok() const { return book_ && sheet_; }

  lxw_format* Format(const std::string& numberFormat) {
    if (numberFormat.empty()) return nullptr;
    auto it = formats_.find(numberFormat);
    if (it != formats_.end()) return it->second;
    lxw_format* f = workbook_add_format(book_);
    format_set_num_format(f, numberFormat.c_str());
    formats_[numberFormat] = f;
    return f;
  }

  lxw_error Write(const Sheet& sheet) {
    // Formats looked up once per column and once per distinct cell format, not
    // once per cell.
    std::vector<lxw_format*> columnFormats;
    for (int c : sheet.FormattedColumns()) {
      lxw_format* f = Format(sheet.ColumnFormat(c));
      if (static_cast<int>(columnFormats.size()) < c) columnFormats.resize(c, nullptr);
      columnFormats[c - 1] = f;
      const lxw_error e = worksheet_set_column(sheet_, static_cast<lxw_col_t>(c - 1), static_cast<lxw_col_t>(c - 1),
                                               sheet.ColumnWidth(c), f);
      if (e != LXW_NO_ERROR) return e;
    }
    std::map<const std::string*, lxw_format*> cellFormats;
    lxw_error result = LXW_NO_ERROR;
    sheet.ForEachCell([&](int row, int column, const CellValue& value, const std::string& ownFormat) {
      if (result != LXW_NO_ERROR) return;
      // A cell carries the format it shows with, as a spreadsheet application
      // stores it: its own, else its column's.
      lxw_format* f = nullptr;
      if (!ownFormat.empty()) {
        auto it = cellFormats.find(&ownFormat);
        if (it == cellFormats.end()) it = cellFormats.emplace(&ownFormat, Format(ownFormat)).first;
        f = it->second;
      } else if (column <= static_cast<int>(columnFormats.size())) {
        f = columnFormats[column - 1];
      }
      const auto r = static_cast<lxw_row_t>(row - 1);
      const auto c = static_cast<lxw_col_t>(column - 1);
      switch (value.kind) {
        case CellValue::Kind::Number:
          // The file format has no infinities or NaN: such a value is written as
          // the error text a spreadsheet shows for it.
          result = std::isfinite(value.number) ? worksheet_write_number(sheet_, r, c, value.number, f)
                                               : worksheet_write_string(sheet_, r, c, "#NUM!", f);
          break;
        case CellValue::Kind::Text:
          result = worksheet_write_string(sheet_, r, c, value.text.c_str(), f);
          break;
        default:
          result = worksheet_write_blank(sheet_, r, c, f);
      }
    });
    return result;
  }

  lxw_error Close() {
    const lxw_error e = workbook_close(book_);
    book_ = nullptr;
    return e;
  }

 private:
  lxw_workbook* book_ = nullptr;
  lxw_worksheet* sheet_ = nullptr;
  std::map<std::string, lxw_format*> formats_;
};

#endif

}  // namespace

bool XlsxWriterAvailable() {
#ifdef PS_HAVE_XLSXWRITER
  return true;
#else
  return false;
#endif
}

bool WriteXlsx(const Sheet& sheet, const std::string& path, std::string* error) {
  std::string ignored;
  std::string& message = error ? *error : ignored;
#ifndef PS_HAVE_XLSXWRITER
  (void)sheet;
  message = Failure(path, "программа собрана без записи книг .xlsx");
  return false;
#else
  std::string temp;
  if (!MakeTemporary(path, &temp, &message)) return false;
  lxw_error result = LXW_NO_ERROR;
  {
    WorkbookWriter writer(temp);
    if (!writer.ok()) {
      std::remove(temp.c_str());
      message = Failure(path, "не удалось создать книгу");
      return false;
    }
    result = writer.Write(sheet);
    if (result == LXW_NO_ERROR) result = writer.Close();
  }
  if (result != LXW_NO_ERROR) {
    std::remove(temp.c_str());
    message = Failure(path, lxw_strerror(result));
    return false;
  }
  if (!SyncFile(temp)) {
    const int err = errno;
    std::remove(temp.c_str());
    message = Failure(path, std::strerror(err));
    return false;
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    std::remove(temp.c_str());
    message = Failure(path, std::strerror(err));
    return false;
  }
  return true;
#endif
}

}  // namespace ps
