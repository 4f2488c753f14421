// The brush window: its sliders, arrows, graph, switches, presets and captions, read back from
// the brush and from the strokes it records.
#include <QTimer>
#include <cmath>
#include <limits>

#include "ToolWinFixture.h"
#include "painter/MousePaintBox.h"
#include "painter/PenWin2.h"
#include "platform/core/Settings.h"

namespace {

class PenWin : public ToolWinFixture {
 protected:
  void SetUp() override {
    ToolWinFixture::SetUp();
    PenWindow2->CaptionPrefix = "筆情報 : ";
  }
  QWidget* Box() { return PenWindow2->PaintBox1; }
  TStroke& Brush() { return *VLMain->Stroke; }
  std::string Caption() { return PenWindow2->windowTitle().toStdString(); }
  // Brush bytes of the stroke the brush records now: flags, then MIN .. SPEED as 16-bit fields.
  std::vector<uint8_t> StrokeAttributes(TDrawWindow* w) {
    const int32_t mark = Mark(w);
    DrawStroke(w, Brush(), {{20, 20}, {60, 40}});
    const std::vector<uint8_t> rec = Since(w, mark);
    return std::vector<uint8_t>(rec.begin() + 6, rec.begin() + 19);
  }
  static int32_t Field(float v) { return TruncInt(ext_t(v) * 256); }
};

TEST(PenWinFormat, CaptionNumbersHaveThreeDigits) {
  struct Case {
    ext_t Value;
    const char* Text;
  };
  const Case cases[] = {
      {26.25L, "26.3"},        {75.4999924f, "75.5"}, {0.0454545f, "0.0455"}, {0.000569954f, "0.00057"},
      {199.95f, "200"},        {75, "75"},            {1.5L, "1.5"},          {12.3f, "12.3"},
      {100, "100"},            {0.01f, "0.01"},       {6, "6"},               {0.1f, "0.1"},
      {-26.25L, "-26.3"},      {0.00005L, "5E-5"},    {0, "0"},
  };
  for (const Case& c : cases) EXPECT_EQ(GeneralFormat3(c.Value), c.Text) << double(c.Value);
}

TEST(PenWinIcons, BothBlursShareTheBlurIcon) {
  EXPECT_EQ(TPenWindow2::IconOfKind(bkPen), 0);
  EXPECT_EQ(TPenWindow2::IconOfKind(bkWatercolor), 1);
  EXPECT_EQ(TPenWindow2::IconOfKind(bkBlur), 2);
  EXPECT_EQ(TPenWindow2::IconOfKind(bkEraser), 3);
  EXPECT_EQ(TPenWindow2::IconOfKind(bkBlur2), 2);
}

TEST_F(PenWin, EverySliderPositionGivesItsExactValue) {
  MakePaper(64, 64);
  PenWindow2->SelectBrush(0);
  Press(Box(), 44, 105);
  for (int v = 0; v <= 80; ++v) {
    Move(Box(), 44 + v, 105);
    ASSERT_EQ(Brush().MIN, float(5 * v) / 4) << v;
    ASSERT_EQ(Field(Brush().MIN), 320 * v) << v;
  }
  Release(Box(), 124, 105);
  Press(Box(), 44, 120);
  for (int v = 0; v <= 80; ++v) {
    Move(Box(), 44 + v, 120);
    ASSERT_EQ(Brush().WIDTH, std::max(0.1f, TStroke::SliderToWidth(float(v)))) << v;
  }
  Release(Box(), 124, 120);

  // The graph: d / 22 on the left half, (5d - 88) / 22 on the right, kept in 0.01..6.
  Press(Box(), 137, 90);
  for (int d = 0; d <= 199; ++d) {
    Move(Box(), 137 + d, 90);
    const int p = d < 22 ? d : 5 * d - 88, q = 22;
    const int expected = p * 100 < q ? 2 : p > 6 * q ? 1536 : 256 * p / q;
    ASSERT_EQ(Field(Brush().GAMMA), expected) << d;
  }
  Move(Box(), 400, 90);
  EXPECT_EQ(Brush().GAMMA, 6.0f);
  Release(Box(), 400, 90);

  PenWindow2->SelectBrush(1);
  struct Bar {
    int Y;
    float TStroke::*Value;
  };
  for (const Bar& b : {Bar{40, &TStroke::EFFECT}, Bar{53, &TStroke::ENV}, Bar{65, &TStroke::SPEED}}) {
    Press(Box(), 135, b.Y);
    for (int v = 0; v <= 50; ++v) {
      Move(Box(), 135 + v, b.Y);
      ASSERT_EQ(Brush().*b.Value, float(2 * v)) << b.Y << " " << v;
    }
    Release(Box(), 185, b.Y);
  }
  EXPECT_EQ(Caption(), "筆情報 : 浸透速度 100[%]");
}

TEST_F(PenWin, WatercolourPresetSaveAndRecordedValues) {
  TDrawWindow* w = MakePaper(480, 320);
  Click(Box(), 16, 48);
  EXPECT_EQ(Brush().Kind, bkWatercolor);
  EXPECT_EQ(Caption(), "筆情報 : 『水彩風』");
  Click(Box(), 189, 9);
  EXPECT_EQ(Caption(), "筆情報 : 「設定を保存しました」");
  {
    plat::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Brenmoor\\Vellora\\wc1", false));
    const std::pair<const char*, double> values[] = {{"MIN", 0},     {"WIDTH", 16}, {"GAMMA", 1},
                                                     {"EFFECT", 65}, {"ENV", 40},   {"SPEED", 30}};
    for (auto [name, v] : values) {
      EXPECT_EQ(reg.ReadBinary(name).value_or(std::vector<uint8_t>{}).size(), 8u) << name;
      EXPECT_EQ(reg.ReadFloat(name).value_or(-1), v) << name;
    }
    EXPECT_EQ(reg.ReadDword("ifSIZE").value_or(9), 1u);
    EXPECT_EQ(reg.ReadDword("ifTRANSPARENCY").value_or(9), 1u);
    EXPECT_EQ(reg.ReadDword("ifEDGE").value_or(9), 0u);
  }
  Click(Box(), 104, 120);
  EXPECT_EQ(Brush().WIDTH, 120.0f);
  EXPECT_EQ(StrokeAttributes(w), Hex({0x03, 0, 0, 0x00, 0x78, 0x00, 0x01, 0x00, 0x41, 0x00, 0x28, 0x00, 0x1E}));
  EXPECT_TRUE(ReplayMatches(w));

  Click(Box(), 16, 16);
  Click(Box(), 65, 105);
  EXPECT_EQ(Brush().MIN, 26.25f);
  EXPECT_EQ(Caption(), "筆情報 : 最小サイズ 26.3[%]");
  const std::vector<uint8_t> pen = StrokeAttributes(w);
  EXPECT_EQ(std::vector<uint8_t>(pen.begin() + 1, pen.begin() + 3), Hex({0x40, 0x1A}));
}

TEST_F(PenWin, ArrowsStepThenRepeatAfterHalfASecond) {
  TDrawWindow* w = MakePaper(200, 100);
  PenWindow2->SelectBrush(0);
  Brush().SetWidth(10);
  Press(Box(), 129, 120);
  EXPECT_EQ(Brush().WIDTH, 10.1f);
  EXPECT_TRUE(PenWindow2->IncTimer->isActive());
  EXPECT_EQ(Caption(), "筆情報 : 最大筆幅  10.1[pixel]");
  plat::AdvanceFakeClock(150);
  PenWindow2->IncTimerTimer();
  plat::AdvanceFakeClock(350);
  PenWindow2->IncTimerTimer();
  EXPECT_EQ(Brush().WIDTH, 10.1f);
  plat::AdvanceFakeClock(1);
  PenWindow2->IncTimerTimer();
  EXPECT_EQ(Brush().WIDTH, float(ext_t(10.1f) + 0.1f));
  plat::AdvanceFakeClock(150);
  PenWindow2->IncTimerTimer();
  EXPECT_EQ(Brush().WIDTH, float(ext_t(float(ext_t(10.1f) + 0.1f)) + 0.1f));
  Release(Box(), 129, 120);
  EXPECT_FALSE(PenWindow2->IncTimer->isActive());
  const float held = Brush().WIDTH;
  plat::AdvanceFakeClock(1000);
  PenWindow2->IncTimerTimer();
  EXPECT_EQ(Brush().WIDTH, held);

  Brush().SetWidth(10);
  Click(Box(), 129, 120);
  const std::vector<uint8_t> width = StrokeAttributes(w);
  EXPECT_EQ(std::vector<uint8_t>(width.begin() + 3, width.begin() + 5), Hex({0x19, 0x0A}));
  Brush().SetWidth(200);
  Click(Box(), 129, 120);
  EXPECT_EQ(Brush().WIDTH, 200.0f);
  Click(Box(), 39, 120);
  EXPECT_EQ(Brush().WIDTH, float(ext_t(200) - 0.1f));

  Brush().SetMinSize(75);
  for (int i = 0; i < 5; ++i) Click(Box(), 129, 105);
  const std::vector<uint8_t> pen = StrokeAttributes(w);
  EXPECT_EQ(std::vector<uint8_t>(pen.begin() + 1, pen.begin() + 3), Hex({0x7F, 0x4B}));
}

TEST_F(PenWin, DimmedControlsAreInertPerKind) {
  MakePaper(64, 64);
  struct Probe {
    const char* Name;
    QPoint At;
  };
  const Probe probes[] = {{"MIN", {65, 105}},   {"EFFECT", {150, 40}}, {"ENV", {150, 53}},
                          {"SPEED", {150, 65}}, {"ifSIZE", {125, 25}}, {"ifTRANS", {152, 25}},
                          {"ifEDGE", {180, 25}}, {"WIDTH", {65, 120}}, {"GAMMA", {150, 90}}};
  struct Case {
    int Icon;
    bool OldBlur;
    const char* Live;  // one letter per probe: 1 changes the brush
  };
  const Case cases[] = {{0, false, "100011011"}, {1, false, "011111111"}, {2, true, "010000011"},
                        {2, false, "000000011"}, {3, false, "000001111"}};
  for (const Case& c : cases) {
    PenWindow2->OldBlur = c.OldBlur;
    for (size_t i = 0; i < std::size(probes); ++i) {
      PenWindow2->SelectBrush(c.Icon);
      TStroke& b = Brush();
      // Values no click lands on, so every live control changes something.
      b.SetMinSize(3), b.SetWidth(3), b.SetGamma(3), b.SetEffect(3), b.SetEnv(3), b.SetSpeed(3);
      const auto before = std::vector<float>{b.MIN, b.WIDTH, b.GAMMA, b.EFFECT, b.ENV, b.SPEED, float(b.ifSIZE),
                                             float(b.ifTRANSPARENCY), float(b.ifEDGE)};
      Click(Box(), probes[i].At.x(), probes[i].At.y());
      const auto after = std::vector<float>{b.MIN, b.WIDTH, b.GAMMA, b.EFFECT, b.ENV, b.SPEED, float(b.ifSIZE),
                                            float(b.ifTRANSPARENCY), float(b.ifEDGE)};
      EXPECT_EQ(before != after, c.Live[i] == '1') << "icon " << c.Icon << " old blur " << c.OldBlur << " "
                                                   << probes[i].Name;
    }
  }
}

TEST_F(PenWin, DoubleClickOnTheBlurIconSwitchesBlurs) {
  MakePaper(64, 64);
  PenWindow2->SelectBrush(0);
  DoubleClick(Box(), 16, 80);
  EXPECT_TRUE(PenWindow2->OldBlur);
  EXPECT_EQ(Brush().Kind, bkBlur);
  EXPECT_EQ(Caption(), "筆情報 : 『旧ぼかし』");
  DoubleClick(Box(), 16, 80);
  EXPECT_FALSE(PenWindow2->OldBlur);
  EXPECT_EQ(Brush().Kind, bkBlur2);
  EXPECT_EQ(Caption(), "筆情報 : 『新ぼかし』");
  // Elsewhere a double-click is two clicks.
  DoubleClick(Box(), 16, 16);
  EXPECT_FALSE(PenWindow2->OldBlur);
  EXPECT_EQ(Brush().Kind, bkPen);
}

TEST_F(PenWin, PresetTabsAndKeysStayInTheirFamilies) {
  MakePaper(64, 64);
  PenWindow2->SelectBrush(2);
  EXPECT_EQ(Brush().Kind, bkBlur2);
  Click(Box(), 35 + 24 * 3 + 5, 5);
  EXPECT_EQ(PenWindow2->PresetIndex(), 3);
  EXPECT_EQ(PenWindow2->PresetTabs[2], 3);
  EXPECT_EQ(PenWindow2->NextPreset(), 4);
  EXPECT_EQ(PenWindow2->NextPreset(), 0);
  EXPECT_EQ(PenWindow2->PrevPreset(), 4);
  Click(Box(), 189, 9);
  plat::TRegistry reg;
  EXPECT_TRUE(reg.KeyExists("Software\\Brenmoor\\Vellora\\blur25"));

  // Icons outside 0..3 change nothing and read no tab.
  for (int icon : {4, -1, 99}) {
    PenWindow2->SelectBrush(icon);
    EXPECT_EQ(Brush().Kind, bkBlur2) << icon;
  }
  VLMain->EnglishItemClick();
  VLMain->JapaneseItemClick();
  EXPECT_EQ(Brush().Kind, bkBlur2);
  for (const char* family : {"pen", "wc", "blur", "erase", "blur2"})
    for (int n : {0, 6, 7})
      EXPECT_FALSE(reg.KeyExists(std::string("Software\\Brenmoor\\Vellora\\") + family + std::to_string(n)))
          << family << n;
}

TEST_F(PenWin, StoredPenGammaIsKeptInItsRange) {
  TDrawWindow* w = MakePaper(200, 100);
  const double values[] = {1e300, -5, std::numeric_limits<double>::quiet_NaN()};
  const std::vector<uint8_t> expected[] = {Hex({0x00, 0x06}), Hex({0x02, 0x00}), Hex({0x00, 0x01})};
  for (int n = 0; n < 3; ++n) {
    plat::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Brenmoor\\Vellora\\pen" + std::to_string(n + 1), true));
    reg.WriteFloat("GAMMA", values[n]);
  }
  PenWindow2->SelectBrush(0);
  for (int n = 0; n < 3; ++n) {
    Click(Box(), 35 + 24 * n + 5, 5);
    const std::vector<uint8_t> a = StrokeAttributes(w);
    EXPECT_EQ(std::vector<uint8_t>(a.begin() + 5, a.begin() + 7), expected[n]) << n;
  }
  EXPECT_TRUE(ReplayMatches(w));
}

TEST_F(PenWin, RedrawTakesAnyBrush) {
  MakePaper(64, 64);
  TStroke b;
  b.SetKind(bkPen);
  b.SetWidth(50);
  for (float g : {std::numeric_limits<float>::quiet_NaN(), 1e30f, -1e30f, std::numeric_limits<float>::infinity(),
                  0.0f}) {
    b.GAMMA = g;
    PenWindow2->Redraw(b, true);
  }
  b.Kind = 77;
  PenWindow2->Redraw(b, true);
  EXPECT_EQ(Caption(), "筆情報 : 『鉛筆/ペン』");
  // Gamma 1: the diagonal through the graph's centre.
  b.Kind = bkPen;
  b.GAMMA = 1;
  PenWindow2->Redraw(b, false);
  EXPECT_EQ(PenWindow2->GammaGraph.GetPixel(40, 79 - 40) & 0xFFFFFF, 0u);
  EXPECT_EQ(PenWindow2->GammaGraph.GetPixel(20, 20) & 0xFFFFFF, 0xFFFFFFu);
}

TEST_F(PenWin, TheSizePreviewFollowsTheZoom) {
  TDrawWindow* w = MakePaper(64, 64);
  TStroke& b = Brush();
  PenWindow2->SelectBrush(0);
  b.SetWidth(10);
  b.SetMinSize(50);
  PenWindow2->Redraw(b, false);
  // Grey out to radius 10, black to radius 5.
  EXPECT_EQ(PenWindow2->Preview.GetPixel(40 + 7, 40) & 0xFFFFFF, 0x808080u);
  EXPECT_EQ(PenWindow2->Preview.GetPixel(40 + 3, 40) & 0xFFFFFF, 0u);
  EXPECT_EQ(PenWindow2->Preview.GetPixel(40 + 12, 40) & 0xFFFFFF, 0xE0E0E0u);
  w->Paper->Display.ZoomIndex = 2;  // 200 %
  PenWindow2->Redraw(b, false);
  EXPECT_EQ(PenWindow2->Preview.GetPixel(40 + 17, 40) & 0xFFFFFF, 0x808080u);
  EXPECT_EQ(PenWindow2->Preview.GetPixel(40 + 8, 40) & 0xFFFFFF, 0u);
  // The largest disc, 1600 pixels at 800 %, covers the whole preview.
  w->Paper->Display.ZoomIndex = 6;
  b.SetWidth(200);
  b.SetMinSize(100);
  PenWindow2->Redraw(b, false);
  for (QPoint p : {QPoint(0, 0), QPoint(77, 79), QPoint(40, 40)})
    EXPECT_EQ(PenWindow2->Preview.GetPixel(p.x(), p.y()) & 0xFFFFFF, 0u) << p.x() << "," << p.y();
  PenWindow2->SelectBrush(1);
  b.SetWidth(200);
  b.SetSmoothEdge(true);
  PenWindow2->Redraw(b, false);
  // Soft: grey all over, a shade lighter away from the centre.
  EXPECT_LT(PenWindow2->Preview.GetPixel(0, 0) & 255, 0x90u);
  EXPECT_GE(PenWindow2->Preview.GetPixel(0, 0) & 255, 0x80u);
}

TEST_F(PenWin, NothingChangesInPlaybackOrDuringAStroke) {
  TDrawWindow* w = MakePaper(200, 100);
  PenWindow2->SelectBrush(0);
  Brush().SetWidth(10);
  w->Playing = true;
  Click(Box(), 16, 48);
  Click(Box(), 104, 120);
  EXPECT_EQ(Brush().Kind, bkPen);
  EXPECT_EQ(Brush().WIDTH, 10.0f);
  w->Playing = false;

  DrawStroke(w, Brush(), {{10, 10}, {80, 60}}, false);
  const float width = Brush().WIDTH;
  const bool size = Brush().ifSIZE;
  Click(Box(), 16, 48);
  Click(Box(), 104, 120);
  Click(Box(), 129, 120);
  Click(Box(), 125, 25);
  PenWindow2->SelectBrush(3);
  EXPECT_EQ(Brush().Kind, bkPen);
  EXPECT_EQ(Brush().WIDTH, width);
  EXPECT_EQ(Brush().ifSIZE, size);
  EndStroke(w, Brush(), {80, 60});
  EXPECT_TRUE(ReplayMatches(w));
}

TEST_F(PenWin, AFailedSaveKeepsTheCaptionAndSaysSo) {
  MakePaper(64, 64);
  PenWindow2->SelectBrush(1);
  PenWindow2->Redraw(Brush(), true);
  const std::string caption = Caption();
  // A store below a plain file cannot be written, whoever runs the test.
  const std::string blocker = Data.Path("file");
  FILE* f = fopen(blocker.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  const char* old = getenv("VELLORA_SETTINGS_DIR");
  const std::string saved = old ? old : "";
  setenv("VELLORA_SETTINGS_DIR", (blocker + "/settings").c_str(), 1);
  Click(Box(), 189, 9);
  setenv("VELLORA_SETTINGS_DIR", saved.c_str(), 1);
  EXPECT_EQ(Caption(), caption);
  ASSERT_EQ(Messages.Messages.size(), 1u);
  EXPECT_EQ(Messages.Messages[0].Text, "設定を保存出来ませんでした。");
}

}  // namespace

namespace {

TEST_F(PenWin, TogglesHintsAndTheCrossFade) {
  MakePaper(64, 64);
  PenWindow2->SelectBrush(1);
  TStroke& b = Brush();
  struct Toggle {
    QPoint At;
    bool TStroke::*Field;
    const char* On;
    const char* Off;
  };
  const Toggle toggles[] = {{{125, 25}, &TStroke::ifSIZE, "筆圧サイズON", "筆圧サイズOFF"},
                            {{152, 25}, &TStroke::ifTRANSPARENCY, "筆圧透明度ON", "筆圧透明度OFF"},
                            {{180, 25}, &TStroke::ifEDGE, "縁を滑らかにする", "縁を滑らかにしない"}};
  for (const Toggle& t : toggles)
    for (int i = 0; i < 2; ++i) {
      const bool was = b.*t.Field;
      Click(Box(), t.At.x(), t.At.y());
      EXPECT_EQ(b.*t.Field, !was);
      EXPECT_EQ(Caption(), std::string("筆情報 : ") + (was ? t.Off : t.On));
    }

  // Hints over the watercolour's sliders and the old blur's effect; none elsewhere.
  const std::pair<QPoint, const char*> hints[] = {
      {{150, 40}, "最初に触れた色が、どれだけ描画色に影響するか"},
      {{150, 53}, "描画周囲の色がどれだけ影響するか"},
      {{150, 65}, "選択している色に変化するまでのストローク距離長"},
      {{60, 60}, ""}};
  for (auto [at, hint] : hints) {
    Move(Box(), at.x(), at.y());
    EXPECT_EQ(Box()->toolTip().toStdString(), hint);
  }
  PenWindow2->OldBlur = true;
  PenWindow2->SelectBrush(2);
  Move(Box(), 150, 40);
  EXPECT_EQ(Box()->toolTip().toStdString(), "どれだけ強力にボカシをかけるか");
  Move(Box(), 150, 53);
  EXPECT_EQ(Box()->toolTip().toStdString(), "");

  // A brush change fades the old panel out over 200 ms.
  PenWindow2->Redraw(b, false);
  const uint32_t blurPanel = PenWindow2->BackBuffer.GetPixel(150, 43);
  PenWindow2->SelectBrush(1);
  EXPECT_TRUE(PenWindow2->AlphaTimer->isActive());
  PenWindow2->AlphaTimerTimer();
  EXPECT_EQ(PenWindow2->BackBuffer.GetPixel(150, 43), blurPanel);
  plat::AdvanceFakeClock(100);
  PenWindow2->AlphaTimerTimer();
  EXPECT_TRUE(PenWindow2->Fading);
  plat::AdvanceFakeClock(101);
  PenWindow2->AlphaTimerTimer();
  EXPECT_FALSE(PenWindow2->Fading);
  EXPECT_FALSE(PenWindow2->AlphaTimer->isActive());
  EXPECT_NE(PenWindow2->BackBuffer.GetPixel(150, 43), blurPanel);
}

}  // namespace

namespace {

TEST_F(PenWin, PlaceIsKept) {
  PenWindow2->move(56, 78);
  DestroyForms();
  CreateForms();
  EXPECT_EQ(PenWindow2->pos(), QPoint(56, 78));
  EXPECT_EQ(PenWindow2->size(), QSize(200, 128));
}

}  // namespace

namespace {

TEST_F(PenWin, TheCaptionCarriesItsPrefixFromTheStartAndFollowsTheLanguage) {
  // A new run: the window is shown before the first activation chooses the language.
  for (int language : {0, 1}) {
    SCOPED_TRACE(language);
    SetLanguage(language);
    Restart();
    const std::string prefix = language == 0 ? "筆情報 : " : "Info Outil: ";
    EXPECT_EQ(Caption(), prefix + (language == 0 ? "『鉛筆/ペン』" : "Plume/Crayon"));
    PenWindow2->show();
    EXPECT_EQ(Caption(), prefix + (language == 0 ? "『鉛筆/ペン』" : "Plume/Crayon"));
  }
  // The menu's switch changes the caption at once, both ways, whatever it showed.
  SetLanguage(0);
  Restart();
  PenWindow2->SelectBrush(1);
  PenWindow2->Redraw(Brush(), true);
  ASSERT_EQ(Caption(), "筆情報 : 『水彩風』");
  VLMain->EnglishItem->trigger();
  EXPECT_EQ(Caption(), "Info Outil:  Pinceau    ");
  VLMain->JapaneseItem->trigger();
  EXPECT_EQ(Caption(), "筆情報 : 『水彩風』");
  SetLanguage(1);
  EXPECT_EQ(Caption(), "Info Outil:  Pinceau    ");
  SetLanguage(0);
}

}  // namespace
