#include "engine/Flow.h"

namespace {
constexpr int32_t kFreeSlotSide = 4;
}

TFlowImage::TFlowImage() {
  for (int32_t i = 0; i < kFlowSlots; ++i) {
    image_[i] = std::make_unique<TBlockImage>();
    mask_[i] = std::make_unique<TBlockChannel>();
    stamp_[i] = -1;
    slot_layer_[i] = -1;
    locked_[i] = 0;
  }
}

TFlowImage::~TFlowImage() = default;

void TFlowImage::SetSlotCount(int32_t n) {
  if (n >= 1 && n <= kFlowSlots) slot_count_ = n;
}

int32_t TFlowImage::SlotOf(int32_t layer) const {
  if (layer < 0) return -1;
  int32_t found = -1;
  for (int32_t i = 0; i < slot_count_; ++i)
    if (slot_layer_[i] == layer) found = i;
  return found;
}

void TFlowImage::Acquire(int32_t layer, const TBlockImage* image) {
  if (!image || layer < 0 || SlotOf(layer) >= 0) return;
  // The unlocked slot with the lowest stamp; the lower slot number among equal stamps.
  int32_t pick = -1;
  for (int32_t i = 0; i < slot_count_; ++i) {
    if (locked_[i]) continue;
    if (pick < 0 || stamp_[i] < stamp_[pick]) pick = i;
  }
  if (pick < 0) return;
  TBlockImage& work = *image_[pick];
  TBlockChannel& mask = *mask_[pick];
  if (work.Width() != image->Width() || work.Height() != image->Height()) {
    work.SetSize(image->Width(), image->Height());
    mask.SetSize(image->Width(), image->Height());
  }
  image->CloneTo(work);
  mask.ChannelFill(0);
  slot_layer_[pick] = layer;
  locked_[pick] = 0;
  stamp_[pick] = clock_;
  clock_ += 1;
}

TBlockImage* TFlowImage::FindImage(int32_t layer) {
  const int32_t slot = SlotOf(layer);
  return slot < 0 ? nullptr : image_[slot].get();
}

TBlockChannel* TFlowImage::FindMask(int32_t layer) {
  const int32_t slot = SlotOf(layer);
  return slot < 0 ? nullptr : mask_[slot].get();
}

void TFlowImage::SetLocked(int32_t layer, uint8_t flag) {
  const int32_t slot = SlotOf(layer);
  if (slot >= 0) locked_[slot] = flag;
}

bool TFlowImage::IsLocked(int32_t layer) const {
  const int32_t slot = SlotOf(layer);
  return slot >= 0 && locked_[slot] != 0;
}

void TFlowImage::CopyTo(int32_t layer, const TBlockImage& block) {
  const int32_t slot = SlotOf(layer);
  if (slot < 0) return;
  TBlockImage& work = *image_[slot];
  if (work.Width() != block.Width() || work.Height() != block.Height()) {
    work.SetSize(block.Width(), block.Height());
    mask_[slot]->SetSize(block.Width(), block.Height());
    mask_[slot]->ChannelFill(0);
  }
  block.CloneTo(work);
}

void TFlowImage::Reset() {
  for (int32_t i = 0; i < kFlowSlots; ++i) {
    slot_layer_[i] = -1;
    locked_[i] = 0;
    image_[i]->SetSize(kFreeSlotSide, kFreeSlotSide);
    mask_[i]->SetSize(kFreeSlotSide, kFreeSlotSide);
  }
}

int64_t TFlowImage::MemoryUsed() const {
  int64_t sum = 0;
  for (int32_t i = 0; i < slot_count_; ++i) sum += image_[i]->MemoryUsed();
  return sum;
}
