// The polygon fill against a plain copy of it kept here as the reference: every mask byte and
// every tile must agree on random, degenerate and far-flung outlines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "engine/Block.h"

namespace {

// ---- the plain fill: one row (column) at a time over every edge ---------------------------

// One edge seen by one pass: u is the axis the pass steps along (y for rows, x for columns),
// v the axis of the spans. The larger u end is lowered by 0.01 so that a shared vertex is
// counted once and a local extreme not at all; ends are ordered by u.
struct TPassEdge {
  float U1, V1, U2, V2;  // U1 < U2 after ordering
  ext_t DV, DU;          // V2 - V1 and U2 - U1, as every crossing computes them
  bool Flat;             // |dx| >= |dy| of the lowered edge
  float Run;             // |dv / du|
  int64_t First, Last;   // the rows (columns) whose sub-lines may meet the edge
  int32_t Index;
};

// A crossing as one sortable number: the position's bits ordered as the floats are, then the
// edge index, so that equal positions keep the order of the edges.
inline uint64_t CrossingKey(float pos, int32_t index) {
  uint32_t b;
  pos += 0.0f;  // -0 sorts as +0
  std::memcpy(&b, &pos, 4);
  b = (b & 0x80000000u) ? ~b : (b | 0x80000000u);
  return (uint64_t(b) << 32) | uint32_t(index);
}
inline float CrossingPos(uint64_t key) {
  uint32_t b = uint32_t(key >> 32);
  b = (b & 0x80000000u) ? (b & 0x7FFFFFFFu) : ~b;
  float f;
  std::memcpy(&f, &b, 4);
  return f;
}

// Builds the pass edges; rows = true for the row pass (u = y).
std::vector<TPassEdge> PassEdges(const std::vector<TPoint>& p, bool rows) {
  std::vector<TPassEdge> edges;
  for (size_t i = 0; i + 1 < p.size(); ++i) {
    float x1 = float(p[i].X), y1 = float(p[i].Y), x2 = float(p[i + 1].X), y2 = float(p[i + 1].Y);
    float u1 = rows ? y1 : x1, u2 = rows ? y2 : x2, v1 = rows ? x1 : y1, v2 = rows ? x2 : y2;
    if (u1 == u2) continue;  // parallel to the sub-lines: no crossing
    if (u1 > u2)
      u1 = float(static_cast<ext_t>(u1) - 0.01L);
    else
      u2 = float(static_cast<ext_t>(u2) - 0.01L);
    float ex1 = rows ? v1 : u1, ey1 = rows ? u1 : v1, ex2 = rows ? v2 : u2, ey2 = rows ? u2 : v2;
    TPassEdge e;
    e.Flat = std::fabs(static_cast<ext_t>(ex2) - ex1) >= std::fabs(static_cast<ext_t>(ey2) - ey1);
    e.Run = float(std::fabs((static_cast<ext_t>(v2) - v1) / (static_cast<ext_t>(u2) - u1)));
    if (u1 > u2) std::swap(u1, u2), std::swap(v1, v2);
    e.U1 = u1, e.V1 = v1, e.U2 = u2, e.V2 = v2;
    if (u1 == u2) continue;  // the lowering met float resolution: treat as parallel
    e.DV = static_cast<ext_t>(v2) - v1;
    e.DU = static_cast<ext_t>(u2) - u1;
    // Sub-lines of row n lie in [n, n + 0.75]; one row of margin either side.
    e.First = int64_t(std::floor(static_cast<ext_t>(u1))) - 1;
    e.Last = int64_t(std::floor(static_cast<ext_t>(u2))) + 1;
    e.Index = int32_t(i);
    edges.push_back(e);
  }
  return edges;
}

// The mean crossing of the edge with the sub-lines n + 0, 0.25, 0.5, 0.75; false when none meets it.
bool MeanCrossing(const TPassEdge& e, int64_t n, float& pos) {
  float sum = 0;
  int count = 0;
  for (int k = 0; k < 4; ++k) {
    ext_t s = static_cast<ext_t>(n) + 0.25L * k;
    if (s < e.U1 || s > e.U2) continue;
    float c = float(static_cast<ext_t>(e.V1) + (s - e.U1) * e.DV / e.DU);
    sum = float(static_cast<ext_t>(sum) + c);
    ++count;
  }
  if (count == 0) return false;
  pos = float(static_cast<ext_t>(sum) / count);
  return true;
}

// One pass over lines n = from .. to; span(n, a, b) draws a pair. Pulled-in ends follow the
// edge's flat flag (row pass) or its negation (column pass).
template <class Span>
void PolygonPass(std::vector<TPassEdge> edges, int64_t from, int64_t to, float limit,
                 bool pullWhenFlat, Span span) {
  // Flag and run by edge index, compact so that the pairs read them from cache.
  size_t count = 0;
  for (const TPassEdge& e : edges) count = std::max(count, size_t(e.Index) + 1);
  std::vector<float> runOf(count);
  std::vector<uint8_t> flatOf(count);
  for (const TPassEdge& e : edges) runOf[size_t(e.Index)] = e.Run, flatOf[size_t(e.Index)] = e.Flat;
  std::stable_sort(edges.begin(), edges.end(), [](const TPassEdge& a, const TPassEdge& b) { return a.First < b.First; });
  std::vector<const TPassEdge*> active;
  std::vector<uint64_t> cross;
  size_t next = 0;
  for (int64_t n = from; n <= to; ++n) {
    while (next < edges.size() && edges[next].First <= n) active.push_back(&edges[next++]);
    std::erase_if(active, [n](const TPassEdge* e) { return e->Last < n; });
    cross.clear();
    for (const TPassEdge* e : active) {
      float pos;
      if (MeanCrossing(*e, n, pos)) cross.push_back(CrossingKey(pos, e->Index));
    }
    // Ascending by position; equal positions keep the order of the edges (a stable sort).
    std::sort(cross.begin(), cross.end());
    for (size_t k = 0; k + 1 < cross.size(); k += 2) {
      const size_t l = uint32_t(cross[k]), r = uint32_t(cross[k + 1]);
      float a = std::max(CrossingPos(cross[k]), 0.0f), b = std::min(CrossingPos(cross[k + 1]), limit);
      if (bool(flatOf[l]) == pullWhenFlat) a = float(static_cast<ext_t>(a) + static_cast<ext_t>(runOf[l]) / 2);
      if (bool(flatOf[r]) == pullWhenFlat) b = float(static_cast<ext_t>(b) - static_cast<ext_t>(runOf[r]) / 2);
      if (b > a) span(int32_t(n), a, b);
    }
  }
}
// More than this many crossings on one line of a pass refuse the whole polygon.
constexpr int32_t kMaxLineCrossings = 1000;

// True when some line from..to of the pass has more crossings than the fill keeps.
bool PlainTooManyCrossings(const std::vector<TPassEdge>& edges, int64_t from, int64_t to) {
  for (int64_t n = from; n <= to; ++n) {
    int32_t count = 0;
    float pos;
    for (const TPassEdge& e : edges) count += MeanCrossing(e, n, pos);
    if (count > kMaxLineCrossings) return true;
  }
  return false;
}

void PlainFillPolygon(TBlockChannel& m, const TPoint* Points, int32_t N) {
  const int32_t FWidth = m.Width(), FHeight = m.Height();
  if (!Points || N <= 0) return;
  std::vector<TPoint> p(Points, Points + N);
  p.push_back(p.front());  // close the outline
  p.erase(std::unique(p.begin(), p.end()), p.end());
  if (p.size() < 4) return;  // fewer than three corners
  int64_t xmin = 10000, xmax = 0, ymin = 10000, ymax = 0;
  for (const TPoint& q : p) {
    xmin = std::min<int64_t>(xmin, q.X), xmax = std::max<int64_t>(xmax, q.X);
    ymin = std::min<int64_t>(ymin, q.Y), ymax = std::max<int64_t>(ymax, q.Y);
  }
  xmin = std::max<int64_t>(xmin, 0), ymin = std::max<int64_t>(ymin, 0);
  xmax = std::min<int64_t>(xmax, FWidth), ymax = std::min<int64_t>(ymax, FHeight);
  if (PlainTooManyCrossings(PassEdges(p, true), ymin, ymax) || PlainTooManyCrossings(PassEdges(p, false), xmin, xmax))
    return;
  PolygonPass(PassEdges(p, true), ymin, ymax, float(FWidth), true,
              [&m](int32_t y, float a, float b) { m.ChannelHSpan(y, 255, a, b, 1.0f, true); });
  PolygonPass(PassEdges(p, false), xmin, xmax, float(FHeight), false,
              [&m](int32_t x, float a, float b) { m.ChannelVSpan(x, 255, a, b, 1.0f, true); });
}

// ---- comparison ----------------------------------------------------------------------------

// Every tile of the grid: present in both or in neither, and byte for byte the same.
::testing::AssertionResult SameMasks(const TBlockChannel& a, const TBlockChannel& b) {
  for (int32_t ty = 0; ty < TBlock::kGridSide; ++ty)
    for (int32_t tx = 0; tx < TBlock::kGridSide; ++tx) {
      const TChannel* p = a.GetTile(tx, ty);
      const TChannel* q = b.GetTile(tx, ty);
      if (!p != !q)
        return ::testing::AssertionFailure() << "tile (" << tx << ", " << ty << ") exists in only one mask";
      if (!p) continue;
      for (int32_t y = 0; y < TBlock::kTileSide; ++y)
        if (std::memcmp(p->Row(y), q->Row(y), TBlock::kTileSide) != 0) {
          int32_t x = 0;
          while (p->Row(y)[x] == q->Row(y)[x]) ++x;
          return ::testing::AssertionFailure()
                 << "pixel (" << tx * 64 + x << ", " << ty * 64 + y << "): " << int(p->Row(y)[x]) << " vs "
                 << int(q->Row(y)[x]);
        }
    }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult FillsAlike(int32_t w, int32_t h, const std::vector<TPoint>& pts) {
  TBlockChannel fast, plain;
  fast.SetSize(w, h);
  plain.SetSize(w, h);
  fast.FillPolygon(pts);
  PlainFillPolygon(plain, pts.data(), int32_t(pts.size()));
  auto r = SameMasks(fast, plain);
  if (!r) r << " (" << pts.size() << " points over " << w << " x " << h << ")";
  return r;
}

// ---- outlines ------------------------------------------------------------------------------

struct TOutlines {
  std::mt19937 Rng;
  explicit TOutlines(uint32_t seed) : Rng(seed) {}
  int32_t In(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(Rng); }

  // Scattered corners, some far beyond the mask.
  std::vector<TPoint> Random(int32_t n, int32_t w, int32_t h, int32_t margin) {
    std::vector<TPoint> p;
    for (int32_t i = 0; i < n; ++i) p.push_back({In(-margin, w + margin), In(-margin, h + margin)});
    return p;
  }
  // Corners on the mask's border lines and corners only, with repeats.
  std::vector<TPoint> OnBorder(int32_t n, int32_t w, int32_t h) {
    const int32_t xs[] = {0, w, 0, w, w / 2}, ys[] = {0, h, h, 0, h / 2};
    std::vector<TPoint> p;
    for (int32_t i = 0; i < n; ++i) p.push_back({xs[In(0, 4)], ys[In(0, 4)]});
    return p;
  }
  // Steps of one kind: horizontal, vertical and diagonal runs, repeated and collinear corners.
  std::vector<TPoint> Steps(int32_t n, int32_t w, int32_t h) {
    std::vector<TPoint> p{{In(0, w), In(0, h)}};
    for (int32_t i = 1; i < n; ++i) {
      TPoint q = p.back();
      const int32_t d = In(0, 12), k = In(1, 40);
      switch (In(0, 5)) {
        case 0: q.X += d - 6; break;
        case 1: q.Y += d - 6; break;
        case 2: q.X += k, q.Y += k; break;
        case 3: q.X -= k, q.Y += k; break;
        case 4: break;  // a repeated corner
        default: q.X += 2 * (d - 6), q.Y += d - 6; break;  // collinear with a stride
      }
      q.X = std::clamp(q.X, -20, w + 20), q.Y = std::clamp(q.Y, -20, h + 20);
      p.push_back(q);
    }
    return p;
  }
  // A self-crossing star {n/k} around (cx, cy).
  std::vector<TPoint> Star(int32_t n, int32_t k, double cx, double cy, double r) {
    std::vector<TPoint> p;
    for (int32_t i = 0; i < n; ++i) {
      const double a = 6.283185307179586 * double((i * k) % n) / n;
      p.push_back({int32_t(std::lround(cx + r * std::cos(a))), int32_t(std::lround(cy + r * std::sin(a)))});
    }
    return p;
  }
};

TEST(PolygonFill, RandomOutlinesMatchThePlainFill) {
  TOutlines o(20240611);
  for (int round = 0; round < 60; ++round) {
    const int32_t w = o.In(1, 300), h = o.In(1, 300);
    const int32_t n = round % 10 == 0 ? o.In(1000, 3000) : o.In(0, 400);
    const int32_t margin = round % 3 == 0 ? 0 : round % 3 == 1 ? 50 : 100000;
    ASSERT_TRUE(FillsAlike(w, h, o.Random(n, w, h, margin))) << "round " << round;
  }
}

TEST(PolygonFill, DegenerateOutlinesMatchThePlainFill) {
  TOutlines o(77);
  for (int round = 0; round < 40; ++round) {
    const int32_t w = o.In(1, 200), h = o.In(1, 200);
    ASSERT_TRUE(FillsAlike(w, h, o.OnBorder(o.In(0, 60), w, h))) << "border, round " << round;
    ASSERT_TRUE(FillsAlike(w, h, o.Steps(o.In(0, 600), w, h))) << "steps, round " << round;
  }
  // Stars cross themselves at many equal positions; odd and even point counts, partly outside.
  for (int32_t n : {5, 7, 8, 12, 51, 360})
    for (int32_t k : {2, 3, 5})
      ASSERT_TRUE(FillsAlike(150, 130, o.Star(n, k, 70.5, 60, 90))) << "star {" << n << "/" << k << "}";
  // A fan of edges through one point, and a comb of edges between two lines.
  std::vector<TPoint> fan, comb;
  for (int32_t i = 0; i < 400; ++i) {
    fan.push_back({100, 100});
    fan.push_back({i % 2 ? 0 : 200, i});
    comb.push_back({i % 2 ? 30 : 31, (i * 37) % 200});
  }
  EXPECT_TRUE(FillsAlike(200, 200, fan));
  EXPECT_TRUE(FillsAlike(200, 200, comb));
}

TEST(PolygonFill, FarOutlinesMatchThePlainFill) {
  constexpr int32_t kMax = 2147483647, kMin = -2147483647 - 1;
  const std::vector<std::vector<TPoint>> cases = {
      {{kMin, kMin}, {kMax, kMin}, {kMax, kMax}, {kMin, kMax}},            // covers everything
      {{kMin, 0}, {kMax, 5}, {3, kMax}},                                   // huge slopes
      {{-5, -5}, {kMax, 50}, {60, 60}, {50, kMax}, {-1, 10}},              // reaches in from afar
      {{10, 10}, {10, 10}, {50, 10}, {50, 10}},                            // two corners: nothing
      {{16777217, 3}, {16777218, 90}, {-16777217, 40}, {-16777216, 41}},  // beyond float resolution
      {{0, 0}, {128, 128}, {0, 128}, {128, 0}},                            // bow tie across a tile edge
  };
  for (size_t i = 0; i < cases.size(); ++i) EXPECT_TRUE(FillsAlike(129, 70, cases[i])) << "case " << i;
  TOutlines o(5);
  for (int round = 0; round < 10; ++round)
    ASSERT_TRUE(FillsAlike(100, 100, o.Random(o.In(3, 50), 100, 100, kMax / 2))) << "round " << round;
}

// A comb of 2 x teeth edges between the rows top and bottom: every row between them has
// 2 x teeth crossings, every column a few. swap exchanges the axes.
std::vector<TPoint> Comb(int32_t teeth, int32_t top, int32_t bottom, bool swap) {
  std::vector<TPoint> p;
  for (int32_t i = 0; i < teeth; ++i) {
    p.push_back({2 * i, top});
    p.push_back({2 * i + 1, bottom});
  }
  if (swap)
    for (TPoint& q : p) std::swap(q.X, q.Y);
  return p;
}

int32_t MaskSum(const TBlockChannel& m) {
  int32_t sum = 0;
  for (int32_t y = 0; y < m.Height(); ++y)
    for (int32_t x = 0; x < m.Width(); ++x) sum += m.ChannelGetPixel(x, y);
  return sum;
}

// The fill keeps 1000 crossings a line: a polygon with more on any row or column it fills draws
// nothing at all, whichever pass meets them; crowded lines outside the mask do not count.
TEST(PolygonFill, MoreCrossingsOnALineThanKeptRefuseThePolygon) {
  struct Case {
    const char* name;
    std::vector<TPoint> points;
    int32_t w, h;
    bool drawn;
  } cases[] = {
      {"1000 crossings a row", Comb(500, 10, 90, false), 1100, 100, true},
      {"1002 crossings a row", Comb(501, 10, 90, false), 1100, 100, false},
      {"1000 crossings a column", Comb(500, 10, 90, true), 100, 1100, true},
      {"1002 crossings a column", Comb(501, 10, 90, true), 100, 1100, false},
      // The crowded rows lie below the mask; the rows and columns it fills have few crossings.
      {"crowded rows below the mask", [] {
         std::vector<TPoint> p = Comb(600, 200, 300, false);
         p.push_back({1199, 50});
         p.push_back({0, 50});
         return p;
       }(), 1300, 150, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBlockChannel m;
    m.SetSize(c.w, c.h);
    m.FillPolygon(c.points);
    EXPECT_EQ(MaskSum(m) > 0, c.drawn);
    if (!c.drawn) {
      EXPECT_EQ(m.TileCount(), 0);
    }
    EXPECT_TRUE(FillsAlike(c.w, c.h, c.points));
  }
}

// Sizes around the tile edges and the largest paper, where the bounds and the clamping meet.
TEST(PolygonFill, MaskSizesMatchThePlainFill) {
  TOutlines o(9);
  for (int32_t side : {1, 2, 63, 64, 65, 128, 700}) {
    ASSERT_TRUE(FillsAlike(side, 65, o.Random(200, side, 65, 10))) << "width " << side;
    ASSERT_TRUE(FillsAlike(65, side, o.Random(200, 65, side, 10))) << "height " << side;
  }
  ASSERT_TRUE(FillsAlike(kMaxPaperSide, 3, o.Random(300, kMaxPaperSide, 3, 2)));
  ASSERT_TRUE(FillsAlike(0, 0, o.Random(30, 10, 10, 5)));
}

}  // namespace
