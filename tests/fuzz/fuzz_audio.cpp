// Audio packets of every set-up. The first byte picks the sample rate, the channel count and
// the transform; the rest is one packet (count word, then blocks), copied into a heap block of
// exactly its size so that any read past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "audio/audio_decoder.h"

namespace {
const uint32_t kRates[16] = {0, 1, 2, 4000, 8000, 11025, 16000, 22049,
                             22050, 32000, 44099, 44100, 48000, 96000, 65535, 300};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t pick = data[0];
  const uint32_t rate = kRates[pick & 15] & 0xffff;
  const uint32_t channels = (pick & 0x10) ? 2 : 1;
  const bool dct = pick & 0x20;
  AudioDecoder* d = audio_decoder_open(rate, channels, dct);
  if (!d) return 0;
  const size_t n = size - 1;
  std::unique_ptr<uint8_t[]> packet(new uint8_t[n]);
  if (n) std::memcpy(packet.get(), data + 1, n);

  // As the frame decoder walks it.
  AudioPacketCursor cur;
  audio_packet_begin(&cur, packet.get(), n);
  const int16_t* pcm = nullptr;
  uint32_t bytes = 0;
  uint32_t sum = 0;
  while (audio_packet_next(d, &cur, &pcm, &bytes)) {
    if (bytes > d->block_bytes) __builtin_trap();
    for (uint32_t i = 0; i < bytes / 2; ++i) sum += uint16_t(pcm[i]);
    if (cur.next < packet.get() || cur.next > packet.get() + n) __builtin_trap();
  }
  // And the same bytes as one block without a count.
  const uint8_t* next = nullptr;
  audio_decode_block(d, packet.get(), n, &pcm, &bytes, &next);
  if (next < packet.get() || next > packet.get() + n || ((next - packet.get()) % 4 && next != packet.get() + n))
    __builtin_trap();
  audio_decoder_close(d);
  return int(sum & 0);
}
