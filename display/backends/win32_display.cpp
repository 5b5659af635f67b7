// The Windows display system: which kinds an open may use, the references one open shares
// between its tries, the display-mode change through GDI, the DIB section and the window's
// geometry. The DirectDraw kinds are in win32_ddraw.cpp.
#include "display/backends/win32_display.h"

#include <cstring>

#include "base/alloc.h"
#include "display/backends/ddraw_logic.h"
#include "display/backends/win32_ddraw.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(DEVMODEA) == 156, "the display-mode block of ChangeDisplaySettingsA");
#endif

Win32DisplayState g_win32;

namespace {

// What the open in progress took and has not given to an opened kind yet: one DirectDraw
// reference and one GDI display-mode reference at most, shared by its tries.
struct PendingOpen {
  bool dd_tried, dd_held, gdi_held;
};
PendingOpen g_pending;

void gdi_release() {
  if (!g_win32.gdi_refs) return;
  if (--g_win32.gdi_refs == 0 && g_win32.gdi_changed_mode) {
    ChangeDisplaySettingsA(nullptr, CDS_FULLSCREEN);
    g_win32.gdi_changed_mode = false;
  }
}

bool gdi_try_mode(DWORD fields, DWORD bits, DWORD width, DWORD height) {
  DEVMODEA mode;
  std::memset(&mode, 0, sizeof mode);
  mode.dmSize = sizeof mode;
  mode.dmFields = fields;
  mode.dmBitsPerPel = bits;
  mode.dmPelsWidth = width;
  mode.dmPelsHeight = height;
  return ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL;
}

// The display mode through GDI, when DirectDraw is not in use: false (nothing done) while
// DirectDraw references are held; else the request is acted on when change_mode, the display
// is read and one GDI reference is counted.
bool gdi_set_mode(bool change_mode, DisplayRequest* r) {
  if (g_win32.dd_refs) return false;
  if (change_mode && r->width && r->height && r->depth) {
    int32_t depths[3];
    const uint32_t n = surface_depth_sequence(r->depth, depths);
    bool matched = false;
    for (uint32_t i = 0; i < n && !matched; ++i) {
      if (!gdi_try_mode(DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT, DWORD(depths[i]), DWORD(r->width),
                        DWORD(r->height)))
        continue;
      g_win32.gdi_changed_mode = true;
      matched = win32_screen_bits() == depths[i];
      if (!matched) ChangeDisplaySettingsA(nullptr, CDS_FULLSCREEN);
    }
    if (!matched && gdi_try_mode(DM_PELSWIDTH | DM_PELSHEIGHT, 0, DWORD(r->width), DWORD(r->height)))
      g_win32.gdi_changed_mode = true;
    *r = DisplayRequest{0, 0, 0};
  }
  win32_read_screen();
  ++g_win32.gdi_refs;
  return true;
}

// ---- The DIB section ----------------------------------------------------------------------

// The red mask of the display's 16-bit pixels (0 when it does not say), from a bitmap
// compatible with the window.
uint32_t display_red_mask_16(HDC window_dc) {
  HBITMAP probe = CreateCompatibleBitmap(window_dc, 1, 1);
  if (!probe) return 0;
  struct {
    BITMAPINFOHEADER header;
    DWORD masks[256 + 3];
  } info;
  std::memset(&info, 0, sizeof info);
  info.header.biSize = sizeof info.header;
  BITMAPINFO* bi = reinterpret_cast<BITMAPINFO*>(&info);
  uint32_t red = 0;
  // The first call fills the header, the second the masks.
  if (GetDIBits(window_dc, probe, 0, 1, nullptr, bi, DIB_RGB_COLORS) &&
      GetDIBits(window_dc, probe, 0, 1, nullptr, bi, DIB_RGB_COLORS) && info.header.biCompression == BI_BITFIELDS)
    red = info.masks[0];
  DeleteObject(probe);
  return red;
}

void close_dib(Win32Kind* k) {
  if (k->memory_dc && k->old_bitmap) SelectObject(k->memory_dc, k->old_bitmap);
  if (k->dib) DeleteObject(k->dib);
  if (k->memory_dc) DeleteDC(k->memory_dc);
  aligned_free32(k->info);
  k->dib = nullptr;
  k->memory_dc = nullptr;
  k->old_bitmap = nullptr;
  k->info = nullptr;
  k->dib_bits = nullptr;
}

bool dib_lock(Surface* s, uint8_t** buffer, int32_t* pitch) {
  Win32Kind* k = win32_kind(s);
  GdiFlush();  // a StretchBlt still queued must have read the pixels before they change
  *buffer = k->dib_bits;
  *pitch = k->dib_pitch;
  return true;
}

void dib_unlock(Surface*) {}

void dib_blit(Surface* s, const SurfaceBlitRect* rects, uint32_t count, bool) {
  Win32Kind* k = win32_kind(s);
  HDC dc = GetDC(k->window);
  if (!dc) return;
  SetStretchBltMode(dc, COLORONCOLOR);
  for (uint32_t i = 0; i < count; ++i) {
    const MovieRect& d = rects[i].dst;
    const MovieRect& r = rects[i].src;
    StretchBlt(dc, d.left, d.top, d.width, d.height, k->memory_dc, r.left, r.top, r.width, r.height, SRCCOPY);
  }
  ReleaseDC(k->window, dc);
}

int32_t open_dib(Surface* s, Win32Kind* k, uint32_t stretch) {
  if (!g_win32.bytes_per_pixel) win32_read_screen();
  const uint32_t bytes = g_win32.bytes_per_pixel;
  s->screen_width = g_win32.screen_width;
  s->screen_height = g_win32.screen_height;
  s->screen_bits = g_win32.bits;
  s->bytes_per_pixel = bytes;
  if (bytes < 2) {
    surface_set_last_error(s->system, "256 color mode not supported.");
    return kStyleFailed;
  }
  HDC window_dc = GetDC(k->window);
  if (window_dc) {
    k->memory_dc = CreateCompatibleDC(window_dc);
    // Header, 256 colour entries and the three masks (which GDI reads as the first entries).
    k->info = static_cast<BITMAPINFO*>(aligned_alloc32(sizeof(BITMAPINFOHEADER) + (256 + 3) * sizeof(RGBQUAD)));
  }
  if (k->memory_dc && k->info) {
    std::memset(k->info, 0, sizeof(BITMAPINFOHEADER) + (256 + 3) * sizeof(RGBQUAD));
    BITMAPINFOHEADER& h = k->info->bmiHeader;
    const uint32_t block_width = dib_block_width(s->width, bytes);
    h.biSize = sizeof h;
    h.biWidth = LONG(block_width);
    h.biHeight = -LONG(s->height);  // rows top-down
    h.biPlanes = 1;
    h.biBitCount = WORD(8 * bytes);
    h.biCompression = bytes == 3 ? BI_RGB : BI_BITFIELDS;
    uint32_t masks[3];
    const uint32_t code = dib_masks(bytes, bytes == 2 ? display_red_mask_16(window_dc) : 0, masks);
    std::memcpy(k->info->bmiColors, masks, sizeof masks);
    void* bits = nullptr;
    k->dib = CreateDIBSection(k->memory_dc, k->info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (k->dib && bits) {
      k->old_bitmap = SelectObject(k->memory_dc, k->dib);
      k->dib_bits = static_cast<uint8_t*>(bits);
      k->dib_pitch = int32_t(dib_row_bytes(block_width, bytes));
      s->abilities = kStretchMask;
      s->flags = code | (stretch ? kSurfaceStretched : 0);
    }
  }
  if (window_dc) ReleaseDC(k->window, window_dc);
  if (!k->dib_bits) {
    close_dib(k);
    surface_set_last_error(s->system, "Unable to create DIBSection.");
    return kStyleFailed;
  }
  s->kind = SurfaceKind{dib_lock, dib_unlock, dib_blit, nullptr, win32_kind_close};
  return kStyleOpened;
}

// ---- The system ---------------------------------------------------------------------------

int32_t open_style(Surface* s, uint32_t style, uint32_t stretch, bool change_mode) {
  HWND window = static_cast<HWND>(s->window);
  if (!window || style < 1 || style > kSurfaceStyles) return kStyleFailed;
  Win32Kind* k = win32_kind(s);
  std::memset(k, 0, sizeof *k);
  k->window = window;
  PendingOpen& p = g_pending;
  int32_t result;
  if (style == 2) {
    // GDI sets the display mode unless DirectDraw is in use; then the DIB section shares the
    // DirectDraw reference like the other kinds.
    if (!p.dd_tried && !p.gdi_held) {
      if (gdi_set_mode(change_mode, &s->system->request)) {
        p.gdi_held = true;
      } else {
        p.dd_held = win32_ddraw_acquire(change_mode, &s->system->request, window);
        p.dd_tried = true;
      }
    }
    if (!p.gdi_held && (!p.dd_held || !g_win32.bytes_per_pixel) && gdi_set_mode(change_mode, &s->system->request)) p.gdi_held = true;
    result = open_dib(s, k, stretch);
  } else {
    if (!p.dd_tried) {
      p.dd_held = win32_ddraw_acquire(change_mode, &s->system->request, window);
      p.dd_tried = true;
    }
    if (!p.dd_held) return kStyleUnavailable;
    result = win32_ddraw_open(s, k, style, stretch);
  }
  if (result != kStyleOpened) {
    std::memset(k, 0, sizeof *k);
    return result;
  }
  // The opened kind keeps the open's references and gives them back at close.
  k->holds_dd = p.dd_held;
  k->holds_gdi = p.gdi_held;
  p.dd_held = p.gdi_held = false;
  return kStyleOpened;
}

void open_finished(void*) {
  if (g_pending.dd_held) win32_ddraw_release();
  if (g_pending.gdi_held) gdi_release();
  g_pending = PendingOpen{};
}

void window_geometry(void*, void* window, int32_t* client_x, int32_t* client_y, int32_t* frame_w, int32_t* frame_h) {
  *client_x = *client_y = *frame_w = *frame_h = 0;
  HWND w = static_cast<HWND>(window);
  RECT outer, client;
  POINT origin = {0, 0};
  if (!w || !GetWindowRect(w, &outer) || !GetClientRect(w, &client) || !ClientToScreen(w, &origin)) return;
  *client_x = origin.x - outer.left;
  *client_y = origin.y - outer.top;
  *frame_w = (outer.right - outer.left) - (client.right - client.left);
  *frame_h = (outer.bottom - outer.top) - (client.bottom - client.top);
}

void client_origin(void*, void* window, int32_t* x, int32_t* y) {
  POINT origin = {0, 0};
  if (window) ClientToScreen(static_cast<HWND>(window), &origin);
  *x = origin.x;
  *y = origin.y;
}

void screen_info(void*, int32_t* width, int32_t* height, int32_t* bits) {
  *width = GetSystemMetrics(SM_CXSCREEN);
  *height = GetSystemMetrics(SM_CYSCREEN);
  *bits = win32_screen_bits();
}

}  // namespace

const DisplaySystem kWin32Display = {"Win32", open_style, window_geometry, client_origin, screen_info, open_finished};

int32_t win32_screen_bits() {
  HDC dc = GetDC(nullptr);
  if (!dc) return 0;
  const int32_t bits = GetDeviceCaps(dc, PLANES) * GetDeviceCaps(dc, BITSPIXEL);
  ReleaseDC(nullptr, dc);
  return bits;
}

void win32_read_screen() {
  g_win32.screen_width = GetSystemMetrics(SM_CXSCREEN);
  g_win32.screen_height = GetSystemMetrics(SM_CYSCREEN);
  g_win32.bits = win32_screen_bits();
  g_win32.bytes_per_pixel = uint32_t(g_win32.bits) / 8;
}

void win32_kind_close(Surface* s) {
  Win32Kind* k = win32_kind(s);
  if (k->memory_dc || k->dib || k->info) close_dib(k);
  else win32_ddraw_close_kind(k, s->is_overlay);
  if (k->holds_dd) win32_ddraw_release();
  if (k->holds_gdi) gdi_release();
  std::memset(k, 0, sizeof *k);
}
