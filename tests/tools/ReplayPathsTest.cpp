// The fast replay (a stroke's work left for its end while nothing shows the paper, working
// copies loaded tile by tile, rectangle operations that follow only their rectangle) against
// the plain path it stands for: the recorded test files, the fuzz corpora's streams and random
// stacks give the same bytes in every layer, thumbnail and working copy and in the composite,
// after every event.
#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/Recordings.h"
#include "common/ToolRun.h"
#include "engine/EventPacket.h"
#include "engine/Layer.h"
#include "engine/LayerMng.h"
#include "engine/MyStream.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "engine/io/PictureFile.h"

namespace fs = std::filesystem;

namespace {

const std::string kSource = VELL_SOURCE_DIR;

// How a stream is played, as the player's fuzz target reads its first byte: bit 0 network
// mode, bit 1 a paper made beforehand, bits 2-3 the playback scale, bit 4 the viewer's mode.
struct TStream {
  std::string name;
  std::string bytes;
  uint8_t mode = 0;
};

// Where two images' pixels first differ, tile by tile (an absent tile reads as the background);
// "" when they are the same.
std::string Difference(const TBlockImage& a, const TBlockImage& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return "sizes";
  for (int32_t ty = 0; ty * 64 < a.Height(); ++ty)
    for (int32_t tx = 0; tx * 64 < a.Width(); ++tx) {
      const TTC* ta = a.GetTile(tx, ty);
      const TTC* tb = b.GetTile(tx, ty);
      const int32_t w = std::min(64, a.Width() - tx * 64), h = std::min(64, a.Height() - ty * 64);
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
          const uint32_t pa = ta ? ta->Row32(y)[x] : a.BackColour(), pb = tb ? tb->Row32(y)[x] : b.BackColour();
          if (pa != pb)
            return "pixel " + std::to_string(tx * 64 + x) + "," + std::to_string(ty * 64 + y) + ": " + std::to_string(pa) +
                   " and " + std::to_string(pb);
        }
    }
  return "";
}

std::string Difference(const TTC& a, const TTC& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return "sizes";
  for (int32_t y = 0; y < a.Height(); ++y)
    for (int32_t x = 0; x < a.Width(); ++x)
      if (a.Row32(y)[x] != b.Row32(y)[x])
        return "pixel " + std::to_string(x) + "," + std::to_string(y) + ": " + std::to_string(a.Row32(y)[x]) + " and " +
               std::to_string(b.Row32(y)[x]);
  return "";
}

// Everything a replay leaves that bytes or the screen show. Working copies only when asked:
// looking at a whole copy loads it, which the fast path would otherwise do by tile.
void ExpectSame(TPaper& fast, TPaper& plain, bool copies, const std::string& where) {
  SCOPED_TRACE(where);
  fast.CatchUp();
  ASSERT_EQ(fast.Layers != nullptr, plain.Layers != nullptr);
  ASSERT_EQ(fast.Width(), plain.Width());
  ASSERT_EQ(fast.Height(), plain.Height());
  ASSERT_EQ(Difference(fast.CompositeImage, plain.CompositeImage), "") << "composite";
  if (!plain.Layers) return;
  TLayerMng& f = *fast.Layers;
  TLayerMng& p = *plain.Layers;
  ASSERT_EQ(f.LastIndex(), p.LastIndex());
  ASSERT_EQ(f.ActiveIndex(), p.ActiveIndex());
  ASSERT_EQ(f.MemorySize(), p.MemorySize()) << "tiles held";
  for (int32_t i = 0; i <= p.LastIndex(); ++i) {
    SCOPED_TRACE("layer " + std::to_string(i));
    const TLayer& a = *f.Layers(i);
    const TLayer& b = *p.Layers(i);
    ASSERT_EQ(a.Kind(), b.Kind());
    ASSERT_EQ(a.Opacity(), b.Opacity());
    ASSERT_EQ(a.Visible(), b.Visible());
    ASSERT_EQ(a.UndoSteps(), b.UndoSteps());
    ASSERT_EQ(a.Image().BackColour(), b.Image().BackColour());
    ASSERT_EQ(Difference(a.Image(), b.Image()), "") << "layer pixels";
    ASSERT_EQ(a.Image().MemoryUsed(), b.Image().MemoryUsed()) << "layer tiles";
    ASSERT_EQ(Difference(a.Thumbnail(), b.Thumbnail()), "") << "thumbnail";
    ASSERT_EQ(f.Flow().SlotOf(i), p.Flow().SlotOf(i));
    if (copies && p.Flow().SlotOf(i) >= 0) {
      ASSERT_EQ(Difference(*f.FlowImage(i), *p.FlowImage(i)), "") << "working copy";
      ASSERT_EQ(f.FlowImage(i)->MemoryUsed(), p.FlowImage(i)->MemoryUsed()) << "working copy tiles";
    }
  }
}

// Plays the stream on a fast and a plain paper side by side, fed in two pieces as a session
// feeds it, comparing them after every `every`-th whole event (looking catches the fast paper
// up, so a longer stride lets it leave the pixels of many strokes and edits for later).
void PlayBoth(const TStream& s, int every = 1) {
  SCOPED_TRACE(s.name + " mode " + std::to_string(s.mode) + " compared every " + std::to_string(every));
  static const float kScales[4] = {1.0f, 2.0f, 0.5f, 3.0f};
  TPaper papers[2];
  TEventPacket packets[2];
  TStroke brushes[2];
  for (int k = 0; k < 2; ++k) {
    TPaper& paper = papers[k];
    paper.SetPlainPath(k == 1);
    if (s.mode & 16) paper.SetViewerMode(1);
    else paper.PreviewImage.SetSize(32, 24);
    if (s.mode & 2) paper.Init("NONAME", 64, 48);
    paper.SetNetMode(s.mode & 1);
    packets[k].SetScale(kScales[(s.mode >> 2) & 3]);
  }
  const int32_t n = static_cast<int32_t>(s.bytes.size());
  const int32_t first = n / 2;
  const auto* data = reinterpret_cast<const uint8_t*>(s.bytes.data());
  for (TEventPacket& e : packets) e.Data().WriteBuffer(data, first);
  bool fed = false;
  int events = 0;
  for (int calls = 0; calls < 200000; ++calls) {
    const int32_t before = packets[0].Data().ReadPos();
    const bool inStroke = packets[0].InStroke();
    bool go[2];
    uint16_t codes[2] = {0, 0};
    uint8_t refits[2] = {0, 0};
    for (int k = 0; k < 2; ++k) go[k] = papers[k].PlayEvent(packets[k], brushes[k], codes[k], refits[k], nullptr);
    ASSERT_EQ(go[0], go[1]);
    ASSERT_EQ(codes[0], codes[1]);
    ASSERT_EQ(refits[0], refits[1]);
    ASSERT_EQ(packets[0].Data().ReadPos(), packets[1].Data().ReadPos());
    if (!packets[0].InStroke() && events++ % every == 0)
      ExpectSame(papers[0], papers[1], false, "after event " + std::to_string(events - 1));
    if (testing::Test::HasFatalFailure() || !go[0]) break;
    if (!inStroke && !packets[0].InStroke() && packets[0].Data().ReadPos() == before) {
      if (fed) break;
      for (TEventPacket& e : packets) e.Data().WriteBuffer(data + first, n - first);
      fed = true;
    }
  }
  ExpectSame(papers[0], papers[1], true, "at the end");
  papers[0].Composite();
  papers[1].Composite();
  ExpectSame(papers[0], papers[1], true, "composited whole");
}

// Every stream both as it is played headless (the viewer's mode: the fast path, looked at
// after every event and now and then) and with a preview kept, the mode's other bits as the
// stream asks.
void PlayInBothModes(TStream s) {
  for (uint8_t viewer : {16, 0}) {
    s.mode = static_cast<uint8_t>((s.mode & ~16) | viewer);
    PlayBoth(s);
    if (testing::Test::HasFatalFailure()) return;
    if (viewer) PlayBoth(s, 13);
    if (testing::Test::HasFatalFailure()) return;
  }
}

std::vector<fs::path> Files(const std::string& dir, const std::string& ext = "") {
  std::vector<fs::path> v;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.is_regular_file() && (ext.empty() || e.path().extension() == ext)) v.push_back(e.path());
  std::sort(v.begin(), v.end());
  return v;
}

TEST(ReplayPaths, TheRecordedTestFilesGiveTheSameBytes) {
  TTempDir dir;
  std::vector<fs::path> texts = Files(kSource + "/tests/data/replay", ".txt");
  texts.push_back(kSource + "/tests/tools/every-event.txt");
  ASSERT_GE(texts.size(), 2u);
  for (const fs::path& text : texts) {
    const std::string wpe = dir.Path(text.stem().string() + ".wpe");
    const TRun r = RunTool(dir, "build " + text.string() + " " + wpe);
    ASSERT_EQ(r.status, 0) << text << ": " << r.err;
    for (uint8_t mode : {0, 4, 1}) PlayInBothModes({text.stem().string(), Slurp(wpe), mode});
  }
}

TEST(ReplayPaths, TheFuzzCorporaGiveTheSameBytes) {
  int played = 0;
  // The player's own corpus carries its mode in the first byte.
  for (const fs::path& f : Files(kSource + "/fuzz/corpus/PlayEvent")) {
    const std::string b = Slurp(f.string());
    if (b.empty()) continue;
    PlayInBothModes({f.filename().string(), b.substr(1), static_cast<uint8_t>(b[0])});
    ++played;
  }
  // Event files, whole or damaged, as the reader would hand them on.
  for (const fs::path& f : Files(kSource + "/fuzz/corpus/EventPacket")) {
    PlayInBothModes({f.filename().string(), Slurp(f.string()), 0});
    ++played;
  }
  // The records of picture files.
  for (const fs::path& f : Files(kSource + "/fuzz/corpus/PictureFile")) {
    const std::string b = Slurp(f.string());
    int32_t offset = 0, length = 0;
    if (FindWpbEvents(reinterpret_cast<const uint8_t*>(b.data()), static_cast<int64_t>(b.size()), offset, length) !=
        TWpbResult::Ok)
      continue;
    PlayInBothModes({f.filename().string(), b.substr(size_t(offset), size_t(length)), 0});
    ++played;
  }
  // The stroke corpus: a brush kind, the layer's kind, a scale, the brush block and points,
  // played as one stroke over a filled rectangle.
  for (const fs::path& f : Files(kSource + "/fuzz/corpus/Stroke")) {
    const std::string b = Slurp(f.string());
    size_t pos = 0;
    auto byte = [&] { return pos < b.size() ? static_cast<uint8_t>(b[pos++]) : uint8_t{0}; };
    auto word = [&] { return static_cast<uint16_t>(byte() | byte() << 8); };
    TEventPacket e;
    e.WriteNewPaper(96, 64);
    const uint8_t kind = byte() % 5, layerKind = byte() % 4;
    const uint8_t scale = byte();
    if (layerKind) e.WriteLayerKind(0, layerKind);
    e.WriteFillRect(0, 10, 10, 40, 30, 0x33, 0x66, 0x99);
    TStrokeAttributes a;
    a.Layer = byte() % 2;
    a.Color = static_cast<uint32_t>(byte() << 16 | byte() << 8 | byte());
    const uint8_t flags = byte();
    a.ifSIZE = flags & 1;
    a.ifTRANSPARENCY = flags & 2;
    a.ifEDGE = flags & 4;
    a.MIN = static_cast<float>(word() / 256.0);
    a.WIDTH = static_cast<float>(word() / 256.0);
    a.GAMMA = static_cast<float>(word() / 256.0);
    a.EFFECT = static_cast<float>(word() / 256.0);
    a.ENV = static_cast<float>(word() / 256.0);
    a.SPEED = static_cast<float>(word() / 256.0);
    auto point = [&](float& x, float& y, float& p) {
      x = static_cast<int16_t>(word());
      y = static_cast<int16_t>(word());
      p = static_cast<float>(static_cast<int16_t>(word()) / 1024.0);
    };
    float x, y, p;
    point(x, y, p);
    e.BeginStroke(a, kind, x, y, p);
    for (int i = 0; i < 32 && pos + 6 <= b.size(); ++i) {
      point(x, y, p);
      e.AddStrokePoint(x, y, p);
    }
    e.EndStroke();
    e.WriteEndMarker();
    const TMyMemory& m = e.Data();
    PlayInBothModes({f.filename().string(), std::string(reinterpret_cast<const char*>(m.Memory()), size_t(m.Size())),
                     static_cast<uint8_t>((scale & 3) << 2)});
    ++played;
  }
  EXPECT_GT(played, 10);
}

// The replay benchmark's hour of drawing, cut short: strokes of every brush over eight layers
// of every kind, layer changes, fills and undos.
TEST(ReplayPaths, AnHourOfDrawingGivesTheSameBytes) {
  std::unique_ptr<TEventPacket> hour(MakeHour(150, 320, 240));
  const TMyMemory& m = hour->Data();
  PlayInBothModes({"hour", std::string(reinterpret_cast<const char*>(m.Memory()), size_t(m.Size())), 0});
}

// Random stacks: every kind at every sort of opacity, hidden layers, rectangles inside, across
// and outside the paper, strokes of every brush on layers that change kind, undo, whole-layer
// filters and layer switches between them.
std::string RandomStream(uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  auto coord = [&](int side) { return pick(side + 80) - 40; };
  TEventPacket e;
  // Sides at, below and above whole tiles, so that the spare tile column and row take part.
  static const int32_t kSides[] = {64, 70, 127, 128, 150, 192};
  const int32_t W = kSides[pick(6)], H = kSides[pick(6)];
  e.WriteNewPaper(W, H);
  e.WritePaperColor(static_cast<uint8_t>(pick(256)), 0xC0, static_cast<uint8_t>(pick(256)));
  const int layers = 2 + pick(4);
  for (int i = 1; i < layers; ++i) e.WriteNewLayer(static_cast<uint8_t>(pick(4)));
  auto layer = [&] { return static_cast<uint8_t>(pick(layers + 1)); };  // now and then none
  auto opacity = [&] {
    static const uint8_t kSome[] = {0, 1, 127, 128, 254, 255};
    return pick(2) ? kSome[pick(6)] : static_cast<uint8_t>(pick(256));
  };
  for (int step = 0; step < 60; ++step) {
    switch (pick(14)) {
      case 0: e.WriteLayerOpacity(layer(), opacity()); break;
      case 1: e.WriteLayerVisible(layer(), pick(3) != 0); break;
      case 2: e.WriteLayerKind(layer(), static_cast<uint8_t>(pick(4))); break;
      case 3: e.WriteSelectLayer(layer()); break;
      case 4:
        e.WriteFillRect(layer(), coord(W), coord(H), pick(W), pick(H), static_cast<uint8_t>(pick(256)),
                        static_cast<uint8_t>(pick(256)), static_cast<uint8_t>(pick(256)));
        break;
      case 5: e.WriteClearRect(layer(), coord(W), coord(H), pick(W), pick(H)); break;
      case 6: e.WriteUndo(layer()); break;
      case 7: {
        const TPoint poly[] = {{coord(W), coord(H)}, {coord(W), coord(H)}, {coord(W), coord(H)}};
        e.WriteFillPolygon(layer(), poly, static_cast<uint8_t>(pick(256)), 0x40, 0x80, 3);
        break;
      }
      case 8:
        switch (pick(4)) {
          case 0: e.WriteLayerMirror(layer()); break;
          case 1: e.WriteOffsetLayer(layer(), pick(41) - 20, pick(41) - 20); break;
          case 2: e.WriteClearLayer(layer()); break;
          default: e.WriteLayerNegaPosi(layer()); break;
        }
        break;
      case 9: {
        TStrokeAttributes a;
        a.Layer = layer();
        a.Color = rng() & 0xFFFFFF;
        a.WIDTH = static_cast<float>(1 + pick(20));
        a.MIN = static_cast<float>(pick(3) ? pick(100) : pick(256));
        a.GAMMA = 1;
        e.WriteLine(a, static_cast<uint8_t>(pick(5)), coord(W), coord(H), coord(W), coord(H));
        break;
      }
      default: {
        TStrokeAttributes a;
        a.Layer = layer();
        a.Color = rng() & 0xFFFFFF;
        a.ifSIZE = pick(2);
        a.ifTRANSPARENCY = pick(2);
        a.ifEDGE = pick(2);
        a.WIDTH = static_cast<float>(1 + pick(24)) + 0.5f * static_cast<float>(pick(2));
        // Now and then a minimum above the width: dabs then reach past the stroke's rectangle.
        a.MIN = static_cast<float>(pick(4) ? pick(100) : 100 + pick(156));
        a.GAMMA = 1 + 0.25f * static_cast<float>(pick(4));
        a.EFFECT = static_cast<float>(pick(100));
        a.ENV = static_cast<float>(pick(100));
        a.SPEED = static_cast<float>(pick(100));
        float x = static_cast<float>(coord(W)), y = static_cast<float>(coord(H));
        e.BeginStroke(a, static_cast<uint8_t>(pick(5)), x, y, 0.5f);
        for (int k = pick(30); k >= 0; --k) {
          x += static_cast<float>(pick(25) - 12);
          y += static_cast<float>(pick(25) - 12);
          e.AddStrokePoint(x, y, k == 0 ? 0.0f : static_cast<float>(pick(1025)) / 1024);
        }
        e.EndStroke();
        break;
      }
    }
  }
  e.WriteEndMarker();
  const TMyMemory& m = e.Data();
  return std::string(reinterpret_cast<const char*>(m.Memory()), size_t(m.Size()));
}

// Ten seeds a case, so that the cases run side by side.
class ReplayPathsRandom : public testing::TestWithParam<uint32_t> {};

TEST_P(ReplayPathsRandom, RandomStacksGiveTheSameBytes) {
  for (uint32_t seed = GetParam() * 10 + 1; seed <= GetParam() * 10 + 10; ++seed) {
    // Now and then in network mode, where strokes share the paper with other slots' layers.
    PlayInBothModes({"seed " + std::to_string(seed), RandomStream(seed), static_cast<uint8_t>(seed % 7 == 0 ? 1 : 0)});
    if (HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, ReplayPathsRandom, testing::Range(0u, 4u));

}  // namespace
