#include "painter/WinTab32.h"

#include <QCoreApplication>
#include <QInputDevice>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QTabletEvent>
#include <QWidget>

namespace {

bool IsPenDevice(const QInputDevice* d) {
  if (!d) return false;
  const QInputDevice::DeviceType t = d->type();
  if (t == QInputDevice::DeviceType::Stylus || t == QInputDevice::DeviceType::Airbrush) return true;
  const auto* pd = qobject_cast<const QPointingDevice*>(d);
  return pd && (pd->pointerType() == QPointingDevice::PointerType::Pen ||
                pd->pointerType() == QPointingDevice::PointerType::Eraser);
}

}  // namespace

class TWinTab32::TFilter : public QObject {
 public:
  explicit TFilter(TWinTab32* owner) : owner_(owner) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    switch (e->type()) {
      case QEvent::TabletPress:
      case QEvent::TabletMove:
      case QEvent::TabletRelease:
        // The same event is offered again to the widget under the pen and its parents;
        // only the delivery to the top-level window counts.
        if (watched->isWindowType()) owner_->Deliver(e);
        break;
      case QEvent::TabletEnterProximity:
      case QEvent::TabletLeaveProximity:
        if (watched == QCoreApplication::instance()) owner_->Deliver(e);
        break;
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove:
        owner_->NoteMouse(e);
        break;
      default:
        break;
    }
    return false;  // never taken: the toolkit still makes its mouse events from the pen
  }

 private:
  TWinTab32* owner_;
};

TWinTab32::TWinTab32() {
  for (const QInputDevice* d : QInputDevice::devices()) {
    if (IsPenDevice(d)) available_ = true;
  }
}

TWinTab32::~TWinTab32() { CloseContext(); }

bool TWinTab32::OpenContext(QWidget* window, int32_t, int32_t, int32_t, int32_t) {
  if (!available_ || !QCoreApplication::instance()) return false;
  window_ = window;
  if (!filter_) {
    filter_ = new TFilter(this);
    QCoreApplication::instance()->installEventFilter(filter_);
  }
  return true;
}

void TWinTab32::CloseContext() {
  if (filter_) {
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeEventFilter(filter_);
    delete filter_;
    filter_ = nullptr;
  }
  inProximity_ = false;
  mouseFromPen_ = false;
}

bool TWinTab32::Deliver(QEvent* event) { return Receiver ? Receiver(event) : HandleMessage(event); }

void TWinTab32::NoteMouse(QEvent* event) {
  const auto* m = static_cast<QMouseEvent*>(event);
  mouseFromPen_ = IsPenDevice(m->device());
}

bool TWinTab32::HandleMessage(QEvent* event) {
  switch (event->type()) {
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease: {
      const auto* t = static_cast<QTabletEvent*>(event);
      const QPointF g = t->globalPosition();
      x_ = static_cast<float>(g.x());
      y_ = static_cast<float>(g.y());
      pressure_ = event->type() == QEvent::TabletRelease ? 0.0f : static_cast<float>(t->pressure());
      if (!(pressure_ >= 0.0f)) pressure_ = 0.0f;  // NaN or negative: no touch
      if (pressure_ > 1.0f) pressure_ = 1.0f;
      altitude_ = t->pointerType() == QPointingDevice::PointerType::Eraser ? -1.0f : 1.0f;
      return true;
    }
    case QEvent::TabletEnterProximity:
      inProximity_ = true;
      proximitySeen_ = true;
      return false;
    case QEvent::TabletLeaveProximity:
      inProximity_ = false;
      proximitySeen_ = true;
      return false;
    default:
      return false;
  }
}
