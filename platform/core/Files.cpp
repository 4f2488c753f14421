#include "platform/core/Files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <fcntl.h>
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

bool TAtomicFile::Open(const std::string& path) {
  Discard();
  target_ = path;
  temp_ = path + ".tmp-" + std::to_string(::getpid());
  fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  failed_ = fd_ < 0;
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
  ok = (::close(fd_) == 0) && ok;
  fd_ = -1;
  if (ok) ok = ::rename(temp_.c_str(), target_.c_str()) == 0;
  if (!ok) ::unlink(temp_.c_str());
  temp_.clear();
  return ok;
}

void TAtomicFile::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
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
