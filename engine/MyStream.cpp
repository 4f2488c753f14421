#include "engine/MyStream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "engine/Types.h"
#include "platform/core/Files.h"

namespace {
constexpr int64_t kMaxBlock = std::numeric_limits<int32_t>::max();
}

TMyMemory::TMyMemory(int32_t initial) {
  int32_t n = std::max<int32_t>(initial, 0);
  growStep_ = n;
  if (n > 0) {
    memory_ = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(n), 1));
    if (memory_) {
      capacity_ = n;
    } else {
      writeFailed_ = true;
    }
  }
}

TMyMemory::~TMyMemory() { std::free(memory_); }

TMyMemory::TMyMemory(TMyMemory&& other) noexcept
    : memory_(std::exchange(other.memory_, nullptr)),
      readPos_(std::exchange(other.readPos_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      size_(std::exchange(other.size_, 0)),
      growStep_(other.growStep_),
      readFailed_(other.readFailed_),
      writeFailed_(other.writeFailed_) {}

TMyMemory& TMyMemory::operator=(TMyMemory&& other) noexcept {
  if (this != &other) {
    std::free(memory_);
    memory_ = std::exchange(other.memory_, nullptr);
    readPos_ = std::exchange(other.readPos_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    size_ = std::exchange(other.size_, 0);
    growStep_ = other.growStep_;
    readFailed_ = other.readFailed_;
    writeFailed_ = other.writeFailed_;
  }
  return *this;
}

bool TMyMemory::GrowTo(int64_t capacity) {
  if (capacity <= capacity_) return true;
  if (capacity > kMaxBlock) {
    writeFailed_ = true;
    return false;
  }
  auto* block = static_cast<uint8_t*>(std::realloc(memory_, static_cast<size_t>(capacity)));
  if (!block) {
    writeFailed_ = true;
    return false;
  }
  std::memset(block + capacity_, 0, static_cast<size_t>(capacity - capacity_));
  memory_ = block;
  capacity_ = static_cast<int32_t>(capacity);
  return true;
}

bool TMyMemory::Reserve(int32_t n) {
  if (n <= 0) return true;
  if (int64_t{size_} + n <= capacity_) return true;
  int64_t grown = int64_t{capacity_} + std::max(n, growStep_);
  // Near the 2 GiB limit a full step may not fit although the bytes asked for do.
  if (grown > kMaxBlock && int64_t{size_} + n <= kMaxBlock) grown = kMaxBlock;
  return GrowTo(grown);
}

int64_t TMyMemory::PutPos(int32_t ofs, int32_t width) {
  int64_t pos = int64_t{size_} + ofs;
  if (pos < 0) return -1;
  int64_t need = pos + width - size_;  // bytes past the write end
  if (need > kMaxBlock - size_) {
    writeFailed_ = true;
    return -1;
  }
  if (!Reserve(static_cast<int32_t>(std::max<int64_t>(need, width)))) return -1;
  if (pos + width > capacity_) return -1;
  return pos;
}

int64_t TMyMemory::GetPos(int32_t ofs, int32_t width) {
  int64_t pos = int64_t{readPos_} + ofs;
  if (pos < 0 || pos + width > size_) {
    readFailed_ = true;
    return -1;
  }
  return pos;
}

void TMyMemory::WriteByte(uint8_t v, int32_t ofs) {
  int64_t p = PutPos(ofs, 1);
  if (p < 0) return;
  memory_[p] = v;
  if (ofs == 0) size_ += 1;
}

void TMyMemory::WriteWord(uint16_t v, int32_t ofs) {
  int64_t p = PutPos(ofs, 2);
  if (p < 0) return;
  memory_[p] = static_cast<uint8_t>(v);
  memory_[p + 1] = static_cast<uint8_t>(v >> 8);
  if (ofs == 0) size_ += 2;
}

void TMyMemory::WriteSmallInt(int32_t v, int32_t ofs) { WriteWord(static_cast<uint16_t>(v), ofs); }

void TMyMemory::WriteInteger(int32_t v, int32_t ofs) {
  int64_t p = PutPos(ofs, 4);
  if (p < 0) return;
  auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) memory_[p + i] = static_cast<uint8_t>(u >> (8 * i));
  if (ofs == 0) size_ += 4;
}

void TMyMemory::WriteBuffer(const void* src, int32_t n) {
  if (n <= 0 || !src) return;
  // The source may lie inside this block, which growing can move.
  auto* s = static_cast<const uint8_t*>(src);
  auto at = reinterpret_cast<uintptr_t>(s), base = reinterpret_cast<uintptr_t>(memory_);
  bool inside = memory_ && at >= base && at < base + static_cast<uintptr_t>(capacity_);
  uintptr_t from = inside ? at - base : 0;
  int64_t p = PutPos(0, n);
  if (p < 0) return;
  std::memmove(memory_ + p, inside ? memory_ + from : s, static_cast<size_t>(n));
  size_ += n;
}

uint8_t TMyMemory::ReadByte(int32_t ofs) {
  int64_t p = GetPos(ofs, 1);
  if (p < 0) return 0;
  if (ofs == 0) readPos_ += 1;
  return memory_[p];
}

uint16_t TMyMemory::ReadWord(int32_t ofs) {
  int64_t p = GetPos(ofs, 2);
  if (p < 0) return 0;
  if (ofs == 0) readPos_ += 2;
  return static_cast<uint16_t>(memory_[p] | (memory_[p + 1] << 8));
}

int16_t TMyMemory::ReadSmallInt(int32_t ofs) { return static_cast<int16_t>(ReadWord(ofs)); }

bool TMyMemory::ReadBuffer(void* dst, int32_t n) {
  if (n < 0 || readPos_ < 0 || Remaining() < n) return false;
  if (n == 0) return true;
  std::memmove(dst, memory_ + readPos_, static_cast<size_t>(n));
  readPos_ += n;
  return true;
}

void TMyMemory::Skip(int32_t n) {
  int64_t pos = int64_t{readPos_} + n;
  readPos_ = static_cast<int32_t>(std::clamp<int64_t>(pos, 0, size_));
}

void TMyMemory::SetSize(int32_t n) {
  if (n <= 0) {
    size_ = 0;
  } else if (n <= capacity_ || Reserve(n - size_)) {
    size_ = std::min(n, capacity_);
  }
  readPos_ = std::min(readPos_, size_);
}

void TMyMemory::AddSize(int32_t n) {
  SetSize(static_cast<int32_t>(std::clamp<int64_t>(int64_t{size_} + n, 0, kMaxBlock)));
}

void TMyMemory::Rewind() {
  readPos_ = 0;
  readFailed_ = false;
}

void TMyMemory::Clear() {
  readPos_ = 0;
  size_ = 0;
  readFailed_ = false;
  writeFailed_ = false;
}

bool TMyMemory::LoadFromFile(const std::string& path) {
  Clear();
  int64_t size = FileSizeByName(path);
  if (size < 0 || size > kMaxBlock) return false;
  TMyFile file;
  if (!file.OpenRead(path)) return false;
  auto n = static_cast<int32_t>(size);
  uint8_t* block = nullptr;
  if (n > 0) {
    block = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(n), 1));
    if (!block) {
      writeFailed_ = true;
      return false;
    }
  }
  std::free(memory_);
  memory_ = block;
  capacity_ = n;
  int32_t got = n > 0 ? file.Read(memory_, n) : 0;
  size_ = got;
  return got == n && !file.Failed();
}

float TMyMemory::ReadPercent() const {
  if (capacity_ == 0 || size_ == 0) return 100.0f;
  return static_cast<float>(static_cast<ext_t>(readPos_) / size_ * 100.0L);
}

bool TMyFile::OpenRead(const std::string& path) {
  Close();
  handle_ = plat::FileOpenRead(path);
  failed_ = handle_ < 0;
  return !failed_;
}

bool TMyFile::CreateNew(const std::string& path) {
  Close();
  handle_ = plat::FileCreate(path);
  failed_ = handle_ < 0;
  return !failed_;
}

int32_t TMyFile::Read(void* buf, int32_t n) {
  if (n <= 0) return 0;
  int64_t r = plat::FileRead(handle_, buf, n);
  if (r < n) failed_ = true;
  return r < 0 ? 0 : static_cast<int32_t>(r);
}

int32_t TMyFile::Write(const void* buf, int32_t n) {
  if (n <= 0) return 0;
  int64_t w = plat::FileWrite(handle_, buf, n);
  if (w < n) failed_ = true;
  return w < 0 ? 0 : static_cast<int32_t>(w);
}

int32_t TMyFile::ReadInteger() {
  uint8_t b[4] = {};
  if (Read(b, 4) != 4) return 0;
  return static_cast<int32_t>(uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 |
                              uint32_t{b[3]} << 24);
}

bool TMyFile::WriteInteger(int32_t v) {
  auto u = static_cast<uint32_t>(v);
  uint8_t b[4] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
                  static_cast<uint8_t>(u >> 24)};
  return Write(b, 4) == 4;
}

bool TMyFile::Close() {
  if (handle_ < 0) return true;
  bool ok = plat::FileClose(handle_);
  handle_ = -1;
  if (!ok) failed_ = true;
  return ok;
}

int64_t FileSizeByName(const std::string& path) { return plat::FileSizeOf(path); }

void MoveBytes(const void* src, void* dst, int32_t n) {
  if (n <= 0 || !src || !dst) return;
  std::memmove(dst, src, static_cast<size_t>(n));
}
