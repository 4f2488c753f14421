#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "engine/TrueCnvs.h"
#include "platform/core/MessageBox.h"

namespace {

int TruncDiv(int num, int den) { return num >= 0 ? num / den : -((-num) / den); }

uint8_t Byte(uint32_t c, int k) { return uint8_t(c >> (8 * k)); }
uint32_t Px(int a, int r, int g, int b) { return uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b); }

std::vector<uint32_t> Pixels(const TTC& c) {
  std::vector<uint32_t> v;
  for (int y = 0; y < c.Height(); ++y)
    for (int x = 0; x < c.Width(); ++x) v.push_back(c.GetPixel(x, y));
  return v;
}

void FillRandom(TTC& c, std::mt19937& rng) {
  for (int y = 0; y < c.Height(); ++y)
    for (int x = 0; x < c.Width(); ++x) c.SetPixel(x, y, uint32_t(rng()));
}

// The per-byte formulas of the transfers, written from their definitions.
enum TOp { opBlend, opCopy, opAdd, opSub, opMul };

uint8_t BlendRef(int d, int s, int alpha) { return uint8_t(d + TruncDiv(2 * alpha * ((s >> 1) - (d >> 1)), 255)); }

int ModelByte(TOp op, int d, int s, int alpha) {
  switch (op) {
    case opBlend: return alpha == 255 ? s : BlendRef(d, s, alpha);
    case opCopy: return s;
    case opAdd: return std::min(255, d + s * alpha / 255);
    case opSub: return std::max(0, d - s * alpha / 255);
    case opMul: return d * (255 - alpha * (255 - s) / 255) / 255;
  }
  return 0;
}

uint32_t ModelPixel(TOp op, uint32_t D, uint32_t S, int alpha) {
  if (op == opCopy || (op == opBlend && alpha == 255)) return S;
  uint32_t out = D & 0xFF000000u;
  for (int k = 0; k < 3; ++k) out |= uint32_t(ModelByte(op, Byte(D, k), Byte(S, k), alpha)) << (8 * k);
  return out;
}

void RunOp(TOp op, const TTC& src, TTC& dst, int sx, int sy, int w, int h, int dx, int dy, uint8_t alpha) {
  switch (op) {
    case opBlend: src.BlendRectTo(dst, sx, sy, w, h, dx, dy, alpha); break;
    case opCopy: src.CopyRectTo(dst, sx, sy, w, h, dx, dy); break;
    case opAdd: src.AddRectTo(dst, sx, sy, w, h, dx, dy, alpha); break;
    case opSub: src.SubtractRectFrom(dst, sx, sy, w, h, dx, dy, alpha); break;
    case opMul: src.MultiplyRectTo(dst, sx, sy, w, h, dx, dy, alpha); break;
  }
}

// A paint target over a plain canvas, as tests of painting code use it.
struct TCanvasTarget : TPaintTarget {
  TTC Back;
  std::vector<TRect> Changed;
  TCanvasTarget(int w, int h) : Back(w, h) {}
  TPixelView Surface() override { return Back.View(); }
  void SurfaceChanged(const TRect& r) override { Changed.push_back(r); }
};

}  // namespace

TEST(CanvasStorage, SizesAlphaAndFailures) {
  TTC c;
  EXPECT_EQ(c.Width(), 4);
  EXPECT_EQ(c.Height(), 4);
  EXPECT_EQ(Pixels(c), std::vector<uint32_t>(16, 0xFF000000u));  // opaque from the start
  c.Fill(0);
  EXPECT_EQ(c.GetPixel(1, 1), 0u);
  ASSERT_TRUE(c.SetSize(0, -5));
  EXPECT_EQ(c.Width(), 2);
  EXPECT_EQ(c.Height(), 2);
  EXPECT_EQ(Pixels(c), std::vector<uint32_t>(4, 0xFF000000u));
  c.Fill(0x12345678);
  const uint8_t* bits = c.Bits();
  ASSERT_TRUE(c.SetSize(2, 2));  // the current size: nothing happens
  EXPECT_EQ(c.Bits(), bits);
  EXPECT_EQ(Pixels(c), std::vector<uint32_t>(4, 0x12345678u));
  ASSERT_TRUE(c.SetSize(5, 3));
  EXPECT_EQ(c.ByteSize(), 60);
  for (int y = 0; y < 3; ++y) EXPECT_EQ(c.RowOffsets()[y], y * 20);
  c.Fill(0x12345678);
  for (auto [w, h] : {std::pair{20000, 20000}, {INT_MAX, INT_MAX}, {INT_MAX, 1}}) {
    EXPECT_FALSE(c.SetSize(w, h));
    EXPECT_EQ(c.Width(), 5);
    EXPECT_EQ(Pixels(c), std::vector<uint32_t>(15, 0x12345678u));
  }
  TTCDC d(-1, 3);
  EXPECT_EQ(d.Width(), 2);
  EXPECT_EQ(d.Height(), 3);
  // The canvas chain builds its own storage: a canvas is 4 bytes per pixel from the start.
  TTCDC e;
  EXPECT_EQ(e.ByteSize(), 64);
  e.FillRect(0, 0, 4, 4, 0xAABBCCDD);
  EXPECT_EQ(Pixels(e), std::vector<uint32_t>(16, 0xAABBCCDDu));
}

TEST(CanvasLayout, PixelsAreBgraRowsTopFirstAsTheDisplayWrapsThem) {
  TTCDC c(3, 2);
  c.SetPixel(0, 0, 0x80112233);
  c.SetPixel(2, 1, 0x01AABBCC);
  const TPixelView v = c.DC();
  ASSERT_EQ(v.Width, 3);
  ASSERT_EQ(v.Height, 2);
  ASSERT_EQ(v.Stride, 12);
  EXPECT_EQ(v.Bits, c.Bits());
  const uint8_t top[4] = {0x33, 0x22, 0x11, 0x80}, last[4] = {0xCC, 0xBB, 0xAA, 0x01};
  EXPECT_EQ(std::memcmp(v.Bits, top, 4), 0);
  EXPECT_EQ(std::memcmp(v.Bits + 1 * v.Stride + 2 * 4, last, 4), 0);
}

TEST(CanvasPixels, SetGetChannelsFillAndUniformity) {
  TTC c(6, 5);
  c.Fill(0x00102030);
  c.SetPixel(-1, 0, 0xFFFFFFFF);
  c.SetPixel(0, 5, 0xFFFFFFFF);
  c.SetPixel(6, 0, 0xFFFFFFFF);
  EXPECT_EQ(Pixels(c), std::vector<uint32_t>(30, 0x00102030u));
  c.SetPixel(5, 4, 0x11223344);
  EXPECT_EQ(c.GetPixel(100, 100), 0x11223344u);
  EXPECT_EQ(c.GetPixel(INT_MIN, INT_MIN), 0x00102030u);
  int A = 1, R = 2, G = 3, B = 4;
  c.GetPixelChannels(9, 9, A, R, G, B, false);
  EXPECT_EQ((std::vector<int>{A, R, G, B}), (std::vector<int>{0x11, 0x22, 0x33, 0x44}));
  c.GetPixelChannels(0, 0, A, R, G, B, true);
  EXPECT_EQ((std::vector<int>{A, R, G, B}), (std::vector<int>{0x11, 0x32, 0x53, 0x74}));

  EXPECT_FALSE(c.IsUniform(0x00102030));
  c.SetPixel(5, 4, 0xEE102030);  // alpha is ignored
  EXPECT_TRUE(c.IsUniform(0x00102030));
  EXPECT_TRUE(c.IsUniform(0x77102030));
  c.OrAll(0xFF000000);
  EXPECT_EQ(Pixels(c), std::vector<uint32_t>(30, 0xFF102030u));
  c.FillRect(-2, 3, 4, 100, 0x01020304);
  EXPECT_EQ(c.GetPixel(1, 4), 0x01020304u);
  EXPECT_EQ(c.GetPixel(1, 2), 0xFF102030u);
  EXPECT_EQ(c.GetPixel(2, 4), 0xFF102030u);
}

TEST(CanvasBlendPixel, StoresAtFullAlphaAndKeepsAlphaOtherwise) {
  TTC c;
  c.Fill(0xFF000000);
  c.BlendPixel(1, 1, 0x00FFFFFF, 255);
  EXPECT_EQ(c.GetPixel(1, 1), 0x00FFFFFFu);  // the colour's alpha byte 0 is stored too
  c.BlendPixel(2, 1, 0x00FF80C9, 128);
  EXPECT_EQ(c.GetPixel(2, 1), Px(0xFF, BlendRef(0, 0xFF, 128), BlendRef(0, 0x80, 128), BlendRef(0, 0xC9, 128)));
  c.BlendPixel(3, 1, 0x00FFFFFF, 0);
  EXPECT_EQ(c.GetPixel(3, 1), 0xFF000000u);
  c.BlendPixel(4, 1, 0xFFFFFFFF, 255);
  c.BlendPixel(-1, 1, 0xFFFFFFFF, 255);
  EXPECT_EQ(c.GetPixel(0, 1), 0xFF000000u);
}

// Every transfer over every pair of bytes at every alpha: source byte x over destination byte y
// in blue (green and red take other pairings), checked against the formulas.
class CanvasRectOpsExhaustive : public ::testing::TestWithParam<TOp> {};

TEST_P(CanvasRectOpsExhaustive, EveryByteOverEveryByteAtEveryAlpha) {
  const TOp op = GetParam();
  TTC src(256, 256), dst(256, 256);
  std::vector<uint32_t> start(65536), want(65536);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      src.SetPixel(x, y, Px(0x5A, 255 - x, y, x));
      start[size_t(y) * 256 + x] = Px(0xC3, (x + y) & 255, x, y);
    }
  uint8_t table[256][256];  // [d][s] for this alpha, from the formula
  const uint32_t* S = src.Row32(0);
  uint32_t* W = want.data();
  for (int alpha = 0; alpha < 256; ++alpha) {
    for (int d = 0; d < 256; ++d)
      for (int s = 0; s < 256; ++s) table[d][s] = uint8_t(ModelByte(op, d, s, alpha));
    const bool whole = op == opCopy || (op == opBlend && alpha == 255);
    for (size_t i = 0; i < 65536; ++i) {
      const uint32_t D = start[i];
      W[i] = whole ? S[i]
                   : (D & 0xFF000000u) | uint32_t(table[Byte(D, 0)][Byte(S[i], 0)]) |
                         uint32_t(table[Byte(D, 1)][Byte(S[i], 1)]) << 8 | uint32_t(table[Byte(D, 2)][Byte(S[i], 2)]) << 16;
    }
    std::memcpy(dst.Bits(), start.data(), 65536 * 4);
    RunOp(op, src, dst, 0, 0, 256, 256, 0, 0, uint8_t(alpha));
    ASSERT_EQ(std::memcmp(dst.Bits(), W, 65536 * 4), 0) << "op " << op << " alpha " << alpha;
  }
}

INSTANTIATE_TEST_SUITE_P(Ops, CanvasRectOpsExhaustive, ::testing::Values(opBlend, opAdd, opSub, opMul));

TEST(CanvasRectOps, ClippedTransfersMatchTheFormulaOnRandomData) {
  std::mt19937 rng(17);
  TTC src(21, 15), dst(17, 26);
  for (int iter = 0; iter < 300; ++iter) {
    const TOp op = TOp(iter % 5);
    const int alpha = iter % 4 == 0 ? 255 : iter % 9 == 0 ? 0 : int(rng() % 256);
    const int sx = int(rng() % 40) - 15, sy = int(rng() % 40) - 15, dx = int(rng() % 40) - 15,
              dy = int(rng() % 40) - 15, w = int(rng() % 35) - 3, h = int(rng() % 35) - 3;
    FillRandom(src, rng);
    FillRandom(dst, rng);
    std::vector<uint32_t> s = Pixels(src), want = Pixels(dst);
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i) {
        const int x = sx + i, y = sy + j, X = dx + i, Y = dy + j;
        if (x < 0 || y < 0 || x >= 21 || y >= 15 || X < 0 || Y < 0 || X >= 17 || Y >= 26) continue;
        want[size_t(Y) * 17 + X] = ModelPixel(op, want[size_t(Y) * 17 + X], s[size_t(y) * 21 + x], alpha);
      }
    RunOp(op, src, dst, sx, sy, w, h, dx, dy, uint8_t(alpha));
    ASSERT_EQ(Pixels(dst), want) << "op " << op << " iter " << iter;
  }
  // The whole-canvas forms.
  TTC a(3, 3), b(5, 5);
  a.Fill(0x01FFFFFF);
  b.Fill(0xFF000000);
  a.CopyTo(b, 3, -1);
  EXPECT_EQ(b.GetPixel(3, 0), 0x01FFFFFFu);
  EXPECT_EQ(b.GetPixel(4, 1), 0x01FFFFFFu);
  EXPECT_EQ(b.GetPixel(2, 0), 0xFF000000u);
  EXPECT_EQ(b.GetPixel(3, 2), 0xFF000000u);
  a.BlendTo(b, 0, 0, 128);
  EXPECT_EQ(b.GetPixel(0, 0), Px(0xFF, 127, 127, 127));
}

TEST(CanvasRectOps, OverlappingTransferOntoItselfFollowsTheWalkOrder) {
  std::mt19937 rng(23);
  TTC c(9, 8);
  for (int iter = 0; iter < 200; ++iter) {
    const TOp op = TOp(iter % 5);
    const int alpha = iter % 3 == 0 ? 255 : int(rng() % 255) + 1;
    const int sx = int(rng() % 6) - 2, sy = int(rng() % 6) - 2, dx = int(rng() % 6) - 2, dy = int(rng() % 6) - 2;
    const int w = int(rng() % 9) + 1, h = int(rng() % 8) + 1;
    FillRandom(c, rng);
    std::vector<uint32_t> m = Pixels(c);
    for (int j = 0; j < h; ++j)
      for (int i = w - 1; i >= 0; --i) {
        const int x = sx + i, y = sy + j, X = dx + i, Y = dy + j;
        if (x < 0 || y < 0 || x >= 9 || y >= 8 || X < 0 || Y < 0 || X >= 9 || Y >= 8) continue;
        m[size_t(Y) * 9 + X] = ModelPixel(op, m[size_t(Y) * 9 + X], m[size_t(y) * 9 + x], alpha);
      }
    RunOp(op, c, c, sx, sy, w, h, dx, dy, uint8_t(alpha));
    ASSERT_EQ(Pixels(c), m) << "iter " << iter;
  }
}

TEST(CanvasRectOps, MultiplyWorkedExamples) {
  TTC white(2, 2), black(2, 2), d(2, 2);
  white.Fill(0xFFFFFFFF);
  black.Fill(0xFF000000);
  d.Fill(Px(0x40, 200, 100, 7));
  white.MultiplyRectTo(d, 0, 0, 2, 2, 0, 0, 255);
  EXPECT_EQ(d.GetPixel(0, 0), Px(0x40, 200, 100, 7));
  black.MultiplyRectTo(d, 0, 0, 2, 2, 0, 0, 128);
  EXPECT_EQ(d.GetPixel(1, 1), Px(0x40, 200 * 127 / 255, 100 * 127 / 255, 7 * 127 / 255));
  black.MultiplyRectTo(d, 0, 0, 2, 2, 0, 0, 255);
  EXPECT_EQ(d.GetPixel(1, 0), Px(0x40, 0, 0, 0));
}

TEST(CanvasMask, EveryMaskValueOverEveryByteTowardsEveryColourByte) {
  TTC c(256, 256);
  TChannel mask(256, 256);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) mask.Row(y)[x] = uint8_t(y);
  for (int v = 0; v < 86; ++v) {
    const int cb = v, cg = v + 85, cr = v + 170;
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x) c.SetPixel(x, y, Px(0x33, 255 - x, x ^ 0x55, x));
    c.BlendColourThroughMask(mask, 0, 0, 256, 256, 0, 0, Px(0x99, cr, cg, cb));
    int bad = 0;
    for (int m = 0; m < 256; ++m)
      for (int x = 0; x < 256; ++x) {
        const uint32_t want = m == 0 ? Px(0x33, 255 - x, x ^ 0x55, x)
                                     : Px(0x33, BlendRef(255 - x, cr, m), BlendRef(x ^ 0x55, cg, m), BlendRef(x, cb, m));
        bad += c.GetPixel(x, m) != want;
      }
    ASSERT_EQ(bad, 0) << "colour byte " << v;
  }
  // Mask 255 is a blend too: colour byte 201 over an even byte gives 200.
  TTC d(1, 1);
  TChannel full(1, 1);
  full.Fill(255);
  d.Fill(Px(0xFF, 100, 40, 0));
  d.BlendColourThroughMask(full, 0, 0, 1, 1, 0, 0, Px(0, 201, 201, 201));
  EXPECT_EQ(d.GetPixel(0, 0), Px(0xFF, 200, 200, 200));
}

TEST(CanvasMask, ClipsAgainstTheMaskAsWellAsTheCanvas) {
  TTC c(64, 64);
  c.Fill(0xFF000000);
  TChannel small(8, 8);
  small.Fill(255);
  // The rectangle is the canvas's, the mask covers only a corner of it: nothing is read past
  // the mask (the sanitizer build checks) and only the covered pixels change.
  c.BlendColourThroughMask(small, 0, 0, 64, 64, 0, 0, 0xFFFFFFFF);
  c.BlendColourThroughMask(small, -4, 60, 64, 64, 10, 10, 0xFFFFFFFF);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const bool covered = x < 8 && y < 8;
      ASSERT_EQ(c.GetPixel(x, y), covered ? 0xFFFEFEFEu : 0xFF000000u) << x << "," << y;
    }
  // Mask and canvas positions follow each other: mask (3, 5) drives canvas (13, 25).
  TChannel one(8, 8);
  one.Fill(0);
  one.Row(5)[3] = 255;
  c.Fill(0xFF000000);
  c.BlendColourThroughMask(one, 0, 0, 8, 8, 10, 20, 0xFFFFFFFF);
  EXPECT_EQ(c.GetPixel(13, 25), 0xFFFEFEFEu);
  c.SetPixel(13, 25, 0xFF000000);
  EXPECT_TRUE(c.IsUniform(0));
}

TEST(CanvasBlendFillRect, AlphaZeroFullAndBlended) {
  TTCDC c(8, 8);
  c.Fill(0x80000000);
  c.BlendFillRect(0, 0, 8, 8, 0xFFFFFFFF, 0);
  EXPECT_TRUE(c.IsUniform(0));
  EXPECT_EQ(c.GetPixel(0, 0), 0x80000000u);
  c.BlendFillRect(-2, -2, 4, 4, 0x00123456, 255);
  EXPECT_EQ(c.GetPixel(1, 1), 0x00123456u);
  EXPECT_EQ(c.GetPixel(2, 1), 0x80000000u);
  c.BlendFillRect(6, 6, 10, 10, 0xFFFFFFFF, 64);
  EXPECT_EQ(c.GetPixel(7, 7), Px(0x80, BlendRef(0, 255, 64), BlendRef(0, 255, 64), BlendRef(0, 255, 64)));
  EXPECT_EQ(c.GetPixel(5, 7), 0x80000000u);
}

namespace {

// The compositing rule, step by step as written, with floor taken by the library.
uint32_t CompositeRef(uint32_t S, uint32_t D, uint32_t key, int op) {
  if (op == 0 || S == (key | 0xFF000000u)) return D;
  const int sa = int(S >> 24), da = int(D >> 24);
  if (da == 255 && op == 255) return S;
  const int k = op * sa;
  if (sa == 0) return D;
  if (da == 255) {
    uint32_t out = 0xFF000000u;
    for (int c = 0; c < 3; ++c) {
      const int s = Byte(S, c), d = Byte(D, c);
      out |= uint32_t(d + int(std::floor(double(s - d) * k / 65536.0))) << (8 * c);
    }
    return out;
  }
  if (sa == 255 && op == 255) return S;
  if (da == 0) return (S & 0xFFFFFFu) | uint32_t(k >> 8) << 24;
  const int u = (da << 8) + k - ((k * da) >> 8), t = ((65535 - k) * da) >> 8;
  uint32_t out = uint32_t(u >> 8) << 24;
  for (int c = 0; c < 3; ++c) out |= uint32_t((Byte(D, c) * t + Byte(S, c) * k) / u) << (8 * c);
  return out;
}

}  // namespace

TEST(CanvasComposite, WorkedExamples) {
  TTCDC s(1, 1);
  TTC d(1, 1);
  s.Fill(Px(255, 200, 50, 100));
  d.Fill(Px(255, 100, 100, 100));
  s.CompositeTo(d, 0, 0, 0x0000FF, 128);
  EXPECT_EQ(d.GetPixel(0, 0), Px(255, 149, 75, 100));
  // Opacity 255 onto an opaque destination copies whatever the source alpha.
  s.Fill(Px(3, 1, 2, 3));
  s.CompositeTo(d, 0, 0, 0x0000FF, 255);
  EXPECT_EQ(d.GetPixel(0, 0), Px(3, 1, 2, 3));
  // Onto a half-transparent destination it blends.
  d.Fill(Px(128, 0, 0, 0));
  s.Fill(Px(128, 255, 255, 255));
  s.CompositeTo(d, 0, 0, 0x0000FF, 255);
  EXPECT_EQ(d.GetPixel(0, 0), CompositeRef(Px(128, 255, 255, 255), Px(128, 0, 0, 0), 0xFF, 255));
  EXPECT_NE(d.GetPixel(0, 0), Px(128, 255, 255, 255));
  // The key colour (alpha forced to 255) is skipped; the same colour with another alpha is not.
  d.Fill(Px(255, 9, 9, 9));
  s.Fill(0xFF0000FF);
  s.CompositeTo(d, 0, 0, 0x000000FF, 255);
  EXPECT_EQ(d.GetPixel(0, 0), Px(255, 9, 9, 9));
  s.Fill(0x7F0000FF);
  s.CompositeTo(d, 0, 0, 0x000000FF, 255);
  EXPECT_EQ(d.GetPixel(0, 0), 0x7F0000FFu);
  // Opacity 0 does nothing.
  s.Fill(0xFFFFFFFF);
  s.CompositeTo(d, 0, 0, 0, 0);
  EXPECT_EQ(d.GetPixel(0, 0), 0x7F0000FFu);
}

TEST(CanvasComposite, EveryAlphaPairAtChosenOpacitiesMatchesTheRule) {
  // Source alpha x and destination alpha y over a 256 x 256 canvas, colours varied per pixel.
  TTCDC s(256, 256);
  TTC d(256, 256);
  std::mt19937 rng(29);
  std::vector<uint32_t> S(65536), D(65536);
  for (int op : {1, 64, 127, 128, 200, 254, 255}) {
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x) {
        const size_t i = size_t(y) * 256 + x;
        S[i] = Px(x, int(rng() & 255), int(rng() & 255), int(rng() & 255));
        D[i] = Px(y, int(rng() & 255), int(rng() & 255), int(rng() & 255));
        if ((x & 15) == 0) S[i] = Px(x, 255, 255, 255);  // the extremes of the colour bytes
        if ((y & 15) == 0) D[i] = Px(y, 0, 0, 0);
      }
    std::memcpy(s.Bits(), S.data(), 65536 * 4);
    std::memcpy(d.Bits(), D.data(), 65536 * 4);
    s.CompositeTo(d, 0, 0, 0x00000001, uint8_t(op));
    int bad = 0;
    for (size_t i = 0; i < 65536; ++i) bad += d.Row32(int(i >> 8))[i & 255] != CompositeRef(S[i], D[i], 1, op);
    ASSERT_EQ(bad, 0) << "opacity " << op;
  }
}

TEST(CanvasComposite, ClipsTheWholeSourceAtItsPosition) {
  TTCDC s(4, 4);
  TTC d(6, 6);
  s.Fill(0xFF112233);
  d.Fill(0xFF000000);
  s.CompositeTo(d, -2, 4, 0, 255);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(d.GetPixel(x, y), (x < 2 && y >= 4) ? 0xFF112233u : 0xFF000000u);
  s.CompositeTo(d, INT_MIN, INT_MAX, 0, 255);
  s.CompositeTo(d, 6, 0, 0, 255);
}

TEST(CanvasDisplay, DrawToWindowCopiesStretchesAndReportsTheChange) {
  TTCDC c(4, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) c.SetPixel(x, y, Px(0, y, x, 7));
  TCanvasTarget win(6, 5);
  win.Back.Fill(0xFF606060);
  c.DrawToWindow(&win, 3, -1, false);  // partly outside: clipped
  ASSERT_EQ(win.Changed.size(), 1u);
  EXPECT_EQ(win.Changed[0], Rect(3, 0, 6, 2));
  EXPECT_EQ(win.Back.GetPixel(3, 0), Px(0, 1, 0, 7));
  EXPECT_EQ(win.Back.GetPixel(5, 1), Px(0, 2, 2, 7));
  EXPECT_EQ(win.Back.GetPixel(2, 0), 0xFF606060u);
  EXPECT_EQ(win.Back.GetPixel(3, 2), 0xFF606060u);

  // Stretch onto a target of another size: the canvas covers the whole client area.
  TCanvasTarget big(8, 6);
  c.DrawToPaintBox(&big, 5, 5, true);
  EXPECT_EQ(big.Changed.back(), Rect(0, 0, 8, 6));
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(big.Back.GetPixel(x, y), c.GetPixel(x / 2, y / 2));
  // Stretch onto a target of the canvas's size is a plain copy at the origin.
  TCanvasTarget same(4, 3);
  c.DrawToWindow(&same, 9, 9, true);
  EXPECT_EQ(Pixels(same.Back), Pixels(c));
  c.DrawToWindow(nullptr, 0, 0, true);
}

TEST(CanvasDisplay, StretchRepeatsAndDropsPixelsAndClips) {
  TTC src(3, 1);
  for (int x = 0; x < 3; ++x) src.SetPixel(x, 0, uint32_t(x + 1));
  TTC dst(7, 1);
  dst.Fill(0);
  StretchPixels(dst.View(), 1, 0, 5, 1, src.View(), 0, 0, 3, 1);  // 150% and a bit: columns i * 3 div 5
  EXPECT_EQ(Pixels(dst), (std::vector<uint32_t>{0, 1, 1, 2, 2, 3, 0}));
  StretchPixels(dst.View(), -2, 0, 4, 1, src.View(), 1, 0, 2, 1);
  EXPECT_EQ(Pixels(dst), (std::vector<uint32_t>{3, 3, 1, 2, 2, 3, 0}));
  TTC shrunk(2, 1);
  StretchPixels(shrunk.View(), 0, 0, 2, 1, dst.View(), 0, 0, 7, 1);
  EXPECT_EQ(Pixels(shrunk), (std::vector<uint32_t>{3, 2}));
  // Source rectangles partly outside the source leave those pixels alone.
  dst.Fill(9);
  StretchPixels(dst.View(), 0, 0, 7, 1, src.View(), -2, 0, 7, 1);
  EXPECT_EQ(Pixels(dst), (std::vector<uint32_t>{9, 9, 1, 2, 3, 9, 9}));
  StretchPixels(dst.View(), 0, 0, -7, 1, src.View(), 0, 0, 3, 1);
  StretchPixels(dst.View(), INT_MIN, INT_MIN, INT_MAX, INT_MAX, src.View(), 0, 0, 3, 1);
}

TEST(CanvasDisplay, CopyFromDCSizesCopiesAndMakesOpaque) {
  // A foreign picture with padded rows, as a toolkit image may have.
  std::vector<uint32_t> foreign(5 * 3, 0xDEADBEEF);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) foreign[size_t(y) * 5 + x] = Px(0, x, y, 1);
  TPixelView dc{reinterpret_cast<uint8_t*>(foreign.data()), 20, 4, 3};
  TTCDC c;
  ASSERT_TRUE(c.CopyFromDC(dc, 4, 3));
  EXPECT_EQ(c.Width(), 4);
  EXPECT_EQ(c.Height(), 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(c.GetPixel(x, y), Px(255, x, y, 1));
  // Asking for more than the picture holds leaves the rest opaque black.
  ASSERT_TRUE(c.CopyFromDC(dc, 6, 4));
  EXPECT_EQ(c.GetPixel(5, 3), 0xFF000000u);
  EXPECT_EQ(c.GetPixel(3, 2), Px(255, 3, 2, 1));
  EXPECT_FALSE(c.CopyFromDC(dc, INT_MAX, INT_MAX));
  EXPECT_EQ(c.Width(), 6);
}

TEST(CanvasDisplay, CopyPixelsWithinOneViewKeepsOverlappingRows) {
  TTC c(3, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 3; ++x) c.SetPixel(x, y, uint32_t(10 * y + x));
  CopyPixels(c.View(), 1, 1, 3, 4, c.View(), 0, 0);
  EXPECT_EQ(Pixels(c), (std::vector<uint32_t>{0, 1, 2, 10, 0, 1, 20, 10, 11, 30, 20, 21}));
}

TEST(CanvasDisplay, DCOfACanvasWithoutPixelsTellsTheUser) {
  plat::TMessageRecorder rec;
  TTCDC ok;
  EXPECT_FALSE(ok.DC().IsEmpty());
  EXPECT_TRUE(rec.Messages.empty());
  TTCDC refused(INT_MAX, INT_MAX);  // storage refused: the canvas has no pixels
  EXPECT_TRUE(refused.DC().IsEmpty());
  ASSERT_EQ(rec.Messages.size(), 1u);
  EXPECT_EQ(rec.Messages[0].Text, "表示用画像ではありません(TrueCanvasError)");
}
