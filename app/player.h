// The player program, written once: start-up, the movies in turn, the message loop's idle
// branch, player_step, the closing picture, the window procedure's handlers, the keys, loops,
// lists and passes, the error boxes and exit codes, the statistics line, the summary and the
// update reminder. A front end (Win32 or SDL) fills a PlayerHost with what its platform does
// and translates its events into the player_on_* calls:
//
//   PlayerHost host = {...};
//   return player_main(&host, stored_defaults, command_line);
#pragma once
#include <cstddef>
#include <cstdint>

#include "display/surface.h"
#include "sound/sound_output.h"

struct Player;

// Message box kinds and answers.
enum PlayerBoxKind : uint32_t { kBoxError = 0, kBoxInformation = 1, kBoxQuestion = 2 };
enum PlayerBoxAnswer : int32_t { kAnswerOk = 1, kAnswerYes = 6, kAnswerNo = 7 };

// What the player asks of the window it creates.
struct PlayerWindowRequest {
  const char* title;        // "Korva Video Player"
  const char* class_name;   // "KorvaWin"
  int32_t window_style;     // 0 with caption, 1 frame without caption, 2 nothing (/I2, /R)
  bool topmost;             // /I1xx
  bool hide_cursor;         // /C: the transparent cursor
  bool black_screen;        // /R: the window covers the screen (its frame lies outside)
  int32_t parent_window;
};

// Results of PlayerHost::poll.
enum PlayerPoll : int32_t { kPollIdle = 0, kPollHandled = 1, kPollQuit = 2 };

struct PlayerHost {
  void* ctx;
  // Optional: the player's state, given before anything else, for window procedures that are
  // called outside poll (Windows sends messages while the window is placed or shown).
  void (*attach_player)(void* ctx, Player* p);
  // Window. create_window returns the handle handed to the display system (null: failure).
  void* (*create_window)(void* ctx, const PlayerWindowRequest* request);
  void (*destroy_window)(void* ctx);  // the front end then reports kPollQuit from poll
  void (*show_window)(void* ctx, bool show);
  // Moves and sizes the window (outer rectangle, screen coordinates).
  void (*set_window_rect)(void* ctx, int32_t x, int32_t y, int32_t width, int32_t height);
  void (*window_position)(void* ctx, int32_t* x, int32_t* y);
  // Asks for a repaint (player_on_paint) of the client area; erase: fill black first.
  void (*invalidate)(void* ctx);
  void (*fill_black)(void* ctx);
  // The statistics line: the size of a text in the window's font, and drawing it yellow on
  // black centred at (centre_x, top) over the area (0, top, right, bottom).
  void (*measure_text)(void* ctx, const char* text, size_t length, int32_t* width, int32_t* height);
  void (*draw_stats_text)(void* ctx, const char* text, int32_t centre_x, int32_t top, int32_t right,
                          int32_t bottom);
  // A modal box; owned: by the player window (else without owner). Returns a PlayerBoxAnswer.
  int32_t (*message_box)(void* ctx, const char* title, const char* text, uint32_t kind, bool owned);
  void (*open_web_page)(void* ctx, const char* address);
  // Handles at most one pending event (calling the player_on_* functions); kPollQuit once the
  // window is gone.
  int32_t (*poll)(void* ctx, Player* p);
  void (*sleep_ms)(void* ctx, uint32_t ms);
  bool (*screen_size)(void* ctx, int32_t* width, int32_t* height);
  void (*local_date)(void* ctx, int32_t* year, int32_t* month, int32_t* day);
  // Profile values of the section "Tesmo Video Tools".
  size_t (*profile_read)(void* ctx, const char* key, const char* fallback, char* out, size_t cap);
  void (*profile_write)(void* ctx, const char* key, const char* value);
  // The sound provider (waveout: /Z) and the display system.
  sound_provider_fn (*sound_provider)(void* ctx, bool waveout);
  const DisplaySystem* display;
  void* display_context;
};

// Runs the player: options from the stored default string (512 '~'-padded characters, or null)
// and the command line; returns the exit code (0 after a normal end, 1 after help, an error or
// an accepted update check).
int player_main(PlayerHost* host, const char* stored_defaults, const char* command_line);

// The window procedure's handlers.
void player_on_focus(Player* p, bool gained);
void player_on_paint(Player* p);
void player_on_char(Player* p, uint32_t key);  // 13 Enter, 32 Space, '.', 27 Escape
void player_on_mouse_up(Player* p);
// A proposed window position (outer rectangle); adjusted in place.
void player_on_moving(Player* p, int32_t* x, int32_t* y);
void player_on_moved(Player* p);
void player_on_destroy(Player* p);

// The update reminder: 1 when the user accepted (the program then ends with exit code 1).
int32_t update_check(PlayerHost* host);
constexpr const char kBuildDate[] = "2002-11-18";
constexpr const char kPlayerVersion[] = "1.5q";
constexpr const char kProfileSection[] = "Tesmo Video Tools";

// The web addresses the player may open.
extern const char kClosingWebAddress[];
extern const char kVersionCheckBase[];

// The built-in closing picture: a one-frame 224 × 252 movie.
const uint8_t* closing_picture_movie(size_t* size);
