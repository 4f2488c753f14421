// The layer window: rows, clicks and drags in the list, the menu commands, and what each
// records, replayed on a fresh paper.
#include <QMenu>
#include <QStatusBar>
#include <QTimer>

#include "ToolWinFixture.h"
#include "painter/ColorWin.h"
#include "painter/LayerWin.h"
#include "painter/MousePaintBox.h"
#include "painter/PenWin2.h"

namespace {

class LayerWin : public ToolWinFixture {
 protected:
  QWidget* List() { return LayerWindow->ListBox; }
  TLayerMng& Layers(TDrawWindow* w) { return *w->Paper->Layers; }
  // Makes the list area exactly h pixels high.
  void ListHeight(int h) {
    LayerWindow->resize(210, LayerWindow->height() - LayerWindow->ListHeight() + h);
    ASSERT_EQ(LayerWindow->ListHeight(), h);
  }
  // A paper of 480 x 320 with n layers, every layer with some paint of its own.
  TDrawWindow* Paper(int n) {
    TDrawWindow* w = MakePaper(480, 320);
    ListHeight(600);
    for (int i = 1; i < n; ++i) LayerWindow->MultiItemClick();
    TStroke& b = *VLMain->Stroke;
    for (int i = 0; i < n; ++i) {
      Layers(w).SetActiveLayer(i);
      w->Packets[0]->WriteSelectLayer(static_cast<uint8_t>(i));
      b.SetColor(0x203040u + 0x101010u * uint32_t(i));
      b.SetWidth(6);
      DrawStroke(w, b, {{20 + 30 * i, 20}, {200, 150 + 10 * i}, {300 - 20 * i, 60}});
    }
    LayerWindow->DrawLayers(w->Paper.get());
    return w;
  }
  // Top y of a layer's row in the list (no scrolling).
  int RowY(TDrawWindow* w, int i) { return LayerRowHeight * (Layers(w).LastIndex() - i); }
};

TEST_F(LayerWin, ClicksAndTheOpacityDragRecordWhatTheyChange) {
  TDrawWindow* w = MakePaper(480, 320);
  const int32_t mark = Mark(w);
  LayerWindow->AddItemClick();
  Click(List(), 10, 25);
  Click(List(), 35, 75);
  Click(List(), 60, 75);
  Press(List(), 120, 75);
  Move(List(), 141, 75);
  Release(List(), 141, 75);
  EXPECT_EQ(Since(w, mark), Hex({0x00, 0x01, 0x01, 0x12, 0x01, 0x01, 0x00, 0x14, 0x01, 0x00, 0x01, 0x11, 0x01,
                                 0x00, 0x13, 0x01, 0x00, 0x7F}));
  EXPECT_FALSE(Layers(w).LayerVisible(1));
  EXPECT_EQ(Layers(w).LayerKind(0), lkAdd);
  EXPECT_EQ(Layers(w).ActiveIndex(), 0);
  EXPECT_EQ(Layers(w).LayerOpacity(0), 127);
  EXPECT_TRUE(ReplayMatches(w));
}

TEST_F(LayerWin, RowAtFindsTheLayerUnderAPoint) {
  TDrawWindow* w = MakePaper(64, 64);
  ListHeight(400);
  LayerWindow->MultiItemClick();
  LayerWindow->MultiItemClick();
  const std::pair<int, int> rows[] = {{0, 2}, {49, 2}, {50, 1}, {99, 1}, {100, 0}, {149, 0}, {150, -1}, {-1, -1}};
  for (auto [y, index] : rows) EXPECT_EQ(LayerWindow->RowAt(60, y), index) << y;
  int32_t inRow = -1;
  LayerWindow->RowAt(60, 123, &inRow);
  EXPECT_EQ(inRow, 23);

  // Five layers in a list of 200 pixels scroll.
  LayerWindow->MultiItemClick();
  LayerWindow->MultiItemClick();
  ListHeight(200);
  LayerWindow->DrawLayers(w->Paper.get());
  EXPECT_TRUE(LayerWindow->ScrollBar1->Bar()->isEnabled());
  EXPECT_EQ(LayerWindow->ScrollBar1->Max(), 250);
  EXPECT_EQ(LayerWindow->ScrollBar1->Page(), 200);
  LayerWindow->ScrollBar1->SetPosition(50);
  EXPECT_EQ(LayerWindow->RowAt(60, 0), 3);
  EXPECT_EQ(LayerWindow->RowAt(60, 199), 0);
  EXPECT_EQ(LayerWindow->RowAt(60, 200), -1);
  // A click lands on the row it shows.
  Click(List(), 10, 10);
  EXPECT_FALSE(Layers(w).LayerVisible(3));
  ListHeight(300);
  LayerWindow->DrawLayers(w->Paper.get());
  EXPECT_FALSE(LayerWindow->ScrollBar1->Bar()->isEnabled());
  EXPECT_EQ(LayerWindow->ScrollBar1->Position(), 0);
}

TEST_F(LayerWin, OpacityFollowsTheHandle) {
  TDrawWindow* w = Paper(2);
  Layers(w).SetActiveLayer(1);
  const int y = RowY(w, 1) + 20;
  const std::pair<int, int> cases[] = {{116, 0}, {100, 0}, {141, 127}, {164, 244}, {165, 255}, {300, 255}};
  for (auto [x, opacity] : cases) {
    const int32_t mark = Mark(w);
    Press(List(), 120, y);
    Move(List(), x, y);
    EXPECT_EQ(Layers(w).LayerOpacity(1), opacity) << x;
    // Live only: nothing is recorded before the release.
    EXPECT_TRUE(Since(w, mark).empty());
    Release(List(), x, y);
    EXPECT_EQ(Since(w, mark), Hex({0x13, 0x01, 0x01, opacity})) << x;
  }
  EXPECT_TRUE(ReplayMatches(w));
}

TEST_F(LayerWin, KindIconCyclesTheThreeBlendingKinds) {
  TDrawWindow* w = Paper(1);
  const uint8_t cycle[] = {lkAdd, lkSubtract, lkMultiply};
  for (uint8_t kind : cycle) {
    const int32_t mark = Mark(w);
    Click(List(), 35, 25);
    EXPECT_EQ(Layers(w).LayerKind(0), kind);
    EXPECT_EQ(Since(w, mark), Hex({0x14, 0x01, 0x00, kind}));
  }
  EXPECT_TRUE(ReplayMatches(w));
  Layers(w).AddLayer(lkArgb);
  const int32_t mark = Mark(w);
  Click(List(), 35, 25);
  EXPECT_EQ(Layers(w).LayerKind(1), lkArgb);
  EXPECT_TRUE(Since(w, mark).empty());
}

TEST_F(LayerWin, EyeAndCtrlEye) {
  TDrawWindow* w = Paper(3);
  int32_t mark = Mark(w);
  // Ctrl on a shown layer hides it and shows every other; on a hidden one shows it alone.
  Click(List(), 10, RowY(w, 0) + 5, Qt::LeftButton, Qt::ControlModifier);
  Click(List(), 10, RowY(w, 0) + 5, Qt::LeftButton, Qt::ControlModifier);
  EXPECT_EQ(Since(w, mark), Hex({0x15, 0x01, 0x00, 0x15, 0x01, 0x00}));
  EXPECT_TRUE(Layers(w).LayerVisible(0));
  EXPECT_FALSE(Layers(w).LayerVisible(1));
  EXPECT_FALSE(Layers(w).LayerVisible(2));
  mark = Mark(w);
  Click(List(), 10, RowY(w, 2) + 5);
  EXPECT_EQ(Since(w, mark), Hex({0x12, 0x01, 0x02, 0x01}));
  EXPECT_TRUE(Layers(w).LayerVisible(2));
  EXPECT_TRUE(ReplayMatches(w));
}

TEST_F(LayerWin, EveryCommandRecordsBeforeItApplies) {
  struct Case {
    const char* Name;
    void (TLayerWindow::*Command)();
    int Answer;
    std::vector<uint8_t> Bytes;  // with the active layer 1 of 3
  };
  const Case cases[] = {
      {"multiply", &TLayerWindow::MultiItemClick, plat::IDYES, Hex({0x00, 0x01, 0x00})},
      {"add", &TLayerWindow::AddItemClick, plat::IDYES, Hex({0x00, 0x01, 0x01})},
      {"subtract", &TLayerWindow::SubItemClick, plat::IDYES, Hex({0x00, 0x01, 0x02})},
      {"duplicate", &TLayerWindow::CopyItemClick, plat::IDYES, Hex({0x03, 0x01, 0x01})},
      {"delete", &TLayerWindow::DeleteItemClick, plat::IDYES, Hex({0x01, 0x01, 0x01})},
      {"delete, no", &TLayerWindow::DeleteItemClick, plat::IDNO, {}},
      {"merge visible", &TLayerWindow::CombineItemClick, plat::IDYES, Hex({0x02, 0x01, 0x06, 0x02})},
      {"merge visible, no", &TLayerWindow::CombineItemClick, plat::IDNO, {}},
      {"merge down", &TLayerWindow::CombLowerItemClick, plat::IDYES, Hex({0x05, 0x01, 0x01, 0x06, 0x02})},
      {"merge down, no", &TLayerWindow::CombLowerItemClick, plat::IDNO, {}},
      {"upside down", &TLayerWindow::UpsideDownItemClick, plat::IDYES, Hex({0x20, 0x01, 0x01})},
      {"mirror", &TLayerWindow::MirrorItemClick, plat::IDYES, Hex({0x21, 0x01, 0x01})},
      {"negative", &TLayerWindow::NegaposiItemClick, plat::IDYES, Hex({0x23, 0x01, 0x01})},
      {"half turn", &TLayerWindow::Rot180ItemClick, plat::IDYES, Hex({0x22, 0x01, 0x01})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TDrawWindow* w = Paper(3);
    Click(List(), 60, RowY(w, 1) + 20);
    ASSERT_EQ(Layers(w).ActiveIndex(), 1);
    const std::vector<uint8_t> before = Live(w);
    const int32_t mark = Mark(w);
    Messages.Answer = c.Answer;
    (LayerWindow->*c.Command)();
    EXPECT_EQ(Since(w, mark), c.Bytes);
    EXPECT_TRUE(ReplayMatches(w));
    if (c.Bytes.empty()) {
      EXPECT_TRUE(Live(w) == before) << "a refused command changed the picture";
    }
    // A filter is undone by the layer's undo step, in the record too.
    if (c.Bytes.size() == 3 && c.Bytes[1] == 0x01 && c.Bytes[0] >= 0x20) {
      EXPECT_FALSE(Live(w) == before) << "the filter changed nothing";
      w->Undo();
      EXPECT_TRUE(Live(w) == before) << "undo did not restore the layer";
      EXPECT_TRUE(ReplayMatches(w));
    }
    VLMain->CloseAllPapers(false);
    Settle();
  }
}

TEST_F(LayerWin, MenusAreEnabledByTheStateOfThePaper) {
  auto open = [](QMenu* m) { emit m->aboutToShow(); };
  auto enabled = [&]() {
    open(LayerWindow->LayerItem);
    open(LayerWindow->EditItem);
    open(LayerWindow->FilterItem);
    std::string s;
    for (QAction* a : {LayerWindow->MultiItem, LayerWindow->AddItem, LayerWindow->SubItem, LayerWindow->DeleteItem,
                       LayerWindow->CombineItem, LayerWindow->CopyItem, LayerWindow->CombLowerItem,
                       LayerWindow->UpsideDownItem, LayerWindow->MirrorItem, LayerWindow->NegaposiItem,
                       LayerWindow->Rot180Item})
      s += a->isEnabled() ? '1' : '0';
    return s;
  };
  EXPECT_EQ(enabled(), "00000000000");  // no paper
  TDrawWindow* w = MakePaper(64, 64);
  EXPECT_EQ(enabled(), "11100101111");  // one layer
  LayerWindow->MultiItemClick();
  EXPECT_EQ(enabled(), "11111111111");  // two visible multiply layers, the top one active
  Layers(w).SetActiveLayer(0);
  EXPECT_EQ(enabled(), "11111101111");  // layer 0 cannot merge down
  while (Layers(w).CanAddLayer()) LayerWindow->MultiItemClick();
  EXPECT_EQ(Layers(w).LastIndex(), 23);
  EXPECT_EQ(enabled(), "00011011111");  // 24 layers
  w->Playing = true;
  EXPECT_EQ(enabled(), "00000000000");
  w->Playing = false;
  w->Paper->SetNetMode(1);
  EXPECT_EQ(enabled(), "00000001111");
  w->Paper->SetNetMode(0);

  // A command from a menu opened before the state changed does nothing.
  EXPECT_EQ(enabled(), "00011011111");
  const int32_t mark = Mark(w);
  w->Playing = true;
  LayerWindow->DeleteItem->trigger();
  LayerWindow->CopyItem->trigger();
  LayerWindow->MirrorItem->trigger();
  w->Playing = false;
  LayerWindow->MultiItem->trigger();
  EXPECT_TRUE(Since(w, mark).empty());
  EXPECT_EQ(Layers(w).LastIndex(), 23);
  EXPECT_TRUE(Messages.Messages.empty());
}

TEST_F(LayerWin, ReorderDragMovesARowToAnotherPlace) {
  TDrawWindow* w = Paper(3);
  Layers(w).SetActiveLayer(2);
  int32_t mark = Mark(w);
  Press(List(), 60, 25);
  EXPECT_TRUE(LayerWindow->Reordering);
  EXPECT_TRUE(LayerWindow->Timer1->isActive());
  Move(List(), 70, 80);
  Move(List(), 70, 125);
  // The dragged row floats over the list, tinted red.
  const uint32_t floating = LayerWindow->ListSurface.GetPixel(70 - 87 + 100, 125);
  EXPECT_GT((floating >> 16) & 255, floating & 255);
  Release(List(), 70, 125);
  EXPECT_FALSE(LayerWindow->Reordering);
  EXPECT_FALSE(LayerWindow->Timer1->isActive());
  EXPECT_EQ(Since(w, mark), Hex({0x04, 0x01, 0x02, 0x00}));
  EXPECT_EQ(Layers(w).ActiveIndex(), 0);
  EXPECT_TRUE(ReplayMatches(w));

  // Dropped on its own place or below the list: nothing.
  for (QPoint drop : {QPoint(60, RowY(w, 0) + 10), QPoint(60, 170), QPoint(60, -30)}) {
    mark = Mark(w);
    Press(List(), 60, RowY(w, 0) + 5);
    Move(List(), drop.x(), drop.y());
    Release(List(), drop.x(), drop.y());
    EXPECT_TRUE(Since(w, mark).empty()) << drop.y();
    // No drag image is left behind: the list shows the rows as they are.
    EXPECT_EQ(LayerWindow->ListSurface.GetPixel(drop.x() - 87 + 100, 160) & 0xFFFFFF, 0x808080u);
  }
}

TEST_F(LayerWin, DraggingAboveTheListScrollsIt) {
  TDrawWindow* w = Paper(5);
  ListHeight(120);
  LayerWindow->DrawLayers(w->Paper.get());
  LayerWindow->ScrollBar1->SetPosition(60);
  Layers(w).SetActiveLayer(3);
  LayerWindow->DrawLayers(w->Paper.get());
  Press(List(), 60, 5);
  ASSERT_TRUE(LayerWindow->Reordering);
  Move(List(), 60, -20);
  LayerWindow->Timer1Timer();
  EXPECT_EQ(LayerWindow->ScrollBar1->Position(), 50);
  Move(List(), 60, 400);
  for (int i = 0; i < 30; ++i) LayerWindow->Timer1Timer();
  EXPECT_EQ(LayerWindow->ScrollBar1->Position(), 250 - 120);
  Release(List(), 60, 400);
}

TEST_F(LayerWin, SessionMembersUseTheirOwnLayers) {
  TDrawWindow* w = Paper(8);
  NetState.LayersPerMember = 2;
  w->Paper->SetNetMode(1);
  w->Paper->SetMemberIndex(1);
  Layers(w).SetActiveLayer(5);
  LayerWindow->DrawLayers(w->Paper.get());
  // Other members' rows are darker.
  const uint32_t own = LayerWindow->ListSurface.GetPixel(60, RowY(w, 2) + 45);
  const uint32_t other = LayerWindow->ListSurface.GetPixel(60, RowY(w, 4) + 45);
  EXPECT_LT(other & 255, own & 255);

  const int32_t mark0 = Mark(w, 0), mark1 = Mark(w, 1);
  for (int i : {0, 1, 4, 7}) {
    Click(List(), 60, RowY(w, i) + 20);
    EXPECT_EQ(Layers(w).ActiveIndex(), 5) << i;
  }
  Click(List(), 60, RowY(w, 3) + 20);
  EXPECT_EQ(Layers(w).ActiveIndex(), 3);
  Click(List(), 60, RowY(w, 2) + 20);
  EXPECT_EQ(Layers(w).ActiveIndex(), 2);
  // Reorder, Ctrl+eye and the slot-0 commands do nothing.
  Press(List(), 60, RowY(w, 2) + 20);
  EXPECT_FALSE(LayerWindow->Reordering);
  Release(List(), 60, RowY(w, 6) + 20);
  Click(List(), 10, RowY(w, 2) + 5, Qt::LeftButton, Qt::ControlModifier);
  for (auto command : {&TLayerWindow::MultiItemClick, &TLayerWindow::DeleteItemClick, &TLayerWindow::CopyItemClick,
                       &TLayerWindow::CombineItemClick, &TLayerWindow::CombLowerItemClick})
    (LayerWindow->*command)();
  EXPECT_EQ(Layers(w).LastIndex(), 7);
  // The eye and the kind stay open to every layer.
  Click(List(), 10, RowY(w, 6) + 5);
  Click(List(), 35, RowY(w, 6) + 5);
  LayerWindow->UpsideDownItemClick();
  EXPECT_TRUE(Since(w, mark0, 0).empty());
  EXPECT_EQ(Since(w, mark1, 1), Hex({0x11, 0x01, 0x03, 0x11, 0x01, 0x02, 0x12, 0x01, 0x06, 0x00, 0x14, 0x01, 0x06,
                                     0x01, 0x20, 0x01, 0x02}));

  // A layer count per member outside 1..4 owns nothing.
  for (int L : {0, 5, -3}) {
    NetState.LayersPerMember = L;
    LayerWindow->DrawLayers(w->Paper.get());
    Click(List(), 60, RowY(w, 0) + 20);
    Click(List(), 60, RowY(w, 3) + 20);
    EXPECT_EQ(Layers(w).ActiveIndex(), 2) << L;
  }
}

TEST_F(LayerWin, NothingChangesDuringAStroke) {
  TDrawWindow* w = Paper(2);
  TStroke& brush = *VLMain->Stroke;
  Layers(w).SetActiveLayer(1);
  // An opacity drag that a stroke overtakes ends where it began.
  Press(List(), 120, RowY(w, 1) + 20);
  Move(List(), 130, RowY(w, 1) + 20);
  brush.SetColor(0x556677);
  DrawStroke(w, brush, {{30, 30}, {120, 90}, {200, 40}}, false);
  const int32_t mark = Mark(w);
  Release(List(), 130, RowY(w, 1) + 20);
  EXPECT_EQ(Layers(w).LayerOpacity(1), 255);

  Click(List(), 10, RowY(w, 1) + 5);
  Click(List(), 35, RowY(w, 1) + 5);
  Click(List(), 60, RowY(w, 0) + 20);
  Press(List(), 60, RowY(w, 1) + 20);
  EXPECT_FALSE(LayerWindow->Reordering);
  Release(List(), 60, RowY(w, 0) + 20);
  Messages.Answer = plat::IDYES;
  for (auto command : {&TLayerWindow::MultiItemClick, &TLayerWindow::DeleteItemClick, &TLayerWindow::CopyItemClick,
                       &TLayerWindow::CombineItemClick, &TLayerWindow::CombLowerItemClick,
                       &TLayerWindow::UpsideDownItemClick, &TLayerWindow::MirrorItemClick,
                       &TLayerWindow::NegaposiItemClick, &TLayerWindow::Rot180ItemClick})
    (LayerWindow->*command)();
  Click(PenWindow2->PaintBox1, 16, 48);
  Click(ColorWindow->PaintBox1, 127, 0);
  EXPECT_EQ(Mark(w), mark);
  EXPECT_EQ(Layers(w).LastIndex(), 1);
  EXPECT_EQ(Layers(w).ActiveIndex(), 1);
  EXPECT_TRUE(Layers(w).LayerVisible(1));
  EXPECT_EQ(Layers(w).LayerKind(1), lkMultiply);
  EXPECT_EQ(brush.Kind, bkPen);
  EXPECT_EQ(brush.Color, 0x556677u);
  EndStroke(w, brush, {200, 40});
  EXPECT_TRUE(ReplayMatches(w));
}

TEST_F(LayerWin, ListClearsWithoutAPaperAndPlacesAreKept) {
  TDrawWindow* w = MakePaper(64, 64);
  LayerWindow->DrawLayers(w->Paper.get());
  EXPECT_NE(LayerWindow->ListSurface.GetPixel(60, 25) & 0xFFFFFF, 0x808080u);
  VLMain->CloseAllPapers(false);
  Settle();
  EXPECT_EQ(LayerWindow->ListSurface.GetPixel(60, 25) & 0xFFFFFF, 0x808080u);
  EXPECT_FALSE(LayerWindow->ScrollBar1->Bar()->isEnabled());
  EXPECT_EQ(LayerWindow->width(), 210);
  LayerWindow->move(33, 44);
  LayerWindow->resize(210, 300);
  DestroyForms();
  CreateForms();
  EXPECT_EQ(LayerWindow->pos(), QPoint(33, 44));
  EXPECT_EQ(LayerWindow->height(), 300);
  EXPECT_EQ(LayerWindow->width(), 210);
}

}  // namespace

namespace {

TEST_F(LayerWin, RowsShowEyeKindOpacityAndTheActiveLayer) {
  TDrawWindow* w = Paper(2);
  Layers(w).SetOpacity(0, 102);
  Layers(w).SetVisible(1, 0);
  Layers(w).SetActiveLayer(1);
  LayerWindow->DrawLayers(w->Paper.get());
  const TTCDC& s = LayerWindow->ListSurface;
  const int top0 = RowY(w, 0), top1 = RowY(w, 1);
  // Opacity markers at 114 + opacity / 255 x 50.
  EXPECT_EQ(s.GetPixel(114 + 20 + 1, top0 + 12) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(s.GetPixel(114 + 50 + 1, top1 + 12) & 0xFFFFFF, 0xFF0000u);
  // The eyes differ between a shown and a hidden layer; the active row is tinted blue.
  bool eyesDiffer = false;
  for (int y = 0; y < 50 && !eyesDiffer; ++y)
    for (int x = 0; x < 25; ++x) eyesDiffer |= s.GetPixel(x, top0 + y) != s.GetPixel(x, top1 + y);
  EXPECT_TRUE(eyesDiffer);
  const uint32_t plain = s.GetPixel(60, top0 + 45), active = s.GetPixel(60, top1 + 45);
  EXPECT_GT(active & 255, (active >> 16) & 255);
  EXPECT_EQ(plain & 0xFFFFFF, 0xD8D8D8u);
  // Below the rows the list is grey.
  EXPECT_EQ(s.GetPixel(60, top0 + 60) & 0xFFFFFF, 0x808080u);
}

}  // namespace
