#pragma once
// The short help window: the keyboard shortcuts in the chosen language.
#include "platform/qt/ToolWindow.h"

class TEzHelpWindow : public plat::TToolWindow {
  Q_OBJECT
 public:
  explicit TEzHelpWindow(QWidget* owner = nullptr);
  ~TEzHelpWindow() override;
};

extern TEzHelpWindow* EzHelpWindow;
