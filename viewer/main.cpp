// vellview: plays event files. One instance per user: a second start hands its file to the
// running playback window, brings that window to the front and ends.
#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>
#include <optional>
#include <string>

#include "platform/qt/Desktop.h"
#include "platform/qt/SingleInstance.h"
#include "platform/qt/WindowMessages.h"
#include "viewer/Viewer.h"
#include "viewer/ViewerMenu.h"

int main(int argc, char** argv) {
  std::optional<std::string> argument;
  if (argc > 1) argument = argv[1];

  plat::TNamedMutex mutex("VelloraViewer");
  if (mutex.AlreadyExists()) {
    QCoreApplication app(argc, argv);
    // The running instance has a working folder of its own: it gets the path in full.
    if (argument && !argument->empty())
      argument = QFileInfo(QString::fromLocal8Bit(argument->c_str())).absoluteFilePath().toStdString();
    // Ends even when the running window cannot be found.
    plat::HandOverToRunningInstance("TForm1", argument);
    return 0;
  }

  QApplication app(argc, argv);
  plat::InstallQtPlatform();
  plat::SetApplicationTitle("[vl] Viewer1.1");

  TForm1 form1;
  TForm2 form2(&form1);
  form2.CommandLineArgument = argument;
  form1.show();
  form2.show();
  form2.activateWindow();
  // The file named on the command line plays at the list window's first activation; should the
  // window system never activate it, it plays once the loop runs.
  QTimer::singleShot(500, &form2, [&form2] {
    if (form2.FirstActivation) form2.FormActivate();
  });
  const int rc = app.exec();
  mutex.Release();
  return rc;
}
