/* A minimal movie player on SDL2 and libkorva: a window, the picture, the first sound track.
 *   play_sdl MOVIE.krv [--frames N]     (Space pauses, Escape quits) */
#include <SDL.h>
#include <korva/korva.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc < 2 || !strcmp(argv[1], "--help")) {
    fprintf(stderr, "usage: play_sdl MOVIE.krv [--frames N]\n");
    return argc < 2 ? 1 : 0;
  }
  long limit = argc > 3 && !strcmp(argv[2], "--frames") ? atol(argv[3]) : -1;
  korva_open_options options;
  korva_default_options(&options);
  options.sound = KORVA_SOUND_PULL;
  korva_movie* movie = korva_open_file(argv[1], &options);
  if (!movie) {
    fprintf(stderr, "play_sdl: %s: %s\n", argv[1], korva_last_error(NULL));
    return 1;
  }
  korva_info info;
  korva_get_info(movie, &info);
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_AUDIO) != 0) {
    fprintf(stderr, "play_sdl: %s\n", SDL_GetError());
    return 1;
  }
  SDL_Window* window = SDL_CreateWindow("play_sdl", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                        (int)info.width, (int)info.height, 0);
  SDL_Renderer* renderer = window ? SDL_CreateRenderer(window, -1, 0) : NULL;
  SDL_Texture* texture = renderer ? SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                                      (int)info.width, (int)info.height) : NULL;
  if (!texture) {
    fprintf(stderr, "play_sdl: %s\n", SDL_GetError());
    return 1;
  }
  /* The sound: the first played track, queued to the device as the movie makes it. */
  SDL_AudioDeviceID audio = 0;
  korva_track_info track;
  for (uint32_t t = 0; t < info.track_count; ++t) {
    if (korva_get_track_info(movie, t, &track) == 0 && track.played == 0) {
      SDL_AudioSpec want, have;
      SDL_zero(want);
      want.freq = (int)track.rate;
      want.format = track.bits == 16 ? AUDIO_S16LSB : AUDIO_U8;
      want.channels = (Uint8)track.channels;
      want.samples = 1024;
      audio = SDL_OpenAudioDevice(NULL, 0, &want, &have, 0);
      if (audio) SDL_PauseAudioDevice(audio, 0);
    }
  }
  uint8_t* pixels = malloc((size_t)info.width * info.height * 4);
  static uint8_t pcm[65536];
  int paused = 0, quit = 0;
  for (long shown = 0; !quit && shown != limit;) {
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
      if (e.type == SDL_QUIT || (e.type == SDL_KEYDOWN && e.key.keysym.sym == SDLK_ESCAPE)) quit = 1;
      if (e.type == SDL_KEYDOWN && e.key.keysym.sym == SDLK_SPACE) {
        paused = korva_pause(movie, !paused);
        if (audio) SDL_PauseAudioDevice(audio, paused);
      }
    }
    if (paused || korva_wait(movie)) {
      SDL_Delay(1);
      continue;
    }
    if (korva_decode(movie) != 0) {
      fprintf(stderr, "play_sdl: %s\n", korva_last_error(movie));
      break;
    }
    korva_copy(movie, pixels, (int32_t)info.width * 4, info.height, KORVA_FORMAT_BGRX32, KORVA_COPY_WHOLE, NULL);
    SDL_UpdateTexture(texture, NULL, pixels, (int)info.width * 4);
    SDL_RenderCopy(renderer, texture, NULL, NULL);
    SDL_RenderPresent(renderer);
    int32_t got;
    while (audio && (got = korva_read_pcm(movie, 0, pcm, sizeof pcm)) > 0) SDL_QueueAudio(audio, pcm, (Uint32)got);
    ++shown;
    korva_next(movie);  /* after the last frame, the first again */
  }
  free(pixels);
  korva_close(movie);
  if (audio) SDL_CloseAudioDevice(audio);
  SDL_Quit();
  return 0;
}
