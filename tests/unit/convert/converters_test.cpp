// Every converter against the plain model, bit for bit, on random planes: the integer set
// against the table rules, the SIMD set against the model of the SIMD arithmetic, and the
// plain twins of the SIMD converters against the SIMD set.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "base/cpu.h"
#include "tests/unit/convert/convert_model.h"

namespace {

constexpr uint32_t kRowLen = 160;   // source pixels per test row
constexpr uint32_t kGuard = 32;
constexpr int32_t kPitch = 700;     // destination row pitch of the test buffer

struct Bench {
  std::vector<uint8_t> luma[2], cb, cr, alpha[2];
  std::vector<uint8_t> dst, expect;
  explicit Bench(std::mt19937& rng) {
    for (auto& l : luma) { l.resize(kRowLen); model::fill_random(rng, l.data(), kRowLen); }
    for (auto& a : alpha) { a.resize(kRowLen); model::fill_random(rng, a.data(), kRowLen); }
    cb.resize(kRowLen / 2 + 2);
    cr.resize(kRowLen / 2 + 2);
    model::fill_random(rng, cb.data(), cb.size());
    model::fill_random(rng, cr.data(), cr.size());
    dst.assign(kGuard + 4 * kPitch + kGuard, 0xA5);
    expect = dst;
  }
  // A cursor at source x (chroma x / 2), destination row 0 at byte `offset` of the buffer; the
  // pair's second row is two rows below, the duplicated rows one below.
  ConvertCursor cursor(uint32_t x, uint32_t offset, bool alpha, uint32_t code, bool overhang = false) {
    ConvertCursor c{};
    c.pack = color_packing(code);
    c.pair_overhang = overhang;
    c.dst0 = dst.data() + kGuard + offset;
    c.dst1 = c.dst0 + 2 * kPitch;
    c.y0 = luma[0].data() + x;
    c.y1 = luma[1].data() + x;
    c.cb = cb.data() + x / 2;
    c.cr = cr.data() + x / 2;
    c.a0 = alpha ? this->alpha[0].data() + x : nullptr;
    c.a1 = alpha ? this->alpha[1].data() + x : nullptr;
    c.pitch = kPitch;
    return c;
  }
  uint8_t* expect_row(uint32_t offset, int row) { return expect.data() + kGuard + offset + row * kPitch; }
};

struct FamilyCase {
  uint32_t family;
  uint32_t code;
};
const FamilyCase kFamilies[] = {
    {kFamilyBgr32, 3}, {kFamilyRgb32, 4}, {kFamilyBgra32, 5}, {kFamilyRgba32, 6},
    {kFamilyBgr24, 1}, {kFamilyRgb24, 2}, {kFamily16, 7},     {kFamily16, 8},
    {kFamily16, 9},    {kFamily16, 10},   {kFamily16, 11},    {kFamily16, 12},
    {kFamily4444, 7},  {kFamily5551, 8},  {kFamilyYuy2, 13},  {kFamilyUyvy, 14},
};

void expect_cursor(const ConvertCursor& c, const ConvertCursor& start, uint32_t x, uint32_t n,
                   uint32_t step, bool two, const char* what) {
  EXPECT_EQ(c.y0, start.y0 + n) << what;
  EXPECT_EQ(c.dst0, start.dst0 + n * step) << what;
  EXPECT_EQ(c.cb, start.cb + ((x + n) / 2 - x / 2)) << what;
  EXPECT_EQ(c.cr, start.cr + ((x + n) / 2 - x / 2)) << what;
  if (two) {
    EXPECT_EQ(c.y1, start.y1 + n) << what;
    EXPECT_EQ(c.dst1, start.dst1 + n * step) << what;
  }
  if (start.a0) {
    EXPECT_EQ(c.a0, start.a0 + n) << what;
  }
}

class ConvertersTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    // Every instruction-set level the processor has, so that each converter set is tested
    // whole and not only as the tail of a wider one.
    if (GetParam() > cpu_detected_level()) GTEST_SKIP() << "the processor lacks " << cpu_level_name(GetParam());
    cpu_set_limit(GetParam());
    cx = convert_context_create(kRowLen);
    ASSERT_NE(cx, nullptr);
  }
  void TearDown() override {
    convert_context_destroy(cx);
    cpu_set_limit(kCpuAvx2);
  }
  ConvertContext* cx = nullptr;
};

// Group converters of both sets: units as their group size allows, both phases through the
// even and odd converters, every destination alignment.
TEST_P(ConvertersTest, GroupConvertersMatchModel) {
  std::mt19937 rng(7);
  const bool simd = cx->simd_supported;
  for (const FamilyCase& fc : kFamilies) {
    ConversionFamily* f = &cx->families[fc.family];
    GroupConverter reference[6];
    convert_reference_simd_groups(fc.family, reference);
    const uint32_t b = model::bytes_per_pixel(fc.family);
    for (int set = 0; set < 3; ++set) {
      if (set == 1 && !simd) continue;
      for (uint32_t k = 0; k < 6; ++k) {
        // set 0: integer converters; 1: SIMD converters; 2: the plain twins of the SIMD arithmetic.
        const GroupConverter g = set == 0 ? f->groups[k] : set == 1 ? f->groups[kGroupSimd + k] : reference[k];
        const bool odd = k == kGroupColorOdd || k == kGroupWideColorOdd;
        const bool grey = k == kGroupGrey || k == kGroupWideGrey;
        const uint32_t kw = k >= kGroupWideColorEven ? 2 : 1;
        const model::Target t{fc.family, fc.code, set != 0, grey};
        const uint32_t step_units = 1u << (g.shift - 2);
        for (uint32_t units = step_units; units <= 18; units += step_units) {
          for (uint32_t offset = 0; offset < 4; ++offset) {
            Bench bench(rng);
            const bool alpha = model::has_alpha(fc.family);
            const uint32_t x = odd ? 3 : 2;
            ConvertCursor c = bench.cursor(x, offset, alpha, fc.code);
            const ConvertCursor start = c;
            g.run(&c, units);
            for (int row = 0; row < 2; ++row)
              model::span(t, kw, model::kGroups, true, x, 4 * units, bench.luma[row].data() + x,
                          bench.cb.data() + x / 2, bench.cr.data() + x / 2,
                          alpha ? bench.alpha[row].data() + x : nullptr, bench.expect_row(offset, 2 * row));
            ASSERT_EQ(bench.dst, bench.expect) << "family " << fc.family << " code " << fc.code
                                               << " set " << set << " converter " << k
                                               << " units " << units << " offset " << offset;
            expect_cursor(c, start, x, 4 * units, b * kw, true, "groups");
          }
        }
      }
    }
  }
}

// The band form of a group converter (runs of 16-pixel blocks over a band's 8 row pairs)
// writes what the converter itself writes walked run by run, and nothing else.
TEST_P(ConvertersTest, BandConvertersMatchTheirGroupConverters) {
  std::mt19937 rng(13);
  constexpr uint32_t kBlocks = 9, kP = 16 * kBlocks + 16, kRows = 16;
  for (const FamilyCase& fc : kFamilies) {
    ConversionFamily* f = &cx->families[fc.family];
    const uint32_t b = model::bytes_per_pixel(fc.family);
    for (uint32_t k = 0; k < 2 * kGroupSimd; ++k) {
      const GroupConverter g = f->groups[k];
      if (!g.band) continue;
      const uint32_t kw = k % kGroupSimd >= kGroupWideColorEven ? 2 : 1;
      std::vector<uint8_t> luma(kP * kRows), alpha(kP * kRows), cb(kP / 2 * kRows / 2), cr(cb.size());
      for (auto* v : {&luma, &alpha, &cb, &cr}) model::fill_random(rng, v->data(), v->size());
      const int32_t step = int32_t(kP * kw * b + 12);
      std::vector<uint8_t> got(size_t(step) * kRows + 64, 0x5A), want = got;
      BlockBand band{};
      band.origin.y0 = luma.data() + 16;
      band.origin.y1 = band.origin.y0 + kP;
      const bool has_alpha = model::has_alpha(fc.family);
      band.origin.a0 = has_alpha ? alpha.data() + 16 : nullptr;
      band.origin.a1 = has_alpha ? band.origin.a0 + kP : nullptr;
      band.origin.cb = cb.data() + 8;
      band.origin.cr = cr.data() + 8;
      band.origin.dst0 = got.data() + 4;
      band.origin.dst1 = band.origin.dst0 + step;
      band.luma_pitch = kP;
      band.row_step = step;
      band.block_bytes = 16 * kw * b;
      uint16_t runs[2 * kBlocks];
      for (uint32_t i = 0; i < kBlocks;) {
        const uint32_t n = 1 + rng() % 3, len = std::min(n, kBlocks - i);
        if (rng() % 2) {
          runs[2 * band.run_count] = uint16_t(i);
          runs[2 * band.run_count + 1] = uint16_t(len);
          ++band.run_count;
        }
        i += len + 1;
      }
      band.runs = runs;
      band.pack = color_packing(fc.code);
      g.band(&band);
      const ptrdiff_t shift = want.data() - got.data();
      convert_walk_band(&band, [&](CursorPositions& p, uint32_t units) {
        ConvertCursor c{};
        cursor_set_positions(&c, p);
        c.dst0 += shift;
        c.dst1 += shift;
        c.pitch = step;
        c.pack = band.pack;
        g.run(&c, units);
      });
      ASSERT_EQ(got, want) << "family " << fc.family << " code " << fc.code << " converter " << k;
    }
  }
}

// Lone-row and run converters of the eight variants, every width from 1 to 67, both source x
// parities, every destination alignment, and both answers to whether an odd packed-YUV run
// may write its whole last pair.
TEST_P(ConvertersTest, RowAndRunConvertersMatchModel) {
  std::mt19937 rng(11);
  for (const FamilyCase& fc : kFamilies) {
    ConversionFamily* f = &cx->families[fc.family];
    const uint32_t b = model::bytes_per_pixel(fc.family);
    const bool alpha = model::has_alpha(fc.family);
    for (uint32_t v = 0; v < 8; ++v) {
      const bool grey = v & 1, wide = v & 2, dup = v & 4;
      const uint32_t kw = wide ? 2 : 1;
      const model::Target t{fc.family, fc.code, false, grey};
      for (uint32_t w = 1; w <= 67; ++w) {
        for (uint32_t x = 4; x < 6; ++x) {
          const uint32_t offset = (w + x) & 3;
          for (int overhang = 0; overhang < 2; ++overhang) {
            if (overhang && !model::is_pairs(fc.family)) continue;
            for (int kind = 0; kind < 2; ++kind) {
              Bench bench(rng);
              ConvertCursor c = bench.cursor(x, offset, alpha, fc.code, overhang);
              const ConvertCursor start = c;
              if (kind == 0) f->rows[v].row(&c, x, w);
              else EXPECT_EQ(f->rows[v].run(&c, w, x), x + w);
              const int rows = kind == 0 ? 1 : 2;
              for (int row = 0; row < rows; ++row)
                for (int d = 0; d < (dup ? 2 : 1); ++d)
                  model::span(t, kw, kind == 0 ? model::kLoneRow : model::kRun, overhang, x, w,
                              bench.luma[row].data() + x, bench.cb.data() + x / 2,
                              bench.cr.data() + x / 2, alpha ? bench.alpha[row].data() + x : nullptr,
                              bench.expect_row(offset, 2 * row + d));
              ASSERT_EQ(bench.dst, bench.expect)
                  << "family " << fc.family << " code " << fc.code << " variant " << v << " width "
                  << w << " x " << x << " kind " << kind << " overhang " << overhang;
              expect_cursor(c, start, x, w, b * kw, kind == 1, kind ? "run" : "row");
            }
          }
        }
      }
    }
  }
}

// The chroma terms that the SIMD converters compute equal the table entries for every sample,
// and the tables hold their documented ranges.
TEST_P(ConvertersTest, TablesFollowTheirRules) {
  const ColorTables& t = kColor;
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(t.luma[i], model::luma(i, false));
    EXPECT_EQ(t.blue_cb[i], model::term(66101, i));
    EXPECT_EQ(t.grey[i], model::grey(i));
  }
  EXPECT_EQ(t.blue_cb[0], -258);
  EXPECT_EQ(t.blue_cb[255], 256);
  EXPECT_EQ(t.green_cr[0], 104);
  EXPECT_EQ(t.green_cr[255], -103);
  EXPECT_EQ(t.red_cr[0], -204);
  EXPECT_EQ(t.red_cr[255], 202);
  EXPECT_EQ(t.luma[235], 254);
  EXPECT_EQ(t.luma[255], 254);
  // The lowest sum that occurs (Y = 0, Cb = 0) is inside the 16-bit field tables.
  const PackingTables* p = color_packing(10);
  EXPECT_EQ(p->format, 10u);
  EXPECT_EQ(color_field(p, 0, t.luma[0] + t.blue_cb[0]), 0);
  EXPECT_EQ(color_field(p, 2, 510), 0xF800);
  // Codes without a 16-bit packing get the empty one.
  EXPECT_EQ(color_packing(3)->format, 0u);
  EXPECT_EQ(color_field(color_packing(13), 2, 510), 0);
}

INSTANTIATE_TEST_SUITE_P(Levels, ConvertersTest, ::testing::Values(kCpuPlain, kCpuSse2, kCpuAvx2),
                         [](const ::testing::TestParamInfo<uint32_t>& i) { return std::string(cpu_level_name(i.param)); });

}  // namespace
