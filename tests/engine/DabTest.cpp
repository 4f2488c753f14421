// Dabs, spans, polygon fills and mask morphology on tiled images.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "engine/Block.h"
#include "PlainDisc.h"

namespace {

uint64_t Hash(const TBlockChannel& m, int x0, int y0, int w, int h) {
  uint64_t f = 1469598103934665603ull;
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) {
      f ^= m.ChannelGetPixel(x, y);
      f *= 1099511628211ull;
    }
  return f;
}

std::vector<int> Row(const TBlockChannel& m, int y, int x0, int x1) {
  std::vector<int> v;
  for (int x = x0; x <= x1; ++x) v.push_back(m.ChannelGetPixel(x, y));
  return v;
}

// A block with random pixels in some tiles and the others absent.
void RandomTiles(TBlockImage& b, uint32_t seed) {
  std::mt19937 rng(seed);
  b.SetBackColour(rng() & 0xFFFFFF);
  int tw = b.Width() / 64 + 1, th = b.Height() / 64 + 1;
  for (int ty = 0; ty < th; ++ty)
    for (int tx = 0; tx < tw; ++tx) {
      if (rng() % 3 == 0) continue;
      for (int y = 64 * ty; y < 64 * ty + 64; ++y)
        for (int x = 64 * tx; x < 64 * tx + 64; ++x) b.SetPixel(x, y, rng());
    }
}

void ExpectSamePixels(const TBlockImage& a, const TBlockImage& b, const char* what) {
  for (int y = -1; y <= a.Height() + 64; ++y)
    for (int x = -1; x <= a.Width() + 64; ++x)
      ASSERT_EQ(a.GetPixel(x, y), b.GetPixel(x, y)) << what << " at " << x << "," << y;
}

// The old blur dab as written: every box summed pixel by pixel.
void PlainBlurDisc(TBlockImage& dst, const TBlockImage& src, int32_t a, float cx, float cy, float r) {
  if (a <= 0) a = 1;
  int32_t R = TruncInt(static_cast<ext_t>(r) * 4), CX = TruncInt(static_cast<ext_t>(cx) * 4),
          CY = TruncInt(static_cast<ext_t>(cy) * 4);
  int64_t R2 = int64_t(R) * R;
  auto in = [&](int64_t dx, int64_t dy) { return dx * dx + dy * dy < R2; };
  uint32_t div = uint32_t((2 * a + 1) * (2 * a + 1));
  for (int32_t y = TruncInt(static_cast<ext_t>(cy) - r); y <= TruncInt(static_cast<ext_t>(cy) + r + 1); ++y)
    for (int32_t x = TruncInt(static_cast<ext_t>(cx) - r); x <= TruncInt(static_cast<ext_t>(cx) + r + 1); ++x) {
      int64_t dx = 4 * x - CX, dy = 4 * y - CY;
      if (!(in(dx, dy) && in(dx + 4, dy) && in(dx, dy + 4) && in(dx + 4, dy + 4))) continue;
      uint32_t sa = 0, sr = 0, sg = 0, sb = 0;
      for (int j = y - a; j <= y + a; ++j)
        for (int i = x - a; i <= x + a; ++i) src.GetPixelChannels(i, j, true, sa, sr, sg, sb);
      int64_t S = std::max<int64_t>(0, 255 - (dx * dx + dy * dy) * 255 / R2);
      uint32_t c = 0xFF000000u | (sr / div) << 16 | (sg / div) << 8 | (sb / div);
      dst.BlendPixel(x, y, c, uint8_t(S));
    }
}

void PlainDrawDisc(TBlockImage& b, uint32_t colour, bool soft, float cx, float cy, float r, float opacity) {
  if (r < 3) soft = false;
  int64_t A = TruncInt(static_cast<ext_t>(opacity) * 255);
  TPlainDisc g(4, cx, cy, r);
  for (int32_t y = TruncInt(static_cast<ext_t>(cy) - r); y <= TruncInt(static_cast<ext_t>(cy) + r); ++y)
    for (int32_t x = TruncInt(static_cast<ext_t>(cx) - r); x <= TruncInt(static_cast<ext_t>(cx) + r); ++x) {
      int64_t dx = 4 * x - g.CX, dy = 4 * y - g.CY, alpha;
      int n = g.Corners(dx, dy);
      if (n == 0) continue;
      if (n == 4)
        alpha = soft ? (A * g.S(dx, dy)) >> 8 : A;
      else
        alpha = soft ? ((A * g.Samples(dx, dy) * g.S(dx, dy)) >> 8) / 16 : A * g.Samples(dx, dy) / 16;
      b.BlendPixel(x, y, colour | 0xFF000000u, uint8_t(alpha));
    }
}

void PlainChannelDisc(TBlockChannel& m, uint8_t value, bool max, float cx, float cy, float r, float opacity, bool soft) {
  if (r <= 0) return;
  int64_t V = TruncInt(static_cast<ext_t>(value) * opacity);
  TPlainDisc g(5, cx, cy, r);
  auto store = [&](int x, int y, uint8_t c) {
    if (!max || m.ChannelGetPixel(x, y) < c) m.ChannelBlendPixel(x, y, c, 255);
  };
  for (int32_t y = TruncInt(static_cast<ext_t>(cy) - r); y <= TruncInt(static_cast<ext_t>(cy) + r); ++y)
    for (int32_t x = TruncInt(static_cast<ext_t>(cx) - r); x <= TruncInt(static_cast<ext_t>(cx) + r); ++x) {
      int64_t dx = 5 * x - g.CX, dy = 5 * y - g.CY;
      int n = r > 3 ? g.Corners(dx, dy) : 1;
      if (n == 0) continue;
      if (n == 4) {
        store(x, y, uint8_t(soft ? (V * g.S(dx, dy)) >> 8 : V));
        continue;
      }
      int64_t P = g.Samples(dx, dy);
      uint8_t c = uint8_t(soft ? ((V * P * g.S(dx, dy)) >> 8) / 25 : V * P / 25);
      if (max)
        store(x, y, c);
      else
        m.ChannelBlendPixel(x, y, value, c);
    }
}

struct DabCase { float cx, cy, r, opacity; bool soft, max; };
const DabCase kDabCases[] = {
    {10.3f, 10.6f, 0.1f, 1, false, true}, {10.3f, 10.6f, 1, 0.5f, true, false}, {30, 30, 2.5f, 1, true, true},
    {30.7f, 31.2f, 3, 0.8f, true, false}, {63.9f, 64.1f, 3.01f, 1, false, true}, {64, 64, 4.7f, 0.37f, true, true},
    {1.2f, 99.5f, 10.3f, 1, false, false}, {-6, 50, 12, 0.9f, true, true}, {120, 20, 33, 0.6f, false, true},
    {60.5f, 70.25f, 33, 1, true, false}, {20, 20, 9, 1.3f, false, true}, {100, 100, 47.9f, 0.75f, true, false}};

void ExpectSameMask(const TBlockChannel& a, const TBlockChannel& b, const char* what) {
  for (int y = -1; y <= a.Height() + 64; ++y)
    for (int x = -1; x <= a.Width() + 64; ++x)
      ASSERT_EQ(a.ChannelGetPixel(x, y), b.ChannelGetPixel(x, y)) << what << " at " << x << "," << y;
  for (int y = 0; y < a.Height() + 64; y += 64)
    for (int x = 0; x < a.Width() + 64; x += 64) ASSERT_EQ(a.HasTile(x, y), b.HasTile(x, y)) << what;
}

TEST(DrawDisc, RowSpansGiveThePlainFormulasPixelsAndTiles) {
  for (const DabCase& c : kDabCases) {
    TBlockImage fast, plain;
    fast.SetSize(150, 130);
    plain.SetSize(150, 130);
    RandomTiles(fast, 51);
    fast.CloneTo(plain);
    fast.DrawDisc(0x3C5A78, c.soft, c.cx, c.cy, c.r, c.opacity);
    PlainDrawDisc(plain, 0x3C5A78, c.soft, c.cx, c.cy, c.r, c.opacity);
    ExpectSamePixels(fast, plain, "draw disc");
    EXPECT_EQ(fast.TileCount(), plain.TileCount()) << c.r;
  }
}

TEST(ChannelDisc, RowSpansGiveThePlainFormulasValuesAndTiles) {
  for (const DabCase& c : kDabCases)
    for (bool prefilled : {false, true}) {
      TBlockChannel fast, plain;
      fast.SetSize(150, 130);
      plain.SetSize(150, 130);
      if (prefilled)
        for (TBlockChannel* m : {&fast, &plain}) {
          std::mt19937 rng(61);
          for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 150; ++x) m->ChannelBlendPixel(x, y, uint8_t(rng()), 255);
        }
      fast.ChannelDisc(230, c.max, c.cx, c.cy, c.r, c.opacity, c.soft);
      PlainChannelDisc(plain, 230, c.max, c.cx, c.cy, c.r, c.opacity, c.soft);
      ExpectSameMask(fast, plain, "channel disc");
    }
}

TEST(DrawDisc, HardUnitDiscGivesTheQuarterPixelCoverages) {
  TBlockImage img;
  img.SetSize(64, 64);
  img.SetBackColour(0);
  img.DrawDisc(0xFFFFFF, false, 10, 10, 1, 1);
  auto blended = [](uint8_t alpha) {
    TTC o(1, 1);
    o.Fill(0);
    o.BlendPixel(0, 0, 0xFFFFFFFF, alpha);
    return o.GetPixel(0, 0);
  };
  for (int y = 7; y < 13; ++y)
    for (int x = 7; x < 13; ++x) {
      uint32_t want = 0;
      if (x == 9 && y == 9) want = blended(127);
      if ((x == 10 && y == 9) || (x == 9 && y == 10)) want = blended(175);
      if (x == 10 && y == 10) want = blended(239);
      EXPECT_EQ(img.GetPixel(x, y), want) << x << "," << y;
    }
}

TEST(DrawDisc, SoftnessStartsAtRadiusThree) {
  auto disc = [](bool soft, float r) {
    auto b = std::make_unique<TBlockImage>();
    b->SetSize(64, 64);
    b->DrawDisc(0x000000, soft, 30.3f, 30.6f, r, 0.8f);
    return b;
  };
  ExpectSamePixels(*disc(true, 2.5f), *disc(false, 2.5f), "r 2.5");
  auto soft = disc(true, 3), hard = disc(false, 3);
  EXPECT_NE(soft->GetPixel(30, 30), hard->GetPixel(30, 30));
}

TEST(DrawDisc, APixelWithAllCornersOutsideIsNotTouched) {
  // R = 1 on the quarter grid, centred on a pixel edge: samples on the edge are inside the
  // circle, but no pixel has a corner inside, so nothing is drawn and no tile is made.
  TBlockImage img;
  img.SetSize(64, 64);
  img.DrawDisc(0, false, 10.0f, 10.5f, 0.3f, 1);
  EXPECT_EQ(img.TileCount(), 0);
}

TEST(BlurDisc, RunningSumsGiveThePlainFormulasBytes) {
  TBlockImage src;
  src.SetSize(200, 150);
  RandomTiles(src, 11);
  struct Case { int a; float cx, cy, r; };
  for (auto c : {Case{0, 50.3f, 40.7f, 10}, {3, 5, 5, 12}, {17, 195.5f, 145.2f, 9}, {12, 100, 75, 14},
                 {2, -5, 60, 8}, {1, 100, 70, 0.2f}, {5, 64, 64, 3.1f}, {90, 30, 30, 2.5f}, {-4, 120, 20, 6}}) {
    TBlockImage fast, plain;
    fast.SetSize(200, 150);
    plain.SetSize(200, 150);
    RandomTiles(fast, 12);
    fast.CloneTo(plain);
    fast.BlurDisc(src, c.a, c.cx, c.cy, c.r);
    PlainBlurDisc(plain, src, c.a, c.cx, c.cy, c.r);
    ExpectSamePixels(fast, plain, "blur");

    // A dab from a block onto itself reads the pixels as they change.
    TBlockImage self, selfPlain;
    self.SetSize(200, 150);
    selfPlain.SetSize(200, 150);
    src.CloneTo(self);
    src.CloneTo(selfPlain);
    self.BlurDisc(self, c.a, c.cx, c.cy, c.r);
    PlainBlurDisc(selfPlain, selfPlain, c.a, c.cx, c.cy, c.r);
    ExpectSamePixels(self, selfPlain, "blur onto itself");
  }
}

TEST(BlurDisc, ZeroBoxIsOneAndTheRimIsLeftAlone) {
  TBlockImage src;
  src.SetSize(100, 100);
  RandomTiles(src, 21);
  TBlockImage zero, one;
  for (TBlockImage* b : {&zero, &one}) {
    b->SetSize(100, 100);
    b->SetBackColour(0x00808080);
  }
  zero.BlurDisc(src, 0, 50, 50, 6);
  one.BlurDisc(src, 1, 50, 50, 6);
  ExpectSamePixels(zero, one, "a = 0");
  // (56, 50) has its right corners on or beyond the circle: unchanged. The centre is a plain store.
  EXPECT_EQ(one.GetPixel(56, 50), 0x00808080u);
  EXPECT_EQ(one.GetPixel(50, 50) >> 24, 0xFFu);
}

// The new blur's smoothing as written, pixel by pixel (dst may be src).
void PlainMaskedSmooth(TBlockImage& dst, const TBlockImage& src, const TBlockChannel& mask, int X, int Y, int W, int H) {
  for (int y = Y; y < Y + H; ++y)
    for (int x = X; x < X + W; ++x) {
      uint32_t m = mask.ChannelGetPixel(x, y);
      if (m <= 1) {
        dst.SetPixel(x, y, src.GetPixel(x, y));
        continue;
      }
      uint64_t wc = 32 - std::min<uint32_t>(m, 31), s[3] = {0, 0, 0}, den = 0;
      for (int j = -1; j <= 1; ++j)
        for (int i = -1; i <= 1; ++i) {
          uint32_t a, r, g, b;
          src.GetPixelChannels(x + i, y + j, false, a, r, g, b);
          uint64_t w = (i || j) ? 1 : wc;
          s[0] += w * r * 255, s[1] += w * g * 255, s[2] += w * b * 255, den += w * 255;
        }
      dst.SetPixel(x, y, 0xFF000000u | uint32_t(s[0] / den) << 16 | uint32_t(s[1] / den) << 8 | uint32_t(s[2] / den));
    }
}

TEST(MaskedSmooth, WeightsFlattenWithTheMaskAndMatchTheFormula) {
  TBlockImage src;
  src.SetSize(130, 70);
  RandomTiles(src, 31);
  TBlockChannel mask;
  mask.SetSize(130, 70);
  std::mt19937 rng(32);
  for (int y = 0; y < 70; ++y)
    for (int x = 0; x < 130; ++x)
      if (x % 7) mask.ChannelBlendPixel(x, y, uint8_t(rng() % 3 == 0 ? rng() % 3 : rng()), 255);
  struct Case { int x, y, w, h; };
  for (auto c : {Case{-3, -2, 140, 80}, {10, 5, 1, 1}, {60, 30, 70, 39}, {0, 0, 0, 5}}) {
    TBlockImage fast, plain;
    fast.SetSize(130, 70);
    plain.SetSize(130, 70);
    src.MaskedSmooth(fast, mask, c.x, c.y, c.w, c.h);
    PlainMaskedSmooth(plain, src, mask, c.x, c.y, c.w, c.h);
    ExpectSamePixels(fast, plain, "masked smooth");
    EXPECT_EQ(fast.TileCount(), plain.TileCount());

    TBlockImage self, selfPlain;  // in place: each pixel sees the ones written before it
    self.SetSize(130, 70);
    selfPlain.SetSize(130, 70);
    src.CloneTo(self);
    src.CloneTo(selfPlain);
    self.MaskedSmooth(self, mask, c.x, c.y, c.w, c.h);
    PlainMaskedSmooth(selfPlain, selfPlain, mask, c.x, c.y, c.w, c.h);
    ExpectSamePixels(self, selfPlain, "masked smooth in place");
  }
  TBlockImage all;
  all.SetSize(130, 70);
  src.MaskedSmooth(all, mask, 0, 0, 130, 70);
  EXPECT_EQ(all.TileCount(), 6);  // every pixel of the rectangle is written
  EXPECT_EQ(all.GetPixel(0, 5), src.GetPixel(0, 5));  // mask 0 copies, alpha included
}

TEST(ChannelDisc, SmallDiscsSampleEveryPixelOfTheirSquare) {
  TBlockChannel m;
  m.SetSize(64, 64);
  m.ChannelDisc(255, true, 10.3f, 10.6f, 2, 1, false);
  std::vector<std::vector<int>> want = {{0, 0, 0, 0, 0, 0, 0},       {0, 0, 30, 51, 10, 0, 0},
                                        {0, 71, 244, 255, 204, 10, 0}, {0, 153, 255, 255, 255, 51, 0},
                                        {0, 122, 255, 255, 244, 30, 0}, {0, 10, 122, 153, 71, 0, 0},
                                        {0, 0, 0, 0, 0, 0, 0}};
  for (int j = 0; j < 7; ++j) EXPECT_EQ(Row(m, 7 + j, 7, 13), want[size_t(j)]) << "row " << 7 + j;
}

TEST(ChannelDisc, SoftDiscGolden) {
  TBlockChannel m;
  m.SetSize(64, 64);
  m.ChannelDisc(200, true, 20, 20, 4.5f, 1, true);
  EXPECT_EQ(Row(m, 20, 15, 25), (std::vector<int>{0, 35, 107, 158, 189, 199, 189, 158, 107, 14, 0}));
  EXPECT_EQ(Row(m, 24, 15, 25), (std::vector<int>{0, 0, 0, 0, 10, 14, 7, 0, 0, 0, 0}));
}

TEST(ChannelDisc, MaxModeKeepsTheLargerCoverageAndPlainModeBlends) {
  auto dab = [](TBlockChannel& m, float cx, bool max) { m.ChannelDisc(255, max, cx, 20.5f, 5.5f, 0.7f, false); };
  TBlockChannel a, b, both;
  for (TBlockChannel* m : {&a, &b, &both}) m->SetSize(64, 64);
  dab(a, 20.2f, true);
  dab(b, 24.9f, true);
  dab(both, 20.2f, true);
  dab(both, 24.9f, true);
  for (int y = 10; y < 32; ++y)
    for (int x = 10; x < 36; ++x)
      ASSERT_EQ(both.ChannelGetPixel(x, y), std::max(a.ChannelGetPixel(x, y), b.ChannelGetPixel(x, y)));

  // Without max a partly covered pixel takes the dab's value at its coverage as alpha.
  TBlockChannel plain;
  plain.SetSize(64, 64);
  plain.ChannelFill(100);
  plain.ChannelDisc(255, false, 20.2f, 20.5f, 5.5f, 0.7f, false);
  TChannel o(1, 1);
  o.Fill(100);
  const uint8_t cover = a.ChannelGetPixel(20, 15);  // (20, 15) straddles the rim
  ASSERT_GT(cover, 0);
  ASSERT_LT(cover, 178);
  o.BlendPixel(0, 0, 255, cover);
  EXPECT_EQ(plain.ChannelGetPixel(20, 15), o.GetPixel(0, 0));
  EXPECT_EQ(plain.ChannelGetPixel(20, 20), 178);  // fully covered: stored as Trunc(255 * 0.7)
}

TEST(Spans, CoverageInSixtyFourthsAlongRowsAndColumns) {
  TBlockChannel h, v;
  h.SetSize(64, 64);
  v.SetSize(64, 64);
  h.ChannelHSpan(5, 255, 10.5f, 12.5f, 1, true);
  v.ChannelVSpan(5, 255, 10.5f, 12.5f, 1, true);
  EXPECT_EQ(Row(h, 5, 9, 13), (std::vector<int>{0, 123, 255, 127, 0}));
  for (int y = 9; y <= 13; ++y) EXPECT_EQ(v.ChannelGetPixel(5, y), h.ChannelGetPixel(y, 5));
  // Without max every visited pixel is stored, zeros included.
  h.ChannelHSpan(5, 100, 10.5f, 12.5f, 0.5f, false);
  EXPECT_EQ(Row(h, 5, 9, 13), (std::vector<int>{0, 24, 50, 25, 0}));
}

TEST(FillPolygon, FortyFiveDegreeTriangleGolden) {
  TBlockChannel m;
  m.SetSize(64, 64);
  std::vector<TPoint> pts = {{10, 10}, {40, 10}, {10, 40}};
  const std::vector<TPoint> before = pts;
  m.FillPolygon(pts);
  EXPECT_EQ(pts, before);  // the caller's points are not touched
  EXPECT_EQ(m.ChannelGetPixel(15, 15), 255);
  EXPECT_EQ(m.ChannelGetPixel(30, 30), 0);
  // The hypotenuse: the 0.01 lowering makes its ends flat in the row pass and steep in the
  // column pass, so both pull it in by half its run.
  EXPECT_EQ(Row(m, 10, 8, 41), (std::vector<int>{0, 0, 251, 255, 255, 255, 255, 255, 255, 255, 255, 255,
                                                 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
                                                 255, 255, 255, 255, 255, 255, 255, 23, 0, 0}));
  EXPECT_EQ(Row(m, 25, 22, 26), (std::vector<int>{255, 255, 23, 0, 0}));
  EXPECT_EQ(Row(m, 39, 8, 12), (std::vector<int>{0, 0, 23, 0, 0}));
  EXPECT_EQ(Hash(m, 0, 0, 64, 64), 0xa4da775a1a49702eull);
}

TEST(FillPolygon, SelfCrossingPolygonFillsByCrossingPairs) {
  TBlockChannel m;
  m.SetSize(64, 64);
  TPoint bow[] = {{10, 10}, {40, 40}, {40, 10}, {10, 40}};
  m.FillPolygon(bow, 4);
  EXPECT_EQ(m.ChannelGetPixel(12, 25), 255);
  EXPECT_EQ(m.ChannelGetPixel(38, 25), 255);
  EXPECT_EQ(m.ChannelGetPixel(25, 12), 0);
  EXPECT_EQ(m.ChannelGetPixel(25, 38), 0);
  EXPECT_EQ(Row(m, 25, 22, 28), (std::vector<int>{255, 255, 27, 23, 255, 255, 255}));
  EXPECT_EQ(Hash(m, 0, 0, 64, 64), 0x86566418a08443b8ull);
}

TEST(FillPolygon, DegenerateOutlinesDrawNothing) {
  TBlockChannel m;
  m.SetSize(64, 64);
  TPoint twoCorners[] = {{10, 10}, {10, 10}, {50, 10}, {50, 10}};
  m.FillPolygon(twoCorners, 4);
  TPoint back[] = {{10, 10}, {30, 20}, {10, 10}};
  m.FillPolygon(back, 3);
  m.FillPolygon(twoCorners, 0);
  m.FillPolygon(nullptr, 5);
  m.FillPolygon(twoCorners, -3);
  EXPECT_EQ(m.TileCount(), 0);
}

TEST(FillPolygon, ACombOfMoreCrossingsThanTheFillKeepsDrawsNothing) {
  // 600 teeth give 1200 crossings on each row through them, past the 1000 a row keeps.
  const int teeth = 600;
  std::vector<TPoint> p = {{0, 20}, {8 * teeth, 20}, {8 * teeth, 10}};
  for (int k = teeth - 1; k >= 0; --k) {
    p.push_back({8 * k + 6, 10});
    p.push_back({8 * k + 6, 0});
    p.push_back({8 * k + 2, 0});
    p.push_back({8 * k + 2, 10});
  }
  p.push_back({0, 10});
  TBlockChannel m;
  m.SetSize(8 * teeth + 10, 30);
  m.FillPolygon(p);
  for (int k = 0; k < teeth; ++k) {
    ASSERT_EQ(m.ChannelGetPixel(8 * k + 4, 5), 0) << k;
    ASSERT_EQ(m.ChannelGetPixel(8 * k + 4, 15), 0) << k;
  }
}

TEST(FillPolygon, ClipsToTheImageAndSurvivesHostileOutlines) {
  TBlockChannel m;
  m.SetSize(50, 40);
  TPoint big[] = {{-100, -100}, {200, -100}, {200, 200}, {-100, 200}};
  m.FillPolygon(big, 4);
  EXPECT_EQ(m.ChannelGetPixel(1, 1), 255);
  EXPECT_EQ(m.ChannelGetPixel(49, 39), 255);
  EXPECT_EQ(m.ChannelGetPixel(0, 0), 251);  // a span starting exactly at 0 covers 63 of 64
  EXPECT_EQ(m.ChannelGetPixel(60, 10), 0);  // beyond Width: the spans end there

  TBlockChannel h;
  h.SetSize(100, 100);
  const int32_t M = std::numeric_limits<int32_t>::max(), N = std::numeric_limits<int32_t>::min();
  TPoint huge[] = {{N, N}, {M, N}, {M, M}, {N, M}, {0, 5}};
  h.FillPolygon(huge, 5);
  std::mt19937 rng(41);
  std::vector<TPoint> scribble(3000);
  for (TPoint& q : scribble) q = {int32_t(rng() % 140) - 20, int32_t(rng() % 140) - 20};
  h.FillPolygon(scribble);
  SUCCEED();
}

TEST(Morphology, DilateAndErodeAreTwoValued) {
  TBlockChannel m, d, e;
  for (TBlockChannel* b : {&m, &d, &e}) b->SetSize(64, 64);
  m.ChannelBlendPixel(5, 5, 255, 255);
  m.ChannelBlendPixel(20, 20, 254, 255);  // counts as 0
  m.Dilate(d);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x)
      ASSERT_EQ(d.ChannelGetPixel(x, y), (std::abs(x - 5) <= 1 && std::abs(y - 5) <= 1) ? 255 : 0) << x << "," << y;

  m.ChannelFill(255);
  m.Erode(e);
  EXPECT_EQ(e.ChannelGetPixel(0, 30), 0);
  EXPECT_EQ(e.ChannelGetPixel(63, 30), 0);  // its right neighbour lies in an absent tile
  EXPECT_EQ(e.ChannelGetPixel(30, 0), 0);
  EXPECT_EQ(e.ChannelGetPixel(30, 30), 255);
  m.ChannelFillRect(64, 0, 64, 64, 255);  // now the neighbour's tile exists and holds 255
  m.Erode(e);
  EXPECT_EQ(e.ChannelGetPixel(63, 30), 255);
  EXPECT_EQ(e.ChannelGetPixel(63, 63), 0);
}

TEST(Morphology, SmoothStepsRampsIntoTheZerosBesideAStair) {
  auto make = [](std::vector<std::vector<int>> rows) {
    auto m = std::make_unique<TBlockChannel>();
    m->SetSize(int(rows[0].size()), int(rows.size()));
    for (size_t y = 0; y < rows.size(); ++y)
      for (size_t x = 0; x < rows[y].size(); ++x) m->ChannelBlendPixel(int(x), int(y), uint8_t(rows[y][x]), 255);
    return m;
  };
  auto step = make({{255, 255, 255, 255, 255, 255, 255, 255}, {255, 255, 255, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}});
  TBlockChannel out;
  out.SetSize(8, 3);
  step->SmoothSteps(out);
  EXPECT_EQ(Row(out, 0, 0, 7), (std::vector<int>(8, 255)));
  EXPECT_EQ(Row(out, 1, 0, 7), (std::vector<int>{255, 255, 255, 128, 171, 129, 87, 45}));
  EXPECT_EQ(Row(out, 2, 0, 7), (std::vector<int>{0, 0, 0, 1, 0, 0, 0, 0}));
  EXPECT_EQ(out.ChannelGetPixel(8, 1), 0);  // the ramp stays inside the image

  // A notch: the ramps run up to selected pixels on both sides and never lower them.
  auto notch = make({{255, 255, 255, 255, 255}, {255, 0, 0, 255, 255}, {0, 0, 0, 0, 0}});
  TBlockChannel out2;
  out2.SetSize(5, 3);
  notch->SmoothSteps(out2);
  EXPECT_EQ(Row(out2, 1, 0, 4), (std::vector<int>{255, 128, 128, 255, 255}));
  EXPECT_EQ(Row(out2, 2, 0, 4), (std::vector<int>{0, 1, 1, 0, 0}));

  TBlockChannel empty, out3;
  empty.SetSize(10, 10);
  out3.SetSize(10, 10);
  out3.ChannelFill(9);
  empty.SmoothSteps(out3);  // copied (cleared), then nothing to smooth
  EXPECT_EQ(out3.ChannelGetPixel(3, 3), 0);
}

TEST(MaskPreview, GreyIsTheMeanOfEachBoxAndInvertChangesNothing) {
  TBlockChannel m;
  m.SetSize(128, 64);
  m.ChannelFillRect(0, 0, 64, 64, 255);
  TTC c(64, 32);
  c.Fill(0x12345678);
  m.ChannelToGrey(c, 0, 0, 63, 31);
  EXPECT_EQ(c.GetPixel(30, 5), 0xFFFFFFFFu);
  EXPECT_EQ(c.GetPixel(31, 5), 0xFFAAAAAAu);  // two of three columns: 6 * 255 / 9 = 170
  EXPECT_EQ(c.GetPixel(32, 5), 0xFF000000u);
  EXPECT_EQ(c.GetPixel(63, 31), 0xFF000000u);
  m.InvertChannel();
  EXPECT_EQ(m.ChannelGetPixel(10, 10), 255);
  EXPECT_EQ(m.ChannelGetPixel(100, 10), 0);
}

TEST(Dabs, HostileValuesDrawNothingOrStayInsideTheGrid) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  struct Case { float cx, cy, r; };
  for (auto c : {Case{nan, 10, 5}, {10, nan, 5}, {10, 10, nan}, {inf, 10, 5}, {-inf, 10, 5}, {10, 10, inf},
                 {1e30f, 1e30f, 5}, {10, 10, 1e9f}, {10, 10, -5}, {-1e6f, -1e6f, 1.5e6f}, {3e6f, 50, 3e6f}}) {
    TBlockImage img, src;
    img.SetSize(100, 100);
    src.SetSize(100, 100);
    img.DrawDisc(0, true, c.cx, c.cy, c.r, 1);
    img.BlurDisc(src, 3, c.cx, c.cy, c.r);
    TBlockChannel m;
    m.SetSize(100, 100);
    m.ChannelDisc(255, true, c.cx, c.cy, c.r, 1, true);
    m.ChannelDisc(255, false, c.cx, c.cy, c.r, 1, false);
    m.ChannelHSpan(10, 255, c.cx, c.r, 1, false);
    m.ChannelVSpan(10, 255, c.cy, c.r, 1, true);
    EXPECT_LE(img.TileCount(), 4);
    EXPECT_LE(m.TileCount(), 4);
  }
  TBlockImage img;
  img.SetSize(100, 100);
  img.DrawDisc(0, false, 10, 10, 1e9f, 1);  // refused: far beyond any paper
  EXPECT_EQ(img.TileCount(), 0);
}

}  // namespace
