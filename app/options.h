// The player's options: one working text made of the default options string and the command
// line, from which every recognised switch is parsed and cut out; what remains is the list of
// movie names.
//
//   OptionsText t;
//   options_build_text(&t, stored_defaults, command_line);   // or options_set_text
//   PlayerOptions o;
//   parse_options(&t, &env, &o);
//   if (options_wants_help(&t, &o)) show options_help_text(one_sound_output) and exit 1;
//   char name[kOptionsTextCap];
//   while (next_movie_name(&t, name, sizeof name)) ...
#pragma once
#include <cstddef>
#include <cstdint>

#include "container/movie_name.h"

// Room for the default string (511), a Windows command line (32767) and the profile (256).
constexpr size_t kOptionsTextCap = 512 + 32768 + 258;
// The stored default options string: this many characters, padded with '~'.
constexpr size_t kDefaultOptionsStore = 512;
constexpr size_t kProfileStringMax = 256;
constexpr int32_t kPositionAbsent = -3000;  // /X, /Y not given: centre on the screen

struct OptionsText {
  char text[kOptionsTextCap];
};

// What the options need from outside (the profile and the screen); null members read as
// "nothing there".
struct OptionsEnv {
  // Copies the profile value KorvaQuickPlay (at most cap - 1 characters); returns its length.
  size_t (*profile_quick_play)(void* ctx, char* out, size_t cap);
  // The screen size in pixels; false when there is no screen.
  bool (*screen_size)(void* ctx, int32_t* width, int32_t* height);
  void* ctx;
};

struct DisplayMode {
  int32_t width, height;
  int32_t depth;  // value handed to the surface layer: 16, 24, 32, 8, or 1..3 (preferences)
};

struct PlayerOptions {
  int32_t loops;            // 0 = endlessly
  int32_t parent_window;
  int32_t rate_num, rate_den;  // -1/-1 absent, 0/0 as fast as possible
  int32_t track_id;
  int32_t read_speed;       // bytes per second, 0 = off
  int32_t read_buffer;      // bytes, -1 = automatic
  int32_t disabled_controls;  // 1 pause, 2 skip, 4 quit
  int32_t topmost;
  int32_t window_style;     // 0 normal, 1 no caption, 2 nothing
  bool use_waveout, show_summary, show_stats, keep_playing_unfocused, black_screen, hide_cursor;
  int32_t pos_x, pos_y;
  int32_t out_w_num, out_w_den, out_h_num, out_h_den;
  int32_t screen_w, screen_h;
  bool has_display_mode;
  DisplayMode display_mode;
  uint32_t open_flags;
  uint32_t surface_flags;
  // A switch value outside its table (/D, /B): the help is shown as for an unknown switch.
  bool bad_value;
};

// Joins the stored default string (kDefaultOptionsStore characters padded with '~'; read up to
// 511 characters and cut at the first '~'; null = none) and the command line. A blank is put
// between them so that a default movie name and a typed one never run together. False when the
// text does not fit.
bool options_build_text(OptionsText* t, const char* stored_defaults, const char* command_line);
// Sets the working text directly (false when too long).
bool options_set_text(OptionsText* t, const char* text);
// Pads `defaults` with '~' into a store of kDefaultOptionsStore characters plus a NUL
// (false when it does not fit in 511 characters).
bool options_make_store(char store[kDefaultOptionsStore + 1], const char* defaults);

void cancel_switches(char* text);
bool parse_flag_switch(char* text, char letter);
int32_t parse_number_switch(char* text, char letter, int32_t fallback);
void parse_ratio_switch(char* text, char letter, int32_t default_num, int32_t default_den,
                        int32_t* num, int32_t* den);

// Runs cancel_switches, then parses every switch in the fixed order.
void parse_options(OptionsText* t, const OptionsEnv* env, PlayerOptions* o);

// The help decision: a '/' is left (unknown or malformed switch), nothing but blanks is left,
// or a value was outside its table.
bool options_wants_help(const OptionsText* t, const PlayerOptions* o);
// The help text, line by line, each line ending with '\n'. With one_sound_output (a program
// whose /Z chooses the same sound output as without it, as on Linux) the /Z line says that the
// switch does nothing there.
const char* options_help_text(bool one_sound_output);
constexpr const char* kOptionsHelpTitle = "Korva Video Player Help";

// Removes and returns the next movie name; false (and an empty name) when none is left.
// Names longer than cap - 1 are cut.
bool next_movie_name(OptionsText* t, char* name, size_t cap);
bool has_extension(const char* name);

// One axis of the output size (bit: 0x10000000 for the width, 0x1000000 for the height).
int32_t fit_output_size(int32_t requested_num, uint32_t bit, uint32_t* surface_flags,
                        int32_t requested_den, int32_t movie_size, int32_t screen_size);

struct DisplayModeEntry {
  int16_t width, height;
};
extern const DisplayModeEntry kDisplayModes[14];  // index 1..13; entry 0 unused
extern const int32_t kDisplayDepths[7];           // depth code → value for the surface layer
