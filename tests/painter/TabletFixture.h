#pragma once
// Pen input through the toolkit's window-system interface, as a tablet driver delivers it:
// a stylus and its eraser end registered before the painter starts, tablet events handed to
// the main window's top-level window, the toolkit making mouse events of unaccepted ones (as
// it does on X11). Needs Qt's private headers; without them PenAvailable() is false.
#if __has_include(<qpa/qwindowsysteminterface.h>) && __has_include(<qpa/qwindowsysteminterface_p.h>)
#define VELL_HAVE_PEN_INPUT 1
#include <qpa/qwindowsysteminterface.h>
#include <qpa/qwindowsysteminterface_p.h>
#endif
#include <QPointingDevice>
#include <QWindow>

#include "tests/painter/StrokeFixture.h"

class TabletFixture : public StrokeFixture {
 protected:
  static bool PenAvailable() {
#ifdef VELL_HAVE_PEN_INPUT
    return true;
#else
    return false;
#endif
  }

  static inline bool registered_ = false;

  // Whether a test of this fixture needs the pen; without it, it runs with the mouse alone.
  bool NeedsPen = true;

  void SetUp() override {
    if (NeedsPen && !PenAvailable()) GTEST_SKIP() << "Qt's private headers are missing: no pen events can be fed";
    RegisterPens();
    if (!PenAvailable()) {
      StrokeFixture::SetUp();
      return;
    }
    StrokeFixture::SetUp();
    ASSERT_TRUE(VLMain->Tablet->Available());
    ASSERT_TRUE(VLMain->Tablet->Open()) << "activation opens the tablet context";
  }

  void TearDown() override {
#ifdef VELL_HAVE_PEN_INPUT
    // The toolkit keeps a pen that stays down pressed, aimed at this test's window, for the
    // next test of the process: its press would go nowhere. Both ends are lifted.
    if (registered_ && VLMain && VLMain->windowHandle())
      for (QPointingDevice* dev : {Stylus(), Eraser()})
        QWindowSystemInterface::handleTabletEvent(VLMain->windowHandle(), dev, QPointF(), QPointF(), Qt::NoButton,
                                                  0.0, 0, 0, 0.0, 0.0, 0, Qt::NoModifier);
#endif
    StrokeFixture::TearDown();
#ifdef VELL_HAVE_PEN_INPUT
    // Later tests of the same process get the platform's own delivery back (the devices stay
    // listed: the toolkit has no way to take them off).
    QWindowSystemInterface::setSynchronousWindowSystemEvents(false);
    QWindowSystemInterfacePrivate::TabletEvent::setPlatformSynthesizesMouse(true);
    registered_ = false;
#endif
  }

  static QPointingDevice* Stylus() {
    static auto* d = new QPointingDevice("test stylus", 7001, QInputDevice::DeviceType::Stylus,
                                         QPointingDevice::PointerType::Pen,
                                         QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 2,
                                         QString(), QPointingDeviceUniqueId::fromNumericId(7001));
    return d;
  }
  static QPointingDevice* Eraser() {
    static auto* d = new QPointingDevice("test eraser", 7002, QInputDevice::DeviceType::Stylus,
                                         QPointingDevice::PointerType::Eraser,
                                         QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 2,
                                         QString(), QPointingDeviceUniqueId::fromNumericId(7002));
    return d;
  }

  static void RegisterPens() {
#ifdef VELL_HAVE_PEN_INPUT
    static bool listed = false;
    if (!listed) {
      listed = true;
      QWindowSystemInterface::registerInputDevice(Stylus());
      QWindowSystemInterface::registerInputDevice(Eraser());
    }
    registered_ = true;
    QWindowSystemInterface::setSynchronousWindowSystemEvents(true);
    // The offscreen platform leaves mouse events from pens to the platform; X11 leaves them to
    // the toolkit, which makes them of every tablet event nobody accepted.
    QWindowSystemInterfacePrivate::TabletEvent::setPlatformSynthesizesMouse(false);
#endif
  }

  // One tablet report at paper point (x, y) of w: touching when pressure > 0 (or `touch`),
  // hovering otherwise.
  static void Pen(QPointingDevice* dev, TDrawWindow* w, QPointF paper, double pressure, bool touch) {
#ifdef VELL_HAVE_PEN_INPUT
    const QPoint wp = At(w, static_cast<int32_t>(paper.x()), static_cast<int32_t>(paper.y()));
    const QPointF global = QPointF(w->mapToGlobal(wp));
    QWindow* top = VLMain->windowHandle();
    const QPointF local = global - QPointF(top->mapToGlobal(QPoint(0, 0)));
    QWindowSystemInterface::handleTabletEvent(top, dev, local, global, touch ? Qt::LeftButton : Qt::NoButton,
                                              pressure, 0, 0, 0.0, 0.0, 0, Qt::NoModifier);
#endif
  }

  static void Proximity(QPointingDevice* dev, bool in) {
#ifdef VELL_HAVE_PEN_INPUT
    QWindowSystemInterface::handleTabletEnterLeaveProximityEvent(VLMain->windowHandle(), dev, in);
#endif
  }

  // A pen stroke: touch at the first point, move through the rest, lift at the last.
  static void PenStroke(QPointingDevice* dev, TDrawWindow* w, const std::vector<std::pair<QPointF, double>>& points) {
    for (const auto& [p, pressure] : points) Pen(dev, w, p, pressure, true);
    Pen(dev, w, points.back().first, 0.0, false);
  }
};
