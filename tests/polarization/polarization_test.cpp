#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "polarization/polarization.h"
#include "support/test_support.h"

namespace ps {
namespace {

PixelValues P(double a, double b, double c, double d) { return Вычисление_a0_a2_b2({a, b, c, d}); }

TEST(Parameters, SpecialQuadruplesFollowTheAzimuthRules) {
  // Unpolarized: rule H.
  PixelValues v = P(100, 100, 100, 100);
  EXPECT_EQ(v.A0, 100);
  EXPECT_EQ(v.A2, 0);
  EXPECT_EQ(v.B2, 0);
  EXPECT_EQ(v.Amplitude, 0.0f);
  EXPECT_EQ(v.AxisRatio, 1.0);
  EXPECT_EQ(v.EllipticityAngle, 0.7854);
  EXPECT_EQ(v.Azimuth, 0);
  EXPECT_EQ(v.UndefinedMarker, 0);

  // Black: undefined, rule H.
  v = P(0, 0, 0, 0);
  EXPECT_EQ(v.UndefinedMarker, 9.42477);
  EXPECT_EQ(v.AxisRatio, 1.0);
  EXPECT_EQ(v.EllipticityAngle, 0.7854);
  EXPECT_EQ(v.Azimuth, 0);

  // Fully linear, rule F.
  v = P(200, 100, 0, 100);
  EXPECT_EQ(v.A0, 100);
  EXPECT_EQ(v.A2, 100);
  EXPECT_EQ(v.B2, 0);
  EXPECT_EQ(v.Amplitude, 100.0f);
  EXPECT_EQ(v.AxisRatio, 0);
  EXPECT_EQ(v.EllipticityAngle, 0);
  EXPECT_EQ(v.Azimuth, 0);
  EXPECT_EQ(v.UndefinedMarker, 0);

  EXPECT_EQ(P(0, 100, 200, 100).Azimuth, 3.14159 / 2);      // G
  EXPECT_EQ(P(100, 200, 100, 0).Azimuth, 3.14159 / 4);      // D
  EXPECT_EQ(P(100, 0, 100, 200).Azimuth, -3.14159 / 4);     // E
  EXPECT_DOUBLE_EQ(P(150, 150, 50, 50).Azimuth, std::atan(1.0) / 2);              // A
  EXPECT_DOUBLE_EQ(P(50, 150, 150, 50).Azimuth, (std::atan(-1.0) + 3.14159) / 2);  // B
  EXPECT_DOUBLE_EQ(P(50, 50, 150, 150).Azimuth, (std::atan(1.0) - 3.14159) / 2);   // C
  EXPECT_NEAR(P(50, 150, 150, 50).Azimuth, 1.178096, 1e-6);
  EXPECT_EQ(P(10, 12, 5, 11).Azimuth, 3.14159 / 4);  // inconsistent: J
  EXPECT_EQ(P(10, 5, 20, 4).Azimuth, 0);             // inconsistent, I0 > I45: I

  v = P(10, 0, 0, 0);  // A0 2.5 < amplitude 5
  EXPECT_EQ(v.UndefinedMarker, 9.42477);
  EXPECT_EQ(v.AxisRatio, 1.0);
}

TEST(Parameters, PartialPolarizationGivesTheAxisRatioOfMinorToMajor) {
  // a0 = 100, a2 = 30, b2 = 40: amplitude 50, Imax 150, Imin 50.
  const PixelValues v = P(130, 140, 70, 60);
  EXPECT_EQ(v.Amplitude, 50.0f);
  EXPECT_DOUBLE_EQ(v.AxisRatio, std::sqrt(50.0 / 150.0));
  EXPECT_DOUBLE_EQ(v.EllipticityAngle, std::atan(v.AxisRatio));
  EXPECT_DOUBLE_EQ(v.Azimuth, std::atan(40.0 / 30.0) / 2);
}

TEST(Parameters, SinglePrecisionComparisonDecidesUndefined) {
  // A0 slightly below the amplitude in double precision but equal once both are
  // single precision: the pixel must still be undefined, never NaN.
  const double a = 1e-9;
  const PixelValues v = P(200 + a, 100, 0, 100 + a);
  EXPECT_FALSE(std::isnan(v.AxisRatio));
  EXPECT_FALSE(std::isnan(v.EllipticityAngle));
  for (int i = 0; i < 2000; ++i) {
    std::mt19937 rng(i);
    std::uniform_real_distribution<double> u(0, 255);
    const PixelValues r = P(u(rng), u(rng), u(rng), u(rng));
    EXPECT_FALSE(std::isnan(r.AxisRatio) || std::isnan(r.Azimuth) || std::isnan(r.EllipticityAngle));
    EXPECT_GE(r.Azimuth, -3.14159 / 2 - 1e-12);
    EXPECT_LE(r.Azimuth, 3.14159 / 2 + 1e-12);
  }
}

TEST(Intensity, ThreeDefinitionsOfColourAndPalettePixels) {
  EXPECT_EQ(IntensityOf(Definition::Max, 255, 0, 0), 255);
  EXPECT_EQ(IntensityOf(Definition::Mean, 255, 0, 0), 85);
  EXPECT_DOUBLE_EQ(IntensityOf(Definition::Luma, 255, 0, 0), 76.245);
  EXPECT_NEAR(IntensityOf(Definition::Luma, 90, 90, 90), 90, 1e-12);
  EXPECT_EQ(IntensityOf(Definition::Mean, 90, 90, 90), 90);

  AppState s;
  s.createImageSet(2, 1);
  s.Header.BitsPerPixel = 8;
  s.PaletteTable[7] = {10, 20, 30};
  s.ImageStore.set(1, 1, 0, 2, 7);
  EXPECT_EQ(Intensity(s, Definition::Max, 1, 1, 2), 30);
  EXPECT_EQ(Intensity(s, Definition::Mean, 1, 1, 2), 20);
  EXPECT_DOUBLE_EQ(Intensity(s, Definition::Luma, 1, 1, 2), 0.587 * 20 + 0.299 * 10 + 0.114 * 30);
}

// A random 24-bit set of the given size.
void RandomSet(AppState& s, int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::vector<uint8_t>> slots(4, std::vector<uint8_t>(static_cast<size_t>(w) * h * 3));
  for (auto& slot : slots)
    for (auto& b : slot) b = static_cast<uint8_t>(rng() % 4 == 0 ? 0 : rng() % 256);
  test::FillSet24(s, w, h, slots);
}

void ExpectSameMaps(const ResultLayers& a, const ResultLayers& b) {
  ASSERT_EQ(a.width(), b.width());
  ASSERT_EQ(a.height(), b.height());
  const size_t n = static_cast<size_t>(a.width()) * a.height();
  for (int l = 1; l <= 18; ++l) {
    if (ResultLayers::isUnusedLayer(l)) continue;
    for (size_t i = 0; i < n; ++i)
      ASSERT_EQ(std::memcmp(&a.layer(l)[i], &b.layer(l)[i], sizeof(double)), 0) << "layer " << l << " cell " << i;
  }
}

TEST(SetProcessing, ParallelResultIsBitIdenticalToTheOneThreadOrder) {
  for (int threads : {1, 2, 3, 7}) {
    AppState a, b;
    RandomSet(a, 37, 53, 11);
    RandomSet(b, 37, 53, 11);
    EXPECT_TRUE(ЗаполнениеМассива(a, {}, threads));
    ЗаполнениеМассиваReference(b);
    ExpectSameMaps(a.ResultMap, b.ResultMap);
  }
  // An 8-bit set goes through the palette of the last 8-bit file for all slots.
  AppState a, b;
  RandomSet(a, 19, 23, 5);
  a.Header.BitsPerPixel = 8;
  std::mt19937 rng(3);
  for (auto& e : a.PaletteTable) e = {float(rng() % 256), float(rng() % 256), float(rng() % 256)};
  b = a;
  ЗаполнениеМассива(a, {}, 2);
  ЗаполнениеМассиваReference(b);
  ExpectSameMaps(a.ResultMap, b.ResultMap);
  EXPECT_EQ(a.ResultMap.at(3, 4, 1), Вычисление_a0_a2_b2({Intensity(a, Definition::Max, 3, 4, 1),
                                                           Intensity(a, Definition::Max, 3, 4, 2),
                                                           Intensity(a, Definition::Max, 3, 4, 3),
                                                           Intensity(a, Definition::Max, 3, 4, 4)})
                                         .A0);
}

TEST(SetProcessing, EveryTieOfTheAzimuthRulesMatchesThePerPixelFunction) {
  // Grey pixels whose four intensities run through every quadruple of four
  // levels: ties of every kind, so each azimuth rule and the order of the
  // fall-back rules is met, for the 24-bit and the palette path.
  const uint8_t levels[4] = {0, 1, 2, 200};
  std::vector<std::vector<uint8_t>> slots(4, std::vector<uint8_t>(16 * 16 * 3));
  for (int p = 0; p < 256; ++p)
    for (int k = 0; k < 4; ++k)
      for (int c = 0; c < 3; ++c) slots[k][3 * p + c] = levels[(p >> (2 * k)) & 3];
  for (int bits : {24, 8}) {
    AppState a, b;
    test::FillSet24(a, 16, 16, slots);
    if (bits == 8) {
      a.Header.BitsPerPixel = 8;
      for (int i = 0; i < 256; ++i) a.PaletteTable[i] = {float(i), float(i / 2), float(i)};
    }
    b = a;
    EXPECT_TRUE(ЗаполнениеМассива(a, {}, 2));
    ЗаполнениеМассиваReference(b);
    ExpectSameMaps(a.ResultMap, b.ResultMap);
  }
}

TEST(SetProcessing, OneDefinitionFirstAndTheOthersAddedGiveTheReferenceMap) {
  AppState s, reference;
  RandomSet(s, 41, 29, 8);
  reference = s;
  ЗаполнениеМассиваReference(reference);

  ProcessOptions first;
  first.definitions = kMeanBit;
  ASSERT_TRUE(ProcessSet(s, first).complete);
  EXPECT_EQ(ProcessedDefinitions(s.ResultMap), unsigned{kMeanBit});
  EXPECT_FALSE(s.ResultMap.hasStorage(1));
  EXPECT_FALSE(s.ResultMap.hasStorage(13));
  s.IntensityMode = kModeMax;  // a definition that was not processed is never served as zeros
  EXPECT_THROW(ОпределениеИнтенсивностей(static_cast<const AppState&>(s), 3, 3), std::out_of_range);
  s.IntensityMode = kModeMean;
  EXPECT_EQ(ОпределениеИнтенсивностей(static_cast<const AppState&>(s), 3, 3).A0, reference.ResultMap.at(3, 3, 7));

  // The other two join the map without touching the shown definition or the contour layers.
  const double* mean = s.ResultMap.layer(7);
  s.ResultMap.set(2, 2, 19, 4.5);
  ProcessOptions rest;
  rest.definitions = kAllDefinitions;
  rest.addToMap = true;
  ASSERT_TRUE(ProcessSet(s, rest, {}).complete);
  EXPECT_EQ(s.ResultMap.layer(7), mean);
  EXPECT_EQ(s.ResultMap.at(2, 2, 19), 4.5);
  ExpectSameMaps(s.ResultMap, reference.ResultMap);

  // Reprocessing new content of the same size reuses the blocks and leaves nothing stale.
  const uint64_t allocated = PageBlock::totalAllocated();
  AppState changed;
  RandomSet(changed, 41, 29, 9);
  s.ImageStore = changed.ImageStore;
  reference.ImageStore = changed.ImageStore;
  const uint64_t allocatedBefore = PageBlock::totalAllocated();
  ASSERT_TRUE(ЗаполнениеМассива(s));
  EXPECT_EQ(PageBlock::totalAllocated(), allocatedBefore);
  EXPECT_FALSE(s.ResultMap.hasStorage(19));
  ЗаполнениеМассиваReference(reference);
  ExpectSameMaps(s.ResultMap, reference.ResultMap);
  EXPECT_GT(allocatedBefore, allocated);  // the copied store took a block of its own
}

TEST(SetProcessing, RefusesBeforeAllocatingWhenTheMachineLacksTheMemory) {
  AppState s;
  RandomSet(s, 400, 300, 4);  // the three definitions need 14.4 MB
  ProcessOptions o;
  o.availableMemory = 5u << 20;
  const uint64_t allocated = PageBlock::totalAllocated();
  ProcessOutcome out = ProcessSet(s, o);
  EXPECT_FALSE(out.complete);
  EXPECT_EQ(PageBlock::totalAllocated(), allocated);
  EXPECT_TRUE(s.ResultMap.empty());
  EXPECT_EQ(out.neededBytes, 3u * 5 * 8 * 400 * 300);
  ASSERT_EQ(out.messages.size(), 1u);
  const std::string& text = out.messages[0].text;
  EXPECT_NE(text.find("400 x 300"), std::string::npos) << text;
  EXPECT_NE(text.find("нужно 14 МБ"), std::string::npos) << text;
  EXPECT_NE(text.find("доступно 5 МБ"), std::string::npos) << text;
  EXPECT_EQ(out.messages[0].title, "Недостаточно памяти");

  // One definition fits where three do not; adding the other two is refused and
  // leaves the processed definition in place.
  o.definitions = kLumaBit;
  ASSERT_TRUE(ProcessSet(s, o).complete);
  o.definitions = kAllDefinitions;
  o.addToMap = true;
  out = ProcessSet(s, o);
  EXPECT_FALSE(out.complete);
  EXPECT_EQ(out.neededBytes, 2u * 5 * 8 * 400 * 300);
  EXPECT_TRUE(s.ResultMap.hasStorage(13));
  EXPECT_FALSE(s.ResultMap.hasStorage(1));
  // A map of the same size needs nothing new: no check, no refusal.
  o.addToMap = false;
  o.definitions = kLumaBit;
  o.availableMemory = 1;
  EXPECT_TRUE(ProcessSet(s, o).complete);
}

TEST(ResultStorage, LargeBlocksAreZeroFilledAndCopiedDeep) {
  PageBlock big(5u << 20);
  ASSERT_FALSE(big.empty());
  EXPECT_EQ(big.data()[0] | big.data()[(5u << 20) - 1], 0);
  big.data()[12345] = 7;
  PageBlock copy = big;
  EXPECT_NE(copy.data(), big.data());
  EXPECT_EQ(copy.data()[12345], 7);
  big.data()[12345] = 8;
  EXPECT_EQ(copy.data()[12345], 7);
  PageBlock moved = std::move(copy);
  EXPECT_TRUE(copy.empty());
  EXPECT_EQ(moved.data()[12345], 7);

  // A copied map has layers of its own.
  ResultLayers m(300, 200);
  m.set(300, 200, 17, 2.5);
  m.set(1, 1, 20, 1.5);
  ResultLayers c = m;
  m.set(300, 200, 17, 0);
  EXPECT_EQ(c.at(300, 200, 17), 2.5);
  EXPECT_EQ(c.at(1, 1, 20), 1.5);
  EXPECT_NE(c.layer(17), m.layer(17));
}

TEST(SetProcessing, GreySetAndUnusableFilesFillTheExpectedLayers) {
  AppState s;
  std::vector<std::vector<uint8_t>> grey(4, std::vector<uint8_t>(6 * 2 * 3, 0));
  for (auto& slot : grey)
    for (size_t i = 3; i < slot.size(); ++i) slot[i] = 90;  // pixel (1,1) black, the rest 90
  test::FillSet24(s, 6, 2, grey);
  s.ResultMap = ResultLayers(6, 2);
  s.ResultMap.set(1, 1, 19, 5.0);  // reprocessing drops the contour layers
  ЗаполнениеМассива(s);
  EXPECT_FALSE(s.ResultMap.hasStorage(19));
  for (int g : {1, 7, 13}) {
    EXPECT_NEAR(s.ResultMap.at(2, 1, g), 90, 1e-12);
    EXPECT_EQ(s.ResultMap.at(2, 1, g + 1), 1.0);
    EXPECT_EQ(s.ResultMap.at(2, 1, g + 2), 0.7854);
    EXPECT_EQ(s.ResultMap.at(2, 1, g + 3), 0.0);
    EXPECT_EQ(s.ResultMap.at(2, 1, g + 4), 0.0);
    EXPECT_EQ(s.ResultMap.at(1, 1, g + 4), 9.42477);
  }
  for (int l : {6, 12, 18}) EXPECT_EQ(s.ResultMap.at(3, 2, l), 0.0);

  s.Header.FileSignature = "MZ";
  ЗаполнениеМассива(s);
  EXPECT_EQ(s.ResultMap.at(2, 1, 1), 0.0);
  s.Header.FileSignature = "BM";
  s.Header.BitsPerPixel = 4;
  ЗаполнениеМассива(s);
  EXPECT_EQ(s.ResultMap.at(2, 1, 7), 0.0);
}

TEST(LayerLookup, ServesTheChosenDefinitionAndRejectsOutsidePixels) {
  AppState s;
  RandomSet(s, 5, 4, 2);
  EXPECT_THROW(ОпределениеИнтенсивностей(static_cast<const AppState&>(s), 1, 1), std::out_of_range);
  ЗаполнениеМассива(s);
  const std::pair<int32_t, int> cases[] = {{4, 7}, {5, 1}, {6, 13}, {0, 1}, {17, 1}};
  for (auto [mode, g] : cases) {
    s.IntensityMode = mode;
    ОпределениеИнтенсивностей(s, 5, 4);
    EXPECT_EQ(s.Current.A0, s.ResultMap.at(5, 4, g));
    EXPECT_EQ(s.Current.AxisRatio, s.ResultMap.at(5, 4, g + 1));
    EXPECT_EQ(s.Current.EllipticityAngle, s.ResultMap.at(5, 4, g + 2));
    EXPECT_EQ(s.Current.Azimuth, s.ResultMap.at(5, 4, g + 3));
    EXPECT_EQ(s.Current.UndefinedMarker, s.ResultMap.at(5, 4, g + 4));
  }
  EXPECT_THROW(ОпределениеИнтенсивностей(s, 6, 1), std::out_of_range);
  EXPECT_THROW(ОпределениеИнтенсивностей(s, 1, 0), std::out_of_range);
}

TEST(SetProcessing, CancelStopsAndReportsIt) {
  AppState s;
  RandomSet(s, 10, 300, 1);
  std::atomic<bool> cancel{true};
  Progress p;
  p.cancel = &cancel;
  EXPECT_FALSE(ЗаполнениеМассива(s, p, 2));
  long long last = 0, total = 0;
  p.cancel = nullptr;
  p.report = [&](long long d, long long t) { last = d, total = t; };
  EXPECT_TRUE(ЗаполнениеМассива(s, p, 2));
  EXPECT_EQ(last, 300);
  EXPECT_EQ(total, 300);
}

}  // namespace
}  // namespace ps
