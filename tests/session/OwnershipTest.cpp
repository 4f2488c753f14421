// A member's events reach only the layers its slot owns: the host neither keeps nor relays
// the others, a member keeps none of them, and a paper that plays what was kept shows the
// other members' layers untouched.
#include <gtest/gtest.h>

#include <cctype>

#include "engine/EventPacket.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "platform/core/Clock.h"
#include "session/wire/OwnerFilter.h"
#include "session/wire/SessionCore.h"
#include "tests/session/LoopbackUtil.h"
#include "tests/session/SessionTestUtil.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kPerMember = 2, kMembers = 3;  // slot 1 owns layers 2 and 3

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// An event with its layer byte after the code.
Bytes OnLayer(uint16_t code, size_t size, uint8_t layer) {
  Bytes e = Event(code, size, 0);
  e[2] = layer;
  return e;
}

// A stroke of brush kind 0 on a layer with one point after the first.
Bytes Stroke(uint8_t layer) {
  Bytes e = Event(0, 27 + 6, 0);
  e[2] = layer;
  e[10] = 10;  // width 10
  e[19] = 10, e[21] = 10, e[23] = 0, e[24] = 2;  // first point 10,10 pressure 0.5
  e[25] = 1;                                     // one more point
  e[27] = 30, e[29] = 30, e[31] = 0, e[32] = 2;
  return e;
}

Bytes FillRect(uint8_t layer) {
  Bytes e = OnLayer(ecFillRect, 14, layer);
  e[3] = 0, e[5] = 0, e[7] = 40, e[9] = 40;  // 0,0 40 x 40
  e[11] = 0x10, e[12] = 0x20, e[13] = 0x30;
  return e;
}

Bytes Polygon(uint8_t layer) {
  Bytes e = OnLayer(ecClearPolygon, 5 + 4 * 3, layer);
  e[3] = 3;
  e[5] = 0, e[9] = 40, e[13] = 0, e[15] = 40;
  return e;
}

struct TOwnCase {
  const char* What;
  Bytes Event;
  bool Passes;
};

void PrintTo(const TOwnCase& c, std::ostream* os) { *os << c.What; }

std::vector<TOwnCase> OwnCases() {
  return {
      {"stroke on the host's layer", Stroke(0), false},
      {"stroke on its own layer", Stroke(3), true},
      {"clear of the host's layer", OnLayer(ecClearLayer, 3, 1), false},
      {"clear of its own layer", OnLayer(ecClearLayer, 3, 2), true},
      {"fill of another member's layer", OnLayer(ecFillSelection, 6, 4), false},
      {"rectangle fill of another member's layer", FillRect(5), false},
      {"rectangle fill of its own layer", FillRect(2), true},
      {"undo on the host's layer", OnLayer(ecUndo, 3, 0), false},
      {"undo on its own layer", OnLayer(ecUndo, 3, 3), true},
      {"polygon clear of the host's layer", Polygon(0), false},
      {"line on another member's layer", OnLayer(ecLine, 29, 4), false},
      {"flip of the host's layer", OnLayer(ecLayerMirror, 3, 1), false},
      {"offset of the host's layer", OnLayer(ecOffsetLayer, 7, 0), false},
      {"undo steps of the host's layer cleared", OnLayer(ecClearUndoLayer, 3, 0), false},
      {"the host's layer chosen", OnLayer(ecSelectLayer, 3, 0), false},
      {"a layer beyond the paper", OnLayer(ecClearLayer, 3, 200), false},
      {"visibility of the host's layer", Bytes{0x12, 0x01, 0, 0}, false},
      {"visibility of its own layer", Bytes{0x12, 0x01, 3, 0}, true},
      {"opacity of another member's layer", Bytes{0x13, 0x01, 4, 9}, false},
      {"opacity of its own layer", Bytes{0x13, 0x01, 2, 9}, true},
      {"kind of another member's layer", Bytes{0x14, 0x01, 5, 1}, false},
      {"kind of its own layer", Bytes{0x14, 0x01, 3, 2}, true},
      {"kind of a layer beyond the paper", Bytes{0x14, 0x01, 6, 2}, false},
      {"show only its own layer", Bytes{0x15, 0x01, 2}, false},
      {"show only the host's layer", Bytes{0x15, 0x01, 0}, false},
      {"a paper-wide event", Event(ecRotateRight, 2), true},
      {"the end marker", Event(ecEnd, 2), false},
  };
}

class OwnershipCore : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetFakeClock(100000);
    host.BeginServer("HOTE", "pw");
    host.SetLayerOwners(kPerMember, kMembers);
    for (int32_t conn : {11, 12}) {
      ASSERT_NE(JoinAndLogin(host, conn, "M" + std::to_string(conn)), 0);
      host.SetJoinLock(false);
    }
    Drain();
    link.Sent.clear();
  }
  void TearDown() override { plat::UseRealClock(); }
  void Feed(int32_t conn, const Bytes& b) {
    host.ConnectionData(conn, b.data(), static_cast<int32_t>(b.size()));
  }
  void Drain() {
    for (int i = 0; i < 200; ++i) host.Flush();
  }
  Bytes Kept(int32_t slot) {
    Bytes b(static_cast<size_t>(host.MemberDataSize(slot)));
    if (!b.empty()) {
      EXPECT_TRUE(host.ReadMemberData(slot, b.data(), static_cast<int32_t>(b.size())));
    }
    return b;
  }
  Bytes RelayedFrom(int32_t conn, int32_t sender) {
    Bytes out;
    for (const TFrame& f : SplitFrames(link.Sent[conn])) {
      if (f.H.Kind == mkData && f.H.Sender == sender) out.insert(out.end(), f.Payload.begin(), f.Payload.end());
    }
    return out;
  }

  TRecordingLink link;
  TSessionCore host{&link};
};

class OwnershipCases : public OwnershipCore, public ::testing::WithParamInterface<TOwnCase> {};

}  // namespace

// Each event between two of the member's own clears, so that a dropped event also shows that
// the stream goes on after it.
TEST_P(OwnershipCases, HostKeepsAndRelaysOnlyWhatTheSlotMaySend) {
  const TOwnCase& c = GetParam();
  const Bytes mark = OnLayer(ecClearLayer, 3, 2);
  Feed(11, MakeFrame(mkData, 1, mdAll, Cat({mark, c.Event, mark})));
  Drain();
  const Bytes want = c.Passes ? Cat({mark, c.Event, mark}) : Cat({mark, mark});
  EXPECT_EQ(Kept(1), want) << c.What;
  EXPECT_EQ(RelayedFrom(12, 1), want) << c.What;
}

// A member sorts what it receives the same way, from the host and from the other members.
TEST_P(OwnershipCases, MemberKeepsOnlyWhatTheSenderMaySend) {
  const TOwnCase& c = GetParam();
  TRecordingLink mlink;
  TSessionCore member(&mlink);
  member.BeginClient("M", "pw");
  member.HostConnected();
  const Bytes assign = MakeFrame(mkAssignId, 0, 2, Int32Payload(2));
  member.HostData(assign.data(), static_cast<int32_t>(assign.size()));
  member.SetLayerOwners(kPerMember, kMembers);
  // The same event as sent by slot 1 (may touch layers 2, 3) and by the host (0, 1).
  const Bytes mark = OnLayer(ecClearLayer, 3, 2);
  const Bytes hostMark = OnLayer(ecClearLayer, 3, 0);
  const Bytes frames = Cat({MakeFrame(mkData, 1, mdAll, Cat({mark, c.Event, mark})),
                            MakeFrame(mkData, 0, 2, Cat({hostMark, c.Event}))});
  member.HostData(frames.data(), static_cast<int32_t>(frames.size()));
  Bytes got1(static_cast<size_t>(member.MemberDataSize(1)));
  member.ReadMemberData(1, got1.data(), static_cast<int32_t>(got1.size()));
  EXPECT_EQ(got1, c.Passes ? Cat({mark, c.Event, mark}) : Cat({mark, mark})) << c.What;
  // Taken from the host only when it acts on a layer of the host's own or on none.
  const bool hostMay = EventAllowedFrom(c.Event.data(), c.Event.size(), 0, TLayerOwners{kPerMember, kMembers});
  Bytes got0(static_cast<size_t>(member.MemberDataSize(0)));
  member.ReadMemberData(0, got0.data(), static_cast<int32_t>(got0.size()));
  EXPECT_EQ(got0, hostMay ? Cat({hostMark, c.Event}) : hostMark) << c.What;
}

INSTANTIATE_TEST_SUITE_P(Events, OwnershipCases, ::testing::ValuesIn(OwnCases()),
                         [](const ::testing::TestParamInfo<TOwnCase>& info) {
                           std::string n;
                           for (const char* p = info.param.What; *p; ++p) n += std::isalnum(*p) ? *p : '_';
                           return n;
                         });

TEST_F(OwnershipCore, EventsSplitAnywhereAreSortedAlike) {
  const Bytes stream = Cat({Stroke(0), OnLayer(ecClearLayer, 3, 2), Stroke(3), FillRect(0), FillRect(3),
                            Polygon(1), OnLayer(ecUndo, 3, 3)});
  const Bytes want = Cat({OnLayer(ecClearLayer, 3, 2), Stroke(3), FillRect(3), OnLayer(ecUndo, 3, 3)});
  for (size_t piece : {1u, 2u, 5u, 26u, 27u, 28u}) {
    SCOPED_TRACE(piece);
    for (size_t at = 0; at < stream.size(); at += piece) {
      const size_t n = std::min(piece, stream.size() - at);
      Feed(11, MakeFrame(mkData, 1, mdAll, Bytes(stream.begin() + long(at), stream.begin() + long(at + n))));
    }
    Drain();
    EXPECT_EQ(Kept(1), want);
    EXPECT_EQ(RelayedFrom(12, 1), want);
    link.Sent.clear();
  }
}

// A code that stops a player without its payload must not smuggle that payload in as an
// event of its own: the paper size's four bytes here spell a clear of the host's layer.
TEST_F(OwnershipCore, NoPayloadIsReadAsAnEventOfItsOwn) {
  const Bytes smuggle = Cat({Event(ecPaperSize, 2), OnLayer(ecClearLayer, 3, 0), Bytes{0}});
  const Bytes junk = Bytes{0x07, 0x00, 0x24, 0x01, 0x00};  // code 7 is no event
  const Bytes mark = OnLayer(ecClearLayer, 3, 3);
  Feed(11, MakeFrame(mkData, 1, mdAll, Cat({smuggle, junk, mark})));
  Drain();
  // The paper size is dropped whole; code 7 alone, then the clear of layer 0 after it too.
  EXPECT_EQ(Kept(1), mark);
  EXPECT_EQ(RelayedFrom(12, 1), mark);
}

// What a hostile member sends, played on a session paper as the painter plays a slot's data:
// the host's and the other member's layers keep their pixels.
TEST_F(OwnershipCore, APaperPlayingTheKeptEventsKeepsTheOtherLayers) {
  TPaper paper;
  ASSERT_TRUE(paper.Init("NONAME", 64, 64));
  for (int32_t i = 1; i < kPerMember * kMembers; ++i) paper.Layers->AddLayer(lkMultiply);
  paper.SetNetMode(1);
  for (int32_t i = 0; i < kPerMember * kMembers; ++i) paper.Layers->FillRect(i, 0, 0, 64, 64, 0xFF112233u);
  auto pixels = [&](int32_t i) { return paper.Layers->LayerImage(i)->GetPixel(5, 5) & 0xFFFFFF; };

  Bytes attack;
  for (uint8_t layer = 0; layer < kPerMember * kMembers; ++layer) {
    attack = Cat({attack, OnLayer(ecClearLayer, 3, layer), Stroke(layer), FillRect(layer)});
  }
  Feed(11, MakeFrame(mkData, 1, mdAll, attack));
  Drain();
  TEventPacket packet;
  TStroke brush;
  const Bytes kept = Kept(1);
  packet.Data().WriteBuffer(kept.data(), static_cast<int32_t>(kept.size()));
  for (int i = 0; i < 200 && packet.Data().Remaining() > 0; ++i) paper.PlayEvent(packet, brush, nullptr);
  EXPECT_EQ(packet.Data().Remaining(), 0);
  for (int32_t i = 0; i < kPerMember * kMembers; ++i) {
    SCOPED_TRACE(i);
    if (i / kPerMember == 1) {
      EXPECT_EQ(pixels(i), 0x102030u);  // its own layers: cleared, then filled by it
    } else {
      EXPECT_EQ(pixels(i), 0x112233u);
    }
  }
}

// Over real sockets: the host's layer states of a join still reach the newcomer, and what a
// member sends about another's layer reaches nobody.
TEST(OwnershipSession, LayerStatesOfTheHostReachTheNewcomerAndForeignPixelsNobody) {
  plat::UseRealClock();
  TMySocket host(nullptr), good(nullptr);
  ASSERT_TRUE(host.StartServer(0, "HOTE", "pw", QHostAddress::LocalHost));
  host.SetLayerOwners(kPerMember, kMembers);
  ASSERT_TRUE(good.StartClient("127.0.0.1", host.ServerPort(), "GOOD", "pw"));
  ASSERT_TRUE(PumpUntil([&] { return host.MemberLoginArrived(1) && good.LoggedIn; }, {&host, &good}));
  good.SetLayerOwners(kPerMember, kMembers);
  host.SetJoinLock(false);
  TRawPeer evil;
  ASSERT_TRUE(evil.Connect(host.ServerPort()));
  ASSERT_TRUE(PumpUntil([&] { return !evil.FramesOf(mkAssignId).empty(); }, {&host, &good}));
  evil.Send(MakeFrame(mkLogin, 2, mdHost, LoginPayload("EVIL", "pw")));
  ASSERT_TRUE(PumpUntil([&] { return host.MemberLoginArrived(2) && host.MemberCount == 3; }, {&host, &good}));

  // The host's join: the state of every layer the newcomer does not own, then its own stroke.
  Bytes states;
  for (uint8_t i = 0; i < kPerMember * kMembers; ++i) {
    if (i / kPerMember == 2) continue;
    states = Cat({states, Bytes{0x12, 0x01, i, 1}, Bytes{0x13, 0x01, i, 200}, Bytes{0x14, 0x01, i, 0}});
  }
  const Bytes hostOwn = Stroke(1);
  host.SendData(mdAll, states.data(), static_cast<int32_t>(states.size()));
  host.SendData(mdAll, hostOwn.data(), static_cast<int32_t>(hostOwn.size()));
  const int32_t fromHost = static_cast<int32_t>(states.size() + hostOwn.size());
  ASSERT_TRUE(PumpUntil([&] { return evil.FramesOf(mkData).size() >= 2 && good.MemberDataSize(0) == fromHost; },
                        {&host, &good}));
  Bytes toEvil;
  for (const TFrame& f : evil.FramesOf(mkData)) toEvil.insert(toEvil.end(), f.Payload.begin(), f.Payload.end());
  EXPECT_EQ(toEvil, Cat({states, hostOwn}));

  const Bytes own = OnLayer(ecClearLayer, 3, 4);
  evil.Send(MakeFrame(mkData, 2, mdAll,
                      Cat({OnLayer(ecClearLayer, 3, 0), OnLayer(ecClearLayer, 3, 2), FillRect(1), own})));
  ASSERT_TRUE(PumpUntil([&] { return good.MemberDataSize(2) >= 3 && host.MemberDataSize(2) >= 3; }, {&host, &good}));
  PumpFor(50, {&host, &good});
  Bytes atGood(static_cast<size_t>(good.MemberDataSize(2))), atHost(static_cast<size_t>(host.MemberDataSize(2)));
  good.ReadMemberData(2, atGood.data(), static_cast<int32_t>(atGood.size()));
  host.ReadMemberData(2, atHost.data(), static_cast<int32_t>(atHost.size()));
  EXPECT_EQ(atGood, own);
  EXPECT_EQ(atHost, own);
}
