// Data frames through a session host on 127.0.0.1: a member's frames relayed to three other
// members, and the host's own frames to three members. Each pump step queues one frame and
// flushes every socket, as the update loop does; frames carry their send time, so each
// receiver measures the delay. Reported: frames per second (delivered to every receiver)
// and the median and 99th-percentile delay in microseconds.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "session/MySocket.h"

namespace {

constexpr int kFramesPerBatch = 500;
constexpr int kGiveUpMs = 20000;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct TSession {
  TMySocket Host{nullptr};
  std::vector<std::unique_ptr<TMySocket>> Members;

  void PumpOnce() {
    Host.Flush();
    for (auto& m : Members) m->Flush();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  template <class Pred>
  bool PumpUntil(Pred pred) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
      if (t.elapsed() > kGiveUpMs) return false;
      PumpOnce();
    }
    return true;
  }
  bool Open(int members) {
    if (!Host.StartServer(0, "HOTE", "pw", QHostAddress::LocalHost)) return false;
    for (int i = 1; i <= members; ++i) {
      Members.push_back(std::make_unique<TMySocket>(nullptr));
      TMySocket& m = *Members.back();
      std::string name = "M";
      name += std::to_string(i);
      if (!m.StartClient("127.0.0.1", Host.ServerPort(), name, "pw")) {
        return false;
      }
      if (!PumpUntil([&] { return m.LoggedIn && Host.MemberLoginArrived(i); })) return false;
      Host.SetJoinLock(false);
    }
    return PumpUntil([&] {
      for (auto& m : Members) {
        if (m->MemberCount != members + 1) return false;
      }
      return true;
    });
  }
};

// sender: 0 for the host, else a member slot; receivers: the member slots that take the frames.
void RunRelay(benchmark::State& state, int sender, std::vector<int> receivers, int members) {
  const int32_t size = static_cast<int32_t>(state.range(0));
  TSession s;
  if (!s.Open(members)) {
    state.SkipWithError("session did not start");
    return;
  }
  TMySocket& from = sender == 0 ? s.Host : *s.Members[static_cast<size_t>(sender - 1)];
  std::vector<uint8_t> frame(static_cast<size_t>(size), 0x5A), chunk(static_cast<size_t>(size));
  std::vector<int64_t> delays;
  std::vector<int> got(receivers.size());
  int64_t frames = 0;

  for (auto _ : state) {
    std::fill(got.begin(), got.end(), 0);
    int sent = 0;
    const bool done = s.PumpUntil([&] {
      if (sent < kFramesPerBatch) {
        const int64_t t = NowNs();
        std::memcpy(frame.data(), &t, sizeof t);
        from.SendData(mdAll, frame.data(), size);
        ++sent;
      }
      bool all = true;
      for (size_t r = 0; r < receivers.size(); ++r) {
        TMySocket& to = *s.Members[static_cast<size_t>(receivers[r] - 1)];
        while (to.ReadMemberData(sender, chunk.data(), size)) {
          int64_t t0;
          std::memcpy(&t0, chunk.data(), sizeof t0);
          delays.push_back(NowNs() - t0);
          ++got[r];
        }
        all = all && got[r] == kFramesPerBatch;
      }
      // The host keeps the members' data as well; the update loop would drain it.
      while (s.Host.MemberDataSize(sender) >= size && sender != 0) {
        s.Host.ReadMemberData(sender, chunk.data(), size);
      }
      return all;
    });
    if (!done) {
      state.SkipWithError("frames did not arrive in time");
      return;
    }
    frames += kFramesPerBatch;
  }
  std::sort(delays.begin(), delays.end());
  auto pick = [&](double q) {
    return delays.empty() ? 0.0
                          : static_cast<double>(delays[static_cast<size_t>(q * static_cast<double>(
                                                                                delays.size() - 1))]) /
                                1000.0;
  };
  state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(frames),
                                                      benchmark::Counter::kIsRate);
  state.counters["median_us"] = pick(0.5);
  state.counters["p99_us"] = pick(0.99);
  state.SetBytesProcessed(frames * size);
}

void BM_RelayMemberToThreeMembers(benchmark::State& state) { RunRelay(state, 1, {2, 3, 4}, 4); }
void BM_HostToThreeMembers(benchmark::State& state) { RunRelay(state, 0, {1, 2, 3}, 3); }

}  // namespace

BENCHMARK(BM_RelayMemberToThreeMembers)->Arg(64)->Arg(1024)->Arg(4080)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostToThreeMembers)->Arg(64)->Arg(4080)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  QCoreApplication app(argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
