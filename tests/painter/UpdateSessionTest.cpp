// The session's side of the update loop on its own drivers, on the real clock: a host that
// is not the active application still answers a join, relays, plays and flushes, and sleeps
// while nothing arrives; a slot handed over with a large backlog keeps the event loop turning.
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

#include "engine/LayerMng.h"
#include "platform/core/Clock.h"
#include "session/wire/SessionFrame.h"
#include "tests/painter/NetTestUtil.h"

namespace {

class UpdateSession : public NetFixture {
 protected:
  void SetUp() override {
    NetFixture::SetUp();
    plat::UseRealClock();
    NetWindow->Timer1->setInterval(250);  // the handshake runs on its own timer
  }

  void Host(int maxMembers, int size) {
    NetWindow->SpinEditPort->setValue(0);
    NetWindow->SpinEditMaxMember->setValue(maxMembers);
    NetWindow->SpinEditLayer->setValue(1);
    NetWindow->SpinEditNetWidth->setValue(size);
    NetWindow->SpinEditNetHeight->setValue(size);
    NetWindow->EditServerUser->setText("HOTE");
    NetWindow->EditServerPassword->setText("pw");
    NetWindow->ButtonStandby->click();
    ASSERT_NE(NetState.Socket, nullptr);
    port_ = NetState.Socket->ServerPort();
    paper_ = NetWindow->SessionPaper();
    ASSERT_NE(paper_, nullptr);
  }

  // Runs the event loop as the program does (sleeping when idle) until pred holds; a 5 ms
  // timer of the test's own looks at the program between the program's own steps (EachTurn).
  bool RunUntil(const std::function<bool()>& pred, int ms = 20000) {
    QEventLoop loop;
    QTimer tick, limit;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
      if (EachTurn) EachTurn();
      if (pred()) loop.quit();
    });
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    tick.start(5);
    limit.start(ms);
    if (!pred()) loop.exec();
    return pred();
  }

  static Octets Login(int32_t slot, const std::string& name) {
    return Cat({Le(mkLogin), Le(slot), Le(mdHost), Le(32), Field(name, 16), Field("pw", 16)});
  }
  // A raw member comes, logs in and reads its whole reply.
  int32_t Join(TRawConn& m, const std::string& name) {
    if (!m.Connect(port_)) return -1;
    if (!RunUntil([&] { return !m.FramesOf(mkAssignId).empty(); })) return -1;
    const int32_t slot = ReadLe(m.FramesOf(mkAssignId)[0].Payload.data());
    m.Send(Login(slot, name));
    if (!RunUntil([&] { return m.DataFrom(0).size() >= 24 && NetState.Phase == npRunning; })) return -1;
    return slot;
  }
  static std::vector<int32_t> ReplyWords(const TRawConn& m) {
    const Octets d = m.DataFrom(0);
    std::vector<int32_t> out;
    for (size_t i = 0; i + 4 <= std::min<size_t>(d.size(), 24); i += 4) out.push_back(ReadLe(&d[i]));
    return out;
  }
  static void SendData(TRawConn& c, int32_t slot, const Octets& bytes) {
    Octets frames;
    for (size_t at = 0; at < bytes.size(); at += 4080) {
      const Octets piece(bytes.begin() + static_cast<long>(at),
                         bytes.begin() + static_cast<long>(std::min(bytes.size(), at + 4080)));
      const Octets f = Frame(mkData, slot, mdAll, piece);
      frames.insert(frames.end(), f.begin(), f.end());
    }
    c.Send(frames);
  }
  // Strokes of a wide pen on one layer, n points each.
  static Octets Strokes(int32_t layer, int count, int32_t points) {
    TEventPacket r;
    TStroke b;
    b.LoadPreset(bkPen, 1);
    b.SetWidth(12.0f);
    b.SetLayer(layer);
    for (int k = 0; k < count; ++k) {
      b.SetColor(0x102030u * static_cast<uint32_t>(k + 1) & 0xFFFFFFu);
      r.BeginStroke(b, 10.0f, static_cast<float>(10 + k % 200), 1.0f);
      for (int32_t i = 1; i <= points; ++i)
        r.AddStrokePoint(static_cast<float>(10 + (i * 3) % 230), static_cast<float>(10 + (k * 7 + i) % 230), 0.8f);
      r.EndStroke();
    }
    return Octets(r.Data().Memory(), r.Data().Memory() + r.Data().Size());
  }

  std::function<void()> EachTurn;
  uint16_t port_ = 0;
  TDrawWindow* paper_ = nullptr;
};

TEST_F(UpdateSession, AHostInTheBackgroundAnswersJoinsRelaysAndPlaysAndSleepsWhenIdle) {
  Host(3, 240);
  RunUntil([] { return false; }, 200);  // the windows that hosting showed have settled
  int wakes = 0;
  QObject::connect(VLMain->IdleTimer, &QTimer::timeout, VLMain->IdleTimer, [&] { ++wakes; });
  VLMain->AppDeactivate();  // another program is active from here on
  ASSERT_FALSE(VLMain->UpdateOn);
  ASSERT_FALSE(VLMain->UpdateTimer->isActive());

  TRawConn a, b;
  ASSERT_EQ(Join(a, "A"), 1);
  EXPECT_EQ(ReplyWords(a), (std::vector<int32_t>{10007, 0, 240, 240, 3, 1}));
  ASSERT_EQ(Join(b, "B"), 2);
  EXPECT_EQ(ReplyWords(b), (std::vector<int32_t>{10007, 0, 240, 240, 3, 1}));

  // A's stroke reaches B through the host and is played onto the host's paper; a chat line
  // goes round too.
  const Octets stroke = Strokes(1, 1, 40);
  const size_t bHad = b.DataFrom(1).size();
  SendData(a, 1, stroke);
  a.Send(Frame(mkChat, 1, mdAll, Octets{'h', 'i'}));
  ASSERT_TRUE(RunUntil([&] {
    return b.DataFrom(1).size() == bHad + stroke.size() && !b.FramesOf(mkChat).empty() &&
           paper_->Packets[1]->Data().ReadPos() == static_cast<int32_t>(stroke.size()) &&
           !paper_->Packets[1]->InStroke();
  }));
  EXPECT_GT(LayerInk(*paper_->Paper, 1), 0);
  EXPECT_EQ(b.FramesOf(mkChat)[0].Sender, 1);

  // Nothing arrives: the loop sleeps (a few wake-ups at most, where it spun before).
  RunUntil([] { return false; }, 300);
  wakes = 0;
  RunUntil([] { return false; }, 1000);
  EXPECT_LE(wakes, 5) << "wake-ups in a second with nothing to do";
  EXPECT_FALSE(VLMain->UpdateOn);
}

TEST_F(UpdateSession, AHandOverAfterABacklogKeepsTheEventLoopTurningAndTheNewcomerIsAdmitted) {
  Host(2, 240);
  ASSERT_TRUE(ActivatePainter());
  TRawConn a;
  ASSERT_EQ(Join(a, "A"), 1);

  // Far more than the paced replay plays before A goes: the rest waits in its slot.
  const Octets backlog = Strokes(1, 10, 250);
  SendData(a, 1, backlog);
  TMySocket* s = NetState.Socket;
  ASSERT_TRUE(RunUntil([&] {
    return paper_->Packets[1]->Data().Size() + s->MemberDataSize(1) == static_cast<int32_t>(backlog.size());
  }));
  a.Close();
  ASSERT_TRUE(RunUntil([&] { return !s->MemberUsed(1); }));
  ASSERT_GT(paper_->Packets[1]->Data().Remaining() + s->MemberDataSize(1), static_cast<int32_t>(backlog.size()) / 2);

  // The hand-over goes in slices and the event loop turns between them: the turns see it
  // part done, each further on than the one before.
  int partDone = 0;
  int32_t seenAt = -1;
  EachTurn = [&] {
    const int32_t at = paper_->Packets[1]->Data().ReadPos();
    if (paper_->HandingOver[1] && at != seenAt) ++partDone;
    if (paper_->HandingOver[1]) seenAt = at;
  };
  TRawConn b;
  ASSERT_EQ(Join(b, "B"), 1) << "the newcomer is admitted";
  EXPECT_EQ(ReplyWords(b), (std::vector<int32_t>{10007, 0, 240, 240, 2, 1}));
  ASSERT_TRUE(RunUntil([&] { return paper_->HandingOver[1] || paper_->SlotOccupant[1] == s->MemberOccupant(1); }));
  ASSERT_TRUE(paper_->HandingOver[1]) << "the backlog was handed over in one go";
  // A chat line B sends meanwhile is shown before the hand-over ends.
  b.Send(Frame(mkChat, 1, mdAll, Octets{'h', 'i'}));
  ASSERT_TRUE(RunUntil([&] { return HasLine("[B] hi") || !paper_->HandingOver[1]; }));
  EXPECT_TRUE(HasLine("[B] hi")) << "the chat line waited for the whole hand-over";
  EXPECT_TRUE(paper_->HandingOver[1]) << "the chat line waited for the whole hand-over";
  ASSERT_TRUE(RunUntil([&] { return !paper_->HandingOver[1]; }, 60000));
  EachTurn = nullptr;
  EXPECT_GE(partDone, 10) << "turns of the event loop that saw the hand-over part done";

  // Every whole event of A's was played before the slot went to B, and the record holds it.
  const std::unique_ptr<TPaper> atA = Replay(240, 240, 2, backlog);
  EXPECT_EQ(LayerDifference(*atA, *paper_->Paper, 1), 0);
  const Octets stroke = Strokes(1, 1, 10);
  SendData(b, 1, stroke);
  ASSERT_TRUE(RunUntil([&] {
    return paper_->Packets[1]->Data().ReadPos() == static_cast<int32_t>(stroke.size()) &&
           !paper_->Packets[1]->InStroke() && paper_->LoggedPos[1] == static_cast<int32_t>(stroke.size());
  }));
  // The session record replays to the host's layers.
  TEventPacket log;
  log.Data().WriteBuffer(paper_->Log->Data().Memory(), paper_->Log->Data().Size());
  TPaper replay;
  ReplayAll(replay, log);
  ASSERT_TRUE(replay.Layers);
  for (int32_t i = 0; i < 2; ++i) EXPECT_EQ(LayerDifference(replay, *paper_->Paper, i), 0) << i;
}

// One member's stroke of 65535 points at the widest pen, zig-zagging over the paper, plays one
// point per turn for minutes: meanwhile the other member's chat is shown and its strokes are
// played in their turns. Every point repaints the whole paper, so the paper is small enough
// for the turns to stay cheap on a crowded machine.
TEST_F(UpdateSession, TheLongestWidestStrokeLetsTheOthersEventsAndChatFlow) {
  Host(3, 240);
  ASSERT_TRUE(ActivatePainter());
  TRawConn a, b;
  ASSERT_EQ(Join(a, "A"), 1);
  ASSERT_EQ(Join(b, "B"), 2);

  TEventPacket r;
  TStroke wide;
  wide.LoadPreset(bkPen, 1);
  wide.SetWidth(256.0f);
  wide.SetLayer(1);
  r.BeginStroke(wide, 0.0f, 0.0f, 1.0f);
  for (int32_t i = 1; i <= 65535; ++i)
    r.AddStrokePoint(static_cast<float>(i % 2 ? 239 : 0), static_cast<float>((i * 37) % 240), 1.0f);
  r.EndStroke();
  const Octets longStroke(r.Data().Memory(), r.Data().Memory() + r.Data().Size());
  SendData(a, 1, longStroke);
  ASSERT_TRUE(RunUntil([&] { return paper_->Packets[1]->InStroke() && paper_->Packets[1]->PointCount() > 0; }));

  const Octets strokes = Strokes(2, 3, 20);
  SendData(b, 2, strokes);
  b.Send(Frame(mkChat, 2, mdAll, Octets{'s', 't', 'i', 'l', 'l', ' ', 'h', 'e', 'r', 'e'}));
  ASSERT_TRUE(RunUntil([&] {
    return HasLine("[B] still here") && paper_->Packets[2]->Data().ReadPos() == static_cast<int32_t>(strokes.size()) &&
           !paper_->Packets[2]->InStroke();
  }, 60000)) << "B's events wait behind A's stroke";
  EXPECT_TRUE(paper_->Packets[1]->InStroke()) << "A's stroke is still being played";
  EXPECT_EQ(LayerDifference(*Replay(240, 240, 3, strokes), *paper_->Paper, 2), 0);
}

}  // namespace
