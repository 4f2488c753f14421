#include "painter/NetWin.h"

#include <QHostInfo>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QNetworkInterface>
#include <QRegularExpressionValidator>
#include <algorithm>

#include "engine/EventPacket.h"
#include "engine/Flow.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "painter/DrawWin.h"
#include "painter/LayerWin.h"
#include "painter/Localize.h"
#include "painter/Main.h"
#include "platform/core/Clock.h"
#include "platform/core/MessageBox.h"
#include "platform/core/Settings.h"
#include "platform/qt/Placement.h"
#include "platform/qt/WindowMessages.h"
#include "painter/ChatWin.h"
#include "session/MySocket.h"
#include "session/NetState.h"
#include "session/wire/SessionFrame.h"

TNetWindow* NetWindow = nullptr;

namespace {

const char* const kSettingsKey = "Software\\Brenmoor\\Vellora";
const char* const kLobbyClass = "TRVMain";
constexpr uint32_t WM_NETMEMBERJOINED = 0x603;
constexpr uint32_t WM_NETMEMBERLEFT = 0x604;
constexpr int kTimerMs = 250;
constexpr int32_t kMaxNetSide = 3000;

QLabel* MakeLabel(QWidget* owner, const char* name, const char* text, int x, int y) {
  auto* l = new QLabel(QString::fromUtf8(text), owner);
  l->setObjectName(name);
  l->move(x, y);
  l->adjustSize();
  return l;
}

QLineEdit* MakeEdit(QWidget* owner, const char* name, int maxLength, const char* text, bool password,
                    QRect place) {
  auto* e = new QLineEdit(owner);
  e->setObjectName(name);
  e->setMaxLength(maxLength);
  e->setText(QString::fromUtf8(text));
  e->setGeometry(place);
  if (password) {
    e->setEchoMode(QLineEdit::Password);
    e->setAttribute(Qt::WA_InputMethodEnabled, false);
  }
  return e;
}

QSpinBox* MakeSpin(QWidget* owner, const char* name, int lo, int hi, int value, QRect place) {
  auto* s = new QSpinBox(owner);
  s->setObjectName(name);
  s->setRange(lo, hi);
  s->setValue(value);
  s->setGeometry(place);
  return s;
}

QPushButton* MakeButton(QWidget* owner, const char* name, const char* text, QRect place) {
  auto* b = new QPushButton(QString::fromUtf8(text), owner);
  b->setObjectName(name);
  b->setGeometry(place);
  return b;
}

QWidget* MakeSheet(QTabWidget* pages, const char* name, const char* caption) {
  auto* w = new QWidget;
  w->setObjectName(name);
  pages->addTab(w, QString::fromUtf8(caption));
  return w;
}

std::string Text(const QLineEdit* e) { return e->text().toStdString(); }

bool ElapsedMoreThan(uint32_t now, uint32_t then, uint32_t ms) {
  return static_cast<uint32_t>(now - then) > ms;
}

}  // namespace

std::string LocalIPv4Address() {
  for (const QNetworkInterface& nif : QNetworkInterface::allInterfaces()) {
    const auto flags = nif.flags();
    if (!(flags & QNetworkInterface::IsUp) || (flags & QNetworkInterface::IsLoopBack)) continue;
    for (const QNetworkAddressEntry& e : nif.addressEntries()) {
      const QHostAddress a = e.ip();
      if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback()) return a.toString().toStdString();
    }
  }
  return "127.0.0.1";
}

TNetWindow::TNetWindow(QWidget* owner) : plat::TToolWindow(owner) {
  setObjectName("NetWindow");
  setWindowTitle(QString::fromUtf8("ネットワークウィンドウ"));
  setWindowFlag(Qt::WindowMinMaxButtonsHint, false);
  setWindowFlag(Qt::WindowCloseButtonHint, true);
  setFixedSize(299, 99);

  PageControlCS = new QTabWidget(this);
  PageControlCS->setObjectName("PageControlCS");
  PageControlCS->setGeometry(0, 2, 297, 97);
  TabSheet2 = MakeSheet(PageControlCS, "TabSheet2", "サーバ待機");
  TabSheet1 = MakeSheet(PageControlCS, "TabSheet1", "クライアント接続");
  TabSheet3 = MakeSheet(PageControlCS, "TabSheet3", "ネットワーク設定");
  PageControlCS->setCurrentWidget(TabSheet2);

  // Hosting.
  LabelServerUser = MakeLabel(TabSheet2, "LabelServerUser", "ユーザ名", 2, 4);
  LabelServerPassword = MakeLabel(TabSheet2, "LabelServerPassword", "パスワード", 2, 26);
  ButtonStandby = MakeButton(TabSheet2, "ButtonStandby", "待機", QRect(192, 0, 51, 22));
  EditServerUser = MakeEdit(TabSheet2, "EditServerUser", 14, "HOTE", false, QRect(64, 2, 121, 20));
  EditServerPassword = MakeEdit(TabSheet2, "EditServerPassword", 14, "", true, QRect(64, 26, 121, 20));
  // Joining.
  LabelIP = MakeLabel(TabSheet1, "LabelIP", "接続先IP", 2, 4);
  LabelClientUser = MakeLabel(TabSheet1, "LabelClientUser", "ユーザ名", 2, 28);
  LabelClientPassword = MakeLabel(TabSheet1, "LabelClientPassword", "パスワード", 2, 52);
  EditIP = MakeEdit(TabSheet1, "EditIP", 15, "127.0.0.1", false, QRect(64, 2, 122, 20));
  // Pasted text keeps to the same characters as typed text.
  EditIP->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9.]*"), EditIP));
  EditIP->installEventFilter(this);
  ButtonConnect = MakeButton(TabSheet1, "ButtonConnect", "Connexion", QRect(192, 0, 53, 22));
  EditClientUser = MakeEdit(TabSheet1, "EditClientUser", 14, "CLIENT", false, QRect(64, 26, 121, 20));
  EditClientPassword = MakeEdit(TabSheet1, "EditClientPassword", 14, "", true, QRect(64, 50, 121, 20));
  // Parameters.
  LabelNetWidth = MakeLabel(TabSheet3, "LabelNetWidth", "幅", 8, 4);
  LabelNetHeight = MakeLabel(TabSheet3, "LabelNetHeight", "高さ", 8, 28);
  LabelPort = MakeLabel(TabSheet3, "LabelPort", "ポート番号", 144, 4);
  LabelMan = MakeLabel(TabSheet3, "LabelMan", "最大人数", 144, 28);
  LabelLayer = MakeLabel(TabSheet3, "LabelLayer", "レイヤ数", 8, 50);
  SpinEditNetWidth = MakeSpin(TabSheet3, "SpinEditNetWidth", 1, kMaxNetSide, 600, QRect(72, 0, 57, 21));
  SpinEditNetHeight = MakeSpin(TabSheet3, "SpinEditNetHeight", 1, kMaxNetSide, 600, QRect(72, 24, 57, 21));
  SpinEditPort = MakeSpin(TabSheet3, "SpinEditPort", 0, 65535, 9001, QRect(224, 0, 55, 21));
  SpinEditMaxMember = MakeSpin(TabSheet3, "SpinEditMaxMember", 2, 4, 3, QRect(224, 24, 55, 21));
  SpinEditLayer = MakeSpin(TabSheet3, "SpinEditLayer", 1, 4, 2, QRect(72, 49, 57, 21));

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(kTimerMs);
  connect(Timer1, &QTimer::timeout, this, &TNetWindow::Timer1Timer);
  connect(ButtonStandby, &QPushButton::clicked, this, &TNetWindow::ButtonStandbyClick);
  connect(ButtonConnect, &QPushButton::clicked, this, &TNetWindow::ButtonConnectClick);
  FormCreate();
}

TNetWindow::~TNetWindow() {
  FormDestroy();
  Timer1->stop();
  FreeSocket();
  if (NetWindow == this) NetWindow = nullptr;
}

void TNetWindow::SetDefaultPosition() {
  if (!ChatWindow) return;
  const QRect chat = plat::OuterRect(ChatWindow);
  move(chat.left(), chat.top() + chat.height() + 10);
}

void TNetWindow::FormCreate() {
  NetState.Socket = nullptr;
  NetState.Phase = npIdle;
  SetDefaultPosition();
  plat::TRegistry reg;
  if (!reg.OpenKey(kSettingsKey, true)) return;
  if (auto v = reg.ReadString("NetIP")) EditIP->setText(QString::fromStdString(*v));
  if (auto v = reg.ReadString("NetClientUser")) EditClientUser->setText(QString::fromStdString(*v));
  if (auto v = reg.ReadString("NetServerUser")) EditServerUser->setText(QString::fromStdString(*v));
  if (auto v = reg.ReadInteger("NetWidth")) SpinEditNetWidth->setValue(*v);  // clamped to the range
  if (auto v = reg.ReadInteger("NetHeight")) SpinEditNetHeight->setValue(*v);
}

void TNetWindow::FormDestroy() {
  plat::TRegistry reg;
  if (!reg.OpenKey(kSettingsKey, true)) return;
  reg.WriteString("NetIP", Text(EditIP));
  reg.WriteString("NetClientUser", Text(EditClientUser));
  reg.WriteString("NetServerUser", Text(EditServerUser));
  reg.WriteInteger("NetWidth", SpinEditNetWidth->value());
  reg.WriteInteger("NetHeight", SpinEditNetHeight->value());
}

// ---------------------------------------------------------------- controls

void TNetWindow::ButtonStandbyClick() {
  if (ChatWindow) ChatWindow->show();
  hide();
  StartHosting();
}

void TNetWindow::ButtonConnectClick() {
  if (ChatWindow) ChatWindow->show();
  StartJoining();
}

bool TNetWindow::EditIPKeyPress(QKeyEvent* e) {
  if (e->key() == Qt::Key_Backspace) return false;
  const QString t = e->text();
  if (t.isEmpty()) return false;  // not a character (arrows, Delete)
  for (const QChar c : t) {
    if (!((c >= '0' && c <= '9') || c == '.')) return true;
  }
  return false;
}

bool TNetWindow::eventFilter(QObject* watched, QEvent* e) {
  if (watched == EditIP && e->type() == QEvent::KeyPress && EditIPKeyPress(static_cast<QKeyEvent*>(e))) {
    return true;
  }
  return plat::TToolWindow::eventFilter(watched, e);
}

// The window's keys stay its own: typing a name is not a painter shortcut.
void TNetWindow::keyPressEvent(QKeyEvent* e) { QWidget::keyPressEvent(e); }

void TNetWindow::SetLocked(bool locked) {
  for (QWidget* w : std::initializer_list<QWidget*>{ButtonConnect, ButtonStandby, EditServerUser, EditServerPassword,
                                                    EditIP, EditClientUser, EditClientPassword}) {
    w->setEnabled(!locked);
  }
}

void TNetWindow::LockControls() {
  SetLocked(true);
  Timer1->start();
}

void TNetWindow::SetCaption(const std::string& caption) { setWindowTitle(QString::fromStdString(caption)); }

void TNetWindow::HostLost() {
  ButtonConnect->setEnabled(true);
  Timer1->stop();
}

void TNetWindow::Status(const std::string& line) {
  if (ChatWindow) ChatWindow->AddMessage(line);
}

void TNetWindow::NotifyLobby(uint32_t msg) {
  plat::PostWindowMessage(kLobbyClass, plat::TWindowMessage{plat::WM_BRINGTOFRONT, 0, 0, {}});
  plat::PostWindowMessage(kLobbyClass, plat::TWindowMessage{msg, 0, 0, {}});
}

void TNetWindow::FreeSocket() {
  delete NetState.Socket;
  NetState.Socket = nullptr;
}

// ---------------------------------------------------------------- session paper

TDrawWindow* TNetWindow::CreateSessionPaper(int32_t layers) {
  if (!VLMain) return nullptr;
  TDrawWindow* w = VLMain->CreateDrawWindow("");
  TPaper& p = *w->Paper;
  if (!p.Init("NONAME", NetState.Width, NetState.Height)) {
    w->CloseWindow(false);
    return nullptr;
  }
  p.Layers->Flow().SetSlotCount(4);
  w->Log->WriteNewPaper(NetState.Width, NetState.Height);
  for (int32_t i = 1; i < layers; ++i) {
    p.Layers->AddLayer(lkMultiply);
    w->Log->WriteNewLayer(lkMultiply);
  }
  paper_ = w;
  return w;
}

void TNetWindow::PlaceSessionPaper(TDrawWindow* w) {
  TPaper& p = *w->Paper;
  const int32_t n = static_cast<int32_t>(VLMain->MdiArea->subWindowList().size());
  if (QWidget* frame = w->SubWindow()) frame->move(16 * n, 16 * n);
  p.Display.FitWindow(p.Width(), p.Height(), *w);
  p.Composite();
  w->Redraw();
  w->ScrollBar1.SetPosition(w->ScrollBar1.Max() / 2 - p.Width() / 2 - 32);
  w->ScrollBar2.SetPosition(w->ScrollBar2.Max() / 2 - p.Height() / 2 - 32);
  w->SetCaption(p.Caption());
  if (LayerWindow) LayerWindow->DrawLayers(&p);
}

// ---------------------------------------------------------------- starting

void TNetWindow::StartHosting() {
  FreeSocket();
  auto* socket = new TMySocket(this);
  NetState.Socket = socket;
  if (!socket->StartServer(SpinEditPort->value(), Text(EditServerUser), Text(EditServerPassword))) {
    HostingFailed(socket->ListenError == QAbstractSocket::AddressInUseError);
    return;
  }
  if (ChatWindow) ChatWindow->MemoMsg->clear();
  Status("<サーバ待機>");
  Status("HOST: " + QHostInfo::localHostName().toStdString());
  Status("IP: " + LocalIPv4Address());
  NetState.SentTotal = 0;
  NetState.Step = 0;
  NetState.Phase = npRunning;
  NetState.IsHost = 1;
  departures_.clear();
  leavesNoted_ = 0;
  socket->AdmitOnAccept = false;  // a member is heard once its join is accepted
  socket->SetOnChat([this] { ChatArrived(); });
  socket->SetOnChange([this] {
    NoteDeparture();
    MembersChanged();
  });

  NetState.Width = SpinEditNetWidth->value();
  NetState.Height = SpinEditNetHeight->value();
  NetState.MaxMembers = SpinEditMaxMember->value();
  NetState.LayersPerMember = SpinEditLayer->value();
  socket->SetLayerOwners(NetState.LayersPerMember, NetState.MaxMembers);

  TDrawWindow* w = CreateSessionPaper(NetState.MaxMembers * NetState.LayersPerMember);
  if (!w) {
    FreeSocket();
    NetState.Phase = npIdle;
    NetState.IsHost = 0;
    SetLocked(false);
    return;
  }
  TPaper& p = *w->Paper;
  p.SetMemberIndex(0);
  p.SetMemberCount(NetState.MaxMembers);
  p.Layers->SetActiveLayer(0);
  PlaceSessionPaper(w);
  for (int32_t i = 0; i < NetState.MaxMembers; ++i) {
    w->Packets[i]->Clear();
    w->LoggedPos[i] = 0;
  }
  p.SetNetMode(1);
  w->SetCaption(p.Caption());
  w->LastActivity = timeGetTime();
  VLMain->SetUpdateMode(true);
  LockControls();
  MembersChanged();
}

void TNetWindow::HostingFailed(bool portInUse) {
  FreeSocket();
  NetState.Phase = npIdle;
  NetState.IsHost = 0;
  SetLocked(false);
  const std::string text = (portInUse ? msgPortInUse : msgPortNotOpened) + "\n" + LabelPort->text().toStdString() +
                           " " + std::to_string(SpinEditPort->value());
  // Once the click (or the lobby's launch, which hides this window) has returned: this window
  // comes back on its port, then the message.
  QTimer::singleShot(0, this, [this, text] {
    PageControlCS->setCurrentWidget(TabSheet3);
    plat::ShowActive(this, SpinEditPort);
    plat::MessageBox(text, "", unsigned{plat::MB_OK} | plat::MB_ICONERROR);
    // The box had the keyboard; typing goes on in the port box, not in the window behind.
    plat::ShowActive(this, SpinEditPort);
  });
}

void TNetWindow::StartJoining() {
  NetState.SentTotal = 0;
  NetState.Step = 0;
  NetState.Phase = npJoining;
  NetState.IsHost = 0;
  FreeSocket();
  auto* socket = new TMySocket(this);
  NetState.Socket = socket;
  socket->StartClient(Text(EditIP), SpinEditPort->value(), Text(EditClientUser), Text(EditClientPassword));
  socket->SetOnChat([this] { ChatArrived(); });
  socket->SetOnChange([this] { MembersChanged(); });
  joinStart_ = timeGetTime();
  LockControls();
  if (ChatWindow) ChatWindow->MemoMsg->clear();
  Status("<サーバに接続 (" + Text(EditIP) + ") >");
}

void TNetWindow::ResetSession() {
  if (ChatWindow) ChatWindow->MemoList->clear();
  FreeSocket();
  departures_.clear();
  leavesNoted_ = 0;
  NetState.Phase = npIdle;
  NetState.Step = 0;
  SetLocked(false);
  Timer1->stop();
}

// ---------------------------------------------------------------- notifications

void TNetWindow::ChatArrived() {
  TMySocket* s = NetState.Socket;
  if (!s) return;
  for (int32_t slot = 0; slot < kMemberSlots; ++slot) {
    if (!s->MemberUsed(slot)) continue;
    const std::string text = s->TakeChatText(slot);
    if (!text.empty()) Status("[" + s->MemberName(slot) + "] " + text);
  }
}

void TNetWindow::NoteDeparture() {
  TMySocket* s = NetState.Socket;
  if (!s || !NetState.IsHost) return;
  // Each leave notifies at once, so at most one is new here. Only a member that was let in
  // is told as leaving; a refused one never was a member.
  while (leavesNoted_ < s->LeavesPending) {
    departures_.push_back({s->MemberName(s->LastLeftSlot), s->MemberCount, s->LastLeftAdmitted});
    ++leavesNoted_;
  }
}

void TNetWindow::MembersChanged() {
  TMySocket* s = NetState.Socket;
  if (ChatWindow) ChatWindow->MemoList->clear();
  if (!s) return;
  for (int32_t slot = kMemberSlots - 1; slot >= 0; --slot) {
    if (!s->MemberUsed(slot)) continue;
    if (ChatWindow) ChatWindow->AddMember(slot == 0 ? "@" + s->MemberName(0) : s->MemberName(slot));
  }
  // The host's own events wait from the accept on, so that the join reply is the first
  // thing the newcomer gets from the host.
  if (NetState.IsHost && s->JoinsPending > 0 && NetState.Phase == npRunning) {
    NetState.Phase = npJoining;
    NetState.Step = 0;
    joinSlot_ = s->LastJoinedSlot;
  }
}

// ---------------------------------------------------------------- the handshake

void TNetWindow::Timer1Timer() {
  if (!NetState.Socket) return;
  if (NetState.IsHost) {
    HostTick();
  } else {
    MemberTick();
  }
}

void TNetWindow::HostTick() {
  TMySocket* s = NetState.Socket;
  if (s->JoinsPending != 0) {
    NetState.Phase = npJoining;
    NetState.Step = 0;
    joinSlot_ = s->LastJoinedSlot;
    s->AckJoin();
    if (s->MemberCount >= NetState.MaxMembers - 1) NotifyLobby(WM_NETMEMBERJOINED);
  }
  for (const TDeparture& d : departures_) {
    if (d.Member) Status("<" + d.Name + " が退室 : 現在" + std::to_string(d.Count) + "人>");
    s->AckLeave();
    NotifyLobby(WM_NETMEMBERLEFT);
  }
  departures_.clear();
  leavesNoted_ = 0;
  if (NetState.Phase != npJoining) return;
  const int32_t slot = joinSlot_;
  if (!s->MemberUsed(slot)) {
    // It left before its handshake ended.
    s->SetJoinLock(false);
    NetState.Step = 0;
    NetState.Phase = npRunning;
  } else if (NetState.Step == 0) {
    if (s->MemberLoginArrived(slot)) {
      NetState.Step = 1;
    } else if (ElapsedMoreThan(timeGetTime(), s->JoinLockTime, kLoginTimeoutMs)) {
      s->DropMember(slot);  // taken up as a leave
      s->SetJoinLock(false);
      NetState.Step = 0;
      NetState.Phase = npRunning;
    }
  } else if (NetState.Step == 1) {
    HostStep1(slot);
  } else if (NetState.Step == 2) {
    Status(s->MemberName(slot) + "(" + s->MemberAddress(slot) + ")" + " が入場。現在" +
           std::to_string(s->MemberCount) + "人。");
    Status("");
    s->SetJoinLock(false);
    NetState.Step = 0;
    NetState.Phase = npRunning;
  }
  s->Flush();
}

void TNetWindow::HostStep1(int32_t slot) {
  TMySocket* s = NetState.Socket;
  TDrawWindow* w = paper_;
  // The layer states go into the host's own record: not inside a stroke being drawn.
  if (w && w->Packets[0]->InStroke()) return;
  int32_t status = jrAccepted;
  // Only one of the session's own slots: the count alone lets a slot beyond them in when a
  // member left meanwhile.
  if (s->MemberCount > NetState.MaxMembers || slot < 1 || slot >= NetState.MaxMembers) {
    status = jrFull;
  }
  if (s->MemberPassword(slot) != s->Password) status = jrBadPassword;
  const int32_t words[kJoinReplyWords] = {JoinReplyMagic,    status, NetState.Width, NetState.Height,
                                          NetState.MaxMembers, NetState.LayersPerMember};
  for (int32_t v : words) {
    uint8_t b[4];
    PutInt32LE(b, v);
    s->SendData(slot, b, 4);
  }
  s->SendMemberList();
  if (status != jrAccepted) {
    if (status == jrBadPassword) s->PasswordRefused(slot);  // its address waits a while next time
    s->CloseMemberAfterFlush(slot);  // its reply and the list first, then the close
    NetState.Step = 0;
    NetState.Phase = npRunning;
    return;
  }
  s->Admit(slot);
  if (w && w->Paper && w->Paper->Layers) {
    const TLayerMng& layers = *w->Paper->Layers;
    TEventPacket& own = *w->Packets[0];
    const int32_t L = NetState.LayersPerMember;
    for (int32_t i = 0; i < NetState.MaxMembers * L; ++i) {
      if (i / L == slot) continue;
      const auto layer = static_cast<uint8_t>(i);
      own.WriteLayerVisible(layer, layers.LayerVisible(i) ? 1 : 0);
      own.WriteLayerOpacity(layer, layers.LayerOpacity(i));
      own.WriteLayerKind(layer, layers.LayerKind(i));
    }
  }
  NetState.Step = 2;
}

void TNetWindow::MemberTick() {
  TMySocket* s = NetState.Socket;
  if (s->Status == ssDisconnected) {
    // Closed during the handshake (refused, or the host went): the join failed. A reply
    // that came before the close is told first.
    if (NetState.Phase != npJoining) return;
    if (NetState.Step < 2 && s->LoggedIn && s->MemberDataSize(0) >= kJoinReplyWords * 4) {
      if (NetState.Step == 0) Status("<サーバ認識>");
      MemberStep1();
      if (!NetState.Socket) return;  // the reply ended the session
    }
    Status("<接続出来ません>");
    ResetSession();
    return;
  }
  if (s->Status == ssConnectFailed) {
    Status("<接続出来ません>");
    ResetSession();
    return;
  }
  if (NetState.Phase != npJoining) return;
  if (NetState.Step < 2 && ElapsedMoreThan(timeGetTime(), joinStart_, kJoinReplyTimeoutMs)) {
    Status("<接続出来ません>");
    ResetSession();
    return;
  }
  s->Flush();
  switch (NetState.Step) {
    case 0:
      if (s->LoggedIn) {
        Status("<サーバ認識>");
        NetState.Step = 1;
      }
      break;
    case 1:
      if (s->MemberDataSize(0) >= kJoinReplyWords * 4) MemberStep1();
      break;
    case 2:
      MemberStep2();
      break;
    default:
      break;
  }
}

void TNetWindow::MemberStep1() {
  TMySocket* s = NetState.Socket;
  uint8_t b[kJoinReplyWords * 4];
  if (!s->ReadMemberData(0, b, sizeof b)) return;
  const int32_t magic = GetInt32LE(b), status = GetInt32LE(b + 4), width = GetInt32LE(b + 8),
                height = GetInt32LE(b + 12), members = GetInt32LE(b + 16), layers = GetInt32LE(b + 20);
  bool told = false;
  if (magic != JoinReplyMagic) {
    Status("<異バージョンの為 切断>");
    told = true;
  }
  if (status == jrFull) {
    Status("<満席の為 切断>");
    told = true;
  }
  if (status == jrBadPassword) {
    Status("<パスワード認証失敗 切断>");
    told = true;
  }
  // Only a paper this program can build, with the own slot among the members.
  const bool fits = magic == JoinReplyMagic && status == jrAccepted && width >= 1 && width <= kMaxNetSide &&
                    height >= 1 && height <= kMaxNetSide && members >= 2 && members <= 4 && layers >= 1 &&
                    layers <= 4 && s->OwnId >= 1 && s->OwnId < members;
  if (!fits) {
    if (!told) Status("<異バージョンの為 切断>");
    ResetSession();
    return;
  }
  NetState.Width = width;
  NetState.Height = height;
  NetState.MaxMembers = members;
  NetState.LayersPerMember = layers;
  s->SetLayerOwners(layers, members);
  Status("<キャンバス情報取得>");
  Status("<レイヤ枚数: " + std::to_string(layers) + "[枚/人]>");
  NetState.Step = 2;
}

void TNetWindow::MemberStep2() {
  TMySocket* s = NetState.Socket;
  const int32_t own = s->OwnId, members = NetState.MaxMembers, L = NetState.LayersPerMember;
  // Every member builds the host's paper: MaxMembers x L layers.
  TDrawWindow* w = CreateSessionPaper(members * L);
  if (!w) {
    ResetSession();
    return;
  }
  TPaper& p = *w->Paper;
  TLayerMng& layers = *p.Layers;
  p.SetMemberIndex(own);
  p.SetMemberCount(members);
  layers.SetActiveLayer(own * L);
  for (int32_t i = 0; i < members; ++i) {
    w->Packets[i]->Clear();
    w->LoggedPos[i] = 0;
  }
  NetState.Step = 0;
  NetState.SentTotal = 0;
  NetState.Phase = npRunning;
  p.SetNetMode(1);
  w->SetCaption(p.Caption());
  w->LastActivity = timeGetTime();
  // The own layers start over on every paper of the session.
  TEventPacket& rec = *w->Packets[own];
  for (int32_t c = 0; c < L; ++c) {
    const int32_t j = own * L + c;
    const auto layer = static_cast<uint8_t>(j);
    layers.ClearLayer(j);
    rec.WriteClearLayer(layer);
    layers.ClearUndo(j);
    rec.WriteClearUndoLayer(layer);
    layers.SetVisible(j, 1);
    rec.WriteLayerVisible(layer, 1);
    layers.SetLayerKind(j, lkMultiply);
    rec.WriteLayerKind(layer, lkMultiply);
    layers.SetOpacity(j, 255);
    rec.WriteLayerOpacity(layer, 255);
  }
  PlaceSessionPaper(w);
  hide();
  Status("<接続完了>");
  Status("");
  VLMain->SetUpdateMode(true);
}
