#include "platform/qt/MessageDialog.h"

#include <QApplication>
#include <QMessageBox>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/core/MessageBox.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/Placement.h"

namespace plat {
namespace {

// A box over the window that asks, above the stay-on-top tool windows and wholly on screen.
class TMessageDialog : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void showEvent(QShowEvent* e) override {
    QMessageBox::showEvent(e);  // lays the box out at its final size
    CentreOver(this, parentWidget());
  }
};

int ShowDialog(const std::string& text, const std::string& caption, unsigned flags) {
  TMessageDialog box(QApplication::activeWindow());
  OpenAboveToolWindows(&box);
  box.setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  const std::string& title = caption.empty() ? ApplicationTitle() : caption;
  box.setWindowTitle(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
  switch (flags & 0xF0u) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
  }
  switch (flags & 0x0Fu) {
    case MB_OKCANCEL:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setEscapeButton(QMessageBox::Cancel);
      break;
    case MB_YESNOCANCEL:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      box.setEscapeButton(QMessageBox::Cancel);
      break;
    case MB_YESNO:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
    default:
      box.setStandardButtons(QMessageBox::Ok);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    case QMessageBox::Cancel: return IDCANCEL;
    default: break;
  }
  // Closing a Yes/No box by its frame answers No, as it can be neither dismissed nor ignored.
  return (flags & 0x0Fu) == MB_YESNO ? IDNO : IDOK;
}

// The box's first button, or the named answer when the box has that button.
int LoggedAnswer(const std::string& answer, unsigned flags) {
  const unsigned buttons = flags & 0x0Fu;
  const bool hasYesNo = buttons == MB_YESNO || buttons == MB_YESNOCANCEL;
  const bool hasCancel = buttons == MB_OKCANCEL || buttons == MB_YESNOCANCEL;
  if (answer == "yes" && hasYesNo) return IDYES;
  if (answer == "no" && hasYesNo) return IDNO;
  if (answer == "cancel" && hasCancel) return IDCANCEL;
  if (answer == "ok" && !hasYesNo) return IDOK;
  return hasYesNo ? IDYES : IDOK;
}

int LogMessage(const std::string& file, const std::string& answer, const std::string& text, unsigned flags) {
  std::string line;
  for (char c : text) {
    if (c == '\n') line += "\\n";
    else if (c != '\r') line += c;
  }
  line += '\n';
  // One append per message, flushed at once: the log is read while the program runs.
  if (FILE* f = std::fopen(file.c_str(), "ab")) {
    std::fwrite(line.data(), 1, line.size(), f);
    std::fflush(f);
    std::fclose(f);
  }
  return LoggedAnswer(answer, flags);
}

std::string Lowered(const char* s) {
  std::string out = s ? s : "";
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

void InstallMessageDialog() {
  const char* log = std::getenv("VELLORA_MSGBOX_LOG");
  if (log && *log) {
    const std::string file = log, answer = Lowered(std::getenv("VELLORA_MSGBOX_ANSWER"));
    SetMessageBoxHandler([file, answer](const std::string& text, const std::string&, unsigned flags) {
      return LogMessage(file, answer, text, flags);
    });
    return;
  }
  SetMessageBoxHandler(ShowDialog);
}

}  // namespace plat
