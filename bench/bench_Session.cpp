// Data frames through a session host on 127.0.0.1: a member's frames relayed to three other
// members, and the host's own frames to three members. Each pump step queues one frame and
// flushes every socket, as the update loop does; frames carry their send time, so each
// receiver measures the delay. Reported: frames per second (delivered to every receiver)
// and the median and 99th-percentile delay in microseconds.
//
// One point of a member's stroke at the widest pen, played onto a 5000 x 5000 session paper
// shown in a window: a point whose segment crosses the whole paper, as a hostile member's
// zig-zag sends them, or from corner to corner, beside the anchor, a point 8 pixels on from
// the one before.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/EventPacket.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "engine/TrueCnvs.h"
#include "session/MySocket.h"
#include "session/wire/SessionFrame.h"

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

// A member that writes data frames as fast as its socket takes them, beside two members that
// take what they are sent; each iteration floods for half a second. Reported: the flood's
// bytes per second that each of the two still receives, the delay of the small frames that
// one of them sends the other, and how many of the two were dropped (always 0).
void BM_FloodingMember(benchmark::State& state) {
  TSession s;
  if (!s.Open(2)) {
    state.SkipWithError("session did not start");
    return;
  }
  QTcpSocket flooder;
  flooder.connectToHost(QHostAddress::LocalHost, s.Host.ServerPort());
  // A connection holds a slot only once it has logged in.
  std::vector<uint8_t> login(kFrameHeaderSize + kLoginRecordSize);
  EncodeHeader(SessionMessage{mkLogin, 3, mdHost, kLoginRecordSize}, login.data());
  EncodeLoginRecord("FLOOD", "pw", login.data() + kFrameHeaderSize);
  if (flooder.waitForConnected(3000)) {
    flooder.write(reinterpret_cast<const char*>(login.data()), static_cast<qint64>(login.size()));
  }
  if (flooder.state() != QAbstractSocket::ConnectedState ||
      !s.PumpUntil([&] { return s.Host.MemberUsed(3); })) {
    state.SkipWithError("the flooder did not get in");
    return;
  }
  s.Host.SetJoinLock(false);
  std::vector<uint8_t> frames;
  for (int i = 0; i < 64; ++i) {
    const int32_t header[4] = {mkData, 3, mdAll, kMaxPayload};
    const auto* h = reinterpret_cast<const uint8_t*>(header);
    frames.insert(frames.end(), h, h + sizeof header);
    frames.insert(frames.end(), kMaxPayload, 0x11);
  }
  TMySocket& a = *s.Members[0];
  TMySocket& b = *s.Members[1];
  std::vector<uint8_t> sink(1 << 20);
  auto take = [&](TMySocket& m, int32_t slot) {
    const int32_t n = m.MemberDataSize(slot);
    if (n > 0) m.ReadMemberData(slot, sink.data(), std::min<int32_t>(n, static_cast<int32_t>(sink.size())));
    return std::max(n, 0);
  };
  int64_t atA = 0, atB = 0, ms = 0;
  std::vector<int64_t> delays;
  std::vector<uint8_t> mark(8);
  for (auto _ : state) {
    QElapsedTimer t;
    t.start();
    int step = 0;
    while (t.elapsed() < 500) {
      if (flooder.bytesToWrite() < 4 * 1024 * 1024) {
        flooder.write(reinterpret_cast<const char*>(frames.data()), static_cast<qint64>(frames.size()));
      }
      if (++step % 50 == 0) {
        const int64_t now = NowNs();
        std::memcpy(mark.data(), &now, sizeof now);
        b.SendData(mdAll, mark.data(), 8);
      }
      s.PumpOnce();
      atA += take(a, 3);
      atB += take(b, 3);
      while (a.ReadMemberData(2, mark.data(), 8)) {
        int64_t t0;
        std::memcpy(&t0, mark.data(), sizeof t0);
        delays.push_back(NowNs() - t0);
      }
      take(b, 1);
      for (int32_t slot = 1; slot <= 3; ++slot) take(s.Host, slot);
    }
    ms += t.elapsed();
  }
  std::sort(delays.begin(), delays.end());
  const double seconds = std::max<double>(1, static_cast<double>(ms)) / 1000.0;
  state.counters["flood_at_a_MBps"] = static_cast<double>(atA) / seconds / 1e6;
  state.counters["flood_at_b_MBps"] = static_cast<double>(atB) / seconds / 1e6;
  state.counters["mark_median_ms"] =
      delays.empty() ? -1.0 : static_cast<double>(delays[delays.size() / 2]) / 1e6;
  state.counters["dropped"] = (s.Host.MemberUsed(1) ? 0 : 1) + (s.Host.MemberUsed(2) ? 0 : 1);
}

void BM_RelayMemberToThreeMembers(benchmark::State& state) { RunRelay(state, 1, {2, 3, 4}, 4); }
void BM_HostToThreeMembers(benchmark::State& state) { RunRelay(state, 0, {1, 2, 3}, 3); }

// ---------------------------------------------------------------- one point of the widest pen

class TWindowTarget : public TPaintTarget {
 public:
  TWindowTarget(int32_t w, int32_t h) : Canvas(w, h) {}
  TPixelView Surface() override { return Canvas.View(); }
  void SurfaceChanged(const TRect&) override {}
  TTC Canvas;
};

// Arg 0, the anchor: 8 pixels a segment along the middle row; 1: from one side of the paper to
// the other, 37 rows apart, as the hostile member's zig-zag; 2: from one corner to the other.
void BM_WidestStrokePoint(benchmark::State& state) {
  constexpr int32_t side = 5000, points = 65535;
  const int64_t path = state.range(0);
  TPaper paper;
  paper.Init("NONAME", side, side);
  paper.Layers->Flow().SetSlotCount(4);
  for (int i = 1; i < 8; ++i) paper.Layers->AddLayer(lkMultiply);
  paper.SetMemberCount(4);
  paper.SetNetMode(1);
  paper.Display.SetCentre(side / 2, side / 2);
  paper.PreviewImage.SetSize(160, 160);  // as the preview window sizes it
  TWindowTarget window(1280, 800);

  TEventPacket stroke;
  TStroke wide;
  wide.LoadPreset(bkPen, 1);
  wide.SetWidth(256.0f);
  wide.SetLayer(2);
  stroke.BeginStroke(wide, 0.0f, 0.0f, 1.0f);
  for (int32_t i = 1; i <= points; ++i) {
    const float far = static_cast<float>(i % 2 ? side - 1 : 0);
    if (path == 0) stroke.AddStrokePoint(static_cast<float>(100 + (i * 8) % 4800), side / 2.0f, 1.0f);
    if (path == 1) stroke.AddStrokePoint(far, static_cast<float>((i * 37) % side), 1.0f);
    if (path == 2) stroke.AddStrokePoint(far, far, 1.0f);
  }
  stroke.EndStroke();
  TStroke brush;
  // The first points load the layer's working copy; they are not timed.
  for (int i = 0; i < 16; ++i) paper.PlayEvent(stroke, brush, &window);
  for (auto _ : state) {
    if (!stroke.InStroke()) {
      state.SkipWithError("the stroke ended");
      break;
    }
    paper.PlayEvent(stroke, brush, &window);
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_RelayMemberToThreeMembers)->Arg(64)->Arg(1024)->Arg(4080)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostToThreeMembers)->Arg(64)->Arg(4080)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloodingMember)->Iterations(6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WidestStrokePoint)->ArgName("path")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  QCoreApplication app(argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
