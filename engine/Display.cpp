#include "engine/Display.h"

#include <cmath>

#include "platform/core/Screen.h"

namespace {

int32_t Saturate(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

}  // namespace

float TDisplay::ZoomFactor(int32_t index) {
  switch (index) {
    case -2: return 0.25f;
    case -1: return 0.5f;
    case 1: return 1.5f;
    case 2: return 2.0f;
    case 3: return 3.0f;
    case 4: return 4.0f;
    case 5: return 6.0f;
    case 6: return 8.0f;
    default: return 1.0f;
  }
}

int32_t TDisplay::FitSize(int32_t index, int32_t size) {
  int64_t s = size;
  switch (index) {
    case -2: return Saturate(s / 4);
    case -1: return Saturate(s / 2);
    case 1: return Saturate(3 * s / 2);
    case 2: return Saturate(2 * s);
    case 3: return Saturate(3 * s);
    case 4: return Saturate(4 * s);
    case 5: return Saturate(6 * s);
    case 6: return Saturate(8 * s);
    default: return size;
  }
}

bool TDisplay::ZoomIn() {
  if (!CanZoomIn()) return false;
  ++ZoomIndex;
  return true;
}

bool TDisplay::ZoomOut() {
  if (!CanZoomOut()) return false;
  --ZoomIndex;
  return true;
}

void TDisplay::Rotate(float delta) { Angle = static_cast<float>(static_cast<ext_t>(Angle) + delta); }

void TDisplay::PanRotated(float dx, float dy) {
  const ext_t a = Angle;
  CentreX = static_cast<float>(CentreX - (std::cos(a) * dx - std::sin(a) * dy));
  CentreY = static_cast<float>(CentreY - (std::sin(a) * dx + std::cos(a) * dy));
}

int32_t TDisplay::OriginX() const {
  return Saturate(int64_t{MarginX} - TruncInt(static_cast<ext_t>(Zoom()) * ScrollX));
}

int32_t TDisplay::OriginY() const {
  return Saturate(int64_t{MarginY} - TruncInt(static_cast<ext_t>(Zoom()) * ScrollY));
}

void TDisplay::WindowToPaper(int32_t clientWidth, int32_t clientHeight, TPoint& p) const {
  const ext_t z = Zoom();
  if (!IsRotated()) {
    p.X = Saturate(int64_t{TruncInt((static_cast<ext_t>(p.X) - MarginX) / z)} + ScrollX);
    p.Y = Saturate(int64_t{TruncInt((static_cast<ext_t>(p.Y) - MarginY) / z)} + ScrollY);
    return;
  }
  const float u = static_cast<float>((static_cast<ext_t>(p.X) - clientWidth / 2) / z);
  const float v = static_cast<float>((static_cast<ext_t>(p.Y) - clientHeight / 2) / z);
  const ext_t a = Angle;
  p.X = TruncInt(std::cos(a) * u - std::sin(a) * v + CentreX);
  p.Y = TruncInt(std::sin(a) * u + std::cos(a) * v + CentreY);
}

void TDisplay::PaperToWindow(int32_t clientWidth, int32_t clientHeight, TPoint& p) const {
  const ext_t z = Zoom();
  if (!IsRotated()) {
    p.X = Saturate(int64_t{OriginX()} + TruncInt(z * p.X));
    p.Y = Saturate(int64_t{OriginY()} + TruncInt(z * p.Y));
    return;
  }
  const float u = static_cast<float>(z * (static_cast<ext_t>(p.X) - CentreX));
  const float v = static_cast<float>(z * (static_cast<ext_t>(p.Y) - CentreY));
  const ext_t a = -Angle;
  p.X = Saturate(int64_t{clientWidth / 2} + TruncInt(std::cos(a) * u - std::sin(a) * v));
  p.Y = Saturate(int64_t{clientHeight / 2} + TruncInt(std::sin(a) * u + std::cos(a) * v));
}

void TDisplay::CentrePoint(int32_t clientWidth, int32_t clientHeight, int32_t& x, int32_t& y) const {
  if (IsRotated()) {
    x = TruncInt(CentreX);
    y = TruncInt(CentreY);
    return;
  }
  const ext_t z = Zoom();
  const int32_t hw = clientWidth / 2;
  const int32_t hh = clientHeight / 2;
  x = ScrollX > 0 ? TruncInt(hw / z + ScrollX) : TruncInt(hw / z - MarginX / z);
  y = ScrollY > 0 ? TruncInt(hh / z + ScrollY) : TruncInt(hh / z - MarginY / z);
}

void TDisplay::FitWindow(int32_t paperWidth, int32_t paperHeight, TDisplayForm& form) const {
  form.SetClientSize(Saturate(int64_t{FitSize(ZoomIndex, paperWidth)} + 80),
                     Saturate(int64_t{FitSize(ZoomIndex, paperHeight)} + 80));
}

int32_t TDisplay::ScrollSlack() { return plat::FullScreenWidth() / 2; }

void TDisplay::FillBackground(TDisplayForm& form, int32_t x, int32_t y, int32_t w, int32_t h) {
  form.FillRect(x, y, w, h, kViewBackground);
}

void TDisplay::UpdateAxis(TDisplayForm& form, TDisplayScrollBar& bar, int32_t paper, int32_t client,
                          int32_t slack, bool horizontal, int32_t& margin, int32_t& scroll) const {
  const ext_t z = Zoom();
  const int64_t max = int64_t{TruncInt(paper * z)} + 2 * int64_t{slack};
  int64_t pos = bar.Position();
  // The paper's far edge never scrolls past the window's; a bar has no negative positions.
  if (max - client < pos) pos = max - client;
  if (pos < 0) pos = 0;
  if (pos != bar.Position()) bar.SetPosition(Saturate(pos));

  const int32_t cw = form.ClientWidth();
  const int32_t ch = form.ClientHeight();
  margin = 0;
  scroll = TruncInt((static_cast<ext_t>(pos) - slack) / z);
  if (pos < slack) {
    margin = Saturate(slack - pos);
    scroll = 0;
    if (horizontal) FillBackground(form, 0, 0, margin, ch);
    else FillBackground(form, 0, 0, cw, margin);
  }
  if (client + pos + slack >= max) {
    const int32_t edge = Saturate(max - pos - slack);
    if (horizontal) FillBackground(form, edge, 0, cw, ch);
    else FillBackground(form, 0, edge, cw, ch);
  }
}

void TDisplay::UpdateScrollBars(TDisplayForm& form, int32_t paperWidth, TDisplayScrollBar& hbar,
                                TDisplayScrollBar& vbar, int32_t paperHeight) {
  if (IsRotated()) {
    hbar.SetVisible(false);
    vbar.SetVisible(false);
    return;
  }
  hbar.SetVisible(true);
  vbar.SetVisible(true);

  const ext_t z = Zoom();
  const int32_t slack = ScrollSlack();
  const int32_t cw = form.ClientWidth();
  const int32_t ch = form.ClientHeight();

  hbar.SetTop(ch - hbar.Thickness());
  hbar.SetWidth(cw - 16);
  hbar.SetLargeChange(TruncInt((static_cast<ext_t>(cw) - 16) / z));
  hbar.SetMax(Saturate(int64_t{TruncInt(paperWidth * z)} + 2 * int64_t{slack}));
  hbar.SetPage(cw);
  hbar.SetSmallChange(TruncInt(10 * z));

  vbar.SetLeft(cw - vbar.Thickness());
  vbar.SetHeight(ch - 16);
  vbar.SetLargeChange(TruncInt((static_cast<ext_t>(ch) - 16) / z));
  vbar.SetMax(Saturate(int64_t{TruncInt(paperHeight * z)} + 2 * int64_t{slack}));
  vbar.SetPage(ch);
  vbar.SetSmallChange(TruncInt(10 * z));

  UpdateAxis(form, hbar, paperWidth, cw, slack, true, MarginX, ScrollX);
  UpdateAxis(form, vbar, paperHeight, ch, slack, false, MarginY, ScrollY);
}
