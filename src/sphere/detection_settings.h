// The settings window's model without the window: the weight kernels and their
// three presets, the totals and preview grey levels, the sensitivities, the two
// rotation limits of the trace and the choice of what the map shows. Every
// field writes its value into the shared settings at once, as the window does.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "state/app_state.h"
#include "state/message.h"

namespace ps {

enum class KernelPreset { Square, Gauss, GaussWithoutCentre };
const char* PresetCaption(KernelPreset preset);  // "Квадрат", "Распределение Гаусса", ...

// Preset values in percent: the 5 x 5 weights and the 5 x 5 subtracted kernel
// (only its centre 3 x 3 is ever non-zero), [row-1][column-1].
struct PresetKernels {
  std::array<std::array<float, 5>, 5> weight{};
  std::array<std::array<float, 5>, 5> subtract{};
};
PresetKernels PresetValues(KernelPreset preset);

// The texts the window shows.
struct DetectionSettingsFields {
  std::array<std::string, 25> Weight;    // Text1..Text25, row r = (K-1)\5+1, column (K-1) mod 5+1
  std::array<std::string, 9> Subtract;   // Text001..Text009, SubtractKernel(r+1, c+1) of a 3 x 3 grid
  std::string Ellipticity = "100";       // Text26, percent
  std::string Azimuth = "100";           // Text27, percent
  std::string RotationLimit = "60";      // Text28, degrees
  std::string RotationChangeLimit = "35";// Text29, degrees
  std::string DiameterDeviation;         // Text30
  bool Option1 = true;                   // "Интенсивность"
  bool Option2 = false;                  // "Изменение поляризации"
  std::string WeightTotal;               // Label2
  std::string SubtractTotal;             // Label8
};

// "Всего " + total formatted "0.000000" + " %  из 100 %".
std::string KernelTotalText(const std::array<std::array<float, 5>, 5>& kernel, const std::string& decimalSeparator);
// Grey level of a weight in the preview: 255 - w * 255 / 100, rounded, held to 0..255.
int PreviewGrey(float weight);
// The shortest text of a preset value with the given decimal separator ("4", "0,0095").
std::string PresetValueText(float value, const std::string& decimalSeparator);

// The fields whose entries are checked against a range: a weight of either
// kernel is 0..100 %, a sensitivity 0..10000 % (100 % leaves the change map's
// colours as they are; the upper end lets faint changes reach full colour).
enum class CheckedField { Weight, Subtract, Ellipticity, Azimuth };
struct FieldRange {
  double min;
  double max;
};
FieldRange RangeOf(CheckedField field);
// The value a text stands for, when it is a number inside the field's range.
std::optional<double> AcceptedValue(CheckedField field, const std::string& text, const std::string& decimalSeparator);
// Why a confirmed entry is refused: what the field takes, what is wrong with
// the text and the value kept. Title "Настройки", exclamation icon.
Message RefusalMessage(CheckedField field, const std::string& text, const std::string& keptText,
                       const std::string& decimalSeparator);

class DetectionSettingsModel {
 public:
  DetectionSettingsModel(DetectionSettings& settings, std::string decimalSeparator = ",");

  // Loading the window: the fields show the settings as they are (the user's
  // kernels and sensitivities stay until edited or a preset is chosen; a new
  // session starts with the preset "Гауссовское распределение без центра"),
  // Text30 the diameter limit, the option of ShowMode selected, non-zero
  // rotation limits in degrees, zero ones the fields' initial texts.
  void Load();

  void ApplyPreset(KernelPreset preset);
  // Change of Text<K> (K = 1..25) / Text00<K> (K = 1..9) while it is typed: a
  // number in 0..100 is stored; an empty text, one that is not a number or
  // one out of range leaves the element. The totals are refreshed always.
  void EditWeight(int k, const std::string& text);
  void EditSubtract(int k, const std::string& text);
  // "Обновить": reads Text1..Text25 again in order.
  void Refresh();

  // Enter in a field, or leaving it: a text the field cannot take puts the
  // field back to the value it had before this entry and returns the
  // refusal; an empty text goes back silently; an accepted text stays.
  std::optional<Message> ConfirmWeight(int k);
  std::optional<Message> ConfirmSubtract(int k);
  std::optional<Message> ConfirmEllipticity();
  std::optional<Message> ConfirmAzimuth();

  void EditEllipticity(const std::string& text);        // value / 100, when in range
  void EditAzimuth(const std::string& text);            // value / 100, when in range
  void EditRotationLimit(const std::string& text);      // value / 180 * 3.14159
  void EditRotationChangeLimit(const std::string& text);
  void EditDiameterDeviation(const std::string& text);  // value as it is
  void SelectShowMode(int mode);                        // Option1 (0) / Option2 (1) mouse-down

  const DetectionSettingsFields& fields() const { return fields_; }
  const DetectionSettings& settings() const { return settings_; }

 private:
  void RefreshTotals();
  // Confirms `text`; `value` is the stored element and `start` the value it
  // had when this entry began (set by the first edit since the last confirm).
  template <class T>
  std::optional<Message> Confirm(CheckedField field, std::string& text, T& value, std::optional<T>& start);
  void ForgetEntries();
  std::string SensitivityText(double fraction) const;
  DetectionSettings& settings_;
  std::string sep_;
  DetectionSettingsFields fields_;
  // Values before the entry being typed: an entry refused on confirming puts
  // its field back to this, not to a number typed on the way ("15" of "150").
  std::array<std::optional<float>, 25> weightStart_;
  std::array<std::optional<float>, 9> subtractStart_;
  std::optional<double> ellipticityStart_, azimuthStart_;
};

// At each automatic press: a limit that is 0 is read from its field text (in
// degrees, converted as degrees * 3.14159 / 180); a text that is not a number
// leaves it 0.
void ReadRotationLimits(DetectionSettings& settings, const std::string& rotationText,
                        const std::string& rotationChangeText, const std::string& decimalSeparator);

}  // namespace ps
