#pragma once
// The import magnification dialog, created for each import of an event file: the recording
// plays at its own size or at a chosen magnification.
#include <QDialog>

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

class TFormEventMul : public QDialog {
  Q_OBJECT
 public:
  explicit TFormEventMul(QWidget* owner = nullptr);
  ~TFormEventMul() override;

  QGroupBox* RadioGroup1;
  QButtonGroup* RadioGroup1Items;
  QRadioButton *RadioItem0, *RadioItem1;
  QGroupBox* GroupBox1;
  QComboBox* ComboBox1;
  QLabel *Label3, *Label1, *Label2;
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;

  // The magnification chosen: 1.0 for the first radio item, else the combo entry's.
  float Magnification() const;
  // The magnification of a combo index: 0.5, 2.0, 3.0, 4.0, 5.0; 1.0 for any other index.
  static float ComboMagnification(int index);

 public slots:
  void FormCreate();
  void RadioGroup1Click();

 protected:
  void showEvent(QShowEvent* e) override;
};
