// The copy paths against the model: the whole rectangle in every doubling mode, source and
// destination offsets, alignments and pitches; the changed-block path against the whole one.
#include <gtest/gtest.h>

#include <string>

#include "base/cpu.h"
#include "tests/unit/convert/convert_model.h"
#include "video/video_decoder.h"

namespace {

struct FamilyCase {
  uint32_t family, code;
};
const FamilyCase kFamilies[] = {
    {kFamilyBgr32, 3}, {kFamilyRgb32, 4}, {kFamilyBgra32, 5}, {kFamilyRgba32, 6},
    {kFamilyBgr24, 1}, {kFamilyRgb24, 2}, {kFamily16, 10},    {kFamily16, 12},
    {kFamily4444, 7},  {kFamily5551, 8},  {kFamilyYuy2, 13},  {kFamilyUyvy, 14},
};

struct Picture {
  VideoStore store{};
  const uint8_t* set() const { return store.planes.plane_sets[store.planes.current_set]; }
  uint8_t* set_mut() { return store.planes.plane_sets[store.planes.current_set]; }
  const uint8_t* alpha() const { return store.planes.alpha_planes[store.planes.current_set]; }
  uint32_t P() const { return store.planes.luma_stride; }
  uint32_t H() const { return store.planes.luma_height; }
  Picture(uint32_t w, uint32_t h) { EXPECT_TRUE(video_store_open(&store, w, h, true, true)); }
  ~Picture() { video_store_close(&store); }
  void randomise(std::mt19937& rng, int top) {
    model::fill_random(rng, set_mut(), store.sizes.set_bytes, top);
    model::fill_random(rng, store.planes.alpha_planes[store.planes.current_set], store.sizes.alpha_bytes);
  }
};

// The model of a whole-rectangle copy into (base, pitch) at (dest_x, dest_y).
void model_copy(const Picture& pic, const model::Target& t, uint32_t flags, uint32_t x, uint32_t y,
                uint32_t w, uint32_t h, uint8_t* base, int32_t pitch, uint32_t dest_x, uint32_t dest_y) {
  const uint32_t mode = (flags >> 28) & 7;
  const uint32_t P = pic.P(), H = pic.H();
  const uint32_t b = model::bytes_per_pixel(t.family), kw = convert_width_factor(mode);
  const uint8_t* first = pic.set() + P * H;
  const uint8_t* second = first + P * H / 4;
  const bool swap = flags & kCopyChromaSwap;
  const uint8_t* cr_plane = swap ? second : first;
  const uint8_t* cb_plane = swap ? first : second;
  const bool alpha = model::has_alpha(t.family);
  const uint32_t abs_pitch = uint32_t(pitch < 0 ? -pitch : pitch);
  const bool overhang = (dest_x + ((w + 1) & ~1u)) * b * kw <= abs_pitch;
  // Rows in the copy's own numbering (field rows in mode 6).
  uint32_t first_row = y, count = h;
  if (mode == 6) { first_row = y / 2; count = h / 2; }
  const uint32_t pair_start = (first_row & 1) ? first_row + 1 : first_row;
  for (uint32_t i = first_row; i < first_row + count; ++i) {
    const uint32_t last = first_row + count - 1;
    const bool lone = (i == first_row && (first_row & 1)) || (i == last && ((last - pair_start) % 2 == 0));
    const uint32_t luma_row = mode == 6 ? 2 * i : i;
    const uint32_t chroma_row = mode == 6 ? 2 * (i / 2) : i / 2;
    const uint32_t k = i - first_row;
    uint32_t rows[2], nrows = 1;
    switch (mode) {
      case 1: case 4: rows[0] = 2 * k; rows[1] = 2 * k + 1; nrows = 2; break;
      case 2: case 5: case 6: rows[0] = 2 * k; break;
      default: rows[0] = k; break;
    }
    for (uint32_t r = 0; r < nrows; ++r) {
      uint8_t* out = base + int64_t(dest_y + rows[r]) * pitch + int64_t(dest_x) * b;
      model::span(t, kw, lone ? model::kLoneRow : model::kRun, overhang, x, w,
                  pic.set() + size_t(luma_row) * P + x, cb_plane + size_t(chroma_row) * (P / 2) + x / 2,
                  cr_plane + size_t(chroma_row) * (P / 2) + x / 2,
                  alpha ? pic.alpha() + size_t(luma_row) * P + x : nullptr, out);
    }
  }
}

struct Destination {
  std::vector<uint8_t> bytes;
  uint8_t* base;
  int32_t pitch;
  Destination(uint32_t rows, uint32_t abs_pitch, bool bottom_up, uint32_t offset) {
    bytes.assign(64 + size_t(rows) * abs_pitch + 64, 0x5A);
    uint8_t* top = bytes.data() + 64 + offset;
    pitch = bottom_up ? -int32_t(abs_pitch) : int32_t(abs_pitch);
    base = bottom_up ? top + size_t(rows - 1) * abs_pitch : top;
  }
};

uint32_t flags_for(uint32_t code, uint32_t mode, bool grey, bool swap, bool simd) {
  return code | (mode << 28) | (grey ? kCopyGrey : 0) | (swap ? kCopyChromaSwap : 0) |
         (simd ? 0 : kCopyNoSimd);
}

class DriverTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    // Every instruction-set level the processor has, so that each converter set is tested
    // whole and not only as the tail of a wider one.
    if (GetParam() > cpu_detected_level()) GTEST_SKIP() << "the processor lacks " << cpu_level_name(GetParam());
    cpu_set_limit(GetParam());
    cx = convert_context_create(128);
    ASSERT_NE(cx, nullptr);
  }
  void TearDown() override {
    convert_context_destroy(cx);
    cpu_set_limit(kCpuAvx2);
  }
  ConvertContext* cx = nullptr;
};

// The whole-rectangle path in every mode with random rectangles, destinations and tuning
// choices: integer converters on any sample, SIMD converters on samples up to 235 (where the
// two arithmetics agree) in colour.
TEST_P(DriverTest, WholeRectangleMatchesModel) {
  std::mt19937 rng(3);
  Picture pic(80, 24);
  const bool simd_ok = cx->simd_supported;
  uint32_t width_cycle = 0;
  for (const FamilyCase& fc : kFamilies) {
    ConversionFamily* f = &cx->families[fc.family];
    for (uint32_t mode = 0; mode < 8; ++mode) {
      for (int grey = 0; grey < 2; ++grey) {
        for (int trial = 0; trial < 10; ++trial) {
          const bool simd = simd_ok && !grey && (trial & 1);
          pic.randomise(rng, simd ? 235 : 255);
          const uint32_t x = rng() % 6, y = rng() % 6;
          uint32_t w = width_cycle++ % 67 + 1;
          if (x + w > 80) w = 80 - x;
          const uint32_t h = 1 + rng() % (24 - y);
          const uint32_t dest_x = rng() % 3, dest_y = rng() % 3;
          const bool swap = rng() & 1, bottom_up = rng() & 1;
          const uint32_t b = model::bytes_per_pixel(fc.family), kw = convert_width_factor(mode);
          const uint32_t row_bytes = (dest_x + w * kw + (rng() & 1)) * b;
          const uint32_t rows = dest_y + 2 * h + 2;
          Destination got(rows, row_bytes + (rng() % 3 == 0 ? 0 : rng() % 9), bottom_up, rng() & 3);
          Destination want = got;
          want.base = want.bytes.data() + (got.base - got.bytes.data());
          cx->force_split = rng() % 3;
          cx->force_dup = rng() % 3;
          const uint32_t flags = flags_for(fc.code, mode, grey, swap, simd);
          const model::Target t{fc.family, fc.code, false, bool(grey)};
          const PlaneCopy pc = model::plane_copy(f, got.base, dest_x, dest_y, got.pitch, pic.set(), x, y, w, h,
                                                 pic.P(), pic.H(), flags,
                                                 model::has_alpha(fc.family) ? pic.alpha() : nullptr);
          copy_rect_full(cx, &pc);
          model_copy(pic, t, flags, x, y, w, h, want.base, want.pitch, dest_x, dest_y);
          ASSERT_EQ(got.bytes, want.bytes)
              << "code " << fc.code << " mode " << mode << " grey " << grey << " simd " << simd
              << " x " << x << " y " << y << " w " << w << " h " << h << " dest " << dest_x << ","
              << dest_y << " pitch " << got.pitch << " split " << cx->force_split << " dup "
              << cx->force_dup;
        }
      }
    }
  }
}

// A frame copied whole and by changed blocks (random maps, some marked blocks unchanged) gives
// the same surface, over the same previous picture.
TEST_P(DriverTest, ChangedBlocksMatchWholeCopy) {
  std::mt19937 rng(5);
  Picture pic(96, 64);
  FramePlanes& fp = pic.store.planes;
  const bool simd_ok = cx->simd_supported;
  for (const FamilyCase& fc : kFamilies) {
    ConversionFamily* f = &cx->families[fc.family];
    for (uint32_t mode = 0; mode < 8; ++mode) {
      for (int trial = 0; trial < 6; ++trial) {
        const bool grey = trial == 5;
        const bool simd = simd_ok && !grey && (trial & 1);
        const uint32_t w = trial < 2 ? 96 : 1 + rng() % 96, h = trial < 2 ? 64 : 1 + rng() % 64;
        const uint32_t b = model::bytes_per_pixel(fc.family), kw = convert_width_factor(mode);
        const uint32_t pitch = (w * kw + 4) * b;
        const uint32_t flags = flags_for(fc.code, mode, grey, false, simd);
        const uint8_t* alpha = model::has_alpha(fc.family) ? pic.alpha() : nullptr;
        pic.randomise(rng, simd ? 235 : 255);
        Destination whole(2 * h + 2, pitch, false, 2), changed = whole;
        changed.base = changed.bytes.data() + (whole.base - whole.bytes.data());
        const PlaneCopy to_whole =
            model::plane_copy(f, whole.base, 1, 0, whole.pitch, pic.set(), 0, 0, w, h, pic.P(), pic.H(), flags, alpha);
        const PlaneCopy to_changed = model::plane_copy(f, changed.base, 1, 0, changed.pitch, pic.set(), 0, 0, w, h,
                                                       pic.P(), pic.H(), flags, alpha);
        copy_rect_full(cx, &to_whole);
        changed.bytes = whole.bytes;
        // Change some blocks; mark them (and a few unchanged ones).
        std::memset(fp.change_map, 0, fp.map_blocks);
        for (uint32_t m = 0; m < fp.map_blocks; ++m) {
          if (rng() % 5) continue;
          fp.change_map[m] = 1;
          const uint32_t bx = m % fp.map_columns * 16, by = m / fp.map_columns * 16;
          if (rng() % 4 == 0) continue;
          for (uint32_t r = 0; r < 16; ++r) model::fill_random(rng, pic.set_mut() + (by + r) * pic.P() + bx, 16, simd ? 235 : 255);
          uint8_t* first = pic.set_mut() + pic.P() * pic.H();
          for (int plane = 0; plane < 2; ++plane)
            for (uint32_t r = 0; r < 8; ++r)
              model::fill_random(rng, first + plane * pic.P() * pic.H() / 4 + (by / 2 + r) * (pic.P() / 2) + bx / 2, 8, simd ? 235 : 255);
          for (uint32_t r = 0; r < 16; ++r) model::fill_random(rng, fp.alpha_planes[0] + (by + r) * pic.P() + bx, 16);
        }
        copy_rect_full(cx, &to_whole);
        const ChangeMap map{fp.change_map, fp.map_columns};
        copy_rect_changed(cx, &to_changed, &map);
        ASSERT_EQ(whole.bytes, changed.bytes)
            << "code " << fc.code << " mode " << mode << " grey " << grey << " simd " << simd << " w "
            << w << " h " << h;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, DriverTest, ::testing::Values(kCpuPlain, kCpuSse2, kCpuAvx2),
                         [](const ::testing::TestParamInfo<uint32_t>& i) { return std::string(cpu_level_name(i.param)); });

}  // namespace
