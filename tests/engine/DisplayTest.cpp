#include "engine/Display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "platform/core/Screen.h"

namespace {

struct TFill {
  int32_t X, Y, W, H;
  uint32_t Colour;
  friend bool operator==(const TFill&, const TFill&) = default;
};

class TFakeForm : public TDisplayForm {
 public:
  TFakeForm(int32_t w, int32_t h) : W(w), H(h) {}
  int32_t ClientWidth() const override { return W; }
  int32_t ClientHeight() const override { return H; }
  void SetClientSize(int32_t w, int32_t h) override {
    W = w;
    H = h;
  }
  void FillRect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour) override {
    Fills.push_back({x, y, w, h, colour});
  }
  int32_t W, H;
  std::vector<TFill> Fills;
};

class TFakeBar : public TDisplayScrollBar {
 public:
  explicit TFakeBar(int32_t position) : Pos(position) {}
  void SetVisible(bool v) override { Visible = v; }
  int32_t Thickness() const override { return 17; }
  void SetLeft(int32_t v) override { Left = v; }
  void SetTop(int32_t v) override { Top = v; }
  void SetWidth(int32_t v) override { Width = v; }
  void SetHeight(int32_t v) override { Height = v; }
  void SetLargeChange(int32_t v) override { Large = v; }
  void SetMax(int32_t v) override { Max = v; }
  void SetPage(int32_t v) override { Page = v; }
  void SetSmallChange(int32_t v) override { Small = v; }
  int32_t Position() const override { return Pos; }
  void SetPosition(int32_t v) override {
    Pos = v;
    ++Moves;
  }
  bool Visible = false;
  int32_t Left = -1, Top = -1, Width = -1, Height = -1, Large = -1, Max = -1, Page = -1, Small = -1;
  int32_t Pos, Moves = 0;
};

// Keeps the process-wide screen width as it was.
class TScreenWidth {
 public:
  explicit TScreenWidth(int32_t w) : old_(plat::FullScreenWidth()) { plat::SetFullScreenWidth(w); }
  ~TScreenWidth() { plat::SetFullScreenWidth(old_); }

 private:
  int32_t old_;
};

TPoint ToWindow(const TDisplay& d, int32_t cw, int32_t ch, TPoint p) {
  d.PaperToWindow(cw, ch, p);
  return p;
}

TPoint ToPaper(const TDisplay& d, int32_t cw, int32_t ch, TPoint p) {
  d.WindowToPaper(cw, ch, p);
  return p;
}

}  // namespace

TEST(Display, ZoomStepsFactorsAndWindowFit) {
  struct {
    int32_t Index;
    float Factor;
    int32_t Fit301;
  } steps[] = {{-2, 0.25f, 75}, {-1, 0.5f, 150}, {0, 1, 301}, {1, 1.5f, 451}, {2, 2, 602},
               {3, 3, 903},     {4, 4, 1204},    {5, 6, 1806}, {6, 8, 2408}, {7, 1, 301}, {-3, 1, 301}};
  for (const auto& s : steps) {
    SCOPED_TRACE(s.Index);
    TDisplay d;
    d.ZoomIndex = s.Index;
    EXPECT_EQ(d.Zoom(), s.Factor);
    EXPECT_EQ(TDisplay::FitSize(s.Index, 301), s.Fit301);
  }

  TDisplay d;
  d.ZoomIndex = 1;
  TFakeForm form(10, 10);
  d.FitWindow(301, 201, form);
  EXPECT_EQ(form.W, 531);
  EXPECT_EQ(form.H, 381);

  // From the smallest step up to the largest and back, one step at a time, and no further.
  d.ZoomIndex = -2;
  EXPECT_FALSE(d.ZoomOut());
  EXPECT_EQ(d.ZoomIndex, -2);
  int ups = 0;
  while (d.ZoomIn()) ++ups;
  EXPECT_EQ(ups, 8);
  EXPECT_EQ(d.ZoomIndex, 6);
  EXPECT_FALSE(d.CanZoomIn());
  EXPECT_TRUE(d.ZoomOut());
  EXPECT_EQ(d.ZoomIndex, 5);
  d.ResetZoom();
  EXPECT_EQ(d.Zoom(), 1.0f);
}

TEST(Display, UnrotatedMappingsAtEveryZoomStep) {
  for (int32_t zi = TDisplay::kMinZoomIndex; zi <= TDisplay::kMaxZoomIndex; ++zi) {
    SCOPED_TRACE(zi);
    TDisplay d;
    d.ZoomIndex = zi;
    d.SetMargins(37, 11);
    d.SetScroll(4, 8);
    const ext_t z = d.Zoom();
    EXPECT_EQ(d.OriginX(), 37 - static_cast<int32_t>(z * 4));
    EXPECT_EQ(d.OriginY(), 11 - static_cast<int32_t>(z * 8));
    for (int32_t x = 0; x < 60; ++x) {
      const TPoint p{x, 2 * x + 1};
      const TPoint w = ToWindow(d, 640, 480, p);
      EXPECT_EQ(w.X, d.OriginX() + static_cast<int32_t>(z * p.X));
      EXPECT_EQ(w.Y, d.OriginY() + static_cast<int32_t>(z * p.Y));
      // Back to the paper pixel that the window pixel starts in: the same one at whole
      // factors, at most one before at 150%, the first of its group when reduced.
      const TPoint back = ToPaper(d, 640, 480, w);
      if (z == std::trunc(z)) {
        EXPECT_EQ(back, p) << x;
      } else {
        EXPECT_LE(back.X, p.X);
        EXPECT_LE(back.Y, p.Y);
        if (z > 1) {
          EXPECT_LE(p.X - back.X, 1) << x;
          EXPECT_LE(p.Y - back.Y, 1) << x;
        } else {
          EXPECT_LT(p.X - back.X, 1 / z) << x;
          EXPECT_LT(p.Y - back.Y, 1 / z) << x;
        }
      }
      if (z < 1) {
        EXPECT_EQ(ToWindow(d, 640, 480, back), w);
      }
    }
  }
}

TEST(Display, WindowPointsLeftOfThePaperTruncateTowardZero) {
  TDisplay d;
  d.ZoomIndex = 4;  // 400%
  d.SetMargins(100, 0);
  const int32_t cases[][2] = {{100, 0}, {103, 0}, {99, 0}, {97, 0}, {96, -1}, {92, -2}, {91, -2}};
  for (const auto& c : cases) {
    EXPECT_EQ(ToPaper(d, 800, 600, {c[0], 50}).X, c[1]) << c[0];
  }
}

TEST(Display, RotatedMappingsRoundTripAtEveryZoomStep) {
  const double degrees[] = {90, 30, 180, -30};
  const int32_t cw = 801, ch = 600;
  for (double deg : degrees) {
    for (int32_t zi = TDisplay::kMinZoomIndex; zi <= TDisplay::kMaxZoomIndex; ++zi) {
      SCOPED_TRACE(testing::Message() << deg << " degrees, zoom " << zi);
      TDisplay d;
      d.ZoomIndex = zi;
      d.SetAngle(static_cast<float>(deg * std::numbers::pi / 180));
      d.SetCentre(250, 170);
      const double z = d.Zoom();
      // The centre sits in the middle of the window.
      EXPECT_EQ(ToWindow(d, cw, ch, {250, 170}), (TPoint{cw / 2, ch / 2}));
      for (int32_t y = 100; y <= 240; y += 20) {
        for (int32_t x = 180; x <= 320; x += 20) {
          const TPoint p{x, y};
          const TPoint w = ToWindow(d, cw, ch, p);
          // The window point lies where the rotation puts it (a = -Angle), to a pixel.
          const double a = -deg * std::numbers::pi / 180;
          const double u = z * (x - 250), v = z * (y - 170);
          EXPECT_NEAR(w.X, cw / 2 + (std::cos(a) * u - std::sin(a) * v), 1.001);
          EXPECT_NEAR(w.Y, ch / 2 + (std::sin(a) * u + std::cos(a) * v), 1.001);
          // And back to the paper point, within what the truncations on both ways lose.
          const TPoint back = ToPaper(d, cw, ch, w);
          const double tolerance = 1.5 / z + 1;
          EXPECT_NEAR(back.X, x, tolerance) << x << "," << y;
          EXPECT_NEAR(back.Y, y, tolerance) << x << "," << y;
        }
      }
    }
  }
}

TEST(Display, RotationFormulasKeepTheirTruncations) {
  // A quarter turn at 100%: the single-precision angle is a hair above pi/2, so a point ten
  // pixels right of the centre lands 9 pixels above the window centre, not 10.
  TDisplay d;
  d.SetAngle(static_cast<float>(std::numbers::pi / 2));
  d.SetCentre(100, 100);
  EXPECT_EQ(ToWindow(d, 400, 300, {110, 100}), (TPoint{200, 141}));
  EXPECT_EQ(ToWindow(d, 400, 300, {100, 110}), (TPoint{209, 150}));
  EXPECT_EQ(ToPaper(d, 400, 300, {200, 141}), (TPoint{108, 100}));
  // Angle exactly 0 uses the unrotated formulas, whatever the centre holds.
  d.SetAngle(0);
  d.SetMargins(4, 6);
  EXPECT_EQ(ToWindow(d, 400, 300, {110, 100}), (TPoint{114, 106}));
  EXPECT_EQ(ToPaper(d, 400, 300, {114, 106}), (TPoint{110, 100}));
}

TEST(Display, CentrePointAndRotatedPanning) {
  TDisplay d;
  d.ZoomIndex = 2;  // 200%
  int32_t x, y;
  d.SetScroll(40, 0);
  d.SetMargins(0, 30);
  d.CentrePoint(801, 601, x, y);
  EXPECT_EQ(x, 400 / 2 + 40);
  EXPECT_EQ(y, 300 / 2 - 30 / 2);

  d.SetAngle(0.5f);
  d.SetCentre(12.9f, -3.7f);
  d.CentrePoint(801, 601, x, y);
  EXPECT_EQ(x, 12);
  EXPECT_EQ(y, -3);

  // A quarter turn: dragging right moves the centre up the paper.
  d.SetAngle(static_cast<float>(std::numbers::pi / 2));
  d.SetCentre(100, 100);
  d.PanRotated(10, 0);
  EXPECT_NEAR(d.CentreX, 100, 1e-4);
  EXPECT_NEAR(d.CentreY, 90, 1e-4);
  d.Rotate(-d.Angle);
  EXPECT_FALSE(d.IsRotated());
  d.PanRotated(3, 4);
  EXPECT_FLOAT_EQ(d.CentreX, 97);
  EXPECT_FLOAT_EQ(d.CentreY, 86);
}

TEST(Display, ScrollBarsAreSetUpWithTheClickStepApartFromTheThumb) {
  TScreenWidth screen(1920);  // slack H = 960
  struct {
    int32_t Zoom, Large, Small, HMax, VMax, ScrollX, ScrollY;
  } cases[] = {
      {0, 784, 10, 2920, 2620, 40, 20},  // 100%
      {2, 392, 20, 3920, 3320, 20, 10},  // 200%
      {-1, 1568, 5, 2420, 2270, 80, 40},  // 50%
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Zoom);
    TDisplay d;
    d.ZoomIndex = c.Zoom;
    TFakeForm form(800, 600);
    TFakeBar h(1000), v(980);
    d.UpdateScrollBars(form, 1000, h, v, 700);
    EXPECT_TRUE(h.Visible);
    EXPECT_TRUE(v.Visible);
    EXPECT_EQ(h.Top, 600 - 17);
    EXPECT_EQ(h.Width, 784);
    EXPECT_EQ(v.Left, 800 - 17);
    EXPECT_EQ(v.Height, 584);
    EXPECT_EQ(h.Large, c.Large);
    EXPECT_EQ(h.Page, 800);  // the thumb shows the window, the click steps by the paper
    EXPECT_EQ(v.Page, 600);
    EXPECT_EQ(h.Small, c.Small);
    EXPECT_EQ(v.Small, c.Small);
    EXPECT_EQ(h.Max, c.HMax);
    EXPECT_EQ(v.Max, c.VMax);
    EXPECT_EQ(d.MarginX, 0);
    EXPECT_EQ(d.MarginY, 0);
    EXPECT_EQ(d.ScrollX, c.ScrollX);
    EXPECT_EQ(d.ScrollY, c.ScrollY);
    EXPECT_EQ(h.Moves + v.Moves, 0);
  }
  TDisplay d;
  TFakeForm form(800, 600);
  TFakeBar h(0), v(0);
  d.UpdateScrollBars(form, 1000, h, v, 700);
  EXPECT_EQ(v.Large, 584);
}

TEST(Display, ScrollBarsPlaceThePaperAndFillTheBandsAroundIt) {
  TScreenWidth screen(1920);
  const uint32_t g = kViewBackground;
  {
    // A paper narrower than the window: margin on the left, band on the right.
    TDisplay d;
    TFakeForm form(800, 600);
    TFakeBar h(700), v(960);
    d.UpdateScrollBars(form, 300, h, v, 200);
    EXPECT_EQ(d.MarginX, 260);
    EXPECT_EQ(d.ScrollX, 0);
    EXPECT_EQ(d.MarginY, 0);
    EXPECT_EQ(d.ScrollY, 0);
    int32_t cx, cy;
    d.CentrePoint(800, 600, cx, cy);
    EXPECT_EQ(cy, 300);  // position exactly H: the centre is hw / z
    const std::vector<TFill> want = {
        {0, 0, 260, 600, g}, {560, 0, 800, 600, g},  // left band, right of the paper
        {0, 200, 800, 600, g},                       // below the paper
    };
    EXPECT_EQ(form.Fills, want);
  }
  {
    // A position past the end of the range is lowered to it; the slack lets the paper's
    // right edge go H pixels left of the window's.
    TDisplay d;
    TFakeForm form(800, 600);
    TFakeBar h(5000), v(0);
    d.UpdateScrollBars(form, 1000, h, v, 3000);
    EXPECT_EQ(h.Pos, 1000 + 1920 - 800);
    EXPECT_EQ(h.Moves, 1);
    EXPECT_EQ(d.ScrollX, (2120 - 960));
    EXPECT_EQ(d.MarginY, 960);
    const std::vector<TFill> want = {{-160, 0, 800, 600, g}, {0, 0, 800, 960, g}};
    EXPECT_EQ(form.Fills, want);
  }
  {
    // A window wider than paper and both slacks: the bar stays at 0, never below.
    TDisplay d;
    TFakeForm form(3000, 600);
    TFakeBar h(500), v(960);
    d.UpdateScrollBars(form, 100, h, v, 600);
    EXPECT_EQ(h.Pos, 0);
    EXPECT_EQ(d.MarginX, 960);
    EXPECT_EQ(form.Fills.at(0), (TFill{0, 0, 960, 600, g}));
    EXPECT_EQ(form.Fills.at(1), (TFill{1060, 0, 3000, 600, g}));
  }
}

TEST(Display, RotatedViewOnlyHidesTheBars) {
  TDisplay d;
  d.SetAngle(0.25f);
  d.SetMargins(7, 8);
  d.SetScroll(9, 10);
  TFakeForm form(800, 600);
  TFakeBar h(0), v(0);
  h.Visible = v.Visible = true;
  d.UpdateScrollBars(form, 300, h, v, 200);
  EXPECT_FALSE(h.Visible);
  EXPECT_FALSE(v.Visible);
  EXPECT_EQ(h.Max, -1);
  EXPECT_TRUE(form.Fills.empty());
  EXPECT_EQ(d.MarginX, 7);
  EXPECT_EQ(d.ScrollY, 10);
}

TEST(Display, SlackComesFromTheScreenWidthHook) {
  {
    TScreenWidth screen(1001);
    EXPECT_EQ(TDisplay::ScrollSlack(), 500);
    TDisplay d;
    TFakeForm form(800, 600);
    TFakeBar h(0), v(0);
    d.UpdateScrollBars(form, 1000, h, v, 700);
    EXPECT_EQ(h.Max, 2000);
    EXPECT_EQ(v.Max, 1700);  // the horizontal metric serves both bars
    plat::SetFullScreenWidth(0);
    EXPECT_EQ(plat::FullScreenWidth(), plat::kDefaultFullScreenWidth);
  }
  EXPECT_EQ(TDisplay::ScrollSlack(), plat::FullScreenWidth() / 2);
}
