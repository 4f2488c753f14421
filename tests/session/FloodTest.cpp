// One member sends valid strokes as fast as its socket takes them: the host slows that
// member down, the others keep their connections and keep receiving, and no queue grows
// past its bound.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <algorithm>

#include "platform/core/Clock.h"
#include "tests/session/LoopbackUtil.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kPerMember = 2, kMembers = 4;

// A stroke on a layer with n points after the first.
Bytes Stroke(uint8_t layer, uint16_t n) {
  Bytes e = Event(0, 27 + 6 * size_t{n}, 0);
  e[2] = layer;
  e[10] = 4;  // width 4
  e[25] = static_cast<uint8_t>(n);
  e[26] = static_cast<uint8_t>(n >> 8);
  for (size_t k = 0; k <= n; ++k) {
    const size_t at = k == 0 ? 19 : 27 + 6 * (k - 1);
    e[at] = static_cast<uint8_t>(k % 200);
    e[at + 2] = 20;
    e[at + 5] = 2;  // pressure 0.5
  }
  return e;
}

// Strokes on the sender's own layer, cut into data frames as a member's update loop cuts its
// record: events run on from one frame into the next.
Bytes FloodFrames(int32_t slot, size_t bytes) {
  Bytes stream;
  while (stream.size() < bytes) {
    const Bytes s = Stroke(static_cast<uint8_t>(slot * kPerMember), 700);
    stream.insert(stream.end(), s.begin(), s.end());
  }
  Bytes out;
  for (size_t at = 0; at < stream.size(); at += kMaxPayload) {
    const size_t n = std::min<size_t>(kMaxPayload, stream.size() - at);
    const Bytes f = MakeFrame(mkData, slot, mdAll, Bytes(stream.begin() + long(at), stream.begin() + long(at + n)));
    out.insert(out.end(), f.begin(), f.end());
  }
  return out;
}

// Takes every slot's received data, as a painter moves it to its recorders; returns the bytes.
int64_t Take(TMySocket& s, int32_t slot) {
  const int32_t n = s.MemberDataSize(slot);
  if (n <= 0) return 0;
  Bytes sink(static_cast<size_t>(n));
  EXPECT_TRUE(s.ReadMemberData(slot, sink.data(), n));
  return n;
}

// A raw member that joins as slot 3, the session's fourth member.
bool JoinAsSlot3(TRawPeer& peer, TMySocket& host, const std::vector<TMySocket*>& all) {
  if (!peer.Connect(host.ServerPort()) || !PumpUntil([&] { return !peer.FramesOf(mkAssignId).empty(); }, all))
    return false;
  peer.Send(MakeFrame(mkLogin, 3, mdHost, LoginPayload("FLOOD", "pw")));
  return PumpUntil([&] { return host.MemberLoginArrived(3) && host.MemberCount == 4; }, all);
}

}  // namespace

TEST(FloodSession, TheFlooderIsSlowedAndTheOthersKeepReceiving) {
  plat::UseRealClock();
  TMySocket host(nullptr), a(nullptr), b(nullptr);
  ASSERT_TRUE(host.StartServer(0, "HOTE", "pw", QHostAddress::LocalHost));
  host.SetLayerOwners(kPerMember, kMembers);
  const std::vector<TMySocket*> all{&host, &a, &b};
  int32_t slot = 1;
  for (TMySocket* m : {&a, &b}) {
    ASSERT_TRUE(m->StartClient("127.0.0.1", host.ServerPort(), "M", "pw"));
    ASSERT_TRUE(PumpUntil([&] { return host.MemberLoginArrived(slot) && m->LoggedIn; }, all));
    m->SetLayerOwners(kPerMember, kMembers);
    host.SetJoinLock(false);
    ++slot;
  }
  TRawPeer flooder;
  ASSERT_TRUE(JoinAsSlot3(flooder, host, all));

  const Bytes flood = FloodFrames(3, 512 * 1024);
  const Bytes mark = [] {  // b clears its own layer now and then
    Bytes e = Event(292, 3, 0);
    e[2] = 4;
    return e;
  }();
  int64_t floodAtA = 0, floodAtB = 0, marksSent = 0, marksAtA = 0;
  int64_t written = 0, mostOut = 0, mostRecv = 0, mostOwn = 0;
  bool slowed = false;
  QElapsedTimer t;
  t.start();
  for (int i = 0; t.elapsed() < 4000; ++i) {
    if (flooder.Socket().bytesToWrite() < int64_t{2} * 1024 * 1024) {
      flooder.Socket().write(reinterpret_cast<const char*>(flood.data()), static_cast<qint64>(flood.size()));
      written += static_cast<int64_t>(flood.size());
    } else {
      slowed = true;  // what it wrote waits in its own socket
    }
    if (i % 20 == 0 && b.SendData(mdAll, mark.data(), 3) == 3) ++marksSent;
    for (TMySocket* s : all) s->Flush();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    floodAtA += Take(a, 3);
    floodAtB += Take(b, 3);
    marksAtA += Take(a, 2) / 3;
    Take(b, 1);
    for (int32_t s = 1; s <= 3; ++s) {
      mostRecv = std::max<int64_t>(mostRecv, host.MemberDataSize(s));
      Take(host, s);
    }
    mostOut = std::max<int64_t>(mostOut, host.OutBuf.Size());
    mostOwn = std::max<int64_t>({mostOwn, a.OutBuf.Remaining(), b.OutBuf.Remaining()});
    ASSERT_TRUE(host.MemberUsed(1) && host.MemberUsed(2)) << "a good member was dropped after " << t.elapsed() << " ms; status " << int(a.Status) << "/"
        << int(b.Status) << " out " << host.OutBuf.Size() << " lag " << host.OutBuf.Size() - host.Slots[1].SendPos;
  }
  EXPECT_TRUE(slowed);
  EXPECT_LT(host.BytesReceived, written);
  EXPECT_GT(floodAtA, 0);
  EXPECT_GT(floodAtB, 0);
  EXPECT_GT(marksAtA, 0);
  // Bounds: the host's outgoing frames, the data not yet taken, the members' own frames.
  EXPECT_LE(mostOut, 3 * (kMaxRelayQueue + kMaxFrameSize) + 2 * kSessionBufferSize);
  EXPECT_LE(mostRecv, kMaxUnplayedInput);
  EXPECT_LE(mostOwn, kMaxOwnQueue + kMaxFrameSize);
  EXPECT_EQ(a.Status, ssOnline);
  EXPECT_EQ(b.Status, ssOnline);
  // Once the flood stops, every mark b sent reaches a.
  flooder.Socket().abort();
  EXPECT_TRUE(PumpUntil([&] {
    marksAtA += Take(a, 2) / 3;
    Take(a, 3);
    Take(b, 3);
    return marksAtA == marksSent;
  }, all, 20000)) << marksAtA << " of " << marksSent;
}

// While one member floods, another member's chat lines reach the host within a few pump rounds,
// and reach a slow member (one that reads 512 bytes a round) in their order while the flood goes
// on: the flood waits in its own bounded queues, not ahead of the others' lines.
TEST(FloodSession, ChatReachesTheHostAndASlowMemberWhileAnotherFloods) {
  plat::UseRealClock();
  TMySocket host(nullptr), a(nullptr);
  ASSERT_TRUE(host.StartServer(0, "HOTE", "pw", QHostAddress::LocalHost));
  host.SetLayerOwners(kPerMember, kMembers);
  std::vector<std::string> atHost;
  host.SetOnChat([&] {
    if (std::string t = host.TakeChatText(1); !t.empty()) atHost.push_back(t);
  });
  const std::vector<TMySocket*> all{&host, &a};
  ASSERT_TRUE(a.StartClient("127.0.0.1", host.ServerPort(), "A", "pw"));
  ASSERT_TRUE(PumpUntil([&] { return host.MemberLoginArrived(1) && a.LoggedIn; }, all));
  host.SetJoinLock(false);

  // The slow member keeps at most 64 KiB unread in its socket object and reads 512 bytes a round.
  QTcpSocket slow;
  slow.setReadBufferSize(64 * 1024);
  slow.connectToHost(QHostAddress::LocalHost, host.ServerPort());
  ASSERT_TRUE(slow.waitForConnected(3000));
  Bytes slowIn;
  size_t slowPos = 0;
  std::vector<std::string> atSlow;
  int64_t slowRead = 0;
  auto readSlow = [&](qint64 most) {
    const QByteArray b = slow.read(most);
    slowRead += b.size();
    slowIn.insert(slowIn.end(), b.begin(), b.end());
    SessionMessage m;
    while (ScanFrame(slowIn.data() + slowPos, slowIn.size() - slowPos, m) == TFrameScan::Frame) {
      const uint8_t* p = slowIn.data() + slowPos + kFrameHeaderSize;
      if (m.Kind == mkChat && m.Sender == 1) atSlow.emplace_back(p, p + m.Len);
      slowPos += kFrameHeaderSize + static_cast<size_t>(m.Len);
    }
    if (slowPos > (1 << 20)) {  // the flood is not kept
      slowIn.erase(slowIn.begin(), slowIn.begin() + static_cast<long>(slowPos));
      slowPos = 0;
    }
  };
  ASSERT_TRUE(PumpUntil([&] {
    readSlow(1 << 16);
    return slowIn.size() >= kFrameHeaderSize + 4;
  }, all));
  const std::vector<uint8_t> login = MakeFrame(mkLogin, 2, mdHost, LoginPayload("SLOW", "pw"));
  slow.write(reinterpret_cast<const char*>(login.data()), static_cast<qint64>(login.size()));
  ASSERT_TRUE(PumpUntil([&] {
    readSlow(1 << 16);
    return host.MemberLoginArrived(2);
  }, all));
  host.SetJoinLock(false);

  TRawPeer flooder;
  ASSERT_TRUE(JoinAsSlot3(flooder, host, all));

  const Bytes flood = FloodFrames(3, 512 * 1024);
  constexpr int kLines = 8;
  std::vector<int> sentAt, hostRounds, slowRounds;
  for (int round = 0; round < 20000 && static_cast<int>(atSlow.size()) < kLines; ++round) {
    if (flooder.Socket().bytesToWrite() < int64_t{2} * 1024 * 1024)
      flooder.Socket().write(reinterpret_cast<const char*>(flood.data()), static_cast<qint64>(flood.size()));
    // A line every 40 rounds once the flood is under way.
    if (round >= 200 && round % 40 == 0 && static_cast<int>(sentAt.size()) < kLines) {
      a.SendChat("line " + std::to_string(sentAt.size()));
      sentAt.push_back(round);
    }
    for (TMySocket* s : all) s->Flush();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    readSlow(512);
    Take(a, 3);
    Take(a, 2);
    for (int32_t s = 1; s <= 3; ++s) Take(host, s);
    if (hostRounds.size() < atHost.size()) hostRounds.push_back(round - sentAt[hostRounds.size()]);
    if (slowRounds.size() < atSlow.size()) {
      slowRounds.push_back(round - sentAt[slowRounds.size()]);
      EXPECT_GT(flooder.Socket().bytesToWrite(), 0) << "the flood had stopped when line " << slowRounds.size() - 1
                                                    << " reached the slow member";
    }
  }
  ASSERT_EQ(static_cast<int>(atHost.size()), kLines);
  ASSERT_EQ(static_cast<int>(atSlow.size()), kLines) << "lines that reached the slow member";
  for (int i = 0; i < kLines; ++i) {
    EXPECT_EQ(atHost[size_t(i)], "line " + std::to_string(i));
    EXPECT_EQ(atSlow[size_t(i)], "line " + std::to_string(i));
    EXPECT_LE(hostRounds[size_t(i)], 50) << "rounds until line " << i << " reached the host";
  }
  EXPECT_TRUE(host.MemberUsed(1) && host.MemberUsed(2) && host.MemberUsed(3));
  ::testing::Test::RecordProperty("slow_member_rounds_most",
                                  std::to_string(*std::max_element(slowRounds.begin(), slowRounds.end())));
  ::testing::Test::RecordProperty("slow_member_bytes_read", std::to_string(slowRead));
}
