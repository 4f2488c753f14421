#include <QMenuBar>

#include "PainterFixture.h"
#include "painter/ColorWin.h"
#include "painter/EnvWin.h"
#include "painter/EzHelpWin.h"
#include "painter/LayerWin.h"
#include "painter/NewWin.h"
#include "painter/PenWin2.h"
#include "painter/PreviewWin.h"
#include "painter/ResoWin.h"
#include "painter/SelectWin.h"
#include "painter/SizeWin.h"
#include "painter/ToolsWin.h"
#include "painter/ChatWin.h"
#include "painter/NetWin.h"

namespace {

using ShellStart = PainterFixture;

TEST_F(ShellStart, FormsAreMadeInTheirOrderWithTheirNames) {
  ASSERT_NE(VLMain, nullptr);
  EXPECT_EQ(VLMain->windowTitle().toStdString(), "Vellora1.1b72 FR");
  // Each form is owned by the main window; creation order is the order of its children.
  std::vector<std::string> names;
  for (QObject* o : VLMain->children())
    if (auto* w = qobject_cast<QWidget*>(o); w && w->isWindow()) names.push_back(w->objectName().toStdString());
  const std::vector<std::string> expected = {"PenWindow2",   "ColorWindow",  "LayerWindow", "PreviewWindow",
                                             "SizeWindow",   "NewWindow",    "ResoWindow",  "EnvWindow",
                                             "EzHelpWindow", "ToolsWindow",  "ChatWindow",  "NetWindow",
                                             "SelectWindow"};
  EXPECT_EQ(names, expected);
  EXPECT_EQ(ToolsWindow->Mode.Kind, tkPen);
  EXPECT_EQ(VLMain->ActiveDrawWindow(), nullptr);
}

TEST_F(ShellStart, APaperWindowStartsItsRecordWithTheNewPaper) {
  TDrawWindow* w = MakePaper(40, 30);
  EXPECT_EQ(VLMain->ActiveDrawWindow(), w);
  EXPECT_EQ(w->Caption(), "<OFFLINE>  \"NONAME\" 40*30 : 100%");
  const std::vector<uint8_t> bytes = Bytes(*w->Packets[0]);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes[0] | (bytes[1] << 8), 512);
}

}  // namespace
