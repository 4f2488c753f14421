// Where tile and canvas pixels live: tiles share pooled chunks whose free slots go back to the
// system in bulk, large canvases sit on their own pages. Pixels must survive every round of
// freeing, trimming and reuse, on any thread.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "engine/Block.h"
#include "engine/TrueCnvs.h"

namespace {

constexpr int32_t kSide = TBlock::kTileSide;

// A pixel value that tells tile, position and round apart.
uint32_t Mark(int32_t x, int32_t y, uint32_t round) {
  return 0xFF000000u | ((uint32_t(x) * 2654435761u + uint32_t(y) * 40503u + round * 977u) & 0xFFFFFFu);
}

// Writes one marked pixel and a marked row into every tile of columns 0..cols-1, rows 0..rows-1.
void MarkTiles(TBlockImage& img, int32_t cols, int32_t rows, uint32_t round) {
  for (int32_t ty = 0; ty < rows; ++ty)
    for (int32_t tx = 0; tx < cols; ++tx) {
      const int32_t x = tx * kSide, y = ty * kSide + (tx + ty) % kSide;
      for (int32_t i = 0; i < kSide; ++i) img.SetPixel(x + i, y, Mark(x + i, y, round));
    }
}

// Empty when every tile of the area holds its marks over the background, else the first pixel
// that does not.
std::string CheckTiles(const TBlockImage& img, int32_t cols, int32_t rows, uint32_t round) {
  for (int32_t ty = 0; ty < rows; ++ty)
    for (int32_t tx = 0; tx < cols; ++tx) {
      const int32_t marked = ty * kSide + (tx + ty) % kSide;
      for (int32_t y = ty * kSide; y < ty * kSide + kSide; ++y)
        for (int32_t x = tx * kSide; x < tx * kSide + kSide; ++x) {
          const uint32_t want = y == marked ? Mark(x, y, round) : img.BackColour();
          if (img.GetPixel(x, y) != want) return "pixel " + std::to_string(x) + "," + std::to_string(y);
        }
    }
  return {};
}

TEST(TileStorage, PixelsSurviveTrimmingAndReuse) {
  TBlockImage keep;
  keep.SetSize(640, 640);
  keep.SetBackColour(0x123456);
  MarkTiles(keep, 10, 10, 1);
  {
    // Enough tiles freed at once to give memory back: the kept tiles share chunks with them.
    TBlockImage scratch;
    scratch.SetSize(kSide * 70, kSide * 70);
    MarkTiles(scratch, 70, 70, 2);
    ASSERT_EQ(scratch.TileCount(), 4900);
    scratch.FreeTile(3, 3);
    scratch.FreeTile(3, 3);  // a second free of the same slot changes nothing
    EXPECT_EQ(scratch.TileCount(), 4899);
  }
  EXPECT_EQ(CheckTiles(keep, 10, 10, 1), "");
  // Slots that went back to the system are taken again and written from scratch.
  TBlockImage again;
  again.SetSize(kSide * 60, kSide * 60);
  again.SetBackColour(0xFFFFFF);
  MarkTiles(again, 60, 60, 3);
  EXPECT_EQ(CheckTiles(again, 60, 60, 3), "");
  EXPECT_EQ(CheckTiles(keep, 10, 10, 1), "");
  again.Compact();  // keeps every tile: each holds a marked row
  EXPECT_EQ(again.TileCount(), 3600);
}

TEST(TileStorage, BlocksOnSeveralThreadsKeepTheirOwnPixels) {
  std::vector<std::string> errors(4);
  std::vector<std::thread> threads;
  for (uint32_t k = 0; k < 4; ++k)
    threads.emplace_back([k, &errors] {
      for (uint32_t round = 0; round < 3 && errors[k].empty(); ++round) {
        TBlockImage img;
        img.SetSize(kSide * 40, kSide * 40);
        img.SetBackColour(k * 0x111111u);
        MarkTiles(img, 40, 40, k * 10 + round);
        errors[k] = CheckTiles(img, 40, 40, k * 10 + round);
      }
    });
  for (auto& t : threads) t.join();
  for (const auto& e : errors) EXPECT_EQ(e, "");
}

TEST(TileStorage, ABlockWithoutTilesReadsItsBackgroundAndSwapsTiles) {
  TBlockImage empty, full;
  empty.SetSize(300, 200);
  empty.SetBackColour(0xABCDEF);
  full.SetSize(300, 200);
  full.SetBackColour(0x010203);
  full.SetPixel(299, 199, 0xFF445566u);
  EXPECT_EQ(empty.GetPixel(10, 10), 0xABCDEFu);
  EXPECT_EQ(empty.TileCount(), 0);
  empty.FreeTile(1, 1);
  empty.Compact();
  EXPECT_EQ(empty.TileCount(), 0);

  empty.Swap(full);
  EXPECT_EQ(empty.GetPixel(299, 199), 0xFF445566u);
  EXPECT_EQ(empty.TileCount(), 1);
  EXPECT_EQ(full.TileCount(), 0);
  EXPECT_EQ(full.GetPixel(299, 199), 0xABCDEFu);
  // Resizing frees every tile; the block is written again afterwards.
  empty.SetSize(300, 200);
  EXPECT_EQ(empty.TileCount(), 0);
  EXPECT_EQ(empty.GetPixel(299, 199), 0x010203u);
  empty.SetPixel(0, 0, 0xFF000001u);
  EXPECT_EQ(empty.GetPixel(0, 0), 0xFF000001u);
}

TEST(TileStorage, LargeCanvasesAreOpaqueBlackAndResizeBothWays) {
  // 1200 x 1000 pixels is above the size that gets pages of its own; 100 x 100 below.
  TTC c(1200, 1000);
  for (const auto& [w, h] : std::vector<std::pair<int32_t, int32_t>>{{1200, 1000}, {100, 100}, {1500, 1100}, {1200, 1000}}) {
    ASSERT_TRUE(c.SetSize(w, h));
    for (int32_t y = 0; y < h; y += 97)
      for (int32_t x = 0; x < w; x += 89) ASSERT_EQ(c.GetPixel(x, y), 0xFF000000u) << w << "x" << h;
    EXPECT_EQ(c.GetPixel(w - 1, h - 1), 0xFF000000u);
    c.Fill(0xFF102030u);
    EXPECT_EQ(c.GetPixel(w - 1, 0), 0xFF102030u);
  }
}

// A canvas resized for a fill keeps its pages where it can: growing, shrinking and moving past
// the large size in either direction must give what SetSize and Fill give, with every row at
// its own offset, and the marks of one size never showing through at the next.
TEST(TileStorage, ResizingForAFillEqualsSetSizeAndFill) {
  const std::vector<std::pair<int32_t, int32_t>> sizes = {
      {1200, 1000}, {1200, 1000}, {1300, 1100}, {2100, 1900}, {1100, 1000}, {100, 100}, {1250, 900}, {0, 5},
      {1201, 999},  {3, 1}};
  TTC fast(1200, 1000), plain(1200, 1000);
  uint32_t round = 0;
  for (const auto& [w, h] : sizes) {
    ++round;
    const uint32_t colour = 0x00FFFFFFu & (round * 0x1F3D5Bu);
    ASSERT_TRUE(fast.SetSizeFilled(w, h, colour));
    ASSERT_TRUE(plain.SetSize(w, h));
    plain.Fill(colour);
    ASSERT_EQ(fast.Width(), plain.Width());
    ASSERT_EQ(fast.Height(), plain.Height());
    for (int32_t y = 0; y < fast.Height(); ++y) {
      ASSERT_EQ(fast.Row(y), fast.Bits() + int64_t(y) * fast.Width() * 4);
      for (int32_t x = 0; x < fast.Width(); ++x) ASSERT_EQ(fast.Row32(y)[x], colour) << w << "x" << h << " " << x << "," << y;
    }
    // Marks that the next size must not keep.
    for (int32_t y = 0; y < fast.Height(); y += 7)
      for (int32_t x = 0; x < fast.Width(); ++x) fast.SetPixel(x, y, Mark(x, y, round));
  }
  // Beyond what a canvas may own: refused, with the canvas as it was, small or large.
  for (const int32_t side : {3, 1200}) {
    ASSERT_TRUE(fast.SetSizeFilled(side, 1000, 0xFF445566u));
    fast.SetPixel(2, 999, 0xFF010203u);
    EXPECT_FALSE(fast.SetSizeFilled(kMaxPaperSide * 4, kMaxPaperSide * 4, 0));
    EXPECT_EQ(fast.Width(), side);
    EXPECT_EQ(fast.Height(), 1000);
    EXPECT_EQ(fast.GetPixel(2, 999), 0xFF010203u);
    EXPECT_EQ(fast.GetPixel(side - 1, 0), 0xFF445566u);
  }
}

}  // namespace
