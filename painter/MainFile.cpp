// The main window's commands on files and events: open, save, capture, export and import.
#include <QMdiSubWindow>
#include <memory>

#include "engine/EventPacket.h"
#include "engine/Paper.h"
#include "painter/DrawWin.h"
#include "painter/FormEventMul.h"
#include "painter/Localize.h"
#include "painter/Main.h"
#include "painter/PreviewWin.h"
#include "platform/core/Files.h"
#include "platform/core/MessageBox.h"
#include "platform/qt/Desktop.h"

void TVLMain::File1Click() {}
void TVLMain::FileOpenItemClick() {}
void TVLMain::FileSaveItemClick() {}
void TVLMain::FileSaveAsItemClick() {}
void TVLMain::FileSaveCopyItemClick() {}
void TVLMain::EventImportItemClick() {}
void TVLMain::EventExportItemClick() {}
void TVLMain::EventWaitItemClick() {}
void TVLMain::EventStopItemClick() {}
void TVLMain::CaptureSaveItemClick() {}

void TVLMain::OpenFile(const std::string& path) {
  const std::string ext = plat::UpperExtension(path);
  if (ext == ".WPB") OpenWpb(path);
  if (ext == ".BMP") OpenBmp(path);
  if (ext == ".JPG") OpenJpeg(path);
  if (ext == ".WPE") {
    auto dialog = std::make_unique<TFormEventMul>(this);
    dialog->activateWindow();
    if (dialog->exec() == QDialog::Accepted) ImportEvents(path, dialog->Magnification());
  }
}

bool TVLMain::OpenWpb(const std::string& path) {
  if (!plat::FileExists(path)) {
    plat::MessageBox(msgFileNotFound, "", unsigned{plat::MB_OK} | plat::MB_ICONERROR);
    return false;
  }
  if (TDrawWindow* active = ActiveDrawWindow(); active && active->IsMaximized()) active->SetNormalState();
  // "WPB2" is the current format, "WPB " the older one; the start decides before a window
  // is made for the file.
  std::vector<uint8_t> head;
  {
    const int fd = plat::FileOpenRead(path);
    uint8_t b[4] = {0, 0, 0, 0};
    const int64_t n = fd >= 0 ? plat::FileRead(fd, b, 4) : -1;
    if (fd >= 0) plat::FileClose(fd);
    if (n == 4) head.assign(b, b + 4);
  }
  const bool known = head.size() == 4 && head[0] == 'W' && head[1] == 'P' && head[2] == 'B' &&
                     (head[3] == '2' || head[3] == ' ');
  if (!known) {
    plat::MessageBox(msgUnknownFormat, "", unsigned{plat::MB_OK} | plat::MB_ICONERROR);
    return false;
  }
  TDrawWindow* w = CreateDrawWindow("");
  // The engine tells the user why it refused a file; the window made for it goes again.
  if (!w->Paper->LoadFromFile(path, *w->Packets[0])) {
    w->CloseWindow(false);
    return false;
  }
  w->SetCaption(w->Paper->Caption());
  w->Paper->Display.FitWindow(w->Paper->Width(), w->Paper->Height(), *w);
  const int n = static_cast<int>(DrawWindows().size());
  if (QMdiSubWindow* sub = w->SubWindow()) sub->move((n - 1) * 16, (n - 1) * 16);
  w->RecompositeAll();
  w->ScrollBar1.SetPosition(w->ScrollBar1.Max() / 2 - w->Paper->Width() / 2 - 32);
  w->ScrollBar2.SetPosition(w->ScrollBar2.Max() / 2 - w->Paper->Height() / 2 - 32);
  if (PreviewWindow) PreviewWindow->NeedsFit = true;
  w->Redraw();
  return true;
}

bool TVLMain::OpenBmp(const std::string&) { return false; }
bool TVLMain::OpenJpeg(const std::string&) { return false; }
void TVLMain::SaveFile(const std::string&) {}
void TVLMain::ExportEvents() {}
void TVLMain::ImportEvents(const std::string&, float) {}
void TVLMain::WMDropFiles(const std::vector<std::string>& paths) {}
