#include "session/wire/OwnerFilter.h"

#include <algorithm>
#include <cstring>

#include "engine/EventPacket.h"

namespace {

// Events that change one layer's pixels or undo steps, or choose the layer a stroke paints
// on; their layer is the byte after the code (a stroke's or line's brush layer).
bool ActsOnOneLayer(uint16_t code) {
  if (code <= ecStrokeLast) return true;
  switch (code) {
    case ecUndo:
    case ecSelectLayer:
    case ecLayerUpsideDown:
    case ecLayerMirror:
    case ecLayerRotate180:
    case ecLayerNegaPosi:
    case ecClearLayer:
    case ecFillSelection:
    case ecOffsetLayer:
    case ecClearRect:
    case ecFillRect:
    case ecClearPolygon:
    case ecFillPolygon:
    case ecLine:
    case ecClearUndoLayer:
      return true;
    default:
      return false;
  }
}

// Events that set one layer's visibility, opacity or kind; their layer is the byte after
// the code.
bool SetsLayerState(uint16_t code) {
  return code == ecLayerVisible || code == ecLayerOpacity || code == ecLayerKind;
}

// Bytes an event needs before its size is known (its count, for strokes and polygons).
size_t SizingBytes(uint16_t code) {
  if (code <= ecStrokeLast) return kStrokeHeaderSize;
  if (code == ecClearPolygon) return kClearPolygonCountOffset + 2;
  if (code == ecFillPolygon) return kFillPolygonCountOffset + 2;
  return 2;
}

}  // namespace

bool EventAllowedFrom(const uint8_t* p, size_t n, int32_t slot, const TLayerOwners& owners) {
  if (n < 2) return false;
  const uint16_t code = static_cast<uint16_t>(p[0] | (p[1] << 8));
  if (code == ecEnd || code == ecPaperSize) return false;
  if (!owners.Known()) return true;
  // "Show only" sets every layer's visibility, the other members' too.
  if (code == ecShowOnly) return false;
  const bool state = SetsLayerState(code);
  if (!state && !ActsOnOneLayer(code)) return true;
  if (n < 3) return false;
  const int32_t layer = p[2];
  if (layer >= owners.PerMember * owners.Members) return false;
  // The host tells each newcomer the state of every layer it does not own.
  if (state && slot == 0) return true;
  return layer / owners.PerMember == slot;
}

void TOwnerFilter::Feed(const uint8_t* p, size_t n, int32_t slot, const TLayerOwners& owners,
                        std::vector<uint8_t>& out) {
  while (n > 0) {
    if (left_ > 0) {  // the rest of an event already judged
      const size_t k = static_cast<size_t>(std::min<int64_t>(left_, static_cast<int64_t>(n)));
      if (pass_) out.insert(out.end(), p, p + k);
      p += k;
      n -= k;
      left_ -= static_cast<int64_t>(k);
      continue;
    }
    const size_t before = headLen_;
    const size_t k = std::min(n, kHeadBytes - headLen_);
    std::memcpy(head_ + headLen_, p, k);
    headLen_ += k;
    if (headLen_ < 2) {
      p += k;
      n -= k;
      continue;
    }
    const uint16_t code = static_cast<uint16_t>(head_[0] | (head_[1] << 8));
    int32_t size = 0;
    const TEventMeasure m = MeasureEvent(head_, static_cast<int32_t>(headLen_), size);
    size_t used = 0;
    if (m == TEventMeasure::NotEvent) {
      used = 2;  // the code alone: a player steps over it and reads on
      pass_ = false;
      size = 2;
    } else {
      const size_t judge = std::max(SizingBytes(code), std::min<size_t>(static_cast<size_t>(size), 3));
      if (headLen_ < judge) {
        p += k;
        n -= k;
        continue;
      }
      used = std::min(static_cast<size_t>(size), headLen_);
      pass_ = EventAllowedFrom(head_, used, slot, owners);
    }
    if (pass_) out.insert(out.end(), head_, head_ + used);
    const size_t fromInput = used - before;
    p += fromInput;
    n -= fromInput;
    left_ = static_cast<int64_t>(size) - static_cast<int64_t>(used);
    headLen_ = 0;
  }
}
