#include "painter/NewWin.h"

TNewWindow* NewWindow = nullptr;

TNewWindow::TNewWindow(QWidget* owner) : QDialog(owner) { setObjectName("NewWindow"); }
TNewWindow::~TNewWindow() {
  if (NewWindow == this) NewWindow = nullptr;
}
