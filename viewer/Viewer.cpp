#include "viewer/Viewer.h"

#include <QCloseEvent>
#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QMouseEvent>
#include <QScreen>
#include <QSpinBox>
#include <QCheckBox>
#include <algorithm>
#include <numeric>

#include "engine/EventPacket.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "platform/core/Clock.h"
#include "platform/core/Files.h"
#include "platform/core/KeyState.h"
#include "platform/core/MessageBox.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/KeyTracker.h"
#include "platform/qt/Placement.h"
#include "platform/qt/WindowMessages.h"
#include "viewer/ViewerMenu.h"

namespace {

constexpr uint32_t kSlowStepMs = 8;
// Progress captions are set at most this often; the end caption always.
constexpr uint32_t kCaptionStepMs = 20;
constexpr uint16_t kNewPaperCode = 512;

// The first event of a stream that validation accepted is ecNewPaper or ecPaperSize; only a
// new paper of a size the engine can hold gives the player something to show.
bool StartsWithUsablePaper(TEventPacket& packet) {
  const TMyMemory& d = packet.Data();
  if (d.Size() < 6) return false;
  const uint8_t* m = d.Memory();
  const uint16_t code = static_cast<uint16_t>(m[0] | (m[1] << 8));
  const int32_t w = m[2] | (m[3] << 8);
  const int32_t h = m[4] | (m[5] << 8);
  return code == kNewPaperCode && w >= 1 && w <= kMaxPaperSide && h >= 1 && h <= kMaxPaperSide;
}

int64_t LastWriteMs(const QFileInfo& fi) { return fi.lastModified().toMSecsSinceEpoch(); }

}  // namespace

TForm1::TForm1(QWidget* parent)
    : plat::TBufferedWidget(parent),
      ScrollBar1(Qt::Horizontal, this),
      ScrollBar2(Qt::Vertical, this),
      Paths(kListCapacity),
      Dates(kListCapacity, 0) {
  setObjectName("Form1");
  setWindowTitle(QString());
  setFont(plat::UiFont(12));
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(false);
  resize(341, 333);
  if (QScreen* s = QGuiApplication::primaryScreen()) {
    const QRect a = s->availableGeometry();
    move(a.left() + (a.width() - width()) / 2, a.top() + (a.height() - height()) / 2);
  }
  ScrollBar1.Bar()->setObjectName("ScrollBar1");
  ScrollBar2.Bar()->setObjectName("ScrollBar2");
  ScrollBar1.OnScroll = [this] { ScrollBar1Scroll(); };
  ScrollBar2.OnScroll = [this] { ScrollBar2Scroll(); };

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(300);
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);

  OpenDialog1 = new QFileDialog(this);
  OpenDialog1->setObjectName("OpenDialog1");
  OpenDialog1->setDefaultSuffix("wpe");
  OpenDialog1->setNameFilter(QString::fromUtf8("[vl] イベント (*.wpe)"));
  OpenDialog1->setFileMode(QFileDialog::ExistingFile);
  OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);

  IdleTimer = new QTimer(this);
  IdleTimer->setObjectName("IdleTimer");
  IdleTimer->setSingleShot(true);
  IdleTimer->setTimerType(Qt::PreciseTimer);
  connect(IdleTimer, &QTimer::timeout, this, [this] {
    AppIdle();
    ScheduleIdle();
  });

  // FormCreate
  setAcceptDrops(true);
  WaitingNext = 0;
  EndTime = 0;
  FileCount = 0;
  FileIndex = 0;
  Playing = 0;
  HandDragging = 0;
  Paper = std::make_unique<TPaper>();
  Paper->Init("NONAME", 256, 256);
  Brush = std::make_unique<TStroke>();
  Packet = std::make_unique<TEventPacket>();
  RedrawPaper();
  UpdateView();
  ScrollBar1.SetPosition(ScrollBar1.Max() / 2 - Paper->Width() / 2 - 32);
  ScrollBar2.SetPosition(ScrollBar2.Max() / 2 - Paper->Height() / 2 - 32);

  // Found by its class name by a second start, which hands over its file.
  windowClass_ = std::make_unique<plat::TWindowClass>(
      "TForm1", this, [this](const plat::TWindowMessage& m) -> int64_t {
        return m.Msg == plat::WM_COPYDATA ? WMCopyData(m.Data) : 0;
      });
}

// FormDestroy: the paper, brush and packet go with the unique pointers.
TForm1::~TForm1() = default;

void TForm1::EnableIdleLoop(bool on) {
  idleLoop_ = on;
  if (on) ScheduleIdle();
  else IdleTimer->stop();
}

void TForm1::ScheduleIdle() {
  if (!idleLoop_) return;
  if (Playing || HandDragging) {
    uint32_t wait = 0;
    if (Playing && !HandDragging && Form2 && Form2->CheckBox1->isChecked()) {
      const uint32_t since = timeGetTime() - LastSlowTick;
      wait = since < kSlowStepMs ? kSlowStepMs - since : 0;
    }
    IdleTimer->start(static_cast<int>(wait));
  } else if (WaitingNext) {
    // Nothing happens while the pause runs, so the loop sleeps until it ends (looking again
    // now and then, should the pause be shortened meanwhile).
    const int pause = Form2 ? Form2->SpinEdit1->value() : 3;
    const uint32_t since = timeGetTime() - EndTime;
    const uint32_t total = static_cast<uint32_t>(pause) * 1000u;
    IdleTimer->start(static_cast<int>(since < total ? std::min<uint32_t>(total - since, 50) : 0));
  } else {
    IdleTimer->stop();
  }
}

bool TForm1::WindowIsNormal() const {
  return (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) == 0;
}

void TForm1::FitToPaper() {
  Paper->Display.FitWindow(Paper->Width(), Paper->Height(), *this);
  // Never past the screen: a paper larger than it gets the largest window the screen holds,
  // its scroll bars and frame within reach.
  const QRect area = plat::WorkArea();
  const QMargins frame = plat::FrameMargins(this);
  const int most[2] = {area.width() - frame.left() - frame.right(), area.height() - frame.top() - frame.bottom()};
  if (ClientWidth() > most[0] || ClientHeight() > most[1])
    SetClientSize(std::min(ClientWidth(), most[0]), std::min(ClientHeight(), most[1]));
  plat::KeepOnScreen(this);
}

void TForm1::SelectInList(int index) {
  if (Form2) Form2->SelectRow(index);
}

void TForm1::ShowCorruptFile(const std::string& path) {
  plat::MessageBox("Fichier corrompu <" + path + ">", "Error", plat::MB_ICONERROR);
  close();
}

void TForm1::OpenEventFile(const std::string& path) {
  if (Playing) return;
  HandDragging = 0;
  Paper = std::make_unique<TPaper>();
  Packet = std::make_unique<TEventPacket>();
  // A path that names no regular file is not read at all.
  if (!plat::FileExists(path) || !Packet->LoadFromFile(path) || !StartsWithUsablePaper(*Packet)) {
    ShowCorruptFile(path);
    return;
  }
  Paper->SetViewerMode(1);
  Brush = std::make_unique<TStroke>();
  captionTail_.clear();
  uint16_t code = 0;
  uint8_t refit = 0;
  Paper->PlayEvent(*Packet, *Brush, code, refit, this);
  if (!Paper->Initialised) {  // the engine could not make a paper of that size
    ShowCorruptFile(path);
    return;
  }
  // The caption names the file being played.
  Paper->Name = plat::FileNameOf(path);
  if (WindowIsNormal()) FitToPaper();
  RedrawPaper();
  UpdateView();
  ScrollBar1.SetPosition(ScrollBar1.Max() / 2 - Paper->Width() / 2 - 32);
  ScrollBar2.SetPosition(ScrollBar2.Max() / 2 - Paper->Height() / 2 - 32);
  Playing = 1;
  PlayStart = LastSlowTick = timeGetTime();
  lastCaptionTick_ = PlayStart - kCaptionStepMs;
  ScheduleIdle();
}

void TForm1::OpenSingleFile(const std::string& path) {
  FileIndex = 0;
  FileCount = 1;
  Paths[0] = path;
  Dates[0] = 0;
  if (Form2) {
    Form2->ClearList();
    Form2->AddToList(plat::FileNameOf(path));
    Form2->SelectRow(0);
  }
  Playing = 0;
  WaitingNext = 0;
  OpenEventFile(path);
}

bool TForm1::ScanFolder(const std::string& folder) {
  QDir dir(QString::fromStdString(folder));
  // Regular files only, hidden ones too, in the order the file system gives them: a folder
  // whose name ends in .wpe is not an event file, and a pipe would never end reading.
  dir.setFilter(QDir::Files | QDir::Hidden);
  dir.setNameFilters({QStringLiteral("*.wpe")});
  dir.setSorting(QDir::Unsorted);
  QFileInfoList found = dir.entryInfoList();
  found.removeIf([](const QFileInfo& fi) { return !fi.isFile(); });
  // Nothing to play: the list stays as it was.
  if (found.isEmpty()) return false;
  int n = 0;
  if (Form2) Form2->ClearList();
  std::string base = folder;
  if (base.empty() || base.back() != '/') base += '/';
  for (const QFileInfo& fi : found) {
    if (n >= kMaxFolderEntries) break;
    const std::string name = fi.fileName().toStdString();
    Paths[n] = base + name;
    Dates[n] = LastWriteMs(fi);
    if (Form2) Form2->AddToList(name);
    ++n;
  }
  FileCount = n;
  return true;
}

void TForm1::SortList(bool byName) {
  if (FileCount <= 1) return;
  const int64_t d = Dates[FileIndex];
  std::vector<int> order(FileCount);
  std::iota(order.begin(), order.end(), 0);
  // Stable, so that it gives what neighbour swaps of out-of-order pairs give: newest first by
  // date, byte order of the full path by name, equal keys in their old order.
  if (byName)
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return Paths[a] < Paths[b]; });
  else
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return Dates[a] > Dates[b]; });
  std::vector<std::string> paths(FileCount);
  std::vector<int64_t> dates(FileCount);
  for (int i = 0; i < FileCount; ++i) {
    paths[i] = std::move(Paths[order[i]]);
    dates[i] = Dates[order[i]];
  }
  for (int i = 0; i < FileCount; ++i) {
    Paths[i] = std::move(paths[i]);
    Dates[i] = dates[i];
  }
  if (Form2) {
    Form2->ClearList();
    for (int i = 0; i < FileCount; ++i) Form2->AddToList(plat::FileNameOf(Paths[i]));
  }
  for (int i = 0; i < FileCount; ++i)
    if (Dates[i] == d) {
      FileIndex = i;
      SelectInList(i);
      break;
    }
}

void TForm1::SortByDate() { SortList(false); }
void TForm1::SortByName() { SortList(true); }

void TForm1::RedrawPaper() {
  Paper->Composite();
  Paper->Paint(this);
}

void TForm1::RefitView(bool fit) {
  if (fit && WindowIsNormal()) FitToPaper();
  RedrawPaper();
  UpdateView();
}

void TForm1::LayoutScrollBars() {
  const ext_t z = Paper->Display.Zoom();
  const int32_t cw = ClientWidth(), ch = ClientHeight();
  const int32_t half = TDisplay::ScrollSlack();
  ScrollBar1.SetTop(ch - ScrollBar1.Thickness());
  ScrollBar1.SetWidth(cw - 16);
  ScrollBar1.SetLargeChange(TruncInt((cw - 16) / z));
  ScrollBar1.SetMax(TruncInt(Paper->Width() * z) + 2 * half);
  ScrollBar1.SetPage(cw);
  ScrollBar2.SetLeft(cw - ScrollBar2.Thickness());
  ScrollBar2.SetHeight(ch - 16);
  ScrollBar2.SetLargeChange(TruncInt((ch - 16) / z));
  ScrollBar2.SetMax(TruncInt(Paper->Height() * z) + 2 * half);
  ScrollBar2.SetPage(ch);
}

void TForm1::FillBackground(int x, int y, int w, int h) { plat::TBufferedWidget::FillRect(x, y, w, h, 0x808080); }

void TForm1::UpdateView() {
  LayoutScrollBars();
  const ext_t z = Paper->Display.Zoom();
  const int32_t cw = ClientWidth(), ch = ClientHeight();
  const int32_t half = TDisplay::ScrollSlack();
  int32_t margin[2] = {0, 0}, scroll[2] = {0, 0};
  for (int axis = 0; axis < 2; ++axis) {
    plat::TQtScrollBar& bar = axis == 0 ? ScrollBar1 : ScrollBar2;
    const int32_t paper = axis == 0 ? Paper->Width() : Paper->Height();
    const int32_t client = axis == 0 ? cw : ch;
    const int32_t max = TruncInt(paper * z) + 2 * half;
    if (bar.Position() > max - client) bar.SetPosition(max - client);
    const int32_t pos = bar.Position();
    scroll[axis] = TruncInt((pos - half) / z);
    margin[axis] = 0;
    if (pos < half) {
      margin[axis] = half - pos;
      scroll[axis] = 0;
      if (axis == 0) FillBackground(0, 0, margin[axis], ch);
      else FillBackground(0, 0, cw, margin[axis]);
    }
    if (client + half + pos >= max) {
      const int32_t from = max - pos - half;
      if (axis == 0) FillBackground(from, 0, cw - from, ch);
      else FillBackground(0, from, cw, ch - from);
    }
  }
  Paper->Display.SetMargins(margin[0], margin[1]);
  Paper->Display.SetScroll(scroll[0], scroll[1]);
  Paper->Paint(this);
}

void TForm1::SetProgressCaption(const std::string& tail, bool force) {
  captionTail_ = tail;
  const uint32_t now = timeGetTime();
  if (!force && now - lastCaptionTick_ < kCaptionStepMs) return;
  lastCaptionTick_ = now;
  setWindowTitle(QString::fromStdString(Paper->Caption() + tail));
}

void TForm1::AppIdle() {
  const uint32_t now = timeGetTime();
  if (WaitingNext) {
    const int pause = Form2 ? Form2->SpinEdit1->value() : 3;
    if (now - EndTime < static_cast<uint32_t>(pause) * 1000u) return;
    WaitingNext = 0;
    FileIndex += 1;
    if (FileIndex >= FileCount) FileIndex = 0;
    SelectInList(FileIndex);
    OpenEventFile(Paths[FileIndex]);
  }
  if (HandDragging) {
    const QPoint p = QCursor::pos();
    if (p.x() != DragLast[0] || p.y() != DragLast[1]) {
      ScrollBar1.SetPosition(ScrollBar1.Position() + (DragLast[0] - p.x()));
      ScrollBar2.SetPosition(ScrollBar2.Position() + (DragLast[1] - p.y()));
      DragLast[0] = p.x();
      DragLast[1] = p.y();
      UpdateView();
    }
  }
  if (Playing) {
    if (Form2 && Form2->CheckBox1->isChecked()) {
      if (now - LastSlowTick < kSlowStepMs) return;
      LastSlowTick = now;
    }
    uint16_t code = 0;
    uint8_t refit = 0;
    Playing = Paper->PlayEvent(*Packet, *Brush, code, refit, this) ? 1 : 0;
    SetProgressCaption(" : <Lecture à      :" + std::to_string(TruncInt(Packet->GetProgress())) + "[%] : " +
                           std::to_string(timeGetTime() - PlayStart) + "[ms]>",
                       false);
    if (refit) RefitView(true);
    if (!Playing) {
      const uint32_t end = timeGetTime();
      SetProgressCaption(" : <Quitte lecture   : " + std::to_string(end - PlayStart) + "[ms]>", true);
      WaitingNext = 1;
      EndTime = end;
    }
  }
}

void TForm1::WMDropFiles(const std::vector<std::string>& paths) {
  plat::TBusyCursor busy;
  if (Form2) Form2->ClearList();
  int k = 0;
  const size_t n = std::min<size_t>(paths.size(), kMaxDroppedFiles);
  for (size_t i = 0; i < n; ++i) {
    const std::string& p = paths[i];
    if (plat::UpperExtension(p) != ".WPE") continue;
    const QFileInfo fi(QString::fromStdString(p));
    if (!fi.isFile()) continue;  // a folder named like an event file is not one
    Paths[k] = p;
    Dates[k] = LastWriteMs(fi);
    if (Form2) Form2->AddToList(plat::FileNameOf(p));
    ++k;
  }
  if (k > 0) {
    FileCount = k;
    if (Form2 && Form2->SortChoice() == 1) SortByName();
    else SortByDate();
    WaitingNext = 0;
    Playing = 0;
    SelectInList(0);
    FileIndex = 0;
    OpenEventFile(Paths[0]);
  }
}

int64_t TForm1::WMCopyData(const std::string& data) {
  const std::string text = data.substr(0, data.find('\0'));
  if (plat::UpperExtension(text) == ".WPE") OpenSingleFile(text);
  return 1;
}

void TForm1::FormResize() { UpdateView(); }
void TForm1::FormPaint() { UpdateView(); }
void TForm1::ScrollBar1Scroll() { UpdateView(); }
void TForm1::ScrollBar2Scroll() { UpdateView(); }

void TForm1::FormKeyDown(int key) {
  if (plat::IsKeyDown(plat::VK_SPACE)) setCursor(Qt::OpenHandCursor);
  if (!plat::IsKeyDown(plat::VK_CONTROL)) return;
  const bool in = key == plat::VK_ADD;
  if (!in && key != plat::VK_SUBTRACT) return;
  TDisplay& d = Paper->Display;
  ext_t z = d.Zoom();
  int32_t cw = ClientWidth(), ch = ClientHeight();
  auto centre = [z](int32_t client, int32_t margin, int32_t scroll) {
    if (margin > 0) return TruncInt((client / 2) / z - margin / z);
    if (scroll > 0) return TruncInt((client / 2) / z + scroll);
    return TruncInt((client / 2) / z);
  };
  const int32_t px = centre(cw, d.MarginX, d.ScrollX);
  const int32_t py = centre(ch, d.MarginY, d.ScrollY);
  if (in) d.ZoomIn();
  else d.ZoomOut();
  if (plat::IsKeyDown(plat::VK_MENU) && WindowIsNormal()) FitToPaper();
  z = d.Zoom();
  cw = ClientWidth();
  ch = ClientHeight();
  const int32_t half = TDisplay::ScrollSlack();
  // The bars take the new zoom's range first, so that the new position is not cut to the old.
  LayoutScrollBars();
  ScrollBar1.SetPosition(half + TruncInt(px * z) - TruncInt(cw / 2.0L));
  ScrollBar2.SetPosition(half + TruncInt(py * z) - TruncInt(ch / 2.0L));
  UpdateView();
  if (in) UpdateView();
  // The caption tells the new zoom at once, during the pause between files too.
  if (!captionTail_.empty()) SetProgressCaption(captionTail_, true);
}

void TForm1::FormKeyUp(int) {
  HandDragging = 0;
  unsetCursor();
}

void TForm1::FormMouseDown(Qt::MouseButton button) {
  HandDragging = 0;
  if (button == Qt::LeftButton && plat::IsKeyDown(plat::VK_SPACE)) {
    const QPoint p = QCursor::pos();
    DragLast[0] = p.x();
    DragLast[1] = p.y();
    HandDragging = 1;
    setCursor(Qt::ClosedHandCursor);
    ScheduleIdle();
  }
}

void TForm1::FormMouseUp() {
  HandDragging = 0;
  unsetCursor();
}

void TForm1::FormDblClick() {
  if (OpenDialog1->exec() != QDialog::Accepted) return;
  const QStringList files = OpenDialog1->selectedFiles();
  if (files.isEmpty()) return;
  OpenSingleFile(files.first().toStdString());
}

void TForm1::Timer1Timer() {
  if (!isActiveWindow() || !Form2 || !Form2->CheckBox2->isChecked()) return;
  plat::PlaceBeside(Form2, this, true);
}

void TForm1::RepaintBuffer() { FormPaint(); }

void TForm1::resizeEvent(QResizeEvent* e) {
  plat::TBufferedWidget::resizeEvent(e);
  FormResize();
}

void TForm1::keyPressEvent(QKeyEvent* e) { FormKeyDown(plat::VirtualKeyOf(e)); }

void TForm1::keyReleaseEvent(QKeyEvent* e) {
  if (!e->isAutoRepeat()) FormKeyUp(plat::VirtualKeyOf(e));
}

void TForm1::mousePressEvent(QMouseEvent* e) { FormMouseDown(e->button()); }
void TForm1::mouseReleaseEvent(QMouseEvent*) { FormMouseUp(); }
void TForm1::mouseDoubleClickEvent(QMouseEvent*) { FormDblClick(); }

void TForm1::dragEnterEvent(QDragEnterEvent* e) {
  if (plat::HasDroppedPaths(e->mimeData())) e->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* e) {
  const std::vector<std::string> paths = plat::DroppedPaths(e->mimeData());
  if (paths.empty()) return;
  e->acceptProposedAction();
  WMDropFiles(paths);
}

void TForm1::closeEvent(QCloseEvent* e) {
  Playing = 0;
  WaitingNext = 0;
  HandDragging = 0;
  IdleTimer->stop();
  Timer1->stop();
  e->accept();
  // Closing the playback window ends the program: the list window goes too.
  if (Form2 && Form2->isVisible()) Form2->close();
}
