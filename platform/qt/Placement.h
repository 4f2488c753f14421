#pragma once
// Where top-level windows go on the desktop. A window's position is that of its outer frame;
// the frame itself is known only once the window manager has framed a shown window, so a
// window that is not framed yet is measured with the frame given to a window of its kind
// (fixed-size or sizeable) before it.
#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

namespace plat {

// The usable part of the primary screen (without panels).
QRect WorkArea();

// Whether the window manager has told the frame of `w` (a shown window on a managed desktop).
bool FrameKnown(const QWidget* w);
// The frame round `w`: its own when known, else the one learnt from a window of its kind.
QMargins FrameMargins(const QWidget* w);
// Forgets the frames learnt so far, as at the program's start (for a test that starts the
// program's windows again).
void ForgetFrames();
// The outer size of `w`, frame included.
QSize OuterSize(const QWidget* w);
// The outer rectangle of `w` on the screen.
QRect OuterRect(const QWidget* w);

// Moves `w` so that its outer rectangle lies wholly inside the work area (its top-left corner
// stays inside when it is larger than the area).
void KeepOnScreen(QWidget* w);
// Centres the outer rectangle of `w` in the work area.
void CentreOnScreen(QWidget* w);
// Centres `w` over the outer rectangle of `over` (on the screen when `over` is null or not
// shown), then keeps it on screen.
void CentreOver(QWidget* w, const QWidget* over);

// A dialog or message box opens above the program's stay-on-top tool windows: it stays on top
// itself, and so opens in the same layer as they do, above them. Call before it is shown.
void OpenAboveToolWindows(QWidget* dialog);

}  // namespace plat
