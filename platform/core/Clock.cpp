#include "platform/core/Clock.h"

#include <atomic>
#include <chrono>

namespace plat {
namespace {
std::atomic<bool> g_fake{false};
std::atomic<uint32_t> g_fakeNow{0};
}  // namespace

uint32_t timeGetTime() {
  if (g_fake.load()) return g_fakeNow.load();
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

void SetFakeClock(uint32_t now) {
  g_fakeNow = now;
  g_fake = true;
}

void AdvanceFakeClock(uint32_t ms) { g_fakeNow += ms; }

void UseRealClock() { g_fake = false; }

}  // namespace plat
