// wpetool build and dump, run as the program that tests and people use.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "common/ToolRun.h"
#include "engine/EventPacket.h"
#include "platform/core/Files.h"

namespace {

std::string WithoutComments(const std::string& text) {
  std::istringstream in(text);
  std::string line, out;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#') out += line + '\n';
  return out;
}

TEST(Wpetool, BuildThenDumpRoundTripsEveryEventCode) {
  TTempDir dir;
  std::string text = Slurp(VELL_SOURCE_DIR "/tests/tools/every-event.txt");
  Spit(dir.Path("in.txt"), text);
  TRun build = RunTool(dir, "build " + dir.Path("in.txt") + " " + dir.Path("a.wpe"));
  ASSERT_EQ(build.status, 0) << build.err;
  EXPECT_EQ(build.err, "");

  // The file is a valid stream holding every code of the event table.
  TEventPacket p;
  ASSERT_TRUE(p.LoadFromFile(dir.Path("a.wpe")));
  std::set<int> seen;
  const TMyMemory& m = p.Data();
  for (int32_t pos = 0, size = 0; pos < m.Size(); pos += size) {
    seen.insert(m.Memory()[pos] | (m.Memory()[pos + 1] << 8));
    ASSERT_EQ(MeasureEvent(m.Memory() + pos, m.Size() - pos, size), TEventMeasure::Complete);
  }
  for (int code = 0; code <= 0xFFFF; ++code) EXPECT_EQ(seen.count(code) == 1, IsEventCode(code)) << code;

  TRun dump = RunTool(dir, "dump " + dir.Path("a.wpe"));
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_EQ(dump.out, WithoutComments(text));

  // And back again to the same bytes.
  Spit(dir.Path("again.txt"), dump.out);
  ASSERT_EQ(RunTool(dir, "build " + dir.Path("again.txt") + " " + dir.Path("b.wpe")).status, 0);
  EXPECT_EQ(Slurp(dir.Path("b.wpe")), Slurp(dir.Path("a.wpe")));
}

TEST(Wpetool, TextValuesGiveTheRecordedBytes) {
  TTempDir dir;
  Spit(dir.Path("in.txt"),
       "NewPaper width=640 height=480  # comments and blank lines are skipped\n\n"
       "Stroke kind=1 layer=2 color=ff8000 ifsize=1 ifedge=1 min=75 width=1.5 gamma=1 effect=65 env=40 speed=30 "
       "points=10,-5,0.5;11,-6,0.25\n"
       "End\n");
  ASSERT_EQ(RunTool(dir, "build " + dir.Path("in.txt") + " " + dir.Path("a.wpe")).status, 0);
  TEventPacket rec;
  rec.WriteNewPaper(640, 480);
  TStrokeAttributes a;
  a.Layer = 2, a.Color = 0xFF8000, a.ifSIZE = true, a.ifEDGE = true;
  a.MIN = 75, a.WIDTH = 1.5f, a.GAMMA = 1, a.EFFECT = 65, a.ENV = 40, a.SPEED = 30;
  rec.BeginStroke(a, 1, 10, -5, 0.5f);
  rec.AddStrokePoint(11, -6, 0.25f);
  rec.EndStroke();
  rec.WriteEndMarker();
  const TMyMemory& m = rec.Data();
  EXPECT_EQ(Slurp(dir.Path("a.wpe")), std::string(reinterpret_cast<const char*>(m.Memory()), m.Size()));
}

TEST(Wpetool, DumpReportsWhereAStreamIsInvalid) {
  TTempDir dir;
  Spit(dir.Path("in.txt"), "NewPaper width=8 height=8\nUndo layer=1\nClearRect layer=0 x=1 y=2 w=3 h=4\nEnd\n");
  ASSERT_EQ(RunTool(dir, "build " + dir.Path("in.txt") + " " + dir.Path("a.wpe")).status, 0);
  std::string bytes = Slurp(dir.Path("a.wpe"));
  ASSERT_EQ(bytes.size(), 22u);
  struct Case {
    const char* what;
    std::string file;
    std::string out, err;
  } cases[] = {
      {"cut inside the rectangle", bytes.substr(0, 15),
       "NewPaper width=8 height=8\nUndo layer=1\nRaw hex=270100010002\n", "invalid at byte 9\n"},
      {"no end marker", bytes.substr(0, 20),
       "NewPaper width=8 height=8\nUndo layer=1\nClearRect layer=0 x=1 y=2 w=3 h=4\n", "invalid at byte 20\n"},
      {"empty", "", "", "invalid at byte 0\n"},
      {"wrong first event", bytes.substr(6), "Raw hex=1001012701000100020003000400ffff\n", "invalid at byte 0\n"},
      {"unknown code", bytes.substr(0, 9) + std::string("\x06\x00", 2) + bytes.substr(9),
       "NewPaper width=8 height=8\nUndo layer=1\nRaw hex=06002701000100020003000400ffff\n", "invalid at byte 9\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Spit(dir.Path("x.wpe"), c.file);
    TRun dump = RunTool(dir, "dump " + dir.Path("x.wpe"));
    EXPECT_EQ(dump.status, 1);
    EXPECT_EQ(dump.out, c.out);
    EXPECT_EQ(dump.err, c.err);
    // What dump printed builds the same bytes again, damage included.
    Spit(dir.Path("x.txt"), dump.out);
    ASSERT_EQ(RunTool(dir, "build " + dir.Path("x.txt") + " " + dir.Path("y.wpe")).status, 0);
    EXPECT_EQ(Slurp(dir.Path("y.wpe")), c.file);
  }
}

TEST(Wpetool, DumpShowsBytesAfterTheEndMarker) {
  TTempDir dir;
  Spit(dir.Path("x.wpe"), std::string("\x00\x02\x01\x00\x01\x00\xff\xff\x10\x01\x01", 11));
  TRun dump = RunTool(dir, "dump " + dir.Path("x.wpe"));
  EXPECT_EQ(dump.status, 0);
  EXPECT_EQ(dump.out,
            "NewPaper width=1 height=1\nEnd\n# 3 bytes after the end marker, dropped on loading\nRaw hex=100101\n");
}

TEST(Wpetool, BuildRefusesBadText) {
  TTempDir dir;
  struct Case {
    const char* text;
    const char* err;
  } cases[] = {
      {"Undo layer=1\nFrobnicate\n", ":2: unknown event 'Frobnicate'"},
      {"Undo layer=256\n", ":1: layer 256 is outside 0..255"},
      {"Undo layer=1 lyer=2\n", ":1: unknown field 'lyer'"},
      {"Undo layer=1 layer=2\n", ":1: field 'layer' given twice"},
      {"Undo layer\n", ":1: expected key=value"},
      {"ClearRect x=40000\n", ":1: x 40000 is outside -32768..32767"},
      {"FillRect color=red\n", ":1: color must be six hex digits"},
      {"Stroke kind=5 points=1,1,1\n", ":1: kind 5 is outside 0..4"},
      {"Line kind=65536\n", ":1: kind 65536 is outside 0..65535"},
      {"Line otherflags=4\n", ":1: otherflags holds bits 3-7 only"},
      {"LayerVisible visible=256\n", ":1: visible 256 is outside 0..255"},
      {"Stroke kind=0\n", ":1: a stroke needs its first point"},
      {"Stroke width=0.1 points=1,1,1\n", ":1: width 0.1 is not a multiple of 1/256"},
      {"ClearPolygon points=1,2;3\n", ":1: bad point '3'"},
      {"Raw hex=abc\n", ":1: hex needs an even number of digits"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Spit(dir.Path("in.txt"), c.text);
    TRun r = RunTool(dir, "build " + dir.Path("in.txt") + " " + dir.Path("out.wpe"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_FALSE(plat::FileExists(dir.Path("out.wpe"))) << "nothing is written for bad text";
  }
}

TEST(Wpetool, UsageErrors) {
  TTempDir dir;
  EXPECT_EQ(RunTool(dir, "").status, 2);
  EXPECT_EQ(RunTool(dir, "frobnicate").status, 2);
  EXPECT_EQ(RunTool(dir, "dump").status, 2);
  EXPECT_EQ(RunTool(dir, "dump " + dir.Path("missing.wpe")).status, 2);
  EXPECT_EQ(RunTool(dir, "build " + dir.Path("missing.txt") + " " + dir.Path("o.wpe")).status, 2);
}

}  // namespace
