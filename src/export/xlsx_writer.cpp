#include "export/xlsx_writer.h"

#include <cmath>
#include <map>
#include <vector>

#include "state/atomic_file.h"

#ifdef PS_HAVE_XLSXWRITER
#include <xlsxwriter.h>
#endif

namespace ps {

namespace {

std::string Failure(const std::string& path, const std::string& reason) {
  return "Не удалось сохранить книгу \"" + path + "\": " + reason;
}

// The reason of a message "Не удаётся записать файл PATH: REASON".
std::string AfterColon(const std::string& message) {
  const size_t at = message.rfind(": ");
  return at == std::string::npos ? message : message.substr(at + 2);
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
  // The workbook goes to a temporary file beside the target (registered for
  // removal on a signal), which replaces the target only once it is complete
  // and on the disk.
  AtomicFile file;
  std::string reason;
  if (!file.open(path, &reason)) {
    message = Failure(path, AfterColon(reason));
    return false;
  }
  if (file.temporaryPath().empty()) {  // a device or a pipe: no workbook can be renamed over it
    message = Failure(path, "это не обычный файл");
    return false;
  }
  lxw_error result = LXW_NO_ERROR;
  {
    WorkbookWriter writer(file.temporaryPath());
    if (!writer.ok()) {
      message = Failure(path, "не удалось создать книгу");
      return false;
    }
    result = writer.Write(sheet);
    if (result == LXW_NO_ERROR) result = writer.Close();
  }
  if (result != LXW_NO_ERROR) {
    message = Failure(path, lxw_strerror(result));
    return false;
  }
  if (!file.commit(&reason)) {
    message = Failure(path, AfterColon(reason));
    return false;
  }
  return true;
#endif
}

}  // namespace ps
