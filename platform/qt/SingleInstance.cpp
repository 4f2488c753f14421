#include "platform/qt/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/core/Files.h"

namespace plat {

std::string SafeFileName(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
    out += ok ? static_cast<char>(c) : '_';
  }
  if (out.empty() || out[0] == '.') out.insert(out.begin(), '_');
  return out;
}

namespace {
// The lock file is this user's own regular file. Whatever else stands in its place (a link,
// a pipe, another user's file) was not made by an instance of ours and is replaced: the
// runtime folder is this user's alone.
int OpenLockFile(const std::string& path) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd >= 0 && OpenEntryTrust(fd, S_IFREG) == TEntryTrust::Own) return fd;
    if (fd < 0 && errno == ENOENT) return -1;
    if (fd >= 0) ::close(fd);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return -1;
  }
  return -1;
}
}  // namespace

TNamedMutex::TNamedMutex(const std::string& name) {
  const std::string dir = RuntimeDir();
  if (dir.empty()) return;  // no private runtime folder: run as the only instance rather than not at all
  path_ = dir + "/" + SafeFileName(name) + ".lock";
  int fd = OpenLockFile(path_);
  if (fd < 0) return;
  int rc;
  do rc = ::flock(fd, LOCK_EX | LOCK_NB);
  while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    exists_ = (errno == EWOULDBLOCK);
    ::close(fd);
    return;
  }
  fd_ = fd;
  // The holder's id, for a person looking; the lock itself is what counts.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd_, 0) == 0) (void)!::write(fd_, pid.data(), pid.size());
}

TNamedMutex::~TNamedMutex() { Release(); }

void TNamedMutex::Release() {
  // The file stays: removing it could let two processes lock two different files of one name.
  if (fd_ >= 0) {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace plat
