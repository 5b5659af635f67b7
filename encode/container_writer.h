// Writes whole .krv movies from given packets: the header, the three track arrays, the index
// with its key-frame bits, and the frames (each track's packet with its length, then the video).
#pragma once
#include <cstdint>
#include <vector>

struct WriterTrack {
  uint32_t buffer_bytes = 0;  // 0: computed as the largest decoded-byte count of the packets
  uint32_t header_word = 0;   // audio header word (rate | kAudioWord... bits)
  uint32_t id = 0;            // track identifier
};

struct WriterFrame {
  std::vector<std::vector<uint8_t>> audio;  // one packet per track (missing or empty: length 0)
  std::vector<uint8_t> video;
  bool key = true;
};

struct MovieDescription {
  uint8_t version = 'i';
  uint32_t width = 16, height = 16;
  uint32_t rate_num = 10, rate_den = 1;
  uint32_t flags = 0;
  std::vector<WriterTrack> tracks;
  std::vector<WriterFrame> frames;
};

// The movie's bytes. The size field, frame count, largest frame and index are computed.
std::vector<uint8_t> container_write(const MovieDescription& d);
