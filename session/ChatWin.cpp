#include "session/ChatWin.h"

TChatWindow* ChatWindow = nullptr;

TChatWindow::TChatWindow(QWidget* owner) : plat::TToolWindow(owner) {
  setObjectName("ChatWindow");
  MemoMsg = new QPlainTextEdit(this);
  MemoMsg->setObjectName("MemoMsg");
  MemoMsg->setReadOnly(true);
}
TChatWindow::~TChatWindow() {
  if (ChatWindow == this) ChatWindow = nullptr;
}
