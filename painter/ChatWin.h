#pragma once
// The chat window of a drawing session: the status and chat lines, the member list and the
// input line that sends a chat line on Enter.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QString>
#include <string>

#include "platform/qt/ToolWindow.h"

class TChatWindow : public plat::TToolWindow {
  Q_OBJECT
 public:
  explicit TChatWindow(QWidget* owner = nullptr);
  ~TChatWindow() override;

  QPlainTextEdit* MemoMsg = nullptr;   // status and chat lines, one per row (not wrapped)
  QPlainTextEdit* MemoList = nullptr;  // member names
  QLabel* LabelMessage = nullptr;
  QLineEdit* EditText = nullptr;

  // Places the window: its bottom edge on the screen's middle line, centred across.
  void FormCreate();
  // Bottom edge on the screen's middle line, centred across it.
  void SetDefaultPosition();
  // Keeps the client area at least 150 x 50 and lays the controls out.
  void FormResize();
  // Enter (virtual key 13) sends the input line; other keys are left to the edit. True when
  // the key was taken.
  bool EditTextKeyDown(int vk);

  // One line at the end of the message list (UTF-8); whatever the text holds, it stays one
  // line (see OneLine). The list keeps the newest kMaxMessageLines lines.
  void AddMessage(const std::string& line);
  void AddMember(const std::string& line);

  static constexpr int kMinClientWidth = 150;
  static constexpr int kMinClientHeight = 50;
  static constexpr int kMaxText = 200;
  static constexpr int kMaxMessageLines = 1000;

 protected:
  void resizeEvent(QResizeEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
};

extern TChatWindow* ChatWindow;

// A text as one line: every run of white space, line breaks, paragraph separators and other
// control characters becomes one space, so that a member's text can never show as lines of
// its own, nor push a part of itself to where another line would start.
QString OneLine(const QString& text);
