// The sheet shown inside the statistics window: a read-only table over the
// worksheet model the exports fill, with column letters and row numbers, the
// cells shown through their number formats and the columns as wide as fitted.
// Long texts run on over empty cells to their right, as a spreadsheet shows them.
#pragma once

#include <QAbstractTableModel>
#include <QTableView>
#include <memory>
#include <string>

#include "export/sheet.h"

namespace ps::ui {

class SheetModel : public QAbstractTableModel {
 public:
  explicit SheetModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  // Shows `sheet` (may be null: an empty grid). Numbers use `decimalSeparator`.
  void setSheet(std::shared_ptr<const Sheet> sheet, const std::string& decimalSeparator);
  const Sheet* sheet() const { return sheet_.get(); }

  // The grid covers the used range and a margin of empty cells, at least
  // kMinRows x kMinColumns, like the first screen of a spreadsheet.
  static constexpr int kMinRows = 30;
  static constexpr int kMinColumns = 12;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  std::shared_ptr<const Sheet> sheet_;
  std::string separator_ = ",";
  int rows_ = kMinRows;
  int columns_ = kMinColumns;
};

class SheetView : public QTableView {
 public:
  explicit SheetView(QWidget* parent = nullptr);

  void setSheet(std::shared_ptr<const Sheet> sheet, const std::string& decimalSeparator);
  const Sheet* sheet() const { return model_->sheet(); }
  SheetModel* sheetModel() const { return model_; }

  // Shown text of a cell (1-based), as the user reads it in the table.
  QString shownText(int row, int column) const;
  // Pixel width of a column of `width` character units in this view's font.
  int pixelsForWidth(double width) const;

 private:
  void applyWidthsAndSpans();

  SheetModel* model_;
};

}  // namespace ps::ui
