#pragma once
// What the layer, brush and colour windows ask of the painter: the paper window they act on,
// whether it plays back, and whether the local user is in the middle of a stroke (then they
// change nothing, so that a stroke is drawn with the values it records).
#include <cstdint>

class TDrawWindow;
class TPaper;
class TStroke;

namespace toolwin {

// The active paper window with its paper; none without one.
TDrawWindow* ActivePaperWindow();
TPaper* ActivePaper();
// The main window's current brush; none before the main window exists.
TStroke* CurrentBrush();
bool ActivePlaying();
// Some paper window's own recorder holds an open stroke.
bool OwnStrokeOpen();

}  // namespace toolwin
