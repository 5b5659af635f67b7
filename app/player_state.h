// The player's state (process-wide in the program; one record here so that tests can drive a
// player of their own through a fake host).
#pragma once
#include <cstdint>

#include "app/options.h"
#include "app/player.h"
#include "playback/stats.h"
#include "sound/sound.h"

struct Movie;
struct PlatformFile;

struct Player {
  PlayerHost* host;
  PlayerOptions o;
  OptionsText text;            // what is left of the options: the movie names still to play
  OptionsText saved;           // the whole text, for the next pass
  void* window;
  SoundSystem sound;           // where every movie's played tracks go
  SurfaceSystem display;       // where every movie's surface is opened
  Movie* movie;
  Surface* surface;
  Surface* kept_surface;       // the previous movie's surface, until the next one is open
  PlatformFile* own_file;      // the player's own executable or a file|offset source
  uint32_t surface_flags;      // SurfaceFlags of the current movie
  int32_t pic_x, pic_y;        // the picture inside the client area
  int32_t passes;
  uint32_t pause_state;        // 0 or all bits set
  bool has_focus;
  int32_t end_request;         // 0 none, 1 quit, 2 quit while the closing picture shows
  bool skip_movie;
  bool closing_shown;
  uint32_t closing_until;
  bool destroying;
  bool no_fill;
  uint32_t copy_flags;         // 0x80000000: the next copy converts the whole picture
  int32_t idle_credit;
  int32_t text_top, text_width, line_height;  // the statistics line
  PlaybackSummary summary;
  bool summary_filled;
  char name[kMovieNameBuffer];
};

// The idle branch of the message loop, once (exposed for tests): returns true when the current
// movie has ended and the next one is to be opened.
bool player_idle(Player* p);
void player_step(Player* p);
void closing_picture(Player* p);
