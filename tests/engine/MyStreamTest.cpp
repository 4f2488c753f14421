#include "engine/MyStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "common/TempDir.h"

namespace {

std::vector<uint8_t> Bytes(const TMyMemory& m) { return {m.Memory(), m.Memory() + m.Size()}; }

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(MyMemory, PutsAreLittleEndianAndAdvanceTheWriteEnd) {
  TMyMemory m(16);
  m.WriteByte(0xAB);
  m.WriteWord(0x1234);
  m.WriteSmallInt(-2);
  m.WriteSmallInt(0x12345);  // only the low 16 bits
  m.WriteInteger(-0x01020304);
  uint8_t raw[3] = {7, 8, 9};
  m.WriteBuffer(raw, 3);
  EXPECT_EQ(Bytes(m), (std::vector<uint8_t>{0xAB, 0x34, 0x12, 0xFE, 0xFF, 0x45, 0x23, 0xFC, 0xFC,
                                            0xFD, 0xFE, 7, 8, 9}));
  EXPECT_EQ(m.ReadByte(), 0xAB);
  EXPECT_EQ(m.ReadWord(), 0x1234);
  EXPECT_EQ(m.ReadSmallInt(), -2);
  EXPECT_EQ(m.ReadWord(), 0x2345);
  EXPECT_EQ(m.ReadPos(), 7);
  EXPECT_EQ(m.Remaining(), 7);
  EXPECT_FALSE(m.ReadFailed());
}

TEST(MyMemory, GrowthFollowsGrowStep) {
  struct Case {
    const char* what;
    int32_t fill, extra, capacity;
  } cases[] = {
      {"exactly full does not grow", 100, 0, 100},
      {"one byte more grows by the step", 100, 1, 200},
      {"a large write grows by what it needs", 10, 150, 250},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TMyMemory m(100);
    std::vector<uint8_t> a(c.fill, 1), b(c.extra, 2);
    m.WriteBuffer(a.data(), c.fill);
    m.WriteBuffer(b.data(), c.extra);
    EXPECT_EQ(m.Capacity(), c.capacity);
    EXPECT_EQ(m.Size(), c.fill + c.extra);
    EXPECT_EQ(m.Memory()[0], 1);
    EXPECT_EQ(m.Memory()[m.Size() - 1], c.extra ? 2 : 1);
  }
}

TEST(MyMemory, ClearReusesTheBlock) {
  TMyMemory m(8);
  for (int i = 0; i < 8; ++i) m.WriteByte(static_cast<uint8_t>(i));
  uint8_t* block = m.Memory();
  (void)m.ReadWord();
  m.Clear();
  EXPECT_EQ(m.Size(), 0);
  EXPECT_EQ(m.ReadPos(), 0);
  for (int i = 0; i < 8; ++i) m.WriteByte(0x55);
  EXPECT_EQ(m.Capacity(), 8);
  EXPECT_EQ(m.Memory(), block);
}

TEST(MyMemory, OffsetPutsPatchWithoutMovingTheWriteEnd) {
  TMyMemory m(4);
  m.WriteWord(0);
  m.WriteWord(0x1111);
  m.WriteWord(0xBEEF, -4);  // the placeholder
  EXPECT_EQ(Bytes(m), (std::vector<uint8_t>{0xEF, 0xBE, 0x11, 0x11}));
  EXPECT_EQ(m.Size(), 4);

  // A put below byte 0 is refused.
  m.WriteWord(0x7777, -5);
  m.WriteByte(0x77, -100);
  EXPECT_EQ(Bytes(m), (std::vector<uint8_t>{0xEF, 0xBE, 0x11, 0x11}));

  // A put ahead of the write end reserves room up to its last byte.
  m.WriteInteger(0x0A0B0C0D, 1000);
  ASSERT_GE(m.Capacity(), 1008);
  EXPECT_EQ(m.Size(), 4);
  EXPECT_EQ(m.Memory()[1004], 0x0D);
  EXPECT_EQ(m.Memory()[1007], 0x0A);
}

TEST(MyMemory, GetsPeekAtOffsetsWithoutMoving) {
  TMyMemory m(8);
  for (uint8_t b : {1, 2, 3, 4, 5}) m.WriteByte(b);
  (void)m.ReadByte();
  EXPECT_EQ(m.ReadByte(2), 4);
  EXPECT_EQ(m.ReadWord(1), 0x0403);
  EXPECT_EQ(m.ReadByte(-1), 1);
  EXPECT_EQ(m.ReadPos(), 1);
  EXPECT_FALSE(m.ReadFailed());
}

TEST(MyMemory, GetsOutsideTheDataReturnZeroAndKeepTheCursor) {
  struct Case {
    const char* what;
    int32_t readPos;  // cursor before the get
    int kind;         // 0 byte, 1 word, 2 smallint
    int32_t ofs;
  } cases[] = {
      {"byte at the end", 3, 0, 0},       {"word over the end", 2, 1, 0},
      {"smallint over the end", 2, 2, 0}, {"peek past the end", 0, 0, 3},
      {"peek before the start", 0, 1, -1}, {"huge offset", 1, 1, 0x7FFFFFFF},
      {"huge negative offset", 1, 0, -0x7FFFFFFF - 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TMyMemory m(3);
    for (uint8_t b : {0xFF, 0xFF, 0xFF}) m.WriteByte(b);
    m.Skip(c.readPos);
    int32_t v = c.kind == 0 ? m.ReadByte(c.ofs) : c.kind == 1 ? m.ReadWord(c.ofs) : m.ReadSmallInt(c.ofs);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(m.ReadPos(), c.readPos);
    EXPECT_TRUE(m.ReadFailed());
    m.Rewind();
    EXPECT_FALSE(m.ReadFailed());
  }
}

TEST(MyMemory, ReadBufferNeedsAllItsBytes) {
  TMyMemory m(8);
  for (uint8_t b : {1, 2, 3, 4}) m.WriteByte(b);
  (void)m.ReadByte();
  uint8_t dst[4] = {9, 9, 9, 9};
  EXPECT_FALSE(m.ReadBuffer(dst, 4));
  EXPECT_FALSE(m.ReadBuffer(dst, -1));
  EXPECT_EQ(m.ReadPos(), 1);
  EXPECT_EQ(dst[0], 9);
  EXPECT_TRUE(m.ReadBuffer(dst, 3));
  EXPECT_EQ(dst[0], 2);
  EXPECT_EQ(dst[2], 4);
  EXPECT_EQ(m.Remaining(), 0);
}

TEST(MyMemory, NegativeLengthsAreRefused) {
  TMyMemory m(4);
  m.WriteByte(1);
  uint8_t src[1] = {5};
  m.WriteBuffer(src, -1);
  EXPECT_TRUE(m.Reserve(-100));
  EXPECT_EQ(m.Size(), 1);
  EXPECT_EQ(m.Capacity(), 4);
}

TEST(MyMemory, SkipStepsBothWaysAndStaysInsideTheData) {
  TMyMemory m(8);
  for (int i = 0; i < 6; ++i) m.WriteByte(static_cast<uint8_t>(i));
  m.Skip(5);
  m.Skip(-3);
  EXPECT_EQ(m.ReadPos(), 2);
  EXPECT_EQ(m.ReadByte(), 2);
  m.Skip(-100);
  EXPECT_EQ(m.ReadPos(), 0);
  m.Skip(100);
  EXPECT_EQ(m.ReadPos(), 6);
  EXPECT_EQ(m.Remaining(), 0);
}

TEST(MyMemory, SizeChangesStayInsideTheBlock) {
  TMyMemory m(4);
  m.WriteWord(0xFFFF);
  m.WriteWord(0x1234);
  m.AddSize(-2);  // drop a trailing end marker
  EXPECT_EQ(m.Size(), 2);
  m.AddSize(-10);
  EXPECT_EQ(m.Size(), 0);
  m.SetSize(-5);
  EXPECT_EQ(m.Size(), 0);

  // Bytes written through WritePointer become part of the data.
  ASSERT_TRUE(m.Reserve(3));
  std::memcpy(m.WritePointer(), "abc", 3);
  m.AddSize(3);
  EXPECT_EQ(m.Size(), 3);
  EXPECT_EQ(m.Memory()[2], 'c');

  // Growing the size past the block grows the block with zero bytes.
  m.SetSize(10);
  EXPECT_EQ(m.Size(), 10);
  EXPECT_GE(m.Capacity(), 10);
  EXPECT_EQ(m.Memory()[9], 0);

  // Shrinking below the cursor pulls the cursor back.
  m.Skip(8);
  m.SetSize(5);
  EXPECT_EQ(m.ReadPos(), 5);
}

TEST(MyMemory, WriteBufferFromItsOwnBlockSurvivesGrowth) {
  TMyMemory m(4);
  m.WriteInteger(0x04030201);
  m.WriteBuffer(m.Memory(), 4);  // needs to grow the block it reads from
  EXPECT_EQ(Bytes(m), (std::vector<uint8_t>{1, 2, 3, 4, 1, 2, 3, 4}));
}

TEST(MyMemory, ReadPercent) {
  TMyMemory m(10);
  EXPECT_FLOAT_EQ(m.ReadPercent(), 100);
  for (int i = 0; i < 4; ++i) m.WriteByte(0);
  EXPECT_FLOAT_EQ(m.ReadPercent(), 0);
  (void)m.ReadWord();
  EXPECT_FLOAT_EQ(m.ReadPercent(), 50);
  (void)m.ReadWord();
  EXPECT_FLOAT_EQ(m.ReadPercent(), 100);
}

TEST(MyMemory, MovedBufferOwnsTheBlock) {
  TMyMemory a(4);
  a.WriteWord(0x0102);
  TMyMemory b(std::move(a));
  EXPECT_EQ(b.Size(), 2);
  EXPECT_EQ(b.ReadWord(), 0x0102);
  EXPECT_EQ(a.Size(), 0);
  a.WriteByte(7);  // the moved-from buffer is still usable
  EXPECT_EQ(a.ReadByte(), 7);
}

TEST(MyMemoryLoad, WholeFile) {
  TTempDir dir;
  WriteFile(dir.Path("f.bin"), {1, 2, 3, 4, 5});
  TMyMemory m(64);
  m.WriteByte(9);
  (void)m.ReadByte();
  ASSERT_TRUE(m.LoadFromFile(dir.Path("f.bin")));
  EXPECT_EQ(Bytes(m), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(m.ReadPos(), 0);
  EXPECT_EQ(m.Capacity(), 5);
  EXPECT_EQ(m.GrowStep(), 64);
}

TEST(MyMemoryLoad, EmptyFileThenPutGrowsByStep) {
  TTempDir dir;
  WriteFile(dir.Path("empty"), {});
  TMyMemory m(32);
  ASSERT_TRUE(m.LoadFromFile(dir.Path("empty")));
  EXPECT_EQ(m.Size(), 0);
  EXPECT_EQ(m.Capacity(), 0);
  m.WriteByte(1);
  EXPECT_EQ(m.Capacity(), 32);
}

TEST(MyMemoryLoad, MissingOrUnreadableLeavesItEmpty) {
  TTempDir dir;
  for (const std::string& path : {dir.Path("missing"), dir.Dir()}) {
    SCOPED_TRACE(path);
    TMyMemory m(16);
    m.WriteInteger(42);
    (void)m.ReadByte();
    EXPECT_FALSE(m.LoadFromFile(path));
    EXPECT_EQ(m.Size(), 0);
    EXPECT_EQ(m.ReadPos(), 0);
    EXPECT_EQ(m.ReadByte(), 0);
    EXPECT_TRUE(m.ReadFailed());
  }
}

TEST(MyFile, ReadsAndWritesIntegersAndBlocks) {
  TTempDir dir;
  std::string path = dir.Path("f.bin");
  {
    TMyFile f;
    ASSERT_TRUE(f.CreateNew(path));
    EXPECT_TRUE(f.WriteInteger(-2));
    EXPECT_EQ(f.Write("xyz", 3), 3);
    EXPECT_TRUE(f.Close());
  }
  EXPECT_EQ(FileSizeByName(path), 7);
  TMyFile f;
  ASSERT_TRUE(f.OpenRead(path));
  EXPECT_EQ(f.ReadInteger(), -2);
  char buf[8] = {};
  EXPECT_EQ(f.Read(buf, 8), 3);  // a short count at the end
  EXPECT_STREQ(buf, "xyz");
  EXPECT_TRUE(f.Failed());
  EXPECT_EQ(f.ReadInteger(), 0);

  // Creating an existing file truncates it.
  TMyFile g;
  ASSERT_TRUE(g.CreateNew(path));
  g.Close();
  EXPECT_EQ(FileSizeByName(path), 0);
}

TEST(MyFile, FailuresAreReportedNotFatal) {
  TTempDir dir;
  TMyFile f;
  EXPECT_FALSE(f.OpenRead(dir.Path("missing")));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_TRUE(f.Failed());
  EXPECT_EQ(f.Read(nullptr, 4), 0);
  EXPECT_EQ(f.ReadInteger(), 0);
  EXPECT_FALSE(f.WriteInteger(1));
  EXPECT_FALSE(f.CreateNew(dir.Path("no/such/folder/x")));
  EXPECT_TRUE(f.Close());
  EXPECT_TRUE(f.Close());  // twice is harmless
  EXPECT_EQ(FileSizeByName(dir.Path("missing")), -1);
  EXPECT_EQ(FileSizeByName(dir.Dir()), -1);
}

TEST(MyStreamHelpers, MoveBytesHandlesOverlap) {
  uint8_t b[6] = {1, 2, 3, 4, 5, 6};
  MoveBytes(b, b + 2, 4);
  EXPECT_EQ(std::vector<uint8_t>(b, b + 6), (std::vector<uint8_t>{1, 2, 1, 2, 3, 4}));
  MoveBytes(b + 2, b, 4);
  EXPECT_EQ(std::vector<uint8_t>(b, b + 6), (std::vector<uint8_t>{1, 2, 3, 4, 3, 4}));
  MoveBytes(b, b + 1, -3);
  EXPECT_EQ(b[1], 2);
}

}  // namespace
