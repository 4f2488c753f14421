// A finished stroke from one session member to another through a host on 127.0.0.1: the
// time from the end of the stroke to its last byte in the receiver's recorder (the network),
// and to its last point played onto the receiver's paper (the network plus the paced replay,
// one step of one member in turn every 1000 / ((members - 1) x 120) ms, as the update loop
// plays). Each pump round is one update step on every side: the sender hands at most one
// frame of its record to its socket, every socket flushes, the receiver moves what arrived
// into its recorder and plays when its interval has passed.
// With 2 members the receiver is the host; with 4 it is another member, behind the relay.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>

#include <chrono>
#include <memory>
#include <vector>

#include "engine/EventPacket.h"
#include "engine/Flow.h"
#include "engine/Layer.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "platform/core/Clock.h"
#include "session/MySocket.h"

namespace {

constexpr int kGiveUpMs = 60000;
constexpr int32_t kSide = 600;
constexpr int32_t kLayersPerMember = 2;

double NowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct TRoom {
  TMySocket Host{nullptr};
  std::vector<std::unique_ptr<TMySocket>> Members;  // slot k at index k - 1

  void Pump() {
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
      Pump();
    }
    return true;
  }
  bool Open(int members) {
    if (!Host.StartServer(0, "HOTE", "pw", QHostAddress::LocalHost)) return false;
    for (int i = 1; i < members; ++i) {
      Members.push_back(std::make_unique<TMySocket>(nullptr));
      TMySocket& m = *Members.back();
      if (!m.StartClient("127.0.0.1", Host.ServerPort(), "M" + std::to_string(i), "pw")) return false;
      if (!PumpUntil([&] { return m.LoggedIn && Host.MemberLoginArrived(i); })) return false;
      Host.SetJoinLock(false);
    }
    return PumpUntil([&] {
      for (auto& m : Members) {
        if (m->MemberCount != members) return false;
      }
      return true;
    });
  }
};

// A stroke of n points on the sender's first layer.
std::vector<uint8_t> StrokeBytes(int32_t points, int32_t layer) {
  TStroke brush;
  brush.LayerIndex = static_cast<uint8_t>(layer);
  TEventPacket rec;
  rec.BeginStroke(brush, 50.0f, 50.0f, 0.7f);
  for (int32_t i = 1; i < points; ++i) {
    rec.AddStrokePoint(50.0f + static_cast<float>((i * 7) % 500), 50.0f + static_cast<float>((i * 11) % 500), 0.7f);
  }
  rec.EndStroke();
  const TMyMemory& d = rec.Data();
  return std::vector<uint8_t>(d.Memory(), d.Memory() + d.Size());
}

void BM_StrokeToAnotherMember(benchmark::State& state) {
  const int32_t points = static_cast<int32_t>(state.range(0));
  const int members = static_cast<int>(state.range(1));
  TRoom room;
  if (!room.Open(members)) {
    state.SkipWithError("session did not start");
    return;
  }
  constexpr int32_t senderSlot = 1;
  const int32_t receiverSlot = members == 2 ? 0 : 2;
  TMySocket& sender = *room.Members[0];
  TMySocket& receiver = receiverSlot == 0 ? room.Host : *room.Members[static_cast<size_t>(receiverSlot - 1)];
  const std::vector<uint8_t> stroke = StrokeBytes(points, senderSlot * kLayersPerMember);
  const int32_t size = static_cast<int32_t>(stroke.size());
  const uint32_t interval = 1000u / static_cast<uint32_t>((members - 1) * 120);
  double toByte = 0, toPixel = 0;

  for (auto _ : state) {
    TPaper paper;
    paper.Init("NONAME", kSide, kSide);
    paper.Layers->Flow().SetSlotCount(4);
    for (int i = 1; i < members * kLayersPerMember; ++i) paper.Layers->AddLayer(lkMultiply);
    TEventPacket rec;
    TStroke brush;
    int32_t sent = 0;
    int32_t next = receiverSlot;
    uint32_t lastStep = timeGetTime();
    double gotBytes = 0;

    const double t0 = NowMs();
    const bool done = room.PumpUntil([&] {
      if (sent < size) sent += sender.SendData(mdAll, stroke.data() + sent, size - sent);
      const int32_t n = receiver.MemberDataSize(senderSlot);
      if (n > 0 && rec.Data().Reserve(n) && receiver.ReadMemberData(senderSlot, rec.Data().WritePointer(), n)) {
        rec.Data().AddSize(n);
      }
      if (gotBytes == 0 && rec.Data().Size() == size) gotBytes = NowMs();
      const uint32_t now = timeGetTime();
      if (static_cast<uint32_t>(now - lastStep) >= interval) {
        lastStep = now;
        // One step of the next member in turn; only the sender has something to play.
        do next = (next + 1) % members;
        while (next == receiverSlot);
        if (next == senderSlot) paper.PlayEvent(rec, brush, nullptr);
      }
      if (receiverSlot != 0) {
        // The host drains the sender's data as its own update loop would.
        std::vector<uint8_t> sink(static_cast<size_t>(room.Host.MemberDataSize(senderSlot)));
        if (!sink.empty()) room.Host.ReadMemberData(senderSlot, sink.data(), static_cast<int32_t>(sink.size()));
      }
      return gotBytes != 0 && !rec.InStroke() && rec.Data().Remaining() == 0;
    });
    if (!done) {
      state.SkipWithError("the stroke did not arrive in time");
      return;
    }
    const double end = NowMs();
    state.SetIterationTime((end - t0) / 1000.0);
    toByte += gotBytes - t0;
    toPixel += end - t0;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["last_byte_ms"] = toByte / n;
  state.counters["last_pixel_ms"] = toPixel / n;
  state.counters["bytes"] = size;
}

}  // namespace

BENCHMARK(BM_StrokeToAnotherMember)
    ->ArgNames({"points", "members"})
    ->ArgsProduct({{50, 200, 1000}, {2, 4}})
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  QCoreApplication app(argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
