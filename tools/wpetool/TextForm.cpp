#include "TextForm.h"

#include <cstdio>

#include "engine/EventPacket.h"

namespace {

struct TName {
  uint16_t code;
  const char* name;
};

const TName kNames[] = {
    {ecStroke, "Stroke"},
    {ecNewLayer, "NewLayer"},
    {ecDeleteLayer, "DeleteLayer"},
    {ecCombineVisible, "CombineVisible"},
    {ecDuplicateLayer, "DuplicateLayer"},
    {ecMoveLayer, "MoveLayer"},
    {ecCombineLower, "CombineLower"},
    {ecUndo, "Undo"},
    {ecSelectLayer, "SelectLayer"},
    {ecLayerVisible, "LayerVisible"},
    {ecLayerOpacity, "LayerOpacity"},
    {ecLayerKind, "LayerKind"},
    {ecShowOnly, "ShowOnly"},
    {ecLayerUpsideDown, "LayerUpsideDown"},
    {ecLayerMirror, "LayerMirror"},
    {ecLayerRotate180, "LayerRotate180"},
    {ecLayerNegaPosi, "LayerNegaPosi"},
    {ecClearLayer, "ClearLayer"},
    {ecFillSelection, "FillSelection"},
    {ecOffsetLayer, "OffsetLayer"},
    {ecClearRect, "ClearRect"},
    {ecFillRect, "FillRect"},
    {ecClearPolygon, "ClearPolygon"},
    {ecFillPolygon, "FillPolygon"},
    {ecLine, "Line"},
    {ecNewPaper, "NewPaper"},
    {ecPaperColor, "PaperColor"},
    {ecCanvasSize, "CanvasSize"},
    {ecResolution, "Resolution"},
    {ecRotateRight, "RotateRight"},
    {ecRotateLeft, "RotateLeft"},
    {ecClearUndoAll, "ClearUndoAll"},
    {ecClearUndoLayer, "ClearUndoLayer"},
    {ecPaperSize, "PaperSize"},
    {ecUpsideDownVisible, "UpsideDownVisible"},
    {ecMirrorVisible, "MirrorVisible"},
    {ecRotate180Visible, "Rotate180Visible"},
    {ecNegaPosiVisible, "NegaPosiVisible"},
    {ecEnd, "End"},
};

}  // namespace

const char* EventName(uint16_t code) {
  if (code <= ecStrokeLast) return "Stroke";
  for (const TName& n : kNames)
    if (n.code == code) return n.name;
  return nullptr;
}

bool EventCodeByName(const std::string& name, uint16_t& code) {
  for (const TName& n : kNames) {
    if (name == n.name) {
      code = n.code;
      return true;
    }
  }
  return false;
}

std::string FormatFixed(int64_t raw, int shift) {
  std::string s = raw < 0 ? "-" : "";
  uint64_t a = raw < 0 ? static_cast<uint64_t>(-raw) : static_cast<uint64_t>(raw);
  uint64_t one = uint64_t{1} << shift;
  s += std::to_string(a >> shift);
  uint64_t frac = a & (one - 1);
  if (frac) s += '.';
  while (frac) {  // ends: 2^shift divides 10^shift
    frac *= 10;
    s += static_cast<char>('0' + (frac >> shift));
    frac &= one - 1;
  }
  return s;
}

std::string HexBytes(const uint8_t* p, int32_t n) {
  std::string s;
  char buf[3];
  for (int32_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", p[i]);
    s += buf;
  }
  return s;
}

std::string HexColor(uint32_t rgb) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%06x", rgb & 0xFFFFFFu);
  return buf;
}
