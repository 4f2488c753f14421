#include "painter/ToolsWin.h"

TToolsWindow* ToolsWindow = nullptr;

TToolsWindow::TToolsWindow(QWidget* owner) : plat::TToolWindow(owner) {
  setObjectName("ToolsWindow");
  resize(63, 151);
}
TToolsWindow::~TToolsWindow() {
  if (ToolsWindow == this) ToolsWindow = nullptr;
}
void TToolsWindow::SetDefaultPosition() {}
