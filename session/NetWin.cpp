#include "session/NetWin.h"

TNetWindow* NetWindow = nullptr;

namespace {
QLineEdit* MakeEdit(QWidget* owner, const char* name, int maxLength, const char* text, bool password) {
  auto* e = new QLineEdit(owner);
  e->setObjectName(name);
  e->setMaxLength(maxLength);
  e->setText(QString::fromUtf8(text));
  if (password) e->setEchoMode(QLineEdit::Password);
  return e;
}
QSpinBox* MakeSpin(QWidget* owner, const char* name, int lo, int hi, int value) {
  auto* s = new QSpinBox(owner);
  s->setObjectName(name);
  s->setRange(lo, hi);
  s->setValue(value);
  return s;
}
}  // namespace

TNetWindow::TNetWindow(QWidget* owner) : plat::TToolWindow(owner) {
  setObjectName("NetWindow");
  EditServerUser = MakeEdit(this, "EditServerUser", 14, "HOTE", false);
  EditServerPassword = MakeEdit(this, "EditServerPassword", 14, "", true);
  EditIP = MakeEdit(this, "EditIP", 15, "127.0.0.1", false);
  EditClientUser = MakeEdit(this, "EditClientUser", 14, "CLIENT", false);
  EditClientPassword = MakeEdit(this, "EditClientPassword", 14, "", true);
  SpinEditNetWidth = MakeSpin(this, "SpinEditNetWidth", 1, 3000, 600);
  SpinEditNetHeight = MakeSpin(this, "SpinEditNetHeight", 1, 3000, 600);
  SpinEditPort = MakeSpin(this, "SpinEditPort", 0, 65535, 9001);
  SpinEditMaxMember = MakeSpin(this, "SpinEditMaxMember", 2, 4, 3);
  SpinEditLayer = MakeSpin(this, "SpinEditLayer", 1, 4, 2);
}
TNetWindow::~TNetWindow() {
  if (NetWindow == this) NetWindow = nullptr;
}
void TNetWindow::StartHosting() {}
void TNetWindow::StartJoining() {}
void TNetWindow::ResetSession() {}
