#include "display/backends/memory_display.h"

#include <cstring>

#include "display/backends/memory_surface.h"

namespace {

MemoryDisplay* config(const Surface* s) { return static_cast<MemoryDisplay*>(s->system->context); }

MemorySurface*& memory_of(Surface* s) { return *reinterpret_cast<MemorySurface**>(s->backend); }

bool op_lock(Surface* s, uint8_t** buffer, int32_t* pitch) {
  MemorySurface* m = memory_of(s);
  if (!m) return false;
  config(s)->locks += 1;
  *buffer = memory_surface_row(m, 0);
  *pitch = m->pitch;
  return true;
}
void op_unlock(Surface*) {}
void op_blit(Surface* s, const SurfaceBlitRect*, uint32_t count, bool whole) {
  MemoryDisplay* d = config(s);
  d->blits += 1;
  d->rects += count;
  if (whole) d->whole_blits += 1;
}
void op_close(Surface* s) {
  MemorySurface* m = memory_of(s);
  if (config(s) && config(s)->last == m) config(s)->last = nullptr;
  memory_surface_close(m);
  memory_of(s) = nullptr;
}

int32_t op_open_style(Surface* s, uint32_t style, uint32_t stretch, bool) {
  MemoryDisplay* d = config(s);
  if (!d || !(d->styles & (1u << style))) return kStyleFailed;
  uint32_t abilities = 0;
  if (style == 2) abilities = kStretchMask;
  else if (style >= 3 && style <= 5) abilities = d->overlay_abilities;
  else if (style >= 6) abilities = d->blit_abilities;
  if ((abilities & stretch) != stretch) return kStyleFailed;
  MemorySurface* m = memory_surface_open(d->format, s->width, s->height, 0, 0, 0);
  if (!m) return kStyleFailed;
  memory_of(s) = m;
  d->last = m;
  s->flags = d->format;
  if (style == 1 || (style >= 3 && style <= 5)) s->flags |= kSurfaceOnScreen;
  if (style != 1 && stretch) s->flags |= kSurfaceStretched;
  s->abilities = abilities;
  s->screen_width = d->screen_width;
  s->screen_height = d->screen_height;
  s->screen_bits = d->screen_bits;
  s->bytes_per_pixel = uint32_t(d->screen_bits + 7) / 8;
  s->kind.lock = op_lock;
  s->kind.unlock = op_unlock;
  s->kind.blit = op_blit;
  s->kind.close = op_close;
  return kStyleOpened;
}

void op_geometry(void* context, void*, int32_t* client_x, int32_t* client_y, int32_t* frame_w, int32_t* frame_h) {
  const MemoryDisplay* d = static_cast<const MemoryDisplay*>(context);
  *client_x = d ? d->client_x : 0;
  *client_y = d ? d->client_y : 0;
  *frame_w = d ? d->frame_width : 0;
  *frame_h = d ? d->frame_height : 0;
}
void op_origin(void* context, void*, int32_t* x, int32_t* y) {
  const MemoryDisplay* d = static_cast<const MemoryDisplay*>(context);
  *x = d ? d->window_x : 0;
  *y = d ? d->window_y : 0;
}
void op_screen(void* context, int32_t* w, int32_t* h, int32_t* bits) {
  const MemoryDisplay* d = static_cast<const MemoryDisplay*>(context);
  *w = d ? d->screen_width : 0;
  *h = d ? d->screen_height : 0;
  *bits = d ? d->screen_bits : 0;
}

}  // namespace

const DisplaySystem kMemoryDisplay = {"memory", op_open_style, op_geometry, op_origin, op_screen};

void memory_display_default(MemoryDisplay* d) {
  std::memset(d, 0, sizeof *d);
  d->format = 3;  // 32-bit B, G, R, 0
  d->styles = 0x7FE;  // every style 1..10
  d->screen_width = 1024;
  d->screen_height = 768;
  d->screen_bits = 32;
}

MemorySurface* memory_display_surface(const Surface* s) {
  return s ? *reinterpret_cast<MemorySurface* const*>(s->backend) : nullptr;
}
