// Frame layout, records, wire texts and event cutting, without sockets.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "session/wire/EventCut.h"
#include "session/wire/SessionFrame.h"
#include "session/wire/WireText.h"

namespace {

std::vector<uint8_t> Header(int32_t kind, int32_t sender, int32_t dest, int32_t len) {
  std::vector<uint8_t> h(kFrameHeaderSize);
  EncodeHeader(SessionMessage{kind, sender, dest, len}, h.data());
  return h;
}

}  // namespace

TEST(SessionFrame, HeaderIsFourLittleEndianInts) {
  const std::vector<uint8_t> h = Header(mkChat, 3, mdAll, 0x01020304);
  const std::vector<uint8_t> want = {5, 0, 0, 0, 3, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 4, 3, 2, 1};
  EXPECT_EQ(h, want);
  const SessionMessage m = DecodeHeader(h.data());
  EXPECT_EQ(m.Kind, mkChat);
  EXPECT_EQ(m.Sender, 3);
  EXPECT_EQ(m.Dest, mdAll);
  EXPECT_EQ(m.Len, 0x01020304);
}

TEST(SessionFrame, ScanFrameByLengthAndBytesPresent) {
  struct Case {
    int32_t len;
    size_t present;  // bytes there, header included
    TFrameScan want;
  } cases[] = {
      {0, 15, TFrameScan::NeedMore},
      {0, 16, TFrameScan::Frame},
      {10, 25, TFrameScan::NeedMore},
      {10, 26, TFrameScan::Frame},
      {10, 40, TFrameScan::Frame},
      {4080, 4095, TFrameScan::NeedMore},
      {4080, 4096, TFrameScan::Frame},
      {4081, 16, TFrameScan::Violation},
      {-16, 16, TFrameScan::Violation},
      {-1, 16, TFrameScan::Violation},
      {0x7FFFFFFF, 16, TFrameScan::Violation},
      {static_cast<int32_t>(0x80000000u), 16, TFrameScan::Violation},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> buf = Header(mkData, 1, mdAll, c.len);
    buf.resize(std::max<size_t>(c.present, buf.size()), 0xAB);
    SessionMessage m;
    EXPECT_EQ(ScanFrame(buf.data(), c.present, m), c.want) << c.len << " " << c.present;
  }
}

TEST(SessionFrame, LoginRecordLayout) {
  uint8_t rec[kLoginRecordSize];
  EncodeLoginRecord("CLIENT", "pass", rec);
  std::vector<uint8_t> want(32, 0);
  std::memcpy(want.data(), "CLIENT", 6);
  std::memcpy(want.data() + 16, "pass", 4);
  EXPECT_EQ(std::vector<uint8_t>(rec, rec + 32), want);

  std::string user, pass;
  DecodeLoginRecord(rec, user, pass);
  EXPECT_EQ(user, "CLIENT");
  EXPECT_EQ(pass, "pass");
}

TEST(SessionFrame, FieldsAreReadAtMostSixteenBytes) {
  // A name that fills its field without a zero must not run into the password.
  uint8_t rec[kLoginRecordSize];
  std::memset(rec, 'N', 16);
  std::memset(rec + 16, 'P', 16);
  std::string user, pass;
  DecodeLoginRecord(rec, user, pass);
  EXPECT_EQ(user, std::string(16, 'N'));
  EXPECT_EQ(pass, std::string(16, 'P'));
}

TEST(SessionFrame, WrittenFieldsKeepAZero) {
  uint8_t rec[kLoginRecordSize];
  EncodeLoginRecord(std::string(40, 'x'), "\xE3\x81\x82\xE3\x81\x82\xE3\x81\x82\xE3\x81\x82"
                                          "\xE3\x81\x82\xE3\x81\x82\xE3\x81\x82\xE3\x81\x82",
                    rec);  // 40 ASCII bytes; eight hiragana (16 CP932 bytes)
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rec), 15), std::string(15, 'x'));
  EXPECT_EQ(rec[15], 0);
  // Seven whole two-byte characters fit in 15 bytes; the eighth is not split.
  EXPECT_EQ(rec[16], 0x82);
  EXPECT_EQ(rec[17], 0xA0);
  EXPECT_EQ(rec[16 + 12], 0x82);
  EXPECT_EQ(rec[16 + 14], 0);
  EXPECT_EQ(rec[16 + 15], 0);
}

TEST(SessionFrame, MemberListEntries) {
  TMemberListText slots[kMemberSlots];
  slots[0] = {true, "HOTE", "ignored"};
  slots[0].Address = "";
  slots[2] = {true, "", "127.0.0.1"};  // accepted, not logged in yet
  slots[3] = {false, "OLD", "10.0.0.9"};  // free: all zero whatever it kept
  uint8_t area[kMemberListSize];
  EncodeMemberList(slots, area);
  std::vector<uint8_t> want(kMemberListSize, 0);
  std::memcpy(want.data(), "HOTE", 4);
  std::memcpy(want.data() + 2 * 32 + 16, "127.0.0.1", 9);
  EXPECT_EQ(std::vector<uint8_t>(area, area + kMemberListSize), want);

  std::string name, address;
  DecodeMemberListEntry(area + 2 * 32, name, address);
  EXPECT_EQ(name, "");
  EXPECT_EQ(address, "127.0.0.1");
}

TEST(WireText, RoundTripsJapaneseThroughCp932) {
  const std::string text = "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF ABC"
                           "\xEF\xBD\xB1";  // こんにちは ABC, halfwidth katakana a
  const std::string wire = EncodeWireText(text, 1023);
  EXPECT_EQ(wire.size(), 10u + 4u + 1u);
  EXPECT_EQ(static_cast<uint8_t>(wire[0]), 0x82);
  EXPECT_EQ(static_cast<uint8_t>(wire[1]), 0xB1);
  EXPECT_EQ(static_cast<uint8_t>(wire.back()), 0xB1);
  EXPECT_EQ(DecodeWireText(reinterpret_cast<const uint8_t*>(wire.data()), wire.size()), text);
}

TEST(WireText, EncodingCutsAtCharacterBoundaries) {
  const std::string a3 = "a\xE3\x81\x82\xE3\x81\x82";  // a + two hiragana: 1 + 2 + 2 bytes
  EXPECT_EQ(EncodeWireText(a3, 5).size(), 5u);
  EXPECT_EQ(EncodeWireText(a3, 4).size(), 3u);
  EXPECT_EQ(EncodeWireText(a3, 2).size(), 1u);
  EXPECT_EQ(EncodeWireText(a3, 0).size(), 0u);
}

TEST(WireText, UnmappableAndBrokenInputBecomesReplacement) {
  // An emoji has no CP932 form; a stray continuation byte is no UTF-8.
  EXPECT_EQ(EncodeWireText("x\xF0\x9F\x98\x80y\x80z", 100), "x?y?z");
  // A byte that starts no CP932 character, and a lead byte cut off at the end.
  const uint8_t bad[] = {'a', 0xA0, 'b', 0x82};
  EXPECT_EQ(DecodeWireText(bad, sizeof bad), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
  const uint8_t zero[] = {'a', 'b', 0, 'c'};
  EXPECT_EQ(DecodeWireText(zero, sizeof zero), "ab");
}

TEST(WireText, CutOfReceivedBytes) {
  const uint8_t p[] = {'a', 0x82, 0xA0, 'b', 0x82};
  EXPECT_EQ(WireTextCut(p, 5, 100), 4u);  // the lone lead byte at the end is left out
  EXPECT_EQ(WireTextCut(p, 5, 2), 1u);    // never half a character
  EXPECT_EQ(WireTextCut(p, 5, 3), 3u);
}

TEST(EventCut, SizesOfEventsFromTheirFirstBytes) {
  struct Case {
    std::vector<uint8_t> start;  // first bytes; the rest of the buffer is zero
    size_t present;
    int32_t want;
  } cases[] = {
      {{}, 0, 0},
      {{0x00}, 1, 0},
      {{0x00, 0x02, 0x80, 0x02}, 4, 0},        // ecNewPaper, not all there
      {{0x00, 0x02, 0x80, 0x02}, 6, 6},
      {{0x01, 0x01}, 3, 3},                    // ecDeleteLayer
      {{0x02, 0x01}, 2, 2},                    // ecCombineVisible
      {{0x27, 0x01}, 27, 11},                  // ecClearRect
      {{0x31, 0x01}, 5, 0},                    // ecLine
      {{0x31, 0x01}, 27, 29},                  // known before it is all there
      {{0xFF, 0xFF}, 2, 2},                    // ecEnd
      {{0x05, 0x00}, 2, -1},                   // not an event
      {{0x17, 0x27}, 2, -1},                   // 10007, a join reply word
      {{0x29, 0x01, 0x00, 0x03, 0x00}, 5, 0},  // ecClearPolygon N=3
      {{0x29, 0x01, 0x00, 0x03, 0x00}, 27, 17},
      {{0x30, 0x01, 0, 1, 2, 3, 0, 0}, 8, 8},  // ecFillPolygon N=0
      {{0x02, 0x00}, 26, 0},                   // stroke: its count is bytes 25..26
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> buf(40, 0);
    std::copy(c.start.begin(), c.start.end(), buf.begin());
    EXPECT_EQ(EventSizeFromPrefix(buf.data(), c.present), c.want) << c.present;
  }
  std::vector<uint8_t> stroke(27, 0);
  stroke[0] = 2;
  stroke[25] = 2;
  EXPECT_EQ(EventSizeFromPrefix(stroke.data(), 27), 39);
}

TEST(EventCut, FollowsEventsFedInAnyPieces) {
  // ecNewPaper, a stroke with N = 1, ecClearLayer, then the first 4 bytes of an ecLine.
  std::vector<uint8_t> s = {0x00, 0x02, 0x80, 0x02, 0xE0, 0x01};
  std::vector<uint8_t> stroke(33, 0);
  stroke[0] = 0;
  stroke[25] = 1;
  s.insert(s.end(), stroke.begin(), stroke.end());
  s.insert(s.end(), {0x24, 0x01, 0x00});
  const uint64_t whole = s.size();
  s.insert(s.end(), {0x31, 0x01, 0x00, 0x00});
  for (size_t piece : {1u, 2u, 5u, 27u, 100u}) {
    TEventCut cut;
    for (size_t i = 0; i < s.size(); i += piece) {
      cut.Feed(s.data() + i, std::min(piece, s.size() - i));
    }
    EXPECT_EQ(cut.Fed(), s.size()) << piece;
    EXPECT_EQ(cut.WholeEnd(), whole) << piece;
    EXPECT_FALSE(cut.Broken());
  }
  TEventCut broken;
  const uint8_t junk[] = {0x00, 0x02, 0x80, 0x02, 0xE0, 0x01, 0x05, 0x00, 0x01};
  broken.Feed(junk, sizeof junk);
  EXPECT_TRUE(broken.Broken());
  EXPECT_EQ(broken.WholeEnd(), 6u);
  EXPECT_EQ(broken.Fed(), sizeof junk);
}
