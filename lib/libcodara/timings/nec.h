// NEC family timings, shared by the NEC analyzer and codec.
//
// Received edges are judged against the nominal durations of the 564 us unit:
// 16 units of leader mark (8 for the NECx-style leader), 8 of leader space (4 in
// a repeat frame), one unit of mark, one or three of space. The encoder sends the
// rounder durations NEC remotes use.
#pragma once
#include "libcodara/timings/timing.h"

namespace codara::nec {

constexpr uint16_t kUnit = 564;
constexpr uint16_t kLeaderMark = 16 * kUnit;     // 9024
constexpr uint16_t kShortLeaderMark = 8 * kUnit;  // 4512
constexpr uint16_t kLeaderSpace = 8 * kUnit;      // 4512
constexpr uint16_t kRepeatSpace = 4 * kUnit;      // 2256
constexpr uint16_t kShortEdge = kUnit;            // every mark, the space of a 0
constexpr uint16_t kLongEdge = 3 * kUnit;         // the space of a 1

// Below the split an edge counts as the shorter duration (analyzer and cleaned form).
constexpr uint16_t kLeaderSplit = midpoint(kShortLeaderMark, kLeaderMark);  // 6768
constexpr uint16_t kLeaderSpaceSplit = midpoint(kRepeatSpace, kLeaderSpace);  // 3384
constexpr uint16_t kBitSplit = midpoint(kShortEdge, kLongEdge);             // 1128

// The bit reader takes a space longer than two 562 us units as a 1. It predates
// the cleaned form, which splits at kBitSplit: a space of 1125 to 1127 us reads
// as a 1 yet is cleaned (and hashed) as a short edge. Stored scancodes and
// hashes depend on both, so both stay.
constexpr uint16_t kOneSpaceMin = 1124;

// The cleaned form writes the sent leader space, not the 8-unit nominal.
constexpr uint16_t kCleanedLeaderSpace = 4500;

// What the encoder and transmitter send.
constexpr uint16_t kSentLeaderMark = 9000;
constexpr uint16_t kSentLeaderSpace = 4500;
constexpr uint16_t kSentBitMark = 560;
constexpr uint16_t kSentZeroSpace = 560;
constexpr uint16_t kSentOneSpace = 1690;
constexpr uint16_t kSentClosingMark = 560;
constexpr uint16_t kKeyGapMs = 40;

// The repeat frame as decoded (cleaned) and as sent.
constexpr uint16_t kCleanedRepeat[3] = {9000, 2250, 562};
constexpr uint16_t kSentRepeat[3] = {8992, 2248, 562};
constexpr uint16_t kRepeatGapMs = 65;

}  // namespace codara::nec
