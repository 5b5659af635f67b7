// The PCM conversion of the decoded sound, plain form, and the table of the decoder's
// functions: the plain initialiser and the filler that lets the SSE2 and AVX2 ones override it.
#include "audio/audio_convert.h"

#include <algorithm>

#include "audio/audio_bits.h"
#include "audio/audio_decoder.h"
#include "audio/audio_transform.h"
#include "base/cpu.h"

namespace {

// Adding and subtracting 1.5 × 2^52 rounds a double of magnitude below 2^51 to an integer
// with the current (nearest-even) rounding.
inline int16_t to_pcm(float x, double scale) {
  const double p = std::min(std::max(double(x) * scale, -32768.0), 32767.0);
  const double magic = 6755399441055744.0;
  return int16_t(int32_t((p + magic) - magic));
}

}  // namespace

void audio_to_pcm_plain(const float* ch0, const float* ch1, uint32_t n, double scale, int16_t* out) {
  if (!ch1) {
    for (uint32_t k = 0; k < n; ++k) out[k] = to_pcm(ch0[k], scale);
    return;
  }
  for (uint32_t k = 0; k < n; ++k) {
    out[2 * k] = to_pcm(ch0[k], scale);
    out[2 * k + 1] = to_pcm(ch1[k], scale);
  }
}

void audio_init_plain(AudioFunctions* f) {
  f->rdft = audio_rdft_plain;
  f->dct = audio_dct_plain;
  f->coefficients = audio_decode_coefficients_plain;
  f->to_pcm = audio_to_pcm_plain;
}

void audio_fill_functions(AudioFunctions* f, uint32_t level) {
  audio_init_plain(f);
  if (level >= kCpuSse2 && audio_init_sse2(f) && level >= kCpuAvx2) audio_init_avx2(f);
}
