// The dequantisation tables: telling rows, listed exceptions, and every entry against the rule.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "video/transform.h"

namespace {

const double kQuantScale[16] = {1,     4.0 / 3, 5.0 / 3, 2,  8.0 / 3, 7.0 / 2, 4,  5,
                                6,     8,       12,      17, 22,      28,      34, 44};

const int kIntraBase[64] = {
    16, 16, 16, 19, 16, 19, 22, 22, 22, 22, 26, 24, 26, 22, 22, 27,  //
    27, 27, 26, 26, 26, 29, 29, 29, 27, 27, 27, 26, 34, 34, 34, 29,  //
    29, 29, 27, 27, 37, 34, 34, 32, 32, 29, 29, 38, 37, 35, 35, 34,  //
    35, 40, 40, 40, 38, 38, 48, 48, 46, 46, 58, 56, 56, 69, 69, 83,  //
};
const int kInterBase[64] = {
    16, 17, 17, 18, 18, 18, 19, 19, 19, 19, 20, 20, 20, 20, 20, 21,  //
    21, 21, 21, 21, 21, 22, 22, 22, 22, 22, 22, 22, 23, 23, 23, 23,  //
    23, 23, 23, 23, 24, 24, 24, 25, 24, 24, 24, 25, 26, 26, 26, 26,  //
    25, 27, 27, 27, 27, 27, 28, 28, 28, 28, 30, 30, 30, 31, 31, 33,  //
};

const std::pair<int, int> kIntraExceptions[] = {
    {5, 33},  {6, 48},  {6, 53},  {7, 10},  {7, 21},  {7, 42},  {9, 8},   {9, 24},  {9, 35},
    {10, 25}, {10, 48}, {11, 2},  {11, 6},  {11, 20}, {11, 24}, {11, 28}, {11, 33}, {11, 35},
    {12, 37}, {12, 40}, {12, 51}, {12, 59}, {13, 2},  {13, 11}, {13, 12}, {13, 20}, {13, 29},
    {13, 31}, {13, 48}, {13, 60}, {14, 1},  {14, 10}, {14, 11}, {14, 17}, {14, 18}, {14, 19},
    {14, 21}, {14, 25}, {14, 26}, {14, 29}, {14, 42}, {15, 21}, {15, 42}, {15, 44}, {15, 46},
    {15, 48}};
const std::pair<int, int> kInterExceptions[] = {
    {0, 18},  {1, 27},  {3, 33},  {4, 34},  {7, 18},  {8, 33},  {9, 34},  {9, 61},
    {10, 3},  {10, 37}, {10, 40}, {11, 13}, {11, 16}, {11, 18}, {11, 20}, {11, 25},
    {11, 43}, {12, 14}, {12, 19}, {12, 26}, {12, 30}, {12, 33}, {13, 43}, {13, 48},
    {13, 49}, {14, 10}, {14, 19}, {14, 22}, {14, 26}, {14, 33}, {14, 54}, {15, 12},
    {15, 17}, {15, 22}, {15, 25}, {15, 27}, {15, 41}, {15, 55}};

double a_factor(int i) {
  return i == 0 ? 1.0 : std::sqrt(2.0) * std::cos(i * 3.14159265358979323846 / 16);
}

// The rule alone: nearest integer to scale × base × A(v) × A(u) × 4096.
int32_t rule(const int base[64], int q, int k) {
  const int v = k / 8, u = k % 8;
  return int32_t(std::floor(kQuantScale[q] * base[k] * a_factor(v) * a_factor(u) * 4096 + 0.5));
}

bool listed(const std::pair<int, int>* list, size_t n, int q, int k) {
  for (size_t i = 0; i < n; ++i)
    if (list[i].first == q && list[i].second == k) return true;
  return false;
}

TEST(Quant, TellingRows) {
  const int32_t intra0[8] = {65536, 90901, 85627, 91511, 65536, 61146, 48768, 24862};
  const int32_t intra15[4] = {2883584, 3999646, 3767584, 4026499};
  const int32_t inter0[8] = {65536, 96582, 90979, 86695, 73728, 57928, 42118, 21472};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(IntraQuant[0][k], intra0[k]) << k;
  EXPECT_EQ(IntraQuant[0][63], 25879);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(IntraQuant[15][k], intra15[k]) << k;
  for (int k = 0; k < 8; ++k) EXPECT_EQ(InterQuant[0][k], inter0[k]) << k;
  EXPECT_EQ(InterQuant[0][63], 10289);
}

TEST(Quant, ExceptionCounts) {
  EXPECT_EQ(sizeof(kIntraExceptions) / sizeof(kIntraExceptions[0]) +
                sizeof(kInterExceptions) / sizeof(kInterExceptions[0]),
            84u);
}

TEST(Quant, ListedExceptionsAreOneHigher) {
  EXPECT_EQ(IntraQuant[5][33], rule(kIntraBase, 5, 33) + 1);
  EXPECT_EQ(IntraQuant[14][1], rule(kIntraBase, 14, 1) + 1);
  EXPECT_EQ(IntraQuant[15][48], rule(kIntraBase, 15, 48) + 1);
  EXPECT_EQ(InterQuant[0][18], rule(kInterBase, 0, 18) + 1);
  EXPECT_EQ(InterQuant[9][61], rule(kInterBase, 9, 61) + 1);
  EXPECT_EQ(InterQuant[15][55], rule(kInterBase, 15, 55) + 1);
  // Neighbours that are not listed follow the rule.
  EXPECT_EQ(IntraQuant[5][32], rule(kIntraBase, 5, 32));
  EXPECT_EQ(InterQuant[0][17], rule(kInterBase, 0, 17));
}

TEST(Quant, EveryEntryIsRulePlusExceptions) {
  const size_t ni = sizeof(kIntraExceptions) / sizeof(kIntraExceptions[0]);
  const size_t nn = sizeof(kInterExceptions) / sizeof(kInterExceptions[0]);
  for (int q = 0; q < 16; ++q) {
    for (int k = 0; k < 64; ++k) {
      EXPECT_EQ(IntraQuant[q][k], rule(kIntraBase, q, k) + listed(kIntraExceptions, ni, q, k))
          << "intra q " << q << " k " << k;
      EXPECT_EQ(InterQuant[q][k], rule(kInterBase, q, k) + listed(kInterExceptions, nn, q, k))
          << "inter q " << q << " k " << k;
    }
  }
}

TEST(Quant, CoefficientOrderIsAPermutationOfQuads) {
  bool seen[64] = {};
  for (int k = 0; k < 64; ++k) {
    ASSERT_LT(kCoefficientOrder[k], 64);
    EXPECT_FALSE(seen[kCoefficientOrder[k]]);
    seen[kCoefficientOrder[k]] = true;
  }
  EXPECT_EQ(kCoefficientOrder[0], 0);
  // Coding indices 4j..4j+3 form a 2 × 2 square of positions.
  for (int j = 0; j < 16; ++j) {
    int pos[4];
    for (int k = 0; k < 64; ++k)
      if (kCoefficientOrder[k] / 4 == j) pos[kCoefficientOrder[k] % 4] = k;
    EXPECT_EQ(pos[1], pos[0] + 1);
    EXPECT_EQ(pos[2], pos[0] + 8);
    EXPECT_EQ(pos[3], pos[0] + 9);
  }
}

}  // namespace
