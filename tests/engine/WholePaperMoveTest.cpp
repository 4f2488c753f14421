// The whole-paper moves of an image (canvas size, quarter turns, resolution) tile by tile,
// against the plain way kept here as the reference: draw the image onto a canvas of its size,
// transform the canvas pixel by pixel, load it into an emptied image and compact. Every tile
// must exist in both or neither and agree in every byte. The thumbnails they redraw are
// checked against the plain box means too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/Block.h"
#include "engine/Layer.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/TrueCnvs.h"

namespace {

enum TMove { mvShift, mvShrink, mvRight, mvLeft };

void PlainMove(const TBlockImage& src, TBlockImage& dst, TMove move, int32_t w, int32_t h, int32_t dx, int32_t dy,
               bool compact = true) {
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
  if (compact) dst.Compact();
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

// Shifts by whole tiles hand the tiles on as they are: what lies outside the source or the new
// size must still read as the background, whatever the moved tile held there.
TEST(WholePaperMove, ShiftsByWholeTilesMatchThePlainCanvasWay) {
  std::mt19937 rng(64064);
  auto in = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
  const uint32_t backs[] = {0xFFFFFFu, 0x000000u, 0xFF204060u};
  for (int round = 0; round < 90; ++round) {
    auto side = [&] { return in(0, 1) == 0 ? 64 * in(1, 4) + in(-1, 1) : in(1, 300); };
    const int32_t W = side(), H = side(), w = side(), h = side();
    TBlockImage src;
    RandomImage(src, rng, W, H, backs[round % 3]);
    // Offsets of whole tiles, from wholly off the new size on one side to wholly off on the other.
    const int32_t dx = round < 6 ? 0 : 64 * in(-(W + 63) / 64 - 1, (w + 63) / 64 + 1);
    const int32_t dy = round < 3 ? 0 : 64 * in(-(H + 63) / 64 - 1, (h + 63) / 64 + 1);
    TBlockImage fast, plain;
    PlainMove(src, plain, mvShift, w, h, dx, dy);
    FastMove(src, fast, mvShift, w, h, dx, dy);
    ASSERT_TRUE(SameImages(fast, plain)) << "round " << round << ": " << W << " x " << H << " to " << w << " x " << h
                                         << " at " << dx << ", " << dy;
    EXPECT_EQ(0, src.TileCount()) << "round " << round;
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

// A whole paper of several layers, large enough that its layers move on several cores and its
// composite is made in bands on several cores: every layer, thumbnail and composite byte must
// be what moving one layer after another the plain way and compositing layer after layer gives.
TEST(WholePaperMove, LargePapersOfSeveralLayersMatchThePlainWay) {
  struct TCase {
    TMove move;
    int32_t w, h, anchor, dx, dy;  // the offset the anchor gives
  };
  const int32_t W = 1030, H = 1020;  // just over a million pixels
  const TCase cases[] = {{mvShift, 1100, 1000, 8, 70, -20}, {mvShift, 900, 1200, 4, -65, 90},
                         {mvShift, 1100, 1000, 0, 0, 0},     {mvShift, 1158, 956, 8, 128, -64},
                         {mvShrink, 515, 510, 0, 0, 0},      {mvRight, H, W, 0, 0, 0},
                         {mvLeft, H, W, 0, 0, 0}};
  std::mt19937 rng(5000);
  for (const TCase& c : cases) {
    TPaper fast, plain;
    ASSERT_TRUE(fast.Init("x", W, H));
    ASSERT_TRUE(plain.Init("x", W, H));
    const TLayerKind kinds[] = {lkMultiply, lkAdd, lkSubtract, lkArgb};
    for (int32_t i = 0; i < 4; ++i) {
      if (i > 0) fast.Layers->AddLayer(kinds[i]), plain.Layers->AddLayer(kinds[i]);
      TBlockImage& a = *fast.Layers->LayerImage(i);
      RandomImage(a, rng, W, H, a.BackColour());
      a.CloneTo(*plain.Layers->LayerImage(i));
      fast.Layers->SetOpacity(i, static_cast<uint8_t>(100 + 30 * i));
      plain.Layers->SetOpacity(i, static_cast<uint8_t>(100 + 30 * i));
    }
    switch (c.move) {
      case mvShift: ASSERT_TRUE(fast.ChangeCanvasSize(c.w, c.h, c.anchor)); break;
      case mvShrink: ASSERT_TRUE(fast.ChangeResolution(c.w, c.h)); break;
      case mvRight: ASSERT_TRUE(fast.Rotate90(1)); break;
      case mvLeft: ASSERT_TRUE(fast.Rotate90(0)); break;
    }
    plain.ResizeComposite(c.w, c.h);
    plain.Layers->SetSize(c.w, c.h);
    for (int32_t i = 0; i <= plain.Layers->LastIndex(); ++i) {
      TLayer& layer = *plain.Layers->Layers(i);
      TBlockImage moved;
      PlainMove(layer.Image(), moved, c.move, c.w, c.h, c.dx, c.dy, false);
      layer.Image().Swap(moved);
      layer.Compact();
      layer.ResizeThumbnail();
      layer.Image().StretchTo(layer.Thumbnail());
    }
    const std::string what = "move " + std::to_string(c.move) + " to " + std::to_string(c.w) + " x " + std::to_string(c.h);
    ASSERT_EQ(fast.Width(), c.w) << what;
    ASSERT_EQ(fast.Height(), c.h) << what;
    for (int32_t i = 0; i <= plain.Layers->LastIndex(); ++i) {
      ASSERT_TRUE(SameImages(*fast.Layers->LayerImage(i), *plain.Layers->LayerImage(i))) << what << ", layer " << i;
      const TTC& ft = *fast.Layers->LayerThumbnail(i);
      const TTC& pt = *plain.Layers->LayerThumbnail(i);
      ASSERT_EQ(ft.Width(), pt.Width());
      ASSERT_EQ(ft.Height(), pt.Height());
      ASSERT_EQ(0, std::memcmp(ft.Bits(), pt.Bits(), size_t(ft.ByteSize()))) << what << ", thumbnail " << i;
    }
    // The white the change leaves, then the composite of the changed paper.
    ASSERT_EQ(0, std::memcmp(fast.CompositeImage.Bits(), plain.CompositeImage.Bits(), size_t(plain.CompositeImage.ByteSize())));
    fast.Composite();
    TTC& out = plain.CompositeImage;
    out.Fill(plain.Layers->PaperColor() | 0xFF000000u);
    for (int32_t i = 0; i <= plain.Layers->LastIndex(); ++i) {
      const TBlockImage& img = *plain.Layers->LayerImage(i);
      const uint8_t o = plain.Layers->LayerOpacity(i);
      switch (plain.Layers->LayerKind(i)) {
        case lkMultiply: img.MultiplyRectTo(out, 0, 0, c.w, c.h, 0, 0, o); break;
        case lkAdd: img.AddRectTo(out, 0, 0, c.w, c.h, 0, 0, o); break;
        case lkSubtract: img.SubtractRectTo(out, 0, 0, c.w, c.h, 0, 0, o); break;
        default: break;
      }
    }
    ASSERT_EQ(0, std::memcmp(fast.CompositeImage.Bits(), out.Bits(), size_t(out.ByteSize()))) << what << ", composite";
  }
}

}  // namespace
