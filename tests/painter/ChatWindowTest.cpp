// The chat window: its place and layout, and when Enter sends a line.
#include <QGuiApplication>
#include <QScreen>
#include <cstring>

#include "NetTestUtil.h"

namespace {

class ChatWindowForm : public NetFixture {
 protected:
  // Joins a raw host on `server` as `user`; the host gives slot 1 and a list of the host's
  // name and `listed` for slot 1. The host's end of the connection.
  std::unique_ptr<TRawConn> JoinRawHost(QTcpServer& server, const char* user, const char* hostName,
                                        const char* listed) {
    NetWindow->SpinEditPort->setValue(server.serverPort());
    NetWindow->EditClientUser->setText(user);
    QTest::mouseClick(NetWindow->ButtonConnect, Qt::LeftButton);
    EXPECT_TRUE(PumpUntil([&] { return server.hasPendingConnections(); }));
    auto host = std::make_unique<TRawConn>(server.nextPendingConnection());
    Octets list(256, 0);
    const Octets h = Field(hostName, 16), m = Field(listed, 16);
    std::copy(h.begin(), h.end(), list.begin());
    std::copy(m.begin(), m.end(), list.begin() + 32);
    host->Send(Cat({Frame(1, 0, 1, Le(1)), Frame(4, 0, -1, list)}));
    EXPECT_TRUE(PumpUntil([&] { return NetState.Socket->LoggedIn && MemberLines().size() == 2; }));
    return host;
  }
};

TEST_F(ChatWindowForm, SitsOnTheScreensMiddleLineAndKeepsItsLayout) {
  EXPECT_EQ(ChatWindow->size(), QSize(302, 107));
  const QRect full = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(ChatWindow->y(), full.y() + full.height() / 2 - 107);
  EXPECT_EQ(ChatWindow->x(), full.x() + full.width() / 2 - 302 / 2);
  EXPECT_EQ(ChatWindow->EditText->maxLength(), 200);
  EXPECT_TRUE(ChatWindow->MemoMsg->isReadOnly());
  EXPECT_TRUE(ChatWindow->MemoList->isReadOnly());
  EXPECT_EQ(ChatWindow->MemoList->lineWrapMode(), QPlainTextEdit::NoWrap);

  ChatWindow->show();
  struct Size {
    int w, h, wantW, wantH;
  };
  for (const Size& s : {Size{400, 300, 400, 300}, Size{100, 30, 150, 50}, Size{149, 200, 150, 200}}) {
    SCOPED_TRACE(std::to_string(s.w) + " x " + std::to_string(s.h));
    ChatWindow->resize(s.w, s.h);
    QApplication::processEvents();
    ASSERT_EQ(ChatWindow->size(), QSize(s.wantW, s.wantH));
    const int W = s.wantW, H = s.wantH;
    EXPECT_EQ(ChatWindow->MemoMsg->geometry(), QRect(0, 0, W - 100, H - 30));
    EXPECT_EQ(ChatWindow->MemoList->geometry(), QRect(W - 100, 2, 100, H - 30));
    EXPECT_EQ(ChatWindow->LabelMessage->y(), H - 22);
    EXPECT_EQ(ChatWindow->EditText->geometry(), QRect(64, H - 25, W - 65, 20));
  }
}

TEST_F(ChatWindowForm, EnterWithoutASessionOrLoginOnlyClearsTheLine) {
  QLineEdit* edit = ChatWindow->EditText;
  // An empty line: nothing at all.
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_TRUE(ChatWindow->MemoMsg->toPlainText().isEmpty());
  // No session.
  QTest::keyClicks(edit, "hello");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_TRUE(edit->text().isEmpty());
  EXPECT_TRUE(ChatWindow->MemoMsg->toPlainText().isEmpty());
  // 201 characters cannot be typed.
  QTest::keyClicks(edit, QString(201, 'x'));
  EXPECT_EQ(edit->text().size(), 200);
  QTest::keyClick(edit, Qt::Key_Escape);  // other keys are left to the edit
  EXPECT_EQ(edit->text().size(), 200);
  edit->clear();

  // A host before any member has logged in: nothing queued, nothing shown.
  NetWindow->SpinEditPort->setValue(0);
  NetWindow->ButtonStandby->click();
  ASSERT_NE(NetState.Socket, nullptr);
  const int32_t queued = NetState.Socket->OutBuf.Size();
  const QString before = ChatWindow->MemoMsg->toPlainText();
  QTest::keyClicks(edit, "anyone?");
  QTest::keyClick(edit, Qt::Key_Enter);
  EXPECT_TRUE(edit->text().isEmpty());
  EXPECT_EQ(NetState.Socket->OutBuf.Size(), queued);
  EXPECT_EQ(ChatWindow->MemoMsg->toPlainText(), before);
  VLMain->CloseAllPapers(false);

  // A member whose slot has not come yet.
  QTcpServer server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
  NetWindow->SpinEditPort->setValue(server.serverPort());
  NetWindow->ButtonConnect->click();
  const QString joining = ChatWindow->MemoMsg->toPlainText();
  QTest::keyClicks(edit, "early");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_TRUE(edit->text().isEmpty());
  EXPECT_EQ(NetState.Socket->OutBuf.Size(), 0);
  EXPECT_EQ(ChatWindow->MemoMsg->toPlainText(), joining);
  NetWindow->ResetSession();
}

TEST_F(ChatWindowForm, AMembersLineIsSentAndShownOnce) {
  QTcpServer server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
  NetWindow->SpinEditPort->setValue(server.serverPort());
  NetWindow->EditClientUser->setText("CLIENT");
  NetWindow->ButtonConnect->click();
  ASSERT_TRUE(PumpUntil([&] { return server.hasPendingConnections(); }));
  TRawConn host(server.nextPendingConnection());
  host.Send(Frame(1, 0, 1, Le(1)));
  ASSERT_TRUE(PumpUntil([&] { return NetState.Socket->LoggedIn; }));
  QTest::keyClicks(ChatWindow->EditText, "hi all");
  QTest::keyClick(ChatWindow->EditText, Qt::Key_Return);
  ASSERT_TRUE(PumpUntil([&] { return !host.FramesOf(5).empty(); }));
  const TRawFrame chat = host.FramesOf(5)[0];
  EXPECT_EQ(Frame(chat.Kind, chat.Sender, chat.Dest, chat.Payload),
            Cat({Le(5), Le(1), Le(-1), Le(6), Octets{'h', 'i', ' ', 'a', 'l', 'l'}}));
  EXPECT_TRUE(HasLine("[CLIENT] hi all"));
  // The host's line, and a list naming the members.
  Octets list(256, 0);
  const Octets hote = Field("HOTE", 16), client = Field("CLIENT", 16);
  std::copy(hote.begin(), hote.end(), list.begin());
  std::copy(client.begin(), client.end(), list.begin() + 32);
  host.Send(Cat({Frame(4, 0, -1, list), Frame(5, 0, -1, Octets{'y', 'o'})}));
  ASSERT_TRUE(PumpUntil([&] { return HasLine("[HOTE] yo"); }));
  EXPECT_EQ(MemberLines(), (std::vector<std::string>{"CLIENT", "@HOTE"}));
  NetWindow->ResetSession();
  EXPECT_TRUE(MemberLines().empty());
}

TEST(ChatLine, EveryBreakControlOrSpaceRunBecomesOneSpace) {
  struct Case {
    const char16_t* in;
    const char16_t* out;
  };
  const Case cases[] = {
      {u"a\rb", u"a b"},
      {u"a\nb", u"a b"},
      {u"a\r\nb", u"a b"},
      {u"a\n\n\r\nb", u"a b"},
      {u"a\u2028b\u2029c", u"a b c"},
      {u"a\u0085b\vc\fd", u"a b c d"},
      {u"a\tb\x1b[2Jc", u"a b [2Jc"},
      {u"\nlead and trail\n", u" lead and trail "},
      {u"hi" u"                                        " u"[HOTE] x", u"hi [HOTE] x"},
      {u"a \t\u3000\u00A0\u2003 b", u"a b"},
      {u"  both ends  ", u" both ends "},
      {u"\u3042\u3044 \U0001F600 plain", u"\u3042\u3044 \U0001F600 plain"},
      {u"", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(QString::fromUtf16(c.in).toStdString());
    EXPECT_EQ(OneLine(QString::fromUtf16(c.in)), QString::fromUtf16(c.out));
  }
}

// On a member: a text with line breaks, from the host or typed here, and a name with one,
// each stay on one line of their own; only the newest lines are kept.
TEST_F(ChatWindowForm, AMembersWindowShowsEveryTextAsOneLineAndKeepsTheNewest) {
  QTcpServer server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
  const std::unique_ptr<TRawConn> joined = JoinRawHost(server, "CLIENT", "HO\nTE", "CLIENT");
  TRawConn& host = *joined;
  EXPECT_EQ(MemberLines(), (std::vector<std::string>{"CLIENT", "@HO TE"}));

  ChatWindow->MemoMsg->clear();
  const char* const texts[] = {"one\rtwo", "one\ntwo", "one\r\ntwo", "ok\r\n[CLIENT] I quit"};
  for (const char* t : texts) host.Send(Frame(5, 0, -1, Octets(t, t + strlen(t))));
  ASSERT_TRUE(PumpUntil([&] { return MessageLines().size() == 4; }, false));
  EXPECT_EQ(MessageLines(), (std::vector<std::string>{"[HO TE] one two", "[HO TE] one two", "[HO TE] one two",
                                                      "[HO TE] ok [CLIENT] I quit"}));

  // Typed (pasted) here: sent and shown as one line.
  ChatWindow->EditText->setText(QString::fromUtf16(u"up\u2028down\nend"));
  QTest::keyClick(ChatWindow->EditText, Qt::Key_Return);
  EXPECT_EQ(MessageLines().back(), "[CLIENT] up down end");
  ASSERT_TRUE(PumpUntil([&] { return !host.FramesOf(5).empty(); }, false));
  const std::string sent = "up down end";
  EXPECT_EQ(host.FramesOf(5)[0].Payload, Octets(sent.begin(), sent.end()));

  // More lines than the window keeps: the newest stay.
  const int n = TChatWindow::kMaxMessageLines + 100;
  Octets many;
  for (int i = 0; i < n; ++i) {
    const std::string t = "line " + std::to_string(i);
    const Octets f = Frame(5, 0, -1, Octets(t.begin(), t.end()));
    many.insert(many.end(), f.begin(), f.end());
  }
  host.Send(many);
  ASSERT_TRUE(PumpUntil([&] { return MessageLines().back() == "[HO TE] line " + std::to_string(n - 1); }, false));
  const std::vector<std::string> lines = MessageLines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(TChatWindow::kMaxMessageLines));
  EXPECT_EQ(lines.front(), "[HO TE] line 100");
  NetWindow->ResetSession();
}

// A member told apart by the host (its name was taken) shows its own lines under the name
// the others see.
TEST_F(ChatWindowForm, AMemberEchoesItsLinesUnderTheNameTheHostGaveIt) {
  QTcpServer server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
  const std::unique_ptr<TRawConn> host = JoinRawHost(server, "HOTE", "HOTE", "HOTE(2)");
  ChatWindow->EditText->setText("hi");
  QTest::keyClick(ChatWindow->EditText, Qt::Key_Return);
  EXPECT_EQ(MessageLines().back(), "[HOTE(2)] hi");
  NetWindow->ResetSession();
}

}  // namespace
