// The main window: placement, close, first activation, menus, the sibling program's launch.
#include <QDesktopServices>
#include <QLineEdit>
#include <QMenu>
#include <QSpinBox>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "PainterFixture.h"
#include "painter/PenWin2.h"
#include "platform/core/Files.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/WindowMessages.h"
#include "painter/ChatWin.h"
#include "painter/NetWin.h"

// Takes the addresses the program asks the desktop to open.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  std::vector<std::string> Urls;
 public slots:
  void Open(const QUrl& url) { Urls.push_back(url.toString().toStdString()); }
};

namespace {

std::string ReadFile(const std::string& path) {
  std::vector<uint8_t> b;
  plat::ReadWholeFile(path, b);
  return std::string(b.begin(), b.end());
}

// A picture file of a blank paper of the given size whose record holds only the new paper.
void WriteWpb(const std::string& path, int32_t w, int32_t h) {
  TPaper paper;
  ASSERT_TRUE(paper.Init("NONAME", w, h));
  TEventPacket packet;
  packet.WriteNewPaper(w, h);
  ASSERT_TRUE(paper.SaveToFile(path, false, packet));
}

std::vector<std::string> Captions() {
  std::vector<std::string> out;
  for (TDrawWindow* w : VLMain->DrawWindows()) out.push_back(w->Caption());
  return out;
}

std::vector<std::string> Texts(const plat::TMessageRecorder& r) {
  std::vector<std::string> out;
  for (const auto& m : r.Messages) out.push_back(m.Text);
  return out;
}

const char kRecovery[] = "前回異常終了しましたので、ファイルを復帰します。";

class ShellMain : public PainterFixture {
 protected:
  static void Seed(const char* key, const std::function<void(plat::TRegistry&)>& write) {
    plat::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(key, true));
    write(reg);
  }
  std::string SettingsFile() const { return ReadFile(plat::SettingsDir() + "/brenmoor.reg"); }
};

// ---- Placement -------------------------------------------------------------------------------

TEST_F(ShellMain, PlacementIsReadClampedAndWrittenBack) {
  const int cx = plat::GetSystemMetrics(plat::SM_CXFULLSCREEN), cy = plat::GetSystemMetrics(plat::SM_CYFULLSCREEN);
  struct Case {
    const char* what;
    std::optional<bool> maximized;
    int left, top, width, height;
    bool expectMax;
    QRect expected;
  };
  const Case cases[] = {
      {"no Maximized value", std::nullopt, 30, 40, 300, 200, true, {}},
      {"maximised", true, 30, 40, 300, 200, true, {}},
      {"as saved", false, 30, 40, 300, 200, false, QRect(30, 40, 300, 200)},
      {"left past three quarters", false, cx / 4 * 3 + 1, 40, 300, 200, false, QRect(0, 40, 300, 200)},
      {"left at three quarters", false, cx / 4 * 3, 40, 300, 200, false, QRect(cx / 4 * 3, 40, 300, 200)},
      {"top past three quarters", false, 30, cy / 4 * 3 + 1, 300, 200, false, QRect(30, 0, 300, 200)},
      {"negative top", false, 30, -10, 300, 200, false, QRect(30, 0, 300, 200)},
      {"negative left", false, -5, 40, 300, 200, false, QRect(0, 40, 300, 200)},
      {"too wide and high", false, 30, 40, 6000, 5001, false, QRect(30, 40, 5000, 5000)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Seed(kVelloraKey, [&](plat::TRegistry& r) {
      if (c.maximized) r.WriteBool("Maximized", *c.maximized);
      else r.DeleteValue("Maximized");
      r.WriteInteger("WinLeft", c.left);
      r.WriteInteger("WinTop", c.top);
      r.WriteInteger("WinWidth", c.width);
      r.WriteInteger("WinHeight", c.height);
    });
    Restart();
    EXPECT_EQ(VLMain->isMaximized(), c.expectMax);
    if (!c.expectMax) {
      EXPECT_EQ(QRect(VLMain->pos(), VLMain->size()), c.expected);
    }
  }
  // Round trip: what the window had at the close is what the next run starts with.
  VLMain->move(50, 60);
  VLMain->resize(320, 240);
  ASSERT_TRUE(VLMain->close());
  Restart();
  EXPECT_FALSE(VLMain->isMaximized());
  EXPECT_EQ(QRect(VLMain->pos(), VLMain->size()), QRect(50, 60, 320, 240));
  VLMain->setWindowState(Qt::WindowMaximized);
  ASSERT_TRUE(VLMain->close());
  Restart();
  EXPECT_TRUE(VLMain->isMaximized());
}

// ---- Close -----------------------------------------------------------------------------------

TEST_F(ShellMain, QuittingAsksOnlyWithPapersAndNoChangesNothing) {
  // Without a paper nothing is asked.
  EXPECT_TRUE(VLMain->close());
  EXPECT_TRUE(Messages.Messages.empty());
  Restart();

  MakePaper(40, 30);
  VLMain->EventWaitItem->setChecked(true);
  VLMain->JapaneseItem->setChecked(false);
  const std::string before = SettingsFile();
  Messages.Answer = plat::IDNO;
  EXPECT_FALSE(VLMain->close());
  EXPECT_EQ(Texts(Messages), std::vector<std::string>{msgQuit});
  EXPECT_EQ(SettingsFile(), before);
  EXPECT_EQ(VLMain->DrawWindows().size(), 1u);
}

TEST_F(ShellMain, QuittingWritesTheSettingsDeletesTheAutosaveAndKeepsWhatOthersWrote) {
  std::ofstream(AutosavePath()) << "left over";
  MakePaper(40, 30);
  // Written by others while the main window holds its key open.
  VLMain->Stroke->SetWidth(12.5f);
  ASSERT_TRUE(VLMain->Stroke->SavePreset(bkPen, 3));
  Seed(kRoomvaneKey, [](plat::TRegistry& r) { r.WriteString("User", "guest"); });
  Seed(kVelloraKey, [](plat::TRegistry& r) { r.WriteString("Path", "/pictures/"); });
  VLMain->EventWaitItem->setChecked(true);
  VLMain->JapaneseItem->setChecked(false);
  VLMain->setWindowState(Qt::WindowNoState);
  VLMain->move(11, 12);
  VLMain->resize(333, 222);

  Messages.Answer = plat::IDYES;
  EXPECT_TRUE(VLMain->close());
  EXPECT_EQ(Texts(Messages), std::vector<std::string>{msgQuit});
  EXPECT_FALSE(plat::FileExists(AutosavePath()));
  plat::TRegistry r;
  ASSERT_TRUE(r.OpenKey(kVelloraKey, false));
  EXPECT_EQ(r.ReadBool("EventWait"), true);
  EXPECT_EQ(r.ReadBool("Japanese"), false);
  EXPECT_EQ(r.ReadBool("Maximized"), false);
  EXPECT_EQ(r.ReadInteger("WinLeft"), 11);
  EXPECT_EQ(r.ReadInteger("WinWidth"), 333);
  EXPECT_EQ(r.ReadString("Path"), "/pictures/");
  TStroke preset;
  preset.LoadPreset(bkPen, 3);
  EXPECT_EQ(preset.WIDTH, 12.5f);
  ASSERT_TRUE(r.OpenKey(kRoomvaneKey, false));
  EXPECT_EQ(r.ReadString("User"), "guest");
}

// ---- First activation ------------------------------------------------------------------------

TEST_F(ShellMain, TheLanguageComesFromTheSettingsElseFromTheSystem) {
  struct Case {
    std::optional<bool> japanese;
    const char* locale;
    int expected;
  };
  const Case cases[] = {
      {true, "fr_FR.UTF-8", 0}, {true, "C", 0}, {false, "ja_JP.UTF-8", 1}, {false, "C", 1},
      {std::nullopt, "ja_JP.UTF-8", 0}, {std::nullopt, "fr_FR.UTF-8", 1}, {std::nullopt, "C.UTF-8", 0},
  };
  const char* lcAll = getenv("LC_ALL");
  const std::string savedLcAll = lcAll ? lcAll : "";
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.japanese.value_or(2)) + " " + c.locale);
    setenv("LC_ALL", c.locale, 1);
    Seed(kVelloraKey, [&](plat::TRegistry& r) {
      if (c.japanese) r.WriteBool("Japanese", *c.japanese);
      else r.DeleteValue("Japanese");
    });
    Restart();
    VLMain->AppActivate();
    EXPECT_FALSE(VLMain->FirstActivation);
    EXPECT_EQ(CurrentLanguage(), c.expected);
    EXPECT_EQ(VLMain->JapaneseItem->isChecked(), c.expected == 0);
    EXPECT_EQ(VLMain->EnglishItem->isChecked(), c.expected == 1);
    EXPECT_EQ(msgQuit, c.expected == 0 ? "アプリケーションを終了しますか？" : "Quitter le logiciel sans sauver ?  ");
    // The choice is kept for the next run.
    ASSERT_TRUE(VLMain->close());
    plat::TRegistry r;
    ASSERT_TRUE(r.OpenKey(kVelloraKey, false));
    EXPECT_EQ(r.ReadBool("Japanese"), c.expected == 0);
  }
  if (lcAll) setenv("LC_ALL", savedLcAll.c_str(), 1);
  else unsetenv("LC_ALL");
}

TEST_F(ShellMain, FirstActivationLoadsPenPresetOneOnce) {
  VLMain->Stroke->SetWidth(77.0f);
  TStroke preset;
  preset.LoadPreset(bkPen, 1);
  VLMain->AppActivate();
  EXPECT_EQ(VLMain->Stroke->WIDTH, preset.WIDTH);
  EXPECT_EQ(VLMain->Stroke->GAMMA, preset.GAMMA);
  EXPECT_EQ(VLMain->Stroke->MIN, preset.MIN);
  EXPECT_TRUE(VLMain->ToolWindowsShown);
  // Later activations leave the brush alone.
  VLMain->Stroke->SetWidth(77.0f);
  VLMain->AppDeactivate();
  VLMain->AppActivate();
  EXPECT_EQ(VLMain->Stroke->WIDTH, 77.0f);
}

TEST_F(ShellMain, AnAutosaveIsRecoveredAsNonameBeforeTheCommandLineFile) {
  TTempDir dir;
  WriteWpb(AutosavePath(), 40, 30);
  WriteWpb(dir.Path("picture.wpb"), 50, 20);
  CommandLineFile = dir.Path("picture.wpb");
  VLMain->AppActivate();
  EXPECT_EQ(Texts(Messages), std::vector<std::string>{kRecovery});
  EXPECT_EQ(Captions(), (std::vector<std::string>{"<OFFLINE>  \"NONAME\" 40*30 : 100%",
                                                   "<OFFLINE>  \"" + dir.Path("picture.wpb") + "\" 50*20 : 100%"}));
  EXPECT_EQ(VLMain->DrawWindows()[0]->Paper->Name, "NONAME");
  // The file stays until a normal end.
  EXPECT_TRUE(plat::FileExists(AutosavePath()));
}

TEST_F(ShellMain, ADamagedAutosaveOpensNothingAndTheCommandLineFileStillOpens) {
  TTempDir dir;
  std::ofstream(AutosavePath(), std::ios::binary) << std::string("WPB2\x01\x00\x00\x00garbage", 15);
  WriteWpb(dir.Path("picture.wpb"), 50, 20);
  CommandLineFile = dir.Path("picture.wpb");
  VLMain->AppActivate();
  ASSERT_EQ(Messages.Messages.size(), 3u);
  EXPECT_EQ(Messages.Messages[0].Text, kRecovery);
  EXPECT_FALSE(Messages.Messages[1].Text.empty());  // the engine's own refusal
  EXPECT_EQ(Messages.Messages[2].Text.rfind(msgAutosaveKept, 0), 0u);  // and where the file was kept
  Settle();
  ASSERT_EQ(VLMain->DrawWindows().size(), 1u);
  EXPECT_EQ(VLMain->DrawWindows()[0]->Paper->Width(), 50);
  EXPECT_EQ(VLMain->MdiArea->subWindowList().size(), 1);
}

TEST_F(ShellMain, OpeningAPictureFileChecksItFirst) {
  TTempDir dir;
  std::ofstream(dir.Path("other.wpb"), std::ios::binary) << "GIF89a....";
  VLMain->OpenFile(dir.Path("missing.wpb"));
  VLMain->OpenFile(dir.Path("other.wpb"));
  VLMain->OpenFile(dir.Path("other.txt"));
  EXPECT_EQ(Texts(Messages), (std::vector<std::string>{msgFileNotFound, msgUnknownFormat}));
  Settle();
  EXPECT_TRUE(VLMain->MdiArea->subWindowList().empty());
  // Extensions are compared without case.
  WriteWpb(dir.Path("UPPER.WPB"), 7, 9);
  VLMain->OpenFile(dir.Path("UPPER.WPB"));
  ASSERT_EQ(VLMain->DrawWindows().size(), 1u);
  EXPECT_EQ(VLMain->DrawWindows()[0]->Paper->Height(), 9);
}

// ---- Menus -----------------------------------------------------------------------------------

TEST_F(ShellMain, TheTwentyPaperItemsFollowThePaperWindows) {
  const std::vector<QAction*> items = {
      VLMain->UndoItem,        VLMain->EventExportItem,  VLMain->WindowCascadeItem, VLMain->WindowTileItem,
      VLMain->WindowArrangeItem, VLMain->WindowMinimizeItem, VLMain->CaptureSaveItem, VLMain->ZoomInItem,
      VLMain->ZoomOutItem,     VLMain->CopyItem,         VLMain->PasteItem,         VLMain->PaperResolutionItem,
      VLMain->PaperResizeItem, VLMain->PaperColorItem,   VLMain->VFlipItem,         VLMain->HFlipItem,
      VLMain->NegaPosiItem,    VLMain->RotateRightItem,  VLMain->RotateLeftItem,    VLMain->Rotate180Item};
  auto enabled = [&] {
    int n = 0;
    for (QAction* a : items) n += a->isEnabled();
    return n;
  };
  EXPECT_EQ(enabled(), 0);
  TDrawWindow* w = MakePaper(40, 30);
  EXPECT_EQ(enabled(), 20);
  Messages.Answer = plat::IDYES;
  EXPECT_TRUE(w->CloseWindow(true));
  EXPECT_EQ(enabled(), 0);
  Settle();
  EXPECT_EQ(enabled(), 0);
  // Named as the form names them, with their Ctrl shortcuts.
  for (const char* name : {"FileNewItem", "UndoItem", "NetFinishItem", "JapaneseItem", "N24", "WindowTileItem"})
    EXPECT_NE(VLMain->findChild<QAction*>(name), nullptr) << name;
  // The keys stand after a tab in every language.
  const QString ctrlQ = "\t" + QKeySequence("Ctrl+Q").toString(QKeySequence::NativeText);
  VLMain->JapaneseItem->trigger();
  EXPECT_TRUE(VLMain->FileExitItem->text().endsWith(ctrlQ)) << VLMain->FileExitItem->text().toStdString();
  VLMain->EnglishItem->trigger();
  EXPECT_TRUE(VLMain->FileExitItem->text().endsWith(ctrlQ)) << VLMain->FileExitItem->text().toStdString();
  EXPECT_EQ(VLMain->FileExitItem->text().count('\t'), 1);
  EXPECT_TRUE(VLMain->UndoItem->text().endsWith("\t" + QKeySequence("Ctrl+Z").toString(QKeySequence::NativeText)));
}

TEST_F(ShellMain, ShowAndWindowMenusFollowTheWindows) {
  TDrawWindow* w = MakePaper(40, 30);
  VLMain->Show1Click();
  EXPECT_FALSE(VLMain->EventStopItem->isEnabled());
  w->Playing = true;
  VLMain->Show1Click();
  EXPECT_TRUE(VLMain->EventStopItem->isEnabled());
  w->Playing = false;

  VLMain->ShowAllToolItemClick();
  VLMain->Window1Click();
  EXPECT_FALSE(VLMain->ToolWinItem->isChecked());
  for (QAction* a : {VLMain->ColorWinItem, VLMain->BrushWinItem, VLMain->PreviewWinItem, VLMain->LayerWinItem})
    EXPECT_TRUE(a->isChecked()) << a->objectName().toStdString();
  VLMain->BrushWinItemClick();
  VLMain->ToolWinItemClick();
  VLMain->Window1Click();
  EXPECT_FALSE(VLMain->BrushWinItem->isChecked());
  EXPECT_TRUE(VLMain->ToolWinItem->isChecked());

  // Zoom items zoom about the view's centre, without refitting.
  VLMain->ZoomInItemClick();
  EXPECT_EQ(w->Paper->Display.ZoomIndex, 1);
  VLMain->ZoomOutItemClick();
  VLMain->ZoomOutItemClick();
  EXPECT_EQ(w->Paper->Display.ZoomIndex, -1);
}

TEST_F(ShellMain, WindowItemsMinimiseAndArrangePaperWindows) {
  ShowMain();
  MakePaper(40, 30);
  MakePaper(30, 20);
  VLMain->WindowMinimizeItemClick();
  for (QMdiSubWindow* s : VLMain->MdiArea->subWindowList()) EXPECT_TRUE(s->isMinimized());
  VLMain->WindowArrangeItemClick();
  const QList<QMdiSubWindow*> list = VLMain->MdiArea->subWindowList(QMdiArea::CreationOrder);
  const int bottom = VLMain->MdiArea->viewport()->height();
  ASSERT_EQ(list.size(), 2);
  EXPECT_EQ(list[0]->geometry().bottom() + 1, bottom);
  EXPECT_EQ(list[1]->geometry().bottom() + 1, bottom);
  EXPECT_EQ(list[0]->x(), 0);
  EXPECT_EQ(list[1]->x(), list[0]->width());
}

TEST_F(ShellMain, LanguageItemsSwitchTextsAndReselectTheBrushIcon) {
  VLMain->EnglishItem->trigger();
  EXPECT_TRUE(VLMain->EnglishItem->isChecked());
  EXPECT_FALSE(VLMain->JapaneseItem->isChecked());
  EXPECT_EQ(msgCloseWindow, "Fermer la fenêtre ?   ");
  VLMain->JapaneseItem->trigger();
  EXPECT_FALSE(VLMain->EnglishItem->isChecked());
  EXPECT_EQ(msgCloseWindow, "本当に閉じますか？");
  // The brush window is given the icon of the brush kind, never the kind.
  const std::pair<int, int> icons[] = {{bkPen, 0}, {bkWatercolor, 1}, {bkBlur, 2}, {bkEraser, 3}, {bkBlur2, 2}};
  for (auto [kind, icon] : icons) EXPECT_EQ(BrushIconOfKind(kind), icon) << kind;
}

TEST_F(ShellMain, WebItemsOpenTheMakersPages) {
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("https", &catcher, "Open");
  VLMain->NetHomepageItem->trigger();
  VLMain->NetUploadItem->trigger();
  VLMain->NetLatestItem->trigger();
  QDesktopServices::unsetUrlHandler("https");
  ASSERT_EQ(catcher.Urls.size(), 3u);
  for (const std::string& u : catcher.Urls) EXPECT_EQ(u.rfind("https://brenmoor.example/vellora/", 0), 0u) << u;
  EXPECT_NE(catcher.Urls[0], catcher.Urls[1]);
  EXPECT_NE(catcher.Urls[1], catcher.Urls[2]);
  EXPECT_TRUE(Messages.Messages.empty());
}

// ---- Active paper window ---------------------------------------------------------------------

TEST_F(ShellMain, TheActivePaperStaysWhileAToolWindowHasTheFocus) {
  ShowMain();
  TDrawWindow* first = MakePaper(40, 30);
  TDrawWindow* second = MakePaper(30, 20);
  EXPECT_EQ(VLMain->ActiveDrawWindow(), second);
  VLMain->MdiArea->setActiveSubWindow(first->SubWindow());
  EXPECT_EQ(VLMain->ActiveDrawWindow(), first);
  PenWindow2->show();
  PenWindow2->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(PenWindow2, 2000));
  EXPECT_EQ(VLMain->ActiveDrawWindow(), first);
  // A window being closed is never the active one, even while its close runs.
  TDrawWindow* seen = nullptr;
  first->Paper->SetNetMode(1);
  Messages.Answer = plat::IDYES;
  auto previous = plat::SetFileDialogHandler([&](const plat::TFileDialogRequest&) -> std::optional<std::string> {
    seen = VLMain->ActiveDrawWindow();
    return std::nullopt;
  });
  EXPECT_TRUE(first->CloseWindow(true));
  plat::SetFileDialogHandler(previous);
  EXPECT_EQ(seen, second);
  EXPECT_EQ(VLMain->ActiveDrawWindow(), second);
}

TEST_F(ShellMain, APaperChangeRecompositesAndRefitsOnlyANormalWindow) {
  TDrawWindow* w = MakePaper(40, 30);
  ASSERT_TRUE(w->Paper->ChangeCanvasSize(100, 60, 0));
  w->Paper->Layers->FillRect(0, 0, 0, 100, 60, 0x00FF00);
  VLMain->PaperChanged(false);
  EXPECT_EQ(w->Paper->CompositeImage.GetPixel(90, 50) & 0xFFFFFF, 0x00FF00u);
  EXPECT_EQ(w->ClientWidth(), 40 + 80);
  VLMain->PaperChanged(true);
  EXPECT_EQ(w->ClientWidth(), 100 + 80);
  EXPECT_EQ(w->ClientHeight(), 60 + 80);
  // The paper's top-left corner 32 pixels inside the window.
  TPoint corner{0, 0};
  w->Paper->Display.PaperToWindow(w->ClientWidth(), w->ClientHeight(), corner);
  EXPECT_EQ(corner.X, 32);
  EXPECT_EQ(corner.Y, 32);

  w->SubWindow()->showMaximized();
  const QSize maximized = w->size();
  ASSERT_TRUE(w->Paper->ChangeCanvasSize(50, 50, 0));
  VLMain->PaperChanged(true);
  EXPECT_EQ(w->size(), maximized);
  // The program records where it was started from.
  plat::TRegistry r;
  ASSERT_TRUE(r.OpenKey(kVelloraKey, false));
  EXPECT_EQ(r.ReadString("LastExecute"), QCoreApplication::applicationFilePath().toStdString());
}

// ---- The sibling program's launch ------------------------------------------------------------

TEST_F(ShellMain, ALaunchMessageFillsTheNetworkWindowAndStarts) {
  struct Case {
    const char* what;
    bool server;
    bool withPort;
    bool networkPaper;
    bool netShown, chatShown;
  };
  const Case cases[] = {
      {"host", true, true, false, false, true},
      {"member", false, true, false, false, true},
      {"host without a port", true, false, false, true, false},
      {"member without a port", false, false, false, true, false},
      {"a network paper is open", true, true, true, false, false},
  };
  struct Controls {
    std::string serverUser, serverPassword, clientUser, clientPassword, ip;
    int width, height, port, members, layers;
  };
  auto read = [] {
    auto t = [](QLineEdit* e) { return e->text().toStdString(); };
    return Controls{t(NetWindow->EditServerUser),     t(NetWindow->EditServerPassword), t(NetWindow->EditClientUser),
                    t(NetWindow->EditClientPassword), t(NetWindow->EditIP),             NetWindow->SpinEditNetWidth->value(),
                    NetWindow->SpinEditNetHeight->value(), NetWindow->SpinEditPort->value(),
                    NetWindow->SpinEditMaxMember->value(), NetWindow->SpinEditLayer->value()};
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Restart();
    // Only this machine: a port the system picks for hosting, a refused one for joining.
    Seed(kRoomvaneKey, [&](plat::TRegistry& r) {
      r.WriteBool("IsServer", c.server);
      r.WriteString("User", "まさお");
      r.WriteString("Password", "secret");
      r.WriteInteger("X", 4000);
      r.WriteInteger("Y", 480);
      r.WriteInteger("MaxConnections", 9);
      r.WriteInteger("Layer", 3);
      r.WriteString("IPAddress", "127.0.0.2");
      if (c.withPort) r.WriteInteger("Port", c.server ? 0 : 1);
      else r.DeleteValue("Port");
    });
    if (c.networkPaper) MakePaper(40, 30)->Paper->SetNetMode(1);
    const Controls before = read();
    VLMain->WMNetLaunch();
    const Controls after = read();
    EXPECT_EQ(NetWindow->isVisible(), c.netShown);
    EXPECT_EQ(ChatWindow->isVisible(), c.chatShown);
    if (c.networkPaper) {
      EXPECT_EQ(after.serverUser, before.serverUser);
      EXPECT_EQ(after.port, before.port);
      continue;
    }
    const int port = c.withPort ? (c.server ? 0 : 1) : before.port;
    EXPECT_EQ(after.port, port);
    if (c.server) {
      EXPECT_EQ(after.serverUser, "まさお");
      EXPECT_EQ(after.serverPassword, "secret");
      EXPECT_EQ(after.width, 3000);  // clamped by the control
      EXPECT_EQ(after.height, 480);
      EXPECT_EQ(after.members, c.withPort ? 4 : before.members);
      EXPECT_EQ(after.layers, c.withPort ? 3 : before.layers);
      EXPECT_EQ(after.clientUser, before.clientUser);
      EXPECT_EQ(after.ip, before.ip);
    } else {
      EXPECT_EQ(after.clientUser, "まさお");
      EXPECT_EQ(after.clientPassword, "secret");
      EXPECT_EQ(after.ip, c.withPort ? "127.0.0.2" : before.ip);
      EXPECT_EQ(after.serverUser, before.serverUser);
      EXPECT_EQ(after.width, before.width);
    }
  }
  Restart();
}

TEST_F(ShellMain, WindowMessagesReachTheMainWindowByItsClass) {
  TTempDir dir;
  WriteWpb(dir.Path("sent.wpb"), 21, 12);
  Seed(kRoomvaneKey, [](plat::TRegistry& r) { r.WriteBool("IsServer", false); });
  const std::string path = dir.Path("sent.wpb");
  plat::TWindowMessage m{plat::WM_COPYDATA, 0, 0, path + std::string("\0junk", 5)};
  plat::PostWindowMessage("TVLMain", m);
  ASSERT_TRUE(QTest::qWaitFor([] { return VLMain->DrawWindows().size() == 1; }, 5000));
  EXPECT_EQ(VLMain->windowTitle().toStdString(), "OK");
  EXPECT_EQ(VLMain->DrawWindows()[0]->Paper->Width(), 21);
  EXPECT_EQ(VLMain->WMCopyData(std::string("nothing.txt")), 1);
  plat::PostWindowMessage("TVLMain", plat::TWindowMessage{WM_NETLAUNCH, 0, 0, {}});
  EXPECT_TRUE(QTest::qWaitFor([] { return NetWindow->isVisible(); }, 5000));
}

}  // namespace

#include "ShellMainTest.moc"
