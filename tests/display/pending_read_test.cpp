#include <gtest/gtest.h>

#include "display/view_state.h"
#include "imageio/bmp.h"
#include "support/test_support.h"

namespace ps {
namespace {

TEST(PendingRead, ReadsTheFileIntoTheCurrentSlotWithAGrowingBar) {
  const int W = 6, H = 5;
  RgbImage im{W, H, std::vector<uint8_t>(W * H * 3, 0)};
  im.pixel(2, 3)[0] = 77;  // column 3, row 4 (1-based)
  const std::string dir = test::TempDir("display-read");
  ASSERT_TRUE(WriteFileBytes(dir + "/45.bmp", EncodeBmp24(im)));

  AppState s;
  s.createImageSet(W, H);
  const CheckFileOutcome check = CheckFile(s, dir, "45.bmp");
  ASSERT_TRUE(check.header.accepted);
  UseCheckedFile(s, check.header.file);
  s.CurrentSlot = 2;
  s.PendingRead = true;
  DisplayState ds;
  std::vector<int> widths;
  const PendingReadOutcome out = PendingReadTick(ds, s, [&](int w) { widths.push_back(w); });
  EXPECT_TRUE(out.ran);
  EXPECT_TRUE(out.read);
  EXPECT_EQ(out.redraw, kRedrawView2);
  EXPECT_FALSE(s.PendingRead);
  EXPECT_EQ(s.ImageStore.at(3, 4, 0, 2), 77);
  ASSERT_EQ(widths.size(), 5u);
  EXPECT_EQ(widths.front(), 466 / 5);
  EXPECT_EQ(widths.back(), 466);
  EXPECT_FALSE(ds.ReadingPictureVisible);

  // A file of another size than the set is not read; the flag is cleared.
  s.PendingRead = true;
  s.Header.ImageWidth = W + 1;
  ds.ReadingPictureVisible = true;
  const PendingReadOutcome refused = PendingReadTick(ds, s);
  EXPECT_FALSE(refused.ran);
  EXPECT_EQ(refused.redraw, kRedrawNone);
  EXPECT_FALSE(s.PendingRead);
  EXPECT_FALSE(ds.ReadingPictureVisible);
}

}  // namespace
}  // namespace ps
