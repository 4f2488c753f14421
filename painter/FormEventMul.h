#pragma once
// The import magnification dialog, created for each import.
#include <QDialog>

class TFormEventMul : public QDialog {
  Q_OBJECT
 public:
  explicit TFormEventMul(QWidget* owner = nullptr);
  ~TFormEventMul() override;
  // The magnification chosen.
  float Magnification() const;
};
