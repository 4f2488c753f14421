#pragma once
// The numeric edits of the paper dialogs: an edit that takes only digits (typed, pasted or
// from an input method) with an attached up-down control that holds its position within a
// range and writes it back into the edit.
#include <QWidget>

class QLineEdit;
class QToolButton;

class TUpDown : public QWidget {
  Q_OBJECT
 public:
  TUpDown(QLineEdit* associate, int min, int max, int position, QWidget* parent);

  QLineEdit* Associate;
  QToolButton* UpButton;
  QToolButton* DownButton;

  int Min() const { return min_; }
  int Max() const { return max_; }
  void SetRange(int min, int max);
  int Position() const { return position_; }
  // Held to the range; the edit shows the result.
  void SetPosition(int p);

 public slots:
  // One step up or down from the number the edit shows, as an arrow click does.
  void Click(bool up);

 signals:
  void Clicked(bool up);

 private:
  int min_, max_, position_;
};

// Digits only, whatever the way in; no input method.
void MakeDigitEdit(QLineEdit* edit);

// The normalisation after each key release in a numeric edit: an empty text gives 1, one to
// four digits their value, five or more `longValue`; the up-down holds the value to its range
// and the edit is rewritten with the result.
void NormaliseEdit(QLineEdit* edit, TUpDown* upDown, int longValue);
