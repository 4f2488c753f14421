#pragma once
// The preview window: the whole active paper reduced, with the view's marker.
#include "platform/qt/ToolWindow.h"

class TPreviewWindow : public plat::TToolWindow {
  Q_OBJECT
 public:
  explicit TPreviewWindow(QWidget* owner = nullptr);
  ~TPreviewWindow() override;
  bool NeedsFit = true;
  void DrawPreview();
  void TrackDrag();
  void ClearView();
  void SetDefaultPosition();
};

extern TPreviewWindow* PreviewWindow;
