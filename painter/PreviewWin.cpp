#include "painter/PreviewWin.h"

TPreviewWindow* PreviewWindow = nullptr;

TPreviewWindow::TPreviewWindow(QWidget* owner) : plat::TToolWindow(owner) { setObjectName("PreviewWindow"); }
TPreviewWindow::~TPreviewWindow() {
  if (PreviewWindow == this) PreviewWindow = nullptr;
}
void TPreviewWindow::DrawPreview() {}
void TPreviewWindow::TrackDrag() {}
void TPreviewWindow::ClearView() {}
void TPreviewWindow::SetDefaultPosition() {}
