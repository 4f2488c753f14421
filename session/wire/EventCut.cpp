#include "session/wire/EventCut.h"

#include "engine/EventPacket.h"

#include <algorithm>
#include <climits>
#include <cstring>

int32_t EventSizeFromPrefix(const uint8_t* p, size_t n) {
  const int32_t avail = static_cast<int32_t>(std::min<size_t>(n, INT32_MAX));
  int32_t size = 0;
  switch (MeasureEvent(p, avail, size)) {
    case TEventMeasure::Complete:
      return size;
    case TEventMeasure::NotEvent:
      return -1;
    case TEventMeasure::Short:
      break;
  }
  // 27 bytes hold the count of every event that has one, so the size is known then.
  return avail >= kStrokeHeaderSize ? size : 0;
}

void TEventCut::Reset() { *this = TEventCut(); }

void TEventCut::Feed(const uint8_t* p, size_t n) {
  while (n > 0 && !broken_) {
    if (size_ == 0) {
      const size_t before = headLen_;
      const size_t k = std::min(n, kHeadBytes - headLen_);
      std::memcpy(head_ + headLen_, p, k);
      headLen_ += k;
      const int32_t s = EventSizeFromPrefix(head_, headLen_);
      if (s < 0) {
        broken_ = true;
        fed_ += n;
        return;
      }
      if (s == 0) {
        p += k;
        n -= k;
        fed_ += k;
        continue;
      }
      // Only the bytes of this event are taken from the piece.
      const size_t take = std::min(static_cast<size_t>(s), headLen_) - before;
      p += take;
      n -= take;
      fed_ += take;
      size_ = s;
      have_ = static_cast<int64_t>(std::min(static_cast<size_t>(s), headLen_));
      headLen_ = 0;
    } else {
      const size_t take = std::min(n, static_cast<size_t>(size_ - have_));
      p += take;
      n -= take;
      fed_ += take;
      have_ += static_cast<int64_t>(take);
    }
    if (have_ == size_) {
      wholeEnd_ = fed_;
      size_ = 0;
      have_ = 0;
    }
  }
  if (broken_) fed_ += n;
}
