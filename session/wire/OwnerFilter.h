#pragma once
// Keeps a member's drawing events off the layers of other members. In a session member k
// (the host is 0) owns layers k x L .. k x L + L - 1; an event that changes a layer's pixels
// or undo steps, or chooses a layer to draw on, passes only from the slot that owns that
// layer. A layer's state (visible, opacity, kind) is set by its owner only, and by the host,
// which tells each newcomer the state of every layer; "show only", which sets every layer's
// visibility, passes from no one. The paper-wide events pass, a session paper ignores them.
#include <cstddef>
#include <cstdint>
#include <vector>

// Layers per member and members of a session; none known: every event passes.
struct TLayerOwners {
  int32_t PerMember = 0;
  int32_t Members = 0;
  bool Known() const { return PerMember >= 1 && Members >= 1; }
};

// Whether the event whose first bytes are [p, p + n) may come from the slot. n must hold
// the event's size known by the engine's sizing rule (at least 3 bytes for an event with a
// layer). Codes that stop a player without taking their payload (the end marker, the paper
// size) never pass: what follows them would be read as events of its own.
bool EventAllowedFrom(const uint8_t* p, size_t n, int32_t slot, const TLayerOwners& owners);

// Follows one slot's stream, fed piece by piece, and lets through the bytes of the events
// that slot may send, in order. An event is judged once its size and layer are known (at
// most 27 of its bytes are held back until then); a code that is no event is dropped alone,
// as a player would step over it.
class TOwnerFilter {
 public:
  void Reset() { *this = TOwnerFilter(); }
  void Feed(const uint8_t* p, size_t n, int32_t slot, const TLayerOwners& owners,
            std::vector<uint8_t>& out);

 private:
  static constexpr size_t kHeadBytes = 27;  // a stroke's attributes, first point and count
  uint8_t head_[kHeadBytes] = {};
  size_t headLen_ = 0;
  int64_t left_ = 0;  // bytes of the current event still to come
  bool pass_ = false;
};
