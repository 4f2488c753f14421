// Picture-file layers coded straight from and into tiles, against the plain path through a
// whole canvas: the same bytes written, the same tiles and pixels read back, the same refusals.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "engine/Block.h"
#include "engine/EventPacket.h"
#include "engine/Layer.h"
#include "engine/LayerMng.h"
#include "engine/Paper.h"
#include "engine/io/PictureFile.h"
#include "engine/io/WpbRle.h"
#include "platform/core/Files.h"
#include "platform/core/MessageBox.h"

namespace {

// Canvas rows in the file's order, bottom row first.
wpb::TRows FileRows(TTC& canvas, std::vector<uint32_t*>& rows) {
  rows.clear();
  for (int32_t r = 0; r < canvas.Height(); ++r) rows.push_back(canvas.Row32(canvas.Height() - 1 - r));
  return wpb::TRows{rows.data(), canvas.Width(), canvas.Height()};
}

// The plain writer: the layer rendered into a canvas of its size, then coded.
std::vector<uint8_t> PlainEncode(const TBlockImage& img, bool argb) {
  TTC canvas(img.Width(), img.Height());
  img.DrawTo(canvas, 0, 0);
  std::vector<uint32_t*> rows;
  std::vector<uint8_t> out;
  wpb::Encode(FileRows(canvas, rows), argb, out);
  return out;
}

std::vector<uint8_t> FastEncode(const TBlockImage& img, bool argb) {
  wpb::TBytes out;
  wpb::EncodeImage(img, argb, out);
  return std::vector<uint8_t>(out.begin(), out.end());
}

// The plain reader: decoded into a canvas, loaded into the image and compacted by the kind's rule.
bool PlainDecode(const std::vector<uint8_t>& data, TLayerKind kind, TBlockImage& img) {
  TTC canvas(img.Width(), img.Height());
  std::vector<uint32_t*> rows;
  if (!wpb::Decode(data.data(), data.size(), kind == lkArgb, FileRows(canvas, rows))) return false;
  img.LoadFromTTC(canvas);
  CompactLayerImage(img, kind);
  return true;
}

bool FastDecode(const std::vector<uint8_t>& data, TLayerKind kind, TBlockImage& img) {
  return wpb::DecodeImage(data.data(), data.size(), kind == lkArgb, kind == lkArgb, img);
}

// Empty when both blocks hold the same tiles with the same 4096 pixels each, else where not.
std::string TileDifference(const TBlockImage& a, const TBlockImage& b) {
  for (int32_t ty = 0; ty < TBlock::kGridSide; ++ty)
    for (int32_t tx = 0; tx < TBlock::kGridSide; ++tx) {
      const TTC *s = a.GetTile(tx, ty), *t = b.GetTile(tx, ty);
      const std::string at = "tile " + std::to_string(tx) + "," + std::to_string(ty);
      if (!s != !t) return at + (s ? " only in the first" : " only in the second");
      if (!s) continue;
      for (int32_t y = 0; y < TBlock::kTileSide; ++y)
        for (int32_t x = 0; x < TBlock::kTileSide; ++x)
          if (s->Row32(y)[x] != t->Row32(y)[x]) return at + " pixel " + std::to_string(x) + "," + std::to_string(y);
    }
  return {};
}

// A layer image with a mix of tile contents: absent, flat colours, the background itself (also
// opaque, and for ARGB layers with other alphas), few-colour noise that gives runs and literals,
// single pixels, and pixels written beyond the image's edge inside its last tiles.
void FillMixed(TBlockImage& img, uint32_t seed) {
  std::mt19937 rng(seed);
  const uint32_t back = img.BackColour();
  const uint32_t palette[4] = {back, back | 0xFF000000u, 0x00336699u, 0xFF336699u};
  for (int32_t ty = 0; ty <= img.Height() / 64; ++ty)
    for (int32_t tx = 0; tx <= img.Width() / 64; ++tx) {
      const int32_t x0 = tx * 64, y0 = ty * 64;
      switch (rng() % 8) {
        case 0: break;
        case 1: img.FillRect(x0, y0, 64, 64, rng()); break;
        case 2: img.FillRect(x0, y0, 64, 64, back | 0xFF000000u); break;
        case 3:
          for (int32_t y = y0; y < y0 + 64; ++y)
            for (int32_t x = x0; x < x0 + 64; ++x) img.SetPixel(x, y, (back & 0xFFFFFF) | (rng() % 3) << 24);
          break;
        case 4:
          for (int32_t y = y0; y < y0 + 64; ++y)
            for (int32_t x = x0; x < x0 + 64; ++x) img.SetPixel(x, y, palette[rng() % 4] ^ ((rng() % 5 == 0) ? rng() : 0));
          break;
        case 5: img.SetPixel(x0 + int32_t(rng() % 64), y0 + int32_t(rng() % 64), rng()); break;
        case 6: img.FillRect(x0 + 3, y0, 200, 7, palette[rng() % 4]); break;
        default:
          for (int32_t x = x0; x < x0 + 64; ++x) img.SetPixel(x, y0 + 63, 0xFF000000u | uint32_t(x * 3));
          break;
      }
    }
}

struct TImageCase {
  int32_t W, H;
  TLayerKind Kind;
};

// Sizes at, below and just past tile edges, one pixel wide or high, and every kind.
const TImageCase kImageCases[] = {
    {1, 1, lkMultiply},   {64, 64, lkMultiply}, {65, 63, lkAdd},      {130, 129, lkSubtract},
    {200, 70, lkArgb},    {1, 300, lkArgb},     {300, 1, lkMultiply}, {128, 128, lkAdd},
    {257, 190, lkArgb},   {191, 257, lkMultiply},
};

TEST(PictureFileTiles, LayersCodeAndDecodeAsThroughACanvas) {
  for (const TImageCase& c : kImageCases)
    for (uint32_t seed = 1; seed <= 6; ++seed) {
      const std::string name = std::to_string(c.W) + "x" + std::to_string(c.H) + " kind " +
                               std::to_string(int(c.Kind)) + " seed " + std::to_string(seed);
      TBlockImage img;
      img.SetSize(c.W, c.H);
      img.SetBackColour(LayerClearColor(c.Kind));
      if (seed > 1) FillMixed(img, seed * 977u + uint32_t(c.W));  // seed 1: the empty layer
      const bool argb = c.Kind == lkArgb;
      const std::vector<uint8_t> coded = PlainEncode(img, argb);
      ASSERT_EQ(FastEncode(img, argb), coded) << name;

      TBlockImage plain, fast;
      for (TBlockImage* b : {&plain, &fast}) {
        b->SetSize(c.W, c.H);
        b->SetBackColour(LayerClearColor(c.Kind));
      }
      ASSERT_TRUE(PlainDecode(coded, c.Kind, plain)) << name;
      ASSERT_TRUE(FastDecode(coded, c.Kind, fast)) << name;
      EXPECT_EQ(TileDifference(plain, fast), "") << name;
    }
}

TEST(PictureFileTiles, EncoderGivesThePlainBytesWhateverTheStretches) {
  // Stretches of stored pixels and of repeats in random lengths, the repeats often continuing
  // the colour in front of them or differing from it only in alpha, so that chunks of every
  // kind cross from one stretch into the next.
  std::mt19937 rng(11);
  for (int round = 0; round < 300; ++round) {
    const bool argb = round % 3 == 0;
    const uint32_t colours[3] = {0x00102030u, 0xFF102030u, 0x00405060u};
    std::vector<uint32_t> all;
    wpb::TBytes out;
    wpb::TEncoder e(argb, out);
    const int stretches = 1 + int(rng() % 12);
    for (int s = 0; s < stretches; ++s) {
      const size_t n = rng() % 4 == 0 ? rng() % 600 : rng() % 130;
      if (rng() % 2) {
        const uint32_t v = !all.empty() && rng() % 2 ? all.back() : colours[rng() % 3];
        all.insert(all.end(), n, v);
        e.Repeat(v, n);
      } else {
        std::vector<uint32_t> px(n);
        for (auto& p : px) p = rng() % 3 ? colours[rng() % 3] : rng();
        all.insert(all.end(), px.begin(), px.end());
        e.Pixels(px.data(), n);
      }
    }
    e.Finish();
    std::vector<uint8_t> want;
    if (!all.empty()) {
      std::vector<uint32_t*> rows = {all.data()};
      wpb::Encode(wpb::TRows{rows.data(), int32_t(all.size()), 1}, argb, want);
    }
    ASSERT_EQ(std::vector<uint8_t>(out.begin(), out.end()), want) << "round " << round;
  }
}

TEST(PictureFileTiles, DecodersAgreeOnEveryCutAndDamage) {
  // Both decoders refuse the same cut codings and accept the same damaged ones, with the same
  // result; chunks that run past the last pixel are cut alike.
  std::mt19937 rng(5);
  for (const TLayerKind kind : {lkMultiply, lkArgb}) {
    TBlockImage img;
    img.SetSize(70, 66);
    img.SetBackColour(LayerClearColor(kind));
    FillMixed(img, 3);
    std::vector<uint8_t> coded = PlainEncode(img, kind == lkArgb);
    for (size_t len = 0; len <= coded.size(); len += 1 + rng() % 7) {
      std::vector<uint8_t> cut(coded.begin(), coded.begin() + static_cast<std::ptrdiff_t>(len));
      if (len > 0 && rng() % 2) cut[rng() % len] = static_cast<uint8_t>(rng());  // a damaged byte
      TBlockImage plain, fast;
      for (TBlockImage* b : {&plain, &fast}) {
        b->SetSize(70, 66);
        b->SetBackColour(LayerClearColor(kind));
      }
      const bool ok = PlainDecode(cut, kind, plain);
      ASSERT_EQ(FastDecode(cut, kind, fast), ok) << "kind " << int(kind) << " length " << len;
      if (ok) {
        ASSERT_EQ(TileDifference(plain, fast), "") << "kind " << int(kind) << " length " << len;
      }
    }
  }
}

// Tiles made and freed with a pattern no decoder writes, so that the next tiles handed out hold
// stale pixels: a decoded tile must own every one of its pixels, not find them cleared.
void DirtyFreedTiles() {
  TBlockImage junk;
  junk.SetSize(640, 640);
  junk.Fill(0x5AA5C33Cu);
}

TEST(PictureFileTiles, DecodedTilesOwnEveryPixelWhateverTheirMemoryHeld) {
  for (const TImageCase& c : kImageCases)
    for (uint32_t seed = 2; seed <= 5; ++seed) {
      const std::string name = std::to_string(c.W) + "x" + std::to_string(c.H) + " kind " +
                               std::to_string(int(c.Kind)) + " seed " + std::to_string(seed);
      TBlockImage img;
      img.SetSize(c.W, c.H);
      img.SetBackColour(LayerClearColor(c.Kind));
      FillMixed(img, seed * 131u + uint32_t(c.H));
      const std::vector<uint8_t> coded = PlainEncode(img, c.Kind == lkArgb);
      TBlockImage plain, fast;
      for (TBlockImage* b : {&plain, &fast}) {
        b->SetSize(c.W, c.H);
        b->SetBackColour(LayerClearColor(c.Kind));
      }
      ASSERT_TRUE(PlainDecode(coded, c.Kind, plain)) << name;
      DirtyFreedTiles();
      ASSERT_TRUE(FastDecode(coded, c.Kind, fast)) << name;
      EXPECT_EQ(TileDifference(plain, fast), "") << name;

      // Cut inside the stream: what was decoded is there, every other pixel of a made tile is
      // the background, as a canvas of the background that the plain decoder writes into.
      for (const size_t len : {coded.size() / 3, coded.size() / 2, coded.size() - 1}) {
        const std::vector<uint8_t> cut(coded.begin(), coded.begin() + static_cast<std::ptrdiff_t>(len));
        const uint32_t back = LayerClearColor(c.Kind);
        TTC canvas(c.W, c.H);
        canvas.Fill(back);
        std::vector<uint32_t*> rows;
        ASSERT_FALSE(wpb::Decode(cut.data(), cut.size(), c.Kind == lkArgb, FileRows(canvas, rows))) << name;
        TBlockImage part;
        part.SetSize(c.W, c.H);
        part.SetBackColour(back);
        DirtyFreedTiles();
        ASSERT_FALSE(FastDecode(cut, c.Kind, part)) << name << " cut at " << len;
        for (int32_t ty = 0; ty <= (c.H - 1) / 64; ++ty)
          for (int32_t tx = 0; tx <= (c.W - 1) / 64; ++tx) {
            const TTC* t = part.GetTile(tx, ty);
            if (!t) continue;
            for (int32_t y = 0; y < 64; ++y)
              for (int32_t x = 0; x < 64; ++x) {
                const int32_t px = tx * 64 + x, py = ty * 64 + y;
                const uint32_t want = px < c.W && py < c.H ? canvas.GetPixel(px, py) : back;
                ASSERT_EQ(t->Row32(y)[x], want) << name << " cut at " << len << " pixel " << px << "," << py;
              }
          }
      }
    }
}

// The file the plain path writes for a paper: header, per layer its record, size and the coding
// of its rendered canvas, then the record with its end marker.
std::vector<uint8_t> PlainFile(const TPaper& p, const TEventPacket& record) {
  std::vector<uint8_t> events(record.Data().Memory(), record.Data().Memory() + record.Data().Size());
  events.push_back(0xFF);
  events.push_back(0xFF);
  TWpbHeader h;
  h.Width = p.Width();
  h.Height = p.Height();
  h.PaperColor = p.Layers->PaperColor();
  h.LastLayerIndex = static_cast<uint8_t>(p.Layers->LastIndex());
  h.ActiveLayer = static_cast<uint8_t>(p.Layers->ActiveIndex());
  h.EventsIncomplete = p.EventsIncomplete ? 1 : 0;
  h.EventDataSize = static_cast<int32_t>(events.size());
  uint8_t hb[kWpbHeaderSize];
  h.Store(hb);
  std::vector<uint8_t> file(hb, hb + kWpbHeaderSize);
  for (int32_t i = 0; i <= p.Layers->LastIndex(); ++i) {
    const TLayer& l = *p.Layers->Layers(i);
    const std::vector<uint8_t> coded = PlainEncode(l.Image(), l.Kind() == lkArgb);
    const uint32_t n = static_cast<uint32_t>(coded.size());
    const uint8_t rec[12] = {l.Kind(), l.Opacity(), l.Visible(), 0, 0, 0, 0, 0,
                             uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    file.insert(file.end(), rec, rec + 12);
    file.insert(file.end(), coded.begin(), coded.end());
  }
  file.insert(file.end(), events.begin(), events.end());
  return file;
}

TEST(PictureFileTiles, SavedAndOpenedPicturesMatchThePlainPath) {
  TTempDir dir;
  plat::TMessageRecorder messages(plat::IDOK);
  const int32_t sizes[][2] = {{1, 1}, {64, 64}, {129, 65}, {250, 190}};
  for (const auto& size : sizes) {
    const int32_t w = size[0], h = size[1];
    const std::string name = std::to_string(w) + "x" + std::to_string(h);
    TPaper paper;
    paper.Init("orig", w, h);
    TEventPacket record;
    record.WriteNewPaper(w, h);
    // Every kind, an empty layer, a full one, hidden and faded ones.
    const TLayerKind kinds[] = {lkAdd, lkMultiply, lkArgb, lkSubtract, lkMultiply, lkArgb};
    for (int32_t i = 0; i < 6; ++i) {
      if (i == 0) paper.Layers->SetLayerKind(0, kinds[0]);
      else paper.Layers->AddLayer(kinds[i]);
      paper.Layers->SetOpacity(i, static_cast<uint8_t>(40 * i + 15));
      if (i == 2) paper.Layers->SetVisible(i, false);
      TBlockImage& img = *paper.Layers->LayerImage(i);
      if (i == 4) img.Fill(0x00ABCDEFu);
      else if (i != 1) FillMixed(img, uint32_t(i * 31 + w));
    }
    paper.Layers->SetActiveLayer(3);
    paper.Layers->SetPaperColor(0x00C0FFEEu);
    const std::string path = dir.Path(name + ".wpb");
    ASSERT_TRUE(paper.SaveToFile(path, false, record)) << name;
    std::vector<uint8_t> saved;
    ASSERT_TRUE(plat::ReadWholeFile(path, saved));
    ASSERT_EQ(saved, PlainFile(paper, record)) << name;

    TPaper back;
    TEventPacket loaded;
    ASSERT_TRUE(back.LoadFromFile(path, loaded)) << name;
    EXPECT_TRUE(messages.Messages.empty()) << name;
    ASSERT_EQ(back.Layers->LastIndex(), 5) << name;
    int32_t offset = 0, length = 0;
    ASSERT_EQ(FindWpbEvents(saved.data(), int64_t(saved.size()), offset, length), TWpbResult::Ok);
    size_t at = kWpbHeaderSize;
    for (int32_t i = 0; i <= 5; ++i) {
      const TLayerKind kind = static_cast<TLayerKind>(saved[at]);
      const size_t n = size_t(saved[at + 8]) | size_t(saved[at + 9]) << 8 | size_t(saved[at + 10]) << 16;
      TBlockImage plain;
      plain.SetSize(w, h);
      plain.SetBackColour(LayerClearColor(kind));
      ASSERT_TRUE(PlainDecode(std::vector<uint8_t>(saved.begin() + int64_t(at + 12), saved.begin() + int64_t(at + 12 + n)),
                              kind, plain));
      EXPECT_EQ(back.Layers->LayerKind(i), kind) << name << " layer " << i;
      EXPECT_EQ(TileDifference(*back.Layers->LayerImage(i), plain), "") << name << " layer " << i;
      at += 12 + n;
    }
    // What was opened saves to the same layer bytes again.
    const std::string again = dir.Path(name + "-again.wpb");
    ASSERT_TRUE(back.SaveToFile(again, false, loaded)) << name;
    std::vector<uint8_t> resaved;
    ASSERT_TRUE(plat::ReadWholeFile(again, resaved));
    ASSERT_GE(resaved.size(), size_t(offset));
    EXPECT_TRUE(std::equal(saved.begin() + kWpbHeaderSize, saved.begin() + offset, resaved.begin() + kWpbHeaderSize))
        << name;
  }
}

}  // namespace
