#pragma once
// The real vellpaint on an X display of the test's own, as a user meets it: its own runtime,
// settings and data folders, its messages logged instead of shown, xdotool for the mouse and
// keys, and the window system's view of its windows (frames, stacking, a screenshot).
#include <unistd.h>

#include <QByteArray>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/Xvfb.h"

namespace vtest {

struct TScreenRect {
  int X = 0, Y = 0, W = 0, H = 0;
  int Right() const { return X + W; }
  int Bottom() const { return Y + H; }
  bool Inside(const TScreenRect& o) const { return X >= o.X && Y >= o.Y && Right() <= o.Right() && Bottom() <= o.Bottom(); }
  bool Overlaps(const TScreenRect& o) const { return X < o.Right() && o.X < Right() && Y < o.Bottom() && o.Y < Bottom(); }
};

inline std::ostream& operator<<(std::ostream& s, const TScreenRect& r) {
  return s << r.W << "x" << r.H << "+" << r.X << "+" << r.Y;
}

// The value after `key` in a tool's output ("Width: 300" → 300); -1 when missing.
inline int FieldAfter(const std::string& text, const std::string& key) {
  const size_t at = text.find(key);
  if (at == std::string::npos) return -1;
  return atoi(text.c_str() + at + key.size());
}

// Window ids as decimal numbers, whatever base a tool printed them in.
inline std::string WindowId(const std::string& any) {
  return std::to_string(std::stoul(any, nullptr, 0));
}

class TRealPainter {
 public:
  // Folders run/, settings/, data/ and the message log under `base`, which must exist.
  TRealPainter(const TXvfb& server, const std::string& base)
      : Runtime(base + "/run"), Settings(base + "/settings"), Data(base + "/data"), Log(base + "/messages.log"),
        display_(server.Display()) {
    for (const std::string& d : {Runtime, Settings, Data}) {
      std::filesystem::create_directories(d);
      std::filesystem::permissions(d, std::filesystem::perms::owner_all);
    }
    Env = QProcessEnvironment::systemEnvironment();
    Env.insert("DISPLAY", QString::fromStdString(display_));
    Env.insert("QT_QPA_PLATFORM", "xcb");
    Env.insert("XDG_RUNTIME_DIR", QString::fromStdString(Runtime));
    Env.insert("VELLORA_SETTINGS_DIR", QString::fromStdString(Settings));
    Env.insert("XDG_DATA_HOME", QString::fromStdString(Data));
    Env.insert("VELLORA_MSGBOX_LOG", QString::fromStdString(Log));
    Env.insert("VELLORA_MSGBOX_ANSWER", "yes");
  }
  ~TRealPainter() { Stop(); }
  TRealPainter(const TRealPainter&) = delete;
  TRealPainter& operator=(const TRealPainter&) = delete;

  static std::string Program() { return std::string(VELL_BINARY_DIR) + "/painter/vellpaint"; }
  // Why the real painter cannot be tried here; empty when it can.
  static std::string Missing() {
    if (FindProgram("Xvfb").empty()) return "Xvfb is needed (Debian package xvfb): the real program is not tried";
    if (FindProgram("xdotool").empty()) return "xdotool is needed (Debian package xdotool): the real program is not tried";
    if (FindProgram("xwininfo").empty() || FindProgram("xprop").empty())
      return "xwininfo and xprop are needed (Debian package x11-utils): the real program is not tried";
    return {};
  }

  // Starts the painter and waits until its main window is mapped; false (with Error()) when it
  // did not show within `ms`.
  bool Start(const QStringList& args = {}, int ms = 20000) {
    Proc.setProcessEnvironment(Env);
    Proc.start(QString::fromStdString(Program()), args);
    if (!Proc.waitForStarted(10000)) return false;
    const bool settled = QTest::qWaitFor(
        [&] {
          // The main window's caption goes on past the application title that message boxes
          // show.
          const std::string found = Xdo({"search", "--onlyvisible", "--name", "^Vellora1\\.1."});
          if (!found.empty()) main_ = found.substr(0, found.find('\n'));
          return !main_.empty() || Proc.state() != QProcess::Running;
        },
        ms);
    return settled && !main_.empty();
  }
  std::string Error() { return Proc.readAllStandardError().toStdString(); }
  const std::string& MainWindow() const { return main_; }

  // Any X program with the painter's display; its standard output, trimmed.
  std::string Tool(const std::string& name, const QStringList& args, int ms = 10000) {
    // A window destroyed while xdotool walks the window tree ends its search on an X error,
    // with no list at all: that is no answer, and the list is asked for again.
    const bool search = name == "xdotool" && !args.isEmpty() && args.front() == "search";
    for (;;) {
      QProcess p;
      p.setProcessEnvironment(Env);
      p.start(QString::fromStdString(FindProgram(name.c_str())), args);
      p.waitForFinished(ms);
      if (search && IsCutShortByXError(p.readAllStandardError().toStdString())) continue;
      return p.readAllStandardOutput().trimmed().toStdString();
    }
  }
  std::string Xdo(const QStringList& args, int ms = 10000) { return Tool("xdotool", args, ms); }

  // The painter's mapped top-level windows, by id.
  std::vector<std::string> Windows() {
    std::vector<std::string> ids;
    std::istringstream s(Xdo({"search", "--onlyvisible", "--pid", QString::number(Proc.processId()), "--name", "."}));
    for (std::string line; std::getline(s, line);)
      if (!line.empty()) ids.push_back(WindowId(line));
    return ids;
  }
  // Every mapped window of the painter, popup menus included, by id.
  std::set<std::string> AllWindows() {
    std::set<std::string> ids;
    std::istringstream s(Xdo({"search", "--onlyvisible", "--pid", QString::number(Proc.processId())}));
    for (std::string line; std::getline(s, line);)
      if (!line.empty()) ids.insert(WindowId(line));
    return ids;
  }
  // The window of the painter (a popup menu too) mapped after `before` was taken, once it shows;
  // empty when none came.
  std::string NewWindow(const std::set<std::string>& before, int ms = 20000) {
    std::string found;
    (void)QTest::qWaitFor(
        [&] {
          for (const std::string& w : AllWindows())
            if (!before.count(w)) found = w;
          return !found.empty();
        },
        ms);
    return found;
  }
  std::string Name(const std::string& window) { return Xdo({"getwindowname", QString::fromStdString(window)}); }
  // The first mapped window of the painter whose title contains `part`; empty when none.
  std::string FindWindow(const std::string& part) {
    for (const std::string& w : Windows())
      if (Name(w).find(part) != std::string::npos) return w;
    return {};
  }

  // The client area on screen, and the same with the window manager's frame around it.
  TScreenRect Client(const std::string& window) {
    const std::string info = Tool("xwininfo", {"-id", QString::fromStdString(window)});
    return {FieldAfter(info, "Absolute upper-left X:"), FieldAfter(info, "Absolute upper-left Y:"),
            FieldAfter(info, "Width:"), FieldAfter(info, "Height:")};
  }
  TScreenRect Frame(const std::string& window) {
    TScreenRect r = Client(window);
    const std::string ext = Tool("xprop", {"-id", QString::fromStdString(window), "_NET_FRAME_EXTENTS"});
    int l = 0, rt = 0, t = 0, b = 0;
    const size_t eq = ext.find('=');
    if (eq != std::string::npos) sscanf(ext.c_str() + eq + 1, " %d , %d , %d , %d", &l, &rt, &t, &b);
    return {r.X - l, r.Y - t, r.W + l + rt, r.H + t + b};
  }
  TScreenRect Screen() {
    const std::string info = Tool("xwininfo", {"-root"});
    return {0, 0, FieldAfter(info, "Width:"), FieldAfter(info, "Height:")};
  }
  // Managed windows from the bottom of the stacking order to its top.
  std::vector<std::string> Stacking() {
    std::vector<std::string> ids;
    const std::string list = Tool("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"});
    const size_t at = list.find('#');
    if (at == std::string::npos) return ids;
    std::istringstream s(list.substr(at + 1));
    for (std::string id; std::getline(s, id, ',');) {
      id.erase(0, id.find_first_not_of(' '));
      if (!id.empty()) ids.push_back(WindowId(id));
    }
    return ids;
  }
  // The whole screen as the X server shows it, or one window's contents (a popup menu, which
  // a picture of the screen may show black); null when xwd (Debian x11-apps) is missing.
  QImage Screenshot(const std::string& window = {}) {
    if (FindProgram("xwd").empty()) return {};
    QProcess p;
    p.setProcessEnvironment(Env);
    const QStringList args = window.empty() ? QStringList{"-root", "-silent"}
                                            : QStringList{"-id", QString::fromStdString(window), "-silent"};
    p.start(QString::fromStdString(FindProgram("xwd")), args);
    p.waitForFinished(20000);
    return ReadXwd(p.readAllStandardOutput());
  }

  // The messages shown so far, one a line.
  std::vector<std::string> Messages() const {
    std::vector<std::string> lines;
    std::ifstream f(Log);
    for (std::string line; std::getline(f, line);) lines.push_back(line);
    return lines;
  }

  // Ends the painter (SIGTERM, then SIGKILL). Its exit code (the signal's number when SIGTERM
  // ended it), -1 when it had to be killed.
  int Stop() {
    if (Proc.state() == QProcess::NotRunning) return Proc.exitCode();
    Proc.terminate();
    if (Proc.waitForFinished(10000)) return Proc.exitCode();
    Proc.kill();
    Proc.waitForFinished(5000);
    return -1;
  }

  // An XWD dump (ZPixmap, 24 or 32 bits a pixel) as an RGB32 image.
  static QImage ReadXwd(const QByteArray& d) {
    auto word = [&](int i) {
      const auto* b = reinterpret_cast<const uint8_t*>(d.constData()) + 4 * i;
      return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    };
    if (d.size() < 100) return {};
    const uint32_t header = word(0), format = word(2), w = word(4), h = word(5), order = word(7), bpp = word(11),
                   line = word(12), ncolors = word(19);
    const qint64 start = qint64(header) + qint64(ncolors) * 12;
    if (format != 2 || (bpp != 32 && bpp != 24) || w == 0 || h == 0 || w > 16384 || h > 16384 ||
        start + qint64(line) * h > d.size())
      return {};
    QImage img(int(w), int(h), QImage::Format_RGB32);
    const auto* px = reinterpret_cast<const uint8_t*>(d.constData()) + start;
    for (uint32_t y = 0; y < h; ++y) {
      auto* out = reinterpret_cast<QRgb*>(img.scanLine(int(y)));
      for (uint32_t x = 0; x < w; ++x) {
        const uint8_t* p = px + qint64(y) * line + x * (bpp / 8);
        const uint32_t v = order == 0 ? (p[0] | p[1] << 8 | p[2] << 16) : (bpp == 32 ? (p[1] << 16 | p[2] << 8 | p[3])
                                                                                      : (p[0] << 16 | p[1] << 8 | p[2]));
        out[x] = 0xFF000000u | v;
      }
    }
    return img;
  }

  QProcessEnvironment Env;
  QProcess Proc;
  const std::string Runtime, Settings, Data, Log;

 private:
  std::string display_;
  std::string main_;
};

}  // namespace vtest
