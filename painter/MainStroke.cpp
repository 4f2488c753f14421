// Stroke input of the main window: mouse and tablet points become recorded brush strokes.
//
// A live stroke is drawn with the values its record keeps (brush parameters in 1/256 steps,
// pressures in 1/1024 steps, 16-bit paper coordinates), so that replaying the record gives
// the same pixels as the stroke drawn on screen.
#include <QApplication>
#include <QEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <cmath>

#include "engine/EventPacket.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "painter/DrawWin.h"
#include "painter/Main.h"
#include "painter/PenWin2.h"
#include "painter/ToolsWin.h"
#include "platform/core/Clock.h"

namespace {

// Icon of the brush window for a brush kind (both blurs share one).
int32_t IconOfBrushKind(uint8_t kind) {
  switch (kind) {
    case bkWatercolor:
      return 1;
    case bkBlur:
    case bkBlur2:
      return 2;
    case bkEraser:
      return 3;
    default:
      return 0;
  }
}

}  // namespace

void TVLMain::InitStrokeInput() {
  if (Tablet) Tablet->Receiver = [this](QEvent* e) { return AppMessage(e); };
  // A stroke must not outlive the focus: its release would go elsewhere.
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState) {
    EndStrayStroke();
  });
  if (MdiArea) {
    connect(MdiArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow*) { EndStrayStroke(); });
  }
}

bool TVLMain::StrokeFromPenMouse(bool isScreen) const {
  return !isScreen && Tablet && Tablet->MouseFromPen();
}

void TVLMain::ToStrokePoint(TDrawWindow* w, int32_t x, int32_t y, bool isScreen, int32_t& px, int32_t& py) const {
  QPoint client(x, y);
  if (isScreen) client = w->mapFromGlobal(QPoint(x, y));
  TPoint p{client.x(), client.y()};
  w->Paper->Display.WindowToPaper(w->ClientWidth(), w->ClientHeight(), p);
  px = RecordedCoordinate(p.X);
  py = RecordedCoordinate(p.Y);
}

void TVLMain::StrokeTo(int32_t x, int32_t y, float pressure, float /*altitude*/, bool isScreen) {
  if (StrokeFromPenMouse(isScreen)) return;
  TDrawWindow* w = ActiveDrawWindow();
  if (!w || !w->Paper || !w->Paper->Layers) return;
  if (QApplication::activeWindow() != this) return;
  if (HeldKeysDown() || w->Playing) return;
  if (!ToolsWindow || ToolsWindow->Mode.Kind != tkPen) return;

  const int32_t m = w->OwnSlot();
  TEventPacket& r = *w->Packets[m];
  int32_t px = 0, py = 0;
  ToStrokePoint(w, x, y, isScreen, px, py);
  w->LastActivity = timeGetTime();
  if (!w->ButtonDown) return;

  const float p = RecordedPressure(pressure);
  TPaper& paper = *w->Paper;
  if (!r.InStroke()) {
    Stroke->SetLayer(paper.Layers->ActiveIndex());
    Stroke->UseRecordedValues();
    paper.StrokeBegin(*Stroke, static_cast<float>(px), static_cast<float>(py), p);
    r.BeginStroke(*Stroke, static_cast<float>(px), static_cast<float>(py), p);
    StrokeWindow = w;
    StrokeLastX = px;
    StrokeLastY = py;
    return;
  }
  if (r.PointCount() > kMaxStrokePoints) {
    // One event holds a bounded number of points: close this one; the next point begins
    // another stroke.
    r.EndStroke();
    paper.StrokeEnd(*Stroke, w);
    StrokeWindow = nullptr;
    return;
  }
  float dmin = 2.0f;
  if (paper.Display.ZoomIndex == -2) dmin = 4.0f;
  else if (paper.Display.ZoomIndex == -1) dmin = 3.0f;
  if (Stroke->WIDTH > 5.0f) {
    dmin = static_cast<float>(static_cast<ext_t>(Stroke->PressureSize(Stroke->HistoryPressure(0))) / 4.0L + 2.0L);
  }
  const ext_t dx = static_cast<ext_t>(px) - Stroke->HistoryX(0);
  const ext_t dy = static_cast<ext_t>(py) - Stroke->HistoryY(0);
  const float d = static_cast<float>(std::sqrt(dx * dx + dy * dy));
  if (r.PointCount() < 2 || d > dmin) {
    paper.StrokeMove(*Stroke, w, static_cast<float>(px), static_cast<float>(py), p);
    r.AddStrokePoint(static_cast<float>(px), static_cast<float>(py), p);
    StrokeLastX = px;
    StrokeLastY = py;
  }
}

void TVLMain::FinishStroke(TDrawWindow* w, int32_t px, int32_t py) {
  TEventPacket& r = *w->Packets[w->OwnSlot()];
  if (!r.InStroke()) return;
  r.AddStrokePoint(static_cast<float>(px), static_cast<float>(py), 0.0f);
  w->Paper->StrokeMove(*Stroke, w, static_cast<float>(px), static_cast<float>(py), 0.0f);
  r.EndStroke();
  w->Paper->StrokeEnd(*Stroke, w);
  w->LastActivity = timeGetTime();
  ++w->StrokeCount;
  StrokeWindow = nullptr;
}

void TVLMain::EndStroke(int32_t x, int32_t y, float altitude, bool isScreen) {
  if (StrokeFromPenMouse(isScreen)) return;
  TDrawWindow* w = ActiveDrawWindow();
  if (!w || !w->Paper || !w->Paper->Layers || w->Playing) return;

  // An open stroke ends with the brush it was drawn with; only then does the eraser end
  // take over.
  int32_t px = 0, py = 0;
  ToStrokePoint(w, x, y, isScreen, px, py);
  FinishStroke(w, px, py);

  if (altitude < 0.0f && Stroke->Kind != bkEraser && !EraserSwitched) {
    EraserSwitched = true;
    SavedBrushKind = Stroke->Kind;
    if (PenWindow2) {
      PenWindow2->SelectBrush(IconOfBrushKind(bkEraser));
      PenWindow2->Redraw(*Stroke, true);
    }
  }
}

void TVLMain::EndStrayStroke() {
  TDrawWindow* w = StrokeWindow;
  if (!w || !w->Paper || !w->Paper->Layers) {
    StrokeWindow = nullptr;
    return;
  }
  const bool focused = QGuiApplication::applicationState() == Qt::ApplicationActive;
  if (focused && ActiveDrawWindow() == w) return;
  FinishStroke(w, StrokeLastX, StrokeLastY);
  w->ButtonDown = false;
  StrokeWindow = nullptr;
}

bool TVLMain::AppMessage(QEvent* event) {
  if (!Tablet) return false;
  const bool packet = Tablet->HandleMessage(event);
  // Where the platform reports no proximity, the tip touching again is the sign that the
  // eraser end has left.
  const bool eraserLeft = Tablet->ReportsProximity()
                              ? !Tablet->InProximity()
                              : packet && Tablet->Altitude() > 0.0f;
  if (EraserSwitched && eraserLeft) {
    if (PenWindow2) {
      PenWindow2->SelectBrush(IconOfBrushKind(SavedBrushKind));
      PenWindow2->Redraw(*Stroke, true);
    }
    EraserSwitched = false;
  }
  if (packet) {
    const int32_t x = static_cast<int32_t>(Tablet->X());
    const int32_t y = static_cast<int32_t>(Tablet->Y());
    if (Tablet->Pressure() == 0.0f) {
      EndStroke(x, y, Tablet->Altitude(), true);
    } else {
      StrokeTo(x, y, Tablet->Pressure(), Tablet->Altitude(), true);
    }
  }
  return packet;
}
