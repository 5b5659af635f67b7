#include "encode/audio_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/audio_transform.h"
#include "base/bytes.h"

namespace {

struct Float29 {
  uint32_t exponent, mantissa, sign;
};

Float29 float29_fields(float v) {
  Float29 f{0, 0, std::signbit(v) ? 1u : 0u};
  const double a = std::fabs(double(v));
  if (!(a > 0)) return f;  // zero (or NaN, written as zero)
  uint32_t e = 0;
  while (e < 23 && a >= std::ldexp(1.0, int(e))) ++e;  // smallest e with a < 2^e
  double m = std::nearbyint(std::ldexp(a, 23 - int(e)));
  if (m >= 8388608.0) {
    if (e < 23) {
      ++e;
      m = std::nearbyint(std::ldexp(a, 23 - int(e)));
    }
    if (m > 8388607.0) m = 8388607.0;
  }
  f.exponent = e;
  f.mantissa = uint32_t(m);
  return f;
}

uint32_t bit_length(uint32_t v) {
  uint32_t n = 0;
  while (v) { ++n; v >>= 1; }
  return n;
}

uint32_t magnitude(int32_t v) { return v < 0 ? uint32_t(-int64_t(v)) : uint32_t(v); }

}  // namespace

float audio_float29_value(float v) {
  const Float29 f = float29_fields(v);
  const float mag = float(double(f.mantissa) * kAudioExponentScale[f.exponent]);
  return f.sign ? -mag : mag;
}

void audio_write_float29(BitWriter* w, float v) {
  const Float29 f = float29_fields(v);
  write_bits(w, f.exponent | f.mantissa << 5 | f.sign << 28, 29);
}

uint32_t audio_quantiser_code_at_least(float q) {
  for (uint32_t v = 0; v < 256; ++v)
    if (audio_quantiser(v) >= q) return v;
  return 255;
}

uint32_t audio_band_of(const AudioDecoder* layout, uint32_t j) {
  uint32_t b = 0;
  while (b + 1 < layout->band_count && 2 * layout->band_edges[b + 1] <= j) ++b;
  return b;
}

void audio_write_channel(BitWriter* w, const AudioDecoder* layout, const AudioChannelCodes& c) {
  const uint32_t n = layout->transform_length;
  audio_write_float29(w, c.x0);
  audio_write_float29(w, c.x1);
  for (uint32_t b = 0; b < layout->band_count; ++b) write_bits(w, c.band_codes[b], 8);

  // Chunks of 8 coefficients from position 2: widest magnitude and count of non-zeros.
  const uint32_t chunks = (n - 2 + 7) / 8;
  std::vector<uint32_t> width(chunks, 0), nonzero(chunks, 0);
  for (uint32_t j = 2; j < n; ++j) {
    const uint32_t m = magnitude(c.coefficients[j]);
    const uint32_t k = (j - 2) / 8;
    width[k] = std::max(width[k], bit_length(m));
    nonzero[k] += m != 0;
  }
  // Fewest bits from each chunk to the end: run lengths 8 (1-bit code) or the table's (5 bits).
  std::vector<uint64_t> best(chunks + 1, 0);
  std::vector<uint32_t> choice(chunks, 0);  // run in coefficients
  for (uint32_t k = chunks; k-- > 0;) {
    best[k] = UINT64_MAX;
    for (int code = -1; code < 16; ++code) {
      const uint32_t run = code < 0 ? 8 : uint32_t(kAudioRunLengths[code]) * 8;
      const uint32_t start = 2 + 8 * k;
      const uint32_t end = std::min(start + run, n);
      const uint32_t last = (end - 2 + 7) / 8;  // chunk index after the run
      uint32_t wmax = 0, nz = 0;
      for (uint32_t i = k; i < last; ++i) {
        wmax = std::max(wmax, width[i]);
        nz += nonzero[i];
      }
      if (wmax > 15) continue;
      const uint64_t cost = (code < 0 ? 1 : 5) + 4 + (wmax ? uint64_t(wmax) * (end - start) + nz : 0) + best[last];
      if (cost < best[k]) {
        best[k] = cost;
        choice[k] = run;
      }
      if (end == n) break;  // longer runs are cut to the same end
    }
  }
  for (uint32_t j = 2; j < n;) {
    const uint32_t run = choice[(j - 2) / 8];
    if (run == 8) {
      write_bit(w, 0);
    } else {
      uint32_t code = 0;
      while (uint32_t(kAudioRunLengths[code]) * 8 != run) ++code;
      write_bit(w, 1);
      write_bits(w, code, 4);
    }
    const uint32_t end = std::min(j + run, n);
    uint32_t wmax = 0;
    for (uint32_t i = j; i < end; ++i) wmax = std::max(wmax, bit_length(magnitude(c.coefficients[i])));
    write_bits(w, wmax, 4);
    if (wmax)
      for (; j < end; ++j) {
        const int32_t v = c.coefficients[j];
        write_bits(w, magnitude(v), wmax);
        if (v) write_bit(w, v < 0);
      }
    j = end;
  }
}

std::vector<uint8_t> audio_write_block(const AudioDecoder* layout, const AudioChannelCodes* channels,
                                       uint32_t lead_bits) {
  BitWriter w;
  if (layout->flags & kAudioFlagDct) write_bits(&w, lead_bits & 3, 2);
  for (uint32_t c = 0; c < layout->coded_channels; ++c) audio_write_channel(&w, layout, channels[c]);
  return bit_writer_finish(&w);
}

std::vector<float> audio_codes_spectrum(const AudioDecoder* layout, const AudioChannelCodes* channels) {
  const uint32_t n = layout->transform_length;
  std::vector<float> x(size_t(n) * layout->coded_channels);
  for (uint32_t c = 0; c < layout->coded_channels; ++c) {
    float* s = x.data() + size_t(c) * n;
    s[0] = audio_float29_value(channels[c].x0);
    s[1] = audio_float29_value(channels[c].x1);
    for (uint32_t j = 2; j < n; ++j)
      s[j] = float(channels[c].coefficients[j]) * audio_quantiser(channels[c].band_codes[audio_band_of(layout, j)]);
  }
  return x;
}

void audio_forward_spectrum(const AudioDecoder* layout, const int16_t* samples, uint32_t c, float* a, int* sizes,
                            float* table) {
  const uint32_t n = layout->transform_length;
  const bool dct = layout->flags & kAudioFlagDct;
  const uint32_t stride = dct ? layout->channels : 1;
  // The decoder outputs round(transform(X) × scale): aim the transform at samples / scale.
  for (uint32_t k = 0; k < n; ++k) a[k] = float(double(samples[size_t(k) * stride + c]) / layout->output_scale);
  if (dct) {
    audio_dct(int(n), -1, a, sizes, table);
    a[0] = float(double(a[0]) / n);
    for (uint32_t j = 1; j < n; ++j) a[j] = float(2.0 * a[j] / n);
  } else {
    audio_rdft(int(n), 1, a, sizes, table);
    for (uint32_t j = 0; j < n; ++j) a[j] = float(2.0 * a[j] / n);
  }
}

void audio_encode_codes(const AudioDecoder* layout, const int16_t* samples, uint32_t peak_code,
                        AudioChannelCodes* channels) {
  const uint32_t n = layout->transform_length;
  if (peak_code < 1) peak_code = 1;
  if (peak_code > 32767) peak_code = 32767;
  std::vector<int> sizes(audio_transform_sizes_entries(n), 0);
  std::vector<float> table(audio_dct_table_entries(n));
  std::vector<float> a(n);
  for (uint32_t c = 0; c < layout->coded_channels; ++c) {
    audio_forward_spectrum(layout, samples, c, a.data(), sizes.data(), table.data());
    AudioChannelCodes& codes = channels[c];
    codes.x0 = audio_float29_value(a[0]);
    codes.x1 = audio_float29_value(a[1]);
    codes.coefficients.assign(n, 0);
    for (uint32_t b = 0; b < layout->band_count; ++b) {
      const uint32_t from = std::max(2u, 2 * layout->band_edges[b]);
      const uint32_t to = 2 * layout->band_edges[b + 1];
      float peak = 0;
      for (uint32_t j = from; j < to; ++j) peak = std::max(peak, std::fabs(a[j]));
      const uint32_t code = peak > 0 ? audio_quantiser_code_at_least(peak / float(peak_code)) : 0;
      codes.band_codes[b] = uint8_t(code);
      const double q = audio_quantiser(code);
      for (uint32_t j = from; j < to; ++j) {
        double m = std::nearbyint(a[j] / q);
        m = std::min(32767.0, std::max(-32767.0, m));
        codes.coefficients[j] = int32_t(m);
      }
    }
  }
}

std::vector<uint8_t> audio_encode_block(const AudioDecoder* layout, const int16_t* samples,
                                        uint32_t peak_code) {
  AudioChannelCodes channels[2];
  audio_encode_codes(layout, samples, peak_code, channels);
  return audio_write_block(layout, channels);
}

std::vector<std::vector<uint8_t>> audio_encode_signal(const AudioDecoder* layout, const int16_t* pcm,
                                                      uint32_t frames, uint32_t peak_code) {
  const uint32_t ch = layout->channels;
  const uint32_t d = layout->block_bytes / 2 / ch;
  const uint32_t hop = d - d / 16;
  std::vector<std::vector<uint8_t>> blocks;
  std::vector<int16_t> block(size_t(d) * ch);
  for (uint32_t start = 0; start < frames; start += hop) {
    for (uint32_t i = 0; i < d; ++i)
      for (uint32_t c = 0; c < ch; ++c)
        block[size_t(i) * ch + c] = start + i < frames ? pcm[(size_t(start) + i) * ch + c] : 0;
    blocks.push_back(audio_encode_block(layout, block.data(), peak_code));
  }
  return blocks;
}

std::vector<uint8_t> audio_write_packet(uint32_t count, const std::vector<std::vector<uint8_t>>& blocks) {
  std::vector<uint8_t> p(4);
  store_le32(p.data(), count);
  for (const std::vector<uint8_t>& b : blocks) p.insert(p.end(), b.begin(), b.end());
  return p;
}
