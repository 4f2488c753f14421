#pragma once
// The tool model of the painter: the chosen tool and its fill/erase variant, the temporary
// tools that held keys switch on over it, the four drags (hand, rotate, layer move, brush
// size), the point list of the shape tools, the rubber band of a shape in progress, the paper
// windows' cursor and the tool box picture with its cells. One instance exists, owned by the
// tool box window; paper windows start and end drags and shapes, the update step tracks them.
#include <cstdint>
#include <vector>

#include "engine/TrueCnvs.h"
#include "engine/Types.h"

class TPaper;
class TLayerMng;
class TDisplay;
class TDisplayForm;
class TDrawWindow;

enum TToolKind : uint8_t {
  tkZoomIn = 0,
  tkZoomOut = 1,
  tkPen = 2,
  tkRotate = 3,
  tkHand = 4,
  tkRect = 5,
  tkCircle = 6,
  tkLine = 7,
  tkPolygon = 8,
  tkMagicWand = 9,
  tkFreehand = 10,
  tkMove = 11,
  tkSpoit = 12,
};

// Drag states: idle, armed (the next left press in a paper window starts it), dragging.
enum TDragState : uint8_t { dsIdle = 0, dsArmed = 1, dsDragging = 2 };

// Screen cursor slots of the main window's cursor table.
constexpr int32_t crZoomIn = 5;
constexpr int32_t crZoomOut = 6;
constexpr int32_t crSpoit = 7;
constexpr int32_t crPen = 8;
constexpr int32_t crHand = 12;
constexpr int32_t crSizeAll = 13;
constexpr int32_t crCross = 14;

constexpr int32_t kToolBoxWidth = 63;
constexpr int32_t kToolBoxHeight = 151;
constexpr int32_t kMaxShapePoints = 65536;
// A polygon takes at most this many vertices.
constexpr int32_t kMaxPolygonPoints = 10001;

// One rubber-band line in window pixels.
struct TBandLine {
  TPoint A, B;
  friend bool operator==(const TBandLine&, const TBandLine&) = default;
};

// Clamps a coordinate or offset into the 16-bit field an event stores it in.
inline int32_t ClampInt16(int32_t v) { return v < -32768 ? -32768 : (v > 32767 ? 32767 : v); }
inline TPoint ClampInt16(TPoint p) { return TPoint{ClampInt16(p.X), ClampInt16(p.Y)}; }

class TToolMode {
 public:
  static constexpr int32_t kMaxPoints = kMaxShapePoints;
  // The pen chosen, no drag, no points; the picture comes with SetPicture.
  TToolMode();
  // Takes a copy of the tool box picture (width x height pixels of the view).
  void SetPicture(const TPixelView& picture, int32_t width, int32_t height);
  TToolMode(const TToolMode&) = delete;
  TToolMode& operator=(const TToolMode&) = delete;

  TTCDC Surface{kToolBoxWidth, kToolBoxHeight};
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
  // Shape points in paper pixels, kMaxPoints entries; Count of them in use.
  std::vector<TPoint> Points;
  int32_t Count = 0;
  bool ShapeReady = false;

  // Tool choice.
  void SetTool(TToolKind kind);
  void SetFill(bool fill) { Fill = fill; }
  void ClickToolbox(int32_t x, int32_t y);
  static bool IsLineCell(int32_t x, int32_t y);
  static bool IsZoomInCell(int32_t x, int32_t y);
  static bool IsZoomOutCell(int32_t x, int32_t y);
  bool IsRectTool() const { return Kind == tkRect; }
  bool IsLineTool() const { return Kind == tkLine; }
  // The tool box picture with the chosen cell marked, drawn at (0, 0).
  void Paint(TPaintTarget* dc);

  // Held keys.
  static bool NoToolKeys();
  static bool NoToolKeysButShift();
  void UpdateModifiers(TDrawWindow* window = nullptr);
  // The cursor slot for the current tool and temporary tools; -1 when it keeps the cursor.
  int32_t CursorNumber() const;
  void UpdateCursor(TDrawWindow* window);

  // Drags. Points are screen pixels.
  bool BeginHandDrag(int32_t x, int32_t y);
  bool BeginRotateDrag(int32_t x, int32_t y);
  bool BeginSizeDrag(int32_t x, int32_t y, float width);
  bool BeginMoveDrag(int32_t x, int32_t y, TLayerMng& layers);
  // Update ticks; each reads the screen cursor.
  bool TrackHandDrag(TPaper& paper, int32_t& hpos, int32_t& vpos);
  bool TrackRotateDrag(TPaper& paper, const TDisplayForm& window);
  bool TrackRotateDrag(TPaper& paper, TDrawWindow* window);
  bool TrackMoveDrag(TPaper& paper);
  bool TrackSizeDrag(TPaper& paper, float& width);
  bool EndHandDrag();
  bool EndRotateDrag();
  bool EndSizeDrag();
  // Moves the active layer by the offset of the cursor (with an undo step) and recomposites;
  // the offset is clamped to what an event can hold. False when no move drag ran.
  bool EndMoveDrag(TPaper& paper, int32_t& dx, int32_t& dy);
  // The layer offset for a cursor movement under the paper's view.
  static TPoint MoveOffsetFor(const TDisplay& display, int32_t dx, int32_t dy);

  // Shapes (paper pixels).
  bool BeginRect(int32_t x, int32_t y);
  bool BeginLine(int32_t x, int32_t y);
  bool AddPolygonPoint(int32_t x, int32_t y);
  bool AddFreehandPoint(int32_t x, int32_t y);
  void RemoveLastPoint();
  void ResetShape();
  bool ClosePolygon();

  // Rubber band of the shape at window point (x, y): the lines to show, in window pixels.
  // False (no lines) when the shape shows no band.
  bool RubberBand(const TDisplay& display, int32_t clientWidth, int32_t clientHeight, int32_t x, int32_t y,
                  std::vector<TBandLine>& lines);
  bool DrawRubberBand(TDrawWindow* window, TPaper& paper, int32_t x, int32_t y);

 private:
  bool BeginShape(int32_t x, int32_t y);
  bool AppendPoint(int32_t x, int32_t y);
};

// The screen position of the mouse, as its last event left it.
TPoint CursorScreenPos();
