#include "painter/DrawWin.h"

#include <QCloseEvent>
#include <cmath>
#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QWheelEvent>

#include "engine/Block.h"
#include "engine/EventPacket.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "painter/ColorWin.h"
#include "painter/Cursors.h"
#include "painter/LayerWin.h"
#include "painter/Localize.h"
#include "painter/Main.h"
#include "painter/PenWin2.h"
#include "painter/PreviewWin.h"
#include "painter/ToolsWin.h"
#include "platform/core/Clock.h"
#include "platform/core/KeyState.h"
#include "platform/core/MessageBox.h"
#include "platform/core/Settings.h"
#include "platform/qt/FileDialog.h"
#include "platform/qt/KeyTracker.h"
#include "platform/qt/WindowMessages.h"
#include "painter/ChatWin.h"
#include "session/NetState.h"
#include "painter/NetWin.h"

// ---- TMDIChild --------------------------------------------------------------------------------

TMDIChild::TMDIChild(QWidget* parent) : plat::TBufferedWidget(parent) {
  setObjectName("MDIChild");
  setWindowTitle("MDI Child");
  resize(330, 268);
}

QMdiSubWindow* TMDIChild::SubWindow() const { return qobject_cast<QMdiSubWindow*>(parentWidget()); }

void TMDIChild::SetCaption(const std::string& caption) { setWindowTitle(QString::fromStdString(caption)); }

std::string TMDIChild::Caption() const {
  const QMdiSubWindow* sub = SubWindow();
  return (sub ? sub->windowTitle() : windowTitle()).toStdString();
}

bool TMDIChild::IsNormalState() const {
  const QWidget* frame = SubWindow() ? static_cast<const QWidget*>(SubWindow()) : this;
  return !frame->isMinimized() && !frame->isMaximized();
}

bool TMDIChild::IsMaximized() const {
  const QWidget* frame = SubWindow() ? static_cast<const QWidget*>(SubWindow()) : this;
  return frame->isMaximized();
}

void TMDIChild::SetNormalState() {
  if (QMdiSubWindow* sub = SubWindow()) {
    if (!IsNormalState()) sub->showNormal();
  }
}

void TMDIChild::SetClientSize(int32_t width, int32_t height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (QMdiSubWindow* sub = SubWindow()) {
    const QSize frame = sub->size() - size();
    sub->resize(frame + QSize(width, height));
  }
  plat::TBufferedWidget::SetClientSize(width, height);
  if (auto* paper = qobject_cast<TDrawWindow*>(this); paper && VLMain) VLMain->PlacePaperWindow(paper);
}

// ---- TDrawWindow ------------------------------------------------------------------------------

TDrawWindow::TDrawWindow(QWidget* parent)
    : TMDIChild(parent), ScrollBar1(Qt::Horizontal, this), ScrollBar2(Qt::Vertical, this) {
  setObjectName("DrawWindow");
  setWindowTitle("DrawWindow");
  resize(172, 155);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  ScrollBar1.Bar()->setObjectName("ScrollBar1");
  ScrollBar2.Bar()->setObjectName("ScrollBar2");
  ScrollBar1.OnScroll = [this] { ScrollBar1Scroll(); };
  ScrollBar2.OnScroll = [this] { ScrollBar2Scroll(); };

  // FormCreate
  setAttribute(Qt::WA_InputMethodEnabled, false);
  SuppressNextDown = false;
  LastActivity = 0;
  StrokeCount = 0;
  SavedStrokeCount = 0;
  AltDownCount = 0;
  setCursor(ScreenCursor(8));
  Paper = std::make_unique<TPaper>();
  for (int i = 0; i < kSlots; ++i) {
    Packets[i] = std::make_unique<TEventPacket>();
    Strokes[i] = std::make_unique<TStroke>();
  }
  Log = std::make_unique<TEventPacket>();
  Playing = false;
  StopRequested = false;
  ButtonDown = false;
  ScrollBar1.SetLeft(0);
  ScrollBar2.SetTop(0);
}

TDrawWindow::~TDrawWindow() = default;

int32_t TDrawWindow::OwnSlot() const {
  if (!Paper) return 0;
  const int32_t m = Paper->MemberIndex;
  return m >= 0 && m < kSlots ? m : 0;
}

TEventPacket& TDrawWindow::OwnPacket() { return *Packets[OwnSlot()]; }

// ---- View operations ----------------------------------------------------------------------------

void TDrawWindow::Redraw() {
  if (!Paper || !Paper->Initialised) return;
  Paper->Display.UpdateScrollBars(*this, Paper->Width(), ScrollBar1, ScrollBar2, Paper->Height());
  Paper->Paint(this);
}

void TDrawWindow::RedrawRect(int32_t x, int32_t y, int32_t w, int32_t h) {
  if (!Paper || !Paper->Initialised) return;
  Paper->Display.UpdateScrollBars(*this, Paper->Width(), ScrollBar1, ScrollBar2, Paper->Height());
  Paper->PaintRect(this, x, y, w, h);
}

void TDrawWindow::RecompositeAll() {
  if (!Paper || !Paper->Initialised) return;
  Paper->Composite();
  Paper->Display.UpdateScrollBars(*this, Paper->Width(), ScrollBar1, ScrollBar2, Paper->Height());
  Paper->Paint(this);
  Paper->UpdatePreview();
}

void TDrawWindow::RecompositeRect(int32_t x, int32_t y, int32_t w, int32_t h) {
  if (!Paper || !Paper->Initialised) return;
  Paper->CompositeRect(x, y, w, h);
  Paper->UpdatePreviewRect(x, y, w, h);
  Paper->Display.UpdateScrollBars(*this, Paper->Width(), ScrollBar1, ScrollBar2, Paper->Height());
  Paper->PaintRect(this, x, y, w, h);
}

void TDrawWindow::CentreOn(ext_t x, ext_t y) {
  const int32_t half = TDisplay::ScrollSlack();
  const ext_t zoom = Paper->Display.Zoom();
  ScrollBar1.SetPosition(half + static_cast<int32_t>(x * zoom) - static_cast<int32_t>(ClientWidth() / 2.0L));
  ScrollBar2.SetPosition(half + static_cast<int32_t>(y * zoom) - static_cast<int32_t>(ClientHeight() / 2.0L));
}

void TDrawWindow::ResetView() {
  if (!Paper || !Paper->Display.IsRotated()) return;
  TDisplay& d = Paper->Display;
  d.SetAngle(0);
  const int32_t half = TDisplay::ScrollSlack();
  const ext_t zoom = d.Zoom();
  ScrollBar1.SetPosition(half + static_cast<int32_t>(d.CentreX * zoom) - ClientWidth() / 2);
  ScrollBar2.SetPosition(half + static_cast<int32_t>(d.CentreY * zoom) - ClientHeight() / 2);
  ScrollBar1.SetVisible(true);
  ScrollBar2.SetVisible(true);
}

void TDrawWindow::Undo() {
  if (!Paper || !Paper->Initialised || !Paper->Layers) return;
  TEventPacket& own = OwnPacket();
  // Mid-stroke, or while a record plays (it would record past the end marker being played).
  if (own.InStroke() || Playing) return;
  const int32_t layer = Paper->Layers->ActiveIndex();
  own.WriteUndo(static_cast<uint8_t>(layer));
  const TRect r = Paper->Layers->Undo(layer);
  Paper->CompositeRect(r.Left, r.Top, r.Width(), r.Height());
  Paper->UpdatePreviewRect(r.Left, r.Top, r.Width(), r.Height());
  Paper->PaintRect(this, r.Left, r.Top, r.Width(), r.Height());
}

void TDrawWindow::ZoomInAt(bool refit, int32_t x, int32_t y) {
  if (!Paper || !Paper->Display.CanZoomIn()) return;
  Paper->Display.ZoomIn();
  ApplyZoom(refit, x, y);
}

void TDrawWindow::ZoomOutAt(bool refit, int32_t x, int32_t y) {
  if (!Paper || !Paper->Display.CanZoomOut()) return;
  Paper->Display.ZoomOut();
  ApplyZoom(refit, x, y);
}

void TDrawWindow::ZoomReset(bool refit, int32_t x, int32_t y) {
  if (!Paper) return;
  Paper->Display.ResetZoom();
  ApplyZoom(refit, x, y);
}

void TDrawWindow::ApplyZoom(bool refit, int32_t x, int32_t y) {
  if (!Paper || !Paper->Initialised) return;
  if (refit && IsNormalState()) Paper->Display.FitWindow(Paper->Width(), Paper->Height(), *this);
  x = std::clamp(x, 0, Paper->Width());
  y = std::clamp(y, 0, Paper->Height());
  CentreOn(x, y);
  SetCaption(Paper->Caption());
  if (PenWindow2 && VLMain && VLMain->Stroke) PenWindow2->Redraw(*VLMain->Stroke, true);
  Redraw();
}

void TDrawWindow::ZoomAround(bool in, int32_t wx, int32_t wy) {
  if (!Paper || !Paper->Initialised) return;
  TDisplay& d = Paper->Display;
  if (in ? !d.CanZoomIn() : !d.CanZoomOut()) return;
  plat::TQtScrollBar* bars[2] = {&ScrollBar1, &ScrollBar2};
  const bool same = zoomLeftIndex_ == d.ZoomIndex && zoomLeft_[0] == bars[0]->Position() &&
                    zoomLeft_[1] == bars[1]->Position();
  const long double before = d.Zoom();
  if (in) d.ZoomIn();
  else d.ZoomOut();
  const long double after = d.Zoom();
  // Window x shows paper x (x + position - slack) / zoom, whichever side of the paper's edge.
  const long double half = TDisplay::ScrollSlack();
  const int32_t at[2] = {wx, wy};
  const int32_t side[2] = {Paper->Width(), Paper->Height()};
  for (int a = 0; a < 2; ++a) {
    const long double from = same ? zoomExact_[a] : static_cast<long double>(bars[a]->Position());
    zoomExact_[a] = half + (from - half + at[a]) * after / before - at[a];
    // The new step's range first, so that the position is not cut to the old one.
    bars[a]->SetMax(static_cast<int32_t>(side[a] * after) + 2 * TDisplay::ScrollSlack());
    bars[a]->SetPosition(static_cast<int32_t>(std::llround(zoomExact_[a])));
  }
  SetCaption(Paper->Caption());
  if (PenWindow2 && VLMain && VLMain->Stroke) PenWindow2->Redraw(*VLMain->Stroke, true);
  Redraw();
  zoomLeft_[0] = bars[0]->Position();
  zoomLeft_[1] = bars[1]->Position();
  zoomLeftIndex_ = d.ZoomIndex;
}

TPoint TDrawWindow::ZoomPoint(int32_t wx, int32_t wy) const {
  TPoint p;
  if (!Paper) return p;
  const TDisplay& d = Paper->Display;
  const ext_t zoom = d.Zoom();
  auto axis = [zoom](int32_t w, int32_t margin, int32_t scroll) -> int32_t {
    if (margin > 0) return static_cast<int32_t>(w / zoom - margin / zoom);
    if (scroll > 0) return static_cast<int32_t>(w / zoom + scroll);
    return static_cast<int32_t>(w / zoom);
  };
  p.X = axis(wx, d.MarginX, d.ScrollX);
  p.Y = axis(wy, d.MarginY, d.ScrollY);
  return p;
}

// ---- Form handlers ------------------------------------------------------------------------------

void TDrawWindow::FormActivate() {
  if (VLMain) VLMain->SetUpdateMode(true);
}

void TDrawWindow::FormPaint() {
  Redraw();
  if (VLMain) VLMain->SetUpdateMode(true);
}

void TDrawWindow::FormResize() { Redraw(); }

void TDrawWindow::ScrollBar1Scroll() {
  if (PreviewWindow) PreviewWindow->DrawPreview();
  Redraw();
}

void TDrawWindow::ScrollBar2Scroll() {
  if (PreviewWindow) PreviewWindow->DrawPreview();
  Redraw();
}

void TDrawWindow::RepaintBuffer() {
  if (tearingDown_) return;
  FormPaint();
}

void TDrawWindow::resizeEvent(QResizeEvent* e) {
  TMDIChild::resizeEvent(e);
  if (!tearingDown_) FormResize();
}

// ---- Mouse, wheel and keys ----------------------------------------------------------------------

void TDrawWindow::FormMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, int32_t x, int32_t y) {
  if (SuppressNextDown) {
    SuppressNextDown = false;
    return;
  }
  MouseDownX = x;
  MouseDownY = y;
  if (!Paper || !Paper->Initialised) return;
  if (button == Qt::LeftButton) ButtonDown = true;
  ToolMouseDown(button, x, y);
  if (!Paper) return;
  const TToolKind kind = ToolsWindow ? ToolsWindow->Mode.Kind : tkPen;
  // Colour pick: nothing is recorded.
  if (((button == Qt::RightButton && kind == tkPen) || (button == Qt::LeftButton && kind == tkSpoit)) &&
      !Packets[OwnSlot()]->InStroke()) {
    TPoint p{x, y};
    Paper->Display.WindowToPaper(ClientWidth(), ClientHeight(), p);
    uint32_t colour;
    if (plat::IsKeyDown(plat::VK_CONTROL)) {
      const TBlockImage* image = Paper->Layers->LayerImage(Paper->Layers->ActiveIndex());
      // Outside the paper the layer has only its background.
      const bool inside = p.X >= 0 && p.Y >= 0 && p.X < Paper->Width() && p.Y < Paper->Height();
      colour = image ? (inside ? image->GetPixel(p.X, p.Y) : image->BackColour()) : 0;
    } else {
      colour = Paper->CompositeImage.GetPixel(p.X, p.Y);
    }
    if (VLMain && VLMain->Stroke && colour != VLMain->Stroke->Color) {
      VLMain->Stroke->SetColor(colour);
      if (ColorWindow) {
        ColorWindow->FindColor(colour);
        ColorWindow->Redraw(false, colour);
      }
    }
  }
  // Zoom clicks, any button.
  const bool ctrl = plat::IsKeyDown(plat::VK_CONTROL), alt = plat::IsKeyDown(plat::VK_MENU),
             space = plat::IsKeyDown(plat::VK_SPACE);
  // About the point clicked: it stays under the cursor.
  if ((ctrl && alt && space) || kind == tkZoomOut) ZoomAround(false, x, y);
  else if ((ctrl && space) || kind == tkZoomIn) ZoomAround(true, x, y);
}

void TDrawWindow::FormMouseMove(Qt::KeyboardModifiers, int32_t x, int32_t y) {
  if (!Paper || !Paper->Initialised) return;
  ToolMouseMove(x, y);
  if (!VLMain) return;
  if (VLMain->Tablet && VLMain->Tablet->Available() && VLMain->Tablet->InProximity()) return;
  if (ButtonDown) VLMain->StrokeTo(x, y, 1.0f, 1.0f, false);
  else VLMain->EndStroke(x, y, 1.0f, false);
}

void TDrawWindow::FormMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, int32_t x, int32_t y) {
  if (!Paper || !Paper->Initialised) return;
  if (ButtonDown && VLMain) VLMain->EndStroke(x, y, 0.0f, false);
  ToolMouseUp(button, x, y);
  ButtonDown = false;
}

// The paper under the cursor stays under it, so that turning the wheel back gives the view
// back.
void TDrawWindow::FormMouseWheelDown(int32_t x, int32_t y) { ZoomAround(true, x, y); }

void TDrawWindow::FormMouseWheelUp(int32_t x, int32_t y) { ZoomAround(false, x, y); }

void TDrawWindow::FormKeyDown(int key, bool autoRepeat) {
  // A held Tab repeats through the update step, not through auto-repeat.
  if (autoRepeat && key == plat::VK_TAB) return;
  if (key == plat::VK_MENU) {
    AltDownTime = timeGetTime();
    ++AltDownCount;
  }
  if (VLMain) VLMain->HandleKey(key);
  if (tearingDown_) return;
  if (ToolsWindow) {
    ToolsWindow->Mode.UpdateModifiers(this);
    ToolsWindow->Mode.UpdateCursor(this);
  }
}

void TDrawWindow::FormKeyUp(int key) {
  if (ToolsWindow) ToolsWindow->Mode.EndHandDrag();
  if (key == plat::VK_MENU) {
    // A single short tap, without auto-repeat, puts a rotated view upright.
    if (static_cast<uint32_t>(timeGetTime() - AltDownTime) < 250 && AltDownCount == 1) {
      ResetView();
      Redraw();
      if (PreviewWindow) PreviewWindow->DrawPreview();
    }
    AltDownCount = 0;
  }
  ToolKeyUp(key);
  if (ToolsWindow) {
    ToolsWindow->Mode.UpdateModifiers(this);
    ToolsWindow->Mode.UpdateCursor(this);
  }
}

void TDrawWindow::mousePressEvent(QMouseEvent* e) {
  FormMouseDown(e->button(), e->modifiers(), static_cast<int32_t>(e->position().x()),
                static_cast<int32_t>(e->position().y()));
}

void TDrawWindow::mouseMoveEvent(QMouseEvent* e) {
  FormMouseMove(e->modifiers(), static_cast<int32_t>(e->position().x()), static_cast<int32_t>(e->position().y()));
}

void TDrawWindow::mouseReleaseEvent(QMouseEvent* e) {
  FormMouseUp(e->button(), e->modifiers(), static_cast<int32_t>(e->position().x()),
              static_cast<int32_t>(e->position().y()));
}

void TDrawWindow::mouseDoubleClickEvent(QMouseEvent* e) {
  // The second press of a double-click: the double-click first, then the press, as the
  // window system delivers them.
  FormDblClick();
  if (!tearingDown_) mousePressEvent(e);
}

void TDrawWindow::wheelEvent(QWheelEvent* e) {
  // Deltas add up to whole steps of 120; turning the wheel down zooms in.
  wheelRest_ += e->angleDelta().y();
  const int32_t x = static_cast<int32_t>(e->position().x()), y = static_cast<int32_t>(e->position().y());
  while (wheelRest_ >= 120 && !tearingDown_) {
    wheelRest_ -= 120;
    FormMouseWheelUp(x, y);
  }
  while (wheelRest_ <= -120 && !tearingDown_) {
    wheelRest_ += 120;
    FormMouseWheelDown(x, y);
  }
  e->accept();
}

void TDrawWindow::keyPressEvent(QKeyEvent* e) {
  const int vk = plat::VirtualKeyOf(e);
  if (vk == 0) {
    TMDIChild::keyPressEvent(e);
    return;
  }
  FormKeyDown(vk, e->isAutoRepeat());
  e->accept();
}

void TDrawWindow::keyReleaseEvent(QKeyEvent* e) {
  if (e->isAutoRepeat()) return;
  const int vk = plat::VirtualKeyOf(e);
  if (vk != 0) FormKeyUp(vk);
  e->accept();
}

// Tab belongs to the shortcuts (it shows and hides the tool windows), not to focus moves.
bool TDrawWindow::focusNextPrevChild(bool) { return false; }

// ---- Close and teardown ---------------------------------------------------------------------------

bool TDrawWindow::CloseWindow(bool ask) {
  if (tearingDown_) return true;
  askOnClose_ = ask;
  if (QMdiSubWindow* sub = SubWindow()) sub->close();
  else close();
  askOnClose_ = true;
  return tearingDown_;
}

void TDrawWindow::closeEvent(QCloseEvent* e) {
  if (tearingDown_) {
    e->accept();
    return;
  }
  if (askOnClose_ && plat::MessageBox(msgCloseWindow, "", unsigned{plat::MB_YESNO} | plat::MB_ICONQUESTION) != plat::IDYES) {
    e->ignore();
    return;
  }
  Teardown();
  e->accept();
  // The frame goes with its child; neither is deleted while its handlers still run.
  if (!SubWindow()) deleteLater();
}

void TDrawWindow::Teardown() {
  if (tearingDown_) return;
  tearingDown_ = true;
  SetNormalState();
  if (Paper) {
    if (Paper->NetMode == 1 || NetState.Phase == npLost) {
      if (NetState.Phase == npLost)
        plat::MessageBox("サーバが落ちたので切断します。", "", unsigned{plat::MB_OK} | plat::MB_ICONINFORMATION);
      if (NetState.IsHost) {
        if (ChatWindow && ChatWindow->MemoMsg) ChatWindow->MemoMsg->appendPlainText(QString::fromUtf8("<サーバ切断>"));
        if (plat::FindWindowClass(kRoomvaneClass, 200)) {
          plat::PostWindowMessage(kRoomvaneClass, plat::TWindowMessage{plat::WM_BRINGTOFRONT, 0, 0, {}});
          plat::PostWindowMessage(kRoomvaneClass, plat::TWindowMessage{WM_NETCLOSED, 0, 0, {}});
        }
      }
      if (std::optional<std::string> file = plat::RunFileDialog(VLMain, TVLMain::EventExportDialog())) {
        Log->WriteEndMarker();
        // Success is told only when the whole log reached the file.
        if (Log->ExportToFile(*file))
          plat::MessageBox("イベントデータを保存しました。", "", unsigned{plat::MB_OK} | plat::MB_ICONINFORMATION);
        else
          plat::MessageBox("イベントデータを保存できませんでした。", "", unsigned{plat::MB_OK} | plat::MB_ICONERROR);
      }
      if (NetWindow) NetWindow->ResetSession();
    }
    Paper.reset();
    if (VLMain) VLMain->SetUpdateMode(false);
  }
  if (LayerWindow) LayerWindow->ClearList();
  if (PreviewWindow) PreviewWindow->ClearView();
  if (VLMain) VLMain->UpdateMenuItems();
}
