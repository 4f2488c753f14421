// Hosting a session against raw members that speak literal bytes: the slot, the member list,
// the join reply on the wire, the entry line, refusals and their close, the login timeout,
// the lobby's notices, chat, and a port that cannot be opened.
#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QWidget>
#include <algorithm>
#include <cstring>

#include "NetTestUtil.h"
#include "platform/qt/WindowMessages.h"

namespace {

class NetHost : public NetFixture {
 protected:
  // Hosts on a port the system chooses.
  void Host(int maxMembers = 3, int layers = 2) {
    NetWindow->SpinEditPort->setValue(0);
    NetWindow->SpinEditMaxMember->setValue(maxMembers);
    NetWindow->SpinEditLayer->setValue(layers);
    NetWindow->SpinEditNetWidth->setValue(600);
    NetWindow->SpinEditNetHeight->setValue(600);
    NetWindow->EditServerUser->setText("HOTE");
    NetWindow->EditServerPassword->setText("pw");
    NetWindow->ButtonStandby->click();
    ASSERT_NE(NetState.Socket, nullptr);
    port = NetState.Socket->ServerPort();
    ASSERT_NE(port, 0);
  }

  // Connects and waits for the slot it is told; gives the slot.
  int32_t Arrive(TRawConn& m) {
    EXPECT_TRUE(m.Connect(port));
    EXPECT_TRUE(PumpUntil([&] { return !m.FramesOf(1).empty(); }, false));
    const std::vector<TRawFrame> ids = m.FramesOf(1);
    return ids.empty() ? -1 : ReadLe(ids[0].Payload.data());
  }
  static Octets Login(int32_t slot, const std::string& name, const std::string& password) {
    return Cat({Le(2), Le(slot), Le(0), Le(32), Field(name, 16), Field(password, 16)});
  }
  // The data words the member got from the host, one per frame.
  static std::vector<int32_t> Words(const TRawConn& m) {
    std::vector<int32_t> out;
    for (const TRawFrame& f : m.FramesOf(0)) {
      if (f.Sender == 0 && f.Payload.size() == 4) out.push_back(ReadLe(f.Payload.data()));
    }
    return out;
  }
  // A member that joins with the host's password; its slot.
  int32_t Join(TRawConn& m, const std::string& name) {
    const int32_t slot = Arrive(m);
    m.Send(Login(slot, name, "pw"));
    EXPECT_TRUE(PumpUntil([&] { return NetState.Phase == npRunning && Words(m).size() == 6; }));
    return slot;
  }

  uint16_t port = 0;
};

TEST_F(NetHost, HostingBuildsTheSessionPaperAndLocksTheWindow) {
  Host(4, 2);
  EXPECT_FALSE(NetWindow->isVisible());
  EXPECT_TRUE(NetWindow->Timer1->isActive());
  EXPECT_FALSE(NetWindow->ButtonStandby->isEnabled());
  EXPECT_FALSE(NetWindow->EditServerPassword->isEnabled());
  EXPECT_EQ(NetState.Phase, npRunning);
  EXPECT_EQ(NetState.IsHost, 1);
  ASSERT_EQ(PaperCount(), 1);
  TDrawWindow* w = NetWindow->SessionPaper();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->Paper->Layers->LastIndex() + 1, 8);
  EXPECT_EQ(w->Paper->Layers->ActiveIndex(), 0);
  EXPECT_EQ(w->Paper->NetMode, 1);
  EXPECT_EQ(w->Paper->MemberCount, 4);
  Octets log = Cat({{0x00, 0x02}, {0x58, 0x02, 0x58, 0x02}});
  for (int i = 0; i < 7; ++i) log.insert(log.end(), {0x00, 0x01, 0x00});
  EXPECT_EQ(Bytes(*w->Log), log);
  const std::vector<std::string> lines = MessageLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "<サーバ待機>");
  EXPECT_EQ(lines[1].rfind("HOST: ", 0), 0u);
  EXPECT_EQ(lines[2].rfind("IP: ", 0), 0u);
  EXPECT_EQ(MemberLines(), (std::vector<std::string>{"@HOTE"}));
}

TEST_F(NetHost, AMemberJoinsThroughTheHandshake) {
  Host(3, 2);
  TRawConn m;
  ASSERT_TRUE(m.Connect(port));
  ASSERT_TRUE(PumpUntil([&] { return m.In.size() >= 20; }, false));
  PumpFor(30, false);
  // Until its login it is told its slot and holds nothing.
  const Octets assign = {0x01, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0x04, 0, 0, 0, 0x01, 0, 0, 0};
  EXPECT_EQ(m.In, assign);
  EXPECT_EQ(NetState.Phase, npRunning);
  EXPECT_EQ(MemberLines(), (std::vector<std::string>{"@HOTE"}));

  m.Send(Login(1, "CLIENT", "pw"));
  ASSERT_TRUE(PumpUntil([&] { return m.In.size() >= 20 + 272; }, false));
  const Octets listHead = {0x04, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x01, 0, 0};
  EXPECT_EQ(Octets(m.In.begin() + 20, m.In.begin() + 36), listHead);
  EXPECT_EQ(Octets(m.In.begin() + 36, m.In.begin() + 52), Field("HOTE", 16));
  EXPECT_EQ(Octets(m.In.begin() + 36 + 32, m.In.begin() + 36 + 48), Field("CLIENT", 16));
  EXPECT_EQ(Octets(m.In.begin() + 36 + 48, m.In.begin() + 36 + 64), Field("127.0.0.1", 16));
  // The host's own events wait from the login on.
  EXPECT_EQ(NetState.Phase, npJoining);
  ASSERT_TRUE(PumpUntil([&] { return Words(m).size() >= 6; }));
  // The six words, each a frame of its own to the member's slot.
  std::vector<TRawFrame> data = m.FramesOf(0);
  ASSERT_GE(data.size(), 6u);
  const Octets head = {0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0x04, 0, 0, 0};
  const Octets words[6] = {{0x17, 0x27, 0, 0}, {0, 0, 0, 0}, {0x58, 0x02, 0, 0},
                           {0x58, 0x02, 0, 0}, {0x03, 0, 0, 0}, {0x02, 0, 0, 0}};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(Frame(data[i].Kind, data[i].Sender, data[i].Dest, data[i].Payload), Cat({head, words[i]}));
  }
  ASSERT_TRUE(PumpUntil([&] { return NetState.Phase == npRunning; }));
  EXPECT_TRUE(HasLine("CLIENT(127.0.0.1) が入場。現在2人。"));
  EXPECT_EQ(MessageLines().back(), "");
  EXPECT_FALSE(NetState.Socket->JoinLock);
  EXPECT_TRUE(NetState.Socket->MemberAdmitted(1));
  EXPECT_EQ(MemberLines(), (std::vector<std::string>{"CLIENT", "@HOTE"}));
  // The layer states of the layers it does not own wait in the host's record.
  Octets states;
  for (uint8_t i : {0, 1, 4, 5}) {
    states.insert(states.end(), {0x12, 0x01, i, 0x01, 0x13, 0x01, i, 0xFF, 0x14, 0x01, i, 0x00});
  }
  EXPECT_EQ(Bytes(*NetWindow->SessionPaper()->Packets[0]), states);
}

// A refused member reads its reply, is closed by the host and is taken up as a leave; its
// chat is never shown or relayed.
TEST_F(NetHost, RefusedMembersAreClosedAfterTheirReply) {
  struct Case {
    const char* name;
    int maxMembers;
    const char* password;
    int32_t status;
  };
  const Case cases[] = {
      {"wrong password", 3, "xx", -2},
      {"full room", 2, "pw", -1},
      {"full room and wrong password", 2, "xx", -2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Host(c.maxMembers, 2);
    TRawConn a, b;
    ASSERT_EQ(Join(a, "ALICE"), 1);
    const int32_t slot = Arrive(b);
    ASSERT_EQ(slot, 2);
    b.Send(Cat({Login(slot, "BOB", c.password), Frame(5, slot, -1, Field("sneak", 5))}));
    ASSERT_TRUE(PumpUntil([&] { return b.Closed(); }, true, 2000));  // within 2 s
    EXPECT_EQ(Words(b), (std::vector<int32_t>{10007, c.status, 600, 600, c.maxMembers, 2}));
    // The reply and the member list came before the close.
    EXPECT_EQ(b.Frames().back().Kind, 4);
    ASSERT_TRUE(PumpUntil([&] { return NetState.Socket->MemberCount == 2 && NetState.Socket->LeavesPending == 0; }));
    EXPECT_EQ(NetState.Phase, npRunning);
    EXPECT_EQ(MemberLines(), (std::vector<std::string>{"ALICE", "@HOTE"}));
    // It never was a member: neither its entry nor a leave is told, nor what it said.
    for (const std::string& l : MessageLines()) {
      EXPECT_EQ(l.find("BOB"), std::string::npos) << l;
      EXPECT_EQ(l.find("sneak"), std::string::npos) << l;
    }
    PumpFor(30);
    EXPECT_TRUE(a.FramesOf(5).empty());
    // The closing of the session paper ends the session.
    VLMain->CloseAllPapers(false);
    EXPECT_TRUE(Unlocked());
  }
}

TEST_F(NetHost, AConnectionThatNeverLogsInIsClosedAfterTenSeconds) {
  Host(3, 2);
  TRawConn silent;
  ASSERT_EQ(Arrive(silent), 1);
  PumpFor(30);
  plat::AdvanceFakeClock(10000);
  PumpFor(30);
  EXPECT_FALSE(silent.Closed());
  // It holds nothing meanwhile: no join runs, no lock, no member.
  EXPECT_EQ(NetState.Phase, npRunning);
  EXPECT_FALSE(NetState.Socket->JoinLock);
  EXPECT_EQ(NetState.Socket->MemberCount, 1);
  plat::AdvanceFakeClock(1);
  ASSERT_TRUE(PumpUntil([&] { return silent.Closed(); }));
  EXPECT_EQ(NetState.Phase, npRunning);
  EXPECT_EQ(NetState.Socket->LeavesPending, 0);
  // The next one gets in at once.
  TRawConn next;
  EXPECT_EQ(Join(next, "NEXT"), 1);
}

TEST_F(NetHost, ChatGoesBothWays) {
  Host(3, 2);
  TRawConn m;
  Join(m, "CLIENT");
  m.Send(Frame(5, 1, -1, Octets{'h', 'e', 'l', 'l', 'o'}));
  ASSERT_TRUE(PumpUntil([&] { return HasLine("[CLIENT] hello"); }));

  // 200 characters of kana: 400 bytes on the wire, shown once on this side.
  std::string line;
  for (int i = 0; i < 200; ++i) line += "あ";
  ChatWindow->EditText->setText(QString::fromStdString(line));
  QTest::keyClick(ChatWindow->EditText, Qt::Key_Return);
  EXPECT_TRUE(ChatWindow->EditText->text().isEmpty());
  ASSERT_TRUE(PumpUntil([&] { return !m.FramesOf(5).empty(); }));
  const TRawFrame chat = m.FramesOf(5)[0];
  EXPECT_EQ(chat.Sender, 0);
  EXPECT_EQ(chat.Dest, -1);
  Octets sjis;
  for (int i = 0; i < 200; ++i) sjis.insert(sjis.end(), {0x82, 0xA0});
  EXPECT_EQ(chat.Payload, sjis);
  int shown = 0;
  for (const std::string& l : MessageLines()) shown += l == "[HOTE] " + line;
  EXPECT_EQ(shown, 1);
}

// A member's name and text with line breaks show as one line each: no member can make a
// line that looks like another's.
TEST_F(NetHost, AMembersBreaksStayOnOneLine) {
  Host(3, 2);
  TRawConn m;
  Join(m, "EV\r\nIL");
  ASSERT_TRUE(PumpUntil([&] { return NetState.Phase == npRunning && HasLine("EV IL(127.0.0.1) \u304C\u5165\u5834\u3002\u73FE\u57282\u4EBA\u3002"); }));
  EXPECT_EQ(MemberLines(), (std::vector<std::string>{"EV IL", "@HOTE"}));
  const size_t before = MessageLines().size();
  for (const char* t : {"a\rb", "a\nb", "a\r\nb", "hi\n[HOTE] the password is x"}) {
    m.Send(Frame(5, 1, -1, Octets(t, t + strlen(t))));
  }
  ASSERT_TRUE(PumpUntil([&] { return MessageLines().size() == before + 4; }));
  const std::vector<std::string> lines = MessageLines();
  EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<long>(before), lines.end()),
            (std::vector<std::string>{"[EV IL] a b", "[EV IL] a b", "[EV IL] a b",
                                      "[EV IL] hi [HOTE] the password is x"}));
}

TEST_F(NetHost, TheLobbyHearsOfJoinsAndLeaves) {
  QWidget lobbyWindow;
  std::vector<uint32_t> heard;
  plat::TWindowClass lobby("TRVMain", &lobbyWindow, [&](const plat::TWindowMessage& m) {
    heard.push_back(m.Msg);
    return int64_t{0};
  });
  ASSERT_TRUE(lobby.Listening());
  // Three members at most: the first join leaves one seat, so the lobby hears of it.
  Host(3, 2);
  TRawConn a;
  Join(a, "A");
  ASSERT_TRUE(PumpUntil([&] { return heard == std::vector<uint32_t>{0x603}; }));
  a.Close();
  ASSERT_TRUE(PumpUntil([&] { return heard.size() == 2; }));
  EXPECT_EQ(heard[1], 0x604u);
  VLMain->CloseAllPapers(false);  // the hosted paper closing is told too
  ASSERT_TRUE(PumpUntil([&] { return heard.size() == 3; }));
  EXPECT_EQ(heard[2], 0x602u);
  heard.clear();

  // Four at most: only the second join does.
  Host(4, 2);
  TRawConn b, c;
  Join(b, "B");
  PumpFor(100);
  EXPECT_TRUE(heard.empty());
  Join(c, "C");
  ASSERT_TRUE(PumpUntil([&] { return heard == std::vector<uint32_t>{0x603}; }));
}

// The port held by another program: the user is told so in the chosen language, no waiting
// line is left, and the window comes back on its port so that another one can be chosen.
TEST_F(NetHost, APortInUseIsToldAndTheWindowComesBackForAnotherPort) {
  QTcpServer busy;
  ASSERT_TRUE(busy.listen(QHostAddress::AnyIPv4, 0));
  struct Case {
    int language;
    const char* text;
  };
  const Case cases[] = {
      {0, "\u3053\u306E\u30DD\u30FC\u30C8\u756A\u53F7\u306F\u65E2\u306B\u4F7F\u308F\u308C\u3066\u3044\u307E"
          "\u3059\u3002\u5225\u306E\u30DD\u30FC\u30C8\u756A\u53F7\u3092\u9078\u3093\u3067\u304F\u3060\u3055"
          "\u3044\u3002\n\u30DD\u30FC\u30C8\u756A\u53F7 "},
      {1, "Ce port est d\u00E9j\u00E0 utilis\u00E9. Choisissez un autre port.\nPort "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.language);
    SetLanguage(c.language);
    Messages.Messages.clear();
    ChatWindow->MemoMsg->setPlainText("earlier line");
    NetWindow->SpinEditPort->setValue(busy.serverPort());
    NetWindow->PageControlCS->setCurrentWidget(NetWindow->TabSheet2);
    NetWindow->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(NetWindow));
    QTest::mouseClick(NetWindow->ButtonStandby, Qt::LeftButton);
    EXPECT_TRUE(Messages.Messages.empty());  // not inside the click
    EXPECT_TRUE(Unlocked());
    EXPECT_EQ(NetState.IsHost, 0);
    EXPECT_EQ(PaperCount(), 0);
    EXPECT_EQ(MessageLines(), std::vector<std::string>{"earlier line"});
    ASSERT_TRUE(PumpUntil([&] { return !Messages.Messages.empty(); }, false, 5000));
    ASSERT_EQ(Messages.Messages.size(), 1u);
    EXPECT_EQ(Messages.Messages[0].Text, c.text + std::to_string(busy.serverPort()));
    EXPECT_TRUE(Messages.Messages[0].Flags & plat::MB_ICONERROR);
    EXPECT_TRUE(NetWindow->isVisible());
    EXPECT_EQ(NetWindow->PageControlCS->currentWidget(), NetWindow->TabSheet3);
    EXPECT_EQ(MessageLines(), std::vector<std::string>{"earlier line"});

    // Another port, typed into the box, and the button again: hosting as usual.
    NetWindow->SpinEditPort->selectAll();
    QTest::keyClicks(NetWindow->SpinEditPort, "0");
    QTest::keyClick(NetWindow->SpinEditPort, Qt::Key_Return);
    EXPECT_EQ(NetWindow->SpinEditPort->value(), 0);
    NetWindow->PageControlCS->setCurrentWidget(NetWindow->TabSheet2);
    QTest::mouseClick(NetWindow->ButtonStandby, Qt::LeftButton);
    ASSERT_NE(NetState.Socket, nullptr);
    EXPECT_EQ(PaperCount(), 1);
    EXPECT_EQ(MessageLines().at(0), "<\u30B5\u30FC\u30D0\u5F85\u6A5F>");
    EXPECT_FALSE(NetWindow->isVisible());
    PumpFor(30);
    EXPECT_EQ(Messages.Messages.size(), 1u);
    VLMain->CloseAllPapers(false);
    EXPECT_TRUE(Unlocked());
  }
  SetLanguage(0);

  // Launched by the lobby on that port: the launch hides the window, which comes back.
  {
    plat::TRegistry r;
    ASSERT_TRUE(r.OpenKey(kRoomvaneKey, true));
    r.WriteBool("IsServer", true);
    r.WriteString("User", "HOTE");
    r.WriteString("Password", "pw");
    r.WriteInteger("X", 100);
    r.WriteInteger("Y", 100);
    r.WriteInteger("Port", busy.serverPort());
    r.WriteInteger("MaxConnections", 3);
    r.WriteInteger("Layer", 1);
  }
  Messages.Messages.clear();
  VLMain->WMNetLaunch();
  EXPECT_FALSE(NetWindow->isVisible());
  EXPECT_TRUE(Unlocked());
  ASSERT_TRUE(PumpUntil([&] { return !Messages.Messages.empty(); }, false, 5000));
  EXPECT_EQ(Messages.Messages[0].Text.rfind(msgPortInUse, 0), 0u);
  EXPECT_TRUE(NetWindow->isVisible());
  EXPECT_EQ(PaperCount(), 0);
}

// Members that leave before the next tick are each told with their own name and the count
// after their leave; a connection that never logged in is told as nobody's leave.
TEST_F(NetHost, EachDepartureNamesItsOwnMemberAndCount) {
  QWidget lobbyWindow;
  int lefts = 0;
  plat::TWindowClass lobby("TRVMain", &lobbyWindow, [&](const plat::TWindowMessage& m) {
    lefts += m.Msg == 0x604;
    return int64_t{0};
  });
  ASSERT_TRUE(lobby.Listening());
  Host(4, 2);
  TRawConn a, b;
  ASSERT_EQ(Join(a, "ALICE"), 1);
  ASSERT_EQ(Join(b, "BOB"), 2);
  const size_t before = MessageLines().size();
  a.Close();
  ASSERT_TRUE(PumpUntil([] { return NetState.Socket->MemberCount == 2; }, false));
  b.Close();
  ASSERT_TRUE(PumpUntil([] { return NetState.Socket->MemberCount == 1; }, false));
  EXPECT_EQ(MessageLines().size(), before);
  NetWindow->Timer1Timer();  // one tick for both
  const std::vector<std::string> lines = MessageLines();
  ASSERT_EQ(lines.size(), before + 2);
  EXPECT_EQ(lines[before], "<ALICE \u304C\u9000\u5BA4 : \u73FE\u57282\u4EBA>");
  EXPECT_EQ(lines[before + 1], "<BOB \u304C\u9000\u5BA4 : \u73FE\u57281\u4EBA>");
  EXPECT_TRUE(PumpUntil([&] { return lefts == 2; }));
  EXPECT_EQ(NetState.Socket->LeavesPending, 0);

  // ALICE's former slot, taken by a connection that never logs in.
  TRawConn silent;
  ASSERT_EQ(Arrive(silent), 1);
  PumpFor(30);
  plat::AdvanceFakeClock(TNetWindow::kLoginTimeoutMs + 1);
  ASSERT_TRUE(PumpUntil([&] { return silent.Closed(); }));
  PumpFor(30);
  // It never was a member: nobody is told as leaving, least of all the slot's former one.
  EXPECT_EQ(MessageLines().size(), before + 2);
  EXPECT_EQ(lefts, 2);
}

// A member's name is the one it joined with, and nobody else's: a second login does not
// rename it, and a newcomer naming someone already there is told apart, so that a chat line
// always shows who said it.
TEST_F(NetHost, AMemberCannotPassForTheHostOrAnotherMember) {
  Host(4, 2);
  TRawConn a, b, c;
  ASSERT_EQ(Join(a, "ALICE"), 1);
  a.Send(Login(1, "HOTE", "pw"));
  a.Send(Frame(5, 1, -1, Field("one", 3)));
  ASSERT_TRUE(PumpUntil([&] { return HasLine("[ALICE] one"); }));
  ASSERT_EQ(Join(b, "ALICE"), 2);
  ASSERT_EQ(Join(c, " HOTE\t"), 3);
  b.Send(Frame(5, 2, -1, Field("two", 3)));
  c.Send(Frame(5, 3, -1, Field("three", 5)));
  ASSERT_TRUE(PumpUntil([&] { return HasLine("[ALICE(2)] two") && HasLine("[ HOTE (2)] three"); }));
  EXPECT_EQ(MemberLines(), (std::vector<std::string>{" HOTE (2)", "ALICE(2)", "ALICE", "@HOTE"}));
  EXPECT_TRUE(HasLine("ALICE(2)(127.0.0.1) \u304C\u5165\u5834\u3002\u73FE\u57283\u4EBA\u3002"));
  for (const std::string& l : MessageLines()) {
    EXPECT_NE(l.rfind("[HOTE]", 0), 0u) << l;
    EXPECT_NE(l, "[ALICE] two");
  }
  // The other members are told the same names.
  ASSERT_TRUE(PumpUntil([&] { return a.FramesOf(4).size() >= 3; }));
  const Octets list = a.FramesOf(4).back().Payload;
  EXPECT_EQ(Octets(list.begin() + 32, list.begin() + 48), Field("ALICE", 16));
  EXPECT_EQ(Octets(list.begin() + 64, list.begin() + 80), Field("ALICE(2)", 16));
  EXPECT_EQ(Octets(list.begin() + 96, list.begin() + 112), Field(" HOTE\t(2)", 16));
}

// Runs of spaces cannot push a part of a chat line to where another line would start: they
// show as one space, and a line stays one row however long it is.
TEST_F(NetHost, PaddedChatCannotStartARowOfItsOwn) {
  Host(3, 2);
  ChatWindow->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(ChatWindow));
  TRawConn m;
  Join(m, "EVIL");
  const size_t before = MessageLines().size();
  const std::string wide = "\x81\x40\x81\x40";  // two ideographic spaces in CP932
  const std::string texts[] = {
      "hi" + std::string(600, ' ') + "[HOTE] the password is x",
      "hi\t\t \t" + wide + "[HOTE] again",
      std::string(180, 'x') + " [HOTE] fake",
  };
  for (const std::string& t : texts) m.Send(Frame(5, 1, -1, Octets(t.begin(), t.end())));
  ASSERT_TRUE(PumpUntil([&] { return MessageLines().size() == before + 3; }));
  const std::vector<std::string> lines = MessageLines();
  EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<long>(before), lines.end()),
            (std::vector<std::string>{"[EVIL] hi [HOTE] the password is x", "[EVIL] hi [HOTE] again",
                                      "[EVIL] " + std::string(180, 'x') + " [HOTE] fake"}));
  // What the window shows: every line on one row of its own.
  QTextDocument* doc = ChatWindow->MemoMsg->document();
  for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
    doc->documentLayout()->blockBoundingRect(b);  // lays the block out
    EXPECT_EQ(b.layout()->lineCount(), 1) << b.text().toStdString();
  }
}

// A member's layer states change its own layers only: its "show only" hides nobody's layers,
// its visibility of another's layer is not taken, that of its own is.
TEST_F(NetHost, AMembersLayerStatesChangeItsOwnLayersOnly) {
  Host(3, 2);
  TDrawWindow* w = NetWindow->SessionPaper();
  TRawConn a, b;
  ASSERT_EQ(Join(a, "A"), 1);  // layers 2 and 3
  ASSERT_EQ(Join(b, "B"), 2);
  const Octets own = {0x12, 0x01, 0x03, 0x00, 0x13, 0x01, 0x02, 0x40};  // layer 3 hidden, layer 2 at 64
  a.Send(Frame(0, 1, -1, Cat({{0x15, 0x01, 0x02}, {0x12, 0x01, 0x00, 0x00}, {0x14, 0x01, 0x04, 0x01}, own})));
  ASSERT_TRUE(PumpUntil([&] { return b.DataFrom(1).size() >= own.size(); }));
  PumpFor(30);
  EXPECT_EQ(b.DataFrom(1), own);
  ASSERT_TRUE(StepUntil([&] {
    return NetState.Socket->MemberDataSize(1) == 0 && w->Packets[1]->Data().Remaining() == 0 &&
           w->Paper->Layers->LayerOpacity(2) == 0x40;
  }));
  const TLayerMng& layers = *w->Paper->Layers;
  for (int32_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(layers.LayerVisible(i), i != 3);
    EXPECT_EQ(layers.LayerKind(i), lkMultiply);
  }
}

// Connections that never log in hold nothing: a joiner that logs in at once is answered at
// once, however many wait and from however many addresses, and they are not dropped for it.
TEST_F(NetHost, SilentConnectionsKeepNobodyOut) {
  Host(3, 2);
  std::vector<std::unique_ptr<TRawConn>> silent;
  for (const char* from : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.1", "127.0.0.1", "127.0.0.1"}) {
    silent.push_back(std::make_unique<TRawConn>());
    ASSERT_TRUE(silent.back()->Socket().bind(QHostAddress(QString::fromLatin1(from)))) << from;
    ASSERT_TRUE(silent.back()->Connect(port)) << from;
  }
  ASSERT_TRUE(PumpUntil([&] {
    return std::all_of(silent.begin(), silent.end(), [](const auto& s) { return !s->FramesOf(1).empty(); });
  }));
  EXPECT_EQ(NetState.Phase, npRunning);
  EXPECT_FALSE(NetState.Socket->JoinLock);

  TRawConn joiner;
  const int32_t slot = Arrive(joiner);
  ASSERT_EQ(slot, 1);
  joiner.Send(Login(slot, "JOINER", "pw"));
  ASSERT_TRUE(PumpUntil([&] { return NetState.Phase == npRunning && Words(joiner).size() == 6; }, true, 2000));
  EXPECT_EQ(Words(joiner)[1], 0);
  EXPECT_TRUE(HasLine("JOINER(127.0.0.1) \u304C\u5165\u5834\u3002\u73FE\u57282\u4EBA\u3002"));
  EXPECT_EQ(MemberLines(), (std::vector<std::string>{"JOINER", "@HOTE"}));
  for (const auto& s : silent) {
    EXPECT_FALSE(s->Closed());
    EXPECT_TRUE(s->FramesOf(4).empty());  // no member list: they are nobody yet
  }
}

// A slot is taken only when it is one of the session's: the count alone would let slot 2 of
// a two-member session in once the member before it left.
TEST_F(NetHost, ASlotBeyondTheSessionsIsRefusedEvenWhenTheCountFits) {
  Host(2, 2);
  TRawConn a, b;
  ASSERT_EQ(Join(a, "A"), 1);
  ASSERT_EQ(Arrive(b), 2);
  b.Send(Login(2, "B", "pw"));
  ASSERT_TRUE(PumpUntil([] { return NetState.Socket->MemberLoginArrived(2); }, false));
  a.Close();
  ASSERT_TRUE(PumpUntil([] { return NetState.Socket->MemberCount == 2; }, false));
  ASSERT_TRUE(PumpUntil([&] { return b.Closed(); }));
  EXPECT_EQ(Words(b), (std::vector<int32_t>{10007, -1, 600, 600, 2, 2}));
  EXPECT_FALSE(NetState.Socket->MemberUsed(2));
  for (const std::string& l : MessageLines()) EXPECT_EQ(l.find("B("), std::string::npos) << l;
}

// Codes that are no events, or that a player stops at, inside a member's stream are stepped
// over alike everywhere: the host's paper and the other member's replay of what it was sent
// end with the same pixels on every layer.
TEST_F(NetHost, ACodeThatIsNoEventLeavesEveryPaperEqual) {
  Host(3, 2);
  TDrawWindow* w = NetWindow->SessionPaper();
  TRawConn a, b;
  ASSERT_EQ(Join(a, "A"), 1);
  ASSERT_EQ(Join(b, "B"), 2);
  auto fill = [](uint8_t layer, uint8_t x, uint8_t r) {
    return Octets{0x28, 0x01, layer, x, 0, 10, 0, 40, 0, 30, 0, r, 0x20, 0x30};
  };
  const Octets stream = Cat({fill(2, 10, 0x80), {0x07, 0x00}, {0x24, 0x01, 0x02}, fill(3, 30, 0x40),
                             {0xFF, 0xFF}, fill(2, 50, 0x10), {0x08, 0x02, 0x24, 0x01, 0x00, 0x00},
                             {0x09, 0x00}, fill(3, 70, 0x90)});
  a.Send(Frame(0, 1, -1, stream));
  ASSERT_TRUE(PumpUntil([&] { return b.DataFrom(1).size() >= 14 * 4 + 3; }));
  PumpFor(30);
  ASSERT_TRUE(StepUntil([&] {
    return NetState.Socket->MemberDataSize(1) == 0 && w->Packets[1]->Data().Remaining() == 0;
  }));
  const std::unique_ptr<TPaper> atB = Replay(600, 600, 6, b.DataFrom(1));
  EXPECT_GT(LayerInk(*w->Paper, 2), 0);
  EXPECT_GT(LayerInk(*w->Paper, 3), 0);
  for (int32_t i = 0; i < 6; ++i) EXPECT_EQ(LayerDifference(*atB, *w->Paper, i), 0) << i;
}

}  // namespace
