// Brush strokes: a 200-point stroke of each kind at widths 2, 16 and 100 (the pen also at 8, 32
// and 128), drawn into a layer's working copy as the paper draws it (pen coverage and new-blur
// strength turned into pixels over each segment's rectangle). Reports dabs per second and covered pixels per second.
// Beside it, when available, libmypaint draws the same number of dabs of the same radii along
// the same path on its fixed tiled surface, so the two read as a ratio.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <numbers>
#include <vector>

#include "engine/Block.h"
#include "engine/Stroke.h"

#ifdef VELL_HAVE_MYPAINT
extern "C" {
#include <libmypaint/mypaint-fixed-tiled-surface.h>
#include <libmypaint/mypaint-surface.h>
}
#endif

namespace {

constexpr int32_t kSide = 2048;
constexpr int kPoints = 200;

struct TPt {
  float X, Y;
};

// A back-and-forth path of 200 points, spaced as the stroke input keeps them for the width.
std::vector<TPt> PathFor(float width) {
  const float step = std::max(3.0f, width / 4 + 3);
  const float gap = std::max(8.0f, width * 2.5f);
  std::vector<TPt> pts;
  float x = 200, y = 200, dir = 1;
  for (int i = 0; i < kPoints; ++i) {
    pts.push_back({x, y + 6 * std::sin(x / 40)});
    x += dir * step;
    if (x > kSide - 200 || x < 200) {
      dir = -dir;
      x += dir * step;
      y += gap;
    }
  }
  return pts;
}

// A layer with its working copy and coverage mask, as the paper holds them during a stroke.
struct TTarget {
  TBlockImage Layer, Flow;
  TBlockChannel Mask;
  TTarget() {
    Layer.SetSize(kSide, kSide);
    Flow.SetSize(kSide, kSide);
    Mask.SetSize(kSide, kSide);
    // A painted layer, so that blurs and the watercolour have colours to work with.
    for (int32_t y = 0; y < kSide; y += 32) Layer.FillRect(0, y, kSide, 16, 0xFF4070B0);
    Layer.CloneTo(Flow);
    Mask.ChannelFill(0);
  }
};

void Refresh(TTarget& t, const TStroke& s) {
  int32_t l, tp, r, b;
  s.GetSegmentRect(l, tp, r, b);
  l = std::max(l, 0);
  tp = std::max(tp, 0);
  r = std::min(r, kSide);
  b = std::min(b, kSide);
  if (r <= l || b <= tp) return;
  if (s.Kind == bkPen) {
    t.Layer.CopyRectToBlock(t.Flow, l, tp, r - l, b - tp, l, tp);
    t.Flow.BlendColourThroughMask(t.Mask, l, tp, r - l, b - tp, s.Color);
  } else if (s.Kind == bkBlur2) {
    t.Layer.MaskedSmooth(t.Flow, t.Mask, l, tp, r - l, b - tp);
  }
}

void SetUpBrush(TStroke& s, uint8_t kind, float width) {
  s.SetKind(kind);
  s.SetColor(0x802010);
  s.SetGamma(1);
  s.SetWidth(width);
  s.SetEffect(kind == bkBlur ? 5 : 65);
  s.SetEnv(40);
  s.SetSpeed(30);
  s.SetPressureSize(kind == bkPen || kind == bkWatercolor);
  s.SetPressureAlpha(true);
  s.SetSmoothEdge(false);
}

// One segment of the stroke as drawn: its ends and the stepping positions that drew dabs.
struct TSegment {
  TPt A, B;
  int32_t Dabs;
};

int32_t Spacing(const TStroke& s) {
  switch (s.Kind) {
    case bkPen: return static_cast<int32_t>(s.WIDTH / 8) + 1;
    case bkWatercolor: return static_cast<int32_t>(s.WIDTH / 12) + 1;
    default: return static_cast<int32_t>(s.WIDTH / 4) + 1;
  }
}

int32_t DabsBetween(int32_t from, int32_t to, int32_t spacing) {
  auto upTo = [&](int32_t n) { return (n + spacing - 1) / spacing; };  // multiples below n
  return upTo(to) - upTo(from);
}

// Draws the whole stroke at full pressure (so every dab has the radius WIDTH).
std::vector<TSegment> DrawStroke(TTarget& t, TStroke& s, const std::vector<TPt>& path) {
  std::vector<TSegment> segs;
  s.BeginStroke(t.Layer, 0, path[0].X, path[0].Y, 1);
  const int32_t spacing = Spacing(s);
  for (size_t i = 1; i < path.size(); ++i) {
    s.AddPoint(path[i].X, path[i].Y, 1);
    const TPt a{s.HistoryX(2), s.HistoryY(2)}, b{s.HistoryX(1), s.HistoryY(1)};
    const int32_t before = s.StepCount;
    s.DrawLastSegment(t.Flow, t.Mask, t.Layer);
    Refresh(t, s);
    segs.push_back({a, b, DabsBetween(before, s.StepCount, spacing)});
  }
  return segs;
}

int64_t TotalDabs(const std::vector<TSegment>& segs) {
  int64_t n = 0;
  for (const auto& g : segs) n += g.Dabs;
  return n;
}

void Report(benchmark::State& state, int64_t dabsPerStroke, float radius) {
  const double perDab = std::numbers::pi * radius * radius;
  state.counters["dabs"] = benchmark::Counter(static_cast<double>(dabsPerStroke));
  state.counters["dabs/s"] =
      benchmark::Counter(static_cast<double>(dabsPerStroke) * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["px/s"] = benchmark::Counter(static_cast<double>(dabsPerStroke) * perDab * state.iterations(),
                                              benchmark::Counter::kIsRate);
}

void BM_Stroke(benchmark::State& state, uint8_t kind, float width) {
  const std::vector<TPt> path = PathFor(width);
  int64_t dabs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto t = std::make_unique<TTarget>();
    TStroke s;
    SetUpBrush(s, kind, width);
    state.ResumeTiming();
    const auto segs = DrawStroke(*t, s, path);
    benchmark::DoNotOptimize(t->Flow.GetPixel(200, 200));
    dabs = TotalDabs(segs);
    // Freeing the layers is not part of the stroke (libmypaint's surface is freed untimed too).
    state.PauseTiming();
    t.reset();
    state.ResumeTiming();
  }
  Report(state, dabs, width);
}

const char* const kKindNames[] = {"pen", "watercolour", "old_blur", "eraser", "new_blur"};

#ifdef VELL_HAVE_MYPAINT
// The same dabs (count per segment, radius) spread evenly along each segment of the pen's path,
// opaque and hard, into libmypaint's tiled surface, one atomic operation per segment.
void BM_MyPaintDabs(benchmark::State& state, float width) {
  const std::vector<TPt> path = PathFor(width);
  std::vector<TSegment> segs;
  {
    TTarget t;
    TStroke s;
    SetUpBrush(s, bkPen, width);
    segs = DrawStroke(t, s, path);
  }
  for (auto _ : state) {
    state.PauseTiming();
    MyPaintFixedTiledSurface* surface = mypaint_fixed_tiled_surface_new(kSide, kSide);
    MyPaintSurface* m = mypaint_fixed_tiled_surface_interface(surface);
    state.ResumeTiming();
    for (const auto& g : segs) {
      mypaint_surface_begin_atomic(m);
      for (int32_t k = 0; k < g.Dabs; ++k) {
        const float f = g.Dabs == 1 ? 0 : static_cast<float>(k) / static_cast<float>(g.Dabs - 1);
        mypaint_surface_draw_dab(m, g.A.X + (g.B.X - g.A.X) * f + 0.5f, g.A.Y + (g.B.Y - g.A.Y) * f + 0.5f, width,
                                 0.5f, 0.125f, 0.0625f, 1.0f, 1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f);
      }
      MyPaintRectangle roi;
      mypaint_surface_end_atomic(m, &roi);
    }
    state.PauseTiming();
    mypaint_surface_unref(m);
    state.ResumeTiming();
  }
  Report(state, TotalDabs(segs), width);
}
#endif

// The pen, measured against libmypaint, at the radii of its yardstick as well.
const std::vector<int> kPenWidths = {2, 8, 16, 32, 100, 128};
const std::vector<int> kWidths = {2, 16, 100};

void Register() {
  for (int kind = 0; kind < kBrushKinds; ++kind)
    for (int width : kind == bkPen ? kPenWidths : kWidths) {
      const auto k = static_cast<uint8_t>(kind);
      const auto w = static_cast<float>(width);
      benchmark::RegisterBenchmark((std::string("Stroke/") + kKindNames[kind] + "/width:" + std::to_string(width)).c_str(),
                                   [k, w](benchmark::State& st) { BM_Stroke(st, k, w); })
          ->Unit(benchmark::kMillisecond);
#ifdef VELL_HAVE_MYPAINT
      // The yardstick for the pen: the same dabs in libmypaint, right after the pen's case.
      if (kind == bkPen)
        benchmark::RegisterBenchmark(("MyPaint/pen_dabs/width:" + std::to_string(width)).c_str(),
                                     [w](benchmark::State& st) { BM_MyPaintDabs(st, w); })
            ->Unit(benchmark::kMillisecond);
#endif
    }
}

// The console report, followed by the pen's dab rate as a ratio of libmypaint's per width.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs) {
      auto it = r.counters.find("dabs/s");
      if (it != r.counters.end()) rates_[r.benchmark_name()] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (int width : kPenWidths) {
      const std::string w = "/width:" + std::to_string(width);
      auto pen = rates_.find("Stroke/pen" + w), mp = rates_.find("MyPaint/pen_dabs" + w);
      if (pen == rates_.end() || mp == rates_.end() || mp->second <= 0) continue;
      std::printf("pen / libmypaint dab rate at width %3d: %.2f\n", width, pen->second / mp->second);
    }
  }

 private:
  std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char** argv) {
  Register();
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
