#include "platform/qt/ApplicationHint.h"

#include <QCoreApplication>
#include <QStatusTipEvent>
#include <QWidget>

namespace plat {

namespace {
QString HintOf(const QWidget* w) {
  for (; w; w = w->parentWidget()) {
    if (!w->toolTip().isEmpty()) return w->toolTip();
    if (w->isWindow()) break;
  }
  return {};
}
}  // namespace

TApplicationHint::TApplicationHint(std::function<void(const QString&)> onHint, QObject* parent)
    : QObject(parent), onHint_(std::move(onHint)) {
  if (auto* app = QCoreApplication::instance()) app->installEventFilter(this);
}

void TApplicationHint::Set(const QString& hint) {
  if (hint == hint_) return;
  hint_ = hint;
  if (onHint_) onHint_(hint_);
}

bool TApplicationHint::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::StatusTip:
      // A menu item pointed at (or left): its hint is the application's, shown by the handler
      // alone, not by whichever main window the menu belongs to.
      Set(static_cast<QStatusTipEvent*>(event)->tip());
      return true;
    case QEvent::Enter:
      if (watched->isWidgetType()) {
        hovered_ = static_cast<QWidget*>(watched);
        Set(HintOf(hovered_));
      }
      break;
    case QEvent::Leave:
      if (watched->isWidgetType() && watched == hovered_.data()) {
        // Back over the parent, which gets no enter of its own; out of the window, over nothing.
        QWidget* w = hovered_;
        hovered_ = w->isWindow() ? nullptr : w->parentWidget();
        Set(HintOf(hovered_));
      }
      break;
    case QEvent::ToolTipChange:
      // A control that changes its hint under the mouse (by the part pointed at).
      if (watched->isWidgetType() && hovered_ &&
          (watched == hovered_.data() || static_cast<QWidget*>(watched)->isAncestorOf(hovered_)))
        Set(HintOf(hovered_));
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace plat
