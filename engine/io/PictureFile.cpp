#include "engine/io/PictureFile.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/Block.h"
#include "engine/EventPacket.h"
#include "engine/Flow.h"
#include "engine/Layer.h"
#include "engine/LayerMng.h"
#include "engine/MyStream.h"
#include "engine/Paper.h"
#include "engine/SelectMng.h"
#include "engine/io/WpbRle.h"
#include "platform/core/Files.h"
#include "platform/core/MessageBox.h"

namespace {

constexpr char kMagic[4] = {'W', 'P', 'B', '2'};
const char* const kWarningCaption = "警告";
const char* const kMsgUnknownFormat = "未知の形式です！";
const char* const kMsgCannotOpen = "ファイルが見つかりません！";
const char* const kMsgTooLarge = "画像が大きすぎます！";
const char* const kMsgDamaged = "ファイルが壊れています！";
const char* const kMsgBrokenEvents = "イベントデータ部が壊れています。イベントデータ出力は無効です。";

int32_t GetInt(const uint8_t* b) {
  return static_cast<int32_t>(uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24));
}

void PutInt(uint8_t* b, uint32_t v) {
  b[0] = static_cast<uint8_t>(v);
  b[1] = static_cast<uint8_t>(v >> 8);
  b[2] = static_cast<uint8_t>(v >> 16);
  b[3] = static_cast<uint8_t>(v >> 24);
}

// The fewest bytes that can code n pixels: runs of 124 pixels, the longest a control byte gives.
int64_t MinCodedSize(int64_t n, bool argb) { return (n + 123) / 124 * (argb ? 5 : 4); }

void ShowRefusal(TWpbResult r) {
  const char* text = kMsgDamaged;
  switch (r) {
    case TWpbResult::CannotOpen: text = kMsgCannotOpen; break;
    case TWpbResult::UnknownMagic:
    case TWpbResult::NoPixelData: text = kMsgUnknownFormat; break;
    case TWpbResult::TooLarge: text = kMsgTooLarge; break;
    default: break;
  }
  plat::MessageBox(text, kWarningCaption, unsigned{plat::MB_OK} | plat::MB_ICONWARNING);
}

// Reads exactly n bytes; false on a short read.
bool ReadExact(TMyFile& f, void* buf, int64_t n) {
  auto* p = static_cast<uint8_t*>(buf);
  while (n > 0) {
    const int32_t chunk = static_cast<int32_t>(std::min<int64_t>(n, 1 << 30));
    const int32_t got = f.Read(p, chunk);
    if (got <= 0) return false;
    p += got;
    n -= got;
  }
  return true;
}

}  // namespace

const char* WpbResultText(TWpbResult r) {
  switch (r) {
    case TWpbResult::Ok: return "ok";
    case TWpbResult::CannotOpen: return "cannot open the file";
    case TWpbResult::UnknownMagic: return "not a WPB2 picture file";
    case TWpbResult::NoPixelData: return "the picture file holds no pixel data";
    case TWpbResult::TooLarge: return "the picture is larger than 6399 pixels a side";
    case TWpbResult::Damaged: return "the picture file is damaged";
  }
  return "unknown error";
}

bool TWpbHeader::Parse(const uint8_t (&b)[kWpbHeaderSize]) {
  if (std::memcmp(b, kMagic, 4) != 0) return false;
  NoPixelData = GetInt(b + 4);
  Width = GetInt(b + 8);
  Height = GetInt(b + 12);
  PaperColor = static_cast<uint32_t>(GetInt(b + 16));
  LastLayerIndex = b[20];
  ActiveLayer = b[21];
  EventsIncomplete = b[22];
  EventDataSize = GetInt(b + 24);
  return true;
}

void TWpbHeader::Store(uint8_t (&b)[kWpbHeaderSize]) const {
  std::memset(b, 0, sizeof b);
  std::memcpy(b, kMagic, 4);
  PutInt(b + 4, static_cast<uint32_t>(NoPixelData));
  PutInt(b + 8, static_cast<uint32_t>(Width));
  PutInt(b + 12, static_cast<uint32_t>(Height));
  PutInt(b + 16, PaperColor);
  b[20] = LastLayerIndex;
  b[21] = ActiveLayer;
  b[22] = EventsIncomplete;
  PutInt(b + 24, static_cast<uint32_t>(EventDataSize));
}

TWpbResult FindWpbEvents(const uint8_t* data, int64_t size, int32_t& offset, int32_t& length) {
  offset = length = 0;
  uint8_t hb[kWpbHeaderSize] = {};
  std::memcpy(hb, data, static_cast<size_t>(std::min<int64_t>(size, kWpbHeaderSize)));
  TWpbHeader h;
  if (!h.Parse(hb)) return TWpbResult::UnknownMagic;
  if (size < kWpbHeaderSize) return TWpbResult::Damaged;
  int64_t pos = kWpbHeaderSize;
  if (h.NoPixelData == 0) {
    if (h.LastLayerIndex >= kWpbMaxLayers) return TWpbResult::Damaged;
    for (int32_t i = 0; i <= h.LastLayerIndex; ++i) {
      if (size - pos < kWpbLayerRecordSize + 4) return TWpbResult::Damaged;
      const int32_t n = GetInt(data + pos + kWpbLayerRecordSize);
      pos += kWpbLayerRecordSize + 4;
      if (n < 0 || n > size - pos) return TWpbResult::Damaged;
      pos += n;
    }
  }
  if (h.EventDataSize < 0 || h.EventDataSize > size - pos) return TWpbResult::Damaged;
  offset = static_cast<int32_t>(pos);
  length = h.EventDataSize;
  return TWpbResult::Ok;
}

bool TPaper::SaveToFile(const std::string& path, bool noPixelData, TEventPacket& packet) {
  if (!Layers) return false;
  // The end marker belongs to the file, not to the record: it is removed again on every path.
  packet.WriteEndMarker();
  struct TDropMarker {
    TEventPacket& p;
    ~TDropMarker() { p.DropEndMarker(); }
  } drop{packet};

  const TBlockImage& first = *Layers->LayerImage(0);
  TWpbHeader h;
  h.NoPixelData = noPixelData ? 1 : 0;
  h.Width = first.Width();
  h.Height = first.Height();
  h.PaperColor = Layers->PaperColor();
  h.LastLayerIndex = static_cast<uint8_t>(Layers->LastIndex());
  h.ActiveLayer = static_cast<uint8_t>(Layers->ActiveIndex());
  h.EventsIncomplete = EventsIncomplete ? 1 : 0;
  h.EventDataSize = packet.Data().Size();
  uint8_t hb[kWpbHeaderSize];
  h.Store(hb);

  plat::TAtomicFile f;
  if (!f.Open(path)) return false;
  f.Write(hb, sizeof hb);
  if (!noPixelData) {
    // Each layer is coded straight from its tiles into one buffer, reused from layer to layer.
    wpb::TBytes coded;
    for (int32_t i = 0; i <= Layers->LastIndex(); ++i) {
      const TLayer& layer = *Layers->Layers(i);
      uint8_t rec[kWpbLayerRecordSize + 4] = {layer.Kind(), layer.Opacity(), layer.Visible()};
      coded.clear();
      wpb::EncodeImage(layer.Image(), layer.Kind() == lkArgb, coded);
      PutInt(rec + kWpbLayerRecordSize, static_cast<uint32_t>(coded.size()));
      f.Write(rec, sizeof rec);
      f.Write(coded.data(), coded.size());
    }
  }
  f.Write(packet.Data().Memory(), static_cast<size_t>(packet.Data().Size()));
  return f.Commit();
}

bool TPaper::LoadFromFile(const std::string& path, TEventPacket& packet, TWpbResult* result) {
  auto refuse = [&](TWpbResult r) {
    if (result) *result = r;
    ShowRefusal(r);
    return false;
  };
  const int64_t fileSize = FileSizeByName(path);
  TMyFile f;
  if (fileSize < 0 || !f.OpenRead(path)) return refuse(TWpbResult::CannotOpen);
  uint8_t hb[kWpbHeaderSize] = {};
  const int64_t headerBytes = std::min<int64_t>(fileSize, kWpbHeaderSize);
  const bool whole = ReadExact(f, hb, headerBytes) && headerBytes == kWpbHeaderSize;
  TWpbHeader h;
  if (!h.Parse(hb)) return refuse(TWpbResult::UnknownMagic);
  if (!whole) return refuse(TWpbResult::Damaged);
  if (h.NoPixelData != 0) return refuse(TWpbResult::NoPixelData);
  if (h.Width > kMaxPaperSide || h.Height > kMaxPaperSide) return refuse(TWpbResult::TooLarge);
  if (h.Width < 1 || h.Height < 1 || h.LastLayerIndex >= kWpbMaxLayers) return refuse(TWpbResult::Damaged);
  int64_t remaining = fileSize - kWpbHeaderSize;

  // Everything is built aside and taken over only once every layer has been read.
  auto layers = TLayerMng::Create(h.Width, h.Height);
  auto selection = std::make_unique<TSelectMng>(h.Width, h.Height);
  if (!layers) return refuse(TWpbResult::TooLarge);
  layers->SetPaperColor(h.PaperColor);
  wpb::TBytes data;
  const int64_t pixels = int64_t(h.Width) * h.Height;
  for (int32_t i = 0; i <= h.LastLayerIndex; ++i) {
    uint8_t rec[kWpbLayerRecordSize + 4];
    if (remaining < int64_t(sizeof rec) || !ReadExact(f, rec, sizeof rec)) return refuse(TWpbResult::Damaged);
    remaining -= sizeof rec;
    const uint8_t kind = rec[0], opacity = rec[1], visible = rec[2];
    const int32_t size = GetInt(rec + kWpbLayerRecordSize);
    if (kind > lkArgb || size < MinCodedSize(pixels, kind == lkArgb) || size > remaining)
      return refuse(TWpbResult::Damaged);
    data.resize(static_cast<size_t>(size));
    if (!ReadExact(f, data.data(), size)) return refuse(TWpbResult::Damaged);
    remaining -= size;

    if (i == 0) {
      // The first layer is still empty: it takes its kind without its old background being
      // made into tiles first.
      TBlockImage& image = layers->Layers(0)->Image();
      image.SetSize(0, 0);
      layers->Layers(0)->SetKind(kind);
      image.SetSize(h.Width, h.Height);
    } else {
      layers->AddLayer(kind);
    }
    layers->SetOpacity(i, opacity);
    if (visible == 0) layers->SetVisible(i, false);
    else if (visible == 1) layers->SetVisible(i, true);
    TLayer& layer = *layers->Layers(i);
    // Decoded straight into the tiles that the layer's compaction keeps.
    if (!wpb::DecodeImage(data.data(), data.size(), kind == lkArgb, kind == lkArgb, layer.Image()))
      return refuse(TWpbResult::Damaged);
    if (!ViewerMode) layer.UpdateThumbnail();
  }
  layers->Flow().Reset();
  layers->SetActiveLayer(h.ActiveLayer);
  if (!Adopt(path, h.Width, h.Height, std::move(layers), std::move(selection))) return refuse(TWpbResult::TooLarge);
  EventsIncomplete = h.EventsIncomplete ? 1 : 0;
  if (result) *result = TWpbResult::Ok;

  // The record: kept when it is a whole stream that makes its own paper, else dropped with a
  // warning and the paper marked as no longer rebuildable from its events.
  bool valid = false;
  if (h.EventDataSize > 0 && h.EventDataSize <= remaining) {
    TMyMemory mem(65536);
    data.resize(static_cast<size_t>(h.EventDataSize));
    if (ReadExact(f, data.data(), h.EventDataSize)) {
      mem.WriteBuffer(data.data(), h.EventDataSize);
      valid = packet.LoadFromMemory(mem) && StartsWithNewPaper(packet);
    }
  }
  if (valid) {
    packet.DropEndMarker();
    packet.WriteClearUndoAll();
    Layers->ClearAllUndo();
  } else {
    packet.Clear();
    EventsIncomplete = 1;
    if (h.EventDataSize != 0) plat::MessageBox(kMsgBrokenEvents, kWarningCaption, unsigned{plat::MB_OK} | plat::MB_ICONWARNING);
  }
  return true;
}
