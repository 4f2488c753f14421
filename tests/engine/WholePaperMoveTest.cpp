// The whole-paper moves of an image (canvas size, quarter turns, resolution) tile by tile,
// against the plain way kept here as the reference: draw the image onto a canvas of its size,
// transform the canvas pixel by pixel, load it into an emptied image and compact. Every tile
// must exist in both or neither and agree in every byte. The thumbnails they redraw are
// checked against the plain box means too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "engine/Block.h"
#include "engine/TrueCnvs.h"

namespace {

enum TMove { mvShift, mvShrink, mvRight, mvLeft };

void PlainMove(const TBlockImage& src, TBlockImage& dst, TMove move, int32_t w, int32_t h, int32_t dx, int32_t dy) {
  const int32_t W = src.Width(), H = src.Height();
  TTC T(W, H);
  T.Fill(src.BackColour());
  src.DrawTo(T, 0, 0);
  dst.SetSize(w, h);
  dst.SetBackColour(src.BackColour());
  TTC T2(w, h);
  switch (move) {
    case mvShift: {
      const int32_t x0 = std::max(0, -dx), y0 = std::max(0, -dy);
      const int32_t x1 = std::min(W, w - dx), y1 = std::min(H, h - dy);
      if (x1 > x0 && y1 > y0) dst.PasteFromTTC(T, x0, y0, x1 - x0, y1 - y0, x0 + dx, y0 + dy);
      break;
    }
    case mvShrink: T.ShrinkTo4x4(T2), dst.LoadFromTTC(T2); break;
    case mvRight: T.RotateRightTo(T2), dst.LoadFromTTC(T2); break;
    case mvLeft: T.RotateLeftTo(T2), dst.LoadFromTTC(T2); break;
  }
  dst.Compact();
}

void FastMove(TBlockImage& src, TBlockImage& dst, TMove move, int32_t w, int32_t h, int32_t dx, int32_t dy) {
  dst.SetSize(w, h);
  dst.SetBackColour(src.BackColour());
  switch (move) {
    case mvShift: src.ShiftTo(dst, dx, dy); break;
    case mvShrink: src.ShrinkTo4x4(dst); break;
    case mvRight: src.RotateRightTo(dst); break;
    case mvLeft: src.RotateLeftTo(dst); break;
  }
  dst.Compact();
}

::testing::AssertionResult SameImages(const TBlockImage& a, const TBlockImage& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.BackColour() != b.BackColour())
    return ::testing::AssertionFailure() << "sizes or backgrounds differ";
  for (int32_t ty = 0; ty < TBlock::kGridSide; ++ty)
    for (int32_t tx = 0; tx < TBlock::kGridSide; ++tx) {
      const TTC* p = a.GetTile(tx, ty);
      const TTC* q = b.GetTile(tx, ty);
      if (!p != !q) return ::testing::AssertionFailure() << "tile (" << tx << ", " << ty << ") exists in only one";
      if (!p) continue;
      for (int32_t y = 0; y < TBlock::kTileSide; ++y)
        for (int32_t x = 0; x < TBlock::kTileSide; ++x)
          if (p->Row32(y)[x] != q->Row32(y)[x])
            return ::testing::AssertionFailure() << "pixel (" << tx * 64 + x << ", " << ty * 64 + y << "): " << std::hex
                                                 << p->Row32(y)[x] << " vs " << q->Row32(y)[x];
    }
  return ::testing::AssertionSuccess();
}

// A random layer: absent tiles, tiles of the background, tiles that differ from it only in
// alpha, flat colours and noise, written over whole tiles (beyond the image's edge too).
void RandomImage(TBlockImage& img, std::mt19937& rng, int32_t w, int32_t h, uint32_t back) {
  img.SetSize(w, h);
  img.SetBackColour(back);
  auto in = [&](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };
  for (int32_t ty = 0; ty <= h / 64; ++ty)
    for (int32_t tx = 0; tx <= w / 64; ++tx) {
      const uint32_t kind = in(0, 5);
      if (kind == 0) continue;
      img.EnsureTileAt(tx, ty);
      TTC* t = img.GetTile(tx, ty);
      const uint32_t flat = in(0, 0xFFFFFFFFu);
      for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 64; ++x) {
          uint32_t& p = t->Row32(y)[x];
          switch (kind) {
            case 1: p = back; break;
            case 2: p = (back & 0xFFFFFFu) | (in(0, 255) << 24); break;
            case 3: p = flat; break;
            default: p = in(0, 0xFFFFFFFFu) | (in(0, 3) == 0 ? 0 : 0xFF000000u); break;
          }
        }
    }
}

TEST(WholePaperMove, RandomPapersMatchThePlainCanvasWay) {
  std::mt19937 rng(20261211);
  auto in = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
  const uint32_t backs[] = {0xFFFFFFu, 0x000000u, 0xFF204060u};
  for (int round = 0; round < 120; ++round) {
    const TMove move = static_cast<TMove>(round % 4);
    // Sides on and around tile edges as well as anywhere.
    auto side = [&] { return in(0, 2) == 0 ? 64 * in(1, 4) + in(-1, 1) : in(1, 300); };
    const int32_t W = side(), H = side();
    TBlockImage src;
    RandomImage(src, rng, W, H, backs[round % 3]);
    int32_t w = H, h = W, dx = 0, dy = 0;
    if (move == mvShift || move == mvShrink) w = side(), h = side();
    if (move == mvShift) dx = in(-W, w), dy = in(-H, h);
    TBlockImage fast, plain;
    PlainMove(src, plain, move, w, h, dx, dy);
    FastMove(src, fast, move, w, h, dx, dy);  // empties src
    ASSERT_TRUE(SameImages(fast, plain)) << "round " << round << ": move " << move << " of " << W << " x " << H
                                         << " to " << w << " x " << h << " at " << dx << ", " << dy;
  }
}

// The extremes of the resampling: one pixel to the largest paper and back, and sizes far apart.
TEST(WholePaperMove, ExtremeResamplingMatchesThePlainCanvasWay) {
  std::mt19937 rng(3);
  const int32_t sizes[][4] = {{1, 1, 700, 3}, {700, 3, 1, 1}, {kMaxPaperSide, 2, 5, 1}, {5, 1, kMaxPaperSide, 2},
                              {333, 64, 64, 333}, {65, 65, 64, 64}};
  for (const auto& s : sizes) {
    TBlockImage src, fast, plain;
    RandomImage(src, rng, s[0], s[1], 0xFFFFFFu);
    PlainMove(src, plain, mvShrink, s[2], s[3], 0, 0);
    FastMove(src, fast, mvShrink, s[2], s[3], 0, 0);
    EXPECT_TRUE(SameImages(fast, plain)) << s[0] << " x " << s[1] << " to " << s[2] << " x " << s[3];
  }
}

// The box mean of StretchRectTo taken pixel by pixel, each sample read clamped into the image.
void PlainStretch(const TBlockImage& img, TTC& canvas, int32_t X, int32_t Y, int32_t W, int32_t H) {
  const int32_t cw = canvas.Width(), ch = canvas.Height(), iw = img.Width(), ih = img.Height();
  const int64_t fx = TruncInt(static_cast<ext_t>(iw) / cw * 1024.0L), fy = TruncInt(static_cast<ext_t>(ih) / ch * 1024.0L);
  const int32_t bx = TruncInt(static_cast<ext_t>(iw) / cw), by = TruncInt(static_cast<ext_t>(ih) / ch);
  const uint32_t n = uint32_t(bx + 1) * uint32_t(by + 1);
  for (int64_t y = std::max(Y, 0); y <= std::min<int64_t>(int64_t(Y) + H, ch - 1); ++y)
    for (int64_t x = std::max(X, 0); x <= std::min<int64_t>(int64_t(X) + W, cw - 1); ++x) {
      uint32_t a = 0, r = 0, g = 0, b = 0;
      for (int64_t j = 0; j <= by; ++j)
        for (int64_t i = 0; i <= bx; ++i) {
          const uint32_t c = img.GetPixel(int32_t(std::clamp<int64_t>(((fx * x) >> 10) + i, 0, iw - 1)),
                                          int32_t(std::clamp<int64_t>(((fy * y) >> 10) + j, 0, ih - 1)));
          a += c >> 24, r += (c >> 16) & 0xFF, g += (c >> 8) & 0xFF, b += c & 0xFF;
        }
      canvas.SetPixel(int32_t(x), int32_t(y), ((a / n) << 24) + ((r / n) << 16) + ((g / n) << 8) + b / n);
    }
}

TEST(WholePaperMove, ThumbnailBoxMeansMatchThePlainOnes) {
  std::mt19937 rng(46);
  auto in = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
  struct Size {
    int32_t w, h, cw, ch;
  };
  std::vector<Size> sizes = {{6000, 3, 20, 2}, {3, 6000, 2, 20}, {5, 5, 40, 30}, {700, 500, 46, 33}};
  for (int round = 0; round < 30; ++round) sizes.push_back({in(1, 400), in(1, 400), in(1, 60), in(1, 60)});
  for (const Size& s : sizes) {
    TBlockImage img;
    RandomImage(img, rng, s.w, s.h, 0xFFFFFFu);
    TTC fast(s.cw, s.ch), plain(s.cw, s.ch);
    fast.Fill(0x01020304u), plain.Fill(0x01020304u);
    // The whole canvas, and a part reaching past its edges.
    img.StretchRectTo(fast, 0, 0, s.cw, s.ch);
    PlainStretch(img, plain, 0, 0, s.cw, s.ch);
    const int32_t X = in(-5, s.cw), Y = in(-5, s.ch), W = in(0, s.cw + 5), H = in(0, s.ch + 5);
    img.StretchRectTo(fast, X, Y, W, H);
    PlainStretch(img, plain, X, Y, W, H);
    for (int32_t y = 0; y < s.ch; ++y)
      for (int32_t x = 0; x < s.cw; ++x)
        ASSERT_EQ(fast.GetPixel(x, y), plain.GetPixel(x, y))
            << "(" << x << ", " << y << ") of " << s.w << " x " << s.h << " into " << s.cw << " x " << s.ch;
  }
}

}  // namespace
