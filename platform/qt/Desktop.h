#pragma once
// Small desktop services: the busy cursor, dropped files, screen metrics and the UI font.
#include <QFont>
#include <string>
#include <vector>

class QMimeData;

namespace plat {

// Sets up the Qt side of the platform for a program, once its QApplication exists: the key
// tracker, the message dialog and the screen width that the view's scroll range uses.
void InstallQtPlatform();

// The program's title: the default caption of message boxes, and what the window system shows
// for a window without a caption of its own. Window captions stand as they are set (Qt's
// display name would be appended to every one of them on X11, so it is left unset).
void SetApplicationTitle(const std::string& title);
std::string ApplicationTitle();

// The hourglass for the lifetime of the object (nested uses stack).
class TBusyCursor {
 public:
  TBusyCursor();
  ~TBusyCursor();
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};

// Local paths (UTF-8) of the files and folders in a drop, in the order given; URLs that are
// not local files are left out.
std::vector<std::string> DroppedPaths(const QMimeData* mime);
// True when a drag carries at least one local path (a window that takes drops accepts it).
bool HasDroppedPaths(const QMimeData* mime);

enum TSystemMetric : int { SM_CXSCREEN = 0, SM_CYSCREEN = 1, SM_CXFULLSCREEN = 16, SM_CYFULLSCREEN = 17 };
// The primary screen's size, or its usable area for the full-screen metrics.
int GetSystemMetrics(int index);
// A strip along the bottom of the usable area kept free for the main window's status bar
// (maximised, the main window runs to that edge): the tool windows' default places end
// above it. ToolAreaHeight is the usable height less that strip.
void ReserveBottomStrip(int pixels);
int ToolAreaHeight();

// The Japanese UI font of the forms: the free proportional gothic that stands in for the forms'
// own font (Debian's fonts-ipafont-gothic), asked for by family at that pixel height, with the
// system's sans family as fallback.
constexpr char kUiFontFamily[] = "IPAPGothic";
QFont UiFont(int pixelHeight = 12);

// With VELLORA_DESKTOP_LOG=FILE, appends one line of what the program took from the desktop
// (the family the forms' font resolved to, the toolkit's language), for tests of the real
// program; nothing otherwise.
void LogDesktop(const std::string& line);

// The extension of a path with its dot, upper-cased ASCII (".WPE"); empty without one. Only
// the last path component counts.
std::string UpperExtension(const std::string& path);
// The last component of a path.
std::string FileNameOf(const std::string& path);

}  // namespace plat
