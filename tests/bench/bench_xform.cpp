// Micro-benchmark of the transform blocks: read_coefficients + idct_put per block,
// for sparse and dense blocks, and the parts on their own. "items_per_second" is blocks per
// second. The blocks are written once with the writer into one bit stream of kBlocks blocks and
// read back in a loop.
//
//   cmake -B build/bench -DKORVA_BENCH=ON -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/bench --target bench_xform && ./build/bench/tests/bench/bench_xform
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "encode/video_transform_writer.h"
#include "video/transform.h"

namespace {

constexpr int kBlocks = 512;

enum Density { kDcOnly = 0, kSparse = 1, kDense = 2 };

struct Stream {
  std::vector<uint8_t> bits;
  std::vector<int16_t> dc;
  std::vector<std::array<int16_t, 64>> blocks;
};

// Sparse: a few small low-frequency values, as in smooth areas. Dense: all 63 AC values up to
// ±255 (about 8 planes), as in detailed areas at a fine quantiser.
const Stream& stream(Density d) {
  static Stream s[3];
  Stream& st = s[d];
  if (!st.bits.empty()) return st;
  std::mt19937 rng(42 + d);
  BitWriter w;
  for (int b = 0; b < kBlocks; ++b) {
    std::array<int16_t, 64> block{};
    block[0] = int16_t(rng() % 2048);
    if (d == kSparse) {
      const int n = 1 + int(rng() % 5);
      for (int i = 0; i < n; ++i) {
        const int k = 1 + int(rng() % 20);
        block[k] = int16_t(int(rng() % 15) - 7);
      }
    } else if (d == kDense) {
      for (int k = 1; k < 64; ++k) block[k] = int16_t(int(rng() % 511) - 255);
    }
    write_coefficients(&w, block.data());
    st.dc.push_back(block[0]);
    st.blocks.push_back(block);
  }
  st.bits = bit_writer_finish(&w);
  return st;
}

void BM_ReadAndIdctPut(benchmark::State& state) {
  const Stream& st = stream(Density(state.range(0)));
  alignas(32) uint8_t frame[64 * 8];
  int64_t blocks = 0;
  for (auto _ : state) {
    BitReader r;
    bit_reader_init(&r, st.bits.data(), st.bits.size());
    for (int b = 0; b < kBlocks; ++b) {
      int16_t block[64];
      block[0] = st.dc[size_t(b)];
      read_coefficients(&r, block);
      idct_put(block, IntraQuant[b & 15], frame + 8 * (b & 7), 64);
    }
    benchmark::DoNotOptimize(frame);
    blocks += kBlocks;
  }
  state.SetItemsProcessed(blocks);
  state.SetBytesProcessed(int64_t(st.bits.size()) * state.iterations());
}

void BM_ReadCoefficients(benchmark::State& state) {
  const Stream& st = stream(Density(state.range(0)));
  int64_t blocks = 0;
  for (auto _ : state) {
    BitReader r;
    bit_reader_init(&r, st.bits.data(), st.bits.size());
    for (int b = 0; b < kBlocks; ++b) {
      int16_t block[64];
      block[0] = st.dc[size_t(b)];
      read_coefficients(&r, block);
      benchmark::DoNotOptimize(block);
    }
    blocks += kBlocks;
  }
  state.SetItemsProcessed(blocks);
}

void BM_IdctPut(benchmark::State& state) {
  const Stream& st = stream(Density(state.range(0)));
  alignas(32) uint8_t frame[64 * 8];
  int64_t blocks = 0;
  for (auto _ : state) {
    for (int b = 0; b < kBlocks; ++b)
      idct_put(st.blocks[size_t(b)].data(), IntraQuant[b & 15], frame + 8 * (b & 7), 64);
    benchmark::DoNotOptimize(frame);
    blocks += kBlocks;
  }
  state.SetItemsProcessed(blocks);
}

void BM_ReadResidue(benchmark::State& state) {
  // Residues of up to ±7 at a third of the positions, limit 127.
  static std::vector<uint8_t> bits;
  if (bits.empty()) {
    std::mt19937 rng(7);
    BitWriter w;
    for (int b = 0; b < kBlocks; ++b) {
      int8_t res[64] = {};
      for (int k = 0; k < 64; ++k)
        if (rng() % 3 == 0) res[k] = int8_t(int(rng() % 15) - 7);
      write_residue(&w, res, kAutoPlanes, 127);
    }
    bits = bit_writer_finish(&w);
  }
  uint8_t pred[64];
  for (int k = 0; k < 64; ++k) pred[k] = uint8_t(k * 3);
  alignas(32) uint8_t frame[64 * 8];
  int64_t blocks = 0;
  for (auto _ : state) {
    BitReader r;
    bit_reader_init(&r, bits.data(), bits.size());
    for (int b = 0; b < kBlocks; ++b) read_residue(&r, 127, pred, frame + 8 * (b & 7), 64);
    benchmark::DoNotOptimize(frame);
    blocks += kBlocks;
  }
  state.SetItemsProcessed(blocks);
}

}  // namespace

BENCHMARK(BM_ReadAndIdctPut)->Arg(kDcOnly)->Arg(kSparse)->Arg(kDense)->ArgName("density");
BENCHMARK(BM_ReadCoefficients)->Arg(kDcOnly)->Arg(kSparse)->Arg(kDense)->ArgName("density");
BENCHMARK(BM_IdctPut)->Arg(kDcOnly)->Arg(kSparse)->Arg(kDense)->ArgName("density");
BENCHMARK(BM_ReadResidue);

BENCHMARK_MAIN();
