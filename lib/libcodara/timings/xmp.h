// XMP timings, shared by the XMP analyzer and decoder: every nibble is a 210 us
// mark and a space whose length carries the value; a long gap splits the halves.
#pragma once
#include <cstdint>

namespace codara::xmp {

constexpr uint16_t kMark = 210;
constexpr uint16_t kHalfGap = 13800;
// The decoder takes any space above this as the gap between the halves.
constexpr uint16_t kHalfGapMin = 10999;
// Mark plus space of a nibble: kNibbleBase + value * kNibbleStep.
constexpr int kNibbleBase = 835;
constexpr int kNibbleStep = 136;

constexpr int kFrameEdges = 36;  // no edge lies beyond the closing mark of a frame

}  // namespace codara::xmp
