#include "engine/io/CanvasFiles.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <jpeglib.h>
#include <jerror.h>

#include "platform/core/Files.h"

namespace {

// A picture file larger than this is not read into memory at all.
constexpr int64_t kMaxPictureFileBytes = int64_t(1) << 30;
// Progressive files with more scans than this are refused (each scan costs a pass over the image).
constexpr int kMaxJpegScans = 500;

bool Fail(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

bool Refuse(std::string* why, TPictureError* error, TPictureError kind, const std::string& text) {
  if (error) *error = kind;
  return Fail(why, text);
}

using E = TPictureError;

uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
void Put16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
void Put32(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i)); }

bool ReadPictureFile(const std::string& fileName, std::vector<uint8_t>& data, std::string* why, TPictureError* error) {
  if (!plat::FileExists(fileName)) return Refuse(why, error, E::CannotRead, "the file does not exist");
  const int64_t size = plat::FileSizeOf(fileName);
  if (size < 0) return Refuse(why, error, E::CannotRead, "the file cannot be read");
  if (size > kMaxPictureFileBytes) return Refuse(why, error, E::TooLarge, "the file is too large to be a picture");
  if (!plat::ReadWholeFile(fileName, data)) return Refuse(why, error, E::CannotRead, "the file cannot be read");
  return true;
}

// ---- BMP ---------------------------------------------------------------------------------

constexpr int kBmpHeaderBytes = 54;

int64_t BmpRowBytes(int32_t width) { return (int64_t(width) * 3 + 3) / 4 * 4; }

bool BmpHeader(const TTC& canvas, uint8_t h[kBmpHeaderBytes], std::string* why) {
  const int64_t total = kBmpHeaderBytes + int64_t(canvas.Height()) * BmpRowBytes(canvas.Width());
  if (canvas.Width() <= 0 || canvas.Height() <= 0) return Fail(why, "the picture is empty");
  if (total > int64_t(UINT32_MAX)) return Fail(why, "the picture is too large for a bitmap file");
  std::memset(h, 0, kBmpHeaderBytes);
  h[0] = 'B';
  h[1] = 'M';
  Put32(h + 2, uint32_t(total));
  Put32(h + 10, kBmpHeaderBytes);
  Put32(h + 14, 40);
  Put32(h + 18, uint32_t(canvas.Width()));
  Put32(h + 22, uint32_t(canvas.Height()));
  Put16(h + 26, 1);
  Put16(h + 28, 24);
  return true;
}

// File row r holds picture row Height - 1 - r; the padding stays zero.
void BmpRow(const TTC& canvas, int32_t r, uint8_t* row) {
  const uint32_t* p = canvas.Row32(canvas.Height() - 1 - r);
  for (int32_t x = 0; x < canvas.Width(); ++x) {
    row[3 * int64_t(x)] = uint8_t(p[x]);
    row[3 * int64_t(x) + 1] = uint8_t(p[x] >> 8);
    row[3 * int64_t(x) + 2] = uint8_t(p[x] >> 16);
  }
}

// One colour component under a bit-field mask, scaled to 8 bits.
struct TMaskField {
  uint32_t Mask = 0;
  int Shift = 0, Bits = 0;
  explicit TMaskField(uint32_t m = 0) : Mask(m) {
    if (!m) return;
    while (!((m >> Shift) & 1)) ++Shift;
    while (Shift + Bits < 32 && ((m >> (Shift + Bits)) & 1)) ++Bits;
  }
  uint32_t Get(uint32_t px) const {
    if (!Bits) return 0;
    const uint32_t v = (px & Mask) >> Shift & ((Bits >= 32) ? 0xFFFFFFFFu : ((1u << Bits) - 1));
    if (Bits >= 8) return v >> (Bits - 8);
    return v * 255 / ((1u << Bits) - 1);
  }
};

}  // namespace

bool EncodeBMP(const TTC& canvas, std::vector<uint8_t>& out, std::string* why) {
  uint8_t h[kBmpHeaderBytes];
  if (!BmpHeader(canvas, h, why)) return false;
  const int64_t stride = BmpRowBytes(canvas.Width());
  try {
    out.assign(size_t(U32(h + 2)), 0);
  } catch (const std::bad_alloc&) {
    return Fail(why, "not enough memory for the bitmap");
  }
  std::memcpy(out.data(), h, kBmpHeaderBytes);
  for (int32_t r = 0; r < canvas.Height(); ++r) BmpRow(canvas, r, out.data() + kBmpHeaderBytes + r * stride);
  return true;
}

bool SaveBMP(const TTC& canvas, const std::string& fileName, std::string* why) {
  uint8_t h[kBmpHeaderBytes];
  if (!BmpHeader(canvas, h, why)) return false;
  std::vector<uint8_t> row;
  try {
    row.assign(size_t(BmpRowBytes(canvas.Width())), 0);  // one row, whatever the width
  } catch (const std::bad_alloc&) {
    return Fail(why, "not enough memory for the bitmap");
  }
  plat::TAtomicFile f;
  if (!f.Open(fileName)) return Fail(why, "the file cannot be created");
  f.Write(h, kBmpHeaderBytes);
  for (int32_t r = 0; r < canvas.Height(); ++r) {
    BmpRow(canvas, r, row.data());
    if (!f.Write(row.data(), row.size())) break;
  }
  if (!f.Commit()) return Fail(why, "the file cannot be written");
  return true;
}

bool DecodeBMP(const uint8_t* data, size_t size, TDecodedPicture& out, int64_t maxPixels, std::string* why,
               TPictureError* error) {
  auto refuse = [&](TPictureError kind, const char* text) { return Refuse(why, error, kind, text); };
  if (!data || size < 2 || data[0] != 'B' || data[1] != 'M') return refuse(E::NotAPicture, "not a bitmap file");
  if (size < 18) return refuse(E::Damaged, "the bitmap is truncated");
  const uint32_t offBits = U32(data + 10), infoSize = U32(data + 14);
  if (infoSize < 40) return refuse(E::Unsupported, "unsupported bitmap header");
  if (infoSize > size - 14) return refuse(E::Damaged, "the bitmap is truncated");
  const uint8_t* info = data + 14;
  const int32_t width = int32_t(U32(info + 4)), rawHeight = int32_t(U32(info + 8));
  const int bpp = U16(info + 14);
  uint32_t compression = U32(info + 16);
  if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN) return refuse(E::Damaged, "the bitmap has no pixels");
  const bool topDown = rawHeight < 0;
  const int32_t height = topDown ? -rawHeight : rawHeight;
  if (int64_t(width) * height > maxPixels) return refuse(E::TooLarge, "the bitmap is too large");
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
    return refuse(E::Unsupported, "unsupported bitmap depth");
  if (compression == 6) compression = 3;  // alpha bit fields: the alpha is not used
  if (!(compression == 0 || (compression == 3 && (bpp == 16 || bpp == 32))))
    return refuse(E::Unsupported, "compressed bitmaps are not supported");

  // Colour masks for 16 and 32 bits; the palette for 8 bits and fewer. The pixel data starts
  // after the headers (and the masks that follow a 40-byte header): an offset into them, as 0
  // is, would take header bytes for pixels.
  TMaskField red, green, blue;
  if (bpp == 16) red = TMaskField(0x7C00), green = TMaskField(0x03E0), blue = TMaskField(0x001F);
  if (bpp == 32) red = TMaskField(0xFF0000), green = TMaskField(0xFF00), blue = TMaskField(0xFF);
  size_t headersEnd = 14 + size_t(infoSize);
  if (compression == 3) {
    const size_t at = infoSize >= 52 ? 14 + 40 : headersEnd;
    if (at + 12 > size) return refuse(E::Damaged, "the bitmap is truncated");
    red = TMaskField(U32(data + at));
    green = TMaskField(U32(data + at + 4));
    blue = TMaskField(U32(data + at + 8));
    headersEnd = std::max(headersEnd, at + 12);
  }
  if (offBits < headersEnd) return refuse(E::Damaged, "the bitmap's pixel data overlaps its headers");
  // Every row with its padding, as every writer stores them: a file cut short by a single
  // byte has lost part of its picture or its end, and is damaged.
  const int64_t stride = (int64_t(width) * bpp + 31) / 32 * 4;
  if (offBits > size || int64_t(size) - offBits < stride * height) return refuse(E::Damaged, "the bitmap is truncated");
  // The palette lies between the headers and the pixel data; a pixel whose colour is not in
  // it (a picture without a palette, or with too short a one) is damaged. The count of
  // colours in the header is not needed: what lies there is the palette.
  uint32_t palette[256] = {};
  uint32_t colours = 0;
  if (bpp <= 8) {
    colours = uint32_t(std::min<size_t>(size_t(1) << bpp, (offBits - headersEnd) / 4));
    for (uint32_t i = 0; i < colours; ++i) {
      const uint8_t* e = data + headersEnd + 4 * size_t(i);
      palette[i] = uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0];
    }
  }

  try {
    out.Pixels.assign(size_t(width) * size_t(height), 0);
  } catch (const std::bad_alloc&) {
    return refuse(E::NoMemory, "not enough memory for the bitmap");
  }
  uint32_t lastIndex = 0;  // the highest palette index a pixel uses
  for (int32_t r = 0; r < height; ++r) {
    const uint8_t* s = data + offBits + r * stride;
    uint32_t* d = out.Pixels.data() + size_t(topDown ? r : height - 1 - r) * size_t(width);
    for (int32_t x = 0; x < width; ++x) {
      uint32_t c, i;
      switch (bpp) {
        case 1: i = (s[x >> 3] >> (7 - (x & 7))) & 1, lastIndex |= i, c = palette[i]; break;
        case 4: i = (s[x >> 1] >> ((x & 1) ? 0 : 4)) & 15, lastIndex = std::max(lastIndex, i), c = palette[i]; break;
        case 8: i = s[x], lastIndex = std::max(lastIndex, i), c = palette[i]; break;
        case 24: c = uint32_t(s[3 * x + 2]) << 16 | uint32_t(s[3 * x + 1]) << 8 | s[3 * x]; break;
        default: {
          const uint32_t px = bpp == 16 ? U16(s + 2 * x) : U32(s + 4 * int64_t(x));
          c = red.Get(px) << 16 | green.Get(px) << 8 | blue.Get(px);
        }
      }
      d[x] = 0xFF000000u | c;
    }
  }
  if (bpp <= 8 && lastIndex >= colours) {
    out = TDecodedPicture{};
    return refuse(E::Damaged, colours ? "the bitmap's palette lacks colours its pixels use" : "the bitmap has no palette");
  }
  out.Width = width;
  out.Height = height;
  return true;
}

bool PutPicture(const TDecodedPicture& picture, TTC& canvas, std::string* why, TPictureError* error) {
  if (picture.Width <= 0 || picture.Height <= 0 ||
      picture.Pixels.size() != size_t(picture.Width) * size_t(picture.Height))
    return Refuse(why, error, E::Damaged, "the picture is empty");
  if (!canvas.SetSize(picture.Width, picture.Height) || canvas.Width() != picture.Width ||
      canvas.Height() != picture.Height)
    return Refuse(why, error, E::NoMemory, "not enough memory for the picture");
  for (int32_t y = 0; y < picture.Height; ++y)
    std::memcpy(canvas.Row32(y), picture.Pixels.data() + size_t(y) * size_t(picture.Width), size_t(picture.Width) * 4);
  canvas.OrAll(0xFF000000u);
  return true;
}

bool LoadBMP(TTCDC& canvas, const std::string& fileName, std::string* why, TPictureError* error) {
  std::vector<uint8_t> data;
  if (!ReadPictureFile(fileName, data, why, error)) return false;
  TDecodedPicture pic;
  if (!DecodeBMP(data.data(), data.size(), pic, kMaxPicturePixels, why, error)) return false;
  return PutPicture(pic, canvas, why, error);
}

// ---- JPEG --------------------------------------------------------------------------------

namespace {

// The error manager returns to the caller through longjmp; nothing is printed, nothing exits.
struct TJpegError {
  jpeg_error_mgr pub;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  TPictureError kind;
};

void JpegErrorExit(j_common_ptr c) {
  auto* e = reinterpret_cast<TJpegError*>(c->err);
  (*c->err->format_message)(c, e->message);
  e->kind = c->err->msg_code == JERR_OUT_OF_MEMORY ? E::NoMemory : E::Damaged;
  longjmp(e->jump, 1);
}

void JpegQuiet(j_common_ptr) {}

// The warnings that mean picture data is missing or corrupt: the decoder would go on and
// fill the lost part with grey or garbage.
bool LosesPictureData(int code) {
  switch (code) {
    case JWRN_JPEG_EOF:           // the file ends early
    case JWRN_HIT_MARKER:         // a marker cuts the coded data short
    case JWRN_HUFF_BAD_CODE:      // corrupt coded data
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:        // a restart marker lost: an interval is skipped
    case JWRN_BOGUS_PROGRESSION:  // scans refine coefficients that were never sent
      return true;
    default:
      return false;
  }
}

// Such a warning ends the decode as an error would. Every other warning (stray bytes before a
// marker, remarks on the headers) changes no pixel; trace messages are dropped.
void JpegMessage(j_common_ptr c, int level) {
  if (level < 0 && LosesPictureData(c->err->msg_code)) JpegErrorExit(c);
}

void JpegProgress(j_common_ptr c) {
  auto* d = reinterpret_cast<j_decompress_ptr>(c);
  if (d->input_scan_number > kMaxJpegScans) {
    auto* e = reinterpret_cast<TJpegError*>(c->err);
    std::snprintf(e->message, sizeof e->message, "more than %d scans", kMaxJpegScans);
    e->kind = E::Unsupported;
    longjmp(e->jump, 1);
  }
}

void InitError(TJpegError& e) {
  std::memset(&e, 0, sizeof e);
  jpeg_std_error(&e.pub);
  e.pub.error_exit = JpegErrorExit;
  e.pub.output_message = JpegQuiet;
  e.pub.emit_message = JpegMessage;
  e.kind = E::Damaged;
}

// The libjpeg calls, with no C++ object alive in this frame across the jump.
bool DecodeJpegFrame(const uint8_t* data, size_t size, TDecodedPicture* out, int64_t maxPixels, std::string* why,
                     TPictureError* error) {
  jpeg_decompress_struct cinfo;
  TJpegError err;
  jpeg_progress_mgr progress;
  InitError(err);
  std::memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = &err.pub;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return Refuse(why, error, err.kind,
                  std::string(err.kind == E::Damaged ? "damaged JPEG file: " : "JPEG file refused: ") + err.message);
  }
  jpeg_create_decompress(&cinfo);
  progress.progress_monitor = JpegProgress;
  cinfo.progress = &progress;
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&cinfo);
    return Refuse(why, error, E::Damaged, "the JPEG file holds no picture");
  }
  if (cinfo.jpeg_color_space != JCS_GRAYSCALE && cinfo.jpeg_color_space != JCS_YCbCr &&
      cinfo.jpeg_color_space != JCS_RGB) {
    jpeg_destroy_decompress(&cinfo);
    return Refuse(why, error, E::Unsupported, "unsupported JPEG colour space (CMYK or other)");
  }
  const int64_t w = cinfo.image_width, h = cinfo.image_height;
  if (w <= 0 || h <= 0 || w > INT32_MAX || h > INT32_MAX || w * h > maxPixels) {
    jpeg_destroy_decompress(&cinfo);
    return Refuse(why, error, E::TooLarge, "the JPEG picture is too large");
  }
  cinfo.mem->max_memory_to_use = static_cast<long>(maxPixels * 16 + (int64_t(64) << 20));
  cinfo.out_color_space = JCS_EXT_BGRA;
  // Allocated here, before decoding starts, so no exception meets the jump.
  bool allocated = true;
  try {
    out->Pixels.assign(size_t(w * h), 0);
  } catch (const std::bad_alloc&) {
    allocated = false;
  }
  if (!allocated) {
    jpeg_destroy_decompress(&cinfo);
    return Refuse(why, error, E::NoMemory, "not enough memory for the picture");
  }
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_width != w || cinfo.output_height != h || cinfo.output_components != 4) {
    jpeg_destroy_decompress(&cinfo);
    return Refuse(why, error, E::Unsupported, "unexpected JPEG output");
  }
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(out->Pixels.data() + size_t(cinfo.output_scanline) * size_t(w));
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  out->Width = int32_t(w);
  out->Height = int32_t(h);
  return true;
}

struct TJpegBuffer {
  unsigned char* Mem = nullptr;
  unsigned long Size = 0;
};

bool EncodeJpegFrame(const TTC* canvas, int quality, TJpegBuffer* buf, std::string* why) {
  jpeg_compress_struct cinfo;
  TJpegError err;
  InitError(err);
  std::memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = &err.pub;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    return Fail(why, std::string("JPEG encoding failed: ") + err.message);
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &buf->Mem, &buf->Size);
  cinfo.image_width = JDIMENSION(canvas->Width());
  cinfo.image_height = JDIMENSION(canvas->Height());
  cinfo.input_components = 4;
  cinfo.in_color_space = JCS_EXT_BGRX;  // the alpha byte is ignored
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(reinterpret_cast<const JSAMPLE*>(canvas->Row32(int32_t(cinfo.next_scanline))));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace

bool DecodeJPEG(const uint8_t* data, size_t size, TDecodedPicture& out, int64_t maxPixels, std::string* why,
                TPictureError* error) {
  if (!data || size < 2 || data[0] != 0xFF || data[1] != 0xD8) return Refuse(why, error, E::NotAPicture, "not a JPEG file");
  TDecodedPicture pic;
  if (!DecodeJpegFrame(data, size, &pic, maxPixels, why, error)) return false;
  for (uint32_t& p : pic.Pixels) p |= 0xFF000000u;
  out = std::move(pic);
  return true;
}

bool LoadJPEG(TTCDC& canvas, const std::string& fileName, std::string* why, TPictureError* error) {
  std::vector<uint8_t> data;
  if (!ReadPictureFile(fileName, data, why, error)) return false;
  TDecodedPicture pic;
  if (!DecodeJPEG(data.data(), data.size(), pic, kMaxPicturePixels, why, error)) return false;
  return PutPicture(pic, canvas, why, error);
}

bool EncodeJPEG(const TTC& canvas, int quality, std::vector<uint8_t>& out, std::string* why) {
  if (canvas.Width() <= 0 || canvas.Height() <= 0) return Fail(why, "the picture is empty");
  quality = quality < 1 ? 1 : quality > 100 ? 100 : quality;
  TJpegBuffer buf;
  const bool ok = EncodeJpegFrame(&canvas, quality, &buf, why);
  if (ok) {
    try {
      out.assign(buf.Mem, buf.Mem + buf.Size);
    } catch (const std::bad_alloc&) {
      std::free(buf.Mem);
      return Fail(why, "not enough memory for the JPEG file");
    }
  }
  std::free(buf.Mem);
  return ok;
}

bool SaveJPEG(const TTCDC& canvas, const std::string& fileName, int quality, std::string* why) {
  std::vector<uint8_t> bytes;
  if (!EncodeJPEG(canvas, quality, bytes, why)) return false;
  if (!plat::WriteFileAtomic(fileName, bytes.data(), bytes.size())) return Fail(why, "the file cannot be written");
  return true;
}
