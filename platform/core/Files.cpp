#include "platform/core/Files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

int FileOpenRead(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }

int FileCreate(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

int64_t FileRead(int fd, void* buf, int64_t n) {
  if (fd < 0 || n <= 0) return n == 0 ? 0 : -1;
  int64_t done = 0;
  auto* p = static_cast<char*>(buf);
  while (done < n) {
    ssize_t r = ::read(fd, p + done, static_cast<size_t>(n - done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? done : -1;
    }
    if (r == 0) break;
    done += r;
  }
  return done;
}

int64_t FileWrite(int fd, const void* buf, int64_t n) {
  if (fd < 0 || n < 0) return -1;
  int64_t done = 0;
  auto* p = static_cast<const char*>(buf);
  while (done < n) {
    ssize_t w = ::write(fd, p + done, static_cast<size_t>(n - done));
    if (w < 0) {
      if (errno == EINTR) continue;
      break;
    }
    done += w;
  }
  return done;
}

bool FileClose(int fd) { return fd >= 0 && ::close(fd) == 0; }

int64_t FileSizeOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool FileExists(const std::string& path) { return FileSizeOf(path) >= 0; }

bool DirExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirs(const std::string& path, unsigned mode) {
  if (path.empty() || DirExists(path)) return !path.empty();
  auto slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0) MakeDirs(path.substr(0, slash), mode);
  return ::mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0 || DirExists(path);
}

static TEntryTrust TrustOf(const struct stat& st, unsigned kind) {
  if ((st.st_mode & S_IFMT) != kind || st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return TEntryTrust::Foreign;
  return TEntryTrust::Own;
}

TEntryTrust EntryTrust(const std::string& path, unsigned kind) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? TEntryTrust::Missing : TEntryTrust::Foreign;
  return TrustOf(st, kind);
}

TEntryTrust OpenEntryTrust(int fd, unsigned kind) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) return TEntryTrust::Missing;
  return TrustOf(st, kind);
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out) {
  out.clear();
  int fd = FileOpenRead(path);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    FileClose(fd);
    return false;
  }
  out.resize(static_cast<size_t>(st.st_size));
  int64_t got = FileRead(fd, out.data(), static_cast<int64_t>(out.size()));
  FileClose(fd);
  if (got != static_cast<int64_t>(out.size())) {
    out.clear();
    return false;
  }
  return true;
}

namespace {

// The folder part of a path ("." for a bare name) and the name part.
void SplitPath(const std::string& path, std::string& dir, std::string& name) {
  const auto slash = path.find_last_of('/');
  dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// The process id of a leftover temporary NAME.tmp-PID of `name`; 0 when `entry` is not one.
pid_t LeftoverPid(const std::string& entry, const std::string& name) {
  const std::string stem = name + ".tmp-";
  if (entry.size() <= stem.size() || entry.size() > stem.size() + 9 || entry.compare(0, stem.size(), stem) != 0) return 0;
  pid_t pid = 0;
  for (size_t i = stem.size(); i < entry.size(); ++i) {
    if (entry[i] < '0' || entry[i] > '9') return 0;
    pid = pid * 10 + (entry[i] - '0');
  }
  return pid;
}

// Temporaries of earlier saves of `path` cut off before their rename (a kill, a crash, a
// power cut) go at the next save of that name: only regular files of this user's, of that
// exact pattern, whose process is not alive as one of this user's.
void RemoveLeftovers(const std::string& path) {
  std::string dir, name;
  SplitPath(path, dir, name);
  if (name.empty()) return;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  const int dfd = ::dirfd(d);
  while (const dirent* e = ::readdir(d)) {
    const pid_t pid = LeftoverPid(e->d_name, name);
    if (pid <= 0 || pid == ::getpid()) continue;
    if (::kill(pid, 0) == 0) continue;  // a live save, or whatever now has that id
    struct stat st {};
    if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
      continue;
    ::unlinkat(dfd, e->d_name, 0);
  }
  ::closedir(d);
}

// The file written in place of an existing one takes its permission bits and, where this
// user may give it, its group; where the group cannot be kept its bits are not given to
// another group.
void KeepAccess(int fd, const std::string& target) {
  struct stat st {};
  if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  mode_t mode = st.st_mode & 0777;
  struct stat now {};
  if (::fstat(fd, &now) == 0 && now.st_gid != st.st_gid && ::fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0)
    mode &= ~static_cast<mode_t>(0070);
  ::fchmod(fd, mode);
}

}  // namespace

bool TAtomicFile::Open(const std::string& path) {
  Discard();
  target_ = path;
  temp_ = path + ".tmp-" + std::to_string(::getpid());
  RemoveLeftovers(path);
  // Written without a name where the file system allows it, so that a save cut off midway
  // leaves nothing; it is named just before the rename (Commit).
  std::string dir, name;
  SplitPath(path, dir, name);
  unnamed_ = false;
  fd_ = -1;
  if (::access("/proc/self/fd", X_OK) == 0) {
    fd_ = ::open(dir.c_str(), O_WRONLY | O_TMPFILE | O_CLOEXEC, 0644);
    unnamed_ = fd_ >= 0;
  }
  if (fd_ < 0) fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  failed_ = fd_ < 0;
  if (fd_ >= 0) KeepAccess(fd_, path);
  return fd_ >= 0;
}

bool TAtomicFile::Write(const void* data, size_t n) {
  if (fd_ < 0 || failed_) return false;
  if (FileWrite(fd_, data, static_cast<int64_t>(n)) != static_cast<int64_t>(n)) failed_ = true;
  return !failed_;
}

bool TAtomicFile::Commit() {
  if (fd_ < 0) return false;
  bool ok = !failed_ && ::fsync(fd_) == 0;
  if (ok && unnamed_) {
    ::unlink(temp_.c_str());  // a leftover of an earlier process with this id
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    ok = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp_.c_str(), AT_SYMLINK_FOLLOW) == 0;
    unnamed_ = !ok;  // when named, the name is removed on failure below
  }
  ok = (::close(fd_) == 0) && ok;
  fd_ = -1;
  if (ok) ok = ::rename(temp_.c_str(), target_.c_str()) == 0;
  if (!ok && !unnamed_) ::unlink(temp_.c_str());
  temp_.clear();
  unnamed_ = false;
  return ok;
}

void TAtomicFile::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    if (!unnamed_) ::unlink(temp_.c_str());
    temp_.clear();
  }
  unnamed_ = false;
}

bool WriteFileAtomic(const std::string& path, const void* data, size_t n) {
  TAtomicFile f;
  return f.Open(path) && f.Write(data, n) && f.Commit();
}

static std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return (v && *v) ? std::string(v) : fallback;
}

static std::string Home() {
  if (const char* h = std::getenv("HOME"); h && *h) return h;
  const passwd* pw = ::getpwuid(::geteuid());
  return pw && pw->pw_dir && *pw->pw_dir ? pw->pw_dir : "/tmp";
}

// A folder of this user's that nobody else may write to; created 0700 when missing. A link
// in its place is refused: whoever made it could point it anywhere.
static bool PrivateDir(std::string& d) {
  while (d.size() > 1 && d.back() == '/') d.pop_back();
  if (d.empty() || d[0] != '/') return false;
  if (EntryTrust(d, S_IFDIR) == TEntryTrust::Missing) {
    const auto slash = d.find_last_of('/');
    if (slash > 0) MakeDirs(d.substr(0, slash), 0700);
    ::mkdir(d.c_str(), 0700);
  }
  return EntryTrust(d, S_IFDIR) == TEntryTrust::Own;
}

// Said once per folder, not at every lookup (which may come from any thread).
static void Refused(const std::string& d) {
  static std::mutex m;
  static std::string told;
  std::lock_guard<std::mutex> lock(m);
  if (told == d) return;
  told = d;
  std::fprintf(stderr, "vellora: %s is not a private folder of this user's; it is not used\n", d.c_str());
}

std::string DataDir() {
  std::string d = EnvOr("XDG_DATA_HOME", Home() + "/.local/share") + "/vellora";
  MakeDirs(d);
  return d;
}

std::string RuntimeDir() {
  if (const char* x = std::getenv("XDG_RUNTIME_DIR"); x && *x) {
    std::string d = x;
    if (PrivateDir(d)) return d;
    Refused(d);
  }
  std::string cache = EnvOr("XDG_CACHE_HOME", "");
  if (cache.empty() || cache[0] != '/') cache = Home() + "/.cache";
  std::string d = cache + "/vellora/run";
  if (PrivateDir(d)) return d;
  Refused(d);
  return {};
}

std::string ShortRuntimeDir() {
  std::string d = "/tmp/vellora-" + std::to_string(::geteuid());
  if (PrivateDir(d)) return d;
  Refused(d);
  return {};
}

std::string ProgramDir() {
  char buf[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return "./";
  std::string p(buf, static_cast<size_t>(n));
  auto slash = p.find_last_of('/');
  return slash == std::string::npos ? "./" : p.substr(0, slash + 1);
}

}  // namespace plat
