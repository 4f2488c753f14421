#pragma once
// Counting the events of a recorded stream, for tests that only see the files it ends in.
#include <cstdint>
#include <vector>

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

// The points after the first of each stroke event of a record, in order.
inline std::vector<int> StrokePointCounts(TEventPacket& r) {
  const uint8_t* b = r.Data().Memory();
  const int32_t n = r.Data().Size();
  int32_t pos = 0, size = 0;
  std::vector<int> counts;
  while (pos + 2 <= n && MeasureEvent(b + pos, n - pos, size) == TEventMeasure::Complete) {
    if ((b[pos] | (b[pos + 1] << 8)) <= ecStrokeLast)
      counts.push_back(b[pos + kStrokeCountOffset] | (b[pos + kStrokeCountOffset + 1] << 8));
    pos += size;
  }
  return counts;
}

}  // namespace vtest
