// Hosting and joining over 127.0.0.1: the bytes on the wire, relay, slots, the join lock,
// keepalive, chat and failures.
#include <gtest/gtest.h>

#include "platform/core/Clock.h"
#include "platform/core/MessageBox.h"
#include "tests/session/LoopbackUtil.h"

namespace {

const std::string kKanji = "\xE6\xBC\xA2";  // 漢, two bytes in CP932

std::string Repeat(const std::string& s, int n) {
  std::string r;
  for (int i = 0; i < n; ++i) r += s;
  return r;
}

std::vector<uint8_t> Pad(const std::string& s, size_t n) {
  std::vector<uint8_t> v(n, 0);
  std::copy(s.begin(), s.end(), v.begin());
  return v;
}

class MySocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetFakeClock(1000000);
    ASSERT_TRUE(host.StartServer(0, "HOTE", "pw", QHostAddress::LocalHost)) << host.LastError;
    port = host.ServerPort();
    ASSERT_NE(port, 0);
  }
  void TearDown() override { plat::UseRealClock(); }

  // A member that has joined and logged in; the host's join lock is lifted after it, as
  // the session window does at the end of a handshake.
  void Join(TMySocket& m, const std::string& name, int slot) {
    ASSERT_TRUE(m.StartClient("127.0.0.1", port, name, "pw"));
    ASSERT_TRUE(PumpUntil([&] { return host.MemberLoginArrived(slot) && m.LoggedIn; },
                          {&host, &m}));
    EXPECT_EQ(m.OwnId, slot);
    host.SetJoinLock(false);
  }

  // A raw peer that logs in with the slot it is told; the slot.
  int32_t RawJoin(TRawPeer& raw, const std::string& name, const char* from = "127.0.0.1") {
    EXPECT_TRUE(std::string(from) == "127.0.0.1" ? raw.Connect(port) : raw.ConnectFrom(from, port));
    EXPECT_TRUE(PumpUntil([&] { return !raw.FramesOf(mkAssignId).empty(); }, {&host}));
    if (raw.FramesOf(mkAssignId).empty()) return 0;
    const int32_t slot = GetInt32LE(raw.FramesOf(mkAssignId).back().Payload.data());
    raw.Send(MakeFrame(mkLogin, slot, mdHost, LoginPayload(name, "pw")));
    return slot;
  }

  TMySocket host{nullptr};
  uint16_t port = 0;
};

}  // namespace

TEST_F(MySocketTest, HostWithTwoMembersRelaysAMembersDataToTheOtherOnly) {
  TMySocket a(nullptr), b(nullptr);
  Join(a, "ALICE", 1);
  Join(b, "BOB", 2);
  ASSERT_TRUE(PumpUntil([&] { return a.MemberCount == 3 && b.MemberCount == 3; }, {&host, &a, &b}));
  EXPECT_EQ(a.MemberName(0), "HOTE");
  EXPECT_EQ(a.MemberName(2), "BOB");
  EXPECT_EQ(b.MemberAddress(1), "127.0.0.1");
  EXPECT_EQ(host.MemberName(1), "ALICE");
  EXPECT_EQ(host.MemberPassword(2), "pw");
  EXPECT_EQ(host.Status, ssOnline);
  EXPECT_EQ(a.Status, ssOnline);

  EXPECT_EQ(a.SendData(mdAll, "hello", 5), 5);
  host.SendData(mdAll, "from host", 9);
  ASSERT_TRUE(PumpUntil([&] {
    return b.MemberDataSize(1) == 5 && host.MemberDataSize(1) == 5 && a.MemberDataSize(0) == 9;
  }, {&host, &a, &b}));
  PumpFor(100, {&host, &a, &b});
  EXPECT_EQ(a.MemberDataSize(1), 0);  // never sent back to its sender
  char got[5];
  ASSERT_TRUE(b.ReadMemberData(1, got, 5));
  EXPECT_EQ(std::string(got, 5), "hello");
  EXPECT_FALSE(b.ReadMemberData(1, got, 1));  // nothing more, nothing read
  EXPECT_GT(host.BytesSent, 0);
  EXPECT_GT(a.BytesSent, 0);
  EXPECT_GT(b.BytesReceived, 0);

  // A member's leave: the host frees the slot, the others see an all-zero entry.
  b.CloseSocket();
  ASSERT_TRUE(PumpUntil([&] { return a.MemberCount == 2; }, {&host, &a}));
  EXPECT_FALSE(a.MemberUsed(2));
  EXPECT_EQ(host.MemberCount, 2);
  EXPECT_EQ(host.LastLeftSlot, 2);
  EXPECT_EQ(host.LeavesPending, 1);
  EXPECT_EQ(host.MemberName(2), "BOB");  // kept for the leave notice
}

TEST_F(MySocketTest, BytesOfSlotAssignmentAndMemberList) {
  host.SendData(mdAll, "early", 5);  // queued before the member came: never sent to it
  TRawPeer raw;
  ASSERT_TRUE(raw.Connect(port));
  ASSERT_TRUE(PumpUntil([&] { return raw.Frames().size() >= 1; }, {&host}));
  PumpFor(50, {&host});
  // Until its login it is told its slot and nothing else.
  const std::vector<uint8_t> assign = {1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0};
  EXPECT_EQ(raw.In, assign);
  EXPECT_EQ(host.MemberCount, 1);

  // Its login takes it in: the list that follows carries its name and address.
  raw.Send(MakeFrame(mkLogin, 1, mdHost, LoginPayload("RAW", "pw")));
  ASSERT_TRUE(PumpUntil([&] { return raw.In.size() >= 20u + 272u; }, {&host}));
  PumpFor(50, {&host});
  std::vector<uint8_t> list = {4, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 1, 0, 0};
  std::vector<uint8_t> area(256, 0);
  std::copy_n("HOTE", 4, area.begin());
  std::copy_n("RAW", 3, area.begin() + 32);
  std::copy_n("127.0.0.1", 9, area.begin() + 48);
  list.insert(list.end(), area.begin(), area.end());
  EXPECT_EQ(std::vector<uint8_t>(raw.In.begin() + 20, raw.In.begin() + 20 + static_cast<long>(list.size())), list);
  EXPECT_EQ(raw.FramesOf(mkAssignId).size(), 1u);  // told its slot once
  EXPECT_EQ(host.MemberCount, 2);
  EXPECT_EQ(raw.FramesOf(mkData).size(), 0u);
}

TEST_F(MySocketTest, BytesOfTheLogin) {
  QTcpServer rawHost;
  ASSERT_TRUE(rawHost.listen(QHostAddress::LocalHost, 0));
  TMySocket m(nullptr);
  ASSERT_TRUE(m.StartClient("127.0.0.1", rawHost.serverPort(), "CLIENT", "secret"));
  EXPECT_EQ(m.Status, ssConnecting);
  ASSERT_TRUE(PumpUntil([&] { return rawHost.hasPendingConnections(); }, {&m}));
  TRawPeer peer(rawHost.nextPendingConnection());
  peer.Send(MakeFrame(mkAssignId, 0, 2, Int32Payload(2)));
  ASSERT_TRUE(PumpUntil([&] { return peer.In.size() >= 48; }, {&m}));
  std::vector<uint8_t> want = {2, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0};
  const std::vector<uint8_t> name = Pad("CLIENT", 16), pass = Pad("secret", 16);
  want.insert(want.end(), name.begin(), name.end());
  want.insert(want.end(), pass.begin(), pass.end());
  EXPECT_EQ(peer.In, want);
  EXPECT_EQ(m.OwnId, 2);
  EXPECT_TRUE(m.LoggedIn);
  EXPECT_EQ(m.Status, ssOnline);

  // A keepalive is consumed without a trace; the host's close is a disconnect.
  int notes = 0;
  m.SetOnChat([&] { ++notes; });
  m.SetOnChange([&] { ++notes; });
  peer.Send(MakeFrame(mkKeepAlive, 0, mdAll, Int32Payload(0)));
  PumpFor(50, {&m});
  EXPECT_EQ(notes, 0);
  EXPECT_EQ(m.Status, ssOnline);
  peer.Socket().disconnectFromHost();
  ASSERT_TRUE(PumpUntil([&] { return m.Status == ssDisconnected; }, {&m}));
}

TEST_F(MySocketTest, FrameSplitOverManyReadsAndFramesSharingOneRead) {
  TRawPeer raw;
  ASSERT_TRUE(raw.Connect(port));
  ASSERT_TRUE(PumpUntil([&] { return !raw.FramesOf(mkAssignId).empty(); }, {&host}));
  const int32_t before = host.BytesReceived;
  const std::vector<uint8_t> login = MakeFrame(mkLogin, 1, mdHost, LoginPayload("SLOW", "pw"));
  for (size_t i = 0; i + 1 < login.size(); ++i) {
    raw.Send({login[i]});
    ASSERT_TRUE(PumpUntil([&] { return host.BytesReceived == before + int32_t(i) + 1; }, {&host}));
  }
  EXPECT_FALSE(host.MemberLoginArrived(1));
  EXPECT_EQ(host.MemberCount, 1);
  raw.Send({login.back()});
  ASSERT_TRUE(PumpUntil([&] { return host.MemberLoginArrived(1); }, {&host}));
  EXPECT_EQ(host.MemberName(1), "SLOW");

  std::vector<uint8_t> two = MakeFrame(mkData, 1, mdAll, {1, 2, 3});
  const std::vector<uint8_t> second = MakeFrame(mkData, 1, mdAll, {4, 5});
  two.insert(two.end(), second.begin(), second.end());
  raw.Send(two);
  ASSERT_TRUE(PumpUntil([&] { return host.MemberDataSize(1) == 5; }, {&host}));
  uint8_t got[5];
  ASSERT_TRUE(host.ReadMemberData(1, got, 5));
  EXPECT_EQ(std::vector<uint8_t>(got, got + 5), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

TEST_F(MySocketTest, EighthMemberIsRefusedAndChangesNoCounter) {
  std::vector<std::unique_ptr<TRawPeer>> peers;
  for (int i = 1; i <= 7; ++i) {
    peers.push_back(std::make_unique<TRawPeer>());
    ASSERT_EQ(RawJoin(*peers.back(), "M" + std::to_string(i)), i);
    ASSERT_TRUE(PumpUntil([&] { return host.MemberCount == i + 1; }, {&host}));
    EXPECT_EQ(host.LastJoinedSlot, i);
    host.SetJoinLock(false);
  }
  TRawPeer eighth;
  ASSERT_TRUE(eighth.Connect(port));
  ASSERT_TRUE(PumpUntil([&] { return !eighth.Connected(); }, {&host}));
  PumpFor(50, {&host});
  EXPECT_TRUE(eighth.In.empty());  // closed without any frame
  EXPECT_EQ(host.MemberCount, 8);
  EXPECT_EQ(host.JoinsPending, 7);
  EXPECT_EQ(host.LeavesPending, 0);
  EXPECT_FALSE(host.RejectPending);
  for (auto& p : peers) EXPECT_TRUE(p->Connected());
}

TEST_F(MySocketTest, ALoginArrivingDuringAnotherJoinWaitsForItsEndOrForThirtySeconds) {
  TRawPeer first;
  ASSERT_EQ(RawJoin(first, "FIRST"), 1);
  ASSERT_TRUE(PumpUntil([&] { return host.MemberCount == 2; }, {&host}));
  EXPECT_TRUE(host.JoinLock);

  // While the first join runs the second is told the next slot, but its login waits: no
  // slot, no list, still connected.
  TRawPeer second;
  ASSERT_EQ(RawJoin(second, "SECOND"), 2);
  const int32_t received = host.BytesReceived;
  ASSERT_TRUE(PumpUntil([&] { return host.BytesReceived == received + 48; }, {&host}));
  plat::AdvanceFakeClock(30000);  // not yet more than 30000 ms
  PumpFor(100, {&host});
  EXPECT_EQ(second.Frames().size(), 1u);
  EXPECT_TRUE(second.Connected());
  EXPECT_EQ(host.MemberCount, 2);
  EXPECT_EQ(host.HeldCount(), 1);

  plat::AdvanceFakeClock(1);  // the lock was never lifted, but it is old now
  ASSERT_TRUE(PumpUntil([&] { return host.MemberCount == 3; }, {&host}));
  EXPECT_EQ(host.LastJoinedSlot, 2);
  EXPECT_EQ(host.MemberName(2), "SECOND");
  ASSERT_TRUE(PumpUntil([&] { return !second.FramesOf(mkMemberList).empty(); }, {&host}));
  EXPECT_TRUE(host.JoinLock);  // set again by this join
  EXPECT_TRUE(first.Connected());

  // A third waits for the second's join, which ends when the second closes.
  TRawPeer third;
  ASSERT_EQ(RawJoin(third, "THIRD"), 3);
  ASSERT_TRUE(PumpUntil([&] { return host.BytesReceived == received + 96; }, {&host}));
  PumpFor(50, {&host});
  EXPECT_EQ(host.MemberCount, 3);
  second.Socket().abort();
  ASSERT_TRUE(PumpUntil([&] { return host.MemberLoginArrived(3); }, {&host}));
  EXPECT_EQ(host.MemberName(3), "THIRD");
  EXPECT_EQ(host.MemberCount, 3);
}

// A login whose slot went to another while it waited is told the next free slot, and taken
// in once it logs in with that one.
TEST_F(MySocketTest, ALoginWhoseSlotWasTakenMeanwhileIsToldAnother) {
  TRawPeer a, b;
  ASSERT_TRUE(a.Connect(port));
  ASSERT_TRUE(b.Connect(port));
  ASSERT_TRUE(PumpUntil([&] { return !a.FramesOf(mkAssignId).empty() && !b.FramesOf(mkAssignId).empty(); }, {&host}));
  // Both were told slot 1, the free one.
  EXPECT_EQ(a.FramesOf(mkAssignId)[0].Payload, Int32Payload(1));
  EXPECT_EQ(b.FramesOf(mkAssignId)[0].Payload, Int32Payload(1));
  a.Send(MakeFrame(mkLogin, 1, mdHost, LoginPayload("A", "pw")));
  ASSERT_TRUE(PumpUntil([&] { return host.MemberLoginArrived(1); }, {&host}));
  b.Send(MakeFrame(mkLogin, 1, mdHost, LoginPayload("B", "pw")));
  const int32_t received = host.BytesReceived;
  ASSERT_TRUE(PumpUntil([&] { return host.BytesReceived == received + 48; }, {&host}));
  host.SetJoinLock(false);
  ASSERT_TRUE(PumpUntil([&] { return b.FramesOf(mkAssignId).size() == 2; }, {&host}));
  EXPECT_EQ(b.FramesOf(mkAssignId)[1].Payload, Int32Payload(2));
  EXPECT_EQ(host.MemberName(1), "A");
  b.Send(MakeFrame(mkLogin, 2, mdHost, LoginPayload("B", "pw")));
  ASSERT_TRUE(PumpUntil([&] { return host.MemberLoginArrived(2); }, {&host}));
  EXPECT_EQ(host.MemberName(2), "B");
  EXPECT_EQ(host.MemberCount, 3);
}

TEST_F(MySocketTest, SilentConnectionsMakeRoomForNewOnesAndChangeNoCounter) {
  TRawPeer first;
  ASSERT_EQ(RawJoin(first, "FIRST"), 1);
  ASSERT_TRUE(PumpUntil([&] { return host.MemberCount == 2; }, {&host}));
  std::vector<std::unique_ptr<TRawPeer>> waiting;
  for (int i = 0; i < kMaxWaitingJoinsPerAddress + 1; ++i) {
    waiting.push_back(std::make_unique<TRawPeer>());
    ASSERT_TRUE(waiting.back()->Connect(port));
    ASSERT_TRUE(PumpUntil([&] { return !waiting.back()->FramesOf(mkAssignId).empty(); }, {&host}));
  }
  // One address has only so many places: the oldest silent one made room for the last.
  ASSERT_TRUE(PumpUntil([&] { return !waiting[0]->Connected(); }, {&host}));
  EXPECT_EQ(host.HeldCount(), kMaxWaitingJoinsPerAddress);
  waiting[1]->Socket().abort();
  ASSERT_TRUE(PumpUntil([&] { return host.HeldCount() == kMaxWaitingJoinsPerAddress - 1; }, {&host}));
  EXPECT_EQ(host.MemberCount, 2);
  EXPECT_EQ(host.LeavesPending, 0);
  // Those that never log in are closed after the login wait, and nothing changes.
  plat::AdvanceFakeClock(kLoginWaitMs + 1);
  ASSERT_TRUE(PumpUntil([&] { return host.HeldCount() == 0; }, {&host}));
  for (size_t i = 2; i < waiting.size(); ++i) {
    ASSERT_TRUE(PumpUntil([&] { return !waiting[i]->Connected(); }, {&host}));
  }
  EXPECT_EQ(host.MemberCount, 2);
  EXPECT_EQ(host.LeavesPending, 0);
  EXPECT_TRUE(first.Connected());
}

TEST_F(MySocketTest, KeepAliveStartsAfterTheFirstLoginAndComesEveryThirtySeconds) {
  plat::AdvanceFakeClock(40000);
  TRawPeer raw;
  ASSERT_TRUE(raw.Connect(port));
  ASSERT_TRUE(PumpUntil([&] { return !raw.FramesOf(mkAssignId).empty(); }, {&host}));
  PumpFor(50, {&host});
  EXPECT_TRUE(raw.FramesOf(mkKeepAlive).empty());  // nobody has logged in

  raw.Send(MakeFrame(mkLogin, 1, mdHost, LoginPayload("K", "pw")));
  ASSERT_TRUE(PumpUntil([&] { return raw.FramesOf(mkKeepAlive).size() == 1; }, {&host}));
  const TFrame k = raw.FramesOf(mkKeepAlive)[0];
  EXPECT_EQ(k.H.Sender, 0);
  EXPECT_EQ(k.H.Dest, mdAll);
  EXPECT_EQ(k.Payload, Int32Payload(0));

  plat::AdvanceFakeClock(30000);
  PumpFor(50, {&host});
  EXPECT_EQ(raw.FramesOf(mkKeepAlive).size(), 1u);
  plat::AdvanceFakeClock(1);
  ASSERT_TRUE(PumpUntil([&] { return raw.FramesOf(mkKeepAlive).size() == 2; }, {&host}));
  PumpFor(50, {&host});
  EXPECT_EQ(raw.FramesOf(mkKeepAlive).size(), 2u);
}

TEST_F(MySocketTest, ChatBothWaysWithALongJapaneseLine) {
  TMySocket a(nullptr), b(nullptr);
  Join(a, "ALICE", 1);
  Join(b, "BOB", 2);
  int hostChats = 0, aChats = 0, bChats = 0;
  host.SetOnChat([&] { ++hostChats; });
  a.SetOnChat([&] { ++aChats; });
  b.SetOnChat([&] { ++bChats; });

  const std::string line = Repeat(kKanji, 200);  // 200 characters, 400 bytes on the wire
  a.SendChat(line);
  ASSERT_TRUE(PumpUntil([&] { return hostChats == 1 && bChats == 1; }, {&host, &a, &b}));
  EXPECT_EQ(host.TakeChatText(1), line);
  EXPECT_EQ(b.TakeChatText(1), line);
  EXPECT_EQ(b.TakeChatText(1), "");  // taken
  PumpFor(100, {&host, &a, &b});
  EXPECT_EQ(aChats, 0);  // the sender echoes its own line itself

  const std::string hello = "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF";
  host.SendChat(hello);
  ASSERT_TRUE(PumpUntil([&] { return aChats == 1 && bChats == 2; }, {&host, &a, &b}));
  EXPECT_EQ(a.TakeChatText(0), hello);
  EXPECT_EQ(b.TakeChatText(0), hello);
  EXPECT_EQ(hostChats, 1);
}

TEST_F(MySocketTest, ListenAndConnectFailuresAreReportedToTheCaller) {
  plat::TMessageRecorder boxes;
  TMySocket second(nullptr);
  EXPECT_FALSE(second.StartServer(port, "X", "", QHostAddress::LocalHost));
  EXPECT_FALSE(second.LastError.empty());
  EXPECT_EQ(second.Status, ssIdle);
  EXPECT_FALSE(second.IsServer);

  uint16_t freePort = 0;
  {
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    freePort = probe.serverPort();
  }
  TMySocket m(nullptr);
  ASSERT_TRUE(m.StartClient("127.0.0.1", freePort, "CLIENT", ""));
  ASSERT_TRUE(PumpUntil([&] { return m.Status == ssConnectFailed; }, {&m}));
  EXPECT_FALSE(m.LastError.empty());
  EXPECT_FALSE(m.Client);

  TMySocket named(nullptr);
  EXPECT_FALSE(named.StartClient("localhost", port, "CLIENT", ""));  // no name look-up
  EXPECT_EQ(named.Status, ssConnectFailed);
  EXPECT_TRUE(boxes.Messages.empty());
}

TEST_F(MySocketTest, NamesAndPasswordsAreKeptAsTheWireCarriesThem) {
  TMySocket m(nullptr);
  const std::string longName = Repeat(kKanji, 10);  // 20 bytes in CP932
  ASSERT_TRUE(m.StartClient("127.0.0.1", port, longName, "0123456789abcdefgh"));
  EXPECT_EQ(m.UserName, Repeat(kKanji, 7));
  EXPECT_EQ(m.Password, "0123456789abcde");
  ASSERT_TRUE(PumpUntil([&] { return host.MemberLoginArrived(1); }, {&host, &m}));
  EXPECT_EQ(host.MemberName(1), m.UserName);
  EXPECT_EQ(host.MemberPassword(1), m.Password);
}
