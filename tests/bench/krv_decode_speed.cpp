// Video decoding speed of one movie file: every frame's video packet decoded in order, the whole
// movie over and over for at least SECONDS (default 3), single thread, the file read into memory
// first. Prints "fps N" (frames per second of wall time, best pass) and the frames and passes.
//
//   krv_decode_speed MOVIE [SECONDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "container/container.h"
#include "video/video_decoder.h"

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help")) {
    std::fprintf(argc < 2 ? stderr : stdout, "usage: krv_decode_speed MOVIE [SECONDS]\n");
    return argc < 2 ? 1 : 0;
  }
  const double seconds = argc > 2 ? std::atof(argv[2]) : 3.0;
  std::FILE* f = std::fopen(argv[1], "rb");
  if (!f) {
    std::fprintf(stderr, "krv_decode_speed: cannot open %s\n", argv[1]);
    return 1;
  }
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  ContainerView v;
  if (const char* e = container_open_view(bytes.data(), bytes.size(), &v)) {
    std::fprintf(stderr, "krv_decode_speed: %s: %s\n", argv[1], e);
    return 1;
  }
  const ContainerHeader& h = v.header;
  uint32_t movie_flags = 0;
  if (h.version != 'i') movie_flags |= 0x8000;
  if (h.version == 'f' || h.version == 'g') movie_flags |= kVideoFlagChromaSwap;
  if (h.flags & kVideoFlagGrey) movie_flags |= kVideoFlagGrey;
  VideoStore st;
  if (!video_store_open(&st, h.width, h.height, false, v.info.all_key_frames)) {
    std::fprintf(stderr, "krv_decode_speed: cannot hold a %u x %u picture\n", h.width, h.height);
    return 1;
  }
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  double best = 1e300;
  uint32_t passes = 0, damaged = 0;
  do {
    const Clock::time_point t0 = Clock::now();
    for (uint32_t i = 0; i < h.frame_count; ++i) {
      const uint8_t *frame, *packet;
      uint32_t frame_size, packet_size;
      bool key;
      if (!container_frame(&v, i, &frame, &frame_size, &key) ||
          container_video_packet(frame, frame_size, h.track_count, &packet, &packet_size)) {
        std::fprintf(stderr, "krv_decode_speed: frame %u lies outside the file\n", i);
        return 1;
      }
      std::memset(st.planes.change_map, 0, st.planes.map_blocks);
      if (!video_decode_next(&st.planes, h.width, h.height, packet, packet_size, key, movie_flags, h.flags))
        damaged += 1;
    }
    const double t = std::chrono::duration<double>(Clock::now() - t0).count();
    if (t < best) best = t;
    passes += 1;
  } while (std::chrono::duration<double>(Clock::now() - start).count() < seconds);
  video_store_close(&st);
  std::printf("fps %.1f  (%u frames of %ux%u, best of %u passes%s)\n", h.frame_count / best, h.frame_count, h.width,
              h.height, passes, damaged ? ", some frames damaged" : "");
  return 0;
}
