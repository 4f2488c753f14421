#include "painter/EzHelpWin.h"

#include <QPlainTextEdit>
#include <QTabWidget>

#include "platform/qt/Desktop.h"
#include "platform/qt/Placement.h"

TEzHelpWindow* EzHelpWindow = nullptr;

TEzHelpWindow::TEzHelpWindow(QWidget* owner) : plat::TToolWindow(owner) {
  setObjectName("EzHelpWindow");
  setWindowTitle(QString::fromUtf8("簡易ヘルプウィンドウ"));
  setFont(plat::UiFont());
  setFixedSize(363, 427);
  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName("PageControl1");
  PageControl1->setGeometry(0, 8, 361, 417);
  TabSheet1 = new QWidget;
  TabSheet1->setObjectName("TabSheet1");
  PageControl1->addTab(TabSheet1, QString::fromUtf8("ショートカット"));
  Memo1 = new QPlainTextEdit(TabSheet1);
  Memo1->setObjectName("Memo1");
  Memo1->setGeometry(0, 0, 353, 385);
  Memo1->setReadOnly(true);
  // The form takes no input method text.
  setAttribute(Qt::WA_InputMethodEnabled, false);
  Memo1->setAttribute(Qt::WA_InputMethodEnabled, false);
}

TEzHelpWindow::~TEzHelpWindow() {
  if (EzHelpWindow == this) EzHelpWindow = nullptr;
}

void TEzHelpWindow::showEvent(QShowEvent* e) {
  plat::TToolWindow::showEvent(e);
  if (placed_) return;
  placed_ = true;
  plat::CentreOnScreen(this);
}
