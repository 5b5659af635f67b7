// The encoder through its own interface: what it reports as its reconstruction is what the
// decoder makes of its packets, quality behaves, key frames fall where asked, and the input
// parsers convert and refuse as they should.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "encode/container_writer.h"
#include "encode/encoder.h"
#include "krvenc_test.h"

namespace {

struct EncodedRun {
  std::vector<uint8_t> movie;
  std::vector<Picture420> reconstruction;  // the encoder's planes after each frame
  std::vector<bool> key;
  std::vector<size_t> bytes;  // each frame's packet
  uint64_t blocks[10] = {};
  uint32_t mismatches = 0;
  double sse = 0, alpha_sse = 0;
  uint64_t samples = 0, alpha_samples = 0;
};

Picture420 visible(const FramePlanes* fp, uint32_t w, uint32_t h) {
  Picture420 p;
  p.width = w;
  p.height = h;
  const uint8_t* set = fp->plane_sets[fp->current_set];
  const uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
  for (uint32_t y = 0; y < h; ++y) p.y.insert(p.y.end(), set + size_t(y) * fp->luma_stride, set + size_t(y) * fp->luma_stride + w);
  if (const uint8_t* a = fp->alpha_planes[fp->current_set])
    for (uint32_t y = 0; y < h; ++y) p.a.insert(p.a.end(), a + size_t(y) * fp->luma_stride, a + size_t(y) * fp->luma_stride + w);
  const uint8_t* cr = set + size_t(fp->luma_stride) * fp->luma_height;
  const uint8_t* cb = cr + size_t(fp->chroma_stride) * fp->chroma_height;
  for (uint32_t y = 0; y < ch; ++y) {
    p.cb.insert(p.cb.end(), cb + size_t(y) * fp->chroma_stride, cb + size_t(y) * fp->chroma_stride + cw);
    p.cr.insert(p.cr.end(), cr + size_t(y) * fp->chroma_stride, cr + size_t(y) * fp->chroma_stride + cw);
  }
  return p;
}

// `qualities`, when given, sets each frame's quality as rate control does.
EncodedRun encode(const std::vector<Picture420>& frames, EncoderSettings s, const std::vector<double>* qualities = nullptr) {
  EncodedRun r;
  s.width = frames[0].width;
  s.height = frames[0].height;
  Encoder* e = encoder_open(s);
  EXPECT_NE(e, nullptr);
  if (!e) return r;
  MovieDescription d;
  d.width = s.width;
  d.height = s.height;
  d.flags = (s.grey ? 0x20000 : 0) | (s.alpha ? kVideoFlagAlpha : 0);
  for (const Picture420& p : frames) {
    if (qualities) encoder_set_quality(e, (*qualities)[r.key.size()]);
    const uint32_t cw = (p.width + 1) / 2;
    EncoderPicture pic{{p.y.data(), p.cb.data(), p.cr.data()}, {p.width, cw, cw}, p.a.empty() ? nullptr : p.a.data(), p.width};
    EncoderFrameStats st;
    WriterFrame f;
    EXPECT_TRUE(encoder_encode(e, pic, false, &f.video, &st));
    f.key = st.key;
    r.key.push_back(st.key);
    r.bytes.push_back(f.video.size());
    for (int k = 0; k < 10; ++k) r.blocks[k] += st.blocks[k];
    r.mismatches += st.model_mismatches;
    r.alpha_sse += st.alpha_sse;
    r.alpha_samples += st.alpha_samples;
    for (int c = 0; c < (s.grey ? 1 : 3); ++c) {
      r.sse += st.sse[c];
      r.samples += st.samples[c];
    }
    r.reconstruction.push_back(visible(encoder_planes(e), s.width, s.height));
    d.frames.push_back(std::move(f));
  }
  encoder_close(e);
  r.movie = container_write(d);
  return r;
}

std::vector<Picture420> clip(uint32_t w, uint32_t h, uint32_t n, uint32_t seed = 0) {
  std::vector<Picture420> f;
  for (uint32_t i = 0; i < n; ++i) f.push_back(test_clip_frame(w, h, i, seed));
  return f;
}

TEST(Encoder, MovieDecodesToTheEncodersReconstruction) {
  const uint32_t sizes[][2] = {{1, 1}, {37, 23}, {64, 48}, {100, 50}, {17, 40}};
  const double qualities[] = {0, 50, 90, 100};
  for (const auto& z : sizes)
    for (double q : qualities)
      for (uint32_t speed : {0u, 2u, 4u}) {
        EncoderSettings s;
        s.quality = q;
        s.speed = speed;
        s.keyint = 4;
        const EncodedRun r = encode(clip(z[0], z[1], 6), s);
        DecodedMovie d;
        ASSERT_TRUE(test_decode_movie(r.movie, &d));
        const std::string what = std::to_string(z[0]) + "x" + std::to_string(z[1]) + " q" + std::to_string(q) +
                                 " speed " + std::to_string(speed);
        EXPECT_TRUE(d.whole) << what;
        EXPECT_EQ(r.mismatches, 0u) << what;
        ASSERT_EQ(d.frames.size(), r.reconstruction.size());
        for (size_t i = 0; i < d.frames.size(); ++i) {
          EXPECT_EQ(d.frames[i].y, r.reconstruction[i].y) << what << " frame " << i;
          EXPECT_EQ(d.frames[i].cb, r.reconstruction[i].cb) << what << " frame " << i;
          EXPECT_EQ(d.frames[i].cr, r.reconstruction[i].cr) << what << " frame " << i;
        }
      }
}

// Camera footage (sub-pixel pans over fine detail, grain) through every speed, with the quality
// changing from frame to frame as rate control changes it, down below quality 0: the decoder
// shows exactly what the encoder predicts from.
TEST(Encoder, CameraFootageDecodesToTheReconstruction) {
  std::vector<Picture420> frames;
  for (uint32_t i = 0; i < 8; ++i) frames.push_back(test_camera_frame(96, 72, i, 3));
  const std::vector<double> qualities = {40, 36, 30, 70, 0, -20, -100, 95};
  for (uint32_t speed : {0u, 2u, 4u}) {
    EncoderSettings s;
    s.speed = speed;
    const EncodedRun r = encode(frames, s, &qualities);
    DecodedMovie d;
    ASSERT_TRUE(test_decode_movie(r.movie, &d));
    EXPECT_TRUE(d.whole);
    EXPECT_EQ(r.mismatches, 0u) << "speed " << speed;
    ASSERT_EQ(d.frames.size(), frames.size());
    for (size_t i = 0; i < d.frames.size(); ++i) {
      EXPECT_EQ(d.frames[i].y, r.reconstruction[i].y) << "speed " << speed << " frame " << i;
      EXPECT_EQ(d.frames[i].cb, r.reconstruction[i].cb) << "speed " << speed << " frame " << i;
      EXPECT_EQ(d.frames[i].cr, r.reconstruction[i].cr) << "speed " << speed << " frame " << i;
    }
  }
}

// Below quality 0 the frames keep getting smaller, down to frames of skips.
TEST(Encoder, BelowQualityZeroKeepsLowering) {
  std::vector<Picture420> frames;
  for (uint32_t i = 0; i < 6; ++i) frames.push_back(test_camera_frame(128, 96, i));
  size_t last = SIZE_MAX, at_zero = 0;
  for (double q : {0.0, -4.0, -12.0, kEncoderLowestQuality}) {
    EncoderSettings s;
    s.quality = q;
    const EncodedRun r = encode(frames, s);
    size_t inter = 0;
    for (size_t i = 1; i < r.bytes.size(); ++i) inter += r.bytes[i];
    EXPECT_LE(inter, last) << q;
    last = inter;
    if (q == 0) at_zero = inter;
    EXPECT_EQ(r.mismatches, 0u);
    if (q == kEncoderLowestQuality) {
      uint64_t all = 0;
      for (uint64_t b : r.blocks) all += b;
      const double inter_blocks = double(all) * double(frames.size() - 1) / double(frames.size());
      EXPECT_GT(double(r.blocks[0]), 0.9 * inter_blocks);  // kind 0: skip
      EXPECT_LT(inter, at_zero);
    }
  }
}

TEST(Encoder, QualityTradesSizeForFidelity) {
  const std::vector<Picture420> frames = clip(96, 64, 8);
  double last_psnr = 0;
  size_t last_size = 0;
  for (double q : {10.0, 50.0, 80.0, 100.0}) {
    EncoderSettings s;
    s.quality = q;
    const EncodedRun r = encode(frames, s);
    const double psnr = encoder_psnr(r.sse, r.samples);
    EXPECT_GT(psnr, last_psnr) << q;
    EXPECT_GT(r.movie.size(), last_size) << q;
    last_psnr = psnr;
    last_size = r.movie.size();
    if (q == 50) {
      EXPECT_GT(psnr, 38) << q;
    }
    if (q == 100) {
      EXPECT_EQ(psnr, 99) << "quality 100 is exact";
    }
  }
  // The statistics agree with the decoded movie.
  EncoderSettings s;
  const EncodedRun r = encode(frames, s);
  DecodedMovie d;
  ASSERT_TRUE(test_decode_movie(r.movie, &d));
  double sse = 0;
  uint64_t n = 0;
  for (size_t i = 0; i < frames.size(); ++i)
    for (int c = 0; c < 3; ++c) {
      const std::vector<uint8_t>& a = c == 0 ? frames[i].y : c == 1 ? frames[i].cb : frames[i].cr;
      const std::vector<uint8_t>& b = c == 0 ? d.frames[i].y : c == 1 ? d.frames[i].cb : d.frames[i].cr;
      for (size_t k = 0; k < a.size(); ++k) sse += (double(a[k]) - b[k]) * (double(a[k]) - b[k]);
      n += a.size();
    }
  EXPECT_DOUBLE_EQ(sse, r.sse);
  EXPECT_EQ(n, r.samples);
}

TEST(Encoder, KeyFramesWhereAskedAndAtCuts) {
  EncoderSettings s;
  s.keyint = 4;
  s.scene_cuts = false;
  EncodedRun r = encode(clip(48, 32, 10), s);
  const std::vector<bool> every4 = {true, false, false, false, true, false, false, false, true, false};
  EXPECT_EQ(r.key, every4);
  DecodedMovie d;
  ASSERT_TRUE(test_decode_movie(r.movie, &d));
  EXPECT_EQ(d.key, every4);

  // A cut to a different picture: a key frame there and nowhere else.
  std::vector<Picture420> frames = clip(48, 32, 5);
  for (uint32_t i = 0; i < 5; ++i) {
    Picture420 p = test_clip_frame(48, 32, i, 3);
    for (uint8_t& v : p.y) v = uint8_t(255 - v);
    frames.push_back(p);
  }
  s.keyint = 0;
  s.scene_cuts = true;
  r = encode(frames, s);
  const std::vector<bool> cut = {true, false, false, false, false, true, false, false, false, false};
  EXPECT_EQ(r.key, cut);
  // Key frames refer to nothing before them: the second half alone decodes the same (the first
  // frame at the quality of the cut).
  s.key_boost = false;
  r = encode(frames, s);
  const EncodedRun half = encode(std::vector<Picture420>(frames.begin() + 5, frames.end()), s);
  EXPECT_EQ(half.reconstruction[0].y, r.reconstruction[5].y);
}

TEST(Encoder, FirstAndPeriodicKeyFramesCodedFiner) {
  // The same clip with and without the boost: the first frame takes more bits with it, less so
  // when key frames come every other frame; quality 99 and up is left as asked.
  const std::vector<Picture420> frames = clip(64, 48, 6);
  EncoderSettings s;
  s.quality = 40;
  s.keyint = 0;
  s.scene_cuts = false;
  s.key_boost = false;
  const EncodedRun plain = encode(frames, s);
  s.key_boost = true;
  const EncodedRun boosted = encode(frames, s);
  EXPECT_GT(boosted.bytes[0], plain.bytes[0] + plain.bytes[0] / 4);
  s.keyint = 2;
  const EncodedRun every2 = encode(frames, s);
  EXPECT_LT(every2.bytes[0], boosted.bytes[0]);
  s.quality = 99.5;
  const EncodedRun top = encode(frames, s);
  s.key_boost = false;
  const EncodedRun top_plain = encode(frames, s);
  EXPECT_EQ(top.bytes, top_plain.bytes);
}

// A clip with an alpha plane: a soft disc drifting over a hard-edged opaque bar.
std::vector<Picture420> alpha_clip(uint32_t w, uint32_t h, uint32_t n) {
  std::vector<Picture420> f = clip(w, h, n, 5);
  for (uint32_t i = 0; i < n; ++i) {
    f[i].a.resize(size_t(w) * h);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const double dx = double(x) - (w / 3.0 + 1.5 * i), dy = double(y) - h / 2.0;
        const double r = std::sqrt(dx * dx + dy * dy) / (h / 3.0 + 1);
        int v = r < 1 ? int(255 * (1 - r * r)) : 0;
        if (x >= w - w / 4) v = 255;
        f[i].a[size_t(y) * w + x] = uint8_t(v);
      }
  }
  return f;
}

TEST(Encoder, AlphaPlaneDecodesAsGiven) {
  for (const auto& z : {std::pair<uint32_t, uint32_t>{37, 23}, {64, 48}})
    for (double q : {100.0, 60.0})
      for (bool grey : {false, true}) {
        const std::vector<Picture420> frames = alpha_clip(z.first, z.second, 6);
        EncoderSettings s;
        s.quality = q;
        s.grey = grey;
        s.alpha = true;
        s.keyint = 4;
        const EncodedRun r = encode(frames, s);
        const std::string what = std::to_string(z.first) + "x" + std::to_string(z.second) + " q" +
                                 std::to_string(q) + (grey ? " grey" : "");
        DecodedMovie d;
        ASSERT_TRUE(test_decode_movie(r.movie, &d)) << what;
        EXPECT_TRUE(d.whole) << what;
        EXPECT_EQ(r.mismatches, 0u) << what;
        EXPECT_TRUE(d.header.flags & kVideoFlagAlpha) << what;
        ASSERT_EQ(d.frames.size(), frames.size());
        for (size_t i = 0; i < frames.size(); ++i) {
          ASSERT_EQ(d.frames[i].a.size(), frames[i].a.size()) << what;
          EXPECT_EQ(d.frames[i].a, r.reconstruction[i].a) << what << " frame " << i;
          EXPECT_EQ(d.frames[i].y, r.reconstruction[i].y) << what << " frame " << i;
          if (!grey) {
            EXPECT_EQ(d.frames[i].cb, r.reconstruction[i].cb) << what << " frame " << i;
          }
          if (q == 100) {
            EXPECT_EQ(d.frames[i].a, frames[i].a) << what << " frame " << i;
            EXPECT_EQ(d.frames[i].y, frames[i].y) << what << " frame " << i;
          } else {
            EXPECT_GT(test_psnr(d.frames[i].a, frames[i].a), 38) << what << " frame " << i;
          }
        }
        EXPECT_EQ(r.alpha_samples, uint64_t(z.first) * z.second * frames.size()) << what;
        if (q == 100) {
          EXPECT_EQ(r.alpha_sse, 0) << what;
        }
      }
  // A picture given without its alpha plane is opaque.
  std::vector<Picture420> frames = alpha_clip(24, 16, 2);
  frames[1].a.clear();
  EncoderSettings s;
  s.alpha = true;
  const EncodedRun r = encode(frames, s);
  DecodedMovie d;
  ASSERT_TRUE(test_decode_movie(r.movie, &d));
  EXPECT_EQ(d.frames[1].a, std::vector<uint8_t>(24 * 16, 255));
}

// Smooth areas take scaled 16 × 16 blocks; the movie still decodes to the reconstruction, and at
// quality 100 only where they are exact (flat areas).
TEST(Encoder, ScaledBlocksForSmoothAreas) {
  std::vector<Picture420> frames;
  for (uint32_t i = 0; i < 4; ++i) {
    Picture420 p = test_clip_frame(72, 40, i);
    for (uint32_t y = 0; y < 40; ++y)
      for (uint32_t x = 0; x < 72; ++x)
        p.y[y * 72 + x] = uint8_t(x < 32 ? 90 : 60 + x + y / 2 + 2 * i);  // flat, then a gentle slope
    frames.push_back(p);
  }
  for (double q : {40.0, 100.0}) {
    EncoderSettings s;
    s.quality = q;
    s.width = 72;
    s.height = 40;
    Encoder* e = encoder_open(s);
    ASSERT_NE(e, nullptr);
    MovieDescription md;
    md.width = 72;
    md.height = 40;
    uint64_t scaled = 0;
    uint32_t mismatches = 0;
    std::vector<Picture420> rec;
    for (const Picture420& p : frames) {
      EncoderPicture pic{{p.y.data(), p.cb.data(), p.cr.data()}, {72, 36, 36}};
      EncoderFrameStats st;
      WriterFrame f;
      ASSERT_TRUE(encoder_encode(e, pic, false, &f.video, &st));
      f.key = st.key;
      scaled += st.blocks[1];
      mismatches += st.model_mismatches;
      rec.push_back(visible(encoder_planes(e), 72, 40));
      md.frames.push_back(std::move(f));
    }
    encoder_close(e);
    EXPECT_GT(scaled, 0u) << q;
    EXPECT_EQ(mismatches, 0u) << q;
    DecodedMovie d;
    ASSERT_TRUE(test_decode_movie(container_write(md), &d));
    EXPECT_TRUE(d.whole);
    for (size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(d.frames[i].y, rec[i].y) << q << " frame " << i;
      EXPECT_EQ(d.frames[i].cb, rec[i].cb) << q << " frame " << i;
      if (q == 100) {
        EXPECT_EQ(d.frames[i].y, frames[i].y) << i;
      }
    }
  }
}

TEST(Encoder, GreyMoviesCodeOnlyLuma) {
  EncoderSettings s;
  s.grey = true;
  const EncodedRun r = encode(clip(40, 24, 4), s);
  DecodedMovie d;
  ASSERT_TRUE(test_decode_movie(r.movie, &d));
  EXPECT_TRUE(d.whole);
  EXPECT_EQ(r.mismatches, 0u);
  for (size_t i = 0; i < d.frames.size(); ++i) EXPECT_EQ(d.frames[i].y, r.reconstruction[i].y);
  EXPECT_GT(encoder_psnr(r.sse, r.samples), 38);
}

TEST(EncodeInput, Y4mHeaders) {
  struct Case {
    const char* line;
    bool ok;
    uint32_t w, h, num, den;
    Y4mChroma chroma;
  };
  const Case cases[] = {
      {"YUV4MPEG2 W320 H240 F30000:1001 Ip A1:1 C420jpeg XYSCSS=420JPEG", true, 320, 240, 30000, 1001, kY4m420},
      {"YUV4MPEG2 W7 H5 C420paldv", true, 7, 5, 0, 0, kY4m420},
      {"YUV4MPEG2 H5 W7 F25:1", true, 7, 5, 25, 1, kY4m420},
      {"YUV4MPEG2 W16 H16 Cmono", true, 16, 16, 0, 0, kY4mMono},
      {"YUV4MPEG2 W16 H16 C422", true, 16, 16, 0, 0, kY4m422},
      {"YUV4MPEG2 W16 H16 C444", true, 16, 16, 0, 0, kY4m444},
      {"YUV4MPEG2 W16 H16 C420p10", false, 0, 0, 0, 0, kY4m420},
      {"YUV4MPEG2 W16 H16 C411", false, 0, 0, 0, 0, kY4m420},
      {"YUV4MPEG2 W16", false, 0, 0, 0, 0, kY4m420},
      {"YUV4MPEG2 W0 H16", false, 0, 0, 0, 0, kY4m420},
      {"YUV4MPEG2 W16384 H16385", false, 0, 0, 0, 0, kY4m420},
      {"YUV4MPEG2 W16 H16 F25", false, 0, 0, 0, 0, kY4m420},
      {"YUV4MPEG2 W16 H16 F25:0", false, 0, 0, 0, 0, kY4m420},
      {"YUV4MPEG W16 H16", false, 0, 0, 0, 0, kY4m420},
      {"YUV4MPEG2X W16 H16", false, 0, 0, 0, 0, kY4m420},
  };
  for (const Case& c : cases) {
    Y4mInfo info;
    const char* e = y4m_parse_header(c.line, std::strlen(c.line), &info);
    EXPECT_EQ(e == nullptr, c.ok) << c.line;
    if (!c.ok || e) continue;
    EXPECT_EQ(info.width, c.w) << c.line;
    EXPECT_EQ(info.height, c.h) << c.line;
    EXPECT_EQ(info.rate_num, c.num) << c.line;
    EXPECT_EQ(info.rate_den, c.den) << c.line;
    EXPECT_EQ(info.chroma, c.chroma) << c.line;
  }
}

TEST(EncodeInput, ChromaAveragedDown) {
  // 3 × 3: 4:4:4 chroma 3 × 3 -> 2 × 2; 4:2:2 chroma 2 × 3 -> 2 × 2 (edges stand alone).
  Y4mInfo info;
  info.width = 3;
  info.height = 3;
  info.chroma = kY4m444;
  std::vector<uint8_t> data(9 * 3);
  for (int k = 0; k < 9; ++k) {
    data[k] = uint8_t(k);
    data[9 + k] = uint8_t(10 * k);        // Cb
    data[18 + k] = uint8_t(200 - 10 * k); // Cr
  }
  ASSERT_EQ(y4m_frame_bytes(info), data.size());
  Picture420 p;
  y4m_to_420(info, data.data(), &p);
  EXPECT_EQ(p.y, std::vector<uint8_t>(data.begin(), data.begin() + 9));
  EXPECT_EQ(p.cb, (std::vector<uint8_t>{20, 35, 65, 80}));  // (0+10+30+40)/4, (20+20+50+50)/4, ...
  EXPECT_EQ(p.cr, (std::vector<uint8_t>{180, 165, 135, 120}));
  info.chroma = kY4m422;
  std::vector<uint8_t> d422(9 + 2 * 6);
  for (int k = 0; k < 6; ++k) {
    d422[9 + k] = uint8_t(10 * k);
    d422[15 + k] = uint8_t(100 + k);
  }
  ASSERT_EQ(y4m_frame_bytes(info), d422.size());
  y4m_to_420(info, d422.data(), &p);
  EXPECT_EQ(p.cb, (std::vector<uint8_t>{10, 20, 40, 50}));  // rows 0+1 averaged, row 2 alone
  EXPECT_EQ(p.cr, (std::vector<uint8_t>{101, 102, 104, 105}));
  info.chroma = kY4mMono;
  y4m_to_420(info, data.data(), &p);
  EXPECT_EQ(p.cb, std::vector<uint8_t>(4, 128));
}

TEST(EncodeInput, WavFiles) {
  const std::vector<int16_t> pcm = {0, 1000, -1000, 32767, -32768, 256};
  WavAudio w;
  std::string s = test_wav(pcm, 22050, 2, 16);
  ASSERT_EQ(wav_parse(reinterpret_cast<const uint8_t*>(s.data()), s.size(), &w), nullptr);
  EXPECT_EQ(w.rate, 22050u);
  EXPECT_EQ(w.channels, 2u);
  EXPECT_EQ(w.pcm, pcm);
  s = test_wav({0, 256, -256, 32767}, 8000, 1, 8);
  ASSERT_EQ(wav_parse(reinterpret_cast<const uint8_t*>(s.data()), s.size(), &w), nullptr);
  EXPECT_EQ(w.pcm, (std::vector<int16_t>{0, 256, -256, 32512}));
  const std::string bad[] = {
      "RIFF....WAVX", test_wav(pcm, 22050, 2, 24), test_wav(pcm, 96000, 2, 16), test_wav(pcm, 22050, 3, 16),
      test_wav(pcm, 22050, 2, 16).substr(0, 30),
  };
  for (const std::string& b : bad)
    EXPECT_NE(wav_parse(reinterpret_cast<const uint8_t*>(b.data()), b.size(), &w), nullptr);
  std::string adpcm = test_wav(pcm, 22050, 2, 16);
  adpcm[20] = 2;
  EXPECT_NE(wav_parse(reinterpret_cast<const uint8_t*>(adpcm.data()), adpcm.size(), &w), nullptr);
}

}  // namespace

namespace {

TEST(EncodeInput, SequenceNames) {
  std::string n;
  EXPECT_TRUE(sequence_name("shots/frame_%04d.png", 7, &n));
  EXPECT_EQ(n, "shots/frame_0007.png");
  EXPECT_TRUE(sequence_name("a%d-100%%.png", 12345, &n));
  EXPECT_EQ(n, "a12345-100%.png");
  EXPECT_TRUE(sequence_name("%3d", 5, &n));
  EXPECT_EQ(n, "  5");
  for (const char* bad : {"plain.png", "%s.png", "%d_%d.png", "%x", "%099d", "%"}) EXPECT_FALSE(sequence_name(bad, 1, &n)) << bad;
}

TEST(EncodeInput, RgbComesBackThroughThePlayersArithmetic) {
  // Flat colours: the players' integer YCbCr-to-RGB rules give each back within a few steps.
  const uint8_t colours[][3] = {{0, 0, 0}, {255, 255, 255}, {128, 128, 128}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {30, 200, 90}};
  for (const auto& c : colours) {
    std::vector<uint8_t> px;
    for (int k = 0; k < 4; ++k) px.insert(px.end(), c, c + 3);
    Picture420 p;
    rgb_to_420(px.data(), 3, 2, 2, &p);
    const int y = p.y[0], cb = p.cb[0], cr = p.cr[0];
    auto clamp = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
    const int l = (y - 16 < 0 ? 0 : y - 16 > 219 ? 219 : y - 16) * 38154 / 32768;
    const int r = clamp(l + 52299 * (cr - 128) / 32768);
    const int g = clamp(l + -26639 * (cr - 128) / 32768 + -12837 * (cb - 128) / 32768);
    const int b = clamp(l + 66101 * (cb - 128) / 32768);
    EXPECT_NEAR(r, c[0], 4) << int(c[0]) << "," << int(c[1]) << "," << int(c[2]);
    EXPECT_NEAR(g, c[1], 4) << int(c[0]) << "," << int(c[1]) << "," << int(c[2]);
    EXPECT_NEAR(b, c[2], 4) << int(c[0]) << "," << int(c[1]) << "," << int(c[2]);
  }
}

}  // namespace

namespace {

TEST(Encoder, WideExactPicturesStayWithinTheStreamLimits) {
  // 4800 samples of noise a row: all raw blocks would need 38400 colours a row, more than one
  // chunk can hold; the encoder must code the frame anyway (and the decoder agree).
  Picture420 p;
  p.width = 4800;
  p.height = 8;
  uint32_t x = 12345;
  auto noise = [&] {
    x = x * 1103515245u + 12345u;
    return uint8_t(x >> 23);
  };
  for (uint32_t k = 0; k < 4800 * 8; ++k) p.y.push_back(noise());
  p.cb.assign(2400 * 4, 128);
  p.cr.assign(2400 * 4, 128);
  EncoderSettings s;
  s.quality = 100;
  const EncodedRun r = encode({p, p}, s);
  EXPECT_EQ(r.mismatches, 0u);
  DecodedMovie d;
  ASSERT_TRUE(test_decode_movie(r.movie, &d));
  EXPECT_TRUE(d.whole);
  ASSERT_EQ(d.frames.size(), 2u);
  EXPECT_EQ(d.frames[1].y, r.reconstruction[1].y);
  EXPECT_GT(test_psnr(d.frames[0].y, p.y), 30);
}

}  // namespace
