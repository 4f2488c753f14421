// Dabs on random data: the row-wise disc loops against the disc formulas evaluated point by
// point, over many random centres, radii, opacities and mask contents.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/Block.h"
#include "engine/BlockBlend.h"
#include "PlainDisc.h"

namespace {

// The point-by-point dabs. Pixels outside the window lo..hi (both axes) are not visited: a
// window around the block leaves out only writes that the block ignores.
constexpr int32_t kAll = 1 << 30;

void PlainChannelDisc(TBlockChannel& m, uint8_t value, bool max, float cx, float cy, float r, float opacity, bool soft,
                      int32_t lo = -kAll, int32_t hi = kAll) {
  if (!(r > 0)) return;
  const int64_t V = TruncInt(static_cast<ext_t>(value) * opacity);
  const TPlainDisc g(5, cx, cy, r);
  for (int32_t y = std::max(TruncInt(static_cast<ext_t>(cy) - r), lo); y <= std::min(TruncInt(static_cast<ext_t>(cy) + r), hi); ++y)
    for (int32_t x = std::max(TruncInt(static_cast<ext_t>(cx) - r), lo); x <= std::min(TruncInt(static_cast<ext_t>(cx) + r), hi); ++x) {
      const int64_t dx = 5 * int64_t(x) - g.CX, dy = 5 * int64_t(y) - g.CY;
      const int n = r > 3 ? g.Corners(dx, dy) : 1;
      if (n == 0) continue;
      uint8_t c;
      if (n == 4)
        c = uint8_t(soft ? (V * g.S(dx, dy)) >> 8 : V);
      else
        c = uint8_t(soft ? ((V * g.Samples(dx, dy) * g.S(dx, dy)) >> 8) / 25 : V * g.Samples(dx, dy) / 25);
      if (max) {
        if (m.ChannelGetPixel(x, y) < c) m.ChannelBlendPixel(x, y, c, 255);
      } else if (n == 4) {
        m.ChannelBlendPixel(x, y, c, 255);
      } else {
        m.ChannelBlendPixel(x, y, value, c);
      }
    }
}

void PlainDrawDisc(TBlockImage& b, uint32_t colour, bool soft, float cx, float cy, float r, float opacity,
                   int32_t lo = -kAll, int32_t hi = kAll) {
  if (r < 3) soft = false;
  const int64_t A = TruncInt(static_cast<ext_t>(opacity) * 255);
  const TPlainDisc g(4, cx, cy, r);
  for (int32_t y = std::max(TruncInt(static_cast<ext_t>(cy) - r), lo); y <= std::min(TruncInt(static_cast<ext_t>(cy) + r), hi); ++y)
    for (int32_t x = std::max(TruncInt(static_cast<ext_t>(cx) - r), lo); x <= std::min(TruncInt(static_cast<ext_t>(cx) + r), hi); ++x) {
      const int64_t dx = 4 * int64_t(x) - g.CX, dy = 4 * int64_t(y) - g.CY;
      const int n = g.Corners(dx, dy);
      if (n == 0) continue;
      int64_t alpha;
      if (n == 4)
        alpha = soft ? (A * g.S(dx, dy)) >> 8 : A;
      else
        alpha = soft ? ((A * g.Samples(dx, dy) * g.S(dx, dy)) >> 8) / 16 : A * g.Samples(dx, dy) / 16;
      b.BlendPixel(x, y, colour | 0xFF000000u, uint8_t(alpha));
    }
}

// Pixels x0..x1, y0..y1 of two blocks agree (reads outside the block included).
template <class TBlk, class Get>
::testing::AssertionResult SameArea(const TBlk& a, const TBlk& b, int x0, int y0, int x1, int y1, Get get) {
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x)
      if (get(a, x, y) != get(b, x, y))
        return ::testing::AssertionFailure() << "differs at " << x << "," << y << ": " << get(a, x, y) << " vs "
                                             << get(b, x, y);
  return ::testing::AssertionSuccess();
}

// The pixels a dab may touch, with a margin.
void DabWindow(float cx, float cy, float r, int& x0, int& y0, int& x1, int& y1) {
  x0 = TruncInt(static_cast<ext_t>(cx) - r) - 3, x1 = TruncInt(static_cast<ext_t>(cx) + r) + 3;
  y0 = TruncInt(static_cast<ext_t>(cy) - r) - 3, y1 = TruncInt(static_cast<ext_t>(cy) + r) + 3;
}

struct TRandomDab {
  float cx, cy, r, opacity;
  bool soft, max;
  uint8_t value;
};

// Centres anywhere on and around a 150 x 130 block, often near tile edges; radii mostly small.
TRandomDab RandomDab(std::mt19937& rng) {
  std::uniform_real_distribution<float> unit(0, 1);
  TRandomDab d;
  auto coord = [&](float side) {
    if (rng() % 3 == 0) return float(64 * int(rng() % 3)) + (unit(rng) - 0.5f) * 4;
    return unit(rng) * (side + 20) - 10;
  };
  d.cx = coord(150);
  d.cy = coord(130);
  switch (rng() % 4) {
    case 0: d.r = unit(rng) * 1.5f; break;
    case 1: d.r = 1 + unit(rng) * 2.5f; break;
    case 2: d.r = 3 + unit(rng) * 6; break;
    default: d.r = unit(rng) * 40; break;
  }
  if (rng() % 8 == 0) d.r = float(rng() % 5) + (rng() % 2 ? 0.0f : 1e-6f);  // on the r <= 3 boundary and the grid
  d.opacity = rng() % 3 == 0 ? 1.0f : unit(rng) * 1.2f;
  d.soft = rng() % 2;
  d.max = rng() % 2;
  d.value = uint8_t(rng() % 4 == 0 ? 255 : rng());
  return d;
}

TEST(DiscRandom, ChannelDiscGivesThePlainFormulasValuesAndTiles) {
  auto maskAt = [](const TBlockChannel& m, int x, int y) { return int(m.ChannelGetPixel(x, y)); };
  std::mt19937 rng(20240611);
  for (int round = 0; round < 20; ++round) {
    TBlockChannel fast, plain;
    fast.SetSize(150, 130);
    plain.SetSize(150, 130);
    // Some tiles random, some absent, some zero.
    for (int ty = 0; ty < 3; ++ty)
      for (int tx = 0; tx < 3; ++tx) {
        const uint32_t kind = rng() % 3;
        if (kind == 0) continue;
        for (int y = 64 * ty; y < 64 * ty + 64; ++y)
          for (int x = 64 * tx; x < 64 * tx + 64; ++x) {
            const uint8_t v = kind == 1 ? 0 : uint8_t(rng());
            fast.ChannelBlendPixel(x, y, v, 255);
            plain.ChannelBlendPixel(x, y, v, 255);
          }
      }
    for (int k = 0; k < 30; ++k) {
      const TRandomDab d = RandomDab(rng);
      fast.ChannelDisc(d.value, d.max, d.cx, d.cy, d.r, d.opacity, d.soft);
      PlainChannelDisc(plain, d.value, d.max, d.cx, d.cy, d.r, d.opacity, d.soft);
      int x0, y0, x1, y1;
      DabWindow(d.cx, d.cy, d.r, x0, y0, x1, y1);
      ASSERT_TRUE(SameArea(fast, plain, x0, y0, x1, y1, maskAt))
          << "dab " << d.cx << "," << d.cy << " r " << d.r << " soft " << d.soft << " max " << d.max;
      for (int y = 0; y < 192; y += 64)
        for (int x = 0; x < 192; x += 64) ASSERT_EQ(fast.HasTile(x, y), plain.HasTile(x, y)) << d.cx << "," << d.cy;
    }
    ASSERT_TRUE(SameArea(fast, plain, -1, -1, 200, 200, maskAt));
  }
}

// Pen-like rows of keep-maximum dabs: the same few radii, values and edges again and again at
// stepped sub-pixel positions, some beyond the block's top and left, so that dab shapes are
// met repeatedly and in turns. Every other round the pressure drifts as a hand's does and sets
// the opacity of every dab and, by 1/1024 steps, its radius: one shape then comes back with
// other values, and a few sizes take turns.
TEST(DiscRandom, RepeatedDabShapesGiveThePlainFormulasValues) {
  auto maskAt = [](const TBlockChannel& m, int x, int y) { return int(m.ChannelGetPixel(x, y)); };
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> unit(0, 1);
  for (int round = 0; round < 12; ++round) {
    TBlockChannel fast, plain;
    fast.SetSize(150, 130);
    plain.SetSize(150, 130);
    const float radii[] = {unit(rng) * 3, 2 + unit(rng) * 4, 3 + unit(rng) * 25};
    const float step = 0.1f + unit(rng), sx = unit(rng) * 40 - 20, sy = unit(rng) * 40 - 20;
    const bool drift = round % 2 == 1;
    int32_t pressure = 512;  // in 1/1024
    for (int k = 0; k < 300; ++k) {
      pressure = std::clamp<int32_t>(pressure + int32_t(rng() % 129) - 64, 0, 1024);
      const float p = static_cast<float>(pressure / 1024.0L);
      float r = radii[k % 3];
      if (drift) r = static_cast<float>(r * 0.5L + r * 0.5L * p);
      const float cx = sx + step * k * 0.5f, cy = sy + step * k * 0.35f;
      const uint8_t value = k % 5 == 0 ? 128 : 255;
      const float opacity = drift ? p : k % 7 == 0 ? 0.5f : 1.0f;
      const bool soft = (k / 3) % 2 == 1;
      fast.ChannelDisc(value, true, cx, cy, r, opacity, soft);
      PlainChannelDisc(plain, value, true, cx, cy, r, opacity, soft);
    }
    ASSERT_TRUE(SameArea(fast, plain, -1, -1, 200, 200, maskAt)) << "round " << round;
    for (int y = 0; y < 192; y += 64)
      for (int x = 0; x < 192; x += 64) ASSERT_EQ(fast.HasTile(x, y), plain.HasTile(x, y)) << "round " << round;
  }
}

TEST(DiscRandom, DrawDiscGivesThePlainFormulasPixelsAndTiles) {
  auto pixelAt = [](const TBlockImage& b, int x, int y) { return b.GetPixel(x, y); };
  std::mt19937 rng(977);
  for (int round = 0; round < 15; ++round) {
    TBlockImage fast, plain;
    fast.SetSize(150, 130);
    plain.SetSize(150, 130);
    fast.SetBackColour(rng() & 0xFFFFFF);
    plain.SetBackColour(fast.BackColour());
    for (int ty = 0; ty < 3; ++ty)
      for (int tx = 0; tx < 3; ++tx) {
        if (rng() % 3 == 0) continue;
        for (int y = 64 * ty; y < 64 * ty + 64; ++y)
          for (int x = 64 * tx; x < 64 * tx + 64; ++x) {
            const uint32_t c = rng();
            fast.SetPixel(x, y, c);
            plain.SetPixel(x, y, c);
          }
      }
    for (int k = 0; k < 20; ++k) {
      const TRandomDab d = RandomDab(rng);
      const uint32_t colour = rng() & 0xFFFFFF;
      fast.DrawDisc(colour, d.soft, d.cx, d.cy, d.r, d.opacity);
      PlainDrawDisc(plain, colour, d.soft, d.cx, d.cy, d.r, d.opacity);
      int x0, y0, x1, y1;
      DabWindow(d.cx, d.cy, d.r, x0, y0, x1, y1);
      ASSERT_TRUE(SameArea(fast, plain, x0, y0, x1, y1, pixelAt)) << "dab " << d.cx << "," << d.cy << " r " << d.r;
      ASSERT_EQ(fast.TileCount(), plain.TileCount());
    }
    ASSERT_TRUE(SameArea(fast, plain, -1, -1, 200, 200, pixelAt));
  }
}

// Image and mask dabs of the same sub-pixel radius (a mask grid of 5 per pixel, an image grid
// of 4) taking turns, so that each finds the disc widths the other left, at sizes that come back
// as a pressure makes them come back.
TEST(DiscRandom, ImageAndMaskDabsOfOneGridRadiusTakingTurns) {
  auto pixelAt = [](const TBlockImage& b, int x, int y) { return b.GetPixel(x, y); };
  auto maskAt = [](const TBlockChannel& m, int x, int y) { return int(m.ChannelGetPixel(x, y)); };
  std::mt19937 rng(515);
  std::uniform_real_distribution<float> unit(0, 1);
  TBlockImage fastImage, plainImage;
  TBlockChannel fastMask, plainMask;
  for (TBlock* b : std::initializer_list<TBlock*>{&fastImage, &plainImage, &fastMask, &plainMask}) b->SetSize(150, 130);
  for (int k = 0; k < 400; ++k) {
    const int32_t grid = 5 + int32_t(rng() % 6) * 7 + (k / 50) % 3;  // a grid radius of both
    const float cx = unit(rng) * 170 - 10, cy = unit(rng) * 150 - 10, o = unit(rng);
    const bool soft = rng() % 2;
    const uint32_t colour = rng() & 0xFFFFFF;
    const float rImage = static_cast<float>(grid / 4.0L), rMask = static_cast<float>(grid / 5.0L);
    fastImage.DrawDisc(colour, soft, cx, cy, rImage, o);
    PlainDrawDisc(plainImage, colour, soft, cx, cy, rImage, o);
    const uint8_t value = uint8_t(rng());
    const bool max = k % 3 != 0;
    fastMask.ChannelDisc(value, max, cy, cx, rMask, o, soft);
    PlainChannelDisc(plainMask, value, max, cy, cx, rMask, o, soft);
    if (k % 20 == 19) {
      ASSERT_TRUE(SameArea(fastImage, plainImage, -1, -1, 200, 200, pixelAt)) << "dab " << k;
      ASSERT_TRUE(SameArea(fastMask, plainMask, -1, -1, 200, 200, maskAt)) << "dab " << k;
      ASSERT_EQ(fastImage.TileCount(), plainImage.TileCount());
      ASSERT_EQ(fastMask.TileCount(), plainMask.TileCount());
    }
  }
}

// Dabs far larger than any brush and centres far off the block: the disc widths then come from
// square roots row by row, and the soft factor's numerator passes 2^52.
TEST(DiscRandom, HugeDabsGiveThePlainFormulasValues) {
  auto pixelAt = [](const TBlockImage& b, int x, int y) { return b.GetPixel(x, y); };
  auto maskAt = [](const TBlockChannel& m, int x, int y) { return int(m.ChannelGetPixel(x, y)); };
  struct TCase {
    float cx, cy, r, opacity;
  };
  const TCase cases[] = {
      {75, -1100, 1200.3f, 0.7f},          // beyond the widths table of the mask grid and of the image grid
      {-1.5e6f + 60, 65, 1.5e6f, 0.9f},    // soft numerators beyond 2^52
      {3.0e5f + 30.7f, 40.2f, 3.0e5f, 0.45f},
      {-9.0e6f, -9.0e6f, 9.0e6f * 1.41f, 1.0f},
  };
  for (const TCase& c : cases)
    for (int soft = 0; soft < 2; ++soft) {
      TBlockImage fast, plain;
      TBlockChannel fastMask, plainMask;
      for (TBlock* b : std::initializer_list<TBlock*>{&fast, &plain, &fastMask, &plainMask}) b->SetSize(150, 130);
      fast.DrawDisc(0x336699, soft, c.cx, c.cy, c.r, c.opacity);
      PlainDrawDisc(plain, 0x336699, soft, c.cx, c.cy, c.r, c.opacity, -2, 200);
      ASSERT_TRUE(SameArea(fast, plain, -1, -1, 200, 200, pixelAt)) << c.cx << "," << c.cy << " r " << c.r << " soft " << soft;
      ASSERT_EQ(fast.TileCount(), plain.TileCount());
      for (int max = 0; max < 2; ++max) {
        fastMask.ChannelDisc(200, max, c.cx, c.cy, c.r, c.opacity, soft);
        PlainChannelDisc(plainMask, 200, max, c.cx, c.cy, c.r, c.opacity, soft, -2, 200);
        ASSERT_TRUE(SameArea(fastMask, plainMask, -1, -1, 200, 200, maskAt)) << c.cx << "," << c.cy << " r " << c.r;
      }
    }
}

// The run blend of the image dabs against the canvas's own pixel blend, for every pixel byte
// under every colour byte at every alpha, in each channel: once with one alpha for the run and
// once with an alpha per pixel, over runs whose lengths leave every tail.
uint32_t PlainPixelBlend(uint32_t p, uint32_t colour, uint8_t a) {
  if (a == 255) return colour;
  uint32_t out = p & 0xFF000000u;
  for (int k = 0; k < 24; k += 8) out |= uint32_t(BlendByte(uint8_t(p >> k), uint8_t(colour >> k), a)) << k;
  return out;
}

TEST(DiscRandom, PixelRunBlendsEveryByteAsTheCanvasDoes) {
  std::vector<uint32_t> start(256), run(256), want(256);
  for (uint32_t i = 0; i < 256; ++i) start[i] = i | (255 - i) << 8 | ((i * 37 + 11) & 255) << 16 | ((i * 91) & 255) << 24;
  std::vector<uint8_t> alphas(256);
  for (uint32_t v = 0; v < 256; ++v) {
    const uint32_t colour = v | ((v * 101 + 7) & 255) << 8 | (255 - v) << 16 | 0xFF000000u;
    for (uint32_t a = 0; a < 256; ++a) {
      const size_t n = 256 - a % 7;
      run = want = start;
      BlendPixelRun(run.data(), nullptr, int32_t(n), colour, uint8_t(a));
      for (size_t i = 0; i < n; ++i) want[i] = PlainPixelBlend(start[i], colour, uint8_t(a));
      ASSERT_EQ(run, want) << "colour " << colour << " alpha " << a;
      // Every pixel byte meets every alpha once over the 256 runs of this colour.
      for (uint32_t i = 0; i < 256; ++i) alphas[i] = uint8_t(a + 97 * i);
      run = want = start;
      BlendPixelRun(run.data(), alphas.data(), int32_t(n), colour);
      for (size_t i = 0; i < n; ++i) want[i] = PlainPixelBlend(start[i], colour, alphas[i]);
      ASSERT_EQ(run, want) << "colour " << colour << " alphas from " << a;
    }
  }
}

// The colour through a mask byte by byte: m = 0 leaves the pixel, any other m blends B, G and R
// through the alpha table (255 included) and keeps A.
uint32_t PlainMaskBlend(uint32_t p, uint32_t colour, uint8_t m) {
  if (m == 0) return p;
  uint32_t out = p & 0xFF000000u;
  for (int k = 0; k < 24; k += 8) out |= uint32_t(BlendByte(uint8_t(p >> k), uint8_t(colour >> k), m)) << k;
  return out;
}

// The pen's refresh of its working copy: the layer copied over the rectangle, then the colour
// blended through the coverage, pixel by pixel; a working tile exists wherever a mask tile does.
void PlainPenRefresh(const TBlockImage& layer, TBlockImage& work, const TBlockChannel& mask, int x, int y, int w,
                     int h, uint32_t colour) {
  layer.CopyRectToBlock(work, x, y, w, h, x, y);
  for (int j = std::max(y, 0); j < std::min(y + h, work.Height()); ++j)
    for (int i = std::max(x, 0); i < std::min(x + w, work.Width()); ++i) {
      if (!mask.HasTile(i, j)) continue;
      work.EnsureTile(i, j);
      work.SetPixel(i, j, PlainMaskBlend(work.GetPixel(i, j), colour, mask.ChannelGetPixel(i, j)));
    }
}

TEST(DiscRandom, ColourThroughMaskGivesThePlainBlendForEveryByte) {
  // Every pixel byte under every colour byte at full coverage, where the blend is one bit mask.
  TTC canvas(256, 2), start(256, 2);
  TChannel full(256, 2);
  full.FillRect(0, 0, 256, 2, 255);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 256; ++x)
      start.SetPixel(x, y, uint32_t(x) | uint32_t(255 - x) << 8 | uint32_t(x ^ 0xA5) << 16 | uint32_t(y * 0x5A) << 24);
  for (uint32_t c = 0; c < 256; ++c) {
    const uint32_t colour = c | (255 - c) << 8 | (c ^ 0x55) << 16 | 0x13000000u;
    start.CopyTo(canvas, 0, 0);
    canvas.BlendColourThroughMask(full, 0, 0, 256, 2, 0, 0, colour);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 256; ++x)
        ASSERT_EQ(canvas.GetPixel(x, y), PlainMaskBlend(start.GetPixel(x, y), colour, 255)) << c << " " << x << "," << y;
  }
  // Runs of clear, full and partial coverage of every length, at odd offsets and widths.
  std::mt19937 rng(31);
  for (int round = 0; round < 200; ++round) {
    const int w = 1 + int(rng() % 70), h = 1 + int(rng() % 5);
    TChannel mask(w + 9, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w + 9;) {
        const int run = 1 + int(rng() % 20), kind = int(rng() % 3);
        for (int k = 0; k < run && x < w + 9; ++k, ++x)
          mask.FillRect(x, y, 1, 1, kind == 0 ? 0 : kind == 1 ? 255 : uint8_t(rng()));
      }
    TTC fast(w + 5, h + 2), plain(w + 5, h + 2);
    for (int y = 0; y < h + 2; ++y)
      for (int x = 0; x < w + 5; ++x) fast.SetPixel(x, y, rng());
    fast.CopyTo(plain, 0, 0);
    const int sx = int(rng() % 9), dx = int(rng() % 5), dy = int(rng() % 2);
    const uint32_t colour = rng();
    fast.BlendColourThroughMask(mask, sx, 0, w, h, dx, dy, colour);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        // Clipped against the canvas on both sides, and against the mask.
        if (sx + x < std::min(mask.Width(), plain.Width()) && dx + x < plain.Width() && dy + y < plain.Height())
          plain.SetPixel(dx + x, dy + y, PlainMaskBlend(plain.GetPixel(dx + x, dy + y), colour, mask.GetPixel(sx + x, y)));
    for (int y = 0; y < h + 2; ++y)
      for (int x = 0; x < w + 5; ++x) ASSERT_EQ(fast.GetPixel(x, y), plain.GetPixel(x, y)) << round << " " << x << "," << y;
  }
}

// Pen strokes as the paper refreshes them: random dabs and cross spans into the coverage, then
// the colour through it over each dab's rectangle, on layers of every kind's background, with
// centres on tile and paper edges and beyond.
TEST(DiscRandom, PenRefreshGivesThePlainBlendsPixels) {
  auto pixelAt = [](const TBlockImage& b, int x, int y) { return b.GetPixel(x, y); };
  std::mt19937 rng(4242);
  std::uniform_real_distribution<float> unit(0, 1);
  for (int round = 0; round < 8; ++round) {
    TBlockImage layer, fast, plain;
    TBlockChannel mask;
    for (TBlock* b : std::initializer_list<TBlock*>{&layer, &fast, &plain, &mask}) b->SetSize(150, 130);
    // White (multiply) or black backgrounds, some tiles drawn on.
    layer.SetBackColour(round % 2 ? 0xFFFFFF : 0);
    for (int ty = 0; ty < 3; ++ty)
      for (int tx = 0; tx < 3; ++tx) {
        if (rng() % 3 == 0) continue;
        for (int y = 64 * ty; y < std::min(64 * ty + 64, 130); ++y)
          for (int x = 64 * tx; x < std::min(64 * tx + 64, 150); ++x) layer.SetPixel(x, y, rng());
      }
    layer.CloneTo(fast);
    layer.CloneTo(plain);
    const uint32_t colour = rng() & 0xFFFFFF;
    for (int k = 0; k < 30; ++k) {
      const TRandomDab d = RandomDab(rng);
      const float r = k % 4 == 0 ? float(2 << (rng() % 7)) : d.r;  // 2, 4, ... 128 as well
      const float o = rng() % 2 ? 1.0f : unit(rng);
      if (r > 1) mask.ChannelDisc(255, true, d.cx, d.cy, r, o, false);
      if (r < 8) mask.ChannelHSpan(TruncInt(static_cast<ext_t>(d.cy)), 255, d.cx - r, d.cx + r, o, true);
      const int x = TruncInt(static_cast<ext_t>(d.cx) - r) - 4, y = TruncInt(static_cast<ext_t>(d.cy) - r) - 4;
      const int w = TruncInt(2 * static_cast<ext_t>(r)) + 9, h = w;
      layer.CopyRectToBlock(fast, x, y, w, h, x, y);
      fast.BlendColourThroughMask(mask, x, y, w, h, colour);
      PlainPenRefresh(layer, plain, mask, x, y, w, h, colour);
      ASSERT_TRUE(SameArea(fast, plain, 0, 0, 149, 129, pixelAt)) << "dab " << d.cx << "," << d.cy << " r " << r;
    }
  }
}

}  // namespace
