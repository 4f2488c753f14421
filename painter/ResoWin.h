#pragma once
// the resolution dialog.
#include <QDialog>

class TResoWindow : public QDialog {
  Q_OBJECT
 public:
  explicit TResoWindow(QWidget* owner = nullptr);
  ~TResoWindow() override;
};

extern TResoWindow* ResoWindow;
