// wpetool render: golden replays of one small event file per event family, picture files
// rendered from their layers, the refusals, and dump of a picture file's embedded record.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/ToolRun.h"
#include "engine/EventPacket.h"
#include "engine/Paper.h"
#include "engine/Stroke.h"
#include "platform/core/Files.h"

namespace {

const std::string kFixtures = VELL_SOURCE_DIR "/tests/data/replay/";

// The fixture built into an event file in the folder.
std::string Build(const TTempDir& dir, const std::string& name) {
  const std::string wpe = dir.Path(name + ".wpe");
  const TRun r = RunTool(dir, "build " + kFixtures + name + ".txt " + wpe);
  EXPECT_EQ(r.status, 0) << r.err;
  return wpe;
}

uint64_t Fnv1a(const std::string& bytes) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

// A 24-bit BMP as the writer makes it.
struct TBmp {
  explicit TBmp(const std::string& b) : bytes(b) {
    width = Int(18);
    height = Int(22);
    stride = (width * 3 + 3) / 4 * 4;
  }
  int32_t Int(size_t at) const {
    return static_cast<int32_t>(static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8 |
                                static_cast<uint8_t>(bytes[at + 2]) << 16 | uint32_t{static_cast<uint8_t>(bytes[at + 3])} << 24);
  }
  uint32_t Pixel(int32_t x, int32_t y) const {  // 0xRRGGBB; rows are stored bottom-up
    const size_t at = 54 + static_cast<size_t>(height - 1 - y) * stride + static_cast<size_t>(x) * 3;
    return uint32_t{static_cast<uint8_t>(bytes[at + 2])} << 16 | uint32_t{static_cast<uint8_t>(bytes[at + 1])} << 8 |
           static_cast<uint8_t>(bytes[at]);
  }
  std::string bytes;
  int32_t width, height, stride;
};

TEST(RenderGolden, HalfOpacityRectangleMatchesTheWorkedExample) {
  TTempDir dir;
  const std::string wpe = Build(dir, "half-opacity");
  const TRun r = RunTool(dir, "render " + wpe + " " + dir.Path("a.bmp"));
  ASSERT_EQ(r.status, 0) << r.err;
  const TBmp bmp(Slurp(dir.Path("a.bmp")));
  ASSERT_EQ(bmp.bytes.size(), 54u + 12u * 48u);
  EXPECT_EQ(bmp.width, 16);
  EXPECT_EQ(bmp.height, 12);
  for (int32_t y = 0; y < 12; ++y) {
    for (int32_t x = 0; x < 16; ++x) {
      const bool inside = x >= 4 && x < 12 && y >= 3 && y < 8;
      ASSERT_EQ(bmp.Pixel(x, y), inside ? 0x7F7F7Fu : 0xFFFFFFu) << x << "," << y;
    }
  }
}

// Pixels of each family that the compositing arithmetic gives on its own: a 101010 strip at
// opacity 64 merged into a white multiply layer (255 - 64 x 239 div 255 = 196), the negative of
// a c04020 fill after a flip and a half turn, and a black square that the paper's turns and
// flips carry to the bottom right corner, inverted to white over the paper colour.
TEST(RenderGolden, FamiliesShowTheirWorkedPixels) {
  struct Case {
    const char* name;
    int32_t x, y;
    uint32_t rgb;
  };
  const Case cases[] = {
      {"layers", 0, 20, 0xC4C4C4}, {"pixels", 42, 5, 0x3FBFDF}, {"paper", 29, 53, 0xF0E0C0}, {"paper", 0, 0, 0x000000}};
  TTempDir dir;
  for (const Case& c : cases) {
    const std::string wpe = Build(dir, c.name);
    ASSERT_EQ(RunTool(dir, "render " + wpe + " " + dir.Path("a.bmp")).status, 0);
    EXPECT_EQ(TBmp(Slurp(dir.Path("a.bmp"))).Pixel(c.x, c.y), c.rgb) << c.name << " at " << c.x << "," << c.y;
  }
}

// Frozen results, each looked at as a picture before it was frozen (and the worked pixels
// above checked): a change of any of them is a change of what a replay shows.
TEST(RenderGolden, EveryEventFamilyReplaysToItsFrozenHash) {
  struct Case {
    const char* name;
    const char* scale;
    uint64_t hash;
  };
  const Case cases[] = {
      {"half-opacity", "1", 0x26703fe0cef75f03ull},
      {"half-opacity", "2", 0xd2f8312aae13502eull},
      {"strokes", "1", 0x6ea8a562f2833663ull},
      {"strokes", "2", 0x91cd8f9f3d24bfb7ull},
      {"strokes", "0.5", 0x8c946a914cf810c6ull},
      {"layers", "1", 0xacefeaf932c21663ull},
      {"pixels", "1", 0x814d963c45a9b3fbull},
      {"pixels", "3", 0x1bc453a277bad7eull},
      {"paper", "1", 0xa48f615d1a42e4bull},
  };
  TTempDir dir;
  for (const Case& c : cases) {
    const std::string wpe = Build(dir, c.name);
    const TRun r = RunTool(dir, "render " + wpe + " " + dir.Path("a.bmp") + " --scale " + c.scale);
    ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
    const uint64_t h = Fnv1a(Slurp(dir.Path("a.bmp")));
    EXPECT_EQ(h, c.hash) << c.name << " at " << c.scale << ": 0x" << std::hex << h;
  }
}

TEST(RenderGolden, ScaleMultipliesThePaper) {
  TTempDir dir;
  const std::string wpe = Build(dir, "paper");
  ASSERT_EQ(RunTool(dir, "render " + wpe + " " + dir.Path("1.bmp")).status, 0);
  ASSERT_EQ(RunTool(dir, "render " + wpe + " " + dir.Path("2.bmp") + " --scale 2").status, 0);
  const TBmp one(Slurp(dir.Path("1.bmp"))), two(Slurp(dir.Path("2.bmp")));
  EXPECT_EQ(two.width, 2 * one.width);
  EXPECT_EQ(two.height, 2 * one.height);
}

// Plays an event file in this process and saves the paper with its record as a picture file.
void SavePicture(const std::string& wpe, const std::string& wpb) {
  TPaper paper;
  TEventPacket packet;
  ASSERT_TRUE(packet.LoadFromFile(wpe));
  TStroke brush;
  while (paper.PlayEvent(packet, brush, nullptr)) {
  }
  TPaper::EndPlayback(packet);
  ASSERT_TRUE(paper.SaveToFile(wpb, false, packet));
}

TEST(RenderPicture, PictureFileRendersAsItsReplayDoes) {
  TTempDir dir;
  for (const char* name : {"strokes", "layers", "pixels"}) {
    const std::string wpe = Build(dir, name), wpb = dir.Path(std::string(name) + ".wpb");
    SavePicture(wpe, wpb);
    ASSERT_EQ(RunTool(dir, "render " + wpe + " " + dir.Path("events.bmp")).status, 0);
    const TRun r = RunTool(dir, "render " + wpb + " " + dir.Path("picture.bmp"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Slurp(dir.Path("picture.bmp")), Slurp(dir.Path("events.bmp"))) << name;
  }
}

TEST(RenderPicture, DumpOfAPictureFilePrintsItsRecord) {
  TTempDir dir;
  const std::string wpe = Build(dir, "layers"), wpb = dir.Path("a.wpb");
  SavePicture(wpe, wpb);
  const TRun events = RunTool(dir, "dump " + wpe);
  const TRun picture = RunTool(dir, "dump " + wpb);
  ASSERT_EQ(picture.status, 0) << picture.err;
  EXPECT_EQ(picture.out, events.out);
  // A picture file cut inside its layers is refused.
  std::string cut = Slurp(wpb).substr(0, 40);
  std::ofstream(dir.Path("cut.wpb"), std::ios::binary) << cut;
  const TRun bad = RunTool(dir, "dump " + dir.Path("cut.wpb"));
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("damaged"), std::string::npos) << bad.err;
}

TEST(RenderRefusal, OneLineReasonAndStatusOne) {
  TTempDir dir;
  auto text = [&](const std::string& name, const std::string& body) {
    std::ofstream(dir.Path(name + ".txt")) << body;
    RunTool(dir, "build " + dir.Path(name + ".txt") + " " + dir.Path(name + ".wpe"));
    return dir.Path(name + ".wpe");
  };
  const std::string good = text("good", "NewPaper width=4 height=4\nEnd\n");
  std::ofstream(dir.Path("damaged.wpb"), std::ios::binary) << std::string("WPB2\0\0\0\0", 8);
  struct Case {
    const char* name;
    std::string args;
    const char* reason;
  };
  const Case cases[] = {
      {"paper size first", text("ps", "PaperSize width=4 height=4\nFillRect layer=0 w=2 h=2\nEnd\n") + " " + dir.Path("o.bmp"),
       "does not start with a new paper"},
      {"invalid stream", text("bad", "NewPaper width=4 height=4\nRaw hex=0500\n") + " " + dir.Path("o.bmp"), "valid"},
      {"not an event file", text("nope", "FillRect layer=0 w=2 h=2\nEnd\n") + " " + dir.Path("o.bmp"), "valid"},
      {"missing file", dir.Path("missing.wpe") + " " + dir.Path("o.bmp"), "cannot read"},
      {"damaged picture", dir.Path("damaged.wpb") + " " + dir.Path("o.bmp"), "damaged"},
      {"bad scale", good + " " + dir.Path("o.bmp") + " --scale -1", "scale"},
      {"output folder missing", good + " " + dir.Path("no/such/o.bmp"), "cannot write"},
      {"no output", good, "usage"},
  };
  for (const Case& c : cases) {
    const TRun r = RunTool(dir, "render " + c.args);
    EXPECT_EQ(r.status, 1) << c.name << ": " << r.err;
    EXPECT_EQ(r.err.rfind("wpetool render: ", 0), 0u) << c.name << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name << ": " << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << c.name << ": " << r.err;
  }
}

}  // namespace
