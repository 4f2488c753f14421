// Compositing and working copies on long replays and big papers, each on the fast path and on
// the plain reference path in the same run; the ratios are printed at the end.
//   RenderRecordedHour: an hour of drawing (2100 strokes of every brush over 8 layers, with
//     layer changes, fills and undos) rendered by `wpetool render`'s own function (no window,
//     no preview, composited whole at the end).
//   RenderDenseHour: 360000 points (an hour at 100 points a second without a pause) over 8
//     layers, played the same way.
//   FillRect / ClearRect: a 100 x 100 rectangle on one of 3 full 5000 x 5000 layers.
//   SwitchLayer: a short stroke on another full 5000 x 5000 layer than the one before.
// `--export_hour=FILE` writes the recorded hour as an event file and exits.
#include <benchmark/benchmark.h>

#include <ctime>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "Recordings.h"
#include "engine/EventPacket.h"
#include "engine/LayerMng.h"
#include "engine/MyStream.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "platform/core/MessageBox.h"
#include "render/Headless.h"

namespace {

// Processor seconds per iteration of each benchmark (fast, plain), by its name without the
// path argument: on a shared machine the wall clock says more about the neighbours.
std::map<std::string, double[2]>& Timings() {
  static std::map<std::string, double[2]> t;
  return t;
}

class TTimer {
 public:
  TTimer(const char* name, bool plain) : name_(name), plain_(plain), start_(std::clock()) {}
  void Stop(int64_t iterations) {
    const double s = static_cast<double>(std::clock() - start_) / CLOCKS_PER_SEC;
    Timings()[name_][plain_ ? 1 : 0] = s / static_cast<double>(iterations);
  }

 private:
  std::string name_;
  bool plain_;
  std::clock_t start_;
};

const TEventPacket& RecordedHour() {
  static TEventPacket* e = MakeHour();
  return *e;
}

const TEventPacket& DenseHour() {
  static TEventPacket* e = MakeRecording(50, 8, 15000);
  return *e;
}

void RenderHour(benchmark::State& state, const char* name, const TEventPacket& hour) {
  const bool plain = state.range(0) != 0;
  plat::TMessageRecorder quiet(plat::IDOK);
  // The bytes of the event file, as the tool reads them.
  TMyMemory file(65536);
  {
    TEventPacket e;
    e.LoadFromMemory(hour.Data());
    e.Data().Rewind();
    file.WriteBuffer(e.Data().Memory(), e.Data().Size());
  }
  TTimer timer(name, plain);
  for (auto _ : state) {
    TPaper p;
    p.SetPlainPath(plain);
    const std::string failed = RenderHeadless("hour.wpe", file, 1.0f, p);
    if (!failed.empty()) state.SkipWithError(failed.c_str());
    benchmark::DoNotOptimize(p.CompositeImage.GetPixel(0, 0));
  }
  timer.Stop(state.iterations());
}

void BM_RenderRecordedHour(benchmark::State& state) { RenderHour(state, "RenderRecordedHour", RecordedHour()); }
BENCHMARK(BM_RenderRecordedHour)->ArgName("plain")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_RenderDenseHour(benchmark::State& state) { RenderHour(state, "RenderDenseHour", DenseHour()); }
BENCHMARK(BM_RenderDenseHour)->ArgName("plain")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(1);

constexpr int32_t kBig = 5000;

// 3 layers, one of each kind, each filled over the whole paper with stripes, so that every tile
// exists; the first layer active.
TPaper& BigPaper(bool plain) {
  static TPaper* papers[2] = {};
  TPaper*& p = papers[plain ? 1 : 0];
  if (!p) {
    p = new TPaper;
    p->Init("bench", kBig, kBig);
    // No preview is kept: the operations alone are measured.
    p->SetViewerMode(1);
    for (int32_t i = 1; i < 3; ++i) p->Layers->AddLayer(static_cast<TLayerKind>(i));
    for (int32_t i = 0; i < 3; ++i) {
      p->Layers->FillRect(i, 0, 0, kBig, kBig, 0x204060u + 0x101010u * static_cast<uint32_t>(i));
      p->Layers->FillRect(i, 100 * i, 0, 50, kBig, 0x808080u);
    }
    p->Layers->SetActiveLayer(0);
    p->Composite();
    p->SetPlainPath(plain);
  }
  return *p;
}

void BM_FillRect(benchmark::State& state) {
  const bool plain = state.range(0) != 0;
  TPaper& p = BigPaper(plain);
  int32_t k = 0;
  TTimer timer("FillRect", plain);
  for (auto _ : state) {
    const int32_t x = 37 + 211 * (k % 20), y = 53 + 197 * (k / 20 % 20);
    p.Layers->FillRect(0, x, y, 100, 100, 0x102030u * static_cast<uint32_t>(k % 7));
    p.CompositeRect(x, y, 100, 100);
    ++k;
  }
  timer.Stop(state.iterations());
}
BENCHMARK(BM_FillRect)->ArgName("plain")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_ClearRect(benchmark::State& state) {
  const bool plain = state.range(0) != 0;
  TPaper& p = BigPaper(plain);
  int32_t k = 0;
  TTimer timer("ClearRect", plain);
  for (auto _ : state) {
    const int32_t x = 91 + 233 * (k % 20), y = 17 + 229 * (k / 20 % 20);
    p.Layers->ClearRect(0, x, y, 100, 100);
    p.CompositeRect(x, y, 100, 100);
    ++k;
  }
  timer.Stop(state.iterations());
}
BENCHMARK(BM_ClearRect)->ArgName("plain")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_SwitchLayer(benchmark::State& state) {
  const bool plain = state.range(0) != 0;
  TPaper& p = BigPaper(plain);
  TStroke brush;
  brush.SetKind(bkPen);
  brush.SetWidth(6);
  int32_t k = 0;
  TTimer timer("SwitchLayer", plain);
  for (auto _ : state) {
    const int32_t layer = 1 + k % 2;
    p.Layers->SetActiveLayer(layer);
    brush.SetLayer(static_cast<uint8_t>(layer));
    const float x = static_cast<float>(300 + 97 * (k % 40)), y = static_cast<float>(300 + 89 * (k / 40 % 40));
    p.StrokeBegin(brush, x, y, 1);
    for (int i = 1; i <= 4; ++i) p.StrokeMove(brush, nullptr, x + 5 * static_cast<float>(i), y, 1);
    p.StrokeEnd(brush, nullptr);
    ++k;
  }
  timer.Stop(state.iterations());
}
BENCHMARK(BM_SwitchLayer)->ArgName("plain")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--export_hour=", 14) == 0) {
      TEventPacket e;
      e.LoadFromMemory(RecordedHour().Data());
      return e.ExportToFile(argv[i] + 14) ? 0 : 1;
    }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("\n%-20s %12s %12s %8s  (processor time)\n", "fast vs plain", "plain ms", "fast ms", "ratio");
  for (const auto& [name, t] : Timings())
    if (t[0] > 0 && t[1] > 0) std::printf("%-20s %12.3f %12.3f %7.2fx\n", name.c_str(), t[1] * 1e3, t[0] * 1e3, t[1] / t[0]);
  return 0;
}
