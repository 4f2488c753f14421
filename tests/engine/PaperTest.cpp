// The paper: initialisation and its size limit, the title, compositing by kind and opacity,
// painting at zoom steps and rotations, the preview, and the whole-paper changes.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "PaperTestUtil.h"
#include "engine/Channel.h"
#include "engine/Layer.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"

namespace {

TEST(PaperInit, StartsOverWithOneWhiteMultiplyLayer) {
  TPaper p;
  EXPECT_FALSE(p.Initialised);
  EXPECT_TRUE(p.Init("SanNom", 30, 20));
  EXPECT_TRUE(p.Initialised);
  EXPECT_EQ(p.Width(), 30);
  EXPECT_EQ(p.Height(), 20);
  EXPECT_EQ(p.Layers->LastIndex(), 0);
  EXPECT_EQ(p.Layers->LayerKind(0), lkMultiply);
  EXPECT_EQ(p.CompositeImage.GetPixel(29, 19), 0xFFFFFFFFu);
  p.Layers->AddLayer(lkAdd);
  ASSERT_TRUE(p.Init("NONAME", 8, 9));
  EXPECT_EQ(p.Layers->LastIndex(), 0);
  EXPECT_EQ(p.Name, "NONAME");
  EXPECT_EQ(p.Selection->Width(), 8);
}

TEST(PaperInit, SidesAreClampedToThePaperLimitAndReported) {
  struct Case {
    int32_t w, h, wantW, wantH;
    bool exact;
  };
  const Case cases[] = {
      {65535, 65535, kMaxPaperSide, kMaxPaperSide, false},
      {0, -5, 1, 1, false},
      {kMaxPaperSide, 1, kMaxPaperSide, 1, true},
  };
  for (const Case& c : cases) {
    TPaper p;
    EXPECT_EQ(p.Init("x", c.w, c.h), c.exact) << c.w << "x" << c.h;
    EXPECT_EQ(p.Width(), c.wantW);
    EXPECT_EQ(p.Height(), c.wantH);
    EXPECT_EQ(p.Layers->Width(), c.wantW);
    EXPECT_EQ(p.Layers->LayerImage(0)->Width(), c.wantW);
  }
}

TEST(PaperInit, GeometryChangesClampTooAndSayWhenTheyDid) {
  TPaper p;
  p.Init("x", 10, 10);
  EXPECT_FALSE(p.ChangeCanvasSize(65535, 5, 0));
  EXPECT_EQ(p.Width(), kMaxPaperSide);
  EXPECT_EQ(p.Height(), 5);
  EXPECT_FALSE(p.ChangeResolution(0, 65535));
  EXPECT_EQ(p.Width(), 1);
  EXPECT_EQ(p.Height(), kMaxPaperSide);
  EXPECT_TRUE(p.ChangeResolution(3, 4));
  EXPECT_EQ(p.Layers->Height(), 4);
}

TEST(PaperCaption, ModeQuotedNameSizeAndZoom) {
  TPaper p;
  p.Init("SanNom", 480, 320);
  EXPECT_EQ(p.Caption(), "<OFFLINE>  \"SanNom\" 480*320 : 100%");
  p.SetNetMode(1);
  p.Display.ZoomIndex = -2;
  EXPECT_EQ(p.Caption(), "<NETWORKING>  \"SanNom\" 480*320 :  25%");
  p.SetNetMode(2);
  p.Display.ZoomIndex = 7;
  EXPECT_EQ(p.Caption(), " \"SanNom\" 480*320 : ");
}

// ---- Compositing ---------------------------------------------------------------------------

uint8_t Mul(uint8_t d, uint8_t s, uint8_t a) { return a == 255 ? T_Mul[d][s] : T_Mul[d][T_FadeWhite[a][s]]; }

TEST(PaperComposite, PaperColourUnderNoVisibleLayer) {
  TPaper p;
  p.Init("x", 70, 3);
  p.Layers->FillRect(0, 0, 0, 70, 3, 0x123456);
  p.Layers->SetVisible(0, 0);
  p.Layers->SetPaperColor(0x0000FF);
  p.Composite();
  for (int32_t x : {0, 69}) EXPECT_EQ(p.CompositeImage.GetPixel(x, 2), 0xFF0000FFu);
}

TEST(PaperComposite, BlendsEachKindAtItsOpacityBottomUp) {
  TPaper p;
  p.Init("x", 4, 1);
  p.Layers->SetPaperColor(0xC0C0C0);
  p.Layers->FillRect(0, 0, 0, 4, 1, 0x806040);  // multiply at 128
  p.Layers->SetOpacity(0, 128);
  p.Layers->AddLayer(lkAdd);
  p.Layers->FillRect(1, 1, 0, 3, 1, 0x102030);  // add, full
  p.Layers->AddLayer(lkSubtract);
  p.Layers->FillRect(2, 2, 0, 2, 1, 0x08FF00);  // subtract at 64
  p.Layers->SetOpacity(2, 64);
  p.Layers->AddLayer(lkArgb);  // never drawn
  p.Layers->FillRect(3, 0, 0, 4, 1, 0x000000);
  p.Layers->AddLayer(lkMultiply);  // opacity 0: nothing
  p.Layers->FillRect(4, 0, 0, 4, 1, 0x000000);
  p.Layers->SetOpacity(4, 0);
  p.Layers->AddLayer(lkMultiply);  // hidden: nothing
  p.Layers->FillRect(5, 0, 0, 4, 1, 0x000000);
  p.Layers->SetVisible(5, 0);
  p.Composite();

  auto expect = [&](int32_t x) {
    uint8_t c[3] = {0xC0, 0xC0, 0xC0};
    const uint8_t m[3] = {0x80, 0x60, 0x40}, a[3] = {0x10, 0x20, 0x30}, s[3] = {0x08, 0xFF, 0x00};
    for (int k = 0; k < 3; ++k) {
      c[k] = Mul(c[k], m[k], 128);
      if (x >= 1) c[k] = static_cast<uint8_t>(std::min(255, c[k] + a[k]));
      if (x >= 2) c[k] = static_cast<uint8_t>(std::max(0, c[k] - T_Mul[64][s[k]]));
    }
    return 0xFF000000u | uint32_t{c[0]} << 16 | uint32_t{c[1]} << 8 | c[2];
  };
  for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(p.CompositeImage.GetPixel(x, 0), expect(x)) << "x " << x;

  // The rectangle form gives the same pixels, and touches only its rectangle.
  TTC whole(4, 1);
  p.CompositeImage.CopyTo(whole, 0, 0);
  p.CompositeImage.Fill(0xFF000000u);
  p.CompositeRect(1, 0, 2, 1);
  EXPECT_EQ(p.CompositeImage.GetPixel(0, 0), 0xFF000000u);
  EXPECT_EQ(p.CompositeImage.GetPixel(1, 0), whole.GetPixel(1, 0));
  EXPECT_EQ(p.CompositeImage.GetPixel(2, 0), whole.GetPixel(2, 0));
  EXPECT_EQ(p.CompositeImage.GetPixel(3, 0), 0xFF000000u);
}

TEST(PaperComposite, MovingLayerIsBlendedAtItsOffset) {
  TPaper p;
  p.Init("x", 6, 6);
  p.Layers->FillRect(0, 1, 1, 1, 1, 0x000000);
  p.CompositeMoving(0, 2, 3);
  EXPECT_EQ(p.CompositeImage.GetPixel(3, 4), 0xFF000000u);
  EXPECT_EQ(p.CompositeImage.GetPixel(1, 1), 0xFFFFFFFFu);
}

// The plain composite: the paper colour, then each visible layer over the whole paper in turn.
void PlainComposite(const TPaper& p, TTC& out) {
  const int32_t W = p.Width(), H = p.Height();
  out.SetSize(W, H);
  out.Fill(p.Layers->PaperColor() | 0xFF000000u);
  for (int32_t i = 0; i <= p.Layers->LastIndex(); ++i) {
    if (!p.Layers->LayerVisible(i)) continue;
    const TBlockImage& img = *p.Layers->LayerImage(i);
    const uint8_t o = p.Layers->LayerOpacity(i);
    switch (p.Layers->LayerKind(i)) {
      case lkMultiply: img.MultiplyRectTo(out, 0, 0, W, H, 0, 0, o); break;
      case lkAdd: img.AddRectTo(out, 0, 0, W, H, 0, 0, o); break;
      case lkSubtract: img.SubtractRectTo(out, 0, 0, W, H, 0, 0, o); break;
      default: break;
    }
  }
}

TEST(PaperComposite, WholePaperEqualsThePlainLayerAfterLayerComposite) {
  std::mt19937 rng(1211);
  auto in = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
  // Sides below, on and beyond band and tile edges.
  const int32_t sides[] = {1, 63, 64, 65, 128, 193, 300};
  for (int round = 0; round < 24; ++round) {
    const int32_t W = sides[in(0, 6)], H = sides[in(0, 6)];
    TPaper p;
    ASSERT_TRUE(p.Init("x", W, H));
    p.Layers->SetPaperColor(static_cast<uint32_t>(in(0, 0xFFFFFF)));
    const int32_t layers = in(1, 5);
    for (int32_t i = 0; i < layers; ++i) {
      if (i > 0) p.Layers->AddLayer(static_cast<TLayerKind>(in(0, 3)));
      p.Layers->SetOpacity(i, static_cast<uint8_t>(in(0, 4) == 0 ? 255 : in(0, 255)));
      p.Layers->SetVisible(i, in(0, 5) != 0);
      for (int k = in(0, 4); k > 0; --k)
        p.Layers->FillRect(i, in(-20, W), in(-20, H), in(1, W), in(1, H), static_cast<uint32_t>(in(0, 0xFFFFFF)));
      TBlockImage& img = *p.Layers->LayerImage(i);
      for (int k = in(0, 400); k > 0; --k)
        img.SetPixel(in(0, W - 1), in(0, H - 1), static_cast<uint32_t>(in(0, 0x7FFFFFFF)) * 2u + static_cast<uint32_t>(in(0, 1)));
    }
    p.Composite();
    TTC plain;
    PlainComposite(p, plain);
    ASSERT_EQ(CanvasPixels(p.CompositeImage), CanvasPixels(plain)) << "round " << round << ": " << W << " x " << H;
  }
}

// ---- Painting ------------------------------------------------------------------------------

TEST(PaperPaint, UnrotatedViewCopiesOrStretchesFromTheScrollPosition) {
  TPaper p;
  p.Init("x", 20, 10);
  PaintPattern(p, 0);
  p.Composite();
  {
    TCanvasTarget win(15, 8);
    p.Display.SetMargins(2, 1);
    p.Display.SetScroll(3, 0);
    p.Paint(&win);
    EXPECT_EQ(win.At(2, 1), p.CompositeImage.GetPixel(3, 0));
    EXPECT_EQ(win.At(14, 7), p.CompositeImage.GetPixel(15, 6));
    EXPECT_EQ(win.At(1, 1), 0xFF123456u);  // the bands are the view's, not the paper's
  }
  {
    TCanvasTarget win(12, 12);
    p.Display.SetMargins(0, 0);
    p.Display.SetScroll(0, 0);
    p.Display.ZoomIndex = 2;  // 200%
    p.Paint(&win);
    EXPECT_EQ(win.At(0, 0), p.CompositeImage.GetPixel(0, 0));
    EXPECT_EQ(win.At(1, 1), p.CompositeImage.GetPixel(0, 0));
    EXPECT_EQ(win.At(11, 11), p.CompositeImage.GetPixel(5, 5));
  }
}

TEST(PaperPaint, RectangleAt150PercentUsesTheIntegerSteps) {
  TPaper p;
  p.Init("x", 20, 20);
  p.Composite();
  TCanvasTarget win(40, 40);
  p.Display.ZoomIndex = 1;
  p.PaintRect(&win, 3, 2, 3, 2);
  ASSERT_EQ(win.Changed.size(), 1u);
  // x 3, w 3 go to 4 and 4; y 2, h 2 to 3 and 3.
  EXPECT_EQ(win.Changed[0], (TRect{4, 3, 8, 6}));
}

TEST(PaperPaint, ReducedViewIsGreyAroundThePaperAndRepaintsSquares) {
  TPaper p;
  p.Init("x", 40, 40);
  p.Composite();
  TCanvasTarget win(60, 60);
  p.Display.ZoomIndex = -2;  // 25%: the paper is 10 x 10, here at the window centre
  p.Display.SetMargins(25, 25);
  p.Paint(&win);
  EXPECT_EQ(win.At(0, 0) & 0xFFFFFF, 0x606060u);
  EXPECT_EQ(win.At(30, 30), 0xFFFFFFFFu);
  win.Changed.clear();
  // A 10 x 10 rectangle at 25% repaints a square of side 2 * (trunc(sqrt(2) * 0.25 * 10 / 2) + 1).
  p.PaintRect(&win, 20, 20, 10, 10);
  ASSERT_EQ(win.Changed.size(), 1u);
  EXPECT_EQ(win.Changed[0].Width(), 4);
  EXPECT_EQ(win.Changed[0].Height(), 4);
}

TEST(PaperPaint, RotatedViewSamplesAroundTheCentre) {
  TPaper p;
  p.Init("x", 9, 9);
  p.Layers->FillRect(0, 4, 0, 1, 3, 0x000000);  // a short bar above the centre
  p.Composite();
  TCanvasTarget win(21, 21);
  p.Display.SetCentre(4.5f, 4.5f);
  p.Display.SetAngle(static_cast<float>(M_PI / 2));
  p.Paint(&win);
  // A quarter turn of the view lays the bar on its side; the window centre shows the paper centre.
  EXPECT_EQ(win.At(10, 10), p.CompositeImage.GetPixel(4, 4));
  int dark = 0;
  for (int32_t x = 0; x < 21; ++x) dark += (win.At(x, 10) & 0xFFFFFF) == 0;
  EXPECT_EQ(dark, 3);
  EXPECT_EQ(win.At(0, 0) & 0xFFFFFF, 0x606060u);
}

TEST(PaperPaint, ARotatedOrReducedRepaintOfARectangleEqualsTheWholeRepaint) {
  // The partial repaint after a change must show what a whole repaint of the changed paper
  // shows, pixel for pixel, wherever the rectangle lies.
  const struct {
    float Angle;
    int32_t Zoom;
  } views[] = {{0.4f, 0}, {1.2f, 2}, {-2.0f, 1}, {2.9f, -1}, {0.7f, 5}, {0, -2}, {0, -1}, {-0.25f, -2}};
  const TRect rects[] = {{3, 5, 14, 9}, {17, 11, 40, 31}, {29, 1, 36, 6}, {0, 20, 9, 39}};
  for (const auto& v : views) {
    for (const TRect& r : rects) {
      SCOPED_TRACE(testing::Message() << "angle " << v.Angle << " zoom " << v.Zoom << " rect " << r.Left << ","
                                      << r.Top);
      TPaper p;
      p.Init("x", 40, 40);
      PaintPattern(p, 0);
      p.Composite();
      p.Display.ZoomIndex = v.Zoom;
      p.Display.SetMargins(7, 3);
      p.Display.SetCentre(21.5f, 18.25f);
      p.Display.SetAngle(v.Angle);
      TCanvasTarget shown(320, 280), fresh(320, 280);
      p.Paint(&shown);
      // Change the rectangle, repaint only it, then compare with a whole repaint.
      p.Layers->FillRect(0, r.Left, r.Top, r.Width(), r.Height(), 0x204080);
      p.Composite();
      shown.Changed.clear();
      p.PaintRect(&shown, r.Left, r.Top, r.Width(), r.Height());
      ASSERT_EQ(shown.Changed.size(), 1u);
      p.Paint(&fresh);
      const TRect& done = shown.Changed[0];
      for (int32_t y = std::max(done.Top, 0); y < std::min(done.Bottom, 280); ++y)
        for (int32_t x = std::max(done.Left, 0); x < std::min(done.Right, 320); ++x)
          ASSERT_EQ(shown.At(x, y), fresh.At(x, y)) << x << "," << y;
    }
  }
}

TEST(PaperPaint, NoWindowPaintsNothing) {
  TPaper p;
  p.Paint(nullptr);
  p.PaintRect(nullptr, 0, 0, 4, 4);
  TCanvasTarget win(8, 8);
  p.Paint(&win);  // an empty composite before Init may be painted
}

TEST(PaperPreview, ViewerModeKeepsNoPreview) {
  TPaper p;
  p.Init("x", 50, 50);
  p.Layers->FillRect(0, 0, 0, 50, 50, 0x000000);
  p.Composite();
  p.PreviewImage.SetSize(10, 10);
  p.PreviewImage.Fill(0xFFFF0000u);
  p.SetViewerMode(1);
  p.UpdatePreview();
  EXPECT_EQ(p.PreviewImage.GetPixel(5, 5), 0xFFFF0000u);
  p.SetViewerMode(0);
  p.UpdatePreview();
  EXPECT_EQ(p.PreviewImage.GetPixel(5, 5), 0xFF000000u);
}

TEST(PaperPreview, RectangleSizesUseASingleRatioWithAnUnroundedProduct) {
  TPaper p;
  p.Init("x", 300, 100);
  p.Layers->FillRect(0, 0, 0, 300, 100, 0x000000);
  p.Composite();
  p.PreviewImage.SetSize(48, 20);
  p.PreviewImage.Fill(0xFFFF0000u);
  // 100 x (48 / 300 in single precision) is 15.99999..., so 15 + 1 = 16 columns past x 0: the
  // reduction writes columns 0..16 and leaves 17. A product rounded to single would reach 17.
  p.UpdatePreviewRect(0, 0, 100, 100);
  EXPECT_EQ(p.PreviewImage.GetPixel(16, 0) & 0xFFFFFF, 0u);
  EXPECT_EQ(p.PreviewImage.GetPixel(17, 0), 0xFFFF0000u);
}

// ---- Strokes and lines ---------------------------------------------------------------------

void PenBrush(TStroke& b, int32_t layer) {
  b.SetKind(bkPen);
  b.SetColor(0x000000);
  b.SetLayer(layer);
  b.SetPressureSize(true);
  b.SetPressureAlpha(true);
  b.SetMinSize(75);
  b.SetWidth(4);
  b.SetGamma(1);
}

TEST(PaperStroke, ShowsThroughTheWorkingCopyAndCommitsOneUndoStep) {
  TPaper p;
  p.Init("x", 40, 30);
  p.Layers->SetPaperColor(0xE0E0E0);
  p.Layers->FillRect(0, 0, 10, 40, 10, 0x4080C0);
  p.Layers->AddLayer(lkMultiply);
  p.Layers->SetOpacity(1, 128);
  p.Composite();
  const auto layerBefore = LayerPixels(p, 1);
  const auto compositeBefore = CanvasPixels(p.CompositeImage);
  TStroke b;
  PenBrush(b, 1);
  TCanvasTarget win(40, 30);
  p.StrokeBegin(b, 5, 15, 1);
  for (float x : {10.0f, 15.0f, 20.0f, 25.0f}) p.StrokeMove(b, &win, x, 15, 1);

  // In progress: the layer is untouched, the composite shows the working copy by the layer's
  // kind and opacity, and the window was painted.
  EXPECT_EQ(LayerPixels(p, 1), layerBefore);
  EXPECT_FALSE(win.Changed.empty());
  const TBlockImage& work = *p.Layers->FlowImage(1);
  int changed = 0;
  for (int32_t y = 0; y < 30; ++y) {
    for (int32_t x = 0; x < 40; ++x) {
      const uint32_t under = p.Layers->LayerImage(0)->GetPixel(x, y), w = work.GetPixel(x, y);
      uint32_t want = 0xFF000000u;
      for (int k = 0; k < 3; ++k) {
        const uint8_t paper = 0xE0, l0 = (under >> (8 * k)) & 0xFF, l1 = (w >> (8 * k)) & 0xFF;
        want |= uint32_t{Mul(Mul(paper, l0, 255), l1, 128)} << (8 * k);
      }
      if ((w & 0xFFFFFF) != 0xFFFFFF) {
        ++changed;
        ASSERT_EQ(p.CompositeImage.GetPixel(x, y), want) << x << "," << y;
      }
    }
  }
  EXPECT_GT(changed, 20);

  const TRect r = p.StrokeEnd(b, &win);
  EXPECT_FALSE(r.IsEmpty());
  EXPECT_NE(LayerPixels(p, 1), layerBefore);
  EXPECT_EQ(p.Layers->Layers(1)->UndoSteps(), 1);
  // The undo gives back exactly the bytes from before the stroke.
  const TRect u = p.Layers->Undo(1);
  EXPECT_EQ(u, (TRect{std::max(r.Left, 0), std::max(r.Top, 0), std::min(r.Right, 40), std::min(r.Bottom, 30)}));
  p.CompositeRect(u.Left, u.Top, u.Width(), u.Height());
  EXPECT_EQ(LayerPixels(p, 1), layerBefore);
  EXPECT_EQ(CanvasPixels(p.CompositeImage), compositeBefore);
  EXPECT_FALSE(p.Layers->CanUndo(1));
}

TEST(PaperStroke, LineIsOneUndoStepAtFullPressure) {
  TPaper p;
  p.Init("x", 40, 30);
  TStroke b;
  PenBrush(b, 0);
  const auto before = LayerPixels(p, 0);
  p.DrawLine(b, nullptr, 2, 2, 35, 25);
  EXPECT_EQ(p.Layers->Layers(0)->UndoSteps(), 1);
  EXPECT_EQ(p.Layers->LayerImage(0)->GetPixel(18, 13) & 0xFFFFFF, 0x010101u);  // opaque black over white
  p.Layers->Undo(0);
  EXPECT_EQ(LayerPixels(p, 0), before);
}

TEST(PaperStroke, LayerOutsideTheStackPaintsAndCommitsNothing) {
  TPaper p;
  p.Init("x", 20, 20);
  p.Composite();
  TStroke b;
  PenBrush(b, 3);
  TCanvasTarget win(20, 20);
  const auto before = LayerPixels(p, 0);
  p.StrokeBegin(b, 2, 2, 1);
  p.StrokeMove(b, &win, 10, 10, 1);
  EXPECT_EQ(p.StrokeEnd(b, &win), (TRect{0, 0, 0, 0}));
  p.DrawLine(b, &win, 0, 0, 19, 19);
  EXPECT_TRUE(win.Changed.empty());
  EXPECT_EQ(LayerPixels(p, 0), before);
  EXPECT_FALSE(p.Layers->CanUndo(0));
}

TEST(PaperStroke, StrokeRectanglesAreClippedToThePaper) {
  TPaper p;
  p.Init("x", 20, 20);
  p.Composite();
  TStroke b;
  PenBrush(b, 0);
  TCanvasTarget win(30, 30);
  p.CompositeStrokeRect(&win, b, -10, -10, -1, -1);  // wholly left of and above the paper
  p.CompositeStrokeRect(&win, b, 21, 2, 30, 8);      // wholly right of it
  EXPECT_TRUE(win.Changed.empty());
  p.CompositeStrokeRect(&win, b, -5, -5, 3, 4);
  ASSERT_EQ(win.Changed.size(), 1u);
  EXPECT_EQ(win.Changed[0], (TRect{0, 0, 3, 4}));
}

// ---- Whole-paper changes -------------------------------------------------------------------

// A 5 x 3 paper with a patterned multiply layer and an add layer holding one pixel.
void MakeSmall(TPaper& p) {
  p.Init("x", 5, 3);
  PaintPattern(p, 0);
  p.Layers->AddLayer(lkAdd);
  p.Layers->LayerImage(1)->SetPixel(4, 2, 0xFF102030u);
}

TEST(PaperCanvasSize, NineAnchorsGrowingAndShrinking) {
  struct Size {
    int32_t w, h;
  };
  for (const Size s : {Size{9, 7}, Size{3, 2}, Size{6, 3}}) {
    for (int32_t anchor = 0; anchor <= 9; ++anchor) {
      TPaper p;
      MakeSmall(p);
      ASSERT_TRUE(p.ChangeCanvasSize(s.w, s.h, anchor));
      ASSERT_EQ(p.Width(), s.w);
      ASSERT_EQ(p.Height(), s.h);
      const int32_t cw = s.w / 2 - 5 / 2, ch = s.h / 2 - 3 / 2;
      const int32_t col = anchor > 8 ? 0 : anchor % 3, row = anchor > 8 ? 0 : anchor / 3;
      const int32_t dx = col == 0 ? 0 : col == 1 ? cw : s.w - 5;
      const int32_t dy = row == 0 ? 0 : row == 1 ? ch : s.h - 3;
      for (int32_t y = 0; y < s.h; ++y) {
        for (int32_t x = 0; x < s.w; ++x) {
          const int32_t ox = x - dx, oy = y - dy;
          const bool inside = ox >= 0 && ox < 5 && oy >= 0 && oy < 3;
          ASSERT_EQ(p.Layers->LayerImage(0)->GetPixel(x, y) & 0xFFFFFF,
                    inside ? PatternPixel(ox, oy) & 0xFFFFFF : 0xFFFFFFu)
              << s.w << "x" << s.h << " anchor " << anchor << " at " << x << "," << y;
          ASSERT_EQ(p.Layers->LayerImage(1)->GetPixel(x, y) & 0xFFFFFF, (ox == 4 && oy == 2) ? 0x102030u : 0u);
        }
      }
      ASSERT_EQ(p.CompositeImage.Width(), s.w);
    }
  }
}

TEST(PaperCanvasSize, WorkedOffsetsOfLargePapers) {
  struct Case {
    int32_t W, H, w, h, anchor, dx, dy;
  };
  const Case cases[] = {{480, 320, 500, 400, 4, 10, 40}, {480, 320, 500, 400, 8, 20, 80}, {481, 321, 100, 100, 4, -190, -110}};
  for (const Case& c : cases) {
    TPaper p;
    p.Init("x", c.W, c.H);
    p.Layers->LayerImage(0)->SetPixel(200, 150, 0xFF000000u);
    p.ChangeCanvasSize(c.w, c.h, c.anchor);
    EXPECT_EQ(p.Layers->LayerImage(0)->GetPixel(200 + c.dx, 150 + c.dy) & 0xFFFFFF, 0u) << c.anchor;
  }
}

TEST(PaperCanvasSize, KeepsAttributesAndActiveLayer) {
  TPaper p;
  MakeSmall(p);
  p.Layers->SetOpacity(1, 77);
  p.Layers->SetVisible(0, 0);
  p.Layers->SetActiveLayer(0);
  p.ChangeCanvasSize(8, 8, 4);
  EXPECT_EQ(p.Layers->LayerOpacity(1), 77);
  EXPECT_FALSE(p.Layers->LayerVisible(0));
  EXPECT_EQ(p.Layers->LayerKind(1), lkAdd);
  EXPECT_EQ(p.Layers->ActiveIndex(), 0);
  EXPECT_EQ(p.Selection->Width(), 8);
}

// The 4 x 4 resampling written out plainly.
std::vector<uint32_t> Resample4x4(const std::vector<uint32_t>& src, int32_t W, int32_t H, int32_t w, int32_t h) {
  const int64_t fx = TruncInt(static_cast<ext_t>(W) / w * 1024), fy = TruncInt(static_cast<ext_t>(H) / h * 1024);
  const int64_t sx = TruncInt(static_cast<ext_t>(W) / w / 4 * 1024), sy = TruncInt(static_cast<ext_t>(H) / h / 4 * 1024);
  std::vector<uint32_t> out;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      uint32_t sum[4] = {};
      for (int32_t j = 0; j < 4; ++j) {
        for (int32_t i = 0; i < 4; ++i) {
          const int32_t px = std::min<int64_t>((fx * x + sx * i) >> 10, W - 1);
          const int32_t py = std::min<int64_t>((fy * y + sy * j) >> 10, H - 1);
          const uint32_t v = src[static_cast<size_t>(py) * W + px];
          for (int k = 0; k < 4; ++k) sum[k] += (v >> (8 * k)) & 0xFF;
        }
      }
      uint32_t v = 0;
      for (int k = 0; k < 4; ++k) v |= (sum[k] / 16) << (8 * k);
      out.push_back(v);
    }
  }
  return out;
}

TEST(PaperResolution, MatchesThePlainResampling) {
  struct Size {
    int32_t w, h;
  };
  for (const Size s : {Size{2, 2}, Size{13, 7}, Size{4, 3}}) {
    TPaper p;
    MakeSmall(p);
    const auto before = LayerPixels(p, 0);
    p.ChangeResolution(s.w, s.h);
    ASSERT_EQ(p.Width(), s.w);
    EXPECT_EQ(LayerPixels(p, 0, 0xFFFFFF), [&] {
      auto v = Resample4x4(before, 5, 3, s.w, s.h);
      for (auto& x : v) x &= 0xFFFFFF;
      return v;
    }()) << s.w << "x" << s.h;
  }
}

TEST(PaperRotate, QuarterTurnsMapPixelsAndSwapSides) {
  TPaper p;
  MakeSmall(p);
  const auto start0 = LayerPixels(p, 0), start1 = LayerPixels(p, 1);
  p.Rotate90(1);
  ASSERT_EQ(p.Width(), 3);
  ASSERT_EQ(p.Height(), 5);
  // Clockwise: (x, y) goes to (H - 1 - y, x).
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 5; ++x)
      ASSERT_EQ(p.Layers->LayerImage(0)->GetPixel(3 - 1 - y, x), start0[static_cast<size_t>(y) * 5 + x]);
  p.Rotate90(0);
  EXPECT_EQ(p.Width(), 5);
  EXPECT_EQ(LayerPixels(p, 0), start0);
  EXPECT_EQ(LayerPixels(p, 1), start1);
  for (int k = 0; k < 4; ++k) p.Rotate90(1);
  EXPECT_EQ(LayerPixels(p, 0), start0);
  EXPECT_EQ(LayerPixels(p, 1), start1);
}

TEST(PaperRotate, ViewerModeLeavesThumbnailsUndrawn) {
  for (uint8_t viewer : {0, 1}) {
    TPaper p;
    MakeSmall(p);
    p.Layers->FillRect(0, 0, 0, 5, 3, 0x000000);
    p.SetViewerMode(viewer);
    p.Rotate90(1);
    const TTC& thumb = *p.Layers->LayerThumbnail(0);
    EXPECT_LT(thumb.Width(), thumb.Height());  // resized for the new aspect either way
    bool dark = false;
    for (int32_t y = 0; y < thumb.Height(); ++y)
      for (int32_t x = 0; x < thumb.Width(); ++x) dark |= (thumb.GetPixel(x, y) & 0xFFFFFF) != 0xFFFFFF;
    EXPECT_EQ(dark, viewer == 0) << "viewer mode " << int{viewer};
  }
}

}  // namespace
