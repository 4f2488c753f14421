#include "engine/SelectMng.h"

#include <algorithm>
#include <vector>

#include "engine/Layer.h"

namespace {
int32_t ClampSide(int32_t v) { return std::clamp(v, 0, kMaxPaperSide); }
}  // namespace

TSelectMng::TSelectMng(int32_t W, int32_t H) : width_(ClampSide(W)), height_(ClampSide(H)) {
  for (int32_t i = 0; i < kSelectSlots - 1; ++i) slots_[i].Ants = std::make_unique<TAnts>();
  CreateSlot(0);
  SizeChanged();
}

TSelectMng::~TSelectMng() = default;

void TSelectMng::SizeThumb(TTC& thumb) const {
  int32_t tw, th;
  ThumbnailSize(kSelectThumbSide, width_, height_, tw, th);
  thumb.SetSize(tw, th);
  thumb.Fill(0xFFFFFFFFu);
}

void TSelectMng::CreateSlot(int32_t slot) {
  if (slot < 0 || slot >= kSelectSlots) return;
  Slot& s = slots_[slot];
  s.Mask = std::make_unique<TBlockChannel>();
  s.Mask->SetSize(width_, height_);
  s.Ants = std::make_unique<TAnts>();
  s.Empty = true;
  s.Thumb = std::make_unique<TTC>();
  SizeThumb(*s.Thumb);
}

bool TSelectMng::Resize(int32_t W, int32_t H) {
  if (W < 0 || H < 0 || W > kMaxPaperSide || H > kMaxPaperSide) return false;
  width_ = W;
  height_ = H;
  for (int32_t i = 0; i <= current_; ++i)
    if (slots_[i].Mask) slots_[i].Mask->SetSize(W, H);
  CreateSlot(current_);
  SizeChanged();
  return true;
}

void TSelectMng::SetCurrent(int32_t slot) {
  if (slot >= 0 && slot <= last_slot_) current_ = slot;
}

TSelectSlot TSelectMng::GetSlot(int32_t slot) const {
  if (!Valid(slot)) return TSelectSlot{};
  const Slot& s = slots_[slot];
  return TSelectSlot{s.Mask.get(), s.Thumb.get(), s.Ants.get(), s.Empty};
}

TTC* TSelectMng::GetThumb(int32_t slot) const { return Valid(slot) ? slots_[slot].Thumb.get() : nullptr; }

bool TSelectMng::IsEmpty(int32_t slot) const { return Valid(slot) ? slots_[slot].Empty : true; }

void TSelectMng::CombineShape(int32_t slot, const TPoint* points, int32_t count, uint8_t mode) {
  if (!Valid(slot)) return;
  Slot& s = slots_[slot];
  TBlockChannel shape;
  shape.SetSize(slots_[0].Mask->Width(), slots_[0].Mask->Height());
  std::vector<TPoint> own;
  if (points && count > 0) own.assign(points, points + count);
  shape.FillPolygon(own);
  if (s.Empty) s.Mask->FreeAll();
  switch (mode) {
    case smReplace: shape.CombineChannel(*s.Mask, 0, 0, TBlockChannel::cmCopy); break;
    case smAdd: shape.CombineChannel(*s.Mask, 0, 0, TBlockChannel::cmAdd); break;
    case smSubtract: shape.CombineChannel(*s.Mask, 0, 0, TBlockChannel::cmSubtract); break;
    case smIntersect: shape.CombineChannel(*s.Mask, 0, 0, TBlockChannel::cmAnd); break;
    default: break;
  }
  RefreshThumb(slot);
  s.Empty = false;
}

void TSelectMng::SelectAll(int32_t slot) {
  if (!Valid(slot)) return;
  Slot& s = slots_[slot];
  s.Mask->ChannelFill(255);
  s.Ants->Update(*s.Mask);
  s.Thumb->Fill(0xFFFFFFFFu);
  s.Empty = false;
}

void TSelectMng::Clear(int32_t slot) {
  if (!Valid(slot)) return;
  Slot& s = slots_[slot];
  s.Empty = true;
  s.Mask->FreeAll();
  s.Thumb->Fill(0xFFFFFFFFu);
}

void TSelectMng::RefreshThumb(int32_t slot) {
  if (!Valid(slot)) return;
  Slot& s = slots_[slot];
  s.Ants->Update(*s.Mask);
  s.Thumb->Fill(0xFF000000u);
  const int32_t mw = s.Mask->Width(), mh = s.Mask->Height();
  if (mw <= 0 || mh <= 0) return;
  int32_t X, Y, W, H;
  s.Mask->TilesBounds(X, Y, W, H);
  const ext_t rx = static_cast<ext_t>(s.Thumb->Width()) / static_cast<ext_t>(mw);
  const ext_t ry = static_cast<ext_t>(s.Thumb->Height()) / static_cast<ext_t>(mh);
  const int32_t tx = TruncInt(static_cast<ext_t>(X) * rx), ty = TruncInt(static_cast<ext_t>(Y) * ry);
  const int32_t tw = TruncInt(static_cast<ext_t>(W) * rx), th = TruncInt(static_cast<ext_t>(H) * ry);
  s.Mask->ChannelToGrey(*s.Thumb, tx, ty, tw + 1, th + 1);
}

void TSelectMng::CopySlot(int32_t from, int32_t to) {
  if (!Valid(from) || !Valid(to) || from == to) return;
  Slot& f = slots_[from];
  Slot& t = slots_[to];
  f.Mask->CombineChannel(*t.Mask, 0, 0, TBlockChannel::cmCopy);
  f.Thumb->BlendTo(*t.Thumb, 0, 0, 255);
  t.Ants->Update(*t.Mask);
  t.Empty = f.Empty;
}

void TSelectMng::StoreCopy(int32_t slot) {
  if (!Valid(slot) || last_slot_ >= kSelectSlots - 1) return;
  CreateSlot(last_slot_ + 1);
  last_slot_ += 1;
  CopySlot(slot, last_slot_);
  Clear(slot);
  SetCurrent(slot);
}

void TSelectMng::Morph(int32_t slot, bool grow) {
  if (!Valid(slot) || slots_[slot].Empty) return;
  Slot& s = slots_[slot];
  TBlockChannel temp;
  temp.SetSize(s.Mask->Width(), s.Mask->Height());
  if (grow)
    s.Mask->Dilate(temp);
  else
    s.Mask->Erode(temp);
  temp.SmoothSteps(*s.Mask);
  RefreshThumb(slot);
}

void TSelectMng::Grow(int32_t slot) { Morph(slot, true); }
void TSelectMng::Shrink(int32_t slot) { Morph(slot, false); }

void TSelectMng::Invert(int32_t slot) {
  if (!Valid(slot) || slots_[slot].Empty) return;
  slots_[slot].Mask->InvertChannel();
  RefreshThumb(slot);
  slots_[slot].Empty = false;
}
