// krvtool wav: one sound track as a WAV file (16-bit PCM, the track's rate and channels), with
// the same samples as krvtool pcm.
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/bytes.h"
#include "tools/krvtool/tool.h"

bool tool_track_pcm(const char* movie, const char* track_arg, std::vector<uint8_t>* pcm,
                    uint32_t* rate, uint32_t* channels);

namespace {

const char kUsage[] =
    "usage: krvtool wav MOVIE TRACK OUT.wav\n"
    "  Writes the decoded sound of track TRACK (0-based, in header order) as a 16-bit PCM WAV\n"
    "  file at the track's sample rate and channel count; the samples are those of\n"
    "  krvtool pcm. MOVIE may be FILE|OFFSET.\n"
    "  --cpu plain|sse2|avx2 limits the SIMD code used (as KORVA_CPU does).\n";

}  // namespace

int cmd_wav(int argc, char** argv) {
  if (tool_wants_help(argc, argv)) { std::fputs(kUsage, stdout); return 0; }
  if (argc != 4) { std::fputs(kUsage, stderr); return 1; }
  std::vector<uint8_t> pcm;
  uint32_t rate = 0, channels = 0;
  if (!tool_track_pcm(argv[1], argv[2], &pcm, &rate, &channels)) return 1;
  if (pcm.size() > 0xFFFFFFFFu - 36) return tool_fail("%s: the sound is too long for a WAV file", argv[1]);
  uint8_t h[44];
  const uint32_t data = uint32_t(pcm.size());
  std::memcpy(h, "RIFF", 4);
  store_le32(h + 4, 36 + data);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  store_le32(h + 16, 16);
  store_le16(h + 20, 1);  // integer PCM
  store_le16(h + 22, uint16_t(channels));
  store_le32(h + 24, rate);
  store_le32(h + 28, rate * channels * 2);
  store_le16(h + 32, uint16_t(channels * 2));
  store_le16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  store_le32(h + 40, data);
  FILE* out = std::fopen(argv[3], "wb");
  if (!out) return tool_fail("%s: cannot create the file", argv[3]);
  bool ok = std::fwrite(h, 1, sizeof h, out) == sizeof h;
  ok = ok && std::fwrite(pcm.data(), 1, pcm.size(), out) == pcm.size();
  if (std::fclose(out) != 0 || !ok) return tool_fail("%s: cannot write the file", argv[3]);
  return 0;
}
