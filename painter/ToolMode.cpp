#include "painter/ToolMode.h"

#include <cmath>
#include <cstdlib>

#include "engine/Display.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "painter/Cursors.h"
#include "painter/DrawWin.h"
#include "platform/core/KeyState.h"

namespace {

bool Held(int vk) { return plat::IsKeyDown(vk); }
bool SpaceHeld() { return Held(plat::VK_SPACE); }
bool AltHeld() { return Held(plat::VK_MENU); }
bool CtrlHeld() { return Held(plat::VK_CONTROL); }

bool In(int32_t v, int32_t lo, int32_t hi) { return v >= lo && v <= hi; }

// Top-left corner of the frame of the chosen cell; false for kinds without a cell.
bool FrameCorner(TToolKind kind, bool fill, int32_t& x, int32_t& y) {
  switch (kind) {
    case tkPen: x = 1; y = 1; return true;
    case tkMove: x = 32; y = 1; return true;
    case tkSpoit: x = 1; y = 26; return true;
    case tkLine: x = 32; y = 26; return true;
    case tkRect: x = fill ? 1 : 32; y = 51; return true;
    case tkPolygon: x = fill ? 1 : 32; y = 76; return true;
    case tkHand: x = 1; y = 101; return true;
    case tkRotate: x = 32; y = 101; return true;
    case tkZoomIn: x = 1; y = 126; return true;
    case tkZoomOut: x = 32; y = 126; return true;
    default: return false;
  }
}

// Whether the cell in row (0..5) and column (0 left, 1 right) is the current choice.
bool CellChosen(TToolKind kind, bool fill, int row, int column) {
  const bool left = column == 0;
  switch (row) {
    case 0: return kind == (left ? tkPen : tkMove);
    case 1: return kind == (left ? tkSpoit : tkLine);
    case 2: return kind == tkRect && fill == left;
    case 3: return kind == tkPolygon && fill == left;
    case 4: return kind == (left ? tkHand : tkRotate);
    default: return kind == (left ? tkZoomIn : tkZoomOut);
  }
}

}  // namespace

TPoint CursorScreenPos() {
  TPoint p;
  plat::GetCursorPos(p.X, p.Y);
  return p;
}

TToolMode::TToolMode() : Points(kMaxPoints) {}

void TToolMode::SetPicture(const TPixelView& picture, int32_t width, int32_t height) {
  Picture.CopyFromDC(picture, width, height);
  Surface.Fill(0xFF000000u);
  Picture.CopyTo(Surface, 0, 0);
}

// ---- Tool choice ------------------------------------------------------------------------------

void TToolMode::SetTool(TToolKind kind) {
  Kind = kind;
  ShapeReady = false;
  Count = 0;
  MoveState = SizeState = HandState = RotateState = dsIdle;
  ZoomInArmed = ZoomOutArmed = false;
}

void TToolMode::ClickToolbox(int32_t x, int32_t y) {
  HandState = RotateState = MoveState = SizeState = dsIdle;
  ZoomInArmed = ZoomOutArmed = false;
  if (In(x, 1, 31)) {
    if (In(y, 0, 25)) Kind = tkPen;
    if (In(y, 26, 49)) Kind = tkSpoit;
    if (In(y, 51, 74)) {
      Kind = tkRect;
      Fill = true;
    }
    if (In(y, 76, 99)) {
      Kind = tkPolygon;
      Fill = true;
    }
    if (In(y, 101, 124)) {
      Kind = tkHand;
      HandState = dsArmed;
    }
  }
  if (In(x, 32, 62)) {
    if (In(y, 1, 24)) {
      Kind = tkMove;
      MoveState = dsArmed;
    }
    if (In(y, 26, 49)) Kind = tkLine;
    if (In(y, 51, 74)) {
      Kind = tkRect;
      Fill = false;
    }
    if (In(y, 76, 99)) {
      Kind = tkPolygon;
      Fill = false;
    }
    if (In(y, 101, 124)) {
      Kind = tkRotate;
      RotateState = dsArmed;
    }
  }
}

bool TToolMode::IsLineCell(int32_t x, int32_t y) { return In(x, 32, 62) && In(y, 26, 49); }
bool TToolMode::IsZoomInCell(int32_t x, int32_t y) { return In(x, 1, 31) && In(y, 126, 149); }
bool TToolMode::IsZoomOutCell(int32_t x, int32_t y) { return In(x, 32, 62) && In(y, 126, 149); }

void TToolMode::Paint(TPaintTarget* dc) {
  Picture.CopyTo(Surface, 0, 0);
  static constexpr int32_t kRowY[6] = {1, 25, 50, 75, 100, 125};
  for (int row = 0; row < 6; ++row)
    for (int column = 0; column < 2; ++column)
      if (!CellChosen(Kind, Fill, row, column)) Surface.BlendFillRect(column == 0 ? 1 : 32, kRowY[row], 30, 25, 0, 96);
  int32_t x = 0, y = 0;
  if (FrameCorner(Kind, Fill, x, y)) Surface.DrawRect(x, y, 30, 24, 0xFFFF0000u);
  Surface.DrawToWindow(dc, 0, 0, false);
}

// ---- Held keys ----------------------------------------------------------------------------------

bool TToolMode::NoToolKeys() { return NoToolKeysButShift() && !Held(plat::VK_SHIFT); }

bool TToolMode::NoToolKeysButShift() {
  return !SpaceHeld() && !CtrlHeld() && !AltHeld() && !Held('X') && !Held('M');
}

void TToolMode::UpdateModifiers(TDrawWindow*) {
  if (NoToolKeys()) {
    SizeState = dsIdle;
    if (Kind != tkHand) HandState = dsIdle;
    if (Kind != tkRotate) RotateState = dsIdle;
    if (Kind != tkMove) MoveState = dsIdle;
    if (Kind != tkZoomIn) ZoomInArmed = false;
    if (Kind != tkZoomOut) ZoomOutArmed = false;
  }
  if (CtrlHeld() && SpaceHeld()) {
    ZoomInArmed = true;
    if (AltHeld()) ZoomOutArmed = true;
  } else if (CtrlHeld() && SizeState == dsIdle) {
    if (AltHeld()) SizeState = dsArmed;
  } else if (AltHeld() && RotateState == dsIdle) {
    if (!CtrlHeld()) RotateState = dsArmed;
  } else if (SpaceHeld() && HandState == dsIdle) {
    HandState = dsArmed;
  }
}

int32_t TToolMode::CursorNumber() const {
  int32_t c = -1;
  switch (Kind) {
    case tkZoomIn: c = crZoomIn; break;
    case tkZoomOut: c = crZoomOut; break;
    case tkPen: c = crPen; break;
    case tkRotate:
    case tkHand: c = crHand; break;
    case tkRect:
    case tkLine:
    case tkPolygon:
    case tkMagicWand:
    case tkFreehand: c = crCross; break;
    case tkMove: c = crSizeAll; break;
    case tkSpoit: c = crSpoit; break;
    default: break;
  }
  if (MoveState != dsIdle) c = crSizeAll;
  if (HandState != dsIdle) c = crHand;
  if (RotateState != dsIdle) c = crHand;
  if (SizeState != dsIdle) c = crCross;
  if (ZoomInArmed) c = crZoomIn;
  if (ZoomOutArmed) c = crZoomOut;
  return c;
}

// ---- Drags --------------------------------------------------------------------------------------

bool TToolMode::BeginHandDrag(int32_t x, int32_t y) {
  if ((Kind == tkHand || HandState == dsArmed) && !AltHeld()) {
    HandAnchor = {x, y};
    HandState = dsDragging;
    return true;
  }
  return false;
}

bool TToolMode::BeginRotateDrag(int32_t x, int32_t y) {
  if ((Kind == tkRotate || RotateState == dsArmed) && !CtrlHeld() && !SpaceHeld()) {
    RotateAnchor = {x, y};
    RotateState = dsDragging;
    return true;
  }
  return false;
}

bool TToolMode::BeginSizeDrag(int32_t x, int32_t y, float width) {
  if (SizeState != dsArmed) return false;
  SizeAnchor = {x, y};
  SizeStartWidth = width;
  SizeState = dsDragging;
  return true;
}

bool TToolMode::BeginMoveDrag(int32_t x, int32_t y, TLayerMng&) {
  if (NoToolKeysButShift() && (Kind == tkMove || MoveState == dsArmed) && HandState == dsIdle &&
      RotateState == dsIdle) {
    MoveAnchor = {x, y};
    MoveOffset = {0, 0};
    MoveState = dsDragging;
    return true;
  }
  return false;
}

bool TToolMode::TrackHandDrag(TPaper& paper, int32_t& hpos, int32_t& vpos) {
  if (HandState != dsDragging || AltHeld() || CtrlHeld()) return false;
  const TPoint c = CursorScreenPos();
  if (c.X != HandAnchor.X || c.Y != HandAnchor.Y) {
    TDisplay& d = paper.Display;
    if (d.IsRotated()) {
      const ext_t z = d.Zoom();
      d.PanRotated(static_cast<float>((c.X - HandAnchor.X) / z), static_cast<float>((c.Y - HandAnchor.Y) / z));
    } else {
      hpos -= c.X - HandAnchor.X;
      vpos -= c.Y - HandAnchor.Y;
    }
    HandAnchor = c;
  }
  return true;
}

bool TToolMode::TrackRotateDrag(TPaper& paper, const TDisplayForm& window) {
  if (RotateState != dsDragging) return false;
  const TPoint c = CursorScreenPos();
  if (c.X == RotateAnchor.X && c.Y == RotateAnchor.Y) return false;
  TDisplay& d = paper.Display;
  if (!d.IsRotated()) {
    int32_t cx = 0, cy = 0;
    d.CentrePoint(window.ClientWidth(), window.ClientHeight(), cx, cy);
    d.SetCentre(static_cast<float>(cx), static_cast<float>(cy));
  }
  const int64_t dx = int64_t{c.X} - RotateAnchor.X, dy = int64_t{c.Y} - RotateAnchor.Y;
  int32_t dist = TruncInt(std::sqrt(static_cast<ext_t>(dx * dx + dy * dy)));
  if (dx > 0) dist = -dist;
  RotateAnchor = c;
  d.Rotate(static_cast<float>(dist / 150.0L));
  return true;
}

TPoint TToolMode::MoveOffsetFor(const TDisplay& display, int32_t dx, int32_t dy) {
  const ext_t a = display.Angle, z = display.Zoom();
  return TPoint{TruncInt((dx * std::cos(a) - dy * std::sin(a)) / z), TruncInt((dx * std::sin(a) + dy * std::cos(a)) / z)};
}

bool TToolMode::TrackMoveDrag(TPaper& paper) {
  if (MoveState != dsDragging) return false;
  const TPoint c = CursorScreenPos();
  if (c == MoveAnchor) return false;
  const TPoint o = MoveOffsetFor(paper.Display, c.X - MoveAnchor.X, c.Y - MoveAnchor.Y);
  // An unchanged offset is on screen already: no recomposite.
  if (o == MoveOffset) return false;
  MoveOffset = o;
  return true;
}

bool TToolMode::TrackSizeDrag(TPaper& paper, float& width) {
  if (SizeState != dsDragging || SpaceHeld()) return false;
  const TPoint c = CursorScreenPos();
  if (c == SizeAnchor) return false;
  const ext_t w = static_cast<ext_t>(c.X - SizeAnchor.X) / paper.Display.Zoom() / 2 + SizeStartWidth;
  if (w < 0 || w > 200) return false;
  width = static_cast<float>(w);
  return true;
}

bool TToolMode::EndHandDrag() {
  if (HandState != dsDragging) return false;
  HandState = Kind == tkHand ? dsArmed : dsIdle;
  return true;
}

bool TToolMode::EndRotateDrag() {
  if (RotateState != dsDragging) return false;
  RotateState = Kind == tkRotate ? dsArmed : dsIdle;
  return true;
}

bool TToolMode::EndSizeDrag() {
  if (SizeState != dsDragging) return false;
  SizeState = dsIdle;
  return true;
}

bool TToolMode::EndMoveDrag(TPaper& paper, int32_t& dx, int32_t& dy) {
  if (MoveState != dsDragging) return false;
  MoveState = Kind == tkMove ? dsArmed : dsIdle;
  const TPoint c = CursorScreenPos();
  const TPoint o = ClampInt16(MoveOffsetFor(paper.Display, c.X - MoveAnchor.X, c.Y - MoveAnchor.Y));
  MoveOffset = o;
  dx = o.X;
  dy = o.Y;
  if (paper.Layers) {
    TLayerMng& layers = *paper.Layers;
    const int32_t active = layers.ActiveIndex();
    layers.PushUndo(active);
    layers.OffsetLayer(active, dx, dy);
  }
  paper.Composite();
  paper.UpdatePreview();
  return true;
}

// ---- Shapes -------------------------------------------------------------------------------------

bool TToolMode::BeginShape(int32_t x, int32_t y) {
  ShapeReady = true;
  if (Count == 0) LastBandPoint = {x, y};
  Points[0] = {x, y};
  Count = 1;
  return true;
}

bool TToolMode::BeginRect(int32_t x, int32_t y) {
  if (!NoToolKeysButShift() || Kind != tkRect) return false;
  return BeginShape(x, y);
}

bool TToolMode::BeginLine(int32_t x, int32_t y) {
  if (!NoToolKeysButShift() || Kind != tkLine) return false;
  return BeginShape(x, y);
}

bool TToolMode::AppendPoint(int32_t x, int32_t y) {
  ShapeReady = false;
  if (Count == 0) LastBandPoint = {x, y};
  Points[Count++] = {x, y};
  return true;
}

bool TToolMode::AddPolygonPoint(int32_t x, int32_t y) {
  if (!NoToolKeysButShift() || Kind != tkPolygon || Count >= kMaxPolygonPoints) return false;
  return AppendPoint(x, y);
}

bool TToolMode::AddFreehandPoint(int32_t x, int32_t y) {
  if (!NoToolKeysButShift() || Kind != tkFreehand || Count >= kMaxShapePoints) return false;
  return AppendPoint(x, y);
}

void TToolMode::RemoveLastPoint() {
  --Count;
  if (Count <= 0) {
    Count = 0;
    ShapeReady = false;
  }
}

void TToolMode::ResetShape() {
  Count = 0;
  ShapeReady = false;
}

bool TToolMode::ClosePolygon() {
  if (!NoToolKeysButShift() || Kind != tkPolygon) return false;
  if (Count < 3)
    ResetShape();
  else
    ShapeReady = true;
  return true;
}

// ---- Rubber band --------------------------------------------------------------------------------

bool TToolMode::RubberBand(const TDisplay& display, int32_t clientWidth, int32_t clientHeight, int32_t x, int32_t y,
                           std::vector<TBandLine>& lines) {
  lines.clear();
  auto toWindow = [&](TPoint p) {
    display.PaperToWindow(clientWidth, clientHeight, p);
    return p;
  };
  TPoint mousePaper{x, y};
  display.WindowToPaper(clientWidth, clientHeight, mousePaper);
  // The band's old pixels are repainted by the caller from its previous lines; only the
  // last band point is kept here.
  auto restore = [&] { LastBandPoint = Count > 0 ? mousePaper : TPoint{0, 0}; };
  const TPoint mouse{x, y};
  const bool single = Count == 1 && (Kind == tkPolygon || Kind == tkFreehand);
  if (Kind == tkRect && Count > 0) {
    restore();
    const TPoint m = toWindow(mousePaper);
    const TPoint s = toWindow(Points[0]);
    lines.push_back({m, {m.X, s.Y}});
    lines.push_back({{m.X, s.Y}, s});
    lines.push_back({s, {s.X, m.Y}});
    lines.push_back({{s.X, m.Y}, m});
    return true;
  }
  if ((Kind == tkLine && Count > 0) || single) {
    restore();
    lines.push_back({toWindow(Points[0]), mouse});
    return true;
  }
  if (Kind == tkPolygon && Count > 1) {
    restore();
    TPoint prev = toWindow(Points[0]);
    for (int32_t i = 1; i < Count; ++i) {
      const TPoint p = toWindow(Points[i]);
      lines.push_back({prev, p});
      prev = p;
    }
    lines.push_back({prev, mouse});
    return true;
  }
  if (Kind == tkFreehand && Count > 1) {
    TPoint prev = toWindow(Points[0]);
    for (int32_t i = 1; i < Count; ++i) {
      const TPoint p = toWindow(Points[i]);
      lines.push_back({prev, p});
      prev = p;
    }
    return true;
  }
  return false;
}

// ---- The paper window's side --------------------------------------------------------------------

void TToolMode::UpdateCursor(TDrawWindow* window) {
  if (!window) return;
  const int32_t n = CursorNumber();
  if (n >= 0) window->setCursor(ScreenCursor(n));
}

bool TToolMode::TrackRotateDrag(TPaper& paper, TDrawWindow* window) {
  if (!window) return false;
  return TrackRotateDrag(paper, static_cast<const TDisplayForm&>(*window));
}

bool TToolMode::DrawRubberBand(TDrawWindow* window, TPaper& paper, int32_t x, int32_t y) {
  if (!window) return false;
  std::vector<TBandLine> lines;
  const bool drawn = RubberBand(paper.Display, window->ClientWidth(), window->ClientHeight(), x, y, lines);
  window->ShowRubberBand(std::move(lines));
  return drawn;
}
