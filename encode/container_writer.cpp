#include "encode/container_writer.h"

#include "base/bytes.h"

namespace {

void put32(std::vector<uint8_t>* out, uint32_t v) {
  size_t at = out->size();
  out->resize(at + 4);
  store_le32(out->data() + at, v);
}

}  // namespace

std::vector<uint8_t> container_write(const MovieDescription& d) {
  const uint32_t tracks = uint32_t(d.tracks.size());
  const uint32_t frames = uint32_t(d.frames.size());
  std::vector<uint8_t> out;
  out.resize(44);

  std::vector<uint32_t> buffer_bytes(tracks);
  for (uint32_t t = 0; t < tracks; ++t) {
    buffer_bytes[t] = d.tracks[t].buffer_bytes;
    if (buffer_bytes[t] == 0)
      for (const WriterFrame& f : d.frames)
        if (t < f.audio.size() && f.audio[t].size() >= 4 && load_le32(f.audio[t].data()) > buffer_bytes[t])
          buffer_bytes[t] = load_le32(f.audio[t].data());
  }
  for (uint32_t t = 0; t < tracks; ++t) put32(&out, buffer_bytes[t]);
  for (uint32_t t = 0; t < tracks; ++t) put32(&out, d.tracks[t].header_word);
  for (uint32_t t = 0; t < tracks; ++t) put32(&out, d.tracks[t].id);

  const size_t index_at = out.size();
  out.resize(index_at + 4 * (size_t(frames) + 1));
  uint32_t largest = 0;
  for (uint32_t i = 0; i < frames; ++i) {
    const WriterFrame& f = d.frames[i];
    uint32_t start = uint32_t(out.size());
    store_le32(out.data() + index_at + 4 * i, start | (f.key ? 1u : 0u));
    for (uint32_t t = 0; t < tracks; ++t) {
      static const std::vector<uint8_t> kNone;
      const std::vector<uint8_t>& p = t < f.audio.size() ? f.audio[t] : kNone;
      put32(&out, uint32_t(p.size()));
      out.insert(out.end(), p.begin(), p.end());
    }
    out.insert(out.end(), f.video.begin(), f.video.end());
    // Frames start at even offsets: bit 0 of an index entry is the key-frame flag.
    if (out.size() & 1) out.push_back(0);
    uint32_t size = uint32_t(out.size()) - start;
    if (size > largest) largest = size;
  }
  store_le32(out.data() + index_at + 4 * frames, uint32_t(out.size()));

  uint8_t* h = out.data();
  h[0] = 'K'; h[1] = 'R'; h[2] = 'V'; h[3] = d.version;
  store_le32(h + 4, uint32_t(out.size()) - 8);
  store_le32(h + 8, frames);
  store_le32(h + 12, largest);
  store_le32(h + 16, frames);
  store_le32(h + 20, d.width);
  store_le32(h + 24, d.height);
  store_le32(h + 28, d.rate_num);
  store_le32(h + 32, d.rate_den);
  store_le32(h + 36, d.flags);
  store_le32(h + 40, tracks);
  return out;
}
