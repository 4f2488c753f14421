#include "painter/ToolWinShared.h"

#include "engine/EventPacket.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "painter/DrawWin.h"
#include "painter/Main.h"

namespace toolwin {

TDrawWindow* ActivePaperWindow() {
  if (!VLMain) return nullptr;
  TDrawWindow* dw = VLMain->ActiveDrawWindow();
  return dw && dw->Paper && dw->Paper->Layers ? dw : nullptr;
}

TPaper* ActivePaper() {
  TDrawWindow* dw = ActivePaperWindow();
  return dw ? dw->Paper.get() : nullptr;
}

TStroke* CurrentBrush() { return VLMain ? VLMain->Stroke.get() : nullptr; }

bool ActivePlaying() {
  TDrawWindow* dw = ActivePaperWindow();
  return dw && dw->Playing;
}

bool OwnStrokeOpen() {
  if (!VLMain) return false;
  for (TDrawWindow* dw : VLMain->DrawWindows())
    if (dw->OwnPacket().InStroke()) return true;
  return false;
}

}  // namespace toolwin
