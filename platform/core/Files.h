#pragma once
// Plain file access for the engine and the programs, in place of the system's file handles.
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// Raw descriptor-based file; -1 when closed. Never throws.
int FileOpenRead(const std::string& path);
int FileCreate(const std::string& path);  // create or truncate, for writing
int64_t FileRead(int fd, void* buf, int64_t n);        // bytes read, 0 at end, -1 on error
int64_t FileWrite(int fd, const void* buf, int64_t n);  // bytes written (all, or fewer on error)
bool FileClose(int fd);
int64_t FileSizeOf(const std::string& path);  // -1 when missing or not a regular file
bool FileExists(const std::string& path);     // a regular file
bool DirExists(const std::string& path);
bool MakeDirs(const std::string& path);

// Whole-file helpers.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out);
// Atomic save: writes a temporary file beside `path`, flushes it, renames it over `path`.
// On failure the old file is untouched and the temporary is removed.
bool WriteFileAtomic(const std::string& path, const void* data, size_t n);

// Writer for a file that is saved atomically: Open makes a temporary beside the target,
// Commit flushes and renames it over the target; destruction without Commit discards it.
class TAtomicFile {
 public:
  TAtomicFile() = default;
  ~TAtomicFile() { Discard(); }
  TAtomicFile(const TAtomicFile&) = delete;
  TAtomicFile& operator=(const TAtomicFile&) = delete;
  bool Open(const std::string& path);
  bool Write(const void* data, size_t n);  // false (and remembered) on a short write
  bool Commit();                           // false when any write or the flush failed
  void Discard();
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
  bool failed_ = false;
  std::string target_, temp_;
};

// Per-user folders. Data: $XDG_DATA_HOME/vellora (default ~/.local/share/vellora), created on
// demand. Runtime: $XDG_RUNTIME_DIR, else /tmp/vellora-<uid>.
std::string DataDir();
std::string RuntimeDir();
// Folder of the running executable with a trailing '/'.
std::string ProgramDir();

}  // namespace plat
