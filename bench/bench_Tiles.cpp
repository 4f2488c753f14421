// Tiled images: compositing layers onto the paper's canvas and stamping dabs. The memcpy cases
// move the same bytes as the cases they sit beside, so results read as a ratio to bandwidth.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <string>
#include <memory>
#include <random>
#include <vector>

#include "engine/Block.h"

namespace {

void RandomFill(TBlockImage& b, uint32_t seed) {
  std::mt19937 rng(seed);
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) b.SetPixel(x, y, rng() | 0xFF000000u);
}

void Memcpy(benchmark::State& state) {
  const auto bytes = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> a(bytes, 1), b(bytes);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), bytes);
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}
// One tile, and one 2000 x 2000 canvas per layer of the recomposite.
BENCHMARK(Memcpy)->Name("MemcpyBaseline/tile_16KiB")->Arg(64 * 64 * 4);
BENCHMARK(Memcpy)->Name("MemcpyBaseline/paper_16MB")->Arg(2000 * 2000 * 4);

// One 64 x 64 tile of a layer onto a canvas at opacity 128, by layer kind.
void CompositeTile(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  TBlockImage layer;
  layer.SetSize(64, 63);  // exactly one valid tile
  RandomFill(layer, 1);
  TTC canvas(64, 64);
  canvas.Fill(0xFF808080);
  for (auto _ : state) {
    switch (kind) {
      case 0: layer.MultiplyRectTo(canvas, 0, 0, 64, 64, 0, 0, 128); break;
      case 1: layer.AddRectTo(canvas, 0, 0, 64, 64, 0, 0, 128); break;
      default: layer.SubtractRectTo(canvas, 0, 0, 64, 64, 0, 0, 128); break;
    }
    benchmark::DoNotOptimize(canvas.Bits());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 64 * 64);
  state.SetBytesProcessed(int64_t(state.iterations()) * 64 * 64 * 4);
  state.SetLabel(kind == 0 ? "multiply" : kind == 1 ? "add" : "subtract");
}
BENCHMARK(CompositeTile)->Arg(0)->Arg(1)->Arg(2);

// The paper's whole composite: paper colour, then 8 full layers of the three kinds bottom up.
void Recomposite2000x8(benchmark::State& state) {
  constexpr int kSide = 2000, kLayers = 8;
  std::vector<std::unique_ptr<TBlockImage>> layers;
  for (int i = 0; i < kLayers; ++i) {
    auto b = std::make_unique<TBlockImage>();
    b->SetSize(kSide, kSide);
    b->SetBackColour(i % 3 == 0 ? 0xFFFFFF : 0);
    RandomFill(*b, uint32_t(i + 10));
    layers.push_back(std::move(b));
  }
  TTC canvas(kSide, kSide);
  for (auto _ : state) {
    canvas.Fill(0xFFFFFFFF);
    for (int i = 0; i < kLayers; ++i) {
      const TBlockImage& l = *layers[size_t(i)];
      switch (i % 3) {
        case 0: l.MultiplyRectTo(canvas, 0, 0, kSide, kSide, 0, 0, 200); break;
        case 1: l.AddRectTo(canvas, 0, 0, kSide, kSide, 0, 0, 128); break;
        default: l.SubtractRectTo(canvas, 0, 0, kSide, kSide, 0, 0, 64); break;
      }
    }
    benchmark::DoNotOptimize(canvas.Bits());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kSide * kSide * kLayers);
  state.SetBytesProcessed(int64_t(state.iterations()) * kSide * kSide * 4 * kLayers);
}
BENCHMARK(Recomposite2000x8)->Unit(benchmark::kMillisecond);

void DabCounters(benchmark::State& state, double r) {
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.counters["pixels/s"] =
      benchmark::Counter(3.14159265 * r * r * double(state.iterations()), benchmark::Counter::kIsRate);
}

// Watercolour and eraser dabs into an image (hard and soft alike cost the same).
void DrawDiscDab(benchmark::State& state) {
  const float r = float(state.range(0));
  TBlockImage img;
  img.SetSize(1000, 1000);
  float x = 300;
  for (auto _ : state) {
    img.DrawDisc(0x336699, true, x, 500.5f, r, 0.5f);
    x = x >= 700 ? 300 : x + 0.7f;
  }
  DabCounters(state, r);
}
BENCHMARK(DrawDiscDab)->Arg(2)->Arg(8)->Arg(32)->Arg(128);

// Pen dabs into a coverage mask, keeping the maximum.
void ChannelDiscDab(benchmark::State& state) {
  const float r = float(state.range(0));
  TBlockChannel mask;
  mask.SetSize(1000, 1000);
  float x = 300;
  for (auto _ : state) {
    mask.ChannelDisc(255, true, x, 500.5f, r, 0.8f, false);
    x = x >= 700 ? 300 : x + 0.7f;
  }
  DabCounters(state, r);
}
BENCHMARK(ChannelDiscDab)->Arg(2)->Arg(8)->Arg(32)->Arg(128);

// Old blur dabs with a box half the radius: the box sums must not grow with its area.
void BlurDiscDab(benchmark::State& state) {
  const float r = float(state.range(0));
  TBlockImage src, dst;
  src.SetSize(1000, 1000);
  dst.SetSize(1000, 1000);
  RandomFill(src, 3);
  float x = 300;
  for (auto _ : state) {
    dst.BlurDisc(src, int32_t(r / 2), x, 500.5f, r);
    x = x >= 700 ? 300 : x + 0.7f;
  }
  DabCounters(state, r);
}
BENCHMARK(BlurDiscDab)->Arg(2)->Arg(8)->Arg(32)->Arg(128);

// Polygon masks: a selection outline of a few corners, and the worst an event may carry
// (65535 random corners, crossing everywhere), over a small and a large paper.
void FillPolygonMask(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0)), n = static_cast<int>(state.range(1));
  std::mt19937 rng(7);
  std::vector<TPoint> pts;
  if (n <= 32) {
    for (int i = 0; i < n; ++i) {  // a star-ish outline around the centre
      const double a = 6.2831853 * i / n, r = side * (i % 2 ? 0.2 : 0.45);
      pts.push_back(TPoint{int32_t(side / 2 + r * std::cos(a)), int32_t(side / 2 + r * std::sin(a))});
    }
  } else {
    std::uniform_int_distribution<int32_t> d(0, side - 1);
    for (int i = 0; i < n; ++i) pts.push_back(TPoint{d(rng), d(rng)});
  }
  for (auto _ : state) {
    state.PauseTiming();
    auto mask = std::make_unique<TBlockChannel>();
    mask->SetSize(side, side);
    state.ResumeTiming();
    mask->FillPolygon(pts);
    benchmark::DoNotOptimize(mask.get());
    state.PauseTiming();
    mask.reset();  // freeing the tiles is not the fill's cost
    state.ResumeTiming();
  }
  state.SetLabel(std::to_string(n) + " points over " + std::to_string(side) + "^2");
}
BENCHMARK(FillPolygonMask)->Args({1000, 20})->Args({5000, 20})->Args({1000, 65535})->Args({5000, 65535})
    ->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
