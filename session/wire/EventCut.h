#pragma once
// Finds where the drawing events end in a member's byte stream as it arrives in data
// frames, so that the bytes of a member who left in the middle of an event can be told from
// its whole events.
#include <cstddef>
#include <cstdint>

// Size of the drawing event whose first bytes are [p, p + n), by the engine's one sizing
// rule: the whole event with its code; 0 when more bytes are needed to know it (at most
// 27 are); -1 when the code is not an event.
int32_t EventSizeFromPrefix(const uint8_t* p, size_t n);

// Follows one stream, fed piece by piece, without keeping it.
class TEventCut {
 public:
  void Reset();
  void Feed(const uint8_t* p, size_t n);
  // Bytes fed since the last Reset, and the offset just after the last whole event.
  uint64_t Fed() const { return fed_; }
  uint64_t WholeEnd() const { return wholeEnd_; }
  // A code that is no event was met: nothing after WholeEnd is known to be whole.
  bool Broken() const { return broken_; }

 private:
  static constexpr size_t kHeadBytes = 27;  // enough to size every event (a stroke's count)
  uint8_t head_[kHeadBytes] = {};
  size_t headLen_ = 0;
  int64_t size_ = 0;  // of the current event, 0 while unknown
  int64_t have_ = 0;  // bytes of the current event seen
  uint64_t fed_ = 0;
  uint64_t wholeEnd_ = 0;
  bool broken_ = false;
};
