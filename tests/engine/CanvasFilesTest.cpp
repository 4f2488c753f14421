#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "common/TempDir.h"
#include "engine/io/CanvasFiles.h"
#include "platform/core/Files.h"

namespace {

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::vector<uint8_t> v;
  plat::ReadWholeFile(path, v);
  return v;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& v) {
  ASSERT_TRUE(plat::WriteFileAtomic(path, v.data(), v.size()));
}

std::vector<uint32_t> Pixels(const TTC& c) {
  std::vector<uint32_t> v;
  for (int y = 0; y < c.Height(); ++y)
    for (int x = 0; x < c.Width(); ++x) v.push_back(c.GetPixel(x, y));
  return v;
}

void Put16(std::vector<uint8_t>& v, size_t at, uint32_t x) { v[at] = uint8_t(x), v[at + 1] = uint8_t(x >> 8); }
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = uint8_t(x >> (8 * i));
}

// A bitmap file of our own making: header, optional masks or palette, then the rows exactly as
// given (each already padded).
std::vector<uint8_t> MakeBmp(uint32_t infoSize, int32_t w, int32_t h, int bpp, uint32_t compression,
                             const std::vector<uint32_t>& extra, const std::vector<uint8_t>& rows) {
  std::vector<uint8_t> v(14 + infoSize + 4 * extra.size());
  v[0] = 'B';
  v[1] = 'M';
  Put32(v, 10, uint32_t(v.size()));
  Put32(v, 14, infoSize);
  Put32(v, 18, uint32_t(w));
  Put32(v, 22, uint32_t(h));
  Put16(v, 26, 1);
  Put16(v, 28, uint32_t(bpp));
  Put32(v, 30, compression);
  for (size_t i = 0; i < extra.size(); ++i) Put32(v, 14 + infoSize + 4 * i, extra[i]);
  v.insert(v.end(), rows.begin(), rows.end());
  Put32(v, 2, uint32_t(v.size()));
  return v;
}

// A canvas with smooth content (JPEG-friendly) and some alpha that files must drop.
void Gradient(TTC& c) {
  const int w = c.Width(), h = c.Height();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      c.SetPixel(x, y, uint32_t((x * 7 + y) & 255) << 24 | uint32_t(x * 255 / w) << 16 | uint32_t(y * 255 / h) << 8 |
                           uint32_t(((x + y) * 128) / (w + h)));
}

bool HaveTool(const char* name) { return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0; }

int Shell(const std::string& cmd) { return std::system(cmd.c_str()); }

// A binary PPM (P6) or PGM (P5) as pixels 0xFFRRGGBB.
bool ReadPpm(const std::string& path, int& w, int& h, std::vector<uint32_t>& px) {
  std::vector<uint8_t> b = FileBytes(path);
  int maxval = 0, consumed = 0;
  char kind = 0;
  std::string head(b.begin(), b.begin() + std::min<size_t>(b.size(), 64));
  if (std::sscanf(head.c_str(), "P%c %d %d %d%n", &kind, &w, &h, &maxval, &consumed) != 4 || maxval != 255) return false;
  const int n = kind == '6' ? 3 : kind == '5' ? 1 : 0;  // colour or grey
  size_t at = size_t(consumed) + 1;
  if (!n || b.size() < at + size_t(w) * h * n) return false;
  px.resize(size_t(w) * h);
  for (size_t i = 0; i < px.size(); ++i) {
    const uint8_t* p = &b[at + n * i];
    px[i] = 0xFF000000u | uint32_t(p[0]) << 16 | uint32_t(p[n / 2]) << 8 | p[n - 1];
  }
  return true;
}

void WritePpm(const std::string& path, const TTC& c) {
  std::string s = "P6\n" + std::to_string(c.Width()) + " " + std::to_string(c.Height()) + "\n255\n";
  std::vector<uint8_t> v(s.begin(), s.end());
  for (uint32_t p : Pixels(c)) {
    v.push_back(uint8_t(p >> 16));
    v.push_back(uint8_t(p >> 8));
    v.push_back(uint8_t(p));
  }
  WriteBytes(path, v);
}

// A colour JPEG of random pixels written by libjpeg, with a restart marker after every
// `restartMcus` coding units when it is not 0.
std::vector<uint8_t> RandomJpeg(int w, int h, unsigned seed, unsigned restartMcus) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = JDIMENSION(w);
  c.image_height = JDIMENSION(h);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 85, TRUE);
  c.restart_interval = restartMcus;
  jpeg_start_compress(&c, TRUE);
  std::mt19937 rng(seed);
  std::vector<JSAMPLE> row(size_t(w) * 3);
  while (c.next_scanline < c.image_height) {
    for (JSAMPLE& b : row) b = JSAMPLE(rng());
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<uint8_t> v(mem, mem + size);
  jpeg_destroy_compress(&c);
  std::free(mem);
  return v;
}

// Where the marker 0xFF `code` first starts, from `from` on.
size_t MarkerAt(const std::vector<uint8_t>& v, uint8_t code, size_t from = 0) {
  for (size_t i = from; i + 1 < v.size(); ++i)
    if (v[i] == 0xFF && v[i + 1] == code) return i;
  return v.size();
}

std::vector<uint8_t> Inserted(std::vector<uint8_t> v, size_t at, const std::vector<uint8_t>& bytes) {
  v.insert(v.begin() + std::ptrdiff_t(at), bytes.begin(), bytes.end());
  return v;
}

// Loads `file` through `load`: with `want` it reads as those pixels; without, it is refused as
// damaged, with a reason, and the canvas stays as it was.
using TLoader = bool (*)(TTCDC&, const std::string&, std::string*, TPictureError*);
void ExpectRead(TLoader load, const std::string& path, const std::vector<uint8_t>& file,
                const std::vector<uint32_t>* want) {
  WriteBytes(path, file);
  TTCDC c(3, 3);
  c.Fill(0x11223344);
  std::string why;
  TPictureError error = TPictureError::None;
  const bool read = load(c, path, &why, &error);
  if (want) {
    ASSERT_TRUE(read) << why;
    EXPECT_EQ(Pixels(c), *want);
    return;
  }
  EXPECT_FALSE(read);
  EXPECT_EQ(error, TPictureError::Damaged) << why;
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(Pixels(c), std::vector<uint32_t>(9, 0x11223344u));
}

std::string Fixture(const char* name) { return std::string(VELL_SOURCE_DIR) + "/tests/engine/data/CanvasFiles/" + name; }

}  // namespace

TEST(BmpWrite, HeaderAndPixelBytesOfOnePixel) {
  TTC c(1, 1);
  c.SetPixel(0, 0, 0x80112233);
  std::vector<uint8_t> got;
  ASSERT_TRUE(EncodeBMP(c, got));
  const std::vector<uint8_t> want = {
      'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,                    // file header
      40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0,                  // size, width, height, planes, depth
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // the six zero fields
      0x33, 0x22, 0x11, 0};                                              // B, G, R, padding
  EXPECT_EQ(got, want);
}

TEST(BmpWrite, RowsBottomFirstPaddedAndTheFileMatchesTheBuffer) {
  TTempDir dir;
  TTC c(3, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) c.SetPixel(x, y, uint32_t(0xFF000000 | (y * 3 + x + 1) * 0x010101));
  std::vector<uint8_t> got;
  ASSERT_TRUE(EncodeBMP(c, got));
  ASSERT_EQ(got.size(), 54u + 12 * 2);
  EXPECT_EQ(got[2], 54 + 24);
  const std::vector<uint8_t> rows(got.begin() + 54, got.end());
  EXPECT_EQ(rows, (std::vector<uint8_t>{4, 4, 4, 5, 5, 5, 6, 6, 6, 0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 0, 0, 0}));
  ASSERT_TRUE(SaveBMP(c, dir.Path("a.bmp")));
  EXPECT_EQ(FileBytes(dir.Path("a.bmp")), got);
  // A canvas wider than the old fixed row buffer allowed.
  TTC wide(12000, 1);
  wide.Fill(0xFF010203);
  ASSERT_TRUE(SaveBMP(wide, dir.Path("wide.bmp")));
  EXPECT_EQ(plat::FileSizeOf(dir.Path("wide.bmp")), 54 + 36000);
}

TEST(BmpWrite, FailedSaveIsReportedAndLeavesWhatWasThere) {
  TTempDir dir;
  TTC c(2, 2);
  std::string why;
  EXPECT_FALSE(SaveBMP(c, dir.Path("missing/folder/a.bmp"), &why));
  EXPECT_FALSE(why.empty());
  std::filesystem::create_directory(dir.Path("taken"));
  WriteBytes(dir.Path("taken/keep"), {1, 2, 3});
  EXPECT_FALSE(SaveBMP(c, dir.Path("taken")));  // cannot replace a folder
  EXPECT_EQ(FileBytes(dir.Path("taken/keep")), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_FALSE(SaveJPEG(TTCDC(), dir.Path("taken"), 80));
  EXPECT_EQ(FileBytes(dir.Path("taken/keep")), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(BmpRoundTrip, EveryPaddingWidthLoadsBackOpaque) {
  TTempDir dir;
  std::mt19937 rng(7);
  for (int w = 1; w <= 5; ++w) {
    TTC c(w, 3);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < w; ++x) c.SetPixel(x, y, uint32_t(rng()));
    ASSERT_TRUE(SaveBMP(c, dir.Path("r.bmp")));
    TTCDC back;
    ASSERT_TRUE(LoadBMP(back, dir.Path("r.bmp")));
    ASSERT_EQ(back.Width(), w);
    ASSERT_EQ(back.Height(), 3);
    std::vector<uint32_t> want = Pixels(c);
    for (uint32_t& p : want) p |= 0xFF000000u;
    EXPECT_EQ(Pixels(back), want) << "width " << w;
  }
}

TEST(BmpRead, DepthsMasksPalettesAndRowOrder) {
  const uint32_t R = 0xFFFF0000, G = 0xFF00FF00, B = 0xFF0000FF, K = 0xFF000000, W = 0xFFFFFFFF;
  struct {
    const char* name;
    std::vector<uint8_t> file;
    std::vector<uint32_t> want;  // 2 x 2, rows top first
  } cases[] = {
      {"24-bit bottom-up", MakeBmp(40, 2, 2, 24, 0, {}, {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0}),
       {B, K, R, G}},
      {"24-bit top-down", MakeBmp(40, 2, -2, 24, 0, {}, {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0}),
       {R, G, B, K}},
      {"32-bit alpha ignored", MakeBmp(40, 2, -2, 32, 0, {}, {0, 0, 255, 0, 0, 255, 0, 9, 255, 0, 0, 0, 255, 255, 255, 0}),
       {R, G, B, W}},
      {"32-bit bit fields", MakeBmp(40, 2, -2, 32, 3, {0xFF, 0xFF00, 0xFF0000},
                                    {255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0}),
       {R, G, B, K}},
      {"16-bit 5-5-5", MakeBmp(40, 2, -2, 16, 0, {}, {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0xFF, 0x7F}), {R, G, B, W}},
      {"16-bit 5-6-5 fields", MakeBmp(40, 2, -2, 16, 3, {0xF800, 0x07E0, 0x001F}, {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xFF, 0xFF}),
       {R, G, B, W}},
      {"8-bit palette", MakeBmp(40, 2, -2, 8, 0, std::vector<uint32_t>(256, 0x00FF0000),
                                {0, 1, 0, 0, 1, 0, 0, 0}),
       {R, R, R, R}},
      {"4-bit palette", MakeBmp(40, 2, -2, 4, 0, {0x00FF0000, 0x0000FF00, 0x000000FF, 0x00FFFFFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                                {0x01, 0, 0, 0, 0x23, 0, 0, 0}),
       {R, G, B, W}},
      {"1-bit palette", MakeBmp(40, 2, -2, 1, 0, {0x00000000, 0x00FFFFFF}, {0x40, 0, 0, 0, 0x80, 0, 0, 0}), {K, W, W, K}},
      {"124-byte header with masks", MakeBmp(124, 2, -2, 32, 3, {}, {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0}),
       {R, G, B, K}},
  };
  // The 124-byte header carries its masks inside (at offset 40 of the header).
  {
    auto& v = cases[9].file;
    Put32(v, 14 + 40, 0xFF0000);
    Put32(v, 14 + 44, 0xFF00);
    Put32(v, 14 + 48, 0xFF);
  }
  // The 8-bit case's palette entry 1 is green.
  Put32(cases[6].file, 14 + 40 + 4, 0x0000FF00);
  cases[6].want = {R, G, G, R};
  for (auto& k : cases) {
    TDecodedPicture pic;
    std::string why;
    ASSERT_TRUE(DecodeBMP(k.file.data(), k.file.size(), pic, kMaxPicturePixels, &why)) << k.name << ": " << why;
    EXPECT_EQ(pic.Width, 2) << k.name;
    EXPECT_EQ(pic.Height, 2) << k.name;
    EXPECT_EQ(pic.Pixels, k.want) << k.name;
  }
}

TEST(BmpRead, RefusedFilesLeaveTheCanvasAsItWas) {
  TTempDir dir;
  const std::vector<uint8_t> good = MakeBmp(40, 2, 2, 24, 0, {}, std::vector<uint8_t>(16, 7));
  auto patched = [&](size_t at, uint32_t v) {
    std::vector<uint8_t> f = good;
    Put32(f, at, v);
    return f;
  };
  // Four pixels a row: rows without padding.
  const std::vector<uint8_t> unpadded = MakeBmp(40, 4, 2, 24, 0, {}, std::vector<uint8_t>(24, 7));
  auto shortBy = [](const std::vector<uint8_t>& f, size_t n) { return std::vector<uint8_t>(f.begin(), f.end() - n); };
  using E = TPictureError;
  struct {
    const char* name;
    std::vector<uint8_t> file;
    TPictureError error;
  } cases[] = {
      {"not BM", [&] { auto f = good; f[1] = 'A'; return f; }(), E::NotAPicture},
      {"truncated after the headers", std::vector<uint8_t>(good.begin(), good.begin() + 54), E::Damaged},
      {"last row cut short", shortBy(good, 10), E::Damaged},
      {"one byte short, in the pixels", shortBy(unpadded, 1), E::Damaged},
      {"one byte short, in the last padding", shortBy(good, 1), E::Damaged},
      {"run-length compressed", patched(30, 1), E::Unsupported},
      {"zero width", patched(18, 0), E::Damaged},
      {"negative width", patched(18, uint32_t(-2)), E::Damaged},
      {"zero height", patched(22, 0), E::Damaged},
      {"smallest height", patched(22, 0x80000000u), E::Damaged},
      {"huge size", [&] { auto f = patched(18, 100000); Put32(f, 22, 100000); return f; }(), E::TooLarge},
      {"pixels beyond the file", patched(10, 0xFFFFFFF0u), E::Damaged},
      {"OS/2 header", patched(14, 12), E::Unsupported},
      {"header larger than the file", patched(14, 0x7FFFFFFF), E::Damaged},
      {"depth 7", [&] { auto f = good; Put16(f, 28, 7); return f; }(), E::Unsupported},
      {"bit fields at 24 bits", patched(30, 3), E::Unsupported},
      {"cut inside the file header", shortBy(good, good.size() - 10), E::Damaged},
      {"two bytes", {'B', 'M'}, E::Damaged},
      {"empty", {}, E::NotAPicture},
  };
  for (auto& k : cases) {
    WriteBytes(dir.Path("bad.bmp"), k.file);
    TTCDC c(3, 3);
    c.Fill(0x11223344);
    std::string why;
    TPictureError error = E::None;
    EXPECT_FALSE(LoadBMP(c, dir.Path("bad.bmp"), &why, &error)) << k.name;
    EXPECT_FALSE(why.empty()) << k.name;
    EXPECT_EQ(error, k.error) << k.name << ": " << why;
    EXPECT_EQ(c.Width(), 3) << k.name;
    EXPECT_EQ(Pixels(c), std::vector<uint32_t>(9, 0x11223344u)) << k.name;
  }
  // The whole files read.
  TDecodedPicture whole;
  EXPECT_TRUE(DecodeBMP(good.data(), good.size(), whole));
  EXPECT_TRUE(DecodeBMP(unpadded.data(), unpadded.size(), whole));
  TTCDC c;
  TPictureError error = E::None;
  EXPECT_FALSE(LoadBMP(c, dir.Path("nothing.bmp"), nullptr, &error));
  EXPECT_EQ(error, E::CannotRead);
  EXPECT_EQ(c.Width(), 4);
  // The pixel cap applies before anything is allocated.
  TDecodedPicture pic;
  EXPECT_FALSE(DecodeBMP(good.data(), good.size(), pic, 3));
  EXPECT_TRUE(DecodeBMP(good.data(), good.size(), pic, 4));
}

TEST(BmpRead, HeadersThatCannotGiveThePictureAreDamaged) {
  const uint32_t R = 0xFFFF0000, G = 0xFF00FF00;
  // 2 x 2 pictures, rows top first; 8-bit rows are 2 indices and 2 bytes of padding.
  const std::vector<uint8_t> rows8 = {0, 1, 0, 0, 1, 0, 0, 0};
  auto withOffset = [](std::vector<uint8_t> f, uint32_t offBits) {
    Put32(f, 10, offBits);
    return f;
  };
  auto withColoursUsed = [](std::vector<uint8_t> f, uint32_t n) {
    Put32(f, 14 + 32, n);
    return f;
  };
  const std::vector<uint8_t> rgb = MakeBmp(40, 2, -2, 24, 0, {}, std::vector<uint8_t>(16, 7));
  const std::vector<uint8_t> fields = MakeBmp(40, 2, -2, 32, 3, {0xFF0000, 0xFF00, 0xFF}, std::vector<uint8_t>(16, 7));
  struct {
    const char* name;
    std::vector<uint8_t> file;
    std::vector<uint32_t> want;  // empty: damaged
  } cases[] = {
      {"pixel data at offset 0", withOffset(rgb, 0), {}},
      {"pixel data inside the information header", withOffset(rgb, 30), {}},
      {"pixel data over the colour masks", withOffset(fields, 58), {}},
      {"8-bit without a palette", MakeBmp(40, 2, -2, 8, 0, {}, rows8), {}},
      {"1-bit without a palette", MakeBmp(40, 2, -2, 1, 0, {}, {0x40, 0, 0, 0, 0x80, 0, 0, 0}), {}},
      {"4-bit palette without the colour a pixel uses", MakeBmp(40, 2, -2, 4, 0, {0xFF0000, 0xFF00}, {0x01, 0, 0, 0, 0x12, 0, 0, 0}), {}},
      {"pixel data starting inside the palette", withOffset(MakeBmp(40, 2, -2, 8, 0, {0xFF0000, 0xFF00}, rows8), 58), {}},
      // A palette shorter than the depth allows is whole when every pixel finds its colour,
      // whatever count of colours the header gives.
      {"8-bit with the two colours it uses", MakeBmp(40, 2, -2, 8, 0, {0xFF0000, 0xFF00}, rows8), {R, G, G, R}},
      {"one colour said, two there", withColoursUsed(MakeBmp(40, 2, -2, 8, 0, {0xFF0000, 0xFF00}, rows8), 1),
       {R, G, G, R}},
  };
  TTempDir dir;
  for (auto& k : cases) {
    SCOPED_TRACE(k.name);
    ExpectRead(LoadBMP, dir.Path("h.bmp"), k.file, k.want.empty() ? nullptr : &k.want);
  }
}

TEST(JpegWrite, IndependentDecoderReadsOurFilesAsWeDo) {
  if (!HaveTool("djpeg")) GTEST_SKIP() << "djpeg is not installed";
  TTempDir dir;
  TTCDC c(37, 21);
  Gradient(c);
  for (int q : {10, 80, 100}) {
    ASSERT_TRUE(SaveJPEG(c, dir.Path("o.jpg"), q));
    ASSERT_EQ(Shell("djpeg -ppm -outfile " + dir.Path("o.ppm") + " " + dir.Path("o.jpg")), 0) << q;
    int w = 0, h = 0;
    std::vector<uint32_t> theirs;
    ASSERT_TRUE(ReadPpm(dir.Path("o.ppm"), w, h, theirs));
    ASSERT_EQ(w, 37);
    ASSERT_EQ(h, 21);
    TTCDC back;
    ASSERT_TRUE(LoadJPEG(back, dir.Path("o.jpg")));
    EXPECT_EQ(Pixels(back), theirs) << "quality " << q;
    // Lossy, but close to the original, rows in order (no flip) and colours not swapped.
    int worst = 0;
    for (int y = 0; y < 21; ++y)
      for (int x = 0; x < 37; ++x)
        for (int k = 0; k < 3; ++k)
          worst = std::max(worst, std::abs(int((c.GetPixel(x, y) >> (8 * k)) & 255) - int((back.GetPixel(x, y) >> (8 * k)) & 255)));
    EXPECT_LT(worst, q == 10 ? 80 : 24) << "quality " << q;
  }
  std::vector<uint8_t> small, big;
  ASSERT_TRUE(EncodeJPEG(c, 10, small));
  ASSERT_TRUE(EncodeJPEG(c, 95, big));
  EXPECT_LT(small.size(), big.size());
  std::vector<uint8_t> clamped;
  ASSERT_TRUE(EncodeJPEG(c, 1000, clamped));
  EXPECT_EQ(clamped, [&] { std::vector<uint8_t> v; EncodeJPEG(c, 100, v); return v; }());
}

TEST(JpegRead, FilesOfTheStandardEncoderDecodeAsItsDecoderDoes) {
  if (!HaveTool("cjpeg") || !HaveTool("djpeg")) GTEST_SKIP() << "cjpeg or djpeg is not installed";
  TTempDir dir;
  TTC in(45, 30);
  Gradient(in);
  WritePpm(dir.Path("in.ppm"), in);
  for (const char* opts : {"-quality 90", "-progressive", "-grayscale", "-optimize -sample 1x1", "-arithmetic"}) {
    ASSERT_EQ(Shell(std::string("cjpeg ") + opts + " -outfile " + dir.Path("t.jpg") + " " + dir.Path("in.ppm")), 0) << opts;
    ASSERT_EQ(Shell("djpeg -ppm -outfile " + dir.Path("t.ppm") + " " + dir.Path("t.jpg")), 0) << opts;
    int w = 0, h = 0;
    std::vector<uint32_t> theirs;
    ASSERT_TRUE(ReadPpm(dir.Path("t.ppm"), w, h, theirs)) << opts;
    TTCDC c;
    std::string why;
    ASSERT_TRUE(LoadJPEG(c, dir.Path("t.jpg"), &why)) << opts << ": " << why;
    EXPECT_EQ(Pixels(c), theirs) << opts;
  }
}

TEST(JpegRead, RefusedFilesFailCleanlyAndLeaveTheCanvas) {
  TTempDir dir;
  std::vector<uint8_t> good;
  TTC pic16(16, 16);
  Gradient(pic16);
  ASSERT_TRUE(EncodeJPEG(pic16, 75, good));
  // The frame header's height and width, patched to claim a picture beyond the limit.
  std::vector<uint8_t> huge = good;
  for (size_t i = 0; i + 9 < huge.size(); ++i)
    if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
      huge[i + 5] = huge[i + 6] = huge[i + 7] = huge[i + 8] = 0xEA;  // 60138 x 60138
      break;
    }
  std::vector<uint8_t> garbage(good.begin(), good.begin() + 2);
  garbage.resize(400, 0x5A);
  using E = TPictureError;
  struct {
    const char* name;
    std::vector<uint8_t> file;
    const char* reason;  // part of the reason given
    TPictureError error;
  } cases[] = {
      {"CMYK", FileBytes(Fixture("cmyk8x8.jpg")), "CMYK", E::Unsupported},
      {"too large", huge, "large", E::TooLarge},
      {"garbage after the start marker", garbage, "JPEG", E::Damaged},
      {"not a JPEG", std::vector<uint8_t>(100, 0x42), "JPEG", E::NotAPicture},
      {"only the start marker", {0xFF, 0xD8}, "JPEG", E::Damaged},
      {"cut inside the headers", std::vector<uint8_t>(good.begin(), good.begin() + 100), "JPEG", E::Damaged},
  };
  ASSERT_GT(cases[0].file.size(), 100u);
  for (auto& k : cases) {
    WriteBytes(dir.Path("bad.jpg"), k.file);
    TTCDC c(3, 3);
    c.Fill(0x00223344);
    std::string why;
    TPictureError error = E::None;
    EXPECT_FALSE(LoadJPEG(c, dir.Path("bad.jpg"), &why, &error)) << k.name;
    EXPECT_NE(why.find(k.reason), std::string::npos) << k.name << ": " << why;
    EXPECT_EQ(error, k.error) << k.name << ": " << why;
    EXPECT_EQ(Pixels(c), std::vector<uint32_t>(9, 0x00223344u)) << k.name;  // not even made opaque
  }
  TTCDC fresh;
  EXPECT_FALSE(LoadJPEG(fresh, dir.Path("missing.jpg")));
  EXPECT_EQ(fresh.Width(), 4);
  EXPECT_EQ(fresh.Height(), 4);
}

TEST(JpegRead, AFileCutShortIsDamagedAndGivesNoPicture) {
  TTempDir dir;
  std::vector<uint8_t> good;
  TTC src(64, 48);
  std::mt19937 rng(3);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) src.SetPixel(x, y, uint32_t(rng()));
  ASSERT_TRUE(EncodeJPEG(src, 75, good));
  struct {
    std::string name;
    std::vector<uint8_t> file;
  } kinds[] = {{"baseline", good}, {"progressive", {}}};
  if (HaveTool("cjpeg")) {
    WritePpm(dir.Path("src.ppm"), src);
    ASSERT_EQ(Shell("cjpeg -progressive -outfile " + dir.Path("p.jpg") + " " + dir.Path("src.ppm")), 0);
    kinds[1].file = FileBytes(dir.Path("p.jpg"));
  }
  for (auto& k : kinds) {
    if (k.file.empty()) {
      std::printf("cjpeg is not installed: the progressive rows are not tried\n");
      continue;
    }
    TDecodedPicture pic;
    ASSERT_TRUE(DecodeJPEG(k.file.data(), k.file.size(), pic)) << k.name;
    // The decoder would warn of the early end and fill the rest with grey.
    for (size_t keep : {k.file.size() / 4, k.file.size() / 2, k.file.size() * 3 / 4, k.file.size() * 99 / 100,
                        k.file.size() - 2, k.file.size() - 1}) {
      SCOPED_TRACE(k.name + " cut to " + std::to_string(keep) + " of " + std::to_string(k.file.size()) + " bytes");
      WriteBytes(dir.Path("cut.jpg"), std::vector<uint8_t>(k.file.begin(), k.file.begin() + keep));
      TTCDC c(3, 3);
      c.Fill(0x00223344);
      std::string why;
      TPictureError error = TPictureError::None;
      EXPECT_FALSE(LoadJPEG(c, dir.Path("cut.jpg"), &why, &error));
      EXPECT_EQ(error, TPictureError::Damaged) << why;
      EXPECT_NE(why.find("damaged"), std::string::npos) << why;
      EXPECT_EQ(Pixels(c), std::vector<uint32_t>(9, 0x00223344u));
    }
  }
  // A remark on the headers alone is no damage: a later JFIF revision still reads.
  std::vector<uint8_t> later = good;
  ASSERT_EQ(std::string(later.begin() + 6, later.begin() + 10), "JFIF");
  later[11] = 2;
  TDecodedPicture pic;
  std::string why;
  ASSERT_TRUE(DecodeJPEG(later.data(), later.size(), pic, kMaxPicturePixels, &why)) << why;
  EXPECT_EQ(pic.Width, 64);
  // The pixel cap is checked from the header, before anything is decoded.
  EXPECT_FALSE(DecodeJPEG(good.data(), good.size(), pic, 64 * 48 - 1, &why));
  EXPECT_TRUE(DecodeJPEG(good.data(), good.size(), pic, 64 * 48, &why));
}

TEST(JpegRead, StrayBytesBeforeAMarkerAreNoDamageButLostPictureDataIs) {
  const std::vector<uint8_t> plain = RandomJpeg(40, 40, 5, 0), restarts = RandomJpeg(40, 40, 5, 1);
  TDecodedPicture want, wantRestarts;
  ASSERT_TRUE(DecodeJPEG(plain.data(), plain.size(), want));
  ASSERT_TRUE(DecodeJPEG(restarts.data(), restarts.size(), wantRestarts));
  ASSERT_LT(MarkerAt(restarts, 0xD1), restarts.size());
  std::vector<uint8_t> stray(24);
  for (size_t i = 0; i < stray.size(); ++i) stray[i] = uint8_t(i * 5 + 1);  // never 0xFF
  // The scan's coded data starts after the scan header (marker, then its length).
  const size_t sos = MarkerAt(plain, 0xDA);
  const size_t coded = sos + 2 + (size_t(plain[sos + 2]) << 8 | plain[sos + 3]);

  struct {
    const char* name;
    std::vector<uint8_t> file;
    const TDecodedPicture* want;  // none: damaged
  } cases[] = {
      {"stray bytes before the frame header", Inserted(plain, MarkerAt(plain, 0xC0), stray), &want},
      {"stray bytes before the scan", Inserted(plain, sos, stray), &want},
      {"stray bytes before the end marker", Inserted(plain, plain.size() - 2, stray), &want},
      {"stray bytes before a restart marker", Inserted(restarts, MarkerAt(restarts, 0xD2), stray), &wantRestarts},
      {"a marker in the middle of the coded data",
       [&] {
         size_t at = coded + (plain.size() - 2 - coded) / 2;
         while (plain[at - 1] == 0xFF) ++at;  // not inside a stuffed 0xFF 0x00
         return Inserted(plain, at, {0xFF, 0xD0});
       }(),
       nullptr},
      {"a restart marker taken out",
       [&] {
         std::vector<uint8_t> v = restarts;
         const size_t at = MarkerAt(v, 0xD3);
         v.erase(v.begin() + std::ptrdiff_t(at), v.begin() + std::ptrdiff_t(at) + 2);
         return v;
       }(),
       nullptr},
      {"the end marker missing", std::vector<uint8_t>(plain.begin(), plain.end() - 2), nullptr},
  };
  TTempDir dir;
  for (auto& k : cases) {
    SCOPED_TRACE(k.name);
    ExpectRead(LoadJPEG, dir.Path("t.jpg"), k.file, k.want ? &k.want->Pixels : nullptr);
  }
}
