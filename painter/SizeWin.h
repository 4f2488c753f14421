#pragma once
// The canvas size dialog: a new paper size and the anchor of the old picture inside it.
#include <QDialog>
#include <array>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class TUpDown;

class TSizeWindow : public QDialog {
  Q_OBJECT
 public:
  explicit TSizeWindow(QWidget* owner = nullptr);
  ~TSizeWindow() override;

  QLineEdit* EditWidth;
  TUpDown* UpDownWidth;
  QLineEdit* EditHeight;
  TUpDown* UpDownHeight;
  QLabel *LabelWidth, *LabelHeight, *Label1, *Label2;
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;
  // RadioButton1..RadioButton9: anchors 0 (top left) to 8 (bottom right).
  std::array<QRadioButton*, 9> RadioButtons{};

  // The anchor of the checked button, 4 when none is checked.
  int Anchor() const;

 public slots:
  void FormActivate();
  void BitBtn1Click();
  void BitBtn2Click();

 protected:
  void showEvent(QShowEvent* e) override;
};

extern TSizeWindow* SizeWindow;

// The whole-paper refresh after the size or resolution dialogs: ecClearUndoAll recorded and
// every layer's undo cleared, the caption, the window fitted at (0, 0) when in the normal
// state, everything recomposited, the layer list and the preview told.
class TDrawWindow;
void FinishPaperDialog(TDrawWindow* win);
// True when the size dialogs may change the paper of the window: it exists, it is no network
// paper (a member's record is the host's stream) and it plays nothing back.
bool PaperDialogAllowed(const TDrawWindow* win);
