// The tool steps of the paper window's input: drags, shapes and their recorded events.
#include <QApplication>
#include <QPainter>
#include <algorithm>

#include "engine/Channel.h"
#include "engine/EventPacket.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/SelectMng.h"
#include "engine/Stroke.h"
#include "painter/DrawWin.h"
#include "painter/Main.h"
#include "painter/ToolsWin.h"

namespace {

// The hourglass while a shape or move is applied.
struct BusyCursor {
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

uint8_t Red(uint32_t c) { return static_cast<uint8_t>(c >> 16); }
uint8_t Green(uint32_t c) { return static_cast<uint8_t>(c >> 8); }
uint8_t Blue(uint32_t c) { return static_cast<uint8_t>(c); }

// Window pixels a band line touches, the white twin line included.
QRect LineBounds(const TBandLine& l) {
  return QRect(QPoint(l.A.X, l.A.Y), QPoint(l.B.X, l.B.Y)).normalized().adjusted(-1, -1, 2, 2);
}

}  // namespace

void TDrawWindow::ShowRubberBand(std::vector<TBandLine> lines) {
  // Only the lines that changed are repainted: a long polygon moves just its last one.
  QRect dirty;
  const size_t n = std::max(lines.size(), BandLines.size());
  for (size_t i = 0; i < n; ++i) {
    const bool inOld = i < BandLines.size(), inNew = i < lines.size();
    if (inOld && inNew && BandLines[i] == lines[i]) continue;
    if (inOld) dirty = dirty.united(LineBounds(BandLines[i]));
    if (inNew) dirty = dirty.united(LineBounds(lines[i]));
  }
  BandLines = std::move(lines);
  if (!dirty.isEmpty()) update(dirty);
}

void TDrawWindow::PaintOverlay(QPainter& painter) {
  if (BandLines.empty()) return;
  painter.setRenderHint(QPainter::Antialiasing, false);
  for (const TBandLine& l : BandLines) {
    const int dx = l.B.X - l.A.X, dy = l.B.Y - l.A.Y;
    // A black line and a white one beside it: below a flat line, right of a steep one.
    const QPoint side = std::abs(dy) < std::abs(dx) ? QPoint(0, 1) : QPoint(1, 0);
    const QPoint a(l.A.X, l.A.Y), b(l.B.X, l.B.Y);
    painter.setPen(QPen(Qt::black, 0));
    painter.drawLine(a, b);
    painter.setPen(QPen(Qt::white, 0));
    painter.drawLine(a + side, b + side);
  }
}

void TDrawWindow::ToolMouseDown(Qt::MouseButton button, int32_t x, int32_t y) {
  if (!ToolsWindow || !Paper || !Paper->Initialised || !Paper->Layers) return;
  TToolMode& mode = ToolsWindow->Mode;
  if (button == Qt::LeftButton) {
    const TPoint screen = CursorScreenPos();
    mode.BeginHandDrag(screen.X, screen.Y);
    mode.BeginRotateDrag(screen.X, screen.Y);
    mode.BeginSizeDrag(screen.X, screen.Y, VLMain && VLMain->Stroke ? VLMain->Stroke->WIDTH : 0.0f);
    if (!Playing) {
      mode.BeginMoveDrag(screen.X, screen.Y, *Paper->Layers);
      TPoint p{x, y};
      Paper->Display.WindowToPaper(ClientWidth(), ClientHeight(), p);
      p = ClampInt16(p);
      mode.AddPolygonPoint(p.X, p.Y);
      mode.BeginLine(p.X, p.Y);
      mode.BeginRect(p.X, p.Y);
    }
  } else if (button == Qt::RightButton) {
    mode.RemoveLastPoint();
    Redraw();
    mode.DrawRubberBand(this, *Paper, x, y);
  }
}

void TDrawWindow::ToolMouseMove(int32_t x, int32_t y) {
  if (!ToolsWindow || !Paper || !Paper->Initialised) return;
  TToolMode& mode = ToolsWindow->Mode;
  mode.UpdateCursor(this);
  if (mode.Count > 0 && mode.Kind == tkFreehand) {
    TPoint p{x, y};
    Paper->Display.WindowToPaper(ClientWidth(), ClientHeight(), p);
    p = ClampInt16(p);
    mode.AddFreehandPoint(p.X, p.Y);
  }
  mode.DrawRubberBand(this, *Paper, x, y);
}

void TDrawWindow::ToolMouseUp(Qt::MouseButton, int32_t x, int32_t y) {
  if (!ToolsWindow || !Paper || !Paper->Initialised || !Paper->Layers) return;
  TToolMode& mode = ToolsWindow->Mode;
  TLayerMng& layers = *Paper->Layers;
  TEventPacket& own = OwnPacket();
  const int32_t active = layers.ActiveIndex();
  const TToolKind kind = mode.Kind;
  TPoint p{x, y};
  Paper->Display.WindowToPaper(ClientWidth(), ClientHeight(), p);
  p = ClampInt16(p);

  // A click without movement clears the selection and draws nothing.
  if (x == MouseDownX && y == MouseDownY &&
      (kind == tkRect || kind == tkCircle || kind == tkLine || kind == tkFreehand) && mode.Count == 1) {
    if (Paper->Selection) Paper->Selection->Clear(Paper->Selection->Current());
    mode.ResetShape();
    ShowRubberBand({});
    Redraw();
    ButtonDown = false;
    return;
  }

  mode.EndHandDrag();
  mode.EndRotateDrag();
  int32_t dx = 0, dy = 0;
  {
    const bool moving = mode.MoveState == dsDragging;
    std::unique_ptr<BusyCursor> busy(moving ? new BusyCursor : nullptr);
    if (mode.EndMoveDrag(*Paper, dx, dy)) {
      own.WriteOffsetLayer(static_cast<uint8_t>(active), dx, dy);
      Redraw();
    }
  }
  mode.EndSizeDrag();

  if (kind == tkLine && mode.ShapeReady && VLMain && VLMain->Stroke) {
    BusyCursor busy;
    TStroke& brush = *VLMain->Stroke;
    const TPoint start = mode.Points[0];
    brush.SetLayer(active);
    // Drawn with exactly what the event keeps, so the replay draws the same line.
    brush.UseRecordedValues();
    own.WriteLine(brush, start.X, start.Y, p.X, p.Y);
    Paper->DrawLine(brush, this, start.X, start.Y, p.X, p.Y);
    mode.ResetShape();
    ShowRubberBand({});
    Redraw();
  } else if (kind == tkRect && mode.ShapeReady) {
    BusyCursor busy;
    const TPoint s = mode.Points[0];
    int32_t left = std::min(s.X, p.X), right = std::max(s.X, p.X);
    int32_t top = std::min(s.Y, p.Y), bottom = std::max(s.Y, p.Y);
    // A side too long for its event field is cut to the paper first: the same pixels change.
    if (right - left > 32767) {
      left = std::max(left, 0);
      right = std::max(left, std::min(right, Paper->Width()));
    }
    if (bottom - top > 32767) {
      top = std::max(top, 0);
      bottom = std::max(top, std::min(bottom, Paper->Height()));
    }
    const int32_t w = right - left, h = bottom - top;
    layers.PushUndoRect(active, left, top, w, h);
    if (mode.Fill) {
      const uint32_t colour = VLMain && VLMain->Stroke ? VLMain->Stroke->Color & 0xFFFFFFu : 0;
      own.WriteFillRect(static_cast<uint8_t>(active), left, top, w, h, Red(colour), Green(colour), Blue(colour));
      layers.FillRect(active, left, top, w, h, colour);
    } else {
      own.WriteClearRect(static_cast<uint8_t>(active), left, top, w, h);
      layers.ClearRect(active, left, top, w, h);
    }
    mode.ResetShape();
    ShowRubberBand({});
    RecompositeRect(left - 2, top - 2, w + 4, h + 4);
  }

  mode.UpdateModifiers(this);
  mode.UpdateCursor(this);
  ButtonDown = false;
}

void TDrawWindow::ToolKeyUp(int) {
  if (!ToolsWindow || !Paper || !Paper->Initialised || !Paper->Layers) return;
  TToolMode& mode = ToolsWindow->Mode;
  if (mode.MoveState != dsDragging) return;
  BusyCursor busy;
  const int32_t active = Paper->Layers->ActiveIndex();
  int32_t dx = 0, dy = 0;
  if (mode.EndMoveDrag(*Paper, dx, dy)) {
    OwnPacket().WriteOffsetLayer(static_cast<uint8_t>(active), dx, dy);
    Redraw();
  }
}

void TDrawWindow::FormDblClick() {
  if (!ToolsWindow || !Paper || !Paper->Initialised || !Paper->Layers) return;
  TToolMode& mode = ToolsWindow->Mode;
  if (!mode.ClosePolygon()) return;
  BusyCursor busy;
  SuppressNextDown = true;
  ShowRubberBand({});
  if (mode.ShapeReady) {
    TLayerMng& layers = *Paper->Layers;
    const int32_t active = layers.ActiveIndex();
    const TPoint* points = mode.Points.data();
    const int32_t count = mode.Count;
    int32_t l = 0, t = 0, w = 0, h = 0;
    PointsBounds(points, count, l, t, w, h);
    layers.PushUndoRect(active, l, t, w, h);
    if (mode.Fill) {
      const uint32_t colour = VLMain && VLMain->Stroke ? VLMain->Stroke->Color & 0xFFFFFFu : 0;
      OwnPacket().WriteFillPolygon(static_cast<uint8_t>(active), points, Red(colour), Green(colour), Blue(colour),
                                   count);
      layers.FillPolygon(active, *Paper->Selection, colour, points, count);
    } else {
      OwnPacket().WriteClearPolygon(static_cast<uint8_t>(active), points, count);
      layers.ClearPolygon(active, *Paper->Selection, points, count);
    }
    RecompositeRect(l, t, w, h);
    mode.ResetShape();
  } else {
    mode.ResetShape();
    Redraw();
  }
}
