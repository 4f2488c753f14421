#include "engine/Paper.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/Block.h"
#include "engine/EventPacket.h"
#include "engine/Flow.h"
#include "engine/Layer.h"
#include "engine/LayerMng.h"
#include "engine/Parallel.h"
#include "engine/SelectMng.h"
#include "engine/Stroke.h"

namespace {

// Title text of each zoom step, -2..6.
const char* const kZoomCaptions[] = {" 25%", " 50%", "100%", "150%", "200%", "300%", "400%", "600%", "800%"};

// A paper side within the tile grid; false when it had to be clamped.
bool ClampSide(int32_t& side) {
  const int32_t asked = side;
  side = std::clamp(side, int32_t{1}, kMaxPaperSide);
  return side == asked;
}

// The integer scaling of a paper coordinate at zoom steps 1..6 (unrotated painting).
int32_t StepScale(int32_t zoomIndex, int32_t v) {
  switch (zoomIndex) {
    case 1: return (3 * v) / 2;
    case 2: return 2 * v;
    case 3: return 3 * v;
    case 4: return 4 * v;
    case 5: return 6 * v;
    case 6: return 8 * v;
    default: return v;
  }
}

// Helper threads pay off only on papers of a million pixels and more.
int32_t PieceThreads(int64_t pixels) { return pixels >= (int64_t(1) << 20) ? 0 : 1; }

}  // namespace

TPaper::TPaper() = default;
TPaper::~TPaper() = default;

bool TPaper::Init(const std::string& name, int32_t width, int32_t height) {
  const bool exact = ClampSide(width) & ClampSide(height);
  return Adopt(name, width, height, TLayerMng::Create(width, height), std::make_unique<TSelectMng>(width, height)) &&
         exact;
}

bool TPaper::Adopt(const std::string& name, int32_t width, int32_t height, std::unique_ptr<TLayerMng> layers,
                   std::unique_ptr<TSelectMng> selection) {
  // Without memory for the stack or the composite the paper stays as it was.
  if (!layers || !selection || !CompositeImage.SetSizeFilled(width, height, 0xFFFFFFFFu)) return false;
  ForgetOwed();
  Name = name;
  layers->SetPlainPath(plain_path_);
  Layers = std::move(layers);
  Selection = std::move(selection);
  Initialised = 1;
  return true;
}

void TPaper::ResizeComposite(int32_t width, int32_t height) {
  CatchUp();
  // Without memory for the new size the old one is filled.
  if (!CompositeImage.SetSizeFilled(width, height, 0xFFFFFFu)) CompositeImage.Fill(0xFFFFFFu);
  if (Selection) Selection->Resize(width, height);
}

int64_t TPaper::MemorySize() const {
  int64_t n = 4 * int64_t(CompositeImage.Width()) * CompositeImage.Height() +
              4 * int64_t(ViewBuffer.Width()) * ViewBuffer.Height();
  if (Layers) n += Layers->MemorySize() + Layers->UndoMemorySize();
  if (Selection) n += Selection->MemoryUsed();
  return n;
}

void TPaper::Caption(std::string& text) const {
  text.clear();
  if (NetMode == 0) text += "<OFFLINE> ";
  else if (NetMode == 1) text += "<NETWORKING> ";
  text += " \"" + Name + "\" ";
  text += std::to_string(CompositeImage.Width()) + "*" + std::to_string(CompositeImage.Height());
  text += " : ";
  if (Display.ZoomIndex >= TDisplay::kMinZoomIndex && Display.ZoomIndex <= TDisplay::kMaxZoomIndex)
    text += kZoomCaptions[Display.ZoomIndex - TDisplay::kMinZoomIndex];
}

std::string TPaper::Caption() const {
  std::string s;
  Caption(s);
  return s;
}

bool TPaper::ValidLayer(int32_t layer) const { return Layers && layer >= 0 && layer <= Layers->LastIndex(); }

// ---- Compositing ---------------------------------------------------------------------------

void TPaper::BlendLayers(int32_t x, int32_t y, int32_t w, int32_t h, int32_t moving, int32_t dx, int32_t dy,
                         int32_t flowLayer) {
  // The working copy is read within the rectangle only.
  const TBlockImage* work = flowLayer >= 0 ? Layers->FlowImageIn(flowLayer, x, y, w, h) : nullptr;
  for (int32_t i = 0; i <= Layers->LastIndex(); ++i) {
    if (!Layers->LayerVisible(i)) continue;
    const TBlockImage* src = Layers->LayerImage(i);
    if (i == flowLayer && work) src = work;
    const int32_t ox = i == moving ? dx : 0, oy = i == moving ? dy : 0;
    const uint8_t opacity = Layers->LayerOpacity(i);
    switch (Layers->LayerKind(i)) {
      case lkMultiply: src->MultiplyRectTo(CompositeImage, x, y, w, h, x + ox, y + oy, opacity); break;
      case lkAdd: src->AddRectTo(CompositeImage, x, y, w, h, x + ox, y + oy, opacity); break;
      case lkSubtract: src->SubtractRectTo(CompositeImage, x, y, w, h, x + ox, y + oy, opacity); break;
      default: break;  // lkArgb and unknown kinds are not drawn
    }
  }
}

namespace {

// The pen and the new blur derive the working pixels from the layer and the coverage, so paint
// does not build up within one stroke; the other kinds paint straight into the working copy.
void RefreshWorkingCopy(uint8_t kind, uint32_t colour, const TBlockImage& layer, TBlockImage& work,
                        const TBlockChannel& mask, int32_t x, int32_t y, int32_t w, int32_t h) {
  if (kind == bkPen) {
    layer.CopyRectToBlock(work, x, y, w, h, x, y);
    work.BlendColourThroughMask(mask, x, y, w, h, colour);
  } else if (kind == bkBlur2) {
    layer.MaskedSmooth(work, mask, x, y, w, h);
  }
}

// What a stroke segment from (x0, y0) to (x1, y1) may read or write in the working copy:
// every dab centre lies on the segment, and every dab reaches no further than its radius (at
// most the width or the pressure size at either end) plus the margin of the dab tests.
TRect SegmentReach(const TStroke& s, float x0, float y0, float x1, float y1) {
  const ext_t r = std::max({static_cast<ext_t>(s.WIDTH), static_cast<ext_t>(s.PressureSize(0.0f)),
                            static_cast<ext_t>(s.PressureSize(1.0f)), 0.0L}) +
                  8;
  // A radius that is no number reaches everything.
  if (!std::isfinite(r)) return Rect(-(1 << 30), -(1 << 30), 1 << 30, 1 << 30);
  auto bound = [](ext_t v) {
    return std::isnan(v) ? 0 : static_cast<int32_t>(std::clamp<ext_t>(std::floor(v), -(1 << 30), 1 << 30));
  };
  const ext_t lx = std::min<ext_t>(x0, x1), hx = std::max<ext_t>(x0, x1);
  const ext_t ly = std::min<ext_t>(y0, y1), hy = std::max<ext_t>(y0, y1);
  return Rect(bound(lx - r), bound(ly - r), bound(hx + r) + 1, bound(hy + r) + 1);
}

}  // namespace

void TPaper::SetPlainPath(bool on) {
  CatchUp();
  plain_path_ = on;
  if (Layers) Layers->SetPlainPath(on);
}

void TPaper::ForgetOwed() {
  if (owed_any_) {
    const int32_t W = owed_box_.Right - owed_box_.Left;
    for (int32_t y = owed_box_.Top; y < owed_box_.Bottom; ++y)
      std::fill_n(owed_.begin() + (ptrdiff_t(y) * owed_stride_ + owed_box_.Left), W, uint8_t{0});
  }
  owed_any_ = false;
  owed_stroke_ = nullptr;
  owed_stack_ = nullptr;
  owed_layer_ = -1;
}

namespace {
void Include(TRect& box, int32_t x, int32_t y, int32_t w, int32_t h) {
  box.Left = std::min(box.Left, x);
  box.Top = std::min(box.Top, y);
  box.Right = std::max(box.Right, x + w);
  box.Bottom = std::max(box.Bottom, y + h);
}
}  // namespace

void TPaper::Owe(const TStroke& stroke, int32_t x, int32_t y, int32_t w, int32_t h) {
  const int32_t L = stroke.LayerIndex;
  // The pixels of finished strokes may wait for the next stroke's; a stroke that another one
  // left unfinished may not.
  if (owed_any_ && (owed_stack_ != Layers.get() ||
                    (owed_stroke_ && (owed_stroke_ != &stroke || owed_layer_ != L || owed_kind_ != stroke.Kind ||
                                      owed_colour_ != stroke.Color))))
    CatchUp();
  if (!owed_any_) {
    const size_t need = size_t(Width()) * size_t(Height());
    if (owed_.size() != need || owed_stride_ != Width()) {
      owed_.assign(need, 0);
      owed_stride_ = Width();
    }
    owed_box_ = Rect(x, y, x + w, y + h);
    owed_stack_ = Layers.get();
    owed_any_ = true;
  } else {
    Include(owed_box_, x, y, w, h);
  }
  if (!owed_stroke_) {
    owed_stroke_ = &stroke;
    owed_layer_ = L;
    owed_kind_ = stroke.Kind;
    owed_colour_ = stroke.Color;
    stroke_box_ = Rect(x, y, x + w, y + h);
  } else {
    Include(stroke_box_, x, y, w, h);
  }
  for (int32_t row = y; row < y + h; ++row)
    std::fill_n(owed_.begin() + (ptrdiff_t(row) * owed_stride_ + x), w, kOwedStroke);
}

bool TPaper::OwedValid() const {
  return owed_any_ && Layers && Layers.get() == owed_stack_ && owed_stride_ == Width() && owed_box_.Bottom <= Height();
}

namespace {
constexpr uint64_t kBytesOf1 = 0x0101010101010101ull;

// The first x in [x, end) whose byte is (or, with `equal` false, is not) v; end when none.
// Eight bytes at a time: a whole paper's row is mostly of one mark.
int32_t FindMark(const uint8_t* row, int32_t x, int32_t end, uint8_t v, bool equal) {
  const uint64_t pattern = kBytesOf1 * v;
  for (; x + 8 <= end; x += 8) {
    uint64_t w;
    std::memcpy(&w, row + x, 8);
    w ^= pattern;  // zero bytes where the byte is v
    // The lowest zero byte of w is found exactly: borrows only run above it.
    const uint64_t hit = equal ? (w - kBytesOf1) & ~w & (kBytesOf1 << 7) : w;
    if (hit) return x + std::countr_zero(hit) / 8;
  }
  while (x < end && (row[x] == v) != equal) ++x;
  return x;
}
}  // namespace

// Calls f(x, y, w, h) for rectangles that cover the pixels of the box marked `mark`, each
// once. Rows with the same runs as the row above extend that row's rectangles.
template <class F>
void TPaper::WalkOwed(const TRect& box, uint8_t mark, F f) const {
  std::vector<std::pair<int32_t, int32_t>> runs, above;
  int32_t aboveTop = box.Top;
  for (int32_t y = box.Top; y <= box.Bottom; ++y) {
    runs.clear();
    if (y < box.Bottom) {
      const uint8_t* row = owed_.data() + ptrdiff_t(y) * owed_stride_;
      for (int32_t x = FindMark(row, box.Left, box.Right, mark, true); x < box.Right;) {
        const int32_t stop = FindMark(row, x, box.Right, mark, false);
        runs.emplace_back(x, stop);
        x = FindMark(row, stop, box.Right, mark, true);
      }
    }
    if (runs == above) continue;
    for (const auto& [l, r] : above) f(l, aboveTop, r - l, y - aboveTop);
    above.swap(runs);
    aboveTop = y;
  }
}

void TPaper::RefreshOwed() {
  if (!owed_stroke_ || !ValidLayer(owed_layer_)) return;
  const int32_t L = owed_layer_;
  const TBlockImage* layer = Layers->LayerImage(L);
  WalkOwed(stroke_box_, kOwedStroke, [&](int32_t x, int32_t y, int32_t w, int32_t h) {
    TBlockImage* work = Layers->FlowImageIn(L, x, y, w, h);
    TBlockChannel* mask = Layers->FlowMaskIn(L, x, y, w, h);
    if (work && mask) RefreshWorkingCopy(owed_kind_, owed_colour_, *layer, *work, *mask, x, y, w, h);
  });
}

void TPaper::CompositeOwed(const TRect& box, uint8_t mark, int32_t flowLayer) {
  const uint32_t paper = Layers->PaperColor() | 0xFF000000u;
  WalkOwed(box, mark, [&](int32_t x, int32_t y, int32_t w, int32_t h) {
    CompositeImage.FillRect(x, y, w, h, paper);
    BlendLayers(x, y, w, h, -1, 0, 0, flowLayer);
  });
}

void TPaper::CatchUp() {
  if (!owed_any_) return;
  // A stack or paper replaced since leaves nothing to do: what was owed belonged to the old one.
  if (OwedValid()) {
    // Each pixel is refreshed and composited once, as the last of its points left it. The
    // pixels of finished strokes read their layers, which hold what their working copies did
    // there; the stroke in progress is seen through its working copy.
    RefreshOwed();
    CompositeOwed(owed_box_, kOwedComposite, -1);
    if (owed_stroke_) CompositeOwed(stroke_box_, kOwedStroke, ValidLayer(owed_layer_) ? owed_layer_ : -1);
  }
  ForgetOwed();
}

void TPaper::SettleStroke(const TStroke& stroke, const TRect& commit) {
  if (!owed_stroke_) return;
  if (owed_stroke_ != &stroke || owed_layer_ != stroke.LayerIndex || !OwedValid() || !ValidLayer(owed_layer_)) {
    CatchUp();
    return;
  }
  RefreshOwed();
  const TRect box = stroke_box_;
  auto remark = [&](auto change) {
    for (int32_t y = box.Top; y < box.Bottom; ++y) {
      uint8_t* row = owed_.data() + ptrdiff_t(y) * owed_stride_;
      for (int32_t x = box.Left; x < box.Right; ++x) row[x] = change(row[x], x, y);
    }
  };
  // What the commit does not copy into the layer is seen from the working copy alone, so it
  // is composited now.
  if (box.Left < commit.Left || box.Top < commit.Top || box.Right > commit.Right || box.Bottom > commit.Bottom) {
    remark([&](uint8_t m, int32_t x, int32_t y) {
      const bool in = x >= commit.Left && x < commit.Right && y >= commit.Top && y < commit.Bottom;
      return m == kOwedStroke && !in ? kOwedOutside : m;
    });
    CompositeOwed(box, kOwedOutside, owed_layer_);
    remark([](uint8_t m, int32_t, int32_t) { return m == kOwedOutside ? uint8_t{0} : m; });
  }
  remark([](uint8_t m, int32_t, int32_t) { return m == kOwedStroke ? kOwedComposite : m; });
  owed_stroke_ = nullptr;
  owed_layer_ = -1;
}

void TPaper::Composite() {
  // Every pixel is composited anew: only the working copy's refresh is still to do.
  if (OwedValid()) RefreshOwed();
  ForgetOwed();
  if (!Layers) return;
  CompositeBands();
}

void TPaper::CompositeBands() {
  // Every pixel is its own sum, so a band of tile rows at a time gives the same bytes as the
  // whole paper layer after layer, with the band still in the cache for the next layer; bands
  // share nothing but the layers they read.
  const uint32_t paper = Layers->PaperColor() | 0xFF000000u;
  const int32_t W = Width(), H = Height();
  ForEachPiece(
      (H + kCompositeBand - 1) / kCompositeBand,
      [&](int32_t band) {
        const int32_t y = band * kCompositeBand, h = std::min(kCompositeBand, H - y);
        CompositeImage.FillRect(0, y, W, h, paper);
        BlendLayers(0, y, W, h, -1, 0, 0, -1);
      },
      PieceThreads(int64_t(W) * H));
}

void TPaper::CompositeRect(int32_t x, int32_t y, int32_t w, int32_t h) {
  CatchUp();
  if (!Layers) return;
  CompositeImage.FillRect(x, y, w, h, Layers->PaperColor() | 0xFF000000u);
  BlendLayers(x, y, w, h, -1, 0, 0, -1);
}

void TPaper::CompositeEditedRect(int32_t x, int32_t y, int32_t w, int32_t h) {
  if (!owed_any_ || owed_stroke_ || !OwedValid()) return CompositeRect(x, y, w, h);
  // The rectangle is composited anew whole; what strokes owe outside it still waits.
  const int32_t l = std::max(x, owed_box_.Left), t = std::max(y, owed_box_.Top);
  const int32_t r = int32_t(std::min<int64_t>(int64_t(x) + w, owed_box_.Right));
  const int32_t b = int32_t(std::min<int64_t>(int64_t(y) + h, owed_box_.Bottom));
  for (int32_t row = t; row < b && l < r; ++row)
    std::fill_n(owed_.begin() + (ptrdiff_t(row) * owed_stride_ + l), r - l, uint8_t{0});
  CompositeImage.FillRect(x, y, w, h, Layers->PaperColor() | 0xFF000000u);
  BlendLayers(x, y, w, h, -1, 0, 0, -1);
}

void TPaper::CompositeMoving(int32_t layer, int32_t dx, int32_t dy) {
  CatchUp();
  if (!Layers) return;
  CompositeImage.Fill(Layers->PaperColor() | 0xFF000000u);
  BlendLayers(0, 0, Width(), Height(), layer, dx, dy, -1);
}

void TPaper::CompositeStrokeRect(TPaintTarget* window, TStroke& stroke, int32_t left, int32_t top, int32_t right,
                                 int32_t bottom) {
  if (!Layers) return;
  const int32_t W = Width(), H = Height();
  if (right < 0 || bottom < 0 || left > W || top > H) return;
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, W);
  bottom = std::min(bottom, H);
  if (right <= left || bottom <= top) return;
  const int32_t w = right - left, h = bottom - top;
  if (Defers(window)) {
    Owe(stroke, left, top, w, h);
    return;
  }
  CatchUp();

  CompositeImage.FillRect(left, top, w, h, Layers->PaperColor() | 0xFF000000u);
  const int32_t L = stroke.LayerIndex;
  int32_t flowLayer = -1;
  if (ValidLayer(L)) {
    flowLayer = L;
    TBlockImage* work = Layers->FlowImageIn(L, left, top, w, h);
    TBlockChannel* mask = Layers->FlowMaskIn(L, left, top, w, h);
    if (work && mask) RefreshWorkingCopy(stroke.Kind, stroke.Color, *Layers->LayerImage(L), *work, *mask, left, top, w, h);
  }
  BlendLayers(left, top, w, h, -1, 0, 0, flowLayer);
  UpdatePreviewRect(left, top, w, h);
  PaintRect(window, left, top, w, h);
}

// ---- Painting ------------------------------------------------------------------------------

void TPaper::Paint(TPaintTarget* window) {
  if (!window) return;
  CatchUp();
  const TPixelView surface = window->Surface();
  if (surface.IsEmpty()) return;
  const int32_t cw = surface.Width, ch = surface.Height;
  const float z = Display.Zoom();
  if (Display.IsRotated() || Display.ZoomIndex < 0) {
    if (ViewBuffer.Width() != cw || ViewBuffer.Height() != ch) ViewBuffer.SetSize(cw, ch);
    int32_t cx = 0, cy = 0;
    if (Display.IsRotated()) {
      cx = TruncInt(Display.CentreX);
      cy = TruncInt(Display.CentreY);
    } else {
      Display.CentrePoint(cw, ch, cx, cy);
    }
    CompositeImage.RotateScaleTo(ViewBuffer, cx, cy, Display.Angle, static_cast<float>(1.0L / z));
    BlitCanvas(*window, 0, 0, ViewBuffer.Width(), ViewBuffer.Height(), ViewBuffer, 0, 0);
    return;
  }
  int32_t sw = TruncInt(cw / static_cast<ext_t>(z)), sh = TruncInt(ch / static_cast<ext_t>(z));
  if (Display.ScrollX + sw > Width()) sw = Width() - Display.ScrollX;
  if (Display.ScrollY + sh > Height()) sh = Height() - Display.ScrollY;
  if (Display.ZoomIndex == 0) {
    BlitCanvas(*window, Display.MarginX, Display.MarginY, sw, sh, CompositeImage, Display.ScrollX, Display.ScrollY);
  } else {
    const int32_t dw = TruncInt(static_cast<ext_t>(z) * sw), dh = TruncInt(static_cast<ext_t>(z) * sh);
    StretchBlitCanvas(*window, Display.MarginX, Display.MarginY, dw, dh, CompositeImage, Display.ScrollX,
                      Display.ScrollY, sw, sh);
  }
}

void TPaper::PaintRect(TPaintTarget* window, int32_t x, int32_t y, int32_t w, int32_t h) {
  if (!window) return;
  CatchUp();
  const TPixelView surface = window->Surface();
  if (surface.IsEmpty()) return;
  const int32_t cw = surface.Width, ch = surface.Height;
  const float z = Display.Zoom();
  if (Display.IsRotated() || Display.ZoomIndex < 0) {
    const ext_t ez = z;
    const int32_t R = TruncInt(std::sqrt(2.0L) * ez * std::max(w, h) / 2) + 1;
    int32_t cx = 0, cy = 0;
    if (Display.IsRotated()) {
      cx = TruncInt(Display.CentreX);
      cy = TruncInt(Display.CentreY);
    } else {
      Display.CentrePoint(cw, ch, cx, cy);
    }
    const float u = static_cast<float>(ez * (x + static_cast<ext_t>(w) / 2 - cx));
    const float v = static_cast<float>(ez * (y + static_cast<ext_t>(h) / 2 - cy));
    const ext_t a = -static_cast<ext_t>(Display.Angle);
    const float wx = static_cast<float>(std::cos(a) * u - std::sin(a) * v + cw / 2);
    const float wy = static_cast<float>(std::sin(a) * u + std::cos(a) * v + ch / 2);
    const int32_t left = TruncInt(wx) - R, top = TruncInt(wy) - R;
    CompositeImage.RotateScaleRectTo(ViewBuffer, cx, cy, left, top, 2 * R, 2 * R, Display.Angle,
                                     static_cast<float>(1.0L / z));
    BlitCanvas(*window, left, top, 2 * R, 2 * R, ViewBuffer, left, top);
    return;
  }
  const int32_t ox = Display.OriginX(), oy = Display.OriginY();
  const int32_t step = Display.ZoomIndex;
  if (step >= 1 && step <= 6) {
    StretchBlitCanvas(*window, ox + StepScale(step, x), oy + StepScale(step, y), StepScale(step, w),
                      StepScale(step, h), CompositeImage, x, y, w, h);
  } else {
    BlitCanvas(*window, ox + x, oy + y, w, h, CompositeImage, x, y);
  }
}

void TPaper::UpdatePreview() { UpdatePreviewRect(0, 0, Width(), Height()); }

void TPaper::UpdatePreviewRect(int32_t x, int32_t y, int32_t w, int32_t h) {
  if (ViewerMode) return;
  CatchUp();
  const int32_t W = Width(), H = Height(), PW = PreviewImage.Width(), PH = PreviewImage.Height();
  if (W <= 0 || H <= 0) return;
  // Positions by the exact ratio, sizes by the ratio rounded to single (the product is not).
  const int32_t px = static_cast<int32_t>(int64_t(x) * PW / W);
  const int32_t py = static_cast<int32_t>(int64_t(y) * PH / H);
  const float rx = static_cast<float>(static_cast<ext_t>(PW) / W);
  const float ry = static_cast<float>(static_cast<ext_t>(PH) / H);
  const int32_t pw = TruncInt(w * static_cast<ext_t>(rx)) + 1;
  const int32_t ph = TruncInt(h * static_cast<ext_t>(ry)) + 1;
  CompositeImage.ShrinkRectTo(PreviewImage, px, py, pw, ph);
}

// ---- Editing -------------------------------------------------------------------------------

void TPaper::StrokeBegin(TStroke& stroke, float x, float y, float pressure) {
  // What finished strokes left waits on; a stroke left unfinished does not.
  if (owed_stroke_) CatchUp();
  const int32_t L = stroke.LayerIndex;
  if (!ValidLayer(L)) return;
  TFlowImage& flow = Layers->Flow();
  flow.Acquire(L, Layers->LayerImage(L));
  flow.SetLocked(L, 1);
  stroke.BeginStroke(*Layers->LayerImage(L), Layers->LayerKind(L), x, y, pressure);
}

void TPaper::StrokeMove(TStroke& stroke, TPaintTarget* window, float x, float y, float pressure) {
  const int32_t L = stroke.LayerIndex;
  if (!ValidLayer(L)) return;
  stroke.AddPoint(x, y, pressure);
  const TRect reach = SegmentReach(stroke, stroke.HistoryX(2), stroke.HistoryY(2), stroke.HistoryX(1), stroke.HistoryY(1));
  TBlockImage* work = Layers->FlowImageIn(L, reach.Left, reach.Top, reach.Width(), reach.Height());
  TBlockChannel* mask = Layers->FlowMaskIn(L, reach.Left, reach.Top, reach.Width(), reach.Height());
  if (!work || !mask) return;
  stroke.DrawLastSegment(*work, *mask, *Layers->LayerImage(L));
  int32_t l = 0, t = 0, r = 0, b = 0;
  stroke.GetSegmentRect(l, t, r, b);
  CompositeStrokeRect(window, stroke, l, t, r, b);
}

TRect TPaper::StrokeEnd(TStroke& stroke, TPaintTarget* window) {
  const int32_t L = stroke.LayerIndex;
  if (!ValidLayer(L)) {
    CatchUp();
    return TRect{};
  }
  TFlowImage& flow = Layers->Flow();
  // A stroke that rendered no segment (a recorded stroke without points) commits nothing.
  if (flow.SlotOf(L) < 0 || stroke.StrokeRect.Empty) {
    CatchUp();
    flow.SetLocked(L, 0);
    return TRect{};
  }
  int32_t l = 0, t = 0, r = 0, b = 0;
  stroke.GetStrokeRect(l, t, r, b);
  SettleStroke(stroke, TRect{l, t, r, b});
  TBlockImage* work = Layers->FlowImageIn(L, l, t, r - l, b - t);
  TBlockChannel* mask = Layers->FlowMaskIn(L, l, t, r - l, b - t);
  Layers->PushUndoRect(L, l, t, r - l, b - t);
  work->CopyRectToBlock(*Layers->LayerImage(L), l, t, r - l, b - t, l, t);
  mask->ChannelFillRect(l, t, r - l, b - t, 0);
  flow.SetLocked(L, 0);
  Layers->Layers(L)->UpdateThumbnailRect(l, t, r - l, b - t);
  if (NetMode == 1) {
    CompositeStrokeRect(window, stroke, l, t, r, b);
    CatchUp();
  }
  return TRect{l, t, r, b};
}

void TPaper::DrawLine(TStroke& stroke, TPaintTarget* window, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  const int32_t L = stroke.LayerIndex;
  if (!ValidLayer(L)) return;
  StrokeBegin(stroke, static_cast<float>(x1), static_cast<float>(y1), 1.0f);
  const TRect reach =
      SegmentReach(stroke, static_cast<float>(x1), static_cast<float>(y1), static_cast<float>(x2), static_cast<float>(y2));
  TBlockImage* work = Layers->FlowImageIn(L, reach.Left, reach.Top, reach.Width(), reach.Height());
  TBlockChannel* mask = Layers->FlowMaskIn(L, reach.Left, reach.Top, reach.Width(), reach.Height());
  if (work && mask) {
    stroke.RenderSegment(*work, *mask, static_cast<float>(x1), static_cast<float>(y1), 1.0f, static_cast<float>(x2),
                         static_cast<float>(y2), 1.0f, *Layers->LayerImage(L));
    int32_t l = 0, t = 0, r = 0, b = 0;
    stroke.GetStrokeRect(l, t, r, b);
    CompositeStrokeRect(window, stroke, l, t, r, b);
  }
  StrokeEnd(stroke, window);
}

bool TPaper::ChangeWholePaper(int32_t newWidth, int32_t newHeight, int rule, int32_t dx, int32_t dy) {
  CatchUp();
  // Each layer moves tile by tile into an image of the new size, handing on its tiles as they
  // are read, so the change needs no paper-size canvas; the result is what drawing the layer
  // onto a canvas, transforming that and loading it back gives.
  // Layers share nothing on the way (the tile pool locks), so they move on several cores.
  const int64_t area = int64_t(Width()) * Height();
  ResizeComposite(newWidth, newHeight);
  Layers->SetSize(newWidth, newHeight);
  ForEachPiece(
      Layers->LastIndex() + 1,
      [&](int32_t i) {
        TLayer& layer = *Layers->Layers(i);
        TBlockImage& image = layer.Image();
        TBlockImage moved;
        moved.SetSize(newWidth, newHeight);
        moved.SetBackColour(image.BackColour());
        switch (rule) {
          case 0: image.ShiftTo(moved, dx, dy); break;
          case 1: image.ShrinkTo4x4(moved); break;
          case 2: image.RotateRightTo(moved); break;
          default: image.RotateLeftTo(moved); break;
        }
        image.Swap(moved);
        moved.FreeAll();
        layer.Compact();
        layer.ResizeThumbnail();
        if (!ViewerMode) image.StretchTo(layer.Thumbnail());
      },
      PieceThreads(std::max(area, int64_t(newWidth) * newHeight)));
  Layers->RefreshFlow(Layers->ActiveIndex());
  return true;
}

bool TPaper::ChangeCanvasSize(int32_t width, int32_t height, int32_t anchor) {
  if (!Layers) return false;
  const bool exact = ClampSide(width) & ClampSide(height);
  const int32_t W = Width(), H = Height();
  const int32_t cw = width / 2 - W / 2, ch = height / 2 - H / 2;
  const int32_t right = width - W, bottom = height - H;
  static const int kCol[9] = {0, 1, 2, 0, 1, 2, 0, 1, 2};
  int32_t dx = 0, dy = 0;
  if (anchor >= 0 && anchor <= 8) {
    dx = kCol[anchor] == 0 ? 0 : (kCol[anchor] == 1 ? cw : right);
    dy = anchor / 3 == 0 ? 0 : (anchor / 3 == 1 ? ch : bottom);
  }
  return ChangeWholePaper(width, height, 0, dx, dy) && exact;
}

bool TPaper::ChangeResolution(int32_t width, int32_t height) {
  if (!Layers) return false;
  const bool exact = ClampSide(width) & ClampSide(height);
  return ChangeWholePaper(width, height, 1, 0, 0) && exact;
}

bool TPaper::Rotate90(uint8_t right) {
  if (!Layers) return false;
  return ChangeWholePaper(Height(), Width(), right == 1 ? 2 : 3, 0, 0);
}

// ---- Playback ------------------------------------------------------------------------------

namespace {

uint32_t TripleColour(uint8_t r, uint8_t g, uint8_t b) { return (uint32_t{r} << 16) | (uint32_t{g} << 8) | b; }

// The packet's next event, whole or not yet, leaves every pixel outside its own rectangle as
// it was: a stroke or line (whose pixels are owed in turn), a change of the active layer, and
// the rectangle edits and undo, which composite their whole rectangle.
bool NextKeepsOwed(TEventPacket& packet) {
  const TMyMemory& data = packet.Data();
  if (data.Remaining() < 2) return false;
  const uint8_t* p = data.ReadPointer();
  const uint16_t code = static_cast<uint16_t>(p[0] | (p[1] << 8));
  switch (code) {
    case ecSelectLayer:
    case ecFillRect:
    case ecClearRect:
    case ecFillPolygon:
    case ecClearPolygon:
    case ecUndo:
    case ecLine: return true;
    default: return code <= ecStrokeLast;
  }
}

}  // namespace

bool TPaper::PlayEvent(TEventPacket& packet, TStroke& brush, TPaintTarget* window) {
  uint16_t code = 0;
  uint8_t refit = 0;
  return PlayEvent(packet, brush, code, refit, window);
}

bool TPaper::PlayEvent(TEventPacket& packet, TStroke& brush, uint16_t& code, uint8_t& refit, TPaintTarget* window) {
  refit = 0;
  // Only the next point of the stroke that left work for later, or the next stroke after
  // finished ones, may leave it there longer.
  if (packet.InStroke() ? owed_stroke_ && owed_stroke_ != &brush : owed_stroke_ || !NextKeepsOwed(packet)) CatchUp();
  if (packet.InStroke()) {
    float x = 0, y = 0, p = 0;
    const bool last = packet.ReadStrokePoint(x, y, p);
    StrokeMove(brush, window, x, y, p);
    if (last) StrokeEnd(brush, window);
    return true;
  }
  TMyMemory& data = packet.Data();
  const int32_t r = data.Remaining();
  if (r < 2) return true;
  int32_t size = 0;
  // Network data arrives in pieces: an event is played only once it is buffered in full.
  if (MeasureEvent(data.ReadPointer(), r, size) == TEventMeasure::Short) return true;

  refit = 1;
  code = packet.ReadCode();
  // Nothing paints a paper without layers: until a new paper exists, every other event stops.
  if (!Layers && code != ecNewPaper) return false;
  const bool local = NetMode != 1;
  uint8_t layer = 0, other = 0, cr = 0, cg = 0, cb = 0;
  int32_t x = 0, y = 0, w = 0, h = 0;

  if (code <= ecStrokeLast) {
    brush.SetKind(static_cast<uint8_t>(code));
    float fx = 0, fy = 0, fp = 0;
    packet.ReadStrokeBegin(brush, fx, fy, fp);
    StrokeBegin(brush, fx, fy, fp);
    refit = 0;
    return true;
  }
  switch (code) {
    case ecNewLayer:
      packet.ReadNewLayer(layer);
      if (local) Layers->AddLayer(SanitizeLayerKind(layer));
      break;
    case ecDeleteLayer:
      packet.ReadDeleteLayer(layer);
      if (local) Layers->DeleteLayer(layer);
      break;
    case ecCombineVisible:
      if (local) Layers->CombineVisible();
      break;
    case ecDuplicateLayer:
      packet.ReadDuplicateLayer(layer);
      if (local) Layers->DuplicateLayer(layer);
      break;
    case ecMoveLayer:
      packet.ReadMoveLayer(layer, other);
      if (local) Layers->MoveLayer(layer, other);
      break;
    case ecCombineLower:
      packet.ReadCombineLower(layer);
      if (local) Layers->CombineLower(layer);
      break;
    case ecUndo: {
      packet.ReadUndo(layer);
      const TRect u = Layers->Undo(layer);
      if (!u.IsEmpty()) {
        CompositeEditedRect(u.Left, u.Top, u.Width(), u.Height());
        PaintRect(window, u.Left, u.Top, u.Width(), u.Height());
      }
      refit = 0;
      break;
    }
    case ecSelectLayer:
      packet.ReadSelectLayer(layer);
      if (local) Layers->SetActiveLayer(layer);
      else if (Layers->IsIndex(layer)) Layers->Flow().Acquire(layer, Layers->LayerImage(layer));
      refit = 0;
      break;
    case ecLayerVisible: {
      bool visible = false;
      packet.ReadLayerVisible(layer, visible);
      Layers->SetVisible(layer, visible ? 1 : 0);
      break;
    }
    case ecLayerOpacity:
      packet.ReadLayerOpacity(layer, other);
      Layers->SetOpacity(layer, other);
      break;
    case ecLayerKind:
      packet.ReadLayerKind(layer, other);
      Layers->SetLayerKind(layer, SanitizeLayerKind(other));
      break;
    case ecShowOnly:
      packet.ReadShowOnly(layer);
      Layers->ShowOnly(layer);
      break;
    case ecLayerUpsideDown:
      packet.ReadLayerUpsideDown(layer);
      Layers->PushUndo(layer);
      Layers->UpsideDown(layer);
      break;
    case ecLayerMirror:
      packet.ReadLayerMirror(layer);
      Layers->PushUndo(layer);
      Layers->Mirror(layer);
      break;
    case ecLayerRotate180:
      packet.ReadLayerRotate180(layer);
      Layers->PushUndo(layer);
      Layers->Rotate180(layer);
      break;
    case ecLayerNegaPosi:
      packet.ReadLayerNegaPosi(layer);
      Layers->PushUndo(layer);
      Layers->NegaPosi(layer);
      break;
    case ecClearLayer:
      packet.ReadClearLayer(layer);
      Layers->PushUndo(layer);
      Layers->ClearLayer(layer);
      break;
    case ecFillSelection:
      packet.ReadFillSelection(layer, cr, cg, cb);
      Layers->PushUndo(layer);
      Layers->FillSelection(Selection->GetCurrentSlot(), layer, TripleColour(cr, cg, cb));
      break;
    case ecOffsetLayer:
      packet.ReadOffsetLayer(layer, x, y);
      Layers->PushUndo(layer);
      Layers->OffsetLayer(layer, x, y);
      break;
    case ecClearRect:
      packet.ReadClearRect(layer, x, y, w, h);
      Layers->PushUndoRect(layer, x, y, w, h);
      Layers->ClearRect(layer, x, y, w, h);
      CompositeEditedRect(x, y, w, h);
      PaintRect(window, x, y, w, h);
      refit = 0;
      break;
    case ecFillRect:
      packet.ReadFillRect(layer, x, y, w, h, cr, cg, cb);
      Layers->PushUndoRect(layer, x, y, w, h);
      Layers->FillRect(layer, x, y, w, h, TripleColour(cr, cg, cb));
      CompositeEditedRect(x, y, w, h);
      PaintRect(window, x, y, w, h);
      refit = 0;
      break;
    case ecClearPolygon:
    case ecFillPolygon: {
      std::vector<TPoint> points;
      if (code == ecClearPolygon) packet.ReadClearPolygon(layer, points);
      else packet.ReadFillPolygon(layer, cr, cg, cb, points);
      const int32_t count = static_cast<int32_t>(points.size());
      PointsBounds(points.data(), count, x, y, w, h);
      Layers->PushUndoRect(layer, x, y, w, h);
      if (code == ecClearPolygon) Layers->ClearPolygon(layer, *Selection, points.data(), count);
      else Layers->FillPolygon(layer, *Selection, TripleColour(cr, cg, cb), points.data(), count);
      CompositeEditedRect(x, y, w, h);
      PaintRect(window, x, y, w, h);
      refit = 0;
      break;
    }
    case ecLine:
      packet.ReadLine(brush, x, y, w, h);
      DrawLine(brush, window, x, y, w, h);
      refit = 0;
      break;
    case ecNewPaper:
      packet.ReadNewPaper(w, h);
      if (local) Init("NONAME", w, h);
      break;
    case ecPaperColor:
      packet.ReadPaperColor(cr, cg, cb);
      if (local) Layers->SetPaperColor(TripleColour(cr, cg, cb));
      break;
    case ecCanvasSize:
      packet.ReadCanvasSize(w, h, other);
      if (local) ChangeCanvasSize(w, h, other);
      break;
    case ecResolution:
      packet.ReadResolution(w, h);
      if (local) ChangeResolution(w, h);
      break;
    case ecRotateRight:
      if (local) Rotate90(1);
      break;
    case ecRotateLeft:
      if (local) Rotate90(0);
      break;
    case ecClearUndoAll:
      if (local) Layers->ClearAllUndo();
      break;
    case ecClearUndoLayer:
      packet.ReadClearUndoLayer(layer);
      Layers->ClearUndo(layer);
      break;
    case ecUpsideDownVisible:
      if (local) Layers->UpsideDownVisible();
      break;
    case ecMirrorVisible:
      if (local) Layers->MirrorVisible();
      break;
    case ecRotate180Visible:
      if (local) Layers->Rotate180Visible();
      break;
    case ecNegaPosiVisible:
      if (local) Layers->NegaPosiVisible();
      break;
    default:  // ecPaperSize, ecEnd and codes that are not events
      return false;
  }
  return true;
}

void TPaper::EndPlayback(TEventPacket& packet) {
  TMyMemory& data = packet.Data();
  // The stopping code was consumed: its first byte lies two before the cursor.
  if (data.ReadPos() >= 2) {
    data.Skip(-2);
    data.SetSize(data.ReadPos());
  }
}

bool TPaper::StartsWithNewPaper(const TEventPacket& packet) {
  const TMyMemory& data = packet.Data();
  return data.Size() >= 2 && (data.Memory()[0] | (data.Memory()[1] << 8)) == ecNewPaper;
}
