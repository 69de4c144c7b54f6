#include "windows/sheet_view.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <algorithm>
#include <cmath>

namespace ps::ui {

namespace {
QString FromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
}  // namespace

void SheetModel::setSheet(std::shared_ptr<const Sheet> sheet, const std::string& decimalSeparator) {
  beginResetModel();
  sheet_ = std::move(sheet);
  separator_ = decimalSeparator;
  rows_ = kMinRows;
  columns_ = kMinColumns;
  if (sheet_) {
    const SheetRange used = sheet_->UsedRange();
    if (!used.empty()) {
      rows_ = std::max(rows_, used.lastRow + 5);
      columns_ = std::max(columns_, used.lastColumn + 2);
    }
    // Columns that were formatted or fitted beyond the values stay in view.
    for (int c : sheet_->FormattedColumns()) columns_ = std::max(columns_, std::min(c + 1, kSheetMaxColumns));
  }
  rows_ = std::min(rows_, kSheetMaxRows);
  columns_ = std::min(columns_, kSheetMaxColumns);
  endResetModel();
}

int SheetModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }
int SheetModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columns_; }

QVariant SheetModel::data(const QModelIndex& index, int role) const {
  if (!sheet_ || !index.isValid()) return {};
  const int row = index.row() + 1, column = index.column() + 1;
  switch (role) {
    case Qt::DisplayRole:
      return FromUtf8(sheet_->DisplayText(row, column, separator_));
    case Qt::TextAlignmentRole: {
      // Numbers to the right, texts to the left, as a spreadsheet aligns them.
      const bool number = sheet_->Value(row, column).isNumber();
      return QVariant::fromValue(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
    }
    case Qt::ToolTipRole: {
      const CellValue v = sheet_->Value(row, column);
      if (!v.isNumber()) return {};
      // The full value behind the formatted text.
      return QString::number(v.number, 'g', 9);
    }
    default:
      return {};
  }
}

QVariant SheetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignCenter);
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) return FromUtf8(ColumnName(section + 1));
  return QString::number(section + 1);
}

SheetView::SheetView(QWidget* parent) : QTableView(parent), model_(new SheetModel(this)) {
  setModel(model_);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::ContiguousSelection);
  setWordWrap(false);
  setTextElideMode(Qt::ElideNone);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setMinimumSectionSize(8);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  horizontalHeader()->setDefaultSectionSize(pixelsForWidth(kDefaultColumnWidth));
  setStyleSheet(QStringLiteral("QTableView { gridline-color: #d4d4d4; background: white; }"));
}

int SheetView::pixelsForWidth(double width) const {
  // A spreadsheet's column width counts the digit "0" of the standard font,
  // plus a few pixels of cell margin.
  const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
  return static_cast<int>(std::ceil(width * digit)) + 6;
}

void SheetView::setSheet(std::shared_ptr<const Sheet> sheet, const std::string& decimalSeparator) {
  clearSpans();
  model_->setSheet(std::move(sheet), decimalSeparator);
  applyWidthsAndSpans();
  scrollToTop();
}

QString SheetView::shownText(int row, int column) const {
  return model_->data(model_->index(row - 1, column - 1), Qt::DisplayRole).toString();
}

void SheetView::applyWidthsAndSpans() {
  const Sheet* s = model_->sheet();
  const int columns = model_->columnCount();
  for (int c = 1; c <= columns; ++c)
    setColumnWidth(c - 1, pixelsForWidth(s ? s->ColumnWidth(c) : kDefaultColumnWidth));
  if (!s) return;
  // A text wider than its cell runs on over the empty cells to its right.
  const QFontMetrics fm = fontMetrics();
  s->ForEachCell([&](int row, int column, const CellValue& value, const std::string&) {
    if (!value.isText()) return;
    const int need = fm.horizontalAdvance(FromUtf8(value.text)) + 8;
    int have = columnWidth(column - 1);
    int span = 1;
    while (have < need && column + span <= columns && s->Value(row, column + span).isEmpty()) {
      have += columnWidth(column + span - 1);
      ++span;
    }
    if (span > 1) setSpan(row - 1, column - 1, 1, span);
  });
}

}  // namespace ps::ui
