#include "painter/EnvWin.h"

TEnvWindow* EnvWindow = nullptr;

TEnvWindow::TEnvWindow(QWidget* owner) : QDialog(owner) { setObjectName("EnvWindow"); }
TEnvWindow::~TEnvWindow() {
  if (EnvWindow == this) EnvWindow = nullptr;
}
