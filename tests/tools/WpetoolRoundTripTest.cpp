// Any valid event file turns into text and back into the same bytes, whatever its fields hold.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/ToolRun.h"
#include "engine/EventPacket.h"

namespace {

std::string Bytes(const std::string& hex) {
  std::string out, digits;
  for (char c : hex)
    if (c != ' ') digits += c;
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    out += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
  return out;
}

std::string Le16(int v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}

struct TRow {
  std::string text;   // as dump prints it
  std::string bytes;  // the whole event
};

// Every event code, each field at the ends of its width (and values the recorder never writes).
std::vector<TRow> EdgeRows() {
  const char* kZeroBrush =
      "layer=0 color=000000 ifsize=0 iftransparency=0 ifedge=0 min=0 width=0 gamma=0 effect=0 env=0 speed=0";
  const std::string z = kZeroBrush;
  std::vector<TRow> rows = {
      {"NewPaper width=65535 height=0", Bytes("0002 ffff 0000")},
      {"NewPaper width=0 height=65535", Bytes("0002 0000 ffff")},
      {"PaperSize width=65535 height=65535", Bytes("0802 ffff ffff")},
      {"NewLayer kind=255", Bytes("0001 ff")},
      {"NewLayer kind=4", Bytes("0001 04")},
      {"DeleteLayer layer=255", Bytes("0101 ff")},
      {"CombineVisible", Bytes("0201")},
      {"DuplicateLayer layer=0", Bytes("0301 00")},
      {"MoveLayer from=255 to=0", Bytes("0401 ff00")},
      {"CombineLower layer=255", Bytes("0501 ff")},
      {"Undo layer=255", Bytes("1001 ff")},
      {"SelectLayer layer=255", Bytes("1101 ff")},
      {"LayerVisible layer=255 visible=0", Bytes("1201 ff00")},
      {"LayerVisible layer=0 visible=2", Bytes("1201 0002")},
      {"LayerVisible layer=1 visible=255", Bytes("1201 01ff")},
      {"LayerOpacity layer=255 opacity=255", Bytes("1301 ffff")},
      {"LayerKind layer=0 kind=255", Bytes("1401 00ff")},
      {"ShowOnly layer=255", Bytes("1501 ff")},
      {"LayerUpsideDown layer=255", Bytes("2001 ff")},
      {"LayerMirror layer=255", Bytes("2101 ff")},
      {"LayerRotate180 layer=255", Bytes("2201 ff")},
      {"LayerNegaPosi layer=255", Bytes("2301 ff")},
      {"ClearLayer layer=255", Bytes("2401 ff")},
      {"FillSelection layer=255 color=ffffff", Bytes("2501 ff ffffff")},
      {"OffsetLayer layer=0 dx=-32768 dy=32767", Bytes("2601 00 0080 ff7f")},
      {"ClearRect layer=1 x=-32768 y=32767 w=-1 h=0", Bytes("2701 01 0080 ff7f ffff 0000")},
      {"FillRect layer=2 x=32767 y=-32768 w=32767 h=-32768 color=000001",
       Bytes("2801 02 ff7f 0080 ff7f 0080 000001")},
      {"ClearPolygon layer=255 points=-32768,32767;32767,-32768", Bytes("2901 ff 0200 0080ff7f ff7f0080")},
      {"ClearPolygon layer=0 points=", Bytes("2901 00 0000")},
      {"FillPolygon layer=3 color=abcdef points=-1,-1", Bytes("3001 03 abcdef 0100 ffffffff")},
      {"FillPolygon layer=255 color=000000 points=", Bytes("3001 ff 000000 0000")},
      {"Line kind=256 layer=255 color=fedcba ifsize=0 iftransparency=1 ifedge=1 otherflags=248 "
       "min=255.99609375 width=0 gamma=0.00390625 effect=128 env=1.5 speed=0.5 x1=-32768 y1=32767 x2=0 y2=-1",
       Bytes("3101 ff fedcba fe ffff 0000 0100 0080 8001 8000 0001 0080 ff7f 0000 ffff")},
      {"Line kind=65535 " + z + " x1=0 y1=0 x2=0 y2=0",
       Bytes("3101 00 000000 00 0000 0000 0000 0000 0000 0000 ffff 0000 0000 0000 0000")},
      {"Line kind=5 layer=0 color=000000 ifsize=1 iftransparency=0 ifedge=0 otherflags=8 min=0 width=0 gamma=0 "
       "effect=0 env=0 speed=0 x1=32767 y1=-32768 x2=-1 y2=1",
       Bytes("3101 00 000000 09 0000 0000 0000 0000 0000 0000 0500 ff7f 0080 ffff 0100")},
      {"Line kind=4 " + z + " x1=1 y1=2 x2=3 y2=4",
       Bytes("3101 00 000000 00 0000 0000 0000 0000 0000 0000 0400 0100 0200 0300 0400")},
      {"Stroke kind=4 layer=1 color=010203 ifsize=1 iftransparency=1 ifedge=1 otherflags=128 min=0 "
       "width=255.99609375 gamma=0 effect=0 env=0 speed=0 points=-32768,32767,-32;32767,-32768,31.9990234375",
       Bytes("0400 01 010203 87 0000 ffff 0000 0000 0000 0000 0080 ff7f 0080 0100 ff7f 0080 ff7f")},
      {"Stroke kind=0 " + z + " points=0,0,0",  // no points after the first
       Bytes("0000 00 000000 00 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000")},
      {"Stroke kind=1 layer=255 color=ffffff ifsize=0 iftransparency=0 ifedge=0 otherflags=248 min=0 width=0 "
       "gamma=0 effect=0 env=0 speed=0 points=-1,-1,-0.0009765625",
       Bytes("0100 ff ffffff f8 0000 0000 0000 0000 0000 0000 ffff ffff ffff 0000")},
      {"Stroke kind=2 " + z + " points=1,2,0.5;3,4,1",
       Bytes("0200 00 000000 00 0000 0000 0000 0000 0000 0000 0100 0200 0002 0100 0300 0400 0004")},
      {"Stroke kind=3 layer=0 color=000000 ifsize=0 iftransparency=0 ifedge=1 otherflags=16 min=1 width=2 "
       "gamma=3 effect=4 env=5 speed=6 points=0,0,1",
       Bytes("0300 00 000000 14 0001 0002 0003 0004 0005 0006 0000 0000 0004 0000")},
      {"PaperColor color=ffffff", Bytes("0102 ffffff")},
      {"CanvasSize width=65535 height=1 anchor=255", Bytes("0202 ffff 0100 ff")},
      {"Resolution width=0 height=65535", Bytes("0302 0000 ffff")},
      {"RotateRight", Bytes("0402")},
      {"RotateLeft", Bytes("0502")},
      {"ClearUndoAll", Bytes("0602")},
      {"ClearUndoLayer layer=255", Bytes("0702 ff")},
      {"UpsideDownVisible", Bytes("1002")},
      {"MirrorVisible", Bytes("1102")},
      {"Rotate180Visible", Bytes("1202")},
      {"NegaPosiVisible", Bytes("1302")},
  };

  // Largest counts: 65535 points after a stroke's first, 65535 polygon vertices.
  TRow stroke{"Stroke kind=2 " + z + " points=0,0,0",
              Bytes("0200 00 000000 00 0000 0000 0000 0000 0000 0000 0000 0000 0000") + Le16(65535)};
  TRow clear{"ClearPolygon layer=7 points=", Bytes("2901 07") + Le16(65535)};
  TRow fill{"FillPolygon layer=8 color=010203 points=", Bytes("3001 08 010203") + Le16(65535)};
  for (int i = 0; i < 65535; ++i) {
    const int x = i % 2 ? -32768 : 32767, y = (i * 7) % 65536 - 32768;
    const std::string xy = std::to_string(x) + ',' + std::to_string(y);
    stroke.text += ';' + xy + ",-32";
    stroke.bytes += Le16(x) + Le16(y) + Le16(-32768);
    for (TRow* r : {&clear, &fill}) {
      r->text += (i ? ";" : "") + xy;
      r->bytes += Le16(x) + Le16(y);
    }
  }
  rows.push_back(stroke);
  rows.push_back(clear);
  rows.push_back(fill);
  rows.push_back({"End", Bytes("ffff")});
  return rows;
}

TEST(WpetoolRoundTrip, FieldsAtTheEndsOfTheirWidthsGoBothWays) {
  TTempDir dir;
  std::string text, bytes;
  for (const TRow& r : EdgeRows()) {
    text += r.text + '\n';
    bytes += r.bytes;
  }
  int32_t pos = 0;
  ASSERT_TRUE(
      ValidateEventStream(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int32_t>(bytes.size()), pos));

  Spit(dir.Path("in.txt"), text);
  TRun build = RunTool(dir, "build " + dir.Path("in.txt") + " " + dir.Path("a.wpe"));
  ASSERT_EQ(build.status, 0) << build.err;
  EXPECT_EQ(build.err, "");
  const std::string built = Slurp(dir.Path("a.wpe"));
  EXPECT_EQ(built.size(), bytes.size());
  EXPECT_TRUE(built == bytes) << "build wrote other bytes than the text says";

  Spit(dir.Path("given.wpe"), bytes);
  TRun dump = RunTool(dir, "dump " + dir.Path("given.wpe"));
  ASSERT_EQ(dump.status, 0) << dump.err;
  // Line by line, so that a failure shows the event and not a megabyte of points.
  std::istringstream got(dump.out);
  std::string line;
  for (const TRow& r : EdgeRows()) {
    ASSERT_TRUE(std::getline(got, line)) << "dump stopped before " << r.text.substr(0, 60);
    EXPECT_TRUE(line == r.text) << "expected " << r.text.substr(0, 200) << "\n     got " << line.substr(0, 200);
  }
  EXPECT_FALSE(std::getline(got, line)) << line;
}

// A valid stream of random events: every code of the table, every payload byte random, counts small.
std::string RandomStream(std::mt19937& rng, int events) {
  std::vector<uint16_t> codes;
  for (int c = 0; c < 0xFFFF; ++c)
    if (IsEventCode(static_cast<uint16_t>(c))) codes.push_back(static_cast<uint16_t>(c));
  auto byte = [&] { return static_cast<char>(rng() & 0xFF); };
  std::string s = Le16(ecNewPaper) + byte() + byte() + byte() + byte();
  for (int i = 0; i < events; ++i) {
    const uint16_t code = codes[rng() % codes.size()];
    std::string e = Le16(code);
    for (int k = 0; k < kStrokeHeaderSize; ++k) e += byte();
    const int n = static_cast<int>(rng() % 4);
    if (code <= ecStrokeLast) e.replace(kStrokeCountOffset, 2, Le16(n));
    if (code == ecClearPolygon) e.replace(kClearPolygonCountOffset, 2, Le16(n));
    if (code == ecFillPolygon) e.replace(kFillPolygonCountOffset, 2, Le16(n));
    for (int k = 0; k < 6 * n; ++k) e += byte();
    int32_t size = 0;
    const auto* p = reinterpret_cast<const uint8_t*>(e.data());
    EXPECT_EQ(MeasureEvent(p, static_cast<int32_t>(e.size()), size), TEventMeasure::Complete);
    s += e.substr(0, static_cast<size_t>(size));
  }
  return s + Le16(ecEnd);
}

TEST(WpetoolRoundTrip, RandomStreamsComeBackByteForByte) {
  TTempDir dir;
  std::mt19937 rng(20261210);
  for (int round = 0; round < 4; ++round) {
    std::string stream = RandomStream(rng, 400);
    int32_t pos = 0;
    ASSERT_TRUE(ValidateEventStream(reinterpret_cast<const uint8_t*>(stream.data()),
                                    static_cast<int32_t>(stream.size()), pos));
    struct Case {
      const char* what;
      std::string file;
      int status;
    } cases[] = {
        {"valid", stream, 0},
        {"with bytes after the end", stream + Bytes("0102ff"), 0},
        {"cut short", stream.substr(0, 6 + rng() % (stream.size() - 8)), 1},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.what) + ", round " + std::to_string(round));
      Spit(dir.Path("x.wpe"), c.file);
      TRun dump = RunTool(dir, "dump " + dir.Path("x.wpe"));
      ASSERT_EQ(dump.status, c.status) << dump.err;
      Spit(dir.Path("x.txt"), dump.out);
      TRun build = RunTool(dir, "build " + dir.Path("x.txt") + " " + dir.Path("y.wpe"));
      ASSERT_EQ(build.status, 0) << build.err;
      const std::string again = Slurp(dir.Path("y.wpe"));
      if (again != c.file) {
        size_t at = 0;
        while (at < again.size() && at < c.file.size() && again[at] == c.file[at]) ++at;
        ADD_FAILURE() << "first difference at byte " << at << " of " << c.file.size();
      }
    }
  }
}

}  // namespace
