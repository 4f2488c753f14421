#pragma once
// A private temporary folder for one test; with TTempSettings the settings store points there.
#include <cstdlib>
#include <string>

class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Dir() const { return dir_; }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

class TTempSettings : public TTempDir {
 public:
  TTempSettings();
  ~TTempSettings();

 private:
  std::string old_;
  bool had_ = false;
};
