// The .krv container: header, track tables, frame index and frame layout.
//
// A movie is a 44-byte header, three arrays of T 32-bit words (audio buffer sizes, audio
// header words, track identifiers), a frame index of F + 1 words, then the frames. Every
// offset counts from the movie's own header, wherever the movie lies (alone in a file,
// appended to an executable, at an offset in another file, or in memory).
//
// All functions check every count against the bytes they are given and return an error text
// (null on success) instead of reading outside them.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint32_t kContainerHeaderBytes = 44;
// Largest picture side accepted (either axis), so that plane sizes stay well inside 32 bits.
constexpr uint32_t kContainerMaxSide = 16384;

// Audio header word bits.
constexpr uint32_t kAudioWordRateMask = 0xffff;
constexpr uint32_t kAudioWordDct = 0x10000000;
constexpr uint32_t kAudioWordStereo = 0x20000000;
constexpr uint32_t kAudioWordSixteenBit = 0x40000000;
constexpr uint32_t kAudioWordRdft = 0x80000000;

// Movie flag bits of the header.
constexpr uint32_t kMovieFlagGrey = 0x00020000;
constexpr uint32_t kMovieFlagAlpha = 0x00100000;
constexpr uint32_t kMovieFlagDoublingMask = 0x70000000;

struct ContainerHeader {
  uint8_t version;  // 'f', 'g', 'h' or 'i'
  uint32_t size_field;  // movie size minus 8
  uint32_t frame_count;
  uint32_t largest_frame;  // as stored (may be too small; see ContainerInfo)
  uint32_t index_frames;
  uint32_t width, height;
  uint32_t rate_num, rate_den;
  uint32_t flags;
  uint32_t track_count;
};

// Values derived from the header and the index.
struct ContainerInfo {
  uint32_t first_frame;      // offset of frame 0 = 44 + 12 T + 4 (F + 1)
  uint32_t movie_bytes;      // size field + 8
  uint32_t frame_ms;         // 1000 × den / num; 0 when the movie has no frame rate (num = 0)
  uint32_t fps_rounded;      // (num + den / 2) / den, at least 1
  uint32_t data_bytes;       // size field − first frame offset
  uint32_t preload_bytes;    // size field + 8 − first frame offset
  uint32_t largest_frame;    // the real largest frame of the index (≥ nothing stored)
  uint32_t peak_second_bytes;
  uint32_t peak_second_frame;  // 0-based frame where the peak second starts
  bool all_key_frames;
};

// Parses the 44 header bytes `p` (n must be at least 44) and checks every field that can be
// checked without the rest of the file. Returns null or an error text.
const char* container_parse_header(const uint8_t* p, size_t n, ContainerHeader* h);

// Offset of the first track array (44) and of the frame index, and the byte count of the
// three track arrays plus the index that follow the header.
inline uint32_t container_index_offset(const ContainerHeader* h) { return 44 + 12 * h->track_count; }
inline uint32_t container_tables_bytes(const ContainerHeader* h) {
  return 12 * h->track_count + 4 * (h->frame_count + 1);
}

// Checks the frame index (F + 1 little-endian words at `index`, the bytes exactly as stored)
// against the header and `available` bytes of movie actually present (counted from the header;
// pass the movie size when unknown) and fills the derived values.
const char* container_check_index(const ContainerHeader* h, const uint8_t* index,
                                  uint64_t available, ContainerInfo* info);

// Index entry i as stored (bit 0 is the key-frame flag for i < F).
uint32_t container_index_entry(const uint8_t* index, uint32_t i);

// A movie wholly in memory (`data` is its header), parsed and checked.
struct ContainerView {
  const uint8_t* data;
  size_t size;  // bytes available from the header on
  ContainerHeader header;
  ContainerInfo info;
  const uint8_t* track_buffer_bytes;  // T words
  const uint8_t* track_words;         // T words
  const uint8_t* track_ids;           // T words
  const uint8_t* index;               // F + 1 words
};
const char* container_open_view(const uint8_t* data, size_t size, ContainerView* v);

inline uint32_t container_track_buffer_bytes(const ContainerView* v, uint32_t t);
inline uint32_t container_track_word(const ContainerView* v, uint32_t t);
inline uint32_t container_track_id(const ContainerView* v, uint32_t t);

// Frame i (0-based) of a view: its bytes and key-frame flag; false when i ≥ F.
bool container_frame(const ContainerView* v, uint32_t i, const uint8_t** bytes, uint32_t* size,
                     bool* key);

// Within one frame's bytes: the audio packet of track t (after its 4-byte length; size 0 when
// the track has no sound this frame) and the video packet (the rest). Both return an error text
// when a packet length runs past the frame.
const char* container_audio_packet(const uint8_t* frame, uint32_t frame_size, uint32_t track_count,
                                   uint32_t t, const uint8_t** packet, uint32_t* packet_size);
const char* container_video_packet(const uint8_t* frame, uint32_t frame_size, uint32_t track_count,
                                   const uint8_t** packet, uint32_t* packet_size);

#include "base/bytes.h"
inline uint32_t container_track_buffer_bytes(const ContainerView* v, uint32_t t) { return load_le32(v->track_buffer_bytes + 4 * t); }
inline uint32_t container_track_word(const ContainerView* v, uint32_t t) { return load_le32(v->track_words + 4 * t); }
inline uint32_t container_track_id(const ContainerView* v, uint32_t t) { return load_le32(v->track_ids + 4 * t); }
