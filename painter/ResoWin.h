#pragma once
// The resolution dialog: resamples the paper to a new size given in pixels or in per cent,
// optionally keeping the aspect ratio.
#include <QDialog>
#include <cstdint>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QWidget;
class TUpDown;

class TResoWindow : public QDialog {
  Q_OBJECT
 public:
  explicit TResoWindow(QWidget* owner = nullptr);
  ~TResoWindow() override;

  QTabWidget* PageControl1;
  QWidget* TabSheet1;
  QWidget* TabSheet2;
  QLineEdit *EditPixelX, *EditPixelY, *EditPerX, *EditPerY;
  TUpDown *UpDownPixelX, *UpDownPixelY, *UpDownPerX, *UpDownPerY;
  QLabel *LabelWidth, *LabelHeight, *LabelWidth2, *LabelHeight2;
  QCheckBox* CheckFixed;
  QLabel* LabelCaution;
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;

  // 1 when a width (pixel or per cent) was edited last, 0 for a height.
  uint8_t LastAxisX = 1;

 public slots:
  void FormActivate();
  void Recalc();
  void BitBtn1Click();
  void BitBtn2Click();

 protected:
  void showEvent(QShowEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
};

extern TResoWindow* ResoWindow;
