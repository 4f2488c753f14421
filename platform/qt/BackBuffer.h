#pragma once
// The back buffer of a window that the engine paints into "through its device context":
// a QImage of the client size in Format_RGB32 (the alpha byte is ignored on screen). The
// engine draws into it at any moment and reports what changed; paintEvent only copies it out.
#include <QImage>
#include <QSize>
#include <QWidget>
#include <cstdint>

#include "engine/Display.h"
#include "engine/TrueCnvs.h"

namespace plat {

class TBackBuffer {
 public:
  TBackBuffer() = default;
  // Resizes to w x h (at least 1 x 1), keeping the pixels that still fit; new pixels are
  // black. Returns true when the size changed.
  bool Resize(int w, int h);
  int Width() const { return image_.width(); }
  int Height() const { return image_.height(); }
  QImage& Image() { return image_; }
  const QImage& Image() const { return image_; }
  // The pixels as the engine's canvases address them (rows top first).
  TPixelView View();

  // Solid fill of a rectangle (clipped); colour 0x00RRGGBB, the alpha byte is ignored.
  void FillRect(int x, int y, int w, int h, uint32_t colour);

 private:
  QImage image_{1, 1, QImage::Format_RGB32};
};

// A widget whose client area shows its back buffer: the surface the engine paints a view
// into, and the form whose client size the view fits. The buffer follows the widget's size.
// Updates asked for while the buffer is being painted out are dropped (they would only
// repaint the same pixels).
class TBufferedWidget : public QWidget, public TPaintTarget, public TDisplayForm {
  Q_OBJECT
 public:
  explicit TBufferedWidget(QWidget* parent = nullptr, Qt::WindowFlags f = {});
  TBackBuffer& BackBuffer() { return buffer_; }
  void Invalidate();
  void Invalidate(int x, int y, int w, int h);
  // True from a resize until the buffer has been drawn again for the next paint.
  bool BufferStale() const { return stale_; }

  // TPaintTarget
  TPixelView Surface() override;
  void SurfaceChanged(const TRect& r) override;
  // TDisplayForm
  int32_t ClientWidth() const override;
  int32_t ClientHeight() const override;
  void SetClientSize(int32_t width, int32_t height) override;
  void FillRect(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour) override;

 protected:
  // Called from paintEvent while the buffer is stale, before it is copied to the screen.
  virtual void RepaintBuffer() {}
  // Overlays drawn on top of the buffer (cursors, outlines); nothing by default.
  virtual void PaintOverlay(class QPainter&) {}
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  TBackBuffer buffer_;
  bool stale_ = true;
  bool painting_ = false;
};

}  // namespace plat
