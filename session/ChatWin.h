#pragma once
// The chat window of a drawing session.
#include <QPlainTextEdit>

#include "platform/qt/ToolWindow.h"

class TChatWindow : public plat::TToolWindow {
  Q_OBJECT
 public:
  explicit TChatWindow(QWidget* owner = nullptr);
  ~TChatWindow() override;
  // The message list.
  QPlainTextEdit* MemoMsg = nullptr;
};

extern TChatWindow* ChatWindow;
