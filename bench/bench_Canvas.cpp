// Canvas loops: tile transfers by kind and alpha, masks, compositing, resampling, the rotated
// view and picture files. BM_Memcpy copies the same bytes as a bandwidth yardstick: read the
// others as a ratio to it.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "engine/TrueCnvs.h"
#include "engine/io/CanvasFiles.h"

namespace {

void Randomise(TTC& c, uint32_t seed) {
  std::mt19937 rng(seed);
  for (int y = 0; y < c.Height(); ++y)
    for (int x = 0; x < c.Width(); ++x) c.SetPixel(x, y, uint32_t(rng()));
}

// Side of the square canvases: 64 (one tile) or 2000 (a paper).
void BM_Memcpy(benchmark::State& state) {
  const size_t n = size_t(state.range(0)) * size_t(state.range(0)) * 4;
  std::vector<uint8_t> a(n, 1), b(n, 2);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), n);
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}
BENCHMARK(BM_Memcpy)->Arg(64)->Arg(2000);

enum TKind { kCopy, kBlend, kAdd, kSubtract, kMultiply };

// range(0): kind, range(1): alpha.
void BM_TileTransfer(benchmark::State& state) {
  const auto kind = TKind(state.range(0));
  const auto alpha = uint8_t(state.range(1));
  TTC src(64, 64), dst(64, 64);
  Randomise(src, 1);
  Randomise(dst, 2);
  for (auto _ : state) {
    switch (kind) {
      case kCopy: src.CopyRectTo(dst, 0, 0, 64, 64, 0, 0); break;
      case kBlend: src.BlendRectTo(dst, 0, 0, 64, 64, 0, 0, alpha); break;
      case kAdd: src.AddRectTo(dst, 0, 0, 64, 64, 0, 0, alpha); break;
      case kSubtract: src.SubtractRectFrom(dst, 0, 0, 64, 64, 0, 0, alpha); break;
      case kMultiply: src.MultiplyRectTo(dst, 0, 0, 64, 64, 0, 0, alpha); break;
    }
    benchmark::DoNotOptimize(dst.Bits());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 64 * 64);
  state.SetBytesProcessed(int64_t(state.iterations()) * 64 * 64 * 4);
}
BENCHMARK(BM_TileTransfer)
    ->ArgNames({"kind", "alpha"})
    ->Args({kCopy, 255})
    ->Args({kBlend, 128})
    ->Args({kBlend, 255})
    ->Args({kAdd, 128})
    ->Args({kAdd, 255})
    ->Args({kSubtract, 128})
    ->Args({kSubtract, 255})
    ->Args({kMultiply, 128})
    ->Args({kMultiply, 255});

void BM_TileColourThroughMask(benchmark::State& state) {
  TTC dst(64, 64);
  TChannel mask(64, 64);
  Randomise(dst, 3);
  std::mt19937 rng(4);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) mask.Row(y)[x] = uint8_t(rng() % 3 == 0 ? 0 : rng());
  for (auto _ : state) {
    dst.BlendColourThroughMask(mask, 0, 0, 64, 64, 0, 0, 0xFF3366CC);
    benchmark::DoNotOptimize(dst.Bits());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 64 * 64);
}
BENCHMARK(BM_TileColourThroughMask);

void BM_ChannelAdd(benchmark::State& state) {
  TChannel src(64, 64), dst(64, 64);
  src.Fill(100);
  dst.Fill(50);
  const auto alpha = uint8_t(state.range(0));
  for (auto _ : state) {
    src.AddRectTo(dst, 0, 0, 64, 64, 0, 0, alpha);
    dst.Fill(50);
    benchmark::DoNotOptimize(dst.Bits());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 64 * 64);
}
BENCHMARK(BM_ChannelAdd)->Arg(128)->Arg(255);

void BM_Composite(benchmark::State& state) {
  TTCDC src(256, 256);
  TTC dst(256, 256);
  Randomise(src, 5);
  dst.Fill(0xFF808080);
  const auto opacity = uint8_t(state.range(0));
  for (auto _ : state) {
    src.CompositeTo(dst, 0, 0, 0x0000FF, opacity);
    benchmark::DoNotOptimize(dst.Bits());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 256 * 256);
}
BENCHMARK(BM_Composite)->Arg(180)->Arg(255);

// A paper resampled to half its size for a resolution change (4 x 4 samples per pixel) and
// to a preview (box).
void BM_ShrinkTo4x4(benchmark::State& state) {
  TTC src(2000, 2000), dst(1000, 1000);
  Randomise(src, 6);
  for (auto _ : state) {
    src.ShrinkTo4x4(dst);
    benchmark::DoNotOptimize(dst.Bits());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 1000 * 1000);
}
BENCHMARK(BM_ShrinkTo4x4)->Unit(benchmark::kMillisecond);

void BM_ShrinkToPreview(benchmark::State& state) {
  TTC src(2000, 2000), dst(200, 200);
  Randomise(src, 7);
  for (auto _ : state) {
    src.ShrinkTo(dst);
    benchmark::DoNotOptimize(dst.Bits());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 2000 * 2000 * 4);
}
BENCHMARK(BM_ShrinkToPreview)->Unit(benchmark::kMillisecond);

void BM_RotateScaleView(benchmark::State& state) {
  TTCDC src(2000, 2000);
  TTC view(1200, 900);
  Randomise(src, 8);
  const float angle = float(state.range(0)) * 3.14159265f / 180;
  for (auto _ : state) {
    src.RotateScaleTo(view, 1000, 1000, angle, 4);
    benchmark::DoNotOptimize(view.Bits());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 1200 * 900);
}
BENCHMARK(BM_RotateScaleView)->Arg(0)->Arg(30)->Unit(benchmark::kMillisecond);

void BM_DrawDisc(benchmark::State& state) {
  TTCDC c(300, 300);
  c.Fill(0xFFFFFFFF);
  const float r = float(state.range(0));
  for (auto _ : state) {
    c.DrawDisc(0xFF203040, true, 150.3f, 149.7f, r, 0.5f);
    benchmark::DoNotOptimize(c.Bits());
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_DrawDisc)->Arg(2)->Arg(8)->Arg(32)->Arg(128);

void BM_EncodeBMP(benchmark::State& state) {
  TTC c(2000, 2000);
  Randomise(c, 9);
  std::vector<uint8_t> out;
  for (auto _ : state) {
    EncodeBMP(c, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 2000 * 2000 * 3);
}
BENCHMARK(BM_EncodeBMP)->Unit(benchmark::kMillisecond);

void BM_JpegRoundTrip(benchmark::State& state) {
  TTC c(1000, 1000);
  for (int y = 0; y < 1000; ++y)
    for (int x = 0; x < 1000; ++x) c.SetPixel(x, y, 0xFF000000u | uint32_t(x & 255) << 16 | uint32_t(y & 255) << 8 | 77);
  std::vector<uint8_t> bytes;
  TDecodedPicture pic;
  for (auto _ : state) {
    EncodeJPEG(c, 80, bytes);
    DecodeJPEG(bytes.data(), bytes.size(), pic);
    benchmark::DoNotOptimize(pic.Pixels.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 1000 * 1000);
}
BENCHMARK(BM_JpegRoundTrip)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
