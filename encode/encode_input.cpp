#include "encode/encode_input.h"

#include <cstring>
#include <string>

#include "base/bytes.h"
#include "convert/convert_internal.h"

namespace {

// A decimal number of at most 9 digits; false when there is none or it is too long.
bool parse_number(const std::string& s, uint32_t* v) {
  if (s.empty() || s.size() > 9) return false;
  uint32_t n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + uint32_t(c - '0');
  }
  *v = n;
  return true;
}

}  // namespace

const char* y4m_parse_header(const char* line, size_t n, Y4mInfo* info) {
  static const char kMagic[] = "YUV4MPEG2";
  if (n < 9 || std::memcmp(line, kMagic, 9) != 0 || (n > 9 && line[9] != ' '))
    return "not a YUV4MPEG2 stream";
  *info = Y4mInfo();
  bool have_w = false, have_h = false;
  size_t i = 9;
  while (i < n) {
    while (i < n && line[i] == ' ') ++i;
    size_t end = i;
    while (end < n && line[end] != ' ') ++end;
    if (end == i) break;
    const char tag = line[i];
    const std::string value(line + i + 1, end - i - 1);
    switch (tag) {
      case 'W': if (!parse_number(value, &info->width)) return "the width in the header is not a number"; have_w = true; break;
      case 'H': if (!parse_number(value, &info->height)) return "the height in the header is not a number"; have_h = true; break;
      case 'F': {
        const size_t colon = value.find(':');
        if (colon == std::string::npos || !parse_number(value.substr(0, colon), &info->rate_num) ||
            !parse_number(value.substr(colon + 1), &info->rate_den) || !info->rate_num || !info->rate_den)
          return "the frame rate in the header is not NUM:DEN";
        break;
      }
      case 'C': {
        if (value.size() >= sizeof info->colour_tag) return "the colour space tag is not supported";
        std::memcpy(info->colour_tag, value.c_str(), value.size() + 1);
        if (value == "420jpeg" || value == "420paldv" || value == "420mpeg2" || value == "420")
          info->chroma = kY4m420;
        else if (value == "422") info->chroma = kY4m422;
        else if (value == "444") info->chroma = kY4m444;
        else if (value == "mono") info->chroma = kY4mMono;
        else return "only 8-bit 4:2:0, 4:2:2, 4:4:4 and mono pictures are supported";
        break;
      }
      default: break;  // interlacing, aspect, comments: not needed
    }
    i = end;
  }
  if (!have_w || !have_h) return "the header has no width or height";
  if (!info->width || !info->height || info->width > 16384 || info->height > 16384)
    return "the picture size must be 1 to 16384 on each side";
  return nullptr;
}

size_t y4m_frame_bytes(const Y4mInfo& info) {
  const size_t luma = size_t(info.width) * info.height;
  const size_t cw = (info.width + 1) / 2, ch = (info.height + 1) / 2;
  switch (info.chroma) {
    case kY4m420: return luma + 2 * cw * ch;
    case kY4m422: return luma + 2 * cw * info.height;
    case kY4m444: return 3 * luma;
    default: return luma;
  }
}

void y4m_to_420(const Y4mInfo& info, const uint8_t* data, Picture420* out) {
  const uint32_t w = info.width, h = info.height, cw = (w + 1) / 2, ch = (h + 1) / 2;
  out->width = w;
  out->height = h;
  const size_t luma = size_t(w) * h;
  out->y.assign(data, data + luma);
  out->cb.resize(size_t(cw) * ch);
  out->cr.resize(size_t(cw) * ch);
  const uint8_t* in = data + luma;
  switch (info.chroma) {
    case kY4m420:
      std::memcpy(out->cb.data(), in, out->cb.size());
      std::memcpy(out->cr.data(), in + out->cb.size(), out->cr.size());
      break;
    case kY4m422:
      // Rows in pairs (the last row of an odd height stands alone).
      for (uint32_t c = 0; c < 2; ++c) {
        const uint8_t* p = in + size_t(c) * cw * h;
        uint8_t* o = c ? out->cr.data() : out->cb.data();
        for (uint32_t y = 0; y < ch; ++y) {
          const uint8_t* a = p + size_t(2 * y) * cw;
          const uint8_t* b = 2 * y + 1 < h ? a + cw : a;
          for (uint32_t x = 0; x < cw; ++x) o[size_t(y) * cw + x] = uint8_t((a[x] + b[x] + 1) / 2);
        }
      }
      break;
    case kY4m444:
      for (uint32_t c = 0; c < 2; ++c) {
        const uint8_t* p = in + size_t(c) * luma;
        uint8_t* o = c ? out->cr.data() : out->cb.data();
        for (uint32_t y = 0; y < ch; ++y)
          for (uint32_t x = 0; x < cw; ++x) {
            const uint32_t x1 = 2 * x + 1 < w ? 2 * x + 1 : 2 * x, y1 = 2 * y + 1 < h ? 2 * y + 1 : 2 * y;
            const uint32_t sum = p[size_t(2 * y) * w + 2 * x] + p[size_t(2 * y) * w + x1] +
                                 p[size_t(y1) * w + 2 * x] + p[size_t(y1) * w + x1];
            o[size_t(y) * cw + x] = uint8_t((sum + 2) / 4);
          }
      }
      break;
    default:
      std::memset(out->cb.data(), 128, out->cb.size());
      std::memset(out->cr.data(), 128, out->cr.size());
      break;
  }
}

namespace {

uint8_t clamp_byte(double v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : int(v + 0.5)); }
int clamp_int(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

}  // namespace

void rgb_to_420(const uint8_t* px, uint32_t bpp, uint32_t w, uint32_t h, Picture420* out) {
  const uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
  out->width = w;
  out->height = h;
  out->y.resize(size_t(w) * h);
  out->cb.resize(size_t(cw) * ch);
  out->cr.resize(size_t(cw) * ch);
  auto pixel = [&](uint32_t x, uint32_t y) {
    return px + (size_t(y < h ? y : h - 1) * w + (x < w ? x : w - 1)) * bpp;
  };
  for (uint32_t y = 0; y < ch; ++y)
    for (uint32_t x = 0; x < cw; ++x) {
      double r = 0, g = 0, b = 0;
      for (uint32_t k = 0; k < 4; ++k) {
        const uint8_t* c = pixel(2 * x + (k & 1), 2 * y + (k >> 1));
        r += c[0] / 4.0;
        g += c[1] / 4.0;
        b += c[2] / 4.0;
      }
      out->cb[size_t(y) * cw + x] = clamp_byte(128 + (-37.945 * r - 74.494 * g + 112.439 * b) / 256);
      out->cr[size_t(y) * cw + x] = clamp_byte(128 + (112.439 * r - 94.154 * g - 18.285 * b) / 256);
    }
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t* c = pixel(x, y);
      const int cb = out->cb[size_t(y / 2) * cw + x / 2], cr = out->cr[size_t(y / 2) * cw + x / 2];
      const int red = color_chroma_rule(52299, cr), green = color_chroma_rule(-26639, cr) + color_chroma_rule(-12837, cb),
                blue = color_chroma_rule(66101, cb);
      const int start = clamp_byte(16 + (65.738 * c[0] + 129.057 * c[1] + 25.064 * c[2]) / 256);
      int best = start, best_error = -1;
      for (int v = start - 3; v <= start + 3; ++v) {
        if (v < 0 || v > 255) continue;
        const int l = color_luma_rule(v);
        const int dr = clamp_int(l + red) - c[0], dg = clamp_int(l + green) - c[1], db = clamp_int(l + blue) - c[2];
        const int e = dr * dr + dg * dg + db * db;
        if (best_error < 0 || e < best_error) {
          best_error = e;
          best = v;
        }
      }
      out->y[size_t(y) * w + x] = uint8_t(best);
    }
}

bool sequence_name(const char* pattern, uint32_t n, std::string* out) {
  out->clear();
  bool seen = false;
  for (const char* p = pattern; *p; ++p) {
    if (*p != '%') {
      out->push_back(*p);
      continue;
    }
    ++p;
    if (*p == '%') {
      out->push_back('%');
      continue;
    }
    const bool zero = *p == '0';
    if (zero) ++p;
    uint32_t width = 0;
    while (*p >= '0' && *p <= '9' && width < 100) width = width * 10 + uint32_t(*p++ - '0');
    if (*p != 'd' || seen || width > 16) return false;
    seen = true;
    const std::string digits = std::to_string(n);
    if (digits.size() < width) out->append(width - digits.size(), zero ? '0' : ' ');
    out->append(digits);
  }
  return seen;
}

const char* wav_parse(const uint8_t* data, size_t n, WavAudio* out) {
  *out = WavAudio();
  if (n < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0)
    return "not a WAV file";
  size_t at = 12;
  bool have_format = false;
  while (at + 8 <= n) {
    const uint8_t* chunk = data + at;
    const uint32_t size = load_le32(chunk + 4);
    const size_t body = at + 8, left = n - body;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (size < 16 || left < 16) return "the WAV format chunk is too short";
      uint32_t format = load_le16(chunk + 8);
      if (format == 0xfffe && size >= 40 && left >= 40) format = load_le16(chunk + 8 + 24);  // extensible
      if (format != 1) return "only PCM WAV files are supported";
      out->channels = load_le16(chunk + 10);
      out->rate = load_le32(chunk + 12);
      out->bits = load_le16(chunk + 22);
      if (out->channels != 1 && out->channels != 2) return "only mono and stereo WAV files are supported";
      if (out->bits != 8 && out->bits != 16) return "only 8-bit and 16-bit WAV files are supported";
      if (out->rate < 4000 || out->rate > 65535) return "the WAV sample rate must be 4000 to 65535 Hz";
      have_format = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!have_format) return "the WAV data comes before its format";
      // A size past the end (a file written while streaming) means: up to the end.
      const size_t bytes = size < left ? size : left;
      const size_t frame = size_t(out->channels) * out->bits / 8;
      const size_t count = bytes / frame * out->channels;
      out->pcm.resize(count);
      const uint8_t* p = data + body;
      for (size_t i = 0; i < count; ++i)
        out->pcm[i] = out->bits == 8 ? int16_t((int(p[i]) - 128) * 256) : int16_t(load_le16(p + 2 * i));
      return nullptr;
    }
    if (size > left) break;
    at = body + size + (size & 1);
  }
  return have_format ? "the WAV file has no data" : "the WAV file has no format chunk";
}
