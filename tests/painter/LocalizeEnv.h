#pragma once
// Clears the locale variables for one test case and puts them back afterwards.
#include <stdlib.h>

#include <iterator>
#include <optional>
#include <string>
#include <vector>

class TLocaleEnv {
 public:
  TLocaleEnv() {
    for (const char* v : kVars) {
      const char* old = getenv(v);
      saved_.push_back(old ? std::optional<std::string>(old) : std::nullopt);
      unsetenv(v);
    }
  }
  ~TLocaleEnv() {
    for (size_t i = 0; i < std::size(kVars); ++i) {
      if (saved_[i]) setenv(kVars[i], saved_[i]->c_str(), 1);
      else unsetenv(kVars[i]);
    }
  }
  TLocaleEnv(const TLocaleEnv&) = delete;
  TLocaleEnv& operator=(const TLocaleEnv&) = delete;
  // A null value leaves the variable unset.
  static void Set(const char* var, const char* value) {
    if (value) setenv(var, value, 1);
  }

 private:
  static constexpr const char* kVars[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::vector<std::optional<std::string>> saved_;
};
