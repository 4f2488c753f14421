// Recording and taking over event streams.
#include <benchmark/benchmark.h>

#include "engine/EventPacket.h"

namespace {

TStrokeAttributes Pen() {
  TStrokeAttributes a;
  a.ifSIZE = a.ifTRANSPARENCY = true;
  a.MIN = 75, a.WIDTH = 1.5f, a.GAMMA = 1;
  return a;
}

// One long stroke, as the stroke input records it: point by point, then the count patched.
void BM_RecordStroke(benchmark::State& state) {
  const auto points = static_cast<int>(state.range(0));
  TEventPacket p;
  for (auto _ : state) {
    p.Clear();
    p.BeginStroke(Pen(), 0, 10, 10, 0.5f);
    for (int i = 0; i < points; ++i) p.AddStrokePoint(static_cast<float>(i % 4000), 20.5f, 0.75f);
    p.EndStroke();
    benchmark::DoNotOptimize(p.Data().Memory());
  }
  state.SetItemsProcessed(state.iterations() * points);
}
BENCHMARK(BM_RecordStroke)->Arg(1000)->Arg(60000);

// Validation and take-over of a stream of many short strokes (an event file being imported).
void BM_LoadFromMemory(benchmark::State& state) {
  TEventPacket rec;
  rec.WriteNewPaper(1000, 1000);
  for (int s = 0; s < static_cast<int>(state.range(0)); ++s) {
    rec.BeginStroke(Pen(), static_cast<uint8_t>(s % 5), 1, 1, 1);
    for (int i = 0; i < 30; ++i) rec.AddStrokePoint(static_cast<float>(i), static_cast<float>(s % 1000), 0.5f);
    rec.EndStroke();
    rec.WriteUndo(0);
  }
  rec.WriteEndMarker();
  TEventPacket p;
  for (auto _ : state) {
    bool ok = p.LoadFromMemory(rec.Data());
    benchmark::DoNotOptimize(ok);
  }
  state.SetBytesProcessed(state.iterations() * rec.Data().Size());
}
BENCHMARK(BM_LoadFromMemory)->Arg(100)->Arg(10000);

}  // namespace

BENCHMARK_MAIN();
