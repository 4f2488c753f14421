#pragma once
// The paper window: an MDI child that shows one paper and owns it, with the event recorders
// and brushes of the four member slots and the session log. Its input handlers (tools, zoom
// clicks, colour picks, keys) live in DrawWinInput.cpp.
#include <QPointer>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/Types.h"
#include "painter/ToolMode.h"
#include "platform/qt/BackBuffer.h"
#include "platform/qt/ScrollBar.h"

class QMdiSubWindow;
class TEventPacket;
class TPaper;
class TStroke;

// The base form of MDI children: a client surface inside an MDI sub-window, freed when closed.
class TMDIChild : public plat::TBufferedWidget {
  Q_OBJECT
 public:
  explicit TMDIChild(QWidget* parent = nullptr);
  // The MDI sub-window that frames this child (none before it is added to the area).
  QMdiSubWindow* SubWindow() const;
  void SetCaption(const std::string& caption);
  std::string Caption() const;
  // Window state of the frame: normal, minimised or maximised.
  bool IsNormalState() const;
  bool IsMaximized() const;
  void SetNormalState();
  // The client size the view fits, through the frame.
  void SetClientSize(int32_t width, int32_t height) override;
};

class TDrawWindow : public TMDIChild {
  Q_OBJECT
 public:
  static constexpr int kSlots = 4;
  explicit TDrawWindow(QWidget* parent = nullptr);
  ~TDrawWindow() override;

  // Components.
  plat::TQtScrollBar ScrollBar1;
  plat::TQtScrollBar ScrollBar2;

  // Fields.
  int32_t MouseDownX = 0;
  int32_t MouseDownY = 0;
  bool SuppressNextDown = false;
  uint32_t AltDownTime = 0;
  int32_t AltDownCount = 0;
  int32_t StrokeCount = 0;
  int32_t SavedStrokeCount = 0;
  uint32_t LastActivity = 0;
  std::unique_ptr<TPaper> Paper;
  std::array<std::unique_ptr<TEventPacket>, kSlots> Packets;
  std::array<std::unique_ptr<TStroke>, kSlots> Strokes;
  std::unique_ptr<TEventPacket> Log;
  std::array<int32_t, kSlots> LoggedPos{};
  bool Playing = false;
  bool StopRequested = false;
  uint32_t LastStepTime = 0;
  bool ButtonDown = false;
  // Occupant count of each member slot's connection when this window last looked (update loop).
  std::array<uint32_t, kSlots> SlotOccupant{};
  // The slot's former occupant's events are still being played (update loop).
  std::array<bool, kSlots> HandingOver{};

  // The recorder of the own member slot (slot 0 outside a session).
  TEventPacket& OwnPacket();
  int32_t OwnSlot() const;
  // True from the accepted close until the window is gone.
  bool TearingDown() const { return tearingDown_; }

  // View operations.
  void Redraw();
  void RedrawRect(int32_t x, int32_t y, int32_t w, int32_t h);
  void RecompositeAll();
  void RecompositeRect(int32_t x, int32_t y, int32_t w, int32_t h);
  void ResetView();
  void Undo();
  void ZoomInAt(bool refit, int32_t x, int32_t y);
  void ZoomOutAt(bool refit, int32_t x, int32_t y);
  void ZoomReset(bool refit, int32_t x, int32_t y);
  void ApplyZoom(bool refit, int32_t x, int32_t y);
  // One zoom step in or out that keeps the paper under window point (wx, wy) where it is, so
  // that zooming back at the same point gives the same view again; nothing at the last step.
  void ZoomAround(bool in, int32_t wx, int32_t wy);
  // Paper point under a window point for zoom clicks and the wheel (the rotation is ignored).
  TPoint ZoomPoint(int32_t wx, int32_t wy) const;
  // Scroll positions that put a paper point in the middle of the window (the point may lie
  // between pixels: the position truncates x × zoom).
  void CentreOn(ext_t x, ext_t y);
  // The destroy steps: session messages, the log's export, the session's reset, the paper
  // freed, the tool windows cleared. Runs once, when the close was accepted.
  void Teardown();
  // Closes the window; with ask false the close question is skipped (the program's end).
  bool CloseWindow(bool ask);

 public slots:
  void FormActivate();
  void FormPaint();
  void FormResize();
  void ScrollBar1Scroll();
  void ScrollBar2Scroll();
  // Input handlers. Window coordinates; buttons as Qt gives them. They route the mouse to the
  // stroke input and to the tool steps below, and do the colour picks, zoom clicks and the Alt
  // tap themselves.
  void FormMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers mods, int32_t x, int32_t y);
  void FormMouseMove(Qt::KeyboardModifiers mods, int32_t x, int32_t y);
  void FormMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers mods, int32_t x, int32_t y);
  void FormKeyDown(int key, bool autoRepeat);
  void FormKeyUp(int key);
  void FormMouseWheelDown(int32_t x, int32_t y);
  void FormMouseWheelUp(int32_t x, int32_t y);
  // ---- tool steps of the input handlers (DrawWinInput.cpp)
  // Mouse-down: the view and layer drags, shape points (left), the last point removed (right).
  void ToolMouseDown(Qt::MouseButton button, int32_t x, int32_t y);
  // Mouse-move: cursor, freehand points, rubber band.
  void ToolMouseMove(int32_t x, int32_t y);
  // Mouse-up: a click that clears the selection, drags ended, lines and rectangles applied.
  void ToolMouseUp(Qt::MouseButton button, int32_t x, int32_t y);
  // A key released: a layer-move drag ends and is recorded.
  void ToolKeyUp(int key);
  // The double-click: closes a polygon.
  void FormDblClick();

 public:
  // The rubber band of the shape being drawn, in window pixels, shown over the paper; the
  // window's pixels under the old band are repainted from the back buffer.
  std::vector<TBandLine> BandLines;
  void ShowRubberBand(std::vector<TBandLine> lines);
  // ---- end tool steps

 protected:
  void RepaintBuffer() override;
  void PaintOverlay(QPainter& painter) override;  // the rubber band (DrawWinInput.cpp)
  void resizeEvent(QResizeEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  bool focusNextPrevChild(bool next) override;

 private:
  // The unrounded scroll positions the last ZoomAround aimed at, with the positions and zoom
  // step it left: while the view is still that, the next zoom starts from the unrounded ones.
  long double zoomExact_[2] = {0, 0};
  int32_t zoomLeft_[2] = {0, 0};
  int32_t zoomLeftIndex_ = -100;
  bool askOnClose_ = true;
  bool tearingDown_ = false;
  int wheelRest_ = 0;
};
