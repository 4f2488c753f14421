#pragma once
// Every file dialog of the programs goes through one function, so that tests can answer it.
// A filter is written as the programs keep it: display texts and patterns separated by '|'
// ("Vellora event (*.wpe)|*.wpe|...").
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace plat {

struct TFileDialogRequest {
  bool Save = false;
  std::string Name;         // the dialog's own name (objectName), e.g. "SaveDialogEvent"
  std::string Title;
  std::string Filter;
  int FilterIndex = 1;      // 1-based
  std::string DefaultExt;   // without the dot
  std::string Folder;       // starting folder ("" for the current one)
  std::string FileName;     // preset file name
  bool OverwritePrompt = false;
};

// Shows the dialog modally; the chosen path (UTF-8), or nothing when cancelled. A save
// dialog adds the default extension to a name typed without one.
std::optional<std::string> RunFileDialog(QWidget* owner, const TFileDialogRequest& request);

using TFileDialogHandler = std::function<std::optional<std::string>(const TFileDialogRequest&)>;
// Installs a handler in place of the real dialog; returns the previous one.
TFileDialogHandler SetFileDialogHandler(TFileDialogHandler h);

// Test hook: records every dialog and answers with the queued paths in order (nothing, as a
// cancel, once they are used up); restores the old handler on destruction.
class TFileDialogRecorder {
 public:
  explicit TFileDialogRecorder(std::vector<std::optional<std::string>> answers = {});
  ~TFileDialogRecorder();
  TFileDialogRecorder(const TFileDialogRecorder&) = delete;
  TFileDialogRecorder& operator=(const TFileDialogRecorder&) = delete;
  std::vector<std::optional<std::string>> Answers;
  std::vector<TFileDialogRequest> Dialogs;

 private:
  TFileDialogHandler previous_;
};

}  // namespace plat
