#include "audio/audio_decoder.h"

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "audio/audio_bits.h"
#include "audio/audio_convert.h"
#include "audio/audio_transform.h"
#include "base/alloc.h"
#include "base/cpu.h"

const uint8_t kAudioRunLengths[16] = {2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15, 16, 32, 64};

const uint16_t kAudioBandHz[25] = {0,    100,  200,  300,  400,  510,  630,  770,  920,
                                   1080, 1270, 1480, 1720, 2000, 2320, 2700, 3150, 3700,
                                   4400, 5300, 6400, 7700, 9500, 12000, 15500};

const double kAudioExponentScale[24] = {
    1.1920928955078125e-07, 2.384185791015625e-07, 4.76837158203125e-07, 9.5367431640625e-07,
    1.9073486328125e-06,    3.814697265625e-06,    7.62939453125e-06,    1.52587890625e-05,
    3.0517578125e-05,       6.103515625e-05,       0.0001220703125,      0.000244140625,
    0.00048828125,          0.0009765625,          0.001953125,          0.00390625,
    0.0078125,              0.015625,              0.03125,              0.0625,
    0.125,                  0.25,                  0.5,                  1.0};

namespace {

size_t round32(size_t n) { return (n + 31) & ~size_t(31); }

// The 256 band quantisers, 10^(v × 0.0664): the constant is the single-precision value
// 0x3D87FCB9, the product v × constant is exact in double, the power is taken in double and
// rounded to single. Written out bit for bit (the tests hold them to the rule), so the table is
// the same on every platform and only read.
constexpr uint32_t kQuantiserBits[256] = {
    0x3F800000, 0x3F95253B, 0x3FADC8B9, 0x3FCA7E34, 0x3FEBF1CF, 0x4009760E, 0x40202B68, 0x403AA11E,
    0x405975D6, 0x407D626C, 0x40939F23, 0x40AC022F, 0x40C86C93, 0x40E988AF, 0x41080E85, 0x411E887A,
    0x4138B8FA, 0x41573D0F, 0x417ACBAE, 0x41921D06, 0x41AA4049, 0x41C6605B, 0x41E725DD, 0x4206AAA8,
    0x421CE9D3, 0x4236D5D4, 0x42550A17, 0x42783BB7, 0x42909EDB, 0x42A882FC, 0x42C4597E, 0x42E4C949,
    0x43054A6E, 0x431B4F69, 0x4334F79D, 0x4352DCE0, 0x4375B273, 0x438F2498, 0x43A6CA3C, 0x43C257EE,
    0x43E272E2, 0x4403EDCD, 0x4419B930, 0x44331E49, 0x4450B55B, 0x44732FD1, 0x448DAE33, 0x44A515FD,
    0x44C05B9D, 0x44E02299, 0x450294BC, 0x4518271E, 0x453149CB, 0x454E9378, 0x4570B3C0, 0x458C3BA0,
    0x45A36633, 0x45BE647F, 0x45DDD85D, 0x46013F32, 0x46169928, 0x462F7A16, 0x464C7729, 0x466E3E2E,
    0x468ACCD7, 0x46A1BAD2, 0x46BC7283, 0x46DB941D, 0x46FFDA49, 0x47150F42, 0x472DAF1F, 0x474A605F,
    0x476BCF0C, 0x478961CD, 0x47A013CF, 0x47BA859F, 0x47D955CC, 0x47FD3D17, 0x48138963, 0x482BE8D7,
    0x48484F0B, 0x48696647, 0x4887FA79, 0x489E711E, 0x48B89DC4, 0x48D71D59, 0x48FAA6BB, 0x4912077F,
    0x492A2734, 0x49464321, 0x496703CF, 0x498696D1, 0x499CD2B5, 0x49B6BAE4, 0x49D4EAB4, 0x49F81724,
    0x4A10898D, 0x4A286A29, 0x4A443C90, 0x4A64A794, 0x4A8536CB, 0x4A9B3887, 0x4AB4DCF4, 0x4AD2BDCF,
    0x4AF58E40, 0x4B0F0F82, 0x4B26B1AA, 0x4B423B4C, 0x4B625186, 0x4B83DA5D, 0x4B99A28B, 0x4BB303E6,
    0x4BD0969B, 0x4BF30BFD, 0x4C0D9953, 0x4C24FDAB, 0x4C403F47, 0x4C600194, 0x4C82817F, 0x4C9810B4,
    0x4CB12FAD, 0x4CCE7509, 0x4CF0904A, 0x4D0C26F7, 0x4D234E20, 0x4D3E4872, 0x4D5DB7AE, 0x4D812C27,
    0x4D9682F8, 0x4DAF603C, 0x4DCC5909, 0x4DEE1B15, 0x4E0AB864, 0x4E21A2FE, 0x4E3C56C0, 0x4E5B73C4,
    0x4E7FB497, 0x4E94F94C, 0x4EAD9588, 0x4ECA428E, 0x4EEBAC4E, 0x4F094D90, 0x4F1FFC3A, 0x4F3A6A24,
    0x4F5935C7, 0x4F7D17C8, 0x4F9373A6, 0x4FABCF84, 0x4FC83189, 0x4FE943E4, 0x5007E671, 0x501E59C7,
    0x50388291, 0x5056FDA8, 0x507A81CE, 0x5091F1FC, 0x50AA0E23, 0x50C625EB, 0x50E6E1C6, 0x510682FD,
    0x511CBB9A, 0x51369FF8, 0x5154CB56, 0x5177F298, 0x51907442, 0x51A85159, 0x51C41FA7, 0x51E485E5,
    0x5205232A, 0x521B21A9, 0x5234C24E, 0x52529EC3, 0x52756A13, 0x528EFA6E, 0x52A6991B, 0x52C21EAF,
    0x52E2302E, 0x5303C6F0, 0x53198BE8, 0x5332E986, 0x535077E0, 0x5372E82E, 0x538D8477, 0x53A4E55C,
    0x53C022F4, 0x53DFE093, 0x54026E45, 0x5417FA4D, 0x54311592, 0x544E569E, 0x54706CD9, 0x548C1252,
    0x54A33611, 0x54BE2C69, 0x54DD9703, 0x5501191F, 0x55166CCB, 0x552F4666, 0x554C3AEE, 0x556DF801,
    0x558AA3F4, 0x55A18B2E, 0x55BC3B01, 0x55DB536F, 0x55FF8EEB, 0x5614E35A, 0x562D7BF5, 0x564A24C2,
    0x566B8996, 0x56893956, 0x569FE4A8, 0x56BA4EAD, 0x56D915C7, 0x56FCF27E, 0x57135DED, 0x572BB634,
    0x5748140A, 0x57692186, 0x5787D26B, 0x579E4272, 0x57B86762, 0x57D6DDFB, 0x57FA5CE6, 0x5811DC7B,
    0x5829F515, 0x584608BA, 0x5866BFC3, 0x58866F2B, 0x589CA483, 0x58B68511, 0x58D4ABFC, 0x58F7CE10,
    0x59105EFA, 0x5928388D, 0x594402C2, 0x5964643A, 0x59850F8D, 0x599B0ACE, 0x59B4A7AD, 0x59D27FBC,
    0x59F545EB, 0x5A0EE55E, 0x5A26808F, 0x5A420215, 0x5A620EDB, 0x5A83B386, 0x5A997549, 0x5AB2CF2A,
    0x5AD0592A, 0x5AF2C465, 0x5B0D6F9D, 0x5B24CD11, 0x5B4006A5, 0x5B5FBF97, 0x5B825B0E, 0x5B97E3E9
};
struct QuantiserTable {
  float q[256];
};
constexpr QuantiserTable kQuantisers = [] {
  QuantiserTable t{};
  for (uint32_t v = 0; v < 256; ++v) t.q[v] = std::bit_cast<float>(kQuantiserBits[v]);
  return t;
}();

inline const float* quantisers() { return kQuantisers.q; }

// One coefficient of width w (1 to 15) from at least w + 1 buffered bits: the magnitude, and
// its sign bit only when the magnitude is not 0.
inline float take_coefficient(AudioBitReader* r, uint32_t w, uint32_t mask, float q) {
  const uint32_t v = audio_bits_peek(r, w + 1);
  const uint32_t m = v & mask;
  const uint32_t nz = m != 0;
  audio_bits_skip(r, w + nz);
  const uint32_t sign = (v >> w) & nz;
  return std::bit_cast<float>(std::bit_cast<uint32_t>(float(m) * q) ^ (sign << 31));
}

// Coefficients of width w (and a sign bit each) that fit in 56 bits.
constexpr uint8_t kPerWindow[16] = {56, 28, 18, 14, 11, 9, 8, 7, 6, 5, 5, 4, 4, 4, 3, 3};

// For widths 1 to 7, the value ±m of each w + 1 bits (magnitude, then the sign bit), +0 for a
// magnitude of 0: width w's 2^(w+1) entries start at 2^(w+1) − 4.
struct SmallValues {
  float v[508];
};
constexpr SmallValues make_small_values() {
  SmallValues t{};
  for (uint32_t w = 1; w <= 7; ++w) {
    for (uint32_t f = 0; f < (2u << w); ++f) {
      const uint32_t m = f & ((1u << w) - 1);
      t.v[(2u << w) - 4 + f] = (f >> w) && m ? -float(m) : float(m);
    }
  }
  return t;
}
constexpr SmallValues kSmallValues = make_small_values();

// 64 bits of the block from bit `pos` on (at least 57 of them valid); bytes past the end read
// as zero, as the word buffer pads them.
inline uint64_t window_at(const uint8_t* data, size_t size, uint64_t pos) {
  const uint64_t byte = pos >> 3;
  uint64_t v = 0;
  if (size >= 8 && byte <= size - 8) {
    std::memcpy(&v, data + byte, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  } else {
    for (uint64_t i = 0; i < 8 && byte + i < size; ++i) v |= uint64_t(data[byte + i]) << (8 * i);
  }
  return v >> (pos & 7);
}

// Where each magnitude of width w in v is not 0: the widest power of two `span` ≤ w, then the
// two span-bit stretches at the start and at the end of the w bits (they overlap).
inline uint64_t nonzero_starts(uint64_t v, uint32_t w) {
  uint32_t span = 1;
  for (; span * 2 <= w; span *= 2) v |= v >> span;
  return v | v >> (w - span);
}

// Where each second coefficient of a pair starting at p has a magnitude that is not 0, given
// `any` (nonzero_starts): the second starts w + 1 bits on when the first is not 0, else w.
inline uint64_t second_nonzero(uint64_t any, uint32_t w) {
  return (any & (any >> (w + 1))) | (~any & (any >> w));
}

// The values ±m × q of x[0 .. count − 1], width W (1 to 7), from bit `pos` on, a window at a
// time; returns the new position. Two coefficients a step: the pair's length, 2W plus one bit per
// nonzero magnitude, comes from one bit of `any` and one of `second`, so the position
// advances without waiting on the first coefficient's value.
template <uint32_t W>
uint64_t small_values(const uint8_t* data, size_t size, uint64_t pos, float* x, uint32_t count,
                      float q) {
  const float* values = kSmallValues.v + (2u << W) - 4;
  constexpr uint32_t kMaskSign = (2u << W) - 1, kFull = kPerWindow[W];
  while (count) {
    const uint64_t v = window_at(data, size, pos);
    const uint64_t any = nonzero_starts(v, W);
    const uint64_t second = second_nonzero(any, W);
    const uint32_t now = count < kFull ? count : kFull;
    uint32_t p = 0, i = 0;
    for (; i + 1 < now; i += 2) {
      const uint32_t b0 = uint32_t(any >> p) & 1;
      x[i] = values[uint32_t(v >> p) & kMaskSign] * q;
      x[i + 1] = values[uint32_t(v >> (p + W + b0)) & kMaskSign] * q;
      p += 2 * W + b0 + (uint32_t(second >> p) & 1);
    }
    if (i < now) {
      x[i] = values[uint32_t(v >> p) & kMaskSign] * q;
      p += W + (uint32_t(any >> p) & 1);
    }
    x += now;
    count -= now;
    pos += p;
  }
  return pos;
}

// ±m from the w + 1 bits at the bottom of u (magnitude, then the sign bit); a magnitude of 0
// stays +0 whatever bit follows it.
inline float signed_value(uint64_t u, uint32_t w, uint32_t mask) {
  const uint32_t m = uint32_t(u) & mask;
  const uint32_t sign = uint32_t(u >> w) & 1;
  return float(int32_t((m ^ (0u - sign)) + sign));
}

// The same for widths 8 to 15.
uint64_t wide_values(const uint8_t* data, size_t size, uint64_t pos, float* x, uint32_t count, float q,
                     uint32_t w) {
  const uint32_t mask = (1u << w) - 1, full = kPerWindow[w];
  while (count) {
    const uint64_t v = window_at(data, size, pos);
    const uint64_t any = nonzero_starts(v, w);
    const uint64_t second = second_nonzero(any, w);
    const uint32_t now = count < full ? count : full;
    uint32_t p = 0, i = 0;
    for (; i + 1 < now; i += 2) {
      const uint32_t b0 = uint32_t(any >> p) & 1;
      x[i] = signed_value(v >> p, w, mask) * q;
      x[i + 1] = signed_value(v >> (p + w + b0), w, mask) * q;
      p += 2 * w + b0 + (uint32_t(second >> p) & 1);
    }
    if (i < now) {
      x[i] = signed_value(v >> p, w, mask) * q;
      p += w + (uint32_t(any >> p) & 1);
    }
    x += now;
    count -= now;
    pos += p;
  }
  return pos;
}

}  // namespace

void audio_decode_coefficients_plain(AudioBitReader* r, float* x, uint32_t n, const uint32_t* edges,
                                     const float* quant) {
  uint32_t j = 2, b = 0;
  float q = 0.0f;
  while (j < n) {
    audio_bits_refill(r);
    uint32_t run = 8;
    if (audio_bits_peek(r, 1)) {
      run = uint32_t(kAudioRunLengths[(audio_bits_peek(r, 5) >> 1) & 15]) * 8;
      audio_bits_skip(r, 5);
    } else {
      audio_bits_skip(r, 1);
    }
    const uint32_t w = audio_bits_peek(r, 4);
    audio_bits_skip(r, 4);
    const uint32_t end = j + run < n ? j + run : n;
    if (w == 0) {
      for (; j < end; ++j) x[j] = 0.0f;
      // edges[band_count] is n / 2, so the scan stops there at the latest.
      while (end > 2 * edges[b]) q = quant[b++];
      continue;
    }
    // Coefficients in stretches that stay inside one band, without data-dependent branches:
    // a magnitude of 0 reads no sign bit, so the bits used are w + (m != 0).
    const uint32_t mask = (1u << w) - 1;
    while (j < end) {
      if (j == 2 * edges[b]) q = quant[b++];
      const uint32_t band_end = 2 * edges[b];
      const uint32_t stop = band_end > j && band_end < end ? band_end : band_end > j ? end : j + 1;
      // A refill leaves at least 32 bits: enough for two coefficients of up to 16 bits.
      for (; j + 1 < stop; j += 2) {
        audio_bits_refill(r);
        x[j] = take_coefficient(r, w, mask, q);
        x[j + 1] = take_coefficient(r, w, mask, q);
      }
      if (j < stop) {
        audio_bits_refill(r);
        x[j] = take_coefficient(r, w, mask, q);
        ++j;
      }
    }
  }
}

void audio_decode_coefficients_fast(AudioBitReader* r, float* x, uint32_t n, const uint32_t* edges,
                                    const float* quant) {
  const uint8_t* data = r->start;
  const size_t size = size_t(r->end - r->start);
  uint64_t pos = audio_bits_consumed(r);
  uint32_t j = 2, b = 0;
  float q = 0.0f;
  while (j < n) {
    uint64_t t = window_at(data, size, pos);
    uint32_t run = 8;
    if (t & 1) {
      run = uint32_t(kAudioRunLengths[(t >> 1) & 15]) * 8;
      t >>= 5;
      pos += 5;
    } else {
      t >>= 1;
      pos += 1;
    }
    const uint32_t w = uint32_t(t & 15);
    pos += 4;
    const uint32_t end = j + run < n ? j + run : n;
    if (w == 0) {
      for (; j < end; ++j) x[j] = 0.0f;
      while (end > 2 * edges[b]) q = quant[b++];
      continue;
    }
    // A run inside one band takes its quantiser at once. Else the run's values ±m (times 1,
    // exact) are each multiplied by their band's quantiser after, bands advancing as in the
    // plain reader: the same product float(m) × q, the sign applied.
    float run_q = q;
    uint32_t run_b = b;
    if (j == 2 * edges[run_b]) run_q = quant[run_b++];
    const bool one_band = 2 * edges[run_b] >= end;
    float* out = x + j;
    const uint32_t count = end - j;
    const float scale = one_band ? run_q : 1.0f;
    switch (w) {
      case 1: pos = small_values<1>(data, size, pos, out, count, scale); break;
      case 2: pos = small_values<2>(data, size, pos, out, count, scale); break;
      case 3: pos = small_values<3>(data, size, pos, out, count, scale); break;
      case 4: pos = small_values<4>(data, size, pos, out, count, scale); break;
      case 5: pos = small_values<5>(data, size, pos, out, count, scale); break;
      case 6: pos = small_values<6>(data, size, pos, out, count, scale); break;
      case 7: pos = small_values<7>(data, size, pos, out, count, scale); break;
      default: pos = wide_values(data, size, pos, out, count, scale, w); break;
    }
    if (one_band) {
      q = run_q;
      b = run_b;
      j = end;
      continue;
    }
    while (j < end) {
      if (j == 2 * edges[b]) q = quant[b++];
      const uint32_t band_end = 2 * edges[b];
      const uint32_t stop = band_end > j && band_end < end ? band_end : band_end > j ? end : j + 1;
      for (; j < stop; ++j) x[j] *= q;
    }
  }
  audio_bits_seek(r, pos);
}

float audio_read_float29(AudioBitReader* r) {
  const uint32_t v = audio_read_bits(r, 29);
  const uint32_t e = v & 31, mantissa = (v >> 5) & 0x7FFFFF;
  const float mag = e < 24 ? float(double(mantissa) * kAudioExponentScale[e]) : 0.0f;
  return (v >> 28) & 1 ? -mag : mag;
}

uint32_t audio_block_length(uint32_t sample_rate) {
  return sample_rate >= 44100 ? 2048 : sample_rate >= 22050 ? 1024 : 512;
}

float audio_quantiser(uint32_t code) { return quantisers()[code & 255]; }

AudioDecoder* audio_decoder_open(uint32_t sample_rate, uint32_t channels, bool use_dct) {
  if (channels != 1 && channels != 2) return nullptr;
  if (sample_rate < 2) return nullptr;
  const uint32_t d = audio_block_length(sample_rate);
  const uint32_t block_bytes = d * channels * 2;
  const uint32_t n = use_dct ? d : d * channels;
  const uint64_t band_rate = use_dct ? sample_rate : uint64_t(sample_rate) * channels;
  const uint32_t half = n / 2;
  const uint64_t nyquist = (band_rate + 1) / 2;
  uint32_t band_count = 0;
  while (band_count < kAudioMaxBands && kAudioBandHz[band_count] < nyquist) ++band_count;

  const size_t sizes_entries = audio_transform_sizes_entries(n);
  const size_t table_entries = use_dct ? audio_dct_table_entries(n) : audio_rdft_table_entries(n);
  const size_t at_pcm = round32(sizeof(AudioDecoder));
  const size_t at_edges = at_pcm + round32(block_bytes);
  const size_t at_sizes = at_edges + round32(4 * (band_count + 1));
  const size_t at_table = at_sizes + round32(sizeof(int) * sizes_entries);
  const size_t at_overlap = at_table + round32(sizeof(float) * table_entries);
  const size_t total = at_overlap + round32(block_bytes / 2);
  uint8_t* base = static_cast<uint8_t*>(aligned_alloc32(total));
  if (!base) return nullptr;
  std::memset(base, 0, total);

  AudioDecoder* dec = reinterpret_cast<AudioDecoder*>(base);
  dec->transform_length = n;
  dec->output_scale = float(2.0 / std::sqrt(double(n)));
  dec->block_bytes = block_bytes;
  dec->overlap_bytes = block_bytes >> 4;
  dec->coded_channels = use_dct ? channels : 1;
  dec->pcm = reinterpret_cast<int16_t*>(base + at_pcm);
  dec->first_block = 1;
  dec->band_count = band_count;
  dec->band_edges = reinterpret_cast<uint32_t*>(base + at_edges);
  dec->transform_sizes = reinterpret_cast<int*>(base + at_sizes);
  dec->transform_table = reinterpret_cast<float*>(base + at_table);
  dec->overlap = reinterpret_cast<int16_t*>(base + at_overlap);
  dec->flags = use_dct ? kAudioFlagDct : 0;
  audio_fill_functions(&dec->fn, cpu_level());
  dec->transform = use_dct ? dec->fn.dct : dec->fn.rdft;
  dec->channels = channels;
  dec->sample_rate = sample_rate;
  for (uint32_t b = 0; b < band_count; ++b) {
    const uint32_t e = uint32_t(uint64_t(kAudioBandHz[b]) * half / nyquist);  // nyquist ≥ 1 here
    dec->band_edges[b] = e ? e : 1;
  }
  dec->band_edges[band_count] = half;
  dec->transform_sizes[0] = 0;
  return dec;
}

void audio_decoder_close(AudioDecoder* d) { aligned_free32(d); }

bool audio_decode_block(AudioDecoder* d, const uint8_t* block, size_t size, const int16_t** pcm,
                        uint32_t* pcm_bytes, const uint8_t** next_block) {
  alignas(32) float work[kAudioMaxTransform];
  const uint32_t n = d->transform_length;
  const bool dct = d->flags & kAudioFlagDct;
  const float* quant_table = quantisers();
  AudioBitReader r;
  audio_bits_init(&r, block, size);
  if (dct) audio_read_bits(&r, 2);  // the first word's two lowest bits carry nothing

  for (uint32_t c = 0; c < d->coded_channels; ++c) {
    float* x = work + c * n;
    x[0] = audio_read_float29(&r);
    x[1] = audio_read_float29(&r);
    float quant[kAudioMaxBands];
    for (uint32_t b = 0; b < d->band_count; ++b) quant[b] = quant_table[audio_read_bits(&r, 8)];
    d->fn.coefficients(&r, x, n, d->band_edges, quant);
    d->transform(int(n), dct ? 1 : -1, x, d->transform_sizes, d->transform_table);
  }

  int16_t* out = d->pcm;
  d->fn.to_pcm(work, d->coded_channels == 2 ? work + n : nullptr, n, d->output_scale, out);

  // Cross-fade the start with the previous tail: floor((old × (L − i) + new × i) / L), L a
  // power of two (32 to 256), so the floor division is an arithmetic shift.
  const uint32_t count = d->overlap_bytes / 2;
  if (d->first_block) {
    d->first_block = 0;
  } else {
    uint32_t shift = 0;
    while ((1u << shift) < count) ++shift;
    const int32_t l = int32_t(count);
    for (int32_t i = 0; i < l; ++i)
      out[i] = int16_t((int32_t(d->overlap[i]) * (l - i) + int32_t(out[i]) * i) >> shift);
  }
  const uint32_t delivered = d->block_bytes - d->overlap_bytes;
  std::memcpy(d->overlap, reinterpret_cast<const uint8_t*>(out) + delivered, d->overlap_bytes);

  const uint64_t words = (audio_bits_consumed(&r) + 31) / 32;
  const bool inside = words * 4 <= size;
  if (pcm) *pcm = out;
  if (pcm_bytes) *pcm_bytes = delivered;
  if (next_block) *next_block = inside ? block + words * 4 : block + size;
  return inside;
}

void audio_packet_begin(AudioPacketCursor* c, const uint8_t* packet, size_t size) {
  if (size < 4) {
    c->next = c->end = packet + size;
    c->remaining = 0;
    return;
  }
  c->remaining = load_le32(packet);
  c->next = packet + 4;
  c->end = packet + size;
}

bool audio_packet_next(AudioDecoder* d, AudioPacketCursor* c, const int16_t** pcm, uint32_t* bytes) {
  if (c->remaining == 0 || c->next >= c->end) return false;
  uint32_t got = 0;
  audio_decode_block(d, c->next, size_t(c->end - c->next), pcm, &got, &c->next);
  const uint32_t take = got < c->remaining ? got : c->remaining;
  c->remaining -= take;
  if (bytes) *bytes = take;
  return true;
}
