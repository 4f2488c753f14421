#pragma once
// The pictures the brush and layer windows are drawn from, painted by the program at their
// sizes. Pure blue (0x0000FF) marks the transparent pixels of the slider, knob and tab
// pictures and appears nowhere else.
#include <functional>

#include "engine/TrueCnvs.h"

class QColor;
class QPainter;

// Paints a w x h picture on a ground colour and stores it, opaque, in the canvas.
void PaintPicture(TTCDC& dst, int w, int h, const QColor& ground, bool smooth,
                  const std::function<void(QPainter&)>& draw);

struct TPenArt {
  TPenArt();
  TTCDC Background{200, 128};
  TTCDC Icons[4];  // pen, watercolour, blur, eraser; 32 x 32
  TTCDC Save{18, 18};
  TTCDC SizeBar{100, 13};
  TTCDC SizeBar2{70, 13};
  TTCDC Knob{9, 8};
  TTCDC SizeBG{84, 84};
  TTCDC TabOn{26, 13};
  TTCDC TabOff{24, 13};
  TTCDC SizeOn{25, 13}, SizeOff{25, 13};
  TTCDC TransOn{25, 13}, TransOff{25, 13};
  TTCDC EdgeOn{25, 13}, EdgeOff{25, 13};
};

// The layer window's icons, 25 x 50 each: eye open, eye closed, then kinds 0..3
// (multiply, add, subtract, ARGB).
void PaintLayerIcons(TTCDC (&icons)[6]);
