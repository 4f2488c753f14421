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
  SetPosition(position);
}

void TUpDown::SetRange(int min, int max) {
  min_ = min;
  max_ = max;
  SetPosition(position_);
}

void TUpDown::SetPosition(int p) {
  position_ = std::clamp(p, min_, max_);
  if (Associate) Associate->setText(QString::number(position_));
}

void TUpDown::Click(bool up) {
  // Like a buddy control, the step starts from what the edit shows.
  bool ok = false;
  int shown = Associate ? Associate->text().toInt(&ok) : position_;
  int base = ok ? shown : position_;
  SetPosition(up ? base + 1 : base - 1);
  emit Clicked(up);
}

void MakeDigitEdit(QLineEdit* edit) {
  edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
  edit->setAttribute(Qt::WA_InputMethodEnabled, false);
  edit->setInputMethodHints(Qt::ImhDigitsOnly);
}

void NormaliseEdit(QLineEdit* edit, TUpDown* upDown, int longValue) {
  const QString t = edit->text();
  int v;
  if (t.isEmpty())
    v = 1;
  else if (t.size() <= 4)
    v = t.toInt();
  else
    v = longValue;
  upDown->SetPosition(v);
  edit->setText(QString::number(upDown->Position()));
}
