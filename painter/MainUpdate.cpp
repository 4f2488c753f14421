// The update loop of the main window: autosave, playback steps, the session's pump, the tool
// windows following the active paper.
#include <QAbstractEventDispatcher>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstring>
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
// The user's side is polled at the update timer's pace while the step is woken on demand.
constexpr uint32_t kPollMs = 20;
// The longest piece of a slot's hand-over played at once: the GUI turns between pieces,
// well within a frame.
constexpr auto kHandOverSlice = std::chrono::milliseconds(8);
// The most of a slot's received data moved into its recorder in one step. Data are moved only
// while the recorder holds nothing the player can take, so what a member sends waits in the
// session's bounded buffer, and past its bound in the sender's connection (TCP slows it).
constexpr int32_t kTakeStep = 64 * 1024;
// Another member's recorder drops what it has played and logged once that is this much: the
// session record keeps it, and the recorder stays small however long the member sends.
constexpr int32_t kDropPlayedAt = 1024 * 1024;
constexpr uint32_t kNever = UINT32_MAX;

using TSteady = std::chrono::steady_clock;

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

// Moves up to `most` bytes of a slot's received data into its recorder, and only while the
// recorder has nothing to play: a flood is taken no faster than it is played.
void TakeSlotData(TEventPacket& r, TMySocket& socket, int32_t slot, int32_t most) {
  if (HasPlayable(r)) return;
  const int32_t n = std::min(most, kTakeStep);
  if (n > 0 && r.Data().Reserve(n) && socket.ReadMemberData(slot, r.Data().WritePointer(), n)) r.Data().AddSize(n);
}

// Drops the played and logged start of another member's recorder.
void DropPlayed(TDrawWindow& w, int32_t s) {
  TMyMemory& d = w.Packets[s]->Data();
  const int32_t done = d.ReadPos();
  if (w.LoggedPos[s] != done || done < kDropPlayedAt || d.Remaining() > done) return;
  const int32_t rest = d.Remaining();
  std::memmove(d.Memory(), d.ReadPointer(), static_cast<size_t>(rest));
  d.SetSize(rest);
  d.Rewind();
  w.LoggedPos[s] = 0;
}

// Appends the bytes [LoggedPos[s], end) of slot s to the session record.
void LogSlot(TDrawWindow& w, int32_t s, int32_t end) {
  TMyMemory& src = w.Packets[s]->Data();
  const int32_t from = w.LoggedPos[s];
  if (from < 0 || end > src.Size() || end <= from) return;
  w.Log->Data().WriteBuffer(src.Memory() + from, end - from);
  w.LoggedPos[s] = end;
}

// ms from now until `interval` has passed since `then` (0 when it has).
uint32_t Remaining(uint32_t now, uint32_t then, uint32_t interval) {
  const uint32_t gone = now - then;
  return gone >= interval ? 0 : interval - gone;
}

// The replay interval of a session: 8, 4 or 2 ms with 2, 3 or 4 members.
uint32_t ReplayInterval() { return 1000u / static_cast<uint32_t>((NetState.MaxMembers - 1) * 120); }

// What a flush moves: equal before and after when it handed nothing over.
uint64_t FlushMark(const TMySocket& s) {
  uint64_t m = static_cast<uint64_t>(s.BytesSent);
  m = m * 31 + static_cast<uint32_t>(s.OutBuf.ReadPos());
  m = m * 31 + static_cast<uint32_t>(s.OutBuf.Size());
  for (const MemberSlot& slot : s.Slots) {
    m = m * 31 + static_cast<uint32_t>(slot.SendPos);
    m = m * 31 + static_cast<uint32_t>(slot.SendOff) * 2 + (slot.Used ? 1 : 0);
  }
  return m;
}

}  // namespace

void TVLMain::InitUpdateLoop() {
  IdleTimer->setSingleShot(true);
  IdleTimer->setTimerType(Qt::PreciseTimer);
  connect(IdleTimer, &QTimer::timeout, this, &TVLMain::AppIdle);
  // Work queued outside the step (a chat line, the handshake's frames) is seen before the
  // program goes to sleep.
  if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance())
    connect(d, &QAbstractEventDispatcher::aboutToBlock, this, &TVLMain::ScheduleStep);
}

void TVLMain::SetUpdateMode(bool on) {
  if (Quitting) on = false;
  UpdateOn = on;
  // With a playback or a network paper the step is woken on demand (ScheduleStep); else the
  // 20 ms timer runs it. A timer already running stays as it is: restarting it on every
  // paint would keep it from ever firing.
  const bool timer = on && !AnyPlaying() && !AnyNetworkPaper();
  if (!timer) UpdateTimer->stop();
  else if (!UpdateTimer->isActive()) UpdateTimer->start();
  ScheduleStep();
}

TDrawWindow* TVLMain::SessionWindow() const {
  for (TDrawWindow* w : DrawWindows()) {
    if (w->Paper && w->Paper->Layers && w->Paper->NetMode == 1) return w;
  }
  return nullptr;
}

void TVLMain::ScheduleStep() {
  if (!IdleTimer || closing_ || Quitting) return;
  const uint32_t now = timeGetTime();
  uint32_t due = kNever;
  if (UpdateOn && (AnyPlaying() || AnyNetworkPaper())) {
    due = kPollMs;
    TDrawWindow* w = ActiveDrawWindow();
    if (w && w->Playing && w->Paper) {
      TEventPacket& r = *w->Packets[w->OwnSlot()];
      // A playback steps back to back (every 8 ms with EventWait) while it has something to
      // play or a stop to take up; else it waits for the poll.
      if (HasPlayable(r) || w->StopRequested)
        due = EventWait ? Remaining(now, w->LastStepTime, kPlaybackWaitMs) : 0;
    }
  }
  if (SessionDriverOn) {
    if (TDrawWindow* sw = SessionWindow()) {
      if (TMySocket* s = NetState.Socket; s && !s->HasOnWake()) s->SetOnWake([this] { ScheduleStep(); });
      due = std::min(due, SessionDue(sw, now));
    }
  }
  if (due == kNever) {
    IdleTimer->stop();
    return;
  }
  const int ms = static_cast<int>(std::min<uint32_t>(due, 60000));
  if (IdleTimer->isActive() && IdleTimer->remainingTime() <= ms) return;  // armed sooner already
  IdleTimer->start(ms);
}

uint32_t TVLMain::SessionDue(TDrawWindow* w, uint32_t now) const {
  TMySocket* socket = NetState.Socket;
  TPaper& p = *w->Paper;
  // A member without its connection: the next step closes the paper.
  if (!NetState.IsHost && (!socket || socket->Status != ssOnline || !SessionValuesSound(p))) return 0;
  if (!socket || !SessionValuesSound(p)) return kNever;
  const int32_t own = NetState.Phase == npRunning ? p.MemberIndex : 0;
  const int32_t count = p.MemberCount;
  uint32_t due = kNever;
  bool backlog = false;
  for (int32_t s = 0; s < count; ++s) {
    if (s == own) continue;
    if (w->HandingOver[s] || socket->MemberOccupant(s) != w->SlotOccupant[s]) return 0;
    if (socket->MemberDataSize(s) > 0 || HasPlayable(*w->Packets[s])) backlog = true;
  }
  if (socket->FlushReady() && !flushStuck_) return 0;
  const TEventPacket& mine = *w->Packets[own];
  if (NetState.Phase == npRunning && !mine.InStroke() && mine.Data().Size() > NetState.SentTotal && !sendStuck_)
    return 0;
  if (backlog) due = Remaining(now, w->LastStepTime, ReplayInterval());
  if (socket->IsServer && socket->LoggedIn)
    due = std::min(due, Remaining(now, socket->LastKeepAlive, kKeepAliveMs + 1));
  return due;
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

void TVLMain::AppIdle() {
  if (UpdateOn) UpdateStep();
  else SessionPump();
  ScheduleStep();
}

void TVLMain::UpdateTimerTimer() { UpdateStep(); }

bool TVLMain::HeldKeysDown() const {
  static constexpr int kKeys[] = {plat::VK_SHIFT, plat::VK_SPACE, plat::VK_CONTROL, plat::VK_MENU,
                                  'M', 'X', 'A', 'S', 'D', 'F', 'E', 'R'};
  for (int k : kKeys) {
    if (plat::IsKeyDown(k)) return true;
  }
  return false;
}

void TVLMain::SessionPump() {
  if (InUpdateStep) return;
  InUpdateStep = true;
  if (TDrawWindow* w = SessionWindow()) SessionStep(w);
  if (TDrawWindow* lost = LostWindow) {
    LostWindow = nullptr;
    lost->CloseWindow(false);
  }
  InUpdateStep = false;
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
  // A Tab that went down with Ctrl switched paper windows: it toggles nothing, even once Ctrl
  // is let go before it.
  if (After(now, LastTabTime, kTabRepeatMs) && plat::IsKeyDown(plat::VK_TAB) &&
      !plat::KeyWentDownWithControl(plat::VK_TAB)) {
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

  // 5. The session: played, logged, sent and flushed whichever paper window is active.
  if (TDrawWindow* sw = SessionWindow()) {
    if (!SessionStep(sw) && sw == w) return;
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
}

bool TVLMain::SessionStep(TDrawWindow* w) {
  TPaper& p = *w->Paper;
  const bool sound = SessionValuesSound(p);
  TMySocket* socket = NetState.Socket;
  // The connection to the host is lost.
  if (!NetState.IsHost && (!socket || socket->Status != ssOnline || !sound)) {
    NetState.Phase = npLost;
    p.SetNetMode(0);
    if (NetWindow) {
      // The network window can start again; its handshake timer has nothing left to do.
      if (NetWindow->ButtonConnect) NetWindow->ButtonConnect->setEnabled(true);
      if (NetWindow->Timer1) NetWindow->Timer1->stop();
    }
    LostWindow = w;
    return false;
  }
  if (!socket || !sound) return true;
  const int32_t own = NetState.Phase == npRunning ? p.MemberIndex : 0;
  if (!socket->HasOnWake()) socket->SetOnWake([this] { ScheduleStep(); });

  NetworkStep(w, own);

  // The record, the traffic line and the own events wait for the end of a local stroke:
  // a stroke is logged and sent only once it is complete.
  TEventPacket& mine = *w->Packets[own];
  if (!mine.InStroke()) {
    for (int32_t s = 0; s < TDrawWindow::kSlots; ++s) {
      TEventPacket& r = *w->Packets[s];
      if (r.InStroke()) continue;
      LogSlot(*w, s, s == own ? r.Data().Size() : r.Data().ReadPos());
      if (s != own) DropPlayed(*w, s);
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
    sendStuck_ = false;
    if (NetState.Phase == npRunning) {
      TMyMemory& d = mine.Data();
      const int32_t left = d.Size() - NetState.SentTotal;
      if (left > 0 && NetState.SentTotal >= 0) {
        const int32_t taken = socket->SendData(mdAll, d.Memory() + NetState.SentTotal, left);
        NetState.SentTotal += taken;
        sendStuck_ = taken <= 0;
      }
    }
  }
  // Relayed frames and chat lines go out during a local stroke too.
  const bool ready = socket->FlushReady();
  const uint64_t before = FlushMark(*socket);
  socket->Flush();
  flushStuck_ = ready && FlushMark(*socket) == before;
  return true;
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
    if (AutosaveWarning) AutosaveWarning->hide();
    return;
  }
  AutosaveFailedAt = now;
  if (AutosaveWarning) {
    AutosaveWarning->setText(QString::fromStdString(msgAutosaveFailed));
    AutosaveWarning->show();
  }
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
  const auto deadline = TSteady::now() + kHandOverSlice;
  for (int32_t s = 0; s < memberCount; ++s) {
    if (s == own) continue;
    if (socket->MemberOccupant(s) != w->SlotOccupant[s]) w->HandingOver[s] = true;
    if (w->HandingOver[s]) HandOverSlot(w, s, deadline);
  }
}

bool TVLMain::HandOverSlot(TDrawWindow* w, int slot, TSteady::time_point deadline) {
  if (!w || !w->Paper || !w->Paper->Layers || slot < 0 || slot >= TDrawWindow::kSlots) return true;
  TEventPacket& r = *w->Packets[slot];
  TStroke& brush = *w->Strokes[slot];
  TMySocket* socket = NetState.Socket;
  bool whole = false, done = true;
  while (true) {
    // The former occupant's data still waiting in the session's buffer come after the
    // recorder's; what the present occupant sent waits behind them.
    if (socket) TakeSlotData(r, *socket, slot, socket->MemberFormerDataSize(slot));
    if (!HasPlayable(r)) break;
    if (TSteady::now() >= deadline) {
      done = false;
      break;
    }
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
  if (!done) return false;
  r.Clear();
  w->Strokes[slot] = std::make_unique<TStroke>();
  w->LoggedPos[slot] = 0;
  w->HandingOver[slot] = false;
  w->SlotOccupant[slot] = NetState.Socket ? NetState.Socket->MemberOccupant(slot) : 0;
  return true;
}

void TVLMain::NetworkStep(TDrawWindow* w, int32_t own) {
  TMySocket* socket = NetState.Socket;
  if (!w || !w->Paper || !w->Paper->Layers || !socket) return;
  TPaper& p = *w->Paper;
  const int32_t count = p.MemberCount;
  if (count < 2 || count > TDrawWindow::kSlots || own < 0 || own >= TDrawWindow::kSlots) return;

  FollowOccupants(w, own, count);

  // The pace comes first and the turn moves on only when a step is played, so that the
  // members take their turns one after another whatever the rate of the steps.
  const uint32_t now = timeGetTime();
  if (static_cast<uint32_t>(now - w->LastStepTime) < ReplayInterval()) return;

  // A slot takes part while its member is there, and after a leave until its received whole
  // events are played; not while its former occupant's events are handed over.
  auto takesPart = [&](int32_t s) {
    return s != own && !w->HandingOver[s] &&
           (socket->MemberUsed(s) || socket->MemberDataSize(s) > 0 || HasPlayable(*w->Packets[s]));
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
  TakeSlotData(r, *socket, s, socket->MemberDataSize(s));
  w->LastStepTime = now;
  uint16_t code = 0;
  uint8_t refit = 0;
  w->Paper->PlayEvent(r, *w->Strokes[s], code, refit, w);
  if (refit) PaperChanged(false);
}
