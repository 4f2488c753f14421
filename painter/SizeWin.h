#pragma once
// the paper resize dialog.
#include <QDialog>

class TSizeWindow : public QDialog {
  Q_OBJECT
 public:
  explicit TSizeWindow(QWidget* owner = nullptr);
  ~TSizeWindow() override;
};

extern TSizeWindow* SizeWindow;
