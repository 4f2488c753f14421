#include "platform/qt/Placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace plat {
namespace {

bool FixedSize(const QWidget* w) { return w->minimumSize() == w->maximumSize(); }

// The frames seen so far, for fixed-size and for sizeable windows.
QMargins& Learnt(bool fixed) {
  static QMargins frames[2];
  return frames[fixed ? 1 : 0];
}

}  // namespace

QRect WorkArea() {
  const QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->availableGeometry() : QRect(0, 0, 1024, 768);
}

bool FrameKnown(const QWidget* w) {
  const QWindow* h = w ? w->windowHandle() : nullptr;
  return h && w->isVisible() && !h->frameMargins().isNull();
}

QMargins FrameMargins(const QWidget* w) {
  if (FrameKnown(w)) {
    const QMargins m = w->windowHandle()->frameMargins();
    // A maximised window loses its borders; it tells nothing about other windows' frames.
    if (!(w->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) Learnt(FixedSize(w)) = m;
    return m;
  }
  return Learnt(FixedSize(w));
}

void ForgetFrames() { Learnt(false) = Learnt(true) = QMargins(); }

QSize OuterSize(const QWidget* w) {
  const QMargins m = FrameMargins(w);
  return w->size().grownBy(m);
}

namespace {

// A window that exists on the display but has no frame yet is placed by its client area; the
// frame then goes round it. Before it exists, and once framed, its position is its frame's.
QPoint UnframedOffset(const QWidget* w) {
  if (!w->testAttribute(Qt::WA_WState_Created) || w->geometry().topLeft() != w->pos()) return {};
  const QMargins m = FrameMargins(w);
  return {m.left(), m.top()};
}

void MoveFrameTo(QWidget* w, QPoint p) {
  const QPoint at = p + UnframedOffset(w);
  if (at != w->pos()) w->move(at);
}

}  // namespace

QRect OuterRect(const QWidget* w) { return QRect(w->pos() - UnframedOffset(w), OuterSize(w)); }

void KeepOnScreen(QWidget* w) {
  const QRect area = WorkArea(), outer = OuterRect(w);
  int x = std::min(outer.x(), area.right() + 1 - outer.width());
  int y = std::min(outer.y(), area.bottom() + 1 - outer.height());
  x = std::max(x, area.left());
  y = std::max(y, area.top());
  MoveFrameTo(w, {x, y});
}

void CentreOnScreen(QWidget* w) { CentreOver(w, nullptr); }

void CentreOver(QWidget* w, const QWidget* over) {
  const QRect target = over && over->isVisible() ? OuterRect(over->window()) : WorkArea();
  const QSize outer = OuterSize(w);
  MoveFrameTo(w, {target.x() + target.width() / 2 - outer.width() / 2, target.y() + target.height() / 2 - outer.height() / 2});
  KeepOnScreen(w);
}

void OpenAboveToolWindows(QWidget* dialog) { dialog->setWindowFlag(Qt::WindowStaysOnTopHint, true); }

}  // namespace plat
