#pragma once
// The brush window: four brush icons with five preset tabs each, a save button, a preview of
// the brush size at the active paper's zoom, sliders for MIN, WIDTH, EFFECT, ENV and SPEED, a
// pressure-correction graph and three pressure/edge switches. It always edits the main
// window's current brush; controls the brush's kind does not use are dimmed and inert.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/TrueCnvs.h"
#include "engine/Types.h"
#include "platform/qt/ToolWindow.h"

class QTimer;
class TMousePaintBox;
class TMyBarImage;
class TOnOffClickImage;
class TStroke;
struct TPenArt;

// A value as the brush window's captions show it: 3 significant digits, exact halves rounded
// away from zero, trailing zeros dropped, "." as separator, an exponent only below 0.0001.
std::string GeneralFormat3(ext_t v);

class TPenWindow2 : public plat::TToolWindow {
  Q_OBJECT
  // The language switch sets the prefix of every caption through this property.
  Q_PROPERTY(QString CaptionPrefix READ CaptionPrefixText WRITE SetCaptionPrefix)

 public:
  explicit TPenWindow2(QWidget* owner = nullptr);
  ~TPenWindow2() override;

  TMousePaintBox* PaintBox1 = nullptr;
  QTimer* IncTimer = nullptr;
  QTimer* AlphaTimer = nullptr;

  std::string CaptionPrefix;
  QString CaptionPrefixText() const { return QString::fromStdString(CaptionPrefix); }
  // The caption takes a new prefix at once.
  void SetCaptionPrefix(const QString& s);
  TTCDC BackBuffer{200, 128};
  TTCDC FadeSnapshot{168, 128};
  bool Fading = false;
  uint32_t FadeStart = 0;
  TTCDC Preview{78, 80};
  TTCDC GammaGraph{80, 80};
  TTCDC GammaThumb{45, 45};
  float CachedGamma = -1;
  std::array<int32_t, 4> PresetTabs{};
  bool OldBlur = false;
  std::unique_ptr<TOnOffClickImage> SizeToggle, TransToggle, EdgeToggle;
  std::unique_ptr<TMyBarImage> MinBar, WidthBar, EffectBar, EnvBar, SpeedBar;
  bool DragMin = false, DragWidth = false, DragGamma = false, DragEffect = false, DragEnv = false,
       DragSpeed = false;
  bool Repeating = false;
  uint8_t RepeatKind = 0;
  uint32_t RepeatStart = 0;
  bool SavePressed = false;
  int32_t LastX = 0, LastY = 0;

  // The brush icon that shows a kind: both blurs share icon 2; other kinds are their own icon
  // (a kind outside 0..4 gives no icon 0..3, which SelectBrush ignores).
  static int32_t IconOfKind(int32_t kind);
  // Repaints the window for the brush; with `caption` the caption follows its kind.
  void Redraw(TStroke& brush, bool caption);
  // Makes icon 0..3 (pen, watercolour, blur, eraser) the current brush with the icon's
  // selected preset; other values change nothing. The caller repaints.
  void SelectBrush(int32_t icon);
  void UpdateCaption(TStroke& brush);
  // The selected tab of the current brush's icon; NextPreset and PrevPreset move it round.
  int32_t PresetIndex() const;
  int32_t NextPreset();
  int32_t PrevPreset();
  void SetDefaultPosition();

 public slots:
  void FormPaint();
  void IncTimerTimer();
  void AlphaTimerTimer();

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void PaintBox1MouseDown(Qt::MouseButton button, int32_t x, int32_t y);
  void PaintBox1MouseMove(int32_t x, int32_t y);
  void PaintBox1MouseUp();
  void PaintBox1DblClick(int32_t x, int32_t y);
  // The brush the mouse may change now: none in playback, during a stroke or without one.
  TStroke* EditableBrush() const;
  void SetCaption(const std::string& text);
  void ArrowStep(TStroke& c, uint8_t kind, bool tick);
  void DrawGammaGraph(float gamma);

  std::unique_ptr<TPenArt> art_;
};

extern TPenWindow2* PenWindow2;
