#pragma once
// The view of one paper window: zoom step, scroll position, margins and an optional free
// rotation about a centre point; maps window points to paper points and back and drives the
// window's scroll bars and the grey bands around the paper.
#include <cstdint>

#include "engine/Types.h"

// Colour of everything around the paper.
constexpr uint32_t kViewBackground = 0x606060;

// The paper window as the view needs it; the painter and the viewer implement it on their
// windows, tests on plain objects.
class TDisplayForm {
 public:
  virtual ~TDisplayForm() = default;
  virtual int32_t ClientWidth() const = 0;
  virtual int32_t ClientHeight() const = 0;
  virtual void SetClientSize(int32_t width, int32_t height) = 0;
  // Fills a rectangle of the window's surface with an opaque colour (0xRRGGBB).
  virtual void FillRect(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour) = 0;
};

// One of the paper window's two scroll bars, with the values of a Windows scroll bar: the range
// is 0..Max, the thumb covers Page units, a click in the track moves by LargeChange and an
// arrow by SmallChange. The click step and the thumb size are set separately and differ.
class TDisplayScrollBar {
 public:
  virtual ~TDisplayScrollBar() = default;
  virtual void SetVisible(bool visible) = 0;
  // The bar's own height (horizontal bar) or width (vertical bar).
  virtual int32_t Thickness() const = 0;
  virtual void SetLeft(int32_t left) = 0;
  virtual void SetTop(int32_t top) = 0;
  virtual void SetWidth(int32_t width) = 0;
  virtual void SetHeight(int32_t height) = 0;
  virtual void SetLargeChange(int32_t step) = 0;
  virtual void SetMax(int32_t max) = 0;
  virtual void SetPage(int32_t page) = 0;
  virtual void SetSmallChange(int32_t step) = 0;
  virtual int32_t Position() const = 0;
  virtual void SetPosition(int32_t position) = 0;
};

class TDisplay {
 public:
  // Window x of the paper's left edge while the paper starts inside the window, else 0.
  int32_t MarginX = 0;
  int32_t MarginY = 0;
  // Paper point shown at window (MarginX, MarginY).
  int32_t ScrollX = 0;
  int32_t ScrollY = 0;
  // View rotation in radians; the view is rotated exactly when Angle != 0.
  float Angle = 0;
  // Paper point shown at the window centre while rotated.
  float CentreX = 0;
  float CentreY = 0;
  // Zoom step -2..6 (25% .. 800%), 0 = 100%.
  int32_t ZoomIndex = 0;

  static constexpr int32_t kMinZoomIndex = -2;
  static constexpr int32_t kMaxZoomIndex = 6;

  // Factor of a zoom step; 1 for an index outside the table.
  static float ZoomFactor(int32_t index);
  // A paper side shown at a zoom step, in whole window pixels (integer arithmetic).
  static int32_t FitSize(int32_t index, int32_t size);

  float Zoom() const { return ZoomFactor(ZoomIndex); }
  bool CanZoomIn() const { return ZoomIndex <= kMaxZoomIndex - 1; }
  bool CanZoomOut() const { return ZoomIndex >= kMinZoomIndex + 1; }
  bool ZoomIn();
  bool ZoomOut();
  void ResetZoom() { ZoomIndex = 0; }

  bool IsRotated() const { return Angle != 0; }
  void SetAngle(float a) { Angle = a; }
  void Rotate(float delta);
  void SetCentre(float x, float y) {
    CentreX = x;
    CentreY = y;
  }
  // Moves the rotation centre by a window-space drag already divided by the zoom factor.
  void PanRotated(float dx, float dy);
  void SetMargins(int32_t mx, int32_t my) {
    MarginX = mx;
    MarginY = my;
  }
  void SetScroll(int32_t sx, int32_t sy) {
    ScrollX = sx;
    ScrollY = sy;
  }

  // Window position of paper point (0, 0) when not rotated.
  int32_t OriginX() const;
  int32_t OriginY() const;

  void WindowToPaper(int32_t clientWidth, int32_t clientHeight, TPoint& p) const;
  void PaperToWindow(int32_t clientWidth, int32_t clientHeight, TPoint& p) const;
  // Paper point at the window centre.
  void CentrePoint(int32_t clientWidth, int32_t clientHeight, int32_t& x, int32_t& y) const;

  // Sizes the window's client area to the paper at the current zoom plus 80 pixels each way.
  void FitWindow(int32_t paperWidth, int32_t paperHeight, TDisplayForm& form) const;
  // Places and sets up both bars, derives margins and scroll offsets from their positions and
  // fills the grey bands around the paper. While rotated it only hides the bars.
  void UpdateScrollBars(TDisplayForm& form, int32_t paperWidth, TDisplayScrollBar& hbar, TDisplayScrollBar& vbar,
                        int32_t paperHeight);
  static void FillBackground(TDisplayForm& form, int32_t x, int32_t y, int32_t w, int32_t h);

  // Slack on each side of both axes: half the full-screen width, as the bars' range uses it.
  static int32_t ScrollSlack();

 private:
  // Steps 5-7 of the bar update for one axis; returns the margin and scroll offset.
  void UpdateAxis(TDisplayForm& form, TDisplayScrollBar& bar, int32_t paper, int32_t client, int32_t slack,
                  bool horizontal, int32_t& margin, int32_t& scroll) const;
};
