// RC5 timings, shared by the RC5 analyzer and codec: bi-phase bits of two 889 us halves.
#pragma once
#include "libcodara/timings/timing.h"

namespace codara::rc5 {

constexpr uint16_t kHalfBit = 889;
constexpr uint16_t kFullBit = 2 * kHalfBit;      // 1778: two halves merged
constexpr uint16_t kBitAndHalf = 3 * kHalfBit;   // 2667: around the toggle bit

// The analyzer scores an edge below the split as a half bit; the codec, like
// Manchester decoding, takes one at or below it as a half bit. An edge of
// exactly 1333 us therefore scores as a full bit but decodes as a half bit.
constexpr uint16_t kSplit = midpoint(kHalfBit, kFullBit);             // 1333
constexpr uint16_t kLongSplit = midpoint(kFullBit, kBitAndHalf);      // 2222

constexpr uint16_t kKeyGapMs = 28;

}  // namespace codara::rc5
