// vellpaint: the painter. One instance per user: a second start hands its file to the running
// main window, brings that window to the front and ends.
#include <memory>
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>

#include "painter/ChatWin.h"
#include "painter/ColorWin.h"
#include "painter/Forms.h"
#include "painter/LayerWin.h"
#include "painter/Main.h"
#include "painter/NetWin.h"
#include "painter/PenWin2.h"
#include "painter/PreviewWin.h"
#include "painter/SelectWin.h"
#include "painter/ToolsWin.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/Placement.h"
#include "platform/qt/SingleInstance.h"
#include "platform/qt/WindowMessages.h"

namespace {

// The tool windows' default places depend on one another's frames, which the window manager
// gives a window only once it is shown. The windows that have no saved place are put at their
// defaults again, in the order the menu command uses, once every shown tool window has its
// frame; on a desktop that gives no frames, after a while.
void PlaceToolWindowsWhenFramed() {
  constexpr int kPollMs = 50, kLongestMs = 3000;
  auto* timer = new QTimer(VLMain);
  // Owned by the handler, so a quit before the end frees it too.
  auto waited = std::make_shared<QElapsedTimer>();
  waited->start();
  QObject::connect(timer, &QTimer::timeout, timer, [timer, waited] {
    bool framed = true;
    for (const QWidget* w : std::initializer_list<const QWidget*>{PenWindow2, ColorWindow, LayerWindow, PreviewWindow, ToolsWindow})
      if (w && w->isVisible() && !plat::FrameKnown(w)) framed = false;
    if (!framed && waited->elapsed() < kLongestMs) return;
    timer->stop();
    timer->deleteLater();
    if (PenWindow2 && !PenWindow2->HasSavedPlace()) PenWindow2->SetDefaultPosition();
    if (ColorWindow && !ColorWindow->HasSavedPlace()) ColorWindow->SetDefaultPosition();
    if (LayerWindow && !LayerWindow->HasSavedPlace()) LayerWindow->SetDefaultPosition();
    if (PreviewWindow && !PreviewWindow->HasSavedPlace()) PreviewWindow->SetDefaultPosition();
    if (ToolsWindow && !ToolsWindow->HasSavedPlace()) ToolsWindow->SetDefaultPosition();
    if (SelectWindow && !SelectWindow->HasSavedPlace()) SelectWindow->SetDefaultPosition();
    // Not shown yet: placed with the frames that the tool windows were given.
    if (ChatWindow) ChatWindow->SetDefaultPosition();
    if (NetWindow) NetWindow->SetDefaultPosition();
  });
  timer->start(kPollMs);
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::string> argument;
  if (argc > 1) argument = argv[1];

  plat::TNamedMutex mutex("VeryRareString");
  if (mutex.AlreadyExists()) {
    QCoreApplication app(argc, argv);
    // The running instance has a working folder of its own: it gets the path in full, with
    // the name's bytes as they are (a name from an old archive need not be UTF-8).
    if (argument && !argument->empty()) {
      std::error_code failed;
      const std::filesystem::path full = std::filesystem::absolute(*argument, failed);
      if (!failed) argument = full.string();
    }
    // The first instance may still be starting: its window is waited for a little, then the
    // start ends silently.
    QElapsedTimer waited;
    waited.start();
    while (!plat::FindWindowClass("TVLMain", 200)) {
      if (waited.elapsed() > 5000) return 0;
      QThread::msleep(100);
    }
    plat::HandOverToRunningInstance("TVLMain", argument);
    return 0;
  }

  QApplication app(argc, argv);
  // Every pointer position of a drag is a point of its stroke. The window system layer merges
  // the moves that queue up while the program is busy, even across a button's press and
  // release, which cuts a stroke down to its release point. Its default is set as the
  // application is made, so this comes after.
  QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, false);
  plat::InstallQtPlatform();
  plat::SetApplicationTitle("Vellora1.1");
  if (argument) CommandLineFile = argument;

  CreateForms();
  TVLMain* vlMain = VLMain;
  vlMain->show();
  // The tool box, brush, colour, layer and preview windows are open from the start.
  for (QWidget* w : std::initializer_list<QWidget*>{PenWindow2, ColorWindow, LayerWindow, PreviewWindow, ToolsWindow})
    if (w) w->show();
  PlaceToolWindowsWhenFramed();
  // The first activation opens the recovered and the command-line files; should the window
  // system never activate the window, it runs once the loop runs.
  QTimer::singleShot(500, vlMain, [vlMain] {
    if (vlMain->FirstActivation) vlMain->AppActivate();
  });
  const int rc = app.exec();
  DestroyForms();
  mutex.Release();
  return rc;
}
