// The paper: compositing (whole paper and one dirty tile through 24 layers), painting the view
// at 100, 25 and 800 percent and rotated, headless replay of a long recording, and saving and
// loading a 24-layer picture file beside a plain file write of the same size.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Recordings.h"
#include "engine/EventPacket.h"
#include "engine/Layer.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "platform/core/Files.h"
#include "platform/core/MessageBox.h"

namespace {

constexpr int32_t kSide = 2000;

class TBufferTarget : public TPaintTarget {
 public:
  TBufferTarget(int32_t w, int32_t h) : Canvas(w, h) {}
  TPixelView Surface() override { return Canvas.View(); }
  void SurfaceChanged(const TRect&) override {}
  TTC Canvas;
};

// 24 layers of every compositing kind, each with content over much of the paper (so that most
// tiles exist) and a gradient band that codes as literals in a picture file.
TPaper& BusyPaper() {
  static TPaper* paper = [] {
    auto* p = new TPaper;
    p->Init("bench", kSide, kSide);
    for (int32_t i = 0; i < 24; ++i) {
      if (i > 0) p->Layers->AddLayer(static_cast<TLayerKind>(i % 3));
      p->Layers->SetOpacity(i, static_cast<uint8_t>(96 + i * 6));
      const uint32_t c = 0x102030u * static_cast<uint32_t>(i + 1) & 0xFFFFFF;
      p->Layers->FillRect(i, (i * 37) % 400, (i * 53) % 400, 1500, 1500, c);
      TBlockImage& img = *p->Layers->LayerImage(i);
      for (int32_t y = 900; y < 964; ++y)
        for (int32_t x = 0; x < kSide; ++x) img.SetPixel(x, y, 0xFF000000u | static_cast<uint32_t>(x * 7 + y + i));
    }
    p->Composite();
    return p;
  }();
  return *paper;
}

void BM_CompositeWholePaper(benchmark::State& state) {
  TPaper& p = BusyPaper();
  for (auto _ : state) p.Composite();
  state.SetItemsProcessed(state.iterations() * int64_t(kSide) * kSide);
  state.SetLabel("pixels/s, 24 layers");
}
BENCHMARK(BM_CompositeWholePaper)->Unit(benchmark::kMillisecond);

void BM_CompositeDirtyTile(benchmark::State& state) {
  TPaper& p = BusyPaper();
  for (auto _ : state) p.CompositeRect(640, 640, 64, 64);
  state.SetItemsProcessed(state.iterations() * 64 * 64);
  state.SetLabel("one 64x64 tile through 24 layers");
}
BENCHMARK(BM_CompositeDirtyTile)->Unit(benchmark::kMicrosecond);

// Painting a 1280 x 800 window: zoom index, angle in degrees.
void BM_PaintView(benchmark::State& state) {
  TPaper& p = BusyPaper();
  TBufferTarget win(1280, 800);
  p.Display.ZoomIndex = static_cast<int32_t>(state.range(0));
  p.Display.SetAngle(static_cast<float>(state.range(1) * 3.14159265358979323846 / 180));
  p.Display.SetCentre(1000, 1000);
  p.Display.SetScroll(400, 400);
  for (auto _ : state) p.Paint(&win);
  state.SetItemsProcessed(state.iterations() * 1280 * 800);
  p.Display.ZoomIndex = 0;
  p.Display.SetAngle(0);
}
BENCHMARK(BM_PaintView)
    ->ArgNames({"zoom", "deg"})
    ->Args({0, 0})
    ->Args({-2, 0})
    ->Args({6, 0})
    ->Args({0, 30})
    ->Unit(benchmark::kMicrosecond);

// A long recording: 3000 strokes of 24 points each, of every brush kind, on two layers (a
// change of layer every `period` strokes: 50 as a user works, 1 as members of a session
// take turns), with fills and undos between them.
const TEventPacket& LongRecording() {
  static TEventPacket* e = MakeRecording(50);
  return *e;
}

const TEventPacket& AlternatingRecording() {
  static TEventPacket* e = MakeRecording(1);
  return *e;
}

// Arg 0: the painter's paper with a preview fitted by the navigator (200 x 150); arg 1: the
// viewer's mode, which keeps no preview.
void ReplayRecording(benchmark::State& state, const TEventPacket& rec) {
  int64_t calls = 0, points = 0;
  for (auto _ : state) {
    TEventPacket e;
    e.LoadFromMemory(rec.Data());
    TPaper p;
    if (state.range(0)) p.SetViewerMode(1);
    else p.PreviewImage.SetSize(200, 150);
    TStroke brush;
    while (p.PlayEvent(e, brush, nullptr)) {
      ++calls;
      if (e.InStroke()) ++points;
    }
    p.Composite();
  }
  state.SetItemsProcessed(calls);
  state.counters["points"] = benchmark::Counter(static_cast<double>(points), benchmark::Counter::kIsRate);
  // A recorded hour taken as an hour of continuous drawing at 100 stroke points a second.
  state.counters["s_per_recorded_hour"] =
      benchmark::Counter(static_cast<double>(points) / 360000.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetLabel("player calls/s; an hour = 360000 stroke points");
}
void BM_ReplayLongRecording(benchmark::State& state) { ReplayRecording(state, LongRecording()); }
BENCHMARK(BM_ReplayLongRecording)->ArgName("viewer")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);

// Every stroke on the other layer than the one before: each reloads the working copy.
void BM_ReplayAlternatingLayers(benchmark::State& state) { ReplayRecording(state, AlternatingRecording()); }
BENCHMARK(BM_ReplayAlternatingLayers)->ArgName("viewer")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);

std::string BenchPath(const char* name) { return "/tmp/bench_Paper-" + std::to_string(::getpid()) + "-" + name; }

int64_t SavedSize() {
  static const int64_t size = [] {
    TEventPacket rec;
    rec.WriteNewPaper(kSide, kSide);
    BusyPaper().SaveToFile(BenchPath("size.wpb"), false, rec);
    const int64_t n = plat::FileSizeOf(BenchPath("size.wpb"));
    std::remove(BenchPath("size.wpb").c_str());
    return n;
  }();
  return size;
}

void BM_SavePicture24Layers(benchmark::State& state) {
  TPaper& p = BusyPaper();
  TEventPacket rec;
  rec.WriteNewPaper(kSide, kSide);
  const std::string path = BenchPath("save.wpb");
  for (auto _ : state) p.SaveToFile(path, false, rec);
  state.SetBytesProcessed(state.iterations() * SavedSize());
  state.SetItemsProcessed(state.iterations() * 24 * int64_t(kSide) * kSide);
  state.SetLabel("bytes of the file; items: layer pixels");
  std::remove(path.c_str());
}
BENCHMARK(BM_SavePicture24Layers)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_LoadPicture24Layers(benchmark::State& state) {
  plat::TMessageRecorder quiet(plat::IDOK);
  TEventPacket rec;
  rec.WriteNewPaper(kSide, kSide);
  const std::string path = BenchPath("load.wpb");
  BusyPaper().SaveToFile(path, false, rec);
  for (auto _ : state) {
    TPaper p;
    TEventPacket e;
    benchmark::DoNotOptimize(p.LoadFromFile(path, e));
  }
  state.SetBytesProcessed(state.iterations() * SavedSize());
  state.SetItemsProcessed(state.iterations() * 24 * int64_t(kSide) * kSide);
  state.SetLabel("bytes of the file; items: layer pixels");
  std::remove(path.c_str());
}
BENCHMARK(BM_LoadPicture24Layers)->Unit(benchmark::kMillisecond)->Iterations(3);

// The thumbnails of all 24 layers refreshed whole and read, as after loading a picture (a
// refresh only marks what the read then draws).
void BM_RefreshThumbnails24Layers(benchmark::State& state) {
  TPaper& p = BusyPaper();
  for (auto _ : state)
    for (int32_t i = 0; i < 24; ++i) {
      p.Layers->Layers(i)->UpdateThumbnail();
      p.Layers->Layers(i)->SettleThumbnail();
    }
  state.SetItemsProcessed(state.iterations() * 24 * int64_t(kSide) * kSide);
  state.SetLabel("items: layer pixels");
}
BENCHMARK(BM_RefreshThumbnails24Layers)->Unit(benchmark::kMillisecond);

// The yardstick: the same number of bytes written as a plain file, atomically.
void BM_PlainFileWriteSameSize(benchmark::State& state) {
  std::vector<uint8_t> bytes(static_cast<size_t>(SavedSize()), 0x5A);
  const std::string path = BenchPath("plain.bin");
  for (auto _ : state) plat::WriteFileAtomic(path, bytes.data(), bytes.size());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
  std::remove(path.c_str());
}
BENCHMARK(BM_PlainFileWriteSameSize)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
