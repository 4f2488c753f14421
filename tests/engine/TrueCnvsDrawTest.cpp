#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "engine/TrueCnvs.h"

namespace {

using TCoverage = std::map<std::pair<int, int>, int>;  // (x, y) -> blue byte left by a white blend

// Draws on opaque black and returns every pixel that changed with its blue byte.
template <class Draw>
TCoverage Drawn(int w, int h, Draw draw) {
  TTCDC c(w, h);
  c.Fill(0xFF000000);
  draw(c);
  TCoverage out;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (c.GetPixel(x, y) != 0xFF000000u) out[{x, y}] = int(c.GetPixel(x, y) & 255);
  return out;
}

// The blue byte that white blended onto black at alpha a leaves.
int OnBlack(int a) { return a == 255 ? 255 : 2 * a * 127 / 255; }

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

}  // namespace

TEST(CanvasLine, WorkedExamplesAndGoldenWalks) {
  // A short horizontal line inside one pixel column draws that pixel.
  EXPECT_EQ(Drawn(20, 8, [](TTCDC& c) { c.DrawLine(0xFFFFFFFF, false, 10.7f, 3, 10.2f, 3); }),
            (TCoverage{{{10, 3}, 255}}));
  // (0, 0) to (10, 5): 11 pixels, the minor step is 5/11, so the last lies in row 4.
  const TCoverage shallow = Drawn(20, 8, [](TTCDC& c) { c.DrawLine(0xFFFFFFFF, false, 0, 0, 10, 5); });
  ASSERT_EQ(shallow.size(), 11u);
  const int rows[11] = {0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4};
  for (int x = 0; x <= 10; ++x) EXPECT_EQ(shallow.count({x, rows[x]}), 1u) << x;
  // The same line given the other way round.
  EXPECT_EQ(Drawn(20, 8, [](TTCDC& c) { c.DrawLine(0xFFFFFFFF, false, 10, 5, 0, 0); }), shallow);
  // A steep line walks along y and never reaches its far minor end.
  TCoverage steep;
  const int cols[9] = {2, 2, 2, 2, 2, 3, 3, 3, 3};
  for (int y = 1; y <= 9; ++y) steep[{cols[y - 1], y}] = 255;
  EXPECT_EQ(Drawn(12, 12, [](TTCDC& c) { c.DrawLine(0xFFFFFFFF, false, 2, 1, 4, 9); }), steep);
  // Equal magnitudes walk along y.
  EXPECT_EQ(Drawn(12, 12, [](TTCDC& c) { c.DrawLine(0xFFFFFFFF, false, 1, 1, 3, 3); }),
            (TCoverage{{{1, 1}, 255}, {{1, 2}, 255}, {{2, 3}, 255}}));
}

TEST(CanvasLine, AntialiasingSplitsEachStepBetweenTwoPixels) {
  // Minor position half a pixel: 255 - 128 for the pixel, 128 for the one below.
  TCoverage want;
  for (int x = 0; x <= 5; ++x) {
    want[{x, 2}] = OnBlack(127);
    want[{x, 3}] = OnBlack(128);
  }
  EXPECT_EQ(Drawn(10, 6, [](TTCDC& c) { c.DrawLine(0xFFFFFFFF, true, 0, 2.5f, 5, 2.5f); }), want);
  // Along y the neighbour is the pixel to the right.
  TCoverage vert;
  for (int y = 1; y <= 3; ++y) {
    vert[{4, y}] = OnBlack(255 - 64);
    vert[{5, y}] = OnBlack(64);
  }
  EXPECT_EQ(Drawn(10, 6, [](TTCDC& c) { c.DrawLine(0xFFFFFFFF, true, 4.25f, 1, 4.25f, 3); }), vert);
  // Lines far outside the canvas, or with absurd ends, draw nothing and finish at once.
  EXPECT_TRUE(Drawn(10, 6, [](TTCDC& c) {
                c.DrawLine(0xFFFFFFFF, true, -3e9f, -50, 3e9f, -50);
                c.DrawLine(0xFFFFFFFF, false, 20, -1e9f, 20, 1e9f);
                c.DrawLine(0xFFFFFFFF, true, NAN, 1e30f, -INFINITY, 100);
              }).size() <= 1u);
}

TEST(CanvasLine, FadedLineStepsItsStrengthFromTheStartingEnd) {
  // Five pixels, strength 0 .. 1 in steps of 1/5: the far end is never reached.
  TCoverage want;
  const int alphas[5] = {0, 51, 102, 153, 204};
  for (int x = 1; x < 5; ++x) want[{x, 1}] = OnBlack(alphas[x]);
  EXPECT_EQ(Drawn(8, 4, [](TTCDC& c) { c.DrawLineFade(0xFFFFFFFF, false, 0, 1, 0, 4, 1, 1); }), want);
  // Given the other way round, the strength still belongs to its end.
  EXPECT_EQ(Drawn(8, 4, [](TTCDC& c) { c.DrawLineFade(0xFFFFFFFF, false, 4, 1, 1, 0, 1, 0); }), want);
  // Antialiased: C x (255 - f) and C x f, at full strength the plain antialiased line.
  EXPECT_EQ(Drawn(8, 6, [](TTCDC& c) { c.DrawLineFade(0xFFFFFFFF, true, 0, 2.5f, 1, 5, 2.5f, 1); }),
            Drawn(8, 6, [](TTCDC& c) { c.DrawLine(0xFFFFFFFF, true, 0, 2.5f, 5, 2.5f); }));
  // Strengths beyond 0..1 are held to the byte range.
  EXPECT_EQ(Drawn(8, 4, [](TTCDC& c) { c.DrawLineFade(0xFFFFFFFF, false, 0, 1, 3, 3, 1, 3); }),
            (TCoverage{{{0, 1}, 255}, {{1, 1}, 255}, {{2, 1}, 255}, {{3, 1}, 255}}));
}

TEST(CanvasRectOutline, FourHardLines) {
  TCoverage want;
  for (int x = 1; x <= 4; ++x) want[{x, 1}] = want[{x, 3}] = 255;
  want[{1, 2}] = want[{4, 2}] = 255;
  EXPECT_EQ(Drawn(8, 8, [](TTCDC& c) { c.DrawRect(1, 1, 4, 3, 0xFFFFFFFF); }), want);
}

TEST(CanvasDisc, HardDiscOfRadiusOneAndItsEdgeSamples) {
  EXPECT_EQ(Drawn(20, 20, [](TTCDC& c) { c.DrawDisc(0x00FFFFFF, false, 10, 10, 1, 1); }),
            (TCoverage{{{9, 9}, OnBlack(127)}, {{10, 9}, OnBlack(175)}, {{9, 10}, OnBlack(175)}, {{10, 10}, OnBlack(239)}}));
  // The colour's alpha is forced to 255; the destination alpha is kept.
  TTCDC c(20, 20);
  c.Fill(0x10000000);
  c.DrawDisc(0x00FFFFFF, false, 10, 10, 4, 1);
  EXPECT_EQ(c.GetPixel(10, 10), 0xFFFFFFFFu);  // a full pixel at opacity 1 is a store
  EXPECT_EQ(c.GetPixel(9, 9) >> 24, 0xFFu);
  EXPECT_EQ(c.GetPixel(6, 10) >> 24, 0x10u);  // an edge pixel is blended
}

TEST(CanvasDisc, SoftnessFromRadiusThreeOnAndCornerRule) {
  const auto hard = Drawn(20, 20, [](TTCDC& c) { c.DrawDisc(0xFFFFFFFF, false, 10, 10, 2.9f, 1); });
  EXPECT_EQ(Drawn(20, 20, [](TTCDC& c) { c.DrawDisc(0xFFFFFFFF, true, 10, 10, 2.9f, 1); }), hard);
  const auto soft = Drawn(20, 20, [](TTCDC& c) { c.DrawDisc(0xFFFFFFFF, true, 10, 10, 3, 1); });
  // Fade is measured at each pixel's top-left corner: 255 at the centre, 227 one pixel out,
  // and the edge pixel (12, 10) is fully sampled but faded to 142.
  EXPECT_EQ(soft.at({10, 10}), OnBlack(254));
  EXPECT_EQ(soft.at({11, 10}), OnBlack(226));
  EXPECT_EQ(soft.at({12, 10}), OnBlack(141));
  EXPECT_NE(soft, Drawn(20, 20, [](TTCDC& c) { c.DrawDisc(0xFFFFFFFF, false, 10, 10, 3, 1); }));
  // A circle that passes between a pixel's corners without containing any corner leaves the
  // pixel untouched even though one of its samples lies inside: here that is the whole disc.
  EXPECT_TRUE(Drawn(20, 20, [](TTCDC& c) { c.DrawDisc(0xFFFFFFFF, false, 10.5f, 9.75f, 0.5f, 1); }).empty());
  // Opacity scales the alpha; huge or hostile discs only visit the canvas.
  EXPECT_EQ(Drawn(20, 20, [](TTCDC& c) { c.DrawDisc(0xFFFFFFFF, false, 10, 10, 4, 0.5f); }).at({10, 10}), OnBlack(127));
  EXPECT_EQ(Drawn(20, 20, [](TTCDC& c) { c.DrawDisc(0xFFFFFFFF, true, 10, 10, 1e9f, 1); }).size(), 400u);
  EXPECT_TRUE(Drawn(20, 20, [](TTCDC& c) {
                c.DrawDisc(0xFFFFFFFF, true, NAN, 10, 5, 1);
                c.DrawDisc(0xFFFFFFFF, true, 10, 10, -5, 1);
                c.DrawDisc(0xFFFFFFFF, true, -1e30f, 1e30f, 1e20f, 1);
              }).size() <= 400u);
}

namespace {

// Plain integer references of the resamplers.
void ShrinkRef(const TTC& s, TTC& d) {
  const int sw = s.Width(), sh = s.Height(), dw = d.Width(), dh = d.Height();
  const int fx = sw * 1024 / dw, fy = sh * 1024 / dh, bw = sw / dw, bh = sh / dh;
  for (int y = 0; y < dh; ++y)
    for (int x = 0; x < dw; ++x) {
      unsigned sum[4] = {0, 0, 0, 0};
      for (int j = 0; j <= bh; ++j)
        for (int i = 0; i <= bw; ++i) {
          const uint32_t c = s.GetPixel(((fx * x) >> 10) + i, ((fy * y) >> 10) + j);
          for (int k = 0; k < 4; ++k) sum[k] += (c >> (8 * k)) & 255;
        }
      uint32_t out = 0;
      for (int k = 0; k < 4; ++k) out |= (sum[k] / unsigned((bw + 1) * (bh + 1))) << (8 * k);
      d.SetPixel(x, y, out);
    }
}

void Shrink4x4Ref(const TTC& s, TTC& d) {
  const int sw = s.Width(), sh = s.Height(), dw = d.Width(), dh = d.Height();
  const int fx = sw * 1024 / dw, fy = sh * 1024 / dh, sx = sw * 256 / dw, sy = sh * 256 / dh;
  for (int y = 0; y < dh; ++y)
    for (int x = 0; x < dw; ++x) {
      unsigned sum[4] = {0, 0, 0, 0};
      for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
          const uint32_t c = s.GetPixel((fx * x + sx * i) >> 10, (fy * y + sy * j) >> 10);
          for (int k = 0; k < 4; ++k) sum[k] += (c >> (8 * k)) & 255;
        }
      uint32_t out = 0;
      for (int k = 0; k < 4; ++k) out |= (sum[k] / 16) << (8 * k);
      d.SetPixel(x, y, out);
    }
}

}  // namespace

TEST(CanvasResample, BothResamplersMatchAPlainIntegerReference) {
  std::mt19937 rng(31);
  const int sides[] = {1, 2, 3, 5, 7, 8, 13, 31, 64, 100, 150};
  for (int sw : sides)
    for (int dw : sides) {
      const int sh = sides[(sw + dw) % 11], dh = sides[(sw * 3 + dw) % 11];
      TTC src(sw, sh), got(dw, dh), want(dw, dh);
      FillRandom(src, rng);
      src.ShrinkTo(got);
      ShrinkRef(src, want);
      ASSERT_EQ(Pixels(got), Pixels(want)) << "box " << sw << "x" << sh << " -> " << dw << "x" << dh;
      src.ShrinkTo4x4(got);
      Shrink4x4Ref(src, want);
      ASSERT_EQ(Pixels(got), Pixels(want)) << "4x4 " << sw << "x" << sh << " -> " << dw << "x" << dh;
    }
  // Sizes whose ratio is not exact in single precision still give the integer ratios.
  for (auto [sw, dw] : {std::pair{6399, 4801}, {4801, 6399}, {6399, 3}, {5000, 4999}, {1000, 997}}) {
    TTC src(sw, 1), got(dw, 1), want(dw, 1);
    FillRandom(src, rng);
    src.ShrinkTo4x4(got);
    Shrink4x4Ref(src, want);
    ASSERT_EQ(Pixels(got), Pixels(want)) << sw << " -> " << dw;
  }
}

TEST(CanvasResample, BoxAveragesThreeByThreeFromEightToFourAndRepeatsWhenEnlarging) {
  TTC src(8, 8), dst(4, 4);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) src.SetPixel(x, y, uint32_t(x * 10 + y));
  src.ShrinkTo(dst);
  // Destination (1, 1) averages source columns 2..4 and rows 2..4: 297 / 9.
  EXPECT_EQ(dst.GetPixel(1, 1), 33u);
  // At the right edge the samples clamp: columns 6, 7, 7 over rows 0..2 give 609 / 9.
  EXPECT_EQ(dst.GetPixel(3, 0), 67u);
  TTC small(2, 2), big(4, 4);
  small.SetPixel(0, 0, 1);
  small.SetPixel(1, 0, 2);
  small.SetPixel(0, 1, 3);
  small.SetPixel(1, 1, 4);
  small.ShrinkTo(big);
  EXPECT_EQ(Pixels(big), (std::vector<uint32_t>{1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4, 3, 3, 4, 4}));
}

TEST(CanvasResample, ShrinkRectWritesOnlyItsInclusiveRectangle) {
  std::mt19937 rng(37);
  TTCDC src(50, 40);
  FillRandom(src, rng);
  TTC whole(20, 16), part(20, 16);
  src.ShrinkTo(whole);
  part.Fill(0x01020304);
  src.ShrinkRectTo(part, 3, 5, 4, 2);  // pixels 3..7 by 5..7
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 20; ++x) {
      const bool in = x >= 3 && x <= 7 && y >= 5 && y <= 7;
      ASSERT_EQ(part.GetPixel(x, y), in ? whole.GetPixel(x, y) : 0x01020304u) << x << "," << y;
    }
  src.ShrinkRectTo(part, -5, -5, 100, 100);
  EXPECT_EQ(Pixels(part), Pixels(whole));
  src.ShrinkRectTo(part, INT_MIN, INT_MIN, INT_MAX, INT_MAX);
  src.ShrinkRectTo(part, 100, 100, INT_MAX, INT_MAX);
}

TEST(CanvasTurn, QuarterTurnsGoldenAndRoundTrips) {
  TTC src(3, 2);
  for (int i = 0; i < 6; ++i) src.SetPixel(i % 3, i / 3, uint32_t(i + 1));  // 1 2 3 / 4 5 6
  TTC right(2, 3), left(2, 3);
  src.RotateRightTo(right);
  EXPECT_EQ(Pixels(right), (std::vector<uint32_t>{4, 1, 5, 2, 6, 3}));
  src.RotateLeftTo(left);
  EXPECT_EQ(Pixels(left), (std::vector<uint32_t>{3, 6, 2, 5, 1, 4}));

  std::mt19937 rng(41);
  TTC a(37, 23), b(23, 37), back(37, 23);
  FillRandom(a, rng);
  const std::vector<uint32_t> original = Pixels(a);
  for (int turn = 0; turn < 2; ++turn) {
    a.RotateRightTo(b);
    b.RotateRightTo(a);
  }
  EXPECT_EQ(Pixels(a), original);  // four right turns
  a.RotateRightTo(b);
  b.RotateLeftTo(back);
  EXPECT_EQ(Pixels(back), original);
}

TEST(CanvasRotateScale, UnturnedCopyIsCentredAndOutsideIsGrey) {
  TTCDC src(5, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) src.SetPixel(x, y, uint32_t(0xFF000000 | (y << 8) | x));
  TTC dst(6, 6);
  src.RotateScaleTo(dst, 2, 1, 0, 1);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) {
      const int sx = 2 + x - 3, sy = 1 + y - 3;
      const bool in = sx >= 0 && sy >= 0 && sx < 5 && sy < 4;
      ASSERT_EQ(dst.GetPixel(x, y), in ? src.GetPixel(sx, sy) : 0x00606060u) << x << "," << y;
    }
  // Scale 2 samples every second source pixel (a reduced view).
  TTC half(4, 4);
  src.RotateScaleTo(half, 2, 2, 0, 2);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const int sx = 2 + 2 * (x - 2), sy = 2 + 2 * (y - 2);
      const bool in = sx >= 0 && sy >= 0 && sx < 5 && sy < 4;
      ASSERT_EQ(half.GetPixel(x, y), in ? src.GetPixel(sx, sy) : 0x00606060u) << x << "," << y;
    }
}

TEST(CanvasRotateScale, ARectangleAnywhereGivesExactlyTheWholeRendersPixels) {
  std::mt19937 rng(44);
  TTCDC src(90, 70);
  FillRandom(src, rng);
  // Rectangles that start inside a row, at odd columns, and reach past the edges.
  const struct {
    int L, T, W, H;
  } rects[] = {{1, 0, 5, 3}, {7, 3, 11, 9}, {33, 17, 20, 21}, {58, 40, 30, 30}, {-9, 12, 25, 4}, {40, -3, 3, 50}};
  TTC whole(71, 53), part(71, 53);
  for (float angle : {0.0f, 0.3f, 1.0f, 2.5f, -0.7f, 3.1415927f}) {
    for (float scale : {0.125f, 0.5f, 1.0f, 1.0f / 1.5f, 2.0f, 4.0f}) {
      src.RotateScaleTo(whole, 45, 35, angle, scale);
      for (const auto& r : rects) {
        SCOPED_TRACE(testing::Message() << "angle " << angle << " scale " << scale << " rect " << r.L << "," << r.T);
        part.Fill(0x12345678);
        src.RotateScaleRectTo(part, 45, 35, r.L, r.T, r.W, r.H, angle, scale);
        for (int y = 0; y < 53; ++y)
          for (int x = 0; x < 71; ++x) {
            const bool in = x >= r.L && x < r.L + r.W && y >= r.T && y < r.T + r.H;
            ASSERT_EQ(part.GetPixel(x, y), in ? whole.GetPixel(x, y) : 0x12345678u) << x << "," << y;
          }
      }
    }
  }
}

TEST(CanvasRotateScale, RectangleRendersTheSameMappingAndNothingElse) {
  std::mt19937 rng(43);
  TTCDC src(64, 48);
  FillRandom(src, rng);
  TTC whole(40, 30), part(40, 30);
  for (float angle : {0.0f, 0.5235988f, 3.1415927f}) {
    src.RotateScaleTo(whole, 30, 20, angle, 1.5f);
    part.Fill(0x12345678);
    // Rows 7..18 from column 0, so each row starts where the whole render starts it.
    src.RotateScaleRectTo(part, 30, 20, 0, 7, 40, 12, angle, 1.5f);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x)
        ASSERT_EQ(part.GetPixel(x, y), (y >= 7 && y < 19) ? whole.GetPixel(x, y) : 0x12345678u)
            << angle << " " << x << "," << y;
  }
  // Unturned, any rectangle gives the whole render's pixels; outside the destination nothing.
  src.RotateScaleTo(whole, 30, 20, 0, 1);
  part.Fill(0x12345678);
  src.RotateScaleRectTo(part, 30, 20, -5, 25, 20, 100, 0, 1);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(part.GetPixel(x, y), (x < 15 && y >= 25) ? whole.GetPixel(x, y) : 0x12345678u);
  src.RotateScaleRectTo(part, 30, 20, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 1, 1e30f);
  src.RotateScaleTo(part, INT_MAX, INT_MIN, NAN, NAN);
}
