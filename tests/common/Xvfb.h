#pragma once
// What the tests that run the real programs on a real X display share: finding a program on
// PATH, and an X server of their own.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

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

// An X server on a display number it picks itself; stopped on destruction. Display() is empty
// when the server could not be started.
class TXvfb {
 public:
  explicit TXvfb(const std::string& program, const char* screen = "1024x768x24") {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 3);
      if (fds[1] != 3) close(fds[1]);
      close(fds[0]);
      const int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, 2);
      execl(program.c_str(), program.c_str(), "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~TXvfb() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  TXvfb(const TXvfb&) = delete;
  TXvfb& operator=(const TXvfb&) = delete;
  const std::string& Display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace vtest
