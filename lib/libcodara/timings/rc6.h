// RC6 timings, shared by the RC6 and MCE analyzers and the RC6 codec: bi-phase
// bits of two 444 us halves (16 cycles of 36 kHz), a six-unit leader mark, a
// two-unit leader space and a double-width toggle bit.
#pragma once
#include "libcodara/timings/timing.h"

namespace codara::rc6 {

constexpr uint16_t kHalfBit = 444;
constexpr uint16_t kFullBit = 2 * kHalfBit;     // 888
constexpr uint16_t kToggleEdge = 3 * kHalfBit;  // 1332: a half bit merged with the wide toggle
constexpr uint16_t kLeaderMark = 6 * kHalfBit;  // 2664
constexpr uint16_t kLeaderSpace = kFullBit;

// The RC6 analyzer scores the leader mark against six exact units (6 x 444.4 us);
// the MCE analyzer and the codec use the rounded unit.
constexpr uint16_t kExactLeaderMark = 2666;

// Below kShortSplit an edge is a half bit everywhere. Above it the analyzer
// takes an edge from kLongSplit on as the merged toggle edge, the codec only one
// above kLongSplit: an edge of exactly 1110 us scores as 1332 but cleans to 888.
constexpr uint16_t kShortSplit = midpoint(kHalfBit, kFullBit);   // 666
constexpr uint16_t kLongSplit = midpoint(kFullBit, kToggleEdge);  // 1110

constexpr uint16_t kKeyGapMs = 27;

}  // namespace codara::rc6

// Mode 6A (and its MCE variant): the same leader and half bit, mode bits 110, a
// double-width trailer bit, then 20, 24 or 32 data bits.
namespace codara::rc6 {

constexpr uint16_t kMode6A = 6;
// The MCE variant: 32 bits under this customer code, the toggle in bit 15.
constexpr uint32_t kMceCustomer = 0x800F0000;
constexpr uint32_t kMceCustomerMask = 0xFFFF0000;
constexpr uint32_t kMceToggle = 0x8000;
constexpr uint16_t kPeriodMs = 107;

}  // namespace codara::rc6
