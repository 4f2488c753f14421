#include "platform/core/Settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <sstream>

#include "platform/core/Files.h"
#include "platform/core/MessageBox.h"

namespace plat {
namespace {

std::string Lower(const std::string& s) {
  std::string r = s;
  for (auto& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

// "Software\\Brenmoor\\Vellora\\" -> "Software\\Brenmoor\\Vellora"; no empty components.
std::string NormalisePath(const std::string& path) {
  std::string out, part;
  auto flush = [&] {
    if (!part.empty()) {
      if (!out.empty()) out += '\\';
      out += part;
      part.clear();
    }
  };
  for (char c : path) {
    if (static_cast<unsigned char>(c) < 0x20) continue;  // no control characters in a path
    if (c == '\\' || c == '/') flush();
    else part += c;
  }
  flush();
  return out;
}

// One file per maker key: the first two components ("Software\\Brenmoor").
std::string FileFor(const std::string& path) {
  std::string p = Lower(path);
  auto a = p.find('\\');
  std::string maker = a == std::string::npos ? "" : p.substr(a + 1, p.find('\\', a + 1) - a - 1);
  std::string name;
  for (char c : maker)
    name += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
  if (name.empty()) name = "_root";
  return SettingsDir() + "/" + name + ".reg";
}

std::string Escape(const std::string& s) {
  std::string r;
  for (char c : s) {
    switch (c) {
      case '\\': r += "\\\\"; break;
      case '\n': r += "\\n"; break;
      case '\r': r += "\\r"; break;
      case '\t': r += "\\t"; break;
      default: r += c;
    }
  }
  return r;
}

std::string Unescape(const std::string& s) {
  std::string r;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      r += s[i];
      continue;
    }
    char c = s[++i];
    r += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
  }
  return r;
}

bool ParseHex(const std::string& s, std::vector<uint8_t>& out) {
  if (s.size() % 2) return false;
  out.clear();
  for (size_t i = 0; i < s.size(); i += 2) {
    char* end = nullptr;
    std::string b = s.substr(i, 2);
    long v = std::strtol(b.c_str(), &end, 16);
    if (!end || *end) return false;
    out.push_back(static_cast<uint8_t>(v));
  }
  return true;
}

using Values = std::map<std::string, std::pair<std::string, TRegValue>>;
using Keys = std::map<std::string, std::pair<std::string, Values>>;

// Format: "[path]" lines open a key; "name<TAB>type<TAB>value" lines hold values.
void Parse(const std::string& text, Keys& keys) {
  keys.clear();
  std::istringstream in(text);
  std::string line;
  Values* cur = nullptr;
  while (std::getline(in, line)) {
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      std::string path = NormalisePath(line.substr(1, line.size() - 2));
      auto& k = keys[Lower(path)];
      k.first = path;
      cur = &k.second;
      continue;
    }
    if (!cur) continue;
    auto t1 = line.find('\t');
    auto t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
    if (t2 == std::string::npos) continue;
    std::string name = Unescape(line.substr(0, t1));
    std::string type = line.substr(t1 + 1, t2 - t1 - 1);
    std::string val = line.substr(t2 + 1);
    TRegValue v;
    if (type == "dword") {
      char* end = nullptr;
      unsigned long long d = std::strtoull(val.c_str(), &end, 10);
      if (val.empty() || !end || *end || d > 0xFFFFFFFFull) continue;
      v.Type = TRegType::Dword;
      v.Dword = static_cast<uint32_t>(d);
    } else if (type == "binary") {
      v.Type = TRegType::Binary;
      if (!ParseHex(val, v.Bytes)) continue;
    } else if (type == "string") {
      v.Type = TRegType::String;
      v.Text = Unescape(val);
    } else {
      continue;
    }
    (*cur)[Lower(name)] = {name, v};
  }
}

std::string Serialise(const Keys& keys) {
  std::ostringstream out;
  static const char* hex = "0123456789abcdef";
  for (const auto& [lp, key] : keys) {
    out << '[' << key.first << "]\n";
    for (const auto& [ln, nv] : key.second) {
      const TRegValue& v = nv.second;
      out << Escape(nv.first) << '\t';
      switch (v.Type) {
        case TRegType::Dword: out << "dword\t" << v.Dword; break;
        case TRegType::Binary:
          out << "binary\t";
          for (uint8_t b : v.Bytes) out << hex[b >> 4] << hex[b & 15];
          break;
        case TRegType::String: out << "string\t" << Escape(v.Text); break;
      }
      out << '\n';
    }
  }
  return out.str();
}

int64_t Nanoseconds(const timespec& t) { return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }

// A change within this long of a read may not show in the file's times (their granularity
// is coarse on some file systems): such a file is read again at the next access.
constexpr int64_t kTimeGrainNs = 2000000000;

bool Settled(const struct stat& st) {
  timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  const int64_t last = std::max(Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim));
  return Nanoseconds(now) - last > kTimeGrainNs;
}

// Told once per file and run: the refusal holds for every later access too.
void TellRefused(const std::string& file) {
  static std::set<std::string> told;
  if (!told.insert(file).second) return;
  MessageBox("The settings file \"" + file + "\" is not a regular file of at most " +
                 std::to_string(kMaxSettingsFile >> 20) +
                 " MB, so it was not read. The program goes on with its default settings and leaves that file as it is.",
             "", MB_OK | MB_ICONWARNING);
}

}  // namespace

std::string SettingsDir() {
  if (const char* d = std::getenv("VELLORA_SETTINGS_DIR"); d && *d) return d;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return std::string(x) + "/vellora";
  const char* h = std::getenv("HOME");
  return std::string(h && *h ? h : "/tmp") + "/.config/vellora";
}

bool TRegistry::Refresh(const std::string& file) const {
  struct stat st {};
  TFileStamp now;
  if (::stat(file.c_str(), &st) == 0)
    now = {uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size), Nanoseconds(st.st_mtim),
           Nanoseconds(st.st_ctim)};
  if (file == keysFile_ && sure_ && now == stamp_) return usable_;
  keys_.clear();
  keysFile_ = file;
  stamp_ = now;
  sure_ = true;
  usable_ = true;
  // Never blocks: a pipe or a device in the file's place is refused, not waited on.
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    usable_ = errno == ENOENT || errno == ENOTDIR;  // no file (or no folder) yet: no values
  } else {
    std::string text;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxSettingsFile) {
      stamp_ = {uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size), Nanoseconds(st.st_mtim),
                Nanoseconds(st.st_ctim)};
      sure_ = Settled(st);
      // One byte more than allowed shows a file that grew since.
      text.resize(static_cast<size_t>(st.st_size) + 1);
      const int64_t got = FileRead(fd, text.data(), static_cast<int64_t>(text.size()));
      usable_ = got >= 0 && got <= kMaxSettingsFile;
      text.resize(usable_ ? static_cast<size_t>(got) : 0);
    } else {
      usable_ = false;
    }
    ::close(fd);
    if (usable_) Parse(text, keys_);
  }
  if (!usable_) TellRefused(file);
  return usable_;
}

bool TRegistry::Save(const std::string& file) const {
  const std::string text = Serialise(keys_);
  bool ok = static_cast<int64_t>(text.size()) <= kMaxSettingsFile;  // what would be refused is never written
  if (ok) {
    MakeDirs(SettingsDir());
    ok = WriteFileAtomic(file, text.data(), text.size());
  }
  // What the file holds now is read again at the next access.
  keysFile_.clear();
  if (ok) Refresh(file);
  return ok;
}

bool TRegistry::OpenKey(const std::string& path, bool canCreate) {
  CloseKey();
  std::string p = NormalisePath(path);
  if (p.empty()) return false;
  const std::string file = FileFor(p);
  if (!Refresh(file)) return false;
  auto it = keys_.find(Lower(p));
  if (it == keys_.end()) {
    if (!canCreate) return false;
    // Like the registry, creating a key creates the keys above it.
    for (size_t i = p.find('\\'); ; i = p.find('\\', i + 1)) {
      std::string prefix = p.substr(0, i);
      keys_.try_emplace(Lower(prefix), prefix, Values{});
      if (i == std::string::npos) break;
    }
    if (!Save(file)) return false;
  }
  file_ = file;
  path_ = p;
  open_ = true;
  return true;
}

void TRegistry::CloseKey() {
  open_ = false;
  path_.clear();
  file_.clear();
  keys_.clear();
  keysFile_.clear();
}

bool TRegistry::KeyExists(const std::string& path) const {
  std::string p = NormalisePath(path);
  return Refresh(FileFor(p)) && keys_.count(Lower(p)) > 0;
}

bool TRegistry::DeleteKey(const std::string& path) {
  std::string p = Lower(NormalisePath(path));
  std::string file = FileFor(p);
  if (!Refresh(file)) return false;
  bool any = false;
  for (auto it = keys_.begin(); it != keys_.end();) {
    if (it->first == p || it->first.rfind(p + "\\", 0) == 0) {
      it = keys_.erase(it);
      any = true;
    } else {
      ++it;
    }
  }
  return any && Save(file);
}

const TRegValue* TRegistry::Find(const std::string& name) const {
  // Another accessor (or program) may have written the file since: read what stands now.
  if (!open_ || !Refresh(file_)) return nullptr;
  auto k = keys_.find(Lower(path_));
  if (k == keys_.end()) return nullptr;
  auto v = k->second.second.find(Lower(name));
  return v == k->second.second.end() ? nullptr : &v->second.second;
}

bool TRegistry::Store(const std::string& name, TRegValue v) {
  // Only this value changes: what others wrote to the file meanwhile stays.
  if (!open_ || !Refresh(file_)) return false;
  auto& key = keys_[Lower(path_)];
  key.first = path_;
  key.second[Lower(name)] = {name, std::move(v)};
  return Save(file_);
}

bool TRegistry::ValueExists(const std::string& name) const { return Find(name) != nullptr; }

bool TRegistry::DeleteValue(const std::string& name) {
  if (!open_ || !Refresh(file_)) return false;
  auto k = keys_.find(Lower(path_));
  if (k == keys_.end() || k->second.second.erase(Lower(name)) == 0) return false;
  return Save(file_);
}

std::optional<uint32_t> TRegistry::ReadDword(const std::string& name) const {
  const TRegValue* v = Find(name);
  if (!v || v->Type != TRegType::Dword) return std::nullopt;
  return v->Dword;
}

std::optional<std::vector<uint8_t>> TRegistry::ReadBinary(const std::string& name) const {
  const TRegValue* v = Find(name);
  if (!v || v->Type != TRegType::Binary) return std::nullopt;
  return v->Bytes;
}

std::optional<std::string> TRegistry::ReadString(const std::string& name) const {
  const TRegValue* v = Find(name);
  if (!v || v->Type != TRegType::String) return std::nullopt;
  return v->Text;
}

std::optional<int32_t> TRegistry::ReadInteger(const std::string& name) const {
  auto d = ReadDword(name);
  if (!d) return std::nullopt;
  return static_cast<int32_t>(*d);
}

std::optional<bool> TRegistry::ReadBool(const std::string& name) const {
  auto d = ReadDword(name);
  if (!d) return std::nullopt;
  return *d != 0;
}

std::optional<double> TRegistry::ReadFloat(const std::string& name) const {
  auto b = ReadBinary(name);
  if (!b || b->size() != sizeof(double)) return std::nullopt;
  double d;
  std::memcpy(&d, b->data(), sizeof d);
  return d;
}

bool TRegistry::WriteDword(const std::string& name, uint32_t v) {
  TRegValue r;
  r.Type = TRegType::Dword;
  r.Dword = v;
  return Store(name, std::move(r));
}

bool TRegistry::WriteFloat(const std::string& name, double v) {
  std::vector<uint8_t> b(sizeof v);
  std::memcpy(b.data(), &v, sizeof v);
  return WriteBinary(name, b);
}

bool TRegistry::WriteBinary(const std::string& name, const std::vector<uint8_t>& bytes) {
  TRegValue r;
  r.Type = TRegType::Binary;
  r.Bytes = bytes;
  return Store(name, std::move(r));
}

bool TRegistry::WriteString(const std::string& name, const std::string& text) {
  TRegValue r;
  r.Type = TRegType::String;
  r.Text = text;
  return Store(name, std::move(r));
}

}  // namespace plat
