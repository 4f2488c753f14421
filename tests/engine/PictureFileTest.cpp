// Picture files: saving and loading every layer kind with its attributes and the embedded
// record, the header bytes, damaged files of every kind, and atomic saving.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "PaperTestUtil.h"
#include "common/TempDir.h"
#include "engine/EventPacket.h"
#include "engine/Layer.h"
#include "engine/LayerMng.h"
#include "engine/MyStream.h"
#include "engine/Paper.h"
#include "engine/io/PictureFile.h"
#include "platform/core/Files.h"
#include "platform/core/MessageBox.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::vector<uint8_t> v;
  plat::ReadWholeFile(path, v);
  return v;
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& v) {
  ASSERT_TRUE(plat::WriteFileAtomic(path, v.data(), v.size()));
}

int32_t IntAt(const std::vector<uint8_t>& v, size_t at) {
  return static_cast<int32_t>(v[at] | v[at + 1] << 8 | v[at + 2] << 16 | uint32_t{v[at + 3]} << 24);
}

void PutIntAt(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int k = 0; k < 4; ++k) v[at + k] = static_cast<uint8_t>(x >> (8 * k));
}

// A paper of every layer kind with pixels, attributes and a record of its own making.
struct TSample {
  TSample() {
    paper.Init("orig", 70, 5);
    record.WriteNewPaper(70, 5);
    PaintPattern(paper, 0);
    paper.Layers->AddLayer(lkAdd);
    paper.Layers->FillRect(1, 60, 1, 10, 3, 0x203040);
    paper.Layers->SetOpacity(1, 99);
    paper.Layers->AddLayer(lkSubtract);
    paper.Layers->SetVisible(2, 0);
    paper.Layers->AddLayer(lkArgb);
    TBlockImage& argb = *paper.Layers->LayerImage(3);
    for (int32_t x = 0; x < 70; ++x) argb.SetPixel(x, 2, (static_cast<uint32_t>(x) << 24) | 0x00ABCDEFu);
    paper.Layers->SetPaperColor(0x00FF8000);
    paper.Layers->SetActiveLayer(1);
    record.WriteNewLayer(1);
    record.WriteLayerOpacity(1, 99);
  }
  TPaper paper;
  TEventPacket record;
};

class PictureFileTest : public ::testing::Test {
 protected:
  TTempDir dir;
  plat::TMessageRecorder messages{plat::IDOK};
};

TEST_F(PictureFileTest, RoundTripKeepsLayersAttributesAndTheRecord) {
  TSample s;
  const std::string path = dir.Path("a.wpb");
  const int32_t recordEnd = s.record.Data().Size();
  ASSERT_TRUE(s.paper.SaveToFile(path, false, s.record));
  EXPECT_EQ(s.record.Data().Size(), recordEnd);  // the end marker was removed again

  const auto bytes = ReadAll(path);
  ASSERT_GE(bytes.size(), 32u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "WPB2");
  EXPECT_EQ(IntAt(bytes, 4), 0);
  EXPECT_EQ(IntAt(bytes, 8), 70);
  EXPECT_EQ(IntAt(bytes, 12), 5);
  EXPECT_EQ(static_cast<uint32_t>(IntAt(bytes, 16)), 0x00FF8000u);
  EXPECT_EQ(bytes[20], 3);
  EXPECT_EQ(bytes[21], 1);
  EXPECT_EQ(bytes[22], 0);
  EXPECT_EQ(IntAt(bytes, 24), recordEnd + 2);  // the event part counts the end marker
  EXPECT_EQ(IntAt(bytes, 28), 0);
  // The event part is the record and its end marker, at the end of the file.
  EXPECT_EQ(bytes[bytes.size() - 2], 0xFF);
  EXPECT_EQ(bytes[bytes.size() - 1], 0xFF);

  TPaper back;
  TEventPacket record;
  ASSERT_TRUE(back.LoadFromFile(path, record));
  EXPECT_TRUE(messages.Messages.empty());
  EXPECT_EQ(back.Name, path);
  EXPECT_EQ(back.Width(), 70);
  EXPECT_EQ(back.Height(), 5);
  ASSERT_EQ(back.Layers->LastIndex(), 3);
  EXPECT_EQ(back.Layers->ActiveIndex(), 1);
  EXPECT_EQ(back.Layers->PaperColor(), 0x00FF8000u);
  EXPECT_FALSE(back.EventsIncomplete);
  for (int32_t i = 0; i <= 3; ++i) {
    EXPECT_EQ(back.Layers->LayerKind(i), s.paper.Layers->LayerKind(i)) << i;
    EXPECT_EQ(back.Layers->LayerOpacity(i), s.paper.Layers->LayerOpacity(i)) << i;
    EXPECT_EQ(back.Layers->LayerVisible(i), s.paper.Layers->LayerVisible(i)) << i;
    // Layers of kinds 0-2 store no alpha; the ARGB layer keeps all 32 bits.
    const uint32_t mask = i == 3 ? 0xFFFFFFFFu : 0xFFFFFFu;
    EXPECT_EQ(LayerPixels(back, i, mask), LayerPixels(s.paper, i, mask)) << i;
  }
  // The record comes back without its end marker, followed by the undo reset, cursor at 0.
  ASSERT_EQ(record.Data().Size(), recordEnd + 2);
  EXPECT_EQ(std::vector<uint8_t>(record.Data().Memory(), record.Data().Memory() + recordEnd),
            std::vector<uint8_t>(s.record.Data().Memory(), s.record.Data().Memory() + recordEnd));
  EXPECT_EQ(record.Data().Memory()[recordEnd] | record.Data().Memory()[recordEnd + 1] << 8, ecClearUndoAll);
  EXPECT_EQ(record.Data().ReadPos(), 0);

  // Saving what was loaded gives the same bytes, apart from the record's undo reset.
  const std::string again = dir.Path("b.wpb");
  ASSERT_TRUE(back.SaveToFile(again, false, record));
  auto bytes2 = ReadAll(again);
  EXPECT_EQ(IntAt(bytes2, 24), recordEnd + 4);
  EXPECT_EQ(std::vector<uint8_t>(bytes2.begin() + 32, bytes2.end() - (recordEnd + 4)),
            std::vector<uint8_t>(bytes.begin() + 32, bytes.end() - (recordEnd + 2)));
}

TEST_F(PictureFileTest, IncompleteFlagTravelsWithThePaper) {
  TSample s;
  s.paper.SetEventsIncomplete(true);
  const std::string path = dir.Path("a.wpb");
  ASSERT_TRUE(s.paper.SaveToFile(path, false, s.record));
  EXPECT_EQ(ReadAll(path)[22], 1);
  TPaper back;
  TEventPacket record;
  ASSERT_TRUE(back.LoadFromFile(path, record));
  EXPECT_TRUE(back.EventsIncomplete);
}

TEST_F(PictureFileTest, BrokenEventPartKeepsLayersAndMarksThePaper) {
  // An empty record (end marker only), and records that would not make a paper of their own.
  struct Case {
    const char* name;
    void (*write)(TEventPacket&);
  };
  const Case cases[] = {
      {"empty record", [](TEventPacket&) {}},
      {"starts with a fill", [](TEventPacket& e) { e.WriteFillRect(0, 0, 0, 1, 1, 0, 0, 0); }},
      {"starts with paper size", [](TEventPacket& e) { e.Data().WriteWord(ecPaperSize); e.Data().WriteWord(9); e.Data().WriteWord(9); }},
  };
  for (const Case& c : cases) {
    TSample s;
    s.record.Clear();
    c.write(s.record);
    const std::string path = dir.Path("a.wpb");
    ASSERT_TRUE(s.paper.SaveToFile(path, false, s.record));
    TPaper back;
    TEventPacket record;
    record.WriteNewPaper(1, 1);  // whatever the packet held is replaced
    messages.Messages.clear();
    ASSERT_TRUE(back.LoadFromFile(path, record)) << c.name;
    EXPECT_TRUE(back.EventsIncomplete) << c.name;
    EXPECT_EQ(record.Data().Size(), 0) << c.name;
    EXPECT_EQ(back.Layers->LastIndex(), 3) << c.name;
    EXPECT_EQ(LayerPixels(back, 0, 0xFFFFFF), LayerPixels(s.paper, 0, 0xFFFFFF)) << c.name;
    ASSERT_EQ(messages.Messages.size(), 1u) << c.name;
    EXPECT_EQ(messages.Messages[0].Text, "イベントデータ部が壊れています。イベントデータ出力は無効です。");
  }
}

TEST_F(PictureFileTest, SingleWhitePixelPaperIsOneRun) {
  TPaper p;
  p.Init("x", 1, 1);
  TEventPacket rec;
  rec.WriteNewPaper(1, 1);
  const std::string path = dir.Path("one.wpb");
  ASSERT_TRUE(p.SaveToFile(path, false, rec));
  const auto b = ReadAll(path);
  // Header, record (kind 0, opacity 255, visible 1), data size 4, the chunk 1 FF FF FF.
  const std::vector<uint8_t> layer = {0, 255, 1, 0, 0, 0, 0, 0, 4, 0, 0, 0, 1, 0xFF, 0xFF, 0xFF};
  ASSERT_EQ(b.size(), 32 + layer.size() + 8);
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 32, b.begin() + 32 + layer.size()), layer);
}

// A valid small file to damage: one 3 x 2 layer and a short record.
std::vector<uint8_t> SmallFile(const TTempDir& dir) {
  TPaper p;
  p.Init("x", 3, 2);
  PaintPattern(p, 0);
  TEventPacket rec;
  rec.WriteNewPaper(3, 2);
  rec.WriteFillRect(0, 0, 0, 1, 1, 1, 2, 3);
  const std::string path = dir.Path("small.wpb");
  EXPECT_TRUE(p.SaveToFile(path, false, rec));
  return ReadAll(path);
}

TEST_F(PictureFileTest, EveryTruncationIsRefusedCleanlyOrLosesOnlyTheRecord) {
  const auto good = SmallFile(dir);
  const size_t eventPart = good.size() - static_cast<size_t>(IntAt(good, 24));
  const std::string path = dir.Path("cut.wpb");
  for (size_t len = 0; len < good.size(); ++len) {
    WriteAll(path, std::vector<uint8_t>(good.begin(), good.begin() + len));
    TPaper p;
    p.Init("before", 5, 5);
    p.Layers->AddLayer(lkAdd);
    TEventPacket rec;
    rec.WriteNewPaper(5, 5);
    TWpbResult why = TWpbResult::Ok;
    const bool ok = p.LoadFromFile(path, rec, &why);
    if (len < eventPart) {
      ASSERT_FALSE(ok) << len;
      EXPECT_EQ(why, len < 4 ? TWpbResult::UnknownMagic : TWpbResult::Damaged) << len;
      // Nothing half-built: the paper and its record are as they were.
      EXPECT_EQ(p.Name, "before");
      EXPECT_EQ(p.Width(), 5);
      EXPECT_EQ(p.Layers->LastIndex(), 1);
      EXPECT_EQ(rec.Data().Size(), 6);
    } else {
      ASSERT_TRUE(ok) << len;
      EXPECT_TRUE(p.EventsIncomplete) << len;
      EXPECT_EQ(p.Width(), 3);
      EXPECT_EQ(rec.Data().Size(), 0);
    }
  }
}

TEST_F(PictureFileTest, DamagedHeadersAndRecordsAreRefused) {
  struct Case {
    const char* name;
    size_t at;  // byte to change
    int width;  // 1 byte or 4
    uint32_t value;
    TWpbResult why;
  };
  const auto good = SmallFile(dir);
  const size_t rec = 32, size = rec + 8;
  const Case cases[] = {
      {"older magic", 3, 1, ' ', TWpbResult::UnknownMagic},
      {"no pixel data", 4, 4, 1, TWpbResult::NoPixelData},
      {"width beyond the limit", 8, 4, 6400, TWpbResult::TooLarge},
      {"height beyond the limit", 12, 4, 65535, TWpbResult::TooLarge},
      {"width 0", 8, 4, 0, TWpbResult::Damaged},
      {"negative height", 12, 4, 0xFFFFFFFFu, TWpbResult::Damaged},
      {"25 layers", 20, 1, 24, TWpbResult::Damaged},
      {"layers the file lacks", 20, 1, 1, TWpbResult::Damaged},
      {"kind 4", rec, 1, 4, TWpbResult::Damaged},
      {"pixel data beyond the file", size, 4, 0x7FFFFFFF, TWpbResult::Damaged},
      {"negative pixel data", size, 4, 0x80000000u, TWpbResult::Damaged},
      {"pixel data too short for any coding", size, 4, 3, TWpbResult::Damaged},
      {"pixel data that stops inside a chunk", size, 4, 4, TWpbResult::Damaged},
  };
  const std::string path = dir.Path("bad.wpb");
  for (const Case& c : cases) {
    auto bad = good;
    if (c.width == 1) bad[c.at] = static_cast<uint8_t>(c.value);
    else PutIntAt(bad, c.at, c.value);
    WriteAll(path, bad);
    TPaper p;
    TEventPacket packet;
    messages.Messages.clear();
    TWpbResult why = TWpbResult::Ok;
    EXPECT_FALSE(p.LoadFromFile(path, packet, &why)) << c.name;
    EXPECT_EQ(why, c.why) << c.name;
    EXPECT_FALSE(p.Initialised) << c.name;
    ASSERT_EQ(messages.Messages.size(), 1u) << c.name;
    EXPECT_EQ(messages.Messages[0].Caption, "警告");
    EXPECT_EQ(messages.Messages[0].Flags & 0xF0u, unsigned{plat::MB_ICONWARNING});
    if (c.why == TWpbResult::UnknownMagic) {
      EXPECT_EQ(messages.Messages[0].Text, "未知の形式です！");
    }
  }
}

TEST_F(PictureFileTest, EventPartLargerThanTheFileLosesOnlyTheRecord) {
  auto bad = SmallFile(dir);
  PutIntAt(bad, 24, 1 << 30);
  WriteAll(dir.Path("bad.wpb"), bad);
  TPaper p;
  TEventPacket packet;
  ASSERT_TRUE(p.LoadFromFile(dir.Path("bad.wpb"), packet));
  EXPECT_TRUE(p.EventsIncomplete);
  EXPECT_EQ(packet.Data().Size(), 0);
}

TEST_F(PictureFileTest, FailedSaveReportsAndLeavesTheOldFile) {
  TSample s;
  const int32_t end = s.record.Data().Size();
  // A folder stands where the file should go: the rename over it fails.
  const std::string target = dir.Path("taken");
  ASSERT_TRUE(plat::MakeDirs(target));
  EXPECT_FALSE(s.paper.SaveToFile(target, false, s.record));
  EXPECT_TRUE(plat::DirExists(target));
  EXPECT_EQ(s.record.Data().Size(), end);
  EXPECT_FALSE(s.paper.SaveToFile(dir.Path("missing/a.wpb"), false, s.record));
  EXPECT_EQ(s.record.Data().Size(), end);
  // Only the target itself is ever left behind.
  ASSERT_TRUE(s.paper.SaveToFile(dir.Path("ok.wpb"), false, s.record));
  const auto first = ReadAll(dir.Path("ok.wpb"));
  s.paper.Layers->FillRect(0, 0, 0, 70, 5, 0);
  ASSERT_TRUE(s.paper.SaveToFile(dir.Path("ok.wpb"), false, s.record));
  EXPECT_NE(ReadAll(dir.Path("ok.wpb")), first);
}

TEST_F(PictureFileTest, FindsTheEventPartWithoutDecoding) {
  const auto good = SmallFile(dir);
  int32_t offset = 0, length = 0;
  ASSERT_EQ(FindWpbEvents(good.data(), static_cast<int64_t>(good.size()), offset, length), TWpbResult::Ok);
  EXPECT_EQ(static_cast<size_t>(offset + length), good.size());
  EXPECT_EQ(length, IntAt(good, 24));
  EXPECT_EQ(FindWpbEvents(good.data(), offset + length - 1, offset, length), TWpbResult::Damaged);
  EXPECT_EQ(FindWpbEvents(good.data(), 3, offset, length), TWpbResult::UnknownMagic);
}

}  // namespace
