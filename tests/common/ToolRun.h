#pragma once
// Runs wpetool as people do, with its output caught in files of a test's own folder.
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "common/TempDir.h"

inline const std::string kTool = VELL_BINARY_DIR "/tools/wpetool";

struct TRun {
  int status;
  std::string out, err;
};

inline std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

inline void Spit(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

inline TRun RunTool(const TTempDir& dir, const std::string& args) {
  const std::string out = dir.Path("stdout"), err = dir.Path("stderr");
  const int rc = std::system((kTool + " " + args + " >" + out + " 2>" + err).c_str());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, Slurp(out), Slurp(err)};
}
