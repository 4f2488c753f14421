#include "engine/LayerMng.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <set>
#include <vector>

namespace {

constexpr uint32_t kRgb = 0xFFFFFFu;

std::vector<uint32_t> Pixels(const TBlockImage& b) {
  std::vector<uint32_t> out;
  out.reserve(size_t(b.Width()) * b.Height());
  for (int32_t y = 0; y < b.Height(); ++y)
    for (int32_t x = 0; x < b.Width(); ++x) out.push_back(b.GetPixel(x, y));
  return out;
}

std::vector<uint32_t> Pixels(const TTC& c) {
  std::vector<uint32_t> out;
  for (int32_t y = 0; y < c.Height(); ++y)
    for (int32_t x = 0; x < c.Width(); ++x) out.push_back(c.GetPixel(x, y));
  return out;
}

std::vector<bool> TilePresence(const TBlockImage& b) {
  std::vector<bool> out;
  for (int32_t ty = 0; ty < TBlock::kGridSide; ++ty)
    for (int32_t tx = 0; tx < TBlock::kGridSide; ++tx) out.push_back(b.GetTile(tx, ty) != nullptr);
  return out;
}

// Everything observable of one layer.
void ExpectSameLayer(const TLayer& got, const TLayer& want) {
  EXPECT_EQ(got.Kind(), want.Kind());
  EXPECT_EQ(got.Opacity(), want.Opacity());
  EXPECT_EQ(got.Visible(), want.Visible());
  EXPECT_EQ(got.Image().BackColour(), want.Image().BackColour());
  EXPECT_EQ(Pixels(got.Image()), Pixels(want.Image()));
  EXPECT_EQ(TilePresence(got.Image()), TilePresence(want.Image()));
  EXPECT_EQ(Pixels(got.Thumbnail()), Pixels(want.Thumbnail()));
  EXPECT_EQ(got.UndoTop(), want.UndoTop());
  EXPECT_EQ(got.UndoSteps(), want.UndoSteps());
  for (int32_t k = 0; k < kUndoSlots; ++k) {
    EXPECT_EQ(got.UndoOrigin(k), want.UndoOrigin(k));
    EXPECT_EQ(got.Undo(k).Width(), want.Undo(k).Width());
    EXPECT_EQ(got.Undo(k).Height(), want.Undo(k).Height());
    EXPECT_EQ(got.Undo(k).BackColour(), want.Undo(k).BackColour());
    EXPECT_EQ(Pixels(got.Undo(k)), Pixels(want.Undo(k)));
    EXPECT_EQ(TilePresence(got.Undo(k)), TilePresence(want.Undo(k)));
  }
}

// A summary of the whole stack, to show that an operation changed nothing.
struct Snapshot {
  int32_t last, active;
  std::vector<std::vector<uint32_t>> pixels, thumbs;
  std::vector<int32_t> attrs;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Snap(TLayerMng& m) {
  Snapshot s{m.LastIndex(), m.ActiveIndex(), {}, {}, {}};
  for (int32_t i = 0; i <= m.LastIndex(); ++i) {
    const TLayer& l = *m.Layers(i);
    s.pixels.push_back(Pixels(l.Image()));
    s.thumbs.push_back(Pixels(l.Thumbnail()));
    s.attrs.insert(s.attrs.end(), {l.Kind(), l.Opacity(), l.Visible(), l.UndoSteps(), l.UndoTop()});
    if (TBlockImage* work = m.FlowImage(i)) s.pixels.push_back(Pixels(*work));
  }
  return s;
}

std::unique_ptr<TLayerMng> Stack(int32_t w = 100, int32_t h = 80) {
  auto m = TLayerMng::Create(w, h);
  EXPECT_NE(m, nullptr);
  return m;
}

// The working copy of the active layer holds the layer's pixels.
void ExpectActiveCopyInStep(TLayerMng& m) {
  TBlockImage* work = m.FlowImage(m.ActiveIndex());
  ASSERT_NE(work, nullptr);
  EXPECT_EQ(Pixels(*work), Pixels(*m.LayerImage(m.ActiveIndex())));
}

}  // namespace

TEST(LayerMngTest, NewStackAndItsSizeLimits) {
  auto m = Stack(300, 200);
  EXPECT_EQ(m->LastIndex(), 0);
  EXPECT_EQ(m->ActiveIndex(), 0);
  EXPECT_EQ(m->PaperColor(), 0xFFFFFFu);
  EXPECT_EQ(m->LayerKind(0), lkMultiply);
  EXPECT_EQ(m->LayerImage(0)->Width(), 300);
  EXPECT_EQ(m->LayerThumbnail(0)->Width(), 46);
  EXPECT_EQ(m->Flow().SlotCount(), 1);
  ExpectActiveCopyInStep(*m);
  EXPECT_TRUE(m->CanAddLayer());
  EXPECT_FALSE(m->CanDeleteLayer());
  EXPECT_FALSE(m->CanCombineVisible());

  for (auto [w, h] : {std::pair{6400, 10}, {10, 6400}, {0, 10}, {10, -1}, {INT_MAX, INT_MAX}, {INT_MIN, 5}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    EXPECT_EQ(TLayerMng::Create(w, h), nullptr);
    EXPECT_FALSE(m->SetSize(w, h));
  }
  EXPECT_EQ(m->Width(), 300);
  EXPECT_EQ(m->Height(), 200);
  // The far edges of the largest paper are inside the grid and can be written.
  for (auto [w, h] : {std::pair{kMaxPaperSide, 64}, {64, kMaxPaperSide}}) {
    auto big = TLayerMng::Create(w, h);
    ASSERT_NE(big, nullptr);
    big->FillRect(0, w - 1, h - 1, 10, 10, 0x123456);
    EXPECT_EQ(big->LayerImage(0)->GetPixel(w - 1, h - 1) & kRgb, 0x123456u);
    ExpectActiveCopyInStep(*big);
  }
  EXPECT_TRUE(m->SetSize(kMaxPaperSide, 1));
}

// Random sequences of stack operations, checked after every step against a small model of the
// stack. Each layer marks its own pixel (id % 64, id / 64); the model knows which marks each
// layer shows, and which pixels a merge leaves unknown.
TEST(LayerMngTest, StackOperationsFollowAReferenceModel) {
  struct ML {
    std::set<int32_t> marks, unknown;
    TLayerKind kind;
    uint8_t opacity = 255;
    bool visible = true;
    int32_t undo = 0;
  };
  for (uint32_t seed = 1; seed <= 5; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    auto rnd = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
    auto m = Stack(64, 64);
    std::vector<ML> model{ML{{0}, {}, lkMultiply}};
    int32_t active = 0, nextId = 1;
    m->FillRect(0, 0, 0, 1, 1, 0x000000);
    auto markColour = [](TLayerKind k) { return k == lkMultiply ? 0x000000u : 0xFFFFFFu; };
    auto index = [&] { return rnd(0, 9) == 0 ? rnd(-3, 27) : rnd(0, int32_t(model.size()) - 1); };
    auto valid = [&](int32_t i) { return i >= 0 && i < int32_t(model.size()); };
    // A merge of `up` into `low`: low's marks that up leaves neutral stay; the rest is unknown.
    auto mergeInto = [](ML& low, const ML& up) {
      std::set<int32_t> touched = up.marks;
      touched.insert(up.unknown.begin(), up.unknown.end());
      for (int32_t t : touched) {
        low.marks.erase(t);
        low.unknown.insert(t);
      }
    };

    for (int32_t step = 0; step < 100; ++step) {
      const int32_t op = rnd(0, 11);
      SCOPED_TRACE(testing::Message() << "step " << step << " op " << op);
      switch (op) {
        case 0:
        case 1: {  // add, with a kind byte that may be unknown
          const uint32_t kinds[] = {0, 1, 2, 3, 255};
          const TLayerKind kind = static_cast<TLayerKind>(kinds[rnd(0, 4)]);
          m->AddLayer(kind);
          if (model.size() < 24) {
            const int32_t id = nextId++;
            const TLayerKind k = SanitizeLayerKind(kind);
            model.push_back(ML{{id}, {}, k});
            active = int32_t(model.size()) - 1;
            m->FillRect(active, id % 64, id / 64, 1, 1, markColour(k));
          }
          break;
        }
        case 2: {
          const int32_t i = index();
          m->DeleteLayer(i);
          if (valid(i) && model.size() > 1) {
            const bool top = i == int32_t(model.size()) - 1;
            model.erase(model.begin() + i);
            active = top ? i - 1 : i;
          }
          break;
        }
        case 3: {
          const int32_t i = index();
          m->DuplicateLayer(i);
          if (valid(i) && model.size() < 24) {
            model.push_back(model[active]);
            active = int32_t(model.size()) - 1;
          }
          break;
        }
        case 4: {
          const int32_t from = index(), to = index();
          m->MoveLayer(from, to);
          if (valid(from) && valid(to) && from != to) {
            ML moved = model[from];
            model.erase(model.begin() + from);
            model.insert(model.begin() + to, moved);
            active = to;
          }
          break;
        }
        case 5: {
          const int32_t i = index();
          const bool ok = m->CombineLower(i);
          EXPECT_EQ(ok, valid(i) && i != 0);
          if (ok) {
            mergeInto(model[i - 1], model[i]);
            model.erase(model.begin() + i);
            active = i - 1;
          }
          break;
        }
        case 6: {
          std::vector<int32_t> vis;
          for (int32_t k = 0; k < int32_t(model.size()); ++k)
            if (model[k].visible) vis.push_back(k);
          bool can = vis.size() >= 2 && model[vis[0]].kind <= lkSubtract;
          for (int32_t k : vis) can = can && model[k].kind == model[vis[0]].kind;
          EXPECT_EQ(m->CanCombineVisible(), can);
          EXPECT_EQ(m->CombineVisible(), can);
          if (can) {
            ML& base = model[vis[0]];
            // Subtracting from the black merge canvas leaves black, and an opacity below 255
            // fades the marks: they are not followed further.
            if (base.kind == lkSubtract || base.opacity != 255) mergeInto(base, base);
            for (size_t n = vis.size() - 1; n >= 1; --n) {
              mergeInto(base, model[vis[n]]);
              model.erase(model.begin() + vis[n]);
            }
            base.opacity = 255;
            active = 0;
          }
          break;
        }
        case 7: {
          const int32_t i = index();
          const uint8_t v = static_cast<uint8_t>(rnd(0, 2) == 2 ? 7 : rnd(0, 1));
          m->SetVisible(i, v);
          if (valid(i)) model[i].visible = v != 0;
          break;
        }
        case 8: {
          const int32_t i = index();
          const uint8_t o = static_cast<uint8_t>(rnd(0, 1) ? 255 : rnd(1, 254));
          m->SetOpacity(i, o);
          if (valid(i)) model[i].opacity = o;
          break;
        }
        case 9: {
          const int32_t i = index();
          m->PushUndo(i);
          if (valid(i)) model[i].undo = std::min(model[i].undo + 1, 8);
          break;
        }
        case 10: {
          const int32_t i = index();
          m->SetActiveLayer(i);
          if (valid(i)) active = i;
          break;
        }
        case 11: {
          const int32_t i = index();
          m->ShowOnly(i);
          if (valid(i)) {
            const bool was = model[i].visible;
            for (ML& l : model) l.visible = was;
            model[i].visible = !was;
          }
          break;
        }
      }
      ASSERT_EQ(m->LastIndex(), int32_t(model.size()) - 1);
      ASSERT_EQ(m->ActiveIndex(), active);
      EXPECT_EQ(m->CanAddLayer(), model.size() < 24);
      EXPECT_EQ(m->CanDeleteLayer(), model.size() > 1);
      for (int32_t i = 0; i < int32_t(model.size()); ++i) {
        const ML& want = model[i];
        ASSERT_EQ(m->LayerKind(i), want.kind) << "layer " << i;
        EXPECT_EQ(m->LayerOpacity(i), want.opacity) << "layer " << i;
        EXPECT_EQ(m->LayerVisible(i), want.visible) << "layer " << i;
        EXPECT_EQ(m->Layers(i)->UndoSteps(), want.undo) << "layer " << i;
        const TBlockImage& img = *m->LayerImage(i);
        for (int32_t id = 0; id < nextId; ++id) {
          if (want.unknown.count(id)) continue;
          const bool marked = (img.GetPixel(id % 64, id / 64) & kRgb) != LayerClearColor(want.kind);
          ASSERT_EQ(marked, want.marks.count(id) == 1) << "layer " << i << " mark " << id;
        }
      }
      ExpectActiveCopyInStep(*m);
    }
  }
}

// Shifting layers moves the layer objects; a stack that copies each layer into its new place,
// as the merge and delete rules can be read, must look the same in every observable byte.
TEST(LayerMngTest, ShiftingLayersEqualsCopyingThem) {
  const TLayerKind kinds[] = {lkMultiply, lkAdd, lkArgb, lkSubtract, lkMultiply};
  auto build = [&](TLayer& l, int32_t k) {
    l.SetOpacity(static_cast<uint8_t>(40 * k + 20));
    l.SetVisible(k % 2 ? 0 : 1);
    l.FillRect(10 * k, 5 * k, 70, 50, 0x203040u * uint32_t(k + 1));
    l.PushUndoRect(k, 2 * k, 40 + k, 30);
    l.FillRect(0, 0, 64, 64, l.ClearColor());  // opaque background: compacted when a layer moves
    l.Image().FillRect(64, 64, 64, 16, 0xFF000000u);  // opaque black: kept only by lkArgb
    l.PushUndo();
    l.Image().SetPixel(120, 3 + k, 0xFF00FF00u);
    l.UpdateThumbnail();
  };
  auto fresh = [&](std::vector<std::unique_ptr<TLayer>>& ref, TLayerMng& m) {
    for (int32_t k = 0; k < 5; ++k) {
      if (k > 0) m.AddLayer(kinds[k]);
      auto l = std::make_unique<TLayer>(kinds[k]);
      l->SetSize(150, 90);
      l->Clear();
      build(*l, k);
      build(*m.Layers(k), k);
      ref.push_back(std::move(l));
    }
  };
  // The copying forms.
  auto copyLayer = [](std::vector<std::unique_ptr<TLayer>>& ref, int32_t from, int32_t to) {
    ref[from]->Assign(*ref[to]);
    ref[to]->Compact();
  };
  auto refDelete = [&](std::vector<std::unique_ptr<TLayer>>& ref, int32_t i) {
    for (int32_t k = i; k + 1 < int32_t(ref.size()); ++k) copyLayer(ref, k + 1, k);
    ref.pop_back();
  };
  auto refMove = [&](std::vector<std::unique_ptr<TLayer>>& ref, int32_t from, int32_t to) {
    TLayer saved(ref[from]->Kind());
    saved.SetSize(150, 90);
    ref[from]->Assign(saved);
    if (to < from)
      for (int32_t k = from; k > to; --k) copyLayer(ref, k - 1, k);
    else
      for (int32_t k = from; k < to; ++k) copyLayer(ref, k + 1, k);
    saved.Assign(*ref[to]);
  };
  auto refCombineLower = [&](std::vector<std::unique_ptr<TLayer>>& ref, int32_t i) {
    TLayer& lower = *ref[i - 1];
    const TLayer& upper = *ref[i];
    TTC canvas(150, 90);
    canvas.Fill(lower.Image().BackColour());
    lower.Image().DrawTo(canvas, 0, 0);
    switch (upper.Kind()) {
      case lkMultiply: upper.Image().MultiplyTo(canvas, 0, 0, upper.Opacity()); break;
      case lkAdd: upper.Image().AddTo(canvas, 0, 0, upper.Opacity()); break;
      case lkSubtract: upper.Image().SubtractTo(canvas, 0, 0, upper.Opacity()); break;
      default: break;
    }
    lower.Image().LoadFromTTC(canvas);
    lower.Compact();
    refDelete(ref, i);
    lower.UpdateThumbnail();
  };

  struct Case {
    const char* name;
    void (*apply)(TLayerMng&);
    int32_t a, b;
  };
  const Case cases[] = {
      {"move 0 to 3", [](TLayerMng& m) { m.MoveLayer(0, 3); }, 0, 3},
      {"move 4 to 1", [](TLayerMng& m) { m.MoveLayer(4, 1); }, 4, 1},
      {"delete 1", [](TLayerMng& m) { m.DeleteLayer(1); }, 1, 0},
      {"delete top", [](TLayerMng& m) { m.DeleteLayer(4); }, 4, 0},
      {"merge 2 down", [](TLayerMng& m) { m.CombineLower(2); }, 2, 0},
      {"merge 3 down", [](TLayerMng& m) { m.CombineLower(3); }, 3, 0},
      {"merge top down", [](TLayerMng& m) { m.CombineLower(4); }, 4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto m = Stack(150, 90);
    std::vector<std::unique_ptr<TLayer>> ref;
    fresh(ref, *m);
    c.apply(*m);
    const std::string name = c.name;
    if (name.rfind("move", 0) == 0)
      refMove(ref, c.a, c.b);
    else if (name.rfind("delete", 0) == 0)
      refDelete(ref, c.a);
    else
      refCombineLower(ref, c.a);
    ASSERT_EQ(m->LastIndex(), int32_t(ref.size()) - 1);
    for (int32_t k = 0; k < int32_t(ref.size()); ++k) {
      SCOPED_TRACE(k);
      ExpectSameLayer(*m->Layers(k), *ref[k]);
    }
    EXPECT_EQ(m->MemorySize() - m->Flow().MemoryUsed(), [&] {
      int64_t sum = 0;
      for (auto& l : ref) sum += l->MemorySize();
      return sum;
    }());
  }
}

// Merge down of each kind at opacity 128: lower 200 grey, upper 100 grey (the tables' rules),
// and where the lower layer has no tiles, its background.
TEST(LayerMngTest, MergeDownByKind) {
  struct Case {
    TLayerKind lower, upper;
    bool upperVisible;
    uint32_t painted, blank;  // grey level where the lower was painted, and where it was blank
  } cases[] = {
      {lkMultiply, lkMultiply, true, 139, 178}, {lkMultiply, lkAdd, true, 250, 255},
      {lkMultiply, lkSubtract, false, 150, 205}, {lkMultiply, lkArgb, true, 200, 255},
      {lkAdd, lkAdd, true, 250, 50},            {lkArgb, lkSubtract, true, 150, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.lower) << " <- " << int(c.upper));
    auto m = Stack(100, 100);
    m->SetLayerKind(0, c.lower);
    m->ClearLayer(0);
    m->FillRect(0, 0, 0, 50, 100, 0xC8C8C8);  // 200
    m->SetOpacity(0, 99);
    m->PushUndo(0);
    m->AddLayer(c.upper);
    m->FillRect(1, 0, 0, 100, 100, 0x646464);  // 100
    m->SetOpacity(1, 128);
    m->SetVisible(1, c.upperVisible);
    m->AddLayer(lkAdd);  // stays above and moves down
    m->SetOpacity(2, 7);
    ASSERT_TRUE(m->CombineLower(1));
    EXPECT_EQ(m->LastIndex(), 1);
    EXPECT_EQ(m->ActiveIndex(), 0);
    EXPECT_EQ(m->LayerImage(0)->GetPixel(10, 10) & kRgb, c.painted * 0x010101u);
    EXPECT_EQ(m->LayerImage(0)->GetPixel(90, 90) & kRgb, c.blank * 0x010101u);
    EXPECT_EQ(m->LayerKind(0), c.lower);
    EXPECT_EQ(m->LayerOpacity(0), 99);
    EXPECT_EQ(m->Layers(0)->UndoSteps(), 1);
    EXPECT_EQ(m->LayerOpacity(1), 7);
    EXPECT_EQ(m->LayerKind(1), lkAdd);
    ExpectActiveCopyInStep(*m);
  }
  auto m = Stack();
  EXPECT_FALSE(m->CombineLower(0));
  m->AddLayer(lkAdd);
  const Snapshot before = Snap(*m);
  EXPECT_FALSE(m->CombineLower(0));
  EXPECT_FALSE(m->CombineLower(2));
  EXPECT_EQ(Snap(*m), before);
}

TEST(LayerMngTest, MergeVisibleCarriesOpacitiesIntoThePixels) {
  struct Case {
    TLayerKind kind;
    uint32_t g1, g2, g3, result;
  } cases[] = {{lkMultiply, 200, 100, 50, 71}, {lkAdd, 40, 100, 30, 127}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.kind));
    auto m = Stack(70, 70);
    m->SetVisible(0, 0);  // hidden: not part of the merge, yet active afterwards
    const uint32_t grey[] = {c.g1, c.g2, c.g3};
    const uint8_t opacity[] = {128, 255, 64};
    for (int32_t k = 0; k < 3; ++k) {
      m->AddLayer(c.kind);
      m->FillRect(m->LastIndex(), 0, 0, 70, 70, grey[k] * 0x010101u);
      m->SetOpacity(m->LastIndex(), opacity[k]);
      if (k == 1) {
        m->AddLayer(c.kind);  // a hidden layer between them stays
        m->SetVisible(m->LastIndex(), 0);
      }
    }
    ASSERT_EQ(m->LastIndex(), 4);
    ASSERT_TRUE(m->CombineVisible());
    EXPECT_EQ(m->LastIndex(), 2);
    EXPECT_EQ(m->ActiveIndex(), 0);
    EXPECT_EQ(m->LayerOpacity(1), 255);
    EXPECT_EQ(m->LayerImage(1)->GetPixel(35, 35) & kRgb, c.result * 0x010101u);
    EXPECT_FALSE(m->LayerVisible(2));
    ExpectActiveCopyInStep(*m);
  }
  // Refused: different kinds, a single visible layer, and layers that merging cannot draw.
  for (int32_t variant = 0; variant < 3; ++variant) {
    SCOPED_TRACE(variant);
    auto m = Stack();
    m->AddLayer(variant == 0 ? lkAdd : lkArgb);
    if (variant == 1) m->SetVisible(0, 0);
    if (variant == 2) {
      m->SetLayerKind(0, lkArgb);
      m->AddLayer(255);
    }
    const Snapshot before = Snap(*m);
    EXPECT_FALSE(m->CanCombineVisible());
    EXPECT_FALSE(m->CombineVisible());
    EXPECT_EQ(Snap(*m), before);
  }
}

TEST(LayerMngTest, FiltersOnOneLayerAndOnTheVisibleLayers) {
  struct Case {
    const char* name;
    void (*one)(TLayerMng&, int32_t);
    void (*all)(TLayerMng&);
    int32_t x, y;  // where pixel (2, 3) lands on a 100 x 80 paper
    uint32_t colour;
  } cases[] = {
      {"upside down", [](TLayerMng& m, int32_t i) { m.UpsideDown(i); }, [](TLayerMng& m) { m.UpsideDownVisible(); },
       2, 76, 0x102030},
      {"mirror", [](TLayerMng& m, int32_t i) { m.Mirror(i); }, [](TLayerMng& m) { m.MirrorVisible(); }, 97, 3,
       0x102030},
      {"rotate", [](TLayerMng& m, int32_t i) { m.Rotate180(i); }, [](TLayerMng& m) { m.Rotate180Visible(); }, 97,
       76, 0x102030},
      {"negative", [](TLayerMng& m, int32_t i) { m.NegaPosi(i); }, [](TLayerMng& m) { m.NegaPosiVisible(); }, 2, 3,
       0xEFDFCF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto m = Stack();
    m->AddLayer(lkMultiply);
    m->AddLayer(lkMultiply);
    for (int32_t i = 0; i < 3; ++i) m->FillRect(i, 2, 3, 1, 1, 0x102030);
    m->SetVisible(1, 0);
    m->SetActiveLayer(2);
    const std::vector<uint32_t> hidden = Pixels(*m->LayerImage(1));
    const std::vector<uint32_t> thumb = Pixels(*m->LayerThumbnail(0));

    c.one(*m, 0);  // not the active layer: it takes the slot and its copy is in step
    EXPECT_EQ(m->LayerImage(0)->GetPixel(c.x, c.y) & kRgb, c.colour);
    ASSERT_NE(m->FlowImage(0), nullptr);
    EXPECT_EQ(Pixels(*m->FlowImage(0)), Pixels(*m->LayerImage(0)));
    EXPECT_NE(Pixels(*m->LayerThumbnail(0)), thumb);

    c.all(*m);
    EXPECT_EQ(m->LayerImage(2)->GetPixel(c.x, c.y) & kRgb, c.colour);
    EXPECT_EQ(Pixels(*m->LayerImage(1)), hidden);
    EXPECT_EQ(m->ActiveIndex(), 2);
    ExpectActiveCopyInStep(*m);
    // Layer 0 had the filter twice: back where it started (the negative leaves its alpha).
    EXPECT_EQ(m->LayerImage(0)->GetPixel(2, 3) & kRgb, 0x102030u);
  }
  for (int32_t bad : {-1, 3, 24, INT_MIN}) {
    auto m = Stack();
    m->FillRect(0, 2, 3, 1, 1, 0x102030);
    const Snapshot before = Snap(*m);
    m->UpsideDown(bad);
    m->Mirror(bad);
    m->Rotate180(bad);
    m->NegaPosi(bad);
    EXPECT_EQ(Snap(*m), before);
  }
}

TEST(LayerMngTest, UndoRestoresLayerAndWorkingCopy) {
  auto m = Stack(200, 100);
  EXPECT_EQ(m->Undo(0), TRect{});
  m->PushUndoRect(0, 20, 10, 30, 40);
  m->FillRect(0, 0, 0, 200, 100, 0x000000);
  const TRect r = m->Undo(0);
  EXPECT_EQ(r, Rect(20, 10, 50, 50));
  EXPECT_EQ(m->LayerImage(0)->GetPixel(25, 15) & kRgb, kRgb);
  EXPECT_EQ(m->LayerImage(0)->GetPixel(60, 15) & kRgb, 0u);
  ExpectActiveCopyInStep(*m);
  EXPECT_FALSE(m->CanUndo(0));
  EXPECT_EQ(m->Undo(0), TRect{});
  EXPECT_FALSE(m->CanUndo(5));

  m->PushUndo(0);
  m->AddLayer(lkAdd);
  m->PushUndo(1);
  EXPECT_GT(m->UndoMemorySize(), 0);
  m->ClearUndo(1);
  EXPECT_FALSE(m->CanUndo(1));
  EXPECT_TRUE(m->CanUndo(0));
  m->ClearAllUndo();
  EXPECT_FALSE(m->CanUndo(0));
  EXPECT_EQ(m->UndoMemorySize(), 0);
}

TEST(LayerMngTest, PolygonFillAndClearGoThroughTheSelection) {
  auto m = Stack(100, 100);
  TSelectMng sel(100, 100);
  const std::vector<TPoint> tri = {{10, 10}, {90, 10}, {50, 90}};
  std::vector<TPoint> pts = tri;
  m->FillPolygon(0, sel, 0xFF0000, pts.data(), 3);
  EXPECT_EQ(pts, tri);
  // Through a mask of 255 the blend stops one short of the colour: 255, 1, 1.
  EXPECT_EQ(m->LayerImage(0)->GetPixel(50, 30) & kRgb, 0xFF0101u);
  EXPECT_EQ(m->LayerImage(0)->GetPixel(5, 50) & kRgb, kRgb);
  EXPECT_TRUE(sel.IsEmpty(0));
  EXPECT_EQ(sel.GetSlot(0).Mask->MemoryUsed(), 0);
  ExpectActiveCopyInStep(*m);

  m->ClearPolygon(0, sel, pts.data(), 3);
  EXPECT_EQ(m->LayerImage(0)->GetPixel(50, 30) & kRgb, kRgb);
  EXPECT_TRUE(sel.IsEmpty(0));

  // Index outside the stack: the selection is not touched either.
  sel.SelectAll(0);
  const Snapshot before = Snap(*m);
  m->FillPolygon(1, sel, 0, pts.data(), 3);
  m->ClearPolygon(-1, sel, pts.data(), 3);
  EXPECT_EQ(Snap(*m), before);
  EXPECT_FALSE(sel.IsEmpty(0));
}

TEST(LayerMngTest, BitmapReplacementCanBeUndoneOutsideTheBitmap) {
  auto m = Stack(100, 100);
  m->FillRect(0, 0, 0, 100, 100, 0x336699);
  TTC bitmap(30, 20);
  bitmap.Fill(0xFF112233u);
  m->SetLayerBitmap(0, bitmap);
  EXPECT_EQ(m->LayerImage(0)->GetPixel(5, 5), 0xFF112233u);
  EXPECT_EQ(m->LayerImage(0)->GetPixel(50, 50) & kRgb, kRgb);  // outside the bitmap: background
  ExpectActiveCopyInStep(*m);
  ASSERT_TRUE(m->CanUndo(0));
  EXPECT_EQ(m->Undo(0), Rect(0, 0, 100, 100));
  EXPECT_EQ(m->LayerImage(0)->GetPixel(5, 5) & kRgb, 0x336699u);
  EXPECT_EQ(m->LayerImage(0)->GetPixel(50, 50) & kRgb, 0x336699u);
  // A bitmap larger than the paper is cut.
  TTC large(300, 300);
  large.Fill(0xFF000000u);
  m->SetLayerBitmap(0, large);
  EXPECT_EQ(m->LayerImage(0)->GetPixel(99, 99), 0xFF000000u);
}

TEST(LayerMngTest, AttributesKindsAndShowOnly) {
  auto m = Stack();
  m->AddLayer(lkMultiply);
  m->AddLayer(lkMultiply);
  m->ShowOnly(1);  // visible: all shown, then it hidden
  EXPECT_EQ((std::vector<bool>{m->LayerVisible(0), m->LayerVisible(1), m->LayerVisible(2)}),
            (std::vector<bool>{true, false, true}));
  m->ShowOnly(1);  // hidden: only it shown
  EXPECT_EQ((std::vector<bool>{m->LayerVisible(0), m->LayerVisible(1), m->LayerVisible(2)}),
            (std::vector<bool>{false, true, false}));
  m->SetVisible(0, 9);
  EXPECT_EQ(m->Layers(0)->Visible(), 1);
  m->ChangeOpacity(2, 3);
  EXPECT_EQ(m->LayerOpacity(2), 3);

  // A crafted kind byte: lkArgb, painted black, its index where it would be.
  m->SetLayerKind(2, 255);
  EXPECT_EQ(m->LayerKind(2), lkArgb);
  EXPECT_EQ(m->LayerImage(2)->GetPixel(1, 1) & kRgb, kRgb);  // the white pixels stay
  ExpectActiveCopyInStep(*m);
  EXPECT_EQ(m->FlowImage(2)->BackColour(), 0u);
  m->AddLayer(200);
  EXPECT_EQ(m->LastIndex(), 3);
  EXPECT_EQ(m->LayerKind(3), lkArgb);
  EXPECT_EQ(m->LayerImage(3)->GetPixel(1, 1), 0u);
  m->ClearLayer(2);
  EXPECT_EQ(m->LayerImage(2)->GetPixel(1, 1), 0u);
  EXPECT_EQ(m->LayerThumbnail(5), nullptr);
  EXPECT_EQ(m->LayerImage(-1), nullptr);
  EXPECT_EQ(m->FlowImage(4), nullptr);
  EXPECT_EQ(m->FlowMask(-2), nullptr);
}

TEST(LayerMngTest, StackIsFullAtTwentyFourLayers) {
  auto m = Stack(64, 64);
  for (int32_t k = 0; k < 30; ++k) m->AddLayer(lkAdd);
  EXPECT_EQ(m->LastIndex(), kMaxLayers - 1);
  EXPECT_FALSE(m->CanAddLayer());
  m->DuplicateLayer(3);
  EXPECT_EQ(m->LastIndex(), kMaxLayers - 1);
  for (int32_t k = 0; k < 30; ++k) m->DeleteLayer(0);
  EXPECT_EQ(m->LastIndex(), 0);
  EXPECT_EQ(m->LayerKind(0), lkAdd);
  m->DeleteLayer(0);
  EXPECT_EQ(m->LastIndex(), 0);
}

// Values a damaged or crafted stream can carry: every operation with an index outside the
// stack changes nothing; oversized rectangles and offsets stay inside the layer.
TEST(LayerMngTest, HostileArgumentsChangeNothingOrStayInside) {
  auto m = Stack(100, 80);
  m->AddLayer(lkAdd);
  m->FillRect(0, 10, 10, 20, 20, 0x445566);
  m->PushUndo(1);
  TSelectMng sel(100, 80);
  const std::vector<TPoint> pts = {{0, 0}, {50, 0}, {0, 50}};
  TTC bitmap(10, 10);
  const Snapshot before = Snap(*m);
  for (int32_t bad : {-1, 2, 23, 24, 255, 1000, INT_MAX, INT_MIN}) {
    SCOPED_TRACE(bad);
    m->SetActiveLayer(bad);
    m->DuplicateLayer(bad);
    m->DeleteLayer(bad);
    m->MoveLayer(bad, 0);
    m->MoveLayer(0, bad);
    EXPECT_FALSE(m->CombineLower(bad));
    m->SetVisible(bad, 0);
    m->ShowOnly(bad);
    m->SetOpacity(bad, 1);
    m->SetLayerKind(bad, lkSubtract);
    m->OffsetLayer(bad, 5, 5);
    m->ClearLayer(bad);
    m->FillSelection(sel.GetCurrentSlot(), bad, 0);
    m->ClearRect(bad, 0, 0, 10, 10);
    m->FillRect(bad, 0, 0, 10, 10, 0);
    m->FillPolygon(bad, sel, 0, pts.data(), 3);
    m->ClearPolygon(bad, sel, pts.data(), 3);
    m->SetLayerBitmap(bad, bitmap);
    m->PushUndo(bad);
    m->PushUndoRect(bad, 0, 0, 5, 5);
    EXPECT_EQ(m->Undo(bad), TRect{});
    m->ClearUndo(bad);
    m->LayerChanged(bad);
    m->RefreshFlow(bad);
    EXPECT_FALSE(m->CanUndo(bad));
    EXPECT_EQ(m->Layers(bad), nullptr);
    EXPECT_EQ(m->LayerOpacity(bad), 0);
    EXPECT_FALSE(m->LayerVisible(bad));
  }
  EXPECT_EQ(Snap(*m), before);

  // Oversized values on a real layer.
  m->FillRect(0, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0x010203);
  m->ClearRect(0, INT_MAX, INT_MAX, INT_MAX, INT_MAX);
  m->PushUndoRect(0, INT_MIN, 0, INT_MAX, INT_MAX);
  m->FillRect(0, -5, -5, INT_MAX, INT_MAX, 0x0A0B0C);
  EXPECT_EQ(m->LayerImage(0)->GetPixel(99, 79) & kRgb, 0x0A0B0Cu);
  EXPECT_EQ(m->Undo(0), TRect{});  // the step held no pixels
  m->OffsetLayer(0, INT_MAX, INT_MIN);
  EXPECT_EQ(m->LayerImage(0)->MemoryUsed(), 0);
  // A polygon of many far-out points.
  std::vector<TPoint> wild;
  std::mt19937 rng(7);
  for (int32_t k = 0; k < 400; ++k)
    wild.push_back({std::uniform_int_distribution<int32_t>(-40000, 40000)(rng),
                    std::uniform_int_distribution<int32_t>(-40000, 40000)(rng)});
  m->FillPolygon(0, sel, 0x00FF00, wild.data(), int32_t(wild.size()));
  EXPECT_TRUE(sel.IsEmpty(0));
  ASSERT_NE(m->FlowImage(0), nullptr);
  EXPECT_EQ(Pixels(*m->FlowImage(0)), Pixels(*m->LayerImage(0)));
  EXPECT_GE(m->MemorySize(), 0);
}
