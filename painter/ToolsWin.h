#pragma once
// The tool box: picks the tool mode that the paper windows apply.
#include "painter/ToolMode.h"
#include "platform/qt/ToolWindow.h"

class TToolsWindow : public plat::TToolWindow {
  Q_OBJECT
 public:
  explicit TToolsWindow(QWidget* owner = nullptr);
  ~TToolsWindow() override;
  TToolMode Mode;
  void SetDefaultPosition();
};

extern TToolsWindow* ToolsWindow;
