#include "painter/ResoWin.h"

TResoWindow* ResoWindow = nullptr;

TResoWindow::TResoWindow(QWidget* owner) : QDialog(owner) { setObjectName("ResoWindow"); }
TResoWindow::~TResoWindow() {
  if (ResoWindow == this) ResoWindow = nullptr;
}
