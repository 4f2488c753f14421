#pragma once
// The network window: hosting and joining a drawing session. It owns the session record
// NetState and the session's connection object, builds the session paper, runs the join
// handshake on both sides from a 250 ms timer, writes the status lines and the member list
// into the chat window and tells the lobby program when members join and leave.
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <cstdint>
#include <string>
#include <vector>

#include "painter/DrawWin.h"
#include "platform/qt/ToolWindow.h"

class TNetWindow : public plat::TToolWindow {
  Q_OBJECT
 public:
  explicit TNetWindow(QWidget* owner = nullptr);
  ~TNetWindow() override;

  // Components.
  QTabWidget* PageControlCS = nullptr;
  QWidget* TabSheet1 = nullptr;  // joining
  QWidget* TabSheet2 = nullptr;  // hosting
  QWidget* TabSheet3 = nullptr;  // parameters
  QLabel *LabelServerUser = nullptr, *LabelServerPassword = nullptr;
  QLabel *LabelIP = nullptr, *LabelClientUser = nullptr, *LabelClientPassword = nullptr;
  QLabel *LabelNetWidth = nullptr, *LabelNetHeight = nullptr, *LabelPort = nullptr, *LabelMan = nullptr,
         *LabelLayer = nullptr;
  QPushButton* ButtonStandby = nullptr;
  QPushButton* ButtonConnect = nullptr;
  QLineEdit* EditServerUser = nullptr;
  QLineEdit* EditServerPassword = nullptr;
  QLineEdit* EditIP = nullptr;
  QLineEdit* EditClientUser = nullptr;
  QLineEdit* EditClientPassword = nullptr;
  QSpinBox* SpinEditNetWidth = nullptr;
  QSpinBox* SpinEditNetHeight = nullptr;
  QSpinBox* SpinEditPort = nullptr;
  QSpinBox* SpinEditMaxMember = nullptr;
  QSpinBox* SpinEditLayer = nullptr;
  QTimer* Timer1 = nullptr;

  // Handlers.
  void FormCreate();
  // At the chat window's left edge, 10 pixels below it.
  void SetDefaultPosition();
  void FormDestroy();
  void ButtonStandbyClick();
  void ButtonConnectClick();
  // True when the typed character is dropped (only digits, "." and Backspace pass).
  bool EditIPKeyPress(QKeyEvent* e);
  void Timer1Timer();

  void StartHosting();
  void StartJoining();
  void LockControls();
  void ResetSession();
  // Notifications of the connection object (they run inside socket events).
  void ChatArrived();
  void MembersChanged();
  // Host: keeps the name of a member that has just left and the count after it, for the
  // departure line of the next tick.
  void NoteDeparture();

  // What the update loop tells this window: the traffic line shown as its caption, and that
  // a member lost its host (the connect button enabled again, the timer stopped).
  void SetCaption(const std::string& caption);
  void HostLost();

  // The session's paper window while it exists.
  TDrawWindow* SessionPaper() const { return paper_; }

  static constexpr int32_t kJoinReplyWords = 6;
  // A member that has not logged in this long after its accept is closed (ms).
  static constexpr uint32_t kLoginTimeoutMs = 10000;
  // A joining member that has no join reply this long after the start gives up (ms).
  static constexpr uint32_t kJoinReplyTimeoutMs = 30000;

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  // The host could not listen: the window unlocked and shown again on its port, with the
  // reason told.
  void HostingFailed(bool portInUse);
  void HostTick();
  void MemberTick();
  void HostStep1(int32_t slot);
  void MemberStep1();
  void MemberStep2();
  // The session paper's window with `layers` layers, its log begun; none when it cannot be
  // made.
  TDrawWindow* CreateSessionPaper(int32_t layers);
  void PlaceSessionPaper(TDrawWindow* w);
  void NotifyLobby(uint32_t msg);
  void Status(const std::string& line);
  void SetLocked(bool locked);
  void FreeSocket();

  struct TDeparture {
    std::string Name;
    int32_t Count = 0;    // members after the leave
    bool Member = false;  // it had been let in
  };

  QPointer<TDrawWindow> paper_;
  std::vector<TDeparture> departures_;  // host: leaves not yet shown
  int32_t leavesNoted_ = 0;             // of the transport's pending leaves, those in departures_
  int32_t joinSlot_ = 0;          // host: the slot whose handshake runs
  uint32_t joinStart_ = 0;        // member: when joining started
};

extern TNetWindow* NetWindow;

// The first IPv4 address of an interface that is up, other than loopback; "127.0.0.1" when
// there is none. No name look-up.
std::string LocalIPv4Address();
