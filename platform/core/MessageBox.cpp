#include "platform/core/MessageBox.h"

#include <cstdio>

namespace plat {
namespace {
TMessageBoxHandler& Handler() {
  static TMessageBoxHandler h;
  return h;
}
}  // namespace

int MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  if (Handler()) return Handler()(text, caption, flags);
  std::fprintf(stderr, "%s%s%s\n", caption.c_str(), caption.empty() ? "" : ": ", text.c_str());
  unsigned buttons = flags & 0x0F;
  return (buttons == MB_YESNO || buttons == MB_YESNOCANCEL) ? IDYES : IDOK;
}

TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler h) {
  TMessageBoxHandler old = std::move(Handler());
  Handler() = std::move(h);
  return old;
}

TMessageRecorder::TMessageRecorder(int answer) : Answer(answer) {
  previous_ = SetMessageBoxHandler([this](const std::string& t, const std::string& c, unsigned f) {
    Messages.push_back({t, c, f});
    return Answer;
  });
}

TMessageRecorder::~TMessageRecorder() { SetMessageBoxHandler(std::move(previous_)); }

}  // namespace plat
