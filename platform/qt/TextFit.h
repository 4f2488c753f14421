#pragma once
// The forms are laid out by hand for one font and one language. After their texts change (the
// language switch) or on a font that is wider than the one they were made for, every label,
// button, check box, field and group shows its whole text at the form's own font: a control
// too small for its text grows, the controls to its right on the same row move along, and a
// container or the form grows round what it holds. Sizes set by hand are a minimum; nothing
// shrinks and no font is made smaller. Controls placed by a layout are the layout's.
class QListView;
class QWidget;

namespace plat {

void FitControls(QWidget* form);

// A list whose rows are given a fixed height: each row at least as tall as its font's line.
void FitListRows(QListView* list, int rowHeight);

}  // namespace plat
