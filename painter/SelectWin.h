#pragma once
// The selection window: the paper's selection channels.
#include "platform/qt/ToolWindow.h"

class TSelectWindow : public plat::TToolWindow {
  Q_OBJECT
 public:
  explicit TSelectWindow(QWidget* owner = nullptr);
  ~TSelectWindow() override;
  void SetDefaultPosition();
};

extern TSelectWindow* SelectWindow;
