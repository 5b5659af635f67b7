#include "video/plane.h"

#include <cstring>

#include "video/transform.h"

const uint8_t kRunScans[16][64] = {
    {0, 8, 16, 24, 32, 40, 48, 56, 57, 49, 41, 33, 25, 17, 9, 1, 2, 10, 18, 26, 34, 42, 50, 58, 59, 51, 43, 35, 27, 19, 11, 3, 4, 12, 20, 28, 36, 44, 52, 60, 61, 53, 45, 37, 29, 21, 13, 5, 6, 14, 22, 30, 38, 46, 54, 62, 63, 55, 47, 39, 31, 23, 15, 7},
    {59, 58, 57, 56, 48, 49, 50, 51, 43, 42, 41, 40, 32, 33, 34, 35, 27, 26, 25, 24, 16, 17, 18, 19, 11, 10, 9, 8, 0, 1, 2, 3, 4, 5, 6, 7, 15, 14, 13, 12, 20, 21, 22, 23, 31, 30, 29, 28, 36, 37, 38, 39, 47, 46, 45, 44, 52, 53, 54, 55, 63, 62, 61, 60},
    {25, 17, 18, 26, 27, 19, 11, 3, 2, 10, 9, 1, 0, 8, 16, 24, 32, 40, 48, 56, 57, 49, 41, 42, 50, 58, 59, 51, 43, 35, 34, 33, 29, 21, 22, 30, 31, 23, 15, 7, 6, 14, 13, 5, 4, 12, 20, 28, 36, 44, 52, 60, 61, 53, 45, 46, 54, 62, 63, 55, 47, 39, 38, 37},
    {3, 11, 2, 10, 1, 9, 0, 8, 16, 24, 17, 25, 18, 26, 19, 27, 35, 43, 34, 42, 33, 41, 32, 40, 48, 56, 49, 57, 50, 58, 51, 59, 60, 52, 61, 53, 62, 54, 63, 55, 47, 39, 46, 38, 45, 37, 44, 36, 28, 20, 29, 21, 30, 22, 31, 23, 15, 7, 14, 6, 13, 5, 12, 4},
    {24, 25, 16, 17, 8, 9, 0, 1, 2, 3, 10, 11, 18, 19, 26, 27, 28, 29, 20, 21, 12, 13, 4, 5, 6, 7, 14, 15, 22, 23, 30, 31, 39, 38, 47, 46, 55, 54, 63, 62, 61, 60, 53, 52, 45, 44, 37, 36, 35, 34, 43, 42, 51, 50, 59, 58, 57, 56, 49, 48, 41, 40, 33, 32},
    {0, 1, 2, 3, 8, 9, 10, 11, 16, 17, 18, 19, 24, 25, 26, 27, 32, 33, 34, 35, 40, 41, 42, 43, 48, 49, 50, 51, 56, 57, 58, 59, 4, 5, 6, 7, 12, 13, 14, 15, 20, 21, 22, 23, 28, 29, 30, 31, 36, 37, 38, 39, 44, 45, 46, 47, 52, 53, 54, 55, 60, 61, 62, 63},
    {6, 7, 15, 14, 13, 5, 12, 4, 3, 11, 2, 10, 9, 1, 0, 8, 16, 24, 17, 25, 18, 26, 19, 27, 20, 28, 21, 29, 22, 30, 23, 31, 39, 47, 38, 46, 37, 45, 36, 44, 35, 43, 34, 42, 33, 41, 32, 40, 49, 48, 56, 57, 58, 50, 59, 51, 60, 52, 61, 53, 54, 55, 63, 62},
    {0, 1, 2, 3, 4, 5, 6, 7, 15, 14, 13, 12, 11, 10, 9, 8, 16, 17, 18, 19, 20, 21, 22, 23, 31, 30, 29, 28, 27, 26, 25, 24, 32, 33, 34, 35, 36, 37, 38, 39, 47, 46, 45, 44, 43, 42, 41, 40, 48, 49, 50, 51, 52, 53, 54, 55, 63, 62, 61, 60, 59, 58, 57, 56},
    {0, 8, 9, 1, 2, 3, 11, 10, 18, 19, 27, 26, 25, 17, 16, 24, 32, 40, 41, 33, 34, 35, 43, 42, 50, 49, 48, 56, 57, 58, 59, 51, 52, 60, 61, 62, 63, 55, 54, 53, 45, 44, 36, 37, 38, 46, 47, 39, 31, 23, 22, 30, 29, 28, 20, 21, 13, 12, 4, 5, 6, 14, 15, 7},
    {24, 25, 16, 17, 8, 9, 0, 1, 2, 3, 10, 11, 18, 19, 26, 27, 28, 29, 20, 21, 12, 13, 4, 5, 6, 7, 14, 15, 22, 23, 30, 31, 38, 39, 46, 47, 54, 55, 62, 63, 60, 61, 52, 53, 44, 45, 36, 37, 34, 35, 42, 43, 50, 51, 58, 59, 56, 57, 48, 49, 40, 41, 32, 33},
    {0, 8, 1, 9, 2, 10, 3, 11, 19, 27, 18, 26, 17, 25, 16, 24, 32, 40, 33, 41, 34, 42, 35, 43, 51, 59, 50, 58, 49, 57, 48, 56, 60, 52, 61, 53, 62, 54, 63, 55, 47, 39, 46, 38, 45, 37, 44, 36, 31, 23, 30, 22, 29, 21, 28, 20, 12, 4, 13, 5, 14, 6, 15, 7},
    {0, 8, 16, 24, 25, 26, 27, 19, 11, 3, 2, 1, 9, 17, 18, 10, 4, 12, 20, 28, 29, 30, 31, 23, 15, 7, 6, 5, 13, 21, 22, 14, 36, 44, 52, 60, 61, 62, 63, 55, 47, 39, 38, 37, 45, 53, 54, 46, 32, 40, 48, 56, 57, 58, 59, 51, 43, 35, 34, 33, 41, 49, 50, 42},
    {0, 8, 9, 1, 2, 3, 11, 10, 19, 27, 26, 18, 17, 16, 24, 25, 33, 32, 40, 41, 42, 34, 35, 43, 51, 59, 58, 50, 49, 57, 56, 48, 52, 60, 61, 53, 54, 62, 63, 55, 47, 39, 38, 46, 45, 44, 36, 37, 29, 28, 20, 21, 22, 30, 31, 23, 14, 15, 7, 6, 5, 13, 12, 4},
    {24, 16, 8, 0, 1, 2, 3, 11, 19, 27, 26, 25, 17, 10, 9, 18, 28, 20, 12, 4, 5, 6, 7, 15, 23, 31, 30, 29, 21, 14, 13, 22, 60, 52, 44, 36, 37, 38, 39, 47, 55, 63, 62, 61, 53, 46, 45, 54, 56, 48, 40, 32, 33, 34, 35, 43, 51, 59, 58, 57, 49, 42, 41, 50},
    {0, 8, 9, 1, 2, 10, 18, 17, 16, 24, 25, 26, 27, 19, 11, 3, 7, 6, 14, 15, 23, 22, 21, 13, 5, 4, 12, 20, 28, 29, 30, 31, 63, 62, 54, 55, 47, 46, 45, 53, 61, 60, 52, 44, 36, 37, 38, 39, 56, 48, 49, 57, 58, 50, 42, 41, 40, 32, 33, 34, 35, 43, 51, 59},
    {0, 1, 8, 9, 16, 17, 24, 25, 32, 33, 40, 41, 48, 49, 56, 57, 58, 59, 50, 51, 42, 43, 34, 35, 26, 27, 18, 19, 10, 11, 2, 3, 4, 5, 12, 13, 20, 21, 28, 29, 36, 37, 44, 45, 52, 53, 60, 61, 62, 63, 54, 55, 46, 47, 38, 39, 30, 31, 22, 23, 14, 15, 6, 7},
};

namespace {

inline uint32_t replicate(uint32_t v) { return (v & 0xff) * 0x01010101u; }

inline void store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// Byte j of kNibbleMask[n] is 0xff when bit j of n is set (little-endian words).
constexpr uint32_t nibble_mask(uint32_t n) {
  return (n & 1 ? 0xffu : 0) | (n & 2 ? 0xff00u : 0) | (n & 4 ? 0xff0000u : 0) |
         (n & 8 ? 0xff000000u : 0);
}
constexpr uint32_t kNibbleMask[16] = {
    nibble_mask(0),  nibble_mask(1),  nibble_mask(2),  nibble_mask(3),
    nibble_mask(4),  nibble_mask(5),  nibble_mask(6),  nibble_mask(7),
    nibble_mask(8),  nibble_mask(9),  nibble_mask(10), nibble_mask(11),
    nibble_mask(12), nibble_mask(13), nibble_mask(14), nibble_mask(15)};
// Byte pairs 2j, 2j + 1 of kPairMask[n] are 0xffff when bit j of n (0 to 1) is set.
constexpr uint32_t kPairMask[4] = {0, 0xffffu, 0xffff0000u, 0xffffffffu};

// Rows of 8 samples move as one 8-byte copy (one 64-bit move where the machine has it, two
// 32-bit ones elsewhere).
inline void copy8(uint8_t* d, const uint8_t* s, ptrdiff_t stride) {
  for (int r = 0; r < 8; ++r, d += stride, s += stride) std::memcpy(d, s, 8);
}

// 8 × 8 local array → block.
inline void put8(uint8_t* d, const uint8_t* blk, ptrdiff_t stride) {
  for (int r = 0; r < 8; ++r, d += stride, blk += 8) std::memcpy(d, blk, 8);
}

// Block → 8 × 8 local array.
inline void get8(uint8_t* blk, const uint8_t* s, ptrdiff_t stride) {
  for (int r = 0; r < 8; ++r, s += stride, blk += 8) std::memcpy(blk, s, 8);
}

inline void fill_rows(uint8_t* d, ptrdiff_t stride, uint32_t v, int rows, int words) {
  uint32_t w = replicate(v);
  for (int r = 0; r < rows; ++r, d += stride)
    for (int i = 0; i < words; ++i) store32(d + 4 * i, w);
}

// 8 × 8 local array → 16 × 16 area, each sample a 2 × 2 square.
inline void put8_scaled(uint8_t* d, const uint8_t* blk, ptrdiff_t stride) {
  for (int r = 0; r < 8; ++r, blk += 8, d += 2 * stride) {
    for (int i = 0; i < 4; ++i) {
      uint32_t a = blk[2 * i], b = blk[2 * i + 1];
      uint32_t w = (a | a << 8) | (b | b << 8) << 16;
      store32(d + 4 * i, w);
      store32(d + stride + 4 * i, w);
    }
  }
}

struct PlaneState {
  BitReader r;
  PlaneStreams ps;
  const uint8_t* ref;
  uint32_t stride;
  uint32_t height;
  const IdctFunctions* idct;
};

// A motion-compensated source block, clamped into the reference plane.
inline const uint8_t* motion_source(PlaneState* st, uint32_t x, uint32_t y) {
  int32_t mx = stream_take_signed(&st->ps, kStreamXOffsets);
  int32_t my = stream_take_signed(&st->ps, kStreamYOffsets);
  int32_t sx = int32_t(x) + mx, sy = int32_t(y) + my;
  int32_t max_x = int32_t(st->stride) - 8, max_y = int32_t(st->height) - 8;
  sx = sx < 0 ? 0 : sx > max_x ? max_x : sx;
  sy = sy < 0 ? 0 : sy > max_y ? max_y : sy;
  return st->ref + size_t(sy) * st->stride + size_t(sx);
}

// Run block into a local 8 × 8 array. False when the runs pass position 64.
bool decode_runs(PlaneState* st, uint8_t blk[64]) {
  const uint8_t* scan = kRunScans[read_bits(&st->r, 4)];
  uint32_t i = 0;
  while (i < 63) {
    uint32_t fill = read_bit(&st->r);
    uint32_t run = stream_take(&st->ps, kStreamRunLengths) + 1;
    if (i + run > 64) {
      st->ps.broken = true;
      return false;
    }
    if (fill) {
      uint8_t v = uint8_t(stream_take(&st->ps, kStreamColours));
      for (uint32_t k = 0; k < run; ++k) blk[scan[i + k]] = v;
    } else {
      const uint8_t* c = stream_take_bytes(&st->ps, kStreamColours, run);
      if (!c) return false;
      for (uint32_t k = 0; k < run; ++k) blk[scan[i + k]] = c[k];
    }
    i += run;
  }
  if (i == 63) blk[scan[63]] = uint8_t(stream_take(&st->ps, kStreamColours));
  return true;
}

// Pattern rows: colour B where a bit is set, colour A elsewhere.
void decode_pattern(PlaneState* st, uint8_t* d, ptrdiff_t stride, bool scaled) {
  uint32_t a = replicate(stream_take(&st->ps, kStreamColours));
  uint32_t b = replicate(stream_take(&st->ps, kStreamColours));
  const uint8_t* bits = stream_take_bytes(&st->ps, kStreamPatterns, 8);
  if (!bits) return;
  for (int r = 0; r < 8; ++r) {
    uint32_t p = bits[r];
    if (!scaled) {
      uint32_t m0 = kNibbleMask[p & 15], m1 = kNibbleMask[p >> 4];
      store32(d, (a & ~m0) | (b & m0));
      store32(d + 4, (a & ~m1) | (b & m1));
      d += stride;
    } else {
      for (int i = 0; i < 4; ++i) {
        uint32_t m = kPairMask[(p >> (2 * i)) & 3];
        uint32_t w = (a & ~m) | (b & m);
        store32(d + 4 * i, w);
        store32(d + stride + 4 * i, w);
      }
      d += 2 * stride;
    }
  }
}

void decode_intra(PlaneState* st, uint8_t* d, ptrdiff_t stride, bool scaled) {
  int16_t block[64];
  block[0] = int16_t(stream_take16(&st->ps, kStreamIntraDc));
  read_coefficients(&st->r, block);
  uint32_t q = read_bits(&st->r, 4);
  if (scaled)
    st->idct->put_scaled(block, IntraQuant[q], d, stride);
  else
    st->idct->put(block, IntraQuant[q], d, stride);
}

// The scaled block's sub-kind into the 16 × 16 area at d.
void decode_scaled(PlaneState* st, uint8_t* d, ptrdiff_t stride) {
  uint32_t sub = stream_take(&st->ps, kStreamSubblockTypes);
  uint8_t blk[64];
  switch (sub) {
    case kBlockRun:
      if (decode_runs(st, blk)) put8_scaled(d, blk, stride);
      break;
    case kBlockIntra: decode_intra(st, d, stride, true); break;
    case kBlockFill: fill_rows(d, stride, stream_take(&st->ps, kStreamColours), 16, 4); break;
    case kBlockPattern: decode_pattern(st, d, stride, true); break;
    case kBlockRaw: {
      const uint8_t* c = stream_take_bytes(&st->ps, kStreamColours, 64);
      if (c) put8_scaled(d, c, stride);
      break;
    }
    default: break;  // writes nothing
  }
}

}  // namespace

PlaneResult decode_plane(const PlaneArgs& in) {
  // An empty plane may come without a buffer: read it as zero bytes at a real address.
  static const uint8_t kNoData[4] = {};
  PlaneArgs a = in;
  if (!a.data) {
    a.data = kNoData;
    a.size = 0;
  }
  if (a.width % 8 || a.height % 8 || a.width > a.stride || (a.scale != 1 && a.scale != 2))
    return {a.data, false};
  PlaneState st;
  bit_reader_init(&st.r, a.data, a.size);
  plane_streams_init(&st.ps, a.buffers, a.width, a.flags);
  st.ref = a.ref;
  st.stride = a.stride;
  st.height = a.height;
  IdctFunctions plain_forms;
  if (!a.idct) idct_init_plain(&plain_forms);
  st.idct = a.idct ? a.idct : &plain_forms;
  const ptrdiff_t stride = a.stride;
  plane_streams_read_trees(&st.r, &st.ps);
  uint8_t* map_row = a.change_map;
  uint32_t y = 0;
  for (; y < a.height; y += 8) {
    if (st.ps.broken || st.r.overrun) break;
    for (uint32_t i = 0; i < kStreamCount; ++i) read_stream_chunk(&st.r, &st.ps, i);
    if (st.ps.broken) break;
    uint32_t m = 0;
    uint32_t prefetch_x = 0;  // the next column whose cache line is asked for
    for (uint32_t x = 0; x < a.width;) {
      uint8_t* d = a.dst + size_t(y) * stride + x;
      const uint8_t* ref = a.ref + size_t(y) * stride + x;
      if (x >= prefetch_x && y + 16 <= a.height) {
        prefetch_x = (x | 63) + 1;
        // The reference rows of the next block row, one cache line of each, asked for a block
        // row ahead: the skip, motion, residue and inter blocks read them next, and the
        // processor does not foresee eight rows a stride apart.
        const uint8_t* pf = ref + 8 * stride;
        for (int r = 0; r < 8; ++r) __builtin_prefetch(pf + r * stride, 0, 2);
      }
      uint32_t kind = stream_take(&st.ps, kStreamBlockTypes);
      uint8_t blk[64];
      switch (kind) {
        case kBlockSkip:
          copy8(d, ref, stride);
          break;
        case kBlockScaled:
          if (x + 16 > a.width || (y % 16 == 0 && y + 16 > a.height)) {
            st.ps.broken = true;
            break;
          }
          if (y % 16 == 0) decode_scaled(&st, d, stride);
          map_row[m / 2] = 1;
          map_row[(m + a.scale) / 2] = 1;
          m += 2 * a.scale;
          x += 16;
          goto next_block;
        case kBlockMotion:
          copy8(d, motion_source(&st, x, y), stride);
          break;
        case kBlockRun:
          if (decode_runs(&st, blk)) put8(d, blk, stride);
          break;
        case kBlockResidue: {
          get8(blk, motion_source(&st, x, y), stride);
          uint32_t limit = read_bits(&st.r, 7);
          read_residue(&st.r, limit, blk, d, stride);
          break;
        }
        case kBlockIntra:
          decode_intra(&st, d, stride, false);
          break;
        case kBlockFill:
          fill_rows(d, stride, stream_take(&st.ps, kStreamColours), 8, 2);
          break;
        case kBlockInter: {
          get8(blk, motion_source(&st, x, y), stride);
          int16_t block[64];
          block[0] = int16_t(stream_take16(&st.ps, kStreamInterDc));
          read_coefficients(&st.r, block);
          uint32_t q = read_bits(&st.r, 4);
          st.idct->add(block, InterQuant[q], blk, d, stride);
          break;
        }
        case kBlockPattern:
          decode_pattern(&st, d, stride, false);
          break;
        case kBlockRaw: {
          const uint8_t* c = stream_take_bytes(&st.ps, kStreamColours, 64);
          if (c) put8(d, c, stride);
          break;
        }
        default:  // 10 to 15: nothing read or written, not marked
          m += a.scale;
          x += 8;
          goto next_block;
      }
      if (kind != kBlockSkip) map_row[m / 2] = 1;
      m += a.scale;
      x += 8;
    next_block:
      if (st.ps.broken) goto stopped;
    }
    if (a.scale == 1) {
      if (y % 16 == 8) map_row += a.stride / 16;
    } else {
      map_row += a.stride / 8;
    }
  }
  if (y >= a.height && !st.ps.broken && !st.r.overrun) return {st.r.next, true};
stopped:
  // From the block row where decoding stopped to the bottom, the plane shows the reference.
  if (a.dst != a.ref && y < a.height)
    for (uint32_t row = y; row < a.height; ++row)
      std::memcpy(a.dst + size_t(row) * stride, a.ref + size_t(row) * stride, a.width);
  return {st.r.next, false};
}
