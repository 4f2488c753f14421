#pragma once
// The numeric edits of the paper dialogs: an edit that takes only digits (typed, pasted or
// from an input method) with an attached up-down control that holds its position within a
// range. While the user types, the edit keeps the text as typed and the position follows it,
// held to the range; the text is rewritten with the position only when the edit is left, on
// Return, or when the dialog takes the value.
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
  // Held to the range; the edit shows the result and any typing there ends.
  void SetPosition(int p);
  // The user has typed in the edit since its text was last written.
  bool Typing() const { return typing_; }
  // The edit's value is taken: its text becomes the held position.
  void Commit();

  // The value a text stands for: no digits the minimum, else its number held to the range.
  int ValueOf(const QString& text) const;

 public slots:
  // One step up or down from the number the edit shows, as an arrow click does.
  void Click(bool up);

 signals:
  void Clicked(bool up);
  // The user changed the text; the position follows it.
  void Edited();
  // The edit was left (or Return pressed) and shows its held value.
  void Committed();

 private:
  int min_, max_, position_;
  bool typing_ = false;
};

// Digits only, whatever the way in; no input method.
void MakeDigitEdit(QLineEdit* edit);
