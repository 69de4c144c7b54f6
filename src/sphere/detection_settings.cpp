#include "sphere/detection_settings.h"

#include <charconv>
#include <cmath>
#include <algorithm>
#include <type_traits>

#include "state/number_format.h"

namespace ps {

namespace {

enum class Cell { Corner, BesideCorner, EdgeMiddle, InnerDiagonal, InnerCross, Centre };

// Kind of cell (r, c) of the 5 x 5 grid (1-based).
Cell CellKind(int r, int c) {
  const bool outerR = r == 1 || r == 5, outerC = c == 1 || c == 5;
  if (outerR && outerC) return Cell::Corner;
  if (outerR || outerC) return (r == 3 || c == 3) ? Cell::EdgeMiddle : Cell::BesideCorner;
  if (r == 3 && c == 3) return Cell::Centre;
  return (r == 3 || c == 3) ? Cell::InnerCross : Cell::InnerDiagonal;
}

}  // namespace

const char* PresetCaption(KernelPreset preset) {
  switch (preset) {
    case KernelPreset::Square: return "Квадрат";
    case KernelPreset::Gauss: return "Распределение Гаусса";
    case KernelPreset::GaussWithoutCentre: return "Гауссовское распределение без центра";
  }
  return "";
}

PresetKernels PresetValues(KernelPreset preset) {
  // Weights: corner, beside corner, edge middle, inner diagonal, inner cross, centre.
  // Subtracted: inner diagonal, inner cross, centre.
  struct Table {
    float w[6];
    float s[3];
  };
  static constexpr Table kSquare{{4, 4, 4, 4, 4, 4}, {0, 0, 100}};
  static constexpr Table kGauss{{0.0095f, 0.2009f, 0.5551f, 4.238f, 11.7084f, 32.3492f}, {2.2947f, 10.5588f, 48.5861f}};
  static constexpr Table kNoCentre{{0.9804f, 2.3754f, 3.1903f, 5.7546f, 7.7288f, 10.3802f}, {0, 0, 100}};
  const Table& t = preset == KernelPreset::Square ? kSquare : preset == KernelPreset::Gauss ? kGauss : kNoCentre;
  PresetKernels k;
  for (int r = 1; r <= 5; ++r)
    for (int c = 1; c <= 5; ++c) {
      const Cell kind = CellKind(r, c);
      k.weight[r - 1][c - 1] = t.w[static_cast<int>(kind)];
      if (kind == Cell::InnerDiagonal) k.subtract[r - 1][c - 1] = t.s[0];
      if (kind == Cell::InnerCross) k.subtract[r - 1][c - 1] = t.s[1];
      if (kind == Cell::Centre) k.subtract[r - 1][c - 1] = t.s[2];
    }
  return k;
}

std::array<std::array<float, 5>, 5> StartWeightKernel() { return PresetValues(KernelPreset::GaussWithoutCentre).weight; }
std::array<std::array<float, 5>, 5> StartSubtractKernel() {
  return PresetValues(KernelPreset::GaussWithoutCentre).subtract;
}

std::string KernelTotalText(const std::array<std::array<float, 5>, 5>& kernel, const std::string& sep) {
  double total = 0;
  for (const auto& row : kernel)
    for (float v : row) total += v;
  return "Всего " + FormatNumber(total, "0.000000", sep) + " %  из 100 %";
}

int PreviewGrey(float weight) {
  const double g = std::nearbyint(255.0 - static_cast<double>(weight) * 255.0 / 100.0);
  if (!(g >= 0)) return 0;
  return static_cast<int>(std::min(g, 255.0));
}

std::string PresetValueText(float value, const std::string& sep) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  std::string s(buf, res.ptr);
  const size_t dot = s.find('.');
  if (dot != std::string::npos) s.replace(dot, 1, sep);
  return s;
}

FieldRange RangeOf(CheckedField field) {
  switch (field) {
    case CheckedField::Weight:
    case CheckedField::Subtract: return {0, 100};
    case CheckedField::Ellipticity:
    case CheckedField::Azimuth: return {0, 10000};
  }
  return {0, 0};
}

std::optional<double> AcceptedValue(CheckedField field, const std::string& text, const std::string& sep) {
  const auto v = ParseNumber(text, sep);
  const FieldRange range = RangeOf(field);
  if (!v || *v < range.min || *v > range.max) return std::nullopt;
  return v;
}

Message RefusalMessage(CheckedField field, const std::string& text, const std::string& keptText,
                       const std::string& sep) {
  const char* what = "";
  switch (field) {
    case CheckedField::Weight: what = "Весовой коэффициент"; break;
    case CheckedField::Subtract: what = "Весовой коэффициент вычитаемой области"; break;
    case CheckedField::Ellipticity: what = "Чувствительность к изменению эллиптичности"; break;
    case CheckedField::Azimuth: what = "Чувствительность к изменению азимута"; break;
  }
  const FieldRange range = RangeOf(field);
  std::string m = std::string(what) + " задаётся числом от " + FormatNumber(range.min, "0", sep) + " до " +
                  FormatNumber(range.max, "0", sep) + " %." + kCrLf;
  if (ParseNumber(text, sep))
    m += "Число " + text + " вне этих пределов.";
  else
    m += "«" + text + "» — не число.";
  m += std::string(kCrLf) + "Оставлено прежнее значение " + keptText + ".";
  return Message{m, "Настройки", MessageIcon::Exclamation};
}

DetectionSettingsModel::DetectionSettingsModel(DetectionSettings& settings, std::string decimalSeparator)
    : settings_(settings), sep_(std::move(decimalSeparator)) {}

void DetectionSettingsModel::Load() {
  fields_ = DetectionSettingsFields{};
  fields_.DiameterDeviation = FormatNumber(settings_.DiameterDeviationLimit, "#0.##", sep_);
  EditDiameterDeviation(fields_.DiameterDeviation);
  ForgetEntries();
  for (int K = 1; K <= 25; ++K) fields_.Weight[K - 1] = PresetValueText(settings_.WeightKernel[(K - 1) / 5][(K - 1) % 5], sep_);
  for (int K = 1; K <= 9; ++K)
    fields_.Subtract[K - 1] = PresetValueText(settings_.SubtractKernel[(K - 1) / 3 + 1][(K - 1) % 3 + 1], sep_);
  fields_.Option1 = settings_.ShowMode != 1;
  fields_.Option2 = settings_.ShowMode == 1;
  fields_.Ellipticity = SensitivityText(settings_.EllipticitySensitivity);
  fields_.Azimuth = SensitivityText(settings_.AzimuthSensitivity);
  if (settings_.RotationLimit != 0)
    EditRotationLimit(FormatNumber(settings_.RotationLimit / kPi * 180, "0", sep_));
  if (settings_.RotationChangeLimit != 0)
    EditRotationChangeLimit(FormatNumber(settings_.RotationChangeLimit / kPi * 180, "0", sep_));
  RefreshTotals();
}

std::string DetectionSettingsModel::SensitivityText(double fraction) const {
  return FormatNumber(fraction * 100, "0.######", sep_);
}

void DetectionSettingsModel::ApplyPreset(KernelPreset preset) {
  const PresetKernels k = PresetValues(preset);
  for (int K = 1; K <= 25; ++K) EditWeight(K, PresetValueText(k.weight[(K - 1) / 5][(K - 1) % 5], sep_));
  for (int K = 1; K <= 9; ++K) EditSubtract(K, PresetValueText(k.subtract[(K - 1) / 3 + 1][(K - 1) % 3 + 1], sep_));
  ForgetEntries();
}

void DetectionSettingsModel::EditWeight(int k, const std::string& text) {
  if (k < 1 || k > 25) return;
  fields_.Weight[k - 1] = text;
  if (!weightStart_[k - 1]) weightStart_[k - 1] = settings_.WeightKernel[(k - 1) / 5][(k - 1) % 5];
  if (const auto v = AcceptedValue(CheckedField::Weight, text, sep_))
    settings_.WeightKernel[(k - 1) / 5][(k - 1) % 5] = static_cast<float>(*v);
  RefreshTotals();
}

void DetectionSettingsModel::EditSubtract(int k, const std::string& text) {
  if (k < 1 || k > 9) return;
  fields_.Subtract[k - 1] = text;
  if (!subtractStart_[k - 1]) subtractStart_[k - 1] = settings_.SubtractKernel[(k - 1) / 3 + 1][(k - 1) % 3 + 1];
  if (const auto v = AcceptedValue(CheckedField::Subtract, text, sep_))
    settings_.SubtractKernel[(k - 1) / 3 + 1][(k - 1) % 3 + 1] = static_cast<float>(*v);
  RefreshTotals();
}

void DetectionSettingsModel::Refresh() {
  for (int K = 1; K <= 25; ++K) EditWeight(K, fields_.Weight[K - 1]);
  weightStart_.fill(std::nullopt);
}

void DetectionSettingsModel::RefreshTotals() {
  fields_.WeightTotal = KernelTotalText(settings_.WeightKernel, sep_);
  fields_.SubtractTotal = KernelTotalText(settings_.SubtractKernel, sep_);
}

void DetectionSettingsModel::EditEllipticity(const std::string& text) {
  fields_.Ellipticity = text;
  if (!ellipticityStart_) ellipticityStart_ = settings_.EllipticitySensitivity;
  if (const auto v = AcceptedValue(CheckedField::Ellipticity, text, sep_)) settings_.EllipticitySensitivity = *v / 100;
}

void DetectionSettingsModel::EditAzimuth(const std::string& text) {
  fields_.Azimuth = text;
  if (!azimuthStart_) azimuthStart_ = settings_.AzimuthSensitivity;
  if (const auto v = AcceptedValue(CheckedField::Azimuth, text, sep_)) settings_.AzimuthSensitivity = *v / 100;
}

template <class T>
std::optional<Message> DetectionSettingsModel::Confirm(CheckedField field, std::string& text, T& value,
                                                       std::optional<T>& start) {
  const std::optional<T> before = start;
  start.reset();
  if (AcceptedValue(field, text, sep_)) return std::nullopt;
  const bool blank = text.find_first_not_of(" \t") == std::string::npos;
  if (before) value = *before;
  const std::string typed = text;
  // Kernels hold percent in single precision; sensitivities a fraction.
  if constexpr (std::is_same_v<T, float>)
    text = PresetValueText(value, sep_);
  else
    text = SensitivityText(value);
  RefreshTotals();
  if (blank) return std::nullopt;
  return RefusalMessage(field, typed, text, sep_);
}

std::optional<Message> DetectionSettingsModel::ConfirmWeight(int k) {
  if (k < 1 || k > 25) return std::nullopt;
  return Confirm(CheckedField::Weight, fields_.Weight[k - 1], settings_.WeightKernel[(k - 1) / 5][(k - 1) % 5],
                 weightStart_[k - 1]);
}

std::optional<Message> DetectionSettingsModel::ConfirmSubtract(int k) {
  if (k < 1 || k > 9) return std::nullopt;
  return Confirm(CheckedField::Subtract, fields_.Subtract[k - 1],
                 settings_.SubtractKernel[(k - 1) / 3 + 1][(k - 1) % 3 + 1], subtractStart_[k - 1]);
}

std::optional<Message> DetectionSettingsModel::ConfirmEllipticity() {
  return Confirm(CheckedField::Ellipticity, fields_.Ellipticity, settings_.EllipticitySensitivity, ellipticityStart_);
}

std::optional<Message> DetectionSettingsModel::ConfirmAzimuth() {
  return Confirm(CheckedField::Azimuth, fields_.Azimuth, settings_.AzimuthSensitivity, azimuthStart_);
}

void DetectionSettingsModel::ForgetEntries() {
  weightStart_.fill(std::nullopt);
  subtractStart_.fill(std::nullopt);
  ellipticityStart_.reset();
  azimuthStart_.reset();
}

void DetectionSettingsModel::EditRotationLimit(const std::string& text) {
  fields_.RotationLimit = text;
  if (const auto v = ParseNumber(text, sep_)) settings_.RotationLimit = *v / 180 * kPi;
}

void DetectionSettingsModel::EditRotationChangeLimit(const std::string& text) {
  fields_.RotationChangeLimit = text;
  if (const auto v = ParseNumber(text, sep_)) settings_.RotationChangeLimit = *v / 180 * kPi;
}

void DetectionSettingsModel::EditDiameterDeviation(const std::string& text) {
  fields_.DiameterDeviation = text;
  if (const auto v = ParseNumber(text, sep_)) settings_.DiameterDeviationLimit = *v;
}

void DetectionSettingsModel::SelectShowMode(int mode) {
  if (mode != 0 && mode != 1) return;
  fields_.Option1 = mode == 0;
  fields_.Option2 = mode == 1;
  settings_.ShowMode = mode;
}

void ReadRotationLimits(DetectionSettings& settings, const std::string& rotationText,
                        const std::string& rotationChangeText, const std::string& sep) {
  if (settings.RotationLimit == 0)
    if (const auto v = ParseNumber(rotationText, sep)) settings.RotationLimit = *v * kPi / 180;
  if (settings.RotationChangeLimit == 0)
    if (const auto v = ParseNumber(rotationChangeText, sep)) settings.RotationChangeLimit = *v * kPi / 180;
}

}  // namespace ps
