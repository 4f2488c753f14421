#pragma once
// The one function that tells the user something. The Qt layer installs the real dialog;
// tests install a hook that records each text and gives a chosen answer.
#include <functional>
#include <string>
#include <vector>

namespace plat {

enum TMsgButtons : unsigned { MB_OK = 0, MB_OKCANCEL = 1, MB_YESNOCANCEL = 3, MB_YESNO = 4 };
enum TMsgIcon : unsigned { MB_ICONERROR = 0x10, MB_ICONQUESTION = 0x20, MB_ICONWARNING = 0x30, MB_ICONINFORMATION = 0x40 };
enum TMsgResult : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

using TMessageBoxHandler = std::function<int(const std::string& text, const std::string& caption, unsigned flags)>;

// Shows a modal message (UTF-8 texts) and returns the button chosen.
int MessageBox(const std::string& text, const std::string& caption = "", unsigned flags = MB_OK);

// Installs the handler; returns the previous one. Without one, texts go to stderr and the
// answer is IDOK (or IDYES for a question).
TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler h);

// Test hook: records every message and answers with `answer`; restores the old handler on
// destruction.
class TMessageRecorder {
 public:
  struct Entry {
    std::string Text, Caption;
    unsigned Flags;
  };
  explicit TMessageRecorder(int answer = IDOK);
  ~TMessageRecorder();
  TMessageRecorder(const TMessageRecorder&) = delete;
  TMessageRecorder& operator=(const TMessageRecorder&) = delete;
  int Answer;
  std::vector<Entry> Messages;

 private:
  TMessageBoxHandler previous_;
};

}  // namespace plat
