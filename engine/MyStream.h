#pragma once
// Byte buffers and files: the base of every binary format of the system (event streams,
// picture files, session buffers). All multi-byte values are little-endian.
#include <cstdint>
#include <string>

// Growable byte buffer with a write end (Size) and an independent read cursor (ReadPos).
//
// Offsets: every put and get takes an offset. Offset 0 means "at the write end" (puts) or
// "at the read cursor" (gets) and advances it; a non-zero offset addresses a byte relative
// to the write end or read cursor and moves nothing (patching and peeking).
//
// Safety: no call reads or writes outside the block.
//  - A put whose target lies below byte 0 is refused (nothing stored, nothing moves); a put
//    at a positive offset reserves room up to its last byte first (the bytes it skips are 0).
//  - A get whose bytes are not all inside [0, Size) returns 0, moves nothing and raises
//    ReadFailed, which stays raised until Rewind, Clear, LoadFromFile or ClearReadFailed.
//  - Negative lengths are refused. Size stays within [0, Capacity] after every call.
//  - When the block cannot grow (allocation failure, or more than 2^31 - 1 bytes) the put is
//    refused and WriteFailed is raised (cleared by Clear and LoadFromFile).
// Fresh bytes of the block are zero, so whatever is read from it is defined.
class TMyMemory {
 public:
  explicit TMyMemory(int32_t initial);
  ~TMyMemory();
  TMyMemory(const TMyMemory&) = delete;
  TMyMemory& operator=(const TMyMemory&) = delete;
  TMyMemory(TMyMemory&& other) noexcept;
  TMyMemory& operator=(TMyMemory&& other) noexcept;

  // Makes room for n more bytes at the write end: grows the block by max(n, GrowStep)
  // when Size + n exceeds Capacity. False when the block could not grow.
  bool Reserve(int32_t n);

  void WriteByte(uint8_t v, int32_t ofs = 0);
  void WriteWord(uint16_t v, int32_t ofs = 0);
  void WriteSmallInt(int32_t v, int32_t ofs = 0);  // the low 16 bits of v
  void WriteInteger(int32_t v, int32_t ofs = 0);
  void WriteBuffer(const void* src, int32_t n);

  uint8_t ReadByte(int32_t ofs = 0);
  uint16_t ReadWord(int32_t ofs = 0);
  int16_t ReadSmallInt(int32_t ofs = 0);
  // Copies n bytes and advances only when Size - ReadPos >= n; otherwise copies nothing,
  // leaves the cursor and returns false.
  bool ReadBuffer(void* dst, int32_t n);

  // Moves the cursor by n (negative steps back). The cursor is kept within [0, Size]
  // (a step outside is clamped), so that every later get stays defined.
  void Skip(int32_t n);
  // Size += n, kept within [0, Capacity] (growing the block when n reaches past it).
  void AddSize(int32_t n);
  void SetSize(int32_t n);
  void Rewind();
  void Clear();  // cursor and write end to 0; the block and Capacity are kept

  // Replaces the contents by the whole file. False when the file is missing, unreadable,
  // too large or shorter than its measured size: the buffer is then empty, or holds exactly
  // the bytes that could be read. The block is exactly the file's size; GrowStep is kept.
  bool LoadFromFile(const std::string& path);

  float ReadPercent() const;  // 100 for an empty buffer

  uint8_t* Memory() const { return memory_; }
  uint8_t* ReadPointer() const { return memory_ + readPos_; }
  uint8_t* WritePointer() const { return memory_ + size_; }
  int32_t Remaining() const { return size_ - readPos_; }
  int32_t ReadPos() const { return readPos_; }
  int32_t Capacity() const { return capacity_; }
  int32_t Size() const { return size_; }
  int32_t GrowStep() const { return growStep_; }

  bool ReadFailed() const { return readFailed_; }
  void ClearReadFailed() { readFailed_ = false; }
  bool WriteFailed() const { return writeFailed_; }

 private:
  // Position of a put of `width` bytes at `ofs`, after reserving room; -1 when refused.
  int64_t PutPos(int32_t ofs, int32_t width);
  // Position of a get of `width` bytes at `ofs`; -1 (and ReadFailed) when out of bounds.
  int64_t GetPos(int32_t ofs, int32_t width);
  bool GrowTo(int64_t capacity);

  uint8_t* memory_ = nullptr;
  int32_t readPos_ = 0;
  int32_t capacity_ = 0;
  int32_t size_ = 0;
  int32_t growStep_ = 0;
  bool readFailed_ = false;
  bool writeFailed_ = false;
};

// Thin wrapper of a file handle. Never throws; a failed open, a short read or a short write
// raises Failed (cleared by the next open), so callers can tell a truncated file from a good one.
class TMyFile {
 public:
  TMyFile() = default;
  ~TMyFile() { Close(); }
  TMyFile(const TMyFile&) = delete;
  TMyFile& operator=(const TMyFile&) = delete;

  bool OpenRead(const std::string& path);   // existing file, read-only, at byte 0
  bool CreateNew(const std::string& path);  // created or truncated, for writing, at byte 0
  int32_t Read(void* buf, int32_t n);        // bytes read (0 on error or at the end)
  int32_t Write(const void* buf, int32_t n); // bytes written
  int32_t ReadInteger();                     // 0 when fewer than 4 bytes could be read
  bool WriteInteger(int32_t v);
  // Closes the file if one is open; false when closing reported an error (data not saved).
  bool Close();

  bool IsOpen() const { return handle_ >= 0; }
  int Handle() const { return handle_; }  // -1 when no file is open
  bool Failed() const { return failed_; }

 private:
  int handle_ = -1;
  bool failed_ = false;
};

// Size in bytes of an existing regular file; -1 when it is missing or not a regular file.
int64_t FileSizeByName(const std::string& path);
// Copies n bytes between possibly overlapping areas; nothing for n <= 0.
void MoveBytes(const void* src, void* dst, int32_t n);
