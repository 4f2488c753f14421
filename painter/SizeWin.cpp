#include "painter/SizeWin.h"

TSizeWindow* SizeWindow = nullptr;

TSizeWindow::TSizeWindow(QWidget* owner) : QDialog(owner) { setObjectName("SizeWindow"); }
TSizeWindow::~TSizeWindow() {
  if (SizeWindow == this) SizeWindow = nullptr;
}
