#pragma once
// The network window: hosting and joining a drawing session.
#include <QLineEdit>
#include <QSpinBox>

#include "platform/qt/ToolWindow.h"

class TNetWindow : public plat::TToolWindow {
  Q_OBJECT
 public:
  explicit TNetWindow(QWidget* owner = nullptr);
  ~TNetWindow() override;

  QLineEdit* EditServerUser = nullptr;
  QLineEdit* EditServerPassword = nullptr;
  QLineEdit* EditIP = nullptr;
  QLineEdit* EditClientUser = nullptr;
  QLineEdit* EditClientPassword = nullptr;
  QSpinBox* SpinEditNetWidth = nullptr;
  QSpinBox* SpinEditNetHeight = nullptr;
  QSpinBox* SpinEditPort = nullptr;
  QSpinBox* SpinEditMaxMember = nullptr;
  QSpinBox* SpinEditLayer = nullptr;

  void StartHosting();
  void StartJoining();
  void ResetSession();
};

extern TNetWindow* NetWindow;
