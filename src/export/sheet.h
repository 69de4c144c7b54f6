// The worksheet model the exports fill: cell values written into A1 ranges or
// single cells, number formats for whole columns or ranges, column auto-fit, and
// the screen-updating and visibility switches of a spreadsheet application (kept
// as flags, they change nothing). The model is written to an .xlsx workbook by
// xlsx_writer.h and shown by the statistics window through the read API below.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ps {

// Size of a worksheet, as in current spreadsheet applications (last cell XFD1048576).
inline constexpr int kSheetMaxRows = 1048576;
inline constexpr int kSheetMaxColumns = 16384;
// Width of a column that was never fitted, in character units.
inline constexpr double kDefaultColumnWidth = 8.43;
inline constexpr const char* kGeneralFormat = "General";

// A failed sheet operation: a malformed address, a block whose shape does not
// match its range, an address beyond the sheet.
class SheetError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Column name of a 1-based column number: 1 -> "A", 26 -> "Z", 27 -> "AA",
// 702 -> "ZZ", 703 -> "AAA". Throws SheetError outside 1..kSheetMaxColumns.
std::string ColumnName(int column);
// Column number of a name ("A" -> 1, "aa" -> 27); 0 when the text is not a
// column name of the sheet.
int ColumnNumber(std::string_view name);
// A1 address of one cell: (2, 7) -> "G2". Throws SheetError outside the sheet.
std::string CellAddress(int row, int column);

// A rectangle of cells, 1-based and inclusive.
struct SheetRange {
  int firstRow = 1;
  int firstColumn = 1;
  int lastRow = 0;
  int lastColumn = 0;
  int rows() const { return lastRow - firstRow + 1; }
  int columns() const { return lastColumn - firstColumn + 1; }
  bool empty() const { return lastRow < firstRow || lastColumn < firstColumn; }
  bool operator==(const SheetRange&) const = default;
};

// Reads an A1 address: one cell ("G2"), a block ("A2:G8", corners in any order),
// whole columns ("A:H", "C") as rows 1..kSheetMaxRows. Letters may be lower case;
// "$" signs are ignored. Empty when the text is not an address of the sheet.
std::optional<SheetRange> ParseAddress(std::string_view address);
// The A1 text of a range: "G2" for one cell, "A2:G8" otherwise.
std::string RangeAddress(const SheetRange& range);

// One cell's content.
struct CellValue {
  enum class Kind : uint8_t { Empty, Number, Text };
  Kind kind = Kind::Empty;
  double number = 0;
  std::string text;

  CellValue() = default;
  CellValue(double v) : kind(Kind::Number), number(v) {}
  CellValue(float v) : kind(Kind::Number), number(v) {}
  CellValue(int v) : kind(Kind::Number), number(v) {}
  CellValue(std::string s) : kind(Kind::Text), text(std::move(s)) {}
  CellValue(const char* s) : kind(Kind::Text), text(s) {}

  bool isEmpty() const { return kind == Kind::Empty; }
  bool isNumber() const { return kind == Kind::Number; }
  bool isText() const { return kind == Kind::Text; }
  bool operator==(const CellValue&) const = default;
};

// A two-dimensional block of values for a range, 1-based access. Numbers take
// nine bytes a cell, so a block of a million cells stays small.
class CellBlock {
 public:
  CellBlock(int rows, int columns);
  int rows() const { return rows_; }
  int columns() const { return columns_; }
  void set(int row, int column, const CellValue& value);
  void set(int row, int column, double number);
  CellValue at(int row, int column) const;

 private:
  size_t Index(int row, int column) const;
  int rows_;
  int columns_;
  std::vector<double> numbers_;
  std::vector<CellValue::Kind> kinds_;
  std::map<size_t, std::string> texts_;
};

// The operations a spreadsheet application offers the exports. Each may fail by
// throwing SheetError (or any std::exception); the exports decide what a failure
// means for the user.
class SpreadsheetOperations {
 public:
  virtual ~SpreadsheetOperations() = default;
  virtual void SetScreenUpdating(bool on) = 0;
  virtual void SetVisible(bool on) = 0;
  virtual void SetRange(std::string_view address, const CellBlock& block) = 0;
  virtual void SetCell(int row, int column, const CellValue& value) = 0;
  virtual void SetColumnsNumberFormat(std::string_view columns, const std::string& format) = 0;
  virtual void SetRangeNumberFormat(std::string_view address, const std::string& format) = 0;
  virtual void AutoFitColumns(std::string_view columns) = 0;
};

class Sheet final : public SpreadsheetOperations {
 public:
  // --- Operations of the exports ---

  // "Range"(address) = block: the block's shape must equal the range's.
  void SetRange(std::string_view address, const CellBlock& block) override;
  // "Cells"(row, column) = value.
  void SetCell(int row, int column, const CellValue& value) override;
  // "Columns"(address)."EntireColumn"."NumberFormat" = format: every cell of the
  // columns, present and future, shows with the format.
  void SetColumnsNumberFormat(std::string_view columns, const std::string& format) override;
  // "Range"(address)."NumberFormat" = format.
  void SetRangeNumberFormat(std::string_view address, const std::string& format) override;
  // "Columns"(address)."EntireColumn"."AutoFit": each column becomes as wide as
  // its widest shown text; a column without content returns to the default width.
  void AutoFitColumns(std::string_view columns) override;
  // Switches of the application; recorded only.
  void SetScreenUpdating(bool on) override { screenUpdating_ = on; }
  void SetVisible(bool on) override { visible_ = on; }
  bool screenUpdating() const { return screenUpdating_; }
  bool visible() const { return visible_; }

  // --- Read API ---

  // The smallest range holding every cell with a value; empty for an empty sheet.
  SheetRange UsedRange() const;
  // Content of a cell (Empty outside the used range).
  CellValue Value(int row, int column) const;
  // The number format a cell shows with: its own, else its column's, else "General".
  std::string NumberFormat(int row, int column) const;
  // The cell's text as shown: numbers through the number format with the given
  // decimal separator, texts as they are, "" for an empty cell.
  std::string DisplayText(int row, int column, const std::string& decimalSeparator = ",") const;
  // Width of a column in character units (kDefaultColumnWidth unless fitted).
  double ColumnWidth(int column) const;
  bool HasColumnWidth(int column) const { return widths_.count(column) != 0; }
  // Format of a whole column ("" when none was set).
  std::string ColumnFormat(int column) const;
  // Columns that carry a format or a width, ascending.
  std::vector<int> FormattedColumns() const;

  // Cell-level view for writers: visits every cell that has a value or a format
  // of its own, row by row, columns ascending. `format` is the cell's own format
  // ("" when it inherits its column's).
  template <typename Visit>
  void ForEachCell(Visit&& visit) const {
    for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
      const auto& row = rows_[r];
      for (int c = 0; c < static_cast<int>(row.size()); ++c) {
        const Cell& cell = row[c];
        if (cell.kind == CellValue::Kind::Empty && cell.format < 0) continue;
        static const std::string kNone;
        visit(r + 1, c + 1, ToValue(cell), cell.format < 0 ? kNone : formats_[cell.format]);
      }
    }
  }

  // Number of cells that hold a value.
  long long CellCount() const { return valueCount_; }

 private:
  // 16 bytes a cell: large exports hold a million cells.
  struct Cell {
    double number = 0;
    int32_t text = -1;    // index into texts_
    int16_t format = -1;  // index into formats_; -1: inherits the column's
    CellValue::Kind kind = CellValue::Kind::Empty;
  };

  Cell& Touch(int row, int column);
  const Cell* Find(int row, int column) const;
  void Store(Cell& cell, const CellValue& value);
  CellValue ToValue(const Cell& cell) const;
  int16_t FormatIndex(const std::string& format);
  static SheetRange ColumnsOf(std::string_view address);
  static SheetRange RangeOf(std::string_view address);

  std::vector<std::vector<Cell>> rows_;  // rows_[r - 1][c - 1]
  std::vector<std::string> texts_;
  std::vector<std::string> formats_;
  std::map<int, int16_t> columnFormats_;
  std::map<int, double> widths_;
  long long valueCount_ = 0;
  bool screenUpdating_ = true;
  bool visible_ = false;
};

}  // namespace ps
