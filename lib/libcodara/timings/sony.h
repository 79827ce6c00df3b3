// Sony (SIRC) timings, shared by the Sony analyzer and codec: 600 us units, a
// four-unit leader mark, marks of one (0) or two (1) units, one-unit spaces.
#pragma once
#include "libcodara/timings/timing.h"

namespace codara::sony {

constexpr uint16_t kUnit = 600;
constexpr uint16_t kLeaderMark = 4 * kUnit;  // 2400
constexpr uint16_t kSpace = kUnit;
constexpr uint16_t kZeroMark = kUnit;
constexpr uint16_t kOneMark = 2 * kUnit;     // 1200

// The analyzer scores a mark from the split on as a 1; the decoder reads a mark
// as a 1 only above it. A mark of exactly 900 us scores as a 1 and decodes as a 0.
constexpr uint16_t kMarkSplit = midpoint(kZeroMark, kOneMark);  // 900

constexpr uint16_t kKeyGapMs = 12;

}  // namespace codara::sony
