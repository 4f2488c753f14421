#include "engine/SelectMng.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<TPoint> Box(int32_t l, int32_t t, int32_t r, int32_t b) { return {{l, t}, {r, t}, {r, b}, {l, b}}; }

uint8_t At(const TSelectMng& sel, int32_t slot, int32_t x, int32_t y) {
  return sel.GetSlot(slot).Mask->ChannelGetPixel(x, y);
}

}  // namespace

TEST(SelectMngTest, NewManagerHasOneEmptyWhiteSlot) {
  TSelectMng sel(200, 100);
  EXPECT_EQ(sel.LastSlot(), 0);
  EXPECT_EQ(sel.Current(), 0);
  EXPECT_TRUE(sel.IsEmpty(0));
  ASSERT_NE(sel.GetThumb(0), nullptr);
  EXPECT_EQ(sel.GetThumb(0)->GetPixel(0, 0), 0xFFFFFFFFu);
  TSelectSlot slot = sel.GetCurrentSlot();
  ASSERT_NE(slot.Mask, nullptr);
  EXPECT_EQ(slot.Mask->Width(), 200);
  EXPECT_EQ(slot.Mask->MemoryUsed(), 0);
  EXPECT_TRUE(slot.Empty);
  sel.SetCurrent(1);
  EXPECT_EQ(sel.Current(), 0);
}

TEST(SelectMngTest, ThumbnailSizes) {
  struct Case {
    int32_t w, h, tw, th;
  } cases[] = {{300, 100, 48, 16}, {480, 480, 49, 48}, {100, 300, 16, 48}, {200, 200, 48, 48}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    TSelectMng sel(c.w, c.h);
    EXPECT_EQ(sel.GetThumb(0)->Width(), c.tw);
    EXPECT_EQ(sel.GetThumb(0)->Height(), c.th);
  }
}

// A slot holding box A combined with box B by each mode, read at a point of A only, of B
// only, of both and of neither.
TEST(SelectMngTest, CombineModes) {
  struct Case {
    uint8_t mode;
    uint8_t onlyA, onlyB, both, neither;
  } cases[] = {
      {smReplace, 0, 255, 255, 0}, {smAdd, 255, 255, 255, 0},   {smSubtract, 255, 0, 0, 0},
      {smIntersect, 0, 0, 255, 0}, {3, 255, 0, 255, 0},         {200, 255, 0, 255, 0},
  };
  const std::vector<TPoint> a = Box(10, 10, 50, 40), b = Box(30, 20, 70, 60);
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.mode));
    TSelectMng sel(100, 100);
    sel.CombineShape(0, a.data(), 4, smReplace);
    sel.CombineShape(0, b.data(), 4, c.mode);
    EXPECT_FALSE(sel.IsEmpty(0));
    EXPECT_EQ(At(sel, 0, 15, 15), c.onlyA);
    EXPECT_EQ(At(sel, 0, 60, 50), c.onlyB);
    EXPECT_EQ(At(sel, 0, 40, 30), c.both);
    EXPECT_EQ(At(sel, 0, 80, 80), c.neither);
  }
}

TEST(SelectMngTest, CombineOnAnEmptySlotGivesThePolygonAlone) {
  TSelectMng sel(100, 100);
  // The slot's mask holds something while the slot counts as empty.
  sel.GetSlot(0).Mask->ChannelFillRect(0, 0, 100, 100, 255);
  const std::vector<TPoint> b = Box(30, 20, 70, 60);
  sel.CombineShape(0, b.data(), 4, smAdd);
  EXPECT_EQ(At(sel, 0, 5, 5), 0);
  EXPECT_EQ(At(sel, 0, 40, 30), 255);
}

TEST(SelectMngTest, CombineCopiesThePointsAndRefreshesTheThumbnail) {
  TSelectMng sel(200, 200);
  const std::vector<TPoint> pts = {{10, 10}, {50, 10}, {50, 10}, {30, 50}};
  std::vector<TPoint> copy = pts;
  sel.CombineShape(0, copy.data(), 4, smReplace);
  EXPECT_EQ(copy, pts);
  const TTC& thumb = *sel.GetThumb(0);
  EXPECT_EQ(thumb.GetPixel(7, 5), 0xFFFFFFFFu);   // inside: opaque white grey
  EXPECT_EQ(thumb.GetPixel(40, 40), 0xFF000000u);  // outside the mask's tiles: black
  // Zero points: the replace still empties the mask and the slot counts as selected.
  sel.CombineShape(0, nullptr, 0, smReplace);
  EXPECT_EQ(At(sel, 0, 30, 20), 0);
  EXPECT_FALSE(sel.IsEmpty(0));
}

TEST(SelectMngTest, SelectAllClearAndResize) {
  TSelectMng sel(300, 300);
  sel.SelectAll(0);
  EXPECT_FALSE(sel.IsEmpty(0));
  EXPECT_EQ(At(sel, 0, 299, 299), 255);
  sel.Clear(0);
  EXPECT_TRUE(sel.IsEmpty(0));
  EXPECT_EQ(sel.GetSlot(0).Mask->MemoryUsed(), 0);
  sel.SelectAll(0);
  ASSERT_TRUE(sel.Resize(300, 100));
  EXPECT_TRUE(sel.IsEmpty(0));
  EXPECT_EQ(sel.GetThumb(0)->Width(), 48);
  EXPECT_EQ(sel.GetThumb(0)->Height(), 16);
  EXPECT_EQ(sel.GetSlot(0).Mask->Height(), 100);
  EXPECT_EQ(At(sel, 0, 10, 10), 0);
  EXPECT_FALSE(sel.Resize(6400, 10));
  EXPECT_FALSE(sel.Resize(10, -1));
  EXPECT_EQ(sel.Width(), 300);
}

TEST(SelectMngTest, StoreCopyStopsAtTwentyFiveSlots) {
  TSelectMng sel(64, 64);
  sel.SelectAll(0);
  sel.StoreCopy(0);
  EXPECT_EQ(sel.LastSlot(), 1);
  EXPECT_FALSE(sel.IsEmpty(1));
  EXPECT_EQ(At(sel, 1, 20, 20), 255);
  EXPECT_TRUE(sel.IsEmpty(0));
  EXPECT_EQ(sel.Current(), 0);
  sel.SetCurrent(1);
  EXPECT_EQ(sel.Current(), 1);
  for (int32_t k = 0; k < 40; ++k) sel.StoreCopy(1);
  EXPECT_EQ(sel.LastSlot(), kSelectSlots - 1);
  EXPECT_NE(sel.GetThumb(24), nullptr);
}

TEST(SelectMngTest, GrowShrinkAndInvert) {
  const std::vector<TPoint> box = Box(20, 20, 60, 60);
  TSelectMng sel(100, 100);
  sel.Grow(0);  // empty: nothing
  EXPECT_TRUE(sel.IsEmpty(0));
  sel.CombineShape(0, box.data(), 4, smReplace);
  ASSERT_EQ(At(sel, 0, 19, 40), 0);
  ASSERT_EQ(At(sel, 0, 20, 40), 255);
  sel.Grow(0);
  EXPECT_EQ(At(sel, 0, 19, 40), 255);
  EXPECT_EQ(At(sel, 0, 40, 40), 255);
  EXPECT_EQ(At(sel, 0, 10, 40), 0);

  TSelectMng other(100, 100);
  other.CombineShape(0, box.data(), 4, smReplace);
  other.Shrink(0);
  EXPECT_LT(At(other, 0, 20, 40), 255);
  EXPECT_EQ(At(other, 0, 40, 40), 255);
  // Inverting keeps the mask (there is no inversion to compute) and marks the slot selected.
  other.Invert(0);
  EXPECT_EQ(At(other, 0, 40, 40), 255);
  EXPECT_EQ(At(other, 0, 5, 5), 0);
  EXPECT_FALSE(other.IsEmpty(0));
}

TEST(SelectMngTest, SlotsOutsideTheManagerAreIgnored) {
  TSelectMng sel(100, 100);
  const std::vector<TPoint> box = Box(20, 20, 60, 60);
  for (int32_t slot : {-1, 1, 24, 25, 1000}) {
    SCOPED_TRACE(slot);
    sel.CombineShape(slot, box.data(), 4, smReplace);
    sel.SelectAll(slot);
    sel.Clear(slot);
    sel.RefreshThumb(slot);
    sel.Grow(slot);
    sel.Shrink(slot);
    sel.Invert(slot);
    sel.CopySlot(slot, 0);
    sel.CopySlot(0, slot);
    sel.StoreCopy(slot);
    sel.SetCurrent(slot);
    EXPECT_EQ(sel.GetThumb(slot), nullptr);
    EXPECT_TRUE(sel.IsEmpty(slot));
    EXPECT_EQ(sel.GetSlot(slot).Mask, nullptr);
  }
  EXPECT_EQ(sel.LastSlot(), 0);
  EXPECT_EQ(sel.Current(), 0);
  EXPECT_TRUE(sel.IsEmpty(0));
  EXPECT_EQ(sel.GetSlot(0).Mask->MemoryUsed(), 0);
}
