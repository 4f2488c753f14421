// vellpaint: the painter. One instance per user: a second start hands its file to the running
// main window, brings that window to the front and ends.
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>

#include "painter/Forms.h"
#include "painter/ColorWin.h"
#include "painter/LayerWin.h"
#include "painter/Main.h"
#include "painter/PenWin2.h"
#include "painter/PreviewWin.h"
#include "painter/ToolsWin.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/SingleInstance.h"
#include "platform/qt/WindowMessages.h"

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
  plat::InstallQtPlatform();
  plat::SetApplicationTitle("Vellora1.1");
  if (argument) CommandLineFile = argument;

  CreateForms();
  TVLMain* vlMain = VLMain;
  vlMain->show();
  // The tool box, brush, colour, layer and preview windows are open from the start.
  for (QWidget* w : std::initializer_list<QWidget*>{PenWindow2, ColorWindow, LayerWindow, PreviewWindow, ToolsWindow})
    if (w) w->show();
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
