#include "painter/ToolsWin.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "engine/Paper.h"
#include "painter/DrawWin.h"
#include "painter/Main.h"
#include "painter/PreviewWin.h"
#include "platform/core/KeyState.h"
#include "platform/qt/KeyTracker.h"
#include "platform/qt/Placement.h"

TToolsWindow* ToolsWindow = nullptr;

namespace {

// Centre of the icon of a cell: column 0 or 1, row 0..5.
QPointF CellCentre(int column, int row) { return QPointF(column == 0 ? 16.0 : 47.0, 13.0 + 25.0 * row); }

void DrawMagnifier(QPainter& p, QPointF c, bool plus) {
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(c + QPointF(-2, -2), 6.5, 6.5);
  p.drawLine(c + QPointF(2.5, 2.5), c + QPointF(8, 8));
  p.drawLine(c + QPointF(-5.5, -2), c + QPointF(1.5, -2));
  if (plus) p.drawLine(c + QPointF(-2, -5.5), c + QPointF(-2, 1.5));
}

}  // namespace

QImage TToolsWindow::ToolBoxPicture() {
  QImage img(kToolBoxWidth, kToolBoxHeight, QImage::Format_RGB32);
  img.fill(QColor(0xD4, 0xD0, 0xC8));
  QPainter p(&img);
  // Cell faces.
  for (int row = 0; row < 6; ++row)
    for (int column = 0; column < 2; ++column) {
      const QRect cell(column == 0 ? 1 : 32, 1 + 25 * row, 30, 24);
      p.fillRect(cell, QColor(0xF4, 0xF2, 0xEC));
      p.setPen(QColor(0x90, 0x8C, 0x84));
      p.drawRect(cell.adjusted(0, 0, -1, -1));
    }
  p.setRenderHint(QPainter::Antialiasing);
  QPen pen(Qt::black, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  // Row 1: pen, layer move.
  {
    const QPointF c = CellCentre(0, 0);
    QPainterPath body;
    body.moveTo(c + QPointF(-7, 7));
    body.lineTo(c + QPointF(-5, 2));
    body.lineTo(c + QPointF(4, -7));
    body.lineTo(c + QPointF(7, -4));
    body.lineTo(c + QPointF(-2, 5));
    body.closeSubpath();
    p.setBrush(QColor(0xE8, 0xC0, 0x40));
    p.drawPath(body);
    const QPointF m = CellCentre(1, 0);
    p.drawLine(m + QPointF(-8, 0), m + QPointF(8, 0));
    p.drawLine(m + QPointF(0, -8), m + QPointF(0, 8));
    for (QPointF d : {QPointF(1, 0), QPointF(-1, 0), QPointF(0, 1), QPointF(0, -1)}) {
      const QPointF tip = m + d * 8, side(d.y() * 3, d.x() * 3);
      p.drawLine(tip, tip - d * 3 + side);
      p.drawLine(tip, tip - d * 3 - side);
    }
  }
  // Row 2: colour picker, line.
  {
    const QPointF c = CellCentre(0, 1);
    p.drawLine(c + QPointF(-7, 7), c + QPointF(2, -2));
    p.setBrush(Qt::black);
    p.drawEllipse(c + QPointF(4, -4), 3.5, 3.5);
    const QPointF l = CellCentre(1, 1);
    p.drawLine(l + QPointF(-8, 7), l + QPointF(8, -7));
    p.drawEllipse(l + QPointF(-8, 7), 1.5, 1.5);
    p.drawEllipse(l + QPointF(8, -7), 1.5, 1.5);
  }
  // Rows 3 and 4: rectangle and polygon, filling (left) and erasing (right).
  for (int row : {2, 3}) {
    for (int column : {0, 1}) {
      const QPointF c = CellCentre(column, row);
      QPainterPath shape;
      if (row == 2) {
        shape.addRect(QRectF(c + QPointF(-8, -6), c + QPointF(8, 6)));
      } else {
        shape.moveTo(c + QPointF(0, -8));
        shape.lineTo(c + QPointF(8, -2));
        shape.lineTo(c + QPointF(5, 8));
        shape.lineTo(c + QPointF(-6, 8));
        shape.lineTo(c + QPointF(-8, -2));
        shape.closeSubpath();
      }
      if (column == 0) {
        p.setBrush(Qt::black);
        p.drawPath(shape);
      } else {
        p.setBrush(Qt::white);
        QPen dashed(Qt::black, 1.2, Qt::DashLine);
        p.setPen(dashed);
        p.drawPath(shape);
        p.setPen(pen);
      }
    }
  }
  // Row 5: hand, rotation.
  {
    const QPointF c = CellCentre(0, 4);
    p.setBrush(QColor(0xF0, 0xD0, 0xB0));
    p.drawRoundedRect(QRectF(c + QPointF(-5, -1), c + QPointF(5, 8)), 2, 2);
    for (int f = 0; f < 4; ++f) {
      const double x = -4.5 + 3 * f;
      p.drawRoundedRect(QRectF(c + QPointF(x, -8 + (f == 0 || f == 3 ? 2 : 0)), c + QPointF(x + 2.4, 0)), 1, 1);
    }
    const QPointF r = CellCentre(1, 4);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(r + QPointF(-7, -7), r + QPointF(7, 7)), 30 * 16, 280 * 16);
    const QPointF tip = r + QPointF(6.1, -3.5);
    p.drawLine(tip, tip + QPointF(-3.5, -1));
    p.drawLine(tip, tip + QPointF(0.5, -3.8));
  }
  // Row 6: zoom in, zoom out.
  DrawMagnifier(p, CellCentre(0, 5), true);
  DrawMagnifier(p, CellCentre(1, 5), false);
  return img;
}

TToolsWindow::TToolsWindow(QWidget* owner) : plat::TToolWindow(owner) {
  // FormCreate
  setObjectName("ToolsWindow");
  setWindowTitle(" ");
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  const QImage picture = ToolBoxPicture();
  TPixelView view;
  view.Bits = const_cast<uint8_t*>(picture.constBits());
  view.Stride = picture.bytesPerLine();
  view.Width = picture.width();
  view.Height = picture.height();
  Mode.SetPicture(view, picture.width(), picture.height());
  setFixedSize(picture.width(), picture.height());
  buffer_.Resize(picture.width(), picture.height());
  move(662, 107);
  SetDefaultPosition();
  LoadPlace(kVelloraKey, "ToolX", "ToolY");
  FormPaint();
}

TToolsWindow::~TToolsWindow() {
  // FormDestroy
  SavePlace(kVelloraKey, "ToolX", "ToolY");
  if (ToolsWindow == this) ToolsWindow = nullptr;
}

void TToolsWindow::SetDefaultPosition() {
  if (!PreviewWindow) return;
  const QRect preview = plat::OuterRect(PreviewWindow);
  move(preview.left(), preview.top() + preview.height());
}

TPixelView TToolsWindow::Surface() { return buffer_.View(); }

void TToolsWindow::SurfaceChanged(const TRect& r) {
  if (!r.IsEmpty()) update(r.Left, r.Top, r.Width(), r.Height());
}

void TToolsWindow::FormPaint() { Mode.Paint(this); }

void TToolsWindow::FormMouseDown(int32_t x, int32_t y) {
  Mode.ResetShape();
  if (TDrawWindow* w = VLMain ? VLMain->ActiveDrawWindow() : nullptr) {
    w->ShowRubberBand({});
    // The line cell straightens the view before the redraw, so that the window shows what
    // input now maps to.
    const bool straighten = TToolMode::IsLineCell(x, y) && w->Paper && w->Paper->Display.IsRotated();
    if (straighten) w->ResetView();
    w->Redraw();
    if (straighten && PreviewWindow) PreviewWindow->DrawPreview();
    if (w->Paper && w->Paper->Initialised) {
      int32_t cx = 0, cy = 0;
      w->Paper->Display.CentrePoint(w->ClientWidth(), w->ClientHeight(), cx, cy);
      if (TToolMode::IsZoomInCell(x, y)) w->ZoomInAt(false, cx, cy);
      if (TToolMode::IsZoomOutCell(x, y)) w->ZoomOutAt(false, cx, cy);
    }
  }
  Mode.ClickToolbox(x, y);
  FormPaint();
}

void TToolsWindow::FormDblClick(int32_t x, int32_t y) {
  if (!(x >= 1 && x <= 62 && y >= 101 && y <= 124)) return;
  TDrawWindow* w = VLMain ? VLMain->ActiveDrawWindow() : nullptr;
  if (!w || !w->Paper || !w->Paper->Initialised) return;
  int32_t cx = 0, cy = 0;
  w->Paper->Display.CentrePoint(w->ClientWidth(), w->ClientHeight(), cx, cy);
  w->ZoomReset(false, cx, cy);
}

void TToolsWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, buffer_.Image());
}

void TToolsWindow::mousePressEvent(QMouseEvent* e) {
  FormMouseDown(static_cast<int32_t>(e->position().x()), static_cast<int32_t>(e->position().y()));
  e->accept();
}

// Qt leaves out the press that follows a double-click: the double-click, then that press.
void TToolsWindow::mouseDoubleClickEvent(QMouseEvent* e) {
  const int32_t x = static_cast<int32_t>(e->position().x()), y = static_cast<int32_t>(e->position().y());
  FormDblClick(x, y);
  FormMouseDown(x, y);
  e->accept();
}

bool TToolsWindow::focusNextPrevChild(bool) { return false; }
