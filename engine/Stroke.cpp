#include "engine/Stroke.h"

#include <algorithm>
#include <cmath>
#include <optional>

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
  SetMinSize(RecordedParameter(MIN));
  SetWidth(RecordedParameter(WIDTH));
  SetGamma(RecordedParameter(GAMMA));
  SetEffect(RecordedParameter(EFFECT));
  SetEnv(RecordedParameter(ENV));
  SetSpeed(RecordedParameter(SPEED));
}
