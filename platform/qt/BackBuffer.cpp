#include "platform/qt/BackBuffer.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cstring>

namespace plat {

bool TBackBuffer::Resize(int w, int h) {
  w = std::max(w, 1);
  h = std::max(h, 1);
  if (w == image_.width() && h == image_.height()) return false;
  QImage next(w, h, QImage::Format_RGB32);
  if (next.isNull()) return false;  // out of memory: keep the old buffer rather than crash
  next.fill(0xFF000000u);
  const int cw = std::min(w, image_.width()), ch = std::min(h, image_.height());
  for (int y = 0; y < ch; ++y)
    std::memcpy(next.scanLine(y), image_.constScanLine(y), static_cast<size_t>(cw) * 4);
  image_ = std::move(next);
  return true;
}

void TBackBuffer::FillRect(int x, int y, int w, int h, uint32_t colour) {
  const int x0 = std::max(x, 0), y0 = std::max(y, 0);
  const int x1 = std::min<int64_t>(int64_t(x) + w, image_.width());
  const int y1 = std::min<int64_t>(int64_t(y) + h, image_.height());
  const uint32_t px = colour | 0xFF000000u;
  for (int row = y0; row < y1; ++row) {
    auto* line = reinterpret_cast<uint32_t*>(image_.scanLine(row));
    std::fill(line + x0, line + std::max(x0, x1), px);
  }
}

TPixelView TBackBuffer::View() {
  TPixelView v;
  v.Bits = image_.bits();
  v.Stride = image_.bytesPerLine();
  v.Width = image_.width();
  v.Height = image_.height();
  return v;
}

TBufferedWidget::TBufferedWidget(QWidget* parent, Qt::WindowFlags f) : QWidget(parent, f) {
  // The buffer covers every pixel: Qt need not clear the background first.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TBufferedWidget::Invalidate() {
  if (!painting_) update();
}

void TBufferedWidget::Invalidate(int x, int y, int w, int h) {
  if (!painting_ && w > 0 && h > 0) update(x, y, w, h);
}

TPixelView TBufferedWidget::Surface() {
  if (buffer_.Width() != ClientWidth() || buffer_.Height() != ClientHeight()) {
    buffer_.Resize(ClientWidth(), ClientHeight());
    stale_ = true;
  }
  return buffer_.View();
}

void TBufferedWidget::SurfaceChanged(const TRect& r) { Invalidate(r.Left, r.Top, r.Width(), r.Height()); }

int32_t TBufferedWidget::ClientWidth() const { return width(); }

int32_t TBufferedWidget::ClientHeight() const { return height(); }

void TBufferedWidget::SetClientSize(int32_t w, int32_t h) {
  w = std::clamp(w, 1, QWIDGETSIZE_MAX);
  h = std::clamp(h, 1, QWIDGETSIZE_MAX);
  // Qt takes the new size at once (and sends the resize event); the window system may
  // still change it later, which arrives as another resize.
  resize(w, h);
}

void TBufferedWidget::FillRect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour) {
  Surface();
  buffer_.FillRect(x, y, w, h, colour);
  Invalidate(x, y, w, h);
}

void TBufferedWidget::resizeEvent(QResizeEvent* e) {
  buffer_.Resize(width(), height());
  stale_ = true;
  QWidget::resizeEvent(e);
}

void TBufferedWidget::paintEvent(QPaintEvent* e) {
  if (buffer_.Width() != width() || buffer_.Height() != height()) {
    buffer_.Resize(width(), height());
    stale_ = true;
  }
  if (stale_) {
    painting_ = true;
    RepaintBuffer();
    painting_ = false;
    stale_ = false;
  }
  QPainter p(this);
  const QRect r = e->rect();
  p.drawImage(r.topLeft(), buffer_.Image(), r);
  PaintOverlay(p);
}

}  // namespace plat
