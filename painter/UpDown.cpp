#include "painter/UpDown.h"

#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

TUpDown::TUpDown(QLineEdit* associate, int min, int max, int position, QWidget* parent)
    : QWidget(parent), Associate(associate), min_(min), max_(max), position_(min) {
  auto* box = new QVBoxLayout(this);
  box->setContentsMargins(0, 0, 0, 0);
  box->setSpacing(0);
  UpButton = new QToolButton(this);
  UpButton->setObjectName("Up");
  UpButton->setArrowType(Qt::UpArrow);
  DownButton = new QToolButton(this);
  DownButton->setObjectName("Down");
  DownButton->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {UpButton, DownButton}) {
    b->setAutoRepeat(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setFixedSize(16, 10);
    box->addWidget(b);
  }
  setFixedSize(16, 20);
  connect(UpButton, &QToolButton::clicked, this, [this] { Click(true); });
  connect(DownButton, &QToolButton::clicked, this, [this] { Click(false); });
  if (Associate) {
    connect(Associate, &QLineEdit::textEdited, this, [this](const QString& text) {
      typing_ = true;
      position_ = ValueOf(text);
      emit Edited();
    });
    connect(Associate, &QLineEdit::editingFinished, this, &TUpDown::Commit);
  }
  SetPosition(position);
}

void TUpDown::SetRange(int min, int max) {
  min_ = min;
  max_ = max;
  SetPosition(position_);
}

void TUpDown::SetPosition(int p) {
  position_ = std::clamp(p, min_, max_);
  typing_ = false;
  if (Associate) Associate->setText(QString::number(position_));
}

void TUpDown::Commit() {
  if (!typing_) return;
  SetPosition(position_);
  emit Committed();
}

int TUpDown::ValueOf(const QString& text) const {
  qsizetype first = 0;
  while (first < text.size() && text[first] == u'0') ++first;
  const QString digits = text.mid(first);
  if (first == 0 && digits.isEmpty()) return min_;
  // More digits than an int holds is beyond any range.
  if (digits.size() > 9) return max_;
  bool ok = true;
  const int v = digits.isEmpty() ? 0 : digits.toInt(&ok);
  return ok ? std::clamp(v, min_, max_) : min_;
}

void TUpDown::Click(bool up) {
  // The position already follows what the edit shows.
  SetPosition(up ? position_ + 1 : position_ - 1);
  emit Clicked(up);
}

void MakeDigitEdit(QLineEdit* edit) {
  edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
  edit->setAttribute(Qt::WA_InputMethodEnabled, false);
  edit->setInputMethodHints(Qt::ImhDigitsOnly);
}
