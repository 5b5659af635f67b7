// krvenc: makes .krv movies from YUV4MPEG2 or PNG pictures and WAV sound.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "container/container.h"
#include "encode/audio_encoder.h"
#include "encode/container_writer.h"
#include "encode/encode_input.h"
#include "encode/encoder.h"
#include "encode/picture_coder.h"
#include "encode/rate_control.h"
#include "platform/platform.h"
#include "tools/krvenc/krvenc.h"

namespace {

const char kHelp[] =
    "usage: krvenc INPUT -o OUT.krv [options]\n"
    "\n"
    "INPUT is a YUV4MPEG2 file (.y4m) or '-' for standard input: 8-bit 4:2:0 (any chroma siting),\n"
    "mono (a grey-scale movie), or 4:2:2 / 4:4:4 (chroma averaged down to 4:2:0); or a numbered\n"
    "PNG sequence such as shots/frame_%04d.png (RGB or RGBA, from number 0 or 1 up to the first\n"
    "missing one; when the first picture has an alpha channel the movie gets an alpha plane).\n"
    "\n"
    "options (default in brackets):\n"
    "  -o, --output FILE      the movie to write (required); written as FILE.part, then renamed\n"
    "  --rate NUM/DEN         frame rate [the input's, else 25/1]\n"
    "  --frames N             code only the first N frames [all]\n"
    "  --quality Q            0 (smallest) to 100 (exact), a fixed quantiser [75]\n"
    "  --bitrate KBPS         aim the video at KBPS kilobits a second instead of a fixed quality, by\n"
    "                         passes at one quality each: an analysis pass (kept when it fits), then\n"
    "                         a coding pass, started again (at most twice) when its first sixth\n"
    "                         (key and inter frames each foretold from their own) foretells a miss\n"
    "                         of more than 6 %; below what quality 0 gives, frames\n"
    "                         keep more of the previous picture, down to all skips [off]\n"
    "  --keyint N             a key frame at least every N frames, 0 = only the first [250]\n"
    "  --no-scene-cuts        no extra key frames where the picture changes completely [they are made]\n"
    "  --speed S              0 (thorough motion search) to 4 (fastest) [2]\n"
    "  --audio FILE           a sound track from a WAV file (PCM 8/16-bit, mono/stereo, 4000-65535 Hz);\n"
    "                         repeat for more tracks [none]\n"
    "  --track-id N           identifier of the next --audio track [its position: 0, 1, ...]\n"
    "  --audio-coding C       dct or rdft, for the --audio tracks that follow [dct]\n"
    "  --audio-bitrate KBPS   sound rate in kilobits a second, for the --audio tracks that follow;\n"
    "                         0 = a fixed, near-exact precision whose rate follows the sound\n"
    "                         (300 to 1000 kbps for 44.1 kHz stereo) [0]\n"
    "  --double MODE          display doubling mode 0-7 stored in the movie [0]\n"
    "  --version V            container version f, g, h or i; f, g and h code the colours of\n"
    "                         fills, patterns, runs and raw blocks without the value 0 (shown as 1) [i]\n"
    "  --psnr-per-frame       print each frame's size, kind and PSNR [off]\n"
    "  -h, --help             this text\n"
    "\n"
    "The sound is carried 0.75 s ahead of the picture, as the player expects.\n";

struct AudioInput {
  std::string file;
  uint32_t id;
  bool dct;
  double kbps;  // 0: the fixed precision
};

struct Options {
  const char* input = nullptr;
  const char* output = nullptr;
  uint32_t rate_num = 0, rate_den = 0;
  uint32_t max_frames = 0;
  double quality = 75;
  double bitrate = 0;
  uint32_t keyint = 250;
  bool scene_cuts = true;
  uint32_t speed = 2;
  uint32_t doubling = 0;
  char version = 'i';
  bool psnr_per_frame = false;
  std::vector<AudioInput> audio;
};

bool parse_uint(const char* s, uint32_t lo, uint32_t hi, uint32_t* out) {
  char* end;
  const unsigned long v = std::strtoul(s, &end, 10);
  if (!*s || *end || s[0] == '-' || v < lo || v > hi) return false;
  *out = uint32_t(v);
  return true;
}

bool parse_double(const char* s, double lo, double hi, double* out) {
  char* end;
  const double v = std::strtod(s, &end);
  if (!*s || *end || !(v >= lo && v <= hi)) return false;
  *out = v;
  return true;
}

// Returns -1 to go on, else the exit code.
int parse_options(int argc, char** argv, Options* o) {
  bool have_id = false;
  uint32_t track_id = 0;
  bool dct = true;
  double audio_kbps = 0;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!std::strcmp(a, "-h") || !std::strcmp(a, "--help")) {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (a[0] == '-' && a[1]) {
      const bool flag = !std::strcmp(a, "--no-scene-cuts") || !std::strcmp(a, "--psnr-per-frame");
      if (!flag && i + 1 >= argc) return krvenc_fail("%s wants a value (see --help)", a);
      const char* v = flag ? "" : argv[++i];
      if (!std::strcmp(a, "-o") || !std::strcmp(a, "--output")) {
        o->output = v;
      } else if (!std::strcmp(a, "--rate")) {
        const char* slash = std::strchr(v, '/');
        const std::string num = slash ? std::string(v, size_t(slash - v)) : std::string(v);
        if (!parse_uint(num.c_str(), 1, 1000000, &o->rate_num) ||
            !parse_uint(slash ? slash + 1 : "1", 1, 1000000, &o->rate_den))
          return krvenc_fail("--rate wants NUM/DEN or NUM (whole numbers from 1), not '%s'", v);
      } else if (!std::strcmp(a, "--frames")) {
        if (!parse_uint(v, 1, 100000000, &o->max_frames)) return krvenc_fail("--frames wants a count from 1, not '%s'", v);
      } else if (!std::strcmp(a, "--quality")) {
        if (!parse_double(v, 0, 100, &o->quality)) return krvenc_fail("--quality wants 0 to 100, not '%s'", v);
      } else if (!std::strcmp(a, "--bitrate")) {
        if (!parse_double(v, 1, 1000000, &o->bitrate)) return krvenc_fail("--bitrate wants kilobits a second (1 or more), not '%s'", v);
      } else if (!std::strcmp(a, "--keyint")) {
        if (!parse_uint(v, 0, 100000000, &o->keyint)) return krvenc_fail("--keyint wants a count from 0, not '%s'", v);
      } else if (!std::strcmp(a, "--speed")) {
        if (!parse_uint(v, 0, 4, &o->speed)) return krvenc_fail("--speed wants 0 to 4, not '%s'", v);
      } else if (!std::strcmp(a, "--double")) {
        if (!parse_uint(v, 0, 7, &o->doubling)) return krvenc_fail("--double wants a mode 0 to 7, not '%s'", v);
      } else if (!std::strcmp(a, "--version")) {
        if (!v[0] || v[1] || v[0] < 'f' || v[0] > 'i') return krvenc_fail("--version wants f, g, h or i, not '%s'", v);
        o->version = v[0];
      } else if (!std::strcmp(a, "--track-id")) {
        if (!parse_uint(v, 0, 0xffffffffu, &track_id)) return krvenc_fail("--track-id wants a number, not '%s'", v);
        have_id = true;
      } else if (!std::strcmp(a, "--audio-coding")) {
        if (!std::strcmp(v, "dct")) dct = true;
        else if (!std::strcmp(v, "rdft")) dct = false;
        else return krvenc_fail("--audio-coding wants dct or rdft, not '%s'", v);
      } else if (!std::strcmp(a, "--audio-bitrate")) {
        if (!parse_double(v, 0, 10000, &audio_kbps) || (audio_kbps > 0 && audio_kbps < 4))
          return krvenc_fail("--audio-bitrate wants 0 or kilobits a second from 4 to 10000, not '%s'", v);
      } else if (!std::strcmp(a, "--audio")) {
        o->audio.push_back({v, have_id ? track_id : uint32_t(o->audio.size()), dct, audio_kbps});
        have_id = false;
      } else if (!std::strcmp(a, "--no-scene-cuts")) {
        o->scene_cuts = false;
      } else if (!std::strcmp(a, "--psnr-per-frame")) {
        o->psnr_per_frame = true;
      } else {
        return krvenc_fail("unknown option '%s' (see --help)", a);
      }
      continue;
    }
    if (o->input) return krvenc_fail("one input only: '%s' and '%s'", o->input, a);
    o->input = a;
  }
  if (!o->input) return krvenc_fail("no input given (see --help)");
  if (!o->output) return krvenc_fail("no output given: -o OUT.krv");
  return -1;
}

double now_seconds() {
  uint64_t freq;
  if (platform_hires_frequency(&freq) && freq) return double(platform_hires_counter()) / double(freq);
  return platform_coarse_ms() / 1000.0;
}

// A coded sound track: its rate and how close the decoded sound comes to the input.
struct SoundTotals {
  uint32_t id;
  double kbps, snr_db;
};

struct RunTotals {
  std::vector<SoundTotals> sounds;
  uint32_t frames = 0;
  uint64_t video_bytes = 0, key_bytes = 0, inter_bytes = 0;
  uint32_t keys = 0, inters = 0;
  double sse[3] = {}, alpha_sse = 0;
  uint64_t samples[3] = {}, alpha_samples = 0;
  uint32_t mismatches = 0;
  uint64_t blocks[10] = {};
};

// Where a run takes its pictures from: the source, or pictures kept in memory.
struct PictureFeed {
  FrameSource* source = nullptr;
  const std::vector<Picture420>* list = nullptr;
  size_t at = 0;
};

int feed_next(PictureFeed* f, Picture420* out) {
  if (f->list) {
    if (f->at >= f->list->size()) return 0;
    *out = (*f->list)[f->at++];
    return 1;
  }
  return source_next(f->source, out);
}

// A check that a coding pass makes after `at` frames: what its frames took against what the same
// frames took in the analysis pass (`analysis`, its frames' kinds in `kinds`) foretells the
// clip's size (`forecast`, see rate_forecast); when that misses `target` by more than `band`, the
// pass stops.
struct RateCheck {
  uint32_t at = 0;
  const std::vector<double>* analysis = nullptr;
  const std::vector<uint8_t>* kinds = nullptr;
  double target = 0, band = 0;
  RateForecast forecast;
  bool stopped = false;
};

// Codes every picture of the feed with a fresh encoder (`count` only for the progress line,
// 0 when unknown). `out` (optional) receives the frames; `progress` shows a line on the terminal;
// `per_frame` prints a line a frame.
// With `rc` the quality of every frame comes from the rate controller; `bits` and `qualities`
// (optional) receive each frame's size and quality; with `check` the pass may stop early (see
// RateCheck), which is not a failure; `kinds` (optional) receives each frame's kind (kRateKey or
// kRateInter).
bool encode_run(PictureFeed* feed, uint32_t count, const EncoderSettings& s, double fps, std::vector<WriterFrame>* out,
                bool progress, bool per_frame, RunTotals* t, RateControl* rc = nullptr,
                std::vector<double>* bits = nullptr, std::vector<double>* qualities = nullptr,
                RateCheck* check = nullptr, std::vector<uint8_t>* kinds = nullptr) {
  Encoder* e = encoder_open(s);
  if (!e) return krvenc_fail("cannot set up the encoder for %ux%u (out of memory?)", s.width, s.height) == 0;
  const double start = now_seconds();
  double last_shown = -1;
  std::vector<uint8_t> packet;
  Picture420 p;
  uint32_t done = 0;
  int got;
  while ((got = feed_next(feed, &p)) == 1) {
    const uint32_t cw = (p.width + 1) / 2;
    EncoderPicture pic{{p.y.data(), p.cb.data(), p.cr.data()}, {p.width, cw, cw}, p.a.empty() ? nullptr : p.a.data(), p.width};
    EncoderFrameStats st;
    const double quality = rc ? rate_control_quality(rc) : s.quality;
    if (rc) encoder_set_quality(e, quality);
    if (!encoder_encode(e, pic, false, &packet, &st)) {
      encoder_close(e);
      return krvenc_fail("frame %u could not be coded (an encoder fault)", done + 1) == 0;
    }
    ++done;
    const double frame_bits = double(packet.size()) * 8;
    if (rc) rate_control_coded(rc, frame_bits);
    if (bits) bits->push_back(frame_bits);
    if (qualities) qualities->push_back(quality);
    if (kinds) kinds->push_back(st.key ? kRateKey : kRateInter);
    t->frames += 1;
    t->video_bytes += packet.size();
    (st.key ? t->key_bytes : t->inter_bytes) += packet.size();
    (st.key ? t->keys : t->inters) += 1;
    for (int c = 0; c < 3; ++c) {
      t->sse[c] += st.sse[c];
      t->samples[c] += st.samples[c];
    }
    t->alpha_sse += st.alpha_sse;
    t->alpha_samples += st.alpha_samples;
    t->mismatches += st.model_mismatches;
    for (int k = 0; k < 10; ++k) t->blocks[k] += st.blocks[k];
    if (out) {
      WriterFrame f;
      f.key = st.key;
      f.video = packet;
      out->push_back(std::move(f));
    }
    if (per_frame) {
      const double all = st.sse[0] + st.sse[1] + st.sse[2];
      std::printf("frame %u %s %u bytes  quality %.1f  PSNR Y %.2f U %.2f V %.2f all %.2f\n", done,
                  st.key ? "key" : "inter", uint32_t(packet.size()), quality, encoder_psnr(st.sse[0], st.samples[0]), encoder_psnr(st.sse[1], st.samples[1]),
                  encoder_psnr(st.sse[2], st.samples[2]),
                  encoder_psnr(all, st.samples[0] + st.samples[1] + st.samples[2]));
    }
    const double now = now_seconds();
    if (progress && now - last_shown > 0.25) {
      last_shown = now;
      const double el = now - start;
      const double kbps = double(t->video_bytes) * 8 / 1000 / (done / fps);
      const double sse = t->sse[0] + t->sse[1] + t->sse[2];
      char of[32] = "";
      if (count >= done) std::snprintf(of, sizeof of, " of %u", count);
      std::fprintf(stderr, "\rframe %u%s  %.1f fps  %.0f kbps  PSNR %.2f dB   ", done, of, el > 0 ? done / el : 0.0, kbps,
                   encoder_psnr(sse, t->samples[0] + t->samples[1] + t->samples[2]));
    }
    if (check && bits && done == check->at && check->analysis->size() >= done &&
        check->kinds->size() == check->analysis->size() &&
        rate_forecast(check->analysis->data(), check->kinds->data(), uint32_t(check->analysis->size()), bits->data(),
                      done, &check->forecast)) {
      if (std::fabs(check->forecast.total / check->target - 1) > check->band) {
        check->stopped = true;
        break;
      }
    }
  }
  if (progress && last_shown >= 0) std::fputc('\n', stderr);
  encoder_close(e);
  if (got < 0) return false;
  if (!done) return krvenc_fail("the input holds no frames") == 0;
  return true;
}

// A sound track, checked before the pictures are coded and coded after (the packets depend on
// the number of frames).
struct SoundInput {
  WavAudio wav;
  const AudioInput* track;
};

// The rate control's passes (see encode/rate_control.h): an analysis pass at a first guess, kept
// when it fits; else a coding pass at the quality the model gives, which starts again (at most
// twice) when its first frames foretell a clip off by more than kRestartBand. The movie's frames
// go to d->frames, its totals to *t and each frame's quality to *qualities.
int bitrate_passes(const Options& o, FrameSource* src, EncoderSettings s, double fps, MovieDescription* d,
                   RunTotals* t, std::vector<double>* qualities) {
  constexpr double kKeepBand = 0.03, kRestartBand = 0.06;
  constexpr uint32_t kRestarts = 2;
  const Y4mInfo& info = source_info(src);
  const bool progress = platform_stderr_is_terminal();
  // The first guess: camera footage took 0.15 bits a sample at quality 28.
  const double bits_per_sample = o.bitrate * 1000 / fps / (double(info.width) * info.height);
  const double first = rate_control_guess(0.15, 28, bits_per_sample);
  s.quality = first;
  if (!source_rewind(src)) return 1;
  PictureFeed feed;
  feed.source = src;
  std::vector<WriterFrame> frames;
  std::vector<double> analysis;
  std::vector<uint8_t> kinds;
  RunTotals at_first;
  if (o.psnr_per_frame) std::printf("analysis pass at quality %.1f\n", first);
  if (!encode_run(&feed, source_count_hint(src), s, fps, &frames, progress, o.psnr_per_frame, &at_first, nullptr,
                  &analysis, nullptr, nullptr, &kinds))
    return 1;
  const uint32_t n = uint32_t(analysis.size());
  const double target = o.bitrate * 1000 / fps * n;
  double total = 0;
  for (double b : analysis) total += b;
  if (std::fabs(total / target - 1) <= kKeepBand || (first >= 100 && total < target) ||
      (first <= kEncoderLowestQuality && total > target)) {
    d->frames = std::move(frames);
    *t = at_first;
    qualities->assign(n, first);
    return 0;
  }
  frames = std::vector<WriterFrame>();
  // Two points of the clip's size against the quality, for each kind of frame: the analysis pass,
  // and the last coding pass (or what its first frames foretold), through which each kind's
  // slope is refitted.
  double of[kRateKinds] = {};
  for (uint32_t i = 0; i < n; ++i) of[kinds[i]] += analysis[i];
  double slope[kRateKinds], last_bits[kRateKinds], last_quality = first;
  for (int k = 0; k < kRateKinds; ++k) {
    slope[k] = RateFrame().slope;
    last_bits[k] = of[k];
  }
  const uint32_t check_at = rate_forecast_frames(analysis.data(), kinds.data(), n);
  for (uint32_t attempt = 0;; ++attempt) {
    // The analysis pass's frames, each kind scaled to its size in the last pass, at its quality.
    std::vector<RateFrame> plan(n);
    for (uint32_t i = 0; i < n; ++i) {
      const int k = kinds[i];
      plan[i] = {of[k] > 0 ? analysis[i] * last_bits[k] / of[k] : analysis[i], last_quality, slope[k]};
    }
    RateControl rc;
    if (!rate_control_start(&rc, plan, target)) return krvenc_fail("the input holds no frames");
    const bool last = attempt == kRestarts;
    RateCheck check;
    // After the frames that took a sixth of the analysis pass's bits (a sixth of its time, near
    // enough) and of its inter frames' bits, not a sixth of its frames: a quiet start (a title,
    // a fade in key frames) foretells little.
    check.at = check_at;
    check.analysis = &analysis;
    check.kinds = &kinds;
    check.target = target;
    check.band = kRestartBand;
    rc.hold_until = check.at;
    const double quality = rate_control_quality(&rc);
    if (!source_rewind(src)) return 1;
    *t = RunTotals();
    d->frames.clear();
    qualities->clear();
    std::vector<double> bits;
    if (o.psnr_per_frame) std::printf("coding pass at quality %.1f\n", quality);
    if (!encode_run(&feed, n, s, fps, &d->frames, progress, o.psnr_per_frame, t, &rc, &bits, qualities,
                    last || check.at >= n ? nullptr : &check))
      return 1;
    if (!check.stopped) return 0;
    if (o.psnr_per_frame)
      std::printf("stopped: the clip would take %.0f kbps\n", check.forecast.total / 1000 / (n / fps));
    for (int k = 0; k < kRateKinds; ++k) {
      slope[k] = rate_control_secant(last_quality, last_bits[k], quality, check.forecast.kind[k], slope[k]);
      last_bits[k] = check.forecast.kind[k];
    }
    last_quality = quality;
  }
}

// Everything krvenc does, with the input open; `d` receives the movie.
int run(const Options& o, FrameSource* src, MovieDescription* d, RunTotals* t, double* fps_out) {
  const Y4mInfo& info = source_info(src);
  if (info.chroma == kY4m422 || info.chroma == kY4m444)
    krvenc_note("the input's %s chroma is averaged down to 4:2:0", info.colour_tag);
  if (info.chroma == kY4mMono) krvenc_note("the input is mono: the movie is grey-scale");
  uint32_t rate_num = o.rate_num ? o.rate_num : info.rate_num, rate_den = o.rate_num ? o.rate_den : info.rate_den;
  if (!rate_num) {
    rate_num = 25;
    rate_den = 1;
    krvenc_note("the input gives no frame rate: 25/1");
  }
  const double fps = double(rate_num) / rate_den;
  *fps_out = fps;

  // The sound files first: a bad one stops here, before the long part.
  std::vector<SoundInput> sounds;
  for (const AudioInput& a : o.audio) {
    PlatformFile* f = platform_file_open(a.file.c_str());
    if (!f) return krvenc_fail("%s: cannot open the file", a.file.c_str());
    const int64_t size = platform_file_size(f);
    std::vector<uint8_t> bytes(size > 0 && size < 0x7fffffff ? size_t(size) : 0);
    const bool read = size > 0 && size < 0x7fffffff && platform_file_read(f, bytes.data(), uint32_t(size)) == size;
    platform_file_close(f);
    if (!read) return krvenc_fail("%s: cannot read the file", a.file.c_str());
    sounds.push_back({WavAudio(), &a});
    if (const char* e = wav_parse(bytes.data(), bytes.size(), &sounds.back().wav))
      return krvenc_fail("%s: %s", a.file.c_str(), e);
    if (sounds.back().wav.pcm.empty()) return krvenc_fail("%s: the WAV file holds no sound", a.file.c_str());
  }

  d->version = uint8_t(o.version);
  d->width = info.width;
  d->height = info.height;
  d->rate_num = rate_num;
  d->rate_den = rate_den;
  d->flags = (o.doubling << 28) | (info.chroma == kY4mMono ? kVideoFlagGrey : 0) |
             (source_has_alpha(src) ? kVideoFlagAlpha : 0);

  EncoderSettings s;
  s.width = info.width;
  s.height = info.height;
  s.grey = info.chroma == kY4mMono;
  s.quality = o.quality;
  s.keyint = o.keyint;
  s.speed = o.speed;
  s.scene_cuts = o.scene_cuts;
  s.alpha = source_has_alpha(src);
  s.version = o.version;
  s.header_flags = d->flags;

  PictureFeed feed;
  feed.source = src;
  std::vector<double> qualities;
  if (o.bitrate > 0) {
    if (const int code = bitrate_passes(o, src, s, fps, d, t, &qualities)) return code;
  } else if (!encode_run(&feed, source_count_hint(src), s, fps, &d->frames, platform_stderr_is_terminal(),
                         o.psnr_per_frame, t)) {
    return 1;
  }
  if (o.bitrate > 0 && t->frames) {
    const double kbps = double(t->video_bytes) * 8 / 1000 / (t->frames / fps);
    double lo = 1e9, hi = -1e9, mean = 0;
    for (double q : qualities) {
      lo = q < lo ? q : lo;
      hi = q > hi ? q : hi;
      mean += q / double(qualities.size());
    }
    if (kbps > 1.1 * o.bitrate && lo <= kEncoderLowestQuality)
      krvenc_note("--bitrate %.0f cannot be reached: the lowest rate for this clip is %.0f kbps", o.bitrate, kbps);
    else if (kbps < 0.9 * o.bitrate && hi >= 100)
      krvenc_note("--bitrate %.0f cannot be reached: the clip takes %.0f kbps at quality 100", o.bitrate, kbps);
    else
      krvenc_note("--bitrate %.0f: %.0f kbps, quality %.1f (from %.1f to %.1f)", o.bitrate, kbps, mean, lo, hi);
  }
  if (t->mismatches)
    return krvenc_fail("the decoder disagreed with the encoder in %u blocks (an encoder fault)", t->mismatches);

  const uint32_t frame_count = uint32_t(d->frames.size());
  for (const SoundInput& in : sounds) {
    const WavAudio& wav = in.wav;
    uint32_t word = 0;
    const std::vector<std::vector<uint8_t>> packets =
        audio_track_packets(wav.pcm, wav.rate, wav.channels, in.track->dct, in.track->kbps, frame_count, rate_num,
                            rate_den, &word);
    if (packets.size() != frame_count) return krvenc_fail("%s: the sound cannot be coded", in.track->file.c_str());
    AudioTrackQuality quality;
    if (audio_track_quality(wav.pcm, wav.rate, wav.channels, in.track->dct, packets, &quality))
      t->sounds.push_back({in.track->id, quality.kbps, quality.snr_db});
    const double seconds = double(wav.pcm.size() / wav.channels) / wav.rate, movie = frame_count / fps;
    if (seconds > movie + 0.5)
      krvenc_note("%s: the sound (%.1f s) is longer than the picture (%.1f s); the rest goes into the last frame",
                  in.track->file.c_str(), seconds, movie);
    // A ring of at least a second: room for the sound queued ahead of the picture.
    uint32_t largest = wav.rate * wav.channels * 2;
    for (uint32_t i = 0; i < frame_count; ++i) {
      const std::vector<uint8_t>& p = packets[i];
      if (p.size() >= 4 && load_le32(p.data()) > largest) largest = load_le32(p.data());
      d->frames[i].audio.push_back(p);
    }
    d->tracks.push_back({largest, word, in.track->id});
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  platform_binary_stdio();  // a Y4M stream on standard input is bytes, not text
  if (argc < 2) {
    std::fputs(kHelp, stderr);
    return 1;
  }
  Options o;
  const int parsed = parse_options(argc, argv, &o);
  if (parsed >= 0) return parsed;

  const double start = now_seconds();
  FrameSource* src = source_open(o.input, o.max_frames);
  if (!src) return 1;
  MovieDescription d;
  RunTotals t;
  double fps = 1;
  const int code = run(o, src, &d, &t, &fps);
  const Y4mInfo info = source_info(src);
  source_close(src);
  if (code) return code;

  const std::vector<uint8_t> movie = container_write(d);
  // Written beside OUT first, so that a failure never leaves a partial OUT that looks whole.
  const std::string part = std::string(o.output) + ".part";
  if (!platform_file_write_all(part.c_str(), movie.data(), movie.size())) {
    platform_remove(part.c_str());
    return krvenc_fail("%s: cannot write the file", part.c_str());
  }
  if (!platform_rename(part.c_str(), o.output)) {
    platform_remove(part.c_str());
    return krvenc_fail("%s: cannot rename the file to %s", part.c_str(), o.output);
  }
  const uint32_t frame_count = uint32_t(d.frames.size());
  const double seconds = frame_count / fps, took = now_seconds() - start;
  const double all = t.sse[0] + t.sse[1] + t.sse[2];
  std::printf("%s: %u frames of %ux%u at %.3f fps, %u key frames, %llu bytes, %.1f kbps (video %.1f kbps)\n",
              o.output, frame_count, info.width, info.height, fps, t.keys, (unsigned long long)movie.size(),
              double(movie.size()) * 8 / 1000 / seconds, double(t.video_bytes) * 8 / 1000 / seconds);
  std::printf("PSNR Y %.2f  U %.2f  V %.2f  overall %.2f dB;  coded in %.2f s (%.1f fps)\n",
              encoder_psnr(t.sse[0], t.samples[0]), encoder_psnr(t.sse[1], t.samples[1]),
              encoder_psnr(t.sse[2], t.samples[2]), encoder_psnr(all, t.samples[0] + t.samples[1] + t.samples[2]),
              took, took > 0 ? frame_count / took : 0.0);
  if (t.alpha_samples) std::printf("alpha PSNR %.2f dB\n", encoder_psnr(t.alpha_sse, t.alpha_samples));
  uint64_t blocks = 0;
  for (uint64_t b : t.blocks) blocks += b;
  if (blocks) {
    auto pc = [&](uint32_t k) { return 100.0 * double(t.blocks[k]) / double(blocks); };
    std::printf("blocks: skip %.1f%%  motion %.1f%%  fill %.1f%%  pattern %.1f%%  runs %.1f%%  intra %.1f%%  inter %.1f%%  "
                "residue %.1f%%  raw %.1f%%  scaled %.1f%%\n",
                pc(0), pc(2), pc(6), pc(8), pc(3), pc(5), pc(7), pc(4), pc(9), pc(1));
  }
  for (const SoundTotals& st : t.sounds)
    std::printf("sound track %u: %.1f kbps, SNR %.2f dB\n", st.id, st.kbps, st.snr_db);
  return 0;
}
