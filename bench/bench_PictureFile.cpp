// Picture files beside the zstd library on the same pixels. Saving runs beside a level-1
// compression of every layer's pixels (the bytes the file codes: red, green, blue, bottom row
// first) written atomically to a file; opening beside reading that file back and
// decompressing every layer into memory freshly obtained. Each case times both in the same run and reports the ratio
// (x_zstd); times are processor time of the benchmark's thread. The resident case opens a large drawn picture in a fresh process and reports its
// resident memory beside the engine's own count of what it holds.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zstd.h>

#include <ctime>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/EventPacket.h"
#include "engine/Layer.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "platform/core/Files.h"
#include "platform/core/MessageBox.h"

namespace {

// This thread's processor time in seconds, user and system: the machine is shared, and waits
// for the disk are the same on both sides.
double CpuNow() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

std::string BenchPath(const std::string& name) {
  return "/tmp/bench_PictureFile-" + std::to_string(::getpid()) + "-" + name;
}

// A paper of the three compositing kinds in turn. Busy: most tiles hold a flat fill, and a
// gradient band codes as literals. Drawn: soft and hard discs scattered over a white or black
// layer, as strokes leave them. Empty: nothing drawn.
enum class TContent { Busy, Drawn, Empty };

std::unique_ptr<TPaper> MakePaper(int32_t side, int32_t layers, TContent content) {
  auto p = std::make_unique<TPaper>();
  p->Init("bench", side, side);
  std::mt19937 rng(uint32_t(side) * 31u + uint32_t(content));
  for (int32_t i = 0; i < layers; ++i) {
    if (i > 0) p->Layers->AddLayer(static_cast<TLayerKind>(i % 3));
    p->Layers->SetOpacity(i, static_cast<uint8_t>(96 + i * 6));
    TBlockImage& img = *p->Layers->LayerImage(i);
    if (content == TContent::Busy) {
      const uint32_t c = 0x102030u * static_cast<uint32_t>(i + 1) & 0xFFFFFF;
      p->Layers->FillRect(i, (i * 37) % (side / 5), (i * 53) % (side / 5), side * 3 / 4, side * 3 / 4, c);
      for (int32_t y = side * 9 / 20; y < side * 9 / 20 + 64; ++y)
        for (int32_t x = 0; x < side; ++x) img.SetPixel(x, y, 0xFF000000u | static_cast<uint32_t>(x * 7 + y + i));
    } else if (content == TContent::Drawn) {
      for (int32_t k = 0; k < 40; ++k) {
        const float cx = float(rng() % uint32_t(side)), cy = float(rng() % uint32_t(side));
        const float r = float(8 + rng() % 56);
        img.DrawDisc(rng() & 0xFFFFFF, k % 2 == 0, cx, cy, r, 0.25f + float(rng() % 4) * 0.25f);
      }
    }
    p->Layers->Layers(i)->Compact();
  }
  return p;
}

// The pixels a layer's run-length coding stands for, in the file's order.
std::vector<uint8_t> RawLayer(const TPaper& p, int32_t i) {
  const TBlockImage& img = *p.Layers->LayerImage(i);
  TTC canvas(img.Width(), img.Height());
  img.DrawTo(canvas, 0, 0);
  std::vector<uint8_t> raw;
  raw.reserve(size_t(img.Width()) * size_t(img.Height()) * 3);
  for (int32_t y = img.Height() - 1; y >= 0; --y) {
    const uint32_t* row = canvas.Row32(y);
    for (int32_t x = 0; x < img.Width(); ++x) {
      raw.push_back(uint8_t(row[x] >> 16));
      raw.push_back(uint8_t(row[x] >> 8));
      raw.push_back(uint8_t(row[x]));
    }
  }
  return raw;
}

// One picture: the paper, its file, and its pixels for the anchor (layers with the same
// pixels share them).
struct TSample {
  std::unique_ptr<TPaper> Paper;
  TEventPacket Record;
  std::string File;
  std::vector<std::shared_ptr<const std::vector<uint8_t>>> Raw;
  int64_t Pixels = 0;

  void MakeRaw() {
    if (!Raw.empty()) return;
    for (int32_t i = 0; i <= Paper->Layers->LastIndex(); ++i) {
      auto raw = std::make_shared<const std::vector<uint8_t>>(RawLayer(*Paper, i));
      for (const auto& r : Raw)
        if (*r == *raw) raw = r;
      Raw.push_back(raw);
    }
  }
};

std::vector<std::pair<std::string, std::unique_ptr<TSample>>> gMade;

TSample& Sample(int32_t side, int32_t layers, TContent content) {
  const std::string key = std::to_string(side) + "-" + std::to_string(layers) + "-" + std::to_string(int(content));
  for (auto& m : gMade)
    if (m.first == key) return *m.second;
  auto s = std::make_unique<TSample>();
  s->Paper = MakePaper(side, layers, content);
  s->Record.WriteNewPaper(side, side);
  s->File = BenchPath(key + ".wpb");
  s->Paper->SaveToFile(s->File, false, s->Record);
  s->Pixels = int64_t(side) * side * layers;
  gMade.emplace_back(key, std::move(s));
  return *gMade.back().second;
}

// zstd -1 of every layer, the frames one after another behind their sizes, written atomically.
double ZstdSave(const TSample& s, const std::string& path) {
  const double t0 = CpuNow();
  std::vector<uint8_t> out;
  size_t bound = 0;
  for (const auto& raw : s.Raw) bound = std::max(bound, ZSTD_compressBound(raw->size()));
  std::unique_ptr<uint8_t[]> frame(new uint8_t[bound]);
  for (const auto& raw : s.Raw) {
    const size_t n = ZSTD_compress(frame.get(), bound, raw->data(), raw->size(), 1);
    if (ZSTD_isError(n)) std::abort();
    const uint64_t n64 = n;
    out.insert(out.end(), reinterpret_cast<const uint8_t*>(&n64), reinterpret_cast<const uint8_t*>(&n64) + 8);
    out.insert(out.end(), frame.get(), frame.get() + n);
  }
  plat::WriteFileAtomic(path, out.data(), out.size());
  return CpuNow() - t0;
}

// zstd -d of that file, every layer into memory of its pixels freshly obtained from the system
// and kept until every layer is read, as an opened picture holds its layers: a buffer reused
// from layer to layer (or from the heap's warm memory) would skip the kernel's zeroing of fresh
// pages that the opening pays. The pages get the tile pool's huge-page advice. The memory is
// given back after the clock stops, as the opened paper is freed outside its own timing.
double ZstdOpen(const TSample& s, const std::string& path) {
  const double t0 = CpuNow();
  std::vector<uint8_t> in;
  plat::ReadWholeFile(path, in);
  std::vector<std::pair<void*, size_t>> held;
  size_t at = 0;
  for (const auto& raw : s.Raw) {
    uint64_t n = 0;
    std::memcpy(&n, in.data() + at, 8);
    void* px = ::mmap(nullptr, raw->size(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (px == MAP_FAILED) std::abort();
#ifdef MADV_HUGEPAGE
    ::madvise(px, raw->size(), MADV_HUGEPAGE);
#endif
    held.emplace_back(px, raw->size());
    if (ZSTD_decompress(px, raw->size(), in.data() + at + 8, n) != raw->size()) std::abort();
    benchmark::DoNotOptimize(px);
    at += 8 + n;
  }
  const double t = CpuNow() - t0;
  for (const auto& h : held) ::munmap(h.first, h.second);
  return t;
}

void Report(benchmark::State& state, const TSample& s, double ours, double anchor) {
  state.counters["zstd_ms"] = benchmark::Counter(anchor * 1000 / double(state.iterations()));
  state.counters["x_zstd"] = benchmark::Counter(ours / anchor);
  state.counters["file_MB"] = benchmark::Counter(double(plat::FileSizeOf(s.File)) / 1e6);
  state.SetItemsProcessed(state.iterations() * s.Pixels);
}

void BM_SavePicture(benchmark::State& state, int32_t side, TContent content) {
  TSample& s = Sample(side, 24, content);
  s.MakeRaw();
  const std::string ours = BenchPath("save.wpb"), theirs = BenchPath("save.zst");
  double t = 0, z = 0;
  for (auto _ : state) {
    const double t0 = CpuNow();
    s.Paper->SaveToFile(ours, false, s.Record);
    const double d = CpuNow() - t0;
    state.SetIterationTime(d);
    t += d;
    z += ZstdSave(s, theirs);
  }
  Report(state, s, t, z);
  std::remove(ours.c_str());
  std::remove(theirs.c_str());
}

void BM_OpenPicture(benchmark::State& state, int32_t side, TContent content) {
  plat::TMessageRecorder quiet(plat::IDOK);
  TSample& s = Sample(side, 24, content);
  s.MakeRaw();
  const std::string theirs = BenchPath("open.zst");
  ZstdSave(s, theirs);
  double t = 0, z = 0;
  for (auto _ : state) {
    {
      const double t0 = CpuNow();
      TPaper p;
      TEventPacket e;
      benchmark::DoNotOptimize(p.LoadFromFile(s.File, e));
      const double d = CpuNow() - t0;
      state.SetIterationTime(d);
      t += d;
    }
    z += ZstdOpen(s, theirs);
  }
  Report(state, s, t, z);
  std::remove(theirs.c_str());
}

BENCHMARK_CAPTURE(BM_SavePicture, busy_2000x2000x24, 2000, TContent::Busy)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(BM_OpenPicture, busy_2000x2000x24, 2000, TContent::Busy)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(BM_SavePicture, drawn_2000x2000x24, 2000, TContent::Drawn)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(BM_OpenPicture, drawn_2000x2000x24, 2000, TContent::Drawn)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(BM_SavePicture, empty_5000x5000x24, 5000, TContent::Empty)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_OpenPicture, empty_5000x5000x24, 5000, TContent::Empty)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// Resident memory in pages of this process, from the kernel's own count.
int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  int64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
}

// The child's side of the resident case: open the picture, report, free it, report again.
int ResidentChild(const char* path) {
  plat::TMessageRecorder quiet(plat::IDOK);
  const int64_t empty = ResidentBytes();
  auto p = std::make_unique<TPaper>();
  TEventPacket e;
  if (!p->LoadFromFile(path, e)) return 1;
  const int64_t loaded = ResidentBytes(), engine = p->MemorySize();
  p.reset();
  std::printf("%lld %lld %lld %lld\n", (long long)empty, (long long)loaded, (long long)engine, (long long)ResidentBytes());
  return 0;
}

std::string gSelf;

// A 5000 x 5000 picture of 24 drawn layers opened in a fresh process: resident memory after the
// load against the engine's count plus the empty process, and what is left once it is freed.
void BM_OpenResident(benchmark::State& state) {
  TSample& s = Sample(5000, 24, TContent::Drawn);
  double empty = 0, loaded = 0, engine = 0, freed = 0;
  for (auto _ : state) {
    const std::string cmd = gSelf + " --resident-child " + s.File;
    FILE* f = ::popen(cmd.c_str(), "r");
    long long e = 0, l = 0, g = 0, r = 0;
    if (!f || std::fscanf(f, "%lld %lld %lld %lld", &e, &l, &g, &r) != 4) state.SkipWithError("child failed");
    if (f) ::pclose(f);
    empty = double(e), loaded = double(l), engine = double(g), freed = double(r);
  }
  state.counters["empty_MB"] = empty / 1e6;
  state.counters["resident_MB"] = loaded / 1e6;
  state.counters["engine_MB"] = engine / 1e6;
  state.counters["after_free_MB"] = freed / 1e6;
  state.counters["x_engine"] = loaded / (engine + empty);
}
BENCHMARK(BM_OpenResident)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--resident-child") == 0) return ResidentChild(argv[2]);
  gSelf = argv[0];
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const auto& m : gMade) std::remove(m.second->File.c_str());
  return 0;
}
