#include "painter/ToolMode.h"

TToolMode::TToolMode() : Surface(63, 151), Points(kMaxPoints) {}
TToolMode::~TToolMode() = default;

bool TToolMode::NoToolKeys() { return true; }
bool TToolMode::NoToolKeysButShift() { return true; }
void TToolMode::SetTool(TToolKind kind) {
  Kind = kind;
  ShapeReady = false;
  Count = 0;
  MoveState = SizeState = HandState = RotateState = dsIdle;
  ZoomInArmed = ZoomOutArmed = false;
}
void TToolMode::SetFill(bool fill) { Fill = fill; }
void TToolMode::ClickToolbox(int32_t, int32_t) {}
void TToolMode::Paint(TPaintTarget*) {}
bool TToolMode::IsLineCell(int32_t, int32_t) const { return false; }
bool TToolMode::IsZoomInCell(int32_t, int32_t) const { return false; }
bool TToolMode::IsZoomOutCell(int32_t, int32_t) const { return false; }
void TToolMode::UpdateModifiers(TDrawWindow*) {}
void TToolMode::UpdateCursor(TDrawWindow*) {}
bool TToolMode::BeginHandDrag(int32_t, int32_t) { return false; }
bool TToolMode::BeginRotateDrag(int32_t, int32_t) { return false; }
bool TToolMode::BeginSizeDrag(int32_t, int32_t, float) { return false; }
bool TToolMode::BeginMoveDrag(int32_t, int32_t, TLayerMng&) { return false; }
bool TToolMode::TrackHandDrag(TPaper&, int32_t&, int32_t&) { return false; }
bool TToolMode::TrackRotateDrag(TPaper&, TDrawWindow*) { return false; }
bool TToolMode::TrackMoveDrag(TPaper&) { return false; }
bool TToolMode::TrackSizeDrag(TPaper&, float&) { return false; }
bool TToolMode::EndHandDrag() { return false; }
bool TToolMode::EndRotateDrag() { return false; }
bool TToolMode::EndSizeDrag() { return false; }
bool TToolMode::EndMoveDrag(TPaper&, int32_t&, int32_t&) { return false; }
bool TToolMode::BeginRect(int32_t, int32_t) { return false; }
bool TToolMode::BeginLine(int32_t, int32_t) { return false; }
bool TToolMode::AddPolygonPoint(int32_t, int32_t) { return false; }
bool TToolMode::AddFreehandPoint(int32_t, int32_t) { return false; }
void TToolMode::RemoveLastPoint() {}
void TToolMode::ResetShape() {
  Count = 0;
  ShapeReady = false;
}
bool TToolMode::ClosePolygon() { return false; }
bool TToolMode::DrawRubberBand(TDrawWindow*, TPaper&, int32_t, int32_t) { return false; }
