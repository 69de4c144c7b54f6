#include "export/sheet.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "state/number_format.h"

namespace ps {

// ---------------------------------------------------------------- addressing

std::string ColumnName(int column) {
  if (column < 1 || column > kSheetMaxColumns)
    throw SheetError("column " + std::to_string(column) + " is outside the sheet");
  // Bijective base 26: there is no zero digit, so Z is 26 and AA follows it.
  std::string name;
  while (column > 0) {
    const int rest = (column - 1) % 26;
    name.insert(name.begin(), static_cast<char>('A' + rest));
    column = (column - 1) / 26;
  }
  return name;
}

int ColumnNumber(std::string_view name) {
  if (name.empty() || name.size() > 3) return 0;
  int n = 0;
  for (char ch : name) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    if (ch < 'A' || ch > 'Z') return 0;
    n = n * 26 + (ch - 'A' + 1);
  }
  return n <= kSheetMaxColumns ? n : 0;
}

std::string CellAddress(int row, int column) {
  if (row < 1 || row > kSheetMaxRows) throw SheetError("row " + std::to_string(row) + " is outside the sheet");
  return ColumnName(column) + std::to_string(row);
}

namespace {

// One end of an address: letters, digits, or letters then digits. Zero for a
// part that is absent.
bool ParseEnd(std::string_view text, int* column, int* row) {
  std::string s;
  for (char ch : text)
    if (ch != '$') s.push_back(ch);
  size_t i = 0;
  while (i < s.size() && ((s[i] >= 'A' && s[i] <= 'Z') || (s[i] >= 'a' && s[i] <= 'z'))) ++i;
  const std::string letters = s.substr(0, i);
  const std::string digits = s.substr(i);
  if (letters.empty() && digits.empty()) return false;
  *column = 0;
  *row = 0;
  if (!letters.empty()) {
    *column = ColumnNumber(letters);
    if (*column == 0) return false;
  }
  if (!digits.empty()) {
    if (digits.size() > 7 || digits[0] == '0') return false;
    for (char ch : digits)
      if (ch < '0' || ch > '9') return false;
    *row = std::stoi(digits);
    if (*row > kSheetMaxRows) return false;
  }
  return true;
}

}  // namespace

std::optional<SheetRange> ParseAddress(std::string_view address) {
  const size_t colon = address.find(':');
  int c1 = 0, r1 = 0, c2 = 0, r2 = 0;
  if (colon == std::string_view::npos) {
    if (!ParseEnd(address, &c1, &r1) || c1 == 0) return std::nullopt;
    if (r1 == 0) return SheetRange{1, c1, kSheetMaxRows, c1};  // "C": one whole column
    return SheetRange{r1, c1, r1, c1};
  }
  if (!ParseEnd(address.substr(0, colon), &c1, &r1) || !ParseEnd(address.substr(colon + 1), &c2, &r2))
    return std::nullopt;
  if (c1 == 0 || c2 == 0) return std::nullopt;  // whole rows ("2:5") are not used
  if ((r1 == 0) != (r2 == 0)) return std::nullopt;
  if (r1 == 0) {
    r1 = 1;
    r2 = kSheetMaxRows;
  }
  return SheetRange{std::min(r1, r2), std::min(c1, c2), std::max(r1, r2), std::max(c1, c2)};
}

std::string RangeAddress(const SheetRange& range) {
  const std::string first = CellAddress(range.firstRow, range.firstColumn);
  if (range.rows() == 1 && range.columns() == 1) return first;
  return first + ":" + CellAddress(range.lastRow, range.lastColumn);
}

// ---------------------------------------------------------------- block

CellBlock::CellBlock(int rows, int columns) : rows_(rows), columns_(columns) {
  if (rows < 1 || columns < 1) throw SheetError("a block needs at least one row and one column");
  const size_t n = static_cast<size_t>(rows) * columns;
  numbers_.assign(n, 0.0);
  kinds_.assign(n, CellValue::Kind::Empty);
}

size_t CellBlock::Index(int row, int column) const {
  if (row < 1 || row > rows_ || column < 1 || column > columns_)
    throw std::out_of_range("cell (" + std::to_string(row) + ", " + std::to_string(column) + ") outside the block");
  return static_cast<size_t>(row - 1) * columns_ + (column - 1);
}

void CellBlock::set(int row, int column, double number) {
  const size_t i = Index(row, column);
  if (kinds_[i] == CellValue::Kind::Text) texts_.erase(i);
  kinds_[i] = CellValue::Kind::Number;
  numbers_[i] = number;
}

void CellBlock::set(int row, int column, const CellValue& value) {
  const size_t i = Index(row, column);
  if (kinds_[i] == CellValue::Kind::Text) texts_.erase(i);
  kinds_[i] = value.kind;
  numbers_[i] = value.number;
  if (value.kind == CellValue::Kind::Text) texts_[i] = value.text;
}

CellValue CellBlock::at(int row, int column) const {
  const size_t i = Index(row, column);
  switch (kinds_[i]) {
    case CellValue::Kind::Number: return CellValue(numbers_[i]);
    case CellValue::Kind::Text: return CellValue(texts_.at(i));
    default: return CellValue();
  }
}

// ---------------------------------------------------------------- sheet

SheetRange Sheet::RangeOf(std::string_view address) {
  auto range = ParseAddress(address);
  if (!range) throw SheetError("not a cell address: " + std::string(address));
  return *range;
}

SheetRange Sheet::ColumnsOf(std::string_view address) {
  // "EntireColumn" of any range: the columns it touches.
  SheetRange range = RangeOf(address);
  range.firstRow = 1;
  range.lastRow = kSheetMaxRows;
  return range;
}

Sheet::Cell& Sheet::Touch(int row, int column) {
  if (row < 1 || row > kSheetMaxRows || column < 1 || column > kSheetMaxColumns)
    throw SheetError("cell (" + std::to_string(row) + ", " + std::to_string(column) + ") is outside the sheet");
  if (static_cast<int>(rows_.size()) < row) rows_.resize(row);
  auto& cells = rows_[row - 1];
  if (static_cast<int>(cells.size()) < column) cells.resize(column);
  return cells[column - 1];
}

const Sheet::Cell* Sheet::Find(int row, int column) const {
  if (row < 1 || column < 1 || row > static_cast<int>(rows_.size())) return nullptr;
  const auto& cells = rows_[row - 1];
  if (column > static_cast<int>(cells.size())) return nullptr;
  return &cells[column - 1];
}

void Sheet::Store(Cell& cell, const CellValue& value) {
  valueCount_ += (value.kind != CellValue::Kind::Empty) - (cell.kind != CellValue::Kind::Empty);
  cell.kind = value.kind;
  cell.number = value.kind == CellValue::Kind::Number ? value.number : 0;
  if (value.kind == CellValue::Kind::Text) {
    if (cell.text >= 0) {
      texts_[cell.text] = value.text;  // reuse the cell's slot
    } else {
      cell.text = static_cast<int32_t>(texts_.size());
      texts_.push_back(value.text);
    }
  } else if (cell.text >= 0) {
    texts_[cell.text].clear();
    texts_[cell.text].shrink_to_fit();
  }
}

CellValue Sheet::ToValue(const Cell& cell) const {
  switch (cell.kind) {
    case CellValue::Kind::Number: return CellValue(cell.number);
    case CellValue::Kind::Text: return CellValue(texts_[cell.text]);
    default: return CellValue();
  }
}

int16_t Sheet::FormatIndex(const std::string& format) {
  for (size_t i = 0; i < formats_.size(); ++i)
    if (formats_[i] == format) return static_cast<int16_t>(i);
  if (formats_.size() >= 32000) throw SheetError("too many number formats");
  formats_.push_back(format);
  return static_cast<int16_t>(formats_.size() - 1);
}

void Sheet::SetRange(std::string_view address, const CellBlock& block) {
  const SheetRange range = RangeOf(address);
  if (range.rows() != block.rows() || range.columns() != block.columns())
    throw SheetError("a block of " + std::to_string(block.rows()) + " x " + std::to_string(block.columns()) +
                     " values does not fit the range " + std::string(address));
  for (int r = 0; r < block.rows(); ++r)
    for (int c = 0; c < block.columns(); ++c)
      Store(Touch(range.firstRow + r, range.firstColumn + c), block.at(r + 1, c + 1));
}

void Sheet::SetCell(int row, int column, const CellValue& value) { Store(Touch(row, column), value); }

void Sheet::SetColumnsNumberFormat(std::string_view columns, const std::string& format) {
  const SheetRange range = ColumnsOf(columns);
  const int16_t index = FormatIndex(format);
  for (int c = range.firstColumn; c <= range.lastColumn; ++c) columnFormats_[c] = index;
  // Cells formatted earlier take the column's format again.
  for (auto& cells : rows_)
    for (int c = range.firstColumn; c <= std::min(range.lastColumn, static_cast<int>(cells.size())); ++c)
      cells[c - 1].format = -1;
}

void Sheet::SetRangeNumberFormat(std::string_view address, const std::string& format) {
  const SheetRange range = RangeOf(address);
  if (range.rows() == kSheetMaxRows) {
    SetColumnsNumberFormat(address, format);
    return;
  }
  const int16_t index = FormatIndex(format);
  for (int r = range.firstRow; r <= range.lastRow; ++r)
    for (int c = range.firstColumn; c <= range.lastColumn; ++c) Touch(r, c).format = index;
}

namespace {

size_t CodePoints(const std::string& s) {
  size_t n = 0;
  for (unsigned char ch : s) n += (ch & 0xC0) != 0x80;
  return n;
}

// A number pattern of '0' and '#' with, after an optional point, only '0': the
// shown length of a number then follows from its rounded magnitude alone.
struct FixedPattern {
  bool fixed = false;
  int minInt = 0;
  int frac = 0;
};

FixedPattern AnalysePattern(const std::string& format) {
  FixedPattern p;
  const size_t dot = format.find('.');
  for (size_t i = 0; i < format.size(); ++i) {
    const char ch = format[i];
    if (i == dot) continue;
    if (i < dot) {
      if (ch == '0') ++p.minInt;
      else if (ch != '#') return {};
    } else {
      if (ch != '0') return {};
      ++p.frac;
    }
  }
  p.fixed = !format.empty();
  return p;
}

// Length of FormatNumber(v, pattern) without formatting, or -1 when the value
// lies so close to a rounding boundary that only the formatter can tell.
int FixedLength(double v, const FixedPattern& p) {
  static const double kPow10[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10};
  if (!std::isfinite(v) || p.frac > 10) return -1;
  const double scaled = std::fabs(v) * kPow10[p.frac];
  if (scaled >= 1e9) return -1;
  if (std::fabs(scaled - std::floor(scaled) - 0.5) < 1e-6) return -1;
  const double rounded = std::floor(scaled + 0.5);
  const double whole = std::floor(rounded / kPow10[p.frac] + 1e-9);
  int digits = 0;
  for (double w = whole; w >= 1; w = std::floor(w / 10)) ++digits;
  digits = std::max(digits, p.minInt);
  const bool negative = v < 0 && rounded != 0;
  return (negative ? 1 : 0) + digits + (p.frac > 0 ? 1 + p.frac : 0);
}

}  // namespace

void Sheet::AutoFitColumns(std::string_view columns) {
  const SheetRange range = ColumnsOf(columns);
  const int last = std::min(range.lastColumn, kSheetMaxColumns);
  std::vector<size_t> widest(last - range.firstColumn + 1, 0);
  std::vector<bool> seen(widest.size(), false);
  std::vector<FixedPattern> patterns(formats_.size());
  for (size_t i = 0; i < formats_.size(); ++i) patterns[i] = AnalysePattern(formats_[i]);
  for (int r = 1; r <= static_cast<int>(rows_.size()); ++r) {
    const auto& cells = rows_[r - 1];
    for (int c = range.firstColumn; c <= std::min(last, static_cast<int>(cells.size())); ++c) {
      const Cell& cell = cells[c - 1];
      if (cell.kind == CellValue::Kind::Empty) continue;
      const size_t k = c - range.firstColumn;
      int length = -1;
      if (cell.kind == CellValue::Kind::Number) {
        int format = cell.format;
        if (format < 0) {
          auto it = columnFormats_.find(c);
          format = it != columnFormats_.end() ? it->second : -1;
        }
        if (format >= 0 && patterns[format].fixed) length = FixedLength(cell.number, patterns[format]);
      }
      const size_t shown = length >= 0 ? static_cast<size_t>(length) : CodePoints(DisplayText(r, c));
      widest[k] = std::max(widest[k], shown);
      seen[k] = true;
    }
  }
  for (size_t k = 0; k < widest.size(); ++k) {
    const int c = range.firstColumn + static_cast<int>(k);
    if (seen[k])
      // One character unit per character plus the cell's margins.
      widths_[c] = std::round((static_cast<double>(widest[k]) + 0.71) * 100) / 100;
    else
      widths_.erase(c);
  }
}

SheetRange Sheet::UsedRange() const {
  SheetRange used{1, 1, 0, 0};
  int firstRow = 0, firstColumn = kSheetMaxColumns + 1, lastRow = 0, lastColumn = 0;
  for (int r = 1; r <= static_cast<int>(rows_.size()); ++r) {
    const auto& cells = rows_[r - 1];
    for (int c = 1; c <= static_cast<int>(cells.size()); ++c) {
      if (cells[c - 1].kind == CellValue::Kind::Empty) continue;
      if (firstRow == 0) firstRow = r;
      lastRow = r;
      firstColumn = std::min(firstColumn, c);
      lastColumn = std::max(lastColumn, c);
    }
  }
  if (firstRow == 0) return used;
  return SheetRange{firstRow, firstColumn, lastRow, lastColumn};
}

CellValue Sheet::Value(int row, int column) const {
  const Cell* cell = Find(row, column);
  return cell ? ToValue(*cell) : CellValue();
}

std::string Sheet::NumberFormat(int row, int column) const {
  const Cell* cell = Find(row, column);
  if (cell && cell->format >= 0) return formats_[cell->format];
  auto it = columnFormats_.find(column);
  return it != columnFormats_.end() ? formats_[it->second] : kGeneralFormat;
}

std::string Sheet::ColumnFormat(int column) const {
  auto it = columnFormats_.find(column);
  return it != columnFormats_.end() ? formats_[it->second] : std::string();
}

std::vector<int> Sheet::FormattedColumns() const {
  std::vector<int> out;
  for (const auto& [c, f] : columnFormats_) out.push_back(c);
  for (const auto& [c, w] : widths_) out.push_back(c);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

double Sheet::ColumnWidth(int column) const {
  auto it = widths_.find(column);
  return it != widths_.end() ? it->second : kDefaultColumnWidth;
}

namespace {

// "General": whole numbers as they are, others with as many significant digits
// as fit in eleven characters, very large or small ones in exponent form.
std::string GeneralText(double v, const std::string& sep) {
  if (std::isnan(v)) return "#NUM!";
  if (std::isinf(v)) return "#NUM!";
  char buf[64];
  std::string s;
  if (v == std::floor(v) && std::fabs(v) < 1e11) {
    std::snprintf(buf, sizeof buf, "%.0f", v);
    s = buf;
  } else {
    for (int digits = 10; digits >= 1; --digits) {
      std::snprintf(buf, sizeof buf, "%.*G", digits, v);
      s = buf;
      if (s.size() <= 11) break;
    }
  }
  if (s == "-0") s = "0";
  const size_t dot = s.find('.');
  if (dot != std::string::npos) s.replace(dot, 1, sep);
  return s;
}

bool IsDigitPattern(const std::string& format) {
  if (format.empty()) return false;
  int dots = 0;
  for (char ch : format) {
    if (ch == '.') ++dots;
    else if (ch != '0' && ch != '#') return false;
  }
  return dots <= 1;
}

}  // namespace

std::string Sheet::DisplayText(int row, int column, const std::string& decimalSeparator) const {
  const Cell* cell = Find(row, column);
  if (!cell) return {};
  switch (cell->kind) {
    case CellValue::Kind::Text: return texts_[cell->text];
    case CellValue::Kind::Number: {
      const std::string format = NumberFormat(row, column);
      if (!std::isfinite(cell->number)) return "#NUM!";
      if (IsDigitPattern(format)) return FormatNumber(cell->number, format, decimalSeparator);
      return GeneralText(cell->number, decimalSeparator);
    }
    default: return {};
  }
}

}  // namespace ps
