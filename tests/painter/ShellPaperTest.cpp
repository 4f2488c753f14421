// The paper window: zoom by wheel and clicks, undo, colour picks, the Alt tap, the close and
// the end of a session paper.
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QWheelEvent>
#include <fstream>

#include "PainterFixture.h"
#include "engine/Block.h"
#include "engine/Stroke.h"
#include "painter/PenWin2.h"
#include "painter/ToolsWin.h"
#include "platform/core/Files.h"
#include "platform/qt/WindowMessages.h"
#include "painter/ChatWin.h"

namespace {

class ShellPaper : public PainterFixture {
 protected:
  // The window point showing paper point (x, y).
  static QPoint At(TDrawWindow* w, int32_t x, int32_t y) {
    TPoint p{x, y};
    w->Paper->Display.PaperToWindow(w->ClientWidth(), w->ClientHeight(), p);
    return QPoint(p.X, p.Y);
  }
  static TPoint Centre(TDrawWindow* w) {
    TPoint c;
    w->Paper->Display.CentrePoint(w->ClientWidth(), w->ClientHeight(), c.X, c.Y);
    return c;
  }
  static void Wheel(TDrawWindow* w, QPoint at, int delta) {
    QWheelEvent e(QPointF(at), QPointF(w->mapToGlobal(at)), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
  }
  static void Key(QWidget* w, QEvent::Type type, Qt::Key key, bool autoRepeat = false) {
    QKeyEvent e(type, key, Qt::NoModifier, QString(), autoRepeat);
    QApplication::sendEvent(w, &e);
  }
  static void Hold(std::initializer_list<int> keys, bool down) {
    for (int k : keys) plat::SetKeyDown(k, down);
  }
};

// ---- Zoom ------------------------------------------------------------------------------------

TEST_F(ShellPaper, TheWheelZoomsAboutThePointUnderTheCursor) {
  TDrawWindow* w = MakePaper(200, 150);
  const QPoint at = At(w, 60, 40);
  // Deltas add up to steps of 120; turning the wheel down zooms in.
  Wheel(w, at, -60);
  EXPECT_EQ(w->Paper->Display.ZoomIndex, 0);
  Wheel(w, at, -60);
  EXPECT_EQ(w->Paper->Display.ZoomIndex, 1);
  EXPECT_EQ(w->Caption().substr(w->Caption().size() - 7), " : 150%");
  // The paper point stays under the cursor.
  TPoint under{at.x(), at.y()};
  w->Paper->Display.WindowToPaper(w->ClientWidth(), w->ClientHeight(), under);
  EXPECT_NEAR(under.X, 60, 1);
  EXPECT_NEAR(under.Y, 40, 1);
  Wheel(w, At(w, 60, 40), 120);
  EXPECT_EQ(w->Paper->Display.ZoomIndex, 0);

  // At the last step nothing changes, not even the caption.
  w->Paper->Display.ZoomIndex = TDisplay::kMaxZoomIndex;
  w->SetCaption("kept");
  const int32_t h = w->ScrollBar1.Position(), v = w->ScrollBar2.Position();
  Wheel(w, QPoint(5, 5), -120);
  EXPECT_EQ(w->Paper->Display.ZoomIndex, TDisplay::kMaxZoomIndex);
  EXPECT_EQ(w->Caption(), "kept");
  EXPECT_EQ(w->ScrollBar1.Position(), h);
  EXPECT_EQ(w->ScrollBar2.Position(), v);
}

TEST_F(ShellPaper, ZoomClicksWithCtrlSpaceAndAnyButton) {
  TDrawWindow* w = MakePaper(200, 150);
  const std::vector<uint8_t> record = Bytes(*w->Packets[0]);
  struct Case {
    std::initializer_list<int> keys;
    Qt::MouseButton button;
    int expected;
  };
  const Case cases[] = {
      {{plat::VK_CONTROL, plat::VK_SPACE}, Qt::RightButton, 1},
      {{plat::VK_CONTROL, plat::VK_SPACE}, Qt::MiddleButton, 1},
      {{plat::VK_CONTROL, plat::VK_MENU, plat::VK_SPACE}, Qt::RightButton, -1},
      {{plat::VK_CONTROL, plat::VK_MENU, plat::VK_SPACE}, Qt::MiddleButton, -1},
      {{plat::VK_SPACE}, Qt::RightButton, 0},
      {{plat::VK_CONTROL}, Qt::RightButton, 0},
  };
  for (const Case& c : cases) {
    w->Paper->Display.ZoomIndex = 0;
    Hold(c.keys, true);
    QTest::mouseClick(w, c.button, Qt::NoModifier, At(w, 100, 75));
    Hold(c.keys, false);
    EXPECT_EQ(w->Paper->Display.ZoomIndex, c.expected) << c.button << " with " << c.keys.size() << " keys";
  }
  // At 800 % a zoom-in click does nothing; view changes are never recorded.
  w->Paper->Display.ZoomIndex = TDisplay::kMaxZoomIndex;
  Hold({plat::VK_CONTROL, plat::VK_SPACE}, true);
  QTest::mouseClick(w, Qt::RightButton, Qt::NoModifier, QPoint(10, 10));
  Hold({plat::VK_CONTROL, plat::VK_SPACE}, false);
  EXPECT_EQ(w->Paper->Display.ZoomIndex, TDisplay::kMaxZoomIndex);
  EXPECT_EQ(Bytes(*w->Packets[0]), record);
}

TEST_F(ShellPaper, TheZoomPointFollowsMarginOrScroll) {
  TDrawWindow* w = MakePaper(200, 150);
  TDisplay& d = w->Paper->Display;
  struct Case {
    int32_t zoomIndex, margin, scroll, window, expected;
  };
  // Per axis: (w - margin) / zoom with a margin, w / zoom + scroll when scrolled.
  const Case cases[] = {
      {0, 40, 0, 100, 60},  {1, 40, 0, 101, 40},  {2, 30, 0, 31, 0},   {-1, 10, 0, 15, 10},
      {0, 0, 25, 10, 35},   {1, 0, 25, 10, 31},   {-2, 0, 7, 3, 19},   {0, 0, 0, 17, 17},
      {6, 0, 0, 17, 2},     {1, 40, 0, 20, -13},
  };
  for (const Case& c : cases) {
    d.ZoomIndex = c.zoomIndex;
    d.SetMargins(c.margin, c.margin);
    d.SetScroll(c.scroll, c.scroll);
    const TPoint p = w->ZoomPoint(c.window, c.window);
    EXPECT_EQ(p.X, c.expected) << c.zoomIndex << " " << c.margin << " " << c.scroll << " " << c.window;
    EXPECT_EQ(p.Y, c.expected);
  }
}

// ---- Undo ------------------------------------------------------------------------------------

TEST_F(ShellPaper, CtrlZFromTheBrushWindowUndoesTheRecordedFill) {
  ShowMain();
  // Without a paper the key does nothing.
  PenWindow2->show();
  PenWindow2->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(PenWindow2, 2000));
  QTest::keyClick(PenWindow2, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_TRUE(Messages.Messages.empty());

  TDrawWindow* w = MakePaper(40, 30);
  TLayerMng& layers = *w->Paper->Layers;
  const uint32_t white = w->Paper->CompositeImage.GetPixel(7, 7);
  w->Packets[0]->WriteFillRect(0, 5, 5, 10, 10, 0xFF, 0, 0);
  layers.PushUndoRect(0, 5, 5, 10, 10);
  layers.FillRect(0, 5, 5, 10, 10, 0xFF0000);
  w->RecompositeAll();
  ASSERT_EQ(w->Paper->CompositeImage.GetPixel(7, 7) & 0xFFFFFF, 0xFF0000u);
  const std::vector<uint8_t> before = Bytes(*w->Packets[0]);

  PenWindow2->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(PenWindow2, 2000));
  ASSERT_EQ(VLMain->ActiveDrawWindow(), w);
  QTest::keyClick(PenWindow2, Qt::Key_Z, Qt::ControlModifier);
  std::vector<uint8_t> expected = before;
  expected.insert(expected.end(), {0x10, 0x01, 0x00});
  EXPECT_EQ(Bytes(*w->Packets[0]), expected);
  EXPECT_EQ(w->Paper->CompositeImage.GetPixel(7, 7), white);
}

TEST_F(ShellPaper, UndoRecordsNothingWhilePlayingOrMidStroke) {
  TDrawWindow* w = MakePaper(40, 30);
  TLayerMng& layers = *w->Paper->Layers;
  layers.PushUndoRect(0, 0, 0, 4, 4);
  layers.FillRect(0, 0, 0, 4, 4, 0x00FF00);
  w->RecompositeAll();
  const std::vector<uint8_t> before = Bytes(*w->Packets[0]);
  w->Playing = true;
  w->Undo();
  EXPECT_EQ(Bytes(*w->Packets[0]), before);
  EXPECT_TRUE(layers.CanUndo(0));
  w->Playing = false;

  w->Packets[0]->BeginStroke(*VLMain->Stroke, 1.0f, 1.0f, 1.0f);
  const std::vector<uint8_t> inStroke = Bytes(*w->Packets[0]);
  w->Undo();
  EXPECT_EQ(Bytes(*w->Packets[0]), inStroke);
  EXPECT_TRUE(layers.CanUndo(0));
  w->Packets[0]->EndStroke();

  // Recorded even when the layer has nothing left to undo.
  w->Undo();
  w->Undo();
  const std::vector<uint8_t> after = Bytes(*w->Packets[0]);
  ASSERT_GE(after.size(), 6u);
  EXPECT_EQ(std::vector<uint8_t>(after.end() - 6, after.end()), (std::vector<uint8_t>{0x10, 0x01, 0, 0x10, 0x01, 0}));
}

// ---- Colour picks ----------------------------------------------------------------------------

TEST_F(ShellPaper, ColourPicksTakeTheCompositeOrWithCtrlTheLayerAndRecordNothing) {
  TDrawWindow* w = MakePaper(40, 30);
  TLayerMng& layers = *w->Paper->Layers;
  layers.SetPaperColor(0xFFFF00);
  layers.FillRect(0, 0, 0, 3, 3, 0xFF0000);
  w->RecompositeAll();
  const std::vector<uint8_t> record = Bytes(*w->Packets[0]);
  struct Case {
    const char* what;
    QPoint at;
    bool ctrl;
    uint32_t expected;
  };
  const QPoint outside = At(w, -20, -20);
  ASSERT_GE(outside.x(), 0);
  const Case cases[] = {
      {"composite", At(w, 20, 20), false, 0xFFFF00},  // the white layer over the yellow paper
      {"layer", At(w, 20, 20), true, 0xFFFFFF},
      {"composite at the corner", At(w, 1, 1), false, 0xFF0000},
      {"outside: the composite's nearest edge", outside, false, 0xFF0000},
      {"outside with Ctrl: the layer's background", outside, true, 0xFFFFFF},
  };
  for (const Case& c : cases) {
    VLMain->Stroke->SetColor(0x123456);
    plat::SetKeyDown(plat::VK_CONTROL, c.ctrl);
    QTest::mouseClick(w, Qt::RightButton, Qt::NoModifier, c.at);
    plat::SetKeyDown(plat::VK_CONTROL, false);
    EXPECT_EQ(VLMain->Stroke->Color & 0xFFFFFF, c.expected) << c.what;
  }
  // The eyedropper picks with the left button.
  ToolsWindow->Mode.SetTool(tkSpoit);
  VLMain->Stroke->SetColor(0x123456);
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, At(w, 2, 2));
  EXPECT_EQ(VLMain->Stroke->Color & 0xFFFFFF, 0xFF0000u);
  ToolsWindow->Mode.SetTool(tkPen);
  EXPECT_EQ(Bytes(*w->Packets[0]), record);
}

// ---- Alt tap ---------------------------------------------------------------------------------

TEST_F(ShellPaper, AShortAltTapPutsARotatedViewUpright) {
  TDrawWindow* w = MakePaper(40, 30);
  struct Case {
    const char* what;
    uint32_t held;
    bool repeat;
    bool upright;
  };
  const Case cases[] = {
      {"100 ms", 100, false, true},
      {"249 ms", 249, false, true},
      {"250 ms", 250, false, false},
      {"300 ms", 300, false, false},
      {"auto-repeat", 100, true, false},
  };
  for (const Case& c : cases) {
    w->Paper->Display.SetAngle(0.5f);
    w->Paper->Display.SetCentre(20, 15);
    Key(w, QEvent::KeyPress, Qt::Key_Alt);
    if (c.repeat) Key(w, QEvent::KeyPress, Qt::Key_Alt, true);
    plat::AdvanceFakeClock(c.held);
    Key(w, QEvent::KeyRelease, Qt::Key_Alt);
    EXPECT_EQ(!w->Paper->Display.IsRotated(), c.upright) << c.what;
    EXPECT_EQ(w->AltDownCount, 0) << c.what;
  }
  // Upright, the rotation centre stands in the middle of the window.
  w->Paper->Display.SetAngle(0.5f);
  w->Paper->Display.SetCentre(20, 15);
  w->ResetView();
  const TPoint c = [&] {
    TPoint p;
    w->Paper->Display.CentrePoint(w->ClientWidth(), w->ClientHeight(), p.X, p.Y);
    return p;
  }();
  EXPECT_NEAR(c.X, 20, 1);
  EXPECT_NEAR(c.Y, 15, 1);
  EXPECT_TRUE(w->ScrollBar1.Bar()->isVisibleTo(w));
}

// ---- Close -----------------------------------------------------------------------------------

TEST_F(ShellPaper, ClosingAsksFirstAndNoKeepsThePaper) {
  TDrawWindow* w = MakePaper(40, 30);
  Messages.Answer = plat::IDNO;
  EXPECT_FALSE(w->CloseWindow(true));
  ASSERT_EQ(Messages.Messages.size(), 1u);
  EXPECT_EQ(Messages.Messages[0].Text, msgCloseWindow);
  Settle();
  ASSERT_EQ(VLMain->DrawWindows().size(), 1u);
  EXPECT_NE(w->Paper, nullptr);
  EXPECT_EQ(VLMain->ActiveDrawWindow(), w);

  Messages.Answer = plat::IDYES;
  QPointer<QMdiSubWindow> frame = w->SubWindow();
  VLMain->FileCloseItemClick();
  EXPECT_EQ(Messages.Messages.size(), 2u);
  EXPECT_EQ(VLMain->ActiveDrawWindow(), nullptr);
  Settle();
  EXPECT_TRUE(frame.isNull());
  EXPECT_TRUE(VLMain->MdiArea->subWindowList().empty());
}

class ShellSession : public ShellPaper {
 protected:
  TDrawWindow* HostPaper() {
    TDrawWindow* w = MakePaper(40, 30);
    w->Paper->SetNetMode(1);
    NetState.IsHost = 1;
    NetState.Phase = npRunning;
    w->Log->WriteNewPaper(40, 30);
    w->Log->WriteClearLayer(0);
    return w;
  }
};

// Counts the lobby program's window messages.
struct TLobby {
  QWidget window;
  std::vector<uint32_t> received;
  std::unique_ptr<plat::TWindowClass> cls{std::make_unique<plat::TWindowClass>(
      kRoomvaneClass, &window, [this](const plat::TWindowMessage& m) -> int64_t {
        received.push_back(m.Msg);
        return 0;
      })};
};

TEST_F(ShellSession, TheHostsCloseTellsTheLobbyAndSavesTheLog) {
  TTempDir dir;
  TLobby lobby;
  TDrawWindow* w = HostPaper();
  const std::vector<uint8_t> log = Bytes(*w->Log);
  plat::TFileDialogRecorder dialogs({dir.Path("session.wpe")});
  EXPECT_TRUE(w->CloseWindow(true));
  EXPECT_TRUE(QTest::qWaitFor([&] { return !lobby.received.empty(); }, 5000));
  QTest::qWait(50);
  EXPECT_EQ(lobby.received, std::vector<uint32_t>{WM_NETCLOSED});
  ASSERT_EQ(dialogs.Dialogs.size(), 1u);
  EXPECT_EQ(dialogs.Dialogs[0].Name, "SaveDialogEvent");
  EXPECT_EQ(dialogs.Dialogs[0].DefaultExt, "wpe");
  std::vector<uint8_t> file;
  ASSERT_TRUE(plat::ReadWholeFile(dir.Path("session.wpe"), file));
  std::vector<uint8_t> expected = log;
  expected.insert(expected.end(), {0xFF, 0xFF});
  EXPECT_EQ(file, expected);
  ASSERT_EQ(Messages.Messages.size(), 2u);
  EXPECT_EQ(Messages.Messages[0].Text, msgCloseWindow);
  EXPECT_EQ(Messages.Messages[1].Text, "イベントデータを保存しました。");
  EXPECT_EQ(ChatWindow->MemoMsg->toPlainText().toStdString().find("<サーバ切断>") != std::string::npos, true);
}

TEST_F(ShellSession, TheLogDialogsOutcomesAndALostHost) {
  TTempDir dir;
  struct Case {
    const char* what;
    bool host;
    uint8_t phase;
    std::optional<std::string> file;
    std::vector<std::string> texts;
  };
  const std::string lost = "サーバが落ちたので切断します。";
  const Case cases[] = {
      {"cancelled", true, npRunning, std::nullopt, {}},
      {"missing folder", true, npRunning, dir.Path("no/such/folder/x.wpe"), {"イベントデータを保存できませんでした。"}},
      {"member saves", false, npRunning, dir.Path("member.wpe"), {"イベントデータを保存しました。"}},
      {"host lost", false, npLost, std::nullopt, {lost}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Messages.Messages.clear();
    TDrawWindow* w = HostPaper();
    NetState.IsHost = c.host;
    NetState.Phase = c.phase;
    plat::TFileDialogRecorder dialogs({c.file});
    EXPECT_TRUE(w->CloseWindow(false));
    EXPECT_EQ(dialogs.Dialogs.size(), 1u);
    std::vector<std::string> texts;
    for (const auto& m : Messages.Messages) texts.push_back(m.Text);
    EXPECT_EQ(texts, c.texts);
    if (c.file) {
      EXPECT_EQ(plat::FileExists(*c.file), c.texts[0] == "イベントデータを保存しました。");
    }
    Settle();
  }
  // An offline paper shows no session dialog; a lost host is told even for one.
  NetState = TNetState{};
  Messages.Messages.clear();
  plat::TFileDialogRecorder dialogs;
  EXPECT_TRUE(MakePaper(10, 10)->CloseWindow(false));
  EXPECT_TRUE(dialogs.Dialogs.empty());
  EXPECT_TRUE(Messages.Messages.empty());
}

TEST_F(ShellSession, AtTheEndTheLogIsOfferedWithoutTheCloseQuestion) {
  HostPaper();
  MakePaper(10, 10);
  plat::TFileDialogRecorder dialogs;
  Messages.Answer = plat::IDYES;
  EXPECT_TRUE(VLMain->close());
  EXPECT_EQ(dialogs.Dialogs.size(), 1u);
  std::vector<std::string> texts;
  for (const auto& m : Messages.Messages) texts.push_back(m.Text);
  EXPECT_EQ(texts, std::vector<std::string>{msgQuit});
  EXPECT_TRUE(VLMain->DrawWindows().empty());
}

}  // namespace
