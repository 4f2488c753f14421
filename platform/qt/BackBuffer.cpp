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

void TBackBuffer::Blit(int dx, int dy, int w, int h, const uint8_t* src, int srcW, int srcH, int stride, int sx,
                       int sy) {
  if (!src || w <= 0 || h <= 0) return;
  // Clip against the source, then against the destination, moving both origins together.
  auto clip = [](int& d, int& s, int& n, int srcLimit, int dstLimit) {
    if (s < 0) { d -= s; n += s; s = 0; }
    if (d < 0) { s -= d; n += d; d = 0; }
    n = static_cast<int>(std::min<int64_t>({int64_t(n), int64_t(srcLimit) - s, int64_t(dstLimit) - d}));
  };
  clip(dx, sx, w, srcW, image_.width());
  clip(dy, sy, h, srcH, image_.height());
  if (w <= 0 || h <= 0) return;
  for (int row = 0; row < h; ++row) {
    const uint8_t* from = src + static_cast<size_t>(sy + row) * static_cast<size_t>(stride) + static_cast<size_t>(sx) * 4;
    std::memcpy(image_.scanLine(dy + row) + static_cast<size_t>(dx) * 4, from, static_cast<size_t>(w) * 4);
  }
}

void TBackBuffer::StretchBlit(int dx, int dy, int dw, int dh, const uint8_t* src, int srcW, int srcH, int stride,
                              int sx, int sy, int sw, int sh) {
  if (!src || dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0 || srcW <= 0 || srcH <= 0) return;
  const int x0 = std::max(dx, 0), y0 = std::max(dy, 0);
  const int x1 = static_cast<int>(std::min<int64_t>(int64_t(dx) + dw, image_.width()));
  const int y1 = static_cast<int>(std::min<int64_t>(int64_t(dy) + dh, image_.height()));
  for (int y = y0; y < y1; ++y) {
    const int64_t srow = sy + int64_t(y - dy) * sh / dh;
    if (srow < 0 || srow >= srcH) continue;
    const auto* from = reinterpret_cast<const uint32_t*>(src + static_cast<size_t>(srow) * static_cast<size_t>(stride));
    auto* line = reinterpret_cast<uint32_t*>(image_.scanLine(y));
    for (int x = x0; x < x1; ++x) {
      const int64_t scol = sx + int64_t(x - dx) * sw / dw;
      if (scol >= 0 && scol < srcW) line[x] = from[scol];
    }
  }
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
