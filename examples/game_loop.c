/* A game's cut-scene loop: the game ticks at 60 Hz, the movie's clock says when a new frame is
 * due, the picture goes into the game's RGBA texture (only the changed rectangles are uploaded)
 * and the game pulls the sound into its own mixer. No window: it prints what it did.
 *   game_loop MOVIE.krv [--fast] */
#define _POSIX_C_SOURCE 200809L /* nanosleep */
#include <korva/korva.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static void sleep_ms(long ms) {
  struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, NULL);
}

int main(int argc, char** argv) {
  if (argc < 2 || !strcmp(argv[1], "--help")) {
    fprintf(stderr, "usage: game_loop MOVIE.krv [--fast]\n");
    return argc < 2 ? 1 : 0;
  }
  const int fast = argc > 2 && !strcmp(argv[2], "--fast");
  korva_open_options options;
  korva_default_options(&options);
  options.sound = KORVA_SOUND_PULL;
  if (fast) { /* every frame at once, as a converter would */
    options.flags |= KORVA_OPEN_RATE;
    options.rate_num = options.rate_den = 0;
  }
  korva_movie* movie = korva_open_file(argv[1], &options);
  if (!movie) {
    fprintf(stderr, "game_loop: %s: %s\n", argv[1], korva_last_error(NULL));
    return 1;
  }
  korva_info info;
  korva_get_info(movie, &info);
  const size_t pitch = (size_t)info.width * 4;
  uint8_t* texture = calloc(info.height, pitch);
  uint64_t pixels_uploaded = 0, pcm_bytes = 0, ticks = 0;
  uint32_t checksum = 0, frames = 0;
  static uint8_t mixer[8192];
  while (texture) {
    ++ticks;
    if (!korva_wait(movie)) {  /* a new frame is due */
      if (korva_decode(movie) != 0) {
        fprintf(stderr, "game_loop: %s\n", korva_last_error(movie));
        break;
      }
      korva_changes changes;
      const uint32_t flags = frames == 0 ? KORVA_COPY_WHOLE : 0;  /* the first copy fills it all */
      if (korva_copy(movie, texture, (int32_t)pitch, info.height, KORVA_FORMAT_RGBA32, flags, &changes) == 0)
        for (uint32_t r = 0; r < changes.count; ++r)
          pixels_uploaded += (uint64_t)changes.rects[r].width * (uint64_t)changes.rects[r].height;
      ++frames;
      const int last = korva_current_frame(movie) == info.frame_count;
      if (!last) korva_next(movie);
      for (uint32_t t = 0; t < info.played_track_count; ++t) {
        int32_t got;
        while ((got = korva_read_pcm(movie, t, mixer, sizeof mixer)) > 0) {
          pcm_bytes += (uint64_t)got;
          for (int32_t i = 0; i < got; ++i) checksum = checksum * 31u + mixer[i];
        }
      }
      if (last) break;
    }
    if (!fast) sleep_ms(16);  /* the rest of the game's tick */
  }
  for (size_t i = 0; texture && i < pitch * info.height; ++i) checksum = checksum * 31u + texture[i];
  printf("%u frames in %llu ticks, %llu pixels uploaded, %llu bytes of sound, checksum %08x\n", frames,
         (unsigned long long)ticks, (unsigned long long)pixels_uploaded, (unsigned long long)pcm_bytes,
         (unsigned)checksum);
  free(texture);
  korva_close(movie);
  return frames == info.frame_count ? 0 : 1;
}
