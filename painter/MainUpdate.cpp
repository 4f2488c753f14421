// The update loop of the main window: autosave, playback steps, the session's pump, the tool
// windows following the active paper.
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <string>

#include "engine/EventPacket.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "painter/ColorWin.h"
#include "painter/DrawWin.h"
#include "painter/LayerWin.h"
#include "painter/Localize.h"
#include "painter/Main.h"
#include "painter/PenWin2.h"
#include "painter/PreviewWin.h"
#include "painter/ToolsWin.h"
#include "platform/core/Clock.h"
#include "platform/core/KeyState.h"
#include "session/MySocket.h"
#include "session/NetState.h"
#include "painter/NetWin.h"

namespace {

constexpr uint32_t kTabRepeatMs = 300;
constexpr uint32_t kAutosaveIdleMs = 5000;
constexpr int32_t kAutosaveStrokes = 50;
// After a failed autosave, the next try waits this long (the disk is not asked every step).
constexpr uint32_t kAutosaveRetryMs = 2000;
constexpr uint32_t kPlaybackWaitMs = 8;
constexpr uint32_t kRefreshMs = 500;
constexpr uint32_t kRefreshIdleMs = 500;
constexpr uint32_t kSessionRefreshIdleMs = 3000;

// More than `limit` ms from `then` to `now`, wrap-safe.
bool After(uint32_t now, uint32_t then, uint32_t limit) { return static_cast<uint32_t>(now - then) > limit; }

// The packet holds something the player can take now: the rest of an open stroke, a whole
// event, or a code that is no event (consumed as such).
bool HasPlayable(TEventPacket& p) {
  if (p.InStroke()) return true;
  TMyMemory& d = p.Data();
  if (d.Remaining() < 2) return false;
  int32_t size = 0;
  return MeasureEvent(d.ReadPointer(), d.Remaining(), size) != TEventMeasure::Short;
}

// Session values the step relies on: slots and counts as the session paper was built.
bool SessionValuesSound(const TPaper& p) {
  return p.MemberCount >= 2 && p.MemberCount <= TDrawWindow::kSlots && p.MemberIndex >= 0 &&
         p.MemberIndex < p.MemberCount && NetState.MaxMembers >= 2 && NetState.MaxMembers <= TDrawWindow::kSlots;
}

// Appends the bytes [LoggedPos[s], end) of slot s to the session record.
void LogSlot(TDrawWindow& w, int32_t s, int32_t end) {
  TMyMemory& src = w.Packets[s]->Data();
  const int32_t from = w.LoggedPos[s];
  if (from < 0 || end > src.Size() || end <= from) return;
  w.Log->Data().WriteBuffer(src.Memory() + from, end - from);
  w.LoggedPos[s] = end;
}

}  // namespace

void TVLMain::SetUpdateMode(bool on) {
  if (Quitting) on = false;
  QTimer* want = nullptr;
  if (on) want = AnyPlaying() || AnyNetworkPaper() ? IdleTimer : UpdateTimer;
  // A driver already running stays as it is: restarting the 20 ms timer on every paint
  // would keep it from ever firing.
  if (IdleTimer != want) IdleTimer->stop();
  if (UpdateTimer != want) UpdateTimer->stop();
  if (want && !want->isActive()) want->start();
}

bool TVLMain::AnyPlaying() const {
  if (!ActiveDrawWindow()) return false;
  for (TDrawWindow* w : DrawWindows()) {
    if (w->Playing) return true;
  }
  return false;
}

bool TVLMain::AnyNetworkPaper() const {
  if (!ActiveDrawWindow()) return false;
  for (TDrawWindow* w : DrawWindows()) {
    if (w->Paper && w->Paper->NetMode == 1) return true;
  }
  return false;
}

void TVLMain::AppIdle() { UpdateStep(); }

void TVLMain::UpdateTimerTimer() { UpdateStep(); }

bool TVLMain::HeldKeysDown() const {
  static constexpr int kKeys[] = {plat::VK_SHIFT, plat::VK_SPACE, plat::VK_CONTROL, plat::VK_MENU,
                                  'M', 'X', 'A', 'S', 'D', 'F', 'E', 'R'};
  for (int k : kKeys) {
    if (plat::IsKeyDown(k)) return true;
  }
  return false;
}

void TVLMain::UpdateStep() {
  if (InUpdateStep) return;
  InUpdateStep = true;
  StepBody();
  // A lost session's window closes after the step; its dialogs run nested loops, in which
  // the step stays closed.
  if (TDrawWindow* lost = LostWindow) {
    LostWindow = nullptr;
    lost->CloseWindow(false);
  }
  InUpdateStep = false;
}

void TVLMain::StepBody() {
  uint32_t now = timeGetTime();

  // 1. Tab repeat.
  if (After(now, LastTabTime, kTabRepeatMs) && plat::IsKeyDown(plat::VK_TAB)) {
    HandleKey(plat::VK_TAB);
    LastTabTime = timeGetTime();
  }

  // 2.
  TDrawWindow* w = ActiveDrawWindow();
  if (!w || !w->Paper || !w->Paper->Layers) return;
  TPaper& p = *w->Paper;
  const bool net = p.NetMode == 1;

  // 3. Autosave.
  Autosave(w, now);

  // 4. Own slot.
  const bool sound = !net || SessionValuesSound(p);
  int32_t own = 0;
  if (net && NetState.Phase == npRunning && sound) own = p.MemberIndex;

  // 5. Network paper.
  TMySocket* socket = NetState.Socket;
  bool netParts = false;
  if (net) {
    if (!NetState.IsHost && (!socket || socket->Status != ssOnline || !sound)) {
      NetState.Phase = npLost;
      p.SetNetMode(0);
      if (NetWindow) {
        // The network window can start again; its handshake timer has nothing left to do.
        if (NetWindow->ButtonConnect) NetWindow->ButtonConnect->setEnabled(true);
        if (NetWindow->Timer1) NetWindow->Timer1->stop();
      }
      LostWindow = w;
      return;
    }
    netParts = socket && sound;
    if (netParts) NetworkStep(own);
  }

  // 6. Nothing below while the local user draws.
  TEventPacket& ownPacket = *w->Packets[own];
  if (ownPacket.InStroke() && !w->Playing) return;

  // 7. Follow the active paper window.
  if (PreviewWindow && PreviewWindow->ShownChild != w) {
    PreviewWindow->NeedsFit = true;
    PreviewWindow->ShownChild = w;
    PreviewWindow->DrawPreview();
    if (LayerWindow) LayerWindow->DrawLayers(&p);
    if (PenWindow2) PenWindow2->Redraw(*Stroke, true);
    if (ColorWindow) ColorWindow->Redraw(false, Stroke->Color);
  }

  // 8. Tool drags.
  if (ToolsWindow) {
    TToolMode& mode = ToolsWindow->Mode;
    int32_t h = w->ScrollBar1.Position(), v = w->ScrollBar2.Position();
    if (mode.TrackHandDrag(p, h, v)) {
      w->ScrollBar1.SetPosition(h);
      w->ScrollBar2.SetPosition(v);
      w->Redraw();
      if (PreviewWindow) PreviewWindow->DrawPreview();
    }
    if (mode.TrackRotateDrag(p, w)) {
      w->ScrollBar1.SetVisible(false);
      w->ScrollBar2.SetVisible(false);
      w->Redraw();
    }
    if (mode.TrackMoveDrag(p)) {
      p.CompositeMoving(p.Layers->ActiveIndex(), mode.MoveOffset.X, mode.MoveOffset.Y);
      p.Paint(w);
    }
    float width = Stroke->WIDTH;
    if (mode.TrackSizeDrag(p, width)) {
      Stroke->SetWidth(width);
      if (PenWindow2) PenWindow2->Redraw(*Stroke, false);
    }
  }
  if (PreviewWindow) {
    PreviewWindow->TrackDrag();
    // The marker follows the cursor at once, not at the next periodic refresh.
    if (PreviewWindow->Dragging) PreviewWindow->DrawPreview();
  }

  // 9. Session record and status.
  if (net && netParts) {
    for (int32_t s = 0; s < TDrawWindow::kSlots; ++s) {
      TEventPacket& r = *w->Packets[s];
      if (r.InStroke()) continue;
      LogSlot(*w, s, s == own ? r.Data().Size() : r.Data().ReadPos());
    }
    float sum = 0;
    int32_t n = 0;
    for (int32_t s = 0; s < p.MemberCount; ++s) {
      if (s == own) continue;
      sum = static_cast<float>(static_cast<ext_t>(sum) + w->Packets[s]->Data().ReadPercent());
      ++n;
    }
    const float sync = n > 0 ? static_cast<float>(static_cast<ext_t>(sum) / n) : 100.0f;
    if (NetWindow)
      NetWindow->setWindowTitle(QString::fromStdString(
          std::string(NetState.IsHost ? "<Server> " : "<Client> ") + "SEND:" + std::to_string(socket->BytesSent) +
          " RECV:" + std::to_string(socket->BytesReceived) + " SYNC:" + std::to_string(static_cast<int32_t>(sync)) +
          "[%]"));
    socket->Flush();
  }

  // 10. Import playback.
  if (w->Playing) PlaybackStep(w, own);
  if (!w->Paper) return;

  // 11. Periodic refresh.
  now = timeGetTime();
  if (After(now, LastRefresh, kRefreshMs)) {
    const bool moving = ToolsWindow && ToolsWindow->Mode.MoveState == dsDragging;
    if (!moving) {
      const bool due = net ? After(now, w->LastActivity, kSessionRefreshIdleMs)
                           : w->Playing || After(now, w->LastActivity, kRefreshIdleMs);
      if (due) {
        if (PreviewWindow) PreviewWindow->DrawPreview();
        if (LayerWindow) LayerWindow->DrawLayers(&p);
      }
    }
    if (w->Playing) {
      w->SetCaption(p.Caption() + " : <" + msgPlaying + " : " +
                    std::to_string(static_cast<int32_t>(w->Packets[own]->GetProgress())) + "[%] : " +
                    std::to_string(static_cast<uint32_t>(now - PlayStart)) + "[ms]>");
    }
    if (LayerWindow) {
      LayerWindow->setWindowTitle(QString::fromStdString(msgLayerMemory + std::to_string(p.MemorySize() / 1024) + "KB"));
      if (auto* bar = LayerWindow->findChild<QStatusBar*>()) {
        bar->showMessage(QString::fromStdString("Calque:" + std::to_string(p.Layers->MemorySize() / 1024) +
                                                "[KB] / Annul:" + std::to_string(p.Layers->UndoMemorySize() / 1024) +
                                                "[KB]"));
      }
    }
    LastRefresh = now;
  }

  // 12. Sending.
  if (net && netParts && NetState.Phase == npRunning) {
    TMyMemory& d = w->Packets[own]->Data();
    const int32_t n = d.Size() - NetState.SentTotal;
    if (n > 0 && NetState.SentTotal >= 0) {
      NetState.SentTotal += socket->SendData(mdAll, d.Memory() + NetState.SentTotal, n);
    }
  }
}

void TVLMain::Autosave(TDrawWindow* w, uint32_t now) {
  TPaper& p = *w->Paper;
  if (Quitting || !After(now, w->LastActivity, kAutosaveIdleMs) || HeldKeysDown() || w->Packets[0]->InStroke() ||
      p.NetMode == 1 || w->Playing || w->StrokeCount <= w->SavedStrokeCount + kAutosaveStrokes)
    return;
  if (AutosaveFailing && !After(now, AutosaveFailedAt, kAutosaveRetryMs)) return;
  // Only a written file counts: a failed one is tried again without waiting for more strokes.
  if (!AutosaveHeld && p.SaveToFile(AutosavePath(), false, *w->Packets[0])) {
    w->SavedStrokeCount = w->StrokeCount;
    if (AutosaveFailing && StatusBar && StatusBar->currentMessage() == QString::fromStdString(msgAutosaveFailed))
      StatusBar->clearMessage();
    AutosaveFailing = false;
    return;
  }
  AutosaveFailedAt = now;
  if (AutosaveFailing) return;
  // Told once, until an autosave is written again.
  AutosaveFailing = true;
  if (StatusBar) StatusBar->showMessage(QString::fromStdString(msgAutosaveFailed));
}

void TVLMain::PlaybackStep(TDrawWindow* w, int32_t own) {
  const uint32_t now = timeGetTime();
  TPaper& p = *w->Paper;
  TEventPacket& r = *w->Packets[own];
  TStroke& brush = *w->Strokes[own];
  bool stepped = true;
  if (EventWait) {
    if (static_cast<uint32_t>(now - w->LastStepTime) < kPlaybackWaitMs) stepped = false;
    else w->LastStepTime = now;
  }
  if (stepped) {
    uint16_t code = 0;
    uint8_t refit = 0;
    w->Playing = p.PlayEvent(r, brush, code, refit, w);
    if (refit) PaperChanged(false);
    if (code == ecSelectLayer && LayerWindow) LayerWindow->DrawLayers(&p);
    if (code <= ecStrokeLast) {
      if (brush.Changed) {
        if (PenWindow2) PenWindow2->Redraw(brush, true);
        brush.SetChanged(false);
      }
      if (brush.Color != LastShownColor) {
        if (ColorWindow) {
          ColorWindow->FindColor(brush.Color);
          ColorWindow->Redraw(false, brush.Color);
        }
        LastShownColor = brush.Color;
      }
    }
    if (!w->Playing) {
      // The record ends where playing stopped, so that drawing continues it and a stop
      // before the end keeps nothing that was not played.
      TPaper::EndPlayback(r);
      w->SetCaption(p.Caption() + " : <" + msgPlaybackDone + " : " +
                    std::to_string(static_cast<uint32_t>(timeGetTime() - PlayStart)) + "[ms]>");
      SetUpdateMode(true);
      return;
    }
  }
  if (w->StopRequested && !r.InStroke()) {
    r.Data().SetSize(r.Data().ReadPos());
    w->SetCaption(p.Caption() + " <" + msgPlaybackStopped + ">");
    w->Playing = false;
    w->StopRequested = false;
    SetUpdateMode(true);
  }
}

void TVLMain::FollowOccupants(TDrawWindow* w, int32_t own, int32_t memberCount) {
  TMySocket* socket = NetState.Socket;
  if (!socket) return;
  for (int32_t s = 0; s < memberCount; ++s) {
    if (s != own && socket->MemberOccupant(s) != w->SlotOccupant[s]) HandOverSlot(w, s);
  }
}

void TVLMain::HandOverSlot(TDrawWindow* w, int slot) {
  if (!w || !w->Paper || !w->Paper->Layers || slot < 0 || slot >= TDrawWindow::kSlots) return;
  TEventPacket& r = *w->Packets[slot];
  TStroke& brush = *w->Strokes[slot];
  bool whole = false;
  while (HasPlayable(r)) {
    uint16_t code = 0;
    uint8_t refit = 0;
    const int32_t before = r.Data().ReadPos();
    const bool inStroke = r.InStroke();
    w->Paper->PlayEvent(r, brush, code, refit, w);
    if (refit) whole = true;
    if (!inStroke && r.Data().ReadPos() == before) break;  // nothing taken: no progress
  }
  if (whole) PaperChanged(false);
  if (!r.InStroke()) LogSlot(*w, slot, r.Data().ReadPos());
  r.Clear();
  w->Strokes[slot] = std::make_unique<TStroke>();
  w->LoggedPos[slot] = 0;
  w->SlotOccupant[slot] = NetState.Socket ? NetState.Socket->MemberOccupant(slot) : 0;
}

void TVLMain::NetworkStep(int32_t own) {
  TDrawWindow* w = ActiveDrawWindow();
  TMySocket* socket = NetState.Socket;
  if (!w || !w->Paper || !w->Paper->Layers || !socket) return;
  TPaper& p = *w->Paper;
  const int32_t count = p.MemberCount;
  if (count < 2 || count > TDrawWindow::kSlots || own < 0 || own >= TDrawWindow::kSlots) return;

  FollowOccupants(w, own, count);

  // The pace comes first and the turn moves on only when a step is played, so that the
  // members take their turns one after another whatever the rate of the steps.
  const uint32_t now = timeGetTime();
  const uint32_t interval = 1000u / static_cast<uint32_t>((NetState.MaxMembers - 1) * 120);
  if (static_cast<uint32_t>(now - w->LastStepTime) < interval) return;

  // A slot takes part while its member is there, and after a leave until its received whole
  // events are played.
  auto takesPart = [&](int32_t s) {
    return s != own && (socket->MemberUsed(s) || socket->MemberDataSize(s) > 0 || HasPlayable(*w->Packets[s]));
  };
  if (NextMember < 0 || NextMember >= count) NextMember = 0;
  int32_t s = -1;
  for (int32_t k = 0; k < count; ++k) {
    NextMember = NextMember + 1 >= count ? 0 : NextMember + 1;
    if (takesPart(NextMember)) {
      s = NextMember;
      break;
    }
  }
  if (s < 0) return;

  TEventPacket& r = *w->Packets[s];
  const int32_t n = socket->MemberDataSize(s);
  if (n > 0 && r.Data().Reserve(n) && socket->ReadMemberData(s, r.Data().WritePointer(), n)) r.Data().AddSize(n);
  w->LastStepTime = now;
  uint16_t code = 0;
  uint8_t refit = 0;
  w->Paper->PlayEvent(r, *w->Strokes[s], code, refit, w);
  if (refit) PaperChanged(false);
}
