#pragma once
// the new-paper dialog.
#include <QDialog>

class TNewWindow : public QDialog {
  Q_OBJECT
 public:
  explicit TNewWindow(QWidget* owner = nullptr);
  ~TNewWindow() override;
};

extern TNewWindow* NewWindow;
