// The tiled image store: grid rules, tile creation and compaction, fills, block copies,
// mask combines and compositing onto canvases.
#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "engine/Block.h"

namespace {

// A block of size w x h whose pixels are a function of position, written only inside the
// tiles listed (tx, ty) so that the others stay absent.
void Paint(TBlockImage& b, std::initializer_list<std::pair<int, int>> tiles, uint32_t seed) {
  std::mt19937 rng(seed);
  for (auto [tx, ty] : tiles)
    for (int y = 64 * ty; y < 64 * ty + 64; ++y)
      for (int x = 64 * tx; x < 64 * tx + 64; ++x) b.SetPixel(x, y, rng());
}

uint32_t Rgb(uint32_t c) { return c & 0xFFFFFF; }

TEST(BlockGrid, NewBlocksReadTheirBackgroundEverywhere) {
  TBlockImage img;
  img.SetSize(300, 200);
  TBlockChannel mask;
  mask.SetSize(300, 200);
  for (auto [x, y] : {std::pair{0, 0}, {299, 199}, {-5, 3}, {3, -5}, {6400, 10}, {INT_MAX, INT_MIN}}) {
    EXPECT_EQ(img.GetPixel(x, y), 0xFFFFFFu);
    EXPECT_EQ(mask.ChannelGetPixel(x, y), 0);
  }
  int32_t X, Y, W, H;
  img.TilesBounds(X, Y, W, H);
  EXPECT_EQ((std::array{X, Y, W, H}), (std::array{0, 0, 64, 64}));
  EXPECT_EQ(img.MemoryUsed(), 0);
  img.SetBackColour(0x123456);
  EXPECT_EQ(img.GetPixel(10, 10), 0x123456u);
}

TEST(BlockGrid, TileIndexFloorsAndOffsetIsNonNegative) {
  struct Case { int32_t v, index, offset; };
  for (auto c : {Case{0, 0, 0}, {63, 0, 63}, {64, 1, 0}, {-1, -1, 63}, {-64, -1, 0}, {-65, -2, 63},
                 {INT_MIN, INT_MIN / 64, 0}}) {
    EXPECT_EQ(TBlock::TileIndex(c.v), c.index) << c.v;
    EXPECT_EQ(TBlock::TileOffset(c.v), c.offset) << c.v;
  }
}

TEST(BlockGrid, ValidTilesIncludeTheColumnPastAWholeMultipleOf64) {
  TBlockImage img;
  img.SetSize(128, 64);
  for (int tx = 0; tx <= 2; ++tx) EXPECT_TRUE(img.IsTileInGrid(tx, 1)) << tx;
  EXPECT_FALSE(img.IsTileInGrid(3, 0));
  EXPECT_FALSE(img.IsTileInGrid(0, 2));
  EXPECT_FALSE(img.IsTileInGrid(-1, 0));
  img.SetPixel(150, 5, 0xFF112233);  // column 2, outside the image but in a valid tile
  EXPECT_TRUE(img.HasTile(150, 5));
  EXPECT_EQ(img.GetPixel(150, 5), 0xFF112233u);
  img.SetPixel(192, 5, 1);  // column 3: not valid
  img.SetPixel(-1, 5, 1);
  img.SetPixel(5, -1, 1);
  EXPECT_EQ(img.TileCount(), 1);
  EXPECT_EQ(img.MemoryUsed(), 16384);
}

TEST(BlockGrid, TheGridEndsAtTile99AndLargerSizesAreKeptInside) {
  TBlockImage img;
  img.SetSize(kMaxPaperSide, kMaxPaperSide);
  EXPECT_TRUE(img.IsTileInGrid(99, 99));
  EXPECT_FALSE(img.IsTileInGrid(100, 0));
  EXPECT_FALSE(img.IsTileInGrid(0, 100));
  img.SetPixel(6399, 6399, 7);
  img.SetPixel(6400, 0, 7);
  img.SetPixel(0, 6400, 7);
  EXPECT_EQ(img.TileCount(), 1);
  EXPECT_EQ(img.GetPixel(6400, 0), 0xFFFFFFu);

  img.SetSize(7000, -5);
  EXPECT_EQ(img.Width(), kMaxPaperSide);
  EXPECT_EQ(img.Height(), 0);
  EXPECT_EQ(img.TileCount(), 0);  // SetSize frees every tile
  EXPECT_FALSE(img.IsTileInGrid(100, 0));
}

TEST(BlockGrid, RectTilePartsCoverTheRectangleInRowMajorOrder) {
  // 60..129 spans columns 0, 1, 2; 10..74 spans rows 0 and 1.
  EXPECT_EQ(TBlock::TileSpanCount(60, 70), 3);
  EXPECT_EQ(TBlock::RectTileCount(60, 10, 70, 65), 6);
  struct Want { int tx, ty, sx, sy, sw, sh, ox, oy; };
  Want want[] = {{0, 0, 60, 10, 4, 54, 0, 0},  {1, 0, 0, 10, 64, 54, 4, 0},  {2, 0, 0, 10, 2, 54, 68, 0},
                 {0, 1, 60, 0, 4, 11, 0, 54}, {1, 1, 0, 0, 64, 11, 4, 54}, {2, 1, 0, 0, 2, 11, 68, 54}};
  for (int k = 0; k < 6; ++k) {
    TBlock::TTilePart p = TBlock::RectTilePart(60, 10, 70, 65, k);
    const Want& w = want[k];
    EXPECT_EQ((std::array{p.TX, p.TY, p.SubX, p.SubY, p.SubW, p.SubH, p.OffX, p.OffY}),
              (std::array{w.tx, w.ty, w.sx, w.sy, w.sw, w.sh, w.ox, w.oy}))
        << k;
  }
  // A rectangle ending on a tile boundary ends its last part at 64; negative starts floor.
  TBlock::TTilePart p = TBlock::RectTilePart(-10, 0, 74, 64, 1);
  EXPECT_EQ((std::array{p.TX, p.SubX, p.SubW, p.OffX}), (std::array{0, 0, 64, 10}));
  EXPECT_EQ(TBlock::TileSpanCount(5, 0), 0);
  EXPECT_EQ(TBlock::TileSpanCount(5, -3), 0);
}

TEST(BlockFill, FillsCreateEveryTouchedTileAndCompactionFreesBackgroundTiles) {
  TBlockImage img;
  img.SetSize(300, 300);
  img.FillRect(10, 10, 100, 100, 0xFF000000 | 0xFFFFFF);  // the background's RGB, opaque
  EXPECT_EQ(img.TileCount(), 4);
  EXPECT_EQ(img.GetPixel(10, 10), 0xFFFFFFFFu);
  EXPECT_EQ(img.GetPixel(9, 10), 0xFFFFFFu);  // the rest of the tile keeps the raw background
  img.SetPixel(200, 200, 0xFF000001);
  img.Compact();
  EXPECT_EQ(img.TileCount(), 1);  // only the tile with a differing pixel stays
  EXPECT_TRUE(img.HasTile(200, 200));
  EXPECT_EQ(img.GetPixel(10, 10), 0xFFFFFFu);

  img.Fill(0xFF102030);
  EXPECT_EQ(img.TileCount(), 25);  // 0..299 touches tile columns and rows 0..4
  EXPECT_EQ(img.GetPixel(299, 299), 0xFF102030u);
  EXPECT_EQ(img.GetPixel(300, 299), 0xFFFFFFu);  // same tile, beyond the image: not filled
  EXPECT_TRUE(img.HasTile(300, 299));
}

TEST(BlockFill, HostileRectanglesCreateNothingOutsideTheGrid) {
  struct Case { int32_t x, y, w, h; int tiles; };
  for (auto c : {Case{0, 0, 0, 10, 0}, {0, 0, 10, -1, 0}, {INT_MAX, INT_MAX, INT_MAX, INT_MAX, 0},
                 {INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0}, {-32767, 0, 32767 + 10, 1, 1},
                 {INT_MIN, 0, INT_MAX, 1, 0}, {-5, -5, INT_MAX, INT_MAX, 4}}) {
    TBlockImage img;
    img.SetSize(100, 100);
    img.FillRect(c.x, c.y, c.w, c.h, 0);
    EXPECT_EQ(img.TileCount(), c.tiles) << c.x << "," << c.y << " " << c.w << "x" << c.h;
    TBlockChannel mask;
    mask.SetSize(100, 100);
    mask.ChannelFillRect(c.x, c.y, c.w, c.h, 9);
    EXPECT_EQ(mask.TileCount(), c.tiles);
  }
}

TEST(BlockFill, EveryRectangleOperationIgnoresEmptyRectanglesAndClipsHugeOnes) {
  struct Case { int32_t x, y, w, h; };
  const Case cases[] = {{0, 0, 0, 10},          {0, 0, 10, 0},     {5, 5, -1, -1}, {INT_MIN, INT_MIN, INT_MAX, INT_MAX},
                        {-100, -100, 32767, 32767}, {INT_MAX - 5, 0, INT_MAX, 10}, {-16, 3, INT_MAX, 1}};
  for (const Case& c : cases) {
    const bool empty = c.w <= 0 || c.h <= 0;
    TBlockImage img, dst, src;
    TBlockChannel mask, maskDst;
    for (TBlock* b : std::initializer_list<TBlock*>{&img, &dst, &src, &mask, &maskDst}) b->SetSize(100, 100);
    src.SetBackColour(0);
    src.SetPixel(1, 1, 5);
    mask.ChannelFill(200);
    TTC canvas(50, 50);
    canvas.Fill(0xFF010203);
    img.FillRect(c.x, c.y, c.w, c.h, 0xFF000000);
    src.CopyRectToBlock(dst, c.x, c.y, c.w, c.h, c.x, c.y);
    src.CopyRectToBlock(dst, c.x, c.y, c.w, c.h, 7, -9);
    mask.CombineChannelRect(maskDst, c.x, c.y, c.w, c.h, 3, 3, TBlockChannel::cmCopy);
    dst.BlendColourThroughMask(mask, c.x, c.y, c.w, c.h, 0xFF00FF00);
    src.MaskedSmooth(dst, mask, c.x, c.y, c.w, c.h);
    src.MultiplyRectTo(canvas, c.x, c.y, c.w, c.h, 0, 0, 128);
    src.AddRectTo(canvas, c.x, c.y, c.w, c.h, -3, -3, 128);
    src.SubtractRectTo(canvas, c.x, c.y, c.w, c.h, 4, 4, 128);
    src.DrawRectTo(canvas, c.x, c.y, c.w, c.h, c.x, c.y);
    src.StretchRectTo(canvas, c.x, c.y, c.w, c.h);
    mask.ChannelToGrey(canvas, c.x, c.y, c.w, c.h);
    dst.PasteFromTTC(canvas, c.x, c.y, c.w, c.h, c.x, c.y);
    dst.CompactRect(c.x, c.y, c.w, c.h);
    mask.ChannelFillRect(c.x, c.y, c.w, c.h, 1);
    if (empty) {
      EXPECT_EQ(img.TileCount() + dst.TileCount() + maskDst.TileCount(), 0) << c.w << "x" << c.h;
      EXPECT_TRUE(canvas.IsUniform(0x010203));
    }
    for (TBlock* b : std::initializer_list<TBlock*>{&img, &dst, &src, &mask, &maskDst}) EXPECT_LE(b->TileCount(), 4);
  }
}

TEST(BlockFill, CompactRectExaminesTheTilesAroundTheRectangleStart) {
  TBlockImage img;
  img.SetSize(400, 64);
  img.FillRect(0, 0, 320, 64, 0xFFFFFF);  // five uniform background tiles
  img.CompactRect(130, 0, 10, 10);
  // Columns TileIndex(130) - 1 = 1 up to 1 + 10 div 64 + 1 = 2.
  for (int tx = 0; tx < 5; ++tx) EXPECT_EQ(img.HasTile(64 * tx, 0), tx == 0 || tx > 2) << tx;
  img.CompactRect(0, 0, 0, 64);  // an empty rectangle examines nothing
  EXPECT_TRUE(img.HasTile(0, 0));
  img.CompactRect(INT_MIN, INT_MIN, INT_MAX, INT_MAX);
  EXPECT_TRUE(img.HasTile(0, 0));
  img.CompactRect(-100, -100, INT_MAX, INT_MAX);
  EXPECT_EQ(img.TileCount(), 0);
}

TEST(BlockCopy, AbsentSourceTilesAreMaterialisedOnlyWhenTheBackgroundsDiffer) {
  TBlockImage src, same, other;
  for (TBlockImage* b : {&src, &same, &other}) b->SetSize(200, 200);
  other.SetBackColour(0);
  src.CopyToBlock(same, 0, 0);
  EXPECT_EQ(same.TileCount(), 0);
  src.CopyToBlock(other, 0, 0);
  EXPECT_EQ(other.TileCount(), 16);  // valid tiles 0..3 a side, all met by 0..199
  EXPECT_EQ(other.GetPixel(150, 150), 0xFFFFFFu);
  EXPECT_EQ(other.GetPixel(210, 210), 0u);  // beyond the copied area: the tile's own fill

  // Over a present destination tile an absent source tile restores the source background.
  same.SetPixel(5, 5, 0xFF00FF00);
  src.CopyToBlock(same, 0, 0);
  EXPECT_EQ(same.GetPixel(5, 5), 0xFFFFFFu);
  EXPECT_EQ(same.TileCount(), 1);
}

TEST(BlockCopy, ShiftedCopiesMatchAPixelByPixelCopy) {
  // Offsets that are not multiples of 64 split each source part over four destination tiles.
  TBlockImage src;
  src.SetSize(200, 150);
  src.SetBackColour(0x00ABCDEF);
  Paint(src, {{0, 0}, {2, 1}, {3, 2}}, 1);
  struct Case { int sx, sy, w, h, dx, dy; uint32_t dstBack; };
  for (auto c : {Case{0, 0, 200, 150, 37, 5, 0x00ABCDEF}, {10, 20, 150, 100, -30, 61, 0}, {-40, -40, 300, 300, 0, 0, 0},
                 {70, 3, 64, 64, 70, 3, 0}, {0, 0, 200, 150, 300, 0, 0}}) {
    TBlockImage dst;
    dst.SetSize(230, 170);
    dst.SetBackColour(c.dstBack);
    Paint(dst, {{1, 1}}, 2);
    TBlockImage before;
    before.SetSize(230, 170);
    dst.CloneTo(before);
    src.CopyRectToBlock(dst, c.sx, c.sy, c.w, c.h, c.dx, c.dy);
    for (int y = -2; y < 260; ++y)
      for (int x = -2; x < 260; ++x) {
        int qx = x - c.dx + c.sx, qy = y - c.dy + c.sy;  // the source pixel landing here
        bool copied = dst.IsTileInGrid(TBlock::TileIndex(x), TBlock::TileIndex(y)) && x >= 0 && y >= 0 &&
                      qx >= c.sx && qx < c.sx + c.w && qy >= c.sy && qy < c.sy + c.h && qx >= 0 && qy >= 0 &&
                      src.IsTileInGrid(TBlock::TileIndex(qx), TBlock::TileIndex(qy));
        uint32_t want = copied ? src.GetPixel(qx, qy) : before.GetPixel(x, y);
        ASSERT_EQ(dst.GetPixel(x, y), want) << x << "," << y << " case dx " << c.dx;
      }
  }
}

TEST(BlockCopy, CloneCopiesTilesAndBackgroundButNotTheSize) {
  TBlockImage src, dst;
  src.SetSize(200, 200);
  src.SetBackColour(0x00000011);
  Paint(src, {{0, 0}, {3, 3}}, 3);
  dst.SetSize(100, 100);
  dst.SetPixel(70, 70, 1);
  src.CloneTo(dst);
  EXPECT_EQ(dst.Width(), 100);
  EXPECT_EQ(dst.BackColour(), 0x11u);
  EXPECT_EQ(dst.TileCount(), 1);  // tile (3, 3) is not valid in dst, and (1, 1) was freed
  EXPECT_EQ(dst.GetPixel(63, 63), src.GetPixel(63, 63));
  EXPECT_EQ(dst.GetPixel(70, 70), 0x11u);
  src.CloneTo(src);  // onto itself: unchanged
  EXPECT_EQ(src.TileCount(), 2);
}

TEST(BlockCombine, ModesAndTheAbsentSourceRule) {
  struct Case { uint8_t mode; uint8_t overSource; uint8_t overAbsent; };
  // Destination 100 everywhere in tiles (0,0) and (1,0); source 200 in tile (0,0) only.
  for (auto c : {Case{0, 200, 0}, {1, 255, 100}, {2, 100 & 200, 0}, {3, 0, 100}, {9, 100, 100}}) {
    TBlockChannel src, dst;
    src.SetSize(128, 64);
    dst.SetSize(128, 64);
    src.ChannelFillRect(0, 0, 64, 64, 200);
    dst.ChannelFillRect(0, 0, 128, 64, 100);
    src.CombineChannel(dst, 0, 0, c.mode);
    EXPECT_EQ(dst.ChannelGetPixel(10, 10), c.overSource) << int(c.mode);
    EXPECT_EQ(dst.ChannelGetPixel(100, 10), c.overAbsent) << int(c.mode);
    EXPECT_EQ(dst.TileCount(), 2);

    TBlockChannel empty;
    empty.SetSize(128, 64);
    src.CombineChannel(empty, 0, 0, c.mode);
    EXPECT_EQ(empty.TileCount(), c.mode <= 3 ? 1 : 0);  // never a tile over an absent source
  }
}

TEST(BlockCombine, ShiftedCombineLandsOnTheRightPixels) {
  TBlockChannel src, dst;
  src.SetSize(128, 128);
  dst.SetSize(128, 128);
  src.ChannelBlendPixel(63, 63, 77, 255);
  src.CombineChannelRect(dst, 60, 60, 10, 10, 0, 1, TBlockChannel::cmAdd);
  EXPECT_EQ(dst.ChannelGetPixel(3, 4), 77);
  EXPECT_EQ(dst.TileCount(), 1);
}

// The per-byte compositing rules, written from the tables.
uint8_t Composite(uint8_t kind, uint8_t d, uint8_t s, uint8_t a) {
  switch (kind) {
    case 0: return a == 255 ? T_Mul[d][s] : T_Mul[d][T_FadeWhite[a][s]];
    case 1: return uint8_t(std::min(255, d + (a == 255 ? s : T_Mul[a][s])));
    default: return uint8_t(std::max(0, d - (a == 255 ? s : T_Mul[a][s])));
  }
}

TEST(BlockComposite, EachKindBlendsPresentTilesAndSkipsAbsentOnes) {
  TBlockImage layer;
  layer.SetSize(150, 100);
  Paint(layer, {{0, 0}, {2, 1}}, 4);
  std::mt19937 rng(5);
  for (uint8_t kind : {0, 1, 2})
    for (uint8_t opacity : {0, 1, 128, 254, 255}) {
      TTC canvas(120, 90), before(120, 90);
      for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 120; ++x) canvas.SetPixel(x, y, rng());
      canvas.CopyRectTo(before, 0, 0, 120, 90, 0, 0);
      const int sx = 20, sy = 30, w = 140, h = 70, dx = -5, dy = 7;
      switch (kind) {
        case 0: layer.MultiplyRectTo(canvas, sx, sy, w, h, dx, dy, opacity); break;
        case 1: layer.AddRectTo(canvas, sx, sy, w, h, dx, dy, opacity); break;
        case 2: layer.SubtractRectTo(canvas, sx, sy, w, h, dx, dy, opacity); break;
      }
      for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 120; ++x) {
          int qx = x - dx + sx, qy = y - dy + sy;
          uint32_t d = before.GetPixel(x, y), want = d;
          if (opacity && qx >= sx && qx < sx + w && qy >= sy && qy < sy + h && layer.HasTile(qx, qy)) {
            uint32_t s = layer.GetPixel(qx, qy);
            want = d & 0xFF000000;
            for (int k = 0; k < 24; k += 8) want |= uint32_t(Composite(kind, uint8_t(d >> k), uint8_t(s >> k), opacity)) << k;
          }
          ASSERT_EQ(canvas.GetPixel(x, y), want) << int(kind) << " " << int(opacity) << " at " << x << "," << y;
        }
    }
}

TEST(BlockComposite, DrawCopiesTilesRawAndFillsAbsentTilesWithTheBackground) {
  TBlockImage layer;
  layer.SetSize(100, 64);
  layer.SetBackColour(0x00FFFFFF);
  layer.SetPixel(3, 3, 0x12345678);
  TTC canvas(200, 80);
  canvas.Fill(0xFF0000FF);
  layer.DrawTo(canvas, 10, 2);
  EXPECT_EQ(canvas.GetPixel(13, 5), 0x12345678u);      // alpha byte included
  EXPECT_EQ(canvas.GetPixel(10 + 70, 5), 0x00FFFFFFu);  // absent tile (1, 0): background, alpha 0
  EXPECT_EQ(canvas.GetPixel(10 + 100, 5), 0xFF0000FFu);  // beyond the image: untouched
  EXPECT_EQ(canvas.GetPixel(13, 1), 0xFF0000FFu);
  EXPECT_EQ(canvas.GetPixel(13, 66), 0xFF0000FFu);
}

TEST(BlockStretch, ReductionAveragesClampedBoxesAndWritesBothEndsInclusive) {
  TBlockImage img;
  img.SetSize(4, 2);
  // Distinct channels; row 1 is brighter.
  for (int x = 0; x < 4; ++x) {
    img.SetPixel(x, 0, 0xFF000000u | uint32_t(x * 10));
    img.SetPixel(x, 1, 0xFF000000u | uint32_t(100 + x * 10) << 8);
  }
  TTC canvas(2, 1);
  canvas.Fill(0);
  img.StretchTo(canvas);
  // fx = fy = 2048, a 3 x 3 box from (2x, 0), rows 0, 1, 1 and columns clamped to 3.
  // x = 0: blue (0 + 10 + 20) / 9 = 3, green 2 * (100 + 110 + 120) / 9 = 73.
  // x = 1: blue (20 + 30 + 30) / 9 = 8, green 2 * (120 + 130 + 130) / 9 = 84.
  EXPECT_EQ(canvas.GetPixel(0, 0), 0xFF000000u | 73u << 8 | 3u);
  EXPECT_EQ(canvas.GetPixel(1, 0), 0xFF000000u | 84u << 8 | 8u);

  TBlockImage flat;
  flat.SetSize(460, 300);
  flat.Fill(0xFF336699);
  TTC thumb(46, 30), big(48, 32);
  thumb.Fill(0);
  big.Fill(0);
  flat.StretchTo(thumb);
  flat.StretchRectTo(big, 0, 0, 46, 30);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 48; ++x) {
      if (x < 46 && y < 30) {
        ASSERT_EQ(thumb.GetPixel(x, y), 0xFF336699u);
      }
      ASSERT_EQ(big.GetPixel(x, y), x <= 46 && y <= 30 ? 0xFF336699u : 0u) << x << "," << y;
    }
}

TEST(BlockCanvas, LoadAndPasteBringCanvasPixelsIn) {
  TTC canvas(70, 10);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 70; ++x) canvas.SetPixel(x, y, uint32_t(y * 1000 + x));
  TBlockImage img;
  img.SetSize(100, 20);
  img.SetBackColour(0xABCDEF);
  img.LoadFromTTC(canvas);
  EXPECT_EQ(img.TileCount(), 2);  // every valid tile, uniform or not
  EXPECT_EQ(img.GetPixel(69, 9), 9069u);
  EXPECT_EQ(img.GetPixel(70, 9), 0xABCDEFu);  // outside the canvas: background
  EXPECT_EQ(img.GetPixel(5, 15), 0xABCDEFu);

  TBlockImage pasted;
  pasted.SetSize(100, 20);
  pasted.PasteFromTTC(canvas, -3, 8, 5, 4, 98, -1);  // reads clamp to the canvas edges
  EXPECT_EQ(pasted.GetPixel(98, 0), canvas.GetPixel(0, 9));
  EXPECT_EQ(pasted.GetPixel(102, 2), canvas.GetPixel(1, 9));
  EXPECT_EQ(pasted.GetPixel(97, 0), 0xFFFFFFu);
  EXPECT_EQ(pasted.TileCount(), 1);
  pasted.PasteFromTTC(canvas, 0, 0, INT_MAX, INT_MAX, -INT_MAX, 0);  // nothing lands in the grid
  EXPECT_EQ(pasted.TileCount(), 1);
}

TEST(BlockTransform, FlipsRotationAndInversion) {
  TBlockImage img;
  img.SetSize(70, 3);
  img.SetBackColour(0);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 70; ++x)
      if ((x + y) % 3) img.SetPixel(x, y, uint32_t(x << 8 | y));
  auto at = [](const TBlockImage& b, int x, int y) { return b.GetPixel(x, y); };
  TBlockImage h, v, r;
  for (TBlockImage* b : {&h, &v, &r}) b->SetSize(70, 3);
  img.CloneTo(h);
  img.CloneTo(v);
  h.FlipHorizontal();
  v.FlipVertical();
  img.Rotate180To(r);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 70; ++x) {
      ASSERT_EQ(at(h, x, y), at(img, 69 - x, y));
      ASSERT_EQ(at(v, x, y), at(img, x, 2 - y));
      ASSERT_EQ(at(r, x, y), at(img, 69 - x, 2 - y));
    }

  // Every pixel of the image is written: an empty block gets every tile of its area.
  for (int op = 0; op < 3; ++op) {
    TBlockImage empty, turned;
    empty.SetSize(100, 70);
    turned.SetSize(100, 70);
    if (op == 0) empty.FlipHorizontal();
    if (op == 1) empty.FlipVertical();
    if (op == 2) empty.Rotate180To(turned);
    EXPECT_EQ((op == 2 ? turned : empty).TileCount(), 4) << op;
    EXPECT_EQ((op == 2 ? turned : empty).GetPixel(99, 69), 0xFFFFFFu);
  }
  TBlockImage flat;
  flat.SetSize(100, 0);
  flat.FlipVertical();
  flat.FlipHorizontal();
  EXPECT_EQ(flat.TileCount(), 0);

  TBlockImage white;
  white.SetSize(100, 70);
  white.Invert();
  EXPECT_EQ(white.GetPixel(99, 69), 0xFF000000u);  // every bit, alpha included
  EXPECT_EQ(white.TileCount(), 4);
  white.Compact();
  EXPECT_EQ(white.TileCount(), 4);
}

TEST(BlockMask, ColourThroughMaskOnlyWhereMaskTilesExist) {
  TBlockImage img;
  img.SetSize(200, 64);
  img.SetBackColour(0x000000C8);  // blue 200
  TBlockChannel mask;
  mask.SetSize(200, 64);
  mask.ChannelBlendPixel(5, 5, 255, 255);
  mask.ChannelBlendPixel(6, 5, 128, 255);
  img.BlendColourThroughMask(mask, 0, 0, 200, 64, 0xFF0000C9);
  EXPECT_EQ(img.TileCount(), 1);
  EXPECT_EQ(Rgb(img.GetPixel(5, 5)), 200u);  // 201 over 200 even at mask 255: the half-step rule
  EXPECT_EQ(img.GetPixel(7, 5), 0xC8u);      // mask 0: untouched
  // Other mask values blend as a pixel blend at that alpha.
  TTC oracle(1, 1);
  oracle.SetPixel(0, 0, img.GetPixel(6, 5));
  oracle.BlendPixel(0, 0, 0xFFFF0000, 128);
  img.BlendColourThroughMask(mask, 0, 0, 200, 64, 0xFFFF0000);
  EXPECT_EQ(img.GetPixel(6, 5), oracle.GetPixel(0, 0));
  EXPECT_EQ(Rgb(img.GetPixel(6, 5)), 0x7F0064u);
}

TEST(BlockPixels, ChannelsClampToTheImageAndAccumulate) {
  TBlockImage img;
  img.SetSize(10, 10);
  img.SetPixel(0, 9, 0x01020304);
  uint32_t a = 100, r = 100, g = 100, b = 100;
  img.GetPixelChannels(-5, 13, false, a, r, g, b);
  EXPECT_EQ((std::array{a, r, g, b}), (std::array{1u, 2u, 3u, 4u}));
  img.GetPixelChannels(-5, 13, true, a, r, g, b);
  EXPECT_EQ((std::array{a, r, g, b}), (std::array{2u, 4u, 6u, 8u}));
  img.BlendPixel(1, 1, 0x00FFFFFF, 255);  // alpha 255 stores the whole value
  EXPECT_EQ(img.GetPixel(1, 1), 0x00FFFFFFu);
}

}  // namespace
