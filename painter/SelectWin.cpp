#include "painter/SelectWin.h"

TSelectWindow* SelectWindow = nullptr;

TSelectWindow::TSelectWindow(QWidget* owner) : plat::TToolWindow(owner) { setObjectName("SelectWindow"); }
TSelectWindow::~TSelectWindow() {
  if (SelectWindow == this) SelectWindow = nullptr;
}
void TSelectWindow::SetDefaultPosition() {}
