#include "painter/SelectWin.h"

#include <QMouseEvent>
#include <QSlider>
#include <QTimer>

#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/SelectMng.h"
#include "engine/TrueCnvs.h"
#include "painter/DrawWin.h"
#include "painter/Main.h"
#include "painter/ToolsWin.h"
#include "platform/qt/BackBuffer.h"
#include "platform/qt/Placement.h"

TSelectWindow* SelectWindow = nullptr;

namespace {
constexpr char kSettingsKey[] = "Software\\Brenmoor\\Vellora";
}

TSelectWindow::TSelectWindow(QWidget* owner) : plat::TToolWindow(owner) {
  setObjectName("SelectWindow");
  setWindowTitle(QString::fromUtf8("選択範囲Win"));
  resize(104, 205);
  TrackBar1 = new QSlider(Qt::Horizontal, this);
  TrackBar1->setObjectName("TrackBar1");
  TrackBar1->setGeometry(0, 0, 73, 33);
  TrackBar1->setRange(0, 40);
  TrackBar1->setValue(10);
  TrackBar1->setTickInterval(5);
  TrackBar1->setTickPosition(QSlider::TicksBelow);
  // Nothing reads it: it must not take the keys that the window passes on.
  TrackBar1->setFocusPolicy(Qt::NoFocus);
  PaintBox1 = new plat::TBufferedWidget(this);
  PaintBox1->setObjectName("PaintBox1");
  PaintBox1->setGeometry(0, 40, 81, 161);
  PaintBox1->installEventFilter(this);
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(250);
  connect(Timer1, &QTimer::timeout, this, &TSelectWindow::Timer1Timer);
  Surface = std::make_unique<TTCDC>(kSelectCell, 6 * kSelectCell);
  SetDefaultPosition();
  LoadPlace(kSettingsKey, "SelectX", "SelectY");
}

TSelectWindow::~TSelectWindow() {
  SavePlace(kSettingsKey, "SelectX", "SelectY");
  if (SelectWindow == this) SelectWindow = nullptr;
}

void TSelectWindow::SetDefaultPosition() {
  if (!ToolsWindow) return;
  // Directly left of the tool box; a tool box at the screen's left edge leaves no room there,
  // so the window goes directly right of it instead.
  const QRect tools = plat::OuterRect(ToolsWindow);
  const int width = plat::OuterSize(this).width();
  const int left = tools.left() - width >= plat::WorkArea().left() ? tools.left() - width : tools.left() + tools.width();
  move(left, tools.top());
}

TDrawWindow* TSelectWindow::ActivePaper() {
  TDrawWindow* dw = VLMain ? VLMain->ActiveDrawWindow() : nullptr;
  if (!dw || !dw->Paper || !dw->Paper->Layers || !dw->Paper->Selection) return nullptr;
  return dw;
}

void TSelectWindow::Timer1Timer() {
  TDrawWindow* dw = ActivePaper();
  if (!dw) return;  // the cells keep their last drawing
  TSelectMng& sel = *dw->Paper->Selection;
  TTCDC& s = *Surface;
  s.Fill(kSelectBackground);
  const TTC* first = sel.GetThumb(0);
  const int32_t w = first ? first->Width() : 0, h = first ? first->Height() : 0;
  for (int32_t i = 0; i <= sel.LastSlot(); ++i) {
    const int32_t y = kSelectCell * i;
    if (const TTC* thumb = sel.GetThumb(i)) thumb->BlendTo(s, 25 - w / 2, y + 25 - h / 2, 255);
    if (sel.IsEmpty(i)) s.BlendFillRect(0, y, kSelectCell, kSelectCell, 0xFF000000, 64);
    if (i == sel.Current()) {
      const float top = float(y), bottom = float(y + kSelectCell - 1), right = float(kSelectCell - 1);
      s.DrawLine(kSelectFrame, false, 0, top, right, top);
      s.DrawLine(kSelectFrame, false, 0, bottom, right, bottom);
      s.DrawLine(kSelectFrame, false, 0, top, 0, bottom);
      s.DrawLine(kSelectFrame, false, right, top, right, bottom);
    }
  }
  s.DrawToPaintBox(PaintBox1, 0, 0, false);
}

void TSelectWindow::PaintBox1MouseUp(int y) {
  TDrawWindow* dw = ActivePaper();
  // A release above the box (the button went down inside, then the cursor left) is no click
  // on a cell.
  if (!dw || y < 0) return;
  dw->Paper->Selection->SetCurrent(y / kSelectCell);
  dw->Redraw();
}

void TSelectWindow::Button3Click() {
  TDrawWindow* dw = ActivePaper();
  if (!dw) return;
  TSelectMng& sel = *dw->Paper->Selection;
  sel.SelectAll(sel.Current());
  dw->Redraw();
}

void TSelectWindow::showEvent(QShowEvent* e) {
  plat::TToolWindow::showEvent(e);
  Timer1->start();
}

void TSelectWindow::hideEvent(QHideEvent* e) {
  Timer1->stop();
  plat::TToolWindow::hideEvent(e);
}

bool TSelectWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == PaintBox1 && event->type() == QEvent::MouseButtonRelease) {
    PaintBox1MouseUp(static_cast<QMouseEvent*>(event)->position().toPoint().y());
    return true;
  }
  return plat::TToolWindow::eventFilter(watched, event);
}
