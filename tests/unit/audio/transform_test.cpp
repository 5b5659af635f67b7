// The two audio transforms against their definitions, evaluated directly in double precision.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "audio/audio_transform.h"
#include "base/cpu.h"

namespace {

const double kPi = 3.14159265358979323846;

enum Kind { kRdftForward, kRdftInverse, kDctPlus, kDctMinus };

// The definition, O(n²).
std::vector<double> reference(Kind kind, const std::vector<float>& in) {
  const size_t n = in.size();
  std::vector<double> out(n, 0.0);
  for (size_t k = 0; k < n; ++k) {
    double s = 0;
    switch (kind) {
      case kRdftForward:
        break;
      case kRdftInverse: {
        s = (in[0] + in[1] * ((k & 1) ? -1.0 : 1.0)) / 2;
        for (size_t j = 1; j < n / 2; ++j) {
          const double t = 2 * kPi * double((j * k) % n) / double(n);
          s += in[2 * j] * std::cos(t) + in[2 * j + 1] * std::sin(t);
        }
        break;
      }
      case kDctPlus:
        for (size_t j = 0; j < n; ++j) s += in[j] * std::cos(kPi * double(j) * (double(k) + 0.5) / double(n));
        break;
      case kDctMinus:
        for (size_t j = 0; j < n; ++j) s += in[j] * std::cos(kPi * (double(j) + 0.5) * double(k) / double(n));
        break;
    }
    out[k] = s;
  }
  if (kind == kRdftForward) {
    for (size_t k = 0; k <= n / 2; ++k) {
      double r = 0, im = 0;
      for (size_t j = 0; j < n; ++j) {
        const double t = 2 * kPi * double((j * k) % n) / double(n);
        r += in[j] * std::cos(t);
        im += in[j] * std::sin(t);
      }
      if (k == n / 2) out[1] = r;
      else {
        out[2 * k] = r;
        if (k) out[2 * k + 1] = im;
      }
    }
  }
  return out;
}

struct Work {
  std::vector<int> sizes;
  std::vector<float> table;
  explicit Work(uint32_t n)
      : sizes(audio_transform_sizes_entries(n), -7), table(audio_dct_table_entries(n), NAN) {
    sizes[0] = 0;
  }
};

void run(Kind kind, std::vector<float>& a, Work& w) {
  const int n = int(a.size());
  switch (kind) {
    case kRdftForward: audio_rdft(n, 1, a.data(), w.sizes.data(), w.table.data()); break;
    case kRdftInverse: audio_rdft(n, -1, a.data(), w.sizes.data(), w.table.data()); break;
    case kDctPlus: audio_dct(n, 1, a.data(), w.sizes.data(), w.table.data()); break;
    case kDctMinus: audio_dct(n, -1, a.data(), w.sizes.data(), w.table.data()); break;
  }
}

const char* kKindNames[] = {"rdft +1", "rdft -1", "dct +1", "dct -1"};

}  // namespace

// Every power of two from 4 to 4096, every transform and direction, on random input: the
// worst error, relative to the output's root mean square, stays at single-precision level.
TEST(AudioTransform, MatchesTheDefinitionsForEverySize) {
  std::mt19937 rng(12345);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  for (int kind = 0; kind < 4; ++kind) {
    for (uint32_t n = 4; n <= 4096; n *= 2) {
      std::vector<float> in(n);
      for (float& v : in) v = dist(rng);
      std::vector<double> want = reference(Kind(kind), in);
      std::vector<float> a = in;
      Work w(n);
      run(Kind(kind), a, w);
      double rms = 0, worst = 0;
      for (uint32_t k = 0; k < n; ++k) {
        rms += want[k] * want[k];
        worst = std::max(worst, std::fabs(want[k] - a[k]));
      }
      rms = std::sqrt(rms / n);
      EXPECT_LT(worst / rms, 2e-6 * std::log2(double(n)) + 1e-6)
          << kKindNames[kind] << " n=" << n << " worst=" << worst << " rms=" << rms;
    }
  }
}

// The first call builds both tables; a second call of the same size builds nothing and gives
// the same result. A smaller size after a larger one uses the larger tables correctly.
TEST(AudioTransform, TablesAreBuiltOnceAndServeSmallerSizes) {
  for (int kind = 0; kind < 4; ++kind) {
    const uint32_t n = 1024;
    Work w(n);
    std::vector<float> in(n);
    for (uint32_t i = 0; i < n; ++i) in[i] = float(std::sin(i * 0.37) + 0.25 * std::cos(i * 1.9));
    std::vector<float> a = in, b = in;
    run(Kind(kind), a, w);
    const bool dct = kind >= kDctPlus;
    EXPECT_EQ(w.sizes[0], int(n / 4));
    EXPECT_EQ(w.sizes[1], int(dct ? n : n / 4));
    std::vector<float> table = w.table;
    std::vector<int> sizes01 = {w.sizes[0], w.sizes[1]};
    run(Kind(kind), b, w);
    EXPECT_EQ(0, std::memcmp(a.data(), b.data(), n * sizeof(float))) << kKindNames[kind];
    EXPECT_EQ(0, std::memcmp(table.data(), w.table.data(), table.size() * sizeof(float)));
    EXPECT_EQ(w.sizes[0], sizes01[0]);
    EXPECT_EQ(w.sizes[1], sizes01[1]);
    // Smaller n on the same arrays.
    for (uint32_t m = 4; m < n; m *= 2) {
      std::vector<float> s(in.begin(), in.begin() + m);
      std::vector<double> want = reference(Kind(kind), s);
      run(Kind(kind), s, w);
      for (uint32_t k = 0; k < m; ++k) ASSERT_NEAR(s[k], want[k], 1e-4 * std::sqrt(double(m))) << kKindNames[kind] << " m=" << m << " k=" << k;
    }
  }
}

TEST(AudioTransform, EdgeCases) {
  for (uint32_t n = 4; n <= 4096; n *= 2) {
    Work w(n);
    std::vector<float> a(n, 0.0f);
    a[0] = 2;  // R[0] = 2: the inverse gives 1 everywhere
    audio_rdft(int(n), -1, a.data(), w.sizes.data(), w.table.data());
    for (uint32_t k = 0; k < n; ++k) ASSERT_FLOAT_EQ(a[k], 1.0f) << n << " " << k;
    std::fill(a.begin(), a.end(), 0.0f);
    a[1] = 2;  // R[n/2] = 2: +1, -1, +1, ...
    audio_rdft(int(n), -1, a.data(), w.sizes.data(), w.table.data());
    for (uint32_t k = 0; k < n; ++k) ASSERT_NEAR(a[k], (k & 1) ? -1.0f : 1.0f, 1e-6) << n << " " << k;

    Work d(n);
    std::fill(a.begin(), a.end(), 0.0f);
    a[0] = 1;  // weight 1, not 1/2
    audio_dct(int(n), 1, a.data(), d.sizes.data(), d.table.data());
    for (uint32_t k = 0; k < n; ++k) ASSERT_NEAR(a[k], 1.0f, 1e-6) << n << " " << k;

    // Forward then inverse: the input times n / 2.
    Work r(n);
    std::vector<float> in(n);
    for (uint32_t i = 0; i < n; ++i) in[i] = float((i * 7919 % 257) / 128.0 - 1.0);
    a = in;
    audio_rdft(int(n), 1, a.data(), r.sizes.data(), r.table.data());
    audio_rdft(int(n), -1, a.data(), r.sizes.data(), r.table.data());
    for (uint32_t k = 0; k < n; ++k) ASSERT_NEAR(a[k], in[k] * (n / 2.0f), 2e-5 * n) << n << " " << k;
  }
}

// The SSE2 and AVX2 stages against the plain ones: the same bits for every size, transform and
// direction, on random input, with tables built for that size or for a larger one (read with
// a stride), by either form.
TEST(AudioTransform, FastStagesMatchPlainBitForBit) {
  using Fn = void (*)(int, int, float*, int*, float*);
  struct Form {
    const char* name;
    Fn rdft, dct;
  };
  std::vector<Form> forms = {{"sse2", audio_rdft, audio_dct}};
#if defined(AUDIO_HAVE_TRANSFORM_AVX2)
  if (cpu_detected_level() >= kCpuAvx2) forms.push_back({"avx2", audio_rdft_avx2, audio_dct_avx2});
#endif
  std::mt19937 rng(777);
  std::uniform_real_distribution<float> dist(-1000.0f, 1000.0f);
  for (const Form& form : forms) {
    for (int kind = 0; kind < 4; ++kind) {
      for (int shared = 0; shared < 2; ++shared) {
        Work big_f(4096), big_p(4096);
        for (uint32_t n = 4; n <= 4096; n *= 2) {
          Work own_f(n), own_p(n);
          Work& wf = shared ? big_f : own_f;
          Work& wp = shared ? big_p : own_p;
          if (shared && n == 4) {  // build the large tables first
            std::vector<float> t(4096, 1.0f);
            const Fn fast = kind < 2 ? form.rdft : form.dct;
            const Fn plain = kind < 2 ? audio_rdft_plain : audio_dct_plain;
            fast(4096, 1, t.data(), wf.sizes.data(), wf.table.data());
            plain(4096, 1, t.data(), wp.sizes.data(), wp.table.data());
          }
          for (int round = 0; round < 3; ++round) {
            std::vector<float> a(n);
            for (float& v : a) v = dist(rng);
            std::vector<float> b = a;
            const int dir = (kind & 1) ? -1 : 1;
            if (kind < 2) {
              form.rdft(int(n), dir, a.data(), wf.sizes.data(), wf.table.data());
              audio_rdft_plain(int(n), dir, b.data(), wp.sizes.data(), wp.table.data());
            } else {
              form.dct(int(n), dir, a.data(), wf.sizes.data(), wf.table.data());
              audio_dct_plain(int(n), dir, b.data(), wp.sizes.data(), wp.table.data());
            }
            ASSERT_EQ(0, std::memcmp(a.data(), b.data(), n * sizeof(float)))
                << form.name << " " << kKindNames[kind] << " n=" << n << " shared=" << shared;
          }
        }
      }
    }
  }
}
