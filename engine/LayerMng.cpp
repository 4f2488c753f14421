#include "engine/LayerMng.h"

#include <algorithm>

bool TLayerMng::IsValidSize(int32_t width, int32_t height) {
  return width >= 1 && height >= 1 && width <= kMaxPaperSide && height <= kMaxPaperSide;
}

std::unique_ptr<TLayerMng> TLayerMng::Create(int32_t width, int32_t height) {
  if (!IsValidSize(width, height)) return nullptr;
  return std::unique_ptr<TLayerMng>(new TLayerMng(width, height));
}

TLayerMng::TLayerMng(int32_t width, int32_t height) : width_(width), height_(height) {
  flow_ = std::make_unique<TFlowImage>();
  CreateLayer(0, lkMultiply);
  layers_[0]->Clear();
  SetActiveLayer(0);
}

TLayerMng::~TLayerMng() = default;

void TLayerMng::SetPlainPath(bool on) {
  plain_path_ = on;
  flow_->SetPlainPath(on);
}

bool TLayerMng::SetSize(int32_t width, int32_t height) {
  if (!IsValidSize(width, height)) return false;
  width_ = width;
  height_ = height;
  return true;
}

void TLayerMng::CreateLayer(int32_t i, TLayerKind kind) {
  layers_[i] = std::make_unique<TLayer>(kind);
  layers_[i]->SetSize(width_, height_);
}

void TLayerMng::CopyLayer(int32_t from, int32_t to) {
  layers_[from]->Assign(*layers_[to]);
  layers_[to]->Compact();
}

void TLayerMng::ShiftLayer(int32_t from, int32_t to) {
  if (from < to)
    std::rotate(layers_.begin() + from, layers_.begin() + from + 1, layers_.begin() + to + 1);
  else
    std::rotate(layers_.begin() + to, layers_.begin() + from, layers_.begin() + from + 1);
  for (int32_t k = std::min(from, to); k <= std::max(from, to); ++k)
    if (layers_[k]) layers_[k]->Compact();
}

bool TLayerMng::CanCombineVisible(TLayerKind& kind, int32_t& first, int32_t& count) const {
  kind = lkMultiply;
  first = -1;
  count = 0;
  bool same = true;
  for (int32_t i = 0; i <= last_index_; ++i) {
    if (!layers_[i]->Visible()) continue;
    if (count == 0) {
      first = i;
      kind = layers_[i]->Kind();
    } else if (layers_[i]->Kind() != kind) {
      same = false;
    }
    ++count;
  }
  // Merging draws by kind; an lkArgb layer draws nothing, which would leave the merge canvas
  // as it was allocated.
  return count >= 2 && same && kind <= lkSubtract;
}

bool TLayerMng::CanCombineVisible() const {
  TLayerKind kind;
  int32_t first, count;
  return CanCombineVisible(kind, first, count);
}

bool TLayerMng::CanUndo(int32_t i) const { return IsIndex(i) && layers_[i]->UndoSteps() >= 1; }

int64_t TLayerMng::MemorySize() const {
  int64_t sum = flow_->MemoryUsed();
  for (int32_t i = 0; i <= last_index_; ++i) sum += layers_[i]->MemorySize();
  return sum;
}

int64_t TLayerMng::UndoMemorySize() const {
  int64_t sum = 0;
  for (int32_t i = 0; i <= last_index_; ++i) sum += layers_[i]->UndoMemorySize();
  return sum;
}

int32_t TLayerMng::VisibleCount() const {
  int32_t n = 0;
  for (int32_t i = 0; i <= last_index_; ++i) n += layers_[i]->Visible() ? 1 : 0;
  return n;
}

void TLayerMng::BlendByKind(const TLayer& layer, TTC& canvas) const {
  switch (layer.Kind()) {
    case lkMultiply: layer.Image().MultiplyTo(canvas, 0, 0, layer.Opacity()); break;
    case lkAdd: layer.Image().AddTo(canvas, 0, 0, layer.Opacity()); break;
    case lkSubtract: layer.Image().SubtractTo(canvas, 0, 0, layer.Opacity()); break;
    default: break;
  }
}

// Stack operations.

void TLayerMng::SetActiveLayer(int32_t i) {
  if (!IsIndex(i)) return;
  flow_->Acquire(i, &layers_[i]->Image());
  active_index_ = i;
}

void TLayerMng::AddLayer(TLayerKind kind) {
  if (!CanAddLayer()) return;
  const int32_t top = last_index_ + 1;
  CreateLayer(top, kind);
  layers_[top]->Clear();
  last_index_ = top;
  flow_->Reset();
  SetActiveLayer(top);
}

void TLayerMng::DuplicateLayer(int32_t i) {
  if (!IsIndex(i) || !CanAddLayer()) return;
  const int32_t top = last_index_ + 1;
  CreateLayer(top, layers_[active_index_]->Kind());
  CopyLayer(active_index_, top);
  last_index_ = top;
  layers_[i]->UpdateThumbnail();
  flow_->Reset();
  SetActiveLayer(top);
}

void TLayerMng::DeleteLayer(int32_t i) {
  if (!IsIndex(i) || !CanDeleteLayer()) return;
  if (i == last_index_) {
    flow_->Reset();
    SetActiveLayer(last_index_ - 1);
    layers_[i].reset();
    last_index_ -= 1;
    return;
  }
  // The layers above move down one place with their attributes and undo rings.
  layers_[i].reset();
  ShiftLayer(i, last_index_);
  last_index_ -= 1;
  flow_->Reset();
  SetActiveLayer(i);
}

void TLayerMng::MoveLayer(int32_t from, int32_t to) {
  if (!IsIndex(from) || !IsIndex(to) || from == to) return;
  ShiftLayer(from, to);
  flow_->Reset();
  SetActiveLayer(to);
}

bool TLayerMng::CombineLower(int32_t i) {
  if (!CanCombineLower(i)) return false;
  TLayer& lower = *layers_[i - 1];
  const TLayer& upper = *layers_[i];
  TTC canvas;
  if (!canvas.SetSize(upper.Image().Width(), upper.Image().Height())) return false;
  canvas.Fill(lower.Image().BackColour());
  lower.Image().DrawTo(canvas, 0, 0);
  BlendByKind(upper, canvas);
  lower.Image().LoadFromTTC(canvas);
  lower.Compact();
  // Layer i leaves the stack; the layers above it move down one place.
  layers_[i].reset();
  ShiftLayer(i, last_index_);
  last_index_ -= 1;
  flow_->Reset();
  SetActiveLayer(last_index_);
  lower.UpdateThumbnail();
  flow_->Reset();
  SetActiveLayer(i - 1);
  return true;
}

bool TLayerMng::CombineVisible() {
  TLayerKind kind;
  int32_t base, count;
  if (!CanCombineVisible(kind, base, count)) return false;
  TTC canvas;
  if (!canvas.SetSize(width_, height_)) return false;
  while (count >= 2) {
    int32_t next = base + 1;
    while (next <= last_index_ && !layers_[next]->Visible()) ++next;
    canvas.Fill(kind == lkMultiply ? 0xFFFFFFFFu : 0xFF000000u);
    BlendByKind(*layers_[base], canvas);
    BlendByKind(*layers_[next], canvas);
    layers_[base]->Image().LoadFromTTC(canvas);
    layers_[base]->SetOpacity(255);
    DeleteLayer(next);
    count = VisibleCount();
  }
  for (int32_t k = 0; k <= last_index_; ++k) layers_[k]->Compact();
  layers_[base]->UpdateThumbnail();
  flow_->Reset();
  SetActiveLayer(0);
  return true;
}

// Per-layer attributes.

void TLayerMng::SetVisible(int32_t i, uint8_t v) {
  if (!IsIndex(i)) return;
  const uint8_t flag = v ? 1 : 0;
  if (layers_[i]->Visible() != flag) layers_[i]->SetVisible(flag);
}

void TLayerMng::ShowOnly(int32_t i) {
  if (!IsIndex(i)) return;
  const bool wasVisible = layers_[i]->Visible() != 0;
  for (int32_t k = 0; k <= last_index_; ++k) layers_[k]->SetVisible(wasVisible ? 1 : 0);
  layers_[i]->SetVisible(wasVisible ? 0 : 1);
}

void TLayerMng::SetOpacity(int32_t i, uint8_t opacity) {
  if (!IsIndex(i)) return;
  if (layers_[i]->Opacity() != opacity) layers_[i]->SetOpacity(opacity);
}

void TLayerMng::SetLayerKind(int32_t i, TLayerKind kind) {
  if (!IsIndex(i)) return;
  kind = SanitizeLayerKind(kind);
  if (layers_[i]->Kind() == kind) return;
  layers_[i]->SetKind(kind);
  // The kind changes the layer's background: a working copy of the layer, active or not, is
  // made again, or the next stroke on it would start from the old background.
  if (i == active_index_ || flow_->SlotOf(i) >= 0) {
    flow_->CopyTo(i, layers_[i]->Image());
    LayerChanged(i);
  }
}

// Pixel operations.

template <typename Op>
void TLayerMng::PixelOperation(int32_t i, Op op) {
  if (!IsIndex(i)) return;
  TLayer& layer = *layers_[i];
  flow_->Acquire(i, &layer.Image());
  op(layer);
  flow_->CopyTo(i, layer.Image());
  LayerChanged(i);
}

template <typename Op>
void TLayerMng::RectOperation(int32_t i, int32_t x, int32_t y, int32_t w, int32_t h, Op op) {
  if (!IsIndex(i)) return;
  TLayer& layer = *layers_[i];
  flow_->Acquire(i, &layer.Image());
  op(layer);
  flow_->CopyRectTo(i, layer.Image(), x, y, w, h);
  CompactAfterChange(i);
  if (plain_path_) layer.UpdateThumbnail();
  else layer.UpdateThumbnailAfter(x, y, w, h);
}

void TLayerMng::UpsideDown(int32_t i) {
  PixelOperation(i, [](TLayer& l) { l.UpsideDown(); });
}
void TLayerMng::Mirror(int32_t i) {
  PixelOperation(i, [](TLayer& l) { l.Mirror(); });
}
void TLayerMng::NegaPosi(int32_t i) {
  PixelOperation(i, [](TLayer& l) { l.NegaPosi(); });
}
void TLayerMng::Rotate180(int32_t i) {
  PixelOperation(i, [](TLayer& l) { l.Rotate180(); });
}
void TLayerMng::OffsetLayer(int32_t i, int32_t dx, int32_t dy) {
  PixelOperation(i, [=](TLayer& l) { l.Offset(dx, dy); });
}
void TLayerMng::ClearLayer(int32_t i) {
  PixelOperation(i, [](TLayer& l) { l.Clear(); });
}
void TLayerMng::FillSelection(const TSelectSlot& selection, int32_t i, uint32_t colour) {
  PixelOperation(i, [&](TLayer& l) { l.FillSelection(selection, colour); });
}
void TLayerMng::ClearRect(int32_t i, int32_t x, int32_t y, int32_t w, int32_t h) {
  RectOperation(i, x, y, w, h, [=](TLayer& l) { l.ClearRect(x, y, w, h); });
}
void TLayerMng::FillRect(int32_t i, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour) {
  RectOperation(i, x, y, w, h, [=](TLayer& l) { l.FillRect(x, y, w, h, colour); });
}

void TLayerMng::ClearPolygon(int32_t i, TSelectMng& selection, const TPoint* points, int32_t count) {
  if (!IsIndex(i)) return;
  FillPolygon(i, selection, layers_[i]->Image().BackColour(), points, count);
}

void TLayerMng::FillPolygon(int32_t i, TSelectMng& selection, uint32_t colour, const TPoint* points, int32_t count) {
  if (!IsIndex(i)) return;
  const int32_t slot = selection.Current();
  selection.CombineShape(slot, points, count, smReplace);
  FillSelection(selection.GetSlot(slot), i, colour);
  selection.Clear(slot);
}

void TLayerMng::SetLayerBitmap(int32_t i, const TTC& bitmap) {
  if (!IsIndex(i)) return;
  PushUndo(i);
  PixelOperation(i, [&](TLayer& l) {
    l.Image().LoadFromTTC(bitmap);
    l.Compact();
  });
}

template <typename Op>
void TLayerMng::VisibleFilter(Op op) {
  for (int32_t k = 0; k <= last_index_; ++k) {
    TLayer& layer = *layers_[k];
    if (!layer.Visible()) continue;
    op(layer);
    layer.RedrawThumbnail();
  }
  RefreshFlow(active_index_);
}

void TLayerMng::UpsideDownVisible() {
  VisibleFilter([](TLayer& l) { l.UpsideDown(); });
}
void TLayerMng::MirrorVisible() {
  VisibleFilter([](TLayer& l) { l.Mirror(); });
}
void TLayerMng::NegaPosiVisible() {
  VisibleFilter([](TLayer& l) { l.NegaPosi(); });
}
void TLayerMng::Rotate180Visible() {
  VisibleFilter([](TLayer& l) { l.Rotate180(); });
}

// Undo.

void TLayerMng::PushUndo(int32_t i) {
  if (IsIndex(i)) layers_[i]->PushUndo();
}

void TLayerMng::PushUndoRect(int32_t i, int32_t x, int32_t y, int32_t w, int32_t h) {
  if (IsIndex(i)) layers_[i]->PushUndoRect(x, y, w, h);
}

TRect TLayerMng::Undo(int32_t i) {
  if (!CanUndo(i)) return TRect{};
  TLayer& layer = *layers_[i];
  flow_->Acquire(i, &layer.Image());
  // The step writes its rectangle into the working copy and compacts the tiles around it.
  const TPoint origin = layer.UndoOrigin(layer.UndoTop());
  const TBlockImage& step = layer.Undo(layer.UndoTop());
  constexpr int32_t kAround = 2 * TBlock::kTileSide;
  TBlockImage* work = flow_->FindImageIn(i, origin.X - kAround, origin.Y - kAround, step.Width() + 2 * kAround,
                                         step.Height() + 2 * kAround);
  int32_t x, y, w, h;
  if (!layer.PopUndo(work, x, y, w, h)) return TRect{};
  if (w <= 0 || h <= 0) return TRect{};
  layer.UpdateThumbnailRect(x, y, w, h);
  return Rect(x, y, x + w, y + h);
}

void TLayerMng::ClearUndo(int32_t i) {
  if (IsIndex(i)) layers_[i]->ClearUndo();
}

void TLayerMng::ClearAllUndo() {
  for (int32_t k = 0; k <= last_index_; ++k) layers_[k]->ClearUndo();
}

void TLayerMng::LayerChanged(int32_t i) {
  if (!IsIndex(i)) return;
  CompactAfterChange(i);
  layers_[i]->UpdateThumbnail();
}

void TLayerMng::CompactAfterChange(int32_t i) {
  TLayer& layer = *layers_[i];
  if (plain_path_) {
    if (TBlockImage* work = flow_->FindImage(i)) CompactLayerImage(*work, layer.Kind());
    layer.Compact();
  } else {
    // The working copy holds the layer's pixels; it keeps the tiles the compaction keeps.
    layer.Compact();
    flow_->FollowCompaction(i, layer.Image());
  }
}

void TLayerMng::RefreshFlow(int32_t i) {
  if (!IsIndex(i)) return;
  flow_->Reset();
  layers_[i]->Compact();
  SetActiveLayer(i);
}
