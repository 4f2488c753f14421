#include "painter/PreviewWin.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QHideEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>

#include "engine/Display.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/TrueCnvs.h"
#include "engine/Types.h"
#include "painter/DrawWin.h"
#include "painter/Main.h"
#include "platform/core/KeyState.h"
#include "platform/qt/KeyTracker.h"

TPreviewWindow* PreviewWindow = nullptr;

namespace {
constexpr char kSettingsKey[] = "Software\\Brenmoor\\Vellora";
}

bool FitPreview(int32_t W, int32_t H, int32_t cw, int32_t ch, TPreviewFit& fit) {
  // A client without area (a window rolled up or squeezed to nothing) leaves the fit pending.
  if (cw <= 0 || ch <= 0 || W <= 0 || H <= 0) return false;
  const float a = static_cast<float>(ext_t(W) / ext_t(H));
  int32_t w, h;
  if (ext_t(cw) / ext_t(ch) <= ext_t(a)) {
    w = cw;
    h = TruncInt(ext_t(cw) / ext_t(a));
  } else {
    w = TruncInt(ext_t(a) * ext_t(ch));
    h = ch;
  }
  // A very long paper still shows as one row or column.
  fit.Width = std::max(w, 1);
  fit.Height = std::max(h, 1);
  fit.Left = cw / 2 - fit.Width / 2;
  fit.Top = ch / 2 - fit.Height / 2;
  return true;
}

void DrawViewMarker(TTCDC& canvas, const TDisplay& view, int32_t W, int32_t cw, int32_t ch) {
  if (W <= 0 || canvas.Width() <= 0) return;
  const float s = static_cast<float>(ext_t(canvas.Width()) / ext_t(W));
  const ext_t zoom = view.Zoom();
  if (view.IsRotated()) {
    const ext_t c = std::cos(ext_t(view.Angle)), sn = std::sin(ext_t(view.Angle));
    const ext_t hw = ext_t(cw) / 2, hh = ext_t(ch) / 2;
    const ext_t cx[4] = {-hw, hw, hw, -hw}, cy[4] = {-hh, -hh, hh, hh};
    float px[4], py[4];
    for (int i = 0; i < 4; ++i) {
      const ext_t rx = cx[i] * c - cy[i] * sn;
      const ext_t ry = cx[i] * sn + cy[i] * c;
      px[i] = static_cast<float>(ext_t(s) * ext_t(view.CentreX) + ext_t(s) / zoom * rx);
      py[i] = static_cast<float>(ext_t(s) * ext_t(view.CentreY) + ext_t(s) / zoom * ry);
    }
    canvas.DrawLine(kMarkerColour, true, px[1], py[1], px[0], py[0]);
    canvas.DrawLine(kMarkerColour, true, px[2], py[2], px[1], py[1]);
    canvas.DrawLine(kMarkerColour, true, px[3], py[3], px[2], py[2]);
    canvas.DrawLine(kMarkerColour, true, px[0], py[0], px[3], py[3]);
    const float mx = static_cast<float>((ext_t(px[0]) + px[1]) / 2), my = static_cast<float>((ext_t(py[0]) + py[1]) / 2);
    canvas.DrawDisc(kMarkerColour, false, mx, my, 2.0f, 1.0f);
    return;
  }
  int32_t left = view.MarginX != 0 ? TruncInt(ext_t(s) * (ext_t(view.ScrollX) - view.MarginX) / zoom)
                                   : TruncInt(ext_t(s) * view.ScrollX);
  int32_t top = view.MarginY != 0 ? TruncInt(ext_t(s) * (ext_t(view.ScrollY) - view.MarginY) / zoom)
                                  : TruncInt(ext_t(s) * view.ScrollY);
  int32_t right = TruncInt(ext_t(left) + ext_t(s) * cw / zoom);
  int32_t bottom = TruncInt(ext_t(top) + ext_t(s) * ch / zoom);
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, canvas.Width() - 1);
  bottom = std::min(bottom, canvas.Height() - 1);
  const float l = float(left), t = float(top), r = float(right), b = float(bottom);
  canvas.DrawLine(kMarkerColour, false, l, t, r, t);
  canvas.DrawLine(kMarkerColour, false, r, t, r, b);
  canvas.DrawLine(kMarkerColour, false, r, b, l, b);
  canvas.DrawLine(kMarkerColour, false, l, b, l, t);
}

TPreviewWindow::TPreviewWindow(QWidget* owner) : plat::TToolWindow(owner) {
  setObjectName("PreviewWindow");
  setWindowTitle(QString::fromUtf8("プレビュー表示"));
  resize(116, 108);
  PaintBox1 = new TPreviewPaintBox(this);
  PaintBox1->setObjectName("PaintBox1");
  PaintBox1->setGeometry(0, 1, 113, 104);
  PaintBox1->installEventFilter(this);
  PaintBox1->OnRepaint = [this] { ShowCanvas(); };
  // A release that never arrives (the application lost the focus) must not leave the view
  // following the cursor.
  if (auto* app = QCoreApplication::instance()) app->installEventFilter(this);
  if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
    connect(gui, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
      if (s != Qt::ApplicationActive) Dragging = false;
    });
  SetDefaultPosition();
  LoadPlace(kSettingsKey, "PreviewX", "PreviewY", "PreviewWidth", "PreviewHeight");
  NeedsFit = true;
  ShownChild = nullptr;
}

TPreviewWindow::~TPreviewWindow() {
  SavePlace(kSettingsKey, "PreviewX", "PreviewY", "PreviewWidth", "PreviewHeight");
  if (PreviewWindow == this) PreviewWindow = nullptr;
}

void TPreviewWindow::SetDefaultPosition() { move(0, 40); }

TDrawWindow* TPreviewWindow::ActivePaper() {
  TDrawWindow* dw = VLMain ? VLMain->ActiveDrawWindow() : nullptr;
  if (!dw || !dw->Paper || !dw->Paper->Layers) return nullptr;
  return dw;
}

bool TPreviewWindow::Fit(TDrawWindow& window) {
  TPaper& p = *window.Paper;
  TPreviewFit f;
  if (!FitPreview(p.Width(), p.Height(), width(), height(), f)) return false;
  if (!p.PreviewImage.SetSize(f.Width, f.Height) || !p.PreviewCanvas.SetSize(f.Width, f.Height)) return false;
  PaintBox1->setGeometry(f.Left, f.Top, f.Width, f.Height);
  p.PreviewImage.OrAll(0xFF000000);
  p.PreviewCanvas.OrAll(0xFF000000);
  p.CompositeImage.ShrinkTo(p.PreviewImage);
  p.PreviewImage.CopyTo(p.PreviewCanvas, 0, 0);
  NeedsFit = false;
  return true;
}

void TPreviewWindow::DrawPreview() {
  TDrawWindow* dw = ActivePaper();
  if (!dw) return;
  // Another paper than the one last fitted always refits, whoever noticed the change.
  if (ShownChild != dw) {
    ShownChild = dw;
    NeedsFit = true;
  }
  if (NeedsFit && !Fit(*dw)) return;
  TPaper& p = *dw->Paper;
  p.PreviewImage.CopyTo(p.PreviewCanvas, 0, 0);
  DrawViewMarker(p.PreviewCanvas, p.Display, p.Width(), dw->ClientWidth(), dw->ClientHeight());
  ShowCanvas();
}

void TPreviewWindow::ShowCanvas() {
  TDrawWindow* dw = ActivePaper();
  if (!dw || dw != ShownChild) {
    // Nothing shown yet (or any more): the box keeps the empty look.
    ClearView();
    return;
  }
  if (!NeedsFit) dw->Paper->PreviewCanvas.DrawToPaintBox(PaintBox1, 0, 0, false);
}

void TPreviewWindow::TrackDrag() {
  if (!Dragging) return;
  TDrawWindow* dw = ActivePaper();
  if (!dw) return;
  const QPoint cursor = QCursor::pos();
  if (cursor == DragCursor) return;  // a click alone moves nothing
  DragCursor = cursor;
  TPaper& p = *dw->Paper;
  const int32_t previewWidth = p.PreviewImage.Width();
  if (previewWidth <= 0) return;
  const QPoint pt = PaintBox1->mapFromGlobal(cursor);
  const ext_t r = ext_t(p.Width()) / ext_t(previewWidth);
  if (p.Display.IsRotated()) {
    p.Display.SetCentre(float(TruncInt(ext_t(pt.x()) * r)), float(TruncInt(ext_t(pt.y()) * r)));
  } else {
    dw->CentreOn(ext_t(pt.x()) * r, ext_t(pt.y()) * r);
  }
  dw->Redraw();
}

void TPreviewWindow::ClearView() {
  const QColor face = palette().color(QPalette::Button);
  PaintBox1->FillRect(0, 0, PaintBox1->width(), PaintBox1->height(), face.rgb() & 0xFFFFFFu);
}

void TPreviewWindow::FormResize() { NeedsFit = true; }

void TPreviewWindow::PaintBox1MouseDown(Qt::MouseButton button) {
  if (button == Qt::LeftButton) {
    DragCursor = QCursor::pos();
    Dragging = true;
  }
  if (ActivePaper()) DrawPreview();
}

void TPreviewWindow::PaintBox1MouseUp() { Dragging = false; }

void TPreviewWindow::FormKeyUp(int key) {
  if (key != plat::VK_MENU) return;
  TDrawWindow* dw = ActivePaper();
  if (!dw) return;
  dw->ResetView();
  dw->Redraw();
  DrawPreview();
}

void TPreviewWindow::resizeEvent(QResizeEvent* e) {
  plat::TToolWindow::resizeEvent(e);
  FormResize();
}

void TPreviewWindow::hideEvent(QHideEvent* e) {
  Dragging = false;
  plat::TToolWindow::hideEvent(e);
}

void TPreviewWindow::keyReleaseEvent(QKeyEvent* e) {
  if (!e->isAutoRepeat()) FormKeyUp(plat::VirtualKeyOf(e));
  e->accept();
}

bool TPreviewWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == PaintBox1) {
    if (event->type() == QEvent::MouseButtonPress) {
      PaintBox1MouseDown(static_cast<QMouseEvent*>(event)->button());
      return true;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
      PaintBox1MouseUp();
      return true;
    }
  } else if (event->type() == QEvent::ApplicationDeactivate) {
    Dragging = false;
  }
  return plat::TToolWindow::eventFilter(watched, event);
}
