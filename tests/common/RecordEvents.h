#pragma once
// Counting the events of a recorded stream, for tests that only see the files it ends in.
#include <cstdint>

#include "engine/EventPacket.h"

namespace vtest {

// The stroke events among the whole events of a record.
inline int StrokeEvents(TEventPacket& r) {
  const uint8_t* b = r.Data().Memory();
  const int32_t n = r.Data().Size();
  int32_t pos = 0, size = 0, strokes = 0;
  while (pos + 2 <= n && MeasureEvent(b + pos, n - pos, size) == TEventMeasure::Complete) {
    if ((b[pos] | (b[pos + 1] << 8)) <= ecStrokeLast) ++strokes;
    pos += size;
  }
  return strokes;
}

}  // namespace vtest
