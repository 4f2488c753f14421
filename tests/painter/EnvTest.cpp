// The environment dialog: the JPEG quality it sets and saves with, and the values it carries
// from the settings to the exit unchanged.
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include "FileTestUtil.h"
#include "painter/EnvWin.h"

namespace {

class Env : public FileFixture {
 protected:
  // The first row of a JPEG's luminance quantisation table, in natural order.
  static std::vector<int> LumaRow(const std::vector<uint8_t>& jpeg) {
    static const int kZigzagOfRow0[8] = {0, 1, 5, 6, 14, 15, 27, 28};
    for (size_t i = 2; i + 4 < jpeg.size();) {
      if (jpeg[i] != 0xFF) return {};
      const uint8_t marker = jpeg[i + 1];
      const size_t length = static_cast<size_t>(jpeg[i + 2] << 8 | jpeg[i + 3]);
      if (marker == 0xDB && i + 5 + 64 <= jpeg.size() && (jpeg[i + 4] & 0x0F) == 0) {
        std::vector<int> row;
        for (int z : kZigzagOfRow0) row.push_back(jpeg[i + 5 + static_cast<size_t>(z)]);
        return row;
      }
      i += 2 + length;
    }
    return {};
  }
  // Saves a copy of the active paper as JPEG.
  std::vector<int> SavedJpegRow(const std::string& name) {
    plat::TFileDialogRecorder dialogs({Data.Path(name)});
    VLMain->FileSaveCopyItemClick();
    return LumaRow(FileBytes(Data.Path(name)));
  }
  // The program's end (the dialog writes its values) and the next start (they are read).
  static void Exit() { delete EnvWindow; }
  static void Start() { EnvWindow = new TEnvWindow(VLMain); }
  static void Restart() {
    Exit();
    Start();
  }
  static void Store(const char* name, int32_t v) {
    plat::TRegistry reg;
    reg.OpenKey(kVelloraKey, true);
    reg.WriteInteger(name, v);
  }
};

TEST_F(Env, TheQualityChosenIsTheOneJpegsAreSavedWith) {
  TDrawWindow* w = MakePaper(64, 64);
  Drag(w, {At(w, 5, 5), At(w, 30, 40), At(w, 60, 60)});
  EXPECT_EQ(EnvWindow->JpegQuality, 80);
  EXPECT_EQ(SavedJpegRow("at80.jpg"), (std::vector<int>{6, 4, 4, 6, 10, 16, 20, 24}));

  OnNextModal([](QWidget* m) {
    auto* d = qobject_cast<TEnvWindow*>(m);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->TrackBarJpeg->value(), 80);
    EXPECT_EQ(d->Label2->text().toStdString(), "[80%]");
    d->TrackBarJpeg->setValue(95);
    EXPECT_EQ(d->Label2->text().toStdString(), "[95%]");
    d->BitBtn1->click();
  });
  VLMain->EnvWinItemClick();
  EXPECT_EQ(EnvWindow->JpegQuality, 95);
  EXPECT_EQ(SavedJpegRow("at95.jpg"), (std::vector<int>{2, 1, 1, 2, 2, 4, 5, 6}));

  // The next start shows what was chosen.
  Restart();
  EXPECT_EQ(EnvWindow->JpegQuality, 95);
  EnvWindow->show();
  EXPECT_EQ(EnvWindow->TrackBarJpeg->value(), 95);
  EXPECT_EQ(EnvWindow->Label2->text().toStdString(), "[95%]");
  EnvWindow->hide();
}

TEST_F(Env, CancelKeepsTheQuality) {
  OnNextModal([](QWidget* m) {
    auto* d = qobject_cast<TEnvWindow*>(m);
    ASSERT_NE(d, nullptr);
    d->TrackBarJpeg->setValue(30);
    d->BitBtn2->click();
  });
  VLMain->EnvWinItemClick();
  EXPECT_EQ(EnvWindow->JpegQuality, 80);
  EnvWindow->show();
  EXPECT_EQ(EnvWindow->TrackBarJpeg->value(), 80);
  EnvWindow->hide();
}

TEST_F(Env, StoredValuesAreHeldToTheirRangeAndWrittenBack) {
  struct TCase {
    const char* Name;
    std::function<void()> Store;
    int32_t Quality;
  };
  const TCase cases[] = {
      {"too high", [] { Store("JpegQuality", 250); }, 100},
      {"zero", [] { Store("JpegQuality", 0); }, 1},
      {"negative", [] { Store("JpegQuality", -5); }, 1},
      {"a text",
       [] {
         plat::TRegistry reg;
         reg.OpenKey(kVelloraKey, true);
         reg.WriteString("JpegQuality", "95");
       },
       80},
      {"in range", [] { Store("JpegQuality", 42); }, 42},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Exit();
    c.Store();
    Start();
    EXPECT_EQ(EnvWindow->JpegQuality, c.Quality);
  }

  Exit();
  Store("GridWidth", 40);
  Store("TabletCorrectX", 7);
  Start();
  EXPECT_EQ(EnvWindow->GridWidth, 40);
  EXPECT_EQ(EnvWindow->TabletCorrectX, 7);
  delete EnvWindow;
  plat::TRegistry reg;
  reg.OpenKey(kVelloraKey, true);
  EXPECT_EQ(reg.ReadInteger("GridWidth"), 40);
  EXPECT_EQ(reg.ReadInteger("TabletCorrectX"), 7);
  EXPECT_EQ(reg.ReadInteger("TabletCorrectWidth"), 100);
  EXPECT_EQ(reg.ReadBool("TabletCorrect"), false);
  EXPECT_EQ(reg.ReadInteger("JpegQuality"), 42);
}

TEST_F(Env, TheTabletAreaIsTheCorrectionOnlyWhenItIsOn) {
  int32_t x = -1, y = -1, w = -1, h = -1;
  Exit();
  Store("TabletCorrectX", 3);
  Store("TabletCorrectY", 4);
  Store("TabletCorrectWidth", 90);
  Store("TabletCorrectHeight", 80);
  Start();
  EnvWindow->TabletArea(x, y, w, h);
  EXPECT_EQ((std::vector<int32_t>{x, y, w, h}), (std::vector<int32_t>{0, 0, 100, 100}));
  Exit();
  {
    plat::TRegistry reg;
    reg.OpenKey(kVelloraKey, true);
    reg.WriteBool("TabletCorrect", true);
  }
  Start();
  EnvWindow->TabletArea(x, y, w, h);
  EXPECT_EQ((std::vector<int32_t>{x, y, w, h}), (std::vector<int32_t>{3, 4, 90, 80}));
}

}  // namespace
