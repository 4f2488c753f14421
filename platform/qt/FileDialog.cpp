#include "platform/qt/FileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

#include "platform/qt/Placement.h"

namespace plat {
namespace {

TFileDialogHandler& Handler() {
  static TFileDialogHandler h;
  return h;
}

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// "Text|*.a;*.b|Text2|*.c" -> Qt's name filters "Text (*.a *.b)".
QStringList NameFilters(const std::string& filter) {
  QStringList parts = Q(filter).split('|');
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    // A display text that already shows its patterns keeps only its words, so that Qt
    // reads the patterns once.
    QString text = parts[i];
    const qsizetype open = text.lastIndexOf('(');
    if (open > 0 && text.trimmed().endsWith(')')) text = text.left(open);
    out << text.trimmed() + " (" + patterns.trimmed() + ")";
  }
  return out;
}

// Above the stay-on-top tool windows and wholly on screen.
class TFileDialog : public QFileDialog {
 public:
  using QFileDialog::QFileDialog;

 protected:
  void showEvent(QShowEvent* e) override {
    QFileDialog::showEvent(e);
    CentreOver(this, parentWidget());
  }
};

}  // namespace

std::optional<std::string> RunFileDialog(QWidget* owner, const TFileDialogRequest& request) {
  if (Handler()) return Handler()(request);
  TFileDialog dlg(owner);
  OpenAboveToolWindows(&dlg);
  dlg.setObjectName(Q(request.Name));
  if (!request.Title.empty()) dlg.setWindowTitle(Q(request.Title));
  dlg.setAcceptMode(request.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dlg.setFileMode(request.Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!request.OverwritePrompt) dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
  const QStringList filters = NameFilters(request.Filter);
  if (!filters.isEmpty()) {
    dlg.setNameFilters(filters);
    const int i = request.FilterIndex - 1;
    if (i >= 0 && i < filters.size()) dlg.selectNameFilter(filters[i]);
  }
  if (!request.DefaultExt.empty()) dlg.setDefaultSuffix(Q(request.DefaultExt));
  if (!request.Folder.empty() && QDir(Q(request.Folder)).exists()) dlg.setDirectory(Q(request.Folder));
  if (!request.FileName.empty()) dlg.selectFile(Q(request.FileName));
  if (dlg.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dlg.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  return QDir::toNativeSeparators(files.first()).toStdString();
}

TFileDialogHandler SetFileDialogHandler(TFileDialogHandler h) {
  TFileDialogHandler old = std::move(Handler());
  Handler() = std::move(h);
  return old;
}

TFileDialogRecorder::TFileDialogRecorder(std::vector<std::optional<std::string>> answers)
    : Answers(std::move(answers)) {
  previous_ = SetFileDialogHandler([this](const TFileDialogRequest& request) -> std::optional<std::string> {
    Dialogs.push_back(request);
    if (Answers.empty()) return std::nullopt;
    std::optional<std::string> a = Answers.front();
    Answers.erase(Answers.begin());
    return a;
  });
}

TFileDialogRecorder::~TFileDialogRecorder() { SetFileDialogHandler(std::move(previous_)); }

}  // namespace plat
