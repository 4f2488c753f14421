#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

#include "engine/Channel.h"

namespace {

// Exact quotient toward zero written without C++'s division of negatives.
int TruncDiv(int num, int den) { return num >= 0 ? num / den : -((-num) / den); }

// A plain model of a channel: pixel (x, y) of a W x H bitmap.
struct TModel {
  int W, H;
  std::vector<uint8_t> px;
  uint8_t& at(int x, int y) { return px[size_t(y) * W + x]; }
};

TModel Snapshot(const TChannel& c) {
  TModel m{c.Width(), c.Height(), std::vector<uint8_t>(size_t(c.Width()) * c.Height())};
  for (int y = 0; y < c.Height(); ++y)
    for (int x = 0; x < c.Width(); ++x) m.at(x, y) = c.Row(y)[x];
  return m;
}

void FillRandom(TChannel& c, std::mt19937& rng) {
  for (int y = 0; y < c.Height(); ++y)
    for (int x = 0; x < c.Width(); ++x) c.Row(y)[x] = uint8_t(rng());
}

}  // namespace

TEST(BlendTables, AlphaDiffIsTruncatedDoubledFractionStoredModulo256) {
  for (int a = 0; a < 256; ++a)
    for (int d = -128; d < 128; ++d) {
      const int want = TruncDiv(2 * a * d, 255);
      ASSERT_EQ(uint8_t(T_AlphaDiff[a][d & 255]), uint8_t(want & 255)) << "alpha " << a << " d " << d;
      if (want >= -128 && want <= 127) {
        ASSERT_EQ(T_AlphaDiff[a][d & 255], want);
      }
    }
  // Entries beyond a signed byte wrap: alpha 254, d 127 is 253, stored as -3.
  EXPECT_EQ(T_AlphaDiff[254][127], -3);
}

TEST(BlendTables, MulAndFadeWhiteAreExactFloorQuotients) {
  for (int a = 0; a < 256; ++a)
    for (int v = 0; v < 256; ++v) {
      const int m = T_Mul[a][v];
      ASSERT_TRUE(a * v - 255 * m >= 0 && a * v - 255 * m < 255) << a << " " << v;
      ASSERT_EQ(m, T_Mul[v][a]);
      const int f = 255 - T_FadeWhite[a][v];
      ASSERT_TRUE(a * (255 - v) - 255 * f >= 0 && a * (255 - v) - 255 * f < 255) << a << " " << v;
    }
  for (int v = 0; v < 256; ++v) {
    EXPECT_EQ(T_Mul[255][v], v);
    EXPECT_EQ(T_FadeWhite[255][v], v);
    EXPECT_EQ(T_FadeWhite[0][v], 255);
  }
}

TEST(ChannelBlendPixel, EveryValueOverEveryByteAtEveryAlpha) {
  TChannel c(256, 256);  // column p holds the old byte, row v is the value blended in
  for (int alpha = 0; alpha < 256; ++alpha) {
    for (int v = 0; v < 256; ++v)
      for (int p = 0; p < 256; ++p) c.Row(v)[p] = uint8_t(p);
    for (int v = 0; v < 256; ++v)
      for (int p = 0; p < 256; ++p) c.BlendPixel(p, v, uint8_t(v), uint8_t(alpha));
    int bad = 0, firstP = 0, firstV = 0;
    for (int v = 0; v < 256; ++v)
      for (int p = 0; p < 256; ++p) {
        const int want = alpha == 255 ? v : p + TruncDiv(2 * alpha * ((v >> 1) - (p >> 1)), 255);
        // The blend never needs clamping: the exact sum already lies in 0..255.
        if (want < 0 || want > 255 || c.Row(v)[p] != want) {
          if (!bad++) firstP = p, firstV = v;
        }
      }
    ASSERT_EQ(bad, 0) << "alpha " << alpha << " first at p " << firstP << " v " << firstV;
  }
}

TEST(ChannelBlendPixel, WorkedExamples) {
  struct {
    uint8_t p, v, alpha, want;
  } cases[] = {
      {200, 201, 254, 200},  // halves equal: no change below 255
      {200, 201, 255, 201},  // alpha 255 is the exact store
      {37, 250, 0, 37},      {0, 255, 128, 127}, {0, 255, 254, 253}, {255, 0, 254, 2},
  };
  TChannel c;
  for (auto& k : cases) {
    c.Fill(k.p);
    c.BlendPixel(1, 2, k.v, k.alpha);
    EXPECT_EQ(c.GetPixel(1, 2), k.want) << int(k.p) << " " << int(k.v) << " " << int(k.alpha);
    EXPECT_EQ(c.GetPixel(2, 2), k.p);
  }
  c.Fill(9);
  for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {4, 0}, {0, 4}, {INT_MIN, INT_MAX}}) c.BlendPixel(x, y, 200, 255);
  EXPECT_EQ(Snapshot(c).px, std::vector<uint8_t>(16, 9));
}

TEST(ChannelStorage, SizesRowTableAndFailures) {
  TChannel c;
  EXPECT_EQ(c.Width(), 4);
  EXPECT_EQ(c.Height(), 4);
  ASSERT_TRUE(c.SetSize(7, 3));
  for (int y = 0; y < 3; ++y) EXPECT_EQ(c.RowOffsets()[y], y * 7);  // rows stored top first
  c.Fill(5);
  const uint8_t* old = c.Bits();
  ASSERT_TRUE(c.SetSize(7, 3));  // the same size still replaces the storage
  EXPECT_NE(c.Bits(), old);
  EXPECT_EQ(Snapshot(c).px, std::vector<uint8_t>(21, 0));  // new storage is zeroed

  ASSERT_TRUE(c.SetSize(-3, 5));  // a negative side is 0
  EXPECT_EQ(c.Width(), 0);
  EXPECT_EQ(c.Height(), 5);
  EXPECT_EQ(c.GetPixel(0, 0), 0);
  c.Fill(1);
  c.FillRect(0, 0, 10, 10, 1);
  c.BlendPixel(0, 0, 1, 255);

  ASSERT_TRUE(c.SetSize(3, 2));
  c.Fill(77);
  // Beyond the storage limit (and where W x H x 1 overflows 32 bits): refused, nothing lost.
  for (auto [w, h] : {std::pair{100000, 100000}, {INT_MAX, INT_MAX}, {0, INT_MAX}, {1, INT_MAX}}) {
    EXPECT_FALSE(c.SetSize(w, h)) << w << " x " << h;
    EXPECT_EQ(c.Width(), 3);
    EXPECT_EQ(c.Height(), 2);
    EXPECT_EQ(Snapshot(c).px, std::vector<uint8_t>(6, 77));
  }
  TChannel refused(INT_MAX, INT_MAX);
  EXPECT_EQ(refused.Width(), 0);
  EXPECT_EQ(refused.GetPixel(3, 3), 0);
}

TEST(ChannelGetPixel, ClampsToTheNearestEdge) {
  TChannel c(64, 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) c.Row(y)[x] = uint8_t(x + 64 * (y & 3));
  EXPECT_EQ(c.GetPixel(-5, 1000), c.Row(63)[0]);
  EXPECT_EQ(c.GetPixel(1000, -5), c.Row(0)[63]);
  EXPECT_EQ(c.GetPixel(INT_MIN, INT_MIN), c.Row(0)[0]);
  EXPECT_EQ(c.GetPixel(10, 2), c.Row(2)[10]);
}

TEST(ChannelFillRect, FillsTheIntersectionWithTheBitmap) {
  std::mt19937 rng(3);
  TChannel c(13, 9);
  struct {
    int x, y, w, h;
  } cases[] = {{2, 3, 4, 2},     {-3, -2, 6, 5},    {10, 7, 100, 100}, {13, 0, 5, 5},   {0, 9, 5, 5},
               {-5, 0, 5, 5},    {0, -5, 5, 5},     {-5, -5, 0, 100},  {3, 3, -2, 4},   {INT_MIN, INT_MIN, INT_MAX, INT_MAX},
               {-1, -1, INT_MAX, INT_MAX}, {INT_MAX, 0, INT_MAX, 1}};
  for (auto& k : cases) {
    FillRandom(c, rng);
    TModel want = Snapshot(c);
    for (int y = 0; y < c.Height(); ++y)
      for (int x = 0; x < c.Width(); ++x)
        if (x >= k.x && int64_t(x) < int64_t(k.x) + k.w && y >= k.y && int64_t(y) < int64_t(k.y) + k.h) want.at(x, y) = 0xAB;
    c.FillRect(k.x, k.y, k.w, k.h, 0xAB);
    EXPECT_EQ(Snapshot(c).px, want.px) << k.x << "," << k.y << " " << k.w << "x" << k.h;
  }
}

TEST(ClipCopyRect, NegativeDestinationMovesTheSourceAndHostileValuesDoNotOverflow) {
  TChannel src(50, 40), dst(30, 20);
  int W = 25, H = 25, SrcX = 0, SrcY = 0, DstX = -10, DstY = -10;
  ASSERT_TRUE(ClipCopyRect(src, dst, W, H, SrcX, SrcY, DstX, DstY));
  EXPECT_EQ(SrcX, 10);
  EXPECT_EQ(SrcY, 10);
  EXPECT_EQ(DstX, 0);
  EXPECT_EQ(DstY, 0);
  EXPECT_EQ(W, 15);
  EXPECT_EQ(H, 15);

  struct {
    int W, H, SrcX, SrcY, DstX, DstY;
    bool ok;
  } cases[] = {
      {INT_MAX, INT_MAX, 0, 0, 0, 0, true},
      {INT_MAX, INT_MAX, INT_MIN + 1, INT_MIN + 1, 0, 0, false},
      {INT_MAX, 5, -5, 0, INT_MAX, 0, false},
      {INT_MAX, 5, INT_MIN, 0, INT_MIN, 0, false},
      {10, 10, -5, -5, INT_MIN, INT_MIN, false},
      {0, 10, 0, 0, 0, 0, false},
      {10, -1, 0, 0, 0, 0, false},
      {5, 5, 50, 0, 0, 0, false},   // source column past the source
      {5, 5, 0, 0, 30, 0, false},   // destination column past the destination
      {5, 5, -5, 0, 0, 0, false},   // source ends at its left edge
  };
  for (auto& k : cases) {
    int w = k.W, h = k.H, sx = k.SrcX, sy = k.SrcY, dx = k.DstX, dy = k.DstY;
    const bool ok = ClipCopyRect(src, dst, w, h, sx, sy, dx, dy);
    EXPECT_EQ(ok, k.ok) << k.W << " " << k.SrcX << " " << k.DstX;
    if (ok) {
      EXPECT_TRUE(sx >= 0 && sy >= 0 && dx >= 0 && dy >= 0 && w > 0 && h > 0);
      EXPECT_TRUE(sx + w <= 50 && sy + h <= 40 && dx + w <= 30 && dy + h <= 20);
    }
  }
}

namespace {

enum TOp { opAdd, opSub, opAnd, opCopy };

uint8_t ModelOp(TOp op, uint8_t d, uint8_t s, int alpha) {
  switch (op) {
    case opAdd: return uint8_t(std::min(255, d + s * alpha / 255));
    case opSub: return uint8_t(std::max(0, d - s * alpha / 255));
    case opAnd: return uint8_t(d & s);
    case opCopy: return s;
  }
  return 0;
}

void RunOp(TOp op, const TChannel& src, TChannel& dst, int sx, int sy, int w, int h, int dx, int dy, uint8_t alpha) {
  switch (op) {
    case opAdd: src.AddRectTo(dst, sx, sy, w, h, dx, dy, alpha); break;
    case opSub: src.SubtractRectFrom(dst, sx, sy, w, h, dx, dy, alpha); break;
    case opAnd: src.AndRectTo(dst, sx, sy, w, h, dx, dy); break;
    case opCopy: src.CopyRectTo(dst, sx, sy, w, h, dx, dy); break;
  }
}

}  // namespace

TEST(ChannelRectOps, MatchThePlainFormulaOverTheClippedRectangle) {
  std::mt19937 rng(11);
  TChannel src(23, 17), dst(19, 29);
  for (int iter = 0; iter < 400; ++iter) {
    const TOp op = TOp(iter % 4);
    const int alpha = iter % 5 == 0 ? 255 : iter % 7 == 0 ? 0 : int(rng() % 256);
    const int sx = int(rng() % 50) - 20, sy = int(rng() % 50) - 20, dx = int(rng() % 50) - 20,
              dy = int(rng() % 50) - 20, w = int(rng() % 40) - 3, h = int(rng() % 40) - 3;
    FillRandom(src, rng);
    FillRandom(dst, rng);
    TModel s = Snapshot(src), want = Snapshot(dst);
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i) {
        const int x = sx + i, y = sy + j, X = dx + i, Y = dy + j;
        if (x < 0 || y < 0 || x >= s.W || y >= s.H || X < 0 || Y < 0 || X >= want.W || Y >= want.H) continue;
        want.at(X, Y) = ModelOp(op, want.at(X, Y), s.at(x, y), alpha);
      }
    RunOp(op, src, dst, sx, sy, w, h, dx, dy, uint8_t(alpha));
    ASSERT_EQ(Snapshot(dst).px, want.px) << "op " << op << " alpha " << alpha << " iter " << iter;
    ASSERT_EQ(Snapshot(src).px, s.px);
  }
}

TEST(ChannelRectOps, WorkedExamples) {
  TChannel a, b;
  a.Fill(200);
  b.Fill(100);
  a.AddRectTo(b, 0, 0, 4, 4, 0, 0, 255);
  EXPECT_EQ(b.GetPixel(3, 3), 255);
  b.Fill(100);
  a.SubtractRectFrom(b, 0, 0, 4, 4, 0, 0, 255);
  EXPECT_EQ(b.GetPixel(0, 0), 0);
  a.Fill(255);
  b.Fill(0);
  a.AddRectTo(b, 0, 0, 4, 4, 0, 0, 128);
  EXPECT_EQ(b.GetPixel(2, 1), 128);
}

// A transfer of a bitmap onto itself reads each source pixel when its destination column is
// reached: rows top to bottom, columns from the last to the first.
TEST(ChannelRectOps, OverlappingTransferOntoItselfFollowsTheWalkOrder) {
  std::mt19937 rng(5);
  TChannel c(12, 10);
  for (int iter = 0; iter < 200; ++iter) {
    const TOp op = TOp(iter % 4);
    const int alpha = iter % 3 == 0 ? 255 : int(rng() % 255);
    const int sx = int(rng() % 8) - 2, sy = int(rng() % 8) - 2, dx = int(rng() % 8) - 2, dy = int(rng() % 8) - 2;
    const int w = int(rng() % 12) + 1, h = int(rng() % 10) + 1;
    FillRandom(c, rng);
    TModel m = Snapshot(c);
    for (int j = 0; j < h; ++j)
      for (int i = w - 1; i >= 0; --i) {
        const int x = sx + i, y = sy + j, X = dx + i, Y = dy + j;
        if (x < 0 || y < 0 || x >= m.W || y >= m.H || X < 0 || Y < 0 || X >= m.W || Y >= m.H) continue;
        m.at(X, Y) = ModelOp(op, m.at(X, Y), m.at(x, y), alpha);
      }
    RunOp(op, c, c, sx, sy, w, h, dx, dy, uint8_t(alpha));
    ASSERT_EQ(Snapshot(c).px, m.px) << "iter " << iter;
  }
  // The visible consequence: copying a row one to the left repeats its last source pixel.
  TChannel r(4, 1);
  for (int x = 0; x < 4; ++x) r.Row(0)[x] = uint8_t(10 + x);
  r.CopyRectTo(r, 1, 0, 3, 1, 0, 0);
  EXPECT_EQ(Snapshot(r).px, (std::vector<uint8_t>{13, 13, 13, 13}));
}

TEST(PointsBounds, BoundsOfPointListsIncludingNoneAndExtremes) {
  int l, t, w, h;
  TPoint one[] = {{5, 7}};
  PointsBounds(one, 1, l, t, w, h);
  EXPECT_EQ((std::vector<int>{l, t, w, h}), (std::vector<int>{3, 5, 4, 4}));
  TPoint three[] = {{5, 7}, {-1, 20}, {9, 0}};
  PointsBounds(three, 3, l, t, w, h);
  EXPECT_EQ((std::vector<int>{l, t, w, h}), (std::vector<int>{-3, -2, 14, 24}));
  PointsBounds(three, 0, l, t, w, h);
  EXPECT_EQ((std::vector<int>{l, t, w, h}), (std::vector<int>{0, 0, 0, 0}));
  PointsBounds(nullptr, 5, l, t, w, h);
  EXPECT_EQ(w, 0);
  TPoint far[] = {{INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}};
  PointsBounds(far, 2, l, t, w, h);
  EXPECT_EQ((std::vector<int>{l, t, w, h}), (std::vector<int>{INT_MIN, INT_MIN, INT_MAX, INT_MAX}));
}
