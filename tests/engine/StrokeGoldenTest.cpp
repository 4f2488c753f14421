// One short stroke per brush kind on a small layer, its pixels frozen. Spot values are checked
// against the arithmetic they come from before the whole picture is compared.
#include <gtest/gtest.h>

#include <cstdio>

#include "StrokeTestHarness.h"
#include "engine/Stroke.h"

namespace {

constexpr int32_t kW = 40, kH = 28;

struct TInput {
  float X, Y, P;
};

// The stroke input's road: begin, a segment per point, the release point at pressure 0, end.
void Draw(TStrokeCanvas& c, TStroke& s, std::initializer_list<TInput> pts) {
  const TInput* p = pts.begin();
  c.Begin(s, p->X, p->Y, p->P);
  for (++p; p != pts.end(); ++p) c.Move(s, p->X, p->Y, p->P);
  c.Move(s, (pts.end() - 1)->X, (pts.end() - 1)->Y, 0);
  c.End(s);
}

constexpr std::initializer_list<TInput> kPath = {{4, 5, 0.4f}, {12, 8, 0.8f}, {22, 14, 1}, {30, 20, 0.9f}, {36, 23, 0.6f}};

void Stripes(TStrokeCanvas& c) {
  for (int32_t x = 0; x < kW; x += 4) c.Layer.FillRect(x, 0, 2, kH, 0xFF204080);
  c.Reload();
}

std::string Hex(uint64_t v) {
  char b[24];
  std::snprintf(b, sizeof b, "0x%016llx", static_cast<unsigned long long>(v));
  return b;
}

}  // namespace

TEST(StrokeGolden, PenBlackOnWhite) {
  TStrokeCanvas c(kW, kH, 0);
  TStroke s;
  s.LoadPreset(bkPen, 99);
  s.SetKind(bkPen);
  s.SetColor(0x000000);
  s.SetWidth(3);
  s.SetPressureAlpha(false);
  s.SetPressureSize(false);
  Draw(c, s, kPath);
  // Full coverage of black over white: 255 + trunc(2 x 255 x -127 / 255) = 1 in each byte.
  EXPECT_EQ(c.Rgb(17, 11), 0x010101u) << c.Picture();
  EXPECT_EQ(c.Rgb(30, 4), 0xFFFFFFu);
  EXPECT_EQ(Hex(c.Hash()), "0x3e35bd0c11045c93") << c.Picture();
}

TEST(StrokeGolden, PenPressureSizeAndOpacity) {
  TStrokeCanvas c(kW, kH, 0);
  TStroke s;
  s.LoadPreset(bkPen, 99);
  s.SetKind(bkPen);
  s.SetColor(0xC02010);
  s.SetWidth(4.5f);
  s.SetMinSize(20);
  Draw(c, s, kPath);
  EXPECT_EQ(c.Rgb(30, 4), 0xFFFFFFu);
  EXPECT_NE(c.Rgb(22, 14), 0xFFFFFFu);
  EXPECT_EQ(Hex(c.Hash()), "0xc4a32582cd3f8d15") << c.Picture();
}

TEST(StrokeGolden, Watercolour) {
  TStrokeCanvas c(kW, kH, 0);
  Stripes(c);
  TStroke s;
  s.LoadPreset(bkWatercolor, 99);
  s.SetKind(bkWatercolor);
  s.SetColor(0xE02020);
  s.SetWidth(6);
  Draw(c, s, kPath);
  EXPECT_EQ(c.Pixel(37, 2), 0xFF204080u);  // untouched stripe
  EXPECT_EQ(Hex(c.Hash()), "0x1150af1ee5a8f607") << c.Picture();
}

TEST(StrokeGolden, OldBlur) {
  TStrokeCanvas c(kW, kH, 0);
  Stripes(c);
  TStroke s;
  s.LoadPreset(bkBlur, 99);
  s.SetKind(bkBlur);
  s.SetWidth(4);
  s.SetEffect(40);
  Draw(c, s, kPath);
  // On the path the stripes are averaged; away from it they stay.
  const uint32_t mid = c.Rgb(21, 14);
  EXPECT_NE(mid, 0x204080u);
  EXPECT_NE(mid, 0xFFFFFFu);
  EXPECT_EQ(c.Pixel(37, 2), 0xFF204080u);
  EXPECT_EQ(Hex(c.Hash()), "0x1917e62567d31069") << c.Picture();
}

TEST(StrokeGolden, EraserOnAnAddLayer) {
  TStrokeCanvas c(kW, kH, 1);
  c.Layer.FillRect(0, 0, kW, kH, 0xFF808080);
  c.Reload();
  TStroke s;
  s.LoadPreset(bkEraser, 99);
  s.SetKind(bkEraser);
  s.SetWidth(3.5f);
  Draw(c, s, kPath);
  EXPECT_LT(c.Rgb(22, 14) & 0xFF, 0x80u);  // toward the add layer's black
  EXPECT_EQ(c.Pixel(38, 2), 0xFF808080u);
  EXPECT_EQ(Hex(c.Hash()), "0x5422007f68fb2ade") << c.Picture();
}

TEST(StrokeGolden, NewBlur) {
  TStrokeCanvas c(kW, kH, 0);
  Stripes(c);
  TStroke s;
  s.LoadPreset(bkBlur2, 99);
  s.SetKind(bkBlur2);
  s.SetWidth(5);
  Draw(c, s, kPath);
  EXPECT_NE(c.Rgb(21, 14), 0x204080u);
  EXPECT_EQ(c.Pixel(37, 2), 0xFF204080u);
  EXPECT_EQ(Hex(c.Hash()), "0xc9afba929f62364e") << c.Picture();
}

TEST(StrokeGolden, PenLine) {
  TStrokeCanvas c(kW, kH, 0);
  TStroke s;
  s.LoadPreset(bkPen, 99);
  s.SetKind(bkPen);
  s.SetColor(0x0000FF);
  s.SetWidth(2.5f);
  c.Line(s, 3, 24, 37, 3);
  EXPECT_EQ(c.Rgb(3, 24) & 0xFF, 0xFFu);
  EXPECT_EQ(Hex(c.Hash()), "0xb499cc006c3503fb") << c.Picture();
}
