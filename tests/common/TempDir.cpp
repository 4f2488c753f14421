#include "common/TempDir.h"

#include <filesystem>
#include <stdexcept>

TTempDir::TTempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "vellora-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
}

TTempDir::~TTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

TTempSettings::TTempSettings() {
  if (const char* v = std::getenv("VELLORA_SETTINGS_DIR")) {
    old_ = v;
    had_ = true;
  }
  setenv("VELLORA_SETTINGS_DIR", Dir().c_str(), 1);
}

TTempSettings::~TTempSettings() {
  if (had_) setenv("VELLORA_SETTINGS_DIR", old_.c_str(), 1);
  else unsetenv("VELLORA_SETTINGS_DIR");
}
