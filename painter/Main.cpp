#include "painter/Main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <utility>
#include <cstdio>
#include <cstdlib>

#include "engine/EventPacket.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "painter/ColorWin.h"
#include "painter/Cursors.h"
#include "painter/DrawWin.h"
#include "painter/EnvWin.h"
#include "painter/EzHelpWin.h"
#include "painter/LayerWin.h"
#include "painter/Localize.h"
#include "painter/NewWin.h"
#include "painter/PenWin2.h"
#include "painter/PreviewWin.h"
#include "painter/ResoWin.h"
#include "painter/SelectWin.h"
#include "painter/SizeWin.h"
#include "painter/ToolsWin.h"
#include "platform/core/Clock.h"
#include "platform/core/Files.h"
#include "platform/core/MessageBox.h"
#include "platform/qt/ApplicationHint.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/Placement.h"
#include "platform/qt/ToolWindow.h"
#include "platform/qt/WindowMessages.h"
#include "painter/ChatWin.h"
#include "session/NetState.h"
#include "painter/NetWin.h"

const char* const kVelloraKey = "Software\\Brenmoor\\Vellora";
const char* const kRoomvaneKey = "Software\\Brenmoor\\Roomvane\\vlConfig";
const char* const kRoomvaneClass = "TRVMain";

TVLMain* VLMain = nullptr;
TNetState NetState;
std::optional<std::string> CommandLineFile;

namespace {

QString Q(const char* s) { return QString::fromUtf8(s); }

}  // namespace

int32_t BrushIconOfKind(int32_t kind) {
  switch (kind) {
    case bkPen: return 0;
    case bkWatercolor: return 1;
    case bkBlur:
    case bkBlur2: return 2;
    case bkEraser: return 3;
    default: return 0;
  }
}

std::string AutosavePath() { return plat::DataDir() + "/$$$tmp.wpb"; }

const std::string& ProgramFolder() {
  static const std::string folder = plat::ProgramDir();
  return folder;
}

std::string TVLMain::WebAddress(int page) {
  static const char* const pages[] = {"https://brenmoor.example/vellora/", "https://brenmoor.example/vellora/upload/",
                                      "https://brenmoor.example/vellora/latest/"};
  return pages[std::clamp(page, 0, 2)];
}

TVLMain::TVLMain(QWidget* parent) : QMainWindow(parent) {
  VLMain = this;
  setObjectName("VLMain");
  setWindowTitle(Q("Vellora1.1b72 FR"));
  setFont(plat::UiFont(12));
  resize(467, 322);
  move(192, 108);

  MdiArea = new QMdiArea(this);
  MdiArea->setObjectName("MdiArea");
  MdiArea->setBackground(palette().brush(QPalette::Dark));
  setCentralWidget(MdiArea);
  MdiArea->viewport()->installEventFilter(this);
  StatusBar = new QStatusBar(this);
  StatusBar->setObjectName("StatusBar");
  StatusBar->setFixedHeight(18);
  setStatusBar(StatusBar);
  // Maximised (the default), the status bar runs along the screen's bottom edge: the tool
  // windows start above it, so that no hint or warning starts hidden.
  plat::ReserveBottomStrip(StatusBar->height());
  // A warning of its own that stays until it no longer holds; hints come and go beside it.
  AutosaveWarning = new QLabel(StatusBar);
  AutosaveWarning->setObjectName("AutosaveWarning");
  AutosaveWarning->setStyleSheet("color: #c00000");
  StatusBar->addPermanentWidget(AutosaveWarning);
  AutosaveWarning->hide();

  UpdateTimer = new QTimer(this);
  UpdateTimer->setObjectName("UpdateTimer");
  UpdateTimer->setInterval(20);
  connect(UpdateTimer, &QTimer::timeout, this, &TVLMain::UpdateTimerTimer);
  AntsTimer = new QTimer(this);
  AntsTimer->setObjectName("AntsTimer");
  AntsTimer->setInterval(50);
  IdleTimer = new QTimer(this);
  IdleTimer->setObjectName("IdleTimer");
  InitUpdateLoop();

  BuildMenus();
  ShowShortcutLabels();

  // FormCreate
  setAttribute(Qt::WA_InputMethodEnabled, false);
  InstallScreenCursors();
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
    if (s == Qt::ApplicationActive) AppActivate();
    else AppDeactivate();
  });
  connect(MdiArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* w) {
    if (w) lastActive_ = w;
    UpdateMenuItems();
    // A paper window's activation chooses the update loop's driver again.
    if (auto* d = w ? qobject_cast<TDrawWindow*>(w->widget()) : nullptr) d->FormActivate();
  });
  connect(qApp, &QGuiApplication::focusWindowChanged, this, [this] { UpdateMenuItems(); });
  new plat::TApplicationHint([this](const QString& hint) { AppHint(hint); }, this);
  plat::TToolWindow::KeyHook = [](int vk) {
    if (VLMain) VLMain->HandleKey(vk);
  };
  Tablet = std::make_unique<TWinTab32>();
  InitStrokeInput();
  Stroke = std::make_unique<TStroke>();
  Stroke->SetColor(0);
  Stroke->SetKind(bkPen);
  Stroke->SetPressureSize(true);
  Stroke->SetPressureAlpha(true);
  EraserSwitched = false;
  FirstActivation = true;
  NextMember = 0;
  LastRefresh = 0;
  LastTabTime = timeGetTime();
  setAcceptDrops(true);

  Registry = std::make_unique<plat::TRegistry>();
  Registry->OpenKey(kVelloraKey, true);
  Registry->WriteString("LastExecute", QCoreApplication::applicationFilePath().toStdString());
  EventWait = Registry->ReadBool("EventWait").value_or(false);
  EventWaitItem->setChecked(EventWait);
  ReadPlacement();
  UpdateMenuItems();

  windowClass_ = std::make_unique<plat::TWindowClass>("TVLMain", this, [this](const plat::TWindowMessage& m) -> int64_t {
    if (m.Msg == plat::WM_COPYDATA) return WMCopyData(m.Data);
    if (m.Msg == WM_NETLAUNCH) {
      WMNetLaunch();
      return 0;
    }
    return 0;
  });
}

TVLMain::~TVLMain() {
  windowClass_.reset();
  plat::TToolWindow::KeyHook = nullptr;
  if (VLMain == this) VLMain = nullptr;
}

QAction* TVLMain::AddItem(QMenu* menu, const char* name, const char* caption, void (TVLMain::*slot)(),
                          const char* shortcut) {
  QAction* a = menu->addAction(Q(caption));
  a->setObjectName(name);
  // Shown after a tab, as a menu shows its keys; the application-wide shortcuts below act
  // for the item (a shortcut of the action itself would not act while it is disabled).
  if (shortcut) a->setProperty("shortcutText", QKeySequence(Q(shortcut)).toString(QKeySequence::NativeText));
  if (slot) connect(a, &QAction::triggered, this, slot);
  return a;
}

namespace {
// A lone Alt belongs to the paper window (its tap puts a rotated view upright), so it never
// moves the keyboard into the menu bar; Alt with a letter still opens a menu.
class TMenuBarStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == QStyle::SH_MenuBar_AltKeyNavigation) return 0;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};
}  // namespace

void TVLMain::BuildMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");
  auto* barStyle = new TMenuBarStyle;
  barStyle->setParent(bar);
  bar->setStyle(barStyle);
  auto menu = [&](const char* name, const char* caption, void (TVLMain::*opening)()) {
    QMenu* m = bar->addMenu(Q(caption));
    m->setObjectName(name);
    m->menuAction()->setObjectName(name);
    if (opening) connect(m, &QMenu::aboutToShow, this, opening);
    return m;
  };
  File1 = menu("File1", "ﾌｧｲﾙ(&F)", &TVLMain::File1Click);
  FileNewItem = AddItem(File1, "FileNewItem", "新規作成(&N)...", &TVLMain::FileNewItemClick, "Ctrl+N");
  FileOpenItem = AddItem(File1, "FileOpenItem", "開く(&O)...", &TVLMain::FileOpenItemClick, "Ctrl+O");
  FileCloseItem = AddItem(File1, "FileCloseItem", "閉じる(&C)", &TVLMain::FileCloseItemClick, "Ctrl+W");
  File1->addSeparator();
  FileSaveItem = AddItem(File1, "FileSaveItem", "上書き保存(&S)", &TVLMain::FileSaveItemClick, "Ctrl+S");
  FileSaveAsItem = AddItem(File1, "FileSaveAsItem", "名前を付けて保存(&A)...", &TVLMain::FileSaveAsItemClick, "Ctrl+A");
  FileSaveCopyItem = AddItem(File1, "FileSaveCopyItem", "複製を保存(&Y)...", &TVLMain::FileSaveCopyItemClick, "Ctrl+Y");
  File1->addSeparator();
  EventImportItem = AddItem(File1, "EventImportItem", "イベントファイルのインポート(&I)...", &TVLMain::EventImportItemClick);
  EventExportItem = AddItem(File1, "EventExportItem", "イベントファイルのエクスポート(&E)...", &TVLMain::EventExportItemClick);
  File1->addSeparator();
  EnvWinItem = AddItem(File1, "EnvWinItem", "環境設定...", &TVLMain::EnvWinItemClick);
  File1->addSeparator();
  FileExitItem = AddItem(File1, "FileExitItem", "終了(&X)", &TVLMain::FileExitItemClick, "Ctrl+Q");
  FileExitItem->setStatusTip(Q("ｱﾌﾟﾘｹｰｼｮﾝの終了"));

  Edit1 = menu("Edit1", "編集(&E)", &TVLMain::Edit1Click);
  UndoItem = AddItem(Edit1, "UndoItem", "取り消し(&Z)", &TVLMain::UndoItemClick, "Ctrl+Z");
  Edit1->addSeparator();
  CopyItem = AddItem(Edit1, "CopyItem", "表示画面のコピー （クリップボードへ）", &TVLMain::CopyItemClick, "Ctrl+C");
  PasteItem = AddItem(Edit1, "PasteItem", "クリップボードから貼り付け(&V)", &TVLMain::PasteItemClick, "Ctrl+V");
  Edit1->addSeparator();
  PaperColorItem = AddItem(Edit1, "PaperColorItem", "現在の選択色を用紙色に指定(&P)", &TVLMain::PaperColorItemClick);
  PaperResizeItem = AddItem(Edit1, "PaperResizeItem", "用紙サイズ変更...", &TVLMain::PaperResizeItemClick);
  PaperResolutionItem = AddItem(Edit1, "PaperResolutionItem", "画像解像度変更...", &TVLMain::PaperResolutionItemClick);
  Edit1->addSeparator();
  VFlipItem = AddItem(Edit1, "VFlipItem", "表示部分の上下反転", &TVLMain::VFlipItemClick);
  HFlipItem = AddItem(Edit1, "HFlipItem", "表示部分の左右反転", &TVLMain::HFlipItemClick);
  Rotate180Item = AddItem(Edit1, "Rotate180Item", "表示領域の１８０度回転", &TVLMain::Rotate180ItemClick);
  NegaPosiItem = AddItem(Edit1, "NegaPosiItem", "表示部分のネガポジ反転", &TVLMain::NegaPosiItemClick);
  Edit1->addSeparator();
  RotateRightItem = AddItem(Edit1, "RotateRightItem", "画像の９０度 右回転", &TVLMain::RotateRightItemClick);
  RotateLeftItem = AddItem(Edit1, "RotateLeftItem", "画像の９０度 左回転", &TVLMain::RotateLeftItemClick);

  Show1 = menu("Show1", "表示(&V)", &TVLMain::Show1Click);
  ZoomInItem = AddItem(Show1, "ZoomInItem", "拡大表示", &TVLMain::ZoomInItemClick);
  ZoomOutItem = AddItem(Show1, "ZoomOutItem", "縮小表示", &TVLMain::ZoomOutItemClick);
  Show1->addSeparator();
  EventWaitItem = AddItem(Show1, "EventWaitItem", "イベント再生にウェイトを掛ける", &TVLMain::EventWaitItemClick);
  EventWaitItem->setCheckable(true);
  EventStopItem = AddItem(Show1, "EventStopItem", "イベント再生の停止", &TVLMain::EventStopItemClick);
  Show1->addSeparator();
  CaptureSaveItem = AddItem(Show1, "CaptureSaveItem", "デフォルトパスに年月日番号でBITMAP保存", &TVLMain::CaptureSaveItemClick);

  Window1 = menu("Window1", "ｳｨﾝﾄﾞｳ(&W)", &TVLMain::Window1Click);
  WindowCascadeItem = AddItem(Window1, "WindowCascadeItem", "重ねて表示(&C)", &TVLMain::WindowCascadeItemClick);
  WindowTileItem = AddItem(Window1, "WindowTileItem", "ならべて表示(&T)", &TVLMain::WindowTileItemClick);
  WindowArrangeItem = AddItem(Window1, "WindowArrangeItem", "ｱｲｺﾝの整列(&A)", &TVLMain::WindowArrangeItemClick);
  WindowMinimizeItem = AddItem(Window1, "WindowMinimizeItem", "すべてをｱｲｺﾝ化(&M)", &TVLMain::WindowMinimizeItemClick);
  Window1->addSeparator();
  ShowAllToolItem = AddItem(Window1, "ShowAllToolItem", "全てのツールを表示", &TVLMain::ShowAllToolItemClick);
  DefaultToolPosItem = AddItem(Window1, "DefaultToolPosItem", "ツール位置の初期化", &TVLMain::DefaultToolPosItemClick);
  Window1->addSeparator();
  ToolWinItem = AddItem(Window1, "ToolWinItem", "ツールボックス表示", &TVLMain::ToolWinItemClick);
  ColorWinItem = AddItem(Window1, "ColorWinItem", "カラーパレット表示", &TVLMain::ColorWinItemClick);
  BrushWinItem = AddItem(Window1, "BrushWinItem", "ブラシツール表示", &TVLMain::BrushWinItemClick);
  PreviewWinItem = AddItem(Window1, "PreviewWinItem", "プレビュー表示", &TVLMain::PreviewWinItemClick);
  LayerWinItem = AddItem(Window1, "LayerWinItem", "レイヤウィンドウ表示", &TVLMain::LayerWinItemClick);
  for (QAction* a : {ToolWinItem, ColorWinItem, BrushWinItem, PreviewWinItem, LayerWinItem}) a->setCheckable(true);

  NetworkItem = menu("NetworkItem", "ﾈｯﾄﾜｰｸ(&N)", &TVLMain::NetworkItemClick);
  NetHomepageItem = AddItem(NetworkItem, "NetHomepageItem", "VelloraのWebPageをブラウザで開く", &TVLMain::NetHomepageItemClick);
  NetUploadItem = AddItem(NetworkItem, "NetUploadItem", "画像イベントデータのアップロードをブラウザで行う",
                          &TVLMain::NetUploadItemClick);
  NetLatestItem = AddItem(NetworkItem, "NetLatestItem", "最新の投稿を見る", &TVLMain::NetLatestItemClick);
  NetworkItem->addSeparator();
  NetClientItem = AddItem(NetworkItem, "NetClientItem", "ネットワークウィンドウ表示(&N) ...", &TVLMain::NetClientItemClick);
  NetFinishItem = AddItem(NetworkItem, "NetFinishItem", "ネットワークの終了(&E)", &TVLMain::NetFinishItemClick);

  Help1 = menu("Help1", "ﾍﾙﾌﾟ(&H)", nullptr);
  N24 = AddItem(Help1, "N24", "簡易ヘルプウィンドウ表示(&H)...", &TVLMain::N24Click);
  Help1->addSeparator();
  JapaneseItem = AddItem(Help1, "JapaneseItem", "Japonais    ", &TVLMain::JapaneseItemClick);
  EnglishItem = AddItem(Help1, "EnglishItem", "Français   ", &TVLMain::EnglishItemClick);
  JapaneseItem->setCheckable(true);
  EnglishItem->setCheckable(true);
  JapaneseItem->setChecked(true);

  // Ctrl shortcuts from every window of the program; a focused text field keeps its own.
  struct Key {
    const char* seq;
    void (TVLMain::*opening)();
    QAction* item;
  };
  const Key keys[] = {
      {"Ctrl+N", &TVLMain::File1Click, FileNewItem},      {"Ctrl+O", &TVLMain::File1Click, FileOpenItem},
      {"Ctrl+W", &TVLMain::File1Click, FileCloseItem},    {"Ctrl+F4", &TVLMain::File1Click, FileCloseItem},
      {"Ctrl+S", &TVLMain::File1Click, FileSaveItem},
      {"Ctrl+A", &TVLMain::File1Click, FileSaveAsItem},   {"Ctrl+Y", &TVLMain::File1Click, FileSaveCopyItem},
      {"Ctrl+Q", &TVLMain::File1Click, FileExitItem},     {"Ctrl+Z", &TVLMain::Edit1Click, UndoItem},
      {"Ctrl+C", &TVLMain::Edit1Click, CopyItem},         {"Ctrl+V", &TVLMain::Edit1Click, PasteItem},
  };
  for (const Key& k : keys) {
    auto* s = new QShortcut(QKeySequence(Q(k.seq)), this);
    s->setObjectName(QString("Shortcut_") + k.item->objectName());
    s->setContext(Qt::ApplicationShortcut);
    auto opening = k.opening;
    QAction* item = k.item;
    connect(s, &QShortcut::activated, this, [this, opening, item] {
      (this->*opening)();
      if (item->isEnabled()) item->trigger();
    });
  }
}

void TVLMain::ShowShortcutLabels() {
  for (QAction* a : findChildren<QAction*>()) {
    const QString keys = a->property("shortcutText").toString();
    if (!keys.isEmpty() && !a->text().contains('\t')) a->setText(a->text() + "\t" + keys);
  }
}

// ---- Placement ------------------------------------------------------------------------------

void TVLMain::ReadPlacement() {
  const std::optional<bool> maximized = Registry->ReadBool("Maximized");
  if (!maximized || *maximized) {
    setWindowState(windowState() | Qt::WindowMaximized);
    return;
  }
  setWindowState(windowState() & ~Qt::WindowMaximized);
  int left = x(), top = y(), w = width(), h = height();
  if (auto v = Registry->ReadInteger("WinLeft")) left = *v;
  if (auto v = Registry->ReadInteger("WinTop")) top = *v;
  if (auto v = Registry->ReadInteger("WinWidth")) w = *v;
  if (auto v = Registry->ReadInteger("WinHeight")) h = *v;
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  if (left > (plat::GetSystemMetrics(plat::SM_CXFULLSCREEN) / 4) * 3) left = 0;
  if (top > (plat::GetSystemMetrics(plat::SM_CYFULLSCREEN) / 4) * 3) top = 0;
  if (w > 5000) w = 5000;
  if (h > 5000) h = 5000;
  move(left, top);
  resize(std::max(w, 1), std::max(h, 1));
}

void TVLMain::WritePlacement() {
  const bool maximized = isMaximized();
  Registry->WriteBool("Maximized", maximized);
  if (!maximized) {
    Registry->WriteInteger("WinLeft", x());
    Registry->WriteInteger("WinTop", y());
    Registry->WriteInteger("WinWidth", width());
    Registry->WriteInteger("WinHeight", height());
  }
}

// ---- Paper windows ----------------------------------------------------------------------------

std::vector<TDrawWindow*> TVLMain::DrawWindows() const {
  std::vector<TDrawWindow*> out;
  for (QMdiSubWindow* s : MdiArea->subWindowList(QMdiArea::CreationOrder)) {
    auto* w = qobject_cast<TDrawWindow*>(s->widget());
    if (w && !w->TearingDown()) out.push_back(w);
  }
  return out;
}

TDrawWindow* TVLMain::ActiveDrawWindow() const {
  auto usable = [](QMdiSubWindow* s) -> TDrawWindow* {
    if (!s) return nullptr;
    auto* w = qobject_cast<TDrawWindow*>(s->widget());
    return w && !w->TearingDown() ? w : nullptr;
  };
  if (TDrawWindow* w = usable(MdiArea->currentSubWindow())) return w;
  // A tool window has the focus: the paper window last active stays the one commands act on.
  if (TDrawWindow* w = usable(lastActive_.data())) return w;
  const QList<QMdiSubWindow*> order = MdiArea->subWindowList(QMdiArea::StackingOrder);
  for (auto it = order.rbegin(); it != order.rend(); ++it)
    if (TDrawWindow* w = usable(*it)) return w;
  return nullptr;
}

TDrawWindow* TVLMain::CreateDrawWindow(const std::string& caption) {
  auto* w = new TDrawWindow;
  QMdiSubWindow* sub = MdiArea->addSubWindow(w);
  sub->setAttribute(Qt::WA_DeleteOnClose);
  plat::RememberRestoreState(sub);
  // The frame's own close keys would make Ctrl+W ambiguous, so that it did nothing, and its
  // Ctrl+F4 acts only where the frame holds the focus: the menu's shortcuts close the window
  // (with its question) for both.
  if (QMenu* frameMenu = sub->systemMenu())
    for (QAction* a : frameMenu->actions()) {
      QList<QKeySequence> keys = a->shortcuts();
      const qsizetype taken = keys.removeAll(QKeySequence(Qt::CTRL | Qt::Key_W)) +
                              keys.removeAll(QKeySequence(Qt::CTRL | Qt::Key_F4));
      if (taken > 0) a->setShortcuts(keys);
    }
  w->SetCaption(caption);
  sub->show();
  MdiArea->setActiveSubWindow(sub);
  lastActive_ = sub;
  UpdateMenuItems();
  return w;
}

namespace {

// The outer rectangles of the shown tool windows that reach into the MDI area, in the area's
// coordinates.
std::vector<QRect> ToolWindowRects(const QWidget* area) {
  std::vector<QRect> out;
  for (const QWidget* t : std::initializer_list<const QWidget*>{ToolsWindow, PreviewWindow, PenWindow2, ColorWindow,
                                                                LayerWindow, SelectWindow}) {
    if (!t || !t->isVisible()) continue;
    QRect r = plat::OuterRect(t);
    r.moveTopLeft(area->mapFromGlobal(r.topLeft()));
    if (r.intersects(area->rect())) out.push_back(r);
  }
  return out;
}

}  // namespace

void TVLMain::PlacePaperWindow(TDrawWindow* w) {
  QMdiSubWindow* sub = w ? w->SubWindow() : nullptr;
  QWidget* area = MdiArea->viewport();
  if (!sub || !w->IsNormalState() || !area->isVisible() || area->rect().isEmpty()) return;
  const QRect room = area->rect();
  // Never larger than the area: its frame and scroll bars stay within reach.
  const QSize size = sub->size().boundedTo(room.size());
  if (size != sub->size()) sub->resize(size);
  const std::vector<QRect> tools = ToolWindowRects(area);
  auto free = [&](QPoint at) {
    const QRect r(at, size);
    if (!room.contains(r)) return false;
    return std::none_of(tools.begin(), tools.end(), [&](const QRect& t) { return t.intersects(r); });
  };
  const QPoint here = sub->pos();
  QPoint best = QPoint(std::clamp(here.x(), room.left(), room.right() + 1 - size.width()),
                       std::clamp(here.y(), room.top(), room.bottom() + 1 - size.height()));
  if (!free(here)) {
    // Free places touch the area's edges or a tool window's edges.
    std::vector<int> xs{room.left(), room.right() + 1 - size.width()}, ys{room.top(), room.bottom() + 1 - size.height()};
    for (const QRect& t : tools) {
      xs.insert(xs.end(), {t.right() + 1, t.left() - size.width()});
      ys.insert(ys.end(), {t.bottom() + 1, t.top() - size.height()});
    }
    int bestDistance = -1;
    for (int x : xs)
      for (int y : ys) {
        const int d = std::abs(x - here.x()) + std::abs(y - here.y());
        if (free({x, y}) && (bestDistance < 0 || d < bestDistance)) bestDistance = d, best = {x, y};
      }
  }
  if (best != here) sub->move(best);
}

void TVLMain::PaperChanged(bool refit) {
  TDrawWindow* w = ActiveDrawWindow();
  if (!w || !w->Paper || !w->Paper->Initialised) return;
  TPaper& p = *w->Paper;
  if (refit && w->IsNormalState()) {
    p.Display.FitWindow(p.Width(), p.Height(), *w);
    const float zoom = p.Display.Zoom();
    w->ScrollBar1.SetPosition(w->ScrollBar1.Max() / 2 - static_cast<int32_t>(p.Width() * static_cast<ext_t>(zoom)) / 2 - 32);
    w->ScrollBar2.SetPosition(w->ScrollBar2.Max() / 2 - static_cast<int32_t>(p.Height() * static_cast<ext_t>(zoom)) / 2 - 32);
  }
  p.Composite();
  w->Redraw();
  if (PreviewWindow) PreviewWindow->NeedsFit = true;
  if (LayerWindow) LayerWindow->DrawLayers(&p);
}

void TVLMain::UpdateMenuItems() {
  const bool any = !DrawWindows().empty();
  for (QAction* a : {UndoItem, EventExportItem, WindowCascadeItem, WindowTileItem, WindowArrangeItem,
                     WindowMinimizeItem, CaptureSaveItem, ZoomInItem, ZoomOutItem, CopyItem, PasteItem,
                     PaperResolutionItem, PaperResizeItem, PaperColorItem, VFlipItem, HFlipItem, NegaPosiItem,
                     RotateRightItem, RotateLeftItem, Rotate180Item})
    a->setEnabled(any);
  // An open menu took the focus as it opened, after its opening had set its items: its
  // opening decides again, so that what the user sees and can choose stays its decision.
  const std::pair<QMenu*, void (TVLMain::*)()> openings[] = {{File1, &TVLMain::File1Click},
                                                             {Edit1, &TVLMain::Edit1Click},
                                                             {Show1, &TVLMain::Show1Click},
                                                             {Window1, &TVLMain::Window1Click},
                                                             {NetworkItem, &TVLMain::NetworkItemClick}};
  for (const auto& [menu, opening] : openings)
    if (menu->isVisible()) (this->*opening)();
}

// ---- Activation -----------------------------------------------------------------------------

void TVLMain::FirstActivate() {
  if (!FirstActivation) return;
  FirstActivation = false;
  const int language = StartLanguage(*Registry);
  SetLanguage(language);
  ShowShortcutLabels();
  JapaneseItem->setChecked(language == 0);
  EnglishItem->setChecked(language == 1);

  Stroke->LoadPreset(bkPen, 1);
  if (PenWindow2) PenWindow2->SelectBrush(BrushIconOfKind(Stroke->GetKind()));
  ToolWindowsShown = true;

  const std::string autosave = AutosavePath();
  if (plat::FileExists(autosave)) {
    plat::MessageBox("前回異常終了しましたので、ファイルを復帰します。", "", unsigned{plat::MB_OK} | plat::MB_ICONINFORMATION);
    const size_t before = DrawWindows().size();
    OpenFile(autosave);
    if (DrawWindows().size() > before) {
      TDrawWindow* w = DrawWindows().back();
      if (w->Paper) {
        w->Paper->Name = "NONAME";
        w->SetCaption(w->Paper->Caption());
      }
    } else {
      // It may be the only copy of the last work: kept under a name that no quit deletes.
      std::string kept = KeepRefusedAutosave(autosave);
      if (kept.empty()) {
        AutosaveHeld = true;
        kept = autosave;
      }
      plat::MessageBox(msgAutosaveKept + "\n" + kept, "", unsigned{plat::MB_OK} | plat::MB_ICONWARNING);
    }
  }
  if (CommandLineFile && !CommandLineFile->empty()) OpenFile(*CommandLineFile);
  activateWindow();
  if (PreviewWindow) PreviewWindow->ClearView();
}

std::string TVLMain::KeepRefusedAutosave(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string stem = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "$$$tmp-refused-";
  for (int n = 0; n < 10000; ++n) {
    const std::string name = stem + std::to_string(n) + ".wpb";
    if (plat::FileExists(name) || plat::DirExists(name)) continue;
    return std::rename(path.c_str(), name.c_str()) == 0 ? name : std::string();
  }
  return {};
}

void TVLMain::AppActivate() {
  if (FirstActivation) FirstActivate();
  SetUpdateMode(true);
  if (Tablet && Tablet->Available()) {
    int32_t x = 0, y = 0, w = 100, h = 100;
    plat::TRegistry env;
    if (env.OpenKey(kVelloraKey, true) && env.ReadBool("TabletCorrect").value_or(false)) {
      x = env.ReadInteger("TabletCorrectX").value_or(0);
      y = env.ReadInteger("TabletCorrectY").value_or(0);
      w = env.ReadInteger("TabletCorrectWidth").value_or(100);
      h = env.ReadInteger("TabletCorrectHeight").value_or(100);
    }
    Tablet->OpenContext(this, x, y, w, h);
  }
}

void TVLMain::AppDeactivate() {
  SetUpdateMode(false);
  if (Tablet && Tablet->Available()) Tablet->CloseContext();
}

void TVLMain::AppHint(const QString& hint) { StatusBar->showMessage(hint); }

bool TVLMain::eventFilter(QObject* watched, QEvent* event) {
  // Qt sends press, release, double-click, release: the double-click itself opens.
  if (watched == MdiArea->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    FormDblClick();
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---- Messages -------------------------------------------------------------------------------

int64_t TVLMain::WMCopyData(const std::string& data) {
  setWindowTitle("OK");
  const size_t zero = data.find('\0');
  QueueOpen(zero == std::string::npos ? data : data.substr(0, zero));
  return 1;
}

void TVLMain::WMNetLaunch() {
  for (TDrawWindow* w : DrawWindows())
    if (w->Paper && w->Paper->NetMode == 1) return;
  plat::TRegistry key;
  key.OpenKey(kRoomvaneKey, true);
  if (NetWindow) NetWindow->show();
  const std::optional<bool> isServer = key.ReadBool("IsServer");
  if (!isServer || !NetWindow) return;
  auto text = [&](const char* name) { return QString::fromStdString(key.ReadString(name).value_or("")); };
  // A missing integer ends the launch there, the network window left shown.
  auto number = [&](const char* name, QSpinBox* spin) {
    std::optional<int32_t> v = key.ReadInteger(name);
    if (v) spin->setValue(*v);
    return v.has_value();
  };
  if (*isServer) {
    NetWindow->EditServerUser->setText(text("User"));
    NetWindow->EditServerPassword->setText(text("Password"));
    if (!number("X", NetWindow->SpinEditNetWidth) || !number("Y", NetWindow->SpinEditNetHeight) ||
        !number("Port", NetWindow->SpinEditPort) || !number("MaxConnections", NetWindow->SpinEditMaxMember) ||
        !number("Layer", NetWindow->SpinEditLayer))
      return;
    NetWindow->StartHosting();
  } else {
    NetWindow->EditClientUser->setText(text("User"));
    NetWindow->EditClientPassword->setText(text("Password"));
    if (!number("Port", NetWindow->SpinEditPort)) return;
    NetWindow->EditIP->setText(text("IPAddress"));
    NetWindow->StartJoining();
  }
  NetWindow->hide();
  if (ChatWindow) ChatWindow->show();
}

// ---- Close ----------------------------------------------------------------------------------

bool TVLMain::CloseAllPapers(bool ask) {
  for (TDrawWindow* w : DrawWindows()) w->CloseWindow(ask);
  return DrawWindows().empty();
}

void TVLMain::closeEvent(QCloseEvent* e) {
  if (!DrawWindows().empty() &&
      plat::MessageBox(msgQuit, "", unsigned{plat::MB_YESNO} | plat::MB_ICONQUESTION) != plat::IDYES) {
    e->ignore();
    return;
  }
  // The program ends: no step runs while the papers close (a session paper asks where to keep
  // its record, in a dialog with a loop of its own), so nothing writes an autosave again.
  Quitting = true;
  SetUpdateMode(false);
  if (Tablet && Tablet->Available()) Tablet->CloseContext();
  Tablet.reset();
  Registry->WriteBool("EventWait", EventWaitItem->isChecked());
  Registry->WriteBool("Japanese", JapaneseItem->isChecked());
  WritePlacement();
  // Each paper window ends as a close would end it, without asking again.
  CloseAllPapers(false);
  // Last: the autosave is of no more use once every paper has closed.
  const std::string autosave = AutosavePath();
  if (!AutosaveHeld && plat::FileExists(autosave)) std::remove(autosave.c_str());
  e->accept();
}

// ---- Menu openings ----------------------------------------------------------------------------

void TVLMain::Show1Click() {
  TDrawWindow* w = ActiveDrawWindow();
  EventStopItem->setEnabled(w && w->Playing);
}

void TVLMain::Window1Click() {
  ToolWinItem->setChecked(ToolsWindow && ToolsWindow->isVisible());
  ColorWinItem->setChecked(ColorWindow && ColorWindow->isVisible());
  BrushWinItem->setChecked(PenWindow2 && PenWindow2->isVisible());
  PreviewWinItem->setChecked(PreviewWindow && PreviewWindow->isVisible());
  LayerWinItem->setChecked(LayerWindow && LayerWindow->isVisible());
  // The paper windows at the end, by their captions, the active one checked; choosing one
  // makes it the active window, restored when it was minimised.
  // Removed now, freed later: the list can be made anew while one of its items is triggered.
  for (QAction* a : windowList_) {
    Window1->removeAction(a);
    a->deleteLater();
  }
  windowList_.clear();
  const std::vector<TDrawWindow*> papers = DrawWindows();
  if (papers.empty()) return;
  windowList_.push_back(Window1->addSeparator());
  const TDrawWindow* active = ActiveDrawWindow();
  for (size_t i = 0; i < papers.size(); ++i) {
    const QString number = i < 9 ? "&" + QString::number(i + 1) : QString::number(i + 1);
    QString caption = papers[i]->windowTitle();
    caption.replace("&", "&&");
    QAction* a = Window1->addAction(number + " " + caption);
    a->setObjectName("WindowListItem");
    a->setCheckable(true);
    a->setChecked(papers[i] == active);
    QPointer<TDrawWindow> paper(papers[i]);
    connect(a, &QAction::triggered, this, [this, paper] {
      if (!paper || paper->TearingDown()) return;
      for (QMdiSubWindow* s : MdiArea->subWindowList())
        if (s->widget() == paper) {
          plat::RestoreMinimised(s);
          MdiArea->setActiveSubWindow(s);
        }
    });
    windowList_.push_back(a);
  }
}

void TVLMain::NetworkItemClick() {
  bool network = false;
  for (TDrawWindow* w : DrawWindows())
    if (w->Paper && w->Paper->NetMode == 1) network = true;
  NetFinishItem->setEnabled(network);
}

// ---- File items built here --------------------------------------------------------------------

void TVLMain::FileNewItemClick() {
  if (NewWindow) NewWindow->exec();
}

void TVLMain::FileCloseItemClick() {
  if (TDrawWindow* w = ActiveDrawWindow()) w->CloseWindow(true);
}

void TVLMain::EnvWinItemClick() {
  if (!EnvWindow) return;
  EnvWindow->move(plat::GetSystemMetrics(plat::SM_CXFULLSCREEN) / 2 - EnvWindow->width() / 2,
                  plat::GetSystemMetrics(plat::SM_CYFULLSCREEN) / 2 - EnvWindow->height() / 2);
  EnvWindow->exec();
}

void TVLMain::FileExitItemClick() { close(); }

void TVLMain::FormDblClick() { FileOpenItemClick(); }

// ---- Edit items built here --------------------------------------------------------------------

void TVLMain::UndoItemClick() {
  // With nothing to undo there is no command, and nothing is recorded.
  TDrawWindow* w = ActiveDrawWindow();
  if (w && w->Paper && w->Paper->Initialised && w->Paper->Layers &&
      w->Paper->Layers->CanUndo(w->Paper->Layers->ActiveIndex()))
    w->Undo();
}

void TVLMain::PaperResizeItemClick() {
  if (SizeWindow && PaperDialogAllowed(ActiveDrawWindow())) SizeWindow->exec();
}

void TVLMain::PaperResolutionItemClick() {
  if (ResoWindow && PaperDialogAllowed(ActiveDrawWindow())) ResoWindow->exec();
}

// ---- Show -----------------------------------------------------------------------------------

// About the middle of the view, which stays where it is.
void TVLMain::ZoomInItemClick() {
  if (TDrawWindow* w = ActiveDrawWindow()) w->ZoomAround(true, w->ClientWidth() / 2, w->ClientHeight() / 2);
}

void TVLMain::ZoomOutItemClick() {
  if (TDrawWindow* w = ActiveDrawWindow()) w->ZoomAround(false, w->ClientWidth() / 2, w->ClientHeight() / 2);
}

// ---- Window ---------------------------------------------------------------------------------

void TVLMain::WindowCascadeItemClick() { MdiArea->cascadeSubWindows(); }
void TVLMain::WindowTileItemClick() { MdiArea->tileSubWindows(); }

void TVLMain::WindowArrangeItemClick() {
  // Minimised paper windows in a row along the bottom of the area.
  int x = 0;
  const int bottom = MdiArea->viewport()->height();
  for (QMdiSubWindow* s : MdiArea->subWindowList(QMdiArea::CreationOrder)) {
    if (!s->isMinimized()) continue;
    const QSize size = s->size();
    if (x > 0 && x + size.width() > MdiArea->viewport()->width()) x = 0;
    s->move(x, bottom - size.height());
    x += size.width();
  }
}

void TVLMain::WindowMinimizeItemClick() {
  const QList<QMdiSubWindow*> list = MdiArea->subWindowList(QMdiArea::CreationOrder);
  for (auto it = list.rbegin(); it != list.rend(); ++it) (*it)->showMinimized();
}

void TVLMain::ShowAllToolItemClick() {
  for (QWidget* w : std::initializer_list<QWidget*>{ColorWindow, PenWindow2, PreviewWindow, LayerWindow})
    if (w) w->show();
}

void TVLMain::DefaultToolPosItemClick() {
  if (PenWindow2) PenWindow2->SetDefaultPosition();
  if (ColorWindow) ColorWindow->SetDefaultPosition();
  if (LayerWindow) LayerWindow->SetDefaultPosition();
  if (PreviewWindow) PreviewWindow->SetDefaultPosition();
  if (ToolsWindow) ToolsWindow->SetDefaultPosition();
}

namespace {
void Toggle(QWidget* w) {
  if (w) w->setVisible(!w->isVisible());
}
}  // namespace

void TVLMain::ToolWinItemClick() { Toggle(ToolsWindow); }
void TVLMain::ColorWinItemClick() { Toggle(ColorWindow); }
void TVLMain::BrushWinItemClick() { Toggle(PenWindow2); }
void TVLMain::PreviewWinItemClick() { Toggle(PreviewWindow); }
void TVLMain::LayerWinItemClick() { Toggle(LayerWindow); }

// ---- Network and help ---------------------------------------------------------------------------

void TVLMain::OpenWebPage(int page) {
  // A page that cannot be opened is not reported.
  QDesktopServices::openUrl(QUrl(QString::fromStdString(WebAddress(page))));
}

void TVLMain::NetHomepageItemClick() { OpenWebPage(0); }
void TVLMain::NetUploadItemClick() { OpenWebPage(1); }
void TVLMain::NetLatestItemClick() { OpenWebPage(2); }

void TVLMain::NetClientItemClick() {
  if (ChatWindow) ChatWindow->show();
  if (NetWindow) NetWindow->show();
}

void TVLMain::NetFinishItemClick() {
  for (TDrawWindow* w : DrawWindows())
    if (w->Paper && w->Paper->NetMode == 1) w->CloseWindow(true);
}

void TVLMain::N24Click() {
  if (EzHelpWindow) EzHelpWindow->show();
}

void TVLMain::JapaneseItemClick() {
  JapaneseItem->setChecked(true);
  EnglishItem->setChecked(false);
  SetLanguage(0);
  ShowShortcutLabels();
  if (PenWindow2) PenWindow2->SelectBrush(BrushIconOfKind(Stroke->GetKind()));
  AutosaveWarning->setText(QString::fromStdString(msgAutosaveFailed));
}

void TVLMain::EnglishItemClick() {
  EnglishItem->setChecked(true);
  JapaneseItem->setChecked(false);
  SetLanguage(1);
  ShowShortcutLabels();
  if (PenWindow2) PenWindow2->SelectBrush(BrushIconOfKind(Stroke->GetKind()));
  AutosaveWarning->setText(QString::fromStdString(msgAutosaveFailed));
}
