// The pieces of a whole-paper job: each done once, whichever threads do them, errors carried
// back to the caller, and no helper threads where the caller may use one core only.
#include <gtest/gtest.h>

#include <sched.h>

#include <atomic>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "engine/Parallel.h"

namespace {

TEST(ForEachPiece, EveryPieceRunsOnceAndErrorsReachTheCaller) {
  for (int32_t threads : {0, 1, 3}) {
    std::vector<std::atomic<int32_t>> runs(1000);
    ForEachPiece(1000, [&](int32_t i) { runs[size_t(i)].fetch_add(1); }, threads);
    for (size_t i = 0; i < runs.size(); ++i) ASSERT_EQ(1, runs[i].load()) << "piece " << i << ", threads " << threads;
    std::atomic<int32_t> done{0};
    EXPECT_THROW(ForEachPiece(
                     200,
                     [&](int32_t i) {
                       if (i == 17) throw std::runtime_error("piece");
                       done.fetch_add(1);
                     },
                     threads),
                 std::runtime_error)
        << "threads " << threads;
    EXPECT_LT(done.load(), 200);
  }
}

TEST(ForEachPiece, ACallerKeptToOneCoreDoesEveryPieceItself) {
  cpu_set_t all;
  ASSERT_EQ(0, ::sched_getaffinity(0, sizeof all, &all));
  int first = 0;
  while (!CPU_ISSET(first, &all)) ++first;
  std::set<std::thread::id> ids;
  std::thread caller([&] {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    if (::sched_setaffinity(0, sizeof one, &one) != 0) return;
    EXPECT_EQ(1, UsableCores());
    std::mutex m;
    ForEachPiece(64, [&](int32_t) {
      std::lock_guard<std::mutex> lock(m);
      ids.insert(std::this_thread::get_id());
    });
    EXPECT_EQ(1u, ids.size());
    EXPECT_EQ(1u, ids.count(std::this_thread::get_id()));
  });
  caller.join();
  ASSERT_FALSE(ids.empty()) << "the thread could not be kept to one core";
}

}  // namespace
