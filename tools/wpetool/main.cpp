// wpetool: builds event files from text and prints them as text (see tools/README.md).
#include <cstring>
#include <iostream>

#include "Commands.h"

namespace {

struct TCommand {
  const char* name;
  int (*run)(const TArgs&);
  const char* usage;
};

const TCommand kCommands[] = {
    {"build", CmdBuild, "build TEXT OUT.wpe   write an event file from its text form"},
    {"dump", CmdDump, "dump FILE.wpe        print an event file in the text form"},
    {"render", CmdRender, "render FILE OUT.bmp [--scale S]   play FILE onto a new paper, write the composite"},
};

int Usage() {
  std::cerr << "usage: wpetool COMMAND ARGS...\n";
  for (const TCommand& c : kCommands) std::cerr << "  wpetool " << c.usage << "\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  for (const TCommand& c : kCommands) {
    if (std::strcmp(argv[1], c.name) == 0) return c.run(TArgs(argv + 2, argv + argc));
  }
  std::cerr << "wpetool: unknown command '" << argv[1] << "'\n";
  return Usage();
}
