#include "platform/qt/Desktop.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFontInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QScreen>
#include <QUrl>
#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "platform/core/Screen.h"
#include "platform/qt/KeyTracker.h"
#include "platform/qt/MessageDialog.h"

namespace plat {

void InstallQtPlatform() {
  InstallKeyTracker();
  InstallMessageDialog();
  SetFullScreenWidth(GetSystemMetrics(SM_CXFULLSCREEN));
  LogDesktop("font " + QFontInfo(UiFont()).family().toStdString());
}

void LogDesktop(const std::string& line) {
  const char* path = std::getenv("VELLORA_DESKTOP_LOG");
  if (!path || !*path) return;
  std::ofstream log(path, std::ios::app);
  log << line << '\n';
}

namespace {
std::string& TitleStore() {
  static std::string title;
  return title;
}
}  // namespace

void SetApplicationTitle(const std::string& title) {
  TitleStore() = title;
  QCoreApplication::setApplicationName(QString::fromStdString(title));
}

std::string ApplicationTitle() { return TitleStore(); }

TBusyCursor::TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
TBusyCursor::~TBusyCursor() { QApplication::restoreOverrideCursor(); }

std::vector<std::string> DroppedPaths(const QMimeData* mime) {
  std::vector<std::string> out;
  if (!mime || !mime->hasUrls()) return out;
  for (const QUrl& u : mime->urls())
    if (u.isLocalFile()) {
      const QString p = u.toLocalFile();
      if (!p.isEmpty()) out.push_back(p.toStdString());
    }
  return out;
}

bool HasDroppedPaths(const QMimeData* mime) { return !DroppedPaths(mime).empty(); }

int GetSystemMetrics(int index) {
  QScreen* s = QGuiApplication::primaryScreen();
  if (!s) return 0;
  switch (index) {
    case SM_CXSCREEN: return s->geometry().width();
    case SM_CYSCREEN: return s->geometry().height();
    case SM_CXFULLSCREEN: return s->availableGeometry().width();
    case SM_CYFULLSCREEN: return s->availableGeometry().height();
    default: return 0;
  }
}

namespace {
int g_bottomStrip = 0;
}  // namespace

void ReserveBottomStrip(int pixels) { g_bottomStrip = std::max(0, pixels); }
int ToolAreaHeight() { return GetSystemMetrics(SM_CYFULLSCREEN) - g_bottomStrip; }

QFont UiFont(int pixelHeight) {
  // The proportional gothic of the forms; where it is missing, the desktop's sans family.
  QFont f(QString::fromLatin1(kUiFontFamily));
  f.setStyleHint(QFont::SansSerif);
  f.setPixelSize(pixelHeight);
  return f;
}

std::string FileNameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string UpperExtension(const std::string& path) {
  const std::string name = FileNameOf(path);
  const auto dot = name.find_last_of('.');
  if (dot == std::string::npos) return {};
  std::string ext = name.substr(dot);
  for (char& c : ext)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return ext;
}

}  // namespace plat
