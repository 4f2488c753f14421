#pragma once
// The brush window's two drawn widgets: an on/off picture and a slider. Both draw onto the
// window's back buffer and hit-test points of its client area. Pure blue (0x0000FF) is the
// transparent colour of their pictures.
#include <cstdint>

#include "engine/TrueCnvs.h"

constexpr uint32_t kPictureKey = 0x0000FF;

class TOnOffClickImage {
 public:
  TOnOffClickImage(const TTC& on, const TTC& off, int32_t x, int32_t y);
  TOnOffClickImage(const TOnOffClickImage&) = delete;
  TOnOffClickImage& operator=(const TOnOffClickImage&) = delete;

  TTCDC OnImage;
  TTCDC OffImage;
  int32_t X, Y;

  void Draw(TTC& surface, bool on) const;
  void DrawDisabled(TTC& surface) const;
  bool Hit(int32_t x, int32_t y) const;
};

class TMyBarImage {
 public:
  TMyBarImage(const TTC& bar, const TTC& knob, int32_t x, int32_t y, int32_t inset = 10, int32_t knobY = 2);
  TMyBarImage(const TMyBarImage&) = delete;
  TMyBarImage& operator=(const TMyBarImage&) = delete;

  TTCDC Bar;
  TTCDC Knob;
  int32_t X, Y;
  int32_t Inset;  // width of the arrow zone at each end
  int32_t KnobY;  // vertical offset of the knob

  // Value area from X + Inset to X + bar width - Inset: v pixels filled with the colour at the
  // alpha, the knob at v, the frame on top.
  void Draw(TTCDC& surface, int32_t v, uint8_t alpha, uint32_t colour) const;
  void DrawDisabled(TTC& surface) const;
  bool Hit(int32_t x, int32_t y) const;
  // False outside the value area; else the position v.
  bool ValueAt(int32_t x, int32_t& v) const;
  bool HitDecrement(int32_t x, int32_t y) const;
  bool HitIncrement(int32_t x, int32_t y) const;

 private:
  bool InsideRows(int32_t y) const { return y >= Y && y < Y + Bar.Height(); }
};
