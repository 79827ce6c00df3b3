// Helpers of the per-protocol timing headers.
#pragma once
#include <cstdint>

namespace codara {

// Halfway between two nominal durations, rounded down: where an edge stops
// reading as the shorter one.
constexpr uint16_t midpoint(uint16_t shorter, uint16_t longer) {
  return static_cast<uint16_t>((shorter + longer) / 2);
}

}  // namespace codara
