#pragma once
// The environment dialog and the small group of settings it keeps from start to exit: the
// JPEG save quality (edited here), a grid width and the tablet correction values (only
// carried between the settings store and the program).
#include <QDialog>
#include <cstdint>

class QLabel;
class QPushButton;
class QSlider;

class TEnvWindow : public QDialog {
  Q_OBJECT
 public:
  explicit TEnvWindow(QWidget* owner = nullptr);
  ~TEnvWindow() override;

  QLabel* LabelJpeg;
  QSlider* TrackBarJpeg;
  QLabel* Label2;
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;

  int32_t GridWidth = 25;
  int32_t JpegQuality = 80;
  bool TabletCorrect = false;
  int32_t TabletCorrectX = 0;
  int32_t TabletCorrectY = 0;
  int32_t TabletCorrectWidth = 100;
  int32_t TabletCorrectHeight = 100;

  // The area the tablet context is opened with: the correction values when TabletCorrect is
  // on, else 0, 0, 100, 100.
  void TabletArea(int32_t& x, int32_t& y, int32_t& width, int32_t& height) const;

 public slots:
  void FormCreate();
  void FormActivate();
  void TrackBarJpegChange();
  void BitBtn1Click();
  // Writes the seven values to the settings (at exit).
  void FormDestroy();

 protected:
  void showEvent(QShowEvent* e) override;
};

extern TEnvWindow* EnvWindow;

// The JPEG quality of saves: the dialog's, or 80 without it.
int32_t JpegSaveQuality();
