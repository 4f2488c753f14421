#pragma once
// The short help window: the keyboard shortcuts in the chosen language (the language switch
// writes the memo's lines).
#include "platform/qt/ToolWindow.h"

class QPlainTextEdit;
class QTabWidget;

class TEzHelpWindow : public plat::TToolWindow {
  Q_OBJECT
 public:
  explicit TEzHelpWindow(QWidget* owner = nullptr);
  ~TEzHelpWindow() override;

  QTabWidget* PageControl1;
  QWidget* TabSheet1;
  QPlainTextEdit* Memo1;

 protected:
  // Opens centred on the screen the first time; later it opens where the user left it.
  void showEvent(QShowEvent* e) override;

 private:
  bool placed_ = false;
};

extern TEzHelpWindow* EzHelpWindow;
