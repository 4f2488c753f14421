#include "engine/Block.h"
#include "engine/BlockBlend.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <sys/mman.h>
#include <emmintrin.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define VELL_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define VELL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define VELL_POISON(p, n) ((void)(p), (void)(n))
#define VELL_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

constexpr int32_t kSide = TBlock::kTileSide;

// Direct row access inside one 64 x 64 tile (tile-local rows, top row 0).
inline uint32_t* TileRow(TTC& t, int32_t y) { return t.Row32(y); }
inline const uint32_t* TileRow(const TTC& t, int32_t y) { return t.Row32(y); }
inline uint8_t* MaskRow(TChannel& t, int32_t y) { return t.Row(y); }
inline const uint8_t* MaskRow(const TChannel& t, int32_t y) { return t.Row(y); }

inline int32_t Clamp32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// Floor division by 64 of a 64-bit value.
inline int64_t TileIndex64(int64_t v) { return v >> 6; }

// Dab coordinates beyond this many pixels are refused: the sub-pixel squares then stay far
// inside 64 bits, and no sensible stroke comes near it.
constexpr float kMaxDabCoord = 1.0e7f;

bool SaneDab(float cx, float cy, float r) {
  return std::fabs(cx) <= kMaxDabCoord && std::fabs(cy) <= kMaxDabCoord && std::fabs(r) <= kMaxDabCoord;
}

// Half-widths of the sub-pixel disc of one R^2: Half(d) is the largest h with h^2 + d^2 < R^2,
// -1 when there is none. A disc's rows ask for every sub-row of its radius, and a stroke asks
// for the same few radii again and again, so the values are kept per R^2 (found by stepping
// down from the centre row, without a square root) for the dabs that follow.
class THalfWidths {
 public:
  // Tables for grid radii up to this; larger discs take their square roots one by one.
  static constexpr int64_t kMaxRadius = 4096;

  // The table of r2, or null when it is not kept (r2 <= 0 or beyond kMaxRadius^2). Valid until
  // the next call with another r2 on this thread.
  static const THalfWidths* For(int64_t r2) {
    if (r2 <= 0 || r2 > kMaxRadius * kMaxRadius) return nullptr;
    thread_local std::array<THalfWidths, 16> kept;
    THalfWidths& t = kept[size_t((uint64_t(r2) * 0x9E3779B97F4A7C15ull) >> 60)];
    if (t.R2 != r2) t.Build(r2);
    return &t;
  }
  int64_t Half(int64_t d) const {
    d = d < 0 ? -d : d;
    return d < int64_t(H.size()) ? H[size_t(d)] : -1;
  }

 private:
  void Build(int64_t r2) {
    R2 = r2;
    H.clear();
    // Half is nonincreasing in |d|; rows from d = 0 until d^2 reaches R^2.
    int64_t h = int64_t(std::sqrt(double(r2))) + 1;
    for (int64_t d = 0; d * d < r2; ++d) {
      while (h >= 0 && h * h + d * d >= r2) --h;
      H.push_back(int32_t(h));
    }
  }
  int64_t R2 = -1;
  std::vector<int32_t> H;
};

// The sub-pixel disc of the dabs: a point is inside when its squared distance from the
// centre is below R^2.
struct TDiscGrid {
  int64_t K, R2, CX, CY;
  const THalfWidths* Widths;
  double InvR2;
  TDiscGrid(int64_t k, int64_t r2, int64_t CXk, int64_t CYk)
      : K(k), R2(r2), CX(CXk), CY(CYk), Widths(THalfWidths::For(r2)), InvR2(r2 > 0 ? 1.0 / double(r2) : 0.0) {}
  TDiscGrid(int64_t k, float cx, float cy, float r)
      : TDiscGrid(k, int64_t(TruncInt(static_cast<ext_t>(r) * k)) * TruncInt(static_cast<ext_t>(r) * k),
                  TruncInt(static_cast<ext_t>(cx) * k), TruncInt(static_cast<ext_t>(cy) * k)) {}
  bool Inside(int64_t dx, int64_t dy) const { return dx * dx + dy * dy < R2; }
  int Corners(int64_t dx, int64_t dy) const {
    return int(Inside(dx, dy)) + int(Inside(dx + K, dy)) + int(Inside(dx, dy + K)) + int(Inside(dx + K, dy + K));
  }
  // The largest h with h^2 + d^2 < R^2; -1 when there is none.
  int64_t Half(int64_t d) const {
    if (Widths) return Widths->Half(d);
    const int64_t m = R2 - d * d;
    return m > 0 ? ISqrt(m - 1) : -1;
  }
  // The inside samples of one pixel row (sub-rows dy + j), as sub-column half-widths: sample
  // (d, dy + j) is inside exactly when |d| <= Half[j] (-1: no sample of the sub-row is).
  struct TSubRows {
    int64_t Half[5];
  };
  TSubRows SubRows(int64_t dy) const {
    TSubRows s;
    for (int64_t j = 0; j < K; ++j) s.Half[j] = Half(dy + j);
    return s;
  }
  // The samples (dx + i, dy + j), i and j in 0..K-1, that are inside, from the sub-rows of dy:
  // per sub-row, the overlap of dx .. dx + K - 1 with -Half .. Half.
  // Kk is K, known to the compiler so that the sub-rows unroll.
  template <int Kk>
  int64_t Samples(int64_t dx, const TSubRows& s) const {
    int64_t n = 0;
    for (int j = 0; j < Kk; ++j) {
      const int64_t lo = std::max(dx, -s.Half[j]), hi = std::min(dx + Kk - 1, s.Half[j]);
      n += std::max<int64_t>(hi - lo + 1, 0);
    }
    return n;
  }
  // The pixels x of the row with at least one sample inside; false when there are none.
  bool SampledColumns(const TSubRows& s, int64_t& lo, int64_t& hi) const {
    int64_t h = -1;
    for (int64_t j = 0; j < K; ++j) h = std::max(h, s.Half[j]);
    if (h < 0) return false;
    lo = -FloorDiv(h + K - 1 - CX);  // ceil((CX - h - K + 1) / K)
    hi = FloorDiv(CX + h);
    return lo <= hi;
  }
  // The soft factor from the pixel's top-left corner. The quotient is taken from the
  // reciprocal and corrected by one step, which makes it exact: the estimate is within one of
  // it for every numerator below 2^52.
  int64_t Soft(int64_t dx, int64_t dy) const {
    if (R2 <= 0) return 0;
    const int64_t n = (dx * dx + dy * dy) * 255;
    int64_t q;
    if (n < (int64_t(1) << 52)) {
      q = int64_t(double(n) * InvR2);
      if (q * R2 > n) --q;
      else if ((q + 1) * R2 <= n) ++q;
    } else {
      q = n / R2;
    }
    const int64_t s = 255 - q;
    return s < 0 ? 0 : s;
  }

  // The pixels of one row (its corners at dy and dy + K) with at least one corner inside,
  // Lo..Hi, and with all four inside, FullLo..FullHi (either may be empty). A corner sum is
  // separable, so the nearest corner is inside exactly when some corner is, and the farthest
  // exactly when all are.
  struct TRowCover {
    int64_t Lo = 1, Hi = 0, FullLo = 1, FullHi = 0;
  };
  TRowCover Row(int64_t dy) const {
    const int64_t a = dy < 0 ? -dy : dy, b = dy + K < 0 ? -(dy + K) : dy + K;
    TRowCover c;
    int64_t lo, hi;
    if (Columns(Half(std::min(a, b)), lo, hi)) c.Lo = lo - 1, c.Hi = hi;       // dx or dx + K near enough
    if (Columns(Half(std::max(a, b)), lo, hi)) c.FullLo = lo, c.FullHi = hi - 1;  // dx and dx + K
    return c;
  }

 private:
  // Floor division by K (4 or 5 for the dabs).
  int64_t FloorDiv(int64_t a) const {
    if (K == 4) return a >> 2;  // an arithmetic shift floors
    if (K == 5) return a >= 0 ? a / 5 : -((-a + 4) / 5);
    return a >= 0 ? a / K : -((-a + K - 1) / K);
  }
  static int64_t ISqrt(int64_t m) {
    int64_t q = int64_t(std::sqrt(double(m)));
    while (q > 0 && q * q > m) --q;
    while ((q + 1) * (q + 1) <= m) ++q;
    return q;
  }
  // The pixels x with |K x - CX| <= q; false when there are none (q < 0).
  bool Columns(int64_t q, int64_t& lo, int64_t& hi) const {
    if (q < 0) return false;
    lo = -FloorDiv(q - CX);  // ceil((CX - q) / K)
    hi = FloorDiv(CX + q);
    return lo <= hi;
  }
};

// The pixel blend of a canvas (alpha 255 stores the whole colour; otherwise B, G, R move
// toward the colour and the alpha byte stays).
inline uint32_t BlendPx(uint32_t p, uint32_t c, uint8_t a) {
  if (a == 255) return c;
  uint32_t r = p & 0xFF000000u;
  for (int k = 0; k < 24; k += 8) r |= uint32_t(BlendByte(uint8_t(p >> k), uint8_t(c >> k), a)) << k;
  return r;
}

}  // namespace

// BlendPx of every pixel, four pixels at a time in 16-bit lanes: the table's trunc(2 a d / 255)
// of the half-difference d is |2 a d| div 255, taken as (y * 32897) >> 23 (exact for every
// 16-bit y; |2 a d| stays below 64771), with the sign put back. The alpha byte's lanes move by
// 0, and alpha 255 takes the colour whole.

void BlendPixelRun(uint32_t* __restrict p, const uint8_t* __restrict alpha, int32_t n, uint32_t c, uint8_t one) {
  if (!alpha && one == 255) {
    std::fill(p, p + n, c);
    return;
  }
  int32_t i = 0;
  const __m128i zero = _mm_setzero_si128();
  const __m128i half = _mm_unpacklo_epi8(_mm_set1_epi32(int32_t((c >> 1) & 0x007F7F7Fu)), zero);
  const __m128i colourLanes = _mm_set1_epi32(int32_t(c));
  const __m128i noAlphaByte = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
  const __m128i magic = _mm_set1_epi16(int16_t(32897)), low = _mm_set1_epi16(0xFF), all = _mm_set1_epi32(255);
  auto blend2 = [&](__m128i px, __m128i a) {  // two pixels as 16-bit lanes, their alphas likewise
    const __m128i d = _mm_sub_epi16(half, _mm_srli_epi16(px, 1));
    const __m128i x = _mm_mullo_epi16(d, _mm_and_si128(a, noAlphaByte));
    const __m128i sign = _mm_srai_epi16(x, 15);
    const __m128i y = _mm_slli_epi16(_mm_sub_epi16(_mm_xor_si128(x, sign), sign), 1);
    const __m128i q = _mm_srli_epi16(_mm_mulhi_epu16(y, magic), 7);
    return _mm_and_si128(_mm_add_epi16(px, _mm_sub_epi16(_mm_xor_si128(q, sign), sign)), low);
  };
  if (!alpha) {
    const __m128i a = _mm_set1_epi16(int16_t(one));
    for (; i + 4 <= n; i += 4) {
      const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      const __m128i lo = blend2(_mm_unpacklo_epi8(px, zero), a), hi = blend2(_mm_unpackhi_epi8(px, zero), a);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), _mm_packus_epi16(lo, hi));
    }
    for (; i < n; ++i) p[i] = BlendPx(p[i], c, one);
    return;
  }
  for (; i + 4 <= n; i += 4) {
    uint32_t a4;
    std::memcpy(&a4, alpha + i, 4);
    const __m128i av = _mm_cvtsi32_si128(int32_t(a4));
    const __m128i a8 = _mm_unpacklo_epi8(av, av);           // a0 a0 a1 a1 a2 a2 a3 a3
    const __m128i a16 = _mm_unpacklo_epi16(a8, a8);         // each alpha four times
    const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i lo = blend2(_mm_unpacklo_epi8(px, zero), _mm_unpacklo_epi8(a16, zero));
    const __m128i hi = blend2(_mm_unpackhi_epi8(px, zero), _mm_unpackhi_epi8(a16, zero));
    const __m128i blended = _mm_packus_epi16(lo, hi);
    const __m128i whole = _mm_cmpeq_epi32(_mm_unpacklo_epi16(_mm_unpacklo_epi8(av, zero), zero), all);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i),
                     _mm_or_si128(_mm_and_si128(whole, colourLanes), _mm_andnot_si128(whole, blended)));
  }
  for (; i < n; ++i) p[i] = BlendPx(p[i], c, alpha[i]);
}

namespace {

// Calls f(tx, first, last) for each tile column met by pixels first..last of a row.
template <class F>
void ForTileSegments(int32_t first, int32_t last, F f) {
  for (int32_t x = first; x <= last;) {
    const int32_t tx = x >> 6, end = std::min(last, tx * 64 + 63);
    f(tx, x, end);
    x = end + 1;
  }
}

// A pixel range Trunc(lo) .. Trunc(hi) cut to 0 .. limit-1; false when empty.
bool PixelRange(ext_t lo, ext_t hi, int32_t limit, int32_t& a, int32_t& b) {
  int64_t l = TruncInt(lo), h = TruncInt(hi);
  l = std::max<int64_t>(l, 0);
  h = std::min<int64_t>(h, int64_t(limit) - 1);
  if (h < l) return false;
  a = int32_t(l);
  b = int32_t(h);
  return true;
}

}  // namespace

// ---- grid -------------------------------------------------------------------------------

void TBlock::SetSize(int32_t W, int32_t H) {
  FreeAll();
  FWidth = std::clamp(W, 0, kMaxPaperSide);
  FHeight = std::clamp(H, 0, kMaxPaperSide);
}

namespace {
// Tiles freed since the heap was last trimmed; blocks may be freed on any thread of a test.
std::atomic<int64_t> gFreedTiles{0};
// 64 MB of tiles: trimming walks the heap, so it waits for a paper's worth of memory.
constexpr int64_t kTrimTiles = 4096;

// The pixels of image tiles, taken from chunks of one huge page (128 tiles) each. A fresh tile
// of a small-page heap costs four page faults, and a page fault costs more than filling the
// page: a chunk's first touch costs one. Freed slots are reused first; Trim gives the memory
// of free slots back to the system (a chunk wholly free is unmapped), as the heap trim does.
class TTilePool {
 public:
  static constexpr size_t kChunkBytes = size_t(2) << 20;
  static constexpr int32_t kSlots = int32_t(kChunkBytes / TBlock::kTileMemory);

  static TTilePool& Get() {
    static TTilePool* pool = new TTilePool;  // never destroyed: blocks may outlive statics
    return *pool;
  }

  // A slot of kTileMemory bytes, contents undefined; null without memory.
  uint8_t* Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_.empty() && !AddChunk()) return nullptr;
    TChunk& c = *open_.back();
    const int32_t k = c.Free[static_cast<size_t>(--c.FreeCount)];
    if (c.FreeCount == 0) open_.pop_back();
    c.Released[static_cast<size_t>(k)] = false;
    uint8_t* p = c.Base + size_t(k) * TBlock::kTileMemory;
    VELL_UNPOISON(p, TBlock::kTileMemory);
    return p;
  }

  static void Release(uint8_t* p) { Get().Give(p); }

  // Hands the pages of free slots back to the system, all but the kReserve slots that are
  // taken next: drawing frees and takes tiles all the time (undo steps, working copies, a
  // paper closed and the next one opened), and a slot given back costs four page faults when
  // it is taken again, a chunk unmapped a fresh huge page. The reserve is what gathers before
  // a trim (64 MB): a process keeps at most that much free tile memory.
  static constexpr int32_t kReserve = int32_t(kTrimTiles);
  void Trim() {
    std::lock_guard<std::mutex> lock(mutex_);
    // Partly used chunks are taken from first (the back of open_), wholly free ones after them.
    std::vector<TChunk*> part, whole;
    for (auto& [base, c] : chunks_) {
      if (c.FreeCount == kSlots) whole.push_back(&c);
      else if (c.FreeCount > 0) part.push_back(&c);
    }
    int32_t keep = kReserve;
    for (auto it = part.rbegin(); it != part.rend(); ++it) {
      TChunk& c = **it;
      for (int32_t j = c.FreeCount - 1; j >= 0; --j) {  // the top of the free list is taken first
        if (keep > 0) {
          --keep;
          continue;
        }
        const int32_t k = c.Free[static_cast<size_t>(j)];
        if (c.Released[static_cast<size_t>(k)]) continue;
        c.Released[static_cast<size_t>(k)] = true;
        ::madvise(c.Base + size_t(k) * TBlock::kTileMemory, TBlock::kTileMemory, MADV_DONTNEED);
      }
    }
    open_.clear();
    for (TChunk* c : whole) {
      if (keep >= kSlots) {
        keep -= kSlots;
        open_.push_back(c);
        continue;
      }
      VELL_UNPOISON(c->Base, kChunkBytes);
      ::munmap(c->Base, kChunkBytes);
      chunks_.erase(reinterpret_cast<uintptr_t>(c->Base));
    }
    open_.insert(open_.end(), part.begin(), part.end());
  }

 private:
  struct TChunk {
    uint8_t* Base = nullptr;
    int32_t FreeCount = 0;
    std::array<int16_t, kSlots> Free{};     // free slot numbers, the last taken first
    std::array<bool, kSlots> Released{};    // free slots whose pages went back to the system
  };

  void Give(uint8_t* p) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto base = reinterpret_cast<uintptr_t>(p) & ~uintptr_t(kChunkBytes - 1);
    TChunk& c = chunks_.at(base);
    if (c.FreeCount == 0) open_.push_back(&c);
    c.Free[static_cast<size_t>(c.FreeCount++)] =
        static_cast<int16_t>((reinterpret_cast<uintptr_t>(p) - base) / TBlock::kTileMemory);
    VELL_POISON(p, TBlock::kTileMemory);
  }

  // A new chunk aligned to its size, so that a slot finds its chunk by masking its address.
  bool AddChunk() {
    void* m = ::mmap(nullptr, 2 * kChunkBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return false;
    const auto raw = reinterpret_cast<uintptr_t>(m);
    const uintptr_t base = (raw + kChunkBytes - 1) & ~uintptr_t(kChunkBytes - 1);
    if (base > raw) ::munmap(m, base - raw);
    ::munmap(reinterpret_cast<void*>(base + kChunkBytes), raw + kChunkBytes - base);
#ifdef MADV_HUGEPAGE
    ::madvise(reinterpret_cast<void*>(base), kChunkBytes, MADV_HUGEPAGE);  // advice only
#endif
    TChunk& c = chunks_[base];
    c.Base = reinterpret_cast<uint8_t*>(base);
    // Slots are handed out from the chunk's start, the order its pages are touched in.
    for (int32_t k = 0; k < kSlots; ++k) c.Free[static_cast<size_t>(k)] = static_cast<int16_t>(kSlots - 1 - k);
    c.FreeCount = kSlots;
    VELL_POISON(c.Base, kChunkBytes);
    open_.push_back(&c);
    return true;
  }

  std::mutex mutex_;
  std::unordered_map<uintptr_t, TChunk> chunks_;  // by base address; elements never move
  std::vector<TChunk*> open_;                     // chunks with a free slot
};

// Row offsets of a pooled tile, shared by all of them.
constexpr std::array<int64_t, kSide> kTileRows = [] {
  std::array<int64_t, kSide> r{};
  for (int32_t y = 0; y < kSide; ++y) r[static_cast<size_t>(y)] = int64_t(y) * kSide * 4;
  return r;
}();

// A new image tile, its pixels left as they come: pooled, else from the heap.
TTC* NewImageTile() {
  if (uint8_t* bits = TTilePool::Get().Take()) {
    TTC* t = new (std::nothrow) TTC(kSide, kSide, TChannel::TLentStorage{bits, &TTilePool::Release, kTileRows.data()});
    if (!t) TTilePool::Release(bits);
    return t;
  }
  return new (std::nothrow) TTC(kSide, kSide, TTC::TUncleared{});
}
}  // namespace

TBlock::~TBlock() {
  FreeAll();
  ReleaseFreedTiles();
}

void TBlock::Drop(std::unique_ptr<TChannel>& tile) {
  if (!tile) return;
  tile.reset();
  gFreedTiles.fetch_add(1, std::memory_order_relaxed);
}

void TBlock::ReleaseFreedTiles() {
  if (gFreedTiles.load(std::memory_order_relaxed) < kTrimTiles) return;
  gFreedTiles.store(0, std::memory_order_relaxed);
  TTilePool::Get().Trim();
#ifdef __GLIBC__
  ::malloc_trim(0);
#endif
}

void TBlock::FreeAll() {
  for (auto& t : Tiles) Drop(t);
  Tiles.Unmake();
}

void TBlock::FreeTile(int32_t tx, int32_t ty) {
  if (Tiles.Made() && tx >= 0 && ty >= 0 && tx < kGridSide && ty < kGridSide) Drop(Tiles[Slot(tx, ty)]);
}

bool TBlock::IsTileInGrid(int32_t tx, int32_t ty) const {
  return tx >= 0 && ty >= 0 && tx < kGridSide && ty < kGridSide && tx <= FWidth / kSide && ty <= FHeight / kSide;
}

bool TBlock::HasTile(int32_t x, int32_t y) const {
  if (x < 0 || y < 0) return false;
  int32_t tx = TileIndex(x), ty = TileIndex(y);
  return IsTileInGrid(tx, ty) && Tiles[Slot(tx, ty)] != nullptr;
}

void TBlock::TilesBounds(int32_t& X, int32_t& Y, int32_t& W, int32_t& H) const {
  int32_t x0 = kGridSide, y0 = kGridSide, x1 = -1, y1 = -1;
  for (int32_t ty = 0; ty < kGridSide; ++ty)
    for (int32_t tx = 0; tx < kGridSide; ++tx)
      if (Tiles[Slot(tx, ty)]) {
        x0 = std::min(x0, tx);
        x1 = std::max(x1, tx);
        y0 = std::min(y0, ty);
        y1 = std::max(y1, ty);
      }
  if (x1 < 0) {
    X = 0, Y = 0, W = kSide, H = kSide;
    return;
  }
  X = kSide * x0;
  Y = kSide * y0;
  W = kSide * (x1 - x0 + 1);
  H = kSide * (y1 - y0 + 1);
}

int32_t TBlock::TileCount() const {
  int32_t n = 0;
  for (const auto& t : Tiles) n += t != nullptr;
  return n;
}

int64_t TBlock::MemoryUsed() const { return int64_t(TileCount()) * kTileMemory; }

int32_t TBlock::TileSpanCount(int32_t v, int32_t len) {
  if (len <= 0) return 0;
  return int32_t(TileIndex64(int64_t(v) + len - 1) - TileIndex64(v) + 1);
}

int64_t TBlock::RectTileCount(int32_t X, int32_t Y, int32_t W, int32_t H) {
  return int64_t(TileSpanCount(X, W)) * TileSpanCount(Y, H);
}

namespace {
// The part of the rectangle's span (v, len) in its column (or row) c of the walk: start, length
// and offset from the rectangle's origin.
void SpanPart(int32_t v, int32_t len, int64_t c, int64_t cols, int32_t& sub, int32_t& subLen, int32_t& off) {
  int32_t first = TBlock::TileOffset(v);
  int32_t end = TBlock::TileOffset(int32_t(int64_t(v) + len));
  if (end == 0) end = kSide;
  sub = c == 0 ? first : 0;
  int32_t stop = c == cols - 1 ? end : kSide;
  subLen = stop - sub;
  off = c == 0 ? 0 : int32_t(kSide * c - first);
}
}  // namespace

TBlock::TTilePart TBlock::RectTilePart(int32_t X, int32_t Y, int32_t W, int32_t H, int64_t k) {
  TTilePart p;
  int64_t cols = TileSpanCount(X, W), rows = TileSpanCount(Y, H);
  if (cols <= 0 || rows <= 0 || k < 0 || k >= cols * rows) return p;
  int64_t col = k % cols, row = k / cols;
  p.TX = int32_t(TileIndex64(X) + col);
  p.TY = int32_t(TileIndex64(Y) + row);
  SpanPart(X, W, col, cols, p.SubX, p.SubW, p.OffX);
  SpanPart(Y, H, row, rows, p.SubY, p.SubH, p.OffY);
  return p;
}

int32_t TBlock::GridRight() const { return std::min(FWidth / kSide + 1, kGridSide) * kSide; }
int32_t TBlock::GridBottom() const { return std::min(FHeight / kSide + 1, kGridSide) * kSide; }

bool TBlock::ClipToGrid(int32_t& X, int32_t& Y, int32_t& W, int32_t& H) const {
  if (W <= 0 || H <= 0) return false;
  int64_t l = std::max<int64_t>(X, 0), t = std::max<int64_t>(Y, 0);
  int64_t r = std::min<int64_t>(int64_t(X) + W, GridRight()), b = std::min<int64_t>(int64_t(Y) + H, GridBottom());
  if (r <= l || b <= t) return false;
  X = int32_t(l), Y = int32_t(t), W = int32_t(r - l), H = int32_t(b - t);
  return true;
}

template <class F>
void TBlock::WalkRect(int32_t X, int32_t Y, int32_t W, int32_t H, F f) {
  int64_t cols = TileSpanCount(X, W), rows = TileSpanCount(Y, H);
  for (int64_t row = 0; row < rows; ++row)
    for (int64_t col = 0; col < cols; ++col) {
      TTilePart p;
      p.TX = int32_t(TileIndex64(X) + col);
      p.TY = int32_t(TileIndex64(Y) + row);
      SpanPart(X, W, col, cols, p.SubX, p.SubW, p.OffX);
      SpanPart(Y, H, row, rows, p.SubY, p.SubH, p.OffY);
      f(p);
    }
}

namespace {
// One piece of a destination area (AX, AY, W, H) that falls into destination tile (tx, ty):
// the source part's local start and the destination tile's local start.
struct TPiece {
  int32_t TX, TY, SrcX, SrcY, DstX, DstY, W, H;
};

// Splits the destination area of a source tile part over the (up to 2 x 2) destination tiles.
template <class F>
void SplitArea(int64_t AX, int64_t AY, int32_t SubX, int32_t SubY, int32_t W, int32_t H, F f) {
  for (int64_t ty = TileIndex64(AY); ty <= TileIndex64(AY + H - 1); ++ty)
    for (int64_t tx = TileIndex64(AX); tx <= TileIndex64(AX + W - 1); ++tx) {
      if (tx < 0 || ty < 0 || tx >= TBlock::kGridSide || ty >= TBlock::kGridSide) continue;
      int64_t l = std::max(AX, tx * kSide), r = std::min(AX + W, tx * kSide + kSide);
      int64_t t = std::max(AY, ty * kSide), b = std::min(AY + H, ty * kSide + kSide);
      if (r <= l || b <= t) continue;
      TPiece p{int32_t(tx), int32_t(ty), int32_t(SubX + (l - AX)), int32_t(SubY + (t - AY)),
               int32_t(l - tx * kSide), int32_t(t - ty * kSide), int32_t(r - l), int32_t(b - t)};
      f(p);
    }
}
}  // namespace

// ---- image tiles ------------------------------------------------------------------------

TTC* TBlockImage::GetTile(int32_t tx, int32_t ty) const {
  if (!IsTileInGrid(tx, ty)) return nullptr;
  return static_cast<TTC*>(Tiles[Slot(tx, ty)].get());
}

TTC* TBlockImage::MakeTile(int32_t tx, int32_t ty, bool FillBack) {
  if (!IsTileInGrid(tx, ty)) return nullptr;
  auto& slot = Tiles[Slot(tx, ty)];
  if (!slot) {
    // A tile that cannot be had stays absent: the write is lost, nothing else breaks. Its
    // pixels are written once: with the background, or by the caller, which covers them all.
    std::unique_ptr<TTC> t(NewImageTile());
    if (!t || t->Width() != kSide || t->Height() != kSide) return nullptr;
    if (FillBack) t->Fill(FBackColour);
    slot = std::move(t);
  }
  return static_cast<TTC*>(slot.get());
}

void TBlockImage::AllocateAll() {
  for (int32_t ty = 0; ty <= std::min(FHeight / kSide, kGridSide - 1); ++ty)
    for (int32_t tx = 0; tx <= std::min(FWidth / kSide, kGridSide - 1); ++tx) MakeTile(tx, ty, true);
}

void TBlockImage::Compact() {
  for (auto& t : Tiles)
    if (t && static_cast<TTC*>(t.get())->IsUniform(FBackColour)) Drop(t);
}

void TBlockImage::CompactRect(int32_t X, int32_t Y, int32_t W, int32_t H) {
  if (W <= 0 || H <= 0) return;
  int64_t tx0 = int64_t(TileIndex(X)) - 1, ty0 = int64_t(TileIndex(Y)) - 1;
  int64_t tx1 = tx0 + W / kSide + 1, ty1 = ty0 + H / kSide + 1;
  tx0 = std::max<int64_t>(tx0, 0), ty0 = std::max<int64_t>(ty0, 0);
  tx1 = std::min<int64_t>(tx1, kGridSide - 1), ty1 = std::min<int64_t>(ty1, kGridSide - 1);
  for (int64_t ty = ty0; ty <= ty1; ++ty)
    for (int64_t tx = tx0; tx <= tx1; ++tx) {
      TTC* t = GetTile(int32_t(tx), int32_t(ty));
      if (t && t->IsUniform(FBackColour)) Drop(Tiles[Slot(int32_t(tx), int32_t(ty))]);
    }
}

uint32_t TBlockImage::GetPixel(int32_t x, int32_t y) const {
  if (x < 0 || y < 0) return FBackColour;
  const TTC* t = GetTile(TileIndex(x), TileIndex(y));
  return t ? TileRow(*t, TileOffset(y))[TileOffset(x)] : FBackColour;
}

void TBlockImage::SetPixel(int32_t x, int32_t y, uint32_t Colour) {
  if (x < 0 || y < 0) return;
  if (TTC* t = MakeTile(TileIndex(x), TileIndex(y), true)) TileRow(*t, TileOffset(y))[TileOffset(x)] = Colour;
}

void TBlockImage::BlendPixel(int32_t x, int32_t y, uint32_t Colour, uint8_t Alpha) {
  if (x < 0 || y < 0) return;
  if (TTC* t = MakeTile(TileIndex(x), TileIndex(y), true)) t->BlendPixel(TileOffset(x), TileOffset(y), Colour, Alpha);
}

namespace {
// Clamps a read position into 0..n-1 (0 for an empty side).
inline int32_t ClampRead(int64_t v, int32_t n) {
  if (v > int64_t(n) - 1) v = int64_t(n) - 1;
  if (v < 0) v = 0;
  return int32_t(v);
}
}  // namespace

void TBlockImage::GetPixelChannels(int32_t x, int32_t y, bool Accumulate, uint32_t& A, uint32_t& R, uint32_t& G,
                                   uint32_t& B) const {
  uint32_t c = GetPixel(ClampRead(x, FWidth), ClampRead(y, FHeight));
  if (!Accumulate) A = R = G = B = 0;
  A += c >> 24;
  R += (c >> 16) & 0xFF;
  G += (c >> 8) & 0xFF;
  B += c & 0xFF;
}

void TBlockImage::FillRect(int32_t X, int32_t Y, int32_t W, int32_t H, uint32_t Colour) {
  if (!ClipToGrid(X, Y, W, H)) return;
  WalkRect(X, Y, W, H, [&](const TTilePart& p) {
    bool whole = p.SubW == kSide && p.SubH == kSide;
    if (TTC* t = MakeTile(p.TX, p.TY, !whole)) t->FillRect(p.SubX, p.SubY, p.SubW, p.SubH, Colour);
  });
}

// ---- rendering into a canvas ------------------------------------------------------------

namespace {
// The destination of a tile part on a canvas, or false when it lies wholly off the canvas.
bool CanvasArea(const TTC& c, int64_t ax, int64_t ay, int32_t w, int32_t h, int32_t& x, int32_t& y) {
  if (ax + w <= 0 || ay + h <= 0 || ax >= c.Width() || ay >= c.Height()) return false;
  x = int32_t(ax), y = int32_t(ay);
  return true;
}
}  // namespace

template <class Op>
void TBlockImage::CompositeRect(TTC& Canvas, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX,
                                int32_t DstY, Op op) const {
  int32_t x = SrcX, y = SrcY, w = W, h = H;
  if (!ClipToGrid(x, y, w, h)) return;
  int64_t dx0 = int64_t(DstX) + (int64_t(x) - SrcX), dy0 = int64_t(DstY) + (int64_t(y) - SrcY);
  WalkRect(x, y, w, h, [&](const TTilePart& p) {
    int32_t cx, cy;
    if (!CanvasArea(Canvas, dx0 + p.OffX, dy0 + p.OffY, p.SubW, p.SubH, cx, cy)) return;
    op(GetTile(p.TX, p.TY), p, cx, cy);
  });
}

void TBlockImage::DrawRectTo(TTC& Canvas, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX,
                             int32_t DstY) const {
  CompositeRect(Canvas, SrcX, SrcY, W, H, DstX, DstY, [&](const TTC* t, const TTilePart& p, int32_t cx, int32_t cy) {
    if (t)
      t->CopyRectTo(Canvas, p.SubX, p.SubY, p.SubW, p.SubH, cx, cy);
    else
      Canvas.FillRect(cx, cy, p.SubW, p.SubH, FBackColour);
  });
}

void TBlockImage::MultiplyRectTo(TTC& Canvas, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX,
                                 int32_t DstY, uint8_t Opacity) const {
  if (Opacity == 0) return;
  CompositeRect(Canvas, SrcX, SrcY, W, H, DstX, DstY, [&](const TTC* t, const TTilePart& p, int32_t cx, int32_t cy) {
    if (t) t->MultiplyRectTo(Canvas, p.SubX, p.SubY, p.SubW, p.SubH, cx, cy, Opacity);
  });
}

void TBlockImage::AddRectTo(TTC& Canvas, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX,
                            int32_t DstY, uint8_t Opacity) const {
  if (Opacity == 0) return;
  CompositeRect(Canvas, SrcX, SrcY, W, H, DstX, DstY, [&](const TTC* t, const TTilePart& p, int32_t cx, int32_t cy) {
    if (t) t->AddRectTo(Canvas, p.SubX, p.SubY, p.SubW, p.SubH, cx, cy, Opacity);
  });
}

void TBlockImage::SubtractRectTo(TTC& Canvas, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX,
                                 int32_t DstY, uint8_t Opacity) const {
  if (Opacity == 0) return;
  CompositeRect(Canvas, SrcX, SrcY, W, H, DstX, DstY, [&](const TTC* t, const TTilePart& p, int32_t cx, int32_t cy) {
    if (t) t->SubtractRectFrom(Canvas, p.SubX, p.SubY, p.SubW, p.SubH, cx, cy, Opacity);
  });
}

void TBlockImage::StretchRectTo(TTC& Canvas, int32_t X, int32_t Y, int32_t W, int32_t H) const {
  int32_t cw = Canvas.Width(), ch = Canvas.Height();
  if (W <= 0 || H <= 0 || cw <= 0 || ch <= 0) return;
  int64_t fx = TruncInt(static_cast<ext_t>(FWidth) / cw * 1024.0L);
  int64_t fy = TruncInt(static_cast<ext_t>(FHeight) / ch * 1024.0L);
  int32_t bx = TruncInt(static_cast<ext_t>(FWidth) / cw), by = TruncInt(static_cast<ext_t>(FHeight) / ch);
  uint32_t n = uint32_t(bx + 1) * uint32_t(by + 1);
  // Destination pixels off the canvas would be dropped: skip them.
  int64_t x0 = std::max<int64_t>(X, 0), x1 = std::min<int64_t>(int64_t(X) + W, cw - 1);
  int64_t y0 = std::max<int64_t>(Y, 0), y1 = std::min<int64_t>(int64_t(Y) + H, ch - 1);
  if (x0 > x1 || y0 > y1) return;
  // Each source row of a destination row's boxes is read once, clamped, over all its boxes.
  // A box row of at most 257 samples sums blue and red, green and alpha as pairs of 16-bit
  // lanes; wider boxes sum each channel on its own.
  const int64_t p0 = (fx * x0) >> 10, p1 = ((fx * x1) >> 10) + bx;
  std::vector<uint32_t> row(size_t(p1 - p0 + 1));
  const size_t cols = size_t(x1 - x0 + 1);
  std::vector<uint32_t> sa(cols), sr(cols), sg(cols), sb(cols);
  const bool lanes = bx + 1 <= 257;
  for (int64_t y = y0; y <= y1; ++y) {
    const int64_t sy = (fy * y) >> 10;
    std::fill(sa.begin(), sa.end(), 0u), std::fill(sr.begin(), sr.end(), 0u);
    std::fill(sg.begin(), sg.end(), 0u), std::fill(sb.begin(), sb.end(), 0u);
    for (int64_t j = 0; j <= by; ++j) {
      ReadClampedRow(Clamp32(sy + j), p0, int32_t(row.size()), row.data());
      for (size_t k = 0; k < cols; ++k) {
        const uint32_t* box = row.data() + (((fx * (x0 + int64_t(k))) >> 10) - p0);
        if (lanes) {
          uint32_t br = 0, ga = 0;
          for (int32_t i = 0; i <= bx; ++i) br += box[i] & 0x00FF00FFu, ga += (box[i] >> 8) & 0x00FF00FFu;
          sb[k] += br & 0xFFFF, sr[k] += br >> 16, sg[k] += ga & 0xFFFF, sa[k] += ga >> 16;
        } else {
          for (int32_t i = 0; i <= bx; ++i) {
            const uint32_t c = box[i];
            sa[k] += c >> 24, sr[k] += (c >> 16) & 0xFF, sg[k] += (c >> 8) & 0xFF, sb[k] += c & 0xFF;
          }
        }
      }
    }
    for (size_t k = 0; k < cols; ++k)
      Canvas.SetPixel(int32_t(x0 + int64_t(k)), int32_t(y),
                      ((sa[k] / n) << 24) + ((sr[k] / n) << 16) + ((sg[k] / n) << 8) + sb[k] / n);
  }
}

void TBlockImage::LoadFromTTC(const TTC& Canvas) {
  FreeAll();
  for (int32_t ty = 0; ty <= std::min(FHeight / kSide, kGridSide - 1); ++ty)
    for (int32_t tx = 0; tx <= std::min(FWidth / kSide, kGridSide - 1); ++tx) {
      if (TTC* t = MakeTile(tx, ty, true)) Canvas.CopyRectTo(*t, kSide * tx, kSide * ty, kSide, kSide, 0, 0);
    }
}

void TBlockImage::PasteFromTTC(const TTC& Canvas, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX,
                               int32_t DstY) {
  if (W <= 0 || H <= 0) return;
  // Only the columns and rows that land in valid tiles can change anything.
  int64_t i0 = std::max<int64_t>(0, -int64_t(DstX)), i1 = std::min<int64_t>(W, int64_t(GridRight()) - DstX);
  int64_t j0 = std::max<int64_t>(0, -int64_t(DstY)), j1 = std::min<int64_t>(H, int64_t(GridBottom()) - DstY);
  for (int64_t j = j0; j < j1; ++j)
    for (int64_t i = i0; i < i1; ++i)
      SetPixel(int32_t(DstX + i), int32_t(DstY + j), Canvas.GetPixel(Clamp32(SrcX + i), Clamp32(SrcY + j)));
}

// ---- block to block ---------------------------------------------------------------------

void TBlockImage::CopyRectToBlock(TBlockImage& Dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H, int32_t DstX,
                                  int32_t DstY) const {
  int32_t x = SrcX, y = SrcY, w = W, h = H;
  if (!ClipToGrid(x, y, w, h)) return;
  int64_t dx0 = int64_t(DstX) + (int64_t(x) - SrcX), dy0 = int64_t(DstY) + (int64_t(y) - SrcY);
  WalkRect(x, y, w, h, [&](const TTilePart& p) {
    const TTC* s = GetTile(p.TX, p.TY);
    SplitArea(dx0 + p.OffX, dy0 + p.OffY, p.SubX, p.SubY, p.SubW, p.SubH, [&](const TPiece& q) {
      if (!Dst.IsTileInGrid(q.TX, q.TY)) return;
      // An absent source tile reads as this block's background.
      if (!s && !Dst.GetTile(q.TX, q.TY) && Dst.FBackColour == FBackColour) return;
      // A new tile that the piece covers whole is written once, by the copy.
      TTC* d = Dst.MakeTile(q.TX, q.TY, q.W != kSide || q.H != kSide);
      if (!d) return;
      if (s)
        s->CopyRectTo(*d, q.SrcX, q.SrcY, q.W, q.H, q.DstX, q.DstY);
      else
        d->FillRect(q.DstX, q.DstY, q.W, q.H, FBackColour);
    });
  });
}

void TBlockImage::CloneTo(TBlockImage& Dst) const {
  if (&Dst == this) return;
  Dst.FreeAll();
  Dst.FBackColour = FBackColour;
  for (int32_t ty = 0; ty <= std::min(FHeight / kSide, kGridSide - 1); ++ty)
    for (int32_t tx = 0; tx <= std::min(FWidth / kSide, kGridSide - 1); ++tx) {
      const TTC* s = GetTile(tx, ty);
      if (!s) continue;
      if (TTC* d = Dst.MakeTile(tx, ty, false)) s->CopyRectTo(*d, 0, 0, kSide, kSide, 0, 0);
    }
}

void TBlockImage::BlendColourThroughMask(const TBlockChannel& Mask, int32_t X, int32_t Y, int32_t W, int32_t H,
                                         uint32_t Colour) {
  if (!ClipToGrid(X, Y, W, H)) return;
  WalkRect(X, Y, W, H, [&](const TTilePart& p) {
    const TChannel* m = Mask.GetTile(p.TX, p.TY);
    if (!m) return;
    if (TTC* t = MakeTile(p.TX, p.TY, true))
      t->BlendColourThroughMask(*m, p.SubX, p.SubY, p.SubW, p.SubH, p.SubX, p.SubY, Colour);
  });
}

void TBlockImage::WriteRow(int32_t y, int32_t x0, int32_t n, const uint32_t* in) {
  if (y < 0 || n <= 0) return;
  const int64_t first = std::max<int64_t>(x0, 0), last = std::min<int64_t>(int64_t(x0) + n - 1, GridRight() - 1);
  if (first > last) return;
  ForTileSegments(int32_t(first), int32_t(last), [&](int32_t tx, int32_t a, int32_t b) {
    if (TTC* t = MakeTile(tx, TileIndex(y), true))
      std::memcpy(TileRow(*t, TileOffset(y)) + TileOffset(a), in + (a - x0), size_t(b - a + 1) * 4);
  });
}

void TBlockImage::Rotate180To(TBlockImage& Dst) const {
  const int32_t w = Dst.Width(), h = Dst.Height();
  if (&Dst == this) {
    // Onto itself the second half reads pixels already turned: pixel by pixel.
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) Dst.SetPixel(x, y, GetPixel(w - 1 - x, h - 1 - y));
    return;
  }
  std::vector<uint32_t> row(size_t(std::max(w, 0)));
  for (int32_t y = 0; y < h; ++y) {
    ReadRow(h - 1 - y, 0, w, row.data());
    std::reverse(row.begin(), row.end());
    Dst.WriteRow(y, 0, w, row.data());
  }
}

// ---- whole-paper moves -------------------------------------------------------------------

void TBlockImage::Swap(TBlockImage& Other) {
  std::swap(FWidth, Other.FWidth);
  std::swap(FHeight, Other.FHeight);
  std::swap(FBackColour, Other.FBackColour);
  Tiles.swap(Other.Tiles);
}

void TBlockImage::RetireTiles(int32_t tx0, int32_t tx1, int32_t ty0, int32_t ty1, TSpareTiles& Spare) {
  for (int32_t ty = std::max(ty0, 0); ty <= std::min(ty1, kGridSide - 1); ++ty)
    for (int32_t tx = std::max(tx0, 0); tx <= std::min(tx1, kGridSide - 1); ++tx)
      if (auto& t = Tiles[Slot(tx, ty)]) Spare.push_back(std::move(t));
}

TTC* TBlockImage::ReuseTile(int32_t tx, int32_t ty, TSpareTiles& Spare, bool Whole) {
  if (!IsTileInGrid(tx, ty)) return nullptr;
  auto& slot = Tiles[Slot(tx, ty)];
  if (!slot && !Spare.empty()) {
    slot = std::move(Spare.back());
    Spare.pop_back();
    if (!Whole) static_cast<TTC*>(slot.get())->Fill(FBackColour);
  }
  return slot ? static_cast<TTC*>(slot.get()) : MakeTile(tx, ty, !Whole);
}

namespace {
// A tile row of the source, or a row of background where the tile is absent.
struct TRowSource {
  const TBlockImage& Img;
  std::array<uint32_t, kSide> Back;
  explicit TRowSource(const TBlockImage& img) : Img(img) { Back.fill(img.BackColour()); }
  const uint32_t* Row(int32_t tx, int32_t y) const {
    const TTC* t = Img.GetTile(tx, TBlock::TileIndex(y));
    return t ? t->Row32(TBlock::TileOffset(y)) : Back.data();
  }
  bool AnyTile(int32_t tx0, int32_t tx1, int32_t ty0, int32_t ty1) const {
    for (int32_t ty = ty0; ty <= ty1; ++ty)
      for (int32_t tx = tx0; tx <= tx1; ++tx)
        if (Img.GetTile(tx, ty)) return true;
    return false;
  }
};

// The tiles with pixels inside a w x h image, rows outer: f(tx, ty, x0, x1, y0, y1) with the
// inside part x0..x1 by y0..y1; after each tile row, done(ty).
template <class F, class Done>
void ForImageTiles(int32_t w, int32_t h, F f, Done done) {
  for (int32_t ty = 0; ty <= std::min(h / kSide, TBlock::kGridSide - 1); ++ty) {
    for (int32_t tx = 0; tx <= std::min(w / kSide, TBlock::kGridSide - 1); ++tx) {
      const int32_t x0 = kSide * tx, y0 = kSide * ty;
      const int32_t x1 = std::min(x0 + kSide, w) - 1, y1 = std::min(y0 + kSide, h) - 1;
      if (x1 >= x0 && y1 >= y0) f(tx, ty, x0, x1, y0, y1);
    }
    done(ty);
  }
}

// Tile-local transpose: out row j, column i := rows[i][j] for i < n, j < m; square blocks
// where the part is a whole tile, 4 x 4 in vector registers where there are any.
inline void TransposeInto(TTC& out, const uint32_t* const* rows, int32_t n, int32_t m) {
  if (n == kSide && m == kSide) {
#if defined(__SSE2__)
    for (int32_t jb = 0; jb < kSide; jb += 4)
      for (int32_t ib = 0; ib < kSide; ib += 4) {
        const __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[ib] + jb));
        const __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[ib + 1] + jb));
        const __m128i r2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[ib + 2] + jb));
        const __m128i r3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[ib + 3] + jb));
        const __m128i lo01 = _mm_unpacklo_epi32(r0, r1), lo23 = _mm_unpacklo_epi32(r2, r3);
        const __m128i hi01 = _mm_unpackhi_epi32(r0, r1), hi23 = _mm_unpackhi_epi32(r2, r3);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out.Row32(jb) + ib), _mm_unpacklo_epi64(lo01, lo23));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out.Row32(jb + 1) + ib), _mm_unpackhi_epi64(lo01, lo23));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out.Row32(jb + 2) + ib), _mm_unpacklo_epi64(hi01, hi23));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out.Row32(jb + 3) + ib), _mm_unpackhi_epi64(hi01, hi23));
      }
#else
    for (int32_t jb = 0; jb < kSide; jb += 8)
      for (int32_t ib = 0; ib < kSide; ib += 8) {
        uint32_t block[8][8];
        for (int32_t i = 0; i < 8; ++i)
          for (int32_t j = 0; j < 8; ++j) block[j][i] = rows[ib + i][jb + j];
        for (int32_t j = 0; j < 8; ++j) std::memcpy(out.Row32(jb + j) + ib, block[j], sizeof block[j]);
      }
#endif
    return;
  }
  for (int32_t j = 0; j < m; ++j) {
    uint32_t* o = out.Row32(j);
    for (int32_t i = 0; i < n; ++i) o[i] = rows[i][j];
  }
}

inline bool WholeTile(int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
  return x1 - x0 == kSide - 1 && y1 - y0 == kSide - 1;
}
}  // namespace

// Destination pixel (x, y) is source pixel (x - dx, y - dy). Destination tile rows ascend, and
// so do the source tile rows they read: those above the next destination row are spent.
void TBlockImage::ShiftTo(TBlockImage& Dst, int32_t dx, int32_t dy) {
  if (TileOffset(dx) == 0 && TileOffset(dy) == 0) return ShiftTilesTo(Dst, dx, dy);
  const TRowSource src(*this);
  TSpareTiles spare;
  const int64_t W = FWidth, H = FHeight;
  ForImageTiles(
      Dst.FWidth, Dst.FHeight,
      [&](int32_t tx, int32_t ty, int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
        // The part covered by the source.
        const int64_t a0 = std::max<int64_t>(x0, dx), a1 = std::min<int64_t>(x1, dx + W - 1);
        const int64_t b0 = std::max<int64_t>(y0, dy), b1 = std::min<int64_t>(y1, dy + H - 1);
        if (a0 > a1 || b0 > b1) return;
        if (!src.AnyTile(TileIndex(int32_t(a0 - dx)), TileIndex(int32_t(a1 - dx)), TileIndex(int32_t(b0 - dy)),
                         TileIndex(int32_t(b1 - dy))))
          return;
        TTC* d = Dst.ReuseTile(tx, ty, spare, WholeTile(int32_t(a0), int32_t(a1), int32_t(b0), int32_t(b1)));
        if (!d) return;
        for (int64_t y = b0; y <= b1; ++y) {
          uint32_t* out = d->Row32(int32_t(y - y0));
          ForTileSegments(int32_t(a0 - dx), int32_t(a1 - dx), [&](int32_t stx, int32_t p, int32_t q) {
            std::memcpy(out + (p + dx - x0), src.Row(stx, int32_t(y - dy)) + TileOffset(p), size_t(q - p + 1) * 4);
          });
        }
      },
      [&](int32_t ty) {
        const int64_t next = int64_t(kSide) * (ty + 1) - dy;  // the first source row still to read
        if (next > 0) RetireTiles(0, kGridSide - 1, 0, int32_t(std::min<int64_t>(next, H + kSide)) / kSide - 1, spare);
      });
}

// A shift by whole tiles lays each source tile on exactly one destination tile at the same
// tile-local place: the tile itself moves there, and only what it holds outside the source or
// the destination becomes the background, as the copy leaves it. Interior tiles are not read.
void TBlockImage::ShiftTilesTo(TBlockImage& Dst, int32_t dx, int32_t dy) {
  const int64_t W = FWidth, H = FHeight;
  const int32_t sx = dx / kSide, sy = dy / kSide;
  ForImageTiles(
      Dst.FWidth, Dst.FHeight,
      [&](int32_t tx, int32_t ty, int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
        const int64_t a0 = std::max<int64_t>(x0, dx), a1 = std::min<int64_t>(x1, dx + W - 1);
        const int64_t b0 = std::max<int64_t>(y0, dy), b1 = std::min<int64_t>(y1, dy + H - 1);
        if (a0 > a1 || b0 > b1) return;
        auto& from = Tiles[Slot(tx - sx, ty - sy)];  // inside the grid: it holds source pixel (a0 - dx, b0 - dy)
        if (!from) return;
        auto& to = Dst.Tiles[Slot(tx, ty)];
        to = std::move(from);
        TTC& t = *static_cast<TTC*>(to.get());
        const int32_t l = int32_t(a0 - x0), r = int32_t(a1 - x0) + 1, top = int32_t(b0 - y0), bottom = int32_t(b1 - y0) + 1;
        if (l == 0 && top == 0 && r == kSide && bottom == kSide) return;
        t.FillRect(0, 0, kSide, top, FBackColour);
        t.FillRect(0, bottom, kSide, kSide - bottom, FBackColour);
        t.FillRect(0, top, l, bottom - top, FBackColour);
        t.FillRect(r, top, kSide - r, bottom - top, FBackColour);
      },
      [](int32_t) {});
  FreeAll();
}

// Destination pixel (x, y) is source pixel (y, H - 1 - x): destination tile row ty reads only
// source tile column ty.
void TBlockImage::RotateRightTo(TBlockImage& Dst) {
  const TRowSource src(*this);
  TSpareTiles spare;
  const int32_t H = FHeight;
  ForImageTiles(
      Dst.FWidth, Dst.FHeight,
      [&](int32_t tx, int32_t ty, int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
        if (!src.AnyTile(ty, ty, TileIndex(H - 1 - x1), TileIndex(H - 1 - x0))) return;
        TTC* d = Dst.ReuseTile(tx, ty, spare, WholeTile(x0, x1, y0, y1));
        if (!d) return;
        // Destination column x is source row H - 1 - x (its columns y0..y1 at 0..).
        const uint32_t* rows[kSide];
        const int32_t n = x1 - x0 + 1;
        for (int32_t i = 0; i < n; ++i) rows[i] = src.Row(ty, H - 1 - (x0 + i));
        TransposeInto(*d, rows, n, y1 - y0 + 1);
      },
      [&](int32_t ty) { RetireTiles(ty, ty, 0, kGridSide - 1, spare); });
}

// Destination pixel (x, y) is source pixel (W - 1 - y, x): destination tile column tx reads
// only source tile row tx, so the destination is walked by columns.
void TBlockImage::RotateLeftTo(TBlockImage& Dst) {
  const TRowSource src(*this);
  TSpareTiles spare;
  const int32_t W = FWidth;
  // The transposed walk: tile (tx, ty) of the destination is visited as (ty, tx).
  ForImageTiles(
      Dst.FHeight, Dst.FWidth,
      [&](int32_t ty, int32_t tx, int32_t y0, int32_t y1, int32_t x0, int32_t x1) {
        if (!src.AnyTile(TileIndex(W - 1 - y1), TileIndex(W - 1 - y0), tx, tx)) return;
        TTC* d = Dst.ReuseTile(tx, ty, spare, WholeTile(x0, x1, y0, y1));
        if (!d) return;
        const int32_t hi = W - 1 - y0, lo = W - 1 - y1;  // source columns, read right to left
        const int32_t split = TileIndex(hi) * kSide;      // columns from here on lie in hi's tile
        const int32_t lowerBase = TileIndex(lo) * kSide;
        // Destination column x is source row x read from column hi down to lo: reversed into a
        // row buffer first, then transposed.
        uint32_t flipped[kSide][kSide];
        const uint32_t* rows[kSide];
        const int32_t n = x1 - x0 + 1, m = y1 - y0 + 1;
        for (int32_t i = 0; i < n; ++i) {
          const uint32_t* upper = src.Row(TileIndex(hi), x0 + i);
          const uint32_t* lower = src.Row(TileIndex(lo), x0 + i);
          for (int32_t j = 0; j < m; ++j) {
            const int32_t sx = hi - j;
            flipped[i][j] = sx >= split ? upper[sx - split] : lower[sx - lowerBase];
          }
          rows[i] = flipped[i];
        }
        TransposeInto(*d, rows, n, m);
      },
      [&](int32_t tx) { RetireTiles(0, kGridSide - 1, tx, tx, spare); });
}

// The 4 x 4 samples of TTC::ShrinkTo4x4 over this image's pixels. Per destination row the
// samples of its four source rows are summed down each needed column first, then four column
// sums across; blue and red, green and alpha travel as pairs of 16-bit lanes (16 samples of
// at most 255 fit), so every channel is the same sum divided by 16.
void TBlockImage::ShrinkTo4x4(TBlockImage& Dst) {
  const int32_t dw = Dst.FWidth, dh = Dst.FHeight, sw = FWidth, sh = FHeight;
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
  const int64_t fx = TruncInt(ext_t(sw) / ext_t(dw) * 1024.0L), fy = TruncInt(ext_t(sh) / ext_t(dh) * 1024.0L);
  const int64_t sx = TruncInt(ext_t(sw) / ext_t(dw) / 4 * 1024.0L), sy = TruncInt(ext_t(sh) / ext_t(dh) / 4 * 1024.0L);
  auto sourceRow = [&](int64_t y, int j) { return int32_t(std::min<int64_t>((fy * y + sy * j) >> 10, sh - 1)); };
  std::vector<int32_t> cols(size_t(dw) * 4);
  for (int64_t x = 0; x < dw; ++x)
    for (int i = 0; i < 4; ++i) cols[size_t(x * 4 + i)] = int32_t(std::min<int64_t>((fx * x + sx * i) >> 10, sw - 1));
  const TRowSource src(*this);
  TSpareTiles spare;
  std::vector<uint32_t> sumBR, sumGA;
  for (int32_t y = 0; y < dh; ++y) {
    int32_t rows[4];
    for (int j = 0; j < 4; ++j) rows[j] = sourceRow(y, j);
    const int32_t ty0 = TileIndex(rows[0]), ty1 = TileIndex(rows[3]);
    // A row sampled more than once (every row when enlarging or shrinking by less than 4) is
    // read once and added at its weight, as shifted copies for the weight's bits: the same
    // integer sums.
    int32_t distinct[4], weight[4], nd = 0;
    for (int j = 0; j < 4; ++j) {
      if (nd > 0 && distinct[nd - 1] == rows[j]) ++weight[nd - 1];
      else distinct[nd] = rows[j], weight[nd++] = 1;
    }
    ForTileSegments(0, dw - 1, [&](int32_t tx, int32_t a, int32_t b) {
      const int32_t c0 = cols[size_t(a) * 4], c1 = cols[size_t(b) * 4 + 3];
      // Samples from absent tiles only: the background, which stays absent.
      if (!src.AnyTile(TileIndex(c0), TileIndex(c1), ty0, ty1)) return;
      TTC* d = Dst.ReuseTile(tx, TileIndex(y), spare, false);
      if (!d) return;
      sumBR.assign(size_t(c1 - c0 + 1), 0);
      sumGA.assign(size_t(c1 - c0 + 1), 0);
      ForTileSegments(c0, c1, [&](int32_t stx, int32_t p, int32_t q) {
        uint32_t* br = sumBR.data() + (p - c0);
        uint32_t* ga = sumGA.data() + (p - c0);
        const int32_t n = q - p + 1, off = TileOffset(p);
        for (int d = 0; d < nd; ++d) {
          const uint32_t* row = src.Row(stx, distinct[d]) + off;
          for (int b = 0; b < 3; ++b) {
            if (!(weight[d] >> b & 1)) continue;
            for (int32_t k = 0; k < n; ++k) {
              br[k] += (row[k] & 0x00FF00FFu) << b;
              ga[k] += ((row[k] >> 8) & 0x00FF00FFu) << b;
            }
          }
        }
      });
      uint32_t* out = d->Row32(TileOffset(y));
      for (int32_t x = a; x <= b; ++x) {
        const int32_t* c = &cols[size_t(x) * 4];
        uint32_t br = 0, ga = 0;
        for (int i = 0; i < 4; ++i) br += sumBR[size_t(c[i] - c0)], ga += sumGA[size_t(c[i] - c0)];
        out[TileOffset(x)] = ((br >> 4) & 0x00FF00FFu) | (((ga >> 4) & 0x00FF00FFu) << 8);
      }
    });
    // At the end of a destination tile row, the source tile rows above the next row's are spent.
    if (TileOffset(y) == kSide - 1 && y + 1 < dh) RetireTiles(0, kGridSide - 1, 0, TileIndex(sourceRow(y + 1, 0)) - 1, spare);
  }
}

void TBlockImage::FlipVertical() {
  // Column by column through a buffer is the same as exchanging rows y and Height-1-y.
  std::vector<uint32_t> top(static_cast<size_t>(FWidth)), bottom(static_cast<size_t>(FWidth));
  for (int32_t y = 0, z = FHeight - 1; y <= z; ++y, --z) {
    ReadRow(y, 0, FWidth, top.data());
    ReadRow(z, 0, FWidth, bottom.data());
    WriteRow(y, 0, FWidth, bottom.data());
    WriteRow(z, 0, FWidth, top.data());
  }
}

void TBlockImage::FlipHorizontal() {
  std::vector<uint32_t> row(static_cast<size_t>(FWidth));
  for (int32_t y = 0; y < FHeight; ++y) {
    ReadRow(y, 0, FWidth, row.data());
    std::reverse(row.begin(), row.end());
    WriteRow(y, 0, FWidth, row.data());
  }
}

void TBlockImage::Invert() {
  int32_t X = 0, Y = 0, W = FWidth, H = FHeight;
  if (!ClipToGrid(X, Y, W, H)) return;
  WalkRect(X, Y, W, H, [&](const TTilePart& p) {
    TTC* t = MakeTile(p.TX, p.TY, true);
    if (!t) return;
    for (int32_t j = p.SubY; j < p.SubY + p.SubH; ++j) {
      uint32_t* row = TileRow(*t, j);
      for (int32_t i = p.SubX; i < p.SubX + p.SubW; ++i) row[i] = ~row[i];
    }
  });
}

// ---- mask tiles -------------------------------------------------------------------------

TChannel* TBlockChannel::GetTile(int32_t tx, int32_t ty) const {
  if (!IsTileInGrid(tx, ty)) return nullptr;
  return Tiles[Slot(tx, ty)].get();
}

TChannel* TBlockChannel::MakeTile(int32_t tx, int32_t ty) {
  if (!IsTileInGrid(tx, ty)) return nullptr;
  auto& slot = Tiles[Slot(tx, ty)];
  if (!slot) {
    std::unique_ptr<TChannel> t(new (std::nothrow) TChannel(kSide, kSide));  // zeroed
    if (!t || t->Width() != kSide || t->Height() != kSide) return nullptr;
    slot = std::move(t);
  }
  return slot.get();
}

void TBlockChannel::ReadMaskRow(int32_t y, int32_t x0, int32_t n, uint8_t* out) const {
  for (int32_t x = x0, end = x0 + n; x < end;) {
    const int32_t stop = std::min(end, (TileIndex(x) + 1) * kSide);
    const TChannel* t = x >= 0 && y >= 0 ? GetTile(TileIndex(x), TileIndex(y)) : nullptr;
    if (t)
      std::memcpy(out, MaskRow(*t, TileOffset(y)) + TileOffset(x), size_t(stop - x));
    else
      std::fill(out, out + (stop - x), uint8_t(0));
    out += stop - x;
    x = stop;
  }
}

uint8_t TBlockChannel::ChannelGetPixel(int32_t x, int32_t y) const {
  if (x < 0 || y < 0) return 0;
  const TChannel* t = GetTile(TileIndex(x), TileIndex(y));
  return t ? MaskRow(*t, TileOffset(y))[TileOffset(x)] : 0;
}

void TBlockChannel::ChannelBlendPixel(int32_t x, int32_t y, uint8_t Value, uint8_t Alpha) {
  if (x < 0 || y < 0) return;
  if (TChannel* t = MakeTile(TileIndex(x), TileIndex(y))) t->BlendPixel(TileOffset(x), TileOffset(y), Value, Alpha);
}

void TBlockChannel::StoreMax(int32_t x, int32_t y, uint8_t c, bool Max) {
  if (Max && ChannelGetPixel(x, y) >= c) return;
  ChannelBlendPixel(x, y, c, 255);
}

void TBlockChannel::ChannelFillRect(int32_t X, int32_t Y, int32_t W, int32_t H, uint8_t Value) {
  if (!ClipToGrid(X, Y, W, H)) return;
  WalkRect(X, Y, W, H, [&](const TTilePart& p) {
    if (TChannel* t = MakeTile(p.TX, p.TY)) t->FillRect(p.SubX, p.SubY, p.SubW, p.SubH, Value);
  });
}

void TBlockChannel::CombineChannelRect(TBlockChannel& Dst, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H,
                                       int32_t DstX, int32_t DstY, uint8_t Mode) const {
  if (Mode > cmSubtract) return;
  int32_t x = SrcX, y = SrcY, w = W, h = H;
  if (!ClipToGrid(x, y, w, h)) return;
  int64_t dx0 = int64_t(DstX) + (int64_t(x) - SrcX), dy0 = int64_t(DstY) + (int64_t(y) - SrcY);
  WalkRect(x, y, w, h, [&](const TTilePart& p) {
    const TChannel* s = GetTile(p.TX, p.TY);
    SplitArea(dx0 + p.OffX, dy0 + p.OffY, p.SubX, p.SubY, p.SubW, p.SubH, [&](const TPiece& q) {
      if (!Dst.IsTileInGrid(q.TX, q.TY)) return;
      if (!s) {
        // An absent source tile is zeros: copy and and clear what exists, add and subtract keep it.
        if (Mode == cmCopy || Mode == cmAnd)
          if (TChannel* d = Dst.GetTile(q.TX, q.TY)) d->FillRect(q.DstX, q.DstY, q.W, q.H, 0);
        return;
      }
      TChannel* t = Dst.MakeTile(q.TX, q.TY);
      if (!t) return;
      TChannel& d = *t;
      switch (Mode) {
        case cmCopy: s->CopyRectTo(d, q.SrcX, q.SrcY, q.W, q.H, q.DstX, q.DstY); break;
        case cmAdd: s->AddRectTo(d, q.SrcX, q.SrcY, q.W, q.H, q.DstX, q.DstY, 255); break;
        case cmAnd: s->AndRectTo(d, q.SrcX, q.SrcY, q.W, q.H, q.DstX, q.DstY); break;
        case cmSubtract: s->SubtractRectFrom(d, q.SrcX, q.SrcY, q.W, q.H, q.DstX, q.DstY, 255); break;
      }
    });
  });
}

// ---- image dabs -------------------------------------------------------------------------

void TBlockImage::DrawDisc(uint32_t Colour, bool Soft, float cx, float cy, float r, float Opacity) {
  if (!SaneDab(cx, cy, r)) return;
  if (r < 3) Soft = false;
  const int64_t A = TruncInt(static_cast<ext_t>(Opacity) * 255.0L);
  const TDiscGrid g(4, cx, cy, r);
  int32_t x0, x1, y0, y1;
  if (!PixelRange(static_cast<ext_t>(cx) - r, static_cast<ext_t>(cx) + r, GridRight(), x0, x1)) return;
  if (!PixelRange(static_cast<ext_t>(cy) - r, static_cast<ext_t>(cy) + r, GridBottom(), y0, y1)) return;
  const uint32_t c = Colour | 0xFF000000u;
  // A hard dab blends every fully covered pixel at one alpha.
  const uint8_t fullAlpha = static_cast<uint8_t>(A);
  const bool oneAlpha = !Soft;
  for (int32_t y = y0; y <= y1; ++y) {
    const int64_t dy = 4 * int64_t(y) - g.CY;
    const TDiscGrid::TRowCover cover = g.Row(dy);
    const int64_t lo = std::max<int64_t>(cover.Lo, x0), hi = std::min<int64_t>(cover.Hi, x1);
    if (lo > hi) continue;
    const TDiscGrid::TSubRows sub = g.SubRows(dy);
    ForTileSegments(int32_t(lo), int32_t(hi), [&](int32_t tx, int32_t first, int32_t last) {
      TTC* t = MakeTile(tx, TileIndex(y), true);
      if (!t) return;
      uint32_t* row = TileRow(*t, TileOffset(y));
      // The alphas of pixels a..b, then one blend over them.
      uint8_t alphas[kSide];
      auto blendSpan = [&](int32_t a, int32_t b) {
        if (a > b) return;
        for (int32_t x = a; x <= b; ++x) {
          const int64_t dx = 4 * int64_t(x) - g.CX;
          int64_t alpha;
          if (x >= cover.FullLo && x <= cover.FullHi) {
            alpha = Soft ? (A * g.Soft(dx, dy)) >> 8 : A;
          } else {
            const int64_t P = g.Samples<4>(dx, sub);
            alpha = Soft ? (((A * P) * g.Soft(dx, dy)) >> 8) / 16 : (A * P) / 16;
          }
          alphas[x - a] = static_cast<uint8_t>(alpha);
        }
        BlendPixelRun(row + TileOffset(a), alphas, b - a + 1, c);
      };
      const int32_t fullFirst = int32_t(std::max<int64_t>(first, cover.FullLo));
      const int32_t fullLast = int32_t(std::min<int64_t>(last, cover.FullHi));
      if (!oneAlpha || fullFirst > fullLast) {
        blendSpan(first, last);
        return;
      }
      blendSpan(first, fullFirst - 1);
      BlendPixelRun(row + TileOffset(fullFirst), nullptr, fullLast - fullFirst + 1, c, fullAlpha);
      blendSpan(fullLast + 1, last);
    });
  }
}

namespace {
inline uint32_t OpaqueBGR(uint32_t r, uint32_t g, uint32_t b) {
  return 0xFF000000u | ((r & 0xFF) << 16) | ((g & 0xFF) << 8) | (b & 0xFF);
}

// Number of positions of [lo, hi] below 0 and above n-1 (they read the edge pixels).
inline int64_t CountBelow(int64_t lo, int64_t hi) { return lo < 0 ? std::min<int64_t>(hi, -1) - lo + 1 : 0; }
inline int64_t CountAbove(int64_t lo, int64_t hi, int64_t n) {
  return hi > n - 1 ? hi - std::max<int64_t>(lo, n) + 1 : 0;
}
}  // namespace

// The plain box sum, used when source and destination are the same block (the pixels
// then change while they are read).
void TBlockImage::BlurDiscPlain(const TBlockImage& Src, int32_t a, float cx, float cy, float r) {
  const TDiscGrid g(4, cx, cy, r);
  int32_t x0, x1, y0, y1;
  if (!PixelRange(static_cast<ext_t>(cx) - r, static_cast<ext_t>(cx) + r + 1, GridRight(), x0, x1)) return;
  if (!PixelRange(static_cast<ext_t>(cy) - r, static_cast<ext_t>(cy) + r + 1, GridBottom(), y0, y1)) return;
  const uint32_t div = uint32_t(uint64_t(2 * int64_t(a) + 1) * uint64_t(2 * int64_t(a) + 1));
  for (int32_t y = y0; y <= y1; ++y)
    for (int32_t x = x0; x <= x1; ++x) {
      int64_t dx = 4 * int64_t(x) - g.CX, dy = 4 * int64_t(y) - g.CY;
      if (g.Corners(dx, dy) != 4) continue;
      uint32_t sa = 0, sr = 0, sg = 0, sb = 0;
      for (int64_t j = int64_t(y) - a; j <= int64_t(y) + a; ++j)
        for (int64_t i = int64_t(x) - a; i <= int64_t(x) + a; ++i)
          Src.GetPixelChannels(Clamp32(i), Clamp32(j), true, sa, sr, sg, sb);
      BlendPixel(x, y, OpaqueBGR(sr / div, sg / div, sb / div), static_cast<uint8_t>(g.Soft(dx, dy)));
    }
}

void TBlockImage::BlurDisc(const TBlockImage& Src, int32_t a, float cx, float cy, float r) {
  if (!SaneDab(cx, cy, r)) return;
  if (a <= 0) a = 1;
  if (&Src == this) return BlurDiscPlain(Src, a, cx, cy, r);
  const TDiscGrid g(4, cx, cy, r);
  if (g.R2 <= 0) return;  // no pixel has all four corners inside
  int32_t x0, x1, y0, y1;
  if (!PixelRange(static_cast<ext_t>(cx) - r, static_cast<ext_t>(cx) + r + 1, GridRight(), x0, x1)) return;
  if (!PixelRange(static_cast<ext_t>(cy) - r, static_cast<ext_t>(cy) + r + 1, GridBottom(), y0, y1)) return;

  // Box sums by running column sums: the result equals the plain sum over (2a+1)^2 clamped
  // reads, modulo 2^32 as the plain 32-bit sums are.
  const int64_t A = a;
  const int32_t sw = std::max(Src.Width(), 1), sh = std::max(Src.Height(), 1);
  const int32_t cL = ClampRead(int64_t(x0) - A, sw), cR = ClampRead(int64_t(x1) + A, sw);
  const size_t n = size_t(cR - cL + 1);
  std::vector<uint32_t> vb(n), vg(n), vr(n), row(n);
  auto addRow = [&](int64_t q, uint32_t times, bool subtract) {
    Src.ReadRow(ClampRead(q, sh), cL, int32_t(n), row.data());
    for (size_t i = 0; i < n; ++i) {
      uint32_t c = row[i];
      uint32_t b = (c & 0xFF) * times, gg = ((c >> 8) & 0xFF) * times, rr = ((c >> 16) & 0xFF) * times;
      if (subtract)
        vb[i] -= b, vg[i] -= gg, vr[i] -= rr;
      else
        vb[i] += b, vg[i] += gg, vr[i] += rr;
    }
  };
  {
    const int64_t lo = int64_t(y0) - A, hi = int64_t(y0) + A;
    if (int64_t k = CountBelow(lo, hi)) addRow(0, uint32_t(k), false);
    if (int64_t k = CountAbove(lo, hi, sh)) addRow(sh - 1, uint32_t(k), false);
    for (int64_t q = std::max<int64_t>(lo, 0); q <= std::min<int64_t>(hi, sh - 1); ++q) addRow(q, 1, false);
  }
  const uint32_t div = uint32_t(uint64_t(2 * A + 1) * uint64_t(2 * A + 1));
  std::vector<uint32_t> pb(n + 1), pg(n + 1), pr(n + 1);
  for (int32_t y = y0; y <= y1; ++y) {
    if (y > y0) {
      addRow(int64_t(y) - 1 - A, 1, true);
      addRow(int64_t(y) + A, 1, false);
    }
    const int64_t dy = 4 * int64_t(y) - g.CY;
    const TDiscGrid::TRowCover cover = g.Row(dy);
    const int64_t first = std::max<int64_t>(cover.FullLo, x0), last = std::min<int64_t>(cover.FullHi, x1);
    if (first > last) continue;  // only pixels with all four corners inside are drawn
    for (size_t i = 0; i < n; ++i) pb[i + 1] = pb[i] + vb[i], pg[i + 1] = pg[i] + vg[i], pr[i + 1] = pr[i] + vr[i];
    for (int32_t x = int32_t(first); x <= int32_t(last); ++x) {
      const int64_t dx = 4 * int64_t(x) - g.CX;
      const int64_t lo = int64_t(x) - A, hi = int64_t(x) + A;
      const int64_t l = std::max<int64_t>(lo, 0), h = std::min<int64_t>(hi, sw - 1);
      uint32_t sb = 0, sg = 0, sr = 0;
      if (l <= h) {
        size_t il = size_t(l - cL), ih = size_t(h - cL + 1);
        sb = pb[ih] - pb[il], sg = pg[ih] - pg[il], sr = pr[ih] - pr[il];
      }
      if (int64_t k = CountBelow(lo, hi)) {
        size_t i0 = size_t(0 - cL);
        sb += uint32_t(k) * vb[i0], sg += uint32_t(k) * vg[i0], sr += uint32_t(k) * vr[i0];
      }
      if (int64_t k = CountAbove(lo, hi, sw)) {
        size_t i1 = size_t(sw - 1 - cL);
        sb += uint32_t(k) * vb[i1], sg += uint32_t(k) * vg[i1], sr += uint32_t(k) * vr[i1];
      }
      BlendPixel(x, y, OpaqueBGR(sr / div, sg / div, sb / div), static_cast<uint8_t>(g.Soft(dx, dy)));
    }
  }
}

void TBlockImage::ReadRow(int32_t y, int32_t x0, int32_t n, uint32_t* out) const {
  int32_t x = x0, end = x0 + n;
  while (x < end) {
    int32_t stop = std::min(end, (TileIndex(x) + 1) * kSide);
    const TTC* t = x >= 0 && y >= 0 ? GetTile(TileIndex(x), TileIndex(y)) : nullptr;
    if (t)
      std::memcpy(out, TileRow(*t, TileOffset(y)) + TileOffset(x), size_t(stop - x) * 4);
    else
      std::fill(out, out + (stop - x), FBackColour);
    out += stop - x;
    x = stop;
  }
}

void TBlockImage::ReadClampedRow(int32_t q, int64_t p0, int32_t n, uint32_t* out) const {
  const int32_t y = ClampRead(q, FHeight);
  const int64_t a = std::max<int64_t>(p0, 0), b = std::min<int64_t>(p0 + n - 1, int64_t(FWidth) - 1);
  if (a > b) {
    for (int32_t i = 0; i < n; ++i) out[i] = GetPixel(ClampRead(p0 + i, FWidth), y);
    return;
  }
  const int32_t left = int32_t(a - p0), mid = int32_t(b - a + 1);
  std::fill(out, out + left, GetPixel(0, y));
  ReadRow(y, int32_t(a), mid, out + left);
  std::fill(out + left + mid, out + n, GetPixel(FWidth - 1, y));
}

namespace {
// The smoothing of one pixel: m the mask value, up/mid/down the clamped source rows with the
// pixel at index 1.
inline uint32_t Smooth3x3(uint32_t m, const uint32_t* up, const uint32_t* mid, const uint32_t* down) {
  const uint32_t wc = 32 - std::min<uint32_t>(m, 31);
  uint32_t sb = 0, sg = 0, sr = 0;
  auto add = [&](uint32_t c, uint32_t w) {
    sb += w * (c & 0xFF), sg += w * ((c >> 8) & 0xFF), sr += w * ((c >> 16) & 0xFF);
  };
  add(up[0], 1), add(up[1], 1), add(up[2], 1);
  add(mid[0], 1), add(mid[1], wc), add(mid[2], 1);
  add(down[0], 1), add(down[1], 1), add(down[2], 1);
  // sum(w*c*255) div sum(w*255) is sum(w*c) div sum(w): the factor cancels exactly.
  const uint32_t sw = wc + 8;
  return OpaqueBGR(sr / sw, sg / sw, sb / sw);
}
}  // namespace

void TBlockImage::MaskedSmooth(TBlockImage& Dst, const TBlockChannel& Mask, int32_t X, int32_t Y, int32_t W,
                               int32_t H) const {
  if (!Dst.ClipToGrid(X, Y, W, H)) return;
  if (&Dst == this) {
    // Onto itself every read sees the pixels written before it: pixel by pixel.
    uint32_t up[3], mid[3], down[3];
    for (int32_t y = Y; y < Y + H; ++y)
      for (int32_t x = X; x < X + W; ++x) {
        const uint32_t m = Mask.ChannelGetPixel(x, y);
        if (m <= 1) {
          Dst.SetPixel(x, y, GetPixel(x, y));
          continue;
        }
        ReadClampedRow(y - 1, int64_t(x) - 1, 3, up);
        ReadClampedRow(y, int64_t(x) - 1, 3, mid);
        ReadClampedRow(y + 1, int64_t(x) - 1, 3, down);
        Dst.SetPixel(x, y, Smooth3x3(m, up, mid, down));
      }
    return;
  }
  const size_t n = size_t(W);
  std::vector<uint32_t> up(n + 2), mid(n + 2), down(n + 2), centre(n), out(n);
  std::vector<uint8_t> mask(n);
  for (int32_t y = Y; y < Y + H; ++y) {
    ReadClampedRow(y - 1, int64_t(X) - 1, W + 2, up.data());
    ReadClampedRow(y, int64_t(X) - 1, W + 2, mid.data());
    ReadClampedRow(y + 1, int64_t(X) - 1, W + 2, down.data());
    ReadRow(y, X, W, centre.data());
    Mask.ReadMaskRow(y, X, W, mask.data());
    for (size_t i = 0; i < n; ++i)
      out[i] = mask[i] <= 1 ? centre[i] : Smooth3x3(mask[i], &up[i], &mid[i], &down[i]);
    ForTileSegments(X, X + W - 1, [&](int32_t tx, int32_t first, int32_t last) {
      if (TTC* t = Dst.MakeTile(tx, TileIndex(y), true))
        std::memcpy(TileRow(*t, TileOffset(y)) + TileOffset(first), &out[size_t(first - X)], size_t(last - first + 1) * 4);
    });
  }
}

// ---- mask dabs and spans ----------------------------------------------------------------

namespace {
// The shape of a keep-maximum mask dab, worked out once for a disc shape and stamped for every
// dab of that shape, whatever its value. Pixel x of a dab with CX = 5 QX + RX (floor division)
// has dx = 5 (x - QX) - RX, so the shape depends on R^2, RX, RY, the soft edge and the
// small-disc rule only; the dab's own pixel range still clips the stamp. Each pixel keeps its
// count of inside samples P (25 where all four corners are inside, 0 where none is, unless the
// disc is small) and its soft factor S; its value is then (V P) / 25, or ((V P S) >> 8) / 25
// with a soft edge. Both equal the row walk's values: with P = 25 they are V and (V S) >> 8,
// since floor(floor(z) / 25) = floor(z / 25).
struct TDabStamp {
  int64_t R2 = -1, RX = 0, RY = 0;
  bool Soft = false, Small = false;
  int32_t U0 = 0, T0 = 0, Side = 0;  // shape of the pixels (U0 .. U0 + Side - 1, T0 ..)
  std::vector<uint8_t> Count;        // P per pixel
  std::vector<uint8_t> Factor;       // S per pixel (soft shapes only)
  std::vector<int32_t> RowLo, RowHi;  // per row, the first and last column that can get a value
  std::vector<int32_t> RunLo, RunHi;  // per row of a hard shape, the columns with all 25 samples
  bool Fits(int64_t r2, int64_t rx, int64_t ry, bool soft, bool small) const {
    return R2 == r2 && RX == rx && RY == ry && Soft == soft && Small == small;
  }
};

// Stamps for discs up to this grid radius (r below about 20 pixels); larger dabs are drawn row
// by row, whose runs of full coverage cost less than stamping them.
constexpr int64_t kStampMaxGridRadius = 100;

inline int64_t FloorDiv5(int64_t a) { return a >= 0 ? a / 5 : -((-a + 4) / 5); }

// The counts and factors as ChannelDisc's row walk finds them: a row's corner cover tells the
// pixels with all or no corners inside, only the others count their samples.
void BuildStamp(TDabStamp& st, const TDiscGrid& g, bool Soft, bool small) {
  const int64_t R = std::llround(std::sqrt(double(g.R2)));  // R2 is R squared
  st.U0 = st.T0 = -int32_t(R / 5) - 2;
  st.Side = 2 * int32_t(R / 5) + 5;
  const size_t side = size_t(st.Side);
  st.Count.assign(side * side, 0);
  st.Factor.assign(Soft ? side * side : 0, 0);
  st.RowLo.assign(side, 1);
  st.RowHi.assign(side, 0);
  st.RunLo.assign(side, 1);
  st.RunHi.assign(side, 0);
  // Locals, not the stamp's fields: the byte stores below may alias anything.
  const TDiscGrid grid = g;
  const int32_t U0 = st.U0, T0 = st.T0, n = st.Side;
  for (int32_t t = 0; t < n; ++t) {
    const int64_t dy = 5 * int64_t(T0 + t) - grid.CY;
    const TDiscGrid::TSubRows sub = grid.SubRows(dy);
    // Pixel columns u with some corner inside (lo..hi) and with all four (fullLo..fullHi).
    int64_t lo = 0, hi = n - 1, fullLo = 1, fullHi = 0;
    if (!small) {
      const TDiscGrid::TRowCover cover = grid.Row(dy);
      lo = std::max<int64_t>(cover.Lo - U0, 0), hi = std::min<int64_t>(cover.Hi - U0, n - 1);
      fullLo = std::max(cover.FullLo - U0, lo), fullHi = std::min(cover.FullHi - U0, hi);
    }
    if (fullLo > fullHi) fullLo = hi + 1, fullHi = hi;  // no full run: all of lo..hi is edge
    uint8_t* count = st.Count.data() + size_t(t) * side;
    uint8_t* factor = Soft ? st.Factor.data() + size_t(t) * side : nullptr;
    int64_t first = -1, last = -1;
    // An edge pixel counts its samples; a fully covered one has all 25.
    auto one = [&](int64_t u, int64_t P) {
      const int64_t dx = 5 * int64_t(U0 + u) - grid.CX;
      const int64_t S = Soft ? grid.Soft(dx, dy) : 255;
      if (P == 0 || S == 0) return;
      count[u] = static_cast<uint8_t>(P);
      if (Soft) factor[u] = static_cast<uint8_t>(S);
      if (first < 0) first = u;
      last = u;
    };
    for (int64_t u = lo; u < fullLo; ++u) one(u, grid.Samples<5>(5 * int64_t(U0 + u) - grid.CX, sub));
    if (Soft) {
      for (int64_t u = fullLo; u <= fullHi; ++u) one(u, 25);
    } else if (fullLo <= fullHi) {
      std::memset(count + fullLo, 25, size_t(fullHi - fullLo + 1));
      if (first < 0) first = fullLo;
      last = fullHi;
      st.RunLo[size_t(t)] = int32_t(fullLo), st.RunHi[size_t(t)] = int32_t(fullHi);
    }
    for (int64_t u = fullHi + 1; u <= hi; ++u) one(u, grid.Samples<5>(5 * int64_t(U0 + u) - grid.CX, sub));
    if (first >= 0) st.RowLo[size_t(t)] = int32_t(first), st.RowHi[size_t(t)] = int32_t(last);
  }
}

// Recent shapes, one place for each of the 25 sub-pixel positions of 64 shape families: a
// stroke repeats its dab shapes as long as its size holds, whatever its pressure does to the
// value, and a size that drifts with the pressure goes back and forth between a few.
TDabStamp& StampFor(const TDiscGrid& g, int64_t rx, int64_t ry, bool Soft, bool small) {
  constexpr uint64_t kFamilies = 64;
  thread_local std::vector<TDabStamp> stamps(kFamilies * 25);
  const uint64_t family = uint64_t(g.R2) * 31 + uint64_t(Soft) * 2 + uint64_t(small);
  TDabStamp& st = stamps[size_t((family % kFamilies) * 25 + uint64_t(rx * 5 + ry))];
  if (st.Fits(g.R2, rx, ry, Soft, small)) return st;
  const TDiscGrid local(5, g.R2, rx, ry);
  BuildStamp(st, local, Soft, small);
  st.R2 = g.R2, st.RX = rx, st.RY = ry, st.Soft = Soft, st.Small = small;
  return st;
}

// Keeps the larger of each pixel and the stamp of value V placed at grid cell (QX, QY), within
// the dab's pixel range x0..x1 by y0..y1.
void StampDisc(TBlockChannel& m, const TDabStamp& st, int64_t V, int64_t QX, int64_t QY, int32_t x0, int32_t x1,
               int32_t y0, int32_t y1) {
  // A hard value depends on the count alone.
  std::array<uint8_t, 26> hard{};
  for (int32_t P = 0; P <= 25; ++P) hard[size_t(P)] = static_cast<uint8_t>((V * P) / 25);
  std::array<uint8_t, 2 * kStampMaxGridRadius / 5 + 8> values;  // wider than any stamp row
  for (int32_t t = 0; t < st.Side; ++t) {
    const int64_t y = QY + st.T0 + t;
    if (y < y0 || y > y1 || st.RowLo[size_t(t)] > st.RowHi[size_t(t)]) continue;
    const int64_t a = std::max<int64_t>(QX + st.U0 + st.RowLo[size_t(t)], x0);
    const int64_t b = std::min<int64_t>(QX + st.U0 + st.RowHi[size_t(t)], x1);
    if (a > b) continue;
    const int64_t left = QX + st.U0;  // the pixel of column 0
    const size_t u0 = size_t(a - left), n = size_t(b - a + 1);
    const uint8_t* count = st.Count.data() + size_t(t) * size_t(st.Side) + u0;
    if (st.Soft) {
      const uint8_t* factor = st.Factor.data() + size_t(t) * size_t(st.Side) + u0;
      for (size_t i = 0; i < n; ++i)
        values[i] = static_cast<uint8_t>(((V * count[i] * factor[i]) >> 8) / 25);
    } else {
      // The run of full pixels is V throughout; only its edges look their counts up.
      const int64_t r0 = std::max<int64_t>(left + st.RunLo[size_t(t)], a) - a;
      const int64_t r1 = std::min<int64_t>(left + st.RunHi[size_t(t)], b) - a;
      if (r0 > r1) {
        for (size_t i = 0; i < n; ++i) values[i] = hard[count[i]];
      } else {
        for (size_t i = 0; i < size_t(r0); ++i) values[i] = hard[count[i]];
        std::memset(values.data() + r0, hard[25], size_t(r1 - r0 + 1));
        for (size_t i = size_t(r1) + 1; i < n; ++i) values[i] = hard[count[i]];
      }
    }
    ForTileSegments(int32_t(a), int32_t(b), [&](int32_t tx, int32_t first, int32_t last) {
      const int32_t ty = TBlock::TileIndex(int32_t(y)), k = last - first + 1;
      const uint8_t* c = values.data() + (first - a);
      TChannel* tile = m.GetTile(tx, ty);
      if (!tile) {
        // A tile only for a value above 0, as a store would make it.
        if (std::all_of(c, c + k, [](uint8_t v) { return v == 0; }) || !m.EnsureChannelTileAt(tx, ty)) return;
        tile = m.GetTile(tx, ty);
      }
      uint8_t* __restrict row = MaskRow(*tile, TBlock::TileOffset(int32_t(y))) + TBlock::TileOffset(first);
      const uint8_t* __restrict from = c;
      for (int32_t i = 0; i < k; ++i) row[i] = std::max(row[i], from[i]);  // keeps the larger coverage
    });
  }
}
}  // namespace

void TBlockChannel::ChannelDisc(uint8_t Value, bool Max, float cx, float cy, float r, float Opacity, bool Soft) {
  if (!(r > 0) || !SaneDab(cx, cy, r)) return;
  const int64_t V = TruncInt(static_cast<ext_t>(Value) * Opacity);
  const TDiscGrid g(5, cx, cy, r);
  int32_t x0, x1, y0, y1;
  if (!PixelRange(static_cast<ext_t>(cx) - r, static_cast<ext_t>(cx) + r, GridRight(), x0, x1)) return;
  if (!PixelRange(static_cast<ext_t>(cy) - r, static_cast<ext_t>(cy) + r, GridBottom(), y0, y1)) return;
  // Small discs sample every pixel of their square; larger ones the pixels with a corner inside.
  const bool small = r <= 3;
  if (Max && g.R2 <= kStampMaxGridRadius * kStampMaxGridRadius) {
    const int64_t QX = FloorDiv5(g.CX), QY = FloorDiv5(g.CY);
    StampDisc(*this, StampFor(g, g.CX - 5 * QX, g.CY - 5 * QY, Soft, small), V, QX, QY, x0, x1, y0, y1);
    return;
  }
  for (int32_t y = y0; y <= y1; ++y) {
    const int64_t dy = 5 * int64_t(y) - g.CY;
    TDiscGrid::TRowCover cover;  // no pixel fully covered
    int64_t lo = x0, hi = x1;
    if (!small) {
      cover = g.Row(dy);
      lo = std::max<int64_t>(cover.Lo, x0), hi = std::min<int64_t>(cover.Hi, x1);
      if (lo > hi) continue;
    }
    const TDiscGrid::TSubRows sub = g.SubRows(dy);
    // A pixel without a sample inside gets 0: left alone, though a blend still makes its tile.
    int64_t sampledLo = 1, sampledHi = 0;
    if (!g.SampledColumns(sub, sampledLo, sampledHi) && Max) continue;
    // A partly covered pixel: its share of the 25 samples.
    auto partial = [&](int64_t dx) {
      const int64_t P = g.Samples<5>(dx, sub);
      return Soft ? (((V * P) * g.Soft(dx, dy)) >> 8) / 25 : (V * P) / 25;
    };
    ForTileSegments(int32_t(lo), int32_t(hi), [&](int32_t tx, int32_t first, int32_t last) {
      TChannel* t = GetTile(tx, TileIndex(y));
      uint8_t* row = t ? MaskRow(*t, TileOffset(y)) : nullptr;
      auto ensure = [&] {
        if (!row && (t = MakeTile(tx, TileIndex(y)))) row = MaskRow(*t, TileOffset(y));
        return row != nullptr;
      };
      auto one = [&](int32_t x, bool full) {
        const int64_t dx = 5 * int64_t(x) - g.CX;
        const uint8_t c = static_cast<uint8_t>(full ? (Soft ? (V * g.Soft(dx, dy)) >> 8 : V) : partial(dx));
        const uint8_t old = row ? row[TileOffset(x)] : 0;
        if (Max && old >= c) return;  // keeps the larger coverage; no tile for nothing
        if (!ensure()) return;
        uint8_t& p = row[TileOffset(x)];
        p = (Max || full) ? c : (c == 255 ? Value : BlendByte(p, Value, c));
      };
      if (small) {
        if (!Max && !ensure()) return;
        const int64_t a = std::max<int64_t>(first, sampledLo), b = std::min<int64_t>(last, sampledHi);
        for (int64_t x = a; x <= b; ++x) one(int32_t(x), false);
        return;
      }
      const int32_t fullFirst = int32_t(std::max<int64_t>(first, cover.FullLo));
      const int32_t fullLast = int32_t(std::min<int64_t>(last, cover.FullHi));
      if (fullFirst > fullLast) {
        for (int32_t x = first; x <= last; ++x) one(x, false);
        return;
      }
      if (Soft) {
        for (int32_t x = first; x <= last; ++x) one(x, x >= fullFirst && x <= fullLast);
        return;
      }
      for (int32_t x = first; x < fullFirst; ++x) one(x, false);
      // A hard run of fully covered pixels: one value throughout.
      const uint8_t c = static_cast<uint8_t>(V);
      if ((!Max || c > 0) && ensure()) {
        uint8_t* p = row + TileOffset(fullFirst);
        const int32_t n = fullLast - fullFirst + 1;
        if (Max)
          for (int32_t i = 0; i < n; ++i) p[i] = std::max(p[i], c);
        else
          std::memset(p, c, size_t(n));
      }
      for (int32_t x = fullLast + 1; x <= last; ++x) one(x, false);
    });
  }
}

namespace {
// Coverage of pixel p (1/64 pixel steps) by the segment centred on mid with half-length half.
inline int64_t SpanCoverage(int64_t p, int64_t mid, int64_t half, int64_t t) {
  int64_t u = mid - 64 * p;
  if ((u < 0 ? -u : u) + 64 < half) return t;
  // i in 0..63 with |64p + i - mid| < half
  int64_t base = 64 * p - mid;
  int64_t lo = std::max<int64_t>(0, -half - base + 1), hi = std::min<int64_t>(63, half - base - 1);
  int64_t n = hi >= lo ? hi - lo + 1 : 0;
  return n * t / 64;
}
}  // namespace

void TBlockChannel::ChannelHSpan(int32_t y, uint8_t Value, float x1, float x2, float Opacity, bool Max) {
  if (y < 0 || y >= GridBottom()) return;
  const int64_t t = static_cast<uint8_t>(TruncInt(static_cast<ext_t>(Value) * Opacity));
  const int64_t half = TruncInt((static_cast<ext_t>(x2) - x1) / 2 * 64);
  const int64_t mid = TruncInt((static_cast<ext_t>(x1) + x2) / 2 * 64);
  int32_t a, b;
  if (!PixelRange(static_cast<ext_t>(x1) - 1, static_cast<ext_t>(x2) + 1, GridRight(), a, b)) return;
  ForTileSegments(a, b, [&](int32_t tx, int32_t first, int32_t last) {
    TChannel* tile = GetTile(tx, TileIndex(y));
    for (int32_t x = first; x <= last; ++x) {
      const uint8_t c = static_cast<uint8_t>(SpanCoverage(x, mid, half, t));
      if (Max && (tile ? MaskRow(*tile, TileOffset(y))[TileOffset(x)] : 0) >= c) continue;
      if (!tile && !(tile = MakeTile(tx, TileIndex(y)))) return;
      MaskRow(*tile, TileOffset(y))[TileOffset(x)] = c;
    }
  });
}

void TBlockChannel::ChannelVSpan(int32_t x, uint8_t Value, float y1, float y2, float Opacity, bool Max) {
  if (x < 0 || x >= GridRight()) return;
  const int64_t t = static_cast<uint8_t>(TruncInt(static_cast<ext_t>(Value) * Opacity));
  const int64_t half = TruncInt((static_cast<ext_t>(y2) - y1) / 2 * 64);
  const int64_t mid = TruncInt((static_cast<ext_t>(y1) + y2) / 2 * 64);
  int32_t a, b;
  if (!PixelRange(static_cast<ext_t>(y1) - 1, static_cast<ext_t>(y2) + 1, GridBottom(), a, b)) return;
  ForTileSegments(a, b, [&](int32_t ty, int32_t first, int32_t last) {
    TChannel* tile = GetTile(TileIndex(x), ty);
    for (int32_t y = first; y <= last; ++y) {
      const uint8_t c = static_cast<uint8_t>(SpanCoverage(y, mid, half, t));
      if (Max && (tile ? MaskRow(*tile, TileOffset(y))[TileOffset(x)] : 0) >= c) continue;
      if (!tile && !(tile = MakeTile(TileIndex(x), ty))) return;
      MaskRow(*tile, TileOffset(y))[TileOffset(x)] = c;
    }
  });
}

// ---- polygon fill -----------------------------------------------------------------------

namespace {
// One edge seen by one pass: u is the axis the pass steps along (y for rows, x for columns),
// v the axis of the spans. The larger u end is lowered by 0.01 so that a shared vertex is
// counted once and a local extreme not at all; ends are ordered by u.
struct TPassEdge {
  float U1, V1, U2, V2;  // U1 < U2 after ordering
  ext_t DV, DU;          // V2 - V1 and U2 - U1, as every crossing computes them
  bool Flat;             // |dx| >= |dy| of the lowered edge
  float Run;             // |dv / du|
  int64_t First, Last;   // the rows (columns) whose sub-lines may meet the edge
  int32_t Index;
};

// A crossing as one sortable number: the position's bits ordered as the floats are, then the
// edge index, so that equal positions keep the order of the edges.
inline uint64_t CrossingKey(float pos, int32_t index) {
  uint32_t b;
  pos += 0.0f;  // -0 sorts as +0
  std::memcpy(&b, &pos, 4);
  b = (b & 0x80000000u) ? ~b : (b | 0x80000000u);
  return (uint64_t(b) << 32) | uint32_t(index);
}
inline float CrossingPos(uint64_t key) {
  uint32_t b = uint32_t(key >> 32);
  b = (b & 0x80000000u) ? (b & 0x7FFFFFFFu) : ~b;
  float f;
  std::memcpy(&f, &b, 4);
  return f;
}

// The ends of the edge a-b as a pass sees them (rows = true for the row pass, u = y), the
// larger u end lowered; false when the edge is parallel to the sub-lines.
inline bool PassEnds(const TPoint& a, const TPoint& b, bool rows, float& u1, float& v1, float& u2, float& v2) {
  const float x1 = float(a.X), y1 = float(a.Y), x2 = float(b.X), y2 = float(b.Y);
  u1 = rows ? y1 : x1, u2 = rows ? y2 : x2, v1 = rows ? x1 : y1, v2 = rows ? x2 : y2;
  if (u1 == u2) return false;
  if (u1 > u2)
    u1 = float(static_cast<ext_t>(u1) - 0.01L);
  else
    u2 = float(static_cast<ext_t>(u2) - 0.01L);
  return true;
}

// Builds the pass edges; rows = true for the row pass (u = y).
std::vector<TPassEdge> PassEdges(const std::vector<TPoint>& p, bool rows) {
  std::vector<TPassEdge> edges;
  edges.reserve(p.size());
  for (size_t i = 0; i + 1 < p.size(); ++i) {
    float u1, v1, u2, v2;
    if (!PassEnds(p[i], p[i + 1], rows, u1, v1, u2, v2)) continue;  // parallel to the sub-lines: no crossing
    float ex1 = rows ? v1 : u1, ey1 = rows ? u1 : v1, ex2 = rows ? v2 : u2, ey2 = rows ? u2 : v2;
    TPassEdge e;
    e.Flat = std::fabs(static_cast<ext_t>(ex2) - ex1) >= std::fabs(static_cast<ext_t>(ey2) - ey1);
    e.Run = float(std::fabs((static_cast<ext_t>(v2) - v1) / (static_cast<ext_t>(u2) - u1)));
    if (u1 > u2) std::swap(u1, u2), std::swap(v1, v2);
    e.U1 = u1, e.V1 = v1, e.U2 = u2, e.V2 = v2;
    if (u1 == u2) continue;  // the lowering met float resolution: treat as parallel
    e.DV = static_cast<ext_t>(v2) - v1;
    e.DU = static_cast<ext_t>(u2) - u1;
    // Sub-lines of row n lie in [n, n + 0.75]; one row of margin either side.
    e.First = int64_t(std::floor(static_cast<ext_t>(u1))) - 1;
    e.Last = int64_t(std::floor(static_cast<ext_t>(u2))) + 1;
    e.Index = int32_t(i);
    edges.push_back(e);
  }
  return edges;
}

// An edge while its rows (columns) are visited, packed so that the crossings read it from cache.
struct TActiveEdge {
  ext_t DV, DU;
  float U1, U2, V1;
  int32_t Index;
  int64_t Last;
};

// The mean crossing of the edge with the sub-lines s[0..3] = n + 0, 0.25, 0.5, 0.75; false
// when none meets it.
inline bool MeanCrossing(const TActiveEdge& e, const ext_t (&s)[4], float& pos) {
  if (s[0] >= e.U1 && s[3] <= e.U2) {
    // All four meet it (the common case): the same sums without the tests.
    const float c0 = float(static_cast<ext_t>(e.V1) + (s[0] - e.U1) * e.DV / e.DU);
    const float c1 = float(static_cast<ext_t>(e.V1) + (s[1] - e.U1) * e.DV / e.DU);
    const float c2 = float(static_cast<ext_t>(e.V1) + (s[2] - e.U1) * e.DV / e.DU);
    const float c3 = float(static_cast<ext_t>(e.V1) + (s[3] - e.U1) * e.DV / e.DU);
    float sum = 0;
    sum = float(static_cast<ext_t>(sum) + c0);
    sum = float(static_cast<ext_t>(sum) + c1);
    sum = float(static_cast<ext_t>(sum) + c2);
    sum = float(static_cast<ext_t>(sum) + c3);
    pos = float(static_cast<ext_t>(sum) / 4);
    return true;
  }
  float sum = 0;
  int count = 0;
  for (int k = 0; k < 4; ++k) {
    if (s[k] < e.U1 || s[k] > e.U2) continue;
    float c = float(static_cast<ext_t>(e.V1) + (s[k] - e.U1) * e.DV / e.DU);
    sum = float(static_cast<ext_t>(sum) + c);
    ++count;
  }
  if (count == 0) return false;
  pos = float(static_cast<ext_t>(sum) / count);
  return true;
}

// Sorts crossing keys ascending. Many crossings go first into buckets by position (a
// monotone map, so equal positions share a bucket), each bucket then sorted on its own.
class TCrossingSorter {
 public:
  void Sort(std::vector<uint64_t>& keys, float limit) {
    const size_t n = keys.size();
    if (n < 64 || !(limit > 0)) {
      SortRange(keys.data(), keys.data() + n);
      return;
    }
    const uint32_t inner = uint32_t(std::min<size_t>(n / 2, 1u << 20));
    const uint32_t buckets = inner + 2;  // one below 0, one at or past the limit
    const double scale = double(inner) / double(limit);
    FBucket.resize(n);
    FCount.assign(size_t(buckets) + 1, 0);
    for (size_t i = 0; i < n; ++i) {
      const float pos = CrossingPos(keys[i]);
      uint32_t b;
      if (!(pos > 0))
        b = 0;
      else if (pos >= limit)
        b = buckets - 1;
      else
        b = 1 + std::min(uint32_t(double(pos) * scale), inner - 1);
      FBucket[i] = b;
      ++FCount[b + 1];
    }
    for (uint32_t b = 0; b < buckets; ++b) FCount[b + 1] += FCount[b];
    FOut.resize(n);
    {
      std::vector<uint32_t>& at = FAt;
      at.assign(FCount.begin(), FCount.end() - 1);
      for (size_t i = 0; i < n; ++i) FOut[at[FBucket[i]]++] = keys[i];
    }
    for (uint32_t b = 0; b < buckets; ++b) SortRange(FOut.data() + FCount[b], FOut.data() + FCount[b + 1]);
    keys.swap(FOut);
  }

 private:
  static void SortRange(uint64_t* first, uint64_t* last) {
    if (last - first > 24) {
      std::sort(first, last);
      return;
    }
    for (uint64_t* i = first + (first != last); i < last; ++i) {
      const uint64_t v = *i;
      uint64_t* j = i;
      for (; j > first && *(j - 1) > v; --j) *j = *(j - 1);
      *j = v;
    }
  }
  std::vector<uint32_t> FBucket, FCount, FAt;
  std::vector<uint64_t> FOut;
};

// One pass over lines n = from .. to; span(n, a, b) draws a pair. Pulled-in ends follow the
// edge's flat flag (row pass) or its negation (column pass). Each line visits only the edges
// whose range of lines covers it.
template <class Span>
void PolygonPass(std::vector<TPassEdge> edges, int64_t from, int64_t to, float limit,
                 bool pullWhenFlat, Span span) {
  // Flag and run by edge index, compact so that the pairs read them from cache.
  size_t count = 0;
  for (const TPassEdge& e : edges) count = std::max(count, size_t(e.Index) + 1);
  std::vector<float> runOf(count);
  std::vector<uint8_t> flatOf(count);
  for (const TPassEdge& e : edges) runOf[size_t(e.Index)] = e.Run, flatOf[size_t(e.Index)] = e.Flat;
  std::sort(edges.begin(), edges.end(), [](const TPassEdge& a, const TPassEdge& b) { return a.First < b.First; });
  std::vector<TActiveEdge> active;
  active.reserve(edges.size());
  std::vector<uint64_t> cross;
  cross.reserve(edges.size());
  TCrossingSorter sorter;
  size_t next = 0;
  for (int64_t n = from; n <= to; ++n) {
    // Lines between the edges' ranges meet nothing.
    if (active.empty()) {
      if (next == edges.size()) break;
      n = std::max(n, edges[next].First);
      if (n > to) break;
    }
    for (; next < edges.size() && edges[next].First <= n; ++next) {
      const TPassEdge& e = edges[next];
      active.push_back(TActiveEdge{e.DV, e.DU, e.U1, e.U2, e.V1, e.Index, e.Last});
    }
    // The crossings are ordered by (position, index) below, so the order of the active edges
    // does not matter: a finished edge is replaced by the last.
    for (size_t i = 0; i < active.size();) {
      if (active[i].Last < n) {
        active[i] = active.back();
        active.pop_back();
      } else {
        ++i;
      }
    }
    const ext_t s[4] = {static_cast<ext_t>(n) + 0.25L * 0, static_cast<ext_t>(n) + 0.25L * 1,
                        static_cast<ext_t>(n) + 0.25L * 2, static_cast<ext_t>(n) + 0.25L * 3};
    cross.clear();
    for (const TActiveEdge& e : active) {
      float pos;
      if (MeanCrossing(e, s, pos)) cross.push_back(CrossingKey(pos, e.Index));
    }
    // Ascending by position; equal positions keep the order of the edges.
    sorter.Sort(cross, limit);
    for (size_t k = 0; k + 1 < cross.size(); k += 2) {
      const size_t l = uint32_t(cross[k]), r = uint32_t(cross[k + 1]);
      float a = std::max(CrossingPos(cross[k]), 0.0f), b = std::min(CrossingPos(cross[k + 1]), limit);
      if (bool(flatOf[l]) == pullWhenFlat) a = float(static_cast<ext_t>(a) + static_cast<ext_t>(runOf[l]) / 2);
      if (bool(flatOf[r]) == pullWhenFlat) b = float(static_cast<ext_t>(b) - static_cast<ext_t>(runOf[r]) / 2);
      if (b > a) span(int32_t(n), a, b);
    }
  }
}
}  // namespace

namespace {
// The fill keeps at most this many crossings for one row or column. A polygon with more on any
// line it fills is refused whole: it draws nothing, wherever it is played, and its cost stays
// bounded by the lines it fills.
constexpr int32_t kMaxLineCrossings = 1000;

// True when some line of from..to of the pass has more crossings than the fill keeps. An edge
// crosses line n when one of the sub-lines n + 0, 0.25, 0.5, 0.75 lies within its lowered ends
// (both included): the sub-lines are the quarter steps q / 4 with 4 u1 <= q <= 4 u2 (exact in
// double), and their lines a run from floor(qa / 4) to floor(qb / 4).
bool TooManyCrossings(const std::vector<TPoint>& p, bool rows, int64_t from, int64_t to) {
  if (to < from || p.size() <= size_t(kMaxLineCrossings) + 1) return false;
  std::vector<int32_t> starts(size_t(to - from + 2), 0);
  auto floor4 = [](int64_t q) { return q >= 0 ? q / 4 : -((-q + 3) / 4); };
  for (size_t i = 0; i + 1 < p.size(); ++i) {
    float u1, v1, u2, v2;
    if (!PassEnds(p[i], p[i + 1], rows, u1, v1, u2, v2)) continue;
    if (u1 > u2) std::swap(u1, u2);
    if (u1 == u2) continue;  // no edge, as the pass drops it
    const double qa = std::ceil(4.0 * double(u1)), qb = std::floor(4.0 * double(u2));
    if (qa > qb) continue;
    const int64_t a = std::max(floor4(int64_t(qa)), from), b = std::min(floor4(int64_t(qb)), to);
    if (a > b) continue;
    ++starts[size_t(a - from)];
    --starts[size_t(b - from + 1)];
  }
  int64_t open = 0;
  for (size_t i = 0; i + 1 < starts.size(); ++i)
    if ((open += starts[i]) > kMaxLineCrossings) return true;
  return false;
}
}  // namespace

void TBlockChannel::FillPolygon(const TPoint* Points, int32_t N) {
  if (!Points || N <= 0) return;
  std::vector<TPoint> p;
  p.reserve(size_t(N) + 1);
  p.assign(Points, Points + N);
  p.push_back(p.front());  // close the outline
  p.erase(std::unique(p.begin(), p.end()), p.end());
  if (p.size() < 4) return;  // fewer than three corners
  int64_t xmin = 10000, xmax = 0, ymin = 10000, ymax = 0;
  for (const TPoint& q : p) {
    xmin = std::min<int64_t>(xmin, q.X), xmax = std::max<int64_t>(xmax, q.X);
    ymin = std::min<int64_t>(ymin, q.Y), ymax = std::max<int64_t>(ymax, q.Y);
  }
  xmin = std::max<int64_t>(xmin, 0), ymin = std::max<int64_t>(ymin, 0);
  xmax = std::min<int64_t>(xmax, FWidth), ymax = std::min<int64_t>(ymax, FHeight);
  if (TooManyCrossings(p, true, ymin, ymax) || TooManyCrossings(p, false, xmin, xmax)) return;
  PolygonPass(PassEdges(p, true), ymin, ymax, float(FWidth), true,
              [this](int32_t y, float a, float b) { ChannelHSpan(y, 255, a, b, 1.0f, true); });
  PolygonPass(PassEdges(p, false), xmin, xmax, float(FHeight), false,
              [this](int32_t x, float a, float b) { ChannelVSpan(x, 255, a, b, 1.0f, true); });
}

// ---- mask morphology --------------------------------------------------------------------

void TBlockChannel::Morph(TBlockChannel& Dst, bool AnySet) const {
  for (int32_t y = 0; y < FHeight; ++y)
    for (int32_t x = 0; x < FWidth; ++x) {
      int set = 0;
      for (int32_t j = -1; j <= 1; ++j)
        for (int32_t i = -1; i <= 1; ++i) set += ChannelGetPixel(x + i, y + j) == 255;
      bool on = AnySet ? set > 0 : set == 9;
      Dst.ChannelBlendPixel(x, y, on ? 255 : 0, 255);
    }
}

void TBlockChannel::Dilate(TBlockChannel& Dst) const { Morph(Dst, true); }
void TBlockChannel::Erode(TBlockChannel& Dst) const { Morph(Dst, false); }

void TBlockChannel::SmoothSteps(TBlockChannel& Dst) const {
  CombineChannel(Dst, 0, 0, cmCopy);
  int32_t xmin = INT32_MAX, xmax = -1, ymin = INT32_MAX, ymax = -1;
  for (int32_t y = 0; y < FHeight; ++y)
    for (int32_t x = 0; x < FWidth; ++x)
      if (ChannelGetPixel(x, y)) xmin = std::min(xmin, x), xmax = std::max(xmax, x), ymin = std::min(ymin, y), ymax = std::max(ymax, y);
  if (xmax < 0) return;
  auto G = [this](int32_t x, int32_t y) { return ChannelGetPixel(x, y); };
  // The ramp into the line holding the 0: 255 - step, 255 - 2 step, ... at positions
  // first, first +- 1, ..., last. It never lowers a pixel the source holds at 255 and stays
  // inside the image.
  auto ramp = [&](bool alongX, int32_t line, int32_t first, int32_t last) {
    int32_t dir = last >= first ? 1 : -1;
    int32_t L = (last - first) * dir + 1;
    int32_t step = 255 / L;
    for (int32_t k = 0; k < L; ++k) {
      int32_t p = first + k * dir;
      int32_t x = alongX ? p : line, y = alongX ? line : p;
      if (x < 0 || y < 0 || x >= FWidth || y >= FHeight || G(x, y) == 255) continue;
      Dst.ChannelBlendPixel(x, y, uint8_t(255 - (k + 1) * step), 255);
    }
  };
  auto stair = [](uint8_t full0, uint8_t full1, uint8_t s0, uint8_t s1) {
    return full0 == 255 && full1 == 255 && ((s0 == 255 && s1 == 0) || (s0 == 0 && s1 == 255));
  };
  for (int32_t y = ymin; y <= ymax; ++y) {
    for (int32_t x = 0; x < FWidth;) {
      uint8_t r0 = G(x, y), r1 = G(x, y + 1);
      if (!stair(G(x - 1, y), G(x - 1, y + 1), r0, r1)) {
        ++x;
        continue;
      }
      int32_t e = x;
      while (e < FWidth && G(e, y) == r0 && G(e, y + 1) == r1) ++e;
      ramp(true, r0 == 0 ? y : y + 1, x, e);
      x = e;
    }
    for (int32_t x = FWidth - 2; x > 0;) {
      uint8_t l0 = G(x, y), l1 = G(x, y + 1);
      if (!stair(G(x + 1, y), G(x + 1, y + 1), l0, l1)) {
        --x;
        continue;
      }
      int32_t e = x;
      while (e > 0 && G(e, y) == l0 && G(e, y + 1) == l1) --e;
      ramp(true, l0 == 0 ? y : y + 1, x, e);
      x = e;
    }
  }
  for (int32_t x = xmin; x <= xmax; ++x) {
    for (int32_t y = 0; y < FHeight;) {
      uint8_t c0 = G(x, y), c1 = G(x + 1, y);
      if (!stair(G(x, y - 1), G(x + 1, y - 1), c0, c1)) {
        ++y;
        continue;
      }
      int32_t e = y;
      while (e < FHeight && G(x, e) == c0 && G(x + 1, e) == c1) ++e;
      ramp(false, c0 == 0 ? x : x + 1, y, e);
      y = e;
    }
    for (int32_t y = FHeight - 2; y > 0;) {
      uint8_t c0 = G(x, y), c1 = G(x + 1, y);
      if (!stair(G(x, y + 1), G(x + 1, y + 1), c0, c1)) {
        --y;
        continue;
      }
      int32_t e = y;
      while (e > 0 && G(x, e) == c0 && G(x + 1, e) == c1) --e;
      ramp(false, c0 == 0 ? x : x + 1, y, e);
      y = e;
    }
  }
}

void TBlockChannel::ChannelToGrey(TTC& Canvas, int32_t X, int32_t Y, int32_t W, int32_t H) const {
  int32_t cw = Canvas.Width(), ch = Canvas.Height();
  if (W <= 0 || H <= 0 || cw <= 0 || ch <= 0) return;
  int64_t fx = TruncInt(static_cast<ext_t>(FWidth) / cw * 1024.0L);
  int64_t fy = TruncInt(static_cast<ext_t>(FHeight) / ch * 1024.0L);
  int32_t bx = TruncInt(static_cast<ext_t>(FWidth) / cw), by = TruncInt(static_cast<ext_t>(FHeight) / ch);
  uint32_t n = uint32_t(bx + 1) * uint32_t(by + 1);
  int64_t x0 = std::max<int64_t>(X, 0), x1 = std::min<int64_t>(int64_t(X) + W, cw - 1);
  int64_t y0 = std::max<int64_t>(Y, 0), y1 = std::min<int64_t>(int64_t(Y) + H, ch - 1);
  for (int64_t y = y0; y <= y1; ++y)
    for (int64_t x = x0; x <= x1; ++x) {
      int32_t sx = int32_t((fx * x) >> 10), sy = int32_t((fy * y) >> 10);
      uint32_t sum = 0;
      for (int32_t j = 0; j <= by; ++j)
        for (int32_t i = 0; i <= bx; ++i) sum += ChannelGetPixel(sx + i, sy + j);
      uint32_t m = sum / n;
      Canvas.SetPixel(int32_t(x), int32_t(y), 0xFF000000u | (m << 16) | (m << 8) | m);
    }
}
