// Panasonic (Kaseikyo) timings, shared by the Panasonic analyzer and codec.
#pragma once
#include "libcodara/timings/timing.h"

namespace codara::panasonic {

constexpr uint16_t kLeaderMark = 3600;
constexpr uint16_t kLeaderSpace = 1600;
constexpr uint16_t kBitMark = 445;
constexpr uint16_t kZeroSpace = 445;
constexpr uint16_t kOneSpace = 3 * kZeroSpace;  // 1335
constexpr uint16_t kClosingMark = 400;        // also what the analyzer scores every mark against

// The analyzer and the cleaned form take a space from the split on as a 1; the
// bit reader only from one microsecond later. A space of exactly 890 us is
// cleaned as long but read as a 0.
constexpr uint16_t kSpaceSplit = midpoint(kZeroSpace, kOneSpace);  // 890
constexpr uint16_t kOneSpaceMin = kSpaceSplit + 1;                 // bit reader

constexpr uint16_t kKeyGapMs = 70;

}  // namespace codara::panasonic
