#pragma once
// The tablet binding: pen position, pressure, proximity and the eraser end, fed from the
// window system's tablet events. Without a tablet the painter works with the mouse alone.
//
// While a context is open, an application-wide event filter hands every tablet event (taken
// once, where it reaches its top-level window) and every proximity change to the receiver,
// the main window's message hook. It never accepts them, so the toolkit still turns the pen's
// touches into the mouse presses and releases that the paper windows track.
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>

class QEvent;
class QWidget;

class TWinTab32 {
 public:
  TWinTab32();
  ~TWinTab32();
  TWinTab32(const TWinTab32&) = delete;
  TWinTab32& operator=(const TWinTab32&) = delete;

  // A stylus or eraser was listed when the binding was created.
  bool Available() const { return available_; }
  bool InProximity() const { return inProximity_; }
  // A proximity event has been seen since the binding was created: the platform reports them.
  bool ReportsProximity() const { return proximitySeen_; }
  // Screen pixels of the last packet.
  float X() const { return x_; }
  float Y() const { return y_; }
  // Pressure 0..1 of the last packet (a release is 0).
  float Pressure() const { return pressure_; }
  // -1 when the last packet came from the eraser end, else 1.
  float Altitude() const { return altitude_; }
  // A context is open.
  bool Open() const { return filter_ != nullptr; }
  // The mouse event being delivered now was made by the toolkit from a pen's touch.
  bool MouseFromPen() const { return mouseFromPen_; }

  // Starts taking tablet events for the window. The four correction values are taken and
  // change nothing. False without a tablet.
  bool OpenContext(QWidget* window, int32_t x, int32_t y, int32_t width, int32_t height);
  void CloseContext();
  // Reads a tablet event: true when it was a packet (press, move or release); proximity
  // changes update InProximity and give false, as does every other event.
  bool HandleMessage(QEvent* event);

  // What the filter hands each tablet event to; HandleMessage when unset.
  std::function<bool(QEvent*)> Receiver;

 private:
  class TFilter;
  bool Deliver(QEvent* event);
  void NoteMouse(QEvent* event);

  bool available_ = false;
  QPointer<QWidget> window_;
  TFilter* filter_ = nullptr;
  float x_ = 0, y_ = 0;
  float pressure_ = 0;
  float altitude_ = 1;
  bool inProximity_ = false;
  bool proximitySeen_ = false;
  bool mouseFromPen_ = false;
};
