#pragma once
// The preview window: the whole paper of the active paper window reduced to fit, with a red
// marker for the part the paper window shows, and dragging in it moves that view. The paper
// keeps the reduced image (PreviewImage) and the display canvas (PreviewCanvas); this window
// sizes them, draws the marker and shows the result in its paint box.
#include <QPoint>
#include <QPointer>
#include <cstdint>
#include <functional>

#include "platform/qt/BackBuffer.h"
#include "platform/qt/ToolWindow.h"

class TDisplay;
class TDrawWindow;
class TTCDC;

// Size and place of the reduced paper in a cw x ch client: the paper's shape kept (a = W / H
// in single precision), each side at least 1, centred. False when the client has no area or
// the paper no size.
struct TPreviewFit {
  int32_t Width = 0, Height = 0, Left = 0, Top = 0;
};
bool FitPreview(int32_t paperWidth, int32_t paperHeight, int32_t clientWidth, int32_t clientHeight,
                TPreviewFit& fit);

// Draws the marker of a view onto the display canvas, whose width stands for paperWidth; cw x
// ch is the paper window's client size. Unrotated: the clamped rectangle of hard lines;
// rotated: the four antialiased edges and a dot on the window's top edge.
void DrawViewMarker(TTCDC& canvas, const TDisplay& view, int32_t paperWidth, int32_t clientWidth,
                    int32_t clientHeight);

constexpr uint32_t kMarkerColour = 0xFFFF0000;

// A paint box whose buffer, when it must be painted anew (after a resize), asks its owner.
class TPreviewPaintBox : public plat::TBufferedWidget {
  Q_OBJECT
 public:
  using plat::TBufferedWidget::TBufferedWidget;
  std::function<void()> OnRepaint;

 protected:
  void RepaintBuffer() override {
    if (OnRepaint) OnRepaint();
  }
};

class TPreviewWindow : public plat::TToolWindow {
  Q_OBJECT
 public:
  explicit TPreviewWindow(QWidget* owner = nullptr);
  ~TPreviewWindow() override;

  TPreviewPaintBox* PaintBox1 = nullptr;

  // The left button went down in the preview and was not released.
  bool Dragging = false;
  // Screen cursor at the last drag step.
  QPoint DragCursor;
  // The reduced image must be sized and rendered anew.
  bool NeedsFit = true;
  // The paper window last shown (kept by the update step); none once it is gone.
  QPointer<TDrawWindow> ShownChild;

  // Fits when needed and draws the preview with its marker; nothing without an active paper.
  void DrawPreview();
  // One update tick: moves the view while dragging.
  void TrackDrag();
  // No paper shown: the paint box in the button colour.
  void ClearView();
  void SetDefaultPosition();

 public slots:
  void FormResize();
  void PaintBox1MouseDown(Qt::MouseButton button);
  void PaintBox1MouseUp();
  void FormKeyUp(int key);

 protected:
  void resizeEvent(QResizeEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The active paper window when its paper has layers, else none.
  static TDrawWindow* ActivePaper();
  bool Fit(TDrawWindow& window);
  void ShowCanvas();
};

extern TPreviewWindow* PreviewWindow;
