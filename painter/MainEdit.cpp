// The main window's edit commands and keyboard shortcuts.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <algorithm>
#include <cstring>

#include "engine/Block.h"
#include "engine/EventPacket.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/SelectMng.h"
#include "engine/Stroke.h"
#include "painter/ColorWin.h"
#include "painter/DrawWin.h"
#include "painter/LayerWin.h"
#include "painter/Localize.h"
#include "painter/Main.h"
#include "painter/PenWin2.h"
#include "painter/PreviewWin.h"
#include "painter/ToolsWin.h"
#include "platform/core/Clock.h"
#include "platform/core/KeyState.h"
#include "platform/core/MessageBox.h"

namespace {

struct BusyCursor {
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

bool Held(int vk) { return plat::IsKeyDown(vk); }

uint8_t Red(uint32_t c) { return static_cast<uint8_t>(c >> 16); }
uint8_t Green(uint32_t c) { return static_cast<uint8_t>(c >> 8); }
uint8_t Blue(uint32_t c) { return static_cast<uint8_t>(c); }

bool HasPaper(const TDrawWindow* w) { return w && w->Paper && w->Paper->Initialised && w->Paper->Layers; }

// A paper window the changing commands may act on: not playing back, not a session paper,
// and the local user not in the middle of a stroke. Qt refreshes the items' states only when
// the menu opens, so the commands check for themselves.
TDrawWindow* ChangeablePaper(TDrawWindow* w) {
  if (!HasPaper(w) || w->Playing || w->Paper->NetMode != 0 || w->OwnPacket().InStroke()) return nullptr;
  return w;
}

}  // namespace

// ---- Edit menu --------------------------------------------------------------------------------

void TVLMain::Edit1Click() {
  TDrawWindow* w = ActiveDrawWindow();
  if (!HasPaper(w)) return;
  QAction* const changing[] = {PasteItem,       PaperResolutionItem, PaperResizeItem, PaperColorItem, VFlipItem,
                               HFlipItem,       NegaPosiItem,        RotateRightItem, RotateLeftItem, Rotate180Item};
  if (w->Playing || w->Paper->NetMode != 0) {
    for (QAction* a : changing) a->setEnabled(false);
    if (w->Playing) UndoItem->setEnabled(false);
    return;
  }
  UndoItem->setEnabled(w->Paper->Layers->CanUndo(w->Paper->Layers->ActiveIndex()));
  for (QAction* a : changing) a->setEnabled(true);
}

namespace {

// The frame of the whole-paper transforms: recorded, applied, the undo histories cleared
// (recorded too), recomposited and refreshed.
template <class Record, class Apply>
void Transform(TVLMain& main, bool refit, Record record, Apply apply) {
  TDrawWindow* w = ChangeablePaper(main.ActiveDrawWindow());
  if (!w) return;
  BusyCursor busy;
  TPaper& p = *w->Paper;
  TEventPacket& rec = *w->Packets[0];
  const int32_t before = rec.Data().Size();
  record(rec);
  if (!apply(p)) {
    // Nothing changed (memory ran out): the record must not claim the change.
    rec.Data().SetSize(before);
    return;
  }
  rec.WriteClearUndoAll();
  p.Layers->ClearAllUndo();
  // A quarter turn swaps the sides the caption tells.
  w->SetCaption(p.Caption());
  // Composites the changed paper once and shows it; the preview then reads that composite.
  main.PaperChanged(refit);
  p.UpdatePreview();
}

}  // namespace

void TVLMain::VFlipItemClick() {
  Transform(*this, false, [](TEventPacket& r) { r.WriteUpsideDownVisible(); },
            [](TPaper& p) { return p.Layers->UpsideDownVisible(), true; });
}

void TVLMain::HFlipItemClick() {
  Transform(*this, false, [](TEventPacket& r) { r.WriteMirrorVisible(); },
            [](TPaper& p) { return p.Layers->MirrorVisible(), true; });
}

void TVLMain::NegaPosiItemClick() {
  Transform(*this, false, [](TEventPacket& r) { r.WriteNegaPosiVisible(); },
            [](TPaper& p) { return p.Layers->NegaPosiVisible(), true; });
}

void TVLMain::Rotate180ItemClick() {
  Transform(*this, true, [](TEventPacket& r) { r.WriteRotate180Visible(); },
            [](TPaper& p) { return p.Layers->Rotate180Visible(), true; });
}

void TVLMain::RotateRightItemClick() {
  Transform(*this, true, [](TEventPacket& r) { r.WriteRotateRight(); }, [](TPaper& p) { return p.Rotate90(1); });
}

void TVLMain::RotateLeftItemClick() {
  Transform(*this, true, [](TEventPacket& r) { r.WriteRotateLeft(); }, [](TPaper& p) { return p.Rotate90(0); });
}

void TVLMain::PaperColorItemClick() {
  TDrawWindow* w = ChangeablePaper(ActiveDrawWindow());
  if (!w || !Stroke) return;
  // The colour as the event carries it: the replay sets exactly this.
  const uint32_t colour = Stroke->Color & 0xFFFFFFu;
  w->Packets[0]->WritePaperColor(Red(colour), Green(colour), Blue(colour));
  w->Paper->Layers->SetPaperColor(colour);
  PaperChanged(false);
  if (ColorWindow) ColorWindow->Redraw(false, Stroke->Color);
}

void TVLMain::CopyItemClick() {
  TDrawWindow* w = ActiveDrawWindow();
  if (!HasPaper(w)) return;
  TPaper& p = *w->Paper;
  p.Composite();
  p.UpdatePreview();
  p.Paint(w);
  const TPixelView v = p.CompositeImage.View();
  if (v.IsEmpty()) return;
  const QImage shown(v.Bits, v.Width, v.Height, static_cast<qsizetype>(v.Stride), QImage::Format_RGB32);
  QImage copy = shown.copy();
  if (!copy.isNull()) QGuiApplication::clipboard()->setImage(copy);
  w->Redraw();
}

void TVLMain::PasteItemClick() {
  TDrawWindow* w = ChangeablePaper(ActiveDrawWindow());
  if (!w) return;
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  if (!data || !data->hasImage()) {
    plat::MessageBox(msgClipboardNotBitmap, "", unsigned{plat::MB_OK} | plat::MB_ICONWARNING);
    return;
  }
  if (plat::MessageBox(msgEventsNotExportable, "", unsigned{plat::MB_YESNO} | plat::MB_ICONQUESTION) != plat::IDYES)
    return;
  const QImage image = QGuiApplication::clipboard()->image();
  if (image.isNull()) {
    plat::MessageBox(msgClipboardNotBitmap, "", unsigned{plat::MB_OK} | plat::MB_ICONWARNING);
    return;
  }
  BusyCursor busy;
  TPaper& p = *w->Paper;
  // Only the part that lands on the paper is converted.
  const int32_t cw = std::min<int32_t>(image.width(), p.Width()), ch = std::min<int32_t>(image.height(), p.Height());
  const QImage part = image.copy(0, 0, cw, ch).convertToFormat(QImage::Format_RGB32);
  TTC bitmap;
  if (part.isNull() || !bitmap.SetSize(cw, ch)) {
    plat::MessageBox(msgClipboardNotBitmap, "", unsigned{plat::MB_OK} | plat::MB_ICONWARNING);
    return;
  }
  for (int32_t y = 0; y < ch; ++y) {
    const auto* src = reinterpret_cast<const uint32_t*>(part.constScanLine(y));
    uint32_t* dst = bitmap.Row32(y);
    for (int32_t x = 0; x < cw; ++x) dst[x] = src[x] & 0xFFFFFFu;
  }
  // The layer manager saves the whole layer as one undo step itself.
  p.Layers->SetLayerBitmap(p.Layers->ActiveIndex(), bitmap);
  p.SetEventsIncomplete(true);
  p.Composite();
  p.UpdatePreview();
  w->Redraw();
  w->SetCaption(p.Caption());
}

// ---- Keyboard shortcuts ---------------------------------------------------------------------------

void TVLMain::HandleKey(int key) {
  // 1. Tab shows or hides the five tool windows while the program is in front. With Ctrl it is
  // the switch to the next paper window, and leaves the tool windows as they are.
  if (key == plat::VK_TAB && !Held(plat::VK_CONTROL)) {
    QWidget* active = QApplication::activeWindow();
    const bool ours = active && (active == this || active == LayerWindow || active == ColorWindow ||
                                 active == ToolsWindow || active == PreviewWindow || active == PenWindow2);
    if (ours) {
      QWidget* const five[] = {ToolsWindow, PenWindow2, ColorWindow, LayerWindow, PreviewWindow};
      for (QWidget* f : five)
        if (f) f->setVisible(!ToolWindowsShown);
      ToolWindowsShown = !ToolWindowsShown;
    }
    LastTabTime = timeGetTime();
  }
  TDrawWindow* w = ActiveDrawWindow();
  if (!HasPaper(w)) w = nullptr;
  // 2. Nothing else during a local stroke.
  if (w && w->OwnPacket().InStroke()) return;

  // 3. Tool keys.
  TToolKind tool = tkPen;
  bool isTool = true;
  switch (key) {
    case 'B': tool = tkPen; break;
    case 'N': tool = tkLine; break;
    case 'I': tool = tkSpoit; break;
    case 'V': tool = tkMove; break;
    case 'H': tool = tkHand; break;
    case 'X': tool = tkRect; break;
    default: isTool = false; break;
  }
  if (isTool) {
    if (!ToolsWindow) return;
    TToolMode& mode = ToolsWindow->Mode;
    const bool wasMoving = mode.MoveState == dsDragging;
    mode.SetTool(tool);
    if (key == 'X') mode.SetFill(false);
    ToolsWindow->FormPaint();
    if (w) {
      w->ShowRubberBand({});
      // A dropped layer move must not stay on screen at its offset.
      if (wasMoving)
        w->RecompositeAll();
      else
        w->Redraw();
    }
    return;
  }

  // 4. Brush presets.
  if ((key == 'E' || key == 'R') && PenWindow2 && Stroke) {
    const int32_t index = PenWindow2->PresetIndex();
    if (key == 'E' && index != 0) {
      const int32_t n = PenWindow2->PrevPreset();
      Stroke->LoadPreset(Stroke->Kind, n + 1);
      PenWindow2->Redraw(*Stroke, true);
    } else if (key == 'R' && index != 4) {
      const int32_t n = PenWindow2->NextPreset();
      Stroke->LoadPreset(Stroke->Kind, n + 1);
      PenWindow2->Redraw(*Stroke, true);
    }
    return;
  }

  // 5. Brush icons.
  int icon = -1;
  switch (key) {
    case 'A': icon = 0; break;
    case 'S': icon = 1; break;
    case 'D': icon = 2; break;
    case 'F': icon = 3; break;
    default: break;
  }
  if (icon >= 0) {
    if (PenWindow2 && Stroke) {
      PenWindow2->SelectBrush(icon);
      // The caption names the brush now chosen.
      PenWindow2->Redraw(*Stroke, true);
    }
    return;
  }

  // 6. The rest needs a paper window.
  if (!w) return;
  TPaper& p = *w->Paper;

  // 7. Zoom about the centre of the view.
  const bool ctrl = Held(plat::VK_CONTROL), alt = Held(plat::VK_MENU);
  const bool zoomIn = (ctrl && (key == plat::VK_ADD || key == 0xBB)) || key == 0x74;
  const bool zoomOut = (ctrl && (key == plat::VK_SUBTRACT || key == 0xBD)) || key == 0x75;
  if (zoomIn || zoomOut) {
    if (!alt || !w->IsNormalState()) {
      // The middle of the view stays where it is: the other key gives the same view back.
      w->ZoomAround(zoomIn, w->ClientWidth() / 2, w->ClientHeight() / 2);
      return;
    }
    int32_t cx = 0, cy = 0;
    p.Display.CentrePoint(w->ClientWidth(), w->ClientHeight(), cx, cy);
    if (zoomIn && p.Display.CanZoomIn()) w->ZoomInAt(alt, cx, cy);
    if (zoomOut && p.Display.CanZoomOut()) w->ZoomOutAt(alt, cx, cy);
    return;
  }

  // 8. Nothing below during a playback.
  if (w->Playing || w->OwnPacket().InStroke()) return;
  TLayerMng& layers = *p.Layers;
  const int32_t active = layers.ActiveIndex();
  TEventPacket& own = w->OwnPacket();

  switch (key) {
    case plat::VK_DELETE:  // 9. clear the active layer
      layers.PushUndo(active);
      own.WriteClearLayer(static_cast<uint8_t>(active));
      layers.ClearLayer(active);
      p.Composite();
      p.UpdatePreview();
      p.Paint(w);
      break;
    case plat::VK_INSERT: {  // 10. fill the active layer through the selection
      const uint32_t colour = Stroke ? Stroke->Color & 0xFFFFFFu : 0;
      layers.PushUndo(active);
      own.WriteFillSelection(static_cast<uint8_t>(active), Red(colour), Green(colour), Blue(colour));
      layers.FillSelection(p.Selection->GetCurrentSlot(), active, colour);
      p.Composite();
      p.UpdatePreview();
      p.Paint(w);
      break;
    }
    case plat::VK_SHIFT: {  // 11. pick the colour under the mouse
      if (!Stroke) break;
      const TPoint screen = CursorScreenPos();
      const QPoint client = w->mapFromGlobal(QPoint(screen.X, screen.Y));
      TPoint pt{client.x(), client.y()};
      p.Display.WindowToPaper(w->ClientWidth(), w->ClientHeight(), pt);
      uint32_t colour;
      if (ctrl) {
        const TBlockImage* image = layers.LayerImage(active);
        const bool inside = pt.X >= 0 && pt.Y >= 0 && pt.X < p.Width() && pt.Y < p.Height();
        colour = image ? (inside ? image->GetPixel(pt.X, pt.Y) : image->BackColour()) : 0;
      } else {
        colour = p.CompositeImage.GetPixel(pt.X, pt.Y);
      }
      if (colour != Stroke->Color) {
        Stroke->SetColor(colour);
        if (ColorWindow) {
          ColorWindow->FindColor(colour);
          ColorWindow->Redraw(false, colour);
        }
      }
      break;
    }
    default:
      break;
  }
}
