#include "painter/LayerWin.h"

TLayerWindow* LayerWindow = nullptr;

TLayerWindow::TLayerWindow(QWidget* owner) : plat::TToolWindow(owner) { setObjectName("LayerWindow"); }
TLayerWindow::~TLayerWindow() {
  if (LayerWindow == this) LayerWindow = nullptr;
}
void TLayerWindow::DrawLayers(TPaper*) {}
void TLayerWindow::ClearList() {}
void TLayerWindow::SetDefaultPosition() {}
