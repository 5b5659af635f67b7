// Inside the pixel conversion: the read-only colour tables, the converter tables, the cursor and
// the converter context. Used by convert/*.cpp and by the tests that pit the converters against
// their reference models.
#pragma once
#include <cstddef>
#include <cstdint>

// ---- Colour tables -------------------------------------------------------------------------

// Sums of a luma term and a chroma term run from −258 to 510; the clamp and 16-bit field tables
// cover −384..639 so that every index that can occur is inside them.
constexpr int kSumLow = -384;
constexpr int kSumCount = 1024;

// The tables' rules, exported for the tests.
constexpr int32_t color_luma_rule(int y) {
  int v = y - 16;
  if (v < 0) v = 0;
  if (v > 219) v = 219;
  return v * 38154 / 32768;
}
constexpr int32_t color_chroma_rule(int32_t factor, int c) {
  return factor * (c - 128) / 32768;  // C++ division truncates toward zero
}
constexpr uint8_t color_grey_rule(int y) {
  if (y <= 16) return 0;
  if (y >= 235) return 255;
  return uint8_t(255 * (y - 16) / 219);
}
// Unit of the SIMD 16-bit grey converters for a packing: a single 1 per field at the bit worth
// one step of a 4-bit (precision 4) or 5-bit (precision 5) component.
constexpr uint16_t color_grey_unit(const uint32_t bits[3], const uint32_t shift[3], uint32_t precision) {
  uint16_t unit = 0;
  for (int k = 0; k < 3; ++k) unit = uint16_t(unit | (1u << (shift[k] + bits[k] - precision)));
  return unit;
}

// Built at compile time; read only.
struct ColorTables {
  int32_t luma[256];          // floor(min(max(Y − 16, 0), 219) × 38154 / 32768)
  int32_t blue_cb[256];       // trunc(66101 × (Cb − 128) / 32768)
  int32_t green_cr[256];      // trunc(−26639 × (Cr − 128) / 32768)
  int32_t green_cb[256];      // trunc(−12837 × (Cb − 128) / 32768)
  int32_t red_cr[256];        // trunc(52299 × (Cr − 128) / 32768)
  uint8_t clamp_store[kSumCount];   // index − kSumLow; 0 below 0, 255 above 255
  uint8_t grey[256];          // 0 up to 16, 255 from 235, else floor(255 × (Y − 16) / 219)
  uint32_t grey32[256];       // g × 0x010101
  uint16_t alpha_nibble[256]; // (alpha & 0xF0) << 8
};
extern const ColorTables kColor;

// The 16-bit packing of one format code (7..12); all zero for the other codes. Built at compile
// time; a copy takes the one of its format.
struct PackingTables {
  uint32_t format;            // the format code (0: none)
  uint32_t bits[3], shift[3];  // blue, green, red: field width and position
  uint16_t field_store[3][kSumCount];  // per component: clamped sum >> (8 − bits) << position
  uint16_t grey16[256];       // the grey value packed into all three fields
  // Grey constants of the SIMD 16-bit converters.
  uint16_t simd_grey_scale, simd_grey_clamp, simd_grey_unit;
};
// The packing of a format code (the empty one outside 7..12).
const PackingTables* color_packing(uint32_t format);

inline uint8_t color_clamp(int sum) { return kColor.clamp_store[sum - kSumLow]; }
inline uint16_t color_field(const PackingTables* p, int component, int sum) {
  return p->field_store[component][sum - kSumLow];
}

// ---- Cursor and converters -----------------------------------------------------------------

struct ConvertContext;

struct ConvertCursor {
  uint8_t* dst0;
  uint8_t* dst1;
  const uint8_t* y0;
  const uint8_t* y1;
  const uint8_t* cb;
  const uint8_t* cr;
  const uint8_t* a0;          // null when the copy reads no alpha
  const uint8_t* a1;
  int32_t pitch;              // one destination row, for the duplicated-row converters
  uint8_t* scratch0;
  uint8_t* scratch1;
  size_t scratch_capacity;    // bytes of the block holding both rows
  ConvertContext* context;    // the context this cursor belongs to (the duplicate-row methods)
  const PackingTables* pack;  // the 16-bit packing of this copy's format
  bool pair_overhang;         // an odd packed-YUV run may write its whole last pair (it fits the pitch)
};

// The eight positions of a cursor, copied field by field (a block copy of the record would be
// read back through narrower loads right after, which the processor cannot forward).
struct CursorPositions {
  uint8_t* dst0;
  uint8_t* dst1;
  const uint8_t* y0;
  const uint8_t* y1;
  const uint8_t* cb;
  const uint8_t* cr;
  const uint8_t* a0;
  const uint8_t* a1;
};
inline CursorPositions cursor_positions(const ConvertCursor* c) {
  CursorPositions p;
  p.dst0 = c->dst0; p.dst1 = c->dst1; p.y0 = c->y0; p.y1 = c->y1;
  p.cb = c->cb; p.cr = c->cr; p.a0 = c->a0; p.a1 = c->a1;
  return p;
}
inline void cursor_set_positions(ConvertCursor* c, const CursorPositions& p) {
  c->dst0 = p.dst0; c->dst1 = p.dst1; c->y0 = p.y0; c->y1 = p.y1;
  c->cb = p.cb; c->cr = p.cr; c->a0 = p.a0; c->a1 = p.a1;
}

// units × 4 pixels on both rows of a pair.
using convert_groups_fn = void (*)(ConvertCursor* c, uint32_t units);
// One lone row of `count` pixels starting at source x.
using convert_row_fn = void (*)(ConvertCursor* c, uint32_t x, uint32_t count);
// `count` pixels on both rows of a pair; returns x + count.
using convert_run_fn = uint32_t (*)(ConvertCursor* c, uint32_t count, uint32_t x);

// One band of the changed-block copy: runs of changed 16-pixel blocks, each converted on the
// band's 8 row pairs with the even-x group converter.
struct BlockBand {
  CursorPositions origin;     // row pair 0 at the rectangle's left column (a0, a1 null: no alpha)
  uint32_t luma_pitch;        // source bytes per row (chroma: half)
  int32_t row_step;           // destination step between the two rows of a pair
  uint32_t block_bytes;       // destination bytes per block
  const uint16_t* runs;       // run_count pairs: first block column, blocks in the run
  uint32_t run_count;
  const PackingTables* pack;  // the 16-bit packing of this copy's format
};
// Converts every run of a band.
using convert_band_fn = void (*)(const BlockBand* band);

struct GroupConverter {
  uint32_t shift;             // log2 of the group size (2: 4 pixels, 3: 8 pixels)
  convert_groups_fn run;
  convert_band_fn band;       // the same conversion over a band's runs; null: the driver walks
                              // the runs itself through `run`
};

// The positions of run `i` of a band on its row pair `pair` (0..7).
inline __attribute__((always_inline)) CursorPositions band_positions(const BlockBand& b, uint32_t pair, uint32_t i) {
  const size_t P = b.luma_pitch, luma = pair * 2 * P, chroma = pair * (P / 2);
  const uint32_t first = b.runs[2 * i];
  CursorPositions k;
  k.y0 = b.origin.y0 + luma + 16 * first;
  k.y1 = k.y0 + P;
  k.a0 = b.origin.a0 ? b.origin.a0 + luma + 16 * first : nullptr;
  k.a1 = k.a0 ? k.a0 + P : nullptr;
  k.cb = b.origin.cb + chroma + 8 * first;
  k.cr = b.origin.cr + chroma + 8 * first;
  k.dst0 = b.origin.dst0 + ptrdiff_t(2 * pair) * b.row_step + size_t(first) * b.block_bytes;
  k.dst1 = k.dst0 + b.row_step;
  return k;
}

// Asks for the source rows of the same run on the next row pair: they lie out of the hardware
// prefetchers' sight, and the loads of a short run otherwise wait for them.
inline __attribute__((always_inline)) void band_prefetch_next_pair(const CursorPositions& k, size_t luma_pitch) {
  __builtin_prefetch(k.y0 + 2 * luma_pitch);
  __builtin_prefetch(k.y1 + 2 * luma_pitch);
  __builtin_prefetch(k.cb + luma_pitch / 2);
  __builtin_prefetch(k.cr + luma_pitch / 2);
}

// The band walk: row pair by row pair, run by run, `span` (CursorPositions&, units) converting
// from the positions it is given. A converter set whose span needs instructions of its own
// writes this loop in its own target (the span is then inlined into it).
template <typename Span>
inline void convert_walk_band(const BlockBand* band, Span span) {
  for (uint32_t pair = 0; pair < 8; ++pair)
    for (uint32_t i = 0; i < band->run_count; ++i) {
      CursorPositions k = band_positions(*band, pair, i);
      band_prefetch_next_pair(k, band->luma_pitch);
      span(k, 4 * band->runs[2 * i + 1]);
    }
}

// Indices into ConversionFamily::groups (add kGroupSimd for the SIMD set).
enum : uint32_t {
  kGroupColorEven = 0, kGroupColorOdd, kGroupGrey,
  kGroupWideColorEven, kGroupWideColorOdd, kGroupWideGrey,
  kGroupSimd = 6,
};
// Indices into ConversionFamily::rows.
enum : uint32_t {
  kRowsColor = 0, kRowsGrey, kRowsWideColor, kRowsWideGrey,
  kRowsDupColor, kRowsDupGrey, kRowsWideDupColor, kRowsWideDupGrey,
};

struct RowConverters {
  convert_row_fn row;
  convert_run_fn run;
};

struct ConversionFamily {
  uint32_t bytes_per_pixel;
  GroupConverter groups[12];
  uint32_t dup_tuning[8];     // TuningState: set × {mode 1 colour, mode 1 grey, mode 4 colour, mode 4 grey}
  uint32_t split_tuning[8];   // TuningState: set × {plain colour, plain grey, 2× colour, 2× grey}
  RowConverters rows[8];
  bool pairs;                 // packed YUV: pixels go out in pairs sharing one chroma sample
};

// Family indices.
enum : uint32_t {
  kFamilyBgr32 = 0, kFamilyRgb32, kFamilyBgra32, kFamilyRgba32, kFamilyBgr24, kFamilyRgb24,
  kFamily16, kFamily4444, kFamily5551, kFamilyYuy2, kFamilyUyvy, kFamilyCount,
};
// Fills the integer converters of every family (and copies them into the SIMD slots).
void convert_init_plain(ConversionFamily* families);
// Overwrites the SIMD slots with the SSE2 converters; false when this build has none.
bool convert_init_sse2(ConversionFamily* families);
// Then overwrites the 32-bit, 16-bit and packed-YUV families' colour group converters with AVX2
// ones; false when this build has none. The caller decides whether the processor and KORVA_CPU
// allow it.
bool convert_init_avx2(ConversionFamily* families);
// The SSE2 colour group converter of a family at plain width (even or odd source x): the AVX2
// converters hand it what is left of a call, and the packings they lack. Null where the build
// has no SSE2 converters.
GroupConverter convert_sse2_color(uint32_t family, bool odd);
// The integer group converters that compute with the SIMD arithmetic (uncapped luma term, the
// SIMD grey rules), for the tests: same layout as groups[0..5].
void convert_reference_simd_groups(uint32_t family, GroupConverter out[6]);

// ---- Converter context ---------------------------------------------------------------------

// Everything a copy changes: the function tables chosen when the context was made (with their
// tuning words), the active converters of the copy under way, the cursor and its scratch rows.
// One per destination (a movie); two contexts never share anything but the read-only tables.
struct ConvertContext {
  ConvertCursor cursor;
  ConversionFamily families[kFamilyCount];
  bool simd_supported;        // the SIMD slots hold SSE2 (or wider) converters
  uint32_t cpu;               // the instruction-set level the tables were filled for
  int32_t has_cycle_counter;  // 1 usable, -1 not
  bool has_simd;              // the SIMD converters are in use for this copy
  convert_row_fn row;         // active converters
  convert_run_fn run;
  convert_groups_fn groups_even, groups_odd;
  convert_groups_fn inner_even, inner_odd;  // wrapped by the duplicate-row methods
  convert_band_fn band;       // band converter of the active even-x group converter, or null
  uint32_t group_shift, group_mask;
  uint32_t* split_state;      // TuningState of the row split
  uint32_t* dup_state;        // TuningState of the duplicate-row method
  bool dup_measuring;         // the duplicate-row timing runs
  uint32_t hmul;              // pixels written per source pixel
  uint32_t bytes_per_pixel;
  bool pairs;                 // packed YUV family
  // Test hooks: force the row-split lead (0 timing or fixed rule, 1 D, 2 S) and the
  // duplicate-row method (0 normal, 1 Reconvert, 2 Scratch).
  uint32_t force_split, force_dup;
  void* scratch_block;        // the scratch rows, 32-byte aligned inside it
};

// Fills the function tables of `families` for an instruction-set level: the plain initialiser,
// then SSE2 and AVX2 as far as `level` allows. Returns whether the SIMD slots are SIMD.
bool convert_fill_families(ConversionFamily* families, uint32_t level);

// Makes both scratch rows at least `bytes` long; false when the memory cannot be had (the
// duplicate-row converters then use Reconvert). Called when the context is made.
bool reserve_scratch_rows(ConvertContext* cx, size_t bytes);

// Reads the cycle counter (0 where there is none), and whether there is one.
uint64_t convert_cycles();
bool convert_has_cycle_counter();

// Installs the active converters for a copy of `w` source pixels by `h` rows and returns the
// destination step between the two rows of a pair and the skip from the end of a converted
// pair to the start of the next.
void select_converters(ConvertContext* cx, ConversionFamily* f, uint32_t flags, uint32_t w, uint32_t h,
                       int32_t* row_step, int32_t* row_skip);

// One rectangle of one plane set into one destination: what the two copy paths work on.
struct PlaneCopy {
  ConversionFamily* family;
  uint8_t* dest;              // the destination's first byte and signed bytes per row
  int32_t dest_pitch;
  uint32_t dest_x, dest_y;    // where the rectangle goes
  const uint8_t* planes;      // the current plane set
  const uint8_t* alpha;       // its alpha plane, or null when the family writes none
  uint32_t P, H;              // padded luma width and height
  uint32_t x, y, w, h;        // the rectangle in coded pixels
  uint32_t flags;             // CopyFlags
};
// The change map as the changed-block path reads it.
struct ChangeMap {
  const uint8_t* blocks;      // one byte per 16 × 16 luma block, non-zero: changed
  uint32_t pitch;             // bytes per row of the map
};

// The two copy paths and the YV12 copy.
void copy_rect_full(ConvertContext* cx, const PlaneCopy* pc);
void copy_rect_changed(ConvertContext* cx, const PlaneCopy* pc, const ChangeMap* map);
void copy_yv12(uint8_t* dest, uint32_t dest_x, uint32_t dest_y, int32_t dest_pitch,
               uint32_t dest_height, const uint8_t* planes, uint32_t x, uint32_t y, uint32_t w,
               uint32_t h, uint32_t P, uint32_t H, uint32_t flags);

// The family of a format code (null for 0 and 15); alpha families only when `has_alpha`.
ConversionFamily* convert_family_for(ConvertContext* cx, uint32_t format, bool has_alpha);
