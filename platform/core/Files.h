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
bool MakeDirs(const std::string& path, unsigned mode = 0755);  // missing folders get `mode`

// What stands at a path, as lstat sees it (a link is never followed). Own: an entry of the
// kind asked for (S_IFDIR, S_IFREG, S_IFSOCK) that belongs to this user and that nobody else
// may write to; Foreign: anything else, which must not be trusted.
enum class TEntryTrust { Missing, Own, Foreign };
TEntryTrust EntryTrust(const std::string& path, unsigned kind);
TEntryTrust OpenEntryTrust(int fd, unsigned kind);  // the same for an open file

// Whole-file helpers.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out);
// Atomic save: writes a temporary file beside `path`, flushes it, renames it over `path`.
// On failure the old file is untouched and the temporary is removed.
bool WriteFileAtomic(const std::string& path, const void* data, size_t n);

// Writer for a file that is saved atomically: Open makes a temporary beside the target,
// Commit flushes and renames it over the target; destruction without Commit discards it.
// The temporary is unnamed while it is written where the file system allows it (else named
// TARGET.tmp-PID); Open removes such named leftovers of processes no longer alive. A file
// written over an existing one keeps its permission bits and, where it can, its group.
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
  bool unnamed_ = false;  // written through an unnamed temporary
  std::string target_, temp_;
};

// Per-user folders. Data: $XDG_DATA_HOME/vellora (default ~/.local/share/vellora), created on
// demand.
std::string DataDir();
// Runtime (instance locks, window sockets): $XDG_RUNTIME_DIR when it is a folder of this
// user's that nobody else may write to (created 0700 when missing); otherwise a private
// folder under the user's cache folder, $XDG_CACHE_HOME/vellora/run (default
// ~/.cache/vellora/run), created 0700. Empty when neither can be trusted: nothing is then
// shared with other instances.
std::string RuntimeDir();
// A short private folder for socket addresses that do not fit under the runtime folder:
// /tmp/vellora-<uid> when it is this user's own (created 0700), else empty.
std::string ShortRuntimeDir();
// Folder of the running executable with a trailing '/'.
std::string ProgramDir();

}  // namespace plat
