#include "session/wire/EventCut.h"

#include <algorithm>
#include <cstring>

namespace {

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Fixed sizes by code; 0 for codes that carry a count, -1 for codes that are no event.
int32_t FixedSize(uint16_t code) {
  if (code <= 4) return 0;
  switch (code) {
    case 258: case 516: case 517: case 518: case 528: case 529: case 530: case 531:
    case 0xFFFF:
      return 2;
    case 256: case 257: case 259: case 261: case 272: case 273: case 277:
    case 288: case 289: case 290: case 291: case 292: case 519:
      return 3;
    case 260: case 274: case 275: case 276:
      return 4;
    case 513:
      return 5;
    case 293: case 512: case 515: case 520:
      return 6;
    case 294: case 514:
      return 7;
    case 295:
      return 11;
    case 296:
      return 14;
    case 305:
      return 29;
    case 297: case 304:
      return 0;
    default:
      return -1;
  }
}

}  // namespace

int32_t EventSizeFromPrefix(const uint8_t* p, size_t n) {
  if (n < 2) return 0;
  const uint16_t code = Word(p);
  const int32_t fixed = FixedSize(code);
  if (fixed != 0) return fixed;
  if (code <= 4) {  // stroke: N after the attributes and the first point
    if (n < 27) return 0;
    return 27 + 6 * static_cast<int32_t>(Word(p + 25));
  }
  if (code == 297) {  // clear polygon: layer, N
    if (n < 5) return 0;
    return 5 + 4 * static_cast<int32_t>(Word(p + 3));
  }
  if (n < 8) return 0;  // fill polygon: layer, colour, N
  return 8 + 4 * static_cast<int32_t>(Word(p + 6));
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
