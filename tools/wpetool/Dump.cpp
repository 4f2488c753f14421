// wpetool dump: prints an event stream in the text form, reading every event through the
// engine's own readers.
#include <iostream>
#include <sstream>

#include "Commands.h"
#include "TextForm.h"
#include "engine/EventPacket.h"

namespace {

class TOutLine {
 public:
  explicit TOutLine(const char* name) { s_ << name; }
  TOutLine& operator()(const char* key, int64_t v) {
    s_ << ' ' << key << '=' << v;
    return *this;
  }
  TOutLine& text(const char* key, const std::string& v) {
    s_ << ' ' << key << '=' << v;
    return *this;
  }
  TOutLine& color(const char* key, uint8_t r, uint8_t g, uint8_t b) {
    return text(key, HexColor((uint32_t{r} << 16) | (uint32_t{g} << 8) | b));
  }
  std::string str() const { return s_.str(); }

 private:
  std::ostringstream s_;
};

std::string Fixed88(float v) { return FormatFixed(TruncInt(static_cast<ext_t>(v) * 256.0L), 8); }
std::string Pressure(float v) { return FormatFixed(TruncInt(static_cast<ext_t>(v) * 1024.0L), 10); }

// flags is the brush block's flag byte as stored: the reader keeps bits 0-2 only, and bits 3-7,
// which no writer sets, are printed when present so that build gives them back.
void Brush(TOutLine& l, const TStrokeAttributes& a, uint8_t flags) {
  l("layer", a.Layer).text("color", HexColor(a.Color))("ifsize", a.ifSIZE)("iftransparency", a.ifTRANSPARENCY)(
      "ifedge", a.ifEDGE);
  if (flags & ~7) l("otherflags", flags & ~7);
  l.text("min", Fixed88(a.MIN)).text("width", Fixed88(a.WIDTH)).text("gamma", Fixed88(a.GAMMA));
  l.text("effect", Fixed88(a.EFFECT)).text("env", Fixed88(a.ENV)).text("speed", Fixed88(a.SPEED));
}

std::string Points(const std::vector<TPoint>& pts) {
  std::string s;
  for (size_t i = 0; i < pts.size(); ++i) {
    if (i) s += ';';
    s += std::to_string(pts[i].X) + ',' + std::to_string(pts[i].Y);
  }
  return s;
}

// Offset of the flag byte in the brush block.
constexpr int32_t kFlagsInBlock = 4;

// One event, code already read; every event reaching here is complete. Bytes that a reader
// normalises are peeked at before it reads them.
std::string DumpEvent(TEventPacket& p, uint16_t code) {
  TOutLine l(EventName(code));
  uint8_t layer = 0, a = 0, r = 0, g = 0, b = 0;
  int32_t x = 0, y = 0, w = 0, h = 0;
  switch (code) {
    case 0: case 1: case 2: case 3: case 4: {
      TStrokeAttributes at;
      float fx, fy, fp;
      uint8_t flags = p.Data().ReadPointer()[kFlagsInBlock];
      p.ReadStrokeBegin(at, fx, fy, fp);
      l("kind", code);
      Brush(l, at, flags);
      std::string pts = std::to_string(TruncInt(fx)) + ',' + std::to_string(TruncInt(fy)) + ',' + Pressure(fp);
      for (int32_t n = p.PointCount(); n > 0; --n) {
        p.ReadStrokePoint(fx, fy, fp);
        pts += ';' + std::to_string(TruncInt(fx)) + ',' + std::to_string(TruncInt(fy)) + ',' + Pressure(fp);
      }
      if (p.InStroke()) p.ReadStrokePoint(fx, fy, fp);  // a stroke of no further points
      l.text("points", pts);
      break;
    }
    case ecNewLayer:
      p.ReadNewLayer(a);
      l("kind", a);
      break;
    case ecDeleteLayer: case ecDuplicateLayer: case ecCombineLower: case ecUndo: case ecSelectLayer:
    case ecShowOnly: case ecLayerUpsideDown: case ecLayerMirror: case ecLayerRotate180: case ecLayerNegaPosi:
    case ecClearLayer: case ecClearUndoLayer:
      p.ReadLayer(layer);
      l("layer", layer);
      break;
    case ecMoveLayer:
      p.ReadMoveLayer(layer, a);
      l("from", layer)("to", a);
      break;
    case ecLayerVisible: {
      bool v = false;
      uint8_t visible = p.Data().ReadPointer()[1];  // the reader tells only whether it is 1
      p.ReadLayerVisible(layer, v);
      l("layer", layer)("visible", visible);
      break;
    }
    case ecLayerOpacity:
      p.ReadLayerOpacity(layer, a);
      l("layer", layer)("opacity", a);
      break;
    case ecLayerKind:
      p.ReadLayerKind(layer, a);
      l("layer", layer)("kind", a);
      break;
    case ecFillSelection:
      p.ReadFillSelection(layer, r, g, b);
      l("layer", layer).color("color", r, g, b);
      break;
    case ecOffsetLayer:
      p.ReadOffsetLayer(layer, x, y);
      l("layer", layer)("dx", x)("dy", y);
      break;
    case ecClearRect:
      p.ReadClearRect(layer, x, y, w, h);
      l("layer", layer)("x", x)("y", y)("w", w)("h", h);
      break;
    case ecFillRect:
      p.ReadFillRect(layer, x, y, w, h, r, g, b);
      l("layer", layer)("x", x)("y", y)("w", w)("h", h).color("color", r, g, b);
      break;
    case ecClearPolygon: {
      std::vector<TPoint> pts;
      p.ReadClearPolygon(layer, pts);
      l("layer", layer).text("points", Points(pts));
      break;
    }
    case ecFillPolygon: {
      std::vector<TPoint> pts;
      p.ReadFillPolygon(layer, r, g, b, pts);
      l("layer", layer).color("color", r, g, b).text("points", Points(pts));
      break;
    }
    case ecLine: {
      TStrokeAttributes at;
      uint16_t kind = 0;
      int32_t x2 = 0, y2 = 0;
      uint8_t flags = p.Data().ReadPointer()[kFlagsInBlock];
      p.ReadLine(at, kind, x, y, x2, y2);
      l("kind", kind);
      Brush(l, at, flags);
      l("x1", x)("y1", y)("x2", x2)("y2", y2);
      break;
    }
    case ecNewPaper: case ecResolution:
      p.ReadNewPaper(w, h);
      l("width", w)("height", h);
      break;
    case ecPaperSize: {  // no reader: the player stops here
      TMyMemory& m = p.Data();
      w = m.ReadWord();
      h = m.ReadWord();
      l("width", w)("height", h);
      break;
    }
    case ecPaperColor:
      p.ReadPaperColor(r, g, b);
      l.color("color", r, g, b);
      break;
    case ecCanvasSize:
      p.ReadCanvasSize(w, h, a);
      l("width", w)("height", h)("anchor", a);
      break;
    default:  // events without a payload
      break;
  }
  return l.str();
}

}  // namespace

int DumpEvents(const TMyMemory& stream, std::ostream& out, std::ostream& err) {
  const uint8_t* bytes = stream.ReadPointer();
  int32_t size = stream.Remaining();
  int32_t upto = 0;
  bool valid = ValidateEventStream(bytes, size, upto);

  // Everything before `upto` is a sequence of complete events.
  TEventPacket p;
  p.Data().WriteBuffer(bytes, upto);
  while (p.Data().Remaining() > 0) {
    uint16_t code = p.ReadCode();
    out << DumpEvent(p, code) << '\n';
  }
  if (upto < size) {
    if (valid) out << "# " << size - upto << " bytes after the end marker, dropped on loading\n";
    out << "Raw hex=" << HexBytes(bytes + upto, size - upto) << '\n';
  }
  if (!valid) {
    err << "invalid at byte " << upto << '\n';
    return 1;
  }
  return 0;
}

int CmdDump(const TArgs& args) {
  if (args.size() != 1) {
    std::cerr << "usage: wpetool dump FILE.wpe\n";
    return 2;
  }
  TMyMemory file(65536);
  if (!file.LoadFromFile(args[0])) {
    std::cerr << "wpetool: cannot read " << args[0] << '\n';
    return 2;
  }
  if (IsPictureFile(file)) return DumpPictureEvents(file, std::cout, std::cerr);
  return DumpEvents(file, std::cout, std::cerr);
}
