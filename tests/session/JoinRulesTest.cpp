// What the host's session does for the join handshake: a member is heard only once it is
// admitted, a refused member is closed once its reply is written, and a newcomer gets every
// member's data from an event start.
#include <gtest/gtest.h>

#include "engine/EventPacket.h"
#include "platform/core/Clock.h"
#include "session/wire/SessionCore.h"
#include "tests/session/LoopbackUtil.h"
#include "tests/session/SessionTestUtil.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Slice(const Bytes& b, size_t from, size_t to) {
  return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to));
}

class JoinRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetFakeClock(500000);
    host.BeginServer("HOTE", "pw");
    host.AdmitOnAccept = false;
  }
  void TearDown() override { plat::UseRealClock(); }

  // Accepts a connection, logs it in and, if asked, admits it; returns its slot.
  int32_t Join(int32_t conn, bool admit = true) {
    const int32_t slot = JoinAndLogin(host, conn, "M" + std::to_string(conn));
    EXPECT_NE(slot, 0);
    if (admit) host.Admit(slot);
    host.SetJoinLock(false);
    return slot;
  }
  void Feed(int32_t conn, const Bytes& bytes) {
    host.ConnectionData(conn, bytes.data(), static_cast<int32_t>(bytes.size()));
  }
  void DrainAll() {
    for (int i = 0; i < 100; ++i) host.Flush();
  }
  std::vector<TFrame> Taken(int32_t conn) { return SplitFrames(link.Sent[conn]); }
  std::vector<TFrame> TakenOf(int32_t conn, int32_t kind) {
    std::vector<TFrame> out;
    for (TFrame& f : Taken(conn)) {
      if (f.H.Kind == kind) out.push_back(std::move(f));
    }
    return out;
  }
  // The data bytes one connection got from one sender, in order.
  Bytes DataFrom(int32_t conn, int32_t sender) {
    Bytes out;
    for (const TFrame& f : TakenOf(conn, mkData)) {
      if (f.H.Sender == sender) out.insert(out.end(), f.Payload.begin(), f.Payload.end());
    }
    return out;
  }

  TRecordingLink link;
  TSessionCore host{&link};
};

}  // namespace

TEST_F(JoinRulesTest, AMemberNotYetAdmittedIsNeitherKeptNorRelayed) {
  Join(11);
  int chats = 0;
  host.SetOnChat([&] { ++chats; });
  const int32_t slot = Join(12, false);
  ASSERT_EQ(slot, 2);
  EXPECT_TRUE(host.MemberLoginArrived(2));  // its login counts: the password is checked
  EXPECT_FALSE(host.MemberAdmitted(2));

  Feed(12, Cat({MakeFrame(mkData, 2, mdAll, Event(292, 3, 0x66)),
                MakeFrame(mkChat, 2, mdAll, {'h', 'i'})}));
  DrainAll();
  EXPECT_EQ(host.MemberDataSize(2), 0);
  EXPECT_EQ(chats, 0);
  EXPECT_EQ(host.TakeChatText(2), "");
  EXPECT_TRUE(TakenOf(11, mkData).empty());
  EXPECT_TRUE(TakenOf(11, mkChat).empty());

  host.Admit(2);
  const Bytes later = Event(512, 6, 0x44);
  Feed(12, Cat({MakeFrame(mkData, 2, mdAll, later), MakeFrame(mkChat, 2, mdAll, {'y', 'o'})}));
  DrainAll();
  ASSERT_EQ(host.MemberDataSize(2), 6);
  Bytes got(6);
  ASSERT_TRUE(host.ReadMemberData(2, got.data(), 6));
  EXPECT_EQ(got, later);
  EXPECT_EQ(chats, 1);
  EXPECT_EQ(host.TakeChatText(2), "yo");
  EXPECT_EQ(DataFrom(11, 2), later);
  ASSERT_EQ(TakenOf(11, mkChat).size(), 1u);
  EXPECT_EQ(TakenOf(11, mkChat)[0].Payload, (Bytes{'y', 'o'}));
}

TEST_F(JoinRulesTest, ARefusedMemberIsClosedOnceItsReplyIsWritten) {
  Join(11);
  const int32_t slot = Join(12, false);
  DrainAll();
  link.Sent.clear();
  link.TakeAtMost = 7;  // the connection takes a few bytes at a time
  int changes = 0;
  host.SetOnChange([&] { ++changes; });
  const int32_t words[6] = {10007, -2, 600, 600, 3, 2};
  for (int32_t w : words) {
    uint8_t b[4];
    PutInt32LE(b, w);
    host.SendData(slot, b, 4);
  }
  host.SendMemberList();
  host.CloseMemberAfterFlush(slot);
  host.SendData(mdAll, "late", 4);  // queued after the mark: never reaches it

  for (int i = 0; i < 400 && link.Finished.empty(); ++i) host.Flush();
  EXPECT_EQ(link.Finished, (std::vector<int32_t>{12}));
  EXPECT_TRUE(link.Dropped.empty());
  const std::vector<TFrame> got = Taken(12);
  size_t whole = 0;
  for (const TFrame& f : got) whole += kFrameHeaderSize + f.Payload.size();
  EXPECT_EQ(whole, link.Sent[12].size());  // only whole frames were written
  ASSERT_EQ(got.size(), 7u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(got[i].H.Dest, slot);
    EXPECT_EQ(got[i].Payload, Int32Payload(words[i]));
  }
  EXPECT_EQ(got[6].H.Kind, mkMemberList);

  // Taken up as a leave.
  EXPECT_FALSE(host.MemberUsed(slot));
  EXPECT_EQ(host.MemberCount, 2);
  EXPECT_EQ(host.LeavesPending, 1);
  EXPECT_EQ(host.LastLeftSlot, slot);
  EXPECT_EQ(changes, 1);
  DrainAll();
  EXPECT_EQ(DataFrom(11, 0), (Bytes{'l', 'a', 't', 'e'}));
  EXPECT_EQ(link.Finished.size(), 1u);
  // The slot is free for the next one.
  link.TakeAtMost = INT32_MAX;
  EXPECT_EQ(Join(13), slot);
}

TEST_F(JoinRulesTest, DroppingAMemberIsALeave) {
  Join(11);
  const int32_t slot = Join(12, false);
  host.DropMember(slot);
  EXPECT_EQ(link.Dropped, (std::vector<int32_t>{12}));
  EXPECT_FALSE(host.MemberUsed(slot));
  EXPECT_EQ(host.MemberCount, 2);
  EXPECT_EQ(host.LeavesPending, 1);
  host.DropMember(slot);  // gone already
  EXPECT_EQ(link.Dropped.size(), 1u);
}

// A sender that is in the middle of an event when a member joins reaches the newcomer only
// from its next event start (a frame is split there); the members already there get every
// byte.
TEST_F(JoinRulesTest, ANewcomerGetsEachStreamFromAnEventStart) {
  const Bytes fill = Event(296, 14, 0x33), clear = Event(292, 3, 0x22), paper = Event(512, 6, 1);
  struct Case {
    const char* name;
    Bytes before;
    std::vector<Bytes> after;  // one frame each
    Bytes joinerGets;
  };
  const Case cases[] = {
      {"mid-event", Slice(fill, 0, 9),
       {Cat({Slice(fill, 9, 14), Slice(clear, 0, 2)}), Slice(clear, 2, 3), paper},
       Cat({clear, paper})},
      {"mid-event over two frames", Slice(fill, 0, 3),
       {Slice(fill, 3, 8), Cat({Slice(fill, 8, 14), clear}), paper},
       Cat({clear, paper})},
      {"on a boundary", fill, {clear, paper}, Cat({clear, paper})},
      {"before the size is known", Slice(fill, 0, 1), {Slice(fill, 1, 14), clear}, clear},
      {"a frame ending on a boundary", Slice(fill, 0, 5), {Slice(fill, 5, 14), clear, paper},
       Cat({clear, paper})},
  };
  for (int32_t sender : {0, 1}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (sender == 0 ? ", the host's own" : ", relayed"));
      link = TRecordingLink();
      host.BeginServer("HOTE", "pw");
      host.AdmitOnAccept = false;
      Join(11);
      Join(12);
      auto send = [&](const Bytes& b) {
        if (sender == 0) {
          host.SendData(mdAll, b.data(), static_cast<int32_t>(b.size()));
        } else {
          Feed(11, MakeFrame(mkData, 1, mdAll, b));
        }
      };
      send(c.before);
      DrainAll();
      ASSERT_EQ(Join(13), 3);
      for (const Bytes& f : c.after) send(f);
      DrainAll();

      Bytes all = c.before;
      for (const Bytes& f : c.after) all.insert(all.end(), f.begin(), f.end());
      EXPECT_EQ(DataFrom(13, sender), c.joinerGets);
      EXPECT_EQ(DataFrom(12, sender), all);
      EXPECT_TRUE(DataFrom(11, 1).empty());  // never its own back
      if (sender == 0) {
        EXPECT_EQ(DataFrom(11, 0), all);
      } else {
        EXPECT_EQ(host.MemberDataSize(1), static_cast<int32_t>(all.size()));
      }
      // Held frames go one by one, the sender kept; the rest to everybody.
      for (const TFrame& f : TakenOf(12, mkData)) {
        EXPECT_EQ(f.H.Sender, sender);
        EXPECT_TRUE(f.H.Dest == mdAll || f.H.Dest == 2) << f.H.Dest;
      }
      // The newcomer's stream reads as whole events from its first byte.
      const Bytes joiner = DataFrom(13, sender);
      size_t pos = 0;
      while (pos < joiner.size()) {
        int32_t size = 0;
        ASSERT_EQ(MeasureEvent(joiner.data() + pos, static_cast<int32_t>(joiner.size() - pos), size),
                  TEventMeasure::Complete);
        pos += static_cast<size_t>(size);
      }
    }
  }
}

TEST_F(JoinRulesTest, ALeaveReleasesTheHoldAndTheNextOccupantStartsAnew) {
  Join(11);
  const Bytes fill = Event(296, 14, 0x33), clear = Event(292, 3, 0x22);
  host.SendData(mdAll, fill.data(), 9);
  ASSERT_EQ(Join(12), 2);  // held: the host is in the middle of an event
  host.ConnectionClosed(12);
  host.SendData(mdAll, fill.data() + 9, 5);
  DrainAll();
  // Nobody is held any more: the frame went to all, not one by one.
  const std::vector<TFrame> to1 = TakenOf(11, mkData);
  ASSERT_EQ(to1.size(), 2u);
  EXPECT_EQ(to1[1].H.Dest, mdAll);
  // A newcomer's own stream starts on a boundary: its first frame goes to all.
  ASSERT_EQ(Join(13), 2);
  Feed(13, MakeFrame(mkData, 2, mdAll, clear));
  DrainAll();
  EXPECT_EQ(DataFrom(11, 2), clear);
}

// Over a real connection: the refused peer reads its reply whole, then the host closes.
TEST(JoinRulesLoopbackTest, ARefusedPeerReadsItsReplyThenSeesTheClose) {
  plat::UseRealClock();
  TMySocket host(nullptr);
  ASSERT_TRUE(host.StartServer(0, "HOTE", "pw", QHostAddress::LocalHost)) << host.LastError;
  host.AdmitOnAccept = false;
  TRawPeer peer;
  ASSERT_TRUE(peer.Connect(host.ServerPort()));
  ASSERT_TRUE(PumpUntil([&] { return !peer.FramesOf(mkAssignId).empty(); }, {&host}));
  const int32_t slot = GetInt32LE(peer.FramesOf(mkAssignId)[0].Payload.data());
  peer.Send(MakeFrame(mkLogin, slot, mdHost, LoginPayload("CLIENT", "xx")));
  ASSERT_TRUE(PumpUntil([&] { return host.MemberLoginArrived(slot) && host.JoinsPending == 1; }, {&host}));
  uint8_t w[4];
  PutInt32LE(w, -2);
  host.SendData(slot, w, 4);
  host.SendMemberList();
  host.CloseMemberAfterFlush(slot);
  bool closed = false;
  QObject::connect(&peer.Socket(), &QTcpSocket::disconnected, [&] { closed = true; });
  ASSERT_TRUE(PumpUntil([&] { return closed; }, {&host}, 3000));
  EXPECT_EQ(host.MemberCount, 1);
  EXPECT_EQ(host.LeavesPending, 1);
  const std::vector<TFrame> data = peer.FramesOf(mkData);
  ASSERT_EQ(data.size(), 1u);
  EXPECT_EQ(data[0].Payload, Int32Payload(-2));
  const std::vector<TFrame> all = peer.Frames();
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.back().H.Kind, mkMemberList);
}
