// wpetool build: writes an event file from its text form through the engine's own writers.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include "Commands.h"
#include "TextForm.h"
#include "engine/EventPacket.h"
#include "platform/core/Files.h"

namespace {

struct TBuildError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The key=value fields of one line; every field must be used by its event.
class TFields {
 public:
  void Add(const std::string& token) {
    auto eq = token.find('=');
    if (eq == std::string::npos || eq == 0) throw TBuildError("expected key=value, got '" + token + "'");
    std::string key = token.substr(0, eq);
    if (!values_.emplace(key, token.substr(eq + 1)).second) throw TBuildError("field '" + key + "' given twice");
  }

  int64_t Int(const std::string& key, int64_t lo, int64_t hi) {
    const std::string* v = Get(key);
    if (!v) return 0;
    return ParseInt(*v, key, lo, hi);
  }
  uint8_t Byte(const std::string& key) { return static_cast<uint8_t>(Int(key, 0, 255)); }
  int32_t I16(const std::string& key) { return static_cast<int32_t>(Int(key, -32768, 32767)); }
  int32_t U16(const std::string& key) { return static_cast<int32_t>(Int(key, 0, 65535)); }
  bool Flag(const std::string& key) { return Int(key, 0, 1) != 0; }

  // A value in steps of 1 / 2^shift inside [lo, hi).
  float Fixed(const std::string& key, int shift, double lo, double hi) {
    const std::string* v = Get(key);
    if (!v) return 0;
    return ParseFixed(*v, key, shift, lo, hi);
  }

  uint32_t Color(const std::string& key) {
    const std::string* v = Get(key);
    if (!v) return 0;
    char* end = nullptr;
    unsigned long c = std::strtoul(v->c_str(), &end, 16);
    if (v->size() != 6 || *end) throw TBuildError(key + " must be six hex digits rrggbb");
    return static_cast<uint32_t>(c);
  }

  // Points "x,y;x,y" of `parts` numbers each.
  std::vector<std::vector<std::string>> PointList(const std::string& key, size_t parts) {
    std::vector<std::vector<std::string>> out;
    const std::string* v = Get(key);
    if (!v || v->empty()) return out;
    std::stringstream all(*v);
    std::string point;
    while (std::getline(all, point, ';')) {
      std::vector<std::string> items;
      std::stringstream ps(point);
      std::string item;
      while (std::getline(ps, item, ',')) items.push_back(item);
      if (items.size() != parts) throw TBuildError("bad point '" + point + "' in " + key);
      out.push_back(items);
    }
    return out;
  }

  const std::string* Text(const std::string& key) { return Get(key); }

  void CheckAllUsed() const {
    for (const auto& [key, value] : values_)
      if (!used_.count(key)) throw TBuildError("unknown field '" + key + "'");
  }

  static int64_t ParseInt(const std::string& v, const std::string& key, int64_t lo, int64_t hi) {
    char* end = nullptr;
    errno = 0;
    long long n = std::strtoll(v.c_str(), &end, 10);
    if (v.empty() || *end || errno) throw TBuildError(key + ": not a whole number: '" + v + "'");
    if (n < lo || n > hi)
      throw TBuildError(key + " " + v + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
    return n;
  }

  static float ParseFixed(const std::string& v, const std::string& key, int shift, double lo, double hi) {
    char* end = nullptr;
    errno = 0;
    double d = std::strtod(v.c_str(), &end);
    if (v.empty() || *end || errno || !std::isfinite(d)) throw TBuildError(key + ": not a number: '" + v + "'");
    if (d < lo || d >= hi) throw TBuildError(key + " " + v + " is out of range");
    double steps = d * static_cast<double>(1 << shift);
    if (steps != std::trunc(steps)) throw TBuildError(key + " " + v + " is not a multiple of 1/" +
                                                      std::to_string(1 << shift));
    return static_cast<float>(d);
  }

 private:
  const std::string* Get(const std::string& key) {
    used_.insert(key);
    auto it = values_.find(key);
    return it == values_.end() ? nullptr : &it->second;
  }

  std::map<std::string, std::string> values_;
  std::set<std::string> used_;
};

// The recorder normalises a few fields that a stream may still hold: flag bits 3-7 of the brush,
// a visible byte other than 0 and 1, a line kind above 4. Build writes them through the recorder
// and then puts the stated value in place, so that every valid stream has a text form.

// Offsets from the event's first byte.
constexpr int32_t kFlagsAt = 6;
constexpr int32_t kLineKindAt = 19;
constexpr int32_t kLineSize = 29;

// Flag bits 3-7 of the brush block, as they stand in the byte.
uint8_t OtherFlags(TFields& f) {
  auto v = static_cast<uint8_t>(f.Int("otherflags", 0, 255));
  if (v & 7) throw TBuildError("otherflags holds bits 3-7 only (bits 0-2 are ifsize, iftransparency, ifedge)");
  return v;
}

uint8_t FlagsByte(const TStrokeAttributes& a, uint8_t other) {
  return static_cast<uint8_t>((a.ifSIZE ? 1 : 0) | (a.ifTRANSPARENCY ? 2 : 0) | (a.ifEDGE ? 4 : 0) | other);
}

TStrokeAttributes BrushFields(TFields& f) {
  TStrokeAttributes a;
  a.Layer = f.Byte("layer");
  a.Color = f.Color("color");
  a.ifSIZE = f.Flag("ifsize");
  a.ifTRANSPARENCY = f.Flag("iftransparency");
  a.ifEDGE = f.Flag("ifedge");
  a.MIN = f.Fixed("min", 8, 0, 256);
  a.WIDTH = f.Fixed("width", 8, 0, 256);
  a.GAMMA = f.Fixed("gamma", 8, 0, 256);
  a.EFFECT = f.Fixed("effect", 8, 0, 256);
  a.ENV = f.Fixed("env", 8, 0, 256);
  a.SPEED = f.Fixed("speed", 8, 0, 256);
  return a;
}

std::vector<TPoint> PolygonFields(TFields& f) {
  std::vector<TPoint> pts;
  for (const auto& p : f.PointList("points", 2)) {
    pts.push_back(TPoint{static_cast<int32_t>(TFields::ParseInt(p[0], "x", -32768, 32767)),
                         static_cast<int32_t>(TFields::ParseInt(p[1], "y", -32768, 32767))});
  }
  if (pts.size() > static_cast<size_t>(kMaxEventCount)) throw TBuildError("more than 65535 points");
  return pts;
}

uint8_t R(uint32_t c) { return static_cast<uint8_t>(c >> 16); }
uint8_t G(uint32_t c) { return static_cast<uint8_t>(c >> 8); }
uint8_t Bl(uint32_t c) { return static_cast<uint8_t>(c); }

void BuildEvent(TEventPacket& p, const std::string& name, TFields& f) {
  if (name == "Raw") {
    const std::string* hex = f.Text("hex");
    if (!hex) return;
    if (hex->size() % 2) throw TBuildError("hex needs an even number of digits");
    for (size_t i = 0; i < hex->size(); i += 2) {
      char* end = nullptr;
      std::string byte = hex->substr(i, 2);
      unsigned long b = std::strtoul(byte.c_str(), &end, 16);
      if (*end || !std::isxdigit(static_cast<unsigned char>(byte[0]))) throw TBuildError("bad hex '" + byte + "'");
      p.Data().WriteByte(static_cast<uint8_t>(b));
    }
    return;
  }
  uint16_t code = 0;
  if (!EventCodeByName(name, code)) throw TBuildError("unknown event '" + name + "'");
  switch (code) {
    case ecStroke: {
      auto kind = static_cast<uint8_t>(f.Int("kind", 0, 4));
      TStrokeAttributes a = BrushFields(f);
      uint8_t other = OtherFlags(f);
      auto pts = f.PointList("points", 3);
      if (pts.empty()) throw TBuildError("a stroke needs its first point");
      if (pts.size() > static_cast<size_t>(kMaxEventCount) + 1) throw TBuildError("more than 65536 points");
      for (size_t i = 0; i < pts.size(); ++i) {
        auto x = static_cast<float>(TFields::ParseInt(pts[i][0], "x", -32768, 32767));
        auto y = static_cast<float>(TFields::ParseInt(pts[i][1], "y", -32768, 32767));
        float pr = TFields::ParseFixed(pts[i][2], "pressure", 10, -32, 32);
        if (i == 0) {
          p.BeginStroke(a, kind, x, y, pr);
          p.Data().WriteByte(FlagsByte(a, other), kFlagsAt - kStrokeHeaderSize);
        } else {
          p.AddStrokePoint(x, y, pr);
        }
      }
      p.EndStroke();
      break;
    }
    case ecNewLayer: p.WriteNewLayer(f.Byte("kind")); break;
    case ecDeleteLayer: p.WriteDeleteLayer(f.Byte("layer")); break;
    case ecCombineVisible: p.WriteCombineVisible(); break;
    case ecDuplicateLayer: p.WriteDuplicateLayer(f.Byte("layer")); break;
    case ecMoveLayer: {
      uint8_t from = f.Byte("from");
      p.WriteMoveLayer(from, f.Byte("to"));
      break;
    }
    case ecCombineLower: p.WriteCombineLower(f.Byte("layer")); break;
    case ecUndo: p.WriteUndo(f.Byte("layer")); break;
    case ecSelectLayer: p.WriteSelectLayer(f.Byte("layer")); break;
    case ecLayerVisible: {  // 1 visible, any other byte hidden
      uint8_t layer = f.Byte("layer");
      uint8_t visible = f.Byte("visible");
      p.WriteLayerVisible(layer, visible);
      p.Data().WriteByte(visible, -1);
      break;
    }
    case ecLayerOpacity: {
      uint8_t layer = f.Byte("layer");
      p.WriteLayerOpacity(layer, f.Byte("opacity"));
      break;
    }
    case ecLayerKind: {
      uint8_t layer = f.Byte("layer");
      p.WriteLayerKind(layer, f.Byte("kind"));
      break;
    }
    case ecShowOnly: p.WriteShowOnly(f.Byte("layer")); break;
    case ecLayerUpsideDown: p.WriteLayerUpsideDown(f.Byte("layer")); break;
    case ecLayerMirror: p.WriteLayerMirror(f.Byte("layer")); break;
    case ecLayerRotate180: p.WriteLayerRotate180(f.Byte("layer")); break;
    case ecLayerNegaPosi: p.WriteLayerNegaPosi(f.Byte("layer")); break;
    case ecClearLayer: p.WriteClearLayer(f.Byte("layer")); break;
    case ecFillSelection: {
      uint8_t layer = f.Byte("layer");
      uint32_t c = f.Color("color");
      p.WriteFillSelection(layer, R(c), G(c), Bl(c));
      break;
    }
    case ecOffsetLayer: {
      uint8_t layer = f.Byte("layer");
      int32_t dx = f.I16("dx");
      p.WriteOffsetLayer(layer, dx, f.I16("dy"));
      break;
    }
    case ecClearRect: {
      uint8_t layer = f.Byte("layer");
      int32_t x = f.I16("x"), y = f.I16("y"), w = f.I16("w"), h = f.I16("h");
      p.WriteClearRect(layer, x, y, w, h);
      break;
    }
    case ecFillRect: {
      uint8_t layer = f.Byte("layer");
      int32_t x = f.I16("x"), y = f.I16("y"), w = f.I16("w"), h = f.I16("h");
      uint32_t c = f.Color("color");
      p.WriteFillRect(layer, x, y, w, h, R(c), G(c), Bl(c));
      break;
    }
    case ecClearPolygon: {
      uint8_t layer = f.Byte("layer");
      auto pts = PolygonFields(f);
      p.WriteClearPolygon(layer, pts.data(), static_cast<int32_t>(pts.size()));
      break;
    }
    case ecFillPolygon: {
      uint8_t layer = f.Byte("layer");
      uint32_t c = f.Color("color");
      auto pts = PolygonFields(f);
      p.WriteFillPolygon(layer, pts.data(), R(c), G(c), Bl(c), static_cast<int32_t>(pts.size()));
      break;
    }
    case ecLine: {
      auto kind = static_cast<uint16_t>(f.Int("kind", 0, 65535));  // a 16-bit field; brushes take 0..4
      TStrokeAttributes a = BrushFields(f);
      uint8_t other = OtherFlags(f);
      int32_t x1 = f.I16("x1"), y1 = f.I16("y1"), x2 = f.I16("x2"), y2 = f.I16("y2");
      p.WriteLine(a, static_cast<uint8_t>(kind <= ecStrokeLast ? kind : 0), x1, y1, x2, y2);
      p.Data().WriteByte(FlagsByte(a, other), kFlagsAt - kLineSize);
      p.Data().WriteWord(kind, kLineKindAt - kLineSize);
      break;
    }
    case ecNewPaper: {
      int32_t w = f.U16("width");
      p.WriteNewPaper(w, f.U16("height"));
      break;
    }
    case ecPaperColor: {
      uint32_t c = f.Color("color");
      p.WritePaperColor(R(c), G(c), Bl(c));
      break;
    }
    case ecCanvasSize: {
      int32_t w = f.U16("width"), h = f.U16("height");
      p.WriteCanvasSize(w, h, f.Byte("anchor"));
      break;
    }
    case ecResolution: {
      int32_t w = f.U16("width");
      p.WriteResolution(w, f.U16("height"));
      break;
    }
    case ecPaperSize: {  // the program never writes one; files from elsewhere may hold it
      int32_t w = f.U16("width"), h = f.U16("height");
      p.Data().WriteWord(ecPaperSize);
      p.Data().WriteWord(static_cast<uint16_t>(w));
      p.Data().WriteWord(static_cast<uint16_t>(h));
      break;
    }
    case ecRotateRight: p.WriteRotateRight(); break;
    case ecRotateLeft: p.WriteRotateLeft(); break;
    case ecClearUndoAll: p.WriteClearUndoAll(); break;
    case ecClearUndoLayer: p.WriteClearUndoLayer(f.Byte("layer")); break;
    case ecUpsideDownVisible: p.WriteUpsideDownVisible(); break;
    case ecMirrorVisible: p.WriteMirrorVisible(); break;
    case ecRotate180Visible: p.WriteRotate180Visible(); break;
    case ecNegaPosiVisible: p.WriteNegaPosiVisible(); break;
    case ecEnd: p.WriteEndMarker(); break;
    default: throw TBuildError("unknown event '" + name + "'");
  }
}

}  // namespace

int CmdBuild(const TArgs& args) {
  if (args.size() != 2) {
    std::cerr << "usage: wpetool build TEXT OUT.wpe\n";
    return 2;
  }
  std::ifstream in(args[0]);
  if (!in) {
    std::cerr << "wpetool: cannot read " << args[0] << '\n';
    return 2;
  }
  TEventPacket p;
  std::string text;
  for (int lineNo = 1; std::getline(in, text); ++lineNo) {
    auto hash = text.find('#');
    if (hash != std::string::npos) text.erase(hash);
    std::istringstream tokens(text);
    std::string name, token;
    if (!(tokens >> name)) continue;
    try {
      TFields fields;
      while (tokens >> token) fields.Add(token);
      BuildEvent(p, name, fields);
      fields.CheckAllUsed();
    } catch (const TBuildError& e) {
      std::cerr << args[0] << ':' << lineNo << ": " << e.what() << '\n';
      return 1;
    }
  }
  const TMyMemory& m = p.Data();
  if (!plat::WriteFileAtomic(args[1], m.Memory(), static_cast<size_t>(m.Size()))) {
    std::cerr << "wpetool: cannot write " << args[1] << '\n';
    return 1;
  }
  int32_t pos = 0;
  if (!ValidateEventStream(m.Memory(), m.Size(), pos)) {
    std::cerr << "note: " << args[1] << " is not a valid stream (invalid at byte " << pos << ")\n";
  }
  return 0;
}
