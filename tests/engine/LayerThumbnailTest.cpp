// The thumbnail reduction of the layers must give exactly the bytes of the block's own box
// filter, for every shape of image, canvas and refreshed rectangle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "engine/EventPacket.h"
#include "engine/Layer.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "platform/core/MessageBox.h"

namespace {

using TRng = std::mt19937;

int32_t Pick(TRng& rng, int32_t n) { return static_cast<int32_t>(rng() % static_cast<uint32_t>(n)); }

// Tiles of noise, of one colour, of the background and absent, with the alpha byte in use.
void Paint(TBlockImage& b, TRng& rng) {
  const int32_t cols = b.Width() / 64 + 1, rows = b.Height() / 64 + 1;
  for (int32_t ty = 0; ty < rows; ++ty)
    for (int32_t tx = 0; tx < cols; ++tx) switch (Pick(rng, 4)) {
        case 0: break;
        case 1: b.FillRect(tx * 64, ty * 64, 64, 64, static_cast<uint32_t>(rng())); break;
        case 2: b.FillRect(tx * 64, ty * 64, 64, 64, b.BackColour()); break;
        default:
          for (int32_t y = 0; y < 64; ++y)
            for (int32_t x = 0; x < 64; ++x) b.SetPixel(tx * 64 + x, ty * 64 + y, static_cast<uint32_t>(rng()));
      }
}

void ExpectSame(const TTC& got, const TTC& want) {
  ASSERT_EQ(got.Width(), want.Width());
  ASSERT_EQ(got.Height(), want.Height());
  for (int32_t y = 0; y < got.Height(); ++y)
    for (int32_t x = 0; x < got.Width(); ++x)
      ASSERT_EQ(got.GetPixel(x, y), want.GetPixel(x, y)) << "at " << x << "," << y;
}

}  // namespace

TEST(LayerThumbnailTest, ReductionMatchesTheBlockBoxFilter) {
  struct TCase {
    int32_t W, H, CW, CH;
  };
  // Reductions by large and small factors, a canvas larger than the image (boxes of one
  // pixel, repeated), one-pixel images and canvases, sides of a whole number of tiles, boxes
  // of more rows than 16-bit column sums can hold.
  const std::vector<TCase> cases = {{700, 300, 46, 20},  {300, 700, 20, 46}, {128, 128, 46, 46}, {64, 1, 46, 2},
                                    {1, 1, 46, 46},      {30, 20, 46, 31},   {200, 200, 1, 1},   {1000, 999, 7, 300},
                                    {129, 65, 129, 65},  {40, 600, 3, 2}};
  for (uint32_t seed = 1; seed <= 4; ++seed)
    for (const TCase& c : cases) {
      SCOPED_TRACE(testing::Message() << c.W << "x" << c.H << " into " << c.CW << "x" << c.CH << " seed " << seed);
      TRng rng(seed * 104729u + static_cast<uint32_t>(c.W * 7 + c.CW));
      TBlockImage image;
      image.SetSize(c.W, c.H);
      image.SetBackColour(seed % 2 ? 0xFFFFFFu : 0u);
      Paint(image, rng);
      TTC want(c.CW, c.CH), got(c.CW, c.CH);
      const uint32_t start = static_cast<uint32_t>(rng());
      want.Fill(start);
      got.Fill(start);
      image.StretchTo(want);
      ReduceImageTo(image, got);
      ExpectSame(got, want);
      // Parts, also reaching past the canvas on every side.
      for (int k = 0; k < 6; ++k) {
        const int32_t x = Pick(rng, c.CW + 4) - 2, y = Pick(rng, c.CH + 4) - 2;
        const int32_t w = Pick(rng, c.CW + 3) - 1, h = Pick(rng, c.CH + 3) - 1;
        want.Fill(start);
        got.Fill(start);
        image.StretchRectTo(want, x, y, w, h);
        ReduceImageTo(image, got, x, y, w, h);
        ExpectSame(got, want);
      }
    }
}

// A layer's whole refresh (as after loading a picture) against the plain filter.
TEST(LayerThumbnailTest, LayerRefreshesGiveTheFilterBytes) {
  TRng rng(77);
  for (TLayerKind kind : {lkMultiply, lkAdd, lkArgb}) {
    TLayer layer(kind);
    ASSERT_TRUE(layer.SetSize(333, 210));
    Paint(layer.Image(), rng);
    layer.UpdateThumbnail();
    TTC want(layer.Thumbnail().Width(), layer.Thumbnail().Height());
    want.Fill(0xFFFFFFFFu);
    layer.Image().StretchTo(want);
    ExpectSame(layer.Thumbnail(), want);
  }
}

// Thumbnails are drawn when they are read. A paper whose thumbnails are read after every call
// of the player (each redraw drawn as it is asked for) and one whose thumbnails are read now
// and then must show the same bytes whenever the second is read: after strokes of every kind,
// rectangle and polygon fills, undos, layer changes, whole-paper changes and loads.
namespace {

TStrokeAttributes RandomBrush(TRng& rng, int32_t layers) {
  TStrokeAttributes a;
  a.Layer = static_cast<uint8_t>(Pick(rng, layers));
  a.Color = static_cast<uint32_t>(rng()) & 0xFFFFFF;
  a.ifSIZE = a.ifTRANSPARENCY = true;
  a.MIN = 50;
  a.WIDTH = static_cast<float>(2 + Pick(rng, 40));
  a.GAMMA = 1;
  a.EFFECT = 50;
  a.ENV = 30;
  a.SPEED = 30;
  return a;
}

// One random event (a stroke is one), for a paper of w x h with `layers` layers.
void WriteRandomStep(TEventPacket& e, TRng& rng, int32_t w, int32_t h, int32_t& layers) {
  const auto layer = [&] { return static_cast<uint8_t>(Pick(rng, layers)); };
  switch (Pick(rng, 20)) {
    case 0:
      if (layers < 6) e.WriteNewLayer(static_cast<uint8_t>(Pick(rng, 4))), ++layers;
      break;
    case 1:
      if (layers > 1) e.WriteDeleteLayer(layer()), --layers;
      break;
    case 2: e.WriteUndo(layer()); break;
    case 3: e.WriteFillRect(layer(), Pick(rng, w) - 20, Pick(rng, h) - 20, Pick(rng, w), Pick(rng, h), 9, 120, 250); break;
    case 4: e.WriteClearRect(layer(), Pick(rng, w), Pick(rng, h), Pick(rng, 90), Pick(rng, 90)); break;
    case 5: e.WriteLayerKind(layer(), static_cast<uint8_t>(Pick(rng, 4))); break;
    case 6: e.WriteLayerNegaPosi(layer()); break;
    case 7: e.WriteOffsetLayer(layer(), Pick(rng, 60) - 30, Pick(rng, 60) - 30); break;
    case 8:
      if (layers > 1) e.WriteCombineLower(static_cast<uint8_t>(1 + Pick(rng, layers - 1))), --layers;
      break;
    case 9:
      if (layers < 6) e.WriteDuplicateLayer(layer()), ++layers;
      break;
    case 10: e.WriteMoveLayer(layer(), layer()); break;
    case 11: {
      const TPoint pts[4] = {{Pick(rng, w), Pick(rng, h)}, {Pick(rng, w), Pick(rng, h)}, {Pick(rng, w), Pick(rng, h)},
                             {Pick(rng, w), Pick(rng, h)}};
      e.WriteFillPolygon(layer(), pts, 200, 30, 30, 4);
      break;
    }
    case 12: e.WriteMirrorVisible(); break;
    case 13: e.WriteRotate180Visible(); break;
    default: {
      const TStrokeAttributes a = RandomBrush(rng, layers);
      float x = static_cast<float>(Pick(rng, w)), y = static_cast<float>(Pick(rng, h));
      e.BeginStroke(a, static_cast<uint8_t>(Pick(rng, 5)), x, y, 0.5f);
      for (int k = 0; k < 12; ++k) {
        x += static_cast<float>(Pick(rng, 31) - 15);
        y += static_cast<float>(Pick(rng, 31) - 15);
        e.AddStrokePoint(x, y, k == 11 ? 0.0f : static_cast<float>(Pick(rng, 1024)) / 1024);
      }
      e.EndStroke();
    }
  }
}

std::vector<std::vector<uint32_t>> Thumbnails(TPaper& p) {
  std::vector<std::vector<uint32_t>> all;
  for (int32_t i = 0; i <= p.Layers->LastIndex(); ++i) {
    const TTC& t = *p.Layers->LayerThumbnail(i);
    std::vector<uint32_t> px;
    for (int32_t y = 0; y < t.Height(); ++y) px.insert(px.end(), t.Row32(y), t.Row32(y) + t.Width());
    px.push_back(static_cast<uint32_t>(t.Width()));
    all.push_back(std::move(px));
  }
  return all;
}

// Plays what e holds on the paper; the eager paper reads its thumbnails after every call.
void PlayAll(TPaper& p, TEventPacket& e, TStroke& brush, bool readEveryCall) {
  for (int calls = 0; calls < 100000 && e.Data().ReadPos() < e.Data().Size(); ++calls) {
    const int32_t before = e.Data().ReadPos();
    const bool inStroke = e.InStroke();
    p.PlayEvent(e, brush, nullptr);
    if (readEveryCall && p.Layers) Thumbnails(p);
    if (!inStroke && !e.InStroke() && e.Data().ReadPos() == before) break;
  }
}

}  // namespace

TEST(LayerThumbnailTest, ThumbnailsReadLateShowWhatReadingAfterEveryChangeShows) {
  TTempDir dir;
  plat::TMessageRecorder quiet(plat::IDOK);
  const int32_t sizes[][2] = {{300, 200}, {97, 250}, {640, 130}};
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    const int32_t w = sizes[seed - 1][0], h = sizes[seed - 1][1];
    SCOPED_TRACE(testing::Message() << "seed " << seed << ", " << w << "x" << h);
    TRng rng(seed * 7919u);
    TPaper eager, lazy;
    TStroke brushes[2];
    TEventPacket packets[2];
    for (TEventPacket& e : packets) e.WriteNewPaper(w, h);
    PlayAll(eager, packets[0], brushes[0], true);
    PlayAll(lazy, packets[1], brushes[1], false);
    int32_t layers = 1;
    for (int step = 0; step < 160; ++step) {
      SCOPED_TRACE(testing::Message() << "step " << step);
      TEventPacket e;
      WriteRandomStep(e, rng, w, h, layers);
      for (int k = 0; k < 2; ++k) {
        packets[k].Data().WriteBuffer(e.Data().Memory(), e.Data().Size());
        PlayAll(k == 0 ? eager : lazy, packets[k], brushes[k], k == 0);
      }
      ASSERT_EQ(eager.Layers->LastIndex(), lazy.Layers->LastIndex());
      layers = eager.Layers->LastIndex() + 1;
      if (step % 40 == 39) {
        // Both open what the eager one saves; the opened layers owe their thumbnails whole
        // until read, and then show what a whole redraw of the layer gives.
        const std::string path = dir.Path("step" + std::to_string(step) + ".wpb");
        TEventPacket record;
        record.WriteNewPaper(w, h);
        ASSERT_TRUE(eager.SaveToFile(path, false, record));
        TEventPacket loaded[2];
        ASSERT_TRUE(eager.LoadFromFile(path, loaded[0]));
        ASSERT_TRUE(lazy.LoadFromFile(path, loaded[1]));
        for (int32_t i = 0; i <= lazy.Layers->LastIndex(); ++i) {
          const TLayer& l = *lazy.Layers->Layers(i);
          EXPECT_GT(l.ThumbnailPixelsOwed(), 0) << "layer " << i << " drawn at the load";
          TTC whole(l.Thumbnail().Width(), l.Thumbnail().Height());
          ReduceImageTo(l.Image(), whole);
          ExpectSame(l.Thumbnail(), whole);
          EXPECT_EQ(l.ThumbnailPixelsOwed(), 0);
        }
        Thumbnails(eager);
      }
      if (Pick(rng, 4) == 0 || step == 159) ASSERT_EQ(Thumbnails(lazy), Thumbnails(eager));
    }
  }
}

// The same at the layer's own calls, in the orders the manager and the paper make them, with
// tiles left uncompacted that match the background in colour but not in alpha, so that a later
// compaction changes what the pixels they feed reduce to.
TEST(LayerThumbnailTest, LayerCallsReadLateShowWhatReadingAfterEveryCallShows) {
  for (uint32_t seed = 1; seed <= 18; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    TRng rng(seed * 31337u);
    const TLayerKind kind = static_cast<TLayerKind>(seed % 4);
    TLayer eager(kind), lazy(kind);
    // Sides of a whole number of thumbnail pixels, whose sample boxes overlap by a pixel (a
    // rectangle's redraw leaves its neighbours owed), other sides, and layers smaller than
    // their thumbnails, whose pixels each feed several.
    const int32_t m = 3 + Pick(rng, 10);
    const int32_t w = seed % 3 == 0 ? 46 * m : seed % 3 == 1 ? 150 + Pick(rng, 400) : 1 + Pick(rng, 40);
    const int32_t h = seed % 3 == 0 ? 46 * m / 3 + Pick(rng, 40) : seed % 3 == 1 ? 100 + Pick(rng, 300) : 1 + Pick(rng, 40);
    ASSERT_TRUE(eager.SetSize(w, h) && lazy.SetSize(w, h));
    for (int step = 0; step < 120; ++step) {
      SCOPED_TRACE(testing::Message() << "step " << step);
      const int32_t x = Pick(rng, w + 40) - 20, y = Pick(rng, h + 40) - 20;
      const int32_t rw = 1 + Pick(rng, std::max(w / 3, 2)), rh = 1 + Pick(rng, std::max(h / 3, 2));
      const int op = Pick(rng, 9);
      const uint32_t colour = Pick(rng, 2) ? static_cast<uint32_t>(rng()) : (LayerClearColor(kind) | 0xFF000000u);
      const int32_t noise = Pick(rng, 3);
      for (TLayer* l : {&eager, &lazy}) {
        TBlockImage& img = l->Image();
        auto paint = [&] {
          img.FillRect(x, y, rw, rh, colour);
          if (noise == 0) img.SetPixel(x + rw / 2, y + rh / 2, colour ^ 0x01010101u);
        };
        switch (op) {
          case 0:  // a stroke's end
            l->PushUndoRect(x, y, rw, rh);
            paint();
            l->UpdateThumbnailRect(x, y, rw, rh);
            break;
          case 1:  // a rectangle operation, compacted later
            l->PushUndoRect(x, y, rw, rh);
            paint();
            l->UpdateThumbnailAfter(x, y, rw, rh);
            break;
          case 2: l->Compact(); break;
          case 3: l->UpdateThumbnail(); break;
          case 4: {  // an undo
            int32_t ux, uy, uw, uh;
            if (l->PopUndo(nullptr, ux, uy, uw, uh) && uw > 0 && uh > 0) l->UpdateThumbnailRect(ux, uy, uw, uh);
            break;
          }
          case 5:
            l->PushUndo();
            l->Mirror();
            l->UpdateThumbnail();
            break;
          case 6:
            l->SetKind(static_cast<TLayerKind>((noise + seed) % 4));
            l->UpdateThumbnail();
            break;
          case 7: l->RedrawThumbnail(); break;
          default:
            if (noise == 0) l->Clear();
            break;
        }
        if (l == &eager) l->Thumbnail();
      }
      if (Pick(rng, 5) == 0 || step == 119) ExpectSame(lazy.Thumbnail(), eager.Thumbnail());
      if (testing::Test::HasFatalFailure()) return;
    }
  }
}
