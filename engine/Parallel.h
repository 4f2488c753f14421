#pragma once
// Independent pieces of one whole-paper job on several cores. Each piece must touch only what
// is its own (one layer, one band of rows), so the result is the same bytes whichever thread
// does which piece and in what order; the caller waits until all are done.
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

// The cores this process may run on: helpers beyond them only take turns with the caller.
inline int32_t UsableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  return std::max(1, static_cast<int32_t>(std::thread::hardware_concurrency()));
}

// Runs f(i) for every i in 0..n-1, on the calling thread and up to maxThreads - 1 helpers
// (0: one per usable core). The first exception a piece throws is thrown here after all have
// ended.
template <class F>
void ForEachPiece(int32_t n, F&& f, int32_t maxThreads = 0) {
  if (n <= 0) return;
  int32_t threads = maxThreads > 0 ? maxThreads : UsableCores();
  threads = std::clamp(threads, int32_t{1}, n);
  if (threads == 1) {
    for (int32_t i = 0; i < n; ++i) f(i);
    return;
  }
  std::atomic<int32_t> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr error;
  auto work = [&] {
    for (int32_t i; !failed.load(std::memory_order_relaxed) && (i = next.fetch_add(1)) < n;) {
      try {
        f(i);
      } catch (...) {
        if (!failed.exchange(true)) error = std::current_exception();
      }
    }
  };
  std::vector<std::thread> helpers;
  for (int32_t t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back(work);
    } catch (...) {
      break;  // no more threads to be had: fewer do the work
    }
  }
  work();
  for (auto& h : helpers) h.join();
  if (error) std::rethrow_exception(error);
}
