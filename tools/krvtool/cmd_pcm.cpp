// krvtool pcm: the 16-bit PCM of one sound track, exactly the bytes the player puts into the
// track's ring, frame after frame. Also the decoding half of krvtool wav.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/audio_decoder.h"
#include "container/container.h"
#include "tools/krvtool/tool.h"

// Shared with cmd_wav.cpp: decodes track `track_arg` of `movie` into *pcm and gives the
// track's rate and channel count. Prints the error and returns false on bad input.
bool tool_track_pcm(const char* movie, const char* track_arg, std::vector<uint8_t>* pcm,
                    uint32_t* rate, uint32_t* channels);

namespace {

const char kUsage[] =
    "usage: krvtool pcm MOVIE TRACK OUT.raw\n"
    "  Writes the decoded sound of track TRACK (0-based, in header order) as interleaved\n"
    "  16-bit little-endian samples: every frame's packet in order, from each block the bytes\n"
    "  the packet's count still asks for. MOVIE may be FILE|OFFSET.\n"
    "  --cpu plain|sse2|avx2 limits the SIMD code used (as KORVA_CPU does); plain gives the\n"
    "  reference arithmetic.\n";

}  // namespace

bool tool_track_pcm(const char* movie, const char* track_arg, std::vector<uint8_t>* pcm,
                    uint32_t* rate, uint32_t* channels) {
  char* end = nullptr;
  errno = 0;
  const unsigned long track = std::strtoul(track_arg, &end, 10);
  if (!*track_arg || *end || errno || track > 0xffffffffUL) {
    tool_fail("'%s' is not a track number", track_arg);
    return false;
  }
  std::vector<uint8_t> file;
  ContainerView v;
  if (!tool_load_movie(movie, &file, &v)) return false;
  const uint32_t t = uint32_t(track);
  if (t >= v.header.track_count) {
    tool_fail("%s: no track %u (the movie has %u)", movie, t, v.header.track_count);
    return false;
  }
  const uint32_t word = container_track_word(&v, t);
  if (!(word & (kAudioWordDct | kAudioWordRdft))) {
    tool_fail("%s: track %u carries no playable sound (audio header word 0x%08X)", movie, t, word);
    return false;
  }
  *rate = word & kAudioWordRateMask;
  *channels = (word & kAudioWordStereo) ? 2 : 1;
  const bool dct = (word & kAudioWordDct) && !(word & kAudioWordRdft);
  AudioDecoder* d = audio_decoder_open(*rate, *channels, dct);
  if (!d) {
    tool_fail("%s: track %u cannot be decoded (sample rate %u Hz)", movie, t, *rate);
    return false;
  }
  pcm->clear();
  for (uint32_t i = 0; i < v.header.frame_count; ++i) {
    const uint8_t* frame = nullptr;
    uint32_t frame_size = 0;
    bool key = false;
    if (!container_frame(&v, i, &frame, &frame_size, &key)) {
      audio_decoder_close(d);
      tool_fail("%s: frame %u lies past the end of the file (cut short?)", movie, i + 1);
      return false;
    }
    const uint8_t* packet = nullptr;
    uint32_t packet_size = 0;
    const char* error = container_audio_packet(frame, frame_size, v.header.track_count, t, &packet, &packet_size);
    if (error) {
      audio_decoder_close(d);
      tool_fail("%s: frame %u: %s", movie, i + 1, error);
      return false;
    }
    if (!packet_size) continue;
    AudioPacketCursor cur;
    audio_packet_begin(&cur, packet, packet_size);
    const int16_t* samples = nullptr;
    uint32_t bytes = 0;
    while (audio_packet_next(d, &cur, &samples, &bytes)) {
      const uint8_t* b = reinterpret_cast<const uint8_t*>(samples);
      pcm->insert(pcm->end(), b, b + bytes);  // the samples are stored little-endian
    }
  }
  audio_decoder_close(d);
  return true;
}

int cmd_pcm(int argc, char** argv) {
  if (tool_wants_help(argc, argv)) { std::fputs(kUsage, stdout); return 0; }
  if (argc != 4) { std::fputs(kUsage, stderr); return 1; }
  std::vector<uint8_t> pcm;
  uint32_t rate = 0, channels = 0;
  if (!tool_track_pcm(argv[1], argv[2], &pcm, &rate, &channels)) return 1;
  FILE* out = std::fopen(argv[3], "wb");
  if (!out) return tool_fail("%s: cannot create the file", argv[3]);
  const bool ok = std::fwrite(pcm.data(), 1, pcm.size(), out) == pcm.size();
  if (std::fclose(out) != 0 || !ok) return tool_fail("%s: cannot write the file", argv[3]);
  return 0;
}
