// JVC timings, shared by the JVC analyzer and codec: a 527 us unit, a 16-unit leader
// mark and 8-unit leader space, one-unit marks, spaces of one (0) or three (1) units.
// A key held sends the 16 bits again without the leader.
#pragma once
#include "libcodara/timings/timing.h"

namespace codara::jvc {

constexpr uint16_t kUnit = 527;
constexpr uint16_t kLeaderMark = 16 * kUnit;  // 8432
constexpr uint16_t kLeaderSpace = 8 * kUnit;  // 4216
constexpr uint16_t kMark = kUnit;
constexpr uint16_t kZeroSpace = kUnit;
constexpr uint16_t kOneSpace = 3 * kUnit;     // 1581

constexpr uint16_t kLeaderSplit = midpoint(kMark, kLeaderMark);            // headerless repeat below
constexpr uint16_t kSpaceSplit = midpoint(kZeroSpace, kOneSpace);          // 1054
constexpr uint16_t kLeaderSpaceSplit = midpoint(kOneSpace, kLeaderSpace);  // 2898

constexpr int kBits = 16;
constexpr uint16_t kPeriodMs = 59;  // from one frame's start to the next
constexpr uint16_t kHashMaxEdge = 2100;

}  // namespace codara::jvc
