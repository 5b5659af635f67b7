// The input pictures of krvenc, read as they are needed.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "tools/krvenc/krvenc.h"

struct FrameSource {
  std::string name;
  bool png = false, std_in = false;
  PlatformFile* file = nullptr;
  // A stream in memory (source_open_memory) instead of a file.
  const uint8_t* memory_data = nullptr;
  size_t memory_size = 0, memory_at = 0;
  Y4mInfo info;
  uint32_t max_frames = 0, count_hint = 0, delivered = 0;
  // Y4M reading: a buffer over the file or standard input.
  uint8_t buf[65536];
  size_t at = 0, len = 0;
  uint64_t data_start = 0;
  std::vector<uint8_t> frame;
  // PNG sequence.
  uint32_t png_first = 0;
  std::vector<uint8_t> pixels;
  bool alpha = false, alpha_noted = false;
  // A pipe read more than once.
  bool in_memory = false;
  std::vector<Picture420> memory;
};

namespace {

bool fill(FrameSource* s) {
  s->at = 0;
  if (s->std_in) {
    s->len = std::fread(s->buf, 1, sizeof s->buf, stdin);
  } else if (s->memory_data) {
    const size_t left = s->memory_size - s->memory_at;
    s->len = left < sizeof s->buf ? left : sizeof s->buf;
    std::memcpy(s->buf, s->memory_data + s->memory_at, s->len);
    s->memory_at += s->len;
  } else {
    const int64_t got = platform_file_read(s->file, s->buf, sizeof s->buf);
    s->len = got > 0 ? size_t(got) : 0;
  }
  return s->len > 0;
}

int get_byte(FrameSource* s) {
  if (s->at == s->len && !fill(s)) return -1;
  return s->buf[s->at++];
}

size_t get_bytes(FrameSource* s, uint8_t* out, size_t n) {
  size_t done = 0;
  while (done < n) {
    if (s->at == s->len && !fill(s)) break;
    const size_t k = s->len - s->at < n - done ? s->len - s->at : n - done;
    std::memcpy(out + done, s->buf + s->at, k);
    s->at += k;
    done += k;
  }
  return done;
}

// A line up to '\n' (not kept). False at the end of the input or when it is too long.
bool get_line(FrameSource* s, std::string* line) {
  line->clear();
  int c;
  while ((c = get_byte(s)) >= 0 && c != '\n') {
    if (line->size() >= 4096) return false;
    line->push_back(char(c));
  }
  return c == '\n' || !line->empty();
}

bool open_png(FrameSource* s) {
  std::string name;
  if (!sequence_name(s->name.c_str(), 0, &name))
    return krvenc_fail("%s: a picture sequence wants one %%d (or %%04d ...) in its name", s->name.c_str()) == 0;
  if (!krvenc_have_png()) return krvenc_fail("%s: PNG input is not available in this build", s->name.c_str()) == 0;
  if (!platform_file_exists(name.c_str())) {
    s->png_first = 1;
    sequence_name(s->name.c_str(), 1, &name);
    if (!platform_file_exists(name.c_str()))
      return krvenc_fail("%s: neither frame 0 nor frame 1 exists", s->name.c_str()) == 0;
  }
  uint32_t bpp;
  if (const char* e = krvenc_read_png(name.c_str(), &s->pixels, &s->info.width, &s->info.height, &bpp))
    return krvenc_fail("%s: %s", name.c_str(), e) == 0;
  s->alpha = bpp == 4;
  for (uint32_t n = s->png_first; !s->max_frames || s->count_hint < s->max_frames; ++n, ++s->count_hint) {
    sequence_name(s->name.c_str(), n, &name);
    if (!platform_file_exists(name.c_str())) break;
  }
  return true;
}

bool open_y4m(FrameSource* s) {
  if (s->std_in || s->memory_data) {
    s->file = nullptr;
  } else if (!(s->file = platform_file_open(s->name.c_str()))) {
    return krvenc_fail("%s: cannot open the file", s->name.c_str()) == 0;
  }
  std::string line;
  if (!get_line(s, &line)) return krvenc_fail("%s: not a YUV4MPEG2 stream", s->name.c_str()) == 0;
  if (const char* e = y4m_parse_header(line.data(), line.size(), &s->info))
    return krvenc_fail("%s: %s", s->name.c_str(), e) == 0;
  s->data_start = line.size() + 1;
  s->frame.resize(y4m_frame_bytes(s->info));
  if (s->file || s->memory_data) {
    // Frames of "FRAME\n" and samples, unless their lines carry parameters.
    const int64_t size = s->file ? platform_file_size(s->file) : int64_t(s->memory_size);
    if (size > int64_t(s->data_start)) {
      const uint64_t n = (uint64_t(size) - s->data_start) / (6 + s->frame.size());
      s->count_hint = uint32_t(n > 0xffffffffu ? 0xffffffffu : n);
      if (s->max_frames && s->count_hint > s->max_frames) s->count_hint = s->max_frames;
    }
  }
  return true;
}

}  // namespace

FrameSource* source_open(const char* name, uint32_t max_frames) {
  FrameSource* s = new FrameSource;
  s->name = name;
  s->max_frames = max_frames;
  s->png = std::strchr(name, '%') != nullptr;
  s->std_in = !s->png && !std::strcmp(name, "-");
  if (!(s->png ? open_png(s) : open_y4m(s))) {
    source_close(s);
    return nullptr;
  }
  return s;
}

FrameSource* source_open_memory(const char* name, const uint8_t* data, size_t size, uint32_t max_frames) {
  FrameSource* s = new FrameSource;
  s->name = name;
  s->max_frames = max_frames;
  s->memory_data = data ? data : reinterpret_cast<const uint8_t*>("");
  s->memory_size = data ? size : 0;
  if (!open_y4m(s)) {
    source_close(s);
    return nullptr;
  }
  return s;
}

void source_close(FrameSource* s) {
  if (!s) return;
  if (s->file) platform_file_close(s->file);
  delete s;
}

const Y4mInfo& source_info(const FrameSource* s) { return s->info; }
bool source_has_alpha(const FrameSource* s) { return s->alpha; }
uint32_t source_count_hint(const FrameSource* s) { return s->in_memory ? uint32_t(s->memory.size()) : s->count_hint; }

int source_next(FrameSource* s, Picture420* out) {
  if (s->max_frames && s->delivered >= s->max_frames) return 0;
  if (s->in_memory) {
    if (s->delivered >= s->memory.size()) return 0;
    *out = s->memory[s->delivered++];
    return 1;
  }
  if (s->png) {
    std::string name;
    sequence_name(s->name.c_str(), s->png_first + s->delivered, &name);
    if (!platform_file_exists(name.c_str())) return 0;
    uint32_t w, h, bpp;
    if (const char* e = krvenc_read_png(name.c_str(), &s->pixels, &w, &h, &bpp)) return -krvenc_fail("%s: %s", name.c_str(), e);
    if (w != s->info.width || h != s->info.height)
      return -krvenc_fail("%s: %ux%u, but the first picture is %ux%u", name.c_str(), w, h, s->info.width, s->info.height);
    if (bpp == 4 && !s->alpha && !s->alpha_noted) {
      krvenc_note("%s: the first picture has no alpha channel, so the movie has none: alpha not coded", name.c_str());
      s->alpha_noted = true;
    }
    krvenc_png_picture(s->pixels, w, h, bpp, s->alpha, out);
    ++s->delivered;
    return 1;
  }
  std::string line;
  if (!get_line(s, &line)) return 0;
  if (line.compare(0, 5, "FRAME") != 0)
    return -krvenc_fail("%s: frame %u does not start with FRAME", s->name.c_str(), s->delivered + 1);
  if (get_bytes(s, s->frame.data(), s->frame.size()) != s->frame.size())
    return -krvenc_fail("%s: the input ends inside frame %u", s->name.c_str(), s->delivered + 1);
  y4m_to_420(s->info, s->frame.data(), out);
  ++s->delivered;
  return 1;
}

void krvenc_png_picture(const std::vector<uint8_t>& pixels, uint32_t w, uint32_t h, uint32_t bpp, bool alpha,
                        Picture420* out) {
  rgb_to_420(pixels.data(), bpp, w, h, out);
  out->a.clear();
  if (alpha) {
    out->a.resize(size_t(w) * h, 255);
    if (bpp == 4)
      for (size_t i = 0; i < out->a.size(); ++i) out->a[i] = pixels[4 * i + 3];
  }
}

bool source_rewind(FrameSource* s) {
  if (s->std_in && !s->in_memory) {
    // A pipe cannot go back: what is left of it is kept in memory.
    Picture420 p;
    int got;
    while ((got = source_next(s, &p)) == 1) s->memory.push_back(p);
    if (got < 0) return false;
    s->in_memory = true;
  }
  s->delivered = 0;
  if (s->memory_data) {
    // A header without its newline ends the stream: data_start is then one past the end.
    s->memory_at = s->data_start < s->memory_size ? size_t(s->data_start) : s->memory_size;
    s->at = s->len = 0;
  }
  if (s->file) {
    if (!platform_file_seek(s->file, s->data_start)) return krvenc_fail("%s: cannot read the file again", s->name.c_str()) == 0;
    s->at = s->len = 0;
  }
  return true;
}
