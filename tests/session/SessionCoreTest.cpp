// The session protocol through a recording link: pacing, bounds and slot reuse, which real
// sockets on loopback cannot show deterministically.
#include <gtest/gtest.h>

#include "platform/core/Clock.h"
#include "session/wire/SessionCore.h"
#include "tests/session/SessionTestUtil.h"

namespace {

class SessionCoreTest : public ::testing::Test {
 protected:
  void SetUp() override { plat::SetFakeClock(100000); }
  void TearDown() override { plat::UseRealClock(); }

  // A host with members on the given connection ids, each logged in as "M<id>".
  void Host(std::initializer_list<int32_t> conns) {
    host.BeginServer("HOTE", "pw");
    for (int32_t c : conns) {
      ASSERT_NE(JoinAndLogin(host, c, "M" + std::to_string(c)), 0);
      host.SetJoinLock(false);
    }
    DrainAll();
  }
  void Feed(int32_t conn, const std::vector<uint8_t>& bytes) {
    host.ConnectionData(conn, bytes.data(), static_cast<int32_t>(bytes.size()));
  }
  void DrainAll() {
    for (int i = 0; i < 100; ++i) host.Flush();
  }
  std::vector<TFrame> Taken(int32_t conn) { return SplitFrames(link.Sent[conn]); }
  std::vector<TFrame> TakenData(int32_t conn) {
    std::vector<TFrame> out;
    for (TFrame& f : Taken(conn)) {
      if (f.H.Kind == mkData) out.push_back(std::move(f));
    }
    return out;
  }

  TRecordingLink link;
  TSessionCore host{&link};
};

}  // namespace

TEST_F(SessionCoreTest, SendCapsThePayload) {
  host.BeginServer("HOTE", "");
  std::vector<uint8_t> big(5000, 7);
  EXPECT_EQ(host.SendData(mdAll, big.data(), 5000), 4080);
  EXPECT_EQ(host.OutBuf.Size(), 16 + 4080);
  EXPECT_EQ(host.SendData(mdAll, big.data(), -3), 0);
  EXPECT_EQ(host.OutBuf.Size(), 16 + 4080 + 16);
}

TEST_F(SessionCoreTest, PartlyTakenFramesAreCompletedInOrderOneFramePerFlush) {
  Host({11, 12});
  link.Sent.clear();
  link.TakeAtMost = 5;
  std::vector<uint8_t> a(100, 'a'), b(7, 'b');
  host.SendData(mdAll, a.data(), 100);
  host.SendData(2, b.data(), 7);
  const int32_t before = host.BytesSent;
  // The first frame needs 116 / 5 -> 24 offers: no frame overtakes it.
  for (int i = 0; i < 23; ++i) host.Flush();
  EXPECT_TRUE(Taken(11).empty());
  host.Flush();
  ASSERT_EQ(Taken(11).size(), 1u);
  DrainAll();
  const std::vector<TFrame> to1 = Taken(11), to2 = Taken(12);
  ASSERT_EQ(to1.size(), 1u);  // the frame to slot 2 only is skipped for slot 1
  EXPECT_EQ(to1[0].Payload, a);
  ASSERT_EQ(to2.size(), 2u);
  EXPECT_EQ(to2[0].Payload, a);
  EXPECT_EQ(to2[1].Payload, b);
  EXPECT_EQ(host.BytesSent - before, 116 + 116 + 23);
}

TEST_F(SessionCoreTest, TrafficCountsGoPastTwoGigabytesWithoutWrapping) {
  Host({11});
  const int64_t start = (int64_t{1} << 31) - 10;
  host.BytesSent = start;
  host.BytesReceived = start;
  std::vector<uint8_t> a(100, 'a');
  host.SendData(mdAll, a.data(), 100);
  DrainAll();
  EXPECT_EQ(host.BytesSent, start + 116);
  Feed(11, MakeFrame(mkData, 1, mdAll, a));
  EXPECT_EQ(host.BytesReceived, start + 116);
}

// What a slot still holds of its former member comes first and is told apart from the next
// member's data, however the reads cut it.
TEST_F(SessionCoreTest, AFormerMembersDataAreToldApartFromTheNextMembers) {
  Host({11});
  const std::vector<uint8_t> clear = {0x24, 0x01, 0x02};  // whole events of slot 1
  std::vector<uint8_t> former;
  for (int i = 0; i < 4; ++i) former.insert(former.end(), clear.begin(), clear.end());
  Feed(11, MakeFrame(mkData, 1, mdAll, former));
  uint8_t two[2];
  ASSERT_TRUE(host.ReadMemberData(1, two, 2));
  EXPECT_EQ(host.MemberFormerDataSize(1), 0) << "its own member is still there";
  host.ConnectionClosed(11);
  ASSERT_EQ(JoinAndLogin(host, 12, "N"), 1);
  EXPECT_EQ(host.MemberFormerDataSize(1), 10);
  Feed(12, MakeFrame(mkData, 1, mdAll, clear));
  EXPECT_EQ(host.MemberDataSize(1), 13);
  EXPECT_EQ(host.MemberFormerDataSize(1), 10);
  uint8_t seven[7];
  ASSERT_TRUE(host.ReadMemberData(1, seven, 7));
  EXPECT_EQ(host.MemberFormerDataSize(1), 3);
  ASSERT_TRUE(host.ReadMemberData(1, seven, 6));
  EXPECT_EQ(host.MemberFormerDataSize(1), 0);
  EXPECT_EQ(host.MemberDataSize(1), 0);
}

TEST_F(SessionCoreTest, NoFrameIsOfferedToAConnectionHoldingTooMuchUnsent) {
  Host({11});
  link.UnsentBytes = kMaxUnsentBytes;
  const int offers = link.Offers;
  host.SendData(mdAll, "x", 1);
  DrainAll();
  EXPECT_EQ(link.Offers, offers);
  link.UnsentBytes = kMaxUnsentBytes - 1;
  host.Flush();
  EXPECT_EQ(link.Offers, offers + 1);
}

TEST_F(SessionCoreTest, MembersThatTakeNothingHoldTheHostsDataBackThenAreCutOff) {
  Host({11, 12});
  link.UnsentBytes = kMaxUnsentBytes;  // neither takes anything
  std::vector<uint8_t> chunk(kMaxPayload, 1);
  int frames = 0;
  while (host.SendData(mdAll, chunk.data(), kMaxPayload) > 0) ++frames;
  // The host's drawing waits in its recorder once a queue is at its bound.
  EXPECT_EQ(frames, static_cast<int>((kMaxRelayQueue + kMaxFrameSize - 1) / kMaxFrameSize));
  EXPECT_LT(host.OutBuf.Size(), kMaxRelayQueue + kSessionBufferSize);
  const int32_t before = host.OutBuf.Size();
  host.SendChat("still");  // control frames are never held back
  EXPECT_GT(host.OutBuf.Size(), before);
  plat::AdvanceFakeClock(kStallMs);
  host.Flush();
  EXPECT_TRUE(link.Dropped.empty());
  plat::AdvanceFakeClock(1);
  host.Flush();
  EXPECT_EQ(link.Dropped, (std::vector<int32_t>{11, 12}));
  EXPECT_EQ(host.MemberCount, 1);
  EXPECT_EQ(host.LeavesPending, 2);
  host.Flush();
  EXPECT_LT(host.OutBuf.Size(), kSessionBufferSize);  // nobody is left to take them
  EXPECT_EQ(host.SendData(mdAll, chunk.data(), kMaxPayload), kMaxPayload);
}

TEST_F(SessionCoreTest, OutgoingFramesEveryMemberTookAreDropped) {
  Host({11, 12});
  std::vector<uint8_t> chunk(kMaxPayload, 2);
  for (int i = 0; i < 300; ++i) {  // about 1.2 MB through the host
    host.SendData(mdAll, chunk.data(), kMaxPayload);
    host.Flush();
  }
  DrainAll();
  EXPECT_EQ(TakenData(12).size(), 300u);
  EXPECT_EQ(TakenData(11).size(), 300u);
  EXPECT_LT(host.OutBuf.Size(), kSessionBufferSize);
  // Input buffers shrink too: the parsed part is dropped.
  std::vector<uint8_t> frame = MakeFrame(mkData, 1, mdHost, chunk);
  for (int i = 0; i < 300; ++i) {
    Feed(11, frame);
    std::vector<uint8_t> sink(kMaxPayload);
    ASSERT_TRUE(host.ReadMemberData(1, sink.data(), kMaxPayload));
  }
  EXPECT_LE(host.Slots[1].RecvBuf.Capacity(), 2 * kSessionBufferSize);
}

TEST_F(SessionCoreTest, ALeavingMembersWholeEventsStayAndItsHalfEventIsDropped) {
  Host({11});
  const std::vector<uint8_t> paper = Event(512, 6, 0x11), clear = Event(292, 3, 0x22);
  std::vector<uint8_t> data = paper;
  data.insert(data.end(), clear.begin(), clear.begin() + 2);  // the leave cuts this one
  Feed(11, MakeFrame(mkData, 1, mdAll, data));
  host.ConnectionClosed(11);
  EXPECT_FALSE(host.MemberUsed(1));
  ASSERT_EQ(host.MemberDataSize(1), 6);

  // The next member gets slot 1; its bytes follow the former member's whole events.
  host.SetJoinLock(false);
  ASSERT_EQ(JoinAndLogin(host, 13, "M13"), 1);
  Feed(13, MakeFrame(mkData, 1, mdAll, clear));
  std::vector<uint8_t> got(9);
  ASSERT_TRUE(host.ReadMemberData(1, got.data(), 9));
  std::vector<uint8_t> want = paper;
  want.insert(want.end(), clear.begin(), clear.end());
  EXPECT_EQ(got, want);
}

TEST_F(SessionCoreTest, AHalfEventAlreadyTakenLeavesNothingBehind) {
  Host({11});
  std::vector<uint8_t> data = Event(296, 14, 0x33);  // ecFillRect, 14 bytes
  data.resize(9);
  Feed(11, MakeFrame(mkData, 1, mdAll, data));
  std::vector<uint8_t> part(4);
  ASSERT_TRUE(host.ReadMemberData(1, part.data(), 4));
  host.ConnectionClosed(11);
  EXPECT_EQ(host.MemberDataSize(1), 0);
  host.SetJoinLock(false);
  ASSERT_EQ(JoinAndLogin(host, 13, "M13"), 1);
  const std::vector<uint8_t> next = Event(258, 2);
  Feed(13, MakeFrame(mkData, 1, mdAll, next));
  EXPECT_EQ(host.MemberDataSize(1), 2);
}

TEST_F(SessionCoreTest, MembersBehindOneAddressLeaveByConnection) {
  Host({11, 12, 13});  // slots 1, 2, 3, all from 127.0.0.1
  host.ConnectionClosed(12);
  EXPECT_TRUE(host.MemberUsed(1));
  EXPECT_FALSE(host.MemberUsed(2));
  EXPECT_TRUE(host.MemberUsed(3));
  EXPECT_EQ(host.LastLeftSlot, 2);
  EXPECT_EQ(host.MemberCount, 3);
  EXPECT_EQ(host.Slots[1].ConnIndex, 0);
  EXPECT_EQ(host.Slots[3].ConnIndex, 1);
  // Frames still reach the right connections.
  link.Sent.clear();
  host.SendData(3, "z", 1);
  DrainAll();
  EXPECT_TRUE(TakenData(11).empty());
  ASSERT_EQ(TakenData(13).size(), 1u);
  // A second close of the same connection changes nothing.
  host.ConnectionClosed(12);
  EXPECT_EQ(host.MemberCount, 3);
  EXPECT_EQ(host.LeavesPending, 1);
}

TEST_F(SessionCoreTest, MemberAcceptsHostOnlyKindsFromTheHostOnly) {
  TSessionCore member(&link);
  member.BeginClient("CLIENT", "pw");
  member.HostConnected();
  auto feed = [&](const std::vector<uint8_t>& f) {
    member.HostData(f.data(), static_cast<int32_t>(f.size()));
  };
  int changes = 0;
  member.SetOnChange([&] { ++changes; });

  // Slot assignments that are refused: another sender, a slot out of range, a bad length.
  feed(MakeFrame(mkAssignId, 2, 1, Int32Payload(1)));
  feed(MakeFrame(mkAssignId, 0, 0, Int32Payload(0)));
  feed(MakeFrame(mkAssignId, 0, 8, Int32Payload(8)));
  feed(MakeFrame(mkAssignId, 0, 1, {1, 0, 0, 0, 0}));
  EXPECT_FALSE(member.LoggedIn);
  EXPECT_EQ(member.OutBuf.Size(), 0);
  feed(MakeFrame(mkAssignId, 0, 3, Int32Payload(3)));
  EXPECT_TRUE(member.LoggedIn);
  EXPECT_EQ(member.OwnId, 3);
  EXPECT_EQ(member.Status, ssOnline);

  std::vector<uint8_t> list(kMemberListSize, 0);
  std::memcpy(list.data(), "HOTE", 4);
  std::memcpy(list.data() + 3 * 32, "CLIENT", 6);
  feed(MakeFrame(mkMemberList, 5, mdAll, list));  // a member cannot send the list
  EXPECT_EQ(changes, 0);
  feed(MakeFrame(mkMemberList, 0, mdAll, list));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(member.MemberCount, 2);
  EXPECT_TRUE(member.MemberUsed(3));

  // Unknown kinds and senders out of range are skipped; the stream goes on.
  feed(MakeFrame(77, 0, mdAll, {1, 2, 3}));
  feed(MakeFrame(mkData, 99, mdAll, {1, 2, 3}));
  feed(MakeFrame(mkData, 1, mdAll, {4, 5}));
  EXPECT_EQ(member.MemberDataSize(1), 2);
  EXPECT_EQ(member.Status, ssOnline);

  // A length no frame can have ends the session.
  feed(MakeFrame(mkData, 0, mdAll, {}, -16));
  EXPECT_EQ(member.Status, ssDisconnected);
  EXPECT_EQ(link.Dropped, (std::vector<int32_t>{0}));
}

TEST_F(SessionCoreTest, MemberSendsOneFramePerFlushAndFinishesPartlySentOnes) {
  TSessionCore member(&link);
  member.BeginClient("CLIENT", "pw");
  member.HostConnected();
  link.TakeAtMost = 10;
  member.SendData(mdAll, "0123456789abcdef", 16);  // 32 bytes
  member.SendChat("hi");
  for (int i = 0; i < 3; ++i) member.Flush();
  EXPECT_EQ(link.Sent[0].size(), 30u);
  member.Flush();
  EXPECT_EQ(link.Sent[0].size(), 32u);  // the rest of the first frame, nothing of the next
  member.Flush();
  member.Flush();
  const std::vector<TFrame> frames = SplitFrames(link.Sent[0]);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].H.Kind, mkChat);
  EXPECT_EQ(member.BytesSent, 32 + 18);
}

TEST_F(SessionCoreTest, MemberCutsAFormerMembersHalfEventWhenTheListFreesItsSlot) {
  TSessionCore member(&link);
  member.BeginClient("CLIENT", "pw");
  member.HostConnected();
  auto feed = [&](const std::vector<uint8_t>& f) {
    member.HostData(f.data(), static_cast<int32_t>(f.size()));
  };
  auto list = [&](bool slot2) {
    std::vector<uint8_t> l(kMemberListSize, 0);
    std::memcpy(l.data(), "HOTE", 4);
    std::memcpy(l.data() + 32, "CLIENT", 6);
    if (slot2) std::memcpy(l.data() + 64, "B", 1);
    return MakeFrame(mkMemberList, 0, mdAll, l);
  };
  feed(MakeFrame(mkAssignId, 0, 1, Int32Payload(1)));
  feed(list(true));
  const std::vector<uint8_t> paper = Event(512, 6, 0x44), clear = Event(292, 3, 0x55);
  std::vector<uint8_t> data = paper;
  data.push_back(clear[0]);
  feed(MakeFrame(mkData, 2, mdAll, data));
  feed(list(false));
  EXPECT_EQ(member.MemberCount, 2);
  EXPECT_EQ(member.MemberDataSize(2), 6);
  feed(list(true));
  feed(MakeFrame(mkData, 2, mdAll, clear));
  std::vector<uint8_t> got(9), want = paper;
  want.insert(want.end(), clear.begin(), clear.end());
  ASSERT_TRUE(member.ReadMemberData(2, got.data(), 9));
  EXPECT_EQ(got, want);
}

TEST_F(SessionCoreTest, ALeaveAndAJoinBetweenTwoLooksChangeTheSlotsOccupant) {
  Host({11, 12});
  EXPECT_EQ(host.MemberOccupant(0), 1u);
  const uint32_t first = host.MemberOccupant(1);
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(host.MemberOccupant(3), 0u);
  EXPECT_EQ(host.MemberOccupant(-1), 0u);
  EXPECT_EQ(host.MemberOccupant(kMemberSlots), 0u);

  host.ConnectionClosed(11);
  host.SetJoinLock(false);
  ASSERT_EQ(JoinAndLogin(host, 13, "M13"), 1);
  EXPECT_TRUE(host.MemberUsed(1));  // used at both looks ...
  EXPECT_NE(host.MemberOccupant(1), first);  // ... yet someone else
  EXPECT_EQ(host.MemberOccupant(2), 1u);  // a member who stayed

  host.BeginServer("HOTE", "pw");  // a new session counts afresh
  EXPECT_EQ(host.MemberOccupant(1), 0u);
  EXPECT_EQ(host.MemberOccupant(0), 1u);
}

TEST_F(SessionCoreTest, MemberSeesANewOccupantFromTheMemberLists) {
  TSessionCore member(&link);
  member.BeginClient("CLIENT", "pw");
  member.HostConnected();
  auto list = [&](const char* slot2) {
    std::vector<uint8_t> l(kMemberListSize, 0);
    std::memcpy(l.data(), "HOTE", 4);
    std::memcpy(l.data() + 32, "CLIENT", 6);
    std::memcpy(l.data() + 64, slot2, std::strlen(slot2));
    const std::vector<uint8_t> f = MakeFrame(mkMemberList, 0, mdAll, l);
    member.HostData(f.data(), static_cast<int32_t>(f.size()));
  };
  list("B");
  const uint32_t first = member.MemberOccupant(2);
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(member.MemberOccupant(0), 1u);
  list("B");  // the same list again: nobody came or went
  EXPECT_EQ(member.MemberOccupant(2), first);
  list("");  // a leave and a join that arrive together
  list("C");
  EXPECT_TRUE(member.MemberUsed(2));
  EXPECT_EQ(member.MemberOccupant(2), first + 1);
  EXPECT_EQ(member.MemberOccupant(3), 0u);
}
