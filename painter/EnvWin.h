#pragma once
// the environment dialog.
#include <QDialog>

class TEnvWindow : public QDialog {
  Q_OBJECT
 public:
  explicit TEnvWindow(QWidget* owner = nullptr);
  ~TEnvWindow() override;
};

extern TEnvWindow* EnvWindow;
