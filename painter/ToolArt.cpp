#include "painter/ToolArt.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <functional>

namespace {

const QColor kKey(0, 0, 255);

}  // namespace

void PaintPicture(TTCDC& dst, int w, int h, const QColor& ground, bool smooth,
                  const std::function<void(QPainter&)>& draw) {
  QImage image(w, h, QImage::Format_ARGB32);
  image.fill(ground);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, smooth);
    p.setRenderHint(QPainter::TextAntialiasing, smooth);
    draw(p);
  }
  TPixelView v;
  v.Bits = image.bits();
  v.Stride = image.bytesPerLine();
  v.Width = w;
  v.Height = h;
  dst.CopyFromDC(v, w, h);
}

namespace {
void Paint(TTCDC& dst, int w, int h, const QColor& ground, bool smooth, const std::function<void(QPainter&)>& draw) {
  PaintPicture(dst, w, h, ground, smooth, draw);
}

void Label(QPainter& p, const QRect& r, const char* text, const QColor& colour) {
  QFont f = p.font();
  f.setPixelSize(9);
  f.setBold(true);
  p.setFont(f);
  p.setPen(colour);
  p.drawText(r, Qt::AlignCenter, QString::fromLatin1(text));
}

// A slider frame: arrow zones of `inset` pixels at both ends, a transparent value area.
void SliderFrame(TTCDC& dst, int w) {
  Paint(dst, w, 13, kKey, false, [w](QPainter& p) {
    const int inset = 10;
    p.fillRect(0, 0, inset, 13, QColor(200, 200, 196));
    p.fillRect(w - inset, 0, inset, 13, QColor(200, 200, 196));
    p.setPen(QColor(64, 64, 64));
    p.drawRect(0, 0, w - 1, 12);
    p.drawLine(inset - 1, 0, inset - 1, 12);
    p.drawLine(w - inset, 0, w - inset, 12);
    // Minus and plus.
    p.drawLine(2, 6, 6, 6);
    p.drawLine(w - 8, 6, w - 4, 6);
    p.drawLine(w - 6, 4, w - 6, 8);
  });
}

void Toggle(TTCDC& dst, const char* text, bool on) {
  Paint(dst, 25, 13, on ? QColor(255, 236, 160) : QColor(176, 176, 172), true, [text, on](QPainter& p) {
    p.setPen(QColor(72, 72, 72));
    p.drawRect(0, 0, 24, 12);
    Label(p, QRect(0, 0, 25, 13), text, on ? QColor(128, 32, 0) : QColor(96, 96, 96));
  });
}

}  // namespace

TPenArt::TPenArt() {
  Paint(Background, 200, 128, QColor(212, 208, 200), false, [](QPainter& p) {
    p.fillRect(0, 0, 32, 128, QColor(190, 186, 178));
    p.setPen(QColor(160, 156, 150));
    p.drawLine(34, 14, 198, 14);
  });

  const QColor iconGround(236, 234, 228);
  Paint(Icons[0], 32, 32, iconGround, true, [](QPainter& p) {  // pen
    p.setPen(QPen(QColor(40, 40, 40), 3));
    p.drawLine(8, 24, 24, 8);
    p.setPen(QPen(QColor(200, 150, 60), 5));
    p.drawLine(14, 18, 24, 8);
  });
  Paint(Icons[1], 32, 32, iconGround, true, [](QPainter& p) {  // watercolour
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(80, 150, 210, 160));
    p.drawEllipse(QPoint(13, 18), 9, 7);
    p.setBrush(QColor(220, 90, 90, 150));
    p.drawEllipse(QPoint(20, 13), 7, 6);
  });
  Paint(Icons[2], 32, 32, iconGround, true, [](QPainter& p) {  // blur
    QRadialGradient g(QPointF(16, 16), 12);
    g.setColorAt(0, QColor(60, 60, 60));
    g.setColorAt(1, QColor(60, 60, 60, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(QPoint(16, 16), 12, 12);
  });
  Paint(Icons[3], 32, 32, iconGround, true, [](QPainter& p) {  // eraser
    p.setPen(QColor(60, 60, 60));
    p.setBrush(QColor(250, 250, 250));
    p.drawRect(7, 11, 18, 10);
    p.setBrush(QColor(110, 140, 200));
    p.drawRect(7, 11, 6, 10);
  });

  Paint(Save, 18, 18, QColor(212, 208, 200), false, [](QPainter& p) {
    p.fillRect(2, 2, 14, 14, QColor(64, 64, 72));
    p.fillRect(5, 2, 8, 5, QColor(230, 230, 230));
    p.fillRect(4, 10, 10, 6, QColor(250, 250, 250));
    p.setPen(QColor(40, 40, 40));
    p.drawRect(1, 1, 15, 15);
  });

  SliderFrame(SizeBar, 100);
  SliderFrame(SizeBar2, 70);
  Paint(Knob, 9, 8, kKey, false, [](QPainter& p) {
    const QPoint tri[3] = {QPoint(0, 7), QPoint(8, 7), QPoint(4, 0)};
    p.setPen(QColor(24, 24, 24));
    p.setBrush(QColor(250, 250, 240));
    p.drawPolygon(tri, 3);
  });
  Paint(SizeBG, 84, 84, QColor(212, 208, 200), false, [](QPainter& p) {
    p.setPen(QColor(128, 128, 128));
    p.drawRect(0, 0, 83, 83);
    p.setPen(QColor(255, 255, 255));
    p.drawLine(1, 83, 83, 83);
    p.drawLine(83, 1, 83, 83);
  });
  Paint(TabOn, 26, 13, kKey, false, [](QPainter& p) {
    p.setPen(QColor(48, 48, 48));
    p.setBrush(QColor(255, 214, 96));
    p.drawRect(0, 0, 25, 12);
  });
  Paint(TabOff, 24, 13, kKey, false, [](QPainter& p) {
    p.setPen(QColor(96, 96, 96));
    p.setBrush(QColor(184, 180, 172));
    p.drawRect(1, 2, 21, 10);
  });
  Toggle(SizeOn, "SIZE", true);
  Toggle(SizeOff, "SIZE", false);
  Toggle(TransOn, "ALPH", true);
  Toggle(TransOff, "ALPH", false);
  Toggle(EdgeOn, "EDGE", true);
  Toggle(EdgeOff, "EDGE", false);
}

void PaintLayerIcons(TTCDC (&icons)[6]) {
  const QColor ground(200, 200, 196);
  auto eye = [](QPainter& p, bool open) {
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    p.setBrush(open ? QColor(255, 255, 255) : QColor(170, 170, 166));
    QPainterPath lid;
    lid.moveTo(3, 25);
    lid.quadTo(12.5, 15, 22, 25);
    lid.quadTo(12.5, 35, 3, 25);
    p.drawPath(lid);
    if (open) {
      p.setBrush(QColor(30, 30, 30));
      p.drawEllipse(QPointF(12.5, 25), 3, 3);
    } else {
      p.drawLine(QPointF(4, 31), QPointF(21, 19));
    }
  };
  Paint(icons[0], 25, 50, ground, true, [&](QPainter& p) { eye(p, true); });
  Paint(icons[1], 25, 50, ground, true, [&](QPainter& p) { eye(p, false); });
  auto kind = [](QPainter& p, const QColor& face, const char* sign) {
    p.setPen(QColor(50, 50, 50));
    p.setBrush(face);
    p.drawRoundedRect(QRectF(3.5, 16.5, 18, 17), 3, 3);
    QFont f = p.font();
    f.setPixelSize(13);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(20, 20, 20));
    p.drawText(QRect(3, 16, 19, 18), Qt::AlignCenter, QString::fromUtf8(sign));
  };
  Paint(icons[2], 25, 50, ground, true, [&](QPainter& p) { kind(p, QColor(250, 250, 250), "×"); });
  Paint(icons[3], 25, 50, ground, true, [&](QPainter& p) { kind(p, QColor(255, 224, 150), "+"); });
  Paint(icons[4], 25, 50, ground, true, [&](QPainter& p) { kind(p, QColor(160, 200, 240), "−"); });
  Paint(icons[5], 25, 50, ground, true, [&](QPainter& p) { kind(p, QColor(210, 190, 230), "A"); });
}
