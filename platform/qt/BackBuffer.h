#pragma once
// The back buffer of a window that the engine paints into "through its device context":
// a QImage of the client size in Format_RGB32 (the alpha byte is ignored on screen). The
// engine draws into it at any moment and asks for an update; paintEvent only copies it out.
#include <QImage>
#include <QWidget>
#include <cstdint>

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

  // Solid fill of a rectangle (clipped); colour 0x00RRGGBB, the alpha byte is ignored.
  void FillRect(int x, int y, int w, int h, uint32_t colour);
  // Copies a w x h block of 32-bit pixels (rows `stride` bytes apart, row 0 on top) from
  // (sx, sy) of the source to (dx, dy); both sides are clipped, as a bit-block transfer is.
  void Blit(int dx, int dy, int w, int h, const uint8_t* src, int srcW, int srcH, int stride, int sx, int sy);
  // Enlarges or reduces a sw x sh source block onto dw x dh pixels at (dx, dy) by nearest
  // neighbour in integer arithmetic: destination column i takes source column sx + i*sw/dw.
  void StretchBlit(int dx, int dy, int dw, int dh, const uint8_t* src, int srcW, int srcH, int stride, int sx,
                   int sy, int sw, int sh);

 private:
  QImage image_{1, 1, QImage::Format_RGB32};
};

// A widget whose client area shows its back buffer. The buffer follows the widget's size;
// the owner paints into it and calls Invalidate for what changed. Updates asked for while
// the buffer is being painted out are dropped (they would only repaint the same pixels).
class TBufferedWidget : public QWidget {
  Q_OBJECT
 public:
  explicit TBufferedWidget(QWidget* parent = nullptr, Qt::WindowFlags f = {});
  TBackBuffer& BackBuffer() { return buffer_; }
  void Invalidate();
  void Invalidate(int x, int y, int w, int h);
  // True from a resize until the next Repaint request has been served: the buffer's
  // content no longer matches the window and the owner must draw it again.
  bool BufferStale() const { return stale_; }

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
