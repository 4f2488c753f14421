#include "platform/qt/TextFit.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOption>
#include <QTabBar>
#include <QTabWidget>
#include <algorithm>
#include <vector>

namespace plat {
namespace {

bool InLayout(const QWidget* w) {
  const QWidget* parent = w->parentWidget();
  return parent && parent->layout() && parent->layout()->indexOf(const_cast<QWidget*>(w)) >= 0;
}

int TextWidth(const QWidget* w, const QString& text) { return QFontMetrics(w->font()).horizontalAdvance(text); }

// The size a control has: the one given, or, while none was given, the one it takes when it
// is first shown.
QSize Base(const QWidget* w) {
  if (w->testAttribute(Qt::WA_Resized) || w->isWindow()) return w->size();
  const QSize hint = w->sizeHint();
  return hint.isValid() ? hint : w->size();
}

// The size a control needs for its own text; its own size when it has none to show.
QSize Needed(QWidget* w) {
  const QSize now = Base(w);
  QSize need = now;
  if (auto* label = qobject_cast<QLabel*>(w)) {
    if (label->text().isEmpty() || label->wordWrap()) return now;
    need = label->sizeHint();
  } else if (auto* push = qobject_cast<QPushButton*>(w)) {
    if (push->text().isEmpty()) return now;
    QStyleOptionButton opt;
    opt.initFrom(push);
    const int chrome = 2 * push->style()->pixelMetric(QStyle::PM_ButtonMargin, &opt, push) +
                       2 * push->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, push);
    const int icon = push->icon().isNull() ? 0 : push->iconSize().width() + 4;
    need = QSize(TextWidth(push, push->text()) + chrome + icon, QFontMetrics(push->font()).height() + 6);
  } else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
    if (static_cast<QAbstractButton*>(w)->text().isEmpty()) return now;
    need = w->sizeHint();
  } else if (auto* spin = qobject_cast<QAbstractSpinBox*>(w)) {
    need = spin->sizeHint();
  } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    // A spin box's or a combo box's own field is sized by its owner.
    if (qobject_cast<QAbstractSpinBox*>(w->parentWidget()) || qobject_cast<QComboBox*>(w->parentWidget())) return now;
    QStyleOptionFrame opt;
    opt.initFrom(edit);
    const int frame = edit->hasFrame() ? 2 * edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, edit) : 0;
    const QMargins m = edit->textMargins();
    const QString shown = edit->echoMode() == QLineEdit::Normal ? edit->text() : QString(edit->text().size(), QChar(0x25CF));
    // 2 pixels of the field's own margin each side, 1 for the cursor.
    need = QSize(TextWidth(edit, shown) + frame + m.left() + m.right() + 5, now.height());
  } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
    need = QSize(TextWidth(group, group->title()) + 16, now.height());
  }
  return need.expandedTo(now);
}

// A control that now ends at `right` (it grew, or was pushed) pushes along the controls that
// started right of it on the same rows and that it would now reach, keeping up to 4 pixels of
// the gap they had; they push on in turn.
void PushRight(QWidget* parent, const QWidget* moved, const QRect& was, int right) {
  for (QObject* o : parent->children()) {
    auto* s = qobject_cast<QWidget*>(o);
    if (!s || s == moved || s->isWindow() || InLayout(s)) continue;
    const QRect g(s->pos(), Base(s));
    const bool sameRows = g.top() <= was.bottom() && was.top() <= g.bottom();
    if (!sameRows || g.left() < was.right()) continue;
    const int required = right + std::min(std::max(0, g.left() - (was.right() + 1)), 4);
    if (g.left() >= required) continue;
    s->move(required, g.top());
    PushRight(parent, s, g, g.right() + 1 + (required - g.left()));
  }
}

// What `c` needs round its children, keeping the room they had to its right and bottom edges
// (`area`: the size they were placed in); its own size when none of them changed.
QSize ChildrenExtent(const QWidget* c, const std::vector<QRect>& before, QSize area) {
  int right = 0, bottom = 0, marginR = area.width(), marginB = area.height();
  bool changed = false;
  size_t i = 0;
  for (QObject* o : c->children()) {
    auto* s = qobject_cast<QWidget*>(o);
    if (!s || s->isWindow()) continue;
    const QRect was = i < before.size() ? before[i] : s->geometry();
    ++i;
    if (InLayout(s) || s->isHidden()) continue;
    changed = changed || was != s->geometry();
    marginR = std::min(marginR, std::max(0, area.width() - 1 - was.right()));
    marginB = std::min(marginB, std::max(0, area.height() - 1 - was.bottom()));
    right = std::max(right, s->geometry().right() + 1);
    bottom = std::max(bottom, s->geometry().bottom() + 1);
  }
  // Grown round children that changed, or that stuck out already.
  if (!changed && right <= area.width() && bottom <= area.height()) return area;
  return QSize(right + marginR, bottom + marginB).expandedTo(area);
}

std::vector<QRect> Geometries(const QWidget* c) {
  std::vector<QRect> out;
  for (QObject* o : c->children())
    if (auto* s = qobject_cast<QWidget*>(o); s && !s->isWindow()) out.push_back(QRect(s->pos(), Base(s)));
  return out;
}

void Resize(QWidget* w, QSize size) {
  if (size == w->size()) return;
  const bool fixed = w->minimumSize() == w->maximumSize() && w->minimumSize() == w->size();
  if (fixed) w->setFixedSize(size);
  else {
    w->setMinimumSize(w->minimumSize().boundedTo(size));
    w->resize(size);
  }
}

// Fits what `c` holds, then says what `c` itself needs.
QSize FitInside(QWidget* c);

// Fits the direct children of `c`, left to right, so that a push reaches what follows.
void FitChildren(QWidget* c) {
  std::vector<QWidget*> kids;
  for (QObject* o : c->children())
    if (auto* s = qobject_cast<QWidget*>(o); s && !s->isWindow()) kids.push_back(s);
  std::stable_sort(kids.begin(), kids.end(), [](QWidget* a, QWidget* b) { return a->x() < b->x(); });
  for (QWidget* k : kids) {
    if (InLayout(k)) continue;
    const QRect was(k->pos(), Base(k));
    const QSize need = FitInside(k);
    if (need == k->size() && k->testAttribute(Qt::WA_Resized)) continue;
    Resize(k, need);
    if (need.width() > was.width()) PushRight(c, k, was, was.left() + need.width());
  }
}

QSize FitInside(QWidget* c) {
  if (auto* tabs = qobject_cast<QTabWidget*>(c)) {
    // Each page is as wide as the pages' area: the widget grows by what its widest page lacks.
    // A page gets its size only once the widget is laid out: the pages' area is the widget
    // less its tabs and frame.
    const QSize area = tabs->size() - QSize(4, tabs->tabBar()->sizeHint().height() + 4);
    QSize grow(0, 0);
    for (int i = 0; i < tabs->count(); ++i) {
      QWidget* page = tabs->widget(i);
      const std::vector<QRect> before = Geometries(page);
      FitChildren(page);
      grow = grow.expandedTo(ChildrenExtent(page, before, area) - area);
    }
    return tabs->size() + grow;
  }
  if (qobject_cast<QStackedWidget*>(c) || qobject_cast<QAbstractSpinBox*>(c) || qobject_cast<QComboBox*>(c) ||
      qobject_cast<QAbstractItemView*>(c) || qobject_cast<QAbstractButton*>(c) || qobject_cast<QLabel*>(c) ||
      qobject_cast<QLineEdit*>(c))
    return Needed(c);
  const std::vector<QRect> before = Geometries(c);
  FitChildren(c);
  return ChildrenExtent(c, before, Base(c)).expandedTo(Needed(c));
}

}  // namespace

void FitControls(QWidget* form) {
  if (!form || form->layout()) return;
  const QSize need = FitInside(form);
  Resize(form, need);
}

void FitListRows(QListView* list, int rowHeight) {
  const int line = QFontMetrics(list->font()).height();
  list->setUniformItemSizes(true);
  list->setStyleSheet(QStringLiteral("QListView::item { height: %1px; padding: 0px; }").arg(std::max(rowHeight, line)));
}

}  // namespace plat
