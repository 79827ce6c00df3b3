// Timings of the dongle maker's own remote protocol, shared by its analyzer and
// codec: leader, an 8-bit ID in pulse-distance form, a pause, then 12 Manchester bits.
#pragma once
#include "libcodara/timings/timing.h"

namespace codara::zivra {

constexpr uint16_t kLeaderMark = 4900;
constexpr uint16_t kLeaderSpace = 4900;
constexpr uint16_t kHalfBit = 840;            // ID marks and 0-spaces, Manchester halves
constexpr uint16_t kFullBit = 2 * kHalfBit;   // ID 1-spaces, merged Manchester halves
constexpr uint16_t kPause = 2800;

// The space closing the ID as the analyzer expects it: the last ID space merged
// with the pause (4480 when the first Manchester half-bit is a mark).
constexpr uint16_t kIdClosingSpace = kFullBit + kPause;  // 4480

// An ID space below the split is short and carries a 1.
constexpr uint16_t kIdSplit = midpoint(kHalfBit, kFullBit);  // 1260
// A closing space longer than this holds the first half of bit 11: the bit is a 1.
constexpr uint16_t kBit11Silence = 4900;

constexpr uint16_t kKeyGapMs = 28;

}  // namespace codara::zivra
