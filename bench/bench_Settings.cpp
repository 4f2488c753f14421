// The settings store: reads of a file nobody changes, reads after a change, and a start-up
// against a file far too big to be settings.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/core/Files.h"
#include "platform/core/MessageBox.h"
#include "platform/core/Settings.h"

namespace {

const char* const kKey = "Software\\Brenmoor\\Vellora";

// A store of `values` values in a folder of its own, left alone long enough that its file
// times can be trusted.
std::string MakeStore(int values, bool settle) {
  static std::string base;
  if (base.empty()) {
    char tmpl[] = "/tmp/vellora-bench-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    base = tmpl;
    std::atexit([] { std::filesystem::remove_all(base); });
    plat::SetMessageBoxHandler([](const std::string&, const std::string&, unsigned) { return plat::IDOK; });
  }
  const std::string dir = base + "/" + std::to_string(values) + (settle ? "s" : "");
  plat::MakeDirs(dir);
  setenv("VELLORA_SETTINGS_DIR", dir.c_str(), 1);
  std::string text = "[Software\\Brenmoor\\Vellora]\nGridWidth\tdword\t40\n";
  for (int i = 0; i < values; ++i) text += "Value" + std::to_string(i) + "\tstring\t" + std::string(40, 'v') + "\n";
  plat::WriteFileAtomic(dir + "/brenmoor.reg", text.data(), text.size());
  if (settle) std::this_thread::sleep_for(std::chrono::milliseconds(2200));
  return dir;
}

void BM_ReadUnchangedStore(benchmark::State& state) {
  MakeStore(static_cast<int>(state.range(0)), true);
  plat::TRegistry r;
  r.OpenKey(kKey, false);
  for (auto _ : state) benchmark::DoNotOptimize(r.ReadInteger("GridWidth"));
}
BENCHMARK(BM_ReadUnchangedStore)->Arg(100)->Arg(10000);

// Each write changes the file: the next read of another accessor takes it in again.
void BM_ReadAfterAnotherAccessorWrote(benchmark::State& state) {
  MakeStore(static_cast<int>(state.range(0)), false);
  plat::TRegistry reader, writer;
  reader.OpenKey(kKey, false);
  writer.OpenKey(kKey, false);
  uint32_t n = 0;
  for (auto _ : state) {
    writer.WriteDword("Counter", ++n);
    benchmark::DoNotOptimize(reader.ReadDword("Counter"));
  }
}
BENCHMARK(BM_ReadAfterAnotherAccessorWrote)->Arg(100)->Arg(10000);

void BM_OpenRefusedHugeStore(benchmark::State& state) {
  const std::string dir = MakeStore(0, false);
  const std::string huge(22u << 20, '\n');
  plat::WriteFileAtomic(dir + "/brenmoor.reg", huge.data(), huge.size());
  for (auto _ : state) {
    plat::TRegistry r;
    benchmark::DoNotOptimize(r.OpenKey(kKey, true));
  }
}
BENCHMARK(BM_OpenRefusedHugeStore);

}  // namespace

BENCHMARK_MAIN();
