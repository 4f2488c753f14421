// Held keys follow the keyboard through modal dialogs: a release that the toolkit drops while
// a dialog blocks the main window must not leave the key held, nor refuse every later stroke.
#include <QTimer>
#include <functional>

#include "ToolFixture.h"
#include "painter/NewWin.h"

namespace {

class HeldKeys : public ToolFixture {
 protected:
  void SetUp() override {
    ToolFixture::SetUp();
    ShowMain();
  }
};

TEST_F(HeldKeys, AReleaseLostUnderANewPaperDialogIsForgottenWhenItCloses) {
  struct Case {
    const char* name;
    bool releaseCtrl;  // let go while the dialog is open (else still held when it closes)
  };
  for (const Case& c : {Case{"released", true}, Case{"still held", false}}) {
    SCOPED_TRACE(c.name);
    QWindow* main = VLMain->windowHandle();
    ASSERT_NE(main, nullptr);
    bool blocked = false, shown = false;
    std::function<void()> inDialog = [&] {
      if (!NewWindow->isVisible()) {
        QTimer::singleShot(10, inDialog);
        return;
      }
      shown = true;
      // The keys come up over the main window, which the dialog blocks: the toolkit drops them.
      QTest::keyRelease(main, Qt::Key_N, Qt::ControlModifier);
      if (c.releaseCtrl) QTest::keyRelease(main, Qt::Key_Control, Qt::NoModifier);
      blocked = plat::IsKeyDown(plat::VK_CONTROL);
      NewWindow->reject();
    };
    QTimer::singleShot(0, inDialog);
    QTest::keyPress(main, Qt::Key_Control, Qt::ControlModifier);
    QTest::keyPress(main, Qt::Key_N, Qt::ControlModifier);
    ASSERT_TRUE(shown) << "Ctrl+N opened no dialog";
    EXPECT_TRUE(blocked) << "the releases reached the tracker; the case shows nothing";
    EXPECT_EQ(plat::IsKeyDown(plat::VK_CONTROL), !c.releaseCtrl);
    if (!c.releaseCtrl) {
      EXPECT_TRUE(VLMain->HeldKeysDown());
      QTest::keyRelease(main, Qt::Key_Control, Qt::NoModifier);
    }
    EXPECT_FALSE(VLMain->HeldKeysDown());

    // The main window active again, as the window manager leaves it: the next drag draws.
    ShowMain();
    Mark = W->Packets[0]->Data().Size();
    PaperDrag(100, 100, 140, 120);
    const std::vector<uint8_t> r = Recorded();
    ASSERT_FALSE(r.empty());
    EXPECT_LE(r[0] | r[1] << 8, ecStrokeLast);
  }
}

}  // namespace
