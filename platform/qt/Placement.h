#pragma once
// Where top-level windows go on the desktop. A window's position is that of its outer frame;
// the frame itself is known only once the window manager has framed a shown window, so a
// window that is not framed yet is measured with the frame given to a window of its kind
// (fixed-size or sizeable) before it.
#include <QMargins>
#include <QRect>
#include <QSize>

class QPushButton;
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

// Puts `w` beside `anchor` with the same top: on its left (or right) side where it lies wholly
// on the screen there, else on the other side where it does, else as near as the screen
// allows.
void PlaceBeside(QWidget* w, const QWidget* anchor, bool left);

// A dialog or message box opens above the program's stay-on-top tool windows: it stays on top
// itself, and so opens in the same layer as they do, above them. Call before it is shown.
void OpenAboveToolWindows(QWidget* dialog);

// Remembers the state `w` had before each minimise, so that a restore brings that state back
// (a maximised window comes back maximised, whatever the window system keeps of it).
void RememberRestoreState(QWidget* w);
// Restores a minimised `w` (a top-level window or an MDI sub-window) to its state before the
// minimise; a window that is not minimised is left alone.
void RestoreMinimised(QWidget* w);

// Shows `w` in front and makes it the active window with the focus in `focus`: at once when it
// is on the screen already, else once the window system shows it (an activation asked for
// before that is lost).
void ShowActive(QWidget* w, QWidget* focus);

// Each opening of a dialog starts alike, whatever had the focus when it last closed: `ok` is
// the default button and the focus is in `first` (its text selected). Call from showEvent.
void StartDialog(QPushButton* ok, QWidget* first);

}  // namespace plat
