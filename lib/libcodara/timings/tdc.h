// TDC timings, shared by the TDC analyzer and codec: bi-phase bits of two 315 us
// halves after a one-unit start mark and space.
#pragma once
#include "libcodara/timings/timing.h"

namespace codara::tdc {

constexpr uint16_t kUnit = 315;
constexpr uint16_t kShortEdge = kUnit;
constexpr uint16_t kLongEdge = 2 * kUnit;  // 630
constexpr uint16_t kSplit = midpoint(kShortEdge, kLongEdge);  // 472, scored as short

constexpr uint16_t kGapMs = 89;
constexpr uint16_t kHashMaxEdge = 2400;

}  // namespace codara::tdc
