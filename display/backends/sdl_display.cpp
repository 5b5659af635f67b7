#include "display/backends/sdl_display.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "convert/convert.h"
#include "display/backends/sdl_font.h"

namespace {

struct SdlKind {
  SdlWindow* win;
  SDL_Surface* dib;          // style 2
  SDL_Texture* texture;      // styles 3 to 10
  SDL_Surface* locked;       // style 1: the window surface while locked
  uint32_t code;
};

SdlKind* kind_of(Surface* s) { return reinterpret_cast<SdlKind*>(s->backend); }

SDL_Rect to_sdl(const MovieRect& r) { return SDL_Rect{r.left, r.top, r.width, r.height}; }

void screen(void*, int32_t* w, int32_t* h, int32_t* bits) {
  SDL_DisplayMode mode;
  if (SDL_GetCurrentDisplayMode(0, &mode) != 0) {
    *w = *h = *bits = 0;
    return;
  }
  *w = mode.w;
  *h = mode.h;
  *bits = int32_t(SDL_BYTESPERPIXEL(mode.format)) * 8;
}

void fill_screen_fields(Surface* s) {
  screen(nullptr, &s->screen_width, &s->screen_height, &s->screen_bits);
  s->bytes_per_pixel = uint32_t(s->screen_bits + 7) / 8;
}

// The display mode asked for with /D: the closest mode SDL has at the first depth of the
// sequence that it can set, full screen; a request it cannot meet leaves the mode as it is.
void apply_display_request(SdlWindow* w, DisplayRequest* r) {
  if (!r->width || !r->height || !r->depth) return;
  int32_t depths[3];
  const uint32_t n = surface_depth_sequence(r->depth, depths);
  for (uint32_t i = 0; i < n; ++i) {
    SDL_DisplayMode want = {0, r->width, r->height, 0, nullptr}, got;
    if (!SDL_GetClosestDisplayMode(0, &want, &got)) continue;
    if (int32_t(SDL_BITSPERPIXEL(got.format)) != depths[i] && !(depths[i] == 32 && SDL_BYTESPERPIXEL(got.format) == 4))
      continue;
    if (SDL_SetWindowDisplayMode(w->window, &got) == 0 &&
        SDL_SetWindowFullscreen(w->window, SDL_WINDOW_FULLSCREEN) == 0)
      break;
  }
  *r = DisplayRequest{0, 0, 0};
}

// ---- The renderer: shared by the renderer kinds of one window --------------------------------

bool take_renderer(SdlWindow* w, bool software) {
  if (w->renderer && w->software_renderer != software) {
    if (w->renderer_users) return false;
    SDL_DestroyRenderer(w->renderer);
    w->renderer = nullptr;
    w->stats_texture = nullptr;
  }
  if (!w->renderer) {
    w->renderer = SDL_CreateRenderer(w->window, -1, software ? SDL_RENDERER_SOFTWARE : SDL_RENDERER_ACCELERATED);
    if (!w->renderer) return false;
    w->software_renderer = software;
  }
  ++w->renderer_users;
  return true;
}

void give_renderer(SdlWindow* w) {
  if (w->renderer_users) --w->renderer_users;
}

void drop_idle_renderer(SdlWindow* w) {
  if (w->renderer && !w->renderer_users) {
    SDL_DestroyRenderer(w->renderer);  // its textures go with it
    w->renderer = nullptr;
    w->stats_texture = nullptr;
  }
}

// The statistics line as pixels: yellow on black, centred in its area.
void stats_pixels(const SdlWindow* w, uint32_t* pixels, int32_t width, int32_t height) {
  for (int32_t i = 0; i < width * height; ++i) pixels[i] = 0;
  const size_t n = std::strlen(w->stats_text);
  int32_t tw, th;
  font_measure(w->stats_text, n, &tw, &th);
  font_draw32(pixels, width, width, height, w->stats_centre - tw / 2, 0, w->stats_text, n, 0xFFFF00, 0);
}

// A whole presentation on the renderer.
void present(SdlWindow* w) {
  if (!w->renderer) return;
  SDL_SetRenderDrawColor(w->renderer, 0, 0, 0, 255);
  SDL_RenderClear(w->renderer);
  if (Surface* s = w->shown) {
    SdlKind* k = kind_of(s);
    if (k->texture) {
      const SDL_Rect src = {0, 0, int(s->width), int(s->height)};
      const SDL_Rect dst = {s->picture_x, s->picture_y, s->output_width, s->output_height};
      SDL_RenderCopy(w->renderer, k->texture, &src, &dst);
    }
  }
  if (w->has_stats) {
    const int32_t width = w->stats_right, height = w->stats_bottom - w->stats_top;
    if (width > 0 && height > 0) {
      if (!w->stats_texture || w->stats_texture_w != width) {
        if (w->stats_texture) SDL_DestroyTexture(w->stats_texture);
        w->stats_texture =
            SDL_CreateTexture(w->renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, width, height);
        w->stats_texture_w = width;
      }
      void* pixels;
      int pitch;
      if (w->stats_texture && SDL_LockTexture(w->stats_texture, nullptr, &pixels, &pitch) == 0) {
        stats_pixels(w, static_cast<uint32_t*>(pixels), pitch / 4 < width ? pitch / 4 : width, height);
        SDL_UnlockTexture(w->stats_texture);
        const SDL_Rect dst = {0, w->stats_top, width, height};
        SDL_RenderCopy(w->renderer, w->stats_texture, nullptr, &dst);
      }
    }
  }
  SDL_RenderPresent(w->renderer);
}

// ---- Kinds on the window surface (1, 2) ------------------------------------------------------

SDL_Surface* window_surface(SdlWindow* w) { return w->renderer ? nullptr : SDL_GetWindowSurface(w->window); }

bool surface_lock_window(Surface* s, uint8_t** buffer, int32_t* pitch) {
  SdlKind* k = kind_of(s);
  SDL_Surface* ws = window_surface(k->win);  // fetched again: a resize makes a new one
  if (!ws || sdl_format_code(ws->format->format) != k->code) return false;
  // The picture must lie wholly on the window's surface.
  if (s->picture_x < 0 || s->picture_y < 0 || s->picture_x + int32_t(s->width) > ws->w ||
      s->picture_y + int32_t(s->height) > ws->h)
    return false;
  if (SDL_MUSTLOCK(ws) && SDL_LockSurface(ws) != 0) return false;
  k->locked = ws;
  *buffer = static_cast<uint8_t*>(ws->pixels) + int64_t(s->picture_y) * ws->pitch +
            int64_t(s->picture_x) * ws->format->BytesPerPixel;
  *pitch = ws->pitch;
  return true;
}

void surface_unlock_window(Surface* s) {
  SdlKind* k = kind_of(s);
  if (k->locked && SDL_MUSTLOCK(k->locked)) SDL_UnlockSurface(k->locked);
  k->locked = nullptr;
}

void update_rects(SdlWindow* w, const SurfaceBlitRect* rects, uint32_t count) {
  SDL_Rect r[kMaxChangedRects];
  for (uint32_t i = 0; i < count && i < kMaxChangedRects; ++i) r[i] = to_sdl(rects[i].dst);
  SDL_UpdateWindowSurfaceRects(w->window, r, int(count < kMaxChangedRects ? count : kMaxChangedRects));
}

void blit_window(Surface* s, const SurfaceBlitRect* rects, uint32_t count, bool) {
  SdlKind* k = kind_of(s);
  if (window_surface(k->win)) update_rects(k->win, rects, count);
}

bool dib_lock(Surface* s, uint8_t** buffer, int32_t* pitch) {
  SdlKind* k = kind_of(s);
  if (SDL_MUSTLOCK(k->dib) && SDL_LockSurface(k->dib) != 0) return false;
  *buffer = static_cast<uint8_t*>(k->dib->pixels);
  *pitch = k->dib->pitch;
  return true;
}

void dib_unlock(Surface* s) {
  SdlKind* k = kind_of(s);
  if (SDL_MUSTLOCK(k->dib)) SDL_UnlockSurface(k->dib);
}

void dib_blit(Surface* s, const SurfaceBlitRect* rects, uint32_t count, bool) {
  SdlKind* k = kind_of(s);
  SDL_Surface* ws = window_surface(k->win);
  if (!ws) return;
  for (uint32_t i = 0; i < count; ++i) {
    SDL_Rect src = to_sdl(rects[i].src), dst = to_sdl(rects[i].dst);
    if (src.w == dst.w && src.h == dst.h) SDL_BlitSurface(k->dib, &src, ws, &dst);
    else SDL_BlitScaled(k->dib, &src, ws, &dst);
  }
  update_rects(k->win, rects, count);
}

// ---- Texture kinds (3 to 10) ---------------------------------------------------------------

bool texture_lock(Surface* s, uint8_t** buffer, int32_t* pitch) {
  SdlKind* k = kind_of(s);
  void* pixels;
  int p;
  if (SDL_LockTexture(k->texture, nullptr, &pixels, &p) != 0) return false;
  *buffer = static_cast<uint8_t*>(pixels);
  *pitch = p;
  return true;
}

void texture_unlock(Surface* s) {
  SdlKind* k = kind_of(s);
  SDL_UnlockTexture(k->texture);
  k->win->shown = s;
  if (s->is_overlay) present(k->win);  // an overlay shows at once
}

void texture_blit(Surface* s, const SurfaceBlitRect*, uint32_t, bool) {
  SdlKind* k = kind_of(s);
  k->win->shown = s;
  present(k->win);
}

void kind_close(Surface* s) {
  SdlKind* k = kind_of(s);
  SdlWindow* w = k->win;
  if (w->shown == s) w->shown = nullptr;
  if (k->dib) SDL_FreeSurface(k->dib);
  if (k->texture) {
    SDL_DestroyTexture(k->texture);
    give_renderer(w);
  }
  std::memset(k, 0, sizeof *k);
}

int32_t open_style(Surface* s, uint32_t style, uint32_t stretch, bool change_mode) {
  SdlWindow* w = static_cast<SdlWindow*>(s->window);
  if (!w || !w->window || style < kStyleScreen || style > kSurfaceStyles) return kStyleFailed;
  if (change_mode) apply_display_request(w, &s->system->request);
  SdlKind* k = kind_of(s);
  std::memset(k, 0, sizeof *k);
  k->win = w;
  fill_screen_fields(s);

  if (style <= kStyleDib) {
    if (style == kStyleScreen && stretch) return kStyleFailed;  // the window's own pixels cannot stretch
    if (w->renderer && w->renderer_users) return kStyleFailed;
    drop_idle_renderer(w);
    SDL_Surface* ws = SDL_GetWindowSurface(w->window);
    if (!ws) return kStyleUnavailable;
    k->code = sdl_format_code(ws->format->format);
    if (!k->code) {
      surface_set_last_error(s->system, "Video mode not supported.");
      return kStyleFailed;
    }
    if (style == kStyleDib) {
      k->dib = SDL_CreateRGBSurfaceWithFormat(0, int(s->width), int(s->height), 0, ws->format->format);
      if (!k->dib) {
        surface_set_last_error(s->system, "Unable to create DIBSection.");
        return kStyleFailed;
      }
      s->abilities = kStretchMask;
      s->flags = k->code | (stretch ? kSurfaceStretched : 0);
      s->kind = SurfaceKind{dib_lock, dib_unlock, dib_blit, nullptr, kind_close};
    } else {
      s->abilities = 0;
      s->flags = k->code;  // shown by its changed rectangles
      s->kind = SurfaceKind{surface_lock_window, surface_unlock_window, blit_window, nullptr, kind_close};
    }
    return kStyleOpened;
  }

  // Textures: YUV (3 to 8) and RGB (9, 10).
  static const uint32_t kYuvFormats[3] = {SDL_PIXELFORMAT_YV12, SDL_PIXELFORMAT_YUY2, SDL_PIXELFORMAT_UYVY};
  static const uint32_t kYuvCodes[3] = {kFormatYv12, kFormatYuy2, kFormatUyvy};
  const bool yuv = surface_style_is_yuv(style);
  if (surface_style_is_yv12(style) && ((s->width | s->height) & 1)) return kStyleFailed;  // YV12: even sizes
  if (!take_renderer(w, style == kStyleRgbSystem)) return kStyleUnavailable;
  const uint32_t format = yuv ? kYuvFormats[(style - kStyleOverlayYv12) % 3] : uint32_t(SDL_PIXELFORMAT_RGB888);  // opaque B, G, R, x
  k->texture =
      SDL_CreateTexture(w->renderer, format, SDL_TEXTUREACCESS_STREAMING, int(s->width), int(s->height));
  if (!k->texture) {
    give_renderer(w);
    drop_idle_renderer(w);
    return kStyleFailed;
  }
  k->code = yuv ? kYuvCodes[(style - kStyleOverlayYv12) % 3] : kFormatBgr32;
  s->abilities = kStretchMask;  // the renderer scales anything
  const bool on_screen = surface_style_is_overlay(style);
  s->flags = k->code | (on_screen ? kSurfaceOnScreen : 0) | (stretch && !on_screen ? kSurfaceStretched : 0);
  s->kind = SurfaceKind{texture_lock, texture_unlock, texture_blit, nullptr, kind_close};
  // A new texture starts black.
  uint8_t* buffer;
  int32_t pitch;
  if (texture_lock(s, &buffer, &pitch)) {
    surface_fill_black(buffer, pitch, s->width, s->height, k->code, 4);
    SDL_UnlockTexture(k->texture);
  }
  return kStyleOpened;
}

void window_geometry(void*, void* window, int32_t* client_x, int32_t* client_y, int32_t* frame_w, int32_t* frame_h) {
  SdlWindow* w = static_cast<SdlWindow*>(window);
  int top = 0, left = 0, bottom = 0, right = 0;
  if (w && w->window && SDL_GetWindowBordersSize(w->window, &top, &left, &bottom, &right) != 0)
    top = left = bottom = right = 0;
  *client_x = left;
  *client_y = top;
  *frame_w = left + right;
  *frame_h = top + bottom;
}

void client_origin(void*, void* window, int32_t* x, int32_t* y) {
  SdlWindow* w = static_cast<SdlWindow*>(window);
  int cx = 0, cy = 0;
  if (w && w->window) SDL_GetWindowPosition(w->window, &cx, &cy);
  *x = cx;
  *y = cy;
}

}  // namespace

const DisplaySystem kSdlDisplay = {"SDL", open_style, window_geometry, client_origin, screen};

uint32_t sdl_format_code(uint32_t f) {
  switch (f) {
    case SDL_PIXELFORMAT_RGB888:
    case SDL_PIXELFORMAT_ARGB8888:
      return kFormatBgr32;  // B, G, R, X in memory
    case SDL_PIXELFORMAT_BGR888:
    case SDL_PIXELFORMAT_ABGR8888:
      return kFormatRgb32;
    case SDL_PIXELFORMAT_BGR24:
      return kFormatBgr24;
    case SDL_PIXELFORMAT_RGB24:
      return kFormatRgb24;
    case SDL_PIXELFORMAT_RGB565:
      return kFormat565;
    case SDL_PIXELFORMAT_RGB555:
      return kFormat555;
    case SDL_PIXELFORMAT_ARGB1555:
      return kFormat5551;
    case SDL_PIXELFORMAT_ARGB4444:
      return kFormat4444;
    default:
      return 0;
  }
}

void sdl_window_fill_black(SdlWindow* w) {
  if (!w || !w->window) return;
  if (w->renderer) {
    present(w);
    return;
  }
  if (SDL_Surface* ws = SDL_GetWindowSurface(w->window)) {
    SDL_FillRect(ws, nullptr, 0);
    SDL_UpdateWindowSurface(w->window);
  }
}

void sdl_window_draw_stats(SdlWindow* w, const char* text, int32_t centre_x, int32_t top, int32_t right,
                           int32_t bottom) {
  if (!w || !w->window) return;
  std::snprintf(w->stats_text, sizeof w->stats_text, "%s", text);
  w->stats_centre = centre_x;
  w->stats_top = top;
  w->stats_right = right;
  w->stats_bottom = bottom;
  w->has_stats = true;
  if (w->renderer) {
    present(w);
    return;
  }
  SDL_Surface* ws = SDL_GetWindowSurface(w->window);
  const int32_t width = right, height = bottom - top;
  if (!ws || width <= 0 || height <= 0) return;
  SDL_Surface* line = SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_RGB888);  // opaque
  if (!line) return;
  stats_pixels(w, static_cast<uint32_t*>(line->pixels), line->pitch / 4, height);
  SDL_Rect dst = {0, top, width, height};
  SDL_BlitSurface(line, nullptr, ws, &dst);
  SDL_FreeSurface(line);
  SDL_UpdateWindowSurfaceRects(w->window, &dst, 1);
}

void sdl_window_refresh(SdlWindow* w) {
  if (!w || !w->window) return;
  if (w->renderer) present(w);
  else if (SDL_GetWindowSurface(w->window)) SDL_UpdateWindowSurface(w->window);
}

void sdl_window_release(SdlWindow* w) {
  if (!w) return;
  if (w->renderer) SDL_DestroyRenderer(w->renderer);
  w->renderer = nullptr;
  w->renderer_users = 0;
  w->stats_texture = nullptr;
  w->shown = nullptr;
}
