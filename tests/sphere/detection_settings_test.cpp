// The settings model: presets, totals, load-time reset, field parsing.
#include <gtest/gtest.h>

#include <tuple>

#include "sphere/detection_settings.h"
#include "state/number_format.h"

namespace ps {
namespace {

TEST(KernelPresets, ValuesAndTotals) {
  for (KernelPreset p : {KernelPreset::Square, KernelPreset::Gauss, KernelPreset::GaussWithoutCentre}) {
    const PresetKernels k = PresetValues(p);
    double total = 0;
    // The outer ring of the subtracted kernel stays 0; symmetric weights.
    for (int r = 0; r < 5; ++r)
      for (int c = 0; c < 5; ++c) {
        total += k.weight[r][c];
        if (r == 0 || r == 4 || c == 0 || c == 4) EXPECT_EQ(k.subtract[r][c], 0);
        EXPECT_EQ(k.weight[r][c], k.weight[c][r]);
        EXPECT_EQ(k.weight[r][c], k.weight[4 - r][c]);
      }
    EXPECT_NEAR(total, 100, 0.0005) << PresetCaption(p);
  }
  // Cell kinds land where they belong: a corner, a cell beside it, the centre.
  const PresetKernels g = PresetValues(KernelPreset::Gauss);
  EXPECT_EQ(std::make_tuple(g.weight[0][0], g.weight[0][1], g.weight[2][2], g.subtract[2][1]),
            std::make_tuple(0.0095f, 0.2009f, 32.3492f, 10.5588f));
  EXPECT_STREQ(PresetCaption(KernelPreset::GaussWithoutCentre), "Гауссовское распределение без центра");
}

TEST(DetectionSettingsModel, PresetsShowTheirTotalsAndValues) {
  DetectionSettings s;
  DetectionSettingsModel m(s, ",");
  m.Load();
  m.ApplyPreset(KernelPreset::Square);
  EXPECT_EQ(m.fields().WeightTotal, "Всего 100,000000 %  из 100 %");
  EXPECT_EQ(m.fields().SubtractTotal, "Всего 100,000000 %  из 100 %");
  EXPECT_EQ(std::tie(m.fields().Weight[0], m.fields().Subtract[4]), std::make_tuple("4", "100"));
  EXPECT_EQ(s.WeightKernel[4][4], 4);
  DetectionSettingsModel dot(s, ".");
  dot.ApplyPreset(KernelPreset::Gauss);
  EXPECT_EQ(std::tie(dot.fields().Weight[0], dot.fields().Subtract[0]), std::make_tuple("0.0095", "2.2947"));
  EXPECT_EQ(s.WeightKernel[0][0], 0.0095f);
}

TEST(DetectionSettingsModel, SessionStartsWithTheNoCentrePresetAndLoadKeepsEdits) {
  // A new session's settings are what loading the window used to give, so
  // the map, the toning, the learning, the exports and every command agree.
  DetectionSettings s;
  const PresetKernels want = PresetValues(KernelPreset::GaussWithoutCentre);
  EXPECT_EQ(s.WeightKernel, want.weight);
  EXPECT_EQ(s.SubtractKernel, want.subtract);  // 100 at the centre, 0 elsewhere
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
  EXPECT_EQ(s.WeightKernel, before.WeightKernel);
  EXPECT_EQ(s.SubtractKernel, before.SubtractKernel);
  EXPECT_EQ(std::make_pair(s.EllipticitySensitivity, s.AzimuthSensitivity), std::make_pair(0.2, 3.0));
  const auto& f = m.fields();
  EXPECT_EQ(std::tie(f.Weight[0], f.Weight[12], f.Subtract[0], f.Subtract[4]),
            std::make_tuple("3,5", "10,3802", "7", "100"));
  EXPECT_EQ(std::tie(f.Ellipticity, f.Azimuth, f.DiameterDeviation), std::make_tuple("20", "300", "0,5"));
  EXPECT_TRUE(!f.Option1 && f.Option2);
  // A zero limit only shows the field's initial text; a set one shows degrees.
  EXPECT_EQ(std::tie(f.RotationLimit, f.RotationChangeLimit), std::make_tuple("60", "35"));
  EXPECT_EQ(s.RotationLimit, 0);
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

TEST(DetectionSettingsModel, EditingKernelFields) {
  DetectionSettings s;
  DetectionSettingsModel m(s, ",");
  m.Load();
  const float before = s.WeightKernel[1][2];
  // Clearing a box keeps the element and still refreshes the totals.
  s.WeightKernel[0][0] = 50;  // changed behind the model's back
  m.EditWeight(8, "");
  EXPECT_EQ(s.WeightKernel[1][2], before);
  EXPECT_EQ(m.fields().Weight[7], "");
  EXPECT_NE(m.fields().WeightTotal.find("149,0"), std::string::npos) << m.fields().WeightTotal;
  // Not a number: unchanged. A number with the locale's separator: stored.
  m.EditWeight(8, "abc");
  EXPECT_EQ(s.WeightKernel[1][2], before);
  m.EditWeight(8, "12,5");
  EXPECT_EQ(s.WeightKernel[1][2], 12.5f);
  m.EditSubtract(1, "3,25");  // Text001 = SubtractKernel(2, 2)
  EXPECT_EQ(s.SubtractKernel[1][1], 3.25f);
  EXPECT_EQ(m.fields().SubtractTotal, "Всего 103,250000 %  из 100 %");
  m.EditSubtract(9, "1");  // Text009 = SubtractKernel(4, 4)
  EXPECT_EQ(s.SubtractKernel[3][3], 1);
  // Boxes that do not exist change nothing.
  const auto kernel = s.WeightKernel;
  m.EditWeight(0, "5");
  m.EditWeight(26, "5");
  m.EditSubtract(10, "5");
  EXPECT_EQ(s.WeightKernel, kernel);
}

// Kernel and sensitivity fields take only numbers in their range. While
// typing, anything else leaves the stored value; on confirming, the field
// goes back to the stored value and the refusal says why.
TEST(DetectionSettingsModel, EntriesOutOfRangeOrNotNumbersAreRefused) {
  struct Case {
    CheckedField field;
    const char* text;
    bool taken;
    const char* says;  // part of the refusal
  };
  const Case cases[] = {
      {CheckedField::Weight, "0", true, ""},
      {CheckedField::Weight, "100", true, ""},
      {CheckedField::Weight, "12,5", true, ""},
      {CheckedField::Weight, "-50", false, "Число -50 вне этих пределов."},
      {CheckedField::Weight, "100,01", false, "вне этих пределов"},
      {CheckedField::Weight, "abc", false, "«abc» — не число."},
      {CheckedField::Subtract, "150", false, "Весовой коэффициент вычитаемой области задаётся числом от 0 до 100 %."},
      {CheckedField::Subtract, "48,5861", true, ""},
      {CheckedField::Ellipticity, "10000", true, ""},
      {CheckedField::Ellipticity, "10001", false, "Чувствительность к изменению эллиптичности задаётся числом от 0 до 10000 %."},
      {CheckedField::Azimuth, "-1", false, "Чувствительность к изменению азимута"},
      {CheckedField::Azimuth, "1e3", true, ""},
      {CheckedField::Azimuth, "50%", false, "не число"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    DetectionSettings s;
    DetectionSettingsModel m(s, ",");
    m.Load();
    const DetectionSettings before = s;
    std::optional<Message> refusal;
    std::string shown;
    double stored = 0;
    switch (c.field) {
      case CheckedField::Weight:
        m.EditWeight(7, c.text);  // WeightKernel(2, 2)
        refusal = m.ConfirmWeight(7);
        shown = m.fields().Weight[6];
        stored = s.WeightKernel[1][1];
        break;
      case CheckedField::Subtract:
        m.EditSubtract(5, c.text);  // SubtractKernel(3, 3)
        refusal = m.ConfirmSubtract(5);
        shown = m.fields().Subtract[4];
        stored = s.SubtractKernel[2][2];
        break;
      case CheckedField::Ellipticity:
        m.EditEllipticity(c.text);
        refusal = m.ConfirmEllipticity();
        shown = m.fields().Ellipticity;
        stored = s.EllipticitySensitivity * 100;
        break;
      case CheckedField::Azimuth:
        m.EditAzimuth(c.text);
        refusal = m.ConfirmAzimuth();
        shown = m.fields().Azimuth;
        stored = s.AzimuthSensitivity * 100;
        break;
    }
    if (c.taken) {
      EXPECT_FALSE(refusal);
      EXPECT_EQ(shown, c.text);
      EXPECT_FLOAT_EQ(stored, *ParseNumber(c.text, ","));
    } else {
      ASSERT_TRUE(refusal);
      EXPECT_NE(refusal->text.find(c.says), std::string::npos) << refusal->text;
      EXPECT_EQ(refusal->icon, MessageIcon::Exclamation);
      EXPECT_EQ(s.WeightKernel, before.WeightKernel);
      EXPECT_EQ(s.SubtractKernel, before.SubtractKernel);
      EXPECT_EQ(std::make_pair(s.EllipticitySensitivity, s.AzimuthSensitivity), std::make_pair(1.0, 1.0));
      // The field shows the kept value again, and the refusal names it.
      const std::string kept = c.field == CheckedField::Weight     ? "5,7546"
                               : c.field == CheckedField::Subtract ? "100"
                                                                   : "100";
      EXPECT_EQ(shown, kept);
      EXPECT_NE(refusal->text.find("Оставлено прежнее значение " + kept + "."), std::string::npos);
    }
  }
  // An emptied field goes back to its value without a message.
  DetectionSettings s;
  DetectionSettingsModel m(s, ",");
  m.Load();
  m.EditWeight(1, "");
  EXPECT_FALSE(m.ConfirmWeight(1));
  EXPECT_EQ(m.fields().Weight[0], "0,9804");
}

TEST(DetectionSettingsModel, SensitivitiesLimitsAndOptions) {
  DetectionSettings s;
  DetectionSettingsModel m(s, ",");
  m.Load();
  m.EditEllipticity("50");
  m.EditAzimuth("250");
  m.EditAzimuth("");  // empty: kept
  m.EditRotationLimit("90");
  m.EditRotationChangeLimit("x");
  m.EditDiameterDeviation("0,75");
  EXPECT_EQ(std::tie(s.EllipticitySensitivity, s.AzimuthSensitivity, s.RotationChangeLimit,
                     s.DiameterDeviationLimit), std::make_tuple(0.5, 2.5, 0.0, 0.75));
  EXPECT_DOUBLE_EQ(s.RotationLimit, 1.570795);
  for (int mode : {1, 0}) {
    m.SelectShowMode(mode);
    EXPECT_EQ(s.ShowMode, mode);
    EXPECT_EQ(m.fields().Option1, mode == 0);
    EXPECT_EQ(m.fields().Option2, mode == 1);
  }
}

TEST(DetectionSettings, PreviewGreyAndRotationRead) {
  // 50 -> 127.5 rounds to even; out-of-range percentages are held.
  const std::pair<float, int> grey[] = {{0, 255}, {100, 0}, {50, 128}, {-20, 255}, {180, 0}, {10.3802f, 229}};
  for (auto [percent, want] : grey) EXPECT_EQ(PreviewGrey(percent), want) << percent;
  DetectionSettings s;
  ReadRotationLimits(s, "60", "35", ",");
  EXPECT_DOUBLE_EQ(s.RotationLimit, 60 * 3.14159 / 180);
  EXPECT_DOUBLE_EQ(s.RotationChangeLimit, 35 * 3.14159 / 180);
  ReadRotationLimits(s, "10", "10", ",");  // already set: kept
  EXPECT_DOUBLE_EQ(s.RotationLimit, 60 * 3.14159 / 180);
  DetectionSettings t;
  ReadRotationLimits(t, "", "abc", ",");
  EXPECT_EQ(std::make_pair(t.RotationLimit, t.RotationChangeLimit), std::make_pair(0.0, 0.0));
}

}  // namespace
}  // namespace ps
