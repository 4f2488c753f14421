#pragma once
// The new-paper dialog: a size per tab ("*1".."*5", remembered in the settings) or the size
// of the picture in the clipboard; OK opens a new paper window of that size.
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QTabBar;
class TUpDown;

class TNewWindow : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kClipboardTab = 5;

  explicit TNewWindow(QWidget* owner = nullptr);
  ~TNewWindow() override;

  QTabBar* TabControl1;
  QLabel *Label1, *Label2, *Label3, *Label4;
  QLineEdit* EditWidth;
  TUpDown* UpDownWidth;
  QLineEdit* EditHeight;
  TUpDown* UpDownHeight;
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;

 public slots:
  void FormActivate();
  void TabControl1Change();
  void BitBtn1Click();
  void BitBtn2Click();

 protected:
  void showEvent(QShowEvent* e) override;
};

extern TNewWindow* NewWindow;
