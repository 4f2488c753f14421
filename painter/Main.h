#pragma once
// The painter's MDI frame: menus, settings, activation, the current brush and the tablet
// binding. Its commands on files, edits, strokes and the update loop live in MainFile.cpp,
// MainEdit.cpp, MainStroke.cpp and MainUpdate.cpp; each keeps its own section below.
#include <QMainWindow>
#include <QPointer>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/Stroke.h"
#include "painter/WinTab32.h"
#include "platform/core/Settings.h"
#include "platform/qt/WindowMessageFrame.h"

class QAction;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QEvent;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QStatusBar;
class QTimer;
namespace plat {
struct TFileDialogRequest;
}
class TDrawWindow;

namespace plat {
class TWindowClass;
}

// Settings key of the painter (the brush presets, tool windows and dialogs use it too).
extern const char* const kVelloraKey;
// Key the sibling lobby program fills before it asks for a network session.
extern const char* const kRoomvaneKey;
// Window class of the sibling lobby program.
extern const char* const kRoomvaneClass;
// Message numbers exchanged with the sibling lobby program.
constexpr uint32_t WM_NETLAUNCH = 0x601;
constexpr uint32_t WM_NETCLOSED = 0x602;

// Full path of the autosave file (in the per-user data folder).
std::string AutosavePath();
// The folder of the executable with a trailing separator.
const std::string& ProgramFolder();
// The first command-line argument handed to the program at start (opened at the first
// activation); tests set it before the first activation.
extern std::optional<std::string> CommandLineFile;
// The brush window's icon of a brush kind: pen, watercolour, blur (both kinds), eraser.
int32_t BrushIconOfKind(int32_t kind);

class TVLMain : public QMainWindow {
  Q_OBJECT
 public:
  explicit TVLMain(QWidget* parent = nullptr);
  ~TVLMain() override;

  // ---- Components --------------------------------------------------------------------------
  QMdiArea* MdiArea = nullptr;
  QStatusBar* StatusBar = nullptr;
  // The autosave's "not being saved" warning, shown while autosaves fail.
  QLabel* AutosaveWarning = nullptr;
  QTimer* UpdateTimer = nullptr;
  QTimer* AntsTimer = nullptr;
  // Stands for the application's idle hook: a precise single-shot timer armed for the next
  // work (see ScheduleStep).
  QTimer* IdleTimer = nullptr;

  QMenu* File1 = nullptr;
  QAction *FileNewItem = nullptr, *FileOpenItem = nullptr, *FileCloseItem = nullptr, *FileSaveItem = nullptr,
          *FileSaveAsItem = nullptr, *FileSaveCopyItem = nullptr, *EventImportItem = nullptr,
          *EventExportItem = nullptr, *EnvWinItem = nullptr, *FileExitItem = nullptr;
  QMenu* Edit1 = nullptr;
  QAction *UndoItem = nullptr, *CopyItem = nullptr, *PasteItem = nullptr, *PaperColorItem = nullptr,
          *VFlipItem = nullptr, *HFlipItem = nullptr, *Rotate180Item = nullptr, *NegaPosiItem = nullptr,
          *RotateRightItem = nullptr, *RotateLeftItem = nullptr, *PaperResizeItem = nullptr,
          *PaperResolutionItem = nullptr;
  QMenu* Show1 = nullptr;
  QAction *ZoomInItem = nullptr, *ZoomOutItem = nullptr, *EventWaitItem = nullptr, *EventStopItem = nullptr,
          *CaptureSaveItem = nullptr;
  QMenu* Window1 = nullptr;
  QAction *WindowCascadeItem = nullptr, *WindowTileItem = nullptr, *WindowArrangeItem = nullptr,
          *WindowMinimizeItem = nullptr, *ShowAllToolItem = nullptr, *DefaultToolPosItem = nullptr,
          *ToolWinItem = nullptr, *ColorWinItem = nullptr, *BrushWinItem = nullptr, *PreviewWinItem = nullptr,
          *LayerWinItem = nullptr;
  QMenu* NetworkItem = nullptr;
  QAction *NetHomepageItem = nullptr, *NetUploadItem = nullptr, *NetLatestItem = nullptr, *NetClientItem = nullptr,
          *NetFinishItem = nullptr;
  QMenu* Help1 = nullptr;
  QAction *N24 = nullptr, *JapaneseItem = nullptr, *EnglishItem = nullptr;

  // ---- Fields ------------------------------------------------------------------------------
  bool EraserSwitched = false;
  uint8_t SavedBrushKind = 0;
  uint32_t LastShownColor = 0;
  uint32_t LastRefresh = 0;
  bool ToolWindowsShown = false;
  bool FirstActivation = true;
  uint32_t LastTabTime = 0;
  uint32_t PlayStart = 0;
  int32_t NextMember = 0;
  bool EventWait = false;
  std::unique_ptr<TStroke> Stroke;
  std::unique_ptr<TWinTab32> Tablet;
  std::unique_ptr<plat::TRegistry> Registry;

  // ---- Shell -------------------------------------------------------------------------------
  // The active paper window; while a tool window has the focus, the last active one. Never a
  // window being torn down.
  TDrawWindow* ActiveDrawWindow() const;
  // Every paper window, in creation order (windows being torn down left out).
  std::vector<TDrawWindow*> DrawWindows() const;
  TDrawWindow* CreateDrawWindow(const std::string& caption);
  void PaperChanged(bool refit);
  void UpdateMenuItems();
  // The Ctrl keys after a tab in their items' captions (again after the captions changed).
  void ShowShortcutLabels();
  // The work of the first activation; runs once.
  void FirstActivate();
  void AppActivate();
  void AppDeactivate();
  void AppHint(const QString& hint);
  int64_t WMCopyData(const std::string& data);
  void WMNetLaunch();
  // Closes every paper window without asking (their teardown runs), then the frame: the
  // program's end once the close was accepted.
  bool CloseAllPapers(bool ask);
  // A web page of the maker; overridable for tests.
  static std::string WebAddress(int page);

  // ---- update loop (MainUpdate.cpp) --------------------------------------------------------
  // Sets up the drivers; the constructor calls it once.
  void InitUpdateLoop();
  // on: the user's side of the loop runs (the application is active). The session's side
  // runs whenever a session paper exists, woken by its sockets and its pace.
  void SetUpdateMode(bool on);
  bool AnyPlaying() const;
  bool AnyNetworkPaper() const;
  // The paper window whose paper is in network mode, if any.
  TDrawWindow* SessionWindow() const;
  void AppIdle();
  void UpdateStep();
  // The session's side of the step alone (the application is not active).
  void SessionPump();
  bool HeldKeysDown() const;
  void NetworkStep(TDrawWindow* w, int32_t ownSlot);
  // Arms IdleTimer for the next moment the loop has something to do (at once, the pace of a
  // replay, the poll of the user's side, a keepalive); stops it when there is nothing. With
  // nothing to do the program sleeps until a socket, a timer or the user wakes it.
  void ScheduleStep();
  // The user's side of the loop runs (SetUpdateMode).
  bool UpdateOn = false;
  // The session's side is driven by its wake-ups; tests that run every step themselves turn
  // it off.
  bool SessionDriverOn = true;
  // A member slot of the session paper has a new occupant: plays the former occupant's
  // whole events left in the slot's recorder, a piece at a time until the deadline; once
  // they are played, logs them, drops a trailing half event, empties the recorder and gives
  // the slot a fresh brush. True when the hand-over is done.
  bool HandOverSlot(TDrawWindow* w, int slot, std::chrono::steady_clock::time_point deadline);
  // The step is running (a modal dialog inside it runs a nested loop that must not step).
  bool InUpdateStep = false;
  // The window whose session connection was lost in this step; closed after the step.
  QPointer<TDrawWindow> LostWindow;
  // Sees each slot's occupant count in the session window (a hand-over on a change).
  void FollowOccupants(TDrawWindow* w, int32_t ownSlot, int32_t memberCount);

 private:
  void StepBody();
  // The session's side of a step: false when the window's connection was lost.
  bool SessionStep(TDrawWindow* w);
  void PlaybackStep(TDrawWindow* w, int32_t ownSlot);
  // ms from now to the session window's next work (UINT32_MAX: none until a wake-up).
  uint32_t SessionDue(TDrawWindow* w, uint32_t now) const;
  // The session's last flush moved nothing although frames waited; its last send of the own
  // events took nothing. Either waits for a wake-up then, instead of stepping again at once.
  bool flushStuck_ = false;
  bool sendStuck_ = false;

 public:
  // ---- end update loop

  // ---- autosave (MainUpdate.cpp) and its recovery at start (Main.cpp) -----------------------
  // Writes W's paper and slot-0 record to the autosave file once the paper was left alone
  // after enough strokes. A write that fails counts for nothing: it is told once in the status
  // bar and tried again after a short pause.
  void Autosave(TDrawWindow* w, uint32_t now);
  bool AutosaveFailing = false;
  uint32_t AutosaveFailedAt = 0;
  // The quit was accepted: the update loop stays stopped and no autosave is written.
  bool Quitting = false;
  // An autosave file found at start that could not be read and could not be moved aside: it
  // is neither written over nor deleted in this run.
  bool AutosaveHeld = false;
  // Moves an autosave file that could not be read aside, so that nothing deletes it unread;
  // its new name, or empty when it could not be moved.
  static std::string KeepRefusedAutosave(const std::string& path);
  // ---- end autosave

  // ---- stroke input (MainStroke.cpp) -------------------------------------------------------
  void StrokeTo(int32_t x, int32_t y, float pressure, float altitude, bool isScreen);
  void EndStroke(int32_t x, int32_t y, float altitude, bool isScreen);
  // The tablet feed; true when the event was used.
  bool AppMessage(QEvent* event);
  // Points of one stroke event before the next point starts another stroke.
  static constexpr int32_t kMaxStrokePoints = 60000;
  // Binds the tablet feed and the focus changes that end a stroke left open.
  void InitStrokeInput();
  // Ends the open stroke when its window is no longer the active paper window of the active
  // application: at its newest point, counted, the button released.
  void EndStrayStroke();
  // The window holding the open local stroke, and its newest paper point.
  QPointer<TDrawWindow> StrokeWindow;
  int32_t StrokeLastX = 0, StrokeLastY = 0;

 private:
  bool StrokeFromPenMouse(bool isScreen) const;
  void ToStrokePoint(TDrawWindow* w, int32_t x, int32_t y, bool isScreen, int32_t& px, int32_t& py) const;
  void FinishStroke(TDrawWindow* w, int32_t px, int32_t py);

 public:
  // ---- end stroke input

  // ---- edit commands and keys (MainEdit.cpp) -----------------------------------------------
  void HandleKey(int key);
  // ---- end edit commands and keys

  // ---- file commands (MainFile.cpp) --------------------------------------------------------
  void OpenFile(const std::string& path);
  bool OpenWpb(const std::string& path);
  bool OpenBmp(const std::string& path);
  bool OpenJpeg(const std::string& path);
  // True when the file was written; every outcome is told to the user.
  bool SaveFile(const std::string& path);
  void ExportEvents();
  void ImportEvents(const std::string& path, float scale);
  // Queues the first 32 paths; they open one at a time from the event loop.
  void WMDropFiles(const std::vector<std::string>& paths);
  // Queues a file to open once no modal dialog is open and no local stroke is drawn (drops,
  // hand-overs).
  void QueueOpen(const std::string& path);
  void OpenPending();
  std::deque<std::string> PendingOpens;
  QTimer* OpenTimer = nullptr;
  // The file menu's rule, also applied when a command runs from a shortcut: nothing during a
  // playback, only the export (of the session record) on a network paper, no export of a
  // record that can no longer rebuild the paper.
  bool FileCommandAllowed(TDrawWindow* w, bool exportCommand) const;
  bool LocalStrokeRunning() const;
  // A new paper window at (n - 1) x 16; fitted to its paper with the paper's top-left corner
  // 32 pixels inside.
  void PlaceNewWindow(TDrawWindow* w);
  // Keeps a paper window in normal state wholly inside the MDI area and, where there is room,
  // clear of the shown tool windows: it stays where it is when it can, else it goes to the
  // free place nearest to it (beside or below a tool window). Every fit of a window to its
  // paper comes here.
  void PlacePaperWindow(TDrawWindow* w);
  void CentrePaper(TDrawWindow* w);
  // "<folder>year-month-day-N.bmp" with the smallest N from 0 that names no file yet.
  static std::string CaptureFileName(const std::string& folder, int year, int month, int day);
  // The dialog that asks where an event record is exported.
  static plat::TFileDialogRequest EventExportDialog();
  // Files dropped anywhere on the main window, paper windows included (they take no drops of
  // their own), go to WMDropFiles.
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  // ---- end file commands

 public slots:
  // Menu openings.
  void File1Click();
  void Edit1Click();
  void Show1Click();
  void Window1Click();
  void NetworkItemClick();
  // File.
  void FileNewItemClick();
  void FileOpenItemClick();
  void FileCloseItemClick();
  void FileSaveItemClick();
  void FileSaveAsItemClick();
  void FileSaveCopyItemClick();
  void EventImportItemClick();
  void EventExportItemClick();
  void EnvWinItemClick();
  void FileExitItemClick();
  // Edit.
  void UndoItemClick();
  void CopyItemClick();
  void PasteItemClick();
  void PaperColorItemClick();
  void VFlipItemClick();
  void HFlipItemClick();
  void Rotate180ItemClick();
  void NegaPosiItemClick();
  void RotateRightItemClick();
  void RotateLeftItemClick();
  void PaperResizeItemClick();
  void PaperResolutionItemClick();
  // Show.
  void ZoomInItemClick();
  void ZoomOutItemClick();
  void EventWaitItemClick();
  void EventStopItemClick();
  void CaptureSaveItemClick();
  // Window.
  void WindowCascadeItemClick();
  void WindowTileItemClick();
  void WindowArrangeItemClick();
  void WindowMinimizeItemClick();
  void ShowAllToolItemClick();
  void DefaultToolPosItemClick();
  void ToolWinItemClick();
  void ColorWinItemClick();
  void BrushWinItemClick();
  void PreviewWinItemClick();
  void LayerWinItemClick();
  // Network and help.
  void NetHomepageItemClick();
  void NetUploadItemClick();
  void NetLatestItemClick();
  void NetClientItemClick();
  void NetFinishItemClick();
  void N24Click();
  void JapaneseItemClick();
  void EnglishItemClick();
  // Double-click on the empty MDI area.
  void FormDblClick();
  void UpdateTimerTimer();

 protected:
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  QAction* AddItem(QMenu* menu, const char* name, const char* caption, void (TVLMain::*slot)(),
                   const char* shortcut = nullptr);
  void ReadPlacement();
  void WritePlacement();
  void OpenWebPage(int page);

  std::unique_ptr<plat::TWindowClass> windowClass_;
  QPointer<QMdiSubWindow> lastActive_;
  // The Window menu's list of paper windows, made anew each time the menu opens.
  std::vector<QAction*> windowList_;
  bool closing_ = false;
  // file commands: a queued file is being opened.
  bool opening_ = false;
  bool OpenPicture(const std::string& path, bool jpeg);
};

extern TVLMain* VLMain;
