// Corners of the copy: colour corners, packings and alpha bits, YV12, the late check, the
// path choice, bottom-up and misaligned destinations, and the tuning words.
#include <gtest/gtest.h>

#include "display/backends/memory_surface.h"
#include "tests/unit/convert/convert_model.h"
#include "video/video_decoder.h"

namespace {

// A picture of one colour (Y, Cb, Cr, alpha) in a single plane set.
struct Flat {
  VideoStore store{};
  Flat(uint32_t w, uint32_t h, uint8_t y, uint8_t cb, uint8_t cr, uint8_t a, bool alpha = true) {
    EXPECT_TRUE(video_store_open(&store, w, h, alpha, true));
    set(y, cb, cr, a);
  }
  ~Flat() { video_store_close(&store); }
  void set(uint8_t y, uint8_t cb, uint8_t cr, uint8_t a) {
    FramePlanes& p = store.planes;
    const size_t luma = size_t(p.luma_stride) * p.luma_height, chroma = luma / 4;
    std::memset(p.plane_sets[0], y, luma);
    std::memset(p.plane_sets[0] + luma, cr, chroma);  // first chroma plane: Cr
    std::memset(p.plane_sets[0] + luma + chroma, cb, chroma);
    if (p.alpha_planes[0]) std::memset(p.alpha_planes[0], a, luma);
  }
};

// One pixel of a 16 × 2 copy, by the integer or the SIMD converters (the SIMD ones convert the
// 16-pixel rows of this copy in their groups).
uint32_t pixel_of(uint32_t code, uint8_t y, uint8_t cb, uint8_t cr, uint8_t a, bool simd,
                  bool grey = false, bool alpha = true) {
  Flat pic(16, 2, y, cb, cr, a, alpha);
  uint8_t out[16 * 2 * 4 + 64] = {};
  model::Context cx(16);
  convert_copy_planes(cx, &pic.store.planes, 16, 2, out, 64, 2,
                      code | kCopyWhole | (simd ? 0 : kCopyNoSimd) | (grey ? kCopyGrey : 0));
  uint32_t v = 0;
  std::memcpy(&v, out + 4 * convert_bytes_per_pixel(code), 4);  // pixel 4, inside a group
  return v;
}

TEST(ConvertEdges, ColourCornersAndPackings) {
  const bool simd = model::Context()->simd_supported;
  struct Case {
    uint32_t code;
    uint8_t y, cb, cr, a;
    uint32_t mask, integer, simd;
  };
  const Case kCases[] = {
      {3, 16, 128, 128, 0, 0xFFFFFF, 0x000000, 0x000000},     // black
      {3, 235, 128, 128, 0, 0xFFFFFF, 0xFEFEFE, 0xFEFEFE},    // 254 with both
      {3, 255, 128, 128, 0, 0xFFFFFF, 0xFEFEFE, 0xFFFFFF},    // 254 integer, 255 SIMD
      {3, 0, 0, 128, 0, 0xFF, 0x00, 0x00},                    // blue sum −258 clamps to 0
      {10, 255, 128, 128, 0, 0xFFFF, 0xFFFF, 0xFFFF},         // 5-6-5: 254 and 255 pack to white
      {11, 255, 128, 255, 0, 0xFC00, 0xFC00, 0xFC00},         // red in the top 6 bits
      {12, 255, 255, 128, 0, 0x000F, 0x000F, 0x000F},         // blue in the low 4 bits
      {8, 128, 128, 128, 127, 0x8000, 0x0000, 0x0000},        // 5-5-5-1: alpha 127 → bit clear
      {8, 128, 128, 128, 128, 0x8000, 0x8000, 0x8000},        // alpha 128 → set
      {7, 128, 128, 128, 0x9F, 0xF000, 0x9000, 0x9000},       // 4-4-4-4: top nibble 9
      {5, 100, 90, 80, 0x37, 0xFF000000, 0x37000000, 0x37000000},  // alpha byte as is
      {13, 100, 90, 80, 0, 0xFFFFFFFF, 0x50645A64, 0x50645A64},    // YUY2: Y, Cb, Y, Cr
      {14, 100, 90, 80, 0, 0xFFFFFFFF, 0x6450645A, 0x6450645A},    // UYVY: Cb, Y, Cr, Y
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(pixel_of(c.code, c.y, c.cb, c.cr, c.a, false) & c.mask, c.integer) << "code " << c.code << " y " << int(c.y);
    if (simd) {
      EXPECT_EQ(pixel_of(c.code, c.y, c.cb, c.cr, c.a, true) & c.mask, c.simd) << "code " << c.code << " y " << int(c.y);
    }
  }
  // White in 5-6-5 from a component of 255.
  const PackingTables* p565 = color_packing(10);
  EXPECT_EQ(color_field(p565, 0, 255) | color_field(p565, 1, 255) | color_field(p565, 2, 255), 0xFFFF);
  // Code 3 of a movie with an alpha plane leaves the fourth byte 0; grey YUY2 has 0x80 chroma.
  EXPECT_EQ(pixel_of(3, 100, 90, 80, 0x77, false) >> 24, 0u);
  EXPECT_EQ(pixel_of(13, 100, 10, 240, 0, false, true), 0x80648064u);
  // Codes 5 and 7 without an alpha plane are codes 3 and the 4-4-4 packing.
  EXPECT_EQ(pixel_of(5, 100, 90, 80, 0, false, false, false), pixel_of(3, 100, 90, 80, 0, false));
  EXPECT_EQ(pixel_of(7, 255, 128, 128, 0, false, false, false) & 0xFFFF, 0x0FFFu);
  // Copies with different codes in turn each use their own packing.
  EXPECT_EQ(pixel_of(11, 255, 128, 255, 0, false) & 0xFC00, 0xFC00u);
  EXPECT_EQ(pixel_of(10, 255, 128, 255, 0, false) & 0xF800, 0xF800u);
}

TEST(ConvertEdges, Yv12) {
  Flat pic(16, 8, 50, 60, 70, 0, false);
  const int32_t pitch = 24;
  const uint32_t height = 10;
  std::vector<uint8_t> out(pitch * height * 3 / 2, 0xEE);
  const uint8_t* set = pic.store.planes.plane_sets[0];
  const uint32_t P = pic.store.planes.luma_stride, H = pic.store.planes.luma_height;
  // Odd destination x: one column fewer, even width, at column 2.
  copy_yv12(out.data(), 1, 0, pitch, height, set, 0, 0, 5, 4, P, H, 0);
  EXPECT_EQ(out[1], 0xEE);
  EXPECT_EQ(out[2], 50);
  EXPECT_EQ(out[5], 50);
  EXPECT_EQ(out[6], 0xEE);
  uint8_t* v = out.data() + pitch * height;
  uint8_t* u = v + pitch / 2 * height / 2;
  EXPECT_EQ(v[1], 70);  // V from the first plane (Cr)
  EXPECT_EQ(u[1], 60);
  EXPECT_EQ(v[3], 0xEE);
  // Grey: 128 in both planes whatever they hold; the chroma swap exchanges the sources.
  copy_yv12(out.data(), 0, 0, pitch, height, set, 0, 0, 8, 4, P, H, kCopyGrey);
  EXPECT_EQ(v[0], 128);
  EXPECT_EQ(u[3], 128);
  copy_yv12(out.data(), 0, 0, pitch, height, set, 0, 0, 8, 4, P, H, kCopyChromaSwap);
  EXPECT_EQ(v[0], 60);
  EXPECT_EQ(u[0], 70);
}

TEST(ConvertEdges, Yuy2LoneRowOfThreeWritesOnePair) {
  Flat pic(16, 4, 77, 88, 99, 0, false);
  std::vector<uint8_t> out(64 * 4, 0);
  model::Context cx;
  // Row 1 alone (odd first row), three pixels: one pair written, the third pixel not.
  const PlaneCopy pc = model::plane_copy(&cx->families[kFamilyYuy2], out.data(), 0, 0, 64,
                                         pic.store.planes.plane_sets[0], 0, 1, 3, 1, pic.store.planes.luma_stride,
                                         pic.store.planes.luma_height, kCopyNoSimd, nullptr);
  copy_rect_full(cx, &pc);
  const uint8_t pair[4] = {77, 88, 77, 99};
  EXPECT_EQ(std::memcmp(out.data(), pair, 4), 0);
  EXPECT_EQ(out[4], 0);
  EXPECT_EQ(out[5], 0);
}

// The driver: scaling, bottom-up memory, the 2 mod 4 base, what the late rule says, the path
// choice.
struct Timing {
  model::Context cx{64};
  uint32_t last_flags = 0;
  uint32_t late = kCopyOnTime;  // what the late rule answers
  uint32_t asked = 0, asked_flags = 0;
};
uint32_t late_rule(void* context, uint32_t flags) {
  Timing* t = static_cast<Timing*>(context);
  t->asked += 1;
  t->asked_flags = flags;
  return t->late;
}
CopySource source_for(Flat& pic, Timing& t, uint32_t w, uint32_t h) {
  CopySource s{};
  s.context = t.cx;
  s.planes = &pic.store.planes;
  s.width = s.coded_width = w;
  s.height = s.coded_height = h;
  s.last_copy_flags = &t.last_flags;
  s.hook_context = &t;
  s.late_check = late_rule;
  return s;
}

TEST(ConvertEdges, DriverDestinations) {
  Flat pic(16, 4, 16, 128, 128, 0, false);
  Timing t;
  CopySource s = source_for(pic, t, 16, 4);
  // Bottom-up: the first source row lands in the last row of the memory.
  pic.store.planes.plane_sets[0][0] = 235;
  std::vector<uint8_t> out(16 * 4 * 4, 0xCC);
  EXPECT_EQ(convert_copy_to_surface(&s, out.data(), -64, 4, 0, 0, 0, 0, 16, 4, 3 | kCopyWhole), 0u);
  EXPECT_EQ(out[3 * 64], 254);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(t.last_flags, 3u | kCopyWhole);
  // A 16-bit destination at 2 mod 4 gets its first pixel at the same address.
  std::vector<uint8_t> mem(2 + 40 * 4 + 8, 0xCC);
  uint8_t* base = mem.data() + ((4 - (reinterpret_cast<uintptr_t>(mem.data()) & 3)) & 3) + 2;
  convert_copy_to_surface(&s, base, 40, 4, 0, 0, 0, 0, 16, 4, 10 | kCopyWhole);
  EXPECT_EQ(base[-1], 0xCC);
  EXPECT_EQ(base[0] | base[1] << 8, 0xFFFF);
  EXPECT_EQ(base[2], 0);
  EXPECT_EQ(base[32], 0xCC);
  // Display rectangle scaled to coded pixels; an empty rectangle touches nothing.
  s.width = 32;
  std::fill(out.begin(), out.end(), 0xCC);
  convert_copy_to_surface(&s, out.data(), 64, 4, 0, 0, 0, 0, 32, 1, 3 | kCopyWhole);
  EXPECT_EQ(out[15 * 4], 0);
  EXPECT_EQ(out[16 * 4], 0xCC);
  EXPECT_EQ(convert_copy_to_surface(&s, out.data(), 64, 4, 0, 0, 0, 0, 1, 1, 3), 0u);
  EXPECT_EQ(convert_copy_to_surface(&s, nullptr, 64, 4, 0, 0, 0, 0, 16, 4, 3), 0u);
  // Without a converter context nothing is copied.
  s.context = nullptr;
  std::fill(out.begin(), out.end(), 0xCC);
  EXPECT_EQ(convert_copy_to_surface(&s, out.data(), 64, 4, 0, 0, 0, 0, 16, 4, 3 | kCopyWhole), 0u);
  EXPECT_EQ(out[0], 0xCC);
}

TEST(ConvertEdges, TheLateRuleDecidesTheCopy) {
  Flat pic(16, 2, 100, 128, 128, 0, false);
  Timing t;
  CopySource s = source_for(pic, t, 16, 2);
  s.movie_flags = kCopyGrey | kCopyNoThread;
  std::vector<uint8_t> out(16 * 2 * 4);
  struct Step { uint32_t late; uint32_t result; bool copied; };
  const Step kSteps[] = {{kCopyLateSkip, 1, false}, {kCopyLate, 1, true}, {kCopyOnTime, 0, true}};
  for (const Step& st : kSteps) {
    t.late = st.late;
    t.last_flags = 0;
    std::fill(out.begin(), out.end(), 0xCC);
    EXPECT_EQ(convert_copy_to_surface(&s, out.data(), 64, 2, 0, 0, 0, 0, 16, 2, 3 | kCopyWhole), st.result);
    EXPECT_EQ(out[0] != 0xCC, st.copied);
    // The rule sees the copy's flags with the movie's bits merged in; the flags are kept for
    // the blit rectangles whether or not the frame was copied.
    EXPECT_EQ(t.asked_flags, 3u | kCopyWhole | kCopyGrey);
    EXPECT_EQ(t.last_flags, 3u | kCopyWhole | kCopyGrey);
  }
  EXPECT_EQ(t.asked, 3u);
  // An empty rectangle asks nothing.
  EXPECT_EQ(convert_copy_to_surface(&s, out.data(), 64, 2, 0, 0, 0, 0, 0, 2, 3), 0u);
  EXPECT_EQ(t.asked, 3u);
}

TEST(ConvertEdges, PathChoiceFollowsTheMapAndBit31) {
  Flat pic(32, 32, 100, 128, 128, 0, false);
  FramePlanes& fp = pic.store.planes;
  std::vector<uint8_t> out(32 * 32 * 4, 0xCC);
  model::Context cx(32);
  // One block marked: only it is converted (the planes are the same everywhere).
  std::memset(fp.change_map, 0, fp.map_blocks);
  fp.change_map[3] = 1;
  convert_copy_planes(cx, &fp, 32, 32, out.data(), 128, 32, 3);
  EXPECT_EQ(out[0], 0xCC);
  EXPECT_NE(out[16 * 128 + 16 * 4], 0xCC);
  // Bit 31 converts everything; so does a map with every block marked.
  convert_copy_planes(cx, &fp, 32, 32, out.data(), 128, 32, 3 | kCopyWhole);
  EXPECT_NE(out[0], 0xCC);
  std::fill(out.begin(), out.end(), 0xCC);
  std::memset(fp.change_map, 1, fp.map_blocks);
  convert_copy_planes(cx, &fp, 32, 32, out.data(), 128, 32, 3);
  EXPECT_NE(out[0], 0xCC);
  // Mode 6: a band of 16 field rows covers two map rows; the second row's mark counts.
  std::fill(out.begin(), out.end(), 0xCC);
  std::memset(fp.change_map, 0, fp.map_blocks);
  fp.change_map[fp.map_columns] = 1;
  convert_copy_planes(cx, &fp, 32, 32, out.data(), 128, 32, 3 | (6u << 28));
  EXPECT_NE(out[0], 0xCC);
  EXPECT_EQ(out[1 * 128], 0xCC);  // the rows between are not touched
  EXPECT_EQ(out[16 * 4], 0xCC);   // the block beside it is unchanged
}

// A whole copy of w × h at destination x 1, code 3, integer converters.
void copy_full(ConvertContext* cx, ConversionFamily* f, uint8_t* out, const uint8_t* set, uint32_t w, uint32_t h,
               uint32_t P, uint32_t H) {
  const PlaneCopy pc = model::plane_copy(f, out, 1, 0, 64 * 4, set, 0, 0, w, h, P, H, 3 | kCopyNoSimd, nullptr);
  copy_rect_full(cx, &pc);
}

TEST(ConvertEdges, TuningWords) {
  Flat pic(64, 32, 100, 128, 128, 0, false);
  std::vector<uint8_t> out(64 * 2 * 64 * 4);
  model::Context cx(64);
  ConversionFamily* f = &cx->families[kFamilyBgr32];
  // Without a counter: nothing is timed, whatever the words hold; Scratch is used.
  cx->has_cycle_counter = -1;
  std::memset(f->split_tuning, 0, sizeof f->split_tuning);
  f->dup_tuning[4] = f->dup_tuning[0] = 0x1234;
  convert_copy_planes(cx, &pic.store.planes, 63, 32, out.data() + 4, 64 * 4 * 2, 64, 3 | kCopyWhole | (1u << 28));
  EXPECT_EQ(f->dup_tuning[0] | f->dup_tuning[4], 0x1234u);
  EXPECT_EQ(cx->groups_even != nullptr, true);
  // With a counter: measuring starts (a destination x of 1 makes the two leads differ), and a
  // settled word re-measures once it passes 0x2000.
  cx->has_cycle_counter = 1;
  const uint8_t* set = pic.store.planes.plane_sets[0];
  const uint32_t P = pic.store.planes.luma_stride, H = pic.store.planes.luma_height;
  // One row pair: D is timed first (0x80 → the timing in bits 8..31, counter 16, S next). More
  // pairs would make the word depend on the timings themselves.
  copy_full(cx, f, out.data(), set, 62, 2, P, H);
  EXPECT_EQ(f->split_tuning[0] & 0xFFu, 0x82u);
  f->split_tuning[0] = 0x1FF1;  // settled on D, nearly due
  copy_full(cx, f, out.data(), set, 62, 32, P, H);
  EXPECT_EQ(f->split_tuning[0], 0x1FF1u + 4 * 32);
  copy_full(cx, f, out.data(), set, 62, 32, P, H);
  EXPECT_EQ(f->split_tuning[0] & 1, 0u);  // measuring again
  // The duplicate-row word: a settled word accumulates 4 × rows, Scratch or Reconvert by bit 1,
  // and measures again (0x82, the timing wrappers) once past 0x2000.
  int32_t step = 256, skip;
  f->dup_tuning[0] = 3;
  select_converters(cx, f, 3 | kCopyNoSimd | (1u << 28), 64, 32, &step, &skip);
  EXPECT_EQ(f->dup_tuning[0], 3u + 4 * 32);
  EXPECT_EQ(step, 512);
  EXPECT_EQ(skip, 512 - 256);
  EXPECT_FALSE(cx->dup_measuring);
  const convert_groups_fn scratch = cx->groups_even;
  f->dup_tuning[0] = 1;
  step = 256;
  select_converters(cx, f, 3 | kCopyNoSimd | (1u << 28), 64, 32, &step, &skip);
  EXPECT_NE(cx->groups_even, scratch);  // Reconvert
  f->dup_tuning[0] = 0x2001;
  step = 256;
  select_converters(cx, f, 3 | kCopyNoSimd | (1u << 28), 64, 32, &step, &skip);
  EXPECT_EQ(f->dup_tuning[0], 0x82u);
  EXPECT_TRUE(cx->dup_measuring);
  EXPECT_EQ(cx->cursor.pitch, 256);
}

TEST(ConvertEdges, MemorySurfaceRoundTrip) {
  Flat pic(16, 4, 120, 100, 150, 0, false);
  Timing t;
  CopySource s = source_for(pic, t, 16, 4);
  const uint32_t kCodes[] = {1, 3, 4, 9, 10, 11, 12, 13, 14, 15};
  for (uint32_t code : kCodes) {
    for (int bottom = 0; bottom < (code == 15 ? 1 : 2); ++bottom) {
      const int32_t pitch = int32_t((18 * convert_bytes_per_pixel(code) + 4 + 3) & ~3u);
      MemorySurface* m = memory_surface_open(code, 18, 6, bottom ? -pitch : pitch, 2, 2);
      ASSERT_NE(m, nullptr);
      memory_surface_copy(m, &s, kCopyWhole | kCopyNoSimd);
      std::vector<uint8_t> rgb(18 * 6 * 3);
      memory_surface_to_rgb(m, rgb.data());
      const uint8_t* p = &rgb[(3 * 18 + 5) * 3];  // inside the picture
      const int tol = code >= 9 && code <= 12 ? 12 : 1;
      EXPECT_NEAR(p[0], 156, tol) << code;  // what the integer arithmetic makes of (120, 100, 150)
      EXPECT_NEAR(p[1], 114, tol) << code;
      EXPECT_NEAR(p[2], 65, tol) << code;
      memory_surface_close(m);
    }
  }
  EXPECT_EQ(memory_surface_open(15, 16, 4, -32, 0, 0), nullptr);
  EXPECT_EQ(memory_surface_open(3, 16, 4, 32, 0, 0), nullptr);
}

}  // namespace
