#include "painter/ColorWin.h"

TColorWindow* ColorWindow = nullptr;

TColorWindow::TColorWindow(QWidget* owner) : plat::TToolWindow(owner) { setObjectName("ColorWindow"); }
TColorWindow::~TColorWindow() {
  if (ColorWindow == this) ColorWindow = nullptr;
}
uint32_t TColorWindow::Redraw(bool, uint32_t colour) { return colour; }
void TColorWindow::FindColor(uint32_t) {}
void TColorWindow::SetDefaultPosition() {}
