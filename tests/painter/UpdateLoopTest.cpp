// The update step run by hand: autosave, import playback, the drivers, the lost host.
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>
#include <cstdio>

#include "engine/LayerMng.h"
#include "painter/LayerWin.h"
#include "platform/core/Files.h"
#include "platform/core/KeyState.h"
#include "platform/qt/FileDialog.h"
#include "tests/painter/StrokeFixture.h"

namespace {

class UpdateLoop : public StrokeFixture {
 protected:
  // n short strokes, each ended by its release.
  void DrawStrokes(TDrawWindow* w, int n) {
    for (int i = 0; i < n; ++i) {
      const int y = 10 + (i % 40) * 2;
      Drag(w, {At(w, 10, y), At(w, 14, y), At(w, 18, y + 1)});
    }
  }

  // A window set up as an import leaves it: the record loaded, its first event played,
  // playing from now on.
  TDrawWindow* Import(const std::vector<uint8_t>& stream) {
    TMyMemory m(64);
    m.WriteBuffer(stream.data(), static_cast<int32_t>(stream.size()));
    TDrawWindow* w = VLMain->CreateDrawWindow("");
    EXPECT_TRUE(w->Packets[0]->LoadFromMemory(m));
    uint16_t code = 0;
    uint8_t refit = 0;
    w->Paper->PlayEvent(*w->Packets[0], *w->Strokes[0], code, refit, w);
    VLMain->PaperChanged(true);
    w->Playing = true;
    VLMain->PlayStart = timeGetTime();
    w->LastStepTime = timeGetTime();
    VLMain->SetUpdateMode(true);
    return w;
  }

  // A record: a new paper, then a pen stroke of n points after its first.
  static std::vector<uint8_t> StrokeRecord(int32_t n, bool paperSizeAfter = false) {
    TEventPacket r;
    r.WriteNewPaper(120, 80);
    TStroke b;
    b.LoadPreset(bkPen, 1);
    b.SetWidth(4.0f);
    r.BeginStroke(b, 10.0f, 10.0f, 1.0f);
    for (int32_t i = 1; i <= n; ++i) r.AddStrokePoint(10.0f + static_cast<float>(i % 50), 10.0f + i / 2.0f, 1.0f);
    r.EndStroke();
    if (paperSizeAfter) {
      const uint8_t size[6] = {0x08, 0x02, 60, 0, 40, 0};  // a paper-size event
      r.Data().WriteBuffer(size, 6);
      r.WriteClearLayer(0);
    }
    r.WriteEndMarker();
    return Bytes(r);
  }

  static size_t StrokeCountOf(TEventPacket& p) { return Strokes(p).size(); }
};

TEST_F(UpdateLoop, AutosaveFollowsMoreThanFiftyStrokesAndFiveQuietSeconds) {
  struct Case {
    const char* name;
    int strokes;
    int heldKey;
    bool network;
    bool playing;
    bool saved;
  };
  const Case cases[] = {
      {"51 strokes", 51, 0, false, false, true},      {"50 strokes", 50, 0, false, false, false},
      {"Shift held", 51, plat::VK_SHIFT, false, false, false},
      {"E held", 51, 'E', false, false, false},       {"network paper", 51, 0, true, false, false},
      {"playing back", 51, 0, false, true, false},
  };
  for (const Case& c : cases) {
    std::remove(AutosavePath().c_str());
    TDrawWindow* w = MakePaper(200, 100);
    DrawStrokes(w, c.strokes);
    if (c.network) {
      NetState.IsHost = 1;  // a host without a session: no network step, no autosave
      w->Paper->SetNetMode(1);
    }
    if (c.playing) {
      w->Packets[0]->Data().Skip(w->Packets[0]->Data().Size());  // nothing left to play
      w->Playing = true;
    }
    plat::AdvanceFakeClock(5000);
    VLMain->UpdateStep();
    EXPECT_FALSE(plat::FileExists(AutosavePath())) << c.name << ": not after exactly 5000 ms";
    plat::AdvanceFakeClock(1);
    if (c.heldKey) plat::SetKeyDown(c.heldKey, true);
    VLMain->UpdateStep();
    if (c.heldKey) plat::SetKeyDown(c.heldKey, false);
    EXPECT_EQ(plat::FileExists(AutosavePath()), c.saved) << c.name;
    if (c.saved) {
      TPaper saved;
      TEventPacket record;
      ASSERT_TRUE(saved.LoadFromFile(AutosavePath(), record)) << c.name;
      EXPECT_EQ(StrokeCountOf(record), 51u);
      EXPECT_EQ(w->SavedStrokeCount, 51);
      // Replayed on a fresh paper, the saved record gives the saved picture.
      TPaper replay;
      ReplayAll(replay, record);
      EXPECT_TRUE(SameComposite(replay, saved));
      EXPECT_TRUE(SameComposite(replay, *w->Paper));
      // Saved once: the next quiet step writes nothing new.
      std::remove(AutosavePath().c_str());
      plat::AdvanceFakeClock(6000);
      VLMain->UpdateStep();
      EXPECT_FALSE(plat::FileExists(AutosavePath()));
    }
    w->Playing = false;
    w->Paper->SetNetMode(0);
    NetState.IsHost = 0;
    w->CloseWindow(false);
    Settle();
  }
}

TEST_F(UpdateLoop, PlaybackWaitsEightMillisecondsPerStepAndEndsWithItsTime) {
  VLMain->EventWait = true;
  TDrawWindow* w = Import(StrokeRecord(99));
  TMyMemory& d = w->Packets[0]->Data();
  const int32_t original = d.Size() - 2;  // without the end marker

  VLMain->UpdateStep();
  EXPECT_EQ(d.ReadPos(), 6) << "no step before 8 ms have passed";
  plat::AdvanceFakeClock(8);
  VLMain->UpdateStep();  // the stroke's first point
  const int32_t afterFirst = d.ReadPos();
  EXPECT_GT(afterFirst, 6);
  ASSERT_TRUE(w->Packets[0]->InStroke());
  const int32_t points = w->Packets[0]->PointCount();
  plat::AdvanceFakeClock(7);
  VLMain->UpdateStep();
  VLMain->UpdateStep();
  EXPECT_EQ(w->Packets[0]->PointCount(), points) << "no step within 8 ms";
  plat::AdvanceFakeClock(1);
  VLMain->UpdateStep();
  VLMain->UpdateStep();
  EXPECT_EQ(w->Packets[0]->PointCount(), points - 1) << "one step after 8 ms";

  for (int i = 0; i < 200 && w->Playing; ++i) {
    plat::AdvanceFakeClock(8);
    VLMain->UpdateStep();
  }
  ASSERT_FALSE(w->Playing);
  const std::string caption = w->Caption();
  const std::string tail = " : <インポートファイル再生終了 : " +
                           std::to_string(timeGetTime() - VLMain->PlayStart) + "[ms]>";
  ASSERT_GE(caption.size(), tail.size());
  EXPECT_EQ(caption.substr(caption.size() - tail.size()), tail);
  EXPECT_EQ(caption.substr(0, caption.size() - tail.size()), w->Paper->Caption());
  EXPECT_EQ(d.Size(), original) << "the end marker is gone";
  EXPECT_TRUE(VLMain->UpdateTimer->isActive());
  EXPECT_FALSE(VLMain->IdleTimer->isActive());

  // Drawing continues the record after the original bytes.
  const std::vector<uint8_t> before = Bytes(*w->Packets[0]);
  Drag(w, {At(w, 50, 50), At(w, 60, 50), At(w, 70, 55)});
  const std::vector<uint8_t> after = Bytes(*w->Packets[0]);
  ASSERT_GT(after.size(), before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
  EXPECT_EQ(StrokeCountOf(*w->Packets[0]), 2u);
}

TEST_F(UpdateLoop, PlaybackStopsAtAPaperSizeEventAndLaterDrawingReplaysToTheLivePicture) {
  const std::vector<uint8_t> stream = StrokeRecord(20, true);
  TDrawWindow* w = Import(stream);
  for (int i = 0; i < 100 && w->Playing; ++i) VLMain->UpdateStep();
  ASSERT_FALSE(w->Playing);
  // The record ends where playing stopped: nothing after the stroke is kept.
  const std::vector<uint8_t> kept = Bytes(*w->Packets[0]);
  const size_t strokeEnd = 6 + kStrokeHeaderSize + 20 * kStrokePointSize;
  ASSERT_EQ(kept.size(), strokeEnd);
  EXPECT_TRUE(std::equal(kept.begin(), kept.end(), stream.begin()));

  Drag(w, {At(w, 30, 30), At(w, 40, 35), At(w, 50, 40), At(w, 60, 40)});
  TEventPacket record;
  TMyMemory m(64);
  w->Packets[0]->WriteEndMarker();
  m.WriteBuffer(w->Packets[0]->Data().Memory(), w->Packets[0]->Data().Size());
  w->Packets[0]->DropEndMarker();
  ASSERT_TRUE(record.LoadFromMemory(m));
  TPaper replay;
  ReplayAll(replay, record);
  EXPECT_TRUE(SameComposite(replay, *w->Paper));
}

TEST_F(UpdateLoop, AStopDuringAStrokeTakesEffectAfterIt) {
  TEventPacket tail;
  tail.WriteClearLayer(0);
  std::vector<uint8_t> stream = StrokeRecord(10);
  stream.resize(stream.size() - 2);  // before the end marker: one more event
  const std::vector<uint8_t> more = Bytes(tail);
  stream.insert(stream.end(), more.begin(), more.end());
  stream.push_back(0xFF);
  stream.push_back(0xFF);
  TDrawWindow* w = Import(stream);
  VLMain->UpdateStep();
  VLMain->UpdateStep();
  ASSERT_TRUE(w->Packets[0]->InStroke());
  w->StopRequested = true;
  int steps = 0;
  while (w->Playing && steps < 50) {
    VLMain->UpdateStep();
    ++steps;
  }
  EXPECT_FALSE(w->Packets[0]->InStroke());
  EXPECT_GE(steps, 8) << "the stroke's points are all played first";
  const size_t strokeEnd = 6 + kStrokeHeaderSize + 10 * kStrokePointSize;
  EXPECT_EQ(Bytes(*w->Packets[0]).size(), strokeEnd) << "the unplayed rest is dropped";
  const std::string tailText = " <再生を停止しました>";
  EXPECT_EQ(w->Caption(), w->Paper->Caption() + tailText);
}

TEST_F(UpdateLoop, APaperWindowsActivationChoosesTheDriverAgain) {
  TDrawWindow* a = MakePaper(40, 30);
  MakePaper(40, 30);
  VLMain->AppDeactivate();
  ASSERT_FALSE(VLMain->UpdateTimer->isActive());
  ASSERT_FALSE(VLMain->IdleTimer->isActive());
  auto* sub = qobject_cast<QMdiSubWindow*>(a->parentWidget());
  ASSERT_NE(sub, nullptr);
  VLMain->MdiArea->setActiveSubWindow(sub);
  EXPECT_TRUE(VLMain->UpdateTimer->isActive());
  EXPECT_FALSE(VLMain->IdleTimer->isActive());
}

TEST_F(UpdateLoop, TheDriverFollowsPlaybackAndActivation) {
  VLMain->SetUpdateMode(true);
  EXPECT_TRUE(VLMain->UpdateTimer->isActive());
  EXPECT_FALSE(VLMain->IdleTimer->isActive());
  EXPECT_EQ(VLMain->UpdateTimer->interval(), 20);
  const int id = VLMain->UpdateTimer->timerId();
  VLMain->SetUpdateMode(true);  // chosen again: the running timer keeps running
  EXPECT_EQ(VLMain->UpdateTimer->timerId(), id);

  TDrawWindow* w = Import(StrokeRecord(5));
  EXPECT_TRUE(VLMain->IdleTimer->isActive());
  EXPECT_FALSE(VLMain->UpdateTimer->isActive());
  EXPECT_EQ(VLMain->IdleTimer->interval(), 0);

  VLMain->AppDeactivate();
  EXPECT_FALSE(VLMain->IdleTimer->isActive());
  EXPECT_FALSE(VLMain->UpdateTimer->isActive());
  VLMain->AppActivate();
  EXPECT_TRUE(VLMain->IdleTimer->isActive());

  w->Playing = false;
  w->Paper->SetNetMode(1);  // a network paper keeps the loop running continuously
  NetState.IsHost = 1;
  VLMain->SetUpdateMode(true);
  EXPECT_TRUE(VLMain->IdleTimer->isActive());
  w->Paper->SetNetMode(0);
  NetState.IsHost = 0;
  VLMain->SetUpdateMode(true);
  EXPECT_TRUE(VLMain->UpdateTimer->isActive());
  EXPECT_FALSE(VLMain->IdleTimer->isActive());
}

TEST_F(UpdateLoop, ALostHostClosesTheSessionPaperAfterTheStepAndTheStepStaysClosedMeanwhile) {
  TDrawWindow* w = MakePaper(200, 100);
  w->Paper->SetMemberIndex(1);
  w->Paper->SetMemberCount(2);
  w->Paper->SetNetMode(1);
  NetState.IsHost = 0;
  NetState.Phase = npRunning;
  NetState.MaxMembers = 2;  // no socket: the connection is gone
  QPointer<TDrawWindow> guard(w);
  plat::TFileDialogRecorder dialogs({std::nullopt});
  std::vector<std::string> shown;
  uint32_t tabTimeInside = 0;
  uint8_t phaseInside = npIdle;
  plat::TMessageBoxHandler old = plat::SetMessageBoxHandler([&](const std::string& text, const std::string&, unsigned) {
    shown.push_back(text);
    phaseInside = NetState.Phase;
    // A timer firing inside the notice's loop runs no step.
    plat::SetKeyDown(plat::VK_TAB, true);
    plat::AdvanceFakeClock(1000);
    const uint32_t before = VLMain->LastTabTime;
    VLMain->UpdateStep();
    tabTimeInside = VLMain->LastTabTime - before;
    plat::SetKeyDown(plat::VK_TAB, false);
    return plat::IDOK;
  });
  VLMain->UpdateStep();
  plat::SetMessageBoxHandler(old);
  Settle();
  EXPECT_EQ(phaseInside, npLost);
  EXPECT_EQ(NetState.Phase, npIdle) << "the session was reset with the window";
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.front(), "サーバが落ちたので切断します。");
  EXPECT_EQ(tabTimeInside, 0u);
  EXPECT_TRUE(guard.isNull()) << "the paper window is gone";
  EXPECT_FALSE(VLMain->InUpdateStep);
}

}  // namespace

namespace {

TEST_F(UpdateLoop, HoldingTabTogglesTheToolWindowsEveryThreeHundredMilliseconds) {
  MakePaper(100, 100);
  const bool shown = VLMain->ToolWindowsShown;
  VLMain->LastTabTime = timeGetTime();
  plat::SetKeyDown(plat::VK_TAB, true);
  const bool expected[] = {shown, !shown, !shown, shown};
  const uint32_t advance[] = {300, 1, 300, 1};
  for (int i = 0; i < 4; ++i) {
    plat::AdvanceFakeClock(advance[i]);
    VLMain->UpdateStep();
    EXPECT_EQ(VLMain->ToolWindowsShown, expected[i]) << i;
  }
  plat::SetKeyDown(plat::VK_TAB, false);
  plat::AdvanceFakeClock(1000);
  VLMain->UpdateStep();
  EXPECT_EQ(VLMain->ToolWindowsShown, shown) << "released: no more toggles";
}

TEST_F(UpdateLoop, TheRefreshShowsPlaybackProgressAndLayerMemory) {
  TDrawWindow* w = Import(StrokeRecord(40));
  VLMain->LastRefresh = timeGetTime();
  plat::AdvanceFakeClock(500);
  VLMain->UpdateStep();
  EXPECT_EQ(w->Caption().find("インポートファイル再生中"), std::string::npos) << "not before 500 ms";
  plat::AdvanceFakeClock(1);
  VLMain->UpdateStep();
  const std::string progress = std::to_string(static_cast<int32_t>(w->Packets[0]->GetProgress()));
  EXPECT_EQ(w->Caption(), w->Paper->Caption() + " : <インポートファイル再生中 : " + progress + "[%] : " +
                              std::to_string(timeGetTime() - VLMain->PlayStart) + "[ms]>");
  EXPECT_EQ(LayerWindow->windowTitle().toStdString(),
            "レイヤ/ 使用メモリ " + std::to_string(w->Paper->MemorySize() / 1024) + "KB");
}

}  // namespace
