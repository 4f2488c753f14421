#include "painter/EzHelpWin.h"

TEzHelpWindow* EzHelpWindow = nullptr;

TEzHelpWindow::TEzHelpWindow(QWidget* owner) : plat::TToolWindow(owner) { setObjectName("EzHelpWindow"); }
TEzHelpWindow::~TEzHelpWindow() {
  if (EzHelpWindow == this) EzHelpWindow = nullptr;
}
