// The public library's open from memory, as a web page or a game engine uses it, from
// arbitrary bytes: the first 16 bytes are the open options (every field, valid or not), the
// rest the movie image. The limits come from the options' bytes too. What opens is played through the public calls.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "include/korva/korva.h"

namespace {

constexpr size_t kOptionBytes = 16;

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

void options_from(const uint8_t* p, korva_open_options* o, const uint32_t* ids) {
  korva_default_options(o);
  o->flags = le32(p);
  o->doubling = p[4] % 9;
  o->sound = p[5] % 4;
  o->track_count = p[6] % 18;
  o->track_ids = p[6] & 0x80 ? nullptr : ids;
  o->buffer_bytes = le32(p + 8);
  o->rate_num = int16_t(p[12] | p[13] << 8);
  o->rate_den = int16_t(p[14] | p[15] << 8);
  // Limits some of the time, from a few pixels and bytes up to more than any movie here needs.
  o->max_area = (p[6] & 0x60) == 0x60 ? uint64_t(p[9]) << (p[13] & 7) : 0;
  o->max_memory = (p[7] & 0x06) == 0x06 ? uint64_t(le32(p + 8)) << (p[15] & 7) : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool once = [] {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    return true;
  }();
  (void)once;
  if (size < kOptionBytes) return 0;
  const uint8_t* movie = data + kOptionBytes;
  const size_t movie_size = size - kOptionBytes;
  // Keep the fuzzer on decoding, not on huge pictures (at most 255 x 255 coded).
  if (movie_size >= 28 && (movie[21] | movie[22] | movie[23] | movie[25] | movie[26] | movie[27])) return 0;
  static const uint32_t kIds[17] = {0, 1, 2, 3, 0xffffffffu, 5, 1, 0, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  korva_open_options o;
  options_from(data, &o, kIds);
  const uint8_t copy_mode = data[7];
  // The image in an exact block, borrowed or copied by the library.
  uint8_t* image = static_cast<uint8_t*>(std::malloc(movie_size ? movie_size : 1));
  if (movie_size) std::memcpy(image, movie, movie_size);
  korva_movie* m = korva_open_memory(movie_size ? image : nullptr, movie_size, copy_mode & 0x80, &o);
  if (!m) {
    if (!korva_last_error(nullptr)[0]) std::abort();
    std::free(image);
    return 0;
  }
  korva_info info;
  if (korva_get_info(m, &info) != 0) std::abort();
  for (uint32_t t = 0; t < info.track_count && t < 4; ++t) {
    korva_track_info ti;
    if (korva_get_track_info(m, t, &ti) != 0) std::abort();
  }
  uint32_t keys[8];
  (void)korva_get_key_frames(m, keys, 8);
  const uint32_t format = 1 + copy_mode % 15;
  const uint32_t bytes_per_pixel = format <= 2 ? 3 : format <= 6 ? 4 : format == 15 ? 1 : 2;
  const uint32_t pitch = info.width * bytes_per_pixel + (copy_mode & 0x40 ? 12 : 0);
  // Exactly the memory the header asks for; YV12's two chroma planes (pitch / 2 bytes a row,
  // rows / 2 rows) follow the luma rows.
  const uint32_t rows = info.height + (copy_mode & 0x08 ? 1 : 0);
  std::vector<uint8_t> pixels(size_t(pitch) * rows + (format == 15 ? 2 * size_t(pitch / 2) * (rows / 2) : 0));
  std::vector<uint8_t> pcm(4096);
  const uint32_t frames = info.frame_count < 24 ? info.frame_count : 24;
  for (uint32_t i = 0; i < frames; ++i) {
    if (korva_decode(m) != 0) break;
    korva_changes changes;
    const int32_t signed_pitch = copy_mode & 0x20 ? -int32_t(pitch) : int32_t(pitch);
    (void)korva_copy(m, pixels.data(), signed_pitch, rows, format, i == 0 || (copy_mode & 0x10) ? KORVA_COPY_WHOLE : 0,
                     &changes);
    if (changes.count > 8) std::abort();
    for (uint32_t t = 0; t < info.played_track_count; ++t) (void)korva_read_pcm(m, t, pcm.data(), uint32_t(pcm.size()));
    korva_next(m);
  }
  korva_planes planes;
  if (korva_seek(m, 1 + copy_mode % (info.frame_count + 1)) == 0) (void)korva_get_planes(m, &planes);
  korva_stats stats;
  (void)korva_get_stats(m, &stats);
  (void)korva_pause(m, 1);
  korva_close(m);
  std::free(image);
  return 0;
}
