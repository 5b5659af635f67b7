// The DirectDraw kinds of the Windows display system: the screen itself (1), the YUV overlays
// (3..5), the YUV off-screen surfaces (6..8) and the RGB off-screen surfaces (9, 10). Only the
// version-1 interfaces are used; DDRAW.DLL is loaded when the first open needs it.
#include <cstring>

#include "convert/convert.h"
#include "display/backends/ddraw_logic.h"
#include "display/backends/win32_ddraw.h"
#include "display/backends/win32_display.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(DDCAPS_DX3) == 316, "the driver-capability block given to GetCaps");
#endif
static_assert(kDdErrSurfaceLost == int32_t(DDERR_SURFACELOST), "lost-surface result");

namespace {

constexpr int kMaxRestores = 8;  // a surface still lost after this many restores stays lost

DDSURFACEDESC empty_desc() {
  DDSURFACEDESC d;
  std::memset(&d, 0, sizeof d);
  d.dwSize = sizeof d;
  return d;
}

// The surface operations of the portable lock (ddraw_logic.h) on DirectDraw surfaces.
int32_t dd_lock(void* surface, DdLocked* out) {
  DDSURFACEDESC d = empty_desc();
  const HRESULT hr = static_cast<IDirectDrawSurface*>(surface)->Lock(nullptr, &d, DDLOCK_WAIT, nullptr);
  if (FAILED(hr)) return int32_t(hr);
  *out = DdLocked{static_cast<uint8_t*>(d.lpSurface), int32_t(d.lPitch), uint32_t(d.dwWidth), uint32_t(d.dwHeight),
                  uint32_t(d.ddpfPixelFormat.dwRGBBitCount)};
  return 0;
}
void dd_unlock(void* surface, void* memory) { static_cast<IDirectDrawSurface*>(surface)->Unlock(memory); }
int32_t dd_restore(void* surface) { return int32_t(static_cast<IDirectDrawSurface*>(surface)->Restore()); }
constexpr DdSurfaceOps kSurfaceOps = {dd_lock, dd_unlock, dd_restore};

// Locks a whole surface, restoring it while it reports being lost.
int32_t lock_restoring(IDirectDrawSurface* surface, DdLocked* d, int restores) {
  bool restored;
  return ddraw_lock_restoring(&kSurfaceOps, surface, restores, d, &restored);
}

bool pixel_format(IDirectDrawSurface* surface, DDPIXELFORMAT* pf) {
  std::memset(pf, 0, sizeof *pf);
  pf->dwSize = sizeof *pf;
  return SUCCEEDED(surface->GetPixelFormat(pf));
}

int32_t detect_copy_format(IDirectDrawSurface* surface) {
  DDPIXELFORMAT pf;
  if (!pixel_format(surface, &pf)) return -1;
  const DdPixelFormat f = {pf.dwFlags, pf.dwFourCC, pf.dwRGBBitCount, pf.dwRBitMask,
                           pf.dwGBitMask, pf.dwBBitMask, pf.dwRGBAlphaBitMask};
  return ddraw_copy_format(f);
}

void release_object() {
  if (g_win32.primary) g_win32.primary->Release();
  if (g_win32.dd) g_win32.dd->Release();
  g_win32.primary = nullptr;
  g_win32.dd = nullptr;
}

// What the hardware can stretch, the display's format and the key colour.
void probe() {
  DDCAPS_DX3 caps;
  std::memset(&caps, 0, sizeof caps);
  caps.dwSize = sizeof caps;
  if (SUCCEEDED(g_win32.dd->GetCaps(reinterpret_cast<LPDDCAPS>(&caps), nullptr)))
    ddraw_map_abilities(caps.dwFXCaps, &g_win32.overlay_abilities, &g_win32.blit_abilities);
  DDPIXELFORMAT pf;
  const bool have_format = pixel_format(g_win32.primary, &pf);
  g_win32.screen_width = GetSystemMetrics(SM_CXSCREEN);
  g_win32.screen_height = GetSystemMetrics(SM_CYSCREEN);
  g_win32.bits = win32_screen_bits();
  g_win32.bytes_per_pixel = have_format ? pf.dwRGBBitCount / 8 : uint32_t(g_win32.bits) / 8;
  g_win32.key_colour =
      ddraw_key_colour(uint32_t(g_win32.bits), have_format ? pf.dwRBitMask : 0, have_format ? pf.dwBBitMask : 0);
}

bool load_ddraw() {
  if (g_win32.create) return true;
  if (g_win32.load_failed) return false;
  const UINT old_mode = SetErrorMode(SEM_NOOPENFILEERRORBOX);
  g_win32.module = LoadLibraryA("DDRAW.DLL");
  SetErrorMode(old_mode);
  if (g_win32.module) {
    const FARPROC entry = GetProcAddress(g_win32.module, "DirectDrawCreate");
    g_win32.create = reinterpret_cast<decltype(g_win32.create)>(reinterpret_cast<void (*)()>(entry));
  }
  if (!g_win32.create) {
    if (g_win32.module) FreeLibrary(g_win32.module);
    g_win32.module = nullptr;
    g_win32.load_failed = true;
    return false;
  }
  return true;
}

// ---- The software-cursor test ---------------------------------------------------------------

struct CursorCache {
  bool valid;
  HCURSOR cursor;
  void* memory;
  int32_t bits;
  bool result;
};
CursorCache g_cursor_cache;

LRESULT CALLBACK probe_window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_DESTROY:
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hwnd, &ps);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    default:
      return DefWindowProcA(hwnd, msg, wparam, lparam);
  }
}

// What the probe's look does: hides the cursor (counting the calls to undo) and reads the pixel
// under the pointer through the probe window's device context.
struct ProbeLook {
  HDC dc;
  POINT at;  // client coordinates of the probe window
  int32_t* shown_change;
};
uint32_t probe_look(void* context) {
  ProbeLook* l = static_cast<ProbeLook*>(context);
  while (ShowCursor(FALSE) >= 0) --*l->shown_change;
  --*l->shown_change;
  return GetPixel(l->dc, l->at.x, l->at.y);
}

// Whether the cursor is drawn into screen memory: a byte written under it directly is gone
// once the cursor is hidden again when the cursor painted back what it had saved. The write and
// its undo are the portable ddraw_cursor_probe's.
bool test_software_cursor(IDirectDrawSurface* primary, HCURSOR cursor, HINSTANCE instance) {
  if (!GetSystemMetrics(SM_MOUSEPRESENT)) return false;
  DdLocked d;
  if (lock_restoring(primary, &d, kMaxRestores) < 0) return false;
  void* memory = d.memory;
  primary->Unlock(memory);
  const int32_t bits = int32_t(d.bits);
  CursorCache& c = g_cursor_cache;
  if (c.valid && c.cursor == cursor && c.memory == memory && c.bits == bits) return c.result;

  static const char kClass[] = "MouseTypeWind";
  WNDCLASSA wc;
  std::memset(&wc, 0, sizeof wc);
  wc.style = 0x200;
  wc.lpfnWndProc = probe_window_proc;
  wc.hInstance = instance;
  wc.hCursor = cursor;
  wc.lpszClassName = kClass;
  const bool registered = RegisterClassA(&wc) != 0;
  POINT at;
  GetCursorPos(&at);
  HWND probe_window = CreateWindowExA(WS_EX_TOPMOST, kClass, "", WS_POPUP | WS_VISIBLE, at.x - 16, at.y - 16, 32,
                                      32, nullptr, nullptr, instance, nullptr);
  bool result = false;
  int32_t shown_change = 0;  // ShowCursor calls to undo
  HCURSOR previous = nullptr;
  bool have_previous = false;
  HDC dc = probe_window ? GetDC(probe_window) : nullptr;
  if (dc) {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // lets the window appear
    POINT p = at;
    ScreenToClient(probe_window, &p);
    while (ShowCursor(FALSE) >= 0) --shown_change;
    --shown_change;
    const COLORREF first = GetPixel(dc, p.x, p.y);
    previous = SetCursor(cursor);
    have_previous = true;
    for (;;) {
      ++shown_change;
      if (ShowCursor(TRUE) >= 0) break;
    }
    SetCursor(cursor);
    ProbeLook look = {dc, p, &shown_change};
    result = ddraw_cursor_probe(&kSurfaceOps, primary, kMaxRestores, at.x, at.y, first, probe_look, &look) == 1;
    ReleaseDC(probe_window, dc);
  }
  if (probe_window) DestroyWindow(probe_window);
  if (registered) UnregisterClassA(kClass, instance);
  for (; shown_change < 0; ++shown_change) ShowCursor(TRUE);
  for (; shown_change > 0; --shown_change) ShowCursor(FALSE);
  if (have_previous) SetCursor(previous);
  c = CursorCache{true, cursor, memory, bits, result};
  return result;
}

// ---- Overlays ------------------------------------------------------------------------------

// Places the overlay where the picture is, cut to the screen; `show` makes it visible from now
// on, otherwise it keeps its state. Hidden while the window is hidden or off screen.
void overlay_update(Surface* s, bool show) {
  Win32Kind* k = win32_kind(s);
  IDirectDrawSurface* primary = g_win32.primary;
  if (!k->surface || !primary) return;
  DdRect src, dst;
  if (IsWindowVisible(k->window) &&
      ddraw_overlay_rects(s->picture_screen_x, s->picture_screen_y, s->output_width, s->output_height, s->width,
                          s->height, s->screen_width, s->screen_height, &src, &dst)) {
    if (show) k->overlay_shown = true;
    RECT rs = {src.left, src.top, src.right, src.bottom};
    RECT rd = {dst.left, dst.top, dst.right, dst.bottom};
    DDOVERLAYFX fx;
    std::memset(&fx, 0, sizeof fx);
    fx.dwSize = sizeof fx;
    fx.dckDestColorkey.dwColorSpaceLowValue = g_win32.key_colour;
    fx.dckDestColorkey.dwColorSpaceHighValue = g_win32.key_colour;
    k->surface->UpdateOverlay(&rs, primary, &rd,
                              (k->overlay_shown ? DDOVER_SHOW : DDOVER_HIDE) | DDOVER_KEYDESTOVERRIDE, &fx);
    return;
  }
  k->surface->UpdateOverlay(nullptr, primary, nullptr, DDOVER_HIDE, nullptr);
}

void overlay_moved(Surface* s) { overlay_update(s, false); }

// ---- Operations ----------------------------------------------------------------------------

void hide_cursor_over_picture(Surface* s, Win32Kind* k) {
  static int32_t cursor_w, cursor_h;  // read once
  if (!cursor_w) {
    cursor_w = GetSystemMetrics(SM_CXCURSOR);
    cursor_h = GetSystemMetrics(SM_CYCURSOR);
  }
  k->cursor_hidden = 0;
  POINT at;
  if (!GetCursorPos(&at)) return;
  if (!ddraw_rects_overlap(at.x, at.y, cursor_w, cursor_h, s->picture_screen_x, s->picture_screen_y,
                           int32_t(s->width), int32_t(s->height)))
    return;
  do ++k->cursor_hidden;
  while (ShowCursor(FALSE) >= 0);
}

void show_cursor_again(Win32Kind* k) {
  for (; k->cursor_hidden > 0; --k->cursor_hidden) ShowCursor(TRUE);
}

bool ddraw_lock(Surface* s, uint8_t** buffer, int32_t* pitch) {
  Win32Kind* k = win32_kind(s);
  if (k->software_cursor) hide_cursor_over_picture(s, k);
  if (!ddraw_lock_kind(&kSurfaceOps, k->surface, s, buffer, pitch, &k->locked)) {
    show_cursor_again(k);
    return false;
  }
  return true;
}

void ddraw_unlock(Surface* s) {
  Win32Kind* k = win32_kind(s);
  k->surface->Unlock(k->locked);
  k->locked = nullptr;
  show_cursor_again(k);
  if (s->is_overlay) overlay_update(s, true);
}

RECT screen_rect(const Surface* s, const MovieRect& r) {
  const int32_t dx = s->picture_screen_x - s->picture_x, dy = s->picture_screen_y - s->picture_y;
  return RECT{r.left + dx, r.top + dy, r.left + dx + r.width, r.top + dy + r.height};
}

void primary_blit(Surface*, const SurfaceBlitRect*, uint32_t, bool) {}  // already on screen

// The overlay shows through where the screen has the key colour: the picture's area is filled
// with it (at the output size).
void overlay_blit(Surface* s, const SurfaceBlitRect* rects, uint32_t count, bool) {
  Win32Kind* k = win32_kind(s);
  IDirectDrawSurface* primary = g_win32.primary;
  primary->SetClipper(k->clipper);
  DDBLTFX fx;
  std::memset(&fx, 0, sizeof fx);
  fx.dwSize = sizeof fx;
  fx.dwFillColor = g_win32.key_colour;
  for (uint32_t i = 0; i < count; ++i) {
    if (rects[i].dst.width <= 0 || rects[i].dst.height <= 0) continue;
    RECT d = screen_rect(s, rects[i].dst);
    primary->Blt(&d, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
  }
  primary->SetClipper(nullptr);
}

void offscreen_blit(Surface* s, const SurfaceBlitRect* rects, uint32_t count, bool) {
  Win32Kind* k = win32_kind(s);
  IDirectDrawSurface* primary = g_win32.primary;
  primary->SetClipper(k->clipper);
  for (uint32_t i = 0; i < count; ++i) {
    const MovieRect& r = rects[i].src;
    if (r.width <= 0 || r.height <= 0 || rects[i].dst.width <= 0 || rects[i].dst.height <= 0) continue;
    RECT src = {r.left, r.top, r.left + r.width, r.top + r.height};
    RECT d = screen_rect(s, rects[i].dst);
    primary->Blt(&d, k->surface, &src, DDBLT_WAIT, nullptr);
  }
  primary->SetClipper(nullptr);
}

// A new surface starts black.
bool clear_new_surface(IDirectDrawSurface* surface, uint32_t width, uint32_t height, uint32_t code) {
  DdLocked d;
  if (lock_restoring(surface, &d, 1) < 0) return false;
  surface_fill_black(d.memory, d.pitch, width, height, code, g_win32.bytes_per_pixel);
  surface->Unlock(d.memory);
  return true;
}

IDirectDrawSurface* create_surface(uint32_t width, uint32_t height, DWORD caps, uint32_t fourcc) {
  DDSURFACEDESC d = empty_desc();
  d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
  d.dwWidth = width;
  d.dwHeight = height;
  d.ddsCaps.dwCaps = caps;
  if (fourcc) {
    d.dwFlags |= DDSD_PIXELFORMAT;
    d.ddpfPixelFormat.dwSize = sizeof d.ddpfPixelFormat;
    d.ddpfPixelFormat.dwFlags = DDPF_FOURCC;
    d.ddpfPixelFormat.dwFourCC = fourcc;
  }
  IDirectDrawSurface* surface = nullptr;
  if (FAILED(g_win32.dd->CreateSurface(&d, &surface, nullptr))) return nullptr;
  return surface;
}

}  // namespace

bool win32_ddraw_acquire(bool change_mode, DisplayRequest* request, HWND window) {
  if (g_win32.dd_refs) {
    ++g_win32.dd_refs;
    return true;
  }
  if (!load_ddraw()) return false;
  if (FAILED(g_win32.create(nullptr, &g_win32.dd, nullptr)) || !g_win32.dd) {
    g_win32.dd = nullptr;
    return false;
  }
  DisplayRequest* r = request;
  change_mode = change_mode && r->width && r->height && r->depth;
  const DWORD level = change_mode ? DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN : DDSCL_NORMAL;
  if (FAILED(g_win32.dd->SetCooperativeLevel(window, level))) {
    release_object();
    return false;
  }
  if (change_mode) {
    int32_t depths[3];
    const uint32_t n = surface_depth_sequence(r->depth, depths);
    for (uint32_t i = 0; i < n; ++i)
      if (SUCCEEDED(g_win32.dd->SetDisplayMode(DWORD(r->width), DWORD(r->height), DWORD(depths[i]))) &&
          win32_screen_bits() == depths[i])
        break;
    *r = DisplayRequest{0, 0, 0};
  }
  DDSURFACEDESC d = empty_desc();
  d.dwFlags = DDSD_CAPS;
  d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  if (FAILED(g_win32.dd->CreateSurface(&d, &g_win32.primary, nullptr)) || !g_win32.primary) {
    g_win32.primary = nullptr;
    release_object();
    return false;
  }
  probe();
  g_win32.dd_refs = 1;
  return true;
}

void win32_ddraw_release() {
  if (!g_win32.dd_refs) return;
  if (--g_win32.dd_refs == 0) release_object();
}

int32_t win32_ddraw_open(Surface* s, Win32Kind* k, uint32_t style, uint32_t stretch) {
  if (!g_win32.dd || !g_win32.primary) return kStyleFailed;
  s->screen_width = g_win32.screen_width;
  s->screen_height = g_win32.screen_height;
  s->screen_bits = g_win32.bits;
  s->bytes_per_pixel = g_win32.bytes_per_pixel;
  IDirectDrawSurface* surface = nullptr;
  uint32_t flags = 0, abilities = 0;
  SurfaceKind ops = {ddraw_lock, ddraw_unlock, offscreen_blit, nullptr, win32_kind_close};

  if (style == 1) {
    if (stretch) return kStyleFailed;  // the screen itself cannot stretch
    DDSURFACEDESC d = empty_desc();
    const HRESULT hr = g_win32.primary->Lock(nullptr, &d, DDLOCK_WAIT, nullptr);
    if (hr == DDERR_CANTLOCKSURFACE) return kStyleFailed;
    if (SUCCEEDED(hr)) g_win32.primary->Unlock(d.lpSurface);
    const int32_t code = detect_copy_format(g_win32.primary);
    if (code < 0) surface_set_last_error(s->system, "Video mode not supported.");
    if (code <= 0) return kStyleFailed;
    surface = g_win32.primary;
    flags = uint32_t(code) | kSurfaceOnScreen;
    ops.blit = primary_blit;
  } else if (style <= 8) {
    static const uint32_t kFourCC[3] = {kFourCCYv12, kFourCCYuy2, kFourCCUyvy};
    static const uint32_t kCodes[3] = {kFormatYv12, kFormatYuy2, kFormatUyvy};
    const bool overlay = style <= 5;
    abilities = overlay ? g_win32.overlay_abilities : g_win32.blit_abilities;
    if ((abilities & stretch) != stretch) return kStyleFailed;
    const DWORD caps = (overlay ? DDSCAPS_OVERLAY : DDSCAPS_OFFSCREENPLAIN) | DDSCAPS_VIDEOMEMORY;
    surface = create_surface(s->width, s->height, caps, kFourCC[(style - 3) % 3]);
    if (!surface) return kStyleFailed;
    const int32_t code = detect_copy_format(surface);
    if (code != int32_t(kCodes[(style - 3) % 3]) || !clear_new_surface(surface, s->width, s->height, uint32_t(code))) {
      surface->Release();
      return kStyleFailed;
    }
    flags = uint32_t(code) | (overlay ? kSurfaceOnScreen : stretch ? kSurfaceStretched : 0);
    if (overlay) {
      ops.blit = overlay_blit;
      ops.moved = overlay_moved;
    }
  } else {
    abilities = g_win32.blit_abilities;
    if ((abilities & stretch) != stretch) return kStyleFailed;
    surface = create_surface(s->width, s->height,
                             DDSCAPS_OFFSCREENPLAIN | (style == 9 ? DDSCAPS_VIDEOMEMORY : DDSCAPS_SYSTEMMEMORY), 0);
    if (!surface) return kStyleFailed;
    const int32_t code = clear_new_surface(surface, s->width, s->height, 0) ? detect_copy_format(surface) : 0;
    if (code < 0) surface_set_last_error(s->system, "Video mode not supported.");
    if (code <= 0) {
      surface->Release();
      return kStyleFailed;
    }
    flags = uint32_t(code) | (stretch ? kSurfaceStretched : 0);
  }

  // The clipper keeps blits to the primary inside the window.
  IDirectDrawClipper* clipper = nullptr;
  if (FAILED(g_win32.dd->CreateClipper(0, &clipper, nullptr)) || !clipper ||
      FAILED(clipper->SetHWnd(0, k->window))) {
    if (clipper) clipper->Release();
    if (surface != g_win32.primary) surface->Release();
    return kStyleFailed;
  }
  k->surface = surface;
  k->clipper = clipper;
  s->flags = flags;
  s->abilities = abilities;
  s->kind = ops;
  if (style == 1) {
    const Win32DisplayContext* ctx = static_cast<const Win32DisplayContext*>(s->system->context);
    // The cursor the window shows (its class's), else the program's.
    HCURSOR cursor = reinterpret_cast<HCURSOR>(GetClassLongPtrA(k->window, GCLP_HCURSOR));
    if (!cursor && ctx) cursor = static_cast<HCURSOR>(ctx->cursor);
    HINSTANCE instance = ctx && ctx->instance ? static_cast<HINSTANCE>(ctx->instance) : GetModuleHandleA(nullptr);
    k->software_cursor = test_software_cursor(g_win32.primary, cursor, instance);
  }
  return kStyleOpened;
}

void win32_ddraw_close_kind(Win32Kind* k, bool overlay) {
  if (k->surface && k->surface != g_win32.primary) {
    if (overlay && g_win32.primary) k->surface->UpdateOverlay(nullptr, g_win32.primary, nullptr, DDOVER_HIDE, nullptr);
    k->surface->Release();
  }
  if (k->clipper) k->clipper->Release();
  k->surface = nullptr;
  k->clipper = nullptr;
}
