// The arithmetic behind the Windows display system: pixel formats to copy format codes, the
// driver's effects capabilities to stretch words, the key colour, the DIB section's geometry,
// screen-memory offsets and the on-screen part of an overlay.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "convert/convert.h"
#include "display/backends/ddraw_logic.h"
#include "display/surface.h"

namespace {

// A display system whose open_style follows a script, to see when the surface layer says
// that an open is finished (the Windows system gives back there what the tries shared).
struct Script {
  uint32_t opens_at;  // the style that opens (0: none)
  uint32_t tries, finished, tries_at_finish;
};
Script g_script;
int32_t script_open(Surface* s, uint32_t style, uint32_t, bool) {
  ++g_script.tries;
  if (style != g_script.opens_at) return style == 1 ? kStyleUnavailable : kStyleFailed;
  s->kind.close = [](Surface*) {};
  return kStyleOpened;
}
void script_finished(void*) {
  ++g_script.finished;
  g_script.tries_at_finish = g_script.tries;
}
const DisplaySystem kScriptDisplay = {"script", script_open, nullptr, nullptr, nullptr, script_finished};

TEST(SurfaceOpen, FinishedOnceAfterTheLastTry) {
  SurfaceSystem sys{};
  surface_use_system(&sys, &kScriptDisplay, nullptr);
  for (uint32_t opens_at : {0u, 1u, 4u}) {
    for (uint32_t style : {0u, 4u, 12u}) {
      SCOPED_TRACE(testing::Message() << opens_at << " " << style);
      g_script = Script{opens_at, 0, 0, 0};
      Surface* s = surface_open(&sys, reinterpret_cast<void*>(1), 16, 16, style);
      EXPECT_EQ(s != nullptr, opens_at && (style == 0 ? true : style == opens_at));
      EXPECT_EQ(g_script.finished, 1u);
      EXPECT_EQ(g_script.tries_at_finish, g_script.tries);
      surface_close(s);
    }
  }
}

TEST(DdrawLogic, CopyFormatOfEveryPixelFormat) {
  struct Case {
    DdPixelFormat pf;
    int32_t code;
  };
  constexpr uint32_t kRgb = kDdpfRgb, kRgbA = kDdpfRgb | kDdpfAlphaPixels, kFcc = kDdpfFourCC;
  const Case kCases[] = {
      {{kFcc, kFourCCUyvy, 16, 0, 0, 0, 0}, kFormatUyvy},
      {{kFcc, kFourCCYv12, 12, 0, 0, 0, 0}, kFormatYv12},
      {{kFcc, kFourCCYuy2, 16, 0, 0, 0, 0}, kFormatYuy2},
      {{kFcc, ddraw_fourcc('I', '4', '2', '0'), 12, 0, 0, 0, 0}, -1},
      {{kRgb, kFourCCYuy2, 16, 0xF800, 0x07E0, 0x001F, 0}, kFormat565},  // FourCC only with its flag
      {{kRgb, 0, 8, 0, 0, 0, 0}, 0},
      {{kRgb, 0, 24, 0xFF0000, 0xFF00, 0xFF, 0}, kFormatBgr24},
      {{kRgb, 0, 24, 0x0000FF, 0xFF00, 0xFF0000, 0}, kFormatRgb24},
      {{kRgb, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0}, kFormatBgr32},
      {{kRgbA, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000}, kFormatBgra32},
      {{kRgb, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000}, kFormatBgr32},  // a mask without its flag
      {{kRgb, 0, 32, 0x0000FF, 0xFF00, 0xFF0000, 0}, kFormatRgb32},
      {{kRgbA, 0, 32, 0x0000FF, 0xFF00, 0xFF0000, 0xFF000000}, kFormatRgba32},
      {{kRgb, 0, 16, 0xF800, 0x07E0, 0x001F, 0}, kFormat565},
      {{kRgbA, 0, 16, 0x7C00, 0x03E0, 0x001F, 0x8000}, kFormat5551},
      {{kRgbA, 0, 16, 0x7C00, 0x03F0, 0x000F, 0x8000}, -1},  // alpha bit and 5-bit red, other masks
      {{kRgb, 0, 16, 0x7C00, 0x03E0, 0x001F, 0}, kFormat555},
      {{kRgbA, 0, 16, 0x7C00, 0x03E0, 0x001F, 0x4000}, kFormat555},
      {{kRgb, 0, 16, 0xFC00, 0x03E0, 0x001F, 0}, kFormat655},
      {{kRgb, 0, 16, 0xFC00, 0x03F0, 0x000F, 0}, kFormat664},
      {{kRgbA, 0, 16, 0x0F00, 0x00F0, 0x000F, 0xF000}, kFormat4444},
      {{kRgb, 0, 16, 0x0F00, 0x00F0, 0x000F, 0}, -1},  // 4-4-4 needs its alpha nibble
      {{kRgb, 0, 16, 0x001F, 0x07E0, 0xF800, 0}, -1},  // blue on top
      {{kRgb, 0, 15, 0x7C00, 0x03E0, 0x001F, 0}, -1},
      {{kRgb, 0, 4, 0, 0, 0, 0}, -1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.pf.flags << " " << c.pf.bits << " " << c.pf.red << " "
                                    << c.pf.green << " " << c.pf.blue << " " << c.pf.alpha);
    EXPECT_EQ(ddraw_copy_format(c.pf), c.code);
  }
}

TEST(DdrawLogic, EffectsCapabilitiesGiveTheStretchWords) {
  struct Case {
    uint32_t fx, overlay, blit;
  };
  const Case kCases[] = {
      {kFxOverlayStretchX, kStretchWidthUp | kStretchWidthIntUp, 0},
      {kFxOverlayStretchXN, kStretchWidthIntUp, 0},
      {kFxOverlayShrinkX, kStretchWidthDown | kStretchWidthIntDown, 0},
      {kFxOverlayShrinkXN, kStretchWidthIntDown, 0},
      {kFxOverlayStretchY, kStretchHeightUp | kStretchHeightIntUp, 0},
      {kFxOverlayStretchYN, kStretchHeightIntUp, 0},
      {kFxOverlayShrinkY, kStretchHeightDown | kStretchHeightIntDown, 0},
      {kFxOverlayShrinkYN, kStretchHeightIntDown, 0},
      {kFxBltStretchX, 0, kStretchWidthUp | kStretchWidthIntUp},
      {kFxBltStretchXN, 0, kStretchWidthIntUp},
      {kFxBltShrinkX, 0, kStretchWidthDown | kStretchWidthIntDown},
      {kFxBltShrinkXN, 0, kStretchWidthIntDown},
      {kFxBltStretchY, 0, kStretchHeightUp | kStretchHeightIntUp},
      {kFxBltStretchYN, 0, kStretchHeightIntUp},
      {kFxBltShrinkY, 0, kStretchHeightDown | kStretchHeightIntDown},
      {kFxBltShrinkYN, 0, kStretchHeightIntDown},
      {0x0000003F | 0x80000000, 0, 0},  // effects that are not stretching
      {0x07FFFC00, kStretchMask, kStretchMask},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.fx);
    uint32_t overlay = 0, blit = 0;
    ddraw_map_abilities(c.fx, &overlay, &blit);
    EXPECT_EQ(overlay, c.overlay);
    EXPECT_EQ(blit, c.blit);
  }
  // The words only grow: a second object's abilities are added to the first's.
  uint32_t overlay = kStretchHeightIntUp, blit = kStretchWidthIntDown;
  ddraw_map_abilities(kFxBltStretchXN | kFxOverlayShrinkYN, &overlay, &blit);
  EXPECT_EQ(overlay, kStretchHeightIntUp | kStretchHeightIntDown);
  EXPECT_EQ(blit, kStretchWidthIntDown | kStretchWidthIntUp);
  // Integer-only blits show a picture at twice its size but not at one and a half.
  blit = 0;
  ddraw_map_abilities(kFxBltStretchXN | kFxBltStretchYN, &overlay, &blit);
  const uint32_t twice = surface_needed_width_stretch(640, 320) | surface_needed_height_stretch(480, 240);
  const uint32_t half_more = surface_needed_width_stretch(480, 320) | surface_needed_height_stretch(360, 240);
  EXPECT_EQ(blit & twice, twice);
  EXPECT_NE(blit & half_more, half_more);
}

TEST(DdrawLogic, KeyColourIsTheLowestRedAndBlueStep) {
  EXPECT_EQ(ddraw_key_colour(8, 0, 0), 253u);
  EXPECT_EQ(ddraw_key_colour(16, 0xF800, 0x001F), 0x0801u);
  EXPECT_EQ(ddraw_key_colour(16, 0x7C00, 0x001F), 0x0401u);
  EXPECT_EQ(ddraw_key_colour(32, 0xFF0000, 0x0000FF), 0x00010001u);
  EXPECT_EQ(ddraw_key_colour(24, 0x0000FF, 0xFF0000), 0x00010001u);
}

TEST(DdrawLogic, DibSectionGeometryAndMasks) {
  struct Case {
    uint32_t width, bytes, block_width, row_bytes;
  };
  const Case kCases[] = {
      {320, 4, 320, 1280}, {321, 4, 328, 1312}, {10, 3, 10, 32}, {11, 3, 21, 64},
      {176, 3, 181, 544},  {1, 2, 16, 32},      {17, 2, 32, 64},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.bytes);
    const uint32_t block = dib_block_width(c.width, c.bytes);
    EXPECT_EQ(block, c.block_width);
    EXPECT_GE(block, c.width);
    EXPECT_EQ(dib_row_bytes(block, c.bytes), c.row_bytes);
  }
  uint32_t masks[3];
  EXPECT_EQ(dib_masks(4, 0, masks), uint32_t(kFormatBgr32));
  EXPECT_EQ(masks[0], 0xFF0000u);
  EXPECT_EQ(dib_masks(3, 0, masks), uint32_t(kFormatBgr24));
  EXPECT_EQ(dib_masks(2, 0xF800, masks), uint32_t(kFormat565));
  EXPECT_EQ(masks[1], 0x07E0u);
  EXPECT_EQ(dib_masks(2, 0x7C00, masks), uint32_t(kFormat555));
  EXPECT_EQ(dib_masks(2, 0, masks), uint32_t(kFormat555));  // the display gave no masks
  EXPECT_EQ(masks[0], 0x7C00u);
  EXPECT_EQ(masks[1], 0x03E0u);
  EXPECT_EQ(masks[2], 0x001Fu);
}

TEST(DdrawLogic, PictureInScreenMemory) {
  DdRect part;
  // At (100, 50) on a 16-bit display: 200 bytes in, 50 rows down.
  EXPECT_EQ(ddraw_primary_part(100, 50, 320, 240, 1024, 768, 2, 2048, &part), 200 + 50 * 2048);
  EXPECT_EQ(ddraw_primary_part(704, 528, 320, 240, 1024, 768, 4, 4096, &part), 704 * 4 + 528 * 4096);

  // A picture partly off the screen is written only where it is on it: each edge, each corner,
  // wholly off past each edge and corner, and larger than the screen.
  struct Case {
    int32_t x, y;
    DdRect part;     // picture pixels
    int64_t offset;  // of the part's first pixel (-1: nothing on screen)
  };
  constexpr int64_t P = 4096, B = 4;  // 1024 × 768 at 32 bits, 320 × 240 picture
  const Case kCases[] = {
      {0, 0, {0, 0, 320, 240}, 0},
      {704, 528, {0, 0, 320, 240}, 704 * B + 528 * P},      // the bottom right corner, just on
      {-1, 100, {1, 0, 320, 240}, 100 * P},                 // left edge
      {-319, 100, {319, 0, 320, 240}, 100 * P},             // one column left
      {100, -7, {0, 7, 320, 240}, 100 * B},                 // top edge
      {705, 100, {0, 0, 319, 240}, 705 * B + 100 * P},      // right edge
      {1023, 100, {0, 0, 1, 240}, 1023 * B + 100 * P},      // one column left
      {100, 529, {0, 0, 320, 239}, 100 * B + 529 * P},      // bottom edge
      {-20, -10, {20, 10, 320, 240}, 0},                    // top left corner
      {800, -10, {0, 10, 224, 240}, 800 * B},               // top right corner
      {-20, 600, {20, 0, 320, 168}, 600 * P},               // bottom left corner
      {800, 600, {0, 0, 224, 168}, 800 * B + 600 * P},      // bottom right corner
      {-320, 100, {0, 0, 0, 0}, -1},                        // wholly off: left
      {1024, 100, {0, 0, 0, 0}, -1},                        // right
      {100, -240, {0, 0, 0, 0}, -1},                        // top
      {100, 768, {0, 0, 0, 0}, -1},                         // bottom
      {-320, -240, {0, 0, 0, 0}, -1},                       // corners
      {1024, 768, {0, 0, 0, 0}, -1},
      {-400, 900, {0, 0, 0, 0}, -1},
      {0x7FFFFFF0, 0, {0, 0, 0, 0}, -1},                    // no overflow on the way
      {-0x7FFFFFF0, -0x7FFFFFF0, {0, 0, 0, 0}, -1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.x << ", " << c.y);
    EXPECT_EQ(ddraw_primary_part(c.x, c.y, 320, 240, 1024, 768, 4, 4096, &part), c.offset);
    EXPECT_EQ(part.left, c.part.left);
    EXPECT_EQ(part.top, c.part.top);
    EXPECT_EQ(part.right, c.part.right);
    EXPECT_EQ(part.bottom, c.part.bottom);
    if (c.offset < 0) continue;
    // Every pixel of the part lies in the screen's memory, and only those.
    const int64_t first = c.offset, last = first + int64_t(part.bottom - part.top - 1) * P +
                                             int64_t(part.right - part.left) * B - 1;
    EXPECT_GE(first, 0);
    EXPECT_LT(last, 768 * P);
    EXPECT_EQ(first % P / B, c.x + part.left);
    EXPECT_EQ(first / P, c.y + part.top);
  }
  // A picture larger than the screen shows the screen-sized part.
  EXPECT_EQ(ddraw_primary_part(-8, -4, 2000, 1000, 1024, 768, 3, 3072, &part), 0);
  EXPECT_EQ(part.left, 8);
  EXPECT_EQ(part.top, 4);
  EXPECT_EQ(part.right, 1032);
  EXPECT_EQ(part.bottom, 772);

  // The cursor over the picture: rectangles that share only an edge do not overlap.
  EXPECT_TRUE(ddraw_rects_overlap(10, 10, 32, 32, 0, 0, 11, 11));
  EXPECT_FALSE(ddraw_rects_overlap(10, 10, 32, 32, 0, 0, 10, 100));
  EXPECT_FALSE(ddraw_rects_overlap(10, 10, 32, 32, 42, 0, 10, 100));
  EXPECT_FALSE(ddraw_rects_overlap(10, 10, 32, 32, 0, 42, 100, 10));
  EXPECT_TRUE(ddraw_rects_overlap(10, 10, 32, 32, 41, 41, 10, 10));
}

TEST(DdrawLogic, OverlayIsCutToTheScreen) {
  struct Case {
    int32_t x, y, out_w, out_h;
    bool on_screen;
    DdRect src, dst;
  };
  const Case kCases[] = {
      {100, 50, 320, 240, true, {0, 0, 320, 240}, {100, 50, 420, 290}},
      {-20, 0, 320, 240, true, {20, 0, 320, 240}, {0, 0, 300, 240}},     // partly off the left edge
      {0, -10, 320, 240, true, {0, 10, 320, 240}, {0, 0, 320, 230}},
      {704, 600, 320, 240, true, {0, 0, 320, 168}, {704, 600, 1024, 768}},
      {800, 0, 320, 240, true, {0, 0, 224, 240}, {800, 0, 1024, 240}},  // off the right edge
      {-20, -10, 640, 480, true, {10, 5, 320, 240}, {0, 0, 620, 470}},  // stretched: the source cut halves
      {1024, 0, 320, 240, false, {0, 0, 0, 240}, {1024, 0, 1024, 240}},
      {-320, 0, 320, 240, false, {320, 0, 320, 240}, {0, 0, 0, 240}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " " << c.out_w << "x" << c.out_h);
    DdRect src, dst;
    EXPECT_EQ(ddraw_overlay_rects(c.x, c.y, c.out_w, c.out_h, 320, 240, 1024, 768, &src, &dst), c.on_screen);
    if (!c.on_screen) continue;
    EXPECT_EQ(src.left, c.src.left);
    EXPECT_EQ(src.top, c.src.top);
    EXPECT_EQ(src.right, c.src.right);
    EXPECT_EQ(src.bottom, c.src.bottom);
    EXPECT_EQ(dst.left, c.dst.left);
    EXPECT_EQ(dst.top, c.dst.top);
    EXPECT_EQ(dst.right, c.dst.right);
    EXPECT_EQ(dst.bottom, c.dst.bottom);
  }
}

}  // namespace

// ---- The lock of the DirectDraw kinds, on a fake surface ------------------------------------

// A DirectDraw surface in memory: a screen-sized block that can be lost (the next locks answer
// "lost" until a restore), whose restore can fail, and which counts its calls.
struct FakeDdSurface {
  uint32_t width = 64, height = 32, bytes_per_pixel = 4;
  int32_t pitch = 64 * 4 + 16;
  std::vector<uint8_t> memory = std::vector<uint8_t>(size_t(64 * 4 + 16) * 32, 0x11);
  bool lost = false, restore_fails = false;
  int locks = 0, unlocks = 0, restores = 0, held = 0;
};
FakeDdSurface* fake(void* p) { return static_cast<FakeDdSurface*>(p); }
int32_t fake_lock(void* p, DdLocked* out) {
  FakeDdSurface* f = fake(p);
  ++f->locks;
  if (f->lost) return kDdErrSurfaceLost;
  ++f->held;
  *out = DdLocked{f->memory.data(), f->pitch, f->width, f->height, 8 * f->bytes_per_pixel};
  return 0;
}
void fake_unlock(void* p, void* memory) {
  FakeDdSurface* f = fake(p);
  EXPECT_EQ(memory, f->memory.data());
  ++f->unlocks;
  --f->held;
}
int32_t fake_restore(void* p) {
  FakeDdSurface* f = fake(p);
  ++f->restores;
  if (f->restore_fails) return int32_t(0x88760005u);  // DDERR_GENERIC-like
  f->lost = false;
  std::fill(f->memory.begin(), f->memory.end(), 0xEE);  // what a restored surface holds: anything
  return 0;
}
constexpr DdSurfaceOps kFakeOps = {fake_lock, fake_unlock, fake_restore};

// A display system whose every style is the portable DirectDraw lock on one fake surface
// (style 1: the fake is the screen).
FakeDdSurface g_fake;
void* g_locked;
int32_t fake_open(Surface* s, uint32_t style, uint32_t, bool) {
  s->kind.lock = [](Surface* s, uint8_t** buffer, int32_t* pitch) {
    return ddraw_lock_kind(&kFakeOps, &g_fake, s, buffer, pitch, &g_locked);
  };
  s->kind.unlock = [](Surface*) { fake_unlock(&g_fake, g_locked); };
  s->kind.close = [](Surface*) {};
  s->flags = style == 1 ? uint32_t(kFormatBgr32) | kSurfaceOnScreen : uint32_t(kFormatBgr32);
  s->screen_width = int32_t(g_fake.width);
  s->screen_height = int32_t(g_fake.height);
  s->bytes_per_pixel = g_fake.bytes_per_pixel;
  return kStyleOpened;
}
const DisplaySystem kFakeDdDisplay = {"fake ddraw", fake_open, nullptr, nullptr, nullptr};

struct DdLock : ::testing::Test {
  void SetUp() override {
    g_fake = FakeDdSurface{};
    surface_use_system(&sys, &kFakeDdDisplay, nullptr);
  }
  SurfaceSystem sys{};
};

TEST_F(DdLock, RestoredSurfaceTakesTheWholeCopyBit) {
  for (uint32_t style : {1u, 9u}) {
    SCOPED_TRACE(style);
    g_fake = FakeDdSurface{};
    Surface* s = surface_open(&sys, nullptr, 16, 8, style);
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(surface_lock(s));  // the first copy after the open converts everything
    surface_unlock(s);
    EXPECT_EQ(s->flags & kSurfaceCopyWhole, 0u);

    // An ordinary lock: only the changed blocks are needed.
    ASSERT_TRUE(surface_lock(s));
    EXPECT_EQ(s->flags & kSurfaceCopyWhole, 0u);
    EXPECT_EQ(s->buffer, g_fake.memory.data());
    EXPECT_EQ(s->pitch, g_fake.pitch);
    surface_unlock(s);

    // Lost, restored and locked again: the memory holds none of the picture, so the copy
    // between this lock and its unlock must convert the whole picture.
    g_fake.lost = true;
    ASSERT_TRUE(surface_lock(s));
    EXPECT_EQ(g_fake.restores, 1);
    EXPECT_EQ(g_fake.memory[0], 0xEE);
    EXPECT_NE(s->flags & kSurfaceCopyWhole, 0u);
    surface_unlock(s);
    EXPECT_EQ(s->flags & kSurfaceCopyWhole, 0u);  // the unlock ends it, as after a failed lock
    ASSERT_TRUE(surface_lock(s));
    EXPECT_EQ(s->flags & kSurfaceCopyWhole, 0u);
    surface_unlock(s);

    // A restore that fails: no lock, the bit set for the next one.
    g_fake.lost = true;
    g_fake.restore_fails = true;
    EXPECT_FALSE(surface_lock(s));
    EXPECT_NE(s->flags & kSurfaceCopyWhole, 0u);
    EXPECT_EQ(s->buffer, nullptr);
    g_fake.lost = false;
    ASSERT_TRUE(surface_lock(s));
    EXPECT_NE(s->flags & kSurfaceCopyWhole, 0u);
    surface_unlock(s);
    EXPECT_EQ(g_fake.held, 0);
    EXPECT_EQ(g_fake.locks, g_fake.unlocks + 2);  // the two lost answers
    surface_close(s);
  }
}

TEST_F(DdLock, RestoringLockGivesUpAfterItsRestores) {
  DdLocked d = {};
  bool restored = true;
  EXPECT_EQ(ddraw_lock_restoring(&kFakeOps, &g_fake, 8, &d, &restored), 0);
  EXPECT_FALSE(restored);
  fake_unlock(&g_fake, d.memory);
  // Lost for good: each restore "works" but the surface is lost again at once.
  static int relost;
  constexpr DdSurfaceOps kRelosing = {fake_lock, fake_unlock, [](void* p) {
                                        ++relost;
                                        fake(p)->lost = true;
                                        return 0;
                                      }};
  g_fake.lost = true;
  EXPECT_EQ(ddraw_lock_restoring(&kRelosing, &g_fake, 3, &d, &restored), kDdErrSurfaceLost);
  EXPECT_TRUE(restored);
  EXPECT_EQ(relost, 3);
  EXPECT_EQ(g_fake.held, 0);
}

// The software-cursor probe on a fake screen: what GDI reads back, with the cursor hidden
// again, decides the answer; the probe's byte never stays in the surface's memory.
struct CursorScreen {
  FakeDdSurface* surface;
  int32_t x, y;
  enum Kind { kHardware, kSoftware, kOtherMemory } kind;
  uint8_t saved;  // what a software cursor saved under it when it was drawn
  int looks;
};
uint8_t& screen_at(FakeDdSurface* f, int32_t x, int32_t y) {
  return f->memory[size_t(y) * size_t(f->pitch) + size_t(x) * f->bytes_per_pixel];
}
// The colour GDI reads at the pointer once the cursor is hidden: the screen byte itself (a
// hardware cursor never touched it; a software cursor first paints back what it saved), or,
// where GDI has memory of its own, the colour it always had.
uint32_t cursor_look(void* context) {
  CursorScreen* c = static_cast<CursorScreen*>(context);
  ++c->looks;
  EXPECT_EQ(c->surface->held, 0);  // GDI is not called while the surface is locked
  if (c->kind == CursorScreen::kOtherMemory) return 0x40;
  if (c->kind == CursorScreen::kSoftware) screen_at(c->surface, c->x, c->y) = c->saved;
  return screen_at(c->surface, c->x, c->y);
}

TEST_F(DdLock, CursorProbeUndoesItsWriteWhateverItConcludes) {
  struct Case {
    CursorScreen::Kind kind;
    uint8_t under;  // the screen byte at the pointer, and the first colour read there
    int32_t result;
  };
  const Case kCases[] = {
      {CursorScreen::kHardware, 0x40, 0},
      {CursorScreen::kHardware, 0x00, 0},     // a black pixel gets 0xFF
      {CursorScreen::kSoftware, 0x40, 1},
      {CursorScreen::kSoftware, 0x00, 1},
      {CursorScreen::kOtherMemory, 0x40, 1},  // Wine: the write is never painted over
  };
  for (uint32_t bytes : {4u, 3u, 2u}) {
    for (const Case& c : kCases) {
      SCOPED_TRACE(testing::Message() << bytes << " bytes, kind " << c.kind << ", under " << int(c.under));
      g_fake = FakeDdSurface{};
      g_fake.bytes_per_pixel = bytes;
      CursorScreen screen = {&g_fake, 21, 9, c.kind, 0, 0};
      screen_at(&g_fake, 21, 9) = c.under;
      screen.saved = c.under;
      std::vector<uint8_t> expected = g_fake.memory;
      EXPECT_EQ(ddraw_cursor_probe(&kFakeOps, &g_fake, 8, 21, 9, c.under, cursor_look, &screen), c.result);
      EXPECT_EQ(screen.looks, 1);
      EXPECT_EQ(g_fake.memory, expected);  // every byte as it was, the one at the pointer too
      EXPECT_EQ(g_fake.held, 0);
      EXPECT_EQ(g_fake.locks, 2);
    }
  }
  // The write is seen where GDI reads the surface: the probe's byte is 0 under a non-black
  // pixel and 0xFF under a black one.
  struct Seen {
    FakeDdSurface* surface;
    uint8_t byte;
  };
  Seen seen = {&g_fake, 0x99};
  auto look_byte = [](void* context) -> uint32_t {
    Seen* s = static_cast<Seen*>(context);
    s->byte = screen_at(s->surface, 3, 4);
    return s->byte;
  };
  for (uint8_t under : {uint8_t(0x40), uint8_t(0)}) {
    g_fake = FakeDdSurface{};
    screen_at(&g_fake, 3, 4) = under;
    EXPECT_EQ(ddraw_cursor_probe(&kFakeOps, &g_fake, 8, 3, 4, under, look_byte, &seen), 0);
    EXPECT_EQ(seen.byte, under ? 0x00 : 0xFF);
    EXPECT_EQ(screen_at(&g_fake, 3, 4), under);
  }

  // A pointer off the surface writes nothing (and undoes nothing); a surface that cannot be
  // locked gives -1 without looking.
  for (const auto& at : {std::pair<int32_t, int32_t>{-1, 0}, {0, -1}, {64, 0}, {0, 32}}) {
    g_fake = FakeDdSurface{};
    const std::vector<uint8_t> before = g_fake.memory;
    CursorScreen screen = {&g_fake, 0, 0, CursorScreen::kOtherMemory, 0, 0};
    EXPECT_EQ(ddraw_cursor_probe(&kFakeOps, &g_fake, 8, at.first, at.second, 0x40, cursor_look, &screen), 1);
    EXPECT_EQ(g_fake.memory, before);
    EXPECT_EQ(g_fake.locks, 1);
  }
  g_fake = FakeDdSurface{};
  g_fake.lost = true;
  g_fake.restore_fails = true;
  CursorScreen screen = {&g_fake, 1, 1, CursorScreen::kHardware, 0, 0};
  EXPECT_EQ(ddraw_cursor_probe(&kFakeOps, &g_fake, 8, 1, 1, 0x40, cursor_look, &screen), -1);
  EXPECT_EQ(screen.looks, 0);
}
