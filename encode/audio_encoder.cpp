#include "encode/audio_encoder.h"

#include <algorithm>
#include <cmath>

#include "audio/audio_transform.h"
#include "container/container.h"
#include "encode/audio_writer.h"
#include "encode/bit_writer.h"

namespace {

// Quantiser codes step by 10^0.0664 (about 0.66 dB of amplitude) each.
constexpr double kCodeStepLog10 = 0.0664;
// Magnitudes round down a little (|x| / q + 0.4): the many values near a half step cost a bit
// or two each as a 1 and gain little.
constexpr double kRoundOffset = 0.4;
// Share of a neighbouring band's energy that masks a band: more from the band below.
constexpr double kSpreadFromBelow = 0.25, kSpreadFromAbove = 0.1;
// The global offset of the codes ranges over more than the 256 codes on either side.
constexpr int kOffsetFinest = -400, kOffsetCoarsest = 400;

struct BandPlan {
  uint32_t from = 0, to = 0;  // coefficients from .. to − 1
  double base = 0;            // code of the band at offset 0, before rounding
  uint32_t min_code = 0;      // keeps the band's largest magnitude within 15 bits
  bool silent = true;
};

// The state of coding one block.
struct BlockPlan {
  const AudioDecoder* layout;
  std::vector<float> spectrum;  // coded_channels × n
  BandPlan bands[2][kAudioMaxBands];
  AudioChannelCodes codes[2];
};

void plan_bands(BlockPlan* p) {
  const AudioDecoder* l = p->layout;
  const uint32_t n = l->transform_length;
  for (uint32_t c = 0; c < l->coded_channels; ++c) {
    const float* a = p->spectrum.data() + size_t(c) * n;
    double energy[kAudioMaxBands] = {};
    for (uint32_t b = 0; b < l->band_count; ++b) {
      BandPlan& bp = p->bands[c][b];
      bp = BandPlan();
      bp.from = std::max(2u, 2 * l->band_edges[b]);
      bp.to = std::max(bp.from, 2 * l->band_edges[b + 1]);
      double sum = 0, peak = 0;
      for (uint32_t j = bp.from; j < bp.to; ++j) {
        sum += double(a[j]) * a[j];
        peak = std::max(peak, std::fabs(double(a[j])));
      }
      energy[b] = bp.to > bp.from ? sum / (bp.to - bp.from) : 0;
      bp.silent = !(peak > 0);
      bp.min_code = bp.silent ? 0 : audio_quantiser_code_at_least(float(peak / 32766.0));
    }
    for (uint32_t b = 0; b < l->band_count; ++b) {
      BandPlan& bp = p->bands[c][b];
      if (bp.silent) continue;
      double spread = energy[b];
      if (b > 0) spread += kSpreadFromBelow * energy[b - 1];
      if (b + 1 < l->band_count) spread += kSpreadFromAbove * energy[b + 1];
      // Allowed noise g × spread^α; a uniform quantiser's noise is q² / 12, so
      // log10 q = (α log10 spread + log10 12g) / 2, the constant part being the offset.
      bp.base = 0.5 * kAudioMaskExponent * std::log10(spread) / kCodeStepLog10;
    }
  }
}

// Codes every channel at global offset s; returns the block's size in bits (whole words).
uint64_t quantise_at(BlockPlan* p, int s, std::vector<uint8_t>* block) {
  const AudioDecoder* l = p->layout;
  const uint32_t n = l->transform_length;
  for (uint32_t c = 0; c < l->coded_channels; ++c) {
    const float* a = p->spectrum.data() + size_t(c) * n;
    AudioChannelCodes& codes = p->codes[c];
    codes.x0 = audio_float29_value(a[0]);
    codes.x1 = audio_float29_value(a[1]);
    codes.coefficients.assign(n, 0);
    for (uint32_t b = 0; b < l->band_count; ++b) {
      const BandPlan& bp = p->bands[c][b];
      if (bp.silent) {
        codes.band_codes[b] = 0;
        continue;
      }
      const long want = std::lround(bp.base + s);
      const uint32_t code = uint32_t(std::clamp<long>(want, long(bp.min_code), 255));
      codes.band_codes[b] = uint8_t(code);
      const double q = audio_quantiser(code);
      for (uint32_t j = bp.from; j < bp.to; ++j) {
        const double m = std::min(32767.0, std::floor(std::fabs(double(a[j])) / q + kRoundOffset));
        codes.coefficients[j] = a[j] < 0 ? -int32_t(m) : int32_t(m);
      }
    }
  }
  std::vector<uint8_t> bytes = audio_write_block(l, p->codes);
  const uint64_t bits = uint64_t(bytes.size()) * 8;
  if (block) *block = std::move(bytes);
  return bits;
}

std::vector<uint8_t> encode_block(BlockPlan* p, const int16_t* samples, uint32_t budget_bits, int* sizes,
                                  float* table, uint64_t* bits) {
  const AudioDecoder* l = p->layout;
  const uint32_t n = l->transform_length;
  p->spectrum.resize(size_t(n) * l->coded_channels);
  for (uint32_t c = 0; c < l->coded_channels; ++c)
    audio_forward_spectrum(l, samples, c, p->spectrum.data() + size_t(c) * n, sizes, table);
  plan_bands(p);
  // The finest offset that fits: cost falls as the offset grows (coarser quantisers).
  int lo = kOffsetFinest, hi = kOffsetCoarsest;
  std::vector<uint8_t> block;
  if (quantise_at(p, lo, nullptr) <= budget_bits) {
    hi = lo;
  } else {
    while (hi - lo > 1) {
      const int mid = lo + (hi - lo) / 2;
      if (quantise_at(p, mid, nullptr) <= budget_bits) hi = mid;
      else lo = mid;
    }
  }
  *bits = quantise_at(p, hi, &block);
  return block;
}

}  // namespace

uint32_t audio_block_budget(const AudioDecoder* layout, double kbps) {
  const uint32_t d = layout->block_bytes / 2 / layout->channels;
  const double hop = d - d / 16;
  const double bits = kbps * 1000.0 * hop / layout->sample_rate;
  return bits > 0 ? uint32_t(std::min(bits, 4.0e9)) : 0;
}

std::vector<uint8_t> audio_encode_block_budget(const AudioDecoder* layout, const int16_t* samples,
                                               uint32_t budget_bits) {
  const uint32_t n = layout->transform_length;
  std::vector<int> sizes(audio_transform_sizes_entries(n), 0);
  std::vector<float> table(audio_dct_table_entries(n));
  BlockPlan plan;
  plan.layout = layout;
  uint64_t bits;
  return encode_block(&plan, samples, budget_bits, sizes.data(), table.data(), &bits);
}

std::vector<std::vector<uint8_t>> audio_encode_signal_kbps(const AudioDecoder* layout, const int16_t* pcm,
                                                           uint32_t frames, double kbps) {
  if (!(kbps > 0)) return audio_encode_signal(layout, pcm, frames, kAudioDefaultPeakCode);
  const uint32_t n = layout->transform_length;
  const uint32_t ch = layout->channels;
  const uint32_t d = layout->block_bytes / 2 / ch;
  const uint32_t hop = d - d / 16;
  std::vector<int> sizes(audio_transform_sizes_entries(n), 0);
  std::vector<float> table(audio_dct_table_entries(n));
  BlockPlan plan;
  plan.layout = layout;
  const int64_t nominal = audio_block_budget(layout, kbps);
  int64_t carry = 0;  // bits saved (positive) or overspent (negative) so far, within half a block
  std::vector<std::vector<uint8_t>> blocks;
  std::vector<int16_t> block(size_t(d) * ch);
  for (uint32_t start = 0; start < frames; start += hop) {
    for (uint32_t i = 0; i < d; ++i)
      for (uint32_t c = 0; c < ch; ++c)
        block[size_t(i) * ch + c] = start + i < frames ? pcm[(size_t(start) + i) * ch + c] : 0;
    const int64_t budget = std::max<int64_t>(0, nominal + carry);
    uint64_t bits = 0;
    blocks.push_back(encode_block(&plan, block.data(), uint32_t(budget), sizes.data(), table.data(), &bits));
    carry = std::clamp<int64_t>(carry + nominal - int64_t(bits), -nominal / 2, nominal / 2);
  }
  return blocks;
}

std::vector<std::vector<uint8_t>> audio_share_packets(const AudioDecoder* layout,
                                                      const std::vector<std::vector<uint8_t>>& blocks,
                                                      uint32_t frames, uint32_t rate_num, uint32_t rate_den) {
  const uint32_t rate = layout->sample_rate;
  const uint32_t pcm_bytes = layout->block_bytes - layout->overlap_bytes;
  const uint64_t lead = uint64_t(rate) * 3 / 4, hop = pcm_bytes / (2 * layout->channels);
  std::vector<std::vector<uint8_t>> packets;
  if (!rate_num) return packets;
  size_t next = 0;
  for (uint32_t i = 0; i < frames; ++i) {
    const uint64_t want = uint64_t(i + 1) * rate * rate_den / rate_num + lead;
    std::vector<std::vector<uint8_t>> mine;
    while (next < blocks.size() && (next + 1) * hop <= want + hop / 2) mine.push_back(blocks[next++]);
    if (i + 1 == frames)
      while (next < blocks.size()) mine.push_back(blocks[next++]);
    packets.push_back(mine.empty() ? std::vector<uint8_t>() : audio_write_packet(uint32_t(mine.size() * pcm_bytes), mine));
  }
  return packets;
}

std::vector<std::vector<uint8_t>> audio_track_packets(const std::vector<int16_t>& pcm, uint32_t rate,
                                                      uint32_t channels, bool dct, double kbps, uint32_t frames,
                                                      uint32_t rate_num, uint32_t rate_den, uint32_t* word) {
  AudioDecoder* layout = audio_decoder_open(rate, channels, dct);
  if (!layout || !rate_num) {
    audio_decoder_close(layout);
    return {};
  }
  const uint32_t samples = uint32_t(pcm.size() / channels);
  const std::vector<std::vector<uint8_t>> blocks = audio_encode_signal_kbps(layout, pcm.data(), samples, kbps);
  std::vector<std::vector<uint8_t>> packets = audio_share_packets(layout, blocks, frames, rate_num, rate_den);
  audio_decoder_close(layout);
  *word = rate | (dct ? kAudioWordDct : kAudioWordRdft) | (channels == 2 ? kAudioWordStereo : 0) | kAudioWordSixteenBit;
  return packets;
}

double audio_snr_db(const int16_t* ref, const int16_t* got, size_t count) {
  double sig = 0, err = 0;
  for (size_t i = 0; i < count; ++i) {
    const double r = ref[i], e = r - got[i];
    sig += r * r;
    err += e * e;
  }
  if (!(err > 0)) return 99;
  if (!(sig > 0)) return -99;
  return 10 * std::log10(sig / err);
}

bool audio_track_quality(const std::vector<int16_t>& pcm, uint32_t rate, uint32_t channels, bool dct,
                         const std::vector<std::vector<uint8_t>>& packets, AudioTrackQuality* out) {
  AudioDecoder* d = audio_decoder_open(rate, channels, dct);
  if (!d) return false;
  std::vector<int16_t> got;
  got.reserve(pcm.size() + d->block_bytes);
  uint64_t bytes = 0;
  for (const std::vector<uint8_t>& p : packets) {
    bytes += p.size();
    AudioPacketCursor cur;
    audio_packet_begin(&cur, p.data(), p.size());
    const int16_t* samples;
    uint32_t n;
    while (audio_packet_next(d, &cur, &samples, &n)) got.insert(got.end(), samples, samples + n / 2);
  }
  audio_decoder_close(d);
  // Sound the packets do not reach counts as silence.
  if (got.size() < pcm.size()) got.resize(pcm.size(), 0);
  const double seconds = double(pcm.size() / channels) / rate;
  out->kbps = seconds > 0 ? double(bytes) * 8 / 1000 / seconds : 0;
  out->snr_db = audio_snr_db(pcm.data(), got.data(), pcm.size());
  return true;
}
