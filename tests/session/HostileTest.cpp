// Hostile peers as raw sockets: whatever one sends, the host stays responsive for the
// well-behaved member, and nothing of the hostile frame reaches it.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

#include "platform/core/Clock.h"
#include "tests/session/LoopbackUtil.h"

namespace {

struct THostileCase {
  const char* What;
  std::vector<uint8_t> Bytes;
  bool Closed;  // the host closes the hostile connection
};

void PrintTo(const THostileCase& c, std::ostream* os) { *os << c.What; }

std::vector<uint8_t> Header(int32_t kind, int32_t sender, int32_t dest, int32_t len) {
  return MakeFrame(kind, sender, dest, {}, len);
}

std::vector<uint8_t> ForgedList() {
  std::vector<uint8_t> list(kMemberListSize, 0);
  std::memcpy(list.data(), "EVIL", 4);
  std::memcpy(list.data() + 32, "EVIL", 4);
  return list;
}

std::vector<uint8_t> UnterminatedNameLogin(int32_t slot) {
  std::vector<uint8_t> rec(kLoginRecordSize, 0);
  std::memset(rec.data(), 'N', 16);
  std::memcpy(rec.data() + 16, "pw", 2);
  return MakeFrame(mkLogin, slot, mdHost, rec);
}

class HostileSession : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetFakeClock(5000);
    ASSERT_TRUE(host.StartServer(0, "HOTE", "pw", QHostAddress::LocalHost));
    ASSERT_TRUE(good.StartClient("127.0.0.1", host.ServerPort(), "GOOD", "pw"));
    ASSERT_TRUE(PumpUntil([&] { return host.MemberLoginArrived(1) && good.LoggedIn; }, All()));
    host.SetJoinLock(false);
    ASSERT_TRUE(raw.Connect(host.ServerPort()));
    ASSERT_TRUE(PumpUntil([&] { return host.HeldCount() == 1; }, All()));
    raw.Send(MakeFrame(mkLogin, 2, mdHost, LoginPayload("RAW", "pw")));
    // The good member has seen the list that shows the new member.
    ASSERT_TRUE(PumpUntil([&] { return host.MemberCount == 3 && good.MemberAddress(2) == "127.0.0.1"; },
                          All()));
    host.SetJoinLock(false);
    good.SetOnChange([&] { ++goodChanges; });
    good.SetOnChat([&] { ++goodChats; });
  }
  void TearDown() override { plat::UseRealClock(); }
  std::vector<TMySocket*> All() { return {&host, &good}; }

  // The host still relays, takes data and sends its own.
  void ExpectHostServesTheGoodMember(const char* what) {
    const int32_t fromHost = good.MemberDataSize(0), fromGood = host.MemberDataSize(1);
    EXPECT_EQ(fromGood, 0) << what;  // nothing was taken for the good member's slot
    host.SendData(mdAll, "ping", 4);
    good.SendData(mdAll, "pong", 4);
    EXPECT_TRUE(PumpUntil([&] {
      return good.MemberDataSize(0) == fromHost + 4 && host.MemberDataSize(1) == fromGood + 4;
    }, All())) << what;
    EXPECT_EQ(good.Status, ssOnline);
    EXPECT_TRUE(host.Server && host.Server->isListening());
  }

  TMySocket host{nullptr};
  TMySocket good{nullptr};
  TRawPeer raw;
  int goodChanges = 0, goodChats = 0;
};

class HostileTest : public HostileSession, public ::testing::WithParamInterface<THostileCase> {};

}  // namespace

TEST_P(HostileTest, HostStaysResponsive) {
  const THostileCase& c = GetParam();
  raw.Send(c.Bytes);
  if (c.Closed) {
    ASSERT_TRUE(PumpUntil([&] { return !raw.Connected(); }, All())) << c.What;
    EXPECT_EQ(host.MemberCount, 2);
    EXPECT_EQ(host.LeavesPending, 1);
    EXPECT_EQ(host.LastLeftSlot, 2);
  } else {
    PumpFor(150, All());
    EXPECT_TRUE(raw.Connected()) << c.What;
    EXPECT_EQ(host.MemberCount, 3);
  }
  ExpectHostServesTheGoodMember(c.What);
  // Whatever the hostile peer sent, the good member's view is unchanged.
  EXPECT_EQ(good.OwnId, 1);
  EXPECT_EQ(good.MemberName(1), "GOOD");
  EXPECT_EQ(good.MemberName(0), "HOTE");
  EXPECT_EQ(good.MemberDataSize(2), 0);
  EXPECT_EQ(host.MemberDataSize(2), 0);
  if (!c.Closed) {
    EXPECT_EQ(goodChanges, 0) << c.What;
  }
  EXPECT_EQ(goodChats, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, HostileTest,
    ::testing::Values(
        THostileCase{"length -16", Header(mkData, 2, mdAll, -16), true},
        THostileCase{"length 0x7FFFFFFF", Header(mkData, 2, mdAll, 0x7FFFFFFF), true},
        THostileCase{"length 4081", Header(mkChat, 2, mdAll, 4081), true},
        THostileCase{"sender 99", MakeFrame(mkData, 99, mdAll, {1, 2, 3}), false},
        THostileCase{"another member's slot", MakeFrame(mkData, 1, mdAll, {1, 2, 3}), false},
        THostileCase{"member list from a member", MakeFrame(mkMemberList, 2, mdAll, ForgedList()),
                     false},
        THostileCase{"slot assignment from a member",
                     MakeFrame(mkAssignId, 2, 1, Int32Payload(5)), false},
        THostileCase{"keepalive from a member", MakeFrame(mkKeepAlive, 2, mdAll, Int32Payload(0)),
                     false},
        THostileCase{"unknown kind", MakeFrame(1234, 2, mdAll, {9, 9}), false},
        THostileCase{"login relayed to a member",
                     MakeFrame(mkLogin, 2, 1, LoginPayload("SPY", "secret")), false}),
    [](const ::testing::TestParamInfo<THostileCase>& info) {
      std::string n;
      for (const char* p = info.param.What; *p; ++p) n += std::isalnum(*p) ? *p : '_';
      return n;
    });

TEST_F(HostileSession, LongChatIsCutForEveryone) {
  std::vector<uint8_t> chat(kMaxPayload, 0x82);  // lead bytes only: hiragana without trails
  for (size_t i = 1; i < chat.size(); i += 2) chat[i] = 0xA0;
  int hostChats = 0;
  host.SetOnChat([&] { ++hostChats; });
  raw.Send(MakeFrame(mkChat, 2, mdAll, chat));
  ASSERT_TRUE(PumpUntil([&] { return hostChats == 1 && goodChats == 1; }, All()));
  const std::string atHost = host.TakeChatText(2), atGood = good.TakeChatText(2);
  EXPECT_EQ(atHost, atGood);
  EXPECT_EQ(atHost.size(), 511u * 3);  // 1023 bytes hold 511 whole characters
  EXPECT_TRUE(raw.Connected());
  goodChats = 0;
  ExpectHostServesTheGoodMember("long chat");
}

TEST_F(HostileSession, NameWithoutTerminatorDoesNotRunIntoThePassword) {
  TRawPeer other;
  ASSERT_TRUE(other.Connect(host.ServerPort()));
  ASSERT_TRUE(PumpUntil([&] { return !other.FramesOf(mkAssignId).empty(); }, All()));
  other.Send(UnterminatedNameLogin(3));
  ASSERT_TRUE(PumpUntil([&] { return host.MemberLoginArrived(3); }, All()));
  EXPECT_EQ(host.MemberName(3), std::string(16, 'N'));
  EXPECT_EQ(host.MemberPassword(3), "pw");
  // Passed on in the member list with room for its zero.
  ASSERT_TRUE(PumpUntil([&] { return good.MemberUsed(3); }, All()));
  EXPECT_EQ(good.MemberName(3), std::string(15, 'N'));
  ExpectHostServesTheGoodMember("unterminated name");
}

TEST(HostileHost, BadLengthFromTheHostEndsTheMembersSession) {
  for (int32_t len : {-16, 0x7FFFFFFF}) {
    QTcpServer rawHost;
    ASSERT_TRUE(rawHost.listen(QHostAddress::LocalHost, 0));
    TMySocket m(nullptr);
    ASSERT_TRUE(m.StartClient("127.0.0.1", rawHost.serverPort(), "CLIENT", ""));
    ASSERT_TRUE(PumpUntil([&] { return rawHost.hasPendingConnections(); }, {&m}));
    TRawPeer peer(rawHost.nextPendingConnection());
    peer.Send(MakeFrame(mkAssignId, 0, 1, Int32Payload(1)));
    ASSERT_TRUE(PumpUntil([&] { return m.LoggedIn; }, {&m}));
    peer.Send(MakeFrame(mkData, 0, mdAll, {}, len));
    ASSERT_TRUE(PumpUntil([&] { return m.Status == ssDisconnected; }, {&m})) << len;
    EXPECT_TRUE(PumpUntil([&] { return !peer.Connected(); }, {&m}));
    EXPECT_EQ(m.MemberDataSize(0), 0);
  }
}

TEST_F(HostileSession, AnAbortedMemberConnectionIsALeaveAndTheServerGoesOn) {
  raw.Send(MakeFrame(mkData, 2, mdAll, Event(258, 2)));  // a whole event, then gone
  ASSERT_TRUE(PumpUntil([&] { return good.MemberDataSize(2) == 2; }, All()));
  raw.Socket().abort();
  ASSERT_TRUE(PumpUntil([&] { return host.MemberCount == 2; }, All()));
  EXPECT_EQ(host.LastLeftSlot, 2);
  EXPECT_EQ(host.MemberDataSize(2), 2);  // its whole events are still there to be played
  ExpectHostServesTheGoodMember("abort");
  host.SetJoinLock(false);  // as the end of the hostile peer's handshake would
  TRawPeer next;  // the freed slot is given again
  ASSERT_TRUE(next.Connect(host.ServerPort()));
  ASSERT_TRUE(PumpUntil([&] { return !next.FramesOf(mkAssignId).empty(); }, All()));
  next.Send(MakeFrame(mkLogin, 2, mdHost, LoginPayload("NEXT", "pw")));
  ASSERT_TRUE(PumpUntil([&] { return host.MemberCount == 3; }, All()));
  EXPECT_EQ(host.LastJoinedSlot, 2);
}
