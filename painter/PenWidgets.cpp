#include "painter/PenWidgets.h"

namespace {
void CopyPicture(TTCDC& dst, const TTC& src) { dst.CopyFromDC(src.View(), src.Width(), src.Height()); }
constexpr uint8_t kDisabledOpacity = 96;
}  // namespace

TOnOffClickImage::TOnOffClickImage(const TTC& on, const TTC& off, int32_t x, int32_t y) : X(x), Y(y) {
  CopyPicture(OnImage, on);
  CopyPicture(OffImage, off);
}

void TOnOffClickImage::Draw(TTC& surface, bool on) const {
  (on ? OnImage : OffImage).CompositeTo(surface, X, Y, kPictureKey, 255);
}

void TOnOffClickImage::DrawDisabled(TTC& surface) const {
  OffImage.CompositeTo(surface, X, Y, kPictureKey, kDisabledOpacity);
}

bool TOnOffClickImage::Hit(int32_t x, int32_t y) const {
  return x >= X && x <= X + OnImage.Width() - 1 && y >= Y && y <= Y + OnImage.Height() - 1;
}

TMyBarImage::TMyBarImage(const TTC& bar, const TTC& knob, int32_t x, int32_t y, int32_t inset, int32_t knobY)
    : X(x), Y(y), Inset(inset), KnobY(knobY) {
  CopyPicture(Bar, bar);
  CopyPicture(Knob, knob);
}

void TMyBarImage::Draw(TTCDC& surface, int32_t v, uint8_t alpha, uint32_t colour) const {
  surface.BlendFillRect(X + Inset, Y, v, Bar.Height(), colour, alpha);
  Knob.CompositeTo(surface, X + Inset + v - Knob.Width() / 2, Y + KnobY, kPictureKey, 255);
  Bar.CompositeTo(surface, X, Y, kPictureKey, 255);
}

void TMyBarImage::DrawDisabled(TTC& surface) const { Bar.CompositeTo(surface, X, Y, kPictureKey, kDisabledOpacity); }

bool TMyBarImage::Hit(int32_t x, int32_t y) const { return x >= X && x < X + Bar.Width() && InsideRows(y); }

bool TMyBarImage::ValueAt(int32_t x, int32_t& v) const {
  if (x < X + Inset || x > X + Bar.Width() - Inset) return false;
  v = x - X - Inset;
  return true;
}

bool TMyBarImage::HitDecrement(int32_t x, int32_t y) const { return x >= X && x < X + Inset && InsideRows(y); }

bool TMyBarImage::HitIncrement(int32_t x, int32_t y) const {
  return x >= X + Bar.Width() - Inset && x < X + Bar.Width() && InsideRows(y);
}
