#include "platform/qt/Placement.h"

#include <QAbstractSpinBox>
#include <QEvent>
#include <QWindowStateChangeEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
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

void PlaceBeside(QWidget* w, const QWidget* anchor, bool left) {
  const QRect area = WorkArea(), a = OuterRect(anchor);
  const QSize outer = OuterSize(w);
  const int leftX = a.left() - outer.width(), rightX = a.right() + 1;
  auto fits = [&](int x) { return x >= area.left() && x + outer.width() <= area.right() + 1; };
  int x = left ? leftX : rightX;
  if (!fits(x) && fits(left ? rightX : leftX)) x = left ? rightX : leftX;
  MoveFrameTo(w, {x, a.top()});
  KeepOnScreen(w);
}

void OpenAboveToolWindows(QWidget* dialog) { dialog->setWindowFlag(Qt::WindowStaysOnTopHint, true); }

namespace {

constexpr char kRestoreState[] = "vellRestoreState";

// Keeps, on each watched window, the state it left when it was minimised.
class TRestoreWatch : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::WindowStateChange) {
      auto* w = static_cast<QWidget*>(o);
      const auto* c = static_cast<QWindowStateChangeEvent*>(e);
      if ((w->windowState() & Qt::WindowMinimized) && !(c->oldState() & Qt::WindowMinimized))
        w->setProperty(kRestoreState, int(c->oldState() & (Qt::WindowMaximized | Qt::WindowFullScreen)));
    }
    return false;
  }
};

}  // namespace

void RememberRestoreState(QWidget* w) {
  static TRestoreWatch* watch = new TRestoreWatch(qApp);
  if (w) w->installEventFilter(watch);
}

void RestoreMinimised(QWidget* w) {
  if (!w || !w->isMinimized()) return;
  const QVariant saved = w->property(kRestoreState);
  // Without a remembered state, what the window system kept besides the minimise.
  const Qt::WindowStates before = saved.isValid() ? Qt::WindowStates(saved.toInt())
                                                  : w->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen);
  if (before & Qt::WindowFullScreen) w->showFullScreen();
  else if (before & Qt::WindowMaximized) w->showMaximized();
  else w->showNormal();
}

namespace {

void Activate(QWidget* w, QWidget* focus) {
  w->raise();
  w->activateWindow();
  if (focus) {
    focus->setFocus(Qt::ActiveWindowFocusReason);
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(focus)) spin->selectAll();
    if (auto* edit = qobject_cast<QLineEdit*>(focus)) edit->selectAll();
  }
}

// Activates its window once the window system has shown it, then goes.
class TActivateOnExpose : public QObject {
 public:
  TActivateOnExpose(QWidget* w, QWidget* focus) : QObject(w), w_(w), focus_(focus) {}
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Expose && w_ && w_->windowHandle() && w_->windowHandle()->isExposed()) {
      Activate(w_, focus_);
      deleteLater();
    }
    return false;
  }

 private:
  QPointer<QWidget> w_, focus_;
};

}  // namespace

void ShowActive(QWidget* w, QWidget* focus) {
  if (!w) return;
  w->show();
  if (w->windowHandle() && !w->windowHandle()->isExposed()) {
    auto* later = new TActivateOnExpose(w, focus);
    w->windowHandle()->installEventFilter(later);
  }
  Activate(w, focus);
}

void StartDialog(QPushButton* ok, QWidget* first) {
  if (ok) {
    // Whichever button had the focus last time became the default for that while.
    if (QWidget* dialog = ok->window())
      for (QPushButton* b : dialog->findChildren<QPushButton*>())
        if (b != ok) b->setDefault(false);
    ok->setDefault(true);
  }
  if (first) {
    first->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(first)) edit->selectAll();
  }
}

}  // namespace plat
