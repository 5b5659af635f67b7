// Writers of the transform and residue blocks: the exact inverses of
// `read_coefficients` and `read_residue`. Each writes precisely the bits the reader consumes,
// in the reader's order, mirroring its set list (deferred singles inserted at the front, split
// 16-sets appended at the end, removed entries left in place), so a reader started at the
// writer's first bit stops exactly at the writer's last one.
//
// What they write is only what the reader reads: the coefficient writer writes the 4-bit plane
// count and the set-partitioning bits (not the DC, which travels in its stream, nor the 4-bit
// quantiser index that follows); the residue writer writes the 3-bit t and the bits after it
// (not the 7-bit limit, which the plane decoder reads before calling `read_residue`).
//
// Significance is coded canonically: a set's bit is 1 exactly when one of its values has a
// magnitude of at least M = 2^p in plane p.
#pragma once
#include <cstdint>

#include "encode/bit_writer.h"

// Pass as `planes` / `t` to have the writer choose the smallest count that fits.
constexpr int kAutoPlanes = -1;

// Smallest bit-plane count n (0 to 15) for positions 1 to 63 of `block` (block positions,
// row × 8 + column; position 0 is ignored): 0 when they are all 0, otherwise the bit length of
// the largest magnitude. -1 when a value is -32768 (its magnitude needs 16 planes).
int coefficient_planes(const int16_t block[64]);

// Writes the bits that `read_coefficients` reads back to exactly positions 1 to 63 of `block`
// (block positions; position 0 is ignored), with `planes` bit planes (0 to 15, or kAutoPlanes
// for coefficient_planes()). Returns false, writing nothing, when a value does not fit the
// planes (a magnitude of 2^planes or more, or -32768) or `planes` is out of range.
bool write_coefficients(BitWriter* w, const int16_t block[64], int planes = kAutoPlanes);

// The number of bits write_coefficients(w, block) writes, worked out from each value's top bit
// plane without walking the set list (the encoder asks it for every block it weighs);
// 0xffffffff where write_coefficients would refuse the block.
uint32_t coefficient_bit_count(const int16_t block[64]);

// Residue values are signed 8-bit, in block positions (row × 8 + column): the reader adds the
// value at position k to prediction sample k modulo 256, so any byte difference d can be coded
// as int8_t(d). A value v of magnitude |v| (128 for -128) needs the planes t down to 0 with
// |v| < 2^(t + 1).

// Smallest t (0 to 7) that fits all 64 values: 0 when they are all 0 or ±1.
int residue_planes(const int8_t residue[64]);

// Number of events the reader counts to decode all 64 values: one per non-zero value (when it
// becomes significant) plus one per 1 bit below its leading bit (refinements). With a limit L
// the reader decodes at most L + 1 events, so the values come back whole when this is at most
// L + 1. (It does not depend on t, as long as t fits.)
uint32_t residue_events(const int8_t residue[64]);

// Writes the bits that `read_residue` with limit `limit` reads for `residue`, with planes t down
// to 0 (t = 0 to 7, or kAutoPlanes for residue_planes()). When the values need more than
// limit + 1 events, the bits stop where the reader stops (right after event limit + 1) and the
// reader decodes only part of the values; `decoded`, when not null, receives what the reader
// gets, in block positions (equal to `residue` whenever residue_events() ≤ limit + 1).
// Returns false, writing nothing, when t is out of range or a value does not fit it.
bool write_residue(BitWriter* w, const int8_t residue[64], int t, uint32_t limit,
                   int8_t decoded[64] = nullptr);

// The forward transform in the decoder's scale: the inverse transform of the dequantised
// values F gives f(y, x) = 1/4 Σ C(u) C(v) F(v, u) cos((2x + 1) u π / 16) cos((2y + 1) v π / 16)
// with C(0) = 1/√2, C(u > 0) = 1.
void transform_forward_dct(const int16_t s[64], double f[64]);
// The scale of transform position u in the decoder's dequantisation factors: √2 cos(u π / 16)
// for u > 0, 1 for u = 0.
double transform_position_scale(int u);
