#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "imageio/bmp.h"
#include "polarization/polarization.h"
#include "polarization/sample_scene.h"
#include "support/test_support.h"

namespace ps {
namespace {

PixelValues P(double a, double b, double c, double d) { return Вычисление_a0_a2_b2({a, b, c, d}); }

TEST(Parameters, AzimuthRulesAxisRatioAndUndefinedPixels) {
  const double kSkip = -1, third = std::sqrt(50.0 / 150.0);
  const struct {
    double i[4], azimuth, axisRatio, ellipticity;
    bool undefined;
  } rows[] = {
      {{100, 100, 100, 100}, 0, 1.0, 0.7854, false},  // unpolarized: H
      {{0, 0, 0, 0}, 0, 1.0, 0.7854, true},           // black: H
      {{10, 0, 0, 0}, 0, 1.0, kSkip, true},           // A0 2.5 below the amplitude 5
      {{200, 100, 0, 100}, 0, 0, 0, false},           // fully linear: F
      {{0, 100, 200, 100}, kPi / 2, kSkip, kSkip, false},   // G
      {{100, 200, 100, 0}, kPi / 4, kSkip, kSkip, false},   // D
      {{100, 0, 100, 200}, -kPi / 4, kSkip, kSkip, false},  // E
      {{150, 150, 50, 50}, std::atan(1.0) / 2, kSkip, kSkip, false},           // A
      {{50, 150, 150, 50}, (std::atan(-1.0) + kPi) / 2, kSkip, kSkip, false},  // B
      {{50, 50, 150, 150}, (std::atan(1.0) - kPi) / 2, kSkip, kSkip, false},   // C
      {{10, 12, 5, 11}, kPi / 4, kSkip, kSkip, false},  // inconsistent: J
      {{10, 5, 20, 4}, 0, kSkip, kSkip, false},         // inconsistent, I0 > I45: I
      // a0 = 100, a2 = 30, b2 = 40: Imax 150, Imin 50.
      {{130, 140, 70, 60}, std::atan(40.0 / 30.0) / 2, third, std::atan(third), false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.i[0] << " " << r.i[1] << " " << r.i[2] << " " << r.i[3]);
    const PixelValues v = P(r.i[0], r.i[1], r.i[2], r.i[3]);
    EXPECT_DOUBLE_EQ(v.Azimuth, r.azimuth);
    if (r.axisRatio != kSkip) EXPECT_DOUBLE_EQ(v.AxisRatio, r.axisRatio);
    if (r.ellipticity != kSkip) EXPECT_DOUBLE_EQ(v.EllipticityAngle, r.ellipticity);
    EXPECT_EQ(v.UndefinedMarker, r.undefined ? 9.42477 : 0);
  }
  const PixelValues linear = P(200, 100, 0, 100);
  EXPECT_EQ(std::make_tuple(linear.A0, linear.A2, linear.B2, linear.Amplitude), std::make_tuple(100.0, 100.0, 0.0, 100.0f));
  // A0 just below the amplitude in double precision, equal in single: undefined, never NaN.
  EXPECT_FALSE(std::isnan(P(200 + 1e-9, 100, 0, 100 + 1e-9).AxisRatio));
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> u(0, 255);
  for (int i = 0; i < 2000; ++i) {
    const PixelValues r = P(u(rng), u(rng), u(rng), u(rng));
    ASSERT_FALSE(std::isnan(r.AxisRatio) || std::isnan(r.EllipticityAngle));
    ASSERT_LE(std::fabs(r.Azimuth), kPi / 2 + 1e-12);
  }
}

TEST(Intensity, ThreeDefinitionsOfColourAndPalettePixels) {
  EXPECT_EQ(std::make_pair(IntensityOf(Definition::Max, 255, 0, 0), IntensityOf(Definition::Mean, 255, 0, 0)),
            std::make_pair(255.0, 85.0));
  EXPECT_DOUBLE_EQ(IntensityOf(Definition::Luma, 255, 0, 0), 76.245);
  EXPECT_NEAR(IntensityOf(Definition::Luma, 90, 90, 90), 90, 1e-12);
  AppState s;
  s.createImageSet(2, 1);
  s.Header.BitsPerPixel = 8;
  s.PaletteTable[7] = {10, 20, 30};
  s.ImageStore.set(1, 1, 0, 2, 7);
  EXPECT_EQ(std::make_pair(Intensity(s, Definition::Max, 1, 1, 2), Intensity(s, Definition::Mean, 1, 1, 2)),
            std::make_pair(30.0, 20.0));
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
  ASSERT_EQ(std::make_pair(a.width(), a.height()), std::make_pair(b.width(), b.height()));
  const size_t n = static_cast<size_t>(a.width()) * a.height();
  for (int l = 1; l <= 18; ++l)
    if (!ResultLayers::isUnusedLayer(l))
      for (size_t i = 0; i < n; ++i)
        ASSERT_EQ(std::memcmp(&a.layer(l)[i], &b.layer(l)[i], sizeof(double)), 0) << "layer " << l << " cell " << i;
}

// Row sums from left to right, added from the top row down: the order the processing promises.
DefinitionSums ReferenceSums(const ResultLayers& m, int g) {
  DefinitionSums t;
  for (int y = 1; y <= m.height(); ++y) {
    DefinitionSums r;
    for (int x = 1; x <= m.width(); ++x)
      r = {r.a0 + m.at(x, y, g), r.axisRatio + m.at(x, y, g + 1), r.azimuth + m.at(x, y, g + 3),
           r.undefinedPixels + (m.at(x, y, g + 4) != 0)};
    t = {t.a0 + r.a0, t.axisRatio + r.axisRatio, t.azimuth + r.azimuth, t.undefinedPixels + r.undefinedPixels};
  }
  return t;
}

// Processes a copy of `s` on `threads` threads, keeping the layers or only the totals, and
// the plain one-thread order: layers and totals bit for bit the same.
void ExpectReferenceMap(const AppState& s, int threads, bool keep = true) {
  AppState a = s, b = s;
  ProcessOptions o;
  o.threads = threads, o.keepLayers = keep, o.sumLayers = true;
  const ProcessOutcome out = ProcessSet(a, o);
  ASSERT_TRUE(out.complete);
  ЗаполнениеМассиваReference(b);
  if (keep) ExpectSameMaps(a.ResultMap, b.ResultMap);
  else EXPECT_TRUE(a.ResultMap.empty() && out.neededBytes == 0);
  for (int g : {1, 7, 13}) {
    const DefinitionSums &got = out.sums[g / 6], want = ReferenceSums(b.ResultMap, g);
    EXPECT_EQ(std::make_tuple(got.a0, got.axisRatio, got.azimuth, got.undefinedPixels),
              std::make_tuple(want.a0, want.axisRatio, want.azimuth, want.undefinedPixels)) << threads << keep << g;
  }
}

TEST(SetProcessing, ParallelResultAndTotalsAreBitIdenticalToTheOneThreadOrder) {
  AppState s;
  RandomSet(s, 37, 53, 11);
  for (int threads : {1, 2, 3, 7}) ExpectReferenceMap(s, threads, threads != 3);
  RandomSet(s, 300, 7, 300);  // rows longer than a block
  for (bool keep : {true, false}) ExpectReferenceMap(s, 3, keep);
  // An 8-bit set goes through the palette of the last 8-bit file for all slots.
  RandomSet(s, 19, 23, 5);
  s.Header.BitsPerPixel = 8;
  std::mt19937 rng(3);
  for (auto& e : s.PaletteTable) e = {float(rng() % 256), float(rng() % 256), float(rng() % 256)};
  ExpectReferenceMap(s, 2);
  ЗаполнениеМассива(s);
  std::array<double, 4> i;
  for (int k = 0; k < 4; ++k) i[k] = Intensity(s, Definition::Max, 3, 4, k + 1);
  EXPECT_EQ(s.ResultMap.at(3, 4, 1), Вычисление_a0_a2_b2(i).A0);
  // Grey pixels whose intensities run through every quadruple of four levels:
  // ties of every kind meet each azimuth rule and the order of the fall-back rules.
  const uint8_t levels[4] = {0, 1, 2, 200};
  std::vector<std::vector<uint8_t>> slots(4, std::vector<uint8_t>(16 * 16 * 3));
  for (int p = 0; p < 256; ++p)
    for (int k = 0; k < 4; ++k)
      for (int c = 0; c < 3; ++c) slots[k][3 * p + c] = levels[(p >> (2 * k)) & 3];
  test::FillSet24(s, 16, 16, slots);
  ExpectReferenceMap(s, 2, false);
  s.Header.BitsPerPixel = 8;
  for (int k = 0; k < 256; ++k) s.PaletteTable[k] = {float(k), float(k / 2), float(k)};
  ExpectReferenceMap(s, 2);
}

TEST(SetProcessing, OneDefinitionFirstAndTheOthersAddedGiveTheReferenceMap) {
  AppState s, reference;
  RandomSet(s, 41, 29, 8);
  reference = s;
  ЗаполнениеМассиваReference(reference);
  ProcessOptions first, rest;
  first.definitions = kMeanBit;
  rest.addToMap = true;
  ASSERT_TRUE(ProcessSet(s, first).complete);
  EXPECT_EQ(ProcessedDefinitions(s.ResultMap), unsigned{kMeanBit});
  s.IntensityMode = kModeMax;  // a definition that was not processed is never served as zeros
  EXPECT_THROW(ОпределениеИнтенсивностей(static_cast<const AppState&>(s), 3, 3), std::out_of_range);
  s.IntensityMode = kModeMean;
  EXPECT_EQ(ОпределениеИнтенсивностей(static_cast<const AppState&>(s), 3, 3).A0, reference.ResultMap.at(3, 3, 7));
  // The other two join the map without touching the shown definition or the contour layers.
  const double* mean = s.ResultMap.layer(7);
  s.ResultMap.set(2, 2, 19, 4.5);
  ASSERT_TRUE(ProcessSet(s, rest).complete);
  EXPECT_EQ(std::make_pair(s.ResultMap.layer(7), s.ResultMap.at(2, 2, 19)), std::make_pair(mean, 4.5));
  ExpectSameMaps(s.ResultMap, reference.ResultMap);

  // Reprocessing new content of the same size reuses the blocks and leaves nothing stale.
  AppState changed;
  RandomSet(changed, 41, 29, 9);
  s.ImageStore = reference.ImageStore = changed.ImageStore;
  const uint64_t allocated = PageBlock::totalAllocated();
  ASSERT_TRUE(ЗаполнениеМассива(s));
  EXPECT_EQ(PageBlock::totalAllocated(), allocated);
  EXPECT_FALSE(s.ResultMap.hasStorage(19));
  ЗаполнениеМассиваReference(reference);
  ExpectSameMaps(s.ResultMap, reference.ResultMap);

  // A set of the same width but another height: adding to the old map rebuilds it.
  AppState shorter;
  RandomSet(shorter, 41, 20, 10);
  reference = shorter;
  ЗаполнениеМассиваReference(reference);
  ASSERT_TRUE(ProcessSet(changed, first).complete);
  shorter.ResultMap = std::move(changed.ResultMap);
  ASSERT_TRUE(ProcessSet(shorter, rest).complete);
  ExpectSameMaps(shorter.ResultMap, reference.ResultMap);
}

TEST(SetProcessing, RefusesBeforeAllocatingWhenTheMachineLacksTheMemory) {
  AppState s;
  RandomSet(s, 400, 300, 4);  // the three definitions need 14.4 MB
  ProcessOptions o;
  o.availableMemory = 5u << 20;
  const uint64_t allocated = PageBlock::totalAllocated();
  ProcessOutcome out = ProcessSet(s, o);
  EXPECT_TRUE(!out.complete && s.ResultMap.empty());
  EXPECT_EQ(std::make_pair(PageBlock::totalAllocated(), out.neededBytes), std::make_pair(allocated, uint64_t{3} * 5 * 8 * 400 * 300));
  ASSERT_EQ(out.messages.size(), 1u);
  EXPECT_EQ(out.messages[0].title, "Недостаточно памяти");
  for (const char* part : {"400 x 300", "нужно 14 МБ", "доступно 5 МБ"})
    EXPECT_NE(out.messages[0].text.find(part), std::string::npos) << out.messages[0].text;
  // One definition fits where three do not; adding the other two is refused and
  // leaves the processed definition in place.
  o.definitions = kLumaBit;
  ASSERT_TRUE(ProcessSet(s, o).complete);
  o.definitions = kAllDefinitions;
  o.addToMap = true;
  out = ProcessSet(s, o);
  EXPECT_TRUE(!out.complete && out.neededBytes == 2u * 5 * 8 * 400 * 300);
  EXPECT_TRUE(s.ResultMap.hasStorage(13) && !s.ResultMap.hasStorage(1));
  // A map of the same size needs nothing new: no check, no refusal.
  o.addToMap = false;
  o.definitions = kLumaBit;
  o.availableMemory = 1;
  EXPECT_TRUE(ProcessSet(s, o).complete);
  // Large blocks are zero-filled and copied deep.
  PageBlock big(5u << 20);
  ASSERT_TRUE(!big.empty() && (big.data()[0] | big.data()[(5u << 20) - 1]) == 0);
  big.data()[12345] = 7;
  PageBlock copy = big;
  big.data()[12345] = 8;
  PageBlock moved = std::move(copy);
  EXPECT_TRUE(copy.empty() && moved.data()[12345] == 7);
}

TEST(SetProcessing, GreySetUnusableFilesLookupAndProgress) {
  AppState s;
  std::vector<std::vector<uint8_t>> grey(4, std::vector<uint8_t>(6 * 2 * 3, 90));
  for (int k = 0; k < 4; ++k) {
    grey[k][0] = grey[k][1] = grey[k][2] = 0;  // pixel (1,1) black, (1,2) coloured
    grey[k][18] = static_cast<uint8_t>(30 * k), grey[k][19] = static_cast<uint8_t>(200 - 20 * k), grey[k][20] = static_cast<uint8_t>(7 + 50 * k);
  }
  test::FillSet24(s, 6, 2, grey);
  s.ResultMap = ResultLayers(6, 2);
  s.ResultMap.set(1, 1, 19, 5.0);  // reprocessing drops the contour layers
  std::pair<long long, long long> progress;
  Progress p;
  p.report = [&](long long done, long long total) { progress = {done, total}; };
  ASSERT_TRUE(ЗаполнениеМассива(s, p, 2));
  EXPECT_EQ(progress, std::make_pair(2LL, 2LL));  // every row reported
  EXPECT_FALSE(s.ResultMap.hasStorage(19));
  const ResultLayers& m = s.ResultMap;
  for (int g : {1, 7, 13}) {  // A0, axis ratio, ellipticity angle, azimuth, undefined marker
    EXPECT_NEAR(m.at(2, 1, g), 90, 1e-12);
    EXPECT_EQ(std::make_tuple(m.at(2, 1, g + 1), m.at(2, 1, g + 2), m.at(2, 1, g + 3), m.at(2, 1, g + 4), m.at(1, 1, g + 4)),
              std::make_tuple(1.0, 0.7854, 0.0, 0.0, 9.42477));
  }
  // The layer lookup serves the chosen definition (max, mean, luma; the mean otherwise).
  for (auto [mode, g] : {std::pair{4, 7}, {5, 1}, {6, 13}, {0, 1}, {17, 1}}) {
    s.IntensityMode = mode;
    ОпределениеИнтенсивностей(s, 1, 2);
    const PixelValues& c = s.Current;
    EXPECT_EQ(std::make_tuple(c.A0, c.AxisRatio, c.EllipticityAngle, c.Azimuth, c.UndefinedMarker),
              std::make_tuple(m.at(1, 2, g), m.at(1, 2, g + 1), m.at(1, 2, g + 2), m.at(1, 2, g + 3), m.at(1, 2, g + 4)))
        << mode;
  }
  EXPECT_THROW(ОпределениеИнтенсивностей(s, 7, 1), std::out_of_range);
  EXPECT_THROW(ОпределениеИнтенсивностей(s, 1, 0), std::out_of_range);
  std::atomic<bool> cancel{true};  // a cancelled run stops
  p.cancel = &cancel;
  EXPECT_FALSE(ЗаполнениеМассива(s, p, 2));
  // Files that are no BMP or of 4 bits a pixel leave the layers at 0.
  s.Header.FileSignature = "MZ";
  ЗаполнениеМассива(s);
  EXPECT_EQ(s.ResultMap.at(2, 1, 1), 0.0);
  s.Header.FileSignature = "BM";
  s.Header.BitsPerPixel = 4;
  ЗаполнениеМассива(s);
  EXPECT_EQ(s.ResultMap.at(2, 1, 7), 0.0);
  EXPECT_THROW(ОпределениеИнтенсивностей(static_cast<const AppState&>(AppState()), 1, 1), std::out_of_range);
}

// The bundled set, processed: the azimuth on the sphere points along the
// normal's image-plane direction (mod pi), the degree of polarization grows to
// the rim, and the background is nearly unpolarized.
TEST(SampleScene, BundledSetCarriesTheModelledPolarization) {
  for (int deg = 0; deg < 80; deg += 10)  // the model: 0 at the centre, growing to the rim
    EXPECT_LT(DiffuseDegreeOfPolarization(deg * kPi / 180, 1.5), DiffuseDegreeOfPolarization((deg + 10) * kPi / 180, 1.5));
  EXPECT_TRUE(DiffuseDegreeOfPolarization(0, 1.5) < 1e-12 && DiffuseDegreeOfPolarization(80 * kPi / 180, 1.5) < 0.5);
  AppState s;
  ASSERT_TRUE(LoadSet(s, test::SampleFiles()).ok);
  ЗаполнениеМассива(s);
  const AppState& cs = s;
  const double cx = 166, cy = 118, r = 79, pi = 3.141592653589793;
  for (int a = 0; a < 360; a += 30) {
    const int x = static_cast<int>(std::lround(cx + 0.85 * r * std::cos(a * pi / 180)));
    const int y = static_cast<int>(std::lround(cy - 0.85 * r * std::sin(a * pi / 180)));
    const PixelValues v = ОпределениеИнтенсивностей(cs, x, y);
    const double d = std::fmod(v.Azimuth - std::atan2(cy - y, x - cx) + 10 * pi, pi);
    EXPECT_LT(std::min(d, pi - d), 0.15) << "angle " << a;
    EXPECT_LT(v.AxisRatio, 0.95);
  }
  const PixelValues centre = ОпределениеИнтенсивностей(cs, 166, 118);
  EXPECT_TRUE(centre.AxisRatio > 0.97 && centre.A0 > 120);
  EXPECT_LT(ОпределениеИнтенсивностей(cs, 5, 5).A0, 70);
}

}  // namespace
}  // namespace ps
