// The settings window's model without the window: the weight kernels and their
// three presets, the totals and preview grey levels, the sensitivities, the two
// rotation limits of the trace and the choice of what the map shows. Every
// field writes its value into the shared settings at once, as the window does.
#pragma once

#include <array>
#include <string>

#include "state/app_state.h"

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

class DetectionSettingsModel {
 public:
  DetectionSettingsModel(DetectionSettings& settings, std::string decimalSeparator = ",");

  // Loading the window: fields back to their initial texts, Text30 shows the
  // diameter limit, the subtracted kernel cleared, the option of ShowMode
  // selected, sensitivities 1, the preset "Гауссовское распределение без
  // центра", non-zero rotation limits shown in degrees.
  void Load();

  void ApplyPreset(KernelPreset preset);
  // Change of Text<K> (K = 1..25) / Text00<K> (K = 1..9): an empty text or one
  // that is not a number leaves the element; the totals are refreshed always.
  void EditWeight(int k, const std::string& text);
  void EditSubtract(int k, const std::string& text);
  // "Обновить": reads Text1..Text25 again in order.
  void Refresh();

  void EditEllipticity(const std::string& text);        // value / 100
  void EditAzimuth(const std::string& text);            // value / 100
  void EditRotationLimit(const std::string& text);      // value / 180 * 3.14159
  void EditRotationChangeLimit(const std::string& text);
  void EditDiameterDeviation(const std::string& text);  // value as it is
  void SelectShowMode(int mode);                        // Option1 (0) / Option2 (1) mouse-down

  const DetectionSettingsFields& fields() const { return fields_; }
  const DetectionSettings& settings() const { return settings_; }

 private:
  void RefreshTotals();
  DetectionSettings& settings_;
  std::string sep_;
  DetectionSettingsFields fields_;
};

// At each automatic press: a limit that is 0 is read from its field text (in
// degrees, converted as degrees * 3.14159 / 180); a text that is not a number
// leaves it 0.
void ReadRotationLimits(DetectionSettings& settings, const std::string& rotationText,
                        const std::string& rotationChangeText, const std::string& decimalSeparator);

}  // namespace ps
