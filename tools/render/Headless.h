#pragma once
// The picture that `wpetool render` writes: an event file played onto a fresh paper headless,
// as the viewer plays it but with nothing shown, or a picture file loaded; then composited
// whole. The benchmarks replay through the same function.
#include <string>

class TMyMemory;
class TPaper;

// file holds the bytes of the file at path (read only again for a picture file). The paper is
// fresh; the caller may have chosen its path (SetPlainPath). Empty on success, else the reason
// in one line. Event files are played at the given scale.
std::string RenderHeadless(const std::string& path, const TMyMemory& file, float scale, TPaper& paper);
