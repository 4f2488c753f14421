// Joining a session against a raw host that speaks literal bytes: the login on the wire, the
// session paper built from the join reply, the first events, the status lines, and every way
// a join can fail.
#include "NetTestUtil.h"

namespace {

class NetMember : public NetFixture {
 protected:
  void SetUp() override {
    NetFixture::SetUp();
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    NetWindow->EditIP->setText("127.0.0.1");
    NetWindow->SpinEditPort->setValue(server.serverPort());
    NetWindow->EditClientUser->setText("CLIENT");
    NetWindow->EditClientPassword->setText("pw");
  }
  void TearDown() override {
    host.reset();
    server.close();
    NetFixture::TearDown();
  }

  // Clicks connect and takes the connection on the raw host's side.
  void Connect() {
    NetWindow->ButtonConnect->click();
    ASSERT_TRUE(PumpUntil([&] { return server.hasPendingConnections(); }));
    host = std::make_unique<TRawConn>(server.nextPendingConnection());
  }
  // Gives the member a slot and waits for its login.
  void AssignSlot(int32_t slot) {
    host->Send(Frame(1, 0, slot, Le(slot)));
    ASSERT_TRUE(PumpUntil([&] { return host->In.size() >= 48; }));
  }
  void Reply(std::initializer_list<int32_t> words, int32_t slot = 2) {
    for (int32_t w : words) host->Send(Frame(0, 0, slot, Le(w)));
  }

  QTcpServer server;
  std::unique_ptr<TRawConn> host;
};

const char* const kOtherVersion = "<異バージョンの為 切断>";
const char* const kFull = "<満席の為 切断>";
const char* const kBadPassword = "<パスワード認証失敗 切断>";
const char* const kCannotConnect = "<接続出来ません>";

TEST_F(NetMember, JoinsAsSlotTwoAndBuildsTheHostsPaper) {
  Connect();
  EXPECT_FALSE(NetWindow->ButtonConnect->isEnabled());
  EXPECT_FALSE(NetWindow->EditClientUser->isEnabled());
  EXPECT_TRUE(NetWindow->Timer1->isActive());
  AssignSlot(2);
  const Octets login = Cat({Le(2), Le(2), Le(0), Le(32), Field("CLIENT", 16), Field("pw", 16)});
  EXPECT_EQ(host->In, login);

  Reply({10007, 0, 300, 200, 4, 2});
  ASSERT_TRUE(PumpUntil([&] { return NetState.Phase == npRunning; }));
  ASSERT_EQ(PaperCount(), 1);
  TDrawWindow* w = NetWindow->SessionPaper();
  ASSERT_NE(w, nullptr);
  TPaper& p = *w->Paper;
  EXPECT_EQ(p.Width(), 300);
  EXPECT_EQ(p.Height(), 200);
  EXPECT_EQ(p.Layers->LastIndex() + 1, 8);
  EXPECT_EQ(p.Layers->ActiveIndex(), 4);
  EXPECT_EQ(p.MemberIndex, 2);
  EXPECT_EQ(p.MemberCount, 4);
  EXPECT_EQ(p.NetMode, 1);
  EXPECT_EQ(NetState.Width, 300);
  EXPECT_EQ(NetState.MaxMembers, 4);
  EXPECT_EQ(NetState.LayersPerMember, 2);
  EXPECT_EQ(w->Caption().rfind("<NETWORKING>  \"NONAME\" 300*200", 0), 0u) << w->Caption();
  EXPECT_FALSE(NetWindow->isVisible());

  Octets log = {0x00, 0x02, 0x2C, 0x01, 0xC8, 0x00};
  for (int i = 0; i < 7; ++i) log.insert(log.end(), {0x00, 0x01, 0x00});
  const Octets gotLog = Bytes(*w->Log);
  ASSERT_GE(gotLog.size(), log.size());
  EXPECT_EQ(Octets(gotLog.begin(), gotLog.begin() + static_cast<long>(log.size())), log);

  // The own layers start over on every paper: clear, undo cleared, shown, multiply, opaque.
  auto firstEvents = [](uint8_t j) {
    return Octets{0x24, 0x01, j, 0x07, 0x02, j, 0x12, 0x01, j, 0x01, 0x14, 0x01, j, 0x00, 0x13, 0x01, j, 0xFF};
  };
  EXPECT_EQ(Bytes(*w->Packets[2]), Cat({firstEvents(4), firstEvents(5)}));

  const std::vector<std::string> want = {"<サーバに接続 (127.0.0.1) >", "<サーバ認識>", "<キャンバス情報取得>",
                                         "<レイヤ枚数: 2[枚/人]>", "<接続完了>", ""};
  EXPECT_EQ(MessageLines(), want);
  EXPECT_TRUE(Messages.Messages.empty());

  // Its first events are its first data: one frame to all members.
  ASSERT_TRUE(PumpUntil([&] { return !host->FramesOf(0).empty(); }));
  const TRawFrame first = host->FramesOf(0)[0];
  EXPECT_EQ(Frame(first.Kind, first.Sender, first.Dest, first.Payload),
            Cat({Le(0), Le(2), Le(-1), Le(36), firstEvents(4), firstEvents(5)}));
  // The host's events play on its paper: layer 0 hidden.
  host->Send(Frame(0, 0, 2, Octets{0x12, 0x01, 0x00, 0x00}));
  ASSERT_TRUE(PumpUntil([&] { return !p.Layers->LayerVisible(0); }));
}

// Every member builds all members' layers, also with one layer each, and starts on its own.
TEST_F(NetMember, EachLayoutGivesTheWholePaperAndTheOwnFirstLayer) {
  struct Layout {
    int32_t slot, members, layers;
  };
  for (const Layout& l : {Layout{1, 2, 1}, Layout{3, 4, 4}}) {
    SCOPED_TRACE(std::to_string(l.members) + " x " + std::to_string(l.layers));
    Connect();
    AssignSlot(l.slot);
    Reply({10007, 0, 40, 30, l.members, l.layers}, l.slot);
    ASSERT_TRUE(PumpUntil([&] { return NetState.Phase == npRunning; }));
    TDrawWindow* w = NetWindow->SessionPaper();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->Paper->Layers->LastIndex() + 1, l.members * l.layers);
    EXPECT_EQ(w->Paper->Layers->ActiveIndex(), l.slot * l.layers);
    EXPECT_EQ(Bytes(*w->Log).size(), 6u + 3u * (l.members * l.layers - 1));
    EXPECT_EQ(Bytes(*w->Packets[l.slot]).size(), 18u * l.layers);
    VLMain->CloseAllPapers(false);
    EXPECT_TRUE(Unlocked());
    host.reset();
  }
}

// A reply this program cannot take: the lines named, no paper, the window unlocked.
TEST_F(NetMember, RefusedOrUnusableRepliesEndTheJoin) {
  struct Case {
    const char* name;
    std::vector<int32_t> words;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"another version", {10006, 0, 300, 200, 4, 2}, {kOtherVersion}},
      {"full", {10007, -1, 300, 200, 4, 2}, {kFull}},
      {"bad password", {10007, -2, 300, 200, 4, 2}, {kBadPassword}},
      {"another version and full", {10006, -1, 300, 200, 4, 2}, {kOtherVersion, kFull}},
      {"unknown status", {10007, 3, 300, 200, 4, 2}, {kOtherVersion}},
      {"width 0", {10007, 0, 0, 200, 4, 2}, {kOtherVersion}},
      {"height 3001", {10007, 0, 300, 3001, 4, 2}, {kOtherVersion}},
      {"one member", {10007, 0, 300, 200, 1, 2}, {kOtherVersion}},
      {"five members", {10007, 0, 300, 200, 5, 2}, {kOtherVersion}},
      {"no layers", {10007, 0, 300, 200, 4, 0}, {kOtherVersion}},
      {"five layers", {10007, 0, 300, 200, 4, 5}, {kOtherVersion}},
      {"own slot beyond the members", {10007, 0, 300, 200, 2, 2}, {kOtherVersion}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Connect();
    AssignSlot(2);
    for (int32_t w : c.words) host->Send(Frame(0, 0, 2, Le(w)));
    ASSERT_TRUE(PumpUntil([&] { return Unlocked(); }));
    std::vector<std::string> want = {"<サーバに接続 (127.0.0.1) >", "<サーバ認識>"};
    want.insert(want.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(MessageLines(), want);
    EXPECT_EQ(PaperCount(), 0);
    EXPECT_TRUE(MemberLines().empty());
    // The member closed its connection.
    EXPECT_TRUE(PumpUntil([&] { return host->Closed(); }, false, 2000));
    host.reset();
  }
}

TEST_F(NetMember, AJoinThatCannotReachTheHostEnds) {
  // The host closes before its reply.
  Connect();
  AssignSlot(2);
  host->Close();
  ASSERT_TRUE(PumpUntil([&] { return Unlocked(); }));
  EXPECT_TRUE(HasLine(kCannotConnect));
  EXPECT_EQ(PaperCount(), 0);

  // Nobody listens on the port.
  const uint16_t port = server.serverPort();
  server.close();
  NetWindow->SpinEditPort->setValue(port);
  NetWindow->ButtonConnect->click();
  ASSERT_TRUE(PumpUntil([&] { return Unlocked(); }));
  EXPECT_EQ(MessageLines(), (std::vector<std::string>{"<サーバに接続 (127.0.0.1) >", kCannotConnect}));
}

TEST_F(NetMember, AHostThatNeverRepliesIsGivenUp) {
  Connect();
  AssignSlot(2);
  PumpFor(50);
  EXPECT_EQ(NetState.Phase, npJoining);
  plat::AdvanceFakeClock(29000);
  PumpFor(50);
  EXPECT_EQ(NetState.Phase, npJoining);
  plat::AdvanceFakeClock(1001);
  ASSERT_TRUE(PumpUntil([&] { return Unlocked(); }));
  EXPECT_EQ(MessageLines().back(), kCannotConnect);
  EXPECT_EQ(PaperCount(), 0);
}

}  // namespace
