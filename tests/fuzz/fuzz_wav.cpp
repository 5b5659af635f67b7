// krvenc's WAV input from arbitrary bytes: chunks in any order and of any size, cut data. What
// it accepts is coded into a few frames of sound, as krvenc would code it.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "encode/audio_encoder.h"
#include "encode/encode_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(size ? size : 1));
  if (size) std::memcpy(copy, data, size);
  WavAudio wav;
  const char* error = wav_parse(copy, size, &wav);
  if (!error) {
    if (wav.channels != 1 && wav.channels != 2) std::abort();
    if (wav.pcm.size() % wav.channels) std::abort();
    // Short sound only: the fuzzer is after the reader and the coder's set-up, not long coding.
    if (!wav.pcm.empty() && wav.pcm.size() / wav.channels <= 4 * 4096u) {
      const bool dct = size & 1;
      uint32_t word = 0;
      const auto packets = audio_track_packets(wav.pcm, wav.rate, wav.channels, dct, 0, 3, 15, 1, &word);
      if (!packets.empty() && packets.size() != 3) std::abort();
    }
  }
  std::free(copy);
  return 0;
}
