#include "painter/Forms.h"

#include "painter/ColorWin.h"
#include "painter/EnvWin.h"
#include "painter/EzHelpWin.h"
#include "painter/LayerWin.h"
#include "painter/Main.h"
#include "painter/NewWin.h"
#include "painter/PenWin2.h"
#include "painter/PreviewWin.h"
#include "painter/ResoWin.h"
#include "painter/SelectWin.h"
#include "painter/SizeWin.h"
#include "painter/ToolsWin.h"
#include "painter/ChatWin.h"
#include "painter/NetWin.h"

void CreateForms() {
  auto* main = new TVLMain;
  PenWindow2 = new TPenWindow2(main);
  ColorWindow = new TColorWindow(main);
  LayerWindow = new TLayerWindow(main);
  PreviewWindow = new TPreviewWindow(main);
  SizeWindow = new TSizeWindow(main);
  NewWindow = new TNewWindow(main);
  ResoWindow = new TResoWindow(main);
  EnvWindow = new TEnvWindow(main);
  EzHelpWindow = new TEzHelpWindow(main);
  ToolsWindow = new TToolsWindow(main);
  ChatWindow = new TChatWindow(main);
  NetWindow = new TNetWindow(main);
  SelectWindow = new TSelectWindow(main);
}

namespace {
template <class T>
void Free(T*& form) {
  T* f = form;
  form = nullptr;
  delete f;
}
}  // namespace

void DestroyForms() {
  Free(SelectWindow);
  Free(NetWindow);
  Free(ChatWindow);
  Free(ToolsWindow);
  Free(EzHelpWindow);
  Free(EnvWindow);
  Free(ResoWindow);
  Free(NewWindow);
  Free(SizeWindow);
  Free(PreviewWindow);
  Free(LayerWindow);
  Free(ColorWindow);
  Free(PenWindow2);
  Free(VLMain);
}
