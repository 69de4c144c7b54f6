// Totals gathered while processing, with and without keeping the layers.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "polarization/polarization.h"
#include "support/test_support.h"

namespace ps {
namespace {

// Row sums from left to right, added from the top row down: the order the
// processing promises, so the totals must match bit for bit.
DefinitionSums ReferenceSums(const ResultLayers& m, Definition d) {
  DefinitionSums total;
  const int g = FirstLayer(d);
  for (int y = 1; y <= m.height(); ++y) {
    DefinitionSums row;
    for (int x = 1; x <= m.width(); ++x) {
      row.a0 += m.at(x, y, g);
      row.axisRatio += m.at(x, y, g + 1);
      row.azimuth += m.at(x, y, g + 3);
      row.undefinedPixels += m.at(x, y, g + 4) != 0;
    }
    total.a0 += row.a0;
    total.axisRatio += row.axisRatio;
    total.azimuth += row.azimuth;
    total.undefinedPixels += row.undefinedPixels;
  }
  return total;
}

TEST(SetProcessing, TotalsMatchTheReferenceMapWhetherOrNotTheLayersAreKept) {
  // 300 columns cross a block boundary of the row loop.
  for (const auto [w, h] : {std::pair{37, 53}, std::pair{300, 7}}) {
    std::mt19937 rng(w);
    std::vector<std::vector<uint8_t>> slots(4, std::vector<uint8_t>(static_cast<size_t>(w) * h * 3));
    for (auto& slot : slots)
      for (auto& b : slot) b = static_cast<uint8_t>(rng() % 4 == 0 ? 0 : rng() % 256);
    AppState reference;
    test::FillSet24(reference, w, h, slots);
    ЗаполнениеМассиваReference(reference);

    for (const bool keep : {false, true})
      for (const int threads : {1, 3}) {
        AppState s;
        test::FillSet24(s, w, h, slots);
        ProcessOptions options;
        options.keepLayers = keep;
        options.sumLayers = true;
        options.threads = threads;
        const ProcessOutcome out = ProcessSet(s, options);
        ASSERT_TRUE(out.complete);
        EXPECT_EQ(s.ResultMap.empty(), !keep);
        EXPECT_EQ(out.neededBytes == 0, !keep);
        for (const Definition d : {Definition::Max, Definition::Mean, Definition::Luma}) {
          const DefinitionSums want = ReferenceSums(reference.ResultMap, d);
          const DefinitionSums& got = out.sums[FirstLayer(d) / 6];
          SCOPED_TRACE(testing::Message() << w << "x" << h << " keep " << keep << " threads " << threads << " "
                                          << DefinitionName(d));
          EXPECT_EQ(got.a0, want.a0);
          EXPECT_EQ(got.axisRatio, want.axisRatio);
          EXPECT_EQ(got.azimuth, want.azimuth);
          EXPECT_EQ(got.undefinedPixels, want.undefinedPixels);
          EXPECT_GT(want.undefinedPixels, 0u);  // the zero bytes make some pixels undefined
          if (keep)
            for (int q = 0; q < 5; ++q)
              EXPECT_EQ(0, std::memcmp(s.ResultMap.layer(FirstLayer(d) + q),
                                       reference.ResultMap.layer(FirstLayer(d) + q), sizeof(double) * w * h));
        }
      }
  }
}

}  // namespace
}  // namespace ps
