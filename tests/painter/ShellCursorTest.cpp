#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "common/TempDir.h"
#include "painter/CursorFile.h"
#include "painter/Cursors.h"

namespace {

void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(v & 0xFF);
  b.push_back((v >> 8) & 0xFF);
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// A cursor file of one bitmap entry; pixel(x, y) gives the colour index or 0xAARRGGBB value,
// masked(x, y) the AND mask bit.
template <class Pixel, class Masked>
std::vector<uint8_t> MakeCursor(int w, int h, int bits, int hotX, int hotY, Pixel pixel, Masked masked) {
  std::vector<uint8_t> img;
  Put32(img, 40);
  Put32(img, static_cast<uint32_t>(w));
  Put32(img, static_cast<uint32_t>(2 * h));
  Put16(img, 1);
  Put16(img, static_cast<uint32_t>(bits));
  for (int i = 0; i < 6; ++i) Put32(img, 0);
  if (bits <= 8)
    for (int i = 0; i < (1 << bits); ++i) Put32(img, static_cast<uint32_t>(i) * 0x010203u);
  const size_t rowBytes = ((static_cast<size_t>(w) * bits + 31) / 32) * 4, maskBytes = ((w + 31) / 32) * 4;
  for (int y = h - 1; y >= 0; --y) {
    std::vector<uint8_t> row(rowBytes, 0);
    for (int x = 0; x < w; ++x) {
      const uint32_t v = pixel(x, y);
      if (bits == 32) std::memcpy(&row[static_cast<size_t>(x) * 4], &v, 4);
      else if (bits == 24) std::memcpy(&row[static_cast<size_t>(x) * 3], &v, 3);
      else row[static_cast<size_t>(x) * bits / 8] |= static_cast<uint8_t>(v << (8 - bits - (x * bits) % 8));
    }
    img.insert(img.end(), row.begin(), row.end());
  }
  for (int y = h - 1; y >= 0; --y) {
    std::vector<uint8_t> row(maskBytes, 0);
    for (int x = 0; x < w; ++x)
      if (masked(x, y)) row[static_cast<size_t>(x) / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    img.insert(img.end(), row.begin(), row.end());
  }
  std::vector<uint8_t> file;
  Put16(file, 0);
  Put16(file, 2);
  Put16(file, 1);
  file.push_back(static_cast<uint8_t>(w));
  file.push_back(static_cast<uint8_t>(h));
  file.push_back(0);
  file.push_back(0);
  Put16(file, static_cast<uint32_t>(hotX));
  Put16(file, static_cast<uint32_t>(hotY));
  Put32(file, static_cast<uint32_t>(img.size()));
  Put32(file, 22);
  file.insert(file.end(), img.begin(), img.end());
  return file;
}

std::vector<uint8_t> OneBit() {
  return MakeCursor(32, 32, 1, 3, 4, [](int x, int y) { return uint32_t((x + y) % 2); },
                    [](int x, int) { return x < 4; });
}

TEST(CursorFile, BitmapsOfEveryDepthReadTopRowFirstWithMaskAndHotSpot) {
  for (int bits : {1, 4, 8, 24, 32}) {
    SCOPED_TRACE(bits);
    auto pixel = [bits](int x, int y) -> uint32_t {
      if (bits == 32) return 0xFF000000u | static_cast<uint32_t>(x * 0x10000 + y);
      if (bits == 24) return static_cast<uint32_t>(x * 0x10000 + y);
      return static_cast<uint32_t>(x + 2 * y) % (1u << bits);
    };
    const std::vector<uint8_t> f = MakeCursor(5, 3, bits, 2, 1, pixel, [](int x, int y) { return x == 0 && y == 0; });
    TCursorImage c;
    ASSERT_TRUE(ReadCursorFile(f.data(), f.size(), c));
    EXPECT_EQ(c.Width, 5);
    EXPECT_EQ(c.Height, 3);
    EXPECT_EQ(c.HotX, 2);
    EXPECT_EQ(c.HotY, 1);
    ASSERT_EQ(c.Pixels.size(), 15u);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) {
        const uint32_t got = c.Pixels[static_cast<size_t>(y * 5 + x)];
        const uint32_t rgb = bits <= 8 ? pixel(x, y) * 0x010203u : pixel(x, y) & 0xFFFFFF;
        EXPECT_EQ(got & 0xFFFFFF, rgb) << x << "," << y;
        // A 32-bit image carries its own alpha; the others take it from the mask.
        const uint32_t alpha = bits == 32 || !(x == 0 && y == 0) ? 0xFF : 0;
        EXPECT_EQ(got >> 24, alpha) << x << "," << y;
      }
  }
}

TEST(CursorFile, DamagedFilesAreRefused) {
  const std::vector<uint8_t> good = OneBit();
  struct Case {
    const char* what;
    size_t at;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"icon, not cursor", 2, {1, 0}},
      {"no entries", 4, {0, 0}},
      {"image beyond the file", 18, {0xF0, 0xFF, 0xFF, 0xFF}},
      {"length beyond the file", 14, {0xFF, 0xFF, 0, 0}},
      {"compressed", 22 + 16, {1, 0, 0, 0}},
      {"wider than a cursor", 22 + 4, {0x01, 0x10, 0, 0}},
      {"negative width", 22 + 4, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"odd height", 22 + 8, {63, 0, 0, 0}},
      {"two planes", 22 + 12, {2, 0}},
      {"sixteen bits", 22 + 14, {16, 0}},
      {"more colours than the depth has", 22 + 32, {3, 0, 0, 0}},
      {"hot spot outside", 10, {40, 0}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> f = good;
    std::copy(c.bytes.begin(), c.bytes.end(), f.begin() + static_cast<std::ptrdiff_t>(c.at));
    TCursorImage img;
    EXPECT_FALSE(ReadCursorFile(f.data(), f.size(), img)) << c.what;
  }
  // Every cut of a good file is refused, never read past its end.
  for (size_t n = 0; n < good.size(); ++n) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    TCursorImage img;
    EXPECT_FALSE(ReadCursorFile(cut.data(), cut.size(), img)) << n;
  }
}

TEST(CursorFile, APenCursorFileReplacesTheBuiltInOneOnlyWhenRead) {
  TTempDir dir;
  InstallScreenCursors();
  ASSERT_FALSE(PenCursorFromFile());
  const QImage builtIn = ScreenCursor(8).pixmap().toImage();
  std::vector<uint8_t> bad = OneBit();
  bad[2] = 1;
  std::ofstream(dir.Path("bad.cur"), std::ios::binary).write(reinterpret_cast<const char*>(bad.data()), 100);
  EXPECT_FALSE(LoadPenCursor(dir.Path("bad.cur")));
  EXPECT_FALSE(LoadPenCursor(dir.Path("missing.cur")));
  EXPECT_FALSE(PenCursorFromFile());
  EXPECT_EQ(ScreenCursor(8).pixmap().toImage(), builtIn);

  const std::vector<uint8_t> good = OneBit();
  std::ofstream(dir.Path("MYPOINT.CUR"), std::ios::binary)
      .write(reinterpret_cast<const char*>(good.data()), static_cast<std::streamsize>(good.size()));
  ASSERT_TRUE(LoadPenCursor(dir.Path("MYPOINT.CUR")));
  EXPECT_TRUE(PenCursorFromFile());
  EXPECT_EQ(ScreenCursor(8).hotSpot(), QPoint(3, 4));
  EXPECT_EQ(ScreenCursor(8).pixmap().size(), QSize(32, 32));
  InstallScreenCursors();
}

TEST(CursorFile, ThePenCursorFileIsFoundInTheDataFolder) {
  TTempDir data;
  const char* old = getenv("XDG_DATA_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", data.Dir().c_str(), 1);
  const std::vector<uint8_t> good = OneBit();
  std::filesystem::create_directories(data.Path("vellora"));
  std::ofstream(data.Path("vellora/MYPOINT.CUR"), std::ios::binary)
      .write(reinterpret_cast<const char*>(good.data()), static_cast<std::streamsize>(good.size()));
  InstallScreenCursors();
  EXPECT_TRUE(PenCursorFromFile());
  EXPECT_EQ(ScreenCursor(8).hotSpot(), QPoint(3, 4));
  if (old) setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else unsetenv("XDG_DATA_HOME");
  InstallScreenCursors();
  EXPECT_FALSE(PenCursorFromFile());
}

}  // namespace
