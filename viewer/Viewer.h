#pragma once
// The viewer's playback window: opens event files into a fresh paper, plays them from the
// idle loop one event (or stroke point) per step, shows the progress in the caption, waits
// between files and moves on through the list, endlessly; zoom, scroll bars and hand-drag
// scrolling. It also holds the list of files that the list window shows.
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/qt/BackBuffer.h"
#include "platform/qt/ScrollBar.h"

class QFileDialog;
class TEventPacket;
class TPaper;
class TStroke;
class TForm2;

namespace plat {
class TWindowClass;
}

class TForm1 : public plat::TBufferedWidget {
  Q_OBJECT
 public:
  static constexpr int kListCapacity = 4097;
  static constexpr int kMaxFolderEntries = 4094;
  static constexpr int kMaxDroppedFiles = 32;

  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Components.
  plat::TQtScrollBar ScrollBar1;
  plat::TQtScrollBar ScrollBar2;
  QTimer* Timer1;
  QFileDialog* OpenDialog1;
  // Stands for the application's idle hook: a zero-interval timer that runs while there is
  // something to do.
  QTimer* IdleTimer;
  // The list window beside this one (set when it is created).
  TForm2* Form2 = nullptr;

  std::unique_ptr<TPaper> Paper;
  std::unique_ptr<TStroke> Brush;
  std::unique_ptr<TEventPacket> Packet;
  uint8_t Playing = 0;
  uint8_t HandDragging = 0;
  int32_t DragLast[2] = {0, 0};
  uint32_t PlayStart = 0;
  std::vector<std::string> Paths;
  std::vector<int64_t> Dates;  // last-write times, milliseconds since the epoch
  int32_t FileCount = 0;
  int32_t FileIndex = 0;
  uint32_t LastSlowTick = 0;
  uint8_t WaitingNext = 0;
  uint32_t EndTime = 0;

  // The one way a file is started; nothing while a file is playing.
  void OpenEventFile(const std::string& path);
  // Makes `path` a one-entry list and plays it from the start.
  void OpenSingleFile(const std::string& path);
  bool ScanFolder(const std::string& folder);
  void SortByDate();
  void SortByName();
  void RedrawPaper();
  void RefitView(bool fit);
  void LayoutScrollBars();
  void UpdateView();
  void FillBackground(int x, int y, int w, int h);
  // One step of the idle loop.
  void AppIdle();
  // Tests drive the idle loop by hand; the program lets the timer run it.
  void EnableIdleLoop(bool on);

  // Messages.
  void WMDropFiles(const std::vector<std::string>& paths);
  int64_t WMCopyData(const std::string& data);

 public slots:
  void FormResize();
  void FormPaint();
  void FormKeyDown(int key);
  void FormKeyUp(int key);
  void FormMouseDown(Qt::MouseButton button);
  void FormMouseUp();
  void FormDblClick();
  void ScrollBar1Scroll();
  void ScrollBar2Scroll();
  void Timer1Timer();

 protected:
  void RepaintBuffer() override;
  void resizeEvent(QResizeEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  bool WindowIsNormal() const;
  void FitToPaper();
  void SelectInList(int index);
  void ShowCorruptFile(const std::string& path);
  // Caption := the paper's caption + tail (the progress); at most every few ms unless forced.
  void SetProgressCaption(const std::string& tail, bool force);
  void ScheduleIdle();
  void SortList(bool byName);

  std::unique_ptr<plat::TWindowClass> windowClass_;
  bool idleLoop_ = true;
  uint32_t lastCaptionTick_ = 0;
  // What the caption tells after the paper's own caption (progress or end of the file).
  std::string captionTail_;
};
