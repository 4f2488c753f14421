#pragma once
// The painter's own picture file, *.wpb: a 32-byte header, one record and the run-length coded
// pixels per layer from the bottom up, then the paper's event record. All integers
// little-endian. TPaper::SaveToFile and TPaper::LoadFromFile (declared with the paper) are
// defined here, so that a program without picture files links none of this.
#include <cstdint>

// Why a picture file was refused (or Ok).
enum class TWpbResult : int {
  Ok = 0,
  CannotOpen,    // missing or unreadable
  UnknownMagic,  // does not start with "WPB2" (the older "WPB " included)
  NoPixelData,   // a header that announces no pixel data
  TooLarge,      // a side beyond the paper limit
  Damaged,       // sizes or counts that the bytes present cannot hold, or an unknown kind
};

// A one-line English reason, for tools and logs.
const char* WpbResultText(TWpbResult r);

constexpr int32_t kWpbHeaderSize = 32;
constexpr int32_t kWpbLayerRecordSize = 8;
constexpr int32_t kWpbMaxLayers = 24;

struct TWpbHeader {
  int32_t NoPixelData = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  uint32_t PaperColor = 0;
  uint8_t LastLayerIndex = 0;
  uint8_t ActiveLayer = 0;
  uint8_t EventsIncomplete = 0;
  int32_t EventDataSize = 0;

  // False when the bytes do not start with the magic "WPB2".
  bool Parse(const uint8_t (&b)[kWpbHeaderSize]);
  void Store(uint8_t (&b)[kWpbHeaderSize]) const;
};

// Finds the event part of a picture file held in memory, walking the header and the layer
// records without decoding pixels; checks every size against the bytes present.
TWpbResult FindWpbEvents(const uint8_t* data, int64_t size, int32_t& offset, int32_t& length);
