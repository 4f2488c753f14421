#pragma once
// The tablet binding: pen position, pressure, proximity and the eraser end, fed from the
// window system's tablet events. Without a tablet the painter works with the mouse alone.
#include <cstdint>

class QEvent;
class QWidget;

class TWinTab32 {
 public:
  TWinTab32();
  ~TWinTab32();
  TWinTab32(const TWinTab32&) = delete;
  TWinTab32& operator=(const TWinTab32&) = delete;

  // A tablet driver is present.
  bool Available() const { return available_; }
  bool InProximity() const { return inProximity_; }
  // Screen pixels, pressure 0..1 and altitude (negative for the eraser end) of the last packet.
  int32_t X() const { return x_; }
  int32_t Y() const { return y_; }
  float Pressure() const { return pressure_; }
  float Altitude() const { return altitude_; }

  bool OpenContext(QWidget* window, int32_t x, int32_t y, int32_t width, int32_t height);
  void CloseContext();
  // A tablet event of the application; true when it was a packet.
  bool HandleMessage(QEvent* event);

 private:
  bool available_ = false;
  bool inProximity_ = false;
  bool open_ = false;
  int32_t x_ = 0, y_ = 0;
  float pressure_ = 0, altitude_ = 1;
};
