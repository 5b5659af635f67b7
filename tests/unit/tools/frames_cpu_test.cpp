// krvtool frames with --cpu: the integer converters' surfaces with plain, and SIMD surfaces
// that differ from them only where luma is above 235 (the documented difference of the SIMD
// arithmetic), over a whole movie whose samples cover the full range.
#include <gtest/gtest.h>

#include "tools/tool_test.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "container/container.h"
#include "base/cpu.h"
#include "encode/sample_movie.h"
#include "platform/platform.h"
#include "tests/unit/convert/convert_model.h"
#include "video/video_decoder.h"

namespace {

TEST(FramesTool, CpuLevelsAgainstTheIntegerModel) {
  SampleMovieSpec s;
  s.width = 64;
  s.height = 48;
  s.frames = 4;
  s.content = 1;  // the typical synthetic stream: samples over the whole range
  s.audio_rate = 0;
  const std::vector<uint8_t> bytes = sample_movie_write(s);
  ASSERT_FALSE(bytes.empty());
  const std::string movie = tmp("cpu_levels.krv");
  ASSERT_TRUE(platform_file_write_all(movie.c_str(), bytes.data(), bytes.size()));

  // The decoded planes of every frame, and each frame's model pictures.
  ContainerView v;
  ASSERT_EQ(container_open_view(bytes.data(), bytes.size(), &v), nullptr);
  VideoStore store;
  ASSERT_TRUE(video_store_open(&store, s.width, s.height, false, false));
  const model::Target plain{kFamilyBgr32, 3, false, false}, simd{kFamilyBgr32, 3, true, false};
  std::vector<std::vector<uint8_t>> want_plain, want_simd, bright;
  for (uint32_t i = 0; i < s.frames; ++i) {
    const uint8_t* frame;
    uint32_t size;
    bool key;
    ASSERT_TRUE(container_frame(&v, i, &frame, &size, &key));
    const uint8_t* packet;
    uint32_t packet_size;
    ASSERT_EQ(container_video_packet(frame, size, v.header.track_count, &packet, &packet_size), nullptr);
    FramePlanes* p = &store.planes;
    video_decode_next(p, s.width, s.height, packet, packet_size, key, 0, v.header.flags);
    const uint8_t* luma = p->plane_sets[p->current_set];
    const uint8_t* first = luma + size_t(p->luma_stride) * p->luma_height;
    const uint8_t* second = first + size_t(p->chroma_stride) * p->chroma_height;
    std::vector<uint8_t> a(s.width * s.height * 4), b(a.size()), over(s.width * s.height);
    for (uint32_t y = 0; y < s.height; ++y)
      for (uint32_t x = 0; x < s.width; ++x) {
        const int l = luma[y * p->luma_stride + x];
        const size_t c = size_t(y / 2) * p->chroma_stride + x / 2;
        model::rgb_pixel(plain, l, second[c], first[c], 0, &a[4 * (y * s.width + x)]);
        model::rgb_pixel(simd, l, second[c], first[c], 0, &b[4 * (y * s.width + x)]);
        over[y * s.width + x] = l > 235;
      }
    want_plain.push_back(a);
    want_simd.push_back(b);
    bright.push_back(over);
  }
  video_store_close(&store);

  uint32_t bright_pixels = 0, differing = 0;
  for (const uint8_t* o = bright[0].data(); o < bright[0].data() + bright[0].size(); ++o) bright_pixels += *o;
  ASSERT_GT(bright_pixels, 0u) << "the movie must reach above 235";
  for (uint32_t level = kCpuPlain; level <= cpu_detected_level(); ++level) {
    SCOPED_TRACE(cpu_level_name(level));
    const std::string dir = tmp(std::string("cpu_") + cpu_level_name(level));
    ASSERT_EQ(run("rm -rf " + dir + " && mkdir -p " + dir), 0);
    ASSERT_EQ(run(tmp("../krvtool") + " frames " + movie + " " + dir + " --format 3 --raw --cpu " +
                  cpu_level_name(level) + " > /dev/null"),
              0);
    for (uint32_t i = 0; i < s.frames; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "/frame_%06u.raw", i);
      const std::vector<uint8_t> got = read_all(dir + name);
      ASSERT_EQ(got.size(), want_plain[i].size());
      for (size_t px = 0; px < bright[i].size(); ++px) {
        const uint8_t* g = &got[4 * px];
        if (level == kCpuPlain) {
          ASSERT_EQ(0, std::memcmp(g, &want_plain[i][4 * px], 4)) << "frame " << i << " pixel " << px;
        } else {
          ASSERT_EQ(0, std::memcmp(g, &want_simd[i][4 * px], 4)) << "frame " << i << " pixel " << px;
          // Where luma is at most 235 the SIMD arithmetic gives the integer result.
          if (!bright[i][px]) {
            ASSERT_EQ(0, std::memcmp(g, &want_plain[i][4 * px], 4)) << "frame " << i << " pixel " << px;
          } else {
            differing += std::memcmp(g, &want_plain[i][4 * px], 4) != 0;
          }
        }
      }
    }
  }
  if (cpu_detected_level() >= kCpuSse2) {
    EXPECT_GT(differing, 0u);  // the difference is real, and where it is documented
  }
  EXPECT_NE(run(tmp("../krvtool") + " frames " + movie + " " + tmp("cpu_x") + " --format 3 --cpu mmx 2> /dev/null"), 0);
  EXPECT_NE(run(tmp("../krvtool") + " frames " + movie + " " + tmp("cpu_x") + " --format 3 --cpu 2> /dev/null"), 0);

  // KORVA_CPU does what --cpu does; --cpu may stand before the command and wins over KORVA_CPU;
  // a KORVA_CPU the library does not know limits nothing (krvtool only warns).
  const std::string top = cpu_level_name(cpu_detected_level());
  struct Variant {
    std::string env, before;
    const char* after;
    uint32_t level;
  };
  const Variant variants[] = {
      {"KORVA_CPU=plain", "", "", kCpuPlain},
      {"", "--cpu plain", "", kCpuPlain},
      {"KORVA_CPU=plain", "", " --cpu ", cpu_detected_level()},
      {"KORVA_CPU=mmx", "", "", cpu_detected_level()},
      {"KORVA_CPU=", "", "", cpu_detected_level()},
  };
  for (const Variant& va : variants) {
    const std::string dir = tmp("cpu_variant");
    const std::string after = *va.after ? std::string(va.after) + top : std::string();
    const std::string command = "env " + (va.env.empty() ? std::string("-u KORVA_CPU") : va.env) + " " +
                                tmp("../krvtool") + " " + va.before + " frames " + movie + " " + dir +
                                " --format 3 --raw" + after + " > /dev/null 2> " + tmp("cpu_variant.err");
    SCOPED_TRACE(command);
    ASSERT_EQ(run("rm -rf " + dir + " && mkdir -p " + dir), 0);
    ASSERT_EQ(run(command), 0);
    const std::vector<uint8_t> err = read_all(tmp("cpu_variant.err"));
    EXPECT_EQ(err.empty(), va.env != "KORVA_CPU=mmx") << std::string(err.begin(), err.end());
    for (uint32_t i = 0; i < s.frames; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "/frame_%06u.raw", i);
      EXPECT_EQ(read_all(dir + name), read_all(tmp(std::string("cpu_") + cpu_level_name(va.level)) + name))
          << "frame " << i;
    }
  }
}

// The sound of a movie is the same at every level (krvtool pcm).
TEST(FramesTool, SoundIsTheSameAtEveryLevel) {
  SampleMovieSpec s;
  s.frames = 6;
  s.audio_channels = 2;
  const std::vector<uint8_t> bytes = sample_movie_write(s);
  ASSERT_FALSE(bytes.empty());
  const std::string movie = tmp("cpu_sound.krv");
  ASSERT_TRUE(platform_file_write_all(movie.c_str(), bytes.data(), bytes.size()));
  std::vector<uint8_t> reference;
  for (uint32_t level = kCpuPlain; level <= cpu_detected_level(); ++level) {
    SCOPED_TRACE(cpu_level_name(level));
    const std::string out = tmp(std::string("cpu_sound_") + cpu_level_name(level) + ".raw");
    ASSERT_EQ(run(tmp("../krvtool") + " pcm " + movie + " 0 " + out + " --cpu " + cpu_level_name(level) + " > /dev/null"), 0);
    const std::vector<uint8_t> pcm = read_all(out);
    if (level == kCpuPlain) reference = pcm;
    ASSERT_GT(pcm.size(), 1000u);
    EXPECT_EQ(pcm, reference);
  }
}

}  // namespace
