#include "painter/MousePaintBox.h"

#include <QMouseEvent>

#include "engine/TrueCnvs.h"

TMousePaintBox::TMousePaintBox(QWidget* parent, const char* name, int x, int y, int w, int h)
    : plat::TBufferedWidget(parent) {
  setObjectName(name);
  setGeometry(x, y, w, h);
  setFocusPolicy(Qt::NoFocus);
}

void TMousePaintBox::Show(const TTC& canvas, int32_t x, int32_t y) {
  shown_ = &canvas;
  const TPixelView dst = Surface();
  CopyPixels(dst, x, y, canvas.Width(), canvas.Height(), canvas.View(), 0, 0);
  Invalidate(x, y, canvas.Width(), canvas.Height());
}

void TMousePaintBox::RepaintBuffer() {
  if (shown_) CopyPixels(BackBuffer().View(), 0, 0, shown_->Width(), shown_->Height(), shown_->View(), 0, 0);
}

namespace {
int32_t X(const QMouseEvent* e) { return static_cast<int32_t>(e->position().x()); }
int32_t Y(const QMouseEvent* e) { return static_cast<int32_t>(e->position().y()); }
}  // namespace

void TMousePaintBox::mousePressEvent(QMouseEvent* e) {
  if (OnMouseDown) OnMouseDown(e->button(), e->modifiers(), X(e), Y(e));
}

void TMousePaintBox::mouseMoveEvent(QMouseEvent* e) {
  if (OnMouseMove) OnMouseMove(e->modifiers(), X(e), Y(e));
}

void TMousePaintBox::mouseReleaseEvent(QMouseEvent* e) {
  if (OnMouseUp) OnMouseUp(e->button(), e->modifiers(), X(e), Y(e));
}

void TMousePaintBox::mouseDoubleClickEvent(QMouseEvent* e) {
  if (OnDblClick) OnDblClick(X(e), Y(e));
  if (OnMouseDown) OnMouseDown(e->button(), e->modifiers(), X(e), Y(e));
}
