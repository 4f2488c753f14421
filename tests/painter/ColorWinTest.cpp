// The colour window: pickers, the square's colours, stock colours and their settings.
#include <QTest>

#include "ToolWinFixture.h"
#include "painter/ColorWin.h"
#include "painter/MousePaintBox.h"
#include "platform/core/Settings.h"

namespace {

using ColorWin = ToolWinFixture;

TEST(ColorSquare, FindColorGivesTheNearestPickerPosition) {
  struct Case {
    uint32_t Colour;
    TColorPosition Expected;
  };
  const Case cases[] = {
      {0xFF0000, {0, 127, 0}},  {0xFFFFFF, {0, 0, 0}},  {0x000000, {0, 0, 127}}, {0x0000FF, {42, 127, 1}},
      {0x00FF00, {86, 127, 1}}, {0x858585, {0, 2, 60}}, {0xD0D0D0, {0, 0, 23}},
  };
  for (const Case& c : cases) {
    const TColorPosition p = FindColorPosition(c.Colour);
    EXPECT_EQ(p, c.Expected) << std::hex << c.Colour << std::dec << " gave " << p.HueRow << ", " << p.SquareX << ", "
                             << p.SquareY;
  }
}

TEST(ColorSquare, HueStripRowsFollowTheirRamps) {
  EXPECT_EQ(HueStripColor(0), 0xFF0000u);
  EXPECT_EQ(HueStripColor(19), 0xFF00FBu);
  EXPECT_EQ(HueStripColor(20), 0xF700FFu);
  EXPECT_EQ(HueStripColor(42), 0x0400FFu);
  EXPECT_EQ(HueStripColor(43), 0x0008FFu);
  EXPECT_EQ(HueStripColor(63), 0x00FFFDu);
  EXPECT_EQ(HueStripColor(86), 0x02FF00u);
  EXPECT_EQ(HueStripColor(108), 0xFFFA00u);
  EXPECT_EQ(HueStripColor(127), 0xFF0E00u);
}

TEST_F(ColorWin, SquareCornersAndAStrokeRecordThePickedColour) {
  TDrawWindow* w = MakePaper(480, 320);
  TStroke& brush = *VLMain->Stroke;
  struct Case {
    QPoint At;
    uint32_t Colour;
  };
  const Case cases[] = {{{0, 0}, 0x00FFFFFFu}, {{0, 127}, 0u}, {{127, 0}, 0xFFFF0202u}};
  for (const Case& c : cases) {
    Click(ColorWindow->PaintBox1, c.At.x(), c.At.y());
    EXPECT_EQ(brush.Color, c.Colour) << c.At.x() << "," << c.At.y();
  }
  // The swatch shows the picked colour over the paper colour.
  EXPECT_EQ(ColorWindow->SwatchSurface().GetPixel(20, 12) & 0xFFFFFF, 0xFF0202u);
  EXPECT_EQ(ColorWindow->SwatchSurface().GetPixel(2, 2) & 0xFFFFFF, 0xFFFFFFu);

  const int32_t mark = Mark(w);
  DrawStroke(w, brush, {{10, 10}, {40, 30}});
  const std::vector<uint8_t> rec = Since(w, mark);
  ASSERT_GE(rec.size(), 6u);
  EXPECT_EQ(std::vector<uint8_t>(rec.begin() + 3, rec.begin() + 6), Hex({0xFF, 0x02, 0x02}));

  // A right click stores the brush colour in cell 0; leaving stores it without alpha.
  Click(ColorWindow->PaintBox3, 5, 5, Qt::RightButton);
  ColorWindow->FormDestroy();
  plat::TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kVelloraKey, false));
  EXPECT_EQ(reg.ReadInteger("PaletteRGB1").value_or(-1), 16712194);
}

TEST_F(ColorWin, DraggingOutOfTheSquareKeepsTheEdgePixel) {
  MakePaper(64, 64);
  TStroke& brush = *VLMain->Stroke;
  QWidget* box = ColorWindow->PaintBox1;
  Press(box, 60, 60);
  Move(box, 400, -50);
  EXPECT_EQ(ColorWindow->SquareX, 127);
  EXPECT_EQ(ColorWindow->SquareY, 0);
  EXPECT_EQ(brush.Color, 0xFFFF0202u);
  Release(box, 400, -50);
  EXPECT_FALSE(ColorWindow->SquareDragging);

  // The hue strip drags the same way and repaints the square with its hue.
  Press(ColorWindow->PaintBox2, 5, 30);
  Move(ColorWindow->PaintBox2, 5, 42);
  Release(ColorWindow->PaintBox2, 5, 42);
  EXPECT_EQ(ColorWindow->HueRow, 42);
  EXPECT_EQ(brush.Color & 0xFFFFFF, ColorWindow->SquareSurface().GetPixel(127, 0) & 0xFFFFFF);
  EXPECT_EQ(brush.Color & 0xFFFFFF, 0x0602FFu);
}

TEST_F(ColorWin, StockColoursLoadStoreAndPick) {
  // A value left with an alpha byte by another program is written back without it.
  DestroyForms();
  {
    plat::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kVelloraKey, true));
    reg.WriteInteger("PaletteRGB3", static_cast<int32_t>(0xFF123456u));
  }
  CreateForms();
  EXPECT_EQ(ColorWindow->Stock[1], 0x858585u);
  EXPECT_EQ(ColorWindow->Stock[16], 0xD0D0D0u);
  Click(ColorWindow->PaintBox3, 30, 90, Qt::LeftButton);
  EXPECT_EQ(VLMain->Stroke->Color, 0xD0D0D0u);
  EXPECT_EQ((TColorPosition{ColorWindow->HueRow, ColorWindow->SquareX, ColorWindow->SquareY}),
            (TColorPosition{0, 0, 23}));
  // Right click on the right column stores in cells 9..16.
  VLMain->Stroke->SetColor(0xFF00AA11u);
  Click(ColorWindow->PaintBox3, 25, 13, Qt::RightButton);
  EXPECT_EQ(ColorWindow->Stock[10], 0x00AA11u);
  EXPECT_EQ(ColorWindow->StockSurface().GetPixel(30, 18) & 0xFFFFFF, 0x00AA11u);
  ColorWindow->FormDestroy();
  plat::TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kVelloraKey, false));
  EXPECT_EQ(reg.ReadInteger("PaletteRGB3").value_or(-1), 0x123456);
  EXPECT_EQ(reg.ReadInteger("PaletteRGB10").value_or(-1), 0x00AA11);
}

TEST_F(ColorWin, NoPickWhileAStrokeIsOpen) {
  TDrawWindow* w = MakePaper(120, 80);
  TStroke& brush = *VLMain->Stroke;
  brush.SetColor(0x203040);
  DrawStroke(w, brush, {{10, 10}, {50, 40}}, false);
  const int32_t hue = ColorWindow->HueRow, sx = ColorWindow->SquareX;
  Click(ColorWindow->PaintBox1, 127, 0, Qt::LeftButton);
  Click(ColorWindow->PaintBox2, 5, 80, Qt::LeftButton);
  Click(ColorWindow->PaintBox3, 5, 5, Qt::LeftButton);
  Click(ColorWindow->PaintBox3, 5, 5, Qt::RightButton);
  EXPECT_EQ(brush.Color, 0x203040u);
  EXPECT_EQ(ColorWindow->HueRow, hue);
  EXPECT_EQ(ColorWindow->SquareX, sx);
  EXPECT_EQ(ColorWindow->Stock[1], 0x858585u);
  EndStroke(w, brush, {50, 40});
  EXPECT_TRUE(ReplayMatches(w));
}

}  // namespace

namespace {

TEST_F(ColorWin, PlaceIsKeptAndTheDefaultSitsAboveTheBrushWindow) {
  ColorWindow->SetDefaultPosition();
  EXPECT_EQ(ColorWindow->frameGeometry().bottom() + 1, PenWindow2->frameGeometry().top());
  ColorWindow->move(12, 34);
  DestroyForms();
  CreateForms();
  EXPECT_EQ(ColorWindow->pos(), QPoint(12, 34));
}

}  // namespace
