// The settings model: presets, totals, load-time reset, field parsing.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "sphere/detection_settings.h"
#include "state/number_format.h"

namespace ps {
namespace {

TEST(KernelPresets, ValuesTotalsAndTheirTexts) {
  for (KernelPreset p : {KernelPreset::Square, KernelPreset::Gauss, KernelPreset::GaussWithoutCentre}) {
    const PresetKernels k = PresetValues(p);
    double total = 0;
    for (int r = 0; r < 5; ++r)
      for (int c = 0; c < 5; ++c) {
        total += k.weight[r][c];
        if (r == 0 || r == 4 || c == 0 || c == 4) EXPECT_EQ(k.subtract[r][c], 0);
        EXPECT_EQ(k.weight[r][c], k.weight[c][r]);
        EXPECT_EQ(k.weight[r][c], k.weight[4 - r][c]);
      }
    EXPECT_NEAR(total, 100, 0.0005) << PresetCaption(p);
  }
  const PresetKernels g = PresetValues(KernelPreset::Gauss);
  EXPECT_EQ(std::make_tuple(g.weight[0][0], g.weight[0][1], g.weight[2][2], g.subtract[2][1]),
            std::make_tuple(0.0095f, 0.2009f, 32.3492f, 10.5588f));
  EXPECT_STREQ(PresetCaption(KernelPreset::GaussWithoutCentre), "Гауссовское распределение без центра");
  DetectionSettings s;
  DetectionSettingsModel m(s, ",");
  m.ApplyPreset(KernelPreset::Square);
  const auto& f = m.fields();
  EXPECT_EQ(std::tie(f.WeightTotal, f.SubtractTotal), std::make_tuple("Всего 100,000000 %  из 100 %", "Всего 100,000000 %  из 100 %"));
  EXPECT_EQ(std::tie(f.Weight[0], f.Subtract[4]), std::make_tuple("4", "100"));
  EXPECT_EQ(s.WeightKernel[4][4], 4);
  DetectionSettingsModel dot(s, ".");
  dot.ApplyPreset(KernelPreset::Gauss);
  EXPECT_EQ(std::tie(dot.fields().Weight[0], dot.fields().Subtract[0]), std::make_tuple("0.0095", "2.2947"));
}

TEST(DetectionSettingsModel, SessionStartsWithTheNoCentrePresetAndLoadKeepsEdits) {
  // A new session's settings are what loading the window used to give.
  DetectionSettings s;
  const PresetKernels want = PresetValues(KernelPreset::GaussWithoutCentre);
  EXPECT_EQ(std::tie(s.WeightKernel, s.SubtractKernel), std::tie(want.weight, want.subtract));
  EXPECT_EQ(AppState().Detection.WeightKernel, want.weight);
  // Loading the window shows the settings as they are and changes none.
  s.WeightKernel[0][0] = 3.5f;
  s.SubtractKernel[1][1] = 7;
  s.EllipticitySensitivity = 0.2;
  s.AzimuthSensitivity = 3;
  s.ShowMode = 1;
  const DetectionSettings before = s;
  DetectionSettingsModel m(s, ",");
  m.Load();
  EXPECT_EQ(std::tie(s.WeightKernel, s.SubtractKernel, s.EllipticitySensitivity, s.AzimuthSensitivity, s.RotationLimit),
            std::tie(before.WeightKernel, before.SubtractKernel, before.EllipticitySensitivity,
                     before.AzimuthSensitivity, before.RotationLimit));
  const auto& f = m.fields();
  EXPECT_EQ(std::tie(f.Weight[0], f.Weight[12], f.Subtract[0], f.Subtract[4], f.Ellipticity, f.Azimuth),
            std::make_tuple("3,5", "10,3802", "7", "100", "20", "300"));
  EXPECT_EQ(f.DiameterDeviation, "0,5");
  EXPECT_TRUE(!f.Option1 && f.Option2);
  // A zero limit only shows the field's initial text; a set one shows degrees.
  EXPECT_EQ(std::tie(f.RotationLimit, f.RotationChangeLimit), std::make_tuple("60", "35"));
  s.RotationLimit = 90 * kPi / 180;
  s.RotationChangeLimit = 0.5;
  m.Load();
  EXPECT_EQ(std::tie(f.RotationLimit, f.RotationChangeLimit), std::make_tuple("90", "29"));
  // A preset replaces the edits; "Обновить" reads the weight boxes again.
  m.ApplyPreset(KernelPreset::GaussWithoutCentre);
  EXPECT_EQ(s.WeightKernel, want.weight);
  for (auto& row : s.WeightKernel) row.fill(0);
  m.Refresh();
  EXPECT_EQ(s.WeightKernel, want.weight);
}

TEST(DetectionSettingsModel, EditingKernelFieldsSensitivitiesAndOptions) {
  DetectionSettings s;
  DetectionSettingsModel m(s, ",");
  m.Load();
  const float before = s.WeightKernel[1][2];
  // Clearing a box keeps the element and still refreshes the totals.
  s.WeightKernel[0][0] = 50;  // changed behind the model's back
  m.EditWeight(8, "");
  EXPECT_EQ(std::tie(s.WeightKernel[1][2], m.fields().Weight[7]), std::make_tuple(before, ""));
  EXPECT_NE(m.fields().WeightTotal.find("149,0"), std::string::npos) << m.fields().WeightTotal;
  m.EditWeight(8, "abc");  // not a number: unchanged
  EXPECT_EQ(s.WeightKernel[1][2], before);
  m.EditWeight(8, "12,5");
  m.EditSubtract(1, "3,25");  // Text001 = SubtractKernel(2, 2)
  m.EditSubtract(9, "1");     // Text009 = SubtractKernel(4, 4)
  EXPECT_EQ(std::make_tuple(s.WeightKernel[1][2], s.SubtractKernel[1][1], s.SubtractKernel[3][3]),
            std::make_tuple(12.5f, 3.25f, 1.0f));
  EXPECT_EQ(m.fields().SubtractTotal, "Всего 104,250000 %  из 100 %");
  // Boxes that do not exist change nothing.
  const auto kernel = s.WeightKernel;
  m.EditWeight(0, "5");
  m.EditWeight(26, "5");
  m.EditSubtract(10, "5");
  EXPECT_EQ(s.WeightKernel, kernel);

  m.EditEllipticity("50");
  m.EditAzimuth("250");
  m.EditAzimuth("");  // empty: kept
  m.EditRotationLimit("90");
  m.EditRotationChangeLimit("x");
  m.EditDiameterDeviation("0,75");
  EXPECT_EQ(std::tie(s.EllipticitySensitivity, s.AzimuthSensitivity, s.RotationChangeLimit, s.DiameterDeviationLimit),
            std::make_tuple(0.5, 2.5, 0.0, 0.75));
  EXPECT_DOUBLE_EQ(s.RotationLimit, 1.570795);
  for (int mode : {1, 0}) {
    m.SelectShowMode(mode);
    EXPECT_EQ(std::make_tuple(s.ShowMode, m.fields().Option1, m.fields().Option2), std::make_tuple(mode, mode == 0, mode == 1));
  }
}

// Kernel and sensitivity fields take only numbers in their range. While
// typing, anything else leaves the stored value; on confirming, the field
// goes back to the value from before the entry and the refusal says why.
TEST(DetectionSettingsModel, EntriesOutOfRangeOrNotNumbersAreRefused) {
  struct Case {
    CheckedField field;
    std::vector<const char*> typed;  // the texts the field shows while typing
    double stored;                   // percent, after confirming
    const char* says;                // part of the refusal; null: taken
  };
  const Case cases[] = {
      {CheckedField::Weight, {"1", "10", "100"}, 100, nullptr},
      {CheckedField::Weight, {"0"}, 0, nullptr},
      {CheckedField::Weight, {"-", "-5", "-50"}, 5.7546, "Число -50 вне этих пределов."},
      {CheckedField::Weight, {"1", "10", "100", "100,", "100,0", "100,01"}, 5.7546, "Оставлено прежнее значение 5,7546."},
      {CheckedField::Weight, {"a", "ab", "abc"}, 5.7546, "«abc» — не число."},
      {CheckedField::Subtract, {"1", "15", "150"}, 100, "Весовой коэффициент вычитаемой области задаётся числом от 0 до 100 %."},
      {CheckedField::Ellipticity, {"1", "10", "100", "1000", "10000"}, 10000, nullptr},
      {CheckedField::Ellipticity, {"10001"}, 100, "Чувствительность к изменению эллиптичности задаётся числом от 0 до 10000 %."},
      {CheckedField::Azimuth, {"50%"}, 100, "не число"},
      {CheckedField::Weight, {""}, 5.7546, nullptr},  // emptied: back to its value without a message
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed.back());
    DetectionSettings s;
    DetectionSettingsModel m(s, ",");
    m.Load();
    std::optional<Message> refusal;
    double stored = 0;
    std::string shown;
    for (const char* t : c.typed) {
      if (c.field == CheckedField::Weight) m.EditWeight(7, t);  // WeightKernel(2, 2)
      if (c.field == CheckedField::Subtract) m.EditSubtract(5, t);  // SubtractKernel(3, 3)
      if (c.field == CheckedField::Ellipticity) m.EditEllipticity(t);
      if (c.field == CheckedField::Azimuth) m.EditAzimuth(t);
    }
    const auto& f = m.fields();
    switch (c.field) {
      case CheckedField::Weight: refusal = m.ConfirmWeight(7), stored = s.WeightKernel[1][1], shown = f.Weight[6]; break;
      case CheckedField::Subtract: refusal = m.ConfirmSubtract(5), stored = s.SubtractKernel[2][2], shown = f.Subtract[4]; break;
      case CheckedField::Ellipticity: refusal = m.ConfirmEllipticity(), stored = s.EllipticitySensitivity * 100, shown = f.Ellipticity; break;
      case CheckedField::Azimuth: refusal = m.ConfirmAzimuth(), stored = s.AzimuthSensitivity * 100, shown = f.Azimuth; break;
    }
    EXPECT_NEAR(stored, c.stored, 1e-4);
    EXPECT_EQ(static_cast<float>(*ParseNumber(shown, ",")), static_cast<float>(c.stored));  // shows what is stored
    ASSERT_EQ(refusal.has_value(), c.says != nullptr);
    if (refusal) {
      EXPECT_NE(refusal->text.find(c.says), std::string::npos) << refusal->text;
      EXPECT_EQ(std::make_pair(refusal->title, refusal->icon), std::make_pair(std::string("Настройки"), MessageIcon::Exclamation));
    }
  }
}

TEST(DetectionSettings, PreviewGreyAndRotationRead) {
  // 50 -> 127.5 rounds to even; out-of-range percentages are held.
  for (auto [percent, want] : {std::pair{0.0f, 255}, {100.0f, 0}, {50.0f, 128}, {-20.0f, 255}, {180.0f, 0}, {10.3802f, 229}})
    EXPECT_EQ(PreviewGrey(percent), want) << percent;
  DetectionSettings s, t;
  ReadRotationLimits(s, "60", "35", ",");
  ReadRotationLimits(s, "10", "10", ",");  // already set: kept
  EXPECT_EQ(std::make_pair(s.RotationLimit, s.RotationChangeLimit), std::make_pair(60 * kPi / 180, 35 * kPi / 180));
  ReadRotationLimits(t, "", "abc", ",");
  EXPECT_EQ(std::make_pair(t.RotationLimit, t.RotationChangeLimit), std::make_pair(0.0, 0.0));
}

}  // namespace
}  // namespace ps
