#include "painter/ColorWin.h"

#include <QShowEvent>
#include <algorithm>
#include <cmath>
#include <string>

#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "painter/Main.h"
#include "painter/MousePaintBox.h"
#include "painter/PenWin2.h"
#include "painter/ToolWinShared.h"
#include "platform/core/Settings.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/Placement.h"

TColorWindow* ColorWindow = nullptr;

namespace {

// The hue strip: six ramps; each row is one colour (R, G, B).
struct THueRamp {
  int32_t First, Last;
  int8_t R, G, B;  // fixed value 0 or 255, or -1 for the changing component
  const uint8_t* Values;
};
constexpr uint8_t kRamp0[] = {0, 12, 25, 39, 52, 65, 78, 92, 105, 118, 131, 145, 158, 171, 185, 198, 211, 224, 238, 251};
constexpr uint8_t kRamp1[] = {247, 236, 225, 214, 203, 192, 181, 170, 159, 148, 137, 126,
                              115, 104, 92,  81,  70,  59,  48,  37,  26,  15,  4};
constexpr uint8_t kRamp2[] = {8, 21, 33, 45, 58, 70, 83, 95, 108, 120, 133, 145, 157, 170, 182, 195, 207, 220, 232, 245};
constexpr uint8_t kRamp3[] = {253, 242, 231, 220, 209, 198, 187, 176, 164, 153, 142, 131,
                              120, 109, 98,  87,  76,  65,  54,  43,  32,  21,  10};
constexpr uint8_t kRamp4[] = {2,   14,  25,  37,  49,  60,  72,  84,  95,  107, 119,
                              130, 142, 154, 165, 177, 189, 201, 212, 224, 236, 247};
constexpr uint8_t kRamp5[] = {250, 238, 225, 213, 201, 188, 176, 163, 151, 138, 126, 114, 101, 89, 76, 64, 51, 39, 26, 14};
// Fixed components: 1 = 255, 0 = 0, -1 = taken from the ramp.
constexpr THueRamp kRamps[] = {
    {0, 19, 1, 0, -1, kRamp0},   {20, 42, -1, 0, 1, kRamp1},   {43, 62, 0, -1, 1, kRamp2},
    {63, 85, 0, 1, -1, kRamp3},  {86, 107, -1, 1, 0, kRamp4},  {108, 127, 1, -1, 0, kRamp5},
};

// Marker pictures: K black, W white, '.' the transparent key.
constexpr const char* kHueMarker[11] = {".....K", "....KK", "...KWK", "..KW.K", ".KW..K", "KW...K",
                                        ".KW..K", "..KW.K", "...KWK", "....KK", ".....K"};
constexpr const char* kSquareMarker[11] = {"...KKKKK...", "..KWWWWWK..", ".KW.....WK.", "KW.......WK",
                                           "KW.......WK", "KW.......WK", "KW.......WK", "KW.......WK",
                                           ".KW.....WK.", "..KWWWWWK..", "...KKKKK..."};
constexpr uint32_t kMarkerKey = 0x0000FF;
constexpr uint8_t kMarkerOpacity = 180;

void LoadPicture(TTC& canvas, const char* const* rows) {
  for (int32_t y = 0; y < canvas.Height(); ++y)
    for (int32_t x = 0; x < canvas.Width(); ++x) {
      const char c = rows[y][x];
      canvas.SetPixel(x, y, c == 'K' ? 0xFF000000u : c == 'W' ? 0xFFFFFFFFu : 0xFF000000u | kMarkerKey);
    }
}

std::string PaletteName(int n) { return "PaletteRGB" + std::to_string(n); }

// Squared distance of two colours' R, G, B.
int32_t Distance2(uint32_t a, uint32_t b) {
  const int32_t dr = int32_t((a >> 16) & 255) - int32_t((b >> 16) & 255);
  const int32_t dg = int32_t((a >> 8) & 255) - int32_t((b >> 8) & 255);
  const int32_t db = int32_t(a & 255) - int32_t(b & 255);
  return dr * dr + dg * dg + db * db;
}

}  // namespace

uint32_t HueStripColor(int32_t row) {
  row = std::clamp(row, 0, kColorSquareSide - 1);
  for (const THueRamp& r : kRamps) {
    if (row < r.First || row > r.Last) continue;
    const uint32_t v = r.Values[row - r.First];
    auto part = [v](int8_t fixed) { return fixed < 0 ? v : fixed ? 255u : 0u; };
    return (part(r.R) << 16) | (part(r.G) << 8) | part(r.B);
  }
  return 0;
}

void BuildColorSquare(TTC& square, int32_t side, int32_t step, uint32_t hue) {
  square.SetSize(side, side);
  square.Fill(0xFF000000u);
  for (int32_t x = 0; x < side; ++x) square.SetPixel(x, 0, 0xFFFFFFFFu);
  for (int32_t x = 0; x < side; ++x) square.BlendPixel(x, 0, hue, static_cast<uint8_t>(step * x));
  for (int32_t x = 0; x < side; ++x) {
    const uint32_t top = square.GetPixel(x, 0);
    for (int32_t y = 1; y < side; ++y) square.BlendPixel(x, y, top, static_cast<uint8_t>(255 - step * y));
  }
}

TColorPosition FindColorPosition(uint32_t colour) {
  TColorPosition pos;
  TTC mini(16, 16);
  float best = 9999999.0f;
  for (int32_t i = 0; i < kColorSquareSide; ++i) {
    BuildColorSquare(mini, 16, 16, HueStripColor(i));
    for (int32_t j = 0; j < 16; ++j)
      for (int32_t k = 0; k < 16; ++k) {
        const float d = std::sqrt(static_cast<float>(Distance2(mini.GetPixel(j, k), colour)));
        if (d < best) {
          best = d;
          pos.HueRow = i;
        }
      }
  }
  TTC square(kColorSquareSide, kColorSquareSide);
  BuildColorSquare(square, kColorSquareSide, 2, HueStripColor(pos.HueRow));
  int32_t best2 = INT32_MAX;
  for (int32_t x = 0; x < kColorSquareSide; ++x)
    for (int32_t y = 0; y < kColorSquareSide; ++y) {
      const int32_t d = Distance2(square.GetPixel(x, y), colour);
      if (d < best2) {
        best2 = d;
        pos.SquareX = x;
        pos.SquareY = y;
      }
    }
  return pos;
}

TColorWindow::TColorWindow(QWidget* owner) : plat::TToolWindow(owner) {
  setObjectName("ColorWindow");
  setWindowTitle(QString::fromUtf8("カラーパレット"));
  setFixedSize(202, 129);
  PaintBox3 = new TMousePaintBox(this, "PaintBox3", 4, 2, 40, 96);
  PaintBox3->setToolTip(QString::fromUtf8(
      "良く使う色を保存出来ます。左クリックで取り出し、右クリックで現在の色をストック出来ます。"));
  PaintBox4 = new TMousePaintBox(this, "PaintBox4", 4, 100, 40, 25);
  PaintBox4->setToolTip(QString::fromUtf8("現在選択されている色です。"));
  PaintBox1 = new TMousePaintBox(this, "PaintBox1", 49, 0, 128, 128);
  PaintBox2 = new TMousePaintBox(this, "PaintBox2", 181, 0, 20, 128);

  PaintBox1->OnMouseDown = [this](Qt::MouseButton b, Qt::KeyboardModifiers, int32_t x, int32_t y) {
    PaintBox1MouseDown(b, x, y);
  };
  PaintBox1->OnMouseMove = [this](Qt::KeyboardModifiers, int32_t x, int32_t y) { PaintBox1MouseMove(x, y); };
  PaintBox1->OnMouseUp = [this](Qt::MouseButton, Qt::KeyboardModifiers, int32_t, int32_t) {
    SquareDragging = false;
  };
  PaintBox2->OnMouseDown = [this](Qt::MouseButton b, Qt::KeyboardModifiers, int32_t, int32_t y) {
    PaintBox2MouseDown(b, y);
  };
  PaintBox2->OnMouseMove = [this](Qt::KeyboardModifiers, int32_t, int32_t y) { PaintBox2MouseMove(y); };
  PaintBox2->OnMouseUp = [this](Qt::MouseButton, Qt::KeyboardModifiers, int32_t, int32_t) {
    StripDragging = false;
  };
  PaintBox3->OnMouseDown = [this](Qt::MouseButton b, Qt::KeyboardModifiers, int32_t x, int32_t y) {
    PaintBox3MouseDown(b, x, y);
  };

  for (int n = 1; n <= kStockColors; ++n) Stock[n] = 0x808080u + uint32_t(n) * 0x050505u;
  {
    plat::TRegistry reg;
    if (reg.OpenKey(kVelloraKey, true))
      for (int n = 1; n <= kStockColors; ++n)
        if (auto v = reg.ReadInteger(PaletteName(n))) Stock[n] = static_cast<uint32_t>(*v);
  }
  SetDefaultPosition();
  LoadPlace(kVelloraKey, "ColorX", "ColorY");

  for (int32_t y = 0; y < stripPicture_.Height(); ++y)
    for (int32_t x = 0; x < stripPicture_.Width(); ++x) stripPicture_.SetPixel(x, y, 0xFF000000u | HueStripColor(y));
  LoadPicture(hueMarker_, kHueMarker);
  LoadPicture(squareMarker_, kSquareMarker);
  Redraw(true, 0);
}

TColorWindow::~TColorWindow() {
  FormDestroy();
  if (ColorWindow == this) ColorWindow = nullptr;
}

void TColorWindow::FormDestroy() {
  SavePlace(kVelloraKey, "ColorX", "ColorY");
  plat::TRegistry reg;
  if (!reg.OpenKey(kVelloraKey, true)) return;
  for (int n = 1; n <= kStockColors; ++n) reg.WriteInteger(PaletteName(n), static_cast<int32_t>(Stock[n] & 0xFFFFFFu));
}

void TColorWindow::SetDefaultPosition() {
  const int brushHeight = PenWindow2 ? plat::OuterSize(PenWindow2).height() : 0;
  const QSize outer = plat::OuterSize(this);
  move(plat::GetSystemMetrics(plat::SM_CXFULLSCREEN) - outer.width(),
       plat::ToolAreaHeight() - brushHeight - outer.height());
}

uint32_t TColorWindow::Redraw(bool fromSquare, uint32_t colour) {
  stripPicture_.CopyTo(strip_, 0, 0);
  const uint32_t hue = strip_.GetPixel(19, HueRow);
  hueMarker_.CompositeTo(strip_, 0, HueRow - 5, kMarkerKey, kMarkerOpacity);
  PaintBox2->Show(strip_);

  BuildColorSquare(square_, kColorSquareSide, 2, hue);
  uint32_t picked;
  if (SquareX == 0 && SquareY == 0)
    picked = 0x00FFFFFFu;
  else if (SquareX == 0 && SquareY == 127)
    picked = 0;
  else
    picked = square_.GetPixel(SquareX, SquareY);
  squareMarker_.CompositeTo(square_, SquareX - 5, SquareY - 5, kMarkerKey, kMarkerOpacity);
  PaintBox1->Show(square_);

  const TPaper* paper = toolwin::ActivePaper();
  swatch_.Fill(paper ? paper->Layers->PaperColor() | 0xFF000000u : 0xFFFFFFFFu);
  swatch_.DrawDisc(fromSquare ? picked : colour, false, 20, 12, 10, 1);
  swatch_.DrawRect(0, 0, 40, 25, 0xFF606060u);
  PaintBox4->Show(swatch_);

  for (int32_t i = 0; i < kStockColors; ++i) {
    const int32_t x = i < 8 ? 0 : 20, y = 12 * (i % 8);
    stock_.FillRect(x, y, 20, 12, Stock[i + 1] | 0xFF000000u);
    stock_.DrawLine(0xFF202020u, false, float(x), float(y), float(x + 19), float(y));
  }
  stock_.DrawLine(0xFF202020u, false, 0, 0, 0, 95);
  stock_.DrawLine(0xFF202020u, false, 39, 0, 39, 95);
  stock_.DrawLine(0xFF202020u, false, 19, 0, 19, 95);
  stock_.DrawLine(0xFF202020u, false, 0, 95, 39, 95);
  PaintBox3->Show(stock_);
  return picked;
}

void TColorWindow::FindColor(uint32_t colour) {
  const TColorPosition p = FindColorPosition(colour);
  HueRow = p.HueRow;
  SquareX = p.SquareX;
  SquareY = p.SquareY;
}

void TColorWindow::FormPaint() {
  const TStroke* brush = toolwin::CurrentBrush();
  Redraw(false, brush ? brush->Color : 0);
}

void TColorWindow::showEvent(QShowEvent* e) {
  plat::TToolWindow::showEvent(e);
  FormPaint();
}

bool TColorWindow::CanPick() const { return toolwin::CurrentBrush() && !toolwin::OwnStrokeOpen(); }

void TColorWindow::PickFromSquare(int32_t x, int32_t y) {
  SquareX = std::clamp(x, 0, 127);
  SquareY = std::clamp(y, 0, 127);
  toolwin::CurrentBrush()->SetColor(Redraw(true, 0));
}

void TColorWindow::PickFromStrip(int32_t y) {
  HueRow = std::clamp(y, 0, 127);
  toolwin::CurrentBrush()->SetColor(Redraw(true, 0));
}

void TColorWindow::PaintBox1MouseDown(Qt::MouseButton, int32_t x, int32_t y) {
  if (!CanPick()) return;
  SquareDragging = true;
  PickFromSquare(x, y);
}

void TColorWindow::PaintBox1MouseMove(int32_t x, int32_t y) {
  if (SquareDragging && CanPick()) PickFromSquare(x, y);
}

void TColorWindow::PaintBox2MouseDown(Qt::MouseButton, int32_t y) {
  if (!CanPick()) return;
  StripDragging = true;
  PickFromStrip(y);
}

void TColorWindow::PaintBox2MouseMove(int32_t y) {
  if (StripDragging && CanPick()) PickFromStrip(y);
}

void TColorWindow::PaintBox3MouseDown(Qt::MouseButton button, int32_t x, int32_t y) {
  if (!CanPick()) return;
  TStroke& brush = *toolwin::CurrentBrush();
  const int32_t row = std::clamp(y, 0, 95) / 12;
  if (button == Qt::LeftButton) {
    const uint32_t colour = x > 19 ? Stock[row + 9] : Stock[row + 1];
    brush.SetColor(colour);
    FindColor(colour);
    Redraw(false, colour);
  } else if (button == Qt::RightButton) {
    (x < 20 ? Stock[row + 1] : Stock[row + 9]) = brush.Color & 0xFFFFFFu;
    Redraw(false, brush.Color);
  }
}
