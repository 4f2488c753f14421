#include "engine/Layer.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "engine/SelectMng.h"

namespace {

constexpr uint32_t kRgb = 0xFFFFFFu;

uint32_t Rgb(const TBlockImage& b, int32_t x, int32_t y) { return b.GetPixel(x, y) & kRgb; }

// Every pixel of the layer image, with alpha.
std::vector<uint32_t> Pixels(const TBlockImage& b) {
  std::vector<uint32_t> out;
  for (int32_t y = 0; y < b.Height(); ++y)
    for (int32_t x = 0; x < b.Width(); ++x) out.push_back(b.GetPixel(x, y));
  return out;
}

std::vector<uint32_t> RgbPixels(const TBlockImage& b) {
  std::vector<uint32_t> out = Pixels(b);
  for (uint32_t& p : out) p &= kRgb;
  return out;
}

struct SizedLayer : TLayer {
  SizedLayer(TLayerKind kind, int32_t w, int32_t h) : TLayer(kind) { SetSize(w, h); }
};

}  // namespace

TEST(LayerTest, NewLayerReadsTheClearColourOfItsKind) {
  struct Case {
    uint32_t kind;
    TLayerKind stored;
    uint32_t clear;
  } cases[] = {{0, lkMultiply, 0xFFFFFF}, {1, lkAdd, 0}, {2, lkSubtract, 0}, {3, lkArgb, 0}, {4, lkArgb, 0},
               {255, lkArgb, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    TLayer layer(static_cast<TLayerKind>(c.kind));
    ASSERT_TRUE(layer.SetSize(130, 70));
    EXPECT_EQ(layer.Kind(), c.stored);
    EXPECT_EQ(layer.ClearColor(), c.clear);
    EXPECT_EQ(layer.Image().BackColour(), c.clear);
    EXPECT_EQ(layer.Visible(), 1);
    EXPECT_EQ(layer.Opacity(), 255);
    EXPECT_EQ(layer.UndoSteps(), 0);
    EXPECT_EQ(layer.Image().GetPixel(0, 0), c.clear);
    EXPECT_EQ(layer.Image().GetPixel(129, 69), c.clear);
    EXPECT_EQ(layer.Image().MemoryUsed(), 0);
  }
}

TEST(LayerTest, SizesBeyondTheGridAreRefused) {
  TLayer layer(lkMultiply);
  ASSERT_TRUE(layer.SetSize(100, 50));
  layer.PushUndo();
  EXPECT_FALSE(layer.SetSize(6400, 10));
  EXPECT_FALSE(layer.SetSize(10, 6400));
  EXPECT_FALSE(layer.SetSize(-1, 10));
  EXPECT_FALSE(layer.SetSize(INT_MAX, INT_MAX));
  EXPECT_EQ(layer.Image().Width(), 100);
  EXPECT_EQ(layer.Image().Height(), 50);
  EXPECT_EQ(layer.UndoSteps(), 1);
  EXPECT_TRUE(layer.SetSize(kMaxPaperSide, kMaxPaperSide));
  EXPECT_EQ(layer.UndoSteps(), 0);
}

TEST(LayerTest, ThumbnailSizeFollowsTheLongerSide) {
  struct Case {
    int32_t w, h, tw, th;
  } cases[] = {
      {200, 100, 46, 24}, {100, 200, 24, 46}, {640, 480, 46, 35}, {100, 100, 47, 46},
      {3, 3, 46, 46},  // the single-precision product falls just below 46
      {6399, 1, 46, 1},   {1, 6399, 1, 46},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    SizedLayer layer(lkMultiply, c.w, c.h);
    EXPECT_EQ(layer.Thumbnail().Width(), c.tw);
    EXPECT_EQ(layer.Thumbnail().Height(), c.th);
    EXPECT_EQ(layer.Thumbnail().GetPixel(0, 0), 0xFFFFFFFFu);
  }
}

TEST(LayerTest, ThumbnailShowsTheLayerAndClearPaintsItTheClearColour) {
  SizedLayer layer(lkMultiply, 200, 100);
  layer.FillRect(0, 0, 100, 100, 0x000000);
  layer.UpdateThumbnail();
  EXPECT_EQ(layer.Thumbnail().GetPixel(2, 10) & kRgb, 0u);
  EXPECT_EQ(layer.Thumbnail().GetPixel(43, 10) & kRgb, kRgb);
  layer.Clear();
  EXPECT_EQ(layer.Image().MemoryUsed(), 0);
  EXPECT_EQ(layer.Thumbnail().GetPixel(2, 10), 0xFFFFFFu);  // the raw clear colour, alpha 0

  // Redrawing a part touches only the thumbnail pixels of that part.
  SizedLayer add(lkAdd, 200, 100);
  add.FillRect(150, 50, 50, 50, 0xFFFFFF);
  add.UpdateThumbnailRect(150, 50, 50, 50);
  EXPECT_EQ(add.Thumbnail().GetPixel(40, 20) & kRgb, kRgb);
  EXPECT_EQ(add.Thumbnail().GetPixel(2, 2), 0xFFFFFFFFu);  // still the white of ResizeThumbnail
}

// Nine changes, each preceded by a push, then pops: the ring holds eight steps and wraps.
TEST(LayerTest, UndoRingHoldsEightStepsAndWraps) {
  SizedLayer layer(lkMultiply, 80, 70);
  std::vector<std::vector<uint32_t>> states{Pixels(layer.Image())};
  const int32_t expectedTop[] = {1, 2, 3, 4, 5, 6, 7, 0, 1};
  for (int32_t k = 0; k < 9; ++k) {
    layer.PushUndo();
    EXPECT_EQ(layer.UndoTop(), expectedTop[k]);
    EXPECT_EQ(layer.UndoSteps(), std::min(k + 1, 8));
    layer.FillRect(k * 7, k * 5, 20, 20, 0x102030u * (k + 1));
    states.push_back(Pixels(layer.Image()));
  }
  for (int32_t k = 8; k >= 1; --k) {
    int32_t x, y, w, h;
    ASSERT_TRUE(layer.PopUndo(nullptr, x, y, w, h));
    EXPECT_EQ(Pixels(layer.Image()), states[k]) << "after popping back to change " << k;
    EXPECT_EQ(x, 0);
    EXPECT_EQ(w, 80);
    EXPECT_EQ(h, 70);
  }
  // The first change is as far back as the ring reaches; a further pop changes nothing.
  EXPECT_EQ(layer.UndoSteps(), 0);
  int32_t x = -1, y = -1, w = -1, h = -1;
  EXPECT_FALSE(layer.PopUndo(nullptr, x, y, w, h));
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(Pixels(layer.Image()), states[1]);
  // Popped slots give their tiles back.
  EXPECT_EQ(layer.UndoMemorySize(), 0);
}

TEST(LayerTest, RectangleStepRestoresOnlyItsRectangle) {
  SizedLayer layer(lkMultiply, 200, 150);
  layer.PushUndoRect(10, 20, 30, 40);
  layer.FillRect(0, 0, 200, 150, 0x336699);
  int32_t x, y, w, h;
  ASSERT_TRUE(layer.PopUndo(nullptr, x, y, w, h));
  EXPECT_EQ((std::vector<int32_t>{x, y, w, h}), (std::vector<int32_t>{10, 20, 30, 40}));
  EXPECT_EQ(Rgb(layer.Image(), 10, 20), kRgb);
  EXPECT_EQ(Rgb(layer.Image(), 39, 59), kRgb);
  EXPECT_EQ(Rgb(layer.Image(), 40, 59), 0x336699u);
  EXPECT_EQ(Rgb(layer.Image(), 9, 20), 0x336699u);
  EXPECT_EQ(Rgb(layer.Image(), 10, 60), 0x336699u);
}

TEST(LayerTest, UndoRectanglesAreCutToTheLayer) {
  struct Case {
    int32_t x, y, w, h;
    int32_t ex, ey, ew, eh;
  } cases[] = {
      {-50, -50, 100, 80, 0, 0, 50, 30},
      {150, 100, INT_MAX, INT_MAX, 150, 100, 50, 50},
      {INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0, 0, 0, 0},
      {-10, -10, INT_MAX, INT_MAX, 0, 0, 200, 150},
      {300, 10, 20, 20, 200, 10, 0, 0},  // wholly outside
      {10, 10, -5, 20, 10, 10, 0, 0},    // negative width
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " " << c.w << "x" << c.h);
    SizedLayer layer(lkAdd, 200, 150);
    layer.PushUndoRect(c.x, c.y, c.w, c.h);
    EXPECT_EQ(layer.UndoSteps(), 1);
    EXPECT_EQ(layer.Undo(layer.UndoTop()).Width(), c.ew);
    EXPECT_EQ(layer.Undo(layer.UndoTop()).Height(), c.eh);
    layer.FillRect(0, 0, 200, 150, 0x808080);
    int32_t x, y, w, h;
    ASSERT_TRUE(layer.PopUndo(nullptr, x, y, w, h));
    EXPECT_EQ((std::vector<int32_t>{x, y, w, h}), (std::vector<int32_t>{c.ex, c.ey, c.ew, c.eh}));
    if (c.ew > 0) {
      EXPECT_EQ(Rgb(layer.Image(), c.ex, c.ey), 0u);
      EXPECT_EQ(Rgb(layer.Image(), c.ex + c.ew - 1, c.ey + c.eh - 1), 0u);
    }
  }
}

// A step that holds nothing still takes its place in the ring.
TEST(LayerTest, EmptyRectangleStepKeepsTheOrderOfSteps) {
  SizedLayer layer(lkMultiply, 100, 100);
  layer.PushUndoRect(0, 0, 50, 50);
  layer.FillRect(0, 0, 50, 50, 0x111111);
  layer.PushUndoRect(500, 500, 10, 10);
  layer.FillRect(60, 60, 10, 10, 0x222222);
  int32_t x, y, w, h;
  ASSERT_TRUE(layer.PopUndo(nullptr, x, y, w, h));
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(Rgb(layer.Image(), 0, 0), 0x111111u);
  EXPECT_EQ(Rgb(layer.Image(), 60, 60), 0x222222u);
  ASSERT_TRUE(layer.PopUndo(nullptr, x, y, w, h));
  EXPECT_EQ(Rgb(layer.Image(), 0, 0), kRgb);
  EXPECT_EQ(Rgb(layer.Image(), 60, 60), 0x222222u);
}

// A step taken over blank tiles turns a since-painted region back into the clear colour, in
// the layer and in its working copy.
TEST(LayerTest, PopOfABlankStepClearsLayerAndWorkingCopy) {
  SizedLayer layer(lkSubtract, 150, 150);
  TBlockImage work;
  work.SetSize(150, 150);
  layer.Image().CloneTo(work);
  layer.PushUndoRect(0, 0, 150, 150);
  layer.FillRect(30, 30, 90, 90, 0xABCDEF);
  work.FillRect(20, 20, 110, 110, 0x123456);
  int32_t x, y, w, h;
  ASSERT_TRUE(layer.PopUndo(&work, x, y, w, h));
  EXPECT_EQ(RgbPixels(layer.Image()), std::vector<uint32_t>(150 * 150, 0u));
  EXPECT_EQ(RgbPixels(work), std::vector<uint32_t>(150 * 150, 0u));
  // Both are compacted again.
  EXPECT_EQ(layer.Image().MemoryUsed(), 0);
  EXPECT_EQ(work.MemoryUsed(), 0);
}

TEST(LayerTest, KindChangeKeepsTheVisiblePixels) {
  SizedLayer layer(lkMultiply, 100, 80);
  layer.SetKind(lkAdd);
  EXPECT_EQ(layer.Kind(), lkAdd);
  EXPECT_EQ(layer.Image().BackColour(), 0u);
  EXPECT_EQ(RgbPixels(layer.Image()), std::vector<uint32_t>(100 * 80, kRgb));
  EXPECT_GT(layer.Image().MemoryUsed(), 0);  // the old background became real tiles
  layer.SetKind(lkMultiply);
  EXPECT_EQ(layer.Image().MemoryUsed(), 0);  // and the white ones go again
  layer.SetKind(255);
  EXPECT_EQ(layer.Kind(), lkArgb);
}

TEST(LayerTest, OffsetLeavesTheClearColourBehind) {
  struct Case {
    TLayerKind kind;
    int32_t dx, dy;
  } cases[] = {{lkMultiply, 10, 0}, {lkAdd, -7, 3}, {lkMultiply, 65, -64}, {lkSubtract, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.kind) << " " << c.dx << "," << c.dy);
    SizedLayer layer(c.kind, 150, 100);
    for (int32_t y = 0; y < 100; ++y)
      for (int32_t x = 0; x < 150; ++x)
        if ((x * 7 + y * 3) % 5 == 0) layer.Image().SetPixel(x, y, 0xFF000000u | uint32_t(x * 256 + y));
    const TBlockImage& img = layer.Image();
    std::vector<uint32_t> before = Pixels(img);
    layer.Offset(c.dx, c.dy);
    for (int32_t y = 0; y < 100; ++y)
      for (int32_t x = 0; x < 150; ++x) {
        const int32_t sx = x - c.dx, sy = y - c.dy;
        const bool inside = sx >= 0 && sy >= 0 && sx < 150 && sy < 100;
        const uint32_t want = inside ? before[sy * 150 + sx] : layer.ClearColor();
        ASSERT_EQ(img.GetPixel(x, y) & kRgb, want & kRgb) << x << "," << y;
      }
  }
  SizedLayer layer(lkMultiply, 100, 100);
  layer.FillRect(0, 0, 100, 100, 0);
  layer.Offset(INT_MIN, INT_MAX);
  EXPECT_EQ(layer.Image().MemoryUsed(), 0);
}

TEST(LayerTest, FlipsTurnAndInversion) {
  SizedLayer layer(lkAdd, 130, 70);
  layer.Image().SetPixel(3, 5, 0xFF112233u);
  layer.Mirror();
  EXPECT_EQ(layer.Image().GetPixel(126, 5), 0xFF112233u);
  EXPECT_EQ(Rgb(layer.Image(), 3, 5), 0u);
  layer.UpsideDown();
  EXPECT_EQ(layer.Image().GetPixel(126, 64), 0xFF112233u);
  layer.Rotate180();
  EXPECT_EQ(layer.Image().GetPixel(3, 5), 0xFF112233u);
  EXPECT_EQ(Rgb(layer.Image(), 129, 69), 0u);  // the black background stays black
  EXPECT_EQ(Rgb(layer.Image(), 0, 69), 0u);
  // Each transform compacts: only the tile with the pixel remains.
  EXPECT_EQ(layer.Image().MemoryUsed(), TBlock::kTileMemory);

  SizedLayer blank(lkMultiply, 90, 90);
  blank.NegaPosi();
  EXPECT_EQ(blank.Image().GetPixel(45, 45), 0xFF000000u);
  EXPECT_EQ(RgbPixels(blank.Image()), std::vector<uint32_t>(90 * 90, 0u));
}

TEST(LayerTest, FillsAreOpaqueAndCutToTheLayer) {
  SizedLayer layer(lkMultiply, 128, 128);
  layer.FillRect(-100, -100, INT_MAX, INT_MAX, 0x00445566u);
  EXPECT_EQ(layer.Image().GetPixel(127, 127), 0xFF445566u);
  // Width 128: the valid third tile column lies wholly outside the layer and stays absent.
  EXPECT_EQ(layer.Image().MemoryUsed(), 4 * TBlock::kTileMemory);
  layer.ClearRect(0, 0, 64, 64);
  EXPECT_EQ(layer.Image().GetPixel(10, 10), 0xFFFFFFFFu);
  layer.Compact();
  EXPECT_EQ(layer.Image().MemoryUsed(), 3 * TBlock::kTileMemory);
}

TEST(LayerTest, FillSelectionFillsAllOrBlendsThroughTheMask) {
  SizedLayer layer(lkMultiply, 100, 100);
  TSelectSlot none;
  layer.FillSelection(none, 0x00102030u);
  EXPECT_EQ(layer.Image().GetPixel(99, 99), 0xFF102030u);

  SizedLayer masked(lkMultiply, 100, 100);
  TBlockChannel mask;
  mask.SetSize(100, 100);
  mask.ChannelFillRect(10, 10, 10, 10, 255);
  mask.ChannelFillRect(30, 30, 10, 10, 128);
  TSelectSlot slot;
  slot.Mask = &mask;
  slot.Empty = false;
  masked.FillSelection(slot, 0x000000);
  // 0 over 255 at mask 255 moves by T_AlphaDiff[255][-127] = -254: 1, not 0.
  EXPECT_EQ(Rgb(masked.Image(), 15, 15), 0x010101u);
  EXPECT_EQ(Rgb(masked.Image(), 35, 35), 0x808080u);
  EXPECT_EQ(Rgb(masked.Image(), 50, 50), kRgb);
}

TEST(LayerTest, ArgbCompactionKeepsAlpha) {
  SizedLayer argb(lkArgb, 130, 64);
  argb.Image().FillRect(0, 0, 64, 64, 0xFF000000u);    // opaque black: RGB equal to the background
  argb.Image().FillRect(64, 0, 64, 64, 0x00000000u);   // exactly the background
  argb.Compact();
  EXPECT_EQ(argb.Image().GetPixel(5, 5), 0xFF000000u);
  EXPECT_EQ(argb.Image().MemoryUsed(), TBlock::kTileMemory);
  // The rectangle form used by undo keeps it as well.
  argb.PushUndoRect(0, 0, 130, 64);
  argb.Image().FillRect(0, 0, 130, 64, 0x12345678u);
  int32_t x, y, w, h;
  ASSERT_TRUE(argb.PopUndo(nullptr, x, y, w, h));
  EXPECT_EQ(argb.Image().GetPixel(5, 5), 0xFF000000u);
  EXPECT_EQ(argb.Image().GetPixel(70, 5), 0u);

  SizedLayer add(lkAdd, 130, 64);
  add.Image().FillRect(0, 0, 64, 64, 0xFF000000u);
  add.Compact();
  EXPECT_EQ(add.Image().MemoryUsed(), 0);
}

TEST(LayerTest, AssignCopiesEverything) {
  SizedLayer src(lkAdd, 120, 90);
  src.FillRect(5, 5, 70, 70, 0x404040);
  src.PushUndoRect(1, 2, 30, 40);
  src.FillRect(0, 0, 10, 10, 0x808080);
  src.PushUndo();
  src.SetOpacity(77);
  src.SetVisible(0);
  src.UpdateThumbnail();
  SizedLayer dst(lkMultiply, 120, 90);
  src.Assign(dst);
  EXPECT_EQ(Pixels(dst.Image()), Pixels(src.Image()));
  EXPECT_EQ(dst.Kind(), lkAdd);
  EXPECT_EQ(dst.Image().BackColour(), 0u);
  EXPECT_EQ(dst.Opacity(), 77);
  EXPECT_EQ(dst.Visible(), 0);
  EXPECT_EQ(dst.UndoTop(), src.UndoTop());
  EXPECT_EQ(dst.UndoSteps(), 2);
  for (int32_t k = 0; k < 8; ++k) {
    EXPECT_EQ(dst.UndoOrigin(k), src.UndoOrigin(k));
    EXPECT_EQ(Pixels(dst.Undo(k)), Pixels(src.Undo(k)));
  }
  EXPECT_EQ(dst.Thumbnail().GetPixel(10, 10), src.Thumbnail().GetPixel(10, 10));
  int32_t x, y, w, h;
  ASSERT_TRUE(dst.PopUndo(nullptr, x, y, w, h));
  ASSERT_TRUE(dst.PopUndo(nullptr, x, y, w, h));
  EXPECT_EQ((std::vector<int32_t>{x, y, w, h}), (std::vector<int32_t>{1, 2, 30, 40}));
}
