#pragma once
// The per-user settings store that stands where the registry's HKEY_CURRENT_USER would.
// Keys are backslash paths ("Software\\Brenmoor\\Vellora\\pen\\0"), compared without case.
// Each maker key ("Software\\<maker>") is one text file in SettingsDir(), written atomically
// on every change. Every access sees what other accessors and processes wrote, so several
// accessors may stay open: the file is read again whenever it changed (identity, size, times).
// Values are typed: DWORD, BINARY or string. The file may have been edited by anyone: a
// malformed line is skipped, a value of another type reads as absent. A file that is not a
// regular file or is larger than kMaxSettingsFile is refused: the user is told once, reads
// find nothing (the program runs on its defaults) and writes fail, leaving it as it is.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace plat {

// $VELLORA_SETTINGS_DIR, else $XDG_CONFIG_HOME/vellora, else ~/.config/vellora.
std::string SettingsDir();

constexpr int64_t kMaxSettingsFile = 1 << 20;

enum class TRegType { Dword, Binary, String };

struct TRegValue {
  TRegType Type = TRegType::Dword;
  uint32_t Dword = 0;
  std::vector<uint8_t> Bytes;  // BINARY
  std::string Text;            // string (UTF-8)
};

class TRegistry {
 public:
  TRegistry() = default;
  ~TRegistry() { CloseKey(); }
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  // Opens a key; with canCreate a missing key is made. False when it does not exist.
  bool OpenKey(const std::string& path, bool canCreate);
  void CloseKey();
  bool IsOpen() const { return open_; }
  const std::string& CurrentPath() const { return path_; }

  bool KeyExists(const std::string& path) const;
  bool DeleteKey(const std::string& path);  // the key and all below it

  bool ValueExists(const std::string& name) const;
  bool DeleteValue(const std::string& name);

  std::optional<uint32_t> ReadDword(const std::string& name) const;
  std::optional<std::vector<uint8_t>> ReadBinary(const std::string& name) const;
  std::optional<std::string> ReadString(const std::string& name) const;
  // Integers and booleans are DWORDs; floating-point values are 8-byte BINARY doubles.
  std::optional<int32_t> ReadInteger(const std::string& name) const;
  std::optional<bool> ReadBool(const std::string& name) const;
  std::optional<double> ReadFloat(const std::string& name) const;

  bool WriteDword(const std::string& name, uint32_t v);
  bool WriteInteger(const std::string& name, int32_t v) { return WriteDword(name, static_cast<uint32_t>(v)); }
  bool WriteBool(const std::string& name, bool v) { return WriteDword(name, v ? 1u : 0u); }
  bool WriteFloat(const std::string& name, double v);
  bool WriteBinary(const std::string& name, const std::vector<uint8_t>& bytes);
  bool WriteString(const std::string& name, const std::string& text);

 private:
  using Values = std::map<std::string, std::pair<std::string, TRegValue>>;  // lower name -> (name, value)
  using Keys = std::map<std::string, std::pair<std::string, Values>>;      // lower path -> (path, values)
  // What a file was read at: a writer that changes it changes one of these.
  struct TFileStamp {
    uint64_t Dev = 0, Ino = 0;
    int64_t Size = -1, MtimeNs = 0, CtimeNs = 0;
    bool operator==(const TFileStamp&) const = default;
  };
  // Brings keys_ in line with `file` as it stands now; false when the file is refused.
  bool Refresh(const std::string& file) const;
  bool Save(const std::string& file) const;
  const TRegValue* Find(const std::string& name) const;
  bool Store(const std::string& name, TRegValue v);

  bool open_ = false;
  std::string path_;
  std::string file_;
  // The whole of one maker file as last read, so that accessors held open for long never
  // write back values that others have changed since. `sure_` is false while the file's last
  // change is too recent for a later change to show in its times.
  mutable Keys keys_;
  mutable std::string keysFile_;
  mutable TFileStamp stamp_;
  mutable bool sure_ = false;
  mutable bool usable_ = true;
};

}  // namespace plat
