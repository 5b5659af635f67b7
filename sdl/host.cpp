#include "sdl/host.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "display/backends/sdl_font.h"
#include "platform/platform.h"
#include "sound/backends/sdl_sound.h"

namespace {

SdlHost* self(void* ctx) { return static_cast<SdlHost*>(ctx); }

void borders(SDL_Window* w, int* top, int* left, int* bottom, int* right) {
  *top = *left = *bottom = *right = 0;
  if (w && SDL_GetWindowBordersSize(w, top, left, bottom, right) != 0) *top = *left = *bottom = *right = 0;
}

void* create_window(void* ctx, const PlayerWindowRequest* r) {
  SdlHost* h = self(ctx);
  if (!h->have_display) return nullptr;
  uint32_t flags = SDL_WINDOW_HIDDEN;
  // Styles 1 (no caption) and 2 (nothing): a window manager gives a frame only with its title
  // bar, so both go without.
  if (r->window_style != 0 || r->black_screen) flags |= SDL_WINDOW_BORDERLESS;
  if (r->topmost) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
  SDL_Window* w = SDL_CreateWindow(r->title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 32, 32, flags);
  if (!w) return nullptr;
  h->window.window = w;
  SDL_StartTextInput();  // the skip key comes as the character typed, whatever the layout
  if (r->hide_cursor) {
    SDL_ShowCursor(SDL_DISABLE);
    h->cursor_hidden = true;
  }
  return &h->window;
}

void destroy_window(void* ctx) {
  SdlHost* h = self(ctx);
  if (h->window.window) {
    sdl_window_release(&h->window);
    SDL_DestroyWindow(h->window.window);
    h->window.window = nullptr;
  }
  if (h->cursor_hidden) SDL_ShowCursor(SDL_ENABLE);
  h->window_gone = true;
}

void show_window(void* ctx, bool show) {
  SDL_Window* w = self(ctx)->window.window;
  if (!w) return;
  if (show) {
    SDL_ShowWindow(w);
    SDL_RaiseWindow(w);
  } else {
    SDL_HideWindow(w);
  }
}

// The player speaks of the outer rectangle; SDL places and sizes the client area.
void set_window_rect(void* ctx, int32_t x, int32_t y, int32_t width, int32_t height) {
  SDL_Window* w = self(ctx)->window.window;
  if (!w) return;
  int top, left, bottom, right;
  borders(w, &top, &left, &bottom, &right);
  const int cw = width - left - right, ch = height - top - bottom;
  SDL_SetWindowSize(w, cw > 1 ? cw : 1, ch > 1 ? ch : 1);
  SDL_SetWindowPosition(w, x + left, y + top);
}

void window_position(void* ctx, int32_t* x, int32_t* y) {
  SDL_Window* w = self(ctx)->window.window;
  int cx = 0, cy = 0, top, left, bottom, right;
  if (w) SDL_GetWindowPosition(w, &cx, &cy);
  borders(w, &top, &left, &bottom, &right);
  *x = cx - left;
  *y = cy - top;
}

void invalidate(void* ctx) { self(ctx)->paint_pending = true; }
void fill_black(void* ctx) { sdl_window_fill_black(&self(ctx)->window); }

void measure_text(void*, const char* text, size_t length, int32_t* width, int32_t* height) {
  font_measure(text, length, width, height);
}

void draw_stats_text(void* ctx, const char* text, int32_t centre_x, int32_t top, int32_t right, int32_t bottom) {
  sdl_window_draw_stats(&self(ctx)->window, text, centre_x, top, right, bottom);
}

int32_t message_box(void* ctx, const char* title, const char* text, uint32_t kind, bool owned) {
  SdlHost* h = self(ctx);
  if (!h->have_display) {
    std::fprintf(stderr, "%s: %s\n", title, text);
    return kind == kBoxQuestion ? kAnswerNo : kAnswerOk;
  }
  SDL_MessageBoxButtonData yes_no[2] = {
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, kAnswerYes, "Yes"},
      {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, kAnswerNo, "No"},
  };
  SDL_MessageBoxButtonData ok = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT,
                                 kAnswerOk, "OK"};
  SDL_MessageBoxData box;
  SDL_zero(box);
  box.flags = kind == kBoxError ? SDL_MESSAGEBOX_ERROR : kind == kBoxQuestion ? SDL_MESSAGEBOX_WARNING
                                                                             : SDL_MESSAGEBOX_INFORMATION;
  box.window = owned ? h->window.window : nullptr;
  box.title = title;
  box.message = text;
  box.numbuttons = kind == kBoxQuestion ? 2 : 1;
  box.buttons = kind == kBoxQuestion ? yes_no : &ok;
  int answer = 0;
  if (SDL_ShowMessageBox(&box, &answer) != 0) {
    std::fprintf(stderr, "%s: %s\n", title, text);
    return kind == kBoxQuestion ? kAnswerNo : kAnswerOk;
  }
  if (answer < 0) answer = kind == kBoxQuestion ? kAnswerNo : kAnswerOk;  // closed without a button
  return answer;
}

void open_web_page(void*, const char* address) { platform_open_web_page(address); }

// Enter, Space and Escape are keys; the skip key is the character '.', typed on whatever key
// and with whatever shift the keyboard layout puts it (the text event that a key also makes is
// taken only for '.', so that Space is not seen twice).
uint32_t key_code(SDL_Keycode k) {
  switch (k) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return 13;
    case SDLK_SPACE:
      return 32;
    case SDLK_ESCAPE:
      return 27;
    default:
      return 0;
  }
}

void typed_text(Player* p, const char* text) {
  for (const char* c = text; *c; ++c)
    if (*c == '.') player_on_char(p, '.');
}

int32_t poll(void* ctx, Player* p) {
  SdlHost* h = self(ctx);
  if (h->window_gone) return kPollQuit;
  if (h->paint_pending) {
    h->paint_pending = false;
    player_on_paint(p);
    return kPollHandled;
  }
  SDL_Event e;
  if (!SDL_PollEvent(&e)) return kPollIdle;
  switch (e.type) {
    case SDL_WINDOWEVENT:
      switch (e.window.event) {
        case SDL_WINDOWEVENT_FOCUS_GAINED:
          player_on_focus(p, true);
          break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
          player_on_focus(p, false);
          break;
        case SDL_WINDOWEVENT_EXPOSED:
          player_on_paint(p);
          break;
        case SDL_WINDOWEVENT_MOVED:
          player_on_moved(p);
          break;
        case SDL_WINDOWEVENT_CLOSE:
          player_on_destroy(p);
          destroy_window(ctx);
          break;
        default:
          break;
      }
      break;
    case SDL_KEYDOWN:
      if (const uint32_t key = key_code(e.key.keysym.sym)) player_on_char(p, key);
      break;
    case SDL_TEXTINPUT:
      typed_text(p, e.text.text);
      break;
    case SDL_MOUSEBUTTONUP:
      player_on_mouse_up(p);
      break;
    case SDL_QUIT:
      player_on_destroy(p);
      destroy_window(ctx);
      break;
    default:
      break;
  }
  return kPollHandled;
}

void sleep_ms(void*, uint32_t ms) { SDL_Delay(ms); }

bool screen_size(void* ctx, int32_t* width, int32_t* height) {
  SDL_DisplayMode mode;
  if (!self(ctx)->have_display || SDL_GetCurrentDisplayMode(0, &mode) != 0) {
    *width = *height = 0;
    return false;
  }
  *width = mode.w;
  *height = mode.h;
  return true;
}

void local_date(void*, int32_t* year, int32_t* month, int32_t* day) {
  if (!platform_local_date(year, month, day)) *year = *month = *day = 0;
}

size_t profile_read(void*, const char* key, const char* fallback, char* out, size_t cap) {
  return platform_profile_string(kProfileSection, key, fallback, out, cap);
}

void profile_write(void*, const char* key, const char* value) { platform_profile_write(kProfileSection, key, value); }

// /Z is accepted and changes nothing (the help says so): SDL has one queue back end for every
// track.
sound_provider_fn sound_provider(void*, bool) { return sdl_sound_provider; }

}  // namespace

void sdl_host_init(PlayerHost* host, SdlHost* state, bool have_display) {
  std::memset(static_cast<void*>(state), 0, sizeof *state);
  state->have_display = have_display;
  *host = PlayerHost{};
  host->ctx = state;
  host->create_window = create_window;
  host->destroy_window = destroy_window;
  host->show_window = show_window;
  host->set_window_rect = set_window_rect;
  host->window_position = window_position;
  host->invalidate = invalidate;
  host->fill_black = fill_black;
  host->measure_text = measure_text;
  host->draw_stats_text = draw_stats_text;
  host->message_box = message_box;
  host->open_web_page = open_web_page;
  host->poll = poll;
  host->sleep_ms = sleep_ms;
  host->screen_size = screen_size;
  host->local_date = local_date;
  host->profile_read = profile_read;
  host->profile_write = profile_write;
  host->sound_provider = sound_provider;
  host->display = &kSdlDisplay;
  host->display_context = nullptr;
}

bool sdl_command_line(int argc, char** argv, char* out, size_t cap) {
  size_t n = 0;
  auto put = [&](const char* s, size_t len) {
    if (n + len + 1 > cap) return false;
    std::memcpy(out + n, s, len);
    n += len;
    out[n] = 0;
    return true;
  };
  if (!cap) return false;
  out[0] = 0;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const bool name = a[0] != '/' || std::strchr(a + 1, '/') || platform_file_exists(a);
    if (n && !put(" ", 1)) return false;
    if (name && !std::strchr(a, '"')) {
      if (!put("\"", 1) || !put(a, std::strlen(a)) || !put("\"", 1)) return false;
    } else if (!put(a, std::strlen(a))) {
      return false;
    }
  }
  return true;
}
