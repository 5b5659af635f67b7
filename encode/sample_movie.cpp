#include "encode/sample_movie.h"

#include <cmath>

#include "audio/audio_decoder.h"
#include "container/container.h"
#include "base/bytes.h"
#include "encode/audio_writer.h"
#include "encode/container_writer.h"
#include "encode/video_plane_writer.h"
#include "encode/video_sample_streams.h"
#include "video/video_decoder.h"

namespace {

// One plane: every block a fill of `value`, or (inter frames) skips with one moving block.
bool write_plane(uint32_t w, uint32_t h, uint32_t scale, uint32_t stride, bool key, uint8_t value,
                 uint32_t moving_block, uint32_t flags, std::vector<uint8_t>* out) {
  VideoPlaneDesc d;
  d.width = w;
  d.height = h;
  d.scale = scale;
  const uint32_t cols = w / 8, rows = h / 8;
  uint32_t n = 0;
  for (uint32_t r = 0; r < rows; ++r) {
    std::vector<VideoBlock> row;
    for (uint32_t c = 0; c < cols; ++c, ++n)
      row.push_back(key || n == moving_block % (cols * rows) ? video_fill(key ? value : uint8_t(255 - value))
                                                             : video_skip());
    d.rows.push_back(row);
  }
  VideoPlaneOptions o;
  o.buffer_stride = stride;
  return video_write_plane(d, flags, o, out);
}

}  // namespace

std::vector<uint8_t> sample_movie_write(const SampleMovieSpec& s) {
  VideoFrameSizes vs;
  if (!video_frame_sizes(s.width, s.height, &vs) || !s.frames || !s.rate_den) return {};
  if (s.content > 3 || (s.content && s.version != 'i')) return {};
  std::mt19937 rng(12345);
  const VideoSampleKind kinds[4] = {kSampleFlat, kSampleTypical, kSampleIntra, kSampleFlat};
  MovieDescription d;
  d.version = s.version;
  d.width = s.width;
  d.height = s.height;
  d.rate_num = s.rate_num;
  d.rate_den = s.rate_den;
  const uint32_t old_colours = s.version == 'i' ? 0 : 0x8000;

  // Sound: a tone over the whole movie per track, cut into blocks, the blocks shared out over
  // the frames.
  if (s.tracks < 1 || s.tracks > 2) return {};
  std::vector<std::vector<uint8_t>> track_blocks[2];
  uint32_t pcm_bytes = 0;
  for (uint32_t t = 0; s.audio_rate && t < s.tracks; ++t) {
    std::vector<std::vector<uint8_t>>& blocks = track_blocks[t];
    const double tone = t ? s.tone_hz * 1.5 : s.tone_hz;
    AudioDecoder* layout = audio_decoder_open(s.audio_rate, s.audio_channels, s.audio_dct);
    if (!layout) return {};
    const uint64_t total = s.rate_num ? uint64_t(s.frames) * s.audio_rate * s.rate_den / s.rate_num : s.audio_rate;
    std::vector<int16_t> pcm(size_t(total) * s.audio_channels);
    for (size_t i = 0; i < total; ++i)
      for (uint32_t c = 0; c < s.audio_channels; ++c)
        pcm[i * s.audio_channels + c] =
            int16_t(8000 * std::sin(2 * 3.14159265358979 * tone * double(i) / s.audio_rate + c));
    blocks = audio_encode_signal(layout, pcm.data(), uint32_t(total), 2000);
    pcm_bytes = layout->block_bytes - layout->overlap_bytes;
    audio_decoder_close(layout);
    uint32_t word = s.audio_rate | (s.audio_dct ? kAudioWordDct : kAudioWordRdft) |
                    (s.audio_channels == 2 ? kAudioWordStereo : 0) | (s.audio_16bit ? kAudioWordSixteenBit : 0);
    // A ring of about a second: room for the sound queued ahead of the picture.
    d.tracks.push_back({s.audio_rate * s.audio_channels * 2, word, s.track_id + t});
  }

  size_t next_block[2] = {0, 0};
  for (uint32_t i = 0; i < s.frames; ++i) {
    WriterFrame f;
    f.key = s.key_every <= 1 || i % s.key_every == 0;
    if (s.content) {
      f.video = video_sample_packet(rng, kinds[s.content], s.width, s.height, f.key);
      if (f.video.empty()) return {};
    }
    const uint8_t value = uint8_t(16 + (i * 37) % 224);
    VideoPacketPlanes p;
    if (!s.content) {
      if (!write_plane(vs.luma_width, vs.luma_rows, 1, vs.luma_stride, f.key, value, i, old_colours, &p.luma)) return {};
      const uint32_t cw = (vs.luma_width / 2 + 7) / 8 * 8, ch = (vs.luma_rows / 2 + 7) / 8 * 8;
      if (!write_plane(cw, ch, 2, vs.luma_stride, f.key, uint8_t(128 + i), i, old_colours, &p.chroma1)) return {};
      if (!write_plane(cw, ch, 2, vs.luma_stride, f.key, uint8_t(128 - i), i, old_colours, &p.chroma2)) return {};
      f.video = video_write_packet(p, old_colours);
    }
    for (uint32_t t = 0; t < 2 && !track_blocks[t].empty(); ++t) {
      // This frame's share of the sound: the blocks that end the sound up to its end, plus a
      // lead of three quarters of a second, so that the sound output has a start on the picture.
      const std::vector<std::vector<uint8_t>>& blocks = track_blocks[t];
      size_t& next = next_block[t];
      const uint64_t lead = uint64_t(s.audio_rate) * 3 / 4;
      const uint64_t want = (s.rate_num ? uint64_t(i + 1) * s.audio_rate * s.rate_den / s.rate_num : 0) + lead;
      const uint64_t hop = pcm_bytes / (2 * s.audio_channels);
      std::vector<std::vector<uint8_t>> mine;
      while (next < blocks.size() && (next + 1) * hop <= want + hop / 2) mine.push_back(blocks[next++]);
      if (i + 1 == s.frames)
        while (next < blocks.size()) mine.push_back(blocks[next++]);
      f.audio.push_back(mine.empty() ? std::vector<uint8_t>() : audio_write_packet(uint32_t(mine.size() * pcm_bytes), mine));
    }
    d.frames.push_back(f);
  }
  return container_write(d);
}
