// wpetool render: plays an event file (or loads a picture file) onto a fresh paper, headless,
// and writes the composite as a 24-bit BMP through the engine's own writer. Also the picture
// side of dump: the event record embedded in a picture file.
#include <cmath>
#include <cstring>
#include <iostream>
#include <string>

#include "Commands.h"
#include "render/Headless.h"
#include "engine/MyStream.h"
#include "engine/Paper.h"
#include "engine/io/CanvasFiles.h"
#include "engine/io/PictureFile.h"
#include "platform/core/MessageBox.h"

namespace {

int Refuse(const std::string& reason) {
  std::cerr << "wpetool render: " << reason << '\n';
  return 1;
}

// The engine's message boxes are for a user at a desktop; the tool says in one line what failed.
struct TQuietMessages {
  TQuietMessages() : rec(plat::IDOK) {}
  plat::TMessageRecorder rec;
};

}  // namespace

bool IsPictureFile(const TMyMemory& file) {
  return file.Size() >= 4 && std::memcmp(file.Memory(), "WPB2", 4) == 0;
}

int DumpPictureEvents(const TMyMemory& file, std::ostream& out, std::ostream& err) {
  int32_t offset = 0, length = 0;
  const TWpbResult r = FindWpbEvents(file.Memory(), file.Size(), offset, length);
  if (r != TWpbResult::Ok) {
    err << "wpetool: " << WpbResultText(r) << '\n';
    return 1;
  }
  TMyMemory events(65536);
  events.WriteBuffer(file.Memory() + offset, length);
  return DumpEvents(events, out, err);
}

int CmdRender(const TArgs& args) {
  float scale = 1.0f;
  std::string in, out;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--scale") {
      if (++i == args.size()) return Refuse("--scale needs a value");
      char* end = nullptr;
      const double s = std::strtod(args[i].c_str(), &end);
      if (end == args[i].c_str() || *end != 0 || !std::isfinite(s) || s <= 0 || s > 1000)
        return Refuse("bad scale '" + args[i] + "'");
      scale = static_cast<float>(s);
    } else if (in.empty()) {
      in = args[i];
    } else if (out.empty()) {
      out = args[i];
    } else {
      return Refuse("usage: wpetool render FILE OUT.bmp [--scale S]");
    }
  }
  if (out.empty()) return Refuse("usage: wpetool render FILE OUT.bmp [--scale S]");

  TMyMemory file(65536);
  if (!file.LoadFromFile(in)) return Refuse("cannot read " + in);
  TQuietMessages quiet;
  TPaper paper;
  const std::string failed = RenderHeadless(in, file, scale, paper);
  if (!failed.empty()) return Refuse(failed);
  if (IsPictureFile(file) && paper.EventsIncomplete)
    std::cerr << "wpetool render: note: the picture's event record is incomplete\n";
  std::string why;
  if (!SaveBMP(paper.CompositeImage, out, &why)) return Refuse("cannot write " + out + ": " + why);
  return 0;
}
