#pragma once
// The colour window: a hue strip, a square from white through the hue to black, a swatch of
// the current colour over the paper colour, and 16 stock colours. Every pick sets the current
// brush's colour; other parts move the pickers with FindColor and repaint with Redraw.
#include <array>
#include <cstdint>

#include "engine/TrueCnvs.h"
#include "platform/qt/ToolWindow.h"

class TMousePaintBox;

constexpr int32_t kColorSquareSide = 128;
constexpr int32_t kStockColors = 16;

// The colour of hue strip row 0..127 (0x00RRGGBB; rows outside are clamped).
uint32_t HueStripColor(int32_t row);
// The square of `side` x `side` pixels for a hue: row 0 from white towards the hue at alpha
// step x column, every lower row y from black towards its row-0 pixel at 255 - step x y.
void BuildColorSquare(TTC& square, int32_t side, int32_t step, uint32_t hue);

struct TColorPosition {
  int32_t HueRow = 0, SquareX = 0, SquareY = 0;
  friend bool operator==(const TColorPosition&, const TColorPosition&) = default;
};
// The picker position whose colour is nearest to the colour: the hue row by a coarse search
// over 16 x 16 miniature squares, then the pixel of that row's full square.
TColorPosition FindColorPosition(uint32_t colour);

class TColorWindow : public plat::TToolWindow {
  Q_OBJECT
 public:
  explicit TColorWindow(QWidget* owner = nullptr);
  ~TColorWindow() override;

  TMousePaintBox* PaintBox1 = nullptr;  // colour square
  TMousePaintBox* PaintBox2 = nullptr;  // hue strip
  TMousePaintBox* PaintBox3 = nullptr;  // stock colours
  TMousePaintBox* PaintBox4 = nullptr;  // current colour swatch

  int32_t HueRow = 0;
  int32_t SquareX = 0;
  int32_t SquareY = 127;
  bool SquareDragging = false;
  bool StripDragging = false;
  // Stock[1..16]; entry 0 unused.
  std::array<uint32_t, kStockColors + 1> Stock{};

  // Repaints everything; returns the picked colour. The swatch shows the picked colour when
  // fromSquare is set, else the given one.
  uint32_t Redraw(bool fromSquare, uint32_t colour);
  // Moves the pickers to the nearest colour; does not repaint.
  void FindColor(uint32_t colour);
  void SetDefaultPosition();
  // Writes the place and the stock colours to the settings (also on destruction).
  void FormDestroy();

  // The surfaces as last drawn.
  const TTCDC& StripSurface() const { return strip_; }
  const TTCDC& SquareSurface() const { return square_; }
  const TTCDC& StockSurface() const { return stock_; }
  const TTCDC& SwatchSurface() const { return swatch_; }

 public slots:
  void FormPaint();

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void PaintBox1MouseDown(Qt::MouseButton button, int32_t x, int32_t y);
  void PaintBox1MouseMove(int32_t x, int32_t y);
  void PaintBox2MouseDown(Qt::MouseButton button, int32_t y);
  void PaintBox2MouseMove(int32_t y);
  void PaintBox3MouseDown(Qt::MouseButton button, int32_t x, int32_t y);
  void PickFromSquare(int32_t x, int32_t y);
  void PickFromStrip(int32_t y);
  // A pick may change the brush only outside a stroke.
  bool CanPick() const;

  TTCDC stripPicture_{20, 128};
  TTCDC strip_{20, 128};
  TTCDC square_{kColorSquareSide, kColorSquareSide};
  TTCDC stock_{40, 96};
  TTCDC swatch_{40, 25};
  TTCDC hueMarker_{6, 11};
  TTCDC squareMarker_{11, 11};
};

extern TColorWindow* ColorWindow;
