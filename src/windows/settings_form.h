// The detection settings window: weight kernels with their presets, totals and
// previews, the sensitivities of the change map, the rotation limits of the
// trace and the choice of what the map shows. Every field writes to the shared
// settings at once; the kernel and sensitivity fields take only numbers in
// their range (the model's rule) and say why when an entry is refused.
#pragma once

#include <QDialog>
#include <array>
#include <memory>
#include <optional>

#include "state/app_state.h"
#include "state/message.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace ps {
class DetectionSettingsModel;
}

namespace ps::ui {

class ФормаНастроек : public QDialog {
 public:
  ФормаНастроек(AppState& state, QWidget* owner);
  ~ФормаНастроек() override;

  std::array<QLineEdit*, 25> Weight{};   // Text1..Text25
  std::array<QLineEdit*, 9> Subtract{};  // Text001..Text009
  QLabel* Label2;                        // weight total
  QLabel* Label8;                        // subtracted total
  QLabel* Picture2;                      // weight preview
  QLabel* Picture3;                      // subtracted preview
  QPushButton* Command1;                 // "Обновить"
  QPushButton* Command2;                 // "Гауссовское распределение без центра"
  QPushButton* Command3;                 // "Распределение Гаусса"
  QPushButton* Command4;                 // "Квадрат"
  QRadioButton* Option1;
  QRadioButton* Option2;
  QLineEdit* Text26;
  QLineEdit* Text27;
  QLineEdit* Text28;
  QLineEdit* Text29;
  QLineEdit* Text30;

 private:
  void showFields();  // field texts, totals and previews from the model
  // A field confirmed (Enter or focus leaving it): shows the kept value and,
  // for a refused entry, the reason.
  void confirm(const std::optional<Message>& refusal);
  bool showing_ = false;  // showFields is setting the controls

  AppState& state_;
  std::unique_ptr<DetectionSettingsModel> model_;
};

}  // namespace ps::ui
