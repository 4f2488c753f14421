#pragma once
// The painter as start-up makes it, for GUI tests: every form created in its order, the
// settings and data folders private to the test, every message recorded, the clock frozen.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>
#include <memory>
#include <string>

#include "common/TempDir.h"
#include "engine/EventPacket.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "painter/DrawWin.h"
#include "painter/Forms.h"
#include "painter/Localize.h"
#include "painter/Main.h"
#include "platform/core/Clock.h"
#include "platform/core/KeyState.h"
#include "platform/core/MessageBox.h"
#include "platform/core/Settings.h"
#include "platform/qt/FileDialog.h"
#include "session/NetState.h"

class PainterFixture : public ::testing::Test {
 protected:
  // The answer every message box gets, unless a test changes Messages.Answer.
  explicit PainterFixture(int answer = plat::IDYES) : Messages(answer) {}

  void SetUp() override {
    // The autosave and capture files go to a folder of this test.
    oldData_ = getenv("XDG_DATA_HOME") ? getenv("XDG_DATA_HOME") : "";
    hadData_ = getenv("XDG_DATA_HOME") != nullptr;
    setenv("XDG_DATA_HOME", Data.Dir().c_str(), 1);
    plat::SetFakeClock(1000000);
    plat::ClearKeys();
    NetState = TNetState{};
    CommandLineFile.reset();
    // Japanese unless a test says otherwise, whatever the machine's locale.
    {
      plat::TRegistry reg;
      reg.OpenKey(kVelloraKey, true);
      reg.WriteBool("Japanese", true);
    }
    CreateForms();
    SetLanguage(0);
  }

  // A new run of the program on the same settings and data: the forms go (without closing)
  // and are made again.
  void Restart() {
    CloseAllQuietly();
    DestroyForms();
    Settle();
    CreateForms();
  }

  // The main window on the screen and active, with its paper windows.
  static void ShowMain() {
    VLMain->show();
    VLMain->activateWindow();
    (void)QTest::qWaitForWindowActive(VLMain, 2000);
  }

  void TearDown() override {
    CloseAllQuietly();
    DestroyForms();
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    NetState = TNetState{};
    CommandLineFile.reset();
    plat::ClearKeys();
    plat::UseRealClock();
    if (hadData_) setenv("XDG_DATA_HOME", oldData_.c_str(), 1);
    else unsetenv("XDG_DATA_HOME");
  }

  // A paper window of the given size whose slot-0 record starts with ecNewPaper, active.
  TDrawWindow* MakePaper(int32_t width, int32_t height) {
    TDrawWindow* w = VLMain->CreateDrawWindow("");
    w->Paper->Init("NONAME", width, height);
    w->Packets[0]->WriteNewPaper(width, height);
    w->SetCaption(w->Paper->Caption());
    w->Paper->Display.FitWindow(width, height, *w);
    w->RecompositeAll();
    w->ScrollBar1.SetPosition(w->ScrollBar1.Max() / 2 - width / 2 - 32);
    w->ScrollBar2.SetPosition(w->ScrollBar2.Max() / 2 - height / 2 - 32);
    w->Redraw();
    return w;
  }

  // Paper windows end as at the program's end, without the close question; a session paper's
  // log dialog is cancelled.
  static void CloseAllQuietly() {
    if (!VLMain) return;
    plat::TFileDialogRecorder cancel;
    VLMain->CloseAllPapers(false);
  }

  // Lets posted events (deferred deletes included) run.
  static void Settle() {
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
  }

  // The bytes of a recorder from its start.
  static std::vector<uint8_t> Bytes(TEventPacket& p) {
    const uint8_t* m = p.Data().Memory();
    return std::vector<uint8_t>(m, m + p.Data().Size());
  }

  TTempSettings Settings;
  TTempDir Data;
  plat::TMessageRecorder Messages;

 private:
  std::string oldData_;
  bool hadData_ = false;
};
