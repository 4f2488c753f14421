// The main window's commands on files and events: open, save, capture, export and import, and
// the queue through which dropped and handed-over files are opened.
#include <QApplication>
#include <QDate>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMdiSubWindow>
#include <QTimer>
#include <memory>

#include "engine/EventPacket.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "engine/io/CanvasFiles.h"
#include "engine/io/PictureFile.h"
#include "painter/DrawWin.h"
#include "painter/EnvWin.h"
#include "painter/FormEventMul.h"
#include "painter/Localize.h"
#include "painter/Main.h"
#include "painter/PreviewWin.h"
#include "platform/core/Clock.h"
#include "platform/core/Files.h"
#include "platform/core/MessageBox.h"
#include "platform/core/Settings.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/FileDialog.h"

namespace {

// The file dialogs of the main window (display texts and patterns separated by '|').
const char* const kOpenBitmapFilter =
    "Tous Fichiers    (*.wpb; *.bmp; *.jpg)|*.wpb;*.bmp;*.jpg|WPB Vellora 1.1 (*.wpb)|*.wpb|"
    "BMP Windows format (*.bmp)      |*.bmp|JPEG format (*.jpg)|*.jpg";
const char* const kSaveBitmapFilter =
    "WPB Vellora 1.1 format (*.wpb)|*.wpb|BMP Windows format (*.bmp)        |*.bmp|JPEG format  (*.jpg)|*.jpg";
const char* const kEventFilter = "Vellora event (*.wpe)      |*.wpe";
const char* const kCopyFilter = "Windowsビットマップファイル(*.bmp)|*.bmp|JPEGファイル (*.jpg)|*.jpg";

constexpr unsigned kErrorBox = unsigned{plat::MB_OK} | plat::MB_ICONERROR;
constexpr unsigned kInfoBox = unsigned{plat::MB_OK} | plat::MB_ICONINFORMATION;
constexpr unsigned kQuestionBox = unsigned{plat::MB_YESNO} | plat::MB_ICONQUESTION;

// A drop opens at most this many of its files.
constexpr size_t kMaxDroppedFiles = 32;
// How often queued files are looked at while a stroke or a dialog holds them back.
constexpr int kOpenPollMs = 20;
// The largest side of a picture that opens as a paper (the message that refuses a larger one
// names it).
constexpr int32_t kMaxPictureSide = 5000;
// The widest paper an import may make.
constexpr int32_t kMaxImportSide = kMaxPaperSide;

// The folder of a file, absolute, with its trailing separator.
std::string FolderOf(const std::string& path) {
  return QFileInfo(QString::fromStdString(path)).absolutePath().toStdString() + "/";
}

// The file name without folder and extension.
std::string BaseNameOf(const std::string& path) {
  std::string name = plat::FileNameOf(path);
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// A paper that has a file of its own (new, imported and recovered papers have none).
bool HasFile(const TPaper& p) { return !p.Name.empty() && p.Name != "NONAME" && p.Name != "SanNom"; }

// The folder every file dialog starts in: "Path" when it still exists, else the home folder.
std::string DialogFolder() {
  plat::TRegistry reg;
  if (reg.OpenKey(kVelloraKey, true))
    if (auto path = reg.ReadString("Path"); path && !path->empty() && plat::DirExists(*path)) return *path;
  return QDir::homePath().toStdString() + "/";
}

// "Path" := the folder of the file, with its trailing separator.
void WritePath(const std::string& file) {
  plat::TRegistry reg;
  if (reg.OpenKey(kVelloraKey, true)) reg.WriteString("Path", FolderOf(file));
}

plat::TFileDialogRequest BitmapSaveDialog() {
  plat::TFileDialogRequest d;
  d.Save = true;
  d.Name = "SaveDialogBitmap";
  d.Filter = kSaveBitmapFilter;
  d.FilterIndex = 1;
  d.DefaultExt = "wpb";
  d.OverwritePrompt = true;
  d.Folder = DialogFolder();
  return d;
}

void ShowSaveFailed(const std::string& path) {
  plat::MessageBox(msgSaveFailed + "\n" + path, "", kErrorBox);
}

void ShowError(const std::string& text) { plat::MessageBox(text, "", kErrorBox); }

// A file to open must be there and readable; each failure is told as what it is, not as a file
// of an unknown format.
bool CanOpen(const std::string& path) {
  if (!plat::FileExists(path)) {
    ShowError(msgFileNotFound);
    return false;
  }
  const int fd = plat::FileOpenRead(path);
  if (fd < 0) {
    ShowError(msgFileUnreadable);
    return false;
  }
  plat::FileClose(fd);
  return true;
}

// The largest paper side a stream makes when it is read at its scale: every ecNewPaper,
// ecCanvasSize and ecResolution is read as the player reads it.
int32_t LargestSide(const TEventPacket& stream, float scale) {
  TEventPacket probe;
  if (!probe.LoadFromMemory(stream.Data())) return 0;
  probe.SetScale(scale);
  probe.Data().Rewind();
  int32_t largest = 0;
  for (;;) {
    int32_t size = 0;
    if (MeasureEvent(probe.Data().ReadPointer(), probe.Data().Remaining(), size) != TEventMeasure::Complete) break;
    const uint16_t code = probe.ReadCode();
    if (code == ecEnd) break;
    int32_t w = 0, h = 0;
    uint8_t anchor = 0;
    if (code == ecNewPaper)
      probe.ReadNewPaper(w, h);
    else if (code == ecCanvasSize)
      probe.ReadCanvasSize(w, h, anchor);
    else if (code == ecResolution)
      probe.ReadResolution(w, h);
    else
      probe.Data().Skip(size - 2);
    largest = std::max({largest, w, h});
  }
  return largest;
}

}  // namespace

// ---- Placement ------------------------------------------------------------------------------

void TVLMain::PlaceNewWindow(TDrawWindow* w) {
  const int n = static_cast<int>(DrawWindows().size());
  if (QMdiSubWindow* sub = w->SubWindow()) sub->move((n - 1) * 16, (n - 1) * 16);
  PlacePaperWindow(w);
}

void TVLMain::CentrePaper(TDrawWindow* w) {
  TPaper& p = *w->Paper;
  p.Display.FitWindow(p.Width(), p.Height(), *w);
  w->Redraw();
  w->ScrollBar1.SetPosition(w->ScrollBar1.Max() / 2 - p.Width() / 2 - 32);
  w->ScrollBar2.SetPosition(w->ScrollBar2.Max() / 2 - p.Height() / 2 - 32);
  w->Redraw();
}

// ---- The File menu --------------------------------------------------------------------------

bool TVLMain::FileCommandAllowed(TDrawWindow* w, bool exportCommand) const {
  if (!w || !w->Paper || !w->Paper->Initialised) return false;
  // A network paper exports its session record and nothing else.
  if (w->Paper->NetMode) return exportCommand;
  if (w->Playing) return false;
  return !exportCommand || !w->Paper->EventsIncomplete;
}

void TVLMain::File1Click() {
  for (QAction* a : {FileCloseItem, FileSaveItem, FileSaveAsItem, FileSaveCopyItem, EventExportItem})
    a->setEnabled(false);
  FileOpenItem->setEnabled(true);
  TDrawWindow* w = ActiveDrawWindow();
  if (!w) return;
  FileCloseItem->setEnabled(true);
  const bool save = FileCommandAllowed(w, false);
  FileSaveItem->setEnabled(save);
  FileSaveAsItem->setEnabled(save);
  FileSaveCopyItem->setEnabled(save);
  EventExportItem->setEnabled(FileCommandAllowed(w, true));
}

void TVLMain::FileOpenItemClick() {
  plat::TFileDialogRequest d;
  d.Name = "OpenDialogBitmap";
  d.Filter = kOpenBitmapFilter;
  d.DefaultExt = "wpb";
  d.Folder = DialogFolder();
  const std::optional<std::string> path = plat::RunFileDialog(this, d);
  if (!path) return;
  WritePath(*path);
  const std::string ext = plat::UpperExtension(*path);
  if (ext == ".WPB")
    OpenWpb(*path);
  else if (ext == ".BMP")
    OpenBmp(*path);
  else if (ext == ".JPG" || ext == ".JPEG")
    OpenJpeg(*path);
}

void TVLMain::FileSaveItemClick() {
  TDrawWindow* w = ActiveDrawWindow();
  if (!FileCommandAllowed(w, false) || w->Packets[0]->InStroke()) return;
  TPaper& p = *w->Paper;
  if (HasFile(p)) {
    WritePath(p.Name);
    SaveFile(p.Name);
    return;
  }
  // A paper without a file of its own is given one, never a file named after its title.
  const std::optional<std::string> path = plat::RunFileDialog(this, BitmapSaveDialog());
  if (!path) return;
  WritePath(*path);
  if (!SaveFile(*path)) return;
  p.Name = *path;
  w->SetCaption(p.Caption());
}

void TVLMain::FileSaveAsItemClick() {
  TDrawWindow* w = ActiveDrawWindow();
  if (!FileCommandAllowed(w, false) || w->Packets[0]->InStroke()) return;
  const std::optional<std::string> path = plat::RunFileDialog(this, BitmapSaveDialog());
  if (!path) return;
  WritePath(*path);
  if (!SaveFile(*path)) return;
  w->Paper->Name = *path;
  w->SetCaption(w->Paper->Caption());
}

void TVLMain::FileSaveCopyItemClick() {
  TDrawWindow* w = ActiveDrawWindow();
  if (!FileCommandAllowed(w, false) || w->Packets[0]->InStroke()) return;
  plat::TFileDialogRequest d;
  d.Save = true;
  d.Name = "SaveDialogCopy";
  d.Title = "ファイルの複製を保存";
  d.Filter = kCopyFilter;
  d.DefaultExt = "bmp";
  d.OverwritePrompt = true;
  d.Folder = DialogFolder();
  if (HasFile(*w->Paper)) d.FileName = BaseNameOf(w->Paper->Name);
  const std::optional<std::string> path = plat::RunFileDialog(this, d);
  if (!path) return;
  WritePath(*path);
  SaveFile(*path);
}

void TVLMain::EventImportItemClick() {
  plat::TFileDialogRequest d;
  d.Name = "OpenDialogEvent";
  d.Filter = kEventFilter;
  d.DefaultExt = "wpe";
  d.Folder = DialogFolder();
  const std::optional<std::string> path = plat::RunFileDialog(this, d);
  if (!path) return;
  auto dialog = std::make_unique<TFormEventMul>(this);
  dialog->activateWindow();
  if (dialog->exec() != QDialog::Accepted) return;
  const float scale = dialog->Magnification();
  dialog.reset();
  ImportEvents(*path, scale);
  WritePath(*path);
}

void TVLMain::EventExportItemClick() { ExportEvents(); }

void TVLMain::EventWaitItemClick() {
  // A checkable item has toggled itself before this runs.
  if (!EventWaitItem->isCheckable()) EventWaitItem->setChecked(!EventWaitItem->isChecked());
  EventWait = EventWaitItem->isChecked();
}

void TVLMain::EventStopItemClick() {
  if (TDrawWindow* w = ActiveDrawWindow(); w && w->Playing) w->StopRequested = true;
}

std::string TVLMain::CaptureFileName(const std::string& folder, int year, int month, int day) {
  const std::string stem = folder + std::to_string(year) + "-" + std::to_string(month) + "-" + std::to_string(day) + "-";
  for (int n = 0;; ++n) {
    std::string name = stem + std::to_string(n) + ".bmp";
    if (!plat::FileExists(name) && !plat::DirExists(name)) return name;
  }
}

void TVLMain::CaptureSaveItemClick() {
  TDrawWindow* w = ActiveDrawWindow();
  if (!w || !w->Paper || !w->Paper->Initialised) return;
  std::string folder;
  {
    plat::TRegistry reg;
    if (reg.OpenKey(kVelloraKey, true))
      if (auto path = reg.ReadString("Path")) folder = *path;
  }
  if (folder.empty()) folder = plat::DataDir() + "/";
  if (folder.back() != '/') folder += '/';
  const QDate today = QDate::currentDate();
  const std::string name = CaptureFileName(folder, today.year(), today.month(), today.day());
  bool ok;
  {
    plat::TBusyCursor busy;
    ok = SaveBMP(w->Paper->CompositeImage, name);
  }
  if (!ok) {
    ShowSaveFailed(name);
    return;
  }
  plat::MessageBox(name + " - " + msgScreenCaptured, "", kInfoBox);
}

// ---- Opening --------------------------------------------------------------------------------

void TVLMain::OpenFile(const std::string& path) {
  const std::string ext = plat::UpperExtension(path);
  if (ext == ".WPB") OpenWpb(path);
  if (ext == ".BMP") OpenBmp(path);
  if (ext == ".JPG") OpenJpeg(path);
  if (ext == ".WPE") {
    auto dialog = std::make_unique<TFormEventMul>(this);
    dialog->activateWindow();
    if (dialog->exec() != QDialog::Accepted) return;
    const float scale = dialog->Magnification();
    dialog.reset();
    ImportEvents(path, scale);
  }
}

bool TVLMain::OpenWpb(const std::string& path) {
  if (!CanOpen(path)) return false;
  // Only the current layout is read; the start decides before a window is made for the file.
  uint8_t head[4] = {0, 0, 0, 0};
  {
    const int fd = plat::FileOpenRead(path);
    const int64_t n = fd >= 0 ? plat::FileRead(fd, head, 4) : -1;
    if (fd >= 0) plat::FileClose(fd);
    if (n != 4) head[0] = 0;
  }
  if (head[0] != 'W' || head[1] != 'P' || head[2] != 'B' || head[3] != '2') {
    ShowError(msgUnknownFormat);
    return false;
  }
  if (TDrawWindow* active = ActiveDrawWindow(); active && active->IsMaximized()) active->SetNormalState();
  // The hourglass while the file loads; questions and dialogs are asked without it.
  plat::TBusyCursor busy;
  TDrawWindow* w = CreateDrawWindow("");
  // The engine tells the user why it refused a file; the window made for it goes again.
  if (!w->Paper->LoadFromFile(path, *w->Packets[0])) {
    w->CloseWindow(false);
    return false;
  }
  w->SetCaption(w->Paper->Caption());
  w->Paper->Display.FitWindow(w->Paper->Width(), w->Paper->Height(), *w);
  PlaceNewWindow(w);
  w->RecompositeAll();
  w->ScrollBar1.SetPosition(w->ScrollBar1.Max() / 2 - w->Paper->Width() / 2 - 32);
  w->ScrollBar2.SetPosition(w->ScrollBar2.Max() / 2 - w->Paper->Height() / 2 - 32);
  if (PreviewWindow) PreviewWindow->NeedsFit = true;
  w->Redraw();
  return true;
}

bool TVLMain::OpenPicture(const std::string& path, bool jpeg) {
  if (!CanOpen(path)) return false;
  // Decoded before anything else: a file that does not decode leaves no paper behind.
  TTCDC picture;
  bool decoded;
  TPictureError error = TPictureError::None;
  {
    plat::TBusyCursor busy;
    decoded = jpeg ? LoadJPEG(picture, path, nullptr, &error) : LoadBMP(picture, path, nullptr, &error);
  }
  // A picture is opened whole or not at all: a cut copy would later be saved over its source.
  if (decoded && (picture.Width() > kMaxPictureSide || picture.Height() > kMaxPictureSide)) {
    decoded = false;
    error = TPictureError::TooLarge;
  }
  if (!decoded) {
    ShowError(error == TPictureError::Damaged      ? msgFileDamaged
              : error == TPictureError::TooLarge   ? msgPictureTooLarge
              : error == TPictureError::CannotRead ? msgFileUnreadable
                                                   : msgUnknownFormat);
    return false;
  }
  if (plat::MessageBox(msgEventsNotExportable, "", kQuestionBox) != plat::IDYES)
    return false;
  plat::TBusyCursor busy;
  if (TDrawWindow* active = ActiveDrawWindow(); active && active->IsMaximized()) active->SetNormalState();
  TDrawWindow* w = CreateDrawWindow("");
  TPaper& p = *w->Paper;
  const int32_t width = picture.Width(), height = picture.Height();
  if (!p.Init("NONAME", width, height)) {
    w->CloseWindow(false);
    ShowError(msgLayerMemory);
    return false;
  }
  w->Packets[0]->WriteNewPaper(width, height);
  // The picture's pixels are not in the record, so the record cannot rebuild the paper.
  p.SetEventsIncomplete(true);
  p.Layers->LayerImage(0)->LoadFromTTC(picture);
  p.Layers->Layers(0)->UpdateThumbnail();
  p.Layers->Flow().Reset();
  p.Layers->SetActiveLayer(p.Layers->ActiveIndex());
  PlaceNewWindow(w);
  if (PreviewWindow) PreviewWindow->NeedsFit = true;
  w->Paper->Display.FitWindow(width, height, *w);
  w->Redraw();
  w->ScrollBar1.SetPosition(w->ScrollBar1.Max() / 2 - width / 2 - 32);
  w->ScrollBar2.SetPosition(w->ScrollBar2.Max() / 2 - height / 2 - 32);
  PaperChanged(true);
  p.Name = path;
  w->SetCaption(p.Caption());
  return true;
}

bool TVLMain::OpenBmp(const std::string& path) { return OpenPicture(path, false); }
bool TVLMain::OpenJpeg(const std::string& path) { return OpenPicture(path, true); }

// ---- Saving and export ----------------------------------------------------------------------

bool TVLMain::SaveFile(const std::string& path) {
  TDrawWindow* w = ActiveDrawWindow();
  if (!w || !w->Paper || !w->Paper->Initialised) return false;
  TPaper& p = *w->Paper;
  const std::string ext = plat::UpperExtension(path);
  bool ok;
  {
    plat::TBusyCursor busy;
    if (ext == ".WPB") {
      ok = p.SaveToFile(path, false, *w->Packets[0]);
    } else if (ext == ".BMP") {
      ok = SaveBMP(p.CompositeImage, path);
    } else if (ext == ".JPG" || ext == ".JPEG") {
      ok = SaveJPEG(p.CompositeImage, path, JpegSaveQuality());
    } else {
      ShowError(msgUnknownFormat);
      return false;
    }
  }
  if (!ok) {
    ShowSaveFailed(path);
    return false;
  }
  plat::MessageBox(msgImageSaved, "", kInfoBox);
  return true;
}

plat::TFileDialogRequest TVLMain::EventExportDialog() {
  plat::TFileDialogRequest d;
  d.Save = true;
  d.Name = "SaveDialogEvent";
  d.Title = "Exporter fichier event";
  d.Filter = kEventFilter;
  d.DefaultExt = "wpe";
  d.OverwritePrompt = true;
  d.Folder = DialogFolder();
  return d;
}

void TVLMain::ExportEvents() {
  TDrawWindow* w = ActiveDrawWindow();
  if (!FileCommandAllowed(w, true) || w->OwnPacket().InStroke() || w->Packets[0]->InStroke()) return;
  const bool net = w->Paper->NetMode != 0;
  plat::TFileDialogRequest d = EventExportDialog();
  if (HasFile(*w->Paper)) d.FileName = BaseNameOf(w->Paper->Name) + ".wpe";
  const std::optional<std::string> path = plat::RunFileDialog(this, d);
  if (!path) return;
  TEventPacket& record = net ? *w->Log : *w->Packets[0];
  record.WriteEndMarker();
  bool ok;
  {
    plat::TBusyCursor busy;
    ok = record.ExportToFile(*path);
  }
  // Recording goes on after the export, whether or not it was written.
  record.DropEndMarker();
  WritePath(*path);
  if (!ok) {
    ShowSaveFailed(*path);
    return;
  }
  plat::MessageBox(msgEventsExported, "", kInfoBox);
}

// ---- Import ---------------------------------------------------------------------------------

void TVLMain::ImportEvents(const std::string& path, float scale) {
  if (!CanOpen(path)) return;
  // The whole stream is read and checked before a window is made for it.
  TEventPacket stream;
  if (!stream.LoadFromFile(path) || !TPaper::StartsWithNewPaper(stream)) {
    ShowError(msgDangerousData);
    return;
  }
  stream.Data().Rewind();
  if (LargestSide(stream, scale) > kMaxImportSide) {
    ShowError(scale == 1.0f ? msgDangerousData : msgMagnificationTooLarge);
    return;
  }
  if (TDrawWindow* active = ActiveDrawWindow()) active->SetNormalState();
  TDrawWindow* w = CreateDrawWindow("");
  w->Playing = true;
  w->LastStepTime = plat::timeGetTime();
  TEventPacket& record = *w->Packets[0];
  if (!record.LoadFromMemory(stream.Data())) {
    w->CloseWindow(false);
    ShowError(msgLayerMemory);
    return;
  }
  record.SetScale(scale);
  record.Data().Rewind();
  w->Paper->PlayEvent(record, *w->Strokes[0], w);
  // Replayed at another scale the record would make another paper, and later strokes would
  // mix two scales in one record.
  if (scale != 1.0f) w->Paper->SetEventsIncomplete(true);
  PlaceNewWindow(w);
  w->Paper->Display.FitWindow(w->Paper->Width(), w->Paper->Height(), *w);
  w->SetCaption(w->Paper->Caption());
  w->Redraw();
  w->ScrollBar1.SetPosition(w->ScrollBar1.Max() / 2 - w->Paper->Width() / 2 - 32);
  w->ScrollBar2.SetPosition(w->ScrollBar2.Max() / 2 - w->Paper->Height() / 2 - 32);
  w->Redraw();
  if (PreviewWindow) PreviewWindow->NeedsFit = true;
  LastShownColor = Stroke->Color;
  PlayStart = plat::timeGetTime();
  SetUpdateMode(true);
}

// ---- Drops and hand-overs -------------------------------------------------------------------

void TVLMain::WMDropFiles(const std::vector<std::string>& paths) {
  const size_t n = std::min(paths.size(), kMaxDroppedFiles);
  for (size_t i = 0; i < n; ++i) QueueOpen(paths[i]);
}

void TVLMain::dragEnterEvent(QDragEnterEvent* e) {
  if (plat::HasDroppedPaths(e->mimeData())) e->acceptProposedAction();
}

void TVLMain::dragMoveEvent(QDragMoveEvent* e) {
  if (plat::HasDroppedPaths(e->mimeData())) e->acceptProposedAction();
}

void TVLMain::dropEvent(QDropEvent* e) {
  const std::vector<std::string> paths = plat::DroppedPaths(e->mimeData());
  if (paths.empty()) return;
  e->acceptProposedAction();
  WMDropFiles(paths);
}

void TVLMain::QueueOpen(const std::string& path) {
  PendingOpens.push_back(path);
  if (!OpenTimer) {
    OpenTimer = new QTimer(this);
    connect(OpenTimer, &QTimer::timeout, this, &TVLMain::OpenPending);
  }
  if (!OpenTimer->isActive()) OpenTimer->start(0);
}

bool TVLMain::LocalStrokeRunning() const {
  for (TDrawWindow* w : DrawWindows())
    if (w->ButtonDown || w->OwnPacket().InStroke()) return true;
  return false;
}

void TVLMain::OpenPending() {
  if (PendingOpens.empty()) {
    OpenTimer->stop();
    return;
  }
  // A file opens between strokes and never under another modal dialog; one at a time, so
  // that each question or magnification dialog stands alone.
  // While something holds the files back they are looked at now and then; otherwise the next
  // one opens on the next turn of the event loop.
  if (opening_ || QApplication::activeModalWidget() || LocalStrokeRunning()) {
    if (OpenTimer->interval() != kOpenPollMs) OpenTimer->start(kOpenPollMs);
    return;
  }
  const std::string path = PendingOpens.front();
  PendingOpens.pop_front();
  opening_ = true;
  OpenFile(path);
  opening_ = false;
  if (PendingOpens.empty()) OpenTimer->stop();
  else if (OpenTimer->interval() != 0) OpenTimer->start(0);
}
