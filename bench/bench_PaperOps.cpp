// Whole-paper operations and polygon events on large papers.
// - Canvas size (about the centre and from the top left corner), quarter turn and resolution
//   of a 5000 x 5000 paper of 8 drawn layers, each beside its anchor: the same change done the
//   plain way (every layer drawn onto a canvas, the canvas transformed pixel by pixel and
//   loaded back), in the same run.
// - The same changes as the painter shows them: followed by the composite of the changed paper
//   (the plain way: the paper colour, then each layer over the whole paper in turn).
// - A fill polygon event of 65535 zig-zag corners played on 1000 x 1000 and 5000 x 5000, beside
//   its anchor: the event of an ordinary 20-corner outline on the same paper.
// The report ends with each case's time as a ratio of its anchor's, wall and processor time
// (all threads; the CPU column of the whole-paper cases is the process's time too).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/Block.h"
#include "engine/EventPacket.h"
#include "engine/Layer.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"

namespace {

constexpr int32_t kSide = 5000;
constexpr int32_t kLayers = 8;

// Every layer covered, most tiles different from one another, so that every tile exists.
std::unique_ptr<TPaper> DrawnPaper() {
  auto p = std::make_unique<TPaper>();
  p->Init("bench", kSide, kSide);
  for (int32_t i = 0; i < kLayers; ++i) {
    if (i > 0) p->Layers->AddLayer(static_cast<TLayerKind>(i % 3));
    p->Layers->FillRect(i, 0, 0, kSide, kSide, 0x102030u * static_cast<uint32_t>(i + 1) & 0xFFFFFF);
    TBlockImage& img = *p->Layers->LayerImage(i);
    for (int32_t y = i; y < kSide; y += 61)
      for (int32_t x = 0; x < kSide; ++x) img.SetPixel(x, y, 0xFF000000u | static_cast<uint32_t>(x * 7 + y + i));
  }
  return p;
}

enum TChange { chCanvasSize, chRotate, chResolution, chCanvasCorner };
const char* const kChangeNames[] = {"canvas_size", "rotate_right", "resolution", "canvas_corner"};

// The change the plain way: per layer a canvas of the paper, transformed pixel by pixel.
void PlainChange(TPaper& p, TChange change, int32_t w, int32_t h, int32_t dx, int32_t dy) {
  const int32_t W = p.Width(), H = p.Height();
  TTC T(W, H), T2(w, h);
  p.ResizeComposite(w, h);
  p.Layers->SetSize(w, h);
  for (int32_t i = 0; i <= p.Layers->LastIndex(); ++i) {
    TLayer& layer = *p.Layers->Layers(i);
    TBlockImage& image = layer.Image();
    T.Fill(image.BackColour());
    image.DrawTo(T, 0, 0);
    image.SetSize(w, h);
    if (change == chCanvasSize || change == chCanvasCorner) {
      const int32_t x0 = std::max(0, -dx), y0 = std::max(0, -dy);
      const int32_t x1 = std::min(W, w - dx), y1 = std::min(H, h - dy);
      if (x1 > x0 && y1 > y0) image.PasteFromTTC(T, x0, y0, x1 - x0, y1 - y0, x0 + dx, y0 + dy);
    } else {
      if (change == chRotate)
        T.RotateRightTo(T2);
      else
        T.ShrinkTo4x4(T2);
      image.LoadFromTTC(T2);
    }
    layer.Compact();
    layer.ResizeThumbnail();
    image.StretchTo(layer.Thumbnail());
  }
  p.Layers->RefreshFlow(p.Layers->ActiveIndex());
}

// The composite the plain way: the whole paper for each layer in turn.
void PlainComposite(TPaper& p) {
  const int32_t W = p.Width(), H = p.Height();
  p.CompositeImage.Fill(p.Layers->PaperColor() | 0xFF000000u);
  for (int32_t i = 0; i <= p.Layers->LastIndex(); ++i) {
    if (!p.Layers->LayerVisible(i)) continue;
    const TBlockImage& img = *p.Layers->LayerImage(i);
    const uint8_t o = p.Layers->LayerOpacity(i);
    switch (p.Layers->LayerKind(i)) {
      case lkMultiply: img.MultiplyRectTo(p.CompositeImage, 0, 0, W, H, 0, 0, o); break;
      case lkAdd: img.AddRectTo(p.CompositeImage, 0, 0, W, H, 0, 0, o); break;
      case lkSubtract: img.SubtractRectTo(p.CompositeImage, 0, 0, W, H, 0, 0, o); break;
      default: break;
    }
  }
}

void BM_WholePaper(benchmark::State& state, TChange change, bool plain, bool shown) {
  for (auto _ : state) {
    state.PauseTiming();
    auto p = DrawnPaper();
    state.ResumeTiming();
    switch (change) {
      case chCanvasSize:
        if (plain)
          PlainChange(*p, change, 5200, 4900, 100, -50);
        else
          p->ChangeCanvasSize(5200, 4900, 4);
        break;
      case chRotate:
        if (plain)
          PlainChange(*p, change, kSide, kSide, 0, 0);
        else
          p->Rotate90(1);
        break;
      case chResolution:
        if (plain)
          PlainChange(*p, change, 2500, 2500, 0, 0);
        else
          p->ChangeResolution(2500, 2500);
        break;
      case chCanvasCorner:
        if (plain)
          PlainChange(*p, change, 5200, 4900, 0, 0);
        else
          p->ChangeCanvasSize(5200, 4900, 0);
        break;
    }
    if (shown) {
      if (plain)
        PlainComposite(*p);
      else
        p->Composite();
      benchmark::DoNotOptimize(p->CompositeImage.GetPixel(10, 10));
    }
    benchmark::DoNotOptimize(p->Layers->LayerImage(0)->GetPixel(10, 10));
    state.PauseTiming();
    p.reset();
    state.ResumeTiming();
  }
  state.SetLabel(std::to_string(kLayers) + " layers of " + std::to_string(kSide) + "^2");
}

// 65535 corners alternating between the top and the bottom row: every row crosses every edge.
std::vector<TPoint> ZigZag(int32_t side) {
  std::vector<TPoint> pts;
  for (int32_t i = 0; i < 65535; ++i) pts.push_back({int32_t(int64_t(i) * side / 65535), i % 2 ? side - 1 : 0});
  return pts;
}

std::vector<TPoint> Star(int32_t side) {
  std::vector<TPoint> pts;
  for (int i = 0; i < 20; ++i) {
    const double a = 6.2831853 * i / 20, r = side * (i % 2 ? 0.2 : 0.45);
    pts.push_back({int32_t(side / 2 + r * std::cos(a)), int32_t(side / 2 + r * std::sin(a))});
  }
  return pts;
}

// One fill polygon event as a member's stream brings it, played on the paper.
void BM_PolygonEvent(benchmark::State& state, bool zigzag) {
  const int32_t side = static_cast<int32_t>(state.range(0));
  const std::vector<TPoint> pts = zigzag ? ZigZag(side) : Star(side);
  TPaper p;
  p.Init("bench", side, side);
  TStroke brush;
  for (auto _ : state) {
    state.PauseTiming();
    TEventPacket e;
    e.WriteFillPolygon(0, pts.data(), 0x80, 0x40, 0x20, static_cast<int32_t>(pts.size()));
    state.ResumeTiming();
    p.PlayEvent(e, brush, nullptr);
  }
  state.SetLabel(std::to_string(pts.size()) + " corners over " + std::to_string(side) + "^2");
}

void Register() {
  for (bool shown : {false, true})
    for (TChange c : {chCanvasSize, chRotate, chResolution, chCanvasCorner}) {
      const std::string name = std::string(shown ? "WholePaperShown/" : "WholePaper/") + kChangeNames[c];
      benchmark::RegisterBenchmark(name.c_str(), [c, shown](benchmark::State& s) { BM_WholePaper(s, c, false, shown); })
          ->Unit(benchmark::kMillisecond)
          ->MeasureProcessCPUTime()
          ->Iterations(2);
      benchmark::RegisterBenchmark(("Plain" + name).c_str(),
                                   [c, shown](benchmark::State& s) { BM_WholePaper(s, c, true, shown); })
          ->Unit(benchmark::kMillisecond)
          ->MeasureProcessCPUTime()
          ->Iterations(2);
    }
  for (bool z : {true, false})
    benchmark::RegisterBenchmark(z ? "PolygonEvent/zigzag" : "PolygonEvent/star",
                                 [z](benchmark::State& s) { BM_PolygonEvent(s, z); })
        ->Arg(1000)
        ->Arg(kSide)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
}

// The console report, then each case as a ratio of its anchor's time.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs) {
      const std::string& args = r.run_name.args;
      const std::string key = r.run_name.function_name + (args.empty() ? "" : "/" + args);
      times_[key] = r.GetAdjustedRealTime();
      cpu_[key] = r.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const char* kind : {"WholePaper/", "WholePaperShown/"})
      for (const char* c : kChangeNames) Ratio(std::string(kind) + c, std::string("Plain") + kind + c);
    for (const char* side : {"/1000", "/5000"})
      Ratio(std::string("PolygonEvent/zigzag") + side, std::string("PolygonEvent/star") + side);
  }

 private:
  void Ratio(const std::string& name, const std::string& anchor) {
    auto a = times_.find(name), b = times_.find(anchor);
    if (a == times_.end() || b == times_.end() || b->second <= 0) return;
    std::printf("%-28s %9.1f ms = %.3f x %s\n", name.c_str(), a->second, a->second / b->second, anchor.c_str());
    // The time of all the process's threads: on one core (taskset) what the work costs there,
    // whatever else the machine runs.
    auto c = cpu_.find(name), d = cpu_.find(anchor);
    if (c != cpu_.end() && d != cpu_.end() && d->second > 0)
      std::printf("%-28s %9.1f ms cpu = %.3f x %s\n", name.c_str(), c->second, c->second / d->second, anchor.c_str());
  }
  std::map<std::string, double> times_, cpu_;
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
