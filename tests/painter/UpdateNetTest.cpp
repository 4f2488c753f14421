// The update step on a session paper, without the session window: the session record set up
// as hosting or joining leaves it, the connection object driven against raw peers on
// 127.0.0.1.
#include <QRegularExpression>
#include <QTcpServer>

#include "engine/LayerMng.h"
#include "session/wire/SessionFrame.h"
#include "tests/painter/NetTestUtil.h"

namespace {

// A pen stroke event on a layer: n points after the first, 2 pixels apart.
Octets StrokeEvent(int32_t layer, uint32_t colour, int32_t x0, int32_t y0, int32_t n) {
  TEventPacket r;
  TStroke b;
  b.LoadPreset(bkPen, 1);
  b.SetWidth(3.0f);
  b.SetLayer(layer);
  b.SetColor(colour);
  r.BeginStroke(b, static_cast<float>(x0), static_cast<float>(y0), 1.0f);
  for (int32_t i = 1; i <= n; ++i) {
    r.AddStrokePoint(static_cast<float>(x0 + 2 * i), static_cast<float>(y0 + i % 5), 0.75f);
  }
  r.EndStroke();
  const uint8_t* m = r.Data().Memory();
  return Octets(m, m + r.Data().Size());
}

Octets Piece(const Octets& b, size_t from, size_t to) {
  return Octets(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(std::min(to, b.size())));
}

class UpdateNet : public NetFixture {
 protected:
  void SetUp() override {
    NetFixture::SetUp();
    VLMain->SessionDriverOn = false;  // every step here is the test's own
  }
  void TearDown() override {
    if (VLMain) VLMain->SessionDriverOn = true;
    peers_.clear();
    // The papers close as offline ones; the test frees its own connection object.
    if (VLMain) {
      for (TDrawWindow* w : VLMain->DrawWindows()) {
        if (w->Paper) w->Paper->SetNetMode(0);
      }
    }
    NetState = TNetState{};
    delete socket_;
    socket_ = nullptr;
    NetFixture::TearDown();
  }

  // Runs events with the update loop's drivers stopped: the test runs every step itself.
  bool Pump(const std::function<bool()>& pred) {
    VLMain->IdleTimer->stop();
    VLMain->UpdateTimer->stop();
    return PumpUntil(pred, false);
  }

  // The session paper as hosting or joining builds it.
  TDrawWindow* SessionPaper(int32_t maxMembers, int32_t layersPerMember, int32_t memberIndex) {
    NetState.Width = 240;
    NetState.Height = 160;
    NetState.MaxMembers = maxMembers;
    NetState.LayersPerMember = layersPerMember;
    NetState.SentTotal = 0;
    NetState.Phase = npRunning;
    TDrawWindow* w = VLMain->CreateDrawWindow("");
    TPaper& p = *w->Paper;
    p.Init("NONAME", NetState.Width, NetState.Height);
    p.Layers->Flow().SetSlotCount(4);
    w->Log->WriteNewPaper(NetState.Width, NetState.Height);
    const int32_t layers = std::clamp(maxMembers, 1, 4) * layersPerMember;
    for (int32_t i = 1; i < layers; ++i) {
      p.Layers->AddLayer(lkMultiply);
      w->Log->WriteNewLayer(lkMultiply);
    }
    p.SetMemberIndex(memberIndex);
    p.SetMemberCount(maxMembers);
    p.Layers->SetActiveLayer(std::clamp(memberIndex, 0, 3) * layersPerMember);
    p.Display.FitWindow(p.Width(), p.Height(), *w);
    w->RecompositeAll();
    p.SetNetMode(1);
    w->LastActivity = timeGetTime();
    return w;
  }

  TDrawWindow* Host(int32_t maxMembers, int32_t layersPerMember) {
    socket_ = new TMySocket(VLMain);
    EXPECT_TRUE(socket_->StartServer(0, "HOTE", "pw", QHostAddress::LocalHost));
    NetState.Socket = socket_;
    NetState.IsHost = 1;
    return SessionPaper(maxMembers, layersPerMember, 0);
  }

  // A raw member that the host takes into the given slot.
  TRawConn& Join(int32_t slot) {
    peers_.push_back(std::make_unique<TRawConn>());
    TRawConn& c = *peers_.back();
    EXPECT_TRUE(c.Connect(socket_->ServerPort()));
    EXPECT_TRUE(Pump([&] { return !c.FramesOf(mkAssignId).empty(); }));
    c.Send(Cat({Le(mkLogin), Le(slot), Le(mdHost), Le(32), Field("M", 16), Field("pw", 16)}));
    EXPECT_TRUE(Pump([&] { return socket_->MemberUsed(slot) && socket_->MemberOccupant(slot) > occupied_[slot]; }));
    occupied_[slot] = socket_->MemberOccupant(slot);
    socket_->SetJoinLock(false);  // the handshake's end, which lets the next one in
    return c;
  }

  // The connection object joins a raw host as slot 1 of two, the host and "CLIENT".
  void JoinRawHost(QTcpServer& server, TRawConn*& host) {
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    socket_ = new TMySocket(VLMain);
    ASSERT_TRUE(socket_->StartClient("127.0.0.1", server.serverPort(), "CLIENT", "pw"));
    NetState.Socket = socket_;
    NetState.IsHost = 0;
    ASSERT_TRUE(server.waitForNewConnection(3000));
    peers_.push_back(std::make_unique<TRawConn>(server.nextPendingConnection()));
    Octets list(kMemberListSize, 0);
    std::copy_n("HOTE", 4, list.begin());
    std::copy_n("CLIENT", 6, list.begin() + kMemberListEntrySize);
    peers_.back()->Send(Cat({Frame(mkAssignId, 0, 1, Le(1)), Frame(mkMemberList, 0, mdAll, list)}));
    ASSERT_TRUE(Pump([&] { return socket_->Status == ssOnline && socket_->LoggedIn && socket_->MemberUsed(0); }));
    host = peers_.back().get();
  }

  static void SendData(TRawConn& c, int32_t slot, const Octets& bytes) { c.Send(Frame(mkData, slot, mdAll, bytes)); }

  // What each slot's player has taken so far.
  struct TSlotState {
    int32_t ReadPos;
    int32_t Points;
    bool InStroke;
    bool operator==(const TSlotState&) const = default;
  };
  static TSlotState StateOf(TDrawWindow* w, int32_t s) {
    return {w->Packets[s]->Data().ReadPos(), w->Packets[s]->PointCount(), w->Packets[s]->InStroke()};
  }

  static Octets BytesOf(TEventPacket& p) { return Bytes(p); }

  // Plays the session record on a fresh paper and compares every layer with the window's.
  static bool LogReplaysToLayers(TDrawWindow* w) {
    TEventPacket log;
    log.Data().WriteBuffer(w->Log->Data().Memory(), w->Log->Data().Size());
    TPaper replay;
    ReplayAll(replay, log);
    if (!replay.Layers || replay.Layers->LastIndex() != w->Paper->Layers->LastIndex()) return false;
    for (int32_t i = 0; i <= replay.Layers->LastIndex(); ++i) {
      if (LayerDifference(replay, *w->Paper, i) != 0) return false;
    }
    return true;
  }

  TMySocket* socket_ = nullptr;
  std::vector<std::unique_ptr<TRawConn>> peers_;
  uint32_t occupied_[kMemberSlots] = {};
};

TEST_F(UpdateNet, AHostPlaysItsMembersInTurnAtItsPaceAndSendsItsOwnStrokeWhole) {
  TDrawWindow* w = Host(3, 2);
  TRawConn& a = Join(1);
  TRawConn& b = Join(2);
  const Octets sa = StrokeEvent(2, 0x0000FF, 20, 20, 30), sb = StrokeEvent(4, 0xFF0000, 20, 90, 30);

  // Less than a stroke's head: nothing of it is played, however many steps run.
  SendData(a, 1, Piece(sa, 0, 5));
  ASSERT_TRUE(Pump([&] { return socket_->MemberDataSize(1) == 5; }));
  for (int i = 0; i < 20; ++i) {
    plat::AdvanceFakeClock(10);
    VLMain->UpdateStep();
  }
  EXPECT_EQ(StateOf(w, 1), (TSlotState{0, 0, false}));

  // The rest, cut at other bounds than the events'.
  SendData(a, 1, Piece(sa, 5, 27));
  SendData(a, 1, Piece(sa, 27, 100));
  SendData(a, 1, Piece(sa, 100, sa.size()));
  SendData(b, 2, Piece(sb, 0, 3));
  SendData(b, 2, Piece(sb, 3, 150));
  SendData(b, 2, Piece(sb, 150, sb.size()));
  ASSERT_TRUE(Pump([&] {
    return socket_->MemberDataSize(1) == static_cast<int32_t>(sa.size()) - 5 &&
           socket_->MemberDataSize(2) == static_cast<int32_t>(sb.size());
  }));

  // One step every 1000 div (2 x 120) = 4 ms, the two members in turn.
  std::vector<std::pair<uint32_t, int32_t>> plays;
  for (int i = 0; i < 1000 && plays.size() < 62; ++i) {
    plat::AdvanceFakeClock(1);
    const TSlotState s1 = StateOf(w, 1), s2 = StateOf(w, 2);
    VLMain->UpdateStep();
    if (!(StateOf(w, 1) == s1)) plays.push_back({timeGetTime(), 1});
    if (!(StateOf(w, 2) == s2)) plays.push_back({timeGetTime(), 2});
  }
  ASSERT_EQ(plays.size(), 62u) << "each stroke: its start and 30 points";
  for (size_t i = 1; i < plays.size(); ++i) {
    EXPECT_GE(plays[i].first - plays[i - 1].first, 4u) << i;
    EXPECT_NE(plays[i].second, plays[i - 1].second) << "in turn, " << i;
  }
  EXPECT_FALSE(w->Packets[1]->InStroke());
  EXPECT_GT(LayerInk(*w->Paper, 2), 0);
  EXPECT_GT(LayerInk(*w->Paper, 4), 0);

  // The host's own stroke leaves once it is complete, in frames of at most 4080 bytes.
  ASSERT_TRUE(ActivatePainter());
  const QPoint p0 = At(w, 30, 130), p1 = At(w, 33, 130);
  QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, p0);
  for (int i = 0; i < 1500; ++i) {
    const QPoint p = i % 2 ? p0 : p1;
    VLMain->StrokeTo(p.x(), p.y(), 1.0f, 1.0f, false);
  }
  plat::AdvanceFakeClock(10);
  VLMain->UpdateStep();
  EXPECT_EQ(NetState.SentTotal, 0) << "nothing leaves during the stroke";
  QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, p0);
  const Octets own = BytesOf(*w->Packets[0]);
  ASSERT_GT(own.size(), 2u * 4080u);
  ASSERT_TRUE(StepUntil([&] { return NetState.SentTotal == static_cast<int32_t>(own.size()); }));
  ASSERT_TRUE(Pump([&] { return a.DataFrom(0).size() >= own.size() && b.DataFrom(0).size() >= own.size(); }));
  for (TRawConn* c : {&a, &b}) {
    EXPECT_EQ(c->DataFrom(0), own);
    for (const TRawFrame& f : c->FramesOf(mkData)) EXPECT_LE(f.Payload.size(), 4080u);
  }

  // The traffic line, and the record that replays to the host's layers.
  plat::AdvanceFakeClock(10);
  VLMain->UpdateStep();
  const QRegularExpressionMatch m =
      QRegularExpression("^<Server> SEND:(\\d+) RECV:(\\d+) SYNC:(\\d+)\\[%\\]$").match(NetWindow->windowTitle());
  ASSERT_TRUE(m.hasMatch()) << NetWindow->windowTitle().toStdString();
  EXPECT_EQ(m.captured(2).toInt(), socket_->BytesReceived);
  EXPECT_LE(m.captured(1).toInt(), socket_->BytesSent);
  EXPECT_GT(m.captured(1).toInt(), static_cast<int>(own.size()));
  EXPECT_EQ(m.captured(3), "100");
  EXPECT_TRUE(LogReplaysToLayers(w));
}

TEST_F(UpdateNet, ALeftMembersWholeEventsArePlayedAndItsSlotGoesCleanToTheNext) {
  TDrawWindow* w = Host(2, 2);
  TRawConn& a = Join(1);
  const Octets s1 = StrokeEvent(2, 0x00FF00, 20, 20, 10), s2 = StrokeEvent(2, 0x00FF00, 20, 50, 12);
  const Octets s3 = StrokeEvent(3, 0x00FF00, 20, 80, 15), s4 = StrokeEvent(2, 0x0000FF, 20, 110, 8);
  SendData(a, 1, Cat({s1, s2, Piece(s3, 0, 40)}));
  ASSERT_TRUE(Pump([&] { return socket_->MemberDataSize(1) == static_cast<int32_t>(s1.size() + s2.size() + 40); }));
  plat::AdvanceFakeClock(10);
  VLMain->UpdateStep();  // moves every byte, half of the third stroke too
  EXPECT_EQ(w->Packets[1]->Data().Size(), static_cast<int32_t>(s1.size() + s2.size() + 40));
  const Octets logBefore = BytesOf(*w->Log);

  a.Close();
  ASSERT_TRUE(Pump([&] { return !socket_->MemberUsed(1); }));
  ASSERT_TRUE(StepUntil([&] {
    return !w->Packets[1]->InStroke() && w->Packets[1]->Data().ReadPos() == static_cast<int32_t>(s1.size() + s2.size());
  })) << "the host alone still plays both whole strokes";

  TRawConn& b = Join(1);
  SendData(b, 1, s4);
  ASSERT_TRUE(StepUntil([&] {
    return w->Packets[1]->Data().Size() == static_cast<int32_t>(s4.size()) && !w->Packets[1]->InStroke() &&
           w->Packets[1]->Data().ReadPos() == static_cast<int32_t>(s4.size());
  }));
  plat::AdvanceFakeClock(10);
  VLMain->UpdateStep();
  EXPECT_EQ(BytesOf(*w->Log), Cat({logBefore, s1, s2, s4})) << "the half stroke is gone, B's follows A's";
  EXPECT_EQ(LayerInk(*w->Paper, 3), 0) << "nothing of the half stroke was drawn";
  EXPECT_TRUE(LogReplaysToLayers(w));
}

TEST_F(UpdateNet, AMemberPlaysItsHostAndClosesThePaperWhenTheHostIsGone) {
  QTcpServer server;
  TRawConn* hostp = nullptr;
  JoinRawHost(server, hostp);
  ASSERT_NE(hostp, nullptr);
  TRawConn& host = *hostp;

  TDrawWindow* w = SessionPaper(2, 1, 1);
  QPointer<TDrawWindow> guard(w);
  const Octets hostStroke = StrokeEvent(0, 0x800000, 30, 30, 20);
  host.Send(Frame(mkData, 0, mdAll, hostStroke));
  ASSERT_TRUE(StepUntil([&] {
    return w->Packets[0]->Data().ReadPos() == static_cast<int32_t>(hostStroke.size()) && !w->Packets[0]->InStroke();
  }));
  EXPECT_GT(LayerInk(*w->Paper, 0), 0);
  plat::AdvanceFakeClock(10);
  VLMain->UpdateStep();
  EXPECT_TRUE(LogReplaysToLayers(w));

  host.Close();
  ASSERT_TRUE(Pump([&] { return socket_->Status != ssOnline; }));
  Messages.Messages.clear();
  socket_ = nullptr;  // the session's end frees it
  VLMain->UpdateStep();
  Settle();
  EXPECT_TRUE(guard.isNull()) << "the paper window is gone after the step";
  ASSERT_FALSE(Messages.Messages.empty());
  EXPECT_EQ(Messages.Messages.front().Text, "サーバが落ちたので切断します。");
  ASSERT_FALSE(Dialogs.Dialogs.empty());
  EXPECT_EQ(Dialogs.Dialogs.front().DefaultExt, "wpe") << "the record's export is offered";
  EXPECT_TRUE(NetWindow->ButtonConnect->isEnabled());
  EXPECT_FALSE(NetWindow->Timer1->isActive());
}

// A member that sends as fast as its connection goes is read only as fast as the host plays
// it: what the host holds of it stays bounded and the rest waits with the sender; the other
// member's strokes are played in their turns meanwhile; once the flooder is gone its slot takes
// the next member, and every event that the host took from the flooder was played, in order.
TEST_F(UpdateNet, AFloodingMemberIsReadNoFasterThanItIsPlayed) {
  TDrawWindow* w = Host(3, 1);
  TRawConn& g = Join(1);
  TRawConn& f = Join(2);
  const Octets flood = FloodEvents(2, size_t{16} << 20);
  f.Send(DataFrames(2, flood));
  const int64_t rss0 = ResidentBytes();

  Octets good;
  int64_t mostHeld = 0, mostWaiting = 0, mostRss = rss0;
  for (int i = 0; i < 2000; ++i) {
    if (i % 100 == 0) {
      const Octets s = StrokeEvent(1, 0x0000FF, 20, 10 + i / 30, 6);
      SendData(g, 1, s);
      good.insert(good.end(), s.begin(), s.end());
    }
    QApplication::processEvents(QEventLoop::AllEvents);
    plat::AdvanceFakeClock(1);
    VLMain->UpdateStep();
    mostHeld = std::max<int64_t>(mostHeld, socket_->MemberDataSize(2));
    mostWaiting = std::max<int64_t>(mostWaiting, w->Packets[2]->Data().Remaining());
    if (i % 250 == 0) mostRss = std::max(mostRss, ResidentBytes());
  }
  EXPECT_LE(mostHeld, kMaxUnplayedInput + kMaxFrameSize) << "bytes received from the flooder, not yet taken";
  EXPECT_LE(mostWaiting, 64 * 1024 + 1300) << "bytes taken into its recorder, not yet played (a polygon is 1208)";
  EXPECT_LT(socket_->BytesReceived, int64_t{4} << 20) << "of " << flood.size() << " sent";
  EXPECT_GT(f.Socket().bytesToWrite(), 0) << "the flooder waits";
  EXPECT_LT(mostRss - rss0, int64_t{64} << 20) << "bytes of resident memory more";

  // The good member's strokes all play beside the flood.
  ASSERT_TRUE(StepUntil([&] {
    return w->Packets[1]->Data().ReadPos() == static_cast<int32_t>(good.size()) && !w->Packets[1]->InStroke();
  }));
  EXPECT_GT(socket_->MemberDataSize(2) + w->Packets[2]->Data().Remaining(), 512 * 1024) << "the flood still waits";
  EXPECT_EQ(LayerDifference(*Replay(240, 160, 3, good), *w->Paper, 1), 0);

  // The flooder goes; a newcomer gets its slot, and what the host took of the flood is played
  // first, whole, in its order.
  Reset(f.Socket());
  ASSERT_TRUE(Pump([&] { return !socket_->MemberUsed(2); }));
  Join(2);
  plat::AdvanceFakeClock(10);
  VLMain->UpdateStep();
  ASSERT_TRUE(StepUntil([&] { return !w->HandingOver[2]; }));
  EXPECT_EQ(socket_->MemberDataSize(2), 0);
  const Octets played = EventsOnLayer(Bytes(*w->Log), 2);
  ASSERT_GT(played.size(), size_t{1} << 20);
  const auto [at, _] = std::mismatch(played.begin(), played.end(), flood.begin());
  EXPECT_EQ(at - played.begin(), static_cast<long>(played.size())) << "the flood's start, in order";
  ASSERT_TRUE(Pump([&] { return WholeEventsPrefix(g.DataFrom(2)) == played; }))
      << "the host played every whole event it took and relayed: " << played.size() << " of "
      << g.DataFrom(2).size();
  EXPECT_EQ(LayerDifference(*Replay(240, 160, 3, played), *w->Paper, 2), 0);
  EXPECT_TRUE(LogReplaysToLayers(w));
}

// A host that floods its member: the member takes the host's data only as it plays them, so
// the host's connection waits, the member's own events still reach the host, and what was
// played is the flood's start, in order.
TEST_F(UpdateNet, AFloodingHostIsReadNoFasterThanItIsPlayed) {
  QTcpServer server;
  TRawConn* hostp = nullptr;
  JoinRawHost(server, hostp);
  ASSERT_NE(hostp, nullptr);
  TRawConn& host = *hostp;
  TDrawWindow* w = SessionPaper(2, 1, 1);

  const Octets flood = FloodEvents(0, size_t{16} << 20);
  host.Send(DataFrames(0, flood));
  const int64_t rss0 = ResidentBytes();
  int64_t mostHeld = 0, mostWaiting = 0, mostRss = rss0;
  for (int i = 0; i < 2000; ++i) {
    if (i == 1000) w->Packets[1]->WriteClearLayer(1);  // the member's own event, sent meanwhile
    QApplication::processEvents(QEventLoop::AllEvents);
    plat::AdvanceFakeClock(1);
    VLMain->UpdateStep();
    mostHeld = std::max<int64_t>(mostHeld, socket_->MemberDataSize(0));
    mostWaiting = std::max<int64_t>(mostWaiting, w->Packets[0]->Data().Remaining());
    if (i % 250 == 0) mostRss = std::max(mostRss, ResidentBytes());
  }
  EXPECT_LE(mostHeld, kMaxUnplayedInput + kMaxFrameSize);
  EXPECT_LE(mostWaiting, 64 * 1024 + 1300);
  EXPECT_LT(socket_->BytesReceived, int64_t{4} << 20) << "of " << flood.size() << " sent";
  EXPECT_GT(host.Socket().bytesToWrite(), 0) << "the host waits";
  EXPECT_LT(mostRss - rss0, int64_t{64} << 20);
  EXPECT_EQ(socket_->Status, ssOnline);
  ASSERT_TRUE(Pump([&] { return host.DataFrom(1) == (Octets{0x24, 0x01, 0x01}); })) << "the member's own event";

  ASSERT_TRUE(StepUntil([&] { return !w->Packets[0]->InStroke(); }));
  plat::AdvanceFakeClock(1);
  VLMain->UpdateStep();  // logs what was played
  const Octets played = EventsOnLayer(Bytes(*w->Log), 0);
  ASSERT_GT(played.size(), 1000u);
  EXPECT_TRUE(std::equal(played.begin(), played.end(), flood.begin())) << "the flood's start, in order";
  EXPECT_EQ(LayerDifference(*Replay(240, 160, 2, played), *w->Paper, 0), 0);
}

// The traffic line counts past 2 GiB and 4 GiB without wrapping.
TEST_F(UpdateNet, TheTrafficLineCountsPastFourGigabytes) {
  TDrawWindow* w = Host(2, 1);
  ASSERT_NE(w, nullptr);
  for (const int64_t n : {(int64_t{1} << 31) + 5, (int64_t{1} << 32) + 1}) {
    socket_->BytesSent = n;
    socket_->BytesReceived = n + 1;
    plat::AdvanceFakeClock(10);
    VLMain->UpdateStep();
    EXPECT_EQ(NetWindow->windowTitle().toStdString(),
              "<Server> SEND:" + std::to_string(n) + " RECV:" + std::to_string(n + 1) + " SYNC:100[%]");
  }
}

TEST_F(UpdateNet, SessionValuesOutOfTheirRangesCauseNoFault) {
  struct Case {
    const char* name;
    int32_t maxMembers, memberIndex, memberCount;
  };
  const Case cases[] = {
      {"MaxMembers 1", 1, 0, 2},     {"MaxMembers 5", 5, 0, 2},      {"MaxMembers 100", 100, 0, 2},
      {"member index -1", 2, -1, 2}, {"member index 4", 2, 4, 2},    {"member index 9", 2, 9, 2},
      {"member count 1", 2, 0, 1},
  };
  for (const Case& c : cases) {
    for (bool host : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (host ? " on the host" : " on a member"));
      socket_ = new TMySocket(VLMain);
      ASSERT_TRUE(socket_->StartServer(0, "HOTE", "pw", QHostAddress::LocalHost));
      NetState.Socket = socket_;
      NetState.IsHost = host ? 1 : 0;
      TDrawWindow* w = SessionPaper(2, 1, 0);
      QPointer<TDrawWindow> guard(w);
      NetState.MaxMembers = c.maxMembers;
      w->Paper->SetMemberIndex(c.memberIndex);
      w->Paper->SetMemberCount(c.memberCount);
      VLMain->NextMember = c.memberIndex;
      w->Packets[0]->WriteClearLayer(0);
      NetWindow->setWindowTitle("none");
      for (int i = 0; i < 5; ++i) {
        plat::AdvanceFakeClock(10);
        VLMain->UpdateStep();
      }
      Settle();
      if (host) {
        ASSERT_FALSE(guard.isNull());
        EXPECT_EQ(NetState.SentTotal, 0) << "nothing is sent";
        EXPECT_EQ(NetWindow->windowTitle(), "none");
        w->Paper->SetNetMode(0);
        w->CloseWindow(false);
        Settle();
        delete socket_;
      } else {
        EXPECT_TRUE(guard.isNull()) << "the member's session ends";
      }
      socket_ = nullptr;
      NetState = TNetState{};
    }
  }
}

}  // namespace
