// Whole streams: validation, take-over, files and export.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <fstream>

#include "EventPacketTestUtil.h"
#include "common/TempDir.h"
#include "engine/EventPacket.h"
#include "platform/core/Files.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::vector<uint8_t> out;
  EXPECT_TRUE(plat::ReadWholeFile(path, out)) << path;
  return out;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TMyMemory Memory(const std::vector<uint8_t>& bytes) {
  TMyMemory m(16);
  m.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  return m;
}

// A small stream with a fixed event, a stroke and both polygons; offsets of its events.
std::vector<uint8_t> SmallStream() {
  TEventPacket p;
  p.WriteNewPaper(640, 480);                                // 0
  p.BeginStroke(SampleAttributes(), 0, 1, 2, 1);            // 6
  p.AddStrokePoint(3, 4, 1);
  p.AddStrokePoint(5, 6, 0);
  p.EndStroke();
  const TPoint q[2] = {{1, 1}, {2, 2}};
  p.WriteClearPolygon(0, q, 2);                             // 45
  p.WriteFillPolygon(0, q, 1, 2, 3, 1);                     // 58
  p.WriteLayerOpacity(0, 9);                                // 70
  p.WriteEndMarker();                                       // 74
  return StreamBytes(p);
}
const std::vector<int32_t> kSmallStarts = {0, 6, 45, 58, 70, 74};

std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(Validation, Cases) {
  const std::vector<uint8_t> paper = B().w(ecNewPaper).w(640).w(480);
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    bool valid;
    int32_t pos;  // length when valid, offset at fault otherwise
  } cases[] = {
      {"paper and end", Cat(paper, B().w(ecEnd)), true, 8},
      {"paper size first", B().w(ecPaperSize).w(10).w(10).w(ecUndo).b(0).w(ecEnd), true, 11},
      {"bytes after the end are not examined", Cat(paper, B().w(ecEnd).w(7).b(1)), true, 8},
      {"empty", {}, false, 0},
      {"one byte", {0x00}, false, 0},
      {"end marker alone", B().w(ecEnd), false, 0},
      {"resolution first", B().w(ecResolution).w(10).w(10).w(ecEnd), false, 0},
      {"stroke first", Cat(B().w(0).add(SampleAttributeBytes()).w(1).w(1).w(1).w(0), B().w(ecEnd)), false, 0},
      {"no end marker", paper, false, 6},
      {"dangling byte", Cat(paper, {0xFF}), false, 6},
      {"unknown code", Cat(paper, B().w(262).w(ecEnd)), false, 6},
      {"fill polygon of no points", Cat(paper, B().w(ecFillPolygon).b(0).b(0).b(0).b(0).w(0).w(ecEnd)), true, 16},
      {"count beyond the data", Cat(paper, B().w(ecClearPolygon).b(0).w(65535).w(1).w(1).w(ecEnd)), false, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int32_t pos = -1;
    EXPECT_EQ(ValidateEventStream(c.bytes.data(), static_cast<int32_t>(c.bytes.size()), pos), c.valid);
    EXPECT_EQ(pos, c.pos);
    TEventPacket p;
    EXPECT_EQ(p.LoadFromMemory(Memory(c.bytes)), c.valid);
  }
}

TEST(Validation, EveryUnknownCodeRangeIsRefused) {
  for (int code : {5, 255, 262, 271, 278, 287, 298, 303, 306, 511, 521, 527, 532, 65534}) {
    std::vector<uint8_t> s = B().w(ecNewPaper).w(1).w(1).w(code).add(std::vector<uint8_t>(40, 0)).w(ecEnd);
    int32_t pos = 0;
    EXPECT_FALSE(ValidateEventStream(s.data(), static_cast<int32_t>(s.size()), pos)) << code;
    EXPECT_EQ(pos, 6) << code;
  }
}

TEST(Validation, TruncatedAtEveryByte) {
  const std::vector<uint8_t> full = SmallStream();
  ASSERT_EQ(full.size(), 76u);
  int32_t len = 0;
  ASSERT_TRUE(ValidateEventStream(full.data(), 76, len));
  EXPECT_EQ(len, 76);
  for (int32_t cut = 0; cut < 76; ++cut) {
    SCOPED_TRACE(cut);
    // Exactly sized copies, so that the sanitizer sees any read past the cut.
    std::vector<uint8_t> part(full.begin(), full.begin() + cut);
    int32_t pos = -1;
    EXPECT_FALSE(ValidateEventStream(part.data(), cut, pos));
    int32_t start = 0;
    for (int32_t s : kSmallStarts)
      if (s <= cut) start = s;
    EXPECT_EQ(pos, start) << "the fault is the event that was cut";
    TEventPacket p;
    p.WriteUndo(1);
    EXPECT_FALSE(p.LoadFromMemory(Memory(part)));
    EXPECT_EQ(StreamBytes(p), (std::vector<uint8_t>)B().w(ecUndo).b(1)) << "a failed load keeps the old stream";
  }
}

TEST(Load, TakesOverUpToTheFirstEnd) {
  TEventPacket p;
  p.SetScale(2);
  std::vector<uint8_t> valid = SmallStream();
  TMyMemory src = Memory(Cat(valid, B().w(ecUndo).b(3).w(ecEnd)));
  ASSERT_TRUE(p.LoadFromMemory(src));
  EXPECT_EQ(StreamBytes(p), valid) << "bytes after the first end marker are dropped";
  EXPECT_EQ(p.Data().ReadPos(), 0);
  EXPECT_EQ(p.Scale(), 2.0f);
  EXPECT_EQ(src.ReadPos(), 0) << "the source is left alone";
  EXPECT_FLOAT_EQ(p.GetProgress(), 0);
}

TEST(Load, StartsAtTheSourceCursor) {
  std::vector<uint8_t> valid = SmallStream();
  TMyMemory src = Memory(Cat(B().w(ecUndo).b(3), valid));
  TEventPacket p;
  EXPECT_FALSE(p.LoadFromMemory(src));
  src.Skip(3);
  ASSERT_TRUE(p.LoadFromMemory(src));
  EXPECT_EQ(StreamBytes(p), valid);
}

TEST(Load, LargerThanTheInitialBlock) {
  TEventPacket rec;
  rec.WriteNewPaper(100, 100);
  std::vector<TPoint> pts(65535, TPoint{3, 4});
  for (int i = 0; i < 5; ++i) rec.WriteClearPolygon(0, pts.data(), 65535);
  rec.WriteEndMarker();
  ASSERT_GT(rec.Data().Size(), 1000000);
  TEventPacket p;
  ASSERT_TRUE(p.LoadFromMemory(rec.Data()));
  EXPECT_EQ(StreamBytes(p), StreamBytes(rec));
}

TEST(LoadFile, GoodMissingAndShortFiles) {
  TTempDir dir;
  std::vector<uint8_t> valid = SmallStream();
  WriteFile(dir.Path("good.wpe"), valid);
  WriteFile(dir.Path("short.wpe"), std::vector<uint8_t>(valid.begin(), valid.end() - 3));
  WriteFile(dir.Path("empty.wpe"), {});

  TEventPacket p;
  ASSERT_TRUE(p.LoadFromFile(dir.Path("good.wpe")));
  EXPECT_EQ(StreamBytes(p), valid);
  for (const char* name : {"short.wpe", "empty.wpe", "missing.wpe"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(p.LoadFromFile(dir.Path(name)));
    EXPECT_EQ(StreamBytes(p), valid);
  }
  EXPECT_FALSE(p.LoadFromFile(dir.Dir()));
}

TEST(Progress, FromZeroToHundred) {
  TEventPacket p;
  EXPECT_FLOAT_EQ(p.GetProgress(), 100);
  ASSERT_TRUE(p.LoadFromMemory(Memory(B().w(ecNewPaper).w(8).w(8).w(ecEnd))));
  EXPECT_FLOAT_EQ(p.GetProgress(), 0);
  p.ReadCode();
  int32_t w, h;
  p.ReadNewPaper(w, h);
  EXPECT_FLOAT_EQ(p.GetProgress(), 75);
  EXPECT_EQ(p.ReadCode(), ecEnd);
  EXPECT_FLOAT_EQ(p.GetProgress(), 100);
}

TEST(EndMarker, DropRestoresTheWriteEnd) {
  TEventPacket p;
  p.WriteNewPaper(1, 1);
  p.WriteEndMarker();
  EXPECT_EQ(p.Data().Size(), 8);
  p.DropEndMarker();
  EXPECT_EQ(StreamBytes(p), (std::vector<uint8_t>)B().w(ecNewPaper).w(1).w(1));
  p.Clear();
  p.DropEndMarker();  // nothing to drop: stays empty
  EXPECT_EQ(p.Data().Size(), 0);
}

TEST(Export, WritesUpToTheEndMarker) {
  TTempDir dir;
  std::vector<uint8_t> valid = SmallStream();
  struct Case {
    const char* what;
    std::vector<uint8_t> held;
  } cases[] = {
      {"plain", valid},
      {"trailing bytes", Cat(valid, B().w(ecUndo).b(1).b(0xEE))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TEventPacket p;
    SetRaw(p, c.held);
    std::string path = dir.Path("out.wpe");
    ASSERT_TRUE(p.ExportToFile(path));
    EXPECT_EQ(ReadAll(path), valid);
    EXPECT_EQ(p.Data().ReadPos(), static_cast<int32_t>(valid.size()));
    EXPECT_EQ(p.Data().Size(), static_cast<int32_t>(c.held.size()));
  }
}

TEST(Export, FailureLeavesTheOldFile) {
  TTempDir dir;
  std::string path = dir.Path("old.wpe");
  WriteFile(path, {1, 2, 3});
  std::vector<uint8_t> valid = SmallStream();
  struct Case {
    const char* what;
    std::vector<uint8_t> held;
  } cases[] = {
      {"no end marker", std::vector<uint8_t>(valid.begin(), valid.end() - 2)},
      {"last event lacks its final byte", std::vector<uint8_t>(valid.begin(), valid.begin() + 73)},
      {"unknown code", Cat(B().w(ecNewPaper).w(1).w(1), B().w(600).w(ecEnd))},
      {"empty", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TEventPacket p;
    SetRaw(p, c.held);
    EXPECT_FALSE(p.ExportToFile(path));
    EXPECT_EQ(ReadAll(path), (std::vector<uint8_t>{1, 2, 3}));
  }
  TEventPacket p;
  SetRaw(p, valid);
  EXPECT_FALSE(p.ExportToFile(dir.Path("no/such/folder/x.wpe")));
  EXPECT_FALSE(p.ExportToFile(dir.Dir()));
}

TEST(Export, ShortWriteIsAFailure) {
  TTempDir dir;
  std::string path = dir.Path("big.wpe");
  TEventPacket p;
  p.WriteNewPaper(10, 10);
  for (int i = 0; i < 100; ++i) p.WriteClearRect(0, i, i, 1, 1);
  p.WriteEndMarker();

  // The file-size limit makes writes past 64 bytes fail as a full disk would.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool ok = p.ExportToFile(path);
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_FALSE(ok);
  EXPECT_FALSE(plat::FileExists(path));
}

// The road of an event file: record, export, import, play to the end, draw on, export again.
TEST(RoundTrip, DrawingAfterAnImportReachesTheNextExport) {
  TTempDir dir;
  TEventPacket rec;
  rec.WriteNewPaper(320, 200);
  rec.BeginStroke(SampleAttributes(), 1, 10, 10, 0.5f);
  rec.AddStrokePoint(20, 20, 0);
  rec.EndStroke();
  rec.WriteEndMarker();
  ASSERT_TRUE(rec.ExportToFile(dir.Path("a.wpe")));
  rec.DropEndMarker();
  std::vector<uint8_t> recorded = StreamBytes(rec);

  // A file with bytes after its end marker, as another writer might leave it.
  std::vector<uint8_t> file = ReadAll(dir.Path("a.wpe"));
  WriteFile(dir.Path("b.wpe"), Cat(file, B().w(ecUndo).b(0)));

  TEventPacket imp;
  ASSERT_TRUE(imp.LoadFromFile(dir.Path("b.wpe")));
  EXPECT_EQ(StreamBytes(imp), file);
  // Play it through to the end marker.
  int events = 0;
  for (uint16_t code = imp.ReadCode(); code != ecEnd; code = imp.ReadCode(), ++events) {
    if (code == ecNewPaper) {
      int32_t w, h;
      ASSERT_TRUE(imp.ReadNewPaper(w, h));
    } else {
      TStrokeAttributes a;
      float x, y, pr;
      ASSERT_TRUE(imp.ReadStrokeBegin(a, x, y, pr));
      while (!imp.ReadStrokePoint(x, y, pr)) {
      }
    }
  }
  EXPECT_EQ(events, 2);
  imp.DropEndMarker();
  EXPECT_EQ(StreamBytes(imp), recorded);
  imp.WriteFillRect(0, 1, 2, 3, 4, 5, 6, 7);
  imp.WriteEndMarker();
  ASSERT_TRUE(imp.ExportToFile(dir.Path("c.wpe")));
  imp.DropEndMarker();

  TEventPacket again;
  ASSERT_TRUE(again.LoadFromFile(dir.Path("c.wpe")));
  EXPECT_EQ(StreamBytes(again), Cat(recorded, B().w(ecFillRect).b(0).w(1).w(2).w(3).w(4).b(5).b(6).b(7).w(ecEnd)));
}

// Arbitrary bytes through validation and a full read of every event, as a player would do it.
TEST(Hostile, ReadingAnyBytesStaysInsideTheBuffer) {
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<uint8_t>(seed >> 16);
  };
  const uint16_t codes[] = {0, 3, 256, 260, 274, 276, 293, 296, 297, 304, 305, 512, 514, 520, ecEnd, 7};
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> bytes;
    int events = 1 + next() % 8;
    bytes.push_back(0x00), bytes.push_back(0x02);  // starts like a paper
    for (int e = 0; e < events; ++e) {
      int n = next() % 40;
      for (int i = 0; i < n; ++i) bytes.push_back(next());
      uint16_t c = codes[next() % 16];
      bytes.push_back(static_cast<uint8_t>(c)), bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    TEventPacket p;
    SetRaw(p, bytes);
    TFakeBrush brush;
    TPoint pts[4];
    for (int guard = 0; guard < 10000 && p.Data().Remaining() > 0; ++guard) {
      uint16_t code = p.ReadCode();
      uint8_t l, a, r, g, b;
      int32_t x, y, w, h, n;
      float fx, fy, fp;
      bool v;
      uint16_t k;
      TStrokeAttributes at;
      switch (code) {
        case 0: case 1: case 2: case 3: case 4:
          if (p.ReadStrokeBegin(brush, fx, fy, fp))
            while (!p.ReadStrokePoint(fx, fy, fp)) {
            }
          break;
        case ecNewLayer: p.ReadNewLayer(l); break;
        case ecMoveLayer: p.ReadMoveLayer(l, a); break;
        case ecLayerVisible: p.ReadLayerVisible(l, v); break;
        case ecLayerKind: p.ReadLayerKind(l, a); break;
        case ecFillSelection: p.ReadFillSelection(l, r, g, b); break;
        case ecFillRect: p.ReadFillRect(l, x, y, w, h, r, g, b); break;
        case ecClearPolygon: p.ReadClearPolygon(l, pts, 4, n); break;
        case ecFillPolygon: p.ReadFillPolygon(l, r, g, b, pts, 4, n); break;
        case ecLine: p.ReadLine(at, k, x, y, w, h); break;
        case ecNewPaper: p.ReadNewPaper(w, h); break;
        case ecCanvasSize: p.ReadCanvasSize(w, h, a); break;
        default: p.Data().Skip(1); break;
      }
    }
    int32_t pos;
    bool valid = ValidateEventStream(bytes.data(), static_cast<int32_t>(bytes.size()), pos);
    TEventPacket q;
    EXPECT_EQ(q.LoadFromMemory(Memory(bytes)), valid);
  }
}

}  // namespace
