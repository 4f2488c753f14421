#pragma once
// What the tests that run the real programs on a real X display share: finding a program on
// PATH, and an X server of their own, optionally with a window manager (openbox) running on it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace vtest {

// The full path of a program found on PATH; empty when there is none.
inline std::string FindProgram(const char* name) {
  const char* path = getenv("PATH");
  const std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    const size_t end = dirs.find(':', start);
    const std::string d = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!d.empty() && access((d + "/" + name).c_str(), X_OK) == 0) return d + "/" + name;
    if (end == std::string::npos) return {};
    start = end + 1;
  }
}

// Runs a shell command and returns what it printed on stdout (stderr dropped).
inline std::string Capture(const std::string& command) {
  std::string out;
  FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// Whether an X client's error output tells that a request of it failed (its answer, if any, is
// not whole), as Xlib's default handler prints it before it ends the client.
inline bool IsCutShortByXError(const std::string& errors) {
  return errors.find("X Error of failed request") != std::string::npos;
}

enum class TDesktopKind { Bare, Managed };

// An X server on a display number it picks itself; stopped on destruction. Display() is empty
// when the server could not be started. With TDesktopKind::Managed a window manager (openbox)
// runs on it, with frames, stacking and focus changes; Managed() says whether it came up.
class TXvfb {
 public:
  explicit TXvfb(const std::string& program, const char* screen = "1024x768x24",
                 TDesktopKind kind = TDesktopKind::Bare) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 3);
      if (fds[1] != 3) close(fds[1]);
      close(fds[0]);
      const int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, 2);
      // No reset when the last client goes: a helper tool ending as the program connects would
      // otherwise take the program's half-made connection down with the reset.
      execl(program.c_str(), program.c_str(), "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp",
            "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
    if (kind == TDesktopKind::Managed && !display_.empty()) StartWindowManager();
  }
  ~TXvfb() {
    for (pid_t p : {wm_, pid_}) {
      if (p > 0) {
        kill(p, SIGTERM);
        waitpid(p, nullptr, 0);
      }
    }
  }
  TXvfb(const TXvfb&) = delete;
  TXvfb& operator=(const TXvfb&) = delete;
  const std::string& Display() const { return display_; }
  bool Managed() const { return managed_; }
  // Why a managed desktop is missing, for a test's skip message.
  std::string WhyNotManaged() const {
    if (display_.empty()) return "Xvfb did not start";
    if (FindProgram("openbox").empty()) return "openbox is needed (Debian package openbox): no window manager";
    if (FindProgram("xprop").empty()) return "xprop is needed (Debian package x11-utils)";
    return "openbox did not come up on " + display_;
  }

 private:
  void StartWindowManager() {
    const std::string openbox = FindProgram("openbox"), xprop = FindProgram("xprop");
    if (openbox.empty() || xprop.empty()) return;
    // Spawned with its environment made here: a child forked from this threaded process must
    // not allocate (as setenv does) before exec, or it may wait for ever on another thread's lock.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
      if (strncmp(*e, "DISPLAY=", 8) != 0) env.emplace_back(*e);
    env.push_back("DISPLAY=" + display_);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = openbox, option = "--sm-disable";
    char* argv[] = {program.data(), option.data(), nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawn(&wm_, program.c_str(), &quiet, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) {
      wm_ = -1;
      return;
    }
    // The manager is up once it names its check window on the root window.
    const std::string ask = "DISPLAY=" + display_ + " " + xprop + " -root _NET_SUPPORTING_WM_CHECK";
    for (int i = 0; i < 200 && !managed_; ++i) {
      if (waitpid(wm_, nullptr, WNOHANG) == wm_) {
        wm_ = -1;
        return;
      }
      managed_ = Capture(ask).find("window id") != std::string::npos;
      if (!managed_) {
        const timespec pause{0, 50 * 1000 * 1000};
        nanosleep(&pause, nullptr);
      }
    }
  }

  pid_t pid_ = -1;
  pid_t wm_ = -1;
  bool managed_ = false;
  std::string display_;
};

}  // namespace vtest
