#include "win32/host.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "app/options.h"
#include "platform/platform.h"
#include "sound/backends/win32_sound.h"
#include "win32/resource.h"

namespace {

// One player window per process: the window procedure finds the front end's state here.
Win32Host* g_host = nullptr;

Win32Host* self(void* ctx) { return static_cast<Win32Host*>(ctx); }
HWND hwnd_of(void* ctx) { return static_cast<HWND>(self(ctx)->window); }
HINSTANCE instance_of(void* ctx) { return static_cast<HINSTANCE>(self(ctx)->instance); }

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  Win32Host* h = g_host;
  Player* p = h ? h->player : nullptr;
  if (!p) return DefWindowProcA(window, message, wparam, lparam);
  switch (message) {
    case WM_DESTROY:
      player_on_destroy(p);
      if (h->window == window) h->window = nullptr;
      PostQuitMessage(0);
      return 0;
    case WM_SETFOCUS:
      player_on_focus(p, true);
      break;
    case WM_KILLFOCUS:
      player_on_focus(p, false);
      break;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      h->paint_dc = BeginPaint(window, &ps);
      player_on_paint(p);
      EndPaint(window, &ps);
      h->paint_dc = nullptr;
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_WINDOWPOSCHANGING: {
      WINDOWPOS* wp = reinterpret_cast<WINDOWPOS*>(lparam);
      if (!(wp->flags & SWP_NOMOVE)) {
        int32_t x = wp->x, y = wp->y;
        player_on_moving(p, &x, &y);
        wp->x = x;
        wp->y = y;
      }
      break;
    }
    case WM_WINDOWPOSCHANGED:
      player_on_moved(p);
      break;
    case WM_CHAR:
      player_on_char(p, uint32_t(wparam));
      return 1;
    case WM_LBUTTONUP:
      player_on_mouse_up(p);
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

void attach_player(void* ctx, Player* p) { self(ctx)->player = p; }

void* create_window(void* ctx, const PlayerWindowRequest* r) {
  Win32Host* h = self(ctx);
  HINSTANCE instance = instance_of(ctx);
  if (!h->class_registered) {
    WNDCLASSA wc;
    std::memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = window_procedure;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kResourceIcon));
    // With /C the class cursor is the program's own, fully transparent one.
    wc.hCursor = r->hide_cursor ? static_cast<HCURSOR>(h->display.cursor) : LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = nullptr;
    wc.lpszClassName = r->class_name;
    if (!RegisterClassA(&wc)) return nullptr;
    h->class_registered = true;
  }
  DWORD ex = 0;
  if (r->topmost) ex |= WS_EX_TOPMOST;
  if (r->window_style != 2) ex |= WS_EX_DLGMODALFRAME;
  const DWORD style = r->window_style == 0 ? 0x82CA0000u : 0x820A0000u;
  HWND owner = r->parent_window ? reinterpret_cast<HWND>(static_cast<intptr_t>(r->parent_window)) : nullptr;
  HWND w = CreateWindowExA(ex, r->class_name, r->title, style, CW_USEDEFAULT, CW_USEDEFAULT, 32, 32, owner,
                           nullptr, instance, nullptr);
  h->window = w;
  return w;
}

void destroy_window(void* ctx) {
  HWND w = hwnd_of(ctx);
  // WM_DESTROY posts the quit message that ends the loop.
  if (w) {
    DestroyWindow(w);
  } else {
    PostQuitMessage(0);
  }
  self(ctx)->window = nullptr;
}

void show_window(void* ctx, bool show) {
  if (HWND w = hwnd_of(ctx)) ShowWindow(w, show ? SW_SHOWNORMAL : SW_HIDE);
}

void set_window_rect(void* ctx, int32_t x, int32_t y, int32_t width, int32_t height) {
  HWND w = hwnd_of(ctx);
  if (!w) return;
  SetWindowPos(w, HWND_TOP, x, y, width, height, 0);
  SendMessageA(w, WM_NCPAINT, 1, 0);
}

void window_position(void* ctx, int32_t* x, int32_t* y) {
  RECT r = {0, 0, 0, 0};
  if (HWND w = hwnd_of(ctx)) GetWindowRect(w, &r);
  *x = r.left;
  *y = r.top;
}

void invalidate(void* ctx) {
  if (HWND w = hwnd_of(ctx)) InvalidateRect(w, nullptr, FALSE);
}

// The device context to draw into: the paint's while painting, else the window's own.
HDC take_dc(void* ctx, bool* release) {
  Win32Host* h = self(ctx);
  *release = false;
  if (h->paint_dc) return static_cast<HDC>(h->paint_dc);
  HWND w = hwnd_of(ctx);
  if (!w) return nullptr;
  *release = true;
  return GetDC(w);
}

void give_dc(void* ctx, HDC dc, bool release) {
  if (release && dc) ReleaseDC(hwnd_of(ctx), dc);
}

void fill_black(void* ctx) {
  bool release;
  if (HDC dc = take_dc(ctx, &release)) {
    PatBlt(dc, 0, 0, 4096, 4096, BLACKNESS);
    give_dc(ctx, dc, release);
  }
}

void measure_text(void* ctx, const char* text, size_t length, int32_t* width, int32_t* height) {
  *width = *height = 0;
  bool release;
  HDC dc = take_dc(ctx, &release);
  if (!dc) return;
  SIZE size;
  if (GetTextExtentPoint32A(dc, text, int(length), &size)) {
    *width = size.cx;
    *height = size.cy;
  }
  give_dc(ctx, dc, release);
}

void draw_stats_text(void* ctx, const char* text, int32_t centre_x, int32_t top, int32_t right, int32_t bottom) {
  bool release;
  HDC dc = take_dc(ctx, &release);
  if (!dc) return;
  SetTextColor(dc, RGB(255, 255, 0));
  SetBkColor(dc, RGB(0, 0, 0));
  SetTextAlign(dc, TA_CENTER | TA_TOP);
  RECT area = {0, top, right, bottom};
  ExtTextOutA(dc, centre_x, top, ETO_OPAQUE, &area, text, UINT(std::strlen(text)), nullptr);
  give_dc(ctx, dc, release);
}

int32_t message_box(void* ctx, const char* title, const char* text, uint32_t kind, bool owned) {
  UINT flags = kind == kBoxError ? MB_ICONERROR : kind == kBoxQuestion ? MB_ICONQUESTION | MB_YESNO
                                                                        : MB_ICONINFORMATION;
  const int answer = MessageBoxA(owned ? hwnd_of(ctx) : nullptr, text, title, flags);
  if (answer == IDYES) return kAnswerYes;
  if (answer == IDNO) return kAnswerNo;
  return kind == kBoxQuestion ? kAnswerNo : kAnswerOk;
}

void open_web_page(void* ctx, const char* address) {
  ShellExecuteA(hwnd_of(ctx), "open", address, nullptr, nullptr, SW_SHOW);
}

int32_t poll(void* ctx, Player* p) {
  self(ctx)->player = p;
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return kPollIdle;
  if (msg.message == WM_QUIT) return kPollQuit;
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
  return kPollHandled;
}

void sleep_ms(void*, uint32_t ms) { Sleep(ms); }

bool screen_size(void*, int32_t* width, int32_t* height) {
  *width = GetSystemMetrics(SM_CXSCREEN);
  *height = GetSystemMetrics(SM_CYSCREEN);
  return *width > 0 && *height > 0;
}

void local_date(void*, int32_t* year, int32_t* month, int32_t* day) {
  if (!platform_local_date(year, month, day)) *year = *month = *day = 0;
}

size_t profile_read(void*, const char* key, const char* fallback, char* out, size_t cap) {
  return platform_profile_string(kProfileSection, key, fallback, out, cap);
}

void profile_write(void*, const char* key, const char* value) { platform_profile_write(kProfileSection, key, value); }

sound_provider_fn sound_provider(void*, bool waveout) {
  return waveout ? win32_waveout_provider : win32_dsound_provider;
}

}  // namespace

void win32_host_init(PlayerHost* host, Win32Host* state, void* instance) {
  std::memset(static_cast<void*>(state), 0, sizeof *state);
  state->instance = instance;
  state->display.instance = instance;
  state->display.cursor = LoadCursorA(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEA(kResourceCursor));
  g_host = state;
  *host = PlayerHost{};
  host->ctx = state;
  host->attach_player = attach_player;
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
  host->display = &kWin32Display;
  host->display_context = &state->display;
}

bool win32_stored_defaults(void* instance, char* out, size_t cap) {
  if (cap < 2) return false;
  // At most 511 characters; the player cuts the text at its first '~'.
  const int n = LoadStringA(static_cast<HINSTANCE>(instance), kResourceDefaultOptions, out,
                            int(cap < kDefaultOptionsStore ? cap : kDefaultOptionsStore));
  if (n <= 0) {
    out[0] = 0;
    return false;
  }
  return true;
}
