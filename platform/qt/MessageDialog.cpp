#include "platform/qt/MessageDialog.h"

#include <QApplication>
#include <QMessageBox>

#include "platform/core/MessageBox.h"
#include "platform/qt/Desktop.h"

namespace plat {
namespace {

int ShowDialog(const std::string& text, const std::string& caption, unsigned flags) {
  QMessageBox box(QApplication::activeWindow());
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

}  // namespace

void InstallMessageDialog() { SetMessageBoxHandler(ShowDialog); }

}  // namespace plat
