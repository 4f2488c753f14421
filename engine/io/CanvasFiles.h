#pragma once
// Flat pictures of one canvas: Windows bitmaps (written as 24-bit, read by our own reader)
// and JPEG (libjpeg-turbo). Loads decode into a temporary and change the canvas only when
// the whole picture was read; saves are atomic (a failed save leaves the old file whole).
// Every function reports failure, with a one-line reason in `why` and the kind of failure in
// `error` when they are given.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/TrueCnvs.h"

// The largest picture a load accepts: the tile grid's 6400 x 6400 pixels.
constexpr int64_t kMaxPicturePixels = int64_t(6400) * 6400;

// Why a picture was not read.
enum class TPictureError : int {
  None = 0,
  CannotRead,   // missing or unreadable file
  NotAPicture,  // does not start as a file of this format
  Unsupported,  // a variant this reader does not take (compression, colour space, depth)
  TooLarge,     // beyond the pixel limit
  Damaged,      // starts as a file of this format, but is cut short or corrupt
  NoMemory,
};

// A decoded picture: Width x Height pixels 0xFFRRGGBB, rows top first.
struct TDecodedPicture {
  int32_t Width = 0, Height = 0;
  std::vector<uint32_t> Pixels;
};

// BMP: 14-byte file header, 40-byte information header, 24-bit rows from the bottom row up,
// each padded with zeros to a multiple of 4 bytes; alpha is dropped.
bool EncodeBMP(const TTC& canvas, std::vector<uint8_t>& out, std::string* why = nullptr);
bool SaveBMP(const TTC& canvas, const std::string& fileName, std::string* why = nullptr);

// Reads uncompressed bitmaps of 1, 4, 8, 16, 24 and 32 bits per pixel (16 and 32 also with
// bit-field masks), bottom-up or top-down, with the 40-byte or a later information header.
// Run-length compressed, OS/2 and other variants are refused.
// A file shorter than its rows (each with its padding) is damaged.
bool DecodeBMP(const uint8_t* data, size_t size, TDecodedPicture& out, int64_t maxPixels = kMaxPicturePixels,
               std::string* why = nullptr, TPictureError* error = nullptr);
// The canvas takes the picture's size and pixels, fully opaque; on any failure (missing file,
// no "BM" magic, damaged or truncated data, too large) it is left as it was.
bool LoadBMP(TTCDC& canvas, const std::string& fileName, std::string* why = nullptr, TPictureError* error = nullptr);

// JPEG: baseline and progressive, colour or greyscale. CMYK and other colour spaces are
// refused. A warning of the decoder that picture data is missing or corrupt (a file cut
// short, corrupt codes, a lost restart marker) makes the picture damaged: nothing of it is
// kept, rather than a picture with grey in its place. Stray bytes before a marker are no
// damage: the whole picture is there.
bool DecodeJPEG(const uint8_t* data, size_t size, TDecodedPicture& out, int64_t maxPixels = kMaxPicturePixels,
                std::string* why = nullptr, TPictureError* error = nullptr);
bool LoadJPEG(TTCDC& canvas, const std::string& fileName, std::string* why = nullptr, TPictureError* error = nullptr);
// Quality 1..100 (held to that range); the other settings are the codec's defaults.
bool EncodeJPEG(const TTC& canvas, int quality, std::vector<uint8_t>& out, std::string* why = nullptr);
bool SaveJPEG(const TTCDC& canvas, const std::string& fileName, int quality, std::string* why = nullptr);

// Sizes the canvas to the picture and copies it in; false (canvas unchanged) when the canvas
// cannot take that size.
bool PutPicture(const TDecodedPicture& picture, TTC& canvas, std::string* why = nullptr,
                TPictureError* error = nullptr);
