// Ortek timings, shared by the Ortek analyzer and codec: a 1920 us leader mark, then
// bi-phase bits of two 480 us halves.
#pragma once
#include "libcodara/timings/timing.h"

namespace codara::ortek {

constexpr uint16_t kUnit = 480;
constexpr uint16_t kLeaderMark = 4 * kUnit;  // 1920
constexpr uint16_t kShortEdge = kUnit;
constexpr uint16_t kLongEdge = 2 * kUnit;    // 960
constexpr uint16_t kSplit = midpoint(kShortEdge, kLongEdge);  // 720

// Repeat frames follow the previous capture within this window (ms).
constexpr uint16_t kRepeatWindowMin = 44;
constexpr uint16_t kRepeatWindowMax = 52;

constexpr uint16_t kGapMs = 48;
constexpr uint16_t kHashMaxEdge = 2400;

}  // namespace codara::ortek
