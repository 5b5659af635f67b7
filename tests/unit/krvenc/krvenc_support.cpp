#include "krvenc_test.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/wait.h>

#include "audio/audio_decoder.h"
#include "base/bytes.h"
#include "video/video_decoder.h"

Picture420 test_clip_frame(uint32_t w, uint32_t h, uint32_t i, uint32_t seed) {
  Picture420 p;
  p.width = w;
  p.height = h;
  const uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
  p.y.resize(size_t(w) * h);
  p.cb.resize(size_t(cw) * ch);
  p.cr.resize(size_t(cw) * ch);
  const double bx = 10 + 3.0 * i, by = 8 + 2.0 * i, phase = seed * 1.7;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      double v = 120 + 60 * std::sin((x + 2.0 * i) * 0.09 + phase) * std::cos((y + i) * 0.07) +
                 15 * std::sin(x * 0.5 + y * 0.3 + phase);
      const double dx = x - bx, dy = y - by;
      if (dx * dx + dy * dy < 64) v = 230 - 3 * dx;
      p.y[size_t(y) * w + x] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
    }
  for (uint32_t y = 0; y < ch; ++y)
    for (uint32_t x = 0; x < cw; ++x) {
      p.cb[size_t(y) * cw + x] = uint8_t(128 + 50 * std::sin((x + i) * 0.15 + phase));
      p.cr[size_t(y) * cw + x] = uint8_t(128 + 50 * std::cos((y + i) * 0.11 - phase));
    }
  return p;
}

Picture420 test_camera_frame(uint32_t w, uint32_t h, uint32_t i, uint32_t seed) {
  Picture420 p;
  p.width = w;
  p.height = h;
  const uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
  p.y.resize(size_t(w) * h);
  p.cb.resize(size_t(cw) * ch);
  p.cr.resize(size_t(cw) * ch);
  // Detail down to 2.5 pixels a cycle, seen through a camera that pans by fractions of a pixel
  // and zooms in a little every frame.
  const double zoom = 1 + 0.002 * i, ox = 0.37 * i + seed * 5.3, oy = 0.19 * i;
  auto scene = [&](double x, double y, int c) {
    const double u = (x - w / 2.0) / zoom + w / 2.0 + ox, v = (y - h / 2.0) / zoom + h / 2.0 + oy;
    return 128 + 40 * std::sin(u * 0.11 + c) * std::cos(v * 0.07 - c) + 18 * std::sin(u * 0.9 + v * 1.7 + c) +
           14 * std::sin(u * 2.3 - v * 0.6) * std::cos(v * 2.1 + c) + 10 * std::sin(u * 0.4 - v * 2.4);
  };
  uint32_t state = seed * 2654435761u + i * 40503u + 1;
  auto grain = [&] {
    state = state * 1664525u + 1013904223u;
    return double(state >> 29) - 3.5;  // about ±3.5, a light grain
  };
  auto clamp8 = [](double v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v + 0.5); };
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) p.y[size_t(y) * w + x] = clamp8(scene(x, y, 0) + 0.4 * grain());
  for (uint32_t y = 0; y < ch; ++y)
    for (uint32_t x = 0; x < cw; ++x) {
      p.cb[size_t(y) * cw + x] = clamp8(128 + 0.4 * (scene(2.0 * x + 0.5, 2.0 * y + 0.5, 1) - 128));
      p.cr[size_t(y) * cw + x] = clamp8(128 + 0.4 * (scene(2.0 * x + 0.5, 2.0 * y + 0.5, 2) - 128));
    }
  return p;
}

std::string test_y4m(const std::vector<Picture420>& frames, const char* tag, const char* rate) {
  const uint32_t w = frames[0].width, h = frames[0].height, cw = (w + 1) / 2;
  std::string s = "YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) + " F" + rate + " Ip A1:1 C" + tag + "\n";
  const std::string t = tag;
  for (const Picture420& p : frames) {
    s += "FRAME\n";
    s.append(p.y.begin(), p.y.end());
    if (t == "mono") continue;
    for (const std::vector<uint8_t>* c : {&p.cb, &p.cr}) {
      if (t == "422" || t == "444") {
        const uint32_t scale = t == "444" ? 2 : 1;
        for (uint32_t y = 0; y < h; ++y)
          for (uint32_t x = 0; x < (scale == 2 ? w : cw); ++x) s.push_back(char((*c)[size_t(y / 2) * cw + x / scale]));
      } else {
        s.append(c->begin(), c->end());
      }
    }
  }
  return s;
}

std::string test_wav(const std::vector<int16_t>& pcm, uint32_t rate, uint32_t channels, uint32_t bits) {
  std::string data;
  for (int16_t v : pcm) {
    if (bits == 8) {
      data.push_back(char(uint8_t((v >> 8) + 128)));
    } else {
      data.push_back(char(v & 0xff));
      data.push_back(char((v >> 8) & 0xff));
    }
  }
  auto le32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  auto le16 = [](uint32_t v) { return std::string{char(v), char(v >> 8)}; };
  std::string s = "RIFF" + le32(uint32_t(36 + data.size())) + "WAVE";
  s += "fmt " + le32(16) + le16(1) + le16(channels) + le32(rate) + le32(rate * channels * bits / 8) +
       le16(channels * bits / 8) + le16(bits);
  s += "data" + le32(uint32_t(data.size())) + data;
  return s;
}

std::string test_tmp(const std::string& name) { return std::string(KORVA_TEST_TMP) + "/krvenc_" + name; }

bool test_write(const std::string& name, const std::string& bytes) {
  std::ofstream f(name, std::ios::binary);
  f.write(bytes.data(), std::streamsize(bytes.size()));
  return bool(f);
}

std::vector<uint8_t> test_read(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

int test_krvenc(const std::string& args) {
  const std::string command = std::string(KORVA_TEST_TMP) + "/../krvenc " + args + " > /dev/null 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int test_krvenc_said(const std::string& args, std::string* said) {
  const std::string err = test_tmp("krvenc_said.txt");
  const std::string command = std::string(KORVA_TEST_TMP) + "/../krvenc " + args + " > /dev/null 2> " + err;
  const int status = std::system(command.c_str());
  const std::vector<uint8_t> bytes = test_read(err);
  said->assign(bytes.begin(), bytes.end());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool test_decode_movie(const std::vector<uint8_t>& file, DecodedMovie* out) {
  ContainerView v;
  if (container_open_view(file.data(), file.size(), &v)) return false;
  out->header = v.header;
  const uint32_t w = v.header.width, h = v.header.height, cw = (w + 1) / 2, ch = (h + 1) / 2;
  VideoStore store;
  const bool alpha = (v.header.flags & kVideoFlagAlpha) != 0;
  if (!video_store_open(&store, w, h, alpha, false)) return false;
  FramePlanes* fp = &store.planes;
  uint32_t movie_flags = v.header.flags & (kVideoFlagGrey | kVideoFlagAlpha);
  if (v.header.version != 'i') movie_flags |= 0x8000;  // the older colour coding, no luma size
  const bool cb_first = v.header.version == 'f' || v.header.version == 'g';
  for (uint32_t i = 0; i < v.header.frame_count; ++i) {
    const uint8_t* frame;
    uint32_t size;
    bool key;
    const uint8_t* packet;
    uint32_t packet_size;
    if (!container_frame(&v, i, &frame, &size, &key) ||
        container_video_packet(frame, size, v.header.track_count, &packet, &packet_size)) {
      video_store_close(&store);
      return false;
    }
    std::fill(fp->change_map, fp->change_map + fp->map_blocks, 0);
    out->whole &= video_decode_next(fp, w, h, packet, packet_size, key, movie_flags, v.header.flags);
    out->key.push_back(key);
    const uint8_t* set = fp->plane_sets[fp->current_set];
    Picture420 p;
    p.width = w;
    p.height = h;
    for (uint32_t y = 0; y < h; ++y) p.y.insert(p.y.end(), set + size_t(y) * fp->luma_stride, set + size_t(y) * fp->luma_stride + w);
    const uint8_t* a = fp->alpha_planes[fp->current_set];
    if (alpha)
      for (uint32_t y = 0; y < h; ++y) p.a.insert(p.a.end(), a + size_t(y) * fp->luma_stride, a + size_t(y) * fp->luma_stride + w);
    const uint8_t* first = set + size_t(fp->luma_stride) * fp->luma_height;
    const uint8_t* second = first + size_t(fp->chroma_stride) * fp->chroma_height;
    const uint8_t* cr = cb_first ? second : first;
    const uint8_t* cb = cb_first ? first : second;
    for (uint32_t y = 0; y < ch; ++y) {
      p.cb.insert(p.cb.end(), cb + size_t(y) * fp->chroma_stride, cb + size_t(y) * fp->chroma_stride + cw);
      p.cr.insert(p.cr.end(), cr + size_t(y) * fp->chroma_stride, cr + size_t(y) * fp->chroma_stride + cw);
    }
    out->frames.push_back(std::move(p));
  }
  video_store_close(&store);
  return true;
}

bool test_decode_track(const std::vector<uint8_t>& file, uint32_t t, std::vector<int16_t>* pcm) {
  ContainerView v;
  if (container_open_view(file.data(), file.size(), &v) || t >= v.header.track_count) return false;
  const uint32_t word = container_track_word(&v, t);
  AudioDecoder* d = audio_decoder_open(word & kAudioWordRateMask, (word & kAudioWordStereo) ? 2 : 1,
                                       (word & kAudioWordDct) && !(word & kAudioWordRdft));
  if (!d) return false;
  for (uint32_t i = 0; i < v.header.frame_count; ++i) {
    const uint8_t* frame;
    uint32_t size;
    bool key;
    const uint8_t* packet;
    uint32_t packet_size;
    if (!container_frame(&v, i, &frame, &size, &key) ||
        container_audio_packet(frame, size, v.header.track_count, t, &packet, &packet_size)) {
      audio_decoder_close(d);
      return false;
    }
    if (!packet_size) continue;
    AudioPacketCursor cur;
    audio_packet_begin(&cur, packet, packet_size);
    const int16_t* samples;
    uint32_t bytes;
    while (audio_packet_next(d, &cur, &samples, &bytes)) pcm->insert(pcm->end(), samples, samples + bytes / 2);
  }
  audio_decoder_close(d);
  return true;
}

double test_psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double sse = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) sse += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
  if (sse == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 * double(a.size()) / sse);
}

namespace {

uint32_t crc32_of(const std::string& s) {
  uint32_t c = 0xffffffffu;
  for (unsigned char b : s) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1)));
  }
  return ~c;
}

std::string be32(uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

std::string png_chunk(const char* type, const std::string& data) {
  const std::string body = std::string(type, 4) + data;
  return be32(uint32_t(data.size())) + body + be32(crc32_of(body));
}

}  // namespace

std::string test_png(const std::vector<uint8_t>& pixels, uint32_t w, uint32_t h, uint32_t channels) {
  // Filter byte 0 before every row; deflate as stored blocks.
  std::string raw;
  for (uint32_t y = 0; y < h; ++y) {
    raw.push_back(0);
    raw.append(reinterpret_cast<const char*>(pixels.data()) + size_t(y) * w * channels, size_t(w) * channels);
  }
  std::string z = "\x78\x01";
  for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
    const size_t n = raw.size() - at < 65535 ? raw.size() - at : 65535;
    z.push_back(char(at + n >= raw.size() ? 1 : 0));
    z += std::string{char(n), char(n >> 8), char(~n), char(~n >> 8)};
    z += raw.substr(at, n);
    if (at + n >= raw.size()) break;
  }
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  z += be32((b << 16) | a);
  std::string ihdr = be32(w) + be32(h) + std::string{8, char(channels == 4 ? 6 : 2), 0, 0, 0};
  return std::string("\x89PNG\r\n\x1a\n", 8) + png_chunk("IHDR", ihdr) + png_chunk("IDAT", z) + png_chunk("IEND", "");
}
