#pragma once
// The named mutex that marks the running instance of a program: a lock file in the per-user
// runtime folder, named by the mutex's name and held with flock. The kernel drops the lock
// when its holder ends in any way, so the lock of a crashed instance is simply taken over.
// Only this user's own lock file counts: a link or another user's file in its place is
// replaced, and without a private runtime folder there is no lock (the program runs alone).
#include <string>

namespace plat {

class TNamedMutex {
 public:
  explicit TNamedMutex(const std::string& name);
  ~TNamedMutex();
  TNamedMutex(const TNamedMutex&) = delete;
  TNamedMutex& operator=(const TNamedMutex&) = delete;

  // True when another holder (another process, or another TNamedMutex of this one) had it.
  bool AlreadyExists() const { return exists_; }
  bool Held() const { return fd_ >= 0; }
  void Release();
  const std::string& LockPath() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  bool exists_ = false;
};

// Characters of a name that are safe in a file name; the others become '_'.
std::string SafeFileName(const std::string& name);

}  // namespace plat
