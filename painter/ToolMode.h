#pragma once
// The tool box's state: the chosen tool, the temporary tools armed by held keys, the view and
// layer drags, and the points of the shape being drawn.
#include <cstdint>
#include <vector>

#include "engine/TrueCnvs.h"
#include "engine/Types.h"

class TDrawWindow;
class TLayerMng;
class TPaper;

enum TToolKind : uint8_t {
  tkZoomIn = 0, tkZoomOut = 1, tkPen = 2, tkRotate = 3, tkHand = 4, tkRect = 5, tkCircle = 6, tkLine = 7,
  tkPolygon = 8, tkMagicWand = 9, tkFreehand = 10, tkMove = 11, tkSpoit = 12,
};

// Drag states: idle, armed (the next left mouse-down in a paper window starts it), dragging.
enum TDragState : uint8_t { dsIdle = 0, dsArmed = 1, dsDragging = 2 };

class TToolMode {
 public:
  static constexpr int32_t kMaxPoints = 65536;
  TToolMode();
  ~TToolMode();
  TToolMode(const TToolMode&) = delete;
  TToolMode& operator=(const TToolMode&) = delete;

  TTCDC Surface;
  TTCDC Picture;
  TToolKind Kind = tkPen;
  TPoint LastBandPoint;
  bool Fill = true;
  uint8_t MoveState = dsIdle;
  uint8_t SizeState = dsIdle;
  uint8_t HandState = dsIdle;
  uint8_t RotateState = dsIdle;
  bool ZoomInArmed = false;
  bool ZoomOutArmed = false;
  TPoint HandAnchor;
  TPoint RotateAnchor;
  TPoint MoveAnchor;
  TPoint MoveOffset;
  float SizeStartWidth = 0;
  TPoint SizeAnchor;
  std::vector<TPoint> Points;  // kMaxPoints entries
  int32_t Count = 0;
  bool ShapeReady = false;

  static bool NoToolKeys();
  static bool NoToolKeysButShift();

  void SetTool(TToolKind kind);
  void SetFill(bool fill);
  void ClickToolbox(int32_t x, int32_t y);
  void Paint(TPaintTarget* dc);
  bool IsLineCell(int32_t x, int32_t y) const;
  bool IsZoomInCell(int32_t x, int32_t y) const;
  bool IsZoomOutCell(int32_t x, int32_t y) const;
  void UpdateModifiers(TDrawWindow* window);
  void UpdateCursor(TDrawWindow* window);
  bool BeginHandDrag(int32_t sx, int32_t sy);
  bool BeginRotateDrag(int32_t sx, int32_t sy);
  bool BeginSizeDrag(int32_t sx, int32_t sy, float width);
  bool BeginMoveDrag(int32_t sx, int32_t sy, TLayerMng& layers);
  bool TrackHandDrag(TPaper& paper, int32_t& hpos, int32_t& vpos);
  bool TrackRotateDrag(TPaper& paper, TDrawWindow* window);
  bool TrackMoveDrag(TPaper& paper);
  bool TrackSizeDrag(TPaper& paper, float& width);
  bool EndHandDrag();
  bool EndRotateDrag();
  bool EndSizeDrag();
  bool EndMoveDrag(TPaper& paper, int32_t& dx, int32_t& dy);
  bool BeginRect(int32_t x, int32_t y);
  bool BeginLine(int32_t x, int32_t y);
  bool AddPolygonPoint(int32_t x, int32_t y);
  bool AddFreehandPoint(int32_t x, int32_t y);
  void RemoveLastPoint();
  void ResetShape();
  bool ClosePolygon();
  bool IsRectTool() const { return Kind == tkRect; }
  bool IsLineTool() const { return Kind == tkLine; }
  bool DrawRubberBand(TDrawWindow* window, TPaper& paper, int32_t x, int32_t y);
};
