// The settings model: presets, totals, load-time reset, field parsing.
#include <gtest/gtest.h>

#include <cmath>

#include "sphere/detection_settings.h"

namespace ps {
namespace {

double Sum(const std::array<std::array<float, 5>, 5>& k) {
  double t = 0;
  for (const auto& row : k)
    for (float v : row) t += v;
  return t;
}

TEST(KernelPresets, ValuesAndTotals) {
  for (KernelPreset p : {KernelPreset::Square, KernelPreset::Gauss, KernelPreset::GaussWithoutCentre}) {
    const PresetKernels k = PresetValues(p);
    EXPECT_NEAR(Sum(k.weight), 100, 0.0005) << PresetCaption(p);
    // The outer ring of the subtracted kernel stays 0; symmetric weights.
    for (int r = 0; r < 5; ++r)
      for (int c = 0; c < 5; ++c) {
        if (r == 0 || r == 4 || c == 0 || c == 4) EXPECT_EQ(k.subtract[r][c], 0);
        EXPECT_EQ(k.weight[r][c], k.weight[c][r]);
        EXPECT_EQ(k.weight[r][c], k.weight[4 - r][c]);
      }
  }
  // Cell kinds land where they belong: a corner, a cell beside it, the centre.
  const PresetKernels g = PresetValues(KernelPreset::Gauss);
  EXPECT_EQ(g.weight[0][0], 0.0095f);
  EXPECT_EQ(g.weight[0][1], 0.2009f);
  EXPECT_EQ(g.weight[2][2], 32.3492f);
  EXPECT_EQ(g.subtract[2][1], 10.5588f);
  EXPECT_STREQ(PresetCaption(KernelPreset::GaussWithoutCentre), "Гауссовское распределение без центра");
}

TEST(DetectionSettingsModel, SquarePresetShowsFullTotals) {
  DetectionSettings s;
  DetectionSettingsModel m(s, ",");
  m.Load();
  m.ApplyPreset(KernelPreset::Square);
  EXPECT_EQ(m.fields().WeightTotal, "Всего 100,000000 %  из 100 %");
  EXPECT_EQ(m.fields().SubtractTotal, "Всего 100,000000 %  из 100 %");
  EXPECT_EQ(m.fields().Weight[0], "4");
  EXPECT_EQ(m.fields().Subtract[4], "100");
  EXPECT_EQ(s.WeightKernel[4][4], 4);
  DetectionSettingsModel dot(s, ".");
  dot.ApplyPreset(KernelPreset::Gauss);
  EXPECT_EQ(dot.fields().Weight[0], "0.0095");
  EXPECT_EQ(dot.fields().Subtract[0], "2.2947");
  EXPECT_EQ(s.WeightKernel[0][0], 0.0095f);
}

TEST(DetectionSettingsModel, LoadResetsKernelsAndSensitivities) {
  DetectionSettings s;
  for (auto& row : s.SubtractKernel) row.fill(7);
  for (auto& row : s.WeightKernel) row.fill(3);
  s.EllipticitySensitivity = 0.2;
  s.AzimuthSensitivity = 3;
  s.ShowMode = 1;
  DetectionSettingsModel m(s, ",");
  m.Load();
  const PresetKernels want = PresetValues(KernelPreset::GaussWithoutCentre);
  EXPECT_EQ(s.WeightKernel, want.weight);
  EXPECT_EQ(s.SubtractKernel, want.subtract);  // 100 at the centre, 0 elsewhere
  EXPECT_EQ(s.EllipticitySensitivity, 1);
  EXPECT_EQ(s.AzimuthSensitivity, 1);
  EXPECT_FALSE(m.fields().Option1);
  EXPECT_TRUE(m.fields().Option2);
  EXPECT_EQ(m.fields().Ellipticity, "100");
  EXPECT_EQ(m.fields().DiameterDeviation, "0,5");
  EXPECT_EQ(m.fields().RotationLimit, "60");
  EXPECT_EQ(m.fields().RotationChangeLimit, "35");
  EXPECT_EQ(s.RotationLimit, 0);  // a zero limit only shows the field's initial text
}

TEST(DetectionSettingsModel, LoadShowsNonZeroLimitsInDegrees) {
  DetectionSettings s;
  s.RotationLimit = 90 * kPi / 180;
  s.RotationChangeLimit = 0.5;
  DetectionSettingsModel m(s, ",");
  m.Load();
  EXPECT_EQ(m.fields().RotationLimit, "90");
  EXPECT_EQ(m.fields().RotationChangeLimit, "29");
}

TEST(DetectionSettingsModel, EditingFields) {
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

TEST(DetectionSettingsModel, RefreshReadsTheWeightBoxesAgain) {
  DetectionSettings s;
  DetectionSettingsModel m(s, ",");
  m.Load();
  for (auto& row : s.WeightKernel) row.fill(0);
  m.Refresh();
  EXPECT_EQ(s.WeightKernel, PresetValues(KernelPreset::GaussWithoutCentre).weight);
}

TEST(DetectionSettingsModel, SensitivitiesLimitsAndOptions) {
  DetectionSettings s;
  DetectionSettingsModel m(s, ",");
  m.Load();
  m.EditEllipticity("50");
  EXPECT_EQ(s.EllipticitySensitivity, 0.5);
  m.EditAzimuth("250");
  EXPECT_EQ(s.AzimuthSensitivity, 2.5);
  m.EditAzimuth("");
  EXPECT_EQ(s.AzimuthSensitivity, 2.5);
  m.EditRotationLimit("90");
  EXPECT_DOUBLE_EQ(s.RotationLimit, 1.570795);
  m.EditRotationChangeLimit("x");
  EXPECT_EQ(s.RotationChangeLimit, 0);
  m.EditDiameterDeviation("0,75");
  EXPECT_EQ(s.DiameterDeviationLimit, 0.75);
  m.SelectShowMode(1);
  EXPECT_EQ(s.ShowMode, 1);
  EXPECT_TRUE(m.fields().Option2);
  EXPECT_FALSE(m.fields().Option1);
  m.SelectShowMode(0);
  EXPECT_EQ(s.ShowMode, 0);
  EXPECT_TRUE(m.fields().Option1);
}

TEST(DetectionSettings, PreviewGreyAndRotationRead) {
  EXPECT_EQ(PreviewGrey(0), 255);
  EXPECT_EQ(PreviewGrey(100), 0);
  EXPECT_EQ(PreviewGrey(50), 128);  // 127.5 rounds to even
  EXPECT_EQ(PreviewGrey(-20), 255);
  EXPECT_EQ(PreviewGrey(180), 0);
  EXPECT_EQ(PreviewGrey(10.3802f), 229);
  DetectionSettings s;
  ReadRotationLimits(s, "60", "35", ",");
  EXPECT_DOUBLE_EQ(s.RotationLimit, 60 * 3.14159 / 180);
  EXPECT_DOUBLE_EQ(s.RotationChangeLimit, 35 * 3.14159 / 180);
  ReadRotationLimits(s, "10", "10", ",");  // already set: kept
  EXPECT_DOUBLE_EQ(s.RotationLimit, 60 * 3.14159 / 180);
  DetectionSettings t;
  ReadRotationLimits(t, "", "abc", ",");
  EXPECT_EQ(t.RotationLimit, 0);
  EXPECT_EQ(t.RotationChangeLimit, 0);
}

}  // namespace
}  // namespace ps
