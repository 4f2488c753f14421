#include "painter/ChatWin.h"

#include <QKeyEvent>
#include <QScrollBar>

#include "platform/qt/Placement.h"
#include "session/MySocket.h"
#include "session/NetState.h"

TChatWindow* ChatWindow = nullptr;

namespace {

QPlainTextEdit* MakeMemo(QWidget* owner, const char* name) {
  auto* m = new QPlainTextEdit(owner);
  m->setObjectName(name);
  m->setReadOnly(true);
  return m;
}

}  // namespace

TChatWindow::TChatWindow(QWidget* owner) : plat::TToolWindow(owner) {
  setObjectName("ChatWindow");
  setWindowTitle(QString::fromUtf8("チャットウィンドウ"));
  setWindowFlag(Qt::WindowMinMaxButtonsHint, false);
  setWindowFlag(Qt::WindowCloseButtonHint, true);

  MemoMsg = MakeMemo(this, "MemoMsg");
  MemoMsg->setGeometry(0, 0, 200, 81);
  MemoMsg->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  MemoMsg->setMaximumBlockCount(kMaxMessageLines);  // also ends the undo history
  // A message is one row: a wrapped row could pass for the start of another sender's line.
  MemoMsg->setLineWrapMode(QPlainTextEdit::NoWrap);
  MemoList = MakeMemo(this, "MemoList");
  MemoList->setGeometry(202, 2, 100, 77);
  MemoList->setLineWrapMode(QPlainTextEdit::NoWrap);
  LabelMessage = new QLabel(QString::fromUtf8("メッセージ"), this);
  LabelMessage->setObjectName("LabelMessage");
  LabelMessage->setGeometry(4, 88, 52, 17);
  EditText = new QLineEdit(this);
  EditText->setObjectName("EditText");
  EditText->setGeometry(64, 84, 233, 20);
  EditText->setMaxLength(kMaxText);
  EditText->installEventFilter(this);

  setMinimumSize(kMinClientWidth, kMinClientHeight);
  resize(302, 107);
  FormCreate();
}

TChatWindow::~TChatWindow() {
  if (ChatWindow == this) ChatWindow = nullptr;
}

void TChatWindow::FormCreate() { SetDefaultPosition(); }

void TChatWindow::SetDefaultPosition() {
  const QRect full = plat::WorkArea();
  const QSize outer = plat::OuterSize(this);
  move(full.x() + full.width() / 2 - outer.width() / 2, full.y() + full.height() / 2 - outer.height());
}

void TChatWindow::FormResize() {
  const int w = width(), h = height();
  if (w < kMinClientWidth || h < kMinClientHeight) {
    resize(std::max(w, kMinClientWidth), std::max(h, kMinClientHeight));
    return;  // laid out by the resize that follows
  }
  MemoMsg->setGeometry(MemoMsg->x(), MemoMsg->y(), w - 100, h - 30);
  MemoList->setGeometry(w - 100, MemoList->y(), MemoList->width(), h - 30);
  LabelMessage->move(LabelMessage->x(), h - 22);
  EditText->setGeometry(EditText->x(), h - 25, w - 65, EditText->height());
}

void TChatWindow::resizeEvent(QResizeEvent* e) {
  plat::TToolWindow::resizeEvent(e);
  FormResize();
}

bool TChatWindow::EditTextKeyDown(int vk) {
  if (vk != 13) return false;
  const std::string text = OneLine(EditText->text()).toStdString();
  TMySocket* socket = NetState.Socket;
  if (!text.empty() && socket && socket->LoggedIn) {
    socket->SendChat(text);
    // A member is shown by the name the host gave it, as the others see it.
    const std::string listed = socket->IsServer ? std::string() : socket->MemberName(socket->OwnId);
    AddMessage("[" + (listed.empty() ? socket->UserName : listed) + "] " + text);
  }
  EditText->clear();
  return true;
}

bool TChatWindow::eventFilter(QObject* watched, QEvent* e) {
  if (watched == EditText && e->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(e)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && EditTextKeyDown(13)) return true;
  }
  return plat::TToolWindow::eventFilter(watched, e);
}

// The chat window's keys stay its own: typing is not a painter shortcut.
void TChatWindow::keyPressEvent(QKeyEvent* e) { QWidget::keyPressEvent(e); }

void TChatWindow::AddMessage(const std::string& line) {
  MemoMsg->appendPlainText(OneLine(QString::fromStdString(line)));
  MemoMsg->verticalScrollBar()->setValue(MemoMsg->verticalScrollBar()->maximum());
}

void TChatWindow::AddMember(const std::string& line) {
  MemoList->appendPlainText(OneLine(QString::fromStdString(line)));
}

QString OneLine(const QString& text) {
  QString out;
  out.reserve(text.size());
  bool inBlank = false;
  for (const QChar c : text) {
    const QChar::Category k = c.category();
    if (c.isSpace() || k == QChar::Other_Control || k == QChar::Separator_Line || k == QChar::Separator_Paragraph) {
      if (!inBlank) out += u' ';
      inBlank = true;
    } else {
      out += c;
      inBlank = false;
    }
  }
  return out;
}
