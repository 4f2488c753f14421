#include "painter/PenWin2.h"

#include <QShowEvent>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "painter/Localize.h"
#include "painter/Main.h"
#include "painter/MousePaintBox.h"
#include "painter/ToolArt.h"
#include "painter/PenWidgets.h"
#include "painter/ToolWinShared.h"
#include "platform/core/Clock.h"
#include "platform/core/MessageBox.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/Placement.h"

TPenWindow2* PenWindow2 = nullptr;

namespace {

constexpr uint32_t kFadeMs = 200;
constexpr uint32_t kRepeatDelayMs = 500;
constexpr int32_t kGraphX = 137, kGraphY = 80;

// Told when a preset could not be written to the settings.
std::string ConfigNotSavedText() {
  return CurrentLanguage() == 0 ? "設定を保存出来ませんでした。" : "The brush settings could not be saved.";
}

const char* const kHintEffectWatercolor = "最初に触れた色が、どれだけ描画色に影響するか";
const char* const kHintEffectBlur = "どれだけ強力にボカシをかけるか";
const char* const kHintEnv = "描画周囲の色がどれだけ影響するか";
const char* const kHintSpeed = "選択している色に変化するまでのストローク距離長";

// The brush kind of an icon.
uint8_t KindOfIcon(int32_t icon, bool oldBlur) {
  switch (icon) {
    case 0: return bkPen;
    case 1: return bkWatercolor;
    case 2: return oldBlur ? bkBlur : bkBlur2;
    default: return bkEraser;
  }
}

struct TBrushValues {
  float MIN, WIDTH, GAMMA, EFFECT, ENV, SPEED;
  bool S, T, E;
  uint8_t Kind;
  bool operator==(const TBrushValues&) const = default;
};
TBrushValues ValuesOf(const TStroke& b) {
  return {b.MIN, b.WIDTH, b.GAMMA, b.EFFECT, b.ENV, b.SPEED, b.ifSIZE, b.ifTRANSPARENCY, b.ifEDGE, b.Kind};
}

}  // namespace

int32_t TPenWindow2::IconOfKind(int32_t kind) { return kind == bkBlur2 ? 2 : kind; }

std::string GeneralFormat3(ext_t v) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
  if (v == 0) return "0";
  // The exact digits of the value, then one decimal rounding to three of them.
  char buf[96];
  std::snprintf(buf, sizeof buf, "%.40Le", v);
  const char* p = buf;
  const bool negative = *p == '-';
  if (negative) ++p;
  std::string digits;
  for (; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') digits += *p;
  int32_t exponent = *p == 'e' ? std::atoi(p + 1) : 0;
  int32_t kept = (digits[0] - '0') * 100 + (digits[1] - '0') * 10 + (digits[2] - '0');
  if (digits[3] >= '5') ++kept;
  if (kept == 1000) {
    kept = 100;
    ++exponent;
  }
  std::string d = std::to_string(kept);
  while (d.size() > 1 && d.back() == '0') d.pop_back();
  std::string out = negative ? "-" : "";
  if (exponent < -4 || exponent >= 3) {
    out += d.substr(0, 1);
    if (d.size() > 1) out += "." + d.substr(1);
    out += "E" + std::to_string(exponent);
    return out;
  }
  if (exponent < 0) return out + "0." + std::string(size_t(-exponent - 1), '0') + d;
  const size_t whole = size_t(exponent) + 1;
  if (d.size() <= whole) return out + d + std::string(whole - d.size(), '0');
  return out + d.substr(0, whole) + "." + d.substr(whole);
}

TPenWindow2::TPenWindow2(QWidget* owner) : plat::TToolWindow(owner), art_(std::make_unique<TPenArt>()) {
  setObjectName("PenWindow2");
  setFixedSize(200, 128);
  // The prefix of the language in use from the start; the language switch changes it.
  CaptionPrefix = LabelText("TPenWindow2", "CaptionPrefix");
  SetCaption(CaptionPrefix + msgBrushPen);
  PaintBox1 = new TMousePaintBox(this, "PaintBox1", 0, 0, 200, 128);
  PaintBox1->setMouseTracking(true);
  PaintBox1->OnMouseDown = [this](Qt::MouseButton b, Qt::KeyboardModifiers, int32_t x, int32_t y) {
    PaintBox1MouseDown(b, x, y);
  };
  PaintBox1->OnMouseMove = [this](Qt::KeyboardModifiers, int32_t x, int32_t y) { PaintBox1MouseMove(x, y); };
  PaintBox1->OnMouseUp = [this](Qt::MouseButton, Qt::KeyboardModifiers, int32_t, int32_t) { PaintBox1MouseUp(); };
  PaintBox1->OnDblClick = [this](int32_t x, int32_t y) { PaintBox1DblClick(x, y); };

  IncTimer = new QTimer(this);
  IncTimer->setObjectName("IncTimer");
  IncTimer->setInterval(150);
  connect(IncTimer, &QTimer::timeout, this, &TPenWindow2::IncTimerTimer);
  AlphaTimer = new QTimer(this);
  AlphaTimer->setObjectName("AlphaTimer");
  AlphaTimer->setInterval(50);
  connect(AlphaTimer, &QTimer::timeout, this, &TPenWindow2::AlphaTimerTimer);

  SetDefaultPosition();
  LoadPlace(kVelloraKey, "PenX", "PenY");

  SizeToggle = std::make_unique<TOnOffClickImage>(art_->SizeOn, art_->SizeOff, 118, 20);
  TransToggle = std::make_unique<TOnOffClickImage>(art_->TransOn, art_->TransOff, 145, 20);
  EdgeToggle = std::make_unique<TOnOffClickImage>(art_->EdgeOn, art_->EdgeOff, 172, 20);
  EffectBar = std::make_unique<TMyBarImage>(art_->SizeBar2, art_->Knob, 125, 37);
  EnvBar = std::make_unique<TMyBarImage>(art_->SizeBar2, art_->Knob, 125, 50);
  SpeedBar = std::make_unique<TMyBarImage>(art_->SizeBar2, art_->Knob, 125, 62);
  MinBar = std::make_unique<TMyBarImage>(art_->SizeBar, art_->Knob, 34, 100);
  WidthBar = std::make_unique<TMyBarImage>(art_->SizeBar, art_->Knob, 34, 115);
}

TPenWindow2::~TPenWindow2() {
  SavePlace(kVelloraKey, "PenX", "PenY");
  if (PenWindow2 == this) PenWindow2 = nullptr;
}

void TPenWindow2::SetDefaultPosition() {
  const QSize outer = plat::OuterSize(this);
  move(plat::GetSystemMetrics(plat::SM_CXFULLSCREEN) - outer.width(),
       plat::ToolAreaHeight() - outer.height());
}

void TPenWindow2::SetCaptionPrefix(const QString& s) {
  CaptionPrefix = s.toStdString();
  if (TStroke* c = toolwin::CurrentBrush()) UpdateCaption(*c);
}

void TPenWindow2::SetCaption(const std::string& text) { setWindowTitle(QString::fromStdString(text)); }

void TPenWindow2::UpdateCaption(TStroke& brush) {
  const std::string* names[] = {&msgBrushPen, &msgBrushWatercolor, &msgBrushOldBlur, &msgBrushEraser,
                                &msgBrushNewBlur};
  if (brush.Kind >= kBrushKinds) return;
  SetCaption(CaptionPrefix + *names[brush.Kind]);
}

int32_t TPenWindow2::PresetIndex() const {
  const TStroke* c = toolwin::CurrentBrush();
  const int32_t icon = c ? IconOfKind(c->Kind) : -1;
  return icon >= 0 && icon <= 3 ? PresetTabs[icon] : 0;
}

int32_t TPenWindow2::NextPreset() {
  const TStroke* c = toolwin::CurrentBrush();
  const int32_t icon = c ? IconOfKind(c->Kind) : -1;
  if (icon < 0 || icon > 3) return 0;
  PresetTabs[icon] = PresetTabs[icon] >= 4 ? 0 : PresetTabs[icon] + 1;
  return PresetTabs[icon];
}

int32_t TPenWindow2::PrevPreset() {
  const TStroke* c = toolwin::CurrentBrush();
  const int32_t icon = c ? IconOfKind(c->Kind) : -1;
  if (icon < 0 || icon > 3) return 0;
  PresetTabs[icon] = PresetTabs[icon] <= 0 ? 4 : PresetTabs[icon] - 1;
  return PresetTabs[icon];
}

void TPenWindow2::SelectBrush(int32_t icon) {
  TStroke* c = toolwin::CurrentBrush();
  if (!c || icon < 0 || icon > 3 || toolwin::OwnStrokeOpen()) return;
  c->SetKind(KindOfIcon(icon, OldBlur));
  c->LoadPreset(c->Kind, PresetTabs[icon] + 1);
  FadeStart = timeGetTime();
  Fading = true;
  AlphaTimer->start();
  BackBuffer.CopyRectTo(FadeSnapshot, 32, 0, FadeSnapshot.Width(), FadeSnapshot.Height(), 0, 0);
}

void TPenWindow2::DrawGammaGraph(float gamma) {
  GammaGraph.Fill(0xFFFFFFFFu);
  GammaGraph.DrawLine(0xFF6666FFu, false, 0, 40, 79, 40);
  GammaGraph.DrawLine(0xFF6666FFu, false, 40, 0, 40, 79);
  for (int32_t j = 1; j <= 79; ++j) {
    // Any brush may come here: a point that is not finite or lies off the graph is skipped.
    const ext_t v = std::pow(ext_t(j) / 79, ext_t(gamma)) * 80;
    if (!(v >= 0 && v < 80)) continue;
    GammaGraph.SetPixel(j, 79 - TruncInt(v), 0xFF000000u);
  }
  GammaGraph.ShrinkTo4x4(GammaThumb);
  CachedGamma = gamma;
}

void TPenWindow2::Redraw(TStroke& b, bool caption) {
  art_->Background.CopyTo(BackBuffer, 0, 0);
  for (int32_t i = 0; i < 4; ++i) art_->Icons[i].CopyTo(BackBuffer, 0, 32 * i + 1);
  BackBuffer.OrAll(0xFF000000u);

  const int32_t row = IconOfKind(b.Kind);
  for (int32_t i = 0; i < 4; ++i)
    if (i != row) BackBuffer.BlendFillRect(0, 32 * i, 32, 32, 0xFF000000u, 96);
  if (row >= 0 && row <= 3) {
    const float top = float(32 * row), bottom = float(32 * row + 31);
    BackBuffer.DrawLine(0xFF444444u, false, 0, top, 31, top);
    BackBuffer.DrawLine(0xFF444444u, false, 0, bottom, 31, bottom);
    BackBuffer.DrawLine(0xFF444444u, false, 0, top, 0, bottom);
    if (row > 0) {
      BackBuffer.DrawLine(0xFF444444u, false, 32, 0, 32, top);
      BackBuffer.DrawLine(0xFF333333u, false, 33, 0, 33, top);
    }
    if (row < 3) {
      BackBuffer.DrawLine(0xFF444444u, false, 32, bottom, 32, 127);
      BackBuffer.DrawLine(0xFF333333u, false, 33, bottom, 33, 127);
    }
  }

  art_->SizeBG.CopyTo(BackBuffer, 34, 16);
  Preview.Fill(0xFFE0E0E0u);
  art_->Save.CopyTo(BackBuffer, 180, 0);

  const int32_t tabIcon = row >= 0 && row <= 3 ? row : 0;
  int32_t tx = 35;
  for (int32_t t = 0; t < 5; ++t) {
    const TTCDC& tab = t == PresetTabs[tabIcon] ? art_->TabOn : art_->TabOff;
    tab.CompositeTo(BackBuffer, tx, 1, kPictureKey, 255);
    tx += tab.Width();
  }

  const TPaper* paper = toolwin::ActivePaper();
  const ext_t z = paper ? paper->Display.Zoom() : 1.0f;
  // DrawDisc visits only the preview's own pixels, whatever the radius.
  Preview.DrawDisc(0xFF808080u, b.ifEDGE && b.HasSmoothEdge(), 40, 40, static_cast<float>(z * b.WIDTH), 1);
  if (b.Kind == bkPen)
    Preview.DrawDisc(0xFF000000u, false, 40, 40, static_cast<float>(z * b.MIN / 100 * b.WIDTH), 1);
  Preview.CopyTo(BackBuffer, 36, 18);

  if (!(b.GAMMA == CachedGamma)) DrawGammaGraph(b.GAMMA);
  GammaThumb.CopyTo(BackBuffer, kGraphX, kGraphY);

  auto bar = [this](const TMyBarImage& w, bool on, ext_t pos, uint32_t colour) {
    if (on)
      w.Draw(BackBuffer, TruncInt(pos), 128, colour);
    else
      w.DrawDisabled(BackBuffer);
  };
  bar(*MinBar, b.HasMinSize(), ext_t(b.MIN) / 100 * 80, 0xFF888800u);
  bar(*WidthBar, b.HasWidth(), WidthToSlider(b.WIDTH), 0xFF888800u);
  bar(*EffectBar, b.HasEffect(), ext_t(b.EFFECT) / 2, 0xFF880000u);
  bar(*EnvBar, b.HasEnv(), ext_t(b.ENV) / 2, 0xFF008800u);
  bar(*SpeedBar, b.HasSpeed(), ext_t(b.SPEED) / 2, 0xFF000088u);
  auto toggle = [this](const TOnOffClickImage& w, bool on, bool state) {
    if (on)
      w.Draw(BackBuffer, state);
    else
      w.DrawDisabled(BackBuffer);
  };
  toggle(*SizeToggle, b.HasPressureSize(), b.ifSIZE);
  toggle(*TransToggle, b.HasPressureAlpha(), b.ifTRANSPARENCY);
  toggle(*EdgeToggle, b.HasSmoothEdge(), b.ifEDGE);

  if (SavePressed) BackBuffer.BlendFillRect(180, 0, 18, 18, 0xFFFF0000u, 128);

  if (Fading) {
    const uint32_t elapsed = timeGetTime() - FadeStart;
    if (elapsed > kFadeMs) {
      AlphaTimer->stop();
      Fading = false;
    } else {
      const int32_t alpha = 255 - TruncInt(ext_t(elapsed) / kFadeMs * 255);
      FadeSnapshot.BlendRectTo(BackBuffer, 0, 0, FadeSnapshot.Width(), FadeSnapshot.Height(), 32, 0,
                               static_cast<uint8_t>(std::clamp(alpha, 0, 255)));
    }
  }

  PaintBox1->Show(BackBuffer);
  if (caption) UpdateCaption(b);
}

void TPenWindow2::FormPaint() {
  if (TStroke* c = toolwin::CurrentBrush()) Redraw(*c, true);
}

void TPenWindow2::showEvent(QShowEvent* e) {
  plat::TToolWindow::showEvent(e);
  FormPaint();
}

TStroke* TPenWindow2::EditableBrush() const {
  if (toolwin::ActivePlaying() || toolwin::OwnStrokeOpen()) return nullptr;
  return toolwin::CurrentBrush();
}

// Steps of the arrows: one click, then one per repeat tick.
void TPenWindow2::ArrowStep(TStroke& c, uint8_t kind, bool tick) {
  const float sign = kind % 2 == 0 ? 1.0f : -1.0f;
  const std::string* label = nullptr;
  float value = 0;
  const char* unit = "[%]";
  switch (kind / 2) {
    case 0:
      c.AddMinSize(sign * (tick ? 0.2f : 0.1f));
      label = &msgMinSize;
      value = c.MIN;
      break;
    case 1:
      c.AddWidth(sign * 0.1f);
      label = &msgMaxWidth;
      value = c.WIDTH;
      unit = "[pixel]";
      break;
    case 2:
      c.AddEnv(sign * (tick ? 1.0f : 0.5f));
      label = &msgEnvEffect;
      value = c.ENV;
      break;
    case 3:
      c.AddSpeed(sign * (tick ? 1.0f : 0.5f));
      label = &msgPenetration;
      value = c.SPEED;
      break;
    default:
      c.AddEffect(sign * (tick ? 1.0f : 0.5f));
      label = &msgEffect;
      value = c.EFFECT;
      break;
  }
  SetCaption(CaptionPrefix + *label + GeneralFormat3(value) + unit);
}

void TPenWindow2::PaintBox1MouseDown(Qt::MouseButton, int32_t x, int32_t y) {
  TStroke* cp = EditableBrush();
  if (!cp) return;
  TStroke& c = *cp;

  if (x >= 0 && x < 32) {
    SelectBrush(std::clamp(y, 0, 127) / 32);
    Redraw(c, true);
  }
  if (y >= 1 && y <= 13 && x >= 35 && x <= 154) {
    const int32_t icon = IconOfKind(c.Kind);
    if (icon >= 0 && icon <= 3) {
      PresetTabs[icon] = (x - 35) / 24;
      SelectBrush(icon);
    }
  }
  if (c.HasPressureSize() && SizeToggle->Hit(x, y)) {
    c.SetPressureSize(!c.ifSIZE);
    SetCaption(CaptionPrefix + (c.ifSIZE ? msgPressureSizeOn : msgPressureSizeOff));
  }
  if (c.HasPressureAlpha() && TransToggle->Hit(x, y)) {
    c.SetPressureAlpha(!c.ifTRANSPARENCY);
    SetCaption(CaptionPrefix + (c.ifTRANSPARENCY ? msgPressureAlphaOn : msgPressureAlphaOff));
  }
  if (c.HasSmoothEdge() && EdgeToggle->Hit(x, y)) {
    c.SetSmoothEdge(!c.ifEDGE);
    SetCaption(CaptionPrefix + (c.ifEDGE ? msgSmoothOn : msgSmoothOff));
  }
  if (x >= kGraphX && x <= kGraphX + 44 && y >= kGraphY && y <= kGraphY + 44) {
    DragGamma = true;
    PaintBox1MouseMove(x, y);
  }
  struct TSliderUse {
    TMyBarImage* Bar;
    bool Applies;
    bool* Drag;
    uint8_t PlusKind;
  };
  const TSliderUse sliders[] = {
      {MinBar.get(), c.HasMinSize(), &DragMin, 0},      {WidthBar.get(), c.HasWidth(), &DragWidth, 2},
      {EnvBar.get(), c.HasEnv(), &DragEnv, 4},          {SpeedBar.get(), c.HasSpeed(), &DragSpeed, 6},
      {EffectBar.get(), c.HasEffect(), &DragEffect, 8},
  };
  for (const TSliderUse& s : sliders) {
    if (!s.Applies || !s.Bar->Hit(x, y)) continue;
    *s.Drag = true;
    PaintBox1MouseMove(x, y);
    const bool plus = s.Bar->HitIncrement(x, y), minus = s.Bar->HitDecrement(x, y);
    if (!plus && !minus) continue;
    RepeatKind = static_cast<uint8_t>(s.PlusKind + (plus ? 0 : 1));
    ArrowStep(c, RepeatKind, false);
    Repeating = true;
    RepeatStart = timeGetTime();
    IncTimer->start();
  }
  if (x >= 180 && x <= 198 && y >= 0 && y <= 18) {
    const int32_t icon = IconOfKind(c.Kind);
    if (icon >= 0 && icon <= 3) {
      SavePressed = true;
      if (c.SavePreset(c.Kind, PresetTabs[icon] + 1))
        SetCaption(CaptionPrefix + msgConfigSaved);
      else
        plat::MessageBox(ConfigNotSavedText(), "", unsigned(plat::MB_OK) | plat::MB_ICONWARNING);
    }
  }
  Redraw(c, false);
}

void TPenWindow2::PaintBox1MouseMove(int32_t x, int32_t y) {
  PaintBox1->setToolTip(QString());
  LastX = x;
  LastY = y;
  TStroke* cp = EditableBrush();
  if (!cp) return;
  TStroke& c = *cp;
  const TBrushValues before = ValuesOf(c);
  int32_t v = 0;
  if (DragMin && c.HasMinSize() && MinBar->ValueAt(x, v)) {
    c.SetMinSize(static_cast<float>(ext_t(v) / 80 * 100));
    SetCaption(CaptionPrefix + msgMinSize + GeneralFormat3(c.MIN) + "[%]");
  }
  if (DragWidth && WidthBar->ValueAt(x, v)) {
    c.SetWidth(TStroke::SliderToWidth(static_cast<float>(v)));
    SetCaption(CaptionPrefix + msgMaxWidth + GeneralFormat3(c.WIDTH) + "[pixel]");
  }
  if (DragGamma && x >= kGraphX && x <= 336) {
    const ext_t d = x - kGraphX;
    c.SetGamma(static_cast<float>(d < 22 ? d / 22 : (d - 22) / 22 * 5 + 1));
    SetCaption(CaptionPrefix + msgPressureCurve + GeneralFormat3(c.GAMMA));
  }
  struct TPercentSlider {
    TMyBarImage* Bar;
    bool Applies;
    bool Drag;
    const char* Hint;
    void (TStroke::*Set)(float);
    float TStroke::*Field;
    const std::string* Label;
  };
  const TPercentSlider sliders[] = {
      {EffectBar.get(), c.HasEffect(), DragEffect, c.Kind == bkBlur ? kHintEffectBlur : kHintEffectWatercolor,
       &TStroke::SetEffect, &TStroke::EFFECT, &msgEffect},
      {EnvBar.get(), c.HasEnv(), DragEnv, kHintEnv, &TStroke::SetEnv, &TStroke::ENV, &msgEnvEffect},
      {SpeedBar.get(), c.HasSpeed(), DragSpeed, kHintSpeed, &TStroke::SetSpeed, &TStroke::SPEED, &msgPenetration},
  };
  for (const TPercentSlider& s : sliders) {
    if (!s.Applies) continue;
    if (s.Bar->Hit(x, y)) PaintBox1->setToolTip(QString::fromUtf8(s.Hint));
    if (s.Drag && s.Bar->ValueAt(x, v)) {
      (c.*s.Set)(static_cast<float>(v * 2));
      SetCaption(CaptionPrefix + *s.Label + std::to_string(TruncInt(c.*s.Field)) + "[%]");
    }
  }
  if (!(ValuesOf(c) == before)) Redraw(c, false);
}

void TPenWindow2::PaintBox1MouseUp() {
  DragMin = DragWidth = DragGamma = DragEffect = DragEnv = DragSpeed = false;
  Repeating = false;
  SavePressed = false;
  IncTimer->stop();
  if (TStroke* c = toolwin::CurrentBrush()) Redraw(*c, false);
}

void TPenWindow2::PaintBox1DblClick(int32_t x, int32_t y) {
  LastX = x;
  LastY = y;
  if (toolwin::ActivePlaying() || toolwin::OwnStrokeOpen()) return;
  const int32_t cy = std::clamp(LastY, 0, 127);
  if (LastX >= 0 && LastX <= 31 && cy >= 64 && cy <= 95) OldBlur = !OldBlur;
}

void TPenWindow2::IncTimerTimer() {
  TStroke* c = toolwin::CurrentBrush();
  if (!c || !Repeating) {
    IncTimer->stop();
    return;
  }
  if (timeGetTime() - RepeatStart > kRepeatDelayMs && !toolwin::OwnStrokeOpen()) ArrowStep(*c, RepeatKind, true);
  Redraw(*c, false);
}

void TPenWindow2::AlphaTimerTimer() {
  if (TStroke* c = toolwin::CurrentBrush())
    Redraw(*c, false);
  else
    AlphaTimer->stop();
}
