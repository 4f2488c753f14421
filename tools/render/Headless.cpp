#include "Headless.h"

#include <cstring>

#include "engine/EventPacket.h"
#include "engine/MyStream.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "engine/io/PictureFile.h"

std::string RenderHeadless(const std::string& path, const TMyMemory& file, float scale, TPaper& paper) {
  // Like the viewer, the tool shows no preview or thumbnails; the composite is the same.
  paper.SetViewerMode(1);
  if (file.Size() >= 4 && std::memcmp(file.Memory(), "WPB2", 4) == 0) {
    TEventPacket record;
    TWpbResult why = TWpbResult::Ok;
    if (!paper.LoadFromFile(path, record, &why)) return WpbResultText(why);
  } else {
    TEventPacket packet;
    if (!packet.LoadFromMemory(file)) return "not a valid event file";
    if (!TPaper::StartsWithNewPaper(packet)) return "the stream does not start with a new paper";
    packet.SetScale(scale);
    packet.Data().Rewind();
    TStroke brush;
    while (paper.PlayEvent(packet, brush, nullptr)) {
      // A validated stream ends in its marker; this only guards against waiting forever.
      if (!packet.InStroke() && packet.Data().Remaining() == 0) break;
    }
  }
  paper.Composite();
  return "";
}
