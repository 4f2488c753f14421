#include "engine/Stroke.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>

#include "engine/Block.h"
#include "platform/core/Settings.h"

namespace {

constexpr float kMinWidth = 0.1f;
constexpr float kMaxWidth = 200.0f;
constexpr float kMinGamma = 0.01f;
constexpr float kMaxGamma = 6.0f;

const char* const kFamilies[kBrushKinds] = {"pen", "wc", "blur", "erase", "blur2"};

// 0..100; below 0 or not a number gives 0.
float ClampPercent(float v) {
  if (!(v > 0)) return 0.0f;
  return v > 100 ? 100.0f : v;
}

float ClampWidth(float v) {
  if (!(v >= kMinWidth)) return kMinWidth;
  return v > kMaxWidth ? kMaxWidth : v;
}

float ClampGamma(float v) {
  if (!(v > 0)) return kMinGamma;
  return v > kMaxGamma ? kMaxGamma : v;
}

// A stored double brought into [lo, hi] before it becomes a single (a double beyond the
// single range must not be converted as it is).
float ClampStored(double v, double lo, double hi) { return static_cast<float>(v < lo ? lo : v > hi ? hi : v); }

struct TPresetDefaults {
  float Min, Width, Gamma, Effect, Env, Speed;
  bool Size, Transparency, Edge;
};

const TPresetDefaults kDefaults[kBrushKinds] = {
    {75, 1.5f, 1, 0, 0, 0, true, true, false},    // pen
    {0, 16, 1, 65, 40, 30, true, true, false},    // watercolour
    {0, 12, 1, 5, 0, 0, false, false, false},     // old blur
    {0, 12, 1, 0, 0, 0, false, true, true},       // eraser
    {0, 12, 1, 0, 0, 0, false, false, false},     // new blur
};

}  // namespace

std::string PresetFamilyPath(uint8_t kind) {
  if (kind >= kBrushKinds) return {};
  return std::string("Software\\Brenmoor\\Vellora\\") + kFamilies[kind];
}

std::string PresetKeyPath(uint8_t kind, int32_t n) {
  if (kind >= kBrushKinds) return {};
  return PresetFamilyPath(kind) + std::to_string(n);
}

void TRectRegion::Include(int32_t x, int32_t y) {
  if (Empty) {
    Left = Right = x;
    Top = Bottom = y;
    Empty = false;
    return;
  }
  if (x < Left) Left = x;
  if (y < Top) Top = y;
  if (x > Right) Right = x;
  if (y > Bottom) Bottom = y;
}

float WidthToSlider(float w) {
  if (!(w >= 0)) return 0.1f;
  if (w < 40) return w;
  return static_cast<float>((static_cast<ext_t>(w) - 40) / 160 * 40 + 40);
}

// The stream's writers saturate a value that does not fit its field.
float RecordedParameter(float v) {
  const int32_t field = std::clamp(TruncInt(static_cast<ext_t>(v) * 256), 0, 65535);
  return static_cast<float>(field / 256.0L);
}

float RecordedPressure(float p) {
  const int32_t field = std::clamp(TruncInt(static_cast<ext_t>(p) * 1024), -32768, 32767);
  return static_cast<float>(field / 1024.0L);
}

int32_t RecordedCoordinate(int32_t v) { return std::clamp(v, -32768, 32767); }

TStroke::TStroke() = default;

void TStroke::SetKind(uint8_t k) {
  if (k == Kind) return;
  Kind = k;
  Changed = true;
}

void TStroke::SetColor(uint32_t c) {
  if (c == Color) return;
  Color = c;
  Changed = true;
}

void TStroke::SetPressureSize(bool b) {
  if (b == ifSIZE) return;
  ifSIZE = b;
  Changed = true;
}

void TStroke::SetPressureAlpha(bool b) {
  if (b == ifTRANSPARENCY) return;
  ifTRANSPARENCY = b;
  Changed = true;
}

void TStroke::SetSmoothEdge(bool b) {
  if (b == ifEDGE) return;
  ifEDGE = b;
  Changed = true;
}

namespace {
void SetPercent(float& field, float v, bool& changed) {
  v = ClampPercent(v);
  if (v == field) return;
  field = v;
  changed = true;
}
}  // namespace

void TStroke::SetMinSize(float v) { SetPercent(MIN, v, Changed); }
void TStroke::SetEffect(float v) { SetPercent(EFFECT, v, Changed); }
void TStroke::SetEnv(float v) { SetPercent(ENV, v, Changed); }
void TStroke::SetSpeed(float v) { SetPercent(SPEED, v, Changed); }

void TStroke::SetWidth(float v) {
  if (v != WIDTH) {
    WIDTH = v;
    Changed = true;
  }
  WIDTH = ClampWidth(WIDTH);
}

// Clamped before the comparison, so that a brush that never had a GAMMA (0) takes 0.01 from
// a recorded 0 as every other brush does.
void TStroke::SetGamma(float v) {
  v = ClampGamma(v);
  if (v == GAMMA) return;
  GAMMA = v;
  Changed = true;
}

void TStroke::AddMinSize(float d) { MIN = ClampPercent(static_cast<float>(static_cast<ext_t>(MIN) + d)); }
void TStroke::AddWidth(float d) { WIDTH = ClampWidth(static_cast<float>(static_cast<ext_t>(WIDTH) + d)); }
void TStroke::AddEffect(float d) { EFFECT = ClampPercent(static_cast<float>(static_cast<ext_t>(EFFECT) + d)); }
void TStroke::AddEnv(float d) { ENV = ClampPercent(static_cast<float>(static_cast<ext_t>(ENV) + d)); }
void TStroke::AddSpeed(float d) { SPEED = ClampPercent(static_cast<float>(static_cast<ext_t>(SPEED) + d)); }

float TStroke::PressureSize(float p) const {
  if (!(HasPressureSize() && ifSIZE)) return WIDTH;
  const float m = static_cast<float>(static_cast<ext_t>(WIDTH) * MIN / 100);
  const float span = static_cast<float>(static_cast<ext_t>(WIDTH) - m);
  return static_cast<float>(m + static_cast<ext_t>(p) * span);
}

float TStroke::HistoryX(int32_t i) const { return i >= 0 && i < kHistory ? HistX[i] : 0.0f; }
float TStroke::HistoryY(int32_t i) const { return i >= 0 && i < kHistory ? HistY[i] : 0.0f; }
float TStroke::HistoryPressure(int32_t i) const { return i >= 0 && i < kHistory ? HistPressure[i] : 0.0f; }

float TStroke::SliderToWidth(float s) {
  if (!(s >= 0)) return 0.1f;
  if (s < 40) return s;
  return static_cast<float>((static_cast<ext_t>(s) - 40) * 4 + 40);
}

void TStroke::LoadPreset(uint8_t kind, int32_t n) {
  SetMinSize(0);
  SetWidth(0);
  SetEffect(0);
  SetEnv(0);
  SetSpeed(0);
  SetPressureSize(false);
  SetPressureAlpha(false);
  SetSmoothEdge(false);
  SetGamma(1);
  if (kind >= kBrushKinds) return;

  // The defaults hold even when the store cannot be opened.
  const TPresetDefaults& d = kDefaults[kind];
  SetMinSize(d.Min);
  SetWidth(d.Width);
  SetGamma(d.Gamma);
  SetEffect(d.Effect);
  SetEnv(d.Env);
  SetSpeed(d.Speed);
  SetPressureSize(d.Size);
  SetPressureAlpha(d.Transparency);
  SetSmoothEdge(d.Edge);

  plat::TRegistry reg;  // closes the key whatever happens below
  if (!reg.OpenKey(PresetKeyPath(kind, n), true)) return;
  // A value of the wrong type or size, or not a number, reads as absent: the default stays.
  auto number = [&](const char* name) -> std::optional<double> {
    auto v = reg.ReadFloat(name);
    if (v && std::isnan(*v)) return std::nullopt;
    return v;
  };
  if (auto v = number("MIN")) SetMinSize(ClampStored(*v, 0, 100));
  if (auto v = number("WIDTH")) SetWidth(ClampStored(*v, kMinWidth, kMaxWidth));
  // GAMMA is stored without raising Changed, but kept in the setter's range.
  if (auto v = number("GAMMA")) GAMMA = ClampGamma(ClampStored(*v, -1, kMaxGamma));
  if (auto v = number("EFFECT")) SetEffect(ClampStored(*v, 0, 100));
  if (auto v = number("ENV")) SetEnv(ClampStored(*v, 0, 100));
  if (auto v = number("SPEED")) SetSpeed(ClampStored(*v, 0, 100));
  if (auto v = reg.ReadBool("ifSIZE")) SetPressureSize(*v);
  if (auto v = reg.ReadBool("ifTRANSPARENCY")) SetPressureAlpha(*v);
  if (auto v = reg.ReadBool("ifEDGE")) SetSmoothEdge(*v);
}

bool TStroke::SavePreset(uint8_t kind, int32_t n) const {
  if (kind >= kBrushKinds) return false;
  plat::TRegistry reg;
  if (!reg.OpenKey(PresetKeyPath(kind, n), true)) return false;
  return reg.WriteFloat("MIN", MIN) && reg.WriteFloat("WIDTH", WIDTH) && reg.WriteFloat("GAMMA", GAMMA) &&
         reg.WriteFloat("EFFECT", EFFECT) && reg.WriteFloat("ENV", ENV) && reg.WriteFloat("SPEED", SPEED) &&
         reg.WriteBool("ifSIZE", ifSIZE) && reg.WriteBool("ifTRANSPARENCY", ifTRANSPARENCY) &&
         reg.WriteBool("ifEDGE", ifEDGE);
}

void TStroke::UseRecordedValues() {
  SetLayer(LayerIndex & 0xFF);
  SetColor(Color & 0xFFFFFF);
  // A setter's clamp can leave the 1/256 grid (a GAMMA of 0 becomes 0.01, which records as
  // 2/256), so the round trip is repeated until it gives back what it is given: the values a
  // replay of the record sets. Two passes reach that from any start.
  for (int pass = 0; pass < 4; ++pass) {
    const float before[6] = {MIN, WIDTH, GAMMA, EFFECT, ENV, SPEED};
    SetMinSize(RecordedParameter(MIN));
    SetWidth(RecordedParameter(WIDTH));
    SetGamma(RecordedParameter(GAMMA));
    SetEffect(RecordedParameter(EFFECT));
    SetEnv(RecordedParameter(ENV));
    SetSpeed(RecordedParameter(SPEED));
    const float after[6] = {MIN, WIDTH, GAMMA, EFFECT, ENV, SPEED};
    if (std::equal(std::begin(before), std::end(before), std::begin(after))) break;
  }
}

// ---- Rendering -----------------------------------------------------------------------------

namespace {

constexpr uint8_t kLayerKindArgb = 3;  // lkArgb: its colours are laid over white when picked up

// Pressures are kept in 0..1; not a number gives 0.
float ClampUnit(float p) {
  if (!(p > 0)) return 0.0f;
  return p > 1 ? 1.0f : p;
}

int32_t Saturate(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// The pixels a block can hold: every valid tile, the last partial column and row included.
int32_t GridExtent(int32_t side) { return std::min((std::max(side, 0) / 64 + 1) * 64, 6400); }

// True when a dab of radius r at (x, y) could write a pixel of the block; every block
// operation visits at most one pixel beyond Trunc(centre -/+ radius) on either side.
bool DabReaches(const TBlock& b, float x, float y, float r) {
  const int64_t left = int64_t{TruncInt(x - static_cast<ext_t>(r))} - 2;
  const int64_t right = int64_t{TruncInt(x + static_cast<ext_t>(r))} + 2;
  const int64_t top = int64_t{TruncInt(y - static_cast<ext_t>(r))} - 2;
  const int64_t bottom = int64_t{TruncInt(y + static_cast<ext_t>(r))} + 2;
  return right >= 0 && bottom >= 0 && left < GridExtent(b.Width()) && top < GridExtent(b.Height());
}

// Dirty rectangles stay within +-2^30, so that their callers' widths never overflow.
int32_t RectBound(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, -(int64_t{1} << 30), int64_t{1} << 30)); }

void WidenEven(const TRectRegion& r, int32_t& Left, int32_t& Top, int32_t& Right, int32_t& Bottom) {
  Left = RectBound(int64_t{r.Left / 2} * 2 - 2);
  Top = RectBound(int64_t{r.Top / 2} * 2 - 2);
  Right = RectBound(int64_t{r.Right / 2} * 2 + 2);
  Bottom = RectBound(int64_t{r.Bottom / 2} * 2 + 2);
}

uint8_t AlphaOf(ext_t v) { return static_cast<uint8_t>(TruncInt(v)); }

}  // namespace

void TStroke::BeginStroke(const TBlockImage& layer, uint8_t layerKind, float x, float y, float /*pressure*/) {
  StepCount = 0;
  Travel = 0;
  StrokeRect.Clear();
  for (int i = 0; i < kHistory; ++i) {
    HistX[i] = x;
    HistY[i] = y;
    HistPressure[i] = 0;
  }
  if (Kind != bkWatercolor) return;

  uint32_t a = 0, r = 0, g = 0, b = 0;
  const int64_t cx = TruncInt(x), cy = TruncInt(y);
  for (int64_t row = cy - 5; row <= cy + 5; ++row)
    for (int64_t col = cx - 5; col <= cx + 5; ++col) layer.GetPixelChannels(Saturate(col), Saturate(row), true, a, r, g, b);
  a /= 121;
  r /= 121;
  g /= 121;
  b /= 121;
  if (layerKind == kLayerKindArgb) {
    r += ((255 - r) * (255 - a)) >> 8;
    g += ((255 - g) * (255 - a)) >> 8;
    b += ((255 - b) * (255 - a)) >> 8;
  }
  StartColor = (a << 24) | (r << 16) | (g << 8) | b;
  EnvR = static_cast<float>(r);
  EnvG = static_cast<float>(g);
  EnvB = static_cast<float>(b);
  Paint.SetPixel(0, 0, StartColor | 0xFF000000u);
  Paint.BlendPixel(0, 0, Color | 0xFF000000u, static_cast<uint8_t>(255 - TruncInt(EFFECT / 100.0L * 255)));
}

void TStroke::AddPoint(float x, float y, float pressure) {
  for (int i = kHistory - 1; i > 0; --i) {
    HistX[i] = HistX[i - 1];
    HistY[i] = HistY[i - 1];
    HistPressure[i] = HistPressure[i - 1];
  }
  HistX[0] = x;
  HistY[0] = y;
  HistPressure[0] = pressure;
  HistX[1] = static_cast<float>((static_cast<ext_t>(HistX[0]) + HistX[2]) / 2);
  HistY[1] = static_cast<float>((static_cast<ext_t>(HistY[0]) + HistY[2]) / 2);
  HistPressure[1] = static_cast<float>((static_cast<ext_t>(HistPressure[0]) + HistPressure[2]) / 2);
}

void TStroke::DrawLastSegment(TBlockImage& flowImage, TBlockChannel& flowMask, const TBlockImage& layer) {
  // Only entries 1 and 2 are drawn; the correction of the others would change nothing.
  auto corrected = [this](float p) {
    if (p != 0 && GAMMA != 0)
      p = ClampUnit(static_cast<float>(std::pow(static_cast<ext_t>(p), static_cast<ext_t>(GAMMA)) /
                                       std::pow(1.0L, static_cast<ext_t>(GAMMA))));
    return p;
  };
  RenderSegment(flowImage, flowMask, HistX[2], HistY[2], corrected(HistPressure[2]), HistX[1], HistY[1],
                corrected(HistPressure[1]), layer);
}

void TStroke::IncludeSegmentRect(float x, float y, float r) {
  const ext_t d = static_cast<ext_t>(r) + 2;
  SegmentRect.Include(TruncInt(x - d), TruncInt(y - d));
  SegmentRect.Include(TruncInt(x + d), TruncInt(y + d));
}

void TStroke::IncludeStrokeRect(float x, float y, float r) {
  const ext_t d = static_cast<ext_t>(r) + 2;
  StrokeRect.Include(TruncInt(x - d), TruncInt(y - d));
  StrokeRect.Include(TruncInt(x + d), TruncInt(y + d));
}

void TStroke::GetSegmentRect(int32_t& Left, int32_t& Top, int32_t& Right, int32_t& Bottom) const {
  WidenEven(SegmentRect, Left, Top, Right, Bottom);
}

void TStroke::GetStrokeRect(int32_t& Left, int32_t& Top, int32_t& Right, int32_t& Bottom) const {
  WidenEven(StrokeRect, Left, Top, Right, Bottom);
}

void TStroke::RenderSegment(TBlockImage& flowImage, TBlockChannel& flowMask, float x0, float y0, float p0, float x1,
                            float y1, float p1, const TBlockImage& layer) {
  SegmentRect.Clear();
  IncludeStrokeRect(x0, y0, WIDTH);
  IncludeStrokeRect(x1, y1, WIDTH);
  const float dx = static_cast<float>(std::fabs(static_cast<ext_t>(x1) - x0));
  const float dy = static_cast<float>(std::fabs(static_cast<ext_t>(y1) - y0));

  // Dab spacing in stepping positions; never below 1, whatever the parameters hold.
  int32_t spacing = 1;
  switch (Kind) {
    case bkPen:
      spacing = std::min(TruncInt(PressureSize(p0) / 8.0L) + 1, TruncInt(PressureSize(p1) / 8.0L) + 1);
      break;
    case bkWatercolor: spacing = TruncInt(WIDTH / 12.0L) + 1; break;
    case bkBlur:
    case bkBlur2: spacing = TruncInt(WIDTH / 4.0L) + 1; break;
    case bkEraser:
      spacing = std::min(TruncInt(PressureSize(p0) / 4.0L) + 1, TruncInt(PressureSize(p1) / 4.0L) + 1);
      break;
    default: break;
  }
  if (spacing < 1) spacing = 1;

  // Step along the major axis; equal distances step along y.
  const bool alongX = dx > dy;
  const float a0 = alongX ? x0 : y0, a1 = alongX ? x1 : y1;
  const float c0 = alongX ? y0 : x0, c1 = alongX ? y1 : x1;
  const float dist = alongX ? dx : dy;
  float a = a0, c = c0, p = p0;
  float dp = dist == 0 ? 0.0f : static_cast<float>((static_cast<ext_t>(p1) - p0) / dist);
  float k = a1 == a0 ? 0.0f : static_cast<float>((static_cast<ext_t>(c1) - c0) / (static_cast<ext_t>(a1) - a0));
  if (a1 < a0) k = -k;
  float dir = a1 < a0 ? -1.0f : 1.0f;
  const int64_t positions = int64_t{TruncInt(dist)} + 1;
  int64_t n = positions;

  bool half = false;
  if (Kind == bkPen) half = ifSIZE ? (PressureSize(p0) < 2 || PressureSize(p1) < 2) : WIDTH < 2;
  else if (Kind == bkEraser) half = WIDTH < 3;
  if (half) {
    n *= 2;
    k /= 2;
    dp /= 2;
    dir /= 2;
  }

  const ext_t ddx = static_cast<ext_t>(x1) - x0, ddy = static_cast<ext_t>(y1) - y0;
  const float length = static_cast<float>(std::sqrt(ddx * ddx + ddy * ddy));
  for (int64_t i = 0; i < n; ++i) {
    if (StepCount % spacing == 0) {
      p = ClampUnit(p);
      const float am = static_cast<float>(a + 0.5L), cm = static_cast<float>(c + 0.5L);
      const float x = alongX ? am : cm, y = alongX ? cm : am;
      const float r = DrawDab(flowImage, flowMask, layer, x, y, p, alongX);
      IncludeSegmentRect(x, y, r);
    }
    c = static_cast<float>(static_cast<ext_t>(c) + k);
    p = static_cast<float>(static_cast<ext_t>(p) + dp);
    a = static_cast<float>(static_cast<ext_t>(a) + dir);
    IncStep();
    Travel = static_cast<float>(Travel + length / static_cast<ext_t>(positions) * 4 * p);
  }
}

float TStroke::DrawDab(TBlockImage& flowImage, TBlockChannel& flowMask, const TBlockImage& layer, float x, float y,
                       float p, bool alongX) {
  switch (Kind) {
    case bkPen: {
      const float r = PressureSize(p);
      if (!DabReaches(flowMask, x, y, r)) return r;
      const float o = ifTRANSPARENCY ? p : 1.0f;
      if (r > 1) flowMask.ChannelDisc(255, true, x, y, r, o, false);
      if (r < 8) {
        if (alongX)
          flowMask.ChannelVSpan(TruncInt(x), 255, static_cast<float>(y - static_cast<ext_t>(r)),
                                static_cast<float>(y + static_cast<ext_t>(r)), o, true);
        else
          flowMask.ChannelHSpan(TruncInt(y), 255, static_cast<float>(x - static_cast<ext_t>(r)),
                                static_cast<float>(x + static_cast<ext_t>(r)), o, true);
      }
      return r;
    }
    case bkWatercolor: {
      const float r = ifSIZE ? static_cast<float>(WIDTH / 3.0L + (WIDTH / 3.0L) * 2 * p) : WIDTH;
      WatercolourDab(flowImage, x, y, r, p, DabReaches(flowImage, x, y, r));
      return r;
    }
    case bkBlur:
      if (DabReaches(flowImage, x, y, WIDTH))
        flowImage.BlurDisc(layer, TruncInt(static_cast<ext_t>(WIDTH) * EFFECT / 100), x, y, WIDTH);
      return WIDTH;
    case bkEraser:
      if (DabReaches(flowImage, x, y, WIDTH))
        flowImage.DrawDisc(layer.BackColour(), ifEDGE, x, y, WIDTH, ifTRANSPARENCY ? p : 1.0f);
      return WIDTH;
    case bkBlur2:
      if (DabReaches(flowMask, x, y, WIDTH))
        flowMask.ChannelDisc(static_cast<uint8_t>(TruncInt(32.0L * p)), true, x, y, WIDTH, 1.0f, true);
      return WIDTH;
    default: return WIDTH;  // no dab for an unknown kind
  }
}

// The paint state moves with every dab, drawn or not, so that a dab outside the layer
// changes nothing that follows.
void TStroke::WatercolourDab(TBlockImage& flowImage, float x, float y, float r, float p, bool draw) {
  const float o = ifTRANSPARENCY ? static_cast<float>(0.35L * p) : static_cast<float>(0.35L);
  const ext_t reach = static_cast<ext_t>(SPEED) * WIDTH * 2;
  const float f = ClampUnit(reach == 0 ? 1.0f : static_cast<float>(Travel / reach));
  Paint.SetPixel(1, 0, Paint.GetPixel(0, 0) | 0xFF000000u);
  Paint.BlendPixel(1, 0, Color | 0xFF000000u, AlphaOf(255 * static_cast<ext_t>(f)));

  const ext_t ex = x, ey = y;
  const int32_t sx[4] = {TruncInt(ex), TruncInt(ex), TruncInt(ex + r + 1), TruncInt(ex - r - 1)};
  const int32_t sy[4] = {TruncInt(ey + r + 1), TruncInt(ey - r - 1), TruncInt(ey), TruncInt(ey)};
  uint32_t sa = 0, sr = 0, sg = 0, sb = 0;
  for (int i = 0; i < 4; ++i) flowImage.GetPixelChannels(sx[i], sy[i], true, sa, sr, sg, sb);
  const uint32_t mean[3] = {sr >> 2, sg >> 2, sb >> 2};
  float* env[3] = {&EnvR, &EnvG, &EnvB};
  const float e = static_cast<float>(ENV / 10.0L);
  for (int i = 0; i < 3; ++i) {
    float& v = *env[i];
    const ext_t m = mean[i];
    if (std::fabs(m - v) < e) v = static_cast<float>(m);
    else if (m > v) v = static_cast<float>(static_cast<ext_t>(v) + e);
    else v = static_cast<float>(static_cast<ext_t>(v) - e);
  }
  const uint32_t envColour = (static_cast<uint32_t>(TruncInt(EnvR) & 0xFF) << 16) |
                             (static_cast<uint32_t>(TruncInt(EnvG) & 0xFF) << 8) |
                             static_cast<uint32_t>(TruncInt(EnvB) & 0xFF);
  Paint.BlendPixel(1, 0, envColour | 0xFF000000u, AlphaOf(ENV / 100.0L * 255));
  if (draw) flowImage.DrawDisc(Paint.GetPixel(1, 0) | 0xFF000000u, ifEDGE, x, y, r, o);
}
